#include "tests/collision/CollisionTestSupport.h"

#include <span>

namespace quarn {
namespace {

using test::CollisionTest;
using test::WorldPosition;

int Marker(CollisionVolume&, CollisionVolume&, int, std::span<CollisionContact>) {
    return 0;
}

TEST_F(CollisionTest, RegistrationFillsTheTableInItsOrderWithMirroredEntriesSwapped) {
    const struct {
        int32_t first, second;
        ColliderFn collider;
        int32_t swapped;
    } cases[] = {
        {COLLISION_SPHERE, COLLISION_PLANE, CollideSpherePlane, 0},
        {COLLISION_PLANE, COLLISION_SPHERE, CollideSpherePlane, 1},
        {COLLISION_SPHERE, COLLISION_SPHERE, CollideSphereSphere, 0},
        {COLLISION_RAY, COLLISION_SPHERE, CollideRaySphere, 0},
        {COLLISION_SPHERE, COLLISION_RAY, CollideRaySphere, 1},
        {COLLISION_RAY, COLLISION_PLANE, CollideRayPlane, 0},
        {COLLISION_PLANE, COLLISION_RAY, CollideRayPlane, 1},
        {COLLISION_TERRAIN, COLLISION_POINT, CollideTerrainPoint, 0},
        {COLLISION_POINT, COLLISION_TERRAIN, CollideTerrainPoint, 1},
        {COLLISION_POINT, COLLISION_POINT, nullptr, 0},
        {COLLISION_PLANE, COLLISION_PLANE, nullptr, 0},
        {COLLISION_RAY, COLLISION_RAY, nullptr, 0},
        {COLLISION_MESH, COLLISION_SPHERE, nullptr, 0},
        {COLLISION_TERRAIN, COLLISION_SPHERE, nullptr, 0},
    };
    for (const auto& c : cases) {
        const ColliderEntry entry = GetColliderEntry(c.first, c.second);
        EXPECT_EQ(entry.collider, c.collider) << c.first << "," << c.second;
        EXPECT_EQ(entry.swapped, c.swapped) << c.first << "," << c.second;
    }
    EXPECT_EQ(GetColliderEntry(-1, 3).collider, nullptr);
    EXPECT_EQ(GetColliderEntry(3, 11).collider, nullptr);
}

TEST_F(CollisionTest, ALaterRegistrationOfAFilledPairChangesNothing) {
    SetCollider(COLLISION_PLANE, COLLISION_SPHERE, Marker);
    SetCollider(COLLISION_SPHERE, COLLISION_SPHERE, Marker);
    EXPECT_EQ(GetColliderEntry(COLLISION_PLANE, COLLISION_SPHERE).collider, CollideSpherePlane);
    EXPECT_EQ(GetColliderEntry(COLLISION_PLANE, COLLISION_SPHERE).swapped, 1);
    EXPECT_EQ(GetColliderEntry(COLLISION_SPHERE, COLLISION_SPHERE).collider, CollideSphereSphere);
    EXPECT_EQ(GetColliderEntry(COLLISION_SPHERE, COLLISION_SPHERE).swapped, 0);
}

TEST_F(CollisionTest, ASwappedEntryNegatesTheNormalsAndKeepsPositionsAndDepth) {
    CollisionSphere* sphere = Sphere(Float3(0.0f, 0.5f, 0.0f), 1.0f);
    CollisionPlane* plane = Plane(Float3(0.0f, 0.0f, 0.0f), 1);
    CollisionContact direct[1];
    CollisionContact swapped[1];
    ASSERT_EQ(CollidePair(*sphere, *plane, 100, direct), 1);
    ASSERT_EQ(CollidePair(*plane, *sphere, 100, swapped), 1);
    test::ExpectNear(direct[0].normal, Float3(0.0f, -1.0f, 0.0f));
    test::ExpectNear(swapped[0].normal, Float3(0.0f, 1.0f, 0.0f));
    test::ExpectNear(swapped[0].position, direct[0].position);
    test::ExpectNear(WorldPosition(direct[0]), Float3(0.0f, -0.5f, 0.0f));
    EXPECT_FLOAT_EQ(swapped[0].depth, 0.5f);
}

TEST_F(CollisionTest, CollidersNeverWriteWithoutRoomAndAVolumeNeverMeetsItself) {
    CollisionSphere* a = Sphere(Float3(), 1.0f);
    CollisionSphere* b = Sphere(Float3(0.5f, 0.0f, 0.0f), 1.0f);
    EXPECT_EQ(CollidePair(*a, *b, 100, std::span<CollisionContact>()), 0);
    CollisionContact contacts[1];
    EXPECT_EQ(CollidePair(*a, *a, 100, contacts), 0);
    EXPECT_EQ(CollidePair(*a, *b, 0, contacts), 1);
    // No table entry yet for a point and a sphere: no contact.
    auto* point = Make<CollisionPoint>(Float3());
    EXPECT_EQ(CollidePair(*point, *a, 100, contacts), 0);
}

} // namespace
} // namespace quarn
