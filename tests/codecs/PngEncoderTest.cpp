#include "codecs/PngEncoder.h"

#include "codecs/PngDecoder.h"

#include <cstring>
#include <gtest/gtest.h>
#include <png.h>
#include <string>

namespace quarn::test {
namespace {

struct LibpngImage {
    bool ok = false;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;
};

LibpngImage DecodeWithLibpng(const std::vector<uint8_t>& file) {
    LibpngImage result;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
        return result;
    }
    image.format = PNG_FORMAT_RGBA;
    result.rgba.resize(PNG_IMAGE_SIZE(image));
    result.ok = png_image_finish_read(&image, nullptr, result.rgba.data(), 0, nullptr) != 0;
    result.width = image.width;
    result.height = image.height;
    png_image_free(&image);
    return result;
}

std::vector<uint8_t> Picture(uint32_t width, uint32_t height, bool translucent) {
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
    uint32_t noise = 99;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
            p[0] = static_cast<uint8_t>(x * 255 / width);
            p[1] = static_cast<uint8_t>(y * 7 + (x / 9) * 40);
            p[2] = static_cast<uint8_t>(y < height / 2 ? noise >> 24 : 128);
            p[3] = translucent ? static_cast<uint8_t>((x + y) * 3) : 255;
        }
    }
    return rgba;
}

// Chunk types in file order.
std::vector<std::string> ChunkTypes(const std::vector<uint8_t>& file) {
    std::vector<std::string> types;
    for (size_t at = 8; at + 8 <= file.size();) {
        uint32_t length = static_cast<uint32_t>(file[at]) << 24 | file[at + 1] << 16 |
                          file[at + 2] << 8 | file[at + 3];
        types.emplace_back(reinterpret_cast<const char*>(&file[at + 4]), 4);
        at += 12 + length;
    }
    return types;
}

TEST(PngEncoderTest, ImagesDecodeIdenticallyWithLibpngAndTheEngineDecoder) {
    for (bool translucent : {false, true}) {
        for (auto [width, height] : {std::pair{1u, 1u}, std::pair{67u, 45u}, std::pair{3u, 200u}}) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) +
                         (translucent ? " translucent" : " opaque"));
            std::vector<uint8_t> rgba = Picture(width, height, translucent);
            PngEncoder encoder;
            std::vector<uint8_t> file;
            ASSERT_EQ(encoder.Encode(file, rgba.data(), width, height), 0u);
            EXPECT_EQ(file[25], translucent ? 6 : 2); // colour type
            EXPECT_EQ(file[28], 0);                   // never interlaced

            LibpngImage reference = DecodeWithLibpng(file);
            ASSERT_TRUE(reference.ok);
            EXPECT_EQ(reference.width, width);
            EXPECT_EQ(reference.height, height);
            EXPECT_EQ(reference.rgba, rgba);

            PngDecoder decoder;
            std::vector<uint8_t> ours;
            decoder.Decode(ours, file.data(), file.size());
            EXPECT_EQ(decoder.GetError(), 0u);
            EXPECT_EQ(ours, rgba);
        }
    }
}

TEST(PngEncoderTest, OneTranslucentPixelKeepsTheAlphaChannel) {
    std::vector<uint8_t> rgba = Picture(8, 8, false);
    rgba[4 * 10 + 3] = 254;
    PngEncoder encoder;
    std::vector<uint8_t> file;
    ASSERT_EQ(encoder.Encode(file, rgba.data(), 8, 8), 0u);
    EXPECT_EQ(file[25], 6);
    EXPECT_EQ(DecodeWithLibpng(file).rgba, rgba);
}

TEST(PngEncoderTest, TextPairsBecomeTextChunksBeforeTheData) {
    std::vector<uint8_t> rgba = Picture(2, 2, false);
    PngEncoder encoder;
    encoder.AddText("Software", "quarn");
    std::vector<uint8_t> file;
    ASSERT_EQ(encoder.Encode(file, rgba.data(), 2, 2), 0u);
    EXPECT_EQ(ChunkTypes(file), (std::vector<std::string>{"IHDR", "tEXt", "IDAT", "IEND"}));
    PngDecoder decoder;
    std::vector<uint8_t> ours;
    decoder.Decode(ours, file.data(), file.size());
    ASSERT_EQ(decoder.GetInfo().texts.size(), 1u);
    EXPECT_EQ(decoder.GetInfo().texts[0].second, "quarn");

    PngEncoder badKeywords;
    badKeywords.AddText("", "empty");
    EXPECT_EQ(badKeywords.Encode(file, rgba.data(), 2, 2), 67u);
    PngEncoder longKeyword;
    longKeyword.AddText(std::string(80, 'k'), "long");
    EXPECT_EQ(longKeyword.Encode(file, rgba.data(), 2, 2), 66u);
}

} // namespace
} // namespace quarn::test
