#include "gpu/software/ShaderBlock.h"

#include "core/filesystem/EmbeddedFiles.h"
#include "core/io/ByteOrder.h"
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

} // namespace
} // namespace quarn
