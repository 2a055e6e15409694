// The Dantzig LCP solver on the problems an island step hands it, reported as time per solve.
// Contact-like problems come from a stack of unit cubes, four contacts between neighbours and
// with the ground, three rows per contact (the normal, then two friction rows indexed to it);
// the chain is a hundred ball-jointed links, 300 rows all unbounded, one factorisation. Each
// problem is solved once and checked (no failed step, complementarity in double) before it is
// timed; the solver's scratch arena is warm, as in a running world.
#include "physics/LCPSolver.h"
#include "physics/MatrixKernels.h"
#include "physics/ScratchArena.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <random>
#include <vector>

namespace {

using namespace quarn;

struct Vec3 {
    double x = 0.0, y = 0.0, z = 0.0;
};

Vec3 Cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double DotProduct(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// One constraint row on up to two bodies (-1: the static world), as J v = velocity along it.
struct Row {
    int body[2];
    Vec3 linear[2];
    Vec3 angular[2];
};

// Unit-mass cubes of side 1: inverse mass 1, inverse inertia 6 about every axis.
constexpr double InverseMass = 1.0;
constexpr double InverseInertia = 6.0;
constexpr double Cfm = 1e-5;

struct Problem {
    int n = 0;
    int nub = 0;
    std::vector<float> a, b, lo, hi;
    std::vector<int> findex; // empty: none
};

// A = J M^-1 J^T + cfm I in the solver's padded layout.
std::vector<float> SystemMatrix(const std::vector<Row>& rows) {
    const int n = static_cast<int>(rows.size());
    const int nskip = MatrixStride(n);
    std::vector<float> a(static_cast<size_t>(n) * nskip, 0.0f);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j <= i; ++j) {
            double sum = i == j ? Cfm : 0.0;
            for (int s = 0; s < 2; ++s) {
                for (int t = 0; t < 2; ++t) {
                    if (rows[i].body[s] >= 0 && rows[i].body[s] == rows[j].body[t]) {
                        sum += InverseMass * DotProduct(rows[i].linear[s], rows[j].linear[t]) +
                               InverseInertia * DotProduct(rows[i].angular[s], rows[j].angular[t]);
                    }
                }
            }
            a[static_cast<size_t>(i) * nskip + j] = a[static_cast<size_t>(j) * nskip + i] =
                static_cast<float>(sum);
        }
    }
    return a;
}

// The row along `axis` at `point` between body `upper` (centre at height upper + 0.5) and the
// body below it (or the ground).
Row RowAt(int upper, const Vec3& point, const Vec3& axis) {
    Row row{};
    row.body[0] = upper;
    row.body[1] = upper - 1;
    const Vec3 r0{point.x, point.y - (upper + 0.5), point.z};
    row.linear[0] = axis;
    row.angular[0] = Cross(r0, axis);
    if (upper > 0) {
        const Vec3 r1{point.x, point.y - (upper - 0.5), point.z};
        row.linear[1] = {-axis.x, -axis.y, -axis.z};
        const Vec3 c = Cross(r1, axis);
        row.angular[1] = {-c.x, -c.y, -c.z};
    }
    return row;
}

Problem ContactStack(int contacts) {
    std::mt19937 random(static_cast<unsigned>(contacts));
    std::uniform_real_distribution<double> jitter(-0.05, 0.05);
    std::vector<Row> rows;
    Problem problem;
    for (int c = 0; c < contacts; ++c) {
        const int upper = c / 4;
        const Vec3 point{(c & 1 ? 0.5 : -0.5) + jitter(random), double(upper),
                         (c & 2 ? 0.5 : -0.5) + jitter(random)};
        const int normal = static_cast<int>(rows.size());
        rows.push_back(RowAt(upper, point, {0.0, 1.0, 0.0}));
        rows.push_back(RowAt(upper, point, {1.0, 0.0, 0.0}));
        rows.push_back(RowAt(upper, point, {0.0, 0.0, 1.0}));
        // The normal row must stop the bodies sinking into each other; the friction rows cancel
        // a sideways slip, within mu times the normal force.
        problem.b.insert(problem.b.end(), {float(0.1 + jitter(random)), float(jitter(random)),
                                           float(jitter(random))});
        problem.lo.insert(problem.lo.end(), {0.0f, -0.6f, -0.6f});
        problem.hi.insert(problem.hi.end(), {LCPInfinity, 0.6f, 0.6f});
        problem.findex.insert(problem.findex.end(), {-1, normal, normal});
    }
    problem.n = static_cast<int>(rows.size());
    problem.a = SystemMatrix(rows);
    return problem;
}

// Links of length 1 along X, each hung from the one before by a ball joint at their meeting
// point, the first from the world.
Problem BallChain(int links) {
    std::vector<Row> rows;
    Problem problem;
    const Vec3 axes[3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
    for (int k = 0; k < links; ++k) {
        for (const Vec3& axis : axes) {
            Row row{};
            row.body[0] = k;
            row.body[1] = k - 1;
            row.linear[0] = axis;
            row.angular[0] = Cross({-0.5, 0.0, 0.0}, axis);
            if (k > 0) {
                row.linear[1] = {-axis.x, -axis.y, -axis.z};
                const Vec3 c = Cross({0.5, 0.0, 0.0}, axis);
                row.angular[1] = {-c.x, -c.y, -c.z};
            }
            rows.push_back(row);
            problem.b.push_back(axis.y * -0.0981f); // gravity's pull over one step
            problem.lo.push_back(-LCPInfinity);
            problem.hi.push_back(LCPInfinity);
        }
    }
    problem.n = static_cast<int>(rows.size());
    problem.nub = problem.n;
    problem.a = SystemMatrix(rows);
    return problem;
}

// Solves a copy, as the solver permutes what it is given; answers the failed steps.
int SolveCopy(const Problem& problem, std::vector<float>& x, std::vector<float>& w,
              ScratchArena& scratch) {
    std::vector<float> a = problem.a, b = problem.b, lo = problem.lo, hi = problem.hi;
    std::vector<int> findex = problem.findex;
    SolveLCP(problem.n, a.data(), x.data(), b.data(), w.data(), problem.nub, lo.data(), hi.data(),
             findex.empty() ? nullptr : findex.data(), scratch);
    return LCPStepFailures;
}

// The results of the rows that are not friction rows, solved without the friction rows: the
// solver fixes the friction bounds from these, before it drives the first friction row.
std::vector<float> NormalResults(const Problem& problem, ScratchArena& scratch) {
    std::vector<int> kept;
    for (int i = 0; i < problem.n; ++i) {
        if (problem.findex.empty() || problem.findex[i] < 0) {
            kept.push_back(i);
        }
    }
    Problem normal;
    normal.n = static_cast<int>(kept.size());
    normal.nub = std::min(problem.nub, normal.n);
    const int nskip = MatrixStride(problem.n);
    const int keptSkip = MatrixStride(normal.n);
    normal.a.assign(static_cast<size_t>(normal.n) * keptSkip, 0.0f);
    for (int i = 0; i < normal.n; ++i) {
        for (int j = 0; j < normal.n; ++j) {
            normal.a[static_cast<size_t>(i) * keptSkip + j] =
                problem.a[static_cast<size_t>(kept[i]) * nskip + kept[j]];
        }
        normal.b.push_back(problem.b[kept[i]]);
        normal.lo.push_back(problem.lo[kept[i]]);
        normal.hi.push_back(problem.hi[kept[i]]);
    }
    std::vector<float> x(normal.n), w(normal.n);
    SolveCopy(normal, x, w, scratch);
    std::vector<float> results(problem.n, 0.0f);
    for (int i = 0; i < normal.n; ++i) {
        results[kept[i]] = x[i];
    }
    return results;
}

// The complementarity conditions with w = A x - b in double; friction rows against the bounds
// the normal results give. Redundant contacts leave A nearly singular (cfm alone keeps it
// definite), so normal results from the separate solve may differ by a few percent from the
// ones the solver had: a friction row's bound is matched within 5 %.
bool Complementary(const Problem& problem, const std::vector<float>& x,
                   const std::vector<float>& normalResults) {
    const int n = problem.n;
    const int nskip = MatrixStride(n);
    for (int i = 0; i < n; ++i) {
        double w = -double(problem.b[i]);
        for (int j = 0; j < n; ++j) {
            w += double(problem.a[static_cast<size_t>(i) * nskip + j]) * x[j];
        }
        float lo = problem.lo[i];
        float hi = problem.hi[i];
        double boundTolerance = 1e-4 * (1.0 + std::fabs(x[i]));
        if (!problem.findex.empty() && problem.findex[i] >= 0) {
            hi = std::fabs(hi * normalResults[problem.findex[i]]);
            lo = -hi;
            boundTolerance += 0.05 * hi;
        }
        const double tolerance = 1e-3;
        const bool atLo = lo > -LCPInfinity && std::fabs(x[i] - lo) <= boundTolerance;
        const bool atHi = hi < LCPInfinity && std::fabs(x[i] - hi) <= boundTolerance;
        if (!(std::fabs(w) <= tolerance || (atLo && w >= -tolerance) || (atHi && w <= tolerance))) {
            return false;
        }
    }
    return true;
}

void Run(benchmark::State& state, const Problem& problem) {
    ScratchArena scratch;
    std::vector<float> x(problem.n);
    std::vector<float> w(problem.n);
    if (SolveCopy(problem, x, w, scratch) != 0 ||
        !Complementary(problem, x, NormalResults(problem, scratch))) {
        state.SkipWithError("the solver's result does not meet the complementarity conditions");
        return;
    }
    std::vector<float> a, b, lo, hi;
    std::vector<int> findex;
    for (auto _ : state) {
        state.PauseTiming();
        a = problem.a;
        b = problem.b;
        lo = problem.lo;
        hi = problem.hi;
        findex = problem.findex;
        state.ResumeTiming();
        SolveLCP(problem.n, a.data(), x.data(), b.data(), w.data(), problem.nub, lo.data(),
                 hi.data(), findex.empty() ? nullptr : findex.data(), scratch);
        benchmark::DoNotOptimize(x.data());
    }
    state.counters["rows"] = problem.n;
}

void BM_ContactRows(benchmark::State& state) {
    Run(state, ContactStack(static_cast<int>(state.range(0)) / 3));
}

void BM_UnboundedChainRows(benchmark::State& state) {
    Run(state, BallChain(static_cast<int>(state.range(0)) / 3));
}

BENCHMARK(BM_ContactRows)->Arg(60)->Arg(180)->Arg(360)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UnboundedChainRows)->Arg(300)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
