#include "core/filesystem/DiskFile.h"

#include "core/filesystem/FileSystem.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <limits>
#include <sys/stat.h>

namespace quarn {

namespace {

uint32_t ClampToUInt32(int64_t value) {
    if (value < 0) {
        return 0;
    }
    return static_cast<uint32_t>(std::min<int64_t>(value, std::numeric_limits<uint32_t>::max()));
}

} // namespace

DiskFile::DiskFile(std::string nativePath) : nativePath_(std::move(nativePath)) {
    SetName(nativePath_);
    struct stat info;
    isFolder_ = stat(nativePath_.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
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
    CloseHandle();
    nativePath_ = nativePath ? nativePath : "";
    SetName(nativePath_);
    isFolder_ = false;
    scrambled_ = (flags & OpenScrambled) != 0;
    scrambler_.Reset();
    lastRawByte_ = -1;
    handle_ = fopen(nativePath_.c_str(), "rb");
    if (!handle_) {
        return false;
    }
    // Linux opens folders for reading; a folder is not a file to read.
    struct stat info;
    if (fstat(fileno(handle_), &info) != 0 || S_ISDIR(info.st_mode)) {
        CloseHandle();
        return false;
    }
    return true;
}

std::unique_ptr<File> DiskFile::GetParent() {
    std::string folder = nativePath_;
    if (!folder.empty() && folder.back() == '/') {
        folder.pop_back();
    }
    size_t slash = folder.rfind('/');
    if (slash == std::string::npos) {
        folder.clear();
    } else {
        // The parent of "/a" is the root, not the empty (current-folder) path.
        folder.resize(slash == 0 ? 1 : slash);
    }
    return std::make_unique<DiskFile>(std::move(folder));
}

int DiskFile::ListFolder() {
    entries_.clear();
    std::string folder = nativePath_.empty() ? std::string(".") : nativePath_;
    DIR* listing = opendir(folder.c_str());
    if (!listing) {
        return 0;
    }
    if (folder.back() != '/') {
        folder += '/';
    }
    while (dirent* entry = readdir(listing)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        struct stat info;
        bool isFolder = stat((folder + entry->d_name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        entries_.push_back({entry->d_name, isFolder});
    }
    closedir(listing);
    // Listing order is arbitrary on Linux and GetChild indexes the list: sort it.
    std::sort(entries_.begin(), entries_.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return static_cast<int>(entries_.size());
}

std::unique_ptr<File> DiskFile::GetChild(int index) {
    if (index < 0 || static_cast<size_t>(index) >= entries_.size()) {
        return nullptr;
    }
    std::string path = nativePath_;
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    path += entries_[static_cast<size_t>(index)].name;
    auto child = std::make_unique<DiskFile>();
    child->nativePath_ = path;
    child->SetName(std::move(path));
    child->isFolder_ = entries_[static_cast<size_t>(index)].isFolder;
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
    } else if (stat(nativePath_.c_str(), &info) != 0) {
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
