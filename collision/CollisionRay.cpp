#include "collision/CollisionRay.h"

#include "collision/CollisionPlane.h"
#include "collision/CollisionSphere.h"
#include "collision/ContactRoutines.h"
#include "core/object/ClassInfo.h"
#include "core/object/PropertyScalar.h"
#include "resources/DynamicMesh.h"

#include <cmath>

namespace quarn {

ClassInfo* CollisionRay::classInfo = nullptr;

CollisionRay::CollisionRay() : CollisionVolume(COLLISION_RAY) {
    RefreshDerivedFlags();
    UpdateMassProperties();
}

void CollisionRay::UpdateWorldBoundingBox() {
    const Float3 origin = GetWorldPosition();
    worldBox_ = {origin, origin};
    worldBox_.AddPoint(origin + GetShapeAxis(*this) * length_);
}

Float3 CollisionRay::GetSupportPoint(Float3 direction) {
    const Float3 origin = GetWorldPosition();
    const Float3 axis = GetShapeAxis(*this);
    return axis.Dot(direction) > 0.0f ? origin + axis * length_ : origin;
}

float CollisionRay::GetSupportDistance(Float3 direction) {
    const float along = GetShapeAxis(*this).Dot(direction);
    const float start = GetWorldPosition().Dot(direction);
    return along > 0.0f ? start + length_ * along : start;
}

void CollisionRay::DrawShape() {
    const Float3 origin = GetWorldPosition();
    DrawDebugLine(origin, origin + GetShapeAxis(*this) * length_, 0xFFFFFFFF);
}

int RaySphereContact(const Float3& origin, const Float3& axis, float length, const Float3& centre,
                     float radius, bool inside, CollisionContact& contact) {
    const Float3 w = origin - centre;
    const float b = axis.Dot(w);
    const float c = w.Dot(w) - radius * radius;
    const float disc = b * b - c;
    if (!(disc >= 0.0f)) {
        return 0;
    }
    const float s = std::sqrt(disc);
    float t;
    if (inside && c >= 0.0f) {
        t = s - b;
    } else {
        t = -b - s >= 0.0f ? -b - s : s - b;
    }
    if (t < 0.0f || t > length) {
        return 0;
    }
    const Float3 q = origin + axis * t;
    const float sign = c >= 0.0f && !inside ? 1.0f : -1.0f;
    SetContact(contact, q, ((q - centre) * sign).NormalizedOrSelf(), t);
    return 1;
}

// Colliders: negated coordinates, the ray's axis negated too, so that in world terms they test
// the segment from O to O + length A.

int CollideRaySphere(CollisionVolume& ray, CollisionVolume& sphere, int,
                     std::span<CollisionContact> contacts) {
    auto* r = dynamic_cast<CollisionRay*>(&ray);
    auto* s = dynamic_cast<CollisionSphere*>(&sphere);
    if (!r || !s || contacts.empty()) {
        return 0;
    }
    return RaySphereContact(r->GetWorldPosition() * -1.0f, GetShapeAxis(*r) * -1.0f, r->GetLength(),
                            s->GetWorldPosition() * -1.0f, s->GetSphereRadius(), false,
                            contacts[0]);
}

int CollideRayPlane(CollisionVolume& ray, CollisionVolume& plane, int,
                    std::span<CollisionContact> contacts) {
    auto* r = dynamic_cast<CollisionRay*>(&ray);
    auto* p = dynamic_cast<CollisionPlane*>(&plane);
    if (!r || !p || contacts.empty()) {
        return 0;
    }
    const Float3 normal = p->GetNormal();
    const Float3 origin = r->GetWorldPosition();
    const Float3 axis = GetShapeAxis(*r);
    const float h = p->GetOffset() - origin.Dot(normal);
    const float side = h > 0.0f ? -1.0f : 1.0f;
    const float den = axis.Dot(normal);
    if (den == 0.0f) {
        return 0;
    }
    const float t = h / den;
    if (!(t >= 0.0f && t <= r->GetLength())) {
        return 0;
    }
    SetContact(contacts[0], (origin + axis * t) * -1.0f, normal * -side, t);
    return 1;
}

ClassInfo* CollisionRay::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = CollisionVolume::RegisterClass();
    classInfo = new ClassInfo(
        "CollisionRay", []() -> Entity* { return new CollisionRay(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Collision");
    classInfo->AddProperty<PropertyFloat, &CollisionRay::GetLength, &CollisionRay::SetLength>(
        "length");
    SetCollider(COLLISION_RAY, COLLISION_SPHERE, CollideRaySphere);
    SetCollider(COLLISION_RAY, COLLISION_PLANE, CollideRayPlane);
    return classInfo;
}

} // namespace quarn
