#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/ValueType.h"
#include "core/string/Text.h"
#include "script/machine/ScriptCommands.h"
#include "script/machine/ScriptResource.h"
#include "script/machine/ScriptValueType.h"
#include "tools/ScriptAssembler.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <vector>

namespace quarn {

namespace {

// A text as the assembler reads it back: quoted, with escapes for quotes, backslashes and
// bytes outside printable ASCII.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            out += StringFormat("\\x%02X", byte);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Number(uint32_t word) {
    return word < 0x10000 ? std::to_string(word) : StringFormat("0x%X", word);
}

// A float literal as the assembler reads it back into the same bits; empty when no text does
// (infinities, NaNs).
std::string FloatText(uint32_t word) {
    float value = 0.0f;
    std::memcpy(&value, &word, sizeof value);
    if (!std::isfinite(value)) {
        return {};
    }
    std::string text = StringFormat("%.9g", static_cast<double>(value));
    if (text.find('.') == std::string::npos) {
        const size_t exponent = std::min(text.find('e'), text.size());
        text.insert(exponent, ".0");
    }
    float back = 0.0f;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), back);
    uint32_t bits = 0;
    std::memcpy(&bits, &back, sizeof bits);
    return error == std::errc() && end == text.data() + text.size() && bits == word ? text
                                                                                     : std::string();
}

// A type by the name that reads back as the same id, else its number.
std::string TypeText(int32_t type) {
    if (type == TypeString64Alias) {
        return "string64";
    }
    const char* name = GetTypeName(type);
    if (type != TypeString64 && std::strcmp(name, "Unknown") != 0 && GetTypeByName(name) == type) {
        return name;
    }
    return Number(static_cast<uint32_t>(type));
}

struct Instruction {
    uint32_t offset;
    uint32_t size; // 1 for a raw word
    bool raw;
};

class Disassembler {
public:
    explicit Disassembler(const ScriptResource& program)
        : program_(program), code_(program.GetCode()), size_(program.GetCodeSize()) {}

    std::string Run();

private:
    void Decode();
    // A code offset as the assembler should write it: a label at an instruction (or the end),
    // else the number. Labels named here are placed when the code is printed.
    std::string Offset(uint32_t offset);
    // The same for a word inside the code: the label of its instruction plus the distance.
    std::string WordOffset(uint32_t offset);
    bool IsBoundary(uint32_t offset) const {
        return boundaries_.contains(offset) || offset == size_;
    }
    std::string Record(const char* directive, const ScriptIdentifier& record, uint32_t defaultKind);
    std::string Comment(const Instruction& instruction);
    bool LinesAsMarks() const;
    // The members statements; an empty one where the program records no class for its member
    // commands, so that assembling the text does not record the classes it checks.
    std::string MemberClasses() const;
    bool TextAt(uint32_t offset, std::string& text, uint32_t& words) const;

    const ScriptResource& program_;
    const uint32_t* code_;
    uint32_t size_;
    std::vector<Instruction> instructions_;
    std::set<uint32_t> boundaries_;
    std::set<uint32_t> labels_;
};

bool Disassembler::TextAt(uint32_t offset, std::string& text, uint32_t& words) const {
    const auto* bytes = reinterpret_cast<const uint8_t*>(code_ + offset);
    const size_t available = size_t{size_ - offset} * 4;
    const void* end = std::memchr(bytes, 0, available);
    if (!end) {
        return false;
    }
    const size_t length = static_cast<const uint8_t*>(end) - bytes;
    words = static_cast<uint32_t>((length + 4) / 4);
    // Only a text padded with zeros assembles back into the same words.
    for (size_t i = length; i < size_t{words} * 4; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    text.assign(reinterpret_cast<const char*>(bytes), length);
    return true;
}

void Disassembler::Decode() {
    for (uint32_t offset = 0; offset < size_;) {
        const uint32_t command = code_[offset];
        uint32_t size = 1;
        bool raw = true;
        if (command < script_command::Count) {
            std::string text;
            uint32_t words = script_command::OperandWords[command];
            if (command == script_command::PushText &&
                !(offset + 1 < size_ && TextAt(offset + 1, text, words))) {
                words = size_;
            }
            if (uint64_t{offset} + 1 + words <= size_) {
                size = 1 + words;
                raw = false;
            }
        }
        instructions_.push_back({offset, size, raw});
        boundaries_.insert(offset);
        offset += size;
    }
}

std::string Disassembler::Offset(uint32_t offset) {
    if (!IsBoundary(offset)) {
        return Number(offset);
    }
    labels_.insert(offset);
    return StringFormat("@L%u", offset);
}

std::string Disassembler::WordOffset(uint32_t offset) {
    auto start = boundaries_.upper_bound(offset);
    if (offset >= size_ || start == boundaries_.begin()) {
        return Number(offset);
    }
    --start;
    labels_.insert(*start);
    const uint32_t distance = offset - *start;
    return distance != 0 ? StringFormat("@L%u+%u", *start, distance) : StringFormat("@L%u", *start);
}

std::string Disassembler::Record(const char* directive, const ScriptIdentifier& record,
                                 uint32_t defaultKind) {
    std::string line = std::string(directive) + " " + Quoted(record.name);
    if (std::strcmp(directive, "function") != 0) {
        line += " " + TypeText(record.type);
    }
    if (record.IsFunction()) {
        line += " (";
        for (size_t i = 0; i < record.parameterTypes.size(); ++i) {
            if (i != 0) {
                line += ",";
            }
            line += TypeText(record.parameterTypes[i]);
        }
        line += ")";
        if (record.HasResult()) {
            line += ":" + TypeText(record.resultType);
        }
        if (record.resultFlag > 1) {
            line += " resultflag=" + Number(record.resultFlag);
        }
    }
    const bool isLocal = defaultKind == IdentifierLocalVariable;
    if (record.IsFunction() && !isLocal) {
        line += " at=" + Offset(record.offset);
    } else {
        line += " offset=" + Number(record.offset);
    }
    if (record.kind != defaultKind) {
        line += " kind=" + Number(record.kind);
    }
    const uint32_t named = IdentifierInputPort | IdentifierStateFunction | IdentifierExported;
    if (record.flags & ~named) {
        line += " flags=" + Number(record.flags & ~named);
    }
    for (auto [bit, word] :
         {std::pair{IdentifierInputPort, "port"}, std::pair{IdentifierStateFunction, "state"},
          std::pair{IdentifierExported, "export"}}) {
        if (record.flags & bit) {
            line += std::string(" ") + word;
        }
    }
    if (record.arrayCount != 0 || record.type == TypeArray) {
        line += " count=" + Number(record.arrayCount);
    }
    if (record.elementType != 0) {
        line += " elem=" + TypeText(record.elementType);
    }
    if (record.firstOffset != 0 || record.lastOffset != 0) {
        line += " first=" + (isLocal ? Offset(record.firstOffset) : Number(record.firstOffset));
        line += " last=" + (isLocal ? Offset(record.lastOffset) : Number(record.lastOffset));
    }
    for (auto [value, key] :
         {std::pair{record.word0, "w0"}, std::pair{record.word6, "w6"},
          std::pair{record.word10, "w10"}, std::pair{record.storedLink, "link"}}) {
        if (value != 0) {
            line += std::string(" ") + key + "=" + Number(value);
        }
    }
    if (!record.declaration.empty()) {
        line += " decl=" + Quoted(record.declaration);
    }
    if (!record.hint.empty()) {
        line += " hint=" + Quoted(record.hint);
    }
    return line + "\n";
}

bool Disassembler::LinesAsMarks() const {
    uint32_t previous = 0;
    for (uint32_t entry : program_.GetSymbols().lines) {
        if (entry < previous || !IsBoundary(entry)) {
            return false;
        }
        previous = entry;
    }
    return true;
}

std::string Disassembler::MemberClasses() const {
    const std::vector<ScriptMemberClass>& classes = program_.GetSymbols().memberClasses;
    if (classes.empty()) {
        const bool members = std::any_of(
            instructions_.begin(), instructions_.end(), [this](const Instruction& instruction) {
                const uint32_t command = code_[instruction.offset];
                return !instruction.raw && (command == script_command::GetProperty ||
                                            command == script_command::SetProperty ||
                                            command == script_command::Method);
            });
        return members ? "members\n" : "";
    }
    std::string out;
    for (size_t i = 0; i < classes.size(); ++i) {
        out += StringFormat(i % 8 == 0 ? "members %u:%s" : " %u:%s", classes[i].offset,
                            TypeText(classes[i].classType).c_str());
        if (i % 8 == 7 || i + 1 == classes.size()) {
            out += "\n";
        }
    }
    return out;
}

std::string Disassembler::Comment(const Instruction& instruction) {
    const uint32_t offset = instruction.offset;
    std::string comment = StringFormat("; %u", offset);
    if (program_.HasLineTable()) {
        comment += StringFormat(" line %d", program_.GetLineOfOffset(offset));
    }
    if (program_.HasSourceLines()) {
        comment.append(" ").append(program_.DescribeOffset(offset));
    }
    if (instruction.raw) {
        return comment;
    }
    const uint32_t command = code_[offset];
    const uint32_t operand = instruction.size > 1 ? code_[offset + 1] : 0;
    const auto& globals = program_.GetSymbols().globals;
    if (script_command::TakesCodeOffset(command)) {
        const int function = program_.FindIdentifierByTypeAndOffset(TypeFunction, operand);
        if (function >= 0) {
            comment += " " + globals[static_cast<size_t>(function)].name;
        }
    } else if (command == script_command::Function) {
        if (const MethodInfo* function = GetRegisteredFunction(static_cast<int>(operand))) {
            comment += std::string(" ") + function->GetName();
        }
    } else if (command == script_command::Operator) {
        const ScriptValueType* type = GetScriptValueType(static_cast<int32_t>(operand >> 16));
        const ScriptOperatorRecord* record = type ? type->GetOperator(operand & 0xFFFF) : nullptr;
        if (record) {
            comment += std::string(" ") + type->GetName() + " " + record->name;
        }
    } else if (command == script_command::PushFloat && FloatText(operand).empty()) {
        float value = 0.0f;
        std::memcpy(&value, &operand, sizeof value);
        comment += StringFormat(" %g", static_cast<double>(value));
    }
    for (const ScriptFixup& fixup : program_.GetSymbols().fixups) {
        if (fixup.wordOffset > offset && fixup.wordOffset < offset + instruction.size) {
            comment += " " + fixup.name;
        }
    }
    return comment;
}

std::string Disassembler::Run() {
    Decode();
    const ScriptSymbols& symbols = program_.GetSymbols();
    // Records first, as they name the labels the code then places.
    std::string records;
    for (const ScriptIdentifier& record : symbols.globals) {
        records += Record(record.IsFunction() ? "function" : "var", record,
                          record.IsFunction() ? 0u : uint32_t{IdentifierInstanceVariable});
    }
    for (const ScriptIdentifier& record : symbols.locals) {
        records += Record("local", record, IdentifierLocalVariable);
    }
    for (const ScriptFixup& fixup : symbols.fixups) {
        records += "fixup " + Quoted(fixup.name) + " word=" + WordOffset(fixup.wordOffset) +
                   " hash=" + (fixup.hashOffset ? WordOffset(fixup.hashOffset) : "0") + "\n";
    }
    std::vector<std::string> lines(instructions_.size());
    for (size_t i = 0; i < instructions_.size(); ++i) {
        const Instruction& instruction = instructions_[i];
        const uint32_t offset = instruction.offset;
        const uint32_t command = code_[offset];
        std::string text;
        if (instruction.raw) {
            text = "word " + Number(command);
        } else if (command == script_command::PushText) {
            std::string literal;
            uint32_t words = 0;
            TextAt(offset + 1, literal, words);
            text = "text " + Quoted(literal);
        } else {
            text = script_command::Mnemonics[command];
            for (uint32_t k = 1; k < instruction.size; ++k) {
                const uint32_t word = code_[offset + k];
                if (script_command::IsJump(command) && IsBoundary(offset + 2 + word)) {
                    labels_.insert(offset + 2 + word);
                    text += StringFormat(" L%u", offset + 2 + word);
                } else if (k == 1 && script_command::TakesCodeOffset(command)) {
                    text += " " + Offset(word);
                } else if (command == script_command::PushFloat && !FloatText(word).empty()) {
                    text += " " + FloatText(word);
                } else {
                    text += " " + Number(word);
                }
            }
        }
        lines[i] = text;
    }
    std::string out =
        "; " + program_.GetScriptName() + ": " + std::to_string(size_) + " words of code\n";
    out += "header " + Number(program_.GetCodeHeader()[0]) + " " +
           Number(program_.GetCodeHeader()[1]) + "\n";
    out += StringFormat("stack %u\n", program_.GetStackSize());
    for (const std::string& include : symbols.includes) {
        out += "include " + Quoted(include) + "\n";
    }
    out += records;
    if (!symbols.sourceFile.empty()) {
        out += "source " + Quoted(symbols.sourceFile) + "\n";
        if (symbols.sourceLines.empty()) {
            out += "sourcelines\n";
        }
        for (size_t i = 0; i < symbols.sourceLines.size(); ++i) {
            out += StringFormat(i % 8 == 0 ? "sourcelines %u:%u" : " %u:%u",
                                symbols.sourceLines[i].offset, symbols.sourceLines[i].line);
            if (i % 8 == 7 || i + 1 == symbols.sourceLines.size()) {
                out += "\n";
            }
        }
    }
    out += MemberClasses();
    const bool marks = LinesAsMarks();
    if (!marks) {
        out += "lines";
        for (uint32_t entry : symbols.lines) {
            out += StringFormat(" %u", entry);
        }
        out += "\n";
    }
    size_t nextLine = 0;
    auto placeMarks = [&](uint32_t offset) {
        while (marks && nextLine < symbols.lines.size() && symbols.lines[nextLine] == offset) {
            out += "    line\n";
            ++nextLine;
        }
    };
    for (size_t i = 0; i < instructions_.size(); ++i) {
        const uint32_t offset = instructions_[i].offset;
        placeMarks(offset);
        if (labels_.contains(offset)) {
            out += StringFormat("L%u:\n", offset);
        }
        std::string line = "    " + lines[i];
        line.resize(std::max<size_t>(line.size() + 1, 36), ' ');
        out += line + Comment(instructions_[i]) + "\n";
    }
    placeMarks(size_);
    if (labels_.contains(size_)) {
        out += StringFormat("L%u:\n", size_);
    }
    return out;
}

} // namespace

std::string DisassembleScript(const ScriptResource& program) {
    return Disassembler(program).Run();
}

} // namespace quarn
