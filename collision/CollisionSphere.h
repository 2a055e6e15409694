#pragma once

#include "collision/CollisionVolume.h"

namespace quarn {

// A sphere of a radius about the node's world position.
class CollisionSphere : public CollisionVolume {
public:
    CollisionSphere();

    float GetSphereRadius() const { return radius_; }
    // Invalidates the cached boxes and updates the mass; an unchanged value does nothing.
    void SetSphereRadius(float radius);

    // A hit only ahead of the origin; an origin inside gives distance 0.
    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override;
    void UpdateBoundingBox() override;
    void UpdateWorldBoundingBox() override;
    int32_t Render() override { return RenderShape(true); }
    ClassInfo* GetClass() const override { return classInfo; }
    float GetRadius() override { return radius_; }
    float GetVolume() override;
    // The spherical cap below the plane, its centroid in *centre.
    float GetSubmergedVolume(Float3 normal, float distance, Float3* centre) override;
    float GetProjectedArea(Float3) override;
    Float3 GetSupportPoint(Float3 direction) override;
    float GetSupportDistance(Float3 direction) override;
    // The support point as a vertex.
    const SupportFace* GetSupportFace(Float3 direction) override;
    // r minus the distance from the centre; at the centre itself the normal is (1, 0, 0).
    float GetPointDepth(Float3 point, Float3* normal) override;
    void DrawShape() override;
    void UpdateMassProperties() override;

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    float radius_ = 1.0f;
};

int CollideSpherePlane(CollisionVolume& sphere, CollisionVolume& plane, int maximum,
                       std::span<CollisionContact> contacts);
int CollideSphereSphere(CollisionVolume& first, CollisionVolume& second, int maximum,
                        std::span<CollisionContact> contacts);

} // namespace quarn
