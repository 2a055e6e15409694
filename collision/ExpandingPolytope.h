#pragma once

#include "core/math/Vector.h"

#include <cfloat>
#include <span>

namespace quarn {

class CollisionVolume;

// The support-difference searches sum products of points tens of metres out to find distances
// of millimetres; floats lose those to rounding, so the searches keep their points in doubles.
struct Double3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    constexpr Double3() = default;
    constexpr Double3(double x, double y, double z) : x(x), y(y), z(z) {}
    explicit constexpr Double3(const Float3& f) : x(f.x), y(f.y), z(f.z) {}

    constexpr Double3 operator+(const Double3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    constexpr Double3 operator-(const Double3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    constexpr Double3 operator*(double s) const { return {x * s, y * s, z * s}; }
    constexpr double Dot(const Double3& o) const { return x * o.x + y * o.y + z * o.z; }
    constexpr Double3 Cross(const Double3& o) const {
        return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x};
    }
    constexpr double LengthSquared() const { return Dot(*this); }
    constexpr bool operator==(const Double3& o) const = default;
    Float3 ToFloat() const {
        return Float3(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
    }
    // The unit vector as floats; zero stays zero, and a vector too short for floats still
    // keeps its way.
    Float3 Unit() const;
};

inline double LargestCoordinate(const Double3& p) {
    const double x = p.x < 0.0 ? -p.x : p.x;
    const double y = p.y < 0.0 ? -p.y : p.y;
    const double z = p.z < 0.0 ? -p.z : p.z;
    return x > y ? (x > z ? x : z) : (y > z ? y : z);
}
inline double LargestCoordinate(const Float3& p) {
    return LargestCoordinate(Double3(p));
}

// The largest distance rounding hides in float support points `reach` from the origin (the
// largest coordinate met): what the searches cannot tell from zero there.
constexpr double RoundingAt(double reach) {
    return 4.0 * FLT_EPSILON * reach;
}

// Support points of two volumes and of their difference B - A, keeping the largest coordinate
// met for the searches' tolerances.
class SupportDifferences {
public:
    SupportDifferences(CollisionVolume& a, CollisionVolume& b) : a_(a), b_(b) {}
    // B's point farthest along u less A's farthest against it, A first moved by `shift`.
    Double3 Along(const Double3& u, const Double3& shift = Double3());
    // Takes points found elsewhere into the reach.
    void Reach(const Double3& point);
    double Rounding() const { return RoundingAt(reach_); }

private:
    CollisionVolume& a_;
    CollisionVolume& b_;
    double reach_ = 0.0;
};

// The least way out of two overlapping convex volumes: an expanding polytope over their support
// differences, started from the overlap test's simplex about the origin (fewer than four points
// are grown to four). d comes back as the unit direction from A toward B along which A
// overlaps B least. False when no polytope about the origin can be built, as for a difference
// without volume (a point on a flat mesh).
bool LeastWayOut(SupportDifferences& support, std::span<const Double3> simplex, Float3& d);

} // namespace quarn
