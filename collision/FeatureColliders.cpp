#include "collision/FeatureColliders.h"

#include "collision/ContactRoutines.h"

#include <cmath>
#include <limits>
#include <vector>

namespace quarn {

namespace {

// The face plane and side planes of a polygon. The storage grows to the largest face met and
// is kept, so a face of any vertex count is taken whole.
struct PolygonPlanes {
    FacePlane face;
    std::vector<FacePlane> sides;

    void Build(const SupportFace& polygon) {
        const std::span<const Float3> v = polygon.Vertices();
        face.normal = polygon.normal.NormalizedOrSelf();
        face.distance = v.empty() ? 0.0f : face.normal.Dot(v[0]);
        sides.resize(v.size());
        // Side normals point out of the outline for either winding.
        const float outward = polygon.winding ? -1.0f : 1.0f;
        for (size_t i = 0; i < v.size(); ++i) {
            const Float3& c = v[i];
            const Float3& p = v[i == 0 ? v.size() - 1 : i - 1];
            const Float3 m = face.normal.Cross(c - p) * outward;
            sides[i] = {m, m.Dot(c)};
        }
    }
    std::span<const FacePlane> Sides() const { return sides; }
};

PolygonPlanes planesA;
PolygonPlanes planesB;

int Write(std::span<CollisionContact> contacts, int count, const Float3& position,
          const Float3& normal, float depth) {
    return AppendContact(contacts, count, position, normal, depth);
}

std::span<CollisionContact> After(std::span<CollisionContact> contacts, int count) {
    return contacts.subspan(std::min(static_cast<size_t>(count), contacts.size()));
}

// The edges of a polygon clipped to the other's planes; a two-vertex polygon has one edge.
int ClipEdges(const SupportFace& polygon, const PolygonPlanes& other,
              std::span<CollisionContact> contacts) {
    const std::span<const Float3> v = polygon.Vertices();
    const size_t edges = v.size() == 2 ? 1 : v.size();
    int count = 0;
    for (size_t i = 0; i < edges; ++i) {
        const Float3& p = v[i == 0 ? v.size() - 1 : i - 1];
        count += ClipSegmentToFace(p, v[i], other.Sides(), other.face, After(contacts, count));
    }
    return count;
}

bool PointInCylinder(const SupportFace& disc, const Float3& x) {
    const Float3 w = x - disc.corners[0];
    const Float3 radial = w - disc.normal * disc.normal.Dot(w);
    return radial.LengthSquared() < disc.radius * disc.radius;
}

// The ray against the disc's solid: the part of its cylinder below the disc plane.
float RayDiscParameter(const SupportFace& disc, const Float3& o, const Float3& v) {
    const Float3& n = disc.normal;
    const float k = v.Dot(n);
    const float s = (disc.corners[0] - o).Dot(n);
    if (s < 0.0f && k > 0.0f) {
        return -1.0f;
    }
    const float t1 = RayCylinderParameter(disc, o, v);
    if (t1 < 0.0f || k == 0.0f) {
        return t1;
    }
    const float tp = s / k;
    if (tp <= 0.0f) {
        return t1;
    }
    if (tp < t1) {
        return tp;
    }
    return s < 0.0f ? -1.0f : t1;
}

} // namespace

float RayCylinderParameter(const SupportFace& disc, const Float3& o, const Float3& v) {
    const Float3& n = disc.normal;
    const float length = v.Length();
    if (length == 0.0f || std::fabs(v.Dot(n)) >= 0.9999f * length) {
        return -1.0f;
    }
    const Float3 vp = v - n * n.Dot(v);
    const Float3 w = o - disc.corners[0];
    const Float3 wp = w - n * n.Dot(w);
    const float a = vp.Dot(vp);
    const float b = vp.Dot(wp);
    const float k = wp.Dot(wp) - disc.radius * disc.radius;
    const float discriminant = b * b - a * k;
    if (discriminant < 0.0f) {
        return -1.0f;
    }
    if (discriminant == 0.0f) {
        return -b / a;
    }
    const float q = std::sqrt(discriminant);
    const float smaller = (-b - q) / a;
    return smaller > 0.0f ? smaller : (-b + q) / a;
}

int CollideDiscVertex(const SupportFace& disc, const SupportFace& vertex, const Float3&,
                      std::span<CollisionContact> contacts) {
    const Float3& n = disc.normal;
    const Float3& x = vertex.corners[0];
    return Write(contacts, 0, x, n, n.Dot(disc.corners[0]) - n.Dot(x));
}

int CollideEdgeVertex(const SupportFace& edge, const SupportFace& vertex, const Float3&,
                      std::span<CollisionContact> contacts) {
    const Float3& x = vertex.corners[0];
    return Write(contacts, 0, x, edge.normal, -edge.normal.Dot(x - edge.corners[0]));
}

int CollideFaceVertex(const SupportFace& face, const SupportFace& vertex, const Float3&,
                      std::span<CollisionContact> contacts) {
    planesA.Build(face);
    const Float3& x = vertex.corners[0];
    return Write(contacts, 0, x, face.normal,
                 -(planesA.face.normal.Dot(x) - planesA.face.distance));
}

int CollideEdgeEdge(const SupportFace& first, const SupportFace& second, const Float3& d,
                    std::span<CollisionContact> contacts) {
    const FacePlane plane{d, d.Dot(first.corners[0])};
    const Float3& s = second.corners[0];
    const Float3 v = second.corners[1] - s;
    const float t = PlaneRayParameter(plane, s, v);
    if (t < 0.0f || t > 1.0f) {
        return 0;
    }
    const Float3 x = s + v * t;
    const float e = d.Dot(x) - plane.distance;
    if (e > 0.0f) {
        return 0;
    }
    return Write(contacts, 0, x, d, -e);
}

int CollideFaceEdge(const SupportFace& face, const SupportFace& edge, const Float3&,
                    std::span<CollisionContact> contacts) {
    planesA.Build(face);
    int count = 0;
    for (int i = 0; i < 2; ++i) {
        const Float3& end = edge.corners[i];
        const float depth = PointInsidePlanes(end, planesA.face, planesA.Sides());
        if (depth > 0.0f) {
            count = Write(contacts, count, end, face.normal, depth);
        }
    }
    return count + ClipSegmentToFace(edge.corners[0], edge.corners[1], planesA.Sides(),
                                     planesA.face, After(contacts, count));
}

int CollideFacePair(const SupportFace& first, const SupportFace& second, const Float3& d,
                    std::span<CollisionContact> contacts) {
    planesA.Build(first);
    planesB.Build(second);
    const Float3& na = first.normal;
    const Float3& nb = second.normal;
    int count = 0;
    for (const Float3& vertex : first.Vertices()) {
        const float depth = PointInsidePlanes(vertex, planesB.face, planesB.Sides());
        if (depth > 0.0f) {
            count = Write(contacts, count, vertex, nb * -1.0f, depth);
        }
    }
    for (const Float3& vertex : second.Vertices()) {
        const float depth = PointInsidePlanes(vertex, planesA.face, planesA.Sides());
        if (depth > 0.0f) {
            count = Write(contacts, count, vertex, na, depth);
        }
    }
    const size_t firstCount = first.Vertices().size();
    if (second.Vertices().size() >= 3 && (firstCount <= 2 || -d.Dot(nb) > d.Dot(na))) {
        const int clipped = ClipEdges(first, planesB, After(contacts, count));
        for (int i = count; i < count + clipped; ++i) {
            contacts[static_cast<size_t>(i)].normal = nb * -1.0f;
        }
        return count + clipped;
    }
    return count + ClipEdges(second, planesA, After(contacts, count));
}

int CollideDiscEdge(const SupportFace& disc, const SupportFace& edge, const Float3& d,
                    std::span<CollisionContact> contacts) {
    const Float3& n = disc.normal;
    const Float3& c = disc.corners[0];
    const float r = disc.radius;
    const Float3& s = edge.corners[0];
    const Float3& e = edge.corners[1];
    const Float3 v = e - s;
    if (std::fabs(d.Dot(n)) <= 0.999f) {
        const Float3 w = d.Cross(v).NormalizedOrSelf();
        const float k = w.Dot(n);
        const float denominator = 1.0f - k * k;
        // d along the edge, or the edge's plane parallel to the disc: no line to meet the rim.
        if (w.LengthSquared() == 0.0f || !(denominator > 1e-6f)) {
            return 0;
        }
        const float nc = n.Dot(c);
        const float ws = w.Dot(s);
        const Float3 x0 = n * ((nc - k * ws) / denominator) + w * ((ws - k * nc) / denominator);
        const Float3 u = w.Cross(n);
        const Float3 offset = x0 - c;
        const float qa = u.Dot(u);
        const float qb = u.Dot(offset);
        const float qc = offset.Dot(offset) - r * r;
        const float discriminant = qb * qb - qa * qc;
        if (discriminant < 0.0f || qa == 0.0f) {
            return 0;
        }
        const float q = std::sqrt(discriminant);
        const Float3 x1 = x0 - u * ((qb + q) / qa);
        const Float3 x2 = x0 - u * ((qb - q) / qa);
        const float y1 = d.Dot(x1 - s);
        const float y2 = d.Dot(x2 - s);
        return y2 >= y1 ? Write(contacts, 0, x2, d, y2) : Write(contacts, 0, x1, d, y1);
    }
    int count = 0;
    const auto end = [&](const Float3& point, const Float3& inward) {
        Float3 p = point;
        if (!PointInCylinder(disc, point)) {
            const float t = RayCylinderParameter(disc, point, inward);
            // No crossing on the segment: this end adds nothing.
            if (!(t >= 0.0f && t <= 1.0f)) {
                return;
            }
            p = point + inward * t;
        }
        const float depth = n.Dot(c) - n.Dot(p);
        if (depth > 0.0f) {
            count = Write(contacts, count, p, d, depth);
        }
    };
    end(s, v);
    end(e, v * -1.0f);
    return count;
}

int CollideFaceDisc(const SupportFace& face, const SupportFace& disc, const Float3& d,
                    std::span<CollisionContact> contacts) {
    const std::span<const Float3> vertices = face.Vertices();
    if (vertices.empty()) {
        return 0;
    }
    const Float3& na = face.normal;
    const Float3& n = disc.normal;
    const Float3& c = disc.corners[0];
    const float r = disc.radius;
    const bool flat = std::fabs(d.Dot(n)) > std::fabs(d.Dot(na));
    const auto height = [&](const Float3& x) { return n.Dot(x - c); };
    int count = 0;
    for (size_t i = 0; i < vertices.size(); ++i) {
        const Float3& v = vertices[i];
        const Float3& p = vertices[i == 0 ? vertices.size() - 1 : i - 1];
        const float sv = height(v);
        if (sv <= 0.0f && sv > -disc.extent && (v - n * sv - c).LengthSquared() <= r * r) {
            if (flat) {
                count = Write(contacts, count, v, d, -sv);
            } else {
                const float t = RayDiscParameter(disc, v, d * -1.0f);
                if (t >= 0.0f) {
                    count = Write(contacts, count, v - d * t, d, t);
                }
            }
        }
        if (flat) {
            if (sv > 0.0f && height(p) > 0.0f) {
                continue;
            }
            float t[2];
            const int crossings = LineCylinderCrossing(c, n, r, v, p - v, t);
            for (int j = 0; j < crossings; ++j) {
                if (t[j] < 0.0f || t[j] > 1.0f) {
                    continue;
                }
                const Float3 x = v + (p - v) * t[j];
                const float sx = height(x);
                if (sx <= 0.0f) {
                    count = Write(contacts, count, x, d, -sx);
                }
            }
            continue;
        }
        Float3 m = (p - v).Cross(na).NormalizedOrSelf();
        if (face.winding) {
            m = m * -1.0f;
        }
        const Float3 u1 = n.Cross(m).NormalizedOrSelf();
        const Float3 u2 = n.Cross(u1).NormalizedOrSelf();
        const float along = u2.Dot(m);
        if (along == 0.0f) {
            continue;
        }
        const float lambda = (v - c).Dot(m) / along;
        if (std::fabs(lambda) > r) {
            continue;
        }
        const Float3 p0 = c + u2 * lambda;
        const Float3 step = u1 * std::sqrt(r * r - lambda * lambda);
        const Float3 x = u1.Dot(na) <= 0.0f ? p0 + step : p0 - step;
        if (PointInFace(face, x - m * 0.001f) && static_cast<size_t>(count) < contacts.size()) {
            count += AddContactBelowPlane(contacts[static_cast<size_t>(count)], x, d, v);
        }
    }
    const Float3 w = n.Cross(na);
    const Float3 u = n.Cross(w).NormalizedOrSelf();
    const float kd = std::fabs(na.Dot(d));
    const float h0 = na.Dot(c - vertices[0]);
    // Along the face, the rim points' depths would divide by zero: they are left out.
    if (h0 >= r || kd == 0.0f) {
        return count;
    }
    const float g = r * na.Dot(u);
    const auto rim = [&](const Float3& x, float depth) {
        if (PointInFace(face, x)) {
            count = Write(contacts, count, x, d, depth / kd);
        }
    };
    if (h0 + g < 0.0f) {
        rim(c + u * r, -h0 - g);
    }
    if (h0 - g < 0.0f) {
        rim(c - u * r, g - h0);
    }
    if (h0 < 0.0f) {
        const Float3 wn = w.NormalizedOrSelf();
        rim(c + wn * r, -h0);
        rim(c - wn * r, -h0);
    }
    return count;
}

} // namespace quarn
