#pragma once

#include "core/math/Vector.h"
#include "render/lightmap/AtlasPacker.h"

#include <vector>

namespace quarn {

class Texture;

// Atlases never exceed this many texels a side.
inline constexpr int32_t MaxAtlasSide = 4096;

// Packs the parts (padded) at the best of five widths around the square root of their area and
// copies each source image into a new atlas texture with a cleared border; the parts then name
// their image rectangles in it. Null, after an error box, when no width fits MaxAtlasSide or
// the atlas texture cannot be made. The caller owns the one reference of the answer.
Texture* AssembleTextureAtlas(TextureAtlasPart* parts, int count);

// One line of an atlas definition: a texture key and where its image lies in the atlas.
struct AtlasDefinitionRecord {
    const char* key;
    int32_t left;
    int32_t top;
    int32_t width;
    int32_t height;
    int32_t padding;
};

// A key a record can hold: it is written in quotes, so a quote or a line break would end it
// early.
bool FitsAtlasDefinition(const char* key);

// Writes the atlas definition beside the atlas image (its path with the extension "txt"): one
// line per record, "left top width height padding" and the key in quotes. False, writing
// nothing, when a key does not fit; false when it was not written whole.
bool WriteTextureAtlasDefinition(const char* atlasPath,
                                 const std::vector<AtlasDefinitionRecord>& records);

// The editor command: packs the lightmaps of the selection (with one node selected and the
// prompt answered Yes, of its subtree) into an atlas saved at the path, and registers each
// lightmap in the atlas registry and its list. Only an atlas written whole is registered.
// Answers the number of parts packed, 0 when nothing was; `atlasSize`, when given, receives the
// size of the atlas registered.
int AssembleLightMapAtlas(const char* atlasPath, const char* className,
                          Int2* atlasSize = nullptr);

} // namespace quarn
