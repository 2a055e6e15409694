#include "core/scenefile/SceneTextFormat.h"

#include "core/debug/Log.h"
#include "core/io/File.h"
#include "core/io/OutputStream.h"
#include "core/io/Tokenizer.h"
#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "core/object/EntityRef.h"
#include "core/object/IdPath.h"
#include "core/object/Property.h"
#include "core/object/ValueType.h"
#include "core/scene/HeldSceneLines.h"
#include "core/scenefile/CustomDeclarations.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"

#include <cstring>
#include <string_view>
#include <utility>

namespace quarn {

namespace {

constexpr const char* EndOfFileError = "Error loading scene: unexpected end of file";

void WriteText(OutputStream& stream, std::string_view text) {
    stream.Write(text.data(), static_cast<uint32_t>(text.size()));
}

// The header's numbers are the leading digits of their token; a sign is a token of its own.
int32_t LeadingNumber(const std::string& text) {
    return !text.empty() && IsDigit(text[0]) ? ParseInt32(text.c_str()) : 0;
}

// The format has no escapes: a quoted value ends at the first line whose last byte is a double
// quote, carriage returns before a line feed are dropped, and a bare value ends at its line.
bool ReadsBackWhole(std::string_view text, bool quoted) {
    if (!quoted) {
        return text.find_first_of("\n\r") == std::string_view::npos &&
               (text.empty() || text[0] != '"');
    }
    for (size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', at + 1)) {
        if (at > 0 && (text[at - 1] == '"' || text[at - 1] == '\r')) {
            return false;
        }
    }
    return true;
}

// Whether the value's text, as a load reads it, gives the property's default. Parsed only for a
// property with a default: a text's parse would take room in the text arena.
bool ReadsBackAsDefault(const Property& property, const std::string& text) {
    if ((property.GetStateFlags() & PropertyHasDefault) == 0) {
        return false;
    }
    PropertyValue value;
    property.Parse(text.c_str(), value.words);
    return property.IsDefaultValue(value.words);
}

// A line without the carriage returns before its line feed, however many: a value keeping all
// but one would lose one more at each save and load.
void ReadSceneLine(File& stream, std::string& line) {
    stream.ReadLineString(line);
    while (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
}

} // namespace

// Writer ------------------------------------------------------------------------------------

bool SceneTextWriter::Begin(OutputStream& stream, const char* fileName, uint32_t flags) {
    stream_ = &stream;
    fileName_ = fileName ? fileName : "";
    flags_ = flags;
    error_.clear();
    return true;
}

bool SceneTextWriter::Finish() {
    return error_.empty();
}

void SceneTextWriter::WriteHeader(const SceneHeader& header) {
    idSystem_ = header.idSystem;
    stream_->Printf("version = %d\n", header.version);
    if (!header.globalId.IsZero()) {
        stream_->Printf("globalid = %s\n", header.globalId.ToHex().c_str());
    }
    stream_->Printf("idsystem = %d\n", header.idSystem);
    if (header.includeBranches) {
        stream_->PutString("include_branches\n");
    }
    stream_->Printf("num_nodes = %d\n", header.nodeCount);
    if (header.customClass && !header.customClass->GetOwnProperties().empty()) {
        stream_->PutString("customdeclarations {\n");
        WriteCustomDeclarations(*stream_, *header.customClass);
        stream_->PutString("}\n");
    }
}

void SceneTextWriter::BeginObject(Entity&, const char* idText, const char* className) {
    stream_->PutString("obj");
    stream_->PutString(idText);
    stream_->PutString(" {\n\tclass = \"");
    stream_->PutString(className);
    stream_->PutString("\"\n");
}

void SceneTextWriter::WriteProperty(Entity& entity, const Property& property, uint32_t flags) {
    if (!(flags & SceneWriteDefaults) && property.IsDefault(entity)) {
        return;
    }
    std::string text;
    if (property.IsEntityReference()) {
        uint32_t words[MaxValueWords] = {};
        property.ReadValue(entity, words);
        uint32_t id = words[0];
        if (flags & SceneRawIds) {
            // Unsigned: a port of 8 and up sets the top bit.
            text = std::to_string(id);
        } else {
            IdPath path = IdPath::FromId(id, static_cast<uint32_t>(idSystem_));
            bool fromSceneRoot = path.count == 0 || path.ids[0] == 0;
            text = fromSceneRoot && (!(flags & SceneSystemZeroPaths) || path.count == 0)
                       ? "0"
                       : path.Format();
        }
    } else {
        text = property.GetAsText(entity);
        // A value that differs from the default only past the decimals its text keeps loads
        // back as the default: written, the next save of that load would leave it out.
        if (!(flags & SceneWriteDefaults) && ReadsBackAsDefault(property, text)) {
            return;
        }
    }
    bool quoted = property.GetValueType() == TypeString;
    if (!ReadsBackWhole(text, quoted)) {
        LogMessage("Scene file %s: the value of %s does not read back as written",
                   fileName_.c_str(), property.GetName());
    }
    stream_->PutChar('\t');
    stream_->PutString(property.GetName());
    WriteText(*stream_, quoted ? " = \"" : " = ");
    WriteText(*stream_, text);
    WriteText(*stream_, quoted ? "\"\n" : "\n");
}

void SceneTextWriter::WriteHeldLines(const Entity& entity, const HeldSceneLines& held) {
    if (!held.compactTail.empty() && error_.empty()) {
        error_ = StringFormat("%s keeps values of a compact scene file that only its class can "
                              "name, which the text form cannot hold; save it in the compact "
                              "form, or load its program first",
                              DescribeEntity(entity).c_str());
    }
    for (const HeldSceneLine& line : held.lines) {
        stream_->PutChar('\t');
        WriteText(*stream_, line.name);
        WriteText(*stream_, line.quoted ? " = \"" : " = ");
        WriteText(*stream_, line.value);
        WriteText(*stream_, line.quoted ? "\"\n" : "\n");
    }
}

void SceneTextWriter::EndObject() {
    stream_->PutString("}\n");
}

// Reader ------------------------------------------------------------------------------------

SceneTextReader::SceneTextReader() = default;
SceneTextReader::~SceneTextReader() = default;

bool SceneTextReader::Begin(File& stream, const char* fileName, ErrorCallback onError) {
    stream_ = &stream;
    fileName_ = fileName ? fileName : "";
    onError_ = std::move(onError);
    error_.clear();
    endedEarly_ = false;
    insideBlock_ = false;
    tokenizer_ = std::make_unique<Tokenizer>();
    tokenizer_->SetDelimiters(" \t\n\r");
    tokenizer_->Next(stream);
    return true;
}

void SceneTextReader::Report(std::string error) {
    error_ = std::move(error);
    if (onError_) {
        onError_(error_.c_str());
    }
}

void SceneTextReader::ReportEndOfFile() {
    // A text of no objects ends where it should.
    endedEarly_ = endedEarly_ || insideBlock_;
    Report(EndOfFileError);
}

void SceneTextReader::ReportUnexpected() {
    Report(StringFormat("Unexpected token '%s' in scene file %s (pos %d)",
                        tokenizer_->GetText().c_str(), fileName_.c_str(),
                        static_cast<int>(stream_->Tell())));
}

bool SceneTextReader::Expect(int32_t kind) {
    bool matched = tokenizer_->GetKind() == kind;
    if (!matched) {
        ReportUnexpected();
    }
    tokenizer_->Next(*stream_);
    return matched;
}

bool SceneTextReader::IsObjectToken() const {
    return tokenizer_->GetKind() == TokenIdentifier && tokenizer_->GetText().starts_with("obj");
}

bool SceneTextReader::ReadHeader(SceneHeader& header) {
    File& stream = *stream_;
    Tokenizer& tokens = *tokenizer_;
    header.version = 1;
    if (tokens.GetText() == "version") {
        tokens.Next(stream);
        if (!Expect('=')) {
            return false;
        }
        header.version = LeadingNumber(tokens.GetText());
        tokens.Next(stream);
    }
    header.globalId = Guid();
    if (tokens.GetText() == "globalid") {
        tokens.Next(stream);
        if (!Expect('=')) {
            return false;
        }
        header.globalId = Guid::FromHex(tokens.GetText().c_str());
        tokens.Next(stream);
    }
    header.idSystem = 0;
    if (tokens.GetText() == "idsystem") {
        tokens.Next(stream);
        if (!Expect('=')) {
            return false;
        }
        header.idSystem = LeadingNumber(tokens.GetText());
        tokens.Next(stream);
    }
    if (tokens.GetText() == "include_branches") {
        header.includeBranches = true;
        stream.ReadUntil(nullptr, 0, '\n');
        tokens.Next(stream);
    }
    if (tokens.GetText() == "num_nodes") {
        tokens.Next(stream);
        if (!Expect('=')) {
            return false;
        }
        header.nodeCount = LeadingNumber(tokens.GetText());
        tokens.Next(stream);
    }
    if (tokens.GetText() == "customdeclarations") {
        tokens.Next(stream);
        if (tokens.GetKind() != '{') {
            Expect('{');
            return false;
        }
        if (header.customClassSlot) {
            // The declarations start with the token after '{'.
            ReadCustomDeclarations(&tokens, stream, header.customClassSlot);
            if (!Expect('}')) {
                return false;
            }
        } else {
            stream.ReadUntil(nullptr, 0, '}');
            tokens.Next(stream);
        }
    }
    uint32_t position = stream.Tell();
    uint32_t length = static_cast<uint32_t>(tokens.GetText().size());
    firstBlock_ = position >= length ? position - length : 0;
    return true;
}

bool SceneTextReader::ReadObject(std::string& idText, std::string* className) {
    File& stream = *stream_;
    Tokenizer& tokens = *tokenizer_;
    if (!IsObjectToken()) {
        ReportUnexpected();
        tokens.Next(stream);
        return false;
    }
    // The tokenizer stops at the first byte that is no identifier byte; an id path goes on
    // with '.', '-' and hex digits up to the next delimiter.
    idText.assign(tokens.GetText(), 3);
    bool tooLong = idText.size() > MaxIdTextLength;
    for (int byte = stream.ReadByte(); byte != -1; byte = stream.ReadByte()) {
        byte &= 0xFF;
        if (byte == ' ' || byte == '\n' || byte == '\r' || byte == '\t' || byte == 0) {
            break;
        }
        if (idText.size() < MaxIdTextLength) {
            idText.push_back(static_cast<char>(byte));
        } else {
            tooLong = true;
        }
    }
    if (tooLong) {
        Report(StringFormat("Object id longer than %zu characters in scene file %s (pos %d)",
                            MaxIdTextLength, fileName_.c_str(), static_cast<int>(stream.Tell())));
        tokens.Next(stream);
        return false;
    }
    tokens.Next(stream);
    if (!Expect('{')) {
        return false;
    }
    insideBlock_ = true;
    if (tokens.GetText() != "class") {
        return true;
    }
    tokens.Next(stream);
    if (!Expect('=')) {
        return false;
    }
    if (className) {
        *className = tokens.GetText();
    }
    return Expect(TokenString);
}

void SceneTextReader::ReadValue(std::string& value, bool* quoted) {
    File& stream = *stream_;
    ReadSceneLine(stream, value);
    if (quoted) {
        *quoted = !value.empty() && value[0] == '"';
    }
    if (value.empty() || value[0] != '"') {
        return;
    }
    value.erase(0, 1);
    // A quoted value that never closes ends with the input, not beyond it.
    while (value.empty() || value.back() != '"') {
        uint32_t before = stream.Tell();
        if (stream.IsEof()) {
            ReportEndOfFile();
            return;
        }
        std::string line;
        ReadSceneLine(stream, line);
        if (stream.Tell() == before) {
            ReportEndOfFile();
            return;
        }
        value.push_back('\n');
        value += line;
    }
    value.pop_back();
}

bool SceneTextReader::ReadProperty(Entity&, std::string& key, std::string& value) {
    // The block's '}' ends its properties: no error, so nothing is formatted for it.
    if (tokenizer_->GetKind() == '}') {
        insideBlock_ = false;
        tokenizer_->Next(*stream_);
        return false;
    }
    key = tokenizer_->GetText();
    if (!Expect(TokenIdentifier) || tokenizer_->GetKind() != '=') {
        return false;
    }
    // The blank after '=' is not part of the value.
    stream_->ReadByte();
    ReadValue(value, &lastQuoted_);
    tokenizer_->Next(*stream_);
    return true;
}

bool SceneTextReader::NextObject() {
    File& stream = *stream_;
    Tokenizer& tokens = *tokenizer_;
    // Property lines are skipped as they are read, so a '}' or an "obj" inside a value never
    // ends the block early.
    std::string value;
    for (;;) {
        if (IsObjectToken()) {
            return true;
        }
        if (tokens.GetKind() != TokenIdentifier) {
            break;
        }
        if (tokens.Next(stream) != '=') {
            continue;
        }
        stream.ReadByte();
        ReadValue(value);
        tokens.Next(stream);
    }
    if (tokens.GetKind() != '}' && tokens.GetKind() != TokenEnd) {
        tokens.SkipTo(stream, "}");
    }
    if (tokens.GetKind() == TokenEnd) {
        ReportEndOfFile();
        return false;
    }
    insideBlock_ = false;
    tokens.Next(stream);
    return IsObjectToken();
}

void SceneTextReader::Rewind() {
    insideBlock_ = false;
    stream_->Seek(firstBlock_);
    tokenizer_->Next(*stream_);
}

} // namespace quarn
