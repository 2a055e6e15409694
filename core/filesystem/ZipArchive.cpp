#include "core/filesystem/ZipArchive.h"

#include "core/string/Text.h"

#include <algorithm>
#include <cstring>
#include <minizip/ioapi.h>
#include <minizip/unzip.h>
#include <type_traits>

namespace quarn {
namespace {

using MemoryStream = ZipArchive::MemoryStream;
// minizip's seek callback returns the C `long` of its own declaration.
using SeekResult = std::invoke_result_t<seek64_file_func, voidpf, voidpf, ZPOS64_T, int>;

// minizip opens its "file" once per archive; the opaque pointer is the archive's stream, so
// opening only rewinds it. Archives are never written through this I/O.
voidpf OpenStream(voidpf opaque, const void*, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_WRITE) != 0) {
        return nullptr;
    }
    static_cast<MemoryStream*>(opaque)->position = 0;
    return opaque;
}

uLong ReadStream(voidpf, voidpf stream, void* buffer, uLong size) {
    MemoryStream& memory = *static_cast<MemoryStream*>(stream);
    if (memory.position >= memory.size) {
        return 0;
    }
    uint64_t count = std::min<uint64_t>(size, memory.size - memory.position);
    std::memcpy(buffer, memory.data + memory.position, count);
    memory.position += count;
    return static_cast<uLong>(count);
}

ZPOS64_T TellStream(voidpf, voidpf stream) {
    return static_cast<MemoryStream*>(stream)->position;
}

// Offsets are unsigned here; a caller stepping backwards passes the two's complement, which
// the wrapping addition turns into the intended position. Nothing may land past the end.
SeekResult SeekStream(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    MemoryStream& memory = *static_cast<MemoryStream*>(stream);
    uint64_t base = 0;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
        base = 0;
        break;
    case ZLIB_FILEFUNC_SEEK_CUR:
        base = memory.position;
        break;
    case ZLIB_FILEFUNC_SEEK_END:
        base = memory.size;
        break;
    default:
        return -1;
    }
    uint64_t target = base + offset;
    if (target > memory.size) {
        return -1;
    }
    memory.position = target;
    return 0;
}

int CloseStream(voidpf, voidpf) {
    return 0;
}

int StreamError(voidpf, voidpf) {
    return 0;
}

std::string LowerCaseName(const char* name) {
    std::string lower(name);
    for (char& c : lower) {
        c = ToLowerAscii(c);
    }
    return lower;
}

// unzReadCurrentFile takes an unsigned count; large entries are read in pieces.
constexpr uint64_t ReadChunk = uint64_t{1} << 20;

} // namespace

std::unique_ptr<ZipArchive> ZipArchive::OpenFromMemory(std::vector<uint8_t> bytes) {
    std::unique_ptr<ZipArchive> archive(new ZipArchive());
    archive->bytes_ = std::move(bytes);
    archive->stream_.data = archive->bytes_.data();
    archive->stream_.size = archive->bytes_.size();

    zlib_filefunc64_def io = {};
    io.zopen64_file = OpenStream;
    io.zread_file = ReadStream;
    io.zwrite_file = nullptr;
    io.ztell64_file = TellStream;
    io.zseek64_file = SeekStream;
    io.zclose_file = CloseStream;
    io.zerror_file = StreamError;
    io.opaque = &archive->stream_;
    // minizip keeps its own copy of the I/O table; the stream it points to lives in the archive,
    // which is never moved.
    archive->zip_ = unzOpen2_64(&archive->stream_, &io);
    if (!archive->zip_) {
        return nullptr;
    }
    return archive;
}

ZipArchive::~ZipArchive() {
    if (zip_) {
        unzClose(static_cast<unzFile>(zip_));
    }
}

void ZipArchive::BuildIndex() {
    indexBuilt_ = true;
    unzFile zip = static_cast<unzFile>(zip_);
    // A damaged record ends the walk; the entries before it stay usable.
    for (int result = unzGoToFirstFile(zip); result == UNZ_OK; result = unzGoToNextFile(zip)) {
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
            break;
        }
        // One byte more than the name, so minizip terminates it.
        std::string name(info.size_filename + 1, '\0');
        if (unzGetCurrentFileInfo64(zip, &info, name.data(), static_cast<uLong>(name.size()),
                                    nullptr, 0, nullptr, 0) != UNZ_OK) {
            break;
        }
        name.resize(std::strlen(name.c_str()));
        unz64_file_pos position;
        if (unzGetFilePos64(zip, &position) != UNZ_OK) {
            break;
        }

        ZipEntry entry;
        entry.index = static_cast<int32_t>(entries_.size());
        entry.name = std::move(name);
        entry.attributes =
            static_cast<uint32_t>(info.external_fa) & (ZipEntryReadOnly | ZipEntryDirectory);
        entry.method = static_cast<uint32_t>(info.compression_method);
        entry.flags = static_cast<uint32_t>(info.flag);
        entry.compressedSize = info.compressed_size;
        entry.uncompressedSize = info.uncompressed_size;
        entry.directoryPosition = position.pos_in_zip_directory;
        // emplace keeps an existing key: the first of names equal without case wins.
        index_.emplace(LowerCaseName(entry.name.c_str()), entries_.size());
        entries_.push_back(std::move(entry));
    }
}

const ZipEntry* ZipArchive::FindEntry(const char* name) {
    if (!indexBuilt_) {
        BuildIndex();
    }
    auto found = index_.find(LowerCaseName(name ? name : ""));
    return found == index_.end() ? nullptr : &entries_[found->second];
}

bool ZipArchive::CanRead(const ZipEntry& entry) const {
    constexpr uint32_t EncryptedFlag = 1;
    if ((entry.flags & EncryptedFlag) != 0) {
        return false;
    }
    // minizip would hand out the raw bytes of a method it cannot inflate, unchecked.
    if (entry.method != 0 && entry.method != Z_DEFLATED) {
        return false;
    }
    if (entry.uncompressedSize > MaxEntrySize || entry.compressedSize > bytes_.size()) {
        return false;
    }
    if (entry.method == 0) {
        return entry.uncompressedSize == entry.compressedSize;
    }
    return entry.uncompressedSize <= entry.compressedSize * MaxDeflateRatio + DeflateSlack;
}

bool ZipArchive::ReadEntry(const ZipEntry& entry, std::vector<uint8_t>& out) {
    out.clear();
    if (!CanRead(entry)) {
        return false;
    }
    unzFile zip = static_cast<unzFile>(zip_);
    unz64_file_pos position;
    position.pos_in_zip_directory = entry.directoryPosition;
    position.num_of_file = static_cast<ZPOS64_T>(entry.index);
    if (unzGoToFilePos64(zip, &position) != UNZ_OK || unzOpenCurrentFile(zip) != UNZ_OK) {
        return false;
    }

    std::vector<uint8_t> data(entry.uncompressedSize);
    uint64_t done = 0;
    bool complete = true;
    while (done < data.size()) {
        unsigned chunk = static_cast<unsigned>(std::min(data.size() - done, ReadChunk));
        int count = unzReadCurrentFile(zip, data.data() + done, chunk);
        if (count <= 0) {
            complete = false;
            break;
        }
        done += static_cast<uint64_t>(count);
    }
    // Closing checks the checksum once every declared byte was read; a size header that
    // understates the data shows up here.
    int closed = unzCloseCurrentFile(zip);
    if (!complete || closed != UNZ_OK) {
        return false;
    }
    out = std::move(data);
    return true;
}

} // namespace quarn
