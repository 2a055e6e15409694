#pragma once

#include "core/io/File.h"

#include <cstdint>
#include <memory>
#include <string>

namespace quarn {

class FileSystem;

// The archives a file system has mounted: each ".zip" or ".zoo" file is read into memory on the
// first use of a path through it and stays mounted until the file system goes. A ".zoo" is a
// zip stored through the scrambling pass as a whole.
class ArchiveSet {
public:
    // Archives are read through `fileSystem` (as native paths).
    explicit ArchiveSet(FileSystem& fileSystem);
    ~ArchiveSet();
    ArchiveSet(const ArchiveSet&) = delete;
    ArchiveSet& operator=(const ArchiveSet&) = delete;

    // Splits a native path at its first ".zip/" segment, else its first ".zoo/" (both found
    // without case): the archive path up to and including the extension, and the entry name
    // after the '/'. False when the path has no such segment.
    static bool SplitArchivePath(const char* nativePath, std::string& archive, std::string& entry);

    // The entry named by a native path through an archive, inflated whole into memory; entry
    // names compare without case. With OpenScrambled in flags the entry's bytes are
    // unscrambled. Null when the archive or the entry is missing or broken.
    std::unique_ptr<File> OpenEntry(const char* nativePath, uint32_t flags);

    // FileAttributes of the entry a native path names; FileMissing when the archive or the
    // entry is missing or broken.
    uint32_t GetEntryAttributes(const char* nativePath);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace quarn
