#pragma once

// Multi-byte words of files and buffers, read and written a byte at a time: correct whatever
// the host's byte order and whatever the alignment of the data.

#include <cstdint>

namespace quarn {

constexpr uint16_t ReadLittleEndian16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

constexpr uint32_t ReadLittleEndian32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The low 16 bits of `value`.
constexpr void WriteLittleEndian16(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

constexpr void WriteLittleEndian32(uint8_t* p, uint32_t value) {
    WriteLittleEndian16(p, value);
    WriteLittleEndian16(p + 2, value >> 16);
}

// Network order, as PNG and the zlib trailer store their words.
constexpr uint16_t ReadBigEndian16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

constexpr uint32_t ReadBigEndian32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

} // namespace quarn
