#include "render/DoubleSprite.h"

#include "tests/render/SpriteScene.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

// "four.png" (8 x 8): red and green over blue and white; "halves.png" (8 x 8): white beside
// grey; "odd.png" (5 x 3, padded to 8 x 4) with a translucent texel.
class DoubleSpriteTest : public test::SpriteScene {
protected:
    void SetUp() override {
        SpriteScene::SetUp();
        temp_.WriteFile("four.png", test::EncodePng(8, 8, [](uint32_t x, uint32_t y) {
                            return y < 4 ? (x < 4 ? Red : Green) : (x < 4 ? Blue : White);
                        }));
        temp_.WriteFile("halves.png", test::EncodePng(8, 8, [](uint32_t x, uint32_t) {
                            return x < 4 ? White : Grey;
                        }));
        temp_.WriteFile("odd.png", test::EncodePng(5, 3, [](uint32_t x, uint32_t y) {
                            return x == 0 && y == 0 ? 0x80FFFFFFu : White;
                        }));
    }
    DoubleSprite* Load(const std::string& lines) {
        return dynamic_cast<DoubleSprite*>(LoadSprites({lines}, "DoubleSprite"));
    }
    // Each colour channel within one step of the expected one.
    void ExpectColour(int x, int y, uint32_t expected) {
        for (int shift : {0, 8, 16}) {
            EXPECT_NEAR(int((Pixel(x, y) >> shift) & 0xFF), int((expected >> shift) & 0xFF), 1)
                << x << "," << y;
        }
    }
};

TEST_F(DoubleSpriteTest, PixelsAreTheProductOfBothTexturesAndWithoutTexturesTheColour) {
    const std::string placement = "\tmatrixmode = 3\n\tpos = 32.0,24.0,0.0\n\tsize = 16.0,16.0\n";
    DoubleSprite* sprite =
        Load("\ttexture = \"four.png\"\n\ttexture2 = \"halves.png\"\n" + placement);
    Frame();
    EXPECT_EQ(Covered(), (std::vector<int>{24, 16, 40, 32}));
    ExpectColour(27, 19, Red);
    ExpectColour(37, 19, 0xFF008000);
    ExpectColour(27, 29, Blue);
    ExpectColour(37, 29, Grey);
    const DeviceMesh* mesh = sprite->GetRenderMesh();
    EXPECT_EQ(mesh->GetLayerCount(), 2u);
    EXPECT_EQ(mesh->GetLayerOp(1), BlendMode::Multiply);
    Unload();

    sprite = Load("\tcolor = 0000FF\n" + placement);
    EXPECT_TRUE(sprite->IsRenderable()) << "also without textures";
    Frame();
    ExpectColour(32, 24, Blue);
    mesh = sprite->GetRenderMesh();
    EXPECT_EQ(mesh->GetLayerTexture(0), nullptr);
    EXPECT_EQ(mesh->GetLayerTexture(1), nullptr);
}

TEST_F(DoubleSpriteTest, TheSecondTextureBringsItsRectangleAndEachSetClampsByItsOwnMaximum) {
    DoubleSprite* sprite =
        Load("\ttexture = \"four.png\"\n\tminuv2 = 0.25,0.25\n\tmaxuv2 = 0.5,0.5\n");
    sprite->SetRenderFlag(RenderZWrite, true);
    sprite->SetTexture2Name("odd.png");
    EXPECT_EQ(sprite->GetMinUV2().x, 0.0f);
    EXPECT_EQ(sprite->GetMinUV2().y, 0.0f);
    EXPECT_EQ(sprite->GetMaxUV2().x, 5.0f / 8.0f);
    EXPECT_EQ(sprite->GetMaxUV2().y, 3.0f / 4.0f);
    EXPECT_FALSE(sprite->TestRenderFlags(RenderZWrite)) << "a translucent layer writes no depth";
    EXPECT_FALSE(sprite->IsOpaque());

    // Set 1 is taken as it stands: its corners in Sprite's order, and no clamp past 1.
    sprite->SetMaxUV2(Float2(3.0f, 3.0f));
    Frame();
    const VertexBuffer* vertices = sprite->GetRenderMesh()->GetVertexStream(0);
    const Float2 second = vertices->GetTexCoord(1, 1);
    EXPECT_EQ(std::vector<float>({second.x, second.y}), (std::vector<float>{3.0f, 3.0f}));
    const uint32_t clampBits =
        VertexClampU0 | VertexClampV0 | VertexClampU0 << 2 | VertexClampV0 << 2;
    EXPECT_EQ(vertices->TestFlags(clampBits), VertexClampU0 | VertexClampV0);
}

} // namespace
} // namespace quarn
