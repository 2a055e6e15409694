#pragma once

#include "tools/ScriptReferenceNotes.h"

#include <span>
#include <string>
#include <vector>

namespace quarn {

struct ScriptReferenceProblems {
    // Registered names the notes do not describe: the page stands, with their rows bare.
    std::vector<std::string> warnings;
    // Notes that name nothing registered or describe another signature than the registered
    // one (a method registered earlier moves the generated names after it): the page would
    // describe the wrong thing.
    std::vector<std::string> errors;
};

// The script reference as one Markdown page: the run cycle and the assembler's text form, every
// machine command, value type and operator, engine function, script class with its properties,
// methods and constants, and the key codes. Everything the engine registers is read from the
// registry (the classes must be registered in the player's order first); the descriptions come
// from the notes kept beside this generator, the method notes from `methodNotes`.
std::string WriteScriptReference(ScriptReferenceProblems& problems,
                                 std::span<const ScriptCallNote> methodNotes = GetMethodNotes());

} // namespace quarn
