#pragma once

#include <cstddef>

namespace quarn {

// Zeroed memory handed out by address while it grows, so it never moves: the address space for
// its whole size is reserved at once and taken into use as its holder asks, at least doubling
// each time, each step counted in the held memory and allowed by the game's memory budget first.
// A small block, or any block where address space is scarce (AddressSpaceIsLimited), is taken
// whole at once. A block is written only within what is in use; the reserved rest stays
// untouched, costing no memory.
class GrowingBlock {
public:
    // Blocks up to this size are taken whole: a reservation would cost a page at least.
    static constexpr size_t WholeBytes = size_t(16) << 10;

    GrowingBlock() = default;
    ~GrowingBlock();
    GrowingBlock(const GrowingBlock&) = delete;
    GrowingBlock& operator=(const GrowingBlock&) = delete;

    // Makes a block of `size` bytes with the first `used` of them (at least) in use. False,
    // holding nothing, when the budget does not allow those or no address space is left.
    bool Reserve(size_t size, size_t used);
    // Takes the block into use up to `bytes` (no further than its size); false, nothing changed,
    // when the memory budget does not allow it.
    bool Use(size_t bytes);

    void* Data() const { return data_; }
    size_t Size() const { return size_; }
    size_t InUse() const { return used_; }

private:
    void Release();

    void* data_ = nullptr;
    size_t size_ = 0;
    size_t used_ = 0;
    size_t mapped_ = 0; // the reservation's bytes; 0 for a block taken whole from the heap
};

} // namespace quarn
