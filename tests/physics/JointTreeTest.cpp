#include "physics/IslandStepIterative.h"
#include "physics/JointTypes.h"
#include "tests/physics/PhysicsTestSupport.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace quarn::test {
namespace {

// Joints as (body, body) by index, -1 the world; the bodies sit one metre apart along x, each
// joint's anchors halfway between its bodies.
struct JointedIsland {
    const char* name;
    int bodies;
    std::vector<std::pair<int, int>> ball;
    std::vector<std::pair<int, int>> hinge;
    int sweeps; // 0: the joints must be exact with no sweep at all
};

class JointTree : public PhysicsTest, public ::testing::WithParamInterface<JointedIsland> {
protected:
    void SetUp() override {
        PhysicsTest::SetUp();
        SeedSolverRandom(0);
    }

    // The island, pushed and turned so that every joint carries a force; the multipliers each
    // joint is left with after one step.
    std::vector<float> Multipliers(bool exact) {
        const JointedIsland& island = GetParam();
        std::vector<RigidBody*> bodies;
        for (int i = 0; i < island.bodies; ++i) {
            RigidBody* body = Body(Float3(static_cast<float>(i), 0.5f * (i % 2), 0.0f));
            Sphere(body, Float3(), 0.3f);
            body->SetMass(1.0f + i);
            body->SetLinearVelocity(Float3(0.0f, 0.3f * i, -0.2f));
            body->SetAngularVelocity(Float3(0.1f * i, 0.0f, 0.5f));
            body->AddForce(Float3(1.0f, -10.0f * (1.0f + i), 2.0f * (i % 3)));
            bodies.push_back(body);
        }
        std::vector<std::unique_ptr<Joint>> joints;
        auto join = [&](std::pair<int, int> pair, std::unique_ptr<Joint> joint) {
            RigidBody* first = pair.first >= 0 ? bodies[pair.first] : nullptr;
            RigidBody* second = pair.second >= 0 ? bodies[pair.second] : nullptr;
            const Float3 from = first ? first->GetPosition() : Float3(-1.0f, 0.0f, 0.0f);
            const Float3 to = second ? second->GetPosition() : Float3(-1.0f, 0.0f, 0.0f);
            auto* a = tree_.Make<Pivot>("a", first);
            a->SetWorldPosition((from + to) * 0.5f);
            auto* b = tree_.Make<Pivot>("b", second);
            b->SetWorldPosition((from + to) * 0.5f);
            joint->SetAnchors(a, b);
            joint->Attach(first, second);
            joints.push_back(std::move(joint));
        };
        for (auto pair : island.ball) {
            join(pair, std::make_unique<BallJoint>());
        }
        for (auto pair : island.hinge) {
            join(pair, std::make_unique<HingeJoint>());
        }
        std::vector<Joint*> list;
        for (auto& joint : joints) {
            list.push_back(joint.get());
        }
        const auto nb = static_cast<int32_t>(bodies.size());
        const auto nj = static_cast<int32_t>(list.size());
        const bool stepped =
            exact ? StepIslandLCP(bodies.data(), nb, list.data(), nj, 0.01f, 1e-5f, 0.2f,
                                  world_->GetScratch())
                  : StepIslandIterative(bodies.data(), nb, list.data(), nj, 0.01f, 1e-5f, 0.2f,
                                        island.sweeps, 1.3f, world_->GetScratch());
        EXPECT_TRUE(stepped);
        std::vector<float> multipliers;
        for (auto& joint : joints) {
            JointInfo1 info;
            joint->GetInfo1(info);
            multipliers.insert(multipliers.end(), joint->GetSavedLambda(),
                               joint->GetSavedLambda() + info.m);
        }
        joints.clear();
        for (RigidBody* body : bodies) {
            body->Delete();
        }
        return multipliers;
    }
};

INSTANTIATE_TEST_SUITE_P(
    Shapes, JointTree,
    ::testing::Values(
        JointedIsland{
            "ChainFromTheWorld", 6, {{0, -1}, {1, 0}, {2, 1}, {3, 2}, {4, 3}, {5, 4}}, {}, 0},
        JointedIsland{
            "BranchesAndHinges", 6, {{0, -1}, {1, 0}, {2, 0}, {3, 2}}, {{4, 1}, {5, 0}}, 0},
        JointedIsland{"FreeTree", 4, {{1, 0}, {2, 0}, {3, 1}}, {}, 0},
        // Joints that close a loop are solved with the tree they close.
        JointedIsland{"Loop", 3, {{1, 0}, {2, 1}, {0, 2}}, {}, 0},
        JointedIsland{"PinnedAtBothEnds", 4, {{0, -1}, {1, 0}, {2, 1}, {3, 2}, {-1, 3}}, {}, 0},
        JointedIsland{"HingedLoop", 4, {}, {{1, 0}, {2, 1}, {3, 2}, {0, 3}}, 0}),
    [](const ::testing::TestParamInfo<JointedIsland>& info) {
        return std::string(info.param.name);
    });

// Trees and the loops they close need no sweep.
TEST_P(JointTree, TheIterativeStepReachesTheExactMultipliers) {
    const std::vector<float> exact = Multipliers(true);
    const std::vector<float> iterative = Multipliers(false);
    ASSERT_EQ(exact.size(), iterative.size());
    float largest = 0.0f;
    for (float value : exact) {
        largest = std::max(largest, std::fabs(value));
    }
    ASSERT_GT(largest, 0.1f);
    for (size_t r = 0; r < exact.size(); ++r) {
        EXPECT_NEAR(iterative[r], exact[r], 2e-3f * largest) << "row " << r;
    }
}

} // namespace
} // namespace quarn::test
