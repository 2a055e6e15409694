#include "script/machine/ScriptFastRunner.h"

#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "core/object/IdMap.h"
#include "core/object/ValueBinding.h"
#include "script/machine/ScriptArithmetic.h"
#include "script/machine/ScriptContext.h"
#include "script/machine/ScriptContextCalls.h"
#include "script/machine/ScriptFastCode.h"
#include "script/machine/ScriptNode.h"
#include "script/machine/ScriptResource.h"

#include <cstring>

namespace quarn {

namespace {

inline int32_t Int(uint32_t word) {
    return static_cast<int32_t>(word);
}
inline uint32_t Word(int32_t value) {
    return static_cast<uint32_t>(value);
}
inline float Float(uint32_t word) {
    float value;
    std::memcpy(&value, &word, 4);
    return value;
}
inline uint32_t Bool(bool value) {
    return value ? 1u : 0u;
}

} // namespace

int ScriptFastRunner::Run(ScriptContext& context) {
    namespace arithmetic = script_arithmetic;
    ScriptContext& c = context;
    ScriptValueStack& stack = c.stack_;
    uint32_t* const words = stack.Words();
    const int64_t capacity = stack.Capacity();
    // The run counts its own steps, within what the runs it is nested in left of their budget,
    // and hands the chain its count before every call out and at its end.
    ScriptRunChain& chain = ScriptContext::chain_;
    const uint32_t start = chain.spent;
    const uint32_t limit = ScriptStepLimit - start;
    uint32_t steps = 0;

    // The state of the region chain being run: its program's form, the frame base and the
    // instance's variables, all taken anew at every dynamic entry.
    ScriptResource* program = nullptr;
    ScriptFastCode* fast = nullptr;
    uint32_t frameBase = 0;
    uint32_t* fp = words;
    uint32_t* variables = nullptr;
    uint32_t variableCount = 0;
    uint32_t entrySteps = 0;
    const FastOp* op = nullptr;
    const FastOp* next = nullptr;
    // Where a jump or call goes, and the op's cache of the region there.
    const FastOp** cache = nullptr;
    uint32_t target = 0;
    int32_t targetDepth = 0;
    int result = StepContinue;

    // The labels in FastOpCode order, then four per typed operator in ScriptTypedOperator order
    // (the variants FastVariant names), both made from the lists that make the enums.
#define QUARN_OP_LABEL(code, label) &&label,
#define QUARN_LABELS_Binary(name) &&name##_S, &&name##_K, &&unused, &&unused,
#define QUARN_LABELS_Compare(name) &&name##_S, &&name##_K, &&name##_BS, &&name##_BK,
#define QUARN_LABELS_Unary(name) &&name##_S, &&unused, &&unused, &&unused,
#define QUARN_TYPED_LABELS(name, shape) QUARN_LABELS_##shape(name)
    // The formatter would read the labels' "&&" as a logical and.
    // clang-format off
    static const void* const labels[FastOpCount] = {
        QUARN_FAST_OPS(QUARN_OP_LABEL)
        &&unused, &&unused, &&unused, &&unused, // ScriptTypedOperator::None
        QUARN_TYPED_OPERATORS(QUARN_TYPED_LABELS)};
    // clang-format on
#undef QUARN_OP_LABEL
#undef QUARN_LABELS_Binary
#undef QUARN_LABELS_Compare
#undef QUARN_LABELS_Unary
#undef QUARN_TYPED_LABELS
    static_assert(sizeof labels / sizeof labels[0] == FastOpCount);

#define DISPATCH() goto* labels[op->code]
#define QUARN_STORE_MOVES()                                                                        \
    for (const FastMove *move = fast->Moves() + op->firstMove, *end = move + op->moveCount;        \
         move != end; ++move) {                                                                    \
        fp[move->slot] =                                                                           \
            move->operand == FastOperand::Slot ? fp[move->source] : Word(move->source);            \
    }
#define NEXT()                                                                                     \
    ++op;                                                                                          \
    DISPATCH()
    // The machine as the plain path has it when it runs the op's command.
#define QUARN_COMMAND_STATE()                                                                      \
    c.position_ = op->next;                                                                        \
    c.commandOffset_ = op->offset;                                                                 \
    stack.SetDepth(Word(Int(frameBase) + op->depth));                                              \
    steps = entrySteps + op->done + 1;                                                             \
    chain.spent = start + steps

dynamic:
    // Where the plain step would look before a command: the instance, its program, its form.
    if (c.LostDuringCall()) {
        return StepNodeDeleted;
    }
resume:
    // The same, where the instance and the owner are known to live.
    program = c.current_ ? c.current_->GetProgram() : nullptr;
    fast = program && program->Breakpoints().empty() ? program->GetFastCode() : nullptr;
    frameBase = c.FrameBase();
    op = fast ? fast->Region(c.position_, Int(stack.Depth() - frameBase)) : nullptr;
    if (!op) {
        goto plain;
    }
    fp = words + frameBase;
    variables = c.current_->GetVariables();
    variableCount = c.current_->GetVariableCount();
    goto enter;

plain:
    chain.spent = start + steps;
    result = c.Step();
    steps = c.AddChargedSteps(steps, limit);
    if (c.CountStep(steps, limit) && result != StepNodeDeleted) {
        return c.StepLimitError();
    }
    if (result != StepContinue) {
        // The run's count, for the run it is nested in; one that ends in a call out handed it
        // over before the call.
        chain.spent = start + steps;
        return result;
    }
    goto dynamic;

enter:
    // Whatever the region's commands would check of the stacks and variables, checked once; the
    // region runs only when none of its commands can be the step limit's, and on stack words
    // taken into use (a refusal is the plain step's to report).
    if (op->done >= limit - steps || int64_t(frameBase) + op->peak > capacity ||
        int64_t(frameBase) < op->needBase || op->needVariables > variableCount ||
        !stack.Take(uint64_t(int64_t(frameBase) + op->peak))) {
        c.position_ = op->offset;
        stack.SetDepth(Word(Int(frameBase) + op->depth));
        goto plain;
    }
    entrySteps = steps;
    steps += op->done;
    NEXT();

move_slot:
    fp[op->dst] = fp[op->a];
    NEXT();
move_constant:
    fp[op->dst] = Word(op->a);
    NEXT();
load_local_at : {
    // The word must lie in the frame, below the offset word.
    const int64_t at = int64_t(frameBase) + Int(fp[op->a]);
    if (at < 0 || at + 1 > int64_t(frameBase) + op->depth - 1) {
        goto handoff;
    }
    fp[op->dst] = words[at];
    NEXT();
}
store_local_at : {
    const int64_t at = int64_t(frameBase) + Int(fp[op->dst]);
    if (at < 0 || at + 1 > int64_t(frameBase) + op->depth - 2) {
        goto handoff;
    }
    words[at] = op->operand == uint8_t(FastOperand::Slot) ? fp[op->a] : Word(op->a);
    NEXT();
}
load_variable:
    fp[op->dst] = variables[op->a];
    NEXT();
load_variable_at : {
    const int32_t at = Int(fp[op->a]);
    if (at < 0 || uint32_t(at) >= variableCount) {
        goto handoff;
    }
    fp[op->dst] = variables[at];
    NEXT();
}
store_variable:
    variables[op->dst] = op->operand == uint8_t(FastOperand::Slot) ? fp[op->a] : Word(op->a);
    NEXT();
store_variable_at : {
    const int32_t at = Int(fp[op->dst]);
    if (at < 0 || uint32_t(at) >= variableCount) {
        goto handoff;
    }
    variables[at] = op->operand == uint8_t(FastOperand::Slot) ? fp[op->a] : Word(op->a);
    NEXT();
}
element : {
    const int32_t index = Int(fp[op->b]);
    if (index < 0 || index >= Int(op->extent)) {
        goto handoff;
    }
    const uint32_t base = op->operand == uint8_t(FastOperand::Slot) ? fp[op->a] : Word(op->a);
    fp[op->dst] = base + uint32_t(index) * op->stride;
    NEXT();
}

plain_step:
    c.position_ = op->next;
    stack.SetDepth(Word(Int(frameBase) + op->depth));
    steps = entrySteps + op->done;
    goto plain;

test_branch:
    if ((fp[op->a] != 0) == (op->sense != 0)) {
        goto taken;
    }
    goto not_taken;

jump:
taken:
    cache = &op->target;
    target = op->next;
    targetDepth = op->depth;
    goto follow;
not_taken:
    cache = &op->fallthrough;
    target = op->offset + 2;
    targetDepth = op->depth;
follow:
    // The region at the target, found once and kept in the op.
    next = *cache;
    if (!next) {
        next = fast->Region(target, targetDepth);
        if (!next) {
            c.position_ = target;
            stack.SetDepth(Word(Int(frameBase) + targetDepth));
            goto dynamic;
        }
        *cache = next;
    }
    op = next;
    goto enter;

call : {
    // The plain path's frame push; the callee is this instance, the runner keeps its position.
    const uint32_t depth = Word(Int(frameBase) + op->depth);
    const auto entry = uint32_t(op->a);
    if (!c.PushFrame(entry, op->next, depth, false)) {
        goto handoff;
    }
    frameBase = depth;
    fp = words + frameBase;
    cache = &op->target;
    target = entry;
    targetDepth = 0;
    goto follow;
}

return_ : {
    if (c.frames_.empty()) {
        goto handoff;
    }
    c.commandOffset_ = op->offset;
    const uint64_t returning = c.currentSerial_;
    const uint32_t depth = Word(Int(frameBase) + op->depth);
    if (c.LeaveCall(depth, uint32_t(op->a), uint32_t(op->b)).outermost) {
        // Counted ahead with the region: at most its count more than it ran.
        chain.spent = start + steps;
        return StepEnded;
    }
    if (c.currentSerial_ != returning) {
        // The caller may have been deleted by what it called; the alive check stands while no
        // entity was destroyed since. An instance returning to itself lives, as it ran.
        if (!c.SeenAlive(c.currentSerial_) && !IsAlive(c.currentSerial_)) {
            return StepNodeDeleted;
        }
        goto resume;
    }
    frameBase = c.FrameBase();
    fp = words + frameBase;
    op = fast->Region(c.position_, Int(stack.Depth() - frameBase));
    if (!op) {
        goto dynamic;
    }
    goto enter;
}

    // Calls out of the machine, their words stored by the ops before them: each finds its target
    // with what its site kept, hands the command to the plain path where the look-up fails (which
    // reports it), and shares the call itself with the plain path. Whatever they call may change
    // anything, so the run resumes as after a plain step.
method : {
    const auto arguments = uint32_t(op->b);
    const uint32_t entityIndex = Word(Int(frameBase) + op->depth) - arguments - 1;
    Entity* const entity = TheIdMap().Lookup(words[entityIndex]);
    if (!entity) {
        goto handoff;
    }
    const ClassInfo* const classInfo = entity->GetClass();
    FastCallSite& site = *op->site;
    if (site.classInfo != classInfo || site.generation != GetMethodTableGeneration()) {
        site.classInfo = nullptr;
        const ClassInfo* chain = ScriptContext::MemberChain(program, op->offset, *entity);
        site.method = chain ? ScriptContext::FindCalledMethod(*entity, *chain, op->a) : nullptr;
        if (!site.method) {
            goto handoff;
        }
        site.classInfo = classInfo;
        site.generation = GetMethodTableGeneration();
    }
    QUARN_COMMAND_STATE();
    result = c.InvokeMethod(*entity, *site.method, entityIndex, arguments);
    if (result != StepContinue) {
        return result;
    }
    if (c.chargedSteps_ != 0) {
        goto charged;
    }
    goto resume;
}

function : {
    const uint32_t charged = steps;
    const uint64_t formsMade = ScriptFastCode::MadeCount();
    QUARN_COMMAND_STATE();
    result = c.InvokeFunction(*op->site->method);
    if (result != StepContinue) {
        return result;
    }
    if (c.chargedSteps_ != 0) {
        goto charged;
    }
    // The region goes on where the call left the instance, its program, form, frame and
    // variables as they were. A form made since (GetFastCode makes one for changed code) may
    // have taken the address of the one op lies in, so op is read only once none was.
    if (c.current_->GetProgram() != program || !program->Breakpoints().empty() ||
        program->GetFastCode() != fast || ScriptFastCode::MadeCount() != formsMade ||
        c.FrameBase() != frameBase || c.current_->GetVariables() != variables ||
        c.current_->GetVariableCount() != variableCount || c.position_ != op->next ||
        stack.Depth() != Word(Int(frameBase) + op->b)) {
        goto resume;
    }
    steps = charged;
    NEXT();
}

charged:
    // The work the command charged, and the steps of the runs nested in it, count as the plain
    // path counts them, after the command.
    steps = c.AddChargedSteps(steps, limit);
    if (steps >= limit) {
        return c.StepLimitError();
    }
    goto dynamic;

external_call : {
    const auto arguments = uint32_t(op->b);
    Entity* const entity =
        TheIdMap().Lookup(words[Word(Int(frameBase) + op->depth) - arguments - 1]);
    Script* const target = entity ? CastObject<Script>(entity) : nullptr;
    if (!target || ScriptContext::CheckExternalCall(*target, op->a, op->site->hash) !=
                       ScriptContext::ExternalCallCheck::Callable) {
        goto handoff;
    }
    QUARN_COMMAND_STATE();
    result = c.EnterExternal(*target, uint32_t(op->a), arguments);
    if (result != StepContinue) {
        return result;
    }
    goto resume;
}

handoff:
    // The command at op->offset through the plain path, on the value stack its commands would
    // have left: the words the region kept in view are stored first.
    QUARN_STORE_MOVES();
    {
        // Copied before the call: what it calls may translate the program anew.
        const uint32_t offset = op->offset;
        QUARN_COMMAND_STATE();
        const uint32_t* code = program->GetCode();
        result = c.Execute(code[offset], code + offset + 1);
        if (result != StepContinue) {
            return result;
        }
        if (c.chargedSteps_ != 0) {
            goto charged;
        }
        goto dynamic;
    }

    // Typed operators: the first operand in a slot, the second in a slot (_S) or constant (_K);
    // compares also as conditional jumps (_BS, _BK).
#define QUARN_OPERANDS_S                                                                           \
    const uint32_t x = fp[op->a];                                                                  \
    const uint32_t y = fp[op->b];                                                                  \
    (void)y
#define QUARN_OPERANDS_K                                                                           \
    const uint32_t x = fp[op->a];                                                                  \
    const uint32_t y = Word(op->b)
#define QUARN_BINARY(name, result)                                                                 \
    name##_S : {                                                                                   \
        QUARN_OPERANDS_S;                                                                          \
        fp[op->dst] = (result);                                                                    \
        NEXT();                                                                                    \
    }                                                                                              \
    name##_K : {                                                                                   \
        QUARN_OPERANDS_K;                                                                          \
        fp[op->dst] = (result);                                                                    \
        NEXT();                                                                                    \
    }
#define QUARN_DIVISION(name, result)                                                               \
    name##_S : {                                                                                   \
        QUARN_OPERANDS_S;                                                                          \
        if (y == 0) {                                                                              \
            goto handoff;                                                                          \
        }                                                                                          \
        fp[op->dst] = (result);                                                                    \
        NEXT();                                                                                    \
    }                                                                                              \
    name##_K : {                                                                                   \
        QUARN_OPERANDS_K;                                                                          \
        fp[op->dst] = (result);                                                                    \
        NEXT();                                                                                    \
    }
#define QUARN_COMPARE(name, condition)                                                             \
    QUARN_BINARY(name, Bool(condition))                                                            \
    name##_BS : {                                                                                  \
        QUARN_OPERANDS_S;                                                                          \
        if ((condition) == (op->sense != 0)) {                                                     \
            goto taken;                                                                            \
        }                                                                                          \
        goto not_taken;                                                                            \
    }                                                                                              \
    name##_BK : {                                                                                  \
        QUARN_OPERANDS_K;                                                                          \
        if ((condition) == (op->sense != 0)) {                                                     \
            goto taken;                                                                            \
        }                                                                                          \
        goto not_taken;                                                                            \
    }
#define QUARN_UNARY(name, result)                                                                  \
    name##_S : {                                                                                   \
        const uint32_t x = fp[op->a];                                                              \
        fp[op->dst] = (result);                                                                    \
        NEXT();                                                                                    \
    }

    QUARN_BINARY(IntAdd, Word(arithmetic::Add(Int(x), Int(y))))
    QUARN_BINARY(IntSubtract, Word(arithmetic::Subtract(Int(x), Int(y))))
    QUARN_BINARY(IntMultiply, Word(arithmetic::Multiply(Int(x), Int(y))))
    QUARN_DIVISION(IntDivide, Word(arithmetic::Quotient(Int(x), Int(y))))
    QUARN_DIVISION(IntRemainder, Word(arithmetic::Remainder(Int(x), Int(y))))
    QUARN_BINARY(IntAnd, x & y)
    QUARN_BINARY(IntOr, x | y)
    QUARN_BINARY(IntXor, x ^ y)
    QUARN_BINARY(IntShiftLeft, Word(arithmetic::ShiftLeft(Int(x), Int(y))))
    QUARN_BINARY(IntShiftRight, Word(arithmetic::ShiftRight(Int(x), Int(y))))
    QUARN_COMPARE(IntLess, Int(x) < Int(y))
    QUARN_COMPARE(IntLessEqual, Int(x) <= Int(y))
    QUARN_COMPARE(IntGreater, Int(x) > Int(y))
    QUARN_COMPARE(IntGreaterEqual, Int(x) >= Int(y))
    QUARN_COMPARE(IntEqual, x == y)
    QUARN_COMPARE(IntNotEqual, x != y)
    QUARN_BINARY(FloatAdd, FloatToWord(Float(x) + Float(y)))
    QUARN_BINARY(FloatSubtract, FloatToWord(Float(x) - Float(y)))
    QUARN_BINARY(FloatMultiply, FloatToWord(Float(x) * Float(y)))
    // Only a +0.0 divisor reports, as the operator's body checks the word.
    QUARN_DIVISION(FloatDivide, FloatToWord(Float(x) / Float(y)))
    QUARN_COMPARE(FloatLess, Float(x) < Float(y))
    QUARN_COMPARE(FloatLessEqual, Float(x) <= Float(y))
    QUARN_COMPARE(FloatGreater, Float(x) > Float(y))
    QUARN_COMPARE(FloatGreaterEqual, Float(x) >= Float(y))
    QUARN_COMPARE(FloatEqual, Float(x) == Float(y))
    QUARN_COMPARE(FloatNotEqual, Float(x) != Float(y))
    QUARN_BINARY(BoolAnd, Bool(x != 0 && y != 0))
    QUARN_BINARY(BoolOr, Bool(x != 0 || y != 0))
    QUARN_BINARY(BoolExclusiveOr, Bool((x != 0) != (y != 0)))
    QUARN_COMPARE(BoolEqual, (x != 0) == (y != 0))
    QUARN_COMPARE(BoolNotEqual, (x != 0) != (y != 0))
    QUARN_UNARY(IntNegate, Word(arithmetic::Negate(Int(x))))
    QUARN_UNARY(IntComplement, ~x)
    QUARN_UNARY(IntIncrement, Word(arithmetic::Add(Int(x), 1)))
    QUARN_UNARY(IntDecrement, Word(arithmetic::Subtract(Int(x), 1)))
    QUARN_UNARY(IntToBool, Bool(x != 0))
    QUARN_UNARY(IntToFloat, FloatToWord(static_cast<float>(Int(x))))
    QUARN_UNARY(FloatNegate, FloatToWord(-Float(x)))
    QUARN_UNARY(BoolNot, Bool(x == 0))

#undef QUARN_OPERANDS_S
#undef QUARN_OPERANDS_K
#undef QUARN_BINARY
#undef QUARN_DIVISION
#undef QUARN_COMPARE
#undef QUARN_UNARY
#undef DISPATCH
#undef QUARN_STORE_MOVES
#undef QUARN_COMMAND_STATE
#undef NEXT

unused:
    // No translation makes these; should one appear, the plain path runs its command.
    goto handoff;
}

} // namespace quarn
