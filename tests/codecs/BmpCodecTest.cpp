#include "codecs/BmpCodec.h"

#include "tests/codecs/ImageTestSupport.h"

#include <gtest/gtest.h>

namespace quarn::test {
namespace {

// The palette pattern tests/data/make_bmps.py draws.
ImagePixel PaletteColour(uint32_t i) {
    return Argb(255, i * 53, i * 97 + 31, i * 29 + 7);
}
uint32_t RleIndex(uint32_t x, uint32_t y, uint32_t colours) {
    if ((y == 1 && x >= 6) || (y == 2 && x < 2) || (y == 3 && x >= 2 && x <= 5)) {
        return 0;
    }
    return x < 4 ? (y + 1) % colours : (x * 7 + y) % colours;
}

class BmpCodecTest : public ::testing::Test {
protected:
    DecodedImage Decode(const std::vector<uint8_t>& bytes) { return DecodeWith(codec_, bytes); }
    DecodedImage DecodeFixture(const char* name) { return Decode(ReadTestImage(name)); }

    // A 2 x 2 8-bit header-only file with `colours` palette entries and these indices.
    static std::vector<uint8_t> Tiny8Bit(uint32_t colours, std::vector<uint8_t> indices) {
        std::vector<uint8_t> bytes = ReadTestImage("bits8.bmp");
        bytes.resize(54);
        bytes[18] = 2, bytes[22] = 2;
        bytes[46] = static_cast<uint8_t>(colours);
        for (uint32_t i = 0; i < colours * 4; ++i) {
            bytes.push_back(static_cast<uint8_t>(0x40 + i));
        }
        bytes.insert(bytes.end(), {indices[0], indices[1], 0, 0, indices[2], indices[3], 0, 0});
        return bytes;
    }

    BmpCodec codec_;
};

TEST_F(BmpCodecTest, PalettedDepthsDecodeToTheirPaletteColours) {
    struct Case {
        const char* name;
        uint32_t bits;
        uint32_t width;
    };
    for (Case c : {Case{"bits1.bmp", 1, 13}, Case{"bits4.bmp", 4, 7}, Case{"bits8.bmp", 8, 6}}) {
        SCOPED_TRACE(c.name);
        DecodedImage image = DecodeFixture(c.name);
        ASSERT_TRUE(image.loaded);
        EXPECT_EQ(image.info.paletted, 1);
        uint32_t colours = 1u << c.bits;
        for (uint32_t y = 0; y < 3; ++y) {
            for (uint32_t x = 0; x < c.width; ++x) {
                ASSERT_EQ(image.At(x, y), PaletteColour((x * 5 + y * 3) % colours))
                    << x << "," << y;
            }
        }
        EXPECT_STREQ(codec_.GetLastError(), "");
    }
}

TEST_F(BmpCodecTest, TrueColourLayoutsDecodeToTheSamePixels) {
    // 32-bit files with an all-zero fourth byte are opaque, not invisible; top-down rows and
    // 16-bit channel masks give the same picture (16 bits within its precision); channel masks
    // carry alpha.
    for (const char* name :
         {"bits24.bmp", "topdown24.bmp", "bits32.bmp", "bits16.bmp", "alpha32.bmp"}) {
        SCOPED_TRACE(name);
        DecodedImage image = DecodeFixture(name);
        ASSERT_TRUE(image.loaded);
        ASSERT_EQ(image.info.width, 5u);
        ASSERT_EQ(image.info.height, 3u);
        EXPECT_EQ(image.info.paletted, 0);
        const bool sixteen = std::string(name) == "bits16.bmp";
        const bool alpha = std::string(name) == "alpha32.bmp";
        for (uint32_t y = 0; y < 3; ++y) {
            for (uint32_t x = 0; x < 5; ++x) {
                ImagePixel expected = BitmapFixturePixel(x, y);
                ImagePixel actual = image.At(x, y);
                EXPECT_EQ(actual >> 24, alpha ? (x * 60 + y * 7 + 15) & 255 : 255u);
                for (int shift = 0; shift < 24; shift += 8) {
                    int difference = static_cast<int>((actual >> shift) & 255) -
                                     static_cast<int>((expected >> shift) & 255);
                    EXPECT_LE(std::abs(difference), sixteen ? 8 : 0) << x << "," << y;
                }
            }
        }
    }
}

TEST_F(BmpCodecTest, RunLengthCodedBitmapsDecodeRunsStretchesAndSkips) {
    for (uint32_t colours : {256u, 16u}) {
        SCOPED_TRACE(colours);
        DecodedImage image = DecodeFixture(colours == 256 ? "rle8.bmp" : "rle4.bmp");
        ASSERT_TRUE(image.loaded);
        ASSERT_EQ(image.info.width, 9u);
        ASSERT_EQ(image.info.height, 4u);
        for (uint32_t y = 0; y < 4; ++y) {
            for (uint32_t x = 0; x < 9; ++x) {
                EXPECT_EQ(image.At(x, y), PaletteColour(RleIndex(x, y, colours))) << x << "," << y;
            }
        }
        EXPECT_EQ(image.outside, 0);
    }
}

TEST_F(BmpCodecTest, UnreadableHeadersReportNoImageAndCorruptPixelDataFails) {
    const std::vector<uint8_t> good = ReadTestImage("bits24.bmp");
    const auto with = [&](size_t at, uint8_t value) {
        std::vector<uint8_t> bytes = good;
        bytes[at] = value;
        return bytes;
    };
    // A short header, no "BM", a width of 65541.
    for (const auto& bytes :
         {std::vector<uint8_t>(good.begin(), good.begin() + 53), with(1, 'X'), with(20, 1)}) {
        ImageInfo info;
        codec_.GetTextureFormat(info, bytes.data(), static_cast<uint32_t>(bytes.size()));
        EXPECT_EQ(info.width, 0u);
    }
    // Pixel data cut short, embedded JPEG data and masks on a 24-bit file are not decoded.
    for (const auto& bytes :
         {std::vector<uint8_t>(good.begin(), good.end() - 1), with(30, 4), with(30, 3)}) {
        EXPECT_FALSE(Decode(bytes).loaded);
    }
    // A run-length stream cut anywhere ends the image where the data ends.
    std::vector<uint8_t> rle = ReadTestImage("rle8.bmp");
    for (size_t size = 54; size < rle.size(); size += 3) {
        std::vector<uint8_t> cut(rle.begin(), rle.begin() + static_cast<ptrdiff_t>(size));
        EXPECT_EQ(Decode(cut).outside, 0);
    }
}

TEST_F(BmpCodecTest, ShortPaletteIsReportedAndIndicesPastItReadOpaqueBlack) {
    std::vector<uint8_t> bytes = Tiny8Bit(2, {0, 1, 7, 200});
    DecodedImage image = Decode(bytes);
    ASSERT_TRUE(image.loaded);
    EXPECT_EQ(image.At(1, 1), 0xFF464544u);
    EXPECT_EQ(image.At(0, 0), 0xFF000000u);
    EXPECT_EQ(image.At(1, 0), 0xFF000000u);
    EXPECT_STREQ(codec_.GetLastError(), "");
    bytes.resize(54 + 6);
    Decode(bytes);
    EXPECT_STREQ(codec_.GetLastError(), "Bad palette");
}

class MemoryImageStream final : public ImageOutputStream {
public:
    bool IsOpen() const override { return true; }
    uint32_t Write(const void* data, uint32_t count) override {
        auto* bytes = static_cast<const uint8_t*>(data);
        written.insert(written.end(), bytes, bytes + count);
        return count;
    }
    std::vector<uint8_t> written;
};

ImagePixel SourceOf(uint32_t x, uint32_t y, void*) {
    return 0x7F000000u | BitmapFixturePixel(x, y);
}

TEST_F(BmpCodecTest, SavedBitmapsArePaddedAndReadBackOpaque) {
    MemoryImageStream stream;
    uint32_t written = codec_.Save(stream, 3, 2, 32, true, nullptr, SourceOf);
    EXPECT_EQ(written, 78u);
    ASSERT_EQ(stream.written.size(), 78u);
    DecodedImage image = Decode(stream.written);
    ASSERT_TRUE(image.loaded);
    for (uint32_t y = 0; y < 2; ++y) {
        for (uint32_t x = 0; x < 3; ++x) {
            EXPECT_EQ(image.At(x, y), BitmapFixturePixel(x, y));
        }
    }
}

} // namespace
} // namespace quarn::test
