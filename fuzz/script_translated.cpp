// Script programs generated from the bytes (pushes, local loads and stores, the built-in int,
// float and bool operators, jumps, calls, returns, engine functions, method calls on words that
// name no entity, arrays in the variables, stack moves and raw words), each run twice: through
// the machine's translated form and through its plain path. Both must leave the same machine
// behind: the answer, the run state, the stacks, the frames, the positions, the variables (with
// the text a word names, when it names one) and every error report, also when the step limit
// stops them early.
#include "app/ClassRegistration.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/MethodInfo.h"
#include "core/object/ValueBinding.h"
#include "core/object/ValueType.h"
#include "core/os/Dialogs.h"
#include "core/scene/Node.h"
#include "core/string/Text.h"
#include "core/string/TextArena.h"
#include "script/machine/ScriptCommands.h"
#include "script/machine/ScriptContext.h"
#include "script/machine/ScriptNode.h"
#include "script/machine/ScriptOperators.h"
#include "script/machine/ScriptResource.h"
#include "script/machine/ScriptSymbols.h"
#include "script/machine/ScriptValueType.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace quarn;
namespace command = script_command;

// Records every dialog's text; every dialog is left with its first button.
class RecordingHook : public DialogHook {
public:
    int ShowMessageBox(const char* text, const char*, uint32_t) override {
        texts.append(text).append("\n");
        return DialogOk;
    }
    int ShowChoiceBox(const char* title, const char* text, const char*) override {
        texts.append(title).append(": ").append(text).append("\n");
        return 0;
    }
    std::string FileDialog(const char*, bool, const char*) override { return {}; }

    std::string texts;
};

int32_t FuzzSubtract(int32_t a, int32_t b) {
    return int32_t(uint32_t(a) - uint32_t(b));
}
int32_t FuzzDrop(int32_t) {
    return 7;
}

// The index of the first of the engine functions programs call.
uint32_t FirstFunction() {
    static const auto first = [] {
        const int index = GetRegisteredFunctionCount();
        auto subtract = std::make_unique<MethodInfo>("fuzzsubtract", "(int,int):int");
        subtract->Bind(BindMethod<&FuzzSubtract>());
        RegisterFunction(std::move(subtract));
        auto drop = std::make_unique<MethodInfo>("fuzzdrop", "(int):int");
        drop->Bind(BindMethod<&FuzzDrop>());
        RegisterFunction(std::move(drop));
        return uint32_t(index);
    }();
    return first;
}

// The operator word of entry `pick` among the int, float and bool operators.
uint32_t OperatorWord(uint8_t pick) {
    static const int32_t types[] = {TypeInt, TypeFloat, TypeBool};
    const int32_t type = types[pick % 3];
    const int count = GetScriptValueType(type)->GetOperatorCount();
    return uint32_t(type) << 16 | uint32_t((pick / 3) % count);
}

std::vector<uint32_t> Generate(const uint8_t* data, size_t size) {
    std::vector<uint32_t> code;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const uint8_t pick = data[i + 1];
        const auto small = int32_t(pick % 8) - 4;
        switch (data[i] % 16) {
        case 0:
            code.insert(code.end(), {command::PushInt, uint32_t(int32_t(pick) - 128)});
            break;
        case 1:
            code.insert(code.end(),
                        {command::PushFloat, FloatToWord(float(int32_t(pick) - 128) / 4.0f)});
            break;
        case 2:
            code.insert(code.end(), {command::PushInt, uint32_t(small), command::LoadLocal, 1});
            break;
        case 3:
            code.insert(code.end(), {command::PushInt, uint32_t(small), command::PushInt,
                                     uint32_t(pick / 8), command::StoreLocal, 1});
            break;
        case 4:
        case 5:
            code.insert(code.end(), {command::Operator, OperatorWord(pick)});
            break;
        case 6:
            code.insert(code.end(),
                        {command::Jump + pick % 3, uint32_t(int32_t(pick / 3 % 16) - 8)});
            break;
        case 7:
            code.insert(code.end(), {pick % 2 ? command::Duplicate : command::Drop, pick / 2 % 3u});
            break;
        case 8:
            code.insert(code.end(), {command::ToFloat, pick % 2u, 1u + pick / 2 % 2});
            break;
        case 9:
            code.insert(code.end(), {command::LocalCall, uint32_t(pick)});
            break;
        case 10:
            code.insert(code.end(), {command::Return, pick % 4u, pick / 4 % 3u});
            break;
        case 11:
            code.insert(code.end(), {command::PushInt, pick % 4u, command::PushInt, uint32_t(small),
                                     command::ElementAddress, 4, 1});
            break;
        case 12:
            code.insert(code.end(), {command::PushInt, uint32_t(small),
                                     pick % 2 ? command::LoadVariable : command::StoreVariable, 1});
            break;
        case 13:
            if (pick % 7 == 6) {
                code.insert(code.end(), {command::Function, FirstFunction() + pick / 7 % 2});
                break;
            }
            if (pick % 7 == 5) {
                // Ids that name no entity: the call reports it.
                code.insert(code.end(), {command::PushInt, uint32_t(-(pick / 7 % 4)),
                                         command::Method, pick / 28u, 0});
                break;
            }
            code.push_back(pick % 5 == 0   ? command::End
                           : pick % 5 == 1 ? command::SleepFrame
                                           : uint32_t(pick));
            break;
        case 14:
            code.insert(code.end(), {command::PushInt, uint32_t(small), command::PushInt,
                                     uint32_t(pick / 8), command::StoreVariable, 1});
            break;
        default:
            code.insert(code.end(), {command::PushInt, uint32_t(small), command::LoadVariable, 1,
                                     command::LoadLocal, 1});
            break;
        }
    }
    code.push_back(command::End);
    return code;
}

// A stack or variable word, with the text it names when it names one.
std::string DescribeWord(uint32_t word) {
    const char* named = LookupText(word);
    std::string text = " " + std::to_string(word);
    if (*named && TextWordOf(named) == word) {
        text.append("\"").append(named).append("\"");
    }
    return text;
}

std::string RunAndDescribe(uint32_t limit, bool translated) {
    // The temporary texts start every run alike, the ring at its start and FormatTemp on its
    // first buffer, so that the texts both runs make get the same words, as they get the same
    // content: a text is then compared by what it says, not by where the run before left off.
    PutTempString(std::string(TempRingSize - 1, ' '));
    if (FormatTemp("%s", "") == FormatScratchBuffer(0)) {
        FormatTemp("%s", "");
    }
    ScriptTranslatedRuns = translated;
    ScriptStepLimit = limit;
    RecordingHook hook;
    DialogHook* previousHook = GetDialogHook();
    SetDialogHook(&hook);
    auto* script = static_cast<Script*>(Script::RegisterClass()->CreateInstance());
    script->SetIdSystem(0);
    script->SetScriptFile("run.script");
    const uint32_t arguments[] = {3, 0xFFFFFFFE};
    std::string text =
        "answer " + std::to_string(script->CallFunction(0, arguments, 2, nullptr, 0));
    text += " state " + std::to_string(script->GetRunState());
    if (const ScriptContext* context = script->GetContext()) {
        text += "\nposition " + std::to_string(context->GetPosition()) + " command " +
                std::to_string(context->GetCommandOffset()) + "\nstack";
        ScriptValueStack& stack = script->GetContext()->Stack();
        const uint32_t* words = stack.TopWords(stack.Depth());
        for (uint32_t i = 0; i < stack.Depth(); ++i) {
            text += DescribeWord(words[i]);
        }
        text += "\nframes";
        for (const ScriptCallFrame& frame : context->Frames()) {
            text += " " + std::to_string(frame.entry) + "/" + std::to_string(frame.returnPosition) +
                    "/" + std::to_string(frame.frameBase) + "/" + std::to_string(frame.outermost);
        }
    }
    text += "\nvariables";
    for (uint32_t i = 0; i < script->GetVariableCount(); ++i) {
        text += DescribeWord(script->GetVariables()[i]);
    }
    text += "\n" + hook.texts;
    script->Delete();
    // The next run's node gets the same id: programs may name it by number.
    TheIdMap().Clear();
    SetDialogHook(previousHook);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 4096) {
        return 0;
    }
    RegisterAllClasses();
    RegisterScriptOperators();
    ScriptCode code;
    code.stackSize = 24;
    code.words = Generate(data + 1, size - 1);
    const std::vector<uint8_t> bin = WriteScriptCode(code);
    MemoryFileSystem files;
    FileSystem* previous = GetFileSystem();
    SetFileSystem(&files);
    files.Add("run.bin", std::string(bin.begin(), bin.end()));

    // Held over all runs, so that every run sees the same load of the program (its texts keep
    // their words).
    ScriptResource* program = GetScriptResource("run.script");
    // A run to the end (or a short limit), and one stopped after a count of commands the first
    // byte picks.
    for (const uint32_t limit : {2000u, 1u + data[0]}) {
        const std::string plain = RunAndDescribe(limit, false);
        const std::string translated = RunAndDescribe(limit, true);
        if (plain != translated) {
            std::fprintf(stderr, "plain:\n%s\ntranslated:\n%s\n", plain.c_str(),
                         translated.c_str());
            std::abort();
        }
    }
    program->Release();
    ScriptTranslatedRuns = true;
    ScriptStepLimit = MaxScriptSteps;
    SetFileSystem(previous);
    TheIdMap().Clear();
    return 0;
}
