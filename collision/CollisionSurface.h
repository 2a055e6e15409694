#pragma once

#include "collision/HeightField.h"
#include "core/math/Vector.h"

#include <cstdint>

namespace quarn {

class RawData;

// A static height field that keeps its own heights in raw data: two ints, the grid's columns
// and rows, then columns x rows float heights row by row (a surface made here has as many
// spare floats after them). Vertices lie size / gridSize apart, centred on the node, heights
// unscaled.
class CollisionSurface : public HeightFieldVolume {
public:
    CollisionSurface();
    ~CollisionSurface() override;

    Float3 GetSize() const { return size_; }
    void SetSize(Float3 size);
    Int2 GetGridSize() const { return gridSize_; }
    // A changed cell count replaces the raw data by a flat one of the new size; refuses
    // (validity report) a negative side or more than 2^24 cells.
    void SetGridSize(Int2 size);
    const char* GetRawDataName() const;
    // Reads the sizes from the data's header; data too short for what the header claims gives
    // no heights and one log line.
    void SetRawDataName(const char* name);
    RawData* GetRawData() const { return rawData_; }
    float GetMinHeight() const { return minHeight_; }
    float GetMaxHeight() const { return maxHeight_; }
    bool HasHeights() const { return heightCount_ > 0; }
    // Height i of the data; 0 past the heights it holds.
    float GetHeight(int64_t index) const;

    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override;
    void UpdateWorldBoundingBox() override;
    ClassInfo* GetClass() const override { return classInfo; }
    void DrawShape() override;

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    // Vertex (i, j) in the local frame.
    Float3 GetCorner(int32_t i, int32_t j) const;
    // Takes the sizes and heights from the held data's header, checking that the data holds
    // them.
    void ReadHeader();

    Float3 size_{100.0f, 1.0f, 100.0f};
    Int2 gridSize_;
    RawData* rawData_ = nullptr; // one counted reference
    HeightFieldCells ownCells_;  // of heights the surface made for itself
    int64_t heightCount_ = 0;    // heights the data holds after its header
    float minHeight_ = 0.0f;
    float maxHeight_ = 0.0f;
};

} // namespace quarn
