#include "tools/ScriptTool.h"

#include "app/ClassRegistration.h"
#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "script/ScriptResource.h"
#include "tools/ScriptAssembler.h"
#include "tools/ScriptProgramBuilder.h"
#include "tools/ToolInput.h"
#include "tools/ToolStatus.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace quarn {

namespace {

// The loader's last word on a program it could not take.
std::string lastLoadLine;

void KeepLoadLine(const char*, const char* text) {
    lastLoadLine = text ? text : "";
}

int Assemble(const char* in, const char* out, std::string& reason) {
    std::vector<uint8_t> bytes;
    if (!ReadToolInput(in, bytes, reason)) {
        return ExitFailed;
    }
    ScriptProgramBuilder builder;
    std::string error;
    if (!AssembleScript(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                        builder, error)) {
        reason = std::string(in) + ":" + error;
        return ExitFailed;
    }
    if (!builder.Write(out, error)) {
        reason = error;
        return ExitFailed;
    }
    return ExitDone;
}

int Disassemble(const char* path, std::string& reason) {
    SetLogSink(KeepLoadLine);
    ScriptResource* program = GetScriptResource(path);
    SetLogSink(nullptr);
    std::string text;
    if (program->GetState() & ResourcePlaceholder) {
        reason = std::string("cannot load ") + path + ": neither it nor its code file exists";
    } else if (!program->GetCode()) {
        reason = std::string(path) + " has no code: " +
                 (lastLoadLine.empty() ? "its code file is older than it" : lastLoadLine);
    } else {
        text = DisassembleScript(*program);
    }
    program->Release();
    if (!reason.empty()) {
        return ExitFailed;
    }
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        reason = "cannot write to stdout";
        return ExitFailed;
    }
    return ExitDone;
}

} // namespace

int RunScriptTool(char** arguments, std::string& reason) {
    // Class names in types and operands resolve against the engine's own registrations.
    RegisterAllClasses();
    if (std::strcmp(arguments[0], "asm") == 0 && arguments[1] && arguments[2]) {
        return Assemble(arguments[1], arguments[2], reason);
    }
    if (std::strcmp(arguments[0], "dis") == 0 && arguments[1] && !arguments[2]) {
        return Disassemble(arguments[1], reason);
    }
    reason.clear(); // the command's usage line says it all
    return ExitUsage;
}

} // namespace quarn
