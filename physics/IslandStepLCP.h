#pragma once

#include "core/math/Matrix3.h"
#include "physics/ProfileMatrix.h"

#include <cstdint>

namespace quarn {

class Joint;
class RigidBody;
class ScratchArena;
class SubstepBudget;
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
    float* A = nullptr; // lower triangle, row stride nskip; made by AssembleIslandMatrix
    float* rhs = nullptr;
    float* c = nullptr;
    // As the joints gave it, scaled by the mass of the lightest body the row moves
    // (MassScaledCfm) and raised to at least MinimumCfmShare of the row's own diagonal (times h).
    float* cfm = nullptr;
    float* diagonal = nullptr; // (J M^-1 J^T) per row, without the cfm
    float* lo = nullptr;
    float* hi = nullptr;
    int32_t* findex = nullptr;
};

// The most rows the exact step takes in one island. The pivoting solve's matrix and factor are
// m x m floats each and it grows up to m^3: at this size about 8 MB, and about a tenth of a
// second for the hardest contact problems; the active-set solve of a stack or a chain this
// size takes a millisecond or two. An island of more rows is taken only when solved over its
// bodies its matrix is no larger (MaxBodySpaceBodies): bodies resting on each other have many
// more rows than unknowns (a 55-box pyramid 1,740 rows, 330 unknowns). The world steps any other
// larger island with the iterative step.
constexpr int32_t MaxDenseRows = 1024;
constexpr int32_t MaxBodySpaceBodies = MaxDenseRows / 6;
// Whether the exact step takes an island of these rows and bodies.
inline bool FitsExactStep(int64_t rows, int32_t bodies) {
    return rows <= MaxDenseRows || bodies <= MaxBodySpaceBodies;
}

// Every row's regularisation (cfm/h on the diagonal) is also at least this share of the row's
// own diagonal. The mass-scaled cfm keeps rows of bodies of any mass solvable; a small body's
// turning rows have diagonals far above one over its mass (a centimetre cube turns 60,000 times
// more easily than a metre cube of its mass), and so far above their cfm. The share is about
// the least the pivoting solve still sees. It is a share of the row's own diagonal, which
// overstates what the row carries where other rows hold its body (a ball on a rod a metre from
// its hinge turns about its own centre 250 times more easily than about the hinge): a larger
// share would soften such rows by as much.
constexpr float MinimumCfmShare = 3e-6f;

// The work an island's exact solve may take, in multiply-adds per constraint row: in
// proportion to its rows, as the iterative step's own work is, so that no step of the exact
// method freezes a game. The active sets of a resting stack or chain take a tenth of it or
// less, a resting pyramid's up to two thirds; a heap of tumbling boxes, whose contacts change
// every step, would take a thousand times the iterative step's work in the pivoting solve (an
// island of 1,000 rows costs about 3e8, a tenth of a second). Past it the island is stepped iteratively, from the forces its
// joints kept, and the world hears of it. Counted in work, not in time, so that runs repeat.
constexpr int64_t ExactWorkPerRow = 12288;

// An island whose exact solves go past their bound in a row is still tumbling: each such solve
// is work lost, and a heap of thousands of boxes spent two thirds of its exact work so, step
// after step, on islands then stepped iteratively all the same. After each one the island waits
// twice as many steps before it tries again (1, 2, 4 ... up to 2^(MaxExactFailures - 1)), being
// stepped iteratively meanwhile as past its bound; bodies that join it do not cut the wait
// short, and a solve that does not go past the bound ends it. An island whose bodies have all
// calmed (HasCalmed) since is tried at once with the whole bound, and waits afresh (1, 2 ...)
// should that go past it too.
constexpr int32_t MaxExactFailures = 6;
// Whether the island's exact solve is tried this step.
bool ExactSolveDue(RigidBody* const* bodies, int32_t nb);

// The multiply-adds the latest exact solve took: its active sets' factors and products and its
// pivoting solves (m^3 / 3 each).
extern int64_t LastExactSolveWork;

// Tags the bodies and joints and builds the rows, their cfm and the right-hand side
// c/h + J (M^-1 F + v/h) for a step of h, a part of the world's step of worldStep. Every body
// must be DYNAMIC or GHOST; the first body of every joint must be one of them (a joint whose
// first body is not is reported and left out).
void BuildIslandSystem(RigidBody* const* bodies, int32_t nb, Joint* const* joints, int32_t nj,
                       float h, float worldStep, float worldCfm, float worldErp,
                       ScratchArena& scratch, IslandSystem& system);
// A = J M^-1 J^T + cfm/h, dense, for the pivoting solve.
void AssembleIslandMatrix(IslandSystem& system, RigidBody* const* bodies, int32_t nb, float h,
                          ScratchArena& scratch);

// The same matrix by its profile, its rows ordered so that rows sharing a body lie close: the
// bodies are ranked breadth first from one end of the island (a stack's bottom or top, a chain's
// end) and each joint's rows follow the ranks of its bodies.
struct IslandProfile {
    int32_t* rank = nullptr;          // per body: its place in the order
    int32_t* order = nullptr;         // position -> the system's row
    int32_t* place = nullptr;         // the system's row -> position
    int32_t* jointPosition = nullptr; // per kept joint: its first row's position
    ProfileMatrix matrix;
};
// The order and each row's first column, which tell the profile's size and factor work: the
// matrix has n and first but no values yet.
void OrderIslandRows(const IslandSystem& system, int32_t nb, ScratchArena& scratch,
                     IslandProfile& profile);
// The matrix's values, for the order made.
void FillIslandProfile(const IslandSystem& system, RigidBody* const* bodies, int32_t nb, float h,
                       ScratchArena& scratch, IslandProfile& profile);
// Both.
void AssembleIslandProfile(const IslandSystem& system, RigidBody* const* bodies, int32_t nb,
                           float h, ScratchArena& scratch, IslandProfile& profile);

// Advances one island by h with an exact solve of its constraints, then integrates the poses
// and clears the accumulators. An island of a few dozen rows and more whose profile is narrow
// enough is solved by active sets over it (over its bodies where that costs less,
// IslandBodySpace), starting from the forces the joints kept; the pivoting solve takes the others
// and any the active sets do not settle, and once more with every row's cfm at least a hundredth
// of its diagonal. Past the pivoting solve's work the active sets take the island once more with
// its contacts softened so, then twice more toward the rows' own answer, and it goes on so while
// its bodies keep together. A solve that forces a step is taken as failed. None takes more than
// ExactWorkPerRow times the rows. An island no exact solve takes within that is stepped by the
// iterative step with the world's sweeps (or, should that fail too, keeps its motion), the world
// hears of it (unless reportFallback is false: the iterative method's own islands), and the
// answer is false. An island whose joints' loads or turning bodies ask for it is stepped in equal
// parts (IslandSubsteps), each one as a whole step is, as many as the world's budget for the step
// grants it (null: the island's own, as if it were alone).
bool StepIslandLCP(RigidBody* const* bodies, int32_t nb, Joint* const* joints, int32_t nj, float h,
                   float worldCfm, float worldErp, ScratchArena& scratch,
                   SubstepBudget* budget = nullptr, bool reportFallback = true);

// Lets tests make every exact solve fail, to see its island stepped iteratively instead.
void FailExactSolvesForTests(bool fail);

} // namespace quarn
