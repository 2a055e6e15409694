#pragma once

#include "core/string/PrintfFormat.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace quarn {

// Printf into a fixed buffer: the result is cut to capacity - 1 characters and always
// terminated; returns the length kept.
int32_t FormatBounded(char* buffer, size_t capacity, const char* format, va_list arguments)
    QUARN_PRINTF(3, 0);

// A text of at most Capacity - 1 characters followed by its length word: the layout of the
// engine's fixed texts, so it stays a plain aggregate. Longer input is cut, never overflowed.
template <size_t Capacity>
struct FixedString {
    char text[Capacity] = {};
    int32_t length = 0;

    FixedString() = default;
    explicit FixedString(const char* initial) { Set(initial); }

    const char* Text() const { return text; }
    int32_t Length() const { return length; }
    static constexpr size_t Size() { return Capacity; }

    void Set(const char* value) {
        length = 0;
        text[0] = '\0';
        Append(value);
    }

    void Append(const char* value) {
        size_t position = static_cast<size_t>(length);
        while (value && *value && position < Capacity - 1) {
            text[position++] = *value++;
        }
        text[position] = '\0';
        length = static_cast<int32_t>(position);
    }

    // Keeps the first `count` characters; a count at or past the length changes nothing.
    void Truncate(int32_t count) {
        const size_t kept = count > 0 ? static_cast<size_t>(count) : 0;
        if (kept < static_cast<size_t>(length) && kept < Capacity) {
            length = static_cast<int32_t>(kept);
            text[kept] = '\0';
        }
    }

    // A new text holding this one followed by `value`, cut at the capacity.
    FixedString operator+(const char* value) const {
        FixedString result = *this;
        result.Append(value);
        return result;
    }

    void Format(const char* format, ...) QUARN_PRINTF(2, 3) {
        va_list arguments;
        va_start(arguments, format);
        length = FormatBounded(text, Capacity, format, arguments);
        va_end(arguments);
    }
};

// 260 characters with the terminator: the longest path the engine's files and dialogs carry.
using PathString = FixedString<260>;
using String32 = FixedString<32>;
using String64 = FixedString<64>;
// Method signatures.
using String256 = FixedString<256>;

static_assert(sizeof(PathString) == 264 && sizeof(String64) == 68);

// The text after the last '/' of a path, or the whole path when it has none.
PathString PathFileName(const char* path);

} // namespace quarn
