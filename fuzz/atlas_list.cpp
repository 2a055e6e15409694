// Texture-atlas lists and definitions: the input up to its first zero byte is "atlases.txt",
// the rest the definition "atlas.txt" of the atlas image "atlas.png". What was read saves as a
// list naming each atlas image once. The definition's records, written again by the atlas
// builder's writer, read back as the same records and write the same bytes again.
#include "core/filesystem/MemoryFileSystem.h"
#include "render/lightmap/AtlasAssembly.h"
#include "resources/TextureAtlas.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Record {
    std::string key;
    quarn::TextureAtlasEntry entry;
};

std::vector<Record> ReadRecords() {
    std::vector<Record> records;
    for (const std::string& key : quarn::GetTextureAtlasKeys()) {
        records.push_back({key, *quarn::FindTextureAtlasEntry(key.c_str())});
    }
    return records;
}

bool Same(const std::vector<Record>& a, const std::vector<Record>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        const quarn::TextureAtlasEntry& x = a[i].entry;
        const quarn::TextureAtlasEntry& y = b[i].entry;
        if (a[i].key != b[i].key || std::strcmp(x.image.Text(), y.image.Text()) != 0 ||
            x.left != y.left || x.top != y.top || x.width != y.width || x.height != y.height ||
            x.extra != y.extra) {
            return false;
        }
    }
    return true;
}

// False when a key cannot be written; the writer then writes nothing.
bool Write(const std::vector<Record>& records) {
    std::vector<quarn::AtlasDefinitionRecord> lines;
    for (const Record& record : records) {
        const quarn::TextureAtlasEntry& e = record.entry;
        lines.push_back({record.key.c_str(), e.left, e.top, e.width, e.height, e.extra});
    }
    return quarn::WriteTextureAtlasDefinition("atlas.png", lines);
}

void RoundTripDefinition(quarn::MemoryFileSystem& files) {
    quarn::ClearTextureAtlases();
    quarn::LoadTextureAtlas("atlas.png");
    const std::vector<Record> first = ReadRecords();
    bool writable = true;
    for (const Record& record : first) {
        writable = writable && quarn::FitsAtlasDefinition(record.key.c_str());
    }
    if (Write(first) != writable) {
        std::abort();
    }
    if (!writable) {
        return;
    }
    const std::string written = *files.Written("atlas.txt");
    files.Add("atlas.txt", written);
    quarn::ClearTextureAtlases();
    quarn::LoadTextureAtlas("atlas.png");
    const std::vector<Record> second = ReadRecords();
    if (!Same(second, first) || !Write(second) || *files.Written("atlas.txt") != written) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    quarn::MemoryFileSystem files;
    quarn::FileSystem* previous = quarn::GetFileSystem();
    quarn::SetFileSystem(&files);
    files.Add("atlases.txt", input.substr(0, split));
    files.Add("atlas.txt", split == std::string::npos ? "" : input.substr(split + 1));
    quarn::LoadTextureAtlasList("atlases.txt");
    const int entries = quarn::GetTextureAtlasEntryCount();
    if (quarn::SaveTextureAtlasList() != true && entries > 0) {
        std::abort();
    }
    RoundTripDefinition(files);
    quarn::ClearTextureAtlases();
    quarn::SetFileSystem(previous);
    return 0;
}
