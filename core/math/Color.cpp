#include "core/math/Color.h"

namespace quarn {

namespace {

uint32_t ChannelByte(float value) {
    const float scaled = value * 255.0f;
    // Compared before converting: a float beyond the int range has no defined conversion, and
    // a huge channel is plainly full, not empty.
    if (!(scaled > 0.0f)) {
        return 0;
    }
    if (scaled >= 255.0f) {
        return 255;
    }
    return static_cast<uint32_t>(scaled);
}

uint32_t Channel(uint32_t argb, int shift) {
    return (argb >> shift) & 0xFFu;
}

} // namespace

uint32_t PackColor(float r, float g, float b, float a) {
    return ChannelByte(a) << 24 | ChannelByte(r) << 16 | ChannelByte(g) << 8 | ChannelByte(b);
}

Float4 UnpackColor(uint32_t argb) {
    return {static_cast<float>(Channel(argb, 16)) / 255.0f,
            static_cast<float>(Channel(argb, 8)) / 255.0f,
            static_cast<float>(Channel(argb, 0)) / 255.0f,
            static_cast<float>(Channel(argb, 24)) / 255.0f};
}

uint16_t ArgbToRgb565(uint32_t argb) {
    return static_cast<uint16_t>((Channel(argb, 16) >> 3) << 11 | (Channel(argb, 8) >> 2) << 5 |
                                 Channel(argb, 0) >> 3);
}

uint32_t Rgb565ToArgb(uint16_t pixel) {
    const uint32_t r = (pixel >> 11) & 0x1Fu;
    const uint32_t g = (pixel >> 5) & 0x3Fu;
    const uint32_t b = pixel & 0x1Fu;
    return 0xFF000000u | (r << 3) << 16 | (g << 2) << 8 | b << 3;
}

uint32_t Xrgb1555ToArgb(uint16_t pixel) {
    const uint32_t r = (pixel >> 10) & 0x1Fu;
    const uint32_t g = (pixel >> 5) & 0x1Fu;
    const uint32_t b = pixel & 0x1Fu;
    return 0xFF000000u | (r << 3) << 16 | (g << 3) << 8 | b << 3;
}

uint32_t Argb4444ToArgb(uint16_t pixel) {
    const uint32_t a = (pixel >> 12) & 0xFu;
    const uint32_t r = (pixel >> 8) & 0xFu;
    const uint32_t g = (pixel >> 4) & 0xFu;
    const uint32_t b = pixel & 0xFu;
    return (a * 17) << 24 | (r * 17) << 16 | (g * 17) << 8 | b * 17;
}

uint32_t BlendColor(uint32_t a, uint32_t b, int32_t weight) {
    const uint32_t wa = static_cast<uint32_t>(weight < 0 ? 0 : (weight > 256 ? 256 : weight));
    const uint32_t wb = 256 - wa;
    uint32_t result = 0xFF000000u;
    for (int shift = 0; shift <= 16; shift += 8) {
        result |= ((Channel(a, shift) * wa + Channel(b, shift) * wb) >> 8) << shift;
    }
    return result;
}

uint32_t ModulateColor(uint32_t a, uint32_t b) {
    uint32_t result = 0xFF000000u;
    for (int shift = 0; shift <= 16; shift += 8) {
        result |= (Channel(a, shift) * Channel(b, shift) / 255) << shift;
    }
    return result;
}

uint32_t AddColorSaturated(uint32_t a, uint32_t b) {
    uint32_t result = 0;
    for (int shift = 0; shift <= 24; shift += 8) {
        const uint32_t sum = Channel(a, shift) + Channel(b, shift);
        result |= (sum > 0xFF ? 0xFFu : sum) << shift;
    }
    return result;
}

Float4 Float4Lerp(const Float4& a, const Float4& b, float t) {
    const float u = 1.0f - t;
    return {a.x * t + b.x * u, a.y * t + b.y * u, a.z * t + b.z * u, a.w * t + b.w * u};
}

} // namespace quarn
