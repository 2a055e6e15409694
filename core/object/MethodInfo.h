#pragma once

#include "core/object/ValueBinding.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace quarn {

class ClassInfo;
class Entity;

// Bits of MethodInfo::GetCallFlags. The engine only stores them; the script machine and the
// editor read them.
enum MethodCallFlags : uint32_t {
    MethodNoResult = 1,       // called for its effect: the editor may offer it as a command
    MethodScriptCallable = 2, // compiled scripts call it
    MethodSignalHandler = 4,  // answers a named signal
    MethodTakesBlock = 64,    // the binding takes the whole argument block
    // What script methods of engine classes are registered with.
    MethodScript = MethodTakesBlock | MethodScriptCallable,
    // A script method that the editor also offers as a command (no arguments, no result).
    MethodEditorCommand = MethodScript | MethodNoResult,
    // An editor command that compiled scripts do not call.
    MethodEditorOnly = MethodTakesBlock | MethodNoResult,
    // A class's handler of a named signal, registered under the signal's name.
    MethodClassSignal = MethodTakesBlock | MethodSignalHandler,
    MethodDefaultFlags =
        MethodTakesBlock | MethodNoResult | MethodScriptCallable | MethodSignalHandler,
};

// The files a method writes or deletes on `object`; none when it asks the user where.
using WrittenFilesFunction = std::vector<std::string> (*)(const Entity& object);

// A script-callable method (or free engine function): its name, signature as type ids, call
// flags and binding. Compiled scripts call it with a word block: the result in the first
// words, the arguments from word 1 on.
class MethodInfo {
public:
    static constexpr int MaxArguments = 16;

    // Parses "name" + signature, e.g. ("GetPosition", ":float3") or ("Add", "(int, int):int").
    // A type name that is neither a value type nor a registered class reads as void.
    MethodInfo(const char* name, const char* signature);
    // A record without signature.
    MethodInfo(ClassInfo* owner, MethodBinding binding);

    void AddArgument(int32_t type);
    void SetReturnType(int32_t type);

    // Binds the function; a typed binding whose C++ types do not fit the signature is reported
    // through the validity report and not bound (the method then falls back to the object's
    // CallMethod).
    bool Bind(const MethodBinding& binding);

    // Runs the method on `object` (null for free functions) with `block`, which holds at least
    // max(return words, 1) + argument words. Without a bound function the object's CallMethod
    // runs; without either nothing happens.
    // Inline for the bound case, which script calls reach on every call.
    void Call(Entity* object, uint32_t* block) const {
        if (thunk_ && block && !writtenFiles_) {
            thunk_(object, block);
        } else {
            CallUnbound(object, block);
        }
    }
    // Delivers a named signal: a bound signal handler gets the argument; any other method is
    // called as by Call on a zeroed block.
    void CallSignal(Entity* object, void* argument) const;
    // Delivers a record of words: a bound signal handler gets its address; any other method
    // (a script's function among them) runs on it as its block, the first word in the result's
    // place and the others as its arguments, zero past the record's end.
    void CallWithRecord(Entity* object, std::span<uint32_t> record) const;

    // Declares that the method writes or deletes the files `files` names. Called while a script
    // runs (by number, by name or as a signal), it does nothing and leaves zero result words
    // (its failure value) when one of them lies outside the game; the log line names the
    // object's class, `label` and the path (ScriptMayReach).
    void SetWrittenFiles(const char* label, WrittenFilesFunction files);

    const char* GetName() const { return name_.c_str(); }
    // The name messages give a method or function registered under a generated one
    // ("CopyFile" for the library's "bcm"); its name when it was given none.
    void SetLabel(const char* label) { label_ = label ? label : ""; }
    const char* GetLabel() const { return label_.empty() ? name_.c_str() : label_.c_str(); }
    ClassInfo* GetOwner() const { return owner_; }
    void SetOwner(ClassInfo* owner);
    uint32_t GetCallFlags() const { return callFlags_; }
    void SetCallFlags(uint32_t flags) { callFlags_ = flags; }
    int GetArgumentCount() const { return argumentCount_; }
    int GetArgumentWords() const { return argumentWords_; }
    int32_t GetArgumentType(int index) const;
    int GetReturnCount() const { return returnCount_; }
    int GetReturnWords() const { return returnWords_; }
    int32_t GetReturnType() const { return returnType_; }
    // Whether engine code runs it and a text is among its arguments or is its result: the script
    // machine measures those texts. A method a script implements passes the words on unread.
    bool HasEngineTexts() const {
        return thunk_ != nullptr && (textArgument_ || returnType_ == TypeString);
    }
    bool IsBound() const { return thunk_ != nullptr || signalThunk_ != nullptr; }
    // Records compare by this in the order they were made, whatever class lists them.
    uint64_t GetRegistrationNumber() const { return registrationNumber_; }
    // The signature as "(type, type):type", from the type ids.
    std::string GetSignatureText() const;

private:
    // Call without a thunk, without a block or with written files to check.
    void CallUnbound(Entity* object, uint32_t* block) const;
    // False, after the log line, when a script runs and the method would write outside the game.
    bool ScriptMayCall(const Entity* object) const;

    static inline uint64_t recordsMade_ = 0;

    uint64_t registrationNumber_ = ++recordsMade_;
    ClassInfo* owner_ = nullptr;
    MethodThunk thunk_ = nullptr;
    SignalThunk signalThunk_ = nullptr;
    std::string name_;
    std::string label_;
    uint32_t callFlags_ = MethodDefaultFlags;
    int argumentCount_ = 0;
    int argumentWords_ = 0;
    int returnCount_ = 0;
    int returnWords_ = 0;
    int32_t argumentTypes_[MaxArguments] = {};
    int32_t returnType_ = TypeVoid;
    bool textArgument_ = false;
    std::string writtenLabel_;
    WrittenFilesFunction writtenFiles_ = nullptr;
};

namespace detail {
inline uint64_t methodTableGeneration = 0;
} // namespace detail
// Changes whenever what a call by method index resolves to may change: a class made, reset or
// given another parent, a method list changed, a record given another owner. A record found for
// a class stays the one to call while it is unchanged.
inline uint64_t GetMethodTableGeneration() {
    return detail::methodTableGeneration;
}

// The global list of free engine functions of the script language.
MethodInfo* RegisterFunction(std::unique_ptr<MethodInfo> function);
int GetRegisteredFunctionCount();
MethodInfo* GetRegisteredFunction(int index);

// The next generated three-letter name ("aab", "aac", ... "zzz", then "aaa"): methods and
// named constants take one each, in registration order, and compiled scripts refer to them
// by it, so the order of registration is part of every class's interface. The text stays valid
// until the next call.
const char* NextShortName();

} // namespace quarn
