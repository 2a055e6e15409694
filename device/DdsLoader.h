#pragma once

// The DDS container as the texture loader reads it: a 4-byte magic, a 124-byte little-endian
// header, then the levels (or cube faces) one after the other with their rows packed.

#include "gpu/GpuLayer.h"

#include <cstdint>
#include <span>

namespace quarn {

inline constexpr uint32_t DdsHeaderSize = 124;
inline constexpr uint32_t DdsCapsMipMap = 0x400000;
inline constexpr uint32_t DdsCaps2CubeMap = 0x200;

struct DdsHeader {
    uint32_t height = 0;
    uint32_t width = 0;
    uint32_t mipMapCount = 0;
    uint32_t fourCC = 0;
    uint32_t rgbBitCount = 0;
    uint32_t caps1 = 0;
    uint32_t caps2 = 0;
};

// The fields the loader uses, taken from the header bytes that follow the magic.
DdsHeader ParseDdsHeader(std::span<const uint8_t, DdsHeaderSize> bytes);
// Dxt1..Dxt5 for a "DXTn" code, Unknown for anything else.
GpuFormat DdsBlockFormat(uint32_t fourCC);
// Bytes one image of this size takes in the file: packed rows, or rows of 4x4 blocks.
uint64_t DdsImageBytes(GpuFormat format, uint32_t width, uint32_t height);

} // namespace quarn
