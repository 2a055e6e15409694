#pragma once

#include <cstdint>

namespace quarn {

class Texture;

// One texture to pack into an atlas. While packing, width and height are the padded size.
struct TextureAtlasPart {
    Texture* texture = nullptr;
    bool placed = false;
    int32_t sourceX = 0;
    int32_t sourceY = 0;
    int32_t atlasX = 0;
    int32_t atlasY = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t padding = 0;
};

struct AtlasSize {
    int64_t width = 0;
    int64_t height = 0;
};

// Parts taller than this are never placed.
inline constexpr int32_t MaxAtlasPartHeight = 2048;

// Stable: descending height, then descending width.
void SortAtlasParts(TextureAtlasPart* parts, int count);
// Moves the part behind the unplaced parts that follow it and flags it placed.
void FlagAtlasPartPlaced(TextureAtlasPart* parts, int count, int index);
// Shelf packing into the given width: each shelf takes, again and again, the first unplaced part
// in sorted order that still fits. Afterwards the array holds the parts in the reverse of their
// placing order. (0, 0) without parts, or when a part is wider than the atlas, taller than
// MaxAtlasPartHeight, or would lie beyond a 32-bit position.
AtlasSize PackAtlasParts(TextureAtlasPart* parts, int count, int32_t atlasWidth);

} // namespace quarn
