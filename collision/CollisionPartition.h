#pragma once

#include "render/RenderObject.h"

namespace quarn {

// A scene ray query offered to scripts under the "setpartitioner" signal. Its node and pair
// capacities are stored and saved; nothing fills such records, so none are allocated.
class CollisionPartition : public RenderObject {
public:
    CollisionPartition();
    ~CollisionPartition() override;

    ClassInfo* GetClass() const override { return classInfo; }
    // With the gizmo flag: the count of recorded pairs, which is always 0.
    int32_t Render() override;

    // The nearest hit of the ray (origin, delta) in the entity's subtree.
    bool LineCollision(Entity* entity, Float3 origin, Float3 delta);
    Entity* GetCollisionNode();
    float GetCollisionDist();
    Float3 GetCollisionPoint();
    Float3 GetCollisionNormal();

    int32_t GetMaxNodes() const { return maxNodes_; }
    void SetMaxNodes(int32_t count) { maxNodes_ = count; }
    int32_t GetMaxPairs() const { return maxPairs_; }
    void SetMaxPairs(int32_t count) { maxPairs_ = count; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    int32_t maxPairs_ = 1024;
    int32_t maxNodes_ = 1024;
};

} // namespace quarn
