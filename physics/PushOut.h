#pragma once

#include "core/math/Matrix3.h"

#include <cstdint>

namespace quarn {

class ScratchArena;

// The share of a sunk contact's push-out that is carried out in one step. At the contacts' full
// rate the box under one that just landed is pushed up into the next, still falling and not yet
// touching it, which then lands deeper still: in a column of small boxes dropped onto each other
// they sank through each other (40 of 10 cm, 3 mm apart).
constexpr float PushOutShare = 0.3f;

// A contact's pushing row as the push-out takes it: its normal row's Jacobian on each side (the
// island bodies `body`, -1 for the immovable world) and the speed it pushes its bodies apart at,
// 0 for one that only keeps them from sinking into each other as the others push.
struct PushOutRow {
    int32_t body[2] = {-1, -1};
    Float3 linear[2];
    Float3 angular[2];
    float push = 0.0f;
};

// The push-out of sunk contacts is carried out by moving the bodies, not by giving them speed:
// left in the velocity rows it stays in the bodies once they are apart, so that a ball dropped
// from a few metres rose tens of centimetres after landing, a box placed sunk in the floor flew
// off at 10 m/s and a kinematic wall threw the boxes it pushed faster than it moved. Answers the
// pseudo-velocity per island body (linear, then angular, in world space) that carries out
// PushOutShare of the rows' pushes over a step of h, found by at most `sweeps` projected
// Gauss-Seidel sweeps over the rows that push and those of the bodies they push, each row only
// pushing and every body moved as if of one mass, stopping once the sweeps settle. Bodies that
// rest on each other without a loop start the sweeps from their exact push-out
// (SolveContactTree). The bodies keep none of it.
// Null when the answer is not finite (the bodies are then not pushed).
Float3* SweepPushOut(const PushOutRow* rows, int32_t count, int32_t nb, const float* inverseMass,
                     const Matrix3* inverseInertia, float h, int32_t sweeps, ScratchArena& scratch);

} // namespace quarn
