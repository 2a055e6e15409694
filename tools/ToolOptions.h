#pragma once

// Option values of quarn-tool commands, read whole: a value with anything after its number is
// refused, never cut.

#include "core/math/Vector.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace quarn {

// Picture sides; a larger one is a typing error rather than a picture anybody wants.
constexpr int32_t MostPictureSide = 16384;

// "WxH": two whole numbers from 1 to MostPictureSide and nothing else.
inline bool ParseSize(const char* text, Int2& size) {
    const char* end = text + std::strlen(text);
    const auto width = std::from_chars(text, end, size.x);
    if (width.ec != std::errc() || width.ptr == end || *width.ptr != 'x') {
        return false;
    }
    const auto height = std::from_chars(width.ptr + 1, end, size.y);
    return height.ec == std::errc() && height.ptr == end && size.x >= 1 && size.y >= 1 &&
           size.x <= MostPictureSide && size.y <= MostPictureSide;
}

// A whole number above 0, or a positive finite number of seconds, and nothing else.
template <typename Number>
bool ParsePositive(const char* text, Number& value) {
    const char* end = text + std::strlen(text);
    const auto parsed = std::from_chars(text, end, value);
    return parsed.ec == std::errc() && parsed.ptr == end && value > 0 && std::isfinite(value);
}

} // namespace quarn
