#pragma once

#include "core/filesystem/DiskPlace.h"
#include "core/filesystem/FolderSpace.h"
#include "core/io/OutputStream.h"
#include "core/io/Scrambler.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace quarn {

// Writes a disk file whole or not at all: the bytes go to a temporary file in the target's
// folder, which replaces the target only when Close (or the destructor) finds every write,
// the flush and the rename succeeded; the folder is synced after the rename. The folder is held
// open from the start, so the file lands where Open found it. The target keeps its permission
// bits; a link as the target keeps pointing at the file written, which is created where a
// dangling link points (as far as the place may reach). Temporaries that killed saves left in
// the folder are removed by the next save into it. Every failure is noted (NoteFileFailure).
class FileOutputStream : public OutputStream {
public:
    FileOutputStream() = default;
    ~FileOutputStream() override;
    FileOutputStream(const FileOutputStream&) = delete;
    FileOutputStream& operator=(const FileOutputStream&) = delete;

    // One attempt at a place; the file system makes the retries. False when the target is
    // read-only (owner-write bit clear, whoever runs the program) or a folder, or when its
    // folder is missing or refuses a new file. WriteScrambled in flags scrambles every byte.
    bool Open(const DiskPlace& target, uint32_t flags);
    bool Open(const char* nativePath, uint32_t flags);
    // The same for the entry `name` of an open folder, whose descriptor is taken over; a link
    // there is replaced by the file, never written through.
    bool OpenEntry(Descriptor folder, const std::string& name, uint32_t flags);
    // Holds the opens that follow to the folder's cap: a write that would take the folder past
    // it fails the stream, the reason noted (FolderSpace::CapText) and the running script told.
    // Null lifts it; the space must outlive the stream.
    void LimitTo(FolderSpace* space) { space_ = space; }

    int VPrintf(const char* format, va_list arguments) override QUARN_PRINTF(2, 0);
    void PutChar(int byte) override;
    uint32_t Write(const void* data, uint32_t count) override;
    void Flush() override;
    uint32_t Tell() override;
    bool Close() override;
    // Ends the stream leaving the target as it was; Close answers false afterwards.
    void Abandon();

private:
    void WriteScrambledBytes(const uint8_t* data, size_t count);
    // Keeps the first reason a stream failed for.
    void Fail();
    // Whether `more` bytes fit the folder's cap; the stream fails when they do not.
    bool Fits(uint64_t more);

    // Forgets the temporary as under way (RemoveUnfinishedTemporaries).
    void Untrack();

    FILE* handle_ = nullptr;
    Descriptor folder_;
    std::string name_;
    std::string temporaryName_;
    bool scrambled_ = false;
    Scrambler scrambler_;
    bool failed_ = false;
    int error_ = 0;
    bool closeResult_ = false;
    FolderSpace* space_ = nullptr;
    uint64_t written_ = 0;
    uint64_t replaced_ = 0; // the size of the file the stream replaces
    bool capped_ = false;
};

// From now on no stream opens, and none replaces its target: each fails noting ECANCELED and
// leaves the target as it was. For a process asked to stop, which must leave every file whole or
// as it was however far its writes came; safe in a signal handler.
void EndWrites();

// Removes the temporaries of the streams still being written, for a process that must end in
// the middle of a write (a stop signal's last resort): no temporary outlives it. Safe on any
// thread; the streams it cut short then fail, and no stream opens after it.
void RemoveUnfinishedTemporaries();

} // namespace quarn
