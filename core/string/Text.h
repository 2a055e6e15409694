#pragma once

#include "core/math/Vector.h"
#include "core/string/PrintfFormat.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quarn {

// Texts are bytes; every comparison and case change here is ASCII only, whatever the locale.

// Formatting --------------------------------------------------------------------------------

// Formats into the scratch buffer that was not written last (at most 4095 characters). The
// result stays valid until the next-but-one call, so one call's text may be an argument of the
// next. The buffers live in the text arena, so a result can also be handed out as a word.
const char* FormatTemp(const char* format, ...) QUARN_PRINTF(1, 2);
const char* FormatTempV(const char* format, va_list arguments) QUARN_PRINTF(1, 0);

// A new string of at most 65535 characters.
std::string StringFormat(const char* format, ...) QUARN_PRINTF(1, 2);
// The same through one shared 64 KB buffer, valid until the next call (not re-entrant).
const char* StringFormatShared(const char* format, ...) QUARN_PRINTF(1, 2);

// Copies at most capacity - 1 characters and terminates; returns the length kept.
size_t StrCopyBounded(char* buffer, const char* text, size_t capacity);
// Appends after the buffer's current text within the same bound; returns the new length.
size_t StrAppendBounded(char* buffer, const char* text, size_t capacity);
// Copies the text in from `position` on, stopping at capacity - 1 characters in all; the buffer
// is always terminated. Returns the new length.
size_t StringAppendBounded(char* buffer, const char* text, size_t position, size_t capacity);

// Splitting and parsing ---------------------------------------------------------------------

// Splits at any byte of `delimiters` into at most maxParts parts, each cut to maxChars
// characters in its output buffer (which holds maxChars + 1 bytes). Empty parts between two
// delimiters count; splitting stops at the end of the text. Returns the number of parts.
int SplitAtDelimiters(const char* text, const char* delimiters, char* const* outputs, int maxParts,
                      size_t maxChars);

// Comma-style lists of numbers: parts beyond those in the text read as 0.
Int2 ParseInt2(const char* text, const char* delimiters);
Int3 ParseInt3(const char* text, const char* delimiters);
Float2 ParseFloat2(const char* text, const char* delimiters);
Float3 ParseFloat3(const char* text, const char* delimiters);
Float4 ParseFloat4(const char* text, const char* delimiters);

// Case, search and escapes ------------------------------------------------------------------

inline char ToLowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
// -1, 0 or 1 as strcmp after folding A-Z; 1 when either text is null.
int CompareNoCase(const char* a, const char* b);
// Orders keys as CompareNoCase compares them: maps whose keys ignore ASCII case.
struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return CompareNoCase(a.c_str(), b.c_str()) < 0;
    }
};
void ToLowerAscii(char* text);
// Whether text begins with prefix, A-Z folded; false when either is null.
bool StartsWithNoCase(const char* text, const char* prefix);
// The first occurrence of pattern compared without case; null when none or the text is empty.
const char* FindNoCase(const char* text, const char* pattern);
// The first byte of text that is in the set, or null.
const char* FindFirstOf(const char* text, const char* characters);

void ReplaceChar(char* text, char from, char to);
void RemoveCharInPlace(char* text, char c);
void RemoveCharFromString(std::string& text, char c);
std::string RemoveCarriageReturns(const char* text);
// Each LF becomes CR LF.
std::string ExpandNewlines(const char* text);
// Turns \" \\ \n \t into their characters; any other backslash pair stays as it is.
std::string UnescapeString(const char* source);

// The bytes taken as little-endian 32-bit words and summed modulo 2^32; the script interface
// checksum is built from it, so it must never change.
uint32_t StringWordSum(const char* text);

// Paths -------------------------------------------------------------------------------------

// The file name of a path: what follows its last '/', or its last '\\' when it has no '/'.
const char* FindFileName(const char* path);
// The '.' that starts the extension of the path's file name (its last dot), or the empty text
// at the end when the name has none: a dot in a folder name ("x.dir/file") starts nothing.
const char* FindExtension(const char* path);

// Splits a path into folder (up to and including the last '/', else the last '\\'), name and
// extension (after the file name's last '.'). Nothing is written for an empty path.
void SplitPath(const char* path, std::string* folder, std::string* name, std::string* extension);
std::string GetPathFolder(const char* path);
std::string GetPathName(const char* path);
std::string GetPathExtension(const char* path);
// folder + name + "." + extension.
std::string ReplaceExtension(const char* path, const char* extension);
// "dir/A_name" for "dir\\name": the companion file of a texture.
std::string MakePrefixedFileName(const char* path);

} // namespace quarn
