#include "physics/JointTree.h"

#include "physics/IslandStep.h"
#include "physics/IslandStepIterative.h"
#include "physics/LCPSolver.h"
#include "physics/ScratchArena.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace quarn {
namespace {

constexpr int RowFloats = 12;
constexpr int MaxBlock = 6;

// A node of the tree: a body (six unknowns: its velocity change, up to a factor) or a group
// of a joint's equality rows (their forces). The system is [M J^T; J -C] [y; lambda] =
// [0; -b]; eliminating the leaves first keeps every block at most 6 x 6. Only D starts cleared
// (a tree's nodes are made anew for every part of a step): the other blocks are read only as
// far as they are written.
struct TreeNode {
    explicit TreeNode(int blockSize) : size(blockSize) {
        std::fill(D, D + MaxBlock * MaxBlock, 0.0);
    }

    int size = 0;
    int parent = -1;
    int body = -1;     // a body node's body
    int firstRow = -1; // a row group's first row
    double D[MaxBlock * MaxBlock];
    double toParent[MaxBlock * MaxBlock];       // K(this, parent): size x parent's size
    double solvedToParent[MaxBlock * MaxBlock]; // D^-1 K(this, parent)
    double r[MaxBlock];
    double x[MaxBlock];
    int pivot[MaxBlock];
};

struct RowGroup {
    int firstRow = 0;
    int count = 0;
    int body[2] = {-1, -1};
    int state = 0; // 0 not reached, 1 in the tree, 2 left to the sweeps
};

// Block sizes known when compiled (a body's 6, a ball joint's 3) let the compiler unroll the
// small loops below, where most of a chain's step went; 0 takes the size at run time. Every
// entry takes the same operations in the same order at any size, so the answers are the same
// to the bit.
template <int N>
bool FactorBlock(double* a, int runtimeN, int* pivot) {
    const int n = N > 0 ? N : runtimeN;
    for (int k = 0; k < n; ++k) {
        int best = k;
        for (int i = k + 1; i < n; ++i) {
            if (std::fabs(a[i * MaxBlock + k]) > std::fabs(a[best * MaxBlock + k])) {
                best = i;
            }
        }
        pivot[k] = best;
        if (!(std::fabs(a[best * MaxBlock + k]) > 0.0) || !std::isfinite(a[best * MaxBlock + k])) {
            return false;
        }
        if (best != k) {
            std::swap_ranges(a + k * MaxBlock, a + k * MaxBlock + n, a + best * MaxBlock);
        }
        for (int i = k + 1; i < n; ++i) {
            const double f = a[i * MaxBlock + k] / a[k * MaxBlock + k];
            a[i * MaxBlock + k] = f;
            for (int j = k + 1; j < n; ++j) {
                a[i * MaxBlock + j] -= f * a[k * MaxBlock + j];
            }
        }
    }
    return true;
}

bool Factor(double* a, int n, int* pivot) {
    switch (n) {
    case 3:
        return FactorBlock<3>(a, n, pivot);
    case 6:
        return FactorBlock<6>(a, n, pivot);
    default:
        return FactorBlock<0>(a, n, pivot);
    }
}

// b := A^-1 b for a factored A, b a column of `stride`-spaced values.
template <int N>
void SolveBlock(const double* a, int runtimeN, const int* pivot, double* b, int stride) {
    const int n = N > 0 ? N : runtimeN;
    // Factor swapped whole rows, so every swap comes before the substitutions.
    for (int k = 0; k < n; ++k) {
        std::swap(b[k * stride], b[pivot[k] * stride]);
    }
    for (int k = 0; k < n; ++k) {
        for (int i = k + 1; i < n; ++i) {
            b[i * stride] -= a[i * MaxBlock + k] * b[k * stride];
        }
    }
    for (int k = n - 1; k >= 0; --k) {
        for (int j = k + 1; j < n; ++j) {
            b[k * stride] -= a[k * MaxBlock + j] * b[j * stride];
        }
        b[k * stride] /= a[k * MaxBlock + k];
    }
}

void Solve(const double* a, int n, const int* pivot, double* b, int stride) {
    switch (n) {
    case 3:
        return SolveBlock<3>(a, n, pivot, b, stride);
    case 6:
        return SolveBlock<6>(a, n, pivot, b, stride);
    default:
        return SolveBlock<0>(a, n, pivot, b, stride);
    }
}

// A factored node's block folded into its parent's: D(parent) -= K^T D^-1 K.
template <int S, int P>
void FoldBlock(TreeNode& node, TreeNode& parent) {
    const int size = S > 0 ? S : node.size;
    const int parentSize = P > 0 ? P : parent.size;
    double* solved = node.solvedToParent;
    for (int k = 0; k < size; ++k) {
        std::copy(node.toParent + k * MaxBlock, node.toParent + k * MaxBlock + parentSize,
                  solved + k * MaxBlock);
    }
    // Solve's steps for every column of D^-1 K at once.
    for (int k = 0; k < size; ++k) {
        if (node.pivot[k] != k) {
            std::swap_ranges(solved + k * MaxBlock, solved + k * MaxBlock + parentSize,
                             solved + node.pivot[k] * MaxBlock);
        }
    }
    const double* a = node.D;
    for (int k = 0; k < size; ++k) {
        for (int i = k + 1; i < size; ++i) {
            for (int j = 0; j < parentSize; ++j) {
                solved[i * MaxBlock + j] -= a[i * MaxBlock + k] * solved[k * MaxBlock + j];
            }
        }
    }
    for (int k = size - 1; k >= 0; --k) {
        for (int i = k + 1; i < size; ++i) {
            for (int j = 0; j < parentSize; ++j) {
                solved[k * MaxBlock + j] -= a[k * MaxBlock + i] * solved[i * MaxBlock + j];
            }
        }
        for (int j = 0; j < parentSize; ++j) {
            solved[k * MaxBlock + j] /= a[k * MaxBlock + k];
        }
    }
    for (int i = 0; i < parentSize; ++i) {
        for (int k = 0; k < size; ++k) {
            const double kt = node.toParent[k * MaxBlock + i];
            for (int j = 0; j < parentSize; ++j) {
                parent.D[i * MaxBlock + j] -= kt * node.solvedToParent[k * MaxBlock + j];
            }
        }
    }
}

void Fold(TreeNode& node, TreeNode& parent) {
    if (node.size == 6 && parent.size == 3) {
        FoldBlock<6, 3>(node, parent);
    } else if (node.size == 3 && parent.size == 6) {
        FoldBlock<3, 6>(node, parent);
    } else {
        FoldBlock<0, 0>(node, parent);
    }
}

// Loop-closing rows solved with the tree: each costs a solve of the whole tree.
constexpr int MaxClosingRows = 24;

// motion += M^-1 J_r^T lambda, six floats per body.
void AddRowMotion(const SORSystem& s, int r, float lambda, float* motion) {
    const float* J = s.J + r * RowFloats;
    for (int side = 0; side < 2; ++side) {
        const int b = s.jb[2 * r + side];
        if (b < 0) {
            continue;
        }
        const float* row = J + 6 * side;
        const Float3 angular = s.inverseInertia[b].Transform(Float3(row[3], row[4], row[5]));
        float* out = motion + 6 * b;
        for (int k = 0; k < 3; ++k) {
            out[k] += s.inverseMass[b] * row[k] * lambda;
        }
        out[3] += angular.x * lambda;
        out[4] += angular.y * lambda;
        out[5] += angular.z * lambda;
    }
}

// J_r . motion.
double RowTimes(const SORSystem& s, int r, const float* motion) {
    const float* J = s.J + r * RowFloats;
    double sum = 0.0;
    for (int side = 0; side < 2; ++side) {
        const int b = s.jb[2 * r + side];
        for (int i = 0; b >= 0 && i < 6; ++i) {
            sum += static_cast<double>(J[6 * side + i]) * motion[6 * b + i];
        }
    }
    return sum;
}

// b := A^-1 b for a dense n x n A (destroyed), with partial pivoting; false when A has no
// inverse that rounding leaves.
bool SolveDense(double* a, double* b, int n) {
    for (int k = 0; k < n; ++k) {
        int best = k;
        for (int i = k + 1; i < n; ++i) {
            if (std::fabs(a[i * n + k]) > std::fabs(a[best * n + k])) {
                best = i;
            }
        }
        if (!(std::fabs(a[best * n + k]) > 0.0) || !std::isfinite(a[best * n + k])) {
            return false;
        }
        if (best != k) {
            std::swap_ranges(a + k * n, a + k * n + n, a + best * n);
            std::swap(b[k], b[best]);
        }
        for (int i = k + 1; i < n; ++i) {
            const double f = a[i * n + k] / a[k * n + k];
            for (int j = k; j < n; ++j) {
                a[i * n + j] -= f * a[k * n + j];
            }
            b[i] -= f * b[k];
        }
    }
    for (int k = n - 1; k >= 0; --k) {
        for (int j = k + 1; j < n; ++j) {
            b[k] -= a[k * n + j] * b[j];
        }
        b[k] /= a[k * n + k];
    }
    return true;
}

bool Unbounded(const SORSystem& s, int r) {
    return s.findex[r] < 0 && s.lo[r] <= -LCPInfinity && s.hi[r] >= LCPInfinity;
}

} // namespace

void SolveJointTree(const SORSystem& s, ScratchArena& scratch) {
    int first = 0;
    while (first < s.m && !Unbounded(s, first)) {
        ++first;
    }
    if (first == s.m) {
        return; // contacts only, as in most islands
    }
    ScratchArena::Scope scope(scratch);
    // Consecutive equality rows on the same bodies form a group, at most six rows.
    RowGroup* groups = scratch.Take<RowGroup>(s.m);
    int groupCount = 0;
    for (int r = first; r < s.m; ++r) {
        if (!Unbounded(s, r)) {
            continue;
        }
        RowGroup* last = groupCount > 0 ? &groups[groupCount - 1] : nullptr;
        if (last && last->firstRow + last->count == r && last->count < MaxBlock &&
            last->body[0] == s.jb[2 * r] && last->body[1] == s.jb[2 * r + 1]) {
            ++last->count;
            continue;
        }
        RowGroup& group = groups[groupCount++];
        group = RowGroup();
        group.firstRow = r;
        group.count = 1;
        group.body[0] = s.jb[2 * r];
        group.body[1] = s.jb[2 * r + 1];
    }

    // Each body's groups, listed by body.
    int* firstOfBody = scratch.Take<int>(static_cast<size_t>(s.nb) + 1);
    std::fill(firstOfBody, firstOfBody + s.nb + 1, 0);
    for (int g = 0; g < groupCount; ++g) {
        for (int b : groups[g].body) {
            if (b >= 0) {
                ++firstOfBody[b + 1];
            }
        }
    }
    for (int b = 0; b < s.nb; ++b) {
        firstOfBody[b + 1] += firstOfBody[b];
    }
    int* filled = scratch.Take<int>(s.nb);
    std::copy(firstOfBody, firstOfBody + s.nb, filled);
    int* groupsOfBody = scratch.Take<int>(static_cast<size_t>(firstOfBody[s.nb]));
    for (int g = 0; g < groupCount; ++g) {
        for (int b : groups[g].body) {
            if (b >= 0) {
                groupsOfBody[filled[b]++] = g;
            }
        }
    }

    // The spanning forest, breadth first: a tree with a joint to the world is rooted there, so
    // that no block is left without an inverse.
    TreeNode* nodes = scratch.Take<TreeNode>(static_cast<size_t>(s.nb) + groupCount);
    int nodeCount = 0;
    int* bodyNode = scratch.Take<int>(s.nb);
    std::fill(bodyNode, bodyNode + s.nb, -1);
    auto addBody = [&](int body, int parent) {
        TreeNode& node = *new (nodes + nodeCount) TreeNode(6);
        node.body = body;
        node.parent = parent;
        bodyNode[body] = nodeCount++;
    };
    auto addGroup = [&](int g, int parent) {
        TreeNode& node = *new (nodes + nodeCount++) TreeNode(groups[g].count);
        node.firstRow = groups[g].firstRow;
        node.parent = parent;
        groups[g].state = 1;
    };
    auto grow = [&](int start) {
        for (int n = start; n < nodeCount; ++n) {
            const int body = nodes[n].body;
            if (body < 0) {
                continue;
            }
            for (int k = firstOfBody[body]; k < firstOfBody[body + 1]; ++k) {
                RowGroup& group = groups[groupsOfBody[k]];
                if (group.state != 0) {
                    continue;
                }
                const int other = group.body[0] == body ? group.body[1] : group.body[0];
                if (other < 0 || bodyNode[other] >= 0) {
                    group.state = 2;
                    continue;
                }
                addGroup(groupsOfBody[k], n);
                addBody(other, nodeCount - 1);
            }
        }
    };
    for (int g = 0; g < groupCount; ++g) {
        if (groups[g].state == 0 && groups[g].body[1] < 0 && bodyNode[groups[g].body[0]] < 0) {
            const int start = nodeCount;
            addGroup(g, -1);
            addBody(groups[g].body[0], start);
            grow(start);
        }
    }
    for (int g = 0; g < groupCount; ++g) {
        if (groups[g].state == 0) {
            const int start = nodeCount;
            addBody(groups[g].body[0], -1);
            grow(start);
        }
    }

    // The groups that close a loop, as many as MaxClosingRows holds, are solved with the tree.
    int* closing = scratch.Take<int>(static_cast<size_t>(MaxClosingRows));
    int closingCount = 0;
    for (int g = 0; g < groupCount; ++g) {
        RowGroup& group = groups[g];
        if (group.state == 2 && bodyNode[group.body[0]] >= 0 &&
            (group.body[1] < 0 || bodyNode[group.body[1]] >= 0) &&
            closingCount + group.count <= MaxClosingRows) {
            group.state = 3;
            for (int k = 0; k < group.count; ++k) {
                closing[closingCount++] = group.firstRow + k;
            }
        }
    }

    // The rows outside the tree act at the forces the sweeps start them from.
    float* fc = scratch.Take<float>(static_cast<size_t>(s.nb) * 6);
    std::fill(fc, fc + static_cast<size_t>(s.nb) * 6, 0.0f);
    bool* inTree = scratch.Take<bool>(s.m);
    std::fill(inTree, inTree + s.m, false);
    for (int g = 0; g < groupCount; ++g) {
        if (groups[g].state == 1 || groups[g].state == 3) {
            std::fill(inTree + groups[g].firstRow, inTree + groups[g].firstRow + groups[g].count,
                      true);
        }
    }
    for (int r = 0; r < s.m; ++r) {
        const float lambda = s.lambda[r] * WarmStartShare;
        if (!inTree[r] && lambda != 0.0f) {
            AddRowMotion(s, r, lambda, fc);
        }
    }

    // The blocks.
    for (int n = 0; n < nodeCount; ++n) {
        TreeNode& node = nodes[n];
        if (node.body >= 0) {
            const int b = node.body;
            Matrix3 inertia = s.inverseInertia[b];
            if (!(s.inverseMass[b] > 0.0f) || !InvertAtAnyScale(inertia)) {
                return;
            }
            for (int k = 0; k < 3; ++k) {
                node.D[k * MaxBlock + k] = 1.0 / s.inverseMass[b];
                for (int j = 0; j < 3; ++j) {
                    node.D[(3 + k) * MaxBlock + 3 + j] = inertia.m[k][j];
                }
            }
            if (node.parent >= 0) {
                // K(body, group) = J(group, body)^T.
                const TreeNode& group = nodes[node.parent];
                const int side = s.jb[2 * group.firstRow] == b ? 0 : 6;
                for (int k = 0; k < group.size; ++k) {
                    const float* row = s.J + (group.firstRow + k) * RowFloats + side;
                    for (int i = 0; i < 6; ++i) {
                        node.toParent[i * MaxBlock + k] = row[i];
                    }
                }
            }
            continue;
        }
        for (int k = 0; k < node.size; ++k) {
            const int r = node.firstRow + k;
            const float* J = s.J + r * RowFloats;
            node.D[k * MaxBlock + k] = -static_cast<double>(s.cfm[r]);
            if (node.parent >= 0) {
                const int parentBody = nodes[node.parent].body;
                const int side = s.jb[2 * r] == parentBody ? 0 : 6;
                for (int i = 0; i < 6; ++i) {
                    node.toParent[k * MaxBlock + i] = J[side + i];
                }
            }
        }
    }

    // Leaves first: each node's block folds into its parent's.
    for (int n = nodeCount - 1; n >= 0; --n) {
        TreeNode& node = nodes[n];
        if (!Factor(node.D, node.size, node.pivot)) {
            return;
        }
        if (node.parent < 0) {
            continue;
        }
        Fold(node, nodes[node.parent]);
    }
    // The answer for the right sides the nodes hold (body nodes 0), into their x.
    auto solve = [&] {
        for (int n = nodeCount - 1; n >= 0; --n) {
            TreeNode& node = nodes[n];
            std::copy(node.r, node.r + node.size, node.x);
            Solve(node.D, node.size, node.pivot, node.x, 1);
            if (node.parent >= 0) {
                TreeNode& parent = nodes[node.parent];
                for (int i = 0; i < parent.size; ++i) {
                    for (int k = 0; k < node.size; ++k) {
                        parent.r[i] -= node.toParent[k * MaxBlock + i] * node.x[k];
                    }
                }
            }
        }
        for (int n = 0; n < nodeCount; ++n) {
            TreeNode& node = nodes[n];
            if (node.parent < 0) {
                continue;
            }
            const TreeNode& parent = nodes[node.parent];
            for (int k = 0; k < node.size; ++k) {
                for (int j = 0; j < parent.size; ++j) {
                    node.x[k] -= node.solvedToParent[k * MaxBlock + j] * parent.x[j];
                }
            }
        }
    };
    // Right sides: the groups' J fc less b for the forces fc (with `known` alone when withB is
    // false), the bodies' 0.
    auto setRightSides = [&](const float* motion, bool withB) {
        for (int n = 0; n < nodeCount; ++n) {
            TreeNode& node = nodes[n];
            for (int k = 0; k < node.size; ++k) {
                node.r[k] = node.body >= 0 ? 0.0
                                           : RowTimes(s, node.firstRow + k, motion) -
                                                 (withB ? s.b[node.firstRow + k] : 0.0);
            }
        }
    };
    // A closing row's J (fc + the tree's motion) + cfm mu - b, the tree's motion being -x of its
    // bodies' nodes.
    auto closingResidual = [&](int r, const float* motion) {
        double sum = RowTimes(s, r, motion);
        for (int side = 0; side < 2; ++side) {
            const int b = s.jb[2 * r + side];
            const float* J = s.J + r * RowFloats + 6 * side;
            for (int i = 0; b >= 0 && i < 6; ++i) {
                sum -= static_cast<double>(J[i]) * nodes[bodyNode[b]].x[i];
            }
        }
        return sum;
    };

    setRightSides(fc, true);
    solve();
    int treeRows = 0;
    for (int n = 0; n < nodeCount; ++n) {
        treeRows += nodes[n].body < 0 ? nodes[n].size : 0;
    }
    double* lambda = scratch.Take<double>(static_cast<size_t>(treeRows) + closingCount);
    auto gather = [&](double* out) {
        for (int n = 0, k = 0; n < nodeCount; ++n) {
            for (int i = 0; nodes[n].body < 0 && i < nodes[n].size; ++i) {
                out[k++] = nodes[n].x[i];
            }
        }
    };
    gather(lambda);
    if (closingCount > 0) {
        // The tree's answer moves with the closing rows' forces mu: one solve per closing row
        // for its part, then the closing rows meet (S mu = -residual) at the tree's answer.
        const int k = closingCount;
        double* S = scratch.Take<double>(static_cast<size_t>(k) * k);
        double* mu = scratch.Take<double>(k);
        double* parts = scratch.Take<double>(static_cast<size_t>(k) * treeRows);
        for (int i = 0; i < k; ++i) {
            mu[i] = -(closingResidual(closing[i], fc) - s.b[closing[i]]);
        }
        float* unit = scratch.Take<float>(static_cast<size_t>(s.nb) * 6);
        for (int j = 0; j < k; ++j) {
            std::fill(unit, unit + static_cast<size_t>(s.nb) * 6, 0.0f);
            AddRowMotion(s, closing[j], 1.0f, unit);
            setRightSides(unit, false);
            solve();
            gather(parts + static_cast<size_t>(j) * treeRows);
            for (int i = 0; i < k; ++i) {
                S[i * k + j] =
                    closingResidual(closing[i], unit) + (i == j ? s.cfm[closing[i]] : 0.0);
            }
        }
        if (!SolveDense(S, mu, k)) {
            return;
        }
        for (int j = 0; j < k; ++j) {
            for (int t = 0; t < treeRows; ++t) {
                lambda[t] += mu[j] * parts[static_cast<size_t>(j) * treeRows + t];
            }
            lambda[treeRows + j] = mu[j];
        }
    }
    for (int t = 0; t < treeRows + closingCount; ++t) {
        if (!std::isfinite(static_cast<float>(lambda[t] / WarmStartShare))) {
            return;
        }
    }
    for (int n = 0, t = 0; n < nodeCount; ++n) {
        for (int i = 0; nodes[n].body < 0 && i < nodes[n].size; ++i) {
            s.lambda[nodes[n].firstRow + i] = static_cast<float>(lambda[t++] / WarmStartShare);
        }
    }
    for (int j = 0; j < closingCount; ++j) {
        s.lambda[closing[j]] = static_cast<float>(lambda[treeRows + j] / WarmStartShare);
    }
}

} // namespace quarn
