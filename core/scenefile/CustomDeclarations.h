#pragma once

// The "customdeclarations" block of a scene file: the script-declared properties of its custom
// class, one "type name" line each, with an optional range text in angle brackets.

namespace quarn {

class ClassInfo;
class File;
class OutputStream;
class Tokenizer;

// Parses the declaration lines into the class record the slot holds (a null slot receives a new
// record named "custom"). Reads tokens from `tokenizer`, or from a temporary one when it is
// null, and stops at the first token that fits no declaration, leaving it current (the block's
// '}' in a well-formed file).
bool ReadCustomDeclarations(Tokenizer* tokenizer, File& stream, ClassInfo** slot);
// Writes one declaration line per own property of the custom class, in the record's order: the
// lines between "customdeclarations {" and "}".
void WriteCustomDeclarations(OutputStream& stream, const ClassInfo& customClass);

} // namespace quarn
