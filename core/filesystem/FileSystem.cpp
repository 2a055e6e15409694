#include "core/filesystem/FileSystem.h"

namespace quarn {

namespace {

FileSystem* programFileSystem = nullptr;

} // namespace

FileSystem* GetFileSystem() {
    return programFileSystem;
}

void SetFileSystem(FileSystem* fileSystem) {
    programFileSystem = fileSystem;
}

} // namespace quarn
