#pragma once

#include "core/math/Vector.h"
#include "core/string/PrintfFormat.h"
#include "resources/Resource.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace quarn {

// A grid of float cells in up to three layers (heights, then two companion layers stored and
// loaded with them) over a rectangle of the ground plane, corner cells on its corners. Cell
// (c, r) of a layer is at r x columns + c. A grid without a height layer is empty for its users,
// whatever its sides say.
//
// Files, by extension (without case):
// - "flt": a set of three. NAME.hdr holds eight text lines, each a key padded to 14 characters
//   and a value (ncols, nrows, xllcorner, yllcorner, cellsize, NODATA_value, byteorder,
//   mirror); the values are read from character 15 on and the keys never compared. NAME.flt
//   holds ncols x nrows little-endian floats of heights, rows bottom-up when mirror is
//   "mirror_y" (any value without "no" counts as that). NAME.dat holds the second and third
//   layers in grid order, or only the third (4 bytes per cell: the second layer reads as 0xFF
//   bytes). A grid wider and taller than 1025 loads reduced to 1025 x 1025, every reduced cell
//   taking its three layers from one source cell.
// - "raw": columns and rows as little-endian 32-bit integers, then the heights and the third
//   layer (no second layer).
// Both classes of grid answer scripts as "ResourceRef".
class GridDataResource : public Resource {
public:
    static constexpr uint32_t ReducedSide = 1025;
    enum Layer { Heights, SecondLayer, ThirdLayer };

    // An unnamed grid with all three layers at 0.
    GridDataResource(uint32_t columns, uint32_t rows);
    // Loads at once; an empty path gives an unnamed 1 x 1 grid of heights and a third layer.
    explicit GridDataResource(const char* path);

    // Loads from the grid's own path.
    bool Load() override { return LoadGrid(); }
    // Writes the files of the path's extension ("flt" or "raw"), each whole or not at all.
    void SaveToFile(const char* path) override { SaveGridAscii(path); }
    // The cell count.
    uint32_t GetDataSize() const override;

    bool LoadGrid();
    void SaveGridAscii(const char* path);

    uint32_t GetColumns() const { return columns_; }
    uint32_t GetRows() const { return rows_; }
    // x0, y0, x1, y1; (-1, -1, 1, 1) until a header says otherwise.
    const Float4& GetArea() const { return area_; }
    // 2 when the height file stores its rows bottom-up, else 0.
    uint32_t GetMirrorFlags() const { return mirrorFlags_; }
    // The distance between neighbouring cells; 0 along a side of one cell.
    Float2 GetCellSize() const;
    // Null when the grid has no such layer.
    float* GetLayer(Layer layer);
    const float* GetLayer(Layer layer) const;

    // Every cell of the layer takes the value; a missing layer stays missing.
    void FillHeights(float value) { Fill(Heights, value); }
    void FillSecondLayer(float value) { Fill(SecondLayer, value); }
    void FillThirdLayer(float value) { Fill(ThirdLayer, value); }

private:
    static constexpr size_t NoLayer = SIZE_MAX;

    void Fill(Layer layer, float value);
    size_t CellCount() const { return size_t{columns_} * rows_; }
    // Makes the block of the layers given, each one CellCount() floats in that order, at 0.
    void MakeLayers(std::initializer_list<Layer> layers);
    bool LoadFltSet();
    bool LoadRaw();
    // Logs why the file is not loaded; leaves the grid without layers.
    bool Refuse(const char* format, ...) QUARN_PRINTF(2, 3);
    bool SaveFltSet(const char* path) const;
    bool SaveRaw(const char* path) const;

    std::vector<float> block_;
    // Each layer's first cell in the block, or NoLayer.
    size_t layers_[3] = {NoLayer, NoLayer, NoLayer};
    uint32_t columns_ = 0;
    uint32_t rows_ = 0;
    Float4 area_{-1.0f, -1.0f, 1.0f, 1.0f};
    uint32_t mirrorFlags_ = 0;
};

// The loaded grid of the path (one more reference), else a new one loaded from it.
GridDataResource* GetGridData(const char* path);

} // namespace quarn
