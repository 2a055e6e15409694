#pragma once

// Bodies, volumes and a world placed by hand for the dynamics tests, and the harness that turns
// narrow-phase contacts into contact joints each step as the world does.

#include "collision/CollisionBox.h"
#include "collision/CollisionContact.h"
#include "collision/CollisionPlane.h"
#include "collision/CollisionSpace.h"
#include "collision/CollisionSpaceSweepnPrune.h"
#include "collision/CollisionSphere.h"
#include "core/math/Random.h"
#include "core/scene/SceneClasses.h"
#include "physics/ContactJoint.h"
#include "physics/IslandStepIterative.h"
#include "physics/IslandStepLCP.h"
#include "physics/LCPSolver.h"
#include "physics/PhysicsClasses.h"
#include "physics/PhysicsMaster.h"
#include "physics/RigidBody.h"
#include "render/RenderObject.h"
#include "tests/support/TestTree.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

namespace quarn::test {

// Joins a volume to a space, meeting the volumes its own flags (static aside) name.
template <class V>
V* JoinSpace(CollisionSpace& space, V* volume, uint32_t flags) {
    volume->SetCollFlags(flags);
    volume->SetCollMask(flags & ~CollStatic);
    volume->SetCollTest(flags & ~CollStatic);
    space.AddVolume(*volume);
    return volume;
}

// The rows of one joint as the island step lays them out: eight floats a row.
struct JointRows {
    float J1[3 * 8] = {};
    float J2[3 * 8] = {};
    float c[3] = {};
    float cfm[3] = {0.5f, 0.5f, 0.5f};
    float lo[3] = {-LCPInfinity, -LCPInfinity, -LCPInfinity};
    float hi[3] = {LCPInfinity, LCPInfinity, LCPInfinity};
    int32_t findex[3] = {-1, -1, -1};
    JointInfo1 info1;

    void Fill(Joint& joint, float fps = 100.0f, float erp = 0.2f) {
        joint.GetInfo1(info1);
        JointInfo2 info;
        info.fps = fps;
        info.erp = erp;
        info.J1l = J1;
        info.J1a = J1 + 4;
        info.J2l = J2;
        info.J2a = J2 + 4;
        info.rowSkip = 8;
        info.c = c;
        info.cfm = cfm;
        info.lo = lo;
        info.hi = hi;
        info.findex = findex;
        joint.GetInfo2(info);
    }
    Float3 Linear1(int row) const { return {J1[row * 8], J1[row * 8 + 1], J1[row * 8 + 2]}; }
    Float3 Angular1(int row) const { return {J1[row * 8 + 4], J1[row * 8 + 5], J1[row * 8 + 6]}; }
    Float3 Linear2(int row) const { return {J2[row * 8], J2[row * 8 + 1], J2[row * 8 + 2]}; }
};

class PhysicsTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSceneClasses();
        RenderObject::RegisterClass();
        RegisterPhysicsClasses();
        world_ = tree_.Make<PhysicsMaster>("world");
        world_->SetCfm(1e-5f);
    }

    // A world of boxes that collides in a sweep space of its own, with both random draws
    // (friction turns, the sweeps' row order) seeded, so that its steps repeat whatever test ran
    // before.
    CollisionSpaceSweepnPrune* UseSweepSpace(int32_t maxVolumes) {
        CollisionBox::RegisterClass();
        SeedRandom(7);
        SeedSolverRandom(0);
        auto* space = SweepSpace("space", maxVolumes);
        world_->SetCollisionSpaceId({space->GetId()});
        return space;
    }
    CollisionSpaceSweepnPrune* SweepSpace(const char* name, int32_t maxVolumes) {
        auto* space = tree_.MakeWithId<CollisionSpaceSweepnPrune>(name);
        space->SetMaxVolumes(maxVolumes);
        return space;
    }

    RigidBody* Body(Float3 position, Node* parent = nullptr) {
        auto* body = tree_.Make<RigidBody>("body", parent);
        body->SetPosition(position);
        body->SetWorld(world_);
        return body;
    }
    // A sphere volume at a local offset below the body (or free when body is null).
    CollisionSphere* Sphere(Node* body, Float3 offset, float radius) {
        // Placed before it joins the body, which takes its mass data when it attaches.
        auto* sphere = tree_.Make<CollisionSphere>("sphere");
        sphere->SetSphereRadius(radius);
        sphere->SetPosition(offset);
        if (body) {
            sphere->AttachAsLast(body);
        }
        return sphere;
    }
    CollisionPlane* Ground() {
        auto* plane = tree_.Make<CollisionPlane>("ground");
        plane->SetWorldSide(1); // +Y
        return plane;
    }

    // One step of the pairs as the world makes their contacts: narrow phase, normals and
    // positions back to world space, one pooled joint per contact, then the island.
    void Step(std::vector<RigidBody*> bodies,
              const std::vector<std::pair<CollisionVolume*, CollisionVolume*>>& pairs, float mu,
              float gravity) {
        for (auto& joint : contacts_) {
            joint->Release();
        }
        size_t used = 0;
        for (auto [a, b] : pairs) {
            std::array<CollisionContact, 100> found;
            const int count = CollidePair(*a, *b, 100, found);
            for (int i = 0; i < count; ++i) {
                if (used == contacts_.size()) {
                    contacts_.push_back(std::make_unique<ContactJoint>());
                }
                ContactJoint& joint = *contacts_[used++];
                joint.Prepare(world_);
                joint.position = found[i].position * -1.0f;
                joint.normal = found[i].normal * -1.0f;
                joint.depth = found[i].depth;
                joint.surface.mode = ContactSoftErp | ContactSoftCfm;
                joint.surface.mu = mu;
                joint.surface.softErp = 0.5f;
                joint.surface.softCfm = 1e-5f;
                joint.surface.minDepth = world_->GetContactMinDepth();
                joint.SetVolumes(a, b);
                joint.Attach(static_cast<RigidBody*>(a->GetBody()),
                             static_cast<RigidBody*>(b->GetBody()));
            }
        }
        std::vector<Joint*> joints;
        for (size_t i = 0; i < used; ++i) {
            joints.push_back(contacts_[i].get());
        }
        for (RigidBody* body : bodies) {
            body->AddForce(Float3(0.0f, -gravity * body->GetMass(), 0.0f));
        }
        StepIslandLCP(bodies.data(), static_cast<int32_t>(bodies.size()), joints.data(),
                      static_cast<int32_t>(joints.size()), world_->GetTimestep(), world_->GetCfm(),
                      world_->GetErp(), world_->GetScratch());
    }

    void TearDown() override {
        contacts_.clear();
    }

    TestTree tree_;
    PhysicsMaster* world_ = nullptr;
    std::vector<std::unique_ptr<ContactJoint>> contacts_;
};

} // namespace quarn::test
