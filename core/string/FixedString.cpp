#include "core/string/FixedString.h"

#include <cstdio>
#include <cstring>

namespace quarn {

int32_t FormatBounded(char* buffer, size_t capacity, const char* format, va_list arguments) {
    int written = vsnprintf(buffer, capacity, format, arguments);
    if (written < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return static_cast<int32_t>(static_cast<size_t>(written) < capacity ? written : capacity - 1);
}

PathString PathFileName(const char* path) {
    if (!path) {
        return PathString();
    }
    const char* slash = std::strrchr(path, '/');
    return PathString(slash ? slash + 1 : path);
}

} // namespace quarn
