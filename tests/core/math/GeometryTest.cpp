#include "core/math/Geometry.h"

#include "tests/support/MathExpectations.h"

#include <cmath>
#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::ExpectNear;

ViewPlanes RightAngleView() {
    ViewPlanes planes;
    FrustumSidePlanes(planes, 90.0f, 90.0f);
    return planes;
}

TEST(ViewPlanes, SideMaskNamesThePlanesAPointIsOutside) {
    const ViewPlanes planes = RightAngleView();
    EXPECT_EQ(PlaneSideMask(planes, Float3(0, 0, 1)), 0u);
    EXPECT_EQ(PlaneSideMask(planes, Float3(2, 0, 1)), 2u);
    EXPECT_EQ(PlaneSideMask(planes, Float3(-2, 3, 1)), 1u | 4u);
    // Behind the eye the point is outside every plane.
    EXPECT_EQ(PlaneSideMask(planes, Float3(0, 0, -1)), 15u);
}

TEST(ViewPlanes, SphereTestGradesOutsideStraddlingAndInside) {
    const ViewPlanes planes = RightAngleView();
    EXPECT_EQ(SphereAgainstPlanes(planes, Float3(0, 0, 10), 1.0f), SphereInside);
    EXPECT_EQ(SphereAgainstPlanes(planes, Float3(11, 0, 10), 0.5f), SphereOutside);
    EXPECT_EQ(SphereAgainstPlanes(planes, Float3(11, 0, 10), 1.0f), SphereStraddlingCentreOutside);
    // Centre just inside the right plane, the sphere across it.
    EXPECT_EQ(SphereAgainstPlanes(planes, Float3(9.5f, 0, 10), 1.0f), SphereStraddlingCentreInside);
    // Straddles the right plane, then lies wholly above the top plane.
    EXPECT_EQ(SphereAgainstPlanes(planes, Float3(10, 15, 10), 1.0f), SphereOutside);
}

const Aabb UnitCube{Float3(-1, -1, -1), Float3(1, 1, 1)};

TEST(Aabb, GrowsToHoldPointsAndBoxes) {
    Aabb box{Float3(0, 0, 0), Float3(1, 1, 1)};
    box.AddPoint(Float3(-2, 0.5f, 3));
    ExpectNear(box.min, Float3(-2, 0, 0));
    ExpectNear(box.max, Float3(1, 1, 3));
    box.AddBox(Aabb{Float3(0, -4, 0), Float3(0, 0, 5)});
    ExpectNear(box.min, Float3(-2, -4, 0));
    ExpectNear(box.max, Float3(1, 1, 5));
}

TEST(Aabb, ContainsItsFacesAndCorners) {
    EXPECT_TRUE(UnitCube.Contains(Float3(1, 0, 0)));
    EXPECT_TRUE(UnitCube.Contains(Float3(-1, 1, -1)));
    EXPECT_FALSE(UnitCube.Contains(Float3(0, 1.0001f, 0)));
}

TEST(Aabb, RayFromOutsideEntersThroughTheFacingSide) {
    Float3 normal;
    EXPECT_FLOAT_EQ(UnitCube.RayIntersect(Float3(-5, 0, 0), Float3(1, 0, 0), &normal), 4.0f);
    EXPECT_FALSE(normal != Float3(-1, 0, 0));
    // t is in units of the direction, and a negative direction gives a positive normal.
    EXPECT_FLOAT_EQ(UnitCube.RayIntersect(Float3(0, 0, 5), Float3(0, 0, -2), &normal), 2.0f);
    EXPECT_FALSE(normal != Float3(0, 0, 1));
    // A diagonal through an edge: the tie goes to the lower axis.
    EXPECT_FLOAT_EQ(UnitCube.RayIntersect(Float3(-3, -3, 0), Float3(1, 1, 0), &normal), 2.0f);
    EXPECT_FALSE(normal != Float3(-1, 0, 0));
}

TEST(Aabb, RayMissesOrStartsInside) {
    EXPECT_EQ(UnitCube.RayIntersect(Float3(0, 0, 0), Float3(0, 1, 0)), 0.0f);
    // Parallel to an axis and outside its slab.
    EXPECT_EQ(UnitCube.RayIntersect(Float3(5, 0, 0), Float3(0, 1, 0)), -1.0f);
    // The box lies behind.
    EXPECT_EQ(UnitCube.RayIntersect(Float3(5, 0, 0), Float3(1, 0, 0)), -1.0f);
    // Slabs overlap on no stretch of the ray.
    EXPECT_EQ(UnitCube.RayIntersect(Float3(-5, 3, 0), Float3(1, -0.1f, 0)), -1.0f);
    // A NaN direction cannot hit.
    EXPECT_EQ(UnitCube.RayIntersect(Float3(-5, 0, 0), Float3(NAN, 0, 0)), -1.0f);
}

TEST(Aabb, AnInvertedBoxIsNeverHit) {
    // Inverted on x only: each x bound still lies ahead of the ray and overlaps the y and z
    // slabs, so comparing near and far across axes alone would report a hit at t = 2.
    const Aabb inverted{Float3(2, 0, 0), Float3(1, 3, 3)};
    EXPECT_EQ(inverted.RayIntersect(Float3(0, 0, 0), Float3(1, 1, 1)), -1.0f);
}

TEST(Aabb, CenterRadiusAndDistance) {
    Float3 centre;
    float radius = 0.0f;
    Aabb{Float3(0, 0, 0), Float3(2, 2, 2)}.GetCenter(centre, &radius);
    ExpectNear(centre, Float3(1, 1, 1));
    EXPECT_FLOAT_EQ(radius, std::sqrt(3.0f));
    EXPECT_EQ(UnitCube.DistanceToPoint(Float3(0.5f, 0, 0)), 0.0f);
    EXPECT_FLOAT_EQ(UnitCube.DistanceToPoint(Float3(4, 5, 0)), 5.0f);
    ExpectNear(UnitCube.ClosestPoint(Float3(4, 0.5f, -9)), Float3(1, 0.5f, -1));
}

TEST(NextPowerOfTwo, RoundsUpAndKeepsPowers) {
    EXPECT_EQ(NextPowerOfTwo(1), 1u);
    EXPECT_EQ(NextPowerOfTwo(5), 8u);
    EXPECT_EQ(NextPowerOfTwo(8), 8u);
    EXPECT_EQ(NextPowerOfTwo(0x80000000u), 0x80000000u);
    EXPECT_EQ(NextPowerOfTwo(0), 0u);
    EXPECT_EQ(NextPowerOfTwo(0x80000001u), 0u);
}

} // namespace
} // namespace quarn
