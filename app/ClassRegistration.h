#pragma once

namespace quarn {

class OutputStream;

// Registers every scene class in the fixed start-up order and returns how many classes this
// call added (0 on a repeat). The order names every script method and constant (NextShortName),
// so it is part of the interface with compiled scripts: new classes join at their place in the
// list, never elsewhere.
int RegisterAllClasses();

// Every registered class in registration order, one line each, followed by its own properties
// and methods: what compiled scripts see of the classes, as "quarn-tool classes" prints it.
void WriteClassTable(OutputStream& out);

} // namespace quarn
