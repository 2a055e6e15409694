#include "collision/CollisionSpaceHash.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/object/Signals.h"
#include "core/os/MenuRefresh.h"
#include "physics/JointTypes.h"
#include "resources/DataBaseResource.h"
#include "resources/ResourceRegistry.h"
#include "tests/physics/PhysicsTestSupport.h"
#include "tests/support/CapturingLogSink.h"

#include <limits>

namespace quarn::test {
namespace {

using PhysicsMasterState = PhysicsTest;

TEST_F(PhysicsMasterState, TheFirstWorldIsCurrentUntilItIsDeleted) {
    EXPECT_EQ(PhysicsMaster::GetCurrentWorld(), world_);
    EXPECT_EQ(CollisionWorld::GetCurrent(), world_);
    auto* second = tree_.Make<PhysicsMaster>("second");
    EXPECT_EQ(PhysicsMaster::GetCurrentWorld(), world_);

    auto* body = tree_.Make<RigidBody>("body");
    CallEntityMethod(body, "loaded", nullptr);
    EXPECT_EQ(body->GetWorld(), world_);
    ContactJoint joint; // joins the current world on construction
    EXPECT_EQ(world_->GetJointCount(), 1);
    body->SetWorld(second);
    EXPECT_EQ(world_->GetBodyCount(), 0);
    EXPECT_EQ(second->GetBodyCount(), 1);

    second->Delete();
    EXPECT_EQ(body->GetWorld(), nullptr);
    world_->Delete();
    EXPECT_EQ(PhysicsMaster::GetCurrentWorld(), nullptr);
    EXPECT_EQ(CollisionWorld::GetCurrent(), nullptr);
    EXPECT_EQ(joint.GetWorld(), nullptr);
}

TEST_F(PhysicsMasterState, HeldValuesReadBackAsTheirSetters) {
    world_->SetSlowMotion(0.5f);
    EXPECT_EQ(world_->GetSlowMotion(), 1.0f);
    EXPECT_FLOAT_EQ(world_->GetIdleThreshold(), 0.001f);
    world_->SetIdleThreshold(0.004f);
    EXPECT_FLOAT_EQ(world_->GetIdleThresholdSquared(), 0.004f * 0.004f);
    // Read back as set, also where the square overflows or drops the sign.
    for (const float threshold : {1e20f, -0.5f}) {
        world_->SetIdleThreshold(threshold);
        EXPECT_EQ(world_->GetIdleThreshold(), threshold);
    }
    struct Case {
        float timestep;
        Float3 force;
    };
    for (const Case& c : {Case{0.5f, Float3(2.0f, -4.0f, 0.0f)}, Case{0.0f, Float3()},
                          Case{-0.1f, Float3()},
                          Case{std::numeric_limits<float>::quiet_NaN(), Float3()}}) {
        world_->SetTimestep(c.timestep);
        const Float3 force = world_->ImpulseToForce(Float3(1.0f, -2.0f, 0.0f));
        EXPECT_EQ(force.x, c.force.x);
        EXPECT_EQ(force.y, c.force.y);
    }
}

TEST_F(PhysicsMasterState, SettersRefuseValuesThatAreNotFiniteAndKeepIterationsInRange) {
    // As a scene file sets them; 1e39 overflows a float.
    CapturingLogSink log;
    for (const char* name :
         {"timestep", "slowmotion", "gravity", "damping", "angulardamping", "erp", "cfm",
          "idlethreshold", "idletime", "contactmindepth", "contactmaxvel"}) {
        const Property* property = PhysicsMaster::classInfo->FindProperty(name);
        ASSERT_NE(property, nullptr) << name;
        property->SetFromText(*world_, "0.005");
        const std::string held = property->GetAsText(*world_);
        for (const char* wild : {"nan", "inf", "-inf", "1e39"}) {
            log.Clear();
            property->SetFromText(*world_, wild);
            EXPECT_EQ(property->GetAsText(*world_), held) << name << " " << wild;
            ASSERT_EQ(log.Lines().size(), 1u) << name << " " << wild;
            EXPECT_TRUE(log.Contains(std::string(name) + " ")) << log.Lines()[0].text;
        }
    }

    struct Iterations {
        int32_t set;
        int32_t held;
    };
    for (const Iterations c :
         {Iterations{20, 20}, Iterations{2000000000, PhysicsMaster::MaxIterations},
          Iterations{-5, 0}, Iterations{0, 0},
          Iterations{PhysicsMaster::MaxIterations, PhysicsMaster::MaxIterations}}) {
        log.Clear();
        world_->SetIterations(c.set);
        EXPECT_EQ(world_->GetIterations(), c.held) << c.set;
        EXPECT_EQ(log.Lines().size(), c.set == c.held ? 0u : 1u) << c.set;
    }
}

int menuRefreshes = 0;

TEST_F(PhysicsMasterState, PortsSetTheMethodAndRefreshTheMenu) {
    menuRefreshes = 0;
    SetMenuRefreshHook([] { ++menuRefreshes; });
    EventRecord stop;
    stop.target.SetId(world_->GetId() | (1u << PortShift));
    world_->ReceiveEvent(stop);
    EXPECT_EQ(world_->GetMethod(), PhysicsOff);
    EventRecord start;
    start.target.SetId(world_->GetId());
    world_->ReceiveEvent(start);
    EXPECT_EQ(world_->GetMethod(), PhysicsLcp);
    EXPECT_EQ(menuRefreshes, 2);
    SetMenuRefreshHook(nullptr);
}

TEST_F(PhysicsMasterState, DeletingTheWitnessClearsTheReference) {
    auto* witness = tree_.MakeWithId<Node>("witness");
    world_->SetWitness({witness->GetId()});
    auto* bystander = tree_.MakeWithId<Node>("bystander");
    bystander->Delete();
    ASSERT_NE(witness->GetId(), 0u);
    EXPECT_EQ(world_->GetWitness().value, witness->GetId());
    witness->Delete();
    EXPECT_EQ(world_->GetWitness().value, 0u);
}

TEST_F(PhysicsMasterState, SpacesAreFoundAlongTheChainOfSiblings) {
    auto* parent = tree_.Make<Node>("parent");
    auto* first = tree_.MakeWithId<CollisionSpaceHash>("first");
    first->AttachAsLast(parent);
    auto* second = tree_.Make<CollisionSpaceHash>("second", parent);
    tree_.Make<Node>("end", parent);
    auto* past = tree_.Make<CollisionSpaceHash>("past", parent);
    second->SetSpaceNum(1);
    past->SetSpaceNum(2);
    EXPECT_EQ(world_->FindCollisionSpace(0), nullptr);
    world_->SetCollisionSpaceId({first->GetId()});
    EXPECT_EQ(world_->FindCollisionSpace(0), static_cast<CollisionSpace*>(first));
    EXPECT_EQ(world_->FindCollisionSpace(1), static_cast<CollisionSpace*>(second));
    EXPECT_EQ(world_->FindCollisionSpace(2), nullptr);
}

TEST_F(PhysicsMasterState, TablesAreHeldByNameAndLetGoWhenCleared) {
    FileSystem* previous = GetFileSystem();
    MemoryFileSystem files;
    SetFileSystem(&files);
    files.Add("surfaces.csv", "a,b\n1,2\n");
    const int registered = GetRegisteredResourceCount();
    world_->SetContactDbName("surfaces.csv");
    ASSERT_NE(world_->GetContactDb(), nullptr);
    EXPECT_STREQ(world_->GetContactDbName(), "surfaces.csv");
    world_->SetMaterialDbName("surfaces.csv");
    EXPECT_EQ(world_->GetMaterialDb(), world_->GetContactDb());
    world_->SetContactDbName("");
    world_->SetMaterialDbName("");
    EXPECT_EQ(world_->GetContactDb(), nullptr);
    EXPECT_EQ(world_->GetMaterialDb(), nullptr);
    EXPECT_EQ(GetRegisteredResourceCount(), registered);
    SetFileSystem(previous);
}

using JointLinks = PhysicsTest;

TEST_F(JointLinks, AttachLinksBothBodiesCrosswiseAndDetachUnlinks) {
    auto* a = Body(Float3());
    auto* b = Body(Float3(1.0f, 0.0f, 0.0f));
    ContactJoint contact;
    contact.Attach(a, b);
    ASSERT_NE(a->GetJointList(), nullptr);
    EXPECT_EQ(a->GetJointList()->body, b);
    EXPECT_EQ(b->GetJointList()->body, a);
    EXPECT_TRUE(Joint::AreConnected(a, b, 0));
    EXPECT_FALSE(Joint::AreConnected(a, b, JointContact));
    EXPECT_FALSE(Joint::AreConnected(a, nullptr, 0));
    // A state change re-attaches; without anchors the joint lets go.
    b->SetState(BodyStatic);
    EXPECT_EQ(a->GetJointList(), nullptr);
    contact.Attach(b, a);
    EXPECT_TRUE(contact.IsReversed());
    EXPECT_EQ(contact.GetBody(0), a);
    b->Delete();
    EXPECT_EQ(contact.GetBody(1), nullptr);
    EXPECT_EQ(a->GetJointList(), nullptr);
}

// Contacts are skipped for joints of other kinds, which each body counts as they come and go:
// the pairs of bodies without any are answered without a walk of their contacts.
TEST_F(JointLinks, AJointOfAnotherKindIsFoundAmongContactsUntilItGoes) {
    auto* a = Body(Float3());
    auto* b = Body(Float3(1.0f, 0.0f, 0.0f));
    auto* c = Body(Float3(2.0f, 0.0f, 0.0f));
    ContactJoint ab;
    ab.Attach(a, b);
    ContactJoint ac;
    ac.Attach(a, c);
    EXPECT_EQ(a->GetNonContactJointCount(), 0);
    EXPECT_FALSE(Joint::AreConnected(a, b, JointContact));
    {
        BallJoint ball;
        ball.Attach(b, a);
        EXPECT_EQ(a->GetNonContactJointCount(), 1);
        EXPECT_EQ(b->GetNonContactJointCount(), 1);
        EXPECT_TRUE(Joint::AreConnected(a, b, JointContact));
        EXPECT_TRUE(Joint::AreConnected(b, a, JointContact));
        EXPECT_FALSE(Joint::AreConnected(a, c, JointContact));
        ball.Attach(a, c); // attached anew: counted once, on its new bodies
        EXPECT_EQ(b->GetNonContactJointCount(), 0);
        EXPECT_EQ(a->GetNonContactJointCount(), 1);
        EXPECT_TRUE(Joint::AreConnected(c, a, JointContact));
        EXPECT_FALSE(Joint::AreConnected(a, b, JointContact));
    } // destroyed while attached
    EXPECT_EQ(a->GetNonContactJointCount(), 0);
    EXPECT_EQ(c->GetNonContactJointCount(), 0);
    EXPECT_FALSE(Joint::AreConnected(a, c, JointContact));
    EXPECT_TRUE(Joint::AreConnected(a, c, 0));
}

} // namespace
} // namespace quarn::test
