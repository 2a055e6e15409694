#include "core/math/Intersection.h"
#include "core/scene/Picking.h"
#include "tests/collision/CollisionTestSupport.h"

#include <cmath>

namespace quarn {
namespace {

using test::CollisionTest;
using test::WorldPosition;

// Rays along +Z from z = origin.z: a unit sphere at z = 5, a plane with normal -Z at z = 5 (its
// solid side beyond), each against the analytic crossing.
TEST_F(CollisionTest, RayCollidersMeetTheAnalyticCrossings) {
    const struct {
        const char* name;
        float originZ, length;
        int sphereContacts;
        float sphereDepth; // distance to the crossing along the ray
        int planeContacts;
        float planeDepth;
    } cases[] = {
        {"ahead", 0.0f, 10.0f, 1, 4.0f, 1, 5.0f},
        {"beyond the length", 0.0f, 3.5f, 0, 0.0f, 0, 0.0f},
        {"behind", 7.0f, 10.0f, 0, 0.0f, 0, 0.0f},
        {"origin inside the sphere", 5.5f, 10.0f, 1, 0.5f, 0, 0.0f},
        {"reaching the sphere exactly", 0.0f, 4.0f, 1, 4.0f, 0, 0.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CollisionRay* ray = Ray(Float3(0.0f, 0.0f, c.originZ), Quaternion(), c.length);
        CollisionSphere* sphere = Sphere(Float3(0.0f, 0.0f, 5.0f), 1.0f);
        auto* plane = Plane(Float3(0.0f, 0.0f, 5.0f), 5);
        CollisionContact contacts[1];
        ASSERT_EQ(CollidePair(*ray, *sphere, 100, contacts), c.sphereContacts);
        if (c.sphereContacts) {
            EXPECT_FLOAT_EQ(contacts[0].depth, c.sphereDepth);
            test::ExpectNear(WorldPosition(contacts[0]),
                             Float3(0.0f, 0.0f, c.originZ + c.sphereDepth));
            EXPECT_NEAR(contacts[0].normal.Length(), 1.0f, 1e-6f);
        }
        ASSERT_EQ(CollidePair(*ray, *plane, 100, contacts), c.planeContacts);
        if (c.planeContacts) {
            EXPECT_FLOAT_EQ(contacts[0].depth, c.planeDepth);
            test::ExpectNear(WorldPosition(contacts[0]), Float3(0.0f, 0.0f, 5.0f));
            // From the ray toward the plane: into its solid side.
            test::ExpectNear(contacts[0].normal, Float3(0.0f, 0.0f, 1.0f));
        }
    }
}

// Picks of a unit sphere at z = 5 and the plane z = 5 facing -Z, along +Z.
TEST_F(CollisionTest, PlaneAndSpherePicksMeetTheAnalyticCrossings) {
    CollisionSphere* sphere = Sphere(Float3(0.0f, 0.0f, 5.0f), 1.0f);
    CollisionPlane* plane = Plane(Float3(0.0f, 0.0f, 5.0f), 5);
    const struct {
        const char* name;
        float originZ, directionZ;
        bool sphereHit;
        float sphereDistance;
        bool planeHit;
        float planeDistance;
    } cases[] = {
        {"ahead", 0.0f, 1.0f, true, 4.0f, true, 5.0f},
        {"behind", 0.0f, -1.0f, false, 0.0f, false, 0.0f},
        {"origin inside", 5.2f, 1.0f, true, 0.0f, true, 0.0f},
        {"past both", 7.0f, 1.0f, false, 0.0f, true, 0.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PickQuery query;
        query.Init(PickQuery::DefaultMaxDistance, PickCollisionVolumes | PickNormal, 0, 0);
        const Float3 origin(0.0f, 0.0f, c.originZ);
        const Float3 direction(0.0f, 0.0f, c.directionZ);
        ASSERT_EQ(sphere->IntersectRay(origin, direction, query), c.sphereHit);
        if (c.sphereHit) {
            EXPECT_FLOAT_EQ(query.current.distance, c.sphereDistance);
        }
        query.current = PickHit();
        ASSERT_EQ(plane->IntersectRay(origin, direction, query), c.planeHit);
        if (c.planeHit) {
            EXPECT_FLOAT_EQ(query.current.distance, c.planeDistance);
            test::ExpectNear(query.current.data, Float3(0.0f, 0.0f, -1.0f));
        }
    }
    // Without the collision-volume bit, or with flags the mask refuses, nothing answers.
    PickQuery query;
    query.Init(PickQuery::DefaultMaxDistance, PickSolids, 0, 0);
    EXPECT_FALSE(sphere->IntersectRay(Float3(), Float3(0, 0, 1), query));
    EXPECT_FALSE(plane->IntersectRay(Float3(), Float3(0, 0, 1), query));
    query.Init(PickQuery::DefaultMaxDistance, PickCollisionVolumes, CollTrigger, CollTrigger);
    EXPECT_FALSE(sphere->IntersectRay(Float3(), Float3(0, 0, 1), query));
}

} // namespace
} // namespace quarn
