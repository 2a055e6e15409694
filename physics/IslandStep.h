#pragma once

#include "core/math/Matrix3.h"
#include "physics/LCPSolver.h"

#include <cstddef>
#include <cstdint>

namespace quarn {

class Joint;
class Pivot;
class RigidBody;
class ScratchArena;
struct JointInfo1;

// What the exact and the iterative island steps share. Bodies carry their island index as
// their island tag while a step runs.

// The speed (m/s) every body of an island is under where the step treats it as coming to rest:
// well past the trembling the sweeps leave stacks and loops in (half a metre a second at most),
// since a column of small boxes at a long world step passes 1 m/s as it first settles, and well
// under that of boxes still tumbling onto a heap.
inline constexpr float RestingSpeed = 3.0f;

// Whether no body of the island moves faster than RestingSpeed.
bool ComingToRest(RigidBody* const* bodies, int32_t nb);

// The speed (m/s) every body of an island is under where it has calmed: above the trembling the
// sweeps leave stacks and loops in, below boxes still tumbling onto a heap.
inline constexpr float CalmSpeed = 0.5f;

// Whether no body of the island moves faster than CalmSpeed.
bool HasCalmed(RigidBody* const* bodies, int32_t nb);

// Whether the body is one of the island's.
bool InIsland(const RigidBody* body, RigidBody* const* bodies, int32_t nb);

// Velocities are kept in the space of the body's transform parent (null: the world); the
// solvers work in world space.
Float3 ToWorldSpace(Pivot* parent, Float3 v);
Float3 ToStoredSpace(Pivot* parent, Float3 v);

// The body's inverse inertia turned into world space (R^T I^-1 R); 0 for a body that cannot
// move.
Matrix3 WorldInverseInertia(RigidBody& body);
// The body's inertia turned into world space (R^T I R).
Matrix3 WorldInertia(RigidBody& body);

// The torque that turns a spinning body's angular velocity over a step of h as its own inertia
// (world space) turns it, found implicitly (one Newton step on I (w' - w) = h w' x I w'). The
// explicit w x (I w) adds energy step by step to a spin about a tilted axis: a capsule link
// spinning at 10 rad/s tumbled at a thousand times its energy within seconds. This engine's
// angular sign makes the term w x (I w).
Float3 GyroscopicTorque(const Matrix3& inertia, Float3 w, float h);

// The joint's row counts, checked; false for a joint the island leaves out: one without rows,
// with more than six, or whose first body is not in the island (reported).
bool GetIslandRows(Joint& joint, RigidBody* const* bodies, int32_t nb, JointInfo1& info);

// The rows the island's joints ask for (one with none or more than six counts none): what the
// step's system will hold, known before anything is built.
int64_t CountIslandRows(Joint* const* joints, int32_t nj);

bool AllFinite(const float* values, size_t n);

// Inverts m as Matrix3::Invert does, with m first brought near 1 by a power of two, which rounds
// nothing: the determinant goes as the cube of the entries and leaves float's range for the
// inertia of small light bodies (a 6 cm cube of density 1e-6 has entries near 1e-13) and for
// its inverse, where the inverse itself is well in range. False, m zero, when it has no inverse
// in float.
bool InvertAtAnyScale(Matrix3& m);

// A row's cfm as the step uses it. The world's, the surfaces' and the joints' cfm is that of a
// row whose lightest moving body weighs a kilogram (the default density's metre cube); a row
// scales it by that body's mass (inverse masses given, 0 for a side that does not move), so
// that a scene moves alike whatever its bodies weigh: the diagonal it softens grows as one over
// the mass, and a fixed cfm is lost below float resolution beside that of bodies of a gram.
inline float MassScaledCfm(float cfm, float inverseMass1, float inverseMass2) {
    constexpr float ReferenceMass = 1.0f; // kg
    const float lightest = inverseMass1 > inverseMass2 ? inverseMass1 : inverseMass2;
    // A row of nothing that moves keeps its cfm, which alone keeps its diagonal from 0.
    return lightest > 0.0f && lightest < LCPInfinity ? cfm * lightest * ReferenceMass : cfm;
}

// The root of b's set in a forest of sets kept as parent links (a root its own parent),
// halving the path on the way.
int32_t SetRoot(int32_t* parent, int32_t b);

// Per island body, the inverse mass of the heaviest body that joints (not contacts) hold it to,
// itself included (0 when that body cannot move). A joint row's cfm is scaled by that mass: a
// joint carries what hangs on it, and softened as for the lightest body it moves a chain of
// light links stretches in proportion to its end's weight (ten links with an end 10,000 times
// a link stretched by about a metre).
void HeaviestJoined(RigidBody* const* bodies, int32_t nb, Joint* const* joints, int32_t nj,
                    const float* inverseMass, float* heaviest, ScratchArena& scratch);

// Per island body, its inertia in world space (WorldInertia).
Matrix3* WorldInertias(RigidBody* const* bodies, int32_t nb, ScratchArena& scratch);

// How an island's bodies start a step, as HoldSqueezedBodies takes it: per body, its world
// inertia at the pose the step starts from (the hold moves no body, so it holds at the end too)
// and the speed of the kinetic energy, turning included, it starts with.
struct StartMotion {
    const Matrix3* inertia = nullptr;
    const float* speed = nullptr;
};
StartMotion StartSpeeds(RigidBody* const* bodies, int32_t nb, const Matrix3* inertia,
                        ScratchArena& scratch);

// A body held by contacts alone leaves a step of h no faster than the faster of its start (with
// what its outside forces did over the step) and its fastest contact: the partner's point there,
// at most the partner's own kinetic speed, plus the contact's own push. Speeds are those of the
// kinetic energy, turning included. Contacts take no restitution, so only a pinch the solve left
// unresolved goes past that: a light body between heavier ones whose normals are not opposite
// took the force that stops them (thousands of times its weight) and was squeezed out sideways
// at several times their speed, 20 m/s from a pile whose highest fall gives 13, and a light body
// spun up in a pinch flung the lighter bodies its rim touched. Such a body keeps its direction
// and axis at that speed. A body with joints is left alone: a chain whips its light end faster
// than anything touches it.
void HoldSqueezedBodies(RigidBody* const* bodies, int32_t nb, const StartMotion& start, float h,
                        ScratchArena& scratch);

// The end of a step: the poses advance by the new velocities and the accumulators are cleared.
// With `pushVelocity` (per body, linear then angular, in world space) the poses advance by that
// too, which the bodies do not keep.
void IntegrateIsland(RigidBody* const* bodies, int32_t nb, float h,
                     const Float3* pushVelocity = nullptr);
// The end of a step whose solve of `rows` constraint rows failed: velocities and poses stay, the
// accumulators are cleared and the world hears of it.
void AbandonIsland(RigidBody* const* bodies, int32_t nb, int64_t rows);

} // namespace quarn
