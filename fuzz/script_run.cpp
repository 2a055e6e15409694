// Compiled script code run by the machine: the bytes are the code words themselves (little-endian,
// not scrambled), with a small stack, run on a Script node under a scene node of every engine
// class. Whatever the words say, the run must end without touching memory it does not own; a
// short step limit keeps endless loops short.
#include "app/ClassRegistration.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/MethodInfo.h"
#include "core/scene/Node.h"
#include "script/machine/ScriptContext.h"
#include "script/machine/ScriptLibrary.h"
#include "script/machine/ScriptNode.h"
#include "script/machine/ScriptResource.h"
#include "script/machine/ScriptSymbols.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > 65536) {
        return 0;
    }
    quarn::RegisterAllClasses();
    quarn::ScriptStepLimit = 4096;
    quarn::ScriptCode code;
    code.stackSize = 32;
    code.words.resize(size / 4);
    std::memcpy(code.words.data(), data, code.words.size() * 4);
    const std::vector<uint8_t> bin = quarn::WriteScriptCode(code);

    quarn::MemoryFileSystem files;
    quarn::FileSystem* previous = quarn::GetFileSystem();
    quarn::SetFileSystem(&files);
    files.Add("run.bin", std::string(bin.begin(), bin.end()));

    // A parent for the commands that name nodes.
    auto* parent = static_cast<quarn::Node*>(quarn::Node::classInfo->CreateInstance());
    parent->SetIdSystem(0);
    const uint64_t parentSerial = parent->GetSerial();
    auto* script = static_cast<quarn::Script*>(quarn::Script::RegisterClass()->CreateInstance());
    script->AttachTo(parent);
    const uint64_t serial = script->GetSerial();
    script->SetScriptFile("run.script");
    script->CallFunction(0, nullptr, 0, nullptr, 0);
    for (int frame = 0; frame < 3 && quarn::IsAlive(serial); ++frame) {
        script->Update(0.5f, quarn::UpdateRunning);
    }
    if (quarn::GetCurrentScriptContext() != nullptr) {
        std::abort();
    }
    if (quarn::Entity* alive = quarn::Entity::FindBySerial(parentSerial)) {
        alive->Delete();
    }
    // The library's files and shared array start each input as in a new process; the files
    // must go before the file system they came from.
    quarn::RemoveScriptLibrary();
    uint32_t emptyArray[2] = {0, 0};
    quarn::GetRegisteredFunction(quarn::GetScriptLibraryFirstIndex() + 125)
        ->Call(nullptr, emptyArray);
    quarn::SetFileSystem(previous);
    quarn::TheIdMap().Clear();
    return 0;
}
