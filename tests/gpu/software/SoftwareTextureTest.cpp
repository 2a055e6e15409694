#include "gpu/software/SoftwareDevice.h"

#include <cstring>
#include <gtest/gtest.h>

namespace quarn {
namespace {

class SoftwareTextureTest : public ::testing::Test {
protected:
    std::unique_ptr<GpuTexture> Make(uint32_t size, GpuFormat format, uint32_t levels = 1,
                                     uint32_t usage = 0, GpuPool pool = GpuPool::Managed) {
        return device_->CreateTexture(size, size, levels, usage, format, pool);
    }
    static uint32_t Sample(GpuTexture& texture, uint32_t x, uint32_t y, uint32_t level = 0,
                           uint32_t face = 0) {
        return static_cast<SoftwareTexture&>(texture).SampleTexelArgb(level, face, x, y);
    }

    std::unique_ptr<SoftwareDevice> device_ =
        SoftwareDevice::Create({.backBufferWidth = 8, .backBufferHeight = 8});
    GpuLockedRect locked_;
};

TEST_F(SoftwareTextureTest, EachPlainFormatReadsBackWhatWasWritten) {
    const struct {
        GpuFormat format;
        uint32_t written;
        uint32_t expected;
    } cases[] = {
        {GpuFormat::A8R8G8B8, 0x80123456, 0x80123456},
        {GpuFormat::X8R8G8B8, 0x00123456, 0xFF123456}, // X formats sample alpha 1
        {GpuFormat::R5G6B5, 0xFFFF8000, 0xFFFF8200},
        {GpuFormat::A1R5G5B5, 0x7F0000FF, 0x000000FF},
        {GpuFormat::A4R4G4B4, 0x8811EEFF, 0x8811EEFF},
        {GpuFormat::A16B16G16R16, 0x40FF8000, 0x40FF8000},
        {GpuFormat::A16B16G16R16F, 0xFF00FF00, 0xFF00FF00},
    };
    for (const auto& c : cases) {
        auto texture = Make(4, c.format);
        ASSERT_NE(texture, nullptr) << static_cast<int>(c.format);
        ASSERT_EQ(texture->LockRect(0, GpuCubeFace::PositiveX, locked_, nullptr, 0), GpuResult::Ok);
        uint8_t* row = static_cast<uint8_t*>(locked_.bits) + 2 * locked_.pitch;
        EncodeTexelArgb(c.format, c.written, row + 3 * GpuFormatSize(c.format));
        ASSERT_EQ(texture->UnlockRect(0, GpuCubeFace::PositiveX), GpuResult::Ok);
        EXPECT_EQ(Sample(*texture, 3, 2), c.expected) << static_cast<int>(c.format);
    }
}

// Rows are filled by doubling copies: every width, texel size and place must come out whole.
TEST_F(SoftwareTextureTest, FillColorWritesExactlyItsRectInEveryTexelSize) {
    for (GpuFormat format : {GpuFormat::R5G6B5, GpuFormat::A8R8G8B8, GpuFormat::A16B16G16R16}) {
        for (int32_t right = 1; right <= 16; ++right) {
            auto texture = Make(16, format);
            SoftwareSurface& surface = static_cast<SoftwareTexture&>(*texture).Level(0);
            surface.FillColor({0, 0, 16, 16}, 0xFF000000);
            surface.FillColor({right / 3, 2, right, 5}, 0xFFFFFFFF);
            for (uint32_t y = 0; y < 16; ++y) {
                for (uint32_t x = 0; x < 16; ++x) {
                    const bool inside = x >= static_cast<uint32_t>(right / 3) &&
                                        x < static_cast<uint32_t>(right) && y >= 2 && y < 5;
                    ASSERT_EQ(Sample(*texture, x, y), inside ? 0xFFFFFFFFu : 0xFF000000u)
                        << static_cast<int>(format) << " right " << right << " at " << x << ", "
                        << y;
                }
            }
        }
    }
}

TEST_F(SoftwareTextureTest, LocksFollowPoolUsageNestingAndBounds) {
    auto managed = Make(4, GpuFormat::A8R8G8B8);
    ASSERT_EQ(managed->LockRect(0, GpuCubeFace::PositiveX, locked_, nullptr, 0), GpuResult::Ok);
    EXPECT_EQ(managed->LockRect(0, GpuCubeFace::PositiveX, locked_, nullptr, 0),
              GpuResult::InvalidCall);
    EXPECT_EQ(managed->UnlockRect(0, GpuCubeFace::PositiveX), GpuResult::Ok);
    EXPECT_EQ(managed->UnlockRect(0, GpuCubeFace::PositiveX), GpuResult::InvalidCall);
    GpuRect outside{0, 0, 5, 4};
    EXPECT_EQ(managed->LockRect(0, GpuCubeFace::PositiveX, locked_, &outside, 0),
              GpuResult::InvalidCall);
    auto target = Make(4, GpuFormat::A8R8G8B8, 1, GpuUsageRenderTarget, GpuPool::Default);
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->LockRect(0, GpuCubeFace::PositiveX, locked_, nullptr, 0),
              GpuResult::InvalidCall);
    auto dynamic = Make(4, GpuFormat::A8R8G8B8, 1, GpuUsageDynamic, GpuPool::Default);
    EXPECT_EQ(dynamic->LockRect(0, GpuCubeFace::PositiveX, locked_, nullptr, 0), GpuResult::Ok);
}

} // namespace
} // namespace quarn
