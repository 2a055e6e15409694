#include "collision/CollisionBox.h"

#include "collision/CollisionPlane.h"
#include "collision/CollisionSphere.h"
#include "collision/ContactRoutines.h"
#include "core/object/ClassInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyVector.h"
#include "resources/DynamicMesh.h"

#include <algorithm>
#include <cmath>

namespace quarn {

ClassInfo* CollisionBox::classInfo = nullptr;
Property* CollisionBox::sizeProperty_ = nullptr;
Float3 CollisionBox::submergedCentre_;

namespace {

constexpr float NoBound = 1e24f;

struct Triple {
    float v[3];
    explicit Triple(const Float3& f) : v{f.x, f.y, f.z} {}
    float operator[](int i) const { return v[i]; }
};

// Corner i of a box of half sizes h: +h_j where bit j of i is set, else -h_j.
Float3 Corner(const Float3& h, int i) {
    return Float3((i & 1) ? h.x : -h.x, (i & 2) ? h.y : -h.y, (i & 4) ? h.z : -h.z);
}

Float3 UnitAxis(int axis) {
    return Float3(axis == 0 ? 1.0f : 0.0f, axis == 1 ? 1.0f : 0.0f, axis == 2 ? 1.0f : 0.0f);
}

} // namespace

CollisionBox::CollisionBox() : CollisionVolume(COLLISION_BOX) {
    SetRenderFlag(RenderZBias, true);
    SetRenderType(RenderNonSolid);
    RefreshDerivedFlags();
    UpdateMassProperties();
}

void CollisionBox::SetSize(Float3 size) {
    if (!(size != size_)) {
        return;
    }
    // Also refuses NaN, which fails every comparison.
    if (!(size.x > 0.0f && size.y > 0.0f && size.z > 0.0f)) {
        return;
    }
    const Float3 old = size_;
    size_ = size;
    UpdateMassProperties();
    SetRenderFlag(RenderLocalBoxValid, false);
    SetRenderFlag(RenderWorldBoxValid, false);
    NotifyChange(sizeProperty_, old, size_);
}

void CollisionBox::SetFace(int32_t face) {
    face_ = face == BoxFacesEvery ? BoxFaceAll : face;
}

void CollisionBox::UpgradeVersion(int fileVersion) {
    CollisionVolume::UpgradeVersion(fileVersion);
    if (fileVersion == 7) {
        SetSize(size_ * 2.0f);
    } else if (fileVersion == 41) {
        face_ |= face_ << 3;
    }
}

// Bounds and mass ------------------------------------------------------------------------------

void CollisionBox::UpdateBoundingBox() {
    const Float3 h = size_ * 0.5f;
    localBox_ = {h * -1.0f, h};
}

void CollisionBox::GetWorldFrame(Float3 (&axes)[3], Float3& centre) {
    const Matrix4& world = GetWorldMatrix();
    for (int i = 0; i < 3; ++i) {
        axes[i] = Float3(world.At(i, 0), world.At(i, 1), world.At(i, 2));
    }
    centre = Float3(world.At(3, 0), world.At(3, 1), world.At(3, 2));
}

void CollisionBox::UpdateWorldBoundingBox() {
    const Triple h(size_ * 0.5f);
    Float3 axes[3];
    Float3 c;
    GetWorldFrame(axes, c);
    Float3 e;
    for (int i = 0; i < 3; ++i) {
        const Float3 r = axes[i];
        e = e + Float3(std::fabs(r.x), std::fabs(r.y), std::fabs(r.z)) * h[i];
    }
    worldBox_ = {c - e, c + e};
}

void CollisionBox::UpdateMassProperties() {
    const float mass = GetVolume() * GetDensity();
    const float x2 = size_.x * size_.x;
    const float y2 = size_.y * size_.y;
    const float z2 = size_.z * size_.z;
    const float k = mass / 12.0f;
    SetMassProperties(mass, Float3(k * (y2 + z2), k * (x2 + z2), k * (x2 + y2)));
    TouchBodyInertia();
}

// Queries --------------------------------------------------------------------------------------

float CollisionBox::GetProjectedArea(Float3 direction) {
    const Float3 l = GetWorldMatrix().RotateByTranspose(direction);
    const Float3& s = size_;
    return std::fabs(s.y * s.z * l.x) + std::fabs(s.x * s.z * l.y) + std::fabs(s.x * s.y * l.z);
}

Float3 CollisionBox::GetSupportPoint(Float3 direction) {
    const Triple h(size_ * 0.5f);
    Float3 p = GetWorldPosition();
    for (int i = 0; i < 3; ++i) {
        const Float3 r = GetWorldAxis(i);
        p = p + r * (r.Dot(direction) > 0.0f ? h[i] : -h[i]);
    }
    return p;
}

float CollisionBox::GetSupportDistance(Float3 direction) {
    const Float3 l = GetWorldMatrix().RotateByTranspose(direction);
    const Float3 h = size_ * 0.5f;
    return GetWorldPosition().Dot(direction) + h.x * std::fabs(l.x) + h.y * std::fabs(l.y) +
           h.z * std::fabs(l.z);
}

float CollisionBox::GetPointDepth(Float3 point, Float3* normal) {
    const Triple q(WorldToLocal(point));
    const Triple h(size_ * 0.5f);
    float margin[3];
    bool inside = true;
    for (int i = 0; i < 3; ++i) {
        margin[i] = h[i] - std::fabs(q[i]);
        inside = inside && margin[i] >= 0.0f;
    }
    if (inside) {
        int k = 0;
        for (int i = 1; i < 3; ++i) {
            if (margin[i] < margin[k]) {
                k = i;
            }
        }
        if (normal) {
            *normal = GetWorldAxis(k) * (q[k] < 0.0f ? -1.0f : 1.0f);
        }
        return margin[k];
    }
    float e[3];
    for (int i = 0; i < 3; ++i) {
        e[i] = q[i] - std::copysign(h[i] - std::max(0.0f, margin[i]), q[i]);
    }
    const Float3 offset(e[0], e[1], e[2]);
    const float length = offset.Length();
    if (normal) {
        *normal = LocalToWorldDirection(offset / length);
    }
    return -length;
}

const SupportFace* CollisionBox::GetSupportFace(Float3 direction) {
    float l[3];
    Float3 axes[3];
    for (int i = 0; i < 3; ++i) {
        axes[i] = GetWorldAxis(i);
        l[i] = axes[i].Dot(direction);
    }
    int k = std::fabs(l[1]) > std::fabs(l[0]) ? 1 : 0;
    if (std::fabs(l[2]) > std::fabs(l[k])) {
        k = 2;
    }
    const Triple s(size_);
    const int u = (k + 1) % 3;
    const int v = (k + 2) % 3;
    const float side = l[k] > 0.0f ? 1.0f : -1.0f;
    const Float3 c = GetWorldPosition() + axes[k] * (side * s[k] * 0.5f);
    const Float3 du = axes[u] * (s[u] * 0.5f);
    const Float3 dv = axes[v] * (s[v] * 0.5f);
    SupportFace& face = supportFace_;
    face.kind = SupportFace::BoxFace;
    face.external = nullptr;
    face.count = 4;
    face.normal = axes[k] * side;
    face.corners[0] = c - du - dv;
    if (side > 0.0f) {
        face.corners[1] = c - du + dv;
        face.corners[3] = c + du - dv;
    } else {
        face.corners[1] = c + du - dv;
        face.corners[3] = c - du + dv;
    }
    face.corners[2] = c + du + dv;
    face.UpdateWinding();
    return &face;
}

Float3 CollisionBox::GetFaceNormal(int index) {
    if (index < 0 || index >= 6) {
        return Float3();
    }
    return LocalToWorldDirection(UnitAxis(index % 3) * (index < 3 ? -1.0f : 1.0f));
}

bool CollisionBox::IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) {
    if (!AnswersPick(query)) {
        return false;
    }
    const Triple o(WorldToLocal(origin));
    const Triple d(WorldToLocalDirection(direction));
    const Triple h(size_ * 0.5f);
    float near[3];
    float exit = NoBound;
    for (int i = 0; i < 3; ++i) {
        near[i] = -NoBound;
        if (d[i] == 0.0f) {
            if (std::fabs(o[i]) > h[i]) {
                return false;
            }
            continue;
        }
        const float t1 = (-h[i] - o[i]) / d[i];
        const float t2 = (h[i] - o[i]) / d[i];
        near[i] = std::min(t1, t2);
        exit = std::min(exit, std::max(t1, t2));
    }
    // x wins a tie with y; z only when strictly later to enter.
    int k = near[1] > near[0] ? 1 : 0;
    if (near[2] > near[k]) {
        k = 2;
    }
    const float entry = near[k];
    // The lower bound starts at 0: a box wholly behind the origin is no hit.
    if (std::max(entry, 0.0f) > exit) {
        return false;
    }
    int32_t code = 2 * k + (d[k] < 0.0f ? 1 : 0);
    if (entry < 0.0f) {
        code |= BoxPickFromInside;
    }
    if (query.flags & PickNormal) {
        query.current.data = GetWorldAxis(k) * (d[k] > 0.0f ? -1.0f : 1.0f);
    }
    query.current.part = code;
    query.current.distance = std::max(entry, 0.0f);
    return true;
}

void CollisionBox::DrawShape() {
    const uint32_t color = GetColorArgb(Float3(), 0);
    SetRenderWorldMatrix(GetWorldMatrix());
    if (TestRenderFlags(RenderGeometry)) {
        GetDebugTriangleMesh().AddSolidBox(size_, color);
        DrawDebugTriangles();
    }
    if (TestRenderFlags(RenderWireframe)) {
        const uint32_t opaque = TestRenderFlags(RenderGeometry) ? 0xFF000000u : 0u;
        GetDebugLineMesh().AddWireBox(size_, color | opaque);
        DrawDebugLines();
    }
}

// Submerged volume ------------------------------------------------------------------------------

float CollisionBox::GetSubmergedVolume(Float3 normal, float distance, Float3* centre) {
    const Float3 c = GetWorldPosition();
    const float s = normal.Dot(c) - distance;
    const float radius = GetRadius();
    if (s > radius) {
        return 0.0f;
    }
    Float3 found = c;
    const float volume = s < -radius ? GetVolume() : SubmergedCorners(normal, s, found);
    if (volume == 0.0f) {
        return 0.0f;
    }
    submergedCentre_ = found;
    if (centre) {
        *centre = found;
    }
    return volume;
}

// The cases by the count of corners below the plane, each exact for its solid. Returns 0 and
// leaves the centre alone when nothing lies below or a case would divide by a zero component
// of the local normal.
float CollisionBox::SubmergedCorners(Float3 worldNormal, float s, Float3& centre) {
    const Triple n(WorldToLocalDirection(worldNormal));
    const Triple size(size_);
    const Float3 h = size_ * 0.5f;
    const float V = GetVolume();
    const Float3 c = GetWorldPosition();
    float e[8];
    int below[8];
    int above[8];
    int belowCount = 0;
    int aboveCount = 0;
    for (int i = 0; i < 8; ++i) {
        const Float3 p = Corner(h, i);
        e[i] = n[0] * p.x + n[1] * p.y + n[2] * p.z + s;
        if (e[i] < 0.0f) {
            below[belowCount++] = i;
        } else {
            above[aboveCount++] = i;
        }
    }
    if (belowCount == 0) {
        return 0.0f;
    }
    // Corners lying exactly on the plane leave nothing above it; the wedge and corner cases
    // would divide 0 by 0 there.
    if (std::all_of(above, above + aboveCount, [&](int i) { return e[i] == 0.0f; })) {
        centre = c;
        return V;
    }
    const auto isBelow = [&](int i) { return e[i] < 0.0f; };
    const auto corner = [&](int i) { return Corner(h, i); };
    const bool anyZero = n[0] == 0.0f || n[1] == 0.0f || n[2] == 0.0f;
    // A local centroid of the part above, turned into that of the part below.
    const auto complement = [&](const Float3& g, float cut) {
        centre = LocalToWorld(g * (-cut / (V - cut)));
        return V - cut;
    };

    switch (belowCount) {
    case 1:
    case 7: {
        if (anyZero) {
            return 0.0f;
        }
        const int t = belowCount == 1 ? below[0] : above[0];
        const float D = -e[t];
        const float v = D * D * D / std::fabs(6.0f * n[0] * n[1] * n[2]);
        const Float3 g =
            LocalToWorld(corner(t)) + (GetWorldAxis(0) * (D / n[0]) + GetWorldAxis(1) * (D / n[1]) +
                                       GetWorldAxis(2) * (D / n[2])) /
                                          4.0f;
        if (belowCount == 1) {
            centre = g;
            return v;
        }
        centre = (c * V + g * v) / (V + v);
        return V + v;
    }
    case 2:
    case 6: {
        const int* pair = belowCount == 2 ? below : above;
        const int f = pair[0];
        const int l = pair[1];
        const int p = belowCount == 2 ? (e[l] < e[f] ? l : f) : (e[l] >= e[f] ? l : f);
        const int q = p == f ? l : f;
        const int k = (p ^ q) == 1 ? 0 : (p ^ q) == 2 ? 1 : 2;
        const int u = (k + 1) % 3;
        const int w = (k + 2) % 3;
        if (n[u] == 0.0f || n[w] == 0.0f) {
            return 0.0f;
        }
        const float a1 = std::fabs(e[p]) / std::fabs(n[u]);
        const float b1 = std::fabs(e[p]) / std::fabs(n[w]);
        const float a2 = std::fabs(e[q]) / std::fabs(n[u]);
        const float b2 = std::fabs(e[q]) / std::fabs(n[w]);
        const float A1 = a1 * b1;
        const float A2 = a2 * b2;
        const float r = std::sqrt(A1 * A2);
        const float W = (b1 / a1) * size[k] * (a1 * a1 + a1 * a2 + a2 * a2) / 6.0f;
        const float t = (A1 + 2.0f * r + 3.0f * A2) / (4.0f * (A1 + r + A2));
        const Float3 cp = corner(p);
        const Float3 g = cp + (corner(q) - cp) * t +
                         (corner(p ^ (1 << u)) - cp) * ((a1 + t * (a2 - a1)) / 3.0f / size[u]) +
                         (corner(p ^ (1 << w)) - cp) * ((b1 + t * (b2 - b1)) / 3.0f / size[w]);
        if (belowCount == 2) {
            centre = LocalToWorld(g);
            return W;
        }
        return complement(g, W);
    }
    case 3:
    case 5: {
        if (anyZero) {
            return 0.0f;
        }
        const int* group = belowCount == 3 ? below : above;
        int m = group[0];
        for (int i = 1; i < 3; ++i) {
            const int x = group[i];
            if (belowCount == 3 ? e[x] < e[m] : e[x] >= e[m]) {
                m = x;
            }
        }
        const auto inGroup = [&](int x) { return std::find(group, group + 3, x) != group + 3; };
        const int k = !inGroup(m ^ 1) ? 0 : !inGroup(m ^ 2) ? 1 : 2;
        const int u = (k + 1) % 3;
        const int w = (k + 2) % 3;
        const int mu = m ^ (1 << u);
        const int mw = m ^ (1 << w);
        const float a0 = std::fabs(e[m]) / std::fabs(n[k]);
        const float au = std::fabs(e[mu]) / std::fabs(n[k]);
        const float aw = std::fabs(e[mw]) / std::fabs(n[k]);
        const float bu = std::fabs(e[mu]) / std::fabs(n[w]);
        const float bw = std::fabs(e[mw]) / std::fabs(n[u]);
        const float su = size[u];
        const float sw = size[w];
        const float T1 = au * su * bu;
        const float T2 = a0 * su * bu;
        const float T3 = a0 * (su * sw - bu * bw);
        const float T4 = a0 * sw * bw;
        const float T5 = aw * sw * bw;
        const float Q = (T1 + T2 + T3 + T4 + T5) / 6.0f;
        const float X = 3.0f * T1 * su + 2.0f * T2 * su + T3 * (bw + su) + (T4 + T5) * bw;
        const float Y = (T1 + T2) * bu + T3 * (bu + sw) + 2.0f * T4 * sw + 3.0f * T5 * sw;
        const float Z = T1 * (au + a0) + (T2 + T3 + T4) * a0 + T5 * (aw + a0);
        const Float3 cm = corner(m);
        const float scale = 24.0f * Q;
        const Float3 g = cm + (corner(mu) - cm) * (X / scale / su) +
                         (corner(mw) - cm) * (Y / scale / sw) +
                         (corner(m ^ (1 << k)) - cm) * (Z / scale / size[k]);
        if (belowCount == 3) {
            centre = LocalToWorld(g);
            return Q;
        }
        return complement(g, Q);
    }
    default:
        break;
    }

    // Four corners below: a slab across four parallel edges, or a corner with its neighbours.
    const int f = below[0];
    const bool b[3] = {isBelow(f ^ 1), isBelow(f ^ 2), isBelow(f ^ 4)};
    if ((b[0] ^ b[1] ^ b[2]) == 0) {
        const int k = !b[0] ? 0 : !b[1] ? 1 : 2;
        const int u = (k + 1) % 3;
        const int w = (k + 2) % 3;
        int m = below[0];
        for (int i = 1; i < 4; ++i) {
            if (e[below[i]] > e[m]) {
                m = below[i];
            }
        }
        if (n[k] == 0.0f) {
            return 0.0f;
        }
        const float nk = std::fabs(n[k]);
        float sum = 0.0f;
        for (int i = 0; i < 4; ++i) {
            sum -= e[below[i]];
        }
        const float M = sum / (4.0f * nk);
        const float h0 = -e[m] / nk;
        const int mu = m ^ (1 << u);
        const int mw = m ^ (1 << w);
        const float du = std::fabs(h0 + e[mu] / nk);
        const float dw = std::fabs(h0 + e[mw] / nk);
        const Float3 cm = corner(m);
        const float gk = h0 * h0 / 2.0f + du * (h0 + du / 3.0f) / 2.0f +
                         dw * (h0 + du / 2.0f + dw / 3.0f) / 2.0f;
        const Float3 g = cm + (corner(mu) - cm) * ((h0 / 2.0f + du / 3.0f + dw / 4.0f) / M) +
                         (corner(mw) - cm) * ((h0 / 2.0f + du / 4.0f + dw / 3.0f) / M) +
                         (corner(m ^ (1 << k)) - cm) * (gk / (M * size[k]));
        centre = LocalToWorld(g);
        return M * size[u] * size[w];
    }
    if (anyZero) {
        return 0.0f;
    }
    int m = below[0];
    for (int i = 1; i < 4; ++i) {
        if (e[below[i]] < e[m]) {
            m = below[i];
        }
    }
    const float D = e[m];
    const float a[3] = {std::fabs(D / n[0]), std::fabs(D / n[1]), std::fabs(D / n[2])};
    float fc[3];
    float F = 1.0f;
    for (int i = 0; i < 3; ++i) {
        fc[i] = (a[i] - size[i]) / a[i];
        F -= fc[i] * fc[i] * fc[i];
    }
    const Float3 cm = corner(m);
    Float3 g = cm;
    for (int i = 0; i < 3; ++i) {
        float gi = a[i];
        for (int j = 0; j < 3; ++j) {
            const float f3 = fc[j] * fc[j] * fc[j];
            gi -= j == i ? (3.0f * size[i] + a[i]) * f3 : a[i] * f3 * fc[j];
        }
        g = g + (corner(m ^ (1 << i)) - cm) * (gi / (4.0f * F) / size[i]);
    }
    centre = LocalToWorld(g);
    return a[0] * a[1] * a[2] * F / 6.0f;
}

// Colliders: negated positions, axes as they are, normals from the first volume toward the
// second -----------------------------------------------------------------------------------------

int CollideSphereBox(CollisionVolume& sphere, CollisionVolume& box, int,
                     std::span<CollisionContact> contacts) {
    auto* s = dynamic_cast<CollisionSphere*>(&sphere);
    auto* b = dynamic_cast<CollisionBox*>(&box);
    if (!s || !b || contacts.empty()) {
        return 0;
    }
    const Float3 cs = s->GetWorldPosition() * -1.0f;
    const Float3 cb = b->GetWorldPosition() * -1.0f;
    const float r = s->GetSphereRadius();
    const Triple h(b->GetSize() * 0.5f);
    const Float3 p = cs - cb;
    Float3 axes[3];
    float l[3];
    float clamped[3];
    bool outside = false;
    for (int i = 0; i < 3; ++i) {
        axes[i] = b->GetWorldAxis(i);
        l[i] = axes[i].Dot(p);
        clamped[i] = std::clamp(l[i], -h[i], h[i]);
        outside = outside || clamped[i] != l[i];
    }
    if (!outside) {
        // A centre on a face counts as inside: the margin there is 0.
        int k = 0;
        for (int i = 1; i < 3; ++i) {
            if (h[i] - std::fabs(l[i]) < h[k] - std::fabs(l[k])) {
                k = i;
            }
        }
        SetContact(contacts[0], cs, axes[k] * (l[k] > 0.0f ? 1.0f : -1.0f),
                   r + h[k] - std::fabs(l[k]));
        return 1;
    }
    const Float3 q = axes[0] * clamped[0] + axes[1] * clamped[1] + axes[2] * clamped[2];
    const Float3 v = p - q;
    const float depth = r - v.Length();
    if (depth < 0.0f) {
        return 0;
    }
    SetContact(contacts[0], q + cb, v.NormalizedOrSelf(), depth);
    return 1;
}

int CollideBoxPlane(CollisionVolume& box, CollisionVolume& plane, int maximum,
                    std::span<CollisionContact> contacts) {
    auto* b = ExactOrDerivedCast<CollisionBox>(box);
    auto* p = ExactOrDerivedCast<CollisionPlane>(plane);
    if (!b || !p || contacts.empty()) {
        return 0;
    }
    const Float3 n = p->GetNormal() * -1.0f;
    Float3 axes[3];
    Float3 c;
    b->GetWorldFrame(axes, c);
    c = c * -1.0f;
    const Triple s(b->GetSize());
    float A[3];
    float B[3];
    for (int i = 0; i < 3; ++i) {
        A[i] = s[i] * n.Dot(axes[i]);
        B[i] = std::fabs(A[i]);
    }
    const float depth = p->GetOffset() + (B[0] + B[1] + B[2]) / 2.0f - n.Dot(c);
    if (depth < 0.0f) {
        return 0;
    }
    const int wanted = std::min(std::clamp(maximum, 1, 4), static_cast<int>(contacts.size()));
    Float3 deepest = c;
    for (int i = 0; i < 3; ++i) {
        deepest = deepest + axes[i] * (A[i] > 0.0f ? -s[i] / 2.0f : s[i] / 2.0f);
    }
    SetContact(contacts[0], deepest, n, depth);
    // The edges whose far corners stay deepest: the two least tilted against the plane.
    int edges[2];
    if (B[0] < B[1]) {
        edges[0] = B[2] < B[0] ? 2 : 0;
        edges[1] = B[2] < B[0] ? 0 : (B[1] < B[2] ? 1 : 2);
    } else {
        edges[0] = B[2] < B[1] ? 2 : 1;
        edges[1] = B[2] < B[1] ? 1 : (B[0] < B[2] ? 0 : 2);
    }
    // Each further corner lies one edge above the deepest, so its depth is less by that edge's
    // rise alone. The edges come in rising order: once one corner is above the plane, so is
    // the next.
    int count = 1;
    for (int e = 0; e < 2 && count < wanted; ++e) {
        const int i = edges[e];
        const float cornerDepth = depth - B[i];
        if (cornerDepth < 0.0f) {
            break;
        }
        SetContact(contacts[static_cast<size_t>(count++)],
                   deepest + axes[i] * (A[i] > 0.0f ? s[i] : -s[i]), n, cornerDepth);
    }
    // The face's fourth corner, two edges above the deepest: without it a box lying flat
    // balances on the diagonal of the other three, and any error in the solve tips it.
    if (count == 3 && count < wanted) {
        const float cornerDepth = depth - B[edges[0]] - B[edges[1]];
        if (cornerDepth >= 0.0f) {
            Float3 corner = deepest;
            for (const int i : edges) {
                corner = corner + axes[i] * (A[i] > 0.0f ? s[i] : -s[i]);
            }
            SetContact(contacts[static_cast<size_t>(count++)], corner, n, cornerDepth);
        }
    }
    return count;
}

int CollideBoxPoint(CollisionVolume& box, CollisionVolume& point, int,
                    std::span<CollisionContact> contacts) {
    auto* b = dynamic_cast<CollisionBox*>(&box);
    if (!b || contacts.empty()) {
        return 0;
    }
    const Float3 p = point.GetWorldPosition();
    Float3 normal;
    const float depth = b->GetPointDepth(p, &normal);
    if (depth < 0.0f) {
        return 0;
    }
    SetContact(contacts[0], p * -1.0f, normal, depth);
    return 1;
}

// Registration ----------------------------------------------------------------------------------

ClassInfo* CollisionBox::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = CollisionVolume::RegisterClass();
    classInfo = new ClassInfo(
        "CollisionBox", []() -> Entity* { return new CollisionBox(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Collision");
    using B = CollisionBox;
    sizeProperty_ = classInfo->AddProperty<PropertyFloat3, &B::GetSize, &B::SetSize>("size");
    classInfo->AddProperty<PropertyBitfield, &B::GetFace, &B::SetFace>("face:X,Y,Z,-X,-Y,-Z");
    SetCollider(COLLISION_SPHERE, COLLISION_BOX, CollideSphereBox);
    SetCollider(COLLISION_BOX, COLLISION_PLANE, CollideBoxPlane);
    SetCollider(COLLISION_BOX, COLLISION_BOX, CollideBoxBox);
    SetCollider(COLLISION_BOX, COLLISION_POINT, CollideBoxPoint);
    return classInfo;
}

} // namespace quarn
