#include "physics/ProfileMatrix.h"

#include "physics/ScratchArena.h"
#include "tests/physics/DenseReference.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace quarn {
namespace {

using test::DenseMatrix;

// A symmetric matrix with random entries from each row's random first column to its diagonal,
// the diagonal outweighing the rest of its row and column: positive definite.
struct RandomProfile {
    std::vector<int32_t> first;
    DenseMatrix dense{0};
    ProfileMatrix matrix;
};

void MakeRandomProfile(std::mt19937& random, ScratchArena& scratch, RandomProfile& out) {
    const int n = std::uniform_int_distribution(1, 40)(random);
    const int reach = std::uniform_int_distribution(0, n)(random);
    std::uniform_real_distribution<double> entry(-1.0, 1.0);
    out.first.resize(n);
    out.dense = DenseMatrix(n);
    for (int i = 0; i < n; ++i) {
        out.first[i] = std::uniform_int_distribution(std::max(0, i - reach), i)(random);
        for (int j = out.first[i]; j < i; ++j) {
            out.dense(i, j) = out.dense(j, i) = entry(random);
        }
    }
    for (int i = 0; i < n; ++i) {
        double sum = 0.5;
        for (int j = 0; j < n; ++j) {
            sum += j == i ? 0.0 : std::fabs(out.dense(i, j));
        }
        out.dense(i, i) = sum;
    }
    TakeProfile(out.matrix, n, out.first.data(), scratch);
    for (int i = 0; i < n; ++i) {
        for (int j = out.first[i]; j <= i; ++j) {
            out.matrix.Row(i)[j] = out.dense(i, j);
        }
    }
}

// The factor row by row, each row's columns in order, with the same four sums a dot product
// takes: the order whatever the factor interleaves must keep.
double ReferenceDot(const double* a, const double* b, int64_t n) {
    double s[4] = {};
    int64_t k = 0;
    for (; k + 4 <= n; k += 4) {
        for (int lane = 0; lane < 4; ++lane) {
            s[lane] += a[k + lane] * b[k + lane];
        }
    }
    for (; k < n; ++k) {
        s[0] += a[k] * b[k];
    }
    return (s[0] + s[1]) + (s[2] + s[3]);
}

bool ReferenceFactor(ProfileMatrix& a) {
    for (int32_t i = 0; i < a.n; ++i) {
        double* row = a.Row(i);
        const int32_t first = a.first[i];
        for (int32_t j = first; j < i; ++j) {
            const int32_t from = std::max(first, a.first[j]);
            row[j] -= ReferenceDot(row + from, a.Row(j) + from, j - from);
        }
        double pivot = row[i];
        for (int32_t j = first; j < i; ++j) {
            const double scaled = row[j];
            row[j] = scaled / a.Row(j)[j];
            pivot -= scaled * row[j];
        }
        if (!(pivot > 0.0) || !std::isfinite(pivot)) {
            return false;
        }
        row[i] = pivot;
    }
    return true;
}

TEST(ProfileMatrix, ProductSubmatrixFactorAndSolveMatchTheReferencesOnRandomProfiles) {
    std::mt19937 random(89);
    ScratchArena scratch;
    for (int trial = 0; trial < 200; ++trial) {
        ScratchArena::Scope scope(scratch);
        RandomProfile a;
        MakeRandomProfile(random, scratch, a);
        const int n = a.dense.n;
        std::vector<double> x(n);
        for (double& value : x) {
            value = std::uniform_real_distribution<double>(-1.0, 1.0)(random);
        }
        std::vector<double> product(n);
        MultiplyProfile(a.matrix, x.data(), product.data());
        int64_t work = 0;
        for (int i = 0; i < n; ++i) {
            double expected = 0.0;
            for (int j = 0; j < n; ++j) {
                expected += a.dense(i, j) * x[j];
            }
            EXPECT_NEAR(product[i], expected, 1e-12) << trial;
            work += int64_t(i - a.first[i] + 1) * (i - a.first[i] + 1);
        }
        EXPECT_EQ(a.matrix.FactorWork(), work);

        // Every other row, as the free rows of an active set.
        std::vector<int32_t> rows;
        for (int i = trial % 2; i < n; i += 2) {
            rows.push_back(i);
        }
        ProfileMatrix sub;
        TakeSubmatrix(a.matrix, rows.data(), static_cast<int32_t>(rows.size()), sub, scratch);
        for (size_t k = 0; k < rows.size(); ++k) {
            for (size_t j = 0; j <= k; ++j) {
                const double held = int(j) >= sub.first[k] ? sub.Row(int(k))[j] : 0.0;
                EXPECT_EQ(held, a.dense(rows[k], rows[j])) << trial << " " << k << "," << j;
            }
        }

        std::vector<double> reference;
        ASSERT_TRUE(test::SolveDense(a.dense, x, reference));
        ProfileMatrix rowByRow;
        TakeProfile(rowByRow, n, a.matrix.first, scratch);
        std::copy(a.matrix.values, a.matrix.values + a.matrix.Size(), rowByRow.values);
        ASSERT_TRUE(ReferenceFactor(rowByRow));
        ASSERT_TRUE(FactorProfileLDLT(a.matrix)) << trial;
        for (int64_t k = 0; k < a.matrix.Size(); ++k) {
            ASSERT_EQ(std::bit_cast<uint64_t>(a.matrix.values[k]),
                      std::bit_cast<uint64_t>(rowByRow.values[k]))
                << trial << " value " << k;
        }
        SolveProfileLDLT(a.matrix, x.data());
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(x[i], reference[i], 1e-10 * (1.0 + std::fabs(reference[i]))) << trial;
        }
    }
}

TEST(ProfileMatrix, AMatrixThatIsNotPositiveDefiniteIsRefused) {
    ScratchArena scratch;
    ScratchArena::Scope scope(scratch);
    const int32_t first[] = {0, 0};
    const double cases[][3] = {{1.0, 2.0, 1.0},  // indefinite
                               {1.0, 1.0, 1.0},  // singular
                               {0.0, 0.0, 1.0},  // a zero pivot
                               {NAN, 0.0, 1.0}}; // not a number
    for (const auto& values : cases) {
        ProfileMatrix a;
        TakeProfile(a, 2, first, scratch);
        a.Row(0)[0] = values[0];
        a.Row(1)[0] = values[1];
        a.Row(1)[1] = values[2];
        EXPECT_FALSE(FactorProfileLDLT(a)) << values[0] << " " << values[1] << " " << values[2];
    }
}

} // namespace
} // namespace quarn
