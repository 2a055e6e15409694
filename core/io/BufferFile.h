#pragma once

#include "core/io/File.h"

#include <cstdint>

namespace quarn {

// A readable file over bytes in memory, not owned unless a derived class owns them. Bytes come
// out zero-extended, 0..255. Any position may be sought; past the end reads find nothing and
// Seek answers false. UnreadByte at the start stays there (the position is unsigned).
class BufferFile : public File {
public:
    BufferFile(const void* data, uint32_t size);

    int ReadByte() override;
    void UnreadByte() override;
    uint32_t Read(void* buffer, uint32_t count) override;
    uint32_t GetSize() override { return size_; }
    bool Seek(uint32_t position) override;
    uint32_t Tell() override { return position_; }
    bool IsEof() override { return position_ >= size_; }

protected:
    BufferFile() = default;
    // Points the file at other bytes and rewinds it.
    void SetData(const void* data, uint32_t size);

    const uint8_t* data_ = nullptr;
    uint32_t position_ = 0;
    uint32_t size_ = 0;
};

// A readable file over a NUL-terminated text (not owned; it must outlive the file). Bytes come
// out sign-extended, as a signed char holds them: 0x80-0xFE read as negative values and 0xFF
// reads as the end (-1), so a stray 0xFF ends a text as its terminator would. The reading
// position still moves past it. The little-endian reads see every byte as data.
class TextFile final : public BufferFile {
public:
    explicit TextFile(const char* text);

    int ReadByte() override;
};

} // namespace quarn
