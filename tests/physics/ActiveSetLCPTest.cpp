#include "physics/ActiveSetLCP.h"

#include "physics/LCPSolver.h"
#include "physics/ProfileMatrix.h"
#include "physics/ScratchArena.h"
#include "tests/physics/DenseReference.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace quarn {
namespace {

using test::Problem;

// The problem's matrix with every row held whole.
void HoldWhole(const Problem& problem, std::vector<int32_t>& first, ScratchArena& scratch,
               ProfileMatrix& matrix) {
    const int n = problem.Size();
    first.assign(n, 0);
    TakeProfile(matrix, n, first.data(), scratch);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j <= i; ++j) {
            matrix.Row(i)[j] = problem.a(i, j);
        }
    }
}

struct Answer {
    bool solved = false;
    std::vector<double> x;
};

Answer SolveByActiveSets(const Problem& problem, std::vector<double> start, int maxSolves,
                         ScratchArena& scratch, int64_t* work = nullptr) {
    ScratchArena::Scope scope(scratch);
    std::vector<int32_t> first;
    ProfileMatrix matrix;
    HoldWhole(problem, first, scratch, matrix);
    std::vector<double> b(problem.b.begin(), problem.b.end());
    Answer answer;
    answer.x = std::move(start);
    answer.solved = SolveActiveSetLCP(
        matrix, answer.x.data(), b.data(), problem.lo.data(), problem.hi.data(),
        problem.findex.empty() ? nullptr : problem.findex.data(), maxSolves, scratch, work);
    return answer;
}

std::vector<float> SolveByPivoting(const Problem& problem, ScratchArena& scratch) {
    const int n = problem.Size();
    std::vector<float> a = test::ToPadded(problem.a);
    std::vector<float> b = problem.b, lo = problem.lo, hi = problem.hi, x(n), w(n);
    std::vector<int> findex = problem.findex;
    SolveLCP(n, a.data(), x.data(), b.data(), w.data(), problem.nub, lo.data(), hi.data(),
             findex.empty() ? nullptr : findex.data(), scratch);
    return x;
}

TEST(ActiveSetLCP, RandomProblemsEndWhereThePivotingSolveEnds) {
    std::mt19937 random(71);
    ScratchArena scratch;
    for (int k = 0; k < 1000; ++k) {
        const Problem problem = test::RandomProblem(random, 40, k % 2 == 1);
        const std::vector<float> pivoted = SolveByPivoting(problem, scratch);
        ASSERT_EQ(LCPStepFailures, 0) << k;
        const Answer answer =
            SolveByActiveSets(problem, std::vector<double>(problem.Size(), 0.0), 200, scratch);
        ASSERT_TRUE(answer.solved) << "problem " << k;
        for (int i = 0; i < problem.Size(); ++i) {
            ASSERT_NEAR(answer.x[i], pivoted[i], 1e-3 * (1.0 + std::fabs(pivoted[i])))
                << "problem " << k << ", row " << i;
        }
        if (!problem.findex.empty()) {
            continue; // its answer is no guess for the rows solved without the friction rows
        }
        // Started from its answer it settles within a few solves: the guess from forces alone
        // frees a row held at 0 (as a new contact is), which one more solve holds again if it
        // pulls, and holds a row within a hundredth of its bound at it (as a friction force
        // that slid does).
        const Answer again = SolveByActiveSets(problem, answer.x, 5, scratch);
        ASSERT_TRUE(again.solved) << "problem " << k;
        for (int i = 0; i < problem.Size(); ++i) {
            ASSERT_NEAR(again.x[i], answer.x[i], 1e-9 * (1.0 + std::fabs(answer.x[i])));
        }
    }
}

// Two rows with a unit diagonal, coupled by `coupling`, both bounded below by lo.
Problem TwoRows(double coupling, float lo) {
    Problem problem;
    problem.a = test::DenseMatrix(2);
    problem.a(0, 0) = problem.a(1, 1) = 1.0;
    problem.a(0, 1) = problem.a(1, 0) = coupling;
    problem.b = {1.0f, 0.5f};
    problem.lo = {lo, lo};
    problem.hi = {LCPInfinity, LCPInfinity};
    return problem;
}

TEST(ActiveSetLCP, ItGivesUpWhenItsSolvesRunOut) {
    // Both rows free at first; the second then comes out below its bound and must be held.
    const Problem problem = TwoRows(0.9, 0.0f);
    ScratchArena scratch;
    EXPECT_FALSE(SolveByActiveSets(problem, {0.0, 0.0}, 1, scratch).solved);
    const Answer answer = SolveByActiveSets(problem, {0.0, 0.0}, 2, scratch);
    ASSERT_TRUE(answer.solved);
    EXPECT_NEAR(answer.x[0], 1.0, 1e-12);
    EXPECT_EQ(answer.x[1], 0.0);
}

TEST(ActiveSetLCP, ItBeginsNoSolvePastTheWorkLeft) {
    const Problem problem = TwoRows(0.9, 0.0f);
    ScratchArena scratch;
    int64_t work = 1000000;
    ASSERT_TRUE(SolveByActiveSets(problem, {0.0, 0.0}, 10, scratch, &work).solved);
    const int64_t needed = 1000000 - work;
    EXPECT_GT(needed, 0);
    work = needed - 1;
    EXPECT_FALSE(SolveByActiveSets(problem, {0.0, 0.0}, 10, scratch, &work).solved);
    EXPECT_GE(work, 0);
    work = needed;
    EXPECT_TRUE(SolveByActiveSets(problem, {0.0, 0.0}, 10, scratch, &work).solved);
    EXPECT_EQ(work, 0);
}

TEST(ActiveSetLCP, AMatrixThatIsNotPositiveDefiniteIsRefused) {
    const Problem problem = TwoRows(2.0, -LCPInfinity);
    ScratchArena scratch;
    EXPECT_FALSE(SolveByActiveSets(problem, {0.0, 0.0}, 10, scratch).solved);
}

} // namespace
} // namespace quarn
