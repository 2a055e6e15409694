#include "collision/mockup/MockupBox.h"

#include "collision/mockup/MockupClasses.h"
#include "collision/mockup/MockupCylinder.h"
#include "core/debug/Log.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/object/MethodInfo.h"
#include "core/object/Signals.h"
#include "core/scene/SelectionSet.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneSaver.h"
#include "device/DrawBufferShare.h"
#include "editor/EditorSelectionSet.h"
#include "render/LightBakeSettings.h"
#include "render/lightmap/AtlasAssembly.h"
#include "render/lightmap/LightEvaluation.h"
#include "render/lightmap/LightMapCommands.h"
#include "resources/TextureAtlas.h"
#include "tests/collision/mockup/MockupTestSupport.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/OpenWays.h"
#include "tests/support/PngFixture.h"
#include "tests/support/ScopedValue.h"
#include "tests/support/TempFolder.h"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <map>

namespace quarn {
namespace {

using test::LinearLight;

// Boxes at depth 10 in front of the camera at the origin: a world unit covers 3.2 pixels
// around the centre (32, 24). "quads.png" is red and green over blue and white.
class MockupBoxTest : public test::RenderScene {
protected:
    void SetUp() override {
        RenderScene::SetUp();
        RegisterMockupClasses();
        files_.SetBaseFolder(temp_.Path().c_str());
        SetFileSystem(&files_);
        temp_.WriteFile("quads.png", test::EncodePng(8, 8, [](uint32_t x, uint32_t y) {
                            return y < 4 ? (x < 4 ? Red : Green) : (x < 4 ? Blue : White);
                        }));
        temp_.WriteFile("white.png", test::EncodePng(4, 4, [](uint32_t, uint32_t) {
                            return White;
                        }));
    }
    void TearDown() override {
        SetLightBakeSettings(nullptr);
        RenderScene::TearDown();
        SetFileSystem(nullptr);
    }
    MockupBox* Box(Float3 position, Float3 size, const char* texture = "quads.png") {
        auto* box = tree_.Make<MockupBox>("box", root_);
        box->ChangeId(TheIdMap().GetFreeLocalId(0));
        box->SetPosition(position);
        box->SetSize(size);
        box->SetTextureName(texture);
        return box;
    }
    static VertexBuffer& Vertices(MockupBox& box) {
        box.IsRenderable();
        return *box.GetRenderMesh()->GetVertexStream(0);
    }
    // The scene's light, one sample at each texel's centre lifted 0.01 off the surface.
    void InstallSceneBake(uint32_t flags, float spacing) {
        bake_.flags = flags;
        bake_.texelSpacing = spacing;
        bake_.offsetDistance = 0.01f;
        bake_.samplePattern = {{0, 0, 0, 0}};
        bake_.sampleEnds[0] = 1;
        bake_.sampler = &sceneLight_;
        SetLightBakeSettings(&bake_);
    }
    // A static light on the axis, a floor at depth 10 and a small occluder at `depth`, both
    // casting shadows.
    OmniLight* ShadowScene(float lightDepth, float depth, MockupBox*& floor, MockupBox*& occluder) {
        auto* light = tree_.Make<OmniLight>("light", root_);
        light->SetPosition(Float3(0, 0, lightDepth));
        light->SetRange(100.0f);
        light->SetBrightness(9.0f);
        floor = Box(Float3(0, 0, 10), Float3(4, 4, 0.2f), nullptr);
        occluder = Box(Float3(0, 0, depth), Float3(1, 1, 0.2f), nullptr);
        for (MockupBox* box : {floor, occluder}) {
            box->SetRenderFlag(RenderCastShadows, true);
        }
        return light;
    }

    test::TempFolder temp_;
    DiskFileSystem files_;
    SceneLightSampler sceneLight_;
    LightBakeSettings bake_;
};

TEST_F(MockupBoxTest, SwitchedOffFacesShowWhatLiesBehind) {
    Square("behind", Float3(0, 0, 20), Green)->half = 20.0f;
    MockupBox* box = Box(Float3(0, 0, 10), Float3(4, 4, 4), "white.png");
    Frame();
    EXPECT_EQ(Pixel(32, 24), White);
    EXPECT_EQ(Pixel(2, 2), Green);
    // Without the faces across the view the box is a frame seen edge-on.
    box->SetFaceFlags(MockupFaceX1 | MockupFaceX2 | MockupFaceY1 | MockupFaceY2);
    Frame();
    EXPECT_EQ(Pixel(32, 24), Green);
    box->SetFaceFlags(0);
    EXPECT_FALSE(box->IsVisible());
}

TEST_F(MockupBoxTest, StretchShowsTheImageOnceAndTilingRepeatsItWithWrapping) {
    MockupBox* box = Box(Float3(0, 0, 10), Float3(8, 8, 1));
    // The front face (-Z) spans pixels 19.2 .. 44.8 across and 11.2 .. 36.8 down.
    const auto quarters = [&] {
        return std::vector<uint32_t>{Pixel(22, 14), Pixel(28, 14), Pixel(36, 14), Pixel(42, 14)};
    };
    Frame();
    EXPECT_EQ(quarters(), (std::vector<uint32_t>{Red, Red, Green, Green}));
    EXPECT_EQ(Vertices(*box).TestFlags(VertexClampU0 | VertexClampV0),
              VertexClampU0 | VertexClampV0);
    for (int32_t mode : {MockupTile, MockupCentre}) {
        box->SetTextureMode(mode);
        box->SetTileSize(4.0f);
        Frame();
        EXPECT_EQ(quarters(), (std::vector<uint32_t>{Red, Green, Red, Green})) << mode;
        EXPECT_EQ(Vertices(*box).TestFlags(VertexClampU0 | VertexClampV0), 0u);
    }
}

TEST_F(MockupBoxTest, TheStartFillModulatesTheTextureByTheBrightnessAboveOne) {
    MockupBox* box = Box(Float3(0, 0, 10), Float3(4, 4, 4), "white.png");
    box->SetBrightness(1.5f);
    box->CreateLightMap();
    ASSERT_NE(box->GetLightMap(), nullptr);
    EXPECT_EQ(box->GetLightMap()->GetFormat(), PixelFormat::A16B16G16R16F);
    Frame();
    const uint32_t centre = Pixel(32, 24);
    EXPECT_NEAR(static_cast<int>(centre & 0xFF), 0x80, 2) << std::hex << centre;
}

TEST_F(MockupBoxTest, AFaceFilteredPickPassesThroughASwitchedOffFace) {
    MockupBox* front = Box(Float3(0, 0, 10), Float3(2, 2, 2));
    MockupBox* back = Box(Float3(0, 0, 20), Float3(2, 2, 2));
    front->SetFaceFlags(MockupFacesAll & ~MockupFaceZ1);
    const struct {
        uint32_t flags;
        Node* hit;
    } cases[] = {{PickDefaultFlags, front}, {PickDefaultFlags | PickFaceMasks, back}};
    for (const auto& c : cases) {
        PickQuery pick;
        pick.Init(PickQuery::DefaultMaxDistance, c.flags, 0, 0);
        ASSERT_TRUE(pick.PickNode(root_, Float3(0, 0, 0), Float3(0, 0, 1))) << c.flags;
        EXPECT_EQ(pick.best.node, c.hit) << c.flags;
    }
}

TEST_F(MockupBoxTest, LayoutFlagsAndSettersFollowTheirRules) {
    MockupBox* box = Box(Float3(0, 0, 10), Float3(1, 1, 1));
    EXPECT_EQ(box->GetLightMapSize(), Int2(12, 2));
    EXPECT_EQ(box->GetTexelSpacing(), 1.0f);
    // x and y faces in a row, then the z faces beside them: their 2 + 2 rows would not fit 2.
    Vertices(*box);
    for (int f = 0; f < 6; ++f) {
        const MockupBox::FaceRect r = box->GetFaceRect(f);
        EXPECT_EQ(std::vector<int32_t>({r.x, r.y, r.w, r.h}),
                  std::vector<int32_t>({2 * f, 0, 2, 2}))
            << f;
    }
    const struct {
        uint32_t flags;
        float spacing;
    } quads[] = {{MockupQuadX2 | MockupQuadX05, 1.0f},
                 {MockupQuadX2 | MockupQuadX4, 8.0f},
                 {MockupQuadX8, 8.0f},
                 {MockupQuadX05, 0.5f}};
    for (const auto& q : quads) {
        box->SetMapFlags(q.flags);
        EXPECT_EQ(box->GetTexelSpacing(), q.spacing) << q.flags;
    }
    box->SetMapFlags(0);
    for (float tile : {0.0f, 0.005f, std::numeric_limits<float>::quiet_NaN(), -3.0f}) {
        box->SetTileSize(tile);
        EXPECT_EQ(box->GetTileSize(), 0.01f) << tile;
    }
    box->SetFaceFlags(0x05);
    EXPECT_EQ(box->GetFaceFlags(), 0x05u);
    EXPECT_EQ(box->GetFaceFlagsWord(), 0x20005u);
    EXPECT_EQ(Vertices(*box).GetCount(), 8u);
    // Upper bits from a script never reach the count, which sizes the mesh.
    box->SetFaceFlags(0xFFFF0005u);
    EXPECT_EQ(box->GetFaceFlagsWord(), 0x20005u);
    box->SetFaceFlags(0);
    EXPECT_FALSE(box->IsVisible());
    EXPECT_EQ(box->GetLightMapSize(), Int2(0, 0));
    EXPECT_EQ(Vertices(*box).GetCount(), 0u);
    EXPECT_EQ(box->GetRenderMesh()->GetIndexData()->GetIndexCount(), 0u);
    box->CreateLightMap();
    box->UpdateLightMap();
    // A NaN opacity is not zero.
    box->SetFaceFlags(MockupFacesAll);
    box->SetOpacity(std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(box->IsVisible());
}

TEST_F(MockupBoxTest, TexelCountsBeyondTheDeviceCreateNoLightmapAndSayWhich) {
    test::CapturingLogSink log;
    MockupBox* box = Box(Float3(0, 0, 10), Float3(1, 1, 1));
    box->SetName("wall");
    const struct {
        Float3 size;
        Int2 asked;
    } cases[] = {{{5000, 1, 1}, {8, 5003}},
                 {{std::numeric_limits<float>::infinity(), 1, 1}, {0, 0}},
                 {{3e9f, 1, 1}, {0, 0}}};
    for (const auto& c : cases) {
        box->SetSize(c.size);
        EXPECT_EQ(box->GetLightMapSize(), c.asked);
        log.Clear();
        box->CreateLightMap();
        EXPECT_EQ(box->GetLightMap(), nullptr);
        EXPECT_TRUE(log.Contains("wall"));
    }
    // Bake settings with no spacing lay out nothing rather than dividing by it.
    LightBakeSettings settings;
    settings.texelSpacing = 0.0f;
    SetLightBakeSettings(&settings);
    box->SetSize(Float3(1, 1, 1));
    EXPECT_EQ(box->GetLightMapSize(), Int2(0, 0));
    box->CreateLightMap();
    EXPECT_EQ(box->GetLightMap(), nullptr);
}

// The lightmap commands ask for no more lightmap bytes than their bound together: past it they
// make none and name the spacing that fits, at which they then make them all. Each box's map is
// counted in the scene's draw buffers, and one past them is not made.
TEST_F(MockupBoxTest, ABakePastTheBoundMakesNoLightmapAndNamesTheSpacingThatFits) {
    test::CapturingLogSink log;
    const uint64_t before = DrawBufferShare::SceneBytes();
    const uint64_t bound = 40000;
    const test::ScopedValue<uint64_t> limit(DrawBufferShare::SceneByteLimit, before + bound);
    std::vector<MockupBox*> boxes;
    for (int i = 0; i < 20; ++i) {
        boxes.push_back(Box(Float3(3.0f * float(i), 0, 10), Float3(2, 1, 2), nullptr));
    }
    LightBakeSettings settings;
    settings.texelSpacing = 0.05f;
    SetLightBakeSettings(&settings);
    EditorSelectionSet selection;
    selection.Add(root_);
    SetSelectionSet(&selection);
    EXPECT_EQ(CreateLightMaps(), LightMapsRefused);
    EXPECT_EQ(LightMapByteBound(), before + bound);
    ASSERT_EQ(log.Lines().size(), 1u);
    const std::string& line = log.Lines()[0].text;
    EXPECT_EQ(
        line.rfind("No lightmap was made: at spacing 0.05 those of the 20 nodes would take ", 0),
        0u)
        << line;
    const size_t at = line.find("; spacing ");
    ASSERT_NE(at, std::string::npos) << line;
    settings.texelSpacing = std::stof(line.substr(at + 10));
    EXPECT_GT(settings.texelSpacing, 0.05f);
    EXPECT_EQ(CreateLightMaps(), 20);
    for (MockupBox* box : boxes) {
        EXPECT_NE(box->GetLightMap(), nullptr);
    }
    EXPECT_LE(DrawBufferShare::SceneBytes(), before + bound);
    SetSelectionSet(nullptr);

    // A larger map past the scene's draw buffers is not made; the box keeps the one it had.
    log.Clear();
    const uint64_t held = DrawBufferShare::SceneBytes();
    const test::ScopedValue<uint64_t> full(DrawBufferShare::SceneByteLimit, held);
    Texture* map = boxes[0]->GetLightMap();
    boxes[0]->SetSize(Float3(4, 1, 2));
    boxes[0]->CreateLightMap();
    EXPECT_EQ(boxes[0]->GetLightMap(), map);
    EXPECT_EQ(DrawBufferShare::SceneBytes(), held);
    EXPECT_TRUE(log.Contains("MockupBox 'box' (id " + std::to_string(boxes[0]->GetId()) +
                             ") makes no lightmap"))
        << log.Lines().size();
    SetLightBakeSettings(nullptr);
}

TEST_F(MockupBoxTest, ColourQueriesReadTheFilledLightmapWhereTheFillPutIt) {
    LinearLight light;
    LightBakeSettings settings;
    settings.texelSpacing = 0.25f;
    settings.sampler = &light;
    SetLightBakeSettings(&settings);
    MockupBox* box = Box(Float3(1, 2, 10), Float3(2, 3, 4), nullptr);
    box->CreateLightMap();
    box->UpdateLightMap();
    const Float3 points[] = {{-1, 0.3f, 0.7f}, {1, -0.4f, 1.2f},  {0.5f, -1.5f, -1.1f},
                             {-0.2f, 1.5f, 1.6f}, {0.6f, 0.9f, -2}, {-0.7f, -1.1f, 2}};
    for (const Float3& local : points) {
        const Float3 world = box->LocalToWorld(local);
        const Float4 expected = LinearLight::At(world);
        const Float4 got = box->GetColorRgba(world, 0xFFFFFFFFu);
        EXPECT_NEAR(got.x, expected.x, 0.01f) << local.x << " " << local.y << " " << local.z;
        EXPECT_NEAR(got.y, expected.y, 0.01f) << local.x << " " << local.y << " " << local.z;
        EXPECT_NEAR(got.z, expected.z, 0.01f) << local.x << " " << local.y << " " << local.z;
        const uint32_t packed = box->GetColorArgb(world, 0xFFFFFFFFu);
        EXPECT_NEAR(static_cast<float>((packed >> 16) & 0xFF) / 255.0f, expected.x, 0.02f);
    }
    // A query during the box's own write lock reads and leaves the lock standing.
    DeviceTexture* map = box->GetLightMap()->GetDeviceTexture();
    map->Lock(TextureLockWrite, 0);
    box->GetColorRgba(box->LocalToWorld(points[0]), 0xFFFFFFFFu);
    EXPECT_EQ(map->GetLockMode(), TextureLockWrite);
    map->Lock(TextureUnlocked, 0);
    // The mapping follows a new size.
    box->SetSize(Float3(3, 3, 3));
    box->CreateLightMap();
    box->UpdateLightMap();
    const Float3 world = box->LocalToWorld(Float3(1.5f, 0.2f, -0.9f));
    EXPECT_NEAR(box->GetColorRgba(world, 1).x, LinearLight::At(world).x, 0.01f);
}

TEST_F(MockupBoxTest, TheSceneLightBakesAnOccludersShadowIntoTheFloor) {
    InstallSceneBake(LightBakeDirect | LightBakeShadows | LightBakeNoSelfShadow, 0.25f);
    MockupBox *floor, *occluder;
    OmniLight* light = ShadowScene(13.0f, 11.5f, floor, occluder);
    for (MockupBox* box : {floor, occluder}) {
        box->CreateLightMap();
    }
    floor->UpdateLightMap();
    const Float3 top(0, 0, 10.1f);
    EXPECT_NEAR(floor->GetColorRgba(top, 0xFFFFFFFFu).x, 0.0f, 0.02f); // in the shadow
    const Float3 corner(1.8f, 1.8f, 10.1f);
    const Float3 toLight = light->GetWorldPosition() - corner;
    const float lit = 9.0f / (toLight.Dot(toLight) + 0.1f) * (toLight.z / toLight.Length());
    EXPECT_NEAR(floor->GetColorRgba(corner, 0xFFFFFFFFu).x, lit, 0.05f);
}

TEST_F(MockupBoxTest, TheLightmapCommandsBakeSaveAndPackAWholeSceneThatThenShowsItsShadow) {
    // At the spacing the boxes map lightmaps with when no bake runs.
    InstallSceneBake(LightBakeDirect | LightBakeShadows, 1.0f);
    // The floor's face towards the camera is lit, but for the occluder's shadow.
    MockupBox *floor, *occluder;
    OmniLight* light = ShadowScene(7.0f, 8.5f, floor, occluder);
    EditorSelectionSet selection;
    selection.Add(root_);
    SetSelectionSet(&selection);
    EXPECT_EQ(CreateLightMaps(), 2);
    EXPECT_EQ(UpdateLightMaps(), 2);
    EXPECT_EQ(SaveLightMaps(), 2);
    LoadTextureAtlasList("atlases.txt");
    Int2 size;
    EXPECT_EQ(AssembleLightMapAtlas("maps/atlas.bmp", "lightmap", &size), 2);
    EXPECT_EQ(size, Int2(14, 9));
    SetSelectionSet(nullptr);
    SetLightBakeSettings(nullptr);
    ClearTextureAtlases();

    // Loaded again, from the atlas, by boxes that apply their maps.
    LoadTextureAtlasList("atlases.txt");
    ASSERT_EQ(GetTextureAtlasEntryCount(), 2);
    for (MockupBox* box : {floor, occluder}) {
        box->SetMapFlags(0);
        box->SetMapFlags(MockupApplyMap);
        ASSERT_NE(box->GetLightMap(), nullptr);
    }
    EXPECT_EQ(occluder->GetLightMap()->GetTop(), 7) << "its place in the atlas";
    EXPECT_NEAR(floor->GetColorRgba(Float3(0.7f, 0, 9.9f), 0xFFFFFFFFu).x, 0.0f, 0.05f);
    const Float3 rim(1.8f, 1.8f, 9.9f);
    const Float3 toLight = light->GetWorldPosition() - rim;
    const float lit = 9.0f / (toLight.Dot(toLight) + 0.1f) * (-toLight.z / toLight.Length());
    EXPECT_NEAR(floor->GetColorRgba(rim, 0xFFFFFFFFu).x, lit, 0.1f);
    Frame();
    EXPECT_EQ(Pixel(32, 24), White) << "the occluder's lit face";
    EXPECT_LT(Pixel(35, 24) & 0xFF, 0x20u) << "the shadow";
    EXPECT_GT(Pixel(27, 19) & 0xFF, 0x40u) << "the floor's rim";
    ClearTextureAtlases();
}

TEST_F(MockupBoxTest, SavedLightmapsComeBackThroughApplymap) {
    MockupBox* box = Box(Float3(0, 0, 10), Float3(1, 1, 1), nullptr);
    box->SetBrightness(1.5f);
    box->CreateLightMap();
    box->SaveLightMap();
    EXPECT_TRUE(box->GetMapFlags() & MockupApplyMap);
    const std::string file = "pelgrath/maps/scene/" + std::to_string(box->GetId()) + ".bmp";
    ASSERT_TRUE(std::filesystem::exists(temp_.Path() + "/" + file)) << file;

    MockupBox* fresh = Box(Float3(0, 0, 10), Float3(1, 1, 1), nullptr);
    std::filesystem::copy_file(temp_.Path() + "/" + file,
                               temp_.Path() + "/pelgrath/maps/scene/" +
                                   std::to_string(fresh->GetId()) + ".bmp");
    fresh->SetMapFlags(MockupApplyMap);
    ASSERT_NE(fresh->GetLightMap(), nullptr);
    EXPECT_EQ(fresh->GetLightMap()->GetWidth(), 12);
    // The 0.5 grey of the start fill survives the 24-bit file.
    EXPECT_NEAR(fresh->GetColorRgba(fresh->LocalToWorld(Float3(0, 0, -0.5f)), 4).x, 0.5f,
                0.01f);
    fresh->SetMapFlags(0);
    EXPECT_EQ(fresh->GetLightMap(), nullptr);

    MockupBox* missing = Box(Float3(0, 0, 10), Float3(1, 1, 1), nullptr);
    missing->SetMapFlags(MockupApplyMap);
    EXPECT_EQ(missing->GetLightMap(), nullptr);
    EXPECT_EQ(missing->GetMapFlags(), static_cast<uint32_t>(MockupApplyMap));
}

class MockupBoxFilesTest : public test::WithOpenWays<MockupBoxTest> {};
QUARN_BOTH_OPEN_WAYS(MockupBoxFilesTest);

// Called by a script, by either name, the save writes only where the maps folder stays inside
// the game: a link there may lead out.
TEST_P(MockupBoxFilesTest, AScriptSavesALightmapOnlyInsideTheGame) {
    namespace fs = std::filesystem;
    test::TempFolder outside;
    test::CapturingLogSink log;
    MockupBox* box = Box(Float3(0, 0, 10), Float3(1, 1, 1), nullptr);
    box->CreateLightMap();
    const std::string file = "pelgrath/maps/scene/" + std::to_string(box->GetId()) + ".bmp";
    const MethodInfo* const saves[] = {box->GetClass()->GetOwnMethods()[3].get(),
                                       box->FindMethod("SaveLightMap")};
    for (bool linked : {false, true}) {
        for (const MethodInfo* save : saves) {
            fs::remove_all(temp_.Join("pelgrath"));
            if (linked) {
                fs::create_directory_symlink(outside.Path(), temp_.Join("pelgrath"));
            }
            log.Clear();
            SetScriptRunning(true);
            save->CallSignal(box, nullptr);
            SetScriptRunning(false);
            EXPECT_EQ(fs::exists(temp_.Join(file)), !linked);
            EXPECT_EQ(log.Contains("MockupBox.SaveLightMap refused \"" + file + "\""), linked);
        }
    }
}

TEST_F(MockupBoxTest, TheLightmapSignalsReachEveryBoxAndFixedNamesFindTheMethods) {
    LinearLight light;
    LightBakeSettings settings;
    settings.sampler = &light;
    SetLightBakeSettings(&settings);
    MockupBox* boxes[] = {Box(Float3(0, 0, 10), Float3(1, 1, 1)),
                          Box(Float3(3, 0, 10), Float3(1, 1, 1))};
    for (MockupBox* box : boxes) {
        ASSERT_NE(box->FindMethod("CreateLightMap"), nullptr);
        CallEntityMethod(box, "CreateLightMap", nullptr);
    }
    SendSignal("UpdateLightMap", nullptr, true);
    SendSignal("SaveLightMap", nullptr, true);
    for (MockupBox* box : boxes) {
        EXPECT_EQ(light.samples[box], 24);
        EXPECT_TRUE(box->GetMapFlags() & MockupApplyMap);
    }
}

TEST_F(MockupBoxTest, AnOldSceneUpgradesTileSizeBrightnessAndShadows) {
    // Before 38 bits 6-8 of faceflags biased the brightness; the base's version-40 upgrade of
    // the shadow flag does not apply to boxes. Version 5 tiled at half the size, but files that
    // old are no longer read.
    const std::string text = "version = 15\nidsystem = 0\nnum_nodes = 2\nobj1 {\n\tclass = "
                             "\"Node\"\n\tparent = 0\n}\nobj2 {\n\tclass = \"MockupBox\"\n"
                             "\tparent = 1\n\ttilesize = 1.5\n\tfaceflags = 383\n"
                             "\trenderflags = 70281\n}\n";
    BufferFile file(text.data(), static_cast<uint32_t>(text.size()));
    SceneLoader loader("old.scene", 0, SceneKeepUnmappedIds, nullptr, nullptr);
    Node* scene = loader.Load(file);
    ASSERT_NE(scene, nullptr);
    auto* box = dynamic_cast<MockupBox*>(scene->GetFirstChild());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->GetTileSize(), 1.5f);
    EXPECT_FLOAT_EQ(box->GetBrightness(), 0.4f);
    EXPECT_EQ(box->GetFaceFlagsWord(), 0x6003Fu);
    EXPECT_TRUE(box->TestRenderFlags(RenderCastShadows));
    box->UpgradeVersion(5);
    EXPECT_EQ(box->GetTileSize(), 3.0f);
    scene->Delete();
}

TEST_F(MockupBoxTest, NewMockupsTestDepthWhileSavedRenderflagsAreKept) {
    // The square behind is drawn after the box, in a later pass.
    Box(Float3(0, 0, 10), Float3(4, 4, 4), "white.png");
    Square("behind", Float3(0, 0, 20), Green, nullptr, RenderNonSolid)->half = 20.0f;
    Frame();
    EXPECT_EQ(Pixel(32, 24), White);
    EXPECT_EQ(Pixel(2, 2), Green);

    // A file written before keeps its flags; new mockups keep ztest through a save.
    const auto node = [](int id, const char* className, const char* lines) {
        return "obj" + std::to_string(id) + " {\n\tclass = \"" + className + "\"\n\tparent = 1\n" +
               lines + "}\n";
    };
    const std::string old = "version = 44\nnum_nodes = 3\nobj1 {\n\tclass = \"Node\"\n}\n" +
                            node(2, "MockupBox", "\trenderflags = 66185\n") +
                            node(3, "MockupCylinder", "\tprev = 2\n\trenderflags = 66185\n");
    temp_.WriteFile("old.scene", old);
    Node* scene = LoadSceneFile("old.scene", 0, SceneKeepUnmappedIds, nullptr, nullptr, nullptr);
    ASSERT_NE(scene, nullptr);
    ASSERT_EQ(scene->GetChildCount(), 2);
    for (Node* mockup = scene->GetFirstChild(); mockup; mockup = mockup->GetNext()) {
        EXPECT_EQ(static_cast<RenderObject*>(mockup)->GetRenderFlags(), 0x10289u);
    }
    scene->Delete();
    scene = tree_.Make<Node>("fresh");
    for (Node* node : {scene, static_cast<Node*>(tree_.Make<MockupBox>("box", scene)),
                       static_cast<Node*>(tree_.Make<MockupCylinder>("cylinder", scene))}) {
        node->ChangeId(TheIdMap().GetFreeLocalId(0));
    }
    ASSERT_TRUE(SaveSceneFile("new.scene", *scene, 0, SceneWriteRoot));
    scene->Delete();
    scene = LoadSceneFile("new.scene", 0, SceneKeepUnmappedIds, nullptr, nullptr, nullptr);
    ASSERT_NE(scene, nullptr);
    ASSERT_EQ(scene->GetChildCount(), 2);
    for (Node* mockup = scene->GetFirstChild(); mockup; mockup = mockup->GetNext()) {
        EXPECT_EQ(static_cast<RenderObject*>(mockup)->GetRenderFlags(), 0x10A89u);
    }
    scene->Delete();
}

TEST_F(MockupBoxTest, RestoringVideoMemoryRebuildsTheMesh) {
    MockupBox* box = Box(Float3(0, 0, 10), Float3(1, 1, 1));
    EXPECT_EQ(Vertices(*box).GetCount(), 24u);
    box->SetFaceFlags(MockupFaceZ1);
    SendSignal("restorevideomemory", nullptr, true);
    EXPECT_EQ(box->GetRenderMesh()->GetVertexStream(0)->GetCount(), 4u);
}

} // namespace
} // namespace quarn
