#pragma once

#include "core/math/Matrix3.h"

#include <cstdint>

namespace quarn {

class Joint;
class RigidBody;
class ScratchArena;
struct JointInfo1;

// One island's constraint system as the exact step hands it to the solver: m rows in the
// order all-unbounded joints, mixed joints, bounded joints. J and JM hold 2m rows of eight
// floats (linear x y z pad, angular x y z pad): joint i's m_i first-body rows from row
// 2 start_i, then its m_i second-body rows. Everything lives in the caller's scratch scope.
struct IslandSystem {
    int32_t m = 0;
    int32_t nskip = 0;
    int32_t nub = 0;
    int32_t jointCount = 0; // the kept joints, those with rows
    Joint** joints = nullptr;
    JointInfo1* info = nullptr;
    int32_t* start = nullptr;
    // Per kept joint: whether its second body moves with the island; one that does not (none,
    // STATIC, KINEMATIC) acts as the immovable world and its rows are ignored.
    bool* secondTakesPart = nullptr;
    float* inverseMass = nullptr;      // per body, 0 for a body that cannot move
    Matrix3* inverseInertia = nullptr; // per body, in world space
    float* J = nullptr;
    float* JM = nullptr;
    float* A = nullptr; // lower triangle, row stride nskip
    float* rhs = nullptr;
    float* c = nullptr;
    float* cfm = nullptr;
    float* lo = nullptr;
    float* hi = nullptr;
    int32_t* findex = nullptr;
};

// The most rows the exact step takes in one island. Its system matrix and the solver's factor
// are m x m floats each and the solve grows up to m^3: at this size about 8 MB, and from a few
// milliseconds a step (a pyramid of some fifty boxes, a chain of three hundred links) to about
// a tenth of a second for the hardest contact problems. The world steps a larger island with
// the iterative step.
constexpr int32_t MaxDenseRows = 1024;

// Tags the bodies and joints and builds the rows, A = J M^-1 J^T + cfm/h and the right-hand
// side c/h + J (M^-1 F + v/h). Every body must be DYNAMIC or GHOST; the first body of every
// joint must be one of them (a joint whose first body is not is reported and left out).
void BuildIslandSystem(RigidBody* const* bodies, int32_t nb, Joint* const* joints, int32_t nj,
                       float h, float worldCfm, float worldErp, ScratchArena& scratch,
                       IslandSystem& system);

// Advances one island by h with an exact solve of its constraints, then integrates the poses
// and clears the accumulators. A solve that gives a non-finite multiplier is tried once more
// with every row's cfm at least 1e-5; when that fails too the bodies keep their velocities and
// poses for this step, the world hears of it, and the answer is false.
bool StepIslandLCP(RigidBody* const* bodies, int32_t nb, Joint* const* joints, int32_t nj, float h,
                   float worldCfm, float worldErp, ScratchArena& scratch);

} // namespace quarn
