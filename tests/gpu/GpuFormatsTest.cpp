#include "gpu/GpuFormats.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

TEST(GpuFormats, HalfFloatTexelsKeepValuesAboveOne) {
    EXPECT_EQ(HalfToFloat(FloatToHalf(2.5f)), 2.5f);
    EXPECT_EQ(HalfToFloat(FloatToHalf(-0.125f)), -0.125f);
    EXPECT_EQ(FloatToHalf(1.0f), 0x3C00);
    EXPECT_EQ(FloatToHalf(65504.0f), 0x7BFF);
    EXPECT_EQ(FloatToHalf(1.0e6f), 0x7C00);
    EXPECT_EQ(HalfToFloat(0x0001), 5.9604644775390625e-8f);
    uint8_t texel[8];
    EncodeTexel(GpuFormat::A16B16G16R16F, {4.0f, 0.5f, 0.0f, 1.0f}, texel);
    GpuColor back = DecodeTexel(GpuFormat::A16B16G16R16F, texel);
    EXPECT_EQ(back.r, 4.0f);
    EXPECT_EQ(back.g, 0.5f);
    EXPECT_EQ(back.a, 1.0f);
}

TEST(GpuFormats, Dxt1BlocksDecodeFourAndThreeColourModes) {
    // Endpoints pure red (0xF800) and pure blue (0x001F); indices 0,1,2,3 along the first row.
    uint8_t four[8] = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0, 0, 0};
    EXPECT_EQ(DecodeBlockTexelArgb(GpuFormat::Dxt1, four, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(DecodeBlockTexelArgb(GpuFormat::Dxt1, four, 1, 0), 0xFF0000FFu);
    EXPECT_EQ(DecodeBlockTexelArgb(GpuFormat::Dxt1, four, 2, 0), 0xFFAA0055u);
    EXPECT_EQ(DecodeBlockTexelArgb(GpuFormat::Dxt1, four, 3, 0), 0xFF5500AAu);
    // Swapped endpoints select three colours and transparent black.
    uint8_t three[8] = {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0, 0, 0};
    EXPECT_EQ(DecodeBlockTexelArgb(GpuFormat::Dxt1, three, 2, 0), 0xFF7F007Fu);
    EXPECT_EQ(DecodeBlockTexelArgb(GpuFormat::Dxt1, three, 3, 0), 0x00000000u);
}

TEST(GpuFormats, Dxt3AndDxt5CarryExplicitAndInterpolatedAlpha) {
    uint8_t dxt3[16] = {0x0F, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    EXPECT_EQ(DecodeBlockTexelArgb(GpuFormat::Dxt3, dxt3, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(DecodeBlockTexelArgb(GpuFormat::Dxt3, dxt3, 1, 0), 0x00FFFFFFu);
    // Alpha endpoints 255 and 0; texel 0 selector 0, texel 1 selector 2 (6/7 of the way up).
    uint8_t dxt5[16] = {255, 0, 0x10, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    EXPECT_EQ(DecodeBlockTexelArgb(GpuFormat::Dxt5, dxt5, 0, 0) >> 24, 255u);
    EXPECT_EQ(DecodeBlockTexelArgb(GpuFormat::Dxt5, dxt5, 1, 0) >> 24, 219u);
    // Endpoints 0 and 255 in the other order select the six-value mode with 0 and 255 fixed.
    uint8_t six[16] = {0, 255, 0xF0, 0x01, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    EXPECT_EQ(DecodeBlockTexelArgb(GpuFormat::Dxt5, six, 1, 0) >> 24, 0u);   // selector 6
    EXPECT_EQ(DecodeBlockTexelArgb(GpuFormat::Dxt5, six, 2, 0) >> 24, 255u); // selector 7
}

} // namespace
} // namespace quarn
