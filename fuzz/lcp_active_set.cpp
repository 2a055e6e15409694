// The exact step's active-set solve against its pivoting solve, on problems made from the bytes:
// a symmetric matrix held by a profile whose diagonal outweighs the rest of its row (positive
// definite, as every island's matrix is), bounds of every kind, friction rows, and a starting
// guess as the forces of a last step. The active sets may give up (the step then pivots), but
// an answer they give holds only finite numbers and, where the pivoting solve forced no step,
// is the pivoting solve's answer but for float rounding.
#include "physics/ActiveSetLCP.h"
#include "physics/LCPSolver.h"
#include "physics/MatrixKernels.h"
#include "physics/ProfileMatrix.h"
#include "physics/ScratchArena.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr int MaxRows = 40;
// As many as the exact step ever allows.
constexpr int32_t MaxSolves = 64;
// The pivoting solve works in float on a matrix of a condition up to a few hundred.
constexpr double Agreement = 1e-3;

// The bytes in order, zeros once they run out.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    int Next() { return at_ < size_ ? data_[at_++] : 0; }
    // In [-1, 1).
    float Unit() { return static_cast<float>(Next() - 128) / 128.0f; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using quarn::LCPInfinity;
    Bytes bytes(data, size);
    const int n = 1 + bytes.Next() % MaxRows;
    const int nub = bytes.Next() % (n + 1);
    std::vector<int32_t> first(n);
    std::vector<float> a(static_cast<size_t>(n) * n, 0.0f); // both triangles
    for (int i = 0; i < n; ++i) {
        first[i] = i - bytes.Next() % (i + 1);
        for (int j = first[i]; j < i; ++j) {
            a[i * n + j] = a[j * n + i] = bytes.Unit();
        }
    }
    for (int i = 0; i < n; ++i) {
        float others = 0.0f;
        for (int j = 0; j < n; ++j) {
            others += j == i ? 0.0f : std::fabs(a[i * n + j]);
        }
        a[i * n + i] = others + 0.1f + 0.01f * static_cast<float>(bytes.Next());
    }
    std::vector<float> b(n), lo(n), hi(n);
    std::vector<int> normalRows;
    for (int i = 0; i < n; ++i) {
        b[i] = 2.0f * bytes.Unit();
        const float c = 0.1f + static_cast<float>(bytes.Next()) / 128.0f;
        const float kinds[][2] = {{0.0f, LCPInfinity},  {-c, c},   {-LCPInfinity, LCPInfinity},
                                  {0.0f, c},            {-LCPInfinity, 0.0f},
                                  {-c, LCPInfinity},    {0.0f, 0.0f}};
        const int kind = i < nub ? 2 : bytes.Next() % 7;
        lo[i] = kinds[kind][0];
        hi[i] = kinds[kind][1];
        if (kind == 0) {
            normalRows.push_back(i);
        }
    }
    std::vector<int> findex;
    if (!normalRows.empty() && bytes.Next() % 2 == 1) {
        findex.assign(n, -1);
        for (int i = nub; i < n; ++i) {
            const bool normal = lo[i] == 0.0f && hi[i] == LCPInfinity;
            if (!normal && bytes.Next() % 2 == 1) {
                findex[i] = normalRows[static_cast<size_t>(bytes.Next()) % normalRows.size()];
                hi[i] = 0.1f + static_cast<float>(bytes.Next()) / 128.0f;
                lo[i] = -hi[i];
            }
        }
    }
    // The last step's forces: 0, at a bound, or anywhere.
    std::vector<double> start(n);
    for (int i = 0; i < n; ++i) {
        const int kind = bytes.Next() % 4;
        const float bound = kind == 1 ? lo[i] : hi[i];
        start[i] = kind == 0                                        ? 0.0
                   : (kind == 1 || kind == 2) && std::fabs(bound) < LCPInfinity ? bound
                                                                    : 3.0 * bytes.Unit();
    }

    quarn::ScratchArena scratch;
    const int nskip = quarn::MatrixStride(n);
    std::vector<float> padded(static_cast<size_t>(n) * nskip, 0.0f);
    for (int i = 0; i < n; ++i) {
        std::copy(a.begin() + i * n, a.begin() + (i + 1) * n, padded.begin() + i * nskip);
    }
    std::vector<float> pivoted(n), w(n), rhs = b, low = lo, high = hi;
    std::vector<int> frictionOf = findex;
    quarn::SolveLCP(n, padded.data(), pivoted.data(), rhs.data(), w.data(), nub, low.data(),
                    high.data(), frictionOf.empty() ? nullptr : frictionOf.data(), scratch);
    const bool pivotedCleanly = quarn::LCPStepFailures == 0;

    quarn::ScratchArena::Scope scope(scratch);
    quarn::ProfileMatrix matrix;
    quarn::TakeProfile(matrix, n, first.data(), scratch);
    for (int i = 0; i < n; ++i) {
        for (int j = first[i]; j <= i; ++j) {
            matrix.Row(i)[j] = a[i * n + j];
        }
    }
    std::vector<double> x = start;
    const std::vector<double> right(b.begin(), b.end());
    std::vector<int32_t> frictionRows(findex.begin(), findex.end());
    if (!quarn::SolveActiveSetLCP(matrix, x.data(), right.data(), lo.data(), hi.data(),
                                  frictionRows.empty() ? nullptr : frictionRows.data(), MaxSolves,
                                  scratch)) {
        return 0;
    }
    double largest = 0.0;
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(x[i])) {
            std::abort();
        }
        largest = std::max(largest, std::fabs(static_cast<double>(pivoted[i])));
    }
    if (!pivotedCleanly || !std::isfinite(largest)) {
        return 0;
    }
    for (int i = 0; i < n; ++i) {
        if (std::fabs(x[i] - pivoted[i]) > Agreement * (1.0 + largest)) {
            std::abort();
        }
    }
    return 0;
}
