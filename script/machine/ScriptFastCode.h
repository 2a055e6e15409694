#pragma once

#include "script/machine/ScriptOperators.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace quarn {

class ClassInfo;
class MethodInfo;
class ScriptResource;

// The machine runs a program in a translated form: straight runs of commands ("regions") become
// ops whose operands are decoded ahead, that take local words, constants and int, float and bool
// operators without pushing and popping each word, and that fuse a compare with its conditional
// jump. Words the commands would push only for the next command to consume stay in the
// translator's view; everything else lands where the commands would have put it, so the value
// stack is exactly the commands' own at every region's end and wherever an op hands a command
// back to the machine's plain path (a failed check, an error, anything the ops do not cover).
//
// A region is translated when the machine first enters its offset, for the depth of the value
// stack above the frame base found then; it runs only at that depth. Its first op checks what
// its commands would check of the stacks and the variables; when a check fails, the plain path
// runs its first command.

// The value-stack word an operand names: a frame slot (frame base + value) or a constant.
enum class FastOperand : uint8_t { Slot, Constant };

// Ops that are not typed operators, in op-code order, each with the translated runner's label
// for it: X(op, label). The runner's dispatch table is made from this list. Typed operators
// follow from FirstTypedOp: FirstTypedOp + operator x TypedVariants + variant.
//
// FastEnter: region entry: checks, step count.
// FastMoveSlot: slot dst := slot a.
// FastMoveConstant: slot dst := a.
// FastLoadLocalAt: slot dst := the frame slot named by the int in slot a (checked here).
// FastStoreLocalAt: the frame slot named by the int in slot dst := slot a or constant a.
// FastLoadVariable: slot dst := variable a (a checked on entry).
// FastLoadVariableAt: slot dst := variable at the int in slot a (checked here).
// FastStoreVariable: variable dst := slot a or constant a.
// FastStoreVariableAt: variable at the int in slot dst := slot a or constant a (checked here).
// FastElement: slot dst := base (slot or constant a) + index (slot b) x stride.
// FastTestBranch: jump when (slot a != 0) equals sense.
// FastCall: local call of the code offset a.
// FastReturn: return a locals, b results.
// FastMethod: method a of the entity below b argument words.
// FastFunction: the engine function of the call site, the depth after it b.
// FastExternalCall: function a of the script below b argument words.
// FastCommand: the command at `offset` through the machine's plain path.
// FastPlain: a plain step at `next`, whose command no op can take.
#define QUARN_FAST_OPS(X)                                                                          \
    X(FastEnter, enter)                                                                            \
    X(FastMoveSlot, move_slot)                                                                     \
    X(FastMoveConstant, move_constant)                                                             \
    X(FastLoadLocalAt, load_local_at)                                                              \
    X(FastStoreLocalAt, store_local_at)                                                            \
    X(FastLoadVariable, load_variable)                                                             \
    X(FastLoadVariableAt, load_variable_at)                                                        \
    X(FastStoreVariable, store_variable)                                                           \
    X(FastStoreVariableAt, store_variable_at)                                                      \
    X(FastElement, element)                                                                        \
    X(FastTestBranch, test_branch)                                                                 \
    X(FastJump, jump)                                                                              \
    X(FastCall, call)                                                                              \
    X(FastReturn, return_)                                                                         \
    X(FastMethod, method)                                                                          \
    X(FastFunction, function)                                                                      \
    X(FastExternalCall, external_call)                                                             \
    X(FastCommand, handoff)                                                                        \
    X(FastPlain, plain_step)

enum FastOpCode : uint16_t {
#define QUARN_FAST_OP_CODE(name, label) name,
    QUARN_FAST_OPS(QUARN_FAST_OP_CODE)
#undef QUARN_FAST_OP_CODE
        FirstTypedOp,
};

// Variants of a typed operator: second operand in a slot or constant; as a conditional jump.
enum FastVariant : uint16_t {
    FastSlots = 0,
    FastConstant = 1,
    FastBranchSlots = 2,
    FastBranchConstant = 3,
    TypedVariants = 4,
};

constexpr uint16_t TypedOpCode(ScriptTypedOperator op, FastVariant variant) {
    return static_cast<uint16_t>(FirstTypedOp + static_cast<uint16_t>(op) * TypedVariants +
                                 variant);
}
constexpr uint16_t FastOpCount = TypedOpCode(ScriptTypedOperator::BoolNot, FastBranchConstant) + 1;

// What a call out of the machine keeps at its place in the code. The look-ups it spares are
// redone whenever what they depend on may have changed; the entity a call names is looked up on
// every call.
struct FastCallSite {
    // Engine functions: the record, found when translated (functions are never unregistered).
    // Methods: the record found for entities of `classInfo` while the method tables stood at
    // `generation`.
    const MethodInfo* method = nullptr;
    const ClassInfo* classInfo = nullptr;
    uint64_t generation = 0;
    // External calls: the called program's name hash.
    uint32_t hash = 0;
};

// A word the plain path needs on the value stack before it runs a command of a region.
struct FastMove {
    int32_t slot;
    int32_t source;
    FastOperand operand;
};

struct FastOp {
    uint16_t code = FastCommand;
    uint8_t sense = 0;   // branches: jump when the condition is this
    uint8_t operand = 0; // FastOperand of `a` where it can be either
    int32_t dst = 0;
    int32_t a = 0;
    int32_t b = 0;
    // The command the op stands for (a fused compare and jump: the jump); the region's first
    // command for the entry op.
    uint32_t offset = 0;
    // The offset after that command; the target for jumps.
    uint32_t next = 0;
    // Depth above the frame base before the command; after the jump for jumps. The entry op:
    // the region's depth.
    int32_t depth = 0;
    // Commands of the region before this op's command; the entry op: all of them.
    uint32_t done = 0;
    // The words to put on the value stack before handing the command to the plain path.
    uint32_t firstMove = 0;
    uint32_t moveCount = 0;
    // The entry op: the highest depth reached, the frame base needed under the lowest word read,
    // the variable words read or written.
    int32_t peak = 0;
    int32_t needBase = 0;
    uint32_t needVariables = 0;
    // Element addresses: the array's size (the index bound) and stride.
    uint32_t extent = 0;
    uint32_t stride = 0;
    // Regions found for the jump or call target and, for conditional jumps, for the offset after
    // the jump.
    mutable const FastOp* target = nullptr;
    mutable const FastOp* fallthrough = nullptr;
    // Calls out of the machine.
    FastCallSite* site = nullptr;
};

class ScriptFastCode {
public:
    explicit ScriptFastCode(const ScriptResource& program);
    ~ScriptFastCode();
    ScriptFastCode(const ScriptFastCode&) = delete;
    ScriptFastCode& operator=(const ScriptFastCode&) = delete;

    // The entry op of the region at `offset` for that depth, translated on first use; null
    // outside the code, or when the region there was made for another depth.
    const FastOp* Region(uint32_t offset, int32_t depth) {
        if (offset >= size_) {
            return nullptr;
        }
        const FastOp* region = regions_[offset];
        if (!region) {
            region = Translate(offset, depth);
        }
        return region->depth == depth ? region : nullptr;
    }
    const FastMove* Moves() const { return moves_.data(); }
    uint32_t CodeSize() const { return size_; }
    // How many forms were ever made: a run that sees it unchanged across a call out of the
    // machine knows its ops were not freed, even where a new form took the old one's address.
    static uint64_t MadeCount() { return made_; }

    // The most commands one region takes, so that a region's work stays bounded.
    static constexpr uint32_t MaxRegionCommands = 256;

private:
    class Translator;
    const FastOp* Translate(uint32_t offset, int32_t depth);

    const uint32_t* code_;
    uint32_t size_;
    uint32_t textWord_;
    // Per code offset: its region (entry op), or null until translated.
    std::vector<const FastOp*> regions_;
    std::vector<std::unique_ptr<FastOp[]>> storage_;
    std::vector<FastMove> moves_;
    std::deque<FastCallSite> sites_; // never moves an element: ops point at theirs
    static inline uint64_t made_ = 0;
};

} // namespace quarn
