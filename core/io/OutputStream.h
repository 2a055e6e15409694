#pragma once

#include "core/string/PrintfFormat.h"

#include <cstdarg>
#include <cstdint>

namespace quarn {

// A writable byte sink: a disk file or a buffer in memory.
class OutputStream {
public:
    virtual ~OutputStream() = default;

    // Returns the count written (negative or 0 when nothing could be written).
    int Printf(const char* format, ...) QUARN_PRINTF(2, 3);
    virtual int VPrintf(const char* format, va_list arguments) QUARN_PRINTF(2, 0) = 0;
    virtual void PutChar(int byte) = 0;
    void PutString(const char* text);
    // Returns the count written.
    virtual uint32_t Write(const void* data, uint32_t count) = 0;
    virtual void Flush() = 0;
    virtual uint32_t Tell() = 0;

    // Ends the stream and says whether everything written arrived: a disk file appears whole
    // at its path only now, so a failed write never leaves a truncated file behind. Streams
    // that cannot fail answer true. Destroying an open stream closes it.
    virtual bool Close() { return true; }
};

} // namespace quarn
