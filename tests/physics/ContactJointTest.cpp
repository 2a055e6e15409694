#include "tests/physics/PhysicsTestSupport.h"
#include "tests/support/MathExpectations.h"

namespace quarn::test {
namespace {

class ContactRows : public PhysicsTest {
protected:
    ContactJoint& Contact(RigidBody* a, RigidBody* b, float mu, float depth) {
        joint_.Prepare(world_);
        joint_.position = Float3(0.0f, 0.0f, 0.0f);
        joint_.normal = Float3(0.0f, 1.0f, 0.0f);
        joint_.depth = depth;
        joint_.surface.mode = ContactSoftErp | ContactSoftCfm;
        joint_.surface.mu = mu;
        joint_.surface.softErp = 0.5f;
        joint_.surface.softCfm = 1e-4f;
        joint_.surface.minDepth = 0.01f;
        joint_.Attach(a, b);
        return joint_;
    }
    void TearDown() override { joint_.Release(); }

    ContactJoint joint_;
};

TEST_F(ContactRows, FrictionDecidesTheRowCountAndNegativeMuIsRepaired) {
    struct Case {
        float mu;
        int rows;
        int unbounded;
    };
    for (const Case& c : {Case{0.0f, 1, 0}, Case{-2.0f, 1, 0}, Case{0.5f, 3, 0},
                          Case{LCPInfinity, 3, 2}}) {
        auto* body = Body(Float3(0.0f, 1.0f, 0.0f));
        JointRows rows;
        rows.Fill(Contact(body, nullptr, c.mu, 0.0f));
        EXPECT_EQ(rows.info1.m, c.rows) << c.mu;
        EXPECT_EQ(rows.info1.nub, c.unbounded) << c.mu;
        EXPECT_GE(joint_.surface.mu, 0.0f);
        EXPECT_EQ(rows.lo[0], 0.0f);
        EXPECT_EQ(rows.hi[0], LCPInfinity);
        EXPECT_EQ(rows.cfm[0], 1e-4f);
    }
}

TEST_F(ContactRows, AKinematicFirstBodyAttachesReversedAndTheNormalTurns) {
    auto* moving = Body(Float3(0.0f, -1.0f, 0.0f));
    moving->SetState(BodyKinematic);
    moving->SetLinearVelocity(Float3(0.0f, 2.0f, 3.0f));
    auto* dynamic = Body(Float3(0.0f, 1.0f, 0.0f));
    // At the minimum depth: no push either way.
    ContactJoint& joint = Contact(moving, dynamic, 1.0f, 0.01f);
    joint.surface.mode |= ContactFrictionDirection;
    joint.surface.frictionDirection = Float3(0.0f, 0.0f, 1.0f);
    ASSERT_TRUE(joint.IsReversed());
    EXPECT_EQ(joint.GetBody(0), dynamic);
    JointRows rows;
    rows.Fill(joint);
    // Normal (0,1,0) negated: the dynamic body's row pushes along +Y.
    ExpectNear(rows.Linear1(0), Float3(0.0f, 1.0f, 0.0f));
    ExpectNear(rows.Angular1(0), Float3(0.0f, 1.0f, 0.0f).Cross(Float3(0.0f, -1.0f, 0.0f)));
    ExpectNear(rows.Linear2(0), Float3(0.0f, -1.0f, 0.0f));
    // The partner's point velocity enters along the normal and the friction directions.
    EXPECT_FLOAT_EQ(rows.c[0], -2.0f);
    EXPECT_FLOAT_EQ(rows.c[1], -3.0f);
    // Asked again, the rows are the same.
    JointRows again;
    again.Fill(joint);
    EXPECT_EQ(again.c[0], rows.c[0]);

    // The script view: from the dynamic body the normal reads negated, the other volume first.
    EXPECT_EQ(dynamic->CollectContacts(), 1);
    ExpectNear(dynamic->GetContactNormal(0), Float3(0.0f, -1.0f, 0.0f));
    EXPECT_EQ(moving->CollectContacts(), 1);
    ExpectNear(moving->GetContactNormal(0), Float3(0.0f, 1.0f, 0.0f));
}

TEST_F(ContactRows, PushOutPastTheMinimumDepthClosesShortOfItAndIsCapped) {
    struct Case {
        float depth;
        float maxVelocity;
        float c;
    };
    // k = fps * softErp = 50 per unit of depth past 0.01; a tenth of that short of it, where
    // the bodies may close (a negative c), as also for a contact reported apart.
    for (const Case& c : {Case{0.005f, 10.0f, -0.025f}, Case{0.0f, 10.0f, -0.05f},
                          Case{0.01f, 10.0f, 0.0f}, Case{0.03f, 10.0f, 1.0f},
                          Case{0.5f, 10.0f, 10.0f}, Case{0.5f, 3.0f, 3.0f},
                          Case{-0.5f, 10.0f, -2.55f}, Case{-0.5f, 2.0f, -2.0f}}) {
        world_->SetContactMaxVel(c.maxVelocity);
        auto* body = Body(Float3(0.0f, 1.0f, 0.0f));
        JointRows rows;
        rows.Fill(Contact(body, nullptr, 0.0f, c.depth));
        EXPECT_NEAR(rows.c[0], c.c, 1e-5f) << c.depth;
    }
}

TEST_F(ContactRows, SurfaceMotionEntersTheNormalAndFrictionRows) {
    auto* body = Body(Float3(0.0f, 1.0f, 0.0f));
    ContactJoint& joint = Contact(body, nullptr, 1.0f, 0.01f);
    joint.surface.mode |= ContactMotion | ContactFrictionDirection | ContactFrictionScaled1;
    joint.surface.motion = Float3(4.0f, 0.5f, 0.0f);
    joint.surface.frictionDirection = Float3(1.0f, 0.0f, 0.0f);
    JointRows rows;
    rows.Fill(joint);
    EXPECT_FLOAT_EQ(rows.c[0], 0.5f);
    EXPECT_FLOAT_EQ(rows.c[1], -4.0f);
    EXPECT_EQ(rows.findex[1], 0);
    EXPECT_EQ(rows.findex[2], -1);
    EXPECT_EQ(rows.lo[1], -1.0f);
    EXPECT_EQ(rows.hi[2], 1.0f);
    // Without a second body there are no second-body rows.
    ExpectNear(rows.Linear2(0), Float3());
}

TEST_F(ContactRows, TheOtherVolumeReadsAsNoneOnceItIsDeleted) {
    auto* body = Body(Float3(0.0f, 1.0f, 0.0f));
    auto* own = Sphere(body, Float3(), 1.0f);
    auto* other = Sphere(nullptr, Float3(0.0f, -1.0f, 0.0f), 1.0f);
    ContactJoint& joint = Contact(body, nullptr, 0.0f, 0.0f);
    joint.SetVolumes(own, other);
    ASSERT_EQ(body->CollectContacts(), 1);
    EXPECT_EQ(body->GetContactVolume(0), other);
    other->Delete();
    EXPECT_EQ(body->GetContactVolume(0), nullptr);
    EXPECT_EQ(body->GetContactVolume(5), nullptr);
}

} // namespace
} // namespace quarn::test
