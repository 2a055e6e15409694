#include "gpu/software/SoftwareDevice.h"

#include <cstring>
#include <gtest/gtest.h>

namespace quarn {
namespace {

std::unique_ptr<SoftwareDevice> MakeDevice() {
    GpuPresentParameters p;
    p.backBufferWidth = 8;
    p.backBufferHeight = 8;
    return SoftwareDevice::Create(p);
}

struct FormatCase {
    GpuFormat format;
    uint32_t written;
    uint32_t expected;
};

TEST(SoftwareTexture, EachPlainFormatReadsBackWhatWasWritten) {
    auto device = MakeDevice();
    const FormatCase cases[] = {
        {GpuFormat::A8R8G8B8, 0x80123456, 0x80123456},
        {GpuFormat::X8R8G8B8, 0x00123456, 0xFF123456}, // X formats sample alpha 1
        {GpuFormat::R8G8B8, 0x00ABCDEF, 0xFFABCDEF},
        {GpuFormat::R5G6B5, 0xFFFF8000, 0xFFFF8200},
        {GpuFormat::X1R5G5B5, 0x00FF0000, 0xFFFF0000},
        {GpuFormat::A1R5G5B5, 0x7F0000FF, 0x000000FF},
        {GpuFormat::A4R4G4B4, 0x8811EEFF, 0x8811EEFF},
        {GpuFormat::X4R4G4B4, 0x0011EEFF, 0xFF11EEFF},
        {GpuFormat::A16B16G16R16, 0x40FF8000, 0x40FF8000},
        {GpuFormat::A16B16G16R16F, 0xFF00FF00, 0xFF00FF00},
    };
    for (const FormatCase& c : cases) {
        auto texture = device->CreateTexture(4, 4, 1, 0, c.format, GpuPool::Managed);
        ASSERT_NE(texture, nullptr) << static_cast<int>(c.format);
        GpuLockedRect locked;
        ASSERT_EQ(texture->LockRect(0, GpuCubeFace::PositiveX, locked, nullptr, 0), GpuResult::Ok);
        uint8_t* row = static_cast<uint8_t*>(locked.bits) + 2 * locked.pitch;
        EncodeTexelArgb(c.format, c.written, row + 3 * GpuFormatSize(c.format));
        ASSERT_EQ(texture->UnlockRect(0, GpuCubeFace::PositiveX), GpuResult::Ok);
        auto* software = static_cast<SoftwareTexture*>(texture.get());
        EXPECT_EQ(software->SampleTexelArgb(0, 0, 3, 2), c.expected) << static_cast<int>(c.format);
    }
}

TEST(SoftwareTexture, DxtLockExposesBlockRowsWithTheirPitch) {
    auto device = MakeDevice();
    auto texture = device->CreateTexture(8, 8, 1, 0, GpuFormat::Dxt1, GpuPool::Managed);
    ASSERT_NE(texture, nullptr);
    GpuLockedRect locked;
    ASSERT_EQ(texture->LockRect(0, GpuCubeFace::PositiveX, locked, nullptr, 0), GpuResult::Ok);
    EXPECT_EQ(locked.pitch, 16); // two 8-byte blocks per block row
    // Block (1, 1) all endpoint 0 = green.
    uint8_t green[8] = {0xE0, 0x07, 0, 0, 0, 0, 0, 0};
    std::memcpy(static_cast<uint8_t*>(locked.bits) + locked.pitch + 8, green, 8);
    ASSERT_EQ(texture->UnlockRect(0, GpuCubeFace::PositiveX), GpuResult::Ok);
    auto* software = static_cast<SoftwareTexture*>(texture.get());
    EXPECT_EQ(software->SampleTexelArgb(0, 0, 5, 6), 0xFF00FF00u);
    EXPECT_EQ(software->SampleTexelArgb(0, 0, 3, 6), 0xFF000000u);
    // Sub-rect locks must start on a block.
    GpuRect unaligned{2, 0, 4, 4};
    EXPECT_EQ(texture->LockRect(0, GpuCubeFace::PositiveX, locked, &unaligned, 0),
              GpuResult::InvalidCall);
}

TEST(SoftwareTexture, FullChainHalvesEachSideDownToOne) {
    auto device = MakeDevice();
    auto texture = device->CreateTexture(16, 4, 0, 0, GpuFormat::A8R8G8B8, GpuPool::Managed);
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(texture->GetLevelCount(), 5u);
    EXPECT_EQ(texture->GetLevelDesc(2).width, 4u);
    EXPECT_EQ(texture->GetLevelDesc(2).height, 1u);
    EXPECT_EQ(texture->GetLevelDesc(4).width, 1u);
    EXPECT_EQ(texture->GetSurface(5, GpuCubeFace::PositiveX), nullptr);
}

TEST(SoftwareTexture, CubeFacesAreSeparateImages) {
    auto device = MakeDevice();
    auto cube = device->CreateCubeTexture(4, 0, 0, GpuFormat::X8R8G8B8, GpuPool::Managed);
    ASSERT_NE(cube, nullptr);
    EXPECT_EQ(cube->GetLevelCount(), 3u);
    for (uint32_t face = 0; face < GpuCubeFaceCount; ++face) {
        GpuLockedRect locked;
        ASSERT_EQ(cube->LockRect(1, static_cast<GpuCubeFace>(face), locked, nullptr, 0),
                  GpuResult::Ok);
        EncodeTexelArgb(GpuFormat::X8R8G8B8, face * 10, static_cast<uint8_t*>(locked.bits));
        cube->UnlockRect(1, static_cast<GpuCubeFace>(face));
    }
    auto* software = static_cast<SoftwareTexture*>(cube.get());
    for (uint32_t face = 0; face < GpuCubeFaceCount; ++face) {
        EXPECT_EQ(software->SampleTexelArgb(1, face, 0, 0), 0xFF000000u | (face * 10));
    }
}

TEST(SoftwareTexture, VolumeSlicesFollowTheSlicePitch) {
    auto device = MakeDevice();
    auto volume = device->CreateVolumeTexture(2, 2, 4, 1, 0, GpuFormat::A8R8G8B8, GpuPool::Managed);
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

TEST(SoftwareTexture, LocksFollowPoolUsageAndNesting) {
    auto device = MakeDevice();
    GpuLockedRect locked;
    auto managed = device->CreateTexture(4, 4, 1, 0, GpuFormat::A8R8G8B8, GpuPool::Managed);
    ASSERT_EQ(managed->LockRect(0, GpuCubeFace::PositiveX, locked, nullptr, 0), GpuResult::Ok);
    EXPECT_EQ(managed->LockRect(0, GpuCubeFace::PositiveX, locked, nullptr, 0),
              GpuResult::InvalidCall);
    EXPECT_EQ(managed->UnlockRect(0, GpuCubeFace::PositiveX), GpuResult::Ok);
    EXPECT_EQ(managed->UnlockRect(0, GpuCubeFace::PositiveX), GpuResult::InvalidCall);

    auto target =
        device->CreateTexture(4, 4, 1, GpuUsageRenderTarget, GpuFormat::A8R8G8B8, GpuPool::Default);
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->LockRect(0, GpuCubeFace::PositiveX, locked, nullptr, 0),
              GpuResult::InvalidCall);
    auto dynamic =
        device->CreateTexture(4, 4, 1, GpuUsageDynamic, GpuFormat::A8R8G8B8, GpuPool::Default);
    EXPECT_EQ(dynamic->LockRect(0, GpuCubeFace::PositiveX, locked, nullptr, 0), GpuResult::Ok);
    GpuRect outside{0, 0, 5, 4};
    EXPECT_EQ(managed->LockRect(0, GpuCubeFace::PositiveX, locked, &outside, 0),
              GpuResult::InvalidCall);
}

} // namespace
} // namespace quarn
