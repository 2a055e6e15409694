#pragma once

#include <cstdint>

namespace quarn {

class ScratchArena;
struct SORSystem;

// Starts the sweeps of a stack from the exact forces of its pushing rows (bounded below by 0
// and not above, no friction index: a contact's normal row) that pushed at the end of the last
// step. Sweeps carry a force about one body along each, and a light body under a heavy one
// slowly: a stack of more bodies than the sweeps, or of a body on another of more than four
// times or less than a fourth of its mass, gives under its weight and sways, and a sway at its
// foot walks its top by centimetres; from the exact answer they have little left to do. The
// bodies those rows link (rows to the world, or to a body that cannot move, link none) are
// taken group by group: a group the sweeps carry, or one linked in a loop, is left to them
// whole. The answer is the island's with every other row at the force the sweeps start it
// from, found again without the rows that come out pulling (which then start from 0) until
// none does; it replaces the taken rows' warm start in system.lambda (divided by
// WarmStartShare, which the sweeps take back), none of them below 0. A row without cfm keeps its warm start, and a body
// whose inertia has no inverse, or a value that is not finite, leaves every warm start as it
// was. Linear in the rows: the bodies of a group form a tree, each solved as a 6 x 6 block.
void SolveContactTree(const SORSystem& system, int32_t sweeps, ScratchArena& scratch);

} // namespace quarn
