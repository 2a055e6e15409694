#pragma once

// Filtered reads of a device texture on the processor, for baking colours from textures. The
// texture must be locked for reading; an unlocked one reads as zeros.

#include "core/math/Vector.h"

#include <cstdint>

namespace quarn {

class DeviceTexture;

// A texel to read, and whether a position outside the image repeats the edge (else zeros).
struct TexelSample {
    int32_t x = 0;
    int32_t y = 0;
    bool clamp = true;
};

// Moves (x, y) into the image; true when either coordinate had to move.
bool ClampTexelCoord(const DeviceTexture& texture, int32_t& x, int32_t& y);
// The texel as (r, g, b, a) from 0 to 1.
Float4 SampleTexelFloat4(const DeviceTexture& texture, const TexelSample& sample);
// Bilinear filtering with 8-bit integer weights; the alpha of the result is always 0xFF.
uint32_t SampleTextureBilinear(const DeviceTexture& texture, float u, float v);
Float4 SampleTextureBilinearFloat4(const DeviceTexture& texture, float u, float v);

} // namespace quarn
