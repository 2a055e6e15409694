#include "core/BufferFile.h"

#include <cstring>

namespace quarn {

namespace {

// Both memory files copy the same way: what is left from the position on, nothing once the
// position stands at or past the end (Seek may put it there).
uint32_t CopyOut(const void* source, uint32_t size, uint32_t& position, void* buffer,
                 uint32_t count) {
    if (position >= size || !buffer) {
        return 0;
    }
    uint32_t available = size - position;
    uint32_t copied = count < available ? count : available;
    std::memcpy(buffer, static_cast<const uint8_t*>(source) + position, copied);
    position += copied;
    return copied;
}

uint32_t TextLength(const char* text) {
    if (!text) {
        return 0;
    }
    size_t length = std::strlen(text);
    return length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length);
}

} // namespace

TextFile::TextFile(const char* text) : text_(text ? text : ""), size_(TextLength(text)) {}

int TextFile::ReadByte() {
    if (position_ >= size_) {
        return -1;
    }
    return static_cast<signed char>(text_[position_++]);
}

// At the start there is nothing to step back over; the position is unsigned.
void TextFile::UnreadByte() {
    if (position_ > 0) {
        --position_;
    }
}

uint32_t TextFile::Read(void* buffer, uint32_t count) {
    return CopyOut(text_, size_, position_, buffer, count);
}

// A position past the end is kept (reads there find nothing) but reported as a failure.
bool TextFile::Seek(uint32_t position) {
    position_ = position;
    return position <= size_;
}

BufferFile::BufferFile(const void* data, uint32_t size)
    : data_(static_cast<const uint8_t*>(data)), size_(data ? size : 0) {}

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
    return CopyOut(data_, size_, position_, buffer, count);
}

bool BufferFile::Seek(uint32_t position) {
    position_ = position;
    return position <= size_;
}

} // namespace quarn
