#include "collision/CollisionBox.h"
#include "collision/CollisionCapsule.h"
#include "collision/CollisionCylinder.h"
#include "collision/CollisionMesh.h"
#include "collision/CollisionSpaceHash.h"
#include "collision/CollisionSpaceSweepnPrune.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/math/Random.h"
#include "core/object/ValueBinding.h"
#include "core/os/EditorToolbar.h"
#include "core/scene/EngineState.h"
#include "physics/IslandStep.h"
#include "physics/IslandStepIterative.h"
#include "physics/JointTypes.h"
#include "physics/RigidStruct.h"
#include "tests/physics/PhysicsTestSupport.h"
#include "tests/resources/MeshTestSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TestClass.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace quarn::test {
namespace {

struct Heard {
    std::string method;
    std::vector<uint32_t> words;
};

std::vector<Heard>& HeardEvents() {
    static std::vector<Heard> heard;
    return heard;
}

// Hears the world's events with the words a script method would get.
class EventListener : public TestClass<EventListener, Node> {
public:
    static constexpr const char* Name = "PhysicsEventListener";
    static void Declare(ClassInfo& info) {
        info.AddMethod("collision", "(int, int, float3, float3, float, float, float)",
                       BindBlockMethod<&EventListener::Hear<0>>(), MethodScript);
        info.AddMethod("trig", "(int, int)", BindBlockMethod<&EventListener::Hear<1>>(),
                       MethodScript);
        info.AddMethod("probe", "(int, int, float, float3, float3)",
                       BindBlockMethod<&EventListener::Hear<2>>(), MethodScript);
    }
    template <int Kind>
    void Hear(uint32_t* block) {
        static constexpr const char* names[] = {"collision", "trig", "probe"};
        static constexpr int words[] = {11, 2, 9};
        HeardEvents().push_back({names[Kind], {block + 1, block + 1 + words[Kind]}});
    }
};

// Its "collision" method wants more words than any record block holds.
class GreedyListener : public TestClass<GreedyListener, Node> {
public:
    static constexpr const char* Name = "PhysicsGreedyListener";
    static void Declare(ClassInfo& info) {
        std::string signature = "(";
        for (int i = 0; i < 16; ++i) {
            signature += i ? ", quaternion" : "quaternion";
        }
        info.AddMethod("collision", (signature + ")").c_str(),
                       BindBlockMethod<&GreedyListener::Hear>(), MethodScript);
    }
    void Hear(uint32_t*) { HeardEvents().push_back({"greedy", {}}); }
};

class PhysicsWorld : public PhysicsTest {
protected:
    void SetUp() override {
        PhysicsTest::SetUp();
        HeardEvents().clear();
        space_ = UseSweepSpace(2000);
        world_->SetDamping(0.0f);
        world_->SetAngularDamping(0.0f);
        world_->SetIdleThreshold(0.0f);
        world_->SetFrictionModel(2); // ADVANCED_PYRAMID
    }

    // Solid to every other solid volume, in the world's space.
    template <class V>
    V* Joined(V* volume, uint32_t flags = CollSolid, CollisionSpace* space = nullptr) {
        return JoinSpace(space ? *space : *space_, volume, flags);
    }
    CollisionPlane* Floor(CollisionSpace* space = nullptr) {
        return Joined(Ground(), CollSolid | CollStatic, space);
    }
    CollisionBox* Box(Node* body, Float3 size) {
        auto* box = tree_.Make<CollisionBox>("box");
        box->SetSize(size);
        box->AttachAsLast(body);
        return Joined(box);
    }
    RigidBody* BoxBody(Float3 position, Float3 size = Float3(1.0f, 1.0f, 1.0f)) {
        RigidBody* body = Body(position);
        Box(body, size);
        return body;
    }
    // A sphere of radius 0.5 on a static body, with an id.
    CollisionSphere* Sensor(Float3 position, uint32_t flags) {
        RigidBody* holder = Body(position);
        holder->SetState(BodyStatic);
        CollisionSphere* sphere = Sphere(holder, Float3(), 0.5f);
        sphere->ChangeId(TheIdMap().GetFreeLocalId(0));
        return Joined(sphere, flags);
    }
    RigidBody* Ball(Float3 position, float radius) {
        RigidBody* body = Body(position);
        Joined(Sphere(body, Float3(), radius));
        return body;
    }
    // count balls of radius 0.5 at the origin: every pair touches with three rows.
    std::vector<RigidBody*> BallsOnOneSpot(int count) {
        std::vector<RigidBody*> balls;
        for (int i = 0; i < count; ++i) {
            balls.push_back(Ball(Float3(), 0.5f));
        }
        return balls;
    }
    // The balls spread evenly over a sphere of 0.3 m about the origin, each moving into it at
    // `speed`: every two of them touch.
    static void CrowdInward(const std::vector<RigidBody*>& balls, float speed = 1.0f) {
        for (size_t i = 0; i < balls.size(); ++i) {
            const float y = 1.0f - 2.0f * (static_cast<float>(i) + 0.5f) / balls.size();
            const float r = std::sqrt(1.0f - y * y);
            const float turn = 2.39996f * static_cast<float>(i);
            const Float3 out(r * std::cos(turn), y, r * std::sin(turn));
            balls[i]->ResetMotion();
            balls[i]->SetPosition(out * 0.3f);
            balls[i]->SetLinearVelocity(out * -speed);
        }
    }
    void Run(int steps) {
        for (int i = 0; i < steps; ++i) {
            world_->Step(world_->GetTimestep());
        }
    }

    CollisionSpaceSweepnPrune* space_ = nullptr;
};

// The dynamics tests run with the exact and with the iterative solver.
class PhysicsWorldMethods : public PhysicsWorld, public ::testing::WithParamInterface<int32_t> {
protected:
    void SetUp() override {
        PhysicsWorld::SetUp();
        world_->SetMethod(GetParam());
        world_->SetIterations(20);
    }
    bool Exact() const { return GetParam() != PhysicsIterative; }
};

INSTANTIATE_TEST_SUITE_P(Solvers, PhysicsWorldMethods,
                         ::testing::Values(PhysicsLcp, PhysicsIterative),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return info.param == PhysicsIterative ? "Iterative" : "Exact";
                         });

TEST_F(PhysicsWorld, TheClockTakesWholeStepsAndNeverHangs) {
    struct Case {
        float timestep;
        float slowMotion;
        float frameTime;
        uint32_t steps;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (const Case& c : {Case{0.01f, 1.0f, 0.01f, 0}, Case{0.01f, 1.0f, 0.035f, 3},
                          Case{0.01f, 2.0f, 0.035f, 1}, Case{0.01f, 0.5f, 0.035f, 3},
                          Case{0.0f, 1.0f, 1.0f, 0}, Case{-0.01f, 1.0f, 1.0f, 0},
                          Case{nan, 1.0f, 1.0f, 0}, Case{0.01f, 1.0f, inf, 0},
                          Case{0.01f, 1.0f, 1e30f, 0}}) {
        world_->SetTimestep(c.timestep);
        world_->SetSlowMotion(c.slowMotion);
        const uint32_t before = world_->GetStepCounter();
        world_->Update(c.frameTime, UpdateRunning);
        EXPECT_EQ(world_->GetStepCounter() - before, c.steps) << c.timestep << " " << c.frameTime;
        EXPECT_TRUE(std::isfinite(world_->GetAccumulator()));
        world_->Update(0.0f, UpdateRunning);
        world_->SetTimestep(0.0f);
        world_->Update(0.0f, UpdateRunning); // clears what is left
    }
    // Single stepping: one step per request, none otherwise.
    world_->SetTimestep(0.01f);
    world_->SetMethod(PhysicsLcpSingleStep);
    const uint32_t before = world_->GetStepCounter();
    world_->Update(1.0f, UpdateRunning);
    world_->RequestStep();
    world_->Update(0.0f, UpdateRunning);
    world_->Update(0.0f, UpdateRunning);
    EXPECT_EQ(world_->GetStepCounter() - before, 1u);
    EXPECT_FALSE(world_->IsStepRequested());
}

TEST_P(PhysicsWorldMethods, FreeFallFollowsTheClosedFormAndDampingSetsTheTerminalSpeed) {
    RigidBody* body = Ball(Float3(0.0f, 100.0f, 0.0f), 0.5f);
    body->SetLinearVelocity(Float3(2.0f, 0.0f, 0.0f));
    const float g = world_->GetGravity();
    const float h = world_->GetTimestep();
    for (int n = 1; n <= 100; ++n) {
        Run(1);
        ASSERT_NEAR(body->GetLinearVelocity().y, -g * h * n, 1e-4f * n) << n;
        ASSERT_NEAR(body->GetPosition().y, 100.0f - g * h * h * n * (n + 1) / 2.0f, 1e-3f) << n;
        ASSERT_FLOAT_EQ(body->GetLinearVelocity().x, 2.0f) << n;
    }
    const float k = 0.05f;
    world_->SetDamping(k);
    body->SetLinearVelocity(Float3());
    Run(1500);
    EXPECT_NEAR(body->GetLinearVelocity().y, -g * h / k, 0.01f * g * h / k);
}

TEST_P(PhysicsWorldMethods, AngularDampingTakesTheSameShareOfASpinHoweverTheBodyIsTurned) {
    world_->SetGravity(0.0f);
    world_->SetAngularDamping(0.002f);
    struct Spinner {
        const char* name;
        bool disc;              // a cylinder 1 m across and 0.1 m long, else a 1 x 0.1 x 0.1 rod
        Quaternion turn;
        Float3 localAxis;       // the spin, about this axis of the body's own
    };
    const Float3 x(1.0f, 0.0f, 0.0f);
    const Float3 z(0.0f, 0.0f, 1.0f);
    const Spinner spinners[] = {
        {"rod along x about its length", false, Quaternion(), x},
        {"rod standing along y about its length", false,
         Quaternion::FromAxisAngle(1.5707964f, Float3(0.0f, 0.0f, 1.0f)), x},
        {"rod along x across its length", false, Quaternion(), z},
        {"turned disc about its axis", true,
         Quaternion::FromAxisAngle(0.7f, Float3(1.0f, 2.0f, 0.5f).NormalizedOrSelf()), z},
        {"turned disc across its axis", true,
         Quaternion::FromAxisAngle(2.1f, Float3(-0.3f, 1.0f, 0.8f).NormalizedOrSelf()), x},
    };
    for (const Spinner& spinner : spinners) {
        RigidBody* body = Body(Float3());
        body->SetOrientation(spinner.turn);
        if (spinner.disc) {
            auto* disc = tree_.Make<CollisionCylinder>("disc");
            disc->SetCylinderRadius(0.5f);
            disc->SetLength(0.1f);
            disc->AttachAsLast(body);
        } else {
            Box(body, Float3(1.0f, 0.1f, 0.1f));
        }
        const Float3 axis = body->LocalToWorldDirection(spinner.localAxis);
        // The iterative step's gyroscopic term is explicit: at a radian a step it would grow
        // any wobble of the spin.
        const float speed = GetParam() == PhysicsIterative ? 10.0f : 100.0f;
        body->SetAngularVelocity(axis * speed);
        Run(100);
        // 0.998 of the spin kept each step: 81.86 % after a second.
        const Float3 spin = body->GetAngularVelocity();
        EXPECT_NEAR(spin.Dot(axis), speed * std::pow(0.998f, 100.0f), speed * 5e-4f)
            << spinner.name;
        EXPECT_LT((spin - axis * spin.Dot(axis)).Length(), speed * 5e-4f) << spinner.name;
        body->Delete();
    }
}

TEST_P(PhysicsWorldMethods, ASphereAndABoxRestOnThePlaneWithoutDrift) {
    Floor();
    RigidBody* ball = Ball(Float3(-3.0f, 0.5f, 0.0f), 0.5f);
    RigidBody* box = BoxBody(Float3(3.0f, 0.5f, 0.0f));
    const float limit = world_->GetContactMinDepth() + 0.001f;
    for (int step = 1; step <= 1000; ++step) {
        Run(1);
        for (RigidBody* body : {ball, box}) {
            const Float3 p = body->GetPosition();
            ASSERT_LE(0.5f - p.y, limit) << step;
            ASSERT_GE(0.5f - p.y, -1e-3f) << step;
            if (step >= 200) {
                ASSERT_LT(body->GetLinearVelocity().Length(), 1e-3f) << step;
            }
        }
    }
    EXPECT_NEAR(ball->GetPosition().x, -3.0f, 1e-3f);
    EXPECT_NEAR(box->GetPosition().x, 3.0f, 1e-3f);
    EXPECT_NEAR(box->GetPosition().z, 0.0f, 1e-3f);
}

TEST_P(PhysicsWorldMethods, ABodyOfADerivedClassRestsOnThePlaneAsAPlainOneDoes) {
    Floor();
    RigidBody* plain = BoxBody(Float3(-3.0f, 0.6f, 0.0f));
    auto* derived = tree_.Make<RigidStruct>("struct");
    derived->SetPosition(Float3(3.0f, 0.6f, 0.0f));
    derived->SetWorld(world_);
    Box(derived, Float3(1.0f, 1.0f, 1.0f));
    Run(300);
    EXPECT_GT(world_->GetContactCount(), 4);
    EXPECT_NEAR(derived->GetPosition().y, plain->GetPosition().y, 1e-3f);
    EXPECT_NEAR(derived->GetPosition().y, 0.5f, world_->GetContactMinDepth() + 0.001f);
}

TEST_P(PhysicsWorldMethods, AStackOfBoxesStandsStill) {
    Floor();
    std::vector<RigidBody*> stack;
    // Each contact settles at the depth where push-out begins.
    const float depth = world_->GetContactMinDepth();
    for (int i = 0; i < 3; ++i) {
        const float layer = static_cast<float>(i);
        stack.push_back(BoxBody(Float3(0.0f, 0.5f + layer - depth * (layer + 1.0f), 0.0f)));
    }
    const Float3 start = stack.back()->GetPosition();
    // The iterative solve is approximate: its stack settles a little lower.
    const float bound = Exact() ? 1e-3f : 1e-2f;
    for (int second = 1; second <= 10; ++second) {
        Run(100);
        ASSERT_LT((stack.back()->GetPosition() - start).Length(), bound) << second;
    }
}

TEST_P(PhysicsWorldMethods, TheContactPoolGrowsPastItsFirstSizeAndStopsAllocating) {
    Floor();
    std::vector<RigidBody*> boxes;
    for (int i = 0; i < 100; ++i) {
        boxes.push_back(
            BoxBody(Float3(static_cast<float>(i % 10) * 2.0f, 0.5f, static_cast<float>(i / 10) * 2.0f)));
    }
    Run(20);
    EXPECT_GT(world_->GetContactCount(), 256);
    const size_t pool = world_->GetContactPoolSize();
    Run(80);
    EXPECT_EQ(world_->GetContactPoolSize(), pool);
    for (RigidBody* box : boxes) {
        ASSERT_GT(box->GetPosition().y, 0.5f - world_->GetContactMinDepth() - 0.001f);
    }
}

TEST_P(PhysicsWorldMethods, CollidingBodiesKeepMomentumWithoutGravity) {
    world_->SetGravity(0.0f);
    struct Case {
        bool boxes;
    };
    for (const Case& c : {Case{false}, Case{true}}) {
        RigidBody* a = c.boxes ? BoxBody(Float3(-2.0f, 0.0f, 0.0f)) : Ball(Float3(-2.0f, 0.0f, 0.0f), 0.5f);
        RigidBody* b = c.boxes ? BoxBody(Float3(2.0f, 0.3f, 0.1f)) : Ball(Float3(2.0f, 0.3f, 0.1f), 0.5f);
        a->SetLinearVelocity(Float3(3.0f, 0.0f, 0.2f));
        b->SetLinearVelocity(Float3(-1.0f, 0.0f, 0.0f));
        const float m = a->GetMass();
        auto momentum = [&] { return a->GetLinearVelocity() * m + b->GetLinearVelocity() * m; };
        const Float3 before = momentum();
        Run(200);
        EXPECT_LT((momentum() - before).Length(), 1e-5f * before.Length()) << c.boxes;
        EXPECT_LT(a->GetLinearVelocity().x, 3.0f) << c.boxes; // they met
        a->SetWorld(nullptr);
        b->SetWorld(nullptr);
        a->Delete();
        b->Delete();
    }
}

// Fields a, b (the keys), mu, two unused, soft cfm, one unused, minimum depth: the surface
// table's layout.
std::string TypedSurfaces(const char* mu) {
    std::string text = "fields = 8\n";
    const char* types[] = {"int", "int", "float", "int", "int", "float", "int", "float"};
    for (int i = 0; i < 8; ++i) {
        // Appended piece by piece: gcc 12 warns falsely about a literal + std::to_string.
        const std::string n = std::to_string(i + 1);
        for (const char* piece : {"field", n.c_str(), "_name = \"f", n.c_str(), "\"\nfield",
                                  n.c_str(), "_type = ", types[i], "\n"}) {
            text += piece;
        }
    }
    text += "keys = 2\nkey1 = 1\nkey2 = 2\nkey1_max = 10\nkey2_max = 10\nkey_symmetry = true\n"
            "records = 1\nrecord\nf1 = 0\nf2 = 0\nf3 = ";
    return text + mu + "\nf4 = 0\nf5 = 0\nf6 = 0\nf7 = 0\nf8 = 0.01\nend\n";
}

TEST_P(PhysicsWorldMethods, FrictionHoldsABoxUntilThePushExceedsMuMgAsTheTablesSay) {
    FileSystem* previous = GetFileSystem();
    MemoryFileSystem files;
    SetFileSystem(&files);
    files.Add("contact.csv", "0;0;0.25;0;0;0;0;0.01\n");
    files.Add("broken.csv", "0;0;none\n");
    files.Add("contact.db", TypedSurfaces("0.25"));
    Floor();
    // A slab, not a cube: a sliding cube with mu 1 is on the edge of tipping over.
    RigidBody* box = BoxBody(Float3(0.0f, 0.25f, 0.0f), Float3(1.0f, 0.5f, 1.0f));
    Run(50);
    const float m = box->GetMass();
    const float g = world_->GetGravity();
    struct Case {
        const char* table;
        float push; // in units of m g
        float mu;
    };
    for (const Case& c : {Case{"", 0.8f, 1.0f}, Case{"", 1.5f, 1.0f},
                          Case{"contact.csv", 0.5f, 0.25f}, Case{"contact.db", 0.5f, 0.25f},
                          Case{"broken.csv", 0.5f, 1.0f}}) {
        world_->SetContactDbName(c.table);
        box->SetLinearVelocity(Float3());
        const float x = box->GetPosition().x;
        for (int i = 0; i < 100; ++i) {
            box->AddForce(Float3(c.push * m * g, 0.0f, 0.0f));
            Run(1);
        }
        const float moved = box->GetPosition().x - x;
        if (c.push > c.mu) {
            // a = (F - mu m g) / m over one second.
            EXPECT_NEAR(moved, 0.5f * (c.push - c.mu) * g, 0.1f * (c.push - c.mu) * g) << c.table;
        } else {
            EXPECT_LT(std::fabs(moved), 1e-3f) << c.table;
        }
    }
    world_->SetContactDbName("");
    SetFileSystem(previous);
}

TEST_F(PhysicsWorld, EventsReachTheirListenersWithTheirWords) {
    world_->SetGravity(0.0f);
    auto* listener = tree_.MakeWithId<EventListener>("listener");
    auto* child = tree_.Make<EventListener>("child", listener);
    world_->SetWitness({listener->GetId()});
    // Two solid balls meeting head on.
    RigidBody* a = Ball(Float3(-0.45f, 0.0f, 0.0f), 0.5f);
    RigidBody* b = Ball(Float3(0.45f, 0.0f, 0.0f), 0.5f);
    a->SetLinearVelocity(Float3(1.0f, 0.0f, 0.0f));
    auto* ballA = static_cast<CollisionVolume*>(a->GetFirstChild());
    auto* ballB = static_cast<CollisionVolume*>(b->GetFirstChild());
    ballA->ChangeId(TheIdMap().GetFreeLocalId(0));
    ballB->ChangeId(TheIdMap().GetFreeLocalId(0));
    Run(1);
    ASSERT_EQ(HeardEvents().size(), 2u); // the listener and its child
    const Heard& collision = HeardEvents()[0];
    EXPECT_EQ(collision.method, "collision");
    ASSERT_EQ(collision.words.size(), 11u);
    EXPECT_EQ(std::minmax(collision.words[0], collision.words[1]),
              std::minmax(ballA->GetId(), ballB->GetId()));
    EXPECT_NEAR(WordToFloat(collision.words[2]), 0.0f, 1e-3f); // mean point x
    EXPECT_NEAR(std::fabs(WordToFloat(collision.words[5])), 1.0f, 1e-4f); // normal x
    EXPECT_GT(std::fabs(WordToFloat(collision.words[8])), 0.0f); // normal speed
    EXPECT_NEAR(WordToFloat(collision.words[9]), 0.0f, 1e-4f);  // tangential speed
    EXPECT_EQ(HeardEvents()[1].words, collision.words);
    (void)child;
    for (RigidBody* body : {a, b}) {
        body->SetWorld(nullptr);
        body->Delete();
    }

    // Two triggers, then a probe over a solid ball.
    HeardEvents().clear();
    world_->SetWitness({0});
    auto* t1 = Sensor(Float3(0.0f, 10.0f, 0.0f), CollTrigger);
    auto* t2 = Sensor(Float3(0.5f, 10.0f, 0.0f), CollTrigger);
    t1->SetWitness({listener->GetId()});
    auto* probe = Sensor(Float3(0.0f, -10.0f, 0.0f), CollProbe | CollSolid);
    probe->SetWitness({listener->GetId()});
    RigidBody* target = Ball(Float3(0.9f, -10.0f, 0.0f), 0.5f);
    auto* targetBall = static_cast<CollisionVolume*>(target->GetFirstChild());
    targetBall->ChangeId(TheIdMap().GetFreeLocalId(0));
    Run(1);
    bool trig = false;
    bool probed = false;
    for (const Heard& heard : HeardEvents()) {
        if (heard.method == "trig") {
            trig = true;
            EXPECT_EQ(std::minmax(heard.words[0], heard.words[1]),
                      std::minmax(t1->GetId(), t2->GetId()));
        } else if (heard.method == "probe") {
            probed = true;
            EXPECT_EQ(heard.words[0], probe->GetId());
            EXPECT_EQ(heard.words[1], targetBall->GetId());
            EXPECT_NEAR(WordToFloat(heard.words[2]), 0.1f, 1e-3f);
        }
    }
    EXPECT_TRUE(trig);
    EXPECT_TRUE(probed);
    EXPECT_EQ(world_->GetContactCount(), 0); // probes and triggers make no joints
}

TEST_F(PhysicsWorld, AMethodLargerThanTheBlockIsSkippedWithALogLine) {
    world_->SetGravity(0.0f);
    auto* greedy = tree_.MakeWithId<GreedyListener>("greedy");
    world_->SetWitness({greedy->GetId()});
    Ball(Float3(-0.45f, 0.0f, 0.0f), 0.5f);
    Ball(Float3(0.45f, 0.0f, 0.0f), 0.5f);
    CapturingLogSink log;
    Run(1);
    EXPECT_TRUE(HeardEvents().empty());
    EXPECT_TRUE(log.Contains("collision"));
}

// Deletes the world from inside its own dispatch.
class WorldBreaker : public TestClass<WorldBreaker, Node> {
public:
    static constexpr const char* Name = "PhysicsWorldBreaker";
    static inline PhysicsMaster* world = nullptr;
    static void Declare(ClassInfo& info) {
        info.AddMethod("collision", "(int, int)", BindBlockMethod<&WorldBreaker::Break>(),
                       MethodScript);
    }
    void Break(uint32_t*) {
        if (world) {
            world->Delete();
            world = nullptr;
        }
    }
};

TEST_F(PhysicsWorld, AHandlerMayDeleteTheWorldThatCallsIt) {
    world_->SetGravity(0.0f);
    auto* breaker = tree_.MakeWithId<WorldBreaker>("breaker");
    world_->SetWitness({breaker->GetId()});
    Ball(Float3(-0.45f, 0.0f, 0.0f), 0.5f);
    Ball(Float3(0.45f, 0.0f, 0.0f), 0.5f);
    WorldBreaker::world = world_;
    world_->Update(world_->GetTimestep() * 3.5f, UpdateRunning);
    EXPECT_EQ(WorldBreaker::world, nullptr);
}

int enters = 0;
int leaves = 0;
uint32_t lastLeaveArgument = 1;

class TouchCounter : public TestClass<TouchCounter, Node> {
public:
    static constexpr const char* Name = "PhysicsTouchCounter";
    int GetInputCount() const override { return 2; }
    void ReceiveEvent(const EventRecord& event) override {
        if (event.target.GetPort() == 0) {
            ++enters;
        } else {
            ++leaves;
            lastLeaveArgument = event.argument.GetId();
        }
    }
};

TEST_F(PhysicsWorld, EnterAndLeaveFireOncePerTouchEvenWithoutDynamics) {
    for (int32_t method : {PhysicsLcp, PhysicsOff}) {
        enters = leaves = 0;
        world_->SetMethod(method);
        world_->SetGravity(0.0f);
        auto* counter = tree_.MakeWithId<TouchCounter>("counter");
        auto* area = Sensor(Float3(), CollTrigger);
        EntityRef enter;
        enter.InitFromId(counter->GetId());
        area->SetPortValue(0, enter);
        EntityRef leave;
        leave.InitFromId(counter->GetId() | (1u << PortShift));
        area->SetPortValue(1, leave);
        auto* visitor = Sensor(Float3(5.0f, 0.0f, 0.0f), CollTrigger);
        auto* listener = tree_.MakeWithId<EventListener>("listener");
        area->SetWitness({listener->GetId()});
        HeardEvents().clear();
        for (float x : {0.5f, 0.4f, 0.3f, 5.0f, 5.0f, 0.5f, 0.5f}) {
            static_cast<Pivot*>(visitor->GetParent())->SetPosition(Float3(x, 0.0f, 0.0f));
            world_->Update(world_->GetTimestep() * 1.5f, UpdateRunning);
        }
        EXPECT_EQ(enters, 2) << method;
        EXPECT_EQ(leaves, 1) << method;
        // Without dynamics the trig events wait for a dispatch.
        EXPECT_EQ(HeardEvents().empty(), method == PhysicsOff) << method;
        // Deleting the partner ends the touch: the survivor hears it, about no one.
        visitor->GetParent()->Delete();
        world_->Update(world_->GetTimestep() * 1.5f, UpdateRunning);
        EXPECT_EQ(leaves, 2) << method;
        EXPECT_EQ(lastLeaveArgument, 0u) << method;
        area->GetParent()->Delete();
        counter->Delete();
        listener->Delete();
    }
}

// A joint that is not a contact: it makes no rows until joint types exist.
class LinkJoint : public Joint {
public:
    void GetInfo1(JointInfo1& info) override { info = {}; }
    void GetInfo2(JointInfo2&) override {}
    int32_t GetType() const override { return 1; }
};

TEST_F(PhysicsWorld, BodiesLinkedByAJointMakeNoContacts) {
    world_->SetGravity(0.0f);
    auto* listener = tree_.MakeWithId<EventListener>("listener");
    world_->SetWitness({listener->GetId()});
    RigidBody* a = Ball(Float3(-0.45f, 0.0f, 0.0f), 0.5f);
    RigidBody* b = Ball(Float3(0.45f, 0.0f, 0.0f), 0.5f);
    LinkJoint link;
    link.Attach(a, b);
    Run(1);
    EXPECT_EQ(world_->GetContactCount(), 0);
    EXPECT_TRUE(HeardEvents().empty());
    link.Detach();
    Run(1);
    EXPECT_EQ(world_->GetContactCount(), 1);
}

TEST_P(PhysicsWorldMethods, IdleBodiesGatherNoForcesAndWakeWithOneStepsVelocity) {
    world_->SetDamping(0.002f);
    world_->SetAngularDamping(0.002f);
    world_->SetIdleThreshold(0.001f);
    Floor();
    RigidBody* box = BoxBody(Float3(0.0f, 0.5f, 0.0f));
    box->SetBodyFlags(box->GetBodyFlags() | BodyAutoIdle);
    Run(1000);
    ASSERT_TRUE(box->HasBodyFlags(BodyIdle));
    EXPECT_EQ(box->GetForce().LengthSquared(), 0.0f);
    // An awake neighbour falling onto it pulls it in.
    RigidBody* ball = Ball(Float3(0.0f, 1.6f, 0.0f), 0.5f);
    Run(20);
    EXPECT_FALSE(box->HasBodyFlags(BodyIdle));
    EXPECT_LT(box->GetLinearVelocity().Length(), world_->GetGravity() * world_->GetTimestep() * 2.0f);
    (void)ball;
}

TEST_P(PhysicsWorldMethods, TwoWorldsKeepTheirOwnContactsAndOneMayGo) {
    Floor();
    RigidBody* mine = BoxBody(Float3(0.0f, 0.5f, 0.0f));
    auto* other = tree_.Make<PhysicsMaster>("other");
    auto* otherSpace = SweepSpace("otherspace", 2000);
    other->SetCollisionSpaceId({otherSpace->GetId()});
    Floor(otherSpace);
    RigidBody* otherBox = Body(Float3(5.0f, 0.5f, 0.0f));
    otherBox->SetWorld(other);
    auto* box = tree_.Make<CollisionBox>("box");
    box->SetSize(Float3(1.0f, 1.0f, 1.0f));
    box->AttachAsLast(otherBox);
    Joined(box, CollSolid, otherSpace);
    for (int i = 0; i < 20; ++i) {
        Run(1);
        other->Step(other->GetTimestep());
    }
    const int32_t contacts = world_->GetContactCount();
    EXPECT_GT(contacts, 0);
    EXPECT_GT(other->GetContactCount(), 0);
    other->Delete();
    Run(20);
    EXPECT_EQ(world_->GetContactCount(), contacts);
    EXPECT_NEAR(mine->GetPosition().y, 0.5f, world_->GetContactMinDepth() + 0.001f);
}

TEST_P(PhysicsWorldMethods, AHashSpaceCollidesAsASweepSpaceDoes) {
    auto* hash = tree_.MakeWithId<CollisionSpaceHash>("hash");
    world_->SetCollisionSpaceId({hash->GetId()});
    Floor(hash);
    RigidBody* body = Body(Float3(0.0f, 0.5f, 0.0f));
    Joined(Sphere(body, Float3(), 0.5f), CollSolid, hash);
    Run(300);
    EXPECT_EQ(world_->GetContactCount(), 1);
    EXPECT_NEAR(body->GetPosition().y, 0.5f, world_->GetContactMinDepth() + 0.001f);
}

TEST_P(PhysicsWorldMethods, WildValuesStepWithoutFault) {
    Floor();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float wild : {nan, inf, -inf, 3e38f}) {
        RigidBody* body = BoxBody(Float3(0.0f, 0.4f, 0.0f));
        body->SetLinearVelocity(Float3(wild, 0.0f, wild));
        body->SetAngularVelocity(Float3(0.0f, wild, 0.0f));
        RigidBody* ball = Ball(Float3(wild, wild, 0.0f), 0.5f);
        ball->SetMass(wild);
        Run(3);
        body->SetWorld(nullptr);
        ball->SetWorld(nullptr);
        body->Delete();
        ball->Delete();
    }
}

TEST_P(PhysicsWorldMethods, ABodyThatStopsBeingFiniteRestsAtItsLastFinitePoseAndIsNamedOnce) {
    Floor();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        void (*poison)(RigidBody&, float);
    };
    const Case cases[] = {
        {"speed", [](RigidBody& b, float v) { b.SetLinearVelocity(Float3(v, 0.0f, 0.0f)); }},
        {"spin", [](RigidBody& b, float v) { b.SetAngularVelocity(Float3(0.0f, 0.0f, v)); }},
        {"place", [](RigidBody& b, float v) { b.SetPosition(Float3(0.0f, v, 0.0f)); }},
        {"push", [](RigidBody& b, float v) { b.AddForce(Float3(0.0f, v, 0.0f)); }},
    };
    for (const Case& c : cases) {
        for (float wild : {nan, inf, -inf}) {
            // Resting on the floor, and a falling ball it touches in the same island.
            RigidBody* poisoned = Ball(Float3(0.0f, 0.5f, 0.0f), 0.5f);
            poisoned->SetName(c.name);
            RigidBody* neighbour = Ball(Float3(0.0f, 1.45f, 0.0f), 0.5f);
            Run(20);
            const Float3 rest = poisoned->GetPosition();
            CapturingLogSink log;
            for (int time = 0; time < 2; ++time) {
                c.poison(*poisoned, wild);
                Run(1);
                EXPECT_TRUE(poisoned->GetPosition().IsFinite()) << c.name << wild;
            }
            Run(50);
            // Built by appending: gcc 12 warns falsely about a literal + std::to_string.
            std::string label = c.name;
            label += ' ';
            label += std::to_string(wild);
            EXPECT_LT((poisoned->GetPosition() - rest).Length(), 0.02f) << label;
            EXPECT_TRUE(poisoned->GetLinearVelocity().IsFinite()) << label;
            EXPECT_LT(neighbour->GetLinearVelocity().Length(), 0.1f) << label; // went on to rest
            EXPECT_TRUE(neighbour->GetPosition().IsFinite()) << label;
            ASSERT_EQ(log.Lines().size(), 1u) << label;
            std::string quoted = "'";
            quoted += c.name;
            quoted += '\'';
            EXPECT_TRUE(log.Contains(quoted)) << log.Lines()[0].text;
            for (RigidBody* body : {poisoned, neighbour}) {
                body->SetWorld(nullptr);
                body->Delete();
            }
        }
    }
}

TEST_P(PhysicsWorldMethods, ANonFiniteBodyLeavesTheRestOfItsIslandMoving) {
    // Two touching balls falling together: one island.
    RigidBody* poisoned = Ball(Float3(0.0f, 10.0f, 0.0f), 0.5f);
    RigidBody* neighbour = Ball(Float3(0.9f, 10.0f, 0.0f), 0.5f);
    Run(2);
    ASSERT_GT(world_->GetContactCount(), 0);
    CapturingLogSink log;
    poisoned->SetLinearVelocity(Float3(std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f));
    const float height = neighbour->GetPosition().y;
    Run(10);
    EXPECT_LT(neighbour->GetPosition().y, height - 0.01f);
    EXPECT_LT(poisoned->GetPosition().y, height - 0.01f); // at rest for a step, then falling
    EXPECT_EQ(log.Lines().size(), 1u);
}

TEST_P(PhysicsWorldMethods, AnAbsurdBodyIsResetAndNamedOnceForItsCauseAndItsNeighboursGoOn) {
    Floor();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* cause;
        float value;
        void (*poison)(RigidBody&, float);
    };
    auto speed = [](RigidBody& b, float v) { b.SetLinearVelocity(Float3(v, 0.0f, 0.0f)); };
    auto spin = [](RigidBody& b, float v) { b.SetAngularVelocity(Float3(0.0f, v, 0.0f)); };
    auto place = [](RigidBody& b, float v) { b.SetPosition(Float3(v, 3.0f, 0.0f)); };
    auto push = [](RigidBody& b, float v) { b.AddForce(Float3(0.0f, v, 0.0f)); };
    auto twist = [](RigidBody& b, float v) { b.AddTorque(Float3(v, 0.0f, 0.0f)); };
    const Case cases[] = {
        {"speed", 1e38f, speed},  {"speed", inf, speed},      {"spin", 1e38f, spin},
        {"position", nan, place}, {"position", 1e30f, place}, {"force", nan, push},
        {"force", inf, push},     {"force", 1e38f, push},     {"torque", inf, twist},
    };
    for (const Case& c : cases) {
        for (const bool joined : {false, true}) {
            SCOPED_TRACE(::testing::Message() << c.cause << ' ' << c.value << ' ' << joined);
            // Side by side in mid-air, touching or joined where they meet: one island.
            RigidBody* poisoned = BoxBody(Float3(2.0f, 3.0f, 0.0f));
            poisoned->SetName("poisoned");
            RigidBody* neighbour = BoxBody(Float3(2.99f, 3.0f, 0.0f));
            std::unique_ptr<BallJoint> joint;
            if (joined) {
                auto* anchorA = tree_.Make<Pivot>("anchor", poisoned);
                anchorA->SetPosition(Float3(0.495f, 0.0f, 0.0f));
                auto* anchorB = tree_.Make<Pivot>("anchor", neighbour);
                anchorB->SetPosition(Float3(-0.495f, 0.0f, 0.0f));
                joint = std::make_unique<BallJoint>();
                joint->SetAnchors(anchorA, anchorB);
                joint->Attach(poisoned, neighbour);
            }
            CapturingLogSink log;
            c.poison(*poisoned, c.value);
            Run(1);
            // Put back where it was placed, at rest: it has not stepped yet.
            EXPECT_NEAR(poisoned->GetPosition().x, 2.0f, 0.01f);
            EXPECT_GT(poisoned->GetPosition().y, 2.9f);
            Run(300);
            for (RigidBody* body : {poisoned, neighbour}) {
                EXPECT_NEAR(body->GetPosition().y, 0.5f, 0.05f); // fell and rests
                EXPECT_LT(body->GetLinearVelocity().Length(), 0.1f);
            }
            ASSERT_EQ(log.Lines().size(), 1u);
            std::string named = "RigidBody 'poisoned': its ";
            named += c.cause;
            EXPECT_TRUE(log.Contains(named)) << log.Lines()[0].text;
            joint.reset();
            for (RigidBody* body : {poisoned, neighbour}) {
                body->SetWorld(nullptr);
                body->Delete();
            }
        }
    }
}

TEST_P(PhysicsWorldMethods, ACoordinateNeverGivenSoundlyGoesToZeroAndTheBodyFallsFromThere) {
    // As a scene that writes "nan" for x loads it: the body has held no sound place yet.
    RigidBody* body = Ball(Float3(std::numeric_limits<float>::quiet_NaN(), 3.0f, 0.0f), 0.5f);
    CapturingLogSink log;
    Run(10);
    EXPECT_EQ(body->GetPosition().x, 0.0f);
    EXPECT_LT(body->GetPosition().y, 3.0f); // falling, its mass measured again where it is
    EXPECT_GT(body->GetPosition().y, 2.5f);
    EXPECT_TRUE(body->GetInertia().IsFinite());
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_TRUE(log.Contains("its position is not a finite number")) << log.Lines()[0].text;
}

TEST_P(PhysicsWorldMethods, AFastBodyWithinTheLimitsKeepsItsMotion) {
    world_->SetGravity(0.0f);
    RigidBody* body = Ball(Float3(), 0.5f);
    const Float3 speed(0.0f, 0.0f, RigidBody::MaxSpeed * 0.9f);
    body->SetLinearVelocity(speed);
    body->SetAngularVelocity(Float3(RigidBody::MaxSpin * 0.9f, 0.0f, 0.0f));
    CapturingLogSink log;
    Run(2);
    EXPECT_EQ(body->GetLinearVelocity().z, speed.z);
    EXPECT_GT(body->GetPosition().z, speed.z * world_->GetTimestep());
    EXPECT_TRUE(log.Lines().empty()) << log.Lines()[0].text;
}

TEST_F(PhysicsWorld, AnIslandTooLargeForTheExactStepIsSteppedIterativelyAndNamedOnce) {
    world_->SetMethod(PhysicsLcp);
    world_->SetGravity(0.0f);
    // A row of boxes, each 3 cm into the next: past the rows the exact step takes, and past the
    // bodies it takes when it solves over them instead.
    const int count = MaxBodySpaceBodies + 1;
    std::vector<RigidBody*> boxes;
    for (int i = 0; i < count; ++i) {
        boxes.push_back(BoxBody(Float3(0.97f * static_cast<float>(i), 0.0f, 0.0f)));
    }
    CapturingLogSink log;
    Run(1);
    const int64_t rows = 3 * static_cast<int64_t>(world_->GetContactCount());
    ASSERT_GT(rows, MaxDenseRows);
    ASSERT_EQ(log.Lines().size(), 1u);
    std::string size = std::to_string(count);
    size += " bodies and ";
    size += std::to_string(rows);
    size += " constraint rows";
    EXPECT_TRUE(log.Contains(size)) << log.Lines()[0].text;
    // No dense matrix of that size was made.
    EXPECT_LT(world_->GetScratch().Capacity(), sizeof(float) * rows * rows);
    // The iterative step pushes them apart toward the contacts' minimum depth (the islands they
    // fall into on the way may go past the exact solve's work), and the world named the large
    // island once. Pushed out by moving them, a row this long parts from its ends inward, in
    // about two seconds.
    Run(200);
    EXPECT_EQ(std::count_if(log.Lines().begin(), log.Lines().end(),
                            [](const auto& line) {
                                return line.text.find("larger than the exact step takes") !=
                                       std::string::npos;
                            }),
              1);
    for (size_t i = 1; i < boxes.size(); ++i) {
        EXPECT_GT(boxes[i]->GetPosition().x - boxes[i - 1]->GetPosition().x, 0.975f) << i;
    }
}

TEST_F(PhysicsWorld, ACrowdTooCostlyForTheExactSolveIsSteppedIterativelyAndSummedUpOnceASecond) {
    world_->SetMethod(PhysicsLcp);
    world_->SetGravity(0.0f);
    // Forty balls within 0.3 m of one spot, each moving into the crowd: 780 touching pairs of
    // three rows, within the bodies the exact step solves over but past its work, each solve a
    // factor of their 240 dense unknowns. (Sunk and still, they would only be pushed out.)
    const int count = 40;
    const int rows = 3 * count * (count - 1) / 2;
    const std::vector<RigidBody*> balls = BallsOnOneSpot(count);
    CrowdInward(balls);
    CapturingLogSink log;
    Run(1);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_TRUE(log.Contains("bound of work (bodies 40, rows " + std::to_string(rows)))
        << log.Lines()[0].text;
    EXPECT_LE(LastExactSolveWork, ExactWorkPerRow * rows);
    // Crowded again every step for a second and a half: one more line, a second after the first.
    int summedUpAt = -1;
    for (int step = 1; step <= 150; ++step) {
        CrowdInward(balls);
        Run(1);
        EXPECT_LE(LastExactSolveWork, ExactWorkPerRow * rows);
        ASSERT_LE(log.Lines().size(), 2u) << step;
        if (summedUpAt < 0 && log.Lines().size() == 2) {
            summedUpAt = step;
        }
    }
    EXPECT_NEAR(summedUpAt, 100, 1);
    EXPECT_TRUE(log.Contains("more island steps went past the exact solve's bound"))
        << log.Lines()[1].text;
}

// The same crowd every step: each exact solve goes past its bound, so the island waits twice as
// long after each before it is tried again (it tried every step, each try lost work), and is
// stepped iteratively meanwhile.
TEST_F(PhysicsWorld, AnIslandWhoseExactSolvesKeepGoingPastTheBoundWaitsLongerBeforeEachTry) {
    world_->SetMethod(PhysicsLcp);
    world_->SetGravity(0.0f);
    const int count = 40;
    const std::vector<RigidBody*> balls = BallsOnOneSpot(count);
    CapturingLogSink log;
    // Each try sets when the next is due.
    std::vector<uint32_t> tried;
    uint32_t due = 0;
    for (int step = 1; step <= 140; ++step) {
        CrowdInward(balls);
        Run(1);
        if (balls[0]->GetExactRetryStep() != due) {
            due = balls[0]->GetExactRetryStep();
            tried.push_back(world_->GetStepCounter());
        }
        EXPECT_TRUE(balls[0]->WasOverExactBound()) << step;
    }
    const uint32_t first = tried.empty() ? 0 : tried[0];
    std::vector<uint32_t> expected;
    for (uint32_t wait : {0u, 1u, 3u, 7u, 15u, 31u, 63u, 95u, 127u}) {
        expected.push_back(first + wait);
    }
    EXPECT_EQ(tried, expected);
    EXPECT_EQ(balls[0]->GetExactFailures(), MaxExactFailures);
}

// The waits tumbling earned end once every body has calmed: the crowd, slowed below the calm
// speed, is tried the very next step with the whole bound, and should that go past it as well,
// waits afresh from one step.
TEST_F(PhysicsWorld, AnIslandThatCalmsIsTriedAtOnceWhateverItsTumblingEarned) {
    world_->SetMethod(PhysicsLcp);
    world_->SetGravity(0.0f);
    const int count = 40;
    const int rows = 3 * count * (count - 1) / 2;
    const std::vector<RigidBody*> balls = BallsOnOneSpot(count);
    for (int step = 0; step < 64; ++step) {
        CrowdInward(balls);
        Run(1);
    }
    ASSERT_EQ(balls[0]->GetExactFailures(), MaxExactFailures);
    ASSERT_GT(balls[0]->GetExactRetryStep(), world_->GetStepCounter() + 1);
    std::vector<uint32_t> tried;
    uint32_t due = balls[0]->GetExactRetryStep();
    const uint32_t calmFrom = world_->GetStepCounter() + 1;
    for (int step = 0; step < 12; ++step) {
        CrowdInward(balls, 0.5f * CalmSpeed);
        Run(1);
        if (balls[0]->GetExactRetryStep() != due) {
            due = balls[0]->GetExactRetryStep();
            tried.push_back(world_->GetStepCounter());
            EXPECT_GT(LastExactSolveWork, ExactWorkPerRow / 4 * rows) << "the whole bound";
        }
    }
    EXPECT_EQ(tried, (std::vector<uint32_t>{calmFrom, calmFrom + 1, calmFrom + 3, calmFrom + 7}));
    EXPECT_EQ(balls[0]->GetExactFailures(), 4);
}

// Balls piled on one spot, far more pairs than a space holds, then a static floor put under
// them: the pairs that hold the balls up are kept before the pairs of two balls, so every ball's
// pair with the floor is tested (a full cache left them all out, and the balls fell through).
TEST_F(PhysicsWorld, AFullSpaceKeepsThePairsWithTheFloor) {
    CapturingLogSink log;
    constexpr int Count = 150;
    for (int i = 0; i < Count; ++i) {
        Ball(Float3(0.0f, 0.5f, 0.0f), 0.5f);
    }
    space_->Prepare();
    const uint32_t moving = space_->GetPairLimit(false);
    ASSERT_EQ(space_->GetUsedPairCount(), moving);
    CollisionBox* floor = tree_.Make<CollisionBox>("floor");
    floor->SetSize(Float3(40.0f, 1.0f, 40.0f));
    floor->SetPosition(Float3(0.0f, -0.5f, 0.0f));
    Joined(floor, CollSolid | CollStatic);
    space_->Prepare();
    EXPECT_EQ(space_->GetUsedPairCount(), moving + Count);
    EXPECT_LE(space_->GetUsedPairCount(), space_->GetPairLimit(true));
    int withTheFloor = 0;
    for (uint32_t i = 0; i < space_->GetUsedPairCount(); ++i) {
        const CollisionPair& pair = space_->GetUsedPair(i);
        withTheFloor += pair.firstVolume == floor || pair.secondVolume == floor ? 1 : 0;
    }
    EXPECT_EQ(withTheFloor, Count);
    EXPECT_EQ(log.Lines().size(), 1u);
    EXPECT_TRUE(log.Contains("more than " + std::to_string(moving) + " pairs overlap"));
}

// Joints and contacts at rest must not gain energy, whichever method steps them and however
// many rows their island has.
struct HangingChain {
    int links;
    int32_t method;
};

class HangingChains : public PhysicsWorld, public ::testing::WithParamInterface<HangingChain> {};

INSTANTIATE_TEST_SUITE_P(Lengths, HangingChains,
                         ::testing::Values(HangingChain{100, PhysicsLcp},
                                           HangingChain{100, PhysicsIterative},
                                           HangingChain{400, PhysicsLcp},
                                           HangingChain{400, PhysicsIterative}),
                         [](const ::testing::TestParamInfo<HangingChain>& info) {
                             return std::to_string(info.param.links) +
                                    (info.param.method == PhysicsIterative ? "Iterative" : "Exact");
                         });

TEST_P(HangingChains, AChainHungFromAStaticLinkHangsStill) {
    world_->SetMethod(GetParam().method);
    // Ball-jointed spheres one metre apart, straight down from a static link: already at rest.
    RigidBody* top = Body(Float3());
    Sphere(top, Float3(), 0.2f);
    top->SetState(BodyStatic);
    std::vector<std::unique_ptr<BallJoint>> joints;
    std::vector<RigidBody*> links;
    RigidBody* previous = top;
    for (int i = 1; i <= GetParam().links; ++i) {
        RigidBody* link = Body(Float3(0.0f, -static_cast<float>(i), 0.0f));
        Sphere(link, Float3(), 0.2f);
        auto* upper = tree_.Make<Pivot>("upper", link);
        upper->SetPosition(Float3(0.0f, 0.5f, 0.0f));
        auto* lower = tree_.Make<Pivot>("lower", previous);
        lower->SetPosition(Float3(0.0f, -0.5f, 0.0f));
        auto& joint = joints.emplace_back(std::make_unique<BallJoint>());
        joint->SetAnchors(upper, lower);
        joint->Attach(link, previous);
        links.push_back(link);
        previous = link;
    }
    Run(1000);
    float fastest = 0.0f;
    for (RigidBody* link : links) {
        fastest = std::max(fastest, link->GetLinearVelocity().Length());
    }
    EXPECT_LT(fastest, 0.1f);
}

// A stack and a pyramid of unit boxes under the iterative method, each at the fewest sweeps
// that hold it (a ten-box stack walks a few centimetres at the default 5).
struct RestingPile {
    const char* name;
    std::vector<int> rows; // boxes per layer, from the floor up
    int32_t iterations;
};

class RestingPiles : public PhysicsWorld, public ::testing::WithParamInterface<RestingPile> {};

INSTANTIATE_TEST_SUITE_P(Shapes, RestingPiles,
                         ::testing::Values(RestingPile{"TenBoxStack", std::vector<int>(10, 1), 40},
                                           RestingPile{"FifteenBoxPyramid", {5, 4, 3, 2, 1}, 5}),
                         [](const ::testing::TestParamInfo<RestingPile>& info) {
                             return std::string(info.param.name);
                         });

TEST_P(RestingPiles, APileRestsUnderTheIterativeMethodWithoutWalking) {
    world_->SetMethod(PhysicsIterative);
    world_->SetIterations(GetParam().iterations);
    world_->SetFrictionModel(3);
    Floor();
    const float depth = world_->GetContactMinDepth();
    const float gap = 0.02f;
    std::vector<RigidBody*> boxes;
    std::vector<Float3> places;
    const std::vector<int>& rows = GetParam().rows;
    for (size_t layer = 0; layer < rows.size(); ++layer) {
        const float y = 0.5f + static_cast<float>(layer) - depth * (layer + 1.0f);
        for (int i = 0; i < rows[layer]; ++i) {
            const float x = (static_cast<float>(i) - 0.5f * (rows[layer] - 1)) * (1.0f + gap);
            boxes.push_back(BoxBody(Float3(x, y, 0.0f)));
            places.push_back(boxes.back()->GetPosition());
        }
    }
    for (int second = 1; second <= 30; ++second) {
        Run(100);
        for (size_t i = 0; i < boxes.size(); ++i) {
            ASSERT_LT((boxes[i]->GetPosition() - places[i]).Length(), 0.01f)
                << "box " << i << " after " << second << " s";
        }
    }
}

TEST_F(PhysicsWorld, TheToolbarPausesAndStepsTheCurrentWorld) {
    auto button = [](const char* label) {
        for (const EditorToolbarButton& b : GetToolbarButtons()) {
            if (b.label == label && b.group == "Game") {
                return b;
            }
        }
        ADD_FAILURE() << label;
        return EditorToolbarButton{};
    };
    const EditorToolbarButton pause = button("Physics pause");
    const EditorToolbarButton step = button("Physics step");
    ASSERT_TRUE(pause.handler && step.handler);
    EXPECT_TRUE(pause.toggle);
    GameRunning = true;
    EXPECT_EQ(pause.handler(pause.value, ToolbarIsChecked), 0);
    EXPECT_EQ(step.handler(step.value, ToolbarIsEnabled), 0);
    pause.handler(pause.value, ToolbarExecute);
    EXPECT_EQ(world_->GetMethod(), PhysicsLcpSingleStep);
    EXPECT_EQ(pause.handler(pause.value, ToolbarIsChecked), 1);
    EXPECT_EQ(step.handler(step.value, ToolbarIsEnabled), 1);
    step.handler(step.value, ToolbarExecute);
    EXPECT_TRUE(world_->IsStepRequested());
    GameRunning = false;
    EXPECT_EQ(step.handler(step.value, ToolbarIsEnabled), 0);
    pause.handler(pause.value, ToolbarExecute);
    EXPECT_EQ(world_->GetMethod(), PhysicsLcp);
}

TEST_F(PhysicsWorld, ACylinderRollsDownAnInclineAtTwoThirdsOfGSinTheta) {
    // The incline's normal leans 20 degrees toward +x, so downhill runs along +x; the
    // cylinder's axis (its Z) lies across the slope.
    const float theta = 0.34906585f;
    const Float3 normal(std::sin(theta), std::cos(theta), 0.0f);
    const Float3 downhill(std::cos(theta), -std::sin(theta), 0.0f);
    auto* incline = tree_.Make<CollisionPlane>("incline");
    incline->SetWorldSide(-1); // the node's Z axis
    incline->SetOrientation(Quaternion::FromAxisAngle(1.5707964f, Float3(0, 0, 1).Cross(normal)));
    ASSERT_NEAR(incline->GetNormal().Dot(normal), 1.0f, 1e-5f);
    Joined(incline, CollSolid | CollStatic);
    const float radius = 0.5f;
    RigidBody* body = Body(normal * (radius - 0.001f));
    auto* cylinder = tree_.Make<CollisionCylinder>("cylinder");
    cylinder->SetCylinderRadius(radius);
    cylinder->SetLength(1.0f);
    cylinder->AttachAsLast(body);
    Joined(cylinder);
    Run(20);
    const float v0 = body->GetLinearVelocity().Dot(downhill);
    constexpr int Steps = 100;
    Run(Steps);
    const float v1 = body->GetLinearVelocity().Dot(downhill);
    const float a = (v1 - v0) / (Steps * world_->GetTimestep());
    const float expected = 2.0f / 3.0f * world_->GetGravity() * std::sin(theta);
    EXPECT_NEAR(a, expected, 0.03f * expected);
    // Rolling, not sliding: the contact line stays at rest.
    const float spin = body->GetAngularVelocity().z;
    EXPECT_NEAR(std::fabs(spin) * radius, v1, 0.03f * v1);
}

TEST_F(PhysicsWorld, ACapsuleOrABallDroppedAcrossALyingCylinderRestsOnIt) {
    Floor();
    // A log along Z, its top line at y = 1.
    auto* log = tree_.Make<CollisionCylinder>("log");
    log->SetCylinderRadius(0.5f);
    log->SetLength(4.0f);
    log->SetPosition(Float3(0, 0.5f, 0));
    Joined(log, CollSolid | CollStatic);
    // Across the log, apart along it, each 0.3 above it; both of radius 0.2.
    RigidBody* capsuleBody = Body(Float3(0, 1.5f, -1.0f));
    auto* capsule = tree_.Make<CollisionCapsule>("capsule");
    capsule->SetCapsuleRadius(0.2f);
    capsule->SetLength(1.0f);
    capsule->SetOrientation(Quaternion::FromAxisAngle(1.5707964f, Float3(0, 1, 0)));
    capsule->AttachAsLast(capsuleBody);
    Joined(capsule);
    RigidBody* ball = Ball(Float3(0, 1.5f, 1.0f), 0.2f);
    Run(300);
    for (auto [body, name] : {std::pair{capsuleBody, "capsule"}, std::pair{ball, "ball"}}) {
        // Resting sunk by the world's minimum depth.
        EXPECT_NEAR(body->GetWorldPosition().y, 1.2f - world_->GetContactMinDepth(), 0.002f)
            << name;
        EXPECT_LT(body->GetLinearVelocity().Length(), 0.05f) << name;
    }
}

TEST_F(PhysicsWorld, ACapsuleDroppedAcrossABlocksEdgeTouchesItOnlyOnItsSurface) {
    Floor();
    struct Case {
        const char* name;
        float tilt;   // of the block about an axis near Z
        float centre; // of the capsule, along its slant from the block's middle
        float lying;  // the capsule's height at the end, on the top or on the floor
        bool rests;   // on the top; off the top it may still roll
    };
    for (const Case& k : {Case{"level, its centre over the top", 0.0f, 0.9f, 1.2f, true},
                          Case{"tilted, its centre past the edge", 0.1f, 1.05f, 0.2f, false}}) {
        auto* block = tree_.Make<CollisionBox>("block");
        block->SetSize(Float3(2, 1, 2));
        block->SetPosition(Float3(0, 0.5f, 0));
        block->SetOrientation(
            Quaternion::FromAxisAngle(k.tilt, Float3(0.3f, 0, 1).NormalizedOrSelf()));
        Joined(block, CollSolid | CollStatic);
        // Of core 1.6 and radius 0.2, 0.15 above the top, across the edge near x = 1 at a slant.
        const float yaw = 0.3f;
        RigidBody* body = Body(Float3(k.centre * std::cos(yaw), 1.35f, k.centre * std::sin(yaw)));
        auto* capsule = tree_.Make<CollisionCapsule>("capsule");
        capsule->SetCapsuleRadius(0.2f);
        capsule->SetLength(1.6f);
        capsule->SetOrientation(Quaternion::FromAxisAngle(1.5707964f - yaw, Float3(0, 1, 0)));
        capsule->AttachAsLast(body);
        Joined(capsule);
        float beyond = 0.0f;
        for (int step = 0; step < 400; ++step) {
            Run(1);
            std::array<CollisionContact, 8> contacts;
            const int count = CollidePair(*capsule, *block, 8, contacts);
            for (int i = 0; i < count; ++i) {
                const Float3 p = contacts[static_cast<size_t>(i)].position * -1.0f;
                beyond = std::max(beyond, -block->GetPointDepth(p, nullptr));
            }
        }
        EXPECT_LT(beyond, 1e-3f) << k.name;
        // Sunk by no more than the world's minimum depth; a rolling one may not have got there.
        const float half = 0.5f * world_->GetContactMinDepth();
        EXPECT_NEAR(body->GetWorldPosition().y, k.lying - half, half + 0.002f) << k.name;
        if (k.rests) {
            EXPECT_LT(body->GetLinearVelocity().Length(), 0.05f) << k.name;
        }
        body->Delete();
        block->Delete();
    }
}

// Collision meshes need the render device the mesh tests make.
class PhysicsWorldMeshes : public PhysicsWorld {
protected:
    void SetUp() override {
        PhysicsWorld::SetUp();
        ASSERT_TRUE(device_.Create(0, nullptr, 16, 16)) << device_.GetErrorText();
        Mesh::RegisterClass();
        CollisionMesh::RegisterClass();
    }

    GpuRenderDevice device_{&SoftwareDevice::Create};
};

TEST_F(PhysicsWorldMeshes, ABallByAMeshBlocksEdgeRestsOnItsTopOrRollsOff) {
    Floor();
    Mesh* cube = GetMesh("block.obj", "_collision");
    test::BuildCube(*cube); // the unit cube from the origin
    struct Case {
        const char* name;
        float x;     // of the ball's centre; the top's edge is at x = 1
        float lying; // the ball's height at the end: on the top or on the floor
    };
    for (const Case& k : {Case{"its centre over the top", 0.9f, 1.2f},
                          Case{"its centre past the edge", 1.1f, 0.2f}}) {
        auto* block = tree_.Make<CollisionMesh>("block");
        block->SetMesh("block.obj");
        Joined(block, CollSolid | CollStatic);
        RigidBody* body = Body(Float3(k.x, 1.25f, 0.5f));
        CollisionSphere* ball = Joined(Sphere(body, Float3(), 0.2f));
        float beyond = 0.0f;
        for (int step = 0; step < 400; ++step) {
            Run(1);
            std::array<CollisionContact, 4> contacts;
            const int count = CollidePair(*block, *ball, 4, contacts);
            for (int i = 0; i < count; ++i) {
                const Float3 p = contacts[static_cast<size_t>(i)].position * -1.0f;
                beyond = std::max(beyond, -block->GetPointDepth(p, nullptr));
            }
        }
        EXPECT_LT(beyond, 1e-3f) << k.name;
        EXPECT_NEAR(body->GetWorldPosition().y, k.lying - world_->GetContactMinDepth(), 0.002f)
            << k.name;
        body->Delete();
        block->Delete();
    }
    cube->Release();
}

TEST(PhysicsRegistration, TheFlagsDecideWhatIsRegistered) {
    EXPECT_EQ(RegisterPhysicsClasses(0), 1);
    EXPECT_EQ(RegisterPhysicsClasses(1), 20);
}

} // namespace
} // namespace quarn::test
