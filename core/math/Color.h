#pragma once

#include "core/math/Vector.h"

#include <cstdint>

namespace quarn {

// Colours are packed as 32-bit ARGB words (alpha in bits 24-31, then red, green, blue) or held
// as four floats (r, g, b, a) with a nominal range of 0 to 1. The conversions below truncate and
// shift exactly as stored textures, vertex colours and scripts expect; rounding instead would
// change saved pixels.

// Each channel becomes trunc(c * 255) clamped to 0..255; NaN gives 0.
uint32_t PackColor(float r, float g, float b, float a);
// Each byte divided by 255, as (r, g, b, a).
Float4 UnpackColor(uint32_t argb);

// 16-bit pixel formats. Packing keeps the top bits of each channel; unpacking shifts them back
// up with zero low bits (only 4-4-4-4 replicates, so that 0xF becomes 0xFF).
uint16_t ArgbToRgb565(uint32_t argb);
uint32_t Rgb565ToArgb(uint16_t pixel);
uint32_t Xrgb1555ToArgb(uint16_t pixel);
uint32_t Argb4444ToArgb(uint16_t pixel);

// Per channel (a * weight + b * (256 - weight)) >> 8, so weight 256 gives a and 0 gives b. The
// alpha byte is 0xFF. A weight outside 0..256 is clamped: it would carry into the next channel.
uint32_t BlendColor(uint32_t a, uint32_t b, int32_t weight);
// Per channel a * b / 255 with integer division; alpha 0xFF.
uint32_t ModulateColor(uint32_t a, uint32_t b);
// Per channel a + b, alpha included, capped at 0xFF: no channel carries into the next.
uint32_t AddColorSaturated(uint32_t a, uint32_t b);

// a * t + b * (1 - t): note that t weighs the first argument.
Float4 Float4Lerp(const Float4& a, const Float4& b, float t);

} // namespace quarn
