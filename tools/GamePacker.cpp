#include "tools/GamePacker.h"

#include "core/filesystem/DiskFile.h"
#include "core/filesystem/DiskPlace.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/ZipArchive.h"
#include "core/string/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <minizip/zip.h>
#include <set>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace quarn {

namespace {

// The archive grows in memory; minizip goes back over each local header once the entry's
// sizes are known, so writes land at the position, not only at the end.
struct ArchiveBytes {
    std::vector<uint8_t> bytes;
    uint64_t position = 0;
    // The engine reads an archive's size as a 32-bit word: a write past it is refused, so that
    // links to folders, which can make a tree without end, stop there.
    bool full = false;
};

voidpf OpenBytes(voidpf opaque, const void*, int) {
    return opaque;
}

uLong WriteBytes(voidpf, voidpf stream, const void* data, uLong size) {
    if (size == 0) {
        return 0;
    }
    auto& archive = *static_cast<ArchiveBytes*>(stream);
    const uint64_t end = archive.position + size;
    if (end > UINT32_MAX) {
        archive.full = true;
        return 0;
    }
    if (end > archive.bytes.size()) {
        archive.bytes.resize(end);
    }
    std::memcpy(archive.bytes.data() + archive.position, data, size);
    archive.position = end;
    return size;
}

uLong ReadNothing(voidpf, voidpf, void*, uLong) {
    return 0;
}

ZPOS64_T TellBytes(voidpf, voidpf stream) {
    return static_cast<ArchiveBytes*>(stream)->position;
}

long SeekBytes(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto& archive = *static_cast<ArchiveBytes*>(stream);
    uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
        base = archive.position;
    } else if (origin == ZLIB_FILEFUNC_SEEK_END) {
        base = archive.bytes.size();
    }
    if (base + offset > archive.bytes.size()) {
        return -1;
    }
    archive.position = base + offset;
    return 0;
}

int CloseBytes(voidpf, voidpf) {
    return 0;
}

int NoError(voidpf, voidpf) {
    return 0;
}

// Why minizip failed: the archive's limit, or something no file can name.
std::string ZipFailure(const ArchiveBytes& archive, const std::string& folder) {
    return archive.full ? "the archive of " + folder + " would be larger than 4 GiB"
                        : "cannot pack " + folder;
}

// A zip entry's name length is a 16-bit field.
constexpr size_t MaxEntryNameLength = 0xFFFF;
constexpr size_t ReadChunk = 65536;

using Identity = std::pair<dev_t, ino_t>;

Identity IdentityOf(const struct stat& info) {
    return {info.st_dev, info.st_ino};
}

// An entry of a folder as its listing found it.
struct ListedEntry {
    enum Kind { File, Folder, Skipped };
    // A folder's ends in '/': sorted so, each folder's entries walked in this order give the
    // paths in byte order.
    std::string name;
    Kind kind = File;
    bool throughLink = false;
    Identity identity;  // a folder's
    std::string reason; // a skipped one's
};

// Walks the folder depth first, one level of descriptors at a time, and writes each entry as it
// comes; memory follows what a folder lists and how deep the walk is, never the two multiplied.
class FolderPacker {
public:
    FolderPacker(zipFile zip, const ArchiveBytes& archive, std::string folder,
                 std::vector<std::string>& skipped)
        : zip_(zip), archive_(archive), folder_(std::move(folder)), skipped_(skipped) {
        while (folder_.size() > 1 && folder_.back() == '/') {
            folder_.pop_back();
        }
    }

    // Leaves the archive file `out` out when it lies below.
    void LeaveOut(const struct stat& out) {
        out_ = IdentityOf(out);
        hasOut_ = true;
    }

    bool Pack(std::shared_ptr<const Descriptor> root);
    const std::string& GetError() const { return error_; }

private:
    struct Level {
        // Let go while a folder below is walked, and found again through "..", so that deep
        // trees hold two descriptors; kept for one entered through a link, whose ".." is
        // elsewhere.
        std::shared_ptr<const Descriptor> folder;
        Identity identity;
        std::vector<ListedEntry> entries;
        size_t next = 0;
        size_t pathLength = 0; // of path_ while this folder is walked
    };

    std::string Shown(const std::string& name) const { return folder_ + "/" + name; }
    bool Fail(std::string reason) {
        error_ = std::move(reason);
        return false;
    }
    bool List(int folder, std::vector<ListedEntry>& entries);
    bool Classify(int folder, const std::string& name, ListedEntry& entry);
    bool Enter(Level& level, const ListedEntry& entry);
    bool Leave();
    bool OpenEntry(const std::string& name, bool folder);
    bool AddFile(const Level& level, const ListedEntry& entry);
    bool AddFolder(const std::string& name);

    zipFile zip_;
    const ArchiveBytes& archive_;
    std::string folder_; // as given, for names in lines
    std::vector<std::string>& skipped_;
    std::shared_ptr<const Descriptor> root_;
    std::vector<Level> levels_;
    std::set<Identity> onPath_; // the folders being walked, so that a link cannot loop
    std::string path_;          // the current folder's name relative to the root, with its '/'
    Identity out_;
    bool hasOut_ = false;
    std::string error_;
};

bool FolderPacker::Pack(std::shared_ptr<const Descriptor> root) {
    root_ = std::move(root);
    struct stat info;
    if (fstat(root_->Get(), &info) != 0) {
        return Fail("cannot read " + folder_ + ": " + std::strerror(errno));
    }
    Level top;
    top.folder = root_;
    top.identity = IdentityOf(info);
    onPath_.insert(top.identity);
    if (!List(root_->Get(), top.entries)) {
        return false;
    }
    levels_.push_back(std::move(top));
    while (!levels_.empty()) {
        Level& level = levels_.back();
        if (level.next == level.entries.size()) {
            if (!Leave()) {
                return false;
            }
            continue;
        }
        const ListedEntry entry = level.entries[level.next++];
        if (entry.kind == ListedEntry::Skipped) {
            skipped_.push_back(Shown(path_ + entry.name) + ": " + entry.reason);
        } else if (entry.kind == ListedEntry::File
                       ? !AddFile(level, entry)
                       : !AddFolder(path_ + entry.name) || !Enter(level, entry)) {
            return false;
        }
    }
    return true;
}

bool FolderPacker::List(int folder, std::vector<ListedEntry>& entries) {
    for (std::string& name : ListFolder(folder)) {
        ListedEntry entry;
        if (!Classify(folder, name, entry)) {
            return false;
        }
        if (entry.kind == ListedEntry::Folder) {
            name += '/';
        }
        entry.name = std::move(name);
        // The archive being written is no part of the game.
        if (!(entry.kind == ListedEntry::File && entry.identity == out_ && hasOut_)) {
            entries.push_back(std::move(entry));
        }
    }
    std::sort(entries.begin(), entries.end(),
              [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
    return true;
}

bool FolderPacker::Classify(int folder, const std::string& name, ListedEntry& entry) {
    struct stat info;
    if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return Fail("cannot read " + Shown(path_ + name) + ": " + std::strerror(errno));
    }
    if (S_ISLNK(info.st_mode)) {
        // Resolved from the root, as the player resolves the game's paths.
        entry.throughLink = true;
        const Descriptor target = OpenBeneath(root_->Get(), path_ + name, O_PATH);
        if (!target.IsOpen() || fstat(target.Get(), &info) != 0) {
            entry.kind = ListedEntry::Skipped;
            if (errno == EXDEV) {
                entry.reason = "it leads outside " + folder_;
            } else if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) {
                entry.reason = "it leads nowhere";
            } else {
                return Fail("cannot read " + Shown(path_ + name) + ": " + std::strerror(errno));
            }
            return true;
        }
    }
    entry.identity = IdentityOf(info);
    if (S_ISDIR(info.st_mode) && onPath_.count(entry.identity)) {
        entry.kind = ListedEntry::Skipped;
        entry.reason = "it leads back into a folder that holds it";
    } else if (S_ISDIR(info.st_mode)) {
        entry.kind = ListedEntry::Folder;
    } else if (!S_ISREG(info.st_mode)) {
        entry.kind = ListedEntry::Skipped;
        entry.reason = NotAFileReason;
    }
    return true;
}

bool FolderPacker::Enter(Level& level, const ListedEntry& entry) {
    const std::string name = path_ + entry.name;
    auto folder = std::make_shared<const Descriptor>(
        entry.throughLink ? OpenBeneath(root_->Get(), name, O_PATH | O_DIRECTORY)
                          : Descriptor(openat(level.folder->Get(), entry.name.c_str(),
                                              O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)));
    struct stat info;
    if (!folder->IsOpen() || fstat(folder->Get(), &info) != 0) {
        return Fail("cannot read " + Shown(name) + ": " + std::strerror(errno));
    }
    if (IdentityOf(info) != entry.identity) {
        return Fail("cannot read " + Shown(name) + ": it changed while it was packed");
    }
    Level below;
    below.folder = folder;
    below.identity = entry.identity;
    if (!entry.throughLink) {
        level.folder.reset();
    }
    path_ = name;
    below.pathLength = path_.size();
    onPath_.insert(below.identity);
    if (!List(folder->Get(), below.entries)) {
        return false;
    }
    levels_.push_back(std::move(below));
    return true;
}

bool FolderPacker::Leave() {
    Level done = std::move(levels_.back());
    levels_.pop_back();
    onPath_.erase(done.identity);
    if (levels_.empty()) {
        return true;
    }
    Level& above = levels_.back();
    path_.resize(above.pathLength);
    if (above.folder) {
        return true;
    }
    // The folder walked is still the one listed above only while ".." leads there.
    auto folder = std::make_shared<const Descriptor>(
        openat(done.folder->Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat info;
    if (!folder->IsOpen() || fstat(folder->Get(), &info) != 0 ||
        IdentityOf(info) != above.identity) {
        return Fail("cannot read " + Shown(path_) + ": it changed while it was packed");
    }
    above.folder = std::move(folder);
    return true;
}

// Attribute bits in the low byte of the external attributes, as the engine reads them.
bool FolderPacker::OpenEntry(const std::string& name, bool folder) {
    if (name.size() > MaxEntryNameLength) {
        return Fail("cannot pack " + Shown(name) + ": its path is longer than an archive holds (" +
                    std::to_string(MaxEntryNameLength) + " bytes)");
    }
    zip_fileinfo info = {};
    info.tmz_date.tm_mday = 1; // 1 January 1980, the first day a zip can name
    info.tmz_date.tm_year = 1980;
    info.external_fa = folder ? uint32_t{ZipEntryDirectory} : 0u;
    const int method = folder ? 0 : Z_DEFLATED;
    return zipOpenNewFileInZip64(zip_, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                                 Z_DEFAULT_COMPRESSION, 0) == ZIP_OK ||
           Fail(ZipFailure(archive_, folder_));
}

bool FolderPacker::AddFolder(const std::string& name) {
    return OpenEntry(name, true) &&
           (zipCloseFileInZip(zip_) == ZIP_OK || Fail(ZipFailure(archive_, folder_)));
}

bool FolderPacker::AddFile(const Level& level, const ListedEntry& entry) {
    const std::string name = path_ + entry.name;
    // Opened as the player opens a file of its game; a link from the root, so that it may lead
    // anywhere beneath it.
    const DiskPlace place = entry.throughLink
                                ? DiskPlace::Beneath(root_, folder_, name)
                                : DiskPlace::Beneath(level.folder, Shown(path_), entry.name);
    DiskFile file;
    ClearFileFailure();
    if (!file.Open(place, 0)) {
        return Fail("cannot read " + Shown(name) + FileFailureSuffix());
    }
    const std::string tooLarge = name + " is larger than the engine reads from an archive (" +
                                 std::to_string(ZipArchive::MaxEntrySize) + " bytes)";
    // The engine inflates each entry whole and refuses larger ones. The size the open file
    // gives is checked first; what is read decides, since a file may grow or claim nothing.
    if (file.GetSize() > ZipArchive::MaxEntrySize) {
        return Fail(tooLarge);
    }
    if (!OpenEntry(name, false)) {
        return false;
    }
    std::vector<uint8_t> chunk(ReadChunk);
    uint64_t total = 0;
    bool written = true;
    while (const uint32_t got = file.Read(chunk.data(), ReadChunk)) {
        total += got;
        if (total > ZipArchive::MaxEntrySize) {
            zipCloseFileInZip(zip_);
            return Fail(tooLarge);
        }
        written = written && zipWriteInFileInZip(zip_, chunk.data(), got) == ZIP_OK;
    }
    const bool whole = file.IsEof();
    if (zipCloseFileInZip(zip_) != ZIP_OK || !written) {
        return Fail(ZipFailure(archive_, folder_));
    }
    return whole || Fail("cannot read " + Shown(name));
}

} // namespace

bool PackFolder(const std::string& folder, const std::string& out, std::string& error,
                std::vector<std::string>& skipped) {
    const std::string extension = GetPathExtension(out.c_str());
    const bool scrambled = CompareNoCase(extension.c_str(), "zoo") == 0;
    if (!scrambled && CompareNoCase(extension.c_str(), "zip") != 0) {
        error = out + " must end in \".zoo\" or \".zip\"";
        return false;
    }
    // The folder itself is the user's to name; only what lies below is held to it.
    auto root =
        std::make_shared<const Descriptor>(open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root->IsOpen()) {
        error = "cannot read " + folder + ": " +
                (errno == ENOENT || errno == ENOTDIR ? "it is no folder" : std::strerror(errno));
        return false;
    }

    ArchiveBytes archive;
    zlib_filefunc64_def functions = {OpenBytes, ReadNothing, WriteBytes, TellBytes,
                                     SeekBytes, CloseBytes,  NoError,    &archive};
    zipFile zip = zipOpen2_64("", APPEND_STATUS_CREATE, nullptr, &functions);
    if (!zip) {
        error = "cannot pack " + folder;
        return false;
    }
    FolderPacker packer(zip, archive, folder, skipped);
    struct stat outInfo;
    if (stat(out.c_str(), &outInfo) == 0) {
        packer.LeaveOut(outInfo);
    }
    const bool packed = packer.Pack(std::move(root));
    const bool closed = zipClose(zip, nullptr) == ZIP_OK;
    if (!packed) {
        error = packer.GetError();
        return false;
    }
    if (!closed) {
        error = ZipFailure(archive, folder);
        return false;
    }
    const uint32_t flags = WriteCreateFolders | (scrambled ? WriteScrambled : 0u);
    if (!WriteWholeFile(out.c_str(), archive.bytes, flags)) {
        error = "cannot write " + out;
        return false;
    }
    return true;
}

} // namespace quarn
