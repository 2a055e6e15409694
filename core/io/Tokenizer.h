#pragma once

#include "core/io/File.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

// What Tokenizer::Next returns. A token that is none of these has the id of its table entry
// (give table entries ids of 256 and up so they never meet a character code), or else is the
// single byte read, its kind the byte's value 0..255 ('=' is 61, '{' is 123).
enum TokenKind : int32_t {
    TokenIdentifier = 1, // a letter or '_', then letters, digits and '_'
    TokenNumber = 2,     // a digit, then digits, '.', 'x' and hex letters; never a sign
    TokenString = 3,     // text between double quotes, without them; no escapes
    TokenEnd = 4,        // the end of the source, or a 0xFF byte
    TokenNewline = 10,   // LF, only when LF is not a delimiter
};

// Whether the tokenizer reads `text` back whole as one TokenIdentifier (without a table): the
// form of a key in the engine's text files.
bool IsIdentifierText(std::string_view text);

// The script parser's 32-bit token codes keep their class in the high 16 bits; class 2 is the
// one it tests for.
constexpr bool IsClass2Code(uint32_t code) {
    return (code >> 16) == 2;
}

// Keywords and operators a Tokenizer recognises, with the delimiters it skips.
class TokenTable {
public:
    struct Entry {
        int32_t id;
        std::string text;
    };

    TokenTable() = default;

    void Add(int32_t id, const char* text);
    // The first entry whose text equals `text` exactly (case counts); -1 when none does.
    int Find(std::string_view text) const;
    int GetCount() const { return static_cast<int>(entries_.size()); }
    // Null and 0 for an index out of range.
    const char* GetEntry(int index) const;
    int32_t GetId(int index) const;

    const std::string& GetDelimiters() const { return delimiters_; }
    void SetDelimiters(const char* delimiters) { delimiters_ = delimiters ? delimiters : ""; }

private:
    std::vector<Entry> entries_;
    std::string delimiters_ = " \t\n\r";
};

// The one tokenizer of the engine's text formats. It reads from the File it is handed and
// leaves the file just after the token (for a byte that ends a token, it steps back), so a
// caller may read the rest of a line from the file directly.
//
// Steps back: one byte after an identifier or number, and after an operator that did not match
// as many bytes as it read ahead. Memory sources keep any number; a disk file keeps only one, so
// there an operator table with entries of three or more bytes loses bytes on a failed match
// ("<<x" with "<<=" in the table reads as '<' then 'x'). Two-byte operators never need more
// than one step back.
//
// A 0xFF byte ends the input wherever it is met, as the end does; the tokenizer steps back over
// it, so every later token is the end too.
class Tokenizer {
public:
    // Delimiters " \t\n\r" and no table.
    Tokenizer();
    // The table's delimiters when a table is given (not owned; it must outlive the tokenizer).
    explicit Tokenizer(const TokenTable* table, uint32_t flags = 0);

    // Reads the next token; returns its kind, also kept with its text.
    int32_t Next(File& file);
    // The next Next returns the current token again without reading.
    void PushBack() { pushedBack_ = true; }
    // Reads up to and including the first byte that is one of `characters` or NUL; that byte
    // becomes the token (kind = its value, text empty for NUL), or TokenEnd at the end.
    int32_t SkipTo(File& file, const char* characters);
    // Skips lines whose first token is '#'; then reads two tokens (a key and, normally, '=')
    // whatever they are, and puts the rest of that line in `out` (up to LF, a trailing CR
    // removed, a leading blank kept). False when the end came before a key.
    bool ReadLineSkippingComments(std::string& out, File& file);

    int32_t GetKind() const { return kind_; }
    const std::string& GetText() const { return text_; }
    uint32_t GetFlags() const { return flags_; }
    const TokenTable* GetTable() const { return table_; }
    const std::string& GetDelimiters() const { return delimiters_; }
    void SetDelimiters(const char* delimiters) { delimiters_ = delimiters ? delimiters : ""; }

private:
    int32_t SetToken(int32_t kind, std::string text);
    bool IsDelimiter(int byte) const;
    int32_t ReadOperator(File& file, int first);

    const TokenTable* table_ = nullptr;
    std::string delimiters_;
    std::string text_;
    // Kept for the callers that set it; no operation here reads it.
    uint32_t flags_ = 0;
    int32_t kind_ = 0;
    bool pushedBack_ = false;
};

} // namespace quarn
