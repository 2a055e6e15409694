#include "physics/IslandStep.h"

#include "physics/ActiveSetLCP.h"
#include "physics/IslandBodySpace.h"
#include "physics/ScratchArena.h"
#include "tests/physics/PhysicsTestSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/MathExpectations.h"
#include "tests/support/RecordingAssertionHook.h"

#include <cmath>
#include <limits>
#include <random>

namespace quarn::test {
namespace {

using IslandStep = PhysicsTest;

Float3 RandomVector(std::mt19937& random, float scale) {
    std::uniform_real_distribution<float> u(-scale, scale);
    return {u(random), u(random), u(random)};
}

Quaternion RandomTurn(std::mt19937& random) {
    Float3 axis = RandomVector(random, 1.0f);
    axis.Normalize();
    return Quaternion::FromAxisAngle(std::uniform_real_distribution<float>(0.0f, 3.0f)(random),
                                     axis);
}

// A body-frame tensor T in world space, R^T T R, in double.
void InWorldSpace(RigidBody& body, const Matrix3& tensor, double out[3][3]) {
    const Matrix3 r = Matrix3::RotationOf(body.GetWorldMatrix());
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 3; ++k) {
                for (int l = 0; l < 3; ++l) {
                    sum += double(r.m[k][i]) * tensor.m[k][l] * r.m[l][j];
                }
            }
            out[i][j] = sum;
        }
    }
}

// The trees invert the inverse inertia of every body they take: a small light body's entries
// put the determinant, their cube, out of float's range either way.
TEST(InvertAtAnyScale, InvertsEveryScaleWhoseInverseIsAFloat) {
    const Matrix3 shape = Matrix3::FromRows(
        {{2.0f, 0.5f, 0.0f, 0.0f}, {0.5f, 3.0f, 0.1f, 0.0f}, {0.0f, 0.1f, 4.0f, 0.0f}});
    for (const float scale : {1e-30f, 1e-13f, 1.0f, 1e13f, 1e30f, 1e-40f}) {
        SCOPED_TRACE(scale);
        Matrix3 m = Matrix3::Zero();
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                m.m[i][j] = shape.m[i][j] * scale;
            }
        }
        Matrix3 inverse = m;
        if (scale < 1e-38f) { // its inverse is beyond float
            EXPECT_FALSE(InvertAtAnyScale(inverse));
            EXPECT_EQ(inverse.m[0][0], 0.0f);
            continue;
        }
        ASSERT_TRUE(InvertAtAnyScale(inverse));
        Matrix3 product;
        m.Multiply(inverse, product);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                EXPECT_NEAR(product.m[i][j], i == j ? 1.0f : 0.0f, 1e-5f) << i << j;
            }
        }
    }
    Matrix3 singular = Matrix3::FromRows(
        {{1e-13f, 2e-13f, 0.0f, 0.0f}, {2e-13f, 4e-13f, 0.0f, 0.0f}, {0.0f, 0.0f, 1e-13f, 0.0f}});
    EXPECT_FALSE(InvertAtAnyScale(singular));
    EXPECT_EQ(singular.m[2][2], 0.0f);
}

// The system's rows solved over its bodies: the product of the rows' matrix, solves of rows
// among themselves (each answer leaves nothing of its right side, through a factor made anew or
// changed row by row from the last solve's), and the exact step's answer over the rows.
void ExpectTheSameOverTheBodies(const IslandSystem& system, const IslandProfile& profile, int nb,
                                float h, std::mt19937& random) {
    const int m = system.m;
    ScratchArena scratch;
    ScratchArena::Scope scope(scratch);
    IslandBodySpace overBodies;
    ASSERT_TRUE(overBodies.Build(system, nb, h, profile.rank, scratch));
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<double> x(m);
    std::vector<double> product(m);
    for (double& value : x) {
        value = unit(random);
    }
    overBodies.Multiply(x.data(), product.data());
    for (int r = 0; r < m; ++r) {
        double expected = 0.0;
        double size = 0.0;
        for (int s = 0; s < m; ++s) {
            const float a = system.A[std::max(r, s) * system.nskip + std::min(r, s)];
            expected += a * x[s];
            size += std::fabs(a * x[s]);
        }
        EXPECT_NEAR(product[r], expected, 1e-4 * (1.0 + size)) << r;
    }
    // All rows, then one left out, then two more and the first back in.
    std::vector<bool> taken(m, true);
    for (int change = 0; change < 3; ++change) {
        if (change == 1) {
            taken[m / 2] = false;
        } else if (change == 2) {
            taken[m / 2] = true;
            taken[0] = taken[m - 1] = m < 3;
        }
        std::vector<int32_t> rows;
        for (int r = 0; r < m; ++r) {
            if (taken[r]) {
                rows.push_back(r);
            }
        }
        ScratchArena::Scope solveScope(scratch);
        overBodies.TakeRows(rows.data(), static_cast<int32_t>(rows.size()), scratch);
        std::vector<double> rhs(rows.size());
        for (double& value : rhs) {
            value = unit(random);
        }
        std::vector<double> answer = rhs;
        ASSERT_TRUE(overBodies.SolveTaken(answer.data(), scratch));
        std::fill(x.begin(), x.end(), 0.0);
        for (size_t k = 0; k < rows.size(); ++k) {
            x[rows[k]] = answer[k];
        }
        overBodies.Multiply(x.data(), product.data());
        for (size_t k = 0; k < rows.size(); ++k) {
            EXPECT_NEAR(product[rows[k]], rhs[k], 1e-9) << change << " " << rows[k];
        }
    }
    // The exact step's problem: the same answer over the rows' profile (in its order) and over
    // the bodies, but for the rounding of the profile's float products, which nearly redundant
    // rows (friction without bound) magnify.
    std::vector<double> b(system.rhs, system.rhs + m);
    std::vector<double> byBodies(m, 0.0);
    ASSERT_TRUE(SolveActiveSetLCP(overBodies, byBodies.data(), b.data(), system.lo, system.hi,
                                  system.findex, 64, scratch));
    std::vector<double> ordered(m);
    std::vector<float> lo(m);
    std::vector<float> hi(m);
    std::vector<int32_t> findex(m);
    for (int p = 0; p < m; ++p) {
        const int r = profile.order[p];
        ordered[p] = system.rhs[r];
        lo[p] = system.lo[r];
        hi[p] = system.hi[r];
        findex[p] = system.findex[r] < 0 ? -1 : profile.place[system.findex[r]];
    }
    std::vector<double> byRows(m, 0.0);
    ASSERT_TRUE(SolveActiveSetLCP(profile.matrix, byRows.data(), ordered.data(), lo.data(),
                                  hi.data(), findex.data(), 64, scratch));
    double largest = 0.0;
    for (double value : byRows) {
        largest = std::max(largest, std::fabs(value));
    }
    for (int p = 0; p < m; ++p) {
        EXPECT_NEAR(byBodies[profile.order[p]], byRows[p], 1e-2 * (1.0 + largest)) << p;
    }
}

TEST_F(IslandStep, TheSystemMatchesANaiveDoubleReferenceOnRandomIslands) {
    std::mt19937 random(50);
    const float h = 0.01f;
    for (int island = 0; island < 20; ++island) {
        const int nb = 2 + island % 4;
        std::vector<RigidBody*> bodies;
        for (int b = 0; b < nb; ++b) {
            auto* body = Body(RandomVector(random, 3.0f));
            body->SetOrientation(RandomTurn(random));
            Sphere(body, RandomVector(random, 0.5f), 0.3f + 0.1f * b);
            Sphere(body, RandomVector(random, 0.5f), 0.2f);
            body->SetLinearVelocity(RandomVector(random, 2.0f));
            body->SetAngularVelocity(RandomVector(random, 2.0f));
            body->AddForce(RandomVector(random, 5.0f));
            body->AddTorque(RandomVector(random, 5.0f));
            bodies.push_back(body);
        }
        auto* still = Body(RandomVector(random, 3.0f));
        still->SetState(BodyStatic);
        auto* carried = Body(RandomVector(random, 3.0f));
        carried->SetState(BodyKinematic);
        carried->SetLinearVelocity(RandomVector(random, 1.0f));
        carried->SetAngularVelocity(RandomVector(random, 1.0f));

        std::vector<std::unique_ptr<ContactJoint>> contacts;
        std::vector<Joint*> joints;
        const float mus[] = {0.0f, 0.6f, LCPInfinity};
        for (int j = 0; j < 2 * nb; ++j) {
            auto joint = std::make_unique<ContactJoint>();
            joint->Prepare(world_);
            joint->position = RandomVector(random, 3.0f);
            joint->normal = RandomVector(random, 1.0f);
            joint->normal.Normalize();
            joint->depth = std::uniform_real_distribution<float>(0.0f, 0.05f)(random);
            joint->surface.mode = ContactSoftErp | ContactSoftCfm | ContactFrictionScaled1;
            joint->surface.mu = mus[j % 3];
            joint->surface.softErp = 0.5f;
            joint->surface.softCfm = 1e-4f;
            RigidBody* partners[] = {bodies[(j + 1) % nb], still, carried, nullptr};
            RigidBody* partner = partners[j % 4];
            // Static and kinematic first bodies attach reversed.
            if (j % 5 == 4) {
                joint->Attach(partner, bodies[j % nb]);
            } else {
                joint->Attach(bodies[j % nb], partner);
            }
            joints.push_back(joint.get());
            contacts.push_back(std::move(joint));
        }

        ScratchArena::Scope scope(world_->GetScratch());
        IslandSystem system;
        BuildIslandSystem(bodies.data(), nb, joints.data(), static_cast<int32_t>(joints.size()), h,
                          h, world_->GetCfm(), world_->GetErp(), world_->GetScratch(), system);
        AssembleIslandMatrix(system, bodies.data(), nb, h, world_->GetScratch());
        const int m = system.m;
        ASSERT_GT(m, 0);
        // J in double: m rows over 6 nb columns, from the rows the joints wrote.
        std::vector<double> J(static_cast<size_t>(m) * 6 * nb, 0.0);
        std::vector<double> cfm(m);
        std::vector<double> c(m);
        for (int i = 0; i < system.jointCount; ++i) {
            const Joint& joint = *system.joints[i];
            const int m_i = system.info[i].m;
            for (int side = 0; side < 2; ++side) {
                const RigidBody* body = joint.GetBody(side);
                if (!body || !body->IsMovable()) {
                    continue;
                }
                for (int k = 0; k < m_i; ++k) {
                    const float* row = system.J + (2 * system.start[i] + side * m_i + k) * 8;
                    double* out = &J[(static_cast<size_t>(system.start[i]) + k) * 6 * nb +
                                     body->GetIslandTag() * 6];
                    for (int e = 0; e < 3; ++e) {
                        out[e] += row[e];
                        out[3 + e] += row[4 + e];
                    }
                }
            }
        }
        for (int r = 0; r < m; ++r) {
            cfm[r] = system.cfm[r];
            c[r] = system.c[r];
        }
        // M^-1 J^T column by column, and M^-1 F + v/h.
        std::vector<double> MJ(J.size());
        std::vector<double> tmp(6 * nb);
        for (int b = 0; b < nb; ++b) {
            RigidBody& body = *bodies[b];
            const double invMass = body.GetSolverInverseMass();
            double invI[3][3];
            InWorldSpace(body, body.GetSolverInverseInertia(), invI);
            for (int r = 0; r < m; ++r) {
                const double* row = &J[static_cast<size_t>(r) * 6 * nb + b * 6];
                double* out = &MJ[static_cast<size_t>(r) * 6 * nb + b * 6];
                for (int e = 0; e < 3; ++e) {
                    out[e] = invMass * row[e];
                    out[3 + e] = invI[e][0] * row[3] + invI[e][1] * row[4] + invI[e][2] * row[5];
                }
            }
            const Float3 f = body.GetForce();
            const Float3 t = body.GetTorque();
            const Float3 v = body.GetLinearVelocity();
            const Float3 w = body.GetAngularVelocity();
            const double force[3] = {f.x, f.y, f.z};
            const double torque[3] = {t.x, t.y, t.z};
            const double linear[3] = {v.x, v.y, v.z};
            const double angular[3] = {w.x, w.y, w.z};
            for (int e = 0; e < 3; ++e) {
                tmp[b * 6 + e] = invMass * force[e] + linear[e] / h;
                tmp[b * 6 + 3 + e] = invI[e][0] * torque[0] + invI[e][1] * torque[1] +
                                     invI[e][2] * torque[2] + angular[e] / h;
            }
        }
        for (int r = 0; r < m; ++r) {
            double rhs = c[r] / h;
            for (int k = 0; k < 6 * nb; ++k) {
                rhs += J[static_cast<size_t>(r) * 6 * nb + k] * tmp[k];
            }
            EXPECT_NEAR(system.rhs[r], rhs, 1e-4 * (1.0 + std::fabs(rhs))) << island << " " << r;
            for (int s = 0; s <= r; ++s) {
                double a = s == r ? cfm[r] / h : 0.0;
                for (int k = 0; k < 6 * nb; ++k) {
                    a += J[static_cast<size_t>(r) * 6 * nb + k] *
                         MJ[static_cast<size_t>(s) * 6 * nb + k];
                }
                EXPECT_NEAR(system.A[r * system.nskip + s], a, 1e-4 * (1.0 + std::fabs(a)))
                    << island << " " << r << "," << s;
            }
        }
        // The profile holds the same matrix with its rows reordered, and nothing lies outside it.
        IslandProfile profile;
        AssembleIslandProfile(system, bodies.data(), nb, h, world_->GetScratch(), profile);
        const ProfileMatrix& held = profile.matrix;
        for (int p = 0; p < m; ++p) {
            EXPECT_EQ(profile.place[profile.order[p]], p);
            for (int q = 0; q <= p; ++q) {
                const int r = std::max(profile.order[p], profile.order[q]);
                const int s = std::min(profile.order[p], profile.order[q]);
                const double dense = system.A[r * system.nskip + s];
                const double value = q >= held.first[p] ? held.Row(p)[q] : 0.0;
                EXPECT_NEAR(value, dense, 1e-4 * (1.0 + std::fabs(dense)))
                    << island << " " << p << "," << q;
            }
        }
        ExpectTheSameOverTheBodies(system, profile, nb, h, random);
        for (auto& joint : contacts) {
            joint->Release();
        }
    }
}

// A tensor alike about every axis is kept as it is, exactly, and turns no spin; a body on
// scaled axes, or one that is not alike about them (two balls apart), takes R^T I R.
TEST_F(IslandStep, AWorldInertiaIsTheBodysTensorTurnedAndABallsIsItsOwn) {
    struct Case {
        float scale;
        float apart;
        bool own;
    };
    std::mt19937 random(7);
    for (const Case& c :
         {Case{1.0f, 0.0f, true}, Case{2.0f, 0.0f, false}, Case{1.0f, 0.4f, false}}) {
        SCOPED_TRACE(testing::Message() << "scale " << c.scale << " apart " << c.apart);
        auto* body = Body(Float3());
        body->SetScale(c.scale);
        Sphere(body, Float3(c.apart, 0.0f, 0.0f), 0.5f);
        Sphere(body, Float3(-c.apart, 0.0f, 0.0f), 0.5f);
        body->UpdateMass(false);
        body->SetOrientation(RandomTurn(random));
        const Matrix3 world = WorldInertia(*body);
        const Matrix3& inertia = body->GetInertia();
        double turned[3][3];
        InWorldSpace(*body, inertia, turned);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                EXPECT_NEAR(world.m[i][j], turned[i][j], 1e-5 * std::fabs(world.m[0][0])) << i << j;
                if (c.own) {
                    EXPECT_EQ(world.m[i][j], inertia.m[i][j]) << i << j;
                }
            }
        }
        const Float3 torque = GyroscopicTorque(world, Float3(3.0f, -2.0f, 5.0f), 0.01f);
        EXPECT_EQ(torque.Length() == 0.0f, c.own);
    }
}

// A body that only contacts hold leaves a step no faster, in its kinetic energy with its turning,
// than it started or than its partners move, and a partner that turns vouches with its own
// kinetic speed, not its rim's: in piles, light bodies spun up in a pinch flung lighter ones at
// their rims' speed, step after step.
TEST_F(IslandStep, ASqueezedBodyIsHeldInItsTurningAndAPartnersRimVouchesNoFasterThanItself) {
    RigidBody* wheel = Body(Float3(0.0f, 0.5f, 0.0f));
    Sphere(wheel, Float3(), 0.5f);
    RigidBody* flung = Body(Float3(0.6f, 0.5f, 0.0f));
    Sphere(flung, Float3(), 0.1f);
    RigidBody* spun = Body(Float3(3.0f, 0.1f, 0.0f));
    Sphere(spun, Float3(), 0.1f);
    RigidBody* bodies[] = {flung, spun, wheel};
    for (int b = 0; b < 3; ++b) {
        bodies[b]->SetIslandTag(b);
    }
    ASSERT_GT(wheel->GetMass(), flung->GetMass());
    ContactJoint touching;
    ContactJoint onFloor;
    for (ContactJoint* contact : {&touching, &onFloor}) {
        contact->Prepare(world_);
        contact->surface.minDepth = 0.01f;
        contact->depth = 0.01f;
    }
    touching.position = Float3(0.5f, 0.5f, 0.0f);
    touching.normal = Float3(1.0f, 0.0f, 0.0f);
    touching.Attach(wheel, flung);
    onFloor.position = Float3(3.0f, 0.0f, 0.0f);
    onFloor.normal = Float3(0.0f, -1.0f, 0.0f);
    onFloor.Attach(spun, nullptr);

    // The wheel turns with its rim at 5 m/s, its kinetic speed 5 sqrt(2/5); the ball on the floor
    // rolls at 1 m/s.
    wheel->SetAngularVelocity(Float3(0.0f, 0.0f, 10.0f));
    spun->SetLinearVelocity(Float3(1.0f, 0.0f, 0.0f));
    ScratchArena& scratch = world_->GetScratch();
    ScratchArena::Scope scope(scratch);
    const StartMotion start = StartSpeeds(bodies, 3, WorldInertias(bodies, 3, scratch), scratch);
    EXPECT_NEAR(start.speed[2], 5.0f * std::sqrt(0.4f), 1e-4f);
    EXPECT_NEAR(start.speed[1], 1.0f, 1e-6f);
    // As a pinch's solve may leave them: the flung ball at the wheel's rim speed, the rolling
    // one spun up a hundredfold.
    flung->SetLinearVelocity(Float3(0.0f, 5.0f, 0.0f));
    spun->SetAngularVelocity(Float3(0.0f, 0.0f, 100.0f));
    HoldSqueezedBodies(bodies, 3, start, world_->GetTimestep(), scratch);

    ExpectNear(wheel->GetAngularVelocity(), Float3(0.0f, 0.0f, 10.0f), 1e-5f);
    ExpectNear(flung->GetLinearVelocity(), Float3(0.0f, 5.0f * std::sqrt(0.4f), 0.0f), 1e-4f);
    // Its speed and turn cut alike, to its start's energy.
    const Float3 v = spun->GetLinearVelocity();
    const Float3 w = spun->GetWorldAngularVelocity();
    const float energy = v.Dot(v) + w.Dot(WorldInertia(*spun).Transform(w)) / spun->GetMass();
    EXPECT_NEAR(energy, 1.0f, 1e-4f);
    EXPECT_NEAR(w.z / v.x, 100.0f, 1e-2f);
    touching.Release();
    onFloor.Release();
}

TEST_F(IslandStep, ASphereRestsOnTheGroundWithoutDrift) {
    auto* body = Body(Float3(0.0f, 0.5f, 0.0f));
    auto* ball = Sphere(body, Float3(), 0.5f);
    CollisionPlane* ground = Ground();
    for (int step = 1; step <= 1000; ++step) {
        Step({body}, {{ball, ground}}, 1.0f, 10.0f);
        const float depth = 0.5f - body->GetPosition().y;
        ASSERT_GE(depth, -1e-4f) << step;
        ASSERT_LE(depth, world_->GetContactMinDepth() + 0.001f) << step;
        if (step >= 200) {
            ASSERT_LT(body->GetLinearVelocity().Length(), 1e-3f) << step;
        }
    }
    EXPECT_NEAR(body->GetPosition().x, 0.0f, 1e-4f);
    EXPECT_NEAR(body->GetPosition().z, 0.0f, 1e-4f);
}

TEST_F(IslandStep, CollidingSpheresKeepMomentumWithoutGravity) {
    auto* a = Body(Float3(-1.0f, 0.0f, 0.0f));
    auto* b = Body(Float3(1.0f, 0.3f, 0.0f));
    auto* ballA = Sphere(a, Float3(), 0.5f);
    auto* ballB = Sphere(b, Float3(), 0.5f);
    a->SetLinearVelocity(Float3(3.0f, 0.0f, 0.5f));
    b->SetLinearVelocity(Float3(-1.0f, 0.0f, 0.0f));
    b->SetAngularVelocity(Float3(0.0f, 2.0f, 0.0f));
    const float m = a->GetMass();
    auto momentum = [&] { return a->GetLinearVelocity() * m + b->GetLinearVelocity() * m; };
    // About the origin: r x (m v) plus each sphere's own spin (I w, isotropic), with this
    // engine's sign for the spin (a point moves with r x w).
    auto angular = [&](RigidBody* body) {
        const Float3 p = body->GetWorldPosition();
        return (p.Cross(body->GetLinearVelocity()) * m) -
               body->GetAngularVelocity() * body->GetInertia().m[0][0];
    };
    const Float3 before = momentum();
    const Float3 spinBefore = angular(a) + angular(b);
    // The push-out moves the balls apart without speed, which moves r x (m v) too: the forces'
    // share is what their velocity changes give about where the balls were as they acted.
    Float3 spinChange;
    bool touched = false;
    for (int step = 0; step < 100; ++step) {
        const Float3 places[] = {a->GetWorldPosition(), b->GetWorldPosition()};
        const Float3 velocities[] = {a->GetLinearVelocity(), b->GetLinearVelocity()};
        const Float3 spins[] = {a->GetAngularVelocity(), b->GetAngularVelocity()};
        Step({a, b}, {{ballA, ballB}}, 0.5f, 0.0f);
        touched = touched || !contacts_.empty();
        int k = 0;
        for (RigidBody* body : {a, b}) {
            spinChange = spinChange +
                         places[k].Cross(body->GetLinearVelocity() - velocities[k]) * m -
                         (body->GetAngularVelocity() - spins[k]) * body->GetInertia().m[0][0];
            ++k;
        }
    }
    ASSERT_TRUE(touched);
    ExpectNear(momentum(), before, 1e-5f * before.Length());
    ExpectNear(spinChange, Float3(), 5e-5f * spinBefore.Length());
}

TEST_F(IslandStep, DuplicatedContactsWithoutCfmGiveNoNaN) {
    auto* body = Body(Float3(0.0f, 0.45f, 0.0f));
    body->SetMass(1.0f);
    ContactJoint first;
    ContactJoint second;
    for (ContactJoint* joint : {&first, &second}) {
        joint->Prepare(world_);
        joint->position = Float3(0.0f, 0.0f, 0.0f);
        joint->normal = Float3(0.0f, 1.0f, 0.0f);
        joint->depth = 0.05f;
        joint->Attach(body, nullptr);
    }
    RigidBody* bodies[] = {body};
    Joint* joints[] = {&first, &second};
    body->AddForce(Float3(0.0f, -10.0f, 0.0f));
    StepIslandLCP(bodies, 1, joints, 2, 0.01f, 0.0f, 0.2f, world_->GetScratch());
    const Float3 v = body->GetLinearVelocity();
    EXPECT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z));
    EXPECT_TRUE(std::isfinite(body->GetPosition().y));
    // Held, and pushed out.
    EXPECT_GE(v.y, -1e-5f);
    EXPECT_GT(body->GetPosition().y, 0.45f);
    first.Release();
    second.Release();
}

TEST_F(IslandStep, AJointOfABodyOutsideTheIslandIsReportedAndLeftOut) {
    RecordingAssertionHook assertions;
    auto* inside = Body(Float3());
    auto* outside = Body(Float3(0.0f, 5.0f, 0.0f));
    outside->SetIslandTag(7);
    ContactJoint joint;
    joint.normal = Float3(0.0f, 1.0f, 0.0f);
    joint.depth = 0.5f;
    joint.Attach(outside, inside);
    RigidBody* bodies[] = {inside};
    Joint* joints[] = {&joint};
    inside->AddForce(Float3(0.0f, -10.0f, 0.0f));
    EXPECT_TRUE(StepIslandLCP(bodies, 1, joints, 1, 0.01f, 1e-5f, 0.2f, world_->GetScratch()));
    EXPECT_EQ(joint.GetIslandTag(), -1);
    EXPECT_EQ(assertions.Messages().size(), 1u);
    EXPECT_FLOAT_EQ(inside->GetLinearVelocity().y, -0.1f);
    joint.Detach();
}

// Unbounded rows that all hold the first body's linear velocity along one axis at 0.
class AxisLockJoint : public Joint {
public:
    AxisLockJoint(int rows, Float3 axis) : rows_(rows), axis_(axis) {}
    void GetInfo1(JointInfo1& info) override { info.m = info.nub = rows_; }
    void GetInfo2(JointInfo2& info) override {
        for (int row = 0; row < rows_; ++row) {
            info.J1l[row * info.rowSkip] = axis_.x;
            info.J1l[row * info.rowSkip + 1] = axis_.y;
            info.J1l[row * info.rowSkip + 2] = axis_.z;
        }
    }

private:
    int rows_;
    Float3 axis_;
};

TEST_F(IslandStep, ASingularSolveIsRetriedWithCfmAndAFailedOneIsSteppedIteratively) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        Float3 axis;
        bool solvable;
    };
    for (const Case& c :
         {Case{Float3(0.0f, 1.0f, 0.0f), true}, Case{Float3(nan, 1.0f, 0.0f), false}}) {
        CapturingLogSink log;
        auto* body = Body(Float3());
        body->SetMass(1.0f);
        body->SetLinearVelocity(Float3(1.0f, -2.0f, 0.0f));
        AxisLockJoint joint(2, c.axis); // the same row twice: singular without cfm
        joint.Attach(body, nullptr);
        RigidBody* bodies[] = {body};
        Joint* joints[] = {&joint};
        for (int step = 0; step < 2; ++step) {
            body->AddForce(Float3(0.0f, -10.0f, 0.0f));
            EXPECT_EQ(StepIslandLCP(bodies, 1, joints, 1, 0.01f, 0.0f, 0.2f, world_->GetScratch()),
                      c.solvable);
        }
        EXPECT_EQ(body->GetForce().y, 0.0f);
        EXPECT_NEAR(body->GetPosition().x, 0.02f, 1e-6f);
        if (c.solvable) {
            EXPECT_NEAR(body->GetLinearVelocity().y, 0.0f, 1e-3f);
            EXPECT_TRUE(log.Lines().empty());
        } else {
            // The iterative step gives rows that are not numbers no force: the body falls.
            ExpectNear(body->GetLinearVelocity(), Float3(1.0f, -2.2f, 0.0f), 1e-5f);
            ASSERT_EQ(log.Lines().size(), 1u);
            EXPECT_TRUE(log.Contains("(bodies 1, rows 2); it was stepped iteratively"))
                << log.Lines()[0].text;
        }
        joint.Detach();
    }
}

} // namespace
} // namespace quarn::test
