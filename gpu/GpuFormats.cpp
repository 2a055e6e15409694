#include "gpu/GpuFormats.h"

#include "core/io/ByteOrder.h"

#include <algorithm>
#include <bit>

namespace quarn {

uint32_t GpuFullLevelCount(uint32_t width, uint32_t height, uint32_t depth) {
    uint32_t largest = std::max({width, height, depth, 1u});
    return static_cast<uint32_t>(std::bit_width(largest));
}

bool GpuIsBlockFormat(GpuFormat format) {
    return format >= GpuFormat::Dxt1 && format <= GpuFormat::Dxt5;
}

bool GpuIsDepthFormat(GpuFormat format) {
    return format >= GpuFormat::D24S8 && format <= GpuFormat::D16;
}

uint32_t GpuFormatSize(GpuFormat format) {
    switch (format) {
    case GpuFormat::Unknown:
        return 0;
    case GpuFormat::A8R8G8B8:
    case GpuFormat::X8R8G8B8:
    case GpuFormat::D24S8:
    case GpuFormat::D24X4S4:
    case GpuFormat::D32:
    case GpuFormat::D24X8:
    case GpuFormat::Index32:
        return 4;
    case GpuFormat::R8G8B8:
        return 3;
    case GpuFormat::R5G6B5:
    case GpuFormat::X1R5G5B5:
    case GpuFormat::A1R5G5B5:
    case GpuFormat::A4R4G4B4:
    case GpuFormat::X4R4G4B4:
    case GpuFormat::D15S1:
    case GpuFormat::D16:
    case GpuFormat::Index16:
        return 2;
    case GpuFormat::Dxt1:
    case GpuFormat::A16B16G16R16F:
    case GpuFormat::A16B16G16R16:
        return 8;
    case GpuFormat::Dxt2:
    case GpuFormat::Dxt3:
    case GpuFormat::Dxt4:
    case GpuFormat::Dxt5:
        return 16;
    }
    return 0;
}

float HalfToFloat(uint16_t half) {
    uint32_t sign = static_cast<uint32_t>(half & 0x8000) << 16;
    uint32_t exponent = (half >> 10) & 0x1F;
    uint32_t mantissa = half & 0x3FF;
    uint32_t bits;
    if (exponent == 0) {
        if (mantissa == 0) {
            bits = sign;
        } else {
            // Subnormal: scale exactly, 2^-24 per unit.
            float value = static_cast<float>(mantissa) * 5.9604644775390625e-8f;
            return sign ? -value : value;
        }
    } else if (exponent == 31) {
        bits = sign | 0x7F800000u | (mantissa << 13);
    } else {
        bits = sign | ((exponent + 112) << 23) | (mantissa << 13);
    }
    return std::bit_cast<float>(bits);
}

uint16_t FloatToHalf(float value) {
    uint32_t bits = std::bit_cast<uint32_t>(value);
    uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000);
    uint32_t exponent = (bits >> 23) & 0xFF;
    uint32_t mantissa = bits & 0x7FFFFF;
    if (exponent == 0xFF) {
        return static_cast<uint16_t>(sign | 0x7C00 | (mantissa ? 0x200 : 0));
    }
    int32_t e = static_cast<int32_t>(exponent) - 127 + 15;
    if (e >= 31) {
        return static_cast<uint16_t>(sign | 0x7C00);
    }
    if (e <= 0) {
        if (e < -10) {
            return sign;
        }
        // Subnormal half: shift the full mantissa down, rounding to nearest even.
        uint32_t full = mantissa | 0x800000;
        uint32_t shift = static_cast<uint32_t>(14 - e);
        uint32_t result = full >> shift;
        uint32_t rest = full & ((1u << shift) - 1);
        uint32_t halfway = 1u << (shift - 1);
        if (rest > halfway || (rest == halfway && (result & 1))) {
            ++result;
        }
        return static_cast<uint16_t>(sign | result);
    }
    uint32_t result = (static_cast<uint32_t>(e) << 10) | (mantissa >> 13);
    uint32_t rest = mantissa & 0x1FFF;
    if (rest > 0x1000 || (rest == 0x1000 && (result & 1))) {
        ++result; // may carry into the exponent, which is the correct rounding
    }
    return static_cast<uint16_t>(sign | result);
}

namespace {

uint32_t Expand5(uint32_t v) {
    return (v << 3) | (v >> 2);
}
uint32_t Expand6(uint32_t v) {
    return (v << 2) | (v >> 4);
}
uint32_t Quantize(uint32_t c8, uint32_t max) {
    return (c8 * max + 127) / 255;
}
uint32_t ToByte(float v) {
    if (!(v > 0.0f)) {
        return 0;
    }
    if (v >= 1.0f) {
        return 255;
    }
    return static_cast<uint32_t>(v * 255.0f + 0.5f);
}
uint16_t ToWord(float v) {
    if (!(v > 0.0f)) {
        return 0;
    }
    if (v >= 1.0f) {
        return 65535;
    }
    return static_cast<uint16_t>(v * 65535.0f + 0.5f);
}

// The colour half of a block: endpoints and 2-bit indices. Three-colour mode (with transparent
// black) exists only in DXT1 blocks whose first endpoint is not greater.
uint32_t DecodeColorBlock(const uint8_t* block, uint32_t index, bool allowThreeColor) {
    uint32_t c0 = ReadLittleEndian16(block);
    uint32_t c1 = ReadLittleEndian16(block + 2);
    uint32_t selector = (ReadLittleEndian32(block + 4) >> (2 * index)) & 3;
    uint32_t r0 = Expand5(c0 >> 11), g0 = Expand6((c0 >> 5) & 63), b0 = Expand5(c0 & 31);
    uint32_t r1 = Expand5(c1 >> 11), g1 = Expand6((c1 >> 5) & 63), b1 = Expand5(c1 & 31);
    switch (selector) {
    case 0:
        return GpuArgb(255, r0, g0, b0);
    case 1:
        return GpuArgb(255, r1, g1, b1);
    case 2:
        if (allowThreeColor && c0 <= c1) {
            return GpuArgb(255, (r0 + r1) / 2, (g0 + g1) / 2, (b0 + b1) / 2);
        }
        return GpuArgb(255, (2 * r0 + r1 + 1) / 3, (2 * g0 + g1 + 1) / 3, (2 * b0 + b1 + 1) / 3);
    default:
        if (allowThreeColor && c0 <= c1) {
            return 0;
        }
        return GpuArgb(255, (r0 + 2 * r1 + 1) / 3, (g0 + 2 * g1 + 1) / 3, (b0 + 2 * b1 + 1) / 3);
    }
}

uint32_t InterpolatedAlpha(const uint8_t* block, uint32_t index) {
    uint32_t a0 = block[0];
    uint32_t a1 = block[1];
    uint64_t bits = 0;
    for (int i = 0; i < 6; ++i) {
        bits |= static_cast<uint64_t>(block[2 + i]) << (8 * i);
    }
    uint32_t selector = static_cast<uint32_t>(bits >> (3 * index)) & 7;
    if (selector == 0) {
        return a0;
    }
    if (selector == 1) {
        return a1;
    }
    if (a0 > a1) {
        return ((8 - selector) * a0 + (selector - 1) * a1 + 3) / 7;
    }
    if (selector == 6) {
        return 0;
    }
    if (selector == 7) {
        return 255;
    }
    return ((6 - selector) * a0 + (selector - 1) * a1 + 2) / 5;
}

} // namespace

uint32_t DecodeBlockTexelArgb(GpuFormat format, const uint8_t* block, uint32_t x, uint32_t y) {
    uint32_t index = (y & 3) * 4 + (x & 3);
    switch (format) {
    case GpuFormat::Dxt1:
        return DecodeColorBlock(block, index, true);
    case GpuFormat::Dxt2:
    case GpuFormat::Dxt3: {
        uint32_t alpha = (block[index / 2] >> (4 * (index & 1))) & 0xF;
        return (DecodeColorBlock(block + 8, index, false) & 0xFFFFFF) | ((alpha * 17) << 24);
    }
    case GpuFormat::Dxt4:
    case GpuFormat::Dxt5:
        return (DecodeColorBlock(block + 8, index, false) & 0xFFFFFF) |
               (InterpolatedAlpha(block, index) << 24);
    default:
        return 0;
    }
}

uint32_t ColorToArgb(const GpuColor& color) {
    return GpuArgb(ToByte(color.a), ToByte(color.r), ToByte(color.g), ToByte(color.b));
}

uint32_t DecodeTexelArgb(GpuFormat format, const uint8_t* t) {
    switch (format) {
    case GpuFormat::A8R8G8B8:
        return ReadLittleEndian32(t);
    case GpuFormat::X8R8G8B8:
        return ReadLittleEndian32(t) | 0xFF000000u;
    case GpuFormat::R8G8B8:
        return GpuArgb(255, t[2], t[1], t[0]);
    case GpuFormat::R5G6B5: {
        uint32_t v = ReadLittleEndian16(t);
        return GpuArgb(255, Expand5(v >> 11), Expand6((v >> 5) & 63), Expand5(v & 31));
    }
    case GpuFormat::X1R5G5B5:
    case GpuFormat::A1R5G5B5: {
        uint32_t v = ReadLittleEndian16(t);
        uint32_t a = (format == GpuFormat::X1R5G5B5 || (v & 0x8000)) ? 255 : 0;
        return GpuArgb(a, Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31));
    }
    case GpuFormat::A4R4G4B4:
    case GpuFormat::X4R4G4B4: {
        uint32_t v = ReadLittleEndian16(t);
        uint32_t a = format == GpuFormat::X4R4G4B4 ? 255 : (v >> 12) * 17;
        return GpuArgb(a, ((v >> 8) & 15) * 17, ((v >> 4) & 15) * 17, (v & 15) * 17);
    }
    case GpuFormat::A16B16G16R16F:
    case GpuFormat::A16B16G16R16:
        return ColorToArgb(DecodeTexel(format, t));
    default:
        return 0;
    }
}

GpuColor DecodeTexel(GpuFormat format, const uint8_t* t) {
    switch (format) {
    case GpuFormat::A16B16G16R16F:
        return {HalfToFloat(ReadLittleEndian16(t)), HalfToFloat(ReadLittleEndian16(t + 2)),
                HalfToFloat(ReadLittleEndian16(t + 4)), HalfToFloat(ReadLittleEndian16(t + 6))};
    case GpuFormat::A16B16G16R16: {
        constexpr float k = 1.0f / 65535.0f;
        return {static_cast<float>(ReadLittleEndian16(t)) * k,
                static_cast<float>(ReadLittleEndian16(t + 2)) * k,
                static_cast<float>(ReadLittleEndian16(t + 4)) * k,
                static_cast<float>(ReadLittleEndian16(t + 6)) * k};
    }
    default:
        return ArgbToColor(DecodeTexelArgb(format, t));
    }
}

void EncodeTexelArgb(GpuFormat format, uint32_t argb, uint8_t* t) {
    uint32_t a = argb >> 24, r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    switch (format) {
    case GpuFormat::A8R8G8B8:
    case GpuFormat::X8R8G8B8:
        WriteLittleEndian32(t, argb);
        return;
    case GpuFormat::R8G8B8:
        t[0] = static_cast<uint8_t>(b);
        t[1] = static_cast<uint8_t>(g);
        t[2] = static_cast<uint8_t>(r);
        return;
    case GpuFormat::R5G6B5:
        WriteLittleEndian16(t, (Quantize(r, 31) << 11) | (Quantize(g, 63) << 5) | Quantize(b, 31));
        return;
    case GpuFormat::X1R5G5B5:
    case GpuFormat::A1R5G5B5: {
        uint32_t alpha = (format == GpuFormat::X1R5G5B5 || a >= 128) ? 0x8000 : 0;
        WriteLittleEndian16(t, alpha | (Quantize(r, 31) << 10) | (Quantize(g, 31) << 5) |
                                   Quantize(b, 31));
        return;
    }
    case GpuFormat::A4R4G4B4:
    case GpuFormat::X4R4G4B4: {
        uint32_t alpha = format == GpuFormat::X4R4G4B4 ? 15 : Quantize(a, 15);
        WriteLittleEndian16(t, (alpha << 12) | (Quantize(r, 15) << 8) | (Quantize(g, 15) << 4) |
                                   Quantize(b, 15));
        return;
    }
    case GpuFormat::A16B16G16R16F:
    case GpuFormat::A16B16G16R16:
        EncodeTexel(format, ArgbToColor(argb), t);
        return;
    default:
        return;
    }
}

void EncodeTexel(GpuFormat format, const GpuColor& c, uint8_t* t) {
    switch (format) {
    case GpuFormat::A16B16G16R16F:
        WriteLittleEndian16(t, FloatToHalf(c.r));
        WriteLittleEndian16(t + 2, FloatToHalf(c.g));
        WriteLittleEndian16(t + 4, FloatToHalf(c.b));
        WriteLittleEndian16(t + 6, FloatToHalf(c.a));
        return;
    case GpuFormat::A16B16G16R16:
        WriteLittleEndian16(t, ToWord(c.r));
        WriteLittleEndian16(t + 2, ToWord(c.g));
        WriteLittleEndian16(t + 4, ToWord(c.b));
        WriteLittleEndian16(t + 6, ToWord(c.a));
        return;
    default:
        EncodeTexelArgb(format, ColorToArgb(c), t);
        return;
    }
}

} // namespace quarn
