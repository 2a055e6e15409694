// Texture-atlas lists and definitions: the input up to its first zero byte is "atlases.txt",
// the rest the definition "atlas.txt" of the atlas image "atlas.png". What was read saves as a
// list naming each atlas image once.
#include "core/filesystem/MemoryFileSystem.h"
#include "resources/TextureAtlas.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

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
    quarn::ClearTextureAtlases();
    quarn::SetFileSystem(previous);
    return 0;
}
