#include "core/math/Intersection.h"

#include "tests/support/MathExpectations.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace quarn {
namespace {

constexpr float PiFloat = std::numbers::pi_v<float>;

TEST(Intersection, SignedAngleIsCounterClockwiseAndSurvivesRoundingAndZeroVectors) {
    EXPECT_FLOAT_EQ(SignedAngle2D(Float2(2, 0), Float2(0, 3)), PiFloat / 2.0f);
    EXPECT_FLOAT_EQ(SignedAngle2D(Float2(0, 3), Float2(2, 0)), -PiFloat / 2.0f);
    EXPECT_FLOAT_EQ(SignedAngle2D(Float2(1, 0), Float2(-1, 0)), PiFloat);
    // Normalised, (2.5, 0.7) dotted with itself rounds to just above 1.
    EXPECT_EQ(SignedAngle2D(Float2(2.5f, 0.7f), Float2(2.5f, 0.7f)), 0.0f);
    EXPECT_FLOAT_EQ(SignedAngle2D(Float2(), Float2(1, 1)), PiFloat / 2.0f);
}

// A triangle in the plane z = 0 whose right-handed normal is +Z.
const Float3 C0(0, 0, 0);
const Float3 C1(1, 0, 0);
const Float3 C2(0, 1, 0);

TEST(Intersection, TwoSidedRayTriangleReportsTheSideAndAMissLeavesItAlone) {
    bool side = false;
    EXPECT_FLOAT_EQ(RayTriangleHit(Float3(0.25f, 0.25f, 2), Float3(0, 0, -1), C0, C1, C2, &side),
                    2.0f);
    EXPECT_TRUE(side);
    EXPECT_FLOAT_EQ(RayTriangleHit(Float3(0.25f, 0.25f, -1), Float3(0, 0, 1), C0, C1, C2, &side),
                    1.0f);
    EXPECT_FALSE(side);
    side = true;
    EXPECT_EQ(RayTriangleHit(Float3(2, 2, 1), Float3(0, 0, -1), C0, C1, C2, &side), NoHit);
    EXPECT_TRUE(side);
}

// An independent answer: the nearest of 200000 points spread evenly in angle around the ellipse
// (a cos u, b sin u); near the minimum the error is quadratic in the step, far below 1e-6.
double BruteForceEllipseDistance(double a, double b, double x, double y) {
    double best = INFINITY;
    for (int i = 0; i < 200000; ++i) {
        const double u = 2.0 * std::numbers::pi * i / 200000;
        best = std::min(best, std::hypot(a * std::cos(u) - x, b * std::sin(u) - y));
    }
    return best;
}

TEST(Intersection, EllipseWithAZeroAxisIsASegmentAndPointsOnAnAxisUseTheClosedForm) {
    const struct {
        float a, b, x, y, distance, closestX, closestY;
    } cases[] = {
        {0, 2, 3, 5, std::hypot(3.0f, 3.0f), 0, 2},
        {2, 0, 1, -4, 4, 1, 0},
        {1e-4f, -2, 0.5f, -3, NAN, 0, -2}, // 20000 times thinner than long counts as flat
        // Inside a tall ellipse the nearest point leaves the axis.
        {1, 2, 0, 0.5f, float(BruteForceEllipseDistance(1, 2, 0, 0.5)), std::sqrt(8.0f / 9.0f),
         2.0f / 3.0f},
        {1, 2, 0, -1.8f, 0.2f, 0, -2},
        {1, 2, 0.5f, 0, 0.5f, 1, 0},
    };
    for (const auto& c : cases) {
        Float2 closest;
        const float d = DistancePointEllipse2D(c.a, c.b, c.x, c.y, closest);
        if (!std::isnan(c.distance)) {
            EXPECT_NEAR(d, c.distance, 2e-6f) << c.a << " " << c.b << " " << c.x << " " << c.y;
        }
        EXPECT_FLOAT_EQ(closest.x, c.closestX) << c.a << " " << c.b << " " << c.x << " " << c.y;
        EXPECT_FLOAT_EQ(closest.y, c.closestY) << c.a << " " << c.b << " " << c.x << " " << c.y;
    }
}

TEST(Intersection, RaySphereHitsTheNearSideAtZeroFromInsideOrMisses) {
    const struct {
        const char* name;
        Float3 origin, direction, centre;
        float t;
        Float3 normal;
    } cases[] = {
        {"inside", {1, 2, 2.5f}, {0, 0, 1}, {1, 2, 3}, 0.0f, {0, 0, -1}},
        {"at the centre: no normal", {}, {1, 0, 0}, {}, 0.0f, {}},
        {"outside", {0, 0, -5}, {0, 0, 2}, {}, 2.0f, {0, 0, -1}},
        {"past it", {0, 0, -5}, {0, 1, 0}, {}, NoHit, {9, 9, 9}},
        {"no direction", {0, 0, -5}, {}, {}, NoHit, {9, 9, 9}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Float3 normal(9, 9, 9);
        EXPECT_FLOAT_EQ(RaySphereIntersect(c.origin, c.direction, c.centre, 1, &normal), c.t);
        test::ExpectNear(normal, c.normal, 1e-6f);
    }
}

} // namespace
} // namespace quarn
