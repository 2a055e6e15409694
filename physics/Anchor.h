#pragma once

#include "core/object/EntityRef.h"
#include "core/object/ValueBinding.h"
#include "core/scene/Pivot.h"

#include <cstdint>

namespace quarn {

class Joint;
class MethodInfo;
class Module;

// Values of the "type" property (stored in scene files).
enum AnchorType : int32_t {
    AnchorNone = 0,
    AnchorBall = 1,
    AnchorFixed = 2,
    AnchorAxis = 3,
    AnchorNoStruct = 4,
    AnchorHinge2 = 5,
    AnchorHinge = 6,
    AnchorSlider = 7,
};

// The joint creation number (JointCreation) two anchor types call for; 0 for none.
int32_t JointTypeFor(int32_t a, int32_t b);

// A docking point of a module. Attached to a partner anchor it owns, with the partner, the
// joint their types call for between the two modules' bodies; limits are in degrees here and
// in radians in the joint.
class Anchor : public Pivot {
public:
    Anchor();
    ~Anchor() override;

    ClassInfo* GetClass() const override { return classInfo; }
    // Joins the nearest module above, leaving the one it was registered with.
    void ParentFlagsChanged(Node* parent, bool attached) override;
    // Draws the joint's gizmo while the editor runs.
    void Update(float frameTime, int mode) override;
    int GetInputCount() const override { return 1; }
    const char* GetInputName(int port) const override;
    void ReceiveEvent(const EventRecord& event) override;
    int GetOutputCount() const override { return 2; }
    const char* GetOutputName(int port) const override;
    void SetPortValue(int port, const EntityRef& reference) override;
    EntityRef GetPortValue(int port) const override;

    // Attaches to `partner`, detaches (null), or logs why it cannot and changes nothing.
    void SetJointAnchor(Entity* partner);
    void Detach();

    Anchor* GetPartner() const { return partner_; }
    Joint* GetJoint() const { return joint_; }
    Module* GetModule() const { return module_; }
    // Called by a module that goes away.
    void ForgetModule(Module* module);

    int32_t GetType() const { return type_; }
    // An attached anchor whose pair now calls for another joint replaces its joint.
    void SetType(int32_t type);
    float GetMinLimit() const { return minLimit_; }
    void SetMinLimit(float degrees);
    float GetMaxLimit() const { return maxLimit_; }
    void SetMaxLimit(float degrees);
    float GetMotorSpeed() const { return motorSpeed_; }
    void SetMotorSpeed(float speed);
    float GetMaxMotorForce() const { return maxMotorForce_; }
    void SetMaxMotorForce(float force);
    float GetErp() const { return erp_; }
    void SetErp(float erp);
    float GetCfm() const { return cfm_; }
    void SetCfm(float cfm);

    // Runs the joint's motor to the target (radians or metres), latching at it.
    void DriveTo(float target, float speed);
    // True while a limit-and-motor joint has no drive under way.
    bool HasArrived() const;
    // Only for joints made as AXIS or HINGE.
    void ApplyTorque(float torque);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;
    static void SetModuleResultType(int32_t type);

private:
    static MethodInfo* moduleResults_[2];

    void Attach(Anchor* partner);
    // Makes the joint for this pair and attaches it to the modules' bodies.
    void CreatePairJoint(int32_t creation);
    void SyncLimitMotor();
    void SyncErpCfm();
    void SendWitness(const EntityRef& witness);
    void DrawGizmo();
    void OnLoaded(void*);

    EntityId GetPartnerId() const { return {partner_ ? partner_->GetId() : pendingPartner_}; }
    void SetPartnerId(EntityId id);
    bool ScriptIsAttached() const { return partner_ != nullptr; }
    Entity* ScriptGetModule() const;
    Entity* ScriptGetPartnerModule() const;

    float minLimit_ = -3.4028235e38f;
    float maxLimit_ = 3.4028235e38f;
    float motorSpeed_ = 0.0f;
    float maxMotorForce_ = 0.0f;
    Anchor* partner_ = nullptr;
    // A partner named while loading, before it exists or has its module.
    uint32_t pendingPartner_ = 0;
    int32_t type_ = AnchorNone;
    float erp_ = 0.0f;
    float cfm_ = 0.0f;
    EntityRef attachmentWitness_;
    EntityRef detachmentWitness_;
    Joint* joint_ = nullptr; // shared with the partner; the one who detaches deletes it
    Module* module_ = nullptr;
};

} // namespace quarn
