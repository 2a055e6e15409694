#include "core/io/GrowingOutputStream.h"

#include <cstdarg>
#include <cstdio>

namespace quarn {

int GrowingOutputStream::VPrintf(const char* format, va_list arguments) {
    va_list measuring;
    va_copy(measuring, arguments);
    int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length < 0) {
        return length;
    }
    const size_t start = text_.size();
    // vsnprintf writes a terminator after the text; it is cut off again.
    text_.resize(start + static_cast<size_t>(length) + 1);
    std::vsnprintf(text_.data() + start, static_cast<size_t>(length) + 1, format, arguments);
    text_.resize(start + static_cast<size_t>(length));
    return length;
}

uint32_t GrowingOutputStream::Write(const void* data, uint32_t count) {
    if (!data) {
        return 0;
    }
    text_.append(static_cast<const char*>(data), count);
    return count;
}

} // namespace quarn
