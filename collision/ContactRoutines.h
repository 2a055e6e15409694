#pragma once

#include "collision/CollisionContact.h"
#include "core/math/Vector.h"

#include <span>

namespace quarn {

// Geometric helpers of the pair colliders. They work in whatever frame they are given (the
// colliders hand them negated coordinates).

// The contact of two spheres: none (0) when they are apart. Coincident centres give the normal
// (1, 0, 0) at the first centre with depth r1 + r2; otherwise the normal runs from the second
// centre to the first and the point lies midway between the two surfaces.
int CollideSpheres(const Float3& p1, float r1, const Float3& p2, float r2,
                   CollisionContact& contact);

void SetContact(CollisionContact& contact, const Float3& position, const Float3& normal,
                float depth);

// Writes the contact into record `count` when the array has room for it; returns the count
// afterwards.
int AppendContact(std::span<CollisionContact> contacts, int count, const Float3& position,
                  const Float3& normal, float depth);

// A contact at p of depth n . (q - p) when that is not negative (p on or below the plane
// through q with normal n); 1 when written, else 0.
int AddContactBelowPlane(CollisionContact& contact, const Float3& p, const Float3& n,
                         const Float3& q);
// The same into record `count` when there is room; returns the count afterwards.
int AppendContactBelowPlane(std::span<CollisionContact> contacts, int count, const Float3& p,
                            const Float3& n, const Float3& q);

// The closest points c1 on the segment a1-a2 and c2 on b1-b2. Degenerate segments end in the
// vertex tests and parallel ones in the vertex or edge-vertex tests (or at (a1, b1)), so
// nothing is ever divided by zero or by rounding noise.
void ClosestSegmentPoints(const Float3& a1, const Float3& a2, const Float3& b1, const Float3& b2,
                          Float3& c1, Float3& c2);

// Parameters along the line p + t u where it crosses the infinite cylinder about the unit axis
// a through c of radius r: 0, 1 or 2 of them in t[0], t[1]. A line within 0.999 of the axis
// direction has none.
int LineCylinderCrossing(const Float3& c, const Float3& a, float r, const Float3& p,
                         const Float3& u, float t[2]);

// The parameters s and t of the closest points a0 + s a and b0 + t b of two lines with unit
// directions; both 0 for lines within 1e-4 of parallel.
void ClosestLineParameters(const Float3& a0, const Float3& a, const Float3& b0, const Float3& b,
                           float& s, float& t);

} // namespace quarn
