#include "physics/ScratchArena.h"

#include <algorithm>
#include <cassert>

namespace quarn {

ScratchArena::Scope::Scope(ScratchArena& arena) : arena_(arena) {
    block_ = arena.current_;
    used_ = arena.blocks_.empty() ? 0 : arena.blocks_[arena.current_].used;
    ++arena.openScopes_;
}

ScratchArena::Scope::~Scope() {
    --arena_.openScopes_;
    arena_.Release(block_, used_);
}

size_t ScratchArena::Capacity() const {
    size_t chunks = 0;
    for (const Block& block : blocks_) {
        chunks += block.size;
    }
    return chunks * Alignment;
}

void ScratchArena::MoveToBlockWithRoom(size_t wanted) {
    // Room already handed out must not move, so the next block is used, or a new one added.
    if (!blocks_.empty() && current_ + 1 < blocks_.size() && blocks_[current_ + 1].size >= wanted) {
        SetCurrent(current_ + 1);
    } else {
        blocks_.resize(blocks_.empty() ? 0 : current_ + 1);
        Block block;
        block.size = std::max(wanted, Capacity() / Alignment);
        block.chunks = std::make_unique_for_overwrite<Chunk[]>(block.size);
        blocks_.push_back(std::move(block));
        SetCurrent(blocks_.size() - 1);
    }
    blocks_[current_].used = 0;
}

void ScratchArena::SetCurrent(size_t block) {
    current_ = block;
    usedBefore_ = 0;
    for (size_t index = 0; index < block; ++index) {
        usedBefore_ += blocks_[index].used;
    }
}

void ScratchArena::Release(size_t block, size_t used) {
    if (blocks_.empty()) {
        return;
    }
    // Later blocks are kept for the next scope's use.
    SetCurrent(block);
    blocks_[block].used = used;
    if (openScopes_ == 0) {
        EndRound();
    }
}

void ScratchArena::Replace(size_t chunks) {
    blocks_.clear();
    Block merged;
    merged.size = chunks;
    merged.chunks = std::make_unique_for_overwrite<Chunk[]>(merged.size);
    blocks_.push_back(std::move(merged));
    SetCurrent(0);
}

void ScratchArena::EndRound() {
    const size_t need = highWater_;
    highWater_ = 0;
    if (blocks_.size() > 1) {
        // Nothing is handed out: the blocks become one that holds them all.
        Replace(Capacity() / Alignment);
        smallRounds_ = 0;
        return;
    }
    const size_t capacity = blocks_[0].size;
    if (need >= capacity / 4 || capacity * Alignment <= LeastTrimmedBytes) {
        smallRounds_ = 0;
        return;
    }
    smallRoundsHigh_ = smallRounds_ == 0 ? need : std::max(smallRoundsHigh_, need);
    if (++smallRounds_ == TrimRounds) {
        smallRounds_ = 0;
        Replace(std::max(2 * smallRoundsHigh_, LeastTrimmedBytes / Alignment));
    }
}

} // namespace quarn
