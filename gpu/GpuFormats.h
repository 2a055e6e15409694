#pragma once

// What every implementation of the GPU layer agrees on about its formats: sizes, kinds, and the
// bytes of one texel, so that whoever locks a surface can read and write it.

#include "gpu/GpuLayer.h"

#include <cstdint>

namespace quarn {

// Number of levels of a full chain for the given size (at least 1).
uint32_t GpuFullLevelCount(uint32_t width, uint32_t height, uint32_t depth = 1);
// True for Dxt1..Dxt5.
bool GpuIsBlockFormat(GpuFormat format);
bool GpuIsDepthFormat(GpuFormat format);
// Bytes per texel for plain formats; for block formats, bytes per 4x4 block; 0 for Unknown.
uint32_t GpuFormatSize(GpuFormat format);

// Decodes one texel of a plain (non-block) colour format to 0xAARRGGBB; formats without alpha
// give alpha 255.
uint32_t DecodeTexelArgb(GpuFormat format, const uint8_t* texel);
// Decodes to floats; half-float texels keep their range, everything else is 0..1.
GpuColor DecodeTexel(GpuFormat format, const uint8_t* texel);
// Encodes a colour into a plain format (rounded to nearest, clamped to 0..1 except half floats).
void EncodeTexel(GpuFormat format, const GpuColor& color, uint8_t* texel);
void EncodeTexelArgb(GpuFormat format, uint32_t argb, uint8_t* texel);
// Decodes texel (x, y) (0..3 each) of one 4x4 block of a block format to 0xAARRGGBB.
uint32_t DecodeBlockTexelArgb(GpuFormat format, const uint8_t* block, uint32_t x, uint32_t y);

float HalfToFloat(uint16_t half);
uint16_t FloatToHalf(float value);

inline GpuColor ArgbToColor(uint32_t argb) {
    constexpr float k = 1.0f / 255.0f;
    return {static_cast<float>((argb >> 16) & 0xFF) * k, static_cast<float>((argb >> 8) & 0xFF) * k,
            static_cast<float>(argb & 0xFF) * k, static_cast<float>(argb >> 24) * k};
}
uint32_t ColorToArgb(const GpuColor& color); // clamped, rounded to nearest

} // namespace quarn
