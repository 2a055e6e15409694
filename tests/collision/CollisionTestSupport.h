#pragma once

// Shapes placed by hand for the collision tests: the classes registered in their start-up
// order, nodes made through a TestTree, and the world-space reading of contacts.

#include "collision/CollisionBox.h"
#include "collision/CollisionCapsule.h"
#include "collision/CollisionClasses.h"
#include "collision/CollisionContact.h"
#include "collision/CollisionCylinder.h"
#include "collision/CollisionPlane.h"
#include "collision/CollisionPoint.h"
#include "collision/CollisionRay.h"
#include "collision/CollisionSphere.h"
#include "collision/CollisionSurface.h"
#include "collision/CollisionTerrain.h"
#include "core/math/Quaternion.h"
#include "core/object/IdMap.h"
#include "core/scene/SceneClasses.h"
#include "render/RenderObject.h"
#include "tests/support/MathExpectations.h"
#include "tests/support/TestTree.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace quarn::test {

// A contact as a world point (colliders write positions negated).
inline Float3 WorldPosition(const CollisionContact& contact) {
    return contact.position * -1.0f;
}

// The classes a collision test needs, registered in their start-up order.
inline void RegisterCollisionTestClasses() {
    RegisterSceneClasses();
    RenderObject::RegisterClass();
    RegisterCollisionClasses();
}

// Shapes made through a TestTree, deleted with it.
class CollisionShapes {
protected:
    template <class T>
    T* Make(Float3 position, Quaternion orientation = Quaternion()) {
        T* node = tree_.Make<T>("shape");
        node->SetPosition(position);
        node->SetOrientation(orientation);
        return node;
    }
    CollisionSphere* Sphere(Float3 centre, float radius) {
        auto* sphere = Make<CollisionSphere>(centre);
        sphere->SetSphereRadius(radius);
        return sphere;
    }
    CollisionBox* Box(Float3 centre, Float3 size, Quaternion orientation = Quaternion()) {
        auto* box = Make<CollisionBox>(centre, orientation);
        box->SetSize(size);
        return box;
    }
    CollisionCapsule* Capsule(Float3 centre, float radius, float length,
                              Quaternion orientation = Quaternion()) {
        auto* capsule = Make<CollisionCapsule>(centre, orientation);
        capsule->SetCapsuleRadius(radius);
        capsule->SetLength(length);
        return capsule;
    }
    CollisionCylinder* Cylinder(Float3 centre, float radius, float length,
                                Quaternion orientation = Quaternion()) {
        auto* cylinder = Make<CollisionCylinder>(centre, orientation);
        cylinder->SetCylinderRadius(radius);
        cylinder->SetLength(length);
        return cylinder;
    }
    CollisionPlane* Plane(Float3 point, int32_t side, Quaternion orientation = Quaternion()) {
        auto* plane = Make<CollisionPlane>(point, orientation);
        plane->SetWorldSide(side);
        return plane;
    }
    CollisionRay* Ray(Float3 origin, Quaternion orientation, float length) {
        auto* ray = Make<CollisionRay>(origin, orientation);
        ray->SetLength(length);
        return ray;
    }

    TestTree tree_;
};

class CollisionTest : public ::testing::Test, protected CollisionShapes {
protected:
    void SetUp() override { RegisterCollisionTestClasses(); }
};

// Random placements from a fixed seed, so a failing round can be found again, and the checks
// that hold their contacts to brute force.
class SeededPlacements {
protected:
    float Uniform(float low, float high) {
        return std::uniform_real_distribution<float>(low, high)(random_);
    }
    Float3 Point(float extent) {
        return Float3(Uniform(-extent, extent), Uniform(-extent, extent), Uniform(-extent, extent));
    }
    // A turn by up to `angle` radians about a random axis.
    Quaternion Turn(float angle = 3.1f) {
        const Float3 axis = Point(1.0f).NormalizedOrSelf();
        return Quaternion::FromAxisAngle(Uniform(-angle, angle),
                                         axis.LengthSquared() > 0.0f ? axis : Float3(0, 1, 0));
    }
    std::vector<Float3> RandomDirections(int count) {
        std::vector<Float3> directions;
        for (int i = 0; i < count; ++i) {
            directions.push_back(Point(1));
        }
        return directions;
    }

    static std::vector<CollisionContact> Collide(CollisionVolume& a, CollisionVolume& b,
                                                 int maximum = 100) {
        std::array<CollisionContact, 100> found;
        const int count = CollidePair(a, b, maximum, found);
        return {found.begin(), found.begin() + count};
    }
    // The overlap along u: how far b must move along u to clear a.
    static float Overlap(CollisionVolume& a, CollisionVolume& b, const Float3& u) {
        return a.GetSupportDistance(u) + b.GetSupportDistance(u * -1.0f);
    }
    // Unit normals from a toward b, finite points within depth of both shapes and no further
    // than `outside` beyond either.
    static void CheckContacts(CollisionVolume& a, CollisionVolume& b,
                              const std::vector<CollisionContact>& contacts, const char* what,
                              int round, float outside = 1e30f) {
        for (const CollisionContact& c : contacts) {
            const Float3 p = WorldPosition(c);
            ASSERT_TRUE(std::isfinite(p.x + p.y + p.z + c.depth)) << what << " " << round;
            EXPECT_NEAR(c.normal.Length(), 1.0f, 1e-3f) << what << " " << round;
            EXPECT_GE(a.GetPointDepth(p, nullptr), -(c.depth + 2e-3f)) << what << " " << round;
            EXPECT_GE(b.GetPointDepth(p, nullptr), -(c.depth + 2e-3f)) << what << " " << round;
            EXPECT_GE(std::min(a.GetPointDepth(p, nullptr), b.GetPointDepth(p, nullptr)), -outside)
                << what << " " << round;

            EXPECT_LE(Overlap(a, b, c.normal), Overlap(a, b, c.normal * -1.0f) + 1e-3f)
                << what << " " << round;
        }
    }
    // Whether some point lies deeper than `margin` inside both shapes, by sampling the first's
    // local box.
    bool SampledOverlap(CollisionVolume& a, CollisionVolume& b, float margin) {
        const Aabb box = a.GetLocalBoundingBox();
        for (int i = 0; i < 4000; ++i) {
            const Float3 p =
                a.LocalToWorld(Float3(Uniform(box.min.x, box.max.x), Uniform(box.min.y, box.max.y),
                                      Uniform(box.min.z, box.max.z)));
            if (a.GetPointDepth(p, nullptr) > margin && b.GetPointDepth(p, nullptr) > margin) {
                return true;
            }
        }
        return false;
    }
    // The largest gap between the shapes along the given axes and their reverses.
    static float Gap(CollisionVolume& a, CollisionVolume& b, const std::vector<Float3>& axes) {
        float gap = -1e30f;
        for (const Float3& u : axes) {
            if (u.LengthSquared() < 1e-8f) {
                continue;
            }
            const Float3 n = u.NormalizedOrSelf();
            gap = std::max({gap, -Overlap(a, b, n), -Overlap(a, b, n * -1.0f)});
        }
        return gap;
    }

    // 400 placements of a and b: separated along a tested axis gives nothing, a clear overlap
    // gives contacts, and every contact passes CheckContacts. Returns the pairs separated only
    // along untested directions that still got contacts.
    template <class MakeA, class MakeB, class TestedAxes>
    int SeededPairs(const char* what, MakeA makeA, MakeB makeB, TestedAxes testedAxes,
                    float outside = 1e30f) {
        int untested = 0;
        for (int round = 0; round < 400; ++round) {
            CollisionVolume* a = makeA();
            CollisionVolume* b = makeB();
            const std::vector<CollisionContact> contacts = Collide(*a, *b);
            CheckContacts(*a, *b, contacts, what, round, outside);
            if (Gap(*a, *b, testedAxes(*a, *b)) > 1e-3f) {
                EXPECT_TRUE(contacts.empty()) << what << " " << round;
            } else if (SampledOverlap(*a, *b, 1e-2f)) {
                EXPECT_FALSE(contacts.empty()) << what << " " << round;

            } else if (!contacts.empty() && Gap(*a, *b, RandomDirections(2000)) > 1e-3f) {
                ++untested;
            }
            a->Delete();
            b->Delete();
        }
        std::printf("%s: %d pairs separated only along untested directions got contacts\n", what,
                    untested);
        return untested;
    }

    std::mt19937 random_{47};
};

class SeededCollisionTest : public CollisionTest, protected SeededPlacements {};

} // namespace quarn::test
