#pragma once

// Lane helpers of the loops written over a lane type L (Sse2Lanes.h, Avx2Lanes.h): clamps and
// byte conversions, and the texel fetch of one 32-bit texture level, point or bilinear, as the
// scalar sampler does it. Included only by the sources that instantiate those loops; everything
// here has internal linkage and calls nothing inline from elsewhere that could be emitted out of
// line, so no function compiled for AVX2 can stand in for one of the four-lane sources'.

#include "gpu/software/TexturedSpan.h"

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
            // Inside the texture the modulo changes nothing.
            if (L::AllTrue(L::AndI(L::GreaterI(i, L::SetI(-1)), L::GreaterI(L::SetI(size), i)))) {
                return i;
            }
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

// One level of a 32-bit texture (A8R8G8B8 or X8R8G8B8, alpha not yet filled), a vector of
// (u, v) at a time. Pitch and height below 2^15, as the 16-bit row multiply needs.
template <typename L>
struct TexelLevel {
    using F = typename L::F;
    using I = typename L::I;
    const uint8_t* texels;
    Axis<L> addressU;
    Axis<L> addressV;
    I pitch; // in texels
    F width;
    F height;

    explicit TexelLevel(const LaneTexture& t)
        : texels(t.texels), addressU(t.width, t.wrapU), addressV(t.height, t.wrapV),
          pitch(L::SetI(static_cast<int32_t>(t.pitch / 4))),
          width(L::Set(static_cast<float>(t.width))), height(L::Set(static_cast<float>(t.height))) {
    }
};

// The texels at `index`: one load where they are neighbours along a row, as a 1:1 copy reads
// them.
template <typename L>
[[gnu::always_inline]] inline typename L::I GatherTexels(const uint8_t* texels,
                                                         typename L::I index) {
    const int32_t first = L::FirstLane(index);
    if (L::AllTrue(L::EqualI(index, L::AddI(L::SetI(first), L::LaneIndices())))) {
        return L::LoadPixels(texels + static_cast<size_t>(first) * 4, L::Count);
    }
    return L::Gather(texels, index);
}

// The ARGB texels at (u, v), as SampleLevel finds them for one filter.
template <typename L, bool Linear>
[[gnu::always_inline]] inline typename L::I FetchTexels(const TexelLevel<L>& t, typename L::F u,
                                                        typename L::F v) {
    using I = typename L::I;
    if constexpr (Linear) {
        const typename L::F half = L::Set(0.5f);
        const I oneTexel = L::SetI(1);
        const I fu = ToFixedTexelLanes<L>(L::Sub(L::Mul(u, t.width), half));
        const I fv = ToFixedTexelLanes<L>(L::Sub(L::Mul(v, t.height), half));
        const I x0 = L::ShiftRightSigned(fu, TexelFractionBits);
        const I y0 = L::ShiftRightSigned(fv, TexelFractionBits);
        const I xa = t.addressU(x0);
        const I xb = t.addressU(L::AddI(x0, oneTexel));
        const I rowA = L::Multiply15(t.addressV(y0), t.pitch);
        const I fraction = L::SetI(TexelOne - 1);
        const I ax = L::AndI(fu, fraction);
        const I ay = L::AndI(fv, fraction);
        // On texel centres, as a 1:1 copy samples, no neighbour weighs in: the filter gives
        // the first texel back exactly.
        if (L::AllZero(L::OrI(ax, ay))) {
            return GatherTexels<L>(t.texels, L::AddI(rowA, xa));
        }
        const I rowB = L::Multiply15(t.addressV(L::AddI(y0, oneTexel)), t.pitch);
        I c00, c10, c01, c11;
        if (L::AllTrue(L::EqualI(xb, L::AddI(xa, oneTexel)))) {
            L::GatherPairs(t.texels, L::AddI(rowA, xa), c00, c10);
            L::GatherPairs(t.texels, L::AddI(rowB, xa), c01, c11);
        } else {
            c00 = L::Gather(t.texels, L::AddI(rowA, xa));
            c10 = L::Gather(t.texels, L::AddI(rowA, xb));
            c01 = L::Gather(t.texels, L::AddI(rowB, xa));
            c11 = L::Gather(t.texels, L::AddI(rowB, xb));
        }
        return Bilinear<L>(c00, c10, c01, c11, ax, ay);
    } else {
        const I xs = t.addressU(
            L::ShiftRightSigned(ToFixedTexelLanes<L>(L::Mul(u, t.width)), TexelFractionBits));
        const I ys = t.addressV(
            L::ShiftRightSigned(ToFixedTexelLanes<L>(L::Mul(v, t.height)), TexelFractionBits));
        return GatherTexels<L>(t.texels, L::AddI(L::Multiply15(ys, t.pitch), xs));
    }
}

} // namespace
} // namespace quarn
