// Chains and loops of joints as users build them: light capsule links with a heavy end, swung
// from level or hung straight down, and a bridge of planks between two posts. Each keeps its
// energy, holds its joints together and comes to rest where it should.
#include "collision/CollisionCapsule.h"
#include "core/math/Quaternion.h"
#include "physics/IslandStep.h"
#include "physics/IslandSubsteps.h"
#include "physics/JointTypes.h"
#include "tests/physics/PhysicsTestSupport.h"
#include "tests/support/CapturingLogSink.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace quarn::test {
namespace {

constexpr float Gravity = 10.0f;
constexpr float LinkLength = 0.5f;  // between the link's two anchors
constexpr float LinkRadius = 0.041f; // about 2.9 g at density 1
constexpr float EndSize = 0.5f;
// Turns a capsule's Z axis onto the world's X or Y axis, as a scene writes it.
const Quaternion AlongX(0.0f, 0.7071068f, 0.0f, 0.7071068f);
const Quaternion AlongY(0.7071068f, 0.0f, 0.0f, 0.7071068f);

enum class Kind { Ball, Hinge };

class JointedBodies : public PhysicsTest {
protected:
    void SetUp() override {
        PhysicsTest::SetUp();
        CollisionCapsule::RegisterClass();
        space_ = UseSweepSpace(2000);
        world_->SetDamping(0.0f);
        world_->SetAngularDamping(0.0f);
        world_->SetIdleThreshold(0.0f);
        // A fixed body for the pivots, as a module without a body is in a scene.
        ground_ = Body(Float3());
        ground_->SetState(BodyStatic);
    }
    void TearDown() override {
        joints_.clear();
        PhysicsTest::TearDown();
    }

    template <class V>
    V* Solid(V* volume, Node* body) {
        volume->AttachAsLast(body);
        return JoinSpace(*space_, volume, CollSolid);
    }
    Pivot* AnchorAt(RigidBody* body, Float3 world) {
        auto* anchor = tree_.Make<Pivot>("anchor", body);
        anchor->SetWorldPosition(world);
        return anchor;
    }
    // Joins `body` at the world point to `previous` (the fixed ground when null).
    void Join(RigidBody* body, RigidBody* previous, Float3 at, Kind kind) {
        std::unique_ptr<Joint> joint;
        if (kind == Kind::Ball) {
            joint = std::make_unique<BallJoint>();
        } else {
            joint = std::make_unique<HingeJoint>();
        }
        RigidBody* other = previous ? previous : ground_;
        joint->SetAnchors(AnchorAt(body, at), AnchorAt(other, at));
        joint->Attach(body, previous);
        joints_.push_back({std::move(joint), body, other});
    }
    RigidBody* Link(Float3 centre, const Quaternion& along) {
        RigidBody* link = Body(centre);
        auto* capsule = tree_.Make<CollisionCapsule>("link");
        capsule->SetLength(LinkLength);
        capsule->SetCapsuleRadius(LinkRadius);
        capsule->SetOrientation(along);
        Solid(capsule, link);
        return link;
    }
    RigidBody* Box(Float3 centre, Float3 size, float mass) {
        RigidBody* body = Body(centre);
        auto* box = tree_.Make<CollisionBox>("box");
        box->SetSize(size);
        box->SetDensity(mass / (size.x * size.y * size.z));
        Solid(box, body);
        return body;
    }
    // Links from the pivot (the origin unless given) along `direction` (x or -y), then a box
    // `ratio` times a link; answers the bodies, the end last.
    std::vector<RigidBody*> Chain(int links, float ratio, Kind kind, Float3 direction,
                                  Float3 pivot = Float3()) {
        const Quaternion& along = direction.x != 0.0f ? AlongX : AlongY;
        std::vector<RigidBody*> chain;
        RigidBody* previous = nullptr;
        for (int i = 0; i < links; ++i) {
            RigidBody* link = Link(pivot + direction * (LinkLength * (i + 0.5f)), along);
            Join(link, previous, pivot + direction * (LinkLength * i), kind);
            chain.push_back(previous = link);
        }
        const float end = ratio * chain[0]->GetMass();
        RigidBody* box = Box(pivot + direction * (LinkLength * links + 0.5f * EndSize),
                             Float3(EndSize, EndSize, EndSize), end);
        Join(box, previous, pivot + direction * (LinkLength * links), kind);
        chain.push_back(box);
        return chain;
    }

    void Run(int steps) {
        for (int i = 0; i < steps; ++i) {
            world_->Step(world_->GetTimestep());
        }
    }
    // The widest gap between two anchors a joint holds together.
    float WidestGap() const {
        float widest = 0.0f;
        for (const Held& held : joints_) {
            widest = std::max(widest, (held.joint->GetAnchor(0)->GetWorldPosition() -
                                       held.joint->GetAnchor(1)->GetWorldPosition())
                                          .Length());
        }
        return widest;
    }
    static float Potential(const std::vector<RigidBody*>& bodies) {
        float energy = 0.0f;
        for (RigidBody* body : bodies) {
            energy += body->GetMass() * Gravity * body->GetWorldPosition().y;
        }
        return energy;
    }
    static float Kinetic(RigidBody& body) {
        const Float3 v = body.GetLinearVelocity();
        const Float3 w = body.GetWorldAngularVelocity();
        return 0.5f * body.GetMass() * v.Dot(v) + 0.5f * w.Dot(WorldInertia(body).Transform(w));
    }
    static float Energy(const std::vector<RigidBody*>& bodies) {
        float energy = Potential(bodies);
        for (RigidBody* body : bodies) {
            energy += Kinetic(*body);
        }
        return energy;
    }
    static float Fastest(const std::vector<RigidBody*>& bodies) {
        float fastest = 0.0f;
        for (RigidBody* body : bodies) {
            fastest = std::max(fastest, body->GetLinearVelocity().Length());
        }
        return fastest;
    }

    struct Held {
        std::unique_ptr<Joint> joint;
        RigidBody* body;
        RigidBody* other;
    };
    CollisionSpaceSweepnPrune* space_ = nullptr;
    RigidBody* ground_ = nullptr;
    std::vector<Held> joints_;
};

// A chain let go level, with no damping. A light link may whip faster than its own fall allows
// (the chain hands it energy, and a finer step makes the whip faster still), but the end, which
// carries the chain's energy, is never faster than the energy the chain has lost in height, the
// whole never gains energy, and no joint opens.
struct SwingingChain {
    const char* name;
    int links;
    float ratio;
    Kind kind;
    int32_t method;
};

class SwingingChains : public JointedBodies, public ::testing::WithParamInterface<SwingingChain> {};

INSTANTIATE_TEST_SUITE_P(
    HeavyEnds, SwingingChains,
    ::testing::Values(SwingingChain{"TwoBallLinksEnd1000Exact", 2, 1000.0f, Kind::Ball, PhysicsLcp},
                      SwingingChain{"FiveBallLinksEnd300Iterative", 5, 300.0f, Kind::Ball,
                                    PhysicsIterative},
                      SwingingChain{"TenHingeLinksEnd1000Exact", 10, 1000.0f, Kind::Hinge,
                                    PhysicsLcp},
                      SwingingChain{"TwelveBallLinksEnd1000Exact", 12, 1000.0f, Kind::Ball,
                                    PhysicsLcp},
                      SwingingChain{"TwelveHingeLinksEnd1000Iterative", 12, 1000.0f, Kind::Hinge,
                                    PhysicsIterative},
                      SwingingChain{"TwentyBallLinksEnd3000Exact", 20, 3000.0f, Kind::Ball,
                                    PhysicsLcp}),
    [](const ::testing::TestParamInfo<SwingingChain>& info) {
        return std::string(info.param.name);
    });

TEST_P(SwingingChains, KeepsItsEnergyAndItsJoints) {
    const SwingingChain& chain = GetParam();
    world_->SetMethod(chain.method);
    const std::vector<RigidBody*> bodies =
        Chain(chain.links, chain.ratio, chain.kind, Float3(1.0f, 0.0f, 0.0f));
    RigidBody& end = *bodies.back();
    const float start = Energy(bodies);
    // The energy of the end falling its chain's length: the scale of every error.
    const float scale = end.GetMass() * Gravity * (LinkLength * chain.links + EndSize);
    for (int step = 1; step <= 400; ++step) {
        Run(1);
        const float lost = start - Potential(bodies);
        const float allowed = std::sqrt(2.0f * std::max(lost, 0.0f) / end.GetMass());
        ASSERT_LE(end.GetLinearVelocity().Length(), 1.05f * allowed + 0.05f) << "step " << step;
        ASSERT_LE(Energy(bodies), start + 0.01f * scale) << "step " << step;
        ASSERT_LT(WidestGap(), 0.03f) << "step " << step;
    }
}

// A long chain of like links swung from level is stepped whole while it falls: its joints bear
// no more than its own weight and swing, which a whole step follows, and cutting it would cost it
// several times its step. Once its end whips round, faster than a whole step follows, that
// end's turns cut the step into parts, and no joint opens (a rope of 100 links opened by 49 cm
// when stepped whole). ENDS: the steps it asks for parts in, as the end whips (ITERATIVE's end
// swings a little later).
class LikeLinks : public JointedBodies, public ::testing::WithParamInterface<int32_t> {};

INSTANTIATE_TEST_SUITE_P(Methods, LikeLinks, ::testing::Values(PhysicsLcp, PhysicsIterative));

TEST_P(LikeLinks, SwingInWholeStepsUntilTheirEndWhips) {
    world_->SetMethod(GetParam());
    const std::vector<RigidBody*> rope = Chain(50, 1.0f, Kind::Ball, Float3(1.0f, 0.0f, 0.0f));
    const float start = Energy(rope);
    int wholeSteps = 0;
    int cutSteps = 0;
    for (int step = 1; step <= 400; ++step) {
        Run(1);
        (joints_[0].joint->GetSubsteps() == 1 ? wholeSteps : cutSteps) += 1;
        ASSERT_LT(WidestGap(), 0.02f) << "step " << step;
        ASSERT_LE(Energy(rope), start + 0.01f * std::fabs(start)) << "step " << step;
    }
    EXPECT_GT(wholeSteps, 300);
    EXPECT_GT(cutSteps, 0);
}

// Chains whose heavy ends ask for more parts of a step than the world's bound takes, all swung
// at once: each step's parts stay within the bound, the world says so once and then sums up once
// a second, and no chain gains energy, though its joints may stretch.
class ChainsPastTheBound : public JointedBodies, public ::testing::WithParamInterface<int32_t> {};

INSTANTIATE_TEST_SUITE_P(Methods, ChainsPastTheBound,
                         ::testing::Values(PhysicsLcp, PhysicsIterative));

TEST_P(ChainsPastTheBound, ShareItAndGainNoEnergy) {
    world_->SetMethod(GetParam());
    test::CapturingLogSink log;
    constexpr int Chains = 6;
    constexpr int Links = 4;
    constexpr int Rows = 3 * (Links + 1);
    std::vector<RigidBody*> bodies;
    for (int c = 0; c < Chains; ++c) {
        const std::vector<RigidBody*> chain = Chain(
            Links, 10000.0f, Kind::Ball, Float3(1.0f, 0.0f, 0.0f), Float3(0.0f, 0.0f, 2.0f * c));
        bodies.insert(bodies.end(), chain.begin(), chain.end());
    }
    const float start = Energy(bodies);
    // The energy of the ends falling their chains' length: the scale of every error.
    const float scale =
        Chains * bodies.back()->GetMass() * Gravity * (Links * LinkLength + EndSize);
    int pastTheBound = 0;
    for (int step = 1; step <= 160; ++step) {
        Run(1);
        const SubstepBudget& budget = world_->GetSubstepBudget();
        ASSERT_EQ(budget.GetBound(), SubstepBudget::LeastPartRows) << "step " << step;
        ASSERT_LE(budget.GetSpent(), budget.GetBound()) << "step " << step;
        pastTheBound += joints_[0].joint->GetSubsteps() * Rows * Chains > budget.GetBound();
        ASSERT_LE(Energy(bodies), start + 0.01f * scale) << "step " << step;
    }
    EXPECT_GT(pastTheBound, 120);
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_TRUE(log.Contains("asked for more parts of a step than the world takes (2048 rows' "
                             "worth);"))
        << log.Lines()[0].text;
    EXPECT_TRUE(log.Contains("island steps were cut into fewer parts than their joints asked for "
                             "in the last 1.01 s, in 6 islands"))
        << log.Lines()[1].text;
}

// A chain hung straight down from its pivot, already at rest: it hangs still whatever its end
// weighs, without stretching.
struct HangingChain {
    const char* name;
    int links;
    float ratio;
    int32_t method;
    float restingSpeed;
};

class HeavyHangingChains : public JointedBodies,
                           public ::testing::WithParamInterface<HangingChain> {};

INSTANTIATE_TEST_SUITE_P(
    HeavyEnds, HeavyHangingChains,
    ::testing::Values(HangingChain{"TenLinksEnd10000Exact", 10, 1e4f, PhysicsLcp, 0.01f},
                      HangingChain{"TenLinksEnd100000Exact", 10, 1e5f, PhysicsLcp, 0.01f},
                      HangingChain{"TenLinksEnd100000Iterative", 10, 1e5f, PhysicsIterative,
                                   0.01f},
                      HangingChain{"TenLinksEnd1000000Iterative", 10, 1e6f, PhysicsIterative,
                                   0.01f},
                      // 1,203 rows, which the exact step hands to the iterative one; its links
                      // near the pivot tremble by a few centimetres a second.
                      HangingChain{"FourHundredLinksEnd1800000Exact", 400, 1.8e6f, PhysicsLcp,
                                   0.05f}),
    [](const ::testing::TestParamInfo<HangingChain>& info) {
        return std::string(info.param.name);
    });

TEST_P(HeavyHangingChains, HangsStill) {
    const HangingChain& chain = GetParam();
    world_->SetMethod(chain.method);
    const std::vector<RigidBody*> bodies =
        Chain(chain.links, chain.ratio, Kind::Ball, Float3(0.0f, -1.0f, 0.0f));
    const float hanging = bodies.back()->GetWorldPosition().y;
    for (int second = 1; second <= 2; ++second) {
        Run(100);
        EXPECT_LT(Fastest(bodies), chain.restingSpeed) << second << " s";
        EXPECT_GT(bodies.back()->GetWorldPosition().y, hanging - 0.01f) << second << " s";
    }
}

// A bridge of ten planks of a kilogram laid end to end on HINGE joints between two posts, with
// a load set down on its middle: it sags and comes to rest within ten seconds (at the world's
// default damping).
struct LoadedBridge {
    const char* name;
    float load;
    int32_t method;
    float restingSpeed;
};

class LoadedBridges : public JointedBodies, public ::testing::WithParamInterface<LoadedBridge> {};

INSTANTIATE_TEST_SUITE_P(
    Planks, LoadedBridges,
    ::testing::Values(LoadedBridge{"EmptyExact", 0.0f, PhysicsLcp, 0.02f},
                      LoadedBridge{"HundredKilogramsExact", 100.0f, PhysicsLcp, 0.02f},
                      LoadedBridge{"EmptyIterative", 0.0f, PhysicsIterative, 0.02f},
                      // The load's contacts, a hundred times a plank, are left to the sweeps.
                      LoadedBridge{"HundredKilogramsIterative", 100.0f, PhysicsIterative, 0.05f}),
    [](const ::testing::TestParamInfo<LoadedBridge>& info) {
        return std::string(info.param.name);
    });

TEST_P(LoadedBridges, ComesToRest) {
    const LoadedBridge& bridge = GetParam();
    world_->SetMethod(bridge.method);
    world_->SetDamping(0.002f);
    world_->SetAngularDamping(0.002f);
    constexpr int Planks = 10;
    std::vector<RigidBody*> bodies;
    RigidBody* previous = nullptr;
    for (int i = 0; i < Planks; ++i) {
        RigidBody* plank = Box(Float3(i + 0.5f, 0.0f, 0.0f), Float3(0.98f, 0.1f, 0.5f), 1.0f);
        Join(plank, previous, Float3(static_cast<float>(i), 0.0f, 0.0f), Kind::Hinge);
        bodies.push_back(previous = plank);
    }
    Join(previous, nullptr, Float3(static_cast<float>(Planks), 0.0f, 0.0f), Kind::Hinge);
    if (bridge.load > 0.0f) {
        bodies.push_back(Box(Float3(0.5f * Planks, 0.27f, 0.0f), Float3(0.4f, 0.4f, 0.4f),
                             bridge.load));
    }
    Run(1000);
    float fastest = 0.0f;
    for (int step = 0; step < 200; ++step) {
        Run(1);
        fastest = std::max(fastest, Fastest(bodies));
    }
    EXPECT_LT(fastest, bridge.restingSpeed);
    EXPECT_LT(WidestGap(), 0.01f);
}

// A slender body spinning about a tilted axis in free space keeps its energy: the iterative
// step's gyroscopic term, taken explicitly, fed the spin about the long axis into the others
// until the rod tumbled at a thousand times its energy.
TEST_F(JointedBodies, ASpinningRodKeepsItsEnergyUnderTheIterativeStep) {
    world_->SetMethod(PhysicsIterative);
    world_->SetGravity(0.0f);
    RigidBody* rod = Link(Float3(0.0f, 5.0f, 0.0f), Quaternion());
    rod->SetAngularVelocity(Float3(1.0f, 0.0f, 10.0f));
    const float start = Kinetic(*rod);
    for (int second = 1; second <= 10; ++second) {
        Run(100);
        ASSERT_LE(Kinetic(*rod), start * 1.001f) << second << " s";
    }
    EXPECT_GT(Kinetic(*rod), start * 0.5f) << "it keeps most of its spin";
}

} // namespace
} // namespace quarn::test
