#include "collision/CollisionTerrain.h"

#include "collision/CollisionPoint.h"
#include "collision/HeightField.h"
#include "core/object/ClassInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/PropertyVector.h"
#include "core/object/Signals.h"
#include "resources/GridDataResource.h"

#include <algorithm>
#include <cmath>

namespace quarn {

ClassInfo* CollisionTerrain::classInfo = nullptr;
Property* CollisionTerrain::sizeProperty_ = nullptr;
Property* CollisionTerrain::gridSizeProperty_ = nullptr;
Property* CollisionTerrain::offsetProperty_ = nullptr;
Property* CollisionTerrain::terrainFlagsProperty_ = nullptr;

namespace {

// The geographic reference point and the scales of automatic placement.
constexpr float AutoPosReferenceX = -74.0f;
constexpr float AutoPosReferenceZ = 41.0f;
constexpr float AutoPosScaleX = 1.0f;
constexpr float AutoPosScaleZ = 1.3f;

const float* HeightsOf(const GridDataResource* grid) {
    return grid ? grid->GetLayer(GridDataResource::Heights) : nullptr;
}

} // namespace

CollisionTerrain::CollisionTerrain() {
    RefreshDerivedFlags();
    UpdateMassProperties();
}

CollisionTerrain::~CollisionTerrain() {
    if (heightMap_) {
        heightMap_->Release();
    }
}

// Heights -------------------------------------------------------------------------------------

float CollisionTerrain::GetWindowHeight(int64_t i, int64_t j) const {
    const float* heights = HeightsOf(heightMap_);
    if (!heights) {
        return 0.0f;
    }
    const int64_t column = offset_.x + i;
    const int64_t row = offset_.y + j;
    const int64_t columns = heightMap_->GetColumns();
    if (column < 0 || row < 0 || column >= columns || row >= int64_t{heightMap_->GetRows()}) {
        return 0.0f;
    }
    return heights[row * columns + column];
}

bool CollisionTerrain::GetLocalHeight(float x, float z, bool clamp, float& height) const {
    const float columns = static_cast<float>(gridSize_.x);
    const float rows = static_cast<float>(gridSize_.y);
    float u = (x / size_.x + 0.5f) * columns;
    float v = (z / size_.z + 0.5f) * rows;
    if (!std::isfinite(u) || !std::isfinite(v)) {
        return false;
    }
    if (clamp) {
        u = std::clamp(u, 0.0f, columns);
        v = std::clamp(v, 0.0f, rows);
    } else if (u < 0.0f || u > columns || v < 0.0f || v > rows) {
        height = 0.0f;
        return true;
    }
    // The last row and column belong to the cells before them; a window of width 0 has its
    // one column of vertices at 0.
    int64_t i = static_cast<int64_t>(u);
    int64_t j = static_cast<int64_t>(v);
    if (i == gridSize_.x && i > 0) {
        --i;
    }
    if (j == gridSize_.y && j > 0) {
        --j;
    }
    const float fu = u - static_cast<float>(i);
    const float fv = v - static_cast<float>(j);
    const float h00 = GetWindowHeight(i, j);
    const float h10 = GetWindowHeight(i + 1, j);
    const float h01 = GetWindowHeight(i, j + 1);
    const float h11 = GetWindowHeight(i + 1, j + 1);
    const float h = fv >= fu ? h00 + fv * (h01 - h00) + fu * (h11 - h01)
                             : h00 + fu * (h10 - h00) + fv * (h11 - h10);
    height = h * size_.y;
    return true;
}

void CollisionTerrain::RecomputeHeights() {
    if (!HeightsOf(heightMap_)) {
        minHeight_ = maxHeight_ = 0.0f;
    } else {
        minHeight_ = 1e24f;
        maxHeight_ = -1e24f;
        for (int64_t j = 0; j <= gridSize_.y; ++j) {
            for (int64_t i = 0; i <= gridSize_.x; ++i) {
                const float h = GetWindowHeight(i, j);
                minHeight_ = std::min(minHeight_, h);
                maxHeight_ = std::max(maxHeight_, h);
            }
        }
    }
    InvalidateBoxes();
}

void CollisionTerrain::ClampOffset() {
    if (!HeightsOf(heightMap_)) {
        return;
    }
    const int64_t lastX = int64_t{heightMap_->GetColumns()} - gridSize_.x - 1;
    const int64_t lastZ = int64_t{heightMap_->GetRows()} - gridSize_.y - 1;
    offset_.x = static_cast<int32_t>(std::min<int64_t>(offset_.x, lastX));
    offset_.y = static_cast<int32_t>(std::min<int64_t>(offset_.y, lastZ));
}

void CollisionTerrain::InvalidateBoxes() {
    SetRenderFlag(RenderLocalBoxValid, false);
    SetRenderFlag(RenderWorldBoxValid, false);
}

void CollisionTerrain::PlaceAutomatically() {
    if (!HeightsOf(heightMap_)) {
        return;
    }
    SetSize(Float3(static_cast<float>(gridSize_.x) * AutoPosScaleX, size_.y,
                   static_cast<float>(gridSize_.y) * AutoPosScaleZ));
    const Float4& area = heightMap_->GetArea();
    const Float2 cell = heightMap_->GetCellSize();
    const float x =
        ((area.x - AutoPosReferenceX) / cell.x + static_cast<float>(offset_.x)) * AutoPosScaleX;
    const float z =
        ((area.y - AutoPosReferenceZ) / cell.y + static_cast<float>(offset_.y)) * AutoPosScaleZ;
    // A grid of one column or row has no cell size to place by.
    if (std::isfinite(x) && std::isfinite(z)) {
        SetWorldPosition(Float3(x + size_.x * 0.5f, 0.0f, z + size_.z * 0.5f));
    }
    InvalidateBoxes();
}

// Setters -------------------------------------------------------------------------------------

void CollisionTerrain::SetSize(Float3 size) {
    if (!(size != size_)) {
        return;
    }
    const Float3 old = size_;
    size_ = size;
    InvalidateBoxes();
    NotifyChange(sizeProperty_, old, size_);
}

void CollisionTerrain::SetOffset(Int2 offset) {
    if (offset == offset_) {
        return;
    }
    const Int2 old = offset_;
    offset_ = offset;
    ClampOffset();
    if (terrainFlags_ & TerrainAutoPos) {
        PlaceAutomatically();
    }
    RecomputeHeights();
    NotifyChange(offsetProperty_, old, offset_);
}

void CollisionTerrain::SetGridSize(Int2 size) {
    if (size == gridSize_ || !CheckHeightFieldSize(size, "CollisionTerrain")) {
        return;
    }
    const Int2 old = gridSize_;
    const bool fits = HeightsOf(heightMap_) &&
                      size.x < static_cast<int64_t>(heightMap_->GetColumns()) &&
                      size.y < static_cast<int64_t>(heightMap_->GetRows());
    const bool replaces = !fits && heightMap_ && CellCount(size) != CellCount(old);
    const bool makes = !fits && CellCount(size) >= 1 && (!heightMap_ || replaces);
    // Refused before anything is let go: the terrain keeps its grid and its size.
    if (makes && !ownCells_.Take(CellCount(size), *this, size)) {
        return;
    }
    gridSize_ = size;
    if (fits) {
        ClampOffset();
        RecomputeHeights();
    } else {
        if (replaces) {
            heightMap_->Release();
            heightMap_ = nullptr;
            if (!makes) {
                ownCells_.Release();
            }
        }
        if (makes) {
            heightMap_ = new GridDataResource(static_cast<uint32_t>(size.x) + 1,
                                              static_cast<uint32_t>(size.y) + 1);
            minHeight_ = maxHeight_ = 0.0f;
        }
        if (terrainFlags_ & TerrainAutoPos) {
            PlaceAutomatically();
        }
        RecomputeHeights();
    }
    NotifyChange(gridSizeProperty_, old, gridSize_);
}

const char* CollisionTerrain::GetHeightMapName() const {
    return RelativePathOf(heightMap_);
}

void CollisionTerrain::SetHeightMapName(const char* name) {
    GridDataResource* acquired = name && *name ? GetGridData(name) : nullptr;
    if (!ReplaceHeldResource(heightMap_, acquired)) {
        return;
    }
    ownCells_.Release();
    if (HeightsOf(heightMap_)) {
        const int32_t lastColumn = static_cast<int32_t>(heightMap_->GetColumns()) - 1;
        const int32_t lastRow = static_cast<int32_t>(heightMap_->GetRows()) - 1;
        if (gridSize_ == Int2()) {
            gridSize_ = Int2(lastColumn, lastRow);
        }
        gridSize_ = Int2(std::min(gridSize_.x, lastColumn), std::min(gridSize_.y, lastRow));
        ClampOffset();
    }
    RecomputeHeights();
    SendSignal("propertychange", static_cast<Entity*>(this), true);
    SendSignal("resourcechanged", static_cast<Entity*>(heightMap_), true);
}

void CollisionTerrain::SetTerrainFlags(int32_t flags) {
    if (flags == terrainFlags_) {
        return;
    }
    const int32_t old = terrainFlags_;
    terrainFlags_ = flags;
    if ((flags & TerrainAutoPos) && !(old & TerrainAutoPos)) {
        PlaceAutomatically();
    }
    NotifyChange(terrainFlagsProperty_, old, terrainFlags_);
}

// Geometry ------------------------------------------------------------------------------------

Float3 CollisionTerrain::GetCorner(int32_t i, int32_t j) const {
    const float columns = static_cast<float>(gridSize_.x);
    const float rows = static_cast<float>(gridSize_.y);
    return Float3((static_cast<float>(i) - columns / 2.0f) * size_.x / columns,
                  GetWindowHeight(i, j) * size_.y,
                  (static_cast<float>(j) - rows / 2.0f) * size_.z / rows);
}

bool CollisionTerrain::IntersectRay(const Float3& origin, const Float3& direction,
                                    PickQuery& query) {
    if (!AnswersPick(query) || !HeightsOf(heightMap_)) {
        return false;
    }
    const Float3 localOrigin = WorldToLocal(origin);
    const Float3 localDirection = WorldToLocalDirection(direction);
    if (GetLocalBoundingBox().RayIntersect(localOrigin, localDirection) < 0.0f) {
        return false;
    }
    const float best =
        PickHeightFieldCells(localOrigin, localDirection, gridSize_.x, gridSize_.y,
                             [this](int32_t i, int32_t j) { return GetCorner(i, j); });
    query.current.distance = best;
    return best < NoHit;
}

void CollisionTerrain::UpdateBoundingBox() {
    localBox_ = {Float3(-size_.x / 2.0f, minHeight_ * size_.y, -size_.z / 2.0f),
                 Float3(size_.x / 2.0f, maxHeight_ * size_.y, size_.z / 2.0f)};
}

void CollisionTerrain::UpdateWorldBoundingBox() {
    const Float3 p = GetWorldPosition();
    worldBox_ = {Float3(p.x - size_.x / 2.0f, p.y + minHeight_ * size_.y, p.z - size_.z / 2.0f),
                 Float3(p.x + size_.x / 2.0f, p.y + maxHeight_ * size_.y, p.z + size_.z / 2.0f)};
}

void CollisionTerrain::DrawShape() {
    if (gridSize_.x < 1 || gridSize_.y < 1) {
        return;
    }
    DrawHeightField(*this, gridSize_.x, gridSize_.y, GetColorArgb(Float3(), 0),
                    [this](int32_t i, int32_t j) { return GetCorner(i, j); });
}

int CollideTerrainPoint(CollisionVolume& terrain, CollisionVolume& point, int,
                        std::span<CollisionContact> contacts) {
    // The surface shares the terrain's shape type but has no window to look heights up in.
    auto* field = dynamic_cast<CollisionTerrain*>(&terrain);
    if (!field || contacts.empty()) {
        return 0;
    }
    const Float3 p = point.GetWorldPosition();
    const Float3 local = field->WorldToLocal(p);
    float height = 0.0f;
    if (!std::isfinite(local.y) || !field->GetLocalHeight(local.x, local.z, true, height)) {
        return 0;
    }
    const float depth = height - local.y;
    if (!(depth >= 0.0f)) {
        return 0;
    }
    contacts[0] = {p * -1.0f, field->GetWorldAxis(1), depth};
    return 1;
}

// Registration --------------------------------------------------------------------------------

ClassInfo* CollisionTerrain::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = CollisionVolume::RegisterClass();
    classInfo = new ClassInfo(
        "CollisionTerrain", []() -> Entity* { return new CollisionTerrain(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Collision");
    using T = CollisionTerrain;
    gridSizeProperty_ =
        classInfo->AddProperty<PropertyInt2, &T::GetGridSize, &T::SetGridSize>("gridsize");
    classInfo->AddProperty<PropertyResource, &T::GetHeightMapName, &T::SetHeightMapName>(
        "heightmap:flt");
    sizeProperty_ = classInfo->AddProperty<PropertyFloat3, &T::GetSize, &T::SetSize>("size");
    offsetProperty_ = classInfo->AddProperty<PropertyInt2, &T::GetOffset, &T::SetOffset>("offset");
    terrainFlagsProperty_ =
        classInfo->AddProperty<PropertyBitfield, &T::GetTerrainFlags, &T::SetTerrainFlags>(
            "terrainflags:mirror_x,mirror_y,autopos");
    SetCollider(COLLISION_TERRAIN, COLLISION_POINT, CollideTerrainPoint);
    return classInfo;
}

} // namespace quarn
