#pragma once

#include "core/math/Matrix3.h"
#include "physics/ProfileMatrix.h"

#include <cstdint>

namespace quarn {

class ScratchArena;

// Constraint rows solved over the velocities of the bodies they move rather than over the rows
// themselves: K = M + sum_r w_r J_r^T J_r, six unknowns a body (linear, then angular), in
// double and held by its profile over the bodies' places. With w_r the inverse of a row's cfm
// (over h), solving K gives what the rows' own matrix J M^-1 J^T + C gives (Woodbury's
// identity). Bodies resting on each other are held by far more rows than they have unknowns (a
// box on two others by 24 rows, against its 6): a pyramid's K is a fifth of the size of its rows'
// matrix and factors in a small share of the work.
class BodyBlockMatrix {
public:
    // One body's side of a row: the body's place (-1: it does not move) and its linear and
    // angular Jacobian entries.
    struct Side {
        int32_t place = -1;
        const float* linear = nullptr;
        const float* angular = nullptr;
    };

    // Room for `count` bodies, reach[p] the least place of body p and of every body a row links
    // it to (at most p). The values are left to Clear.
    void Shape(int32_t count, const int32_t* reach, ScratchArena& scratch);
    int32_t Bodies() const { return matrix_.n / 6; }
    // The multiply-adds of a factorisation, and of a solve with the factor.
    int64_t FactorWork() const { return matrix_.FactorWork(); }
    int64_t SolveWork() const { return 2 * matrix_.Size(); }

    void Clear();
    void AddBody(int32_t place, float mass, const Matrix3& inertia);
    // Adds weight J^T J for the row whose sides are given.
    void AddRow(const Side& first, const Side& second, double weight);
    // False when K is not positive definite as far as double sees.
    bool Factor();
    // The factor of K + weight J^T J for the row whose sides are given (weight may be negative,
    // taking a row out), from the factor of K: the work of the profile from the row's first
    // body on, where factoring anew takes the squares of its rows' lengths. `room` holds 3 n
    // doubles. False, the factor spoilt, when K would no longer be positive definite.
    bool Update(const Side& first, const Side& second, double weight, double* room);
    // The multiply-adds of an Update, at most.
    int64_t UpdateWork() const { return 2 * matrix_.Size(); }
    // y := K^-1 y, six values a place, after Factor.
    void Solve(double* y) const;

private:
    ProfileMatrix matrix_;
};

// Ranks bodies breadth first from one end of each linked part: the farthest body from its first
// one, as a stack's bottom or top or a chain's end. links holds each link's two bodies (first,
// second) side by side; rank gets each body's place.
void RankLinkedBodies(int32_t bodies, const int32_t* links, int32_t linkCount, int32_t* rank,
                      ScratchArena& scratch);

} // namespace quarn
