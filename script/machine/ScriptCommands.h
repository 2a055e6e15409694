#pragma once

#include <cstdint>
#include <cstring>

namespace quarn::script_command {

// The machine's commands, the one list the machine, the assembler, the disassembler, the type
// check and the reference all read: X(name, mnemonic, operand words), in command-number order.
// Operand words are the inline words after the command word; the text command reads its own.
// A command's number is its place here, and compiled programs hold it: moving a line changes
// every stored program.
#define QUARN_SCRIPT_COMMANDS(X)                                                                   \
    X(PushInt, "push", 1)                                                                          \
    X(PushFloat, "pushf", 1)                                                                       \
    X(PushText, "text", 0)                                                                         \
    X(Drop, "drop", 1)                                                                             \
    X(Duplicate, "dup", 1)                                                                         \
    X(ToFloat, "tofloat", 2)                                                                       \
    X(PushSelf, "self", 0)                                                                         \
    X(PushParent, "parent", 0)                                                                     \
    X(PushRoot, "root", 0)                                                                         \
    X(Index, "index", 2)                                                                           \
    X(ElementAddress, "elemaddr", 2)                                                               \
    X(LoadVariable, "load", 1)                                                                     \
    X(StoreVariable, "store", 1)                                                                   \
    X(LoadExternal, "extload", 1)                                                                  \
    X(StoreExternal, "extstore", 1)                                                                \
    X(LoadLocal, "loadlocal", 1)                                                                   \
    X(StoreLocal, "storelocal", 1)                                                                 \
    X(GetProperty, "getprop", 0)                                                                   \
    X(SetProperty, "setprop", 1)                                                                   \
    X(Operator, "op", 1)                                                                           \
    X(Function, "func", 1)                                                                         \
    X(LocalCall, "call", 1)                                                                        \
    X(ExternalCall, "extcall", 4)                                                                  \
    X(Method, "method", 2)                                                                         \
    X(Jump, "jump", 1)                                                                             \
    X(JumpIfTrue, "jumpif", 1)                                                                     \
    X(JumpIfFalse, "jumpifnot", 1)                                                                 \
    X(Goto, "goto", 2)                                                                             \
    X(ExternalGoto, "extgoto", 2)                                                                  \
    X(Return, "return", 2)                                                                         \
    X(SleepFrame, "sleepframe", 0)                                                                 \
    X(Sleep, "sleep", 0)                                                                           \
    X(End, "end", 0)                                                                               \
    X(BreakpointCommand, "breakpoint", 0)

// The machine's commands by number, as compiled programs hold them.
enum : uint32_t {
#define QUARN_COMMAND_NAME(name, mnemonic, operands) name,
    QUARN_SCRIPT_COMMANDS(QUARN_COMMAND_NAME)
#undef QUARN_COMMAND_NAME
        Count
};

inline constexpr uint8_t OperandWords[Count] = {
#define QUARN_COMMAND_OPERANDS(name, mnemonic, operands) operands,
    QUARN_SCRIPT_COMMANDS(QUARN_COMMAND_OPERANDS)
#undef QUARN_COMMAND_OPERANDS
};

// The names the assembler reads and the disassembler writes.
inline constexpr const char* Mnemonics[Count] = {
#define QUARN_COMMAND_MNEMONIC(name, mnemonic, operands) mnemonic,
    QUARN_SCRIPT_COMMANDS(QUARN_COMMAND_MNEMONIC)
#undef QUARN_COMMAND_MNEMONIC
};

// The three jumps, whose operand is a distance from the word after it.
constexpr bool IsJump(uint32_t command) {
    return command == Jump || command == JumpIfTrue || command == JumpIfFalse;
}

// Commands whose first operand is a code offset in this program.
constexpr bool TakesCodeOffset(uint32_t command) {
    return command == LocalCall || command == Goto;
}

// The command of a mnemonic; -1 when none.
inline int FindCommand(const char* mnemonic) {
    for (uint32_t command = 0; command < Count; ++command) {
        if (std::strcmp(Mnemonics[command], mnemonic) == 0) {
            return static_cast<int>(command);
        }
    }
    return -1;
}

} // namespace quarn::script_command
