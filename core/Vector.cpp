#include "core/Vector.h"

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

float Float3::Length() const {
    return std::sqrt(LengthSquared());
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

} // namespace quarn
