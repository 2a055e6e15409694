#include "core/scene/Pivot.h"
#include "tests/collision/CollisionTestSupport.h"

#include <cmath>
#include <random>

namespace quarn {
namespace {

using test::WorldPosition;

// Thousands of seeded placements of a sphere against a plane or a sphere, each checked for
// what every contact must satisfy, then swapped and then moved and turned as a whole.
class SphereContactProperties : public test::SeededCollisionTest {
protected:
    // Both shapes under one pivot, so moving the pivot moves and turns them together.
    Pivot* Frame() { return tree_.Make<Pivot>("frame"); }
    template <class T>
    T* Under(Pivot* frame, T* shape) {
        shape->AttachAsLast(frame);
        return shape;
    }

    // The contact of a against b, checked against the other order and a moved copy of both.
    void CheckPair(Pivot* frame, CollisionVolume& a, CollisionVolume& b, float distanceToA,
                   float distanceToB, bool normalAlongCentres) {
        CollisionContact contacts[4];
        const int count = CollidePair(a, b, 100, contacts);
        CollisionContact swapped[4];
        ASSERT_EQ(CollidePair(b, a, 100, swapped), count);
        if (count == 0) {
            return;
        }
        ASSERT_EQ(count, 1);
        const CollisionContact c = contacts[0];
        EXPECT_NEAR(c.normal.Length(), 1.0f, 1e-5f);
        EXPECT_GE(c.depth, 0.0f);
        const Float3 p = WorldPosition(c);
        const float tolerance = c.depth + 1e-4f;
        EXPECT_LE(std::fabs(distanceToA), tolerance);
        EXPECT_LE(std::fabs(distanceToB), tolerance);
        if (normalAlongCentres) {
            EXPECT_GE(c.normal.Dot(b.GetWorldPosition() - a.GetWorldPosition()), 0.0f);
        }
        test::ExpectNear(swapped[0].position, c.position);
        test::ExpectNear(swapped[0].normal, c.normal * -1.0f);
        EXPECT_FLOAT_EQ(swapped[0].depth, c.depth);

        const Float3 shift = Point(20.0f);
        const Quaternion turn = Turn();
        frame->SetPosition(shift);
        frame->SetOrientation(turn);
        CollisionContact moved[4];
        ASSERT_EQ(CollidePair(a, b, 100, moved), 1);
        test::ExpectNear(WorldPosition(moved[0]), frame->LocalToWorld(p), 2e-3f);
        test::ExpectNear(moved[0].normal, frame->LocalToWorldDirection(c.normal), 1e-3f);
        EXPECT_NEAR(moved[0].depth, c.depth, 1e-3f);
        frame->SetPosition(Float3());
        frame->SetOrientation(Quaternion());
    }
};

TEST_F(SphereContactProperties, SpherePlaneContactsLieOnBothSurfacesAndPointIntoThePlane) {
    int touching = 0;
    for (int round = 0; round < 2000; ++round) {
        Pivot* frame = Frame();
        CollisionPlane* plane = Under(frame, Plane(Point(3.0f), -1, Turn()));
        CollisionSphere* sphere = Under(frame, Sphere(Point(5.0f), Uniform(0.1f, 3.0f)));
        const Float3 n = plane->GetNormal();
        CollisionContact contacts[1];
        if (CollidePair(*sphere, *plane, 100, contacts) == 1) {
            ++touching;
            const Float3 p = WorldPosition(contacts[0]);
            test::ExpectNear(contacts[0].normal, n * -1.0f, 1e-5f);
            const float planeDistance = n.Dot(p) - plane->GetOffset();
            CheckPair(frame, *sphere, *plane, sphere->GetPointDepth(p, nullptr), planeDistance,
                      false);
        } else {
            EXPECT_GT(n.Dot(sphere->GetWorldPosition()) - plane->GetOffset(),
                      sphere->GetSphereRadius() - 1e-4f);
        }
        frame->Delete();
    }
    EXPECT_GT(touching, 400);
}

TEST_F(SphereContactProperties, SphereSphereContactsLieOnBothSurfacesAndPointFromFirstToSecond) {
    int touching = 0;
    for (int round = 0; round < 2000; ++round) {
        Pivot* frame = Frame();
        CollisionSphere* a = Under(frame, Sphere(Point(3.0f), Uniform(0.1f, 2.0f)));
        CollisionSphere* b = Under(frame, Sphere(Point(3.0f), Uniform(0.1f, 2.0f)));
        CollisionContact contacts[1];
        if (CollidePair(*a, *b, 100, contacts) == 1) {
            ++touching;
            const Float3 p = WorldPosition(contacts[0]);
            CheckPair(frame, *a, *b, a->GetPointDepth(p, nullptr), b->GetPointDepth(p, nullptr),
                      true);
        } else {
            EXPECT_GT((a->GetWorldPosition() - b->GetWorldPosition()).Length(),
                      a->GetSphereRadius() + b->GetSphereRadius() - 1e-4f);
        }
        frame->Delete();
    }
    EXPECT_GT(touching, 200);
}

TEST_F(SphereContactProperties, ExactTouchesAndCoincidentCentres) {
    CollisionContact contacts[1];
    // Resting exactly on a plane: one contact of depth 0.
    CollisionSphere* resting = Sphere(Float3(0.0f, 1.0f, 0.0f), 1.0f);
    CollisionPlane* ground = Plane(Float3(), 1);
    ASSERT_EQ(CollidePair(*resting, *ground, 100, contacts), 1);
    EXPECT_EQ(contacts[0].depth, 0.0f);
    // Coincident centres: the first centre, normal (1, 0, 0), depth r1 + r2.
    CollisionSphere* a = Sphere(Float3(2.0f, 3.0f, 4.0f), 1.0f);
    CollisionSphere* b = Sphere(Float3(2.0f, 3.0f, 4.0f), 0.5f);
    ASSERT_EQ(CollidePair(*a, *b, 100, contacts), 1);
    test::ExpectNear(WorldPosition(contacts[0]), Float3(2.0f, 3.0f, 4.0f));
    test::ExpectNear(contacts[0].normal, Float3(1.0f, 0.0f, 0.0f));
    EXPECT_FLOAT_EQ(contacts[0].depth, 1.5f);
}

} // namespace
} // namespace quarn
