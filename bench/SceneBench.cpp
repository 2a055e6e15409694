// Scene loading and saving at scale, reported as time per node: a linear loader shows the same
// figure at every size. Three shapes: a flat scene (one root, many children), a deep parent
// chain, and many top-level nodes. Objects past one id system's 65,535 ids are left out by the
// loader, so the figure is per object loaded, counted in the loaded trees. A chain of pivots,
// each placed after it arrives, is loaded in turn with the flat scene of the same pivots: the
// ratio of the two stays near 1 when a move costs nothing per ancestor.
#include "app/ClassRegistration.h"
#include "bench/BenchTiming.h"
#include "core/debug/Log.h"
#include "core/debug/Validity.h"
#include "core/io/BufferFile.h"
#include "core/object/IdMap.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneSaver.h"
#include "core/scenefile/SceneTextFormat.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <string>
#include <vector>

namespace {

using namespace quarn;

enum class Shape { Flat, Chain, TopLevel };

// Object n (from 1) hangs under object n - 1 (chain), under object 1 (flat) or nowhere. Pivots
// are placed a little above their parents, after the parent line, as the editor writes them.
std::string MakeScene(Shape shape, int count, const char* className = "Node") {
    const bool pivot = std::string(className) == "Pivot";
    std::string text = "version = 44\nidsystem = 0\nnum_nodes = " + std::to_string(count) + "\n";
    for (int n = 1; n <= count; ++n) {
        int parent = shape == Shape::Chain ? n - 1 : shape == Shape::Flat && n > 1 ? 1 : 0;
        text += "obj" + std::to_string(n) + " {\n\tclass = \"" + className + "\"\n\tname = \"node" +
                std::to_string(n) + "\"\n\tparent = " + std::to_string(parent) + "\n" +
                (pivot ? "\tpos = 0.0,0.1,0.0\n" : "") + "}\n";
    }
    return text;
}

void Quiet() {
    RegisterAllClasses();
    SetLogSink([](const char*, const char*) {});
    SetValidityHook([](const char*) { return false; });
}

std::vector<Node*> Load(const std::string& text) {
    std::vector<Node*> roots;
    BufferFile file(text.data(), static_cast<uint32_t>(text.size()));
    SceneLoader loader("bench.scene", 0, SceneKeepUnmappedIds, nullptr, &roots);
    loader.Load(file);
    return roots;
}

void Unload(std::vector<Node*>& roots) {
    for (Node* root : roots) {
        root->Delete();
    }
    roots.clear();
    TheIdMap().Clear();
}

// Every node in the trees under `roots`, walked without recursion: a chain is deep.
int CountNodes(const std::vector<Node*>& roots) {
    std::vector<const Node*> pending(roots.begin(), roots.end());
    int count = 0;
    while (!pending.empty()) {
        const Node* node = pending.back();
        pending.pop_back();
        ++count;
        for (const Node* child = node->GetFirstChild(); child; child = child->GetNext()) {
            pending.push_back(child);
        }
    }
    return count;
}

void PerNode(benchmark::State& state, int count) {
    state.counters["per_node"] = benchmark::Counter(
        count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_SceneLoad(benchmark::State& state, Shape shape) {
    Quiet();
    const int count = static_cast<int>(state.range(0));
    const std::string text = MakeScene(shape, count);
    std::vector<Node*> loaded = Load(text);
    const int loadedCount = CountNodes(loaded);
    Unload(loaded);
    for (auto _ : state) {
        std::vector<Node*> roots = Load(text);
        state.PauseTiming();
        Unload(roots);
        state.ResumeTiming();
    }
    state.counters["loaded"] = loadedCount;
    PerNode(state, loadedCount);
}

// Each iteration loads the chain and then the flat scene, each timed alone.
void BM_PivotChainAgainstFlat(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    Quiet();
    const int count = static_cast<int>(state.range(0));
    const std::string scenes[2] = {MakeScene(Shape::Chain, count, "Pivot"),
                                   MakeScene(Shape::Flat, count, "Pivot")};
    double seconds[2] = {};
    for (auto _ : state) {
        for (int scene = 0; scene < 2; ++scene) {
            const Clock::time_point start = Clock::now();
            std::vector<Node*> roots = Load(scenes[scene]);
            seconds[scene] += std::chrono::duration<double>(Clock::now() - start).count();
            state.PauseTiming();
            Unload(roots);
            state.ResumeTiming();
        }
    }
    const double loads = static_cast<double>(state.iterations());
    state.counters["chain_ms"] = seconds[0] * 1000.0 / loads;
    state.counters["flat_ms"] = seconds[1] * 1000.0 / loads;
    state.counters["chain/flat"] = seconds[0] / seconds[1];
}

void BM_SceneSave(benchmark::State& state, Shape shape) {
    Quiet();
    const int count = static_cast<int>(state.range(0));
    std::vector<Node*> roots = Load(MakeScene(shape, count));
    const int loadedCount = CountNodes(roots);
    for (auto _ : state) {
        GrowingOutputStream out;
        SceneTextWriter writer;
        writer.Begin(out, "", 0);
        for (Node* root : roots) {
            WriteNodeTree(writer, *root, 0, SceneWriteRoot);
        }
        benchmark::DoNotOptimize(out.GetText().size());
    }
    Unload(roots);
    state.counters["saved"] = loadedCount;
    PerNode(state, loadedCount);
}

// Five rounds of each case, reported as their median with the fastest and slowest round.
void InRounds(benchmark::internal::Benchmark* b) {
    b->Repetitions(quarn::bench::Rounds)
        ->ReportAggregatesOnly(true)
        ->ComputeStatistics(
            "min",
            [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
        ->ComputeStatistics("max", [](const std::vector<double>& v) {
            return *std::max_element(v.begin(), v.end());
        });
}

BENCHMARK_CAPTURE(BM_SceneLoad, flat, Shape::Flat)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Apply(InRounds);
BENCHMARK_CAPTURE(BM_SceneLoad, chain, Shape::Chain)
    ->Arg(3000)
    ->Arg(30000)
    ->Unit(benchmark::kMillisecond)
    ->Apply(InRounds);
BENCHMARK_CAPTURE(BM_SceneLoad, top_level, Shape::TopLevel)
    ->Arg(20000)
    ->Arg(200000)
    ->Unit(benchmark::kMillisecond)
    ->Apply(InRounds);
BENCHMARK(BM_PivotChainAgainstFlat)
    ->Arg(16000)
    ->Arg(65000)
    ->Unit(benchmark::kMillisecond)
    ->Apply(InRounds);
BENCHMARK_CAPTURE(BM_SceneSave, flat, Shape::Flat)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Apply(InRounds);
BENCHMARK_CAPTURE(BM_SceneSave, chain, Shape::Chain)
    ->Arg(3000)
    ->Arg(30000)
    ->Unit(benchmark::kMillisecond)
    ->Apply(InRounds);
BENCHMARK_CAPTURE(BM_SceneSave, top_level, Shape::TopLevel)
    ->Arg(20000)
    ->Arg(200000)
    ->Unit(benchmark::kMillisecond)
    ->Apply(InRounds);

} // namespace

BENCHMARK_MAIN();
