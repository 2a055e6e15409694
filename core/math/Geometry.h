#pragma once

#include "core/math/Vector.h"

#include <cstdint>

namespace quarn {

// The four side planes of a view volume, as outward unit normals of planes through the eye, in
// the order left, right, top, bottom. View space looks along +z with x right and y up; a point
// lies inside when its dot product with every normal is <= 0.
struct ViewPlanes {
    Float3 normal[4];
};

// Fills the side planes for full field-of-view angles in degrees, horizontal then vertical.
void FrustumSidePlanes(ViewPlanes& planes, float horizontalDegrees, float verticalDegrees);

// Bit i is set when the point lies outside plane i (dot product > 0). ANDing the masks of a
// box's corners tells whether all of them lie outside one plane.
uint32_t PlaneSideMask(const ViewPlanes& planes, const Float3& point);

// How a sphere in view space meets the view volume.
enum SphereSide : int32_t {
    SphereOutside = 0,
    // Straddles a plane with its centre outside it: the caller must test the box corners.
    SphereStraddlingCentreOutside = 1,
    // Straddles a plane with its centre inside all of them: treated as visible.
    SphereStraddlingCentreInside = 2,
    // Wholly inside: nothing below it needs testing.
    SphereInside = 3,
};
int32_t SphereAgainstPlanes(const ViewPlanes& planes, const Float3& centre, float radius);

// Axis-aligned box, stored as six floats: min x, y, z, then max x, y, z. Valid when each min is
// at most the matching max.
struct Aabb {
    Float3 min;
    Float3 max;

    void AddPoint(const Float3& point);
    void AddBox(const Aabb& box);

    // Bounds inclusive: a point on a face or corner is inside.
    bool Contains(const Float3& point) const;

    // Entry parameter t >= 0 of the ray origin + t * direction (t in units of direction, no
    // upper limit), 0 when the origin is inside, or -1 on a miss. *normal (when given) receives
    // the outward axis normal of the entry face; ties between faces go to x, then y, then z.
    float RayIntersect(const Float3& origin, const Float3& direction,
                       Float3* normal = nullptr) const;

    // The centre, and in *radius (when given) half the diagonal: the bounding sphere.
    void GetCenter(Float3& centre, float* radius = nullptr) const;

    // The point of the box nearest to the given one (each coordinate clamped to the box).
    Float3 ClosestPoint(const Float3& point) const;
    // 0 inside the box.
    float DistanceToPoint(const Float3& point) const;
};

static_assert(sizeof(Aabb) == 24);

// The smallest power of two >= n; 0 for 0 and for n above 2^31, which has none in 32 bits.
uint32_t NextPowerOfTwo(uint32_t n);

} // namespace quarn
