#pragma once

#include "core/math/Quaternion.h"
#include "core/math/Vector.h"

#include <gtest/gtest.h>

namespace quarn::test {

inline void ExpectNear(const Float3& actual, const Float3& expected, float tolerance = 1e-5f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

// q and -q are the same rotation.
inline void ExpectSameRotation(const Quaternion& actual, const Quaternion& expected,
                               float tolerance = 1e-5f) {
    const float dot = actual.x * expected.x + actual.y * expected.y + actual.z * expected.z +
                      actual.w * expected.w;
    const float sign = dot < 0.0f ? -1.0f : 1.0f;
    EXPECT_NEAR(actual.x, sign * expected.x, tolerance);
    EXPECT_NEAR(actual.y, sign * expected.y, tolerance);
    EXPECT_NEAR(actual.z, sign * expected.z, tolerance);
    EXPECT_NEAR(actual.w, sign * expected.w, tolerance);
}

} // namespace quarn::test
