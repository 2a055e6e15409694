#include "collision/CollisionPoint.h"

#include "collision/FaceRoutines.h"
#include "core/object/ClassInfo.h"
#include "resources/DynamicMesh.h"

namespace quarn {

ClassInfo* CollisionPoint::classInfo = nullptr;

Float3 OutwardNormal(const Float3& offset, float distance) {
    return distance > 0.0f ? offset / distance : Float3(1.0f, 0.0f, 0.0f);
}

CollisionPoint::CollisionPoint() : CollisionVolume(COLLISION_POINT) {
    RefreshDerivedFlags();
    UpdateMassProperties();
}

void CollisionPoint::UpdateWorldBoundingBox() {
    const Float3 p = GetWorldPosition();
    const Float3 margin(0.01f, 0.01f, 0.01f);
    worldBox_ = {p - margin, p + margin};
}

float CollisionPoint::GetPointDepth(Float3 point, Float3* normal) {
    const Float3 offset = point - GetWorldPosition();
    const float distance = offset.Length();
    if (normal) {
        *normal = OutwardNormal(offset, distance);
    }
    return -distance;
}

const SupportFace* CollisionPoint::GetSupportFace(Float3) {
    static FeatureRecords records;
    return records.Vertex(GetWorldPosition());
}

void CollisionPoint::DrawShape() {
    DrawDebugPointMarker(GetWorldPosition(), 0.1f, GetColorArgb(Float3(), 0));
}

void CollisionPoint::UpdateMassProperties() {
    SetMassProperties(0.0f, 0.0f);
    TouchBodyInertia();
}

ClassInfo* CollisionPoint::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = CollisionVolume::RegisterClass();
    classInfo = new ClassInfo(
        "CollisionPoint", []() -> Entity* { return new CollisionPoint(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Collision");
    return classInfo;
}

} // namespace quarn
