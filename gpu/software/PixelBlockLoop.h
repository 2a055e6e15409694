#pragma once

// The pixel block, written once over a lane type L: interpolation, texld's sampler and the
// write, each lane with the scalar path's operations in its order (PixelPipeline's ShadeQuads
// by way of LoadProgramInputs, PixelSampler, FinishProgramColor and FinishPixel). Included only
// by the sources that instantiate it, with internal linkage (TexelLanes.h says why).

#include "gpu/software/PixelBlock.h"
#include "gpu/software/PixelPipeline.h"
#include "gpu/software/ShaderBlockLoop.h"

namespace quarn {
namespace {

template <typename L>
class PixelBlockSampler final : public BlockSampler {
public:
    explicit PixelBlockSampler(const PixelBlockSetup& setup) : setup_(setup) {}

    void SampleBlock(uint32_t sampler, uint32_t control, const float* const* coords,
                     float* const* texels, uint32_t lanes, uint32_t rowStride) const override {
        // texld may name any register as its sampler; one past the samplers reads as unbound.
        static constexpr BlockTexture unbound{};
        const BlockTexture& t = sampler < GpuSamplerCount ? setup_.textures[sampler] : unbound;
        if (t.kind == BlockTextureKind::Vector) {
            Fetch(t, control, coords, texels, lanes);
            return;
        }
        if (t.kind == BlockTextureKind::Unbound) {
            // An unbound sampler reads opaque black.
            for (uint32_t c = 0; c < 4; ++c) {
                if (texels[c] != nullptr) {
                    std::fill_n(texels[c], lanes, c == 3 ? 1.0f : 0.0f);
                }
            }
            return;
        }
        // Quad q is lanes 2q and 2q + 1 of each row.
        for (uint32_t q = 0; 2 * q < rowStride; ++q) {
            const uint32_t at[4] = {2 * q, 2 * q + 1, rowStride + 2 * q, rowStride + 2 * q + 1};
            float quadCoords[4][4];
            float quadTexels[4][4];
            for (int lane = 0; lane < 4; ++lane) {
                for (uint32_t c = 0; c < 4; ++c) {
                    quadCoords[lane][c] = coords[c][at[lane]];
                }
            }
            setup_.pipeline->SampleProgramQuad(sampler, quadCoords, control, quadTexels);
            for (int lane = 0; lane < 4; ++lane) {
                for (uint32_t c = 0; c < 4; ++c) {
                    if (texels[c] != nullptr) {
                        texels[c][at[lane]] = quadTexels[lane][c];
                    }
                }
            }
        }
    }

private:
    using F = typename L::F;
    using I = typename L::I;

    // The texture needs no level of detail, so texldb's bias changes nothing; texldp divides.
    static void Fetch(const BlockTexture& t, uint32_t control, const float* const* coords,
                      float* const* texels, uint32_t lanes) {
        uint32_t written = 0;
        for (uint32_t c = 0; c < 4; ++c) {
            written |= texels[c] != nullptr ? 1u << c : 0u;
        }
        // Every channel, or colour alone: the usual destinations, without a test per channel.
        const uint32_t mask = written == 0xF || written == 0x7 ? written : 0;
        if (t.level.linear) {
            mask == 0xF   ? Fetch<true, 0xF>(t, control, coords, texels, lanes)
            : mask == 0x7 ? Fetch<true, 0x7>(t, control, coords, texels, lanes)
                          : Fetch<true, 0>(t, control, coords, texels, lanes);
        } else {
            mask == 0xF   ? Fetch<false, 0xF>(t, control, coords, texels, lanes)
            : mask == 0x7 ? Fetch<false, 0x7>(t, control, coords, texels, lanes)
                          : Fetch<false, 0>(t, control, coords, texels, lanes);
        }
    }

    // Mask: the channels written, or 0 for those of the non-null texels.
    template <bool Linear, uint32_t Mask>
    static void Fetch(const BlockTexture& t, uint32_t control, const float* const* coords,
                      float* const* texels, uint32_t lanes) {
        const TexelLevel<L> level(t.level);
        const I alphaFill = L::SetI(static_cast<int32_t>(t.level.alphaFill));
        const bool project = control == GpuShaderTexProject;
        const float* u = coords[0];
        const float* v = coords[1];
        const float* w = coords[3];
        float* const out[4] = {texels[0], texels[1], texels[2], texels[3]};
        static constexpr int Shifts[4] = {16, 8, 0, 24};
        for (uint32_t k = 0; k < lanes; k += L::Count) {
            F x = L::Load(u + k);
            F y = L::Load(v + k);
            if (project) {
                const F q = L::Load(w + k);
                const F divide = L::NotEqual(q, L::Zero());
                x = L::Select(divide, L::Div(x, q), x);
                y = L::Select(divide, L::Div(y, q), y);
            }
            const I texel = L::OrI(FetchTexels<L, Linear>(level, x, y), alphaFill);
            for (int c = 0; c < 4; ++c) {
                if (Mask != 0 ? (Mask >> c & 1) != 0 : out[c] != nullptr) {
                    L::Store(out[c] + k, Channel<L>(texel, Shifts[c]));
                }
            }
        }
    }

    const PixelBlockSetup& setup_;
};

template <typename L>
class PixelBlock {
public:
    PixelBlock(const PixelBlockSetup& setup, const QuadRows& rows, int32_t x0, uint32_t width,
               float* file)
        : s_(setup), rows_(rows), x0_(x0), width_(width), stride_(PixelBlockRowStride(width)),
          file_(file) {}

    uint64_t Run() {
        const BlockProgram& program = *s_.program;
        const bool unit = rows_.q[0].dx == 0.0f && rows_.q[1].dx == 0.0f &&
                          rows_.q[0].row == 1.0f && rows_.q[1].row == 1.0f;
        unit ? Interpolate<true>() : Interpolate<false>();
        const PixelBlockSampler<L> sampler(s_);
        ShaderBlockRun run;
        run.program = &program;
        run.constants = s_.constants;
        run.file = file_;
        run.lanes = 2 * stride_;
        run.rowStride = stride_;
        run.sampler = &sampler;
        run.kept = ~uint64_t{0};
        for (uint32_t offset : program.Cleared(s_.narrow)) {
            std::fill_n(file_ + offset, run.lanes, 0.0f);
        }
        BlockRunner<L>(run).Run();
        if (s_.vectorWrite) {
            for (uint32_t r = 0; r < 2; ++r) {
                Write(r, run.kept);
            }
        }
        return run.kept;
    }

private:
    using F = typename L::F;
    using I = typename L::I;
    static constexpr int32_t Count = L::Count;

    F X(uint32_t i) const {
        return L::Add(L::Set(static_cast<float>(x0_ + static_cast<int32_t>(i))), L::LaneOffsets());
    }
    static F At(const SpanValue& value, F x) {
        return L::Add(L::Set(value.row), L::Mul(L::Set(value.dx), x));
    }

    // Unit: 1/w is 1 along both rows, so the divide and the multiplies by w, which would give
    // back their operands exactly, are left out.
    template <bool Unit>
    void Interpolate() {
        // A whole block's rows, the common case, in loops of a known length.
        constexpr uint32_t Whole = PixelBlockWidth / Count;
        if (stride_ == PixelBlockWidth) {
            InterpolateRows<Unit, Whole>();
        } else {
            InterpolateRows<Unit, 0>();
        }
    }

    // Vectors: the vectors of a row, or 0 for stride_ / Count.
    template <bool Unit, uint32_t Vectors>
    void InterpolateRows() {
        const BlockProgram& program = *s_.program;
        const F one = L::Set(1.0f);
        const uint32_t vectors = Vectors != 0 ? Vectors : stride_ / Count;
        for (uint32_t r = 0; r < 2; ++r) {
            const uint32_t base = r * stride_;
            F x[PixelBlockWidth / Count];
            F w[PixelBlockWidth / Count];
            for (uint32_t k = 0; k < vectors; ++k) {
                x[k] = X(k * Count);
                w[k] = Unit ? one : L::Div(one, At(rows_.q[r], x[k]));
            }
            auto fill = [&](uint32_t attribute, uint32_t offset) {
                const F row = L::Set(rows_.rows[r][attribute]);
                const F dx = L::Set(rows_.dx[attribute]);
                float* out = file_ + offset + base;
                for (uint32_t k = 0; k < vectors; ++k) {
                    const F value = L::Add(row, L::Mul(dx, x[k]));
                    L::Store(out + k * Count, Unit ? value : L::Mul(value, w[k]));
                }
            };
            for (const BlockAttribute& a : program.Attributes(s_.narrow)) {
                fill(a.attribute, a.offset);
            }
            if (s_.fog) {
                fill(AttrFog, PixelBlockFog(program));
            }
            if (s_.depth) {
                const F row = L::Set(rows_.z[r].row);
                const F dx = L::Set(rows_.z[r].dx);
                float* out = file_ + PixelBlockDepth(program) + base;
                for (uint32_t k = 0; k < vectors; ++k) {
                    L::Store(out + k * Count, ClampDepth<L>(L::Add(row, L::Mul(dx, x[k]))));
                }
            }
        }
    }

    // GpuBlend's factor for channel c.
    static F Factor(GpuBlend f, const F* src, const F* dst, int c) {
        const F one = L::Set(1.0f);
        switch (f) {
        case GpuBlend::Zero:
            return L::Zero();
        case GpuBlend::One:
            return one;
        case GpuBlend::SrcColor:
            return src[c];
        case GpuBlend::InvSrcColor:
            return L::Sub(one, src[c]);
        case GpuBlend::SrcAlpha:
            return src[3];
        case GpuBlend::InvSrcAlpha:
            return L::Sub(one, src[3]);
        case GpuBlend::DestAlpha:
            return dst[3];
        case GpuBlend::InvDestAlpha:
            return L::Sub(one, dst[3]);
        case GpuBlend::DestColor:
            return dst[c];
        case GpuBlend::InvDestColor:
            return L::Sub(one, dst[c]);
        }
        return L::Zero();
    }

    void Write(uint32_t r, uint64_t kept) {
        const int32_t left = rows_.left[r];
        const int32_t right = rows_.right[r];
        if (left > right) {
            return;
        }
        const BlockProgram& program = *s_.program;
        const int32_t y = rows_.y + static_cast<int32_t>(r);
        uint8_t* row = s_.write.target + static_cast<size_t>(y) * s_.write.targetPitch;
        float* depthRow = s_.write.depth != nullptr
                              ? s_.write.depth + static_cast<size_t>(y) * s_.write.depthWidth
                              : nullptr;
        const uint32_t color = program.Output(0);
        const F one = L::Set(1.0f);
        alignas(32) static constexpr int32_t LaneBits[8] = {1, 2, 4, 8, 16, 32, 64, 128};
        const I laneBits = L::LoadLanes(LaneBits);
        const bool kills = program.Kills();
        uint32_t i = 0;
        if (!kills && !s_.fog && depthRow == nullptr && s_.writeMask == 0xF &&
            (!s_.blend || UsualBlend()) && color != NoBlockOffset) {
            i = s_.write.alphaTest ? WriteWhole<true>(r, row, color)
                                   : WriteWhole<false>(r, row, color);
        }
        for (; i < width_; i += Count) {
            const int32_t px = x0_ + static_cast<int32_t>(i);
            const int32_t count = std::min(Count, right - px + 1);
            if (count <= 0) {
                break;
            }
            const uint32_t lane = r * stride_ + i;
            F visible = L::AsFloat(L::EqualI(laneBits, laneBits));
            if (kills || px < left || px + Count - 1 > right) {
                const auto bits = static_cast<int32_t>((kept >> lane) & ((1u << Count) - 1));
                const I x = L::AddI(L::SetI(px), L::LaneIndices());
                const I inside = L::AndI(
                    L::AndI(L::GreaterI(x, L::SetI(left - 1)), L::GreaterI(L::SetI(right + 1), x)),
                    L::EqualI(L::AndI(L::SetI(bits), laneBits), laneBits));
                visible = L::AsFloat(inside);
                if (L::Mask(visible) == 0) {
                    continue;
                }
            }
            F current[4];
            for (uint32_t c = 0; c < 4; ++c) {
                current[c] = color != NoBlockOffset ? L::Load(file_ + color + c * BlockLanes + lane)
                                                    : L::Zero();
            }
            if (s_.fog) {
                const F f = Clamp01Lanes<L>(L::Load(file_ + PixelBlockFog(program) + lane));
                const F rest = L::Sub(one, f);
                for (uint32_t c = 0; c < 3; ++c) {
                    current[c] =
                        L::Add(L::Mul(current[c], f), L::Mul(L::Set(s_.fogColor[c]), rest));
                }
            }
            for (F& c : current) {
                c = Clamp01Lanes<L>(c);
            }
            if (s_.write.alphaTest) {
                visible = L::And(visible, L::Passes(s_.write.alphaFunc,
                                                    L::ToFloat(ClampedToByte<L>(current[3])),
                                                    L::Set(static_cast<float>(s_.write.alphaRef))));
            }
            if (depthRow != nullptr && L::Mask(visible) != 0) {
                const F depth = L::Load(file_ + PixelBlockDepth(program) + lane);
                float* stored = depthRow + px;
                const F old = L::LoadDepths(stored, count);
                if (s_.write.depthTest) {
                    visible = L::And(visible, L::Passes(s_.write.depthFunc, depth, old));
                }
                if (s_.write.depthWrite && L::Mask(visible) != 0) {
                    L::StoreDepths(stored, L::Select(visible, depth, old), count);
                }
            }
            const int mask = L::Mask(visible);
            if (mask == 0 || s_.writeMask == 0) {
                continue;
            }
            uint8_t* out = row + static_cast<size_t>(px) * 4;
            F result[4] = {current[0], current[1], current[2], current[3]};
            // Under the usual blend an opaque pixel comes out as it is (c 1 + d 0 is c for any
            // stored d), so a full-screen pass of opaque pixels need not read its target.
            const bool opaque = s_.writeMask == 0xF && UsualBlend() &&
                                (L::Mask(L::Less(current[3], one)) & mask) == 0;
            if ((s_.blend || s_.writeMask != 0xF) && !opaque) {
                const I stored = L::OrI(L::LoadPixels(out, count),
                                        L::SetI(static_cast<int32_t>(s_.write.targetAlphaFill)));
                const F dst[4] = {Channel<L>(stored, 16), Channel<L>(stored, 8),
                                  Channel<L>(stored, 0), Channel<L>(stored, 24)};
                if (s_.blend) {
                    Blend(current, dst, result);
                }
                for (uint32_t c = 0; c < 4; ++c) {
                    if ((s_.writeMask >> c & 1) == 0) {
                        result[c] = dst[c];
                    }
                }
            }
            L::StorePixels(out, Pack(result), visible, mask);
        }
    }

    // Clamped colours as ARGB words.
    static I Pack(const F* c) {
        return L::OrI(L::OrI(L::ShiftLeft(ClampedToByte<L>(c[3]), 24),
                             L::ShiftLeft(ClampedToByte<L>(c[0]), 16)),
                      L::OrI(L::ShiftLeft(ClampedToByte<L>(c[1]), 8), ClampedToByte<L>(c[2])));
    }

    // The common case of Write, on the vectors wholly inside row r's span from the block's
    // start: no texkill, fog or depth, every channel written, and no blend or opaque pixels
    // under the usual one. Answers the first lane it left to Write: the span's end, or a
    // vector with a translucent pixel.
    template <bool AlphaTest>
    uint32_t WriteWhole(uint32_t r, uint8_t* row, uint32_t color) {
        const int32_t left = rows_.left[r];
        const int32_t right = rows_.right[r];
        const F one = L::Set(1.0f);
        const F all = L::AsFloat(L::EqualI(L::ZeroI(), L::ZeroI()));
        const GpuCompare alphaFunc = s_.write.alphaFunc;
        const F alphaRef = L::Set(static_cast<float>(s_.write.alphaRef));
        const bool blend = s_.blend;
        const float* in = file_ + color + r * stride_;
        uint32_t i = 0;
        for (; i < width_; i += Count) {
            const int32_t px = x0_ + static_cast<int32_t>(i);
            if (px < left || px + Count - 1 > right) {
                break;
            }
            F current[4];
            for (uint32_t c = 0; c < 4; ++c) {
                current[c] = Clamp01Lanes<L>(L::Load(in + c * BlockLanes + i));
            }
            F visible = all;
            if (AlphaTest) {
                visible = L::Passes(alphaFunc, L::ToFloat(ClampedToByte<L>(current[3])), alphaRef);
            }
            const int mask = L::Mask(visible);
            if (blend && (L::Mask(L::Less(current[3], one)) & mask) != 0) {
                break;
            }
            if (mask != 0) {
                L::StorePixels(row + static_cast<size_t>(px) * 4, Pack(current), visible, mask);
            }
        }
        return i;
    }

    bool UsualBlend() const {
        return s_.blend && s_.srcBlend == GpuBlend::SrcAlpha &&
               s_.destBlend == GpuBlend::InvSrcAlpha && s_.blendOp == GpuBlendOp::Add;
    }

    void Blend(const F* current, const F* dst, F* out) const {
        if (s_.blendOp == GpuBlendOp::Min || s_.blendOp == GpuBlendOp::Max) {
            for (int c = 0; c < 4; ++c) {
                // std::min(current, dst) and std::max(current, dst).
                out[c] = s_.blendOp == GpuBlendOp::Min
                             ? L::Select(L::Less(dst[c], current[c]), dst[c], current[c])
                             : L::Select(L::Less(current[c], dst[c]), dst[c], current[c]);
            }
            return;
        }
        if (UsualBlend()) {
            // The usual blend, without looking up its factors per vector.
            const F sf = current[3];
            const F df = L::Sub(L::Set(1.0f), current[3]);
            for (int c = 0; c < 4; ++c) {
                out[c] = Clamp01Lanes<L>(L::Add(L::Mul(current[c], sf), L::Mul(dst[c], df)));
            }
            return;
        }
        for (int c = 0; c < 4; ++c) {
            const F s = L::Mul(current[c], Factor(s_.srcBlend, current, dst, c));
            const F d = L::Mul(dst[c], Factor(s_.destBlend, current, dst, c));
            out[c] = Clamp01Lanes<L>(s_.blendOp == GpuBlendOp::Subtract      ? L::Sub(s, d)
                                     : s_.blendOp == GpuBlendOp::RevSubtract ? L::Sub(d, s)
                                                                             : L::Add(s, d));
        }
    }

    const PixelBlockSetup& s_;
    const QuadRows& rows_;
    int32_t x0_;
    uint32_t width_;
    uint32_t stride_;
    float* file_;
};

} // namespace
} // namespace quarn
