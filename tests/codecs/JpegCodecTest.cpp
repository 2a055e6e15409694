#include "codecs/JpegCodec.h"

#include "tests/codecs/ImageTestSupport.h"
#include "tests/support/JpegFixture.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <jpeglib.h>

namespace quarn::test {
namespace {

// Colours per 8 x 8 block, so each block is flat.
void BlockColour(uint32_t x, uint32_t y, uint8_t* rgb) {
    uint32_t block = (x / 8) + (y / 8) * 7;
    rgb[0] = static_cast<uint8_t>(block * 37 + 20);
    rgb[1] = static_cast<uint8_t>(block * 71 + 90);
    rgb[2] = static_cast<uint8_t>(255 - block * 23);
}

void ExpectNear(ImagePixel actual, uint32_t red, uint32_t green, uint32_t blue) {
    EXPECT_EQ(actual >> 24, 255u);
    EXPECT_NEAR(static_cast<int>((actual >> 16) & 255), static_cast<int>(red), 4);
    EXPECT_NEAR(static_cast<int>((actual >> 8) & 255), static_cast<int>(green), 4);
    EXPECT_NEAR(static_cast<int>(actual & 255), static_cast<int>(blue), 4);
}

class JpegCodecTest : public ::testing::Test {
protected:
    void TearDown() override { SetImageMaxTextureSize(DefaultMaxTextureSize); }
    JpegCodec codec_;
};

TEST_F(JpegCodecTest, ColourGreyAndCmykImagesDecodeOpaqueWithinTolerance) {
    std::vector<uint8_t> bytes = EncodeJpeg(24, 16, 3, JCS_RGB, BlockColour);
    DecodedImage image = DecodeWith(codec_, bytes);
    ASSERT_TRUE(image.loaded);
    EXPECT_EQ(image.info.width, 24u);
    EXPECT_EQ(image.info.height, 16u);
    EXPECT_EQ(image.info.bitsPerPixel, 32u);
    for (uint32_t y = 0; y < 16; ++y) {
        for (uint32_t x = 0; x < 24; ++x) {
            uint8_t rgb[3];
            BlockColour(x, y, rgb);
            ExpectNear(image.At(x, y), rgb[0], rgb[1], rgb[2]);
        }
    }
    // Greyscale arrives as equal channels.
    image = DecodeWith(
        codec_, EncodeJpeg(16, 8, 1, JCS_GRAYSCALE,
                           [](uint32_t x, uint32_t, uint8_t* grey) { *grey = x < 8 ? 40 : 200; }));
    ASSERT_TRUE(image.loaded);
    ExpectNear(image.At(3, 3), 40, 40, 40);
    ExpectNear(image.At(12, 3), 200, 200, 200);
    // Adobe files store CMYK inverted: full-value black channel and the colour as C, M, Y.
    image = DecodeWith(codec_, EncodeJpeg(8, 8, 4, JCS_CMYK, [](uint32_t, uint32_t, uint8_t* cmyk) {
                           cmyk[0] = 200, cmyk[1] = 100, cmyk[2] = 50, cmyk[3] = 255;
                       }));
    ASSERT_TRUE(image.loaded);
    ExpectNear(image.At(4, 4), 200, 100, 50);
}

TEST_F(JpegCodecTest, ImagesLargerThanTheTextureLimitAreHalvedUntilTheyFit) {
    SetImageMaxTextureSize(16);
    std::vector<uint8_t> wide = EncodeJpeg(58, 27, 3, JCS_RGB, BlockColour);
    DecodedImage quarter = DecodeWith(codec_, wide);
    ASSERT_TRUE(quarter.loaded);
    EXPECT_EQ(quarter.info.width, 14u);
    EXPECT_EQ(quarter.info.height, 6u);
    EXPECT_EQ(quarter.outside, 0);
    // Pixel (x, y) of the result is source pixel (4x, 4y + 3).
    uint8_t rgb[3];
    BlockColour(4 * 5, 4 * 2 + 3, rgb);
    ExpectNear(quarter.At(5, 2), rgb[0], rgb[1], rgb[2]);
    std::vector<uint8_t> fits = EncodeJpeg(32, 16, 3, JCS_RGB, BlockColour);
    EXPECT_EQ(DecodeWith(codec_, fits).info.width, 16u);
}

TEST_F(JpegCodecTest, PixelsOfAnotherFileThanTheHeaderAndSidesBeyondTheLimitAreRefused) {
    std::vector<uint8_t> first = EncodeJpeg(16, 8, 3, JCS_RGB, BlockColour);
    std::vector<uint8_t> second = EncodeJpeg(8, 8, 3, JCS_RGB, BlockColour);
    ImageInfo info;
    codec_.GetTextureFormat(info, first.data(), static_cast<uint32_t>(first.size()));
    DecodedImage image;
    image.info = info;
    image.pixels.assign(16 * 8, 0);
    EXPECT_FALSE(
        codec_.Load(second.data(), static_cast<uint32_t>(second.size()), &image, CollectPixel));
    EXPECT_NE(std::string(codec_.GetLastError()).find("did not match header info"),
              std::string::npos);
    // A small file whose frame header claims 63553 x 65285 pixels: libjpeg would decode every
    // declared row, so it is refused from the header.
    std::vector<uint8_t> bytes = second;
    for (size_t i = 0; i + 8 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            bytes[i + 5] = 0xF8, bytes[i + 6] = 0x41; // height 63553
            bytes[i + 7] = 0xFF, bytes[i + 8] = 0x05; // width 65285
            break;
        }
    }
    image = DecodeWith(codec_, bytes);
    EXPECT_FALSE(image.loaded);
    EXPECT_EQ(image.info.width, 0u);
}

} // namespace
} // namespace quarn::test
