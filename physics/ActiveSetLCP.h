#pragma once

#include <cstdint>

namespace quarn {

class ScratchArena;
struct ProfileMatrix;

// Solves the problem SolveLCP solves (A x = b + w; per row x free with w = 0, or at lo with
// w >= 0, or at hi with w <= 0; a friction row's bounds are -|hi f| .. |hi f| with f the result
// of the row its findex names, fixed from the solution of the rows that are not friction rows),
// for a positive definite A held by its profile, in double. It guesses which rows lie at a
// bound, starting from x as given (the forces of the last step), solves for the others, and
// moves every row the answer shows in the wrong place; while that leaves fewer wrong rows it
// goes on so, else it moves the first wrong row alone, which ends on a positive definite
// matrix. A resting island's rows keep their places from step to step: one or two solves. The
// answer is SolveLCP's but for rounding: a positive definite problem has one solution. False,
// with x spoilt, when a pivot is not a positive number or `maxSolves` solves do not settle it.
// With `work`, the multiply-adds left to spend: each solve takes its factor's work and four
// products' worth of the matrix, and one that would take more than is left is not begun (false).
bool SolveActiveSetLCP(const ProfileMatrix& a, double* x, const double* b, const float* lo,
                       const float* hi, const int32_t* findex, int32_t maxSolves,
                       ScratchArena& scratch, int64_t* work = nullptr);

} // namespace quarn
