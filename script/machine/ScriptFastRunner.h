#pragma once

namespace quarn {

class ScriptContext;

// Runs a context through the translated form of its programs (ScriptFastCode): what
// ScriptContext::Run answers, with the same stacks, frames, positions, errors and step count at
// every point where the machine can be seen from outside (a call out of it, an error, the end of
// the run). Where no region fits, the plain path steps one command.
class ScriptFastRunner {
public:
    static int Run(ScriptContext& context);
};

} // namespace quarn
