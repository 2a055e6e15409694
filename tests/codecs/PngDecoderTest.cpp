#include "codecs/PngDecoder.h"

#include "ImageTestSupport.h"
#include "codecs/ImageChecksums.h"
#include "codecs/PngCodec.h"

#include <csetjmp>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <png.h>

namespace quarn {
namespace {

using test::DecodedImage;
using test::DecodeWith;
using test::ReadTestImage;
using test::ZlibCompressed;

struct PngReadSource {
    const std::vector<uint8_t>* bytes;
    size_t position;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t count) {
    auto* source = static_cast<PngReadSource*>(png_get_io_ptr(png));
    if (source->position + count > source->bytes->size()) {
        png_error(png, "read past the end");
    }
    std::memcpy(out, source->bytes->data() + source->position, count);
    source->position += count;
}

// The reference decoder's 8-bit RGBA. Everything that outlives a long jump belongs to the
// caller, and this frame holds nothing that needs destroying.
bool ReferenceDecode(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& rgba,
                     std::vector<png_bytep>& rows, uint32_t& width, uint32_t& height) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    PngReadSource source{&bytes, 0};
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &source, ReadFromMemory);
    png_read_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    rgba.resize(size_t(width) * height * 4);
    rows.resize(height);
    for (uint32_t y = 0; y < height; ++y) {
        rows[y] = rgba.data() + size_t(y) * width * 4;
    }
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

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
    std::vector<uint8_t> expected;
    std::vector<png_bytep> rows;
    uint32_t width = 0, height = 0;
    ASSERT_TRUE(ReferenceDecode(bytes, expected, rows, width, height));

    PngCodec codec;
    const DecodedImage image = DecodeWith(codec, bytes);
    ASSERT_TRUE(image.loaded) << "decoder error " << codec.GetDecodeError();
    ASSERT_EQ(image.info.width, width);
    ASSERT_EQ(image.info.height, height);
    const uint8_t colourType = bytes[25];
    EXPECT_EQ(image.info.bitsPerPixel, (colourType & 4) != 0 ? 32u : 24u);
    EXPECT_EQ(image.outside, 0);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* p = &expected[(size_t(y) * width + x) * 4];
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
    AppendChunk(out, "IDAT", ZlibCompressed(parts.filtered));
    AppendChunk(out, "IEND", {});
    return out;
}

uint32_t DecodeError(const std::vector<uint8_t>& bytes) {
    PngDecoder decoder;
    std::vector<uint8_t> pixels;
    decoder.Decode(pixels, bytes.data(), bytes.size());
    return decoder.GetError();
}

PngParts GreyTwoByTwo() {
    PngParts parts;
    parts.filtered = {0, 10, 20, 0, 30, 40};
    return parts;
}

TEST(PngDecoder, ReportsTheCodeOfEachDamagedHeader) {
    const std::vector<uint8_t> good = MakePng(GreyTwoByTwo());
    ASSERT_EQ(DecodeError(good), 0u);
    EXPECT_EQ(DecodeError({}), 48u);
    EXPECT_EQ(DecodeError(std::vector<uint8_t>(good.begin(), good.begin() + 28)), 27u);
    std::vector<uint8_t> bytes = good;
    bytes[3] ^= 1;
    EXPECT_EQ(DecodeError(bytes), 28u);
    bytes = good;
    bytes[12] = 'X';
    EXPECT_EQ(DecodeError(bytes), 29u);
    bytes = good;
    bytes[29] ^= 1;
    EXPECT_EQ(DecodeError(bytes), 57u);
    // A truncated file loses its chunk ends.
    EXPECT_EQ(DecodeError(std::vector<uint8_t>(good.begin(), good.end() - 2)), 35u);
    EXPECT_EQ(DecodeError(std::vector<uint8_t>(good.begin(), good.end() - 12)), 30u);
}

TEST(PngDecoder, RefusesInvalidHeaderFields) {
    PngParts parts = GreyTwoByTwo();
    parts.colour = 5;
    EXPECT_EQ(DecodeError(MakePng(parts)), 31u);
    parts.colour = 2;
    parts.depth = 4;
    EXPECT_EQ(DecodeError(MakePng(parts)), 37u);
    parts.colour = 3;
    parts.depth = 16;
    EXPECT_EQ(DecodeError(MakePng(parts)), 37u);
}

TEST(PngDecoder, RefusesHugeOrEmptyDimensionsBeforeAllocating) {
    PngParts parts = GreyTwoByTwo();
    parts.width = 0x7FFFFFFF;
    parts.height = 0x7FFFFFFF;
    EXPECT_EQ(DecodeError(MakePng(parts)), uint32_t(PngDecoder::ErrorImageSize));
    parts.width = 0;
    parts.height = 2;
    EXPECT_EQ(DecodeError(MakePng(parts)), uint32_t(PngDecoder::ErrorImageSize));
}

TEST(PngDecoder, ReportsBadAncillaryChunks) {
    PngParts parts = GreyTwoByTwo();
    parts.colour = 3;
    parts.before = {{"PLTE", {1, 2, 3, 4, 5, 6}}, {"tRNS", {1, 2, 3}}};
    EXPECT_EQ(DecodeError(MakePng(parts)), 39u);
    parts.before = {{"PLTE", std::vector<uint8_t>(257 * 3)}};
    EXPECT_EQ(DecodeError(MakePng(parts)), 38u);
    parts.colour = 0;
    parts.before = {{"tRNS", {0, 1, 2}}};
    EXPECT_EQ(DecodeError(MakePng(parts)), 40u);
    parts.before = {{"bKGD", {0}}};
    EXPECT_EQ(DecodeError(MakePng(parts)), 44u);
    parts.colour = 4;
    parts.filtered = {0, 1, 2, 3, 4, 0, 5, 6, 7, 8};
    parts.before = {{"tRNS", {0, 1}}};
    EXPECT_EQ(DecodeError(MakePng(parts)), 42u);
}

TEST(PngDecoder, ReportsPaletteIndicesOutsideThePalette) {
    PngParts parts = GreyTwoByTwo();
    parts.colour = 3;
    parts.before = {{"PLTE", {1, 2, 3, 4, 5, 6}}};
    parts.filtered = {0, 0, 1, 0, 1, 2};
    EXPECT_EQ(DecodeError(MakePng(parts)), 46u);
    // Without a palette chunk every index is outside it.
    parts.depth = 1;
    parts.before.clear();
    parts.filtered = {0, 0x40, 0, 0x80};
    EXPECT_EQ(DecodeError(MakePng(parts)), 47u);
}

TEST(PngDecoder, RefusesUnknownFilterTypesAndShortImageData) {
    PngParts parts = GreyTwoByTwo();
    parts.filtered[3] = 5;
    EXPECT_EQ(DecodeError(MakePng(parts)), 36u);
    parts = GreyTwoByTwo();
    parts.filtered.pop_back();
    EXPECT_EQ(DecodeError(MakePng(parts)), uint32_t(PngDecoder::ErrorImageDataShort));
    // Data beyond what the header implies does not fit the output.
    parts = GreyTwoByTwo();
    parts.filtered.push_back(7);
    EXPECT_NE(DecodeError(MakePng(parts)), 0u);
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
    ASSERT_EQ(decoder.GetError(), 0u);
    ASSERT_EQ(pixels.size(), 400u);
    EXPECT_EQ(pixels[0], 0);
    EXPECT_EQ(pixels[4], 255);
}

TEST(PngDecoder, ConvertsToTheRequestedOutputOrRefuses) {
    PngParts parts = GreyTwoByTwo();
    parts.colour = 2;
    parts.filtered = {0, 1, 2, 3, 4, 5, 6, 0, 7, 8, 9, 10, 11, 12};
    const std::vector<uint8_t> bytes = MakePng(parts);
    PngDecoder decoder;
    std::vector<uint8_t> pixels;
    decoder.settings.colourType = 2;
    decoder.Decode(pixels, bytes.data(), bytes.size());
    EXPECT_EQ(pixels, std::vector<uint8_t>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    decoder.settings.colourType = 0;
    decoder.Decode(pixels, bytes.data(), bytes.size());
    EXPECT_EQ(decoder.GetError(), 62u);
    decoder.settings.colourType = 6;
    decoder.settings.bitDepth = 16;
    decoder.Decode(pixels, bytes.data(), bytes.size());
    EXPECT_EQ(decoder.GetError(), 59u);
    decoder.settings.colourType = 0;
    decoder.settings.bitDepth = 4;
    decoder.Decode(pixels, bytes.data(), bytes.size());
    EXPECT_EQ(decoder.GetError(), 56u);
}

TEST(PngDecoder, SkipsUnknownChunksCriticalOrNot) {
    PngParts parts = GreyTwoByTwo();
    parts.before = {{"CRIT", {1, 2, 3}}, {"teST", {4}}};
    EXPECT_EQ(DecodeError(MakePng(parts)), 0u);
}

TEST(PngDecoder, KeepsTextChunks) {
    PngParts parts = GreyTwoByTwo();
    const std::string text = std::string("Author") + '\0' + "someone";
    parts.before = {{"tEXt", std::vector<uint8_t>(text.begin(), text.end())}};
    const std::vector<uint8_t> bytes = MakePng(parts);
    PngDecoder decoder;
    std::vector<uint8_t> pixels;
    decoder.Decode(pixels, bytes.data(), bytes.size());
    ASSERT_EQ(decoder.GetInfo().texts.size(), 1u);
    EXPECT_EQ(decoder.GetInfo().texts[0].first, "Author");
    EXPECT_EQ(decoder.GetInfo().texts[0].second, "someone");
}

TEST(PngCodec, ReportsAZeroHeaderAndLoadsNothingForABrokenFile) {
    std::vector<uint8_t> bytes = MakePng(GreyTwoByTwo());
    bytes[40] ^= 0xFF;
    PngCodec codec;
    ImageInfo info;
    codec.GetTextureFormat(info, bytes.data(), uint32_t(bytes.size()));
    EXPECT_EQ(info.width, 0u);
    EXPECT_EQ(info.bitsPerPixel, 0u);
    DecodedImage image;
    EXPECT_FALSE(codec.Load(bytes.data(), uint32_t(bytes.size()), &image, test::CollectPixel));
    EXPECT_NE(codec.GetDecodeError(), 0u);
}

TEST(PngCodec, DecodesAgainWhenLoadIsGivenAnotherFile) {
    PngParts parts = GreyTwoByTwo();
    const std::vector<uint8_t> first = MakePng(parts);
    parts.filtered = {0, 200, 201, 0, 202, 203};
    const std::vector<uint8_t> second = MakePng(parts);
    PngCodec codec;
    DecodedImage image;
    codec.GetTextureFormat(image.info, first.data(), uint32_t(first.size()));
    image.pixels.assign(4, 0);
    ASSERT_TRUE(codec.Load(second.data(), uint32_t(second.size()), &image, test::CollectPixel));
    EXPECT_EQ(image.At(0, 0), test::Argb(255, 200, 200, 200));
}

} // namespace
} // namespace quarn
