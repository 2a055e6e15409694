#include "render/Model.h"

#include "core/filesystem/DiskFileSystem.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/math/Color.h"
#include "core/object/MethodInfo.h"
#include "core/object/Signals.h"
#include "core/object/ValueBinding.h"
#include "device/DrawBufferShare.h"
#include "render/AnnotationSink.h"
#include "render/LightBakeSettings.h"
#include "render/lightmap/LightEvaluation.h"
#include "resources/Mesh.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/MathExpectations.h"
#include "tests/support/OpenWays.h"
#include "tests/support/PngFixture.h"
#include "tests/support/ScopedValue.h"
#include "tests/support/TempFolder.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace quarn {
namespace {

// geometry, zwrite, ztest and clickable: unlit, so colours come out as they are.
constexpr const char* Unlit = "\trenderflags = 67593\n";

// A square of the mesh, in the plane z = 0 facing -z (the camera), around (x, y).
struct Square {
    float x = 0.0f;
    float y = 0.0f;
    float half = 4.0f;
    uint32_t flags = 0;
};

// ".mesh" text of the squares, uvs over the whole texture, with the mesh's own colour for
// every vertex when `color` is not 0.
std::string SquaresMesh(const std::vector<Square>& squares, uint32_t color = 0) {
    const size_t n = squares.size();
    std::string points, normals, uvs, colors, triangles, flags;
    const float corner[4][2] = {{-1, -1}, {-1, 1}, {1, 1}, {1, -1}};
    const char* uv[4] = {"0 1", "0 0", "1 0", "1 1"};
    char line[256];
    for (size_t q = 0; q < n; ++q) {
        const Square& s = squares[q];
        for (int k = 0; k < 4; ++k) {
            std::snprintf(line, sizeof line, "\t%f %f 0\n", double(s.x + corner[k][0] * s.half),
                          double(s.y + corner[k][1] * s.half));
            points += line;
            normals += "\t0 0 -1\n";
            std::snprintf(line, sizeof line, "\t%s\n", uv[k]);
            uvs += line;
            std::snprintf(line, sizeof line, "%d\n", static_cast<int32_t>(color));
            colors += line;
        }
        const size_t v = 4 * q;
        for (size_t t : {v + 1, v + 2}) {
            std::snprintf(line, sizeof line, "\t%zu %zu %zu\n", v, t + 1, t);
            triangles += line;
            std::snprintf(line, sizeof line, "\t%u\n", s.flags);
            flags += line;
        }
    }
    std::string text;
    const auto section = [&](const char* name, size_t count, const std::string& lines) {
        std::snprintf(line, sizeof line, "%s=%zu\n", name, count);
        text += line;
        text += lines;
    };
    std::snprintf(line, sizeof line,
                  "vertexcount=%zu\nindexcount=%zu\nvertexformat=(point,normal,uv%s)\n"
                  "indexformat=trianglelist,triangleflags\n",
                  4 * n, 6 * n, color ? ",color" : "");
    text += line;
    section("points", 4 * n, points);
    section("normals", 4 * n, normals);
    section("uvs", 4 * n, uvs);
    if (color) {
        section("colors", 4 * n, colors);
    }
    section("triangles", 2 * n, triangles);
    section("flags", 2 * n, flags);
    return text;
}

std::string ColourFile(const std::vector<uint32_t>& colors) {
    char line[32];
    std::snprintf(line, sizeof line, "vertexcount = %zu\n", colors.size());
    std::string text = line;
    for (uint32_t c : colors) {
        std::snprintf(line, sizeof line, "\t%X\n", c);
        text += line;
    }
    return text;
}

class PropertyChangeWatcher : public test::TestClass<PropertyChangeWatcher> {
public:
    static constexpr const char* Name = "PropertyChangeWatcher";
    static void Declare(ClassInfo& classInfo) {
        classInfo.AddMethod("propertychange", "()",
                            BindSignalHandler<&PropertyChangeWatcher::Heard>(), 0);
    }
    void Heard(void*) { ++heard; }
    int heard = 0;
};

// Models of scene files drawn over a grey frame through a camera at the origin looking along
// +z; a model at depth 10 maps a world unit to 3.2 pixels around the centre (32, 24). Files lie
// in the base folder: "quads.png" (red and green over blue and a transparent quarter).
class ModelTest : public test::RenderSceneFile {
protected:
    void SetUp() override {
        RenderSceneFile::SetUp();
        Mesh::RegisterClass();
        Model::RegisterClass();
        files_.SetBaseFolder(temp_.Path().c_str());
        SetFileSystem(&files_);
        temp_.WriteFile("quads.png", test::EncodePng(8, 8, [](uint32_t x, uint32_t y) {
                            return y < 4 ? (x < 4 ? Red : Green) : (x < 4 ? Blue : 0u);
                        }));
        temp_.WriteFile("square.mesh", SquaresMesh({{}}));
    }
    void TearDown() override {
        RenderSceneFile::TearDown();
        SetFileSystem(nullptr);
    }

    // A root (1), a camera (2), a render target (3) and the model (4) at depth 10.
    Model* LoadModel(const std::string& lines, int version = 44) {
        if (root_) {
            root_->Delete();
            root_ = nullptr;
        }
        const std::string text =
            "version = " + std::to_string(version) + "\nidsystem = 0\nnum_nodes = 4\n" +
            Object("1", "Node", "\tparent = 0\n") + Object("2", "Camera", "\tparent = 1\n") +
            Object("3", "RenderTarget",
                   "\tparent = 1\n\tcurrentcamera = 2\n\tbackgroundcolor = FF808080\n"
                   "\trt_flags = 180\n") +
            Object("4", "Model", "\tparent = 1\n\tpos = 0.0,0.0,10.0\n" + lines);
        EXPECT_TRUE(Load(text));
        return dynamic_cast<Model*>(LookupEntity(4));
    }
    std::set<int> WhiteColumns(int y) {
        std::set<int> columns;
        for (int x = 0; x < Width; ++x) {
            if (Pixel(x, y) == White) {
                columns.insert(x);
            }
        }
        return columns;
    }
    uint32_t PickedPart(float x, float y) {
        PickQuery pick;
        return pick.PickFromScreen(x, y) ? static_cast<uint32_t>(pick.best.part) : 0xFFFFFFFFu;
    }

    test::TempFolder temp_;
    DiskFileSystem files_;
};

TEST_F(ModelTest, ATexturedModelDrawsItsMeshThroughTheCameraAndWithoutAMeshNothing) {
    Model* model =
        LoadModel("\tmesh = \"square.mesh\"\n\ttexture = \"quads.png\"\n" + std::string(Unlit));
    Frame();
    EXPECT_EQ(std::vector<uint32_t>(
                  {Pixel(24, 16), Pixel(40, 16), Pixel(24, 32), Pixel(40, 32), Pixel(10, 24)}),
              std::vector<uint32_t>({Red, Green, Blue, Grey, Grey}));
    EXPECT_EQ(model->GetDescription().Text(), std::string("square.mesh"));

    // An empty name lets the mesh go without a signal; the next state update marks the device
    // mesh as no longer in use.
    PropertyChangeWatcher::RegisterClass();
    PropertyChangeWatcher watcher;
    AddSignalListener("propertychange", &watcher);
    model->SetMesh("");
    EXPECT_EQ(watcher.heard, 0);
    model->UpdateRenderState();
    EXPECT_EQ(model->GetRenderMesh()->TestOptions(MeshOwnerBit), 0u);
    Frame();
    EXPECT_EQ(Pixel(24, 16), Grey);
    model->SetTextureName("");
    EXPECT_EQ(watcher.heard, 0) << "a new texture sends nothing";
    model->SetMesh("square.mesh");
    EXPECT_EQ(watcher.heard, 1);
    RemoveSignalListener("propertychange", &watcher);
}

TEST_F(ModelTest, SubmeshFlagsHideSubmeshesFromDrawingAndPickingByBitModulo32) {
    temp_.WriteFile("parts.mesh", SquaresMesh({{-6, 0, 2, 0}, {0, 0, 2, 1}, {6, 0, 2, 32}}));
    Model* model = LoadModel("\tmesh = \"parts.mesh\"\n\tsubmeshflags = 1\n" + std::string(Unlit));
    Frame();
    EXPECT_EQ(Pixel(13, 24), White);
    EXPECT_EQ(Pixel(32, 24), Grey);
    const struct {
        uint32_t flags;
        std::vector<bool> hits; // left (0), middle (1), right (32)
    } cases[] = {{0xFFFFFFFF, {true, true, true}},
                 {1, {true, false, true}},
                 {2, {false, true, false}},
                 {0, {false, false, false}}};
    for (const auto& c : cases) {
        model->SetSubmeshFlags(c.flags);
        std::vector<bool> hits;
        for (float x : {13.0f, 32.0f, 51.0f}) {
            hits.push_back(PickedPart(x, 24.0f) != 0xFFFFFFFFu);
        }
        EXPECT_EQ(hits, c.hits) << c.flags;
    }
}

TEST_F(ModelTest, VertexColoursOnStreamOneReplaceTheMeshColoursAndAFailedLoadIsLogged) {
    const std::string path = "pelgrath/maps/scene/4.dat";
    temp_.WriteFile("coloured.mesh", SquaresMesh({{}}, Red));
    temp_.WriteFile(path, ColourFile({Blue, Blue, Blue, Blue}));
    Model* model = LoadModel("\tmesh = \"coloured.mesh\"\n" + std::string(Unlit));
    Frame();
    EXPECT_EQ(Pixel(32, 24), Red);
    model->SetVertexColorMode(1);
    Frame();
    EXPECT_EQ(Pixel(32, 24), Blue);

    // The same value again reads nothing; another value reads the file anew.
    temp_.WriteFile(path, ColourFile({Green, Green, Green, Green}));
    model->SetVertexColorMode(1);
    Frame();
    EXPECT_EQ(Pixel(32, 24), Blue);
    model->SetVertexColorMode(2);
    Frame();
    EXPECT_EQ(Pixel(32, 24), Green);

    // A file of another vertex count, or none, leaves no colours; vcc keeps its value.
    for (const char* content : {"three", ""}) {
        if (*content) {
            temp_.WriteFile(path, ColourFile({Blue, Blue, Blue}));
        } else {
            std::remove(temp_.Join(path).c_str());
        }
        model->SetVertexColorMode(0);
        test::CapturingLogSink log;
        model->SetVertexColorMode(1);
        ASSERT_EQ(log.Lines().size(), 1u);
        EXPECT_EQ(log.Lines()[0].channel, "resource");
        EXPECT_EQ(log.Lines()[0].text,
                  "0.4: Missing vertex color file or wrong number of vertices: " + path);
        EXPECT_EQ(model->GetVertexColorData(), nullptr);
        EXPECT_EQ(model->GetVertexColorMode(), 1);
        Frame();
        EXPECT_EQ(Pixel(32, 24), Red);
    }
}

// A model's vertex colours are counted in the scene's draw buffers: with no room left it reads
// none and draws its mesh's colours, and one line names it.
TEST_F(ModelTest, VertexColoursPastTheScenesDrawBuffersAreNotRead) {
    temp_.WriteFile("coloured.mesh", SquaresMesh({{}}, Red));
    temp_.WriteFile("pelgrath/maps/scene/4.dat", ColourFile({Blue, Blue, Blue, Blue}));
    Model* model = LoadModel("\tmesh = \"coloured.mesh\"\n" + std::string(Unlit));
    test::CapturingLogSink log;
    const test::ScopedValue<uint64_t> full(DrawBufferShare::SceneByteLimit,
                                           DrawBufferShare::SceneBytes());
    model->SetVertexColorMode(1);
    Frame();
    EXPECT_EQ(model->GetVertexColorData(), nullptr);
    EXPECT_EQ(Pixel(32, 24), Red);
    model->CreateVertexColors();
    EXPECT_EQ(model->GetVertexColorData(), nullptr);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].text.rfind("Model '' (id 4) has no vertex colours: its 16 bytes", 0),
              0u)
        << log.Lines()[0].text;
}

TEST_F(ModelTest, TheWireframePassDrawsTheEdgesInWhiteAndFollowsTheModel) {
    // wireframe, zwrite, ztest and clickable: no filled geometry.
    Model* model = LoadModel("\tmesh = \"square.mesh\"\n\tcolor = FF0000\n"
                             "\trenderflags = 67594\n");
    Frame();
    // The diagonal crosses the centre; the left edge lies at 32 - 12.8.
    EXPECT_TRUE(WhiteColumns(24).count(32));
    EXPECT_TRUE(WhiteColumns(24).count(19) || WhiteColumns(24).count(20));
    EXPECT_EQ(Pixel(26, 24), Grey);
    model->SetPosition(Float3(2.0f, 0.0f, 10.0f));
    Frame();
    EXPECT_FALSE(WhiteColumns(24).count(32));
    EXPECT_TRUE(WhiteColumns(24).count(38));
}

TEST_F(ModelTest, RaysFromInsideMeetingABackFaceAnswerDistanceZeroUnlessDoubleSided) {
    // Twice the size: the square spans +-8 at depth 10, its bounding sphere a radius of 11.3.
    // The rays pass (-2, 2), inside triangle 0.
    Model* model = LoadModel("\tmesh = \"square.mesh\"\n\tscale = 2.0\n");
    test::ExpectNear(model->GetWorldBoundingBox().min, {-8, -8, 10});
    test::ExpectNear(model->GetWorldBoundingBox().max, {8, 8, 10});
    const uint32_t back = Mesh::BackSideHit;
    const struct {
        float originZ, directionZ;
        bool doubleSided, hit;
        float distance;
        uint32_t part;
    } cases[] = {
        {0, 1, false, true, 10.0f, 0},                            // the front, in world units
        {12, -1, false, true, 0.0f, back | Model::InsideBackHit}, // the back, inside the sphere
        {30, -1, false, true, 20.0f, back},                       // the back, from outside it
        {12, -1, true, true, 2.0f, back},
    };
    for (const auto& c : cases) {
        model->SetRenderFlag(RenderDoubleSided, c.doubleSided);
        PickQuery query;
        query.Init(PickQuery::DefaultMaxDistance, PickSolids, 0, 0);
        ASSERT_EQ(model->IntersectRay({-2, 2, c.originZ}, {0, 0, c.directionZ}, query), c.hit);
        EXPECT_NEAR(query.current.distance, c.distance, 1e-4f) << c.originZ;
        EXPECT_EQ(static_cast<uint32_t>(query.current.part), c.part) << c.originZ;
        test::ExpectNear(query.current.data, {0, 0, -1});
    }
    PickQuery query;
    query.Init(PickQuery::DefaultMaxDistance, PickScreenObjects, 0, 0);
    EXPECT_FALSE(model->IntersectRay({-2, 2, 0}, {0, 0, 1}, query)) << "3D objects not asked";
    query.Init(PickQuery::DefaultMaxDistance, PickSolids, 0, 0);
    EXPECT_FALSE(model->IntersectRay({20, 0, 0}, {0, 0, 1}, query)) << "beside the sphere";
    // Turned about y, the face met faces away from the camera: its world normal says so.
    model->SetOrientation(Quaternion::FromAxisAngle(3.14159265f, Float3(0, 1, 0)));
    query.Init(PickQuery::DefaultMaxDistance, PickSolids | PickNormal, 0, 0);
    ASSERT_TRUE(model->IntersectRay({-2, 4, 0}, {0, 0, 1}, query));
    test::ExpectNear(query.current.data, {0, 0, 1});
}

TEST_F(ModelTest, SurfaceColoursWeighTheCornerColoursAndTheTextureAverage) {
    temp_.WriteFile("pelgrath/maps/scene/4.dat", ColourFile({Red, Green, Blue, White}));
    Model* model = LoadModel("\tmesh = \"square.mesh\"\n\tbrightness = 2.0\n");
    // Made white first: the load replaces the float copy too.
    model->CreateVertexColors();
    model->SetVertexColorMode(1);
    // Triangle 0 has the corners 0, 2 and 1: (-4, -4), (4, 4) and (-4, 4) at depth 10.
    const struct {
        Float3 at;
        Float4 expected;
    } cases[] = {{{-4, -4, 10}, {1, 0, 0, 1}},
                 {{-4, 4, 10}, {0, 1, 0, 1}},
                 {{4, 4, 10}, {0, 0, 1, 1}},
                 {{-4.0f / 3, 4.0f / 3, 10}, {1.0f / 3, 1.0f / 3, 1.0f / 3, 1}}};
    for (const auto& c : cases) {
        const Float4 got = model->GetColorRgba(c.at, 0);
        EXPECT_NEAR(got.x, c.expected.x, 1e-5f);
        EXPECT_NEAR(got.y, c.expected.y, 1e-5f);
        EXPECT_NEAR(got.z, c.expected.z, 1e-5f);
        EXPECT_EQ(got.w, 1.0f);
    }
    // A triangle of no area has no place to weigh.
    auto* flat = new Mesh("", nullptr);
    flat->Create(4, 1, VertexPosition);
    flat->SetPoint(1, {1, 0, 0});
    flat->SetTriangle(0, 0, 1, 2);
    model->ScriptSetMesh(flat);
    flat->Release();
    EXPECT_FALSE(model->GetColorRgba({0, 0, 10}, 0) != Float4(0, 0, 0, 1));

    // Without vertex colours: the brightness, and the texture's average colour.
    model->SetVertexColorMode(0);
    model->SetTextureName("quads.png");
    model->SetColor(0x808080);
    const Float4 average = UnpackColor(model->GetTexture()->GetAverageColor());
    EXPECT_NEAR(model->GetColorRgba({0, 0, 10}, 0).x, 2.0f * (128.0f / 255) * average.x, 1e-5f);
}

// Takes the lines models queue for the annotation node.
class LineRecorder : public AnnotationSink {
public:
    void AddLine(const Float3& from, const Float3& to, uint32_t color, float) override {
        lines.push_back({from, to, color});
    }
    void AddLine2D(float, float, float, float, uint32_t, float) override {}
    void AddText(float, float, const char*, uint32_t, float) override {}
    void AddSphere(const Float3&, float, uint32_t) override {}
    void AddBox(const Float3&, const Float3&, const Quaternion&, uint32_t) override {}
    struct Line {
        Float3 from, to;
        uint32_t color;
    };
    std::vector<Line> lines;
};

TEST_F(ModelTest, TheLightmapMethodsMakeResetAndSaveTheColoursAndTheGizmoQueuesNormals) {
    Model* model = LoadModel("\tmesh = \"square.mesh\"\n\tbrightness = 1.5\n");
    model->ResetVertexColors();
    EXPECT_EQ(model->GetVertexColorData(), nullptr) << "nothing to reset yet";
    model->CreateVertexColors();
    ASSERT_NE(model->GetVertexColorData(), nullptr);
    EXPECT_EQ(model->GetVertexColorData()->GetColor(3, 0), 0xFF7F7F7F) << "brightness - 1";
    model->SaveVertexColors();
    EXPECT_EQ(temp_.ReadFile("pelgrath/maps/scene/4.dat"),
              ColourFile({0xFF7F7F7F, 0xFF7F7F7F, 0xFF7F7F7F, 0xFF7F7F7F}));
    EXPECT_EQ(model->GetVertexColorMode(), 1);
    model->SetBrightness(0.5f);
    model->ResetVertexColors();
    EXPECT_EQ(model->GetVertexColorData()->GetColor(0, 0), 0xFF000000);

    // Normal lines from every vertex, in the world, while the gizmo flag is set.
    Frame();
    LineRecorder recorder;
    SetActiveAnnotations(&recorder);
    model->SetRenderFlag(RenderGizmo, true);
    Frame();
    SetActiveAnnotations(nullptr);
    ASSERT_EQ(recorder.lines.size(), 4u);
    test::ExpectNear(recorder.lines[0].from, {-4, -4, 10});
    test::ExpectNear(recorder.lines[0].to, {-4, -4, 9});
    EXPECT_EQ(recorder.lines[0].color, Red);
}

class ModelFilesTest : public test::WithOpenWays<ModelTest> {};
QUARN_BOTH_OPEN_WAYS(ModelFilesTest);

// Called by a script, the save writes only where the maps folder stays inside the game: a link
// there may lead out.
TEST_P(ModelFilesTest, AScriptSavesVertexColoursOnlyInsideTheGame) {
    namespace fs = std::filesystem;
    test::TempFolder outside;
    test::CapturingLogSink log;
    Model* model = LoadModel("\tmesh = \"square.mesh\"\n");
    model->CreateVertexColors();
    for (bool linked : {false, true}) {
        fs::remove_all(temp_.Join("pelgrath"));
        if (linked) {
            fs::create_directory_symlink(outside.Path(), temp_.Join("pelgrath"));
        }
        SetScriptRunning(true);
        model->GetClass()->GetOwnMethods()[3]->Call(model, nullptr);
        SetScriptRunning(false);
        EXPECT_EQ(fs::exists(temp_.Join("pelgrath/maps/scene/4.dat")), !linked);
        EXPECT_EQ(log.Contains("Model.SaveVertexColors refused \"pelgrath/maps/scene/4.dat\""),
                  linked);
    }
}

TEST_F(ModelTest, OldFilesTakeTheBrightnessFromTheLightBiasAndKeepCastingShadows) {
    Model* model = LoadModel("\tmesh = \"square.mesh\"\n\tbrightness = 3.0\n"
                             "\tlightbias = 0.25\n",
                             37);
    EXPECT_EQ(model->GetBrightness(), 1.25f);
    EXPECT_TRUE(model->TestRenderFlags(RenderCastShadows));
}

TEST_F(ModelTest, AReloadedMeshRefreshesTheModelsStateAndBounds) {
    Model* model = LoadModel("\tmesh = \"square.mesh\"\n" + std::string(Unlit));
    Frame();
    EXPECT_EQ(model->GetLocalBoundingBox().max.x, 4.0f);
    temp_.WriteFile("square.mesh", SquaresMesh({{0, 0, 2}}));
    model->GetMesh()->Load();
    EXPECT_FALSE(model->TestRenderFlags(RenderStateValid));
    EXPECT_EQ(model->GetLocalBoundingBox().max.x, 2.0f);
    Frame();
    EXPECT_EQ(Pixel(24, 16), Grey);
    EXPECT_EQ(Pixel(32, 24), White);
}

TEST_F(ModelTest, ColoursMadeForAnotherMeshAreLeftOutOfDrawingPickingAndQueries) {
    temp_.WriteFile("pelgrath/maps/scene/4.dat", ColourFile({Blue, Blue, Blue, Blue}));
    Model* model = LoadModel("\tmesh = \"square.mesh\"\n\tvcc = 1\n" + std::string(Unlit));
    ASSERT_NE(model->GetVertexColorData(), nullptr);
    std::vector<Square> many;
    for (int i = 0; i < 25; ++i) {
        many.push_back({float(i % 5) - 2.0f, float(i / 5) - 2.0f, 0.5f});
    }
    temp_.WriteFile("many.mesh", SquaresMesh(many));
    model->SetMesh("many.mesh");
    EXPECT_EQ(model->GetVertexColorData(), nullptr);
    Frame();
    EXPECT_EQ(Pixel(32, 24), White);
    EXPECT_NE(PickedPart(32.0f, 24.0f), 0xFFFFFFFFu);
    EXPECT_FALSE(model->GetColorRgba({0, 0, 10}, 49) != Float4(1, 1, 1, 1));
    // A bake makes colours for the mesh it has now.
    model->BakeVertexLighting();
    ASSERT_NE(model->GetVertexColorData(), nullptr);
    EXPECT_EQ(model->GetVertexColorData()->GetCount(), 100u);
    EXPECT_FALSE(model->GetColorRgba({0, 0, 10}, 49) != Float4(0, 0, 0, 1));
}

TEST_F(ModelTest, AVertexBakeTakesTheStaticLightOfTheScene) {
    Model* model = LoadModel("\tmesh = \"square.mesh\"\n" + std::string(Unlit));
    Frame();
    model->CreateVertexColors();
    auto* omni = static_cast<OmniLight*>(CreateInstanceByClassName("OmniLight"));
    omni->AttachAsLast(root_);
    omni->SetPosition(Float3(0, 0, 8));
    omni->SetRange(100.0f);
    omni->SetBrightness(36.0f);
    omni->SetLightFlags(LightStatic);
    SceneLightSampler sampler;
    LightBakeSettings settings;
    settings.flags = LightBakeDirect;
    settings.sampler = &sampler;
    SetLightBakeSettings(&settings);
    model->BakeVertexLighting();
    SetLightBakeSettings(nullptr);
    // Each corner samples a twentieth of the way along both edges of each of its triangles,
    // 2 in front of the light's plane: corners 1 and 3 (one triangle) at 3.6, 3.6 off the axis,
    // corners 0 and 2 (two triangles) at 3.6, 3.2. Light: 36 / (d^2 + 0.1) times the cosine 2 / d.
    auto light = [](float x, float y) {
        const float d2 = x * x + y * y + 4.0f;
        return 36.0f / (d2 + 0.1f) * 2.0f / std::sqrt(d2);
    };
    const float expected[4] = {light(3.6f, 3.2f), light(3.6f, 3.6f), light(3.6f, 3.2f),
                               light(3.6f, 3.6f)};
    ASSERT_NE(model->GetVertexColorData(), nullptr);
    for (uint32_t i = 0; i < 4; ++i) {
        const uint32_t colour = model->GetVertexColorData()->GetColor(i, 0);
        EXPECT_NEAR(static_cast<float>(colour & 0xFF) / 255.0f, expected[i], 1.0f / 255) << i;
        EXPECT_EQ(colour >> 24, 0xFFu) << i;
    }
}

} // namespace
} // namespace quarn
