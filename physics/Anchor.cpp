#include "physics/Anchor.h"

#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "core/object/Signals.h"
#include "core/scene/EngineState.h"
#include "core/scene/WitnessProperty.h"
#include "physics/JointTypes.h"
#include "physics/Module.h"
#include "physics/RigidBody.h"
#include "resources/DynamicMesh.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace quarn {

ClassInfo* Anchor::classInfo = nullptr;
MethodInfo* Anchor::moduleResults_[2] = {};

namespace {

constexpr float DegreesToRadians = 0.017453292f;
constexpr float RadiansToDegrees = 57.29578f;

// An absent stop (the largest float either way) stays absent in either unit.
float Convert(float value, float factor) {
    return std::fabs(value) >= FLT_MAX ? value : value * factor;
}

EntityRef ReferenceTo(uint32_t id) {
    EntityRef reference;
    reference.InitFromId(id);
    return reference;
}

} // namespace

int32_t JointTypeFor(int32_t a, int32_t b) {
    auto either = [a, b](int32_t type) { return a == type || b == type; };
    if (either(AnchorNone)) {
        return 0;
    }
    if (either(AnchorBall)) {
        return CreateBall;
    }
    if (either(AnchorSlider)) {
        return CreateSlider;
    }
    if (either(AnchorHinge)) {
        return CreateHinge;
    }
    if (either(AnchorAxis)) {
        return CreateAxis;
    }
    if (a == AnchorFixed && b == AnchorFixed) {
        return CreateRigidMerge;
    }
    return CreateFixed;
}

Anchor::Anchor() = default;

Anchor::~Anchor() {
    Detach();
    if (module_) {
        module_->RemoveAnchor(this);
        module_ = nullptr;
    }
}

void Anchor::ParentFlagsChanged(Node* parent, bool attached) {
    // On a removal the chain above `parent` is about to go: the nearest module below the cut.
    Module* nearest = nullptr;
    for (Node* node = GetParent(); node; node = node->GetParent()) {
        if (!attached && node == parent) {
            break;
        }
        if ((nearest = ToModule(node))) {
            break;
        }
    }
    if (nearest != module_) {
        if (module_) {
            module_->RemoveAnchor(this);
        }
        module_ = nearest;
        if (module_) {
            module_->AddAnchor(this);
        }
    }
    Pivot::ParentFlagsChanged(parent, attached);
}

void Anchor::ForgetModule(Module* module) {
    if (module_ == module) {
        module_ = nullptr;
    }
}

const char* Anchor::GetInputName(int port) const {
    return port == 0 ? "detach" : "";
}

void Anchor::ReceiveEvent(const EventRecord& event) {
    if (event.target.GetPort() == 0) {
        Detach();
    }
}

const char* Anchor::GetOutputName(int port) const {
    return port == 0 ? "detached" : port == 1 ? "attached" : "";
}

void Anchor::SetPortValue(int port, const EntityRef& reference) {
    if (port == 0) {
        detachmentWitness_.SetId(reference.GetId());
    } else if (port == 1) {
        attachmentWitness_.SetId(reference.GetId());
    }
}

EntityRef Anchor::GetPortValue(int port) const {
    return port == 0 ? detachmentWitness_ : port == 1 ? attachmentWitness_ : EntityRef();
}

void Anchor::SetJointAnchor(Entity* target) {
    Anchor* partner = ToAnchor(target);
    if (partner && partner == partner_) {
        return;
    }
    if (!target) {
        Detach();
        return;
    }
    if (!partner) {
        LogMessage("Warning: SetJointAnchor was called with an invalid anchor\n");
        return;
    }
    if (partner == this) {
        LogMessage("Warning: Trying to attach anchor to itself\n");
        return;
    }
    if (partner_ || partner->partner_) {
        LogMessage("Warning: Trying to attach to anchor which is already attached elsewhere.\n");
        return;
    }
    if (type_ == AnchorNone || partner->type_ == AnchorNone) {
        return;
    }
    Attach(partner);
}

void Anchor::CreatePairJoint(int32_t creation) {
    Anchor* partner = partner_;
    std::unique_ptr<Joint> made = CreateJoint(creation);
    joint_ = partner->joint_ = made.release();
    joint_->AttachAnchors(this, partner, false);
    SyncLimitMotor();
    SyncErpCfm();
}

void Anchor::Attach(Anchor* partner) {
    const int32_t creation = JointTypeFor(type_, partner->type_);
    if (creation == 0) {
        return;
    }
    pendingPartner_ = partner->pendingPartner_ = 0;
    partner_ = partner;
    partner->partner_ = this;
    const uint64_t self = GetSerial();
    const uint64_t other = partner->GetSerial();
    CreatePairJoint(creation);
    // A merge may have moved and rebuilt bodies; the witnesses hear of it last.
    if (Entity::FindBySerial(self) == this) {
        SendWitness(attachmentWitness_);
    }
    if (Entity::FindBySerial(other) == partner && Entity::FindBySerial(self) == this) {
        partner->SendWitness(partner->attachmentWitness_);
    }
}

void Anchor::Detach() {
    Anchor* partner = partner_;
    if (!partner) {
        return;
    }
    // Deleting a rigid-merge joint splits its structure, which needs the pair still linked.
    Joint* joint = joint_;
    delete joint;
    joint_ = partner->joint_ = nullptr;
    partner_ = partner->partner_ = nullptr;
    const uint64_t self = GetSerial();
    const uint64_t other = partner->GetSerial();
    SendWitness(detachmentWitness_);
    if (Entity::FindBySerial(other) == partner && Entity::FindBySerial(self) == this) {
        partner->SendWitness(partner->detachmentWitness_);
    }
}

void Anchor::SendWitness(const EntityRef& witness) {
    if (witness.GetId() != 0) {
        SendEvent(ReferenceTo(GetId()), witness, this, 1.0f);
    }
}

void Anchor::SyncLimitMotor() {
    JointLimitMotor* motor = joint_ ? joint_->GetLimitMotor() : nullptr;
    if (!motor) {
        return;
    }
    motor->SetLowStop(Convert(std::max(minLimit_, partner_->minLimit_), DegreesToRadians));
    motor->SetHighStop(Convert(std::min(maxLimit_, partner_->maxLimit_), DegreesToRadians));
    motor->SetVelocity(motorSpeed_ + partner_->motorSpeed_);
    motor->SetMaxForce(std::max(maxMotorForce_, partner_->maxMotorForce_));
}

void Anchor::SyncErpCfm() {
    if (!joint_) {
        return;
    }
    joint_->UpdateErp();
    joint_->UpdateCfm();
    if (joint_->GetType() == JointBall) {
        static_cast<BallJoint*>(joint_)->SetActive(erp_ >= 0.0f && partner_->erp_ >= 0.0f);
    }
}

void Anchor::SetType(int32_t type) {
    if (type == type_) {
        return;
    }
    type_ = type;
    if (!partner_ || !joint_ || joint_->GetType() == JointRigidMerge) {
        return;
    }
    const int32_t creation = JointTypeFor(type_, partner_->type_);
    if (creation == joint_->GetCreation()) {
        return;
    }
    if (creation == 0) {
        Detach();
        return;
    }
    delete joint_;
    joint_ = partner_->joint_ = nullptr;
    CreatePairJoint(creation);
}

void Anchor::SetMinLimit(float degrees) {
    minLimit_ = degrees;
    if (maxLimit_ < degrees) {
        SetMaxLimit(degrees);
    }
    JointLimitMotor* motor = joint_ ? joint_->GetLimitMotor() : nullptr;
    if (motor && minLimit_ >= partner_->minLimit_) {
        motor->SetLowStop(Convert(minLimit_, DegreesToRadians));
    }
}

void Anchor::SetMaxLimit(float degrees) {
    maxLimit_ = degrees;
    if (minLimit_ > degrees) {
        SetMinLimit(degrees);
    }
    JointLimitMotor* motor = joint_ ? joint_->GetLimitMotor() : nullptr;
    if (motor && maxLimit_ <= partner_->maxLimit_) {
        motor->SetHighStop(Convert(maxLimit_, DegreesToRadians));
    }
}

void Anchor::SetMotorSpeed(float speed) {
    motorSpeed_ = speed;
    if (JointLimitMotor* motor = joint_ ? joint_->GetLimitMotor() : nullptr) {
        motor->SetVelocity(motorSpeed_ + partner_->motorSpeed_);
    }
}

void Anchor::SetMaxMotorForce(float force) {
    maxMotorForce_ = force;
    if (JointLimitMotor* motor = joint_ ? joint_->GetLimitMotor() : nullptr) {
        motor->SetMaxForce(std::max(maxMotorForce_, partner_->maxMotorForce_));
    }
}

void Anchor::SetErp(float erp) {
    erp_ = erp;
    SyncErpCfm();
}

void Anchor::SetCfm(float cfm) {
    cfm_ = cfm;
    SyncErpCfm();
}

void Anchor::DriveTo(float target, float speed) {
    JointLimitMotor* motor = joint_ ? joint_->GetLimitMotor() : nullptr;
    if (!motor) {
        return;
    }
    motor->DriveTo(joint_->GetVariable(), target, speed);
    motorSpeed_ = motor->GetVelocity();
    // The properties hold degrees: a later synchronisation converts them again.
    minLimit_ = Convert(motor->GetLowStop(), RadiansToDegrees);
    maxLimit_ = Convert(motor->GetHighStop(), RadiansToDegrees);
}

bool Anchor::HasArrived() const {
    JointLimitMotor* motor = joint_ ? joint_->GetLimitMotor() : nullptr;
    return motor && motor->GetLatch() == 0;
}

void Anchor::ApplyTorque(float torque) {
    if (joint_ && (joint_->GetCreation() == CreateAxis || joint_->GetCreation() == CreateHinge)) {
        static_cast<HingeJoint*>(joint_)->ApplyTorque(torque);
    }
}

void Anchor::SetPartnerId(EntityId id) {
    // While loading, the partner may not exist yet and neither anchor knows its module.
    Entity* target = LookupEntity(id.value);
    if (id.value != 0 && (!module_ || !target || !ToAnchor(target) ||
                          !ToAnchor(target)->module_)) {
        pendingPartner_ = id.value;
        return;
    }
    pendingPartner_ = 0;
    SetJointAnchor(target);
}

void Anchor::OnLoaded(void*) {
    if (pendingPartner_ != 0 && !partner_) {
        const uint32_t id = pendingPartner_;
        pendingPartner_ = 0;
        SetJointAnchor(LookupEntity(id));
    } else if (joint_) {
        // The bodies may have been placed only now.
        joint_->Reattach();
    }
}

void Anchor::Update(float frameTime, int mode) {
    Pivot::Update(frameTime, mode);
    if (EditorRunning) {
        DrawGizmo();
    }
}

void Anchor::DrawGizmo() {
    constexpr uint32_t Green = 0xFF00FF00;
    constexpr uint32_t Red = 0xFFFF0000;
    constexpr uint32_t Yellow = 0xFFFFFF00;
    constexpr float Size = 0.05f;
    if (joint_ && joint_->GetAnchor(0) == this) {
        for (int i = 0; i < 2; ++i) {
            if (RigidBody* body = joint_->GetBody(i)) {
                const Float3 from = body->GetWorldPosition();
                DrawDebugLine(from, from + body->GetWorldLinearVelocity() * 20.0f, Green);
            }
        }
    }
    const Float3 origin = GetWorldPosition();
    const bool finite[2] = {std::fabs(minLimit_) < FLT_MAX, std::fabs(maxLimit_) < FLT_MAX};
    const float limits[2] = {minLimit_, maxLimit_};
    if (type_ == AnchorBall) {
        DrawDebugPointMarker(origin, Size, Yellow);
    } else if (type_ == AnchorAxis) {
        // Ticks in the plane the hinge turns in, at the angle they stand for.
        const Float3 x = GetWorldAxis(0);
        const Float3 y = GetWorldAxis(1);
        auto tick = [&](float degrees, uint32_t color) {
            const float a = degrees * DegreesToRadians;
            DrawDebugLine(origin, origin + (x * std::cos(a) + y * std::sin(a)) * Size, color);
        };
        tick(0.0f, Green);
        for (int i = 0; i < 2; ++i) {
            if (finite[i]) {
                tick(limits[i], Red);
            }
        }
    } else if (type_ == AnchorSlider) {
        const Float3 z = GetWorldAxis(2);
        const Float3 x = GetWorldAxis(0) * Size;
        const Float3 y = GetWorldAxis(1) * Size;
        auto cross = [&](Float3 at, uint32_t color) {
            DrawDebugLine(at - x, at + x, color);
            DrawDebugLine(at - y, at + y, color);
        };
        // The joint reads the limits as degrees turned into radians: as metres here.
        const Float3 low = finite[0] ? origin + z * (minLimit_ * DegreesToRadians) : origin;
        const Float3 high = finite[1] ? origin + z * (maxLimit_ * DegreesToRadians) : origin;
        DrawDebugLine(low, high, Green);
        cross(origin, Green);
        for (int i = 0; i < 2; ++i) {
            if (finite[i]) {
                cross(origin + z * (limits[i] * DegreesToRadians), Red);
            }
        }
    }
}

Entity* Anchor::ScriptGetModule() const {
    return module_;
}

Entity* Anchor::ScriptGetPartnerModule() const {
    return partner_ ? partner_->module_ : nullptr;
}

void Anchor::SetModuleResultType(int32_t type) {
    for (MethodInfo* method : moduleResults_) {
        if (method) {
            method->SetReturnType(type);
        }
    }
}

ClassInfo* Anchor::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = Pivot::RegisterClass();
    classInfo = new ClassInfo("Anchor", []() -> Entity* { return new Anchor(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Physics");
    using A = Anchor;
    const uint32_t none = 0;
    classInfo->AddProperty<PropertyEnum, &A::GetType, &A::SetType>(
        "type:NONE,BALL,FIXED,AXIS,NOSTRUCT,HINGE2,HINGE,SLIDER");
    classInfo
        ->AddProperty("jointanchor",
                      std::make_unique<PropertyEntity>(ClassTypeBase + classInfo->GetClassNumber()),
                      MakeGetter<&A::GetPartnerId>(), MakeSetter<&A::SetPartnerId>())
        ->SetDefault(&none);
    classInfo->AddProperty<PropertyFloat, &A::GetMinLimit, &A::SetMinLimit>(
        "minlimit:-180.0,180.0");
    classInfo->AddProperty<PropertyFloat, &A::GetMaxLimit, &A::SetMaxLimit>(
        "maxlimit:-180.0,180.0");
    classInfo->AddProperty<PropertyFloat, &A::GetMotorSpeed, &A::SetMotorSpeed>(
        "motorspeed:-10.0,10.0");
    classInfo->AddProperty<PropertyFloat, &A::GetMaxMotorForce, &A::SetMaxMotorForce>(
        "maxmotorforce:0.0,10.0");
    classInfo->AddProperty<PropertyFloat, &A::GetErp, &A::SetErp>("erp:0.0,1.0");
    classInfo->AddProperty<PropertyFloat, &A::GetCfm, &A::SetCfm>("cfm:0.0,0.01");
    AddWitnessProperty(classInfo, "attachmentwitness:signal", 1);
    AddWitnessProperty(classInfo, "detachmentwitness:signal", 0);
    for (int32_t type = AnchorNone; type <= AnchorSlider; ++type) {
        RegisterNamedConstant(NextShortName(), type);
    }
    classInfo->AddMethod("loaded", "()", BindSignalHandler<&A::OnLoaded>(), MethodClassSignal);
    classInfo->AddMethod(NextShortName(), "():bool", BindMethod<&A::ScriptIsAttached>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(Anchor)", BindMethod<&A::SetJointAnchor>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "", BindMethod<&A::Detach>(),
                         MethodScriptCallable | MethodNoResult);
    // Module registers after Anchor and names itself the result type of these two then.
    moduleResults_[0] = classInfo->AddMethod(NextShortName(), "():entity",
                                             BindMethod<&A::ScriptGetModule>(), MethodScript);
    moduleResults_[1] = classInfo->AddMethod(
        NextShortName(), "():entity", BindMethod<&A::ScriptGetPartnerModule>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(float,float)", BindMethod<&A::DriveTo>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float)", BindMethod<&A::ApplyTorque>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():bool", BindMethod<&A::HasArrived>(), MethodScript);
    RegisterClassSignal("loaded", classInfo);
    return classInfo;
}

} // namespace quarn
