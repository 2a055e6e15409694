#include "core/math/Quaternion.h"

#include <cmath>

namespace quarn {

namespace {

constexpr float PiFloat = 3.14159265358979323846f;

// The argument of asin: rounding can carry it just past 1, where asin gives NaN.
float ClampUnit(float value) {
    return value > 1.0f ? 1.0f : (value < -1.0f ? -1.0f : value);
}

} // namespace

Quaternion Quaternion::FromAxisAngle(float angle, const Float3& unitAxis) {
    const float half = -angle * 0.5f;
    const float sine = std::sin(half);
    return {unitAxis.x * sine, unitAxis.y * sine, unitAxis.z * sine, std::cos(half)};
}

Quaternion Quaternion::operator*(const Quaternion& o) const {
    return {w * o.x + x * o.w + y * o.z - z * o.y, w * o.y - x * o.z + y * o.w + z * o.x,
            w * o.z + x * o.y - y * o.x + z * o.w, w * o.w - x * o.x - y * o.y - z * o.z};
}

Float3 Quaternion::RotateVector(const Float3& v) const {
    const Quaternion conjugate(-x, -y, -z, w);
    const Quaternion rotated = conjugate * Quaternion(v.x, v.y, v.z, 0.0f) * *this;
    return {rotated.x, rotated.y, rotated.z};
}

void Quaternion::ToMatrix(Matrix4& matrix) const {
    const float xx = x * x;
    const float yy = y * y;
    const float zz = z * z;
    const float ww = w * w;
    matrix.At(0, 0) = xx + ww - yy - zz;
    matrix.At(0, 1) = 2.0f * x * y - 2.0f * w * z;
    matrix.At(0, 2) = 2.0f * x * z + 2.0f * w * y;
    matrix.At(1, 0) = 2.0f * x * y + 2.0f * w * z;
    matrix.At(1, 1) = yy + ww - xx - zz;
    matrix.At(1, 2) = 2.0f * y * z - 2.0f * w * x;
    matrix.At(2, 0) = 2.0f * x * z - 2.0f * w * y;
    matrix.At(2, 1) = 2.0f * y * z + 2.0f * w * x;
    matrix.At(2, 2) = ww - xx - yy + zz;
}

Quaternion Quaternion::FromMatrix(const Matrix4& matrix) {
    const float m00 = matrix.At(0, 0);
    const float m01 = matrix.At(0, 1);
    const float m02 = matrix.At(0, 2);
    const float m10 = matrix.At(1, 0);
    const float m11 = matrix.At(1, 1);
    const float m12 = matrix.At(1, 2);
    const float m20 = matrix.At(2, 0);
    const float m21 = matrix.At(2, 1);
    const float m22 = matrix.At(2, 2);

    const float trace = m00 + m11 + m22;
    if (trace > 0.0f) {
        const float s = std::sqrt(trace + 1.0f);
        const float f = 0.5f / s;
        return {(m21 - m12) * f, (m02 - m20) * f, (m10 - m01) * f, s * 0.5f};
    }
    // Build from the largest diagonal element so that s stays well away from 0. A matrix that
    // is not a rotation can still drive the root's argument negative: SafeSqrt gives s = 0 and
    // f = 0 then keeps the result finite.
    Quaternion q;
    if (m00 > m11 && m00 > m22) {
        const float s = SafeSqrt(m00 - m11 - m22 + 1.0f);
        const float f = s == 0.0f ? 0.0f : 0.5f / s;
        q.x = s * 0.5f;
        q.w = (m21 - m12) * f;
        q.y = (m10 + m01) * f;
        q.z = (m20 + m02) * f;
    } else if (m22 >= m11) {
        const float s = SafeSqrt(m22 - m00 - m11 + 1.0f);
        const float f = s == 0.0f ? 0.0f : 0.5f / s;
        q.z = s * 0.5f;
        q.w = (m10 - m01) * f;
        q.x = (m20 + m02) * f;
        q.y = (m21 + m12) * f;
    } else {
        const float s = SafeSqrt(m11 - m22 - m00 + 1.0f);
        const float f = s == 0.0f ? 0.0f : 0.5f / s;
        q.y = s * 0.5f;
        q.w = (m02 - m20) * f;
        q.z = (m21 + m12) * f;
        q.x = (m10 + m01) * f;
    }
    return q;
}

Quaternion Quaternion::FromEuler(Float3 radians) {
    const float cx = std::cos(radians.x * 0.5f);
    const float sx = std::sin(radians.x * 0.5f);
    const float cy = std::cos(radians.y * 0.5f);
    const float sy = std::sin(radians.y * 0.5f);
    const float cz = std::cos(radians.z * 0.5f);
    const float sz = std::sin(radians.z * 0.5f);
    return {sx * cy * cz - cx * sy * sz, cx * sy * cz + sx * cy * sz, cx * cy * sz - sx * sy * cz,
            cx * cy * cz + sx * sy * sz};
}

Float3 Quaternion::ToEuler() const {
    // The pole constant is pi/2 rounded to a float; texts written from it depend on the value.
    constexpr float HalfPi = 1.5707963705062866f;
    const float t = 2.0f * (x * z - w * y);
    if (std::fabs(t) > 0.999999f) {
        const float pole = -t > 0.0f ? HalfPi : -HalfPi;
        return {0.0f, pole, std::atan2(2.0f * (w * z - x * y), -2.0f * t * (w * y + x * z))};
    }
    const float ww = w * w;
    const float xx = x * x;
    const float yy = y * y;
    const float zz = z * z;
    return {std::atan2(2.0f * (w * x + y * z), ww - xx - yy + zz), std::asin(ClampUnit(-t)),
            std::atan2(2.0f * (x * y + w * z), ww + xx - yy - zz)};
}

Quaternion Quaternion::Slerp(const Quaternion& a, Quaternion b, float t) {
    float d = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
    if (d < 0.0f) {
        b = {-b.x, -b.y, -b.z, -b.w};
        d = -d;
    }
    float wa = 1.0f - t;
    float wb = t;
    if (d < 0.9999f) {
        const float angle = SafeAcos(d);
        const float sine = std::sin(angle);
        wa = std::sin((1.0f - t) * angle) / sine;
        wb = std::sin(t * angle) / sine;
    }
    return {a.x * wa + b.x * wb, a.y * wa + b.y * wb, a.z * wa + b.z * wb, a.w * wa + b.w * wb};
}

float Quaternion::ToAxisAngle(Float3& axis) const {
    if (w >= 1.0f || w <= -1.0f) {
        axis = {1.0f, 0.0f, 0.0f};
        return 0.0f;
    }
    const float root = std::sqrt(1.0f - w * w);
    axis = {-x / root, -y / root, -z / root};
    return 2.0f * SafeAcos(w);
}

void Quaternion::Normalize() {
    // Summed in float on purpose: the window below is tuned to float rounding.
    const float norm = x * x + y * y + z * z + w * w;
    // A zero quaternion has no direction to keep; scaling it would only produce NaN.
    if ((norm >= 0.9999f && norm <= 1.0001f) || norm == 0.0f) {
        return;
    }
    const float scale = 1.0f / std::sqrt(norm);
    x *= scale;
    y *= scale;
    z *= scale;
    w *= scale;
}

Quaternion Quaternion::RotationFromZ(Float3 direction) {
    direction.Normalize();
    if (direction.z >= 0.999999f) {
        return {};
    }
    if (direction.z < -0.99999f) {
        // Any axis in the XY plane would do; the engine has always used Y.
        return FromAxisAngle(PiFloat, Float3(0.0f, 1.0f, 0.0f));
    }
    Float3 axis(-direction.y, direction.x, 0.0f);
    if (axis.LengthSquared() == 0.0f) {
        // Only a zero direction gets here: it names no rotation.
        return {};
    }
    axis.Normalize();
    return FromAxisAngle(SafeAcos(direction.z), axis);
}

} // namespace quarn
