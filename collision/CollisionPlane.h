#pragma once

#include "collision/CollisionVolume.h"

namespace quarn {

// An infinite half-space whose solid side lies below the plane through the node's world
// position. worldSide -1 takes the node's world Z axis as the normal; 0 to 5 a fixed axis:
// +X, +Y, +Z, -X, -Y, -Z.
class CollisionPlane : public CollisionVolume {
public:
    CollisionPlane();

    int32_t GetWorldSide() const { return worldSide_; }
    void SetWorldSide(int32_t side) { worldSide_ = side; }
    // The plane's normal N and offset D = N . P.
    Float3 GetNormal();
    float GetOffset() { return GetNormal().Dot(GetWorldPosition()); }

    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override;
    // 1000 to each side, cut at the plane on an axis the normal runs along exactly.
    void UpdateWorldBoundingBox() override;
    ClassInfo* GetClass() const override { return classInfo; }
    float GetRadius() override { return 100.0f; }
    // A finite stand-in: 100 along each axis, 0 outward on a fixed side's axis.
    Float3 GetSupportPoint(Float3 direction) override;
    float GetSupportDistance(Float3 direction) override {
        return GetSupportPoint(direction).Dot(direction);
    }
    void DrawShape() override;
    // Immovable: the largest float as mass and inertia; no body hears of it.
    void UpdateMassProperties() override;

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    int32_t worldSide_ = -1;
};

} // namespace quarn
