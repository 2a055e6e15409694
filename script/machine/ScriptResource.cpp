#include "script/machine/ScriptResource.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/Property.h"
#include "core/object/Signals.h"
#include "core/object/ValueType.h"
#include "core/scene/EngineState.h"
#include "core/string/Text.h"
#include "resources/ResourceRegistry.h"
#include "script/machine/ScriptClass.h"
#include "script/machine/ScriptFastCode.h"
#include "script/machine/ScriptNodeClass.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace quarn {

namespace {

// Script name -> the program loaded last under it.
std::map<std::string, ScriptResource*>& LoadedPrograms() {
    static std::map<std::string, ScriptResource*> programs;
    return programs;
}

// The type a public variable's property is registered with.
int32_t RegisteredType(int32_t type) {
    return type == TypeString64Alias ? TypeString64 : type;
}

// Whether a property of the class still stands for a public variable of this type; an entity
// variable's property carries the Entity class type.
bool SameType(int32_t recordType, int32_t propertyType) {
    if (RegisteredType(recordType) == propertyType) {
        return true;
    }
    const ClassInfo* entity = FindClass("Entity");
    return recordType == TypeEntity && entity &&
           propertyType == ClassTypeBase + entity->GetClassNumber();
}

// The offset kept for one of the class's own members, in the members' order; -1 when absent.
template <class Member, class Offset>
int32_t RecordedOffset(const std::vector<std::unique_ptr<Member>>& members,
                       const std::vector<Offset>& offsets, const Member& member) {
    for (size_t i = 0; i < members.size() && i < offsets.size(); ++i) {
        if (members[i].get() == &member) {
            return static_cast<int32_t>(offsets[i]);
        }
    }
    return -1;
}

// The record's own flags (its state bit among them) mark the method too.
uint32_t MethodFlagsOf(const ScriptIdentifier& record) {
    uint32_t flags = record.flags | MethodScriptCallable;
    if (!record.HasResult()) {
        flags |= MethodNoResult;
    }
    return flags;
}

bool IsPublicVariable(const ScriptIdentifier& record) {
    return !record.IsFunction() && record.kind == IdentifierPublicVariable;
}

// Public variables of types without a property descriptor (arrays among them) live in the
// variable block only; the class shows no property for them.
bool HasProperty(const ScriptIdentifier& record) {
    return IsPublicVariable(record) && CreateProperty(RegisteredType(record.type)) != nullptr;
}

// The code file's bytes, when it exists, is not older than the source and opens.
bool ReadFreshCodeFile(FileSystem& files, const char* source, const std::string& codePath,
                       std::vector<uint8_t>& bytes) {
    if (!files.Exists(codePath.c_str()) ||
        files.GetFileTime(codePath.c_str()) < files.GetFileTime(source)) {
        return false;
    }
    std::unique_ptr<File> file = files.Open(codePath.c_str(), 0);
    if (!file) {
        return false;
    }
    bytes = file->ReadRemaining();
    return true;
}

} // namespace

ScriptResource::ScriptResource(const char* path, const char* options) : Resource(path, options) {
    ScriptClass* scriptClass = ScriptClass::Create("unknown", GetScriptClassCount());
    scriptClassIndex_ = scriptClass->GetIndex();
    if (path && *path) {
        scriptName_ = GetPathName(path);
        LoadFromFile(path);
    }
}

ScriptResource::~ScriptResource() {
    FreeCode();
    auto& programs = LoadedPrograms();
    auto entry = programs.find(scriptName_);
    if (entry != programs.end() && entry->second == this) {
        programs.erase(entry);
    }
    DeleteScriptClass(scriptClassIndex_);
    classOwner_.reset();
}

void ScriptResource::FreeCode() {
    fastCode_.reset();
    ++codeVersion_;
    FreeTextBlock(codeBlock_);
    codeBlock_ = 0;
    code_ = nullptr;
    codeSize_ = 0;
}

bool ScriptResource::Load() {
    if (GameRunning) {
        return false;
    }
    FreeCode();
    return LoadFromFile(GetFullPath());
}

bool ScriptResource::LoadFromFile(const char* path) {
    inputPorts_.clear();
    outputPorts_.clear();
    SetState(ResourceLoaded);
    LoadedPrograms()[scriptName_] = this;
    if (ScriptClass* scriptClass = GetScriptClass()) {
        scriptClass->Clear();
        scriptClass->SetName(scriptName_.c_str());
    }
    FileSystem* files = GetFileSystem();
    const std::string codePath = ReplaceExtension(path, "bin");
    std::vector<uint8_t> bytes;
    if (!files || !ReadFreshCodeFile(*files, path, codePath, bytes)) {
        if (!files || !files->Exists(path)) {
            // The program runs from its compiled files; the name in the scene is only their stem.
            ReportMissingResource(path, StringFormat("\"%s\" and \"%s\" (the program of \"%s\")",
                                                     codePath.c_str(),
                                                     ReplaceExtension(path, "sym").c_str(), path));
            SetState(ResourcePlaceholder);
            return false;
        }
    } else {
        ScriptCode code;
        ScriptSymbols symbols;
        std::string reason;
        bool hasSymbols = false;
        if (!ReadScriptCode(bytes, code, reason)) {
            LogMessage("Script '%s' not loaded: %s", codePath.c_str(), reason.c_str());
            FreeCode();
            linkState_ = ScriptNotLinked;
        } else if (!ReadSymbolFile(ReplaceExtension(path, "sym"),
                                   static_cast<uint32_t>(code.words.size()), symbols, hasSymbols) ||
                   !InstallProgram(code, symbols, hasSymbols)) {
            FreeCode();
            linkState_ = ScriptNotLinked;
        } else {
            linkState_ = ScriptUnresolved;
            BuildClass();
            ResolveExterns(false);
            RelinkIncluders();
            ArmBreakpoints();
            SendSignal("scriptchanged", this, true);
        }
    }
    if (linkState_ >= ScriptUnresolved) { // the ports follow a load that got as far as linking
        RebuildPorts();
    }
    SetState(ProgramLoaded);
    return true;
}

bool ScriptResource::ReadSymbolFile(const std::string& path, uint32_t codeWords,
                                    ScriptSymbols& symbols, bool& hasSymbols) {
    FileSystem* files = GetFileSystem();
    std::unique_ptr<File> file =
        files && files->Exists(path.c_str()) ? files->Open(path.c_str(), 0) : nullptr;
    hasSymbols = file != nullptr;
    if (!file) {
        return true;
    }
    std::string reason;
    if (!ReadScriptSymbols(file->ReadRemaining(), codeWords, symbols, reason)) {
        LogMessage("Script '%s' not loaded: %s", path.c_str(), reason.c_str());
        return false;
    }
    // The class's own properties stand beside the inherited ones in a scene, under one name.
    const ClassInfo* scriptClass = RegisterScriptNodeClass();
    for (const ScriptIdentifier& record : symbols.globals) {
        const Property* inherited =
            IsPublicVariable(record) ? scriptClass->FindProperty(record.name.c_str()) : nullptr;
        if (inherited) {
            LogMessage("Script '%s' not loaded: the public variable \"%s\" takes the name of the "
                       "property \"%s\" every Script node has",
                       path.c_str(), record.name.c_str(), inherited->GetName());
            return false;
        }
    }
    return true;
}

bool ScriptResource::InstallProgram(ScriptCode& code, ScriptSymbols& symbols, bool hasSymbols) {
    FreeCode();
    codeBlock_ = AllocateTextBlock(code.words.size() * 4);
    if (codeBlock_ == 0) {
        LogMessage("Script '%s' not loaded: no room for its code", GetFullPath());
        return false;
    }
    code_ = reinterpret_cast<uint32_t*>(GetTextBlock(codeBlock_));
    codeSize_ = static_cast<uint32_t>(code.words.size());
    std::copy(code.words.begin(), code.words.end(), code_);
    codeHeader_[0] = code.header[0];
    codeHeader_[1] = code.header[1];
    stackSize_ = code.stackSize;
    symbols_ = std::move(symbols);
    hasLineTable_ = hasSymbols;
    identifierIndex_.clear();
    for (size_t i = 0; i < symbols_.globals.size(); ++i) {
        std::string key = symbols_.globals[i].name;
        ToLowerAscii(key.data());
        identifierIndex_[key] = static_cast<int>(i);
    }

    ScriptClass* scriptClass = GetScriptClass();
    if (!scriptClass) {
        // The interface registry was torn down; only a leaving program gets here.
        return false;
    }
    variableWords_ = 0;
    publicVariableWords_ = 0;
    linkIndexes_.assign(symbols_.globals.size(), -1);
    for (size_t i = 0; i < symbols_.globals.size(); ++i) {
        const ScriptIdentifier& record = symbols_.globals[i];
        if (record.IsFunction()) {
            const int index = scriptClass->AppendMethod(
                record.name.c_str(), record.HasResult() ? record.resultType : TypeVoid);
            ScriptMethodRecord& method = scriptClass->Methods()[static_cast<size_t>(index)];
            for (int32_t type : record.parameterTypes) {
                method.AddParameter(type);
            }
            method.codeOffset = record.offset;
            method.stateFunction = (record.flags & IdentifierStateFunction) != 0;
            method.flags = record.flags;
            linkIndexes_[i] = index;
            continue;
        }
        // The symbol check bounded the sum.
        const auto words = static_cast<uint32_t>(record.GetWordSize());
        variableWords_ += words;
        if (record.kind == IdentifierPublicVariable) {
            publicVariableWords_ += words;
            const int index = scriptClass->AppendProperty(record.name.c_str(), record.type);
            scriptClass->Properties()[static_cast<size_t>(index)].hint = record.hint;
            linkIndexes_[i] = index;
        }
    }
    return true;
}

bool ScriptResource::ClassMatchesSymbols() const {
    const auto& properties = classInfo_->GetOwnProperties();
    const auto& methods = classInfo_->GetOwnMethods();
    size_t property = 0;
    size_t method = 0;
    for (const ScriptIdentifier& record : symbols_.globals) {
        if (HasProperty(record)) {
            if (property >= properties.size() ||
                std::strcmp(properties[property]->GetName(), record.name.c_str()) != 0 ||
                !SameType(record.type, properties[property]->GetValueType())) {
                return false;
            }
            ++property;
        } else if (record.IsFunction()) {
            if (method >= methods.size()) {
                return false;
            }
            const MethodInfo& info = *methods[method];
            if (std::strcmp(info.GetName(), record.name.c_str()) != 0 ||
                info.GetArgumentCount() != static_cast<int>(record.parameterTypes.size()) ||
                ((info.GetCallFlags() ^ record.flags) & IdentifierStateFunction) != 0 ||
                methodOffsets_[method] != record.offset) {
                return false;
            }
            for (int i = 0; i < info.GetArgumentCount(); ++i) {
                if (info.GetArgumentType(i) != record.parameterTypes[static_cast<size_t>(i)]) {
                    return false;
                }
            }
            ++method;
        }
    }
    return property == properties.size() && method == methods.size();
}

void ScriptResource::BuildClass() {
    if (classInfo_ && ClassMatchesSymbols()) {
        return;
    }
    if (classInfo_) {
        classInfo_->ClearProperties();
        classInfo_->ClearMethods();
    } else {
        const std::string name = "Script_" + scriptName_;
        classOwner_ = std::make_unique<ClassInfo>(name.c_str(), nullptr, &classInfo_);
        classInfo_ = classOwner_.get();
    }
    // Updated as every Script node is: while the game runs and while it is stopped.
    classInfo_->SetFlags(ClassSharesInstanceList | ClassUpdateWhileRunning |
                         ClassUpdateWhileStopped);
    classInfo_->SetParent(RegisterScriptNodeClass());
    publicVariableWords_ = 0;
    propertyOffsets_.clear();
    methodOffsets_.clear();
    classMembers_.assign(symbols_.globals.size(), -1);
    for (size_t i = 0; i < symbols_.globals.size(); ++i) {
        const ScriptIdentifier& record = symbols_.globals[i];
        if (IsPublicVariable(record)) {
            publicVariableWords_ += static_cast<uint32_t>(record.GetWordSize());
            std::unique_ptr<Property> descriptor = CreateProperty(RegisteredType(record.type));
            if (!descriptor) {
                // Arrays and types without a descriptor stay in the variables only.
                continue;
            }
            const std::string declaration = record.name + ":" + record.hint;
            classInfo_->AddProperty(declaration.c_str(), std::move(descriptor));
            classMembers_[i] = static_cast<int32_t>(propertyOffsets_.size());
            propertyOffsets_.push_back(static_cast<int32_t>(record.offset));
        } else if (record.IsFunction()) {
            auto method = std::make_unique<MethodInfo>(record.name.c_str(), "");
            method->SetOwner(classInfo_);
            for (int32_t type : record.parameterTypes) {
                method->AddArgument(type);
            }
            if (record.HasResult()) {
                method->SetReturnType(record.resultType);
            }
            method->SetCallFlags(MethodFlagsOf(record));
            classInfo_->AddMethodObject(std::move(method));
            classMembers_[i] = static_cast<int32_t>(methodOffsets_.size());
            methodOffsets_.push_back(record.offset);
        }
    }
    SendSignal("classtypehaschanged", nullptr, true);
}

bool ScriptResource::ResolveExterns(bool force) {
    if (!code_) {
        return false;
    }
    if (symbols_.fixups.empty()) {
        if (linkState_ == ScriptUnresolved) {
            linkState_ = ScriptLinked;
        }
        return false;
    }
    bool changed = false;
    bool allResolved = true;
    for (const ScriptFixup& fixup : symbols_.fixups) {
        if (!force && code_[fixup.wordOffset] != UnresolvedWord && fixup.hashOffset != 0) {
            continue;
        }
        int matches = 0;
        for (const std::string& include : symbols_.includes) {
            const ScriptResource* program = FindLoadedProgram(include.c_str());
            const int found = program ? program->FindIdentifier(fixup.name.c_str()) : -1;
            if (found < 0) {
                continue;
            }
            const ScriptIdentifier& target = program->symbols_.globals[static_cast<size_t>(found)];
            if ((target.flags & IdentifierExported) == 0) {
                continue;
            }
            ++matches;
            if (code_[fixup.wordOffset] != target.offset) {
                code_[fixup.wordOffset] = target.offset;
                changed = true;
                ++codeVersion_;
                const ScriptClass* targetClass = program->GetScriptClass();
                if (fixup.hashOffset != 0 && targetClass) {
                    code_[fixup.hashOffset] = targetClass->GetNameHash();
                }
            }
        }
        if (matches > 1) {
            LogMessage("Warning: multiple resolve options on identifier %s", fixup.name.c_str());
        }
        allResolved = allResolved && matches > 0;
    }
    if (linkState_ == ScriptUnresolved && allResolved) {
        linkState_ = ScriptLinked;
    }
    return changed;
}

void ScriptResource::RelinkIncluders() {
    // Copied first: a relink never loads, but the map must not be walked while it could change.
    std::vector<ScriptResource*> programs;
    for (const auto& [name, program] : LoadedPrograms()) {
        programs.push_back(program);
    }
    for (ScriptResource* program : programs) {
        if (program == this || program->linkState_ < ScriptUnresolved) {
            continue;
        }
        const auto& includes = program->symbols_.includes;
        if (std::find(includes.begin(), includes.end(), scriptName_) != includes.end()) {
            // A linked includer holds the offsets of this program's last load, which a reload
            // may have moved: its calls are resolved again.
            program->ResolveExterns(program->linkState_ == ScriptLinked);
        }
    }
}

void ScriptResource::ArmBreakpoints(uint32_t spared) {
    for (ScriptBreakpoint& breakpoint : breakpoints_) {
        if (breakpoint.offset < codeSize_ && breakpoint.offset != spared &&
            code_[breakpoint.offset] != BreakpointCommand) {
            breakpoint.savedWord = code_[breakpoint.offset];
            code_[breakpoint.offset] = BreakpointCommand;
            ++codeVersion_;
        }
    }
}

ScriptFastCode* ScriptResource::TranslateCode() {
    fastCode_.reset();
    if (!code_) {
        return nullptr;
    }
    fastVersion_ = codeVersion_;
    fastGeneration_ = GetScriptValueTypeGeneration();
    fastCode_ = std::make_unique<ScriptFastCode>(*this);
    return fastCode_.get();
}

ScriptBreakpoint* ScriptResource::FindBreakpoint(uint32_t offset) {
    const auto found =
        std::find_if(breakpoints_.begin(), breakpoints_.end(),
                     [offset](const ScriptBreakpoint& b) { return b.offset == offset; });
    return found == breakpoints_.end() ? nullptr : &*found;
}

void ScriptResource::RebuildPorts() {
    inputPorts_.clear();
    outputPorts_.clear();
    if (!classInfo_) {
        return;
    }
    const auto& properties = classInfo_->GetOwnProperties();
    const auto& methods = classInfo_->GetOwnMethods();
    for (size_t i = 0; i < symbols_.globals.size() && i < classMembers_.size(); ++i) {
        const ScriptIdentifier& record = symbols_.globals[i];
        const int32_t member = classMembers_[i];
        if (member < 0) {
            continue;
        }
        if (record.IsFunction() && static_cast<size_t>(member) < methods.size() &&
            (methods[static_cast<size_t>(member)]->GetCallFlags() & IdentifierInputPort) &&
            inputPorts_.size() < MaxPorts) {
            inputPorts_.push_back(static_cast<int>(i));
        } else if (record.type == TypeEntity && IsPublicVariable(record) &&
                   static_cast<size_t>(member) < properties.size() &&
                   CompareNoCase(properties[static_cast<size_t>(member)]->GetRange(), "signal") ==
                       0 &&
                   outputPorts_.size() < MaxPorts) {
            outputPorts_.push_back(static_cast<int>(i));
        }
    }
}

int ScriptResource::FindIdentifier(const char* name) const {
    if (!name) {
        return -1;
    }
    std::string key = name;
    ToLowerAscii(key.data());
    auto found = identifierIndex_.find(key);
    return found == identifierIndex_.end() ? -1 : found->second;
}

int ScriptResource::FindIdentifierByTypeAndOffset(int32_t type, uint32_t offset) const {
    int found = -1;
    for (size_t i = 0; i < symbols_.globals.size(); ++i) {
        if (symbols_.globals[i].type == type && symbols_.globals[i].offset == offset) {
            found = static_cast<int>(i);
        }
    }
    return found;
}

int32_t ScriptResource::FindFunctionInState(const char* name, const char* state) const {
    if (!name) {
        return -1;
    }
    int found = -1;
    if (state && *state) {
        found = FindIdentifier((std::string(state) + "." + name).c_str());
    }
    if (found < 0) {
        found = FindIdentifier(name);
    }
    return found < 0 ? -1
                     : static_cast<int32_t>(symbols_.globals[static_cast<size_t>(found)].offset);
}

int32_t ScriptResource::FindFunction(const char* name, int stateIndex) const {
    const bool hasState =
        stateIndex >= 0 && static_cast<size_t>(stateIndex) < symbols_.globals.size();
    return FindFunctionInState(
        name, hasState ? symbols_.globals[static_cast<size_t>(stateIndex)].name.c_str() : nullptr);
}

int32_t ScriptResource::GetInputFunction(int port) const {
    if (port < 0 || port >= GetInputPortCount()) {
        return -1;
    }
    return static_cast<int32_t>(symbols_.globals[static_cast<size_t>(inputPorts_[port])].offset);
}

uint32_t ScriptResource::GetInputArgumentWords(int port) const {
    if (port < 0 || port >= GetInputPortCount() || !classInfo_) {
        return 0;
    }
    const auto& methods = classInfo_->GetOwnMethods();
    const auto member = static_cast<size_t>(classMembers_[static_cast<size_t>(inputPorts_[port])]);
    return member < methods.size() ? static_cast<uint32_t>(methods[member]->GetArgumentWords()) : 0;
}

int32_t ScriptResource::GetOutputVariable(int port) const {
    if (port < 0 || port >= GetOutputPortCount()) {
        return -1;
    }
    return static_cast<int32_t>(symbols_.globals[static_cast<size_t>(outputPorts_[port])].offset);
}

const char* ScriptResource::GetInputPortName(int port) const {
    if (port < 0 || port >= GetInputPortCount()) {
        return "<none>";
    }
    return symbols_.globals[static_cast<size_t>(inputPorts_[port])].name.c_str();
}

const char* ScriptResource::GetOutputPortName(int port) const {
    if (port < 0 || port >= GetOutputPortCount()) {
        return "<none>";
    }
    return symbols_.globals[static_cast<size_t>(outputPorts_[port])].name.c_str();
}

int32_t ScriptResource::GetLineOfOffset(uint32_t offset) const {
    if (!hasLineTable_) {
        return static_cast<int32_t>(0u - offset);
    }
    const uint32_t limit = std::min(offset, codeSize_);
    int32_t line = 1;
    for (uint32_t entry : symbols_.lines) {
        if (entry > limit) {
            break;
        }
        ++line;
    }
    return line;
}

int32_t ScriptResource::GetSourceLine(uint32_t offset) const {
    if (!HasSourceLines()) {
        return GetLineOfOffset(offset);
    }
    const std::vector<ScriptSourceLine>& lines = symbols_.sourceLines;
    // The entries start at offset 0, so one lies at or before every offset.
    const auto after = std::upper_bound(
        lines.begin(), lines.end(), offset,
        [](uint32_t at, const ScriptSourceLine& entry) { return at < entry.offset; });
    return static_cast<int32_t>(std::prev(after)->line);
}

int64_t ScriptResource::GetSourceLineStart(int32_t line) const {
    if (!code_ || line < 1) {
        return -1;
    }
    if (HasSourceLines()) {
        for (const ScriptSourceLine& entry : symbols_.sourceLines) {
            if (entry.line == static_cast<uint32_t>(line)) {
                return entry.offset;
            }
        }
        return -1;
    }
    if (!hasLineTable_) {
        return -1;
    }
    const std::vector<uint32_t>& starts = symbols_.lines;
    const size_t index = static_cast<size_t>(line) - 2;
    const uint32_t offset = line == 1 ? 0 : index < starts.size() ? starts[index] : codeSize_;
    // A line without code shares its start with the next line that has some.
    if (offset >= codeSize_ || GetLineOfOffset(offset) != line) {
        return -1;
    }
    return offset;
}

std::string ScriptResource::DescribeOffset(uint32_t offset, const char* offsetWord) const {
    if (HasSourceLines()) {
        return symbols_.sourceFile + ":" + std::to_string(GetSourceLine(offset));
    }
    if (!hasLineTable_) {
        return std::string(offsetWord) + " " + std::to_string(static_cast<int32_t>(offset));
    }
    return "line " + std::to_string(GetLineOfOffset(offset));
}

int32_t ScriptResource::GetLinkIndex(int identifier) const {
    if (identifier < 0 || static_cast<size_t>(identifier) >= linkIndexes_.size()) {
        return -1;
    }
    return linkIndexes_[static_cast<size_t>(identifier)];
}

int32_t ScriptResource::GetPropertyOffset(const Property& property) const {
    if (!classInfo_ || property.GetOwner() != classInfo_) {
        return -1;
    }
    return RecordedOffset(classInfo_->GetOwnProperties(), propertyOffsets_, property);
}

int32_t ScriptResource::GetMethodOffset(const MethodInfo& method) const {
    if (!classInfo_ || method.GetOwner() != classInfo_) {
        return -1;
    }
    return RecordedOffset(classInfo_->GetOwnMethods(), methodOffsets_, method);
}

int32_t ScriptResource::GetMemberClassType(uint32_t offset) const {
    const std::vector<ScriptMemberClass>& classes = symbols_.memberClasses;
    auto found = std::lower_bound(
        classes.begin(), classes.end(), offset,
        [](const ScriptMemberClass& entry, uint32_t at) { return entry.offset < at; });
    return found != classes.end() && found->offset == offset ? found->classType : 0;
}

ScriptResource* FindLoadedProgram(const char* scriptName) {
    auto& programs = LoadedPrograms();
    auto entry = programs.find(scriptName ? scriptName : "");
    return entry == programs.end() ? nullptr : entry->second;
}

ScriptResource* GetScriptResource(const char* path) {
    static bool extensionRegistered = false;
    if (!extensionRegistered) {
        RegisterResourceExtension("script");
        extensionRegistered = true;
    }
    return AcquireResource<ScriptResource>(path, nullptr);
}

} // namespace quarn
