#pragma once

namespace quarn {

// Registers every scene class in the fixed start-up order and returns how many classes this
// call added (0 on a repeat). The order names every script method and constant (NextShortName),
// so it is part of the interface with compiled scripts: new classes join at their place in the
// list, never elsewhere.
int RegisterAllClasses();

} // namespace quarn
