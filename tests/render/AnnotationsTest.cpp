#include "render/Annotations.h"

#include "core/filesystem/DiskFileSystem.h"
#include "core/scene/EngineState.h"
#include "core/string/TextArena.h"
#include "device/DrawBufferShare.h"
#include "render/ParticleEmitter.h"
#include "render/TextPlate.h"
#include "resources/DynamicMesh.h"
#include "resources/FontNew.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/ScopedValue.h"

#include <bit>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <string>
#include <vector>

namespace quarn {
namespace {

constexpr uint32_t Background = 0xFF000000;

class AnnotationsTest : public test::RenderScene {
protected:
    void SetUp() override {
        RenderScene::SetUp();
        SetFileSystem(&files_); // the icon atlas is built in: "res://"
        ASSERT_TRUE(CreateDebugMeshes());
        Texture::RegisterClass();
        Annotations::RegisterClass();
        FrameTime = 0.0f;
        notes_ = tree_.Make<Annotations>("notes", root_);
        notes_->SetPosition(Float3(0, 0, 10)); // in front of the camera, so it is not culled
    }
    void TearDown() override {
        FrameTime = 0.0f;
        DestroyDebugMeshes();
        RenderScene::TearDown();
        SetFileSystem(nullptr);
    }
    // One frame; the device's counts of what it drew.
    RenderStatistics CountedFrame() {
        BeginFrame(Background);
        UpdateNodeTree(root_);
        const RenderStatistics counted = device_->GetRenderStatistics();
        EndFrame();
        return counted;
    }
    // The colour within a pixel of the screen point of a world point (after a frame).
    bool Shows(Float3 at, uint32_t color) {
        const Float2 p = CurrentCameraWorldToScreen(at);
        return ShowsNear(static_cast<int>(p.x), static_cast<int>(p.y), color);
    }
    bool ShowsNear(int x, int y, uint32_t color) {
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const int px = x + dx;
                const int py = y + dy;
                if (px >= 0 && py >= 0 && px < Width && py < Height &&
                    Pixel(static_cast<uint32_t>(px), static_cast<uint32_t>(py)) == color) {
                    return true;
                }
            }
        }
        return false;
    }
    uint32_t Drawn(int x0, int y0, int x1, int y1) {
        uint32_t count = 0;
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                count += Pixel(static_cast<uint32_t>(x), static_cast<uint32_t>(y)) != Background;
            }
        }
        return count;
    }
    // The 16 x 16 pixels of an icon drawn at (x + 0.5, y + 0.5), where texels meet pixels.
    std::vector<std::string> IconPixels(int x, int y) {
        std::vector<std::string> rows;
        for (int j = 0; j < 16; ++j) {
            std::string row;
            for (int i = 0; i < 16; ++i) {
                const uint32_t p =
                    Pixel(static_cast<uint32_t>(x - 7 + i), static_cast<uint32_t>(y - 7 + j));
                row += p == Red ? '#' : p == Background ? '.' : '?';
            }
            rows.push_back(row);
        }
        return rows;
    }

    DiskFileSystem files_;
    Annotations* notes_ = nullptr;
};

TEST_F(AnnotationsTest, AnItemIsDrawnUntilItsLifetimeRunsOut) {
    struct Case {
        float lifetime;
        float frameTime;
        int frames;
    };
    const Case cases[] = {
        {0.0f, 0.25f, 1},
        {1.0f, 0.25f, 4},
        {0.3f, 0.25f, 2},
        {-1.0f, 0.25f, 1},
    };
    for (const Case& c : cases) {
        FrameTime = c.frameTime;
        notes_->AddLine({-4, 0, 10}, {4, 0, 10}, Green, c.lifetime);
        int shown = 0;
        for (int frame = 0; frame < 6; ++frame) {
            Frame(Background);
            shown += Shows({0, 0, 10}, Green) ? 1 : 0;
        }
        EXPECT_EQ(shown, c.frames) << c.lifetime;
        EXPECT_TRUE(notes_->GetLines().empty());
    }
}

TEST_F(AnnotationsTest, ScriptedItemsLastOneFrameAndKeepTheirOwnText) {
    FrameTime = 0.25f;
    const auto& methods = Annotations::classInfo->GetOwnMethods();
    ASSERT_EQ(methods.size(), 6u);
    // (float2, string, int): the answer word, then the arguments.
    uint32_t text[5] = {0, std::bit_cast<uint32_t>(3.0f), std::bit_cast<uint32_t>(4.0f),
                        StoreText("scripted"), Green};
    methods[3]->Call(notes_, text);
    // (float2, float, int, int): only 0..12 name icons.
    for (int32_t number : {13, -1, -4, 12}) {
        uint32_t icon[6] = {0, 0, 0, 0, static_cast<uint32_t>(number), Red};
        methods[5]->Call(notes_, icon);
    }
    ASSERT_EQ(notes_->GetTexts().size(), 1u);
    EXPECT_EQ(notes_->GetTexts()[0].text, "scripted");
    EXPECT_EQ(notes_->GetTexts()[0].color, Green);
    EXPECT_EQ(notes_->GetTexts()[0].lifetime, 0.0f);
    ASSERT_EQ(notes_->GetIcons().size(), 1u);
    EXPECT_EQ(notes_->GetIcons()[0].icon, 12);
    Frame(Background);
    EXPECT_TRUE(notes_->GetTexts().empty());
    EXPECT_TRUE(notes_->GetIcons().empty());
}

TEST_F(AnnotationsTest, AnUnrenderedNodeKeepsItsItems) {
    notes_->SetFlag(NodeEnabled, false);
    notes_->AddPoint({0, 0, 10}, Green, 0.0f);
    notes_->AddText(1, 1, "kept", Green, 0.0f);
    Frame(Background);
    EXPECT_EQ(notes_->GetPoints().size(), 1u);
    EXPECT_EQ(notes_->GetTexts().size(), 1u);
    notes_->SetFlag(NodeEnabled, true);
    Frame(Background);
    EXPECT_TRUE(notes_->GetPoints().empty());
    EXPECT_TRUE(notes_->GetTexts().empty());
}

TEST_F(AnnotationsTest, ItemsLandWhereTheyAreAimed) {
    CreateDefaultFont();
    notes_->SetPointSize(0.5f);
    notes_->AddPoint({-5, 3, 10}, Blue, 0.0f);
    notes_->AddArrow({-4, -3, 10}, {4, -3, 10}, Green, 0.0f);
    notes_->AddLine2D(5, 40, 20, 40, Red, 0.0f);
    notes_->AddText(40, 4, "Hi", White, 0.0f);
    Frame(Background);
    EXPECT_TRUE(Shows({-4.5f, 3, 10}, Blue)) << "the octahedron's right corner";
    EXPECT_FALSE(Shows({-3.5f, 3, 10}, Blue));
    EXPECT_TRUE(Shows({0, -3, 10}, Green)) << "the shaft";
    // The head: from the tip back a quarter of the arrow and out a quarter of its length.
    EXPECT_TRUE(Shows({3, -2, 10}, Green));
    EXPECT_TRUE(Shows({3, -4, 10}, Green));
    EXPECT_FALSE(Shows({3, -6, 10}, Green));
    EXPECT_EQ(Pixel(12, 40), Red);
    EXPECT_NE(Pixel(12, 41), Red);
    EXPECT_GT(Drawn(40, 4, 56, 14), 0u) << "the text";
    EXPECT_EQ(Drawn(40, 14, 64, 20), 0u);

    // A pointsize of 0 keeps the size; a larger point reaches further.
    notes_->SetPointSize(0.0f);
    EXPECT_FLOAT_EQ(notes_->GetPointSize(), 0.5f);
    notes_->SetPointSize(1.5f);
    notes_->AddPoint({-5, 3, 10}, Blue, 0.0f);
    Frame(Background);
    EXPECT_TRUE(Shows({-3.5f, 3, 10}, Blue));
}

TEST_F(AnnotationsTest, AZeroLengthArrowDrawsThreeEmptyLines) {
    const RenderStatistics none = CountedFrame();
    notes_->AddArrow({1, 1, 10}, {1, 1, 10}, Green, 0.0f);
    const RenderStatistics arrow = CountedFrame();
    EXPECT_EQ(arrow.numModelsRendered - none.numModelsRendered, 3u);
    EXPECT_EQ(Drawn(0, 0, 64, 48), 0u);
}

TEST_F(AnnotationsTest, IconsShowTheirCellTheRightWayRound) {
    const std::vector<std::string> diamond = {
        "................", "................", ".......##.......", "......####......",
        ".....######.....", "....########....", "...##########...", "..############..",
        "..############..", "...##########...", "....########....", ".....######.....",
        "......####......", ".......##.......", "................", "................",
    };
    const std::vector<std::string> arrowRight = {
        "................", "................", "................", "..........#.....",
        "..........##....", "..........###...", "..........####..", "..#############.",
        "..#############.", "..........####..", "..........###...", "..........##....",
        "..........#.....", "................", "................", "................",
    };
    const std::vector<std::string> arrowUp = {
        "................", ".......##.......", "......####......", ".....######.....",
        "....########....", "...##########...", ".......##.......", ".......##.......",
        ".......##.......", ".......##.......", ".......##.......", ".......##.......",
        ".......##.......", ".......##.......", "................", "................",
    };
    struct Case {
        int32_t icon;
        float angle;
        const std::vector<std::string>& expected;
    };
    const Case cases[] = {
        {5, 0.0f, diamond},
        {8, 0.0f, arrowRight},
        {8, std::numbers::pi_v<float> / 2, arrowUp},
    };
    for (const Case& c : cases) {
        notes_->AddIcon({24.5f, 20.5f}, c.angle, c.icon, Red, 0.0f);
        Frame(Background);
        EXPECT_EQ(IconPixels(24, 20), c.expected) << c.icon << " at " << c.angle;
        EXPECT_TRUE(notes_->GetIcons().empty());
    }
}

TEST_F(AnnotationsTest, AFrameDrawsUpTo1024IconsAndOnlyTheVerticesItWrote) {
    struct Case {
        int icons;
        uint32_t triangles;
    };
    for (const Case& c : {Case{3, 6}, Case{1100, 2048}, Case{1, 2}}) {
        const RenderStatistics none = CountedFrame();
        for (int i = 0; i < c.icons; ++i) {
            notes_->AddIcon({static_cast<float>(i % 64), 20.5f}, 0.0f, i % 13, Red, 0.0f);
        }
        const RenderStatistics drawn = CountedFrame();
        EXPECT_EQ(drawn.numPrimitivesRendered - none.numPrimitivesRendered, c.triangles)
            << c.icons;
        EXPECT_TRUE(notes_->GetIcons().empty());
    }
}

TEST_F(AnnotationsTest, EverySphereQueuedInAFrameIsDrawn) {
    const RenderStatistics none = CountedFrame();
    // Ten 16-segment spheres fill the world mesh; fifty take five flushes.
    for (int i = 0; i < 50; ++i) {
        notes_->AddSphere({static_cast<float>(i % 10) - 4.5f, static_cast<float>(i / 10) - 2.0f,
                           10},
                          0.3f, Green);
    }
    notes_->AddBox({0, 0, 12}, {1, 1, 1}, Quaternion{}, Blue);
    const RenderStatistics drawn = CountedFrame();
    EXPECT_EQ(drawn.numPrimitivesRendered - none.numPrimitivesRendered, 50u * 48u + 12u);
    EXPECT_TRUE(Shows({-4.5f + 0.3f, -2, 10}, Green)) << "the first";
    EXPECT_TRUE(Shows({4.5f + 0.3f, 2, 10}, Green)) << "the last";
    const RenderStatistics after = CountedFrame();
    EXPECT_EQ(after.numPrimitivesRendered, none.numPrimitivesRendered) << "drawn once";
}

// A node holds its shape and icon buffers from its first shapes and icons on, counted in the
// scene's draw buffers: a thousand nodes hold nothing until they draw, and of those drawing, the
// ones past the total draw no shapes or icons and one line names the first.
TEST_F(AnnotationsTest, NodesHoldTheirBuffersOnlyWhileDrawingAndWithinTheScenesDrawBuffers) {
    test::CapturingLogSink log;
    const uint64_t before = DrawBufferShare::SceneBytes();
    std::vector<Annotations*> nodes{notes_};
    while (nodes.size() < 1000) {
        nodes.push_back(tree_.Make<Annotations>("notes", root_));
        nodes.back()->SetPosition(Float3(0, 0, 10));
    }
    Frame(Background);
    EXPECT_EQ(DrawBufferShare::SceneBytes(), before);
    notes_->AddSphere({0, 0, 10}, 0.3f, Green);
    Frame(Background);
    const uint64_t one = DrawBufferShare::SceneBytes() - before;
    ASSERT_GT(one, 0u);
    EXPECT_TRUE(Shows({0.3f, 0, 10}, Green));
    notes_->AddIcon({20.5f, 20.5f}, 0.0f, 1, Red, 0.0f);
    Frame(Background);
    const uint64_t held = DrawBufferShare::SceneBytes();
    EXPECT_GT(held, before + one) << "the icons' buffers";
    const uint64_t total = held + 2 * one + one / 2;
    const test::ScopedValue<uint64_t> limit(DrawBufferShare::SceneByteLimit, total);
    for (Annotations* node : nodes) {
        node->AddBox({0, 0, 12}, {1, 1, 1}, Quaternion{}, Blue);
    }
    const RenderStatistics drawn = CountedFrame();
    EXPECT_EQ(DrawBufferShare::SceneBytes(), held + 2 * one);
    EXPECT_EQ(drawn.numPrimitivesRendered, 3u * 12u);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].text,
              "Annotations 'notes' (id " + std::to_string(nodes[3]->GetId()) +
                  ") draws no spheres or boxes: its " + std::to_string(one) +
                  " bytes of draw buffers would take the scene's past " + std::to_string(total) +
                  "; others past it are not told");
    for (size_t i = 1; i < nodes.size(); ++i) {
        nodes[i]->Delete();
    }
    EXPECT_EQ(DrawBufferShare::SceneBytes(), held);
}

TEST_F(AnnotationsTest, TheFirstNodeMadeIsTheActiveOneUntilItGoes) {
    EXPECT_EQ(GetActiveAnnotations(), notes_);
    auto* second = tree_.Make<Annotations>("second", root_);
    EXPECT_EQ(GetActiveAnnotations(), notes_);
    notes_->Delete();
    EXPECT_EQ(GetActiveAnnotations(), nullptr) << "the second does not take over";
    second->Delete();
    auto* third = tree_.Make<Annotations>("third", root_);
    EXPECT_EQ(GetActiveAnnotations(), third);
    third->Delete();
    EXPECT_EQ(GetActiveAnnotations(), nullptr);
}

TEST_F(AnnotationsTest, EmittersAndTextPlatesShowTheirGizmosThroughTheNode) {
    CreateDefaultFont();
    ParticleEmitter::RegisterClass();
    TextPlate::RegisterClass();
    auto* emitter = tree_.Make<ParticleEmitter>("emitter", root_);
    emitter->SetPosition({-3, 0, 10});
    emitter->SetEmitterSize({2, 2, 2});
    emitter->SetSpawnInterval(0.0f);
    auto* plate = tree_.Make<TextPlate>("plate", root_);
    plate->SetMatrixMode(MatrixScreen);
    plate->SetPosition({30, 30, 0});
    plate->SetAlignX(TextAlignLeft);
    plate->SetBoxWidth(20);
    plate->SetFontName("res://arial.ttf");
    plate->SetPointSize(8);
    plate->SetText("x");

    Frame(Background);
    EXPECT_FALSE(Shows({-2, 0, 9}, ParticleEmitter::GizmoColor));
    EXPECT_FALSE(ShowsNear(50, 31, TextPlate::WrapWidthColor));

    emitter->SetRenderFlag(RenderGizmo, true);
    plate->SetFlag(NodeSelected, true);
    // Drawn after the node's 3D pass, the box shows at the next one.
    Frame(Background);
    Frame(Background);
    EXPECT_TRUE(Shows({-2, 0, 9}, ParticleEmitter::GizmoColor)) << "the box's near right edge";
    EXPECT_GT(Drawn(10, 10, 64, 20), 0u) << "the count";
    EXPECT_TRUE(ShowsNear(50, 31, TextPlate::WrapWidthColor)) << "the wrap width's right edge";

    // Without an annotation node the gizmos draw nothing.
    notes_->Delete();
    Frame(Background);
    EXPECT_FALSE(Shows({-2, 0, 9}, ParticleEmitter::GizmoColor));
    EXPECT_FALSE(ShowsNear(50, 31, TextPlate::WrapWidthColor));
}

} // namespace
} // namespace quarn
