#include "gpu/software/TexturedSpan.h"

#include <algorithm>
#include <cstring>
#include <emmintrin.h>

namespace quarn {

namespace {

// SSE2 is the baseline of every x86-64 processor; four pixels per step, one per lane.
constexpr int32_t Lanes = 4;

__m128 Clamp01(__m128 v) {
    // max first: a NaN lane takes max's second operand, 0, as the scalar clamp gives.
    return _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(1.0f));
}

__m128i ToByte(__m128 v) {
    return _mm_cvttps_epi32(
        _mm_add_ps(_mm_mul_ps(Clamp01(v), _mm_set1_ps(255.0f)), _mm_set1_ps(0.5f)));
}

// std::clamp(z, 0, 1), which keeps a NaN.
__m128 ClampDepth(__m128 z) {
    const __m128 zero = _mm_setzero_ps();
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 below = _mm_cmplt_ps(z, zero);
    const __m128 above = _mm_cmplt_ps(one, z);
    const __m128 upper = _mm_or_ps(_mm_and_ps(above, one), _mm_andnot_ps(above, z));
    return _mm_andnot_ps(below, upper);
}

// Lanes where "value func reference" holds, as the scalar PassesCompare decides.
__m128 Passes(GpuCompare func, __m128 value, __m128 reference) {
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

// floor(t * 256) per lane, clamped as ToFixedTexel does.
__m128i ToFixedTexel(__m128 t) {
    constexpr float Limit = TexelCoordinateLimit * TexelOne;
    __m128 scaled = _mm_mul_ps(t, _mm_set1_ps(static_cast<float>(TexelOne)));
    scaled = _mm_min_ps(_mm_max_ps(scaled, _mm_set1_ps(-Limit)), _mm_set1_ps(Limit));
    const __m128i truncated = _mm_cvttps_epi32(scaled);
    // Truncation rounds negative fractions up; step those down by one.
    const __m128 above = _mm_cmpgt_ps(_mm_cvtepi32_ps(truncated), scaled);
    return _mm_add_epi32(truncated, _mm_castps_si128(above));
}

__m128 Channel(__m128i argb, int shift) {
    const __m128i bytes = _mm_and_si128(_mm_srli_epi32(argb, shift), _mm_set1_epi32(0xFF));
    return _mm_mul_ps(_mm_cvtepi32_ps(bytes), _mm_set1_ps(ByteScale));
}

// Per-pixel weights in 16-bit lanes for two pixels' four channels: {w0 x4, w1 x4}, {w2 x4, w3 x4}.
void SpreadWeights(__m128i weights, __m128i& low, __m128i& high) {
    const __m128i packed = _mm_packs_epi32(weights, weights);
    const __m128i pairs = _mm_unpacklo_epi16(packed, packed);
    low = _mm_unpacklo_epi32(pairs, pairs);
    high = _mm_unpackhi_epi32(pairs, pairs);
}

// (a (256 - t) + b t + 128) >> 8 on 16-bit lanes, as BilinearArgb does per channel.
__m128i Lerp16(__m128i a, __m128i b, __m128i t) {
    const __m128i inverse = _mm_sub_epi16(_mm_set1_epi16(TexelOne), t);
    const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(a, inverse), _mm_mullo_epi16(b, t));
    return _mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(TexelOne / 2)), TexelFractionBits);
}

// Forced inline: too large for the compiler to inline by itself, too hot for a call.
[[gnu::always_inline]] inline __m128i Bilinear(__m128i c00, __m128i c10, __m128i c01, __m128i c11,
                                               __m128i ax, __m128i ay) {
    const __m128i zero = _mm_setzero_si128();
    __m128i axLow, axHigh, ayLow, ayHigh;
    SpreadWeights(ax, axLow, axHigh);
    SpreadWeights(ay, ayLow, ayHigh);
    auto half = [&](auto unpack, __m128i wx, __m128i wy) {
        const __m128i top = Lerp16(unpack(c00, zero), unpack(c10, zero), wx);
        const __m128i bottom = Lerp16(unpack(c01, zero), unpack(c11, zero), wx);
        return Lerp16(top, bottom, wy);
    };
    const __m128i low =
        half([](__m128i a, __m128i b) { return _mm_unpacklo_epi8(a, b); }, axLow, ayLow);
    const __m128i high =
        half([](__m128i a, __m128i b) { return _mm_unpackhi_epi8(a, b); }, axHigh, ayHigh);
    return _mm_packus_epi16(low, high);
}

// Texel addressing along one axis, four lanes at a time: a power-of-two wrap is a mask (which
// gives what the modulo does) and a clamp a max and min; other wraps take the modulo per lane.
struct Axis {
    int32_t size;
    bool wrap;
    bool lanewise;
    __m128i mask;
    __m128i last;

    Axis(int32_t s, bool w)
        : size(s), wrap(w), lanewise(!w || (s & (s - 1)) == 0), mask(_mm_set1_epi32(s - 1)),
          last(_mm_set1_epi32(s - 1)) {}

    __m128i operator()(__m128i i) const {
        if (!lanewise) {
            alignas(16) int32_t lanes[Lanes];
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes), i);
            return _mm_setr_epi32(
                AddressTexel(lanes[0], size, wrap), AddressTexel(lanes[1], size, wrap),
                AddressTexel(lanes[2], size, wrap), AddressTexel(lanes[3], size, wrap));
        }
        if (wrap) {
            return _mm_and_si128(i, mask);
        }
        i = _mm_and_si128(i, _mm_cmpgt_epi32(i, _mm_setzero_si128()));
        const __m128i over = _mm_cmpgt_epi32(i, last);
        return _mm_or_si128(_mm_and_si128(over, last), _mm_andnot_si128(over, i));
    }
};

template <bool Linear, bool Blend>
void SpanLoop(const TexturedSpanSetup& s, const TexturedSpan& span) {
    const Axis addressU(s.width, s.wrapU);
    const Axis addressV(s.height, s.wrapV);
    // Texel rows in texels; a 16-bit multiply takes them while both factors stay below 2^15.
    const __m128i pitch = _mm_set1_epi32(static_cast<int>(s.pitch / 4));
    const __m128i alphaFill = _mm_set1_epi32(static_cast<int>(s.alphaFill));
    const __m128 textureWidth = _mm_set1_ps(static_cast<float>(s.width));
    const __m128 textureHeight = _mm_set1_ps(static_cast<float>(s.height));
    const __m128 laneOffsets = _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 half = _mm_set1_ps(0.5f);
    const bool needsDiffuse = s.color != SpanSource::Texture || s.alpha != SpanSource::Texture;
    const __m128 alphaRef = _mm_set1_ps(static_cast<float>(s.alphaRef));

    uint8_t* row = s.target + static_cast<size_t>(span.y) * s.targetPitch;
    float* depthRow =
        s.depth != nullptr ? s.depth + static_cast<size_t>(span.y) * s.depthWidth : nullptr;
    auto at = [](const SpanValue& value, __m128 x) {
        return _mm_add_ps(_mm_set1_ps(value.row), _mm_mul_ps(_mm_set1_ps(value.dx), x));
    };
    auto load = [&](int32_t index) {
        uint32_t argb = 0;
        std::memcpy(&argb, s.texels + static_cast<size_t>(index) * 4, 4);
        return static_cast<int>(argb);
    };
    auto gather = [&](const int32_t* index) {
        return _mm_setr_epi32(load(index[0]), load(index[1]), load(index[2]), load(index[3]));
    };
    // Two neighbouring texels of a row in one load, split into lanes of the first and second.
    auto gatherPairs = [&](const int32_t* index, __m128i& first, __m128i& second) {
        __m128i pairs[Lanes];
        for (int32_t k = 0; k < Lanes; ++k) {
            pairs[k] = _mm_loadl_epi64(
                reinterpret_cast<const __m128i*>(s.texels + static_cast<size_t>(index[k]) * 4));
        }
        const __m128i low = _mm_unpacklo_epi32(pairs[0], pairs[1]);
        const __m128i high = _mm_unpacklo_epi32(pairs[2], pairs[3]);
        first = _mm_unpacklo_epi64(low, high);
        second = _mm_unpackhi_epi64(low, high);
    };

    alignas(16) uint32_t pixels[Lanes];
    alignas(16) float depths[Lanes];
    for (int32_t px = span.left; px <= span.right; px += Lanes) {
        const int32_t count = std::min(Lanes, span.right - px + 1);
        const __m128 x = _mm_add_ps(_mm_set1_ps(static_cast<float>(px)), laneOffsets);
        const __m128 w = _mm_div_ps(one, at(span.q, x));
        const __m128 u = _mm_mul_ps(at(span.u, x), w);
        const __m128 v = _mm_mul_ps(at(span.v, x), w);

        __m128i texel;
        if constexpr (Linear) {
            const __m128i fu = ToFixedTexel(_mm_sub_ps(_mm_mul_ps(u, textureWidth), half));
            const __m128i fv = ToFixedTexel(_mm_sub_ps(_mm_mul_ps(v, textureHeight), half));
            const __m128i x0 = _mm_srai_epi32(fu, TexelFractionBits);
            const __m128i y0 = _mm_srai_epi32(fv, TexelFractionBits);
            const __m128i oneTexel = _mm_set1_epi32(1);
            const __m128i xa = addressU(x0);
            const __m128i xb = addressU(_mm_add_epi32(x0, oneTexel));
            const __m128i rowA = _mm_madd_epi16(addressV(y0), pitch);
            const __m128i rowB = _mm_madd_epi16(addressV(_mm_add_epi32(y0, oneTexel)), pitch);
            alignas(16) int32_t index[4][Lanes];
            _mm_store_si128(reinterpret_cast<__m128i*>(index[0]), _mm_add_epi32(rowA, xa));
            _mm_store_si128(reinterpret_cast<__m128i*>(index[2]), _mm_add_epi32(rowB, xa));
            __m128i c00, c10, c01, c11;
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(xb, _mm_add_epi32(xa, oneTexel))) == 0xFFFF) {
                gatherPairs(index[0], c00, c10);
                gatherPairs(index[2], c01, c11);
            } else {
                _mm_store_si128(reinterpret_cast<__m128i*>(index[1]), _mm_add_epi32(rowA, xb));
                _mm_store_si128(reinterpret_cast<__m128i*>(index[3]), _mm_add_epi32(rowB, xb));
                c00 = gather(index[0]);
                c10 = gather(index[1]);
                c01 = gather(index[2]);
                c11 = gather(index[3]);
            }
            const __m128i fraction = _mm_set1_epi32(TexelOne - 1);
            texel = Bilinear(c00, c10, c01, c11, _mm_and_si128(fu, fraction),
                             _mm_and_si128(fv, fraction));
        } else {
            const __m128i xs = addressU(
                _mm_srai_epi32(ToFixedTexel(_mm_mul_ps(u, textureWidth)), TexelFractionBits));
            const __m128i ys = addressV(
                _mm_srai_epi32(ToFixedTexel(_mm_mul_ps(v, textureHeight)), TexelFractionBits));
            alignas(16) int32_t index[Lanes];
            _mm_store_si128(reinterpret_cast<__m128i*>(index),
                            _mm_add_epi32(_mm_madd_epi16(ys, pitch), xs));
            texel = gather(index);
        }
        // Opaque alpha for X8R8G8B8: filtering 255s gives 255, so it can come after.
        texel = _mm_or_si128(texel, alphaFill);

        // Texture stage: r, g, b, a.
        const __m128 t[4] = {Channel(texel, 16), Channel(texel, 8), Channel(texel, 0),
                             Channel(texel, 24)};
        __m128 current[4];
        for (int c = 0; c < 4; ++c) {
            const SpanSource source = c < 3 ? s.color : s.alpha;
            __m128 value = t[c];
            if (needsDiffuse && source != SpanSource::Texture) {
                const __m128 diffuse = _mm_mul_ps(at(span.diffuse[c], x), w);
                value = source == SpanSource::Diffuse ? diffuse : _mm_mul_ps(t[c], diffuse);
            }
            current[c] = Clamp01(value);
        }

        __m128 visible =
            _mm_castsi128_ps(_mm_cmplt_epi32(_mm_setr_epi32(0, 1, 2, 3), _mm_set1_epi32(count)));
        if (s.alphaTest) {
            visible = _mm_and_ps(
                visible, Passes(s.alphaFunc, _mm_cvtepi32_ps(ToByte(current[3])), alphaRef));
        }
        if (depthRow != nullptr && _mm_movemask_ps(visible) != 0) {
            const __m128 depth = ClampDepth(at(span.z, x));
            float* stored = depthRow + px;
            if (count == Lanes) {
                _mm_store_ps(depths, _mm_loadu_ps(stored));
            } else {
                std::fill(depths, depths + Lanes, 0.0f);
                std::copy(stored, stored + count, depths);
            }
            if (s.depthTest) {
                visible = _mm_and_ps(visible, Passes(s.depthFunc, depth, _mm_load_ps(depths)));
            }
            const int written = _mm_movemask_ps(visible);
            if (s.depthWrite && written != 0) {
                const __m128 merged = _mm_or_ps(_mm_and_ps(visible, depth),
                                                _mm_andnot_ps(visible, _mm_load_ps(depths)));
                if (count == Lanes) {
                    _mm_storeu_ps(stored, merged);
                } else {
                    _mm_store_ps(depths, merged);
                    std::copy(depths, depths + count, stored);
                }
            }
        }
        const int mask = _mm_movemask_ps(visible);
        if (mask == 0) {
            continue;
        }

        uint8_t* out = row + static_cast<size_t>(px) * 4;
        const bool whole = mask == 0xF;
        __m128 color[4] = {current[0], current[1], current[2], current[3]};
        if constexpr (Blend) {
            if (whole) {
                _mm_store_si128(reinterpret_cast<__m128i*>(pixels),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(out)));
            } else {
                for (int32_t k = 0; k < count; ++k) {
                    std::memcpy(&pixels[k], out + k * 4, 4);
                }
            }
            const __m128i stored =
                _mm_or_si128(_mm_load_si128(reinterpret_cast<__m128i*>(pixels)),
                             _mm_set1_epi32(static_cast<int>(s.targetAlphaFill)));
            const __m128 dst[4] = {Channel(stored, 16), Channel(stored, 8), Channel(stored, 0),
                                   Channel(stored, 24)};
            const __m128 sf = current[3];
            const __m128 df = _mm_sub_ps(one, current[3]);
            for (int c = 0; c < 4; ++c) {
                color[c] = Clamp01(_mm_add_ps(_mm_mul_ps(current[c], sf), _mm_mul_ps(dst[c], df)));
            }
        }
        const __m128i packed =
            _mm_or_si128(_mm_or_si128(_mm_slli_epi32(ToByte(color[3]), 24),
                                      _mm_slli_epi32(ToByte(color[0]), 16)),
                         _mm_or_si128(_mm_slli_epi32(ToByte(color[1]), 8), ToByte(color[2])));
        if (whole) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed);
        } else {
            _mm_store_si128(reinterpret_cast<__m128i*>(pixels), packed);
            for (int32_t k = 0; k < count; ++k) {
                if ((mask >> k) & 1) {
                    std::memcpy(out + k * 4, &pixels[k], 4);
                }
            }
        }
    }
}

} // namespace

void ShadeTexturedSpan(const TexturedSpanSetup& setup, const TexturedSpan& span) {
    if (setup.linear) {
        setup.blend ? SpanLoop<true, true>(setup, span) : SpanLoop<true, false>(setup, span);
    } else {
        setup.blend ? SpanLoop<false, true>(setup, span) : SpanLoop<false, false>(setup, span);
    }
}

} // namespace quarn
