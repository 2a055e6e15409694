// Shader token streams as a vertex and as a pixel program: whatever the words claim, decoding
// either fails with a reason or yields a program that ends at its end token inside the data.
#include "gpu/ShaderProgram.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (quarn::GpuShaderKind kind : {quarn::GpuShaderKind::Vertex, quarn::GpuShaderKind::Pixel}) {
        quarn::GpuShaderProgram program;
        std::string error;
        bool ok = quarn::DecodeShaderProgram(std::span(data, size), kind, program, error);
        if (ok ? program.tokens.size() * 4 > size ||
                     program.tokens.back() != quarn::GpuShaderEndToken
               : error.empty()) {
            std::abort();
        }
    }
    return 0;
}
