#pragma once

#include <array>
#include <cstdint>

namespace quarn {

// The fixed tables of the deflate format, shared by the compressor and the decompressor:
// the base value and extra-bit count of each length and distance code.
inline constexpr std::array<uint16_t, 29> LengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                        15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                        67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr std::array<uint8_t, 29> LengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                        2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr std::array<uint16_t, 30> DistanceBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr std::array<uint8_t, 30> DistanceExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                          4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                          9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// The order in which a dynamic block stores the code-length code lengths.
inline constexpr std::array<uint8_t, 19> CodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                            11, 4,  12, 3, 13, 2, 14, 1, 15};

} // namespace quarn
