#include "core/Matrix4.h"

namespace quarn {

void Matrix4::SetIdentity() {
    *this = Matrix4();
}

void Matrix4::SetTranslation(const Float3& translation) {
    SetIdentity();
    At(3, 0) = translation.x;
    At(3, 1) = translation.y;
    At(3, 2) = translation.z;
}

void Matrix4::Multiply(const Matrix4& other, Matrix4& out) const {
    // Accumulate in a temporary so that a.Multiply(b, a) and a.Multiply(a, a) are safe.
    Matrix4 result;
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) {
            result.At(row, col) = At(row, 0) * other.At(0, col) + At(row, 1) * other.At(1, col) +
                                  At(row, 2) * other.At(2, col) + At(row, 3) * other.At(3, col);
        }
    }
    out = result;
}

Matrix4& Matrix4::operator*=(const Matrix4& other) {
    Multiply(other, *this);
    return *this;
}

void Matrix4::FromMatrix3x4(const float (&rows)[3][4]) {
    SetIdentity();
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            At(row, col) = rows[row][col];
        }
    }
}

Float4 Matrix4::GetRow(int row) const {
    return {At(row, 0), At(row, 1), At(row, 2), At(row, 3)};
}

Matrix4& Matrix4::CopyRotation(Matrix4& out) const {
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            out.At(row, col) = At(row, col);
        }
    }
    return out;
}

Matrix4& Matrix4::TransposeRotation(Matrix4& out) const {
    const Matrix4 source = *this;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            out.At(row, col) = source.At(col, row);
        }
    }
    return out;
}

Float3 Matrix4::TransformNormal(const Float3& v) const {
    return {v.x * At(0, 0) + v.y * At(1, 0) + v.z * At(2, 0),
            v.x * At(0, 1) + v.y * At(1, 1) + v.z * At(2, 1),
            v.x * At(0, 2) + v.y * At(1, 2) + v.z * At(2, 2)};
}

Float3 Matrix4::RotateByTranspose(const Float3& v) const {
    return {v.x * At(0, 0) + v.y * At(0, 1) + v.z * At(0, 2),
            v.x * At(1, 0) + v.y * At(1, 1) + v.z * At(1, 2),
            v.x * At(2, 0) + v.y * At(2, 1) + v.z * At(2, 2)};
}

} // namespace quarn
