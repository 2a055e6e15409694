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
// Then the same two methods on scenes as users build them, with the worst step beside the mean:
// boxes tumbling into one heap, a tall stack placed touching, pyramids, walls and towers, a wall
// struck by a ball, and crowds of thousands of boxes or balls falling onto a floor. Last chains
// with heavy ends swinging at once, against the same chains with like ends.
#include "bench/BenchTiming.h"
#include "bench/PhysicsBenchWorld.h"
#include "collision/BroadPhaseMemory.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
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
    double worst = 0.0;         // ms of the slowest step
    int overFifty = 0; // steps that took more than 50 ms, which a game shows as a frozen frame
    bool watched = false;
    float drift = 0.0f;
    float startTop = 0.0f; // the highest body at the start
    // How the scene ended: the lowest body above the floor, the highest and the fastest one.
    float lowest = 0.0f;
    float highest = 0.0f;
    float fastest = 0.0f;
    float widestGap = 0.0f; // between a joint's anchors, over the run (m)
};

// Builds the scene into the world and answers the body whose drift is reported (or null).
using SceneBuilder = std::function<RigidBody*(bench::BenchWorld&)>;

RunFigures RunOnce(const SceneBuilder& build, int count, int32_t method, int steps,
                   int32_t iterations = 20, bench::WorldKind kind = bench::WorldKind::Measured) {
    const size_t broadPhaseBefore = DefaultAllocator::Instance().GetLiveBytes();
    bench::BenchWorld world(method, iterations, count, 10.0f, 0.01f, kind);
    RigidBody* watched = build(world);
    const Float3 start = watched ? watched->GetWorldPosition() : Float3();
    RunFigures figures;
    for (RigidBody* body : world.Bodies()) {
        figures.startTop = std::max(figures.startTop, body->GetWorldPosition().y);
    }
    PhysicsMaster& master = world.World();
    master.SetPhaseTiming(true);
    using Clock = std::chrono::steady_clock;
    for (int i = 0; i < steps; ++i) {
        const Clock::time_point before = Clock::now();
        world.Step();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - before).count();
        figures.step += ms;
        figures.worst = std::max(figures.worst, ms);
        figures.overFifty += ms > 50.0 ? 1 : 0;
        const PhysicsMaster::PhaseTimes& phases = master.GetPhaseTimes();
        figures.collision += phases.collision * 1000.0;
        figures.contacts += phases.contacts * 1000.0;
        figures.islands += phases.islands * 1000.0;
        figures.solve += phases.solve * 1000.0;
        figures.contactJoints += master.GetContactCount();
        for (const std::unique_ptr<Joint>& joint : world.Joints()) {
            figures.widestGap =
                std::max(figures.widestGap, (joint->GetAnchor(0)->GetWorldPosition() -
                                             joint->GetAnchor(1)->GetWorldPosition())
                                                .Length());
        }
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
    figures.lowest = HUGE_VALF;
    figures.highest = -HUGE_VALF;
    for (RigidBody* body : world.Bodies()) {
        const Float3 p = body->GetWorldPosition();
        // A body that tumbled off the floor's edge falls on: only those above it count.
        const float floorHalf = kind == bench::WorldKind::UserWide ? 60.0f : 20.0f;
        if (std::fabs(p.x) < floorHalf && std::fabs(p.z) < floorHalf) {
            figures.lowest = std::min(figures.lowest, p.y);
        }
        figures.highest = std::max(figures.highest, p.y);
        figures.fastest = std::max(figures.fastest, body->GetLinearVelocity().Length());
    }
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

// A turn drawn from a fixed sequence, so that every run builds the same scene.
class Turns {
public:
    Quaternion Next() {
        const Float3 axis(Unit() - 0.5f, Unit() - 0.5f, Unit() - 0.5f);
        return Quaternion::FromAxisAngle(Unit() * 3.1415927f, axis.NormalizedOrSelf());
    }

private:
    float Unit() {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<float>(state_ >> 8) / 16777216.0f;
    }
    uint32_t state_ = 12345u;
};

// nx x ny x nz unit boxes, each turned at random, 1.5 apart from 2 m up over one spot: the
// lowest land first and the others tumble onto them into one heap, as boxes a user drops.
SceneBuilder TumblingHeap(int nx, int ny, int nz) {
    return [nx, ny, nz](bench::BenchWorld& world) -> RigidBody* {
        Turns turns;
        for (int j = 0; j < ny; ++j) {
            for (int i = 0; i < nx; ++i) {
                for (int k = 0; k < nz; ++k) {
                    world.AddBox(Float3((i - (nx - 1) * 0.5f) * 1.5f, 2.0f + j * 1.5f,
                                        (k - (nz - 1) * 0.5f) * 1.5f),
                                 Float3(1.0f, 1.0f, 1.0f), turns.Next());
                }
            }
        }
        return nullptr;
    };
}

// count unit boxes placed on each other as a user places them, touching: none sunk.
SceneBuilder TouchingStack(int count) {
    return [count](bench::BenchWorld& world) -> RigidBody* {
        RigidBody* top = nullptr;
        for (int i = 0; i < count; ++i) {
            top = world.AddBox(Float3(0.0f, 0.5f + i, 0.0f), Float3(1.0f, 1.0f, 1.0f));
        }
        return top;
    };
}

// Structures as games build them, placed touching: a pyramid of `rows` rows of unit boxes, a wall
// of `rows` rows of staggered bricks (1 x 0.5 x 0.5, six and five a row) or a tower of `rows`
// crossed layers of three blocks (1.5 x 0.3 x 0.5).
enum class Structure { Pyramid, Wall, Tower };

SceneBuilder Built(Structure structure, int rows) {
    return [structure, rows](bench::BenchWorld& world) -> RigidBody* {
        const Quaternion quarter(0.0f, 0.7071068f, 0.0f, 0.7071068f);
        RigidBody* top = nullptr;
        for (int row = 0; row < rows; ++row) {
            const int count = structure == Structure::Pyramid ? rows - row
                              : structure == Structure::Wall  ? 6 - row % 2
                                                              : 3;
            for (int i = 0; i < count; ++i) {
                const float along = static_cast<float>(i) - 0.5f * static_cast<float>(count - 1);
                if (structure == Structure::Pyramid) {
                    top = world.AddBox(Float3(along, 0.5f + row, 0.0f), Float3(1.0f, 1.0f, 1.0f));
                } else if (structure == Structure::Wall) {
                    top = world.AddBox(Float3(along, 0.25f + 0.5f * row, 0.0f),
                                       Float3(1.0f, 0.5f, 0.5f));
                } else {
                    const bool turned = row % 2 == 1;
                    const float y = 0.15f + 0.3f * row;
                    top = world.AddBox(turned ? Float3(0.5f * along, y, 0.0f)
                                              : Float3(0.0f, y, 0.5f * along),
                                       Float3(1.5f, 0.3f, 0.5f), turned ? quarter : Quaternion());
                }
            }
        }
        return top;
    };
}

// The exact step against the iterative one at the world's default sweeps in the world as users
// leave it: the mean step and the worst, each the median of the rounds, and their ratios. A
// game freezes on the worst step, which the mean hides. Each run's end is checked first: no
// body below the floor or thrown, and the two methods' heaps of one height.
class HeapTable {
public:
    HeapTable() {
        std::printf("\n%-34s %9s %13s %8s %4s %9s %13s %8s %4s %6s %6s %20s\n",
                    "exact step on heaps (ms/step)", "LCP mean", "rounds", "worst", ">50",
                    "ITER mean", "rounds", "worst", ">50", "mean", "worst", "ends (LCP | ITER)");
    }

    // Over `rounds` rounds; >50 is the steps of a run over 50 ms, the median of the rounds.
    bool Compare(const char* name, const SceneBuilder& build, int count, int steps,
                 int rounds = bench::Rounds, bench::WorldKind kind = bench::WorldKind::User) {
        std::vector<double> exactMean, exactWorst, exactOver, iterativeMean, iterativeWorst,
            iterativeOver;
        RunFigures exact;
        RunFigures iterative;
        for (int r = 0; r < rounds; ++r) {
            exact =
                RunOnce(build, count, PhysicsLcp, steps, PhysicsMaster::DefaultIterations, kind);
            iterative = RunOnce(build, count, PhysicsIterative, steps,
                                PhysicsMaster::DefaultIterations, kind);
            exactMean.push_back(exact.step);
            exactWorst.push_back(exact.worst);
            exactOver.push_back(exact.overFifty);
            iterativeMean.push_back(iterative.step);
            iterativeWorst.push_back(iterative.worst);
            iterativeOver.push_back(iterative.overFifty);
        }
        const double lcpMean = Median(exactMean);
        const double lcpWorst = Median(exactWorst);
        const double iterMean = Median(iterativeMean);
        const double iterWorst = Median(iterativeWorst);
        const auto spread = [](const std::vector<double>& values) {
            const auto [low, high] = std::minmax_element(values.begin(), values.end());
            char text[32];
            std::snprintf(text, sizeof text, "%.2f-%.2f", *low, *high);
            return std::string(text);
        };
        char ends[64];
        std::snprintf(ends, sizeof ends, "top %.1f | %.1f", exact.highest, iterative.highest);
        std::printf("%-34s %9.2f %13s %8.2f %4.0f %9.2f %13s %8.2f %4.0f %6.2f %6.2f %20s\n", name,
                    lcpMean, spread(exactMean).c_str(), lcpWorst, Median(exactOver), iterMean,
                    spread(iterativeMean).c_str(), iterWorst, Median(iterativeOver),
                    lcpMean / iterMean, lcpWorst / iterWorst, ends);
        means_.push_back(lcpMean / iterMean);
        worsts_.push_back(lcpWorst / iterWorst);
        names_.push_back(name);
        bool sound = true;
        for (const RunFigures* run : {&exact, &iterative}) {
            // No body ended below the floor's top, and none moves faster than a fall from the
            // scene's top allows.
            const float fall = std::sqrt(2.0f * 10.0f * run->startTop) + 1.0f;
            if (run->lowest < 0.0f || run->fastest > fall) {
                std::printf("  %s: a body ended at y %.2f or moved at %.1f m/s\n",
                            run == &exact ? "LCP" : "ITERATIVE", run->lowest, run->fastest);
                sound = false;
            }
        }
        return sound;
    }

    void PrintSummary() const {
        if (means_.empty()) {
            return;
        }
        for (const auto* column : {&means_, &worsts_}) {
            double logSum = 0.0;
            for (double ratio : *column) {
                logSum += std::log(ratio);
            }
            const auto worst = std::max_element(column->begin(), column->end());
            const auto spread = std::minmax_element(column->begin(), column->end());
            std::printf("%-34s geometric mean %.2f, worst row %.2f (%s), spread %.2f-%.2f\n",
                        column == &means_ ? "mean step LCP / ITERATIVE"
                                          : "worst step LCP / ITERATIVE",
                        std::exp(logSum / static_cast<double>(column->size())), *worst,
                        names_[worst - column->begin()].c_str(), *spread.first, *spread.second);
        }
    }

private:
    static double Median(std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    }

    std::vector<double> means_;
    std::vector<double> worsts_;
    std::vector<std::string> names_;
};

// count chains of `links` capsule links (0.5 m, 2.9 g) on ball joints, each from a pivot of its
// own, with an end box `ratio` times a link, let go level together: each chain its own island,
// and each asking for parts of a step as its end swings down where the end is heavy.
SceneBuilder Chains(int count, int links, float ratio) {
    return [count, links, ratio](bench::BenchWorld& world) -> RigidBody* {
        constexpr float Link = 0.5f;
        const float height = 1.5f * (links + 1) * Link + 1.0f;
        const int perRow = static_cast<int>(std::ceil(std::sqrt(static_cast<float>(count))));
        const Quaternion along = Quaternion::FromAxisAngle(1.5707964f, Float3(0.0f, 1.0f, 0.0f));
        for (int c = 0; c < count; ++c) {
            // Rows 1.5 m apart across the swing, columns two chains' lengths and more along
            // it, so that no chain swings into another.
            const Float3 pivot((c % perRow) * (2 * links + 4) * Link, height, (c / perRow) * 1.5f);
            RigidBody* previous = nullptr;
            for (int i = 0; i < links; ++i) {
                RigidBody* link = world.AddCapsule(pivot + Float3((i + 0.5f) * Link, 0.0f, 0.0f),
                                                   0.8f * Link, 0.1f * Link, along);
                world.AddBallJoint(link, previous, pivot + Float3(i * Link, 0.0f, 0.0f));
                previous = link;
            }
            const float density = ratio * previous->GetMass() / (Link * Link * Link);
            RigidBody* end = world.AddBox(pivot + Float3((links + 0.5f) * Link, 0.0f, 0.0f),
                                          Float3(Link, Link, Link), Quaternion(), density);
            world.AddBallJoint(end, previous, pivot + Float3(links * Link, 0.0f, 0.0f));
        }
        return nullptr;
    };
}

// Chains swinging at once, each method's mean and worst step beside those of the same chains
// with like ends (a link's mass), which are never cut into parts: what the world's bound on the
// parts of a step holds them to. Where the chains ask for no more parts than the bound takes, no
// joint may open; past it their joints may stretch, and the gap is only shown.
class ChainTable {
public:
    ChainTable() {
        std::printf("\n%-34s %9s %9s %10s %9s %8s %8s %8s\n", "chains swinging (ms/step)",
                    "LCP mean", "worst", "ITER mean", "worst", "/like", "worst", "gap cm");
    }

    bool Compare(const char* name, const SceneBuilder& heavy, const SceneBuilder& like, int count,
                 int steps, bool withinTheBound, int rounds) {
        bool sound = true;
        double likeMean = 0.0;
        for (const SceneBuilder* build : {&like, &heavy}) {
            std::vector<double> exactMean, exactWorst, iterativeMean, iterativeWorst;
            float gap = 0.0f;
            for (int r = 0; r < rounds; ++r) {
                const RunFigures exact =
                    RunOnce(*build, count, PhysicsLcp, steps, PhysicsMaster::DefaultIterations,
                            bench::WorldKind::User);
                const RunFigures iterative =
                    RunOnce(*build, count, PhysicsIterative, steps,
                            PhysicsMaster::DefaultIterations, bench::WorldKind::User);
                exactMean.push_back(exact.step);
                exactWorst.push_back(exact.worst);
                iterativeMean.push_back(iterative.step);
                iterativeWorst.push_back(iterative.worst);
                gap = std::max({gap, exact.widestGap, iterative.widestGap});
            }
            const double lcpMean = Median(exactMean);
            const double lcpWorst = Median(exactWorst);
            const double iterMean = Median(iterativeMean);
            const double iterWorst = Median(iterativeWorst);
            const std::string label = std::string(name) + (build == &like ? ", like ends" : "");
            if (build == &like) {
                likeMean = std::max(lcpMean, iterMean);
                std::printf("%-34s %9.2f %9.2f %10.2f %9.2f %8s %8s %8.2f\n", label.c_str(),
                            lcpMean, lcpWorst, iterMean, iterWorst, "", "", gap * 100.0f);
            } else {
                std::printf("%-34s %9.2f %9.2f %10.2f %9.2f %8.1f %8.1f %8.2f\n", label.c_str(),
                            lcpMean, lcpWorst, iterMean, iterWorst,
                            std::max(lcpMean, iterMean) / likeMean,
                            std::max(lcpWorst, iterWorst) / likeMean, gap * 100.0f);
            }
            if (gap > 0.05f && (build == &like || withinTheBound)) {
                std::printf("  %s: a joint opened by %.1f cm\n", label.c_str(), gap * 100.0f);
                sound = false;
            }
        }
        return sound;
    }

private:
    static double Median(std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    }
};

// A crowd as games drop one: `count` unit boxes (or balls a unit across) in 15 x 15 columns 1.8
// apart, layer on layer from a box up, each box turned at random (the world's generator from 7,
// as the generated scenes draw it): the lowest land first and the rest tumble onto them, over
// tens of metres of a floor 120 m across.
SceneBuilder FallingCrowd(int count, bool balls) {
    return [count, balls](bench::BenchWorld& world) -> RigidBody* {
        constexpr int Side = 15;
        constexpr float Apart = 1.8f;
        SeedRandom(7);
        for (int i = 0; i < count; ++i) {
            const int column = i % (Side * Side);
            const Float3 at((column % Side - 0.5f * (Side - 1)) * Apart,
                            1.0f + static_cast<float>(i / (Side * Side)) * Apart,
                            (column / Side - 0.5f * (Side - 1)) * Apart);
            const Float3 axis(RandomRange(-1.0f, 1.0f), RandomRange(-1.0f, 1.0f),
                              RandomRange(-1.0f, 1.0f));
            const Quaternion turn =
                Quaternion::FromAxisAngle(RandomRange(0.0f, 3.1415927f), axis.NormalizedOrSelf());
            if (balls) {
                world.AddSphere(at, 0.5f);
            } else {
                world.AddBox(at, Float3(1.0f, 1.0f, 1.0f), turn);
            }
        }
        return nullptr;
    };
}

// The 6-row wall of bricks placed touching (Built), struck once at mid-height by a ball of
// 0.5 m and 330 g at 8 m/s, head on: the wall is knocked about, then should come to rest.
RigidBody* StruckWall(bench::BenchWorld& world) {
    RigidBody* top = Built(Structure::Wall, 6)(world);
    constexpr float Radius = 0.25f;
    const float density = 0.33f / (4.0f / 3.0f * 3.1415927f * Radius * Radius * Radius);
    RigidBody* ball = world.AddSphere(Float3(0.0f, 1.5f, -1.0f), Radius, density);
    ball->SetLinearVelocity(Float3(0.0f, 0.0f, 8.0f));
    return top;
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

// With an argument, only the rows whose name holds it run (for a profile of one row).
int main(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    const auto runs = [&only](const std::string& name) {
        return name.find(only) != std::string::npos;
    };
    std::printf("physics world per step (ms; median of %d runs)\n", bench::Rounds);
    std::printf("%-32s %8s %15s %10s %10s %10s %10s %10s %8s\n", "case", "step", "rounds", "broad",
                "contacts", "islands", "solve", "joints", "MB");
    const auto report = [&](const std::string& name, const SceneBuilder& build, int count,
                            int steps) {
        if (runs(name)) {
            Report(name.c_str(), build, count, steps);
        }
    };
    report("rain 256 spheres", Rain(16), 256, 300);
    report("rain 1024 spheres", Rain(32), 1024, 300);
    report("pyramid 10 boxes", SceneBuilder(Pyramid), 10, 1000);
    for (int count : {1000, 10000}) {
        report(
            "crowd " + std::to_string(count) + " spheres",
            [count](bench::BenchWorld& world) { return Crowd(world, count); }, count, 20);
    }
    bench::RatioTable table("exact step (ms per step)", "ITERATIVE");
    const auto compare = [&](const std::string& name, const SceneBuilder& build, int count,
                             int steps) {
        if (runs(name)) {
            CompareMethods(table, name.c_str(), build, count, steps);
        }
    };
    compare("heap 1600 boxes, 10 x 16 x 10", Heap(10, 16, 10), 1600, 200);
    compare("stack 40 boxes", Stack(40), 40, 500);
    compare("stack 60 boxes", Stack(60), 60, 500);
    table.PrintSummary();

    // The goal: LCP's mean step at most 3 times ITERATIVE's, its worst at most 10 times.
    HeapTable heaps;
    bool sound = true;
    const auto heap = [&](const std::string& name, const SceneBuilder& build, int count,
                          int steps) {
        if (runs(name)) {
            sound = heaps.Compare(name.c_str(), build, count, steps) && sound;
        }
    };
    heap("heap 400 boxes tumbling", TumblingHeap(5, 16, 5), 400, 400);
    heap("heap 1600 boxes tumbling", TumblingHeap(10, 16, 10), 1600, 400);
    heap("stack 84 boxes touching", TouchingStack(84), 84, 500);
    heap("pyramid 21 boxes touching", Built(Structure::Pyramid, 6), 21, 1000);
    heap("wall 33 bricks touching", Built(Structure::Wall, 6), 33, 1000);
    heap("tower 24 blocks touching", Built(Structure::Tower, 8), 24, 1000);
    heap("pyramid 55 boxes touching", Built(Structure::Pyramid, 10), 55, 1000);
    heap("wall 55 bricks touching", Built(Structure::Wall, 10), 55, 1000);
    heap("tower 54 blocks touching", Built(Structure::Tower, 18), 54, 1000);
    heap("wall 33 bricks struck by a ball", SceneBuilder(StruckWall), 34, 1000);
    // Crowds over their first 1,000 steps, in 3 rounds: the goal is no step over 50 ms and the
    // 3,000 boxes at a mean of 15 ms at most.
    const auto crowd = [&](const std::string& name, int count, bool balls) {
        if (runs(name)) {
            sound = heaps.Compare(name.c_str(), FallingCrowd(count, balls), count, 1000, 3,
                                  bench::WorldKind::UserWide) &&
                    sound;
        }
    };
    crowd("crowd 3000 boxes falling", 3000, false);
    crowd("crowd 4000 boxes falling", 4000, false);
    crowd("crowd 8000 boxes falling", 8000, false);
    crowd("crowd 5000 balls falling", 5000, true);
    heaps.PrintSummary();

    // The goal: heavy ends at most about ten times the step of like ones, worst step included.
    ChainTable chains;
    const auto chain = [&](const std::string& name, int count, int links, float ratio, int steps,
                           bool withinTheBound, int rounds) {
        if (runs(name)) {
            sound = chains.Compare(name.c_str(), Chains(count, links, ratio),
                                   Chains(count, links, 1.0f), count * (links + 1), steps,
                                   withinTheBound, rounds) &&
                    sound;
        }
    };
    chain("100 chains of 10 links, ends 1000x", 100, 10, 1000.0f, 300, true, bench::Rounds);
    chain("100 chains of 6 links, ends 10000x", 100, 6, 10000.0f, 300, false, bench::Rounds);
    // The goal: no step over 50 ms.
    chain("150 chains of 10 links, ends 1000x", 150, 10, 1000.0f, 300, false, 3);
    chain("300 chains of 10 links, ends 1000x", 300, 10, 1000.0f, 300, false, 3);
    return sound ? 0 : 1;
}
