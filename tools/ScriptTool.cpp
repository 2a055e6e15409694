#include "tools/ScriptTool.h"

#include "app/dialogs/DialogBackend.h"
#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/Property.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "core/object/ValueType.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"
#include "script/machine/ScriptContext.h"
#include "script/machine/ScriptLibrary.h"
#include "script/machine/ScriptNode.h"
#include "script/machine/ScriptResource.h"
#include "tools/ScriptAssembler.h"
#include "tools/ScriptProgramBuilder.h"
#include "tools/ScriptReference.h"
#include "tools/ToolInput.h"
#include "tools/ToolScene.h"
#include "tools/ToolStatus.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace quarn {

namespace {

// The loader's last word on a program it could not take.
std::string lastLoadLine;
// Every line a run logged, its warnings for the user.
std::vector<std::string> runLines;

void KeepLoadLine(const char*, const char* text) {
    lastLoadLine = text ? text : "";
}

// Whether a logged line tells what stdout shows already: a dialog the run asked (its errors
// are printed) or a Print of the program.
bool IsShownLine(const char* channel, const std::string& text) {
    return (channel && std::strcmp(channel, "dialog") == 0) ||
           IsScriptPrintLine(channel, text.c_str());
}

void KeepRunLine(const char* channel, const char* text) {
    KeepLoadLine(channel, text);
    if (!IsShownLine(channel, lastLoadLine)) {
        runLines.push_back(lastLoadLine);
    }
}

int Assemble(const char* in, const char* out, std::string& reason) {
    std::vector<uint8_t> bytes;
    if (!ReadToolInput(in, bytes, reason)) {
        return ExitFailed;
    }
    ScriptProgramBuilder builder;
    std::string error;
    ScriptAssemblyOptions options;
    options.sourceName = FindFileName(in);
    options.checkTypes = true;
    if (!AssembleScript(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                        builder, error, options)) {
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
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
        reason = "cannot write to stdout";
        return ExitFailed;
    }
    return ExitDone;
}

// What "script run" was asked for.
struct RunRequest {
    const char* path = nullptr;
    int frames = 1;
    const char* function = nullptr;
    std::vector<const char*> arguments;
};

bool ParseRunRequest(char** arguments, RunRequest& request, std::string& reason) {
    request.path = arguments[0];
    for (char** at = arguments + 1; *at; ++at) {
        if (std::strcmp(*at, "--frames") == 0 && at[1]) {
            const char* end = nullptr;
            const double frames = ParseDouble(at[1], &end);
            if (*end != '\0' || frames < 0 || frames > 1000000 || frames != int(frames)) {
                reason = std::string("--frames must be a whole number from 0 to 1000000, not \"") +
                         at[1] + "\"";
                return false;
            }
            request.frames = int(frames);
            ++at;
        } else if (std::strcmp(*at, "--call") == 0 && at[1]) {
            request.function = at[1];
            for (char** argument = at + 2; *argument; ++argument) {
                request.arguments.push_back(*argument);
            }
            return true;
        } else {
            reason = std::string("unknown option \"") + *at + "\"";
            return false;
        }
    }
    return true;
}

// Programs name string64 by its own type number; properties know it as TypeString64.
int32_t PropertyType(int32_t type) {
    return type == TypeString64Alias ? TypeString64 : type;
}

// The text form of a value of that type, as a property of it prints; a type no property has
// (int3, char) prints every word as a number, with ',' between them.
std::string ValueText(int32_t type, const uint32_t* words) {
    if (std::unique_ptr<Property> descriptor = CreateProperty(PropertyType(type))) {
        return descriptor->Print(words);
    }
    std::string text;
    for (int32_t word = 0; word < std::max(GetTypeWordCount(type), 1); ++word) {
        if (word > 0) {
            text += ',';
        }
        text += std::to_string(static_cast<int32_t>(words[word]));
    }
    return text;
}

// Reads an argument as the parameter's type; false with a reason for a text that is none, or
// that a string64 could hold only in part.
bool ReadArgument(int32_t type, const char* text, uint32_t* value, std::string& reason) {
    if (PropertyType(type) == TypeString64) {
        if (std::strlen(text) >= PropertyString64::Capacity) {
            reason = std::string("\"") + text + "\" is longer than the " +
                     std::to_string(PropertyString64::Capacity - 1) + " characters of a string64";
            return false;
        }
        CreateProperty(TypeString64)->Parse(text, value);
        return true;
    }
    if (!ParseTypedValue(type, text, value)) {
        reason = std::string("\"") + text + "\" is no " + GetTypeName(type);
        return false;
    }
    return true;
}

// The report of a dialog the run asked, without the layout's closing lines.
std::string ReportText(const std::string& text) {
    std::string report = text.ends_with("\n.") ? text.substr(0, text.size() - 2) : text;
    report.erase(report.find_last_not_of('\n') + 1);
    return report;
}

// Why a program cannot run: its loader's word, or its unresolved calls.
std::string WhyNotRunnable(const ScriptResource& program, const char* path) {
    if (program.GetState() & ResourcePlaceholder) {
        return std::string("cannot load ") + path + ": neither it nor its code file exists";
    }
    if (!program.GetCode()) {
        return std::string(path) + " has no code: " +
               (lastLoadLine.empty() ? "its code file is older than it" : lastLoadLine);
    }
    if (program.GetLinkState() == ScriptLinked) {
        return "";
    }
    std::string names;
    for (const ScriptFixup& fixup : program.GetSymbols().fixups) {
        if (fixup.wordOffset < program.GetCodeSize() &&
            program.GetCode()[fixup.wordOffset] == ScriptResource::UnresolvedWord) {
            names += (names.empty() ? "" : ", ") + fixup.name;
        }
    }
    return std::string(path) + " is not linked: unresolved " + names;
}

// Calls the function of the program's class; false with a reason when it cannot be called so.
bool CallNamed(Script& script, const RunRequest& request, std::string& result,
               std::string& reason) {
    const MethodInfo* method = script.GetClass()->FindMethod(request.function, false);
    if (!method || method->GetOwner() != script.GetClass()) {
        reason = std::string("the program has no function \"") + request.function + "\"";
        return false;
    }
    if (request.arguments.size() != size_t(method->GetArgumentCount())) {
        reason = std::string(request.function) + " takes " +
                 std::to_string(method->GetArgumentCount()) + " arguments, not " +
                 std::to_string(request.arguments.size());
        return false;
    }
    std::vector<uint32_t> block(size_t(std::max(method->GetReturnWords(), 1)) + 1 +
                                size_t(method->GetArgumentWords()));
    uint32_t* argument = block.data() + 1;
    for (size_t i = 0; i < request.arguments.size(); ++i) {
        const int32_t type = method->GetArgumentType(int(i));
        if (!ReadArgument(type, request.arguments[i], argument, reason)) {
            return false;
        }
        argument += GetTypeWordCount(type);
    }
    method->Call(&script, block.data());
    if (method->GetReturnWords() > 0) {
        result = ValueText(method->GetReturnType(), block.data());
    }
    return true;
}

int RunProgram(char** arguments, std::string& reason) {
    RunRequest request;
    if (!ParseRunRequest(arguments, request, reason)) {
        return ExitUsage;
    }
    // The program runs as the game it lies in, as a scene there would (its settings, user://
    // and reach), whatever folder the tool runs in; its own folder is the base folder.
    std::error_code error;
    const std::filesystem::path path = std::filesystem::weakly_canonical(request.path, error);
    EnterToolSceneGame(path.string());
    GetFileSystem()->SetBaseFolder(path.parent_path().string().c_str());
    // The game's own folder is made as the player makes it at start-up: one not there yet would
    // be no place inside the game.
    if (*GetFileSystem()->GetUserFolder()) {
        GetFileSystem()->MakeDirectories("user://");
    }
    ScriptedDialogs dialogs;
    SetDialogHook(&dialogs);
    runLines.clear();
    SetLogSink(KeepRunLine);
    const uint32_t errorsBefore = ScriptContext::GetTerminatingErrorCount();
    Node* root = static_cast<Node*>(Node::RegisterClass()->CreateInstance());
    root->SetIdSystem(0);
    auto* script = static_cast<Script*>(Script::RegisterClass()->CreateInstance());
    script->AttachTo(root);
    // Enabled, as a scene file's nodes are by default.
    root->SetFlag(NodeEnabled, true);
    script->SetFlag(NodeEnabled, true);
    script->SetScriptFile(path.filename().string().c_str());
    const uint64_t serial = script->GetSerial();
    std::string lines;
    reason = WhyNotRunnable(*script->GetProgram(), request.path);
    // What the loader logged, the reason says.
    if (!reason.empty()) {
        runLines.clear();
    } else {
        GameRunning = true;
        SendSignal("quarn_start", nullptr, true);
        SendSignal("start", nullptr, true);
        FrameTime = GameStep = 1.0f / 60.0f;
        for (int frame = 0; frame < request.frames; ++frame) {
            UpdateNodeTree(root);
        }
        std::string result;
        if (request.function && IsAlive(serial) && CallNamed(*script, request, result, reason) &&
            !result.empty()) {
            lines += "result: " + result + "\n";
        }
    }
    SetLogSink(nullptr);
    if (reason.empty()) {
        if (!IsAlive(serial)) {
            lines += "state: (deleted)\n";
        } else {
            lines += std::string("state: ") + GetRunStateText(script->GetRunState()) + "\n";
            const ClassInfo* own = script->GetClass();
            for (const auto& property : own->GetOwnProperties()) {
                lines +=
                    std::string(property->GetName()) + " = " + property->GetAsText(*script) + "\n";
            }
        }
        for (const ScriptedDialogs::Request& asked : dialogs.Requests()) {
            if (asked.title == "Script Error!") {
                lines += "error: " + ReportText(asked.text) + "\n";
            } else if (asked.title == "Invalid parameter during script execution") {
                lines += "invalid: " + ReportText(asked.text) + "\n";
            }
        }
    }
    GameRunning = false;
    if (Node* left = FindLiveNode(root->GetSerial())) {
        left->Delete();
    }
    SetDialogHook(nullptr);
    for (const std::string& line : runLines) {
        std::fprintf(stderr, "quarn-tool: warning: %s\n", line.c_str());
    }
    if (!reason.empty()) {
        return ExitFailed;
    }
    if (std::fwrite(lines.data(), 1, lines.size(), stdout) != lines.size() ||
        std::fflush(stdout) != 0) {
        reason = "cannot write to stdout";
        return ExitFailed;
    }
    return ScriptContext::GetTerminatingErrorCount() != errorsBefore ? ExitScriptTerminated
                                                                     : ExitDone;
}

// The reference on stdout; what the notes lack is warned of on stderr. A note that would
// describe the wrong thing fails the command, with no page written.
int PrintReference(std::string& reason) {
    ScriptReferenceProblems problems;
    const std::string text = WriteScriptReference(problems);
    for (const std::string& warning : problems.warnings) {
        std::fprintf(stderr, "quarn-tool: warning: %s\n", warning.c_str());
    }
    if (!problems.errors.empty()) {
        for (const std::string& error : problems.errors) {
            std::fprintf(stderr, "quarn-tool: error: %s\n", error.c_str());
        }
        reason = "the notes in tools/ScriptReferenceNotes.cpp do not match the registry";
        return ExitFailed;
    }
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
        reason = "cannot write to stdout";
        return ExitFailed;
    }
    return ExitDone;
}

} // namespace

int RunScriptTool(char** arguments, std::string& reason) {
    // Class names in types and operands, and generated method names, resolve as the player
    // registers them.
    RegisterPlayerClasses();
    if (std::strcmp(arguments[0], "asm") == 0 && arguments[1] && arguments[2]) {
        return Assemble(arguments[1], arguments[2], reason);
    }
    if (std::strcmp(arguments[0], "dis") == 0 && arguments[1] && !arguments[2]) {
        return Disassemble(arguments[1], reason);
    }
    if (std::strcmp(arguments[0], "run") == 0 && arguments[1]) {
        return RunProgram(arguments + 1, reason);
    }
    if (std::strcmp(arguments[0], "reference") == 0 && !arguments[1]) {
        return PrintReference(reason);
    }
    reason.clear(); // the command's usage line says it all
    return ExitUsage;
}

} // namespace quarn
