#include "core/Vector.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>

namespace quarn {
namespace {

TEST(Vector, SafeSqrtOfANegativeNumberIsZero) {
    EXPECT_EQ(SafeSqrt(-1.0f), 0.0f);
    EXPECT_EQ(SafeSqrt(4.0f), 2.0f);
}

TEST(Vector, SafeAcosClampsRoundingOvershoot) {
    EXPECT_EQ(SafeAcos(1.0000001f), 0.0f);
    EXPECT_FLOAT_EQ(SafeAcos(-1.0000001f), std::numbers::pi_v<float>);
}

TEST(Vector, Int3ArithmeticWrapsInsteadOfOverflowing) {
    const Int3 big(INT32_MAX, INT32_MIN, 5);
    EXPECT_TRUE((big + Int3(1, -1, 2)).Equals(Int3(INT32_MIN, INT32_MAX, 7)));
    EXPECT_TRUE((-big).Equals(Int3(-INT32_MAX, INT32_MIN, -5)));
    Int3 value(INT32_MIN, 0, 3);
    value -= Int3(1, 1, 3);
    EXPECT_TRUE(value.Equals(Int3(INT32_MAX, -1, 0)));
}

TEST(Vector, Float3InequalityIsExact) {
    const Float3 a(1.0f, 2.0f, 3.0f);
    EXPECT_FALSE(a != Float3(1.0f, 2.0f, 3.0f));
    EXPECT_TRUE(a != Float3(1.0f, 2.0f, std::nextafter(3.0f, 4.0f)));
}

TEST(Vector, CrossFollowsTheRightHandRule) {
    const Float3 c = Float3(1, 2, 3).Cross(Float3(4, 5, 6));
    EXPECT_FALSE(c != Float3(-3, 6, -3));
    EXPECT_FALSE(Float3(1, 0, 0).Cross(Float3(0, 1, 0)) != Float3(0, 0, 1));
}

TEST(Vector, NormalizeLeavesAZeroVectorUnchanged) {
    Float3 zero;
    zero.Normalize();
    EXPECT_FALSE(zero != Float3());
    EXPECT_FALSE(Float3().NormalizedOrSelf() != Float3());
    Float2 flat;
    flat.Normalize();
    EXPECT_EQ(flat.x, 0.0f);
    EXPECT_EQ(flat.y, 0.0f);
    // Tiny is not zero.
    EXPECT_FLOAT_EQ(Float3(0.0f, 1e-15f, 0.0f).NormalizedOrSelf().y, 1.0f);
}

} // namespace
} // namespace quarn
