#pragma once

#include "collision/CollisionContact.h"
#include "collision/FaceRoutines.h"
#include "core/math/Vector.h"

#include <cstdint>
#include <span>

namespace quarn {

// The route for pairs the collider table leaves empty: an overlap test on support points, a
// contact direction, and a second table keyed by the kinds of the two support features.

// Contacts of two features in the plain world frame along the direction d (from the first
// toward the second), written within the room of `contacts`; returns the count.
using FeatureColliderFn = int (*)(const SupportFace& first, const SupportFace& second,
                                  const Float3& d, std::span<CollisionContact> contacts);

struct FeatureColliderEntry {
    FeatureColliderFn collider = nullptr;
    int32_t swapped = 0;
};

inline constexpr int FeatureKindCount = 5;

// Entry [i][j], and the mirrored entry [j][i] swapped when i differs; later calls overwrite.
void SetFeatureCollider(int32_t i, int32_t j, FeatureColliderFn collider);
// Empties the table, then fills it with the eight feature colliders.
void InitFeatureColliders();
FeatureColliderEntry LookupFeatureCollider(const SupportFace& first, const SupportFace& second);
// A swapped entry runs with the features exchanged and -d, then negates the normals.
int DispatchFeatureCollide(const SupportFace& first, const SupportFace& second, const Float3& d,
                           std::span<CollisionContact> contacts);

// Whether the two volumes overlap, from support differences B(-v) - A(v): 1 or 2 they do (2
// when 32 rounds ran out, mostly near touching), 0 they are apart and v separates them (A's
// extent along v ends before B's begins), -1 a support difference came back exactly with the
// origin off the simplex (on it but for the rounding of points that far out gives 1), -2 no
// subset of the simplex was valid. v is the starting direction and the last search vector.
int GjkOverlap(CollisionVolume& a, CollisionVolume& b, Float3& v);

// Refines d toward the direction along which A leaves B soonest; a unit vector (zero stays
// zero).
Float3 PenetrationDirection(CollisionVolume& a, CollisionVolume& b, Float3 d);

// The contact direction of an overlapping pair, from A toward B: a cold start takes the least
// way out (where the difference of the two has no volume, the best of the fixed and face
// directions from d, refined), a warm one refines d and searches again only when the
// penetration exceeds 0.1. False when some candidate separates the pair.
bool FindContactDirection(CollisionVolume& a, CollisionVolume& b, Float3& d, bool warm);

// The closest points of the segment and the volume, from its support points; false when they
// meet, both points then being one they share (as near as the search reaches).
bool SegmentClosestPoints(const Float3& start, const Float3& end, CollisionVolume& volume,
                          Float3& onSegment, Float3& onVolume);

// How far a contact's way out may be longer than the least, and its depth beyond its way out or
// short of the least, before the contact stops standing for the overlap.
inline constexpr float WayOutSlack = 1e-3f;

// The contacts of an overlapping pair along its unit contact direction d (from A toward B), A
// overlapping B by `overlap` along it, in the plain world frame, written within the room of
// `contacts`; returns the count.
using ConvexContactsFn = int (*)(CollisionVolume& a, CollisionVolume& b, const Float3& d,
                                 float overlap, std::span<CollisionContact> contacts);
// The route's own: the two support features along d through the feature table, less those that
// lead out longer than d or claim more depth than their way out; where none reaches d's overlap,
// one at the deepest point along d.
int FeatureContacts(CollisionVolume& a, CollisionVolume& b, const Float3& d, float overlap,
                    std::span<CollisionContact> contacts);

// The general route of CollidePair for one pair: contacts with their positions negated. A
// collider of the table may take the route and make the contacts its own way.
int CollideConvexPair(CollisionVolume& a, CollisionVolume& b, std::span<CollisionContact> contacts,
                      ConvexContactsFn along = FeatureContacts);

} // namespace quarn
