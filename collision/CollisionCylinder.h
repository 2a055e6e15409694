#pragma once

#include "collision/CollisionVolume.h"

namespace quarn {

// Which surface a cylinder pick entered through (the pick's part word).
enum CylinderPickPart : int32_t {
    CylinderPickSide = 0,
    CylinderPickLowerEnd = 1, // the ray runs along the axis: it enters at the -Z end
    CylinderPickUpperEnd = 2,
};

// A solid cylinder with flat ends: its axis along the node's world Z axis, centred on the
// node's world position. The queries stay virtual: drawable placeholder cylinders build on them.
class CollisionCylinder : public CollisionVolume {
public:
    CollisionCylinder();

    float GetLength() const { return length_; }
    float GetCylinderRadius() const { return radius_; }
    // Values of 0 or less (and NaN) are ignored without a word; a change tells the property's
    // listeners.
    void SetLength(float length);
    void SetCylinderRadius(float radius);

    ClassInfo* GetClass() const override { return classInfo; }
    // The part word tells side from ends (CylinderPickPart).
    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override;
    void UpdateBoundingBox() override;
    void UpdateWorldBoundingBox() override;
    int32_t Render() override { return RenderShape(true); }
    // To the rim of an end.
    float GetRadius() override;
    float GetVolume() override;
    // Exact while the water line crosses neither end or the whole shape is on one side; where
    // it crosses an end, the wet part of each end is taken to grow linearly across it.
    float GetSubmergedVolume(Float3 normal, float distance, Float3* centre) override;
    float GetProjectedArea(Float3 direction) override;
    Float3 GetSupportPoint(Float3 direction) override;
    float GetSupportDistance(Float3 direction) override;
    // The nearer of end plane and side; on the axis, where the side is nearer, the normal is
    // some unit vector across the axis.
    float GetPointDepth(Float3 point, Float3* normal) override;
    // An edge along the side for directions within 0.7 of across the axis, else an end disc.
    const SupportFace* GetSupportFace(Float3 direction) override;
    int GetFaceCount() override { return 2; }
    // The axis for index 0, the reversed axis for any other.
    Float3 GetFaceNormal(int index) override;
    void DrawShape() override;
    void UpdateMassProperties() override;

    // The centre of buoyancy that the last submerged volume of any cylinder produced.
    static Float3 GetLastSubmergedVolumeCentre() { return submergedCentre_; }

    // Runs once; later calls (a derived class's registration) return the record.
    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    void SetDimension(float& field, float value, Property* property);
    float Submerged(Float3 normal, float s, Float3& centre);

    static Property* lengthProperty_;
    static Property* radiusProperty_;
    static Float3 submergedCentre_;

    float radius_ = 1.0f;
    float length_ = 1.0f;
};

// A cylinder as its colliders see it: the centre negated, the axis as it is.
struct CylinderFrame {
    Float3 c;
    Float3 a;
    float r = 0.0f;
    float h = 0.0f; // half the length
};
CylinderFrame NegatedCylinder(CollisionCylinder& cylinder);

// Colliders, in the negated frame, the cylinder first. They write within the room of
// `contacts` and ignore the maximum.

// Up to 8 contacts from the two end discs against the plane n . x = offset (solid below).
int CollideCylinderPlaneCore(const Float3& c, const Float3& a, float r, float h, const Float3& n,
                             float offset, std::span<CollisionContact> contacts);
int CollideCylinderPlane(CollisionVolume& cylinder, CollisionVolume& plane, int maximum,
                         std::span<CollisionContact> contacts);
int CollideCylinderSphere(CollisionVolume& cylinder, CollisionVolume& sphere, int maximum,
                          std::span<CollisionContact> contacts);
// Up to 4 contacts.
int CollideCylinderCylinder(CollisionVolume& first, CollisionVolume& second, int maximum,
                            std::span<CollisionContact> contacts);
// Up to 16 contacts (a box face against an end disc).
int CollideCylinderBox(CollisionVolume& cylinder, CollisionVolume& box, int maximum,
                       std::span<CollisionContact> contacts);

// At most one contact of the incident disc against the reference disc, whose normal faces it.
int CollideDiscDisc(const SupportFace& incident, const SupportFace& reference,
                    std::span<CollisionContact> contacts);

} // namespace quarn
