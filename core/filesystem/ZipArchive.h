#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace quarn {

// Attribute bits of a zip entry as archives made on Windows store them in the low byte of the
// external attributes (most other tools write the same two bits there too).
enum ZipEntryAttributes : uint32_t {
    ZipEntryReadOnly = 1,
    ZipEntryDirectory = 16,
};

// One entry of an archive's central directory.
struct ZipEntry {
    int32_t index = -1; // position in directory order
    std::string name;   // as stored, case kept
    uint32_t attributes = 0;
    uint32_t method = 0; // 0 stored, 8 deflated; the others are refused when read
    uint32_t flags = 0;  // general-purpose bits; bit 0 marks an encrypted entry
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    // Where the entry's record sits in the central directory, for going back to it.
    uint64_t directoryPosition = 0;
};

// A zip archive read from bytes in memory. Only stored and deflated entries without encryption
// are read; zip64 archives work.
class ZipArchive {
public:
    // Declared sizes above this are refused before anything is allocated: no resource the
    // engine loads comes near it, and every entry is inflated whole into memory.
    static constexpr uint64_t MaxEntrySize = uint64_t{1} << 30;
    // Deflate cannot expand beyond about 1032 to 1 (two one-bit codes per 258-byte match); a
    // declared size beyond that ratio (plus room for block headers) is a lie.
    static constexpr uint64_t MaxDeflateRatio = 1032;
    static constexpr uint64_t DeflateSlack = 1024;

    // Takes the bytes; null when they are not a zip archive.
    static std::unique_ptr<ZipArchive> OpenFromMemory(std::vector<uint8_t> bytes);
    // Closes the archive and frees its bytes.
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // The entry whose name equals `name` without ASCII case; when several do, the first in
    // directory order. Null when there is none. The pointer stays valid as long as the archive.
    const ZipEntry* FindEntry(const char* name);

    // Inflates the whole entry into `out`. False (and `out` empty) when the entry's declared
    // size is implausible, its method or encryption is unsupported, the data is damaged, the
    // checksum does not match or fewer bytes come out than declared.
    bool ReadEntry(const ZipEntry& entry, std::vector<uint8_t>& out);

    // Whether ReadEntry will try the entry: a stored or deflated entry without encryption whose
    // declared size is one its compressed bytes can give. Nothing is allocated for the others.
    bool CanRead(const ZipEntry& entry) const;

    // The read position minizip's I/O callbacks move over the bytes.
    struct MemoryStream {
        const uint8_t* data = nullptr;
        uint64_t size = 0;
        uint64_t position = 0;
    };

private:
    ZipArchive() = default;
    void BuildIndex();

    std::vector<uint8_t> bytes_;
    MemoryStream stream_;
    void* zip_ = nullptr; // minizip's unzFile
    bool indexBuilt_ = false;
    // Entries in directory order, and the lower-cased names mapped to their first position.
    std::vector<ZipEntry> entries_;
    std::unordered_map<std::string, size_t> index_;
};

} // namespace quarn
