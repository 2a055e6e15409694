#include "render/lightmap/AtlasAssembly.h"

#include "core/filesystem/DiskFileSystem.h"
#include "core/scene/SelectionSet.h"
#include "editor/EditorSelectionSet.h"
#include "device/DeviceTexture.h"
#include "resources/TextureAtlas.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/RecordingDialogHook.h"
#include "tests/support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

class AtlasAssemblyTest : public test::RenderScene {
protected:
    void TearDown() override {
        for (Texture* texture : made_) {
            texture->Release();
        }
        RenderScene::TearDown();
    }
    // A texture whose texel (x, y) holds `base` + x + 256 y.
    Texture* Source(int32_t width, int32_t height, uint32_t base) {
        auto* texture = new Texture(width, height, PixelFormat::A8R8G8B8, TextureKind::Texture2D, 0);
        made_.push_back(texture);
        DeviceTexture* image = texture->GetDeviceTexture();
        image->Lock(TextureLockWrite, 0);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                image->SetPixel(x, y, base + static_cast<uint32_t>(x + 256 * y));
            }
        }
        image->Lock(TextureUnlocked, 0);
        return texture;
    }
    static TextureAtlasPart PartOf(Texture* texture, int32_t padding) {
        TextureAtlasPart part;
        part.texture = texture;
        part.width = texture->GetWidth();
        part.height = texture->GetHeight();
        part.padding = padding;
        return part;
    }

    std::vector<Texture*> made_;
};

TEST_F(AtlasAssemblyTest, EveryImageLandsWhereItsPartSaysInsideAClearedBorder) {
    std::vector<TextureAtlasPart> parts = {PartOf(Source(62, 62, 0xFF000000), 1),
                                           PartOf(Source(64, 64, 0xFF100000), 0),
                                           PartOf(Source(64, 64, 0xFF200000), 0),
                                           PartOf(Source(64, 64, 0xFF300000), 0)};
    Texture* atlas = AssembleTextureAtlas(parts.data(), 4);
    ASSERT_NE(atlas, nullptr);
    EXPECT_EQ(atlas->GetWidth(), 128);
    EXPECT_EQ(atlas->GetHeight(), 128);
    EXPECT_EQ(atlas->GetFormat(), PixelFormat::A8R8G8B8);
    DeviceTexture* image = atlas->GetDeviceTexture();
    image->Lock(TextureLockRead, 0);
    for (const TextureAtlasPart& part : parts) {
        DeviceTexture* source = part.texture->GetDeviceTexture();
        source->Lock(TextureLockRead, 0);
        const uint32_t base = source->GetPixel(0, 0);
        source->Lock(TextureUnlocked, 0);
        EXPECT_EQ(part.width, part.texture->GetWidth());
        for (int32_t y = 0; y < part.height; y += 7) {
            for (int32_t x = 0; x < part.width; x += 5) {
                ASSERT_EQ(image->GetPixel(part.atlasX + x, part.atlasY + y),
                          base + static_cast<uint32_t>(x + 256 * y));
            }
        }
        if (part.padding == 1) {
            EXPECT_EQ(image->GetPixel(part.atlasX - 1, part.atlasY - 1), 0u);
            EXPECT_EQ(image->GetPixel(part.atlasX + part.width, part.atlasY + part.height), 0u);
        }
    }
    image->Lock(TextureUnlocked, 0);
    atlas->Release();
}

TEST_F(AtlasAssemblyTest, ASetBeyondTheLargestAtlasShowsTheErrorAndMakesNothing) {
    test::RecordingDialogHook dialogs;
    std::vector<TextureAtlasPart> parts(5);
    for (TextureAtlasPart& part : parts) {
        part.width = 2048;
        part.height = 2048;
    }
    EXPECT_EQ(AssembleTextureAtlas(parts.data(), 5), nullptr);
    ASSERT_EQ(dialogs.Dialogs().size(), 1u);
    EXPECT_EQ(dialogs.Dialogs()[0].title, "Atlas assembling error");
    EXPECT_EQ(dialogs.Dialogs()[0].text,
              "No suitable atlas size could be found. Try again with fewer texture parts.");

    // Four of them fill the largest atlas exactly.
    parts.resize(4);
    Texture* atlas = AssembleTextureAtlas(parts.data(), 4);
    ASSERT_NE(atlas, nullptr);
    EXPECT_EQ(atlas->GetWidth(), 4096);
    EXPECT_EQ(atlas->GetHeight(), 4096);
    atlas->Release();
}

// Answers its lightmap to "GetLightMap" as the lightmapped classes do.
class LightMapHolder : public test::TestClass<LightMapHolder, Node> {
public:
    static constexpr const char* Name = "AtlasTestLightMapHolder";
    static void Declare(ClassInfo& classInfo) {
        classInfo.AddMethod("GetLightMap", "():Texture", BindMethod<&LightMapHolder::Get>(), 0);
    }
    Entity* Get() {
        if (map && map->GetId() == 0) {
            map->ChangeId(TheIdMap().GetFreeLocalId(0));
        }
        return map;
    }
    Texture* map = nullptr;
};

class LightMapAtlasTest : public AtlasAssemblyTest {
protected:
    void SetUp() override {
        AtlasAssemblyTest::SetUp();
        LightMapHolder::RegisterClass();
        files_.SetBaseFolder(temp_.Path().c_str());
        SetFileSystem(&files_);
        temp_.WriteFile("atlases.txt", "");
        LoadTextureAtlasList("atlases.txt");
        SetSelectionSet(&selection_);
    }
    void TearDown() override {
        SetSelectionSet(nullptr);
        ClearTextureAtlases();
        AtlasAssemblyTest::TearDown();
        SetFileSystem(nullptr);
    }
    // A saved 64 x 64 lightmap held by a new node, which joins the selection.
    LightMapHolder* Holder(const char* name, const char* path, uint32_t base) {
        auto* holder = tree_.Make<LightMapHolder>(name, root_);
        holder->map = Source(64, 64, base);
        if (path) {
            holder->map->SetFileName(path, "", true);
        }
        selection_.Add(holder);
        return holder;
    }

    test::TempFolder temp_;
    DiskFileSystem files_;
    EditorSelectionSet selection_;
    test::RecordingDialogHook dialogs_;
};

TEST_F(LightMapAtlasTest, SavedLightmapsLoadAgainFromTheAtlasWithTheirPixels) {
    std::filesystem::create_directories(temp_.Join("maps"));
    LightMapHolder* a = Holder("a", "maps/a.bmp", 0xFF100000);
    Holder("b", "maps/b.bmp", 0xFF200000);
    Holder("shared", nullptr, 0)->map = a->map; // the same texture is packed once
    Holder("unsaved", nullptr, 0xFF300000);
    EXPECT_EQ(AssembleLightMapAtlas("maps/atlas.bmp", "lightmap"), 2);
    EXPECT_TRUE(dialogs_.Dialogs().empty());
    EXPECT_EQ(temp_.ReadFile("atlases.txt"), "\"maps/atlas.bmp\"\n");
    ASSERT_EQ(GetTextureAtlasEntryCount(), 2);

    // The definition, read back, gives the same entries.
    const TextureAtlasEntry before = *FindTextureAtlasEntry("maps/b.bmp");
    ClearTextureAtlases();
    LoadTextureAtlasList("atlases.txt");
    const TextureAtlasEntry* after = FindTextureAtlasEntry("maps/b.bmp");
    ASSERT_NE(after, nullptr);
    EXPECT_EQ((std::vector<int32_t>{after->left, after->top, after->width, after->height}),
              (std::vector<int32_t>{before.left, before.top, before.width, before.height}));

    auto* loaded = new Texture("maps/b.bmp", "");
    made_.push_back(loaded);
    EXPECT_EQ(loaded->GetLeft(), after->left);
    EXPECT_EQ(loaded->GetTop(), after->top);
    EXPECT_EQ(loaded->GetWidth(), 64);
    DeviceTexture* image = loaded->GetDeviceTexture();
    image->Lock(TextureLockRead, 0);
    for (int32_t y = 0; y < 64; y += 9) {
        for (int32_t x = 0; x < 64; x += 7) {
            ASSERT_EQ(image->GetPixel(loaded->GetLeft() + x, loaded->GetTop() + y),
                      0xFF200000u + static_cast<uint32_t>(x + 256 * y));
        }
    }
    image->Lock(TextureUnlocked, 0);
}

TEST_F(LightMapAtlasTest, NothingIsRegisteredUnlessEverythingWasWrittenAndNoKeepsTheSelection) {
    std::filesystem::create_directories(temp_.Join("maps"));
    Holder("a", "maps/a.bmp", 0xFF100000);
    dialogs_.Answer(1); // No
    EXPECT_EQ(AssembleLightMapAtlas("maps/atlas.bmp", "lightmap"), 0);
    ASSERT_EQ(dialogs_.Dialogs().size(), 1u);
    EXPECT_EQ(dialogs_.Dialogs()[0].text,
              "You have selected one node. Assemble all lightmaps in subtree?");
    EXPECT_EQ(selection_.GetCount(), 1);

    Holder("b", "maps/b.bmp", 0xFF200000);
    std::filesystem::create_directories(temp_.Join("maps/atlas.txt")); // cannot be written
    EXPECT_EQ(AssembleLightMapAtlas("maps/atlas.bmp", "lightmap"), 0);
    EXPECT_EQ(GetTextureAtlasEntryCount(), 0);
    EXPECT_EQ(temp_.ReadFile("atlases.txt"), "");
}

} // namespace
} // namespace quarn
