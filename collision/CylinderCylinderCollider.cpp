#include "collision/CollisionCylinder.h"
#include "collision/ContactRoutines.h"
#include "collision/FaceRoutines.h"
#include "collision/FeatureColliders.h"
#include "core/math/Intersection.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quarn {

namespace {

// A disc-side depth that was not worked out.
constexpr float NoDepth = 10000.0f;
// Below this radial distance two parallel cylinders count as coaxial.
constexpr float Coaxial = 1e-5f;
// Below this share of the smaller radius apart, the rims of two parallel discs are taken to
// cross nowhere: the smaller disc's rim then reaches past the other's by no more than that.
constexpr float NearlyCoaxialShare = 0.01f;

SupportFace DiscRecord(const Float3& normal, const Float3& centre, float radius) {
    SupportFace disc;
    disc.kind = SupportFace::Disc;
    disc.count = 1;
    disc.normal = normal;
    disc.corners[0] = centre;
    disc.radius = radius;
    return disc;
}

void NegateNormals(std::span<CollisionContact> contacts, int count) {
    for (int i = 0; i < count; ++i) {
        contacts[static_cast<size_t>(i)].normal = contacts[static_cast<size_t>(i)].normal * -1.0f;
    }
}

int Parallel(const CylinderFrame& one, const CylinderFrame& two,
             std::span<CollisionContact> contacts) {
    const auto& [c1, axis1, r1, h1] = one;
    const auto& [c2, axis2, r2, h2] = two;
    Float3 a1 = axis1;
    Float3 a2 = axis2;
    const Float3 d = c2 - c1;
    const float da1 = a1.Dot(d);
    const float da2 = a2.Dot(d);
    const float ovA = (h1 + h2) - std::min(std::fabs(da1), std::fabs(da2));
    if (ovA < 0.0f) {
        return 0;
    }
    Float3 q = d - a1 * da1;
    const float dist = q.Length();
    if (dist < Coaxial) {
        q = std::fabs(a1.y) > 0.9f ? a1.Cross(Float3(0, 0, 1)) : a1.Cross(Float3(0, 1, 0));
        q = q.NormalizedOrSelf();
    } else {
        q = q / dist;
    }
    const float ovR = r1 + r2 - dist;
    if (ovR < 0.0f) {
        return 0;
    }
    if (ovA > ovR) {
        const Float3 n = q * -1.0f;
        int count = 0;
        if (std::fabs(da1) < h1 - h2) {
            count = AppendContact(contacts, count, c2 - a2 * h2 - q * r2, n, ovR);
            return AppendContact(contacts, count, c2 + a2 * h2 - q * r2, n, ovR);
        }
        if (std::fabs(da1) < h2 - h1) {
            count = AppendContact(contacts, count, c1 - a1 * h1 + q * r1, n, ovR);
            return AppendContact(contacts, count, c1 + a1 * h1 + q * r1, n, ovR);
        }
        const float s1 = da1 > 0.0f ? 1.0f : -1.0f;
        const float s2 = da2 >= 0.0f ? -1.0f : 1.0f;
        count = AppendContact(contacts, count, c1 + a1 * (s1 * h1) + q * r1, n, ovR);
        return AppendContact(contacts, count, c2 + a2 * (s2 * h2) - q * (r2 - ovR), n, ovR);
    }
    // End to end: turn the axes toward each other.
    if (da1 < 0.0f) {
        a1 = a1 * -1.0f;
    }
    if (da2 > 0.0f) {
        a2 = a2 * -1.0f;
    }
    const Float3 C1 = c1 + a1 * h1;
    const Float3 C2 = c2 + a2 * h2;
    int count = 0;
    // Coaxial discs have no rim crossing to speak of (equal radii would divide 0 by 0): they
    // take the disc-within-disc route. So do discs nearly so: the crossing then lies along the
    // offset's direction, which rounding turns about the axis from step to step as one
    // cylinder stands on another, and the contacts, turning with it, were never recalled.
    if (std::fabs(r1 - r2) <= dist && dist >= NearlyCoaxialShare * std::min(r1, r2)) {
        const Float3 D = C2 - C1;
        const Float3 e1 = (D - a1 * D.Dot(a1)).NormalizedOrSelf();
        const Float3 e2 = e1.Cross(a1);
        const float x = (dist * dist + r1 * r1 - r2 * r2) / (2.0f * dist);
        const float y = std::sqrt(std::max(r1 * r1 - x * x, 0.0f));
        const Float3 M = C1 + e1 * x;
        for (const Float3& p : {M + e2 * y, M - e2 * y, C1 + e1 * r1, C1 + e1 * (dist - r2)}) {
            count = AppendContactBelowPlane(contacts, count, p, a2, C2);
        }
        return count;
    }
    const Float3 n = r2 <= r1 ? a2 : a1;
    const Float3 b1 = (std::fabs(n.x) < 0.707f ? Float3(1, 0, 0) : Float3(0, 1, 0))
                          .Cross(n)
                          .NormalizedOrSelf();
    const Float3 b2 = b1.Cross(n);
    if (r2 > r1) {
        for (const Float3& p : {C1 + b1 * r1, C1 + b2 * r1, C1 - b2 * r1, C1 - b1 * r1}) {
            count = AppendContactBelowPlane(contacts, count, p, a2, C2);
        }
        return count;
    }
    for (const Float3& p : {C2 + b1 * r2, C2 + b2 * r2, C2 - b2 * r2, C2 - b1 * r2}) {
        count = AppendContactBelowPlane(contacts, count, p, a1, C1);
    }
    NegateNormals(contacts, count);
    return count;
}

// One cylinder's end disc nearest the other's axis against the other's side, seen along the
// other's axis, where the disc is an ellipse.
struct DiscSide {
    float depth = NoDepth;
    float distance = 0.0f;
    Float3 normal;
    Float3 discCentre;
    bool separated = false;
};

DiscSide DiscAgainstSide(const CylinderFrame& disc, const Float3& end, const CylinderFrame& side,
                         float k) {
    DiscSide result;
    result.discCentre = disc.c + end * disc.h;
    const Float3 w1 = end.Cross(side.a).NormalizedOrSelf();
    const Float3 w2 = w1.Cross(side.a).NormalizedOrSelf();
    const Float3 e = side.c - result.discCentre;
    const float x = e.Dot(w2);
    const float y = e.Dot(w1);
    if (x >= 0.0f) {
        return result;
    }
    Float2 closest;
    result.distance = DistancePointEllipse2D(disc.r * k, disc.r, x, y, closest);
    const bool inside = closest.x - x < 0.0f;
    result.depth = inside ? side.r + result.distance : side.r - result.distance;
    result.separated = result.depth < 0.0f;
    result.normal = (w2 * (closest.x - x) + w1 * (closest.y - y)).NormalizedOrSelf();
    if (inside) {
        result.normal = result.normal * -1.0f;
    }
    return result;
}

// The least overlap of the three axes, should no route find a contact.
struct LeastAxis {
    bool overlapping = false;
    Float3 normal;
    float depth = 0.0f;
};

int General(const CylinderFrame& one, const CylinderFrame& two, float k,
            std::span<CollisionContact> contacts, LeastAxis& least) {
    const auto& [c1, a1, r1, h1] = one;
    const auto& [c2, a2, r2, h2] = two;
    const Float3 d = c2 - c1;
    const float da1 = a1.Dot(d);
    const float da2 = a2.Dot(d);
    const bool perp = std::fabs(k) < 0.01f;
    const float across = std::sqrt(std::max(1.0f - k * k, 0.0f));
    const float ov1 = h1 + std::fabs(k) * h2 + across * r2 - std::fabs(da1);
    if (ov1 < 0.0f) {
        return 0;
    }
    const float ov2 = h2 + std::fabs(k) * h1 + across * r1 - std::fabs(da2);
    if (ov2 < 0.0f) {
        return 0;
    }
    Float3 u = a1.Cross(a2).NormalizedOrSelf();
    const float du = u.Dot(d);
    const float ovU = r1 + r2 - std::fabs(du);
    if (ovU < 0.0f) {
        return 0;
    }
    const Float3 p1 = d - a2 * da2;
    const DiscSide A = DiscAgainstSide(one, a1.Dot(p1) > 0.0f ? a1 : a1 * -1.0f, two, k);
    if (A.separated) {
        return 0;
    }
    const Float3 p2 = d - a1 * da1;
    const DiscSide B = DiscAgainstSide(two, a2.Dot(p2) >= 0.0f ? a2 * -1.0f : a2, one, k);
    if (B.separated) {
        return 0;
    }
    least.overlapping = true;
    least.depth = ovU;
    least.normal = u;
    if (ov1 < least.depth) {
        least = {true, a1, ov1};
    }
    if (ov2 < least.depth) {
        least = {true, a2, ov2};
    }
    // From the first toward the second, as every normal here.
    if (least.normal.Dot(d) > 0.0f) {
        least.normal = least.normal * -1.0f;
    }
    if (ovU < ov1 && ovU < ov2 && ovU < A.depth && ovU < B.depth) {
        if (du > 0.0f) {
            u = u * -1.0f;
        }
        // On the first side where the axes pass closest: the first centre alone can lie far
        // from the second cylinder when the axes cross away from it.
        float s = 0.0f;
        float t = 0.0f;
        ClosestLineParameters(c1, a1, c2, a2, s, t);
        return AppendContact(contacts, 0, c1 + a1 * std::clamp(s, -h1, h1) - u * r1, u, ovU);
    }
    const bool tryDiscSide = (A.depth < ov1 && A.depth < ov2) ||
                             (B.depth < ov1 && B.depth < ov2) || perp;
    if (tryDiscSide && (A.depth != NoDepth || B.depth != NoDepth)) {
        if (A.depth < B.depth) {
            Float3 X = c2 + A.normal * A.distance;
            if (k != 0.0f) {
                X = X - a2 * ((X - A.discCentre).Dot(a1) / k);
            }
            const float z = (c2 - X).Dot(a2);
            if (z >= -h2 && z <= h2) {
                return AppendContact(contacts, 0, X, A.normal, A.depth);
            }
        } else {
            Float3 X = c1 + B.normal * B.distance;
            if (k != 0.0f) {
                X = X - a1 * ((X - B.discCentre).Dot(a2) / k);
            }
            const float z = (c1 - X).Dot(a1);
            if (z >= -h1 && z <= h1) {
                return AppendContact(contacts, 0, X, B.normal * -1.0f, B.depth);
            }
        }
    }
    if (ov2 <= ov1) {
        const Float3 m2 = da2 >= 0.0f ? a2 * -1.0f : a2;
        const Float3 m1 = a1.Dot(m2) >= 0.0f ? a1 * -1.0f : a1;
        return CollideDiscDisc(DiscRecord(m1, c1 + m1 * h1, r1), DiscRecord(m2, c2 + m2 * h2, r2),
                               contacts);
    }
    const Float3 m1 = da1 > 0.0f ? a1 : a1 * -1.0f;
    const Float3 m2 = a2.Dot(m1) >= 0.0f ? a2 * -1.0f : a2;
    const int count = CollideDiscDisc(DiscRecord(m2, c2 + m2 * h2, r2),
                                      DiscRecord(m1, c1 + m1 * h1, r1), contacts);
    NegateNormals(contacts, count);
    return count;
}

// Samples of each rim against the other cylinder, in the world frame: the point deepest inside
// the other; false when none is inside.
bool DeepestRimPoint(CollisionCylinder& one, CollisionCylinder& two, Float3& point) {
    constexpr int Samples = 32;
    float best = 0.0f;
    bool found = false;
    for (auto [self, other] : {std::pair{&one, &two}, std::pair{&two, &one}}) {
        const Float3 a = GetShapeAxis(*self);
        const Float3 u = a.AnyPerpendicular();
        const Float3 v = a.Cross(u).NormalizedOrSelf();
        const Float3 c = self->GetWorldPosition();
        const float h = self->GetLength() * 0.5f;
        const float r = self->GetCylinderRadius();
        for (int i = 0; i < Samples; ++i) {
            const float angle = 6.2831853f * static_cast<float>(i) / Samples;
            const Float3 rim = (u * std::cos(angle) + v * std::sin(angle)) * r;
            for (const float end : {-h, h}) {
                const Float3 p = c + a * end + rim;
                const float depth = other->GetPointDepth(p, nullptr);
                if (depth > best) {
                    best = depth;
                    point = p;
                    found = true;
                }
            }
        }
    }
    return found;
}

} // namespace

int CollideDiscDisc(const SupportFace& incident, const SupportFace& reference,
                    std::span<CollisionContact> contacts) {
    const Float3& nA = incident.normal;
    const Float3& cA = incident.corners[0];
    const float rA = incident.radius;
    const Float3& nB = reference.normal;
    const Float3& cB = reference.corners[0];
    const float rB = reference.radius;
    const Float3 t = nA.Cross(nB).NormalizedOrSelf();
    const Float3 s = nA.Cross(t).NormalizedOrSelf();
    const float hA = (cA - cB).Dot(nB);
    const float drop = -s.Dot(nB) * rA;
    const float depth = drop - hA;
    // Parallel discs have no deepest rim point (drop 0): the parallel case handles them.
    if (depth < 0.0f || drop <= 0.0f) {
        return 0;
    }
    const Float3 R = cA + s * rA;
    if ((R + nB * depth - cB).Length() < rB) {
        return AppendContact(contacts, 0, R, nB, depth);
    }
    const Float3 offset = cA - cB;
    const Float3 g = (offset - nA * offset.Dot(nA)).NormalizedOrSelf();
    const Float3 R2 = cA - g * rA;
    if ((R2 - cB).Length() < rB && (cB - R2).Dot(nB) > 0.0f) {
        const float t2 = RayCylinderParameter(reference, R, R2 - R);
        const Float3 X = R + (R2 - R) * t2;
        const float z = (cB - X).Dot(nB);
        if (t2 >= 0.0f && z > 0.0f) {
            return AppendContact(contacts, 0, X, nB, z);
        }
    }
    const float lambda = rA * hA / drop;
    const Float3 M = cA + s * lambda;
    const float half = std::sqrt(std::max(rA * rA - lambda * lambda, 0.0f));
    const Float3 E1 = M + t * half;
    const Float3 E2 = M - t * half;
    const bool in1 = (E1 - cB).Length() < rB;
    const bool in2 = (E2 - cB).Length() < rB;
    if (!in1 && !in2) {
        return 0;
    }
    // With both chord ends inside, the incident disc pierces the reference cylinder between
    // them: the contact is where the way from the chord toward the deepest rim point leaves it.
    const Float3 from = in1 && in2 ? M : R;
    const Float3 to = in1 && in2 ? R : (in1 ? E1 : E2);
    const float tX = RayCylinderParameter(reference, from, to - from);
    if (tX < 0.0f) {
        return 0;
    }
    const Float3 X = from + (to - from) * tX;
    return AppendContact(contacts, 0, X, nB, (cB - X).Dot(nB));
}

int CollideCylinderCylinder(CollisionVolume& first, CollisionVolume& second, int,
                            std::span<CollisionContact> contacts) {
    auto* one = dynamic_cast<CollisionCylinder*>(&first);
    auto* two = dynamic_cast<CollisionCylinder*>(&second);
    if (!one || !two) {
        return 0;
    }
    const CylinderFrame f1 = NegatedCylinder(*one);
    const CylinderFrame f2 = NegatedCylinder(*two);
    const float k = f1.a.Dot(f2.a);
    if (std::fabs(k) > 0.999f) {
        return Parallel(f1, f2, contacts);
    }
    LeastAxis least;
    const int count = General(f1, f2, k, contacts, least);
    // Every axis overlapped, yet no route found a contact: a disc pushed past the other's
    // axis, or rims crossing near both ends. Rather than let the bodies sink into each other,
    // the contact takes the axis of least overlap at the rim point deepest inside the other.
    if (count == 0 && least.overlapping) {
        Float3 point;
        return DeepestRimPoint(*one, *two, point)
                   ? AppendContact(contacts, 0, point * -1.0f, least.normal, least.depth)
                   : 0;
    }
    return count;
}

} // namespace quarn
