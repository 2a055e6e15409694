#include "core/io/MemoryOutputStream.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace quarn {

MemoryOutputStream::MemoryOutputStream(uint32_t capacity)
    : buffer_(std::make_unique<char[]>(capacity)), capacity_(capacity) {}

int MemoryOutputStream::VPrintf(const char* format, va_list arguments) {
    uint32_t room = capacity_ - position_;
    // Measured first so that a text that does not fit leaves the buffer untouched.
    va_list measuring;
    va_copy(measuring, arguments);
    int length = vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length < 0 || static_cast<uint32_t>(length) > room) {
        return 0;
    }
    char* target = buffer_.get() + position_;
    if (static_cast<uint32_t>(length) < room) {
        vsnprintf(target, room, format, arguments);
    } else {
        // An exact fit leaves no room for the terminator vsnprintf insists on writing.
        std::vector<char> text(static_cast<size_t>(length) + 1);
        vsnprintf(text.data(), text.size(), format, arguments);
        std::memcpy(target, text.data(), static_cast<size_t>(length));
    }
    position_ += static_cast<uint32_t>(length);
    return length;
}

void MemoryOutputStream::PutChar(int byte) {
    if (position_ < capacity_) {
        buffer_[position_++] = static_cast<char>(byte);
    }
}

uint32_t MemoryOutputStream::Write(const void* data, uint32_t count) {
    uint32_t room = capacity_ - position_;
    uint32_t copied = count < room ? count : room;
    if (!data || copied == 0) {
        return 0;
    }
    std::memcpy(buffer_.get() + position_, data, copied);
    position_ += copied;
    return copied;
}

} // namespace quarn
