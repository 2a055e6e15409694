#pragma once

#include <cstdint>

namespace quarn {

class ScratchArena;

// A symmetric matrix in double held by its profile: each row of the lower triangle from its
// first non-zero column to the diagonal. An island's rows couple only where their joints share
// a body, so ordered by where their bodies lie a stack's or a chain's rows reach back a few
// dozen columns; an LDL^T factor keeps the profile, and factorising costs the sum of the
// squared row lengths rather than n^3.
struct ProfileMatrix {
    int32_t n = 0;
    const int32_t* first = nullptr; // per row: its first column held (at most the row itself)
    int64_t* start = nullptr;       // per row: where its first column's value lies in values
    double* values = nullptr;

    // Row i's values, indexed by column from first[i] to i.
    double* Row(int32_t i) const { return values + start[i] - first[i]; }
    double Diagonal(int32_t i) const { return values[start[i] + (i - first[i])]; }
    // The values held.
    int64_t Size() const;
    // The sum of the squared row lengths: what a factorisation costs.
    int64_t FactorWork() const;
};

// Room for an n x n matrix whose rows begin at `first` (first[i] <= i, kept by pointer), its
// values zero.
void TakeProfile(ProfileMatrix& matrix, int32_t n, const int32_t* first, ScratchArena& scratch);

// The rows and columns `rows` (increasing) of a, as a matrix of their own.
void TakeSubmatrix(const ProfileMatrix& a, const int32_t* rows, int32_t count, ProfileMatrix& out,
                   ScratchArena& scratch);

// out = A x
void MultiplyProfile(const ProfileMatrix& a, const double* x, double* out);

// Factorises in place: below the diagonal L (its unit diagonal implied), on it D. False, with
// the matrix spoilt, when a pivot is not a positive finite number: the matrix is not positive
// definite, or too nearly singular for the solve to mean anything.
bool FactorProfileLDLT(ProfileMatrix& a);

// b = (L D L^T)^-1 b, with the factor FactorProfileLDLT made.
void SolveProfileLDLT(const ProfileMatrix& factor, double* b);

} // namespace quarn
