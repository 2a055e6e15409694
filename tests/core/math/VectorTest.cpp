#include "core/math/Vector.h"

#include "tests/support/MathExpectations.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>

namespace quarn {
namespace {

TEST(Vector, Int3ArithmeticWrapsInsteadOfOverflowing) {
    const Int3 big(INT32_MAX, INT32_MIN, 5);
    EXPECT_TRUE((big + Int3(1, -1, 2)).Equals(Int3(INT32_MIN, INT32_MAX, 7)));
    EXPECT_TRUE((-big).Equals(Int3(-INT32_MAX, INT32_MIN, -5)));
    Int3 value(INT32_MIN, 0, 3);
    value -= Int3(1, 1, 3);
    EXPECT_TRUE(value.Equals(Int3(INT32_MAX, -1, 0)));
}

TEST(Vector, ZeroVectorsStayZeroWhenNormalisedAndTinyOnesDoNot) {
    Float3 zero;
    zero.Normalize();
    EXPECT_FALSE(zero != Float3());
    EXPECT_FALSE(Float3().NormalizedOrSelf() != Float3());
    // Tiny is not zero.
    EXPECT_FLOAT_EQ(Float3(0.0f, 1e-15f, 0.0f).NormalizedOrSelf().y, 1.0f);
}

void ExpectUnitPerpendicular(const Float3& v, const Float3& p) {
    EXPECT_NEAR(p.Length(), 1.0f, 1e-6f);
    EXPECT_NEAR(p.Dot(v), 0.0f, 1e-6f);
}

TEST(Vector, PerpendicularsAndPlaneFramesAreUnitAndRightAngledEvenForDegenerateInput) {
    // Short vectors along x have no y or z to build from and still get an answer.
    for (const Float3& v :
         {Float3(1, 0, 0), Float3(0, 1, 0), Float3(0, 0, 1), Float3(0.6f, 0.0f, 0.8f),
          Float3(0.95f, 0.1f, 0.0f), Float3(0.5f, 0, 0)}) {
        ExpectUnitPerpendicular(v, v.AnyPerpendicular());
    }
    EXPECT_FALSE(Float3().AnyPerpendicular() != Float3());
    Float3 p;
    Float3 q;
    for (const Float3& n : {Float3(0, 0, 1), Float3(0, 0, -1), Float3(1, 0, 0),
                            Float3(0.48f, 0.6f, 0.64f), Float3(0.6f, 0.0f, -0.8f)}) {
        PlaneSpace(n, p, q);
        ExpectUnitPerpendicular(n, p);
        ExpectUnitPerpendicular(n, q);
        EXPECT_NEAR(p.Dot(q), 0.0f, 1e-6f);
        test::ExpectNear(p.Cross(q), n, 1e-6f);
    }
    // A zero normal has no frame but still gets a finite one.
    PlaneSpace(Float3(), p, q);
    EXPECT_FALSE(p != Float3(1, 0, 0) || q != Float3(0, 1, 0));
}

} // namespace
} // namespace quarn
