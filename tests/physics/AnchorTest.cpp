#include "physics/Anchor.h"
#include "physics/JointTypes.h"
#include "physics/Module.h"
#include "physics/RigidStruct.h"
#include "tests/physics/PhysicsTestSupport.h"
#include "core/object/PropertyScalar.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TestClass.h"

#include <cmath>
#include <pthread.h>
#include <string>

namespace quarn::test {
namespace {

constexpr float Radians = 0.017453292f;

class Anchors : public PhysicsTest {
protected:
    // Modules refer to their bodies by id, as in a loaded scene.
    template <class T>
    T* WithId(const char* name, Node* parent = nullptr) {
        T* node = tree_.MakeWithId<T>(name);
        if (parent) {
            node->AttachAsLast(parent);
        }
        return node;
    }
    // Bodies live under a scene root, where a split puts the new body beside the old.
    RigidBody* Body(Float3 position, Node* parent = nullptr) {
        if (!scene_) {
            scene_ = WithId<Node>("scene");
        }
        auto* body = WithId<RigidBody>("body", parent ? parent : scene_);
        body->SetPosition(position);
        body->SetWorld(world_);
        return body;
    }
    struct Part {
        RigidBody* body = nullptr;
        Module* module = nullptr;
    };
    // A body holding one module and a sphere of radius 0.2 at its origin; null position: a
    // module without a body.
    Part MakePart(Float3 position, bool withBody = true) {
        Part part;
        Node* holder = nullptr;
        if (withBody) {
            part.body = Body(position);
            holder = part.body;
        }
        part.module = WithId<Module>("module", holder);
        if (!withBody) {
            part.module->SetPosition(position);
        } else {
            Sphere(part.module, Float3(), 0.2f);
        }
        return part;
    }
    Anchor* AnchorOn(Node* module, Float3 local, int32_t type) {
        auto* anchor = WithId<Anchor>("anchor", module);
        anchor->SetPosition(local);
        anchor->SetType(type);
        return anchor;
    }
    Node* scene_ = nullptr;
    bool Alive(Entity* entity, uint64_t serial) { return Entity::FindBySerial(serial) == entity; }
};

TEST(JointTypeFor, TheFirstMatchingRuleGivesTheJoint) {
    struct Row {
        int32_t a, b, creation;
    };
    const Row table[] = {
        {AnchorNone, AnchorBall, 0},           {AnchorFixed, AnchorNone, 0},
        {AnchorBall, AnchorSlider, CreateBall}, {AnchorHinge, AnchorBall, CreateBall},
        {AnchorSlider, AnchorHinge, CreateSlider}, {AnchorAxis, AnchorHinge, CreateHinge},
        {AnchorAxis, AnchorFixed, CreateAxis},  {AnchorFixed, AnchorFixed, CreateRigidMerge},
        {AnchorFixed, AnchorNoStruct, CreateFixed}, {AnchorHinge2, AnchorFixed, CreateFixed},
        {AnchorNoStruct, AnchorNoStruct, CreateFixed},
    };
    for (const Row& row : table) {
        EXPECT_EQ(JointTypeFor(row.a, row.b), row.creation) << row.a << " " << row.b;
        EXPECT_EQ(JointTypeFor(row.b, row.a), row.creation) << row.b << " " << row.a;
    }
}

TEST_F(Anchors, TwoFixedAnchorsMergeTheBodiesAndFixedWithNoStructMakesAFixedJoint) {
    Part left = MakePart(Float3(0.0f, 0.0f, 0.0f));
    Part right = MakePart(Float3(1.0f, 0.0f, 0.0f));
    const float single = left.body->GetMass();
    Anchor* a = AnchorOn(left.module, Float3(0.5f, 0.0f, 0.0f), AnchorFixed);
    Anchor* b = AnchorOn(right.module, Float3(-0.5f, 0.0f, 0.0f), AnchorFixed);
    const uint64_t leftSerial = left.body->GetSerial();
    a->SetJointAnchor(b);
    ASSERT_EQ(a->GetPartner(), b);
    EXPECT_EQ(a->GetJoint()->GetType(), JointRigidMerge);
    EXPECT_FALSE(Alive(left.body, leftSerial));
    EXPECT_EQ(left.module->GetBody(), right.body);
    EXPECT_EQ(right.module->GetBody(), right.body);
    EXPECT_NEAR(right.body->GetMass(), 2.0f * single, 1e-4f * single);
    EXPECT_NEAR((right.body->GetWorldPosition() - Float3(0.5f, 0.0f, 0.0f)).Length(), 0.0f, 1e-5f);
    // The modules stay where they were.
    EXPECT_NEAR(left.module->GetWorldPosition().Length(), 0.0f, 1e-5f);

    Part third = MakePart(Float3(3.0f, 0.0f, 0.0f));
    Anchor* c = AnchorOn(right.module, Float3(0.5f, 0.0f, 0.0f), AnchorFixed);
    Anchor* d = AnchorOn(third.module, Float3(-0.5f, 0.0f, 0.0f), AnchorNoStruct);
    c->SetJointAnchor(d);
    ASSERT_TRUE(c->GetJoint());
    EXPECT_EQ(c->GetJoint()->GetType(), JointFixed);
    EXPECT_NE(third.module->GetBody(), right.body);
    EXPECT_EQ(Module::CountAttachedAnchors(right.module), 2);
    EXPECT_EQ(right.module->GetAnchorCount(), 2);
    EXPECT_EQ(right.module->GetAnchor(5), nullptr);
}

TEST_F(Anchors, DetachingOneOfTwoFixedLinksKeepsTheMergeAndTheSecondSplitsIt) {
    Part left = MakePart(Float3(0.0f, 0.0f, 0.0f));
    Part right = MakePart(Float3(1.0f, 0.0f, 0.0f));
    const float single = left.body->GetMass();
    Anchor* a1 = AnchorOn(left.module, Float3(0.5f, 0.2f, 0.0f), AnchorFixed);
    Anchor* a2 = AnchorOn(left.module, Float3(0.5f, -0.2f, 0.0f), AnchorFixed);
    Anchor* b1 = AnchorOn(right.module, Float3(-0.5f, 0.2f, 0.0f), AnchorFixed);
    Anchor* b2 = AnchorOn(right.module, Float3(-0.5f, -0.2f, 0.0f), AnchorFixed);
    a1->SetJointAnchor(b1);
    a2->SetJointAnchor(b2);
    RigidBody* merged = right.body;
    ASSERT_EQ(left.module->GetBody(), merged);

    a1->Detach();
    EXPECT_EQ(left.module->GetBody(), merged);
    EXPECT_EQ(right.module->GetBody(), merged);

    b2->SetJointAnchor(nullptr);
    RigidBody* split = left.module->GetBody();
    ASSERT_TRUE(split);
    EXPECT_NE(split, merged);
    EXPECT_EQ(right.module->GetBody(), merged);
    EXPECT_NEAR(split->GetMass(), single, 1e-4f * single);
    EXPECT_NEAR(merged->GetMass(), single, 1e-4f * single);
    EXPECT_NEAR(left.module->GetWorldPosition().Length(), 0.0f, 1e-5f);
    EXPECT_NEAR((split->GetWorldPosition() - left.module->GetWorldPosition()).Length(), 0.0f,
                1e-5f);
}

TEST_F(Anchors, AJointToAnotherBodyFollowsAModuleThatMovesInAMergeOrSplit) {
    Part left = MakePart(Float3(0.0f, 0.0f, 0.0f));
    Part right = MakePart(Float3(1.0f, 0.0f, 0.0f));
    Part hanging = MakePart(Float3(0.0f, -1.0f, 0.0f));
    Anchor* ball = AnchorOn(left.module, Float3(0.0f, -0.5f, 0.0f), AnchorBall);
    Anchor* hook = AnchorOn(hanging.module, Float3(0.0f, 0.5f, 0.0f), AnchorBall);
    ball->SetJointAnchor(hook);
    Anchor* a = AnchorOn(left.module, Float3(0.5f, 0.0f, 0.0f), AnchorFixed);
    Anchor* b = AnchorOn(right.module, Float3(-0.5f, 0.0f, 0.0f), AnchorFixed);
    a->SetJointAnchor(b);
    Joint* joint = ball->GetJoint();
    EXPECT_TRUE(joint->GetBody(0) == right.body || joint->GetBody(1) == right.body);
    a->Detach();
    RigidBody* leftBody = left.module->GetBody();
    EXPECT_TRUE(joint->GetBody(0) == leftBody || joint->GetBody(1) == leftBody);
    EXPECT_NE(leftBody, right.body);
}

// A ball link inside a merged structure holds nothing and does not keep the structure whole.
TEST_F(Anchors, AJointWithinOneBodyWaitsDetachedAndOnlyRigidLinksKeepAStructureWhole) {
    Part left = MakePart(Float3(0.0f, 0.0f, 0.0f));
    Part right = MakePart(Float3(1.0f, 0.0f, 0.0f));
    Anchor* ball = AnchorOn(left.module, Float3(0.5f, 0.3f, 0.0f), AnchorBall);
    AnchorOn(right.module, Float3(-0.5f, 0.3f, 0.0f), AnchorBall)->SetJointAnchor(ball);
    Anchor* a = AnchorOn(left.module, Float3(0.5f, 0.0f, 0.0f), AnchorFixed);
    Anchor* b = AnchorOn(right.module, Float3(-0.5f, 0.0f, 0.0f), AnchorFixed);
    a->SetJointAnchor(b);
    Joint* joint = ball->GetJoint();
    ASSERT_EQ(left.module->GetBody(), right.module->GetBody());
    EXPECT_EQ(joint->GetBody(0), nullptr);
    EXPECT_EQ(joint->GetBody(1), nullptr);

    a->Detach();
    ASSERT_NE(left.module->GetBody(), right.module->GetBody());
    EXPECT_TRUE(Joint::AreConnected(left.module->GetBody(), right.module->GetBody(), 0));
}

TEST_F(Anchors, RefusedAttachmentsAreLoggedAndChangeNeitherAnchor) {
    Part left = MakePart(Float3());
    Part right = MakePart(Float3(1.0f, 0.0f, 0.0f));
    Anchor* a = AnchorOn(left.module, Float3(), AnchorBall);
    Anchor* b = AnchorOn(right.module, Float3(), AnchorBall);
    Anchor* c = AnchorOn(right.module, Float3(0.0f, 1.0f, 0.0f), AnchorBall);
    a->SetJointAnchor(b);
    struct Case {
        Anchor* from;
        Entity* to;
        const char* warning;
    };
    const Case cases[] = {
        {c, left.body, "Warning: SetJointAnchor was called with an invalid anchor"},
        {c, c, "Warning: Trying to attach anchor to itself"},
        {c, a, "Warning: Trying to attach to anchor which is already attached elsewhere."},
        {a, c, "Warning: Trying to attach to anchor which is already attached elsewhere."},
    };
    for (const Case& test : cases) {
        CapturingLogSink log;
        test.from->SetJointAnchor(test.to);
        EXPECT_TRUE(log.Contains(test.warning)) << test.warning;
        EXPECT_EQ(a->GetPartner(), b);
        EXPECT_EQ(b->GetPartner(), a);
        EXPECT_EQ(c->GetPartner(), nullptr);
    }
}

TEST_F(Anchors, LimitsAndMotorsPassToTheJointWithTheBindingValueOfThePair) {
    Part left = MakePart(Float3());
    Part right = MakePart(Float3(1.0f, 0.0f, 0.0f));
    Anchor* a = AnchorOn(left.module, Float3(), AnchorHinge);
    Anchor* b = AnchorOn(right.module, Float3(), AnchorAxis);
    a->SetMinLimit(-30.0f);
    a->SetMaxLimit(60.0f);
    b->SetMinLimit(-45.0f);
    b->SetMaxLimit(20.0f);
    a->SetMotorSpeed(1.0f);
    b->SetMotorSpeed(0.5f);
    a->SetMaxMotorForce(3.0f);
    b->SetMaxMotorForce(7.0f);
    a->SetJointAnchor(b);
    ASSERT_TRUE(a->GetJoint());
    EXPECT_EQ(a->GetJoint()->GetCreation(), CreateHinge);
    JointLimitMotor& motor = *a->GetJoint()->GetLimitMotor();
    EXPECT_FLOAT_EQ(motor.GetLowStop(), -30.0f * Radians);
    EXPECT_FLOAT_EQ(motor.GetHighStop(), 20.0f * Radians);
    EXPECT_FLOAT_EQ(motor.GetVelocity(), 1.5f);
    EXPECT_FLOAT_EQ(motor.GetMaxForce(), 7.0f);

    b->SetMinLimit(-10.0f); // now binding
    EXPECT_FLOAT_EQ(motor.GetLowStop(), -10.0f * Radians);
    a->SetMinLimit(-50.0f); // not binding
    EXPECT_FLOAT_EQ(motor.GetLowStop(), -10.0f * Radians);
    a->SetMaxLimit(-60.0f); // drags its minimum along, both binding
    EXPECT_EQ(a->GetMinLimit(), -60.0f);
    EXPECT_FLOAT_EQ(motor.GetHighStop(), -60.0f * Radians);
    a->SetMotorSpeed(-2.0f);
    EXPECT_FLOAT_EQ(motor.GetVelocity(), -1.5f);
}

TEST_F(Anchors, ErpAndCfmTakeTheLargerValueAndANegativeErpStopsABallJoint) {
    Part left = MakePart(Float3());
    Part right = MakePart(Float3(1.0f, 0.0f, 0.0f));
    Anchor* a = AnchorOn(left.module, Float3(), AnchorBall);
    Anchor* b = AnchorOn(right.module, Float3(1.0f, 0.0f, 0.0f), AnchorBall);
    a->SetErp(0.3f);
    a->SetJointAnchor(b);
    b->SetCfm(0.002f);
    auto* ball = static_cast<BallJoint*>(a->GetJoint());
    ASSERT_TRUE(ball);
    // The rows show the joint's values: erp scales the error, cfm sits on row 0 only.
    float rows[3 * 8 * 4] = {};
    float c[3] = {}, cfm[3] = {1e-5f, 1e-5f, 1e-5f}, lo[3], hi[3];
    int32_t findex[3];
    JointInfo2 info{100.0f, 0.2f, rows, rows + 24, rows + 48, rows + 72, 8, c, cfm, lo, hi, findex};
    ball->GetInfo2(info);
    const float gap = (ball->GetAnchor(0)->GetWorldPosition() - ball->GetAnchor(1)->GetWorldPosition()).x;
    EXPECT_FLOAT_EQ(c[0], 100.0f * 0.3f * gap);
    EXPECT_FLOAT_EQ(cfm[0], 0.002f);
    EXPECT_FLOAT_EQ(cfm[1], 1e-5f);

    b->SetErp(-1.0f);
    JointInfo1 info1;
    ball->GetInfo1(info1);
    EXPECT_EQ(info1.m, 0);
    b->SetErp(0.0f);
    ball->GetInfo1(info1);
    EXPECT_EQ(info1.m, 3);
}

TEST_F(Anchors, ATypeChangeReplacesTheJointAndNoneDetaches) {
    Part left = MakePart(Float3());
    Part right = MakePart(Float3(1.0f, 0.0f, 0.0f));
    Anchor* a = AnchorOn(left.module, Float3(), AnchorBall);
    Anchor* b = AnchorOn(right.module, Float3(), AnchorSlider);
    a->SetJointAnchor(b);
    ASSERT_EQ(a->GetJoint()->GetType(), JointBall);
    a->SetType(AnchorHinge2);
    ASSERT_TRUE(a->GetJoint());
    EXPECT_EQ(a->GetJoint()->GetType(), JointSlider);
    EXPECT_EQ(b->GetJoint(), a->GetJoint());
    EXPECT_TRUE(Joint::AreConnected(a->GetJoint()->GetBody(0), a->GetJoint()->GetBody(1), 0));
    b->SetType(AnchorNone);
    EXPECT_EQ(a->GetJoint(), nullptr);
    EXPECT_EQ(a->GetPartner(), nullptr);
}

// The hinge's only body is its second anchor's, so the joint is attached reversed: the drive
// must still turn it towards its target.
TEST_F(Anchors, ADriveKeepsItsStopsInDegreesSoAReattachmentGivesTheSameStops) {
    Part left = MakePart(Float3(), false);
    Part right = MakePart(Float3(1.0f, 0.0f, 0.0f));
    Anchor* a = AnchorOn(left.module, Float3(), AnchorHinge);
    Anchor* b = AnchorOn(right.module, Float3(-1.0f, 0.0f, 0.0f), AnchorHinge);
    b->SetMaxMotorForce(5.0f);
    a->SetJointAnchor(b);
    a->DriveTo(0.5f, 1.0f);
    EXPECT_FALSE(a->HasArrived());
    EXPECT_FLOAT_EQ(a->GetMaxLimit(), 0.5f * 57.29578f);
    EXPECT_EQ(a->GetMinLimit(), -3.4028235e38f);
    EXPECT_FLOAT_EQ(a->GetMotorSpeed(), 1.0f);

    a->Detach();
    a->SetJointAnchor(b);
    JointLimitMotor& motor = *a->GetJoint()->GetLimitMotor();
    EXPECT_NEAR(motor.GetHighStop(), 0.5f, 1e-6f);
    EXPECT_EQ(motor.GetLowStop(), -3.4028235e38f);

    // The drive runs to its target and reports it.
    a->DriveTo(0.5f, 1.0f);
    std::vector<RigidBody*> bodies{right.body};
    std::vector<Joint*> joints{a->GetJoint()};
    for (int i = 0; i < 200 && !a->HasArrived(); ++i) {
        StepIslandLCP(bodies.data(), 1, joints.data(), 1, 0.01f, world_->GetCfm(),
                      world_->GetErp(), world_->GetScratch());
        JointInfo1 info;
        joints[0]->GetInfo1(info);
    }
    EXPECT_TRUE(a->HasArrived());
    EXPECT_NEAR(a->GetJoint()->GetVariable(), 0.5f, 0.02f);
}

// A scene stores the anchors' property texts: copied onto a fresh pair, they give the joint the
// stops the drive set.
TEST_F(Anchors, TheStopsOfADriveSurviveTheirPropertyTexts) {
    Part left = MakePart(Float3(), false);
    Part right = MakePart(Float3(1.0f, 0.0f, 0.0f));
    Anchor* a = AnchorOn(left.module, Float3(), AnchorSlider);
    Anchor* b = AnchorOn(right.module, Float3(-1.0f, 0.0f, 0.0f), AnchorSlider);
    a->SetJointAnchor(b);
    a->DriveTo(-0.25f, 2.0f);
    const float low = a->GetJoint()->GetLimitMotor()->GetLowStop();
    const float high = a->GetJoint()->GetLimitMotor()->GetHighStop();

    Part left2 = MakePart(Float3(), false);
    Part right2 = MakePart(Float3(1.0f, 0.0f, 0.0f));
    Anchor* a2 = AnchorOn(left2.module, Float3(), AnchorNone);
    Anchor* b2 = AnchorOn(right2.module, Float3(-1.0f, 0.0f, 0.0f), AnchorSlider);
    for (const char* name : {"type", "minlimit", "maxlimit", "motorspeed", "maxmotorforce"}) {
        const Property* property = Anchor::classInfo->FindProperty(name);
        ASSERT_TRUE(property) << name;
        property->SetFromText(*a2, property->GetAsText(*a).c_str());
    }
    a2->SetJointAnchor(b2);
    ASSERT_TRUE(a2->GetJoint());
    EXPECT_NEAR(a2->GetJoint()->GetLimitMotor()->GetLowStop(), low, 1e-6f);
    EXPECT_EQ(a2->GetJoint()->GetLimitMotor()->GetHighStop(), high);
}

TEST_F(Anchors, MasterModReadsAsTheBareId) {
    Part part = MakePart(Float3());
    Part master = MakePart(Float3(1.0f, 0.0f, 0.0f));
    const Property* property = Module::classInfo->FindProperty("master_mod");
    property->SetFromText(*part.module, std::to_string(master.module->GetId()).c_str());
    EXPECT_EQ(property->GetAsText(*part.module), std::to_string(master.module->GetId()));
}

TEST_F(Anchors, AModuleRefersToItsOutermostBodyUntilItIsTakenAway) {
    RigidBody* outer = Body(Float3());
    RigidBody* inner = Body(Float3(), outer);
    auto* holder = WithId<Node>("holder", inner);
    auto* module = WithId<Module>("module");
    module->AttachAsLast(holder);
    EXPECT_EQ(module->GetBody(), outer);
    module->Detach();
    EXPECT_EQ(module->GetBody(), nullptr);
    module->AttachAsLast(inner);
    EXPECT_EQ(module->GetBody(), outer);
    Anchor* anchor = AnchorOn(module, Float3(), AnchorBall);
    EXPECT_EQ(anchor->GetModule(), module);
    anchor->Detach();
    static_cast<Node*>(anchor)->Detach();
    EXPECT_EQ(anchor->GetModule(), nullptr);
    EXPECT_EQ(module->GetAnchorCount(), 0);
}

// A chain hub - spoke - tip linked by BALL anchors, and a loose module.
class ModuleWalks : public Anchors {
protected:
    void SetUp() override {
        Anchors::SetUp();
        hub_ = MakePart(Float3(0.0f, 0.0f, 0.0f));
        spoke_ = MakePart(Float3(2.0f, 0.5f, 0.0f));
        tip_ = MakePart(Float3(4.0f, -0.5f, 1.0f));
        loose_ = MakePart(Float3(9.0f, 0.0f, 0.0f));
        hubOut_ = AnchorOn(hub_.module, Float3(1.0f, 0.0f, 0.0f), AnchorBall);
        spokeIn_ = AnchorOn(spoke_.module, Float3(-1.0f, 0.0f, 0.0f), AnchorBall);
        spokeOut_ = AnchorOn(spoke_.module, Float3(1.0f, 0.0f, 0.0f), AnchorBall);
        tipIn_ = AnchorOn(tip_.module, Float3(-1.0f, 0.0f, 0.0f), AnchorBall);
        AnchorOn(loose_.module, Float3(), AnchorBall);
        hubOut_->SetJointAnchor(spokeIn_);
        spokeOut_->SetJointAnchor(tipIn_);
    }
    Part hub_, spoke_, tip_, loose_;
    Anchor *hubOut_, *spokeIn_, *spokeOut_, *tipIn_;
};

TEST_F(ModuleWalks, SnapToModuleBringsEachAnchorOntoItsPartnerOnce) {
    Node::NewVisit();
    Module::SnapToModule(hub_.module);
    EXPECT_NEAR((hubOut_->GetWorldPosition() - spokeIn_->GetWorldPosition()).Length(), 0.0f, 1e-5f);
    EXPECT_NEAR((spokeOut_->GetWorldPosition() - tipIn_->GetWorldPosition()).Length(), 0.0f, 1e-5f);
    EXPECT_NEAR(hub_.body->GetWorldPosition().Length(), 0.0f, 1e-6f);
    EXPECT_NEAR((tip_.body->GetWorldPosition() - Float3(4.0f, 0.0f, 0.0f)).Length(), 0.0f, 1e-5f);
}

TEST_F(ModuleWalks, FindConnectingAnchorFollowsChainsOfAttachedModules) {
    EXPECT_EQ(Module::FindConnectingAnchor(hub_.module, spoke_.module), hubOut_);
    EXPECT_EQ(Module::FindConnectingAnchor(hub_.module, tip_.module), hubOut_);
    EXPECT_EQ(Module::FindConnectingAnchor(tip_.module, hub_.module), tipIn_);
    EXPECT_EQ(Module::FindConnectingAnchor(hub_.module, loose_.module), nullptr);
    EXPECT_EQ(Module::FindConnectingAnchor(spoke_.module, spoke_.module), spokeIn_);
    EXPECT_EQ(Module::FindConnectingAnchor(loose_.module, loose_.module), nullptr);
    EXPECT_EQ(Module::CountAttachedAnchors(spoke_.module), 2);
    EXPECT_EQ(Module::CountAttachedAnchors(loose_.module), 0);
}

// A chain of modules longer than a walk a call deep per module could follow on a small stack
// (a thread's, here 256 KiB): the search ends, either way along it.
TEST_F(Anchors, FindConnectingAnchorFollowsAChainOfAnyLength) {
    constexpr int Length = 5000;
    Module* first = MakePart(Float3(), false).module;
    Anchor* firstOut = AnchorOn(first, Float3(1.0f, 0.0f, 0.0f), AnchorBall);
    Anchor* leaving = firstOut;
    Module* last = first;
    Anchor* lastIn = nullptr;
    for (int i = 1; i < Length; ++i) {
        last = MakePart(Float3(static_cast<float>(i), 0.0f, 0.0f), false).module;
        lastIn = AnchorOn(last, Float3(-1.0f, 0.0f, 0.0f), AnchorBall);
        leaving->SetJointAnchor(lastIn);
        ASSERT_EQ(leaving->GetPartner(), lastIn);
        leaving = AnchorOn(last, Float3(1.0f, 0.0f, 0.0f), AnchorBall);
    }
    struct Search {
        Module *from, *to;
        Anchor* found;
    } searches[] = {{first, last, nullptr}, {last, first, nullptr}};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attributes,
                  [](void* all) -> void* {
                      for (Search& search : *static_cast<Search(*)[2]>(all)) {
                          search.found = Module::FindConnectingAnchor(search.from, search.to);
                      }
                      return nullptr;
                  },
                  &searches),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    EXPECT_EQ(searches[0].found, firstOut);
    EXPECT_EQ(searches[1].found, lastIn);
}

// Where a game keeps the key codes of its current module, as a script's variables would.
class KeyCodePanel : public TestClass<KeyCodePanel, Node> {
public:
    static constexpr const char* Name = "BuildCodeKeyPanel";
    static void Declare(ClassInfo& info) {
        info.AddProperty<PropertyInt, &KeyCodePanel::GetFirst, &KeyCodePanel::SetFirst>(
            "current_module_key_code0");
        info.AddProperty<PropertyInt, &KeyCodePanel::GetSecond, &KeyCodePanel::SetSecond>(
            "current_module_key_code1");
    }
    int32_t GetFirst() const { return codes[0]; }
    void SetFirst(int32_t code) { codes[0] = code; }
    int32_t GetSecond() const { return codes[1]; }
    void SetSecond(int32_t code) { codes[1] = code; }
    int32_t codes[2] = {-1, -1};
};

// A module's "InputCode" child: made current, it puts its keys in the panel.
class KeySetter : public TestClass<KeySetter, Node> {
public:
    static constexpr const char* Name = "BuildCodeKeySetter";
    static void Declare(ClassInfo& info) {
        info.AddMethod("set_as_current", "", BindSignalHandler<&KeySetter::SetAsCurrent>(), 0);
    }
    void SetAsCurrent(void*) {
        panel->SetFirst(keys[0]);
        panel->SetSecond(keys[1]);
        if (doomed) {
            doomed->Delete();
            doomed = nullptr;
        }
    }
    KeyCodePanel* panel = nullptr;
    Node* doomed = nullptr; // what the game's script deletes when the module becomes current
    int32_t keys[2] = {};
};

class BuildCodes : public Anchors {
protected:
    // A module of that name holding a BALL anchor named "PrimaryAnchor" (first, so index 0)
    // and one named "out" (index 1).
    Module* Named(const char* name) {
        Module* module = MakePart(Float3(static_cast<float>(made_++), 0.0f, 0.0f)).module;
        module->SetName(name);
        AnchorOn(module, Float3(), AnchorBall)->SetName("PrimaryAnchor");
        AnchorOn(module, Float3(), AnchorBall)->SetName("out");
        return module;
    }
    static Anchor* Child(Module* module, const char* name) {
        return ToAnchor(module->FindChildByName(name));
    }
    // The primary anchor's first child turns the module against its parent.
    void Turn(Module* module, Quaternion turn) {
        auto* pivot = tree_.Make<Pivot>("turn", Child(module, "PrimaryAnchor"));
        pivot->SetOrientation(turn);
    }
    void Keys(Module* module, int32_t first, int32_t second) {
        auto* setter = tree_.Make<KeySetter>("InputCode", module);
        setter->panel = panel_;
        setter->keys[0] = first;
        setter->keys[1] = second;
    }
    void SetUp() override {
        Anchors::SetUp();
        panel_ = tree_.Make<KeyCodePanel>("panel");
    }
    KeyCodePanel* panel_ = nullptr;
    int made_ = 0;
};

TEST_F(BuildCodes, EachModuleGivesItsKindParentAnchorTurnAndKeys) {
    // A battery with two anchors; a jet on its first, a wheel on its second, an unknown module
    // on the wheel, and a gyro hanging from the jet through a module that is passed through.
    Module* core = MakePart(Float3()).module;
    core->SetName("Battery");
    Anchor* left = AnchorOn(core, Float3(), AnchorBall);
    Anchor* right = AnchorOn(core, Float3(), AnchorBall);
    Keys(core, 12, 13);
    Module* jet = Named("MiniJet");
    Module* wheel = Named("TwinWheel");
    Module* mystery = Named("Mystery");
    Module* nut = Named("FlatNut");
    tree_.Make<Node>("nodetach", nut);
    Module* gyro = Named("Gyro");
    Child(jet, "PrimaryAnchor")->SetJointAnchor(left);
    Child(wheel, "PrimaryAnchor")->SetJointAnchor(right);
    Child(mystery, "PrimaryAnchor")->SetJointAnchor(Child(wheel, "out"));
    Child(nut, "PrimaryAnchor")->SetJointAnchor(Child(jet, "out"));
    Child(gyro, "PrimaryAnchor")->SetJointAnchor(Child(nut, "out"));
    // A quarter turn each way about Z, and a turn about X, which counts as none.
    const float s = std::sqrt(0.5f);
    Turn(jet, Quaternion(0.0f, 0.0f, -s, s));
    Turn(wheel, Quaternion(0.0f, 0.0f, s, s));
    Turn(mystery, Quaternion(s, 0.0f, 0.0f, s));
    Keys(jet, 75, 0);

    // Records in the order of the walk: battery, jet, gyro (the nut has none), wheel, mystery.
    // Kind, parent record (two digits), anchor index, eighths of a turn, then the keys ('_' is
    // the absent code 0x2F), each added to '0'.
    EXPECT_EQ(Module::BuildCode(core, panel_), "i0000<="
                                               "j0002{0"
                                               "g0110__"
                                               "d0016__"
                                               "?0310__");
    // Keys are read from the node given; without one, every key is absent.
    EXPECT_EQ(Module::BuildCode(core, nullptr).substr(0, 7), "i0000__");
    EXPECT_EQ(Module::BuildCode(nullptr, panel_), "");
    // From the wheel the walk reaches the same modules in another order, and the battery now
    // hangs from nothing.
    EXPECT_EQ(Module::BuildCode(wheel, panel_), "d0116__i0000<=j0102{0g0210__?0010__");
    // A key no character can hold is logged and written as absent.
    Keys(mystery, 300, -5);
    CapturingLogSink log;
    EXPECT_EQ(Module::BuildCode(core, panel_).substr(28), "?0310__");
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_EQ(log.Lines()[0].text, "Build code of 'Mystery': its first key code 300 does not fit "
                                   "the code");
    // A script that deletes a module while the keys are read: the walk was done, the record
    // stays and the deleted module's keys are absent.
    static_cast<KeySetter*>(jet->FindChildByName("InputCode"))->doomed = mystery->GetParent();
    EXPECT_EQ(Module::BuildCode(core, panel_), "i0000<=j0002{0g0110__d0016__?0310__");
}

TEST_F(BuildCodes, ALargerConstructionIsCutAtItsRecordsWithALogLine) {
    Module* previous = Named("Spring");
    Module* first = previous;
    for (int i = 1; i < BuildCodeRecords + 6; ++i) {
        Module* next = Named("Spring");
        Child(next, "PrimaryAnchor")->SetJointAnchor(Child(previous, "out"));
        previous = next;
    }
    CapturingLogSink log;
    const std::string code = Module::BuildCode(first, panel_);
    ASSERT_EQ(code.size(), size_t(7 * BuildCodeRecords));
    EXPECT_EQ(code.substr(7 * 63), "s6210__");
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].text,
              "Build code of 'Spring': 6 modules beyond its 64 records are left out");
}

} // namespace
} // namespace quarn::test
