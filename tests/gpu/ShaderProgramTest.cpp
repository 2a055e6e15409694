#include "gpu/ShaderProgram.h"

#include "tests/support/ShaderTokens.h"

#include <gtest/gtest.h>
#include <vector>

namespace quarn {
namespace {

using namespace test;

struct StreamCase {
    const char* name;
    GpuShaderKind kind;
    std::vector<uint32_t> words;
    const char* error; // nullptr: decodes
};

// The version word, `count` times each instruction of `body` (of `length` words), the end.
std::vector<uint32_t> Repeated(uint32_t version, const std::vector<uint32_t>& body, int count) {
    std::vector<uint32_t> words = {version};
    for (int i = 0; i < count; ++i) {
        words.insert(words.end(), body.begin(), body.end());
    }
    words.push_back(End);
    return words;
}

TEST(ShaderProgram, StreamsDecodeOrFailNamingTheWord) {
    const uint32_t c255 = Src(2, 255);
    // mov oC0, c6 (3 words) and texld r0, t0, s0 (4 words); mov oPos, c255 (3 words).
    const std::vector<uint32_t> pixelMov = {Op(1, 2), Dst(8, 0), Src(2, 6)};
    const std::vector<uint32_t> texld = {Op(66, 3), Dst(0, 0), Src(3, 0), Src(10, 0)};
    std::vector<uint32_t> atLimits = Repeated(Ps20, pixelMov, 64);
    atLimits.pop_back();
    for (int i = 0; i < 32; ++i) {
        atLimits.insert(atLimits.end(), texld.begin(), texld.end());
    }
    atLimits.push_back(End);
    std::vector<uint32_t> textureOver = atLimits;
    textureOver.insert(textureOver.end() - 1, texld.begin(), texld.end());
    const std::vector<uint32_t> vertexMov = {Op(1, 2), Dst(4, 0), c255};
    const StreamCase cases[] = {
        {"vs_1_1 with comment",
         GpuShaderKind::Vertex,
         {Vs11, 0x0002FFFE, 1, 2, Op(1, 0), Dst(4, 0), c255, End},
         nullptr},
        {"ps_2_0 every register",
         GpuShaderKind::Pixel,
         {Ps20, Op(66, 3), Dst(0, 31), Src(3, 7), Src(10, 15), Op(2, 3), Dst(8, 0), Src(1, 1),
          Src(2, 31), End},
         nullptr},
        {"pixel texkill of t#", GpuShaderKind::Pixel, {Ps20, Op(65, 1), Dst(3, 0), End}, nullptr},
        {"vs_1_1 relative constant reads a0.x without a token",
         GpuShaderKind::Vertex,
         {Vs11, Op(1, 0), Dst(4, 0), Src(2, 4) | 0x2000, End},
         nullptr},
        {"vs_2_0 relative constant",
         GpuShaderKind::Vertex,
         {Vs20, Op(1, 3), Dst(0, 0), Src(2, 4) | 0x2000, Reg(3, 0) | 0x1 << 16, End},
         nullptr},
        {"unknown version",
         GpuShaderKind::Vertex,
         {0xFFFE0300, End},
         "unsupported shader version 0xFFFE0300 at word 0"},
        {"pixel stream given as vertex",
         GpuShaderKind::Vertex,
         {Ps20, End},
         "unsupported shader version 0xFFFF0200 at word 0"},
        {"no end token",
         GpuShaderKind::Vertex,
         {Vs11, Op(1, 0), Dst(4, 0), c255},
         "shader ends without its end token at word 4"},
        {"comment longer than the data",
         GpuShaderKind::Vertex,
         {Vs11, 0x0009FFFE, End},
         "shader ends without its end token at word 3"},
        {"truncated operands",
         GpuShaderKind::Pixel,
         {Ps20, Op(4, 4), Dst(0, 0), Src(0, 0)},
         "shader ends without its end token at word 4"},
        {"unknown opcode",
         GpuShaderKind::Vertex,
         {Vs11, Op(0x28, 0), Src(0, 0), End},
         "unsupported opcode 0x28 at word 1"},
        {"pixel-only opcode in a vertex program",
         GpuShaderKind::Vertex,
         {Vs11, Op(66, 0), Dst(0, 0), Src(0, 0), Src(0, 0), End},
         "unsupported opcode 0x42 at word 1"},
        {"vs_2_0 opcode in vs_1_1",
         GpuShaderKind::Vertex,
         {Vs11, Op(36, 0), Dst(0, 0), Src(0, 0), End},
         "unsupported opcode 0x24 at word 1"},
        {"vertex temp r12",
         GpuShaderKind::Vertex,
         {Vs11, Op(1, 0), Dst(0, 12), c255, End},
         "register out of range at word 2"},
        {"vertex constant c256",
         GpuShaderKind::Vertex,
         {Vs11, Op(1, 0), Dst(4, 0), Src(2, 256), End},
         "register out of range at word 3"},
        {"pixel constant c32",
         GpuShaderKind::Pixel,
         {Ps20, Op(1, 2), Dst(8, 0), Src(2, 32), End},
         "register out of range at word 3"},
        {"writing an input",
         GpuShaderKind::Pixel,
         {Ps20, Op(1, 2), Dst(1, 0), Src(2, 0), End},
         "register out of range at word 2"},
        {"wrong length",
         GpuShaderKind::Pixel,
         {Ps20, Op(1, 3), Dst(8, 0), Src(2, 0), End},
         "instruction length does not match its operands at word 1"},
        {"source modifier beyond negation",
         GpuShaderKind::Pixel,
         {Ps20, Op(1, 2), Dst(8, 0), Src(2, 0) | 7u << 24, End},
         "unsupported source modifier 0x7 at word 3"},
        {"relative pixel constant",
         GpuShaderKind::Pixel,
         {Ps20, Op(1, 2), Dst(8, 0), Src(2, 0) | 0x2000, End},
         "relative addressing of a register that cannot be indexed at word 3"},
        {"volume sampler",
         GpuShaderKind::Pixel,
         {Ps20, Op(31, 2), 0x80000000u | 4u << 27, Dst(10, 0), End},
         "unsupported sampler type 0x4 at word 2"},
        {"ps_2_0 at its 64 arithmetic and 32 texture instructions",
         GpuShaderKind::Pixel,
         atLimits,
         nullptr},
        {"a 65th arithmetic instruction",
         GpuShaderKind::Pixel,
         Repeated(Ps20, pixelMov, 65),
         "pixel program of more than 64 arithmetic instructions at word 193"},
        {"50,000 arithmetic instructions",
         GpuShaderKind::Pixel,
         Repeated(Ps20, pixelMov, 50000),
         "pixel program of more than 64 arithmetic instructions at word 193"},
        {"a 33rd texture instruction",
         GpuShaderKind::Pixel,
         textureOver,
         "pixel program of more than 32 texture instructions at word 321"},
        {"vs_1_1 at 128", GpuShaderKind::Vertex, Repeated(Vs11, vertexMov, 128), nullptr},
        {"vs_1_1 past 128",
         GpuShaderKind::Vertex,
         Repeated(Vs11, vertexMov, 129),
         "vertex program of more than 128 instructions at word 385"},
        {"vs_2_0 at 256", GpuShaderKind::Vertex, Repeated(Vs20, vertexMov, 256), nullptr},
        {"vs_2_0 past 256",
         GpuShaderKind::Vertex,
         Repeated(Vs20, vertexMov, 257),
         "vertex program of more than 256 instructions at word 769"},
        {"tangent input",
         GpuShaderKind::Vertex,
         {Vs11, Op(31, 0), 0x80000006u, Dst(1, 0), End},
         "unsupported input usage 0x6 at word 2"},
    };
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = StreamBytes(c.words);
        GpuShaderProgram program;
        std::string error;
        bool ok = DecodeShaderProgram(bytes, c.kind, program, error);
        if (c.error == nullptr) {
            EXPECT_TRUE(ok) << error;
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(error, c.error);
        }
    }
}

TEST(ShaderProgram, DataNotAWholeWordEndsTheStream) {
    std::vector<uint8_t> bytes = StreamBytes({Vs11, End});
    bytes.pop_back();
    GpuShaderProgram program;
    std::string error;
    EXPECT_FALSE(DecodeShaderProgram(bytes, GpuShaderKind::Vertex, program, error));
    EXPECT_EQ(error, "shader ends without its end token at word 1");
}

} // namespace
} // namespace quarn
