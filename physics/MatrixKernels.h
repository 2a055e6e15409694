#pragma once

namespace quarn {

class ScratchArena;

// The dense linear algebra of the constraint solvers, on single-precision floats. A matrix is
// row-major with row stride nskip >= n; the solvers pad it (MatrixStride) so every row starts on
// a 16-byte boundary. Symmetric matrices are given by their lower triangle alone. An LDLT factor
// keeps the unit lower triangular L in the strict lower triangle and D as the vector d of the
// reciprocals 1/D_i. Nothing tests for a zero pivot: it gives an infinite entry of d that
// propagates, and the island steps check their results. Failed preconditions are reported
// through ReportAssertion and the kernel carries on, doing nothing where carrying on would reach
// outside the arrays.

// n when n <= 1, else n rounded up to a multiple of 4.
int MatrixStride(int n);

void SetZero(float* a, int n);
void SetValue(float* a, int n, float value);
// a[i] *= d[i]
void VectorScale(float* a, const float* d, int n);
// Summed in pairs, in the order the solvers' results depend on.
float Dot(const float* a, const float* b, int n);

// A's lower triangle becomes L, and d = 1/D; A's diagonal and upper triangle are kept.
void FactorLDLT(float* A, float* d, int n, int nskip);
// b = L^-1 b
void SolveL1(const float* L, float* b, int n, int nskip);
// b = L^-T b
void SolveL1T(const float* L, float* b, int n, int nskip);
// b = (L D L^T)^-1 b
void SolveLDLT(const float* L, const float* d, float* b, int n, int nskip);

// Updates the factor for adding a[0] to element (0, 0) and a[j] to (0, j) and (j, 0). Only rows
// and columns 1..n-1 come out right: the caller removes row 0 next.
void LDLTAddTopLeft(float* L, float* d, const float* a, int n, int nskip, ScratchArena& scratch);
// Deletes row and column r of the n x n matrix A in place.
void RemoveRowCol(float* A, int n, int nskip, int r);
// Removes row and column r from the n2 x n2 factor L, d of A(p, p), where A is the n1 x n1
// problem matrix read through its row pointers (lower triangle) and p names its rows.
void LDLTRemove(float** A, const int* p, float* L, float* d, int n1, int n2, int r, int nskip,
                ScratchArena& scratch);

} // namespace quarn
