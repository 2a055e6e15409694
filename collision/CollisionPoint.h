#pragma once

#include "collision/CollisionVolume.h"

namespace quarn {

// A single point at the node's world position.
class CollisionPoint : public CollisionVolume {
public:
    CollisionPoint();

    void UpdateBoundingBox() override { localBox_ = Aabb(); }
    // 0.01 to each side.
    void UpdateWorldBoundingBox() override;
    ClassInfo* GetClass() const override { return classInfo; }
    float GetRadius() override { return 0.0f; }
    Float3 GetSupportPoint(Float3) override { return GetWorldPosition(); }
    float GetSupportDistance(Float3 direction) override {
        return GetWorldPosition().Dot(direction);
    }
    const SupportFace* GetSupportFace(Float3 direction) override;
    // Minus the distance from the point; at the point itself the normal is (1, 0, 0).
    float GetPointDepth(Float3 point, Float3* normal) override;
    void DrawShape() override;
    void UpdateMassProperties() override;

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;
};

// The outward normal from a shape's centre toward a point at the given distance from it;
// (1, 0, 0) at the centre itself, as for coincident sphere centres.
Float3 OutwardNormal(const Float3& offset, float distance);

} // namespace quarn
