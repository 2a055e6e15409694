#include "collision/CollisionPlane.h"

#include "core/object/ClassInfo.h"
#include "core/object/PropertyScalar.h"
#include "resources/DynamicMesh.h"

#include <limits>

namespace quarn {

ClassInfo* CollisionPlane::classInfo = nullptr;

namespace {

constexpr float LargestFloat = std::numeric_limits<float>::max();

float& Component(Float3& v, int axis) {
    return axis == 0 ? v.x : axis == 1 ? v.y : v.z;
}

} // namespace

CollisionPlane::CollisionPlane() : CollisionVolume(COLLISION_PLANE) {
    SetRenderFlag(RenderZBias, true);
    SetRenderType(RenderNonSolid);
    RefreshDerivedFlags();
    UpdateMassProperties();
}

Float3 CollisionPlane::GetNormal() {
    if (worldSide_ < 0 || worldSide_ > 5) {
        return GetWorldAxisZ();
    }
    Float3 normal;
    // Sides 0-2 face along +X, +Y, +Z and 3-5 along the negated axes (no division: every
    // box-plane pair asks).
    const bool positive = worldSide_ < 3;
    Component(normal, positive ? worldSide_ : worldSide_ - 3) = positive ? 1.0f : -1.0f;
    return normal;
}

bool CollisionPlane::IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) {
    if (!(query.flags & PickCollisionVolumes)) {
        return false;
    }
    const Float3 normal = GetNormal();
    const float den = normal.Dot(direction);
    if (!(den < 0.0f)) {
        return false;
    }
    if (query.flags & PickNormal) {
        query.current.data = normal;
    }
    const float t = (GetWorldPosition() - origin).Dot(normal);
    // An origin on the solid side is already inside: distance 0.
    query.current.distance = t <= 0.0f ? t / den : 0.0f;
    return true;
}

void CollisionPlane::UpdateWorldBoundingBox() {
    Float3 normal = GetNormal();
    Float3 position = GetWorldPosition();
    worldBox_ = {Float3(-1000.0f, -1000.0f, -1000.0f), Float3(1000.0f, 1000.0f, 1000.0f)};
    for (int axis = 0; axis < 3; ++axis) {
        if (Component(normal, axis) == 1.0f) {
            Component(worldBox_.min, axis) = Component(position, axis);
        } else if (Component(normal, axis) == -1.0f) {
            Component(worldBox_.max, axis) = Component(position, axis);
        }
    }
}

Float3 CollisionPlane::GetSupportPoint(Float3 direction) {
    if (worldSide_ < 0 || worldSide_ > 5) {
        Float3 local = WorldToLocalDirection(direction);
        for (int axis = 0; axis < 3; ++axis) {
            float& c = Component(local, axis);
            c = c > 0.0f ? 100.0f : -100.0f;
        }
        return LocalToWorld(local);
    }
    const int normalAxis = worldSide_ % 3;
    const bool positive = worldSide_ < 3;
    Float3 point = GetWorldPosition();
    for (int axis = 0; axis < 3; ++axis) {
        const bool along = Component(direction, axis) > 0.0f;
        float offset = along ? 100.0f : -100.0f;
        if (axis == normalAxis && along == positive) {
            offset = 0.0f;
        }
        Component(point, axis) += offset;
    }
    return point;
}

void CollisionPlane::DrawShape() {
    // A square of side 20 on the plane and the normal at its centre.
    const Float3 normal = GetNormal().NormalizedOrSelf();
    Float3 u;
    Float3 v;
    PlaneSpace(normal, u, v);
    const Float3 centre = GetWorldPosition();
    const uint32_t color = GetColorArgb(centre, 0);
    const Float3 corners[4] = {centre + (u + v) * 10.0f, centre + (u - v) * 10.0f,
                               centre - (u + v) * 10.0f, centre - (u - v) * 10.0f};
    for (int i = 0; i < 4; ++i) {
        DrawDebugLine(corners[i], corners[(i + 1) % 4], color);
    }
    DrawDebugLine(centre, centre + normal, color);
}

void CollisionPlane::UpdateMassProperties() {
    SetMassProperties(LargestFloat, LargestFloat);
}

ClassInfo* CollisionPlane::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = CollisionVolume::RegisterClass();
    classInfo = new ClassInfo(
        "CollisionPlane", []() -> Entity* { return new CollisionPlane(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Collision");
    classInfo
        ->AddProperty<PropertyInt, &CollisionPlane::GetWorldSide, &CollisionPlane::SetWorldSide>(
            "worldside:0.0,10.0");
    return classInfo;
}

} // namespace quarn
