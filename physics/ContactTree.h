#pragma once

#include <cstdint>

namespace quarn {

class ScratchArena;
struct SORSystem;

// Starts the sweeps of a stack from the exact forces of its contacts: the pushing rows (bounded
// below by 0 and not above, no friction index: a contact's normal row) that pushed at the end of
// the last step or are new, closing or not (but for a new one of a body a joint holds), and the
// friction rows bound to them that stuck (their warm start short of their bound) or, where the
// island is `resting` (every body under RestingSpeed), whose contact carried nothing in the last
// step (new, or touching without load). Sweeps carry
// a force about a fifth of a body along a stack a sweep, and a light body under a heavy one
// slowly: left to them, a stack of
// three boxes bounced and a taller one swayed, its sway walking the top by centimetres, and
// friction rows left at their warm start let a stack of small boxes lean until it fell; from the
// exact answer they have little left to do. The bodies those rows link (rows to the world, or to a
// body that cannot move, link none) are taken group by group: a body alone, or a group linked in a
// loop, is left to the sweeps whole, and a group a joint holds keeps its friction rows at their
// warm start. The answer is the island's with every other row at the force the sweeps start it
// from, found again without the pushing rows that come out pulling and their friction rows (which
// then start from 0) until none does; it replaces the taken rows' warm start in system.lambda
// (divided by WarmStartShare, which the sweeps take back), no pushing row below 0 and no friction
// row past its bound. A row without cfm keeps its warm start, and a body whose inertia has no
// inverse, or a value that is not finite, leaves every warm start as it was. Linear in the rows:
// the bodies of a group form a tree, each solved as a 6 x 6 block. True when that answer is the
// whole system's: every row taken, none left out and none past its bound, which leaves the
// sweeps nothing to do.
bool SolveContactTree(const SORSystem& system, ScratchArena& scratch, bool resting);

} // namespace quarn
