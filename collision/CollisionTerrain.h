#pragma once

#include "collision/HeightField.h"
#include "core/math/Vector.h"

namespace quarn {

class GridDataResource;

// Bits of terrainflags. The mirror bits are stored and saved but change nothing here.
enum TerrainFlags : int32_t {
    TerrainMirrorX = 0x1,
    TerrainMirrorY = 0x2,
    TerrainAutoPos = 0x4, // place the node after the grid's geographic corner
};

// A static height field over a window of a grid's height layer: gridSize cells from the
// offset's column and row, centred on the node across size.x by size.z, heights scaled by
// size.y. Grid cells outside the grid read 0.
class CollisionTerrain : public HeightFieldVolume {
public:
    CollisionTerrain();
    ~CollisionTerrain() override;

    Float3 GetSize() const { return size_; }
    void SetSize(Float3 size);
    Int2 GetOffset() const { return offset_; }
    void SetOffset(Int2 offset);
    Int2 GetGridSize() const { return gridSize_; }
    // Refuses (validity report) a negative side or more than 2^24 cells.
    void SetGridSize(Int2 size);
    const char* GetHeightMapName() const;
    void SetHeightMapName(const char* name);
    GridDataResource* GetHeightMap() const { return heightMap_; }
    int32_t GetTerrainFlags() const { return terrainFlags_; }
    void SetTerrainFlags(int32_t flags);
    float GetMinHeight() const { return minHeight_; }
    float GetMaxHeight() const { return maxHeight_; }

    // The unscaled height of window vertex (i, j); 0 outside the grid or without one.
    float GetWindowHeight(int64_t i, int64_t j) const;
    // The height (scaled) at a local point: the two-triangle interpolation of its cell. With
    // `clamp` a point outside the extent takes the border's height; without, it has height 0.
    // False for a non-finite coordinate (or one that a zero size makes non-finite).
    bool GetLocalHeight(float x, float z, bool clamp, float& height) const;

    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override;
    void UpdateBoundingBox() override;
    // Position -/+ size / 2 in x and z; the node's rotation is not applied.
    void UpdateWorldBoundingBox() override;
    ClassInfo* GetClass() const override { return classInfo; }
    void DrawShape() override;

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    // Vertex (i, j) in the local frame.
    Float3 GetCorner(int32_t i, int32_t j) const;
    // Keeps offset + gridSize below the grid's sides (from above only, as stored scenes have it).
    void ClampOffset();
    void RecomputeHeights();
    void PlaceAutomatically();
    void InvalidateBoxes();

    static Property* sizeProperty_;
    static Property* gridSizeProperty_;
    static Property* offsetProperty_;
    static Property* terrainFlagsProperty_;

    Float3 size_{100.0f, 1.0f, 100.0f};
    Int2 offset_;
    Int2 gridSize_;
    GridDataResource* heightMap_ = nullptr; // one counted reference
    HeightFieldCells ownCells_;             // of a grid the terrain made for itself
    int32_t terrainFlags_ = TerrainMirrorY;
    float minHeight_ = 0.0f;
    float maxHeight_ = 0.0f;
};

int CollideTerrainPoint(CollisionVolume& terrain, CollisionVolume& point, int maximum,
                        std::span<CollisionContact> contacts);

} // namespace quarn
