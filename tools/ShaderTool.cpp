#include "tools/ShaderTool.h"

#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/string/Text.h"
#include "tools/ShaderAssembler.h"
#include "tools/ToolInput.h"
#include "tools/ToolStatus.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace quarn {
namespace {

bool WriteStdout(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
           std::fflush(stdout) == 0;
}

int Assemble(const char* in, const char* out, std::string& reason) {
    std::vector<uint8_t> source;
    if (!ReadToolInput(in, source, reason)) {
        return ExitFailed;
    }
    AssembledShaders shaders;
    std::vector<uint8_t> bytes;
    std::string error;
    if (!AssembleShaders(
            std::string_view(reinterpret_cast<const char*>(source.data()), source.size()), shaders,
            error) ||
        !ShaderFileBytes(shaders, GetPathExtension(out), bytes, error)) {
        reason = std::string(in) + ": " + error;
        return ExitFailed;
    }
    if (!WriteWholeFile(out, bytes, WriteCreateFolders)) {
        reason = std::string("cannot write ") + out;
        return ExitFailed;
    }
    return ExitDone;
}

int Disassemble(const char* path, std::string& reason) {
    std::vector<uint8_t> bytes;
    if (!ReadToolInput(path, bytes, reason)) {
        return ExitFailed;
    }
    std::string text;
    std::string error;
    if (!DisassembleShaderFile(bytes, GetPathExtension(path), text, error)) {
        reason = std::string(path) + ": " + error;
        return ExitFailed;
    }
    if (!WriteStdout(text)) {
        reason = "cannot write to stdout";
        return ExitFailed;
    }
    return ExitDone;
}

} // namespace

int RunShaderTool(char** arguments, std::string& reason) {
    const char* action = arguments[0];
    const int given = arguments[1] == nullptr ? 0 : arguments[2] == nullptr ? 1 : 2;
    if (std::strcmp(action, "asm") == 0 && given == 2) {
        return Assemble(arguments[1], arguments[2], reason);
    }
    if (std::strcmp(action, "dis") == 0 && given == 1) {
        return Disassemble(arguments[1], reason);
    }
    if (std::strcmp(action, "syntax") == 0 && given == 0) {
        if (!WriteStdout(ShaderSourceSyntax)) {
            reason = "cannot write to stdout";
            return ExitFailed;
        }
        return ExitDone;
    }
    reason.clear(); // the command's usage line says it all
    return ExitUsage;
}

} // namespace quarn
