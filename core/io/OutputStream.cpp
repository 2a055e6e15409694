#include "core/io/OutputStream.h"

#include <cstring>

namespace quarn {

int OutputStream::Printf(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int count = VPrintf(format, arguments);
    va_end(arguments);
    return count;
}

void OutputStream::PutString(const char* text) {
    if (!text) {
        return;
    }
    size_t length = std::strlen(text);
    // Sizes are 32-bit throughout the file layer; a longer text goes out in pieces.
    while (length > 0) {
        uint32_t piece = length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length);
        uint32_t written = Write(text, piece);
        if (written < piece) {
            return;
        }
        text += piece;
        length -= piece;
    }
}

} // namespace quarn
