#pragma once

#include "core/object/Entity.h"
#include "core/os/EngineWork.h"
#include "core/string/PrintfFormat.h"
#include "script/machine/ScriptValueStack.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

class ClassInfo;
class MethodInfo;
class Property;
class Script;
class ScriptContext;
class ScriptResource;
struct ScriptBreakpoint;

// What one step of the machine answers.
enum ScriptStepResult : int {
    StepEnded = 0, // outermost return or command 32
    StepContinue = 1,
    StepSleepFrame = 2,
    StepSleep = 3, // the duration lies on the value stack
    StepBreak = 4,
    StepNodeDeleted = 5,  // the running node or its context went away under the run
    StepTerminate = 6,    // runtime error, terminate request or endless loop
    StepDebugRequest = 7, // runtime error whose dialog asked for the debugger
};

// A run ends with an endless-loop error once it has executed this many commands, the runs nested
// in it (scripts it called through the engine) included; tests lower ScriptStepLimit.
inline constexpr uint32_t MaxScriptSteps = 100000000;
inline uint32_t ScriptStepLimit = MaxScriptSteps;
// Runs nest when a script calls into the engine and the engine calls a script (a method, an
// event, a signal, a property's listener, a call into another script's context), each level
// deeper on the native stack: a call that would nest deeper is refused with a runtime error.
inline constexpr uint32_t MaxScriptNesting = 200;
// Runs go through the translated form of the programs; off, every command takes the plain path,
// the reference the translated form is held to.
inline bool ScriptTranslatedRuns = true;

// A position of no code: the context is idle.
inline constexpr uint32_t NoScriptPosition = 0xFFFFFFFF;

struct ScriptCallFrame {
    Script* caller = nullptr;  // the instance current before the call
    uint64_t callerSerial = 0; // the caller may be deleted while its callee runs
    uint32_t returnPosition = NoScriptPosition;
    uint32_t entry = 0;     // code offset called, for the call-stack report
    uint32_t frameBase = 0; // value-stack depth at the call
    bool outermost = false; // returning through it ends the run
};

// The runs in progress, each nested in the one before it on the native stack (a script's call
// into the engine that runs a script). They share one budget of steps counted from the outermost
// run's start, and the first run to meet a budget (steps, nesting, memory) reports it and ends
// them all.
struct ScriptRunChain {
    uint32_t depth = 0;
    // Steps spent, as of the innermost run's last call out of the machine or its end: a run
    // hands its count over before each call out, a nested run starts from it, and what the
    // nested run spent is charged to the run it is nested in (ScriptContext::NestedRun).
    uint32_t spent = 0;
    bool ended = false;
    // The context whose run reported the error (on its own, or on its behalf while it called
    // out: a refused nesting), and what the report was answered, which that run ends with; the
    // runs it is nested in end with StepTerminate.
    ScriptContext* answered = nullptr;
    int answer = StepTerminate;
};

// One chain of nested calls over one value stack, owned by a Script node. Positions are code
// offsets into the current instance's program and are checked before every read, so a program
// that runs off its end or jumps out of it gets a runtime error instead of a wild read.
class ScriptContext {
    friend class ScriptFastRunner;

public:
    ScriptContext(Script* owner, uint32_t stackSize);
    ScriptContext(const ScriptContext&) = delete;
    ScriptContext& operator=(const ScriptContext&) = delete;

    // Executes one command.
    int Step();
    // Steps until a result other than continue, or until the step limit.
    int Run();
    // Steps while the commands belong to the source line of the position (debug state).
    int RunLine();

    // Pushes a frame and enters `entry` of `callee`; false (nothing changed) when the call
    // stack is full. Defined in ScriptContextCalls.h.
    inline bool Call(Script* callee, uint32_t entry, bool outermost);
    // Keep-top(keep) on the value stack, empty call stack, idle.
    void Reset(uint32_t keep);

    // Formats the message, shows the report and returns StepTerminate or StepDebugRequest as
    // the dialog was answered.
    int RuntimeError(const char* format, ...) QUARN_PRINTF(2, 3);
    // The runtime error of a call or push that found no room: "Stack overflow", or the memory
    // budget's error when the budget refused the call stack more frames.
    int StackOverflow();
    // False when the stack was refused as the context was made (ScriptValueStack::IsHeld): the
    // context cannot run.
    bool IsHeld() const { return stack_.IsHeld(); }
    // Whether a script may run nested in the runs in progress: not once one of them met a
    // budget, nor past MaxScriptNesting, which is then the runtime error of the run that asked.
    static bool MayNestRun();
    // A run the engine starts for a script: when a run is in progress (a script's call into the
    // engine), the steps the new one spends are charged to it once the new one has ended.
    class NestedRun {
    public:
        NestedRun();
        ~NestedRun();
        NestedRun(const NestedRun&) = delete;
        NestedRun& operator=(const NestedRun&) = delete;

    private:
        ScriptContext* caller_;
        uint32_t before_;
    };
    // Runtime errors that terminated a script, since the process started: a headless run
    // reports them in its exit status.
    static uint32_t GetTerminatingErrorCount();
    // Work an engine function or operator did in proportion to its input, counted against the
    // step limit as that many commands once the call returns.
    void ChargeSteps(uint64_t count) { chargedSteps_ += count; }
    // A runtime error of the engine function or operator being called, reported once it
    // returns; the first one stands.
    void FailCall(std::string message) {
        if (failedCall_.empty()) {
            failedCall_ = std::move(message);
        }
    }
    // The report text of a runtime error with that message.
    std::string BuildReport(const char* message) const;

    ScriptValueStack& Stack() { return stack_; }
    const std::vector<ScriptCallFrame>& Frames() const { return frames_; }
    uint32_t FrameCapacity() const { return frameCapacity_; }
    uint32_t GetPosition() const { return position_; }
    // The offset of the command executed last (or executing).
    uint32_t GetCommandOffset() const { return commandOffset_; }
    bool IsIdle() const { return position_ == NoScriptPosition; }
    Script* GetCurrentInstance() const { return current_; }
    Script* GetOwner() const { return owner_; }

    // Runs in progress on the context. A context is freed only when none is: its owner gives
    // it up with Abandon, and the last run to leave deletes it. Work charged to a run that
    // another nests in waits for it to end.
    class RunScope {
    public:
        explicit RunScope(ScriptContext& context)
            : context_(context), outerCharge_(context.chargedSteps_) {
            ++context_.activeRuns_;
            context_.chargedSteps_ = 0;
        }
        ~RunScope();
        RunScope(const RunScope&) = delete;
        RunScope& operator=(const RunScope&) = delete;

    private:
        ScriptContext& context_;
        uint64_t outerCharge_;
    };
    // Deletes the context now, or once its last run has left.
    static void Abandon(ScriptContext* context);
    bool IsAbandoned() const { return owner_ == nullptr; }

private:
    ~ScriptContext() = default;

    // `operands` points at the command's inline words, already checked to lie in the code.
    int Execute(uint32_t command, const uint32_t* operands);
    int Breakpoint(uint32_t offset);
    // Runs the command the breakpoint stands over and arms the breakpoint again behind it.
    int StepOverBreakpoint(ScriptResource& program, const ScriptBreakpoint& breakpoint,
                           uint32_t offset);
    void TellBreakpointPassed(const ScriptResource& program, uint32_t offset);
    // Whether the owner, the current instance or the context itself went away during a call
    // out of the machine.
    bool LostDuringCall() const {
        return IsAbandoned() || (!SeenAlive(currentSerial_) && !FoundAlive());
    }
    // Looks the owner and the instance up; true (and remembered) when both live.
    bool FoundAlive() const;
    // The variable block of a script node: words k .. k + n - 1, or null when they do not lie
    // inside it.
    static uint32_t* VariableWords(Script& node, int32_t offset, uint32_t count);
    // The words of the current frame at offset .. offset + count - 1 inside the used part of
    // the value stack below `limit`; null otherwise.
    uint32_t* FrameWords(int32_t offset, uint32_t count, uint32_t limit);
    uint32_t FrameBase() const { return frames_.empty() ? 0 : frames_.back().frameBase; }
    int InvalidCommand();
    // Takes the value stack's words up to `words` into use: StepContinue, or the runtime error
    // of the memory budget that refused them.
    int TakeStack(uint64_t words);
    // The step count with the charges since the last call added, at most `limit`; clears them.
    uint32_t AddChargedSteps(uint32_t steps, uint32_t limit);
    // The runtime error a call out of the machine failed with (FailCall).
    int ReportFailedCall();
    // A text crossing between the machine and the engine's property or method `owner`.`member`:
    // read or made for the script (a command per ScriptTextBytesPerStep bytes) or handed to the
    // engine (a command per ScriptHandedTextBytesPerStep bytes); one over MaxScriptTextBytes is
    // charged nothing and is the runtime error naming them. StepContinue or the error's result.
    enum class TextCrossing { Read, Handed };
    int ChargeCrossingText(uint32_t word, TextCrossing crossing, const ClassInfo& owner,
                           const char* member);
    // The texts of a method whose engine code takes or gives any (MethodInfo::HasEngineTexts):
    // its text arguments before the call (handed to the engine), its text result after it.
    int ChargeMethodArguments(const ClassInfo& owner, const MethodInfo& method,
                              const uint32_t* arguments);
    int ChargeMethodResult(const ClassInfo& owner, const MethodInfo& method,
                           const uint32_t* result);
    // Counts a step of a run that has done `steps`; true once the run reached its `limit`, which
    // ends it with StepLimitError.
    static bool CountStep(uint32_t& steps, uint32_t limit) { return ++steps >= limit; }
    int StepLimitError();
    static inline ScriptRunChain chain_;
    // A run's link in the chain, for its lifetime.
    class ChainLink {
    public:
        explicit ChainLink(ScriptContext& context) : context_(context) {
            if (chain_.depth == 0) {
                chain_ = ScriptRunChain();
            }
            ++chain_.depth;
        }
        ~ChainLink() {
            // The answer is the reporting run's: a run of the same context it is nested in ends
            // without it.
            if (chain_.answered == &context_) {
                chain_.answered = nullptr;
            }
            --chain_.depth;
        }
        ChainLink(const ChainLink&) = delete;
        ChainLink& operator=(const ChainLink&) = delete;

    private:
        ScriptContext& context_;
    };
    // Reports a budget's error for the chain, once: the run that meets it first shows the
    // report and answers what it was answered; the runs it is nested in then end with
    // StepTerminate, unreported. Spends the whole budget, so that each of them ends at its next
    // count.
    int BudgetError(const char* message);
    // A call out of the machine that found the held memory at `held` (HeldMemoryMark) and leaves
    // the game holding more, past its memory budget: the budget's error naming the member of
    // `owner` (Class.member), or the engine function `member` without an owner. StepContinue
    // otherwise.
    int CheckHeldMemory(int64_t held, const ClassInfo* owner, const char* member);
    // The entity that an id word names, for the commands that use one; null after reporting.
    Entity* ResolveEntity(uint32_t word, int& result);
    Script* ResolveScript(uint32_t word, const char* notScript, int& result);

    // Pops an array index above `below` further words and checks it against the array's size;
    // false with the step's result otherwise.
    bool PopIndex(uint32_t size, uint32_t below, int32_t& index, int& result);
    int CommandIndex(uint32_t size, uint32_t width);
    int CommandElementAddress(uint32_t size, uint32_t stride);
    int CommandVariables(uint32_t command, uint32_t count);
    int CommandFrameWords(uint32_t command, uint32_t count);
    int CommandGetProperty();
    int CommandSetProperty(uint32_t count);
    int CommandOperator(uint32_t word);
    int CommandFunction(uint32_t index);
    int CommandExternalCall(int32_t function, uint32_t arguments, uint32_t x, uint32_t hash);
    int CommandMethod(int32_t index, uint32_t arguments);

    // The calls out of the machine, once their target is found (by the commands, or by the
    // translated form from what it kept of the last call), on the stack the command sees. The
    // inline ones are defined in ScriptContextCalls.h.
    // Runs the engine function on the words at the top.
    inline int InvokeFunction(const MethodInfo& function);
    // The class whose chain the member id of the program's command at `offset` counts in: the
    // one the program recorded for the command, else the entity's own. Null when the program
    // names a class the engine does not have.
    static const ClassInfo* MemberChain(const ScriptResource* program, uint32_t offset,
                                        Entity& entity);
    // The property the getprop or setprop being executed reaches on the entity; null after its
    // runtime error.
    const Property* FindCommandProperty(Entity& entity, int32_t id, int& result);
    // The record a call of method `index` on the entity runs: the chain's record at the index
    // or, when the entity is not of the record's class, the next record of that name that it
    // is; null when neither.
    static const MethodInfo* FindCalledMethod(Entity& entity, const ClassInfo& chain,
                                              int32_t index);
    // Runs the method on the entity with the block at `entityIndex`: the entity word, then the
    // `arguments` words, which its results replace.
    inline int InvokeMethod(Entity& entity, const MethodInfo& method, uint32_t entityIndex,
                            uint32_t arguments);
    enum class ExternalCallCheck { Callable, NotRunnable, OtherScript, OutsideCode };
    static inline ExternalCallCheck CheckExternalCall(const Script& target, int32_t function,
                                                      uint32_t hash);
    // Enters the function of the target with the `arguments` words above its entity word, which
    // goes.
    inline int EnterExternal(Script& target, uint32_t function, uint32_t arguments);
    int CommandJump(int32_t distance);
    int CommandGoto(int32_t offset, uint32_t keep);
    int CommandExternalGoto(int32_t offset, uint32_t arguments);
    int CommandReturn(uint32_t locals, uint32_t results);
    // Call's frame push alone, for a call within the current instance by a caller that knows
    // where it goes on after the call and the stack's depth at the call (the translated form
    // keeps both in its ops, and its own position); false when the call stack is full.
    inline bool PushFrame(uint32_t entry, uint32_t returnPosition, uint32_t frameBase,
                          bool outermost);
    // Leaves the innermost call, whose `results` words at the top of a stack `depth` words deep
    // move down over its `locals` words, for the caller's place; answers the frame it left. The
    // caller has made sure a frame is there and the depth holds both.
    inline ScriptCallFrame LeaveCall(uint32_t depth, uint32_t locals, uint32_t results);

    Script* owner_;
    uint64_t ownerSerial_;
    Script* current_;
    uint64_t currentSerial_;
    uint32_t position_ = NoScriptPosition;
    // The offset of the command being executed, for reports and breakpoints.
    uint32_t commandOffset_ = 0;
    std::vector<ScriptCallFrame> frames_;
    uint32_t frameCapacity_;
    // Whether the last frame pushed was refused by the memory budget (StackOverflow says so).
    bool callsRefused_ = false;
    ScriptValueStack stack_;
    int activeRuns_ = 0;
    uint64_t chargedSteps_ = 0;
    std::string failedCall_;
    // Whether the entity of that serial was found alive since the last destruction (the owner
    // and the last two instances are).
    bool SeenAlive(uint64_t serial) const {
        return Entity::GetDestroyedCount() == aliveCheck_.destroyed &&
               (serial == aliveCheck_.current || serial == aliveCheck_.previous ||
                serial == ownerSerial_);
    }
    // When owner and instance were last found alive: the destruction count, the instance and the
    // one before it (a call into another script and its return switch between the two).
    struct AliveCheck {
        uint64_t destroyed = ~uint64_t{0};
        uint64_t current = 0;
        uint64_t previous = 0;
    };
    mutable AliveCheck aliveCheck_;
};

// The context that is executing (null when none); engine functions read it to report the
// calling script. Every run saves and restores it.
ScriptContext* GetCurrentScriptContext();
void SetCurrentScriptContext(ScriptContext* context);

// The longest text that enters the machine or that a script hands to the engine: one loop of
// doublings must not take all memory.
inline constexpr size_t MaxScriptTextBytes = size_t(64) << 20;
// Charges the running script for `bytes` bytes of text work (about a command's time per
// ScriptTextBytesPerStep). False when `longest`, the longest text the call reads or would make,
// is over MaxScriptTextBytes: the call is then a runtime error naming `function`.
inline constexpr uint64_t ScriptTextBytesPerStep = BytesScannedPerStep;
bool ChargeTextWork(const char* function, size_t longest, size_t bytes);
// A text handed to the engine (a text property written, a method's text argument, a window's
// text) may be kept there, so it costs a command per ScriptHandedTextBytesPerStep bytes: what one
// run can pile up in nodes stays within the step limit's count of bytes (95 MiB), the text of the
// command that reaches the limit aside. False, as for ChargeTextWork, for a text over
// MaxScriptTextBytes.
inline constexpr uint64_t ScriptHandedTextBytesPerStep = 1;
bool ChargeHandedText(const char* function, size_t length);
// For engine code a script calls, before it takes memory on the script's behalf: whether `bytes`
// more fit the game's memory budget. False, with `what`'s runtime error to come, when they do
// not; the caller then takes nothing.
bool ScriptMayHold(const char* what, size_t bytes);
// The message that refuses `what` `bytes` more past the game's memory budget.
std::string BudgetRefusal(const char* what, size_t bytes);
// The message of the runtime error that refuses a text of `length` bytes, over
// MaxScriptTextBytes, to `what` (a function, an operator, Class.property or Class.method).
std::string TextOverCapMessage(const char* what, size_t length);

// Sets the current context for a scope and restores the previous one however it ends.
class CurrentScriptContextScope {
public:
    explicit CurrentScriptContextScope(ScriptContext* context) : saved_(GetCurrentScriptContext()) {
        SetCurrentScriptContext(context);
    }
    ~CurrentScriptContextScope() { SetCurrentScriptContext(saved_); }
    CurrentScriptContextScope(const CurrentScriptContextScope&) = delete;
    CurrentScriptContextScope& operator=(const CurrentScriptContextScope&) = delete;

private:
    ScriptContext* saved_;
};

} // namespace quarn
