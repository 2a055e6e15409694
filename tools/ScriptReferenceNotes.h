#pragma once

#include <span>

namespace quarn {

// The hand-written half of the script reference: one line on what each registered thing does.
// The registry gives names, numbers and signatures; these notes give the meaning, keyed by what
// compiled programs name things by, so that a test can tell when one side has moved.
struct ScriptNote {
    const char* key;   // a class name
    const char* label; // a readable name for a generated one ("" for none)
    const char* text;  // one line, Markdown
};

// A method or engine function, whose generated name or index moves when one is registered
// before it: the signature it describes is kept with it, and the reference refuses a note whose
// method's signature differs.
struct ScriptCallNote {
    const char* key;       // "Class.method" or a function index
    const char* signature; // as the registry prints it
    const char* label;     // a method's; a function's own comes from the engine (GetLabel)
    const char* text;
};

// A machine command: its operand words and stack picture, written the way the assembler reads
// them, and the runtime errors it can raise besides the ones every command shares.
struct ScriptCommandNote {
    const char* mnemonic;
    const char* operands;
    const char* stack; // "before -> after", the top last
    const char* text;
    const char* errors;
};

std::span<const ScriptNote> GetClassNotes();
std::span<const ScriptCallNote> GetMethodNotes();
std::span<const ScriptCallNote> GetFunctionNotes();
std::span<const ScriptCommandNote> GetCommandNotes();
// What each pad button (0 to 27) is on the pad.
std::span<const char* const> GetPadButtonNotes();

} // namespace quarn
