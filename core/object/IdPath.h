#pragma once

#include <cstdint>
#include <string>

namespace quarn {

// A global identity of an id system (a branch instance shared between scenes): 16 random bytes
// as four 32-bit words, written as 32 upper-case hex digits.
struct Guid {
    uint32_t words[4] = {};

    static Guid Create();
    bool IsZero() const { return (words[0] | words[1] | words[2] | words[3]) == 0; }
    bool operator==(const Guid& other) const = default;
    std::string ToHex() const;
    // Reads up to 32 hex digits (either case), stopping at the first other character and
    // keeping what was read; `end` receives where it stopped.
    static Guid FromHex(const char* text, const char** end = nullptr);
};

// The text form of an id in scene files, relative to the id system being written: the chain of
// branch instances from the outermost ("7.5" is local id 5 inside the branch whose node has
// local id 7), a leading "0." when counted from id system 0, "0x<32 hex>." through a global
// instance, and "-<port>" for a port.
struct IdPath {
    static constexpr int MaxIds = 7;

    Guid guid;
    uint32_t ids[MaxIds] = {};
    int count = 0;
    uint32_t port = 0;

    // The path of `id` as seen from the id system `stopIdSystem`.
    static IdPath FromId(uint32_t id, uint32_t stopIdSystem);
    std::string Format() const;
    // Reads a path; numbers are read as unsigned 32-bit values. False (and count 0) for a text
    // that is no path: null, no number, or more ids than a path holds.
    bool Parse(const char* text);
    // The id the path names without a loader's remapping; 0 when it names nothing.
    uint32_t ToId() const;
};

class Entity;

// The class, the id as a scene file writes it and the name when there is one: "Sprite obj4
// (Logo)", as the editor heads a node's menu and the log names a node.
std::string DescribeEntity(const Entity& entity);

} // namespace quarn
