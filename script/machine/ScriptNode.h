#pragma once

#include "core/object/EntityRef.h"
#include "core/object/ValueBinding.h"
#include "core/scene/Node.h"
#include "core/string/TextArena.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace quarn {

class ScriptContext;
class ScriptResource;
struct ScriptCallFrame;
struct ScriptIdentifier;

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
    void OnReferenceChanged(Entity* target, uint32_t newId) override;
    PathString GetDescription() const override;
    void GetPropertyValue(const Property& property, uint32_t* out) const override;
    void SetPropertyValue(const Property& property, const uint32_t* value) override;
    void ReceiveEvent(const EventRecord& event) override;
    int GetInputCount() const override;
    int GetOutputCount() const override;
    const char* GetInputName(int port) const override;
    const char* GetOutputName(int port) const override;
    void SetPortValue(int port, const EntityRef& reference) override;
    EntityRef GetPortValue(int port) const override;
    std::string GetStatusText(int selector) const override;
    int GetIconIndex() const override { return 5; }
    // The lines of its block a load could not apply while its program was missing or refused.
    HeldSceneLines* GetHeldLines() override { return &held_; }

    // The program's path relative to the base folder; "" without program.
    const char* GetScriptFile() const;

    // Takes the program of that path (nothing when it is the one in use, in any letter case);
    // the variables start zeroed with their defaults, the callbacks are found again, state 0.
    void SetScriptFile(const char* path);
    // A new zeroed block of `words` with the defaults; with `keep` the old words are copied
    // over it as far as both reach.
    void ResizeVariables(uint32_t words, bool keep);
    void ResolveCallbacks();

    // Runs `context` (one source line in the debug state, unless the run is a `whole` call) and
    // turns the result into the run state, which it returns; StepNodeDeleted when the node went
    // away meanwhile (nothing of it is touched then).
    int Run(ScriptContext& context, bool whole = false);
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
    // The source line of the own context's position (of the command that runs, for a program
    // with source lines); -1 without program or context.
    int GetCurrentLine() const;
    // Stores an external goto for the next update; false when the arguments do not fit.
    bool SetPendingGoto(int32_t function, uint32_t argumentCount, const uint32_t* arguments);
    // Renames an entity id (28 bits compared, port bits kept) in the entity variables and, in
    // the topmost frame of `context` (else the own context), in the locals in scope.
    void RenameReference(uint32_t oldId, uint32_t newId, ScriptContext* context);

    // One reference per entity word of the variables, so the node hears of moves.
    void RebuildReferences();
    size_t GetReferenceCount() const { return references_.size(); }
    // Signal handlers: "nodedeletion" (the deleted entity), "scriptchanged" (the program),
    // "play" (asks whether to play with a program that is not linked; No stops the signal).
    void ClearReference(void* entity);
    void OnScriptChanged(void* program);
    void CheckLinked(void* argument);

    // Variable access by name (any letter case): copies min(variable, `words`) words; false
    // for an unknown name or without program.
    bool GetVariable(const char* name, uint32_t* out, uint32_t words) const;
    bool SetVariable(const char* name, const uint32_t* value, uint32_t words);

    // The first Script node whose program has that script name (any letter case).
    static Script* FindByScriptName(const char* name);

    // The script methods of the class, in their registration order.
    void CallFunctionNamed(const char* name);
    void RestartWith(const char* name);
    void StartFunctionNamed(const char* name);
    const char* GetCurrentStateName() const;
    static int32_t GetCallDepth();
    EntityId GetFrameInstance(int32_t frame);
    int32_t GetFrameLine(int32_t frame) const;
    template <class T>
    T ReadVariable(const char* name) const {
        uint32_t words[ValueTraits<T>::Words] = {};
        GetVariable(name, words, ValueTraits<T>::Words);
        return ValueTraits<T>::Read(words);
    }
    template <class T>
    void WriteVariable(const char* name, T value) {
        uint32_t words[ValueTraits<T>::Words] = {};
        ValueTraits<T>::Write(value, words);
        SetVariable(name, words, ValueTraits<T>::Words);
    }

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
    // Gives the held lines whose properties the program now declares their values, as a load
    // would have; the others stay held. False when the node went away meanwhile.
    bool ApplyHeldLines();
    void ApplyHeldText(const Property& property, const std::string& text);
    // The compact tail's values up to the first the program does not number; what is left
    // stays held.
    void ApplyHeldCompactTail(std::string tail);
    // Turns a run's result into the run state (see Run).
    int Conclude(ScriptContext& context, int result);
    // Whether the program can run: code, its variables, and no error pending.
    bool CanRun() const;
    // A block of `words` variables (see ResizeVariables), zeroed without `keep`, when the game's
    // memory budget allows it; otherwise the node gives its variables back and is refused.
    bool TakeVariables(uint32_t words, bool keep);
    // Logs why the node does not run, naming it and the budget, and leaves it in the error
    // state until it is given a program again.
    void Refuse(const std::string& why);
    // A variable of that name that `words` can be copied to or from, or null.
    const ScriptIdentifier* FindVariable(const char* name, uint32_t words) const;
    // The i-th frame from the top of the current context (1 = top) while its caller lives.
    static const ScriptCallFrame* FrameFromTop(int32_t frame);
    // Calls "property_changed" after a public variable changed; false when the call failed.
    bool CallPropertyChanged();
    // The word for a public entity variable: 0, once logged, for a node that is no instance of
    // the variable's class, whose members of the same numbers the program would reach.
    uint32_t CheckBoundClass(const Property& property, uint32_t word) const;
    // The entity words of the variables: singles (first) and array elements.
    template <class Visit>
    void ForEachEntityWord(bool withArrays, Visit visit);
    // A public string variable's own copy of its text: the word it is given may name a
    // temporary or a buffer freed after the load.
    uint32_t KeepText(uint32_t offset, uint32_t word);
    void FreeKeptTexts();

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
    // A deque never moves its references, which are linked into their targets' lists.
    std::deque<EntityRef> references_;
    // Variable offset -> the text block that variable's word names.
    std::map<uint32_t, TextWord> keptTexts_;
    // Variable offset -> the node word the scene gave and CheckBoundClass refused: written in
    // the variable's place while it holds none, so a save keeps what the scene said.
    std::map<uint32_t, uint32_t> refusedWords_;
    HeldSceneLines held_;
};

} // namespace quarn
