// The physics world side by side with two physics engines that ship as WebAssembly for Node,
// on the scenes of bench/peers/ that both sides read: the box pile (ITERATIVE and LCP here, each
// peer with its own solver defaults) and the random walk of boxes (the collision pipeline alone).
// The peers run through bench/peers/physics-peers.mjs; what they answer is checked against the
// engine's end state and touching pairs as the table prints them, so that a fast but wrong run
// shows. Only step calls are timed, after the warm-up steps, on one thread; every figure is the
// median of the runs, the engine's each right after the peers' same run. One more run of the
// engine's pile gives its step split by phase.
// Usage: quarn_physics_peer_bench SCENES SCRIPT MODULES
#include "bench/BenchTiming.h"
#include "bench/BroadPhaseScene.h"
#include "bench/PhysicsBenchWorld.h"
#include "collision/CollisionContact.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <map>
#include <numeric>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace quarn;
using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Mean(const std::vector<double>& values) {
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

bench::Timing Spread(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return bench::Summarise(values);
}

// One run of the pile: per-step figures and how it ended.
struct PileRun {
    double meanAll = 0.0;
    double medianAll = 0.0;
    double meanLast = 0.0;
    double medianLast = 0.0;
    double penetration = 0.0; // deepest box corner below the plane
    double highest = 0.0;     // highest box centre
    double below = 0.0;       // boxes whose centre fell below the plane
    double contacts = 0.0;    // per timed step; the engine only
};

// Figures of several runs: each the median over the runs.
struct PileFigures {
    std::vector<PileRun> runs;
    // ms per timed step by phase, from one more run of the engine's with phase timing on (it
    // reads the clock around every pair, so the timed runs leave it off).
    PhysicsMaster::PhaseTimes phases;

    double Median(double PileRun::*field) const {
        std::vector<double> values;
        for (const PileRun& run : runs) {
            values.push_back(run.*field);
        }
        return ::Median(values);
    }
    bench::Timing Timing() const {
        std::vector<double> values;
        for (const PileRun& run : runs) {
            values.push_back(run.meanAll);
        }
        return Spread(values);
    }
};

PileRun Summarise(const std::vector<double>& times, int last) {
    PileRun run;
    const std::vector<double> tail(times.end() - last, times.end());
    run.meanAll = Mean(times);
    run.medianAll = ::Median(times);
    run.meanLast = Mean(tail);
    run.medianLast = ::Median(tail);
    return run;
}

// One run of the engine's pile by `method`, added to `figures`; a phase run fills in the phases
// instead.
void EnginePileRun(const bench::SceneSettings& scene, int32_t method, bool phaseRun,
                   PileFigures& figures) {
    const std::vector<double>& lattice = scene.List("lattice");
    const int nx = static_cast<int>(lattice.at(0));
    const int ny = static_cast<int>(lattice.at(1));
    const int nz = static_cast<int>(lattice.at(2));
    const float size = scene.Float("box");
    const float pitch = size + scene.Float("gap");
    bench::BenchWorld world(method, scene.Int("iterations"), nx * ny * nz, scene.Float("gravity"),
                            scene.Float("timestep"));
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            for (int k = 0; k < nz; ++k) {
                world.AddBox(Float3((i - (nx - 1) * 0.5f) * pitch,
                                    scene.Float("lift") + size * 0.5f + j * pitch,
                                    (k - (nz - 1) * 0.5f) * pitch),
                             Float3(size, size, size));
            }
        }
    }
    for (int s = 0; s < scene.Int("warmup"); ++s) {
        world.Step();
    }
    std::vector<double> times;
    double contacts = 0.0;
    world.World().SetPhaseTiming(phaseRun);
    const int steps = scene.Int("steps");
    for (int s = 0; s < steps; ++s) {
        const Clock::time_point start = Clock::now();
        world.Step();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        contacts += world.World().GetContactCount();
        if (phaseRun) {
            const PhysicsMaster::PhaseTimes& spent = world.World().GetPhaseTimes();
            figures.phases.collision += spent.collision * 1000.0 / steps;
            figures.phases.contacts += spent.contacts * 1000.0 / steps;
            figures.phases.islands += spent.islands * 1000.0 / steps;
            figures.phases.solve += spent.solve * 1000.0 / steps;
        }
    }
    if (phaseRun) {
        return;
    }
    PileRun result = Summarise(times, scene.Int("last"));
    result.contacts = contacts / static_cast<double>(times.size());
    result.highest = -1e30;
    for (RigidBody* body : world.Bodies()) {
        const Matrix3 axes = Matrix3::RotationOf(body->GetWorldMatrix());
        const float extent =
            size * 0.5f *
            (std::fabs(axes.m[0][1]) + std::fabs(axes.m[1][1]) + std::fabs(axes.m[2][1]));
        const float y = body->GetWorldPosition().y;
        result.penetration = std::max(result.penetration, static_cast<double>(extent - y));
        result.highest = std::max(result.highest, static_cast<double>(y));
        result.below += y < 0.0f ? 1.0 : 0.0;
    }
    figures.runs.push_back(result);
}

// The walk's figures for one box count.
struct WalkFigures {
    std::vector<double> msPerStep; // per run
    int touching = 0;              // in the step after the timed ones
};

int touchingPairs = 0;
void CollideCandidate(void*, CollisionVolume& a, CollisionVolume& b) {
    std::array<CollisionContact, 8> contacts;
    touchingPairs += CollidePair(a, b, static_cast<int>(contacts.size()), contacts) > 0 ? 1 : 0;
}

// One run of the engine's walk of `count` boxes, added to `figures`.
void EngineWalkRun(const bench::SceneSettings& scene, int count, WalkFigures& figures) {
    bench::BroadPhaseScene walk(count, static_cast<uint32_t>(scene.List("seed")[0]),
                                scene.Float("pairs_per_box"), scene.Float("max_step"));
    auto root = std::make_unique<Node>();
    auto* space = new CollisionSpaceSweepnPrune();
    space->AttachAsLast(root.get());
    space->SetMaxVolumes(count);
    std::vector<CollisionBox*> boxes;
    const float size = scene.Float("box");
    for (const bench::BroadPhaseBox& b : walk.Boxes()) {
        auto* box = new CollisionBox();
        box->AttachAsLast(root.get());
        box->SetSize(Float3(size, size, size));
        box->SetPosition(b.position);
        box->SetOrientation(b.orientation);
        box->SetCollFlags(CollSolid);
        box->SetCollMask(CollSolid);
        box->SetCollTest(CollSolid);
        space->AddVolume(*box);
        boxes.push_back(box);
    }
    // The moves are timed too: the sweep-and-prune updates as each box moves, where the
    // peers update in their step.
    auto step = [&] {
        walk.Step();
        for (size_t i = 0; i < boxes.size(); ++i) {
            boxes[i]->SetPosition(walk.Boxes()[i].position);
        }
        touchingPairs = 0;
        space->Prepare();
        space->Collide(nullptr, CollideCandidate);
    };
    for (int s = 0; s < scene.Int("warmup"); ++s) {
        step();
    }
    const Clock::time_point start = Clock::now();
    const int steps = scene.Int("steps");
    for (int s = 0; s < steps; ++s) {
        step();
    }
    figures.msPerStep.push_back(
        std::chrono::duration<double, std::milli>(Clock::now() - start).count() / steps);
    step();
    figures.touching = touchingPairs;
    root.reset();
}

// What a peer answered.
struct PeerResults {
    std::string settings;
    PileFigures pile;
    std::map<int, WalkFigures> walk;
};

// The peers' script in a Node process that stays up and runs one round at a time as it is
// asked, so that each round of the engine's runs right after the peers' same round, on the same
// state of the machine. A missing Node or package, or a failed script, ends the benchmark with
// the script's one-line reason.
class PeerScript {
public:
    PeerScript(const std::string& scenes, const std::string& script, const std::string& modules) {
        int toChild[2];
        int fromChild[2];
        if (pipe(toChild) != 0 || pipe(fromChild) != 0) {
            std::perror("pipe");
            std::exit(1);
        }
        std::fflush(stdout);
        child_ = fork();
        if (child_ == 0) {
            dup2(toChild[0], STDIN_FILENO);
            dup2(fromChild[1], STDOUT_FILENO);
            for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) {
                close(fd);
            }
            execlp("node", "node", script.c_str(), scenes.c_str(), modules.c_str(), nullptr);
            std::printf("error cannot start Node for the physics peers\n");
            std::fflush(stdout);
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
        // A script that died is found by reading its end, not by a signal on writing.
        std::signal(SIGPIPE, SIG_IGN);
        requests_ = fdopen(toChild[1], "w");
        answers_ = fdopen(fromChild[0], "r");
        if (child_ < 0 || !requests_ || !answers_) {
            std::printf("cannot start Node for the physics peers\n");
            std::exit(1);
        }
        ReadUntil("ready");
    }
    ~PeerScript() {
        std::fclose(requests_); // the script ends with its input
        std::fclose(answers_);
        waitpid(child_, nullptr, 0);
    }
    PeerScript(const PeerScript&) = delete;
    PeerScript& operator=(const PeerScript&) = delete;

    // One round: "pile RUN" or "walk COUNT RUN".
    void Ask(const std::string& request) {
        std::fprintf(requests_, "%s\n", request.c_str());
        std::fflush(requests_);
        ReadUntil("done");
    }
    const std::map<std::string, PeerResults>& Peers() const { return peers_; }

private:
    void ReadUntil(const std::string& end) {
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, answers_)) {
            std::istringstream line(buffer);
            std::string kind;
            std::string peer;
            line >> kind;
            if (kind == end) {
                return;
            }
            if (kind == "error") {
                std::string failure;
                std::getline(line, failure);
                Fail(failure);
            }
            line >> peer;
            PeerResults& results = peers_[peer];
            if (kind == "settings") {
                std::getline(line >> std::ws, results.settings);
            } else if (kind == "pile") {
                int run = 0;
                PileRun figures;
                line >> run >> figures.meanAll >> figures.medianAll >> figures.meanLast >>
                    figures.medianLast >> figures.penetration >> figures.highest >> figures.below;
                results.pile.runs.push_back(figures);
            } else if (kind == "walk") {
                int count = 0;
                int run = 0;
                double ms = 0.0;
                int touching = 0;
                line >> count >> run >> ms >> touching;
                results.walk[count].msPerStep.push_back(ms);
                results.walk[count].touching = touching;
            }
        }
        Fail("");
    }
    [[noreturn]] static void Fail(const std::string& failure) {
        std::printf("the physics peers did not run:%s\n",
                    failure.empty() ? " Node or the peers' script failed (its message is above)"
                                    : failure.c_str());
        std::exit(1);
    }

    pid_t child_ = -1;
    FILE* requests_ = nullptr;
    FILE* answers_ = nullptr;
    std::map<std::string, PeerResults> peers_;
};

void PrintPile(const char* who, const PileFigures& pile, bool contacts) {
    std::printf("  %-8s ms per step: median %.3f mean %.3f, at rest median %.3f mean %.3f; end: "
                "deepest corner %.4f below the plane, highest box at %.3f, %g boxes below",
                who, pile.Median(&PileRun::medianAll), pile.Median(&PileRun::meanAll),
                pile.Median(&PileRun::medianLast), pile.Median(&PileRun::meanLast),
                pile.Median(&PileRun::penetration), pile.Median(&PileRun::highest),
                pile.Median(&PileRun::below));
    if (contacts) {
        std::printf("; %.0f contacts per step\n", pile.Median(&PileRun::contacts));
        std::printf("  %-8s ms per step by phase (one more run, timing each phase): collision "
                    "%.3f, contacts %.3f, islands %.3f, solve %.3f",
                    who, pile.phases.collision, pile.phases.contacts, pile.phases.islands,
                    pile.phases.solve);
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: quarn_physics_peer_bench SCENES SCRIPT MODULES\n");
        return 2;
    }
    const std::string scenes = argv[1];
    std::printf("The peers run as WebAssembly in Node, so the ratios flatter native code by the "
                "WebAssembly penalty.\n");
    const bench::SceneSettings pileScene(scenes + "/pile.scene.txt");
    const bench::SceneSettings walkScene(scenes + "/walk.scene.txt");

    // Round by round, the peers' and then the engine's, so that a machine whose speed drifts
    // slows all three alike.
    PeerScript script(scenes, argv[2], argv[3]);
    PileFigures pile;
    PileFigures exactPile;
    for (int run = 0; run < pileScene.Int("runs"); ++run) {
        script.Ask("pile " + std::to_string(run));
        EnginePileRun(pileScene, PhysicsIterative, false, pile);
        EnginePileRun(pileScene, PhysicsLcp, false, exactPile);
    }
    EnginePileRun(pileScene, PhysicsIterative, true, pile);
    EnginePileRun(pileScene, PhysicsLcp, true, exactPile);
    std::map<int, WalkFigures> walks;
    for (double counted : walkScene.List("counts")) {
        const int count = static_cast<int>(counted);
        for (int run = 0; run < walkScene.Int("runs"); ++run) {
            script.Ask("walk " + std::to_string(count) + " " + std::to_string(run));
            EngineWalkRun(walkScene, count, walks[count]);
        }
    }
    const std::map<std::string, PeerResults>& peers = script.Peers();

    const int boxes = static_cast<int>(pileScene.List("lattice")[0] * pileScene.List("lattice")[1] *
                                       pileScene.List("lattice")[2]);
    bench::RatioTable table("physics world (ms per step)", "peer ms");
    for (const auto& [name, peer] : peers) {
        if (!peer.pile.runs.empty()) {
            table.Row("pile " + std::to_string(boxes) + " " + name, pile.Timing(),
                      peer.pile.Timing());
            table.Row("pile " + std::to_string(boxes) + " LCP " + name, exactPile.Timing(),
                      peer.pile.Timing());
        }
    }
    for (const auto& [count, engine] : walks) {
        for (const auto& [name, peer] : peers) {
            const auto found = peer.walk.find(count);
            if (found != peer.walk.end()) {
                table.Row("walk " + std::to_string(count) + " " + name, Spread(engine.msPerStep),
                          Spread(found->second.msPerStep));
            }
        }
    }
    table.PrintSummary();

    std::printf("\npile of %d boxes, %d timed steps (the last %d at rest): the engine ITERATIVE "
                "with %d sweeps and LCP (the world's default method)",
                boxes, pileScene.Int("steps"), pileScene.Int("last"), pileScene.Int("iterations"));
    for (const auto& [name, peer] : peers) {
        std::printf("; %s %s", name.c_str(), peer.settings.c_str());
    }
    std::printf("\n");
    PrintPile("engine", pile, true);
    PrintPile("LCP", exactPile, true);
    for (const auto& [name, peer] : peers) {
        if (!peer.pile.runs.empty()) {
            PrintPile(name.c_str(), peer.pile, false);
        }
    }
    std::printf("\nwalk: touching pairs in the step after the timed ones\n");
    for (const auto& [count, engine] : walks) {
        std::printf("  %6d boxes: engine %d", count, engine.touching);
        for (const auto& [name, peer] : peers) {
            const auto found = peer.walk.find(count);
            std::printf(", %s %d", name.c_str(),
                        found != peer.walk.end() ? found->second.touching : -1);
        }
        std::printf("\n");
    }
    return 0;
}
