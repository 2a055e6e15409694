#pragma once

#include <cstdint>
#include <cstring>

namespace quarn {

// The machine's commands as the assembler writes them and the disassembler reads them, indexed
// by command number.
struct ScriptCommandInfo {
    const char* mnemonic;
    int operands; // inline words after the command word; the text command's vary
};

inline constexpr ScriptCommandInfo ScriptCommands[] = {
    {"push", 1},      {"pushf", 1},      {"text", 0},       {"drop", 1},      {"dup", 1},
    {"tofloat", 2},   {"self", 0},       {"parent", 0},     {"root", 0},      {"index", 2},
    {"elemaddr", 2},  {"load", 1},       {"store", 1},      {"extload", 1},   {"extstore", 1},
    {"loadlocal", 1}, {"storelocal", 1}, {"getprop", 0},    {"setprop", 1},   {"op", 1},
    {"func", 1},      {"call", 1},       {"extcall", 4},    {"method", 2},    {"jump", 1},
    {"jumpif", 1},    {"jumpifnot", 1},  {"goto", 2},       {"extgoto", 2},   {"return", 2},
    {"sleepframe", 0}, {"sleep", 0},     {"end", 0},        {"breakpoint", 0},
};
inline constexpr uint32_t ScriptCommandCount = sizeof ScriptCommands / sizeof ScriptCommands[0];
inline constexpr uint32_t TextCommand = 2;
inline constexpr uint32_t LocalCallCommand = 21;
inline constexpr uint32_t GotoCommand = 27;

inline bool IsJumpCommand(uint32_t command) {
    return command >= 24 && command <= 26;
}
// Commands whose first operand is a code offset in this program.
inline bool TakesCodeOffset(uint32_t command) {
    return command == LocalCallCommand || command == GotoCommand;
}

// The command of a mnemonic; -1 when none.
inline int FindScriptCommand(const char* mnemonic) {
    for (uint32_t i = 0; i < ScriptCommandCount; ++i) {
        if (std::strcmp(ScriptCommands[i].mnemonic, mnemonic) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace quarn
