#pragma once

// The textured span loop, written once over a lane type L: TexturedSpan.cpp runs it on SSE2's
// four lanes, TexturedSpanWide.cpp on AVX2's eight. L gives the float vector F, the integer
// vector I and the operations below; every operation is the same IEEE operation per lane on
// either width, so both write the same bytes. Included only by those two sources; everything
// here has internal linkage and calls nothing inline from elsewhere that could be emitted out of
// line, so no function compiled for AVX2 can stand in for one of the four-lane source's.

#include "gpu/software/TexelLanes.h"
#include "gpu/software/TexturedSpan.h"

#include <cstring>

namespace quarn {
namespace {

// Unit: 1/w is 1 across the span (pre-transformed vertices with rhw 1, as sprites have), so
// the divide and the multiplies by w, which would give back their operands exactly, are left out.
template <typename L, bool Linear, bool Blend, bool Unit>
void SpanLoop(const TexturedSpanSetup& s, const TexturedSpan& span) {
    using F = typename L::F;
    using I = typename L::I;
    constexpr int32_t Lanes = L::Count;
    const TexelLevel<L> texels(s.texture);
    const I alphaFill = L::SetI(static_cast<int32_t>(s.texture.alphaFill));
    const F one = L::Set(1.0f);
    const bool needsDiffuse = s.color != SpanSource::Texture || s.alpha != SpanSource::Texture;
    const F alphaRef = L::Set(static_cast<float>(s.write.alphaRef));

    uint8_t* row = s.write.target + static_cast<size_t>(span.y) * s.write.targetPitch;
    float* depthRow = s.write.depth != nullptr
                          ? s.write.depth + static_cast<size_t>(span.y) * s.write.depthWidth
                          : nullptr;
    auto at = [](const SpanValue& value, F x) {
        return L::Add(L::Set(value.row), L::Mul(L::Set(value.dx), x));
    };

    for (int32_t px = span.left; px <= span.right; px += Lanes) {
        const int32_t count = span.right - px + 1 < Lanes ? span.right - px + 1 : Lanes;
        const F x = L::Add(L::Set(static_cast<float>(px)), L::LaneOffsets());
        const F w = Unit ? one : L::Div(one, at(span.q, x));
        const F u = Unit ? at(span.u, x) : L::Mul(at(span.u, x), w);
        const F v = Unit ? at(span.v, x) : L::Mul(at(span.v, x), w);

        I texel = FetchTexels<L, Linear>(texels, u, v);
        // Opaque alpha for X8R8G8B8: filtering 255s gives 255, so it can come after.
        texel = L::OrI(texel, alphaFill);

        // Texture stage: r, g, b, a.
        const F t[4] = {Channel<L>(texel, 16), Channel<L>(texel, 8), Channel<L>(texel, 0),
                        Channel<L>(texel, 24)};
        F fog = one;
        if (s.fog) {
            fog = Clamp01Lanes<L>(Unit ? at(span.fog, x) : L::Mul(at(span.fog, x), w));
        }
        F current[4];
        for (int c = 0; c < 4; ++c) {
            const SpanSource source = c < 3 ? s.color : s.alpha;
            F value = t[c];
            if (needsDiffuse && source != SpanSource::Texture) {
                const F diffuse = Unit ? at(span.diffuse[c], x) : L::Mul(at(span.diffuse[c], x), w);
                value = source == SpanSource::Diffuse ? diffuse : L::Mul(t[c], diffuse);
            }
            if (s.fog && c < 3) {
                value = L::Add(L::Mul(value, fog), L::Mul(L::Set(s.fogColor[c]), L::Sub(one, fog)));
            }
            current[c] = Clamp01Lanes<L>(value);
        }

        F visible = L::AsFloat(L::GreaterI(L::SetI(count), L::LaneIndices()));
        if (s.write.alphaTest) {
            visible =
                L::And(visible, L::Passes(s.write.alphaFunc,
                                          L::ToFloat(ClampedToByte<L>(current[3])), alphaRef));
        }
        if (depthRow != nullptr && L::Mask(visible) != 0) {
            const F depth = ClampDepth<L>(at(span.z, x));
            float* stored = depthRow + px;
            const F old = L::LoadDepths(stored, count);
            if (s.write.depthTest) {
                visible = L::And(visible, L::Passes(s.write.depthFunc, depth, old));
            }
            if (s.write.depthWrite && L::Mask(visible) != 0) {
                L::StoreDepths(stored, L::Or(L::And(visible, depth), L::AndNot(visible, old)),
                               count);
            }
        }
        const int mask = L::Mask(visible);
        if (mask == 0) {
            continue;
        }

        uint8_t* out = row + static_cast<size_t>(px) * 4;
        F color[4] = {current[0], current[1], current[2], current[3]};
        if constexpr (Blend) {
            const I stored = L::OrI(L::LoadPixels(out, count),
                                    L::SetI(static_cast<int32_t>(s.write.targetAlphaFill)));
            const F dst[4] = {Channel<L>(stored, 16), Channel<L>(stored, 8), Channel<L>(stored, 0),
                              Channel<L>(stored, 24)};
            const F sf = current[3];
            const F df = L::Sub(one, current[3]);
            for (int c = 0; c < 4; ++c) {
                color[c] = Clamp01Lanes<L>(L::Add(L::Mul(current[c], sf), L::Mul(dst[c], df)));
            }
        }
        const I packed =
            L::OrI(L::OrI(L::ShiftLeft(ClampedToByte<L>(color[3]), 24),
                          L::ShiftLeft(ClampedToByte<L>(color[0]), 16)),
                   L::OrI(L::ShiftLeft(ClampedToByte<L>(color[1]), 8), ClampedToByte<L>(color[2])));
        L::StorePixels(out, packed, visible, mask);
    }
}

template <typename L, bool Linear, bool Blend>
void SpanLoopOf(const TexturedSpanSetup& setup, const TexturedSpan& span) {
    // q is row + dx * x with x >= 0, so dx == 0 and row == 1 make it exactly 1 at every pixel.
    if (span.q.dx == 0.0f && span.q.row == 1.0f) {
        SpanLoop<L, Linear, Blend, true>(setup, span);
    } else {
        SpanLoop<L, Linear, Blend, false>(setup, span);
    }
}

template <typename L>
void ShadeSpanWith(const TexturedSpanSetup& setup, const TexturedSpan& span) {
    if (setup.texture.linear) {
        setup.blend ? SpanLoopOf<L, true, true>(setup, span)
                    : SpanLoopOf<L, true, false>(setup, span);
    } else {
        setup.blend ? SpanLoopOf<L, false, true>(setup, span)
                    : SpanLoopOf<L, false, false>(setup, span);
    }
}

} // namespace
} // namespace quarn
