#include "physics/ContactTree.h"

#include "physics/IslandStepIterative.h"
#include "physics/JointTree.h"
#include "physics/LCPSolver.h"
#include "physics/ScratchArena.h"
#include "tests/physics/DenseReference.h"
#include "tests/physics/SystemRows.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace quarn::test {
namespace {

// Contacts as the iterative step lays out their rows: per contact a normal row (pushing, bounded
// below by 0) and two friction rows bound to it, between two bodies of the island or a body and
// the world (-1). Random directions and arms, so that every row couples all six unknowns.
struct ContactIsland {
    const char* name;
    int bodies;
    std::vector<std::pair<int, int>> contacts;
    // Contacts whose bodies the pushing rows link in a loop, or of a body alone on the world:
    // every row keeps its warm start.
    std::vector<int> held;
};

// An island's rows as the iterative step lays them out, and the system over them.
class ContactTreeRows : public ::testing::Test {
protected:
    SORSystem System(std::vector<float>& lambda) { return rows_.View(lambda); }

    SystemRows rows_;
    std::vector<float> warm_;
};

class ContactTree : public ContactTreeRows, public ::testing::WithParamInterface<ContactIsland> {
protected:
    void SetUp() override {
        const ContactIsland& island = GetParam();
        std::mt19937 random(77);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        rows_.nb = island.bodies;
        for (int b = 0; b < rows_.nb; ++b) {
            rows_.inverseMass.push_back(1.0f / (1.0f + 2.0f * b));
            Matrix3 inertia;
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) {
                    inertia.m[i][j] = i == j ? 3.0f + b : 0.2f * unit(random);
                }
            }
            inertia.m[1][0] = inertia.m[0][1];
            inertia.m[2][0] = inertia.m[0][2];
            inertia.m[2][1] = inertia.m[1][2];
            inertia.Invert();
            rows_.inverseInertia.push_back(inertia);
        }
        for (const auto& [first, second] : island.contacts) {
            const int normal = static_cast<int>(rows_.lo.size());
            for (int row = 0; row < 3; ++row) {
                for (int k = 0; k < 12; ++k) {
                    rows_.J.push_back(k >= 6 && second < 0 ? 0.0f : unit(random));
                }
                rows_.jb.push_back(first);
                rows_.jb.push_back(second);
                rows_.b.push_back(5.0f * unit(random));
                rows_.cfm.push_back(row == 0 ? 1e-3f : 1e-3f * (1.0f + unit(random) * 0.5f));
                rows_.lo.push_back(0.0f);
                rows_.hi.push_back(row == 0 ? LCPInfinity : 0.5f);
                rows_.findex.push_back(row == 0 ? -1 : normal);
                warm_.push_back(row == 0 ? 1.0f + 2.0f * std::fabs(unit(random)) : unit(random));
            }
        }
    }

    // The exact answer of the rows in `candidates` (pushing rows and friction rows bound to
    // them), every other row at its warm start, in double: (J M^-1 J^T + C) lambda = b over the
    // taken rows, solved again without the pushing rows that come out pulling, their friction
    // rows and the friction rows past their bound (which then act with 0) until none is left.
    std::vector<double> Reference(const std::vector<int>& candidates, bool& leftOut) const {
        std::vector<int> kept = candidates;
        std::vector<int> dropped;
        std::vector<double> solved = Solve(kept, dropped);
        const auto isDropped = [&](int r) {
            return std::find(dropped.begin(), dropped.end(), r) != dropped.end();
        };
        for (bool pulling = true; pulling;) {
            pulling = false;
            for (size_t k = 0; k < kept.size(); ++k) {
                const int r = kept[k];
                bool out = solved[k] < 0.0;
                if (rows_.findex[r] >= 0) {
                    const size_t normal = static_cast<size_t>(
                        std::find(kept.begin(), kept.end(), rows_.findex[r]) - kept.begin());
                    out = std::fabs(solved[k]) >
                          std::fabs(rows_.hi[r]) * std::max(0.0, solved[normal]);
                }
                if (out) {
                    dropped.push_back(r);
                    pulling = true;
                }
            }
            if (pulling) {
                std::vector<int> still;
                for (int r : kept) {
                    const int normal = rows_.findex[r] < 0 ? r : rows_.findex[r];
                    if (!isDropped(normal) && !isDropped(r)) {
                        still.push_back(r);
                    } else if (!isDropped(r)) {
                        dropped.push_back(r);
                    }
                }
                kept = still;
                solved = Solve(kept, dropped);
            }
        }
        leftOut = !dropped.empty();
        std::vector<double> answer(candidates.size(), 0.0);
        for (size_t k = 0; k < kept.size(); ++k) {
            const auto at = std::find(candidates.begin(), candidates.end(), kept[k]);
            answer[static_cast<size_t>(at - candidates.begin())] = solved[k];
        }
        return answer;
    }
    std::vector<double> Solve(const std::vector<int>& taken,
                              const std::vector<int>& dropped) const {
        const int m = static_cast<int>(rows_.lo.size());
        // M^-1 J^T of a row, per body.
        const auto spread = [&](int r, std::vector<double>& out, double lambda) {
            for (int side = 0; side < 2; ++side) {
                const int b = rows_.jb[2 * r + side];
                if (b < 0) {
                    continue;
                }
                const float* J = rows_.J.data() + 12 * r + 6 * side;
                const Float3 angular = rows_.inverseInertia[b].Transform(Float3(J[3], J[4], J[5]));
                for (int k = 0; k < 3; ++k) {
                    out[6 * b + k] += rows_.inverseMass[b] * J[k] * lambda;
                }
                out[6 * b + 3] += angular.x * lambda;
                out[6 * b + 4] += angular.y * lambda;
                out[6 * b + 5] += angular.z * lambda;
            }
        };
        const auto apply = [&](int r, const std::vector<double>& v) {
            double sum = 0.0;
            for (int side = 0; side < 2; ++side) {
                const int b = rows_.jb[2 * r + side];
                for (int k = 0; b >= 0 && k < 6; ++k) {
                    sum += rows_.J[12 * r + 6 * side + k] * v[6 * b + k];
                }
            }
            return sum;
        };
        std::vector<double> held(6 * rows_.nb, 0.0);
        for (int r = 0; r < m; ++r) {
            if (std::find(taken.begin(), taken.end(), r) == taken.end() &&
                std::find(dropped.begin(), dropped.end(), r) == dropped.end()) {
                spread(r, held, warm_[r] * WarmStartShare);
            }
        }
        const int n = static_cast<int>(taken.size());
        DenseMatrix a(n);
        std::vector<double> rhs(n);
        for (int j = 0; j < n; ++j) {
            std::vector<double> column(6 * rows_.nb, 0.0);
            spread(taken[j], column, 1.0);
            for (int i = 0; i < n; ++i) {
                a(i, j) = apply(taken[i], column) + (i == j ? rows_.cfm[taken[i]] : 0.0);
            }
            rhs[j] = rows_.b[taken[j]] - apply(taken[j], held);
        }
        std::vector<double> x;
        EXPECT_TRUE(SolveDense(a, rhs, x));
        return x;
    }

    // SolveContactTree against Reference, from the warm start as it stands.
    void ExpectExactForcesOfTheForest(bool resting = true);
};

INSTANTIATE_TEST_SUITE_P(
    Islands, ContactTree,
    ::testing::Values(
        ContactIsland{"StackOnTheWorld",
                      4,
                      {{0, -1},
                       {0, -1},
                       {0, -1},
                       {1, 0},
                       {0, 1},
                       {1, 0},
                       {2, 1},
                       {2, 1},
                       {3, 2},
                       {2, 3},
                       {3, 2},
                       {3, 2}},
                      {}},
        ContactIsland{"FreeBranches", 4, {{1, 0}, {1, 0}, {2, 0}, {3, 2}, {3, 2}}, {}},
        ContactIsland{"OnTwoWalls", 2, {{0, -1}, {0, -1}, {-1, 0}, {1, 0}, {-1, 1}}, {}},
        // The world links nothing: only the top closes a loop, which leaves its whole pyramid
        // to the sweeps, and not the stack beside it.
        ContactIsland{"PyramidBesideAStack",
                      8,
                      {{0, -1},
                       {1, -1},
                       {2, -1},
                       {3, 0},
                       {3, 1},
                       {4, 1},
                       {4, 2},
                       {5, 3},
                       {5, 4},
                       {4, 5},
                       {6, -1},
                       {7, 6},
                       {6, 7}},
                      {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        // A body alone on the world is left to the sweeps; a stack of two is not.
        ContactIsland{"LoneBodyBesideAShortStack", 3, {{0, -1}, {0, -1}, {1, -1}, {2, 1}}, {0, 1}},
        ContactIsland{"StackOfThree", 3, {{0, -1}, {0, -1}, {1, 0}, {2, 1}, {1, 2}}, {}}),
    [](const ::testing::TestParamInfo<ContactIsland>& info) {
        return std::string(info.param.name);
    });

TEST_P(ContactTree, ContactRowsTakeTheExactForcesOfTheirForestAndTheRestKeepTheirWarmStart) {
    ExpectExactForcesOfTheForest();
}

// A new contact (no warm start) is taken whether its bodies close or part: in a stack placed
// touching every box falls with the one below, and only the floor's contact closes. Its friction
// rows are taken with it where the island comes to rest, not where its bodies still tumble.
TEST_P(ContactTree, NewContactsAreTakenWhetherTheirBodiesCloseOrNot) {
    const size_t normal = warm_.size() - 3;
    std::fill(warm_.begin() + static_cast<std::ptrdiff_t>(normal), warm_.end(), 0.0f);
    for (const bool resting : {true, false}) {
        for (const float sign : {1.0f, -1.0f}) {
            rows_.b[normal] = sign * std::fabs(rows_.b[normal]);
            ExpectExactForcesOfTheForest(resting);
        }
    }
}

void ContactTree::ExpectExactForcesOfTheForest(bool resting) {
    const ContactIsland& island = GetParam();
    std::vector<float> lambda = warm_;
    // The pushing rows of the taken contacts, and the friction rows whose warm start is within
    // 0.9 of their bound or, at rest, whose contact carried nothing.
    std::vector<int> taken;
    for (size_t c = 0; c < island.contacts.size(); ++c) {
        if (std::find(island.held.begin(), island.held.end(), static_cast<int>(c)) !=
            island.held.end()) {
            continue;
        }
        const int normal = 3 * static_cast<int>(c);
        taken.push_back(normal);
        for (int r = normal + 1; r < normal + 3; ++r) {
            if (std::fabs(warm_[r]) < 0.9f * rows_.hi[r] * warm_[normal] ||
                (resting && warm_[normal] == 0.0f && warm_[r] == 0.0f)) {
                taken.push_back(r);
            }
        }
    }
    ScratchArena scratch;
    const bool whole = SolveContactTree(System(lambda), scratch, resting);
    bool leftOut = false;
    const std::vector<double> exact = Reference(taken, leftOut);
    EXPECT_EQ(whole, taken.size() == lambda.size() && !leftOut);
    const auto answer = [&](int r) {
        return exact[std::find(taken.begin(), taken.end(), r) - taken.begin()];
    };
    int friction = 0;
    for (size_t r = 0; r < lambda.size(); ++r) {
        const auto at = std::find(taken.begin(), taken.end(), static_cast<int>(r));
        if (at == taken.end()) {
            EXPECT_EQ(lambda[r], warm_[r]) << "row " << r;
            continue;
        }
        double expected = answer(static_cast<int>(r));
        if (rows_.findex[r] >= 0) {
            const double bound = rows_.hi[r] * std::max(0.0, answer(rows_.findex[r]));
            expected = std::clamp(expected, -bound, bound);
            ++friction;
        }
        expected /= WarmStartShare;
        EXPECT_NEAR(lambda[r], expected, 1e-4 * (1.0 + std::fabs(expected))) << "row " << r;
    }
    if (island.held.size() < island.contacts.size()) {
        EXPECT_GT(friction, 0) << "no friction row taken";
    }
}

// The wide registers only do the same operations in fewer instructions: the answer is the same
// to the bit (on a processor without them both runs are narrow).
TEST_P(ContactTree, TheWideSolveGivesTheNarrowSolvesAnswer) {
    std::vector<std::vector<float>> answers;
    for (bool wide : {false, true}) {
        std::vector<float> lambda = warm_;
        AllowWideSweeps(wide);
        ScratchArena scratch;
        SolveContactTree(System(lambda), scratch, true);
        AllowWideSweeps(true);
        answers.push_back(lambda);
    }
    for (size_t r = 0; r < answers[0].size(); ++r) {
        EXPECT_EQ(std::bit_cast<uint32_t>(answers[0][r]), std::bit_cast<uint32_t>(answers[1][r]))
            << "row " << r;
    }
}

// A stack of unit boxes at rest on the world, as the iterative step lays it out: four corner
// contacts under each box, each a pushing row and two friction rows; gravity closes only the
// floor's contacts, and the others carry the boxes above them.
// The exact answer takes every row; it is then the solve's own, and sweeps from it move no
// force: the step leaves them out.
TEST_F(ContactTreeRows, AStackAnsweredWholeLeavesTheSweepsNothingToDo) {
    Matrix3 cube;
    for (int k = 0; k < 3; ++k) {
        cube.m[k][k] = 6.0f; // a unit box's inverse inertia
    }
    for (const int boxes : {1, 2, 3, 10}) {
        SCOPED_TRACE(boxes);
        const float h = 0.01f;
        rows_.nb = boxes;
        rows_.inverseMass.assign(static_cast<size_t>(boxes), 1.0f);
        rows_.inverseInertia.assign(static_cast<size_t>(boxes), cube);
        for (auto* rows : {&rows_.J, &rows_.b, &rows_.cfm, &rows_.lo, &rows_.hi, &warm_}) {
            rows->clear();
        }
        rows_.jb.clear();
        rows_.findex.clear();
        for (int box = 0; box < boxes; ++box) {
            for (const float x : {-0.5f, 0.5f}) {
                for (const float z : {-0.5f, 0.5f}) {
                    const int normal = static_cast<int>(rows_.b.size());
                    // Arms from the upper box's centre and the lower one's to the corner.
                    const Float3 upper(x, -0.5f, z);
                    const Float3 lower(x, 0.5f, z);
                    for (const Float3 direction :
                         {Float3(0.0f, 1.0f, 0.0f), Float3(1.0f, 0.0f, 0.0f),
                          Float3(0.0f, 0.0f, 1.0f)}) {
                        const Float3 turn = upper.Cross(direction);
                        const Float3 turnBelow = lower.Cross(direction);
                        const float row[12] = {direction.x,  direction.y,  direction.z,
                                               turn.x,       turn.y,       turn.z,
                                               -direction.x, -direction.y, -direction.z,
                                               -turnBelow.x, -turnBelow.y, -turnBelow.z};
                        rows_.J.insert(rows_.J.end(), row, row + 12);
                        rows_.jb.push_back(box);
                        rows_.jb.push_back(box == 0 ? -1 : box - 1);
                        const bool pushing = direction.y > 0.0f;
                        rows_.b.push_back(pushing && box == 0 ? 9.81f : 0.0f);
                        rows_.cfm.push_back(1e-5f / h);
                        rows_.lo.push_back(0.0f);
                        rows_.hi.push_back(pushing ? LCPInfinity : 1.0f);
                        rows_.findex.push_back(pushing ? -1 : normal);
                        // Resting: the pushing rows pushed in the step before.
                        warm_.push_back(pushing ? 1.0f : 0.0f);
                    }
                }
            }
        }
        std::vector<float> lambda = warm_;
        ScratchArena scratch;
        // A box alone on the world is the sweeps' whole.
        ASSERT_EQ(SolveContactTree(System(lambda), scratch, true), boxes > 1);
        if (boxes == 1) {
            continue;
        }
        const std::vector<float> exact = lambda;
        // With the sweeps of either width.
        for (const bool wide : {false, true}) {
            SCOPED_TRACE(wide);
            AllowWideSweeps(wide);
            std::vector<std::vector<float>> ends;
            for (const int32_t sweeps : {0, 20}) {
                lambda = exact;
                SolveSOR(System(lambda), sweeps, 1.3f, scratch);
                ends.push_back(lambda);
                ends.push_back(rows_.fc);
            }
            AllowWideSweeps(true);
            for (size_t r = 0; r < lambda.size(); ++r) {
                EXPECT_NEAR(ends[0][r], ends[2][r], 1e-4f * (1.0f + std::fabs(ends[0][r])))
                    << "row " << r;
            }
            for (size_t k = 0; k < rows_.fc.size(); ++k) {
                EXPECT_NEAR(ends[1][k], ends[3][k], 1e-4f) << "body " << k / 6;
            }
            // The floor carries every box, and each box is held against gravity without a
            // turn, to within the contacts' softness.
            EXPECT_NEAR(ends[0][0] + ends[0][3] + ends[0][6] + ends[0][9], 9.81f * boxes,
                        0.02f * 9.81f * boxes);
            for (size_t k = 0; k < rows_.fc.size(); ++k) {
                EXPECT_NEAR(ends[1][k], k % 6 == 1 ? 9.81f : 0.0f, k % 6 == 1 ? 0.2f : 1e-3f)
                    << "body " << k / 6;
            }
        }
    }
}

} // namespace
} // namespace quarn::test
