#include "collision/CollisionCapsule.h"

#include "collision/CollisionPlane.h"
#include "collision/CollisionRay.h"
#include "collision/CollisionSphere.h"
#include "collision/ContactRoutines.h"
#include "collision/FaceRoutines.h"
#include "core/debug/Validity.h"
#include "core/object/ClassInfo.h"
#include "core/object/PropertyScalar.h"
#include "resources/DynamicMesh.h"

#include <algorithm>
#include <cmath>

namespace quarn {

ClassInfo* CollisionCapsule::classInfo = nullptr;

namespace {

constexpr float Pi = 3.1415927f;
constexpr float SphereVolumeFactor = 4.18879f;
constexpr float Unbounded = 1e24f;

FeatureRecords capsuleFeatures;

} // namespace

CollisionCapsule::CollisionCapsule() : CollisionVolume(COLLISION_CAPSULE) {
    SetRenderFlag(RenderZBias, true);
    SetRenderType(RenderNonSolid);
    RefreshDerivedFlags();
    UpdateMassProperties();
}

bool CollisionCapsule::SetDimension(float& field, float value) {
    if (value == field || !ValidityCheck(value >= 0.0f, "invalid length")) {
        return false;
    }
    field = value;
    SetRenderFlag(RenderLocalBoxValid, false);
    SetRenderFlag(RenderWorldBoxValid, false);
    UpdateMassProperties();
    return true;
}

void CollisionCapsule::SetLength(float length) {
    SetDimension(length_, length);
}

void CollisionCapsule::SetCapsuleRadius(float radius) {
    SetDimension(radius_, radius);
}

bool RayFlatEndedCylinder(const Float3& w, const Float3& a, float h, float r,
                          const Float3& direction, float parallel, FlatCylinderHit& hit) {
    const float ad = a.Dot(direction);
    const float aw = a.Dot(w);
    float slabIn = -Unbounded;
    float slabOut = Unbounded;
    if (ad == 0.0f) {
        if (std::fabs(aw) > h) {
            return false;
        }
    } else {
        slabIn = -(aw + h) / ad;
        slabOut = -(aw - h) / ad;
        if (slabIn > slabOut) {
            std::swap(slabIn, slabOut);
        }
        if (slabOut < 0.0f) {
            return false;
        }
    }
    const Float3 wp = w - a * aw;
    const float c0 = wp.LengthSquared() - r * r;
    float sideIn = -Unbounded;
    float sideOut = Unbounded;
    if (std::fabs(ad) < parallel) {
        const Float3 dp = direction - a * ad;
        const float qa = dp.LengthSquared();
        const float qb = dp.Dot(wp);
        const float discriminant = qb * qb - qa * c0;
        if (discriminant < 0.0f) {
            return false;
        }
        const float root = std::sqrt(discriminant);
        sideIn = (-qb - root) / qa;
        sideOut = (root - qb) / qa;
        if (sideOut < 0.0f) {
            return false;
        }
    } else if (c0 > 0.0f) {
        return false;
    }
    if (sideIn > slabOut || slabIn > sideOut) {
        return false;
    }
    hit.throughSide = slabIn <= sideIn;
    if (hit.throughSide) {
        const Float3 entry = w + direction * sideIn;
        hit.normal = (entry - a * a.Dot(entry)).NormalizedOrSelf();
    } else {
        hit.normal = ad > 0.0f ? a * -1.0f : a;
    }
    hit.distance = std::max(std::max(slabIn, sideIn), 0.0f);
    return true;
}

bool CollisionCapsule::IntersectRay(const Float3& origin, const Float3& direction,
                                    PickQuery& query) {
    FlatCylinderHit hit;
    if (!AnswersPick(query) ||
        !RayFlatEndedCylinder(origin - GetWorldPosition(), GetShapeAxis(*this), length_ * 0.5f,
                              radius_, direction, 0.999f, hit)) {
        return false;
    }
    if (query.flags & PickNormal) {
        query.current.data = hit.normal;
    }
    query.current.distance = hit.distance;
    return true;
}

void CollisionCapsule::UpdateBoundingBox() {
    const float end = length_ * 0.5f + radius_;
    localBox_ = {Float3(-radius_, -radius_, -end), Float3(radius_, radius_, end)};
}

void CollisionCapsule::UpdateWorldBoundingBox() {
    const Float3 a = GetShapeAxis(*this);
    const float h = length_ * 0.5f;
    const Float3 e(std::fabs(a.x) * h + radius_, std::fabs(a.y) * h + radius_,
                   std::fabs(a.z) * h + radius_);
    const Float3 c = GetWorldPosition();
    worldBox_ = {c - e, c + e};
}

float CollisionCapsule::GetRadius() {
    return std::sqrt(radius_ * radius_ + length_ * length_ * 0.25f);
}

Float3 CollisionCapsule::GetSupportPoint(Float3 direction) {
    const Float3 a = GetShapeAxis(*this);
    const float h = a.Dot(direction) <= 0.0f ? -length_ * 0.5f : length_ * 0.5f;
    // The overlap test asks along search vectors of any length.
    return GetWorldPosition() + a * h + direction.NormalizedOrSelf() * radius_;
}

float CollisionCapsule::GetSupportDistance(Float3 direction) {
    return std::fabs(GetShapeAxis(*this).Dot(direction)) * length_ * 0.5f +
           GetWorldPosition().Dot(direction) + radius_;
}

float CollisionCapsule::GetPointDepth(Float3 point, Float3* normal) {
    const Float3 a = GetShapeAxis(*this);
    const float h = length_ * 0.5f;
    const Float3 v = point - GetWorldPosition();
    const float beta = a.Dot(v);
    const bool side = std::fabs(beta) < h;
    const float end = beta < 0.0f ? -h : h;
    const Float3 w = v - a * (side ? beta : end);
    const float distance = w.Length();
    if (normal) {
        if (distance > 0.0f) {
            *normal = w / distance;
        } else {
            *normal = side ? a.AnyPerpendicular() : (beta < 0.0f ? a * -1.0f : a);
        }
    }
    return radius_ - distance;
}

const SupportFace* CollisionCapsule::GetSupportFace(Float3 direction) {
    const Float3 a = GetShapeAxis(*this);
    const Float3 c = GetWorldPosition();
    const float h = length_ * 0.5f;
    const float t = a.Dot(direction);
    if (std::fabs(t) < 0.02f) {
        const Float3 n = (direction - a * t).NormalizedOrSelf();
        return capsuleFeatures.Edge(n, c - a * h + n * radius_, c + a * h + n * radius_);
    }
    const Float3 end = t > 0.0f ? c + a * h : c - a * h;
    return capsuleFeatures.Vertex(end + direction.NormalizedOrSelf() * radius_, direction);
}

void CollisionCapsule::DrawShape() {
    const uint32_t color = GetColorArgb(Float3(), 0);
    SetRenderWorldMatrix(GetWorldMatrix());
    if (TestRenderFlags(RenderGeometry)) {
        GetDebugTriangleMesh().AddSolidCapsule(radius_, length_, color, 12);
        DrawDebugTriangles();
    }
    if (TestRenderFlags(RenderWireframe)) {
        GetDebugLineMesh().AddWireCapsule(radius_, length_, color | 0xFF000000u, 12);
        DrawDebugLines();
    }
}

void CollisionCapsule::UpdateMassProperties() {
    const float r = radius_;
    const float l = length_;
    const float ms = SphereVolumeFactor * r * r * r * GetDensity();
    const float mc = Pi * r * r * l * GetDensity();
    const float across = (0.4f * r * r + 0.375f * r * l + 0.25f * l * l) * ms +
                         (l * l + 3.0f * r * r) * mc / 12.0f;
    const float along = r * r * (0.4f * ms + 0.5f * mc);
    SetMassProperties(ms + mc, Float3(across, across, along));
    TouchBodyInertia();
}

// Colliders: negated coordinates, normals from the first volume toward the second.

namespace {

struct Core {
    Float3 centre;
    Float3 axis;
    float h = 0.0f;
    float r = 0.0f;
};

Core NegatedCore(CollisionCapsule& capsule) {
    return {capsule.GetWorldPosition() * -1.0f, GetShapeAxis(capsule),
            capsule.GetLength() * 0.5f, capsule.GetCapsuleRadius()};
}

} // namespace

int CollideCapsuleSphere(CollisionVolume& capsule, CollisionVolume& sphere, int,
                         std::span<CollisionContact> contacts) {
    auto* c = dynamic_cast<CollisionCapsule*>(&capsule);
    auto* s = dynamic_cast<CollisionSphere*>(&sphere);
    if (!c || !s || contacts.empty()) {
        return 0;
    }
    const Core core = NegatedCore(*c);
    const Float3 centre = s->GetWorldPosition() * -1.0f;
    const float t = std::clamp(core.axis.Dot(centre - core.centre), -core.h, core.h);
    return CollideSpheres(core.centre + core.axis * t, core.r, centre, s->GetSphereRadius(),
                          contacts[0]);
}

int CollideCapsuleCapsule(CollisionVolume& first, CollisionVolume& second, int maximum,
                          std::span<CollisionContact> contacts) {
    auto* c1 = dynamic_cast<CollisionCapsule*>(&first);
    auto* c2 = dynamic_cast<CollisionCapsule*>(&second);
    if (!c1 || !c2 || contacts.empty()) {
        return 0;
    }
    const Core a = NegatedCore(*c1);
    Core b = NegatedCore(*c2);
    const float k12 = a.axis.Dot(b.axis);
    if (1.0f - k12 * k12 < 1e-5f) {
        if (k12 < 0.0f) {
            b.axis = b.axis * -1.0f;
        }
        const float k = a.axis.Dot(a.centre - b.centre);
        const float lo = std::max(-a.h, -b.h - k);
        const float hi = std::min(a.h, b.h - k);
        if (lo <= hi) {
            const auto at = [&](float s, CollisionContact& contact) {
                return CollideSpheres(a.centre + a.axis * s, a.r, b.centre + b.axis * (s + k), b.r,
                                      contact);
            };
            if (maximum >= 2 && contacts.size() >= 2 && lo < hi && at(lo, contacts[0]) &&
                at(hi, contacts[1])) {
                return 2;
            }
            return at((lo + hi) * 0.5f, contacts[0]);
        }
    }
    Float3 p1;
    Float3 p2;
    ClosestSegmentPoints(a.centre + a.axis * a.h, a.centre - a.axis * a.h, b.centre + b.axis * b.h,
                         b.centre - b.axis * b.h, p1, p2);
    return CollideSpheres(p1, a.r, p2, b.r, contacts[0]);
}

int CollideCapsulePlane(CollisionVolume& capsule, CollisionVolume& plane, int maximum,
                        std::span<CollisionContact> contacts) {
    auto* c = dynamic_cast<CollisionCapsule*>(&capsule);
    auto* p = dynamic_cast<CollisionPlane*>(&plane);
    if (!c || !p || contacts.empty()) {
        return 0;
    }
    const Core core = NegatedCore(*c);
    const Float3 n = p->GetNormal() * -1.0f;
    const float offset = p->GetOffset();
    const float sign = core.axis.Dot(n) <= 0.0f ? 1.0f : -1.0f;
    const Float3 low = core.centre + core.axis * (core.h * sign);
    const float depth = offset - low.Dot(n) + core.r;
    if (depth < 0.0f) {
        return 0;
    }
    SetContact(contacts[0], low - n * core.r, n, depth);
    if (maximum < 2 || contacts.size() < 2) {
        return 1;
    }
    const Float3 high = core.centre - core.axis * (core.h * sign);
    const float highDepth = offset - high.Dot(n) + core.r;
    if (highDepth < 0.0f) {
        return 1;
    }
    SetContact(contacts[1], high - n * core.r, n, highDepth);
    return 2;
}

int CollideRayCapsule(CollisionVolume& ray, CollisionVolume& capsule, int,
                      std::span<CollisionContact> contacts) {
    auto* r = dynamic_cast<CollisionRay*>(&ray);
    auto* c = dynamic_cast<CollisionCapsule*>(&capsule);
    if (!r || !c || contacts.empty()) {
        return 0;
    }
    const Core core = NegatedCore(*c);
    const Float3 o = r->GetWorldPosition() * -1.0f;
    const Float3 u = GetShapeAxis(*r) * -1.0f;
    const float rl = r->GetLength();
    const Float3& a = core.axis;
    const Float3 cs = o - core.centre;
    const float k = a.Dot(cs);
    const Float3 q = a * k - cs;
    const float g = q.LengthSquared() - core.r * core.r;
    bool inside = false;
    float cap = 0.0f;
    bool testSide = true;
    if (g < 0.0f) {
        const float kc = std::clamp(k, -core.h, core.h);
        inside = (o - (core.centre + a * kc)).LengthSquared() < core.r * core.r;
        if (!inside) {
            cap = kc >= 0.0f ? core.h : -core.h;
            testSide = false;
        }
    }
    if (testSide) {
        const float uv = a.Dot(u);
        const Float3 w = a * uv - u;
        const float qa = w.LengthSquared();
        const float qb = 2.0f * q.Dot(w);
        const float discriminant = qb * qb - 4.0f * qa * g;
        if (discriminant < 0.0f || qa == 0.0f) {
            if (!inside) {
                return 0;
            }
            cap = uv >= 0.0f ? core.h : -core.h;
        } else {
            const float root = std::sqrt(discriminant);
            float alpha = (-qb - root) / (2.0f * qa);
            if (alpha < 0.0f) {
                alpha = (root - qb) / (2.0f * qa);
                if (alpha < 0.0f) {
                    return 0;
                }
            }
            if (alpha > rl) {
                return 0;
            }
            const Float3 position = o + u * alpha;
            const float kk = a.Dot(position - core.centre);
            if (kk >= -core.h && kk <= core.h) {
                const Float3 normal = (position - (core.centre + a * kk)) * (inside ? -1.0f : 1.0f);
                SetContact(contacts[0], position, normal.NormalizedOrSelf(), alpha);
                return 1;
            }
            cap = kk < 0.0f ? -core.h : core.h;
        }
    }
    return RaySphereContact(o, u, rl, core.centre + a * cap, core.r, inside, contacts[0]);
}

ClassInfo* CollisionCapsule::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = CollisionVolume::RegisterClass();
    classInfo = new ClassInfo(
        "CollisionCapsule", []() -> Entity* { return new CollisionCapsule(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Collision");
    classInfo->AddProperty<PropertyFloat, &CollisionCapsule::GetLength,
                           &CollisionCapsule::SetLength>("length:0.0,10.0");
    classInfo->AddProperty<PropertyFloat, &CollisionCapsule::GetCapsuleRadius,
                           &CollisionCapsule::SetCapsuleRadius>("radius:0.0,10.0");
    SetCollider(COLLISION_CAPSULE, COLLISION_SPHERE, CollideCapsuleSphere);
    SetCollider(COLLISION_CAPSULE, COLLISION_CAPSULE, CollideCapsuleCapsule);
    SetCollider(COLLISION_CAPSULE, COLLISION_PLANE, CollideCapsulePlane);
    SetCollider(COLLISION_RAY, COLLISION_CAPSULE, CollideRayCapsule);
    return classInfo;
}

} // namespace quarn
