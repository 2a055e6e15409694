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

void* ScratchArena::TakeBytes(size_t bytes) {
    assert(openScopes_ > 0);
    const size_t wanted = std::max<size_t>(1, (bytes + Alignment - 1) / Alignment);
    if (blocks_.empty() || blocks_[current_].size - blocks_[current_].used < wanted) {
        // Room already handed out must not move, so the next block is used, or a new one added.
        if (!blocks_.empty() && current_ + 1 < blocks_.size() &&
            blocks_[current_ + 1].size >= wanted) {
            ++current_;
        } else {
            blocks_.resize(blocks_.empty() ? 0 : current_ + 1);
            Block block;
            block.size = std::max(wanted, Capacity() / Alignment);
            block.chunks = std::make_unique_for_overwrite<Chunk[]>(block.size);
            blocks_.push_back(std::move(block));
            current_ = blocks_.size() - 1;
        }
        blocks_[current_].used = 0;
    }
    Block& block = blocks_[current_];
    Chunk* room = block.chunks.get() + block.used;
    block.used += wanted;
    size_t inUse = 0;
    for (size_t index = 0; index <= current_; ++index) {
        inUse += blocks_[index].used;
    }
    highWater_ = std::max(highWater_, inUse);
    return room;
}

void ScratchArena::Release(size_t block, size_t used) {
    if (blocks_.empty()) {
        return;
    }
    if (openScopes_ == 0 && blocks_.size() > 1) {
        // Nothing is handed out: the blocks become one that holds the fullest moment.
        blocks_.clear();
        Block merged;
        merged.size = highWater_;
        merged.chunks = std::make_unique_for_overwrite<Chunk[]>(merged.size);
        blocks_.push_back(std::move(merged));
        current_ = 0;
        return;
    }
    // Later blocks are kept for the next scope's use.
    current_ = block;
    blocks_[block].used = used;
}

} // namespace quarn
