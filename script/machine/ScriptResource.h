#pragma once

#include "core/string/TextArena.h"
#include "resources/Resource.h"
#include "script/machine/ScriptClass.h"
#include "script/machine/ScriptCommands.h"
#include "script/machine/ScriptSymbols.h"
#include "script/machine/ScriptValueType.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace quarn {

class ClassInfo;
class MethodInfo;
class Property;
class ScriptFastCode;

// Values of ScriptResource::GetLinkState; any other value: not compiled or not loaded.
enum ScriptLinkState : uint32_t {
    ScriptNotLinked = 0,
    ScriptUnresolved = 4, // loaded; some calls into other programs are unresolved
    ScriptLinked = 5,
};

// A breakpoint of the machine: the command word it replaced and what to do when reached.
struct ScriptBreakpoint {
    uint32_t offset = 0;
    uint32_t savedWord = 0;
    uint32_t action = 0;
};

// One compiled program, shared by every Script node of its source path: code, identifiers, line
// table and stack size from the "bin" and "sym" files beside the source, its own class
// "Script_NAME" that shows the public variables and functions to the class registry, and its
// links into the programs it includes. Scripts see it as a "ResourceRef".
class ScriptResource : public Resource {
public:
    static constexpr uint32_t DefaultStackSize = 256;
    // The resource state of a program that went through its load (with or without code).
    static constexpr uint32_t ProgramLoaded = 1;
    static constexpr int MaxPorts = 8;
    // The command word that ends a run where it stands, its frames left as they are.
    static constexpr uint32_t EndCommand = script_command::End;
    // The command word that stands in for a breakpoint.
    static constexpr uint32_t BreakpointCommand = script_command::BreakpointCommand;
    // A call word the linker has not resolved.
    static constexpr uint32_t UnresolvedWord = 0xFFFFFFFF;

    // Loads when the path is not empty.
    ScriptResource(const char* path, const char* options);
    ~ScriptResource() override;

    bool LoadFromFile(const char* path) override;
    // Frees the code and loads again from the path; nothing while the game runs.
    bool Load() override;
    uint32_t GetDataSize() const override { return codeSize_ * 4; }

    // The linker: writes the code offsets of functions the included programs export into the
    // call words of the fixups (and their programs' name hashes). Without `force`, a fixup
    // resolved before is left. True when a code word changed.
    bool ResolveExterns(bool force);
    // Writes the breakpoint command over each recorded offset inside the code, except over
    // `spared` (the offset a stopped script stands on, which would stop it again at once).
    void ArmBreakpoints(uint32_t spared = 0xFFFFFFFF);

    // Identifier look-ups over the globals: by name ignoring case (the last in file order
    // wins), by type and offset (the last match); -1 when none.
    int FindIdentifier(const char* name) const;
    int FindIdentifierByTypeAndOffset(int32_t type, uint32_t offset) const;
    // A function's code offset: with a state, "state.name" first, then the plain name; -1 when
    // none. `stateIndex` is the state function's identifier index, -1 for none.
    int32_t FindFunction(const char* name, int stateIndex) const;
    int32_t FindFunctionInState(const char* name, const char* state) const;

    int GetInputPortCount() const { return static_cast<int>(inputPorts_.size()); }
    int GetOutputPortCount() const { return static_cast<int>(outputPorts_.size()); }
    // -1 past the count.
    int32_t GetInputFunction(int port) const;
    // The words the port's function takes as its parameters; 0 past the count.
    uint32_t GetInputArgumentWords(int port) const;
    int32_t GetOutputVariable(int port) const;
    // "<none>" past the count.
    const char* GetInputPortName(int port) const;
    const char* GetOutputPortName(int port) const;

    // The source line of a code offset: 1 + the number of leading line-table entries that are
    // <= min(offset, code size); 1 with an empty table; -offset for a program without symbol
    // file (a report then prints the offset as "prog-count").
    int32_t GetLineOfOffset(uint32_t offset) const;
    bool HasLineTable() const { return hasLineTable_; }
    // The line of the source file (GetSourceFile) the command at the offset was written on, for
    // a program that names its source; else GetLineOfOffset. What reports and the debugger show.
    int32_t GetSourceLine(uint32_t offset) const;
    // Where a source line's code starts: its first command, or for a program without source
    // lines the line's start in the line table; -1 for a line without code.
    int64_t GetSourceLineStart(int32_t line) const;
    // The file the program was assembled from (no folder), empty when it does not say.
    const std::string& GetSourceFile() const { return symbols_.sourceFile; }
    // Whether the program names its source and the lines of its code in it.
    bool HasSourceLines() const {
        return !symbols_.sourceFile.empty() && !symbols_.sourceLines.empty();
    }
    // "FILE:LINE" of the offset for a program that names its source, else "line N" ("prog-count
    // N" with the offset itself, without a symbol file). `offsetWord` replaces "prog-count".
    std::string DescribeOffset(uint32_t offset, const char* offsetWord = "prog-count") const;

    // Null without code. The code lies in the text arena: a text literal's word is
    // GetCodeTextWord() + 4 x its word offset.
    const uint32_t* GetCode() const { return code_; }
    // The code to change in place (breakpoints, the linker, the debugger): the machine
    // translates it again before its next run.
    uint32_t* EditCode() {
        ++codeVersion_;
        return code_;
    }
    uint32_t GetCodeSize() const { return codeSize_; }
    TextWord GetCodeTextWord() const { return codeBlock_; }
    const uint32_t* GetCodeHeader() const { return codeHeader_; }
    uint32_t GetStackSize() const { return stackSize_; }
    uint32_t GetVariableWords() const { return variableWords_; }
    uint32_t GetPublicVariableWords() const { return publicVariableWords_; }
    uint32_t GetLinkState() const { return linkState_; }
    const std::string& GetScriptName() const { return scriptName_; }
    const ScriptSymbols& GetSymbols() const { return symbols_; }
    // The index the loader gave each global in the script class object; -1 for none.
    int32_t GetLinkIndex(int identifier) const;
    ClassInfo* GetClassInfo() const { return classInfo_; }
    // The program's interface object; its name hash identifies the program in external calls.
    ScriptClass* GetScriptClass() const { return quarn::GetScriptClass(scriptClassIndex_); }
    // A public variable's word offset in the variable block, for a property of the program's
    // class; -1 for any other property.
    int32_t GetPropertyOffset(const Property& property) const;
    // The code offset of a method of the program's class; -1 for any other method.
    int32_t GetMethodOffset(const MethodInfo& method) const;
    // The class type the member id of the command at the offset was assembled for (a getprop,
    // setprop or method command); 0 where the program does not say.
    int32_t GetMemberClassType(uint32_t offset) const;
    std::vector<ScriptBreakpoint>& Breakpoints() { return breakpoints_; }
    // The breakpoint recorded at the code offset, or null.
    ScriptBreakpoint* FindBreakpoint(uint32_t offset);
    // The machine's translation of the code as it stands (made anew after any change of the code
    // or of the operator registry); null without code.
    ScriptFastCode* GetFastCode() {
        return fastCode_ && fastVersion_ == codeVersion_ &&
                       fastGeneration_ == GetScriptValueTypeGeneration()
                   ? fastCode_.get()
                   : TranslateCode();
    }

private:
    void FreeCode();
    ScriptFastCode* TranslateCode();
    // Installs what was read, fills the script class object; false when the arena is full.
    bool InstallProgram(ScriptCode& code, ScriptSymbols& symbols, bool hasSymbols);
    // Reads the symbol file into `symbols`; false (logged) when it fails a check. A missing
    // file gives true and leaves `hasSymbols` false.
    bool ReadSymbolFile(const std::string& path, uint32_t codeWords, ScriptSymbols& symbols,
                        bool& hasSymbols);
    void BuildClass();
    bool ClassMatchesSymbols() const;
    void RebuildPorts();
    // Relinks every loaded program that includes this one: the unresolved calls, and every call
    // of a program that was linked before.
    void RelinkIncluders();

    TextWord codeBlock_ = 0;
    uint32_t* code_ = nullptr;
    uint32_t codeSize_ = 0;
    uint32_t codeHeader_[2] = {};
    bool hasLineTable_ = false;
    uint32_t stackSize_ = DefaultStackSize;
    uint32_t publicVariableWords_ = 0;
    uint32_t variableWords_ = 0;
    ClassInfo* classInfo_ = nullptr; // cleared if the registry resets the class first
    std::unique_ptr<ClassInfo> classOwner_;
    // Per own property of the class: the variable's word offset. Per own method: its code
    // offset, compared on reload.
    std::vector<int32_t> propertyOffsets_;
    std::vector<uint32_t> methodOffsets_;
    // Per global: its record in the script class object, and its property or method in the
    // class (-1 for none).
    std::vector<int32_t> linkIndexes_;
    std::vector<int32_t> classMembers_;
    ScriptSymbols symbols_;
    // Lower-cased global name -> the last record of that name, so linking stays linear.
    std::unordered_map<std::string, int> identifierIndex_;
    int scriptClassIndex_ = -1;
    std::string scriptName_;
    std::vector<ScriptBreakpoint> breakpoints_;
    uint32_t linkState_ = ScriptNotLinked;
    // Counts the changes of the code words, the translation's key with the registry generation.
    uint64_t codeVersion_ = 0;
    std::unique_ptr<ScriptFastCode> fastCode_;
    uint64_t fastVersion_ = 0;
    uint64_t fastGeneration_ = 0;
    std::vector<int> inputPorts_;
    std::vector<int> outputPorts_;
};

// The loaded program of that script name (case-sensitive); the last one loaded wins a name.
ScriptResource* FindLoadedProgram(const char* scriptName);
// Acquires the program of a source path (see AcquireResource); the source need not exist.
ScriptResource* GetScriptResource(const char* path);

} // namespace quarn
