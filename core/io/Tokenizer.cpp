#include "core/io/Tokenizer.h"

#include "core/string/NumberText.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace quarn {

namespace {

// Bytes are classified as unsigned values with ASCII rules only: a byte of 0x80 and up is never
// a letter, whatever the locale, and its token kind is 128..254.
bool IsAsciiLetter(int byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

bool IsIdentifierByte(int byte) {
    return IsAsciiLetter(byte) || IsDigit(static_cast<char>(byte)) || byte == '_';
}

// "0x1F", "3.5" and "12e5" are all one number token; the caller parses the text.
bool IsNumberByte(int byte) {
    return HexDigitValue(static_cast<char>(byte)) >= 0 || byte == '.' || byte == 'x';
}

// The next byte as 0..254, or -1 at the end. A 0xFF byte is the end too (an old text file's
// terminator), and the tokenizer steps back over it so that the end stays the end. Text
// sources deliver 0xFF sign-extended, as the same -1 as their real end; only the source's own
// end test tells the two apart, and stepping back is right only for the byte.
int ReadTokenByte(File& file) {
    int byte = file.ReadByte();
    if (byte == -1) {
        if (!file.IsEof()) {
            file.UnreadByte();
        }
        return -1;
    }
    byte &= 0xFF;
    if (byte == 0xFF) {
        file.UnreadByte();
        return -1;
    }
    return byte;
}

// Appends bytes while they belong to the token; the first that does not is stepped back over.
template <typename Belongs>
void ReadWhile(File& file, std::string& text, Belongs belongs) {
    for (;;) {
        int byte = ReadTokenByte(file);
        if (byte == -1) {
            return;
        }
        if (!belongs(byte)) {
            file.UnreadByte();
            return;
        }
        text.push_back(static_cast<char>(byte));
    }
}

void UnreadBytes(File& file, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        file.UnreadByte();
    }
}

} // namespace

bool IsIdentifierText(std::string_view text) {
    return !text.empty() && !IsDigit(text[0]) &&
           std::all_of(text.begin(), text.end(), [](char byte) {
               return IsIdentifierByte(static_cast<unsigned char>(byte));
           });
}

void TokenTable::Add(int32_t id, const char* text) {
    entries_.push_back(Entry{id, text ? text : ""});
}

int TokenTable::Find(std::string_view text) const {
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].text == text) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

const char* TokenTable::GetEntry(int index) const {
    if (index < 0 || index >= GetCount()) {
        return nullptr;
    }
    return entries_[static_cast<size_t>(index)].text.c_str();
}

int32_t TokenTable::GetId(int index) const {
    if (index < 0 || index >= GetCount()) {
        return 0;
    }
    return entries_[static_cast<size_t>(index)].id;
}

Tokenizer::Tokenizer() : delimiters_(" \t\n\r") {}

Tokenizer::Tokenizer(const TokenTable* table, uint32_t flags)
    : table_(table), delimiters_(table ? table->GetDelimiters() : " \t\n\r"), flags_(flags) {}

int32_t Tokenizer::SetToken(int32_t kind, std::string text) {
    kind_ = kind;
    text_ = std::move(text);
    return kind;
}

// NUL separates tokens whatever the delimiter text says.
bool Tokenizer::IsDelimiter(int byte) const {
    return byte == 0 || delimiters_.find(static_cast<char>(byte)) != std::string::npos;
}

int32_t Tokenizer::Next(File& file) {
    if (pushedBack_) {
        pushedBack_ = false;
        return kind_;
    }
    int byte = ReadTokenByte(file);
    while (byte != -1 && IsDelimiter(byte)) {
        byte = ReadTokenByte(file);
    }
    if (byte == -1) {
        return SetToken(TokenEnd, std::string());
    }
    if (byte == '\n') {
        return SetToken(TokenNewline, "\n");
    }
    std::string text(1, static_cast<char>(byte));
    if (IsAsciiLetter(byte) || byte == '_') {
        ReadWhile(file, text, IsIdentifierByte);
        int index = table_ ? table_->Find(text) : -1;
        return SetToken(index >= 0 ? table_->GetId(index) : TokenIdentifier, std::move(text));
    }
    if (IsDigit(static_cast<char>(byte))) {
        ReadWhile(file, text, IsNumberByte);
        return SetToken(TokenNumber, std::move(text));
    }
    if (byte == '"') {
        text.clear();
        for (byte = ReadTokenByte(file); byte != -1 && byte != '"'; byte = ReadTokenByte(file)) {
            text.push_back(static_cast<char>(byte));
        }
        return SetToken(TokenString, std::move(text));
    }
    return ReadOperator(file, byte);
}

// Reads ahead while exactly one table entry can still be meant. The match is taken only when a
// single candidate is left and the bytes read spell it whole; otherwise every byte read ahead is
// stepped back over and `first` stands alone. So a one-byte entry never comes back by its id,
// and "==" (with "=" also in the table) does.
int32_t Tokenizer::ReadOperator(File& file, int first) {
    std::string read(1, static_cast<char>(first));
    std::vector<int> candidates;
    for (int i = 0; table_ && i < table_->GetCount(); ++i) {
        if (static_cast<unsigned char>(table_->GetEntry(i)[0]) == first) {
            candidates.push_back(i);
        }
    }
    while (!candidates.empty()) {
        int byte = ReadTokenByte(file);
        if (byte == -1) {
            break;
        }
        size_t position = read.size();
        read.push_back(static_cast<char>(byte));
        std::erase_if(candidates, [&](int index) {
            std::string_view entry = table_->GetEntry(index);
            return entry.size() <= position || static_cast<unsigned char>(entry[position]) != byte;
        });
        if (candidates.size() == 1 && read == table_->GetEntry(candidates[0])) {
            return SetToken(table_->GetId(candidates[0]), std::move(read));
        }
    }
    UnreadBytes(file, read.size() - 1);
    read.resize(1);
    return SetToken(first, std::move(read));
}

int32_t Tokenizer::SkipTo(File& file, const char* characters) {
    pushedBack_ = false;
    for (;;) {
        int byte = ReadTokenByte(file);
        if (byte == -1) {
            return SetToken(TokenEnd, std::string());
        }
        if (byte == 0) {
            return SetToken(0, std::string());
        }
        if (characters && std::strchr(characters, byte)) {
            return SetToken(byte, std::string(1, static_cast<char>(byte)));
        }
    }
}

bool Tokenizer::ReadLineSkippingComments(std::string& out, File& file) {
    out.clear();
    while (Next(file) == '#') {
        file.ReadUntil(nullptr, 0, '\n');
    }
    if (kind_ == TokenEnd) {
        return false;
    }
    // The token just read is the key: the two tokens of a key line are that one and the next.
    PushBack();
    Next(file);
    Next(file);
    file.ReadLineString(out);
    return true;
}

} // namespace quarn
