#pragma once

// Counts the bytes that operator new holds, and their peak, for benchmarks that print memory
// beside time. It replaces the global operator new and delete, so a benchmark includes it in
// its one source file only; what C code allocates with malloc is not counted.

#include <atomic>
#include <cstdlib>
#include <malloc.h>
#include <new>

namespace quarn::bench {

inline std::atomic<size_t> liveBytes{0};
inline std::atomic<size_t> peakBytes{0};

// Starts a new peak from what is held now; answers that base.
inline size_t StartPeak() {
    const size_t base = liveBytes.load();
    peakBytes = base;
    return base;
}

inline void* Allocate(size_t size) {
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

inline void Release(void* block) {
    if (block) {
        liveBytes -= malloc_usable_size(block);
        std::free(block);
    }
}

} // namespace quarn::bench

void* operator new(size_t size) {
    return quarn::bench::Allocate(size);
}
void* operator new[](size_t size) {
    return quarn::bench::Allocate(size);
}
void operator delete(void* block) noexcept {
    quarn::bench::Release(block);
}
void operator delete[](void* block) noexcept {
    quarn::bench::Release(block);
}
void operator delete(void* block, size_t) noexcept {
    quarn::bench::Release(block);
}
void operator delete[](void* block, size_t) noexcept {
    quarn::bench::Release(block);
}
