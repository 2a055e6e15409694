#include "core/math/Matrix4.h"

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

Float3 Matrix4::TransformCoord(const Float3& v) const {
    const Float4 r = Float4Transform(Float4(v.x, v.y, v.z, 1.0f), *this);
    if (r.w == 0.0f) {
        return {r.x, r.y, r.z};
    }
    return {r.x / r.w, r.y / r.w, r.z / r.w};
}

void Matrix4::TransposeInPlace() {
    for (int row = 0; row < 4; ++row) {
        for (int col = row + 1; col < 4; ++col) {
            const float value = At(row, col);
            At(row, col) = At(col, row);
            At(col, row) = value;
        }
    }
}

float Matrix4::Invert(Matrix4& out) const {
    const float* a = m;
    // 2x2 minors of the upper and lower row pairs, shared by the cofactors.
    const float s0 = a[0] * a[5] - a[4] * a[1];
    const float s1 = a[0] * a[6] - a[4] * a[2];
    const float s2 = a[0] * a[7] - a[4] * a[3];
    const float s3 = a[1] * a[6] - a[5] * a[2];
    const float s4 = a[1] * a[7] - a[5] * a[3];
    const float s5 = a[2] * a[7] - a[6] * a[3];
    const float c5 = a[10] * a[15] - a[14] * a[11];
    const float c4 = a[9] * a[15] - a[13] * a[11];
    const float c3 = a[9] * a[14] - a[13] * a[10];
    const float c2 = a[8] * a[15] - a[12] * a[11];
    const float c1 = a[8] * a[14] - a[12] * a[10];
    const float c0 = a[8] * a[13] - a[12] * a[9];

    Matrix4 r;
    float* b = r.m;
    b[0] = a[5] * c5 - a[6] * c4 + a[7] * c3;
    b[1] = -a[1] * c5 + a[2] * c4 - a[3] * c3;
    b[2] = a[13] * s5 - a[14] * s4 + a[15] * s3;
    b[3] = -a[9] * s5 + a[10] * s4 - a[11] * s3;
    b[4] = -a[4] * c5 + a[6] * c2 - a[7] * c1;
    b[5] = a[0] * c5 - a[2] * c2 + a[3] * c1;
    b[6] = -a[12] * s5 + a[14] * s2 - a[15] * s1;
    b[7] = a[8] * s5 - a[10] * s2 + a[11] * s1;
    b[8] = a[4] * c4 - a[5] * c2 + a[7] * c0;
    b[9] = -a[0] * c4 + a[1] * c2 - a[3] * c0;
    b[10] = a[12] * s4 - a[13] * s2 + a[15] * s0;
    b[11] = -a[8] * s4 + a[9] * s2 - a[11] * s0;
    b[12] = -a[4] * c3 + a[5] * c1 - a[6] * c0;
    b[13] = a[0] * c3 - a[1] * c1 + a[2] * c0;
    b[14] = -a[12] * s3 + a[13] * s1 - a[14] * s0;
    b[15] = a[8] * s3 - a[9] * s1 + a[10] * s0;

    const float determinant = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
    if (determinant != 0.0f) {
        for (float& value : r.m) {
            value /= determinant;
        }
    }
    out = r;
    return determinant;
}

Matrix4 Matrix4::Inverted() const {
    Matrix4 result;
    if (Invert(result) == 0.0f) {
        for (float& value : result.m) {
            value = 0.0f;
        }
    }
    return result;
}

Float4 Float4Transform(const Float4& v, const Matrix4& matrix) {
    Float4 result;
    float* out[4] = {&result.x, &result.y, &result.z, &result.w};
    for (int col = 0; col < 4; ++col) {
        *out[col] = v.x * matrix.At(0, col) + v.y * matrix.At(1, col) + v.z * matrix.At(2, col) +
                    v.w * matrix.At(3, col);
    }
    return result;
}

} // namespace quarn
