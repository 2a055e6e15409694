#include "collision/CollisionBox.h"
#include "collision/ContactRoutines.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarn {

namespace {

constexpr int MostContacts = 8;
// Edge pairs at least this parallel are not tested: their cross product is too short to trust.
constexpr float ParallelEdges = 0.99f;
// A masked-out face loses this much of its separation per unit of projection.
constexpr float FaceMaskBias = 0.2f;
// An edge axis must beat the face choice by 5 % of its own value, and penetrate at least this.
constexpr float EdgePreference = 1.05f;
constexpr float EdgeMinimumPenetration = -0.0001f;
constexpr float Untested = -std::numeric_limits<float>::max();

// One box in the negated frame.
struct BoxFrame {
    Float3 centre;
    Float3 axes[3];
    float half[3];
    int32_t face;

    explicit BoxFrame(CollisionBox& box) {
        box.GetWorldFrame(axes, centre);
        centre = centre * -1.0f;
        const Float3 size = box.GetSize() * 0.5f;
        half[0] = size.x;
        half[1] = size.y;
        half[2] = size.z;
        face = box.GetFace();
    }
    // Half the box's extent along a direction (its length scaling the result).
    float Radius(const Float3& direction) const {
        return half[0] * std::fabs(axes[0].Dot(direction)) +
               half[1] * std::fabs(axes[1].Dot(direction)) +
               half[2] * std::fabs(axes[2].Dot(direction));
    }
};

int LargestFaceSeparation(const float (&s)[15]) {
    int best = 0;
    for (int k = 1; k < 6; ++k) {
        if (s[k] > s[best]) {
            best = k;
        }
    }
    return best;
}

// Clips a polygon (at most 8 points) to [-h0, h0] x [-h1, h1], keeping points on the border.
int ClipToRectangle(const Float2* input, int count, float h0, float h1, Float2* output) {
    Float2 buffer[2][MostContacts];
    std::copy(input, input + count, buffer[0]);
    int current = 0;
    for (int direction = 0; direction < 2; ++direction) {
        const float limit = direction == 0 ? h0 : h1;
        for (float sign : {1.0f, -1.0f}) {
            const Float2* in = buffer[current];
            Float2* out = buffer[1 - current];
            int written = 0;
            const auto inside = [&](const Float2& p) {
                return sign * (direction == 0 ? p.x : p.y) <= limit;
            };
            for (int i = 0; i < count && written < MostContacts; ++i) {
                const Float2& p = in[i];
                const Float2& q = in[i + 1 < count ? i + 1 : 0]; // no division per point
                if (inside(p)) {
                    out[written++] = p;
                }
                if (inside(p) != inside(q) && written < MostContacts) {
                    const float pv = sign * (direction == 0 ? p.x : p.y);
                    const float qv = sign * (direction == 0 ? q.x : q.y);
                    const float t = (limit - pv) / (qv - pv);
                    out[written++] = Float2(p.x + t * (q.x - p.x), p.y + t * (q.y - p.y));
                }
            }
            count = written;
            current = 1 - current;
        }
    }
    std::copy(buffer[current], buffer[current] + count, output);
    return count;
}

// The most facing axis of a box: x over y when equal; z when at least as large as both, or
// only when strictly larger.
int MostFacingAxis(const BoxFrame& box, const Float3& direction, bool zWinsTies) {
    const float q[3] = {std::fabs(box.axes[0].Dot(direction)),
                        std::fabs(box.axes[1].Dot(direction)),
                        std::fabs(box.axes[2].Dot(direction))};
    const int k = q[1] > q[0] ? 1 : 0;
    return (zWinsTies ? q[2] >= q[k] : q[2] > q[k]) ? 2 : k;
}

// The other box's face most facing the reference box lies inside it: its corners below the
// reference face. n points from the reference box toward the other.
int ContainedContacts(const BoxFrame& reference, const BoxFrame& other, int c, const Float3& n,
                      bool negate, std::span<CollisionContact> contacts) {
    const Float3 face = reference.centre + n * reference.half[c];
    const int k = MostFacingAxis(other, n, false);
    const int u = (k + 1) % 3;
    const int v = (k + 2) % 3;
    const float side = n.Dot(other.axes[k]) >= 0.0f ? -1.0f : 1.0f;
    const Float3 centre = other.centre + other.axes[k] * (side * other.half[k]);
    const Float3 du = other.axes[u] * other.half[u];
    const Float3 dv = other.axes[v] * other.half[v];
    const Float3 corners[4] = {centre - du - dv, centre + du - dv, centre + du + dv,
                               centre - du + dv};
    int count = 0;
    for (const Float3& x : corners) {
        const float depth = n.Dot(face - x);
        if (depth >= 0.0f && static_cast<size_t>(count) < contacts.size()) {
            SetContact(contacts[static_cast<size_t>(count++)], x, negate ? n * -1.0f : n, depth);
        }
    }
    return count;
}

// The incident face of the other box clipped to the reference face c, each point at its own
// depth below that face. nReference points from the reference box toward the other; the
// contacts take the pair's normal.
int FaceContacts(const BoxFrame& reference, const BoxFrame& other, int c, const Float3& nReference,
                 const Float3& contactNormal, std::span<CollisionContact> contacts) {
    const int k = MostFacingAxis(other, nReference, true);
    const float side = nReference.Dot(other.axes[k]) >= 0.0f ? -1.0f : 1.0f;
    const Float3 centre = other.centre - reference.centre + other.axes[k] * (side * other.half[k]);
    const int u = (k + 1) % 3;
    const int v = (k + 2) % 3;
    const Float3 du = other.axes[u] * other.half[u];
    const Float3 dv = other.axes[v] * other.half[v];
    const Float3 corners[4] = {centre + du + dv, centre - du + dv, centre - du - dv,
                               centre + du - dv};
    const int i1 = std::min((c + 1) % 3, (c + 2) % 3);
    const int i2 = std::max((c + 1) % 3, (c + 2) % 3);
    const Float3& r1 = reference.axes[i1];
    const Float3& r2 = reference.axes[i2];
    Float2 polygon[4];
    for (int i = 0; i < 4; ++i) {
        polygon[i] = Float2(corners[i].Dot(r1), corners[i].Dot(r2));
    }
    Float2 clipped[MostContacts];
    const int clippedCount =
        ClipToRectangle(polygon, 4, reference.half[i1], reference.half[i2], clipped);
    // Back onto the incident face's plane, along the reference axis.
    const Float3& incident = other.axes[k];
    const Float3& rc = reference.axes[c];
    const float across = incident.Dot(rc);
    int count = 0;
    for (int i = 0; i < clippedCount && static_cast<size_t>(count) < contacts.size(); ++i) {
        const Float2& p = clipped[i];
        const float z =
            (incident.Dot(centre) - p.x * incident.Dot(r1) - p.y * incident.Dot(r2)) / across;
        const Float3 x = r1 * p.x + r2 * p.y + rc * z;
        const float depth = reference.half[c] - nReference.Dot(x);
        if (depth >= 0.0f) {
            SetContact(contacts[static_cast<size_t>(count++)], x + reference.centre, contactNormal,
                       depth);
        }
    }
    return count;
}

// The closest points of edge i of A and edge j of B that touch across the normal n (from A
// toward B). False when the lines through them come closest beyond an end of either edge: the
// edges do not cross there, and a point between the lines would lie off both boxes.
bool TouchingEdges(const BoxFrame& A, const BoxFrame& B, int i, int j, const Float3& n, Float3& qa,
                   Float3& qb) {
    qa = A.centre;
    qb = B.centre;
    for (int m = 0; m < 3; ++m) {
        if (m != i) {
            qa = qa + A.axes[m] * (n.Dot(A.axes[m]) > 0.0f ? A.half[m] : -A.half[m]);
        }
        if (m != j) {
            qb = qb + B.axes[m] * (n.Dot(B.axes[m]) > 0.0f ? -B.half[m] : B.half[m]);
        }
    }
    float alpha = 0.0f;
    float beta = 0.0f;
    ClosestLineParameters(qa, A.axes[i], qb, B.axes[j], alpha, beta);
    qa = qa + A.axes[i] * alpha;
    qb = qb + B.axes[j] * beta;
    return std::fabs(alpha) <= A.half[i] && std::fabs(beta) <= B.half[j];
}

} // namespace

int CollideBoxBox(CollisionVolume& first, CollisionVolume& second, int,
                  std::span<CollisionContact> contacts) {
    auto* boxA = ExactOrDerivedCast<CollisionBox>(first);
    auto* boxB = ExactOrDerivedCast<CollisionBox>(second);
    if (!boxA || !boxB || contacts.empty()) {
        return 0;
    }
    contacts = contacts.first(std::min(contacts.size(), static_cast<size_t>(MostContacts)));
    const BoxFrame A(*boxA);
    const BoxFrame B(*boxB);
    const Float3 T = B.centre - A.centre;
    float Q[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            Q[i][j] = std::fabs(A.axes[i].Dot(B.axes[j]));
        }
    }

    // Face axes: s < 0 is penetration; any positive value separates the boxes.
    float s[15];
    Float3 L[15];
    for (int i = 0; i < 3; ++i) {
        L[i] = A.axes[i];
        s[i] = std::fabs(T.Dot(A.axes[i])) - A.half[i] -
               (Q[i][0] * B.half[0] + Q[i][1] * B.half[1] + Q[i][2] * B.half[2]);
        if (s[i] > 0.0f) {
            return 0;
        }
    }
    for (int j = 0; j < 3; ++j) {
        L[3 + j] = B.axes[j];
        s[3 + j] = std::fabs(T.Dot(B.axes[j])) - B.half[j] -
                   (Q[0][j] * A.half[0] + Q[1][j] * A.half[1] + Q[2][j] * A.half[2]);
        if (s[3 + j] > 0.0f) {
            return 0;
        }
    }

    // One box's extent lying within the other's across the two other axes: the other's face
    // sits inside the reference face.
    const int firstChoice = LargestFaceSeparation(s);
    const bool referenceIsA = firstChoice < 3;
    const BoxFrame& reference = referenceIsA ? A : B;
    const BoxFrame& other = referenceIsA ? B : A;
    const int c = firstChoice % 3;
    bool contained = true;
    for (int m = 0; m < 3 && contained; ++m) {
        const Float3& axis = reference.axes[m];
        contained = m == c || reference.half[m] > std::fabs(T.Dot(axis)) + other.Radius(axis);
    }
    if (contained) {
        const Float3& axis = reference.axes[c];
        const float towardB = T.Dot(axis) < 0.0f ? -1.0f : 1.0f;
        return ContainedContacts(reference, other, c, axis * (referenceIsA ? towardB : -towardB),
                                 referenceIsA, contacts);
    }

    bool tested[15] = {true, true, true, true, true, true};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const int k = 6 + 3 * i + j;
            L[k] = A.axes[i].Cross(B.axes[j]);
            tested[k] = Q[i][j] < ParallelEdges;
            if (!tested[k]) {
                s[k] = Untested;
                continue;
            }
            s[k] = std::fabs(T.Dot(L[k])) - A.Radius(L[k]) - B.Radius(L[k]);
            if (s[k] > 0.0f) {
                return 0;
            }
        }
    }

    // Faces left out of a mask count as deeper, so the named ones win as contact normals.
    for (const BoxFrame* box : {&A, &B}) {
        if (box->face == 0) {
            continue;
        }
        for (int m = 0; m < 3; ++m) {
            if (box->face & (1 << m)) {
                continue;
            }
            for (int k = 0; k < 15; ++k) {
                if (tested[k]) {
                    s[k] -= FaceMaskBias * std::fabs(L[k].Dot(box->axes[m]));
                }
            }
        }
    }

    int best = LargestFaceSeparation(s);
    Float3 n = L[best];
    Float3 qa;
    Float3 qb;
    for (int k = 6; k < 15; ++k) {
        const float length = L[k].Length();
        if (!tested[k] || length == 0.0f) {
            continue;
        }
        s[k] /= length;
        if (!(s[best] < EdgePreference * s[k] && s[k] < EdgeMinimumPenetration)) {
            continue;
        }
        const Float3 edgeNormal = L[k] / length * (T.Dot(L[k]) < 0.0f ? -1.0f : 1.0f);
        if (TouchingEdges(A, B, (k - 6) / 3, (k - 6) % 3, edgeNormal, qa, qb)) {
            best = k;
            n = edgeNormal;
        }
    }
    if (best >= 6) {
        SetContact(contacts[0], (qa + qb) * 0.5f, n * -1.0f, -s[best]);
        return 1;
    }
    if (T.Dot(n) < 0.0f) {
        n = n * -1.0f;
    }
    const bool faceOfA = best < 3;
    return FaceContacts(faceOfA ? A : B, faceOfA ? B : A, best % 3, faceOfA ? n : n * -1.0f,
                        n * -1.0f, contacts);
}

} // namespace quarn
