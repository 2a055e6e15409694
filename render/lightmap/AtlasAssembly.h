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

} // namespace quarn
