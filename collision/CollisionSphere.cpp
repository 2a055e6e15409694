#include "collision/CollisionSphere.h"

#include "collision/CollisionPlane.h"
#include "collision/CollisionPoint.h"
#include "collision/ContactRoutines.h"
#include "collision/FaceRoutines.h"
#include "core/math/Intersection.h"
#include "core/object/ClassInfo.h"
#include "core/object/PropertyScalar.h"
#include "resources/DynamicMesh.h"

namespace quarn {

ClassInfo* CollisionSphere::classInfo = nullptr;

namespace {

constexpr float SphereVolumeFactor = 4.1887894f; // 4/3 pi
constexpr float Pi = 3.1415927f;

} // namespace

CollisionSphere::CollisionSphere() : CollisionVolume(COLLISION_SPHERE) {
    RefreshDerivedFlags();
    UpdateMassProperties();
}

void CollisionSphere::SetSphereRadius(float radius) {
    if (radius == radius_) {
        return;
    }
    radius_ = radius;
    SetRenderFlag(RenderLocalBoxValid, false);
    SetRenderFlag(RenderWorldBoxValid, false);
    UpdateMassProperties();
}

bool CollisionSphere::IntersectRay(const Float3& origin, const Float3& direction,
                                   PickQuery& query) {
    if (!AnswersPick(query)) {
        return false;
    }
    Float3 normal;
    const float t = RaySphereIntersect(origin, direction, GetWorldPosition(), radius_, &normal);
    // The routine also reports spheres behind the origin, which the ray never reaches.
    if (t == NoHit || t < 0.0f) {
        return false;
    }
    if (query.flags & PickNormal) {
        query.current.data = normal;
    }
    query.current.distance = t;
    return true;
}

void CollisionSphere::UpdateBoundingBox() {
    const Float3 r(radius_, radius_, radius_);
    localBox_ = {r * -1.0f, r};
}

void CollisionSphere::UpdateWorldBoundingBox() {
    const Float3 s = GetWorldPosition();
    const Float3 r(radius_, radius_, radius_);
    worldBox_ = {s - r, s + r};
}

float CollisionSphere::GetVolume() {
    return SphereVolumeFactor * radius_ * radius_ * radius_;
}

float CollisionSphere::GetSubmergedVolume(Float3 normal, float distance, Float3* centre) {
    const Float3 s = GetWorldPosition();
    const float h = normal.Dot(s) - distance;
    const float r = radius_;
    if (h >= r) {
        return 0.0f;
    }
    if (h <= -r) {
        if (centre) {
            *centre = s;
        }
        return GetVolume();
    }
    const float k = r - h; // the submerged height of the cap
    if (centre) {
        const float offset = 3.0f * (2.0f * r - k) * (2.0f * r - k) / (4.0f * (3.0f * r - k));
        *centre = s - normal * offset;
    }
    return 1.0471976f * k * k * (3.0f * r - k);
}

float CollisionSphere::GetProjectedArea(Float3) {
    return Pi * radius_ * radius_;
}

Float3 CollisionSphere::GetSupportPoint(Float3 direction) {
    return GetWorldPosition() + direction.NormalizedOrSelf() * radius_;
}

const SupportFace* CollisionSphere::GetSupportFace(Float3 direction) {
    static FeatureRecords records;
    return records.Vertex(GetSupportPoint(direction));
}

float CollisionSphere::GetSupportDistance(Float3 direction) {
    return GetWorldPosition().Dot(direction) + radius_;
}

float CollisionSphere::GetPointDepth(Float3 point, Float3* normal) {
    const Float3 offset = point - GetWorldPosition();
    const float distance = offset.Length();
    if (normal) {
        *normal = OutwardNormal(offset, distance);
    }
    return radius_ - distance;
}

void CollisionSphere::DrawShape() {
    const Float3 centre = GetWorldPosition();
    const uint32_t color = GetColorArgb(centre, 0);
    if (TestRenderFlags(RenderGeometry)) {
        GetDebugTriangleMesh().AddSolidSphere(centre, radius_, color, 12);
    }
    if (TestRenderFlags(RenderWireframe)) {
        GetDebugLineMesh().AddWireSphere(centre, radius_, color, 16);
    }
}

void CollisionSphere::UpdateMassProperties() {
    const float mass = GetVolume() * GetDensity();
    SetMassProperties(mass, 0.4f * mass * radius_ * radius_);
    TouchBodyInertia();
}

// Colliders: negated coordinates, normals from the first volume toward the second.

int CollideSpherePlane(CollisionVolume& sphere, CollisionVolume& plane, int,
                       std::span<CollisionContact> contacts) {
    auto* s = dynamic_cast<CollisionSphere*>(&sphere);
    auto* p = dynamic_cast<CollisionPlane*>(&plane);
    if (!s || !p || contacts.empty()) {
        return 0;
    }
    const Float3 centre = s->GetWorldPosition() * -1.0f;
    const Float3 normal = p->GetNormal() * -1.0f;
    const float r = s->GetSphereRadius();
    const float depth = p->GetOffset() - centre.Dot(normal) + r;
    if (depth < 0.0f) {
        return 0;
    }
    SetContact(contacts[0], centre - normal * r, normal, depth);
    return 1;
}

int CollideSphereSphere(CollisionVolume& first, CollisionVolume& second, int,
                        std::span<CollisionContact> contacts) {
    auto* a = dynamic_cast<CollisionSphere*>(&first);
    auto* b = dynamic_cast<CollisionSphere*>(&second);
    if (!a || !b || contacts.empty()) {
        return 0;
    }
    return CollideSpheres(a->GetWorldPosition() * -1.0f, a->GetSphereRadius(),
                          b->GetWorldPosition() * -1.0f, b->GetSphereRadius(), contacts[0]);
}

ClassInfo* CollisionSphere::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = CollisionVolume::RegisterClass();
    classInfo = new ClassInfo(
        "CollisionSphere", []() -> Entity* { return new CollisionSphere(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Collision");
    classInfo->AddProperty<PropertyFloat, &CollisionSphere::GetSphereRadius,
                           &CollisionSphere::SetSphereRadius>("radius:0.0,10.0");
    SetCollider(COLLISION_SPHERE, COLLISION_PLANE, CollideSpherePlane);
    SetCollider(COLLISION_SPHERE, COLLISION_SPHERE, CollideSphereSphere);
    return classInfo;
}

} // namespace quarn
