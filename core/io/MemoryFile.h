#pragma once

#include "core/io/BufferFile.h"

#include <cstdint>
#include <vector>

namespace quarn {

// A file whose bytes it owns: an archive entry inflated whole.
class MemoryFile final : public BufferFile {
public:
    // The size is 32-bit like every File; the caller keeps `data` below 4 GiB.
    explicit MemoryFile(std::vector<uint8_t> data);

    int GetKind() const override { return 0; }

private:
    std::vector<uint8_t> bytes_;
};

} // namespace quarn
