// The collision spaces' broad phase alone, per physics step: the boxes of BroadPhaseScene move,
// then the space runs Prepare and Collide with a callback that only counts. The sweep-and-prune
// and the hash space see the same boxes; their candidate pairs are checked against a brute-force
// count before anything is timed. Prints ms per step (median and the spread of the rounds) and
// the candidate pairs of the last step.
#include "bench/BenchTiming.h"
#include "bench/BroadPhaseScene.h"
#include "collision/CollisionClasses.h"
#include "collision/CollisionSpaceHash.h"
#include "collision/CollisionSpaceSweepnPrune.h"
#include "collision/CollisionVolume.h"
#include "core/object/ClassInfo.h"
#include "core/scene/SceneClasses.h"

#include <cstdio>
#include <memory>
#include <type_traits>
#include <vector>

namespace {

using namespace quarn;

// A turned unit box as the broad phase sees it: its world box only.
class BenchBox : public CollisionVolume {
public:
    explicit BenchBox(Float3 halfExtent) : CollisionVolume(0), halfExtent_(halfExtent) {}
    float GetRadius() override { return halfExtent_.Length(); }
    Float3 GetSupportPoint(Float3) override { return GetWorldPosition(); }
    float GetSupportDistance(Float3) override { return 0.0f; }
    void DrawShape() override {}
    void UpdateMassProperties() override {}
    void UpdateWorldBoundingBox() override {
        const Float3 p = GetWorldPosition();
        worldBox_ = {p - halfExtent_, p + halfExtent_};
    }

private:
    Float3 halfExtent_;
};

int pairCount = 0;
void CountPair(void*, CollisionVolume&, CollisionVolume&) {
    ++pairCount;
}

int BruteForcePairs(const std::vector<BenchBox*>& boxes) {
    int count = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
        const Aabb a = boxes[i]->GetWorldBoundingBox();
        for (size_t j = i + 1; j < boxes.size(); ++j) {
            const Aabb b = boxes[j]->GetWorldBoundingBox();
            count += a.max.x >= b.min.x && b.max.x >= a.min.x && a.max.y >= b.min.y &&
                     b.max.y >= a.min.y && a.max.z >= b.min.z && b.max.z >= a.min.z;
        }
    }
    return count;
}

template <class Space>
void Run(const char* name, int count) {
    bench::BroadPhaseScene scene(count);
    auto* space = static_cast<Space*>(Space::RegisterClass()->CreateInstance());
    if constexpr (std::is_same_v<Space, CollisionSpaceSweepnPrune>) {
        space->SetMaxVolumes(count);
    }
    std::vector<BenchBox*> boxes;
    for (const bench::BroadPhaseBox& b : scene.Boxes()) {
        auto* box = new BenchBox(b.halfExtent);
        box->SetCollMask(CollSolid);
        box->SetCollTest(CollSolid);
        box->SetPosition(b.position);
        space->AddVolume(*box);
        boxes.push_back(box);
    }
    auto step = [&] {
        scene.Step();
        for (size_t i = 0; i < boxes.size(); ++i) {
            boxes[i]->SetPosition(scene.Boxes()[i].position);
        }
        pairCount = 0;
        space->Prepare();
        space->Collide(nullptr, CountPair);
    };
    step();
    const int expected = BruteForcePairs(boxes);
    if (pairCount != expected) {
        std::printf("%s %d: %d candidate pairs, brute force finds %d\n", name, count, pairCount,
                    expected);
    }
    const bench::Timing timing = bench::TimeRounds(step);
    std::printf("%-22s %6d boxes %9.3f ms/step  (rounds %.3f-%.3f)  %6d pairs\n", name, count,
                timing.median, timing.min, timing.max, pairCount);
    space->Delete();
    for (BenchBox* box : boxes) {
        box->Delete();
    }
}

} // namespace

int main() {
    RegisterSceneClasses();
    RenderObject::RegisterClass();
    RegisterCollisionClasses();
    for (int count : {1000, 4000, 16000}) {
        Run<CollisionSpaceSweepnPrune>("sweep-and-prune", count);
        Run<CollisionSpaceHash>("hash", count);
    }
    return 0;
}
