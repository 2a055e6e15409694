#include "collision/ConvexRoute.h"

#include "collision/CollisionSpace.h"
#include "collision/CollisionVolume.h"
#include "collision/CollisionWorld.h"
#include "collision/FeatureColliders.h"

#include <cmath>
#include <limits>

namespace quarn {

namespace {

FeatureColliderEntry featureTable[FeatureKindCount][FeatureKindCount];

bool IsFeatureKind(int32_t kind) {
    return kind >= 0 && kind < FeatureKindCount;
}

// Johnson's distance subalgorithm over the simplex slots; one test at a time, as the state is
// shared.
class Simplex {
public:
    // The lowest free slot becomes the newest point; returns that slot.
    int Add(const Float3& w) {
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
    bool Contains(const Float3& w) const {
        for (int i = 0, bit = 1; i < 4; ++i, bit <<= 1) {
            if ((bits_ & bit) && y_[i].x == w.x && y_[i].y == w.y && y_[i].z == w.z) {
                return true;
            }
        }
        return false;
    }
    bool Full() const { return bits_ == 15; }
    // The smallest valid subset holding the newest point becomes the simplex and v the point of
    // its hull closest to the origin; false when none is valid.
    bool Closest(Float3& v) {
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
    Float3 Mix(const Float3 (&points)[4]) const { return Combination(bits_, points); }

private:
    void UpdateDeterminants() {
        for (int i = 0, bit = 1; i < 4; ++i, bit <<= 1) {
            if (bits_ & bit) {
                dp_[i][last_] = dp_[last_][i] = y_[i].Dot(y_[last_]);
            }
        }
        dp_[last_][last_] = y_[last_].Dot(y_[last_]);
        det_[lastBit_][last_] = 1.0f;
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
                if (det_[s][i] <= 0.0f) {
                    return false;
                }
            } else if (det_[s | bit][i] > 0.0f) {
                return false;
            }
        }
        return true;
    }
    Float3 Combination(int s, const Float3 (&points)[4]) const {
        float sum = 0.0f;
        Float3 v;
        for (int i = 0, bit = 1; i < 4; ++i, bit <<= 1) {
            if (s & bit) {
                sum += det_[s][i];
                v = v + points[i] * det_[s][i];
            }
        }
        return v * (1.0f / sum);
    }

    Float3 y_[4];
    float dp_[4][4] = {};
    float det_[16][4] = {};
    int bits_ = 0;
    int allBits_ = 0;
    int last_ = 0;
    int lastBit_ = 0;
};

constexpr int GjkIterations = 32;
constexpr float PenetrationMargin = 0.001f;

// A's support points moved by `shift`.
int Gjk(CollisionVolume& a, const Float3& shift, CollisionVolume& b, Float3& v) {
    Simplex simplex;
    for (int iteration = 0; iteration < GjkIterations; ++iteration) {
        const Float3 w = b.GetSupportPoint(v * -1.0f) - (a.GetSupportPoint(v) + shift);
        if (w.Dot(v) > 0.0f) {
            return 0;
        }
        if (simplex.Contains(w)) {
            return -1;
        }
        simplex.Add(w);
        if (!simplex.Closest(v)) {
            return -2;
        }
        if (simplex.Full() || v.LengthSquared() < 1e-8f) {
            return 1;
        }
    }
    return 2;
}

// Relative progress below which a distance search has converged, and the squared distance
// below which two shapes count as meeting.
constexpr float DistanceTolerance = 1e-6f;
constexpr float MeetSquared = 1e-10f;

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
    return Gjk(a, Float3(), b, v);
}

Float3 PenetrationDirection(CollisionVolume& a, CollisionVolume& b, Float3 d) {
    for (int iteration = 0; iteration < GjkIterations; ++iteration) {
        d = d.NormalizedOrSelf();
        const Float3 candidate = d;
        const float depth = OverlapAlong(a, b, d) - PenetrationMargin;
        const int result = Gjk(a, d * -depth, b, d);
        if (result > 0 || result == -1) {
            return candidate;
        }
    }
    return d;
}

bool FindContactDirection(CollisionVolume& a, CollisionVolume& b, Float3& d, bool warm) {
    if (!warm) {
        if (!SearchDirection(a, b, d)) {
            return false;
        }
        Refine(a, b, d);
        return true;
    }
    const float penetration = Refine(a, b, d);
    if (penetration <= 0.1f || searchRunning) {
        return true;
    }
    searchRunning = true;
    const bool found = SearchDirection(a, b, d);
    if (found) {
        Refine(a, b, d);
    }
    searchRunning = false;
    return found;
}

int FeatureContacts(CollisionVolume& a, CollisionVolume& b, const Float3& d,
                    std::span<CollisionContact> contacts) {
    const SupportFace* first = a.GetSupportFace(d);
    const SupportFace* second = b.GetSupportFace(d * -1.0f);
    if (!first || !second) {
        return 0;
    }
    return DispatchFeatureCollide(*first, *second, d, contacts);
}

bool SegmentClosestPoints(const Float3& start, const Float3& end, CollisionVolume& volume,
                          Float3& onSegment, Float3& onVolume) {
    Simplex simplex;
    Float3 segmentPoints[4];
    Float3 volumePoints[4];
    // The nearest point found so far of the segment less the volume.
    Float3 v = (start + end) * 0.5f - volume.GetWorldCenter();
    float nearest = std::numeric_limits<float>::max();
    onSegment = start;
    onVolume = volume.GetSupportPoint(start - end);
    for (int iteration = 0; iteration < GjkIterations; ++iteration) {
        const Float3 s = (end - start).Dot(v) > 0.0f ? start : end;
        const Float3 p = volume.GetSupportPoint(v);
        const Float3 w = s - p;
        const float vv = v.LengthSquared();
        if ((iteration > 0 && vv - v.Dot(w) <= DistanceTolerance * vv) || simplex.Contains(w)) {
            break;
        }
        const int slot = simplex.Add(w);
        segmentPoints[slot] = s;
        volumePoints[slot] = p;
        // A point the subalgorithm cannot place, or one that brings the simplex no nearer (rounding
        // about a flat simplex), ends the search with the nearest points found.
        if (!simplex.Closest(v) || !(v.LengthSquared() < nearest)) {
            break;
        }
        nearest = v.LengthSquared();
        onSegment = simplex.Mix(segmentPoints);
        onVolume = simplex.Mix(volumePoints);
        if (nearest < MeetSquared) {
            return false;
        }
        // Four points leave no room for a fifth; they enclose the origin but for rounding.
        if (simplex.Full()) {
            break;
        }
    }
    return true;
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
    Float3 v = d;
    const int overlap = GjkOverlap(a, b, v);
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
    if (!FindContactDirection(a, b, d, warm)) {
        return 0;
    }
    StoreDirection(space, a, b, d);
    const int count = along(a, b, d.NormalizedOrSelf(), contacts);
    for (int i = 0; i < count; ++i) {
        CollisionContact& contact = contacts[static_cast<size_t>(i)];
        contact.position = contact.position * -1.0f;
    }
    return count;
}

} // namespace quarn
