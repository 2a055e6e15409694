#include "physics/IslandStepLCP.h"

#include "core/debug/Assertion.h"
#include "physics/ActiveSetLCP.h"
#include "physics/BodyBlockMatrix.h"
#include "physics/ContactJoint.h"
#include "physics/IslandBodySpace.h"
#include "physics/IslandStep.h"
#include "physics/IslandStepIterative.h"
#include "physics/IslandSubsteps.h"
#include "physics/Joint.h"
#include "physics/LCPSolver.h"
#include "physics/MatrixKernels.h"
#include "physics/PhysicsMaster.h"
#include "physics/PushOut.h"
#include "physics/RigidBody.h"
#include "physics/ScratchArena.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace quarn {
namespace {

constexpr int RowFloats = 8;
// The retry's share: the pivoting solve then keeps about five of float's seven digits.
constexpr float RetryCfmShare = 1e-2f;
// The solves after a softened one that take back what the softening leaves of the rows' own
// answer (SolveSoftened): each leaves a loaded row about a hundredth of the last one's error.
constexpr int SofteningPasses = 2;
// Below this many rows the pivoting solve is as quick as setting up the active sets.
constexpr int32_t ActiveSetMinRows = 24;
// Solves the active sets may take before the pivoting solve takes over: a resting island
// settles in two to four, a heap struck by a falling box in a dozen or so. Fewer than the least
// are not worth trying.
constexpr int32_t ActiveSetMaxSolves = 64;
constexpr int32_t ActiveSetMinSolves = 4;

// The push-out's exact solve may take this share of the island's bound, on top of it: a column's
// normal rows, a narrow profile, take a small part of that, while in a tumbling heap, whose
// contacts meet deep every step, it would be most of the step's cost again. Where it does not fit
// the push-out is swept.
constexpr int64_t PushOutWorkShare = 8;

std::atomic<bool> failExactSolves{false};

// What an island's exact solve may still spend, in multiply-adds.
struct ExactWork {
    ExactWork(int32_t m, int64_t perRow)
        : bound(perRow * m), left(bound), pivoting(static_cast<int64_t>(m) * m * m / 3) {
        // The pivoting solve, and its softer retry, are kept room for when both fit: the active
        // sets have the rest.
        if (2 * pivoting <= bound) {
            left -= 2 * pivoting;
            reserved = 2 * pivoting;
        }
    }
    // Takes one pivoting solve's work; false when it does not fit.
    bool TakePivoting() {
        if (pivoting > reserved) {
            overBound = true;
            return false;
        }
        reserved -= pivoting;
        return true;
    }
    int64_t Spent() const { return bound - left - reserved; }

    int64_t bound;
    int64_t left; // for the active sets
    int64_t pivoting;
    int64_t reserved = 0;
    bool overBound = false; // the pivoting solve did not fit
};

float RowDot(const float* a, const float* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[4] * b[4] + a[5] * b[5] + a[6] * b[6];
}

// A[i][j] (+)= P_i . Q_j for the p rows of P and r rows of Q.
void RowBlockProduct(float* A, int askip, int p, const float* P, const float* Q, int r, bool add) {
    if (!QUARN_CHECK_ASSERTION(p > 0 && r > 0 && A && P && Q, "p>0 && r>0 && A && B && C")) {
        return;
    }
    for (int i = 0; i < p; ++i) {
        for (int j = 0; j < r; ++j) {
            const float product = RowDot(P + i * RowFloats, Q + j * RowFloats);
            A[i * askip + j] = add ? A[i * askip + j] + product : product;
        }
    }
}

// out[i] (+)= J_i . v for p rows.
void RowTimesVector(float* out, const float* J, const float* v, int p, bool add) {
    if (!QUARN_CHECK_ASSERTION(p > 0 && out && J && v, "p>0 && A && B && C")) {
        return;
    }
    for (int i = 0; i < p; ++i) {
        const float product = RowDot(J + i * RowFloats, v);
        out[i] = add ? out[i] + product : product;
    }
}

// Sum of lambda_k times the first three floats of row k.
Float3 LinearSumOfRows(const float* J, const float* lambda, int q) {
    Float3 sum;
    for (int k = 0; k < q; ++k) {
        sum = sum + Float3(J[k * RowFloats], J[k * RowFloats + 1], J[k * RowFloats + 2]) * lambda[k];
    }
    return sum;
}

Float3 Load(const float* row) {
    return {row[0], row[1], row[2]};
}

// The joint's place among the kept joints, or -1 for one this island did not keep.
int KeptIndex(const IslandSystem& system, const Joint* joint) {
    const int tag = joint->GetIslandTag();
    return tag >= 0 && tag < system.jointCount && system.joints[tag] == joint ? tag : -1;
}

// Calls visit(body, j1, j2) for every pair of the island's kept joints that share a body: a
// pair that shares two bodies comes once for each.
template <typename Visit>
void ForEachPairOnABody(const IslandSystem& system, RigidBody* const* bodies, int nb, Visit visit) {
    for (int b = 0; b < nb; ++b) {
        for (JointNode* node1 = bodies[b]->GetJointList(); node1; node1 = node1->next) {
            for (JointNode* node2 = node1->next; node2; node2 = node2->next) {
                const int j1 = KeptIndex(system, node1->joint);
                const int j2 = KeptIndex(system, node2->joint);
                if (j1 >= 0 && j2 >= 0 && j1 != j2) {
                    visit(bodies[b], j1, j2);
                }
            }
        }
    }
}

// Where kept joint i's rows lie in J.
JointJacobian RowsOf(const IslandSystem& system, int i) {
    JointJacobian rows;
    rows.linear[0] = system.J + 2 * system.start[i] * RowFloats;
    rows.linear[1] = rows.linear[0] + system.info[i].m * RowFloats;
    rows.angular[0] = rows.linear[0] + 4;
    rows.angular[1] = rows.linear[1] + 4;
    rows.rowSkip = RowFloats;
    return rows;
}

// A from the rows: diagonal blocks for every joint, off-diagonal blocks for pairs of joints that
// share a body (lower triangle only), then cfm/h on the diagonal.
void FillMatrix(IslandSystem& system, RigidBody* const* bodies, int nb, float inverseH) {
    SetZero(system.A, system.m * system.nskip);
    ForEachPairOnABody(system, bodies, nb, [&system](const RigidBody* body, int j1, int j2) {
        if (system.start[j1] < system.start[j2]) {
            std::swap(j1, j2);
        }
        const Joint* joint1 = system.joints[j1];
        const Joint* joint2 = system.joints[j2];
        const int s1 = joint1->GetBody(1) == body ? 1 : 0;
        const int s2 = joint2->GetBody(1) == body ? 1 : 0;
        QUARN_CHECK_ASSERTION(joint1->GetBody(1) || s1 == 0, "joint[j1]->GetBody2() || jb1==0");
        QUARN_CHECK_ASSERTION(joint2->GetBody(1) || s2 == 0, "joint[j2]->GetBody2() || jb2==0");
        const int m1 = system.info[j1].m;
        const int m2 = system.info[j2].m;
        RowBlockProduct(system.A + system.start[j1] * system.nskip + system.start[j2], system.nskip,
                        m1, system.JM + (2 * system.start[j1] + s1 * m1) * RowFloats,
                        system.J + (2 * system.start[j2] + s2 * m2) * RowFloats, m2, true);
    });
    for (int i = 0; i < system.jointCount; ++i) {
        const int m = system.info[i].m;
        const int row = 2 * system.start[i] * RowFloats;
        float* block = system.A + system.start[i] * system.nskip + system.start[i];
        RowBlockProduct(block, system.nskip, m, system.JM + row, system.J + row, m, false);
        if (system.secondTakesPart[i]) {
            RowBlockProduct(block, system.nskip, m, system.JM + row + m * RowFloats,
                            system.J + row + m * RowFloats, m, true);
        }
    }
    for (int r = 0; r < system.m; ++r) {
        system.A[r * system.nskip + r] += system.cfm[r] * inverseH;
    }
}

} // namespace

void BuildIslandSystem(RigidBody* const* bodies, int32_t nb, Joint* const* joints, int32_t nj,
                       float h, float worldStep, float worldCfm, float worldErp,
                       ScratchArena& scratch, IslandSystem& system) {
    const float inverseH = 1.0f / h;
    system = IslandSystem();

    system.inverseMass = scratch.Take<float>(nb);
    system.inverseInertia = scratch.Take<Matrix3>(nb);
    for (int b = 0; b < nb; ++b) {
        RigidBody& body = *bodies[b];
        body.SetIslandTag(b);
        system.inverseMass[b] = body.GetSolverInverseMass();
        system.inverseInertia[b] = WorldInverseInertia(body);
    }

    // Keep the joints with rows, then give them row offsets: all-unbounded first, then mixed,
    // then bounded, so the solver can take the unbounded block in one factorisation.
    system.joints = scratch.Take<Joint*>(nj);
    system.info = scratch.Take<JointInfo1>(nj);
    for (int i = 0; i < nj; ++i) {
        JointInfo1 info;
        if (!GetIslandRows(*joints[i], bodies, nb, info)) {
            joints[i]->SetIslandTag(-1);
            continue;
        }
        joints[i]->SetIslandTag(system.jointCount);
        system.joints[system.jointCount] = joints[i];
        system.info[system.jointCount] = info;
        ++system.jointCount;
    }
    system.start = scratch.Take<int32_t>(system.jointCount);
    system.secondTakesPart = scratch.Take<bool>(system.jointCount);
    for (int i = 0; i < system.jointCount; ++i) {
        const RigidBody* second = system.joints[i]->GetBody(1);
        system.secondTakesPart[i] = second && second->IsMovable() && InIsland(second, bodies, nb);
    }
    int m = 0;
    for (int pass = 0; pass < 3; ++pass) {
        for (int i = 0; i < system.jointCount; ++i) {
            const JointInfo1& info = system.info[i];
            const int kind = info.nub == info.m ? 0 : info.nub > 0 ? 1 : 2;
            if (kind == pass) {
                system.start[i] = m;
                m += info.m;
            }
        }
        if (pass == 0) {
            system.nub = m;
        }
    }
    system.m = m;
    if (m == 0) {
        return;
    }
    system.nskip = MatrixStride(m);

    system.c = scratch.Take<float>(m);
    system.cfm = scratch.Take<float>(m);
    system.lo = scratch.Take<float>(m);
    system.hi = scratch.Take<float>(m);
    system.findex = scratch.Take<int32_t>(m);
    system.rhs = scratch.Take<float>(m);
    system.J = scratch.Take<float>(2 * m * RowFloats);
    system.JM = scratch.Take<float>(2 * m * RowFloats);
    system.diagonal = scratch.Take<float>(m);
    SetZero(system.c, m);
    SetValue(system.cfm, m, worldCfm);
    SetValue(system.lo, m, -LCPInfinity);
    SetValue(system.hi, m, LCPInfinity);
    std::fill(system.findex, system.findex + m, -1);
    SetZero(system.J, 2 * m * RowFloats);
    SetZero(system.JM, 2 * m * RowFloats);

    JointInfo2 info2;
    info2.fps = 1.0f / worldStep;
    info2.h = h;
    info2.erp = worldErp;
    info2.rowSkip = RowFloats;
    for (int i = 0; i < system.jointCount; ++i) {
        const int start = system.start[i];
        info2.J1l = system.J + 2 * start * RowFloats;
        info2.J1a = info2.J1l + 4;
        info2.J2l = info2.J1l + system.info[i].m * RowFloats;
        info2.J2a = info2.J2l + 4;
        info2.c = system.c + start;
        info2.cfm = system.cfm + start;
        info2.lo = system.lo + start;
        info2.hi = system.hi + start;
        info2.findex = system.findex + start;
        system.joints[i]->GetInfo2(info2);
        for (int k = 0; k < system.info[i].m; ++k) {
            if (info2.findex[k] >= 0) {
                info2.findex[k] += start;
            }
        }
    }

    // JM = J M^-1, the angular parts as row vectors times the world inverse inertia.
    for (int i = 0; i < system.jointCount; ++i) {
        const Joint& joint = *system.joints[i];
        const int m_i = system.info[i].m;
        for (int side = 0; side < 2; ++side) {
            if (side == 1 && !system.secondTakesPart[i]) {
                break;
            }
            const int b = joint.GetBody(side)->GetIslandTag();
            for (int k = 0; k < m_i; ++k) {
                const int row = (2 * system.start[i] + side * m_i + k) * RowFloats;
                StoreJacobian(system.JM + row, Load(system.J + row) * system.inverseMass[b]);
                StoreJacobian(system.JM + row + 4,
                         system.inverseInertia[b].TransformRow(Load(system.J + row + 4)));
            }
        }
    }
    float* heaviest = scratch.Take<float>(nb);
    HeaviestJoined(bodies, nb, system.joints, system.jointCount, system.inverseMass, heaviest,
                   scratch);
    for (int i = 0; i < system.jointCount; ++i) {
        const int m_i = system.info[i].m;
        const float* J = system.J + 2 * system.start[i] * RowFloats;
        const float* JM = system.JM + 2 * system.start[i] * RowFloats;
        const Joint& joint = *system.joints[i];
        const int first = joint.GetBody(0)->GetIslandTag();
        const int second = system.secondTakesPart[i] ? joint.GetBody(1)->GetIslandTag() : -1;
        // A contact softens as for the lighter of its bodies; a joint as for the heaviest body it
        // is joined to.
        const bool contact = joint.GetType() == JointContact;
        const float lightest1 = contact ? system.inverseMass[first] : heaviest[first];
        const float lightest2 = contact && second >= 0 ? system.inverseMass[second] : 0.0f;
        for (int k = 0; k < m_i; ++k) {
            float d = RowDot(JM + k * RowFloats, J + k * RowFloats);
            if (system.secondTakesPart[i]) {
                d += RowDot(JM + (m_i + k) * RowFloats, J + (m_i + k) * RowFloats);
            }
            const int r = system.start[i] + k;
            system.diagonal[r] = d;
            system.cfm[r] = std::max(MassScaledCfm(system.cfm[r], lightest1, lightest2),
                                     MinimumCfmShare * d * h);
        }
    }

    // rhs = c/h + J (M^-1 F + v/h)
    float* tmp = scratch.Take<float>(static_cast<size_t>(nb) * RowFloats);
    for (int b = 0; b < nb; ++b) {
        RigidBody& body = *bodies[b];
        const Float3 v = ToWorldSpace(body.GetTransformParent(), body.GetLinearVelocity());
        const Float3 w = ToWorldSpace(body.GetTransformParent(), body.GetAngularVelocity());
        float* t = tmp + b * RowFloats;
        StoreJacobian(t, body.GetForce() * system.inverseMass[b] + v * inverseH);
        StoreJacobian(t + 4, system.inverseInertia[b].Transform(body.GetTorque()) + w * inverseH);
        t[3] = t[7] = 0.0f;
    }
    for (int i = 0; i < system.jointCount; ++i) {
        const Joint& joint = *system.joints[i];
        const int m_i = system.info[i].m;
        const float* rows = system.J + 2 * system.start[i] * RowFloats;
        float* out = system.rhs + system.start[i];
        RowTimesVector(out, rows, tmp + joint.GetBody(0)->GetIslandTag() * RowFloats, m_i, false);
        if (system.secondTakesPart[i]) {
            RowTimesVector(out, rows + m_i * RowFloats,
                           tmp + joint.GetBody(1)->GetIslandTag() * RowFloats, m_i, true);
        }
    }
    for (int r = 0; r < m; ++r) {
        system.rhs[r] = system.c[r] * inverseH + system.rhs[r];
    }
}

void AssembleIslandMatrix(IslandSystem& system, RigidBody* const* bodies, int32_t nb, float h,
                          ScratchArena& scratch) {
    system.A = scratch.Take<float>(static_cast<size_t>(system.m) * system.nskip);
    FillMatrix(system, bodies, nb, 1.0f / h);
}

namespace {

// The island's bodies ranked breadth first from one end of each part its kept joints link
// (RankLinkedBodies).
void RankIslandBodies(const IslandSystem& system, int nb, int32_t* rank, ScratchArena& scratch) {
    ScratchArena::Scope scope(scratch);
    int32_t* links = scratch.Take<int32_t>(2 * static_cast<size_t>(std::max(system.jointCount, 1)));
    int32_t count = 0;
    for (int i = 0; i < system.jointCount; ++i) {
        if (system.secondTakesPart[i]) {
            links[2 * count] = system.joints[i]->GetBody(0)->GetIslandTag();
            links[2 * count + 1] = system.joints[i]->GetBody(1)->GetIslandTag();
            ++count;
        }
    }
    RankLinkedBodies(nb, links, count, rank, scratch);
}

} // namespace

void OrderIslandRows(const IslandSystem& system, int32_t nb, ScratchArena& scratch,
                     IslandProfile& profile) {
    const int m = system.m;
    const int jointCount = system.jointCount;
    int32_t* rank = profile.rank = scratch.Take<int32_t>(static_cast<size_t>(nb));
    RankIslandBodies(system, nb, rank, scratch);
    // Joints by the ranks of their bodies, the lower first; a joint to the world by its body's.
    int32_t* sorted = scratch.Take<int32_t>(static_cast<size_t>(jointCount));
    int64_t* key = scratch.Take<int64_t>(static_cast<size_t>(jointCount));
    for (int i = 0; i < jointCount; ++i) {
        const int r1 = rank[system.joints[i]->GetBody(0)->GetIslandTag()];
        const int r2 =
            system.secondTakesPart[i] ? rank[system.joints[i]->GetBody(1)->GetIslandTag()] : r1;
        key[i] = static_cast<int64_t>(std::min(r1, r2)) * nb + std::max(r1, r2);
        sorted[i] = i;
    }
    std::sort(sorted, sorted + jointCount,
              [key](int32_t a, int32_t b) { return key[a] != key[b] ? key[a] < key[b] : a < b; });
    int32_t* position = scratch.Take<int32_t>(static_cast<size_t>(jointCount));
    profile.jointPosition = position;
    profile.order = scratch.Take<int32_t>(static_cast<size_t>(m));
    profile.place = scratch.Take<int32_t>(static_cast<size_t>(m));
    int32_t next = 0;
    for (int k = 0; k < jointCount; ++k) {
        const int i = sorted[k];
        position[i] = next;
        for (int row = 0; row < system.info[i].m; ++row) {
            profile.order[next] = system.start[i] + row;
            profile.place[system.start[i] + row] = next;
            ++next;
        }
    }
    // A joint's rows begin at the first row of any joint sharing one of its bodies.
    int32_t* firstOfBody = scratch.Take<int32_t>(static_cast<size_t>(nb));
    std::fill(firstOfBody, firstOfBody + nb, m);
    auto bodyOf = [&system](int i, int side) {
        return system.joints[i]->GetBody(side)->GetIslandTag();
    };
    for (int i = 0; i < jointCount; ++i) {
        for (int side = 0; side < (system.secondTakesPart[i] ? 2 : 1); ++side) {
            firstOfBody[bodyOf(i, side)] = std::min(firstOfBody[bodyOf(i, side)], position[i]);
        }
    }
    int32_t* first = scratch.Take<int32_t>(static_cast<size_t>(m));
    for (int i = 0; i < jointCount; ++i) {
        int32_t from = firstOfBody[bodyOf(i, 0)];
        if (system.secondTakesPart[i]) {
            from = std::min(from, firstOfBody[bodyOf(i, 1)]);
        }
        std::fill(first + position[i], first + position[i] + system.info[i].m, from);
    }
    profile.matrix = ProfileMatrix();
    profile.matrix.n = m;
    profile.matrix.first = first;
}

void FillIslandProfile(const IslandSystem& system, RigidBody* const* bodies, int32_t nb, float h,
                       ScratchArena& scratch, IslandProfile& profile) {
    const int32_t* position = profile.jointPosition;
    ProfileMatrix& matrix = profile.matrix;
    TakeProfile(matrix, system.m, matrix.first, scratch);

    // As FillMatrix: the blocks of joints sharing a body, then each joint's own.
    ForEachPairOnABody(system, bodies, nb, [&](const RigidBody* body, int j1, int j2) {
        if (position[j1] < position[j2]) {
            std::swap(j1, j2);
        }
        const int s1 = system.joints[j1]->GetBody(1) == body ? 1 : 0;
        const int s2 = system.joints[j2]->GetBody(1) == body ? 1 : 0;
        const int m1 = system.info[j1].m;
        const int m2 = system.info[j2].m;
        const float* P = system.JM + (2 * system.start[j1] + s1 * m1) * RowFloats;
        const float* Q = system.J + (2 * system.start[j2] + s2 * m2) * RowFloats;
        for (int k = 0; k < m1; ++k) {
            double* row = matrix.Row(position[j1] + k) + position[j2];
            for (int l = 0; l < m2; ++l) {
                row[l] += RowDot(P + k * RowFloats, Q + l * RowFloats);
            }
        }
    });
    const float inverseH = 1.0f / h;
    for (int i = 0; i < system.jointCount; ++i) {
        const int m_i = system.info[i].m;
        const float* JM = system.JM + 2 * system.start[i] * RowFloats;
        const float* J = system.J + 2 * system.start[i] * RowFloats;
        for (int k = 0; k < m_i; ++k) {
            double* row = matrix.Row(position[i] + k) + position[i];
            for (int l = 0; l <= k; ++l) {
                float value = RowDot(JM + k * RowFloats, J + l * RowFloats);
                if (system.secondTakesPart[i]) {
                    value += RowDot(JM + (m_i + k) * RowFloats, J + (m_i + l) * RowFloats);
                }
                row[l] = value;
            }
            row[k] += system.cfm[system.start[i] + k] * inverseH;
        }
    }
}

void AssembleIslandProfile(const IslandSystem& system, RigidBody* const* bodies, int32_t nb,
                           float h, ScratchArena& scratch, IslandProfile& profile) {
    OrderIslandRows(system, nb, scratch, profile);
    FillIslandProfile(system, bodies, nb, h, scratch, profile);
}

int64_t LastExactSolveWork = 0;

void FailExactSolvesForTests(bool fail) {
    failExactSolves.store(fail, std::memory_order_relaxed);
}

namespace {

// One problem over the island's matrix: its right-hand side and bounds per system row (findex
// may be null), and the forces the active sets start from.
struct ExactProblem {
    const float* rhs = nullptr;
    const float* lo = nullptr;
    const float* hi = nullptr;
    const int32_t* findex = nullptr;
    const float* start = nullptr;
    bool zerosHeld = false; // the start is an answer of the same rows (SolveActiveSetLCP)
};

// The exact solves of one island, which share its matrix: the profile is ordered and filled
// once, the dense matrix assembled once and filled again after a pivoting solve permuted it.
struct ExactSolves {
    IslandSystem& system;
    RigidBody* const* bodies;
    int nb;
    float h;
    ExactWork* work;
    ScratchArena& scratch;
    IslandProfile profile;
    bool profileOrdered = false;
    bool profileFilled = false;
    // Solved over the bodies rather than the rows, where that costs less (IslandBodySpace).
    IslandBodySpace bodySpace;
    bool overBodies = false;
    double activeSetBudget = 0.0; // solves
    bool denseFresh = false;
};

// The active sets over the island's profile, or over its bodies where a solve costs less there,
// from the problem's start.
bool SolveByActiveSets(ExactSolves& solves, const ExactProblem& problem, float* lambda) {
    const IslandSystem& system = solves.system;
    ScratchArena& scratch = solves.scratch;
    const int m = system.m;
    IslandProfile& profile = solves.profile;
    if (!solves.profileOrdered) {
        solves.profileOrdered = true;
        OrderIslandRows(system, solves.nb, scratch, profile);
        // A solve over the rows costs about half their profile's factor work (its free rows);
        // one over the bodies its factor whatever rows are free.
        double solveWork = 0.5 * static_cast<double>(profile.matrix.FactorWork());
        if (solves.bodySpace.Build(system, solves.nb, solves.h, profile.rank, scratch) &&
            static_cast<double>(solves.bodySpace.SolveWork()) < solveWork) {
            solves.overBodies = true;
            solveWork = static_cast<double>(solves.bodySpace.SolveWork());
        }
        // The pivoting solve costs about m^3 / 3: the active sets may spend as much before they
        // hand over. An island whose rows all share bodies (a crowd on one spot) leaves them too
        // few solves to try.
        const double m3 = static_cast<double>(m) * m * m;
        solves.activeSetBudget = std::min(m3 / (3.0 * std::max(solveWork, 1.0)),
                                          static_cast<double>(ActiveSetMaxSolves));
    }
    if (solves.activeSetBudget < ActiveSetMinSolves) {
        return false;
    }
    const bool overBodies = solves.overBodies;
    // Past the rows the exact step takes by its rows, not even a solve over them is begun; nor
    // over the bodies where the work left does not hold the two solves the least problem takes.
    if (overBodies ? 2 * solves.bodySpace.SolveWork() > solves.work->left : m > MaxDenseRows) {
        return false;
    }
    if (!overBodies && !solves.profileFilled) {
        solves.profileFilled = true;
        FillIslandProfile(system, solves.bodies, solves.nb, solves.h, scratch, profile);
    }
    ScratchArena::Scope scope(scratch);
    double* x = scratch.Take<double>(m);
    double* b = scratch.Take<double>(m);
    float* lo = scratch.Take<float>(m);
    float* hi = scratch.Take<float>(m);
    int32_t* findex = problem.findex ? scratch.Take<int32_t>(m) : nullptr;
    // Over the bodies the rows keep the system's order.
    const auto rowAt = [&](int p) { return overBodies ? p : profile.order[p]; };
    for (int p = 0; p < m; ++p) {
        const int r = rowAt(p);
        x[p] = problem.start ? problem.start[r] : 0.0;
        b[p] = problem.rhs[r];
        lo[p] = problem.lo[r];
        hi[p] = problem.hi[r];
        if (findex) {
            // A friction index naming no row gives its row no force, as in the pivoting solve.
            const int32_t normal = problem.findex[r];
            findex[p] = normal < 0    ? -1
                        : normal >= m ? m
                        : overBodies  ? normal
                                      : profile.place[normal];
        }
    }
    const int32_t maxSolves = static_cast<int32_t>(solves.activeSetBudget);
    const bool solved =
        overBodies ? SolveActiveSetLCP(solves.bodySpace, x, b, lo, hi, findex, maxSolves, scratch,
                                       &solves.work->left, problem.zerosHeld)
                   : SolveActiveSetLCP(profile.matrix, x, b, lo, hi, findex, maxSolves, scratch,
                                       &solves.work->left, problem.zerosHeld);
    if (!solved) {
        return false;
    }
    for (int p = 0; p < m; ++p) {
        lambda[rowAt(p)] = static_cast<float>(x[p]);
    }
    return AllFinite(lambda, static_cast<size_t>(m));
}

// The pivoting solve of the dense matrix; once more with softer rows if it fails. Neither is
// begun past the work bound.
bool SolveByPivoting(ExactSolves& solves, const ExactProblem& problem, float* lambda) {
    IslandSystem& system = solves.system;
    ScratchArena& scratch = solves.scratch;
    const int m = system.m;
    if (!solves.work->TakePivoting()) {
        return false;
    }
    if (!system.A) {
        AssembleIslandMatrix(system, solves.bodies, solves.nb, solves.h, scratch);
    } else if (!solves.denseFresh) {
        FillMatrix(system, solves.bodies, solves.nb, 1.0f / solves.h);
    }
    ScratchArena::Scope scope(scratch);
    // The solver changes its arguments; a retry starts again from these copies.
    float* rhs = scratch.Take<float>(m);
    float* lo = scratch.Take<float>(m);
    float* hi = scratch.Take<float>(m);
    int32_t* findex = problem.findex ? scratch.Take<int32_t>(m) : nullptr;
    float* w = scratch.Take<float>(m);
    auto solve = [&] {
        std::memcpy(rhs, problem.rhs, sizeof(float) * m);
        std::memcpy(lo, problem.lo, sizeof(float) * m);
        std::memcpy(hi, problem.hi, sizeof(float) * m);
        if (findex) {
            std::memcpy(findex, problem.findex, sizeof(int32_t) * m);
        }
        solves.denseFresh = false;
        SolveLCP(m, system.A, lambda, rhs, w, system.nub, lo, hi, findex, scratch);
        // A solver that gave up left the rows it did not reach at 0: half an answer. A forced
        // step stands on a factor rounding has spoilt, and may throw the bodies anywhere.
        return LCPStepFailures == 0 && AllFinite(lambda, static_cast<size_t>(m));
    };
    if (solve()) {
        return true;
    }
    if (!solves.work->TakePivoting()) {
        return false;
    }
    // A matrix too nearly singular for the pivoting: soften every row and retry.
    for (int r = 0; r < m; ++r) {
        system.cfm[r] = std::max(system.cfm[r], RetryCfmShare * system.diagonal[r] * solves.h);
    }
    FillMatrix(system, solves.bodies, solves.nb, 1.0f / solves.h);
    return solve();
}

bool SolveExactly(ExactSolves& solves, const ExactProblem& problem, float* lambda) {
    return (solves.system.m >= ActiveSetMinRows && SolveByActiveSets(solves, problem, lambda)) ||
           SolveByPivoting(solves, problem, lambda);
}

// The active sets once more with the contact rows softened, as the pivoting solve's retry
// softens them, within the work left. Bodies knocked out of place rest on each other at
// corners a little apart in depth, which the rows' own softness leaves a nearly singular
// system: the corners of a face ask for motions no rigid body makes, and the active sets went
// round it, eighty rows or more misplaced solve after solve, in a struck wall of bricks at rest
// as much as in its first steps. A hundredth of their diagonals settles such an island in a few
// solves. The rows of joints keep their own.
bool SolveSoftened(ExactSolves& solves, const ExactProblem& problem, float* lambda) {
    IslandSystem& system = solves.system;
    const int m = system.m;
    ScratchArena::Scope scope(solves.scratch);
    float* own = solves.scratch.Take<float>(m);
    std::copy(system.cfm, system.cfm + m, own);
    for (int i = 0; i < system.jointCount; ++i) {
        if (system.joints[i]->GetType() != JointContact) {
            continue;
        }
        for (int k = 0; k < system.info[i].m; ++k) {
            const int r = system.start[i] + k;
            system.cfm[r] = std::max(system.cfm[r], RetryCfmShare * system.diagonal[r] * solves.h);
        }
    }
    // The matrix the active sets solve takes the new cfm.
    solves.profileFilled = false;
    if (solves.overBodies && !solves.bodySpace.Build(system, solves.nb, solves.h,
                                                     solves.profile.rank, solves.scratch)) {
        return false;
    }
    // Only work or rounding stops the active sets: either way no exact solve took the island
    // within its bound.
    if (!SolveByActiveSets(solves, problem, lambda)) {
        solves.work->overBound = true;
        return false;
    }
    solves.work->overBound = false;
    // The softening leaves every loaded row its cfm times its force as motion: a tower of 72
    // blocks of 1.8 kg sank into its contacts at 2 cm/s while the push-out held it up, and a
    // tower leant by a blow crept on along its loaded friction. Solved again with the
    // softening's share of the last answer added to the right side (a proximal step), each
    // loaded row keeps about a hundredth of that error, while the rows of the nearly singular
    // part keep the softening's help.
    float* rhs = solves.scratch.Take<float>(m);
    float* last = solves.scratch.Take<float>(m);
    float* next = solves.scratch.Take<float>(m);
    ExactProblem again = problem;
    again.rhs = rhs;
    again.start = last;
    again.zerosHeld = true;
    const float inverseH = 1.0f / solves.h;
    for (int pass = 0; pass < SofteningPasses; ++pass) {
        std::copy(lambda, lambda + m, last);
        for (int r = 0; r < m; ++r) {
            rhs[r] = problem.rhs[r] + (system.cfm[r] - own[r]) * inverseH * last[r];
        }
        if (!SolveByActiveSets(solves, again, next)) {
            break;
        }
        std::copy(next, next + m, lambda);
    }
    return true;
}

// Takes the push-out of sunk contacts out of the velocity rows, into rows of its own (null when
// none is taken): a push-out left in the velocities stays in them once the contact is out.
// Through a body sunk deep between two others, which push it opposite ways, those of a column add
// up: where the boxes of a column dropped onto each other a step apart had sunk centimetres into
// each other, they added up in the top box, which flew off (30 boxes of 1 m dropped from 3 mm
// apart, at 7 m/s); every contact of such a body is taken, and `between` says there is one.
// Elsewhere only the deep part of a push-out is (ContactJoint::GetDeepPushOut).
float* TakePushOut(IslandSystem& system, int nb, float h, ScratchArena& scratch, bool& between) {
    // Per body, the first body it is sunk deep into (nb for any that does not move) and the way
    // that one pushes it, and whether another pushes it the opposite way.
    int32_t* sunkInto = scratch.Take<int32_t>(nb);
    Float3* pushedAlong = scratch.Take<Float3>(nb);
    bool* isBetween = scratch.Take<bool>(nb);
    std::fill(sunkInto, sunkInto + nb, -1);
    std::fill(isBetween, isBetween + nb, false);
    between = false;
    bool anyDeep = false;
    auto note = [&](int body, int other, Float3 along) {
        if (sunkInto[body] < 0) {
            sunkInto[body] = other;
            pushedAlong[body] = along;
        } else if (sunkInto[body] != other && along.Dot(pushedAlong[body]) < 0.0f) {
            between = isBetween[body] = true;
        }
    };
    auto bodiesOf = [&](int i, int& first, int& second) {
        const Joint& joint = *system.joints[i];
        first = joint.GetBody(0)->GetIslandTag();
        second = system.secondTakesPart[i] ? joint.GetBody(1)->GetIslandTag() : nb;
    };
    for (int i = 0; i < system.jointCount; ++i) {
        const Joint& joint = *system.joints[i];
        if (joint.GetType() != JointContact ||
            !static_cast<const ContactJoint&>(joint).IsSunkDeep()) {
            continue;
        }
        int first = 0;
        anyDeep = true;
        int second = 0;
        bodiesOf(i, first, second);
        const Float3 along = Load(system.J + 2 * system.start[i] * RowFloats);
        note(first, second, along);
        if (second < nb) {
            note(second, first, along * -1.0f);
        }
    }
    if (!anyDeep) {
        return nullptr;
    }
    float* push = scratch.Take<float>(system.m);
    SetZero(push, system.m);
    for (int i = 0; i < system.jointCount; ++i) {
        const Joint& joint = *system.joints[i];
        if (joint.GetType() != JointContact) {
            continue;
        }
        int first = 0;
        const ContactJoint& contact = static_cast<const ContactJoint&>(joint);
        int second = 0;
        bodiesOf(i, first, second);
        const bool whole = isBetween[first] || (second < nb && isBetween[second]);
        const float pushOut = whole ? contact.GetPushOut() : contact.GetDeepPushOut();
        if (pushOut <= 0.0f) {
            continue;
        }
        const int r = system.start[i];
        system.c[r] -= pushOut;
        system.rhs[r] -= pushOut / h;
        push[r] = pushOut;
    }
    return push;
}

// The pseudo-velocity that carries out the push-out by sweeps (SweepPushOut), over every
// contact's normal row.
Float3* SweepIslandPushOut(const ExactSolves& solves, const float* push) {
    const IslandSystem& system = solves.system;
    PushOutRow* rows = solves.scratch.Take<PushOutRow>(static_cast<size_t>(system.jointCount));
    int count = 0;
    for (int i = 0; i < system.jointCount; ++i) {
        const Joint& joint = *system.joints[i];
        if (joint.GetType() != JointContact) {
            continue;
        }
        const int r = system.start[i];
        PushOutRow& row = rows[count++];
        row.body[0] = joint.GetBody(0)->GetIslandTag();
        row.body[1] = system.secondTakesPart[i] ? joint.GetBody(1)->GetIslandTag() : -1;
        for (int side = 0; side < 2; ++side) {
            const float* J = system.J + (2 * r + side * system.info[i].m) * RowFloats;
            row.linear[side] = row.body[side] < 0 ? Float3() : Load(J);
            row.angular[side] = row.body[side] < 0 ? Float3() : Load(J + 4);
        }
        row.push = push[r];
    }
    const PhysicsMaster* world = solves.bodies[0]->GetWorld();
    const int32_t sweeps = world ? world->GetIterations() : PhysicsMaster::DefaultIterations;
    return SweepPushOut(rows, count, solves.nb, system.inverseMass, system.inverseInertia, solves.h,
                        std::max(sweeps, 1), solves.scratch);
}

// The pseudo-velocity per body (linear, then angular, in world space) that carries out the
// push-out within the step: contacts push only along their normals, joints hold, friction takes
// no part. Null when it has no exact solve within the work left; the push-out is then swept
// (SweepIslandPushOut).
Float3* SolvePushOut(ExactSolves& solves, const float* push) {
    IslandSystem& system = solves.system;
    ScratchArena& scratch = solves.scratch;
    const int m = system.m;
    float* rhs = scratch.Take<float>(m);
    float* lo = scratch.Take<float>(m);
    float* hi = scratch.Take<float>(m);
    float* lambda = scratch.Take<float>(m);
    std::copy(system.lo, system.lo + m, lo);
    std::copy(system.hi, system.hi + m, hi);
    for (int r = 0; r < m; ++r) {
        rhs[r] = PushOutShare * push[r] / solves.h;
        if (system.findex[r] >= 0) {
            lo[r] = hi[r] = 0.0f;
        }
    }
    for (int i = 0; i < system.jointCount; ++i) {
        if (system.joints[i]->GetType() == JointContact) {
            const int r = system.start[i];
            std::fill(lo + r + 1, lo + r + system.info[i].m, 0.0f);
            std::fill(hi + r + 1, hi + r + system.info[i].m, 0.0f);
        }
    }
    ExactProblem problem;
    problem.rhs = rhs;
    problem.lo = lo;
    problem.hi = hi;
    if (!SolveExactly(solves, problem, lambda)) {
        return nullptr;
    }
    Float3* velocity = scratch.Take<Float3>(2 * static_cast<size_t>(solves.nb));
    std::fill(velocity, velocity + 2 * solves.nb, Float3());
    for (int i = 0; i < system.jointCount; ++i) {
        const Joint& joint = *system.joints[i];
        const int m_i = system.info[i].m;
        const float* rows = system.J + 2 * system.start[i] * RowFloats;
        const float* l = lambda + system.start[i];
        for (int side = 0; side < 2; ++side) {
            if (side == 1 && !system.secondTakesPart[i]) {
                break;
            }
            const float* sideRows = rows + side * m_i * RowFloats;
            const int b = joint.GetBody(side)->GetIslandTag();
            velocity[2 * b] = velocity[2 * b] -
                              LinearSumOfRows(sideRows, l, m_i) * (solves.h * system.inverseMass[b]);
            velocity[2 * b + 1] =
                velocity[2 * b + 1] -
                system.inverseInertia[b].Transform(LinearSumOfRows(sideRows + 4, l, m_i) * solves.h);
        }
    }
    return velocity;
}

// An island no exact solve takes is stepped by the iterative step, from the forces its joints
// kept, rather than left where it is with its motion.
void StepIslandInstead(RigidBody* const* bodies, int nb, Joint* const* joints, int nj, float h,
                       float worldCfm, float worldErp, int64_t rows, bool overBound, bool report,
                       ScratchArena& scratch, SubstepBudget* budget = nullptr) {
    PhysicsMaster* world = bodies[0]->GetWorld();
    const int32_t sweeps = world ? world->GetIterations() : PhysicsMaster::DefaultIterations;
    if (StepIslandIterative(bodies, nb, joints, nj, h, worldCfm, worldErp, sweeps,
                            PhysicsMaster::OverRelaxation, scratch, budget) &&
        world && report) {
        if (overBound) {
            world->ReportIslandOverBound(*bodies[0], nb, rows);
        } else {
            world->ReportFailedIsland(*bodies[0], nb, rows, true);
        }
    }
}

} // namespace

bool ExactSolveDue(RigidBody* const* bodies, int32_t nb) {
    const PhysicsMaster* world = bodies[0]->GetWorld();
    uint32_t retry = 0;
    bool failedCalm = false;
    for (int32_t b = 0; b < nb; ++b) {
        retry = std::max(retry, bodies[b]->GetExactRetryStep());
        failedCalm = failedCalm || bodies[b]->FailedExactlyWhenCalm();
    }
    if (!world || retry <= world->GetStepCounter()) {
        return true;
    }
    // The waits its tumbling earned do not hold an island that has calmed since: it has the
    // whole bound now, and a struck wall swept through them trembled on between its tries.
    return !failedCalm && HasCalmed(bodies, nb);
}

namespace {

// Keeps on the island's bodies whether its exact solve went past its bound, and when the next
// is tried (ExactSolveDue). The first try that fails with every body calm starts the waits
// afresh.
void NoteExactSolve(RigidBody* const* bodies, int32_t nb, bool overBound, uint32_t step) {
    int32_t failures = 0;
    bool failedCalm = false;
    if (overBound) {
        for (int32_t b = 0; b < nb; ++b) {
            failures = std::max(failures, bodies[b]->GetExactFailures());
            failedCalm = failedCalm || bodies[b]->FailedExactlyWhenCalm();
        }
        if (!failedCalm && HasCalmed(bodies, nb)) {
            failures = 0;
            failedCalm = true;
        }
        failures = std::min(failures + 1, MaxExactFailures);
    }
    const uint32_t retry = failures > 0 ? step + (1u << (failures - 1)) : 0;
    for (int32_t b = 0; b < nb; ++b) {
        bodies[b]->SetExactFailures(failures, retry, failedCalm);
    }
}

// Solves a built system of m > 0 rows into lambda within the bound on its work; false when no
// exact solve takes it, overBound then telling whether the bound stopped it. With pushVelocity,
// contacts sunk deep are pushed out apart from the velocity rows where that fits the bound, and
// *pushVelocity is what the poses then advance by too (null where they push out as before).
bool SolveSystem(IslandSystem& system, RigidBody* const* bodies, int32_t nb, float h,
                 float* lambda, bool& overBound, ScratchArena& scratch,
                 Float3** pushVelocity = nullptr) {
    LCPStepFailures = 0;
    const int m = system.m;
    const PhysicsMaster* world = bodies[0]->GetWorld();
    // An island that went past the bound last step is given a quarter of it while it tumbles
    // on: its contacts change every step, and the whole bound would be spent on each. Once its
    // bodies calm it has the whole bound again: a struck wall needs more than the quarter from
    // the sweeps' forces, and given only that it was swept for good.
    const bool wasOver = std::any_of(bodies, bodies + nb, [](const RigidBody* body) {
        return body->WasOverExactBound();
    }) && !HasCalmed(bodies, nb);
    ExactWork work(m, wasOver ? ExactWorkPerRow / 4 : ExactWorkPerRow);
    ExactSolves solves{system, bodies, nb, h, &work, scratch, IslandProfile(), false, false,
                       IslandBodySpace()};
    bool solved = false;
    if (!failExactSolves.load(std::memory_order_relaxed)) {
        bool between = false;
        const float* push = pushVelocity ? TakePushOut(system, nb, h, scratch, between) : nullptr;
        if (push) {
            // A column's push-out is solved exactly where it fits (sweeps carry a push a body or
            // so along it), and swept anywhere else: a tumbling island (one that went past the
            // bound) meets deep contacts every step. The exact push-out has a bound of its own,
            // and its failures are not the island's.
            if (between && !wasOver) {
                ExactWork pushWork(m, ExactWorkPerRow / PushOutWorkShare);
                solves.work = &pushWork;
                *pushVelocity = SolvePushOut(solves, push);
                solves.work = &work;
                LCPStepFailures = 0;
            }
            if (!*pushVelocity) {
                *pushVelocity = SweepIslandPushOut(solves, push);
            }
        }
        // An island none of whose bodies was solved exactly in the step before holds only the
        // forces the sweeps ended with, a little off their bounds in nearly every row: placing
        // them again took a wall of bricks past its bound. From nothing a resting island's rows
        // settle in a few solves, as when it was first placed.
        const bool swept = world && std::none_of(bodies, bodies + nb, [world](const RigidBody* b) {
            return b->GetExactSolveStep() + 1 >= world->GetStepCounter();
        });
        float* start = scratch.Take<float>(m);
        for (int i = 0; i < system.jointCount; ++i) {
            const float* saved = system.joints[i]->GetSavedLambda();
            float* out = start + system.start[i];
            for (int k = 0; k < system.info[i].m; ++k) {
                out[k] = swept ? 0.0f : saved[k];
            }
        }
        ExactProblem problem;
        problem.rhs = system.rhs;
        problem.lo = system.lo;
        problem.hi = system.hi;
        problem.findex = system.findex;
        problem.start = start;
        // An island that took its contacts softened goes on so: a solve at the rows' own
        // softness seldom settles there again, and the forces moving between the two as it did
        // rocked a tower of 72 blocks on. Islands too small for the active sets have the
        // pivoting solve, with its own retry.
        const bool softened = m >= ActiveSetMinRows &&
                              std::any_of(bodies, bodies + nb, [](const RigidBody* body) {
                                  return body->WasSolvedSoftened();
                              });
        const bool plain = !softened && SolveExactly(solves, problem, lambda);
        solved = plain || (m >= ActiveSetMinRows && SolveSoftened(solves, problem, lambda));
        for (int b = 0; b < nb; ++b) {
            bodies[b]->SetSolvedSoftened(!plain && m >= ActiveSetMinRows);
        }
    }
    LastExactSolveWork = work.Spent();
    NoteExactSolve(bodies, nb, work.overBound, world ? world->GetStepCounter() : 0);
    for (int b = 0; b < nb; ++b) {
        if (solved && world) {
            bodies[b]->SetExactSolveStep(world->GetStepCounter());
        }
    }
    overBound = work.overBound;
    return solved;
}

// Per body, the force then the torque J^T lambda of the rows, in world space.
float* ConstraintForces(const IslandSystem& system, int32_t nb, const float* lambda,
                        ScratchArena& scratch) {
    float* F = scratch.Take<float>(static_cast<size_t>(nb) * 6);
    SetZero(F, nb * 6);
    for (int i = 0; i < system.jointCount; ++i) {
        const Joint& joint = *system.joints[i];
        const int m_i = system.info[i].m;
        const float* rows = system.J + 2 * system.start[i] * RowFloats;
        const float* l = lambda + system.start[i];
        float* F1 = F + joint.GetBody(0)->GetIslandTag() * 6;
        StoreJacobian(F1, Load(F1) + LinearSumOfRows(rows, l, m_i));
        StoreJacobian(F1 + 3, Load(F1 + 3) + LinearSumOfRows(rows + 4, l, m_i));
        if (system.secondTakesPart[i]) {
            float* F2 = F + joint.GetBody(1)->GetIslandTag() * 6;
            StoreJacobian(F2, Load(F2) + LinearSumOfRows(rows + m_i * RowFloats, l, m_i));
            StoreJacobian(F2 + 3,
                          Load(F2 + 3) + LinearSumOfRows(rows + m_i * RowFloats + 4, l, m_i));
        }
    }
    return F;
}

// Per body, the angular velocity (world space) a step of h leaves it with under the
// constraint forces F and its outside torque.
Float3* AngularVelocitiesAfter(const IslandSystem& system, RigidBody* const* bodies, int32_t nb,
                               float h, const float* F, ScratchArena& scratch) {
    Float3* angular = scratch.Take<Float3>(nb);
    for (int b = 0; b < nb; ++b) {
        const Float3 turned = (Load(F + b * 6 + 3) - bodies[b]->GetTorque()) * h;
        angular[b] =
            bodies[b]->GetWorldAngularVelocity() - system.inverseInertia[b].Transform(turned);
    }
    return angular;
}

// The forces a solve found (F, from ConstraintForces), the outside forces and the poses: the end
// of a step of h. With `start` (a whole step's) squeezed bodies are held to it
// (HoldSqueezedBodies).
void ApplySolution(const IslandSystem& system, RigidBody* const* bodies, int32_t nb, float h,
                   const float* lambda, float* F, ScratchArena& scratch,
                   const Float3* pushVelocity = nullptr, const StartMotion* start = nullptr) {
    for (int i = 0; i < system.jointCount; ++i) {
        Joint& joint = *system.joints[i];
        const int m_i = system.info[i].m;
        const float* l = lambda + system.start[i];
        // An island that grows past the exact step starts its sweeps from these.
        std::copy(l, l + m_i, joint.GetSavedLambda());
        JointFeedback* feedback = joint.GetFeedback();
        if (feedback) {
            const float* rows = system.J + 2 * system.start[i] * RowFloats;
            feedback->force1 = LinearSumOfRows(rows, l, m_i);
            feedback->torque1 = LinearSumOfRows(rows + 4, l, m_i);
            if (system.secondTakesPart[i]) {
                feedback->force2 = LinearSumOfRows(rows + m_i * RowFloats, l, m_i);
                feedback->torque2 = LinearSumOfRows(rows + m_i * RowFloats + 4, l, m_i);
            }
        }
    }

    // The constraint force applied is -J^T lambda: F holds +J^T lambda minus the outside forces,
    // so the velocity change is -h M^-1 F.
    for (int b = 0; b < nb; ++b) {
        RigidBody& body = *bodies[b];
        float* f = F + b * 6;
        const Float3 linear = (Load(f) - body.GetForce()) * h;
        const Float3 angular = (Load(f + 3) - body.GetTorque()) * h;
        const Float3 dv = linear * -system.inverseMass[b];
        const Float3 dw = system.inverseInertia[b].Transform(angular) * -1.0f;
        body.AddLinearVelocity(ToStoredSpace(body.GetTransformParent(), dv));
        body.AddAngularVelocity(ToStoredSpace(body.GetTransformParent(), dw));
    }
    if (start) {
        HoldSqueezedBodies(bodies, nb, *start, h, scratch);
    }
    IntegrateIsland(bodies, nb, h, pushVelocity);
}

// The parts a step of h must be cut into under the loads of the rows at their forces (lambda
// null: at the forces the joints kept from their last step).
int32_t CountLoadedSubsteps(const IslandSystem& system, RigidBody* const* bodies, int32_t nb,
                            float h, const float* lambda, float maxTurn, ScratchArena& scratch) {
    ScratchArena::Scope scope(scratch);
    JointLoad* loads = scratch.Take<JointLoad>(nb);
    std::fill(loads, loads + nb, JointLoad());
    for (int i = 0; i < system.jointCount; ++i) {
        const Joint& joint = *system.joints[i];
        const JointJacobian rows = RowsOf(system, i);
        const int32_t island[2] = {joint.GetBody(0)->GetIslandTag(),
                                   system.secondTakesPart[i] ? joint.GetBody(1)->GetIslandTag()
                                                             : -1};
        AddJointLoad(joint, rows, system.info[i].m,
                     lambda ? lambda + system.start[i] : joint.GetSavedLambda(), island, loads);
    }
    return CountSubsteps(bodies, nb, loads, system.inverseMass, h, maxTurn);
}

// The parts a step of h of a weighed island must be cut into, given the forces its whole step's
// solve found (lambda, and F from ConstraintForces): for the loads of its joints, where they
// are weighed, at the forces of this step and of the last (a chain snapping taut has none
// before), and for how fast its bodies turn about its anchors, at the start of the step and at
// its end (the end of a rope whips faster within the step).
int32_t CountSolvedSubsteps(const IslandSystem& system, RigidBody* const* bodies, int32_t nb,
                            float h, const float* lambda, const float* F, ScratchArena& scratch) {
    ScratchArena::Scope scope(scratch);
    int32_t needed = 1;
    const float maxTurn =
        MaxTurnOf(bodies, nb, system.joints, system.jointCount, system.inverseMass, scratch);
    if (maxTurn > 0.0f) {
        needed = std::max(CountLoadedSubsteps(system, bodies, nb, h, nullptr, maxTurn, scratch),
                          CountLoadedSubsteps(system, bodies, nb, h, lambda, maxTurn, scratch));
    }
    const Float3* after = AngularVelocitiesAfter(system, bodies, nb, h, F, scratch);
    const float turn = std::max(ArmTurn(bodies, nb, system.joints, system.jointCount, nullptr, h),
                                ArmTurn(bodies, nb, system.joints, system.jointCount, after, h));
    return std::max(needed, PartsForTurn(turn));
}

} // namespace

bool StepIslandLCP(RigidBody* const* bodies, int32_t nb, Joint* const* joints, int32_t nj, float h,
                   float worldCfm, float worldErp, ScratchArena& scratch, SubstepBudget* budget,
                   bool reportFallback) {
    LastExactSolveWork = 0;
    if (!ExactSolveDue(bodies, nb)) {
        StepIslandInstead(bodies, nb, joints, nj, h, worldCfm, worldErp,
                          CountIslandRows(joints, nj), true, reportFallback, scratch, budget);
        return false;
    }
    ScratchArena::Scope scope(scratch);
    // Saved first: a joint's rows may add forces (a motor driving into its stop).
    OutsideForces* outside = scratch.Take<OutsideForces>(nb);
    SaveOutsideForces(bodies, nb, outside);
    const StartMotion startMotion =
        StartSpeeds(bodies, nb, WorldInertias(bodies, nb, scratch), scratch);
    // The whole step is solved first: its forces, as much as those of the last step, tell
    // whether it must be cut into parts (a chain snapping taut has none before it).
    int32_t substeps = 1;
    // Kept where the island gets fewer parts than it asks for.
    StartOfStep start;
    bool cut = false;
    start.Take(nb, scratch);
    {
        ScratchArena::Scope whole(scratch);
        IslandSystem system;
        BuildIslandSystem(bodies, nb, joints, nj, h, h, worldCfm, worldErp, scratch, system);
        float* lambda = scratch.Take<float>(std::max(system.m, 1));
        bool overBound = false;
        // A step cut into parts pushes its contacts out through their velocity rows.
        Float3* pushVelocity = nullptr;
        if (system.m > 0 &&
            !SolveSystem(system, bodies, nb, h, lambda, overBound, scratch, &pushVelocity)) {
            StepIslandInstead(bodies, nb, joints, nj, h, worldCfm, worldErp, system.m, overBound,
                              reportFallback, scratch, budget);
            return false;
        }
        float* F = ConstraintForces(system, nb, lambda, scratch);
        int32_t needed = 1;
        if (WeighsAnyJoint(system.joints, system.jointCount)) {
            needed = HeldSubsteps(CountSolvedSubsteps(system, bodies, nb, h, lambda, F, scratch),
                                  joints, nj);
            SubstepBudget alone;
            if (!budget) {
                alone.PlanAlone(system.m);
            }
            substeps = (budget ? *budget : alone).Grant(needed, system.m, *bodies[0]);
            cut = CutShort(substeps, needed);
            if (cut) {
                start.Record(bodies, nb);
            }
        }
        // What the island asked for: what it was granted depends on the other islands.
        RememberSubsteps(joints, nj, needed);
        if (substeps <= 1) {
            ApplySolution(system, bodies, nb, h, lambda, F, scratch, pushVelocity, &startMotion);
            if (cut) {
                HoldEnergy(bodies, nb, start, outside, h);
            }
            return true;
        }
    }
    const float part = h / static_cast<float>(substeps);
    PartPositions positions;
    positions.exact = scratch.Take<double>(3 * static_cast<size_t>(nb));
    StartParts(bodies, nb, positions);
    bool stepped = true;
    for (int32_t k = 0; k < substeps; ++k) {
        ScratchArena::Scope one(scratch);
        RestoreOutsideForces(bodies, nb, outside);
        IslandSystem system;
        BuildIslandSystem(bodies, nb, joints, nj, part, h, worldCfm, worldErp, scratch, system);
        float* lambda = scratch.Take<float>(std::max(system.m, 1));
        bool overBound = false;
        if (system.m > 0 && !SolveSystem(system, bodies, nb, part, lambda, overBound, scratch)) {
            StepIslandInstead(bodies, nb, joints, nj, part, worldCfm, worldErp, system.m,
                              overBound, reportFallback, scratch);
            // The bodies may have kept their poses: the sum starts again where they are.
            StartParts(bodies, nb, positions);
            stepped = false;
            continue;
        }
        ApplySolution(system, bodies, nb, part, lambda,
                      ConstraintForces(system, nb, lambda, scratch), scratch);
        FinishPart(bodies, nb, part, positions);
    }
    if (cut) {
        HoldEnergy(bodies, nb, start, outside, h);
    }
    return stepped;
}

} // namespace quarn
