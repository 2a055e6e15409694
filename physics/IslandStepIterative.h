#pragma once

#include "core/math/Matrix3.h"

#include <cstdint>

namespace quarn {

class Joint;
class RigidBody;
class ScratchArena;
class SubstepBudget;

// The rows of one island as the iterative solve takes them: row r is J[12 r ..] (first body
// linear 3, angular 3, second body linear 3, angular 3) coupling the island bodies jb[2 r] and
// jb[2 r + 1] (-1: the immovable world). Per body: the inverse mass and the world inverse
// inertia, both 0 for a body that cannot move. cfm is already divided by the step length.
struct SORSystem {
    int32_t m = 0;
    int32_t nb = 0;
    const float* J = nullptr;
    const int32_t* jb = nullptr;
    const float* inverseMass = nullptr;
    const Matrix3* inverseInertia = nullptr;
    float* lambda = nullptr; // in: the warm start; out: the multipliers
    float* fc = nullptr;     // out: M^-1 J^T lambda, six floats per body
    const float* b = nullptr;
    const float* lo = nullptr;
    const float* hi = nullptr;
    const float* cfm = nullptr;
    const int32_t* findex = nullptr;
    // Whether the multipliers given are already the solve's answer (SolveContactTree answered
    // every row): no sweep visits it.
    bool answered = false;
};

// Projected successive over-relaxation: exactly `iterations` sweeps over the rows, warm-started
// from 0.9 times the given multipliers, the row order reshuffled every 8 sweeps. A friction
// row's bounds are its hi times the current multiplier of its findex row at every visit. A row
// that no force can move (a zero or non-finite diagonal) is skipped and keeps a multiplier of 0.
// An answered system ends as if its iterations were 0, its shuffles drawn all the same: the
// others' orders do not depend on which are answered.
void SolveSOR(const SORSystem& system, int32_t iterations, float overRelaxation,
              ScratchArena& scratch);
// The same solve of several independent systems at once. Each ends exactly as it would alone:
// the shuffles are drawn system by system, and each system's rows are visited in its own
// order. Visits of different systems alternate, so that a visit seldom waits for the one
// before it to update a body.
void SolveSOR(const SORSystem* systems, int32_t count, int32_t iterations, float overRelaxation,
              ScratchArena& scratch);

// Advances one island by h with the iterative solve, warm-started from the multipliers each
// joint kept from its previous step (the rows SolveJointTree takes from its exact answer
// instead), then integrates the poses and clears the accumulators.
// The same rules as StepIslandLCP hold for the bodies and joints. A solve that gives a
// non-finite value is tried once more with every row's cfm at least 1e-5; when that fails too
// the bodies keep their velocities and poses for this step, the world hears of it, and the
// answer is false. An island whose joints' loads or turning bodies ask for it is stepped in
// equal parts (IslandSubsteps), each one as a whole step is, as many as the world's budget for
// the step grants it (null: the island's own, as if it were alone).
bool StepIslandIterative(RigidBody* const* bodies, int32_t nb, Joint* const* joints, int32_t nj,
                         float h, float worldCfm, float worldErp, int32_t iterations,
                         float overRelaxation, ScratchArena& scratch,
                         SubstepBudget* budget = nullptr);

// Islands as the world hands them over: a run of the body list and a run of the joint list.
struct IslandSpan {
    int32_t firstBody = 0;
    int32_t bodyCount = 0;
    int32_t firstJoint = 0;
    int32_t jointCount = 0;
};

// Steps each island as StepIslandIterative does, in their order, with their rows solved
// together; false when any island kept its velocities.
bool StepIslandsIterative(RigidBody* const* bodies, Joint* const* joints, const IslandSpan* islands,
                          int32_t count, float h, float worldCfm, float worldErp,
                          int32_t iterations, float overRelaxation, ScratchArena& scratch,
                          SubstepBudget* budget = nullptr);

// The solver's shuffle generator: x := x * 1664525 + 1013904223 (mod 2^32), one state for the
// whole program, 0 at start and never reset by the engine, so islands solved one after another
// see different orders. Tests reset it to make runs repeatable.
uint32_t RandomNext();
// 0 to n - 1: the next state scaled by n / 2^32.
int32_t RandomInt(int32_t n);
void SeedSolverRandom(uint32_t state);
// Lets the sweeps and the exact start of stacks (SolveContactTree) use wide registers where the
// processor has them (the default); tests turn it off to check the narrow code against the wide.
void AllowWideSweeps(bool allow);
// Whether they use them.
bool WideSweeps();

} // namespace quarn
