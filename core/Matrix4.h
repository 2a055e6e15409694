#pragma once

#include "core/Vector.h"

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
    void Multiply(const Matrix4& other, Matrix4& out) const;
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
};

static_assert(sizeof(Matrix4) == 64);

} // namespace quarn
