#pragma once

#include <cfloat>

namespace quarn {

class ScratchArena;

// A bound of this value (the largest float, never the IEEE infinity) counts as absent.
inline constexpr float LCPInfinity = FLT_MAX;

// Negative pivoting steps of the latest SolveLCP: 0 on a sound problem, 1 when one step was
// forced forward, 2 when the solve gave up. The world step reads it after each island.
extern int LCPStepFailures;

// Solves the mixed linear complementarity problem A x = b + w, by Dantzig's pivoting with an
// incrementally updated LDLT factor of the clamped rows. A is n x n, symmetric, positive
// (semi-)definite and given by its lower triangle with row stride MatrixStride(n); lo <= 0 <= hi.
// Per row either lo < x < hi and w = 0, or x = lo and w >= 0, or x = hi and w <= 0. The first
// nub rows are unbounded. findex (may be null) names for a friction row the normal row whose
// result f scales its bounds to -|hi f| .. |hi f|, fixed once all normal rows are solved.
// x and w come back in the caller's row order; A, b, lo, hi and findex come back permuted and
// changed. All scratch memory comes from `scratch`. Bad arguments are reported through
// ReportAssertion: without n or an array nothing is solved, a nub outside 0..n is taken as the
// nearest end, and a findex naming no row gives its row no force.
void SolveLCP(int n, float* A, float* x, float* b, float* w, int nub, float* lo, float* hi,
              int* findex, ScratchArena& scratch);

} // namespace quarn
