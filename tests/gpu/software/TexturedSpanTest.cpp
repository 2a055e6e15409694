#include "core/math/Random.h"
#include "gpu/software/PixelPipeline.h"
#include "gpu/software/SoftwareDevice.h"
#include "gpu/software/SoftwareRasterizer.h"
#include "gpu/software/WideLanes.h"

#include <bit>
#include <cstring>
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

namespace quarn {
namespace {

// 32 random bits from the engine's seeded 15-bit generator, so the scenes are the same on
// every run.
struct Noise {
    Noise() { SeedRandom(12345); }
    uint32_t Next() {
        const auto draw = [] { return static_cast<uint32_t>(RandomNumber()); };
        return draw() << 17 ^ draw() << 2 ^ draw();
    }
};

struct Case {
    GpuFilter filter;
    bool blend;
    GpuFormat format;
    uint32_t size; // texture edge; not a power of two takes the modulo path
    GpuAddress address;
    GpuTextureOp colorOp;
    GpuTextureOp alphaOp;
    bool alphaTest = false;
    bool rhwOne = false; // every vertex at 1/w = 1, as sprites are: the spans skip the divide
    // Triangles in the scene, under the fixed function's linear vertex fog, as world sprites
    // and particles are drawn.
    bool fog = false;
    // A second stage modulating by a white texture factor, as a mesh's colour layer is for a
    // white, opaque node: it changes nothing, so the spans stay.
    bool whiteFactor = false;
};

struct Frame {
    std::vector<uint8_t> color;
    std::vector<float> depth;
};

// The specialised spans must write exactly what the general per-pixel path writes. The same
// scene is drawn twice: once as is, and once with a second stage that passes the colour
// through unchanged, which sends every pixel down the general path. The triangles fall anywhere,
// so spans start and end at every place within the four-pixel steps, and texture coordinates
// run past the texture's edges.
class TexturedSpan : public ::testing::TestWithParam<Case> {
protected:
    Frame Render(bool general, bool* fast) {
        const Case& c = GetParam();
        auto device = SoftwareDevice::Create({.backBufferWidth = 40,
                                              .backBufferHeight = 30,
                                              .backBufferFormat = GpuFormat::A8R8G8B8,
                                              .lockableBackBuffer = true,
                                              .enableAutoDepthStencil = true});
        Noise noise;
        auto* back = static_cast<SoftwareSurface*>(device->GetBackBuffer());
        auto texture = device->CreateTexture(c.size, c.size, 1, 0, c.format, GpuPool::Managed);
        // Noise in the back buffer and the texture.
        for (SoftwareSurface* surface :
             {back, &static_cast<SoftwareTexture*>(texture.get())->Level(0)}) {
            for (uint32_t y = 0; y < surface->Height(); ++y) {
                for (uint32_t x = 0; x < surface->Width(); ++x) {
                    const uint32_t value = noise.Next();
                    std::memcpy(surface->Bits() + y * surface->Pitch() + x * 4, &value, 4);
                }
            }
        }
        device->Clear({}, GpuClearZBuffer, 0, 1.0f, 0);
        device->SetTexture(0, texture.get());
        using enum GpuRenderState;
        device->SetRenderState(CullMode, static_cast<uint32_t>(GpuCull::None));
        device->SetRenderState(AlphaBlendEnable, c.blend ? 1 : 0);
        device->SetRenderState(SrcBlend, static_cast<uint32_t>(GpuBlend::SrcAlpha));
        device->SetRenderState(DestBlend, static_cast<uint32_t>(GpuBlend::InvSrcAlpha));
        device->SetRenderState(AlphaTestEnable, c.alphaTest ? 1 : 0);
        device->SetRenderState(AlphaFunc, static_cast<uint32_t>(GpuCompare::Greater));
        device->SetRenderState(AlphaRef, 0x60);
        for (auto [state, value] : {std::pair{GpuSamplerState::MagFilter, uint32_t(c.filter)},
                                    {GpuSamplerState::MinFilter, uint32_t(c.filter)},
                                    {GpuSamplerState::AddressU, uint32_t(c.address)},
                                    {GpuSamplerState::AddressV, uint32_t(c.address)}}) {
            device->SetSamplerState(0, state, value);
        }
        using enum GpuStageState;
        device->SetTextureStageState(0, ColorOp, static_cast<uint32_t>(c.colorOp));
        device->SetTextureStageState(0, ColorArg2, static_cast<uint32_t>(GpuTextureArg::Diffuse));
        device->SetTextureStageState(0, AlphaOp, static_cast<uint32_t>(c.alphaOp));
        device->SetTextureStageState(0, AlphaArg2, static_cast<uint32_t>(GpuTextureArg::Current));
        if (c.whiteFactor) {
            device->SetRenderState(GpuRenderState::TextureFactor, 0xFFFFFFFF);
            for (GpuStageState op : {ColorOp, AlphaOp}) {
                device->SetTextureStageState(1, op, static_cast<uint32_t>(GpuTextureOp::Modulate));
            }
            for (GpuStageState arg : {ColorArg1, AlphaArg1}) {
                device->SetTextureStageState(1, arg, static_cast<uint32_t>(GpuTextureArg::Current));
            }
            for (GpuStageState arg : {ColorArg2, AlphaArg2}) {
                device->SetTextureStageState(1, arg, static_cast<uint32_t>(GpuTextureArg::TFactor));
            }
        }
        if (general) {
            for (GpuStageState op : {ColorOp, AlphaOp}) {
                device->SetTextureStageState(1, op,
                                             static_cast<uint32_t>(GpuTextureOp::SelectArg1));
            }
            for (GpuStageState arg : {ColorArg1, AlphaArg1}) {
                device->SetTextureStageState(1, arg, static_cast<uint32_t>(GpuTextureArg::Current));
            }
        }
        if (c.fog) {
            using enum GpuRenderState;
            for (auto [state, value] : {std::pair{Lighting, 0u},
                                        {FogEnable, 1u},
                                        {FogColor, 0xFF3080C0u},
                                        {FogVertexMode, uint32_t(GpuFogMode::Linear)},
                                        {FogStart, std::bit_cast<uint32_t>(0.2f)},
                                        {FogEnd, std::bit_cast<uint32_t>(3.5f)}}) {
                device->SetRenderState(state, value);
            }
        }
        PixelPipeline pipeline;
        *fast = pipeline.Setup(device->State()) && pipeline.HasTexturedSpan();

        if (c.fog) {
            DrawFogged(*device, noise);
        } else {
            DrawOnScreen(*device, noise);
        }
        Frame frame;
        frame.color.assign(back->Bits(), back->Bits() + back->Pitch() * 30);
        auto* depth = static_cast<SoftwareSurface*>(device->GetDepthStencilSurface());
        frame.depth.assign(depth->DepthPlane(), depth->DepthPlane() + 40 * 30);
        return frame;
    }

    // Overlapping triangles at different depths and 1/w, so perspective, the depth test and
    // blending over earlier pixels all take part.
    void DrawOnScreen(SoftwareDevice& device, Noise& noise) {
        const Case& c = GetParam();
        auto declaration = device.CreateVertexDeclaration(ScreenVertexElements);
        device.SetVertexDeclaration(declaration.get());
        std::vector<ScreenVertex> vertices;
        for (int i = 0; i < 12; ++i) {
            for (int k = 0; k < 3; ++k) {
                const uint32_t r = noise.Next();
                vertices.push_back({static_cast<float>(r % 4600) / 100.0f - 3.0f,
                                    static_cast<float>((r >> 12) % 3500) / 100.0f - 2.0f,
                                    static_cast<float>((r >> 4) % 1000) / 1000.0f,
                                    c.rhwOne ? 1.0f
                                             : 0.25f + static_cast<float>((r >> 8) % 300) / 100.0f,
                                    noise.Next(),
                                    static_cast<float>(noise.Next() % 500) / 100.0f - 2.0f,
                                    static_cast<float>(noise.Next() % 500) / 100.0f - 2.0f});
            }
        }
        EXPECT_EQ(device.DrawPrimitiveUP(GpuPrimitiveType::TriangleList, 12, vertices.data(),
                                         sizeof(ScreenVertex)),
                  GpuResult::Ok);
    }

    // The same in the scene: a projection with w = z, vertices 0.5 to 3 away, fogged linearly
    // from 0.2 to 3.5 towards a colour, so every pixel's fog factor differs.
    void DrawFogged(SoftwareDevice& device, Noise& noise) {
        struct Vertex {
            float x, y, z;
            uint32_t color;
            float u, v;
        };
        const GpuVertexElement elements[] = {
            {0, 0, GpuDeclType::Float3, GpuDeclUsage::Position, 0},
            {0, 12, GpuDeclType::Color, GpuDeclUsage::Color, 0},
            {0, 16, GpuDeclType::Float2, GpuDeclUsage::TexCoord, 0},
        };
        auto declaration = device.CreateVertexDeclaration(elements);
        device.SetVertexDeclaration(declaration.get());
        Matrix4 projection;
        projection.m[11] = 1.0f;
        projection.m[14] = -0.1f;
        projection.m[15] = 0.0f;
        device.SetTransform(GpuTransform::Projection, projection);
        std::vector<Vertex> vertices;
        for (int i = 0; i < 36; ++i) {
            const uint32_t r = noise.Next();
            const float z = 0.5f + static_cast<float>(r % 250) / 100.0f;
            vertices.push_back({(static_cast<float>((r >> 8) % 240) / 100.0f - 1.2f) * z,
                                (static_cast<float>((r >> 16) % 240) / 100.0f - 1.2f) * z, z,
                                noise.Next(),
                                static_cast<float>(noise.Next() % 500) / 100.0f - 2.0f,
                                static_cast<float>(noise.Next() % 500) / 100.0f - 2.0f});
        }
        EXPECT_EQ(device.DrawPrimitiveUP(GpuPrimitiveType::TriangleList, 12, vertices.data(),
                                         sizeof(Vertex)),
                  GpuResult::Ok);
    }
};

// Both loops, four lanes and (where the processor has AVX2) eight.
TEST_P(TexturedSpan, WritesExactlyWhatTheGeneralPathWrites) {
    bool generalFast = true;
    const Frame general = Render(true, &generalFast);
    EXPECT_FALSE(generalFast);
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "eight lanes" : "four lanes");
        AllowWideLanes(wide);
        bool fast = false;
        const Frame special = Render(false, &fast);
        AllowWideLanes(true);
        EXPECT_TRUE(fast);
        EXPECT_EQ(special.color, general.color);
        EXPECT_EQ(special.depth, general.depth);
    }
}

INSTANTIATE_TEST_SUITE_P(
    CommonCases, TexturedSpan,
    ::testing::Values(Case{GpuFilter::Linear, true, GpuFormat::A8R8G8B8, 8, GpuAddress::Wrap,
                           GpuTextureOp::Modulate, GpuTextureOp::Modulate},
                      Case{GpuFilter::Point, true, GpuFormat::A8R8G8B8, 8, GpuAddress::Wrap,
                           GpuTextureOp::Modulate, GpuTextureOp::SelectArg1},
                      Case{GpuFilter::Linear, false, GpuFormat::X8R8G8B8, 6, GpuAddress::Wrap,
                           GpuTextureOp::Modulate, GpuTextureOp::Modulate},
                      Case{GpuFilter::Point, false, GpuFormat::A8R8G8B8, 5, GpuAddress::Clamp,
                           GpuTextureOp::SelectArg1, GpuTextureOp::SelectArg2},
                      Case{GpuFilter::Linear, true, GpuFormat::X8R8G8B8, 4, GpuAddress::Clamp,
                           GpuTextureOp::SelectArg1, GpuTextureOp::Modulate},
                      Case{GpuFilter::Linear, true, GpuFormat::A8R8G8B8, 6, GpuAddress::Clamp,
                           GpuTextureOp::Modulate, GpuTextureOp::Modulate, true},
                      Case{GpuFilter::Point, false, GpuFormat::A8R8G8B8, 16, GpuAddress::Wrap,
                           GpuTextureOp::Modulate, GpuTextureOp::Modulate, true},
                      Case{GpuFilter::Linear, true, GpuFormat::A8R8G8B8, 8, GpuAddress::Wrap,
                           GpuTextureOp::Modulate, GpuTextureOp::Modulate, false, true},
                      Case{GpuFilter::Point, true, GpuFormat::X8R8G8B8, 5, GpuAddress::Wrap,
                           GpuTextureOp::Modulate, GpuTextureOp::SelectArg2, true, true},
                      Case{GpuFilter::Linear, true, GpuFormat::A8R8G8B8, 8, GpuAddress::Wrap,
                           GpuTextureOp::Modulate, GpuTextureOp::Modulate, false, false, true,
                           true},
                      Case{GpuFilter::Point, false, GpuFormat::X8R8G8B8, 6, GpuAddress::Clamp,
                           GpuTextureOp::SelectArg1, GpuTextureOp::Modulate, true, false, true}));

} // namespace
} // namespace quarn
