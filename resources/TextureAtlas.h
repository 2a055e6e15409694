#pragma once

#include "core/string/FixedString.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

// The texture-atlas registry: which texture keys are rectangles of a shared atlas image. It is
// read from an atlas list ("atlases.txt": quoted atlas image paths) and, per atlas image, from
// the definition file beside it (the image path with the extension "txt"): records of five
// decimal numbers and a name, "left top width height extra key".
struct TextureAtlasEntry {
    PathString image;
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
    // Carried for the atlas builder; textures do not read it.
    int32_t extra = 0;
};

// The entry of a texture key (compared without case), or null.
const TextureAtlasEntry* FindTextureAtlasEntry(const char* key);
// Replaces the entry of the key; the image path is normalised as resource names are.
void SetTextureAtlasEntry(const char* key, const char* image, int32_t left, int32_t top,
                          int32_t width, int32_t height, int32_t extra);
void RemoveTextureAtlasEntry(const char* key);
int GetTextureAtlasEntryCount();
// Every key of the registry, in its order (without case).
std::vector<std::string> GetTextureAtlasKeys();

// Empties the registry and reads the list; a missing list leaves it empty. The list's path is
// kept for SaveTextureAtlasList.
void LoadTextureAtlasList(const char* listPath);
// Adds the records of one atlas image's definition file and logs "Using texture atlas '%s'".
void LoadTextureAtlas(const char* image);
// The list's path as last read; empty when none was.
const char* GetTextureAtlasListPath();
// Writes each distinct atlas image of the registry once, quoted, one per line, to the list last
// read. False when there is no such list or it was not written whole.
bool SaveTextureAtlasList();
// Empties the registry and forgets the list.
void ClearTextureAtlases();

} // namespace quarn
