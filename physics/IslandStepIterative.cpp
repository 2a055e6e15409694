#include "physics/IslandStepIterative.h"

#include "core/debug/Assertion.h"
#include "physics/ContactJoint.h"
#include "physics/ContactTree.h"
#include "physics/IslandStep.h"
#include "physics/IslandSubsteps.h"
#include "physics/Joint.h"
#include "physics/JointTree.h"
#include "physics/LCPSolver.h"
#include "physics/MatrixKernels.h"
#include "physics/PhysicsMaster.h"
#include "physics/PushOut.h"
#include "physics/RigidBody.h"
#include "physics/ScratchArena.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <immintrin.h>
#include <new>

namespace quarn {
namespace {

constexpr int RowFloats = 12;
constexpr float RetryCfm = 1e-5f;

uint32_t randomState = 0;

Float3 Load(const float* v) {
    return {v[0], v[1], v[2]};
}

float Dot6(const float* a, const float* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3] + a[4] * b[4] + a[5] * b[5];
}

// Everything one visit of a row reads, in one place, each body's part padded to four floats so
// that a visit is a handful of 4-wide operations. The sweeps visit the rows in shuffled order:
// after each shuffle the rows are copied into that order, so a sweep reads them in sequence.
struct alignas(16) PackedRow {
    float J[16];      // scaled by the over-relaxed inverse diagonal; 0 on the world's side
    float invMJt[16]; // M^-1 J^T in the layout of J
    float b;          // scaled as J
    float cfmScale;   // the scale times cfm
    // The bounds are lo - mu |lambda[bound]| and hi + mu |lambda[bound]|: a friction row has lo
    // and hi 0 and its coefficient as mu, any other row mu 0 and its own index as bound.
    float lo;
    float hi;
    float mu;
    int32_t bound;
    // Where the row's bodies' slots start, in floats; the second is the world's slot for the
    // immovable world.
    int32_t slot1;
    int32_t slot2;
    int32_t index; // the row's place in the system
};
static_assert(sizeof(PackedRow) == 176);

// The bodies' M^-1 J^T lambda as the sweeps accumulate it: linear and angular parts padded to
// four floats, and one more slot, always 0, for the immovable world, so that a visit need not
// ask whether its row has a second body.
constexpr int SlotFloats = 8;

// How far ahead the packing fetches the rows it will write.
constexpr int RowsAhead = 6;

// A body's inverse mass and world inverse inertia as the rows' set-up takes them: the
// inertia's columns padded to four floats, then the mass in every lane.
struct alignas(16) BodyInverse {
    float column[3][4];
    float mass[4];
};

__m128 Keep3() {
    return _mm_castsi128_ps(_mm_set_epi32(0, -1, -1, -1));
}

// The linear and angular halves of one body's part of a 12-float row, padded to four floats.
void LoadSide(const float* J, bool second, __m128& linear, __m128& angular) {
    linear = _mm_and_ps(_mm_loadu_ps(J + 6 * second), Keep3());
    // The last half is loaded from one float earlier, so as not to read past the row.
    const __m128 tail = _mm_loadu_ps(J + 2 + 6 * second);
    angular = _mm_and_ps(_mm_shuffle_ps(tail, tail, _MM_SHUFFLE(3, 3, 2, 1)), Keep3());
}

// M^-1 J^T for one body's part of a row, in the order of Matrix3::Transform's sums.
void InvMJt(const BodyInverse& body, __m128 linear, __m128 angular, float* out) {
    _mm_store_ps(out, _mm_mul_ps(linear, _mm_load_ps(body.mass)));
    const __m128 x = _mm_shuffle_ps(angular, angular, _MM_SHUFFLE(0, 0, 0, 0));
    const __m128 y = _mm_shuffle_ps(angular, angular, _MM_SHUFFLE(1, 1, 1, 1));
    const __m128 z = _mm_shuffle_ps(angular, angular, _MM_SHUFFLE(2, 2, 2, 2));
    _mm_store_ps(out + 4, _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_load_ps(body.column[0]), x),
                                                _mm_mul_ps(_mm_load_ps(body.column[1]), y)),
                                     _mm_mul_ps(_mm_load_ps(body.column[2]), z)));
}

// A padded side times the same side of a 12-float row, summed as Dot6 sums.
float DotSide(const float* padded, const float* J) {
    return padded[0] * J[0] + padded[1] * J[1] + padded[2] * J[2] + padded[4] * J[3] +
           padded[5] * J[4] + padded[6] * J[5];
}

// out[r] = J_r . v of the row's bodies, v six floats per body.
void MultiplyJ(int m, const float* J, const int32_t* jb, const float* v, float* out) {
    for (int r = 0; r < m; ++r) {
        const float* row = J + r * RowFloats;
        float sum = Dot6(row, v + jb[2 * r] * 6);
        if (jb[2 * r + 1] >= 0) {
            sum += Dot6(row + 6, v + jb[2 * r + 1] * 6);
        }
        out[r] = sum;
    }
}

__m128 Select(__m128 mask, __m128 a, __m128 b) {
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}

// The sum of the four lanes, in the lowest.
__m128 HorizontalSum(__m128 v) {
    const __m128 pairs = _mm_add_ps(v, _mm_movehl_ps(v, v));
    return _mm_add_ss(pairs, _mm_shuffle_ps(pairs, pairs, 1));
}

__m128 AbsMask() {
    return _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
}

// slot += invMJt * k for one body's eight floats.
void AddScaled(float* slot, const float* invMJt, __m128 k) {
    _mm_store_ps(slot, _mm_add_ps(_mm_load_ps(slot), _mm_mul_ps(_mm_load_ps(invMJt), k)));
    _mm_store_ps(slot + 4,
                 _mm_add_ps(_mm_load_ps(slot + 4), _mm_mul_ps(_mm_load_ps(invMJt + 4), k)));
}

// One visit: the row's multiplier moves towards its solution within its bounds, and its bodies'
// accumulated M^-1 J^T lambda follow. Free of branches, as shuffled rows leave no pattern to
// predict. The narrow and the wide sweep share its steps and differ only in how they read and
// write the bodies' slots and bound the multiplier, with the same arithmetic lane by lane, so
// that both give the same results to the bit.
struct Visit {
    __m128 old;
    __m128 start;
    __m128 lo;
    __m128 hi;
};

// Everything but the bodies' motion is known before it: the chain from one visit of a body to
// the next is kept short.
[[gnu::always_inline]] inline Visit BeginVisit(const PackedRow& row, const float* lambda) {
    Visit visit;
    visit.old = _mm_load_ss(lambda + row.index);
    visit.start =
        _mm_add_ss(visit.old, _mm_sub_ss(_mm_load_ss(&row.b),
                                         _mm_mul_ss(_mm_load_ss(&row.cfmScale), visit.old)));
    const __m128 reach =
        _mm_mul_ss(_mm_load_ss(&row.mu), _mm_and_ps(_mm_load_ss(lambda + row.bound), AbsMask()));
    visit.lo = _mm_sub_ss(_mm_load_ss(&row.lo), reach);
    visit.hi = _mm_add_ss(_mm_load_ss(&row.hi), reach);
    return visit;
}

// Given J v per body side, four lanes each: the multiplier's new value before its bounds.
[[gnu::always_inline]] inline __m128 Updated(const Visit& visit, __m128 first, __m128 second) {
    return _mm_sub_ss(visit.start, HorizontalSum(_mm_add_ps(first, second)));
}

// Stores the bounded multiplier and answers its change.
[[gnu::always_inline]] inline __m128 EndVisit(const PackedRow& row, const Visit& visit,
                                              __m128 clamped, float* lambda) {
    _mm_store_ss(lambda + row.index, clamped);
    return _mm_sub_ss(clamped, visit.old);
}

void Sweep(const PackedRow* rows, int count, float* lambda, float* slots) {
    for (int k = 0; k < count; ++k) {
        const PackedRow& row = rows[k];
        float* v1 = slots + row.slot1;
        float* v2 = slots + row.slot2;
        const Visit visit = BeginVisit(row, lambda);
        const __m128 first = _mm_add_ps(_mm_mul_ps(_mm_load_ps(row.J), _mm_load_ps(v1)),
                                        _mm_mul_ps(_mm_load_ps(row.J + 4), _mm_load_ps(v1 + 4)));
        const __m128 second = _mm_add_ps(_mm_mul_ps(_mm_load_ps(row.J + 8), _mm_load_ps(v2)),
                                         _mm_mul_ps(_mm_load_ps(row.J + 12), _mm_load_ps(v2 + 4)));
        const __m128 updated = Updated(visit, first, second);
        // Below lo gives lo, else above hi gives hi; a NaN stays, for the caller to find.
        const __m128 clamped =
            Select(_mm_cmplt_ss(updated, visit.lo), visit.lo, _mm_min_ss(visit.hi, updated));
        const __m128 moved = EndVisit(row, visit, clamped, lambda);
        const __m128 change = _mm_shuffle_ps(moved, moved, 0);
        AddScaled(v1, row.invMJt, change);
        AddScaled(v2, row.invMJt + 8, change);
    }
}

// Each body's eight floats in one register: fewer operations per visit where the processor
// has 8-wide registers.
__attribute__((target("avx2"))) void SweepWide(const PackedRow* rows, int count, float* lambda,
                                               float* slots) {
    for (int k = 0; k < count; ++k) {
        const PackedRow& row = rows[k];
        float* v1 = slots + row.slot1;
        float* v2 = slots + row.slot2;
        const Visit visit = BeginVisit(row, lambda);
        const __m256 products1 = _mm256_mul_ps(_mm256_loadu_ps(row.J), _mm256_loadu_ps(v1));
        const __m256 products2 = _mm256_mul_ps(_mm256_loadu_ps(row.J + 8), _mm256_loadu_ps(v2));
        const __m128 updated = Updated(
            visit,
            _mm_add_ps(_mm256_castps256_ps128(products1), _mm256_extractf128_ps(products1, 1)),
            _mm_add_ps(_mm256_castps256_ps128(products2), _mm256_extractf128_ps(products2, 1)));
        // The narrow sweep's bounds in fewer operations.
        const __m128 clamped =
            _mm_blendv_ps(_mm_min_ss(visit.hi, updated), visit.lo, _mm_cmplt_ss(updated, visit.lo));
        const __m256 change = _mm256_broadcastss_ps(EndVisit(row, visit, clamped, lambda));
        _mm256_storeu_ps(v1, _mm256_add_ps(_mm256_loadu_ps(v1),
                                           _mm256_mul_ps(_mm256_loadu_ps(row.invMJt), change)));
        _mm256_storeu_ps(v2, _mm256_add_ps(_mm256_loadu_ps(v2),
                                           _mm256_mul_ps(_mm256_loadu_ps(row.invMJt + 8), change)));
    }
}

std::atomic<bool> wideAllowed{true};

// Moves the generator on by `draws` draws in a number of steps logarithmic in them: n steps of
// x := a x + c are one step with a^n and c (a^(n-1) + ... + a + 1), both found by squaring.
void SkipDraws(uint64_t draws) {
    uint32_t multiplier = 1664525u;
    uint32_t increment = 1013904223u;
    uint32_t skipMultiplier = 1u;
    uint32_t skipIncrement = 0u;
    for (; draws > 0; draws >>= 1) {
        if (draws & 1u) {
            skipMultiplier *= multiplier;
            skipIncrement = skipIncrement * multiplier + increment;
        }
        increment *= multiplier + 1u;
        multiplier *= multiplier;
    }
    randomState = randomState * skipMultiplier + skipIncrement;
}

// Calls place(k, r) for the rows of one shuffle in the order a sweep visits them: the systems'
// k-th rows side by side, each system's in its own order (rows given by system as
// order[rowBase[i] + k]).
template <typename Place>
void VisitOrder(const SORSystem* systems, int count, const int32_t* rowBase, int longest,
                const int32_t* order, Place place) {
    int next = 0;
    for (int k = 0; k < longest; ++k) {
        for (int i = 0; i < count; ++i) {
            if (k < systems[i].m && !systems[i].answered) {
                place(next++, order[rowBase[i] + k]);
            }
        }
    }
}

} // namespace

bool WideSweeps() {
    static const bool available = __builtin_cpu_supports("avx2");
    return available && wideAllowed.load(std::memory_order_relaxed);
}

void AllowWideSweeps(bool allow) {
    wideAllowed.store(allow, std::memory_order_relaxed);
}

uint32_t RandomNext() {
    randomState = randomState * 1664525u + 1013904223u;
    return randomState;
}

int32_t RandomInt(int32_t n) {
    const uint32_t next = RandomNext();
    // Below 2^21 the product is exact in a double, so the integer form gives the same answer
    // without the conversions.
    if (n > 0 && n < (1 << 21)) {
        return static_cast<int32_t>((static_cast<uint64_t>(next) * static_cast<uint32_t>(n)) >> 32);
    }
    return static_cast<int32_t>(static_cast<double>(next) * n * (1.0 / 4294967296.0));
}

void SeedSolverRandom(uint32_t state) {
    randomState = state;
}

void SolveSOR(const SORSystem& system, int32_t iterations, float overRelaxation,
              ScratchArena& scratch) {
    SolveSOR(&system, 1, iterations, overRelaxation, scratch);
}

void SolveSOR(const SORSystem* systems, int32_t count, int32_t iterations, float overRelaxation,
              ScratchArena& scratch) {
    ScratchArena::Scope scope(scratch);
    // The systems' rows, multipliers and body slots side by side, each system with its own
    // world slot, so that even a NaN stays within its system.
    int32_t* rowBase = scratch.Take<int32_t>(count);
    int32_t* slotBase = scratch.Take<int32_t>(count);
    int total = 0;
    int swept = 0; // the rows of the systems not answered
    int slotCount = 0;
    int longest = 0;
    int largestBodies = 0;
    for (int i = 0; i < count; ++i) {
        rowBase[i] = total;
        slotBase[i] = slotCount;
        total += systems[i].m;
        swept += systems[i].answered ? 0 : systems[i].m;
        slotCount += systems[i].nb + 1;
        longest = std::max(longest, systems[i].m);
        largestBodies = std::max(largestBodies, systems[i].nb);
    }
    // Every shuffle of the solve, drawn system by system as solves one after another draw
    // them: orders[e * total + rowBase[i] + k] is the row system i visits k-th from sweep 8 e.
    const int shuffles = iterations > 0 ? (iterations + 7) / 8 : 0;
    int32_t* orders = scratch.Take<int32_t>(static_cast<size_t>(shuffles) * total);
    int32_t* order = scratch.Take<int32_t>(longest);
    for (int i = 0; i < count; ++i) {
        const SORSystem& s = systems[i];
        if (s.answered) {
            // Its shuffles are not used, only passed over: m - 1 draws each.
            SkipDraws(static_cast<uint64_t>(shuffles) *
                      static_cast<uint64_t>(std::max(s.m - 1, 0)));
            continue;
        }
        // Normal rows before the friction rows that depend on them, as the shuffle's start.
        int j = 0;
        for (int r = 0; r < s.m; ++r) {
            if (s.findex[r] < 0) {
                order[j++] = r;
            }
        }
        for (int r = 0; r < s.m; ++r) {
            if (s.findex[r] >= 0) {
                order[j++] = r;
            }
        }
        QUARN_CHECK_ASSERTION(j == s.m, "j==m");
        const int m = s.m; // read once: the swaps could alias it
        for (int e = 0; e < shuffles; ++e) {
            for (int k = 1; k < m; ++k) {
                std::swap(order[k], order[RandomInt(k + 1)]);
            }
            int32_t* out = orders + static_cast<size_t>(e) * total + rowBase[i];
            for (int k = 0; k < s.m; ++k) {
                out[k] = rowBase[i] + order[k];
            }
        }
    }

    // The rows swept are packed where the first sweep visits them, and moved after every later
    // shuffle: position[r] is where row r stands.
    int32_t* position = scratch.Take<int32_t>(total);
    if (shuffles == 0) {
        int next = 0;
        for (int i = 0; i < count; ++i) {
            for (int r = 0; r < systems[i].m && !systems[i].answered; ++r) {
                position[rowBase[i] + r] = next++;
            }
        }
    } else {
        VisitOrder(systems, count, rowBase, longest, orders,
                   [position](int place, int32_t r) { position[r] = place; });
    }
    PackedRow* rows = scratch.Take<PackedRow>(swept);
    PackedRow answeredRow; // a row not swept, packed only for its warm start
    float* lambda = scratch.Take<float>(total);
    const size_t slotFloats = static_cast<size_t>(slotCount) * SlotFloats;
    float* slots = scratch.Take<float>(slotFloats);
    std::fill(slots, slots + slotFloats, 0.0f);
    BodyInverse* inverse = scratch.Take<BodyInverse>(largestBodies);

    for (int i = 0; i < count; ++i) {
        const SORSystem& s = systems[i];
        for (int b = 0; b < s.nb; ++b) {
            for (int k = 0; k < 3; ++k) {
                for (int c = 0; c < 3; ++c) {
                    inverse[b].column[k][c] = s.inverseInertia[b].m[c][k];
                }
                inverse[b].column[k][3] = 0.0f;
            }
            std::fill(inverse[b].mass, inverse[b].mass + 4, s.inverseMass[b]);
        }
        for (int r = 0; r < s.m; ++r) {
            // Rows land scattered, where the first sweep visits them: their lines are fetched a
            // few rows ahead, so that the misses overlap instead of stalling the stores.
            if (!s.answered && r + RowsAhead < s.m) {
                const char* ahead =
                    reinterpret_cast<const char*>(&rows[position[rowBase[i] + r + RowsAhead]]);
                for (size_t line = 0; line < sizeof(PackedRow); line += 64) {
                    __builtin_prefetch(ahead + line, 1);
                }
                __builtin_prefetch(ahead + sizeof(PackedRow) - 1, 1);
            }
            float& warm = lambda[rowBase[i] + r];
            warm = s.lambda[r] * WarmStartShare;
            PackedRow& row = s.answered ? answeredRow : rows[position[rowBase[i] + r]];
            const bool twoBodies = s.jb[2 * r + 1] >= 0;
            row.index = rowBase[i] + r;
            row.slot1 = (slotBase[i] + s.jb[2 * r]) * SlotFloats;
            row.slot2 = (slotBase[i] + (twoBodies ? s.jb[2 * r + 1] : s.nb)) * SlotFloats;
            const bool friction = s.findex[r] >= 0;
            row.bound = rowBase[i] + (friction ? s.findex[r] : r);
            row.mu = friction ? std::fabs(s.hi[r]) : 0.0f;
            row.lo = friction ? 0.0f : s.lo[r];
            row.hi = friction ? 0.0f : s.hi[r];
            const float* J = s.J + r * RowFloats;
            __m128 side[4];
            LoadSide(J, false, side[0], side[1]);
            InvMJt(inverse[s.jb[2 * r]], side[0], side[1], row.invMJt);
            float diagonal = DotSide(row.invMJt, J) + s.cfm[r];
            if (twoBodies) {
                LoadSide(J, true, side[2], side[3]);
                InvMJt(inverse[s.jb[2 * r + 1]], side[2], side[3], row.invMJt + 8);
                diagonal += DotSide(row.invMJt + 8, J + 6);
            } else {
                side[2] = side[3] = _mm_setzero_ps();
                std::fill(row.invMJt + 8, row.invMJt + 16, 0.0f);
            }
            if (s.answered) {
                // Not swept: its warm start's M^-1 J^T lambda is all it gives.
                if (diagonal == 0.0f || !std::isfinite(diagonal)) {
                    warm = 0.0f;
                    continue;
                }
                const __m128 k = _mm_set1_ps(warm);
                AddScaled(slots + row.slot1, row.invMJt, k);
                if (twoBodies) {
                    AddScaled(slots + row.slot2, row.invMJt + 8, k);
                }
                continue;
            }
            // Rows pre-scaled by the over-relaxed inverse diagonal, so a visit needs no division.
            if (diagonal == 0.0f || !std::isfinite(diagonal)) {
                // No force moves this row: a visit then changes nothing.
                std::fill(row.J, row.J + 16, 0.0f);
                std::fill(row.invMJt, row.invMJt + 16, 0.0f);
                row.b = 0.0f;
                row.cfmScale = 0.0f;
                warm = 0.0f;
            } else {
                const float scale = overRelaxation / diagonal;
                for (int k = 0; k < 4; ++k) {
                    _mm_store_ps(row.J + 4 * k, _mm_mul_ps(side[k], _mm_set1_ps(scale)));
                }
                row.b = s.b[r] * scale;
                row.cfmScale = scale * s.cfm[r];
            }
            // The warm start's M^-1 J^T lambda, while the row is at hand.
            const __m128 k = _mm_set1_ps(warm);
            AddScaled(slots + row.slot1, row.invMJt, k);
            AddScaled(slots + row.slot2, row.invMJt + 8, k);
        }
    }

    PackedRow* moved = shuffles > 1 ? scratch.Take<PackedRow>(swept) : nullptr;
    const bool wide = WideSweeps();
    for (int t = 0; t < iterations; ++t) {
        if (t > 0 && (t & 7) == 0) {
            VisitOrder(systems, count, rowBase, longest,
                       orders + static_cast<size_t>(t / 8) * total,
                       [position](int place, int32_t r) { position[r] = place; });
            // Read in sequence and written where they go: scattered writes wait on nothing.
            for (int k = 0; k < swept; ++k) {
                moved[position[rows[k].index]] = rows[k];
            }
            std::swap(rows, moved);
        }
        if (wide) {
            SweepWide(rows, swept, lambda, slots);
        } else {
            Sweep(rows, swept, lambda, slots);
        }
    }
    for (int i = 0; i < count; ++i) {
        const SORSystem& s = systems[i];
        std::copy(lambda + rowBase[i], lambda + rowBase[i] + s.m, s.lambda);
        for (int b = 0; b < s.nb; ++b) {
            const float* slot = slots + (slotBase[i] + b) * SlotFloats;
            std::copy(slot, slot + 3, s.fc + 6 * b);
            std::copy(slot + 4, slot + 7, s.fc + 6 * b + 3);
        }
    }
}

namespace {

// Where the rows from `start` lie in J.
JointJacobian RowsAt(const float* J, int32_t start) {
    JointJacobian rows;
    rows.linear[0] = J + start * RowFloats;
    rows.angular[0] = rows.linear[0] + 3;
    rows.linear[1] = rows.linear[0] + 6;
    rows.angular[1] = rows.linear[0] + 9;
    rows.rowSkip = RowFloats;
    return rows;
}

// One island from its set-up to its end, while its rows are solved with other islands'.
struct IterativeIsland {
    RigidBody* const* bodies = nullptr;
    int32_t nb = 0;
    float* inverseMass = nullptr;
    Matrix3* inverseInertia = nullptr;
    Matrix3* inertia = nullptr;
    // Per body, the spin term its torque was given (GyroscopicTorque): it turns the body without
    // doing work, so the squeezed-body hold takes it back out of the outside forces' work.
    Float3* spin = nullptr;
    Pivot** parents = nullptr; // looked up once: finding a transform parent walks the tree
    Joint** kept = nullptr;    // the joints with rows, in their given order
    JointInfo1* info = nullptr;
    int32_t* start = nullptr;
    int32_t jointCount = 0;
    float* warmStart = nullptr;
    float* cfm = nullptr;      // as the joints gave it
    float* solveCfm = nullptr; // as the solve takes it: divided by h, softened on a retry
    SORSystem system;          // m 0: no rows
    // Per row, the push-out taken out of a sunk contact's normal row, which the step carries out
    // by moving its bodies instead; null when no contact is sunk deep.
    float* pushOut = nullptr;
    int32_t substeps = 1;      // the parts its step must be cut into (IslandSubsteps)
    bool weighed = false;      // whether its joints are weighed for parts (WeighsAnyJoint)
    float maxTurn = 0.0f;      // a part's turn under the loads (MaxTurnOf), 0 where not weighed
    StartMotion startMotion;   // StartSpeeds of a whole step; none for a part
};

// Sets an island up for a step of h, a part of the world's step of worldStep.
void SetUpIsland(IterativeIsland& island, RigidBody* const* bodies, int32_t nb,
                 Joint* const* joints, int32_t nj, float h, float worldStep, float worldCfm,
                 float worldErp, ScratchArena& scratch) {
    const float inverseH = 1.0f / h;
    island.bodies = bodies;
    island.nb = nb;
    float* inverseMass = island.inverseMass = scratch.Take<float>(nb);
    Matrix3* inverseInertia = island.inverseInertia = scratch.Take<Matrix3>(nb);
    Matrix3* inertia = island.inertia = scratch.Take<Matrix3>(nb);
    Float3* spin = island.spin = scratch.Take<Float3>(nb);
    Pivot** parents = island.parents = scratch.Take<Pivot*>(nb);
    for (int b = 0; b < nb; ++b) {
        RigidBody& body = *bodies[b];
        body.SetIslandTag(b);
        parents[b] = body.GetTransformParent();
        inverseMass[b] = body.GetSolverInverseMass();
        inverseInertia[b] = WorldInverseInertia(body);
        inertia[b] = WorldInertia(body);
        spin[b] = Float3();
        if (inverseMass[b] != 0.0f) {
            const Float3 w = ToWorldSpace(parents[b], body.GetAngularVelocity());
            spin[b] = GyroscopicTorque(inertia[b], w, h);
            body.AddTorque(spin[b]);
        }
    }

    Joint** kept = island.kept = scratch.Take<Joint*>(nj);
    JointInfo1* info = island.info = scratch.Take<JointInfo1>(nj);
    int32_t* start = island.start = scratch.Take<int32_t>(nj);
    int jointCount = 0;
    int m = 0;
    for (int i = 0; i < nj; ++i) {
        JointInfo1 rows;
        if (!GetIslandRows(*joints[i], bodies, nb, rows)) {
            continue;
        }
        kept[jointCount] = joints[i];
        info[jointCount] = rows;
        start[jointCount] = m;
        m += rows.m;
        ++jointCount;
    }
    island.jointCount = jointCount;

    SORSystem& system = island.system;
    system.nb = nb;
    system.inverseMass = inverseMass;
    system.inverseInertia = inverseInertia;
    float* fc = system.fc = scratch.Take<float>(static_cast<size_t>(nb) * 6);
    SetZero(fc, nb * 6);
    if (m == 0) {
        return;
    }
    float* J = scratch.Take<float>(static_cast<size_t>(m) * RowFloats);
    int32_t* jb = scratch.Take<int32_t>(2 * static_cast<size_t>(m));
    float* c = scratch.Take<float>(m);
    float* cfm = island.cfm = scratch.Take<float>(m);
    float* lo = scratch.Take<float>(m);
    float* hi = scratch.Take<float>(m);
    int32_t* findex = scratch.Take<int32_t>(m);
    float* rhs = scratch.Take<float>(m);
    float* warmStart = island.warmStart = scratch.Take<float>(m);
    SetZero(c, m);
    SetValue(cfm, m, worldCfm);
    SetValue(lo, m, -LCPInfinity);
    SetValue(hi, m, LCPInfinity);
    std::fill(findex, findex + m, -1);
    SetZero(J, m * RowFloats);

    JointInfo2 info2;
    info2.fps = 1.0f / worldStep;
    info2.h = h;
    info2.erp = worldErp;
    info2.rowSkip = RowFloats;
    float* heaviest = scratch.Take<float>(nb);
    HeaviestJoined(bodies, nb, kept, jointCount, inverseMass, heaviest, scratch);
    // A part is not cut again.
    island.weighed = h == worldStep && WeighsAnyJoint(kept, jointCount);
    island.maxTurn =
        island.weighed ? MaxTurnOf(bodies, nb, kept, jointCount, inverseMass, scratch) : 0.0f;
    JointLoad* loads = nullptr;
    if (island.maxTurn > 0.0f) {
        loads = scratch.Take<JointLoad>(nb);
        std::fill(loads, loads + nb, JointLoad());
    }
    int32_t* jbRow = jb;
    for (int i = 0; i < jointCount; ++i) {
        Joint& joint = *kept[i];
        info2.J1l = J + start[i] * RowFloats;
        info2.J1a = info2.J1l + 3;
        info2.J2l = info2.J1l + 6;
        info2.J2a = info2.J1l + 9;
        info2.c = c + start[i];
        info2.cfm = cfm + start[i];
        info2.lo = lo + start[i];
        info2.hi = hi + start[i];
        info2.findex = findex + start[i];
        joint.GetInfo2(info2);
        const RigidBody* second = joint.GetBody(1);
        const int first = joint.GetBody(0)->GetIslandTag();
        // A second body that does not move with the island acts as the immovable world.
        const int other = second && second->IsMovable() && InIsland(second, bodies, nb)
                              ? second->GetIslandTag()
                              : -1;
        const float* saved = joint.GetSavedLambda();
        // A contact softens as for the lighter of its bodies; a joint as for the heaviest body it
        // is joined to.
        const bool contact = joint.GetType() == JointContact;
        const float push =
            contact ? static_cast<const ContactJoint&>(joint).GetDeepPushOut() : 0.0f;
        if (push > 0.0f) {
            if (!island.pushOut) {
                island.pushOut = scratch.Take<float>(m);
                SetZero(island.pushOut, m);
            }
            island.pushOut[start[i]] = push;
            info2.c[0] -= push;
        }
        const float lightest1 = contact ? inverseMass[first] : heaviest[first];
        const float lightest2 = contact && other >= 0 ? inverseMass[other] : 0.0f;
        for (int k = 0; k < info[i].m; ++k) {
            if (info2.findex[k] >= 0) {
                info2.findex[k] += start[i];
            }
            *jbRow++ = first;
            *jbRow++ = other;
            warmStart[start[i] + k] = saved[k];
            info2.cfm[k] = MassScaledCfm(info2.cfm[k], lightest1, lightest2);
        }
        if (loads) {
            const int32_t sides[2] = {first, other};
            AddJointLoad(joint, RowsAt(J, start[i]), info[i].m, saved, sides, loads);
        }
    }
    QUARN_CHECK_ASSERTION(jbRow == jb + 2 * m, "jb_ptr == jb+2*m");
    // The last step's forces (the sweeps' own answer at a whole step may fall well short), and
    // how fast the bodies turn as the step begins.
    if (island.weighed) {
        const int32_t loaded =
            loads ? CountSubsteps(bodies, nb, loads, inverseMass, h, island.maxTurn) : 1;
        const float turn = ArmTurn(bodies, nb, kept, jointCount, nullptr, h);
        island.substeps = HeldSubsteps(std::max(loaded, PartsForTurn(turn)), joints, nj);
    }

    // rhs = c/h + J (M^-1 F + v/h), in world space.
    float* tmp = scratch.Take<float>(static_cast<size_t>(nb) * 6);
    for (int b = 0; b < nb; ++b) {
        RigidBody& body = *bodies[b];
        const Float3 v = ToWorldSpace(parents[b], body.GetLinearVelocity());
        const Float3 w = ToWorldSpace(parents[b], body.GetAngularVelocity());
        StoreJacobian(tmp + 6 * b, (body.GetForce() * inverseMass[b] + v * inverseH) * -1.0f);
        StoreJacobian(tmp + 6 * b + 3,
                      (inverseInertia[b].Transform(body.GetTorque()) + w * inverseH) * -1.0f);
    }
    MultiplyJ(m, J, jb, tmp, rhs);
    for (int r = 0; r < m; ++r) {
        rhs[r] = c[r] * inverseH - rhs[r];
    }

    system.m = m;
    system.J = J;
    system.jb = jb;
    system.b = rhs;
    system.lo = lo;
    system.hi = hi;
    system.findex = findex;
    system.lambda = scratch.Take<float>(m);
    system.cfm = island.solveCfm = scratch.Take<float>(m);
}

// The solve starts from the saved multipliers, the equality rows that link the bodies as a
// tree, and the contact rows of a stack, from their exact answer (with the friction of contacts
// that carried nothing where the island comes to rest); softened, every row's cfm is at least
// RetryCfm. True where that exact answer is the whole solve's, which leaves the sweeps nothing
// to do: a column of boxes at rest is answered so.
bool StartSolve(const IterativeIsland& island, bool soften, float h, ScratchArena& scratch) {
    const SORSystem& system = island.system;
    std::memcpy(system.lambda, island.warmStart, sizeof(float) * system.m);
    const float inverseH = 1.0f / h;
    for (int r = 0; r < system.m; ++r) {
        const float cfm = soften ? std::max(island.cfm[r], RetryCfm) : island.cfm[r];
        island.solveCfm[r] = cfm * inverseH;
    }
    SolveJointTree(system, scratch);
    return SolveContactTree(system, scratch, ComingToRest(island.bodies, island.nb));
}

bool Solved(const IterativeIsland& island) {
    return AllFinite(island.system.lambda, static_cast<size_t>(island.system.m)) &&
           AllFinite(island.system.fc, static_cast<size_t>(island.nb) * 6);
}

// The pseudo-velocity that carries out the island's push-out (SweepPushOut), over every
// contact's normal row.
const Float3* PushOutOf(const IterativeIsland& island, float h, int32_t iterations,
                        ScratchArena& scratch) {
    const SORSystem& system = island.system;
    PushOutRow* rows = scratch.Take<PushOutRow>(static_cast<size_t>(island.jointCount));
    int count = 0;
    for (int i = 0; i < island.jointCount; ++i) {
        if (island.kept[i]->GetType() != JointContact) {
            continue;
        }
        const int r = island.start[i];
        const float* J = system.J + r * RowFloats;
        PushOutRow& row = rows[count++];
        for (int side = 0; side < 2; ++side) {
            row.body[side] = system.jb[2 * r + side];
            row.linear[side] = Load(J + 6 * side);
            row.angular[side] = Load(J + 6 * side + 3);
        }
        row.push = island.pushOut[r];
    }
    return SweepPushOut(rows, count, island.nb, island.inverseMass, island.inverseInertia, h,
                        std::max(iterations, 1), scratch);
}

// Applies the solved island, or leaves it as it was when its solve failed.
bool FinishIsland(const IterativeIsland& island, float h, int32_t iterations, float overRelaxation,
                  ScratchArena& scratch) {
    RigidBody* const* bodies = island.bodies;
    const int nb = island.nb;
    const SORSystem& system = island.system;
    const float* inverseMass = island.inverseMass;
    Pivot* const* parents = island.parents;
    float* fc = system.fc;
    if (system.m > 0) {
        // A zero pivot cannot stop this solve, but redundant rows without cfm can still drive
        // it to overflow: soften every row a little and try once more.
        if (!Solved(island)) {
            SORSystem again = system;
            again.answered = StartSolve(island, true, h, scratch);
            SolveSOR(again, iterations, overRelaxation, scratch);
            if (!Solved(island)) {
                AbandonIsland(bodies, nb, system.m);
                return false;
            }
        }
        const float* lambda = system.lambda;
        for (int i = 0; i < island.jointCount; ++i) {
            const int32_t start = island.start[i];
            std::copy(lambda + start, lambda + start + island.info[i].m,
                      island.kept[i]->GetSavedLambda());
        }
        // The constraint force applied is -J^T lambda.
        for (int b = 0; b < nb; ++b) {
            RigidBody& body = *bodies[b];
            body.AddLinearVelocity(ToStoredSpace(parents[b], Load(fc + 6 * b) * -h));
            body.AddAngularVelocity(ToStoredSpace(parents[b], Load(fc + 6 * b + 3) * -h));
        }

        // Every joint with a feedback record hears the whole constraint force on its bodies.
        bool forces = false;
        for (int i = 0; i < island.jointCount; ++i) {
            JointFeedback* feedback = island.kept[i]->GetFeedback();
            if (!feedback) {
                continue;
            }
            if (!forces) {
                forces = true;
                for (int b = 0; b < nb; ++b) {
                    // A body that cannot move took no share: its mass may be infinite.
                    const bool movable = inverseMass[b] != 0.0f;
                    StoreJacobian(fc + 6 * b,
                                  movable ? Load(fc + 6 * b) * (1.0f / inverseMass[b]) : Float3());
                    StoreJacobian(fc + 6 * b + 3,
                                  movable ? island.inertia[b].Transform(Load(fc + 6 * b + 3))
                                          : Float3());
                }
            }
            const int32_t* jb = system.jb + 2 * island.start[i];
            feedback->force1 = Load(fc + 6 * jb[0]);
            feedback->torque1 = Load(fc + 6 * jb[0] + 3);
            if (jb[1] >= 0) {
                feedback->force2 = Load(fc + 6 * jb[1]);
                feedback->torque2 = Load(fc + 6 * jb[1] + 3);
            }
        }
    }

    // The outside forces, then the poses.
    for (int b = 0; b < nb; ++b) {
        RigidBody& body = *bodies[b];
        body.AddLinearVelocity(ToStoredSpace(parents[b], body.GetForce() * (h * inverseMass[b])));
        body.AddAngularVelocity(
            ToStoredSpace(parents[b], island.inverseInertia[b].Transform(body.GetTorque() * h)));
    }
    if (island.startMotion.speed) {
        // Counted as work against the spin a solve gave, the spin term let a 0.14 g capsule
        // squeezed under a 76 g body leave at 19 m/s, a fall of 19 m.
        for (int b = 0; b < nb; ++b) {
            bodies[b]->SetTorque(bodies[b]->GetTorque() - island.spin[b]);
        }
        HoldSqueezedBodies(bodies, nb, island.startMotion, h, scratch);
    }
    IntegrateIsland(bodies, nb, h,
                    island.pushOut ? PushOutOf(island, h, iterations, scratch) : nullptr);
    return true;
}

} // namespace

bool StepIslandIterative(RigidBody* const* bodies, int32_t nb, Joint* const* joints, int32_t nj,
                         float h, float worldCfm, float worldErp, int32_t iterations,
                         float overRelaxation, ScratchArena& scratch, SubstepBudget* budget) {
    const IslandSpan island{0, nb, 0, nj};
    return StepIslandsIterative(bodies, joints, &island, 1, h, worldCfm, worldErp, iterations,
                                overRelaxation, scratch, budget);
}

namespace {

// The parts the island's step must be cut into at the forces its solve found, and at the turns
// its bodies take by the end of the step.
int32_t CountSolvedSubsteps(const IterativeIsland& island, float h, ScratchArena& scratch) {
    const SORSystem& system = island.system;
    ScratchArena::Scope scope(scratch);
    int32_t needed = 1;
    if (island.maxTurn > 0.0f) {
        JointLoad* loads = scratch.Take<JointLoad>(island.nb);
        std::fill(loads, loads + island.nb, JointLoad());
        for (int i = 0; i < island.jointCount; ++i) {
            const int32_t start = island.start[i];
            const JointJacobian rows = RowsAt(system.J, start);
            AddJointLoad(*island.kept[i], rows, island.info[i].m, system.lambda + start,
                         system.jb + 2 * start, loads);
        }
        needed =
            CountSubsteps(island.bodies, island.nb, loads, island.inverseMass, h, island.maxTurn);
    }
    // fc holds M^-1 J^T lambda, which the constraint forces take off.
    Float3* after = scratch.Take<Float3>(island.nb);
    for (int b = 0; b < island.nb; ++b) {
        const RigidBody& body = *island.bodies[b];
        after[b] =
            ToWorldSpace(island.parents[b], body.GetAngularVelocity()) +
            (island.inverseInertia[b].Transform(body.GetTorque()) - Load(system.fc + 6 * b + 3)) *
                h;
    }
    const float turn = ArmTurn(island.bodies, island.nb, island.kept, island.jointCount, after, h);
    return std::max(needed, PartsForTurn(turn));
}

// Steps an island in equal parts, each set up, solved and finished as a whole step is, from the
// outside forces its step began with.
bool StepInParts(const IslandSpan& span, RigidBody* const* bodies, Joint* const* joints,
                 int32_t parts, const OutsideForces* outside, float h, float worldCfm,
                 float worldErp, int32_t iterations, float overRelaxation, ScratchArena& scratch) {
    RigidBody* const* own = bodies + span.firstBody;
    const float part = h / static_cast<float>(parts);
    PartPositions positions;
    positions.exact = scratch.Take<double>(3 * static_cast<size_t>(span.bodyCount));
    StartParts(own, span.bodyCount, positions);
    bool stepped = true;
    for (int32_t k = 0; k < parts; ++k) {
        ScratchArena::Scope scope(scratch);
        RestoreOutsideForces(own, span.bodyCount, outside);
        IterativeIsland island;
        SetUpIsland(island, own, span.bodyCount, joints + span.firstJoint, span.jointCount, part, h,
                    worldCfm, worldErp, scratch);
        if (island.system.m > 0) {
            island.system.answered = StartSolve(island, false, part, scratch);
            SolveSOR(island.system, iterations, overRelaxation, scratch);
        }
        if (FinishIsland(island, part, iterations, overRelaxation, scratch)) {
            FinishPart(own, span.bodyCount, part, positions);
        } else {
            // The bodies kept their poses: the sum starts again where they are.
            StartParts(own, span.bodyCount, positions);
            stepped = false;
        }
    }
    return stepped;
}

} // namespace

bool StepIslandsIterative(RigidBody* const* bodies, Joint* const* joints, const IslandSpan* islands,
                          int32_t count, float h, float worldCfm, float worldErp,
                          int32_t iterations, float overRelaxation, ScratchArena& scratch,
                          SubstepBudget* budget) {
    ScratchArena::Scope scope(scratch);
    IterativeIsland* steps = scratch.Take<IterativeIsland>(count);
    SORSystem* systems = scratch.Take<SORSystem>(count);
    OutsideForces** outside = scratch.Take<OutsideForces*>(count);
    int solving = 0;
    for (int i = 0; i < count; ++i) {
        RigidBody* const* own = bodies + islands[i].firstBody;
        outside[i] = scratch.Take<OutsideForces>(islands[i].bodyCount);
        SaveOutsideForces(own, islands[i].bodyCount, outside[i]);
        IterativeIsland& island = *new (steps + i) IterativeIsland();
        SetUpIsland(island, own, islands[i].bodyCount, joints + islands[i].firstJoint,
                    islands[i].jointCount, h, h, worldCfm, worldErp, scratch);
        // The set-up moves no body and changes no velocity: its world inertias are the start's.
        island.startMotion = StartSpeeds(own, islands[i].bodyCount, island.inertia, scratch);
        if (island.system.m > 0 && island.substeps == 1) {
            island.system.answered = StartSolve(island, false, h, scratch);
            systems[solving++] = island.system;
        }
    }
    SolveSOR(systems, solving, iterations, overRelaxation, scratch);
    bool stepped = true;
    // Per island, whether it is stepped apart from the others, in parts (or whole, where it
    // asked for parts before its solve and the budget grants it none), and whether it was
    // granted fewer parts than it asked for.
    bool* apart = scratch.Take<bool>(count);
    bool* cut = scratch.Take<bool>(count);
    StartOfStep* start = scratch.Take<StartOfStep>(count);
    for (int i = 0; i < count; ++i) {
        IterativeIsland& island = steps[i];
        const bool solved = island.substeps == 1 && island.system.m > 0;
        // The step's own forces, as much as the last step's, tell whether it must be cut.
        if (solved && island.weighed) {
            island.substeps = CountSolvedSubsteps(island, h, scratch);
        }
        // What the island asked for: what it is granted depends on the other islands.
        RememberSubsteps(joints + islands[i].firstJoint, islands[i].jointCount, island.substeps);
        cut[i] = false;
        if (island.weighed) {
            SubstepBudget alone;
            if (!budget) {
                alone.PlanAlone(island.system.m);
            }
            const int32_t asked = island.substeps;
            island.substeps =
                (budget ? *budget : alone).Grant(asked, island.system.m, *island.bodies[0]);
            cut[i] = CutShort(island.substeps, asked);
            if (cut[i]) {
                new (start + i) StartOfStep();
                start[i].Take(island.nb, scratch);
                start[i].Record(island.bodies, island.nb);
            }
        }
        apart[i] = island.substeps > 1 || (!solved && island.system.m > 0);
        if (!apart[i]) {
            stepped = FinishIsland(island, h, iterations, overRelaxation, scratch) && stepped;
            if (cut[i]) {
                HoldEnergy(island.bodies, island.nb, start[i], outside[i], h);
            }
        }
    }
    // Islands whose joints ask for a finer step, one by one.
    for (int i = 0; i < count; ++i) {
        if (apart[i]) {
            stepped = StepInParts(islands[i], bodies, joints, steps[i].substeps, outside[i], h,
                                  worldCfm, worldErp, iterations, overRelaxation, scratch) &&
                      stepped;
            if (cut[i]) {
                HoldEnergy(steps[i].bodies, steps[i].nb, start[i], outside[i], h);
            }
        }
    }
    return stepped;
}

} // namespace quarn
