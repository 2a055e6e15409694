#include "render/BorderSprite.h"

#include "tests/render/SpriteScene.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

constexpr uint32_t Magenta = 0xFFFF00FF;
constexpr uint32_t Yellow = 0xFFFFFF00;
constexpr uint32_t Cyan = 0xFF00FFFF;

std::vector<float> Components(Float3 v) {
    return {v.x, v.y, v.z};
}
std::vector<float> Components(Float2 v) {
    return {v.x, v.y};
}

// "nine.png" is 9 x 9 so that u = v = 0.5 falls on the centre of its middle texel: quarters of
// red, green, blue and magenta around a yellow middle column, a cyan middle row and a white
// centre texel.
class BorderSpriteTest : public test::SpriteScene {
protected:
    void SetUp() override {
        SpriteScene::SetUp();
        temp_.WriteFile("nine.png", test::EncodePng(9, 9, [](uint32_t x, uint32_t y) {
                            if (x == 4) {
                                return y == 4 ? White : Yellow;
                            }
                            if (y == 4) {
                                return Cyan;
                            }
                            return y < 4 ? (x < 4 ? Red : Green) : (x < 4 ? Blue : Magenta);
                        }));
    }
    BorderSprite* Load(const std::string& lines) {
        return dynamic_cast<BorderSprite*>(LoadSprites({lines}, "BorderSprite"));
    }
};

TEST_F(BorderSpriteTest, CornersShowTheirQuarterMirroredAndEdgesStretchTheMiddleLines) {
    // Both placements put the grid lines on pixels 16, 24, 40, 48 across and 8, 16, 32, 40 down:
    // at depth 10 a unit is 3.2 pixels.
    const std::string texture = "\ttexture = \"nine.png\"\n";
    const std::vector<uint32_t> patches = {Green, Yellow,  Red,    Cyan, White,
                                           Cyan,  Magenta, Yellow, Blue};
    const struct {
        std::string placement;
        std::vector<int> covered; // left, top, right, bottom
        std::vector<uint32_t> patches;
    } cases[] = {
        {"\tmatrixmode = 3\n\tpos = 32.0,24.0,0.0\n\tsize = 16.0,16.0\n\tbordersize = 8.0,8.0\n",
         {16, 8, 48, 40},
         patches},
        {"\tpos = 0.0,0.0,10.0\n\tsize = 5.0,5.0\n\tbordersize = 2.5,2.5\n",
         {16, 8, 48, 40},
         patches},
        // Without a border the quad samples one texel line both ways: the centre texel.
        {"\tmatrixmode = 3\n\tpos = 32.0,24.0,0.0\n\tsize = 16.0,16.0\n\tbordersize = 0.0,0.0\n",
         {24, 16, 40, 32},
         {White, White, White, White, White, White, White, White, White}},
    };
    // Inside the patches, by rows from the top left; the last case's points are its quad's.
    const int across[] = {19, 32, 45};
    const int down[] = {11, 24, 37};
    const int innerAcross[] = {25, 32, 39};
    const int innerDown[] = {17, 24, 31};
    for (const auto& c : cases) {
        Load(texture + c.placement);
        Frame();
        EXPECT_EQ(Covered(), c.covered) << c.placement;
        const bool inner = c.covered[0] == 24;
        std::vector<uint32_t> seen;
        for (int r = 0; r < 3; ++r) {
            for (int col = 0; col < 3; ++col) {
                seen.push_back(inner ? Pixel(innerAcross[col], innerDown[r])
                                     : Pixel(across[col], down[r]));
            }
        }
        EXPECT_EQ(seen, c.patches) << c.placement;
        Unload();
    }
}

TEST_F(BorderSpriteTest,
       TheGridRunsFromTheOuterCornerOnThePlusSideClampsByThePropertyAndHasNoShader) {
    // nine.png is padded to 16 x 16: the placed maximum is 9/16 of maxuv, but a maxuv.u of 1.5
    // still lets u wrap.
    BorderSprite* sprite = Load("\ttexture = \"nine.png\"\n\tsize = 2.0,2.0\n\tmaxuv = 1.5,1.0\n"
                                "\tpos = 0.0,0.0,10.0\n\tshader = \"none.psh\"\n");
    Frame();
    EXPECT_NE(sprite->GetEffectShader(), nullptr);
    EXPECT_EQ(sprite->GetRenderMesh()->GetShader(), nullptr) << "a border sprite sets no shader";
    const VertexBuffer* vertices = sprite->GetRenderMesh()->GetVertexStream(0);
    ASSERT_EQ(vertices->GetCount(), 16u);
    const float umax = 1.5f * 9.0f / 16.0f;
    const float vmax = 9.0f / 16.0f;
    const struct {
        uint32_t vertex;
        Float3 position;
        Float2 uv;
    } cases[] = {{0, {1.5f, 1.5f, 0.0f}, {0.0f, 0.0f}},
                 {5, {1.0f, 1.0f, 0.0f}, {0.5f * umax, 0.5f * vmax}},
                 {15, {-1.5f, -1.5f, 0.0f}, {umax, vmax}}};
    for (const auto& c : cases) {
        EXPECT_EQ(Components(vertices->GetPosition(c.vertex)), Components(c.position)) << c.vertex;
        EXPECT_EQ(Components(vertices->GetTexCoord(c.vertex, 0)), Components(c.uv)) << c.vertex;
    }
    EXPECT_EQ(vertices->TestFlags(VertexClampU0 | VertexClampV0), VertexClampV0);

    IndexBuffer* indices = sprite->GetRenderMesh()->GetIndexData();
    ASSERT_EQ(indices->GetIndexCount(), 54u);
    uint32_t a = 0;
    uint32_t b = 0;
    uint32_t c = 0;
    indices->GetTriangle(17, a, b, c);
    EXPECT_EQ(std::vector<uint32_t>({a, b, c}), (std::vector<uint32_t>{11, 15, 14}));

    sprite->SetBorderSize(Float2(1.0f, 0.25f));
    Frame();
    EXPECT_EQ(Components(vertices->GetPosition(0)), Components(Float3(2.0f, 1.25f, 0.0f)))
        << "a new border rebuilds";
}

TEST_F(BorderSpriteTest, APickReachesHalfTheBorderOnEachSideWhateverTheTextureShows) {
    // quads.png's bottom right quarter is transparent; in 3D the sprite lies at the origin.
    const struct {
        bool screen;
        Float2 at; // local x, y in 3D; the screen point in SCREEN
        bool hit;
    } cases[] = {
        {false, {1.4f, 0.0f}, true},
        {false, {1.6f, 0.0f}, false}, // drawn there, but not picked
        {false, {0.0f, -1.5f}, true},
        {false, {-1.25f, -1.25f}, true}, // the transparent quarter's corner
        {true, {32.0f + 12.0f, 24.0f}, true},
        {true, {32.0f + 12.5f, 24.0f}, false},
        {true, {32.0f, 24.0f - 12.0f}, true},
    };
    for (const auto& c : cases) {
        const std::string placement =
            c.screen ? "\tmatrixmode = 3\n\tpos = 32.0,24.0,0.0\n\tsize = 16.0,16.0\n"
                       "\tbordersize = 8.0,8.0\n"
                     : "\tsize = 2.0,2.0\n\tbordersize = 1.0,1.0\n";
        BorderSprite* sprite = Load("\ttexture = \"quads.png\"\n" + placement);
        ASSERT_NE(sprite, nullptr);
        PickQuery query;
        query.Init(PickQuery::DefaultMaxDistance, PickSolids | PickScreenObjects, 0, 0);
        query.screenPoint = c.at;
        EXPECT_EQ(sprite->IntersectRay(Float3(c.at.x, c.at.y, -5.0f), Float3(0, 0, 1), query),
                  c.hit)
            << c.at.x << "," << c.at.y;
        Unload();
    }
}

} // namespace
} // namespace quarn
