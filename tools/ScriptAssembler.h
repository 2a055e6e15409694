#pragma once

#include <string>
#include <string_view>

namespace quarn {

class ScriptProgramBuilder;
class ScriptResource;

// The assembler's text form of a compiled program, one statement a line; ';' starts a comment.
// Texts are double-quoted with \" \\ and \xHH escapes; numbers are decimal or 0x hex, negative
// or (with a '.') float; "@label" and "@label+N" are code offsets.
//
//   header W W                  the two words the loader keeps
//   stack N                     stack size in words
//   include "name"              an included program, in link order
//   var "name" TYPE [key=value]... [port] [state] [export]
//   function "name" (TYPE, ...)[:TYPE] at=VALUE [key=value]...
//   local "name" TYPE [key=value]...
//   fixup "name" word=VALUE [hash=VALUE]
//   lines N...                  the line table as it stands (instead of marks)
//   line                        the next source line starts here
//   source "name"               the file the program was written in (else the one assembled)
//   sourcelines OFFSET:LINE...  the program's source lines as they stand (instead of the text's
//                               own lines); several statements add up
//   members OFFSET:CLASS...     the class each getprop, setprop or method command's member id
//                               was assembled for (instead of those the type check finds); an
//                               empty one records none; several statements add up
//   label:                      names the code offset of what follows
//   MNEMONIC OPERAND...         a command; jumps take a label name; a push of a float
//                               ("push 1.5") is written as pushf, the float literal's command
//   word VALUE...               raw code words (also: a line starting with a number)
//
// TYPE is a value type name, a registered class name or a number; "string64" is type 32.
// Record keys: kind, flags, offset, count, elem, first, last, w0, w6, w10, link, decl, hint,
// resultflag (and at for functions). Variables without an offset take the next free word (locals
// among locals). Operands may also be prop:Class.name and method:Class.name (indexes in the
// class's chain) and hash:name (a program's name hash); op takes a number or a value type name
// and a signature text.
//
// How a text is assembled.
struct ScriptAssemblyOptions {
    // The file the text was read from (no folder): kept with the program, with the line each
    // command was written on, so that reports name "game.asm:28". Empty: the program names no
    // source unless a `source` statement does.
    std::string sourceName;
    // Refuse a program whose commands get values of the wrong type (CheckScriptTypes).
    bool checkTypes = false;
};

// Reads `source` into the builder; false with "LINE: reason" for the first error.
bool AssembleScript(std::string_view source, ScriptProgramBuilder& builder, std::string& error,
                    const ScriptAssemblyOptions& options = {});

// The program in that text form, with code offsets, source lines and the names operands stand
// for as comments. Assembling it gives the program's files again, byte for byte.
std::string DisassembleScript(const ScriptResource& program);

} // namespace quarn
