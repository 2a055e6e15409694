#include "codecs/PngEncoder.h"

#include "LibpngReference.h"
#include "codecs/PngDecoder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

namespace quarn::test {
namespace {

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
    for (auto [width, height] : {std::pair{1u, 1u}, std::pair{67u, 45u}, std::pair{3u, 200u}}) {
        // Opaque, translucent, and opaque but for one pixel, which keeps the alpha channel.
        for (int alpha = 0; alpha < 3; ++alpha) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " alpha " +
                         std::to_string(alpha));
            std::vector<uint8_t> rgba = Picture(width, height, alpha == 1);
            rgba[3] = alpha == 2 ? 254 : rgba[3];
            PngEncoder encoder;
            std::vector<uint8_t> file;
            ASSERT_EQ(encoder.Encode(file, rgba.data(), width, height), 0u);
            EXPECT_EQ(file[25], alpha == 0 ? 2 : 6); // colour type
            EXPECT_EQ(file[28], 0);                  // never interlaced
            ReferenceImage reference;
            ASSERT_TRUE(ReferenceDecode(file, reference));
            EXPECT_EQ(reference.width, width);
            EXPECT_EQ(reference.height, height);
            EXPECT_EQ(reference.rgba, rgba);
            PngDecoder decoder;
            std::vector<uint8_t> ours;
            decoder.Decode(ours, file.data(), file.size());
            EXPECT_EQ(decoder.GetLastErrorCode(), 0u);
            EXPECT_EQ(ours, rgba);
        }
    }
}

// Rows are filtered and compressed one at a time: a 4096-wide image takes no more working
// memory at 16 times the rows, and data past a chunk's worth spreads over several chunks.
TEST(PngEncoderTest, LargeImagesEncodeWithWorkingMemoryOfAFewRows) {
    auto libpngReads = [](const std::vector<uint8_t>& file, const std::vector<uint8_t>& rgba) {
        ReferenceImage reference;
        return ReferenceDecode(file, reference) && reference.rgba == rgba;
    };
    std::vector<size_t> working;
    for (uint32_t height : {16u, 256u}) {
        std::vector<uint8_t> rgba(size_t{4096} * height * 4, 255);
        for (size_t i = 0; i < rgba.size(); i += 4) {
            rgba[i] = static_cast<uint8_t>(i / 4);
            rgba[i + 1] = static_cast<uint8_t>(i / 4 / 4096);
        }
        PngEncoder encoder;
        std::vector<uint8_t> file;
        ASSERT_EQ(encoder.Encode(file, rgba.data(), 4096, height), 0u);
        working.push_back(encoder.GetWorkingBytes());
        if (height == 16) {
            EXPECT_TRUE(libpngReads(file, rgba));
        }
    }
    EXPECT_EQ(working[0], working[1]);
    EXPECT_LT(working[1], size_t{2} << 20);

    std::vector<uint8_t> noise(700 * 700 * 4);
    uint32_t seed = 5;
    for (uint8_t& byte : noise) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(seed >> 24);
    }
    PngEncoder encoder;
    std::vector<uint8_t> file;
    ASSERT_EQ(encoder.Encode(file, noise.data(), 700, 700), 0u);
    const std::vector<std::string> types = ChunkTypes(file);
    EXPECT_GT(std::count(types.begin(), types.end(), "IDAT"), 1);
    EXPECT_EQ(types.back(), "IEND");
    EXPECT_TRUE(libpngReads(file, noise));
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
