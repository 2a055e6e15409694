#pragma once

#include "collision/CollisionVolume.h"
#include "collision/FaceRoutines.h"

namespace quarn {

// Faces of the face mask: bits 0-2 the +X, +Y, +Z faces, bits 3-5 the -X, -Y, -Z faces.
enum BoxFaceBits : int32_t {
    BoxFaceAll = 0, // no face named: every face takes part
    BoxFacesEvery = 0x3F,
};

// A box pick's face code is 2k for the axis k of the face entered, plus 1 when the ray runs
// towards -k; this bit marks an origin inside the box (distance 0).
inline constexpr int32_t BoxPickFromInside = 0x20000000;

// A box centred on the node and spanning -size/2 .. +size/2 along the node's axes. The axes
// are the rows of the world matrix as they stand, so a scaled node scales the contact frame
// too. The queries stay virtual: drawable placeholder boxes build on them.
class CollisionBox : public CollisionVolume {
public:
    CollisionBox();

    Float3 GetSize() const { return size_; }
    // A value with a component of 0 or less (or NaN) is ignored.
    void SetSize(Float3 size);
    int32_t GetFace() const { return face_; }
    // The world axes (rows 0-2 of the world matrix) and the centre, from one read of it: each
    // read checks the cache again.
    void GetWorldFrame(Float3 (&axes)[3], Float3& centre);
    // All six faces named is stored as 0, which means the same.
    void SetFace(int32_t face);

    // Version 7 stored half sizes; before version 41 one bit named both faces of an axis.
    void UpgradeVersion(int fileVersion) override;
    ClassInfo* GetClass() const override { return classInfo; }
    // Slab test in the box's frame; the part word takes the face code.
    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override;
    void UpdateBoundingBox() override;
    void UpdateWorldBoundingBox() override;
    int32_t Render() override { return RenderShape(true); }
    float GetRadius() override { return 0.5f * size_.Length(); }
    float GetVolume() override { return size_.x * size_.y * size_.z; }
    // Exact volume and centroid of the part below the plane.
    float GetSubmergedVolume(Float3 normal, float distance, Float3* centre) override;
    float GetProjectedArea(Float3 direction) override;
    Float3 GetSupportPoint(Float3 direction) override;
    float GetSupportDistance(Float3 direction) override;
    // Inside: the smallest margin to a face (x before y before z on ties).
    float GetPointDepth(Float3 point, Float3* normal) override;
    // The corners run clockwise about the outward normal (winding flag 0).
    const SupportFace* GetSupportFace(Float3 direction) override;
    int GetFaceCount() override { return 6; }
    // -X, -Y, -Z, +X, +Y, +Z for indices 0 to 5.
    Float3 GetFaceNormal(int index) override;
    void DrawShape() override;
    void UpdateMassProperties() override;

    // The centroid that the last GetSubmergedVolume of any box produced.
    static Float3 GetLastSubmergedVolumeCentre() { return submergedCentre_; }

    // Runs once; later calls (a derived class's registration) return the record.
    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    float SubmergedCorners(Float3 normal, float s, Float3& centre);

    static Property* sizeProperty_;
    static Float3 submergedCentre_;

    Float3 size_{1.0f, 1.0f, 1.0f};
    int32_t face_ = BoxFaceAll;
    SupportFace supportFace_;
};

// Colliders, in the negated frame: sphere first and box second; box first and plane or point
// second; two boxes.
int CollideSphereBox(CollisionVolume& sphere, CollisionVolume& box, int maximum,
                     std::span<CollisionContact> contacts);
// One to four contacts: the deepest corner, then corners along its least tilted edges, then the
// corner across their face.
int CollideBoxPlane(CollisionVolume& box, CollisionVolume& plane, int maximum,
                    std::span<CollisionContact> contacts);
int CollideBoxPoint(CollisionVolume& box, CollisionVolume& point, int maximum,
                    std::span<CollisionContact> contacts);
// Separating axes over the 15 candidates; up to 8 contacts whatever the maximum, within the
// room given.
int CollideBoxBox(CollisionVolume& first, CollisionVolume& second, int maximum,
                  std::span<CollisionContact> contacts);

} // namespace quarn
