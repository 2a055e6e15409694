#pragma once

// AVX2's eight float lanes, the sibling of Sse2Lanes.h with the same operations. Included only
// by the sources built for AVX2, which run only where the processor has it (WideLanes).

#include "gpu/GpuLayer.h"

#include <immintrin.h>

namespace quarn {
namespace {

struct Avx2Lanes {
    using F = __m256;
    using I = __m256i;
    static constexpr int32_t Count = 8;

    static F Set(float v) { return _mm256_set1_ps(v); }
    static F Zero() { return _mm256_setzero_ps(); }
    static F LaneOffsets() { return _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7); }
    static F Load(const float* at) { return _mm256_load_ps(at); }
    static void Store(float* at, F v) { _mm256_store_ps(at, v); }
    static F Add(F a, F b) { return _mm256_add_ps(a, b); }
    static F Sub(F a, F b) { return _mm256_sub_ps(a, b); }
    static F Mul(F a, F b) { return _mm256_mul_ps(a, b); }
    static F Div(F a, F b) { return _mm256_div_ps(a, b); }
    static F Sqrt(F a) { return _mm256_sqrt_ps(a); }
    // As SSE's minps and maxps: a NaN in either operand gives the second.
    static F Min(F a, F b) { return _mm256_min_ps(a, b); }
    static F Max(F a, F b) { return _mm256_max_ps(a, b); }
    static F And(F a, F b) { return _mm256_and_ps(a, b); }
    static F Or(F a, F b) { return _mm256_or_ps(a, b); }
    static F Xor(F a, F b) { return _mm256_xor_ps(a, b); }
    static F AndNot(F a, F b) { return _mm256_andnot_ps(a, b); }
    // mask ? a : b, lane by lane.
    static F Select(F mask, F a, F b) { return _mm256_blendv_ps(b, a, mask); }
    static F Less(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
    static F GreaterEqual(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GE_OQ); }
    static F NotEqual(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_NEQ_UQ); }
    static int Mask(F a) { return _mm256_movemask_ps(a); }
    static F Floor(F a) { return _mm256_floor_ps(a); }
    // The predicates of SSE's compares: ordered, except not-equal, which holds for a NaN.
    static F Passes(GpuCompare func, F value, F reference) {
        switch (func) {
        case GpuCompare::Never:
            return _mm256_setzero_ps();
        case GpuCompare::Less:
            return _mm256_cmp_ps(value, reference, _CMP_LT_OQ);
        case GpuCompare::Equal:
            return _mm256_cmp_ps(value, reference, _CMP_EQ_OQ);
        case GpuCompare::LessEqual:
            return _mm256_cmp_ps(value, reference, _CMP_LE_OQ);
        case GpuCompare::Greater:
            return _mm256_cmp_ps(value, reference, _CMP_GT_OQ);
        case GpuCompare::NotEqual:
            return _mm256_cmp_ps(value, reference, _CMP_NEQ_UQ);
        case GpuCompare::GreaterEqual:
            return _mm256_cmp_ps(value, reference, _CMP_GE_OQ);
        case GpuCompare::Always:
            break;
        }
        return _mm256_castsi256_ps(_mm256_set1_epi32(-1));
    }

    static I SetI(int32_t v) { return _mm256_set1_epi32(v); }
    static I ZeroI() { return _mm256_setzero_si256(); }
    static I LaneIndices() { return _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7); }
    static int32_t FirstLane(I a) { return _mm_cvtsi128_si32(_mm256_castsi256_si128(a)); }
    static I AddI(I a, I b) { return _mm256_add_epi32(a, b); }
    static I AndI(I a, I b) { return _mm256_and_si256(a, b); }
    static I OrI(I a, I b) { return _mm256_or_si256(a, b); }
    static I AndNotI(I a, I b) { return _mm256_andnot_si256(a, b); }
    static I GreaterI(I a, I b) { return _mm256_cmpgt_epi32(a, b); }
    static I EqualI(I a, I b) { return _mm256_cmpeq_epi32(a, b); }
    static bool AllTrue(I a) { return _mm256_movemask_epi8(a) == -1; }
    static bool AllZero(I a) { return _mm256_testz_si256(a, a) != 0; }
    static I ShiftLeft(I a, int n) { return _mm256_slli_epi32(a, n); }
    static I ShiftRight(I a, int n) { return _mm256_srli_epi32(a, n); }
    static I ShiftRightSigned(I a, int n) { return _mm256_srai_epi32(a, n); }
    // a * b for factors in [0, 2^15).
    static I Multiply15(I a, I b) { return _mm256_madd_epi16(a, b); }
    static I Truncate(F a) { return _mm256_cvttps_epi32(a); }
    static F ToFloat(I a) { return _mm256_cvtepi32_ps(a); }
    static I AsInt(F a) { return _mm256_castps_si256(a); }
    static F AsFloat(I a) { return _mm256_castsi256_ps(a); }

    // The 16-bit and byte operations work in each 128-bit half, as the bilinear filter expects.
    static I Set16(int16_t v) { return _mm256_set1_epi16(v); }
    static I Add16(I a, I b) { return _mm256_add_epi16(a, b); }
    static I Sub16(I a, I b) { return _mm256_sub_epi16(a, b); }
    static I Mul16(I a, I b) { return _mm256_mullo_epi16(a, b); }
    static I ShiftRight16(I a, int n) { return _mm256_srli_epi16(a, n); }
    static I Pack32To16(I a, I b) { return _mm256_packs_epi32(a, b); }
    static I Pack16To8(I a, I b) { return _mm256_packus_epi16(a, b); }
    static I UnpackLow16(I a, I b) { return _mm256_unpacklo_epi16(a, b); }
    static I UnpackLow32(I a, I b) { return _mm256_unpacklo_epi32(a, b); }
    static I UnpackHigh32(I a, I b) { return _mm256_unpackhi_epi32(a, b); }
    static I BytesLow(I a) { return _mm256_unpacklo_epi8(a, _mm256_setzero_si256()); }
    static I BytesHigh(I a) { return _mm256_unpackhi_epi8(a, _mm256_setzero_si256()); }

    static void StoreLanes(int32_t* out, I a) { _mm256_store_si256(reinterpret_cast<I*>(out), a); }
    static I LoadLanes(const int32_t* in) {
        return _mm256_load_si256(reinterpret_cast<const I*>(in));
    }

    // Eight loads rather than a gather instruction, which is the slower on the processors we
    // measure.
    static I Gather(const uint8_t* texels, I index) {
        alignas(32) int32_t at[Count];
        StoreLanes(at, index);
        auto load = [&](int k) {
            int32_t value;
            __builtin_memcpy(&value, texels + static_cast<size_t>(at[k]) * 4, 4);
            return value;
        };
        return _mm256_setr_epi32(load(0), load(1), load(2), load(3), load(4), load(5), load(6),
                                 load(7));
    }
    // Two neighbouring texels of a row in one 64-bit load, split into lanes of the first and
    // second.
    static void GatherPairs(const uint8_t* texels, I index, I& first, I& second) {
        const auto* base = reinterpret_cast<const long long*>(texels);
        // Each 64-bit lane holds a pixel's (first, second); sort them into four firsts and four
        // seconds per gather, then join the two gathers' halves.
        auto split = [](I pairs) {
            return _mm256_permute4x64_epi64(_mm256_shuffle_epi32(pairs, 0xD8), 0xD8);
        };
        const I low = split(_mm256_i32gather_epi64(base, _mm256_castsi256_si128(index), 4));
        const I high = split(_mm256_i32gather_epi64(base, _mm256_extracti128_si256(index, 1), 4));
        first = _mm256_permute2x128_si256(low, high, 0x20);
        second = _mm256_permute2x128_si256(low, high, 0x31);
    }

    static I FirstLanes(int32_t count) { return GreaterI(SetI(count), LaneIndices()); }
    // `count` pixels from `at`; the lanes past them are zero and their memory is not read.
    static I LoadPixels(const uint8_t* at, int32_t count) {
        if (count == Count) {
            return _mm256_loadu_si256(reinterpret_cast<const I*>(at));
        }
        return _mm256_maskload_epi32(reinterpret_cast<const int*>(at), FirstLanes(count));
    }
    static void StorePixels(uint8_t* at, I value, F visible, int mask) {
        if (mask == (1 << Count) - 1) {
            _mm256_storeu_si256(reinterpret_cast<I*>(at), value);
            return;
        }
        _mm256_maskstore_epi32(reinterpret_cast<int*>(at), AsInt(visible), value);
    }
    static F LoadDepths(const float* at, int32_t count) {
        if (count == Count) {
            return _mm256_loadu_ps(at);
        }
        return _mm256_maskload_ps(at, FirstLanes(count));
    }
    static void StoreDepths(float* at, F value, int32_t count) {
        if (count == Count) {
            _mm256_storeu_ps(at, value);
            return;
        }
        _mm256_maskstore_ps(at, FirstLanes(count), value);
    }
};

} // namespace
} // namespace quarn
