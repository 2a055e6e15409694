#include "script/machine/ScriptContext.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/Property.h"
#include "core/object/ValueBinding.h"
#include "core/object/ValueType.h"
#include "core/os/Dialogs.h"
#include "core/os/EngineWork.h"
#include "core/os/HeldMemory.h"
#include "core/scene/EngineState.h"
#include "core/scenefile/VersionControl.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"
#include "core/string/TextArena.h"
#include "script/machine/ScriptClass.h"
#include "script/machine/ScriptCommands.h"
#include "script/machine/ScriptContextCalls.h"
#include "script/machine/ScriptDebugHooks.h"
#include "script/machine/ScriptFastRunner.h"
#include "script/machine/ScriptNode.h"
#include "script/machine/ScriptResource.h"
#include "script/machine/ScriptValueType.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <set>
#include <string>

namespace quarn {

using namespace script_command;

namespace {

ScriptContext* currentContext = nullptr;
// The thread scripts run on: engine work charged from any other is not theirs.
pthread_t scriptThread{};
uint32_t terminatingErrors = 0; // ScriptContext::GetTerminatingErrorCount

constexpr const char* InvalidCommandText =
    "Invalid command - maybe you need to recompile all scripts";
constexpr uint32_t IdBits = ~PortMask;
// Call depth that needs no allocation during a run.
constexpr uint32_t InitialFrames = 256;

std::string ProgramName(const Script* instance) {
    const ScriptResource* program = instance ? instance->GetProgram() : nullptr;
    return program ? GetPathName(program->GetFullPath()) : std::string();
}

// Appends where the offset lies, for the report's head (" line N", " at FILE:LINE") or for a
// frame (", line N", ", FILE:LINE"): by the line table, by the source lines of a program that
// names its source, or by the offset itself ("prog-count N", "pc N") without a line table.
void AppendLine(std::string& text, const ScriptResource* program, uint32_t offset, bool head) {
    const char* offsetWord = head ? "prog-count" : "pc";
    text.append(head ? " " : ", ");
    if (!program) {
        text.append(offsetWord).append(" ").append(std::to_string(static_cast<int32_t>(offset)));
    } else {
        if (head && program->HasSourceLines()) {
            text.append("at ");
        }
        text.append(program->DescribeOffset(offset, offsetWord));
    }
    text.append("\n");
}

// One line of the call stack: the frame's function, prefixed with its script when that is not
// the one that failed, and its line.
void AppendFrame(std::string& text, const ScriptCallFrame& frame, const Script* failed,
                 const Script* instance, uint64_t instanceSerial, uint32_t position) {
    const bool alive = instance && IsAlive(instanceSerial);
    const ScriptResource* program = alive ? instance->GetProgram() : nullptr;
    if (instance != failed) {
        text.append(alive ? ProgramName(instance) : std::string()).append(".");
    }
    const int function =
        program ? program->FindIdentifierByTypeAndOffset(TypeFunction, frame.entry) : -1;
    if (function >= 0) {
        text.append(program->GetSymbols().globals[size_t(function)].name).append("()");
    } else {
        text.append("unknown function");
    }
    AppendLine(text, program, position, false);
}

// The method records registered after `called`, in registration order, while they carry its
// name: the first whose class the entity belongs to. A rare path: the records are gathered only
// when a call needs it.
const MethodInfo* FindSameNamedMethod(const MethodInfo& called, Entity& entity) {
    std::vector<const MethodInfo*> later;
    for (int c = 0; c < GetClassCount(); ++c) {
        if (const ClassInfo* classInfo = GetClassByIndex(c)) {
            for (const auto& method : classInfo->GetOwnMethods()) {
                if (method->GetRegistrationNumber() > called.GetRegistrationNumber()) {
                    later.push_back(method.get());
                }
            }
        }
    }
    std::sort(later.begin(), later.end(), [](const MethodInfo* a, const MethodInfo* b) {
        return a->GetRegistrationNumber() < b->GetRegistrationNumber();
    });
    for (const MethodInfo* method : later) {
        if (std::strcmp(method->GetName(), called.GetName()) != 0) {
            return nullptr;
        }
        if (entity.CastTo(method->GetOwner())) {
            return method;
        }
    }
    return nullptr;
}

} // namespace

ScriptContext* GetCurrentScriptContext() {
    return currentContext;
}

namespace {

// ChargeTextWork and ChargeHandedText: `steps` for the work, or the failure for a text too long.
bool ChargeTextSteps(const char* function, size_t longest, uint64_t steps) {
    ScriptContext* context = currentContext;
    if (longest > MaxScriptTextBytes) {
        if (context) {
            context->FailCall(TextOverCapMessage(function, longest));
        }
        return false;
    }
    if (context) {
        context->ChargeSteps(steps);
    }
    return true;
}

} // namespace

std::string TextOverCapMessage(const char* what, size_t length) {
    return FormatClassic("%s: a text of %zu bytes is longer than the %zu MiB a script's text may "
                         "have",
                         what, length, MaxScriptTextBytes >> 20);
}

bool ChargeTextWork(const char* function, size_t longest, size_t bytes) {
    return ChargeTextSteps(function, longest, bytes / ScriptTextBytesPerStep);
}

bool ChargeHandedText(const char* function, size_t length) {
    return ChargeTextSteps(function, length, length / ScriptHandedTextBytesPerStep);
}

namespace {

std::string MiB(size_t bytes) {
    return std::to_string((bytes + (size_t(1) << 20) - 1) >> 20) + " MiB";
}

void ChargeRunningScript(uint64_t steps) {
    if (currentContext && pthread_equal(pthread_self(), scriptThread)) {
        currentContext->ChargeSteps(steps);
    }
}

void FailRunningScript(const char* reason) {
    if (currentContext && pthread_equal(pthread_self(), scriptThread)) {
        currentContext->FailCall(reason);
    }
}

} // namespace

std::string BudgetRefusal(const char* what, size_t bytes) {
    return StringFormat("%s: %s more would take the game past its memory budget of %s (it holds "
                        "%s)",
                        what, MiB(bytes).c_str(), MiB(GetMemoryBudget()).c_str(),
                        MiB(GetHeldMemory()).c_str());
}

bool ScriptMayHold(const char* what, size_t bytes) {
    if (MemoryBudgetAllows(bytes)) {
        return true;
    }
    if (currentContext) {
        currentContext->FailCall(BudgetRefusal(what, bytes));
    }
    return false;
}

void SetCurrentScriptContext(ScriptContext* context) {
    currentContext = context;
    SetScriptRunning(context != nullptr);
    if (context) {
        scriptThread = pthread_self();
        SetEngineWorkHook(&ChargeRunningScript);
        SetEngineRefusalHook(&FailRunningScript);
    }
}

ScriptContext::ScriptContext(Script* owner, uint32_t stackSize)
    : owner_(owner), ownerSerial_(owner ? owner->GetSerial() : 0), current_(owner),
      currentSerial_(ownerSerial_), frameCapacity_(stackSize), stack_(stackSize) {
    // The stack size is a header word of the code file: frames beyond the usual depth are
    // allocated only when a run reaches them, never on the header's word alone.
    frames_.reserve(std::min<uint32_t>(stackSize, InitialFrames));
}

ScriptContext::RunScope::~RunScope() {
    // Work charged by a command that ended the run is not carried into the next run; what the
    // run this one nested in had charged before the call waits for it.
    context_.chargedSteps_ = outerCharge_;
    if (--context_.activeRuns_ == 0 && context_.IsAbandoned()) {
        delete &context_;
    }
}

void ScriptContext::Abandon(ScriptContext* context) {
    if (!context) {
        return;
    }
    context->owner_ = nullptr;
    if (context->activeRuns_ == 0) {
        delete context;
    }
}

void ScriptContext::Reset(uint32_t keep) {
    stack_.KeepTop(std::min(keep, stack_.Depth()));
    frames_.clear();
    position_ = NoScriptPosition;
    current_ = owner_;
    currentSerial_ = ownerSerial_;
}

bool ScriptContext::FoundAlive() const {
    // Checked before every command: the serials are looked up again only after some entity
    // was destroyed or the instance changed.
    if (!IsAlive(ownerSerial_) || !IsAlive(currentSerial_)) {
        return false;
    }
    const uint64_t destroyed = Entity::GetDestroyedCount();
    const uint64_t previous =
        destroyed == aliveCheck_.destroyed ? aliveCheck_.current : currentSerial_;
    aliveCheck_ = {destroyed, currentSerial_, previous};
    return true;
}

int ScriptContext::InvalidCommand() {
    return RuntimeError("%s", InvalidCommandText);
}

int ScriptContext::StackOverflow() {
    if (callsRefused_) {
        callsRefused_ = false;
        return RuntimeError(
            "%s", BudgetRefusal("Call stack", frames_.size() * sizeof(ScriptCallFrame)).c_str());
    }
    return RuntimeError("Stack overflow");
}

int ScriptContext::StepLimitError() {
    return BudgetError("Infinite loop detected (100million'th instruction reached)");
}

int ScriptContext::BudgetError(const char* message) {
    if (chain_.ended) {
        if (chain_.answered != this) {
            return StepTerminate;
        }
        chain_.answered = nullptr;
        return chain_.answer;
    }
    chain_.ended = true;
    chain_.spent = ScriptStepLimit;
    chain_.answer = RuntimeError("%s", message);
    chain_.answered = this;
    return chain_.answer;
}

bool ScriptContext::MayNestRun() {
    if (chain_.depth == 0) {
        return true;
    }
    if (chain_.ended) {
        return false;
    }
    if (chain_.depth < MaxScriptNesting) {
        return true;
    }
    // Reported as the calling run's error; that run ends with its answer once the call returns.
    if (ScriptContext* caller = currentContext) {
        caller->BudgetError(
            StringFormat("Calls between scripts nest deeper than %u", MaxScriptNesting).c_str());
    }
    return false;
}

ScriptContext::NestedRun::NestedRun() : caller_(currentContext), before_(chain_.spent) {}

ScriptContext::NestedRun::~NestedRun() {
    if (caller_ && chain_.spent > before_) {
        caller_->ChargeSteps(chain_.spent - before_);
    }
}

int ScriptContext::CheckHeldMemory(int64_t held, const ClassInfo* owner, const char* member) {
    const size_t now = GetHeldMemory();
    const size_t budget = GetMemoryBudget();
    if (HeldMemoryMark() <= held || now <= budget) {
        return StepContinue;
    }
    const std::string what = owner ? std::string(owner->GetName()).append(".").append(member)
                                   : std::string("function ").append(member);
    return BudgetError(StringFormat("%s: the game holds %s, more than its memory budget of %s",
                                    what.c_str(), MiB(now).c_str(), MiB(budget).c_str())
                           .c_str());
}

// Running ---------------------------------------------------------------------------------------

int ScriptContext::Step() {
    // A run that lost its instance (deleted by a call out of the machine) stops here too.
    if (LostDuringCall()) {
        return StepNodeDeleted;
    }
    commandOffset_ = position_;
    const ScriptResource* program = current_ ? current_->GetProgram() : nullptr;
    const uint32_t* code = program ? program->GetCode() : nullptr;
    const uint32_t size = code ? program->GetCodeSize() : 0;
    if (position_ >= size) {
        return InvalidCommand();
    }
    const uint32_t command = code[position_++];
    if (command >= Count) {
        return InvalidCommand();
    }
    // One bounds check for the command's operand words, read where they lie.
    const uint32_t* operands = code + position_;
    if (OperandWords[command] > size - position_) {
        position_ = size;
        return InvalidCommand();
    }
    position_ += OperandWords[command];
    const int result = Execute(command, operands);
    // What the command pushed is taken into use now at the latest: the translated form takes
    // what its regions reach before it runs them.
    if (result == StepContinue && stack_.Depth() > stack_.Taken()) [[unlikely]] {
        return TakeStack(stack_.Depth());
    }
    return result;
}

int ScriptContext::TakeStack(uint64_t words) {
    const size_t held = stack_.HeldBytes();
    if (stack_.Take(words)) {
        return StepContinue;
    }
    return RuntimeError("%s", BudgetRefusal("Value stack", size_t(words + 1) * 4 - held).c_str());
}

int ScriptContext::Run() {
    RunScope scope(*this);
    ChainLink link(*this);
    if (ScriptTranslatedRuns) {
        return ScriptFastRunner::Run(*this);
    }
    // Counted from the chain's count: what the runs this one is nested in spent counts too.
    uint32_t steps = chain_.spent;
    for (;;) {
        chain_.spent = steps;
        const int result = Step();
        steps = AddChargedSteps(steps, ScriptStepLimit);
        // Also when the last step ended the run: the count is what is checked.
        if (CountStep(steps, ScriptStepLimit) && result != StepNodeDeleted) {
            return StepLimitError();
        }
        if (result != StepContinue) {
            chain_.spent = steps;
            return result;
        }
    }
}

int ScriptContext::RunLine() {
    RunScope scope(*this);
    ChainLink link(*this);
    const ScriptResource* program = current_ ? current_->GetProgram() : nullptr;
    if (!program) {
        return Step();
    }
    // By the lines the debugger shows: the source's, or the marks' of a program without them.
    const int32_t line = program->GetSourceLine(position_);
    uint32_t steps = chain_.spent;
    for (;;) {
        chain_.spent = steps;
        const int result = Step();
        if (result != StepContinue) {
            chain_.spent = steps;
            return result;
        }
        steps = AddChargedSteps(steps, ScriptStepLimit);
        // A loop on one line must not hang the debugger either.
        if (CountStep(steps, ScriptStepLimit)) {
            return StepLimitError();
        }
        program = current_ ? current_->GetProgram() : nullptr;
        if (!program || program->GetSourceLine(position_ - 1) != line) {
            chain_.spent = steps;
            return result;
        }
    }
}

int ScriptContext::Execute(uint32_t command, const uint32_t* operands) {
    const uint32_t count = OperandWords[command];
    const uint32_t a = count > 0 ? operands[0] : 0;
    const uint32_t b = count > 1 ? operands[1] : 0;
    const uint32_t c = count > 2 ? operands[2] : 0;
    const uint32_t d = count > 3 ? operands[3] : 0;
    const uint32_t depth = stack_.Depth();
    switch (command) {
    case PushInt:
    case PushFloat:
        if (depth >= stack_.Capacity()) {
            return StackOverflow();
        }
        stack_.Push(a);
        return StepContinue;
    case PushText: {
        const ScriptResource* program = current_->GetProgram();
        const uint32_t start = position_;
        const auto* bytes = reinterpret_cast<const char*>(program->GetCode() + start);
        const size_t room = size_t(program->GetCodeSize() - start) * 4;
        const void* end = std::memchr(bytes, 0, room);
        if (!end) {
            return InvalidCommand();
        }
        if (depth >= stack_.Capacity()) {
            return StackOverflow();
        }
        const size_t length = static_cast<const char*>(end) - bytes;
        stack_.Push(program->GetCodeTextWord() + 4 * start);
        position_ = start + static_cast<uint32_t>((length + 4) / 4);
        return StepContinue;
    }
    case Drop:
        if (a > depth) {
            return InvalidCommand();
        }
        stack_.Adjust(-static_cast<int32_t>(a));
        return StepContinue;
    case Duplicate: {
        const auto count = static_cast<int32_t>(a);
        if (count < 1) {
            return StepContinue;
        }
        if (a > depth) {
            return InvalidCommand();
        }
        if (a > stack_.Capacity() - depth) {
            return StackOverflow();
        }
        stack_.PushWords(stack_.TopWords(a), a);
        return StepContinue;
    }
    case ToFloat: {
        if (uint64_t(a) + b > depth) {
            return InvalidCommand();
        }
        uint32_t* words = stack_.TopWords(a + b);
        for (uint32_t i = 0; i < b; ++i) {
            words[i] = FloatToWord(static_cast<float>(static_cast<int32_t>(words[i])));
        }
        return StepContinue;
    }
    case PushSelf:
    case PushParent:
    case PushRoot: {
        if (depth >= stack_.Capacity()) {
            return StackOverflow();
        }
        const Node* node = command == PushSelf     ? current_
                           : command == PushParent ? current_->GetParent()
                                                   : GetSceneRoot();
        stack_.Push(node ? node->GetId() : 0);
        return StepContinue;
    }
    case Index:
        return CommandIndex(a, b);
    case ElementAddress:
        return CommandElementAddress(a, b);
    case LoadVariable:
    case StoreVariable:
    case LoadExternal:
    case StoreExternal:
        return CommandVariables(command, a);
    case LoadLocal:
    case StoreLocal:
        return CommandFrameWords(command, a);
    case GetProperty:
        return CommandGetProperty();
    case SetProperty:
        return CommandSetProperty(a);
    case Operator:
        return CommandOperator(a);
    case Function:
        return CommandFunction(a);
    case LocalCall: {
        const auto offset = static_cast<int32_t>(a);
        if (offset < 0) {
            return RuntimeError(
                "Unknown address of local call (function is referenced before declared)");
        }
        if (a >= current_->GetProgram()->GetCodeSize()) {
            return InvalidCommand();
        }
        return Call(current_, a, false) ? StepContinue : StackOverflow();
    }
    case ExternalCall:
        return CommandExternalCall(static_cast<int32_t>(a), b, c, d);
    case Method:
        return CommandMethod(static_cast<int32_t>(a), b);
    case Jump:
        return CommandJump(static_cast<int32_t>(a));
    case JumpIfTrue:
    case JumpIfFalse: {
        if (depth < 1) {
            return InvalidCommand();
        }
        const bool taken = (stack_.Pop() != 0) == (command == JumpIfTrue);
        return taken ? CommandJump(static_cast<int32_t>(a)) : StepContinue;
    }
    case Goto:
        return CommandGoto(static_cast<int32_t>(a), b);
    case ExternalGoto:
        return CommandExternalGoto(static_cast<int32_t>(a), b);
    case Return:
        return CommandReturn(a, b);
    case SleepFrame:
        return StepSleepFrame;
    case Sleep:
        return depth < 1 ? InvalidCommand() : StepSleep;
    case End:
        return StepEnded;
    case BreakpointCommand:
        return Breakpoint(commandOffset_);
    default:
        return InvalidCommand();
    }
}

// Commands ----------------------------------------------------------------------------------------

bool ScriptContext::PopIndex(uint32_t size, uint32_t below, int32_t& index, int& result) {
    if (uint64_t(below) + 1 > stack_.Depth()) {
        result = InvalidCommand();
        return false;
    }
    index = stack_.PopInt();
    if (index < 0 || index >= static_cast<int32_t>(size)) {
        result = RuntimeError("Trying to access index '%d' on array of size '%d'", index,
                              static_cast<int32_t>(size));
        return false;
    }
    return true;
}

int ScriptContext::CommandIndex(uint32_t size, uint32_t width) {
    int32_t index = 0;
    int result = StepContinue;
    if (!PopIndex(size, 0, index, result)) {
        return result;
    }
    const uint64_t arrayWords = uint64_t(size) * width;
    if (arrayWords > stack_.Depth()) {
        return InvalidCommand();
    }
    uint32_t* array = stack_.TopWords(static_cast<uint32_t>(arrayWords));
    if (index > 0) {
        std::memmove(array, array + size_t(index) * width, size_t(width) * 4);
    }
    stack_.Adjust(-static_cast<int32_t>(arrayWords - width));
    return StepContinue;
}

int ScriptContext::CommandElementAddress(uint32_t size, uint32_t stride) {
    int32_t index = 0;
    int result = StepContinue;
    if (!PopIndex(size, 1, index, result)) {
        return result;
    }
    const uint32_t base = stack_.Pop();
    stack_.Push(base + static_cast<uint32_t>(index) * stride);
    return StepContinue;
}

uint32_t* ScriptContext::VariableWords(Script& node, int32_t offset, uint32_t count) {
    if (offset < 0 || uint64_t(uint32_t(offset)) + count > node.GetVariableCount()) {
        return nullptr;
    }
    return node.GetVariables() + offset;
}

int ScriptContext::CommandVariables(uint32_t command, uint32_t count) {
    const bool store = command == StoreVariable || command == StoreExternal;
    const bool external = command == LoadExternal || command == StoreExternal;
    const uint64_t needed = uint64_t(external ? 2 : 1) + (store ? count : 0);
    const uint32_t depth = stack_.Depth();
    if (needed > depth || count > stack_.Capacity()) {
        return InvalidCommand();
    }
    const uint32_t* below = stack_.TopWords(static_cast<uint32_t>(needed));
    Script* node = current_;
    if (external) {
        int result = StepContinue;
        node = ResolveScript(below[0], "Illegal external call (entity is not a script)", result);
        if (!node) {
            return result;
        }
    }
    const auto offset = static_cast<int32_t>(below[external ? 1 : 0]);
    uint32_t* words = VariableWords(*node, offset, count);
    if (!words) {
        return InvalidCommand();
    }
    if (store) {
        std::memcpy(words, stack_.TopWords(count), size_t(count) * 4);
        stack_.Adjust(-static_cast<int32_t>(needed));
        return StepContinue;
    }
    stack_.Adjust(-static_cast<int32_t>(needed));
    if (count > stack_.Capacity() - stack_.Depth()) {
        return StackOverflow();
    }
    stack_.PushWords(words, count);
    return StepContinue;
}

uint32_t* ScriptContext::FrameWords(int32_t offset, uint32_t count, uint32_t limit) {
    const int64_t index = int64_t(FrameBase()) + offset;
    if (index < 0 || index + count > limit) {
        return nullptr;
    }
    return stack_.WordAt(index);
}

int ScriptContext::CommandFrameWords(uint32_t command, uint32_t count) {
    const bool store = command == StoreLocal;
    const uint64_t needed = uint64_t(1) + (store ? count : 0);
    const uint32_t depth = stack_.Depth();
    if (needed > depth) {
        return InvalidCommand();
    }
    const uint32_t rest = depth - static_cast<uint32_t>(needed);
    const auto offset = static_cast<int32_t>(*stack_.WordAt(rest));
    uint32_t* words = count == 0 ? stack_.WordAt(rest) : FrameWords(offset, count, rest);
    if (!words) {
        return InvalidCommand();
    }
    // A single word, the usual local, is moved without a call; the offset word's slot is the
    // loaded word's.
    if (count == 1) {
        uint32_t* top = stack_.WordAt(depth - 1);
        if (store) {
            *words = *top;
            stack_.Adjust(-2);
        } else {
            *top = *words;
        }
        return StepContinue;
    }
    if (store) {
        std::memmove(words, stack_.TopWords(count), size_t(count) * 4);
        stack_.Adjust(-static_cast<int32_t>(needed));
        return StepContinue;
    }
    stack_.Adjust(-1);
    if (count > stack_.Capacity() - stack_.Depth()) {
        return StackOverflow();
    }
    stack_.PushWords(words, count);
    return StepContinue;
}

Entity* ScriptContext::ResolveEntity(uint32_t word, int& result) {
    Entity* entity = LookupEntity(word);
    if (!entity) {
        result = RuntimeError("Entity is none");
    }
    return entity;
}

Script* ScriptContext::ResolveScript(uint32_t word, const char* notScript, int& result) {
    Entity* entity = ResolveEntity(word, result);
    if (!entity) {
        return nullptr;
    }
    auto* script = CastObject<Script>(entity);
    if (!script) {
        result = RuntimeError("%s", notScript);
    }
    return script;
}

int ScriptContext::CommandGetProperty() {
    if (stack_.Depth() < 2) {
        return InvalidCommand();
    }
    const auto id = stack_.PopInt();
    int result = StepContinue;
    Entity* entity = ResolveEntity(stack_.Pop(), result);
    if (!entity) {
        return result;
    }
    const ClassInfo& owner = *entity->GetClass();
    const Property* property = FindCommandProperty(*entity, id, result);
    if (!property) {
        return result;
    }
    // Words of the type, not bytes of a host value: a string is one arena word.
    const auto words = static_cast<uint32_t>(GetTypeWordCount(property->GetValueType()));
    PropertyValue value;
    property->ReadValue(*entity, value.words);
    if (LostDuringCall()) {
        return StepNodeDeleted;
    }
    if (property->IsString()) {
        const int charged =
            ChargeCrossingText(value.words[0], TextCrossing::Read, owner, property->GetName());
        if (charged != StepContinue) {
            return charged;
        }
    }
    if (words > MaxValueWords || words > stack_.Capacity() - stack_.Depth()) {
        return StackOverflow();
    }
    stack_.PushWords(value.words, words);
    return StepContinue;
}

int ScriptContext::CommandSetProperty(uint32_t count) {
    if (uint64_t(count) + 2 > stack_.Depth() || count > MaxValueWords) {
        return InvalidCommand();
    }
    PropertyValue value;
    stack_.PopWords(value.words, count);
    const auto id = stack_.PopInt();
    const uint32_t usedId = stack_.Pop() & IdBits;
    int result = StepContinue;
    Entity* entity = ResolveEntity(usedId, result);
    if (!entity) {
        return result;
    }
    const Property* property = FindCommandProperty(*entity, id, result);
    if (!property) {
        return result;
    }
    if (property->IsString()) {
        const int charged = ChargeCrossingText(value.words[0], TextCrossing::Handed,
                                               *entity->GetClass(), property->GetName());
        if (charged != StepContinue) {
            return charged;
        }
    }
    // Refused, the property keeps its value and the script goes on.
    if (!property->ScriptMayWrite(*entity, value.words)) {
        return StepContinue;
    }
    const uint64_t serial = entity->GetSerial();
    const bool isParent = std::strcmp(property->GetName(), "parent") == 0;
    const int64_t held = HeldMemoryMark();
    {
        EngineStateScope writing(EngineScriptWritesProperty);
        property->WriteValue(*entity, value.words);
    }
    if (LostDuringCall()) {
        return StepNodeDeleted;
    }
    // A move into another id system renumbers the entity; the script keeps following it.
    if (isParent && IsAlive(serial) && (entity->GetId() & IdBits) != usedId) {
        current_->RenameReference(usedId, entity->GetId() & IdBits, this);
    }
    if (HeldMemoryMark() > held) {
        const ClassInfo* owner = IsAlive(serial) ? entity->GetClass() : property->GetOwner();
        const int checked = CheckHeldMemory(held, owner, property->GetName());
        if (checked != StepContinue) {
            return checked;
        }
    }
    return current_->GetRunState() == ScriptTerminateRequested ? StepTerminate : StepContinue;
}

int ScriptContext::CommandOperator(uint32_t word) {
    const ScriptValueType* type = GetScriptValueType(static_cast<int32_t>(word >> 16));
    const ScriptOperatorRecord* record =
        type ? type->GetOperator(static_cast<int>(word & 0xFFFF)) : nullptr;
    if (!record || !record->function || record->argumentWords < 0 ||
        static_cast<uint32_t>(record->argumentWords) > stack_.Depth()) {
        return InvalidCommand();
    }
    stack_.ClearFault();
    record->function(stack_);
    if (stack_.Faulted()) {
        stack_.ClearFault();
        return stack_.Depth() == stack_.Capacity() ? StackOverflow() : InvalidCommand();
    }
    return failedCall_.empty() ? StepContinue : ReportFailedCall();
}

int ScriptContext::CommandFunction(uint32_t index) {
    const MethodInfo* function = index < uint32_t(GetRegisteredFunctionCount())
                                     ? GetRegisteredFunction(int(index))
                                     : nullptr;
    return function ? InvokeFunction(*function) : InvalidCommand();
}

int ScriptContext::CommandExternalCall(int32_t function, uint32_t arguments, uint32_t x,
                                       uint32_t hash) {
    if (function < 0) {
        return RuntimeError("Unknown address of external call (included script maybe not loaded?)");
    }
    const uint32_t depth = stack_.Depth();
    if (uint64_t(arguments) + 1 > depth) {
        return InvalidCommand();
    }
    int result = StepContinue;
    Script* target = ResolveScript(*stack_.WordAt(depth - arguments - 1),
                                   "Illegal external call (entity is not a script)", result);
    if (!target) {
        return result;
    }
    switch (CheckExternalCall(*target, function, hash)) {
    case ExternalCallCheck::NotRunnable:
        return RuntimeError("External call to script that is terminated or not compiled");
    case ExternalCallCheck::OtherScript:
        return RuntimeError("Illegal external call (actual script does not match function (or "
                            "there may be multiple resolves))");
    case ExternalCallCheck::OutsideCode:
        return InvalidCommand();
    case ExternalCallCheck::Callable:
        break;
    }
    if (arguments == 0 && x == 0) {
        stack_.Adjust(-1);
        target->CallFunction(uint32_t(function), nullptr, 0, nullptr, 0);
        return LostDuringCall() ? StepNodeDeleted : StepContinue;
    }
    return EnterExternal(*target, uint32_t(function), arguments);
}

int ScriptContext::CommandMethod(int32_t index, uint32_t arguments) {
    const uint32_t depth = stack_.Depth();
    if (uint64_t(arguments) + 1 > depth) {
        return InvalidCommand();
    }
    const uint32_t entityIndex = depth - arguments - 1;
    int result = StepContinue;
    Entity* entity = ResolveEntity(*stack_.WordAt(entityIndex), result);
    if (!entity) {
        return result;
    }
    const ClassInfo* chain = MemberChain(current_->GetProgram(), commandOffset_, *entity);
    const MethodInfo* method = chain ? FindCalledMethod(*entity, *chain, index) : nullptr;
    if (method) {
        return InvokeMethod(*entity, *method, entityIndex, arguments);
    }
    const char* className = entity->GetClass()->GetName();
    const MethodInfo* record = chain && index >= 0 ? chain->GetMethod(index) : nullptr;
    if (!record) {
        return RuntimeError("Entity is %s, does not have function id %d", className, index);
    }
    return RuntimeError("Entity is %s, does not have function %s", className, record->GetName());
}

const ClassInfo* ScriptContext::MemberChain(const ScriptResource* program, uint32_t offset,
                                            Entity& entity) {
    const int32_t recorded = program ? program->GetMemberClassType(offset) : 0;
    return recorded != 0 ? ClassOfType(recorded) : entity.GetClass();
}

const Property* ScriptContext::FindCommandProperty(Entity& entity, int32_t id, int& result) {
    const ClassInfo& own = *entity.GetClass();
    const ClassInfo* chain = MemberChain(current_->GetProgram(), commandOffset_, entity);
    const Property* property = chain && id >= 0 ? chain->GetProperty(id) : nullptr;
    if (property && entity.CastTo(property->GetOwner())) {
        return property;
    }
    // The property the program meant, where it recorded the class it was assembled for.
    result = property && chain != &own
                 ? RuntimeError("Entity is %s, does not have property %s", own.GetName(),
                                property->GetName())
                 : RuntimeError("Entity is %s, does not have property id %d", own.GetName(), id);
    return nullptr;
}

const MethodInfo* ScriptContext::FindCalledMethod(Entity& entity, const ClassInfo& chain,
                                                  int32_t index) {
    const MethodInfo* method = index >= 0 ? chain.GetMethod(index) : nullptr;
    if (!method || entity.CastTo(method->GetOwner())) {
        return method;
    }
    return FindSameNamedMethod(*method, entity);
}

int ScriptContext::CommandJump(int32_t distance) {
    const int64_t target = int64_t(position_) + distance;
    if (target < 0 || target >= int64_t(current_->GetProgram()->GetCodeSize())) {
        return InvalidCommand();
    }
    position_ = static_cast<uint32_t>(target);
    return StepContinue;
}

int ScriptContext::CommandGoto(int32_t offset, uint32_t keep) {
    if (keep > stack_.Depth() || offset < 0 ||
        uint32_t(offset) >= current_->GetProgram()->GetCodeSize()) {
        return InvalidCommand();
    }
    stack_.KeepTop(keep);
    frames_.clear();
    position_ = NoScriptPosition;
    return Call(current_, uint32_t(offset), true) ? StepContinue : StackOverflow();
}

int ScriptContext::CommandExternalGoto(int32_t offset, uint32_t arguments) {
    if (arguments > Script::MaxGotoArguments) {
        return RuntimeError("External goto with %u argument words (at most %u fit)", arguments,
                            Script::MaxGotoArguments);
    }
    const uint32_t depth = stack_.Depth();
    if (arguments + 1 > depth) {
        return InvalidCommand();
    }
    int result = StepContinue;
    Script* target = ResolveScript(*stack_.WordAt(depth - arguments - 1),
                                   "Illegal external goto (entity is not a script)", result);
    if (!target) {
        return result;
    }
    target->SetPendingGoto(offset, arguments, stack_.TopWords(arguments));
    stack_.Adjust(-static_cast<int32_t>(arguments + 1));
    return StepContinue;
}

int ScriptContext::CommandReturn(uint32_t locals, uint32_t results) {
    const uint32_t depth = stack_.Depth();
    if (uint64_t(locals) + results > depth || frames_.empty()) {
        return InvalidCommand();
    }
    if (LeaveCall(depth, locals, results).outermost) {
        return StepEnded;
    }
    // The caller may have been deleted by what it called.
    return IsAlive(currentSerial_) ? StepContinue : StepNodeDeleted;
}

int ScriptContext::Breakpoint(uint32_t offset) {
    ScriptResource* program = current_->GetProgram();
    ScriptBreakpoint* found = program->FindBreakpoint(offset);
    // A stop that nothing can resume would hold the game for good: the breakpoint is passed,
    // and the log says so once for its place.
    if ((!found || found->action == 2) && !ScriptDebuggerCanResume()) {
        TellBreakpointPassed(*program, offset);
        return found ? StepOverBreakpoint(*program, *found, offset) : StepContinue;
    }
    if (!found) {
        return StepBreak;
    }
    uint32_t* word = program->EditCode() + offset;
    switch (found->action) {
    case 0:
        *word = found->savedWord;
        position_ = offset;
        return StepContinue;
    case 1:
        return StepOverBreakpoint(*program, *found, offset);
    case 2:
        *word = found->savedWord;
        position_ = offset;
        return StepBreak;
    default:
        return InvalidCommand();
    }
}

int ScriptContext::StepOverBreakpoint(ScriptResource& program, const ScriptBreakpoint& breakpoint,
                                      uint32_t offset) {
    program.EditCode()[offset] = breakpoint.savedWord;
    position_ = offset;
    const uint64_t programSerial = program.GetSerial();
    const int result = Step();
    // The command may have reloaded or released the program.
    if (IsAlive(programSerial) && offset < program.GetCodeSize()) {
        program.EditCode()[offset] = ScriptResource::BreakpointCommand;
    }
    return result;
}

void ScriptContext::TellBreakpointPassed(const ScriptResource& program, uint32_t offset) {
    static auto* told = new std::set<std::pair<uint64_t, uint32_t>>();
    if (!told->emplace(program.GetSerial(), offset).second) {
        return;
    }
    std::string text = "Script \"" + ProgramName(current_) + "\"";
    AppendLine(text, &program, offset, true);
    text.pop_back(); // the line's end
    LogChannelMessage("script", "%s: breakpoint passed over: no script debugger here can resume it",
                      text.c_str());
}

// Runtime errors --------------------------------------------------------------------------------

std::string ScriptContext::BuildReport(const char* message) const {
    // A report may come after a call out of the machine deleted the instance.
    const Script* current = IsAlive(currentSerial_) ? current_ : nullptr;
    const ScriptResource* program = current ? current->GetProgram() : nullptr;
    std::string text = "Script \"";
    text.append(ProgramName(current)).append("\"");
    AppendLine(text, program, commandOffset_, true);
    text.append("Runtime error \"").append(message);
    text.append("\"\nScript (instance) is terminated.\n\nCallstack:\n");
    const Script* instance = current_;
    uint64_t instanceSerial = currentSerial_;
    // Source lines name the failing command itself; the position already points past it.
    uint32_t position = program && program->HasSourceLines() ? commandOffset_ : position_;
    // A runaway recursion fills the whole stack: its innermost and outermost frames tell the
    // story, the repeats between them are only counted.
    constexpr size_t ShownAtEachEnd = 20;
    const size_t count = frames_.size();
    for (size_t i = count; i-- > 0;) {
        const ScriptCallFrame& frame = frames_[i];
        const size_t depth = count - 1 - i;
        if (depth < ShownAtEachEnd || i < ShownAtEachEnd) {
            AppendFrame(text, frame, current_, instance, instanceSerial, position);
        } else if (depth == ShownAtEachEnd) {
            text.append(StringFormat("... %zu frames left out ...\n", count - 2 * ShownAtEachEnd));
        }
        position = frame.returnPosition - 1;
        instance = frame.caller;
        instanceSerial = frame.callerSerial;
    }
    return text;
}

uint32_t ScriptContext::AddChargedSteps(uint32_t steps, uint32_t limit) {
    const uint64_t total = steps + chargedSteps_;
    chargedSteps_ = 0;
    return uint32_t(std::min<uint64_t>(total, limit));
}

int ScriptContext::ChargeCrossingText(uint32_t word, TextCrossing crossing, const ClassInfo& owner,
                                      const char* member) {
    const size_t length = std::strlen(LookupText(word));
    if (length > MaxScriptTextBytes) {
        const std::string what = std::string(owner.GetName()).append(".").append(member);
        return RuntimeError("%s", TextOverCapMessage(what.c_str(), length).c_str());
    }
    ChargeSteps(crossing == TextCrossing::Handed ? length / ScriptHandedTextBytesPerStep
                                                 : length / ScriptTextBytesPerStep);
    return StepContinue;
}

int ScriptContext::ChargeMethodArguments(const ClassInfo& owner, const MethodInfo& method,
                                         const uint32_t* arguments) {
    int32_t at = 0;
    for (int i = 0; i < method.GetArgumentCount(); ++i) {
        const int32_t type = method.GetArgumentType(i);
        if (type == TypeString) {
            const int charged =
                ChargeCrossingText(arguments[at], TextCrossing::Handed, owner, method.GetName());
            if (charged != StepContinue) {
                return charged;
            }
        }
        at += GetTypeWordCount(type);
    }
    return StepContinue;
}

int ScriptContext::ChargeMethodResult(const ClassInfo& owner, const MethodInfo& method,
                                      const uint32_t* result) {
    if (method.GetReturnType() != TypeString || method.GetReturnWords() != 1) {
        return StepContinue;
    }
    return ChargeCrossingText(*result, TextCrossing::Read, owner, method.GetName());
}

int ScriptContext::ReportFailedCall() {
    const std::string message = std::move(failedCall_);
    failedCall_.clear();
    return RuntimeError("%s", message.c_str());
}

int ScriptContext::RuntimeError(const char* format, ...) {
    char message[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    const std::string text = BuildReport(message);
    const char* title = "Script Error!";
    const int answer = ShowChoiceBox(title, text.c_str(), "OK");
    if (answer == 2) {
        if (ScriptDebugPanel* panel = GetScriptDebugPanel(); panel && IsAlive(currentSerial_)) {
            panel->ShowScript(*current_);
        }
        return StepDebugRequest;
    }
    if (answer == 1 && IsAlive(currentSerial_) && current_->GetProgram()) {
        const char* path = current_->GetProgram()->GetFullPath();
        if (VersionControlOpenForEdit(path, 2)) {
            LogMessage("Opening resource file: '%s'", path);
            PathString native;
            FileSystem* files = GetFileSystem();
            if (!files || !files->GetNativePath(native, path) || !OpenScriptSource(native.Text())) {
                LogMessage("Could not open '%s' with the desktop's program", path);
            }
        }
        ShowChoiceBox(title, text.c_str(), "OK");
    }
    ++terminatingErrors;
    return StepTerminate;
}

uint32_t ScriptContext::GetTerminatingErrorCount() {
    return terminatingErrors;
}

} // namespace quarn
