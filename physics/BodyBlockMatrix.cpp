#include "physics/BodyBlockMatrix.h"

#include "physics/ScratchArena.h"

#include <algorithm>

namespace quarn {

void BodyBlockMatrix::Shape(int32_t count, const int32_t* reach, ScratchArena& scratch) {
    int32_t* first = scratch.Take<int32_t>(static_cast<size_t>(std::max(6 * count, 1)));
    for (int32_t p = 0; p < count; ++p) {
        std::fill(first + 6 * p, first + 6 * p + 6, 6 * reach[p]);
    }
    TakeProfile(matrix_, 6 * count, first, scratch);
}

void BodyBlockMatrix::Clear() {
    std::fill(matrix_.values, matrix_.values + matrix_.Size(), 0.0);
}

void BodyBlockMatrix::AddBody(int32_t place, float mass, const Matrix3& inertia) {
    const int32_t at = 6 * place;
    for (int32_t k = 0; k < 3; ++k) {
        matrix_.Row(at + k)[at + k] += mass;
        double* row = matrix_.Row(at + 3 + k);
        for (int32_t j = 0; j <= k; ++j) {
            row[at + 3 + j] += inertia.m[k][j];
        }
    }
}

namespace {

void Load(const BodyBlockMatrix::Side& side, double* out) {
    for (int k = 0; k < 3; ++k) {
        out[k] = side.linear[k];
        out[3 + k] = side.angular[k];
    }
}

} // namespace

void BodyBlockMatrix::AddRow(const Side& first, const Side& second, double weight) {
    double a[6];
    double b[6];
    const bool hasFirst = first.place >= 0;
    const bool hasSecond = second.place >= 0;
    if (hasFirst) {
        Load(first, a);
    }
    if (hasSecond) {
        Load(second, b);
    }
    const auto addOwn = [this, weight](int32_t place, const double* j) {
        const int32_t at = 6 * place;
        for (int32_t i = 0; i < 6; ++i) {
            double* row = matrix_.Row(at + i) + at;
            const double wi = weight * j[i];
            for (int32_t k = 0; k <= i; ++k) {
                row[k] += wi * j[k];
            }
        }
    };
    if (hasFirst) {
        addOwn(first.place, a);
    }
    if (hasSecond) {
        addOwn(second.place, b);
    }
    if (hasFirst && hasSecond && first.place != second.place) {
        // The later place's rows hold the block.
        const bool firstLater = first.place > second.place;
        const double* later = firstLater ? a : b;
        const double* earlier = firstLater ? b : a;
        const int32_t row0 = 6 * (firstLater ? first.place : second.place);
        const int32_t column0 = 6 * (firstLater ? second.place : first.place);
        for (int32_t i = 0; i < 6; ++i) {
            double* row = matrix_.Row(row0 + i) + column0;
            const double wi = weight * later[i];
            for (int32_t k = 0; k < 6; ++k) {
                row[k] += wi * earlier[k];
            }
        }
    }
}

bool BodyBlockMatrix::Factor() {
    return FactorProfileLDLT(matrix_);
}

bool BodyBlockMatrix::Update(const Side& first, const Side& second, double weight, double* room) {
    // Gill, Golub, Murray and Saunders' method C1, row by row: row r takes the changes of the
    // columns before it in order, then its pivot changes. Rows before the row's first body
    // keep their values.
    const int32_t n = matrix_.n;
    double* z = room;
    double* p = room + n;
    double* beta = room + 2 * n;
    int32_t from = n;
    for (const Side* side : {&first, &second}) {
        if (side->place >= 0) {
            from = std::min(from, 6 * side->place);
        }
    }
    if (from == n) {
        return true;
    }
    std::fill(z + from, z + n, 0.0);
    for (const Side* side : {&first, &second}) {
        if (side->place >= 0) {
            double values[6];
            Load(*side, values);
            for (int32_t k = 0; k < 6; ++k) {
                z[6 * side->place + k] += values[k];
            }
        }
    }
    double sigma = weight;
    for (int32_t r = from; r < n; ++r) {
        double* row = matrix_.Row(r);
        double zr = z[r];
        for (int32_t j = std::max(matrix_.first[r], from); j < r; ++j) {
            zr -= p[j] * row[j];
            row[j] += beta[j] * zr;
        }
        const double pivot = row[r];
        const double changed = pivot + sigma * zr * zr;
        if (!(changed > 0.0) || !std::isfinite(changed)) {
            return false;
        }
        p[r] = zr;
        beta[r] = sigma * zr / changed;
        sigma *= pivot / changed;
        row[r] = changed;
    }
    return true;
}

void BodyBlockMatrix::Solve(double* y) const {
    SolveProfileLDLT(matrix_, y);
}

namespace {

// Visits the bodies breadth first from `from`, marking them with `mark`; answers the last one
// reached, the farthest from it.
int32_t Reach(const int32_t* begin, const int32_t* neighbours, int32_t from, int32_t* marks,
              int32_t mark, int32_t* queue, int32_t* rank, int32_t& ranked) {
    int32_t head = 0;
    int32_t tail = 0;
    queue[tail++] = from;
    marks[from] = mark;
    while (head < tail) {
        const int32_t b = queue[head++];
        if (rank) {
            rank[b] = ranked++;
        }
        for (int32_t k = begin[b]; k < begin[b + 1]; ++k) {
            const int32_t other = neighbours[k];
            if (marks[other] != mark) {
                marks[other] = mark;
                queue[tail++] = other;
            }
        }
    }
    return queue[tail - 1];
}

} // namespace

void RankLinkedBodies(int32_t bodies, const int32_t* links, int32_t linkCount, int32_t* rank,
                      ScratchArena& scratch) {
    ScratchArena::Scope scope(scratch);
    // Each body's neighbours, by index.
    int32_t* begin = scratch.Take<int32_t>(static_cast<size_t>(bodies) + 1);
    std::fill(begin, begin + bodies + 1, 0);
    for (int32_t e = 0; e < linkCount; ++e) {
        ++begin[links[2 * e] + 1];
        ++begin[links[2 * e + 1] + 1];
    }
    for (int32_t b = 0; b < bodies; ++b) {
        begin[b + 1] += begin[b];
    }
    int32_t* neighbours = scratch.Take<int32_t>(static_cast<size_t>(std::max(begin[bodies], 1)));
    int32_t* fill = scratch.Take<int32_t>(static_cast<size_t>(std::max(bodies, 1)));
    std::copy(begin, begin + bodies, fill);
    for (int32_t e = 0; e < linkCount; ++e) {
        const int32_t a = links[2 * e];
        const int32_t b = links[2 * e + 1];
        neighbours[fill[a]++] = b;
        neighbours[fill[b]++] = a;
    }
    int32_t* marks = scratch.Take<int32_t>(static_cast<size_t>(std::max(bodies, 1)));
    int32_t* queue = scratch.Take<int32_t>(static_cast<size_t>(std::max(bodies, 1)));
    std::fill(marks, marks + bodies, -1);
    int32_t ranked = 0;
    for (int32_t b = 0; b < bodies; ++b) {
        if (marks[b] < 0) {
            const int32_t end = Reach(begin, neighbours, b, marks, 2 * b, queue, nullptr, ranked);
            Reach(begin, neighbours, end, marks, 2 * b + 1, queue, rank, ranked);
        }
    }
}

} // namespace quarn
