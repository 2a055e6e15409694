#include "core/io/MemoryFile.h"

#include <cassert>

namespace quarn {

MemoryFile::MemoryFile(std::vector<uint8_t> data) : bytes_(std::move(data)) {
    assert(bytes_.size() <= UINT32_MAX);
    SetData(bytes_.data(), static_cast<uint32_t>(bytes_.size()));
}

} // namespace quarn
