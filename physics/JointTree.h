#pragma once

namespace quarn {

class ScratchArena;
struct SORSystem;

// The share of its warm start that SolveSOR keeps.
inline constexpr float WarmStartShare = 0.9f;

// Solves exactly, in time linear in their number, the island's equality rows (unbounded, no
// friction index) whose joints link its bodies as a tree, the other rows held at the forces
// the sweeps will start them from; the answer replaces those rows' warm start in
// system.lambda (divided by WarmStartShare, which the sweeps take back). Sweeps carry a force
// only a few links along a chain, so a long chain they solve alone stretches, and its error
// correction then pumps energy into it; from the exact answer they have nothing left to do.
// A joint that closes a loop, and any joint to the world after the first one of a tree, is
// solved with the tree it closes, up to 24 rows an island (each costs one more
// solve of the tree); the rest are left to the sweeps. Rows the solve cannot carry (a body
// without mass, a block without an inverse, a value that is not finite) keep their warm start.
void SolveJointTree(const SORSystem& system, ScratchArena& scratch);

} // namespace quarn
