#include "core/math/Quaternion.h"
#include "physics/JointTypes.h"
#include "tests/physics/PhysicsTestSupport.h"

#include <cmath>
#include <numbers>

namespace quarn::test {
namespace {

class JointTypes : public PhysicsTest {
protected:
    // A pivot that gives a joint its geometry: below a body, or in the world when body is null.
    Pivot* AnchorAt(Node* body, Float3 worldPosition, Quaternion orientation = {}) {
        auto* anchor = tree_.Make<Pivot>("anchor", body);
        anchor->SetWorldPosition(worldPosition);
        anchor->SetWorldOrientation(orientation);
        return anchor;
    }
    RigidBody* Ball(Float3 position, float radius = 0.1f) {
        RigidBody* body = Body(position);
        Sphere(body, Float3(), radius);
        return body;
    }
    template <typename T>
    std::unique_ptr<T> Join(RigidBody* a, Pivot* anchorA, RigidBody* b, Pivot* anchorB) {
        auto joint = std::make_unique<T>();
        joint->SetAnchors(anchorA, anchorB);
        joint->Attach(a, b);
        return joint;
    }
    void Step(std::vector<RigidBody*> bodies, std::vector<Joint*> joints, float gravity) {
        for (RigidBody* body : bodies) {
            body->AddForce(Float3(0.0f, -gravity * body->GetMass(), 0.0f));
        }
        StepIslandLCP(bodies.data(), static_cast<int32_t>(bodies.size()), joints.data(),
                      static_cast<int32_t>(joints.size()), world_->GetTimestep(), world_->GetCfm(),
                      world_->GetErp(), world_->GetScratch());
    }
    static float Separation(Joint& joint) {
        return (joint.GetAnchor(0)->GetWorldPosition() - joint.GetAnchor(1)->GetWorldPosition())
            .Length();
    }
};

constexpr float Pi = std::numbers::pi_v<float>;
const Quaternion AboutX = Quaternion::FromAxisAngle(Pi / 2.0f, Float3(1.0f, 0.0f, 0.0f));

TEST_F(JointTypes, ABallJointedPendulumSwingsWithItsPeriodAndKeepsItsAmplitude) {
    const float g = 9.81f;
    const float start = 0.1f;
    RigidBody* bob = Ball(Float3(std::sin(start), -std::cos(start), 0.0f));
    auto joint = Join<BallJoint>(bob, AnchorAt(bob, Float3()), nullptr, AnchorAt(nullptr, Float3()));
    const float m = bob->GetMass();
    const float pivotInertia = bob->GetInertia().m[2][2] + m;
    const float period = 2.0f * Pi * std::sqrt(pivotInertia / (m * g));

    const float h = world_->GetTimestep();
    float worst = 0.0f;
    float previousX = bob->GetWorldPosition().x;
    float firstCrossing = -1.0f;
    float lastCrossing = 0.0f;
    int crossings = 0;
    float lastPeak = 0.0f;
    const int steps = static_cast<int>(10.5f * period / h);
    for (int i = 1; i <= steps; ++i) {
        Step({bob}, {joint.get()}, g);
        worst = std::max(worst, Separation(*joint));
        const float x = bob->GetWorldPosition().x;
        if ((previousX > 0.0f) != (x > 0.0f)) {
            const float t = (i - 1 + previousX / (previousX - x)) * h;
            if (firstCrossing < 0.0f) {
                firstCrossing = t;
            } else {
                lastCrossing = t;
                ++crossings;
            }
        }
        if (i * h > 9.5f * period) {
            lastPeak = std::max(lastPeak, std::fabs(x));
        }
        previousX = x;
    }
    ASSERT_GE(crossings, 18);
    const float measured = 2.0f * (lastCrossing - firstCrossing) / crossings;
    EXPECT_NEAR(measured, period, 0.02f * period);
    EXPECT_GT(lastPeak, 0.9f * std::sin(start));
    EXPECT_LT(worst, 1e-3f);
}

TEST_F(JointTypes, AnInactiveBallJointAndOneWithoutAnchorsWriteNoRows) {
    RigidBody* bob = Ball(Float3());
    BallJoint joint;
    JointInfo1 info;
    joint.Attach(bob, nullptr);
    joint.GetInfo1(info);
    EXPECT_EQ(info.m, 0);
    joint.SetAnchors(AnchorAt(bob, Float3()), AnchorAt(nullptr, Float3()));
    joint.GetInfo1(info);
    EXPECT_EQ(info.m, 3);
    joint.SetActive(false);
    joint.GetInfo1(info);
    EXPECT_EQ(info.m, 0);
}

// Two free bodies hinged about the world X axis (the anchors' Z axes turned onto it), spun
// every way: only the turn about the axis may survive, and the rate integrates to the angle.
TEST_F(JointTypes, AHingeKeepsItsBodiesTurningAboutTheAxisAndItsRateMatchesItsAngle) {
    RigidBody* a = Ball(Float3(-0.5f, 0.0f, 0.0f));
    RigidBody* b = Ball(Float3(0.5f, 0.0f, 0.0f));
    const Quaternion toX = Quaternion::FromAxisAngle(Pi / 2.0f, Float3(0.0f, 1.0f, 0.0f));
    auto hinge = Join<HingeJoint>(a, AnchorAt(a, Float3(), toX), b, AnchorAt(b, Float3(), toX));
    a->SetAngularVelocity(Float3(3.0f, 1.0f, -0.5f));
    b->SetAngularVelocity(Float3(-1.0f, 0.2f, 0.4f));
    const float h = world_->GetTimestep();
    float integrated = hinge->GetVariable();
    for (int i = 0; i < 200; ++i) {
        Step({a, b}, {hinge.get()}, 0.0f);
        // The pose moves with the velocity after the step.
        integrated += hinge->GetVariableRate() * h;
        if (integrated > Pi) {
            integrated -= 2.0f * Pi;
        } else if (integrated <= -Pi) {
            integrated += 2.0f * Pi;
        }
        if (i > 5) {
            // The pair may turn as a whole, carrying the axis with it.
            const Float3 axis = hinge->GetAnchor(0)->GetWorldAxisZ();
            const Float3 relative = a->GetAngularVelocity() - b->GetAngularVelocity();
            ASSERT_LT(relative.Cross(axis).Length(), 1e-2f) << "step " << i;
        }
        ASSERT_LT(Separation(*hinge), 1e-3f);
    }
    EXPECT_GT(std::fabs(hinge->GetVariableRate()), 1.0f);
    EXPECT_NEAR(hinge->GetVariable(), integrated, 0.02f);
}

struct HingeCase {
    const char* name;
    float low, high, velocity, force;
};

// A hinged rod (the body 1 m from the hinge on the world Z axis) driven by its motor.
class HingeMotor : public JointTypes {
protected:
    void Make() {
        rod_ = Ball(Float3(1.0f, 0.0f, 0.0f));
        hinge_ = Join<HingeJoint>(rod_, AnchorAt(rod_, Float3()), nullptr,
                                  AnchorAt(nullptr, Float3()));
    }
    void Run(int steps) {
        for (int i = 0; i < steps; ++i) {
            Step({rod_}, {hinge_.get()}, 0.0f);
            lowest_ = std::min(lowest_, hinge_->GetVariable());
            highest_ = std::max(highest_, hinge_->GetVariable());
        }
    }
    RigidBody* rod_ = nullptr;
    std::unique_ptr<HingeJoint> hinge_;
    float lowest_ = 10.0f;
    float highest_ = -10.0f;
};

TEST_F(HingeMotor, TheMotorReachesItsSpeedAndTheStopsHoldTheAngle) {
    const HingeCase cases[] = {
        {"free, forward", -3.4028235e38f, 3.4028235e38f, 2.0f, 100.0f},
        {"free, backward", -3.4028235e38f, 3.4028235e38f, -1.5f, 100.0f},
        {"stopped above", -0.5f, 0.4f, 2.0f, 100.0f},
        {"stopped below", -0.5f, 0.4f, -2.0f, 100.0f},
    };
    for (const HingeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Make();
        lowest_ = 10.0f;
        highest_ = -10.0f;
        JointLimitMotor& motor = *hinge_->GetLimitMotor();
        motor.SetLowStop(c.low);
        motor.SetHighStop(c.high);
        motor.SetVelocity(c.velocity);
        motor.SetMaxForce(c.force);
        Run(100);
        if (c.low < -Pi) {
            EXPECT_NEAR(hinge_->GetVariableRate(), c.velocity, 1e-2f);
        } else {
            EXPECT_GT(lowest_, c.low - 0.02f);
            EXPECT_LT(highest_, c.high + 0.02f);
            EXPECT_NEAR(hinge_->GetVariable(), c.velocity > 0.0f ? c.high : c.low, 0.02f);
        }
        hinge_.reset();
    }
}

TEST_F(HingeMotor, ADriveArrivesLatchesAndLocksAtItsTarget) {
    Make();
    JointLimitMotor& motor = *hinge_->GetLimitMotor();
    motor.SetMaxForce(50.0f);
    motor.DriveTo(hinge_->GetVariable(), 0.6f, 1.0f);
    EXPECT_EQ(motor.GetLatch(), LimitAtHigh);
    int steps = 0;
    while (motor.GetLatch() != 0 && steps < 300) {
        Run(1);
        ++steps;
    }
    ASSERT_EQ(motor.GetLatch(), 0) << "the drive never arrived";
    EXPECT_NEAR(steps * world_->GetTimestep(), 0.6f, 0.05f);
    EXPECT_EQ(motor.GetVelocity(), 0.0f);
    EXPECT_FLOAT_EQ(motor.GetLowStop(), 0.6f - 0.0001f);
    Run(100);
    EXPECT_NEAR(hinge_->GetVariable(), 0.6f, 0.01f);
    EXPECT_NEAR(hinge_->GetVariableRate(), 0.0f, 1e-2f);
}

TEST_F(HingeMotor, APositiveTorqueTurnsTheHingeLikeAPositiveMotorSpeed) {
    Make();
    for (int i = 0; i < 20; ++i) {
        hinge_->ApplyTorque(0.5f * rod_->GetMass()); // about 0.5 rad/s^2
        Run(1);
    }
    EXPECT_GT(hinge_->GetVariable(), 0.005f);
    EXPECT_LT(hinge_->GetVariable(), 0.02f);
    EXPECT_GT(hinge_->GetVariableRate(), 0.05f);
}

TEST(JointLimitMotor, StopsPushEachOtherAndALatchClosesOnTheStopItReaches) {
    JointLimitMotor motor;
    motor.SetLowStop(1.0f);
    EXPECT_EQ(motor.GetHighStop(), 3.4028235e38f);
    motor.SetHighStop(0.5f);
    EXPECT_EQ(motor.GetLowStop(), 0.5f);
    motor.SetLowStop(2.0f);
    EXPECT_EQ(motor.GetHighStop(), 2.0f);

    motor.SetLowStop(-1.0f);
    motor.DriveTo(0.0f, -0.5f, 2.0f);
    EXPECT_EQ(motor.GetVelocity(), -2.0f);
    EXPECT_FALSE(motor.TestLimit(-0.4f));
    EXPECT_TRUE(motor.TestLimit(-0.55f));
    EXPECT_EQ(motor.GetState(), LimitAtLow);
    EXPECT_FLOAT_EQ(motor.GetLimitError(), -0.05f);
    EXPECT_FLOAT_EQ(motor.GetHighStop(), -0.5f + 0.0001f);
    EXPECT_EQ(motor.GetVelocity(), 0.0f);

    motor.DriveTo(0.25f, 0.25f, 2.0f);
    EXPECT_EQ(motor.GetLowStop(), 0.25f);
    EXPECT_EQ(motor.GetHighStop(), 0.25f);
    EXPECT_EQ(motor.GetLatch(), 0);
}

// A block on a rail along the world Y axis (the anchors' Z turned onto it), under gravity.
TEST_F(JointTypes, ASliderFollowsItsRailAndItsStopsHold) {
    RigidBody* block = Ball(Float3(0.0f, 0.0f, 0.0f));
    auto slider =
        Join<SliderJoint>(block, AnchorAt(block, Float3(), AboutX), nullptr,
                          AnchorAt(nullptr, Float3(), AboutX));
    const Float3 rail = slider->GetAnchor(0)->GetWorldAxisZ();
    ASSERT_NEAR(std::fabs(rail.y), 1.0f, 1e-5f);
    block->SetLinearVelocity(Float3(0.5f, 0.0f, -0.3f));
    JointLimitMotor& motor = *slider->GetLimitMotor();
    motor.SetLowStop(-0.5f);
    motor.SetHighStop(0.5f);
    const float h = world_->GetTimestep();
    float integrated = 0.0f;
    float lowest = 0.0f;
    float highest = 0.0f;
    for (int i = 0; i < 200; ++i) {
        Step({block}, {slider.get()}, 9.81f);
        integrated += slider->GetVariableRate() * h;
        if (i < 20) {
            EXPECT_NEAR(slider->GetVariable(), integrated, 1e-3f);
        }
        lowest = std::min(lowest, slider->GetVariable());
        highest = std::max(highest, slider->GetVariable());
        const Float3 p = block->GetWorldPosition();
        ASSERT_LT(std::hypot(p.x, p.z), 1e-3f);
    }
    EXPECT_GT(lowest, -0.52f);
    EXPECT_LT(highest, 0.52f);
    EXPECT_NEAR(std::fabs(slider->GetVariable()), 0.5f, 0.02f);
}

TEST_F(JointTypes, ASliderMotorDrivingIntoAReachedStopPushesWithItsFullForce) {
    RigidBody* a = Ball(Float3(0.0f, 0.0f, 0.0f));
    RigidBody* b = Ball(Float3(0.0f, 0.0f, 0.0f));
    auto slider = Join<SliderJoint>(a, AnchorAt(a, Float3()), b, AnchorAt(b, Float3()));
    JointLimitMotor& motor = *slider->GetLimitMotor();
    motor.SetLowStop(0.0f);
    motor.SetHighStop(1.0f);
    motor.SetVelocity(-1.0f);
    motor.SetMaxForce(40.0f);
    JointInfo1 info1;
    slider->GetInfo1(info1);
    ASSERT_EQ(info1.m, 6);
    ASSERT_EQ(motor.GetState(), LimitAtLow);

    float rows[6 * 8 * 4] = {};
    float c[6] = {}, cfm[6] = {}, lo[6], hi[6];
    int32_t findex[6];
    JointInfo2 info{100.0f, 0.2f, rows, rows + 48, rows + 96, rows + 144, 8, c, cfm, lo, hi, findex};
    for (int i = 0; i < 6; ++i) {
        lo[i] = -LCPInfinity;
        hi[i] = LCPInfinity;
    }
    slider->GetInfo2(info);
    const Float3 axis = slider->GetAnchor(0)->GetWorldAxisZ() * -1.0f;
    EXPECT_NEAR((a->GetForce() - axis * 40.0f).Length(), 0.0f, 1e-5f);
    EXPECT_NEAR((b->GetForce() + axis * 40.0f).Length(), 0.0f, 1e-5f);
    EXPECT_EQ(lo[5], 0.0f);
    EXPECT_EQ(hi[5], LCPInfinity);

    // Under the solver the pair stays at the stop while the push lasts.
    for (int i = 0; i < 100; ++i) {
        Step({a, b}, {slider.get()}, 0.0f);
    }
    EXPECT_NEAR(slider->GetVariable(), 0.0f, 1e-2f);
}

// The ball rows of a fixed joint follow anchors that lie away from both bodies' origins, so a
// spinning pair holds together.
TEST_F(JointTypes, AFixedPairSpinningAboutItsCentreKeepsItsAnchorsTogether) {
    RigidBody* a = Ball(Float3(-1.0f, 0.0f, 0.0f), 0.3f);
    RigidBody* b = Ball(Float3(1.0f, 0.0f, 0.0f), 0.3f);
    const Float3 meeting(0.0f, 0.4f, 0.2f);
    auto fixed = Join<FixedJoint>(a, AnchorAt(a, meeting), b, AnchorAt(b, meeting));
    // Turning about Y at 2 rad/s: v = r x w in this engine's convention.
    const Float3 w(0.0f, 2.0f, 0.0f);
    for (RigidBody* body : {a, b}) {
        body->SetAngularVelocity(w);
        body->SetLinearVelocity(body->GetWorldPosition().Cross(w));
    }
    // The rows are linear: the drift per step grows with h squared, and erp takes a fifth of it
    // back, so a step of 5 ms keeps the gap under 1e-3.
    world_->SetTimestep(0.005f);
    float worst = 0.0f;
    for (int i = 0; i < 2000; ++i) {
        Step({a, b}, {fixed.get()}, 0.0f);
        worst = std::max(worst, Separation(*fixed));
    }
    EXPECT_LT(worst, 1e-3f);
    EXPECT_NEAR((a->GetWorldPosition() - b->GetWorldPosition()).Length(), 2.0f, 1e-3f);
}

TEST(CreateJoint, MakesTheTypeOfEachCreationNumberAndNothingForOthers) {
    const std::pair<int32_t, int32_t> table[] = {{1, JointBall},     {2, JointHinge},
                                                 {3, JointFixed},    {4, JointRigidMerge},
                                                 {7, JointHinge},    {8, JointSlider}};
    for (auto [creation, type] : table) {
        auto joint = CreateJoint(creation);
        ASSERT_TRUE(joint) << creation;
        EXPECT_EQ(joint->GetType(), type) << creation;
    }
    for (int32_t other : {0, 5, 6, 9, -1}) {
        EXPECT_FALSE(CreateJoint(other)) << other;
    }
}

} // namespace
} // namespace quarn::test
