#pragma once

#include <cstdint>
#include <span>

namespace quarn {

// Files built into the program and found as "res://" + name (names compare without case).
struct EmbeddedFileEntry {
    const char* name;
    const unsigned char* data;
    uint32_t size;
};

// Defined by the source that the build generates from a folder of files (the engine's `res/`,
// or a test's own folder) and links into each program.
std::span<const EmbeddedFileEntry> EmbeddedFileTable();

} // namespace quarn
