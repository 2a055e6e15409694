#include "physics/JointLimitMotor.h"

#include "physics/Joint.h"
#include "physics/LCPSolver.h"
#include "physics/RigidBody.h"

#include <algorithm>
#include <cmath>

namespace quarn {
namespace {

constexpr float LatchGap = 0.0001f;

} // namespace

void JointLimitMotor::Reset(float worldErp, float worldCfm) {
    motorCfm = worldCfm;
    stopErp = worldErp;
    stopCfm = worldCfm;
}

void JointLimitMotor::SetLowStop(float value) {
    if (highStop_ < value) {
        highStop_ = value;
    }
    lowStop_ = value;
}

void JointLimitMotor::SetHighStop(float value) {
    if (lowStop_ > value) {
        lowStop_ = value;
    }
    highStop_ = value;
}

void JointLimitMotor::DriveTo(float current, float target, float speed) {
    if (target < current) {
        SetLowStop(target);
        velocity_ = -std::fabs(speed);
        latch_ = LimitAtLow;
    } else if (target == current) {
        SetLowStop(target);
        SetHighStop(target);
        velocity_ = 0.0f;
        latch_ = 0;
    } else {
        SetHighStop(target);
        velocity_ = std::fabs(speed);
        latch_ = LimitAtHigh;
    }
}

bool JointLimitMotor::TestLimit(float x) {
    if (x <= lowStop_) {
        state_ = LimitAtLow;
        limitError_ = x - lowStop_;
        if (latch_ == LimitAtLow) {
            latch_ = 0;
            highStop_ = lowStop_ + LatchGap;
            velocity_ = 0.0f;
        }
    } else if (x >= highStop_) {
        state_ = LimitAtHigh;
        limitError_ = x - highStop_;
        if (latch_ == LimitAtHigh) {
            latch_ = 0;
            lowStop_ = highStop_ - LatchGap;
            velocity_ = 0.0f;
        }
    } else {
        state_ = LimitFree;
    }
    return state_ != LimitFree;
}

void JointLimitMotor::AddRow(JointInfo2& info, int row, Float3 axis, bool angular,
                             const RowBodies& bodies) {
    if (!NeedsRow()) {
        return;
    }
    const int s = row * info.rowSkip;
    StoreJacobian((angular ? info.J1a : info.J1l) + s, axis);
    // A linear row between two moving bodies turns both about their midpoint.
    Float3 midTurn;
    if (bodies.secondTakesPart) {
        StoreJacobian((angular ? info.J2a : info.J2l) + s, axis * -1.0f);
        if (!angular) {
            midTurn = ((bodies.p1 - bodies.p2) * 0.5f).Cross(axis);
            StoreJacobian(info.J1a + s, midTurn);
            StoreJacobian(info.J2a + s, midTurn);
        }
    }

    if (IsMotorOn() && (state_ == LimitFree || lowStop_ != highStop_)) {
        info.cfm[row] = motorCfm;
        const bool intoStop = (state_ == LimitAtLow && velocity_ < 0.0f) ||
                              (state_ == LimitAtHigh && velocity_ > 0.0f);
        if (!intoStop) {
            info.c[row] = velocity_;
            info.lo[row] = -maxForce_;
            info.hi[row] = maxForce_;
        } else {
            const float f = velocity_ > 0.0f ? -maxForce_ : maxForce_;
            const Float3 push = axis * f;
            if (angular) {
                bodies.first->AddTorque(push);
                if (bodies.secondTakesPart) {
                    bodies.second->AddTorque(push * -1.0f);
                }
            } else {
                bodies.first->AddForce(push);
                if (bodies.secondTakesPart) {
                    bodies.second->AddForce(push * -1.0f);
                    const Float3 turn = midTurn * f;
                    bodies.first->AddTorque(turn);
                    bodies.second->AddTorque(turn);
                }
            }
        }
    }

    if (state_ == LimitFree) {
        return;
    }
    info.c[row] = -(info.fps * stopErp) * limitError_;
    info.cfm[row] = stopCfm;
    if (lowStop_ == highStop_) {
        info.lo[row] = -LCPInfinity;
        info.hi[row] = LCPInfinity;
        return;
    }
    if (state_ == LimitAtLow) {
        info.lo[row] = 0.0f;
        info.hi[row] = LCPInfinity;
    } else {
        info.lo[row] = -LCPInfinity;
        info.hi[row] = 0.0f;
    }
    if (stopBounce > 0.0f) {
        auto along = [&](RigidBody* body) {
            return axis.Dot(angular ? body->GetWorldAngularVelocity()
                                    : body->GetWorldLinearVelocity());
        };
        float u = -along(bodies.first);
        if (bodies.secondTakesPart) {
            u += along(bodies.second);
        }
        if (state_ == LimitAtLow && u < 0.0f) {
            info.c[row] = std::max(info.c[row], -stopBounce * u);
        } else if (state_ == LimitAtHigh && u > 0.0f) {
            info.c[row] = std::min(info.c[row], -stopBounce * u);
        }
    }
}

} // namespace quarn
