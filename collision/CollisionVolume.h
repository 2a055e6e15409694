#pragma once

#include "collision/CollisionContact.h"
#include "core/math/Vector.h"
#include "core/object/EntityRef.h"
#include "core/object/Property.h"
#include "core/object/ValueBinding.h"
#include "render/RenderObject.h"

#include <cstdint>

namespace quarn {

class CollisionBody;
class CollisionSpace;
struct SupportFace;

// Bits of collflags, collmask and colltest.
enum CollisionFlags : uint32_t {
    CollSolid = 0x1,
    CollOpaque = 0x2,
    CollTrigger = 0x4,
    CollProbe = 0x8,
    CollStatic = 0x10,
    CollPlayer = 0x20,
    CollCameraSolid = 0x40,
    CollCameraOpaque = 0x80,
    CollArea = 0x100,
    CollLogical = 0x200,
    CollBuoyancy = 0x400,
    CollPhysical = 0x800,
    CollItem = 0x1000,
    CollObj = 0x2000,
    CollAi = 0x4000,
    CollBullet = 0x8000,
    // Unnamed, set only by code: the volume stays out of every space.
    CollOutsideSpaces = 0x10000,
    CollDefaultFlags = CollSolid | CollOpaque | CollBuoyancy,
};

// The base of every collision shape: the flags that decide what it collides with, material,
// density and the mass they give an attached body, the nodes told of its touches, and its
// place in one collision space and one rigid body. Shapes supply the geometry (support
// points, depths, boxes) and register their pair colliders.
class CollisionVolume : public RenderObject {
public:
    explicit CollisionVolume(int32_t shapeType);
    ~CollisionVolume() override;

    int GetPropertyState(const Property& property) const override;
    void UpgradeVersion(int fileVersion) override;
    // "enter" and "leave" exist only for triggers and probes.
    int GetOutputCount() const override;
    const char* GetOutputName(int port) const override;
    void SetPortValue(int port, const EntityRef& reference) override;
    EntityRef GetPortValue(int port) const override;
    ClassInfo* GetClass() const override { return classInfo; }
    // Tells the space too, so its broad phase follows the move.
    void InvalidateTransform() override;
    // Both geometry and gizmo render flags set and an opacity other than 0.
    bool IsVisible() override;
    uint32_t GetColorArgb(Float3 point, uint32_t face) override;
    // Draws the shape when the gizmo flag is set; returns 0.
    int32_t Render() override;

    // The shape's own geometry, in world space.
    virtual Float3 GetWorldCenter();
    // Bounding radius about the world centre.
    virtual float GetRadius() = 0;
    virtual float GetVolume() { return 0.0f; }
    // The volume below the plane n . x = distance (n of unit length), and in *centre the
    // centroid of that part.
    virtual float GetSubmergedVolume(Float3 normal, float distance, Float3* centre);
    virtual float GetProjectedArea(Float3 /*direction*/) { return 0.0f; }
    // The area that the part below the horizontal surface y = height shows along the
    // direction; a rough model shared by every shape, with the centre of that part in *centre.
    float GetSubmergedArea(float height, Float3 direction, Float3* centre);
    // The point of the shape farthest along the direction, and its dot product with it.
    virtual Float3 GetSupportPoint(Float3 direction) = 0;
    virtual float GetSupportDistance(Float3 direction) = 0;
    // Depth of a world point inside the shape, positive inside; *normal (when given) the
    // direction out of the shape there.
    virtual float GetPointDepth(Float3 point, Float3* normal);
    // The face most facing the direction, or null for shapes without flat faces. The record
    // belongs to the shape and changes with the next call.
    virtual const SupportFace* GetSupportFace(Float3 /*direction*/) { return nullptr; }
    // The candidate separating directions: face normals in the world frame.
    virtual int GetFaceCount() { return 0; }
    virtual Float3 GetFaceNormal(int /*index*/) { return Float3(); }
    virtual void DrawShape() = 0;
    // Mass from the volume and density, and the inertia tensor; then the body hears of it.
    virtual void UpdateMassProperties() = 0;

    int32_t GetShapeType() const { return shapeType_; }
    uint32_t GetCollFlags() const { return collFlags_; }
    // Joins, leaves or re-files the volume in its space when the static bit or the outside bit
    // changes while a world exists; always refreshes the derived flags.
    void SetCollFlags(uint32_t flags);
    uint32_t GetCollMask() const { return collMask_; }
    void SetCollMask(uint32_t mask) { collMask_ = mask; }
    uint32_t GetCollTest() const { return collTest_; }
    void SetCollTest(uint32_t test) { collTest_ = test; }
    bool HasCollFlags(uint32_t bits) const { return (collFlags_ & bits) != 0; }
    // False with a mask of 0; else whether the other's flags match the test under the mask.
    bool AcceptsVolume(const CollisionVolume& other) const;
    uint32_t GetActiveFlags() const { return activeFlags_; }
    uint32_t GetQueryFlags() const { return queryFlags_; }
    void RefreshDerivedFlags();
    // Whether a ray pick considers the volume: the query tests collision volumes and the flags
    // under its mask (mask1) equal its test value (mask0).
    bool AnswersPick(const PickQuery& query) const;

    int32_t GetMaterialId() const { return materialId_; }
    void SetMaterialId(int32_t id) { materialId_ = id; }
    float GetDensity() const { return density_; }
    void SetDensity(float density);
    Float3 GetSurfaceSpeed() const { return surfaceSpeed_; }
    void SetSurfaceSpeed(Float3 speed) { surfaceSpeed_ = speed; }
    int32_t GetGroup() const { return group_; }
    void SetGroup(int32_t group) { group_ = group; }
    int32_t GetSpaceNum() const { return spaceNum_; }
    void SetSpaceNum(int32_t number) { spaceNum_ = number; }
    EntityId GetWitness() const { return {witness_.GetId()}; }
    void SetWitness(EntityId id) { witness_.SetId(id.value); }
    const EntityRef& GetSignalEnter() const { return signalEnter_; }
    const EntityRef& GetSignalLeave() const { return signalLeave_; }

    float GetMass() const { return mass_; }
    // Row i holds row i of the 3 x 3 tensor; the fourth float of each row stays 0.
    const float (&GetInertia() const)[3][4] { return inertia_; }

    // Collides with the other volume as the script query does; the deepest depth and the mean
    // contact position (world coordinates) are kept process-wide.
    bool TestVolume(Entity* other);
    static float GetLastTestDepth();
    static Float3 GetLastTestPosition();
    static Float3 GetLastSubmergedCentre();

    // Space membership: the space's intrusive list, whose head the space passes.
    void AttachToSpace(CollisionSpace& space, CollisionVolume*& head);
    void DetachFromSpace();
    CollisionSpace* GetSpace() const { return space_; }
    CollisionVolume* GetNextInSpace() const { return nextInSpace_; }
    uint32_t sapHandle_ = 0xFFFFFFFF; // the volume's handle in a sweep-and-prune space

    // Body membership.
    void AttachToBody(CollisionBody& body);
    // Unlinks the volume from its body's list and marks the body's mass out of date.
    void DetachFromBody();
    CollisionBody* GetBody() const { return body_; }
    CollisionVolume* GetNextInBody() const { return nextInBody_; }

    // Joins the space of the volume's number when a world exists (signal "loaded").
    void OnLoaded(void* argument);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

protected:
    // Stores the mass and a diagonal tensor.
    void SetMassProperties(float mass, float inertiaDiagonal);
    void SetMassProperties(float mass, Float3 inertiaDiagonal);
    // Stores the mass and a full symmetric tensor.
    void SetMassProperties(float mass, const float (&tensor)[3][3]);
    // Tells the property's listeners of a change of the volume's value.
    template <class T>
    void NotifyChange(Property* property, const T& old, const T& now) {
        if (!property) {
            return;
        }
        uint32_t oldWords[ValueTraits<T>::Words];
        uint32_t newWords[ValueTraits<T>::Words];
        ValueTraits<T>::Write(old, oldWords);
        ValueTraits<T>::Write(now, newWords);
        property->NotifyListeners(*this, oldWords, newWords);
    }
    // Calls "touchinertia" on the attached body.
    void TouchBodyInertia();
    // Draws the shape when the gizmo flag is set, or, for shapes that ask, when selected.
    int32_t RenderShape(bool whenSelected);

private:
    Entity* ScriptGetBody();
    float ScriptGetRadius() { return GetRadius(); }
    Float3 ScriptGetWorldCenter() { return GetWorldCenter(); }
    Float3 ScriptWorldBoxMin() { return GetWorldBoundingBox().min; }
    Float3 ScriptWorldBoxMax() { return GetWorldBoundingBox().max; }
    Float3 ScriptGetSupportPoint(Float3 direction) { return GetSupportPoint(direction); }
    float ScriptGetSubmergedVolume(Float3 normal, float distance) {
        return GetSubmergedVolume(normal, distance, nullptr);
    }
    Float3 ScriptGetSubmergedCentre() { return GetLastSubmergedCentre(); }
    float ScriptGetPointDepth(Float3 point) { return GetPointDepth(point, nullptr); }
    Float3 ScriptGetPointNormal(Float3 point);
    float ScriptGetTestDepth() { return GetLastTestDepth(); }
    Float3 ScriptGetTestPosition() { return GetLastTestPosition(); }
    float ScriptGetMass() { return mass_; }
    float ScriptGetVolume() { return GetVolume(); }

    static void OnNodeFlagsChanged(Entity* target, Entity& object, const uint32_t* oldValue,
                                   const uint32_t* newValue);

    static Property* collTestProperty_;
    static Property* signalEnterProperty_;
    static Property* signalLeaveProperty_;

    int32_t shapeType_;
    EntityRef witness_;
    EntityRef signalEnter_; // output port 0 "enter"
    EntityRef signalLeave_; // output port 1 "leave"
    uint32_t collFlags_ = CollDefaultFlags;
    int32_t materialId_ = 0;
    float density_ = 1.0f;
    Float3 surfaceSpeed_; // conveyor speed handed to contact joints
    int32_t group_ = 1;
    uint32_t collMask_ = 0;
    uint32_t collTest_ = 0;
    float mass_ = 1.0f;
    float inertia_[3][4] = {};
    int32_t spaceNum_ = 0;
    CollisionVolume* nextInSpace_ = nullptr;
    CollisionVolume** prevLinkInSpace_ = nullptr;
    CollisionSpace* space_ = nullptr;
    uint32_t activeFlags_ = 0xFFFFFFFF;
    uint32_t queryFlags_ = 0xFFFFFFFF;
    CollisionBody* body_ = nullptr;
    CollisionVolume* nextInBody_ = nullptr;
    CollisionVolume** prevLinkInBody_ = nullptr;
};

// The node's world Z axis: the axis of rays, capsules and cylinders.
Float3 GetShapeAxis(CollisionVolume& volume);

} // namespace quarn
