// The physics world alone, as scaling figures: a rain of spheres dropped onto the plane and a
// brick pyramid of boxes standing on it, each stepped through the physics master with the exact
// (LCP) and the iterative (ITERATIVE, 20 sweeps) solver. Per case: ms per step over the whole
// run (the median of 5 runs, the fastest and slowest beside it), split by phase (broad phase,
// contacts made by the narrow phase, finding the islands, their solve), contacts per step and the
// memory the broad phase and the island steps hold at the end of the run; the pyramid also gives
// how far its top box moved in 10 s. A crowd of spheres dropped on one spot shows that a step's
// time and memory stay bounded when nearly every pair of bodies overlaps. Then the exact step
// against the iterative one at the world's default sweeps, in alternating runs, on scenes whose
// islands are large: a heap of 1,600 boxes dropped in columns and stacks of 40 and 60 boxes.
#include "bench/BenchTiming.h"
#include "bench/PhysicsBenchWorld.h"
#include "collision/BroadPhaseMemory.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace quarn;

struct RunFigures {
    double step = 0.0; // ms per step, and its phases
    double collision = 0.0;
    double contacts = 0.0;
    double islands = 0.0;
    double solve = 0.0;
    double contactJoints = 0.0; // per step
    double megabytes = 0.0;     // the broad phase's live memory and the island steps' scratch
    bool watched = false;
    float drift = 0.0f;
};

// Builds the scene into the world and answers the body whose drift is reported (or null).
using SceneBuilder = std::function<RigidBody*(bench::BenchWorld&)>;

RunFigures RunOnce(const SceneBuilder& build, int count, int32_t method, int steps,
                   int32_t iterations = 20) {
    const size_t broadPhaseBefore = DefaultAllocator::Instance().GetLiveBytes();
    bench::BenchWorld world(method, iterations, count);
    RigidBody* watched = build(world);
    const Float3 start = watched ? watched->GetWorldPosition() : Float3();
    PhysicsMaster& master = world.World();
    master.SetPhaseTiming(true);
    RunFigures figures;
    using Clock = std::chrono::steady_clock;
    for (int i = 0; i < steps; ++i) {
        const Clock::time_point before = Clock::now();
        world.Step();
        figures.step += std::chrono::duration<double, std::milli>(Clock::now() - before).count();
        const PhysicsMaster::PhaseTimes& phases = master.GetPhaseTimes();
        figures.collision += phases.collision * 1000.0;
        figures.contacts += phases.contacts * 1000.0;
        figures.islands += phases.islands * 1000.0;
        figures.solve += phases.solve * 1000.0;
        figures.contactJoints += master.GetContactCount();
    }
    for (double* value : {&figures.step, &figures.collision, &figures.contacts, &figures.islands,
                          &figures.solve, &figures.contactJoints}) {
        *value /= steps;
    }
    figures.megabytes = static_cast<double>(DefaultAllocator::Instance().GetLiveBytes() -
                                            broadPhaseBefore + master.GetScratch().Capacity()) /
                        (1024.0 * 1024.0);
    figures.watched = watched != nullptr;
    figures.drift = watched ? (watched->GetWorldPosition() - start).Length() : 0.0f;
    return figures;
}

void Report(const char* name, const SceneBuilder& build, int count, int steps) {
    for (int32_t method : {PhysicsLcp, PhysicsIterative}) {
        std::vector<RunFigures> runs;
        std::vector<double> stepTimes;
        for (int r = 0; r < bench::Rounds; ++r) {
            runs.push_back(RunOnce(build, count, method, steps));
            stepTimes.push_back(runs.back().step);
        }
        std::sort(stepTimes.begin(), stepTimes.end());
        const bench::Timing timing = bench::Summarise(stepTimes);
        // The phases of the run whose step time was the median.
        const RunFigures* median = &runs[0];
        for (const RunFigures& run : runs) {
            if (run.step == timing.median) {
                median = &run;
            }
        }
        const std::string label =
            std::string(name) + (method == PhysicsLcp ? " LCP" : " ITERATIVE 20");
        char spread[48];
        std::snprintf(spread, sizeof spread, "%.3f-%.3f", timing.min, timing.max);
        std::printf("%-32s %8.3f %15s %10.3f %10.3f %10.3f %10.3f %10.1f %8.1f", label.c_str(),
                    timing.median, spread, median->collision, median->contacts, median->islands,
                    median->solve, median->contactJoints, median->megabytes);
        if (median->watched) {
            std::printf("   top box moved %.4f", static_cast<double>(median->drift));
        }
        std::printf("\n");
    }
}

// side x side spheres of radius 0.5, 1.5 apart, each at one of eight heights: they land one
// after another and come to rest apart, each its own island.
SceneBuilder Rain(int side) {
    return [side](bench::BenchWorld& world) -> RigidBody* {
        for (int i = 0; i < side; ++i) {
            for (int k = 0; k < side; ++k) {
                const float height = 2.0f + static_cast<float>((i * 7 + k * 3) % 8) * 0.5f;
                world.AddSphere(Float3((i - side * 0.5f) * 1.5f, height, (k - side * 0.5f) * 1.5f),
                                0.5f);
            }
        }
        return nullptr;
    };
}

// Rows of 4, 3, 2 and 1 unit boxes, each row on the joints of the one below, 0.02 apart.
RigidBody* Pyramid(bench::BenchWorld& world) {
    RigidBody* top = nullptr;
    for (int row = 0; row < 4; ++row) {
        const int count = 4 - row;
        for (int i = 0; i < count; ++i) {
            top = world.AddBox(Float3((i - (count - 1) * 0.5f) * 1.02f, 0.5f + row, 0.0f),
                               Float3(1.0f, 1.0f, 1.0f));
        }
    }
    return top;
}

// Unit boxes in a lattice of nx x ny x nz, 0.05 apart, dropped 0.05 onto the plane: each column
// lands on itself and rests as a stack of ny, its own island.
SceneBuilder Heap(int nx, int ny, int nz) {
    return [nx, ny, nz](bench::BenchWorld& world) -> RigidBody* {
        RigidBody* top = nullptr;
        for (int j = 0; j < ny; ++j) {
            for (int i = 0; i < nx; ++i) {
                for (int k = 0; k < nz; ++k) {
                    top = world.AddBox(Float3((i - (nx - 1) * 0.5f) * 1.05f, 0.55f + j * 1.05f,
                                              (k - (nz - 1) * 0.5f) * 1.05f),
                                       Float3(1.0f, 1.0f, 1.0f));
                }
            }
        }
        return top;
    };
}

// count unit boxes on each other, each sunk by the depth contacts leave uncorrected: at rest.
SceneBuilder Stack(int count) {
    return [count](bench::BenchWorld& world) -> RigidBody* {
        const float depth = world.World().GetContactMinDepth();
        RigidBody* top = nullptr;
        for (int i = 0; i < count; ++i) {
            top = world.AddBox(Float3(0.0f, 0.5f - depth + i * (1.0f - depth), 0.0f),
                               Float3(1.0f, 1.0f, 1.0f));
        }
        return top;
    };
}

// The exact step's ms per step against the iterative step's at the world's default sweeps, runs
// of the two alternating.
void CompareMethods(bench::RatioTable& table, const char* name, const SceneBuilder& build,
                    int count, int steps) {
    std::vector<double> exact;
    std::vector<double> iterative;
    for (int r = 0; r < bench::Rounds; ++r) {
        exact.push_back(RunOnce(build, count, PhysicsLcp, steps).step);
        iterative.push_back(
            RunOnce(build, count, PhysicsIterative, steps, PhysicsMaster::DefaultIterations).step);
    }
    std::sort(exact.begin(), exact.end());
    std::sort(iterative.begin(), iterative.end());
    table.Row(name, bench::Summarise(exact), bench::Summarise(iterative));
}

// count spheres of radius 0.5 all on one spot, resting on the plane: every pair overlaps, far
// more than the pair cache holds.
RigidBody* Crowd(bench::BenchWorld& world, int count) {
    for (int i = 0; i < count; ++i) {
        world.AddSphere(Float3(0.0f, 0.5f, 0.0f), 0.5f);
    }
    return nullptr;
}

} // namespace

int main() {
    std::printf("physics world per step (ms; median of %d runs)\n", bench::Rounds);
    std::printf("%-32s %8s %15s %10s %10s %10s %10s %10s %8s\n", "case", "step", "rounds", "broad",
                "contacts", "islands", "solve", "joints", "MB");
    Report("rain 256 spheres", Rain(16), 256, 300);
    Report("rain 1024 spheres", Rain(32), 1024, 300);
    Report("pyramid 10 boxes", SceneBuilder(Pyramid), 10, 1000);
    for (int count : {1000, 10000}) {
        Report(("crowd " + std::to_string(count) + " spheres").c_str(),
               [count](bench::BenchWorld& world) { return Crowd(world, count); }, count, 20);
    }
    bench::RatioTable table("exact step (ms per step)", "ITERATIVE");
    CompareMethods(table, "heap 1600 boxes, 10 x 16 x 10", Heap(10, 16, 10), 1600, 200);
    CompareMethods(table, "stack 40 boxes", Stack(40), 40, 500);
    CompareMethods(table, "stack 60 boxes", Stack(60), 60, 500);
    table.PrintSummary();
    return 0;
}
