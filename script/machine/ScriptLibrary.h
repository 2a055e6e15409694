#pragma once

#include <string>

namespace quarn {

// The free engine functions of the script language. Compiled scripts call them by their index
// in the registered-function list and link them by their generated short names, so the order
// of registration is part of every compiled script. Registration also installs the hook that
// turns a failed validity check inside a running script into the script's debugging choice.
// The functions are registered once; a later call only installs the hook again.
void RegisterScriptLibrary();
// At scripting shut-down: forgets the current file, closes the files scripts left open and
// removes the validity hook.
void RemoveScriptLibrary();

inline constexpr int ScriptLibraryFunctionCount = 165;
// The index of the first library function in the registered-function list; -1 before
// registration.
int GetScriptLibraryFirstIndex();
// The generated name of the constant registered between functions 101 and 102.
const std::string& GetScriptLibraryConstantName();

// Whether a log line is what a script's Print logged: on the "script" channel, after the
// printing node's id written as a text position, its high and low 16 bits ("0.17: " for node
// 17). Print writes the same text to stdout, so a tool that shows log lines can leave it out.
bool IsScriptPrintLine(const char* channel, const char* text);

} // namespace quarn
