#include "core/math/Geometry.h"

#include <algorithm>
#include <cmath>

namespace quarn {

namespace {

// pi/180 as the float the camera code has always used; a more exact factor would move culling
// edges by a fraction of a pixel.
constexpr float DegreesToRadians = 0.017453292f;
constexpr float RayFar = 1e24f;

float Component(const Float3& v, int axis) {
    return axis == 0 ? v.x : (axis == 1 ? v.y : v.z);
}

void SetComponent(Float3& v, int axis, float value) {
    (axis == 0 ? v.x : (axis == 1 ? v.y : v.z)) = value;
}

} // namespace

void FrustumSidePlanes(ViewPlanes& planes, float horizontalDegrees, float verticalDegrees) {
    const float ha = horizontalDegrees * DegreesToRadians * 0.5f;
    const float hb = verticalDegrees * DegreesToRadians * 0.5f;
    const float ca = std::cos(ha);
    const float sa = std::sin(ha);
    const float cb = std::cos(hb);
    const float sb = std::sin(hb);
    planes.normal[0] = {-ca, 0.0f, -sa};
    planes.normal[1] = {ca, 0.0f, -sa};
    planes.normal[2] = {0.0f, cb, -sb};
    planes.normal[3] = {0.0f, -cb, -sb};
}

uint32_t PlaneSideMask(const ViewPlanes& planes, const Float3& point) {
    uint32_t mask = 0;
    for (int i = 0; i < 4; ++i) {
        if (planes.normal[i].Dot(point) > 0.0f) {
            mask |= 1u << i;
        }
    }
    return mask;
}

int32_t SphereAgainstPlanes(const ViewPlanes& planes, const Float3& centre, float radius) {
    int32_t state = SphereInside;
    for (const Float3& normal : planes.normal) {
        const float d = normal.Dot(centre);
        if (state == SphereInside) {
            if (d < -radius) {
                continue;
            }
            state = SphereStraddlingCentreInside;
        }
        if (state == SphereStraddlingCentreInside) {
            if (d < 0.0f) {
                continue;
            }
            state = SphereStraddlingCentreOutside;
        }
        if (d > radius) {
            return SphereOutside;
        }
    }
    return state;
}

void Aabb::AddPoint(const Float3& point) {
    min = {std::min(min.x, point.x), std::min(min.y, point.y), std::min(min.z, point.z)};
    max = {std::max(max.x, point.x), std::max(max.y, point.y), std::max(max.z, point.z)};
}

void Aabb::AddBox(const Aabb& box) {
    min = {std::min(min.x, box.min.x), std::min(min.y, box.min.y), std::min(min.z, box.min.z)};
    max = {std::max(max.x, box.max.x), std::max(max.y, box.max.y), std::max(max.z, box.max.z)};
}

bool Aabb::Contains(const Float3& point) const {
    return point.x >= min.x && point.x <= max.x && point.y >= min.y && point.y <= max.y &&
           point.z >= min.z && point.z <= max.z;
}

float Aabb::RayIntersect(const Float3& origin, const Float3& direction, Float3* normal) const {
    float nearT[3];
    float farT[3];
    for (int axis = 0; axis < 3; ++axis) {
        const float o = Component(origin, axis);
        const float d = Component(direction, axis);
        const float lo = Component(min, axis);
        const float hi = Component(max, axis);
        if (d == 0.0f) {
            if (o < lo || o > hi) {
                return -1.0f;
            }
            nearT[axis] = -RayFar;
            farT[axis] = RayFar;
        } else if (d > 0.0f) {
            nearT[axis] = (lo - o) / d;
            farT[axis] = (hi - o) / d;
        } else {
            nearT[axis] = (hi - o) / d;
            farT[axis] = (lo - o) / d;
        }
        if (farT[axis] < 0.0f) {
            return -1.0f;
        }
    }
    // Every near against every far, the same axis included: on a valid box that pair never
    // decides, but an inverted (empty) box must not be hit. Written as !(<=) so NaN misses.
    int entry = 0;
    for (int axis = 1; axis < 3; ++axis) {
        if (nearT[axis] > nearT[entry]) {
            entry = axis;
        }
    }
    const float farthestEntry = nearT[entry];
    if (!(farthestEntry <= std::min({farT[0], farT[1], farT[2]}))) {
        return -1.0f;
    }
    if (normal != nullptr) {
        *normal = {};
        SetComponent(*normal, entry, Component(direction, entry) >= 0.0f ? -1.0f : 1.0f);
    }
    return farthestEntry > 0.0f ? farthestEntry : 0.0f;
}

void Aabb::GetCenter(Float3& centre, float* radius) const {
    centre = (min + max) * 0.5f;
    if (radius != nullptr) {
        *radius = 0.5f * (max - min).Length();
    }
}

Float3 Aabb::ClosestPoint(const Float3& point) const {
    // Written without std::clamp, whose precondition min <= max an inverted box would break.
    const auto clampAxis = [](float value, float lo, float hi) {
        return value < lo ? lo : (value > hi ? hi : value);
    };
    return {clampAxis(point.x, min.x, max.x), clampAxis(point.y, min.y, max.y),
            clampAxis(point.z, min.z, max.z)};
}

float Aabb::DistanceToPoint(const Float3& point) const {
    return (ClosestPoint(point) - point).Length();
}

uint32_t NextPowerOfTwo(uint32_t n) {
    uint32_t v = n - 1;
    v |= v >> 1;
    v |= v >> 2;
    v |= v >> 4;
    v |= v >> 8;
    v |= v >> 16;
    return v + 1;
}

} // namespace quarn
