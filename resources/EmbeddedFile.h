#pragma once

#include "core/File.h"

#include <cstdint>

namespace quarn {

// A file built into the program ("res://" + name), read from memory; the bytes belong to the
// program image, not to the file.
class EmbeddedFile : public File {
public:
    // Index + 1 of the table entry called `name` (compared without case); 0 when there is none.
    static uint32_t Find(const char* name);

    // Opens "res://" + name (the scheme compared without case); false when the name is not in
    // the table.
    bool Open(const char* path);

    int GetKind() const override { return 2; }

    int ReadByte() override;
    // Stays at the start rather than stepping before it.
    void UnreadByte() override;
    uint32_t Read(void* buffer, uint32_t count) override;
    uint32_t GetSize() override { return size_; }
    // A position past the end reads nothing; false then.
    bool Seek(uint32_t position) override;
    uint32_t Tell() override { return position_; }
    bool IsEof() override { return position_ >= size_; }

private:
    const unsigned char* data_ = nullptr;
    uint32_t size_ = 0;
    uint32_t position_ = 0;
};

} // namespace quarn
