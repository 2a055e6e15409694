#include "core/filesystem/FileOutputStream.h"

#include "core/filesystem/FileSystem.h"
#include "core/os/EngineWork.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
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

// The temporaries being written now, each with a descriptor of its folder of its own, which the
// ending thread may use while the stream's is being closed. Never destroyed: that thread may
// look at them while the process's own end destroys its objects.
struct UnfinishedTemporary {
    const FileOutputStream* stream;
    int folder;
    std::string name;
};
struct UnfinishedTemporaries {
    std::mutex mutex;
    std::vector<UnfinishedTemporary> list;
    bool removed = false; // by a stop: the process is ending
};
// Set by a stop signal's handler: no stream opens or replaces its target from then on.
std::atomic<bool> writesEnded{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

UnfinishedTemporaries& Unfinished() {
    static auto* unfinished = new UnfinishedTemporaries();
    return *unfinished;
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
void RemoveStaleTemporaries(int folder) {
    const pid_t self = getpid();
    for (const std::string& name : ListFolder(folder)) {
        pid_t owner = 0;
        if (!IsTemporaryName(name, owner) || owner == self ||
            !(kill(owner, 0) != 0 && errno == ESRCH)) {
            continue;
        }
        struct stat info;
        if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode)) {
            unlinkat(folder, name.c_str(), 0);
        }
    }
}

// A renamed file survives a power loss only once its folder's entry is on the disk too. File
// systems that cannot sync a folder say EINVAL; there the rename is all there is.
bool SyncFolder(int folder) {
    const Descriptor readable(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return readable.IsOpen() && (fsync(readable.Get()) == 0 || errno == EINVAL);
}

} // namespace

FileOutputStream::~FileOutputStream() {
    Close();
}

bool FileOutputStream::Open(const char* nativePath, uint32_t flags) {
    return Open(DiskPlace::Anywhere(nativePath ? nativePath : ""), flags);
}

bool FileOutputStream::Open(const DiskPlace& target, uint32_t flags) {
    Close();
    const std::string native = target.GetNativePath();
    if (native.empty() || native.back() == '/') {
        NoteFileFailure(native.empty() ? ENOENT : EISDIR);
        return false;
    }
    // Writing through a link replaces what it points at and keeps the link, also when the file
    // it points at does not exist yet. The folder opened to read a link is the one written in.
    DiskPlace place = target;
    for (int hop = 0;; ++hop) {
        std::string name;
        Descriptor folder = place.OpenFolder(name);
        if (!folder.IsOpen()) {
            NoteFileFailure(errno);
            return false;
        }
        std::string link;
        if (!ReadLinkAt(folder.Get(), name.c_str(), link)) {
            return OpenEntry(std::move(folder), name, flags);
        }
        if (hop == MaxLinkHops) {
            NoteFileFailure(ELOOP);
            return false;
        }
        place = place.LinkTarget(link);
    }
}

bool FileOutputStream::OpenEntry(Descriptor folder, const std::string& name, uint32_t flags) {
    Close();
    failed_ = false;
    error_ = 0;
    closeResult_ = false;
    written_ = 0;
    replaced_ = 0;
    capped_ = false;
    scrambled_ = (flags & WriteScrambled) != 0;
    scrambler_.Reset();
    struct stat info;
    const bool exists = fstatat(folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    const bool replacing = exists && !S_ISLNK(info.st_mode);
    if (replacing && (S_ISDIR(info.st_mode) || (info.st_mode & S_IWUSR) == 0)) {
        NoteFileFailure(S_ISDIR(info.st_mode) ? EISDIR : EACCES);
        return false;
    }
    if (replacing && S_ISREG(info.st_mode)) {
        replaced_ = HeldFileBytes(static_cast<uint64_t>(info.st_size));
    }

    // Even the empty file must fit; asked before the temporary is made, which the folder's
    // first measure would count as one more file.
    if (space_ && !space_->Allows(HeldFileBytes(0), replaced_)) {
        capped_ = true;
        FolderSpace::Refuse();
        NoteFileFailure(FolderSpace::CapText().c_str());
        return false;
    }
    RemoveStaleTemporaries(folder.Get());
    const std::string stem = name.substr(0, TemporaryNameStemLength);
    int descriptor = -1;
    {
        // Made and recorded under one lock, so a stop's removal finds every temporary made
        // before it, and none is made after it to outlive the process.
        UnfinishedTemporaries& unfinished = Unfinished();
        const std::lock_guard<std::mutex> lock(unfinished.mutex);
        if (unfinished.removed || writesEnded.load()) {
            NoteFileFailure(ECANCELED);
            return false;
        }
        for (int attempt = 0; attempt < 100 && descriptor < 0; ++attempt) {
            temporaryName_ = "." + stem + "." + std::to_string(getpid()) + "-" +
                             std::to_string(++temporaryCounter) + ".tmp";
            // 0666 lets the umask decide, as for any new file.
            descriptor = openat(folder.Get(), temporaryName_.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (descriptor < 0 && errno != EEXIST) {
                break;
            }
        }
        if (descriptor < 0) {
            NoteFileFailure(errno);
            temporaryName_.clear();
            return false;
        }
        const int ownFolder = fcntl(folder.Get(), F_DUPFD_CLOEXEC, 0);
        if (ownFolder >= 0) {
            unfinished.list.push_back({this, ownFolder, temporaryName_});
        }
    }
    if (replacing) {
        fchmod(descriptor, info.st_mode & 07777);
    }
    handle_ = fdopen(descriptor, "wb");
    if (!handle_) {
        NoteFileFailure(errno);
        close(descriptor);
        unlinkat(folder.Get(), temporaryName_.c_str(), 0);
        Untrack();
        temporaryName_.clear();
        return false;
    }
    folder_ = std::move(folder);
    name_ = name;
    return true;
}

void FileOutputStream::Untrack() {
    UnfinishedTemporaries& unfinished = Unfinished();
    const std::lock_guard<std::mutex> lock(unfinished.mutex);
    for (auto at = unfinished.list.begin(); at != unfinished.list.end(); ++at) {
        if (at->stream == this) {
            close(at->folder);
            unfinished.list.erase(at);
            return;
        }
    }
}

void EndWrites() {
    writesEnded.store(true);
}

void RemoveUnfinishedTemporaries() {
    UnfinishedTemporaries& unfinished = Unfinished();
    const std::lock_guard<std::mutex> lock(unfinished.mutex);
    for (const UnfinishedTemporary& temporary : unfinished.list) {
        unlinkat(temporary.folder, temporary.name.c_str(), 0);
    }
    unfinished.removed = true;
}

void FileOutputStream::Fail() {
    if (!failed_) {
        error_ = errno;
    }
    failed_ = true;
}

bool FileOutputStream::Fits(uint64_t more) {
    if (!space_ || failed_) {
        written_ += more;
        return !failed_;
    }
    if (space_->Allows(HeldFileBytes(written_ + more), replaced_)) {
        written_ += more;
        return true;
    }
    if (!capped_) {
        capped_ = true;
        FolderSpace::Refuse();
    }
    errno = EDQUOT;
    Fail();
    return false;
}

int FileOutputStream::VPrintf(const char* format, va_list arguments) {
    if (!handle_) {
        return -1;
    }
    if (!scrambled_) {
        int written = vfprintf(handle_, format, arguments);
        if (written < 0) {
            Fail();
        } else {
            Fits(static_cast<uint64_t>(written));
        }
        return written;
    }
    // Scrambled text is formatted first; a long text must not be dropped.
    va_list measuring;
    va_copy(measuring, arguments);
    int length = vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length < 0) {
        Fail();
        return length;
    }
    std::vector<char> text(static_cast<size_t>(length) + 1);
    vsnprintf(text.data(), text.size(), format, arguments);
    if (!Fits(static_cast<uint64_t>(length))) {
        return -1;
    }
    WriteScrambledBytes(reinterpret_cast<const uint8_t*>(text.data()), static_cast<size_t>(length));
    return length;
}

void FileOutputStream::PutChar(int byte) {
    if (!handle_) {
        return;
    }
    uint8_t plain = static_cast<uint8_t>(byte);
    if (!Fits(1)) {
        return;
    }
    if (scrambled_) {
        WriteScrambledBytes(&plain, 1);
    } else if (fputc(plain, handle_) == EOF) {
        Fail();
    }
}

uint32_t FileOutputStream::Write(const void* data, uint32_t count) {
    if (!handle_ || !data || !Fits(count)) {
        return 0;
    }
    if (scrambled_) {
        WriteScrambledBytes(static_cast<const uint8_t*>(data), count);
        return failed_ ? 0 : count;
    }
    size_t written = fwrite(data, 1, count, handle_);
    if (written != count) {
        Fail();
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
            Fail();
            return;
        }
        data += part;
        count -= part;
    }
}

void FileOutputStream::Flush() {
    if (handle_ && fflush(handle_) != 0) {
        Fail();
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
    ChargeFileWritten(Tell());
    // Even an empty file takes its room (HeldFileBytes), which no write asked for.
    Fits(0);
    // The bytes must be on the disk before the rename makes them the file.
    if (!failed_ && (fflush(handle_) != 0 || fsync(fileno(handle_)) != 0)) {
        Fail();
    }
    if (fclose(handle_) != 0) {
        Fail();
    }
    handle_ = nullptr;
    if (!failed_ && writesEnded.load()) {
        errno = ECANCELED;
        Fail();
    }
    if (!failed_ &&
        renameat(folder_.Get(), temporaryName_.c_str(), folder_.Get(), name_.c_str()) != 0) {
        Fail();
    }
    if (failed_) {
        unlinkat(folder_.Get(), temporaryName_.c_str(), 0);
    } else if (!SyncFolder(folder_.Get())) {
        // The new file is in place but not known to last; the caller hears of it.
        Fail();
    }
    if (capped_) {
        NoteFileFailure(FolderSpace::CapText().c_str());
    } else if (failed_ && error_ != 0) {
        NoteFileFailure(error_);
    }
    if (!failed_) {
        if (space_) {
            space_->Written(HeldFileBytes(written_), replaced_);
        }
        NoteWriteSucceeded();
    }
    Untrack();
    folder_ = Descriptor();
    temporaryName_.clear();
    closeResult_ = !failed_;
    return closeResult_;
}

void FileOutputStream::Abandon() {
    failed_ = true;
    error_ = 0;
    Close();
}

} // namespace quarn
