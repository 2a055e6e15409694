#include "core/string/TextArena.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

namespace quarn {

namespace {

// Address space only: pages are backed when first written, so the size costs nothing until
// texts fill it. It must stay below 4 GB for offsets to fit a word.
constexpr size_t ArenaReserve = size_t{256} << 20;

// Layout: the ring, one guard byte that stays 0 (so even a text a producer forgot to terminate
// ends inside the ring), the two scratch buffers, then long-lived texts growing upwards.
constexpr size_t RingStart = 0;
constexpr size_t GuardByte = RingStart + TempRingSize;
constexpr size_t ScratchStart = GuardByte + 1;
constexpr size_t LongLivedStart = ScratchStart + 2 * FormatBufferSize;

struct Arena {
    char* base = nullptr;
    size_t used = LongLivedStart; // end of the long-lived texts
    size_t ringWrite = RingStart;

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

} // namespace

const char* LookupText(TextWord word) {
    Arena& arena = TheArena();
    if (word == 0 || word - 1 >= arena.used) {
        return "";
    }
    // Every byte below `used` belongs to a NUL-terminated text (or the zeroed gaps between the
    // areas), so the text found here always ends inside the arena.
    return arena.base + (word - 1);
}

TextWord TextWordOf(const char* text) {
    Arena& arena = TheArena();
    if (text < arena.base || text >= arena.base + arena.used) {
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
    char* destination = TempStringWritePosition();
    size_t length = std::min(text.size(), GetTempStringSpace() - 1);
    std::memcpy(destination, text.data(), length);
    destination[length] = '\0';
    CommitTempString();
    return destination;
}

char* FormatScratchBuffer(int index) {
    return TheArena().base + ScratchStart + (index & 1) * FormatBufferSize;
}

} // namespace quarn
