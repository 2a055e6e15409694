#pragma once

#include "script/machine/ScriptSymbols.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quarn {

class ClassInfo;

// What the assembler knew of a program beyond its words.
struct ScriptCheckHints {
    // The class a prop:Class.name or method:Class.name operand named, by the operand's offset.
    std::map<uint32_t, const ClassInfo*> memberClasses;
    // The text line each run of code came from, as ScriptSymbols::sourceLines.
    std::vector<ScriptSourceLine> lines;
    // The text line that declared each global record, in record order.
    std::vector<uint32_t> declarationLines;
};

// Follows the types of the words on the stack through every function of a finished program,
// from its parameters, literals, variables, properties and the signatures of what it calls.
// False with "LINE: reason" (the earliest such line) when a command, operator or call gets a
// value of the wrong type or the wrong number of words. Where paths meet with different types
// the word is no longer known, and what follows a call whose results cannot be told (into
// another program, to a function without a record) is not checked. On success `memberClasses`,
// when given, receives the class that declares the member each getprop, setprop and method
// command was checked against, where every path agreed on one.
bool CheckScriptTypes(const ScriptCode& code, const ScriptSymbols& symbols,
                      const ScriptCheckHints& hints, std::string& error,
                      std::vector<ScriptMemberClass>* memberClasses = nullptr);

} // namespace quarn
