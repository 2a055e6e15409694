#include "collision/FaceRoutines.h"

#include "collision/ContactRoutines.h"

#include <limits>

namespace quarn {

void SupportFace::UpdateWinding() {
    const std::span<const Float3> v = Vertices();
    if (v.size() < 3) {
        return;
    }
    winding = (v[1] - v[0]).Cross(v[2] - v[0]).Dot(normal) > 0.0f ? 1 : 0;
}

SupportFace& FeatureRecords::Next() {
    next_ ^= 1;
    SupportFace& record = records_[next_];
    record = SupportFace();
    return record;
}

const SupportFace* FeatureRecords::Vertex(const Float3& point, const Float3& normal) {
    SupportFace& record = Next();
    record.kind = SupportFace::Vertex;
    record.normal = normal;
    record.count = 1;
    record.corners[0] = point;
    return &record;
}

const SupportFace* FeatureRecords::Edge(const Float3& n, const Float3& start, const Float3& end) {
    SupportFace& record = Next();
    record.kind = SupportFace::Edge;
    record.normal = n;
    record.count = 2;
    record.corners[0] = start;
    record.corners[1] = end;
    return &record;
}

const SupportFace* FeatureRecords::Disc(const Float3& n, const Float3& centre, float radius,
                                        float extent) {
    SupportFace& record = Next();
    record.kind = SupportFace::Disc;
    record.normal = n;
    record.count = 1;
    record.corners[0] = centre;
    record.radius = radius;
    record.extent = extent;
    return &record;
}

float PlaneRayParameter(const FacePlane& plane, const Float3& p, const Float3& v) {
    const float along = plane.normal.Dot(v);
    if (along == 0.0f) {
        return std::numeric_limits<float>::max();
    }
    return -(plane.normal.Dot(p) - plane.distance) / along;
}

bool PointInFace(const SupportFace& face, const Float3& point) {
    const std::span<const Float3> v = face.Vertices();
    for (size_t i = 0; i < v.size(); ++i) {
        const Float3& c = v[i];
        const Float3& q = v[i == 0 ? v.size() - 1 : i - 1];
        const float side = (point - c).Dot((q - c).Cross(face.normal));
        if ((side > 0.0f ? 1 : 0) != face.winding) {
            return false;
        }
    }
    return true;
}

float PointInsidePlanes(const Float3& point, const FacePlane& reference,
                        std::span<const FacePlane> sides) {
    const float s = reference.normal.Dot(point) - reference.distance;
    if (s > 0.0f) {
        return -1.0f;
    }
    for (const FacePlane& side : sides) {
        if (side.normal.Dot(point) - side.distance > 0.0f) {
            return -1.0f;
        }
    }
    return -s;
}

int ClipSegmentToFace(const Float3& a, const Float3& b, std::span<const FacePlane> sides,
                      const FacePlane& reference, std::span<CollisionContact> contacts) {
    const Float3 ab = b - a;
    const size_t count = sides.size();
    int written = 0;
    for (size_t i = 0; i < count && static_cast<size_t>(written) < contacts.size(); ++i) {
        const float along = ab.Dot(sides[i].normal);
        if (along == 0.0f) {
            continue;
        }
        const float t = -(sides[i].normal.Dot(a) - sides[i].distance) / along;
        if (!(t > 0.0f && t < 1.0f)) {
            continue;
        }
        const Float3 x = a + ab * t;
        const float depth = -(reference.normal.Dot(x) - reference.distance);
        const FacePlane& next = sides[(i + 1) % count];
        const FacePlane& previous = sides[(i + count - 1) % count];
        if (depth > 0.0f && next.normal.Dot(x) - next.distance < 0.0f &&
            previous.normal.Dot(x) - previous.distance < 0.0f) {
            SetContact(contacts[static_cast<size_t>(written++)], x, reference.normal, depth);
        }
    }
    return written;
}

} // namespace quarn
