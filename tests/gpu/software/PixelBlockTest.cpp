#include "gpu/software/PixelBlock.h"

#include "gpu/software/SoftwareDevice.h"
#include "gpu/software/SoftwareRasterizer.h"
#include "gpu/software/WideLanes.h"
#include "tests/support/ShaderBlockCompare.h"
#include "tests/support/ShaderTokens.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace quarn {
namespace {

using namespace test;

constexpr uint32_t Width = 70;
constexpr uint32_t Height = 46;

// A pre-transformed vertex with both colours and two four-component coordinate sets.
struct Vertex {
    float x, y, z, rhw;
    uint32_t diffuse, specular;
    float t0[4], t1[4];
};
constexpr GpuVertexElement VertexElements[] = {
    {0, 0, GpuDeclType::Float4, GpuDeclUsage::PositionT, 0},
    {0, 16, GpuDeclType::Color, GpuDeclUsage::Color, 0},
    {0, 20, GpuDeclType::Color, GpuDeclUsage::Color, 1},
    {0, 24, GpuDeclType::Float4, GpuDeclUsage::TexCoord, 0},
    {0, 40, GpuDeclType::Float4, GpuDeclUsage::TexCoord, 1},
};

struct Case {
    const char* name;
    GpuFormat texture = GpuFormat::A8R8G8B8;
    GpuFilter filter = GpuFilter::Linear;
    GpuFilter mip = GpuFilter::None;
    uint32_t levels = 1;
    GpuAddress address = GpuAddress::Wrap;
    uint32_t size = 8;
    GpuFormat target = GpuFormat::A8R8G8B8;
    bool blend = false;
    GpuBlend src = GpuBlend::SrcAlpha;
    GpuBlend dest = GpuBlend::InvSrcAlpha;
    GpuBlendOp op = GpuBlendOp::Add;
    uint32_t writeMask = 0xF;
    bool alphaTest = false;
    GpuCompare depthFunc = GpuCompare::LessEqual;
    bool depthTest = true;
    bool fog = false;
    bool stencil = false;
    bool opaque = false; // diffuse alpha 1
    bool rhwOne = false;
    bool unbound = false;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

struct Frame {
    std::vector<uint8_t> color;
    std::vector<float> depth;
    std::vector<uint8_t> stencil;
};

// The engine's post-processing taps, texldp and texldb, texkill, and a texld of a coordinate
// the program computes, over v0, v1, t0 and t1.
std::vector<std::vector<uint32_t>> Programs() {
    const uint32_t r0 = Dst(0, 0), r1 = Dst(0, 1), r2 = Dst(0, 2);
    const std::vector<uint32_t> head = {Ps20,         Op(31, 2),   0x80000000u, Dst(3, 0),
                                        Op(31, 2),    0x80000000u, Dst(3, 1),   Op(31, 2),
                                        DclSampler2D, Dst(10, 0)};
    std::vector<std::vector<uint32_t>> bodies = {
        // texld, times the diffuse colour
        {Op(66, 3), r0, Src(3, 0), Src(10, 0), Op(5, 3), r0, Src(0, 0), Src(1, 0), Op(1, 2),
         Dst(8, 0), Src(0, 0)},
        // texldp and texldb, blended by c0, plus the specular colour
        {Op(66, 3) | GpuShaderTexProject << 16, r0, Src(3, 1), Src(10, 0),
         Op(66, 3) | GpuShaderTexBias << 16, r1, Src(3, 0), Src(10, 0), Op(18, 4), r2, Src(2, 0),
         Src(0, 0), Src(0, 1), Op(2, 3), Sat(Dst(8, 0)), Src(0, 2), Src(1, 1)},
        // texld naming a temporary past the samplers as its sampler: unbound
        {Op(66, 3), r0, Src(3, 0), Src(0, 20), Op(2, 3), Dst(8, 0), Src(0, 0), Src(1, 0)},
        // a tap at t0 + t1 / 4, texkill where t1.x < 0
        {Op(4, 4), r1, Src(3, 1), Src(2, 1), Src(3, 0), Op(66, 3), r0, Src(0, 1), Src(10, 0),
         Op(65, 1), Dst(3, 1, 0x1), Op(5, 3), Dst(8, 0), Src(0, 0), Src(1, 0)},
    };
    std::vector<std::vector<uint32_t>> programs;
    for (const auto& body : bodies) {
        std::vector<uint32_t> words = head;
        words.insert(words.end(), body.begin(), body.end());
        words.push_back(End);
        programs.push_back(words);
    }
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        programs.push_back(RandomProgram(GpuShaderKind::Pixel, 0x0200, seed));
    }
    return programs;
}

// The same scene drawn by the block runner, on four lanes and on eight, on one thread and on
// three, must match what the reference interpreter draws, colour, depth and stencil: random
// triangles over noise, with perspective, coordinates past the texture's edges and spans that
// start and end anywhere in a block.
class PixelBlockDraw : public ::testing::TestWithParam<Case> {
protected:
    Frame Render(const std::vector<uint32_t>& program, uint32_t threads) {
        const Case& c = GetParam();
        auto device = SoftwareDevice::Create({.backBufferWidth = Width,
                                              .backBufferHeight = Height,
                                              .backBufferFormat = c.target,
                                              .lockableBackBuffer = true,
                                              .enableAutoDepthStencil = true,
                                              .autoDepthStencilFormat = GpuFormat::D24S8});
        device->SetRasterizer(std::make_unique<SoftwareRasterizer>(threads));
        LaneNoise noise(7);
        auto* back = static_cast<SoftwareSurface*>(device->GetBackBuffer());
        auto texture =
            device->CreateTexture(c.size, c.size, c.levels, 0, c.texture, GpuPool::Managed);
        auto* levels = static_cast<SoftwareTexture*>(texture.get());
        std::vector<SoftwareSurface*> surfaces = {back};
        for (uint32_t level = 0; level < c.levels; ++level) {
            surfaces.push_back(&levels->Level(level));
        }
        for (SoftwareSurface* surface : surfaces) {
            for (uint32_t i = 0; i < surface->Pitch() * surface->Height(); ++i) {
                surface->Bits()[i] = static_cast<uint8_t>(noise.Next());
            }
        }
        device->Clear({}, GpuClearZBuffer | GpuClearStencil, 0, 1.0f, 3);

        auto declaration = device->CreateVertexDeclaration(VertexElements);
        device->SetVertexDeclaration(declaration.get());
        device->SetTexture(0, c.unbound ? nullptr : texture.get());
        std::string error;
        auto shader = device->CreateShader(GpuShaderKind::Pixel, StreamBytes(program), error);
        EXPECT_NE(shader, nullptr) << error;
        device->SetPixelShader(shader.get());
        float constants[GpuPixelConstCount][4];
        for (auto& constant : constants) {
            for (float& v : constant) {
                v = static_cast<float>(noise.Below(2000)) / 1000.0f - 0.5f;
            }
        }
        device->SetShaderConstants(GpuShaderKind::Pixel, 0, constants[0], GpuPixelConstCount);
        using enum GpuRenderState;
        const std::pair<GpuRenderState, uint32_t> states[] = {
            {CullMode, static_cast<uint32_t>(GpuCull::None)},
            {AlphaBlendEnable, c.blend},
            {SrcBlend, static_cast<uint32_t>(c.src)},
            {DestBlend, static_cast<uint32_t>(c.dest)},
            {BlendOp, static_cast<uint32_t>(c.op)},
            {ColorWriteEnable, c.writeMask},
            {AlphaTestEnable, c.alphaTest},
            {AlphaFunc, static_cast<uint32_t>(GpuCompare::Greater)},
            {AlphaRef, 0x60},
            {ZEnable, c.depthTest},
            {ZFunc, static_cast<uint32_t>(c.depthFunc)},
            {FogEnable, c.fog},
            {FogColor, 0xFF3366CC},
            {StencilEnable, c.stencil},
            {StencilFunc, static_cast<uint32_t>(GpuCompare::Equal)},
            {StencilRef, 3},
            {StencilPass, static_cast<uint32_t>(GpuStencilOp::Incr)},
        };
        for (const auto& [state, value] : states) {
            device->SetRenderState(state, value);
        }
        for (auto [state, value] : {std::pair{GpuSamplerState::MagFilter, uint32_t(c.filter)},
                                    {GpuSamplerState::MinFilter, uint32_t(c.filter)},
                                    {GpuSamplerState::MipFilter, uint32_t(c.mip)},
                                    {GpuSamplerState::AddressU, uint32_t(c.address)},
                                    {GpuSamplerState::AddressV, uint32_t(c.address)}}) {
            device->SetSamplerState(0, state, value);
        }
        std::vector<Vertex> vertices;
        for (int i = 0; i < 3 * 14; ++i) {
            Vertex v{};
            v.x = static_cast<float>(noise.Below(Width * 130)) / 100.0f - 10.0f;
            v.y = static_cast<float>(noise.Below(Height * 130)) / 100.0f - 8.0f;
            v.z = static_cast<float>(noise.Below(1000)) / 1000.0f;
            v.rhw = c.rhwOne ? 1.0f : 0.25f + static_cast<float>(noise.Below(300)) / 100.0f;
            v.diffuse = noise.Next() << 8 | noise.Next() >> 16 | (c.opaque ? 0xFF000000u : 0);
            v.specular = noise.Next();
            for (float* t : {v.t0, v.t1}) {
                for (int k = 0; k < 4; ++k) {
                    t[k] = static_cast<float>(noise.Below(600)) / 100.0f - 2.0f;
                }
            }
            vertices.push_back(v);
        }
        EXPECT_EQ(device->DrawPrimitiveUP(GpuPrimitiveType::TriangleList, 14, vertices.data(),
                                          sizeof(Vertex)),
                  GpuResult::Ok);
        Frame frame;
        frame.color.assign(back->Bits(), back->Bits() + back->Pitch() * Height);
        auto* depth = static_cast<SoftwareSurface*>(device->GetDepthStencilSurface());
        frame.depth.assign(depth->DepthPlane(), depth->DepthPlane() + Width * Height);
        frame.stencil.assign(depth->StencilPlane(), depth->StencilPlane() + Width * Height);
        return frame;
    }
};

TEST_P(PixelBlockDraw, DrawsWhatTheReferenceInterpreterDraws) {
    int program = 0;
    for (const std::vector<uint32_t>& words : Programs()) {
        SCOPED_TRACE(testing::Message() << "program " << program++);
        AllowShaderBlocks(false);
        const Frame reference = Render(words, 1);
        AllowShaderBlocks(true);
        for (const auto& [wide, threads] : {std::pair{false, 1u}, {true, 1u}, {true, 3u}}) {
            SCOPED_TRACE(testing::Message()
                         << (wide ? "eight" : "four") << " lanes, " << threads << " threads");
            AllowWideLanes(wide);
            const Frame block = Render(words, threads);
            AllowWideLanes(true);
            EXPECT_EQ(block.color, reference.color);
            EXPECT_EQ(block.depth, reference.depth);
            EXPECT_EQ(block.stencil, reference.stencil);
        }
    }
}

// A draw large enough to be cut into bands for the threads: each band's blocks must shade as
// the reference does on one thread.
TEST(PixelBlockBands, ALargeDrawOnThreadsDrawsWhatTheReferenceDraws) {
    const std::vector<uint32_t> program = Programs()[3]; // a computed tap and texkill
    auto render = [&](uint32_t threads) {
        auto device = SoftwareDevice::Create({.backBufferWidth = 240,
                                              .backBufferHeight = 100,
                                              .backBufferFormat = GpuFormat::A8R8G8B8,
                                              .lockableBackBuffer = true});
        device->SetRasterizer(std::make_unique<SoftwareRasterizer>(threads));
        auto texture = device->CreateTexture(16, 16, 1, 0, GpuFormat::A8R8G8B8, GpuPool::Managed);
        auto& level = static_cast<SoftwareTexture*>(texture.get())->Level(0);
        LaneNoise noise(5);
        for (uint32_t i = 0; i < level.Pitch() * level.Height(); ++i) {
            level.Bits()[i] = static_cast<uint8_t>(noise.Next());
        }
        auto declaration = device->CreateVertexDeclaration(VertexElements);
        device->SetVertexDeclaration(declaration.get());
        device->SetTexture(0, texture.get());
        std::string error;
        auto shader = device->CreateShader(GpuShaderKind::Pixel, StreamBytes(program), error);
        device->SetPixelShader(shader.get());
        const float tap[4] = {0.25f, -0.5f, 0, 0};
        device->SetShaderConstants(GpuShaderKind::Pixel, 1, tap, 1);
        device->SetRenderState(GpuRenderState::CullMode, static_cast<uint32_t>(GpuCull::None));
        device->Clear({}, GpuClearTarget, 0xFF000000, 1.0f, 0);
        const Vertex quad[] = {{-1, -1, 0.5f, 1, 0xFFFFFFFF, 0, {0, 0, 0, 1}, {-1, 0, 0, 1}},
                               {241, -1, 0.5f, 0.5f, 0xFF80FF40, 0, {7, 0, 0, 1}, {1, 0, 0, 1}},
                               {-1, 101, 0.5f, 2, 0xFF4080FF, 0, {0, 3, 0, 1}, {-1, 1, 0, 1}},
                               {241, 101, 0.5f, 1, 0xFFFFFFFF, 0, {7, 3, 0, 1}, {1, 1, 0, 1}}};
        EXPECT_EQ(device->DrawPrimitiveUP(GpuPrimitiveType::TriangleStrip, 2, quad, sizeof(Vertex)),
                  GpuResult::Ok);
        auto* back = static_cast<SoftwareSurface*>(device->GetBackBuffer());
        return std::vector<uint8_t>(back->Bits(), back->Bits() + back->Pitch() * back->Height());
    };
    AllowShaderBlocks(false);
    const std::vector<uint8_t> reference = render(1);
    AllowShaderBlocks(true);
    // Texkill leaves about half the pixels.
    size_t drawn = 0;
    for (size_t i = 0; i < reference.size(); i += 4) {
        drawn += (reference[i] | reference[i + 1] | reference[i + 2]) != 0 ? 1 : 0;
    }
    EXPECT_GT(drawn, reference.size() / 4 / 4);
    for (uint32_t threads : {1u, 4u}) {
        EXPECT_EQ(render(threads), reference) << threads << " threads";
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, PixelBlockDraw,
    ::testing::Values(
        Case{.name = "bilinear"},
        Case{.name = "point, clamped, rhw 1",
             .filter = GpuFilter::Point,
             .address = GpuAddress::Clamp,
             .rhwOne = true},
        Case{.name = "no power of two, X8R8G8B8",
             .texture = GpuFormat::X8R8G8B8,
             .size = 6,
             .target = GpuFormat::X8R8G8B8,
             .alphaTest = true},
        Case{.name = "mipmapped",
             .mip = GpuFilter::Linear,
             .levels = 4,
             .depthFunc = GpuCompare::Less},
        Case{.name = "16-bit texture and target",
             .texture = GpuFormat::R5G6B5,
             .target = GpuFormat::R5G6B5,
             .blend = true},
        Case{.name = "blended by source alpha, fogged", .blend = true, .fog = true},
        // Opaque pixels, which need not read the target, beside translucent ones.
        Case{.name = "blended, opaque, no depth test",
             .texture = GpuFormat::X8R8G8B8,
             .blend = true,
             .depthTest = false,
             .opaque = true},
        Case{.name = "alpha-tested, no depth test", .alphaTest = true, .depthTest = false},
        Case{.name = "blended by colours, masked",
             .blend = true,
             .src = GpuBlend::DestColor,
             .dest = GpuBlend::InvSrcColor,
             .op = GpuBlendOp::RevSubtract,
             .writeMask = 0x5},
        Case{.name = "min", .blend = true, .op = GpuBlendOp::Min, .writeMask = 0xE},
        Case{
            .name = "max, no colour written", .blend = true, .op = GpuBlendOp::Max, .writeMask = 0},
        Case{.name = "stencil", .stencil = true}, Case{.name = "unbound", .unbound = true}),
    [](const testing::TestParamInfo<Case>& info) {
        std::string name = info.param.name;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    });

} // namespace
} // namespace quarn
