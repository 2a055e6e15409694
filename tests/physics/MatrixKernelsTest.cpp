#include "physics/MatrixKernels.h"

#include "physics/ScratchArena.h"
#include "tests/physics/DenseReference.h"
#include "tests/support/RecordingAssertionHook.h"

#include <gtest/gtest.h>
#include <numeric>
#include <random>
#include <vector>

namespace quarn {
namespace {

using test::DenseMatrix;

double MaxAbs(const DenseMatrix& a) {
    double worst = 0.0;
    for (double value : a.values) {
        worst = std::max(worst, std::fabs(value));
    }
    return worst;
}

TEST(MatrixKernels, FactorAndSolveMatchTheReferenceOnEverySizeUpToForty) {
    test::RecordingAssertionHook reports;
    std::mt19937 random(46);
    std::uniform_real_distribution<float> entry(-1.0f, 1.0f);
    for (int n = 1; n <= 40; ++n) {
        const int nskip = MatrixStride(n);
        const DenseMatrix a = test::RandomPositiveDefinite(n, 1.0, random);
        std::vector<float> factor = test::ToPadded(a);
        // The diagonal, the upper triangle and the padding must come through untouched.
        for (int i = 0; i < n; ++i) {
            for (int j = i + 1; j < nskip; ++j) {
                factor[static_cast<size_t>(i) * nskip + j] = 1000.0f + float(j);
            }
        }
        const std::vector<float> before = factor;
        std::vector<float> d(n);
        FactorLDLT(factor.data(), d.data(), n, nskip);
        for (int i = 0; i < n; ++i) {
            for (int j = i; j < nskip; ++j) {
                ASSERT_EQ(factor[static_cast<size_t>(i) * nskip + j],
                          before[static_cast<size_t>(i) * nskip + j]);
            }
        }
        const double scale = MaxAbs(a);
        EXPECT_LE(test::MaxDifference(test::ProductLDLT(factor.data(), d.data(), n, nskip), a),
                  1e-5 * scale)
            << "n = " << n;

        std::vector<float> b(n);
        std::vector<double> expected(n);
        for (float& value : b) {
            value = entry(random);
        }
        ASSERT_TRUE(test::SolveDense(a, std::vector<double>(b.begin(), b.end()), expected));
        SolveLDLT(factor.data(), d.data(), b.data(), n, nskip);
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(b[i], expected[i], 1e-3 * (1.0 + std::fabs(expected[i]))) << "n = " << n;
        }
    }
    EXPECT_TRUE(reports.Messages().empty());
}

TEST(MatrixKernels, TriangularSolvesInvertTheUnitLowerFactorAndItsTranspose) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> entry(-0.5f, 0.5f);
    for (int n : {1, 2, 3, 4, 5, 8, 13}) {
        const int nskip = MatrixStride(n);
        std::vector<float> L(static_cast<size_t>(n) * nskip, 0.0f);
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < i; ++j) {
                L[static_cast<size_t>(i) * nskip + j] = entry(random);
            }
        }
        auto l = [&](int i, int j) {
            return i == j ? 1.0 : i > j ? double(L[static_cast<size_t>(i) * nskip + j]) : 0.0;
        };
        std::vector<float> b(n);
        for (float& value : b) {
            value = entry(random);
        }
        std::vector<float> x = b;
        std::vector<float> y = b;
        SolveL1(L.data(), x.data(), n, nskip);
        SolveL1T(L.data(), y.data(), n, nskip);
        for (int i = 0; i < n; ++i) {
            double lx = 0.0;
            double lty = 0.0;
            for (int j = 0; j < n; ++j) {
                lx += l(i, j) * x[j];
                lty += l(j, i) * y[j];
            }
            EXPECT_NEAR(lx, b[i], 1e-5) << "L x, n = " << n << ", row " << i;
            EXPECT_NEAR(lty, b[i], 1e-5) << "L^T y, n = " << n << ", row " << i;
        }
    }
    // A diagonal factor leaves only the scaling by d.
    std::vector<float> L(8 * 5, 0.0f);
    const float d[5] = {2.0f, 0.5f, -1.0f, 4.0f, 0.25f};
    float b[5] = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f};
    SolveLDLT(L.data(), d, b, 5, 8);
    EXPECT_EQ(std::vector<float>(b, b + 5), (std::vector<float>{2.0f, 1.0f, -3.0f, 16.0f, 1.25f}));
}

TEST(MatrixKernels, AddTopLeftGivesTheTrailingFactorOfTheChangedMatrix) {
    test::RecordingAssertionHook reports;
    ScratchArena scratch;
    std::mt19937 random(11);
    std::uniform_real_distribution<float> change(-0.5f, 0.5f);
    for (int n : {2, 3, 6, 9, 16, 21}) {
        const int nskip = MatrixStride(n);
        DenseMatrix a = test::RandomPositiveDefinite(n, n, random);
        std::vector<float> L = test::ToPadded(a);
        std::vector<float> d(n);
        FactorLDLT(L.data(), d.data(), n, nskip);

        std::vector<float> delta(n);
        for (float& value : delta) {
            value = change(random);
        }
        LDLTAddTopLeft(L.data(), d.data(), delta.data(), n, nskip, scratch);

        a(0, 0) += delta[0];
        for (int j = 1; j < n; ++j) {
            a(0, j) = a(j, 0) = a(j, 0) + delta[j];
        }
        std::vector<float> refactored = test::ToPadded(a);
        std::vector<float> expectedD(n);
        FactorLDLT(refactored.data(), expectedD.data(), n, nskip);
        for (int j = 1; j < n; ++j) {
            EXPECT_NEAR(d[j], expectedD[j], 1e-4 * std::fabs(expectedD[j])) << "n " << n;
            for (int i = j + 1; i < n; ++i) {
                const size_t at = static_cast<size_t>(i) * nskip + j;
                EXPECT_NEAR(L[at], refactored[at], 1e-4)
                    << "n " << n << " (" << i << ", " << j << ")";
            }
        }
    }
    EXPECT_TRUE(reports.Messages().empty());
}

TEST(MatrixKernels, RemoveEveryRowOfFactorsOverPermutedRows) {
    test::RecordingAssertionHook reports;
    ScratchArena scratch;
    std::mt19937 random(3);
    for (auto [n1, n2] : {std::pair{1, 1}, {5, 3}, {9, 9}, {14, 10}, {23, 17}}) {
        const int nskip = MatrixStride(n1);
        const DenseMatrix a = test::RandomPositiveDefinite(n1, 1.0, random);
        // The problem's rows lie shuffled in memory, as the solver leaves them.
        std::vector<int> memoryOrder(n1);
        std::iota(memoryOrder.begin(), memoryOrder.end(), 0);
        std::shuffle(memoryOrder.begin(), memoryOrder.end(), random);
        std::vector<float> storage(static_cast<size_t>(n1) * nskip, 0.0f);
        std::vector<float*> rows(n1);
        for (int i = 0; i < n1; ++i) {
            rows[i] = storage.data() + static_cast<size_t>(memoryOrder[i]) * nskip;
            for (int j = 0; j <= i; ++j) {
                rows[i][j] = float(a(i, j));
            }
        }
        // The factor covers n2 of the rows, in another order.
        std::vector<int> p(n1);
        std::iota(p.begin(), p.end(), 0);
        std::shuffle(p.begin(), p.end(), random);
        p.resize(n2);
        std::vector<float> L(static_cast<size_t>(n2) * nskip, 0.0f);
        for (int i = 0; i < n2; ++i) {
            for (int j = 0; j <= i; ++j) {
                L[static_cast<size_t>(i) * nskip + j] = float(a(p[i], p[j]));
            }
        }
        std::vector<float> d(n2);
        FactorLDLT(L.data(), d.data(), n2, nskip);

        for (int r = 0; r < n2; ++r) {
            std::vector<float> removedL = L;
            std::vector<float> removedD = d;
            LDLTRemove(rows.data(), p.data(), removedL.data(), removedD.data(), n1, n2, r, nskip,
                       scratch);
            if (r == n2 - 1) {
                EXPECT_EQ(removedL, L);
                EXPECT_EQ(removedD, d);
                continue;
            }
            std::vector<int> kept = p;
            kept.erase(kept.begin() + r);
            DenseMatrix expected(n2 - 1);
            for (int i = 0; i < n2 - 1; ++i) {
                for (int j = 0; j < n2 - 1; ++j) {
                    expected(i, j) = a(kept[i], kept[j]);
                }
            }
            const DenseMatrix actual =
                test::ProductLDLT(removedL.data(), removedD.data(), n2 - 1, nskip);
            EXPECT_LE(test::MaxDifference(actual, expected), 1e-4 * MaxAbs(a))
                << "n1 " << n1 << " n2 " << n2 << " r " << r;
        }
    }
    EXPECT_TRUE(reports.Messages().empty());
}

TEST(MatrixKernels, RemoveRowColClosesTheGapOfTheFirstAMiddleAndTheLastRow) {
    constexpr int n = 6;
    constexpr int nskip = 8;
    for (int r : {0, 2, n - 1}) {
        std::vector<float> a(n * nskip, -1.0f);
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                a[i * nskip + j] = float(i * 10 + j);
            }
        }
        const std::vector<float> before = a;
        RemoveRowCol(a.data(), n, nskip, r);
        if (r == n - 1) {
            EXPECT_EQ(a, before);
            continue;
        }
        for (int i = 0; i < n - 1; ++i) {
            for (int j = 0; j < n - 1; ++j) {
                EXPECT_EQ(a[i * nskip + j], float((i + (i >= r)) * 10 + j + (j >= r)))
                    << "r " << r << " (" << i << ", " << j << ")";
            }
        }
    }
}

TEST(MatrixKernels, BadArgumentsAreReportedAndChangeNothing) {
    test::RecordingAssertionHook reports;
    ScratchArena scratch;
    SetZero(nullptr, 3);
    float row[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    RemoveRowCol(row, 2, 2, 2);
    // A factor naming a row outside the problem is left as it is rather than read past the end.
    float* rows[2] = {row, row + 2};
    const int p[2] = {0, 5};
    float L[8] = {1.0f, 0.0f, 0.5f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    float d[2] = {1.0f, 1.0f};
    LDLTRemove(rows, p, L, d, 2, 2, 0, 2, scratch);
    EXPECT_EQ(L[2], 0.5f);
    EXPECT_EQ(d[0], 1.0f);
    EXPECT_EQ(std::vector<float>(row, row + 4), (std::vector<float>{1.0f, 2.0f, 3.0f, 4.0f}));
    ASSERT_EQ(reports.Messages().size(), 3u);
    EXPECT_TRUE(reports.Messages()[0].starts_with("Bad argument(s) (") &&
                reports.Messages()[0].find("MatrixKernels.cpp:") != std::string::npos)
        << reports.Messages()[0];
    EXPECT_TRUE(reports.Messages()[2].starts_with("assertion \"p[i] >= 0 && p[i] < n1\" failed"));
}

} // namespace
} // namespace quarn
