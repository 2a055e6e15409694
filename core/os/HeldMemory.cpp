#include "core/os/HeldMemory.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <new>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define QUARN_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARN_ADDRESS_SANITIZER 1
#endif
#endif

namespace quarn {

// Every thread allocates; a relaxed count is enough, as only its size is ever read.
constinit std::atomic<int64_t> heldMemoryBytes{0};

namespace {

constinit std::atomic<int64_t> heldPeak{0};
std::atomic<size_t> budgetBytes{0};

// Counts an allocation in; a new peak, rare once a program runs, takes a compare-exchange.
void CountIn(int64_t bytes) {
    const int64_t now = heldMemoryBytes.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    int64_t peak = heldPeak.load(std::memory_order_relaxed);
    while (now > peak && !heldPeak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
}

// The limit in a control group's file ("max" or a number); none when absent.
size_t ControlGroupLimit(const char* path) {
    std::ifstream file(path);
    std::string word;
    if (!(file >> word) || word.empty() || word.find_first_not_of("0123456789") != word.npos) {
        return SIZE_MAX;
    }
    return static_cast<size_t>(
        std::min<unsigned long long>(std::strtoull(word.c_str(), nullptr, 10), SIZE_MAX));
}

// The address space a limit on it leaves: what the process has mapped already (its libraries,
// thread stacks, reserved regions) counts against such a limit too. A limit on the data counts
// only the private writable part of it (with the stack), which the kernel reports apart.
size_t AddressSpaceLeft(int resource, size_t pageSize) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return SIZE_MAX;
    }
    // Pages: all mapped, resident, shared, text, libraries (unused), data and stack.
    std::ifstream statm("/proc/self/statm");
    size_t pages[6] = {};
    for (size_t& count : pages) {
        statm >> count;
    }
    const size_t mapped = (resource == RLIMIT_DATA ? pages[5] : pages[0]) * pageSize;
    return limit.rlim_cur > mapped ? size_t(limit.rlim_cur) - mapped : 0;
}

size_t MachineBudget() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    const size_t page = pageSize > 0 ? size_t(pageSize) : 4096;
    const size_t usable = std::min(
        {pages > 0 ? size_t(pages) * page : SIZE_MAX, AddressSpaceLeft(RLIMIT_AS, page),
         AddressSpaceLeft(RLIMIT_DATA, page), ControlGroupLimit("/sys/fs/cgroup/memory.max"),
         ControlGroupLimit("/sys/fs/cgroup/memory/memory.limit_in_bytes")});
    return usable / 2;
}

} // namespace

size_t GetHeldMemoryPeak() {
    return size_t(std::max<int64_t>(heldPeak.load(std::memory_order_relaxed), 0));
}

size_t ResetHeldMemoryPeak() {
    const int64_t now = heldMemoryBytes.load(std::memory_order_relaxed);
    heldPeak.store(now, std::memory_order_relaxed);
    return size_t(std::max<int64_t>(now, 0));
}

size_t GetMemoryBudget() {
    size_t budget = budgetBytes.load(std::memory_order_relaxed);
    if (budget == 0) {
        budget = MachineBudget();
        budgetBytes.store(budget, std::memory_order_relaxed);
    }
    return budget;
}

void SetMemoryBudget(size_t bytes) {
    budgetBytes.store(bytes, std::memory_order_relaxed);
}

bool MemoryBudgetAllows(size_t bytes) {
    const size_t budget = GetMemoryBudget();
    const size_t held = GetHeldMemory();
    return held <= budget && bytes <= budget - held;
}

void CountMappedMemory(int64_t bytes) {
    if (bytes > 0) {
        CountIn(bytes);
    } else {
        heldMemoryBytes.fetch_add(bytes, std::memory_order_relaxed);
    }
}

void CountLibraryMemory(int64_t bytes) {
#if !defined(QUARN_ADDRESS_SANITIZER)
    CountMappedMemory(bytes);
#else
    (void)bytes;
#endif
}

bool AddressSpaceIsLimited() {
    static const bool limited = [] {
        for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
            rlimit limit{};
            if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
                return true;
            }
        }
        return false;
    }();
    return limited;
}

} // namespace quarn

#if defined(QUARN_ADDRESS_SANITIZER)

// The sanitizer's allocator serves every allocation and checks that each is freed the way it was
// made; its hooks count them and leave the checks in place.
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*allocated)(const volatile void*, size_t),
                                              void (*freed)(const volatile void*));
size_t __sanitizer_get_allocated_size(const volatile void* pointer);
}

namespace {

void CountAllocated(const volatile void*, size_t size) {
    quarn::CountIn(int64_t(size));
}

void CountFreed(const volatile void* pointer) {
    quarn::heldMemoryBytes.fetch_sub(int64_t(__sanitizer_get_allocated_size(pointer)),
                                     std::memory_order_relaxed);
}

// Early, so that little is allocated before the count starts; what was is freed uncounted, which
// GetHeldMemory's floor at 0 absorbs.
[[gnu::constructor(101)]] void InstallCountingHooks() {
    __sanitizer_install_malloc_and_free_hooks(&CountAllocated, &CountFreed);
}

} // namespace

#else

// new and delete, replaced for the whole program: each allocation counts the bytes the allocator
// gave it. The aligned forms are left alone; they allocate and free outside these, uncounted.
namespace {

void* CountedAllocation(size_t size) {
    for (;;) {
        if (void* pointer = std::malloc(size != 0 ? size : 1)) {
            quarn::CountIn(int64_t(malloc_usable_size(pointer)));
            return pointer;
        }
        std::new_handler handler = std::get_new_handler();
        if (!handler) {
            throw std::bad_alloc();
        }
        handler();
    }
}

void* CountedAllocationOrNull(size_t size) noexcept {
    try {
        return CountedAllocation(size);
    } catch (...) {
        return nullptr;
    }
}

void CountedFree(void* pointer) noexcept {
    if (pointer) {
        quarn::heldMemoryBytes.fetch_sub(int64_t(malloc_usable_size(pointer)),
                                         std::memory_order_relaxed);
        std::free(pointer);
    }
}

} // namespace

void* operator new(size_t size) {
    return CountedAllocation(size);
}
void* operator new[](size_t size) {
    return CountedAllocation(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return CountedAllocationOrNull(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return CountedAllocationOrNull(size);
}
void operator delete(void* pointer) noexcept {
    CountedFree(pointer);
}
void operator delete[](void* pointer) noexcept {
    CountedFree(pointer);
}
void operator delete(void* pointer, size_t) noexcept {
    CountedFree(pointer);
}
void operator delete[](void* pointer, size_t) noexcept {
    CountedFree(pointer);
}
void operator delete(void* pointer, const std::nothrow_t&) noexcept {
    CountedFree(pointer);
}
void operator delete[](void* pointer, const std::nothrow_t&) noexcept {
    CountedFree(pointer);
}

#endif
