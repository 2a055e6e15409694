#pragma once

// Marks a printf-style function so the compiler checks every call's arguments against its
// format; the two numbers are 1-based argument positions of the format and of the first value
// (count `this` for members; 0 for a va_list).
#define QUARN_PRINTF(formatIndex, firstIndex)                                                      \
    __attribute__((format(printf, formatIndex, firstIndex)))
