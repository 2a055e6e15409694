#include "script/machine/ScriptNode.h"

#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdPath.h"
#include "core/object/MethodInfo.h"
#include "core/object/Property.h"
#include "core/object/Signals.h"
#include "core/object/ValueType.h"
#include "core/os/Dialogs.h"
#include "core/os/HeldMemory.h"
#include "core/scene/EngineState.h"
#include "core/scenefile/SceneSaver.h"
#include "core/string/Text.h"
#include "resources/ResourceRegistry.h"
#include "script/machine/ScriptContext.h"
#include "script/machine/ScriptContextCalls.h"
#include "script/machine/ScriptNodeClass.h"
#include "script/machine/ScriptResource.h"
#include "script/machine/ScriptSymbols.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

namespace quarn {

namespace {

// The signals a script hears when its program has a function of that name.
constexpr const char* ListenedSignals[] = {"start", "quarn_start", "quarn_stop", "integrate"};

constexpr uint32_t IdBits = ~PortMask;

bool HoldsEntity(int32_t type) {
    return type == TypeEntity || IsClassType(type);
}

bool IsVariable(const ScriptIdentifier& record) {
    return !record.IsFunction() &&
           (record.kind == IdentifierInstanceVariable || record.kind == IdentifierPublicVariable);
}

void RenameWord(uint32_t& word, uint32_t oldId, uint32_t newId) {
    if ((word & IdBits) == oldId) {
        word = (word & PortMask) | (newId & IdBits);
    }
}

} // namespace

const char* GetRunStateText(int state) {
    static constexpr const char* texts[] = {"READY", "RUNNING", "SLEEPING",     "STOPPED",
                                            "DEBUG", "ERROR",   "ERROR PENDING"};
    return state >= 0 && state < int(std::size(texts)) ? texts[state] : "";
}

Script::Script() = default;

Script::~Script() {
    if (program_) {
        program_->Release();
    }
    ReleaseContext();
    FreeKeptTexts();
    if (EngineState == EngineShuttingDown) {
        for (const char* name : {"start", "quarn_start", "integrate", "property_changed"}) {
            RemoveSignalListeners(name);
        }
    }
    // The entity's own teardown takes this node's remaining listener entries away, so a deleted
    // node hears no signal.
}

ClassInfo* Script::RegisterClass() {
    return RegisterScriptNodeClass();
}

ClassInfo* Script::GetClass() const {
    ClassInfo* own = program_ ? program_->GetClassInfo() : nullptr;
    return own ? own : RegisterScriptNodeClass();
}

void Script::ReleaseContext() {
    ScriptContext::Abandon(context_);
    context_ = nullptr;
}

ScriptContext* Script::AcquireContext() {
    if (context_ || !program_) {
        return context_;
    }
    const uint32_t words = program_->GetStackSize();
    auto* context = new ScriptContext(this, words);
    if (!context->IsHeld()) {
        ScriptContext::Abandon(context);
        const size_t first = (size_t(std::min(words, ScriptValueStack::InitialWords)) + 1) * 4;
        Refuse(MemoryBudgetAllows(first)
                   ? StringFormat("no address space is left for its stack of %u words", words)
                   : BudgetRefusal(StringFormat("the stack of %s", GetDescription().Text()).c_str(),
                                   first));
        return nullptr;
    }
    context_ = context;
    return context_;
}

bool Script::CanRun() const {
    // Through the const program: taking the writable code would have the form made anew.
    const ScriptResource* program = program_;
    return program && program->GetCode() && runState_ != ScriptErrorPending &&
           variables_.size() >= program->GetVariableWords();
}

void Script::Refuse(const std::string& why) {
    LogMessage("Script node '%s' (id %u) is not run: %s", GetName().c_str(), GetId(),
               why.c_str());
    runState_ = ScriptErrorPending;
}

bool Script::TakeVariables(uint32_t words, bool keep) {
    const size_t held = variables_.capacity() * sizeof(uint32_t);
    const size_t wanted = size_t(words) * sizeof(uint32_t);
    // Without `keep` the old block goes first, so only what the new one adds must fit.
    if (!MemoryBudgetAllows(keep ? wanted : wanted - std::min(wanted, held))) {
        std::vector<uint32_t>().swap(variables_);
        Refuse(BudgetRefusal(StringFormat("the variables of %s", GetDescription().Text()).c_str(),
                             wanted));
        return false;
    }
    if (keep) {
        ResizeVariables(words, true);
    } else {
        std::vector<uint32_t>().swap(variables_);
        variables_.assign(words, 0u);
    }
    return true;
}

// Program and variables -------------------------------------------------------------------------

void Script::SetScriptFile(const char* path) {
    const char* newPath = path ? path : "";
    if (program_ &&
        CompareNoCase(program_->GetFullPath(), NormalizeResourcePath(newPath).Text()) == 0) {
        return;
    }
    if (program_) {
        program_->Release();
        program_ = nullptr;
    }
    ReleaseContext();
    std::fill(variables_.begin(), variables_.end(), 0u);
    refusedWords_.clear();
    FreeKeptTexts();
    program_ = *newPath ? GetScriptResource(newPath) : nullptr;
    bool taken = true;
    if (program_) {
        if (program_->GetVariableWords() > variables_.size()) {
            taken = TakeVariables(program_->GetVariableWords(), false);
        }
        ApplyDefaults();
    }
    const uint64_t self = GetSerial();
    if (!ApplyHeldLines()) {
        return;
    }
    SendSignal("propertychange", static_cast<Entity*>(this), true);
    if (!IsAlive(self)) {
        return;
    }
    ResolveCallbacks();
    RebuildReferences();
    if (taken) {
        runState_ = ScriptReady;
    }
}

const char* Script::GetScriptFile() const {
    return program_ ? program_->GetRelativePath() : "";
}

void Script::ApplyDefaults() {
    if (!program_) {
        return;
    }
    for (const ScriptIdentifier& record : program_->GetSymbols().globals) {
        const size_t found = record.declaration.find("default=");
        if (!IsVariable(record) || found == std::string::npos) {
            continue;
        }
        const int32_t type = record.type == TypeString64Alias ? TypeString64 : record.type;
        const int32_t words = GetTypeWordCount(type);
        if (words <= 0 || words > MaxValueWords ||
            uint64_t(record.offset) + uint32_t(words) > variables_.size()) {
            continue;
        }
        uint32_t value[MaxValueWords] = {};
        ParseTypedValue(type, record.declaration.c_str() + found + std::strlen("default="), value);
        std::copy(value, value + words, variables_.begin() + record.offset);
    }
}

bool Script::ApplyHeldLines() {
    const uint64_t self = GetSerial();
    if (!program_ || !program_->GetClassInfo() || held_.IsEmpty()) {
        return true;
    }
    HeldSceneLines held = std::move(held_);
    held_.Clear();
    for (size_t i = 0; i < held.lines.size(); ++i) {
        HeldSceneLine& line = held.lines[i];
        const Property* property = FindAnyProperty(line.name.c_str());
        if (!property) {
            held_.lines.push_back(std::move(line));
            continue;
        }
        ApplyHeldText(*property, line.value);
        if (!IsAlive(self)) {
            return false;
        }
    }
    ApplyHeldCompactTail(std::move(held.compactTail));
    return IsAlive(self);
}

void Script::ApplyHeldText(const Property& property, const std::string& text) {
    if (!property.IsEntityReference()) {
        property.SetFromText(*this, text.c_str());
        return;
    }
    // The scene is loaded: a path names a node that is there now, or none.
    IdPath path;
    uint32_t words[MaxValueWords] = {};
    if (path.Parse(text.c_str()) && path.ToId() != 0 && LookupEntity(path.ToId())) {
        words[0] = path.ToId() | ((path.port & 0xF) << PortShift);
    }
    property.WriteValue(*this, words);
}

void Script::ApplyHeldCompactTail(std::string tail) {
    const uint64_t self = GetSerial();
    size_t at = 0;
    while (at < tail.size()) {
        const int number = static_cast<uint8_t>(tail[at]);
        const Property* property = number < GetPropertyCount() ? GetProperty(number) : nullptr;
        if (!property) {
            break;
        }
        const size_t start = at + 1;
        uint32_t words[MaxValueWords] = {};
        if (property->GetValueType() == TypeString) {
            const size_t zero = tail.find('\0', start);
            if (zero == std::string::npos) {
                break;
            }
            property->SetFromText(*this, tail.substr(start, zero - start).c_str());
            at = zero + 1;
        } else {
            const size_t bytes =
                property->IsEntityReference()
                    ? 4
                    : size_t(std::clamp(property->GetSize(), 0, int(MaxValueWords) * 4));
            if (tail.size() - start < bytes) {
                break;
            }
            for (size_t i = 0; i < bytes; ++i) {
                words[i / 4] |= uint32_t(uint8_t(tail[start + i])) << (8 * (i % 4));
            }
            if (property->IsEntityReference() &&
                ((words[0] & LocalIdMask) == 0 || !LookupEntity(words[0]))) {
                words[0] = 0;
            }
            property->WriteValue(*this, words);
            at = start + bytes;
        }
        if (!IsAlive(self)) {
            return;
        }
    }
    held_.compactTail = tail.substr(at);
}

void Script::ResizeVariables(uint32_t words, bool keep) {
    std::vector<uint32_t> old = std::move(variables_);
    variables_.assign(words, 0u);
    if (!keep) {
        refusedWords_.clear();
    }
    ApplyDefaults();
    if (keep) {
        std::copy(old.begin(), old.begin() + std::min<size_t>(old.size(), words),
                  variables_.begin());
    }
}

void Script::ResolveCallbacks() {
    updateFunction_ = program_ ? program_->FindFunction("update", -1) : -1;
    updateParameters_ = 0;
    const ClassInfo* own = program_ ? program_->GetClassInfo() : nullptr;
    if (const MethodInfo* update = own ? own->FindMethod("update", false) : nullptr) {
        updateParameters_ = update->GetArgumentCount();
    }
    if (updateFunction_ >= 0 && updateParameters_ != 1 && updateParameters_ != 2) {
        LogMessage("Invalid number of params on function 'update'. (float) or (float,int) "
                   "expected.");
    }
    for (const char* name : ListenedSignals) {
        RemoveSignalListener(name, this);
        if (program_ && program_->FindFunction(name, -1) >= 0) {
            AddSignalListener(name, this);
        }
    }
    propertyChangedFunction_ = program_ ? program_->FindFunction("property_changed", -1) : -1;
}

template <class Visit>
void Script::ForEachEntityWord(bool withArrays, Visit visit) {
    if (!program_) {
        return;
    }
    for (const ScriptIdentifier& record : program_->GetSymbols().globals) {
        if (!IsVariable(record)) {
            continue;
        }
        uint64_t count = 0;
        if (HoldsEntity(record.type)) {
            count = 1;
        } else if (withArrays && record.type == TypeArray && HoldsEntity(record.elementType)) {
            count = record.arrayCount;
        }
        if (count == 0 || record.offset + count > variables_.size()) {
            continue;
        }
        for (uint64_t i = 0; i < count; ++i) {
            visit(variables_[record.offset + i]);
        }
    }
}

void Script::RenameReference(uint32_t oldId, uint32_t newId, ScriptContext* context) {
    if (!program_) {
        return;
    }
    oldId &= IdBits;
    ForEachEntityWord(true, [&](uint32_t& word) { RenameWord(word, oldId, newId); });
    context = context ? context : context_;
    // Locals belong to the program the position runs in.
    if (!context || context->Frames().empty() || context->GetCurrentInstance() != this) {
        return;
    }
    const uint32_t base = context->Frames().back().frameBase;
    const uint32_t position = context->GetPosition();
    for (const ScriptIdentifier& local : program_->GetSymbols().locals) {
        if (local.kind != IdentifierLocalVariable || !HoldsEntity(local.type) ||
            position < local.firstOffset || position > local.lastOffset) {
            continue;
        }
        if (uint32_t* word = context->Stack().WordAt(int64_t(base) + int32_t(local.offset))) {
            RenameWord(*word, oldId, newId);
        }
    }
}

// Running ---------------------------------------------------------------------------------------

int Script::Run(ScriptContext& context, bool whole) {
    const uint64_t self = GetSerial();
    ScriptContext::RunScope scope(context);
    const int result = runState_ == ScriptDebug && !whole ? context.RunLine() : context.Run();
    if (result == StepNodeDeleted) {
        // When only an instance it called went away, the node lives on idle.
        if (IsAlive(self) && &context == context_) {
            context.Reset(0);
            runState_ = ScriptReady;
        }
        return StepNodeDeleted;
    }
    return Conclude(context, result);
}

int Script::Conclude(ScriptContext& context, int result) {
    switch (result) {
    case StepSleepFrame:
        runState_ = ScriptSleeping;
        sleepDuration_ = 0.0f;
        sleepElapsed_ = 0.0f;
        break;
    case StepSleep:
        sleepDuration_ = context.Stack().PopFloat();
        sleepElapsed_ = 0.0f;
        runState_ = ScriptSleeping;
        break;
    case StepBreak:
    case StepDebugRequest: {
        GamePaused = true;
        runState_ = ScriptDebug;
        const uint64_t self = GetSerial();
        SendSignal("selectnode", static_cast<Entity*>(this), true);
        if (!IsAlive(self)) {
            return StepNodeDeleted;
        }
        if (result == StepBreak) {
            break;
        }
        [[fallthrough]];
    }
    case StepTerminate:
        if (context.Frames().empty() && !GameRunning) {
            runState_ = ScriptReady;
            if (&context == context_) {
                ReleaseContext();
            }
        } else {
            runState_ = ScriptErrorPending;
        }
        break;
    default:
        break;
    }
    return runState_;
}

bool Script::CallFunction(uint32_t function, const uint32_t* arguments, uint32_t argumentCount,
                          uint32_t* result, uint32_t resultCount) {
    // First: it charges the run that called once the run's own scopes below have gone.
    const ScriptContext::NestedRun nested;
    if (!CanRun() || function >= program_->GetCodeSize() || !ScriptContext::MayNestRun() ||
        !AcquireContext()) {
        return false;
    }
    ScriptContext& context = *context_;
    ScriptContext::RunScope scope(context);
    CurrentScriptContextScope current(&context);
    ScriptValueStack& stack = context.Stack();
    int outcome = StepContinue;
    if (argumentCount > stack.Capacity() - stack.Depth()) {
        outcome = Conclude(context, context.StackOverflow());
    } else {
        if (argumentCount > 0) {
            stack.PushWords(arguments, argumentCount);
        }
        if (!context.Call(this, function, true)) {
            stack.Adjust(-static_cast<int32_t>(argumentCount));
            outcome = Conclude(context, context.StackOverflow());
        } else {
            // Whole also in the debug state: a caller takes its result now, and a call left
            // half run would be resumed by the next one's return.
            outcome = Run(context, true);
        }
    }
    if (outcome == StepNodeDeleted) {
        return false;
    }
    if (result && resultCount > 0 && stack.Depth() >= resultCount) {
        stack.PopWords(result, resultCount);
    }
    return runState_ != ScriptErrorPending && runState_ != ScriptTerminateRequested;
}

bool Script::StartFunction(uint32_t function, uint32_t argumentCount, const uint32_t* arguments,
                           bool outermost) {
    if (!CanRun() || function >= program_->GetCodeSize() || !AcquireContext()) {
        return false;
    }
    ScriptContext& context = *context_;
    ScriptValueStack& stack = context.Stack();
    if (argumentCount > stack.Capacity() - stack.Depth()) {
        return false;
    }
    if (argumentCount > 0) {
        stack.PushWords(arguments, argumentCount);
    }
    if (!context.Call(this, function, outermost)) {
        stack.Adjust(-static_cast<int32_t>(argumentCount));
        return false;
    }
    runState_ = ScriptRunning;
    return true;
}

void Script::WakeUp() {
    if (runState_ != ScriptSleeping) {
        return;
    }
    runState_ = ScriptRunning;
    if (!context_) {
        return;
    }
    // The time slept is the value of the sleep expression; a sleepframe may have left no room.
    ScriptValueStack& stack = context_->Stack();
    if (stack.Depth() < stack.Capacity()) {
        stack.PushFloat(sleepElapsed_);
    } else {
        Conclude(*context_, context_->RuntimeError("Stack overflow"));
    }
}

void Script::ResetExecution() {
    if (context_) {
        context_->Reset(0);
    }
    runState_ = ScriptReady;
}

bool Script::SetPendingGoto(int32_t function, uint32_t argumentCount, const uint32_t* arguments) {
    if (argumentCount > MaxGotoArguments) {
        return false;
    }
    pendingGoto_ = function;
    pendingArgumentCount_ = argumentCount;
    std::copy(arguments, arguments + argumentCount, pendingArguments_);
    return true;
}

int Script::GetCurrentStateIndex() const {
    if (!context_ || !program_) {
        return -1;
    }
    const std::vector<ScriptCallFrame>& frames = context_->Frames();
    for (auto frame = frames.rbegin(); frame != frames.rend(); ++frame) {
        // Entries are code offsets: 0 is a function like any other, not "no entry".
        if (frame->caller != this) {
            continue;
        }
        const int function = program_->FindIdentifierByTypeAndOffset(TypeFunction, frame->entry);
        if (function >= 0 && program_->GetSymbols().globals[size_t(function)].flags != 0) {
            return function;
        }
    }
    return -1;
}

int Script::GetCurrentLine() const {
    if (!program_ || !context_ || context_->IsIdle()) {
        return -1;
    }
    // Source lines name single commands: an engine function asking while its command runs gets
    // that command's line, not the next one's the position already points to.
    const bool running =
        program_->HasSourceLines() && GetCurrentScriptContext() == context_;
    return program_->GetSourceLine(running ? context_->GetCommandOffset()
                                           : context_->GetPosition());
}

void Script::Update(float frameTime, int mode) {
    if (runState_ == ScriptErrorPending) {
        return;
    }
    const uint64_t self = GetSerial();
    if (pendingGoto_ >= 0) {
        if (context_) {
            context_->Reset(0);
        }
        runState_ = ScriptReady;
        StartFunction(uint32_t(pendingGoto_), pendingArgumentCount_, pendingArguments_, true);
        pendingGoto_ = -1;
    }
    if (context_ && (mode & UpdateRunning) && !context_->Frames().empty()) {
        if (runState_ == ScriptSleeping) {
            sleepElapsed_ += frameTime;
            if (sleepElapsed_ >= sleepDuration_) {
                WakeUp();
            }
        }
        if (runState_ == ScriptRunning && ScriptContext::MayNestRun()) {
            const ScriptContext::NestedRun nested;
            CurrentScriptContextScope current(context_);
            if (Run(*context_) == StepNodeDeleted && !IsAlive(self)) {
                return;
            }
        }
    }
    if (updateFunction_ < 0 || (mode == UpdateStopped && updateParameters_ != 2)) {
        return;
    }
    const uint32_t arguments[2] = {FloatToWord(frameTime), static_cast<uint32_t>(mode)};
    const bool called = CallFunction(uint32_t(updateFunction_), arguments,
                                     updateParameters_ == 1 ? 1 : 2, nullptr, 0);
    if (!called && mode == UpdateStopped && IsAlive(self)) {
        runState_ = ScriptErrorPending;
    }
}

void Script::CallMethod(const MethodInfo& method, uint32_t* block) {
    if (method.GetCallFlags() & IdentifierStateFunction) {
        LogMessage("Warning: Trying to call a state function");
        return;
    }
    if (!CanRun()) {
        return;
    }
    const int state = GetCurrentStateIndex();
    const int32_t function = state < 0 ? program_->GetMethodOffset(method)
                                       : program_->FindFunction(method.GetName(), state);
    if (function < 0) {
        return;
    }
    const uint64_t self = GetSerial();
    const auto results = static_cast<uint32_t>(method.GetReturnWords());
    uint32_t result[MaxValueWords] = {};
    const bool called = CallFunction(
        uint32_t(function), block + 1, static_cast<uint32_t>(method.GetArgumentWords()),
        results > 0 ? result : nullptr, std::min<uint32_t>(results, MaxValueWords));
    if (called && IsAlive(self)) {
        std::copy(result, result + std::min<uint32_t>(results, MaxValueWords), block);
    }
}

// Interface ---------------------------------------------------------------------------------------

void Script::OnReferenceChanged(Entity* target, uint32_t newId) {
    // A deleted entity is cleared by "nodedeletion" (single variables only); only moves rename.
    if (target && newId != 0) {
        RenameReference(target->GetId(), newId, nullptr);
    }
}

PathString Script::GetDescription() const {
    return program_ ? PathString(program_->GetScriptName().c_str()) : PathString();
}

void Script::GetPropertyValue(const Property& property, uint32_t* out) const {
    const int32_t offset = program_ ? program_->GetPropertyOffset(property) : -1;
    const int32_t words = GetTypeWordCount(property.GetValueType());
    if (offset < 0 || words <= 0 || uint64_t(offset) + uint32_t(words) > variables_.size()) {
        Node::GetPropertyValue(property, out);
        return;
    }
    std::copy_n(variables_.begin() + offset, words, out);
    // A node the class check refused is not the program's, but it is still the scene's.
    if (const auto refused = refusedWords_.find(uint32_t(offset));
        refused != refusedWords_.end() && out[0] == 0 && IsWritingScene()) {
        out[0] = refused->second;
    }
}

void Script::SetPropertyValue(const Property& property, const uint32_t* value) {
    const int32_t offset = program_ ? program_->GetPropertyOffset(property) : -1;
    const int32_t words = GetTypeWordCount(property.GetValueType());
    if (offset < 0 || words <= 0 || uint64_t(offset) + uint32_t(words) > variables_.size()) {
        Node::SetPropertyValue(property, value);
        return;
    }
    if (property.IsString()) {
        variables_[size_t(offset)] = KeepText(uint32_t(offset), value[0]);
    } else if (property.IsEntityReference()) {
        const uint32_t bound = CheckBoundClass(property, value[0]);
        if (bound != value[0]) {
            refusedWords_[uint32_t(offset)] = value[0];
        } else {
            refusedWords_.erase(uint32_t(offset));
        }
        variables_[size_t(offset)] = bound;
    } else {
        std::copy_n(value, words, variables_.begin() + offset);
    }
    if (uint32_t(offset) < program_->GetPublicVariableWords()) {
        const uint64_t self = GetSerial();
        if (!CallPropertyChanged() || !IsAlive(self)) {
            return;
        }
    }
    if (property.IsEntityReference()) {
        RebuildReferences();
    }
}

uint32_t Script::CheckBoundClass(const Property& property, uint32_t word) const {
    const ClassInfo* declared = ClassOfType(property.GetValueType());
    Entity* bound = (word & IdBits) != 0 ? LookupEntity(word) : nullptr;
    if (!declared || !bound || bound->CastTo(declared)) {
        return word;
    }
    LogMessage("Script '%s': %s is a %s, given %s", GetDescription().Text(), property.GetName(),
               declared->GetName(), DescribeEntity(*bound).c_str());
    return 0;
}

bool Script::CallPropertyChanged() {
    return propertyChangedFunction_ < 0 ||
           CallFunction(uint32_t(propertyChangedFunction_), nullptr, 0, nullptr, 0);
}

uint32_t Script::KeepText(uint32_t offset, uint32_t word) {
    auto kept = keptTexts_.find(offset);
    if (kept != keptTexts_.end() && kept->second == word) {
        return word;
    }
    // The copy is made before the old block goes: the word may name it.
    const char* text = LookupText(word);
    const size_t length = std::strlen(text);
    const TextWord block = AllocateTextBlock(length + 1);
    if (block == 0) {
        LogMessage("Script '%s': no room to keep a text of %zu bytes", GetDescription().Text(),
                   length);
        return word;
    }
    std::memcpy(GetTextBlock(block), text, length + 1);
    if (kept != keptTexts_.end()) {
        FreeTextBlock(kept->second);
        kept->second = block;
    } else {
        keptTexts_.emplace(offset, block);
    }
    return block;
}

void Script::FreeKeptTexts() {
    for (const auto& [offset, block] : keptTexts_) {
        FreeTextBlock(block);
    }
    keptTexts_.clear();
}

void Script::ReceiveEvent(const EventRecord& event) {
    const int32_t function =
        program_ ? program_->GetInputFunction(int(event.target.GetPort())) : -1;
    if (function < 0) {
        return;
    }
    // As many words as the function declares, as a witness function is called: a shorter list
    // takes the first of (sender, argument, value), a longer one zeros past them.
    const uint32_t passed[3] = {event.sender.GetId(), event.argument.GetId(),
                                FloatToWord(event.value)};
    std::vector<uint32_t> words(program_->GetInputArgumentWords(int(event.target.GetPort())));
    std::copy_n(passed, std::min<size_t>(words.size(), 3), words.begin());
    CallFunction(uint32_t(function), words.data(), uint32_t(words.size()), nullptr, 0);
}

int Script::GetInputCount() const {
    return program_ ? program_->GetInputPortCount() : 0;
}

int Script::GetOutputCount() const {
    return program_ ? program_->GetOutputPortCount() : 0;
}

const char* Script::GetInputName(int port) const {
    return program_ ? program_->GetInputPortName(port) : "";
}

const char* Script::GetOutputName(int port) const {
    return program_ ? program_->GetOutputPortName(port) : "";
}

void Script::SetPortValue(int port, const EntityRef& reference) {
    const int32_t offset = program_ ? program_->GetOutputVariable(port) : -1;
    if (offset < 0 || uint32_t(offset) >= variables_.size()) {
        return;
    }
    variables_[size_t(offset)] = reference.GetId();
    RebuildReferences();
}

EntityRef Script::GetPortValue(int port) const {
    EntityRef reference;
    const int32_t offset = program_ ? program_->GetOutputVariable(port) : -1;
    if (offset >= 0 && uint32_t(offset) < variables_.size()) {
        reference.InitFromId(variables_[size_t(offset)]);
    }
    return reference;
}

std::string Script::GetStatusText(int selector) const {
    switch (selector) {
    case 0:
        return std::string(GetRunStateText(runState_)) + " " + GetCurrentStateName();
    case 1:
        if (program_ && context_ && !context_->Frames().empty()) {
            return "line: " + std::to_string(program_->GetSourceLine(context_->GetPosition()));
        }
        return "line: not running";
    case 2:
        return "callstack:";
    default:
        return std::string();
    }
}

const char* Script::GetCurrentStateName() const {
    const int state = GetCurrentStateIndex();
    return state < 0 ? "" : program_->GetSymbols().globals[size_t(state)].name.c_str();
}

void Script::RebuildReferences() {
    references_.clear();
    ForEachEntityWord(true, [this](uint32_t& word) { references_.emplace_back(this).SetId(word); });
    for (const auto& [offset, word] : refusedWords_) {
        references_.emplace_back(this).SetId(word);
    }
}

void Script::ClearReference(void* entity) {
    const auto* deleted = static_cast<Entity*>(entity);
    if (EngineState == EngineShuttingDown || !deleted || (deleted->GetId() & IdBits) == 0) {
        return;
    }
    const uint32_t id = deleted->GetId() & IdBits;
    ForEachEntityWord(false, [id](uint32_t& word) {
        if ((word & IdBits) == id) {
            word = 0;
        }
    });
    std::erase_if(refusedWords_,
                  [id](const auto& refused) { return (refused.second & IdBits) == id; });
}

void Script::OnScriptChanged(void* program) {
    if (!program_ || program != static_cast<void*>(program_)) {
        return;
    }
    runState_ = ScriptReady;
    ResolveCallbacks();
    if (program_->GetVariableWords() > variables_.size()) {
        TakeVariables(program_->GetVariableWords(), true);
    }
    if (!ApplyHeldLines()) {
        return;
    }
    RebuildReferences();
}

void Script::CheckLinked(void*) {
    if (!program_ || program_->GetLinkState() == ScriptLinked) {
        return;
    }
    std::string text;
    if (program_->GetLinkState() == ScriptUnresolved) {
        text =
            StringFormat("Script '%s' is not linked correctly (externals are unresolved). Do you "
                         "want to continue anyway?",
                         program_->GetFullPath());
        const uint32_t* code = program_->GetCode();
        for (const ScriptFixup& fixup : program_->GetSymbols().fixups) {
            if (code && fixup.wordOffset < program_->GetCodeSize() &&
                code[fixup.wordOffset] == ScriptResource::UnresolvedWord) {
                text +=
                    StringFormat("\n(Unresolved identifier '%s' on line %d)", fixup.name.c_str(),
                                 program_->GetSourceLine(fixup.wordOffset));
            }
        }
    } else {
        text =
            StringFormat("Script '%s' is not compiled correctly. Do you want to continue anyway?",
                         program_->GetFullPath());
    }
    constexpr uint32_t question =
        MessageBoxYesNo | MessageBoxIconWarning | MessageBoxDefaultButton2;
    if (ShowMessageBox(text.c_str(), "Script alert!", question) == DialogNo) {
        StopSignal();
    }
}

const ScriptIdentifier* Script::FindVariable(const char* name, uint32_t words) const {
    const int index = program_ && name ? program_->FindIdentifier(name) : -1;
    if (index < 0) {
        return nullptr;
    }
    const ScriptIdentifier& record = program_->GetSymbols().globals[size_t(index)];
    const uint64_t count = std::min<uint64_t>(record.GetWordSize(), words);
    return IsVariable(record) && record.offset + count <= variables_.size() ? &record : nullptr;
}

bool Script::GetVariable(const char* name, uint32_t* out, uint32_t words) const {
    const ScriptIdentifier* record = FindVariable(name, words);
    if (!record) {
        return false;
    }
    std::copy_n(variables_.begin() + record->offset,
                std::min<uint64_t>(record->GetWordSize(), words), out);
    return true;
}

bool Script::SetVariable(const char* name, const uint32_t* value, uint32_t words) {
    const ScriptIdentifier* record = FindVariable(name, words);
    if (!record) {
        return false;
    }
    std::copy_n(value, std::min<uint64_t>(record->GetWordSize(), words),
                variables_.begin() + record->offset);
    return true;
}

Script* Script::FindByScriptName(const char* name) {
    const ClassInfo* scripts = RegisterScriptNodeClass();
    for (int i = 0; i < scripts->GetInstanceCountRecursive(); ++i) {
        auto* script = dynamic_cast<Script*>(scripts->GetInstance(i));
        if (script && script->program_ && name &&
            CompareNoCase(script->program_->GetScriptName().c_str(), name) == 0) {
            return script;
        }
    }
    return nullptr;
}

// Script methods ----------------------------------------------------------------------------------

void Script::CallFunctionNamed(const char* name) {
    const int32_t function = program_ && name ? program_->FindFunction(name, -1) : -1;
    if (function >= 0) {
        CallFunction(uint32_t(function), nullptr, 0, nullptr, 0);
    }
}

void Script::RestartWith(const char* name) {
    ResetExecution();
    StartFunctionNamed(name);
}

void Script::StartFunctionNamed(const char* name) {
    const int32_t function = program_ && name ? program_->FindFunction(name, -1) : -1;
    if (function >= 0) {
        StartFunction(uint32_t(function), 0, nullptr, true);
    }
}

int32_t Script::GetCallDepth() {
    const ScriptContext* context = GetCurrentScriptContext();
    return context ? static_cast<int32_t>(context->Frames().size()) : 0;
}

const ScriptCallFrame* Script::FrameFromTop(int32_t frame) {
    const ScriptContext* context = GetCurrentScriptContext();
    if (!context || frame <= 0 || size_t(frame) > context->Frames().size()) {
        return nullptr;
    }
    const ScriptCallFrame& found = context->Frames()[context->Frames().size() - size_t(frame)];
    return found.caller && IsAlive(found.callerSerial) ? &found : nullptr;
}

EntityId Script::GetFrameInstance(int32_t frame) {
    if (frame <= 0) {
        return {GetId()};
    }
    const ScriptCallFrame* found = FrameFromTop(frame);
    return {found ? found->caller->GetId() : 0u};
}

int32_t Script::GetFrameLine(int32_t frame) const {
    if (frame <= 0) {
        const ScriptContext* context = GetCurrentScriptContext();
        return context && program_ && !context->IsIdle()
                   ? program_->GetSourceLine(context->GetPosition())
                   : -1;
    }
    const ScriptCallFrame* found = FrameFromTop(frame);
    const ScriptResource* program = found ? found->caller->GetProgram() : nullptr;
    if (!program || found->returnPosition == NoScriptPosition || found->returnPosition == 0) {
        return -1;
    }
    return program->GetSourceLine(found->returnPosition - 1);
}

} // namespace quarn
