#include "device/DeviceMesh.h"

#include "core/filesystem/EmbeddedFiles.h"
#include "device/DeviceTexture.h"
#include "device/IndexBuffer.h"
#include "device/Shader.h"
#include "device/VertexBuffer.h"
#include "tests/support/ShaderTokens.h"
#include "tests/support/SoftwareRenderDevice.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace quarn {
namespace {

// A rectangle of pixels [x0, x1) x [y0, y1) at depth z; facing quads are counter-clockwise on
// screen, so the default culling keeps them.
struct Rect {
    float x0, y0, x1, y1;
    float z = 0.5f;
    uint32_t color = 0xFFFFFFFF;
    bool facing = true;
};

// Geometry and the mesh that draws it.
struct TestMesh {
    std::unique_ptr<VertexBuffer> vertices;
    std::unique_ptr<IndexBuffer> indices;
    std::unique_ptr<DeviceMesh> mesh;
    DeviceMesh* operator->() { return mesh.get(); }
};

class DeviceMeshTest : public ::testing::Test, protected test::SoftwareFrames {
protected:
    // Pre-transformed quads, with texture coordinates 0..1 when `textured`.
    TestMesh Quads(const std::vector<Rect>& rects, bool textured = false) {
        TestMesh m;
        const auto count = static_cast<uint32_t>(rects.size());
        m.vertices = device_->CreateVertexData();
        const uint32_t format =
            VertexScreenPosition | VertexDiffuse | (textured ? VertexTexCoord0 : 0);
        EXPECT_TRUE(m.vertices->Create(4 * count, format, 0));
        m.indices = device_->CreateIndexData();
        EXPECT_TRUE(m.indices->Create(6 * count, 0));
        for (uint32_t q = 0; q < count; ++q) {
            const Rect& r = rects[q];
            const float xs[4] = {r.x0, r.x1, r.x1, r.x0};
            const float ys[4] = {r.y0, r.y0, r.y1, r.y1};
            for (uint32_t k = 0; k < 4; ++k) {
                m.vertices->SetPosition(4 * q + k, {xs[k], ys[k], r.z});
                m.vertices->SetColor(4 * q + k, 0, r.color);
                m.vertices->SetTexCoord(4 * q + k, 0, k == 1 || k == 2 ? 1.0f : 0.0f,
                                        k >= 2 ? 1.0f : 0.0f);
            }
            m.indices->FillQuadIndices(6 * q, 1, 4 * q, !r.facing);
        }
        m.mesh = device_->CreateDeviceMesh();
        m.mesh->SetVertexStream(m.vertices.get(), 0);
        m.mesh->SetIndexData(m.indices.get());
        m.mesh->SetLayerCount(1);
        m.mesh->SetRenderFlagsWord(MeshAlphaBlend);
        return m;
    }

    TestMesh FullScreen(uint32_t color) { return Quads({{0, 0, 64, 48, 0.5f, color}}); }

    std::unique_ptr<DeviceTexture> SolidTexture(uint32_t color) {
        auto texture = device_->CreateTexture();
        EXPECT_TRUE(texture->Create(2, 2, PixelFormat::A8R8G8B8, TextureKind::Texture2D, 0, 1));
        EXPECT_TRUE(texture->Lock(TextureLockWrite, 0));
        for (int32_t y = 0; y < 2; ++y) {
            for (int32_t x = 0; x < 2; ++x) {
                texture->SetPixel(x, y, color);
            }
        }
        EXPECT_TRUE(texture->Lock(TextureUnlocked, 0));
        return texture;
    }

    uint32_t State(GpuRenderState state) { return device_->Gpu()->GetRenderState(state); }

    // One of the engine's embedded shader files, or a program's words, loaded as `path`.
    static std::vector<uint8_t> EmbeddedBytes(const char* name) {
        for (const EmbeddedFileEntry& entry : EmbeddedFileTable()) {
            if (std::strcmp(entry.name, name) == 0) {
                return {entry.data, entry.data + entry.size};
            }
        }
        ADD_FAILURE() << "no embedded " << name;
        return {};
    }
    // The indices and mesh of a quad of four vertices in m.vertices.
    void MakeQuadMesh(TestMesh& m) {
        m.indices = device_->CreateIndexData();
        EXPECT_TRUE(m.indices->Create(6, 0));
        m.indices->FillQuadIndices(0, 1, 0, false);
        m.mesh = device_->CreateDeviceMesh();
        m.mesh->SetVertexStream(m.vertices.get(), 0);
        m.mesh->SetIndexData(m.indices.get());
    }

    // A quad from x0 to x1 over the full height for vertex programs: in screen space x and y
    // from -0.5 to 0.5 span the viewport. Every vertex has the normal given.
    TestMesh ScreenSpaceQuad(float x0, float x1, Float3 normal) {
        TestMesh m;
        m.vertices = device_->CreateVertexData();
        EXPECT_TRUE(m.vertices->Create(4, VertexPosition | VertexNormal, 0));
        const float xs[4] = {x0, x1, x1, x0};
        const float ys[4] = {-0.5f, -0.5f, 0.5f, 0.5f};
        for (uint32_t k = 0; k < 4; ++k) {
            m.vertices->SetPosition(k, {xs[k], ys[k], 0.5f});
            m.vertices->SetNormal(k, normal);
        }
        MakeQuadMesh(m);
        m.mesh->SetOptions(MeshScreenSpace, MeshScreenSpace);
        return m;
    }
    // An "fx_raw" of a vertex program (the vertex part of `file`, or all of a "vsh_raw") and a
    // pixel program writing `source` (c#, v#) to oC0.
    static std::vector<uint8_t> WithPixelProgram(std::vector<uint8_t> file, uint32_t source) {
        if (file.size() >= 4 && ReadLittleEndian32(file.data()) == test::Vs11) {
            std::vector<uint8_t> length(4);
            WriteLittleEndian32(length.data(), static_cast<uint32_t>(file.size() / 4));
            file.insert(file.begin(), length.begin(), length.end());
        } else if (file.size() >= 4) {
            file.resize(4 + 4 * static_cast<size_t>(ReadLittleEndian32(file.data())));
        }
        const std::vector<uint8_t> pixel =
            test::StreamBytes({5, test::Ps20, test::Op(1, 2), test::Dst(8, 0), source, test::End});
        file.insert(file.end(), pixel.begin(), pixel.end());
        return file;
    }
    std::unique_ptr<Shader> LoadShader(const std::vector<uint8_t>& bytes, const char* path) {
        auto shader = device_->CreateShader();
        EXPECT_TRUE(shader->Load(bytes.data(), static_cast<uint32_t>(bytes.size()), path, ""))
            << shader->GetErrorText();
        return shader;
    }
};

TEST_F(DeviceMeshTest, EachBlendModeCombinesAsNamed) {
    // Layer 0: source 0x80C04020 (half alpha) over background 0xFF306090. Layer 1: the stage
    // combines layer 0's 0xFF806040 with the colour 0xFF402010; no frame-buffer blending.
    struct Case {
        uint32_t layer;
        BlendMode mode;
        uint32_t expected;
    };
    const Case cases[] = {
        {0, BlendMode::Normal, 0xFF785058},         {0, BlendMode::Add, 0xFF9080A0},
        {0, BlendMode::Filter, 0xFF004080},         {0, BlendMode::Multiply, 0xFF241812},
        {0, BlendMode::Lighten, 0xFFC06090},        {0, BlendMode::Darken, 0xFF304020},
        {0, BlendMode::Invert, 0xFF480000},         {0, BlendMode::Opaque, 0xFFC04020},
        {0, BlendMode::Invisible, 0xFF306090},      {0, BlendMode::Negative, 0xFF476064},
        {0, BlendMode::ColorAsAlpha, 0xFF9C5882},   {0, BlendMode::AddSigned, 0xFF483024},
        {0, BlendMode::Power2, 0xFF911004},         {0, BlendMode::Subtract, 0xFF004080},
        {0, BlendMode::NormalInvAlpha, 0xFF785058}, {0, BlendMode::AddInvAlpha, 0xFF9080A0},
        {0, BlendMode::SubInvAlpha, 0xFF004080},    {0, BlendMode::FilterInvAlpha, 0xFF004080},
        {1, BlendMode::Normal, 0xFF200C04},         {1, BlendMode::Add, 0xFFC08050},
        {1, BlendMode::Filter, 0xFF404030},         {1, BlendMode::Opaque, 0xFF402010},
        {1, BlendMode::Invisible, 0xFF806040},      {1, BlendMode::AddSigned, 0xFF410100},
    };
    TestMesh source = FullScreen(0x80C04020);
    auto white = SolidTexture(0xFFFFFFFF);
    TestMesh stacked = Quads({{0, 0, 64, 48, 0.5f, 0xFF806040}}, true);
    stacked->SetRenderFlagsWord(0);
    stacked->SetLayerCount(2);
    stacked->SetLayer(0, white.get(), BlendMode::Opaque);
    stacked->SetColor(0xFF402010);
    for (const Case& c : cases) {
        TestMesh& mesh = c.layer == 0 ? source : stacked;
        BeginFrame(0xFF306090);
        mesh->SetLayer(c.layer, nullptr, c.mode);
        EXPECT_TRUE(mesh->Draw());
        EndFrame();
        EXPECT_EQ(Pixel(10, 10) | 0xFF000000, c.expected)
            << "layer " << c.layer << " mode " << static_cast<int>(c.mode);
    }
}

TEST_F(DeviceMeshTest, InvertedAlphaModesInvertTheAlphaTest) {
    struct Case {
        BlendMode mode;
        uint32_t flags;
        uint32_t alpha;
        bool drawn;
    };
    const Case cases[] = {
        {BlendMode::Normal, 0, 0x01, false},
        {BlendMode::NormalInvAlpha, MeshAlphaRef128, 0x7F, true},
        {BlendMode::NormalInvAlpha, MeshAlphaRef128, 0x80, false},
    };
    for (const Case& c : cases) {
        // Without blending a drawn pixel takes the source colour whole.
        TestMesh mesh = FullScreen((c.alpha << 24) | 0xFFFFFF);
        mesh->SetRenderFlagsWord(c.flags);
        mesh->SetLayer(0, nullptr, c.mode);
        BeginFrame();
        mesh->Draw();
        EndFrame();
        EXPECT_EQ((Pixel(5, 5) & 0xFFFFFF) != 0, c.drawn)
            << "mode " << static_cast<int>(c.mode) << " alpha " << c.alpha;
    }
}

TEST_F(DeviceMeshTest, StencilModesCountFacesAndReadTheCount) {
    // An occluder writes depth 0.5 left of x = 32. The volume is a front-facing band at the top
    // and a back-facing band in the middle columns, both at depth 0.8; a dark screen in
    // stencil-read mode then shows where the count is not 0.
    // Front only (occluded, open), back only (occluded, open), both (occluded, open).
    const uint32_t probes[6][2] = {{8, 8}, {56, 8}, {24, 40}, {40, 40}, {24, 8}, {40, 8}};
    struct Case {
        StencilMode mode;
        bool dark[6]; // in the order of the probes
    };
    const Case cases[] = {
        {StencilMode::VolumeZPass, {false, true, false, true, false, false}},
        {StencilMode::VolumeZFail, {true, false, true, false, false, false}},
        {StencilMode::Write, {false, true, false, false, false, true}},
    };
    TestMesh occluder = Quads({{0, 0, 32, 48, 0.5f, 0xFF808080}});
    occluder->SetRenderFlagsWord(MeshZEnable | MeshZWrite);
    TestMesh volume =
        Quads({{0, 0, 64, 16, 0.8f, 0xFFFF0000}, {16, 0, 48, 48, 0.8f, 0xFFFF0000, false}});
    volume->SetRenderFlagsWord(MeshZEnable);
    TestMesh shade = FullScreen(0xFF000010);
    shade->SetRenderFlagsWord(0);
    shade->SetStencilMode(StencilMode::Read);
    for (const Case& c : cases) {
        BeginFrame(0xFF808080);
        occluder->Draw();
        volume->SetStencilMode(c.mode);
        const uint32_t before = device_->GetRenderStatistics().numPrimitivesRendered;
        EXPECT_TRUE(volume->Draw());
        const uint32_t draws = (device_->GetRenderStatistics().numPrimitivesRendered - before) / 4;
        EXPECT_EQ(draws, c.mode == StencilMode::Write ? 1u : 2u);
        // Every mode leaves stencil off and the usual blending behind.
        EXPECT_EQ(State(GpuRenderState::StencilEnable), 0u);
        EXPECT_EQ(State(GpuRenderState::SrcBlend), static_cast<uint32_t>(GpuBlend::SrcAlpha));
        EXPECT_EQ(State(GpuRenderState::DestBlend), static_cast<uint32_t>(GpuBlend::InvSrcAlpha));
        EXPECT_EQ(Pixel(56, 8), 0xFF808080u) << "volumes leave colour alone";
        shade->Draw();
        EndFrame();
        for (size_t i = 0; i < std::size(probes); ++i) {
            EXPECT_EQ(Pixel(probes[i][0], probes[i][1]) == 0xFF000010, c.dark[i])
                << "mode " << static_cast<int>(c.mode) << " probe " << i;
        }
    }
    // A failed draw still ends the passes, leaving the stencil off.
    volume.indices->SetIndex(0, 1000);
    BeginFrame();
    EXPECT_FALSE(volume->Draw());
    EXPECT_EQ(State(GpuRenderState::StencilEnable), 0u);
    EndFrame();
}

TEST_F(DeviceMeshTest, ReplayedStateBlocksDrawWhatADirectDrawDraws) {
    // Two recorded meshes around one that never records and leaves other states behind.
    auto red = SolidTexture(0xFFFF0000);
    auto green = SolidTexture(0x8000FF00);
    TestMesh first = Quads({{4, 4, 40, 30, 0.3f, 0xFFFFFFFF}}, true);
    first->SetRenderFlagsWord(MeshAlphaBlend | MeshZEnable | MeshZWrite);
    first->SetLayer(0, red.get(), BlendMode::Normal);
    TestMesh disturber = Quads({{0, 20, 64, 24, 0.9f, 0xFF0000FF}, {30, 0, 34, 48, 0.9f}});
    disturber->SetRenderFlagsWord(MeshNeverRecord | MeshWireframe | MeshNoCulling);
    disturber->SetLayer(0, nullptr, BlendMode::Add);
    TestMesh second = Quads({{20, 10, 60, 44, 0.6f, 0xFFFFFFFF}}, true);
    second->SetRenderFlagsWord(MeshAlphaBlend | MeshZEnable);
    second->SetLayerCount(2);
    second->SetLayer(0, green.get(), BlendMode::Normal);
    second->SetLayer(1, nullptr, BlendMode::Multiply);
    second->SetColor(0xFFFFFF80);

    std::vector<uint32_t> direct;
    for (uint32_t frame = 1; frame <= 7; ++frame) {
        BeginFrame(0xFF202020);
        first->Draw();
        disturber->Draw();
        second->Draw();
        const RenderStatistics statistics = device_->GetRenderStatistics();
        EndFrame();
        if (frame == 1) {
            direct = Image();
            continue;
        }
        EXPECT_EQ(Image(), direct) << "frame " << frame;
        // The fifth unchanged draw records, one mesh a frame; recorded meshes replay.
        const uint32_t created[8] = {0, 0, 0, 0, 0, 1, 1, 0};
        const uint32_t applied[8] = {0, 0, 0, 0, 0, 1, 2, 2};
        EXPECT_EQ(statistics.numStateBlocksCreated, created[frame]) << "frame " << frame;
        EXPECT_EQ(statistics.numStateBlocksApplied, applied[frame]) << "frame " << frame;
    }
}

// The one recording a frame is each device's: a new device counts its frames from 0 again, and
// the frame its predecessor last recorded in holds nothing back.
TEST_F(DeviceMeshTest, ANewDeviceRecordsInTheFrameItsPredecessorLastRecordedIn) {
    for (int device = 0; device < 2; ++device) {
        if (device > 0) {
            NewDevice();
        }
        TestMesh quad = FullScreen(0xFF00FF00);
        uint32_t created = 0;
        for (int frame = 0; frame < 5; ++frame) {
            BeginFrame();
            quad->Draw();
            created += device_->GetRenderStatistics().numStateBlocksCreated;
            EndFrame();
        }
        EXPECT_EQ(created, 1u) << "device " << device;
    }
}

TEST_F(DeviceMeshTest, AShadedMeshReplaysItsStateBlockToThePixelsOfADirectDraw) {
    // The missing-shader program: magenta at the texture's alpha, blended over the frame.
    auto texture = SolidTexture(0x80FFFFFF);
    auto shader = LoadShader(EmbeddedBytes("missing.psh_raw"), "missing.psh_raw");
    TestMesh quad = Quads({{4, 4, 40, 30, 0.3f, 0xFF00FF00}}, true);
    quad->SetLayer(0, texture.get(), BlendMode::Normal);
    quad->SetShader(shader.get());
    std::vector<uint32_t> direct;
    for (uint32_t frame = 1; frame <= 7; ++frame) {
        BeginFrame(0xFF202020);
        quad->Draw();
        const RenderStatistics statistics = device_->GetRenderStatistics();
        EndFrame();
        EXPECT_EQ(statistics.numShadedModelsRendered, 1u);
        EXPECT_EQ(statistics.numStateBlocksApplied, frame >= 5 ? 1u : 0u) << "frame " << frame;
        if (frame == 1) {
            direct = Image();
            EXPECT_EQ(Pixel(20, 20), 0xFF901090u);
        } else {
            EXPECT_EQ(Image(), direct) << "frame " << frame;
        }
    }
}

TEST_F(DeviceMeshTest,
       TheBorderClipShaderShowsTheTextureOnlyWhereItsCoordinatesLieInTheUnitSquare) {
    auto red = SolidTexture(0xFFFF0000);
    auto shader = LoadShader(EmbeddedBytes("uv_border_clip_v20.psh_raw"), "clip.psh_raw");
    // Coordinates from -0.5 to 1.5 across the screen; pixel centres lie at whole numbers, so u
    // is 0 at x = 16 and 1 at x = 48, v 0 at y = 12 and 1 at y = 36.
    TestMesh quad = Quads({{0, 0, 64, 48, 0.5f, 0xFF80FFFF}}, true);
    for (uint32_t k = 0; k < 4; ++k) {
        quad.vertices->SetTexCoord(k, 0, k == 1 || k == 2 ? 1.5f : -0.5f, k >= 2 ? 1.5f : -0.5f);
    }
    quad->SetLayer(0, red.get(), BlendMode::Normal);
    quad->SetShader(shader.get());
    BeginFrame(0xFF202020);
    quad->Draw();
    EndFrame();
    std::vector<uint32_t> expected;
    for (int y = 0; y < Height; ++y) {
        for (int x = 0; x < Width; ++x) {
            const bool inside = x >= 16 && x <= 48 && y >= 12 && y <= 36;
            expected.push_back(inside ? 0xFF800000u : 0xFF202020u); // the texture times diffuse
        }
    }
    EXPECT_EQ(Image(), expected);
}

TEST_F(DeviceMeshTest, TheShadowShaderMovesTheWorldPositionByTheUnturnedOffset) {
    auto shader = LoadShader(EmbeddedBytes("shadow_volume_dir.fx_raw"), "shadow.fx_raw");
    // Identity view and projection: world x and y from -1 to 1 span the viewport.
    device_->SetCameraMatrix(Matrix4{});
    device_->SetProjectionMatrix(Matrix4{});
    // A quad 0.5 wide and 0.2 high, turned a quarter about z and doubled: in the world it
    // spans x from -0.2 to 0.2 and y from -0.5 to 0.5.
    Matrix4 world;
    world.m[0] = 0.0f;
    world.m[1] = 2.0f;
    world.m[4] = -2.0f;
    world.m[5] = 0.0f;
    world.m[10] = 2.0f;
    TestMesh shade = FullScreen(0xFF000010);
    shade->SetRenderFlagsWord(0);
    shade->SetStencilMode(StencilMode::Read);
    const struct {
        float offset;
        uint32_t marked[2]; // pixels the shadow covers
        uint32_t clear[2];
    } cases[] = {
        {0.0f, {32, 24}, {48, 24}},
        // Moved right in the world: an offset turned with the node would move it up.
        {0.5f, {48, 24}, {32, 24}},
    };
    for (const auto& c : cases) {
        TestMesh volume;
        volume.vertices = device_->CreateVertexData();
        ASSERT_TRUE(volume.vertices->Create(4, VertexPosition | VertexNormal, 0));
        const float xs[4] = {-0.25f, 0.25f, 0.25f, -0.25f};
        const float ys[4] = {-0.1f, -0.1f, 0.1f, 0.1f};
        for (uint32_t k = 0; k < 4; ++k) {
            volume.vertices->SetPosition(k, {xs[k], ys[k], 0.25f});
            volume.vertices->SetNormal(k, {c.offset, 0.0f, 0.0f});
        }
        MakeQuadMesh(volume);
        volume->SetRenderFlagsWord(MeshZEnable);
        volume->SetStencilMode(StencilMode::VolumeZPass);
        volume->SetWorldMatrix(world);
        volume->SetShader(shader.get());
        BeginFrame(0xFF808080);
        volume->Draw();
        shade->Draw();
        EndFrame();
        EXPECT_EQ(Pixel(c.marked[0], c.marked[1]), 0xFF000010u) << c.offset;
        EXPECT_EQ(Pixel(c.clear[0], c.clear[1]), 0xFF808080u) << c.offset;
        EXPECT_EQ(Pixel(c.marked[0], 4), 0xFF808080u) << "y spans rows 12 to 36 only";
    }
}

TEST_F(DeviceMeshTest, EmbeddedVertexProgramsColourByTheMeshColourOpacityAndBrightness) {
    const struct {
        const char* shader;
        uint32_t color;
        float brightness;
        Float3 normal;
        uint32_t expected; // over black, blended by the opacity
    } cases[] = {
        {"auto_uv.vsh_raw", 0xFFFF8040, 0.5f, {0, 0, -1}, 0xFF804020},
        {"auto_uv.vsh_raw", 0x80FF8040, 1.0f, {0, 0, -1}, 0xFF804020},
        {"auto_uv2.vsh_raw", 0xFFFF8040, 0.5f, {0, 0, -1}, 0xFF804020},
        // The terrain shades by 0.5 + 0.5 times the world normal's y.
        {"terrain_singlelayer_n.vsh_raw", 0xFFFF8040, 0.5f, {0, 2, 0}, 0xFF804020},
        {"terrain_singlelayer_n.vsh_raw", 0xFFFF8040, 1.0f, {0, 0, -1}, 0xFF804020},
        {"terrain_singlelayer_n.vsh_raw", 0xFFFF8040, 1.0f, {0, -1, 0}, 0xFF000000},
    };
    for (const auto& c : cases) {
        // A pixel program passes the vertex program's diffuse colour on: the fixed-function
        // stages would modulate it by the mesh colour once more.
        auto shader =
            LoadShader(WithPixelProgram(EmbeddedBytes(c.shader), test::Src(1, 0)), "v.fx_raw");
        TestMesh quad = ScreenSpaceQuad(-0.5f, 0.5f, c.normal);
        quad->SetRenderFlagsWord(MeshAlphaBlend | MeshNoCulling);
        quad->SetLayerCount(1);
        quad->SetColor(c.color);
        quad->SetShaderParameter({c.brightness, c.brightness, c.brightness, c.brightness});
        quad->SetShader(shader.get());
        BeginFrame();
        quad->Draw();
        EndFrame();
        for (const int shift : {0, 8, 16}) {
            EXPECT_NEAR(static_cast<int>(Pixel(32, 24) >> shift & 0xFF),
                        static_cast<int>(c.expected >> shift & 0xFF), 1)
                << c.shader << " " << std::hex << c.color;
        }
    }
}

TEST_F(DeviceMeshTest, WithLightingLightsZeroAndOneReachTheShaderAtC12ToC17) {
    LightRecord first;
    first.type = static_cast<uint32_t>(LightType::Directional);
    first.color = 0xFF804020;
    first.strength = 0.5f;
    first.position = {1.0f, 2.0f, 3.0f};
    first.direction = {0.0f, 0.0f, 1.0f};
    LightRecord second = first;
    second.color = 0xFFFFFFFF;
    second.strength = 2.0f;
    second.position = {4.0f, 5.0f, 6.0f};
    device_->SetLight(0, first);
    device_->SetLight(1, second);
    // The pixel program shows light 0's colour times its strength.
    auto shader = LoadShader(test::StreamBytes({test::Ps20, test::Op(1, 2), test::Dst(8, 0),
                                                test::Src(2, 14), test::End}),
                             "light.psh_raw");
    TestMesh quad = FullScreen(0xFF0000FF);
    quad->SetShader(shader.get());
    const auto& constants = static_cast<SoftwareDevice*>(device_->Gpu())->State().pixelConstants;
    const float unlit[6][4] = {};
    const float lit[6][4] = {{1, 2, 3, 0},
                             {0, 0, 1, 0},
                             {128 / 255.0f * 0.5f, 64 / 255.0f * 0.5f, 32 / 255.0f * 0.5f, 1},
                             {4, 5, 6, 0},
                             {0, 0, 1, 0},
                             {2, 2, 2, 1}};
    for (const bool lighting : {false, true}) {
        quad->SetRenderFlagsWord(lighting ? MeshLighting : 0);
        BeginFrame();
        quad->Draw();
        EndFrame();
        for (int r = 0; r < 6; ++r) {
            for (int c = 0; c < 4; ++c) {
                EXPECT_FLOAT_EQ(constants[12 + r][c], (lighting ? lit : unlit)[r][c])
                    << "c" << 12 + r << " component " << c << " lighting " << lighting;
            }
        }
    }
    EXPECT_EQ(Pixel(32, 24), 0xFF402010u);
}

TEST_F(DeviceMeshTest, ADepthBiasedDecalStaysInFrontFrameAfterFrame) {
    // A floor at depth 5 and a decal on it drawn first; another biased mesh draws last, so the
    // next frame starts with the bias still set while the target sets a fresh projection.
    auto plane = [&](float x0, float y0, float x1, float y1, uint32_t color) {
        TestMesh m;
        m.vertices = device_->CreateVertexData();
        EXPECT_TRUE(m.vertices->Create(4, VertexPosition | VertexDiffuse, 0));
        const float xs[4] = {x0, x1, x1, x0};
        const float ys[4] = {y1, y1, y0, y0};
        for (uint32_t k = 0; k < 4; ++k) {
            m.vertices->SetPosition(k, {xs[k], ys[k], 5.0f});
            m.vertices->SetColor(k, 0, color);
        }
        MakeQuadMesh(m);
        m.mesh->SetLayerCount(1);
        m.mesh->SetRenderFlagsWord(MeshZEnable | MeshZWrite | MeshNoCulling);
        return m;
    };
    TestMesh decal = plane(-1, -1, 1, 1, 0xFFFF0000);
    decal->SetRenderFlags(MeshDepthBias, MeshDepthBias);
    TestMesh floor = plane(-4, -4, 4, 4, 0xFF00FF00);
    TestMesh last = plane(3, 3, 4, 4, 0xFF0000FF);
    last->SetRenderFlags(MeshDepthBias, MeshDepthBias);
    device_->SetPerspective(90.0f, 1.0f, 1.0f, 101.0f);
    Matrix4 projection;
    device_->GetProjectionMatrix(projection);
    for (int frame = 0; frame < 2; ++frame) {
        BeginFrame();
        device_->SetProjectionMatrix(projection);
        decal->Draw();
        floor->Draw();
        last->Draw();
        EndFrame();
        EXPECT_EQ(Pixel(32, 24), 0xFFFF0000u) << "frame " << frame;
        EXPECT_EQ(Pixel(12, 24), 0xFF00FF00u) << "frame " << frame;
    }
    EXPECT_EQ(device_->GetDepthBias(), 1);
    Matrix4 biased;
    device_->GetProjectionMatrix(biased);
    EXPECT_FLOAT_EQ(biased.m[14], projection.m[14] * 1.002f);
}

TEST_F(DeviceMeshTest, TheSubmeshMaskDrawsTheSelectedGroups) {
    TestMesh mesh = Quads({{0, 0, 32, 48, 0.5f, 0xFFFF0000}, {32, 0, 64, 48, 0.5f, 0xFF00FF00}});
    mesh.indices->SetGroupCount(2);
    mesh.indices->SetGroupStart(0, 0);
    mesh.indices->SetGroupStart(1, 6);
    mesh.indices->SetGroupStart(2, 12);
    struct Case {
        uint32_t mask;
        uint32_t left, right;
    };
    const Case cases[] = {{0x2, 0xFF000000, 0xFF00FF00},
                          {0x1, 0xFFFF0000, 0xFF000000},
                          {0xFFFFFFFF, 0xFFFF0000, 0xFF00FF00},
                          {0x4, 0xFF000000, 0xFF000000}}; // no such group
    for (const Case& c : cases) {
        mesh->SetSubmeshMask(c.mask);
        BeginFrame();
        // Nothing selected draws nothing, yet counts as drawn.
        EXPECT_TRUE(mesh->Draw());
        EXPECT_EQ(device_->GetRenderStatistics().numModelsRendered, 1u);
        EndFrame();
        EXPECT_EQ(Pixel(10, 10), c.left) << std::hex << c.mask;
        EXPECT_EQ(Pixel(50, 10), c.right) << std::hex << c.mask;
    }
    // The same mask again records afresh but selects nothing anew.
    BeginFrame();
    EXPECT_FALSE(device_->CreateDeviceMesh()->Draw()) << "no geometry";
    mesh->SetSubmeshMask(0x4);
    mesh->Draw();
    EXPECT_EQ(device_->GetRenderStatistics().numSubmeshUpdates, 0u);
    // A group reaching past the indices is cut at their end.
    mesh.indices->SetGroupStart(2, 1000);
    mesh->SetSubmeshMask(0x2);
    mesh->Draw();
    EXPECT_EQ(device_->GetRenderStatistics().numSubmeshUpdates, 1u);
    EndFrame();
    EXPECT_EQ(Pixel(50, 10), 0xFF00FF00u);
}

TEST_F(DeviceMeshTest, AReloadedTextureIsRepointedInEveryLayerThatHeldIt) {
    auto old = SolidTexture(0xFFFF0000);
    auto other = SolidTexture(0xFF00FF00);
    TestMesh mesh = Quads({{0, 0, 64, 48}}, true);
    mesh->SetLayerCount(2);
    mesh->SetLayer(0, old.get(), BlendMode::Add);
    mesh->SetLayer(1, other.get(), BlendMode::Multiply);
    const uint32_t before = mesh->GetStateHash();
    const uint64_t oldId = old->GetId();
    old = SolidTexture(0xFF0000FF); // the reload: a new object, the old one gone
    device_->ReplaceTexture(oldId, old.get());
    EXPECT_EQ(mesh->GetLayerTexture(0), old.get());
    EXPECT_EQ(mesh->GetLayerOp(0), BlendMode::Add);
    EXPECT_EQ(mesh->GetLayerTexture(1), other.get());
    EXPECT_NE(mesh->GetStateHash(), before);
}

} // namespace
} // namespace quarn
