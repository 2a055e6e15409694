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

#include <gtest/gtest.h>
#include <random>

namespace quarn::test {

class CollisionTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSceneClasses();
        RenderObject::RegisterClass();
        RegisterCollisionClasses();
    }

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

// Shapes placed at random from a fixed seed, so a failing round can be found again.
class SeededCollisionTest : public CollisionTest {
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

    std::mt19937 random_{47};
};

// A contact as a world point (colliders write positions negated).
inline Float3 WorldPosition(const CollisionContact& contact) {
    return contact.position * -1.0f;
}

} // namespace quarn::test
