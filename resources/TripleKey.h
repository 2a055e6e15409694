#pragma once

#include <cstddef>
#include <cstdint>

namespace quarn {

// Three 32-bit words as one hash-map key: the bits of a position's coordinates, or the three
// references of an OBJ face corner.
struct TripleKey {
    uint32_t a;
    uint32_t b;
    uint32_t c;

    bool operator==(const TripleKey&) const = default;
};

struct TripleKeyHash {
    size_t operator()(const TripleKey& key) const {
        uint64_t h = key.a;
        h = h * 0x9E3779B97F4A7C15ull + key.b;
        h = h * 0x9E3779B97F4A7C15ull + key.c;
        return static_cast<size_t>(h ^ (h >> 29));
    }
};

} // namespace quarn
