#include "core/string/TextArena.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <sys/mman.h>

namespace quarn {

namespace {

// Layout: the ring, one guard byte that stays 0 (so even a text a producer forgot to terminate
// ends inside the ring), the two scratch buffers, the slots of texts too long for the ring, then
// long-lived texts growing upwards. Address space only: pages are backed when first written.
// Everything must stay below 4 GB for offsets to fit a word.
constexpr size_t RingStart = 0;
constexpr size_t GuardByte = RingStart + TempRingSize;
constexpr size_t ScratchStart = GuardByte + 1;
constexpr size_t PageSize = 4096;
// Page-aligned, so the pages a shorter text no longer needs can be given back.
constexpr size_t LongSlotsStart =
    (ScratchStart + 2 * FormatBufferSize + PageSize - 1) / PageSize * PageSize;
constexpr size_t LongLivedStart = LongSlotsStart + LongTempSlotCount * LongTempSlotSize;
constexpr size_t ArenaReserve = LongLivedStart + (size_t{256} << 20);
static_assert(ArenaReserve < (uint64_t{1} << 32), "arena offsets must fit a word");

struct Arena {
    char* base = nullptr;
    size_t used = LongLivedStart; // end of the long-lived texts
    size_t ringWrite = RingStart;
    // Bytes of each long slot's text, its terminator included; 0 while empty.
    size_t slotLength[LongTempSlotCount] = {};
    size_t nextSlot = 0;
    // Blocks by offset: live ones with their size, and given-back ones waiting for reuse.
    std::map<size_t, size_t> liveBlocks;
    std::multimap<size_t, size_t> freeBlocksBySize; // size -> offset

    Arena() {
        void* region = mmap(nullptr, ArenaReserve, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        // Without the arena no text could be handed to a script; nothing sensible remains.
        if (region == MAP_FAILED) {
            std::abort();
        }
        base = static_cast<char*>(region);
    }
};

Arena& TheArena() {
    static Arena arena;
    return arena;
}

// Whether an offset lies on a text in use: the ring and scratch area (always terminated), a
// slot up to its text's terminator, or the long-lived texts.
bool IsTextOffset(const Arena& arena, size_t offset) {
    if (offset < LongSlotsStart) {
        return true;
    }
    if (offset < LongLivedStart) {
        const size_t slot = (offset - LongSlotsStart) / LongTempSlotSize;
        return offset - LongSlotsStart - slot * LongTempSlotSize < arena.slotLength[slot];
    }
    return offset < arena.used;
}

const char* PutLongTempString(std::string_view text) {
    Arena& arena = TheArena();
    if (text.size() >= LongTempSlotSize) {
        return nullptr;
    }
    const size_t slot = arena.nextSlot;
    arena.nextSlot = (slot + 1) % LongTempSlotCount;
    char* destination = arena.base + LongSlotsStart + slot * LongTempSlotSize;
    std::memmove(destination, text.data(), text.size());
    destination[text.size()] = '\0';
    const size_t length = text.size() + 1;
    const size_t kept = (length + PageSize - 1) / PageSize * PageSize;
    if (arena.slotLength[slot] > kept) {
        // Zero pages again: a stale word into them reads as no text.
        madvise(destination + kept, arena.slotLength[slot] - kept, MADV_DONTNEED);
    }
    arena.slotLength[slot] = length;
    return destination;
}

} // namespace

const char* LookupText(TextWord word) {
    Arena& arena = TheArena();
    if (word == 0 || !IsTextOffset(arena, word - 1)) {
        return "";
    }
    // Every such byte belongs to a NUL-terminated text (or the zeroed gaps between the areas),
    // so the text found here always ends inside the arena.
    return arena.base + (word - 1);
}

TextWord TextWordOf(const char* text) {
    Arena& arena = TheArena();
    if (text < arena.base || text >= arena.base + arena.used ||
        !IsTextOffset(arena, static_cast<size_t>(text - arena.base))) {
        return 0;
    }
    return static_cast<TextWord>(text - arena.base) + 1;
}

TextWord StoreText(std::string_view text) {
    Arena& arena = TheArena();
    if (text.size() >= ArenaReserve - arena.used) {
        return 0;
    }
    char* destination = arena.base + arena.used;
    std::memcpy(destination, text.data(), text.size());
    destination[text.size()] = '\0';
    arena.used += text.size() + 1;
    return static_cast<TextWord>(destination - arena.base) + 1;
}

TextWord AllocateTextBlock(size_t bytes) {
    Arena& arena = TheArena();
    const size_t size = (bytes + 3) / 4 * 4 + 4;
    size_t offset = 0;
    // The smallest given-back block that fits; what it holds beyond the request is kept free.
    auto reuse = arena.freeBlocksBySize.lower_bound(size);
    if (reuse != arena.freeBlocksBySize.end()) {
        offset = reuse->second;
        const size_t rest = reuse->first - size;
        arena.freeBlocksBySize.erase(reuse);
        if (rest > 0) {
            arena.freeBlocksBySize.emplace(rest, offset + size);
        }
    } else {
        if (size >= ArenaReserve - arena.used) {
            return 0;
        }
        offset = (arena.used + 3) / 4 * 4;
        arena.used = offset + size;
    }
    std::memset(arena.base + offset, 0, size);
    arena.liveBlocks[offset] = size;
    return static_cast<TextWord>(offset) + 1;
}

char* GetTextBlock(TextWord block) {
    Arena& arena = TheArena();
    if (block == 0 || !arena.liveBlocks.contains(block - 1)) {
        return nullptr;
    }
    return arena.base + (block - 1);
}

void FreeTextBlock(TextWord block) {
    Arena& arena = TheArena();
    auto live = block == 0 ? arena.liveBlocks.end() : arena.liveBlocks.find(block - 1);
    if (live == arena.liveBlocks.end()) {
        return;
    }
    std::memset(arena.base + live->first, 0, live->second);
    arena.freeBlocksBySize.emplace(live->second, live->first);
    arena.liveBlocks.erase(live);
}

char* TempStringWritePosition() {
    Arena& arena = TheArena();
    return arena.base + arena.ringWrite;
}

size_t GetTempStringSpace() {
    return RingStart + TempRingSize - TheArena().ringWrite;
}

void CommitTempString() {
    Arena& arena = TheArena();
    size_t space = GetTempStringSpace();
    size_t length = strnlen(arena.base + arena.ringWrite, space);
    if (length == space) {
        // An unterminated text: cut it at the end of the ring.
        length = space - 1;
        arena.base[arena.ringWrite + length] = '\0';
    }
    arena.ringWrite += length + 1;
    if (arena.ringWrite > RingStart + TempRingWrapPoint) {
        arena.ringWrite = RingStart;
    }
}

const char* PutTempString(std::string_view text) {
    if (text.size() >= TempRingSize) {
        return PutLongTempString(text);
    }
    Arena& arena = TheArena();
    if (text.size() >= GetTempStringSpace()) {
        arena.ringWrite = RingStart;
    }
    char* destination = TempStringWritePosition();
    // The text may itself lie in the ring.
    std::memmove(destination, text.data(), text.size());
    destination[text.size()] = '\0';
    CommitTempString();
    return destination;
}

char* FormatScratchBuffer(int index) {
    return TheArena().base + ScratchStart + (index & 1) * FormatBufferSize;
}

} // namespace quarn
