#include "script/machine/ScriptSymbols.h"

#include "core/io/ByteOrder.h"
#include "core/io/Scrambler.h"
#include "core/io/Tokenizer.h"
#include "core/object/ValueType.h"
#include "core/string/Text.h"

#include <cstring>
#include <string_view>
#include <unordered_map>

namespace quarn {

namespace {

constexpr size_t CodeHeaderBytes = 12;
constexpr uint32_t MaxParameters = 16;
// The least a global or local record takes: three empty texts and twelve words.
constexpr size_t MinIdentifierBytes = 3 + 48;
// The least a fixup takes: an empty name and two words.
constexpr size_t MinFixupBytes = 1 + 8;
// "SRCL": the source lines follow the line table. Bytes there without it are ignored, as
// readers always ignored them.
constexpr uint32_t SourceLinesTag = 0x4C435253;
// "MBRC": the member classes, after the source lines when the file has them.
constexpr uint32_t MemberClassesTag = 0x4352424D;

// Reads the symbol file front to back; the first failure keeps its reason and stops everything.
class SymbolReader {
public:
    explicit SymbolReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    bool Failed() const { return !reason_.empty(); }
    const std::string& Reason() const { return reason_; }
    void Fail(const std::string& reason) {
        if (reason_.empty()) {
            reason_ = reason;
        }
    }

    uint32_t Word() {
        if (Failed() || Left() < 4) {
            Fail("the file ends inside a record");
            return 0;
        }
        const uint32_t word = ReadLittleEndian32(bytes_.data() + position_);
        position_ += 4;
        return word;
    }
    // A count of items of at least `itemBytes` each, which the rest of the file must hold.
    uint32_t Count(size_t itemBytes) {
        const uint32_t count = Word();
        if (!Failed() && count > Left() / itemBytes) {
            Fail("a count is larger than the rest of the file holds");
            return 0;
        }
        return count;
    }
    std::string Text(size_t maxChars = std::string::npos) {
        if (Failed()) {
            return {};
        }
        const uint8_t* start = bytes_.data() + position_;
        const void* end = std::memchr(start, 0, Left());
        if (!end) {
            Fail("a text runs past the end of the file");
            return {};
        }
        const size_t length = static_cast<const uint8_t*>(end) - start;
        position_ += length + 1;
        return std::string(reinterpret_cast<const char*>(start), std::min(length, maxChars));
    }

    bool ReadIdentifier(ScriptIdentifier& record) {
        record.name = Text(IdentifierNameChars);
        record.declaration = Text();
        record.hint = Text();
        record.word0 = Word();
        record.type = static_cast<int32_t>(Word());
        record.kind = Word();
        record.flags = Word();
        record.arrayCount = Word();
        record.elementType = static_cast<int32_t>(Word());
        record.word6 = Word();
        record.offset = Word();
        record.firstOffset = Word();
        record.lastOffset = Word();
        record.word10 = Word();
        record.storedLink = Word();
        if (!Failed() && record.IsFunction()) {
            const uint32_t count = Count(4);
            if (count > MaxParameters) {
                Fail("a function has more than 16 parameters");
                return false;
            }
            record.parameterTypes.resize(count);
            for (int32_t& type : record.parameterTypes) {
                type = static_cast<int32_t>(Word());
            }
            record.resultFlag = Word();
            if (record.resultFlag != 0) {
                record.resultType = static_cast<int32_t>(Word());
            }
        }
        return !Failed();
    }

    size_t Left() const { return bytes_.size() - position_; }
    // Reads a section's tag when the next word is that tag.
    bool Tag(uint32_t tag) {
        if (Failed() || Left() < 4 || ReadLittleEndian32(bytes_.data() + position_) != tag) {
            return false;
        }
        position_ += 4;
        return true;
    }

private:
    const std::vector<uint8_t>& bytes_;
    size_t position_ = 0;
    std::string reason_;
};

class SymbolWriter {
public:
    void Word(uint32_t word) {
        uint8_t bytes[4];
        WriteLittleEndian32(bytes, word);
        out_.insert(out_.end(), bytes, bytes + 4);
    }
    void Text(std::string_view text) {
        out_.insert(out_.end(), text.begin(), text.end());
        out_.push_back(0);
    }
    void Identifier(const ScriptIdentifier& record) {
        Text(record.name);
        Text(record.declaration);
        Text(record.hint);
        for (uint32_t word :
             {record.word0, static_cast<uint32_t>(record.type), record.kind, record.flags,
              record.arrayCount, static_cast<uint32_t>(record.elementType), record.word6,
              record.offset, record.firstOffset, record.lastOffset, record.word10,
              record.storedLink}) {
            Word(word);
        }
        if (record.IsFunction()) {
            Word(static_cast<uint32_t>(record.parameterTypes.size()));
            for (int32_t type : record.parameterTypes) {
                Word(static_cast<uint32_t>(type));
            }
            Word(record.resultFlag);
            if (record.resultFlag != 0) {
                Word(static_cast<uint32_t>(record.resultType));
            }
        }
    }
    std::vector<uint8_t> Take() { return std::move(out_); }

private:
    std::vector<uint8_t> out_;
};

// The offsets the linker and the machine will use, against the code and the variable block.
bool CheckOffsets(const ScriptSymbols& symbols, uint32_t codeWords, SymbolReader& reader) {
    uint64_t variableWords = 0;
    for (const ScriptIdentifier& record : symbols.globals) {
        if (!record.IsFunction()) {
            variableWords += record.GetWordSize();
        }
    }
    if (variableWords > MaxScriptVariableWords) {
        reader.Fail("the variables take more than 1048576 words");
        return false;
    }
    for (const ScriptIdentifier& record : symbols.globals) {
        if (record.IsFunction() && record.offset >= codeWords) {
            reader.Fail("a function starts outside the code");
        } else if (!record.IsFunction() && record.offset + record.GetWordSize() > variableWords) {
            reader.Fail("a variable lies outside the variable block");
        }
    }
    for (const ScriptFixup& fixup : symbols.fixups) {
        if (fixup.wordOffset >= codeWords ||
            (fixup.hashOffset != 0 && fixup.hashOffset >= codeWords)) {
            reader.Fail("a fixup's word lies outside the code");
        }
    }
    return !reader.Failed();
}

// Public variables are the properties of the program's class, which scenes hold by name without
// case: two of one name would be saved twice and read back into the first, and a name a text
// scene cannot read back loses its value.
void CheckPublicNames(const ScriptSymbols& symbols, SymbolReader& reader) {
    std::unordered_map<std::string, size_t> seen;
    for (size_t i = 0; i < symbols.globals.size() && !reader.Failed(); ++i) {
        const ScriptIdentifier& record = symbols.globals[i];
        if (record.IsFunction() || record.kind != IdentifierPublicVariable) {
            continue;
        }
        if (!IsIdentifierText(record.name)) {
            reader.Fail("the public variable \"" + record.name + "\" (global " +
                        std::to_string(i + 1) + ") is " + NoSceneKeyReason);
            return;
        }
        std::string key = record.name;
        ToLowerAscii(key.data());
        auto [first, added] = seen.emplace(std::move(key), i);
        if (!added) {
            reader.Fail("two public variables are named \"" + record.name + "\" (globals " +
                        std::to_string(first->second + 1) + " and " + std::to_string(i + 1) + ")");
        }
    }
}

void ReadSourceLines(SymbolReader& reader, uint32_t codeWords, ScriptSymbols& symbols) {
    if (!reader.Tag(SourceLinesTag)) {
        return;
    }
    symbols.sourceFile = reader.Text();
    symbols.sourceLines.resize(reader.Count(8));
    for (size_t i = 0; i < symbols.sourceLines.size() && !reader.Failed(); ++i) {
        ScriptSourceLine& entry = symbols.sourceLines[i];
        entry.offset = reader.Word();
        entry.line = reader.Word();
        const uint32_t previous = i == 0 ? 0 : symbols.sourceLines[i - 1].offset;
        if (entry.offset >= codeWords || (i == 0 ? entry.offset != 0 : entry.offset <= previous)) {
            reader.Fail("the source lines do not start at 0 and rise through the code");
        }
    }
}

void ReadMemberClasses(SymbolReader& reader, uint32_t codeWords, ScriptSymbols& symbols) {
    if (!reader.Tag(MemberClassesTag)) {
        return;
    }
    symbols.memberClasses.resize(reader.Count(8));
    for (size_t i = 0; i < symbols.memberClasses.size() && !reader.Failed(); ++i) {
        ScriptMemberClass& entry = symbols.memberClasses[i];
        entry.offset = reader.Word();
        entry.classType = static_cast<int32_t>(reader.Word());
        if (entry.offset >= codeWords ||
            (i != 0 && entry.offset <= symbols.memberClasses[i - 1].offset)) {
            reader.Fail("the member classes do not rise through the code");
        } else if (!IsClassType(entry.classType)) {
            reader.Fail("a member class is no class type");
        }
    }
}

} // namespace

bool ScriptIdentifier::IsFunction() const {
    return type == TypeFunction;
}

uint64_t ScriptIdentifier::GetWordSize() const {
    if (type == TypeArray) {
        return uint64_t{static_cast<uint32_t>(GetTypeWordCount(elementType))} * arrayCount;
    }
    return static_cast<uint32_t>(GetTypeWordCount(type));
}

bool ReadScriptCode(const std::vector<uint8_t>& bytes, ScriptCode& code, std::string& reason) {
    if (bytes.size() < CodeHeaderBytes) {
        reason = "the code file is shorter than its 12-byte header";
        return false;
    }
    const uint32_t stackSize = ReadLittleEndian32(bytes.data() + 8);
    if (stackSize > MaxScriptStackSize) {
        reason = "the stack size is above 1048576 words";
        return false;
    }
    code.header[0] = ReadLittleEndian32(bytes.data());
    code.header[1] = ReadLittleEndian32(bytes.data() + 4);
    code.stackSize = stackSize;
    const size_t wordCount = (bytes.size() - CodeHeaderBytes) / 4;
    code.words.assign(wordCount, 0);
    Scrambler scrambler;
    for (size_t word = 0; word < wordCount; ++word) {
        uint32_t plain = 0;
        for (size_t byte = 0; byte < 4; ++byte) {
            const uint8_t stored = bytes[CodeHeaderBytes + word * 4 + byte];
            plain |= uint32_t{scrambler.Unscramble(stored)} << (8 * byte);
        }
        code.words[word] = plain;
    }
    return true;
}

std::vector<uint8_t> WriteScriptCode(const ScriptCode& code) {
    std::vector<uint8_t> bytes(CodeHeaderBytes + code.words.size() * 4);
    WriteLittleEndian32(bytes.data(), code.header[0]);
    WriteLittleEndian32(bytes.data() + 4, code.header[1]);
    WriteLittleEndian32(bytes.data() + 8, code.stackSize);
    Scrambler scrambler;
    for (size_t word = 0; word < code.words.size(); ++word) {
        for (size_t byte = 0; byte < 4; ++byte) {
            const auto plain = static_cast<uint8_t>(code.words[word] >> (8 * byte));
            bytes[CodeHeaderBytes + word * 4 + byte] = scrambler.Scramble(plain);
        }
    }
    return bytes;
}

bool ReadScriptSymbols(const std::vector<uint8_t>& bytes, uint32_t codeWords,
                       ScriptSymbols& symbols, std::string& reason) {
    SymbolReader reader(bytes);
    ScriptSymbols read;
    for (std::vector<ScriptIdentifier>* list : {&read.globals, &read.locals}) {
        list->resize(reader.Count(MinIdentifierBytes));
        for (ScriptIdentifier& record : *list) {
            if (!reader.ReadIdentifier(record)) {
                break;
            }
        }
    }
    read.includes.resize(reader.Count(1));
    for (std::string& name : read.includes) {
        name = reader.Text(IdentifierNameChars);
    }
    read.fixups.resize(reader.Count(MinFixupBytes));
    for (ScriptFixup& fixup : read.fixups) {
        fixup.name = reader.Text(IdentifierNameChars);
        fixup.wordOffset = reader.Word();
        fixup.hashOffset = reader.Word();
    }
    read.lines.resize(reader.Count(4));
    for (uint32_t& entry : read.lines) {
        entry = reader.Word();
    }
    ReadSourceLines(reader, codeWords, read);
    ReadMemberClasses(reader, codeWords, read);
    if (!reader.Failed()) {
        CheckPublicNames(read, reader);
    }
    if (reader.Failed() || !CheckOffsets(read, codeWords, reader)) {
        reason = reader.Reason();
        return false;
    }
    symbols = std::move(read);
    return true;
}

std::vector<uint8_t> WriteScriptSymbols(const ScriptSymbols& symbols) {
    SymbolWriter writer;
    for (const std::vector<ScriptIdentifier>* list : {&symbols.globals, &symbols.locals}) {
        writer.Word(static_cast<uint32_t>(list->size()));
        for (const ScriptIdentifier& record : *list) {
            writer.Identifier(record);
        }
    }
    writer.Word(static_cast<uint32_t>(symbols.includes.size()));
    for (const std::string& name : symbols.includes) {
        writer.Text(name);
    }
    writer.Word(static_cast<uint32_t>(symbols.fixups.size()));
    for (const ScriptFixup& fixup : symbols.fixups) {
        writer.Text(fixup.name);
        writer.Word(fixup.wordOffset);
        writer.Word(fixup.hashOffset);
    }
    writer.Word(static_cast<uint32_t>(symbols.lines.size()));
    for (uint32_t entry : symbols.lines) {
        writer.Word(entry);
    }
    if (!symbols.sourceFile.empty()) {
        writer.Word(SourceLinesTag);
        writer.Text(symbols.sourceFile);
        writer.Word(static_cast<uint32_t>(symbols.sourceLines.size()));
        for (const ScriptSourceLine& entry : symbols.sourceLines) {
            writer.Word(entry.offset);
            writer.Word(entry.line);
        }
    }
    if (!symbols.memberClasses.empty()) {
        writer.Word(MemberClassesTag);
        writer.Word(static_cast<uint32_t>(symbols.memberClasses.size()));
        for (const ScriptMemberClass& entry : symbols.memberClasses) {
            writer.Word(entry.offset);
            writer.Word(static_cast<uint32_t>(entry.classType));
        }
    }
    return writer.Take();
}

} // namespace quarn
