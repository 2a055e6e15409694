#include "script/machine/ScriptFastCode.h"

#include "core/object/MethodInfo.h"
#include "core/object/ValueBinding.h"
#include "script/machine/ScriptArithmetic.h"
#include "script/machine/ScriptCommands.h"
#include "script/machine/ScriptResource.h"
#include "script/machine/ScriptValueType.h"

#include <algorithm>
#include <cstring>

namespace quarn {

using namespace script_command;

namespace {

using T = ScriptTypedOperator;

// The most words one duplicate or conversion command may name and still be translated.
constexpr uint32_t MaxTranslatedRun = 64;

enum class Shape : uint8_t { Binary, Compare, Unary };
constexpr Shape Shapes[] = {
    Shape::Binary, // None
#define QUARN_TYPED_OPERATOR_SHAPE(name, shape) Shape::shape,
    QUARN_TYPED_OPERATORS(QUARN_TYPED_OPERATOR_SHAPE)
#undef QUARN_TYPED_OPERATOR_SHAPE
};

int InputsOf(T op) {
    return Shapes[size_t(op)] == Shape::Unary ? 1 : 2;
}
bool IsCompare(T op) {
    return Shapes[size_t(op)] == Shape::Compare;
}
// Int and bool operators whose operands may trade places; float ones keep their order, which
// decides the payload of a NaN result.
bool IsCommutative(T op) {
    switch (op) {
    case T::IntAdd:
    case T::IntMultiply:
    case T::IntAnd:
    case T::IntOr:
    case T::IntXor:
    case T::IntEqual:
    case T::IntNotEqual:
    case T::BoolAnd:
    case T::BoolOr:
    case T::BoolExclusiveOr:
    case T::BoolEqual:
    case T::BoolNotEqual:
        return true;
    default:
        return false;
    }
}
// A compare with its operands swapped.
T Mirrored(T op) {
    switch (op) {
    case T::IntLess:
        return T::IntGreater;
    case T::IntGreater:
        return T::IntLess;
    case T::IntLessEqual:
        return T::IntGreaterEqual;
    case T::IntGreaterEqual:
        return T::IntLessEqual;
    case T::FloatLess:
        return T::FloatGreater;
    case T::FloatGreater:
        return T::FloatLess;
    case T::FloatLessEqual:
        return T::FloatGreaterEqual;
    case T::FloatGreaterEqual:
        return T::FloatLessEqual;
    default:
        return op;
    }
}
// Operators whose second operand can make the body report (a zero divisor): with a constant
// divisor that is not zero they never do.
bool MayReport(T op, bool constant, uint32_t divisor) {
    if (op == T::IntDivide || op == T::IntRemainder || op == T::FloatDivide) {
        return !constant || divisor == 0;
    }
    return false;
}

} // namespace

// Translates one region: a symbolic view of the words the commands push, from the region's
// first depth up, turned into ops.
class ScriptFastCode::Translator {
public:
    Translator(ScriptFastCode& form, uint32_t start, int32_t depth)
        : form_(form), start_(start), startDepth_(depth), floor_(depth), depth_(depth),
          peak_(depth) {}

    const FastOp* Translate();

private:
    // What a word of the value stack holds: stored where the commands would have it, a constant,
    // or a copy of a frame slot not yet stored. Words below the lowest depth the region reached
    // so far are all stored.
    struct Item {
        enum Kind : uint8_t { Stored, Constant, Copy } kind = Stored;
        int32_t value = 0;
    };

    Item At(int32_t position) const {
        return position < floor_ ? Item{} : items_[size_t(position - floor_)];
    }
    void Set(int32_t position, Item item) {
        if (position >= floor_) {
            items_[size_t(position - floor_)] = item;
        }
    }
    void Push(Item item) {
        items_.push_back(item);
        peak_ = std::max(peak_, ++depth_);
    }
    void Pop(int32_t count) {
        depth_ -= count;
        if (depth_ < floor_) {
            floor_ = depth_;
            items_.clear();
        } else {
            items_.resize(size_t(depth_ - floor_));
        }
    }
    // The frame base must lie `count` words above the stack's base or more.
    void NeedBase(int64_t count) { needBase_ = std::max<int64_t>(needBase_, count); }
    // The operand that reads the word at `position`.
    void Read(int32_t position, FastOperand& operand, int32_t& value) {
        const Item item = At(position);
        operand = item.kind == Item::Constant ? FastOperand::Constant : FastOperand::Slot;
        value = item.kind == Item::Stored ? position : item.value;
        if (operand == FastOperand::Slot) {
            NeedBase(-int64_t(value));
        }
    }
    // The item a copy of the word at `position` is.
    Item CopyOf(int32_t position) {
        const Item item = At(position);
        if (item.kind != Item::Stored) {
            return item;
        }
        NeedBase(-int64_t(position));
        return {Item::Copy, position};
    }

    FastOp& Emit(uint16_t code) {
        ops_.emplace_back();
        FastOp& op = ops_.back();
        op.code = code;
        op.offset = position_;
        op.depth = depth_;
        op.done = done_;
        producer_ = -1;
        return op;
    }
    void Store(int32_t position) {
        FastOperand operand;
        int32_t value;
        Read(position, operand, value);
        FastOp& op = Emit(operand == FastOperand::Slot ? FastMoveSlot : FastMoveConstant);
        op.dst = position;
        op.a = value;
        Set(position, {});
    }
    void StoreAll() {
        for (int32_t p = floor_; p < depth_; ++p) {
            if (At(p).kind != Item::Stored) {
                Store(p);
            }
        }
    }
    // Before a write of the slot: copies of it still to be stored get its old word.
    void BeforeWrite(int32_t slot) {
        for (int32_t p = floor_; p < depth_; ++p) {
            const Item item = At(p);
            if (item.kind == Item::Copy && item.value == slot) {
                Store(p);
            }
        }
    }
    // The op may hand its command to the plain path: it records what must be stored first.
    void RecordMoves(FastOp& op) {
        op.firstMove = uint32_t(form_.moves_.size());
        for (int32_t p = floor_; p < depth_; ++p) {
            const Item item = At(p);
            if (item.kind != Item::Stored) {
                form_.moves_.push_back(
                    {p, item.value,
                     item.kind == Item::Constant ? FastOperand::Constant : FastOperand::Slot});
            }
        }
        op.moveCount = uint32_t(form_.moves_.size()) - op.firstMove;
    }
    // An op that stores the words kept in view itself before it acts (and before it hands its
    // command to the plain path).
    FastOp& EmitStoring(uint16_t code) {
        FastOp& op = Emit(code);
        RecordMoves(op);
        for (Item& item : items_) {
            item = {};
        }
        return op;
    }
    // The command through the plain path; the region ends with it.
    void Command(uint32_t next) {
        FastOp& op = EmitStoring(FastCommand);
        op.next = next;
        ended_ = true;
    }
    // A call out of the machine; the region ends with it, as the depth after it is known only
    // once the callee is.
    FastOp& CallOut(uint16_t code, uint32_t next) {
        // The call needs every word stored: as ops, cheaper than moves looked up by the op.
        StoreAll();
        FastOp& op = Emit(code);
        op.next = next;
        op.site = &form_.sites_.emplace_back();
        ended_ = true;
        return op;
    }
    // Leaves the region for `target` at the present depth.
    void Leave(uint32_t target) {
        StoreAll();
        FastOp& op = Emit(FastJump);
        op.next = target;
        ended_ = true;
    }
    bool InCode(int64_t offset) const { return offset >= 0 && offset < int64_t(form_.size_); }

    bool TextLiteral(uint32_t& next);
    void ReadLocal(int32_t slot);
    void WriteLocal(int32_t slot);
    void LocalAt(bool store, uint32_t next);
    // Answers the commands it took: 2 where a compare took the conditional jump after it.
    uint32_t Typed(T op, int32_t argumentWords, uint32_t next);
    void Branch(uint32_t command, int32_t distance, uint32_t next);
    void Element(uint32_t size, uint32_t stride, uint32_t next);
    void Variable(bool store, uint32_t next);
    // Translates the command; answers the commands it took (see Typed).
    uint32_t Translate(uint32_t command, const uint32_t* operands, uint32_t next);

    ScriptFastCode& form_;
    uint32_t start_;
    int32_t startDepth_;
    int32_t floor_;
    int32_t depth_;
    int32_t peak_;
    int64_t needBase_ = 0;
    uint32_t needVariables_ = 0;
    uint32_t position_ = 0;
    uint32_t done_ = 0;
    bool ended_ = false;
    // The last op when it computed the top word into its slot, so a store can take it over.
    int producer_ = -1;
    std::vector<Item> items_;
    std::vector<FastOp> ops_;
};

bool ScriptFastCode::Translator::TextLiteral(uint32_t& next) {
    const uint32_t start = position_ + 1;
    const auto* bytes = reinterpret_cast<const char*>(form_.code_ + start);
    const void* end = std::memchr(bytes, 0, size_t(form_.size_ - start) * 4);
    if (!end) {
        return false;
    }
    const size_t length = static_cast<const char*>(end) - bytes;
    next = start + static_cast<uint32_t>((length + 4) / 4);
    Push({Item::Constant, int32_t(form_.textWord_ + 4 * start)});
    return true;
}

void ScriptFastCode::Translator::ReadLocal(int32_t slot) {
    // The offset word goes; the slot's word, or what stands for it, takes its place.
    Pop(1);
    Push(CopyOf(slot));
}

void ScriptFastCode::Translator::WriteLocal(int32_t slot) {
    const int32_t valuePosition = depth_ - 1;
    const Item value = At(valuePosition);
    NeedBase(-int64_t(slot));
    const size_t before = ops_.size();
    const int producer = producer_;
    BeforeWrite(slot);
    if (value.kind == Item::Stored && producer >= 0 && ops_.size() == before &&
        size_t(producer) + 1 == ops_.size() && ops_[size_t(producer)].dst == valuePosition) {
        // The op that computed the value writes the local itself.
        ops_[size_t(producer)].dst = slot;
    } else {
        FastOperand operand;
        int32_t source;
        Read(valuePosition, operand, source);
        FastOp& op = Emit(operand == FastOperand::Slot ? FastMoveSlot : FastMoveConstant);
        op.dst = slot;
        op.a = source;
    }
    Pop(2);
    Set(slot, {});
}

void ScriptFastCode::Translator::LocalAt(bool store, uint32_t next) {
    if (store) {
        // The slot is known only when the op runs: nothing kept in view may stand for it.
        StoreAll();
    }
    FastOperand offsetOperand;
    int32_t offset;
    Read(depth_ - (store ? 2 : 1), offsetOperand, offset);
    FastOp& op = Emit(store ? FastStoreLocalAt : FastLoadLocalAt);
    op.next = next;
    RecordMoves(op);
    if (store) {
        FastOperand valueOperand;
        int32_t value;
        Read(depth_ - 1, valueOperand, value);
        op.dst = offset;
        op.a = value;
        op.operand = uint8_t(valueOperand);
        Pop(2);
        return;
    }
    op.dst = depth_ - 1;
    op.a = offset;
    Pop(1);
    Push({});
}

uint32_t ScriptFastCode::Translator::Typed(T op, int32_t argumentWords, uint32_t next) {
    const int inputs = InputsOf(op);
    NeedBase(int64_t(std::max(argumentWords, inputs)) - depth_);
    const int32_t first = depth_ - inputs;
    if (inputs == 1) {
        if (At(first).kind == Item::Constant) {
            Store(first);
        }
        FastOperand operand;
        int32_t value;
        Read(first, operand, value);
        FastOp& emitted = Emit(TypedOpCode(op, FastSlots));
        emitted.dst = first;
        emitted.a = value;
        Set(first, {});
        producer_ = int(ops_.size()) - 1;
        return 1;
    }
    if (At(first).kind == Item::Constant) {
        if (At(first + 1).kind != Item::Constant && (IsCommutative(op) || IsCompare(op))) {
            const Item left = At(first);
            Set(first, CopyOf(first + 1));
            Set(first + 1, left);
            op = Mirrored(op);
        } else {
            Store(first);
        }
    }
    FastOperand leftOperand;
    FastOperand rightOperand;
    int32_t left;
    int32_t right;
    Read(first, leftOperand, left);
    Read(first + 1, rightOperand, right);
    const bool constant = rightOperand == FastOperand::Constant;
    const bool reports = MayReport(op, constant, uint32_t(right));
    if (reports && constant) {
        // A constant zero divisor always reports: the plain path does that.
        Command(next);
        return 1;
    }
    // A compare that a conditional jump consumes at once becomes a compare-and-jump.
    if (IsCompare(op) && InCode(next) &&
        (form_.code_[next] == JumpIfTrue || form_.code_[next] == JumpIfFalse) &&
        InCode(int64_t(next) + 1)) {
        const int64_t target = int64_t(next) + 2 + int32_t(form_.code_[next + 1]);
        if (InCode(target)) {
            Pop(2);
            StoreAll();
            position_ = next;
            FastOp& emitted =
                Emit(TypedOpCode(op, constant ? FastBranchConstant : FastBranchSlots));
            emitted.a = left;
            emitted.b = right;
            emitted.sense = form_.code_[next] == JumpIfTrue ? 1 : 0;
            emitted.next = uint32_t(target);
            ended_ = true;
            return 2;
        }
    }
    FastOp& emitted = Emit(TypedOpCode(op, constant ? FastConstant : FastSlots));
    emitted.dst = first;
    emitted.a = left;
    emitted.b = right;
    emitted.next = next;
    if (reports) {
        RecordMoves(emitted);
    }
    Pop(1);
    Set(first, {});
    producer_ = int(ops_.size()) - 1;
    return 1;
}

void ScriptFastCode::Translator::Branch(uint32_t command, int32_t distance, uint32_t next) {
    const int64_t target = int64_t(next) + distance;
    if (command != Jump) {
        NeedBase(1 - int64_t(depth_));
    }
    if (!InCode(target)) {
        Command(next);
        return;
    }
    if (command == Jump) {
        Leave(uint32_t(target));
        return;
    }
    FastOperand operand;
    int32_t value;
    Read(depth_ - 1, operand, value);
    Pop(1);
    if (operand == FastOperand::Constant) {
        const bool taken = (value != 0) == (command == JumpIfTrue);
        Leave(taken ? uint32_t(target) : next);
        return;
    }
    StoreAll();
    FastOp& op = Emit(FastTestBranch);
    op.a = value;
    op.sense = command == JumpIfTrue ? 1 : 0;
    op.next = uint32_t(target);
    ended_ = true;
}

void ScriptFastCode::Translator::Element(uint32_t size, uint32_t stride, uint32_t next) {
    NeedBase(2 - int64_t(depth_));
    FastOperand indexOperand;
    FastOperand baseOperand;
    int32_t index;
    int32_t base;
    Read(depth_ - 1, indexOperand, index);
    Read(depth_ - 2, baseOperand, base);
    if (indexOperand == FastOperand::Constant) {
        if (index < 0 || index >= int32_t(size)) {
            Command(next);
            return;
        }
        if (baseOperand == FastOperand::Constant) {
            Pop(2);
            Push({Item::Constant, int32_t(uint32_t(base) + uint32_t(index) * stride)});
            return;
        }
        // base + the element's offset, wrapping as the command's sum does.
        FastOp& op = Emit(TypedOpCode(T::IntAdd, FastConstant));
        op.dst = depth_ - 2;
        op.a = base;
        op.b = int32_t(uint32_t(index) * stride);
        Pop(2);
        Push({});
        producer_ = int(ops_.size()) - 1;
        return;
    }
    FastOp& op = Emit(FastElement);
    op.dst = depth_ - 2;
    op.a = base;
    op.operand = uint8_t(baseOperand);
    op.b = index;
    op.extent = size;
    op.stride = stride;
    op.next = next;
    RecordMoves(op);
    Pop(2);
    Push({});
    producer_ = int(ops_.size()) - 1;
}

void ScriptFastCode::Translator::Variable(bool store, uint32_t next) {
    const int32_t offsetPosition = depth_ - (store ? 2 : 1);
    NeedBase(int64_t(store ? 2 : 1) - depth_);
    FastOperand offsetOperand;
    int32_t offset;
    Read(offsetPosition, offsetOperand, offset);
    const bool fixed = offsetOperand == FastOperand::Constant;
    if (fixed && offset < 0) {
        Command(next);
        return;
    }
    if (fixed) {
        needVariables_ = std::max(needVariables_, uint32_t(offset) + 1);
    }
    if (!store) {
        FastOp& op = Emit(fixed ? FastLoadVariable : FastLoadVariableAt);
        op.dst = offsetPosition;
        op.a = offset;
        op.next = next;
        if (!fixed) {
            RecordMoves(op);
        }
        Pop(1);
        Push({});
        return;
    }
    FastOperand valueOperand;
    int32_t value;
    Read(depth_ - 1, valueOperand, value);
    FastOp& op = Emit(fixed ? FastStoreVariable : FastStoreVariableAt);
    op.dst = offset;
    op.a = value;
    op.operand = uint8_t(valueOperand);
    op.next = next;
    if (!fixed) {
        RecordMoves(op);
    }
    Pop(2);
}

uint32_t ScriptFastCode::Translator::Translate(uint32_t command, const uint32_t* operands,
                                           uint32_t next) {
    const uint32_t a = OperandWords[command] > 0 ? operands[0] : 0;
    switch (command) {
    case PushInt:
    case PushFloat:
        Push({Item::Constant, int32_t(a)});
        return 1;
    case PushText: {
        uint32_t after = next;
        if (!TextLiteral(after)) {
            Command(next);
            return 1;
        }
        position_ = after;
        return 1;
    }
    case Drop:
        if (a > MaxTranslatedRun) {
            break;
        }
        NeedBase(int64_t(a) - depth_);
        Pop(int32_t(a));
        return 1;
    case Duplicate: {
        if (int32_t(a) >= 1) {
            if (a > MaxTranslatedRun) {
                break;
            }
            NeedBase(int64_t(a) - depth_);
            const int32_t first = depth_ - int32_t(a);
            for (int32_t i = 0; i < int32_t(a); ++i) {
                Push(CopyOf(first + i));
            }
        }
        return 1;
    }
    case ToFloat: {
        const uint32_t above = a;
        const uint32_t count = operands[1];
        if (above > MaxTranslatedRun || count > MaxTranslatedRun) {
            break;
        }
        NeedBase(int64_t(above) + count - depth_);
        const int32_t first = depth_ - int32_t(above + count);
        for (int32_t p = first; p < first + int32_t(count); ++p) {
            const Item item = At(p);
            if (item.kind == Item::Constant) {
                Set(p,
                    {Item::Constant,
                     int32_t(FloatToWord(static_cast<float>(static_cast<int32_t>(item.value))))});
                continue;
            }
            if (item.kind == Item::Stored) {
                BeforeWrite(p);
            }
            FastOperand operand;
            int32_t source;
            Read(p, operand, source);
            FastOp& op = Emit(TypedOpCode(T::IntToFloat, FastSlots));
            op.dst = p;
            op.a = source;
            Set(p, {});
        }
        return 1;
    }
    case LoadLocal:
    case StoreLocal: {
        const bool store = command == StoreLocal;
        if (a != 1) {
            break;
        }
        NeedBase(int64_t(store ? 2 : 1) - depth_);
        const Item offset = At(depth_ - (store ? 2 : 1));
        if (offset.kind != Item::Constant) {
            LocalAt(store, next);
        } else if (int64_t(offset.value) + 1 > int64_t(depth_) - (store ? 2 : 1)) {
            // The local must lie below the words the command consumes.
            break;
        } else if (store) {
            WriteLocal(offset.value);
        } else {
            ReadLocal(offset.value);
        }
        return 1;
    }
    case LoadVariable:
    case StoreVariable:
        if (a != 1) {
            break;
        }
        Variable(command == StoreVariable, next);
        return 1;
    case ElementAddress:
        Element(a, operands[1], next);
        return 1;
    case Operator: {
        const ScriptValueType* type = GetScriptValueType(static_cast<int32_t>(a >> 16));
        const ScriptOperatorRecord* record =
            type ? type->GetOperator(static_cast<int>(a & 0xFFFF)) : nullptr;
        const T typed = record && record->function && record->argumentWords >= 0
                            ? ClassifyScriptOperator(record->function)
                            : T::None;
        if (typed == T::None) {
            break;
        }
        return Typed(typed, record->argumentWords, next);
    }
    case Jump:
    case JumpIfTrue:
    case JumpIfFalse:
        Branch(command, int32_t(a), next);
        return 1;
    case LocalCall: {
        if (int32_t(a) < 0 || a >= form_.size_) {
            break;
        }
        StoreAll();
        FastOp& op = Emit(FastCall);
        op.a = int32_t(a);
        op.next = next;
        ended_ = true;
        return 1;
    }
    case Method:
    case ExternalCall: {
        const uint32_t arguments = operands[1];
        // An external call without arguments and x word runs as a call of its own (plain path).
        if (int32_t(a) < 0 || arguments > MaxTranslatedRun ||
            (command == ExternalCall && arguments == 0 && operands[2] == 0)) {
            break;
        }
        NeedBase(int64_t(arguments) + 1 - depth_);
        FastOp& op = CallOut(command == Method ? FastMethod : FastExternalCall, next);
        op.a = int32_t(a);
        op.b = int32_t(arguments);
        if (command == ExternalCall) {
            op.site->hash = operands[3];
        }
        return 1;
    }
    case Function: {
        const MethodInfo* function =
            a < uint32_t(GetRegisteredFunctionCount()) ? GetRegisteredFunction(int(a)) : nullptr;
        if (!function) {
            break;
        }
        // The function's words are known, so the region goes on after it: the run checks that
        // the call left the machine as it was.
        StoreAll();
        FastOp& op = Emit(FastFunction);
        op.next = next;
        op.site = &form_.sites_.emplace_back();
        op.site->method = function;
        Pop(function->GetArgumentWords());
        for (int result = 0; result < function->GetReturnWords(); ++result) {
            Push({});
        }
        op.b = depth_;
        return 1;
    }
    case Return: {
        const uint32_t results = operands[1];
        NeedBase(int64_t(a) + results - depth_);
        StoreAll();
        FastOp& op = Emit(FastReturn);
        op.a = int32_t(a);
        op.b = int32_t(results);
        op.next = next;
        ended_ = true;
        return 1;
    }
    default:
        break;
    }
    Command(next);
    return 1;
}

const FastOp* ScriptFastCode::Translator::Translate() {
    ops_.emplace_back(); // the entry op, filled in last
    position_ = start_;
    while (!ended_) {
        if (done_ >= MaxRegionCommands || position_ >= form_.size_) {
            Leave(position_);
            break;
        }
        const uint32_t command = form_.code_[position_];
        if (command >= Count || OperandWords[command] > form_.size_ - position_ - 1) {
            // The plain path reports what is wrong with it.
            StoreAll();
            Emit(FastPlain).next = position_;
            break;
        }
        const uint32_t next = position_ + 1 + OperandWords[command];
        const uint32_t before = position_;
        // The one place the region's commands are counted.
        done_ += Translate(command, form_.code_ + position_ + 1, next);
        if (!ended_ && position_ == before) {
            position_ = next;
        }
    }
    FastOp& entry = ops_.front();
    entry.code = FastEnter;
    entry.offset = start_;
    entry.depth = startDepth_;
    entry.done = done_;
    entry.peak = peak_;
    entry.needBase = int32_t(std::min<int64_t>(needBase_, INT32_MAX));
    entry.needVariables = needVariables_;
    auto stored = std::make_unique<FastOp[]>(ops_.size());
    std::copy(ops_.begin(), ops_.end(), stored.get());
    const FastOp* region = stored.get();
    form_.storage_.push_back(std::move(stored));
    return region;
}

ScriptFastCode::ScriptFastCode(const ScriptResource& program)
    : code_(program.GetCode()), size_(program.GetCodeSize()), textWord_(program.GetCodeTextWord()),
      regions_(program.GetCodeSize(), nullptr) {
    ++made_;
}

ScriptFastCode::~ScriptFastCode() = default;

const FastOp* ScriptFastCode::Translate(uint32_t offset, int32_t depth) {
    const FastOp* region = Translator(*this, offset, depth).Translate();
    regions_[offset] = region;
    return region;
}

} // namespace quarn
