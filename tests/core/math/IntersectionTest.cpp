#include "core/math/Intersection.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace quarn {
namespace {

constexpr float PiFloat = std::numbers::pi_v<float>;

TEST(Intersection, SignedAngleIsPositiveCounterClockwise) {
    EXPECT_FLOAT_EQ(SignedAngle2D(Float2(2, 0), Float2(0, 3)), PiFloat / 2.0f);
    EXPECT_FLOAT_EQ(SignedAngle2D(Float2(0, 3), Float2(2, 0)), -PiFloat / 2.0f);
    EXPECT_FLOAT_EQ(SignedAngle2D(Float2(1, 0), Float2(-1, 0)), PiFloat);
}

TEST(Intersection, SignedAngleSurvivesRoundingAndZeroVectors) {
    // Normalised, (2.5, 0.7) dotted with itself rounds to just above 1.
    EXPECT_EQ(SignedAngle2D(Float2(2.5f, 0.7f), Float2(2.5f, 0.7f)), 0.0f);
    EXPECT_FLOAT_EQ(SignedAngle2D(Float2(), Float2(1, 1)), PiFloat / 2.0f);
}

// A triangle in the plane z = 0 whose right-handed normal is +Z.
const Float3 C0(0, 0, 0);
const Float3 C1(1, 0, 0);
const Float3 C2(0, 1, 0);

TEST(Intersection, OneSidedRayTriangleHitsOnlyAlongTheNormal) {
    EXPECT_FLOAT_EQ(RayTriangleIntersect(Float3(0.25f, 0.25f, -2), Float3(0, 0, 0.5f), C0, C1, C2),
                    4.0f);
    EXPECT_EQ(RayTriangleIntersect(Float3(0.25f, 0.25f, 2), Float3(0, 0, -1), C0, C1, C2), NoHit);
    EXPECT_EQ(RayTriangleIntersect(Float3(0.75f, 0.75f, -2), Float3(0, 0, 1), C0, C1, C2), NoHit);
    // A line test: the triangle behind the origin still answers, with t < 0.
    EXPECT_FLOAT_EQ(RayTriangleIntersect(Float3(0.25f, 0.25f, 2), Float3(0, 0, 1), C0, C1, C2),
                    -2.0f);
}

TEST(Intersection, TwoSidedRayTriangleReportsTheSide) {
    bool side = false;
    EXPECT_FLOAT_EQ(RayTriangleHit(Float3(0.25f, 0.25f, 2), Float3(0, 0, -1), C0, C1, C2, &side),
                    2.0f);
    EXPECT_TRUE(side);
    EXPECT_FLOAT_EQ(RayTriangleHit(Float3(0.25f, 0.25f, -1), Float3(0, 0, 1), C0, C1, C2, &side),
                    1.0f);
    EXPECT_FALSE(side);
    EXPECT_FLOAT_EQ(RayTriangleHit(Float3(0.1f, 0.1f, -1), Float3(0, 0, 1), C0, C1, C2), 1.0f);
}

TEST(Intersection, TwoSidedRayTriangleMissLeavesTheSideAlone) {
    bool side = true;
    EXPECT_EQ(RayTriangleHit(Float3(-1, 0.5f, 0), Float3(1, 0, 1e-7f), C0, C1, C2, &side), NoHit);
    EXPECT_EQ(RayTriangleHit(Float3(2, 2, 1), Float3(0, 0, -1), C0, C1, C2, &side), NoHit);
    EXPECT_TRUE(side);
}

TEST(Intersection, CrossingSegmentsGiveBothParameters) {
    float t = -1.0f;
    float s = -1.0f;
    EXPECT_TRUE(
        SegmentIntersect2D(Float2(0, 0), Float2(2, 0), Float2(1.5f, -1), Float2(0, 4), t, s));
    EXPECT_FLOAT_EQ(t, 0.75f);
    EXPECT_FLOAT_EQ(s, 0.25f);
    // The lines cross beyond the second segment's end: parameters are still written.
    EXPECT_FALSE(
        SegmentIntersect2D(Float2(0, 0), Float2(2, 0), Float2(1, 1), Float2(0, 0.5f), t, s));
    EXPECT_FLOAT_EQ(t, 0.5f);
    EXPECT_FLOAT_EQ(s, -2.0f);
}

TEST(Intersection, ParallelSegmentsWriteNothing) {
    float t = 42.0f;
    float s = 42.0f;
    EXPECT_FALSE(
        SegmentIntersect2D(Float2(0, 0), Float2(1, 1), Float2(0, 0), Float2(-2, -2), t, s));
    EXPECT_EQ(t, 42.0f);
    EXPECT_EQ(s, 42.0f);
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

TEST(Intersection, EllipseWithAZeroAxisIsASegment) {
    Float2 closest;
    EXPECT_FLOAT_EQ(DistancePointEllipse2D(0, 2, 3, 5, closest), std::hypot(3.0f, 3.0f));
    EXPECT_EQ(closest.x, 0.0f);
    EXPECT_EQ(closest.y, 2.0f);
    EXPECT_FLOAT_EQ(DistancePointEllipse2D(2, 0, 1, -4, closest), 4.0f);
    EXPECT_EQ(closest.x, 1.0f);
    EXPECT_EQ(closest.y, 0.0f);
    // 20000 times thinner than long counts as flat.
    DistancePointEllipse2D(1e-4f, -2, 0.5f, -3, closest);
    EXPECT_EQ(closest.x, 0.0f);
    EXPECT_EQ(closest.y, -2.0f);
}

TEST(Intersection, EllipsePointOnAnAxisUsesTheClosedForm) {
    Float2 closest;
    // Inside a tall ellipse the nearest point leaves the axis: (sqrt(8/9), 2/3).
    const float d = DistancePointEllipse2D(1, 2, 0, 0.5f, closest);
    EXPECT_FLOAT_EQ(closest.x, std::sqrt(8.0f / 9.0f));
    EXPECT_FLOAT_EQ(closest.y, 2.0f / 3.0f);
    EXPECT_NEAR(d, BruteForceEllipseDistance(1, 2, 0, 0.5), 1e-6);
    EXPECT_NEAR(DistancePointEllipse2D(1, 2, 0, -1.8f, closest), 0.2f, 1e-6f);
    EXPECT_EQ(closest.y, -2.0f);
    EXPECT_FLOAT_EQ(DistancePointEllipse2D(1, 2, 0.5f, 0, closest), 0.5f);
    EXPECT_EQ(closest.x, 1.0f);
    EXPECT_EQ(closest.y, 0.0f);
}

TEST(Intersection, EllipseDistanceMatchesAnIndependentSearch) {
    const struct {
        float a, b, x, y;
    } cases[] = {
        {3, 1, 2, 2},                  // outside
        {3, 1, -0.5f, 0.2f},           // inside
        {1.1f, 0.16f, 0.6f, -0.05f},   // eccentric
        {0.03f, 0.02f, 0.01f, 0.005f}, // small
        {-40, 25, -60, 10},            // large, with a negative semi-axis
    };
    for (const auto& c : cases) {
        Float2 closest;
        const float d = DistancePointEllipse2D(c.a, c.b, c.x, c.y, closest);
        const double scale = std::max(std::fabs(c.a), std::fabs(c.b));
        EXPECT_NEAR(d / scale, BruteForceEllipseDistance(c.a, c.b, c.x, c.y) / scale, 1e-5)
            << c.a << " " << c.b << " " << c.x << " " << c.y;
        EXPECT_NEAR(closest.x * closest.x / (c.a * c.a) + closest.y * closest.y / (c.b * c.b), 1.0,
                    1e-4);
    }
}

TEST(Intersection, RayFromInsideASphereHitsAtZero) {
    Float3 normal;
    EXPECT_EQ(RaySphereIntersect(Float3(1, 2, 2.5f), Float3(0, 0, 1), Float3(1, 2, 3), 1, &normal),
              0.0f);
    EXPECT_FLOAT_EQ(normal.z, -1.0f);
    EXPECT_EQ(RaySphereIntersect(Float3(), Float3(1, 0, 0), Float3(), 1, &normal), 0.0f);
    EXPECT_EQ(normal.LengthSquared(), 0.0f);
}

TEST(Intersection, RayFromOutsideASphereHitsTheNearSide) {
    Float3 normal;
    EXPECT_FLOAT_EQ(RaySphereIntersect(Float3(0, 0, -5), Float3(0, 0, 2), Float3(), 1, &normal),
                    2.0f);
    EXPECT_FLOAT_EQ(normal.z, -1.0f);
    EXPECT_EQ(normal.x, 0.0f);
}

TEST(Intersection, RayPastASphereMisses) {
    Float3 normal(9, 9, 9);
    EXPECT_EQ(RaySphereIntersect(Float3(0, 0, -5), Float3(0, 1, 0), Float3(), 1, &normal), NoHit);
    EXPECT_EQ(RaySphereIntersect(Float3(0, 0, -5), Float3(), Float3(), 1, &normal), NoHit);
    EXPECT_EQ(normal.x, 9.0f);
}

} // namespace
} // namespace quarn
