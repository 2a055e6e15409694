#include "core/string/NumberText.h"

#include <charconv>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace quarn {

namespace {

const char* SkipBlanks(const char* text) {
    while (IsBlank(*text)) {
        ++text;
    }
    return text;
}

// A parser that stopped at `end` read a number and nothing but blanks follow it.
bool ReadWhole(const char* text, const char* end) {
    return text && end != text && *SkipBlanks(end) == '\0';
}

// Reads an optional sign; returns true for '-'.
bool ReadSign(const char*& text) {
    if (*text == '-' || *text == '+') {
        return *text++ == '-';
    }
    return false;
}

// Accumulates digits of `base`; the value stops growing once past 32 bits, so any length of
// digit run is safe and still reads as out of range.
uint64_t ReadDigits(const char*& text, int base) {
    uint64_t value = 0;
    for (;;) {
        int digit = base == 16 ? HexDigitValue(*text) : (IsDigit(*text) ? *text - '0' : -1);
        if (digit < 0) {
            return value;
        }
        if (value <= 0xFFFFFFFFull) {
            value = value * base + digit;
        }
        ++text;
    }
}

void ReportEnd(const char** end, const char* position) {
    if (end) {
        *end = position;
    }
}

// Reads [sign] digits as strtoul does; `text` is left on the first unread byte, or on the
// original start when there were no digits.
uint32_t ReadUnsigned(const char* text, const char** end, bool hex) {
    if (!text) {
        ReportEnd(end, text);
        return 0;
    }
    const char* start = text;
    const char* cursor = SkipBlanks(text);
    bool negative = ReadSign(cursor);
    if (hex && cursor[0] == '0' && (cursor[1] == 'x' || cursor[1] == 'X') &&
        HexDigitValue(cursor[2]) >= 0) {
        cursor += 2;
    }
    const char* digits = cursor;
    uint64_t value = ReadDigits(cursor, hex ? 16 : 10);
    if (cursor == digits) {
        ReportEnd(end, start);
        return 0;
    }
    ReportEnd(end, cursor);
    if (value > 0xFFFFFFFFull) {
        return 0xFFFFFFFFu;
    }
    uint32_t result = static_cast<uint32_t>(value);
    return negative ? 0u - result : result;
}

locale_t ClassicLocale() {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", nullptr);
    return locale;
}

} // namespace

int32_t ParseInt32(const char* text, const char** end) {
    if (!text) {
        ReportEnd(end, text);
        return 0;
    }
    const char* cursor = SkipBlanks(text);
    bool negative = ReadSign(cursor);
    const char* digits = cursor;
    uint64_t magnitude = ReadDigits(cursor, 10);
    if (cursor == digits) {
        ReportEnd(end, text);
        return 0;
    }
    ReportEnd(end, cursor);
    if (negative) {
        return magnitude >= 0x80000000ull ? INT32_MIN : -static_cast<int32_t>(magnitude);
    }
    return magnitude > 0x7FFFFFFFull ? INT32_MAX : static_cast<int32_t>(magnitude);
}

uint32_t ParseUInt32(const char* text, const char** end) {
    return ReadUnsigned(text, end, false);
}

uint32_t ParseHex32(const char* text, const char** end) {
    return ReadUnsigned(text, end, true);
}

double ParseDouble(const char* text, const char** end) {
    if (!text) {
        ReportEnd(end, text);
        return 0.0;
    }
    char* stop = nullptr;
    double value = strtod_l(text, &stop, ClassicLocale());
    ReportEnd(end, stop);
    return value;
}

const char* FindInt32Mistake(const char* text) {
    const char* end = nullptr;
    const int32_t value = ParseInt32(text, &end);
    if (!ReadWhole(text, end)) {
        return "is not a whole number";
    }
    // The parser clamps, so only the limits themselves are worth a second look.
    if (value == INT32_MAX || value == INT32_MIN) {
        const char* digits = SkipBlanks(text);
        digits += *digits == '+';
        int64_t exact = 0;
        const auto read = std::from_chars(digits, end, exact);
        if (read.ec != std::errc() || exact != value) {
            return "is beyond the range of a 32-bit whole number";
        }
    }
    return nullptr;
}

const char* FindFloatMistake(const char* text) {
    float read;
    return FindFloatMistake(text, read);
}

const char* FindFloatMistake(const char* text, float& read) {
    const char* end = nullptr;
    const double value = ParseDouble(text, &end);
    if (!ReadWhole(text, end)) {
        return "is not a number";
    }
    if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max()) {
        return "is beyond the range of a 32-bit float";
    }
    read = static_cast<float>(value);
    return nullptr;
}

const char* FindHex32Mistake(const char* text) {
    const char* end = nullptr;
    ParseHex32(text, &end);
    if (!ReadWhole(text, end)) {
        return "is not a hexadecimal number";
    }
    const char* digits = SkipBlanks(text);
    digits += *digits == '-' || *digits == '+';
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits += 2;
    }
    while (*digits == '0' && digits + 1 < end) {
        ++digits;
    }
    return end - digits > 8 ? "is beyond the range of a 32-bit number" : nullptr;
}

std::string FormatClassic(const char* format, ...) {
    const locale_t previous = uselocale(ClassicLocale());
    va_list arguments;
    va_start(arguments, format);
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length));
        vsnprintf(text.data(), text.size() + 1, format, arguments);
    }
    va_end(arguments);
    uselocale(previous);
    return text;
}

} // namespace quarn
