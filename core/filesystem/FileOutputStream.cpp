#include "core/filesystem/FileOutputStream.h"

#include "core/filesystem/FileSystem.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quarn {

namespace {

// Keeps the temporary name within NAME_MAX however long the target's name is.
constexpr size_t TemporaryNameStemLength = 200;

uint32_t temporaryCounter = 0;

} // namespace

FileOutputStream::~FileOutputStream() {
    Close();
}

bool FileOutputStream::Open(const char* nativePath, uint32_t flags) {
    Close();
    failed_ = false;
    closeResult_ = false;
    scrambled_ = (flags & WriteScrambled) != 0;
    scrambler_.Reset();
    targetPath_ = nativePath ? nativePath : "";
    if (targetPath_.empty() || targetPath_.back() == '/') {
        return false;
    }

    // Writing through a link replaces what it points at and keeps the link.
    struct stat info;
    if (lstat(targetPath_.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* real = realpath(targetPath_.c_str(), nullptr)) {
            targetPath_ = real;
            free(real);
        }
    }
    bool replacing = stat(targetPath_.c_str(), &info) == 0;
    if (replacing && (S_ISDIR(info.st_mode) || (info.st_mode & S_IWUSR) == 0)) {
        return false;
    }

    size_t slash = targetPath_.rfind('/');
    std::string folder = slash == std::string::npos ? "" : targetPath_.substr(0, slash + 1);
    std::string stem = targetPath_.substr(folder.size(), TemporaryNameStemLength);
    int descriptor = -1;
    for (int attempt = 0; attempt < 100 && descriptor < 0; ++attempt) {
        temporaryPath_ = folder + "." + stem + "." + std::to_string(getpid()) + "-" +
                         std::to_string(++temporaryCounter) + ".tmp";
        // 0666 lets the umask decide, as for any new file.
        descriptor = open(temporaryPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0 && errno != EEXIST) {
            break;
        }
    }
    if (descriptor < 0) {
        temporaryPath_.clear();
        return false;
    }
    if (replacing) {
        fchmod(descriptor, info.st_mode & 07777);
    }
    handle_ = fdopen(descriptor, "wb");
    if (!handle_) {
        close(descriptor);
        unlink(temporaryPath_.c_str());
        temporaryPath_.clear();
        return false;
    }
    return true;
}

int FileOutputStream::VPrintf(const char* format, va_list arguments) {
    if (!handle_) {
        return -1;
    }
    if (!scrambled_) {
        int written = vfprintf(handle_, format, arguments);
        if (written < 0) {
            failed_ = true;
        }
        return written;
    }
    // Scrambled text is formatted first; a long text must not be dropped.
    va_list measuring;
    va_copy(measuring, arguments);
    int length = vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length < 0) {
        failed_ = true;
        return length;
    }
    std::vector<char> text(static_cast<size_t>(length) + 1);
    vsnprintf(text.data(), text.size(), format, arguments);
    WriteScrambledBytes(reinterpret_cast<const uint8_t*>(text.data()), static_cast<size_t>(length));
    return length;
}

void FileOutputStream::PutChar(int byte) {
    if (!handle_) {
        return;
    }
    uint8_t plain = static_cast<uint8_t>(byte);
    if (scrambled_) {
        WriteScrambledBytes(&plain, 1);
    } else if (fputc(plain, handle_) == EOF) {
        failed_ = true;
    }
}

uint32_t FileOutputStream::Write(const void* data, uint32_t count) {
    if (!handle_ || !data) {
        return 0;
    }
    if (scrambled_) {
        WriteScrambledBytes(static_cast<const uint8_t*>(data), count);
        return failed_ ? 0 : count;
    }
    size_t written = fwrite(data, 1, count, handle_);
    if (written != count) {
        failed_ = true;
    }
    return static_cast<uint32_t>(written);
}

void FileOutputStream::WriteScrambledBytes(const uint8_t* data, size_t count) {
    uint8_t chunk[4096];
    while (count > 0) {
        size_t part = count < sizeof(chunk) ? count : sizeof(chunk);
        for (size_t i = 0; i < part; ++i) {
            chunk[i] = scrambler_.Scramble(data[i]);
        }
        if (fwrite(chunk, 1, part, handle_) != part) {
            failed_ = true;
            return;
        }
        data += part;
        count -= part;
    }
}

void FileOutputStream::Flush() {
    if (handle_ && fflush(handle_) != 0) {
        failed_ = true;
    }
}

uint32_t FileOutputStream::Tell() {
    if (!handle_) {
        return 0;
    }
    off_t position = ftello(handle_);
    return position < 0 ? 0 : position > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(position);
}

bool FileOutputStream::Close() {
    if (!handle_) {
        return closeResult_;
    }
    // The bytes must be on the disk before the rename makes them the file.
    if (!failed_ && (fflush(handle_) != 0 || fsync(fileno(handle_)) != 0)) {
        failed_ = true;
    }
    if (fclose(handle_) != 0) {
        failed_ = true;
    }
    handle_ = nullptr;
    if (!failed_ && rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) {
        failed_ = true;
    }
    if (failed_) {
        unlink(temporaryPath_.c_str());
    }
    temporaryPath_.clear();
    closeResult_ = !failed_;
    return closeResult_;
}

void FileOutputStream::Abandon() {
    failed_ = true;
    Close();
}

} // namespace quarn
