#include "core/filesystem/EmbeddedFile.h"

#include "core/filesystem/EmbeddedFiles.h"
#include "core/string/Text.h"

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
    SetData(nullptr, 0);
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
    SetData(entry.data, entry.size);
    SetName(path);
    return true;
}

} // namespace quarn
