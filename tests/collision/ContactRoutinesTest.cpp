#include "collision/ContactRoutines.h"

#include "tests/support/MathExpectations.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

namespace quarn {
namespace {

float Distance(const Float3& a, const Float3& b) {
    return (a - b).Length();
}

// The closest distance of two segments by dense sampling of both.
float SampledSegmentDistance(const Float3& a1, const Float3& a2, const Float3& b1,
                             const Float3& b2) {
    constexpr int Steps = 400;
    float best = 3.4e38f;
    for (int i = 0; i <= Steps; ++i) {
        const Float3 p = a1 + (a2 - a1) * (static_cast<float>(i) / Steps);
        // Along b the nearest point to p is a clamped projection: exact per sample of a.
        const Float3 v = b2 - b1;
        float t = v.LengthSquared() > 0.0f ? (p - b1).Dot(v) / v.LengthSquared() : 0.0f;
        t = std::fmin(1.0f, std::fmax(0.0f, t));
        best = std::fmin(best, Distance(p, b1 + v * t));
    }
    return best;
}

TEST(ContactRoutines, ClosestSegmentPointsMatchDenseSampling) {
    std::mt19937 random(47);
    std::uniform_real_distribution<float> coordinate(-3.0f, 3.0f);
    auto point = [&] { return Float3(coordinate(random), coordinate(random), coordinate(random)); };
    for (int round = 0; round < 600; ++round) {
        Float3 a1 = point(), a2 = point(), b1 = point(), b2 = point();
        switch (round % 6) {
        case 1: // a degenerate
            a2 = a1;
            break;
        case 2: // b degenerate
            b2 = b1;
            break;
        case 3: // parallel
            b2 = b1 + (a2 - a1) * 0.7f;
            break;
        case 4: // parallel and level
            b1 = a1 + Float3(0, 1, 0);
            b2 = a2 + Float3(0, 1, 0);
            break;
        default:
            break;
        }
        Float3 c1, c2;
        ClosestSegmentPoints(a1, a2, b1, b2, c1, c2);
        SCOPED_TRACE(round);
        ASSERT_TRUE(std::isfinite(c1.x + c1.y + c1.z + c2.x + c2.y + c2.z));
        // Both points lie on their segments.
        EXPECT_NEAR(Distance(a1, c1) + Distance(c1, a2), Distance(a1, a2), 1e-3f);
        EXPECT_NEAR(Distance(b1, c2) + Distance(c2, b2), Distance(b1, b2), 1e-3f);
        EXPECT_NEAR(Distance(c1, c2), SampledSegmentDistance(a1, a2, b1, b2), 2e-2f);
    }
}

TEST(ContactRoutines, LineCylinderCrossingAndClosestLineParametersMatchTheAnalyticValues) {
    // A cylinder of radius 2 about the Y axis through (1, 0, 0); a line along X through z = 1
    // crosses it at x = 1 -+ sqrt(3).
    float t[2] = {};
    ASSERT_EQ(LineCylinderCrossing(Float3(1, 0, 0), Float3(0, 1, 0), 2.0f, Float3(0, 5, 1),
                                   Float3(1, 0, 0), t),
              2);
    EXPECT_NEAR(t[0], 1.0f - std::sqrt(3.0f), 1e-5f);
    EXPECT_NEAR(t[1], 1.0f + std::sqrt(3.0f), 1e-5f);
    // Touching the side: one parameter; passing by: none; along the axis: none.
    ASSERT_EQ(LineCylinderCrossing(Float3(1, 0, 0), Float3(0, 1, 0), 2.0f, Float3(0, 0, 2),
                                   Float3(1, 0, 0), t),
              1);
    EXPECT_NEAR(t[0], 1.0f, 1e-5f);
    EXPECT_EQ(LineCylinderCrossing(Float3(1, 0, 0), Float3(0, 1, 0), 2.0f, Float3(0, 0, 3),
                                   Float3(1, 0, 0), t),
              0);
    EXPECT_EQ(LineCylinderCrossing(Float3(1, 0, 0), Float3(0, 1, 0), 2.0f, Float3(1, 0, 0),
                                   Float3(0, 1, 0), t),
              0);
    // A line without direction has no crossing rather than a parameter of 0 / 0.
    EXPECT_EQ(
        LineCylinderCrossing(Float3(1, 0, 0), Float3(0, 1, 0), 2.0f, Float3(0, 0, 2), Float3(), t),
        0);

    // Lines x = 0 along Z at y = 1 and along X at y = 3, z = 2: closest at s = 2, t = 0 from
    // b0 = (5, 3, 2) going -5 along X.
    float s = 1.0f, u = 1.0f;
    ClosestLineParameters(Float3(0, 1, 0), Float3(0, 0, 1), Float3(5, 3, 2), Float3(1, 0, 0), s, u);
    EXPECT_NEAR(s, 2.0f, 1e-5f);
    EXPECT_NEAR(u, -5.0f, 1e-5f);
    ClosestLineParameters(Float3(), Float3(1, 0, 0), Float3(0, 1, 0), Float3(1, 0, 0), s, u);
    EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(u, 0.0f);
}

} // namespace
} // namespace quarn
