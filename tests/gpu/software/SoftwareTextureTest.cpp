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

TEST_F(SoftwareTextureTest, DxtLockExposesBlockRowsWithTheirPitch) {
    auto texture = Make(8, GpuFormat::Dxt1);
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(texture->LockRect(0, GpuCubeFace::PositiveX, locked_, nullptr, 0), GpuResult::Ok);
    EXPECT_EQ(locked_.pitch, 16); // two 8-byte blocks per block row
    // Block (1, 1) all endpoint 0 = green.
    const uint8_t green[8] = {0xE0, 0x07, 0, 0, 0, 0, 0, 0};
    std::memcpy(static_cast<uint8_t*>(locked_.bits) + locked_.pitch + 8, green, 8);
    ASSERT_EQ(texture->UnlockRect(0, GpuCubeFace::PositiveX), GpuResult::Ok);
    EXPECT_EQ(Sample(*texture, 5, 6), 0xFF00FF00u);
    EXPECT_EQ(Sample(*texture, 3, 6), 0xFF000000u);
    // Sub-rect locks must start on a block.
    GpuRect unaligned{2, 0, 4, 4};
    EXPECT_EQ(texture->LockRect(0, GpuCubeFace::PositiveX, locked_, &unaligned, 0),
              GpuResult::InvalidCall);
}

TEST_F(SoftwareTextureTest, ChainsHalveEachSideAndCubeFacesAndVolumeSlicesAreSeparate) {
    auto chain = device_->CreateTexture(16, 4, 0, 0, GpuFormat::A8R8G8B8, GpuPool::Managed);
    ASSERT_EQ(chain->GetLevelCount(), 5u);
    EXPECT_EQ(chain->GetLevelDesc(2).height, 1u);
    EXPECT_EQ(chain->GetSurface(5, GpuCubeFace::PositiveX), nullptr);
    auto cube = device_->CreateCubeTexture(4, 0, 0, GpuFormat::X8R8G8B8, GpuPool::Managed);
    ASSERT_NE(cube, nullptr);
    EXPECT_EQ(cube->GetLevelCount(), 3u);
    for (uint32_t face = 0; face < GpuCubeFaceCount; ++face) {
        const auto which = static_cast<GpuCubeFace>(face);
        ASSERT_EQ(cube->LockRect(1, which, locked_, nullptr, 0), GpuResult::Ok);
        EncodeTexelArgb(GpuFormat::X8R8G8B8, face * 10, static_cast<uint8_t*>(locked_.bits));
        cube->UnlockRect(1, which);
    }
    for (uint32_t face = 0; face < GpuCubeFaceCount; ++face) {
        EXPECT_EQ(Sample(*cube, 0, 0, 1, face), 0xFF000000u | (face * 10));
    }
    auto volume =
        device_->CreateVolumeTexture(2, 2, 4, 1, 0, GpuFormat::A8R8G8B8, GpuPool::Managed);
    ASSERT_NE(volume, nullptr);
    GpuLockedBox box;
    ASSERT_EQ(volume->LockBox(0, box, 0), GpuResult::Ok);
    EXPECT_EQ(box.slicePitch, 2 * box.rowPitch);
    EncodeTexelArgb(GpuFormat::A8R8G8B8, 0x11223344,
                    static_cast<uint8_t*>(box.bits) + 3 * box.slicePitch + box.rowPitch + 4);
    ASSERT_EQ(volume->UnlockBox(0), GpuResult::Ok);
    EXPECT_EQ(static_cast<SoftwareTexture*>(volume.get())->SampleTexelArgb(0, 0, 1, 1, 3),
              0x11223344u);
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
