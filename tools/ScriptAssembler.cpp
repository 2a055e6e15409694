#include "tools/ScriptAssembler.h"

#include "core/io/Tokenizer.h"
#include "core/object/ClassInfo.h"
#include "core/object/Property.h"
#include "core/object/ValueType.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"
#include "script/machine/ScriptCommands.h"
#include "script/machine/ScriptValueType.h"
#include "tools/ScriptProgramBuilder.h"
#include "tools/ScriptReferenceNotes.h"
#include "tools/ScriptTypeCheck.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <unordered_map>
#include <vector>

namespace quarn {

namespace {

struct Token {
    std::string text;
    bool quoted = false;
};

// Thrown nowhere: every step returns false and leaves its reason here.
struct Failure {
    std::string reason;
    bool Fail(std::string text) {
        reason = std::move(text);
        return false;
    }
};

// Splits one line into words and quoted texts; a word also ends where a text starts.
bool Tokenize(std::string_view line, std::vector<Token>& tokens, Failure& failure) {
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == ';') {
            break;
        } else if (c == '"') {
            Token token{{}, true};
            for (++i;; ++i) {
                if (i >= line.size()) {
                    return failure.Fail("a text has no closing quote");
                }
                if (line[i] == '"') {
                    ++i;
                    break;
                }
                if (line[i] != '\\') {
                    token.text.push_back(line[i]);
                } else if (i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
                    token.text.push_back(line[++i]);
                } else if (i + 1 < line.size() && (line[i + 1] == 'n' || line[i + 1] == 't')) {
                    // The line break and tab a text plate reads in a scene file's text.
                    token.text.push_back(line[++i] == 'n' ? '\n' : '\t');
                } else if (i + 3 < line.size() && line[i + 1] == 'x' &&
                           HexDigitValue(line[i + 2]) >= 0 && HexDigitValue(line[i + 3]) >= 0) {
                    token.text.push_back(static_cast<char>(HexDigitValue(line[i + 2]) * 16 +
                                                           HexDigitValue(line[i + 3])));
                    i += 3;
                } else {
                    return failure.Fail("a text has an unknown escape \"" +
                                        std::string(line.substr(i, 2)) +
                                        "\": a text takes \\n (a line break), \\t (a tab), "
                                        "\\\", \\\\ and \\xHH (the byte of two hexadecimal "
                                        "digits)");
                }
                // Texts end at a NUL byte in the code and in the symbol file alike: one inside
                // would cut the text there, or shift every record read after it.
                if (token.text.back() == '\0') {
                    return failure.Fail("a text cannot hold a NUL byte");
                }
            }
            tokens.push_back(std::move(token));
        } else {
            const size_t start = i;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
                   line[i] != '"' && line[i] != ';') {
                ++i;
            }
            tokens.push_back({std::string(line.substr(start, i - start)), false});
        }
    }
    return true;
}

// A jump's operand is a label when it starts like a name, not like a number.
bool IsLabelName(const std::string& text) {
    const char start = text.empty() ? '\0' : text[0];
    return (start >= 'a' && start <= 'z') || (start >= 'A' && start <= 'Z') || start == '_';
}

bool ParseInteger(std::string_view text, uint32_t& out) {
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() ||
        value > (negative ? uint64_t{0x80000000} : uint64_t{0xFFFFFFFF})) {
        return false;
    }
    out = negative ? static_cast<uint32_t>(0 - value) : static_cast<uint32_t>(value);
    return true;
}

// An integer, or a float's bits when the text has a '.'.
bool ParseNumber(std::string_view text, uint32_t& out) {
    if (text.find('.') != std::string_view::npos) {
        float value = 0.0f;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size()) {
            return false;
        }
        std::memcpy(&out, &value, sizeof out);
        return true;
    }
    return ParseInteger(text, out);
}

// An "OFFSET:VALUE" pair of the sourcelines and members statements: the offset, and the text
// after the colon.
bool SplitOffsetPair(const Token& token, uint32_t& offset, std::string& value) {
    const size_t colon = token.text.find(':');
    if (token.quoted || colon == std::string::npos ||
        !ParseInteger(std::string_view(token.text).substr(0, colon), offset)) {
        return false;
    }
    value = token.text.substr(colon + 1);
    return true;
}

bool ParseType(const std::string& text, int32_t& type, Failure& failure) {
    uint32_t number = 0;
    if (ParseInteger(text, number)) {
        type = static_cast<int32_t>(number);
        return true;
    }
    if (text == "string64") {
        type = TypeString64Alias;
        return true;
    }
    type = GetTypeByName(text.c_str());
    if (type == TypeVoid && text != "void") {
        return failure.Fail("unknown type \"" + text + "\"");
    }
    return true;
}

// "Class.name" split at its last '.'.
bool SplitMember(const std::string& text, ClassInfo*& owner, std::string& member,
                 Failure& failure) {
    const size_t dot = text.rfind('.');
    if (dot == std::string::npos) {
        return failure.Fail("\"" + text + "\" is not Class.name");
    }
    owner = FindClass(text.substr(0, dot).c_str());
    member = text.substr(dot + 1);
    if (!owner) {
        return failure.Fail("unknown class \"" + text.substr(0, dot) + "\"");
    }
    return true;
}

// The generated name of the method of the class (or a class above it) that the reference
// labels so; empty for none.
std::string MethodOfLabel(const ClassInfo& owner, const std::string& label) {
    for (const ScriptCallNote& note : GetMethodNotes()) {
        const std::string_view key = note.key;
        const size_t dot = key.find('.');
        if (label != note.label || dot == std::string_view::npos) {
            continue;
        }
        const ClassInfo* lister = FindClass(std::string(key.substr(0, dot)).c_str());
        if (lister && owner.IsDerivedFrom(lister)) {
            return std::string(key.substr(dot + 1));
        }
    }
    return "";
}

// A number written with a '.': a float literal.
bool IsFloatLiteral(const Token& token) {
    const char start = token.text.empty() ? '\0' : token.text[0];
    return !token.quoted && token.text.find('.') != std::string::npos &&
           ((start >= '0' && start <= '9') || start == '-' || start == '.');
}

// A name as the loader tells names apart: without case, in its first characters only.
std::string NameKey(const std::string& name) {
    std::string key = name.substr(0, IdentifierNameChars);
    ToLowerAscii(key.data());
    return key;
}

// What a global record declares, for reports.
const char* DeclarationKind(const ScriptIdentifier& record) {
    if (record.IsFunction()) {
        return record.flags & IdentifierInputPort ? "a port function" : "a function";
    }
    if (record.kind != IdentifierPublicVariable) {
        return "a variable";
    }
    return record.type == TypeEntity && CompareNoCase(record.hint.c_str(), "signal") == 0
               ? "an output port"
               : "a public variable";
}

class Assembler {
public:
    explicit Assembler(ScriptProgramBuilder& builder) : builder_(builder) {}

    // One line of the text; its code, if it has some, is recorded as written on that line.
    bool Line(const std::vector<Token>& tokens, int line);
    bool CheckLabels(std::string& error) const;
    // Two locals of one name whose code ranges meet; false with "LINE: reason" for the first.
    bool CheckLocals(const ScriptProgramBuilder& builder, std::string& error) const;
    // Hands the builder the program's source file and lines; false with "LINE: reason" for
    // source lines past the code.
    bool FinishSource(const std::string& defaultName, std::string& error);
    // Hands the builder the member classes a members statement gave, checked against the code;
    // false when none did (the type check then finds them), or with "LINE: reason" in `error`.
    bool FinishMembers(std::string& error);

    Failure failure;
    ScriptCheckHints hints; // the text's own lines, whatever the program keeps

private:
    bool Statement(const std::vector<Token>& tokens, int line);
    bool SourceLines(const std::vector<Token>& tokens, int line);
    bool Members(const std::vector<Token>& tokens, int line);
    bool Value(const Token& token, ProgramValue& value, int line);
    bool Record(const std::vector<Token>& tokens, const std::string& directive, int line);
    // Refuses a global whose name another global has, or a public variable named like a property
    // every Script node has: a scene would hold both values under one name.
    bool Declare(const ScriptIdentifier& record, int line);
    bool Signature(const std::vector<Token>& tokens, size_t& next, ScriptIdentifier& record,
                   bool& hasResult);
    bool Instruction(const std::vector<Token>& tokens, int command, int line);
    bool Operator(const std::vector<Token>& tokens, uint32_t& word);
    void Use(const std::string& label, int line) { uses_.emplace(label, line); }

    ScriptProgramBuilder& builder_;
    std::map<std::string, int> uses_; // label -> the line of its first use
    std::map<std::string, int> placed_;
    struct Declaration {
        std::string name;
        const char* kind;
        int line;
    };
    std::unordered_map<std::string, Declaration> globals_; // by NameKey
    std::vector<int> localLines_;                          // in declaration order
    uint32_t nextLocal_ = 0;
    bool marks_ = false;
    bool table_ = false;
    const ClassInfo* member_ = nullptr; // the class the last prop: or method: value named
    std::string sourceName_;
    std::vector<ScriptSourceLine> sourceLines_; // as sourcelines statements give them
    int sourceLinesLine_ = 0;                   // the last such statement
    std::vector<ScriptMemberClass> members_;    // as members statements give them
    int membersLine_ = 0;                       // the last such statement
};

bool Assembler::Value(const Token& token, ProgramValue& value, int line) {
    const std::string& text = token.text;
    if (token.quoted) {
        return failure.Fail("a number was expected, not a text");
    }
    if (!text.empty() && text[0] == '@') {
        const size_t sign = text.find_first_of("+-", 1);
        int32_t addend = 0;
        if (sign != std::string::npos) {
            uint32_t number = 0;
            if (!ParseInteger(text.substr(sign + 1), number)) {
                return failure.Fail("bad offset in \"" + text + "\"");
            }
            addend = static_cast<int32_t>(text[sign] == '-' ? 0 - number : number);
        }
        value =
            ProgramValue::At(text.substr(1, sign == std::string::npos ? sign : sign - 1), addend);
        Use(value.label, line);
        return true;
    }
    if (text.starts_with("prop:") || text.starts_with("method:")) {
        const bool property = text[0] == 'p';
        ClassInfo* owner = nullptr;
        std::string member;
        if (!SplitMember(text.substr(property ? 5 : 7), owner, member, failure)) {
            return false;
        }
        const int count = property ? owner->GetPropertyCount() : owner->GetMethodCount();
        for (int i = 0; i < count; ++i) {
            const char* name =
                property ? owner->GetProperty(i)->GetName() : owner->GetMethod(i)->GetName();
            if (std::strcmp(name, member.c_str()) == 0) {
                value = ProgramValue::Of(static_cast<uint32_t>(i));
                member_ = owner;
                return true;
            }
        }
        std::string reason = std::string(owner->GetName()) + " has no " +
                             (property ? "property" : "method") + " \"" + member + "\"";
        if (const std::string named = property ? "" : MethodOfLabel(*owner, member);
            !named.empty()) {
            reason +=
                ": the reference's " + member + " is method:" + owner->GetName() + "." + named;
        }
        return failure.Fail(reason);
    }
    if (text.starts_with("hash:")) {
        value = ProgramValue::Of(StringWordSum(text.c_str() + 5));
        return true;
    }
    if (!ParseNumber(text, value.number)) {
        return failure.Fail("\"" + text + "\" is not a number");
    }
    return true;
}

bool Assembler::Signature(const std::vector<Token>& tokens, size_t& next, ScriptIdentifier& record,
                          bool& hasResult) {
    std::string text;
    while (next < tokens.size() && !tokens[next].quoted) {
        text += tokens[next++].text;
        if (text.find(')') != std::string::npos) {
            break;
        }
    }
    if (next < tokens.size() && !tokens[next].quoted && text.back() == ')' &&
        tokens[next].text.starts_with(":")) {
        text += tokens[next++].text;
    }
    const size_t close = text.find(')');
    if (text.empty() || text[0] != '(' || close == std::string::npos) {
        return failure.Fail("a function needs its parameters as (TYPE, ...)");
    }
    record.parameterTypes.clear();
    const std::string inner = text.substr(1, close - 1);
    size_t start = 0;
    while (!inner.empty() && start <= inner.size()) {
        const size_t comma = std::min(inner.find(',', start), inner.size());
        int32_t type = 0;
        if (!ParseType(inner.substr(start, comma - start), type, failure)) {
            return false;
        }
        record.parameterTypes.push_back(type);
        start = comma + 1;
    }
    const std::string rest = text.substr(close + 1);
    hasResult = !rest.empty();
    if (hasResult) {
        if (rest[0] != ':' || !ParseType(rest.substr(1), record.resultType, failure)) {
            return failure.reason.empty() ? failure.Fail("a result is written :TYPE") : false;
        }
    }
    return true;
}

bool Assembler::Record(const std::vector<Token>& tokens, const std::string& directive, int line) {
    if (tokens.size() < 2 || !tokens[1].quoted) {
        return failure.Fail(directive + " needs a quoted name");
    }
    ScriptIdentifier record;
    record.name = tokens[1].text;
    size_t next = 2;
    bool hasResult = false;
    if (directive == "function") {
        record.type = TypeFunction;
    } else {
        if (next >= tokens.size() || !ParseType(tokens[next++].text, record.type, failure)) {
            return failure.reason.empty() ? failure.Fail(directive + " needs a type") : false;
        }
        record.kind = directive == "var" ? IdentifierInstanceVariable : IdentifierLocalVariable;
    }
    if (record.IsFunction() && !Signature(tokens, next, record, hasResult)) {
        return false;
    }
    record.resultFlag = hasResult ? 1 : 0;
    ProgramValue entry;
    ProgramValue first;
    ProgramValue last;
    bool hasEntry = false;
    bool hasOffset = false;
    for (; next < tokens.size(); ++next) {
        const std::string& word = tokens[next].text;
        if (tokens[next].quoted) {
            return failure.Fail("unexpected text \"" + word + "\"");
        }
        if (word == "port" || word == "state" || word == "export") {
            record.flags |= word == "port"    ? IdentifierInputPort
                            : word == "state" ? IdentifierStateFunction
                                              : IdentifierExported;
            continue;
        }
        const size_t equals = word.find('=');
        if (equals == std::string::npos) {
            return failure.Fail("unexpected \"" + word + "\"");
        }
        const std::string key = word.substr(0, equals);
        Token valueToken{word.substr(equals + 1), false};
        if (valueToken.text.empty() && next + 1 < tokens.size() && tokens[next + 1].quoted) {
            valueToken = tokens[++next];
        }
        if (key == "decl" || key == "hint") {
            (key == "decl" ? record.declaration : record.hint) = valueToken.text;
            continue;
        }
        if (key == "elem") {
            if (!ParseType(valueToken.text, record.elementType, failure)) {
                return false;
            }
            continue;
        }
        ProgramValue value;
        if (!Value(valueToken, value, line)) {
            return false;
        }
        if (key == "at") {
            entry = value;
            hasEntry = true;
        } else if (key == "first") {
            first = value;
        } else if (key == "last") {
            last = value;
        } else if (!value.label.empty()) {
            return failure.Fail("only at, first and last take code offsets");
        } else if (key == "offset") {
            record.offset = value.number;
            hasOffset = true;
        } else {
            const std::map<std::string, uint32_t*> fields = {
                {"kind", &record.kind},        {"flags", &record.flags},
                {"count", &record.arrayCount}, {"w0", &record.word0},
                {"w6", &record.word6},         {"w10", &record.word10},
                {"link", &record.storedLink},  {"resultflag", &record.resultFlag}};
            auto field = fields.find(key);
            if (field == fields.end()) {
                return failure.Fail("unknown key \"" + key + "\"");
            }
            *field->second = key == "flags" ? *field->second | value.number : value.number;
        }
    }
    if (!record.IsFunction() && record.type != TypeArray && record.arrayCount != 0) {
        // A count does not make a vector an array: the form that does is the array type.
        const std::string element =
            record.type == TypeString64Alias ? "string64" : GetTypeName(record.type);
        return failure.Fail("\"" + record.name + "\" is no array (its type is " + element +
                            "): write " + directive + " \"" + record.name + "\" array elem=" +
                            element + " count=" + std::to_string(record.arrayCount));
    }
    if (directive == "local") {
        localLines_.push_back(line);
        if (!hasOffset) {
            record.offset = nextLocal_;
        }
        nextLocal_ = record.offset + static_cast<uint32_t>(record.GetWordSize());
        builder_.AddLocal(record, first, last);
    } else if (!Declare(record, line)) {
        return false;
    } else if (record.IsFunction()) {
        if (!hasEntry) {
            return failure.Fail("a function needs at=OFFSET");
        }
        record.firstOffset = first.number;
        record.lastOffset = last.number;
        builder_.AddRecord(record, entry);
    } else if (!first.label.empty() || !last.label.empty()) {
        return failure.Fail("only a local's first and last take code offsets");
    } else {
        record.firstOffset = first.number;
        record.lastOffset = last.number;
        ScriptIdentifier& added = builder_.AddVariable(record.name, record.type, record.kind);
        const uint32_t offset = record.offset;
        added = record;
        if (hasOffset) {
            builder_.SetOffset(added, offset);
        }
    }
    return true;
}

bool Assembler::Declare(const ScriptIdentifier& record, int line) {
    const char* kind = DeclarationKind(record);
    auto [earlier, added] =
        globals_.try_emplace(NameKey(record.name), Declaration{record.name, kind, line});
    if (!added) {
        const Declaration& first = earlier->second;
        if (first.name == record.name) {
            return failure.Fail("\"" + record.name + "\" is declared twice: " + first.kind +
                                " on line " + std::to_string(first.line) + " and " + kind +
                                " on line " + std::to_string(line));
        }
        return failure.Fail("\"" + first.name + "\" (" + first.kind + " on line " +
                            std::to_string(first.line) + ") and \"" + record.name + "\" (" + kind +
                            " on line " + std::to_string(line) +
                            ") are one name: names are told apart without case, by their first " +
                            std::to_string(IdentifierNameChars) + " characters");
    }
    hints.declarationLines.push_back(static_cast<uint32_t>(line));
    const bool isPublic = !record.IsFunction() && record.kind == IdentifierPublicVariable;
    const ClassInfo* script = FindClass("Script");
    const Property* own =
        script && isPublic
            ? script->FindProperty(record.name.substr(0, IdentifierNameChars).c_str())
            : nullptr;
    if (own) {
        return failure.Fail("public variable \"" + record.name +
                            "\" takes the name of the property \"" + own->GetName() +
                            "\" every Script node has");
    }
    if (isPublic && !IsIdentifierText(record.name)) {
        return failure.Fail("public variable \"" + record.name + "\" is " + NoSceneKeyReason);
    }
    return true;
}

bool Assembler::Operator(const std::vector<Token>& tokens, uint32_t& word) {
    if (tokens.size() == 2) {
        ProgramValue value;
        if (!ParseNumber(tokens[1].text, value.number)) {
            return failure.Fail("op takes a number, or a type name and a signature");
        }
        word = value.number;
        return true;
    }
    if (tokens.size() != 3 || !tokens[2].quoted) {
        return failure.Fail("op takes a number, or a type name and a signature");
    }
    const int32_t type = FindValueType(tokens[1].text.c_str());
    const ScriptValueType* valueType = GetScriptValueType(type);
    if (!valueType) {
        return failure.Fail("no value type \"" + tokens[1].text + "\" is registered");
    }
    ScriptOperatorRecord wanted;
    if (!ParseOperatorSignature(tokens[2].text.c_str(), wanted)) {
        return failure.Fail("bad operator signature \"" + tokens[2].text + "\"");
    }
    for (int i = 0; i < valueType->GetOperatorCount(); ++i) {
        const ScriptOperatorRecord* record = valueType->GetOperator(i);
        if (record->name == wanted.name && record->parameterCount == wanted.parameterCount &&
            record->resultType == wanted.resultType &&
            std::equal(wanted.parameterTypes, wanted.parameterTypes + wanted.parameterCount,
                       record->parameterTypes)) {
            word = static_cast<uint32_t>(type) << 16 | static_cast<uint32_t>(i);
            return true;
        }
    }
    return failure.Fail(tokens[1].text + " has no operator \"" + tokens[2].text + "\"");
}

bool Assembler::Instruction(const std::vector<Token>& tokens, int command, int line) {
    const auto code = static_cast<uint32_t>(command);
    if (code == script_command::PushText) {
        if (tokens.size() != 2 || !tokens[1].quoted) {
            return failure.Fail("text takes one quoted text");
        }
        builder_.Text(tokens[1].text);
        return true;
    }
    const int operands = script_command::OperandWords[code];
    if (static_cast<int>(tokens.size()) - 1 != operands &&
        !(code == script_command::Operator && tokens.size() == 3)) {
        return failure.Fail(std::string(tokens[0].text) + " takes " + std::to_string(operands) +
                            " operand" + (operands == 1 ? "" : "s"));
    }
    if (code == script_command::Operator) {
        uint32_t word = 0;
        if (!Operator(tokens, word)) {
            return false;
        }
        builder_.Command(code, {ProgramValue::Of(word)});
        return true;
    }
    if (script_command::IsJump(code) && !tokens[1].quoted && IsLabelName(tokens[1].text)) {
        Use(tokens[1].text, line);
        builder_.Jump(code, tokens[1].text);
        return true;
    }
    std::vector<ProgramValue> values(static_cast<size_t>(operands));
    for (int i = 0; i < operands; ++i) {
        member_ = nullptr;
        if (!Value(tokens[static_cast<size_t>(i) + 1], values[static_cast<size_t>(i)], line)) {
            return false;
        }
        if (member_) {
            hints.memberClasses[builder_.Here() + 1 + static_cast<uint32_t>(i)] = member_;
        }
    }
    const bool floatLiteral = code == script_command::PushInt && IsFloatLiteral(tokens[1]);
    builder_.Command(floatLiteral ? uint32_t{script_command::PushFloat} : code, values);
    return true;
}

bool Assembler::Line(const std::vector<Token>& tokens, int line) {
    const uint32_t start = builder_.Here();
    if (!Statement(tokens, line)) {
        return false;
    }
    if (builder_.Here() > start) {
        hints.lines.push_back({start, static_cast<uint32_t>(line)});
    }
    return true;
}

bool Assembler::SourceLines(const std::vector<Token>& tokens, int line) {
    for (size_t i = 1; i < tokens.size(); ++i) {
        ScriptSourceLine entry;
        std::string value;
        if (!SplitOffsetPair(tokens[i], entry.offset, value) || !ParseInteger(value, entry.line) ||
            entry.line == 0) {
            return failure.Fail("sourcelines takes OFFSET:LINE pairs, lines from 1");
        }
        if (sourceLines_.empty() ? entry.offset != 0 : entry.offset <= sourceLines_.back().offset) {
            return failure.Fail("source lines start at offset 0 and rise");
        }
        sourceLines_.push_back(entry);
    }
    sourceLinesLine_ = line;
    return true;
}

bool Assembler::Members(const std::vector<Token>& tokens, int line) {
    for (size_t i = 1; i < tokens.size(); ++i) {
        ScriptMemberClass entry;
        std::string value;
        if (!SplitOffsetPair(tokens[i], entry.offset, value) ||
            !ParseType(value, entry.classType, failure) || !IsClassType(entry.classType)) {
            return failure.Fail("members takes OFFSET:CLASS pairs");
        }
        if (!members_.empty() && entry.offset <= members_.back().offset) {
            return failure.Fail("member offsets rise");
        }
        members_.push_back(entry);
    }
    membersLine_ = line;
    return true;
}

bool Assembler::FinishMembers(std::string& error) {
    if (membersLine_ == 0) {
        return false;
    }
    if (!members_.empty() && members_.back().offset >= builder_.Here()) {
        error = std::to_string(membersLine_) + ": a member offset lies past the code";
        return true;
    }
    builder_.SetMemberClasses(members_);
    return true;
}

bool Assembler::FinishSource(const std::string& defaultName, std::string& error) {
    const bool given = sourceLinesLine_ != 0;
    if (given && !sourceLines_.empty() && sourceLines_.back().offset >= builder_.Here()) {
        error = std::to_string(sourceLinesLine_) + ": a source line starts past the code";
        return false;
    }
    builder_.SetSource(sourceName_.empty() ? defaultName : sourceName_,
                       given ? sourceLines_ : hints.lines);
    return true;
}

bool Assembler::Statement(const std::vector<Token>& tokens, int line) {
    if (tokens.empty()) {
        return true;
    }
    const std::string& first = tokens[0].text;
    if (tokens[0].quoted) {
        return failure.Fail("a line starts with a directive, a label or a command");
    }
    if (first.size() > 1 && first.back() == ':') {
        const std::string label = first.substr(0, first.size() - 1);
        if (!placed_.emplace(label, line).second || !builder_.PlaceLabel(label)) {
            return failure.Fail("label \"" + label + "\" is placed twice");
        }
        return Statement(std::vector<Token>(tokens.begin() + 1, tokens.end()), line);
    }
    uint32_t number = 0;
    if (first == "word" || ParseNumber(first, number)) {
        for (size_t i = first == "word" ? 1 : 0; i < tokens.size(); ++i) {
            ProgramValue value;
            if (!Value(tokens[i], value, line)) {
                return false;
            }
            builder_.Word(value);
        }
        return true;
    }
    if (first == "header" || first == "stack") {
        const size_t count = first == "header" ? 2 : 1;
        uint32_t words[2] = {};
        if (tokens.size() != count + 1) {
            return failure.Fail(first + " takes " + std::to_string(count) + " number" +
                                (count == 1 ? "" : "s"));
        }
        for (size_t i = 0; i < count; ++i) {
            if (!ParseInteger(tokens[i + 1].text, words[i])) {
                return failure.Fail("\"" + tokens[i + 1].text + "\" is not a number");
            }
        }
        if (first == "header") {
            builder_.SetHeader(words[0], words[1]);
        } else {
            builder_.SetStackSize(words[0]);
        }
        return true;
    }
    if (first == "include") {
        if (tokens.size() != 2 || !tokens[1].quoted) {
            return failure.Fail("include takes one quoted name");
        }
        builder_.AddInclude(tokens[1].text);
        return true;
    }
    if (first == "var" || first == "function" || first == "local") {
        return Record(tokens, first, line);
    }
    if (first == "fixup") {
        ProgramValue word;
        ProgramValue hash;
        bool hasWord = false;
        if (tokens.size() < 3 || !tokens[1].quoted) {
            return failure.Fail("fixup takes a quoted name, word=VALUE and hash=VALUE");
        }
        for (size_t i = 2; i < tokens.size(); ++i) {
            const std::string& text = tokens[i].text;
            const bool isWord = text.starts_with("word=");
            if (!isWord && !text.starts_with("hash=")) {
                return failure.Fail("fixup takes word=VALUE and hash=VALUE");
            }
            if (!Value({text.substr(5), false}, isWord ? word : hash, line)) {
                return false;
            }
            hasWord = hasWord || isWord;
        }
        if (!hasWord) {
            return failure.Fail("fixup needs word=VALUE");
        }
        builder_.AddFixup(tokens[1].text, word, hash);
        return true;
    }
    if (first == "source") {
        if (tokens.size() != 2 || !tokens[1].quoted) {
            return failure.Fail("source takes one quoted name");
        }
        sourceName_ = tokens[1].text;
        return true;
    }
    if (first == "sourcelines") {
        return SourceLines(tokens, line);
    }
    if (first == "members") {
        return Members(tokens, line);
    }
    if (first == "line" || first == "lines") {
        if ((first == "line" ? table_ : marks_) || (first == "line") != (tokens.size() == 1)) {
            return failure.Fail("a program takes line marks or one lines table, not both");
        }
        if (first == "line") {
            marks_ = true;
            builder_.MarkLine();
            return true;
        }
        table_ = true;
        std::vector<uint32_t> entries;
        for (size_t i = 1; i < tokens.size(); ++i) {
            uint32_t entry = 0;
            if (!ParseInteger(tokens[i].text, entry)) {
                return failure.Fail("\"" + tokens[i].text + "\" is not a number");
            }
            entries.push_back(entry);
        }
        builder_.SetLineTable(std::move(entries));
        return true;
    }
    const int command = script_command::FindCommand(first.c_str());
    if (command < 0) {
        return failure.Fail("unknown command \"" + first + "\"");
    }
    return Instruction(tokens, command, line);
}

bool Assembler::CheckLabels(std::string& error) const {
    for (const auto& [label, line] : uses_) {
        if (!placed_.contains(label)) {
            error = std::to_string(line) + ": label \"" + label + "\" is never placed";
            return false;
        }
    }
    return true;
}

bool Assembler::CheckLocals(const ScriptProgramBuilder& builder, std::string& error) const {
    if (localLines_.empty()) {
        return true;
    }
    ScriptCode code;
    ScriptSymbols symbols;
    if (!builder.Finish(code, symbols, error)) {
        return false;
    }
    // Each name's locals by where their code starts: one starting inside the range of one
    // before it shares code with it.
    std::unordered_map<std::string, std::vector<size_t>> byName;
    for (size_t i = 0; i < symbols.locals.size(); ++i) {
        byName[NameKey(symbols.locals[i].name)].push_back(i);
    }
    int clash = 0;
    std::string reason;
    for (auto& [key, indexes] : byName) {
        std::stable_sort(indexes.begin(), indexes.end(), [&](size_t a, size_t b) {
            return symbols.locals[a].firstOffset < symbols.locals[b].firstOffset;
        });
        size_t reaching = indexes[0]; // the one whose range reaches furthest so far
        for (size_t k = 1; k < indexes.size(); ++k) {
            const ScriptIdentifier& local = symbols.locals[indexes[k]];
            const size_t later = std::max(reaching, indexes[k]);
            const size_t earlier = std::min(reaching, indexes[k]);
            if (local.firstOffset <= symbols.locals[reaching].lastOffset &&
                (clash == 0 || localLines_[later] < clash)) {
                clash = localLines_[later];
                reason = "local \"" + symbols.locals[later].name +
                         "\" is declared twice over the same code: on line " +
                         std::to_string(localLines_[earlier]) + " and on line " +
                         std::to_string(clash);
            }
            if (local.lastOffset > symbols.locals[reaching].lastOffset) {
                reaching = indexes[k];
            }
        }
    }
    if (clash != 0) {
        error = std::to_string(clash) + ": " + reason;
        return false;
    }
    return true;
}

} // namespace

bool AssembleScript(std::string_view source, ScriptProgramBuilder& builder, std::string& error,
                    const ScriptAssemblyOptions& options) {
    Assembler assembler(builder);
    int line = 0;
    while (!source.empty()) {
        ++line;
        const size_t end = source.find('\n');
        const std::string_view text = source.substr(0, end);
        source.remove_prefix(end == std::string_view::npos ? source.size() : end + 1);
        std::vector<Token> tokens;
        if (!Tokenize(text, tokens, assembler.failure) || !assembler.Line(tokens, line)) {
            error = std::to_string(line) + ": " + assembler.failure.reason;
            return false;
        }
    }
    if (!assembler.CheckLabels(error) || !assembler.CheckLocals(builder, error) ||
        !assembler.FinishSource(options.sourceName, error)) {
        return false;
    }
    const bool membersGiven = assembler.FinishMembers(error);
    if (!error.empty()) {
        return false;
    }
    if (!options.checkTypes) {
        return true;
    }
    ScriptCode code;
    ScriptSymbols symbols;
    std::vector<ScriptMemberClass> members;
    if (!builder.Finish(code, symbols, error) ||
        !CheckScriptTypes(code, symbols, assembler.hints, error, &members)) {
        return false;
    }
    if (!membersGiven) {
        builder.SetMemberClasses(std::move(members));
    }
    return true;
}

} // namespace quarn
