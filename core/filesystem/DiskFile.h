#pragma once

#include "core/filesystem/DiskPlace.h"
#include "core/io/File.h"
#include "core/io/Scrambler.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

// A file on disk, read as bytes, or a folder whose entries can be listed and walked. Places
// are native: the file system has already applied its schemes, base folder and case lookup,
// and decided how far the place may reach; walking a folder stays within that reach.
class DiskFile : public File {
public:
    DiskFile() = default;
    // A folder or file object for walking (GetParent, ListFolder, GetChild); not opened.
    explicit DiskFile(DiskPlace place);
    ~DiskFile() override;
    DiskFile(const DiskFile&) = delete;
    DiskFile& operator=(const DiskFile&) = delete;

    // Opens a file for reading without waiting on it: false for a missing file, a folder and
    // anything that is no regular file (a pipe, a device, a socket), with NoteFileFailure
    // saying why. With OpenScrambled in flags the bytes are unscrambled as they are read.
    bool Open(const DiskPlace& place, uint32_t flags);
    bool Open(const char* nativePath, uint32_t flags);

    const std::string& GetNativePath() const { return nativePath_; }
    // Where the file lies, with the reach it was given: Open(GetPlace()) opens a listed entry.
    const DiskPlace& GetPlace() const { return place_; }
    // The open file's descriptor, -1 when none is open; it stays the file's.
    int GetDescriptor() const { return handle_ ? fileno(handle_) : -1; }
    // What the place leads to now, links followed only as far as the place may reach.
    bool Stat(struct stat& info) const { return place_.Stat(info); }

    std::unique_ptr<File> GetParent() override;
    // Entries sorted by name, "." and ".." left out; 0 when the folder cannot be listed.
    int ListFolder() override;
    std::unique_ptr<File> GetChild(int index) override;
    bool IsDirectory() const override { return isFolder_; }
    int GetKind() const override { return 2; }

    int ReadByte() override;
    // One byte of push-back only: a second call before the next read does nothing.
    void UnreadByte() override;
    uint32_t Read(void* buffer, uint32_t count) override;
    uint32_t GetSize() override;
    // A scrambled file is rewound and read forward, since each byte's key depends on all the
    // bytes before it.
    bool Seek(uint32_t position) override;
    uint32_t Tell() override;
    bool IsEof() override;

private:
    struct Entry {
        std::string name;
        bool isFolder;
    };

    void CloseHandle();

    DiskPlace place_;
    std::string nativePath_;
    FILE* handle_ = nullptr;
    std::vector<Entry> entries_;
    bool isFolder_ = false;
    bool scrambled_ = false;
    Scrambler scrambler_;
    // The raw byte UnreadByte gives back; -1 when there is none.
    int lastRawByte_ = -1;
};

// Bytes this thread has read from disk files so far: what a load read, taken as the difference
// around it, charges its script (a packed member is charged as it is inflated instead).
uint64_t DiskBytesRead();

} // namespace quarn
