#pragma once

// PNG files made by a test through the engine's own encoder.

#include "codecs/PngEncoder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarn::test {

// The bytes of a width x height PNG whose pixel (x, y) is color(x, y), given as 0xAARRGGBB;
// empty when the encoder refuses.
template <class Color>
std::string EncodePng(uint32_t width, uint32_t height, Color color) {
    std::vector<uint8_t> rgba;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t c = color(x, y);
            rgba.insert(rgba.end(),
                        {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), uint8_t(c >> 24)});
        }
    }
    std::vector<uint8_t> file;
    if (PngEncoder().Encode(file, rgba.data(), width, height) != 0) {
        return {};
    }
    return std::string(file.begin(), file.end());
}

} // namespace quarn::test
