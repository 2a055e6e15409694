#include "core/io/BufferFile.h"

#include <cstring>

namespace quarn {

BufferFile::BufferFile(const void* data, uint32_t size) {
    SetData(data, size);
}

void BufferFile::SetData(const void* data, uint32_t size) {
    data_ = static_cast<const uint8_t*>(data);
    size_ = data ? size : 0;
    position_ = 0;
}

int BufferFile::ReadByte() {
    if (position_ >= size_) {
        return -1;
    }
    return data_[position_++];
}

void BufferFile::UnreadByte() {
    if (position_ > 0) {
        --position_;
    }
}

uint32_t BufferFile::Read(void* buffer, uint32_t count) {
    if (position_ >= size_ || !buffer) {
        return 0;
    }
    uint32_t available = size_ - position_;
    uint32_t copied = count < available ? count : available;
    std::memcpy(buffer, data_ + position_, copied);
    position_ += copied;
    return copied;
}

bool BufferFile::Seek(uint32_t position) {
    position_ = position;
    return position <= size_;
}

TextFile::TextFile(const char* text) {
    size_t length = text ? std::strlen(text) : 0;
    SetData(text, length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length));
}

int TextFile::ReadByte() {
    if (position_ >= size_) {
        return -1;
    }
    return static_cast<signed char>(data_[position_++]);
}

} // namespace quarn
