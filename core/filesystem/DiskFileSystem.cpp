#include "core/filesystem/DiskFileSystem.h"

#include "core/filesystem/DiskFile.h"
#include "core/filesystem/EmbeddedFile.h"
#include "core/filesystem/FileOutputStream.h"
#include "core/string/Text.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quarn {

namespace {

constexpr size_t MaxNativePathLength = PathString::Size() - 1;

std::string Normalised(const char* path) {
    std::string text = path ? path : "";
    for (char& c : text) {
        if (c == '\\') {
            c = '/';
        }
    }
    return text;
}

// Linux paths are absolute with a leading '/'; Windows-made ones and schemes hold a ':'.
bool IsAbsolute(const std::string& path) {
    return (!path.empty() && path[0] == '/') || path.find(':') != std::string::npos;
}

bool HasArchiveSegment(const std::string& path) {
    return FindNoCase(path.c_str(), ".zip/") || FindNoCase(path.c_str(), ".zoo/");
}

// Archive entries and scheme paths ("res://", "http://") have no file on disk to touch.
bool IsDiskPath(const std::string& native) {
    return !native.empty() && !HasArchiveSegment(native) && native.find("://") == std::string::npos;
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string WithTrailingSlash(std::string path) {
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    return path;
}

bool StatOnDisk(const std::string& native, struct stat& info) {
    return stat(DiskFileSystem::ResolveCase(WithoutTrailingSlash(native)).c_str(), &info) == 0;
}

bool ExistsOnDisk(const std::string& native) {
    struct stat info;
    return StatOnDisk(native, info);
}

bool MakeDirectoryOnDisk(const std::string& native) {
    if (ExistsOnDisk(native)) {
        return true;
    }
    return mkdir(DiskFileSystem::ResolveCase(WithoutTrailingSlash(native)).c_str(), 0777) == 0;
}

// The first name in byte order in `folder` that equals `name` without case; "" when none.
std::string FindNameNoCase(const std::string& folder, const std::string& name) {
    DIR* listing = opendir(folder.empty() ? "." : folder.c_str());
    if (!listing) {
        return {};
    }
    std::string best;
    while (dirent* entry = readdir(listing)) {
        if (CompareNoCase(entry->d_name, name.c_str()) == 0 &&
            (best.empty() || strcmp(entry->d_name, best.c_str()) < 0)) {
            best = entry->d_name;
        }
    }
    closedir(listing);
    return best;
}

std::vector<std::string> ListNames(int folder) {
    std::vector<std::string> names;
    int listingDescriptor = dup(folder);
    if (listingDescriptor < 0) {
        return names;
    }
    DIR* listing = fdopendir(listingDescriptor);
    if (!listing) {
        close(listingDescriptor);
        return names;
    }
    while (dirent* entry = readdir(listing)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
    }
    closedir(listing);
    return names;
}

// Works through descriptors opened without following links, so a link (or a folder swapped
// for one while we work) is unlinked and never entered.
bool RemoveContents(int folder) {
    bool removed = true;
    for (const std::string& name : ListNames(folder)) {
        struct stat info;
        if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            removed = false;
        } else if (S_ISDIR(info.st_mode)) {
            int child =
                openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            bool emptied = child >= 0 && RemoveContents(child);
            if (child >= 0) {
                close(child);
            }
            removed = emptied && unlinkat(folder, name.c_str(), AT_REMOVEDIR) == 0 && removed;
        } else {
            removed = unlinkat(folder, name.c_str(), 0) == 0 && removed;
        }
    }
    return removed;
}

// True when `inner` is `outer` or lies below it, after links and ".." are resolved; also true
// when either cannot be resolved, so a doubtful copy is refused.
bool IsSameOrBelow(const std::string& inner, const std::string& outer) {
    std::error_code error;
    std::string outerPath = std::filesystem::canonical(outer, error).string();
    if (error) {
        return true;
    }
    std::string innerPath =
        std::filesystem::weakly_canonical(WithoutTrailingSlash(inner), error).string();
    if (error) {
        return true;
    }
    innerPath = WithoutTrailingSlash(innerPath);
    return innerPath == outerPath || innerPath.starts_with(WithTrailingSlash(outerPath));
}

} // namespace

DiskFileSystem::DiskFileSystem() : archives_(*this) {}

DiskFileSystem::~DiskFileSystem() = default;

std::string DefaultUserFolder() {
    std::string folder;
    const char* dataHome = getenv("XDG_DATA_HOME");
    // The XDG rules ignore a relative value.
    if (dataHome && dataHome[0] == '/') {
        folder = dataHome;
    } else {
        const char* home = getenv("HOME");
        if (!home || !*home) {
            const passwd* user = getpwuid(getuid());
            home = user ? user->pw_dir : nullptr;
        }
        if (!home || !*home) {
            return {};
        }
        folder = WithTrailingSlash(home) + ".local/share";
    }
    return WithTrailingSlash(folder);
}

std::string DiskFileSystem::ResolveCase(const std::string& nativePath) {
    struct stat info;
    if (nativePath.empty() || lstat(nativePath.c_str(), &info) == 0) {
        return nativePath;
    }
    std::string resolved;
    size_t position = 0;
    if (nativePath[0] == '/') {
        resolved = "/";
        position = 1;
    }
    // Once a name matches nothing, nothing below it can exist either.
    bool searching = true;
    for (;;) {
        size_t end = nativePath.find('/', position);
        if (end == std::string::npos) {
            end = nativePath.size();
        }
        std::string name = nativePath.substr(position, end - position);
        if (searching && !name.empty() && name != "." && name != ".." &&
            lstat((resolved + name).c_str(), &info) != 0) {
            std::string match = FindNameNoCase(resolved, name);
            if (match.empty()) {
                searching = false;
            } else {
                name = match;
            }
        }
        resolved += name;
        if (end == nativePath.size()) {
            break;
        }
        resolved += '/';
        position = end + 1;
    }
    return resolved;
}

bool DiskFileSystem::ToNative(const char* path, std::string& out) const {
    out.clear();
    if (!path) {
        return false;
    }
    std::string text = Normalised(path);
    if (StartsWithNoCase(text.c_str(), "user://")) {
        out = userFolder_ + text.substr(7);
    } else if (!IsAbsolute(text)) {
        out = baseFolder_ + text;
    } else {
        out = std::move(text);
    }
    // A cut path would name another file.
    if (out.size() > MaxNativePathLength) {
        out.clear();
        return false;
    }
    return true;
}

bool DiskFileSystem::ToDiskPath(const char* path, std::string& out) const {
    if (!ToNative(path, out) || !IsDiskPath(out)) {
        out.clear();
        return false;
    }
    out = ResolveCase(out);
    return true;
}

std::unique_ptr<File> DiskFileSystem::OpenNativeFile(const char* path) {
    return std::make_unique<DiskFile>(ResolveCase(Normalised(path)));
}

std::unique_ptr<File> DiskFileSystem::Open(const char* path, uint32_t flags) {
    if (!path) {
        return nullptr;
    }
    std::string native;
    if (flags & OpenNative) {
        native = Normalised(path);
    } else if (!ToNative(path, native)) {
        return nullptr;
    }
    // The resolved path decides, so a base folder inside an archive or at "res://" serves
    // relative paths from there.
    std::unique_ptr<File> file;
    if (HasArchiveSegment(native)) {
        file = archives_.OpenEntry(native.c_str(), flags);
    } else if (StartsWithNoCase(native.c_str(), "res://")) {
        auto embedded = std::make_unique<EmbeddedFile>();
        if (embedded->Open(native.c_str())) {
            file = std::move(embedded);
        }
    } else if (StartsWithNoCase(native.c_str(), "http:/")) {
        return nullptr;
    } else {
        auto disk = std::make_unique<DiskFile>();
        if (disk->Open(ResolveCase(native).c_str(), flags)) {
            file = std::move(disk);
        }
    }
    if (file) {
        file->SetName(path);
    }
    return file;
}

std::unique_ptr<OutputStream> DiskFileSystem::OpenForWrite(const char* path, uint32_t flags) {
    std::string target;
    if (!ToDiskPath(path, target)) {
        return nullptr;
    }
    auto stream = std::make_unique<FileOutputStream>();
    if (stream->Open(target.c_str(), flags)) {
        return stream;
    }
    if ((flags & WriteCreateFolders) && !DirectoryExists(path)) {
        MakeDirectories(path);
        // New folders may change how the path resolves.
        if (ToDiskPath(path, target) && stream->Open(target.c_str(), flags)) {
            return stream;
        }
    }
    if (flags & WriteClearReadOnly) {
        uint32_t attributes = GetAttributes(path);
        if (attributes & FileMissing) {
            return nullptr;
        }
        if ((attributes & FileReadOnly) && SetReadOnly(path, FileReadOnly, 0) &&
            stream->Open(target.c_str(), flags)) {
            return stream;
        }
    }
    return nullptr;
}

uint32_t DiskFileSystem::GetAttributes(const char* path) {
    std::string native;
    if (!ToNative(path, native)) {
        return FileMissing;
    }
    if (HasArchiveSegment(native)) {
        return archives_.GetEntryAttributes(native.c_str());
    }
    if (StartsWithNoCase(native.c_str(), "res://")) {
        return EmbeddedFile::Find(native.c_str() + 6) ? FileReadOnly : FileMissing;
    }
    if (StartsWithNoCase(native.c_str(), "http://")) {
        return FileReadOnly;
    }
    struct stat info;
    if (!StatOnDisk(native, info)) {
        return FileMissing;
    }
    uint32_t attributes = 0;
    // The owner-write bit, not access(): root may write anything.
    if ((info.st_mode & S_IWUSR) == 0) {
        attributes |= FileReadOnly;
    }
    if (S_ISDIR(info.st_mode)) {
        attributes |= FileDirectory;
    }
    return attributes;
}

bool DiskFileSystem::SetReadOnly(const char* path, uint32_t mask, uint32_t value) {
    std::string native;
    struct stat info;
    if (!ToDiskPath(path, native) || stat(native.c_str(), &info) != 0) {
        return false;
    }
    if (!(mask & FileReadOnly)) {
        return true;
    }
    mode_t mode = info.st_mode & 07777;
    // Read-only means nobody writes; clearing it gives the owner back the right to write.
    mode = (value & FileReadOnly) ? mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IWUSR;
    return chmod(native.c_str(), mode) == 0;
}

void DiskFileSystem::SetBaseFolder(const char* path) {
    baseFolder_ = WithTrailingSlash(Normalised(path));
}

bool DiskFileSystem::IsInBaseFolder(const char* path) const {
    if (baseFolder_.empty()) {
        return true;
    }
    if (!path) {
        return false;
    }
    for (size_t i = 0; i < baseFolder_.size(); ++i) {
        char c = path[i] == '\\' ? '/' : path[i];
        if (c == '\0' || ToLowerAscii(c) != ToLowerAscii(baseFolder_[i])) {
            return false;
        }
    }
    return true;
}

bool DiskFileSystem::GetNativePath(PathString& out, const char* path) const {
    std::string native;
    bool fits = ToNative(path, native);
    out.Set(native.c_str());
    return fits;
}

const char* DiskFileSystem::GetRelativePath(const char* path) const {
    if (path && !baseFolder_.empty() && IsInBaseFolder(path)) {
        return path + baseFolder_.size();
    }
    return path;
}

void DiskFileSystem::SetUserFolder(const char* path) {
    userFolder_ = Normalised(path);
}

uint32_t DiskFileSystem::FindEmbeddedFile(const char* name) const {
    return name ? EmbeddedFile::Find(Normalised(name).c_str()) : 0;
}

bool DiskFileSystem::Exists(const char* path) {
    return path && *path && !(GetAttributes(path) & FileMissing);
}

bool DiskFileSystem::DirectoryExists(const char* path) {
    std::string native;
    return ToNative(path, native) && IsDiskPath(native) && ExistsOnDisk(native);
}

uint64_t DiskFileSystem::GetFileTime(const char* path) {
    std::string native;
    struct stat info;
    if (!ToNative(path, native) || !IsDiskPath(native) || !StatOnDisk(native, info)) {
        return 0;
    }
    if (info.st_mtim.tv_sec < 0) {
        return 1;
    }
    uint64_t time = static_cast<uint64_t>(info.st_mtim.tv_sec) * 1000000000u +
                    static_cast<uint64_t>(info.st_mtim.tv_nsec);
    return time == 0 ? 1 : time;
}

bool DiskFileSystem::MakeDirectory(const char* path) {
    std::string native;
    return ToNative(path, native) && IsDiskPath(native) && MakeDirectoryOnDisk(native);
}

bool DiskFileSystem::RemoveFolder(const char* path, bool recursive) {
    std::string native;
    if (!ToDiskPath(path, native)) {
        return false;
    }
    native = WithoutTrailingSlash(native);
    return recursive ? DeleteTree(native.c_str()) : rmdir(native.c_str()) == 0;
}

bool DiskFileSystem::DeleteTree(const char* nativeFolder) {
    std::string folder = WithoutTrailingSlash(nativeFolder ? nativeFolder : "");
    if (folder.empty()) {
        return false;
    }
    int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    bool emptied = RemoveContents(descriptor);
    close(descriptor);
    return emptied && rmdir(folder.c_str()) == 0;
}

bool DiskFileSystem::MakeDirectories(const char* path) {
    std::string native;
    if (!ToNative(path, native) || !IsDiskPath(native)) {
        return false;
    }
    // The name after the last '/' is the file the caller is about to write: never made.
    for (size_t slash = native.find('/'); slash != std::string::npos;
         slash = native.find('/', slash + 1)) {
        std::string folder = native.substr(0, slash);
        if (!folder.empty() && !ExistsOnDisk(folder) && !MakeDirectoryOnDisk(folder)) {
            return false;
        }
    }
    return true;
}

bool DiskFileSystem::Copy(const char* source, const char* destination) {
    std::string from;
    std::string to;
    if (!ToDiskPath(source, from) || !ToNative(destination, to) || !IsDiskPath(to)) {
        return false;
    }
    return CopyNative(from, to);
}

bool DiskFileSystem::CopyNative(const std::string& source, const std::string& destination) {
    struct stat info;
    if (stat(source.c_str(), &info) != 0) {
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        std::string folder = ResolveCase(WithoutTrailingSlash(destination));
        // Copying a folder into itself would never end.
        if (IsSameOrBelow(folder, source)) {
            return false;
        }
        return CopyFolderNative(source, folder);
    }
    if (!S_ISREG(info.st_mode)) {
        return false;
    }
    std::string target = destination;
    if (target.back() == '/') {
        size_t slash = source.rfind('/');
        target += slash == std::string::npos ? source : source.substr(slash + 1);
    }
    return CopyFileNative(source, ResolveCase(target));
}

bool DiskFileSystem::CopyFolderNative(const std::string& source, const std::string& destination) {
    if (!MakeDirectoryOnDisk(destination)) {
        return false;
    }
    int folder = open(source.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return false;
    }
    std::vector<std::string> names = ListNames(folder);
    close(folder);
    // Unlike a bare "true", the answer says whether everything arrived.
    bool copied = true;
    for (const std::string& name : names) {
        std::string from = source + "/" + name;
        std::string to = destination + "/" + name;
        struct stat info;
        if (lstat(from.c_str(), &info) != 0) {
            copied = false;
        } else if (S_ISLNK(info.st_mode)) {
            std::error_code error;
            std::filesystem::remove(to, error);
            std::filesystem::copy_symlink(from, to, error);
            copied = !error && copied;
        } else if (S_ISDIR(info.st_mode)) {
            copied = CopyFolderNative(from, to) && copied;
        } else if (S_ISREG(info.st_mode)) {
            copied = CopyFileNative(from, to) && copied;
        } else {
            // Pipes and devices have no bytes to copy (reading a pipe would block).
            copied = false;
        }
    }
    return copied;
}

bool DiskFileSystem::CopyFileNative(const std::string& source, const std::string& destination) {
    DiskFile input;
    FileOutputStream output;
    if (!input.Open(source.c_str(), 0) || !output.Open(destination.c_str(), 0)) {
        return false;
    }
    uint8_t chunk[65536];
    while (uint32_t got = input.Read(chunk, sizeof(chunk))) {
        if (output.Write(chunk, got) != got) {
            break;
        }
    }
    // A read that stopped before the end must not replace the destination with a part.
    if (!input.IsEof()) {
        output.Abandon();
        return false;
    }
    return output.Close();
}

bool DiskFileSystem::CopyCreatingFolders(const char* source, const char* destination) {
    MakeDirectories(destination);
    return Copy(source, destination);
}

bool DiskFileSystem::CreateEmptyFile(const char* path) {
    std::string native;
    if (!ToDiskPath(path, native)) {
        return false;
    }
    int descriptor = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        return false;
    }
    close(descriptor);
    return true;
}

bool DiskFileSystem::RemoveFile(const char* path) {
    std::string native;
    struct stat info;
    if (!ToDiskPath(path, native) || lstat(native.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
        return false;
    }
    return unlink(native.c_str()) == 0;
}

PathString DiskFileSystem::GetFolderPart(const char* path) const {
    std::string text = Normalised(path);
    if (!text.empty() && text.back() == '/') {
        text.pop_back();
    }
    size_t slash = text.rfind('/');
    text.resize(slash == std::string::npos ? 0 : slash + 1);
    // A cut folder would be another folder.
    return PathString(text.size() > MaxNativePathLength ? "" : text.c_str());
}

} // namespace quarn
