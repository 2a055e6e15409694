#pragma once

#include "core/math/Vector.h"

#include <cstdint>

namespace quarn {

class RigidBody;
struct JointInfo2;

enum JointLimitState : int32_t {
    LimitFree = 0,
    LimitAtLow = 1,
    LimitAtHigh = 2,
};

// The stops and the motor of a hinge or slider, and the one row they add along its axis.
class JointLimitMotor {
public:
    // Motor cfm and stop cfm take the world's cfm, stop erp the world's erp.
    void Reset(float worldErp, float worldCfm);

    // A stop pushes the other one along rather than crossing it.
    void SetLowStop(float value);
    void SetHighStop(float value);
    void SetVelocity(float velocity) { velocity_ = velocity; }
    void SetMaxForce(float force) { maxForce_ = force; }
    // Moves the stop in the direction of travel to the target and runs the motor towards it;
    // TestLimit locks the joint once the stop is reached.
    void DriveTo(float current, float target, float speed);
    // Sets the limit state for the joint variable x; a latched stop, once reached, closes the
    // other stop onto it and stops the motor. Answers whether a stop is reached.
    bool TestLimit(float x);
    void ClearLimit() { state_ = LimitFree; }

    bool IsMotorOn() const { return maxForce_ > 0.0f; }
    bool NeedsRow() const { return IsMotorOn() || state_ != LimitFree; }

    // The row `row` along the world axis: angular for a hinge, linear for a slider. For a linear
    // row whose second body takes part, both bodies turn about their midpoint. Driving the motor
    // into a reached stop applies its full force directly, the stop row holding against it.
    struct RowBodies {
        RigidBody* first = nullptr;
        RigidBody* second = nullptr;
        bool secondTakesPart = false;
        Float3 p1, p2;
    };
    void AddRow(JointInfo2& info, int row, Float3 axis, bool angular, const RowBodies& bodies);

    int32_t GetState() const { return state_; }
    float GetVelocity() const { return velocity_; }
    float GetMaxForce() const { return maxForce_; }
    float GetLowStop() const { return lowStop_; }
    float GetHighStop() const { return highStop_; }
    int32_t GetLatch() const { return latch_; }
    float GetLimitError() const { return limitError_; }
    float motorCfm = 0.0f;
    float stopErp = 0.0f;
    float stopCfm = 0.0f;
    float stopBounce = 0.0f;

private:
    int32_t state_ = LimitFree;
    float velocity_ = 0.0f;
    float maxForce_ = 0.0f;
    float lowStop_ = -3.4028235e38f;
    float highStop_ = 3.4028235e38f;
    int32_t latch_ = 0; // 1 locks at the low stop, 2 at the high stop
    float limitError_ = 0.0f;
};

} // namespace quarn
