#include "resources/Texture.h"

#include "TestPaths.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "device/GpuRenderDevice.h"
#include "gpu/software/SoftwareDevice.h"
#include "resources/TextureAtlas.h"
#include "tests/device/DeviceTestSupport.h"
#include "tests/resources/ResourceTestSupport.h"
#include "tests/support/JpegFixture.h"
#include "tests/support/PngFixture.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace quarn {
namespace {

constexpr uint32_t Red = 0xFFFF0000;
constexpr uint32_t Blue = 0xFF0000FF;
constexpr uint32_t Green = 0xFF00FF00;

class TextureTest : public test::ResourceDiskTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.Create(0, nullptr, 64, 48)) << device_.GetErrorText();
        Texture::RegisterClass();
        ResourceDiskTest::SetUp();
    }
    void TearDown() override {
        ClearTextureAtlases();
        ResourceDiskTest::TearDown();
    }

    void CopyFixture(const std::string& name, const std::string& as) {
        std::filesystem::create_directories(std::filesystem::path(temp_.Join(as)).parent_path());
        std::filesystem::copy_file(std::string(QUARN_TEST_DATA) + "/images/" + name,
                                   temp_.Join(as));
    }

    // A PNG whose left and right halves have one colour each.
    void WriteHalves(const std::string& name, uint32_t width, uint32_t height, uint32_t left,
                     uint32_t right) {
        temp_.WriteFile(name, test::EncodePng(width, height, [&](uint32_t x, uint32_t) {
                            return x < width / 2 ? left : right;
                        }));
    }

    // An atlas "atlas.png" (8 x 4, red | blue) holding "tex/a.png" and "tex/b.png".
    void WriteAtlas() {
        WriteHalves("atlas.png", 8, 4, Red, Blue);
        temp_.WriteFile("atlas.txt", "0 0 4 4 0 \"tex/a.png\"\n4 0 4 4 7 \"tex/b.png\"\n");
        temp_.WriteFile("atlases.txt", "\"atlas.png\"\n");
        LoadTextureAtlasList("atlases.txt");
    }

    static uint32_t PixelOf(Texture* texture, int32_t x, int32_t y) {
        return test::ReadTexel(*texture->GetDeviceTexture(), x, y);
    }

    GpuRenderDevice device_{&SoftwareDevice::Create};
};

TEST_F(TextureTest, ImageFilesLoadAtTheirSize) {
    const std::vector<uint8_t> jpeg =
        test::EncodeJpeg(16, 8, 3, JCS_RGB, [](uint32_t, uint32_t, uint8_t* rgb) {
            rgb[0] = 200, rgb[1] = rgb[2] = 0;
        });
    temp_.WriteFile("t.jpg", std::string(jpeg.begin(), jpeg.end()));
    Texture* texture = GetTexture("t.jpg", nullptr);
    EXPECT_EQ(texture->GetState(), ResourceLoaded);
    EXPECT_EQ(texture->GetWidth(), 16);
    EXPECT_EQ(texture->GetHeight(), 8);
    EXPECT_NEAR(double((PixelOf(texture, 3, 3) >> 16) & 0xFF), 200.0, 3.0);
    texture->Release();
}

TEST_F(TextureTest, DdsBesideAPngWinsUnlessOlder) {
    CopyFixture("png/c6_d08_plain.png", "wall.png");
    CopyFixture("dds/rgb24.dds", "wall.dds");
    for (auto [ddsTime, expected] :
         {std::pair{2000, "wall.dds"}, std::pair{1000, "wall.dds"}, std::pair{500, "wall.png"}}) {
        SetFileTime("wall.png", 1000);
        SetFileTime("wall.dds", ddsTime);
        Texture* texture = GetTexture("wall.png", nullptr);
        EXPECT_STREQ(texture->GetFilePath(), expected) << ddsTime;
        texture->Release();
    }
}

TEST_F(TextureTest, MissingAndUnreadableFilesShowTheChecker) {
    temp_.WriteFile("odd.tga", "not an image");
    for (auto [path, state, logged] :
         {std::tuple{"missing.png", ResourcePlaceholder, "Missing resource: \"missing.png\""},
          std::tuple{"odd.tga", ResourceFailed,
                     "Error while loading texture 'odd.tga': Unknown format"}}) {
        Texture* texture = GetTexture(path, nullptr);
        EXPECT_TRUE(texture->GetState() & state) << path;
        EXPECT_TRUE(log_.Contains(logged)) << path;
        EXPECT_EQ(texture->GetWidth(), 16);
        EXPECT_EQ((std::vector<uint32_t>{PixelOf(texture, 0, 0), PixelOf(texture, 2, 0),
                                         PixelOf(texture, 2, 2)}),
                  (std::vector<uint32_t>{0xFFFFFF00u, 0xFFFF00FFu, 0xFFFFFF00u}))
            << path;
        texture->Release();
    }
}

TEST_F(TextureTest, OpacityIsMeasuredOverTheImageNotThePadding) {
    CopyFixture("png/c2_d08_plain.png", "opaque.png"); // 13 x 11 in a 16 x 16 allocation
    CopyFixture("png/c6_d08_plain.png", "alpha.png");
    Texture* opaque = GetTexture("opaque.png", nullptr);
    Texture* alpha = GetTexture("alpha.png", nullptr);
    EXPECT_EQ(opaque->GetTextureFlags() & (TextureOpaque | TextureTranslucent), TextureOpaque);
    EXPECT_EQ(alpha->GetTextureFlags() & (TextureOpaque | TextureTranslucent), TextureTranslucent);
    EXPECT_TRUE(opaque->IsOpaqueAt(0.5f, 0.5f));
    EXPECT_FALSE(opaque->IsOpaqueAt(1.5f, 0.5f));
    EXPECT_FALSE(opaque->IsOpaqueAt(std::nanf(""), 0.5f));
    opaque->Release();
    alpha->Release();
}

TEST_F(TextureTest, ReloadRepointsReferencesByTheOldObjectsId) {
    WriteHalves("t.png", 4, 4, Red, Red);
    Texture* texture = GetTexture("t.png", nullptr);
    const uint64_t oldId = texture->GetDeviceTexture()->GetId();
    std::vector<std::pair<uint64_t, DeviceTexture*>> replaced;
    device_.AddTextureReplaceListener(
        [&](uint64_t id, DeviceTexture* replacement) { replaced.emplace_back(id, replacement); });
    WriteHalves("t.png", 4, 4, Green, Green);
    texture->Load();
    EXPECT_EQ(replaced, (std::vector<std::pair<uint64_t, DeviceTexture*>>{
                            {oldId, texture->GetDeviceTexture()}}));
    EXPECT_NE(texture->GetDeviceTexture()->GetId(), oldId);
    EXPECT_EQ(PixelOf(texture, 0, 0), Green);
    texture->Release();
}

// Atlases -------------------------------------------------------------------------------------

TEST_F(TextureTest, AtlasMembersShareTheOwnersImage) {
    WriteAtlas();
    Texture* a = GetTexture("tex/a.png", nullptr);
    Texture* b = GetTexture("tex/b.png", nullptr);
    EXPECT_EQ(a->GetState(), ResourceLoaded);
    EXPECT_EQ(b->GetState(), ResourceShared);
    EXPECT_EQ(a->GetReferenceCount(), 2u);
    EXPECT_EQ(b->GetDeviceTexture(), a->GetDeviceTexture());
    EXPECT_EQ((std::vector<int32_t>{b->GetLeft(), b->GetWidth()}), (std::vector<int32_t>{4, 4}));
    // Each member's average is its own rectangle's.
    EXPECT_EQ((std::vector<uint32_t>{a->GetAverageColor(), b->GetAverageColor()}),
              (std::vector<uint32_t>{Red, Blue}));
    b->Release();
    a->Release();
}

TEST_F(TextureTest, OwnerReloadReachesLiveMembers) {
    WriteAtlas();
    Texture* a = GetTexture("tex/a.png", nullptr);
    Texture* b = GetTexture("tex/b.png", nullptr);
    WriteHalves("atlas.png", 8, 4, Green, Red);
    a->Load();
    EXPECT_EQ(b->GetDeviceTexture(), a->GetDeviceTexture());
    EXPECT_EQ(PixelOf(b, 5, 1), Red);
    // The owner let go first: the member still holds it, and its image, alive.
    a->Release();
    EXPECT_EQ(PixelOf(b, 5, 1), Red);
    // Its own reload lets the old owner go and loads the atlas image itself.
    b->Load();
    EXPECT_EQ(b->GetState(), ResourceLoaded);
    EXPECT_EQ(b->GetAtlasTexture(), nullptr);
    EXPECT_EQ(PixelOf(b, 5, 1), Red);
    b->Release();
}

TEST_F(TextureTest, MemberPlaceholderAndFillLeaveTheAtlasAlone) {
    WriteAtlas();
    Texture* a = GetTexture("tex/a.png", nullptr);
    Texture* b = GetTexture("tex/b.png", nullptr);
    // Script method 2 fills the texture.
    uint32_t block[2] = {0, Green};
    Texture::classInfo->GetOwnMethods()[1]->Call(b, block);
    EXPECT_EQ((std::vector<uint32_t>{PixelOf(a, 1, 1), PixelOf(a, 5, 1)}),
              (std::vector<uint32_t>{Red, Green}));
    b->Unload();
    EXPECT_EQ(a->GetReferenceCount(), 1u);
    EXPECT_EQ(PixelOf(a, 1, 1), Red);
    b->Release();
    a->Release();
}

TEST_F(TextureTest, AtlasDefinitionsReadRecordsUntilTheFirstMisfit) {
    const std::tuple<const char*, const char*, int> cases[] = {
        {"\"atlas.png\"", "0 0 64 64 0 \"textures/a.png\" 1 2 3 4 5 b", 2},
        {"atlas.png", "0 0 64 64 0 \"textures/a.png\"", 0},
        {"\"atlas.png\"", "0 0 64 64 0 \"a\" 1 2 3", 1},
        {"\"atlas.png\"", "0 0 99999999999 64 0 \"a\"", 0},
        // No texture is named with a zero byte; the records after it still count.
        {"\"atlas.png\"", "0 0 64 64 0 \"a|b\" 1 2 3 4 5 c", 1},
    };
    for (auto [list, definition, entries] : cases) {
        std::string text = definition;
        std::replace(text.begin(), text.end(), '|', '\0');
        temp_.WriteFile("atlases.txt", list);
        temp_.WriteFile("atlas.txt", text);
        LoadTextureAtlasList("atlases.txt");
        EXPECT_EQ(GetTextureAtlasEntryCount(), entries) << definition;
    }
    temp_.WriteFile("atlas.txt", "1 2 64 32 9 \"Textures/A.png\"");
    temp_.WriteFile("atlases.txt", "\"atlas.png\"");
    LoadTextureAtlasList("atlases.txt");
    const TextureAtlasEntry* entry = FindTextureAtlasEntry("textures/a.png");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(std::string(entry->image.Text()), "atlas.png");
    EXPECT_EQ(
        (std::vector<int32_t>{entry->left, entry->top, entry->width, entry->height, entry->extra}),
        (std::vector<int32_t>{1, 2, 64, 32, 9}));
}

TEST_F(TextureTest, SavedAtlasListNamesEachImageOnce) {
    temp_.WriteFile("atlases.txt", "");
    LoadTextureAtlasList("atlases.txt");
    SetTextureAtlasEntry("b.png", "Two.png", 0, 0, 1, 1, 0);
    SetTextureAtlasEntry("a.png", "one.png", 0, 0, 1, 1, 0);
    SetTextureAtlasEntry("c.png", "one.png", 1, 0, 1, 1, 0);
    ASSERT_TRUE(SaveTextureAtlasList());
    EXPECT_EQ(temp_.ReadFile("atlases.txt"), "\"one.png\"\n\"two.png\"\n");
}

} // namespace
} // namespace quarn
