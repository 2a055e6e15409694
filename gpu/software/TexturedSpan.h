#pragma once

// The common textured case of the pixel pipeline, four pixels at a time: one 32-bit texture
// combined with the diffuse colour, vertex fog, the alpha and depth tests, written straight or
// blended by source alpha into a 32-bit target. It writes exactly the bytes the general per-pixel
// path writes: its float operations are that path's, lane by lane in the same order, and the texel
// arithmetic below is shared by both.

#include "gpu/GpuLayer.h"

#include <cmath>
#include <cstdint>

namespace quarn {

inline constexpr float ByteScale = 1.0f / 255.0f;

inline float Clamp01(float v) {
    return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
}

inline uint32_t ToByte(float v) {
    return static_cast<uint32_t>(Clamp01(v) * 255.0f + 0.5f);
}

// Texel coordinates in fixed point: the fraction bits are the bilinear weights.
inline constexpr int32_t TexelFractionBits = 8;
inline constexpr int32_t TexelOne = 1 << TexelFractionBits;
// Coordinates are clamped to this many texels either way (NaN to the low end), far beyond any
// texture, so broken ones cannot overflow.
inline constexpr float TexelCoordinateLimit = 4194304.0f;

// floor(t * 256) of a texel coordinate, clamped.
inline int32_t ToFixedTexel(float t) {
    float scaled = t * static_cast<float>(TexelOne);
    constexpr float Limit = TexelCoordinateLimit * TexelOne;
    scaled = scaled > -Limit ? (scaled < Limit ? scaled : Limit) : -Limit;
    return static_cast<int32_t>(std::floor(scaled));
}

// Always inlined: the AVX2 span loop calls it too, and an out-of-line copy compiled for AVX2
// could be the one the linker keeps.
[[gnu::always_inline]] inline int32_t AddressTexel(int32_t i, int32_t size, bool wrap) {
    if (wrap) {
        i %= size;
        return i < 0 ? i + size : i;
    }
    return i < 0 ? 0 : (i >= size ? size - 1 : i);
}

// Bilinear filter of four ARGB texels per channel, rows first, each step rounded:
// top = (c00 (256 - ax) + c10 ax + 128) >> 8, likewise bottom, then between them by ay.
inline uint32_t BilinearArgb(uint32_t c00, uint32_t c10, uint32_t c01, uint32_t c11, uint32_t ax,
                             uint32_t ay) {
    uint32_t out = 0;
    for (uint32_t shift = 0; shift < 32; shift += 8) {
        auto lerp = [](uint32_t a, uint32_t b, uint32_t t) {
            return (a * (TexelOne - t) + b * t + TexelOne / 2) >> TexelFractionBits;
        };
        const uint32_t top = lerp((c00 >> shift) & 0xFF, (c10 >> shift) & 0xFF, ax);
        const uint32_t bottom = lerp((c01 >> shift) & 0xFF, (c11 >> shift) & 0xFF, ax);
        out |= lerp(top, bottom, ay) << shift;
    }
    return out;
}

// Where a combiner output comes from in the textured case.
enum class SpanSource : uint8_t { Texture, Diffuse, Product };

// A texture the loops over lanes sample a vector at a time: one 32-bit level, read with one
// filter whatever the footprint.
struct LaneTexture {
    const uint8_t* texels = nullptr;
    uint32_t pitch = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t alphaFill = 0; // ORed into texels: opaque alpha for X8R8G8B8
    bool linear = false;
    bool wrapU = true;
    bool wrapV = true;
};

// The alpha and depth tests and the 32-bit target of the loops over lanes.
struct LaneWrite {
    bool alphaTest = false;
    GpuCompare alphaFunc = GpuCompare::Always;
    uint32_t alphaRef = 0;

    uint8_t* target = nullptr;
    uint32_t targetPitch = 0;
    uint32_t targetAlphaFill = 0;

    float* depth = nullptr; // nullptr: no depth test
    uint32_t depthWidth = 0;
    bool depthTest = false;
    bool depthWrite = false;
    GpuCompare depthFunc = GpuCompare::LessEqual;
};

// Everything the span loop reads, resolved once per draw.
struct TexturedSpanSetup {
    LaneTexture texture;
    LaneWrite write;
    SpanSource color = SpanSource::Product;
    SpanSource alpha = SpanSource::Texture;
    bool blend = false; // by source alpha
    bool fog = false;   // towards fogColor by the interpolated factor
    float fogColor[3] = {};
    bool wide = false; // eight lanes at a time (WideLanes)
};

// One attribute along a row: its value at x is row + dx * x (times 1/w where perspective).
struct SpanValue {
    float row = 0.0f;
    float dx = 0.0f;
    float At(float x) const { return row + dx * x; }
};

// One span: pixels [left, right] of row y.
struct TexturedSpan {
    int32_t y = 0;
    int32_t left = 0;
    int32_t right = 0;
    SpanValue z;
    SpanValue q;
    SpanValue diffuse[4];
    SpanValue u;
    SpanValue v;
    SpanValue fog; // read only where the setup fogs
};

void ShadeTexturedSpan(const TexturedSpanSetup& setup, const TexturedSpan& span);

// The eight-lane loop; only where WideLanes() holds.
void ShadeTexturedSpanWide(const TexturedSpanSetup& setup, const TexturedSpan& span);

} // namespace quarn
