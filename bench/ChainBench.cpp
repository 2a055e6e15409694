// A chain of ball-jointed links hanging from the world, stepped by the exact island step: time
// per step and the largest gap between joined anchors over the run. The chain starts
// horizontal and swings down for 3 s (300 steps), then starts again, so every run times the
// same motion.
#include "core/scene/SceneClasses.h"
#include "physics/IslandStepLCP.h"
#include "physics/JointTypes.h"
#include "physics/PhysicsClasses.h"
#include "physics/PhysicsMaster.h"
#include "physics/RigidBody.h"
#include "physics/ScratchArena.h"
#include "render/RenderObject.h"
#include "collision/CollisionSphere.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <memory>
#include <vector>

namespace {

using namespace quarn;

struct Chain {
    std::unique_ptr<Node> root;
    PhysicsMaster* world = nullptr;
    std::vector<RigidBody*> bodies;
    std::vector<std::unique_ptr<Joint>> joints;
    std::vector<Joint*> jointList;

    explicit Chain(int links) {
        RegisterSceneClasses();
        RenderObject::RegisterClass();
        RegisterPhysicsClasses();
        root = std::make_unique<Node>();
        world = new PhysicsMaster();
        world->AttachAsLast(root.get());
        auto anchorAt = [&](Node* parent, Float3 position) {
            auto* anchor = new Pivot();
            anchor->AttachAsLast(parent ? parent : root.get());
            anchor->SetWorldPosition(position);
            return anchor;
        };
        Pivot* previous = anchorAt(nullptr, Float3());
        RigidBody* previousBody = nullptr;
        for (int i = 0; i < links; ++i) {
            auto* body = new RigidBody();
            body->AttachAsLast(root.get());
            body->SetPosition(Float3(0.5f + i, 0.0f, 0.0f));
            auto* sphere = new CollisionSphere();
            sphere->SetSphereRadius(0.2f);
            sphere->AttachAsLast(body);
            body->SetWorld(world);
            auto joint = std::make_unique<BallJoint>();
            joint->SetAnchors(anchorAt(body, Float3(float(i), 0.0f, 0.0f)), previous);
            joint->Attach(body, previousBody);
            jointList.push_back(joint.get());
            joints.push_back(std::move(joint));
            previous = anchorAt(body, Float3(i + 1.0f, 0.0f, 0.0f));
            previousBody = body;
            bodies.push_back(body);
        }
    }
    ~Chain() {
        joints.clear();
        root.reset();
    }

    void Step() {
        for (RigidBody* body : bodies) {
            body->AddForce(Float3(0.0f, -9.81f * body->GetMass(), 0.0f));
        }
        StepIslandLCP(bodies.data(), static_cast<int32_t>(bodies.size()), jointList.data(),
                      static_cast<int32_t>(jointList.size()), 0.01f, world->GetCfm(),
                      world->GetErp(), world->GetScratch());
    }
    float Separation() {
        float worst = 0.0f;
        for (Joint* joint : jointList) {
            worst = std::max(worst, (joint->GetAnchor(0)->GetWorldPosition() -
                                     joint->GetAnchor(1)->GetWorldPosition())
                                        .Length());
        }
        return worst;
    }
};

void BM_BallChainStepLCP(benchmark::State& state) {
    constexpr int StepsPerSwing = 300;
    const int links = static_cast<int>(state.range(0));
    auto chain = std::make_unique<Chain>(links);
    float worst = 0.0f;
    int steps = 0;
    for (auto _ : state) {
        chain->Step();
        state.PauseTiming();
        worst = std::max(worst, chain->Separation());
        if (++steps % StepsPerSwing == 0) {
            chain.reset();
            chain = std::make_unique<Chain>(links);
        }
        state.ResumeTiming();
    }
    state.counters["links"] = static_cast<double>(state.range(0));
    state.counters["max_separation"] = worst;
}

} // namespace

BENCHMARK(BM_BallChainStepLCP)->Arg(10)->Arg(50)->Arg(100)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
