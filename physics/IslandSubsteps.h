#pragma once

#include "core/math/Matrix3.h"

#include <cstdint>
#include <vector>

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

// Whether any of the joints is weighed for parts: one with anchors, not a contact.
bool WeighsAnyJoint(Joint* const* joints, int32_t nj);

// The turn a part of a step may take in the island under its joints' loads (radians), or 0
// where those are never weighed: an island of like masses whose joints close no loop. Such joints
// bear no more than the weight of what hangs on them and its swing, and weighing their loads
// would cost a fifth of their step; how fast their bodies turn is weighed instead (ArmTurn).
// Joints that close a loop (a bridge between two posts) may be taut far beyond the bodies'
// weight. inverseMass per body, 0 for one that cannot move; the bodies' island tags set.
float MaxTurnOf(RigidBody* const* bodies, int32_t nb, Joint* const* joints, int32_t nj,
                const float* inverseMass, ScratchArena& scratch);

// The most parts a step is cut into: a chain of grams bearing a tonne would ask for hundreds.
// Such a chain still hangs still without them.
constexpr int32_t MaxSubsteps = 64;

// The parts a step of h must be cut into so that every loaded body follows its swing, turning
// at most maxTurn a part (MaxTurnOf). A body swings about its joints as about their mean lever,
// so its inertia there is its own plus its mass at that lever. inverseMass per body, 0 for one
// that cannot move.
int32_t CountSubsteps(RigidBody* const* bodies, int32_t nb, const JointLoad* loads,
                      const float* inverseMass, float h, float maxTurn);

// How far a part of a step may turn a body across the arm from its centre to a joint's anchor
// (radians). The joint rows take in how far the turn carries the anchors off their tangents
// (Joint::SetBallRows), but only as it stood when the part began; what a faster turn leaves
// grows with its cube. Ropes of 50 to 200 like links swung from level, whose ends whip at up to
// 80 rad/s, hold their joints within 2 cm at a quarter of a radian, and open by 5 to 10 cm at
// half a radian.
constexpr float MaxArmTurn = 0.25f;

// The largest turn a step of h makes any island body take across the arm to one of its weighed
// joints' anchors: at `angular` (world space, per island body), or at the bodies' own angular
// velocities where it is null. The bodies' island tags set.
float ArmTurn(RigidBody* const* bodies, int32_t nb, Joint* const* joints, int32_t nj,
              const Float3* angular, float h);
// The parts that keep every part's turn within MaxArmTurn.
int32_t PartsForTurn(float turn);

// The parts a step asks for where it needs `needed`: at least the parts it last asked for let
// down by an eighth, since forces that rise and fall each swing would otherwise leave the steps
// between them too coarse; and no fewer than last time while the need stays within an eighth of
// them, since each change of the count moves the answer of unsettled rows (a loaded bridge at
// rest, needing 17 parts or 18 by turns, trembled at 3 cm/s). At most MaxSubsteps.
int32_t HeldSubsteps(int32_t needed, Joint* const* joints, int32_t nj);
// Kept by the joints: the parts their island asked for (which the world's budget may cut).
void RememberSubsteps(Joint* const* joints, int32_t nj, int32_t parts);
// The parts the joints' island last asked for (1 for none).
int32_t LastSubsteps(Joint* const* joints, int32_t nj);

// What the parts of one world step may cost together, counted in rows solved: each island's
// rows once for every part it is stepped in. The islands whose joints are weighed may take
// PartsPerRow times their own rows in all, and at least LeastPartRows, so that a world of many
// chains with heavy ends, all swinging at once, steps in about ten times the time the same
// world takes with like masses, while one long chain alone still gets its parts. Where the
// islands ask for more, each gets a whole step and the parts are shared out evenly: no island
// gets more parts than any other that asks for more. Counted in rows, not time, so that runs
// repeat.
class SubstepBudget {
public:
    static constexpr int64_t PartsPerRow = 10;
    static constexpr int64_t LeastPartRows = 2048;

    // A step of the islands that are weighed, with these rows and the parts each asked for
    // last step, in the order they will be stepped.
    void Plan(const int64_t* rows, const int32_t* lastParts, int32_t count);
    // The step of one island alone.
    void PlanAlone(int64_t rows);
    // The parts an island of `rows` rows whose joints ask for `needed` may take, 1 at least; the
    // islands are granted in the planned order, each once.
    int32_t Grant(int32_t needed, int64_t rows, const RigidBody& first);

    // The rows' worth of parts the step may take, and has taken.
    int64_t GetBound() const { return bound_; }
    int64_t GetSpent() const { return spent_; }
    // Islands granted fewer parts than they asked for since the last TakeCuts, by their first
    // bodies' serials, and how many parts they were short of in all.
    const std::vector<uint64_t>& GetCutIslands() const { return cutIslands_; }
    int64_t GetMissingParts() const { return missingParts_; }
    void TakeCuts();

private:
    int64_t bound_ = LeastPartRows;
    int64_t spent_ = 0;
    int64_t rowsToCome_ = 0;          // of the planned islands not yet granted
    int32_t mostParts_ = MaxSubsteps; // an island's share where the islands ask for more
    std::vector<uint64_t> cutIslands_;
    int64_t missingParts_ = 0;
};

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

// An island stepped in fewer parts than its joints asked for may swing faster than its parts
// follow, and each step would then add to the swing: a chain of six links under an end 10,000
// times a link, cut to ten parts, flew apart at 200 m/s within a second. Its step gains no
// energy instead: where the bodies' kinetic energy passed what they had as the step began and
// what the outside forces (gravity among them) did on them within it, every velocity of the
// island is scaled back alike, which keeps the joints' velocities as the solve left them.
// Held so only where the island is granted less than three quarters of what it asked for: one a
// part or two short (a loaded bridge granted 29 of its 30) still follows its swing, and scaling
// its velocities back would only stir what rests on it.
inline bool CutShort(int32_t granted, int32_t asked) {
    return 4 * granted < 3 * asked;
}
struct StartOfStep {
    // Room for nb bodies.
    void Take(int32_t nb, ScratchArena& scratch);
    void Record(RigidBody* const* bodies, int32_t nb);

    double kinetic = 0.0;
    Float3* positions = nullptr; // per body, world space
    Float3* angular = nullptr;   // per body, world space
};
void HoldEnergy(RigidBody* const* bodies, int32_t nb, const StartOfStep& start,
                const OutsideForces* outside, float h);

} // namespace quarn
