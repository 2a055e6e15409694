#pragma once

#include "core/scene/Node.h"

#include <cstdint>
#include <vector>

namespace quarn {

class ScriptContext;
class ScriptResource;

// Run states of a Script node.
enum ScriptRunState : int {
    ScriptReady = 0,
    ScriptRunning = 1,
    ScriptSleeping = 2,
    ScriptStopped = 3, // status text only
    ScriptDebug = 4,   // each run executes one source line
    ScriptError = 5,   // status text only
    ScriptErrorPending = 6,
    ScriptTerminateRequested = 7,
};

// "READY", "RUNNING", "SLEEPING", "STOPPED", "DEBUG", "ERROR", "ERROR PENDING"; "" for any other
// state.
const char* GetRunStateText(int state);

// A scene node that runs a compiled script: it owns the script's variable block and its
// execution context, and calls the script's callbacks ("update", signals, methods).
class Script : public Node {
public:
    // Words a pending external goto can carry.
    static constexpr uint32_t MaxGotoArguments = 32;

    Script();
    ~Script() override;

    ClassInfo* GetClass() const override;
    void Update(float frameTime, int mode) override;
    void CallMethod(const MethodInfo& method, uint32_t* block) override;

    // Takes the program of that path (nothing when it is the one in use, in any letter case);
    // the variables start zeroed with their defaults, the callbacks are found again, state 0.
    void SetScriptFile(const char* path);
    // A new zeroed block of `words` with the defaults; with `keep` the old words are copied
    // over it as far as both reach.
    void ResizeVariables(uint32_t words, bool keep);
    void ResolveCallbacks();

    // Runs `context` (one source line in the debug state) and turns the result into the run
    // state, which it returns; StepNodeDeleted when the node went away meanwhile (nothing of it
    // is touched then).
    int Run(ScriptContext& context);
    // Runs the function at code offset `function` to its end or first sleep, as an outermost
    // call with the argument words; pops `resultCount` words into `result` when given and
    // there. False when nothing ran, the run failed, or the node went away.
    bool CallFunction(uint32_t function, const uint32_t* arguments, uint32_t argumentCount,
                      uint32_t* result, uint32_t resultCount);
    // Enters the function without running it: the next update does.
    bool StartFunction(uint32_t function, uint32_t argumentCount, const uint32_t* arguments,
                       bool outermost);
    // Resumes a sleeping script, the time slept on its stack as the value of the sleep.
    void WakeUp();
    void ResetExecution();
    // The identifier index of the running state function; -1 when none.
    int GetCurrentStateIndex() const;
    // The source line of the own context's position; -1 without program or context.
    int GetCurrentLine() const;
    // Stores an external goto for the next update; false when the arguments do not fit.
    bool SetPendingGoto(int32_t function, uint32_t argumentCount, const uint32_t* arguments);
    // Renames an entity id (28 bits compared, port bits kept) in the entity variables and, in
    // the topmost frame of `context` (else the own context), in the locals in scope.
    void RenameReference(uint32_t oldId, uint32_t newId, ScriptContext* context);

    ScriptResource* GetProgram() const { return program_; }
    // The own context, created with the program's stack size; null without a program.
    ScriptContext* GetContext() const { return context_; }
    ScriptContext* AcquireContext();
    uint32_t* GetVariables() { return variables_.data(); }
    uint32_t GetVariableCount() const { return static_cast<uint32_t>(variables_.size()); }
    int GetRunState() const { return runState_; }
    void SetRunState(int state) { runState_ = state; }
    float GetSleepDuration() const { return sleepDuration_; }
    float GetSleepElapsed() const { return sleepElapsed_; }
    int32_t GetPendingGoto() const { return pendingGoto_; }
    int32_t GetUpdateFunction() const { return updateFunction_; }
    int32_t GetUpdateParameterCount() const { return updateParameters_; }
    int32_t GetPropertyChangedFunction() const { return propertyChangedFunction_; }

    // The "Script" class record; registers it when absent.
    static ClassInfo* RegisterClass();

private:
    // Frees the context, or leaves it to the run still using it.
    void ReleaseContext();
    void ApplyDefaults();
    // Turns a run's result into the run state (see Run).
    int Conclude(ScriptContext& context, int result);
    // Whether the program can run: code, and no error pending.
    bool CanRun() const;

    ScriptResource* program_ = nullptr;
    std::vector<uint32_t> variables_;
    float sleepDuration_ = 0.0f;
    float sleepElapsed_ = 0.0f;
    int runState_ = ScriptReady;
    ScriptContext* context_ = nullptr;
    int32_t pendingGoto_ = -1;
    uint32_t pendingArgumentCount_ = 0;
    uint32_t pendingArguments_[MaxGotoArguments] = {};
    int32_t updateFunction_ = -1;
    int32_t updateParameters_ = 0;
    int32_t propertyChangedFunction_ = -1;
};

} // namespace quarn
