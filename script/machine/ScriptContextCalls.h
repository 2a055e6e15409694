#pragma once

// The machine's calls: into functions of scripts, and out of the machine to methods and engine
// functions. Both of the machine's paths, the plain commands and the translated form, run them
// on every call, so they are inline; whoever calls them includes this.

#include "core/object/MethodInfo.h"
#include "core/os/HeldMemory.h"
#include "script/machine/ScriptClass.h"
#include "script/machine/ScriptContext.h"
#include "script/machine/ScriptNode.h"
#include "script/machine/ScriptResource.h"

#include <algorithm>
#include <cstring>

namespace quarn {

// Moves arguments and results, which are mostly one word: that one without a call of memmove.
inline void MoveWords(uint32_t* to, const uint32_t* from, uint32_t count) {
    if (count == 1) {
        *to = *from;
    } else {
        std::memmove(to, from, size_t(count) * 4);
    }
}

inline bool ScriptContext::PushFrame(uint32_t entry, uint32_t returnPosition, uint32_t frameBase,
                                     bool outermost) {
    if (frames_.size() >= frameCapacity_) {
        return false;
    }
    // Frames past those reserved are taken as the calls reach them, within the budget.
    callsRefused_ = frames_.size() == frames_.capacity() &&
                    !MemoryBudgetAllows(frames_.size() * sizeof(ScriptCallFrame));
    if (callsRefused_) {
        return false;
    }
    ScriptCallFrame frame;
    frame.caller = current_;
    frame.callerSerial = currentSerial_;
    frame.returnPosition = returnPosition;
    frame.entry = entry;
    frame.frameBase = frameBase;
    frame.outermost = outermost;
    frames_.push_back(frame);
    return true;
}

inline bool ScriptContext::Call(Script* callee, uint32_t entry, bool outermost) {
    if (!PushFrame(entry, position_, stack_.Depth(), outermost || position_ == NoScriptPosition)) {
        return false;
    }
    position_ = entry;
    current_ = callee;
    currentSerial_ = callee ? callee->GetSerial() : 0;
    return true;
}

inline ScriptCallFrame ScriptContext::LeaveCall(uint32_t depth, uint32_t locals, uint32_t results) {
    uint32_t* top = stack_.Words() + depth - results;
    MoveWords(top - locals, top, results);
    stack_.SetDepth(depth - locals);
    const ScriptCallFrame frame = frames_.back();
    frames_.pop_back();
    current_ = frame.caller;
    currentSerial_ = frame.callerSerial;
    position_ = frame.returnPosition;
    return frame;
}

inline int ScriptContext::InvokeFunction(const MethodInfo& function) {
    const auto arguments = static_cast<uint32_t>(function.GetArgumentWords());
    const auto results = static_cast<uint32_t>(function.GetReturnWords());
    const uint32_t depth = stack_.Depth();
    if (arguments > depth) {
        return InvalidCommand();
    }
    // The function writes its result from the first word of its block, which starts one word
    // below the arguments; that word is kept aside and the result moved up over the arguments.
    const uint32_t first = depth - arguments;
    uint32_t* block = stack_.Span(int64_t(first) - 1, std::max(results, 1u) + arguments);
    if (!block || results > stack_.Capacity() - first) {
        return StackOverflow();
    }
    const uint32_t kept = block[0];
    const int64_t held = HeldMemoryMark();
    function.Call(nullptr, block);
    if (LostDuringCall()) {
        return StepNodeDeleted;
    }
    MoveWords(block + 1, block, results);
    block[0] = kept;
    stack_.Adjust(-static_cast<int32_t>(arguments));
    stack_.RaiseTop(results);
    if (!failedCall_.empty()) {
        return ReportFailedCall();
    }
    if (HeldMemoryMark() > held) {
        const int checked = CheckHeldMemory(held, nullptr, function.GetLabel());
        if (checked != StepContinue) {
            return checked;
        }
    }
    return current_->GetRunState() == ScriptTerminateRequested ? StepTerminate : StepContinue;
}

inline int ScriptContext::InvokeMethod(Entity& entity, const MethodInfo& method,
                                       uint32_t entityIndex, uint32_t arguments) {
    const auto results = static_cast<uint32_t>(method.GetReturnWords());
    const uint32_t blockWords =
        std::max(results, 1u) + std::max(arguments, uint32_t(method.GetArgumentWords()));
    uint32_t* block = stack_.Span(entityIndex, blockWords);
    if (!block || results > stack_.Capacity() - entityIndex) {
        return StackOverflow();
    }
    // Its class names a refused text: the call may delete the entity.
    const ClassInfo* const measured = method.HasEngineTexts() ? entity.GetClass() : nullptr;
    if (measured) {
        const int charged = ChargeMethodArguments(*measured, method, block + 1);
        if (charged != StepContinue) {
            return charged;
        }
    }
    const int64_t held = HeldMemoryMark();
    method.Call(&entity, block);
    if (LostDuringCall()) {
        return StepNodeDeleted;
    }
    stack_.Adjust(-static_cast<int32_t>(arguments + 1));
    stack_.RaiseTop(results);
    if (!failedCall_.empty()) {
        return ReportFailedCall();
    }
    if (HeldMemoryMark() > held) {
        const int checked = CheckHeldMemory(held, method.GetOwner(), method.GetLabel());
        if (checked != StepContinue) {
            return checked;
        }
    }
    if (measured) {
        const int charged = ChargeMethodResult(*measured, method, block);
        if (charged != StepContinue) {
            return charged;
        }
    }
    return current_->GetRunState() == ScriptTerminateRequested ? StepTerminate : StepContinue;
}

inline ScriptContext::ExternalCallCheck
ScriptContext::CheckExternalCall(const Script& target, int32_t function, uint32_t hash) {
    const ScriptResource* program = target.GetProgram();
    const ScriptClass* scriptClass = program ? program->GetScriptClass() : nullptr;
    if (!scriptClass || !program->GetCode() || target.GetRunState() == ScriptErrorPending) {
        return ExternalCallCheck::NotRunnable;
    }
    if (scriptClass->GetNameHash() != hash) {
        return ExternalCallCheck::OtherScript;
    }
    return uint32_t(function) < program->GetCodeSize() ? ExternalCallCheck::Callable
                                                       : ExternalCallCheck::OutsideCode;
}

inline int ScriptContext::EnterExternal(Script& target, uint32_t function, uint32_t arguments) {
    uint32_t* words = stack_.WordAt(int64_t(stack_.Depth()) - arguments - 1);
    MoveWords(words, words + 1, arguments);
    stack_.Adjust(-1);
    return Call(&target, function, false) ? StepContinue : StackOverflow();
}

} // namespace quarn
