#include "render/VertexColours.h"

#include "core/filesystem/DiskFileSystem.h"
#include "core/object/IdMap.h"
#include "core/os/BusyCursor.h"
#include "core/scene/Pivot.h"
#include "device/IndexBuffer.h"
#include "device/RenderDevice.h"
#include "device/VertexBuffer.h"
#include "render/LightBakeSettings.h"
#include "render/LightMapPath.h"
#include "resources/Branch.h"
#include "tests/support/SoftwareRenderDevice.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestTree.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace quarn {
namespace {

constexpr uint32_t White = 0xFFFFFFFF;

std::vector<uint32_t> Colours(const VertexBuffer& buffer) {
    std::vector<uint32_t> colours;
    for (uint32_t i = 0; i < buffer.GetCount(); ++i) {
        colours.push_back(buffer.GetColor(i, 0));
    }
    return colours;
}

// Red to the right of x = 0, blue to its left.
class SideSampler : public LightSampler {
public:
    Float4 EvaluateLightSample(const Float3& point, const Float3&, const Float3&, const Float3&,
                               RenderObject*) override {
        ++samples;
        return point.x > 0.0f ? Float4(1, 0, 0, 1) : Float4(0, 0, 1, 1);
    }
    int samples = 0;
};

std::vector<std::pair<float, std::string>>& BusyCalls() {
    static std::vector<std::pair<float, std::string>> calls;
    return calls;
}

class VertexColoursTest : public ::testing::Test, protected test::SoftwareFrames {
protected:
    void SetUp() override {
        TheIdMap().Clear();
        files_.SetBaseFolder(temp_.Path().c_str());
        SetFileSystem(&files_);
        SetBusyCursorHook(
            [](float progress, const char* text) { BusyCalls().emplace_back(progress, text); });
    }
    void TearDown() override {
        SetBusyCursorHook(nullptr);
        SetLightBakeSettings(nullptr);
        SetFileSystem(nullptr);
    }
    std::unique_ptr<VertexBuffer> Buffer(const std::vector<uint32_t>& colours) {
        std::unique_ptr<VertexBuffer> buffer = TheRenderDevice()->CreateVertexData();
        buffer->Create(static_cast<uint32_t>(colours.size()), VertexDiffuse, 0);
        for (uint32_t i = 0; i < colours.size(); ++i) {
            buffer->SetColor(i, 0, colours[i]);
        }
        return buffer;
    }

    test::TempFolder temp_;
    DiskFileSystem files_;
};

TEST_F(VertexColoursTest, TheFileIsWrittenExactlyAndReadIntoMoreVerticesWithWhiteForTheRest) {
    auto buffer = Buffer({0xFF808080, 0xFF000000, 0x00000001});
    ASSERT_TRUE(SaveVertexColourFile("pelgrath/maps/scene/4.dat", *buffer, {}));
    EXPECT_EQ(temp_.ReadFile("pelgrath/maps/scene/4.dat"),
              "vertexcount = 3\n\tFF808080\n\tFF000000\n\t1\n");
    // Float colours, where given, are what is written.
    const std::vector<Float4> floats = {{1.0f, 0.5f, NAN, -1.0f}};
    ASSERT_TRUE(SaveVertexColourFile("one.dat", *buffer, floats));
    EXPECT_EQ(temp_.ReadFile("one.dat"), "vertexcount = 3\n\tFF7F00\n\tFF000000\n\t1\n");

    temp_.WriteFile("commented.dat", "# baked\n#\n" + temp_.ReadFile("pelgrath/maps/scene/4.dat"));
    // A header promising more lines than there are leaves the rest white too.
    temp_.WriteFile("short.dat", "vertexcount = 9\n\tFF00FF00\n");
    const struct {
        const char* path;
        bool opened;
        int32_t count;
        std::vector<uint32_t> colours;
    } cases[] = {
        {"pelgrath/maps/scene/4.dat", true, 3, {0xFF808080, 0xFF000000, 1, White, White}},
        {"commented.dat", true, 3, {0xFF808080, 0xFF000000, 1, White, White}},
        {"short.dat", true, 9, {0xFF00FF00, White, White, White, White}},
        {"missing.dat", false, 0, {White, White, White, White, White}},
    };
    for (const auto& c : cases) {
        std::unique_ptr<VertexBuffer> loaded = Buffer({1, 2});
        int32_t count = -1;
        EXPECT_EQ(LoadVertexColourFile(c.path, loaded, 5, &count), c.opened) << c.path;
        EXPECT_EQ(count, c.count) << c.path;
        EXPECT_EQ(Colours(*loaded), c.colours) << c.path;
    }
}

TEST_F(VertexColoursTest, BuffersArePreparedFromWhatExistsAndFilledWithClampedColours) {
    std::vector<Float4> floats;
    std::unique_ptr<VertexBuffer> buffer = Buffer({0xFF0000FF, 0x80FF0000, 0});
    EXPECT_TRUE(PrepareVertexColourBuffers(floats, buffer, 2));
    ASSERT_EQ(floats.size(), 2u);
    EXPECT_FLOAT_EQ(floats[1].w, 128.0f / 255);
    // Too few vertices: new buffers, not yet filled. (The old buffer is freed, so its address
    // may well be the new one's: only the sizes tell.)
    floats.clear();
    EXPECT_FALSE(PrepareVertexColourBuffers(floats, buffer, 4));
    EXPECT_EQ(buffer->GetCount(), 4u);
    EXPECT_EQ(floats.size(), 4u);

    FillVertexColours(floats, buffer.get(), 1.0f, 0.5f, NAN, -1.0f);
    EXPECT_EQ(Colours(*buffer), std::vector<uint32_t>(4, 0x00FF7F00));
    FillVertexColours(floats, nullptr, 0, 0, 0, 0);
    EXPECT_EQ(floats[3].y, 0.5f);
}

TEST_F(VertexColoursTest, ABakeAveragesTheSamplesOfEveryCornerOnlyWhileSettingsAreInstalled) {
    // Vertex 0 is a corner of a triangle right of x = 0 and of one left of it.
    std::unique_ptr<VertexBuffer> vertices = TheRenderDevice()->CreateVertexData();
    vertices->Create(5, VertexPosition | VertexNormal, 0);
    const Float3 points[5] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {-1, 1, 0}, {-1, 0, 0}};
    for (uint32_t i = 0; i < 5; ++i) {
        vertices->SetPosition(i, points[i]);
        vertices->SetNormal(i, {0, 0, -1});
    }
    std::unique_ptr<IndexBuffer> indices = TheRenderDevice()->CreateIndexData();
    indices->Create(6, 0);
    indices->SetTriangle(0, 0, 2, 1);
    indices->SetTriangle(1, 0, 4, 3);
    test::TestTree tree;
    Pivot* model = tree.Make<Pivot>("model");
    std::vector<Float4> floats(5);
    std::unique_ptr<VertexBuffer> buffer = Buffer({1, 2, 3, 4, 5});

    BusyCalls().clear();
    ComputeVertexLighting(*model, floats, buffer.get(), vertices.get(), indices.get(), 2.0f);
    EXPECT_EQ(Colours(*buffer), std::vector<uint32_t>(5, 0xFF000000));
    EXPECT_EQ(floats[0].w, 1.0f);
    EXPECT_EQ(BusyCalls(), (std::vector<std::pair<float, std::string>>{
                               {0.0f, "Filling lightmap buffer"}, {1.0f, ""}}));

    SideSampler sampler;
    LightBakeSettings settings;
    settings.sampler = &sampler;
    SetLightBakeSettings(&settings);
    ComputeVertexLighting(*model, floats, buffer.get(), vertices.get(), indices.get(), 2.0f);
    EXPECT_EQ(sampler.samples, 6);
    EXPECT_EQ(Colours(*buffer)[0], 0xFFFF00FF) << "(1, 0, 0) and (0, 0, 1), twice as bright";
    EXPECT_EQ(floats[0].x, 1.0f);
    EXPECT_EQ(floats[0].z, 1.0f);
    settings.flags = LightBakeCornerSamples;
    ComputeVertexLighting(*model, floats, buffer.get(), vertices.get(), indices.get(), 1.0f);
    EXPECT_EQ(sampler.samples, 6 + 24);
}

TEST_F(VertexColoursTest, LightmapPathsNameTheOwningBranchOrTheSceneAndStayInTheMapsFolder) {
    test::TestTree tree;
    Node* root = tree.Make<Node>("root");
    Node* top = tree.Make<Node>("box", root);
    top->ChangeId(12);
    EXPECT_EQ(BuildLightMapPath(*top, "bmp").Text(), std::string("pelgrath/maps/scene/12.bmp"));

    Branch* outer = tree.Make<Branch>("room", root);
    Node* inner = tree.Make<Node>("lamp", outer);
    inner->ChangeId(7);
    EXPECT_EQ(BuildLightMapPath(*inner, "bmp").Text(), std::string("pelgrath/maps/room/7.bmp"));
    Branch* nested = tree.Make<Branch>("shelf", outer);
    inner->AttachTo(nested);
    EXPECT_EQ(BuildLightMapPath(*inner, "dat").Text(), std::string("pelgrath/maps/scene/7.dat"));

    inner->AttachTo(outer);
    const struct {
        std::string name, path;
    } names[] = {
        {"../../etc", "pelgrath/maps/_/_/etc/7.dat"},
        {"rooms\\hall/..", "pelgrath/maps/rooms/hall/_/7.dat"},
        {"c:/x", "pelgrath/maps/c_/x/7.dat"},
        {"level 2/room.b", "pelgrath/maps/level 2/room.b/7.dat"},
        {std::string(300, 'r'), std::string("pelgrath/maps/").append(245, 'r')},
    };
    for (const auto& n : names) {
        outer->SetName(n.name.c_str());
        EXPECT_EQ(BuildLightMapPath(*inner, "dat").Text(), n.path);
    }
}

} // namespace
} // namespace quarn
