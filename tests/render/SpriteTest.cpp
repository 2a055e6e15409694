#include "render/Sprite.h"

#include "core/object/MethodInfo.h"
#include "resources/EffectShader.h"
#include "resources/TextureAtlas.h"
#include "tests/render/SpriteScene.h"
#include "tests/support/PngFixture.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

using SpriteTest = test::SpriteScene;

TEST_F(SpriteTest, SpritesCoverTheirRectangleOnTheScreenAndInTheWorldWithTheImageUpright) {
    // Pixel centres lie at whole numbers: a quad from 12 to 28 covers pixels 12 to 27. At depth
    // 10 a unit is 3.2 pixels, so the world quad spans 32 +- 12.8 and 24 +- 9.6.
    const std::string screen = "\tmatrixmode = 3\n\tpos = 20.0,14.0,0.0\n\tsize = 16.0,8.0\n";
    const struct {
        std::string placement;
        std::vector<int> covered, at;   // left, top, right, bottom; points inside the quarters
        std::vector<uint32_t> quarters; // top left, top right, bottom left, bottom right
    } cases[] = {
        {screen, {12, 10, 28, 18}, {14, 11, 25, 16}, {Red, Green, Blue, Grey}},
        {"\tpos = 0.0,0.0,10.0\n\tsize = 8.0,6.0\n",
         {20, 15, 45, 34},
         {22, 17, 42, 31},
         {Red, Green, Blue, Grey}},
        // minuv beyond maxuv mirrors both ways.
        {screen + "\tminuv = 1.0,1.0\n\tmaxuv = 0.0,0.0\n",
         {12, 10, 28, 18},
         {14, 11, 25, 16},
         {Grey, Blue, Green, Red}},
    };
    for (const auto& c : cases) {
        LoadSprites({"\ttexture = \"quads.png\"\n" + c.placement});
        Frame();
        EXPECT_EQ(Covered(), c.covered) << c.placement;
        EXPECT_EQ(std::vector<uint32_t>({Pixel(c.at[0], c.at[1]), Pixel(c.at[2], c.at[1]),
                                         Pixel(c.at[0], c.at[3]), Pixel(c.at[2], c.at[3])}),
                  c.quarters)
            << c.placement;
        root_->Delete();
        root_ = nullptr;
    }
}

TEST_F(SpriteTest, OpacityColourAndBlendModesMixWithTheFrameAndADisabledParentHidesIt) {
    Sprite* sprite = LoadSprites(
        {"\ttexture = \"white.png\"\n\tmatrixmode = 3\n\tpos = 10.0,10.0,0.0\n\tsize = 8.0,8.0\n"});
    const struct {
        BlendMode mode;
        float opacity;
        uint32_t color, expected;
    } cases[] = {{BlendMode::Normal, 1.0f, 0xFF0000, 0xFFFF0000},
                 {BlendMode::Normal, 0.5f, 0xFF0000, 0xFFBF4040},
                 {BlendMode::Add, 1.0f, 0x00FF00, 0xFF80FF80},
                 {BlendMode::Multiply, 1.0f, 0x0000FF, 0xFF000080}};
    for (const auto& c : cases) {
        sprite->SetBlendMode(static_cast<uint32_t>(c.mode));
        sprite->SetOpacity(c.opacity);
        sprite->SetColor(c.color);
        Frame();
        for (int shift : {0, 8, 16}) {
            EXPECT_NEAR(int((Pixel(10, 10) >> shift) & 0xFF), int((c.expected >> shift) & 0xFF), 1)
                << "mode " << int(c.mode) << " opacity " << c.opacity;
        }
    }
    auto* parent = new Node();
    parent->AttachTo(root_);
    sprite->AttachTo(parent);
    parent->SetFlag(NodeEnabled, false);
    Frame();
    EXPECT_EQ(Pixel(10, 10), Grey);
}

TEST_F(SpriteTest, ASpriteWhoseShaderFileIsMissingDrawsMagentaInsideItsTexturesOutline) {
    Sprite* sprite = LoadSprites({"\ttexture = \"quads.png\"\n\tshader = \"none.psh\"\n"
                                  "\tmatrixmode = 3\n\tpos = 20.0,14.0,0.0\n\tsize = 16.0,8.0\n"});
    ASSERT_NE(sprite->GetEffectShader(), nullptr);
    EXPECT_NE(sprite->GetEffectShader()->GetState() & ResourcePlaceholder, 0u);
    Frame();
    constexpr uint32_t Magenta = 0xFFFF00FF;
    EXPECT_EQ(Covered(), (std::vector<int>{12, 10, 28, 18}));
    EXPECT_EQ(std::vector<uint32_t>({Pixel(14, 11), Pixel(25, 11), Pixel(14, 16), Pixel(25, 16)}),
              (std::vector<uint32_t>{Magenta, Magenta, Magenta, Grey}));
}

TEST_F(SpriteTest, APickFindsTheNearestSpriteUnderThePointFacingItOrDoubleSided) {
    // The screen sprite lies in front (pick distance 1) of the world sprite at depth 10.
    LoadSprites({"\ttexture = \"quads.png\"\n\tmatrixmode = 3\n\tpos = 20.0,14.0,0.0\n"
                 "\tsize = 16.0,8.0\n",
                 "\ttexture = \"quads.png\"\n\tpos = 0.0,0.0,10.0\n\tsize = 8.0,6.0\n"});
    Frame();
    auto* world = dynamic_cast<Sprite*>(LookupEntity(5));
    const struct {
        float x, y;
        uint32_t id; // 0: nothing
        float turn = 0.0f;
        bool doubleSided = false;
    } cases[] = {{14, 11, 4},
                 {12, 10, 4},
                 {25, 16, 4},
                 {40, 20, 5},
                 {44, 33, 5},
                 {45, 33, 0},
                 {40, 20, 0, 3.14159265f},
                 {40, 20, 5, 3.14159265f, true}};
    for (const auto& c : cases) {
        world->SetOrientation(Quaternion::FromAxisAngle(c.turn, Float3(0, 1, 0)));
        world->SetRenderFlag(RenderDoubleSided, c.doubleSided);
        PickQuery pick;
        const bool hit = pick.PickFromScreen(c.x, c.y);
        EXPECT_EQ(hit ? pick.best.node->GetId() : 0u, c.id) << c.x << "," << c.y << " " << c.turn;
        EXPECT_TRUE(!hit || c.id == 4 || pick.best.data.z < -0.99f) << "the normal faces the ray";
    }
}

TEST_F(SpriteTest, SpritesOfOneTextureShareABatchAndAnAtlasMemberDrawsItsOwnRectangle) {
    temp_.WriteFile("atlas.png",
                    test::EncodePng(8, 4, [](uint32_t x, uint32_t) { return x < 4 ? Red : Blue; }));
    temp_.WriteFile("atlas.txt", "0 0 4 4 0 \"a.png\"\n4 0 4 4 7 \"b.png\"\n");
    temp_.WriteFile("atlases.txt", "\"atlas.png\"\n");
    LoadTextureAtlasList("atlases.txt");
    LoadSprites(
        {"\ttexture = \"white.png\"\n\trendertype = 3\n\tpos = -4.0,4.0,10.0\n",
         "\ttexture = \"white.png\"\n\trendertype = 3\n\tpos = 0.0,4.0,10.0\n",
         "\ttexture = \"b.png\"\n\trendertype = 3\n\tpos = 4.0,4.0,10.0\n\tsize = 2.0,2.0\n"});
    Frame();
    EXPECT_EQ(device_->GetRenderStatistics().numDynamicBatchesRendered, 2u);
    EXPECT_EQ(Pixel(19, 11), White);
    // The edge pixels sample between the atlas's halves.
    for (int x = 43; x < 48; ++x) {
        EXPECT_EQ(Pixel(x, 11), Blue) << x;
    }
}

TEST_F(SpriteTest, PropertiesRebuildWhatTheyChangeAndScriptsGetTheTexture) {
    Sprite* sprite = LoadSprites(
        {"\ttexture = \"white.png\"\n\tmatrixmode = 3\n\tsize = 2.0,5.0\n\tmaxuv = 2.0,1.0\n"});
    sprite->FitHeightToTexture();
    EXPECT_EQ(sprite->GetSize().y, 1.0f) << "4 x 2 at width 2";
    Frame();
    VertexBuffer* vertices = sprite->GetRenderMesh()->GetVertexStream(0);
    EXPECT_EQ(vertices->TestFlags(VertexClampU0 | VertexClampV0), VertexClampV0) << "u wraps";
    // Another matrix mode or lighting needs another vertex layout.
    sprite->SetMatrixMode(MatrixNormal);
    Frame();
    EXPECT_EQ(vertices->GetFormat(), VertexPosition | VertexDiffuse | VertexTexCoord0);
    sprite->SetRenderFlag(RenderLighting, true);
    Frame();
    EXPECT_TRUE(vertices->GetFormat() & VertexNormal);

    uint32_t block[1] = {};
    Sprite::classInfo->GetOwnMethods()[1]->Call(sprite, block); // GetTexture
    EXPECT_EQ(LookupEntity(block[0]), sprite->GetTexture()) << "scripts hold it by a new id";
}

} // namespace
} // namespace quarn
