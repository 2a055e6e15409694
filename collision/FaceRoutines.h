#pragma once

#include "collision/CollisionContact.h"
#include "core/math/Vector.h"

#include <algorithm>
#include <cstdint>
#include <span>

namespace quarn {

// A shape's support feature along a direction, as the face queries hand it out. A polygon keeps
// up to four corners in the record (a box face) or points at its own vertex list (a mesh face);
// a vertex keeps its point in corners[0], an edge its start and end in corners[0] and [1], a
// disc its centre in corners[0].
struct SupportFace {
    static constexpr int32_t Vertex = 0;
    static constexpr int32_t Edge = 2;
    static constexpr int32_t BoxFace = 3;
    static constexpr int32_t Polygon = 3;
    static constexpr int32_t Disc = 4;

    int32_t kind = BoxFace;
    // Outward, world frame: a polygon's normal, an edge's surface direction, a disc's axis.
    Float3 normal;
    int32_t count = 4;
    // 1 when (v1 - v0) x (v2 - v0) runs along the normal; PointInFace reads it.
    int32_t winding = 1;
    Float3 corners[4];
    const Float3* external = nullptr; // a face whose vertices live elsewhere (count of them)
    float radius = 0.0f;              // a disc's
    float extent = 0.0f;              // how far a disc's solid reaches below it

    // At most the four inline corners when the face has no vertex list of its own.
    std::span<const Float3> Vertices() const {
        const int32_t size = external ? count : std::min(count, 4);
        return {external ? external : corners, static_cast<size_t>(std::max(size, 0))};
    }
    // Sets the winding flag from the first three vertices.
    void UpdateWinding();
};

// Two feature records used in turn: both features of one pair may come from shapes of one class,
// and a record stays valid until the next-but-one call.
class FeatureRecords {
public:
    // normal: what the shape keeps there (the direction asked, for a capsule's end).
    const SupportFace* Vertex(const Float3& point, const Float3& normal = Float3());
    // n: the unit direction of the surface at the edge.
    const SupportFace* Edge(const Float3& n, const Float3& start, const Float3& end);
    // n: the disc's outward normal; extent: how far its solid reaches below it.
    const SupportFace* Disc(const Float3& n, const Float3& centre, float radius, float extent);

private:
    SupportFace& Next();

    SupportFace records_[2];
    int next_ = 0;
};

// The plane n . x = distance.
struct FacePlane {
    Float3 normal;
    float distance = 0.0f;
};

// The parameter t where p + t v meets the plane; the largest float when v runs along it.
float PlaneRayParameter(const FacePlane& plane, const Float3& p, const Float3& v);

// Whether the point lies within the face's outline, seen along its normal. A face without
// vertices holds every point.
bool PointInFace(const SupportFace& face, const Float3& point);

// The depth of the point below the reference plane (0 or more) when it lies on or below it and
// on or inside every side plane; -1 otherwise.
float PointInsidePlanes(const Float3& point, const FacePlane& reference,
                        std::span<const FacePlane> sides);

// Where the segment a-b crosses each side plane strictly between its ends, below the reference
// plane and strictly inside the two neighbouring side planes, a contact with the reference
// normal is appended. Writes no more than the room in `contacts`; returns the count written.
int ClipSegmentToFace(const Float3& a, const Float3& b, std::span<const FacePlane> sides,
                      const FacePlane& reference, std::span<CollisionContact> contacts);

} // namespace quarn
