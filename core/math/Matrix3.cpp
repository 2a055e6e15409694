#include "core/math/Matrix3.h"

#include <cmath>

namespace quarn {

Matrix3 Matrix3::Zero() {
    Matrix3 zero;
    zero.m[0][0] = zero.m[1][1] = zero.m[2][2] = 0.0f;
    return zero;
}

Matrix3 Matrix3::FromRows(const float (&rows)[3][4]) {
    Matrix3 out;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            out.m[i][j] = rows[i][j];
        }
        out.m[i][3] = 0.0f;
    }
    return out;
}

Matrix3 Matrix3::RotationOf(const Matrix4& matrix) {
    Matrix3 out;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            out.m[i][j] = matrix.At(i, j);
        }
    }
    return out;
}

Matrix3 Matrix3::Transposed() const {
    Matrix3 out;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            out.m[i][j] = m[j][i];
        }
    }
    return out;
}

Float3 Matrix3::TransformRow(const Float3& v) const {
    return {v.x * m[0][0] + v.y * m[1][0] + v.z * m[2][0],
            v.x * m[0][1] + v.y * m[1][1] + v.z * m[2][1],
            v.x * m[0][2] + v.y * m[1][2] + v.z * m[2][2]};
}

Float3 Matrix3::RotateByTranspose(const Float3& v) const {
    return {m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z,
            m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
            m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
}

bool Matrix3::Invert() {
    const float (&a)[3][4] = m;
    float adj[3][3];
    adj[0][0] = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    adj[0][1] = a[0][2] * a[2][1] - a[0][1] * a[2][2];
    adj[0][2] = a[0][1] * a[1][2] - a[0][2] * a[1][1];
    adj[1][0] = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    adj[1][1] = a[0][0] * a[2][2] - a[0][2] * a[2][0];
    adj[1][2] = a[0][2] * a[1][0] - a[0][0] * a[1][2];
    adj[2][0] = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    adj[2][1] = a[0][1] * a[2][0] - a[0][0] * a[2][1];
    adj[2][2] = a[0][0] * a[1][1] - a[0][1] * a[1][0];
    const float det = a[0][0] * adj[0][0] + a[0][1] * adj[1][0] + a[0][2] * adj[2][0];
    const float inverseDet = 1.0f / det;
    if (det == 0.0f || !std::isfinite(det) || !std::isfinite(inverseDet)) {
        *this = Zero();
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            m[i][j] = adj[i][j] * inverseDet;
        }
        m[i][3] = 0.0f;
    }
    return true;
}

} // namespace quarn
