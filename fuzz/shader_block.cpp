// Shader token streams as vertex and pixel programs, through the reference interpreter and the
// block runner on four and on eight lanes: whatever a stream that decodes asks, both give every
// output bit and every texkill alike, on inputs and constants drawn from the bytes.
#include "gpu/ShaderProgram.h"
#include "tests/support/ShaderBlockCompare.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t seed = 2166136261u;
    for (size_t i = 0; i < size; ++i) {
        seed = (seed ^ data[i]) * 16777619u;
    }
    for (quarn::GpuShaderKind kind : {quarn::GpuShaderKind::Vertex, quarn::GpuShaderKind::Pixel}) {
        quarn::GpuShaderProgram program;
        std::string error;
        if (!quarn::DecodeShaderProgram(std::span(data, size), kind, program, error)) {
            continue;
        }
        for (bool wide : {false, true}) {
            const std::string difference = quarn::test::CompareWithReference(program, seed, wide);
            if (!difference.empty()) {
                std::fprintf(stderr, "the block runner differs: %s\n", difference.c_str());
                std::abort();
            }
        }
    }
    return 0;
}
