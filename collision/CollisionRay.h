#pragma once

#include "collision/CollisionVolume.h"

namespace quarn {

// A segment from the node's world position O along its world Z axis A, of a length.
class CollisionRay : public CollisionVolume {
public:
    CollisionRay();

    float GetLength() const { return length_; }
    void SetLength(float length) { length_ = length; }

    // The box spanning O and O + length A.
    void UpdateWorldBoundingBox() override;
    ClassInfo* GetClass() const override { return classInfo; }
    float GetRadius() override { return length_; }
    Float3 GetSupportPoint(Float3 direction) override;
    float GetSupportDistance(Float3 direction) override;
    void DrawShape() override;
    // Never moves: mass and inertia 0; no body hears of it.
    void UpdateMassProperties() override { SetMassProperties(0.0f, 0.0f); }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    float length_ = 1.0f;
};

// The ray-sphere contact in negated coordinates: the segment from origin along the unit axis
// for length, against the sphere at centre. The first crossing ahead of the origin counts (the
// far one from inside); with `inside` set, an origin outside takes the far crossing and the
// normal turns inward. Depth is the distance along the ray. 1 when a contact is written.
int RaySphereContact(const Float3& origin, const Float3& axis, float length, const Float3& centre,
                     float radius, bool inside, CollisionContact& contact);

int CollideRaySphere(CollisionVolume& ray, CollisionVolume& sphere, int maximum,
                     std::span<CollisionContact> contacts);
int CollideRayPlane(CollisionVolume& ray, CollisionVolume& plane, int maximum,
                    std::span<CollisionContact> contacts);

} // namespace quarn
