#include "resources/EmbeddedFile.h"

#include "core/Text.h"
#include "resources/EmbeddedFiles.h"

#include <algorithm>
#include <cstring>

namespace quarn {

namespace {

constexpr char ResourceScheme[] = "res://";
constexpr size_t ResourceSchemeLength = sizeof(ResourceScheme) - 1;

} // namespace

uint32_t EmbeddedFile::Find(const char* name) {
    if (!name) {
        return 0;
    }
    std::span<const EmbeddedFileEntry> table = EmbeddedFileTable();
    for (size_t i = 0; i < table.size(); ++i) {
        if (CompareNoCase(table[i].name, name) == 0) {
            return static_cast<uint32_t>(i + 1);
        }
    }
    return 0;
}

bool EmbeddedFile::Open(const char* path) {
    data_ = nullptr;
    size_ = 0;
    position_ = 0;
    if (!path || strlen(path) < ResourceSchemeLength) {
        return false;
    }
    for (size_t i = 0; i < ResourceSchemeLength; ++i) {
        if (ToLowerAscii(path[i]) != ResourceScheme[i]) {
            return false;
        }
    }
    uint32_t id = Find(path + ResourceSchemeLength);
    if (id == 0) {
        return false;
    }
    const EmbeddedFileEntry& entry = EmbeddedFileTable()[id - 1];
    data_ = entry.data;
    size_ = entry.size;
    SetName(path);
    return true;
}

int EmbeddedFile::ReadByte() {
    if (position_ >= size_) {
        return -1;
    }
    return data_[position_++];
}

void EmbeddedFile::UnreadByte() {
    if (position_ > 0) {
        --position_;
    }
}

uint32_t EmbeddedFile::Read(void* buffer, uint32_t count) {
    if (!buffer || position_ >= size_) {
        return 0;
    }
    uint32_t copied = std::min(count, size_ - position_);
    memcpy(buffer, data_ + position_, copied);
    position_ += copied;
    return copied;
}

bool EmbeddedFile::Seek(uint32_t position) {
    position_ = position;
    return position <= size_;
}

} // namespace quarn
