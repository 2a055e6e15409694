#include "core/filesystem/MemoryFileSystem.h"

#include "core/io/BufferFile.h"
#include "core/io/GrowingOutputStream.h"
#include "core/io/Scrambler.h"
#include "core/string/Text.h"

#include <algorithm>
#include <cerrno>

namespace quarn {

// A copy of a served file that tells the file system when it goes away.
class MemoryFileSystem::ServedFile final : public BufferFile {
public:
    ServedFile(MemoryFileSystem& owner, std::string bytes)
        : owner_(owner), bytes_(std::move(bytes)) {
        SetData(bytes_.data(), static_cast<uint32_t>(bytes_.size()));
        ++owner_.liveFiles_;
    }
    ~ServedFile() override { --owner_.liveFiles_; }

private:
    MemoryFileSystem& owner_;
    std::string bytes_;
};

// Collects in memory; the text arrives only through a successful Close.
class MemoryFileSystem::CollectingStream final : public OutputStream {
public:
    CollectingStream(MemoryFileSystem& owner, std::string path)
        : owner_(owner), path_(std::move(path)) {}

    int VPrintf(const char* format, va_list arguments) override QUARN_PRINTF(2, 0) {
        return memory_.VPrintf(format, arguments);
    }
    void PutChar(int byte) override { memory_.PutChar(byte); }
    uint32_t Write(const void* data, uint32_t count) override { return memory_.Write(data, count); }
    void Flush() override {}
    uint32_t Tell() override { return memory_.Tell(); }
    // A file written whole, as on disk, lets the next failed write be told again.
    bool Close() override {
        if (owner_.closeSucceeds_) {
            owner_.written_[path_] = memory_.GetText();
            NoteWriteSucceeded();
        }
        return owner_.closeSucceeds_;
    }

private:
    MemoryFileSystem& owner_;
    std::string path_;
    GrowingOutputStream memory_;
};

void MemoryFileSystem::Add(const std::string& path, std::string_view bytes) {
    files_[path] = std::string(bytes);
}

void MemoryFileSystem::Add(const std::string& path, const std::vector<uint8_t>& bytes) {
    files_[path] = std::string(bytes.begin(), bytes.end());
}

int MemoryFileSystem::OpenCount(const std::string& path) const {
    auto found = opens_.find(path);
    return found == opens_.end() ? 0 : found->second;
}

const std::string* MemoryFileSystem::Written(const std::string& path) const {
    auto found = written_.find(path);
    return found == written_.end() ? nullptr : &found->second;
}

std::unique_ptr<File> MemoryFileSystem::OpenNativeFile(const char*) {
    return std::make_unique<ServedFile>(*this, std::string());
}

std::unique_ptr<File> MemoryFileSystem::Open(const char* path, uint32_t flags) {
    ++opens_[path];
    lastOpenFlags_ = flags;
    auto found = files_.find(path);
    if (found == files_.end()) {
        return nullptr;
    }
    std::string bytes = found->second;
    if ((flags & OpenScrambled) != 0) {
        Scrambler scrambler;
        for (char& byte : bytes) {
            byte = static_cast<char>(scrambler.Unscramble(static_cast<uint8_t>(byte)));
        }
    }
    auto file = std::make_unique<ServedFile>(*this, std::move(bytes));
    file->SetName(path);
    return file;
}

std::unique_ptr<OutputStream> MemoryFileSystem::OpenForWrite(const char* path, uint32_t flags) {
    lastWriteFlags_ = flags;
    if (readOnly_.count(path) != 0) {
        NoteFileFailure(EACCES);
        return nullptr;
    }
    return std::make_unique<CollectingStream>(*this, path);
}

uint32_t MemoryFileSystem::GetAttributes(const char* path) {
    return files_.count(path) != 0 ? 0u : static_cast<uint32_t>(FileMissing);
}

bool MemoryFileSystem::IsInsideGame(const char* path, uint32_t) const {
    std::string text = path ? path : "";
    std::replace(text.begin(), text.end(), '\\', '/');
    if (StartsWithNoCase(text.c_str(), "user://") || StartsWithNoCase(text.c_str(), "res://")) {
        text = text.substr(text.find("://") + 3);
    }
    if ((!text.empty() && text[0] == '/') || text.find(':') != std::string::npos) {
        return false;
    }
    int depth = 0;
    size_t begin = 0;
    for (;;) {
        const size_t end = text.find('/', begin);
        const std::string name = text.substr(begin, end == std::string::npos ? end : end - begin);
        if (name == "..") {
            if (--depth < 0) {
                return false;
            }
        } else if (!name.empty() && name != ".") {
            ++depth;
        }
        if (end == std::string::npos) {
            return true;
        }
        begin = end + 1;
    }
}

bool MemoryFileSystem::GetNativePath(PathString& out, const char* path) const {
    out.Set(path);
    return true;
}

} // namespace quarn
