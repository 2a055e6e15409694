#include "physics/IslandSubsteps.h"

#include "physics/IslandStep.h"
#include "physics/ScratchArena.h"
#include "tests/physics/PhysicsTestSupport.h"

#include <algorithm>
#include <string>
#include <vector>

namespace quarn::test {
namespace {

class SubstepBudgetTest : public PhysicsTest {};

// One world step's islands: their rows, the parts each asked for last step (the plan) and now,
// in the order they are stepped, and the parts each is granted.
struct SharedStep {
    const char* name;
    std::vector<int64_t> rows;
    std::vector<int32_t> lastAsked;
    std::vector<int32_t> asked;
    std::vector<int32_t> granted;
};

TEST_F(SubstepBudgetTest, SharesTheStepsPartsOutWithinTheWorldsBound) {
    const SharedStep steps[] = {
        // Ten times 300 rows is 3,000 part-rows, above the least bound: all fit.
        {"within the bound", {100, 100, 100}, {5, 5, 5}, {8, 9, 10}, {8, 9, 10}},
        // A small world has at least 2,048 part-rows: one chain of 32 rows gets 64 parts.
        {"the least bound", {32}, {1}, {64}, {64}},
        // 100 islands of 33 rows that asked for 20 parts each share 33,000 part-rows: 10 each.
        {"an even share", std::vector<int64_t>(100, 33), std::vector<int32_t>(100, 20),
         std::vector<int32_t>(100, 20), std::vector<int32_t>(100, 10)},
        // Islands asking for less than the share get what they ask; the others the share.
        {"a share above the small asks",
         {500, 500, 500, 500},
         {2, 2, 40, 40},
         {2, 2, 40, 40},
         {2, 2, 18, 18}},
        // Asks that rose since the plan: the first take what they ask, the last keep their
        // whole steps, and the bound holds.
        {"asks past the plan", {1000, 1000, 1000}, {1, 1, 1}, {25, 25, 25}, {25, 4, 1}},
    };
    for (const SharedStep& step : steps) {
        SCOPED_TRACE(step.name);
        RigidBody* first = Body(Float3());
        SubstepBudget budget;
        budget.Plan(step.rows.data(), step.lastAsked.data(),
                    static_cast<int32_t>(step.rows.size()));
        int64_t missing = 0;
        size_t cut = 0;
        for (size_t i = 0; i < step.rows.size(); ++i) {
            EXPECT_EQ(budget.Grant(step.asked[i], step.rows[i], *first), step.granted[i]) << i;
            missing += step.asked[i] - step.granted[i];
            cut += step.asked[i] > step.granted[i] ? 1 : 0;
        }
        EXPECT_LE(budget.GetSpent(), budget.GetBound());
        EXPECT_EQ(budget.GetCutIslands().size(), cut);
        EXPECT_EQ(budget.GetMissingParts(), missing);
    }
}

TEST_F(SubstepBudgetTest, AnIslandAloneHasTheLeastBoundOrTenTimesItsRows) {
    RigidBody* first = Body(Float3());
    for (const auto& [rows, granted] : {std::pair<int64_t, int32_t>{21, 64}, {600, 10}}) {
        SubstepBudget budget;
        budget.PlanAlone(rows);
        EXPECT_EQ(budget.Grant(64, rows, *first), granted) << rows;
    }
}

// A step of one falling, turning body: its speed (and rate of turn) at the start and at the
// end, and how far it fell meanwhile under its weight.
struct HeldStep {
    const char* name;
    float startSpeed;
    float endSpeed;
    float fell;
};

TEST_F(SubstepBudgetTest, AStepCutShortGainsNoMoreEnergyThanTheOutsideForcesGave) {
    const HeldStep steps[] = {
        {"faster with nothing doing work", 2.0f, 3.0f, 0.0f},
        {"within what its fall gave", 0.0f, 1.5f, 0.2f},
        {"past what its fall gave", 0.0f, 4.0f, 0.2f},
        {"slower", 3.0f, 1.0f, 0.0f},
    };
    constexpr float Gravity = 10.0f;
    for (const HeldStep& step : steps) {
        SCOPED_TRACE(step.name);
        RigidBody* body = Body(Float3(0.0f, 5.0f, 0.0f));
        Sphere(body, Float3(), 0.5f);
        const float mass = body->GetMass();
        const float inertia = WorldInertia(*body).m[2][2];
        // Moving at speed s and turning at s rad/s.
        auto energy = [&](float s) { return 0.5f * (mass + inertia) * s * s; };
        body->SetLinearVelocity(Float3(0.0f, -step.startSpeed, 0.0f));
        body->SetAngularVelocity(Float3(0.0f, 0.0f, step.startSpeed));
        ScratchArena::Scope scope(world_->GetScratch());
        StartOfStep start;
        start.Take(1, world_->GetScratch());
        start.Record(&body, 1);
        const OutsideForces weight{Float3(0.0f, -Gravity * mass, 0.0f), Float3()};
        body->SetPosition(Float3(0.0f, 5.0f - step.fell, 0.0f));
        body->SetLinearVelocity(Float3(0.0f, -step.endSpeed, 0.0f));
        body->SetAngularVelocity(Float3(0.0f, 0.0f, step.endSpeed));
        HoldEnergy(&body, 1, start, &weight, 0.01f);
        const float allowed = energy(step.startSpeed) + mass * Gravity * step.fell;
        const float speed = -body->GetLinearVelocity().y;
        EXPECT_NEAR(energy(speed), std::min(energy(step.endSpeed), allowed), 1e-4f * allowed);
        // Held back alike.
        EXPECT_FLOAT_EQ(body->GetAngularVelocity().z, speed);
    }
}

} // namespace
} // namespace quarn::test
