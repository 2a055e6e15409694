#include "collision/ContactRoutines.h"

#include <cmath>

namespace quarn {

int CollideSpheres(const Float3& p1, float r1, const Float3& p2, float r2,
                   CollisionContact& contact) {
    const float d = (p1 - p2).Length();
    if (d > r1 + r2) {
        return 0;
    }
    if (d <= 0.0f) {
        SetContact(contact, p1, Float3(1.0f, 0.0f, 0.0f), r1 + r2);
        return 1;
    }
    const Float3 normal = (p1 - p2) / d;
    SetContact(contact, p1 + normal * ((r2 - r1 - d) * 0.5f), normal, r1 + r2 - d);
    return 1;
}

void SetContact(CollisionContact& contact, const Float3& position, const Float3& normal,
                float depth) {
    // Copies by value, so a position or normal that is the record's own field stays intact.
    const Float3 p = position;
    const Float3 n = normal;
    contact.position = p;
    contact.normal = n;
    contact.depth = depth;
}

int AppendContact(std::span<CollisionContact> contacts, int count, const Float3& position,
                  const Float3& normal, float depth) {
    if (count < 0 || static_cast<size_t>(count) >= contacts.size()) {
        return count;
    }
    SetContact(contacts[static_cast<size_t>(count)], position, normal, depth);
    return count + 1;
}

int AppendContactBelowPlane(std::span<CollisionContact> contacts, int count, const Float3& p,
                            const Float3& n, const Float3& q) {
    if (count < 0 || static_cast<size_t>(count) >= contacts.size()) {
        return count;
    }
    return count + AddContactBelowPlane(contacts[static_cast<size_t>(count)], p, n, q);
}

int AddContactBelowPlane(CollisionContact& contact, const Float3& p, const Float3& n,
                         const Float3& q) {
    const float depth = n.Dot(q - p);
    if (depth < 0.0f) {
        return 0;
    }
    SetContact(contact, p, n, depth);
    return 1;
}

namespace {

// The projection of b on the segment from a along u, when it falls inside the segment and the
// other segment (direction v, `leaving` +1 from its start, -1 from its end) leaves the
// projection line on b's side.
bool ProjectOnEdge(const Float3& a, const Float3& u, const Float3& b, const Float3& v,
                   float leaving, Float3& projection) {
    const float length = u.LengthSquared();
    if (length <= 0.0f) {
        return false;
    }
    const float t = u.Dot(b - a) / length;
    if (!(t >= 0.0f && t <= 1.0f)) {
        return false;
    }
    projection = a + u * t;
    // For parallel segments the product is 0 but for rounding, which must not decide whether
    // an overlapping pair is found here or falls through to a degenerate edge-edge solve.
    const Float3 away = b - projection;
    const float tolerance = 1e-4f * std::sqrt(v.LengthSquared() * away.LengthSquared());
    return leaving * v.Dot(away) >= -tolerance;
}

} // namespace

void ClosestSegmentPoints(const Float3& a1, const Float3& a2, const Float3& b1, const Float3& b2,
                          Float3& c1, Float3& c2) {
    const Float3 u = a2 - a1;
    const Float3 v = b2 - b1;
    struct VertexPair {
        const Float3& a;
        const Float3& b;
        float uSign; // u . (b - a) must be <= 0 (-1) or >= 0 (+1)
        float vSign; // likewise v . (b - a)
    };
    const VertexPair pairs[] = {
        {a1, b1, -1.0f, 1.0f}, {a1, b2, -1.0f, -1.0f}, {a2, b1, 1.0f, 1.0f}, {a2, b2, 1.0f, -1.0f}};
    for (const VertexPair& pair : pairs) {
        const Float3 w = pair.b - pair.a;
        if (pair.uSign * u.Dot(w) >= 0.0f && pair.vSign * v.Dot(w) >= 0.0f) {
            c1 = pair.a;
            c2 = pair.b;
            return;
        }
    }
    Float3 projection;
    if (ProjectOnEdge(a1, u, b1, v, 1.0f, projection)) {
        c1 = projection;
        c2 = b1;
        return;
    }
    if (ProjectOnEdge(a1, u, b2, v, -1.0f, projection)) {
        c1 = projection;
        c2 = b2;
        return;
    }
    if (ProjectOnEdge(b1, v, a1, u, 1.0f, projection)) {
        c1 = a1;
        c2 = projection;
        return;
    }
    if (ProjectOnEdge(b1, v, a2, u, -1.0f, projection)) {
        c1 = a2;
        c2 = projection;
        return;
    }
    const float la = u.Dot(u);
    const float lb = v.Dot(v);
    const float k = u.Dot(v);
    const float det = la * lb - k * k;
    // Nearly parallel segments leave a determinant of rounding noise.
    if (!(det > 1e-6f * la * lb)) {
        c1 = a1;
        c2 = b1;
        return;
    }
    const Float3 w = b1 - a1;
    const float alpha = (lb * u.Dot(w) - k * v.Dot(w)) / det;
    const float beta = (k * u.Dot(w) - la * v.Dot(w)) / det;
    c1 = a1 + u * alpha;
    c2 = b1 + v * beta;
}

int LineCylinderCrossing(const Float3& c, const Float3& a, float r, const Float3& p,
                         const Float3& u, float t[2]) {
    const Float3 w = p - c;
    const float aw = a.Dot(w);
    const float au = a.Dot(u);
    if (!(std::fabs(au) < 0.999f)) {
        return 0;
    }
    const Float3 up = u - a * au;
    const Float3 wp = w - a * aw;
    const float qa = up.LengthSquared();
    const float qb = up.Dot(wp);
    const float d = qb * qb - qa * (wp.LengthSquared() - r * r);
    if (d < 0.0f || !(qa > 0.0f)) {
        return 0;
    }
    if (d == 0.0f) {
        t[0] = -qb / qa;
        return 1;
    }
    const float root = std::sqrt(d);
    t[0] = (-qb - root) / qa;
    t[1] = (root - qb) / qa;
    return 2;
}

void ClosestLineParameters(const Float3& a0, const Float3& a, const Float3& b0, const Float3& b,
                           float& s, float& t) {
    const float k = a.Dot(b);
    const float den = 1.0f - k * k;
    if (!(den > 1e-4f)) {
        s = 0.0f;
        t = 0.0f;
        return;
    }
    const Float3 w = b0 - a0;
    s = (a.Dot(w) - k * b.Dot(w)) / den;
    t = (k * a.Dot(w) - b.Dot(w)) / den;
}

} // namespace quarn
