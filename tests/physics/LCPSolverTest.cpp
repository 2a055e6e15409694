#include "physics/LCPSolver.h"

#include "physics/MatrixKernels.h"
#include "physics/ScratchArena.h"
#include "tests/physics/DenseReference.h"
#include "tests/support/RecordingAssertionHook.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::DenseMatrix;
using test::Problem;
using test::RandomProblem;
constexpr float Inf = LCPInfinity;

struct Solution {
    std::vector<float> x, w;
    int failures = 0;
};

// Solves a copy: the solver permutes and changes what it is given.
Solution Solve(const Problem& problem, ScratchArena& scratch) {
    const int n = problem.Size();
    std::vector<float> a = test::ToPadded(problem.a);
    std::vector<float> b = problem.b, lo = problem.lo, hi = problem.hi;
    std::vector<int> findex = problem.findex;
    Solution solution;
    solution.x.assign(n, -99.0f);
    solution.w.assign(n, -99.0f);
    SolveLCP(n, a.data(), solution.x.data(), b.data(), solution.w.data(), problem.nub, lo.data(),
             hi.data(), findex.empty() ? nullptr : findex.data(), scratch);
    solution.failures = LCPStepFailures;
    return solution;
}

// The problem's rows that are not friction rows, and where each of them went.
Problem WithoutFrictionRows(const Problem& problem, std::vector<int>& newIndex) {
    std::vector<int> kept;
    newIndex.assign(problem.Size(), -1);
    for (int i = 0; i < problem.Size(); ++i) {
        if (problem.findex.empty() || problem.findex[i] < 0) {
            newIndex[i] = static_cast<int>(kept.size());
            kept.push_back(i);
        }
    }
    Problem reduced;
    reduced.a = DenseMatrix(static_cast<int>(kept.size()));
    reduced.nub = problem.nub;
    for (size_t i = 0; i < kept.size(); ++i) {
        for (size_t j = 0; j < kept.size(); ++j) {
            reduced.a(int(i), int(j)) = problem.a(kept[i], kept[j]);
        }
        reduced.b.push_back(problem.b[kept[i]]);
        reduced.lo.push_back(problem.lo[kept[i]]);
        reduced.hi.push_back(problem.hi[kept[i]]);
    }
    return reduced;
}

// The complementarity conditions with w = A x - b computed here: per row, x inside its bounds
// needs w = 0, x at lo needs w >= 0, x at hi needs w <= 0. The w the solver returns must agree.
// Bounds are given separately, as friction rows have theirs from their normal rows' results.
std::string ComplementarityFault(const Problem& problem, const std::vector<float>& lo,
                                 const std::vector<float>& hi, const Solution& solution) {
    const int n = problem.Size();
    double scale = 1.0;
    for (int i = 0; i < n; ++i) {
        scale = std::max(scale, std::fabs(double(problem.b[i])));
    }
    const double tolerance = 2e-3 * scale;
    for (int i = 0; i < n; ++i) {
        double w = -double(problem.b[i]);
        for (int j = 0; j < n; ++j) {
            w += problem.a(i, j) * solution.x[j];
        }
        const double x = solution.x[i];
        const double boundTolerance = 1e-4 * (1.0 + std::fabs(x));
        const bool atLo = lo[i] > -Inf && std::fabs(x - lo[i]) <= boundTolerance;
        const bool atHi = hi[i] < Inf && std::fabs(x - hi[i]) <= boundTolerance;
        const bool inside = x >= lo[i] - boundTolerance && x <= hi[i] + boundTolerance;
        const bool complementary =
            std::fabs(w) <= tolerance || (atLo && w >= -tolerance) || (atHi && w <= tolerance);
        if (!inside || !complementary || std::fabs(w - solution.w[i]) > tolerance) {
            return "row " + std::to_string(i) + " of " + std::to_string(n) + ": x " +
                   std::to_string(x) + " in [" + std::to_string(lo[i]) + ", " +
                   std::to_string(hi[i]) + "], w " + std::to_string(w) + ", solver's w " +
                   std::to_string(solution.w[i]);
        }
    }
    return "";
}

// Checks a solution of a problem that may have friction rows: their bounds follow from the
// normal results of the problem solved without them, which the solver has when it fixes them.
std::string SolutionFault(const Problem& problem, const Solution& solution, ScratchArena& scratch) {
    std::vector<float> lo = problem.lo;
    std::vector<float> hi = problem.hi;
    if (!problem.findex.empty()) {
        std::vector<int> newIndex;
        const Problem normal = WithoutFrictionRows(problem, newIndex);
        const Solution normalSolution = Solve(normal, scratch);
        const std::string fault =
            ComplementarityFault(normal, normal.lo, normal.hi, normalSolution);
        if (!fault.empty()) {
            return "without its friction rows: " + fault;
        }
        for (int i = 0; i < problem.Size(); ++i) {
            if (problem.findex[i] >= 0) {
                const float f = normalSolution.x[newIndex[problem.findex[i]]];
                hi[i] = std::fabs(problem.hi[i] * f);
                lo[i] = -hi[i];
            }
        }
    }
    return ComplementarityFault(problem, lo, hi, solution);
}

void CheckRandomProblems(unsigned seed, int count, int maxSize, bool friction) {
    test::RecordingAssertionHook reports;
    ScratchArena scratch;
    std::mt19937 random(seed);
    for (int k = 0; k < count; ++k) {
        const Problem problem = RandomProblem(random, maxSize, friction);
        const Solution solution = Solve(problem, scratch);
        ASSERT_EQ(solution.failures, 0) << "problem " << k;
        const std::string fault = SolutionFault(problem, solution, scratch);
        ASSERT_EQ(fault, "") << "problem " << k;
    }
    EXPECT_TRUE(reports.Messages().empty()) << reports.Messages().front();
}

TEST(SolveLCP, RandomProblemsMeetTheComplementarityConditions) {
    CheckRandomProblems(46, 1500, 60, false);
}

TEST(SolveLCP, RandomProblemsWithFrictionRowsMeetTheConditionsOfTheirBounds) {
    CheckRandomProblems(47, 1500, 60, true);
}

// The row states: x at lo, at hi, or free with w = 0. For positive definite A exactly one
// assignment of states gives a solution, found by trying all 3^n.
std::vector<double> BruteForce(const Problem& problem) {
    const int n = problem.Size();
    int combinations = 1;
    for (int i = 0; i < n; ++i) {
        combinations *= 3;
    }
    for (int code = 0; code < combinations; ++code) {
        std::vector<int> state(n);
        std::vector<double> x(n, 0.0);
        std::vector<int> free;
        bool possible = true;
        for (int i = 0, rest = code; i < n; ++i, rest /= 3) {
            state[i] = rest % 3;
            if (state[i] == 0) {
                possible &= problem.lo[i] > -Inf;
                x[i] = problem.lo[i];
            } else if (state[i] == 1) {
                possible &= problem.hi[i] < Inf && problem.hi[i] != problem.lo[i];
                x[i] = problem.hi[i];
            } else {
                free.push_back(i);
            }
        }
        if (!possible) {
            continue;
        }
        const int m = static_cast<int>(free.size());
        DenseMatrix aff(m);
        std::vector<double> rhs(m);
        for (int r = 0; r < m; ++r) {
            rhs[r] = problem.b[free[r]];
            for (int c = 0; c < m; ++c) {
                aff(r, c) = problem.a(free[r], free[c]);
            }
            for (int j = 0; j < n; ++j) {
                if (state[j] != 2) {
                    rhs[r] -= problem.a(free[r], j) * x[j];
                }
            }
        }
        std::vector<double> solved;
        if (m > 0 && !test::SolveDense(aff, rhs, solved)) {
            continue;
        }
        const double tolerance = 1e-6;
        bool valid = true;
        for (int r = 0; r < m; ++r) {
            x[free[r]] = solved[r];
            valid &= solved[r] >= problem.lo[free[r]] - tolerance &&
                     solved[r] <= problem.hi[free[r]] + tolerance;
        }
        for (int i = 0; i < n && valid; ++i) {
            double w = -double(problem.b[i]);
            for (int j = 0; j < n; ++j) {
                w += problem.a(i, j) * x[j];
            }
            // A row whose bounds meet is held there whatever its w.
            valid &= state[i] == 2 || problem.lo[i] == problem.hi[i] ||
                     (state[i] == 0 ? w >= -tolerance : w <= tolerance);
        }
        if (valid) {
            return x;
        }
    }
    return {};
}

TEST(SolveLCP, SmallProblemsGiveTheOneSolutionThatTryingEveryRowStateFinds) {
    ScratchArena scratch;
    std::mt19937 random(8);
    for (int k = 0; k < 300; ++k) {
        const Problem problem = RandomProblem(random, 8, false);
        const std::vector<double> expected = BruteForce(problem);
        ASSERT_EQ(expected.size(), size_t(problem.Size())) << "problem " << k;
        const Solution solution = Solve(problem, scratch);
        for (int i = 0; i < problem.Size(); ++i) {
            EXPECT_NEAR(solution.x[i], expected[i], 1e-3 * (1.0 + std::fabs(expected[i])))
                << "problem " << k << " row " << i;
        }
    }
}

// A problem written out in full: A row by row (both triangles), then the rows' data.
Problem Written(int n, int nub, std::vector<double> a, std::vector<float> b, std::vector<float> lo,
                std::vector<float> hi, std::vector<int> findex = {}) {
    Problem problem;
    problem.a = DenseMatrix(n);
    problem.a.values = std::move(a);
    problem.nub = nub;
    problem.b = std::move(b);
    problem.lo = std::move(lo);
    problem.hi = std::move(hi);
    problem.findex = std::move(findex);
    return problem;
}

TEST(SolveLCP, AllUnboundedRowsAreOneFactorSolveThatLeavesTheSolutionInB) {
    float a[8] = {4.0f, 2.0f, 0.0f, 0.0f, 2.0f, 3.0f, 0.0f, 0.0f};
    float b[2] = {2.0f, 1.0f};
    float lo[2] = {-Inf, -Inf};
    float hi[2] = {Inf, Inf};
    float x[2] = {};
    float w[2] = {7.0f, 7.0f};
    ScratchArena scratch;
    SolveLCP(2, a, x, b, w, 2, lo, hi, nullptr, scratch);
    EXPECT_FLOAT_EQ(x[0], 0.5f);
    EXPECT_FLOAT_EQ(x[1], 0.0f);
    EXPECT_EQ(b[0], x[0]);
    EXPECT_EQ(b[1], x[1]);
    EXPECT_EQ(w[0], 0.0f);
    EXPECT_EQ(w[1], 0.0f);
    EXPECT_EQ(LCPStepFailures, 0);
}

TEST(SolveLCP, FrictionBoundsFollowTheNormalResult) {
    struct Case {
        const char* name;
        float normalLo; // -Inf: a normal row without bounds, whose result may be negative
        float normalB;
        float frictionB;
        float expectedX;
        float expectedW;
    };
    // Friction coefficient 0.5; the rows do not couple.
    const Case cases[] = {
        {"normal 2, pushed up", 0.0f, 2.0f, 5.0f, 1.0f, -4.0f},
        {"normal 2, pushed down", 0.0f, 2.0f, -5.0f, -1.0f, 4.0f},
        {"normal -2 gives the same bounds", -Inf, -2.0f, 5.0f, 1.0f, -4.0f},
        {"normal 2, inside the bounds", 0.0f, 2.0f, 0.25f, 0.25f, 0.0f},
        {"normal ends at 0", 0.0f, -1.0f, 5.0f, 0.0f, -5.0f},
    };
    ScratchArena scratch;
    for (const Case& c : cases) {
        const Problem problem = Written(2, 0, {1.0, 0.0, 0.0, 1.0}, {c.normalB, c.frictionB},
                                        {c.normalLo, -0.5f}, {Inf, 0.5f}, {-1, 0});
        const Solution solution = Solve(problem, scratch);
        EXPECT_EQ(solution.x[1], c.expectedX) << c.name;
        EXPECT_EQ(solution.w[1], c.expectedW) << c.name;
        EXPECT_EQ(solution.failures, 0) << c.name;
    }
}

TEST(SolveLCP, TheSecondFailedStepEndsTheSolveWithTheRemainingRowsZeroed) {
    // Negative pivots: rows 0 and 1 each take a step that is not positive.
    const Problem problem = Written(3, 0, {-1.0, 0.0, 0.0, 0.0, -1.0, 0.0, 0.0, 0.0, 1.0},
                                    {1.0f, 1.0f, 3.0f}, {0.0f, 0.0f, 0.0f}, {Inf, Inf, Inf});
    ScratchArena scratch;
    const Solution solution = Solve(problem, scratch);
    EXPECT_EQ(solution.failures, 2);
    EXPECT_EQ(solution.x, (std::vector<float>{0.0001f, 0.0f, 0.0f}));
    EXPECT_EQ(solution.w, (std::vector<float>{0.0f, 0.0f, 0.0f}));
}

TEST(SolveLCP, APushThatCyclesOnHugeValuesEndsTheSolveAsFailed) {
    // An indefinite matrix with a right side of 1e17, where the steps round to nothing: the
    // push went on moving rows for good.
    const Problem problem =
        Written(3, 0, {23.0, 5.0, -2.0, 5.0, -1.0, 1.0, -2.0, 1.0, 4.0},
                {2.0f, 2.0f, 1.08111111e17f}, {0.0f, -2.0f, -Inf}, {0.5f, 5.0f, Inf}, {-1, 0, 0});
    ScratchArena scratch;
    EXPECT_EQ(Solve(problem, scratch).failures, 2);
}

TEST(SolveLCP, RowsAlreadyAtTheirLimitChangeSetsWithoutAStep) {
    // Rows 0 (and 1) rest at 0 with w exactly 0, as contacts between bodies at rest do; the last
    // row's push drives their w below 0 at once, so they join the clamped set with a step of 0.
    struct Case {
        const char* name;
        Problem problem;
        std::vector<float> x;
    };
    const Case cases[] = {
        {"one row in the way",
         Written(2, 0, {1.0, -1.0, -1.0, 2.0}, {0.0f, 1.0f}, {0.0f, 0.0f}, {Inf, Inf}),
         {1.0f, 1.0f}},
        {"two rows in the way",
         Written(3, 0, {1.0, 0.0, -1.0, 0.0, 1.0, -1.0, -1.0, -1.0, 3.0}, {0.0f, 0.0f, 1.0f},
                 {0.0f, 0.0f, 0.0f}, {Inf, Inf, Inf}),
         {1.0f, 1.0f, 1.0f}},
    };
    ScratchArena scratch;
    for (const Case& c : cases) {
        const Solution solution = Solve(c.problem, scratch);
        EXPECT_EQ(solution.failures, 0) << c.name;
        for (size_t i = 0; i < c.x.size(); ++i) {
            EXPECT_NEAR(solution.x[i], c.x[i], 1e-5f) << c.name << " row " << i;
        }
        EXPECT_EQ(ComplementarityFault(c.problem, c.problem.lo, c.problem.hi, solution), "")
            << c.name;
    }
}

TEST(SolveLCP, FifteenHundredRowsSolveWithScratchFromTheArena) {
    test::RecordingAssertionHook reports;
    constexpr int n = 1500;
    Problem problem;
    problem.a = DenseMatrix(n);
    problem.nub = 200;
    for (int i = 0; i < n; ++i) {
        problem.a(i, i) = 2.0;
        if (i > 0) {
            problem.a(i, i - 1) = problem.a(i - 1, i) = -0.5;
        }
        // Most bounded rows rest at 0; every fiftieth is pushed into the clamped set.
        const bool unbounded = i < problem.nub;
        problem.b.push_back(unbounded || i % 50 == 0 ? 1.0f : -1.0f);
        problem.lo.push_back(unbounded ? -Inf : 0.0f);
        problem.hi.push_back(Inf);
    }
    ScratchArena scratch;
    const Solution solution = Solve(problem, scratch);
    EXPECT_EQ(solution.failures, 0);
    EXPECT_EQ(ComplementarityFault(problem, problem.lo, problem.hi, solution), "");
    EXPECT_TRUE(reports.Messages().empty());
    // A warm arena serves the next step of the same island without growing.
    const size_t warm = scratch.Capacity();
    Solve(problem, scratch);
    EXPECT_EQ(scratch.Capacity(), warm);
}

TEST(SolveLCP, BadArgumentsAreReportedAndNeverReadOutsideTheArrays) {
    test::RecordingAssertionHook reports;
    ScratchArena scratch;
    float a[8] = {2.0f, 0.0f, 0.0f, 0.0f, 0.0f, 2.0f, 0.0f, 0.0f};
    float b[2] = {2.0f, 4.0f};
    float lo[2] = {0.0f, -1.0f};
    float hi[2] = {Inf, 1.0f};
    float x[2] = {5.0f, 5.0f};
    float w[2] = {5.0f, 5.0f};

    SolveLCP(0, a, x, b, w, 0, lo, hi, nullptr, scratch);
    EXPECT_EQ(x[0], 5.0f); // nothing to solve, nothing written
    ASSERT_EQ(reports.Messages().size(), 1u);
    EXPECT_TRUE(reports.Messages()[0].starts_with("Bad argument(s) ("));

    // A friction row naming a row that does not exist gets no force and stays at 0.
    int findex[2] = {-1, 7};
    SolveLCP(2, a, x, b, w, 0, lo, hi, findex, scratch);
    EXPECT_EQ(x[0], 1.0f);
    EXPECT_EQ(x[1], 0.0f);
    EXPECT_EQ(reports.Messages().size(), 2u);

    // A nub beyond n means every row is unbounded.
    float b2[2] = {2.0f, 4.0f};
    SolveLCP(2, a, x, b2, w, 3, lo, hi, nullptr, scratch);
    EXPECT_EQ(x[0], 1.0f);
    EXPECT_EQ(x[1], 2.0f);
    EXPECT_EQ(reports.Messages().size(), 3u);
}

} // namespace
} // namespace quarn
