#pragma once

// Naive double-precision references for the solver tests, and the random matrices they run on.

#include "physics/MatrixKernels.h"

#include <algorithm>
#include <cmath>
#include <random>
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

} // namespace quarn::test
