#include "tools/GamePacker.h"

#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/ZipArchive.h"
#include "core/string/Text.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <minizip/zip.h>
#include <system_error>
#include <vector>

namespace quarn {

namespace {

// The archive grows in memory; minizip goes back over each local header once the entry's
// sizes are known, so writes land at the position, not only at the end.
struct ArchiveBytes {
    std::vector<uint8_t> bytes;
    uint64_t position = 0;
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

// The files and folders below `root`, as '/'-separated relative names (folders ending in '/'),
// in name order; `skipped` (the archive being written) is left out.
bool ListFolder(const std::filesystem::path& root, const std::filesystem::path& skipped,
                std::vector<std::string>& names, std::string& error) {
    std::error_code failure;
    std::filesystem::recursive_directory_iterator walk(root, failure);
    for (; !failure && walk != std::filesystem::recursive_directory_iterator();
         walk.increment(failure)) {
        const std::filesystem::directory_entry& entry = *walk;
        std::error_code ignored;
        if (!skipped.empty() && std::filesystem::equivalent(entry.path(), skipped, ignored)) {
            continue;
        }
        std::string name = entry.path().lexically_relative(root).generic_string();
        if (entry.is_directory(ignored)) {
            names.push_back(name + "/");
        } else if (entry.is_regular_file(ignored)) {
            names.push_back(name);
        }
    }
    if (failure) {
        error = "cannot read " + root.string() + ": " + failure.message();
        return false;
    }
    std::sort(names.begin(), names.end());
    return true;
}

bool ReadWholeFile(const std::filesystem::path& path, std::vector<char>& data) {
    std::ifstream file(path, std::ios::binary);
    data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

// Attribute bits in the low byte of the external attributes, as the engine reads them.
bool AddEntry(zipFile zip, const std::string& name, const std::vector<char>& data, bool folder) {
    zip_fileinfo info = {};
    info.tmz_date.tm_mday = 1; // 1 January 1980, the first day a zip can name
    info.tmz_date.tm_year = 1980;
    info.external_fa = folder ? uint32_t{ZipEntryDirectory} : 0u;
    const int method = folder ? 0 : Z_DEFLATED;
    return zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                 method, Z_DEFAULT_COMPRESSION, 0) == ZIP_OK &&
           zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size())) == ZIP_OK &&
           zipCloseFileInZip(zip) == ZIP_OK;
}

} // namespace

bool PackFolder(const std::string& folder, const std::string& out, std::string& error) {
    const std::string extension = GetPathExtension(out.c_str());
    const bool scrambled = CompareNoCase(extension.c_str(), "zoo") == 0;
    if (!scrambled && CompareNoCase(extension.c_str(), "zip") != 0) {
        error = out + " must end in \".zoo\" or \".zip\"";
        return false;
    }
    std::error_code failure;
    const std::filesystem::path root = std::filesystem::absolute(folder, failure);
    if (failure || !std::filesystem::is_directory(root, failure)) {
        error = "cannot read " + folder + ": it is no folder";
        return false;
    }
    std::vector<std::string> names;
    std::filesystem::path outPath = std::filesystem::absolute(out, failure);
    if (!ListFolder(root, failure ? std::filesystem::path() : outPath, names, error)) {
        return false;
    }

    ArchiveBytes archive;
    zlib_filefunc64_def functions = {OpenBytes, ReadNothing, WriteBytes, TellBytes, SeekBytes,
                                     CloseBytes, NoError, &archive};
    zipFile zip = zipOpen2_64("", APPEND_STATUS_CREATE, nullptr, &functions);
    bool added = zip != nullptr;
    std::vector<char> data;
    for (const std::string& name : names) {
        if (!added) {
            break;
        }
        const bool isFolder = name.back() == '/';
        data.clear();
        // The engine inflates each entry whole and refuses larger ones.
        if (!isFolder && std::filesystem::file_size(root / name, failure) >
                             ZipArchive::MaxEntrySize) {
            error = name + " is larger than the engine reads from an archive (" +
                    std::to_string(ZipArchive::MaxEntrySize) + " bytes)";
            zipClose(zip, nullptr);
            return false;
        }
        if (!isFolder && (failure || !ReadWholeFile(root / name, data))) {
            error = "cannot read " + (root / name).string();
            zipClose(zip, nullptr);
            return false;
        }
        added = AddEntry(zip, name, data, isFolder);
    }
    if (zip && zipClose(zip, nullptr) != ZIP_OK) {
        added = false;
    }
    if (!added) {
        error = "cannot pack " + folder;
        return false;
    }
    // The engine reads an archive's size as a 32-bit word.
    if (archive.bytes.size() > UINT32_MAX) {
        error = "the archive of " + folder + " would be larger than 4 GiB";
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
