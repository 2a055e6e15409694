#include "resources/DynamicMesh.h"

#include "device/DeviceMesh.h"
#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"
#include "resources/FontNew.h"
#include "tests/resources/ResourceTestSupport.h"
#include "tests/support/FreshProcess.h"
#include "tests/support/MathExpectations.h"
#include "tests/support/SoftwareRenderDevice.h"

#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace quarn {
namespace {

constexpr uint32_t Background = 0xFF000000;

using Builder = std::function<void(DynamicMesh&)>;

// The default font reads the engine's embedded glyph cache through the file system.
class DynamicMeshTest : public test::ResourceDiskTest, protected test::SoftwareFrames {
protected:
    void SetUp() override {
        ResourceDiskTest::SetUp();
        ASSERT_TRUE(CreateDebugMeshes());
    }
    void TearDown() override {
        DestroyDebugMeshes();
        ResourceDiskTest::TearDown();
    }

    FontNew* DefaultFont() {
        FontNew* font = CreateDefaultFont();
        registered_ = GetRegisteredResourceCount();
        return font;
    }

    // Pixels other than the background in [x0, x1) x [y0, y1).
    uint32_t Drawn(uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1) {
        uint32_t count = 0;
        for (uint32_t y = y0; y < y1; ++y) {
            for (uint32_t x = x0; x < x1; ++x) {
                count += Pixel(x, y) != Background ? 1 : 0;
            }
        }
        return count;
    }
};

TEST_F(DynamicMeshTest, FlushDrawsWhatWasAddedOnceAndEmptiesTheMesh) {
    BeginFrame();
    const RenderStatistics& statistics = device_->GetRenderStatistics();
    GetDebugLineMesh().AddLine({0, 0, 1}, {1, 0, 1}, 0xFFFFFFFF);
    GetDebugLineMesh().Clear();
    EXPECT_TRUE(DrawDebugLines());
    EXPECT_EQ(statistics.numModelsRendered, 0u);

    DrawDebugLine({0, 0, 1}, {1, 0, 1}, 0xFFFFFFFF);
    DrawDebugLine({0, 1, 1}, {1, 1, 1}, 0xFFFFFFFF);
    EXPECT_EQ(statistics.numModelsRendered, 2u);
    EXPECT_EQ(statistics.numPrimitivesRendered, 2u);

    // The whole capacity in one flush, then nothing left to draw.
    for (int i = 0; i < 8192; ++i) {
        GetDebugLineMesh().AddLine({0, 0, 1}, {1, 0, 1}, 0xFFFFFFFF);
    }
    GetDebugLineMesh().AddLine({0, 0, 1}, {1, 0, 1}, 0xFFFFFFFF); // no room: dropped whole
    EXPECT_TRUE(FlushDebugLines(DynamicDepthTested));
    EXPECT_EQ(statistics.numModelsRendered, 3u);
    EXPECT_EQ(statistics.numPrimitivesRendered, 2u + 8192u);
    EXPECT_TRUE(DrawDebugLines());
    EXPECT_EQ(statistics.numModelsRendered, 3u);
    EndFrame();
}

TEST_F(DynamicMeshTest, BuildersAddTheirShapesWholeOrNotAtAll) {
    const Float3 o{0, 0, 0};
    const Float3 size{1, 2, 3};
    struct Case {
        const char* name;
        Builder build;
        uint32_t vertices;
        uint32_t indices;
    };
    const Case cases[] = {
        {"line", [&](DynamicMesh& m) { m.AddLine(o, size, 1); }, 2, 2},
        {"triangle", [&](DynamicMesh& m) { m.AddTriangle(o, size, o, 1); }, 3, 3},
        {"rect 2D", [](DynamicMesh& m) { m.AddRect2D(0, 0, 10, 5, 1); }, 6, 6},
        {"quad outline 2D", [](DynamicMesh& m) { m.AddQuadOutline2D({}, {}, {}, {}, 1); }, 8, 8},
        {"quad outline", [&](DynamicMesh& m) { m.AddQuadOutline(o, o, o, o, 1); }, 8, 8},
        {"box outline", [&](DynamicMesh& m) { m.AddBoxOutline(o, size, {}, 1); }, 8, 24},
        {"wire box", [&](DynamicMesh& m) { m.AddWireBox(size, 1); }, 24, 24},
        {"solid box", [&](DynamicMesh& m) { m.AddSolidBox(size, 1); }, 36, 36},
        {"wire sphere", [&](DynamicMesh& m) { m.AddWireSphere(o, 1, 1, 16); }, 48, 96},
        // Eight bands of 16 steps; the last reaches the north pole.
        {"solid sphere", [&](DynamicMesh& m) { m.AddSolidSphere(o, 1, 1, 16); }, 768, 768},
        {"circle", [&](DynamicMesh& m) { m.AddCircle(o, 1, false, 1); }, 32, 32},
        {"disc", [&](DynamicMesh& m) { m.AddCircle(o, 1, true, 1); }, 42, 42},
        {"wire cylinder", [&](DynamicMesh& m) { m.AddWireCylinder(o, 1, 2, 1, 12); }, 72, 72},
        {"wire arc", [&](DynamicMesh& m) { m.AddWireCylinder(o, 1, 2, 0, 3, 1, 12); }, 82, 82},
        {"solid cylinder", [&](DynamicMesh& m) { m.AddSolidCylinder(o, 1, 2, 1, 12); }, 144, 144},
        {"solid arc", [&](DynamicMesh& m) { m.AddSolidCylinder(o, 1, 2, 0, 3, 1, 12); }, 156, 156},
        {"wire capsule", [&](DynamicMesh& m) { m.AddWireCapsule(1, 2, 1, 12); }, 124, 124},
        // The side and two caps of three bands each.
        {"solid capsule", [&](DynamicMesh& m) { m.AddSolidCapsule(1, 2, 1, 12); }, 504, 504},
        {"octahedron", [&](DynamicMesh& m) { m.AddOctahedronOutline(o, 1, 1); }, 24, 24},
    };
    for (const Case& c : cases) {
        // An exact fit is taken after what is already there; one vertex or one index short
        // leaves everything as it was.
        struct Room {
            uint32_t vertices, indices;
            bool fits;
        };
        for (const Room room :
             {Room{c.vertices, c.indices, true}, Room{c.vertices - 1, c.indices, false},
              Room{c.vertices, c.indices - 1, false}}) {
            DynamicMesh mesh;
            ASSERT_TRUE(mesh.Create(room.vertices + 2, room.indices + 2,
                                    DynamicShapeBuffer | DynamicWorldFormat, DynamicLines));
            mesh.AddLine({5, 5, 5}, {6, 6, 6}, 2);
            c.build(mesh);
            const uint32_t added = room.fits ? c.vertices : 0;
            EXPECT_EQ(mesh.GetVertexBuffer()->GetCount(), 2 + added) << c.name;
            EXPECT_EQ(mesh.GetIndexBuffer()->GetIndexCount(), 2 + (room.fits ? c.indices : 0))
                << c.name;
            EXPECT_EQ(mesh.GetIndexBuffer()->GetIndex(1), 1u) << c.name;
            EXPECT_EQ(mesh.GetVertexBuffer()->GetPosition(1).z, 6.0f) << c.name;
            EXPECT_EQ(mesh.GetIndexBuffer()->GetLockMode(), 0u) << c.name;
        }
    }
}

TEST_F(DynamicMeshTest, BoxOutlinesScaleThenTurnThenMove) {
    DynamicMesh& lines = GetDebugLineMesh();
    lines.AddBoxOutline({1, 0, 0}, {2, 4, 6}, Quaternion::FromAxisAngle(1.5707964f, {0, 0, 1}), 1);
    // Corners 0 (-1, -2, -3) and 6 (1, 2, 3) turned a quarter about z (x to y, y to -x).
    test::ExpectNear(lines.GetVertexBuffer()->GetPosition(0), {3, -1, -3});
    test::ExpectNear(lines.GetVertexBuffer()->GetPosition(6), {-1, 1, 3});
}

TEST_F(DynamicMeshTest, DebugAndScreenShapesShowWhereAddedAndOnlyOnce) {
    BeginFrame();
    DrawScreenQuadNow(10, 10, 20, 20, 0xFFFF0000);
    DrawScreenLineNow(0, 30, 64, 30, 0xFF00FF00);
    DrawDebugLine({-1, -0.25f, 5}, {1, -0.25f, 5}, 0xFF0000FF); // a row below the centre
    EndFrame();
    EXPECT_EQ(Pixel(15, 15), 0xFFFF0000u);
    EXPECT_EQ(Pixel(20, 15), Background);
    EXPECT_EQ(Pixel(40, 30), 0xFF00FF00u);
    uint32_t lineRow = 0;
    for (uint32_t y = 24; y < 48 && lineRow == 0; ++y) {
        lineRow = Pixel(32, y) == 0xFF0000FF ? y : 0;
    }
    EXPECT_GT(lineRow, 24u);

    // Nothing is left over for the next frame.
    BeginFrame();
    DrawScreenTriangles();
    DrawScreenLines();
    DrawDebugLines();
    EndFrame();
    EXPECT_EQ(Pixel(15, 15), Background);
    EXPECT_EQ(Pixel(40, 30), Background);
    EXPECT_EQ(Pixel(32, lineRow), Background);
}

TEST_F(DynamicMeshTest, SolidShapesFaceOutwards) {
    // A wall at depth 5 through each shape's centre: only a near face, drawn as a front face,
    // shows in front of it.
    const Builder shapes[] = {
        [](DynamicMesh& m) {
            m.AddSolidBox({1, 1, 1}, 0xFFFF0000);
        },
        [](DynamicMesh& m) { m.AddSolidSphere({}, 0.5f, 0xFFFF0000, 12); },
        [](DynamicMesh& m) { m.AddSolidCylinder({}, 0.5f, 1, 0xFFFF0000, 12); },
        [](DynamicMesh& m) { m.AddSolidCylinder({}, 0.5f, 1, -1, 4, 0xFFFF0000, 12); },
        [](DynamicMesh& m) { m.AddSolidCapsule(0.5f, 1, 0xFFFF0000, 12); },
    };
    for (size_t i = 0; i < std::size(shapes); ++i) {
        BeginFrame();
        SetRenderWorldMatrix(Matrix4{});
        DynamicMesh& mesh = GetDebugTriangleMesh();
        mesh.AddTriangle({-9, -9, 5}, {9, 9, 5}, {-9, 9, 5}, 0xFF808080);
        mesh.AddTriangle({-9, -9, 5}, {9, -9, 5}, {9, 9, 5}, 0xFF808080);
        DrawDebugTriangles();
        Matrix4 world;
        world.m[14] = 5.0f;
        SetRenderWorldMatrix(world);
        shapes[i](mesh);
        DrawDebugTriangles();
        EndFrame();
        EXPECT_EQ(Pixel(32, 24), 0xFFFF0000u) << "shape " << i;
        EXPECT_EQ(Pixel(2, 2), 0xFF808080u) << "shape " << i;
    }
}

TEST_F(DynamicMeshTest, ScreenTextShowsWhereDrawnAndOnlyOnce) {
    // The default font, once made, lives for the run.
    test::ExpectInFreshProcess([this] {
        BeginFrame();
        DrawScreenText(10, 10, "Hi", 0xFFFFFFFF);
        EXPECT_EQ(device_->GetRenderStatistics().numModelsRendered, 0u) << "no default font yet";
        EndFrame();
    });

    FontNew* font = DefaultFont();
    const auto width = static_cast<uint32_t>(font->MeasureText("Hi", false));
    const auto height = static_cast<uint32_t>(font->GetLineHeight());
    BeginFrame();
    DrawScreenText(10.7f, 10.2f, "Hi", 0xFFFFFFFF); // floored to (10, 10)
    EndFrame();
    EXPECT_GT(Drawn(10, 10, 10 + width, 10 + height), 0u);
    EXPECT_EQ(Drawn(0, 0, 64, 48), Drawn(10, 10, 10 + width, 10 + height)) << "nothing outside";

    // The next text comes alone: the first is not drawn again.
    BeginFrame();
    DrawScreenText(30, 30, "Hi", 0xFFFFFFFF);
    EXPECT_EQ(device_->GetRenderStatistics().numPrimitivesRendered, 4u);
    EndFrame();
    EXPECT_EQ(Drawn(10, 10, 10 + width, 10 + height), 0u);
    EXPECT_GT(Drawn(30, 30, 30 + width, 30 + height), 0u);

    // A reloaded font has a new glyph texture; the text draws with it.
    ASSERT_TRUE(font->Load());
    BeginFrame();
    DrawScreenText(10, 10, "Hi", 0xFFFFFFFF);
    EndFrame();
    EXPECT_GT(Drawn(10, 10, 10 + width, 10 + height), 0u);
}

TEST_F(DynamicMeshTest, TheTextMeshKeepsItsQuadIndicesThroughADeviceReset) {
    DefaultFont();
    static_cast<SoftwareDevice*>(device_->Gpu())->LoseDevice();
    device_->Present();
    ASSERT_TRUE(device_->ResetDevice());
    BeginFrame();
    GetScreenTextMesh().AddText(20, 20, "Hi", 0xFFFFFFFF, LayoutDownward);
    EXPECT_TRUE(GetScreenTextMesh().Flush(DynamicText));
    EndFrame();
    EXPECT_GT(Drawn(20, 20, 40, 40), 0u);
    EXPECT_EQ(Drawn(0, 0, 64, 20), 0u);
}

} // namespace
} // namespace quarn
