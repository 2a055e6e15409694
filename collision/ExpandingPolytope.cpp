#include "collision/ExpandingPolytope.h"

#include "collision/CollisionVolume.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace quarn {

Float3 Double3::Unit() const {
    const double length = std::sqrt(LengthSquared());
    if (!(length > 0.0)) {
        return Float3();
    }
    return (*this * (1.0 / length)).ToFloat();
}

Double3 SupportDifferences::Along(const Double3& u, const Double3& shift) {
    const Float3 direction = u.Unit();
    const Float3 onB = b_.GetSupportPoint(direction);
    const Float3 onA = a_.GetSupportPoint(direction * -1.0f);
    reach_ = std::max({reach_, LargestCoordinate(onA), LargestCoordinate(onB)});
    return Double3(onB) - (Double3(onA) + shift);
}

void SupportDifferences::Reach(const Double3& point) {
    reach_ = std::max(reach_, LargestCoordinate(point));
}

namespace {

// Each expansion adds a point; a curved pair would go on adding them as the polytope nears its
// surface, so the search stops here with the best face found.
constexpr int MaxExpansions = 64;
// The depth a curved pair is resolved to, where rounding would allow finer.
constexpr double LeastTolerance = 1e-5;

struct PolytopeFace {
    int corner[3];
    Double3 normal;        // outward, unit
    double distance = 0.0; // of its plane from the origin
};

// Process-wide so that its storage, grown to the largest search met, is kept from one search to
// the next: one search at a time.
struct Polytope {
    std::vector<Double3> points;
    std::vector<PolytopeFace> faces;
    std::vector<std::pair<int, int>> horizon;

    // The face on three points, its normal along (j - i) x (k - i); false when they span no
    // plane.
    bool AddFace(int i, int j, int k) {
        const Double3 n = (points[j] - points[i]).Cross(points[k] - points[i]);
        const double length = std::sqrt(n.LengthSquared());
        if (!(length > 0.0)) {
            return false;
        }
        PolytopeFace face{{i, j, k}, n * (1.0 / length)};
        face.distance = face.normal.Dot(points[i]);
        faces.push_back(face);
        return true;
    }
    // Removes the faces that see p, keeping the loop of edges that bounded them.
    void RemoveSeenFaces(const Double3& p) {
        horizon.clear();
        for (size_t f = 0; f < faces.size();) {
            const PolytopeFace& face = faces[f];
            if (face.normal.Dot(p - points[face.corner[0]]) <= 0.0) {
                ++f;
                continue;
            }
            for (int e = 0; e < 3; ++e) {
                const int from = face.corner[e];
                const int to = face.corner[(e + 1) % 3];
                // An edge both of whose faces go lies inside the hole.
                const auto reverse =
                    std::find(horizon.begin(), horizon.end(), std::make_pair(to, from));
                if (reverse != horizon.end()) {
                    *reverse = horizon.back();
                    horizon.pop_back();
                } else {
                    horizon.emplace_back(from, to);
                }
            }
            faces[f] = faces.back();
            faces.pop_back();
        }
    }
    const PolytopeFace& Nearest() const {
        const PolytopeFace* nearest = &faces[0];
        for (const PolytopeFace& face : faces) {
            if (face.distance < nearest->distance) {
                nearest = &face;
            }
        }
        return *nearest;
    }
};

Polytope polytope;

double DistanceFromLine(const Double3& p, const Double3& a, const Double3& b) {
    const Double3 e = b - a;
    const double ee = e.LengthSquared();
    const Double3 w = p - a;
    if (!(ee > 0.0)) {
        return std::sqrt(w.LengthSquared());
    }
    return std::sqrt(w.Cross(e).LengthSquared() / ee);
}

// Two unit vectors across the unit-free direction e, fixed by its largest component.
void Across(const Double3& e, Double3& u, Double3& v) {
    const Double3 axis =
        std::fabs(e.x) <= std::fabs(e.y) && std::fabs(e.x) <= std::fabs(e.z)
            ? Double3(1, 0, 0)
            : (std::fabs(e.y) <= std::fabs(e.z) ? Double3(0, 1, 0) : Double3(0, 0, 1));
    u = e.Cross(axis);
    u = u * (1.0 / std::sqrt(u.LengthSquared()));
    v = e.Cross(u);
    v = v * (1.0 / std::sqrt(v.LengthSquared()));
}

// Grows the simplex, whose hull holds the origin or passes within rounding of it, to four
// points spanning a volume, with support differences across what it lacks.
bool GrowToTetrahedron(SupportDifferences& support, std::vector<Double3>& points) {
    const auto tolerance = [&] { return std::max(LeastTolerance, support.Rounding()); };
    if (points.size() == 1) {
        for (const Double3& u : {Double3(1, 0, 0), Double3(-1, 0, 0), Double3(0, 1, 0),
                                 Double3(0, -1, 0), Double3(0, 0, 1), Double3(0, 0, -1)}) {
            const Double3 w = support.Along(u);
            if (std::sqrt((w - points[0]).LengthSquared()) > tolerance()) {
                points.push_back(w);
                break;
            }
        }
    }
    if (points.size() == 2) {
        Double3 u;
        Double3 v;
        Across(points[1] - points[0], u, v);
        // Six ways round the line, 60 degrees apart.
        constexpr double Cos60 = 0.5;
        constexpr double Sin60 = 0.8660254037844386;
        const double turns[6][2] = {{1, 0},  {Cos60, Sin60},   {-Cos60, Sin60},
                                    {-1, 0}, {-Cos60, -Sin60}, {Cos60, -Sin60}};
        for (const auto& turn : turns) {
            const Double3 w = support.Along(u * turn[0] + v * turn[1]);
            if (DistanceFromLine(w, points[0], points[1]) > tolerance()) {
                points.push_back(w);
                break;
            }
        }
    }
    if (points.size() == 3) {
        Double3 n = (points[1] - points[0]).Cross(points[2] - points[0]);
        if (!(n.LengthSquared() > 0.0)) {
            return false;
        }
        n = n * (1.0 / std::sqrt(n.LengthSquared()));
        const Double3 above = support.Along(n);
        const Double3 below = support.Along(n * -1.0);
        const double up = n.Dot(above - points[0]);
        const double down = -n.Dot(below - points[0]);
        points.push_back(up >= down ? above : below);
    }
    if (points.size() != 4) {
        return false;
    }
    const double volume = std::fabs(
        (points[1] - points[0]).Dot((points[2] - points[0]).Cross(points[3] - points[0])));
    // Against the largest edge cubed: a sliver has no trustworthy face normals.
    double edge = 0.0;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < i; ++j) {
            edge = std::max(edge, (points[i] - points[j]).LengthSquared());
        }
    }
    return volume > 1e-9 * edge * std::sqrt(edge) && volume > 0.0;
}

} // namespace

bool LeastWayOut(SupportDifferences& support, std::span<const Double3> simplex, Float3& d) {
    if (simplex.empty() || simplex.size() > 4) {
        return false;
    }
    Polytope& p = polytope;
    p.points.assign(simplex.begin(), simplex.end());
    p.faces.clear();
    for (const Double3& point : simplex) {
        support.Reach(point);
    }
    if (!GrowToTetrahedron(support, p.points)) {
        return false;
    }
    const Double3 inside = (p.points[0] + p.points[1] + p.points[2] + p.points[3]) * 0.25;
    constexpr int tetrahedron[4][3] = {{0, 1, 2}, {0, 3, 1}, {0, 2, 3}, {1, 3, 2}};
    for (const auto& corners : tetrahedron) {
        int i = corners[0];
        int j = corners[1];
        int k = corners[2];
        const Double3 n = (p.points[j] - p.points[i]).Cross(p.points[k] - p.points[i]);
        if (n.Dot(inside - p.points[i]) > 0.0) {
            std::swap(j, k);
        }
        if (!p.AddFace(i, j, k)) {
            return false;
        }
    }
    PolytopeFace nearest = p.Nearest();
    for (int expansion = 0; expansion < MaxExpansions; ++expansion) {
        const Double3 w = support.Along(nearest.normal);
        const double tolerance = std::max(LeastTolerance, support.Rounding());
        if (nearest.normal.Dot(w) - nearest.distance <= tolerance) {
            break;
        }
        const int added = static_cast<int>(p.points.size());
        p.points.push_back(w);
        p.RemoveSeenFaces(w);
        bool closed = !p.horizon.empty();
        for (const auto& [from, to] : p.horizon) {
            closed = closed && p.AddFace(from, to, added);
        }
        // A hole rounding left open: the last whole polytope's nearest face stands.
        if (!closed) {
            break;
        }
        nearest = p.Nearest();
    }
    d = (nearest.normal * -1.0).Unit();
    return d.LengthSquared() > 0.0f;
}

} // namespace quarn
