#pragma once

// SSE2's four float lanes, the baseline of every x86-64 processor, for the loops written over a
// lane type (the textured span loop, the shader block runner). Every operation is the IEEE
// operation the scalar code does, lane by lane, so a loop gives the same bits on any width.
// Internal linkage: an AVX2 source may include a sibling of this header, and no function
// compiled for one width may stand in for the other's.

#include "gpu/GpuLayer.h"

#include <cmath>
#include <cstring>
#include <emmintrin.h>

namespace quarn {
namespace {

struct Sse2Lanes {
    using F = __m128;
    using I = __m128i;
    static constexpr int32_t Count = 4;

    static F Set(float v) { return _mm_set1_ps(v); }
    static F Zero() { return _mm_setzero_ps(); }
    static F LaneOffsets() { return _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f); }
    static F Load(const float* at) { return _mm_load_ps(at); }
    static void Store(float* at, F v) { _mm_store_ps(at, v); }
    static F Add(F a, F b) { return _mm_add_ps(a, b); }
    static F Sub(F a, F b) { return _mm_sub_ps(a, b); }
    static F Mul(F a, F b) { return _mm_mul_ps(a, b); }
    static F Div(F a, F b) { return _mm_div_ps(a, b); }
    static F Sqrt(F a) { return _mm_sqrt_ps(a); }
    // As minps and maxps: a NaN in either operand gives the second.
    static F Min(F a, F b) { return _mm_min_ps(a, b); }
    static F Max(F a, F b) { return _mm_max_ps(a, b); }
    static F And(F a, F b) { return _mm_and_ps(a, b); }
    static F Or(F a, F b) { return _mm_or_ps(a, b); }
    static F Xor(F a, F b) { return _mm_xor_ps(a, b); }
    static F AndNot(F a, F b) { return _mm_andnot_ps(a, b); }
    // mask ? a : b, lane by lane.
    static F Select(F mask, F a, F b) {
        return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
    }
    static F Less(F a, F b) { return _mm_cmplt_ps(a, b); }
    // a >= b, false where either is NaN.
    static F GreaterEqual(F a, F b) { return _mm_cmpge_ps(a, b); }
    // a != b, true where either is NaN.
    static F NotEqual(F a, F b) { return _mm_cmpneq_ps(a, b); }
    static int Mask(F a) { return _mm_movemask_ps(a); }
    // No rounding instruction before SSE4.1: the library's floor, lane by lane.
    static F Floor(F a) {
        alignas(16) float lanes[Count];
        _mm_store_ps(lanes, a);
        for (float& lane : lanes) {
            lane = std::floor(lane);
        }
        return _mm_load_ps(lanes);
    }
    // Lanes where "value func reference" holds, as the scalar PassesCompare decides.
    static F Passes(GpuCompare func, F value, F reference) {
        switch (func) {
        case GpuCompare::Never:
            return _mm_setzero_ps();
        case GpuCompare::Less:
            return _mm_cmplt_ps(value, reference);
        case GpuCompare::Equal:
            return _mm_cmpeq_ps(value, reference);
        case GpuCompare::LessEqual:
            return _mm_cmple_ps(value, reference);
        case GpuCompare::Greater:
            return _mm_cmpgt_ps(value, reference);
        case GpuCompare::NotEqual:
            return _mm_cmpneq_ps(value, reference);
        case GpuCompare::GreaterEqual:
            return _mm_cmpge_ps(value, reference);
        case GpuCompare::Always:
            break;
        }
        return _mm_castsi128_ps(_mm_set1_epi32(-1));
    }

    static I SetI(int32_t v) { return _mm_set1_epi32(v); }
    static I ZeroI() { return _mm_setzero_si128(); }
    static I LaneIndices() { return _mm_setr_epi32(0, 1, 2, 3); }
    static int32_t FirstLane(I a) { return _mm_cvtsi128_si32(a); }
    static I AddI(I a, I b) { return _mm_add_epi32(a, b); }
    static I AndI(I a, I b) { return _mm_and_si128(a, b); }
    static I OrI(I a, I b) { return _mm_or_si128(a, b); }
    static I AndNotI(I a, I b) { return _mm_andnot_si128(a, b); }
    static I GreaterI(I a, I b) { return _mm_cmpgt_epi32(a, b); }
    static I EqualI(I a, I b) { return _mm_cmpeq_epi32(a, b); }
    static bool AllTrue(I a) { return _mm_movemask_epi8(a) == 0xFFFF; }
    static bool AllZero(I a) {
        return _mm_movemask_epi8(_mm_cmpeq_epi32(a, _mm_setzero_si128())) == 0xFFFF;
    }
    static I ShiftLeft(I a, int n) { return _mm_slli_epi32(a, n); }
    static I ShiftRight(I a, int n) { return _mm_srli_epi32(a, n); }
    static I ShiftRightSigned(I a, int n) { return _mm_srai_epi32(a, n); }
    // a * b for factors in [0, 2^15).
    static I Multiply15(I a, I b) { return _mm_madd_epi16(a, b); }
    static I Truncate(F a) { return _mm_cvttps_epi32(a); }
    static F ToFloat(I a) { return _mm_cvtepi32_ps(a); }
    static I AsInt(F a) { return _mm_castps_si128(a); }
    static F AsFloat(I a) { return _mm_castsi128_ps(a); }

    static I Set16(int16_t v) { return _mm_set1_epi16(v); }
    static I Add16(I a, I b) { return _mm_add_epi16(a, b); }
    static I Sub16(I a, I b) { return _mm_sub_epi16(a, b); }
    static I Mul16(I a, I b) { return _mm_mullo_epi16(a, b); }
    static I ShiftRight16(I a, int n) { return _mm_srli_epi16(a, n); }
    static I Pack32To16(I a, I b) { return _mm_packs_epi32(a, b); }
    static I Pack16To8(I a, I b) { return _mm_packus_epi16(a, b); }
    static I UnpackLow16(I a, I b) { return _mm_unpacklo_epi16(a, b); }
    static I UnpackLow32(I a, I b) { return _mm_unpacklo_epi32(a, b); }
    static I UnpackHigh32(I a, I b) { return _mm_unpackhi_epi32(a, b); }
    static I BytesLow(I a) { return _mm_unpacklo_epi8(a, _mm_setzero_si128()); }
    static I BytesHigh(I a) { return _mm_unpackhi_epi8(a, _mm_setzero_si128()); }

    static void StoreLanes(int32_t* out, I a) { _mm_store_si128(reinterpret_cast<I*>(out), a); }
    static I LoadLanes(const int32_t* in) { return _mm_load_si128(reinterpret_cast<const I*>(in)); }

    static int32_t Load32(const uint8_t* at) {
        int32_t value = 0;
        std::memcpy(&value, at, 4);
        return value;
    }
    static I Gather(const uint8_t* texels, I index) {
        alignas(16) int32_t at[Count];
        StoreLanes(at, index);
        return _mm_setr_epi32(Load32(texels + static_cast<size_t>(at[0]) * 4),
                              Load32(texels + static_cast<size_t>(at[1]) * 4),
                              Load32(texels + static_cast<size_t>(at[2]) * 4),
                              Load32(texels + static_cast<size_t>(at[3]) * 4));
    }
    // Two neighbouring texels of a row in one load, split into lanes of the first and second.
    static void GatherPairs(const uint8_t* texels, I index, I& first, I& second) {
        alignas(16) int32_t at[Count];
        StoreLanes(at, index);
        I pairs[Count];
        for (int32_t k = 0; k < Count; ++k) {
            pairs[k] = _mm_loadl_epi64(
                reinterpret_cast<const I*>(texels + static_cast<size_t>(at[k]) * 4));
        }
        const I low = _mm_unpacklo_epi32(pairs[0], pairs[1]);
        const I high = _mm_unpacklo_epi32(pairs[2], pairs[3]);
        first = _mm_unpacklo_epi64(low, high);
        second = _mm_unpackhi_epi64(low, high);
    }

    // `count` pixels from `at`; the lanes past them are zero.
    static I LoadPixels(const uint8_t* at, int32_t count) {
        if (count == Count) {
            return _mm_loadu_si128(reinterpret_cast<const I*>(at));
        }
        alignas(16) int32_t lanes[Count] = {};
        std::memcpy(lanes, at, static_cast<size_t>(count) * 4);
        return LoadLanes(lanes);
    }
    // The lanes set in `mask` (visible's bits).
    static void StorePixels(uint8_t* at, I value, F /*visible*/, int mask) {
        if (mask == (1 << Count) - 1) {
            _mm_storeu_si128(reinterpret_cast<I*>(at), value);
            return;
        }
        alignas(16) int32_t lanes[Count];
        StoreLanes(lanes, value);
        for (int32_t k = 0; k < Count; ++k) {
            if ((mask >> k) & 1) {
                std::memcpy(at + k * 4, &lanes[k], 4);
            }
        }
    }
    static F LoadDepths(const float* at, int32_t count) {
        if (count == Count) {
            return _mm_loadu_ps(at);
        }
        alignas(16) float lanes[Count] = {};
        std::memcpy(lanes, at, static_cast<size_t>(count) * 4);
        return _mm_load_ps(lanes);
    }
    static void StoreDepths(float* at, F value, int32_t count) {
        if (count == Count) {
            _mm_storeu_ps(at, value);
            return;
        }
        alignas(16) float lanes[Count];
        _mm_store_ps(lanes, value);
        std::memcpy(at, lanes, static_cast<size_t>(count) * 4);
    }
};

} // namespace
} // namespace quarn
