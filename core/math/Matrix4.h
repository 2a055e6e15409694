#pragma once

#include "core/math/Vector.h"

#include <cassert>

namespace quarn {

// Row-major 4x4 matrix for row vectors multiplied from the left: v' = v * M. Rows 0 to 2 are the
// transformed X, Y and Z axes and row 3 is the translation, so A * B applies A first, then B.
struct Matrix4 {
    // Identity by default, so a matrix is never read uninitialised.
    float m[16] = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f,
                   0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};

    float& At(int row, int col) {
        assert(row >= 0 && row < 4 && col >= 0 && col < 4);
        return m[row * 4 + col];
    }
    float At(int row, int col) const {
        assert(row >= 0 && row < 4 && col >= 0 && col < 4);
        return m[row * 4 + col];
    }

    void SetIdentity();
    // Replaces the whole matrix: identity rotation, translation row (t, 1).
    void SetTranslation(const Float3& translation);

    // out = this * other; out may be this or other.
    void Multiply(const Matrix4& other, Matrix4& out) const {
        // Accumulate in a temporary so that a.Multiply(b, a) and a.Multiply(a, a) are safe.
        Matrix4 result;
        for (int row = 0; row < 4; ++row) {
            for (int col = 0; col < 4; ++col) {
                result.At(row, col) = At(row, 0) * other.At(0, col) +
                                      At(row, 1) * other.At(1, col) +
                                      At(row, 2) * other.At(2, col) + At(row, 3) * other.At(3, col);
            }
        }
        out = result;
    }
    Matrix4& operator*=(const Matrix4& other);

    // Takes the 3x3 rotation from three rows of four floats; the fourth float of each row is
    // padding in the physics layout and is ignored, so the result stays affine.
    void FromMatrix3x4(const float (&rows)[3][4]);

    Float4 GetRow(int row) const;

    // Write only the 3x3 part of out; its fourth row and column keep their values. out may be
    // this matrix.
    Matrix4& CopyRotation(Matrix4& out) const;
    Matrix4& TransposeRotation(Matrix4& out) const;

    // v * the 3x3 part: directions and normals, no translation.
    Float3 TransformNormal(const Float3& v) const;
    // v * the transposed 3x3 part: the inverse rotation when the 3x3 part is orthonormal.
    Float3 RotateByTranspose(const Float3& v) const;
    // (v, 1) * the whole matrix, divided by the resulting w: points through a projection. A w of
    // 0 (a point on the eye plane, or any point through the zero matrix that Inverted gives for a
    // singular one) skips the divide, so the result stays finite instead of NaN.
    Float3 TransformCoord(const Float3& v) const;

    void TransposeInPlace();

    // Writes the adjugate divided by the determinant into out (which may be this) and answers
    // the determinant. When it is 0, out holds the undivided adjugate and must not be used.
    float Invert(Matrix4& out) const;
    // The inverse, or the all-zero matrix when this one is singular: a zero-scaled transform then
    // maps every point to the origin instead of to NaN.
    Matrix4 Inverted() const;
};

// The row vector v times the whole matrix, all four components.
Float4 Float4Transform(const Float4& v, const Matrix4& matrix);
// Free-function form of Matrix4::TransformNormal, the spelling the render and physics code use.
inline Float3 Float3TransformNormal(const Float3& v, const Matrix4& matrix) {
    return matrix.TransformNormal(v);
}

static_assert(sizeof(Matrix4) == 64);

} // namespace quarn
