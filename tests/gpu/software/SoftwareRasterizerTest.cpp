#include "gpu/software/SoftwareRasterizer.h"

#include "gpu/software/SoftwareDevice.h"
#include "gpu/software/VertexProcessing.h"
#include "tests/support/ShaderTokens.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <tuple>
#include <vector>

namespace quarn {
namespace {

struct SceneVertex {
    float x, y, z;
    float nx, ny, nz;
};

using Pixels = std::vector<uint32_t>;

// A frame's colour, depth and stencil bytes, to compare whole.
struct Frame {
    std::vector<uint8_t> color, depthStencil;
    bool operator==(const Frame&) const = default;
};

Frame ReadFrame(SoftwareDevice& device, uint32_t width, uint32_t height) {
    Frame frame;
    auto* back = static_cast<SoftwareSurface*>(device.GetBackBuffer());
    frame.color.assign(back->Bits(), back->Bits() + size_t(back->Pitch()) * height);
    auto* depth = static_cast<SoftwareSurface*>(device.GetDepthStencilSurface());
    const auto* depthBytes = reinterpret_cast<const uint8_t*>(depth->DepthPlane());
    frame.depthStencil.assign(depthBytes, depthBytes + width * height * sizeof(float));
    frame.depthStencil.insert(frame.depthStencil.end(), depth->StencilPlane(),
                              depth->StencilPlane() + width * height);
    return frame;
}

template <typename T>
std::unique_ptr<GpuVertexBuffer> VertexBufferOf(SoftwareDevice& device,
                                                const std::vector<T>& from) {
    const auto bytes = static_cast<uint32_t>(from.size() * sizeof(T));
    auto buffer = device.CreateVertexBuffer(bytes, 0, 0, GpuPool::Managed);
    void* data = nullptr;
    buffer->Lock(0, 0, data, 0);
    std::memcpy(data, from.data(), bytes);
    buffer->Unlock();
    return buffer;
}

std::unique_ptr<GpuIndexBuffer>
IndexBufferOf(SoftwareDevice& device, const std::vector<uint32_t>& indices, GpuFormat format) {
    const bool wide = format == GpuFormat::Index32;
    auto buffer = device.CreateIndexBuffer(static_cast<uint32_t>(indices.size() * (wide ? 4 : 2)),
                                           0, format, GpuPool::Managed);
    void* data = nullptr;
    buffer->Lock(0, 0, data, 0);
    for (size_t i = 0; i < indices.size(); ++i) {
        if (wide) {
            static_cast<uint32_t*>(data)[i] = indices[i];
        } else {
            static_cast<uint16_t*>(data)[i] = static_cast<uint16_t>(indices[i]);
        }
    }
    buffer->Unlock();
    return buffer;
}

class RasterizerTest : public ::testing::Test {
protected:
    void SetUp() override {
        device_ = SoftwareDevice::Create({.backBufferWidth = 16, .backBufferHeight = 16});
        ASSERT_NE(device_, nullptr);
        screenDecl_ = device_->CreateVertexDeclaration(ScreenVertexElements);
        const GpuVertexElement scene[] = {
            {0, 0, GpuDeclType::Float3, GpuDeclUsage::Position, 0},
            {0, 12, GpuDeclType::Float3, GpuDeclUsage::Normal, 0},
        };
        sceneDecl_ = device_->CreateVertexDeclaration(scene);
        device_->SetVertexDeclaration(screenDecl_.get());
        Set(GpuRenderState::CullMode, GpuCull::None);
        // Vertex alpha, not the (absent) texture's, so blends see the colour's alpha.
        device_->SetTextureStageState(0, GpuStageState::AlphaArg1,
                                      static_cast<uint32_t>(GpuTextureArg::Diffuse));
        device_->BeginScene();
        Clear(0);
    }

    void Clear(uint32_t color) { device_->Clear({}, GpuClearTarget, color, 1.0f, 0); }

    uint8_t* UseDepthStencil() {
        depth_ = device_->CreateDepthStencilSurface(16, 16, GpuFormat::D24S8);
        device_->SetDepthStencilSurface(depth_.get());
        Set(GpuRenderState::ZEnable, 1u);
        device_->Clear({}, GpuClearZBuffer | GpuClearStencil, 0, 1.0f, 0);
        return static_cast<SoftwareSurface*>(depth_.get())->StencilPlane();
    }

    void Draw(GpuPrimitiveType type, uint32_t count, const ScreenVertex* vertices) {
        ASSERT_EQ(device_->DrawPrimitiveUP(type, count, vertices, sizeof(ScreenVertex)),
                  GpuResult::Ok);
    }

    // An axis-aligned rectangle of two triangles sharing the diagonal.
    void Rect(float left, float top, float right, float bottom, uint32_t color, float z = 0.5f) {
        const float u1 = 1.0f, v1 = 1.0f;
        const ScreenVertex v[6] = {
            {left, top, z, 1, color, 0, 0},       {right, top, z, 1, color, u1, 0},
            {right, bottom, z, 1, color, u1, v1}, {left, top, z, 1, color, 0, 0},
            {right, bottom, z, 1, color, u1, v1}, {left, bottom, z, 1, color, 0, v1},
        };
        Draw(GpuPrimitiveType::TriangleList, 2, v);
    }

    // The colours (without alpha) at the points.
    Pixels At(std::initializer_list<std::pair<uint32_t, uint32_t>> points) {
        auto* surface = static_cast<SoftwareSurface*>(device_->GetBackBuffer());
        Pixels pixels;
        for (auto [x, y] : points) {
            pixels.push_back(surface->ReadArgb(x, y) & 0xFFFFFF);
        }
        return pixels;
    }

    void Set(GpuRenderState state, uint32_t value) { device_->SetRenderState(state, value); }
    template <typename E>
    void Set(GpuRenderState state, E value) {
        device_->SetRenderState(state, static_cast<uint32_t>(value));
    }

    void Blend(GpuBlendOp op, GpuBlend source, GpuBlend dest) {
        Set(GpuRenderState::AlphaBlendEnable, 1u);
        Set(GpuRenderState::BlendOp, op);
        Set(GpuRenderState::SrcBlend, source);
        Set(GpuRenderState::DestBlend, dest);
    }

    // A full-viewport quad at camera-space depth 0.5 facing the camera, drawn through the
    // fixed-function transform with identity matrices.
    uint32_t SceneQuadCentre() {
        device_->SetVertexDeclaration(sceneDecl_.get());
        const SceneVertex v[6] = {
            {-1, 1, 0.5f, 0, 0, -1}, {1, 1, 0.5f, 0, 0, -1},  {1, -1, 0.5f, 0, 0, -1},
            {-1, 1, 0.5f, 0, 0, -1}, {1, -1, 0.5f, 0, 0, -1}, {-1, -1, 0.5f, 0, 0, -1},
        };
        EXPECT_EQ(device_->DrawPrimitiveUP(GpuPrimitiveType::TriangleList, 2, v, sizeof(v[0])),
                  GpuResult::Ok);
        return At({{8, 8}})[0];
    }

    std::unique_ptr<SoftwareDevice> device_;
    std::unique_ptr<GpuVertexDeclaration> screenDecl_;
    std::unique_ptr<GpuVertexDeclaration> sceneDecl_;
    std::unique_ptr<GpuSurface> depth_;
};

TEST_F(RasterizerTest, SharedEdgesCoverEveryPixelOnceAndOnlyTopLeftEdgesOwnTheirPixels) {
    Blend(GpuBlendOp::Add, GpuBlend::One, GpuBlend::One);
    Rect(2, 2, 6, 5, 0xFF202020);
    for (uint32_t y = 0; y < 8; ++y) {
        for (uint32_t x = 0; x < 8; ++x) {
            const bool inside = x >= 2 && x < 6 && y >= 2 && y < 5;
            EXPECT_EQ(At({{x, y}})[0], inside ? 0x202020u : 0u) << x << "," << y;
        }
    }
    // A neighbour sharing the right edge takes column 6 without touching column 5 again.
    Rect(6, 2, 8, 5, 0xFF202020);
    EXPECT_EQ(At({{5, 3}, {6, 3}}), (Pixels{0x202020, 0x202020}));
}

TEST_F(RasterizerTest, CullingDropsClockwiseTrianglesAndDepthKeepsTheNearerSurface) {
    Set(GpuRenderState::CullMode, GpuCull::Cw);
    const ScreenVertex clockwise[3] = {{0, 0, 0.5f, 1, 0xFFFF0000, 0, 0},
                                       {8, 0, 0.5f, 1, 0xFFFF0000, 0, 0},
                                       {0, 8, 0.5f, 1, 0xFFFF0000, 0, 0}};
    Draw(GpuPrimitiveType::TriangleList, 1, clockwise);
    EXPECT_EQ(At({{1, 1}}), Pixels{0});
    const ScreenVertex counter[3] = {clockwise[0], clockwise[2], clockwise[1]};
    Draw(GpuPrimitiveType::TriangleList, 1, counter);
    EXPECT_EQ(At({{1, 1}}), Pixels{0xFF0000});
    // Whichever comes first; equal depth passes less-equal.
    Set(GpuRenderState::CullMode, GpuCull::None);
    UseDepthStencil();
    Rect(0, 0, 8, 8, 0xFF00FF00, 0.25f);
    Rect(0, 0, 8, 8, 0xFFFF0000, 0.75f);
    EXPECT_EQ(At({{3, 3}}), Pixels{0x00FF00});
    Rect(0, 0, 8, 8, 0xFF0000FF, 0.25f);
    EXPECT_EQ(At({{3, 3}}), Pixels{0x0000FF});
    Set(GpuRenderState::ZWriteEnable, 0u);
    Rect(0, 0, 8, 8, 0xFFFFFFFF, 0.1f);
    Set(GpuRenderState::ZWriteEnable, 1u);
    Rect(0, 0, 8, 8, 0xFF00FF00, 0.2f);
    EXPECT_EQ(At({{3, 3}}), Pixels{0x00FF00}) << "a draw without depth write leaves depth alone";
}

TEST_F(RasterizerTest, StencilIncrementAndDecrementWrapAround) {
    const uint8_t* stencil = UseDepthStencil();
    Set(GpuRenderState::StencilEnable, 1u);
    Set(GpuRenderState::StencilFunc, GpuCompare::Always);
    Set(GpuRenderState::StencilPass, GpuStencilOp::Decr);
    Set(GpuRenderState::ColorWriteEnable, 0u);
    Rect(0, 0, 4, 4, 0xFFFFFFFF);
    EXPECT_EQ(stencil[1 * 16 + 1], 255);
    Set(GpuRenderState::StencilPass, GpuStencilOp::Incr);
    Rect(0, 0, 2, 2, 0xFFFFFFFF);
    EXPECT_EQ(stencil[1 * 16 + 1], 0);
}

TEST_F(RasterizerTest, LinesLeaveOutTheLastPixelWhenAsked) {
    Set(GpuRenderState::LastPixel, 0u);
    const ScreenVertex line[2] = {{1, 4, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                                  {5, 4, 0.5f, 1, 0xFFFFFFFF, 0, 0}};
    Draw(GpuPrimitiveType::LineList, 1, line);
    EXPECT_EQ(At({{0, 4}, {1, 4}, {4, 4}, {5, 4}}), (Pixels{0, 0xFFFFFF, 0xFFFFFF, 0}));
}

// Each band walks only its own part of a line: drawn additively, a line crossing many bands
// lights each of its steps exactly once, whatever the thread count and the slope.
TEST_F(RasterizerTest, ScissorRectangleBoundsTrianglesAndLinesClippedToTheTarget) {
    struct Case {
        const char* name;
        bool enable;
        GpuRect rect;
        // Points inside the drawn area and outside it.
        std::vector<std::pair<uint32_t, uint32_t>> drawn, untouched;
    };
    const Case cases[] = {
        {"inside", true, {4, 5, 9, 11}, {{4, 5}, {8, 10}}, {{3, 5}, {9, 5}, {4, 4}, {4, 11}}},
        {"disabled", false, {4, 5, 9, 11}, {{0, 0}, {15, 15}, {3, 5}}, {}},
        {"beyond target", true, {10, -20, 40, 50}, {{10, 0}, {15, 15}}, {{9, 0}, {0, 15}}},
        {"empty", true, {6, 6, 6, 9}, {}, {{6, 6}, {5, 7}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Clear(0);
        Set(GpuRenderState::ScissorTestEnable, c.enable ? 1u : 0u);
        ASSERT_EQ(device_->SetScissorRect(c.rect), GpuResult::Ok);
        Rect(0, 0, 16, 16, 0xFF00FF00);
        for (auto point : c.drawn) {
            EXPECT_EQ(At({point}), Pixels{0x00FF00}) << point.first << "," << point.second;
        }
        for (auto point : c.untouched) {
            EXPECT_EQ(At({point}), Pixels{0}) << point.first << "," << point.second;
        }
    }
    // Lines stop at the rectangle too.
    Clear(0);
    Set(GpuRenderState::ScissorTestEnable, 1u);
    device_->SetScissorRect({2, 0, 5, 16});
    const ScreenVertex line[2] = {{0, 3, 0.5f, 1, 0xFFFF0000, 0, 0},
                                  {16, 3, 0.5f, 1, 0xFFFF0000, 0, 0}};
    Draw(GpuPrimitiveType::LineList, 1, line);
    EXPECT_EQ(At({{1, 3}, {2, 3}, {4, 3}, {5, 3}}), (Pixels{0, 0xFF0000, 0xFF0000, 0}));
    EXPECT_EQ(device_->SetScissorRect({5, 0, 4, 16}), GpuResult::InvalidCall);
}

TEST_F(RasterizerTest, StateBlocksRecordAndReplayTheScissorTestAndATargetChangeResetsTheRect) {
    ASSERT_EQ(device_->BeginStateBlock(), GpuResult::Ok);
    Set(GpuRenderState::ScissorTestEnable, 1u);
    device_->SetScissorRect({0, 0, 8, 8});
    auto block = device_->EndStateBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(device_->GetRenderState(GpuRenderState::ScissorTestEnable), 0u);
    EXPECT_EQ(device_->GetScissorRect().right, 16);
    ASSERT_EQ(block->Apply(), GpuResult::Ok);
    Rect(0, 0, 16, 16, 0xFF0000FF);
    EXPECT_EQ(At({{7, 7}, {8, 7}, {7, 8}}), (Pixels{0x0000FF, 0, 0}));

    device_->SetRenderTarget(0, device_->GetBackBuffer());
    const GpuRect whole = device_->GetScissorRect();
    EXPECT_EQ(std::tie(whole.left, whole.top, whole.right, whole.bottom),
              std::make_tuple(0, 0, 16, 16));
}

TEST(RasterizerLines, ALineAcrossManyBandsLightsEachStepOnce) {
    constexpr uint32_t Width = 61, Height = 300;
    for (uint32_t threads : {1u, 3u}) {
        auto device = SoftwareDevice::Create({.backBufferWidth = Width,
                                              .backBufferHeight = Height,
                                              .backBufferFormat = GpuFormat::A8R8G8B8,
                                              .lockableBackBuffer = true});
        device->SetRasterizer(std::make_unique<SoftwareRasterizer>(threads));
        auto declaration = device->CreateVertexDeclaration(ScreenVertexElements);
        device->SetVertexDeclaration(declaration.get());
        device->SetRenderState(GpuRenderState::AlphaBlendEnable, 1);
        device->SetRenderState(GpuRenderState::SrcBlend, uint32_t(GpuBlend::One));
        device->SetRenderState(GpuRenderState::DestBlend, uint32_t(GpuBlend::One));
        for (GpuStageState op : {GpuStageState::ColorOp, GpuStageState::AlphaOp}) {
            device->SetTextureStageState(0, op, uint32_t(GpuTextureOp::SelectArg1));
        }
        for (GpuStageState arg : {GpuStageState::ColorArg1, GpuStageState::AlphaArg1}) {
            device->SetTextureStageState(0, arg, uint32_t(GpuTextureArg::Diffuse));
        }
        uint32_t seed = 7;
        auto unit = [&seed] {
            seed = seed * 1664525u + 1013904223u;
            return static_cast<float>(seed >> 8) / 16777216.0f;
        };
        for (int i = 0; i < 40; ++i) {
            device->Clear({}, GpuClearTarget, 0, 1.0f, 0);
            // Inside the target, so that every step lights a pixel; steep and shallow, both ways.
            const ScreenVertex line[2] = {{1.0f + unit() * (Width - 3),
                                           1.0f + unit() * (Height - 3), 0.5f, 1, 0x01010101, 0, 0},
                                          {1.0f + unit() * (Width - 3),
                                           1.0f + unit() * (Height - 3), 0.5f, 1, 0x01010101, 0,
                                           0}};
            device->DrawPrimitiveUP(GpuPrimitiveType::LineList, 1, line, sizeof(ScreenVertex));
            const float dx = line[1].x - line[0].x;
            const float dy = line[1].y - line[0].y;
            const bool xMajor = std::fabs(dx) >= std::fabs(dy);
            const float start = xMajor ? line[0].x : line[0].y;
            const float end = xMajor ? line[1].x : line[1].y;
            // The last pixel is drawn (the default), so both ends round the same way.
            const auto steps =
                static_cast<uint32_t>(std::abs(std::ceil(std::max(start, end) - 0.5f) -
                                               std::floor(std::min(start, end) + 0.5f)) +
                                      1);
            auto* back = static_cast<SoftwareSurface*>(device->GetBackBuffer());
            uint32_t lit = 0;
            uint32_t most = 0;
            for (uint32_t y = 0; y < Height; ++y) {
                for (uint32_t x = 0; x < Width; ++x) {
                    const uint32_t blue = back->Bits()[y * back->Pitch() + x * 4];
                    lit += blue;
                    most = std::max(most, blue);
                }
            }
            EXPECT_EQ(most, 1u) << "line " << i << " on " << threads << " threads";
            EXPECT_EQ(lit, steps) << "line " << i << " on " << threads << " threads";
        }
    }
}

TEST_F(RasterizerTest, VertexFogFollowsItsFormulasAndMixesTowardsTheFogColour) {
    EXPECT_FLOAT_EQ(VertexFogFactor(GpuFogMode::Linear, 15.0f, 10.0f, 20.0f, 0.0f), 0.5f);
    EXPECT_FLOAT_EQ(VertexFogFactor(GpuFogMode::Linear, 25.0f, 10.0f, 20.0f, 0.0f), 0.0f);
    EXPECT_FLOAT_EQ(VertexFogFactor(GpuFogMode::Exp, 10.0f, 0.0f, 0.0f, 0.1f), std::exp(-1.0f));
    EXPECT_FLOAT_EQ(VertexFogFactor(GpuFogMode::Exp2, 10.0f, 0.0f, 0.0f, 0.2f), std::exp(-4.0f));
    EXPECT_FLOAT_EQ(VertexFogFactor(GpuFogMode::Linear, 5.0f, 5.0f, 5.0f, 0.0f), 0.0f)
        << "an empty fog range fogs without dividing by zero";
    Set(GpuRenderState::Lighting, 0u);
    Set(GpuRenderState::FogEnable, 1u);
    Set(GpuRenderState::FogColor, 0xFFFFFFFFu);
    Set(GpuRenderState::FogVertexMode, GpuFogMode::Linear);
    Set(GpuRenderState::FogStart, std::bit_cast<uint32_t>(0.0f));
    Set(GpuRenderState::FogEnd, std::bit_cast<uint32_t>(1.0f));
    device_->SetTextureStageState(0, GpuStageState::ColorArg1,
                                  static_cast<uint32_t>(GpuTextureArg::TFactor));
    Set(GpuRenderState::TextureFactor, 0xFF000000u);
    EXPECT_EQ(SceneQuadCentre(), 0x808080u); // depth 0.5: half fog
}

// Bands of rows worked by different threads never change a pixel, nor do slices of a draw: one
// mixed frame (specialised spans, the general path with two stages, fog, depth and stencil,
// clipped clip-space triangles, lines, wireframe, draws large enough to process their vertices
// and assemble their triangles in parallel, indexed draws whose indices wander over their
// buffer) drawn with 1, 2 and 7 threads, each draw whole or in slices of a few vertices, is the
// same byte for byte.
TEST(RasterizerThreads, AMixedFrameIsTheSameWhateverTheThreadCountAndTheSlices) {
    auto render = [](uint32_t threads, uint32_t slice) {
        constexpr uint32_t Width = 256, Height = 128;
        auto device = SoftwareDevice::Create({.backBufferWidth = Width,
                                              .backBufferHeight = Height,
                                              .backBufferFormat = GpuFormat::A8R8G8B8,
                                              .enableAutoDepthStencil = true});
        device->SetRasterizer(std::make_unique<SoftwareRasterizer>(threads, slice));
        uint32_t seed = 99;
        auto next = [&seed] {
            seed = seed * 1664525u + 1013904223u;
            return seed;
        };
        auto unit = [&next] { return static_cast<float>(next() >> 8) / 16777216.0f; };
        auto texture = device->CreateTexture(16, 16, 1, 0, GpuFormat::A8R8G8B8, GpuPool::Managed);
        GpuLockedRect locked;
        texture->LockRect(0, GpuCubeFace::PositiveX, locked, nullptr, 0);
        for (uint32_t i = 0; i < 16 * 16; ++i) {
            const uint32_t texel = next();
            std::memcpy(static_cast<uint8_t*>(locked.bits) + i / 16 * locked.pitch + i % 16 * 4,
                        &texel, 4);
        }
        texture->UnlockRect(0, GpuCubeFace::PositiveX);
        auto screen = device->CreateVertexDeclaration(ScreenVertexElements);
        const GpuVertexElement sceneElements[] = {
            {0, 0, GpuDeclType::Float3, GpuDeclUsage::Position, 0},
            {0, 12, GpuDeclType::Color, GpuDeclUsage::Color, 0},
        };
        auto scene = device->CreateVertexDeclaration(sceneElements);
        device->Clear({}, GpuClearTarget | GpuClearZBuffer | GpuClearStencil, 0xFF102030, 1.0f, 0);
        device->SetTexture(0, texture.get());
        using enum GpuRenderState;
        for (auto [state, value] : {std::pair{CullMode, uint32_t(GpuCull::None)},
                                    {AlphaBlendEnable, 1u},
                                    {SrcBlend, uint32_t(GpuBlend::SrcAlpha)},
                                    {DestBlend, uint32_t(GpuBlend::InvSrcAlpha)},
                                    {ZFunc, uint32_t(GpuCompare::LessEqual)},
                                    {StencilPass, uint32_t(GpuStencilOp::Incr)}}) {
            device->SetRenderState(state, value);
        }
        device->SetSamplerState(0, GpuSamplerState::MagFilter, uint32_t(GpuFilter::Linear));
        device->SetSamplerState(0, GpuSamplerState::MinFilter, uint32_t(GpuFilter::Linear));
        std::vector<ScreenVertex> vertices(90);
        for (ScreenVertex& v : vertices) {
            v = {unit() * 300.0f - 20.0f,
                 unit() * 170.0f - 20.0f,
                 unit(),
                 0.2f + unit() * 3.0f,
                 next(),
                 unit() * 4.0f - 2.0f,
                 unit() * 4.0f - 2.0f};
        }
        auto draw = [&](GpuPrimitiveType type, uint32_t count, size_t first) {
            device->SetVertexDeclaration(screen.get());
            device->DrawPrimitiveUP(type, count, &vertices[first], sizeof(ScreenVertex));
        };
        draw(GpuPrimitiveType::TriangleList, 10, 0); // specialised spans
        device->SetRenderState(StencilEnable, 1);
        device->SetRenderState(FogEnable, 1);
        device->SetTextureStageState(1, GpuStageState::ColorOp, uint32_t(GpuTextureOp::Add));
        device->SetTextureStageState(1, GpuStageState::ColorArg2, uint32_t(GpuTextureArg::TFactor));
        draw(GpuPrimitiveType::TriangleList, 10, 30); // the general path
        draw(GpuPrimitiveType::LineStrip, 20, 60);
        device->SetRenderState(FillMode, uint32_t(GpuFillMode::Wireframe));
        draw(GpuPrimitiveType::TriangleStrip, 8, 70);
        device->SetRenderState(FillMode, uint32_t(GpuFillMode::Solid));
        // Clip-space triangles reaching behind the near plane and past the sides.
        struct SceneVertex {
            float x, y, z;
            uint32_t color;
        };
        std::vector<SceneVertex> clipped(30);
        for (SceneVertex& v : clipped) {
            v = {unit() * 4.0f - 2.0f, unit() * 4.0f - 2.0f, unit() * 1.5f - 0.5f, next()};
        }
        device->SetVertexDeclaration(scene.get());
        device->DrawPrimitiveUP(GpuPrimitiveType::TriangleList, 10, clipped.data(),
                                sizeof(SceneVertex));
        // Enough small triangles that their vertices are processed in several blocks.
        std::vector<SceneVertex> many(3 * 3000);
        for (size_t i = 0; i < many.size(); i += 3) {
            const float x = unit() * 2.2f - 1.1f;
            const float y = unit() * 2.2f - 1.1f;
            for (size_t k = 0; k < 3; ++k) {
                many[i + k] = {x + unit() * 0.1f, y + unit() * 0.1f, unit(), next()};
            }
        }
        device->DrawPrimitiveUP(GpuPrimitiveType::TriangleList, 3000, many.data(),
                                sizeof(SceneVertex));
        // And enough screen-space triangles, some broken, that they are assembled in several
        // blocks, as a list and as a strip.
        // Small ones: the corners walk a few pixels at a time over the target.
        std::vector<ScreenVertex> sprites(3 * 5000);
        float x = 100.0f, y = 60.0f;
        for (size_t i = 0; i < sprites.size(); ++i) {
            x = std::fmod(x + unit() * 8.0f + 276.0f, 280.0f);
            y = std::fmod(y + unit() * 8.0f + 146.0f, 150.0f);
            sprites[i] = {
                i % 1001 == 0 ? NAN : x - 10.0f, y - 10.0f, unit(), 1.0f, next(), unit(), unit()};
        }
        device->SetVertexDeclaration(screen.get());
        device->DrawPrimitiveUP(GpuPrimitiveType::TriangleList, 5000, sprites.data(),
                                sizeof(ScreenVertex));
        device->DrawPrimitiveUP(GpuPrimitiveType::TriangleStrip, 9000, sprites.data(),
                                sizeof(ScreenVertex));
        // The same vertices from a buffer, through indices that mostly step a little and now and
        // then jump anywhere, in both index sizes; the strip starts at an odd index.
        auto buffer = VertexBufferOf(*device, sprites);
        const auto count = static_cast<uint32_t>(sprites.size());
        std::vector<uint32_t> wandering(3 * 4000);
        uint32_t at = 0;
        for (uint32_t& index : wandering) {
            at = next() % 16 == 0 ? next() % count : (at + next() % 40) % count;
            index = at;
        }
        for (GpuFormat format : {GpuFormat::Index16, GpuFormat::Index32}) {
            auto indices = IndexBufferOf(*device, wandering, format);
            device->SetStreamSource(0, buffer.get(), 0, sizeof(ScreenVertex));
            device->SetIndices(indices.get());
            device->DrawIndexedPrimitive(GpuPrimitiveType::TriangleList, 0, 0, count, 0, 4000);
            device->DrawIndexedPrimitive(GpuPrimitiveType::TriangleStrip, 0, 0, count, 3, 6000);
            device->DrawIndexedPrimitive(GpuPrimitiveType::LineList, 0, 0, count, 1, 2000);
        }
        return ReadFrame(*device, Width, Height);
    };
    // Every draw spans fewer vertices than a slice holds: the reference draws each whole.
    const Frame one = render(1, SoftwareRasterizer::MaxSliceVertices);
    EXPECT_TRUE(render(2, SoftwareRasterizer::MaxSliceVertices) == one);
    EXPECT_TRUE(render(7, SoftwareRasterizer::MaxSliceVertices) == one);
    // Slices of an odd count split strips and lines at either parity.
    EXPECT_TRUE(render(1, 7) == one) << "slices of 7";
}

// An indexed draw gathers each slice's vertices, however far apart its indices name them: the
// picture is the whole draw's byte for byte, and every vertex is processed once for each slice
// that names it, never once for each vertex the slice's indices span (a shadow volume joins a
// mesh vertex to its far copy in every quad). The draws start past the buffer's first index.
// Lists, strips and lines of both index sizes, far joins, short steps and repeats, a base
// vertex, clip-space vertices through the fixed function and through a vertex program,
// screen-space ones enough to be assembled in parallel.
TEST(RasterizerSlices, IndexedDrawsGatherTheirVerticesAndDrawTheWholeDrawsPicture) {
    using test::DclUsage, test::Dst, test::End, test::Op, test::Src;
    struct Vertex {
        float x, y, z, w;
        uint32_t color;
    };
    constexpr uint32_t Count = 300; // vertices in each buffer
    constexpr int32_t Base = 7;
    uint32_t seed = 5;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    auto unit = [&next] { return static_cast<float>(next()) / 16777216.0f; };
    std::vector<Vertex> clip(Count + Base), screen(Count + Base);
    for (Vertex& v : clip) {
        v = {unit() * 2.6f - 1.3f, unit() * 2.6f - 1.3f, unit() * 1.2f - 0.1f, 1.0f, next()};
    }
    for (Vertex& v : screen) {
        v = {unit() * 40.0f - 4.0f, unit() * 32.0f - 4.0f, unit(), 1.0f, next() | 0xFF000000u};
    }
    // Index patterns, each 300 long.
    std::vector<std::vector<uint32_t>> patterns(3);
    for (uint32_t i = 0; i < 100; ++i) { // far joins: a vertex, its half-way and third-way kin
        for (uint32_t offset : {0u, Count / 2, Count / 3}) {
            patterns[0].push_back((i * 7 + offset) % Count);
        }
    }
    uint32_t at = 0;
    for (uint32_t i = 0; i < 300; ++i) { // short steps, now and then a jump or a repeat
        const uint32_t roll = next() % 16;
        at = roll == 0 ? next() % Count : roll == 1 ? at : (at + next() % 9) % Count;
        patterns[1].push_back(at);
    }
    for (uint32_t i = 0; i < 300; ++i) { // a strip zigzagging between both ends
        patterns[2].push_back(i % 2 == 0 ? i / 2 % Count : Count - 1 - i / 2 % Count);
    }
    // oPos = v0 by c0..c3 (the identity); oD0 = v1.
    const std::vector<uint32_t> program = {
        test::Vs11, Op(31, 0), DclUsage(0), Dst(1, 0), Op(31, 0),  DclUsage(10), Dst(1, 1),
        Op(20, 0),  Dst(4, 0), Src(1, 0),   Src(2, 0), Op(1, 0),   Dst(5, 0),    Src(1, 1),
        End};
    const float identity[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};

    auto render = [&](uint32_t threads, uint32_t slice) {
        constexpr uint32_t Width = 32, Height = 24;
        auto device = SoftwareDevice::Create({.backBufferWidth = Width,
                                              .backBufferHeight = Height,
                                              .backBufferFormat = GpuFormat::A8R8G8B8,
                                              .enableAutoDepthStencil = true});
        auto owned = std::make_unique<SoftwareRasterizer>(threads, slice);
        SoftwareRasterizer& rasterizer = *owned;
        device->SetRasterizer(std::move(owned));
        const GpuVertexElement clipElements[] = {
            {0, 0, GpuDeclType::Float4, GpuDeclUsage::Position, 0},
            {0, 16, GpuDeclType::Color, GpuDeclUsage::Color, 0},
        };
        const GpuVertexElement screenElements[] = {
            {0, 0, GpuDeclType::Float4, GpuDeclUsage::PositionT, 0},
            {0, 16, GpuDeclType::Color, GpuDeclUsage::Color, 0},
        };
        auto clipDeclaration = device->CreateVertexDeclaration(clipElements);
        auto screenDeclaration = device->CreateVertexDeclaration(screenElements);
        std::string error;
        auto shader =
            device->CreateShader(GpuShaderKind::Vertex, test::StreamBytes(program), error);
        EXPECT_NE(shader, nullptr) << error;
        device->SetShaderConstants(GpuShaderKind::Vertex, 0, identity[0], 4);
        auto clipBuffer = VertexBufferOf(*device, clip);
        auto screenBuffer = VertexBufferOf(*device, screen);
        device->Clear({}, GpuClearTarget | GpuClearZBuffer | GpuClearStencil, 0xFF102030, 1.0f, 0);
        using enum GpuRenderState;
        for (auto [state, value] : {std::pair{CullMode, uint32_t(GpuCull::None)},
                                    {ZFunc, uint32_t(GpuCompare::LessEqual)},
                                    {StencilEnable, 1u},
                                    {StencilPass, uint32_t(GpuStencilOp::Incr)},
                                    {StencilZFail, uint32_t(GpuStencilOp::Decr)}}) {
            device->SetRenderState(state, value);
        }
        for (GpuFormat format : {GpuFormat::Index16, GpuFormat::Index32}) {
            for (const std::vector<uint32_t>& pattern : patterns) {
                auto indices = IndexBufferOf(*device, pattern, format);
                device->SetIndices(indices.get());
                // From the pattern's third index on: `indexCount` of them.
                auto draw = [&](GpuPrimitiveType type, uint32_t primitives, size_t indexCount) {
                    const uint64_t before = rasterizer.ShadedVertexCount();
                    ASSERT_EQ(device->DrawIndexedPrimitive(type, Base, 0, Count, 2, primitives),
                              GpuResult::Ok);
                    const uint64_t shaded = rasterizer.ShadedVertexCount() - before;
                    // A strip's slices share their first corners with the slice before.
                    EXPECT_LE(shaded, 2 * indexCount) << slice << " " << int(type);
                    const std::set<uint32_t> named(pattern.begin() + 2,
                                                   pattern.begin() + 2 + long(indexCount));
                    if (slice == UINT32_MAX) {
                        EXPECT_EQ(shaded, named.size()) << int(type);
                    }
                };
                device->SetVertexDeclaration(clipDeclaration.get());
                device->SetStreamSource(0, clipBuffer.get(), 0, sizeof(Vertex));
                draw(GpuPrimitiveType::TriangleList, 99, 297);
                draw(GpuPrimitiveType::LineStrip, 200, 201);
                device->SetVertexShader(shader.get());
                draw(GpuPrimitiveType::TriangleStrip, 296, 298);
                draw(GpuPrimitiveType::LineList, 149, 298);
                device->SetVertexShader(nullptr);
                device->SetVertexDeclaration(screenDeclaration.get());
                device->SetStreamSource(0, screenBuffer.get(), 0, sizeof(Vertex));
                draw(GpuPrimitiveType::TriangleStrip, 296, 298);
            }
        }
        return ReadFrame(*device, Width, Height);
    };
    const Frame whole = render(1, UINT32_MAX);
    for (const auto& [threads, slice] :
         {std::pair{1u, SoftwareRasterizer::MaxSliceVertices}, {3u, 7u}, {2u, 64u}}) {
        EXPECT_TRUE(render(threads, slice) == whole) << threads << " threads, slices of " << slice;
    }
}

} // namespace
} // namespace quarn
