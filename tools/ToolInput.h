#pragma once

// The input file of a quarn-tool command, read through the engine's file layer.

#include "core/filesystem/FileSystem.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

// The whole file at the virtual path; false with "cannot open PATH" as the reason when it
// cannot be opened.
inline bool ReadToolInput(const char* path, std::vector<uint8_t>& bytes, std::string& reason) {
    std::unique_ptr<File> file = GetFileSystem()->Open(path, 0);
    if (!file) {
        reason = std::string("cannot open ") + path;
        return false;
    }
    bytes = file->ReadRemaining();
    return true;
}

} // namespace quarn
