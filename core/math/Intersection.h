#pragma once

#include "core/math/Vector.h"

#include <limits>

namespace quarn {

// Distance returned by the ray tests on a miss, so the nearest of several results is a plain min.
inline constexpr float NoHit = std::numeric_limits<float>::max();

// Angle in radians from a to b, in [-pi, pi]; positive when b lies counter-clockwise of a. A zero
// vector counts as perpendicular to everything.
float SignedAngle2D(Float2 a, Float2 b);

// One-sided ray-triangle test. Only a ray that runs along the corners' right-handed normal
// (c1 - c0) x (c2 - c0) can hit. Returns the ray parameter t (in units of direction) or NoHit;
// t is not checked for sign, so a triangle behind the origin also "hits" with t < 0.
float RayTriangleIntersect(const Float3& origin, const Float3& direction, const Float3& c0,
                           const Float3& c1, const Float3& c2);

// Two-sided form of RayTriangleIntersect, with the same negative-t behaviour. On a hit, *side
// (when given) is true when the ray runs against the corners' right-handed normal and false when
// it runs along it. A ray nearly parallel to the triangle misses.
float RayTriangleHit(const Float3& origin, const Float3& direction, const Float3& c0,
                     const Float3& c1, const Float3& c2, bool* side = nullptr);

// Intersects the segments p0 + t d0 and p1 + s d1. Parallel segments give false and leave t and
// s untouched; otherwise t and s are always written and the result says whether both lie in
// [0, 1].
bool SegmentIntersect2D(const Float2& p0, const Float2& d0, const Float2& p1, const Float2& d1,
                        float& t, float& s);

// Distance from (x, y) to the ellipse x^2/a^2 + y^2/b^2 = 1, with the nearest point of the
// ellipse in closest. A semi-axis of 0 (or one 10000 times shorter than the other) makes the
// ellipse the segment along the other axis. The signs of a and b do not matter.
float DistancePointEllipse2D(float a, float b, float x, float y, Float2& closest);

// Ray parameter t of the first crossing of the sphere, or NoHit. An origin inside (or on) the
// sphere gives 0 with the normal pointing from the centre to the origin. Like the triangle tests,
// a sphere behind the origin gives t < 0. *normal (when given) receives the unit surface normal.
float RaySphereIntersect(const Float3& origin, const Float3& direction, const Float3& centre,
                         float radius, Float3* normal = nullptr);

} // namespace quarn
