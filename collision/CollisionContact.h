#pragma once

#include "core/math/Vector.h"

#include <cstdint>
#include <span>

namespace quarn {

class CollisionVolume;

// Shape types: a volume's place in the collider table, fixed by its class. Stored nowhere but
// in memory; 8 has no class.
enum CollisionShapeType : int32_t {
    COLLISION_NONE = 0,
    COLLISION_POINT = 1,
    COLLISION_PLANE = 2,
    COLLISION_SPHERE = 3,
    COLLISION_RAY = 4,
    COLLISION_CAPSULE = 5,
    COLLISION_CYLINDER = 6,
    COLLISION_BOX = 7,
    COLLISION_MESH = 9,
    COLLISION_TERRAIN = 10,
};
inline constexpr int CollisionShapeTypeCount = 11;

// One contact point. Colliders work with every position negated (the physics world turns them
// back); the normal points from the first volume toward the second and is of unit length.
struct CollisionContact {
    Float3 position;
    Float3 normal;
    float depth = 0.0f; // along the normal, positive when the volumes overlap
};

// A pair collider: the contacts of two volumes written into `contacts`, whose size is the room
// the caller has. `maximum` is how many the caller wants: the first contact is always written
// (when there is room), further ones only while both the maximum and the room allow. Returns
// the count written, 0 when the volumes do not touch; records past the count keep what they
// held.
using ColliderFn = int (*)(CollisionVolume& first, CollisionVolume& second, int maximum,
                           std::span<CollisionContact> contacts);

struct ColliderEntry {
    ColliderFn collider = nullptr;
    int32_t swapped = 0; // 1: call with the volumes exchanged and negate the normals
};

// Fills entry [a][b] when it is empty, then the mirrored entry [b][a] (swapped) when that is
// empty: the first registration of a pair wins. Types outside the table are ignored.
void SetCollider(int32_t a, int32_t b, ColliderFn collider);
// The entry for two types; an empty entry outside the table.
ColliderEntry GetColliderEntry(int32_t a, int32_t b);
// Empties all 121 entries.
void ClearColliders();

// The narrow phase for one pair: the contacts of `first` and `second` through the table, a
// swapped entry's normals negated; 0 for a volume with itself. A pair whose entry is empty
// takes the general convex route.
int CollidePair(CollisionVolume& first, CollisionVolume& second, int maximum,
                std::span<CollisionContact> contacts);

} // namespace quarn
