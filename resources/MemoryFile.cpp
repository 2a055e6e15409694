#include "resources/MemoryFile.h"

#include <cassert>
#include <cstring>

namespace quarn {

MemoryFile::MemoryFile(std::vector<uint8_t> data)
    : data_(std::move(data)), size_(static_cast<uint32_t>(data_.size())) {
    assert(data_.size() <= UINT32_MAX);
}

int MemoryFile::ReadByte() {
    if (position_ >= size_) {
        return -1;
    }
    return data_[position_++];
}

void MemoryFile::UnreadByte() {
    if (position_ > 0) {
        --position_;
    }
}

uint32_t MemoryFile::Read(void* buffer, uint32_t count) {
    if (position_ >= size_ || count == 0) {
        return 0;
    }
    uint32_t copied = count < size_ - position_ ? count : size_ - position_;
    std::memcpy(buffer, data_.data() + position_, copied);
    position_ += copied;
    return copied;
}

bool MemoryFile::Seek(uint32_t position) {
    position_ = position;
    return true;
}

} // namespace quarn
