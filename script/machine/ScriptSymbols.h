#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

// The two files a compiled program is shipped as, beside its source: the code file ("bin") and
// the symbol file ("sym"). Every integer is a little-endian uint32; texts end with a NUL.

// Bits of ScriptIdentifier::flags.
enum ScriptIdentifierFlags : uint32_t {
    IdentifierInputPort = 8,
    IdentifierStateFunction = 16,
    IdentifierExported = 64, // other programs may link to it
};

// Values of ScriptIdentifier::kind.
enum ScriptIdentifierKind : uint32_t {
    IdentifierInstanceVariable = 1,
    IdentifierPublicVariable = 2, // a property of the program's class
    IdentifierLocalVariable = 3,
};

// Names are cut to this many characters when read.
inline constexpr size_t IdentifierNameChars = 31;

// Why a public variable's name is refused when a text scene could not read it back as the
// node's property (IsIdentifierText): its value, and the next ones', would be lost.
inline constexpr const char* NoSceneKeyReason =
    "no name a scene can hold (a letter or '_', then letters, digits and '_')";

// One global, function or local of a program. The twelve words are kept as the file has them.
struct ScriptIdentifier {
    std::string name;
    std::string declaration; // may hold "default=" and a default value
    // The text after a public variable's property name: how the editor shows it ("signal": an
    // output port).
    std::string hint;
    uint32_t word0 = 0; // written by the compiler, not interpreted
    int32_t type = 0;
    uint32_t kind = 0;
    uint32_t flags = 0;
    uint32_t arrayCount = 0;
    int32_t elementType = 0;
    uint32_t word6 = 0;  // not interpreted
    uint32_t offset = 0; // a variable's word in the block (a local's in the frame); a function's
                         // first code word
    uint32_t firstOffset = 0; // the code range in which a local is visible
    uint32_t lastOffset = 0;
    uint32_t word10 = 0;     // not interpreted
    uint32_t storedLink = 0; // the link word as stored; the loader sets its own index
    // Functions (type 13) only.
    std::vector<int32_t> parameterTypes;
    uint32_t resultFlag = 0;
    int32_t resultType = 0;

    bool IsFunction() const;
    bool HasResult() const { return resultFlag != 0; }
    // Words the variable takes in the block: element words times count for an array.
    uint64_t GetWordSize() const;
};

struct ScriptFixup {
    std::string name;
    uint32_t wordOffset = 0; // receives the function's code offset
    uint32_t hashOffset = 0; // receives the program's name hash; 0 for none
};

// Where the code from `offset` up to the next entry was written: a line of the source file.
struct ScriptSourceLine {
    uint32_t offset = 0;
    uint32_t line = 0;

    bool operator==(const ScriptSourceLine&) const = default;
};

// The class a command's member id was assembled for: the property of a getprop or setprop, the
// method of a method command. The machine refuses the id on an entity of another class instead
// of reaching that class's own member of the same number.
struct ScriptMemberClass {
    uint32_t offset = 0;   // the command's code offset
    int32_t classType = 0; // ClassTypeBase + the class's number

    bool operator==(const ScriptMemberClass&) const = default;
};

struct ScriptSymbols {
    std::vector<ScriptIdentifier> globals;
    std::vector<ScriptIdentifier> locals;
    std::vector<std::string> includes;
    std::vector<ScriptFixup> fixups;
    // Entry j: the code offset at which source line j + 2 starts.
    std::vector<uint32_t> lines;
    // The text file the program was assembled from (no folder; empty when unknown) and, in
    // code order, the line each run of code came from. The line table above counts the line
    // marks a program was built with; these name the lines of that file exactly. Stored after
    // the line table behind a tag, so files without it read as before and readers that stop at
    // the line table never see it.
    std::string sourceFile;
    std::vector<ScriptSourceLine> sourceLines;
    // By rising offset; stored behind a tag of its own after the source lines, so that older
    // files read as before and older readers never see it.
    std::vector<ScriptMemberClass> memberClasses;
};

struct ScriptCode {
    uint32_t header[2] = {}; // written by the compiler, not interpreted
    uint32_t stackSize = 0;
    std::vector<uint32_t> words;
};

// Stacks of more words than this are refused: the size is taken for both stacks of every
// context that runs the program.
inline constexpr uint32_t MaxScriptStackSize = 1048576;
// A variable block of more words than this is refused: every instance allocates one.
inline constexpr uint64_t MaxScriptVariableWords = 1048576;

// Reads a code file, restoring the scrambled code; bytes after the last whole word are ignored.
// False with a reason for a file shorter than its header or a stack too large.
bool ReadScriptCode(const std::vector<uint8_t>& bytes, ScriptCode& code, std::string& reason);
std::vector<uint8_t> WriteScriptCode(const ScriptCode& code);

// Reads a symbol file for a program of `codeWords` words. Every count and text is checked against
// the bytes left before anything is allocated for it, and every offset against the code and
// the variable block; false with a reason when one fails. Source lines must start at offset 0
// and rise; member classes must rise through the code and name class types; no two public
// variables may share a name (compared without case).
bool ReadScriptSymbols(const std::vector<uint8_t>& bytes, uint32_t codeWords,
                       ScriptSymbols& symbols, std::string& reason);
std::vector<uint8_t> WriteScriptSymbols(const ScriptSymbols& symbols);

} // namespace quarn
