#pragma once

#include "TestPaths.h"
#include "codecs/ImageCodec.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <zlib.h>

namespace quarn::test {

// What a codec streamed out, laid out as the header said.
struct DecodedImage {
    ImageInfo info;
    bool loaded = false;
    std::vector<ImagePixel> pixels; // rows top to bottom; 0 where nothing arrived
    int outside = 0;                // pixels the codec handed over outside the image

    ImagePixel At(uint32_t x, uint32_t y) const { return pixels[y * info.width + x]; }
};

inline void CollectPixel(int32_t x, int32_t y, ImagePixel pixel, void* context) {
    auto* image = static_cast<DecodedImage*>(context);
    if (x < 0 || y < 0 || static_cast<uint32_t>(x) >= image->info.width ||
        static_cast<uint32_t>(y) >= image->info.height) {
        ++image->outside;
        return;
    }
    image->pixels[static_cast<size_t>(y) * image->info.width + static_cast<size_t>(x)] = pixel;
}

// Header, then pixels, as the texture loader drives a codec.
inline DecodedImage DecodeWith(ImageCodec& codec, const std::vector<uint8_t>& bytes) {
    DecodedImage image;
    codec.GetTextureFormat(image.info, bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (image.info.width == 0 || image.info.height == 0 || image.info.bitsPerPixel == 0) {
        return image;
    }
    image.pixels.assign(static_cast<size_t>(image.info.width) * image.info.height, 0);
    image.loaded =
        codec.Load(bytes.data(), static_cast<uint32_t>(bytes.size()), &image, CollectPixel);
    codec.ReleaseData();
    return image;
}

inline std::vector<uint8_t> ReadTestImage(const std::string& name) {
    std::ifstream file(std::string(QUARN_TEST_DATA) + "/images/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

inline ImagePixel Argb(uint32_t alpha, uint32_t red, uint32_t green, uint32_t blue) {
    return alpha << 24 | (red & 255) << 16 | (green & 255) << 8 | (blue & 255);
}

// A zlib stream from the reference compressor.
inline std::vector<uint8_t> ZlibCompressed(const std::vector<uint8_t>& data) {
    uLongf size = compressBound(uLong(data.size()));
    std::vector<uint8_t> out(size);
    compress(out.data(), &size, data.data(), uLong(data.size()));
    out.resize(size);
    return out;
}

// The true-colour pattern tests/data/make_bmps.py draws.
inline ImagePixel BitmapFixturePixel(uint32_t x, uint32_t y) {
    return Argb(255, x * 40 + 10, y * 60 + 20, (x + y) * 25 + 5);
}

} // namespace quarn::test
