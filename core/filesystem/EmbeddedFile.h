#pragma once

#include "core/io/BufferFile.h"

#include <cstdint>

namespace quarn {

// A file built into the program ("res://" + name), read from memory; the bytes belong to the
// program image, not to the file.
class EmbeddedFile final : public BufferFile {
public:
    // Index + 1 of the table entry called `name` (compared without case); 0 when there is none.
    static uint32_t Find(const char* name);

    // Opens "res://" + name (the scheme compared without case); false when the name is not in
    // the table.
    bool Open(const char* path);

    int GetKind() const override { return 2; }
};

} // namespace quarn
