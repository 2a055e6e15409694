#pragma once

#include "core/math/Matrix3.h"

#include <cstdint>

namespace quarn {

class Joint;
class RigidBody;

// How finely an island must be stepped for its joints to hold.
//
// A joint force f held at an arm r from a body's centre turns with the body: within a step its
// torque changes by about |f| |r| per radian, a stiffness the step takes as it stood at the
// step's start. A light body held between large forces (a link of a chain with a heavy end, a
// plank of a taut bridge) swings about its joints at about sqrt(stiffness / inertia); once
// that swing is faster than the step can follow (about two radians a step) each step adds to
// it, the joints open and the chain gains energy. Such an island is stepped in equal parts
// short enough that every body follows its swing.

// A body's share of its joints' loads, summed joint by joint.
struct JointLoad {
    Matrix3 stiffness = Matrix3::Zero(); // torque per radian of turn, world space
    float lever = 0.0f;                  // sum of |f| |r|
    float leverSquared = 0.0f;           // sum of |f| |r|^3
    Float3 arm; // the longest arm from the body's centre to an anchor, world space
};

// Where a joint's rows lie, as GetInfo2 wrote them: per side (the first body, the second) its
// linear and angular Jacobian entries, row k at k * rowSkip.
struct JointJacobian {
    const float* linear[2] = {};
    const float* angular[2] = {};
    int32_t rowSkip = 0;
};

// Adds what a joint's m rows load its bodies with at the forces lambda, `island` its bodies'
// island indexes (-1 for a side that does not move with the island). Contacts, and joints
// without anchors, load nothing: their geometry is found afresh each step.
void AddJointLoad(const Joint& joint, const JointJacobian& rows, int32_t m, const float* lambda,
                  const int32_t island[2], JointLoad* loads);

// The most parts a step is cut into, and the most rows the parts of one step may solve
// together: a chain of grams bearing a tonne would ask for hundreds of parts, and a long one
// would then take a good share of a frame. Such a chain still hangs still without them.
constexpr int32_t MaxSubsteps = 64;
constexpr int32_t MaxSubstepRows = 2048;

// The parts a step of h must be cut into so that every loaded body follows its swing, for an
// island of `rows` constraint rows (1: none). A body swings about its joints as about their
// mean lever, so its inertia there is its own plus its mass at that lever. inverseMass per
// body, 0 for one that cannot move.
int32_t CountSubsteps(RigidBody* const* bodies, int32_t nb, const JointLoad* loads,
                      const float* inverseMass, float h, int32_t rows);

// The parts an island's joints were last stepped in, let down by an eighth a step: forces that
// rise and fall each swing would otherwise leave the steps between them too coarse.
int32_t HeldSubsteps(Joint* const* joints, int32_t nj, int32_t rows);
void RememberSubsteps(Joint* const* joints, int32_t nj, int32_t parts);

// Positions summed over a cut step's parts in double precision. At a large coordinate a part's
// move can be smaller than a float resolves there: the parts would each lose it where one whole
// step would not (the end of a 400 m chain stuck in place while it moves at 4 cm/s).
struct PartPositions {
    double* exact = nullptr; // three per body
};
void StartParts(RigidBody* const* bodies, int32_t nb, PartPositions& positions);
// After a part of length h has integrated the poses: each body is put where the exact sum says.
void FinishPart(RigidBody* const* bodies, int32_t nb, float h, PartPositions& positions);

// The force and torque a body's accumulators held when its step began: each part of a cut
// step applies them again, and the step clears them.
struct OutsideForces {
    Float3 force;
    Float3 torque;
};
void SaveOutsideForces(RigidBody* const* bodies, int32_t nb, OutsideForces* saved);
void RestoreOutsideForces(RigidBody* const* bodies, int32_t nb, const OutsideForces* saved);

} // namespace quarn
