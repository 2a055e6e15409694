#pragma once

#include "collision/CollisionWorld.h"
#include "core/math/Matrix3.h"
#include "core/scene/Pivot.h"
#include "physics/Joint.h"

#include <cstdint>

namespace quarn {

class CollisionVolume;
class PhysicsMaster;

// Values of the "state" property (stored in scene files).
enum BodyState : int32_t {
    BodyStatic = 0,
    BodyKinematic = 1, // moves by its own velocities, unmoved by forces and contacts
    BodyDynamic = 2,
    BodyGhost = 3,
};

// Bits of bodyflags; the property shows the low 16.
enum BodyFlags : uint32_t {
    BodyGravity = 0x1,
    BodyIdle = 0x2,
    BodyAutoIdle = 0x4,
    BodyAutoInertia = 0x8,
    BodyFiniteRotation = 0x10, // integrates large spins exactly instead of to first order
    BodyBuoyancy = 0x20,
    BodyMassOutOfDate = 0x10000,
    BodyDefaultFlags = BodyGravity | BodyAutoInertia | BodyBuoyancy,
};

// A scene node with mass, velocities and forces; its own pose is the body's pose and the
// collision volumes below it give it mass and inertia. Dynamics are about the node origin, not
// the centre of mass. Velocities are kept in the transform parent's space.
class RigidBody : public Pivot, public CollisionBody {
public:
    RigidBody();
    ~RigidBody() override;

    void ReceiveEvent(const EventRecord& event) override;
    int GetInputCount() const override { return 2; }
    const char* GetInputName(int port) const override;
    ClassInfo* GetClass() const override { return classInfo; }
    void OnDescendantChanged(Node* node, bool attached) override;
    bool HearsDescendantChanges() const override { return true; }

    // A move from outside the world's step leaves the contacts of the last step behind: they
    // are dropped, as ResetMotion drops them, and the next step finds the new ones.
    void SetPosition(Float3 position) override;
    void SetOrientation(Quaternion orientation) override;

    // CollisionBody
    Entity& GetBodyEntity() override { return *this; }
    CollisionVolume*& GetVolumeListHead() override { return volumes_; }
    void MarkMassOutOfDate() override { bodyFlags_ |= BodyMassOutOfDate; }

    // Properties. Reading the mass brings it up to date first.
    float GetMass() const;
    // Also resets the inertia to that of a uniform cube of this mass.
    void SetMass(float mass);
    Float3 GetLinearVelocity() const { return velocity_; }
    void SetLinearVelocity(Float3 velocity) { velocity_ = velocity; }
    Float3 GetAngularVelocity() const { return angularVelocity_; }
    void SetAngularVelocity(Float3 velocity) { angularVelocity_ = velocity; }
    void AddLinearVelocity(Float3 delta) { velocity_ = velocity_ + delta; }
    void AddAngularVelocity(Float3 delta) { angularVelocity_ = angularVelocity_ + delta; }
    int32_t GetState() const { return state_; }
    // A different state re-attaches every joint, which orders its bodies by state.
    void SetState(int32_t state);
    uint32_t GetBodyFlags() const { return bodyFlags_ & 0xFFFF; }
    // A change of autoinertia recomputes the mass at once.
    void SetBodyFlags(uint32_t flags);
    bool HasBodyFlags(uint32_t bits) const { return (bodyFlags_ & bits) != 0; }
    float GetDrag() const { return drag_; }
    void SetDrag(float drag) { drag_ = drag; }
    float GetAngularDrag() const { return angularDrag_; }
    void SetAngularDrag(float drag) { angularDrag_ = drag; }

    // Forces act only on a fully enabled node.
    void AddForce(Float3 force);
    void AddTorque(Float3 torque);
    void AddForceAtPosition(Float3 position, Float3 force);
    // Ignored without a world whose timestep is a positive finite number.
    void AddImpulseAtPosition(Float3 position, Float3 impulse);
    void SetForce(Float3 force) { force_ = force; }
    void SetTorque(Float3 torque) { torque_ = torque; }
    Float3 GetForce() const { return force_; }
    Float3 GetTorque() const { return torque_; }
    void ResetMotion();
    // The velocities turned from the transform parent's space into world space.
    Float3 GetWorldLinearVelocity();
    Float3 GetWorldAngularVelocity();
    // v + r x w for the world point, in world space.
    Float3 GetPointVelocity(Float3 point);
    // Damping turned into forces over one step; ignored without a usable timestep.
    void ApplyLinearDamping(float k);
    void ApplyAngularDamping(float k);
    // |I a| with the body-frame inertia tensor.
    float GetInertiaAlong(Float3 axis);

    void SetWorld(PhysicsMaster* world);
    PhysicsMaster* GetWorld() const { return world_; }
    void SetIdle(bool idle);
    void AutoIdle(float h);

    // Beyond these a body is absurd: a coordinate of its position (at a million kilometres
    // floats are 64 m apart, and collision squares distances), its speed or its spin (the
    // solvers multiply them by masses and by 1/step and would overflow), or a force or torque
    // that would give it such a speed or spin within one step.
    static constexpr float MaxCoordinate = 1e9f;
    static constexpr float MaxSpeed = 1e6f;
    static constexpr float MaxSpin = 1e6f;

    // Advances the pose by the velocities over h, and by the push-out's velocities given, which
    // the body does not keep. A pose that would stop being finite stays where it is and the body
    // comes to rest.
    void IntegratePose(float h, Float3 pushLinear = Float3(), Float3 pushAngular = Float3());
    // Resets a body whose position, speed, spin, force or torque over a step of h is not a
    // finite number or is absurd (the world calls it each step, before the collisions): its
    // motion and forces are cleared and each bad coordinate of its position goes back to the
    // last sound place it held (where the last step or placement left it). The log names the
    // body and the first fault found, once per body. False when it had to reset.
    bool ResetIfAbsurd(float h);
    // Mass, centre and inertia from the volumes; with recentre a DYNAMIC or GHOST body moves
    // its origin to the centre of mass and its direct pivot children stay where they are.
    void UpdateMass(bool recentre);
    // Brings mass data up to date when it is marked out of date; a read of the mass does too,
    // which is why it counts as not changing the body.
    void RefreshMass() const;

    // What the solvers use: the inverse mass and body-frame inverse inertia, both 0 for a body
    // that cannot respond (a mass of 0, negative, not finite or huge, or an inertia that is not
    // finite), reported once per body. Mass data is refreshed first.
    float GetSolverInverseMass();
    const Matrix3& GetSolverInverseInertia();
    const Matrix3& GetInertia() const { return inertia_; }
    float GetInverseMass() const { return inverseMass_; }

    // Contacts for scripts: one list shared by every body, filled by CollectContacts.
    int32_t CollectContacts();
    Float3 GetContactPosition(int32_t index) const;
    Float3 GetContactNormal(int32_t index) const;
    float GetContactDepth(int32_t index) const;
    // Null when the index is out of range or the volume has been deleted since.
    Entity* GetContactVolume(int32_t index) const;

    JointNode* GetJointList() const { return joints_; }
    // Called by Joint only.
    void PushJointNode(JointNode* node);
    void RemoveJointNode(JointNode* node);
    // The joints in the list that are not contacts (Joint keeps the count).
    int32_t GetNonContactJointCount() const { return nonContactJoints_; }
    void CountNonContactJoint(int32_t change) { nonContactJoints_ += change; }

    int32_t GetIslandTag() const { return islandTag_; }
    void SetIslandTag(int32_t tag) { islandTag_ = tag; }
    bool IsMovable() const { return state_ == BodyDynamic || state_ == BodyGhost; }
    // Whether the exact solve of the body's island went past its bound of work the last time.
    bool WasOverExactBound() const { return exactFailures_ > 0; }
    // The exact solves of the body's island that went past their bound in a row, the world's
    // step counter from which its next is tried (0: whenever the island is stepped), and whether
    // one of them went past it with every body of the island calm (HasCalmed).
    int32_t GetExactFailures() const { return exactFailures_; }
    uint32_t GetExactRetryStep() const { return exactRetryStep_; }
    bool FailedExactlyWhenCalm() const { return exactFailedCalm_; }
    void SetExactFailures(int32_t failures, uint32_t retryStep, bool failedCalm) {
        exactFailures_ = failures;
        exactRetryStep_ = retryStep;
        exactFailedCalm_ = failedCalm;
    }
    // The world's step counter when the body's island was last solved exactly (0: never).
    uint32_t GetExactSolveStep() const { return exactSolveStep_; }
    void SetExactSolveStep(uint32_t step) { exactSolveStep_ = step; }
    // Whether the exact solve of the body's island last took its contacts softened, its rows as
    // they were not settling.
    bool WasSolvedSoftened() const { return solvedSoftened_; }
    void SetSolvedSoftened(bool softened) { solvedSoftened_ = softened; }

    // The world's body list.
    RigidBody* nextInWorld_ = nullptr;
    RigidBody* previousInWorld_ = nullptr;

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    void SetDefaultInertia();
    void UpdateInverseMass();
    // While a scene loads, a body without volumes keeps the mass the file gives.
    bool KeepsLoadedMass() const;
    // Logs the first fault of this body: the quantity and its size (NaN for one not finite).
    void ReportAbsurd(const char* quantity, double size);
    void DropContacts();
    // Remembers the position as the place to go back to, unless it is absurd.
    void KeepPlaceIfSound();
    void LinkVolumes(Node* subtree, bool attached);

    void OnLoaded(void* argument);
    void OnTouchInertia(void* argument);
    void ScriptSetGravity(bool on);
    bool ScriptGetGravity() { return HasBodyFlags(BodyGravity); }
    void ScriptRecentre() { UpdateMass(true); }

    static Property* massProperty_;

    float mass_ = 1.0f;
    float inverseMass_ = 1.0f;
    int32_t state_ = BodyDynamic;
    uint32_t bodyFlags_ = BodyDefaultFlags;
    Float3 velocity_;
    Float3 angularVelocity_;
    float drag_ = 0.0f;
    float angularDrag_ = 0.0f;
    Float3 force_;
    Float3 torque_;
    Matrix3 inertia_;
    Matrix3 inverseInertia_;
    float idleTimer_ = 0.0f;
    int32_t islandTag_ = 0;
    JointNode* joints_ = nullptr;
    int32_t nonContactJoints_ = 0;
    CollisionVolume* volumes_ = nullptr;
    PhysicsMaster* world_ = nullptr;
    // Where ResetIfAbsurd puts a body back: its own position at the last sound check or
    // placement.
    Float3 lastSoundPosition_;
    int32_t exactFailures_ = 0;
    uint32_t exactRetryStep_ = 0;
    uint32_t exactSolveStep_ = 0;
    bool exactFailedCalm_ = false;
    bool solvedSoftened_ = false;
    bool reportedImmovable_ = false;
    bool reportedAbsurd_ = false;
    bool reportedOffCentre_ = false;
    bool reportedScale_ = false;
};

} // namespace quarn
