#pragma once

#include "render/lightmap/AtlasPacker.h"

namespace quarn {

class Texture;

// Atlases never exceed this many texels a side.
inline constexpr int32_t MaxAtlasSide = 4096;

// Packs the parts (padded) at the best of five widths around the square root of their area and
// copies each source image into a new atlas texture with a cleared border; the parts then name
// their image rectangles in it. Null, after an error box, when no width fits MaxAtlasSide or
// the atlas texture cannot be made. The caller owns the one reference of the answer.
Texture* AssembleTextureAtlas(TextureAtlasPart* parts, int count);

// Writes the atlas definition beside the atlas image (its path with the extension "txt"): one
// line per part, "left top width height padding" and the part's texture path in quotes. False
// when it was not written whole.
bool WriteTextureAtlasDefinition(const char* atlasPath, const TextureAtlasPart* parts, int count);

// The editor command: packs the lightmaps of the selection (with one node selected and the
// prompt answered Yes, of its subtree) into an atlas saved at the path, and registers each
// lightmap in the atlas registry and its list. Only an atlas written whole is registered.
// Answers the number of parts packed, 0 when nothing was.
int AssembleLightMapAtlas(const char* atlasPath, const char* className);

} // namespace quarn
