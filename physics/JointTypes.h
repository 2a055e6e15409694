#pragma once

#include "physics/Joint.h"
#include "physics/JointLimitMotor.h"

#include <memory>

namespace quarn {

// Keeps the two anchors together; a ball joint made inactive (an anchor's erp below 0) lets go.
class BallJoint : public Joint {
public:
    int32_t GetType() const override { return JointBall; }
    void GetInfo1(JointInfo1& info) override;
    void GetInfo2(JointInfo2& info) override;
    void SetActive(bool active) { active_ = active; }
    bool IsActive() const { return active_; }
};

// Turns about the first anchor's Z axis.
class HingeJoint : public Joint {
public:
    HingeJoint();
    int32_t GetType() const override { return JointHinge; }
    void Reset() override;
    void GetInfo1(JointInfo1& info) override;
    void GetInfo2(JointInfo2& info) override;
    JointLimitMotor* GetLimitMotor() override { return &limitMotor_; }
    // The angle in (-pi, pi] and its rate.
    float GetVariable() override;
    float GetVariableRate() override;
    void ApplyTorque(float torque);

private:
    Float3 Axis();
    JointLimitMotor limitMotor_;
};

class FixedJoint : public Joint {
public:
    int32_t GetType() const override { return JointFixed; }
    void GetInfo1(JointInfo1& info) override;
    void GetInfo2(JointInfo2& info) override;
};

// Slides along the first anchor's Z axis without turning.
class SliderJoint : public Joint {
public:
    SliderJoint();
    int32_t GetType() const override { return JointSlider; }
    void Reset() override;
    void GetInfo1(JointInfo1& info) override;
    void GetInfo2(JointInfo2& info) override;
    JointLimitMotor* GetLimitMotor() override { return &limitMotor_; }
    float GetVariable() override;
    float GetVariableRate() override;

private:
    JointLimitMotor limitMotor_;
};

// Has no rows: its two bodies are merged into one rigid structure instead.
class RigidStructJoint : public Joint {
public:
    // Splits the structure when its two halves are no longer rigidly linked.
    ~RigidStructJoint() override;
    int32_t GetType() const override { return JointRigidMerge; }
    void GetInfo1(JointInfo1& info) override { info.m = info.nub = 0; }
    void GetInfo2(JointInfo2&) override {}
};

// The joint for a creation number (JointCreation); null for any other number.
std::unique_ptr<Joint> CreateJoint(int32_t creation);

} // namespace quarn
