#pragma once

#include <cstdint>

namespace quarn::script_command {

// The machine's commands by number, as compiled programs hold them.
enum : uint32_t {
    PushInt = 0,
    PushFloat,
    PushText,
    Drop,
    Duplicate,
    ToFloat,
    PushSelf,
    PushParent,
    PushRoot,
    Index,
    ElementAddress,
    LoadVariable,
    StoreVariable,
    LoadExternal,
    StoreExternal,
    LoadLocal,
    StoreLocal,
    GetProperty,
    SetProperty,
    Operator,
    Function,
    LocalCall,
    ExternalCall,
    Method,
    Jump,
    JumpIfTrue,
    JumpIfFalse,
    Goto,
    ExternalGoto,
    Return,
    SleepFrame,
    Sleep,
    End,
    BreakpointCommand,
    Count
};

// Inline operand words after each command word; the text command reads its own.
inline constexpr uint8_t OperandWords[Count] = {
    1, 1, 0, 1, 1, 2, 0, 0, 0, 2, 2, 1, 1, 1, 1, 1, 1,
    0, 1, 1, 1, 1, 4, 2, 1, 1, 1, 2, 2, 2, 0, 0, 0, 0,
};

} // namespace quarn::script_command
