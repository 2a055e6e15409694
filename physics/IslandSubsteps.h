#pragma once

#include "core/math/Matrix3.h"

#include <cstdint>

namespace quarn {

class Joint;
class RigidBody;
class ScratchArena;

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

// How far a loaded body may swing about its joints in one part of a step (radians). A swing
// grows once a step turns it by more than about two radians; well short of that, where light
// bodies hang on far heavier ones (links under a heavy end, planks under a load), the light
// ones swing together and their forces rise sharply from one step to the next as the chain
// snaps taut: chains of 2 to 20 links with ends up to 3,000 times a link hold within 4 cm at a
// quarter of a radian a step, and open by 5 to 20 cm when steps of up to a radian are left
// whole. Bodies of like masses have no such snap and are cut only nearer the growth: a bridge
// of like planks that turn 1.25 radians a step comes to rest, one at 1.6 keeps trembling.
constexpr float MaxTurn = 0.25f;
constexpr float MaxTurnOfLikeMasses = 1.2f;
// The least ratio of the heaviest moving body's mass to the lightest's at which an island's
// bodies are no longer of like masses: a bridge of planks with a load of ten planks on it
// trembles at 2 cm/s under the iterative step when cut as one of like masses.
constexpr float UnlikeMassRatio = 4.0f;

// The turn a part of a step may take in the island (radians), or 0 where its step is never
// cut: an island of contacts alone, or of like masses whose joints close no loop. Such joints bear
// no more than the weight of what hangs on them and its swing, which a whole step follows (a chain
// of a hundred like links turns up to a radian a step), and weighing them would cost a fifth of
// their step. Joints that close a loop (a bridge between two posts) may be taut far beyond the
// bodies' weight. inverseMass per body, 0 for one that cannot move; the bodies' island tags set.
float MaxTurnOf(RigidBody* const* bodies, int32_t nb, Joint* const* joints, int32_t nj,
                const float* inverseMass, ScratchArena& scratch);

// The most parts a step is cut into, and the most rows the parts of one step may solve
// together: a chain of grams bearing a tonne would ask for hundreds of parts, and a long one
// would then take a good share of a frame. Such a chain still hangs still without them.
constexpr int32_t MaxSubsteps = 64;
constexpr int32_t MaxSubstepRows = 2048;

// The parts a step of h must be cut into so that every loaded body follows its swing, turning
// at most maxTurn a part (MaxTurnOf), for an island of `rows` constraint rows (1: none). A body
// swings about its joints as about their mean lever, so its inertia there is its own plus its
// mass at that lever. inverseMass per body, 0 for one that cannot move.
int32_t CountSubsteps(RigidBody* const* bodies, int32_t nb, const JointLoad* loads,
                      const float* inverseMass, float h, int32_t rows, float maxTurn);

// The parts a step is cut into where it needs `needed`: at least the parts its joints were
// last stepped in let down by an eighth, since forces that rise and fall each swing would
// otherwise leave the steps between them too coarse; and no fewer than last time while the
// need stays within an eighth of them, since each change of the count moves the answer of
// unsettled rows (a loaded bridge at rest, needing 17 parts or 18 by turns, trembled at 3 cm/s).
int32_t HeldSubsteps(int32_t needed, Joint* const* joints, int32_t nj, int32_t rows);
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
