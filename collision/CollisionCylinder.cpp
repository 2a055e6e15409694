#include "collision/CollisionCylinder.h"

#include "collision/CollisionCapsule.h"
#include "collision/CollisionPlane.h"
#include "collision/CollisionSphere.h"
#include "collision/ContactRoutines.h"
#include "collision/FaceRoutines.h"
#include "core/object/ClassInfo.h"
#include "core/object/PropertyScalar.h"
#include "device/DeviceMesh.h"
#include "resources/DynamicMesh.h"

#include <algorithm>
#include <cmath>

namespace quarn {

ClassInfo* CollisionCylinder::classInfo = nullptr;
Property* CollisionCylinder::lengthProperty_ = nullptr;
Property* CollisionCylinder::radiusProperty_ = nullptr;
Float3 CollisionCylinder::submergedCentre_;

namespace {

constexpr float Pi = 3.1415927f;

FeatureRecords cylinderFeatures;

float SafeRoot(float value) {
    return std::sqrt(std::max(value, 0.0f));
}

} // namespace

CollisionCylinder::CollisionCylinder() : CollisionVolume(COLLISION_CYLINDER) {
    SetRenderFlag(RenderZBias, true);
    SetRenderType(RenderNonSolid);
    RefreshDerivedFlags();
    UpdateMassProperties();
}

void CollisionCylinder::SetDimension(float& field, float value, Property* property) {
    // Also refuses NaN.
    if (value == field || !(value > 0.0f)) {
        return;
    }
    const float old = field;
    field = value;
    // The local box depends on the dimensions as much as the world box does.
    SetRenderFlag(RenderLocalBoxValid, false);
    SetRenderFlag(RenderWorldBoxValid, false);
    UpdateMassProperties();
    NotifyChange(property, old, value);
}

void CollisionCylinder::SetLength(float length) {
    SetDimension(length_, length, lengthProperty_);
}

void CollisionCylinder::SetCylinderRadius(float radius) {
    SetDimension(radius_, radius, radiusProperty_);
}

// Bounds and mass ------------------------------------------------------------------------------

void CollisionCylinder::UpdateBoundingBox() {
    const float h = length_ * 0.5f;
    localBox_ = {Float3(-radius_, -radius_, -h), Float3(radius_, radius_, h)};
}

void CollisionCylinder::UpdateWorldBoundingBox() {
    const Float3 a = GetShapeAxis(*this).NormalizedOrSelf();
    const float h = length_ * 0.5f;
    const auto extent = [&](float ai) { return SafeRoot(1.0f - ai * ai) * radius_ + std::fabs(ai * h); };
    const Float3 e(extent(a.x), extent(a.y), extent(a.z));
    const Float3 c = GetWorldPosition();
    worldBox_ = {c - e, c + e};
}

float CollisionCylinder::GetRadius() {
    return std::sqrt(radius_ * radius_ + length_ * length_ * 0.25f);
}

float CollisionCylinder::GetVolume() {
    return radius_ * radius_ * length_ * Pi;
}

void CollisionCylinder::UpdateMassProperties() {
    const float r2 = radius_ * radius_;
    const float mass = Pi * r2 * length_ * GetDensity();
    const float across = (length_ * length_ + 3.0f * r2) / 12.0f * mass;
    SetMassProperties(mass, Float3(across, across, mass * r2 * 0.5f));
    TouchBodyInertia();
}

// Queries --------------------------------------------------------------------------------------

float CollisionCylinder::GetProjectedArea(Float3 direction) {
    const float t = GetShapeAxis(*this).Dot(direction);
    return SafeRoot(1.0f - t * t) * 2.0f * radius_ * length_ + std::fabs(t) * Pi * radius_ * radius_;
}

Float3 CollisionCylinder::GetSupportPoint(Float3 direction) {
    const Float3 a = GetShapeAxis(*this);
    const float t = a.Dot(direction);
    Float3 p = direction - a * t;
    float length = p.Length();
    if (length != 0.0f) {
        // Nearly along the axis the subtraction leaves mostly rounding: square it up again.
        // Where less than half of it lies across the axis, what is left is rounding along the
        // axis, which scaled up would put the point a radius beyond the disc: the direction is
        // the axis, and the disc's centre its farthest point.
        if (length < 0.01f) {
            p = p / length;
            p = p - a * a.Dot(p);
            length = p.Length();
            if (length < 0.5f) {
                length = 0.0f;
                p = Float3();
            }
        }
        if (length != 0.0f) {
            p = p / length;
        }
    }
    const float h = length_ * 0.5f;
    return GetWorldPosition() + a * (t > 0.0f ? h : -h) + p * radius_;
}

float CollisionCylinder::GetSupportDistance(Float3 direction) {
    const float t = GetShapeAxis(*this).Dot(direction);
    // The part across the axis is |d|^2 - t^2, which for a unit direction is 1 - t^2.
    return GetWorldPosition().Dot(direction) + length_ * 0.5f * std::fabs(t) +
           radius_ * SafeRoot(direction.LengthSquared() - t * t);
}

float CollisionCylinder::GetPointDepth(Float3 point, Float3* normal) {
    const Float3 a = GetShapeAxis(*this);
    const Float3 v = point - GetWorldPosition();
    const float beta = a.Dot(v);
    const float dz = length_ * 0.5f - std::fabs(beta);
    const Float3 w = v - a * beta;
    const float distance = w.Length();
    const float dr = radius_ - distance;
    if (dz <= dr) {
        if (normal) {
            *normal = beta > 0.0f ? a : a * -1.0f;
        }
        return dz;
    }
    if (normal) {
        *normal = distance > 0.0f ? w / distance : a.AnyPerpendicular();
    }
    return dr;
}

const SupportFace* CollisionCylinder::GetSupportFace(Float3 direction) {
    const Float3 a = GetShapeAxis(*this);
    const Float3 c = GetWorldPosition();
    const float h = length_ * 0.5f;
    const float t = a.Dot(direction);
    if (t >= -0.7f && t <= 0.7f) {
        const Float3 n = (direction - a * t).NormalizedOrSelf();
        return cylinderFeatures.Edge(n, c - a * h + n * radius_, c + a * h + n * radius_);
    }
    const Float3 n = t > 0.0f ? a : a * -1.0f;
    return cylinderFeatures.Disc(n, c + n * h, radius_, length_);
}

Float3 CollisionCylinder::GetFaceNormal(int index) {
    const Float3 a = GetShapeAxis(*this);
    return index == 0 ? a : a * -1.0f;
}

bool CollisionCylinder::IntersectRay(const Float3& origin, const Float3& direction,
                                     PickQuery& query) {
    FlatCylinderHit hit;
    const Float3 a = GetShapeAxis(*this);
    if (!AnswersPick(query) ||
        !RayFlatEndedCylinder(origin - GetWorldPosition(), a, length_ * 0.5f, radius_, direction,
                              0.9999f * direction.Length(), hit)) {
        return false;
    }
    if (query.flags & PickNormal) {
        query.current.data = hit.normal;
    }
    query.current.part = hit.throughSide           ? CylinderPickSide
                         : a.Dot(direction) >= 0.0f ? CylinderPickLowerEnd
                                                    : CylinderPickUpperEnd;
    query.current.distance = hit.distance;
    return true;
}

void CollisionCylinder::DrawShape() {
    const uint32_t color = GetColorArgb(Float3(), 0);
    SetRenderWorldMatrix(GetWorldMatrix());
    if (TestRenderFlags(RenderGeometry)) {
        GetDebugTriangleMesh().AddSolidCylinder(Float3(), radius_, length_, color, 12);
        // Depth tested but not written, so the see-through solid hides nothing behind it.
        FlushDebugTriangles(DynamicDepthTested & ~MeshZWrite);
    }
    if (TestRenderFlags(RenderWireframe)) {
        GetDebugLineMesh().AddWireCylinder(Float3(), radius_, length_, color | 0xFF000000u, 12);
        DrawDebugLines();
    }
}

// Submerged volume ------------------------------------------------------------------------------

float CollisionCylinder::GetSubmergedVolume(Float3 normal, float distance, Float3* centre) {
    const Float3 c = GetWorldPosition();
    const float s = normal.Dot(c) - distance;
    const float h = length_ * 0.5f;
    Float3 found = c;
    float volume = 0.0f;
    if (s * s >= h * h + radius_ * radius_) {
        volume = s > 0.0f ? 0.0f : GetVolume();
    } else {
        volume = Submerged(normal, s, found);
    }
    if (volume == 0.0f) {
        return 0.0f;
    }
    submergedCentre_ = found;
    if (centre) {
        *centre = found;
    }
    return volume;
}

// The cases by the axis's tilt against the plane; centre starts at the cylinder's centre, which
// is the answer whenever the whole volume is under.
float CollisionCylinder::Submerged(Float3 n, float s, Float3& centre) {
    const Float3 a = GetShapeAxis(*this);
    const Float3 c = GetWorldPosition();
    const float r = radius_;
    const float h = length_ * 0.5f;
    const float V = GetVolume();
    const float t = a.Dot(n);
    if (std::fabs(t) > 0.9999f) {
        if (h <= s) {
            return 0.0f;
        }
        if (s <= -h) {
            return V;
        }
        centre = c - n * ((s + h) * 0.5f);
        return Pi * r * r * (h - s);
    }
    if (std::fabs(t) < 0.01f) {
        if (r <= s) {
            return 0.0f;
        }
        if (s <= -r) {
            return V;
        }
        centre = c - n * ((s + r) * 0.5f);
        return Pi * r * h * (r - s);
    }
    const float sine = std::sqrt(1.0f - t * t);
    const Float3 u = (n - a * t) / sine;
    const float e1 = (t * h - s) / sine;
    const float e2 = (-t * h - s) / sine;
    if (e1 <= -r && e2 <= -r) {
        return 0.0f;
    }
    if (e1 >= r && e2 >= r) {
        return V;
    }
    if (std::fabs(e1) < r && std::fabs(e2) < r) {
        const float L1 = r + e1;
        const float L2 = r + e2;
        const float phi = (L1 + 2.0f * L2) / (3.0f * (L1 + L2));
        centre = c + a * (h * (2.0f * phi - 1.0f)) + u * ((L1 + phi * (L2 - L1)) * 0.5f - r);
        return Pi * r * h * (L1 + L2) * 0.5f;
    }
    const float sigma = t > 0.0f ? 1.0f : -1.0f;
    const float at = std::fabs(t);
    const float z1 = (-r * sine - s) / at;
    const float z2 = (r * sine - s) / at;
    const float E = std::fabs(e1) < r ? e1 : e2;
    if (std::fabs(z1) < h && std::fabs(z2) < h) {
        const float M1 = h + z1;
        const float M2 = h + z2;
        const float phi = (2.0f * M1 + M2) / (3.0f * (M1 + M2));
        centre = c + a * (sigma * ((M2 + phi * (M1 - M2)) * 0.5f - h)) + u * (2.0f * r * phi - r);
        return Pi * r * r * (M1 + M2) * 0.5f;
    }
    if (std::fabs(z1) >= h) {
        const float Z = z2;
        centre = c + a * (sigma * ((h + Z) / 3.0f - h)) + u * ((r + E) / 3.0f - r);
        return Pi * 0.25f * r * (h + Z) * (r + E);
    }
    const float Z = z1;
    const float w = Pi * 0.25f * r * (h - Z) * (r - E);
    const Float3 o = a * (sigma * (h + (Z - h) / 3.0f)) + u * (r + (E - r) / 3.0f);
    centre = c - o * (w / (V - w));
    return V - w;
}

// Colliders: negated positions, axes as they are, normals from the cylinder toward the other
// volume ---------------------------------------------------------------------------------------

namespace {

// About 2.5 degrees, as two cylinders count as parallel.
constexpr float NearlyAlongNormal = 0.999f;

} // namespace

CylinderFrame NegatedCylinder(CollisionCylinder& cylinder) {
    return {cylinder.GetWorldPosition() * -1.0f, GetShapeAxis(cylinder),
            cylinder.GetCylinderRadius(), cylinder.GetLength() * 0.5f};
}

int CollideCylinderPlaneCore(const Float3& c, const Float3& a, float r, float h, const Float3& n,
                             float offset, std::span<CollisionContact> contacts) {
    const float t = a.Dot(n);
    int count = 0;
    // An axis nearly along the normal leaves the lowest rim point's direction to rounding: it
    // turned about the rim from step to step as a standing cylinder rocked by a hair, and
    // exactly along it pointed nowhere (four contacts at the centre, a cylinder balanced on a
    // point). There four rim points fixed about the axis take each its own depth.
    if (std::fabs(t) > NearlyAlongNormal) {
        Float3 v;
        Float3 w;
        PlaneSpace(a, v, w);
        const Float3 p = t > 0.0f ? c - a * h : c + a * h;
        for (const Float3& rim : {p + v * r, p - v * r, p + w * r, p - w * r}) {
            const float depth = offset - n.Dot(rim);
            if (depth >= 0.0f) {
                count = AppendContact(contacts, count, rim, n, depth);
            }
        }
        return count;
    }
    const Float3 an = a.Cross(n);
    const Float3 w = an.NormalizedOrSelf();
    const Float3 v = a.Cross(an).NormalizedOrSelf();
    const auto disc = [&](const Float3& p) {
        const float d = n.Dot(p) - offset;
        if (d > r) {
            return;
        }
        const float k = n.Dot(v) * r;
        if (d + k <= 0.0f) {
            count = AppendContact(contacts, count, p + v * r, n, -(d + k));
        }
        if (d - k <= 0.0f) {
            count = AppendContact(contacts, count, p - v * r, n, k - d);
        }
        if (d <= 0.0f) {
            count = AppendContact(contacts, count, p + w * r, n, -d);
            count = AppendContact(contacts, count, p - w * r, n, -d);
        }
    };
    if (t > -0.71f) {
        disc(c - a * h);
    }
    if (t < 0.71f) {
        disc(c + a * h);
    }
    return count;
}

int CollideCylinderPlane(CollisionVolume& cylinder, CollisionVolume& plane, int,
                         std::span<CollisionContact> contacts) {
    auto* c = dynamic_cast<CollisionCylinder*>(&cylinder);
    auto* p = dynamic_cast<CollisionPlane*>(&plane);
    if (!c || !p) {
        return 0;
    }
    const CylinderFrame f = NegatedCylinder(*c);
    return CollideCylinderPlaneCore(f.c, f.a, f.r, f.h, p->GetNormal() * -1.0f, p->GetOffset(),
                                    contacts);
}

int CollideCylinderSphere(CollisionVolume& cylinder, CollisionVolume& sphere, int,
                          std::span<CollisionContact> contacts) {
    auto* cyl = dynamic_cast<CollisionCylinder*>(&cylinder);
    auto* sph = dynamic_cast<CollisionSphere*>(&sphere);
    if (!cyl || !sph || contacts.empty()) {
        return 0;
    }
    const auto [c, a, r, h] = NegatedCylinder(*cyl);
    const float L = h * 2.0f;
    const Float3 s = sph->GetWorldPosition() * -1.0f;
    const float R = sph->GetSphereRadius();
    const Float3 w = s - (c - a * h);
    const float t = a.Dot(w);
    if (t < -R || t > L + R) {
        return 0;
    }
    const Float3 V = w - a * t;
    if (V.LengthSquared() > (r + R) * (r + R)) {
        return 0;
    }
    const float dist = V.Length() - r;
    float D = dist >= 0.0f ? dist * dist : 0.0f;
    if (t < 0.0f) {
        D += t * t;
    } else if (t > L) {
        D += (t - L) * (t - L);
    }
    if (D > R * R) {
        return 0;
    }
    // A centre on the axis has no direction across it; any one will do.
    const Float3 Vn = V.LengthSquared() > 0.0f ? V.NormalizedOrSelf() : a.AnyPerpendicular();
    if (D <= 0.0f || (t >= 0.0f && t <= L)) {
        SetContact(contacts[0], s - Vn * R, Vn * -1.0f, R - dist);
    } else if (dist < 0.0f) {
        if (t >= 0.0f) {
            SetContact(contacts[0], s - a * R, a * -1.0f, (L + R) - t);
        } else {
            SetContact(contacts[0], s + a * R, a, R + t);
        }
    } else {
        const Float3 e = t >= 0.0f ? Vn * dist - a * (L - t) : Vn * dist + a * t;
        const Float3 en = e.NormalizedOrSelf();
        SetContact(contacts[0], s - en * R, en * -1.0f, R - e.Length());
    }
    return 1;
}

// Registration ----------------------------------------------------------------------------------

ClassInfo* CollisionCylinder::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = CollisionVolume::RegisterClass();
    classInfo = new ClassInfo(
        "CollisionCylinder", []() -> Entity* { return new CollisionCylinder(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Collision");
    using C = CollisionCylinder;
    classInfo->AddProperty<PropertyFloat, &C::GetLength, &C::SetLength>("length:0.0,10.0");
    classInfo->AddProperty<PropertyFloat, &C::GetCylinderRadius, &C::SetCylinderRadius>(
        "radius:0.0,10.0");
    lengthProperty_ = classInfo->FindProperty("length");
    radiusProperty_ = classInfo->FindProperty("radius");
    SetCollider(COLLISION_CYLINDER, COLLISION_PLANE, CollideCylinderPlane);
    SetCollider(COLLISION_CYLINDER, COLLISION_SPHERE, CollideCylinderSphere);
    SetCollider(COLLISION_CYLINDER, COLLISION_BOX, CollideCylinderBox);
    SetCollider(COLLISION_CYLINDER, COLLISION_CYLINDER, CollideCylinderCylinder);
    return classInfo;
}

} // namespace quarn
