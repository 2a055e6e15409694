#pragma once

// Test shaders written in assembly into a test's folder, under a name whose extension says the
// file kind ("psh_raw", "fx_raw").

#include "tests/support/TempFolder.h"
#include "tools/ShaderAssembler.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn::test {

inline void WriteShaderFile(TempFolder& folder, const std::string& name, const char* source) {
    AssembledShaders shaders;
    std::string error;
    ASSERT_TRUE(AssembleShaders(source, shaders, error)) << error;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ShaderFileBytes(shaders, name.substr(name.rfind('.') + 1), bytes, error)) << error;
    folder.WriteFile(name.c_str(), std::string(bytes.begin(), bytes.end()));
}

} // namespace quarn::test
