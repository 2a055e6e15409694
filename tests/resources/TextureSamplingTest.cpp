#include "resources/TextureSampling.h"

#include "device/DeviceTexture.h"
#include "device/GpuRenderDevice.h"
#include "gpu/software/SoftwareDevice.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace quarn {
namespace {

// A 4 x 2 texture (a 4 x 2 allocation, so texel centres sit at u = (x + 0.5) / 4), locked for
// reading. Alpha varies, so the forced 0xFF shows.
class TextureSamplingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.Create(0, nullptr, 16, 16));
        texture_ = device_.CreateTexture();
        ASSERT_TRUE(texture_->Create(4, 2, PixelFormat::A8R8G8B8, TextureKind::Texture2D, 0, 1));
        texture_->Lock(TextureLockWrite, 0);
        for (int32_t y = 0; y < 2; ++y) {
            for (int32_t x = 0; x < 4; ++x) {
                texture_->SetPixel(x, y, Texel(x, y));
            }
        }
        texture_->Lock(TextureUnlocked, 0);
        texture_->Lock(TextureLockRead, 0);
    }

    static uint32_t Texel(int32_t x, int32_t y) {
        return uint32_t(0x40 + x) << 24 | uint32_t(x * 64) << 16 | uint32_t(y * 200) << 8 | 7u;
    }
    // The centre of texel (x, y) plus a fraction of a texel.
    static float U(float x) { return (x + 0.5f) / 4.0f; }
    static float V(float y) { return (y + 0.5f) / 2.0f; }

    GpuRenderDevice device_{&SoftwareDevice::Create};
    std::unique_ptr<DeviceTexture> texture_;
};

TEST_F(TextureSamplingTest, BilinearBlendsWithEightBitWeightsAndOpaqueAlpha) {
    // On a texel centre the texel itself comes back, alpha forced to 0xFF.
    EXPECT_EQ(SampleTextureBilinear(*texture_, U(1), V(0)), Texel(1, 0) | 0xFF000000u);
    // Half-way between texels 1 and 2 of row 0: red (64 + 128) / 2.
    EXPECT_EQ(SampleTextureBilinear(*texture_, U(1.5f), V(0)) >> 16 & 0xFF, 96u);
    // Beyond the right and bottom edges the edge texel repeats.
    EXPECT_EQ(SampleTextureBilinear(*texture_, U(3.25f), V(1.25f)), Texel(3, 1) | 0xFF000000u);
    EXPECT_NEAR(SampleTextureBilinearFloat4(*texture_, U(1.5f), V(0.5f)).y, 100.0f / 255.0f, 1e-6f);
}

TEST_F(TextureSamplingTest, NonFiniteAndHugeCoordinatesStayInside) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float u : {nan, inf, -inf, 3e38f, -3e38f}) {
        EXPECT_EQ(SampleTextureBilinear(*texture_, u, u) >> 24, 0xFFu) << u;
        const Float4 sample = SampleTextureBilinearFloat4(*texture_, u, V(0));
        EXPECT_TRUE(std::isfinite(sample.x)) << u;
    }
}

} // namespace
} // namespace quarn
