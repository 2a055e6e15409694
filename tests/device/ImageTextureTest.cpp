#include "device/ImageTexture.h"

#include "TestPaths.h"
#include "codecs/ImageCodec.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "device/GpuRenderDevice.h"
#include "gpu/software/SoftwareDevice.h"
#include "tests/codecs/ImageTestSupport.h"
#include "tests/device/DeviceTestSupport.h"
#include "tests/support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace quarn {
namespace {

using test::ReadTexel;

std::string Fixture(const std::string& name) {
    return std::string(QUARN_TEST_DATA) + "/images/" + name;
}

// The pattern of the RGBA PNG fixtures: channel c of (x, y).
uint32_t PngSample(int32_t x, int32_t y, int32_t c) {
    return static_cast<uint32_t>(x * 37 + y * 91 + c * 53 + x * y * 7) % 256;
}

class ImageTextureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.Create(0, nullptr, 64, 48)) << device_.GetErrorText();
        previous_ = GetFileSystem();
        files_.SetBaseFolder(temp_.Path().c_str());
        SetFileSystem(&files_);
    }
    void TearDown() override { SetFileSystem(previous_); }

    std::unique_ptr<DeviceTexture> Load(const std::string& path,
                                        PixelFormat format = PixelFormat::A8R8G8B8) {
        error_.clear();
        return LoadImageTexture(path.c_str(), format, TextureKind::Texture2D, 0, error_);
    }
    std::string LoadError(const std::string& path) {
        EXPECT_EQ(Load(path), nullptr) << path;
        return error_;
    }
    std::string CopyFixture(const std::string& name, const std::string& as) {
        std::filesystem::copy_file(Fixture(name), temp_.Join(as));
        return temp_.Join(as);
    }

    // 8 x 6 texels, every channel varying, alpha included.
    std::unique_ptr<DeviceTexture> MakePattern() {
        auto texture = device_.CreateTexture();
        EXPECT_TRUE(texture->Create(8, 6, PixelFormat::A8R8G8B8, TextureKind::Texture2D, 0, 1));
        EXPECT_TRUE(texture->Lock(TextureLockWrite, 0));
        for (int32_t y = 0; y < 6; ++y) {
            for (int32_t x = 0; x < 8; ++x) {
                texture->SetPixel(x, y, Pattern(x, y));
            }
        }
        texture->Lock(TextureUnlocked, 0);
        return texture;
    }
    static uint32_t Pattern(int32_t x, int32_t y) {
        return uint32_t(40 + x * 25) << 24 | uint32_t(x * 30) << 16 | uint32_t(y * 40) << 8 |
               uint32_t(x * y * 5);
    }

    GpuRenderDevice device_{&SoftwareDevice::Create};
    test::TempFolder temp_;
    DiskFileSystem files_;
    FileSystem* previous_ = nullptr;
    std::string error_;
};

TEST_F(ImageTextureTest, CodecAndDdsFilesArriveInTheTexture) {
    auto png = Load(Fixture("png/c6_d08_plain.png"));
    ASSERT_NE(png, nullptr) << error_;
    EXPECT_EQ(png->GetSize(), (Int2{13, 11}));
    for (auto [x, y] : {Int2{0, 0}, Int2{12, 10}, Int2{5, 7}}) {
        EXPECT_EQ(ReadTexel(*png, x, y), test::Argb(PngSample(x, y, 3), PngSample(x, y, 0),
                                                    PngSample(x, y, 1), PngSample(x, y, 2)))
            << x << "," << y;
    }
    // A 24-bit texture reads back opaque; the extension is compared without case.
    auto bmp = Load(CopyFixture("bits24.bmp", "Photo.BMP"), PixelFormat::R8G8B8);
    ASSERT_NE(bmp, nullptr) << error_;
    EXPECT_EQ(bmp->GetSize(), (Int2{5, 3}));
    for (auto [x, y] : {Int2{0, 0}, Int2{4, 2}, Int2{2, 1}}) {
        EXPECT_EQ(ReadTexel(*bmp, x, y), test::BitmapFixturePixel(x, y)) << x << "," << y;
    }
    // DDS files are read by the device's own loader.
    auto dds = Load(CopyFixture("dds/rgb24.dds", "Sky.DDS"));
    ASSERT_NE(dds, nullptr) << error_;
    EXPECT_EQ(dds->GetSize(), (Int2{4, 2}));
}

TEST_F(ImageTextureTest, FailuresGiveTheLoaderTexts) {
    temp_.WriteFile("garbage.png", "this is not an image at all");
    temp_.WriteFile("empty.bmp", "");
    // A readable header over pixel data cut short.
    CopyFixture("bits24.bmp", "whole.bmp");
    temp_.WriteFile("short.bmp", temp_.ReadFile("whole.bmp").substr(0, 60));
    // A bitmap named .dds never reaches the bitmap codec: the device's own text comes back.
    CopyFixture("bits24.bmp", "fake.dds");
    const std::pair<const char*, const char*> cases[] = {
        {"picture.tga", "Unknown format"},  {"noextension", "Unknown format"},
        {"missing.png", "Invalid texture"}, {"garbage.png", "Invalid texture"},
        {"empty.bmp", "Invalid texture"},   {"short.bmp", "Load error"},
        {"fake.dds", "Not a DDS file"},     {"missing.dds", "Invalid texture"},
    };
    for (const auto& [name, error] : cases) {
        EXPECT_EQ(LoadError(temp_.Join(name)), error) << name;
    }
    // The device refuses a texture larger than it can hold.
    GpuCaps small;
    small.maxTextureWidth = small.maxTextureHeight = 8;
    GpuRenderDevice tiny(&SoftwareDevice::Create, small);
    ASSERT_TRUE(tiny.Create(0, nullptr, 8, 8));
    EXPECT_EQ(LoadError(Fixture("png/c6_d08_plain.png")), "Failed to create texture");
}

TEST_F(ImageTextureTest, SavedRegionsLoadBackIdentical) {
    auto texture = MakePattern();
    // The folder does not exist yet: saving makes it.
    const std::string png = temp_.Join("shots/region.png");
    ASSERT_TRUE(SaveImageFile(png.c_str(), texture.get(), 2, 1, 5, 4));
    auto loaded = Load(png);
    ASSERT_NE(loaded, nullptr) << error_;
    EXPECT_EQ(loaded->GetSize(), (Int2{5, 4}));
    ASSERT_TRUE(loaded->Lock(TextureLockRead, 0));
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 5; ++x) {
            ASSERT_EQ(loaded->GetPixel(x, y), Pattern(x + 2, y + 1)) << x << "," << y;
        }
    }
    loaded->Lock(TextureUnlocked, 0);
    // Bitmaps are written with 24 bits: the colours come back opaque.
    const std::string bmp = temp_.Join("region.bmp");
    ASSERT_TRUE(SaveImageFile(bmp.c_str(), texture.get(), 0, 0, 8, 6));
    loaded = Load(bmp);
    ASSERT_NE(loaded, nullptr) << error_;
    EXPECT_EQ(ReadTexel(*loaded, 7, 5), Pattern(7, 5) | 0xFF000000u);
    // No codec saves JPEG or an unknown format; an empty region has no valid file.
    EXPECT_FALSE(SaveImageFile(temp_.Join("region.jpg").c_str(), texture.get(), 0, 0, 8, 6));
    EXPECT_FALSE(SaveImageFile(temp_.Join("region.tga").c_str(), texture.get(), 0, 0, 8, 6));
    EXPECT_FALSE(SaveImageFile(temp_.Join("empty.png").c_str(), texture.get(), 0, 0, 0, 6));
    EXPECT_FALSE(SaveImageFile(temp_.Join("null.png").c_str(), nullptr, 0, 0, 8, 6));
    for (const char* name : {"region.jpg", "region.tga", "empty.png", "null.png"}) {
        EXPECT_FALSE(std::filesystem::exists(temp_.Join(name))) << name;
    }
}

// Writes a few bytes and then reports that it failed.
class FailingCodec final : public ImageCodec {
public:
    explicit FailingCodec(bool writeSome) : writeSome_(writeSome) {}
    const char* GetExtension() const override { return "png"; }
    void GetTextureFormat(ImageInfo& info, const uint8_t*, uint32_t) override { info = {}; }
    bool Load(const uint8_t*, uint32_t, void*, ImagePixelSink) override { return false; }
    uint32_t Save(ImageOutputStream& stream, uint32_t, uint32_t, uint32_t, bool, void*,
                  ImagePixelSource) override {
        if (writeSome_) {
            stream.Write("partial", 7);
        }
        return 0;
    }
    bool CanSave() const override { return true; }
    void ReleaseData() override {}

private:
    bool writeSome_;
};

TEST_F(ImageTextureTest, FailedSavesLeaveTheEarlierFile) {
    auto texture = MakePattern();
    const std::string target = temp_.WriteFile("old.png", "earlier file");
    // A codec that fails, with or without writing first.
    for (bool writeSome : {false, true}) {
        FailingCodec codec(writeSome);
        EXPECT_FALSE(SaveImageFileWith(codec, target.c_str(), texture.get(), 0, 0, 8, 6));
        EXPECT_EQ(temp_.ReadFile("old.png"), "earlier file");
        EXPECT_FALSE(
            SaveImageFileWith(codec, temp_.Join("new.png").c_str(), texture.get(), 0, 0, 8, 6));
        EXPECT_FALSE(std::filesystem::exists(temp_.Join("new.png")));
    }
    // A read-only target.
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    EXPECT_FALSE(SaveImageFile(target.c_str(), texture.get(), 0, 0, 8, 6));
    EXPECT_EQ(temp_.ReadFile("old.png"), "earlier file");
    chmod(target.c_str(), 0644);
    // A file that did not arrive whole.
    MemoryFileSystem memory;
    SetFileSystem(&memory);
    EXPECT_TRUE(SaveImageFile("whole.png", texture.get(), 0, 0, 8, 6));
    EXPECT_NE(memory.Written("whole.png"), nullptr);
    memory.FailCloses();
    EXPECT_FALSE(SaveImageFile("cut.png", texture.get(), 0, 0, 8, 6));
    EXPECT_EQ(memory.Written("cut.png"), nullptr);
}

} // namespace
} // namespace quarn
