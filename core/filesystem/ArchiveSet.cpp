#include "core/filesystem/ArchiveSet.h"

#include "core/filesystem/FileSystem.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/filesystem/ZipArchive.h"
#include "core/io/MemoryFile.h"
#include "core/io/Scrambler.h"
#include "core/os/EngineWork.h"
#include "core/string/Text.h"

#include <vector>

namespace quarn {

struct ArchiveSet::Impl {
    explicit Impl(FileSystem& fileSystem) : fileSystem_(fileSystem) {}

    ZipArchive* FindOrMount(const std::string& archivePath);
    // The entry a native path names, and the archive holding it; null when either is missing.
    const ZipEntry* FindEntry(const char* nativePath, ZipArchive*& archive);

    // A record without an archive is one that was read and refused: it stays so that a broken
    // archive is read once, not again (with a fresh copy of its bytes) on every use. An archive
    // read with the game's reach held is kept apart from one read without it, so that bytes the
    // editor read through a link leading out never serve a game.
    struct Mount {
        std::string path;
        bool held;
        std::unique_ptr<ZipArchive> archive;
    };

    FileSystem& fileSystem_;
    std::vector<Mount> mounts_;
};

ZipArchive* ArchiveSet::Impl::FindOrMount(const std::string& archivePath) {
    const bool held = IsGameReachHeld();
    for (const Mount& mount : mounts_) {
        if (mount.held == held && CompareNoCase(mount.path.c_str(), archivePath.c_str()) == 0) {
            return mount.archive.get();
        }
    }

    // A ".zoo" is a zip passed through the scrambling pass as a whole.
    uint32_t flags = OpenText | OpenNative;
    if (FindNoCase(archivePath.c_str(), ".zoo")) {
        flags |= OpenScrambled;
    }
    std::unique_ptr<File> file = fileSystem_.Open(archivePath.c_str(), flags);
    if (!file) {
        // Nothing is kept for a missing archive: it costs one failed open per use, and the
        // file may still appear (a download, the editor writing it).
        return nullptr;
    }
    uint32_t size = file->GetSize();
    std::vector<uint8_t> bytes(size);
    uint32_t done = 0;
    while (done < size) {
        uint32_t count = file->Read(bytes.data() + done, size - done);
        if (count == 0) {
            break;
        }
        done += count;
    }
    file.reset();

    Mount mount;
    mount.path = archivePath;
    mount.held = held;
    if (done == size) {
        mount.archive = ZipArchive::OpenFromMemory(std::move(bytes));
    }
    mounts_.push_back(std::move(mount));
    return mounts_.back().archive.get();
}

const ZipEntry* ArchiveSet::Impl::FindEntry(const char* nativePath, ZipArchive*& archive) {
    std::string archivePath;
    std::string entryName;
    archive = nullptr;
    if (!SplitArchivePath(nativePath, archivePath, entryName)) {
        return nullptr;
    }
    archive = FindOrMount(archivePath);
    return archive ? archive->FindEntry(entryName.c_str()) : nullptr;
}

ArchiveSet::ArchiveSet(FileSystem& fileSystem) : impl_(std::make_unique<Impl>(fileSystem)) {}

ArchiveSet::~ArchiveSet() = default;

bool ArchiveSet::SplitArchivePath(const char* nativePath, std::string& archive,
                                  std::string& entry) {
    // ".zip/" anywhere wins over an earlier ".zoo/"; the segment's case does not matter.
    const char* segment = FindNoCase(nativePath, ".zip/");
    if (!segment) {
        segment = FindNoCase(nativePath, ".zoo/");
    }
    if (!segment) {
        return false;
    }
    constexpr size_t ExtensionLength = 4; // ".zip" or ".zoo"
    archive.assign(nativePath, static_cast<size_t>(segment - nativePath) + ExtensionLength);
    entry.assign(segment + ExtensionLength + 1);
    return true;
}

std::unique_ptr<File> ArchiveSet::OpenEntry(const char* nativePath, uint32_t flags) {
    ZipArchive* archive = nullptr;
    const ZipEntry* entry = impl_->FindEntry(nativePath, archive);
    if (!entry) {
        return nullptr;
    }
    std::vector<uint8_t> data;
    if (!archive->ReadEntry(*entry, data)) {
        return nullptr;
    }
    // A member is inflated whole each time it is opened.
    ChargeBytesDecoded(data.size());
    if ((flags & OpenScrambled) != 0) {
        Scrambler scrambler;
        for (uint8_t& byte : data) {
            byte = scrambler.Unscramble(byte);
        }
    }
    auto file = std::make_unique<MemoryFile>(std::move(data));
    file->SetName(nativePath);
    return file;
}

uint32_t ArchiveSet::GetEntryAttributes(const char* nativePath) {
    ZipArchive* archive = nullptr;
    const ZipEntry* entry = impl_->FindEntry(nativePath, archive);
    if (!entry) {
        return FileMissing;
    }
    uint32_t attributes = 0;
    if ((entry->attributes & ZipEntryReadOnly) != 0) {
        attributes |= FileReadOnly;
    }
    if ((entry->attributes & ZipEntryDirectory) != 0) {
        attributes |= FileDirectory;
    }
    return attributes;
}

} // namespace quarn
