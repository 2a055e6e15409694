// Zip archives, and ".zoo" archives (a zip through the scrambling pass), mounted from a file
// system and read entry by entry. Bytes that begin with "PK" are served as a .zip, others as a
// .zoo, so both committed sample archives are seeds as they are.
#include "core/filesystem/ArchiveSet.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/io/File.h"
#include "core/io/Scrambler.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Entry names as the central directory records hold them, found by their signature; the
// archive reader decides what is real. A few made-up names test the misses.
std::vector<std::string> CandidateNames(std::string_view plain) {
    std::vector<std::string> names = {"", "missing.txt", "/"};
    constexpr std::string_view CentralRecordSignature("PK\x01\x02", 4);
    constexpr size_t NameOffset = 46;
    for (size_t at = plain.find(CentralRecordSignature);
         at != std::string_view::npos && names.size() < 24;
         at = plain.find(CentralRecordSignature, at + 1)) {
        if (at + NameOffset > plain.size()) {
            break;
        }
        const size_t length = uint8_t(plain[at + 28]) | size_t(uint8_t(plain[at + 29])) << 8;
        const size_t available = plain.size() - at - NameOffset;
        names.emplace_back(plain.substr(at + NameOffset, std::min(length, available)));
    }
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    const bool scrambled = !(size >= 2 && data[0] == 'P' && data[1] == 'K');
    std::string plain = bytes;
    if (scrambled) {
        quarn::Scrambler scrambler;
        for (char& byte : plain) {
            byte = static_cast<char>(scrambler.Unscramble(static_cast<uint8_t>(byte)));
        }
    }
    const std::string archive = scrambled ? "game.zoo" : "game.zip";

    quarn::MemoryFileSystem files;
    files.Add(archive, bytes);
    quarn::ArchiveSet set(files);
    uint32_t flags = 0;
    for (const std::string& name : CandidateNames(plain)) {
        const std::string path = archive + "/" + name;
        set.GetEntryAttributes(path.c_str());
        // Alternate plain and unscrambled entries.
        flags ^= quarn::OpenScrambled;
        std::unique_ptr<quarn::File> file = set.OpenEntry(path.c_str(), flags);
        if (!file) {
            continue;
        }
        const uint32_t expected = file->GetSize();
        std::vector<uint8_t> content(expected);
        if (file->Read(content.data(), expected) != expected || !file->IsEof()) {
            std::abort();
        }
    }
    return 0;
}
