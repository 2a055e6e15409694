#pragma once

#include "collision/CollisionVolume.h"
#include "core/math/Intersection.h"
#include "core/math/Vector.h"
#include "core/scene/Pivot.h"
#include "resources/DynamicMesh.h"

#include <cstdint>

namespace quarn {

// What the terrain and the surface share: a grid of vertices in the node's local frame,
// each cell split along its diagonal from (i, j) to (i + 1, j + 1).

// The most cells a "gridsize" may ask for.
inline constexpr int64_t MaxHeightFieldCells = int64_t{1} << 24;

inline int64_t CellCount(const Int2& size) {
    return int64_t{size.x} * int64_t{size.y};
}

// The base of the terrain and the surface: static (no mass), located at the node's position
// for the support operations, with a world matrix kept up to date for the height look-ups.
class HeightFieldVolume : public CollisionVolume {
public:
    HeightFieldVolume() : CollisionVolume(COLLISION_TERRAIN) {}

    void InvalidateTransform() override {
        CollisionVolume::InvalidateTransform();
        GetWorldMatrix();
    }
    float GetRadius() override { return 0.0f; }
    Float3 GetSupportPoint(Float3) override { return GetWorldPosition(); }
    float GetSupportDistance(Float3 direction) override {
        return GetWorldPosition().Dot(direction);
    }
    void UpdateMassProperties() override {
        SetMassProperties(0.0f, 0.0f);
        TouchBodyInertia();
    }
};

// False, with a validity report, for a grid size with a negative component or more than
// MaxHeightFieldCells cells.
bool CheckHeightFieldSize(const Int2& size, const char* className);

// The cells of the grids that terrains and surfaces make for themselves (not those of a file
// they read), every node's together: forty terrains at the limit of one held 8 GB. Tests
// lower it.
inline int64_t SceneHeightFieldCellLimit = int64_t{1} << 26;

// A node's share of the scene's height-field cells, given back when it goes.
class HeightFieldCells {
public:
    HeightFieldCells() = default;
    ~HeightFieldCells() { Release(); }
    HeightFieldCells(const HeightFieldCells&) = delete;
    HeightFieldCells& operator=(const HeightFieldCells&) = delete;

    // Holds `cells` in place of what was held; false, holding what it held and with a log line
    // naming the node and the limit, when the scene's cells would pass SceneHeightFieldCellLimit.
    bool Take(int64_t cells, const Node& node, const Int2& size);
    void Release();

private:
    int64_t held_ = 0;
};

// The nearest ray parameter over the cells (columns x rows, j outer, i inner) where the local
// ray hits one of a cell's two triangles from above; NoHit when none. corner(i, j) gives the
// vertex in the local frame.
template <class Corner>
float PickHeightFieldCells(const Float3& origin, const Float3& direction, int32_t columns,
                           int32_t rows, const Corner& corner) {
    float best = NoHit;
    for (int32_t j = 0; j < rows; ++j) {
        for (int32_t i = 0; i < columns; ++i) {
            const Float3 p00 = corner(i, j);
            const Float3 p10 = corner(i + 1, j);
            const Float3 p11 = corner(i + 1, j + 1);
            const Float3 p01 = corner(i, j + 1);
            float cell = NoHit;
            const float t1 = RayTriangleIntersect(origin, direction, p00, p10, p11);
            if (t1 >= 0.0f && t1 < NoHit) {
                cell = t1;
            }
            const float t2 = RayTriangleIntersect(origin, direction, p00, p11, p01);
            if (t2 >= 0.0f && t2 < cell) {
                cell = t2;
            }
            if (cell < best) {
                best = cell;
            }
        }
    }
    return best;
}

// The grid's lines (columns x rows cells) through the node's transform.
template <class Corner>
void DrawHeightField(Pivot& node, int32_t columns, int32_t rows, uint32_t color,
                     const Corner& corner) {
    DynamicMesh& lines = GetDebugLineMesh();
    for (int32_t j = 0; j <= rows; ++j) {
        for (int32_t i = 0; i <= columns; ++i) {
            const Float3 p = node.LocalToWorld(corner(i, j));
            if (i < columns) {
                lines.AddLine(p, node.LocalToWorld(corner(i + 1, j)), color);
            }
            if (j < rows) {
                lines.AddLine(p, node.LocalToWorld(corner(i, j + 1)), color);
            }
        }
    }
}

} // namespace quarn
