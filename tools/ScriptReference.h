#pragma once

#include <string>
#include <vector>

namespace quarn {

// The script reference as one Markdown page: the run cycle and the assembler's text form, every
// machine command, value type and operator, engine function, script class with its properties,
// methods and constants, and the key codes. Everything the engine registers is read from the
// registry (the classes must be registered in the player's order first); the descriptions come
// from the notes kept beside this generator. `problems` receives one line per registered name
// the notes do not describe and per note that names nothing registered.
std::string WriteScriptReference(std::vector<std::string>& problems);

} // namespace quarn
