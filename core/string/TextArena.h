#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarn {

// A text as scripts, properties and data arrays hold it: a 32-bit word that is the text's
// offset in the arena + 1. Word 0 is "no text". Host pointers never go into such a word.
using TextWord = uint32_t;

// The arena is one region reserved at first use that never moves, so a word stays valid for
// as long as its text lives. It holds the temporary-string ring, the two scratch buffers of
// FormatTemp and the long-lived texts. Main thread only, like every text buffer of the engine.

// The text a word names; "" for word 0 and for any word outside the texts in use, so a forged
// or stale word is harmless.
const char* LookupText(TextWord word);

// The word of a pointer into the arena; 0 for a pointer elsewhere (or null).
TextWord TextWordOf(const char* text);

// Copies a text into the arena for the rest of the run (script literals, interned names).
// Gives 0 once the arena is full (the caller reports it); the caller then has no text, never a
// wrong one.
TextWord StoreText(std::string_view text);

// A block among the long-lived texts that can be given back: loaded script code, whose literals
// scripts hold as words into it. The block holds `bytes` zeroed bytes (rounded up to whole words)
// plus a zero word of its own at the end, so every word into it names a text that ends inside
// it. Gives 0 when the arena is full. A block given back is zeroed and reused by a later
// AllocateTextBlock of its size or less, so a stale word into it reads "" or a later text.
TextWord AllocateTextBlock(size_t bytes);
// The block's bytes (null for word 0 or a word that starts no live block).
char* GetTextBlock(TextWord block);
void FreeTextBlock(TextWord block);

// The temporary-string ring: 64 KB where texts handed to scripts live until the ring wraps
// over them. A producer writes one NUL-terminated text of at most GetTempStringSpace() bytes
// at TempStringWritePosition() and then calls CommitTempString().
inline constexpr size_t TempRingSize = 65536;
// Past this point (63 KB) a commit sends the write position back to the start, so the space at
// the write position is never less than 1 KB.
inline constexpr size_t TempRingWrapPoint = 64512;

char* TempStringWritePosition();
size_t GetTempStringSpace();
void CommitTempString();

// Writes and commits one text whole; returns where it lives. A text that does not fit the space
// left starts again at the ring's beginning. A text as long as the ring or longer never goes
// through it: it takes the oldest of the long-text slots instead, where it lives until
// LongTempSlotCount more such texts have been made.
const char* PutTempString(std::string_view text);
inline constexpr size_t LongTempSlotCount = 4;
// A slot holds a text one byte shorter (its terminator); PutTempString gives null for a longer
// one, which no word can name.
inline constexpr size_t LongTempSlotSize = size_t{256} << 20;

// The two 4 KB scratch buffers that FormatTemp alternates between.
inline constexpr size_t FormatBufferSize = 4096;
char* FormatScratchBuffer(int index);

} // namespace quarn
