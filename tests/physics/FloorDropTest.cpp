#include "collision/CollisionBox.h"
#include "collision/CollisionCapsule.h"
#include "collision/CollisionCylinder.h"
#include "collision/CollisionMesh.h"
#include "collision/CollisionSpaceSweepnPrune.h"
#include "collision/CollisionSphere.h"
#include "core/math/Random.h"
#include "core/scene/SceneClasses.h"
#include "physics/IslandStepIterative.h"
#include "physics/PhysicsClasses.h"
#include "physics/PhysicsMaster.h"
#include "physics/RigidBody.h"
#include "render/RenderObject.h"
#include "tests/physics/PhysicsTestSupport.h"
#include "tests/resources/MeshTestSupport.h"
#include "tests/support/TestTree.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace quarn::test {
namespace {

// Shapes dropped onto floors of 40 m to 1 km in the default world: where they land on the floor
// must not matter, nor how far they fell.
enum class FloorKind { Quad, Slab, Box };
enum class Dropped { Box, Sphere, CapsuleLying, CapsuleStanding, CylinderLying, CylinderStanding };

struct DropCase {
    FloorKind floor;
    float size;
    int32_t method;
};

class FloorDrop : public ::testing::TestWithParam<DropCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.Create(0, nullptr, 16, 16)) << device_.GetErrorText();
        RegisterSceneClasses();
        RenderObject::RegisterClass();
        Mesh::RegisterClass();
        RegisterPhysicsClasses();
        SeedRandom(7);
        SeedSolverRandom(0);
        world_ = tree_.Make<PhysicsMaster>("world");
        world_->SetMethod(GetParam().method);
        // At its default 5 sweeps the iterative solve never lets a body settle.
        world_->SetIterations(20);
        auto* space = tree_.MakeWithId<CollisionSpaceSweepnPrune>("space");
        space->SetMaxVolumes(16);
        space_ = space;
        world_->SetCollisionSpaceId({space->GetId()});
        JoinSpace(*space_, MakeFloor(GetParam().floor), CollSolid | CollStatic);
    }

    // Its top at y = 0, centred on the origin.
    CollisionVolume* MakeFloor(FloorKind kind) {
        const float size = GetParam().size;
        const float h = size * 0.5f;
        if (kind == FloorKind::Box) {
            auto* box = tree_.Make<CollisionBox>("floor");
            box->SetSize(Float3(size, 1.0f, size));
            box->SetPosition(Float3(0.0f, -0.5f, 0.0f));
            return box;
        }
        Mesh* mesh = GetMesh("floor.obj", "_collision");
        if (kind == FloorKind::Quad) {
            // Wound clockwise seen from above, as outward faces are.
            Build(*mesh, {{-h, 0, -h}, {-h, 0, h}, {h, 0, h}, {h, 0, -h}}, {0, 2, 1, 0, 3, 2});
        } else {
            BuildCube(*mesh);
            const std::vector<int> indices = Indices(*mesh);
            std::vector<Float3> corners;
            for (int i = 0; i < 8; ++i) {
                corners.emplace_back(i & 1 ? h : -h, i & 2 ? 0.0f : -1.0f, i & 4 ? h : -h);
            }
            Build(*mesh, corners, indices);
        }
        auto* floor = tree_.Make<CollisionMesh>("floor");
        floor->SetMesh("floor.obj");
        mesh->Release();
        return floor;
    }

    // A body whose shape's lowest point starts `height` above the floor's top.
    CollisionVolume* Drop(Dropped shape, Float3 place, float height) {
        // A quarter turn as a scene keeps it: the axis exactly along Y.
        const Quaternion standing(0.7071068f, 0.0f, 0.0f, 0.7071068f);
        CollisionVolume* volume = nullptr;
        float half = 0.5f;
        switch (shape) {
        case Dropped::Box: {
            auto* box = tree_.Make<CollisionBox>("box");
            box->SetSize(Float3(1, 1, 1));
            volume = box;
            break;
        }
        case Dropped::Sphere: {
            auto* sphere = tree_.Make<CollisionSphere>("sphere");
            sphere->SetSphereRadius(0.5f);
            volume = sphere;
            break;
        }
        case Dropped::CapsuleLying:
        case Dropped::CapsuleStanding: {
            auto* capsule = tree_.Make<CollisionCapsule>("capsule");
            capsule->SetCapsuleRadius(0.25f);
            capsule->SetLength(1.0f);
            const bool stands = shape == Dropped::CapsuleStanding;
            half = stands ? 0.75f : 0.25f;
            capsule->SetOrientation(stands ? standing : Quaternion());
            volume = capsule;
            break;
        }
        case Dropped::CylinderLying:
        case Dropped::CylinderStanding: {
            auto* cylinder = tree_.Make<CollisionCylinder>("cylinder");
            cylinder->SetCylinderRadius(0.5f);
            cylinder->SetLength(1.0f);
            cylinder->SetOrientation(shape == Dropped::CylinderStanding ? standing : Quaternion());
            volume = cylinder;
            break;
        }
        }
        body_ = tree_.Make<RigidBody>("body");
        body_->SetPosition(place + Float3(0.0f, height + half, 0.0f));
        body_->SetWorld(world_);
        volume->AttachAsLast(body_);
        return JoinSpace(*space_, volume, CollSolid);
    }

    static float Bottom(CollisionVolume& volume) {
        return volume.GetSupportPoint(Float3(0.0f, -1.0f, 0.0f)).y;
    }

    GpuRenderDevice device_{&SoftwareDevice::Create};
    TestTree tree_;
    PhysicsMaster* world_ = nullptr;
    CollisionSpace* space_ = nullptr;
    RigidBody* body_ = nullptr;
};

// The world pushes an overlap out at this share of its depth beyond the least per step, up to
// its contact speed limit: what carries a body up again after the step it lands in.
constexpr float PushPerStep = 0.5f;

TEST_P(FloorDrop, EveryShapeRestsOnTheFloorWhereverItLandsAndFromAnyHeight) {
    const struct {
        const char* name;
        Dropped shape;
    } shapes[] = {{"box", Dropped::Box},
                  {"sphere", Dropped::Sphere},
                  {"lying capsule", Dropped::CapsuleLying},
                  {"standing capsule", Dropped::CapsuleStanding},
                  {"lying cylinder", Dropped::CylinderLying},
                  {"standing cylinder", Dropped::CylinderStanding}};
    // The centre and a diagonal, where support points of the floor tie, and a place off both.
    const float size = GetParam().size;
    const Float3 places[] = {
        {0, 0, 0}, {0.175f * size, 0, -0.175f * size}, {0.125f * size, 0, 0.275f * size}};
    // The 40 m floors take every height; the larger ones two, to keep the test short.
    const std::vector<float> heights = size == 40.0f ? std::vector<float>{0.5f, 2.0f, 10.0f, 20.0f}
                                                     : std::vector<float>{1.5f, 8.0f};
    const float h = world_->GetTimestep();
    const float g = world_->GetGravity();
    // A contact settles where push-out begins; the iterative solve rests a little lower.
    const float resting = world_->GetContactMinDepth() + 0.005f;
    for (const auto& shape : shapes) {
        for (const Float3& place : places) {
            for (float height : heights) {
                CollisionVolume* volume = Drop(shape.shape, place, height);
                const std::string what = std::string(shape.name) + " from " +
                                         std::to_string(height) + " m at " +
                                         std::to_string(place.x) + ", " + std::to_string(place.z);
                const int falling = static_cast<int>(std::sqrt(2.0f * height / g) / h);
                bool landed = false;
                bool rested = false;
                float deepest = 0.0f;
                float highest = 0.0f;
                float highestAtRest = 0.0f;
                float lastHalfSecond = 0.0f;
                const int steps = falling + 150;
                for (int step = 0; step < steps; ++step) {
                    world_->Step(h);
                    const float bottom = Bottom(*volume);
                    landed = landed || bottom < 0.0f;
                    if (!landed) {
                        continue;
                    }
                    deepest = std::min(deepest, bottom);
                    highest = std::max(highest, bottom);
                    rested = rested || (std::fabs(bottom) < resting &&
                                        body_->GetLinearVelocity().Length() < 0.1f);
                    if (rested) {
                        highestAtRest = std::max(highestAtRest, bottom);
                    }
                    if (step >= steps - 50) {
                        lastHalfSecond = std::max(lastHalfSecond, std::fabs(bottom));
                    }
                }
                const float sunk = std::max(0.0f, -deepest - world_->GetContactMinDepth());
                const float push = std::min(world_->GetContactMaxVel(), PushPerStep / h * sunk);
                EXPECT_TRUE(rested) << what;
                EXPECT_LT(highest, push * push / (2.0f * g) + 0.01f)
                    << what << ", sunk " << -deepest;
                EXPECT_LT(highestAtRest, 0.03f) << what;
                EXPECT_LT(lastHalfSecond, resting) << what;
                body_->Delete();
            }
        }
    }
}

std::vector<DropCase> DropCases() {
    std::vector<DropCase> cases;
    for (FloorKind floor : {FloorKind::Quad, FloorKind::Slab, FloorKind::Box}) {
        for (float size : {40.0f, 60.0f, 200.0f, 1000.0f}) {
            for (int32_t method : {PhysicsLcp, PhysicsIterative}) {
                cases.push_back({floor, size, method});
            }
        }
    }
    return cases;
}

std::string DropCaseName(const ::testing::TestParamInfo<DropCase>& info) {
    const DropCase& c = info.param;
    const char* floors[] = {"Quad", "Slab", "Box"};
    return floors[static_cast<int>(c.floor)] + std::to_string(static_cast<int>(c.size)) +
           (c.method == PhysicsLcp ? "Lcp" : "Iterative");
}

INSTANTIATE_TEST_SUITE_P(Floors, FloorDrop, ::testing::ValuesIn(DropCases()), DropCaseName);

} // namespace
} // namespace quarn::test
