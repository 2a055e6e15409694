#include "core/math/Vector.h"

#include <algorithm>
#include <cmath>

namespace quarn {

float SafeSqrt(float value) {
    return value < 0.0f ? 0.0f : std::sqrt(value);
}

float SafeAcos(float value) {
    return std::acos(std::clamp(value, -1.0f, 1.0f));
}

void Float2::Normalize() {
    const float length = std::sqrt(x * x + y * y);
    if (length == 0.0f) {
        return;
    }
    x /= length;
    y /= length;
}

Float2 Float2::Normalized() const {
    Float2 result = *this;
    result.Normalize();
    return result;
}

void Float3::Normalize() {
    const float length = Length();
    if (length == 0.0f) {
        return;
    }
    x /= length;
    y /= length;
    z /= length;
}

Float3 Float3::NormalizedOrSelf() const {
    Float3 result = *this;
    result.Normalize();
    return result;
}

Float3 Float3::AnyPerpendicular() const {
    const float yz = y * y + z * z;
    // The second rule needs y or z; without them (x alone, or a short vector) the first rule is
    // the perpendicular, where the plain threshold on |x| would divide 0 by 0.
    if (std::fabs(x) >= 0.9f || yz == 0.0f) {
        const float length = std::sqrt(x * x + z * z);
        if (length == 0.0f) {
            return {};
        }
        return {-z / length, 0.0f, x / length};
    }
    const float length = std::sqrt(yz);
    return {0.0f, z / length, -y / length};
}

void PlaneSpace(const Float3& n, Float3& p, Float3& q) {
    if (std::fabs(n.z) > 0.7071f) {
        const float a = n.y * n.y + n.z * n.z;
        const float k = 1.0f / std::sqrt(a);
        p = {0.0f, -n.z * k, n.y * k};
        q = {a * k, -n.x * p.z, n.x * p.y};
        return;
    }
    const float a = n.x * n.x + n.y * n.y;
    if (a == 0.0f) {
        p = {1.0f, 0.0f, 0.0f};
        q = {0.0f, 1.0f, 0.0f};
        return;
    }
    const float k = 1.0f / std::sqrt(a);
    p = {-n.y * k, n.x * k, 0.0f};
    q = {-n.z * p.y, n.z * p.x, a * k};
}

} // namespace quarn
