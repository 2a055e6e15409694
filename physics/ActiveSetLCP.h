#pragma once

#include "physics/ProfileMatrix.h"

#include <cstdint>

namespace quarn {

class ScratchArena;

// The matrix of an active-set problem as its solves use it: its diagonal, its product with a
// vector, and the solve of the rows a guess sets free among themselves.
class ActiveSetMatrix {
public:
    virtual ~ActiveSetMatrix() = default;
    virtual int32_t Rows() const = 0;
    virtual double Diagonal(int32_t i) const = 0;
    // out = A x
    virtual void Multiply(const double* x, double* out) const = 0;
    // The multiply-adds of one product.
    virtual int64_t ProductWork() const = 0;
    // Makes ready the solve of the rows `rows` (count > 0, increasing) among themselves and
    // answers the multiply-adds SolveTaken will take. What it makes lives in `scratch` until the
    // caller's scope ends.
    virtual int64_t TakeRows(const int32_t* rows, int32_t count, ScratchArena& scratch) = 0;
    // rhs := A_FF^-1 rhs for the rows taken; false when their matrix is not positive definite.
    virtual bool SolveTaken(double* rhs, ScratchArena& scratch) = 0;
};

// A matrix held whole by its profile.
class ProfileActiveSetMatrix : public ActiveSetMatrix {
public:
    explicit ProfileActiveSetMatrix(const ProfileMatrix& a) : a_(a) {}
    int32_t Rows() const override;
    double Diagonal(int32_t i) const override;
    void Multiply(const double* x, double* out) const override;
    int64_t ProductWork() const override;
    int64_t TakeRows(const int32_t* rows, int32_t count, ScratchArena& scratch) override;
    bool SolveTaken(double* rhs, ScratchArena& scratch) override;

private:
    const ProfileMatrix& a_;
    ProfileMatrix taken_;
};

// Solves the problem SolveLCP solves (A x = b + w; per row x free with w = 0, or at lo with
// w >= 0, or at hi with w <= 0; a friction row's bounds are -|hi f| .. |hi f| with f the result
// of the row its findex names, fixed from the solution of the rows that are not friction rows),
// for a positive definite A, in double. It guesses which rows lie at a bound, starting from x as
// given (the forces of the last step), solves for the others, and moves every row the answer
// shows in the wrong place; while that leaves fewer wrong rows it goes on so, else it moves the
// first wrong row alone, which ends on a positive definite matrix. A resting island's rows keep
// their places from step to step: one or two solves. The answer is SolveLCP's but for rounding:
// a positive definite problem has one solution. False, with x spoilt, when a pivot is not a
// positive number or `maxSolves` solves do not settle it. With `work`, the multiply-adds left to
// spend: each solve takes what its free rows' solve takes and two products, and one that would
// take more than is left is not begun (false). A row given 0 with a lower bound of 0 starts
// free (a new contact has no force to go by) unless `zerosHeld`: x is then an answer of the same
// rows, whose rows at 0 stay there.
bool SolveActiveSetLCP(ActiveSetMatrix& a, double* x, const double* b, const float* lo,
                       const float* hi, const int32_t* findex, int32_t maxSolves,
                       ScratchArena& scratch, int64_t* work = nullptr, bool zerosHeld = false);
// The same for a matrix held by its profile.
bool SolveActiveSetLCP(const ProfileMatrix& a, double* x, const double* b, const float* lo,
                       const float* hi, const int32_t* findex, int32_t maxSolves,
                       ScratchArena& scratch, int64_t* work = nullptr, bool zerosHeld = false);

} // namespace quarn
