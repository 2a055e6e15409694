#include "collision/CollisionCapsule.h"

#include "collision/CollisionCylinder.h"
#include "collision/CollisionPlane.h"
#include "collision/CollisionRay.h"
#include "collision/CollisionSphere.h"
#include "collision/ContactRoutines.h"
#include "collision/ConvexRoute.h"
#include "collision/ExpandingPolytope.h"
#include "collision/FaceRoutines.h"
#include "collision/FeatureColliders.h"
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

namespace {

// A point against a solid cylinder: how far outside it lies (at or below 0 inside, the depth
// below the nearer surface negated), the cylinder's outward normal there, and the point of its
// surface nearest an outside point.
struct CylinderDistance {
    float distance = 0.0f;
    Float3 outward;
    Float3 nearest;
};

CylinderDistance DistanceToCylinder(const CylinderFrame& f, const Float3& p) {
    const Float3 v = p - f.c;
    const float beta = f.a.Dot(v);
    const Float3 w = v - f.a * beta;
    const float rho = w.Length();
    const Float3 across = rho > 0.0f ? w / rho : f.a.AnyPerpendicular();
    const float dz = std::fabs(beta) - f.h;
    const float dr = rho - f.r;
    if (dz > 0.0f || dr > 0.0f) {
        // By its parts along and across the axis: p less the nearest point would be mostly
        // rounding close to the surface.
        const float along = beta - std::clamp(beta, -f.h, f.h);
        const float out = std::max(dr, 0.0f);
        const float distance = std::sqrt(along * along + out * out);
        const Float3 nearest = p - f.a * along - across * out;
        return {distance, (f.a * along + across * out) / distance, nearest};
    }
    if (dz >= dr) {
        return {dz, beta < 0.0f ? f.a * -1.0f : f.a, p};
    }
    return {dr, across, p};
}

// How far the capsule must move along the unit direction u to clear the cylinder.
float OverlapAlong(const Core& core, const CylinderFrame& f, const Float3& u) {
    const float k = f.a.Dot(u);
    const float cylinderReach =
        f.c.Dot(u) + f.h * std::fabs(k) + f.r * std::sqrt(std::max(0.0f, 1.0f - k * k));
    const float capsuleStart = core.centre.Dot(u) - core.h * std::fabs(core.axis.Dot(u)) - core.r;
    return cylinderReach - capsuleStart;
}

// The capsule's sphere about the core point at offset s against the cylinder. The normal is the
// way the capsule leaves the cylinder in the negated frame, which is from the capsule toward
// the cylinder in the world's. A core point outside gives the contact on the cylinder's
// surface; one inside gives it at the core point, with the way out of least overlap among the
// nearer surface's, the axis, the way across it to the core point and the way across both
// axes. Either way the contact lies within both shapes.
int CoreContact(const Core& core, const CylinderFrame& f, float s, CollisionContact& contact) {
    const Float3 q = core.centre + core.axis * s;
    const CylinderDistance d = DistanceToCylinder(f, q);
    // Also refuses a placement that is not finite.
    if (!(d.distance <= core.r)) {
        return 0;
    }
    if (d.distance > 0.0f) {
        SetContact(contact, d.nearest, d.outward, core.r - d.distance);
        return 1;
    }
    const Float3 v = q - f.c;
    const Float3 candidates[] = {d.outward, f.a, (v - f.a * f.a.Dot(v)).NormalizedOrSelf(),
                                 f.a.Cross(core.axis).NormalizedOrSelf()};
    Float3 normal = d.outward;
    float depth = OverlapAlong(core, f, normal);
    // Each way and its reverse, so that the one taken is never the longer of the two.
    for (const Float3& candidate : candidates) {
        for (const Float3& u : {candidate, candidate * -1.0f}) {
            const float overlap = OverlapAlong(core, f, u);
            if (u.LengthSquared() > 0.0f && overlap < depth) {
                depth = overlap;
                normal = u;
            }
        }
    }
    SetContact(contact, q, normal, depth);
    return 1;
}

constexpr float ParallelLimit = 1e-5f;

// The stretch of the core, from `from` to `to` along its axis, over which its distance from the
// cylinder stays least: where a core beside the side and parallel to it runs past the side,
// or where a core beyond an end and across the axis runs over the end's outline. False for
// any other placement, or when the stretch is a point.
bool LeastDistanceStretch(const Core& core, const CylinderFrame& f, float& from, float& to) {
    const Float3 v = core.centre - f.c;
    const float beta = f.a.Dot(v);
    const float k = f.a.Dot(core.axis);
    if (1.0f - k * k < ParallelLimit) {
        if ((v - f.a * beta).LengthSquared() < f.r * f.r) {
            return false;
        }
        from = (-f.h - beta) / k;
        to = (f.h - beta) / k;
    } else if (k * k < ParallelLimit && std::fabs(beta) >= f.h) {
        const Float3 w = v - f.a * beta;
        const Float3 u = core.axis - f.a * k;
        const float qa = u.Dot(u);
        const float qb = u.Dot(w);
        const float discriminant = qb * qb - qa * (w.Dot(w) - f.r * f.r);
        if (discriminant <= 0.0f) {
            return false;
        }
        const float root = std::sqrt(discriminant);
        from = (-qb - root) / qa;
        to = (root - qb) / qa;
    } else {
        return false;
    }
    if (from > to) {
        std::swap(from, to);
    }
    from = std::max(from, -core.h);
    to = std::min(to, core.h);
    return from < to;
}

// The core's offset along its axis where the distance from the cylinder is least. That
// distance is convex along the core and its slope is the outward normal along the axis, so a
// bisection on the slope's sign finds it to the last bit.
float NearestCoreOffset(const Core& core, const CylinderFrame& f) {
    const auto slope = [&](float s) {
        return DistanceToCylinder(f, core.centre + core.axis * s).outward.Dot(core.axis);
    };
    float lo = -core.h;
    float hi = core.h;
    if (!(lo < hi) || slope(lo) >= 0.0f) {
        return lo;
    }
    if (slope(hi) <= 0.0f) {
        return hi;
    }
    for (int i = 0; i < 64; ++i) {
        const float middle = (lo + hi) * 0.5f;
        if (!(lo < middle && middle < hi)) {
            break;
        }
        const float value = slope(middle);
        if (value == 0.0f) {
            return middle;
        }
        (value < 0.0f ? lo : hi) = middle;
    }
    return (lo + hi) * 0.5f;
}

} // namespace

int CollideCapsuleCylinder(CollisionVolume& capsule, CollisionVolume& cylinder, int maximum,
                           std::span<CollisionContact> contacts) {
    auto* c = dynamic_cast<CollisionCapsule*>(&capsule);
    auto* cyl = dynamic_cast<CollisionCylinder*>(&cylinder);
    if (!c || !cyl || contacts.empty()) {
        return 0;
    }
    const Core core = NegatedCore(*c);
    const CylinderFrame f = NegatedCylinder(*cyl);
    const auto at = [&](float s, CollisionContact& contact) {
        return CoreContact(core, f, s, contact);
    };
    float from = 0.0f;
    float to = 0.0f;
    if (LeastDistanceStretch(core, f, from, to)) {
        if (maximum >= 2 && contacts.size() >= 2 && at(from, contacts[0]) && at(to, contacts[1])) {
            return 2;
        }
        if (at((from + to) * 0.5f, contacts[0])) {
            return 1;
        }
    }
    return at(NearestCoreOffset(core, f), contacts[0]);
}

namespace {

// Below this (or the rounding of points that far out) the core counts as meeting the solid: the
// way between the nearest points is mostly rounding.
constexpr float MeetDistance = 1e-4f;
// The cosine within which the way to the nearest point counts as across a face.
constexpr float FaceAlignment = 0.999f;

// The contacts of a capsule's core, or a sphere's centre, swept by its radius, with a convex
// solid, found from the core's nearest points rather than from the round shape's support
// feature: the feature of a slightly tilted capsule is the end of a cap, and a sphere's is the
// one point of its surface along the route's way, either of which may lie off the solid's face.
// Every contact lies within both shapes: on the solid's surface where the core is outside it,
// at a point of the core inside it otherwise.
int RoundSolidContacts(CollisionVolume& round, CollisionVolume& solid, const Float3& d,
                       float overlapAlongD, std::span<CollisionContact> contacts) {
    Float3 start = round.GetWorldPosition();
    Float3 end = start;
    float r = 0.0f;
    if (auto* sphere = dynamic_cast<CollisionSphere*>(&round)) {
        r = sphere->GetSphereRadius();
    } else {
        auto& capsule = static_cast<CollisionCapsule&>(round);
        const Float3 half = GetShapeAxis(capsule) * (capsule.GetLength() * 0.5f);
        start = start - half;
        end = end + half;
        r = capsule.GetCapsuleRadius();
    }
    Float3 onCore;
    Float3 onSolid;
    const bool apart = SegmentClosestPoints(start, end, solid, onCore, onSolid);
    const float distance = (onSolid - onCore).Length();
    // Also refuses a placement that is not finite.
    if (!(distance <= r)) {
        return 0;
    }
    const auto overlap = [&](const Float3& u) {
        return round.GetSupportDistance(u) + solid.GetSupportDistance(u * -1.0f);
    };
    // A solid meets the round shape only with a face that lets it (a mesh's enabled ones) turned
    // toward it. Where the core reaches the solid, or the way to its nearest point would be the
    // longer way out of the two (a deep overlap), the contact leads out the shorter of the
    // route's way and its reverse.
    const double reach = std::max(LargestCoordinate(onCore), LargestCoordinate(onSolid));
    const float meet = std::max(MeetDistance, static_cast<float>(RoundingAt(reach)));
    const bool near = apart && distance >= meet;
    const Float3 n = near ? (onSolid - onCore) / distance : d;
    if (!near || overlap(n) > overlap(n * -1.0f)) {
        const Float3 way = overlap(d * -1.0f) < overlapAlongD ? d * -1.0f : d;
        if (!solid.GetSupportFace(way * -1.0f)) {
            return 0;
        }
        return AppendContact(contacts, 0, onSolid, way, overlap(way));
    }
    const SupportFace* face = solid.GetSupportFace(n * -1.0f);
    if (!face) {
        return 0;
    }
    // Nearest to a face's inside: where the core's stretch over the face begins and ends, when
    // both lie within the radius of its plane, lifted onto the face. Beside the face's outline
    // the way out across it may be the longer one; the nearest points then lead out alone.
    if (contacts.size() >= 2 && face->normal.Dot(n) <= -FaceAlignment &&
        overlap(face->normal * -1.0f) <= overlap(n) + WayOutSlack) {
        SupportFace side;
        side.kind = SupportFace::Edge;
        side.count = 2;
        side.corners[0] = start - face->normal * r;
        side.corners[1] = end - face->normal * r;
        CollisionContact stretch[2];
        if (CollideFaceEdge(*face, side, n, stretch) == 2) {
            for (int i = 0; i < 2; ++i) {
                SetContact(contacts[static_cast<size_t>(i)],
                           stretch[i].position + face->normal * stretch[i].depth,
                           face->normal * -1.0f, stretch[i].depth);
            }
            return 2;
        }
    }
    return AppendContact(contacts, 0, onSolid, n, r - distance);
}

} // namespace

int CollideCapsuleSolid(CollisionVolume& capsule, CollisionVolume& solid, int maximum,
                        std::span<CollisionContact> contacts) {
    if (!dynamic_cast<CollisionCapsule*>(&capsule) || contacts.empty()) {
        return 0;
    }
    const size_t room = maximum >= 2 ? 2 : 1;
    return CollideConvexPair(capsule, solid, contacts.first(std::min(room, contacts.size())),
                             RoundSolidContacts);
}

int CollideSphereSolid(CollisionVolume& sphere, CollisionVolume& solid, int,
                       std::span<CollisionContact> contacts) {
    if (!dynamic_cast<CollisionSphere*>(&sphere) || contacts.empty()) {
        return 0;
    }
    return CollideConvexPair(sphere, solid, contacts.first(1), RoundSolidContacts);
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
    // The general route meets a capsule's side and a cylinder's as two edges, which give no
    // contact: the pair has a collider of its own.
    SetCollider(COLLISION_CAPSULE, COLLISION_CYLINDER, CollideCapsuleCylinder);
    // The general route's features put a tilted capsule's contact at the end of a cap, and a
    // sphere's at the point of its surface along the way out, even off the solid: these pairs
    // take the route for its direction and make their own contacts.
    SetCollider(COLLISION_CAPSULE, COLLISION_BOX, CollideCapsuleSolid);
    SetCollider(COLLISION_CAPSULE, COLLISION_MESH, CollideCapsuleSolid);
    SetCollider(COLLISION_SPHERE, COLLISION_MESH, CollideSphereSolid);
    return classInfo;
}

} // namespace quarn
