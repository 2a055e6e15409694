#pragma once

#include "core/string/PrintfFormat.h"

#include <cstdint>
#include <string>

namespace quarn {

// Number parsing that never depends on the locale or on the width of `long`. Each parser skips
// leading blanks, reads as much as forms a number, gives 0 when nothing does, and reports
// where it stopped through `end` when that is not null. A null text reads as 0.

// Signed base-10, as a 32-bit program's atoi: out-of-range values clamp to the 32-bit limits.
int32_t ParseInt32(const char* text, const char** end = nullptr);

// Unsigned base-10 keeping the full 32 bits (ids with high port bits need them). A leading '-'
// negates modulo 2^32, so ids that were once written signed read back as the same id; values
// past 32 bits clamp to 0xFFFFFFFF.
uint32_t ParseUInt32(const char* text, const char** end = nullptr);

// Hexadecimal with an optional "0x"/"0X", keeping the full 32 bits (colours like 0x80808080);
// values past 32 bits clamp to 0xFFFFFFFF.
uint32_t ParseHex32(const char* text, const char** end = nullptr);

// Decimal or hexadecimal floating point with '.' as the decimal point, as atof reads it.
double ParseDouble(const char* text, const char** end = nullptr);
inline float ParseFloat(const char* text, const char** end = nullptr) {
    return static_cast<float>(ParseDouble(text, end));
}

// What a parser above would pass over in a text meant to hold one number and nothing else
// (blanks around it aside), or null when the text reads whole and exactly: "is not a whole
// number", "is not a number", "is not a hexadecimal number", or that it lies beyond the range
// the parser clamps to (or, for a float, beyond a 32-bit float's). Callers that read leniently
// use it to say what they made of a text.
const char* FindInt32Mistake(const char* text);
const char* FindFloatMistake(const char* text);
// The same, the float read whole going to `read`, so that a strict reader parses once.
const char* FindFloatMistake(const char* text, float& read);
const char* FindHex32Mistake(const char* text);

// printf into a new string with '.' as the decimal point whatever the program's locale, for
// numbers that files and tools must write the same everywhere.
std::string FormatClassic(const char* format, ...) QUARN_PRINTF(1, 2);

// Byte classes without the C library: plain `char` is signed, and <cctype> both misreads
// negative values and follows the locale.
inline bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace quarn
