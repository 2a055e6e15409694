#include "gpu/software/WideLanes.h"

#include <atomic>

namespace quarn {

namespace {

std::atomic<bool> wideAllowed{true};

} // namespace

bool WideLanes() {
    static const bool available = __builtin_cpu_supports("avx2");
    return available && wideAllowed.load(std::memory_order_relaxed);
}

void AllowWideLanes(bool allow) {
    wideAllowed.store(allow, std::memory_order_relaxed);
}

} // namespace quarn
