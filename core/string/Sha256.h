#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quarn {

// The SHA-256 digest of a byte string. Used where two different inputs must never be taken for
// one another, even inputs chosen to collide (a shorter hash can be made to meet in minutes).
std::array<uint8_t, 32> Sha256(std::string_view bytes);

} // namespace quarn
