#include "tests/collision/CollisionTestSupport.h"

#include <span>

namespace quarn {
namespace {

using test::CollisionTest;
using test::WorldPosition;

int Marker(CollisionVolume&, CollisionVolume&, int, std::span<CollisionContact>) {
    return 0;
}

// What the shapes' registrations install, in their order; each fills its mirrored entry
// swapped.
struct Registration {
    int32_t first, second;
    ColliderFn collider;
};
const Registration registrations[] = {
    {COLLISION_SPHERE, COLLISION_PLANE, CollideSpherePlane},
    {COLLISION_SPHERE, COLLISION_SPHERE, CollideSphereSphere},
    {COLLISION_SPHERE, COLLISION_BOX, CollideSphereBox},
    {COLLISION_BOX, COLLISION_PLANE, CollideBoxPlane},
    {COLLISION_BOX, COLLISION_BOX, CollideBoxBox},
    {COLLISION_BOX, COLLISION_POINT, CollideBoxPoint},
    {COLLISION_RAY, COLLISION_SPHERE, CollideRaySphere},
    {COLLISION_RAY, COLLISION_PLANE, CollideRayPlane},
    {COLLISION_CYLINDER, COLLISION_PLANE, CollideCylinderPlane},
    {COLLISION_CYLINDER, COLLISION_SPHERE, CollideCylinderSphere},
    {COLLISION_CYLINDER, COLLISION_BOX, CollideCylinderBox},
    {COLLISION_CYLINDER, COLLISION_CYLINDER, CollideCylinderCylinder},
    {COLLISION_CAPSULE, COLLISION_SPHERE, CollideCapsuleSphere},
    {COLLISION_CAPSULE, COLLISION_CAPSULE, CollideCapsuleCapsule},
    {COLLISION_CAPSULE, COLLISION_PLANE, CollideCapsulePlane},
    {COLLISION_RAY, COLLISION_CAPSULE, CollideRayCapsule},
    {COLLISION_CAPSULE, COLLISION_CYLINDER, CollideCapsuleCylinder},
    {COLLISION_CAPSULE, COLLISION_BOX, CollideCapsuleSolid},
    {COLLISION_CAPSULE, COLLISION_MESH, CollideCapsuleSolid},
    {COLLISION_SPHERE, COLLISION_MESH, CollideSphereSolid},
    {COLLISION_TERRAIN, COLLISION_POINT, CollideTerrainPoint},
};

TEST_F(CollisionTest, EveryOrderedPairOfShapeTypesHasTheEntryItsRegistrationGave) {
    ColliderEntry expected[11][11] = {};
    int filled = 0;
    for (const Registration& r : registrations) {
        expected[r.first][r.second] = {r.collider, 0};
        ++filled;
        if (r.first != r.second) {
            expected[r.second][r.first] = {r.collider, 1};
            ++filled;
        }
    }
    EXPECT_EQ(filled, 38);
    for (int32_t a = 0; a < 11; ++a) {
        for (int32_t b = 0; b < 11; ++b) {
            const ColliderEntry entry = GetColliderEntry(a, b);
            EXPECT_EQ(entry.collider, expected[a][b].collider) << a << "," << b;
            EXPECT_EQ(entry.swapped, expected[a][b].swapped) << a << "," << b;
        }
    }
    EXPECT_EQ(GetColliderEntry(-1, 3).collider, nullptr);
    EXPECT_EQ(GetColliderEntry(3, 11).collider, nullptr);
}

TEST_F(CollisionTest, ASwappedEntryGivesTheSameContactsWithTheNormalsTurned) {
    // One shape of each type with an entry, all overlapping one another about the origin.
    const Quaternion down = Quaternion::FromAxisAngle(1.5707964f, Float3(1, 0, 0));
    const Quaternion alongX = Quaternion::FromAxisAngle(1.5707964f, Float3(0, 1, 0));
    CollisionVolume* shapes[11] = {};
    shapes[COLLISION_POINT] = Make<CollisionPoint>(Float3(0.05f, 0, 0.03f));
    shapes[COLLISION_PLANE] = Plane(Float3(0, 0.1f, 0), 1);
    shapes[COLLISION_SPHERE] = Sphere(Float3(0.05f, 0, 0), 0.4f);
    shapes[COLLISION_RAY] = Ray(Float3(0.01f, 1.0f, 0.02f), down, 2.0f);
    shapes[COLLISION_CAPSULE] = Capsule(Float3(0, 0, 0.03f), 0.3f, 1.0f, alongX);
    shapes[COLLISION_CYLINDER] = Cylinder(Float3(), 0.4f, 1.0f);
    shapes[COLLISION_BOX] = Box(Float3(0.02f, 0, 0), Float3(0.8f, 0.8f, 0.8f));
    auto* terrain = Make<CollisionTerrain>(Float3(0, 0.1f, 0));
    terrain->SetGridSize(Int2(4, 4)); // flat, at the node
    terrain->SetSize(Float3(8, 1, 8));
    shapes[COLLISION_TERRAIN] = terrain;
    for (const Registration& r : registrations) {
        // A mesh needs the render device: the mesh tests turn its pair about.
        if (r.first == r.second || !shapes[r.first] || !shapes[r.second]) {
            continue;
        }
        CollisionContact direct[16];
        CollisionContact swapped[16];
        const int count = CollidePair(*shapes[r.first], *shapes[r.second], 100, direct);
        ASSERT_GT(count, 0) << r.first << "," << r.second;
        ASSERT_EQ(CollidePair(*shapes[r.second], *shapes[r.first], 100, swapped), count)
            << r.first << "," << r.second;
        for (int i = 0; i < count; ++i) {
            test::ExpectNear(swapped[i].position, direct[i].position);
            test::ExpectNear(swapped[i].normal, direct[i].normal * -1.0f);
            EXPECT_EQ(swapped[i].depth, direct[i].depth) << r.first << "," << r.second;
        }
    }
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
