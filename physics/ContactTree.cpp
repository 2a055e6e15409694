#include "physics/ContactTree.h"

#include "physics/IslandStep.h"
#include "physics/IslandStepIterative.h"
#include "physics/JointTree.h"
#include "physics/LCPSolver.h"
#include "physics/ScratchArena.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace quarn {
namespace {

constexpr int RowFloats = 12;
// A row's part: not taken (held at its warm start), taken against the world, or taken along one
// of the links (0 and up). A taken row left out for pulling is marked on its own (held at 0).
constexpr int32_t NotTaken = -3;
constexpr int32_t ToWorld = -1;
// Solves: the first, then again without the rows that came out pulling until none pulls. The
// answer of a pass with a pulling row holds that row's pull in the others, and a stack whose
// contacts come and go starts lopsided from it and tips. A row that still pulls after the last
// pass starts from 0; five passes settle every stack seen.
constexpr int MaxPasses = 8;
// A friction row is taken with its contact's while its warm start is within this share of its
// bound: a contact that slid keeps sliding from where it was. Among bodies coming to rest so is
// one whose contact carried nothing (new, or touching without load): nothing says it slides, and
// the passes leave it out where its answer passes its bound. Where bodies still tumble such
// contacts mostly slide, and a heap's trees were solved pass after pass to leave them out.
constexpr float StickingShare = 0.9f;

// A body the taken rows move, as a node of the forest. Its six unknowns are its velocity change
// from those rows, linear then angular, as the sweeps accumulate M^-1 J^T lambda; the system is
// (M + J^T C^-1 J) y = J^T C^-1 beta over the taken rows, beta their right sides less the held
// rows' share, and a forest keeps every block 6 x 6.
struct Node {
    double mass[36];
    double A[36]; // its lower triangle, then the factor L of L L^T
    double K[36]; // the parent's unknowns against this body's: rows parent, columns this body
    double toParent[36];       // A^-1 K^T
    double inverseDiagonal[6]; // of L
    double rhs[6];
    double y[6]; // A^-1 rhs, then the answer
    int32_t body;
    int32_t parent; // node, -1 for a root
};

// Four and two doubles side by side: where the processor has 4-wide registers and the code is
// built for them (SolveForestWide), a Lanes4 operation is one instruction, else two.
using Lanes4 = double __attribute__((vector_size(32)));
using Lanes2 = double __attribute__((vector_size(16)));

// row[0..count) += k v[0..count) (sign 1) or -= (sign -1), count 2, 4 or 6: each entry takes the
// product and the sum a scalar loop would, so the answer is the same to the bit at any width.
template <int sign, int count>
[[gnu::always_inline]] inline void AddScaled(double* row, double k, const double* v) {
    static_assert(count == 2 || count == 4 || count == 6);
    if constexpr (count >= 4) {
        Lanes4 old;
        Lanes4 x;
        std::memcpy(&old, row, sizeof old);
        std::memcpy(&x, v, sizeof x);
        const Lanes4 result = sign > 0 ? old + k * x : old - k * x;
        std::memcpy(row, &result, sizeof result);
    }
    if constexpr (count != 4) {
        constexpr int at = count - 2;
        Lanes2 old;
        Lanes2 x;
        std::memcpy(&old, row + at, sizeof old);
        std::memcpy(&x, v + at, sizeof x);
        const Lanes2 result = sign > 0 ? old + k * x : old - k * x;
        std::memcpy(row + at, &result, sizeof result);
    }
}

// value - a[0] b[0] - ... - a[5] b[5], subtracted in that order, the products side by side.
[[gnu::always_inline]] inline double SubtractDot6(double value, const double* a, const double* b) {
    Lanes4 a4;
    Lanes4 b4;
    Lanes2 a2;
    Lanes2 b2;
    std::memcpy(&a4, a, sizeof a4);
    std::memcpy(&b4, b, sizeof b4);
    std::memcpy(&a2, a + 4, sizeof a2);
    std::memcpy(&b2, b + 4, sizeof b2);
    const Lanes4 p4 = a4 * b4;
    const Lanes2 p2 = a2 * b2;
    return value - p4[0] - p4[1] - p4[2] - p4[3] - p2[0] - p2[1];
}

// A's rows += w J_i J for one side of a row: the lower triangle, and some entries past the
// diagonal, which nothing reads.
[[gnu::always_inline]] inline void AddOuterLower(double* A, const double* wJ, const double* J) {
    AddScaled<1, 2>(A, wJ[0], J);
    AddScaled<1, 2>(A + 6, wJ[1], J);
    AddScaled<1, 4>(A + 12, wJ[2], J);
    AddScaled<1, 4>(A + 18, wJ[3], J);
    AddScaled<1, 6>(A + 24, wJ[4], J);
    AddScaled<1, 6>(A + 30, wJ[5], J);
}

// L L^T = a in place, a symmetric and given by its lower triangle, with the reciprocals of L's
// diagonal; false when it is not positive definite.
[[gnu::always_inline]] inline bool Cholesky(double* a, double* inverseDiagonal) {
#pragma GCC unroll 6
    for (int j = 0; j < 6; ++j) {
        double d = a[j * 6 + j];
#pragma GCC unroll 6
        for (int k = 0; k < j; ++k) {
            d -= a[j * 6 + k] * a[j * 6 + k];
        }
        if (!(d > 0.0) || !std::isfinite(d)) {
            return false;
        }
        const double inverse = 1.0 / std::sqrt(d);
        inverseDiagonal[j] = inverse;
#pragma GCC unroll 6
        for (int i = j + 1; i < 6; ++i) {
            double v = a[i * 6 + j];
#pragma GCC unroll 6
            for (int k = 0; k < j; ++k) {
                v -= a[i * 6 + k] * a[j * 6 + k];
            }
            a[i * 6 + j] = v * inverse;
        }
    }
    return true;
}

// X := (L L^T)^-1 X for a factor from Cholesky, X `columns` wide (row-major, 6 apart).
template <int columns>
[[gnu::always_inline]] inline void CholeskySolve(const double* l, const double* inverseDiagonal,
                                                 double* x) {
#pragma GCC unroll 6
    for (int i = 0; i < 6; ++i) {
        double* xi = x + i * 6;
#pragma GCC unroll 6
        for (int k = 0; k < i; ++k) {
            if constexpr (columns == 6) {
                AddScaled<-1, 6>(xi, l[i * 6 + k], x + k * 6);
            } else {
#pragma GCC unroll 6
                for (int c = 0; c < columns; ++c) {
                    xi[c] -= l[i * 6 + k] * x[k * 6 + c];
                }
            }
        }
#pragma GCC unroll 6
        for (int c = 0; c < columns; ++c) {
            xi[c] *= inverseDiagonal[i];
        }
    }
#pragma GCC unroll 6
    for (int i = 5; i >= 0; --i) {
        double* xi = x + i * 6;
#pragma GCC unroll 6
        for (int k = i + 1; k < 6; ++k) {
            if constexpr (columns == 6) {
                AddScaled<-1, 6>(xi, l[k * 6 + i], x + k * 6);
            } else {
#pragma GCC unroll 6
                for (int c = 0; c < columns; ++c) {
                    xi[c] -= l[k * 6 + i] * x[k * 6 + c];
                }
            }
        }
#pragma GCC unroll 6
        for (int c = 0; c < columns; ++c) {
            xi[c] *= inverseDiagonal[i];
        }
    }
}

// A taken row as the passes read it: its entries and cfm widened once, and the nodes it moves.
struct TakenRow {
    double J[RowFloats];
    double cfm;
    double w;        // 1 / cfm
    double bound;    // a friction row's coefficient, |hi|
    int32_t node[2]; // per side, -1 where the body does not move
    int32_t child;   // a link's child node, -1 for a row to the world
    int32_t normal;  // a friction row's normal row among the taken (where a search finds it)
    int32_t tree;
    int32_t row;
    bool normalTaken; // whether `normal` is that row
    bool childFirst;  // whether the child is the row's first body
    bool dropped;
};

// Whether the k-th taken row came out where no exact answer has it: a pushing row pulling, or a
// friction row past its bound. A friction row that stuck may have to slide: one pushed along by
// a kinematic body held each box of a row to the floor while the body drove them on, and the
// forces that took came out in tens of thousands, past any bound, and threw the boxes at 100 m/s.
bool OutOfBounds(const TakenRow* rows, const double* answer, int k) {
    const TakenRow& row = rows[k];
    if (row.dropped) {
        return false;
    }
    if (row.normal < 0) {
        return answer[k] < 0.0;
    }
    const double normalForce = std::max(0.0, answer[row.normal]);
    return std::fabs(answer[k]) > row.bound * normalForce;
}

// One exact solve of the unsettled trees over their rows not dropped: the answers of those
// rows, or false when the forest has no factor or an answer is not finite.
[[gnu::always_inline]] inline bool SolveForest(const TakenRow* rows, int taken, const double* beta,
                                               Node* nodes, const int32_t* order, int count,
                                               const int32_t* treeOf, const bool* unsettled,
                                               double* answer) {
    for (int k = 0; k < count; ++k) {
        Node& node = nodes[order[k]];
        if (!unsettled[treeOf[order[k]]]) {
            continue;
        }
        std::copy(node.mass, node.mass + 36, node.A);
        std::fill(node.K, node.K + 36, 0.0);
        std::fill(node.rhs, node.rhs + 6, 0.0);
    }
    for (int k = 0; k < taken; ++k) {
        const TakenRow& row = rows[k];
        if (row.dropped || !unsettled[row.tree]) {
            continue;
        }
        const double w = row.w;
        for (int side = 0; side < 2; ++side) {
            if (row.node[side] < 0) {
                continue;
            }
            Node& node = nodes[row.node[side]];
            const double* Js = row.J + 6 * side;
            double wJ[6];
            for (int i = 0; i < 6; ++i) {
                wJ[i] = w * Js[i];
            }
            AddScaled<1, 6>(node.rhs, beta[k], wJ);
            AddOuterLower(node.A, wJ, Js);
        }
        if (row.child >= 0) {
            Node& child = nodes[row.child];
            const double* Jp = row.J + (row.childFirst ? 6 : 0);
            const double* Jc = row.J + (row.childFirst ? 0 : 6);
            for (int i = 0; i < 6; ++i) {
                AddScaled<1, 6>(child.K + i * 6, w * Jp[i], Jc);
            }
        }
    }
    // Leaves first: each node's block and right side fold into its parent's.
    for (int k = count - 1; k >= 0; --k) {
        Node& node = nodes[order[k]];
        if (!unsettled[treeOf[order[k]]]) {
            continue;
        }
        if (!Cholesky(node.A, node.inverseDiagonal)) {
            return false;
        }
        double y[36];
        for (int i = 0; i < 6; ++i) {
            y[i * 6] = node.rhs[i];
        }
        CholeskySolve<1>(node.A, node.inverseDiagonal, y);
        for (int i = 0; i < 6; ++i) {
            node.y[i] = y[i * 6];
        }
        if (node.parent < 0) {
            continue;
        }
        Node& parent = nodes[node.parent];
        for (int i = 0; i < 6; ++i) {
            for (int j = 0; j < 6; ++j) {
                node.toParent[j * 6 + i] = node.K[i * 6 + j];
            }
        }
        CholeskySolve<6>(node.A, node.inverseDiagonal, node.toParent);
        for (int i = 0; i < 6; ++i) {
            const double* Ki = node.K + i * 6;
            double reduced = 0.0;
            for (int c = 0; c < 6; ++c) {
                reduced += Ki[c] * node.y[c];
            }
            parent.rhs[i] -= reduced;
            // Row i of K A^-1 K^T, summed over c in order for every column at once.
            double product[6] = {};
            for (int c = 0; c < 6; ++c) {
                AddScaled<1, 6>(product, Ki[c], node.toParent + c * 6);
            }
            for (int j = 0; j <= i; ++j) {
                parent.A[i * 6 + j] -= product[j];
            }
        }
    }
    // Roots first: each node's answer given its parent's.
    for (int k = 0; k < count; ++k) {
        Node& node = nodes[order[k]];
        if (node.parent < 0 || !unsettled[treeOf[order[k]]]) {
            continue;
        }
        const double* parentY = nodes[node.parent].y;
        for (int i = 0; i < 6; ++i) {
            for (int j = 0; j < 6; ++j) {
                node.y[i] -= node.toParent[i * 6 + j] * parentY[j];
            }
        }
    }
    // lambda = C^-1 (beta - J y).
    for (int k = 0; k < taken; ++k) {
        const TakenRow& row = rows[k];
        if (row.dropped || !unsettled[row.tree]) {
            continue;
        }
        double value = beta[k];
        for (int side = 0; side < 2; ++side) {
            if (row.node[side] < 0) {
                continue;
            }
            value = SubtractDot6(value, row.J + 6 * side, nodes[row.node[side]].y);
        }
        answer[k] = value / row.cfm;
        if (!std::isfinite(answer[k])) {
            return false;
        }
    }
    return true;
}

bool SolveForestNarrow(const TakenRow* rows, int taken, const double* beta, Node* nodes,
                       const int32_t* order, int count, const int32_t* treeOf,
                       const bool* unsettled, double* answer) {
    return SolveForest(rows, taken, beta, nodes, order, count, treeOf, unsettled, answer);
}

// The same solve with 4-wide registers: the same operations lane by lane, in fewer instructions.
__attribute__((target("avx2"))) bool SolveForestWide(const TakenRow* rows, int taken,
                                                     const double* beta, Node* nodes,
                                                     const int32_t* order, int count,
                                                     const int32_t* treeOf, const bool* unsettled,
                                                     double* answer) {
    return SolveForest(rows, taken, beta, nodes, order, count, treeOf, unsettled, answer);
}

int32_t Find(int32_t* root, int32_t b) {
    while (root[b] != b) {
        root[b] = root[root[b]];
        b = root[b];
    }
    return b;
}

} // namespace

bool SolveContactTree(const SORSystem& s, ScratchArena& scratch, bool resting) {
    const int m = s.m;
    const int nb = s.nb;
    if (m == 0 || nb < 2) {
        return false;
    }
    ScratchArena::Scope scope(scratch);
    bool* moves = scratch.Take<bool>(nb);
    for (int b = 0; b < nb; ++b) {
        moves[b] = s.inverseMass[b] > 0.0f;
    }
    const auto movable = [moves](int32_t b) { return b >= 0 && moves[b]; };

    // The pushing rows and the links between bodies they make.
    int32_t* part = scratch.Take<int32_t>(m);
    int32_t* linkFirst = scratch.Take<int32_t>(m);
    int32_t* linkSecond = scratch.Take<int32_t>(m);
    size_t capacity = 16;
    while (capacity < 2 * static_cast<size_t>(m)) {
        capacity *= 2;
    }
    int32_t* slots = scratch.Take<int32_t>(capacity);
    std::fill(slots, slots + capacity, -1);
    // The bodies a joint holds: a new contact of one is left to the sweeps (a load set on a
    // bridge of light planks, taken new, still moved at 2.5 cm/s after 12 s).
    bool* heldByJoint = scratch.Take<bool>(nb);
    std::fill(heldByJoint, heldByJoint + nb, false);
    for (int r = 0; r < m; ++r) {
        if (s.findex[r] < 0 && (s.lo[r] != 0.0f || s.hi[r] < LCPInfinity)) {
            for (int side = 0; side < 2; ++side) {
                if (movable(s.jb[2 * r + side])) {
                    heldByJoint[s.jb[2 * r + side]] = true;
                }
            }
        }
    }
    int links = 0;
    for (int r = 0; r < m; ++r) {
        part[r] = NotTaken;
        const float warm = s.lambda[r] * WarmStartShare;
        if (s.findex[r] >= 0) {
            const int32_t normalRow = s.findex[r];
            const bool unloaded = resting && s.lambda[normalRow] == 0.0f && warm == 0.0f;
            if (normalRow < r && part[normalRow] != NotTaken && s.cfm[r] > 0.0f &&
                (unloaded || std::fabs(warm) < StickingShare * std::fabs(s.hi[r]) *
                                                   s.lambda[normalRow] * WarmStartShare)) {
                part[r] = part[normalRow];
            }
            continue;
        }
        // A new contact is taken too, whether its bodies close or not (the passes leave out
        // those that pull): a box landing on a stack, left to the sweeps, set the column
        // turning. Nor can its bodies' own motion tell: the boxes of a stack placed touching fall
        // together, only the floor's contact closed, and at a step of 1/30 s the stack landed a
        // box a step, each centimetres deep in the one below.
        const int32_t a = s.jb[2 * r];
        const int32_t b = s.jb[2 * r + 1];
        const bool isNew =
            warm == 0.0f && !(movable(a) && heldByJoint[a]) && !(movable(b) && heldByJoint[b]);
        if (s.lo[r] != 0.0f || s.hi[r] < LCPInfinity || !(warm > 0.0f || isNew) ||
            !(s.cfm[r] > 0.0f)) {
            continue;
        }
        if (!movable(a) || !movable(b)) {
            if (movable(a) || movable(b)) {
                part[r] = ToWorld;
            }
            continue;
        }
        const int32_t first = std::min(a, b);
        const int32_t second = std::max(a, b);
        const uint64_t key = static_cast<uint64_t>(first) * static_cast<uint64_t>(nb) + second;
        size_t at = static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & (capacity - 1);
        while (slots[at] >= 0 &&
               (linkFirst[slots[at]] != first || linkSecond[slots[at]] != second)) {
            at = (at + 1) & (capacity - 1);
        }
        if (slots[at] < 0) {
            slots[at] = links;
            linkFirst[links] = first;
            linkSecond[links] = second;
            ++links;
        }
        part[r] = slots[at];
    }
    if (links == 0) {
        return false; // every body rests alone, which the sweeps carry
    }

    // The bodies the links join, group by group. A group linked in a loop is left to the
    // sweeps whole: an exact answer for part of a loop shifts the load onto the links it takes,
    // which the sweeps cannot shift back in time. So is a body alone on the world. Any other
    // group is taken, however short: the sweeps carry a force about a fifth of a body a sweep,
    // and a stack of three boxes left to five of them bounced.
    int32_t* root = scratch.Take<int32_t>(nb);
    bool* loop = scratch.Take<bool>(nb);
    for (int b = 0; b < nb; ++b) {
        root[b] = b;
        loop[b] = false;
    }
    for (int e = 0; e < links; ++e) {
        const int32_t first = Find(root, linkFirst[e]);
        const int32_t second = Find(root, linkSecond[e]);
        if (first == second) {
            loop[first] = true;
        } else {
            root[first] = second;
            loop[second] = loop[second] || loop[first];
        }
    }
    bool anyTree = false;
    for (int e = 0; e < links && !anyTree; ++e) {
        anyTree = !loop[Find(root, linkFirst[e])];
    }
    if (!anyTree) {
        return false; // every linked group closes a loop (a pyramid's), the sweeps' whole
    }
    for (int b = 0; b < nb; ++b) {
        root[b] = Find(root, b); // each body's group, looked up below by row
    }
    int32_t* firstOfBody = scratch.Take<int32_t>(static_cast<size_t>(nb) + 1);
    std::fill(firstOfBody, firstOfBody + nb + 1, 0);
    for (int e = 0; e < links; ++e) {
        ++firstOfBody[linkFirst[e] + 1];
        ++firstOfBody[linkSecond[e] + 1];
    }
    for (int b = 0; b < nb; ++b) {
        firstOfBody[b + 1] += firstOfBody[b];
    }
    int32_t* filled = scratch.Take<int32_t>(nb);
    std::copy(firstOfBody, firstOfBody + nb, filled);
    int32_t* linksOfBody = scratch.Take<int32_t>(static_cast<size_t>(firstOfBody[nb]));
    for (int e = 0; e < links; ++e) {
        linksOfBody[filled[linkFirst[e]]++] = e;
        linksOfBody[filled[linkSecond[e]]++] = e;
    }
    const auto leftToSweeps = [&](int32_t b) {
        return loop[root[b]] || firstOfBody[b] == firstOfBody[b + 1];
    };
    // A group a joint holds keeps its friction rows at their warm start: solved exactly against
    // the joints' warm start, a load on a jointed body trembled.
    bool* jointed = scratch.Take<bool>(nb);
    std::fill(jointed, jointed + nb, false);
    for (int r = 0; r < m; ++r) {
        if (s.findex[r] < 0 && (s.lo[r] != 0.0f || s.hi[r] < LCPInfinity)) {
            for (int side = 0; side < 2; ++side) {
                const int32_t b = s.jb[2 * r + side];
                if (movable(b)) {
                    jointed[root[b]] = true;
                }
            }
        }
    }
    // The bodies the taken rows move become nodes.
    int32_t* nodeOf = scratch.Take<int32_t>(nb);
    std::fill(nodeOf, nodeOf + nb, -1);
    int nodeCount = 0;
    int taken = 0;
    for (int r = 0; r < m; ++r) {
        if (part[r] == NotTaken) {
            continue;
        }
        const int32_t a = s.jb[2 * r];
        const int32_t body = movable(a) ? a : s.jb[2 * r + 1];
        if (leftToSweeps(body) || (s.findex[r] >= 0 && jointed[root[body]])) {
            part[r] = NotTaken;
            continue;
        }
        ++taken;
        for (int side = 0; side < 2; ++side) {
            const int32_t b = s.jb[2 * r + side];
            if (movable(b) && nodeOf[b] < 0) {
                nodeOf[b] = nodeCount++;
            }
        }
    }
    if (taken == 0) {
        return false;
    }
    Node* nodes = scratch.Take<Node>(nodeCount);
    for (int b = 0; b < nb; ++b) {
        if (nodeOf[b] < 0) {
            continue;
        }
        Node& node = nodes[nodeOf[b]];
        node.body = b;
        node.parent = -1;
        Matrix3 inertia = s.inverseInertia[b];
        if (!InvertAtAnyScale(inertia)) {
            return false;
        }
        std::fill(node.mass, node.mass + 36, 0.0);
        for (int k = 0; k < 3; ++k) {
            node.mass[k * 6 + k] = 1.0 / s.inverseMass[b];
            for (int j = 0; j < 3; ++j) {
                node.mass[(3 + k) * 6 + 3 + j] = inertia.m[k][j];
            }
        }
    }

    // The held rows act at the forces the sweeps start them from: beta = b - J (M^-1 J^T
    // lambda) of the held rows, for each taken row.
    double* held = scratch.Take<double>(static_cast<size_t>(nodeCount) * 6);
    std::fill(held, held + static_cast<size_t>(nodeCount) * 6, 0.0);
    for (int r = 0; r < m; ++r) {
        const float warm = s.lambda[r] * WarmStartShare;
        if (part[r] != NotTaken || warm == 0.0f) {
            continue;
        }
        for (int side = 0; side < 2; ++side) {
            const int32_t b = s.jb[2 * r + side];
            if (b < 0 || nodeOf[b] < 0) {
                continue;
            }
            const float* J = s.J + r * RowFloats + 6 * side;
            const Float3 angular = s.inverseInertia[b].Transform(Float3(J[3], J[4], J[5]));
            double* out = held + 6 * nodeOf[b];
            for (int k = 0; k < 3; ++k) {
                out[k] += static_cast<double>(s.inverseMass[b]) * J[k] * warm;
            }
            out[3] += static_cast<double>(angular.x) * warm;
            out[4] += static_cast<double>(angular.y) * warm;
            out[5] += static_cast<double>(angular.z) * warm;
        }
    }
    // Each taken row as the passes read it, its entries widened once.
    TakenRow* rows = scratch.Take<TakenRow>(taken);
    int32_t* takenRows = scratch.Take<int32_t>(taken);
    int32_t* takenBefore = scratch.Take<int32_t>(m);
    double* beta = scratch.Take<double>(taken);
    int next = 0;
    for (int r = 0; r < m; ++r) {
        takenBefore[r] = next;
        if (part[r] == NotTaken) {
            continue;
        }
        TakenRow& row = rows[next];
        for (int k = 0; k < RowFloats; ++k) {
            row.J[k] = s.J[r * RowFloats + k];
        }
        row.cfm = s.cfm[r];
        row.w = 1.0 / row.cfm;
        row.bound = std::fabs(s.hi[r]);
        row.row = r;
        row.child = -1;
        row.childFirst = false;
        row.dropped = false;
        double value = s.b[r];
        for (int side = 0; side < 2; ++side) {
            const int32_t b = s.jb[2 * r + side];
            row.node[side] = movable(b) ? nodeOf[b] : -1;
            if (b < 0 || nodeOf[b] < 0) {
                continue;
            }
            value = SubtractDot6(value, row.J + 6 * side, held + 6 * nodeOf[b]);
        }
        takenRows[next] = r;
        beta[next++] = value;
    }
    // The normal row comes before its friction rows among the taken: where a search of the
    // taken rows before a friction row finds it.
    for (int k = 0; k < taken; ++k) {
        const int32_t normalRow = s.findex[rows[k].row];
        rows[k].normal = normalRow < 0 ? -1 : std::min(takenBefore[normalRow], k);
        rows[k].normalTaken =
            normalRow >= 0 && rows[k].normal < k && takenRows[rows[k].normal] == normalRow;
    }

    // The forest, breadth first from the first node of each tree along the links found above;
    // each link's child is the node it joins to its parent.
    int32_t* childOfLink = scratch.Take<int32_t>(links);
    int32_t* order = scratch.Take<int32_t>(nodeCount);
    int32_t* treeOf = scratch.Take<int32_t>(nodeCount);
    bool* reached = scratch.Take<bool>(nodeCount);
    std::fill(reached, reached + nodeCount, false);
    int count = 0;
    int trees = 0;
    for (int start = 0; start < nodeCount; ++start) {
        if (reached[start]) {
            continue;
        }
        reached[start] = true;
        order[count++] = start;
        for (int k = count - 1; k < count; ++k) {
            const int32_t n = order[k];
            treeOf[n] = trees;
            const int32_t b = nodes[n].body;
            for (int j = firstOfBody[b]; j < firstOfBody[b + 1]; ++j) {
                const int32_t e = linksOfBody[j];
                const int32_t other = nodeOf[linkFirst[e] == b ? linkSecond[e] : linkFirst[e]];
                if (!reached[other]) {
                    reached[other] = true;
                    nodes[other].parent = n;
                    childOfLink[e] = other;
                    order[count++] = other;
                }
            }
        }
        ++trees;
    }
    // A taken row's tree: that of a body it moves; a link's child and which side it is.
    for (int k = 0; k < taken; ++k) {
        TakenRow& row = rows[k];
        row.tree = treeOf[row.node[0] >= 0 ? row.node[0] : row.node[1]];
        const int32_t link = part[row.row];
        if (link >= 0) {
            row.child = childOfLink[link];
            row.childFirst = s.jb[2 * row.row] == nodes[row.child].body;
        }
    }

    // The taken rows that come out pulling leave with a force of 0, and the rest are solved
    // again, as an exact solve finds the rows that push: only the trees that lost a row, each
    // a system of its own.
    double* answer = scratch.Take<double>(taken);
    bool* unsettled = scratch.Take<bool>(trees);
    std::fill(unsettled, unsettled + trees, true);
    const bool wide = WideSweeps();
    int pulling = 0;
    for (int pass = 0;; ++pass) {
        const bool solved = wide ? SolveForestWide(rows, taken, beta, nodes, order, count, treeOf,
                                                   unsettled, answer)
                                 : SolveForestNarrow(rows, taken, beta, nodes, order, count, treeOf,
                                                     unsettled, answer);
        if (!solved) {
            return false;
        }
        pulling = 0;
        for (int k = 0; k < taken; ++k) {
            if (!rows[k].dropped && unsettled[rows[k].tree]) {
                pulling += OutOfBounds(rows, answer, k) ? 1 : 0;
            }
        }
        if (pulling == 0 || pass + 1 == MaxPasses) {
            break;
        }
        std::fill(unsettled, unsettled + trees, false);
        for (int k = 0; k < taken; ++k) {
            TakenRow& row = rows[k];
            if (!row.dropped &&
                ((row.normalTaken && rows[row.normal].dropped) || OutOfBounds(rows, answer, k))) {
                row.dropped = true;
                unsettled[row.tree] = true;
            }
        }
    }
    for (int k = 0; k < taken; ++k) {
        const int r = takenRows[k];
        if (rows[k].dropped) {
            s.lambda[r] = 0.0f;
        } else if (s.findex[r] >= 0) {
            const double bound = std::fabs(s.hi[r]) * s.lambda[s.findex[r]] * WarmStartShare;
            s.lambda[r] = static_cast<float>(std::clamp(answer[k], -bound, bound) / WarmStartShare);
        } else {
            s.lambda[r] = static_cast<float>(std::max(0.0, answer[k]) / WarmStartShare);
        }
    }
    bool anyDropped = false;
    for (int k = 0; k < taken && !anyDropped; ++k) {
        anyDropped = rows[k].dropped;
    }
    return taken == m && pulling == 0 && !anyDropped;
}

} // namespace quarn
