#include "gpu/software/ShaderBlock.h"

#include "core/filesystem/EmbeddedFiles.h"
#include "core/io/ByteOrder.h"
#include "gpu/software/SoftwareDevice.h"
#include "gpu/software/SoftwareRasterizer.h"
#include "tests/support/ShaderBlockCompare.h"
#include "tests/support/ShaderTokens.h"

#include <gtest/gtest.h>
#include <string_view>

namespace quarn {
namespace {

using namespace test;

// The programs of a "*_raw" file: one stream, or for "fx_raw" a vertex and a pixel program each
// after its length in words.
std::vector<GpuShaderProgram> ProgramsOf(const EmbeddedFileEntry& file) {
    const std::string_view name = file.name;
    std::vector<std::pair<GpuShaderKind, std::span<const uint8_t>>> streams;
    const std::span<const uint8_t> bytes(file.data, file.size);
    if (name.ends_with(".fx_raw")) {
        const uint32_t n = ReadLittleEndian32(bytes.data());
        streams.emplace_back(GpuShaderKind::Vertex, bytes.subspan(4, 4 * n));
        streams.emplace_back(GpuShaderKind::Pixel, bytes.subspan(8 + 4 * n));
    } else if (name.ends_with(".vsh_raw")) {
        streams.emplace_back(GpuShaderKind::Vertex, bytes);
    } else if (name.ends_with(".psh_raw")) {
        streams.emplace_back(GpuShaderKind::Pixel, bytes);
    }
    std::vector<GpuShaderProgram> programs;
    for (const auto& [kind, stream] : streams) {
        GpuShaderProgram program;
        std::string error;
        if (!stream.empty() && DecodeShaderProgram(stream, kind, program, error)) {
            programs.push_back(std::move(program));
        }
    }
    return programs;
}

TEST(ShaderBlock, RunsTheEnginesProgramsBitForBitAsTheReference) {
    int checked = 0;
    for (const EmbeddedFileEntry& file : EmbeddedFileTable()) {
        for (const GpuShaderProgram& program : ProgramsOf(file)) {
            SCOPED_TRACE(file.name);
            for (uint32_t seed = 1; seed <= 20; ++seed) {
                for (bool wide : {false, true}) {
                    ASSERT_EQ(CompareWithReference(program, seed, wide), "")
                        << "seed " << seed << (wide ? ", eight lanes" : ", four lanes");
                }
            }
            ++checked;
        }
    }
    EXPECT_GE(checked, 14);
}

TEST(ShaderBlock, RunsGeneratedProgramsBitForBitAsTheReference) {
    for (const auto& [kind, version] :
         {std::pair{GpuShaderKind::Vertex, 0x0101u}, std::pair{GpuShaderKind::Vertex, 0x0200u},
          std::pair{GpuShaderKind::Pixel, 0x0200u}}) {
        for (uint32_t seed = 1; seed <= 300; ++seed) {
            SCOPED_TRACE(testing::Message()
                         << (kind == GpuShaderKind::Vertex ? "vs " : "ps ") << std::hex << version
                         << ", program " << std::dec << seed);
            GpuShaderProgram program;
            std::string error;
            ASSERT_TRUE(DecodeShaderProgram(StreamBytes(RandomProgram(kind, version, seed)), kind,
                                            program, error))
                << error;
            for (bool wide : {false, true}) {
                ASSERT_EQ(CompareWithReference(program, seed, wide), "")
                    << (wide ? "eight lanes" : "four lanes");
            }
        }
    }
}

TEST(ShaderBlock, RunsAProgramThatNamesNoRegisterOfItsFile) {
    // texkill c1 alone: nothing for the file to hold.
    GpuShaderProgram program;
    std::string error;
    ASSERT_TRUE(DecodeShaderProgram(StreamBytes({Ps20, Op(65, 1), Dst(2, 1, 0xE), End}),
                                    GpuShaderKind::Pixel, program, error))
        << error;
    for (bool wide : {false, true}) {
        EXPECT_EQ(CompareWithReference(program, 1, wide), "");
    }
}

// Only an instruction whose write feeds a later component's read needs every source read first;
// the others run a component at a time.
TEST(ShaderBlock, MarksOnlyInstructionsWhoseComponentsCrossAsCrossed) {
    const uint32_t r0xy = Dst(0, 0, 0x3);
    const struct {
        const char* name;
        std::vector<uint32_t> body;
        bool crossed;
    } cases[] = {
        {"mul r0.xy, c0, c1", {Op(5, 3), r0xy, Src(2, 0), Src(2, 1)}, false},
        {"mov r0.xy, c0", {Op(1, 2), r0xy, Src(2, 0)}, false},
        {"mov r0.xy, r0.yx", {Op(1, 2), r0xy, Src(0, 0, 0xE1)}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint32_t> words = {Ps20};
        words.insert(words.end(), c.body.begin(), c.body.end());
        for (uint32_t word : {Op(1, 2), Dst(8, 0), Src(0, 0), End}) { // mov oC0, r0
            words.push_back(word);
        }
        GpuShaderProgram program;
        std::string error;
        ASSERT_TRUE(DecodeShaderProgram(StreamBytes(words), GpuShaderKind::Pixel, program, error))
            << error;
        const BlockProgram block(program);
        ASSERT_FALSE(block.Instructions().empty());
        EXPECT_EQ(block.Instructions()[0].crossed, c.crossed);
    }
}

// A large draw's vertex blocks run on several threads; the frame must be the one the reference
// interpreter makes vertex by vertex.
TEST(ShaderBlock, VertexProgramsDrawWhatTheReferenceDraws) {
    struct Vertex {
        float position[3];
        uint32_t color;
        float uv[2];
    };
    const GpuVertexElement elements[] = {
        {0, 0, GpuDeclType::Float3, GpuDeclUsage::Position, 0},
        {0, 12, GpuDeclType::Color, GpuDeclUsage::Color, 0},
        {0, 16, GpuDeclType::Float2, GpuDeclUsage::TexCoord, 0},
    };
    // oPos = v0 by c0..c3; oD0 = v1 * c4; a0.x = round(v2.x * 4); oD1 = c[a0.x + 5]; oT0 = v2.
    const std::vector<uint32_t> words = {
        Vs20,      Op(31, 2), DclUsage(0), Dst(1, 0),          Op(31, 2), DclUsage(10),
        Dst(1, 1), Op(31, 2), DclUsage(5), Dst(1, 2),          Op(20, 3), Dst(4, 0),
        Src(1, 0), Src(2, 0), Op(5, 3),    Dst(5, 0),          Src(1, 1), Src(2, 4),
        Op(5, 3),  Dst(0, 0), Src(1, 2),   Src(2, 4, 0x00),    Op(46, 2), Dst(3, 0, 0x1),
        Src(0, 0), Op(1, 3),  Dst(5, 1),   Src(2, 5) | 0x2000, Reg(3, 0), Op(1, 2),
        Dst(6, 0), Src(1, 2), End};
    LaneNoise noise(3);
    std::vector<Vertex> vertices(3 * 1200);
    for (Vertex& v : vertices) {
        for (float& p : v.position) {
            p = static_cast<float>(noise.Below(2000)) / 1000.0f - 1.0f;
        }
        v.color = noise.Next() << 8 | noise.Next() >> 16;
        v.uv[0] = static_cast<float>(noise.Below(100)) / 100.0f;
        v.uv[1] = static_cast<float>(noise.Below(100)) / 100.0f;
    }
    float constants[16][4] = {
        {1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 0.5f, 0}, {0, 0, 0.5f, 1}, {0.9f, 0.8f, 0.7f, 4}};
    for (uint32_t i = 5; i < 16; ++i) {
        for (float& c : constants[i]) {
            c = static_cast<float>(noise.Below(100)) / 100.0f;
        }
    }
    auto render = [&] {
        auto device = SoftwareDevice::Create(
            {.backBufferWidth = 64, .backBufferHeight = 48, .lockableBackBuffer = true});
        device->SetRasterizer(std::make_unique<SoftwareRasterizer>(3));
        auto declaration = device->CreateVertexDeclaration(elements);
        device->SetVertexDeclaration(declaration.get());
        std::string error;
        auto shader = device->CreateShader(GpuShaderKind::Vertex, StreamBytes(words), error);
        EXPECT_NE(shader, nullptr) << error;
        device->SetVertexShader(shader.get());
        device->SetShaderConstants(GpuShaderKind::Vertex, 0, constants[0], 16);
        device->SetRenderState(GpuRenderState::CullMode, static_cast<uint32_t>(GpuCull::None));
        device->SetRenderState(GpuRenderState::SpecularEnable, 1);
        device->Clear({}, GpuClearTarget, 0xFF000000, 1.0f, 0);
        EXPECT_EQ(device->DrawPrimitiveUP(GpuPrimitiveType::TriangleList, 1200, vertices.data(),
                                          sizeof(Vertex)),
                  GpuResult::Ok);
        auto* back = static_cast<SoftwareSurface*>(device->GetBackBuffer());
        return std::vector<uint8_t>(back->Bits(), back->Bits() + back->Pitch() * back->Height());
    };
    AllowShaderBlocks(false);
    const std::vector<uint8_t> reference = render();
    AllowShaderBlocks(true);
    for (bool wide : {false, true}) {
        AllowWideLanes(wide);
        EXPECT_EQ(render(), reference) << (wide ? "eight lanes" : "four lanes");
        AllowWideLanes(true);
    }
    EXPECT_NE(reference, std::vector<uint8_t>(reference.size(), 0));
}

} // namespace
} // namespace quarn
