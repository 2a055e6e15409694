#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quarn {

// The count GetHeldMemory reads, kept by the allocation functions (HeldMemory.cpp).
extern std::atomic<int64_t> heldMemoryBytes;

// What the program holds in memory: every node, grid, table, text and raw-data buffer, counted
// by the allocator itself as it is allocated and given back as it is freed, so no class keeps a
// count of its own. The count is of the bytes the allocator hands out; mapped regions of our own
// (the text arena) are bounded by their own sizes and are not in it. Read around every call a
// script makes into the engine, so it is one load.
inline size_t GetHeldMemory() {
    const int64_t bytes = heldMemoryBytes.load(std::memory_order_relaxed);
    // What was allocated before the count started may be freed after it.
    return bytes > 0 ? size_t(bytes) : 0;
}
// The count as it stands, to tell whether a call grew it.
inline int64_t HeldMemoryMark() {
    return heldMemoryBytes.load(std::memory_order_relaxed);
}

// The most held since the last ResetHeldMemoryPeak, which starts a new peak from what is held
// then and answers that: benchmarks print memory beside time.
size_t GetHeldMemoryPeak();
size_t ResetHeldMemoryPeak();

// The most a game may hold: half the memory the machine has, or of what the process may use
// when that is less (a control group's limit, or what an address-space or data limit leaves
// beside what is mapped when it is first asked for). A script's request that would take the game
// past it is refused (the script machine's checks); tests lower it with SetMemoryBudget, and 0
// gives back the machine's.
size_t GetMemoryBudget();
void SetMemoryBudget(size_t bytes);
// Whether `bytes` more may be held within the budget.
bool MemoryBudgetAllows(size_t bytes);

// Memory held outside the allocation functions the count sees, added (negative: given back) by
// whoever holds it. Regions the engine maps itself are counted so always. A copy a library keeps
// with its own allocator is counted so only outside the sanitizers, whose allocator counts every
// allocation of the process, the library's too.
void CountMappedMemory(int64_t bytes);
void CountLibraryMemory(int64_t bytes);

// Whether the process has a limit on its address space or data: address space reserved and not
// yet used is then scarce, and what reserves it should take it as held.
bool AddressSpaceIsLimited();

} // namespace quarn
