#include "codecs/PngEncoder.h"

#include "codecs/Deflate.h"
#include "codecs/PngDecoder.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <png.h>
#include <string>
#include <zlib.h>

namespace quarn::test {
namespace {

std::vector<uint8_t> Inflated(const std::vector<uint8_t>& stream, size_t expectedSize) {
    std::vector<uint8_t> out(expectedSize + 16);
    uLongf size = static_cast<uLongf>(out.size());
    int result = uncompress(out.data(), &size, stream.data(), static_cast<uLong>(stream.size()));
    EXPECT_EQ(result, Z_OK);
    out.resize(result == Z_OK ? size : 0);
    return out;
}

// Text, long runs, short repeats and noise: every kind of symbol and distance a picture gives.
std::vector<uint8_t> MixedData(size_t size) {
    std::vector<uint8_t> data(size);
    uint32_t noise = 12345;
    for (size_t i = 0; i < size; ++i) {
        noise = noise * 1103515245u + 12345u;
        switch ((i / 700) % 4) {
        case 0:
            data[i] = static_cast<uint8_t>("the quick brown fox "[i % 20]);
            break;
        case 1:
            data[i] = 7;
            break;
        case 2:
            data[i] = static_cast<uint8_t>(noise >> 24);
            break;
        default:
            data[i] = static_cast<uint8_t>(i % 251);
            break;
        }
    }
    return data;
}

TEST(DeflateTest, EveryBlockTypeInflatesBackWithZlib) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{5}, size_t{70000}}) {
        std::vector<uint8_t> data = MixedData(size);
        for (uint32_t blockType : {0u, 1u, 2u}) {
            for (bool lz77 : {true, false}) {
                SCOPED_TRACE(std::to_string(size) + " bytes, block type " +
                             std::to_string(blockType) + (lz77 ? " with" : " without") +
                             " matching");
                DeflateSettings settings;
                settings.blockType = blockType;
                settings.useLz77 = lz77;
                std::vector<uint8_t> stream;
                ASSERT_EQ(ZlibCompress(stream, data.data(), data.size(), settings), 0u);
                EXPECT_EQ(Inflated(stream, data.size()), data);
            }
        }
    }
}

TEST(DeflateTest, WholeWindowAndLongRunsCompress) {
    std::vector<uint8_t> data = MixedData(50000);
    DeflateSettings settings;
    settings.windowSize = 32768;
    std::vector<uint8_t> stream;
    ASSERT_EQ(ZlibCompress(stream, data.data(), data.size(), settings), 0u);
    EXPECT_EQ(Inflated(stream, data.size()), data);

    // One literal, then back-references of distance 1.
    std::vector<uint8_t> run(100000, 42);
    std::vector<uint8_t> small;
    ASSERT_EQ(ZlibCompress(small, run.data(), run.size(), DeflateSettings{}), 0u);
    EXPECT_LT(small.size(), 200u);
    EXPECT_EQ(Inflated(small, run.size()), run);
}

TEST(DeflateTest, SettingsOutsideTheFormatAreRefused) {
    uint8_t byte = 1;
    std::vector<uint8_t> stream;
    DeflateSettings wideWindow;
    wideWindow.windowSize = 32769;
    EXPECT_EQ(ZlibCompress(stream, &byte, 1, wideWindow), 60u);
    DeflateSettings blockType3;
    blockType3.blockType = 3;
    EXPECT_EQ(ZlibCompress(stream, &byte, 1, blockType3), 61u);
    EXPECT_TRUE(stream.empty());
}

TEST(DeflateTest, CodeLengthsStayWithinTheLimitAndFormACode) {
    // Fibonacci frequencies want lengths far above the limit.
    std::vector<uint32_t> frequencies(40, 0);
    uint32_t a = 1, b = 1;
    for (size_t i = 0; i < 30; ++i) {
        frequencies[i] = a;
        uint32_t next = a + b;
        a = b;
        b = next;
    }
    std::vector<uint8_t> lengths = LimitedCodeLengths(frequencies, 15);
    double kraft = 0;
    for (size_t i = 0; i < lengths.size(); ++i) {
        EXPECT_EQ(lengths[i] == 0, frequencies[i] == 0) << i;
        EXPECT_LE(lengths[i], 15);
        kraft += lengths[i] ? std::ldexp(1.0, -lengths[i]) : 0;
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0);

    std::vector<uint32_t> lone(30, 0);
    lone[4] = 9;
    EXPECT_EQ(LimitedCodeLengths(lone, 15)[4], 1);
}

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
