#include "physics/PushOut.h"

#include "physics/ContactTree.h"
#include "physics/IslandStepIterative.h"
#include "physics/JointTree.h"
#include "physics/LCPSolver.h"
#include "physics/ScratchArena.h"

#include <algorithm>
#include <cmath>

namespace quarn {
namespace {

// A row as the sweeps visit it: M^-1 J^T on each side and one over its diagonal.
struct SweptRow {
    Float3 linear[2];
    Float3 angular[2];
    float inverseDiagonal = 0.0f;
};

// The share of the largest push below which the sweeps count as settled: a millimetre's push
// settled to a hundredth of it is well under the contacts' minimum depth.
constexpr float PushOutSettled = 0.01f;
// A row's softness in the exact start, as a share of its diagonal: no more than rounding.
constexpr float ExactStartCfmShare = 1e-5f;

// lambda of the taken rows from the exact push-out of the bodies that rest on each other without
// a loop (SolveContactTree), 0 elsewhere. Sweeps carry a push about a fifth of a body along a
// stack each, and left short of it they pushed each box at whichever corner they visited first:
// a stack placed touching at a world step of 1/30 s, whose boxes land centimetres deep in each
// other as it first settles, leant until it walked 2 cm.
void StartExactly(const PushOutRow* rows, const int32_t* taken, int32_t takenCount,
                  const SweptRow* swept, const float* target, int32_t nb, const float* inverseMass,
                  const Matrix3* inverseInertia, float* lambda, ScratchArena& scratch) {
    ScratchArena::Scope scope(scratch);
    constexpr int RowFloats = 12;
    float* J = scratch.Take<float>(static_cast<size_t>(takenCount) * RowFloats);
    int32_t* jb = scratch.Take<int32_t>(2 * static_cast<size_t>(takenCount));
    float* lo = scratch.Take<float>(static_cast<size_t>(takenCount));
    float* hi = scratch.Take<float>(static_cast<size_t>(takenCount));
    float* cfm = scratch.Take<float>(static_cast<size_t>(takenCount));
    int32_t* findex = scratch.Take<int32_t>(static_cast<size_t>(takenCount));
    float* fc = scratch.Take<float>(6 * static_cast<size_t>(nb));
    // Every body as the sweeps move it: of one mass, its inertia scaled with it.
    float* unitMass = scratch.Take<float>(static_cast<size_t>(nb));
    Matrix3* unitInertia = scratch.Take<Matrix3>(static_cast<size_t>(nb));
    for (int b = 0; b < nb; ++b) {
        const bool moves = inverseMass[b] > 0.0f;
        unitMass[b] = moves ? 1.0f : 0.0f;
        unitInertia[b] = Matrix3::Zero();
        if (moves) {
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) {
                    unitInertia[b].m[i][j] = inverseInertia[b].m[i][j] / inverseMass[b];
                }
            }
        }
    }
    for (int t = 0; t < takenCount; ++t) {
        const PushOutRow& row = rows[taken[t]];
        float* out = J + t * RowFloats;
        for (int side = 0; side < 2; ++side) {
            const Float3 linear = row.linear[side];
            const Float3 angular = row.angular[side];
            const float values[6] = {linear.x, linear.y, linear.z, angular.x, angular.y, angular.z};
            std::copy(values, values + 6, out + 6 * side);
            jb[2 * t + side] = row.body[side];
        }
        lo[t] = 0.0f;
        hi[t] = LCPInfinity;
        findex[t] = -1;
        // A row nothing moves has no cfm, which leaves it to the sweeps.
        cfm[t] =
            swept[t].inverseDiagonal > 0.0f ? ExactStartCfmShare / swept[t].inverseDiagonal : 0.0f;
        lambda[t] = 0.0f;
    }
    SORSystem system;
    system.m = takenCount;
    system.nb = nb;
    system.J = J;
    system.jb = jb;
    system.inverseMass = unitMass;
    system.inverseInertia = unitInertia;
    system.lambda = lambda;
    system.fc = fc;
    system.b = target;
    system.lo = lo;
    system.hi = hi;
    system.cfm = cfm;
    system.findex = findex;
    SolveContactTree(system, scratch, false);
    for (int t = 0; t < takenCount; ++t) {
        lambda[t] *= WarmStartShare;
    }
}

} // namespace

Float3* SweepPushOut(const PushOutRow* rows, int32_t count, int32_t nb, const float* inverseMass,
                     const Matrix3* inverseInertia, float h, int32_t sweeps,
                     ScratchArena& scratch) {
    // Per body and the immovable world's slot (nb) last: M^-1 J^T lambda, linear then angular.
    Float3* moved = scratch.Take<Float3>(2 * static_cast<size_t>(nb) + 2);
    std::fill(moved, moved + 2 * nb + 2, Float3());
    // Only the rows that push and those of the bodies they push take part: a row between bodies
    // nothing pushes stays at zero, and sweeping every contact of a heap for the few sunk ones
    // made the push-out cost as much as the solve.
    bool* pushed = scratch.Take<bool>(static_cast<size_t>(nb));
    std::fill(pushed, pushed + nb, false);
    for (int r = 0; r < count; ++r) {
        for (const int32_t b : rows[r].body) {
            if (rows[r].push > 0.0f && b >= 0) {
                pushed[b] = true;
            }
        }
    }
    const auto takesPart = [&](const PushOutRow& row) {
        return row.push > 0.0f || (row.body[0] >= 0 && pushed[row.body[0]]) ||
               (row.body[1] >= 0 && pushed[row.body[1]]);
    };
    int32_t* taken = scratch.Take<int32_t>(static_cast<size_t>(count));
    int32_t takenCount = 0;
    for (int r = 0; r < count; ++r) {
        if (takesPart(rows[r])) {
            taken[takenCount++] = r;
        }
    }
    SweptRow* swept = scratch.Take<SweptRow>(static_cast<size_t>(takenCount));
    float* lambda = scratch.Take<float>(static_cast<size_t>(takenCount));
    float* target = scratch.Take<float>(static_cast<size_t>(takenCount));
    const float inverseH = 1.0f / h;
    float largestTarget = 0.0f;
    for (int t = 0; t < takenCount; ++t) {
        const PushOutRow& row = rows[taken[t]];
        SweptRow& out = swept[t];
        float diagonal = 0.0f;
        for (int side = 0; side < 2; ++side) {
            // Every body moves as if it weighed the same, its inertia scaled with its mass: the
            // push-out is no motion, and a light body pushed between a heavy one and the floor
            // took thousands of sweeps to share it out by mass (the heavy one kept sinking it).
            const int b = row.body[side];
            const bool moves = b >= 0 && inverseMass[b] > 0.0f;
            out.linear[side] = moves ? row.linear[side] : Float3();
            out.angular[side] =
                moves ? inverseInertia[b].Transform(row.angular[side]) * (1.0f / inverseMass[b])
                      : Float3();
            diagonal +=
                out.linear[side].Dot(row.linear[side]) + out.angular[side].Dot(row.angular[side]);
        }
        // A row that nothing it moves can answer (both sides immovable) pushes nothing.
        out.inverseDiagonal = diagonal > 0.0f && std::isfinite(diagonal) ? 1.0f / diagonal : 0.0f;
        target[t] = PushOutShare * row.push * inverseH;
        largestTarget = std::max(largestTarget, target[t]);
    }
    // The sweeps stop once none moves a row by more than this share of the largest push.
    const float settled = PushOutSettled * largestTarget;
    const auto slot = [nb](int b) { return 2 * (b < 0 ? nb : b); };
    StartExactly(rows, taken, takenCount, swept, target, nb, inverseMass, inverseInertia, lambda,
                 scratch);
    for (int t = 0; t < takenCount; ++t) {
        const PushOutRow& row = rows[taken[t]];
        const SweptRow& s = swept[t];
        const int a = slot(row.body[0]);
        const int b = slot(row.body[1]);
        moved[a] = moved[a] + s.linear[0] * lambda[t];
        moved[a + 1] = moved[a + 1] + s.angular[0] * lambda[t];
        moved[b] = moved[b] + s.linear[1] * lambda[t];
        moved[b + 1] = moved[b + 1] + s.angular[1] * lambda[t];
    }
    for (int sweep = 0; sweep < sweeps; ++sweep) {
        float largestChange = 0.0f;
        for (int t = 0; t < takenCount; ++t) {
            const PushOutRow& row = rows[taken[t]];
            const SweptRow& s = swept[t];
            const int a = slot(row.body[0]);
            const int b = slot(row.body[1]);
            const float reached = row.linear[0].Dot(moved[a]) + row.angular[0].Dot(moved[a + 1]) +
                                  row.linear[1].Dot(moved[b]) + row.angular[1].Dot(moved[b + 1]);
            const float next =
                std::max(0.0f, lambda[t] + (target[t] - reached) * s.inverseDiagonal);
            const float delta = next - lambda[t];
            if (delta == 0.0f) {
                continue;
            }
            lambda[t] = next;
            largestChange = std::max(largestChange, std::fabs(delta) / s.inverseDiagonal);
            moved[a] = moved[a] + s.linear[0] * delta;
            moved[a + 1] = moved[a + 1] + s.angular[0] * delta;
            moved[b] = moved[b] + s.linear[1] * delta;
            moved[b + 1] = moved[b + 1] + s.angular[1] * delta;
        }
        if (!(largestChange > settled)) {
            break;
        }
    }
    // The constraint force applied is -J^T lambda.
    for (int k = 0; k < 2 * nb; ++k) {
        moved[k] = moved[k] * -h;
        if (!moved[k].IsFinite()) {
            return nullptr;
        }
    }
    return moved;
}

} // namespace quarn
