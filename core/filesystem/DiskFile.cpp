#include "core/filesystem/DiskFile.h"

#include "core/filesystem/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>

namespace quarn {

namespace {

thread_local uint64_t bytesRead = 0;

uint32_t ClampToUInt32(int64_t value) {
    if (value < 0) {
        return 0;
    }
    return static_cast<uint32_t>(std::min<int64_t>(value, std::numeric_limits<uint32_t>::max()));
}

} // namespace

uint64_t DiskBytesRead() {
    return bytesRead;
}

DiskFile::DiskFile(DiskPlace place)
    : place_(std::move(place)), nativePath_(place_.GetNativePath()) {
    SetName(nativePath_);
    struct stat info;
    isFolder_ = place_.Stat(info) && S_ISDIR(info.st_mode);
}

DiskFile::~DiskFile() {
    CloseHandle();
}

void DiskFile::CloseHandle() {
    if (handle_) {
        fclose(handle_);
        handle_ = nullptr;
    }
}

bool DiskFile::Open(const char* nativePath, uint32_t flags) {
    return Open(DiskPlace::Anywhere(nativePath ? nativePath : ""), flags);
}

bool DiskFile::Open(const DiskPlace& place, uint32_t flags) {
    CloseHandle();
    place_ = place;
    nativePath_ = place_.GetNativePath();
    SetName(nativePath_);
    isFolder_ = false;
    scrambled_ = (flags & OpenScrambled) != 0;
    scrambler_.Reset();
    lastRawByte_ = -1;
    // Opening a pipe for reading would wait for a writer, a terminal might become ours: the
    // open does not wait, and only a regular file is kept.
    Descriptor file = place_.Open(O_RDONLY | O_NONBLOCK | O_NOCTTY);
    struct stat info;
    if (!file.IsOpen() || fstat(file.Get(), &info) != 0) {
        NoteFileFailure(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        NoteFileFailure(EISDIR);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        NoteFileFailure(NotAFileReason);
        return false;
    }
    const int status = fcntl(file.Get(), F_GETFL);
    handle_ = status < 0 || fcntl(file.Get(), F_SETFL, status & ~O_NONBLOCK) != 0
                  ? nullptr
                  : fdopen(file.Get(), "rb");
    if (!handle_) {
        NoteFileFailure(errno);
        return false;
    }
    file.Release();
    return true;
}

std::unique_ptr<File> DiskFile::GetParent() {
    return std::make_unique<DiskFile>(place_.Parent());
}

int DiskFile::ListFolder() {
    entries_.clear();
    // One open of the folder serves every entry that is no link; a link is followed through
    // the place, so only as far as the place may reach.
    const Descriptor folder = place_.Open(O_PATH | O_DIRECTORY);
    if (!folder.IsOpen()) {
        return 0;
    }
    for (std::string& name : quarn::ListFolder(folder.Get())) {
        struct stat info;
        bool found = fstatat(folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
        if (found && S_ISLNK(info.st_mode)) {
            found = place_.Child(name).Stat(info);
        }
        const bool isFolder = found && S_ISDIR(info.st_mode);
        entries_.push_back({std::move(name), isFolder});
    }
    // Listing order is arbitrary on Linux and GetChild indexes the list: sort it.
    std::sort(entries_.begin(), entries_.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return static_cast<int>(entries_.size());
}

std::unique_ptr<File> DiskFile::GetChild(int index) {
    if (index < 0 || static_cast<size_t>(index) >= entries_.size()) {
        return nullptr;
    }
    const Entry& entry = entries_[static_cast<size_t>(index)];
    auto child = std::make_unique<DiskFile>();
    child->place_ = place_.Child(entry.name);
    child->nativePath_ = child->place_.GetNativePath();
    child->SetName(child->nativePath_);
    child->isFolder_ = entry.isFolder;
    return child;
}

int DiskFile::ReadByte() {
    if (!handle_) {
        return -1;
    }
    int raw = fgetc(handle_);
    if (raw == EOF) {
        lastRawByte_ = -1;
        return -1;
    }
    lastRawByte_ = raw;
    ++bytesRead;
    return scrambled_ ? scrambler_.Unscramble(static_cast<uint8_t>(raw)) : raw;
}

void DiskFile::UnreadByte() {
    if (!handle_ || lastRawByte_ < 0) {
        return;
    }
    ungetc(lastRawByte_, handle_);
    if (scrambled_) {
        scrambler_.StepBack();
    }
    lastRawByte_ = -1;
}

uint32_t DiskFile::Read(void* buffer, uint32_t count) {
    if (!handle_ || !buffer || count == 0) {
        return 0;
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    uint32_t got = static_cast<uint32_t>(fread(bytes, 1, count, handle_));
    if (got == 0) {
        lastRawByte_ = -1;
        return 0;
    }
    lastRawByte_ = bytes[got - 1];
    bytesRead += got;
    if (scrambled_) {
        for (uint32_t i = 0; i < got; ++i) {
            bytes[i] = scrambler_.Unscramble(bytes[i]);
        }
    }
    return got;
}

uint32_t DiskFile::GetSize() {
    struct stat info;
    if (handle_) {
        if (fstat(fileno(handle_), &info) != 0) {
            return 0;
        }
    } else if (!place_.Stat(info)) {
        return 0;
    }
    return ClampToUInt32(info.st_size);
}

bool DiskFile::Seek(uint32_t position) {
    if (!handle_) {
        return false;
    }
    lastRawByte_ = -1;
    if (!scrambled_) {
        return fseeko(handle_, static_cast<off_t>(position), SEEK_SET) == 0;
    }
    if (fseeko(handle_, 0, SEEK_SET) != 0) {
        return false;
    }
    scrambler_.Reset();
    uint8_t chunk[4096];
    uint32_t left = position;
    while (left > 0) {
        uint32_t got = Read(chunk, std::min<uint32_t>(left, sizeof(chunk)));
        if (got == 0) {
            return false;
        }
        left -= got;
    }
    lastRawByte_ = -1;
    return true;
}

uint32_t DiskFile::Tell() {
    return handle_ ? ClampToUInt32(ftello(handle_)) : 0;
}

bool DiskFile::IsEof() {
    return !handle_ || feof(handle_) != 0;
}

} // namespace quarn
