#include "core/math/Intersection.h"

#include <algorithm>
#include <cmath>

namespace quarn {

float SignedAngle2D(Float2 a, Float2 b) {
    a.Normalize();
    b.Normalize();
    const float angle = SafeAcos(a.x * b.x + a.y * b.y);
    return a.x * b.y - a.y * b.x < 0.0f ? -angle : angle;
}

namespace {

// The shared tail of both triangle tests once det is known to be usable; every step stays in
// float. Written so that a NaN from degenerate input fails the range checks and misses.
float TriangleParameter(const Float3& origin, const Float3& direction, const Float3& c0,
                        const Float3& e1, const Float3& e2, const Float3& p, float det) {
    const float inv = 1.0f / det;
    const Float3 s = origin - c0;
    const float u = s.Dot(p) * inv;
    if (!(u >= 0.0f && u <= 1.0f)) {
        return NoHit;
    }
    const Float3 q = s.Cross(e1);
    const float v = direction.Dot(q) * inv;
    if (!(v >= 0.0f && u + v <= 1.0f)) {
        return NoHit;
    }
    return e2.Dot(q) * inv;
}

} // namespace

float RayTriangleIntersect(const Float3& origin, const Float3& direction, const Float3& c0,
                           const Float3& c1, const Float3& c2) {
    const Float3 e1 = c1 - c0;
    const Float3 e2 = c2 - c0;
    const Float3 p = direction.Cross(e2);
    const float det = p.Dot(e1);
    // det = -direction . (e1 x e2): only rays running along that normal can hit; det = 0 is a
    // ray in the triangle's plane, which would only give 0/0.
    if (!(det < 0.0f)) {
        return NoHit;
    }
    return TriangleParameter(origin, direction, c0, e1, e2, p, det);
}

float RayTriangleHit(const Float3& origin, const Float3& direction, const Float3& c0,
                     const Float3& c1, const Float3& c2, bool* side) {
    const Float3 e1 = c1 - c0;
    const Float3 e2 = c2 - c0;
    const Float3 p = direction.Cross(e2);
    const float det = p.Dot(e1);
    if (!(det <= -1e-5f || det >= 1e-5f)) {
        return NoHit;
    }
    const float t = TriangleParameter(origin, direction, c0, e1, e2, p, det);
    if (t != NoHit && side != nullptr) {
        *side = det > 0.0f;
    }
    return t;
}

bool SegmentIntersect2D(const Float2& p0, const Float2& d0, const Float2& p1, const Float2& d1,
                        float& t, float& s) {
    const float cross = d0.y * d1.x - d0.x * d1.y;
    if (cross == 0.0f) {
        return false;
    }
    const float ex = p0.x - p1.x;
    const float ey = p0.y - p1.y;
    t = (ex * d1.y - ey * d1.x) / cross;
    s = (ey * d0.x - ex * d0.y) / -cross;
    return t >= 0.0f && t <= 1.0f && s >= 0.0f && s <= 1.0f;
}

namespace {

// Newton's method on the Lagrange multiplier t of the nearest-point condition, for a point off
// both axes. The quartic is f(t) = (t+a^2)^2 (t+b^2)^2 (1 - F(t)), where F(t) = 1 exactly when
// the candidate point lies on the ellipse. |f| grows with the eighth power of the ellipse's size
// and shrinks with its short axis, so a fixed bound on |f| stops at once for a small ellipse
// (answering with the point itself) and percents off for an eccentric one; we bound |1 - F|.
void NearestOnEllipse(double a, double b, double x, double y, double& cx, double& cy) {
    const double a2 = a * a;
    const double b2 = b * b;
    const double ax2 = a2 * x * x;
    const double by2 = b2 * y * y;
    // Both starts lie right of the wanted root, where the iteration falls onto it from above.
    const bool inside = x * x / a2 + y * y / b2 <= 1.0;
    double t = inside ? 0.0 : std::max(a, b) * std::sqrt(x * x + y * y);
    for (int step = 0; step < 64; ++step) {
        const double ta = t + a2;
        const double tb = t + b2;
        const double f = ta * ta * tb * tb - ax2 * tb * tb - by2 * ta * ta;
        if (std::fabs(f) < 1e-6 * ta * ta * tb * tb) {
            break;
        }
        const double slope = 2.0 * ta * tb * (ta + tb) - 2.0 * ax2 * tb - 2.0 * by2 * ta;
        if (slope == 0.0) {
            break;
        }
        t -= f / slope;
    }
    cx = a2 * x / (t + a2);
    cy = b2 * y / (t + b2);
}

} // namespace

float DistancePointEllipse2D(float aIn, float bIn, float xIn, float yIn, Float2& closest) {
    // Only the squares enter the general route; the special cases below need the magnitudes
    // (a clamp range of [b, -b] would be empty).
    const double a = std::fabs(static_cast<double>(aIn));
    const double b = std::fabs(static_cast<double>(bIn));
    const double x = xIn;
    const double y = yIn;
    double cx = 0.0;
    double cy = 0.0;
    if (a == 0.0 || b / a > 10000.0) {
        cy = std::clamp(y, -b, b);
    } else if (b == 0.0 || a / b > 10000.0) {
        cx = std::clamp(x, -a, a);
    } else if (std::fabs(x) <= 1e-12) {
        // On the Y axis. Inside a tall ellipse the nearest points leave the axis (one on each
        // side); we take the one on the point's side, as the general route would.
        if (a < b && std::fabs(y) < b - a * a / b) {
            cy = b * b * y / (b * b - a * a);
            cx = std::copysign(a * std::sqrt(std::fabs(1.0 - (cy / b) * (cy / b))), x);
        } else {
            cy = y >= 0.0 ? b : -b;
        }
    } else if (std::fabs(y) <= 1e-12) {
        if (b < a && std::fabs(x) < a - b * b / a) {
            cx = a * a * x / (a * a - b * b);
            cy = std::copysign(b * std::sqrt(std::fabs(1.0 - (cx / a) * (cx / a))), y);
        } else {
            cx = x >= 0.0 ? a : -a;
        }
    } else {
        NearestOnEllipse(a, b, x, y, cx, cy);
    }
    closest = Float2(static_cast<float>(cx), static_cast<float>(cy));
    return static_cast<float>(std::hypot(x - cx, y - cy));
}

float RaySphereIntersect(const Float3& origin, const Float3& direction, const Float3& centre,
                         float radius, Float3* normal) {
    const Float3 d = origin - centre;
    const float c = d.LengthSquared() - radius * radius;
    if (c <= 0.0f) {
        if (normal != nullptr) {
            *normal = d.NormalizedOrSelf();
        }
        return 0.0f;
    }
    const float a = direction.LengthSquared();
    const float b = direction.Dot(d);
    const float disc = b * b - c * a;
    // A zero direction from outside never reaches the sphere (and would divide 0 by 0).
    if (disc < 0.0f || a == 0.0f) {
        return NoHit;
    }
    const float t = (-b - SafeSqrt(disc)) / a;
    if (normal != nullptr) {
        *normal = (origin + direction * t - centre).NormalizedOrSelf();
    }
    return t;
}

} // namespace quarn
