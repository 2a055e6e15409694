#pragma once

// What the physics benchmarks share: the scene description files they read (one "key values..."
// line each, '#' starting a comment) and a world of boxes, spheres and capsules on ball joints on
// a plane, built from nodes as a scene would hold them and stepped through the physics master.

#include "collision/CollisionBox.h"
#include "collision/CollisionCapsule.h"
#include "collision/CollisionPlane.h"
#include "collision/CollisionSpaceSweepnPrune.h"
#include "collision/CollisionSphere.h"
#include "core/math/Random.h"
#include "core/object/IdMap.h"
#include "core/scene/SceneClasses.h"
#include "physics/IslandStepIterative.h"
#include "physics/JointTypes.h"
#include "physics/PhysicsClasses.h"
#include "physics/PhysicsMaster.h"
#include "physics/RigidBody.h"
#include "render/RenderObject.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace quarn::bench {

class SceneSettings {
public:
    // A file that cannot be read ends the benchmark with the reason.
    explicit SceneSettings(const std::string& path) : path_(path) {
        std::ifstream file(path);
        if (!file) {
            std::fprintf(stderr, "cannot read the scene file %s\n", path.c_str());
            std::exit(1);
        }
        std::string line;
        while (std::getline(file, line)) {
            std::istringstream words(line.substr(0, line.find('#')));
            std::string key;
            if (!(words >> key)) {
                continue;
            }
            double value = 0.0;
            while (words >> value) {
                values_[key].push_back(value);
            }
        }
    }

    const std::vector<double>& List(const std::string& key) const {
        const auto found = values_.find(key);
        if (found == values_.end() || found->second.empty()) {
            std::fprintf(stderr, "the scene file %s has no \"%s\"\n", path_.c_str(), key.c_str());
            std::exit(1);
        }
        return found->second;
    }
    float Float(const std::string& key) const { return static_cast<float>(List(key)[0]); }
    int Int(const std::string& key) const { return static_cast<int>(List(key)[0]); }

private:
    std::string path_;
    std::map<std::string, std::vector<double>> values_;
};

// What a world is set up as.
enum class WorldKind {
    // Gravity along -Y, no damping, no idling, pyramid friction scaled by the normal force, the
    // plane y = 0 for floor.
    Measured,
    // The world as a scene leaves it (its defaults: damping, cone friction scaled by the normal
    // force) on a static box floor 40 m across whose top is y = 0, as users build one.
    User,
    // The same on a floor 120 m across, which a heap of thousands of boxes spreads over.
    UserWide,
};

// A physics world with a sweep-and-prune space, every solid volume tested against every other.
class BenchWorld {
public:
    BenchWorld(int32_t method, int32_t iterations, int32_t maxVolumes, float gravity = 10.0f,
               float timestep = 0.01f, WorldKind kind = WorldKind::Measured) {
        RegisterSceneClasses();
        RenderObject::RegisterClass();
        RegisterPhysicsClasses();
        SeedSolverRandom(0);
        root_ = std::make_unique<Node>();
        world_ = new PhysicsMaster();
        world_->AttachAsLast(root_.get());
        space_ = new CollisionSpaceSweepnPrune();
        space_->AttachAsLast(root_.get());
        space_->ChangeId(TheIdMap().GetFreeLocalId(0));
        space_->SetMaxVolumes(maxVolumes + 1);
        world_->SetCollisionSpaceId({space_->GetId()});
        world_->SetMethod(method);
        world_->SetIterations(iterations);
        world_->SetGravity(gravity);
        world_->SetTimestep(timestep);
        if (kind != WorldKind::Measured) {
            SeedRandom(0); // the cone friction's turns
            auto* floor = new CollisionBox();
            floor->AttachAsLast(root_.get());
            const float side = kind == WorldKind::User ? 40.0f : 120.0f;
            floor->SetSize(Float3(side, 1.0f, side));
            floor->SetPosition(Float3(0.0f, -0.5f, 0.0f));
            Join(*floor, CollSolid | CollStatic);
            return;
        }
        world_->SetDamping(0.0f);
        world_->SetAngularDamping(0.0f);
        world_->SetIdleThreshold(0.0f);
        world_->SetFrictionModel(2); // ADVANCED_PYRAMID
        auto* plane = new CollisionPlane();
        plane->AttachAsLast(root_.get());
        plane->SetWorldSide(1); // +Y
        Join(*plane, CollSolid | CollStatic);
    }
    // The id map hands out each id once: without a fresh map, a few worlds of ten thousand
    // bodies would leave none for the next world's space.
    ~BenchWorld() {
        joints_.clear(); // before their bodies go
        root_.reset();
        TheIdMap().Clear();
    }
    BenchWorld(const BenchWorld&) = delete;
    BenchWorld& operator=(const BenchWorld&) = delete;

    RigidBody* AddBox(Float3 position, Float3 size, Quaternion turn = Quaternion(),
                      float density = 1.0f) {
        RigidBody* body = NewBody(position);
        body->SetOrientation(turn);
        auto* box = new CollisionBox();
        box->SetSize(size);
        box->SetDensity(density);
        box->AttachAsLast(body);
        Join(*box, CollSolid);
        return body;
    }
    // Its axis along the body's z.
    RigidBody* AddCapsule(Float3 position, float length, float radius, Quaternion turn) {
        RigidBody* body = NewBody(position);
        body->SetOrientation(turn);
        auto* capsule = new CollisionCapsule();
        capsule->SetLength(length);
        capsule->SetCapsuleRadius(radius);
        capsule->AttachAsLast(body);
        Join(*capsule, CollSolid);
        return body;
    }
    // A ball joint holding a to b (null: the world) at the world point.
    void AddBallJoint(RigidBody* a, RigidBody* b, Float3 point) {
        auto joint = std::make_unique<BallJoint>();
        joint->SetAnchors(Anchor(a, point), Anchor(b, point));
        joint->Attach(a, b);
        joints_.push_back(std::move(joint));
    }
    RigidBody* AddSphere(Float3 position, float radius, float density = 1.0f) {
        RigidBody* body = NewBody(position);
        auto* sphere = new CollisionSphere();
        sphere->SetSphereRadius(radius);
        sphere->SetDensity(density);
        sphere->AttachAsLast(body);
        Join(*sphere, CollSolid);
        return body;
    }

    void Step() { world_->Step(world_->GetTimestep()); }
    PhysicsMaster& World() { return *world_; }
    const std::vector<RigidBody*>& Bodies() const { return bodies_; }
    const std::vector<std::unique_ptr<Joint>>& Joints() const { return joints_; }

private:
    RigidBody* NewBody(Float3 position) {
        auto* body = new RigidBody();
        body->AttachAsLast(root_.get());
        body->SetPosition(position);
        body->SetWorld(world_);
        bodies_.push_back(body);
        return body;
    }
    Pivot* Anchor(RigidBody* body, Float3 point) {
        auto* anchor = new Pivot();
        anchor->AttachAsLast(body ? static_cast<Node*>(body) : root_.get());
        anchor->SetWorldPosition(point);
        return anchor;
    }
    void Join(CollisionVolume& volume, uint32_t flags) {
        volume.SetCollFlags(flags);
        volume.SetCollMask(CollSolid);
        volume.SetCollTest(CollSolid);
        space_->AddVolume(volume);
    }

    std::unique_ptr<Node> root_;
    PhysicsMaster* world_ = nullptr;
    CollisionSpaceSweepnPrune* space_ = nullptr;
    std::vector<RigidBody*> bodies_;
    std::vector<std::unique_ptr<Joint>> joints_;
};

} // namespace quarn::bench
