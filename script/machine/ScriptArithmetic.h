#pragma once

#include <cstdint>

namespace quarn {

// The int arithmetic of scripts, shared by the operator bodies and the machine's typed commands
// so that both give the same words. Int arithmetic wraps in 32 bits: it is computed on the
// unsigned words and never overflows.
namespace script_arithmetic {

constexpr uint32_t Bits(int32_t value) {
    return static_cast<uint32_t>(value);
}
constexpr int32_t Wrapped(uint32_t value) {
    return static_cast<int32_t>(value);
}
constexpr int32_t Add(int32_t a, int32_t b) {
    return Wrapped(Bits(a) + Bits(b));
}
constexpr int32_t Subtract(int32_t a, int32_t b) {
    return Wrapped(Bits(a) - Bits(b));
}
constexpr int32_t Multiply(int32_t a, int32_t b) {
    return Wrapped(Bits(a) * Bits(b));
}
constexpr int32_t Negate(int32_t a) {
    return Wrapped(0u - Bits(a));
}
constexpr int32_t ShiftLeft(int32_t a, int32_t b) {
    return Wrapped(Bits(a) << (Bits(b) & 31));
}
constexpr int32_t ShiftRight(int32_t a, int32_t b) {
    return a >> (Bits(b) & 31);
}
// A 0 divisor gives 0 (its report is the operator's), and the smallest int divided by -1 wraps
// to itself with remainder 0, so no script can trap the process.
constexpr int32_t Quotient(int32_t a, int32_t b) {
    if (b == 0) {
        return 0;
    }
    return b == -1 ? Negate(a) : a / b;
}
constexpr int32_t Remainder(int32_t a, int32_t b) {
    return b == 0 || b == -1 ? 0 : a % b;
}

} // namespace script_arithmetic

} // namespace quarn
