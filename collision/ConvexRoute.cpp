#include "collision/ConvexRoute.h"

#include "collision/CollisionSpace.h"
#include "collision/CollisionVolume.h"
#include "collision/CollisionWorld.h"
#include "collision/ContactRoutines.h"
#include "collision/ExpandingPolytope.h"
#include "collision/FeatureColliders.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarn {

namespace {

FeatureColliderEntry featureTable[FeatureKindCount][FeatureKindCount];

bool IsFeatureKind(int32_t kind) {
    return kind >= 0 && kind < FeatureKindCount;
}

// Johnson's distance subalgorithm over the simplex slots, in doubles: its determinants are
// differences of products of points that may lie far out.
class Simplex {
public:
    // The lowest free slot becomes the newest point; returns that slot.
    int Add(const Double3& w) {
        last_ = 0;
        lastBit_ = 1;
        while (bits_ & lastBit_) {
            ++last_;
            lastBit_ <<= 1;
        }
        y_[last_] = w;
        allBits_ = bits_ | lastBit_;
        UpdateDeterminants();
        return last_;
    }
    bool Contains(const Double3& w) const {
        for (int i = 0, bit = 1; i < 4; ++i, bit <<= 1) {
            if ((bits_ & bit) && y_[i] == w) {
                return true;
            }
        }
        return false;
    }
    bool Full() const { return bits_ == 15; }
    // The smallest valid subset holding the newest point becomes the simplex and v the point of
    // its hull closest to the origin; false when none is valid.
    bool Closest(Double3& v) {
        for (int s = bits_; s; --s) {
            if ((s & bits_) == s && IsValid(s | lastBit_)) {
                bits_ = s | lastBit_;
                v = Combination(bits_, y_);
                return true;
            }
        }
        if (IsValid(lastBit_)) {
            bits_ = lastBit_;
            v = y_[last_];
            return true;
        }
        return false;
    }
    // The simplex's weights applied to other points kept slot by slot, such as the support
    // points behind each difference.
    Float3 Mix(const Float3 (&points)[4]) const {
        Double3 wide[4];
        for (int i = 0; i < 4; ++i) {
            wide[i] = Double3(points[i]);
        }
        return Combination(bits_, wide).ToFloat();
    }
    // The points of the simplex, into `points`; returns their count.
    int Points(Double3 (&points)[4]) const {
        int count = 0;
        for (int i = 0, bit = 1; i < 4; ++i, bit <<= 1) {
            if (bits_ & bit) {
                points[count++] = y_[i];
            }
        }
        return count;
    }

private:
    void UpdateDeterminants() {
        for (int i = 0, bit = 1; i < 4; ++i, bit <<= 1) {
            if (bits_ & bit) {
                dp_[i][last_] = dp_[last_][i] = y_[i].Dot(y_[last_]);
            }
        }
        dp_[last_][last_] = y_[last_].Dot(y_[last_]);
        det_[lastBit_][last_] = 1.0;
        for (int j = 0, sj = 1; j < 4; ++j, sj <<= 1) {
            if (!(bits_ & sj)) {
                continue;
            }
            const int s2 = sj | lastBit_;
            det_[s2][j] = dp_[last_][last_] - dp_[last_][j];
            det_[s2][last_] = dp_[j][j] - dp_[j][last_];
            for (int k = 0, sk = 1; k < j; ++k, sk <<= 1) {
                if (!(bits_ & sk)) {
                    continue;
                }
                const int s3 = sk | s2;
                det_[s3][k] = det_[s2][j] * (dp_[j][j] - dp_[j][k]) +
                              det_[s2][last_] * (dp_[last_][j] - dp_[last_][k]);
                det_[s3][j] = det_[sk | lastBit_][k] * (dp_[k][k] - dp_[k][j]) +
                              det_[sk | lastBit_][last_] * (dp_[last_][k] - dp_[last_][j]);
                det_[s3][last_] = det_[sk | sj][k] * (dp_[k][k] - dp_[k][last_]) +
                                  det_[sk | sj][j] * (dp_[j][k] - dp_[j][last_]);
            }
        }
        if (allBits_ == 15) {
            det_[15][0] = det_[14][1] * (dp_[1][1] - dp_[1][0]) +
                          det_[14][2] * (dp_[2][1] - dp_[2][0]) +
                          det_[14][3] * (dp_[3][1] - dp_[3][0]);
            det_[15][1] = det_[13][0] * (dp_[0][0] - dp_[0][1]) +
                          det_[13][2] * (dp_[2][0] - dp_[2][1]) +
                          det_[13][3] * (dp_[3][0] - dp_[3][1]);
            det_[15][2] = det_[11][0] * (dp_[0][0] - dp_[0][2]) +
                          det_[11][1] * (dp_[1][0] - dp_[1][2]) +
                          det_[11][3] * (dp_[3][0] - dp_[3][2]);
            det_[15][3] = det_[7][0] * (dp_[0][0] - dp_[0][3]) +
                          det_[7][1] * (dp_[1][0] - dp_[1][3]) +
                          det_[7][2] * (dp_[2][0] - dp_[2][3]);
        }
    }
    bool IsValid(int s) const {
        for (int i = 0, bit = 1; i < 4; ++i, bit <<= 1) {
            if (!(allBits_ & bit)) {
                continue;
            }
            if (s & bit) {
                if (det_[s][i] <= 0.0) {
                    return false;
                }
            } else if (det_[s | bit][i] > 0.0) {
                return false;
            }
        }
        return true;
    }
    Double3 Combination(int s, const Double3 (&points)[4]) const {
        double sum = 0.0;
        Double3 v;
        for (int i = 0, bit = 1; i < 4; ++i, bit <<= 1) {
            if (s & bit) {
                sum += det_[s][i];
                v = v + points[i] * det_[s][i];
            }
        }
        return v * (1.0 / sum);
    }

    Double3 y_[4];
    double dp_[4][4] = {};
    double det_[16][4] = {};
    int bits_ = 0;
    int allBits_ = 0;
    int last_ = 0;
    int lastBit_ = 0;
};

constexpr int GjkIterations = 32;
constexpr float PenetrationMargin = 0.001f;
// The squared search vector below which the origin counts as on the simplex, where the
// rounding of the support points allows no finer.
constexpr double OnSimplexSquared = 1e-8;

// A's support points moved by `shift`; the simplex is left as the test ended.
int Gjk(SupportDifferences& support, const Double3& shift, Double3& v, Simplex& simplex) {
    for (int iteration = 0; iteration < GjkIterations; ++iteration) {
        const Double3 w = support.Along(v * -1.0, shift);
        if (w.Dot(v) > 0.0) {
            return 0;
        }
        const double rounding = support.Rounding();
        const double onSimplex = std::max(OnSimplexSquared, rounding * rounding);
        // No nearer point is left to find: the origin lies on the simplex but for rounding, or
        // off it.
        if (simplex.Contains(w)) {
            return v.LengthSquared() < onSimplex ? 1 : -1;
        }
        simplex.Add(w);
        if (!simplex.Closest(v)) {
            return -2;
        }
        if (simplex.Full() || v.LengthSquared() < onSimplex) {
            return 1;
        }
    }
    return 2;
}

// The overlap test from v, as Gjk; `points` gets the simplex when the test ended about the
// origin (1), the only end that leaves one to expand, and the count comes back as `pointCount`.
int OverlapTest(CollisionVolume& a, CollisionVolume& b, Double3& v, Double3 (&points)[4],
                int& pointCount) {
    SupportDifferences support(a, b);
    Simplex simplex;
    const int result = Gjk(support, Double3(), v, simplex);
    pointCount = result == 1 ? simplex.Points(points) : 0;
    return result;
}

// Relative progress below which a distance search has converged, and the squared distance
// below which two shapes count as meeting where rounding allows no finer.
constexpr float DistanceTolerance = 1e-6f;
constexpr double MeetSquared = 1e-10;

float OverlapAlong(CollisionVolume& a, CollisionVolume& b, const Float3& d) {
    return (a.GetSupportPoint(d) - b.GetSupportPoint(d * -1.0f)).Dot(d);
}

// The axes, the edge diagonals and the corner diagonals, in the order they are tried.
constexpr float D2 = 0.7071f;
constexpr float D3 = 0.57735f;
constexpr Float3 searchDirections[26] = {
    {-1, 0, 0},    {0, -1, 0},    {0, 0, -1},    {1, 0, 0},     {0, 1, 0},     {0, 0, 1},
    {-D2, -D2, 0}, {-D2, 0, -D2}, {0, -D2, -D2}, {-D2, D2, 0},  {-D2, 0, D2},  {0, -D2, D2},
    {D2, -D2, 0},  {D2, 0, -D2},  {0, D2, -D2},  {D2, D2, 0},   {D2, 0, D2},   {0, D2, D2},
    {-D3, -D3, -D3}, {-D3, -D3, D3}, {-D3, D3, -D3}, {-D3, D3, D3},
    {D3, -D3, -D3},  {D3, -D3, D3},  {D3, D3, -D3},  {D3, D3, D3},
};

// The candidate direction of least overlap; false when some candidate separates the pair.
bool SearchDirection(CollisionVolume& a, CollisionVolume& b, Float3& d) {
    Float3 best;
    float bestValue = 3.4028235e38f;
    const auto consider = [&](const Float3& u) {
        const float overlap = a.GetSupportDistance(u) + b.GetSupportDistance(u * -1.0f);
        if (overlap < bestValue) {
            bestValue = overlap;
            best = u;
        }
    };
    consider(d);
    for (const Float3& u : searchDirections) {
        consider(u);
    }
    for (int i = 0, count = a.GetFaceCount(); i < count; ++i) {
        consider(a.GetFaceNormal(i));
    }
    for (int i = 0, count = b.GetFaceCount(); i < count; ++i) {
        consider(b.GetFaceNormal(i) * -1.0f);
    }
    if (bestValue < 0.0f) {
        return false;
    }
    d = best;
    return true;
}

// Returns the penetration along the refined direction.
float Refine(CollisionVolume& a, CollisionVolume& b, Float3& d) {
    d = PenetrationDirection(a, b, d).NormalizedOrSelf();
    return OverlapAlong(a, b, d);
}

// The least way out from the overlap test's simplex, else the best of the fixed and face
// directions refined; false when one of those separates the pair. `overlap` comes back as the
// overlap along d.
bool SearchDirection(CollisionVolume& a, CollisionVolume& b, Float3& d,
                     std::span<const Double3> simplex, float& overlap) {
    SupportDifferences support(a, b);
    if (LeastWayOut(support, simplex, d)) {
        overlap = OverlapAlong(a, b, d);
        return true;
    }
    if (!SearchDirection(a, b, d)) {
        return false;
    }
    overlap = Refine(a, b, d);
    return true;
}

// Set while a warm route searches, so that nested tests never start a second search.
bool searchRunning = false;

uint32_t StepStamp() {
    const CollisionWorld* world = CollisionWorld::GetCurrent();
    return world ? world->GetStepCounter() : 0;
}

// Keeps d in the pair record, as seen from the record's first volume. A full cache stores
// nothing: the space counts the refusal and the pair starts cold next time.
void StoreDirection(CollisionSpace* space, CollisionVolume& a, CollisionVolume& b,
                    const Float3& d) {
    if (!space) {
        return;
    }
    CollisionPair* record = space->FindOrCreatePair(a, b);
    if (!record) {
        return;
    }
    record->direction = record->first == a.GetSerial() ? d : d * -1.0f;
    record->stamp = StepStamp();
}

} // namespace

void SetFeatureCollider(int32_t i, int32_t j, FeatureColliderFn collider) {
    if (!IsFeatureKind(i) || !IsFeatureKind(j)) {
        return;
    }
    featureTable[i][j] = {collider, 0};
    if (i != j) {
        featureTable[j][i] = {collider, 1};
    }
}

void InitFeatureColliders() {
    for (auto& row : featureTable) {
        for (FeatureColliderEntry& entry : row) {
            entry = FeatureColliderEntry();
        }
    }
    SetFeatureCollider(SupportFace::Disc, SupportFace::Vertex, CollideDiscVertex);
    SetFeatureCollider(SupportFace::Disc, SupportFace::Edge, CollideDiscEdge);
    SetFeatureCollider(SupportFace::Edge, SupportFace::Vertex, CollideEdgeVertex);
    SetFeatureCollider(SupportFace::Edge, SupportFace::Edge, CollideEdgeEdge);
    SetFeatureCollider(SupportFace::Polygon, SupportFace::Vertex, CollideFaceVertex);
    SetFeatureCollider(SupportFace::Polygon, SupportFace::Edge, CollideFaceEdge);
    SetFeatureCollider(SupportFace::Polygon, SupportFace::Disc, CollideFaceDisc);
    SetFeatureCollider(SupportFace::Polygon, SupportFace::Polygon, CollideFacePair);
}

FeatureColliderEntry LookupFeatureCollider(const SupportFace& first, const SupportFace& second) {
    if (!IsFeatureKind(first.kind) || !IsFeatureKind(second.kind)) {
        return FeatureColliderEntry();
    }
    return featureTable[first.kind][second.kind];
}

int DispatchFeatureCollide(const SupportFace& first, const SupportFace& second, const Float3& d,
                           std::span<CollisionContact> contacts) {
    const FeatureColliderEntry entry = LookupFeatureCollider(first, second);
    if (!entry.collider) {
        return 0;
    }
    if (!entry.swapped) {
        return entry.collider(first, second, d, contacts);
    }
    const int count = entry.collider(second, first, d * -1.0f, contacts);
    for (int i = 0; i < count; ++i) {
        CollisionContact& contact = contacts[static_cast<size_t>(i)];
        contact.normal = contact.normal * -1.0f;
    }
    return count;
}

int GjkOverlap(CollisionVolume& a, CollisionVolume& b, Float3& v) {
    Double3 search(v);
    Double3 points[4];
    int pointCount = 0;
    const int result = OverlapTest(a, b, search, points, pointCount);
    v = search.ToFloat();
    return result;
}

Float3 PenetrationDirection(CollisionVolume& a, CollisionVolume& b, Float3 d) {
    for (int iteration = 0; iteration < GjkIterations; ++iteration) {
        d = d.NormalizedOrSelf();
        const Float3 candidate = d;
        SupportDifferences support(a, b);
        const Double3 way(d);
        const double overlap = support.Along(way * -1.0).Dot(way * -1.0);
        const double depth = overlap - std::max<double>(PenetrationMargin, support.Rounding());
        Double3 v = way;
        Simplex simplex;
        const int result = Gjk(support, way * -depth, v, simplex);
        if (result > 0 || result == -1) {
            return candidate;
        }
        d = v.Unit();
    }
    return d;
}

namespace {

bool FindContactDirection(CollisionVolume& a, CollisionVolume& b, Float3& d, bool warm,
                          std::span<const Double3> simplex, float& overlap) {
    if (!warm) {
        return SearchDirection(a, b, d, simplex, overlap);
    }
    overlap = Refine(a, b, d);
    if (overlap <= 0.1f || searchRunning) {
        return true;
    }
    searchRunning = true;
    const bool found = SearchDirection(a, b, d, simplex, overlap);
    searchRunning = false;
    return found;
}

} // namespace

bool FindContactDirection(CollisionVolume& a, CollisionVolume& b, Float3& d, bool warm) {
    Double3 v(d);
    Double3 points[4];
    int pointCount = 0;
    OverlapTest(a, b, v, points, pointCount);
    float overlap = 0.0f;
    return FindContactDirection(a, b, d, warm, std::span(points, static_cast<size_t>(pointCount)),
                                overlap);
}

namespace {

// The distance search between a shape given by its support points `first(u)` (the farthest
// along u) and the volume: their nearest points, false when they meet (both points then one they
// share, as near as the search reaches). v is the first search vector, from the volume toward
// the first shape; `reach` the largest coordinate of the shapes known so far.
template <class FirstSupport>
bool NearestPoints(FirstSupport first, double reach, Double3 v, CollisionVolume& volume,
                   Float3& onFirst, Float3& onVolume) {
    Simplex simplex;
    Float3 firstPoints[4];
    Float3 volumePoints[4];
    double nearest = std::numeric_limits<double>::max();
    for (int iteration = 0; iteration < GjkIterations; ++iteration) {
        const Float3 u = v.Unit();
        const Float3 s = first(u * -1.0f);
        const Float3 p = volume.GetSupportPoint(u);
        reach = std::max({reach, LargestCoordinate(s), LargestCoordinate(p)});
        const Double3 w = Double3(s) - Double3(p);
        const double vv = v.LengthSquared();
        if ((iteration > 0 && vv - v.Dot(w) <= DistanceTolerance * vv) || simplex.Contains(w)) {
            break;
        }
        const int slot = simplex.Add(w);
        firstPoints[slot] = s;
        volumePoints[slot] = p;
        // A point the subalgorithm cannot place, or one that brings the simplex no nearer (rounding
        // about a flat simplex), ends the search with the nearest points found.
        if (!simplex.Closest(v) || !(v.LengthSquared() < nearest)) {
            break;
        }
        nearest = v.LengthSquared();
        onFirst = simplex.Mix(firstPoints);
        onVolume = simplex.Mix(volumePoints);
        const double rounding = RoundingAt(reach);
        if (nearest < std::max(MeetSquared, rounding * rounding)) {
            return false;
        }
        // Four points leave no room for a fifth; they enclose the origin but for rounding.
        if (simplex.Full()) {
            break;
        }
    }
    return true;
}

// Where the overlap is deepest along d: A moved back along d until it just clears B, the middle
// of their nearest points moved back with it. False when no such point is found.
bool DeepestPoint(CollisionVolume& a, CollisionVolume& b, const Float3& d, float overlap,
                  Float3& point) {
    const Float3 shift = d * -(overlap + WayOutSlack);
    Float3 onA;
    Float3 onB;
    const auto shifted = [&](const Float3& u) { return a.GetSupportPoint(u) + shift; };
    const double reach = LargestCoordinate(shift);
    if (!NearestPoints(shifted, reach, Double3(d) * -1.0, b, onA, onB)) {
        return false;
    }
    point = (onA - shift + onB) * 0.5f;
    return point.IsFinite();
}

// Feature contacts meet only where the features lie: along a way between two edges, the faces
// met lead out another way, and a disc's rim points may be taken deeper than the way out along
// their normal. Contacts that lead out longer than d does, or claim more depth than their way
// out, go; where none is left that reaches d's overlap, the deepest point along d stands for
// it.
int KeepLeastWayOut(CollisionVolume& a, CollisionVolume& b, const Float3& d, float least,
                    std::span<CollisionContact> contacts, int count) {
    // The overlap along a way moves no faster than the pair's extent as the way turns: a normal
    // that close to d needs no support points of its own.
    const Aabb boxA = a.GetWorldBoundingBox();
    const Aabb boxB = b.GetWorldBoundingBox();
    const float extent = ((boxA.max - boxA.min).Length() + (boxB.max - boxB.min).Length() +
                          (boxA.max + boxA.min - boxB.max - boxB.min).Length()) *
                         0.5f;
    Float3 lastNormal;
    float lastLow = 0.0f;
    float lastHigh = 0.0f;
    int kept = 0;
    float deepest = -std::numeric_limits<float>::max();
    for (int i = 0; i < count; ++i) {
        const CollisionContact& contact = contacts[static_cast<size_t>(i)];
        if (i == 0 || contact.normal != lastNormal) {
            lastNormal = contact.normal;
            const float turn = extent * (lastNormal - d).Length();
            if (turn <= WayOutSlack * 0.5f) {
                lastLow = least - turn;
                lastHigh = least + turn;
            } else {
                lastLow = lastHigh = OverlapAlong(a, b, lastNormal);
            }
        }
        if (lastHigh <= least + WayOutSlack && contact.depth <= lastLow + WayOutSlack) {
            deepest = std::max(deepest, contact.depth);
            contacts[static_cast<size_t>(kept++)] = contact;
        }
    }
    if (deepest >= least - WayOutSlack || contacts.empty()) {
        return kept;
    }
    Float3 point;
    if (!DeepestPoint(a, b, d, least, point)) {
        return kept > 0 ? kept : count;
    }
    const size_t slot = std::min(static_cast<size_t>(kept), contacts.size() - 1);
    SetContact(contacts[slot], point, d, least);
    return static_cast<int>(slot) + 1;
}

} // namespace

int FeatureContacts(CollisionVolume& a, CollisionVolume& b, const Float3& d, float overlap,
                    std::span<CollisionContact> contacts) {
    const SupportFace* first = a.GetSupportFace(d);
    const SupportFace* second = b.GetSupportFace(d * -1.0f);
    // Features that never meet (a vertex and a vertex) keep the pair without contacts.
    if (!first || !second || !LookupFeatureCollider(*first, *second).collider) {
        return 0;
    }
    const int count = DispatchFeatureCollide(*first, *second, d, contacts);
    return KeepLeastWayOut(a, b, d, overlap, contacts, count);
}

bool SegmentClosestPoints(const Float3& start, const Float3& end, CollisionVolume& volume,
                          Float3& onSegment, Float3& onVolume) {
    const Float3 along = end - start;
    const auto segment = [&](const Float3& u) { return along.Dot(u) >= 0.0f ? end : start; };
    onSegment = start;
    onVolume = volume.GetSupportPoint(start - end);
    const double reach = std::max(LargestCoordinate(start), LargestCoordinate(end));
    const Double3 v = Double3((start + end) * 0.5f) - Double3(volume.GetWorldCenter());
    return NearestPoints(segment, reach, v, volume, onSegment, onVolume);
}

int CollideConvexPair(CollisionVolume& a, CollisionVolume& b, std::span<CollisionContact> contacts,
                      ConvexContactsFn along) {
    CollisionSpace* space = a.GetSpace();
    Float3 d;
    bool warm = false;
    if (space) {
        if (const CollisionPair* record = space->FindPair(a, b)) {
            if (record->direction.LengthSquared() > 0.0f) {
                d = record->first == a.GetSerial() ? record->direction
                                                   : record->direction * -1.0f;
                warm = true;
            }
        }
    }
    if (!warm) {
        d = (b.GetWorldCenter() - a.GetWorldCenter()).NormalizedOrSelf();
    }
    Double3 v(d);
    Double3 points[4];
    int pointCount = 0;
    const int overlap = OverlapTest(a, b, v, points, pointCount);
    if (overlap < 0) {
        return 0;
    }
    if (overlap == 0) {
        if (v.LengthSquared() > 0.0001f) {
            StoreDirection(space, a, b, d);
        }
        return 0;
    }
    if (a.HasCollFlags(CollLogical) ||
        b.HasCollFlags(CollLogical)) {
        // One contact of depth 0 at the midpoint, so that readers of the first contact see
        // this pair rather than whatever the array held.
        if (contacts.empty()) {
            return 1;
        }
        const Float3 middle = (a.GetWorldCenter() + b.GetWorldCenter()) * 0.5f;
        const Float3 normal = d.LengthSquared() > 0.0f ? d : Float3(1.0f, 0.0f, 0.0f);
        contacts[0] = {middle * -1.0f, normal, 0.0f};
        return 1;
    }
    float depth = 0.0f;
    if (!FindContactDirection(a, b, d, warm, std::span(points, static_cast<size_t>(pointCount)),
                              depth)) {
        return 0;
    }
    StoreDirection(space, a, b, d);
    const int count = along(a, b, d.NormalizedOrSelf(), depth, contacts);
    for (int i = 0; i < count; ++i) {
        CollisionContact& contact = contacts[static_cast<size_t>(i)];
        contact.position = contact.position * -1.0f;
    }
    return count;
}

} // namespace quarn
