#include "physics/IslandStepIterative.h"

#include "collision/CollisionSpaceSweepnPrune.h"
#include "physics/LCPSolver.h"
#include "tests/physics/PhysicsTestSupport.h"
#include "tests/physics/SystemRows.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/MathExpectations.h"
#include "tests/support/RecordingAssertionHook.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace quarn::test {
namespace {

class IterativeStep : public PhysicsTest {
public:
    using PhysicsTest::world_;

protected:
    void SetUp() override {
        PhysicsTest::SetUp();
        SeedSolverRandom(0);
    }

public:
    bool StepIsland(std::vector<RigidBody*> bodies, std::vector<Joint*> joints, int iterations,
                    float cfm = 1e-5f) {
        return StepIslandIterative(bodies.data(), static_cast<int32_t>(bodies.size()),
                                   joints.data(), static_cast<int32_t>(joints.size()), 0.01f, cfm,
                                   0.2f, iterations, 1.3f, world_->GetScratch());
    }
};

// One bounded row along an axis between the first body and the second (or the world), with a
// chosen right-hand side; by default it only pushes.
class AxisJoint : public Joint {
public:
    AxisJoint(Float3 axis, float c = 0.0f, float lo = 0.0f, float hi = LCPInfinity)
        : axis_(axis), c_(c), lo_(lo), hi_(hi) {}
    void GetInfo1(JointInfo1& info) override {
        info.m = 1;
        info.nub = 0;
    }
    void GetInfo2(JointInfo2& info) override {
        StoreJacobian(info.J1l, axis_);
        StoreJacobian(info.J2l, axis_ * -1.0f);
        info.c[0] = c_;
        info.lo[0] = lo_;
        info.hi[0] = hi_;
    }

private:
    Float3 axis_;
    float c_;
    float lo_;
    float hi_;
};

TEST_F(IterativeStep, NoSweepsStillApplyNineTenthsOfTheSavedMultipliers) {
    auto* a = Body(Float3());
    auto* b = Body(Float3(0.0f, 2.0f, 0.0f));
    a->SetMass(1.0f);
    b->SetMass(4.0f);
    // Bounded both ways, a row that neither exact start takes: the saved value starts it.
    AxisJoint joint(Float3(0.0f, 1.0f, 0.0f), 0.0f, -100.0f, 100.0f);
    joint.Attach(a, b);
    joint.GetSavedLambda()[0] = 5.0f;
    ASSERT_TRUE(StepIsland({a, b}, {&joint}, 0));
    const float lambda = 0.9f * 5.0f;
    EXPECT_FLOAT_EQ(joint.GetSavedLambda()[0], lambda);
    // The force applied is -J^T lambda over one step.
    EXPECT_FLOAT_EQ(a->GetLinearVelocity().y, -0.01f * lambda);
    EXPECT_FLOAT_EQ(b->GetLinearVelocity().y, 0.01f * lambda / 4.0f);
    joint.Detach();
}

// A box on four corner contacts with friction, sliding and spinning: enough coupled rows that
// the sweep order shows in the multipliers after a few sweeps.
class Island {
public:
    Island(IterativeStep& test, RigidBody* body) : body_(body), world_(test.world_) {}
    ~Island() {
        for (ContactJoint& contact : contacts_) {
            contact.Release();
        }
    }
    std::vector<float> Step(IterativeStep& test) {
        body_->SetPosition(Float3(0.0f, 0.48f, 0.0f));
        body_->SetOrientation(Quaternion());
        body_->SetLinearVelocity(Float3(2.0f, -1.0f, 0.5f));
        body_->SetAngularVelocity(Float3(0.3f, 1.0f, -0.2f));
        body_->AddForce(Float3(0.0f, -10.0f, 0.0f));
        // Made after the move, as the world makes them each step: a move drops a body's contacts.
        std::vector<Joint*> joints;
        for (int i = 0; i < 4; ++i) {
            ContactJoint& contact = contacts_[i];
            contact.Prepare(world_);
            contact.position = Float3(i & 1 ? 0.5f : -0.5f, 0.0f, i & 2 ? 0.5f : -0.5f);
            contact.normal = Float3(0.0f, 1.0f, 0.0f);
            contact.depth = 0.02f;
            contact.surface.mode =
                ContactSoftErp | ContactSoftCfm | ContactFrictionScaled1 | ContactFrictionScaled2;
            contact.surface.mu = 0.7f;
            contact.surface.softErp = 0.5f;
            contact.surface.softCfm = 1e-5f;
            contact.Attach(body_, nullptr);
            joints.push_back(&contact);
        }
        EXPECT_TRUE(test.StepIsland({body_}, joints, 3));
        std::vector<float> lambdas;
        for (ContactJoint& contact : contacts_) {
            lambdas.insert(lambdas.end(), contact.GetSavedLambda(), contact.GetSavedLambda() + 3);
        }
        return lambdas;
    }

private:
    RigidBody* body_;
    PhysicsMaster* world_;
    ContactJoint contacts_[4];
};

TEST_F(IterativeStep, TheShuffleRepeatsAfterAResetAndDiffersBetweenIslands) {
    auto* body = Body(Float3());
    body->SetMass(1.0f);
    Island island(*this, body);
    const std::vector<float> first = island.Step(*this);
    const std::vector<float> second = island.Step(*this); // the generator has moved on
    SeedSolverRandom(0);
    EXPECT_EQ(island.Step(*this), first);
    EXPECT_NE(second, first);
}

TEST_F(IterativeStep, RowsNoForceCanMoveOrNonFiniteResultsGiveNoNaN) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        Float3 axis;
        float c;
        int duplicates;
        bool solvable;
        float vy; // after the step, from rest under 10 m/s^2
    };
    for (const Case& c : {Case{"zero Jacobian", Float3(), 0.0f, 1, true, -0.1f},
                          Case{"non-finite Jacobian", Float3(nan, 1.0f, 0.0f), 0.0f, 1, true, -0.1f},
                          Case{"duplicated rows", Float3(0.0f, -1.0f, 0.0f), 0.0f, 3, true, 0.0f},
                          Case{"non-finite error", Float3(0.0f, -1.0f, 0.0f), nan, 1, false, 0.0f}}) {
        CapturingLogSink log;
        auto* body = Body(Float3());
        body->SetMass(1.0f);
        std::vector<std::unique_ptr<AxisJoint>> owned;
        std::vector<Joint*> joints;
        for (int i = 0; i < c.duplicates; ++i) {
            owned.push_back(std::make_unique<AxisJoint>(c.axis, c.c));
            owned.back()->Attach(body, nullptr);
            joints.push_back(owned.back().get());
        }
        body->AddForce(Float3(0.0f, -10.0f, 0.0f));
        EXPECT_EQ(StepIsland({body}, joints, 20, 0.0f), c.solvable) << c.name;
        const Float3 v = body->GetLinearVelocity();
        EXPECT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z)) << c.name;
        EXPECT_NEAR(v.y, c.vy, 1e-4f) << c.name;
        EXPECT_EQ(body->GetForce().y, 0.0f) << c.name;
        for (Joint* joint : joints) {
            EXPECT_TRUE(std::isfinite(joint->GetSavedLambda()[0])) << c.name;
        }
        EXPECT_EQ(log.Lines().size(), c.solvable ? 0u : 1u) << c.name;
        body->SetWorld(nullptr);
        body->Delete();
    }
}

// Islands stepped as one group: a failed solve stays with its island, an island without rows
// between them shifts nobody's rows, and the rest step as they do alone.
TEST_F(IterativeStep, AGroupOfIslandsStepsEachAsAlone) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    auto held = [&](float c) {
        auto* body = Body(Float3());
        body->SetMass(1.0f);
        body->SetLinearVelocity(Float3(0.0f, -0.5f, 0.0f));
        body->AddForce(Float3(0.0f, -10.0f, 0.0f));
        auto joint = std::make_unique<AxisJoint>(Float3(0.0f, -1.0f, 0.0f), c);
        joint->Attach(body, nullptr);
        return std::make_pair(body, std::move(joint));
    };
    auto alone = held(0.3f);
    ASSERT_TRUE(StepIsland({alone.first}, {alone.second.get()}, 20));
    ASSERT_GT(alone.second->GetSavedLambda()[0], 0.0f); // the joint holds the body

    CapturingLogSink log;
    auto failing = held(nan);
    auto* free = Body(Float3());
    free->SetMass(1.0f);
    free->AddForce(Float3(0.0f, -10.0f, 0.0f));
    auto healthy = held(0.3f);
    std::vector<RigidBody*> bodies = {failing.first, free, healthy.first};
    std::vector<Joint*> joints = {failing.second.get(), healthy.second.get()};
    const IslandSpan islands[] = {{0, 1, 0, 1}, {1, 1, 1, 0}, {2, 1, 1, 1}};
    EXPECT_FALSE(StepIslandsIterative(bodies.data(), joints.data(), islands, 3, 0.01f, 1e-5f,
                                      0.2f, 20, 1.3f, world_->GetScratch()));
    EXPECT_EQ(failing.first->GetLinearVelocity().y, -0.5f);
    EXPECT_EQ(log.Lines().size(), 1u);
    EXPECT_FLOAT_EQ(free->GetLinearVelocity().y, -0.1f);
    ExpectNear(healthy.first->GetLinearVelocity(), alone.first->GetLinearVelocity(), 0.0f);
    EXPECT_EQ(healthy.second->GetSavedLambda()[0], alone.second->GetSavedLambda()[0]);
    for (auto* joint : {alone.second.get(), failing.second.get(), healthy.second.get()}) {
        joint->Detach();
    }
}

// More rows than a joint can keep multipliers for.
class SevenRowJoint : public Joint {
public:
    void GetInfo1(JointInfo1& info) override { info.m = 7; }
    void GetInfo2(JointInfo2& info) override {
        for (int row = 0; row < 7; ++row) {
            info.J1l[row * info.rowSkip + 1] = -1.0f;
        }
    }
};

TEST_F(IterativeStep, AJointWithMoreThanSixRowsIsReportedAndLeftOut) {
    RecordingAssertionHook assertions;
    auto* body = Body(Float3());
    body->SetMass(1.0f);
    SevenRowJoint joint;
    joint.Attach(body, nullptr);
    body->AddForce(Float3(0.0f, -10.0f, 0.0f));
    EXPECT_TRUE(StepIsland({body}, {&joint}, 20));
    EXPECT_EQ(assertions.Messages().size(), 1u);
    EXPECT_FLOAT_EQ(body->GetLinearVelocity().y, -0.1f);
    joint.Detach();
}

TEST_F(IterativeStep, EveryJointWithFeedbackHearsTheWholeForceOnItsBody) {
    auto* body = Body(Float3(0.0f, 0.45f, 0.0f));
    body->SetMass(2.0f);
    ContactJoint contacts[2];
    JointFeedback feedback[2];
    std::vector<Joint*> joints;
    for (int i = 0; i < 2; ++i) {
        contacts[i].Prepare(world_);
        contacts[i].position = Float3(i ? 0.3f : -0.3f, 0.0f, 0.0f);
        contacts[i].normal = Float3(0.0f, 1.0f, 0.0f);
        contacts[i].depth = 0.0f;
        contacts[i].Attach(body, nullptr);
        contacts[i].SetFeedback(&feedback[i]);
        joints.push_back(&contacts[i]);
    }
    body->AddForce(Float3(0.0f, -20.0f, 0.0f));
    ASSERT_TRUE(StepIsland({body}, joints, 50));
    EXPECT_NEAR(body->GetLinearVelocity().y, 0.0f, 1e-3f);
    // +J^T lambda holds the body up against its weight.
    ExpectNear(feedback[0].force1, Float3(0.0f, -20.0f, 0.0f), 0.05f);
    ExpectNear(feedback[1].force1, feedback[0].force1, 0.0f);
    ExpectNear(feedback[1].torque1, feedback[0].torque1, 0.0f);
    for (ContactJoint& contact : contacts) {
        contact.Release();
    }
}

// The same ball, free or under a parent turned a quarter round, falls onto the ground, slides
// and runs into a resting ball; both solvers must agree with each other and with the free ball.
class TurnedParent : public IterativeStep {
protected:
    std::vector<Float3> Run(int32_t method, bool parented) {
        world_->SetMethod(method);
        world_->SetIterations(20);
        world_->SetDamping(0.0f);
        world_->SetAngularDamping(0.0f);
        world_->SetIdleThreshold(0.0f);
        world_->SetFrictionModel(2);
        auto* space = tree_.MakeWithId<CollisionSpaceSweepnPrune>("space");
        space->SetMaxVolumes(10);
        world_->SetCollisionSpaceId({space->GetId()});
        auto join = [&](CollisionVolume* volume, uint32_t flags) {
            volume->SetCollFlags(flags);
            volume->SetCollMask(CollSolid);
            volume->SetCollTest(CollSolid);
            space->AddVolume(*volume);
        };
        CollisionPlane* ground = Ground();
        join(ground, CollSolid | CollStatic);
        Pivot* parent = nullptr;
        if (parented) {
            parent = tree_.Make<Pivot>("parent");
            parent->SetPosition(Float3(1.0f, 2.0f, -1.0f));
            parent->SetOrientation(Quaternion::FromAxisAngle(1.5707964f, Float3(0.0f, 0.0f, 1.0f)));
        }
        RigidBody* ball = Body(Float3(), parent);
        ball->SetWorldPosition(Float3(0.0f, 1.0f, 0.0f));
        join(Sphere(ball, Float3(), 0.5f), CollSolid);
        const Float3 velocity(3.0f, 0.0f, 0.5f);
        const Float3 spin(0.0f, 0.0f, 2.0f);
        ball->SetLinearVelocity(parent ? parent->WorldToLocalDirection(velocity) : velocity);
        ball->SetAngularVelocity(parent ? parent->WorldToLocalDirection(spin) : spin);
        RigidBody* target = Body(Float3(4.0f, 0.5f, 0.5f));
        join(Sphere(target, Float3(), 0.5f), CollSolid);
        std::vector<Float3> path;
        for (int step = 1; step <= 200; ++step) {
            world_->Step(world_->GetTimestep());
            if (step % 20 == 0) {
                path.push_back(ball->GetWorldPosition());
                path.push_back(target->GetWorldPosition());
            }
        }
        for (RigidBody* body : {ball, target}) {
            body->SetWorld(nullptr);
            body->Delete();
        }
        for (Node* node : std::initializer_list<Node*>{ground, space, parent}) {
            if (node) {
                node->Delete();
            }
        }
        return path;
    }
};

TEST_F(TurnedParent, ABallUnderATurnedParentMovesAsAFreeOneWithEitherSolver) {
    const std::vector<Float3> exact = Run(PhysicsLcp, false);
    ASSERT_GT(exact.back().x, 4.1f); // the target was hit
    for (int32_t method : {PhysicsLcp, PhysicsIterative}) {
        SeedSolverRandom(0);
        const std::vector<Float3> free = Run(method, false);
        SeedSolverRandom(0);
        const std::vector<Float3> turned = Run(method, true);
        for (size_t i = 0; i < free.size(); ++i) {
            ExpectNear(turned[i], free[i], 1e-4f);
            // Until the balls meet (step 120) the two solvers agree; then their friction differs.
            if (i < 10) {
                ExpectNear(free[i], exact[i], 1e-4f);
            }
        }
    }
}

// The sweep as plainly written: 12-float rows, six floats per body, one row at a time in the
// shuffled order. The solver's packed rows must give its answer up to rounding.
void PlainSOR(const SORSystem& s, int iterations, float overRelaxation) {
    std::vector<float> invMJt(static_cast<size_t>(s.m) * 12, 0.0f);
    std::vector<float> J(s.J, s.J + s.m * 12);
    std::vector<float> b(s.b, s.b + s.m);
    std::vector<float> cfm(s.cfm, s.cfm + s.m);
    std::fill(s.fc, s.fc + s.nb * 6, 0.0f);
    for (int r = 0; r < s.m; ++r) {
        float diagonal = cfm[r];
        for (int side = 0; side < 2; ++side) {
            const int body = s.jb[2 * r + side];
            if (body < 0) {
                continue;
            }
            float* out = &invMJt[12 * r + 6 * side];
            const float* row = &J[12 * r + 6 * side];
            const Float3 angular = s.inverseInertia[body].Transform({row[3], row[4], row[5]});
            const float values[6] = {row[0] * s.inverseMass[body], row[1] * s.inverseMass[body],
                                     row[2] * s.inverseMass[body], angular.x, angular.y,
                                     angular.z};
            for (int k = 0; k < 6; ++k) {
                out[k] = values[k];
                diagonal += out[k] * row[k];
            }
        }
        const float scale = overRelaxation / diagonal;
        for (int k = 0; k < 12; ++k) {
            J[12 * r + k] *= scale;
        }
        b[r] *= scale;
        cfm[r] *= scale;
        s.lambda[r] *= 0.9f;
        for (int side = 0; side < 2; ++side) {
            if (s.jb[2 * r + side] >= 0) {
                for (int k = 0; k < 6; ++k) {
                    s.fc[6 * s.jb[2 * r + side] + k] += invMJt[12 * r + 6 * side + k] * s.lambda[r];
                }
            }
        }
    }
    std::vector<int32_t> order;
    for (int pass = 0; pass < 2; ++pass) {
        for (int r = 0; r < s.m; ++r) {
            if ((s.findex[r] >= 0) == (pass == 1)) {
                order.push_back(r);
            }
        }
    }
    for (int t = 0; t < iterations; ++t) {
        if (t % 8 == 0) {
            for (int k = 1; k < s.m; ++k) {
                std::swap(order[k], order[RandomInt(k + 1)]);
            }
        }
        for (const int r : order) {
            float lo = s.lo[r];
            float hi = s.hi[r];
            if (s.findex[r] >= 0) {
                hi = std::fabs(s.hi[r] * s.lambda[s.findex[r]]);
                lo = -hi;
            }
            float delta = b[r] - cfm[r] * s.lambda[r];
            for (int side = 0; side < 2; ++side) {
                for (int k = 0; k < 6 && s.jb[2 * r + side] >= 0; ++k) {
                    delta -= J[12 * r + 6 * side + k] * s.fc[6 * s.jb[2 * r + side] + k];
                }
            }
            const float updated = std::clamp(s.lambda[r] + delta, lo, hi);
            delta = updated - s.lambda[r];
            s.lambda[r] = updated;
            for (int side = 0; side < 2; ++side) {
                for (int k = 0; k < 6 && s.jb[2 * r + side] >= 0; ++k) {
                    s.fc[6 * s.jb[2 * r + side] + k] += invMJt[12 * r + 6 * side + k] * delta;
                }
            }
        }
    }
}

// Random rows over nb bodies in groups of three: a normal row (bounded below at 0) and its two
// friction rows, the odd group against the world; the inverse inertias symmetric.
struct RandomSystem : SystemRows {
    RandomSystem(int groups, int bodies, uint32_t seed) : m(3 * groups) {
        nb = bodies;
        auto next = [&seed] {
            seed = seed * 1103515245u + 12345u;
            return static_cast<float>((seed >> 8) & 0xffff) / 65536.0f - 0.5f;
        };
        J.resize(12 * m);
        for (float& value : J) {
            value = next();
        }
        for (int r = 0; r < m; ++r) {
            const int group = r / 3;
            const bool normal = r % 3 == 0;
            jb.push_back(group % nb);
            jb.push_back(group % 3 == 2 ? -1 : (group + 1 + group / nb) % nb);
            findex.push_back(normal ? -1 : r - r % 3);
            lo.push_back(normal ? 0.0f : -LCPInfinity);
            hi.push_back(normal ? LCPInfinity : 0.6f + next());
            b.push_back(4.0f * next());
            cfm.push_back(r % 4 == 0 ? 0.0f : 1e-3f);
            warm.push_back(next() + 0.5f);
        }
        for (int body = 0; body < nb; ++body) {
            inverseMass.push_back(1.0f + next());
            Matrix3 inverse;
            for (int i = 0; i < 3; ++i) {
                for (int k = 0; k <= i; ++k) {
                    const float value = i == k ? 1.0f + next() : 0.2f * next();
                    inverse.m[i][k] = value;
                    inverse.m[k][i] = value;
                }
            }
            inverseInertia.push_back(inverse);
        }
        lambda.resize(m);
    }

    // The system to solve from the warm start.
    SORSystem Start() {
        std::copy(warm.begin(), warm.end(), lambda.begin());
        return View(lambda);
    }

    int m;
    std::vector<float> warm, lambda;
};

// Normal and friction rows, rows against the world, across the reshuffle after eight sweeps:
// the packed sweeps, narrow and wide, against plainly written ones; narrow and wide agree to
// the bit.
TEST_F(IterativeStep, ThePackedSweepsGiveThePlainSweepsAnswer) {
    RandomSystem rows(3, 4, 12345);
    rows.lo[6] = -0.5f; // a row bounded on both sides
    rows.hi[6] = 0.5f;
    rows.findex[7] = rows.findex[8] = -1;
    for (const int iterations : {0, 1, 9, 17}) {
        SCOPED_TRACE(iterations);
        std::vector<float> lambda[3];
        std::vector<float> fc[3];
        for (int run = 0; run < 3; ++run) {
            SORSystem system = rows.Start();
            SeedSolverRandom(7);
            if (run == 0) {
                PlainSOR(system, iterations, 1.3f);
            } else {
                AllowWideSweeps(run == 2);
                SolveSOR(system, iterations, 1.3f, world_->GetScratch());
                AllowWideSweeps(true);
            }
            lambda[run] = rows.lambda;
            fc[run] = rows.fc;
        }
        for (int r = 0; r < rows.m; ++r) {
            EXPECT_NEAR(lambda[1][r], lambda[0][r], 1e-4f * (1.0f + std::fabs(lambda[0][r])))
                << "row " << r;
        }
        for (int k = 0; k < rows.nb * 6; ++k) {
            EXPECT_NEAR(fc[1][k], fc[0][k], 1e-4f * (1.0f + std::fabs(fc[0][k]))) << "fc " << k;
        }
        EXPECT_EQ(lambda[2], lambda[1]);
        EXPECT_EQ(fc[2], fc[1]);
    }
}

// What a draw gives: the state scaled by n / 2^32 as a double.
int32_t ScaledDraw(uint32_t state, int32_t n) {
    return static_cast<int32_t>(static_cast<double>(state) * n * (1.0 / 4294967296.0));
}

// The state the generator steps from to reach `state` (its multiplier is odd, so it has an
// inverse modulo 2^32; each Newton step doubles the inverse's correct low bits).
uint32_t StateBefore(uint32_t state) {
    uint32_t inverse = 1664525u;
    for (int i = 0; i < 5; ++i) {
        inverse *= 2u - 1664525u * inverse;
    }
    return (state - 1013904223u) * inverse;
}

// Draws agree with scaling the state as a double, also for large n, where the double rounds
// and an exact integer product would differ.
TEST_F(IterativeStep, ADrawScalesTheNextStateAsADoubleWould) {
    for (const int32_t n : {1, 2, 3, 150, 1000003, (1 << 21) - 1, 1 << 21, (1 << 21) + 1,
                            1 << 30, std::numeric_limits<int32_t>::max()}) {
        uint32_t state = 0x9e3779b9u;
        SeedSolverRandom(state);
        for (int draw = 0; draw < 1000; ++draw) {
            state = state * 1664525u + 1013904223u;
            ASSERT_EQ(RandomInt(n), ScaledDraw(state, n)) << n << ", draw " << draw;
        }
    }
    // Just above 2^31 the product sits just below a multiple of 2^32 and the double rounds up.
    const int32_t n = std::numeric_limits<int32_t>::max();
    uint32_t state = 0x800001ffu;
    while (state > 0x80000000u &&
           static_cast<int32_t>((static_cast<uint64_t>(state) * n) >> 32) == ScaledDraw(state, n)) {
        --state;
    }
    ASSERT_GT(state, 0x80000000u);
    SeedSolverRandom(StateBefore(state));
    EXPECT_EQ(RandomInt(n), ScaledDraw(state, n));
}

// Islands solved side by side end exactly as each solved alone after the one before, the
// shuffle generator included; a system that overflows does so alone.
TEST_F(IterativeStep, SystemsSolvedTogetherEndAsEachAlone) {
    for (const bool overflow : {false, true}) {
        SCOPED_TRACE(overflow);
        std::vector<RandomSystem> systems = {RandomSystem(7, 5, 1), RandomSystem(2, 2, 2),
                                             RandomSystem(12, 9, 3)};
        if (overflow) {
            systems[1].b[0] = std::numeric_limits<float>::infinity();
        }
        std::vector<std::vector<float>> lambda;
        std::vector<std::vector<float>> fc;
        SeedSolverRandom(99);
        for (RandomSystem& rows : systems) {
            const SORSystem system = rows.Start();
            SolveSOR(system, 10, 1.3f, world_->GetScratch());
            lambda.push_back(rows.lambda);
            fc.push_back(rows.fc);
        }
        const uint32_t after = RandomNext();

        SeedSolverRandom(99);
        std::vector<SORSystem> together;
        for (RandomSystem& rows : systems) {
            together.push_back(rows.Start());
        }
        SolveSOR(together.data(), 3, 10, 1.3f, world_->GetScratch());
        EXPECT_EQ(RandomNext(), after);
        for (size_t i = 0; i < systems.size(); ++i) {
            SCOPED_TRACE(i);
            if (overflow && i == 1) {
                EXPECT_FALSE(std::all_of(systems[i].lambda.begin(), systems[i].lambda.end(),
                                         [](float value) { return std::isfinite(value); }));
                continue;
            }
            EXPECT_EQ(systems[i].lambda, lambda[i]);
            EXPECT_EQ(systems[i].fc, fc[i]);
        }
    }
}

// An answered system is not swept: it ends as with no sweep, and the generator passes over its
// shuffles (here 3 x 1,199 draws), so the systems beside it end as they would beside it
// unanswered.
TEST_F(IterativeStep, AnAnsweredSystemIsNotSweptAndLeavesTheOthersAsTheyWere) {
    std::vector<RandomSystem> systems = {RandomSystem(7, 5, 1), RandomSystem(400, 50, 2),
                                         RandomSystem(12, 9, 3)};
    const auto solveTogether = [&](bool answerMiddle) {
        SeedSolverRandom(99);
        std::vector<SORSystem> together;
        for (RandomSystem& rows : systems) {
            together.push_back(rows.Start());
        }
        together[1].answered = answerMiddle;
        SolveSOR(together.data(), 3, 20, 1.3f, world_->GetScratch());
        return RandomNext();
    };
    // With the sweeps of either width.
    for (const bool wide : {false, true}) {
        SCOPED_TRACE(wide);
        AllowWideSweeps(wide);
        const uint32_t after = solveTogether(false);
        std::vector<std::vector<float>> lambda;
        std::vector<std::vector<float>> fc;
        for (const RandomSystem& rows : systems) {
            lambda.push_back(rows.lambda);
            fc.push_back(rows.fc);
        }
        SolveSOR(systems[1].Start(), 0, 1.3f, world_->GetScratch());
        lambda[1] = systems[1].lambda;
        fc[1] = systems[1].fc;

        EXPECT_EQ(solveTogether(true), after);
        AllowWideSweeps(true);
        for (size_t i = 0; i < systems.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(systems[i].lambda, lambda[i]);
            EXPECT_EQ(systems[i].fc, fc[i]);
        }
    }
}

// Without friction every row is a plain bounded one, and enough sweeps reach the exact solve's
// answer: a check of the rows, their body indexes and the signs of the iterative step.
TEST_F(IterativeStep, ManySweepsReachTheExactAnswerWithoutFriction) {
    struct Copy {
        std::vector<RigidBody*> bodies;
        std::vector<std::unique_ptr<ContactJoint>> contacts;
        std::vector<Joint*> joints;
    };
    Copy copies[2];
    for (Copy& copy : copies) {
        for (int b = 0; b < 3; ++b) {
            RigidBody* body = Body(Float3(0.1f * b, 1.0f * b, 0.0f));
            body->SetOrientation(Quaternion::FromAxisAngle(0.3f * b, Float3(0.0f, 0.6f, 0.8f)));
            Sphere(body, Float3(), 0.5f);
            body->SetLinearVelocity(Float3(0.2f * b, -1.0f, 0.1f));
            body->SetAngularVelocity(Float3(0.5f, -0.2f * b, 0.3f));
            copy.bodies.push_back(body);
        }
        // Each body rests on the one below at two points, the lowest on the world.
        for (int b = 0; b < 3; ++b) {
            for (int k = 0; k < 2; ++k) {
                auto contact = std::make_unique<ContactJoint>();
                contact->Prepare(world_);
                contact->position = Float3(k ? 0.3f : -0.2f, 1.0f * b - 0.5f, k ? 0.1f : -0.3f);
                contact->normal = Float3(0.1f * k, 1.0f, -0.05f * b);
                contact->normal.Normalize();
                // A little past their minimum depth, as resting contacts sit: the push-out of
                // deeper ones the exact step solves apart from the velocities.
                contact->depth = 0.03f;
                contact->surface.minDepth = 0.028f;
                contact->surface.mu = 0.0f;
                contact->Attach(copy.bodies[b], b ? copy.bodies[b - 1] : nullptr);
                copy.joints.push_back(contact.get());
                copy.contacts.push_back(std::move(contact));
            }
        }
        for (RigidBody* body : copy.bodies) {
            body->AddForce(Float3(0.0f, -10.0f, 0.0f));
        }
    }
    ASSERT_TRUE(StepIslandLCP(copies[0].bodies.data(), 3, copies[0].joints.data(), 6, 0.01f,
                              1e-5f, 0.2f, world_->GetScratch()));
    ASSERT_TRUE(StepIsland(copies[1].bodies, copies[1].joints, 500));
    for (int b = 0; b < 3; ++b) {
        ExpectNear(copies[1].bodies[b]->GetLinearVelocity(), copies[0].bodies[b]->GetLinearVelocity(),
                   1e-3f);
        ExpectNear(copies[1].bodies[b]->GetAngularVelocity(),
                   copies[0].bodies[b]->GetAngularVelocity(), 1e-3f);
    }
    for (Copy& copy : copies) {
        for (auto& contact : copy.contacts) {
            contact->Release();
        }
    }
}

} // namespace
} // namespace quarn::test
