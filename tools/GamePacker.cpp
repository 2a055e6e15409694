#include "tools/GamePacker.h"

#include "app/platform/StopSignal.h"
#include "core/filesystem/DiskFile.h"
#include "core/filesystem/DiskPlace.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/ZipArchive.h"
#include "core/string/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <minizip/zip.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quarn {

namespace {

// The archive is written to a scratch file, since minizip goes back over each local header
// once the entry's sizes are known; the scrambling pass chains each byte to the one before, so
// it runs over the finished archive on its way to `out`. Nothing of it is held in memory.
struct ScratchArchive {
    Descriptor file;
    uint64_t position = 0;
    uint64_t size = 0;
    // The engine reads an archive's size as a 32-bit word: a write past it is refused.
    bool full = false;
    int error = 0; // why a write to the disk failed
};

voidpf OpenScratch(voidpf opaque, const void*, int) {
    return opaque;
}

uLong WriteScratch(voidpf, voidpf stream, const void* data, uLong size) {
    auto& archive = *static_cast<ScratchArchive*>(stream);
    if (archive.position + size > UINT32_MAX) {
        archive.full = true;
        return 0;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (uLong done = 0; done < size;) {
        const ssize_t written = pwrite(archive.file.Get(), bytes + done, size - done,
                                       static_cast<off_t>(archive.position + done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            archive.error = written < 0 ? errno : ENOSPC;
            return done;
        }
        done += static_cast<uLong>(written);
    }
    archive.position += size;
    archive.size = std::max(archive.size, archive.position);
    return size;
}

uLong ReadNothing(voidpf, voidpf, void*, uLong) {
    return 0;
}

ZPOS64_T TellScratch(voidpf, voidpf stream) {
    return static_cast<ScratchArchive*>(stream)->position;
}

long SeekScratch(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto& archive = *static_cast<ScratchArchive*>(stream);
    uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
        base = archive.position;
    } else if (origin == ZLIB_FILEFUNC_SEEK_END) {
        base = archive.size;
    }
    if (base + offset > archive.size) {
        return -1;
    }
    archive.position = base + offset;
    return 0;
}

int CloseScratch(voidpf, voidpf) {
    return 0;
}

int NoError(voidpf, voidpf) {
    return 0;
}

// Why minizip failed: the archive's limit, or the scratch file's disk.
std::string ZipFailure(const ScratchArchive& archive, const std::string& folder) {
    if (archive.full) {
        return "the archive of " + folder + " would be larger than 4 GiB";
    }
    return "cannot pack " + folder +
           (archive.error != 0 ? std::string(": ") + std::strerror(archive.error) : "");
}

// An unnamed file beside `out`, where the archive will land, else in the temporary folder.
Descriptor OpenScratchFile(const std::string& out) {
    std::vector<std::string> folders;
    PathString native;
    if (FileSystem* files = GetFileSystem(); files && files->GetNativePath(native, out.c_str())) {
        const std::string path = native.Text();
        const size_t slash = path.rfind('/');
        folders.push_back(slash == std::string::npos ? "." : path.substr(0, slash + 1));
    }
    const char* temporary = std::getenv("TMPDIR");
    folders.emplace_back(temporary && *temporary ? temporary : "/tmp");
    for (const std::string& folder : folders) {
        Descriptor scratch(open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
        if (scratch.IsOpen()) {
            return scratch;
        }
    }
    return {};
}

constexpr size_t ReadChunk = 65536;

// Why a pack a stop signal ended failed.
constexpr const char* StoppedText = "stopped by a signal";

// The engine opens a packed file by its native path ("/GAME/data.zoo/NAME"), which holds at most
// 259 bytes: a name past this is out of its reach wherever the game lies.
constexpr size_t MaxOpenedName =
    PathString::Size() - 1 - std::char_traits<char>::length("/data.zoo/");

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

std::string WithoutSlash(std::string name) {
    if (!name.empty() && name.back() == '/') {
        name.pop_back();
    }
    return name;
}

// Why the engine could not open `name` (a path inside the archive, a folder's ending in '/')
// once packed; "" when it can.
std::string Unopenable(const std::string& name) {
    const bool folder = name.back() == '/';
    const size_t length = name.size() - (folder ? 1 : 0);
    if (length > MaxOpenedName) {
        return "its path of " + std::to_string(length) + " bytes is longer than the " +
               std::to_string(MaxOpenedName) + " the engine opens in an archive";
    }
    // Reading a path, the engine takes such a folder for an archive to look into.
    const auto endsIn = [&name](const char* tail) {
        const size_t count = std::strlen(tail);
        return name.size() >= count && CompareNoCase(name.c_str() + name.size() - count, tail) == 0;
    };
    if (folder && (endsIn(".zip/") || endsIn(".zoo/"))) {
        return "the engine reads a folder named so as an archive";
    }
    return {};
}

// Walks the folder depth first, one level of descriptors at a time, and writes each entry as it
// comes; memory follows what a folder lists and how deep the walk is, never the two multiplied.
//
// A folder reached through a link is packed under the link's name too, but once only: links
// that lead to it again, by any path, are left out with a line, so that links which meet (two
// in each folder of a chain) cannot multiply the archive. Its own path packs it as well.
class FolderPacker {
public:
    FolderPacker(zipFile zip, const ScratchArchive& archive, std::string folder,
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
        size_t pathLength = 0;    // of path_ while this folder is walked
        bool throughLink = false; // this folder or one above it was entered through a link
    };

    std::string Shown(const std::string& name) const { return folder_ + "/" + name; }
    bool Fail(std::string reason) {
        error_ = std::move(reason);
        return false;
    }
    // The reason to leave out an entry the walk has come to; "" to pack it.
    std::string LeftOut(const Level& level, const ListedEntry& entry);
    bool List(int folder, std::vector<ListedEntry>& entries);
    bool Classify(int folder, const std::string& name, ListedEntry& entry);
    bool Enter(Level& level, const ListedEntry& entry);
    bool Leave();
    bool OpenEntry(const std::string& name, bool folder);
    bool AddFile(const Level& level, const ListedEntry& entry);
    bool AddFolder(const std::string& name);

    zipFile zip_;
    const ScratchArchive& archive_;
    std::string folder_; // as given, for names in lines
    std::vector<std::string>& skipped_;
    std::shared_ptr<const Descriptor> root_;
    std::vector<Level> levels_;
    std::set<Identity> onPath_; // the folders being walked, so that a link cannot loop
    // Each folder packed through a link, with the name it was packed under.
    std::map<Identity, std::string> packedThroughLink_;
    std::string path_; // the current folder's name relative to the root, with its '/'
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
        if (StopRequested()) {
            return Fail(StoppedText);
        }
        Level& level = levels_.back();
        if (level.next == level.entries.size()) {
            if (!Leave()) {
                return false;
            }
            continue;
        }
        const ListedEntry entry = level.entries[level.next++];
        const std::string reason = LeftOut(level, entry);
        if (!reason.empty()) {
            skipped_.push_back(Shown(WithoutSlash(path_ + entry.name)) + ": " + reason);
        } else if (entry.kind == ListedEntry::File
                       ? !AddFile(level, entry)
                       : !AddFolder(path_ + entry.name) || !Enter(level, entry)) {
            return false;
        }
    }
    return true;
}

std::string FolderPacker::LeftOut(const Level& level, const ListedEntry& entry) {
    if (entry.kind == ListedEntry::Skipped) {
        return entry.reason;
    }
    const std::string name = path_ + entry.name;
    std::string reason = Unopenable(name);
    if (!reason.empty() || entry.kind != ListedEntry::Folder ||
        !(entry.throughLink || level.throughLink)) {
        return reason;
    }
    const auto [packed, first] = packedThroughLink_.emplace(entry.identity, name);
    if (first) {
        return {};
    }
    return "it leads to the folder packed as " + Shown(WithoutSlash(packed->second));
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
    below.throughLink = entry.throughLink || level.throughLink;
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
        // A large file is many chunks: the stop is seen between them, not after the file.
        if (StopRequested()) {
            zipCloseFileInZip(zip_);
            return Fail(StoppedText);
        }
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

// Passes the finished archive to `out` through the scrambling pass when asked; `out` is
// replaced only when every byte arrived, and left as it was when a stop signal comes first.
bool CopyToOut(const ScratchArchive& archive, const std::string& out, uint32_t flags,
               std::string& error) {
    error = "cannot write " + out;
    ForwardingOutputStream stream;
    if (!stream.Open(out.c_str(), flags)) {
        error += FileFailureSuffix();
        return false;
    }
    std::vector<uint8_t> chunk(ReadChunk);
    for (uint64_t done = 0; done < archive.size;) {
        if (StopRequested()) {
            stream.Abandon();
            error = StoppedText;
            return false;
        }
        const ssize_t got =
            pread(archive.file.Get(), chunk.data(),
                  std::min<uint64_t>(ReadChunk, archive.size - done), static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        const auto count = static_cast<uint32_t>(got);
        if (got <= 0 || stream.Write(chunk.data(), count) != count) {
            stream.Abandon();
            error += FileFailureSuffix();
            return false;
        }
        done += count;
    }
    if (!stream.Close()) {
        error += FileFailureSuffix();
        return false;
    }
    return true;
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

    ScratchArchive archive;
    archive.file = OpenScratchFile(out);
    if (!archive.file.IsOpen()) {
        error = "cannot pack " + folder + ": no scratch file can be made: " + std::strerror(errno);
        return false;
    }
    zlib_filefunc64_def functions = {OpenScratch, ReadNothing,  WriteScratch, TellScratch,
                                     SeekScratch, CloseScratch, NoError,      &archive};
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
    const uint32_t flags = WriteCreateFolders | (scrambled ? WriteScrambled : 0u);
    if (!packed) {
        error = packer.GetError();
    } else if (!closed) {
        error = ZipFailure(archive, folder);
    } else if (CopyToOut(archive, out, flags, error)) {
        return true;
    }
    if (error == StoppedText) {
        error += "; " + out + " is left as it was";
    }
    return false;
}

} // namespace quarn
