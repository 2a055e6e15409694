#include "codecs/PngDecoder.h"

#include "ImageTestSupport.h"
#include "LibpngReference.h"
#include "TestPaths.h"
#include "codecs/ImageChecksums.h"
#include "codecs/PngCodec.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

using test::DecodedImage;
using test::DecodeWith;
using test::ReadTestImage;
using test::ZlibCompressed;

std::vector<std::string> FixtureNames() {
    std::vector<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(QUARN_TEST_DATA) + "/images/png")) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class PngFixtureTest : public testing::TestWithParam<std::string> {};

TEST_P(PngFixtureTest, DecodesEveryPixelAsTheReferenceDecoderDoes) {
    const std::vector<uint8_t> bytes = ReadTestImage("png/" + GetParam());
    ASSERT_FALSE(bytes.empty());
    test::ReferenceImage expected;
    ASSERT_TRUE(test::ReferenceDecode(bytes, expected));
    const uint32_t width = expected.width, height = expected.height;
    PngCodec codec;
    const DecodedImage image = DecodeWith(codec, bytes);
    ASSERT_TRUE(image.loaded) << "decoder error " << codec.GetLastErrorCode();
    ASSERT_EQ(image.info.width, width);
    ASSERT_EQ(image.info.height, height);
    const uint8_t colourType = bytes[25];
    EXPECT_EQ(image.info.bitsPerPixel, (colourType & 4) != 0 ? 32u : 24u);
    EXPECT_EQ(image.outside, 0);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* p = &expected.rgba[(size_t(y) * width + x) * 4];
            ASSERT_EQ(image.At(x, y), test::Argb(p[3], p[0], p[1], p[2]))
                << "at " << x << ", " << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PngFixtureTest, testing::ValuesIn(FixtureNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param.substr(0, info.param.size() - 4);
                             for (char& c : name) {
                                 c = (c == '_') ? 'X' : c;
                             }
                             return name;
                         });

// ---------------------------------------------------------------------------------------------
// Hand-made files.

void AppendBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(uint8_t(value >> shift));
    }
}

void AppendChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    AppendBigEndian32(out, uint32_t(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    AppendBigEndian32(out, ChunkCrc(out.data() + start, data.size() + 4));
}

struct PngParts {
    uint32_t width = 2;
    uint32_t height = 2;
    uint8_t depth = 8;
    uint8_t colour = 0;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> before; // chunks before IDAT
    std::vector<uint8_t> filtered;                                    // rows with filter bytes
    std::vector<uint8_t> afterStream; // in the image data after the compressed stream
};

std::vector<uint8_t> MakePng(const PngParts& parts) {
    std::vector<uint8_t> out = {137, 80, 78, 71, 13, 10, 26, 10};
    std::vector<uint8_t> header;
    AppendBigEndian32(header, parts.width);
    AppendBigEndian32(header, parts.height);
    header.insert(header.end(), {parts.depth, parts.colour, 0, 0, 0});
    AppendChunk(out, "IHDR", header);
    for (const auto& [type, data] : parts.before) {
        AppendChunk(out, type.c_str(), data);
    }
    std::vector<uint8_t> data = ZlibCompressed(parts.filtered);
    data.insert(data.end(), parts.afterStream.begin(), parts.afterStream.end());
    AppendChunk(out, "IDAT", data);
    AppendChunk(out, "IEND", {});
    return out;
}

uint32_t DecodeError(const std::vector<uint8_t>& bytes) {
    PngDecoder decoder;
    std::vector<uint8_t> pixels;
    decoder.Decode(pixels, bytes.data(), bytes.size());
    return decoder.GetLastErrorCode();
}

// A 2 x 2 grey file, changed.
std::vector<uint8_t> MakePng(const std::function<void(PngParts&)>& change) {
    PngParts parts;
    parts.filtered = {0, 10, 20, 0, 30, 40};
    change(parts);
    return MakePng(parts);
}

void Palette(PngParts& p) {
    p.colour = 3;
    p.before = {{"PLTE", {1, 2, 3, 4, 5, 6}}};
}

TEST(PngDecoder, ReportsTheCodeOfEachFault) {
    const std::vector<uint8_t> good = MakePng([](PngParts&) {});
    const auto with = [&](size_t at, uint8_t value) {
        std::vector<uint8_t> bytes = good;
        bytes[at] = value;
        return bytes;
    };
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        uint32_t error;
    } cases[] = {
        {"whole", good, 0},
        {"empty", {}, 48},
        {"header cut", {good.begin(), good.begin() + 28}, 27},
        {"signature", with(3, good[3] ^ 1), 28},
        {"header checksum", with(29, good[29] ^ 1), 57},
        // A truncated file loses its chunk ends.
        {"last chunk cut", {good.begin(), good.end() - 2}, 35},
        {"colour type 5", MakePng([](PngParts& p) { p.colour = 5; }), 31},
        {"16-bit palette", MakePng([](PngParts& p) { p.colour = 3, p.depth = 16; }), 37},
        // Refused before anything is allocated.
        {"huge", MakePng([](PngParts& p) { p.width = p.height = 0x7FFFFFFF; }),
         PngDecoder::ErrorImageSize},
        {"no width", MakePng([](PngParts& p) { p.width = 0; }), PngDecoder::ErrorImageSize},
        {"transparency past the palette", MakePng([](PngParts& p) {
             Palette(p);
             p.before.push_back({"tRNS", {1, 2, 3}});
         }),
         39},
        {"index past the palette", MakePng([](PngParts& p) {
             Palette(p);
             p.filtered = {0, 0, 1, 0, 1, 2};
         }),
         46},
        // Without a palette chunk every index is outside it.
        {"no palette", MakePng([](PngParts& p) {
             p.colour = 3, p.depth = 1;
             p.filtered = {0, 0x40, 0, 0x80};
         }),
         47},
        {"filter type 5", MakePng([](PngParts& p) { p.filtered[3] = 5; }), 36},
        {"short image data", MakePng([](PngParts& p) { p.filtered.pop_back(); }),
         PngDecoder::ErrorImageDataShort},
        // Bytes after the whole stream are not image data.
        {"a byte after the stream", MakePng([](PngParts& p) { p.afterStream = {0}; }), 0},
        {"unknown chunks, critical or not", MakePng([](PngParts& p) {
             p.before = {{"CRIT", {1, 2, 3}}, {"teST", {4}}};
         }),
         0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeError(c.bytes), c.error) << c.name;
    }
    // Data beyond what the header implies does not fit the output.
    EXPECT_NE(DecodeError(MakePng([](PngParts& p) { p.filtered.push_back(7); })), 0u);
}

TEST(PngDecoder, AcceptsATallOneBitStripWhoseRowsArePaddedToBytes) {
    PngParts parts;
    parts.width = 1;
    parts.height = 100;
    parts.depth = 1;
    for (int y = 0; y < 100; ++y) {
        parts.filtered.insert(parts.filtered.end(), {0, uint8_t(y % 2 ? 0x80 : 0)});
    }
    PngDecoder decoder;
    std::vector<uint8_t> pixels;
    const std::vector<uint8_t> bytes = MakePng(parts);
    decoder.Decode(pixels, bytes.data(), bytes.size());
    ASSERT_EQ(decoder.GetLastErrorCode(), 0u);
    ASSERT_EQ(pixels.size(), 400u);
    EXPECT_EQ(pixels[0], 0);
    EXPECT_EQ(pixels[4], 255);
}

// Decodes the file of `parts` to RGBA and expects libpng's pixels; answers the engine's.
std::vector<uint8_t> ExpectReferencePixels(const PngParts& parts, const std::string& what) {
    const std::vector<uint8_t> bytes = MakePng(parts);
    test::ReferenceImage expected;
    EXPECT_TRUE(test::ReferenceDecode(bytes, expected)) << what;
    PngDecoder decoder;
    std::vector<uint8_t> pixels;
    decoder.Decode(pixels, bytes.data(), bytes.size());
    EXPECT_EQ(decoder.GetLastErrorCode(), 0u) << what;
    EXPECT_EQ(pixels, expected.rgba) << what;
    return pixels;
}

// Random filtered bytes under every filter type, rows in turn, for each pixel size the average
// and Paeth filters undo pixel by pixel (and grey-alpha 8 and grey 8, which go byte by byte),
// wide enough for long rows and with odd widths; libpng's pixels are the answer.
TEST(PngDecoder, UndoesEveryFilterForEveryPixelSizeAsTheReferenceDecoderDoes) {
    struct Case {
        uint8_t colour;
        uint8_t depth;
        uint32_t bytesPerPixel;
    };
    const Case cases[] = {{2, 8, 3},  {6, 8, 4}, {2, 16, 6}, {6, 16, 8},
                          {4, 16, 4}, {4, 8, 2}, {0, 8, 1}};
    uint32_t seed = 12345;
    for (const Case& c : cases) {
        // Widths about where whole blocks of pixels end and single pixels take over.
        for (uint32_t width : {1u, 5u, 6u, 7u, 10u, 64u}) {
            PngParts parts;
            parts.width = width;
            parts.height = 20;
            parts.depth = c.depth;
            parts.colour = c.colour;
            for (uint32_t y = 0; y < parts.height; ++y) {
                parts.filtered.push_back(uint8_t(y % 5));
                for (uint32_t i = 0; i < width * c.bytesPerPixel; ++i) {
                    seed = seed * 1103515245u + 12345u;
                    parts.filtered.push_back(uint8_t(seed >> 24));
                }
            }
            ExpectReferencePixels(parts, "colour type " + std::to_string(c.colour) + ", depth " +
                                             std::to_string(c.depth) + ", width " +
                                             std::to_string(width));
        }
    }
}

// RGBA rows are written over the filtered rows in the same memory; the last pixels of the last
// row overwrite their own samples, which the colour key is compared with.
TEST(PngDecoder, KeysEveryPixelOfTheKeyColourUpToTheLastOne) {
    const struct {
        uint8_t colour;
        uint8_t depth;
        std::vector<uint8_t> key;
        std::vector<uint8_t> pixel;
    } cases[] = {
        {2, 8, {0, 1, 0, 2, 0, 3}, {1, 2, 3}},
        {0, 8, {0, 9}, {9}},
        {0, 16, {1, 2}, {1, 2}},
    };
    for (const auto& c : cases) {
        PngParts parts;
        parts.width = 5;
        parts.height = 3;
        parts.depth = c.depth;
        parts.colour = c.colour;
        parts.before = {{"tRNS", c.key}};
        for (uint32_t y = 0; y < parts.height; ++y) {
            parts.filtered.push_back(0);
            for (uint32_t x = 0; x < parts.width; ++x) {
                parts.filtered.insert(parts.filtered.end(), c.pixel.begin(), c.pixel.end());
            }
        }
        parts.filtered[1] ^= 0x40; // one pixel that is not the key
        const std::string what = "colour type " + std::to_string(c.colour);
        const std::vector<uint8_t> pixels = ExpectReferencePixels(parts, what);
        ASSERT_FALSE(pixels.empty()) << what;
        EXPECT_EQ(pixels.back(), 0) << what;
    }
}

TEST(PngDecoder, ConvertsToTheRequestedOutputOrRefusesAndKeepsTextChunks) {
    const std::string text = std::string("Author") + '\0' + "someone";
    const std::vector<uint8_t> bytes = MakePng([&](PngParts& p) {
        p.colour = 2;
        p.filtered = {0, 1, 2, 3, 4, 5, 6, 0, 7, 8, 9, 10, 11, 12};
        p.before = {{"tEXt", std::vector<uint8_t>(text.begin(), text.end())}};
    });
    PngDecoder decoder;
    std::vector<uint8_t> pixels;
    decoder.settings.colourType = 2;
    decoder.Decode(pixels, bytes.data(), bytes.size());
    EXPECT_EQ(pixels, std::vector<uint8_t>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    ASSERT_EQ(decoder.GetInfo().texts.size(), 1u);
    EXPECT_EQ(decoder.GetInfo().texts[0].first, "Author");
    EXPECT_EQ(decoder.GetInfo().texts[0].second, "someone");
    decoder.settings.colourType = 0;
    decoder.Decode(pixels, bytes.data(), bytes.size());
    EXPECT_EQ(decoder.GetLastErrorCode(), 62u);
}

TEST(PngCodec, ReportsAZeroHeaderForABrokenFileAndDecodesAgainForAnotherOne) {
    std::vector<uint8_t> bytes = MakePng([](PngParts&) {});
    bytes[40] ^= 0xFF;
    PngCodec codec;
    ImageInfo info;
    codec.GetTextureFormat(info, bytes.data(), uint32_t(bytes.size()));
    EXPECT_EQ(info.width, 0u);
    EXPECT_EQ(info.bitsPerPixel, 0u);
    DecodedImage image;
    EXPECT_FALSE(codec.Load(bytes.data(), uint32_t(bytes.size()), &image, test::CollectPixel));
    EXPECT_NE(codec.GetLastErrorCode(), 0u);
    // Load given another file than the header decodes that file.
    const std::vector<uint8_t> first = MakePng([](PngParts&) {});
    const std::vector<uint8_t> second =
        MakePng([](PngParts& p) { p.filtered = {0, 200, 201, 0, 202, 203}; });
    image = {};
    codec.GetTextureFormat(image.info, first.data(), uint32_t(first.size()));
    image.pixels.assign(4, 0);
    ASSERT_TRUE(codec.Load(second.data(), uint32_t(second.size()), &image, test::CollectPixel));
    EXPECT_EQ(image.At(0, 0), test::Argb(255, 200, 200, 200));
}

} // namespace
} // namespace quarn
