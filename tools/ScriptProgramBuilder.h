#pragma once

#include "script/machine/ScriptSymbols.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

// A word the builder knows only once the program is finished: a number, or a label's code
// offset plus an addend.
struct ProgramValue {
    uint32_t number = 0;
    std::string label; // empty for a plain number
    int32_t addend = 0;

    static ProgramValue Of(uint32_t number) { return {number, {}, 0}; }
    static ProgramValue At(std::string label, int32_t addend = 0) {
        return {0, std::move(label), addend};
    }
};

// Builds a compiled program as the loader reads it ("bin" and "sym"), for tests and for the
// assembler's text form; no compiler exists for the script language here. Code is laid down
// word by word; labels may be used before they are placed.
class ScriptProgramBuilder {
public:
    void SetHeader(uint32_t first, uint32_t second);
    void SetStackSize(uint32_t words) { code_.stackSize = words; }

    // Globals in declaration order. A variable takes the next word after the variables before
    // it unless its offset is set with SetOffset.
    ScriptIdentifier& AddVariable(const std::string& name, int32_t type,
                                  uint32_t kind = IdentifierInstanceVariable);
    ScriptIdentifier& AddArray(const std::string& name, int32_t elementType, uint32_t count,
                               uint32_t kind = IdentifierInstanceVariable);
    // A function whose code starts at `entry`; `resultType` < 0 for none.
    ScriptIdentifier& AddFunction(const std::string& name, std::vector<int32_t> parameters,
                                  int32_t resultType, uint32_t flags, ProgramValue entry);
    // A global record exactly as given (its offset is kept), with a function's entry.
    ScriptIdentifier& AddRecord(const ScriptIdentifier& record, ProgramValue entry);
    // Sets a global variable's offset instead of the next free word.
    void SetOffset(ScriptIdentifier& variable, uint32_t offset);
    // A local visible over the code from `first` to `last`.
    ScriptIdentifier& AddLocal(const ScriptIdentifier& record, ProgramValue first,
                               ProgramValue last);
    void AddInclude(const std::string& name);
    // A call word the linker fills with the code offset of `name` in an included program, and
    // a word for that program's name hash (none when `hashWord` is the number 0). The call
    // word is laid down as 0xFFFFFFFF by the code that holds it.
    void AddFixup(const std::string& name, ProgramValue callWord, ProgramValue hashWord);

    // Code -----------------------------------------------------------------------------------
    // False when the label was placed before.
    bool PlaceLabel(const std::string& label);
    uint32_t Here() const { return static_cast<uint32_t>(code_.words.size()); }
    void Word(const ProgramValue& value);
    void Command(uint32_t command, const std::vector<ProgramValue>& operands = {});
    // The text command: the text inline, NUL-terminated, in (length + 4) / 4 words.
    void Text(std::string_view text);
    // A jump command to a label, relative to the word after its operand.
    void Jump(uint32_t command, const std::string& label);
    // Source line marks: the next source line starts here.
    void MarkLine();
    // The line table as it stands, instead of marks.
    void SetLineTable(std::vector<uint32_t> entries);
    // The file the program was written in and the line of each run of its code; written into
    // the symbol file only with a file name.
    void SetSource(std::string file, std::vector<ScriptSourceLine> lines);
    // The class each member id was assembled for, by rising command offset.
    void SetMemberClasses(std::vector<ScriptMemberClass> classes);

    // Resolves labels and offsets; false with a reason (an unplaced label) otherwise.
    bool Finish(ScriptCode& code, ScriptSymbols& symbols, std::string& reason) const;
    // Writes path-without-extension + ".bin" and ".sym", each whole or not at all.
    bool Write(const std::string& basePath, std::string& reason) const;

private:
    struct Reference {
        size_t word;
        ProgramValue value;
        bool relative; // stores target - (word + 1)
    };
    struct Global {
        ScriptIdentifier record;
        ProgramValue entry;
        bool autoOffset = false;
    };
    struct Local {
        ScriptIdentifier record;
        ProgramValue first;
        ProgramValue last;
    };
    struct Fixup {
        std::string name;
        ProgramValue callWord;
        ProgramValue hashWord;
    };

    bool Resolve(const ProgramValue& value, uint32_t& out, std::string& reason) const;

    ScriptCode code_;
    std::vector<Reference> references_;
    std::map<std::string, uint32_t> labels_;
    // Deques: records handed out by reference stay put while more are added.
    std::deque<Global> globals_;
    std::deque<Local> locals_;
    std::vector<std::string> includes_;
    std::vector<Fixup> fixups_;
    std::vector<uint32_t> lines_;
    std::string sourceFile_;
    std::vector<ScriptSourceLine> sourceLines_;
    std::vector<ScriptMemberClass> memberClasses_;
};

} // namespace quarn
