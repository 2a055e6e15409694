#pragma once

// The textured span loop, written once over a lane type L: TexturedSpan.cpp runs it on SSE2's
// four lanes, TexturedSpanWide.cpp on AVX2's eight. L gives the float vector F, the integer
// vector I and the operations below; every operation is the same IEEE operation per lane on
// either width, so both write the same bytes. Included only by those two sources; everything
// here has internal linkage and calls nothing inline from elsewhere that could be emitted out of
// line, so no function compiled for AVX2 can stand in for one of the four-lane source's.

#include "gpu/software/TexturedSpan.h"

#include <cstring>

namespace quarn {
namespace {

template <typename L>
typename L::F Clamp01Lanes(typename L::F v) {
    // max first: a NaN lane takes max's second operand, 0, as the scalar clamp gives.
    return L::Min(L::Max(v, L::Zero()), L::Set(1.0f));
}

// ToByte of a value already clamped to [0, 1].
template <typename L>
typename L::I ClampedToByte(typename L::F v) {
    return L::Truncate(L::Add(L::Mul(v, L::Set(255.0f)), L::Set(0.5f)));
}

// std::clamp(z, 0, 1), which keeps a NaN.
template <typename L>
typename L::F ClampDepth(typename L::F z) {
    const typename L::F one = L::Set(1.0f);
    const typename L::F below = L::Less(z, L::Zero());
    const typename L::F above = L::Less(one, z);
    const typename L::F upper = L::Or(L::And(above, one), L::AndNot(above, z));
    return L::AndNot(below, upper);
}

// floor(t * 256) per lane, clamped as ToFixedTexel does.
template <typename L>
typename L::I ToFixedTexelLanes(typename L::F t) {
    constexpr float Limit = TexelCoordinateLimit * TexelOne;
    typename L::F scaled = L::Mul(t, L::Set(static_cast<float>(TexelOne)));
    scaled = L::Min(L::Max(scaled, L::Set(-Limit)), L::Set(Limit));
    const typename L::I truncated = L::Truncate(scaled);
    // Truncation rounds negative fractions up; step those down by one.
    const typename L::F above = L::Less(scaled, L::ToFloat(truncated));
    return L::AddI(truncated, L::AsInt(above));
}

template <typename L>
typename L::F Channel(typename L::I argb, int shift) {
    const typename L::I bytes = L::AndI(L::ShiftRight(argb, shift), L::SetI(0xFF));
    return L::Mul(L::ToFloat(bytes), L::Set(ByteScale));
}

// Per-pixel weights in 16-bit lanes for two pixels' four channels: {w0 x4, w1 x4}, {w2 x4, w3 x4}
// (in each 128-bit half, where the byte unpacks below work).
template <typename L>
void SpreadWeights(typename L::I weights, typename L::I& low, typename L::I& high) {
    const typename L::I packed = L::Pack32To16(weights, weights);
    const typename L::I pairs = L::UnpackLow16(packed, packed);
    low = L::UnpackLow32(pairs, pairs);
    high = L::UnpackHigh32(pairs, pairs);
}

// (a (256 - t) + b t + 128) >> 8 on 16-bit lanes, as BilinearArgb does per channel.
template <typename L>
typename L::I Lerp16(typename L::I a, typename L::I b, typename L::I t) {
    const typename L::I inverse = L::Sub16(L::Set16(TexelOne), t);
    const typename L::I sum = L::Add16(L::Mul16(a, inverse), L::Mul16(b, t));
    return L::ShiftRight16(L::Add16(sum, L::Set16(TexelOne / 2)), TexelFractionBits);
}

// Forced inline: too large for the compiler to inline by itself, too hot for a call.
template <typename L>
[[gnu::always_inline]] inline typename L::I Bilinear(typename L::I c00, typename L::I c10,
                                                     typename L::I c01, typename L::I c11,
                                                     typename L::I ax, typename L::I ay) {
    using I = typename L::I;
    I axLow, axHigh, ayLow, ayHigh;
    SpreadWeights<L>(ax, axLow, axHigh);
    SpreadWeights<L>(ay, ayLow, ayHigh);
    const I top0 = Lerp16<L>(L::BytesLow(c00), L::BytesLow(c10), axLow);
    const I bottom0 = Lerp16<L>(L::BytesLow(c01), L::BytesLow(c11), axLow);
    const I top1 = Lerp16<L>(L::BytesHigh(c00), L::BytesHigh(c10), axHigh);
    const I bottom1 = Lerp16<L>(L::BytesHigh(c01), L::BytesHigh(c11), axHigh);
    return L::Pack16To8(Lerp16<L>(top0, bottom0, ayLow), Lerp16<L>(top1, bottom1, ayHigh));
}

// Texel addressing along one axis, a vector at a time: a power-of-two wrap is a mask (which
// gives what the modulo does) and a clamp a max and min; other wraps take the modulo per lane.
template <typename L>
struct Axis {
    using I = typename L::I;
    int32_t size;
    bool wrap;
    bool lanewise;
    I mask;

    Axis(int32_t s, bool w)
        : size(s), wrap(w), lanewise(!w || (s & (s - 1)) == 0), mask(L::SetI(s - 1)) {}

    I operator()(I i) const {
        if (!lanewise) {
            alignas(32) int32_t lanes[L::Count];
            L::StoreLanes(lanes, i);
            for (int32_t& lane : lanes) {
                lane = AddressTexel(lane, size, wrap);
            }
            return L::LoadLanes(lanes);
        }
        if (wrap) {
            return L::AndI(i, mask);
        }
        i = L::AndI(i, L::GreaterI(i, L::ZeroI()));
        const I over = L::GreaterI(i, mask);
        return L::OrI(L::AndI(over, mask), L::AndNotI(over, i));
    }
};

// Unit: 1/w is 1 across the span (pre-transformed vertices with rhw 1, as sprites have), so
// the divide and the multiplies by w, which would give back their operands exactly, are left out.
template <typename L, bool Linear, bool Blend, bool Unit>
void SpanLoop(const TexturedSpanSetup& s, const TexturedSpan& span) {
    using F = typename L::F;
    using I = typename L::I;
    constexpr int32_t Lanes = L::Count;
    const Axis<L> addressU(s.width, s.wrapU);
    const Axis<L> addressV(s.height, s.wrapV);
    // Texel rows in texels; a 16-bit multiply takes them while both factors stay below 2^15.
    const I pitch = L::SetI(static_cast<int32_t>(s.pitch / 4));
    const I alphaFill = L::SetI(static_cast<int32_t>(s.alphaFill));
    const F textureWidth = L::Set(static_cast<float>(s.width));
    const F textureHeight = L::Set(static_cast<float>(s.height));
    const F one = L::Set(1.0f);
    const F half = L::Set(0.5f);
    const I oneTexel = L::SetI(1);
    const bool needsDiffuse = s.color != SpanSource::Texture || s.alpha != SpanSource::Texture;
    const F alphaRef = L::Set(static_cast<float>(s.alphaRef));

    uint8_t* row = s.target + static_cast<size_t>(span.y) * s.targetPitch;
    float* depthRow =
        s.depth != nullptr ? s.depth + static_cast<size_t>(span.y) * s.depthWidth : nullptr;
    auto at = [](const SpanValue& value, F x) {
        return L::Add(L::Set(value.row), L::Mul(L::Set(value.dx), x));
    };

    for (int32_t px = span.left; px <= span.right; px += Lanes) {
        const int32_t count = span.right - px + 1 < Lanes ? span.right - px + 1 : Lanes;
        const F x = L::Add(L::Set(static_cast<float>(px)), L::LaneOffsets());
        const F w = Unit ? one : L::Div(one, at(span.q, x));
        const F u = Unit ? at(span.u, x) : L::Mul(at(span.u, x), w);
        const F v = Unit ? at(span.v, x) : L::Mul(at(span.v, x), w);

        I texel;
        if constexpr (Linear) {
            const I fu = ToFixedTexelLanes<L>(L::Sub(L::Mul(u, textureWidth), half));
            const I fv = ToFixedTexelLanes<L>(L::Sub(L::Mul(v, textureHeight), half));
            const I x0 = L::ShiftRightSigned(fu, TexelFractionBits);
            const I y0 = L::ShiftRightSigned(fv, TexelFractionBits);
            const I xa = addressU(x0);
            const I xb = addressU(L::AddI(x0, oneTexel));
            const I rowA = L::Multiply15(addressV(y0), pitch);
            const I rowB = L::Multiply15(addressV(L::AddI(y0, oneTexel)), pitch);
            I c00, c10, c01, c11;
            if (L::AllTrue(L::EqualI(xb, L::AddI(xa, oneTexel)))) {
                L::GatherPairs(s.texels, L::AddI(rowA, xa), c00, c10);
                L::GatherPairs(s.texels, L::AddI(rowB, xa), c01, c11);
            } else {
                c00 = L::Gather(s.texels, L::AddI(rowA, xa));
                c10 = L::Gather(s.texels, L::AddI(rowA, xb));
                c01 = L::Gather(s.texels, L::AddI(rowB, xa));
                c11 = L::Gather(s.texels, L::AddI(rowB, xb));
            }
            const I fraction = L::SetI(TexelOne - 1);
            texel = Bilinear<L>(c00, c10, c01, c11, L::AndI(fu, fraction), L::AndI(fv, fraction));
        } else {
            const I xs = addressU(L::ShiftRightSigned(ToFixedTexelLanes<L>(L::Mul(u, textureWidth)),
                                                      TexelFractionBits));
            const I ys = addressV(L::ShiftRightSigned(
                ToFixedTexelLanes<L>(L::Mul(v, textureHeight)), TexelFractionBits));
            texel = L::Gather(s.texels, L::AddI(L::Multiply15(ys, pitch), xs));
        }
        // Opaque alpha for X8R8G8B8: filtering 255s gives 255, so it can come after.
        texel = L::OrI(texel, alphaFill);

        // Texture stage: r, g, b, a.
        const F t[4] = {Channel<L>(texel, 16), Channel<L>(texel, 8), Channel<L>(texel, 0),
                        Channel<L>(texel, 24)};
        F current[4];
        for (int c = 0; c < 4; ++c) {
            const SpanSource source = c < 3 ? s.color : s.alpha;
            F value = t[c];
            if (needsDiffuse && source != SpanSource::Texture) {
                const F diffuse = Unit ? at(span.diffuse[c], x) : L::Mul(at(span.diffuse[c], x), w);
                value = source == SpanSource::Diffuse ? diffuse : L::Mul(t[c], diffuse);
            }
            current[c] = Clamp01Lanes<L>(value);
        }

        F visible = L::AsFloat(L::GreaterI(L::SetI(count), L::LaneIndices()));
        if (s.alphaTest) {
            visible =
                L::And(visible,
                       L::Passes(s.alphaFunc, L::ToFloat(ClampedToByte<L>(current[3])), alphaRef));
        }
        if (depthRow != nullptr && L::Mask(visible) != 0) {
            const F depth = ClampDepth<L>(at(span.z, x));
            float* stored = depthRow + px;
            const F old = L::LoadDepths(stored, count);
            if (s.depthTest) {
                visible = L::And(visible, L::Passes(s.depthFunc, depth, old));
            }
            if (s.depthWrite && L::Mask(visible) != 0) {
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
            const I stored =
                L::OrI(L::LoadPixels(out, count), L::SetI(static_cast<int32_t>(s.targetAlphaFill)));
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
    if (setup.linear) {
        setup.blend ? SpanLoopOf<L, true, true>(setup, span)
                    : SpanLoopOf<L, true, false>(setup, span);
    } else {
        setup.blend ? SpanLoopOf<L, false, true>(setup, span)
                    : SpanLoopOf<L, false, false>(setup, span);
    }
}

} // namespace
} // namespace quarn
