#include "physics/ProfileMatrix.h"

#include "physics/ScratchArena.h"

#include <algorithm>
#include <cmath>

namespace quarn {
namespace {

// Four sums side by side, so the compiler may keep them in one register: a fixed order, and the
// same result on every machine.
[[gnu::always_inline]] inline double Dot(const double* a, const double* b, int64_t n) {
    double s0 = 0.0;
    double s1 = 0.0;
    double s2 = 0.0;
    double s3 = 0.0;
    int64_t k = 0;
    for (; k + 4 <= n; k += 4) {
        s0 += a[k] * b[k];
        s1 += a[k + 1] * b[k + 1];
        s2 += a[k + 2] * b[k + 2];
        s3 += a[k + 3] * b[k + 3];
    }
    for (; k < n; ++k) {
        s0 += a[k] * b[k];
    }
    return (s0 + s1) + (s2 + s3);
}

} // namespace

int64_t ProfileMatrix::Size() const {
    return n > 0 ? start[n - 1] + (n - first[n - 1]) : 0;
}

int64_t ProfileMatrix::FactorWork() const {
    int64_t work = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int64_t length = i - first[i] + 1;
        work += length * length;
    }
    return work;
}

void TakeProfile(ProfileMatrix& matrix, int32_t n, const int32_t* first, ScratchArena& scratch) {
    matrix.n = n;
    matrix.first = first;
    int64_t* start = scratch.Take<int64_t>(static_cast<size_t>(std::max(n, 1)));
    int64_t size = 0;
    for (int32_t i = 0; i < n; ++i) {
        start[i] = size;
        size += i - first[i] + 1;
    }
    matrix.start = start;
    matrix.values = scratch.Take<double>(static_cast<size_t>(std::max<int64_t>(size, 1)));
    std::fill(matrix.values, matrix.values + size, 0.0);
}

void TakeSubmatrix(const ProfileMatrix& a, const int32_t* rows, int32_t count, ProfileMatrix& out,
                   ScratchArena& scratch) {
    int32_t* first = scratch.Take<int32_t>(static_cast<size_t>(std::max(count, 1)));
    // A kept row begins at the first kept row at or after where it began.
    for (int32_t k = 0; k < count; ++k) {
        first[k] = static_cast<int32_t>(std::lower_bound(rows, rows + k, a.first[rows[k]]) - rows);
    }
    TakeProfile(out, count, first, scratch);
    for (int32_t k = 0; k < count; ++k) {
        const double* source = a.Row(rows[k]);
        double* target = out.Row(k);
        for (int32_t j = first[k]; j <= k; ++j) {
            target[j] = source[rows[j]];
        }
    }
}

void MultiplyProfile(const ProfileMatrix& a, const double* x, double* out) {
    std::fill(out, out + a.n, 0.0);
    for (int32_t i = 0; i < a.n; ++i) {
        const double* row = a.Row(i);
        const int32_t first = a.first[i];
        out[i] += Dot(row + first, x + first, i - first) + row[i] * x[i];
        const double xi = x[i];
        for (int32_t j = first; j < i; ++j) {
            out[j] += row[j] * xi;
        }
    }
}

namespace {

// Row i, reduced, becomes L itself with D on the diagonal; false for a pivot that is not a
// positive finite number.
[[gnu::always_inline]] inline bool FinishRow(const ProfileMatrix& a, int32_t i) {
    double* row = a.Row(i);
    double pivot = row[i];
    for (int32_t j = a.first[i]; j < i; ++j) {
        const double scaled = row[j];
        row[j] = scaled / a.Row(j)[j];
        pivot -= scaled * row[j];
    }
    if (!(pivot > 0.0) || !std::isfinite(pivot)) {
        return false;
    }
    row[i] = pivot;
    return true;
}

} // namespace

bool FactorProfileLDLT(ProfileMatrix& a) {
    // Rows a few at a time: their columns left of the first one's diagonal need only the rows
    // above them all, so their reductions run side by side, each a chain of dependent sums that
    // the processor would otherwise wait on one after another. Each row takes the same
    // operations in the same order as alone.
    constexpr int32_t Together = 4;
    for (int32_t i = 0; i < a.n; i += Together) {
        const int32_t count = std::min(Together, a.n - i);
        int32_t lowest = i;
        for (int32_t k = 0; k < count; ++k) {
            lowest = std::min(lowest, a.first[i + k]);
        }
        for (int32_t j = lowest; j < i; ++j) {
            const double* above = a.Row(j);
            for (int32_t k = 0; k < count; ++k) {
                const int32_t first = a.first[i + k];
                if (j >= first) {
                    double* row = a.Row(i + k);
                    const int32_t from = std::max(first, a.first[j]);
                    row[j] -= Dot(row + from, above + from, j - from);
                }
            }
        }
        for (int32_t k = 0; k < count; ++k) {
            const int32_t first = a.first[i + k];
            double* row = a.Row(i + k);
            for (int32_t j = std::max(i, first); j < i + k; ++j) {
                const int32_t from = std::max(first, a.first[j]);
                row[j] -= Dot(row + from, a.Row(j) + from, j - from);
            }
            if (!FinishRow(a, i + k)) {
                return false;
            }
        }
    }
    return true;
}

void SolveProfileLDLT(const ProfileMatrix& factor, double* b) {
    const int32_t n = factor.n;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t first = factor.first[i];
        b[i] -= Dot(factor.Row(i) + first, b + first, i - first);
    }
    for (int32_t i = 0; i < n; ++i) {
        b[i] /= factor.Diagonal(i);
    }
    for (int32_t i = n - 1; i >= 0; --i) {
        const double* row = factor.Row(i);
        const double bi = b[i];
        for (int32_t j = factor.first[i]; j < i; ++j) {
            b[j] -= row[j] * bi;
        }
    }
}

} // namespace quarn
