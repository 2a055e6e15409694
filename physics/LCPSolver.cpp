#include "physics/LCPSolver.h"

#include "core/debug/Assertion.h"
#include "physics/MatrixKernels.h"
#include "physics/ScratchArena.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quarn {

int LCPStepFailures = 0;

namespace {

// Exchanges rows and columns i1 < i2 of the symmetric matrix held in the lower triangle of the
// rows A[0..n). Rows move by their pointers when fastRowSwap, else by their contents, which keeps
// a block of rows contiguous for a factorisation.
void SwapRowsAndColumns(float** A, int n, int i1, int i2, int nskip, bool fastRowSwap) {
    if (!QUARN_CHECK_ASSERTION(
            A && n > 0 && i1 >= 0 && i2 >= 0 && i1 < n && i2 < n && nskip >= n && i1 < i2,
            "A && n > 0 && i1 >= 0 && i2 >= 0 && i1 < n && i2 < n && nskip >= n && "
            "i1 < i2")) {
        return;
    }
    float* row1 = A[i1];
    // Row i1 lends its unused upper part to hold column i1 of the rows between.
    for (int k = i1 + 1; k < i2; ++k) {
        row1[k] = A[k][i1];
    }
    for (int k = i1 + 1; k < i2; ++k) {
        A[k][i1] = A[i2][k];
    }
    row1[i2] = row1[i1];
    row1[i1] = A[i2][i1];
    A[i2][i1] = A[i2][i2];
    if (fastRowSwap) {
        std::swap(A[i1], A[i2]);
    } else {
        std::swap_ranges(A[i1], A[i1] + n, A[i2]);
    }
    for (int k = i2 + 1; k < n; ++k) {
        std::swap(A[k][i1], A[k][i2]);
    }
}

// The working state of one solve. Positions 0..nC-1 hold the clamped set C (w held at 0, in the
// factor), nC..nC+nN-1 the set N of rows held at a bound; the row being driven follows them.
class LCPProblem {
public:
    LCPProblem(int n, int nskip, int nub, float* Adata, float* x, float* b, float* w, float* lo,
               float* hi, int* findex, ScratchArena& scratch);

    int Unbounded() const { return nub_; }
    int SizeC() const { return nC_; }
    int SizeN() const { return nN_; }
    const float* Row(int i) const { return A_[i]; }
    float* DeltaW() { return deltaW_; }
    float* DeltaX() { return deltaX_; }
    // The row a friction row takes its normal force from, in the caller's numbering.
    int FrictionIndex(int i) const { return findex_ ? findex_[i] : -1; }
    int CallerRow(int i) const { return p_[i]; }
    bool AtHigh(int i) const { return state_[i]; }
    void SetAtHigh(int i, bool high) { state_[i] = high; }
    // Rows that changed sets by a step of size 0 since the push last moved: they may not do so
    // again before it moves, which ends any round of such changes.
    bool MovedWithoutStep(int i) const { return movedWithoutStep_[p_[i]]; }
    void NoteMoveWithoutStep(int i);
    void ClearMovesWithoutStep();

    // Row i joins C through the lRow and dRow of the last SolveDirection and moves to
    // position nC.
    void TransferToC(int i);
    void TransferToN() { ++nN_; }
    void TransferFromNToC(int i);
    void TransferFromCToN(int i);
    // q[nC+k] = A(nC+k, C) . p(C) for the rows of N.
    void ComputeNFromC(float* q, const float* p) const;
    // q[nC+k] += A(i, nC+k) for the rows of N, subtracted when sign <= 0.
    void AddColumnToN(float* q, int i, int sign) const;
    // dRow and lRow for row i; unless transferOnly, a(C) = -dir A(C,C)^-1 A(C,i).
    void SolveDirection(float* a, int i, int dir, bool transferOnly = false);
    void Unpermute();

private:
    void SwapProblem(int i1, int i2, bool fastRowSwap);
    void LoadRowOfC(int i);

    int n_;
    int nskip_;
    int nub_;
    float** A_;
    float* x_;
    float* b_;
    float* w_;
    float* lo_;
    float* hi_;
    float* L_;
    float* d_;
    float* dRow_;
    float* lRow_;
    float* deltaX_;
    float* deltaW_; // also the scratch vector of SolveDirection
    bool* state_;   // for rows of N: at hi rather than at lo
    int* findex_;
    int* p_;
    int* Cidx_;
    bool* movedWithoutStep_; // by the caller's row numbers, which swaps leave alone
    int* rowsMovedWithoutStep_;
    int movesWithoutStep_ = 0;
    int nC_ = 0;
    int nN_ = 0;
    ScratchArena& scratch_;
};

LCPProblem::LCPProblem(int n, int nskip, int nub, float* Adata, float* x, float* b, float* w,
                       float* lo, float* hi, int* findex, ScratchArena& scratch)
    : n_(n), nskip_(nskip), nub_(nub), x_(x), b_(b), w_(w), lo_(lo), hi_(hi), findex_(findex),
      scratch_(scratch) {
    A_ = scratch.Take<float*>(n);
    L_ = scratch.Take<float>(static_cast<size_t>(n) * nskip);
    d_ = scratch.Take<float>(n);
    dRow_ = scratch.Take<float>(n);
    lRow_ = scratch.Take<float>(n);
    deltaX_ = scratch.Take<float>(n);
    deltaW_ = scratch.Take<float>(n);
    state_ = scratch.Take<bool>(n);
    p_ = scratch.Take<int>(n);
    Cidx_ = scratch.Take<int>(n);
    movedWithoutStep_ = scratch.Take<bool>(n);
    rowsMovedWithoutStep_ = scratch.Take<int>(n);

    SetZero(x, n);
    std::fill(movedWithoutStep_, movedWithoutStep_ + n, false);
    std::fill(state_, state_ + n, false);
    for (int k = 0; k < n; ++k) {
        A_[k] = Adata + static_cast<size_t>(k) * nskip;
        p_[k] = k;
    }

    // Rows unbounded both ways join the block that is factorised once. Friction rows never do:
    // their bounds are set during the solve.
    for (int k = nub_; k < n; ++k) {
        if (findex && findex[k] >= 0) {
            continue;
        }
        if (lo[k] == -LCPInfinity && hi[k] == LCPInfinity) {
            SwapProblem(nub_, k, false);
            ++nub_;
        }
    }

    if (nub_ > 0) {
        for (int k = 0; k < nub_; ++k) {
            std::copy(A_[k], A_[k] + k + 1, L_ + static_cast<size_t>(k) * nskip);
        }
        FactorLDLT(L_, d_, nub_, nskip);
        std::copy(b, b + nub_, x);
        SolveLDLT(L_, d_, x, nub_, nskip);
        SetZero(w, nub_);
        for (int k = 0; k < nub_; ++k) {
            Cidx_[k] = k;
        }
        nC_ = nub_;
    }

    // Friction rows go last, keeping their order, so that every normal row is solved before the
    // first friction row's bounds are fixed.
    if (findex) {
        int moved = 0;
        for (int k = n - 1; k >= nub_; --k) {
            if (findex[k] >= 0) {
                SwapProblem(k, n - 1 - moved, true);
                ++moved;
            }
        }
    }
}

void LCPProblem::NoteMoveWithoutStep(int i) {
    movedWithoutStep_[p_[i]] = true;
    rowsMovedWithoutStep_[movesWithoutStep_++] = p_[i];
}

void LCPProblem::ClearMovesWithoutStep() {
    for (int k = 0; k < movesWithoutStep_; ++k) {
        movedWithoutStep_[rowsMovedWithoutStep_[k]] = false;
    }
    movesWithoutStep_ = 0;
}

void LCPProblem::SwapProblem(int i1, int i2, bool fastRowSwap) {
    if (!QUARN_CHECK_ASSERTION(
            n_ > 0 && i1 >= 0 && i2 >= 0 && i1 < n_ && i2 < n_ && nskip_ >= n_ && i1 <= i2,
            "n>0 && i1 >=0 && i2 >= 0 && i1 < n && i2 < n && nskip >= n && i1 <= i2") ||
        i1 == i2) {
        return;
    }
    SwapRowsAndColumns(A_, n_, i1, i2, nskip_, fastRowSwap);
    std::swap(x_[i1], x_[i2]);
    std::swap(b_[i1], b_[i2]);
    std::swap(w_[i1], w_[i2]);
    std::swap(lo_[i1], lo_[i2]);
    std::swap(hi_[i1], hi_[i2]);
    std::swap(p_[i1], p_[i2]);
    std::swap(state_[i1], state_[i2]);
    if (findex_) {
        std::swap(findex_[i1], findex_[i2]);
    }
}

// dRow = A(C, i) in the factor's order; the unbounded block is never permuted, so its part is
// read in place.
void LCPProblem::LoadRowOfC(int i) {
    const float* row = A_[i];
    std::copy(row, row + nub_, dRow_);
    for (int j = nub_; j < nC_; ++j) {
        dRow_[j] = row[Cidx_[j]];
    }
    SolveL1(L_, dRow_, nC_, nskip_);
    for (int j = 0; j < nC_; ++j) {
        lRow_[j] = dRow_[j] * d_[j];
    }
}

void LCPProblem::SolveDirection(float* a, int i, int dir, bool transferOnly) {
    if (nC_ <= 0) {
        return;
    }
    LoadRowOfC(i);
    if (transferOnly) {
        return;
    }
    float* tmp = deltaW_;
    std::copy(lRow_, lRow_ + nC_, tmp);
    SolveL1T(L_, tmp, nC_, nskip_);
    for (int j = 0; j < nC_; ++j) {
        a[Cidx_[j]] = dir > 0 ? -tmp[j] : tmp[j];
    }
}

void LCPProblem::TransferToC(int i) {
    if (nC_ > 0) {
        std::copy(lRow_, lRow_ + nC_, L_ + static_cast<size_t>(nC_) * nskip_);
        d_[nC_] = 1.0f / (A_[i][i] - Dot(lRow_, dRow_, nC_));
    } else {
        d_[0] = 1.0f / A_[i][i];
    }
    SwapProblem(nC_, i, true);
    Cidx_[nC_] = nC_;
    ++nC_;
}

void LCPProblem::TransferFromNToC(int i) {
    if (nC_ > 0) {
        LoadRowOfC(i);
    }
    TransferToC(i);
    --nN_;
}

void LCPProblem::TransferFromCToN(int i) {
    int j = 0;
    while (j < nC_ && Cidx_[j] != i) {
        ++j;
    }
    if (!QUARN_CHECK_ASSERTION(j < nC_, "j < nC")) {
        return;
    }
    LDLTRemove(A_, Cidx_, L_, d_, n_, nC_, j, nskip_, scratch_);
    // The row at position nC-1 is about to take position i.
    int k = 0;
    while (k < nC_ && Cidx_[k] != nC_ - 1) {
        ++k;
    }
    if (!QUARN_CHECK_ASSERTION(k < nC_, "k < nC")) {
        return;
    }
    Cidx_[k] = Cidx_[j];
    std::copy(Cidx_ + j + 1, Cidx_ + nC_, Cidx_ + j);
    SwapProblem(i, nC_ - 1, true);
    --nC_;
    ++nN_;
}

void LCPProblem::ComputeNFromC(float* q, const float* p) const {
    // The solve's busiest loop. Four rows run side by side, each summed in Dot's order, so the
    // results are Dot's own.
    int k = 0;
    for (; k + 4 <= nN_; k += 4) {
        const float* r0 = A_[nC_ + k];
        const float* r1 = A_[nC_ + k + 1];
        const float* r2 = A_[nC_ + k + 2];
        const float* r3 = A_[nC_ + k + 3];
        float s0 = 0.0f;
        float s1 = 0.0f;
        float s2 = 0.0f;
        float s3 = 0.0f;
        int j = 0;
        for (; j + 1 < nC_; j += 2) {
            s0 = (s0 + r0[j] * p[j]) + r0[j + 1] * p[j + 1];
            s1 = (s1 + r1[j] * p[j]) + r1[j + 1] * p[j + 1];
            s2 = (s2 + r2[j] * p[j]) + r2[j + 1] * p[j + 1];
            s3 = (s3 + r3[j] * p[j]) + r3[j + 1] * p[j + 1];
        }
        if (j < nC_) {
            s0 += r0[j] * p[j];
            s1 += r1[j] * p[j];
            s2 += r2[j] * p[j];
            s3 += r3[j] * p[j];
        }
        q[nC_ + k] = s0;
        q[nC_ + k + 1] = s1;
        q[nC_ + k + 2] = s2;
        q[nC_ + k + 3] = s3;
    }
    for (; k < nN_; ++k) {
        q[nC_ + k] = Dot(A_[nC_ + k], p, nC_);
    }
}

void LCPProblem::AddColumnToN(float* q, int i, int sign) const {
    const float* row = A_[i] + nC_;
    float* target = q + nC_;
    if (sign > 0) {
        for (int k = 0; k < nN_; ++k) {
            target[k] += row[k];
        }
    } else {
        for (int k = 0; k < nN_; ++k) {
            target[k] -= row[k];
        }
    }
}

void LCPProblem::Unpermute() {
    float* old = deltaW_;
    std::copy(x_, x_ + n_, old);
    for (int k = 0; k < n_; ++k) {
        x_[p_[k]] = old[k];
    }
    std::copy(w_, w_ + n_, old);
    for (int k = 0; k < n_; ++k) {
        w_[p_[k]] = old[k];
    }
}

// Friction bounds from the normal results, once every normal row is solved: rows from i on are
// the friction rows. f = 0 pins a row at 0.
void SetFrictionBounds(LCPProblem& problem, int i, int n, const float* x, float* lo, float* hi) {
    // findex holds the caller's row numbers, so the results are read in the caller's order.
    float* unpermuted = problem.DeltaW();
    for (int k = 0; k < n; ++k) {
        unpermuted[problem.CallerRow(k)] = x[k];
    }
    for (int k = i; k < n; ++k) {
        const int normal = problem.FrictionIndex(k);
        // A normal row outside the problem gives no force.
        const float f =
            QUARN_CHECK_ARGUMENTS(normal >= 0 && normal < n) ? unpermuted[normal] : 0.0f;
        if (f == 0.0f) {
            lo[k] = 0.0f;
            hi[k] = 0.0f;
        } else {
            hi[k] = std::fabs(hi[k] * f);
            lo[k] = -hi[k];
        }
    }
}

// The pivoting step that limits the push of row i: how far it may go and what happens there.
struct Step {
    float size;
    int command; // 1 row i joins C, 2 and 3 it stops at lo or hi, 4 row `row` leaves N for C,
                 // 5 and 6 row `row` leaves C at lo or hi
    int row = -1;
};

// The step at which a row of C or N reaches its limit. Contacts that share a body at rest
// (stacked boxes, say) leave rows at w = 0 or with x at a bound, and rounding may put them a
// hair beyond it: such a row changes sets without a step. It may do so once until the push
// moves: whether it should again is a matter of rounding, and going round would never end.
// Only the driven row's own step can be negative, on a matrix the solver cannot take.
float LimitStep(const LCPProblem& problem, int k, float size) {
    if (size > 0.0f) {
        return size;
    }
    return problem.MovedWithoutStep(k) ? LCPInfinity : 0.0f;
}

// A later candidate replaces an earlier one only when its step is strictly smaller.
Step LargestStep(const LCPProblem& problem, int i, int dir, const float* x, const float* w,
                 const float* lo, const float* hi, const float* deltaX, const float* deltaW) {
    const float dirf = dir > 0 ? 1.0f : -1.0f;
    Step step{-w[i] / deltaW[i], 1};
    if (dir > 0 && hi[i] < LCPInfinity) {
        const float s2 = (hi[i] - x[i]) / dirf;
        if (s2 < step.size) {
            step = {s2, 3};
        }
    }
    if (dir < 0 && lo[i] > -LCPInfinity) {
        const float s2 = (lo[i] - x[i]) / dirf;
        if (s2 < step.size) {
            step = {s2, 2};
        }
    }
    const int nC = problem.SizeC();
    const int nN = problem.SizeN();
    for (int k = nC; k < nC + nN; ++k) {
        const bool leaves = problem.AtHigh(k) ? deltaW[k] > 0.0f : deltaW[k] < 0.0f;
        if (leaves && !(lo[k] == 0.0f && hi[k] == 0.0f)) {
            const float s2 = LimitStep(problem, k, -w[k] / deltaW[k]);
            if (s2 < step.size) {
                step = {s2, 4, k};
            }
        }
    }
    for (int k = problem.Unbounded(); k < nC; ++k) {
        if (deltaX[k] < 0.0f && lo[k] > -LCPInfinity) {
            const float s2 = LimitStep(problem, k, (lo[k] - x[k]) / deltaX[k]);
            if (s2 < step.size) {
                step = {s2, 5, k};
            }
        }
        if (deltaX[k] > 0.0f && hi[k] < LCPInfinity) {
            const float s2 = LimitStep(problem, k, (hi[k] - x[k]) / deltaX[k]);
            if (s2 < step.size) {
                step = {s2, 6, k};
            }
        }
    }
    return step;
}

} // namespace

void SolveLCP(int n, float* A, float* x, float* b, float* w, int nub, float* lo, float* hi,
              int* findex, ScratchArena& scratch) {
    LCPStepFailures = 0;
    if (!QUARN_CHECK_ARGUMENTS(n > 0 && A && x && b && w && lo && hi && nub >= 0 && nub <= n)) {
        // Nothing to solve, or nothing to solve it in; a nub out of range is read as its
        // nearest meaning.
        if (n <= 0 || !A || !x || !b || !w || !lo || !hi) {
            return;
        }
        nub = std::clamp(nub, 0, n);
    }
    const int nskip = MatrixStride(n);
    ScratchArena::Scope scope(scratch);

    if (nub >= n) {
        // A and b hold the factor and the solution afterwards.
        float* d = w;
        FactorLDLT(A, d, n, nskip);
        SolveLDLT(A, d, b, n, nskip);
        std::copy(b, b + n, x);
        SetZero(w, n);
        return;
    }

    for (int k = 0; k < n; ++k) {
        QUARN_CHECK_ASSERTION(lo[k] <= 0.0f && hi[k] >= 0.0f, "lo[k] <= 0 && hi[k] >= 0");
    }

    LCPProblem problem(n, nskip, nub, A, x, b, w, lo, hi, findex, scratch);
    float* deltaX = problem.DeltaX();
    float* deltaW = problem.DeltaW();
    bool frictionBoundsSet = false;

    for (int i = problem.Unbounded(); i < n; ++i) {
        if (!frictionBoundsSet && problem.FrictionIndex(i) >= 0) {
            SetFrictionBounds(problem, i, n, x, lo, hi);
            frictionBoundsSet = true;
        }

        const int nC = problem.SizeC();
        const float* row = problem.Row(i);
        w[i] = Dot(row, x, nC) + Dot(row + nC, x + nC, problem.SizeN()) - b[i];

        if (lo[i] == 0.0f && w[i] >= 0.0f) {
            problem.TransferToN();
            problem.SetAtHigh(i, false);
        } else if (hi[i] == 0.0f && w[i] <= 0.0f) {
            problem.TransferToN();
            problem.SetAtHigh(i, true);
        } else if (w[i] == 0.0f) {
            problem.SolveDirection(deltaX, i, 0, true);
            problem.TransferToC(i);
        } else {
            // Push x[i] until w[i] reaches 0 or x[i] a bound, moving the rows in the way between
            // C and N as their own x or w reach their limits.
            problem.ClearMovesWithoutStep();
            // Well-posed problems move a fraction of the rows per push (resting piles about a
            // third); a push that goes on far beyond them cycles on values rounding has made
            // degenerate (huge or infinite ones), and ends the solve as a failed one.
            const int maxMoves = 2 * n + 16;
            int moves = 0;
            for (;;) {
                const int dir = w[i] <= 0.0f ? 1 : -1;
                const float dirf = dir > 0 ? 1.0f : -1.0f;
                problem.SolveDirection(deltaX, i, dir);
                problem.ComputeNFromC(deltaW, deltaX);
                problem.AddColumnToN(deltaW, i, dir);
                const int nCNow = problem.SizeC();
                deltaW[i] = Dot(problem.Row(i), deltaX, nCNow) + problem.Row(i)[i] * dirf;

                Step step = LargestStep(problem, i, dir, x, w, lo, hi, deltaX, deltaW);
                // A negative step (or not a number) means the matrix is not what the solver
                // needs: the first is forced forward, the second ends the solve, as a push that
                // cycles does at once.
                const bool cycling = ++moves > maxMoves;
                if (cycling || !(step.size >= 0.0f)) {
                    LCPStepFailures = cycling ? 2 : LCPStepFailures + 1;
                    if (LCPStepFailures >= 2) {
                        if (i < n - 1) {
                            SetZero(x + i, n - i);
                            SetZero(w + i, n - i);
                        }
                        problem.Unpermute();
                        return;
                    }
                    step.size = 0.0001f;
                }

                const float s = step.size;
                for (int k = 0; k < nCNow; ++k) {
                    x[k] += s * deltaX[k];
                }
                x[i] += s * dirf;
                for (int k = nCNow; k < nCNow + problem.SizeN(); ++k) {
                    w[k] += s * deltaW[k];
                }
                w[i] += s * deltaW[i];

                const int si = step.row;
                if (s > 0.0f) {
                    problem.ClearMovesWithoutStep();
                } else if (step.command >= 4) {
                    problem.NoteMoveWithoutStep(si);
                }
                switch (step.command) {
                case 1:
                    w[i] = 0.0f;
                    problem.TransferToC(i);
                    break;
                case 2:
                    x[i] = lo[i];
                    problem.SetAtHigh(i, false);
                    problem.TransferToN();
                    break;
                case 3:
                    x[i] = hi[i];
                    problem.SetAtHigh(i, true);
                    problem.TransferToN();
                    break;
                case 4:
                    w[si] = 0.0f;
                    problem.TransferFromNToC(si);
                    break;
                case 5:
                    x[si] = lo[si];
                    problem.SetAtHigh(si, false);
                    problem.TransferFromCToN(si);
                    break;
                case 6:
                    x[si] = hi[si];
                    problem.SetAtHigh(si, true);
                    problem.TransferFromCToN(si);
                    break;
                }
                if (step.command <= 3) {
                    break;
                }
            }
        }
    }
    problem.Unpermute();
}

} // namespace quarn
