#include "device/DdsLoader.h"

#include "TestPaths.h"
#include "device/DeviceTexture.h"
#include "gpu/software/SoftwareDevice.h"
#include "tests/device/DeviceTestSupport.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::ReadTexel;

// A file in memory that remembers how many bytes each read asked for.
struct MemoryStream {
    explicit MemoryStream(std::vector<uint8_t> content) : bytes(std::move(content)) {}

    std::vector<uint8_t> bytes;
    size_t position = 0;
    std::vector<uint32_t> requests;

    static uint32_t Read(void* destination, uint32_t count, void* userData) {
        auto* self = static_cast<MemoryStream*>(userData);
        self->requests.push_back(count);
        size_t n = std::min<size_t>(count, self->bytes.size() - self->position);
        std::memcpy(destination, self->bytes.data() + self->position, n);
        self->position += n;
        return static_cast<uint32_t>(n);
    }
};

// The fixtures tests/data/make_dds_fixtures.py writes.
std::vector<uint8_t> Fixture(const char* name) {
    std::ifstream file(std::string(QUARN_TEST_DATA) + "/images/dds/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// at(): a missing fixture fails the test instead of writing past an empty vector.
void Put32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
    }
}

// File offsets of the header fields a lying header changes.
constexpr size_t HeightField = 12;
constexpr size_t WidthField = 16;
constexpr size_t MipCount = 28;
constexpr size_t BitCount = 88;
constexpr size_t Caps1 = 108;
constexpr size_t Caps2 = 112;

class DdsLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        device_ = SoftwareDevice::Create({.backBufferWidth = 8, .backBufferHeight = 8});
        ASSERT_NE(device_, nullptr);
        texture_ = std::make_unique<DeviceTexture>(*device_);
    }

    bool Load(MemoryStream& stream) { return texture_->LoadDDS(&MemoryStream::Read, &stream); }

    // Loads the bytes and expects failure with the given text and no device object left.
    void ExpectFailure(std::vector<uint8_t> bytes, const char* text) {
        MemoryStream stream{std::move(bytes)};
        EXPECT_FALSE(Load(stream));
        EXPECT_EQ(texture_->GetLastError(), text);
        EXPECT_EQ(texture_->GetKind(), TextureKind::None);
        EXPECT_EQ(texture_->GetGpuTexture(), nullptr);
    }

    std::unique_ptr<SoftwareDevice> device_;
    std::unique_ptr<DeviceTexture> texture_;
};

TEST_F(DdsLoaderTest, MipmappedBlockFilesReadEachLevelAtItsOwnSize) {
    MemoryStream stream{Fixture("dxt1_mips.dds")};
    ASSERT_EQ(stream.bytes.size(), 232u);
    ASSERT_TRUE(Load(stream));
    // 16 x 8 is not square: the levels are 4x2, 2x1 and then single blocks, 104 bytes.
    EXPECT_EQ(stream.requests, (std::vector<uint32_t>{4, 124, 104}));
    EXPECT_EQ(texture_->GetFormat(), PixelFormat::Dxt1);
    EXPECT_EQ(texture_->GetSize(), (Int2{16, 8}));
    EXPECT_EQ(texture_->GetAllocatedSize(), (Int2{16, 8}));
    EXPECT_EQ(ReadTexel(*texture_, 1, 1), 0xFFFF0000u);
    EXPECT_EQ(ReadTexel(*texture_, 5, 2), 0xFF00FF00u);
    EXPECT_EQ(ReadTexel(*texture_, 15, 7), 0xFFFFFFFFu);
    EXPECT_EQ(ReadTexel(*texture_, 0, 0, 1), 0xFF00FF00u);
}

TEST_F(DdsLoaderTest, CubeMapsFillTheSixFacesInOrderAndTwentyFourBitFilesLoadAsRgb) {
    MemoryStream stream{Fixture("argb_cube.dds")};
    ASSERT_TRUE(Load(stream));
    EXPECT_EQ(texture_->GetKind(), TextureKind::CubeTexture);
    const uint32_t faces[6] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF,
                               0xFFFFFF00, 0xFF00FFFF, 0x80FFFFFF};
    for (uint32_t face = 0; face < 6; ++face) {
        EXPECT_EQ(ReadTexel(*texture_, 3, 3, face), faces[face]) << face;
    }
    MemoryStream rgb{Fixture("rgb24.dds")};
    ASSERT_TRUE(Load(rgb));
    EXPECT_EQ(texture_->GetFormat(), PixelFormat::R8G8B8);
    EXPECT_EQ(ReadTexel(*texture_, 0, 0), 0xFF0A0000u);
    EXPECT_EQ(ReadTexel(*texture_, 3, 1), 0xFF0DC8B4u);
}

TEST_F(DdsLoaderTest, BrokenFilesFailWithTheirTextsAndReplaceAnEarlierTexture) {
    ASSERT_TRUE(texture_->Create(8, 8, PixelFormat::A8R8G8B8, TextureKind::Texture2D, 0, 1));
    ExpectFailure({'n', 'o', 'p', 'e'}, "Not a DDS file");
    EXPECT_EQ(texture_->GetSize(), (Int2{0, 0}));
    std::vector<uint8_t> good = Fixture("argb_cube.dds");
    ExpectFailure({'D', 'D'}, "Not a DDS file");
    std::vector<uint8_t> bytes = good;
    Put32(bytes, Caps1, DdsCapsMipMap);
    ExpectFailure(bytes, "Mipmapped cubemaps are currently not supported");
    bytes = good;
    Put32(bytes, Caps2, 0);
    Put32(bytes, BitCount, 16);
    ExpectFailure(bytes, "Unimplemented DDS format");
    ExpectFailure(std::vector<uint8_t>(good.begin(), good.begin() + 60), "Unexpected end of file.");
    // The fifth face is cut short.
    ExpectFailure(std::vector<uint8_t>(good.begin(), good.end() - 80), "Unexpected end of file.");
}

TEST_F(DdsLoaderTest, HeadersThatLieAboutSizesFailBeforeAnyWrite) {
    std::vector<uint8_t> good = Fixture("dxt1_mips.dds");
    std::vector<uint8_t> bytes = good;
    Put32(bytes, MipCount, 40); // more levels than 16 x 8 has
    ExpectFailure(bytes, "Failed to create texture");
    bytes = good;
    Put32(bytes, WidthField, 0);
    ExpectFailure(bytes, "Failed to create texture");
    bytes = good;
    Put32(bytes, WidthField, 0x80000000u);
    Put32(bytes, HeightField, 0x80000000u);
    Put32(bytes, Caps1, 0);
    ExpectFailure(bytes, "Failed to create texture");
    bytes = Fixture("argb_cube.dds");
    Put32(bytes, HeightField, 8); // cube faces must be square
    ExpectFailure(bytes, "Failed to create texture");
    // A header alone claiming six 2048 x 2048 faces (96 MB): the reads, and the memory they
    // fill, grow only with the bytes that come.
    bytes = Fixture("argb_cube.dds");
    bytes.resize(128);
    Put32(bytes, WidthField, 2048);
    Put32(bytes, HeightField, 2048);
    MemoryStream header{bytes};
    EXPECT_FALSE(Load(header));
    EXPECT_EQ(texture_->GetLastError(), "Unexpected end of file.");
    EXPECT_EQ(header.requests, (std::vector<uint32_t>{4, 124, 65536}));
    // A mip count of 0 on a mip-mapped file still means one level.
    bytes = Fixture("rgb24.dds");
    Put32(bytes, Caps1, DdsCapsMipMap);
    MemoryStream stream{bytes};
    EXPECT_TRUE(Load(stream));
    EXPECT_EQ(texture_->GetLevelCount(), 1);
}

} // namespace
} // namespace quarn
