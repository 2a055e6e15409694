#include "collision/CollisionBox.h"
#include "collision/CollisionCylinder.h"
#include "collision/ContactRoutines.h"
#include "collision/FaceRoutines.h"
#include "collision/FeatureColliders.h"

#include <cmath>

namespace quarn {

namespace {

// The overlap of an axis that the box's face word leaves out.
constexpr float Excluded = 1e24f;

float At(const Float3& v, int i) {
    return i == 0 ? v.x : (i == 1 ? v.y : v.z);
}

// The corners of the box face of an axis (side 1 the + face, 0 the - face), in box coordinates.
void BoxFaceCorners(Float3 (&corners)[4], const Float3& e, int axis, int side) {
    const float v = side ? At(e, axis) : -At(e, axis);
    switch (axis) {
    case 0:
        corners[0] = Float3(v, e.y, e.z);
        corners[1] = Float3(v, -e.y, e.z);
        corners[2] = Float3(v, -e.y, -e.z);
        corners[3] = Float3(v, e.y, -e.z);
        break;
    case 1:
        corners[0] = Float3(e.x, v, e.z);
        corners[1] = Float3(-e.x, v, e.z);
        corners[2] = Float3(-e.x, v, -e.z);
        corners[3] = Float3(e.x, v, -e.z);
        break;
    default:
        corners[0] = Float3(e.x, e.y, v);
        corners[1] = Float3(-e.x, e.y, v);
        corners[2] = Float3(-e.x, -e.y, v);
        corners[3] = Float3(e.x, -e.y, v);
        break;
    }
}

// The box's half extent along a direction given in box coordinates.
float BoxExtentAlong(const Float3& e, const Float3& u) {
    return std::fabs(u.x) * e.x + std::fabs(u.y) * e.y + std::fabs(u.z) * e.z;
}

// The unit vector, or the fallback where there is no direction.
Float3 UnitOr(const Float3& v, const Float3& fallback) {
    const float length = v.Length();
    return length > 0.0f ? v / length : fallback;
}

// A box edge against the cylinder's side: its ends, cut to the end planes, that lie within the
// radius of the axis.
int ClipEdgeToCylinder(Float3 q1, Float3 q2, const CylinderFrame& cyl,
                       std::span<CollisionContact> contacts) {
    const auto& [c, a, r, h] = cyl;
    const float alpha1 = a.Dot(c - q1);
    const float alpha2 = a.Dot(c - q2);
    if ((alpha1 < -h && alpha2 < -h) || (alpha1 > h && alpha2 > h)) {
        return 0;
    }
    const Float3 d = (q2 - q1).NormalizedOrSelf();
    const float cosv = std::fabs(a.Dot(d));
    if (cosv > 1e-4f) {
        if (std::fabs(alpha1) - h > 0.0f) {
            q1 = q1 + d * ((std::fabs(alpha1) - h) / cosv);
        }
        if (std::fabs(alpha2) - h > 0.0f) {
            q2 = q2 - d * ((std::fabs(alpha2) - h) / cosv);
        }
    }
    const Float3 x1 = (c - q1) - a * a.Dot(c - q1);
    const Float3 x2 = (c - q2) - a * a.Dot(c - q2);
    const float rho1 = x1.Length();
    const float rho2 = x2.Length();
    int count = 0;
    // An end on the axis has no direction toward it: any across the axis will do.
    if (rho1 <= r) {
        count = AppendContact(contacts, count, q1, UnitOr(x1, a.AnyPerpendicular()), r - rho1);
    }
    if (rho2 <= r) {
        count = AppendContact(contacts, count, q2, UnitOr(x2, a.AnyPerpendicular()), r - rho2);
    }
    return count;
}

struct BoxFrame {
    Float3 b;
    Float3 R[3];
    Float3 e; // half extents
    int32_t face = 0;
};

// A box face against the cylinder's end disc that faces it. faceAxis 6 takes the box face most
// nearly across the cylinder axis, else the face of that axis toward the cylinder.
int FaceDiscRoute(const CylinderFrame& cyl, const BoxFrame& box, const Float3& ab,
                  const Float3& dl, int faceAxis, int kmax,
                  std::span<CollisionContact> contacts) {
    const auto& [c, a, r, h] = cyl;
    Float3 fn;
    Float3 dn;
    Float3 direction;
    int axis = 0;
    int side = 1;
    if (faceAxis == 6) {
        dn = ab.Dot(dl) >= 0.0f ? a * -1.0f : a;
        axis = kmax;
        fn = box.R[kmax];
        if (fn.Dot(dn) >= 0.0f) {
            fn = fn * -1.0f;
            side = 0;
        }
        direction = dn * -1.0f;
    } else {
        axis = faceAxis;
        fn = box.R[axis];
        if (At(dl, axis) < 0.0f) {
            fn = fn * -1.0f;
            side = 0;
        }
        dn = a.Dot(fn) >= 0.0f ? a * -1.0f : a;
        direction = fn.NormalizedOrSelf();
    }
    SupportFace face;
    face.kind = SupportFace::BoxFace;
    face.normal = fn;
    face.count = 4;
    Float3 corners[4];
    BoxFaceCorners(corners, box.e, axis, side);
    for (int i = 0; i < 4; ++i) {
        face.corners[i] =
            box.b + box.R[0] * corners[i].x + box.R[1] * corners[i].y + box.R[2] * corners[i].z;
    }
    face.UpdateWinding();
    SupportFace disc;
    disc.kind = SupportFace::Disc;
    disc.count = 1;
    disc.normal = dn;
    disc.corners[0] = c + dn * h;
    disc.radius = r;
    disc.extent = 2.0f * h;
    return CollideFaceDisc(face, disc, direction, contacts);
}

} // namespace

int CollideCylinderBox(CollisionVolume& cylinder, CollisionVolume& box, int,
                       std::span<CollisionContact> contacts) {
    auto* cylNode = dynamic_cast<CollisionCylinder*>(&cylinder);
    auto* boxNode = dynamic_cast<CollisionBox*>(&box);
    if (!cylNode || !boxNode) {
        return 0;
    }
    const CylinderFrame cyl = NegatedCylinder(*cylNode);
    const auto& [c, a, r, h] = cyl;
    BoxFrame bf;
    bf.b = boxNode->GetWorldPosition() * -1.0f;
    for (int i = 0; i < 3; ++i) {
        bf.R[i] = boxNode->GetWorldAxis(i);
    }
    bf.e = boxNode->GetSize() * 0.5f;
    bf.face = boxNode->GetFace();
    const Float3& b = bf.b;
    const Float3* R = bf.R;
    float e[3] = {bf.e.x, bf.e.y, bf.e.z};

    Float3 abv(R[0].Dot(a), R[1].Dot(a), R[2].Dot(a));
    if (abv.LengthSquared() > 1.0f) {
        abv = abv.NormalizedOrSelf();
    }
    const Float3 dlv(R[0].Dot(c - b), R[1].Dot(c - b), R[2].Dot(c - b));
    const float ab[3] = {abv.x, abv.y, abv.z};
    const float dl[3] = {dlv.x, dlv.y, dlv.z};

    float p[7];
    float ext[3];
    for (int i = 0; i < 3; ++i) {
        ext[i] = std::sqrt(std::fmax(1.0f - ab[i] * ab[i], 0.0f)) * r + std::fabs(ab[i] * h);
        p[i] = (e[i] + ext[i]) - std::fabs(dl[i]);
        if (p[i] < 0.0f) {
            return 0;
        }
    }
    int mask = bf.face & 7;
    for (int i = 0; i < 3; ++i) {
        if (dl[i] > 0.0f) {
            mask = (mask & ~(1 << i)) | (((bf.face >> (i + 3)) & 1) << i);
        }
    }
    if (mask != 0) {
        for (int i = 0; i < 3; ++i) {
            if (!(mask & (1 << i))) {
                p[i] = Excluded;
            }
        }
    }
    int k = 0;
    if (p[1] < p[k]) {
        k = 1;
    }
    if (p[2] < p[k]) {
        k = 2;
    }

    // The cylinder within the box's slabs across face k: that face acts as a plane.
    bool within = true;
    for (int i = 0; i < 3; ++i) {
        within = within && (i == k || e[i] > std::fabs(dl[i]) + ext[i]);
    }
    if (within) {
        const Float3 n = dl[k] < 0.0f ? R[k] * -1.0f : R[k];
        return CollideCylinderPlaneCore(c, a, r, h, n, n.Dot(b + n * e[k]), contacts);
    }

    p[6] = (e[0] * std::fabs(ab[0]) + e[1] * std::fabs(ab[1]) + e[2] * std::fabs(ab[2]) + h) -
           std::fabs(abv.Dot(dlv));
    if (p[6] < 0.0f) {
        return 0;
    }
    int kmin = 0;
    int kmax = 1;
    if (std::fabs(ab[0]) > std::fabs(ab[1])) {
        kmin = 1;
        kmax = 0;
    }
    if (std::fabs(ab[kmin]) > std::fabs(ab[2])) {
        kmin = 2;
    }
    if (std::fabs(ab[kmax]) < std::fabs(ab[2])) {
        kmax = 2;
    }
    const int kmid = 3 - kmin - kmax;
    const auto faceDisc = [&](int jf) {
        return FaceDiscRoute(cyl, bf, abv, dlv, jf, kmax, contacts);
    };
    const auto signOf = [&](int i) { return dl[i] > 0.0f ? 1.0f : -1.0f; };

    // The cylinder's side along a box face or edge.
    if (std::fabs(ab[kmax]) > 0.9999f) {
        const float u = r - p[kmin];
        const float w = r - p[kmid];
        const float sd = u > 0.0f && w > 0.0f ? std::sqrt(u * u + w * w) : std::fmax(u, w);
        const float dside = r - sd;
        if (p[kmax] > dside || p[6] > dside) {
            if (u > 0.0f && w > 0.0f) {
                Float3 q1 = b + R[kmax] * e[kmax];
                q1 = q1 + R[kmin] * (signOf(kmin) * e[kmin]) + R[kmid] * (signOf(kmid) * e[kmid]);
                const Float3 q2 = q1 - R[kmax] * (2.0f * e[kmax]);
                return ClipEdgeToCylinder(q1, q2, cyl, contacts);
            }
            const int j = u >= w ? kmin : kmid;
            const Float3 n = dl[j] < 0.0f ? R[j] * -1.0f : R[j];
            const Float3 v = n.Cross(a).Cross(a).NormalizedOrSelf();
            Float3 P1 = c - a * h + v * r;
            Float3 P2 = c + a * h + v * r;
            const Float3 fc = b + n * e[j];
            const float t1 = R[kmax].Dot(P1 - fc);
            const float t2 = R[kmax].Dot(P2 - fc);
            const float ek = e[kmax];
            if ((t1 < -ek && t2 < -ek) || (t1 > ek && t2 > ek)) {
                return 0;
            }
            if (std::fabs(t1) - ek > 0.0f) {
                P1 = P1 + a * (std::fabs(t1) - ek);
            }
            if (std::fabs(t2) - ek > 0.0f) {
                P2 = P2 - a * (std::fabs(t2) - ek);
            }
            const int count = AppendContactBelowPlane(contacts, 0, P1, n, fc);
            return AppendContactBelowPlane(contacts, count, P2, n, fc);
        }
    }

    // The box axes crossed with the cylinder axis.
    const Float3 edgeAxes[3] = {Float3(0, -ab[2], ab[1]), Float3(ab[2], 0, -ab[0]),
                                Float3(-ab[1], ab[0], 0)};
    for (int i = 0; i < 3; ++i) {
        const Float3 ui = edgeAxes[i].NormalizedOrSelf();
        p[3 + i] = (BoxExtentAlong(bf.e, ui) + r) - std::fabs(ui.Dot(dlv));
        if (p[3 + i] < 0.0f) {
            return 0;
        }
    }
    if (mask != 0) {
        for (int i = 0; i < 3; ++i) {
            const int others = (1 << ((i + 1) % 3)) | (1 << ((i + 2) % 3));
            if ((mask & others) != others) {
                p[3 + i] = Excluded;
            }
        }
    }
    int ie = 3;
    if (p[4] < p[ie]) {
        ie = 4;
    }
    if (p[5] < p[ie]) {
        ie = 5;
    }
    const int jf = p[6] <= p[k] ? 6 : k;
    if (p[jf] <= p[ie]) {
        return faceDisc(jf);
    }

    // A box edge across the cylinder's side or rim.
    const int m = ie - 3;
    const int m1 = (m + 1) % 3;
    const int m2 = (m + 2) % 3;
    const Float3 across = a.Cross(R[m]);
    // Along the axis the edge direction gives no plane to work in.
    if (across.LengthSquared() < 1e-12f) {
        return faceDisc(jf);
    }
    Float3 n = across.NormalizedOrSelf();
    if (n.Dot(c - b) < 0.0f) {
        n = n * -1.0f;
    }
    const float sigma = ab[m1] * ab[m2] < 0.0f ? 1.0f : -1.0f;
    Float3 o = R[m1] * e[m1] + R[m2] * (sigma * e[m2]);
    if (o.Dot(c - b) < 0.0f) {
        o = o * -1.0f;
    }
    const Float3 E0 = b + o;
    const Float3 w = a.Cross(n);
    float t = (c - E0).Dot(w) / R[m].Dot(w);
    enum class State { Plain, Clamped, LowerEnd, UpperEnd } state = State::Plain;
    if (t < -e[m]) {
        t = -e[m];
        state = State::Clamped;
    } else if (t > e[m]) {
        t = e[m];
        state = State::Clamped;
    }
    const float A = a.Dot(c - E0);
    const float g = R[m].Dot(a);
    if (std::fabs(g) <= 1e-5f) {
        // An edge square across the axis keeps one height along it: within the ends it meets
        // the side as any other edge does (giving up here let a box sink into a lying
        // cylinder); beyond them it can only meet an end disc.
        if (std::fabs(A) > h) {
            return faceDisc(jf);
        }
    } else {
        const float z = g * t - A;
        if (z < -h) {
            t = (A - h) / g;
            state = State::LowerEnd;
        } else if (z > h) {
            t = (A + h) / g;
            state = State::UpperEnd;
        }
    }
    if (t < -e[m] || t > e[m]) {
        return faceDisc(jf);
    }
    const Float3 Q = E0 + R[m] * t;
    if (state == State::Plain) {
        return AppendContact(contacts, 0, Q, n, p[ie]);
    }
    Float3 nn;
    float depth = 0.0f;
    if (state == State::Clamped) {
        const Float3 x = (c - Q) - a * a.Dot(c - Q);
        nn = x.NormalizedOrSelf();
        depth = r - nn.Dot(c - Q);
    } else {
        const Float3 D = state == State::LowerEnd ? c - a * h : c + a * h;
        const Float3 x = (D - Q) - R[m] * R[m].Dot(D - Q);
        nn = x.NormalizedOrSelf();
        depth = r - nn.Dot(D - Q);
    }
    if (depth < 0.0f) {
        return 0;
    }
    return AppendContact(contacts, 0, Q, nn, depth);
}

} // namespace quarn
