#pragma once

#include "collision/CollisionVolume.h"

namespace quarn {

// A segment of a length along the node's world Z axis, centred on its world position, swept by
// a sphere of a radius.
class CollisionCapsule : public CollisionVolume {
public:
    CollisionCapsule();

    float GetLength() const { return length_; }
    float GetCapsuleRadius() const { return radius_; }
    // A negative value is refused ("invalid length"); 0 is kept.
    void SetLength(float length);
    void SetCapsuleRadius(float radius);

    // Treats the ends as flat discs.
    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override;
    void UpdateBoundingBox() override;
    void UpdateWorldBoundingBox() override;
    ClassInfo* GetClass() const override { return classInfo; }
    // sqrt(radius^2 + length^2 / 4), as for the cylinder; the ends reach beyond it.
    float GetRadius() override;
    Float3 GetSupportPoint(Float3 direction) override;
    float GetSupportDistance(Float3 direction) override;
    // On the core segment the normal is some unit vector across the axis; at an end's centre it
    // is the axis, toward that end.
    float GetPointDepth(Float3 point, Float3* normal) override;
    // An edge along the side when the direction is nearly across the axis, else an end's vertex.
    const SupportFace* GetSupportFace(Float3 direction) override;
    void DrawShape() override;
    void UpdateMassProperties() override;

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    bool SetDimension(float& field, float value);

    float radius_ = 1.0f;
    float length_ = 1.0f;
};

// A ray (origin w relative to the centre) against a cylinder about the unit axis a with flat
// ends at +-h: the entry distance (0 from inside), whether it enters through the side, and the
// normal there. Rays with |a . direction| at or above `parallel` count as along the axis.
struct FlatCylinderHit {
    float distance = 0.0f;
    bool throughSide = false;
    Float3 normal;
};
bool RayFlatEndedCylinder(const Float3& w, const Float3& a, float h, float r,
                          const Float3& direction, float parallel, FlatCylinderHit& hit);

int CollideCapsuleSphere(CollisionVolume& capsule, CollisionVolume& sphere, int maximum,
                         std::span<CollisionContact> contacts);
// Parallel cores give a contact at each end of their overlap when two are wanted.
int CollideCapsuleCapsule(CollisionVolume& first, CollisionVolume& second, int maximum,
                          std::span<CollisionContact> contacts);
// The lower end, and the upper one too when it is below the plane and two are wanted.
int CollideCapsulePlane(CollisionVolume& capsule, CollisionVolume& plane, int maximum,
                        std::span<CollisionContact> contacts);
int CollideRayCapsule(CollisionVolume& ray, CollisionVolume& capsule, int maximum,
                      std::span<CollisionContact> contacts);
// The core's point nearest the cylinder; where a lying capsule shares a stretch with the side
// or an end, a contact at each end of it when two are wanted, else one at its middle.
int CollideCapsuleCylinder(CollisionVolume& capsule, CollisionVolume& cylinder, int maximum,
                           std::span<CollisionContact> contacts);
// A box or a mesh, by the general route's overlap test and direction (kept in the pair cache as
// the route keeps it), with contacts from the core's nearest points: on a face the core lies
// along, one at each end of its stretch over the face when two are wanted.
int CollideCapsuleSolid(CollisionVolume& capsule, CollisionVolume& solid, int maximum,
                        std::span<CollisionContact> contacts);
// A sphere and a mesh the same way, as a core of no length: one contact.
int CollideSphereSolid(CollisionVolume& sphere, CollisionVolume& solid, int maximum,
                       std::span<CollisionContact> contacts);

} // namespace quarn
