#pragma once

#include "core/io/OutputStream.h"

#include <cstdint>
#include <string>
#include <utility>

namespace quarn {

// Collects what is written in memory, growing as needed: nothing is ever cut.
class GrowingOutputStream final : public OutputStream {
public:
    int VPrintf(const char* format, va_list arguments) override QUARN_PRINTF(2, 0);
    void PutChar(int byte) override { text_.push_back(static_cast<char>(byte)); }
    uint32_t Write(const void* data, uint32_t count) override;
    void Flush() override {}
    uint32_t Tell() override { return static_cast<uint32_t>(text_.size()); }

    const std::string& GetText() const { return text_; }
    // Leaves the stream empty.
    std::string TakeText() {
        std::string text;
        text.swap(text_);
        return text;
    }
    void Reserve(size_t bytes) { text_.reserve(bytes); }

private:
    std::string text_;
};

} // namespace quarn
