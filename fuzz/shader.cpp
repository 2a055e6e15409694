// Shader token streams as a vertex and as a pixel program, and the same bytes as an "fx_raw"
// container: whatever the words claim, decoding either fails with a reason or yields a program
// that ends at its end token inside the data, and a container load makes both programs or none.
#include "device/DeviceShader.h"
#include "gpu/software/SoftwareDevice.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
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
    static std::unique_ptr<quarn::SoftwareDevice> device = [] {
        quarn::GpuPresentParameters parameters;
        parameters.backBufferWidth = 8;
        parameters.backBufferHeight = 8;
        return quarn::SoftwareDevice::Create(parameters);
    }();
    if (!device) {
        std::abort();
    }
    quarn::DeviceShader shader(*device);
    if (!shader.Load(data, static_cast<uint32_t>(size), "fuzz.fx_raw", "") &&
        (shader.HasVertexProgram() || shader.HasPixelProgram())) {
        std::abort(); // a failed load leaves no programs
    }
    return 0;
}
