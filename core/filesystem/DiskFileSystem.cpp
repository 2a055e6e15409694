#include "core/filesystem/DiskFileSystem.h"

#include "core/debug/Log.h"
#include "core/filesystem/DiskFile.h"
#include "core/filesystem/EmbeddedFile.h"
#include "core/filesystem/FileOutputStream.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/os/EngineWork.h"
#include "core/string/Text.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
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

// A relative native path as the working folder makes it absolute, by its text.
std::string Absolute(const std::string& native) {
    if (!native.empty() && native[0] == '/') {
        return native;
    }
    std::error_code error;
    const std::string here = std::filesystem::current_path(error).string();
    return error ? std::string() : WithTrailingSlash(here) + native;
}

bool HasClimbingName(const std::string& path) {
    size_t begin = 0;
    for (;;) {
        const size_t end = path.find('/', begin);
        if (path.compare(begin, end == std::string::npos ? std::string::npos : end - begin, "..") ==
            0) {
            return true;
        }
        if (end == std::string::npos) {
            return false;
        }
        begin = end + 1;
    }
}

std::string LastName(const std::string& path) {
    const std::string text = WithoutTrailingSlash(path);
    const size_t slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

// Works through descriptors opened without following links, so a link (or a folder swapped
// for one while we work) is unlinked and never entered.
bool RemoveContents(int folder) {
    bool removed = true;
    for (const std::string& name : ListFolder(folder)) {
        struct stat info;
        if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            removed = false;
        } else if (S_ISDIR(info.st_mode)) {
            const Descriptor child(
                openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            const bool emptied = child.IsOpen() && RemoveContents(child.Get());
            ChargeFileMade();
            removed = emptied && unlinkat(folder, name.c_str(), AT_REMOVEDIR) == 0 && removed;
        } else {
            ChargeFileMade();
            removed = unlinkat(folder, name.c_str(), 0) == 0 && removed;
        }
    }
    return removed;
}

bool DeleteTreeAt(const DiskPlace& place) {
    std::string name;
    const Descriptor holder = place.OpenFolder(name);
    if (!holder.IsOpen()) {
        return false;
    }
    const Descriptor folder(
        openat(holder.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.IsOpen() || !RemoveContents(folder.Get())) {
        return false;
    }
    ChargeFileMade();
    return unlinkat(holder.Get(), name.c_str(), AT_REMOVEDIR) == 0;
}

// Whether `place`, made or not, is the folder `folder` stands for or lies below it, on the disk
// as it is now, links and ".." resolved; also true when that cannot be told, so that a doubtful
// copy is refused.
bool LiesWithin(const DiskPlace& place, const struct stat& folder) {
    DiskPlace existing = place;
    struct stat info;
    int climbs = 0;
    while (!existing.Stat(info)) {
        if (++climbs > PATH_MAX) {
            return true;
        }
        existing = existing.Parent();
    }
    Descriptor current = existing.Open(O_PATH | O_DIRECTORY);
    for (int depth = 0; current.IsOpen() && depth < PATH_MAX; ++depth) {
        struct stat here;
        struct stat above;
        Descriptor parent(openat(current.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (fstat(current.Get(), &here) != 0 || !parent.IsOpen() ||
            fstat(parent.Get(), &above) != 0) {
            return true;
        }
        if (here.st_dev == folder.st_dev && here.st_ino == folder.st_ino) {
            return true;
        }
        if (above.st_dev == here.st_dev && above.st_ino == here.st_ino) {
            return false; // the top of the file system
        }
        current = std::move(parent);
    }
    return true;
}

// The entry `name` of `folder` as a folder for a copy to fill: made when missing, a link there
// replaced by a new folder rather than entered.
Descriptor CopyTargetFolder(int folder, const char* name) {
    struct stat info;
    if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) {
        ChargeFileMade();
        unlinkat(folder, name, 0);
    }
    ChargeFileMade();
    if (mkdirat(folder, name, 0777) != 0 && errno != EEXIST) {
        return {};
    }
    return Descriptor(openat(folder, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool CopyFileBytes(const DiskPlace& source, Descriptor folder, const std::string& name,
                   FolderSpace* space) {
    DiskFile input;
    FileOutputStream output;
    output.LimitTo(space);
    if (!input.Open(source, 0) || !output.OpenEntry(std::move(folder), name, 0)) {
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

// A link met in a copied folder, made once everything else has arrived, so that what it points
// at inside the copy can be found.
struct CopiedLink {
    DiskPlace place;
    std::string target;
};

// Makes a copied link. Beneath a root, only one that leads to something there from its new
// place: a link that would point out (or at nothing, which may later lie out) is not made.
bool MakeCopiedLink(const CopiedLink& link) {
    if (link.place.IsBeneath() && !link.place.LinkTarget(link.target).Open(O_PATH).IsOpen()) {
        NoteFileFailure(EXDEV);
        return false;
    }
    std::string name;
    const Descriptor folder = link.place.OpenFolder(name);
    struct stat info;
    if (!folder.IsOpen()) {
        return false;
    }
    ChargeFileMade();
    if (fstatat(folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        (S_ISDIR(info.st_mode) || unlinkat(folder.Get(), name.c_str(), 0) != 0)) {
        return false;
    }
    return symlinkat(link.target.c_str(), folder.Get(), name.c_str()) == 0;
}

// Links may lead through one another: each pass makes those whose target is there by now. No
// chain resolves through more links than the kernel follows, which bounds the passes.
bool MakeCopiedLinks(std::vector<CopiedLink> links) {
    for (int pass = 0; pass <= MaxLinkHops && !links.empty(); ++pass) {
        std::vector<CopiedLink> left;
        for (CopiedLink& link : links) {
            if (!MakeCopiedLink(link)) {
                left.push_back(std::move(link));
            }
        }
        if (left.size() == links.size()) {
            return false;
        }
        links = std::move(left);
    }
    return links.empty();
}

// Copies the entries of the folder `from` into the folder `to`, neither of them entered through
// a link; `targetFolder` is where `to` lies, for the links met, which are left to the caller.
// The files written are held to `space` when given.
bool CopyEntries(const std::shared_ptr<const Descriptor>& from, const std::string& fromPath, int to,
                 const DiskPlace& targetFolder, std::vector<CopiedLink>& links,
                 FolderSpace* space) {
    // Unlike a bare "true", the answer says whether everything arrived.
    bool copied = true;
    for (const std::string& name : ListFolder(from->Get())) {
        struct stat info;
        std::string target;
        if (fstatat(from->Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            copied = false;
        } else if (S_ISLNK(info.st_mode)) {
            if (ReadLinkAt(from->Get(), name.c_str(), target)) {
                links.push_back({targetFolder.Child(name), std::move(target)});
            } else {
                copied = false;
            }
        } else if (S_ISDIR(info.st_mode)) {
            auto child = std::make_shared<const Descriptor>(
                openat(from->Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            const Descriptor folder = CopyTargetFolder(to, name.c_str());
            copied = child->IsOpen() && folder.IsOpen() &&
                     CopyEntries(child, fromPath + "/" + name, folder.Get(),
                                 targetFolder.Child(name), links, space) &&
                     copied;
        } else if (S_ISREG(info.st_mode)) {
            // The source folder is the root of the read: a file swapped for a link meanwhile
            // is not followed out of it.
            const DiskPlace source = DiskPlace::Beneath(from, fromPath, name);
            copied = CopyFileBytes(source, Descriptor(dup(to)), name, space) && copied;
        } else {
            // Pipes and devices have no bytes to copy (reading a pipe would block).
            copied = false;
        }
    }
    return copied;
}

// Makes one empty file or folder by `make`, its block counted in `space` (if any) first: refused
// at the cap, and given back when the making fails.
template <class Make>
bool MakeCountedEntry(FolderSpace* space, Make make) {
    if (space && !space->Make()) {
        FolderSpace::Refuse();
        NoteFileFailure(FolderSpace::CapText().c_str());
        return false;
    }
    ChargeFileMade();
    if (make()) {
        return true;
    }
    if (space) {
        space->Removed(MinimumFileBytes);
    }
    return false;
}

} // namespace

DiskFileSystem::DiskFileSystem() : archives_(*this) {}

DiskFileSystem::~DiskFileSystem() = default;

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

bool DiskFileSystem::ToPlace(const char* path, DiskPlace& place) const {
    std::string native;
    if (!ToNative(path, native)) {
        NoteFileFailure(ENAMETOOLONG);
        return false;
    }
    if (!IsDiskPath(native)) {
        // Archives and the built-in files are only read.
        NoteFileFailure(native.empty() ? ENOENT : EROFS);
        return false;
    }
    place = Locate(native).WithCaseResolved();
    return true;
}

bool DiskFileSystem::ToWritePlace(const char* path, DiskPlace& place) {
    std::string native;
    return ToPlace(path, place) && ToNative(path, native) && MayWrite(native);
}

bool DiskFileSystem::MayWrite(const std::string& native) {
    if (!gameReadOnly_ || !IsGameAtWork() || userSpace_.Holds(Absolute(native))) {
        return true;
    }
    NoteFileFailure(ReadOnlyGameReason);
    if (!std::exchange(toldReadOnly_, true)) {
        LogMessage("The game in '%s' is one for reading: %s", RootText().c_str(),
                   ReadOnlyGameReason);
    }
    return false;
}

std::string DiskFileSystem::RootText() const {
    return gameRoot_.empty() ? baseFolder_ : gameRoot_;
}

DiskPlace DiskFileSystem::Locate(const std::string& native) const {
    return IsGameReachHeld() ? LocateBeneath(native) : DiskPlace::Anywhere(native);
}

DiskPlace DiskFileSystem::LocateBeneath(const std::string& native) const {
    const std::string absolute = Absolute(native);
    const std::string game = RootText();
    std::string archive;
    std::string entry;
    if (ArchiveSet::SplitArchivePath(game.c_str(), archive, entry)) {
        // An archive as the root is where the game came from: read as the user gave it.
        if (absolute == Absolute(archive)) {
            return DiskPlace::Anywhere(native);
        }
    }
    std::string best;
    // An empty base folder is the working folder; an empty user folder is no folder at all.
    for (const std::string& root : {game.empty() ? Absolute(game) : game, userFolder_}) {
        if (root.empty() || !IsDiskPath(root)) {
            continue;
        }
        const std::string folder = WithTrailingSlash(Absolute(root));
        const bool below = absolute.starts_with(folder) || absolute + "/" == folder;
        if (below && folder.size() > best.size()) {
            best = folder;
        }
    }
    if (best.empty() || absolute.empty()) {
        return DiskPlace::Nowhere(native);
    }
    ChargePathResolved();
    auto root =
        std::make_shared<const Descriptor>(open(best.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root->IsOpen()) {
        return DiskPlace::Nowhere(native);
    }
    return DiskPlace::Beneath(std::move(root), best,
                              absolute.size() > best.size() ? absolute.substr(best.size()) : ".");
}

bool DiskFileSystem::IsInsideGame(const char* path, uint32_t flags) const {
    const std::string text = Normalised(path);
    std::string native = text;
    if (!(flags & OpenNative)) {
        // Built-in files are looked up by name and never reach the disk.
        if (StartsWithNoCase(text.c_str(), "res://")) {
            return true;
        }
        // A drive letter or another scheme names nothing inside the game.
        if (text.find(':') != std::string::npos && !StartsWithNoCase(text.c_str(), "user://")) {
            return false;
        }
        if (!ToNative(text.c_str(), native)) {
            return false;
        }
    }
    // A base folder at "res://" serves relative paths from the built-in files.
    if (StartsWithNoCase(native.c_str(), "res://")) {
        return true;
    }
    if (native.empty() || native.find("://") != std::string::npos) {
        return false;
    }
    std::string archive;
    std::string entry;
    if (ArchiveSet::SplitArchivePath(native.c_str(), archive, entry)) {
        // An entry climbing out of its archive names nothing inside it.
        if (HasClimbingName(entry)) {
            return false;
        }
        native = archive;
    }
    const Descriptor reached = LocateBeneath(native).WithCaseResolved().Open(O_PATH);
    // Missing is not outside: a write may create it there.
    return reached.IsOpen() || (errno != EXDEV && errno != ELOOP);
}

std::unique_ptr<File> DiskFileSystem::OpenNativeFile(const char* path) {
    return std::make_unique<DiskFile>(Locate(Normalised(path)).WithCaseResolved());
}

std::unique_ptr<File> DiskFileSystem::Open(const char* path, uint32_t flags) {
    if (!path) {
        return nullptr;
    }
    std::string native;
    if (flags & OpenNative) {
        native = Normalised(path);
    } else if (!ToNative(path, native)) {
        NoteFileFailure(ENAMETOOLONG);
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
        if (disk->Open(Locate(native).WithCaseResolved(), flags)) {
            file = std::move(disk);
        }
    }
    if (file) {
        file->SetName(path);
    }
    return file;
}

std::unique_ptr<OutputStream> DiskFileSystem::OpenForWrite(const char* path, uint32_t flags) {
    DiskPlace target;
    if (!ToWritePlace(path, target)) {
        return nullptr;
    }
    auto stream = std::make_unique<FileOutputStream>();
    stream->LimitTo(SpaceOf(path));
    if (stream->Open(target, flags)) {
        return stream;
    }
    if ((flags & WriteCreateFolders) && !DirectoryExists(path)) {
        // A folder that cannot be made is the reason the save fails.
        if (!MakeDirectories(path)) {
            NoteFileFailure(errno);
            return nullptr;
        }
        // New folders may change how the path resolves.
        if (ToPlace(path, target) && stream->Open(target, flags)) {
            return stream;
        }
    }
    if (flags & WriteClearReadOnly) {
        uint32_t attributes = GetAttributes(path);
        if (attributes & FileMissing) {
            return nullptr;
        }
        if ((attributes & FileReadOnly) && SetReadOnly(path, FileReadOnly, 0) &&
            stream->Open(target, flags)) {
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
    if (!Locate(WithoutTrailingSlash(native)).WithCaseResolved().Stat(info)) {
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
    DiskPlace place;
    if (!ToWritePlace(path, place)) {
        return false;
    }
    // Changed through a descriptor of the file itself, so a link is followed only as far as
    // the place may reach.
    Descriptor file = place.Open(O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (!file.IsOpen() && errno == EACCES) {
        file = place.Open(O_WRONLY | O_NONBLOCK | O_NOCTTY);
    }
    struct stat info;
    if (!file.IsOpen() || fstat(file.Get(), &info) != 0) {
        return false;
    }
    if (!(mask & FileReadOnly)) {
        return true;
    }
    mode_t mode = info.st_mode & 07777;
    // Read-only means nobody writes; clearing it gives the owner back the right to write.
    mode = (value & FileReadOnly) ? mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IWUSR;
    return fchmod(file.Get(), mode) == 0;
}

void DiskFileSystem::SetBaseFolder(const char* path) {
    baseFolder_ = WithTrailingSlash(Normalised(path));
}

void DiskFileSystem::SetGameRoot(const char* path) {
    gameRoot_ = WithTrailingSlash(Normalised(path));
    toldReadOnly_ = false;
}

void DiskFileSystem::SetGameReadOnly(bool readOnly) {
    gameReadOnly_ = readOnly;
    toldReadOnly_ = false;
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
    userSpace_.SetFolder(userFolder_.empty() ? userFolder_ : Absolute(userFolder_));
}

FolderSpace* DiskFileSystem::SpaceOf(const char* path) {
    std::string native;
    return ToNative(path, native) && userSpace_.Holds(Absolute(native)) ? &userSpace_ : nullptr;
}

uint32_t DiskFileSystem::FindEmbeddedFile(const char* name) const {
    return name ? EmbeddedFile::Find(Normalised(name).c_str()) : 0;
}

bool DiskFileSystem::Exists(const char* path) {
    return path && *path && !(GetAttributes(path) & FileMissing);
}

bool DiskFileSystem::DirectoryExists(const char* path) {
    std::string native;
    struct stat info;
    return ToNative(path, native) && IsDiskPath(native) &&
           Locate(WithoutTrailingSlash(native)).WithCaseResolved().Stat(info);
}

uint64_t DiskFileSystem::GetFileTime(const char* path) {
    std::string native;
    struct stat info;
    if (!ToNative(path, native) || !IsDiskPath(native) ||
        !Locate(WithoutTrailingSlash(native)).WithCaseResolved().Stat(info)) {
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
    DiskPlace place;
    struct stat info;
    if (!ToWritePlace(path, place)) {
        return false;
    }
    if (place.Stat(info)) {
        return true;
    }
    std::string name;
    const Descriptor holder = place.OpenFolder(name);
    return holder.IsOpen() && MakeCountedEntry(SpaceOf(path), [&] {
               return mkdirat(holder.Get(), name.c_str(), 0777) == 0;
           });
}

bool DiskFileSystem::RemoveFolder(const char* path, bool recursive) {
    DiskPlace place;
    if (!ToWritePlace(path, place)) {
        return false;
    }
    if (FolderSpace* space = SpaceOf(path)) {
        space->Forget();
    }
    if (recursive) {
        return DeleteTreeAt(place);
    }
    std::string name;
    const Descriptor holder = place.OpenFolder(name);
    if (!holder.IsOpen()) {
        return false;
    }
    ChargeFileMade();
    return unlinkat(holder.Get(), name.c_str(), AT_REMOVEDIR) == 0;
}

bool DiskFileSystem::DeleteTree(const char* nativeFolder) {
    const std::string folder = WithoutTrailingSlash(nativeFolder ? nativeFolder : "");
    return !folder.empty() && DeleteTreeAt(DiskPlace::Anywhere(folder));
}

bool DiskFileSystem::MakeDirectories(const char* path) {
    std::string native;
    if (!ToNative(path, native) || !IsDiskPath(native) || !MayWrite(native)) {
        return false;
    }
    const bool made = Locate(native).WithCaseResolved().MakeFoldersAbove();
    // The folders it made count towards the cap: measured again before the next write there.
    if (FolderSpace* space = SpaceOf(path)) {
        space->Forget();
    }
    return made;
}

bool DiskFileSystem::Copy(const char* source, const char* destination) {
    DiskPlace from;
    std::string to;
    if (!ToPlace(source, from) || !ToNative(destination, to) || !IsDiskPath(to) || !MayWrite(to)) {
        return false;
    }
    return CopyPlace(from, Locate(WithoutTrailingSlash(to)), to.back() == '/',
                     SpaceOf(destination));
}

bool DiskFileSystem::CopyPlace(const DiskPlace& source, const DiskPlace& destination,
                               bool intoFolder, FolderSpace* space) {
    struct stat info;
    if (!source.Stat(info)) {
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        const DiskPlace folder = destination.WithCaseResolved();
        // Copying a folder into itself would never end.
        if (LiesWithin(folder, info)) {
            return false;
        }
        struct stat made;
        if (!folder.Stat(made)) {
            std::string name;
            const Descriptor holder = folder.OpenFolder(name);
            if (!holder.IsOpen()) {
                return false;
            }
            ChargeFileMade();
            if (mkdirat(holder.Get(), name.c_str(), 0777) != 0) {
                return false;
            }
        }
        auto from = std::make_shared<const Descriptor>(source.Open(O_PATH | O_DIRECTORY));
        const Descriptor to = folder.Open(O_PATH | O_DIRECTORY);
        std::vector<CopiedLink> links;
        const bool copied =
            from->IsOpen() && to.IsOpen() &&
            CopyEntries(from, source.GetNativePath(), to.Get(), folder, links, space);
        // The folders it made count towards the cap: measured again before the next write.
        if (space) {
            space->Forget();
        }
        return MakeCopiedLinks(std::move(links)) && copied;
    }
    if (!S_ISREG(info.st_mode)) {
        return false;
    }
    const DiskPlace target =
        (intoFolder ? destination.Child(LastName(source.GetNativePath())) : destination)
            .WithCaseResolved();
    std::string name;
    Descriptor holder = target.OpenFolder(name);
    return holder.IsOpen() && CopyFileBytes(source, std::move(holder), name, space);
}

bool DiskFileSystem::CopyCreatingFolders(const char* source, const char* destination) {
    MakeDirectories(destination);
    return Copy(source, destination);
}

bool DiskFileSystem::CreateEmptyFile(const char* path) {
    DiskPlace place;
    return ToWritePlace(path, place) && MakeCountedEntry(SpaceOf(path), [&] {
               return place.Open(O_WRONLY | O_CREAT | O_EXCL, 0666).IsOpen();
           });
}

bool DiskFileSystem::RemoveFile(const char* path) {
    DiskPlace place;
    if (!ToWritePlace(path, place)) {
        return false;
    }
    std::string name;
    const Descriptor holder = place.OpenFolder(name);
    struct stat info;
    if (!holder.IsOpen() || fstatat(holder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        S_ISDIR(info.st_mode)) {
        return false;
    }
    ChargeFileMade();
    if (unlinkat(holder.Get(), name.c_str(), 0) != 0) {
        return false;
    }
    if (FolderSpace* space = SpaceOf(path); space && S_ISREG(info.st_mode)) {
        space->Removed(HeldFileBytes(static_cast<uint64_t>(info.st_size)));
    }
    return true;
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
