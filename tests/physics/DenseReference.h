#pragma once

// Naive double-precision references for the solver tests, and the random matrices they run on.

#include "physics/LCPSolver.h"
#include "physics/MatrixKernels.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

namespace quarn::test {

// A square matrix in double, row-major without padding.
struct DenseMatrix {
    int n = 0;
    std::vector<double> values;

    explicit DenseMatrix(int size) : n(size), values(static_cast<size_t>(size) * size, 0.0) {}
    double& operator()(int i, int j) { return values[static_cast<size_t>(i) * n + j]; }
    double operator()(int i, int j) const { return values[static_cast<size_t>(i) * n + j]; }
};

// M M^T + epsilon I with M's entries uniform in [-1, 1]: symmetric positive definite.
inline DenseMatrix RandomPositiveDefinite(int n, double epsilon, std::mt19937& random) {
    std::uniform_real_distribution<float> entry(-1.0f, 1.0f);
    DenseMatrix m(n);
    for (double& value : m.values) {
        value = entry(random);
    }
    DenseMatrix a(n);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j <= i; ++j) {
            double sum = 0.0;
            for (int k = 0; k < n; ++k) {
                sum += m(i, k) * m(j, k);
            }
            // Rounded to float first, so the solver and the reference see the same matrix.
            a(i, j) = a(j, i) = static_cast<float>(sum + (i == j ? epsilon : 0.0));
        }
    }
    return a;
}

// The matrix in the solvers' padded float layout, both triangles filled.
inline std::vector<float> ToPadded(const DenseMatrix& a) {
    const int nskip = MatrixStride(a.n);
    std::vector<float> padded(static_cast<size_t>(a.n) * std::max(nskip, 1), 0.0f);
    for (int i = 0; i < a.n; ++i) {
        for (int j = 0; j < a.n; ++j) {
            padded[static_cast<size_t>(i) * nskip + j] = static_cast<float>(a(i, j));
        }
    }
    return padded;
}

// Solves a x = b by Gaussian elimination with partial pivoting; false when a is singular.
inline bool SolveDense(DenseMatrix a, std::vector<double> b, std::vector<double>& x) {
    const int n = a.n;
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int r = col + 1; r < n; ++r) {
            if (std::fabs(a(r, col)) > std::fabs(a(pivot, col))) {
                pivot = r;
            }
        }
        if (std::fabs(a(pivot, col)) < 1e-12) {
            return false;
        }
        for (int k = 0; k < n; ++k) {
            std::swap(a(col, k), a(pivot, k));
        }
        std::swap(b[col], b[pivot]);
        for (int r = col + 1; r < n; ++r) {
            const double f = a(r, col) / a(col, col);
            for (int k = col; k < n; ++k) {
                a(r, k) -= f * a(col, k);
            }
            b[r] -= f * b[col];
        }
    }
    x.assign(n, 0.0);
    for (int r = n - 1; r >= 0; --r) {
        double sum = b[r];
        for (int k = r + 1; k < n; ++k) {
            sum -= a(r, k) * x[k];
        }
        x[r] = sum / a(r, r);
    }
    return true;
}

// L D L^T from a factor in the kernels' layout (d holding reciprocals).
inline DenseMatrix ProductLDLT(const float* L, const float* d, int n, int nskip) {
    auto l = [&](int i, int j) {
        return i == j ? 1.0 : i > j ? double(L[static_cast<size_t>(i) * nskip + j]) : 0.0;
    };
    DenseMatrix product(n);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            double sum = 0.0;
            for (int k = 0; k <= std::min(i, j); ++k) {
                sum += l(i, k) * l(j, k) / double(d[k]);
            }
            product(i, j) = sum;
        }
    }
    return product;
}

inline double MaxDifference(const DenseMatrix& a, const DenseMatrix& b) {
    double worst = 0.0;
    for (size_t k = 0; k < a.values.size(); ++k) {
        worst = std::max(worst, std::fabs(a.values[k] - b.values[k]));
    }
    return worst;
}

// A problem for the LCP solvers: A x = b + w within lo..hi, friction rows bounded by the
// result of the row their findex names.
struct Problem {
    DenseMatrix a{0};
    int nub = 0;
    std::vector<float> b, lo, hi;
    std::vector<int> findex; // empty: none
    int Size() const { return a.n; }
};

// A x = b + w on M M^T + epsilon I, the first nub rows unbounded, the others bounded by a mix
// of 0, finite values and infinity; with friction, some rows take their bounds from a normal
// row (lo 0, hi infinite).
inline Problem RandomProblem(std::mt19937& random, int maxSize, bool friction) {
    auto uniform = [&](float low, float high) {
        return std::uniform_real_distribution<float>(low, high)(random);
    };
    auto whole = [&](int low, int high) {
        return std::uniform_int_distribution(low, high)(random);
    };
    Problem problem;
    const int n = whole(1, maxSize);
    problem.a = RandomPositiveDefinite(n, 0.5, random);
    problem.nub = whole(0, 1) ? whole(1, std::min(n, 4)) : 0;
    std::vector<int> normalRows;
    for (int i = 0; i < n; ++i) {
        problem.b.push_back(uniform(-1.0f, 1.0f));
        const float c = uniform(0.1f, 2.0f);
        const std::pair<float, float> kinds[] = {{0.0f, LCPInfinity},  {-c, c},   {-LCPInfinity, LCPInfinity}, {0.0f, c},
                                                 {-LCPInfinity, 0.0f}, {-c, LCPInfinity}, {0.0f, 0.0f}};
        const auto [lo, hi] = i < problem.nub ? std::pair{-LCPInfinity, LCPInfinity} : kinds[whole(0, 6)];
        problem.lo.push_back(lo);
        problem.hi.push_back(hi);
        if (i >= problem.nub && lo == 0.0f && hi == LCPInfinity) {
            normalRows.push_back(i);
        }
    }
    if (friction && !normalRows.empty()) {
        problem.findex.assign(n, -1);
        for (int i = problem.nub; i < n; ++i) {
            const bool isNormal =
                std::find(normalRows.begin(), normalRows.end(), i) != normalRows.end();
            if (!isNormal && whole(0, 1)) {
                problem.findex[i] = normalRows[whole(0, int(normalRows.size()) - 1)];
                problem.hi[i] = uniform(0.1f, 1.5f);
                problem.lo[i] = -problem.hi[i];
            }
        }
    }
    return problem;
}

} // namespace quarn::test
