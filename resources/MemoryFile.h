#pragma once

#include "core/File.h"

#include <cstdint>
#include <vector>

namespace quarn {

// A file whose bytes are held in memory and owned by it: an archive entry inflated whole.
class MemoryFile : public File {
public:
    // The size is 32-bit like every File; the caller keeps `data` below 4 GiB.
    explicit MemoryFile(std::vector<uint8_t> data);

    int GetKind() const override { return 0; }

    int ReadByte() override;
    // Stays at 0 at the start rather than wrapping the position round.
    void UnreadByte() override;
    uint32_t Read(void* buffer, uint32_t count) override;
    uint32_t GetSize() override { return size_; }

    // Any position is taken; past the end, reads give nothing.
    bool Seek(uint32_t position) override;
    uint32_t Tell() override { return position_; }
    bool IsEof() override { return position_ >= size_; }

private:
    std::vector<uint8_t> data_;
    uint32_t size_ = 0;
    uint32_t position_ = 0;
};

} // namespace quarn
