#pragma once

// Shader token streams written word by word, for tests that need programs the engine's
// assembler does not make.

#include "core/io/ByteOrder.h"

#include <cstdint>
#include <vector>

namespace quarn::test {

inline constexpr uint32_t Vs11 = 0xFFFE0101;
inline constexpr uint32_t Vs20 = 0xFFFE0200;
inline constexpr uint32_t Ps20 = 0xFFFF0200;
inline constexpr uint32_t End = 0x0000FFFF;

// Register types: 0 r, 1 v, 2 c, 3 a0/t, 4 oPos/oFog, 5 oD, 6 oT, 8 oC, 10 s.
inline uint32_t Reg(uint32_t type, uint32_t index) {
    return 0x80000000u | (type & 7) << 28 | (type & 0x18) << 8 | index;
}
inline uint32_t Dst(uint32_t type, uint32_t index, uint32_t mask = 0xF) {
    return Reg(type, index) | mask << 16;
}
// swizzle as four 2-bit selectors, x first: 0xE4 is .xyzw.
inline uint32_t Src(uint32_t type, uint32_t index, uint32_t swizzle = 0xE4) {
    return Reg(type, index) | swizzle << 16;
}
inline uint32_t Neg(uint32_t source) {
    return source | 1u << 24;
}
inline uint32_t Sat(uint32_t dest) {
    return dest | 1u << 20;
}
// length: operand tokens, stated by version 2 streams only.
inline uint32_t Op(uint32_t opcode, uint32_t length) {
    return opcode | length << 24;
}
// dcl of a vertex input by usage (0 position, 3 normal, 5 texcoord, 10 colour).
inline uint32_t DclUsage(uint32_t usage, uint32_t index = 0) {
    return 0x80000000u | usage | index << 16;
}
inline constexpr uint32_t DclSampler2D = 0x80000000u | 2u << 27;

inline std::vector<uint8_t> StreamBytes(const std::vector<uint32_t>& words) {
    std::vector<uint8_t> bytes(words.size() * 4);
    for (size_t i = 0; i < words.size(); ++i) {
        WriteLittleEndian32(bytes.data() + i * 4, words[i]);
    }
    return bytes;
}

} // namespace quarn::test
