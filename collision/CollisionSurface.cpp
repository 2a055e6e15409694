#include "collision/CollisionSurface.h"

#include "collision/HeightField.h"
#include "core/debug/Log.h"
#include "core/io/ByteOrder.h"
#include "core/object/ClassInfo.h"
#include "core/object/PropertyText.h"
#include "core/object/PropertyVector.h"
#include "core/object/Signals.h"
#include "resources/RawData.h"

#include <algorithm>
#include <cstring>

namespace quarn {

ClassInfo* CollisionSurface::classInfo = nullptr;

namespace {

constexpr uint32_t HeaderBytes = 8;

} // namespace

CollisionSurface::CollisionSurface() {
    RefreshDerivedFlags();
    UpdateMassProperties();
}

CollisionSurface::~CollisionSurface() {
    if (rawData_) {
        rawData_->Release();
    }
}

// Heights -------------------------------------------------------------------------------------

float CollisionSurface::GetHeight(int64_t index) const {
    if (index < 0 || index >= heightCount_) {
        return 0.0f;
    }
    float height;
    std::memcpy(&height, rawData_->GetData() + HeaderBytes + index * 4, sizeof height);
    return height;
}

void CollisionSurface::ReadHeader() {
    heightCount_ = 0;
    gridSize_ = Int2();
    minHeight_ = maxHeight_ = 0.0f;
    const uint8_t* data = rawData_ ? rawData_->GetData() : nullptr;
    if (data && rawData_->GetDataSize() >= HeaderBytes) {
        const Int2 size(static_cast<int32_t>(ReadLittleEndian32(data)),
                        static_cast<int32_t>(ReadLittleEndian32(data + 4)));
        const int64_t held = (int64_t{rawData_->GetDataSize()} - HeaderBytes) / 4;
        if (size.x < 0 || size.y < 0 || CellCount(size) > held) {
            LogMessage("CollisionSurface: raw data '%s' holds %lld heights, not the %d x %d its "
                       "header claims: the surface has no heights",
                       rawData_->GetFullPath(), static_cast<long long>(held), size.x, size.y);
            return;
        }
        gridSize_ = size;
        heightCount_ = CellCount(size);
    } else if (rawData_) {
        LogMessage("CollisionSurface: raw data '%s' is shorter than its 8-byte header: the "
                   "surface has no heights",
                   rawData_->GetFullPath());
        return;
    }
    if (heightCount_ > 0) {
        minHeight_ = maxHeight_ = GetHeight(0);
        for (int64_t i = 1; i < heightCount_; ++i) {
            minHeight_ = std::min(minHeight_, GetHeight(i));
            maxHeight_ = std::max(maxHeight_, GetHeight(i));
        }
    }
    SetRenderFlag(RenderWorldBoxValid, false);
}

// Setters -------------------------------------------------------------------------------------

void CollisionSurface::SetSize(Float3 size) {
    size_ = size;
    SetRenderFlag(RenderWorldBoxValid, false);
}

void CollisionSurface::SetGridSize(Int2 size) {
    if (!CheckHeightFieldSize(size, "CollisionSurface")) {
        return;
    }
    const int64_t count = CellCount(size);
    const bool replaces = count != CellCount(gridSize_) && rawData_;
    const bool makes = count >= 1 && (!rawData_ || replaces);
    // Refused before anything is let go: the surface keeps its heights and its size.
    if (makes && !ownCells_.Take(count, *this, size)) {
        return;
    }
    if (replaces) {
        rawData_->Release();
        rawData_ = nullptr;
        if (!makes) {
            ownCells_.Release();
        }
    }
    if (makes) {
        // The heights and as many spare floats after them, all 0.
        rawData_ = new RawData(static_cast<uint32_t>(HeaderBytes + 8 * count));
    }
    if (rawData_ && rawData_->GetData() && rawData_->GetDataSize() >= HeaderBytes) {
        WriteLittleEndian32(rawData_->GetData(), static_cast<uint32_t>(size.x));
        WriteLittleEndian32(rawData_->GetData() + 4, static_cast<uint32_t>(size.y));
    }
    ReadHeader();
    if (!rawData_) {
        gridSize_ = size;
    }
    SendSignal("resourcechanged", static_cast<Entity*>(rawData_), true);
}

const char* CollisionSurface::GetRawDataName() const {
    return RelativePathOf(rawData_);
}

void CollisionSurface::SetRawDataName(const char* name) {
    RawData* acquired = name && *name ? quarn::GetRawData(name, "") : nullptr;
    if (!ReplaceHeldResource(rawData_, acquired)) {
        return;
    }
    ownCells_.Release();
    ReadHeader();
    if (!rawData_) {
        SendSignal("propertychange", static_cast<Entity*>(this), true);
    }
}

// Geometry ------------------------------------------------------------------------------------

Float3 CollisionSurface::GetCorner(int32_t i, int32_t j) const {
    const float columns = static_cast<float>(gridSize_.x);
    const float rows = static_cast<float>(gridSize_.y);
    return Float3((static_cast<float>(i) - (columns - 1.0f) / 2.0f) * size_.x / columns,
                  GetHeight(int64_t{gridSize_.x} * j + i),
                  (static_cast<float>(j) - (rows - 1.0f) / 2.0f) * size_.z / rows);
}

bool CollisionSurface::IntersectRay(const Float3& origin, const Float3& direction,
                                    PickQuery& query) {
    if (!AnswersPick(query) || !HasHeights()) {
        return false;
    }
    const float best = PickHeightFieldCells(
        WorldToLocal(origin), WorldToLocalDirection(direction), gridSize_.x - 1, gridSize_.y - 1,
        [this](int32_t i, int32_t j) { return GetCorner(i, j); });
    query.current.distance = best;
    return best < NoHit;
}

void CollisionSurface::UpdateWorldBoundingBox() {
    const Float3 p = GetWorldPosition();
    worldBox_ = {Float3(p.x - size_.x / 2.0f, p.y + minHeight_, p.z - size_.z / 2.0f),
                 Float3(p.x + size_.x / 2.0f, p.y + maxHeight_, p.z + size_.z / 2.0f)};
}

void CollisionSurface::DrawShape() {
    if (!HasHeights()) {
        return;
    }
    DrawHeightField(*this, gridSize_.x - 1, gridSize_.y - 1, GetColorArgb(Float3(), 0),
                    [this](int32_t i, int32_t j) { return GetCorner(i, j); });
}

ClassInfo* CollisionSurface::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = CollisionVolume::RegisterClass();
    classInfo = new ClassInfo(
        "CollisionSurface", []() -> Entity* { return new CollisionSurface(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Collision");
    using S = CollisionSurface;
    classInfo->AddProperty<PropertyResource, &S::GetRawDataName, &S::SetRawDataName>("rawdata:raw");
    classInfo->AddProperty<PropertyInt2, &S::GetGridSize, &S::SetGridSize>("gridsize");
    classInfo->AddProperty<PropertyFloat3, &S::GetSize, &S::SetSize>("size");
    return classInfo;
}

} // namespace quarn
