#include "physics/MatrixKernels.h"

#include "core/debug/Assertion.h"
#include "physics/ScratchArena.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quarn {

int MatrixStride(int n) {
    return n <= 1 ? n : (n + 3) & ~3;
}

void SetZero(float* a, int n) {
    if (QUARN_CHECK_ARGUMENTS(a && n >= 0)) {
        std::fill(a, a + n, 0.0f);
    }
}

void SetValue(float* a, int n, float value) {
    if (QUARN_CHECK_ARGUMENTS(a && n >= 0)) {
        std::fill(a, a + n, value);
    }
}

void VectorScale(float* a, const float* d, int n) {
    if (!QUARN_CHECK_ARGUMENTS(a && d && n >= 0)) {
        return;
    }
    for (int i = 0; i < n; ++i) {
        a[i] *= d[i];
    }
}

float Dot(const float* a, const float* b, int n) {
    float sum = 0.0f;
    int k = 0;
    for (; k + 1 < n; k += 2) {
        sum = (sum + a[k] * b[k]) + a[k + 1] * b[k + 1];
    }
    if (k < n) {
        sum += a[k] * b[k];
    }
    return sum;
}

void FactorLDLT(float* A, float* d, int n, int nskip) {
    int i = 0;
    // Rows in pairs: the pair's own 2x2 block is finished from three running sums.
    for (; i + 1 < n; i += 2) {
        float* row1 = A + i * nskip;
        float* row2 = row1 + nskip;
        // The entries left of the diagonal become L(0..i-1, 0..i-1)^-1 times themselves.
        SolveL1(A, row1, i, nskip);
        SolveL1(A, row2, i, nskip);
        float z11 = 0.0f;
        float z21 = 0.0f;
        float z22 = 0.0f;
        for (int j = 0; j < i; ++j) {
            const float u1 = row1[j];
            const float u2 = row2[j];
            const float q1 = u1 * d[j];
            const float q2 = u2 * d[j];
            row1[j] = q1;
            row2[j] = q2;
            z11 += u1 * q1;
            z21 += u2 * q1;
            z22 += u2 * q2;
        }
        z11 = row1[i] - z11;
        z21 = row2[i] - z21;
        z22 = row2[i + 1] - z22;
        d[i] = 1.0f / z11;
        // L(i+1, i) takes the place of A(i+1, i), which z21 has already read.
        row2[i] = z21 * d[i];
        d[i + 1] = 1.0f / (z22 - z21 * row2[i]);
    }
    if (i < n) {
        float* row = A + i * nskip;
        SolveL1(A, row, i, nskip);
        float z11 = 0.0f;
        for (int j = 0; j < i; ++j) {
            const float u = row[j];
            const float q = u * d[j];
            row[j] = q;
            z11 += u * q;
        }
        d[i] = 1.0f / (row[i] - z11);
    }
}

void SolveL1(const float* L, float* b, int n, int nskip) {
    // Four rows at a time: their sums over the solved entries run side by side, each still in
    // the order of its row, then the block's own triangle finishes them.
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const float* l0 = L + i * nskip;
        const float* l1 = l0 + nskip;
        const float* l2 = l1 + nskip;
        const float* l3 = l2 + nskip;
        float s0 = 0.0f;
        float s1 = 0.0f;
        float s2 = 0.0f;
        float s3 = 0.0f;
        for (int j = 0; j < i; ++j) {
            const float x = b[j];
            s0 += l0[j] * x;
            s1 += l1[j] * x;
            s2 += l2[j] * x;
            s3 += l3[j] * x;
        }
        b[i] -= s0;
        s1 += l1[i] * b[i];
        b[i + 1] -= s1;
        s2 += l2[i] * b[i];
        s2 += l2[i + 1] * b[i + 1];
        b[i + 2] -= s2;
        s3 += l3[i] * b[i];
        s3 += l3[i + 1] * b[i + 1];
        s3 += l3[i + 2] * b[i + 2];
        b[i + 3] -= s3;
    }
    for (; i < n; ++i) {
        const float* li = L + i * nskip;
        float sum = 0.0f;
        for (int j = 0; j < i; ++j) {
            sum += li[j] * b[j];
        }
        b[i] -= sum;
    }
}

void SolveL1T(const float* L, float* b, int n, int nskip) {
    // Four rows at a time from the bottom: x_i = b_i - sum over j > i of L(j, i) x_j, the four
    // sums side by side over the rows of L below the block, which hold the block's four columns
    // next to each other; then the block's own triangle finishes them.
    int i = n - 1;
    for (; i >= 3; i -= 4) {
        float s0 = 0.0f;
        float s1 = 0.0f;
        float s2 = 0.0f;
        float s3 = 0.0f;
        for (int j = i + 1; j < n; ++j) {
            const float* lj = L + j * nskip + i - 3;
            const float x = b[j];
            s0 += lj[3] * x;
            s1 += lj[2] * x;
            s2 += lj[1] * x;
            s3 += lj[0] * x;
        }
        const float* l0 = L + i * nskip;
        const float* l1 = l0 - nskip;
        const float* l2 = l1 - nskip;
        b[i] -= s0;
        s1 += l0[i - 1] * b[i];
        b[i - 1] -= s1;
        s2 += l0[i - 2] * b[i];
        s2 += l1[i - 2] * b[i - 1];
        b[i - 2] -= s2;
        s3 += l0[i - 3] * b[i];
        s3 += l1[i - 3] * b[i - 1];
        s3 += l2[i - 3] * b[i - 2];
        b[i - 3] -= s3;
    }
    for (; i >= 0; --i) {
        float sum = 0.0f;
        for (int j = i + 1; j < n; ++j) {
            sum += L[j * nskip + i] * b[j];
        }
        b[i] -= sum;
    }
}

void SolveLDLT(const float* L, const float* d, float* b, int n, int nskip) {
    if (!QUARN_CHECK_ARGUMENTS(L && d && b && n >= 1 && nskip >= n)) {
        return;
    }
    SolveL1(L, b, n, nskip);
    VectorScale(b, d, n);
    SolveL1T(L, b, n, nskip);
}

void LDLTAddTopLeft(float* L, float* d, const float* a, int n, int nskip, ScratchArena& scratch) {
    if (!QUARN_CHECK_ARGUMENTS(L && d && a && n >= 1 && nskip >= n) || n < 2) {
        return;
    }
    ScratchArena::Scope scope(scratch);
    float* W1 = scratch.Take<float>(n);
    float* W2 = scratch.Take<float>(n);

    // The change is split into a positive and a negative rank-1 update, W1 W1^T - W2 W2^T, with
    // W1 = (W11, a s / g) and W2 = (W21, a s / g). Each half must be of the size of the change,
    // g about the square root of its largest entry (a power of two, so the split rounds
    // nothing): with g = 1 the halves grow as a^2, and for the matrix of bodies of a gram
    // (entries near 1e6) they would swamp it and leave no digit of the update.
    float largest = 0.0f;
    for (int j = 0; j < n; ++j) {
        largest = std::max(largest, std::fabs(a[j]));
    }
    int exponent = 0;
    std::frexp(largest, &exponent);
    const float g =
        largest > 0.0f && std::isfinite(largest) ? std::ldexp(1.0f, exponent / 2) : 1.0f;
    const float s = 0.70710677f;
    W1[0] = 0.0f;
    W2[0] = 0.0f;
    for (int j = 1; j < n; ++j) {
        W1[j] = W2[j] = a[j] / g * s;
    }
    const float W11 = (0.5f * a[0] / g + g) * s;
    const float W21 = (0.5f * a[0] / g - g) * s;
    float alpha1 = 1.0f;
    float alpha2 = 1.0f;

    // Column 0 only feeds the updates; its own entries are about to be removed.
    {
        float dee = d[0];
        const float alphaNew1 = alpha1 + W11 * W11 * dee;
        dee /= alphaNew1;
        const float gamma1 = W11 * dee;
        dee *= alpha1;
        alpha1 = alphaNew1;
        alpha2 = alpha2 - W21 * W21 * dee;
        const float k1 = 1.0f - W21 * gamma1;
        const float k2 = W21 * gamma1 * W11 - W21;
        for (int p = 1; p < n; ++p) {
            const float ell = L[p * nskip];
            const float Wp = W1[p];
            W1[p] = Wp - W11 * ell;
            W2[p] = k1 * Wp + k2 * ell;
        }
    }

    for (int j = 1; j < n; ++j) {
        const float k1 = W1[j];
        const float k2 = W2[j];
        float dee = d[j];
        const float alphaNew1 = alpha1 + k1 * k1 * dee;
        dee /= alphaNew1;
        const float gamma1 = k1 * dee;
        dee *= alpha1;
        alpha1 = alphaNew1;
        const float alphaNew2 = alpha2 - k2 * k2 * dee;
        dee /= alphaNew2;
        const float gamma2 = k2 * dee;
        dee *= alpha2;
        d[j] = dee;
        alpha2 = alphaNew2;
        for (int p = j + 1; p < n; ++p) {
            float* lpj = L + p * nskip + j;
            float ell = *lpj;
            float Wp = W1[p] - k1 * ell;
            ell += gamma1 * Wp;
            W1[p] = Wp;
            Wp = W2[p] - k2 * ell;
            ell -= gamma2 * Wp;
            W2[p] = Wp;
            *lpj = ell;
        }
    }
}

void RemoveRowCol(float* A, int n, int nskip, int r) {
    if (!QUARN_CHECK_ARGUMENTS(A && n >= 1 && nskip >= n && r >= 0 && r < n) || r >= n - 1) {
        return;
    }
    const size_t tail = static_cast<size_t>(n - 1 - r) * sizeof(float);
    if (r > 0) {
        for (int i = 0; i < r; ++i) {
            std::memmove(A + i * nskip + r, A + i * nskip + r + 1, tail);
        }
        for (int i = r; i < n - 1; ++i) {
            std::memcpy(A + i * nskip, A + (i + 1) * nskip, static_cast<size_t>(r) * sizeof(float));
        }
    }
    for (int i = r; i < n - 1; ++i) {
        std::memcpy(A + i * nskip + r, A + (i + 1) * nskip + r + 1, tail);
    }
}

void LDLTRemove(float** A, const int* p, float* L, float* d, int n1, int n2, int r, int nskip,
                ScratchArena& scratch) {
    if (!QUARN_CHECK_ARGUMENTS(A && p && L && d && n1 > 0 && n2 > 0 && r >= 0 && r < n2 &&
                               n1 >= n2 && nskip >= n1)) {
        return;
    }
    bool rowsInRange = true;
    for (int i = 0; i < n2; ++i) {
        rowsInRange &= QUARN_CHECK_ASSERTION(p[i] >= 0 && p[i] < n1, "p[i] >= 0 && p[i] < n1");
    }
    if (!rowsInRange || r == n2 - 1) {
        // The last row leaves nothing behind it to update.
        return;
    }
    // A's lower triangle holds both halves of the symmetric matrix.
    auto element = [A](int i, int j) { return i >= j ? A[i][j] : A[j][i]; };

    ScratchArena::Scope scope(scratch);
    // The update clears row and column r but for their diagonal, which keeps its pivot; the
    // factor row is then cut out without disturbing the rest. (A pivot of 1 instead, as of the
    // identity, is far from a matrix of entries near 1e6, the rows of bodies of a gram, and the
    // update then cancels every digit.)
    float* a = scratch.Take<float>(n2 - r);
    if (r == 0) {
        for (int i = 0; i < n2; ++i) {
            a[i] = -element(p[i], p[0]);
        }
        a[0] = 0.0f;
        LDLTAddTopLeft(L, d, a, n2, nskip, scratch);
    } else {
        float* t = scratch.Take<float>(r);
        const float* lr = L + r * nskip;
        for (int i = 0; i < r; ++i) {
            t[i] = lr[i] / d[i];
        }
        for (int i = 0; i < n2 - r; ++i) {
            a[i] = Dot(L + (r + i) * nskip, t, r) - element(p[r + i], p[r]);
        }
        a[0] = 0.0f;
        LDLTAddTopLeft(L + r * nskip + r, d + r, a, n2 - r, nskip, scratch);
    }
    RemoveRowCol(L, n2, nskip, r);
    std::memmove(d + r, d + r + 1, static_cast<size_t>(n2 - 1 - r) * sizeof(float));
}

} // namespace quarn
