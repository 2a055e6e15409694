#include "core/filesystem/FileOutputStream.h"

#include "core/filesystem/FileSystem.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quarn {

namespace {

// Keeps the temporary name within NAME_MAX however long the target's name is.
constexpr size_t TemporaryNameStemLength = 200;

uint32_t temporaryCounter = 0;

// Link hops followed before a chain counts as a loop, as the kernel counts them.
constexpr int MaxLinkHops = 40;

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The file a write to `path` must replace: the path itself, or what its chain of links points
// at, which need not exist yet. Empty for a chain that loops.
std::string FinalTarget(std::string path) {
    for (int hop = 0; hop < MaxLinkHops; ++hop) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return path;
        }
        std::vector<char> target(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
        ssize_t length = readlink(path.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<size_t>(length) >= target.size()) {
            return path; // changed meanwhile or unreadable: the rename replaces the link itself
        }
        std::string next(target.data(), static_cast<size_t>(length));
        path = next[0] == '/' ? next : FolderOf(path) + next;
    }
    return "";
}

// Whether a name is one this writer gives its temporaries (".<stem>.<pid>-<n>.tmp"); `pid`
// receives the process that made it.
bool IsTemporaryName(const std::string& name, pid_t& pid) {
    constexpr std::string_view Suffix = ".tmp";
    if (name.size() < 1 + Suffix.size() || name[0] != '.' || !name.ends_with(Suffix)) {
        return false;
    }
    const std::string_view body(name.data(), name.size() - Suffix.size());
    const size_t dot = body.rfind('.');
    const size_t dash = body.rfind('-');
    if (dot == 0 || dot == std::string_view::npos || dash == std::string_view::npos ||
        dash < dot + 2 || dash + 1 == body.size()) {
        return false;
    }
    const std::string_view process = body.substr(dot + 1, dash - dot - 1);
    const std::string_view counter = body.substr(dash + 1);
    auto digits = [](std::string_view text) {
        return text.size() <= 9 && text.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (!digits(process) || !digits(counter)) {
        return false;
    }
    pid = static_cast<pid_t>(std::stol(std::string(process)));
    return pid > 0;
}

// A save that was killed leaves its temporary behind; the next save into the folder removes
// those whose process no longer runs.
void RemoveStaleTemporaries(const std::string& folder) {
    DIR* entries = opendir(folder.empty() ? "." : folder.c_str());
    if (!entries) {
        return;
    }
    const pid_t self = getpid();
    while (const dirent* entry = readdir(entries)) {
        const std::string name = entry->d_name;
        pid_t owner = 0;
        if (!IsTemporaryName(name, owner) || owner == self ||
            !(kill(owner, 0) != 0 && errno == ESRCH)) {
            continue;
        }
        const std::string path = folder + name;
        struct stat info;
        if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            unlink(path.c_str());
        }
    }
    closedir(entries);
}

// A renamed file survives a power loss only once its folder's entry is on the disk too. File
// systems that cannot sync a folder say EINVAL; there the rename is all there is.
bool SyncFolder(const std::string& folder) {
    int descriptor =
        open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    bool synced = fsync(descriptor) == 0 || errno == EINVAL;
    close(descriptor);
    return synced;
}

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

    // Writing through a link replaces what it points at and keeps the link, also when the file
    // it points at does not exist yet.
    targetPath_ = FinalTarget(targetPath_);
    if (targetPath_.empty()) {
        return false;
    }
    struct stat info;
    bool replacing = stat(targetPath_.c_str(), &info) == 0;
    if (replacing && (S_ISDIR(info.st_mode) || (info.st_mode & S_IWUSR) == 0)) {
        return false;
    }

    std::string folder = FolderOf(targetPath_);
    RemoveStaleTemporaries(folder);
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
    } else if (!SyncFolder(FolderOf(targetPath_))) {
        // The new file is in place but not known to last; the caller hears of it.
        failed_ = true;
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
