// PNG encoding: time, and the peak of memory the encoder allocates besides its input, against
// the image's size. A bounded encoder holds about its output plus a few rows.
#include "codecs/PngEncoder.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <malloc.h>
#include <new>
#include <vector>

namespace {

std::atomic<size_t> liveBytes{0};
std::atomic<size_t> peakBytes{0};

void* Allocate(size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (!block) {
        throw std::bad_alloc();
    }
    size_t now = liveBytes += malloc_usable_size(block);
    size_t peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
    return block;
}

void Release(void* block) {
    if (block) {
        liveBytes -= malloc_usable_size(block);
        std::free(block);
    }
}

// Smooth art with hard edges and some noise, opaque: what a game saves as a screenshot.
std::vector<uint8_t> MakeImage(uint32_t side) {
    std::vector<uint8_t> rgba(size_t(side) * side * 4);
    uint32_t seed = 7;
    for (uint32_t y = 0; y < side; ++y) {
        for (uint32_t x = 0; x < side; ++x) {
            seed = seed * 1103515245u + 12345u;
            uint8_t* p = &rgba[(size_t(y) * side + x) * 4];
            p[0] = uint8_t(x / 2 + (seed >> 29));
            p[1] = uint8_t((x ^ y) & 32 ? 200 : 40);
            p[2] = uint8_t(y);
            p[3] = 255;
        }
    }
    return rgba;
}

void BM_PngEncode(benchmark::State& state) {
    const uint32_t side = static_cast<uint32_t>(state.range(0));
    const std::vector<uint8_t> rgba = MakeImage(side);
    size_t peak = 0;
    size_t fileSize = 0;
    for (auto _ : state) {
        std::vector<uint8_t> file;
        const size_t before = liveBytes.load();
        peakBytes = before;
        quarn::PngEncoder encoder;
        encoder.Encode(file, rgba.data(), side, side);
        peak = peakBytes.load() - before;
        fileSize = file.size();
    }
    state.counters["image_MB"] = double(rgba.size()) / 1e6;
    state.counters["file_MB"] = double(fileSize) / 1e6;
    state.counters["peak_MB"] = double(peak) / 1e6;
    state.counters["peak_minus_file_MB"] = (double(peak) - double(fileSize)) / 1e6;
}

BENCHMARK(BM_PngEncode)
    ->Arg(256)
    ->Arg(1024)
    ->Arg(2048)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

void* operator new(size_t size) {
    return Allocate(size);
}
void* operator new[](size_t size) {
    return Allocate(size);
}
void operator delete(void* block) noexcept {
    Release(block);
}
void operator delete[](void* block) noexcept {
    Release(block);
}
void operator delete(void* block, size_t) noexcept {
    Release(block);
}
void operator delete[](void* block, size_t) noexcept {
    Release(block);
}

BENCHMARK_MAIN();
