#include "core/filesystem/DiskPlace.h"

#include "core/os/EngineWork.h"
#include "core/string/Text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quarn {

namespace {

// The kernel answers EAGAIN when a rename raced a ".." it resolved; it may simply be asked again.
constexpr int BeneathRetries = 8;

std::atomic<bool> walkForced{false};

long KernelOpenBeneath(int root, const char* path, int flags, mode_t mode) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags) | O_CLOEXEC;
    // The kernel refuses a mode without a flag that creates (O_TMPFILE holds O_DIRECTORY's bit).
    how.mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode : 0;
    how.resolve = RESOLVE_BENEATH;
    return syscall(SYS_openat2, root, path, &how, sizeof how);
}

// Queues the names of `path` so that its first name is taken first (from the back).
void QueueNames(const std::string& path, std::vector<std::string>& pending) {
    size_t end = path.size();
    for (;;) {
        const size_t slash = end == 0 ? std::string::npos : path.rfind('/', end - 1);
        const size_t begin = slash == std::string::npos ? 0 : slash + 1;
        pending.push_back(path.substr(begin, end - begin));
        if (slash == std::string::npos) {
            return;
        }
        end = slash;
    }
}

// Puts a link's target in the place of the link's name; an absolute target leads out.
bool QueueLinkTarget(const std::string& target, std::vector<std::string>& pending, int& hops) {
    if (++hops > MaxLinkHops) {
        errno = ELOOP;
        return false;
    }
    if (target.empty()) {
        errno = ENOENT;
        return false;
    }
    if (target[0] == '/') {
        errno = EXDEV;
        return false;
    }
    QueueNames(target, pending);
    return true;
}

// Resolves name by name from `root`: every open takes one name and never follows a link, a
// link's target is read from the very entry that was opened, and ".." steps back along the
// folders this walk holds open, so nothing swapped meanwhile can lead above the root.
Descriptor WalkBeneath(int root, const std::string& relative, int flags, mode_t mode) {
    if (relative.starts_with('/')) {
        errno = EXDEV;
        return {};
    }
    std::vector<std::string> pending;
    QueueNames(relative, pending);
    std::vector<Descriptor> folders;
    int hops = 0;
    const bool followLast = (flags & O_NOFOLLOW) == 0;
    for (;;) {
        const int here = folders.empty() ? root : folders.back().Get();
        if (pending.empty()) {
            // The path ended in "." or ".." or a '/': the folder reached is the file.
            return Descriptor(openat(here, ".", flags | O_CLOEXEC, mode));
        }
        const std::string name = std::move(pending.back());
        pending.pop_back();
        if (name.empty() || name == ".") {
            continue;
        }
        if (name == "..") {
            if (folders.empty()) {
                errno = EXDEV;
                return {};
            }
            folders.pop_back();
            continue;
        }
        // A last name followed by '/' names a folder, which is never created: the kernel refuses
        // that before it looks the name up.
        const bool trailingSlash =
            !pending.empty() && std::all_of(pending.begin(), pending.end(),
                                            [](const std::string& next) { return next.empty(); });
        if (trailingSlash && (flags & O_CREAT)) {
            errno = EISDIR;
            return {};
        }
        if (!pending.empty()) {
            Descriptor next(openat(here, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
            struct stat info;
            if (!next.IsOpen() || fstat(next.Get(), &info) != 0) {
                return {};
            }
            if (S_ISLNK(info.st_mode)) {
                std::string target;
                if (!ReadLinkAt(next.Get(), "", target) ||
                    !QueueLinkTarget(target, pending, hops)) {
                    return {};
                }
                continue;
            }
            if (!S_ISDIR(info.st_mode)) {
                errno = ENOTDIR;
                return {};
            }
            folders.push_back(std::move(next));
            continue;
        }
        Descriptor file(openat(here, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
        if (file.IsOpen()) {
            // With O_PATH the link itself opens.
            struct stat info;
            if (!followLast || !(flags & O_PATH) || fstat(file.Get(), &info) != 0 ||
                !S_ISLNK(info.st_mode)) {
                return file;
            }
        } else if (!followLast || (errno != ELOOP && errno != ENOTDIR)) {
            return {};
        }
        // Perhaps a link: read it where it stands now. One that was a link when it refused to
        // open and is none now was swapped meanwhile: it is opened again.
        const int error = file.IsOpen() ? ELOOP : errno;
        std::string target;
        if (!ReadLinkAt(here, name.c_str(), target)) {
            if (errno != EINVAL || error != ELOOP || ++hops > MaxLinkHops) {
                errno = errno == EINVAL ? error : errno;
                return {};
            }
            pending.push_back(name);
            continue;
        }
        if (!QueueLinkTarget(target, pending, hops)) {
            return {};
        }
    }
}

// Splits a path into the folder that holds its last name and that name; trailing '/' ignored.
// (The "." is assigned by count: GCC 12 takes a literal's assignment here for an overflow.)
void SplitLast(const std::string& path, bool absolute, std::string& folder, std::string& name) {
    std::string text = path;
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    const size_t slash = text.rfind('/');
    if (slash == std::string::npos) {
        folder.assign(1, '.');
        name = text;
    } else {
        folder = slash == 0 && absolute ? "/" : text.substr(0, slash);
        name = text.substr(slash + 1);
    }
}

} // namespace

Descriptor::~Descriptor() {
    if (descriptor_ >= 0) {
        close(descriptor_);
    }
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) {
        if (descriptor_ >= 0) {
            close(descriptor_);
        }
        descriptor_ = other.Release();
    }
    return *this;
}

int Descriptor::Release() {
    const int descriptor = descriptor_;
    descriptor_ = -1;
    return descriptor;
}

Descriptor OpenBeneath(int root, const std::string& relative, int flags, mode_t mode) {
    const char* path = relative.empty() ? "." : relative.c_str();
    if (!walkForced.load(std::memory_order_relaxed) && KernelResolvesBeneath()) {
        for (int attempt = 0; attempt < BeneathRetries; ++attempt) {
            const long descriptor = KernelOpenBeneath(root, path, flags, mode);
            if (descriptor >= 0) {
                return Descriptor(static_cast<int>(descriptor));
            }
            if (errno != EAGAIN) {
                return {};
            }
        }
    }
    return WalkBeneath(root, path, flags, mode);
}

// Old kernels lack the call; containers may filter it out (ENOSYS or EPERM). Asked once.
bool KernelResolvesBeneath() {
    static const bool available = [] {
        const long probe = KernelOpenBeneath(AT_FDCWD, ".", O_PATH | O_DIRECTORY, 0);
        if (probe < 0) {
            return false;
        }
        close(static_cast<int>(probe));
        return true;
    }();
    return available;
}

bool SetBeneathWalkForced(bool forced) {
    return walkForced.exchange(forced, std::memory_order_relaxed);
}

bool ReadLinkAt(int folder, const char* name, std::string& target) {
    char text[PATH_MAX + 1];
    const ssize_t length = readlinkat(folder, name, text, sizeof text);
    if (length < 0) {
        return false;
    }
    if (static_cast<size_t>(length) >= sizeof text) {
        errno = ENAMETOOLONG;
        return false;
    }
    target.assign(text, static_cast<size_t>(length));
    return true;
}

std::vector<std::string> ListFolder(int folder) {
    std::vector<std::string> names;
    const int listingDescriptor = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listingDescriptor < 0) {
        return names;
    }
    DIR* listing = fdopendir(listingDescriptor);
    if (!listing) {
        close(listingDescriptor);
        return names;
    }
    while (const dirent* entry = readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
    }
    closedir(listing);
    ChargeFolderRead(names.size());
    return names;
}

DiskPlace::DiskPlace(std::shared_ptr<const Descriptor> root, std::string rootPath, std::string path,
                     bool nowhere)
    : root_(std::move(root)), rootPath_(std::move(rootPath)), path_(std::move(path)),
      nowhere_(nowhere) {}

DiskPlace DiskPlace::Anywhere(std::string nativePath) {
    return DiskPlace(nullptr, "", std::move(nativePath), false);
}

DiskPlace DiskPlace::Beneath(std::shared_ptr<const Descriptor> root, std::string rootPath,
                             std::string relative) {
    if (relative.empty()) {
        relative.assign(1, '.');
    }
    return DiskPlace(std::move(root), std::move(rootPath), std::move(relative), false);
}

DiskPlace DiskPlace::Nowhere(std::string nativePath) {
    return DiskPlace(nullptr, "", std::move(nativePath), true);
}

DiskPlace DiskPlace::WithPath(std::string path) const {
    if (root_ && path.empty()) {
        path.assign(1, '.');
    }
    return DiskPlace(root_, rootPath_, std::move(path), nowhere_);
}

std::string DiskPlace::GetNativePath() const {
    if (!root_) {
        return path_;
    }
    if (path_ == ".") {
        return rootPath_;
    }
    return rootPath_.empty() || rootPath_.back() == '/' ? rootPath_ + path_
                                                        : rootPath_ + "/" + path_;
}

Descriptor DiskPlace::Open(int flags, mode_t mode) const {
    if (nowhere_) {
        errno = EXDEV;
        return {};
    }
    ChargePathResolved();
    if (root_) {
        return OpenBeneath(root_->Get(), path_, flags, mode);
    }
    if (path_.empty()) {
        errno = ENOENT;
        return {};
    }
    return Descriptor(open(path_.c_str(), flags | O_CLOEXEC, mode));
}

bool DiskPlace::Stat(struct stat& info) const {
    if (!root_ && !nowhere_) {
        ChargePathResolved();
        return !path_.empty() && stat(path_.c_str(), &info) == 0;
    }
    const Descriptor file = Open(O_PATH);
    return file.IsOpen() && fstat(file.Get(), &info) == 0;
}

bool DiskPlace::StatEntry(struct stat& info) const {
    if (!root_ && !nowhere_) {
        ChargePathResolved();
        return !path_.empty() && lstat(path_.c_str(), &info) == 0;
    }
    std::string name;
    const Descriptor folder = OpenFolder(name);
    if (!folder.IsOpen()) {
        // "." and ".." are never links.
        return errno == EINVAL && Stat(info);
    }
    return fstatat(folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

Descriptor DiskPlace::OpenFolder(std::string& name) const {
    std::string folder;
    SplitLast(path_, !root_, folder, name);
    if (name.empty() || name == "." || name == "..") {
        errno = EINVAL;
        return {};
    }
    return WithPath(folder).Open(O_PATH | O_DIRECTORY);
}

DiskPlace DiskPlace::Child(const std::string& name) const {
    if (root_ && path_ == ".") {
        return WithPath(name);
    }
    return WithPath(!path_.empty() && path_.back() == '/' ? path_ + name : path_ + "/" + name);
}

DiskPlace DiskPlace::Parent() const {
    std::string text = path_;
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    if (text.empty() || text == ".") {
        return WithPath("..");
    }
    const size_t slash = text.rfind('/');
    const std::string last = slash == std::string::npos ? text : text.substr(slash + 1);
    if (last == "..") {
        return WithPath(text + "/..");
    }
    if (slash == std::string::npos) {
        return WithPath(".");
    }
    return WithPath(slash == 0 ? "/" : text.substr(0, slash));
}

DiskPlace DiskPlace::LinkTarget(const std::string& target) const {
    if (!target.empty() && target[0] == '/') {
        return root_ ? Nowhere(target) : Anywhere(target);
    }
    std::string folder;
    std::string name;
    SplitLast(path_, !root_, folder, name);
    return WithPath(folder == "." ? target : folder == "/" ? "/" + target : folder + "/" + target);
}

DiskPlace DiskPlace::WithCaseResolved() const {
    struct stat info;
    if (nowhere_ || path_.empty() || StatEntry(info) || errno != ENOENT) {
        return *this;
    }
    std::string resolved;
    size_t position = 0;
    if (path_[0] == '/') {
        resolved = "/";
        position = 1;
    }
    // Once a name matches nothing, nothing below it can exist either.
    bool searching = true;
    for (;;) {
        size_t end = path_.find('/', position);
        if (end == std::string::npos) {
            end = path_.size();
        }
        std::string name = path_.substr(position, end - position);
        if (searching && !name.empty() && name != "." && name != ".." &&
            !WithPath(resolved + name).StatEntry(info)) {
            std::string best;
            for (const std::string& entry : WithPath(resolved).List()) {
                if (CompareNoCase(entry.c_str(), name.c_str()) == 0 &&
                    (best.empty() || entry < best)) {
                    best = entry;
                }
            }
            if (best.empty()) {
                searching = false;
            } else {
                name = std::move(best);
            }
        }
        resolved += name;
        if (end == path_.size()) {
            break;
        }
        resolved += '/';
        position = end + 1;
    }
    return WithPath(std::move(resolved));
}

std::vector<std::string> DiskPlace::List() const {
    const Descriptor folder = Open(O_PATH | O_DIRECTORY);
    return folder.IsOpen() ? ListFolder(folder.Get()) : std::vector<std::string>();
}

bool DiskPlace::MakeFoldersAbove() const {
    // The name after the last '/' is the place itself: never made.
    for (size_t slash = path_.find('/', 1); slash != std::string::npos;
         slash = path_.find('/', slash + 1)) {
        const DiskPlace folder = WithPath(path_.substr(0, slash));
        struct stat info;
        if (folder.Stat(info)) {
            continue;
        }
        std::string name;
        const Descriptor holder = folder.OpenFolder(name);
        if (!holder.IsOpen()) {
            return false;
        }
        ChargeFileMade();
        if (mkdirat(holder.Get(), name.c_str(), 0777) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

} // namespace quarn
