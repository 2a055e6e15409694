// The shader assembler both ways. Bytes read as each shader file print as source that assembles
// to the same bytes, or fail with a reason; text read as source assembles to programs the
// decoder takes, which print and assemble back to the same words, or fails with a reason.
#include "tools/ShaderAssembler.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

void CheckFile(std::span<const uint8_t> bytes, const char* extension) {
    std::string text;
    std::string error;
    if (!quarn::DisassembleShaderFile(bytes, extension, text, error)) {
        if (error.empty()) {
            std::abort();
        }
        return;
    }
    quarn::AssembledShaders again;
    std::vector<uint8_t> written;
    if (!quarn::AssembleShaders(text, again, error) ||
        !quarn::ShaderFileBytes(again, extension, written, error) ||
        !std::equal(written.begin(), written.end(), bytes.begin(), bytes.end())) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    for (const char* extension : {"vsh_raw", "psh_raw", "fx_raw"}) {
        CheckFile(bytes, extension);
    }
    quarn::AssembledShaders shaders;
    std::string error;
    if (!quarn::AssembleShaders(std::string_view(reinterpret_cast<const char*>(data), size),
                                shaders, error)) {
        if (error.empty()) {
            std::abort();
        }
        return 0;
    }
    std::vector<uint8_t> file;
    if (!quarn::ShaderFileBytes(shaders, "fx_raw", file, error)) {
        std::abort();
    }
    CheckFile(file, "fx_raw");
    return 0;
}
