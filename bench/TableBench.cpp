// Text tables read at scale, reported as time per cell: a record of many cells is loaded and
// every cell read by its index, the way `quarn-tool table` and scripts read them. Linear
// access shows the same figure at both sizes.
#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "resources/DataBaseResource.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

using namespace quarn;

// One record of `count` cells, "cell0;cell1;...".
std::string MakeRecord(int count) {
    std::string text;
    for (int n = 0; n < count; ++n) {
        text += (n > 0 ? ";cell" : "cell") + std::to_string(n);
    }
    return text;
}

void BM_TableRecordRead(benchmark::State& state) {
    SetLogSink([](const char*, const char*) {});
    const int count = static_cast<int>(state.range(0));
    MemoryFileSystem files;
    files.Add("wide.csv", MakeRecord(count));
    SetFileSystem(&files);
    for (auto _ : state) {
        DataBaseResource table("wide.csv", nullptr);
        size_t bytes = 0;
        for (int32_t field = 0; field < int32_t(table.GetRecordFieldCount(0)); ++field) {
            bytes += table.GetStringValue(0, field).size();
        }
        benchmark::DoNotOptimize(bytes);
    }
    SetFileSystem(nullptr);
    state.counters["per_cell"] = benchmark::Counter(
        count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_TableRecordRead)->Arg(20000)->Arg(160000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
