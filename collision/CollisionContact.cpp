#include "collision/CollisionContact.h"

#include "collision/CollisionVolume.h"
#include "collision/ConvexRoute.h"

namespace quarn {

namespace {

ColliderEntry colliderTable[CollisionShapeTypeCount][CollisionShapeTypeCount];

bool IsShapeType(int32_t type) {
    return type >= 0 && type < CollisionShapeTypeCount;
}

} // namespace

void SetCollider(int32_t a, int32_t b, ColliderFn collider) {
    if (!IsShapeType(a) || !IsShapeType(b) || !collider) {
        return;
    }
    ColliderEntry& entry = colliderTable[a][b];
    if (!entry.collider) {
        entry = {collider, 0};
    }
    ColliderEntry& mirrored = colliderTable[b][a];
    if (!mirrored.collider) {
        mirrored = {collider, 1};
    }
}

ColliderEntry GetColliderEntry(int32_t a, int32_t b) {
    return IsShapeType(a) && IsShapeType(b) ? colliderTable[a][b] : ColliderEntry();
}

void ClearColliders() {
    for (auto& row : colliderTable) {
        for (ColliderEntry& entry : row) {
            entry = ColliderEntry();
        }
    }
}

int CollidePair(CollisionVolume& first, CollisionVolume& second, int maximum,
                std::span<CollisionContact> contacts) {
    if (&first == &second) {
        return 0;
    }
    const ColliderEntry entry = GetColliderEntry(first.GetShapeType(), second.GetShapeType());
    if (!entry.collider) {
        return CollideConvexPair(first, second, contacts);
    }
    if (!entry.swapped) {
        return entry.collider(first, second, maximum, contacts);
    }
    const int count = entry.collider(second, first, maximum, contacts);
    for (int i = 0; i < count; ++i) {
        CollisionContact& contact = contacts[static_cast<size_t>(i)];
        contact.normal = contact.normal * -1.0f;
    }
    return count;
}

} // namespace quarn
