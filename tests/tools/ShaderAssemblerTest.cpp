#include "tools/ShaderAssembler.h"

#include "TestPaths.h"
#include "tests/support/ShaderTokens.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace quarn {
namespace {

using namespace test;

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The engine's embedded shaders are their sources assembled: after editing a source, write the
// file again with
//   for f in tools/shaders/*.asm; do quarn-tool shader asm $f res/$(basename $f .asm); done
TEST(ShaderAssembler, EmbeddedShadersAreTheirSourcesAssembled) {
    const std::filesystem::path sources = QUARN_SOURCE_DIR "/tools/shaders";
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(sources)) {
        names.push_back(entry.path().stem().string());
        SCOPED_TRACE(names.back());
        AssembledShaders shaders;
        std::string error;
        ASSERT_TRUE(AssembleShaders(ReadBytes(entry.path()), shaders, error)) << error;
        std::vector<uint8_t> bytes;
        const std::string extension = std::filesystem::path(names.back()).extension().string();
        ASSERT_TRUE(ShaderFileBytes(shaders, extension.substr(1), bytes, error)) << error;
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
                  ReadBytes(QUARN_SOURCE_DIR "/res/" + names.back()));
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"auto_uv.vsh_raw", "auto_uv2.vsh_raw", "missing.psh_raw",
                                        "op_blur_horizontal.fx_raw", "op_blur_vertical.fx_raw",
                                        "op_brightness.psh_raw", "op_copy.psh_raw",
                                        "op_darken.fx_raw", "op_glow.fx_raw", "op_highpass.fx_raw",
                                        "op_invert.fx_raw", "shadow_volume_dir.fx_raw",
                                        "terrain_singlelayer_n.vsh_raw",
                                        "uv_border_clip_v20.psh_raw"}));
}

struct WordsCase {
    const char* source;
    std::vector<uint32_t> vertex;
    std::vector<uint32_t> pixel;
};

TEST(ShaderAssembler, SourcesGiveTheTokensOfTheStreamFormat) {
    const uint32_t a0 = Reg(3, 0);
    const WordsCase cases[] = {
        {"vs_1_1\ndcl_position v0\ndcl_texcoord2 v3 ; remark\nm4x4 oPos, v0, c0 // remark\n"
         "mov oT0.xy, -v3.yx\nmov oFog, c[a0.x + 9].w\nmul_sat oD1.xzw, r11, c[a0.x]\n",
         {Vs11,
          31,
          DclUsage(0),
          Dst(1, 0),
          31,
          DclUsage(5, 2),
          Dst(1, 3),
          20,
          Dst(4, 0),
          Src(1, 0),
          Src(2, 0),
          1,
          Dst(6, 0, 0x3),
          Neg(Src(1, 3, 0x01)),
          1,
          Dst(4, 1),
          Src(2, 9, 0xFF) | 0x2000,
          5,
          Sat(Dst(5, 1, 0xD)),
          Src(0, 11),
          Src(2, 0) | 0x2000,
          End},
         {}},
        {"vs_2_0\nmova a0.yz, r0\nadd r1, c[a0.z + 255], v15.wzyx\ncomment 0x1, 0xfffe\n"
         "comment\ndef c3, 1.5, -0, 0x7FC00001, 3e38\n",
         {Vs20,
          Op(46, 2),
          Dst(3, 0, 0x6),
          Src(0, 0),
          Op(2, 4),
          Dst(0, 1),
          Src(2, 255) | 0x2000,
          a0 | 0xAA << 16,
          Src(1, 15, 0x1B),
          0x0002FFFE,
          1,
          0xFFFE,
          0x0000FFFE,
          Op(81, 5),
          Dst(2, 3),
          0x3FC00000,
          0x80000000,
          0x7FC00001,
          0x7F61B1E6,
          End},
         {}},
        {"ps_2_0\ndcl t0.xy\ndcl v1\ndcl_2d s0\ndcl_cube s15\ntexld r0, t0, s0\n"
         "texldp r1, t7, s15\ntexldb r31, r0, s0\ntexkill t0\nmov oC0, r0.a\n",
         {},
         {Ps20,         Op(31, 2),           0x80000000, Dst(3, 0, 0x3),
          Op(31, 2),    0x80000000,          Dst(1, 1),  Op(31, 2),
          DclSampler2D, Dst(10, 0),          Op(31, 2),  0x80000000u | 3u << 27,
          Dst(10, 15),  Op(66, 3),           Dst(0, 0),  Src(3, 0),
          Src(10, 0),   Op(66, 3) | 1 << 16, Dst(0, 1),  Src(3, 7),
          Src(10, 15),  Op(66, 3) | 2 << 16, Dst(0, 31), Src(0, 0),
          Src(10, 0),   Op(65, 1),           Dst(3, 0),  Op(1, 2),
          Dst(8, 0),    Src(0, 0, 0xFF),     End}},
        {"ps_2_0\nmov oC0, c31\nvs_1_1\n",
         {Vs11, End},
         {Ps20, Op(1, 2), Dst(8, 0), Src(2, 31), End}},
        {"", {}, {}},
    };
    for (const WordsCase& c : cases) {
        SCOPED_TRACE(c.source);
        AssembledShaders shaders;
        std::string error;
        ASSERT_TRUE(AssembleShaders(c.source, shaders, error)) << error;
        EXPECT_EQ(shaders.vertex, c.vertex);
        EXPECT_EQ(shaders.pixel, c.pixel);
    }
}

TEST(ShaderAssembler, BadSourcesFailNamingTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"mov r0, c0", "line 1: 'mov' before the version line"},
        {"vs_1_1\n\nmvo r0, c0", "line 3: unknown instruction 'mvo' in this version"},
        {"vs_1_1\nmova a0.x, r0", "line 2: unknown instruction 'mova' in this version"},
        {"ps_2_0\nslt r0, r1, r2", "line 2: unknown instruction 'slt' in this version"},
        {"vs_1_1\nmov r0, c256", "line 2: register out of range 'c256'"},
        {"vs_1_1\nmov r12, c0", "line 2: cannot write 'r12'"},
        {"ps_2_0\nmov oC1, r0", "line 2: cannot write 'oC1'"},
        {"ps_2_0\nmov r0, q1", "line 2: unknown register 'q1'"},
        {"ps_2_0\nmov r0, c[a0.x]",
         "line 2: only a vertex program's constants take a relative address: 'c[a0.x]'"},
        {"vs_1_1\nmov r0, c[a0.y + 1]",
         "line 2: vs_1_1 addresses constants through a0.x only: 'c[a0.y + 1]'"},
        {"vs_2_0\nmov r0, r[a0.x]",
         "line 2: only a vertex program's constants take a relative address: 'r[a0.x]'"},
        {"vs_1_1\nmov r0, c[a0.x - 1]", "line 2: bad relative address 'c[a0.x - 1]'"},
        {"vs_1_1\nmov r0.yx, r1", "line 2: bad write mask 'r0.yx'"},
        {"vs_1_1\nmov r0, r1.xyzwx", "line 2: bad swizzle 'r1.xyzwx'"},
        {"vs_1_1\nmov -r0, r1", "line 2: bad destination '-r0'"},
        {"vs_1_1\nmov r0, r1, r2", "line 2: 'mov' takes 2 operands"},
        {"vs_1_1\nmov r0,", "line 2: empty operand"},
        {"vs_1_1\nvs_2_0", "line 2: a second vertex program"},
        {"vs_1_1 r0", "line 1: a version line takes no operands"},
        {"ps_2_0\ndcl_position v0", "line 2: 'dcl_position' cannot declare 'v0'"},
        {"vs_1_1\ndcl_tangent v0", "line 2: unknown declaration 'dcl_tangent'"},
        {"vs_1_1\ndcl_texcoord16 v0", "line 2: unknown declaration 'dcl_texcoord16'"},
        {"vs_1_1\ndef r0, 1, 2, 3, 4", "line 2: 'def' defines a constant register, not 'r0'"},
        {"vs_1_1\ndef c0, 1, 2, 3, x", "line 2: bad number 'x'"},
        {"vs_1_1\ncomment hello", "line 2: bad comment word 'hello'"},
    };
    for (const auto& [source, reason] : cases) {
        AssembledShaders shaders;
        std::string error;
        EXPECT_FALSE(AssembleShaders(source, shaders, error)) << source;
        EXPECT_EQ(error, reason);
    }
}

std::vector<uint8_t> FileBytes(const char* source, const char* extension) {
    AssembledShaders shaders;
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(AssembleShaders(source, shaders, error)) << error;
    EXPECT_TRUE(ShaderFileBytes(shaders, extension, bytes, error)) << error;
    return bytes;
}

TEST(ShaderDisassembler, PrintsFilesSoThatAssemblingTheTextGivesTheSameBytes) {
    const char* both = "vs_2_0\n"
                       "dcl_position v0\n"
                       "dcl_color1 v2\n"
                       "def c100, 0x7FC00001, -0, 1.5, 3e+38\n"
                       "mova a0.y, v0.x\n"
                       "mov r0, c[a0.y + 4].wzyx\n"
                       "mov r1, -c[a0.x]\n"
                       "sincos r2.xy, r0.x, c0, c1\n"
                       "lrp_sat oT0, r0, r1.xyz, r2\n"
                       "comment 0x00000001, 0xDEADBEEF\n"
                       "m4x4 oPos, v0, c0\n"
                       "\n"
                       "ps_2_0\n"
                       "dcl_cube s3\n"
                       "dcl t1\n"
                       "dcl v1.xyz\n"
                       "texldp r0, t1, s3\n"
                       "texkill t1\n"
                       "cmp r2, -r0, r1, c0.y\n"
                       "dp2add r3.x, r0, r1, c1.x\n"
                       "mov oC0, r3.x\n";
    const std::pair<const char*, const char*> cases[] = {
        {both, "fx_raw"},
        {"ps_2_0\nmov oC0, c6\n", "fx_raw"},
        {"", "fx_raw"},
        {"vs_1_1\nexpp r0, c[a0.x + 3].y\nmov oPos, r0\n", "vsh_raw"},
        {"ps_2_0\nmov_sat oC0, -v0.xyzx\n", "PSH_RAW"},
    };
    for (const auto& [source, extension] : cases) {
        SCOPED_TRACE(source);
        const std::vector<uint8_t> bytes = FileBytes(source, extension);
        std::string text;
        std::string error;
        ASSERT_TRUE(DisassembleShaderFile(bytes, extension, text, error)) << error;
        EXPECT_EQ(text, source);
        EXPECT_EQ(FileBytes(text.c_str(), extension), bytes);
    }
}

struct RefusedFile {
    const char* extension;
    std::vector<uint32_t> words;
    const char* error;
};

TEST(ShaderDisassembler, FilesThatCannotBePrintedExactlyFailNamingTheWord) {
    const std::vector<uint32_t> pixel = {Ps20, Op(1, 2), Dst(8, 0), Src(2, 6), End};
    const RefusedFile cases[] = {
        {"psh_raw", {Ps20, Op(0x28, 0), End}, "unsupported opcode 0x28 at word 1"},
        {"vsh_raw", {Vs11, Op(1, 0), Dst(4, 0)}, "shader ends without its end token at word 3"},
        {"psh_raw", {Ps20, End, 7}, "data after the end token at word 2"},
        // A reserved bit the decoder passes over still keeps the words from being printed.
        {"psh_raw",
         {Ps20, Op(1, 2), Dst(8, 0) | 1 << 14, Src(2, 6), End},
         "unsupported encoding 0x800F4800 at word 2"},
        {"vsh_raw",
         {Vs11, Op(1, 2), Dst(4, 0), Src(2, 6), End},
         "unsupported encoding 0x02000001 at word 1"},
        {"fx_raw", {}, "missing vertex program length at word 0"},
        {"fx_raw", {1000, Vs11, End}, "program length past the end of the file at word 0"},
        {"fx_raw", {0}, "missing pixel program length at word 1"},
        {"fx_raw",
         {0, 6, Ps20, Op(1, 2), Dst(8, 0), Src(2, 6), End, 0},
         "pixel program: data after the end token at word 5"},
        {"fx_raw", {0, 2, Ps20, Op(0x28, 0)}, "pixel program: unsupported opcode 0x28 at word 1"},
        {"fx_raw", {0, 0, 0}, "data after the container at word 2"},
        {"vsh", {Vs11, End}, "unknown shader file extension \"vsh\""},
    };
    for (const RefusedFile& c : cases) {
        std::string text;
        std::string error;
        EXPECT_FALSE(DisassembleShaderFile(StreamBytes(c.words), c.extension, text, error))
            << c.error;
        EXPECT_EQ(error, c.error);
    }
    AssembledShaders shaders;
    std::string error;
    ASSERT_TRUE(AssembleShaders("vs_1_1\n", shaders, error));
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(ShaderFileBytes(shaders, "psh_raw", bytes, error));
    EXPECT_EQ(error, "a \".psh_raw\" file holds one pixel program and nothing else");
}

} // namespace
} // namespace quarn
