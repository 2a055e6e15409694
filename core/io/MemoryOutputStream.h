#pragma once

#include "core/io/OutputStream.h"

#include <cstdint>
#include <memory>

namespace quarn {

// Writes into a buffer of fixed capacity, allocated at construction. What does not fit is lost:
// a formatted text that does not fit whole adds nothing, single bytes and raw writes are cut at
// the capacity. No NUL is added; a caller that wants a text writes the terminator itself.
class MemoryOutputStream final : public OutputStream {
public:
    explicit MemoryOutputStream(uint32_t capacity);

    // 0 when the text does not fit in the room left (or cannot be formatted).
    int VPrintf(const char* format, va_list arguments) override QUARN_PRINTF(2, 0);
    void PutChar(int byte) override;
    uint32_t Write(const void* data, uint32_t count) override;
    void Flush() override {}
    uint32_t Tell() override { return position_; }

    // The bytes written so far are GetData()[0 .. GetPosition()).
    const char* GetData() const { return buffer_.get(); }
    uint32_t GetPosition() const { return position_; }
    uint32_t GetCapacity() const { return capacity_; }

private:
    std::unique_ptr<char[]> buffer_;
    uint32_t position_ = 0;
    uint32_t capacity_;
};

} // namespace quarn
