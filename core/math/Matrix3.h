#pragma once

#include "core/math/Matrix4.h"
#include "core/math/Vector.h"

#include <cmath>

namespace quarn {

// The physics' 3x3 matrix: three rows of four floats, the fourth of each row padding, so that a
// row loads as one aligned quadruple and the layout matches the rotation part the bodies keep.
struct Matrix3 {
    // Identity by default, so a matrix is never read uninitialised.
    float m[3][4] = {{1.0f, 0.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 1.0f, 0.0f}};

    static Matrix3 Zero();
    static Matrix3 FromRows(const float (&rows)[3][4]);
    // The 3x3 part of a world matrix: its rows are the node's axes, scale included.
    static Matrix3 RotationOf(const Matrix4& matrix);

    Matrix3 Transposed() const;
    // The row vector v times the matrix.
    Float3 TransformRow(const Float3& v) const;

    // Component i is row i . v: the inverse rotation of v when the matrix is orthonormal.
    Float3 RotateByTranspose(const Float3& v) const;
    // The column vector product M v (the same as RotateByTranspose, named for tensors).
    Float3 Transform(const Float3& v) const { return RotateByTranspose(v); }

    // out = this x other; out may be this matrix.
    void Multiply(Matrix3 other, Matrix3& out) const {
        const Matrix3 a = *this;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                out.m[i][j] = a.m[i][0] * other.m[0][j] + a.m[i][1] * other.m[1][j] +
                              a.m[i][2] * other.m[2][j];
            }
            out.m[i][3] = 0.0f;
        }
    }
    // Inverts in place through the adjugate. A determinant of 0 or one that is not finite has no
    // inverse: the matrix becomes zero, which for an inertia tensor means no rotational response
    // rather than an adjugate of the wrong units. Answers whether an inverse existed.
    bool Invert();
    bool IsFinite() const {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                if (!std::isfinite(m[i][j])) {
                    return false;
                }
            }
        }
        return true;
    }
    // Whether every row is of length 1 (its square within 1e-4): axes that carry no scale.
    bool HasUnitRows() const {
        for (const auto& row : m) {
            const float lengthSquared = row[0] * row[0] + row[1] * row[1] + row[2] * row[2];
            if (std::fabs(lengthSquared - 1.0f) > 1e-4f) {
                return false;
            }
        }
        return true;
    }
    // Whether the matrix is a multiple of the identity, exactly: a tensor no turn changes.
    bool IsScaledIdentity() const {
        return m[0][1] == 0.0f && m[0][2] == 0.0f && m[1][0] == 0.0f && m[1][2] == 0.0f &&
               m[2][0] == 0.0f && m[2][1] == 0.0f && m[0][0] == m[1][1] && m[1][1] == m[2][2];
    }
};

static_assert(sizeof(Matrix3) == 48);

} // namespace quarn
