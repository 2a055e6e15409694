#include "collision/mockup/MockupCylinder.h"

#include "collision/mockup/MockupClasses.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/object/MethodInfo.h"
#include "core/object/Signals.h"
#include "core/scenefile/SceneLoader.h"
#include "device/IndexBuffer.h"
#include "render/LightBakeSettings.h"
#include "tests/collision/mockup/MockupTestSupport.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/PngFixture.h"
#include "tests/support/TempFolder.h"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <map>

namespace quarn {
namespace {

constexpr float QuarterTurn = 1.5707964f;

using test::LinearLight;

// Cylinders at depth 10 in front of the camera at the origin: a world unit covers 3.2 pixels
// around the centre (32, 24).
class MockupCylinderTest : public test::RenderScene {
protected:
    void SetUp() override {
        RenderScene::SetUp();
        RegisterMockupClasses();
        files_.SetBaseFolder(temp_.Path().c_str());
        SetFileSystem(&files_);
        temp_.WriteFile("white.png", test::EncodePng(4, 4, [](uint32_t, uint32_t) {
                            return White;
                        }));
        temp_.WriteFile("red.png", test::EncodePng(4, 4, [](uint32_t, uint32_t) { return Red; }));
        temp_.WriteFile("wide.png", test::EncodePng(256, 128, [](uint32_t, uint32_t) {
                            return White;
                        }));
    }
    void TearDown() override {
        SetLightBakeSettings(nullptr);
        RenderScene::TearDown();
        SetFileSystem(nullptr);
    }
    MockupCylinder* Cylinder(Float3 position, float radius, float length,
                             const char* hull = "white.png", const char* cap = "red.png",
                             Quaternion turn = Quaternion()) {
        auto* cylinder = tree_.Make<MockupCylinder>("cylinder", root_);
        cylinder->ChangeId(TheIdMap().GetFreeLocalId(0));
        cylinder->SetPosition(position);
        cylinder->SetOrientation(turn);
        cylinder->SetCylinderRadius(radius);
        cylinder->SetLength(length);
        cylinder->SetHullTextureName(hull);
        cylinder->SetCapTextureName(cap);
        return cylinder;
    }

    test::TempFolder temp_;
    DiskFileSystem files_;
};

TEST_F(MockupCylinderTest, HullAndCapsDrawWithTheirOwnTexturesAndOnlyWithThem) {
    Square("behind", Float3(0, 0, 20), Green)->half = 20.0f;
    // The axis toward the camera: the near cap fills the middle.
    MockupCylinder* facing = Cylinder(Float3(0, 0, 10), 2.0f, 2.0f);
    Frame();
    EXPECT_EQ(Pixel(32, 24), Red);
    EXPECT_EQ(Pixel(2, 2), Green);
    // Without a cap texture the caps go: the view runs down the open tube.
    facing->SetCapTextureName("");
    Frame();
    EXPECT_EQ(Pixel(32, 24), Green);
    EXPECT_TRUE(facing->IsVisible());
    facing->SetHullTextureName("");
    EXPECT_FALSE(facing->IsVisible());
    // Upright, the hull faces the camera.
    Cylinder(Float3(0, 0, 10), 2.0f, 4.0f, "white.png", nullptr,
             Quaternion::FromAxisAngle(QuarterTurn, Float3(1, 0, 0)));
    Frame();
    EXPECT_EQ(Pixel(32, 24), White);
}

TEST_F(MockupCylinderTest, AFaceFilteredPickSkipsUntexturedParts) {
    MockupCylinder* front = Cylinder(Float3(0, 0, 10), 1.0f, 2.0f, "white.png", nullptr);
    MockupCylinder* back = Cylinder(Float3(0, 0, 20), 1.0f, 2.0f);
    for (const auto& [flags, hit] : {std::pair<uint32_t, Node*>{PickDefaultFlags, front},
                                     std::pair<uint32_t, Node*>{PickDefaultFlags | PickFaceMasks, back}}) {
        PickQuery pick;
        pick.Init(PickQuery::DefaultMaxDistance, flags, 0, 0);
        ASSERT_TRUE(pick.PickNode(root_, Float3(0, 0, 0), Float3(0, 0, 1))) << flags;
        EXPECT_EQ(pick.best.node, hit) << flags;
    }
    // The hull from the side still counts.
    PickQuery side;
    side.Init(PickQuery::DefaultMaxDistance, PickDefaultFlags | PickFaceMasks, 0, 0);
    ASSERT_TRUE(side.PickNode(root_, Float3(5, 0, 10), Float3(-1, 0, 0)));
    EXPECT_EQ(side.best.node, front);
}

TEST_F(MockupCylinderTest, LayoutScalesAndSettersFollowTheirRules) {
    MockupCylinder* c = Cylinder(Float3(0, 0, 10), 1.0f, 2.0f, "wide.png", "wide.png");
    // 9 texels around, 3 along, 3 across a cap: the caps go below the hull.
    EXPECT_EQ(c->GetLightMapSize(), Int2(9, 6));
    c->IsRenderable();
    const struct {
        int part;
        std::vector<int32_t> rect;
    } rects[] = {{MockupHull, {0, 0, 9, 3}}, {MockupTopCap, {0, 3, 3, 3}},
                 {MockupBottomCap, {3, 3, 3, 3}}};
    for (const auto& r : rects) {
        const MockupCylinder::PartRect got = c->GetPartRect(r.part);
        EXPECT_EQ(std::vector<int32_t>({got.x, got.y, got.w, got.h}), r.rect) << r.part;
    }
    // Long enough for the caps to stand beside the hull.
    c->SetLength(8.0f);
    EXPECT_EQ(c->GetLightMapSize(), Int2(12, 9));
    c->SetLength(2.0f);

    for (float tile : {0.0f, 0.005f, 0.01f, std::numeric_limits<float>::quiet_NaN()}) {
        c->SetTileSize(tile);
        EXPECT_EQ(c->GetTileSize(), 0.01f) << tile;
    }
    c->SetTileSize(0.5f);
    // A 256 x 128 texture doubles the repeats along the hull and across the caps, unless
    // square_texuv keeps them square.
    EXPECT_NEAR(c->HullTextureScale().x, 6.2831853f * 2.0f, 1e-4f);
    EXPECT_NEAR(c->HullTextureScale().y, 8.0f, 1e-5f);
    EXPECT_NEAR(c->CapTextureScale().y, 8.0f, 1e-5f);
    c->SetMockupFlags(MockupSquareTexUv);
    EXPECT_NEAR(c->HullTextureScale().y, 4.0f, 1e-5f);
    EXPECT_NEAR(c->CapTextureScale().y, 4.0f, 1e-5f);
    c->SetMockupFlags(MockupStretchHull | MockupStretchCap);
    EXPECT_EQ(c->HullTextureScale().x, 1.0f);
    EXPECT_EQ(c->CapTextureScale().y, 1.0f);

    // The meshes: 66 and 64 vertices, 192 and 180 indices, clamped where stretched.
    c->IsRenderable();
    VertexBuffer& hull = *c->GetRenderMesh()->GetVertexStream(0);
    EXPECT_EQ(hull.GetCount(), 66u);
    EXPECT_EQ(c->GetRenderMesh()->GetIndexData()->GetIndexCount(), 192u);
    EXPECT_EQ(hull.TestFlags(VertexClampU0 | VertexClampV0), VertexClampU0 | VertexClampV0);

    // A new radius rebuilds the mesh at the next draw.
    c->SetCylinderRadius(3.0f);
    c->IsRenderable();
    EXPECT_NEAR(hull.GetPosition(0).x, 3.0f, 1e-5f);
    EXPECT_EQ(MockupCylinder::RegisterClass(), MockupCylinder::classInfo);
}

TEST_F(MockupCylinderTest, TexelCountsBeyondTheDeviceCreateNoLightmapAndSayWhich) {
    test::CapturingLogSink log;
    MockupCylinder* c = Cylinder(Float3(0, 0, 10), 1.0f, 1.0f);
    c->SetName("pillar");
    const struct {
        float radius;
        float length;
        Int2 asked;
    } cases[] = {{1.0f, 9000.0f, {12, 9001}},
                 {std::numeric_limits<float>::infinity(), 1.0f, {0, 0}},
                 {1.0f, 3e9f, {0, 0}}};
    for (const auto& k : cases) {
        c->SetCylinderRadius(k.radius);
        c->SetLength(k.length);
        EXPECT_EQ(c->GetLightMapSize(), k.asked);
        log.Clear();
        c->CreateLightMap();
        EXPECT_EQ(c->GetLightMap(), nullptr);
        EXPECT_TRUE(log.Contains("pillar"));
        c->SetCylinderRadius(1.0f);
        c->SetLength(1.0f);
    }
}

TEST_F(MockupCylinderTest, ColourQueriesReadTheFilledLightmapOnHullAndCaps) {
    LinearLight light;
    LightBakeSettings settings;
    settings.texelSpacing = 0.1f;
    settings.sampler = &light;
    SetLightBakeSettings(&settings);
    // Eight-bit texels hold the light up to 1.
    MockupCylinder* c = Cylinder(Float3(1, 2, 0), 1.0f, 2.0f, "white.png", "white.png",
                                 Quaternion::FromAxisAngle(0.4f, Float3(0, 1, 0)));
    c->CreateLightMap();
    ASSERT_NE(c->GetLightMap(), nullptr);
    EXPECT_EQ(c->GetLightMap()->GetFormat(), PixelFormat::A8R8G8B8);
    c->UpdateLightMap();
    struct Case {
        Float3 local;
        uint32_t part;
    };
    // Picks number the caps 1 and 2 by the ray's way; either finds the cap on the point's side.
    const Case cases[] = {{Float3(0.6f, 0.8f, 0.3f), 0},    {Float3(-1, 0, -0.7f), 0},
                          {Float3(0, -1, 0.9f), 0},         {Float3(0.3f, 0.2f, 1), 1},
                          {Float3(0.3f, 0.2f, 1), 2},       {Float3(-0.5f, 0.4f, -1), 1},
                          {Float3(-0.5f, 0.4f, -1), 2}};
    for (const Case& k : cases) {
        const Float3 world = c->LocalToWorld(k.local);
        const Float4 expected = LinearLight::At(world);
        const Float4 got = c->GetColorRgba(world, k.part);
        EXPECT_NEAR(got.x, expected.x, 0.01f) << k.local.x << " " << k.local.z << " " << k.part;
        EXPECT_NEAR(got.z, expected.z, 0.01f) << k.local.x << " " << k.local.z << " " << k.part;
        const uint32_t packed = c->GetColorArgb(world, k.part);
        EXPECT_NEAR(static_cast<float>((packed >> 16) & 0xFF) / 255.0f, expected.x, 0.02f);
    }
    // A query during a write lock reads and leaves the lock standing.
    DeviceTexture* map = c->GetLightMap()->GetDeviceTexture();
    map->Lock(TextureLockWrite, 0);
    c->GetColorRgba(c->LocalToWorld(cases[0].local), 0);
    EXPECT_EQ(map->GetLockMode(), TextureLockWrite);
    map->Lock(TextureUnlocked, 0);
    // The mapping follows a new radius.
    c->SetCylinderRadius(1.5f);
    c->CreateLightMap();
    c->UpdateLightMap();
    const Float3 hull = c->LocalToWorld(Float3(0, 1.5f, -0.4f));
    EXPECT_NEAR(c->GetColorRgba(hull, 0).x, LinearLight::At(hull).x, 0.01f);
    // A part without its texture answers the colour without the lightmap.
    c->SetCapTextureName("");
    EXPECT_EQ(c->GetColorArgb(c->LocalToWorld(cases[3].local), 1), 0xFFFFFFFFu);
}

TEST_F(MockupCylinderTest, LightmapsSaveAndComeBackAndTheSignalsReachEveryCylinder) {
    LinearLight light;
    LightBakeSettings settings;
    settings.sampler = &light;
    SetLightBakeSettings(&settings);
    MockupCylinder* cylinders[] = {Cylinder(Float3(0, 0, 10), 1.0f, 2.0f),
                                   Cylinder(Float3(3, 0, 10), 1.0f, 2.0f)};
    for (MockupCylinder* c : cylinders) {
        ASSERT_NE(c->FindMethod("CreateLightMap"), nullptr);
        CallEntityMethod(c, "CreateLightMap", nullptr);
    }
    SendSignal("UpdateLightMap", nullptr, true);
    SendSignal("SaveLightMap", nullptr, true);
    for (MockupCylinder* c : cylinders) {
        // 9 x 3 hull texels and two 3 x 3 caps.
        EXPECT_EQ(light.samples[c], 27 + 18);
        EXPECT_TRUE(c->GetMapFlags() & MockupApplyMap);
    }
    SetLightBakeSettings(nullptr);
    const std::string file =
        "pelgrath/maps/scene/" + std::to_string(cylinders[0]->GetId()) + ".bmp";
    ASSERT_TRUE(std::filesystem::exists(temp_.Path() + "/" + file)) << file;
    MockupCylinder* fresh = Cylinder(Float3(0, 0, 10), 1.0f, 2.0f);
    std::filesystem::copy_file(temp_.Path() + "/" + file,
                               temp_.Path() + "/pelgrath/maps/scene/" +
                                   std::to_string(fresh->GetId()) + ".bmp");
    fresh->SetMapFlags(MockupApplyMap);
    ASSERT_NE(fresh->GetLightMap(), nullptr);
    EXPECT_EQ(fresh->GetLightMap()->GetWidth(), 9);
    MockupCylinder* missing = Cylinder(Float3(0, 0, 10), 1.0f, 2.0f);
    missing->SetMapFlags(MockupApplyMap);
    EXPECT_EQ(missing->GetLightMap(), nullptr);
    EXPECT_EQ(missing->GetMapFlags(), static_cast<uint32_t>(MockupApplyMap));
}

TEST_F(MockupCylinderTest, AnOldSceneUpgradesItsBrightnessAndRestoringRebuildsTheMesh) {
    // Before 38 two bits of mockupflags biased the brightness.
    const std::string text = "version = 15\nidsystem = 0\nnum_nodes = 2\nobj1 {\n\tclass = "
                             "\"Node\"\n\tparent = 0\n}\nobj2 {\n\tclass = \"MockupCylinder\"\n"
                             "\tparent = 1\n\tmockupflags = 13\n\trenderflags = 70281\n}\n";
    BufferFile file(text.data(), static_cast<uint32_t>(text.size()));
    SceneLoader loader("old.scene", 0, SceneKeepUnmappedIds, nullptr, nullptr);
    Node* scene = loader.Load(file);
    ASSERT_NE(scene, nullptr);
    auto* c = dynamic_cast<MockupCylinder*>(scene->GetFirstChild());
    ASSERT_NE(c, nullptr);
    EXPECT_FLOAT_EQ(c->GetBrightness(), 1.6f);
    EXPECT_EQ(c->GetMockupFlags(), static_cast<uint32_t>(MockupStretchHull));
    EXPECT_TRUE(c->TestRenderFlags(RenderCastShadows));
    scene->Delete();

    MockupCylinder* fresh = Cylinder(Float3(0, 0, 10), 1.0f, 2.0f);
    fresh->IsRenderable();
    VertexBuffer& hull = *fresh->GetRenderMesh()->GetVertexStream(0);
    EXPECT_NEAR(hull.GetPosition(0).x, 1.0f, 1e-5f);
    hull.Create(1, MockupVertexFormat, 0);
    SendSignal("restorevideomemory", nullptr, true);
    EXPECT_EQ(hull.GetCount(), 66u);
}

} // namespace
} // namespace quarn
