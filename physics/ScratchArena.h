#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <memory>
#include <vector>

namespace quarn {

// Scratch memory of the solvers, owned by their caller (a world keeps one for its island steps,
// each step one round: a scope open around all its islands). Room is taken in stack order inside
// scopes and is 16-byte aligned, so matrix rows padded to four floats stay aligned. A solve of a
// thousand rows needs several megabytes, more than a thread's stack can safely give.
//
// The arena keeps its memory from round to round: a block given back and another taken put the
// next round on fresh pages, each faulted in and cleared by the system (a heap settling a little
// deeper every step grew its need every step, and spent a sixth of its time so). It grows only
// when a round needs more than it holds, and then at least doubles: once every scope has closed,
// the blocks it had to add are merged into one as large as all of them. It gives memory back only
// when it holds several times what every one of many recent rounds needed.
class ScratchArena {
public:
    ScratchArena() = default;
    ScratchArena(const ScratchArena&) = delete;
    ScratchArena& operator=(const ScratchArena&) = delete;

    // Room taken inside a scope is given back when the scope ends; scopes nest.
    class Scope {
    public:
        explicit Scope(ScratchArena& arena);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        ScratchArena& arena_;
        size_t block_;
        size_t used_;
    };

    // Uninitialised room for count values of a trivial type, valid until the innermost open
    // scope ends; taken only while a scope is open.
    template <typename T>
    T* Take(size_t count) {
        static_assert(alignof(T) <= Alignment);
        return static_cast<T*>(TakeBytes(count * sizeof(T)));
    }

    // Bytes reserved by the arena's blocks.
    size_t Capacity() const;

    // Rounds in a row that must each need less than a quarter of what the arena holds before it
    // gives back all but twice the most of them, and the least it ever shrinks to.
    static constexpr int TrimRounds = 256;
    static constexpr size_t LeastTrimmedBytes = size_t{1} << 20;

private:
    static constexpr size_t Alignment = 16;
    struct alignas(Alignment) Chunk {
        std::byte bytes[Alignment];
    };
    struct Block {
        std::unique_ptr<Chunk[]> chunks;
        size_t size = 0; // in chunks
        size_t used = 0;
    };

    // Inline: an island step takes room for every joint, and nearly always the current block
    // has it.
    void* TakeBytes(size_t bytes) {
        assert(openScopes_ > 0);
        const size_t wanted = std::max<size_t>(1, (bytes + Alignment - 1) / Alignment);
        if (blocks_.empty() || blocks_[current_].size - blocks_[current_].used < wanted) {
            MoveToBlockWithRoom(wanted);
        }
        Block& block = blocks_[current_];
        Chunk* room = block.chunks.get() + block.used;
        block.used += wanted;
        highWater_ = std::max(highWater_, usedBefore_ + block.used);
        return room;
    }
    // Makes the current block one with room for `wanted` chunks, empty.
    void MoveToBlockWithRoom(size_t wanted);
    void Release(size_t block, size_t used);
    void SetCurrent(size_t block);
    // The blocks become one of `chunks`.
    void Replace(size_t chunks);
    // Every scope has closed: the round's blocks are merged, or the arena trimmed.
    void EndRound();

    std::vector<Block> blocks_;
    size_t current_ = 0;
    size_t usedBefore_ = 0;      // chunks in use in the blocks before the current one
    size_t highWater_ = 0;       // chunks in use at the fullest moment of this round
    int smallRounds_ = 0;        // rounds in a row that needed under a quarter of the capacity
    size_t smallRoundsHigh_ = 0; // the most chunks one of them needed
    int openScopes_ = 0;
};

} // namespace quarn
