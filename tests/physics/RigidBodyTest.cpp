#include "core/scene/EngineState.h"
#include "tests/physics/PhysicsTestSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/MathExpectations.h"

#include <cmath>

namespace quarn::test {
namespace {

void ExpectTensor(const Matrix3& actual, const float (&expected)[3][3], float tolerance) {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            EXPECT_NEAR(actual.m[i][j], expected[i][j], tolerance) << i << "," << j;
        }
    }
}

using RigidBodyMass = PhysicsTest;

TEST_F(RigidBodyMass, TwoSpheresSumThroughTheParallelAxisTermsInTheBodyFrame) {
    // Two unit spheres at x = -0.5 and +0.5: each 2/5 m r^2 about its centre plus m d^2 off the
    // x axis. A turned body sees the same tensor in its own frame.
    for (float turn : {0.0f, 0.7f}) {
        auto* body = Body(Float3(1.0f, 2.0f, 3.0f));
        body->SetOrientation(Quaternion::FromAxisAngle(turn, Float3(0.0f, 0.6f, 0.8f)));
        Sphere(body, Float3(-0.5f, 0.0f, 0.0f), 1.0f);
        Sphere(body, Float3(0.5f, 0.0f, 0.0f), 1.0f);
        const float m = 4.1887902f; // each sphere, density 1
        EXPECT_NEAR(body->GetMass(), 2.0f * m, 1e-4f);
        const float own = 0.4f * m;
        const float expected[3][3] = {
            {2.0f * own, 0.0f, 0.0f},
            {0.0f, 2.0f * own + 2.0f * m * 0.25f, 0.0f},
            {0.0f, 0.0f, 2.0f * own + 2.0f * m * 0.25f}};
        ExpectTensor(body->GetInertia(), expected, 2e-4f);
    }
}

TEST_F(RigidBodyMass, VolumesBelongToTheNearestBodyAndLeaveWithTheirSubtree) {
    auto* outer = Body(Float3());
    auto* own = Sphere(outer, Float3(), 1.0f);
    auto* inner = tree_.Make<RigidBody>("inner");
    auto* innerVolume = Sphere(inner, Float3(), 0.5f);
    inner->AttachAsLast(outer);
    EXPECT_EQ(own->GetBody(), outer);
    EXPECT_EQ(innerVolume->GetBody(), inner);
    EXPECT_NEAR(outer->GetMass(), 4.1887902f, 1e-4f);
    own->Detach();
    EXPECT_EQ(own->GetBody(), nullptr);
    EXPECT_EQ(outer->GetMass(), 0.0f);
    own->Delete();
}

TEST_F(RigidBodyMass, RecentringMovesTheNodeAndKeepsTheChildrenInPlace) {
    auto* body = Body(Float3(0.0f, 0.0f, 0.0f));
    auto* small = Sphere(body, Float3(2.0f, 0.0f, 0.0f), 1.0f);
    auto* other = Sphere(body, Float3(4.0f, 0.0f, 0.0f), 1.0f);
    body->UpdateMass(true);
    ExpectNear(body->GetWorldPosition(), Float3(3.0f, 0.0f, 0.0f), 1e-5f);
    ExpectNear(small->GetWorldPosition(), Float3(2.0f, 0.0f, 0.0f), 1e-5f);
    ExpectNear(other->GetWorldPosition(), Float3(4.0f, 0.0f, 0.0f), 1e-5f);
}

TEST_F(RigidBodyMass, WritingMassResetsTheCubeAndAutoInertiaRecomputesAtOnce) {
    auto* body = Body(Float3());
    Sphere(body, Float3(), 1.0f);
    body->SetMass(8.0f);
    // A cube of side 2: 8 * (4 + 4) / 12.
    const float cube[3][3] = {{5.3333f, 0.0f, 0.0f}, {0.0f, 5.3333f, 0.0f}, {0.0f, 0.0f, 5.3333f}};
    ExpectTensor(body->GetInertia(), cube, 2e-3f);
    body->SetBodyFlags(body->GetBodyFlags() & ~BodyAutoInertia);
    EXPECT_NEAR(body->GetMass(), 4.1887902f, 1e-4f);
    const float sphere = 0.4f * 4.1887902f;
    const float expected[3][3] = {{sphere, 0.0f, 0.0f}, {0.0f, sphere, 0.0f}, {0.0f, 0.0f, sphere}};
    ExpectTensor(body->GetInertia(), expected, 1e-4f);
}

// A scene's values and children come in the order of its file: a body with volumes ends with
// their mass, one without keeps the mass the file gives, also when the file turns autoinertia
// off or a child that is no volume comes after it.
TEST_F(RigidBodyMass, ALoadedBodyHasTheMassOfItsVolumesOrElseTheFilesWhateverTheOrder) {
    const float sphere = 4.1887902f;
    const struct {
        const char* order; // v: a volume, c: a child that is none, m: the mass, f: the flags
        float mass;
    } cases[] = {
        {"mf", 3.0f}, {"mc", 3.0f}, {"cm", 3.0f}, {"mfv", sphere}, {"vmf", sphere}, {"vm", sphere},
    };
    for (const auto& c : cases) {
        auto* body = Body(Float3());
        {
            EngineStateScope loading(EngineLoading);
            for (const char* step = c.order; *step; ++step) {
                if (*step == 'v') {
                    Sphere(body, Float3(), 1.0f);
                } else if (*step == 'c') {
                    tree_.Make<Node>("child", body);
                } else if (*step == 'm') {
                    body->SetMass(3.0f);
                } else {
                    body->SetBodyFlags(body->GetBodyFlags() & ~BodyAutoInertia);
                }
            }
        }
        EXPECT_NEAR(body->GetMass(), c.mass, 1e-4f) << c.order;
    }
}

TEST_F(RigidBodyMass, AnOffCentreOrScaledBodyIsLoggedOnce) {
    struct Case {
        Float3 offset;
        float scale;
        const char* logged;
    };
    for (const Case& c : {Case{Float3(0.0005f, 0.0f, 0.0f), 1.0f, nullptr},
                          Case{Float3(0.0f, 0.5f, 0.0f), 1.0f, "centre of mass"},
                          Case{Float3(), 2.0f, "scaled"}}) {
        CapturingLogSink log;
        auto* body = Body(Float3());
        body->SetScale(c.scale);
        Sphere(body, c.offset, 1.0f);
        body->UpdateMass(false);
        body->UpdateMass(false);
        if (c.logged) {
            ASSERT_EQ(log.Lines().size(), 1u) << c.logged;
            EXPECT_NE(log.Lines()[0].text.find(c.logged), std::string::npos);
        } else {
            EXPECT_TRUE(log.Lines().empty());
        }
    }
}

using RigidBodyMotion = PhysicsTest;

TEST_F(RigidBodyMotion, AutoIdleWaitsForTheIdleTimeBelowTheThreshold) {
    world_->SetIdleTime(0.05f);
    auto* body = Body(Float3());
    body->SetBodyFlags(body->GetBodyFlags() | BodyAutoIdle);
    body->SetLinearVelocity(Float3(0.01f, 0.0f, 0.0f));
    body->AutoIdle(0.1f);
    EXPECT_FALSE(body->HasBodyFlags(BodyIdle));
    body->SetLinearVelocity(Float3(0.0005f, 0.0f, 0.0f));
    body->AutoIdle(0.03f);
    EXPECT_FALSE(body->HasBodyFlags(BodyIdle));
    body->AutoIdle(0.03f);
    EXPECT_TRUE(body->HasBodyFlags(BodyIdle));
    body->SetIdle(false);
    body->AutoIdle(0.03f);
    EXPECT_FALSE(body->HasBodyFlags(BodyIdle)); // the timer started again
}

TEST_F(RigidBodyMotion, APointMovesAsGetPointVelocitySaysAlsoUnderATurnedParent) {
    struct Case {
        bool turnedParent;
        uint32_t extraFlags;
    };
    for (const Case& c : {Case{false, 0}, Case{true, 0}, Case{true, BodyFiniteRotation}}) {
        Pivot* parent = nullptr;
        if (c.turnedParent) {
            parent = tree_.Make<Pivot>("parent");
            parent->SetPosition(Float3(5.0f, -1.0f, 2.0f));
            parent->SetOrientation(Quaternion::FromAxisAngle(1.1f, Float3(0.0f, 0.0f, 1.0f)));
        }
        auto* body = Body(Float3(0.3f, 0.2f, 0.1f), parent);
        body->SetBodyFlags(body->GetBodyFlags() | c.extraFlags);
        body->SetOrientation(Quaternion::FromAxisAngle(0.4f, Float3(1.0f, 0.0f, 0.0f)));
        body->SetLinearVelocity(Float3(0.5f, -0.25f, 1.0f));
        body->SetAngularVelocity(Float3(0.3f, -0.7f, 0.4f));
        const Float3 local(0.6f, -0.4f, 0.9f);
        const Float3 before = body->LocalToWorld(local);
        const Float3 expected = body->GetPointVelocity(before);
        const float h = 1e-3f;
        body->IntegratePose(h);
        const Float3 moved = (body->LocalToWorld(local) - before) / h;
        ExpectNear(moved, expected, 2e-3f);
    }
}

TEST_F(RigidBodyMotion, FiniteRotationTurnsBySpeedTimesTimeAndStaysNormalised) {
    auto* body = Body(Float3());
    body->SetBodyFlags(body->GetBodyFlags() | BodyFiniteRotation);
    body->SetAngularVelocity(Float3(0.0f, 0.0f, 20.0f));
    body->IntegratePose(0.1f); // two radians in one step
    const Quaternion q = body->GetOrientation();
    EXPECT_NEAR(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w, 1.0f, 1e-6f);
    const Float3 axisX = body->GetWorldAxis(0);
    // A point moves with r x w: +X turns toward -Y under a spin about +Z.
    EXPECT_NEAR(std::atan2(axisX.y, axisX.x), -2.0f, 1e-5f);
}

TEST_F(RigidBodyMotion, FreeFallFollowsTheClosedForm) {
    auto* body = Body(Float3(0.0f, 100.0f, 0.0f));
    body->SetMass(2.0f);
    const float g = 10.0f;
    const float h = world_->GetTimestep();
    RigidBody* bodies[] = {body};
    for (int n = 1; n <= 100; ++n) {
        body->AddForce(Float3(0.0f, -g * body->GetMass(), 0.0f));
        ASSERT_TRUE(StepIslandLCP(bodies, 1, nullptr, 0, h, 1e-5f, 0.2f, world_->GetScratch()));
        EXPECT_NEAR(body->GetLinearVelocity().y, -g * n * h, 1e-5f * n);
        EXPECT_NEAR(body->GetPosition().y, 100.0f - g * h * h * n * (n + 1) / 2.0f, 1e-4f);
    }
}

TEST_F(RigidBodyMotion, AForceAtAPointAcceleratesThatPointAlongTheForce) {
    auto* body = Body(Float3(1.0f, 2.0f, 3.0f));
    Sphere(body, Float3(), 1.0f);
    body->SetOrientation(Quaternion::FromAxisAngle(0.5f, Float3(0.0f, 1.0f, 0.0f)));
    const Float3 point(1.5f, 2.7f, 2.6f);
    const Float3 force(0.0f, 0.0f, 30.0f);
    body->AddForceAtPosition(point, force);
    RigidBody* bodies[] = {body};
    StepIslandLCP(bodies, 1, nullptr, 0, 0.01f, 1e-5f, 0.2f, world_->GetScratch());
    const Float3 v = body->GetPointVelocity(body->GetWorldPosition() + (point - Float3(1.0f, 2.0f, 3.0f)));
    EXPECT_GT(v.Dot(force), 0.0f);
    // An island without joints adds h M^-1 F to the linear velocity.
    EXPECT_NEAR(body->GetLinearVelocity().z, 0.01f * 30.0f / body->GetMass(), 1e-6f);
    EXPECT_EQ(body->GetForce().z, 0.0f);
}

TEST_F(RigidBodyMotion, ForcesSkipADisabledBodyAndImpulsesNeedAUsableWorld) {
    auto* body = Body(Float3());
    body->SetFlag(NodeEnabled, false);
    body->AddForce(Float3(1.0f, 0.0f, 0.0f));
    EXPECT_EQ(body->GetForce().x, 0.0f);
    body->SetFlag(NodeEnabled, true);

    body->SetWorld(nullptr);
    body->AddImpulseAtPosition(Float3(), Float3(1.0f, 0.0f, 0.0f));
    body->SetLinearVelocity(Float3(1.0f, 0.0f, 0.0f));
    body->ApplyLinearDamping(0.5f);
    EXPECT_EQ(body->GetForce().x, 0.0f);
    body->SetWorld(world_);
    world_->SetTimestep(0.0f);
    body->AddImpulseAtPosition(Float3(), Float3(1.0f, 0.0f, 0.0f));
    EXPECT_EQ(body->GetForce().x, 0.0f);
    world_->SetTimestep(0.5f);
    body->AddImpulseAtPosition(Float3(), Float3(1.0f, 0.0f, 0.0f));
    EXPECT_EQ(body->GetForce().x, 2.0f);
}

TEST_F(RigidBodyMotion, ABodyThatCannotMoveIsHeldStillWithOneLogLine) {
    CapturingLogSink log;
    auto* empty = Body(Float3()); // no volumes: mass 0
    empty->UpdateMass(false);
    auto* grounded = Body(Float3());
    tree_.Make<CollisionPlane>("plane", grounded); // mass and inertia of the largest float
    // In contact with the ground and with each other.
    ContactJoint toGround;
    ContactJoint between;
    for (ContactJoint* joint : {&toGround, &between}) {
        joint->normal = Float3(0.0f, 1.0f, 0.0f);
        joint->depth = 0.05f;
        joint->surface.mu = 1.0f;
    }
    toGround.Attach(empty, nullptr);
    between.Attach(grounded, empty);
    RigidBody* bodies[] = {empty, grounded};
    Joint* joints[] = {&toGround, &between};
    for (int step = 0; step < 3; ++step) {
        empty->AddForce(Float3(0.0f, -10.0f, 0.0f));
        grounded->AddTorque(Float3(1.0f, 0.0f, 0.0f));
        EXPECT_TRUE(StepIslandLCP(bodies, 2, joints, 2, 0.01f, 1e-5f, 0.2f, world_->GetScratch()));
    }
    toGround.Release();
    between.Release();
    EXPECT_EQ(empty->GetMass(), 0.0f);
    EXPECT_EQ(empty->GetInverseMass(), LCPInfinity);
    ExpectNear(empty->GetLinearVelocity(), Float3(), 0.0f);
    ExpectNear(grounded->GetAngularVelocity(), Float3(), 0.0f);
    EXPECT_EQ(log.Lines().size(), 2u);
}

} // namespace
} // namespace quarn::test
