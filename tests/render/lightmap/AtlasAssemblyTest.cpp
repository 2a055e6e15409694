#include "render/lightmap/AtlasAssembly.h"

#include "device/DeviceTexture.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/RecordingDialogHook.h"

#include <gtest/gtest.h>
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

} // namespace
} // namespace quarn
