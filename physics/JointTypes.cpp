#include "physics/JointTypes.h"

#include "core/math/Quaternion.h"
#include "core/scene/Pivot.h"
#include "physics/PhysicsMaster.h"
#include "physics/Anchor.h"
#include "physics/Module.h"
#include "physics/RigidBody.h"
#include "physics/RigidStruct.h"

#include <cfloat>

namespace quarn {
namespace {

constexpr float Pi = 3.1415927f;

void ResetFromWorld(JointLimitMotor& limitMotor, PhysicsMaster* world) {
    if (world) {
        limitMotor.Reset(world->GetErp(), world->GetCfm());
    }
}

// Five rows, and a sixth while the motor runs or a stop is reached.
void LimitedRowCount(JointInfo1& info, JointLimitMotor& limitMotor, bool testLimit, float x) {
    info.m = limitMotor.IsMotorOn() ? 6 : 5;
    info.nub = 5;
    limitMotor.ClearLimit();
    if (testLimit && limitMotor.TestLimit(x)) {
        info.m = 6;
    }
}

} // namespace

HingeJoint::HingeJoint() {
    Reset();
}

SliderJoint::SliderJoint() {
    Reset();
}

void BallJoint::GetInfo1(JointInfo1& info) {
    info.m = info.nub = active_ && HasGeometry() ? 3 : 0;
}

void BallJoint::GetInfo2(JointInfo2& info) {
    SetBallRows(info, BeginRows(info));
}

void HingeJoint::Reset() {
    ResetFromWorld(limitMotor_, GetWorld());
}

Float3 HingeJoint::Axis() {
    return GetAnchor(0)->GetWorldAxisZ() * -1.0f;
}

void HingeJoint::GetInfo1(JointInfo1& info) {
    if (!HasGeometry()) {
        info.m = info.nub = 0;
        return;
    }
    const bool bounded = limitMotor_.GetLowStop() >= -Pi || limitMotor_.GetHighStop() <= Pi;
    LimitedRowCount(info, limitMotor_, bounded, bounded ? GetVariable() : 0.0f);
}

void HingeJoint::GetInfo2(JointInfo2& info) {
    const RowFrame frame = BeginRows(info);
    SetBallRows(info, frame);
    const Float3 h = Axis();
    Float3 p, q;
    PlaneSpace(h, p, q);
    const int s3 = 3 * info.rowSkip;
    const int s4 = 4 * info.rowSkip;
    StoreJacobian(info.J1a + s3, p);
    StoreJacobian(info.J1a + s4, q);
    if (frame.secondTakesPart) {
        StoreJacobian(info.J2a + s3, p * -1.0f);
        StoreJacobian(info.J2a + s4, q * -1.0f);
    }
    const Float3 b = h.Cross(GetAnchor(1)->GetWorldAxisZ() * -1.0f);
    info.c[3] = frame.k * b.Dot(p);
    info.c[4] = frame.k * b.Dot(q);
    if (frame.secondKinematic) {
        const Float3 w2 = frame.second->GetWorldAngularVelocity();
        info.c[3] -= w2.Dot(p);
        info.c[4] -= w2.Dot(q);
    }
    // The angle reads the same whichever body came first; so must the row that drives it.
    limitMotor_.AddRow(info, 5, reversed_ ? h * -1.0f : h, true,
                       {frame.first, frame.second, frame.secondTakesPart, frame.p1, frame.p2});
}

float HingeJoint::GetVariable() {
    if (!HasGeometry()) {
        return 0.0f;
    }
    const Quaternion q1 = GetAnchor(0)->GetWorldOrientation();
    const Quaternion q2 = GetAnchor(1)->GetWorldOrientation();
    const Quaternion relative = q1 * Quaternion(-q2.x, -q2.y, -q2.z, q2.w);
    Float3 axis;
    float angle = relative.ToAxisAngle(axis);
    if (angle > Pi) {
        angle -= 2.0f * Pi;
    }
    if (axis.Dot(Axis()) < 0.0f) {
        angle = -angle;
    }
    return reversed_ ? -angle : angle;
}

float HingeJoint::GetVariableRate() {
    RigidBody* first = GetBody(0);
    if (!first || !HasGeometry()) {
        return 0.0f;
    }
    // Angular velocities turn points as r x w, so about the negated Z axis the angle grows with
    // z . w: read about -Z, as h . w, the rate had the opposite sign of the angle's change.
    const Float3 z = GetAnchor(0)->GetWorldAxisZ();
    float rate = z.Dot(first->GetWorldAngularVelocity());
    if (RigidBody* second = GetBody(1)) {
        rate -= z.Dot(second->GetWorldAngularVelocity());
    }
    return reversed_ ? -rate : rate;
}

void HingeJoint::ApplyTorque(float torque) {
    RigidBody* first = GetBody(0);
    if (!first || !HasGeometry()) {
        return;
    }
    const Float3 t = GetAnchor(0)->GetWorldAxisZ() * (reversed_ ? -torque : torque);
    first->AddTorque(t);
    if (RigidBody* second = GetBody(1)) {
        second->AddTorque(t * -1.0f);
    }
}

void FixedJoint::GetInfo1(JointInfo1& info) {
    info.m = info.nub = HasGeometry() ? 6 : 0;
}

void FixedJoint::GetInfo2(JointInfo2& info) {
    // The ball rows, whose angular parts follow the anchors as they turn with their bodies.
    const RowFrame frame = BeginRows(info);
    SetBallRows(info, frame);
    SetFixedOrientationRows(info, 3, frame);
}

void SliderJoint::Reset() {
    ResetFromWorld(limitMotor_, GetWorld());
}

void SliderJoint::GetInfo1(JointInfo1& info) {
    if (!HasGeometry()) {
        info.m = info.nub = 0;
        return;
    }
    const bool bounded =
        limitMotor_.GetLowStop() > -FLT_MAX || limitMotor_.GetHighStop() < FLT_MAX;
    LimitedRowCount(info, limitMotor_, bounded, bounded ? GetVariable() : 0.0f);
}

float SliderJoint::GetVariable() {
    if (!HasGeometry()) {
        return 0.0f;
    }
    const Float3 z = GetAnchor(0)->GetWorldAxisZ();
    return (GetAnchor(0)->GetWorldPosition() - GetAnchor(1)->GetWorldPosition()).Dot(z);
}

float SliderJoint::GetVariableRate() {
    RigidBody* first = GetBody(0);
    if (!first || !HasGeometry()) {
        return 0.0f;
    }
    Float3 v = first->GetWorldLinearVelocity();
    if (RigidBody* second = GetBody(1)) {
        v = v - second->GetWorldLinearVelocity();
    }
    return GetAnchor(0)->GetWorldAxisZ().Dot(v);
}

void SliderJoint::GetInfo2(JointInfo2& info) {
    const RowFrame frame = BeginRows(info);
    SetFixedOrientationRows(info, 0, frame);
    const Float3 axis = GetAnchor(0)->GetWorldAxisZ() * -1.0f;
    Float3 p, q;
    PlaneSpace(axis, p, q);
    const Float3 middle = (frame.p1 - frame.p2) * 0.5f;
    const Float3 d = frame.a1 - frame.a2;
    const Float3 across[2] = {p, q};
    for (int i = 0; i < 2; ++i) {
        const int s = (3 + i) * info.rowSkip;
        StoreJacobian(info.J1l + s, across[i]);
        if (frame.secondTakesPart) {
            StoreJacobian(info.J2l + s, across[i] * -1.0f);
            StoreJacobian(info.J1a + s, middle.Cross(across[i]));
            StoreJacobian(info.J2a + s, middle.Cross(across[i]));
        }
        info.c[3 + i] = frame.k * d.Dot(across[i]);
    }
    if (jointCfm_ != 0.0f) {
        info.cfm[0] = jointCfm_;
    }
    limitMotor_.AddRow(info, 5, axis, false, {frame.first, frame.second, frame.secondTakesPart,
                                              frame.p1, frame.p2});
}

RigidStructJoint::~RigidStructJoint() {
    RigidStruct::Split(ToAnchor(GetAnchor(0)));
}

namespace {

std::unique_ptr<Joint> MakeJoint(int32_t creation) {
    switch (creation) {
    case CreateBall:
        return std::make_unique<BallJoint>();
    case CreateAxis:
    case CreateHinge:
        return std::make_unique<HingeJoint>();
    case CreateFixed:
        return std::make_unique<FixedJoint>();
    case CreateRigidMerge:
        return std::make_unique<RigidStructJoint>();
    case CreateSlider:
        return std::make_unique<SliderJoint>();
    default:
        return nullptr;
    }
}

} // namespace

std::unique_ptr<Joint> CreateJoint(int32_t creation) {
    std::unique_ptr<Joint> joint = MakeJoint(creation);
    if (joint) {
        joint->SetCreation(creation);
    }
    return joint;
}

} // namespace quarn
