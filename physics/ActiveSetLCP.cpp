#include "physics/ActiveSetLCP.h"

#include "physics/LCPSolver.h"
#include "physics/ScratchArena.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace quarn {
namespace {

enum class Place : uint8_t {
    Free,
    AtLo,
    AtHi,
    Left, // a friction row while the other rows are solved without it: x 0
};

// A row counts as misplaced only beyond this share of its force: rounding must not move a row
// back and forth. Far below what the float results keep.
constexpr double Tolerance = 1e-7;
// Moves of every misplaced row that may leave no fewer of them before rows move one at a time.
constexpr int SetMoveTries = 3;
// Solves without fewer misplaced rows after which a solve with a work bound gives up.
constexpr int StallSolves = 12;

double Bound(float value) {
    if (value <= -LCPInfinity) {
        return -HUGE_VAL;
    }
    return value >= LCPInfinity ? HUGE_VAL : value;
}

Place Guess(double x, double lo, double hi, bool zerosHeld) {
    if (lo == hi) {
        return Place::AtLo;
    }
    // Within a hundredth of a bound counts as at it: a friction force that slid at its bound
    // last step has a bound a little different now.
    const double band = 0.01 * std::min(std::fabs(lo), std::fabs(hi));
    if (x <= lo + band) {
        // A row held at 0 without a force of its own starts free: a new contact has no force
        // to go by, and guessed held, a stack placed touching would load its contacts one box
        // a solve. A row that then pulls is held in the next solve. Where the start is an
        // answer of these rows, its rows at 0 stay held.
        return lo == 0.0 && x == 0.0 && !zerosHeld ? Place::Free : Place::AtLo;
    }
    return x >= hi - band ? Place::AtHi : Place::Free;
}

struct Rows {
    ActiveSetMatrix& a;
    const double* b;
    const double* lo;
    const double* hi;
    Place* place;
    double* x;
    int64_t* work; // left to spend, or null
};

// Takes `cost` from the work left; false, taking nothing, when less is left.
bool Spend(const Rows& rows, int64_t cost) {
    if (!rows.work) {
        return true;
    }
    if (cost > *rows.work) {
        return false;
    }
    *rows.work -= cost;
    return true;
}

// One problem with fixed bounds, from the places given; false when it cannot be solved or
// the budget of solves runs out first.
bool SolveFixedBounds(const Rows& rows, int32_t& solvesLeft, ScratchArena& scratch) {
    const int32_t n = rows.a.Rows();
    ScratchArena::Scope scope(scratch);
    int32_t* freeRows = scratch.Take<int32_t>(n);
    double* ax = scratch.Take<double>(n);
    double* rhs = scratch.Take<double>(n);
    bool* misplaced = scratch.Take<bool>(n);
    int32_t fewest = INT_MAX;
    int32_t tries = 0;
    while (solvesLeft-- > 0) {
        int32_t freeCount = 0;
        for (int32_t i = 0; i < n; ++i) {
            switch (rows.place[i]) {
            case Place::Free:
                rows.x[i] = 0.0;
                freeRows[freeCount++] = i;
                break;
            case Place::AtLo:
                rows.x[i] = rows.lo[i];
                break;
            case Place::AtHi:
                rows.x[i] = rows.hi[i];
                break;
            case Place::Left:
                rows.x[i] = 0.0;
                break;
            }
        }
        const int64_t products = 2 * rows.a.ProductWork();
        int64_t cost = products;
        if (freeCount > 0) {
            ScratchArena::Scope solveScope(scratch);
            cost += rows.a.TakeRows(freeRows, freeCount, scratch);
            if (!Spend(rows, cost)) {
                return false;
            }
            rows.a.Multiply(rows.x, ax);
            for (int32_t k = 0; k < freeCount; ++k) {
                rhs[k] = rows.b[freeRows[k]] - ax[freeRows[k]];
            }
            if (!rows.a.SolveTaken(rhs, scratch)) {
                return false;
            }
            for (int32_t k = 0; k < freeCount; ++k) {
                rows.x[freeRows[k]] = rhs[k];
            }
        } else if (!Spend(rows, cost)) {
            return false;
        }
        rows.a.Multiply(rows.x, ax);

        // w / A_ii is in the units of x: how far the row's own force would move to make w 0.
        double scale = 0.0;
        for (int32_t i = 0; i < n; ++i) {
            scale =
                std::max(scale, std::fabs(rows.x[i]) + std::fabs(rows.b[i]) / rows.a.Diagonal(i));
        }
        int32_t count = 0;
        int32_t firstMisplaced = -1;
        for (int32_t i = 0; i < n; ++i) {
            const double x = rows.x[i];
            const double push = (ax[i] - rows.b[i]) / rows.a.Diagonal(i);
            const double tolerance =
                Tolerance *
                (std::fabs(x) + std::fabs(rows.b[i]) / rows.a.Diagonal(i) + 1e-3 * scale);
            bool wrong = false;
            switch (rows.place[i]) {
            case Place::Free:
                wrong = x < rows.lo[i] - tolerance || x > rows.hi[i] + tolerance;
                break;
            case Place::AtLo:
                wrong = push < -tolerance && rows.lo[i] != rows.hi[i];
                break;
            case Place::AtHi:
                wrong = push > tolerance;
                break;
            case Place::Left:
                break;
            }
            if (!std::isfinite(x) || !std::isfinite(push)) {
                return false;
            }
            misplaced[i] = wrong;
            if (wrong) {
                firstMisplaced = firstMisplaced < 0 ? i : firstMisplaced;
                ++count;
            }
        }
        if (count == 0) {
            return true;
        }
        bool moveAll = true;
        if (count < fewest) {
            fewest = count;
            tries = 0;
        } else {
            moveAll = ++tries <= SetMoveTries;
        }
        // Moved one at a time, the wrong rows take about a solve each: past the work left, the
        // solves spent on them would be lost. Nor do rows that have grown no fewer in a dozen
        // solves settle: they go round.
        if (!moveAll && rows.work && (count * cost > *rows.work || tries > StallSolves)) {
            return false;
        }
        for (int32_t i = moveAll ? 0 : firstMisplaced; i < n; ++i) {
            if (!misplaced[i]) {
                continue;
            }
            Place& place = rows.place[i];
            if (place == Place::Free) {
                place = rows.x[i] < rows.lo[i] ? Place::AtLo : Place::AtHi;
            } else {
                place = Place::Free;
            }
            if (!moveAll) {
                break;
            }
        }
    }
    return false;
}

} // namespace

int32_t ProfileActiveSetMatrix::Rows() const {
    return a_.n;
}

double ProfileActiveSetMatrix::Diagonal(int32_t i) const {
    return a_.Diagonal(i);
}

void ProfileActiveSetMatrix::Multiply(const double* x, double* out) const {
    MultiplyProfile(a_, x, out);
}

int64_t ProfileActiveSetMatrix::ProductWork() const {
    return 2 * a_.Size(); // the size twice over: it is symmetric
}

int64_t ProfileActiveSetMatrix::TakeRows(const int32_t* rows, int32_t count,
                                         ScratchArena& scratch) {
    TakeSubmatrix(a_, rows, count, taken_, scratch);
    return taken_.FactorWork();
}

bool ProfileActiveSetMatrix::SolveTaken(double* rhs, ScratchArena&) {
    if (!FactorProfileLDLT(taken_)) {
        return false;
    }
    SolveProfileLDLT(taken_, rhs);
    return true;
}

bool SolveActiveSetLCP(const ProfileMatrix& a, double* x, const double* b, const float* lo,
                       const float* hi, const int32_t* findex, int32_t maxSolves,
                       ScratchArena& scratch, int64_t* work, bool zerosHeld) {
    ProfileActiveSetMatrix matrix(a);
    return SolveActiveSetLCP(matrix, x, b, lo, hi, findex, maxSolves, scratch, work, zerosHeld);
}

bool SolveActiveSetLCP(ActiveSetMatrix& a, double* x, const double* b, const float* lo,
                       const float* hi, const int32_t* findex, int32_t maxSolves,
                       ScratchArena& scratch, int64_t* work, bool zerosHeld) {
    const int32_t n = a.Rows();
    ScratchArena::Scope scope(scratch);
    double* low = scratch.Take<double>(n);
    double* high = scratch.Take<double>(n);
    Place* place = scratch.Take<Place>(n);
    double* guess = scratch.Take<double>(n);
    std::copy(x, x + n, guess);
    bool friction = false;
    for (int32_t i = 0; i < n; ++i) {
        const bool frictionRow = findex && findex[i] >= 0;
        friction = friction || frictionRow;
        low[i] = Bound(lo[i]);
        high[i] = Bound(hi[i]);
        place[i] = frictionRow ? Place::Left : Guess(x[i], low[i], high[i], zerosHeld);
    }
    const Rows rows{a, b, low, high, place, x, work};
    int32_t solvesLeft = maxSolves;
    if (!SolveFixedBounds(rows, solvesLeft, scratch)) {
        return false;
    }
    if (!friction) {
        return true;
    }
    // The friction rows' bounds from the others' forces, as SolveLCP fixes them.
    for (int32_t i = 0; i < n; ++i) {
        if (place[i] != Place::Left) {
            continue;
        }
        const int32_t normal = findex[i];
        const double f = normal < n ? x[normal] : 0.0;
        const double reach = std::fabs(static_cast<double>(hi[i]) * f);
        high[i] = f == 0.0 ? 0.0 : reach >= LCPInfinity ? HUGE_VAL : reach;
        low[i] = -high[i];
        place[i] = Guess(guess[i], low[i], high[i], zerosHeld);
    }
    return SolveFixedBounds(rows, solvesLeft, scratch);
}

} // namespace quarn
