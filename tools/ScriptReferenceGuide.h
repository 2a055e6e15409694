#pragma once

namespace quarn {

// The prose of the script reference, in Markdown that also reads as plain text. A "{m:Class.Label}"
// in it stands for the generated name of the method the notes label so, "{f:Label}" for the
// index of the engine function: the generator fills them in from the registry.

// How a Script node runs its program: what the engine calls when, each frame. Also the body of
// "quarn-tool help script".
extern const char* const ScriptRunCycleGuide;
// The assembler's text form, with a worked program.
extern const char* const ScriptAssemblerGuide;
// What every command shares: operands, the stack, the errors all of them can raise.
extern const char* const ScriptCommandsGuide;
// Value types on the stack and how the "op" command names an operator.
extern const char* const ScriptValueTypesGuide;
// How a script finds another node and talks to it.
extern const char* const ScriptOtherNodesGuide;
// How the physics world tells scripts about touching volumes, with a worked example.
extern const char* const ScriptCollisionsGuide;
// How a class's properties and methods are reached from a program.
extern const char* const ScriptClassesGuide;

} // namespace quarn
