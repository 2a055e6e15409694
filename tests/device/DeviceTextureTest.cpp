#include "device/DeviceTexture.h"

#include "core/os/EngineWork.h"
#include "gpu/software/SoftwareDevice.h"
#include "tests/device/DeviceTestSupport.h"

#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <vector>

namespace quarn {
namespace {

using test::ReadTexel;

class DeviceTextureTest : public ::testing::Test {
protected:
    void SetUp() override {
        device_ = SoftwareDevice::Create(
            {.backBufferWidth = 8, .backBufferHeight = 8, .lockableBackBuffer = true});
        ASSERT_NE(device_, nullptr);
    }

    // A texture that reports to reported_; created when given a size.
    std::unique_ptr<DeviceTexture> Make(int32_t width = 0, int32_t height = 0,
                                        PixelFormat format = PixelFormat::A8R8G8B8,
                                        uint32_t flags = 0,
                                        TextureKind kind = TextureKind::Texture2D) {
        auto texture = std::make_unique<DeviceTexture>(
            *device_, [this](const char* text) { reported_.emplace_back(text); });
        if (width > 0) {
            EXPECT_TRUE(texture->Create(width, height, format, kind, flags, 1))
                << static_cast<int>(format);
        }
        return texture;
    }

    std::unique_ptr<SoftwareDevice> device_;
    std::vector<std::string> reported_;
};

TEST_F(DeviceTextureTest, CreateAllocatesPowersOfTwoKeepsTheImageSizeAndMapsTexels) {
    auto texture = Make(100, 60);
    EXPECT_EQ(texture->GetSize(), (Int2{100, 60}));
    EXPECT_EQ(texture->GetAllocatedSize(), (Int2{128, 64}));
    EXPECT_FLOAT_EQ(texture->GetMaxUV().x, 100.0f / 128.0f);
    EXPECT_FLOAT_EQ(texture->GetMaxUV().y, 60.0f / 64.0f);
    // Texel centres sit at whole numbers; the mip chain adds up.
    auto square = Make(64, 64, PixelFormat::A8R8G8B8, 1);
    EXPECT_EQ(square->UVToTexel(1.25f, 0.5f), (Int2{16, 32}));
    EXPECT_FLOAT_EQ(square->UVToTexelCoord(1.25f, 0.5f).x, 15.5f);
    EXPECT_FLOAT_EQ(square->TexelToUV(16.0f, 48.0f).y, 0.75f);
    EXPECT_EQ(square->GetLevelCount(), 7);
    EXPECT_EQ(square->GetMemorySize(), 16384u + 4096u + 1024u + 256u + 64u + 16u + 4u);
}

TEST_F(DeviceTextureTest, EveryAcceptedFormatReadsBackTheTexelsWritten) {
    // Channels at 0 or 255 and opaque alpha survive every format, block ones included; one
    // texel per 4x4 block since a block keeps one written colour.
    const uint32_t colours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
    const int32_t xs[4] = {0, 4, 0, 7};
    const int32_t ys[4] = {0, 0, 4, 6};
    for (int32_t code = 1; code < static_cast<int32_t>(PixelFormat::Unknown); ++code) {
        const auto format = static_cast<PixelFormat>(code);
        if (format == PixelFormat::P8) {
            continue; // the GPU layer has no palettes
        }
        auto texture = Make(8, 8, format);
        EXPECT_EQ(texture->GetFormat(), format);
        ASSERT_TRUE(texture->Lock(TextureLockWrite, 0));
        for (int i = 0; i < 4; ++i) {
            texture->SetPixel(xs[i], ys[i], colours[i]);
        }
        ASSERT_TRUE(texture->Lock(TextureUnlocked, 0));
        ASSERT_TRUE(texture->Lock(TextureLockRead, 0));
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(texture->GetPixel(xs[i], ys[i]), colours[i]) << "format " << code;
        }
        EXPECT_TRUE(texture->Lock(TextureUnlocked, 0));
    }
    // Alpha channels keep their precision.
    using enum PixelFormat;
    const std::tuple<PixelFormat, uint32_t, uint32_t> alphas[] = {
        {A8R8G8B8, 0x80123456, 0x80123456},
        {A4R4G4B4, 0x8811EEFF, 0x8811EEFF},
        {A1R5G5B5, 0x7FFF0000, 0x00FF0000},
        {Dxt3, 0x80FF0000, 0x88FF0000},
        {Dxt5, 0x80FF0000, 0x80FF0000},
        {A16B16G16R16, 0x40FF8001, 0x40FF8001},
        {A16B16G16R16F, 0x40FF8001, 0x40FF8001}};
    for (const auto& [format, written, expected] : alphas) {
        auto texture = Make(4, 4, format);
        ASSERT_TRUE(texture->Lock(TextureLockReadWrite, 0));
        texture->SetPixel(1, 2, written);
        EXPECT_EQ(texture->GetPixel(1, 2), expected) << "format " << static_cast<int>(format);
    }
    EXPECT_TRUE(reported_.empty());
}

TEST_F(DeviceTextureTest, FailedCreateLeavesAnEmptyTexture) {
    auto texture = Make();
    EXPECT_FALSE(texture->Create(8, 8, PixelFormat::A8R8G8B8, TextureKind::None, 0, 1));
    EXPECT_TRUE(reported_.empty()); // kind 0 is no device failure
    // The GPU layer has no palettes.
    EXPECT_FALSE(texture->Create(8, 8, PixelFormat::P8, TextureKind::Texture2D, 0, 1));
    EXPECT_EQ(reported_, std::vector<std::string>{"Failed to create texture"});
    EXPECT_EQ(texture->GetKind(), TextureKind::None);
    EXPECT_EQ(texture->GetFormat(), PixelFormat::None);
    EXPECT_EQ(texture->GetSize(), (Int2{0, 0}));
}

TEST_F(DeviceTextureTest, TexelsAreWrittenOnlyInsideTheImageThroughAWritingLock) {
    auto texture = Make(5, 3);
    ASSERT_TRUE(texture->Lock(TextureLockReadWrite, 0));
    texture->SetPixel(5, 0, 0xFFFFFFFF); // inside the allocation, outside the image
    texture->SetPixel(-1, 0, 0xFFFFFFFF);
    EXPECT_EQ(texture->GetPixel(5, 0), 0u);
    EXPECT_EQ(texture->GetPixel(0, 3), 0u);
    Float4 outside = texture->GetPixelFloat4(9, 9);
    EXPECT_EQ(outside.x + outside.y + outside.z + outside.w, 0.0f);
    ASSERT_TRUE(texture->Lock(TextureUnlocked, 0));
    texture->SetPixel(0, 0, 0xFFFFFFFF); // unlocked: nothing to write to
    EXPECT_EQ(texture->GetPixel(0, 0), 0u);
    // A read lock ignores writes; it may be taken twice, and another mode waits for the unlock.
    EXPECT_TRUE(texture->Lock(TextureLockRead, 0));
    EXPECT_TRUE(texture->Lock(TextureLockRead, 0));
    texture->SetPixel(0, 0, 0xFFFFFFFF);
    EXPECT_EQ(texture->GetPixel(0, 0), 0u);
    EXPECT_FALSE(texture->Lock(TextureLockWrite, 0));
    EXPECT_TRUE(texture->Lock(TextureUnlocked, 0));
    EXPECT_FALSE(texture->Lock(TextureLockWrite, 5)); // no such level
    EXPECT_EQ(texture->GetLastError().rfind("Texture lock failed. GPU error code is ", 0), 0u);
}

TEST_F(DeviceTextureTest, RenderTargetLocksReadTheTargetAndWriteBack) {
    auto texture = Make(8, 8, PixelFormat::A8R8G8B8, TextureFlagRenderTarget);
    ASSERT_EQ(device_->SetRenderTarget(0, texture->GetSurface(0)), GpuResult::Ok);
    ASSERT_EQ(device_->Clear({}, GpuClearTarget, 0xFF336699, 1.0f, 0), GpuResult::Ok);
    EXPECT_EQ(ReadTexel(*texture, 2, 2), 0xFF336699u);
    // Read-write locks are written back as well as write locks.
    for (uint32_t mode : {TextureLockWrite, TextureLockReadWrite}) {
        uint32_t colour = 0xFF000000 | mode;
        ASSERT_TRUE(texture->Lock(mode, 0));
        texture->SetPixel(5, 6, colour);
        ASSERT_TRUE(texture->Lock(TextureUnlocked, 0));
        EXPECT_EQ(ReadTexel(*texture, 5, 6), colour);
    }
    device_->SetRenderTarget(0, device_->GetBackBuffer());
}

uint64_t chargedSteps = 0;
void CountCharge(uint64_t steps) {
    chargedSteps += steps;
}

// Each lock of a render target copies the whole target into memory and each unlock after a
// write copies it back: a script's loop of them is charged by the bytes copied, as a fill is,
// whatever it reads or writes in between.
TEST_F(DeviceTextureTest, RenderTargetLocksAreChargedByTheBytesTheyCopy) {
    auto texture = Make(256, 256, PixelFormat::A8R8G8B8, TextureFlagRenderTarget);
    constexpr uint64_t Copy = 256 * 256 * 4 / BytesScannedPerStep;
    const struct {
        uint32_t mode;
        uint64_t copies; // at the lock and the unlock together
    } cases[] = {{TextureLockRead, 1}, {TextureLockWrite, 2}, {TextureLockReadWrite, 2}};
    for (const auto& [mode, copies] : cases) {
        chargedSteps = 0;
        SetEngineWorkHook(&CountCharge);
        ASSERT_TRUE(texture->Lock(mode, 0));
        ASSERT_TRUE(texture->Lock(TextureUnlocked, 0));
        SetEngineWorkHook(nullptr);
        EXPECT_GE(chargedSteps, copies * Copy) << mode;
    }
}

TEST_F(DeviceTextureTest, DrawToScreenAndCopyToReachTheirTargets) {
    auto texture = Make(4, 4);
    ASSERT_TRUE(texture->Lock(TextureLockWrite, 0));
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 4; ++x) {
            texture->SetPixel(x, y, x < 2 ? 0xFF00FF00 : 0xFF0000FF);
        }
    }
    ASSERT_TRUE(texture->Lock(TextureUnlocked, 0));
    // Leftover state from an earlier draw must not leak into the copy.
    device_->SetRenderState(GpuRenderState::FillMode,
                            static_cast<uint32_t>(GpuFillMode::Wireframe));
    ASSERT_EQ(device_->BeginScene(), GpuResult::Ok);
    EXPECT_TRUE(texture->DrawToScreen(2, 0, 4, 4, 0, 0, 8, 8));
    ASSERT_EQ(device_->EndScene(), GpuResult::Ok);
    DeviceTexture screen(*device_);
    screen.WrapSurface(device_->GetBackBuffer());
    EXPECT_EQ(ReadTexel(screen, 3, 3) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(ReadTexel(screen, 7, 7) & 0xFFFFFF, 0x0000FFu);
    EXPECT_FALSE(Make(4, 4, PixelFormat::A8R8G8B8, 0, TextureKind::CubeTexture)
                     ->DrawToScreen(0, 0, 4, 4, 0, 0, 4, 4));
    // Copies reach render targets and, from there, system memory.
    auto target = Make(4, 4, PixelFormat::A8R8G8B8, TextureFlagRenderTarget);
    auto readBack = Make(4, 4, PixelFormat::A8R8G8B8, 0, TextureKind::Surface);
    EXPECT_TRUE(texture->CopyTo(*target));
    EXPECT_TRUE(target->CopyTo(*readBack));
    EXPECT_EQ(ReadTexel(*readBack, 1, 1), 0xFF00FF00u);
    EXPECT_EQ(ReadTexel(*readBack, 2, 1), 0xFF0000FFu);
}

} // namespace
} // namespace quarn
