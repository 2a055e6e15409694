#pragma once

// The block runner, written once over a lane type L (Sse2Lanes.h, Avx2Lanes.h): each
// instruction runs over every lane of the block, a vector at a time, reading all of a vector's
// sources before it writes, as the reference reads a lane's before writing it. Each lane gets
// the reference's IEEE operations in its order; what has no exact vector form (exp, log, pow,
// sin, cos, lit, the address register) goes lane by lane through the reference's own code.
// Included only by the sources that instantiate it, with internal linkage (TexelLanes.h says
// why).

#include "gpu/software/ShaderBlock.h"
#include "gpu/software/TexelLanes.h"

#include <algorithm>

namespace quarn {
namespace {

template <typename L>
class BlockRunner {
public:
    explicit BlockRunner(ShaderBlockRun& run)
        : run_(run), file_(run.file), uniforms_(run.constants->Uniforms()),
          vectors_(run.lanes / Count) {}

    void Run() {
        for (const BlockInstruction& in : run_.program->Instructions()) {
            for (uint32_t g = 0; g < in.gatherCount; ++g) {
                Gather(in.gathers[g]);
            }
            Step(in);
        }
    }

private:
    using F = typename L::F;
    static constexpr uint32_t Count = L::Count;

    struct Source {
        const float* at[4];
        uint32_t step;
        F sign;
    };

    Source Resolve(const BlockOperand& o) const {
        Source s;
        const float* base = o.uniform ? uniforms_ : file_;
        for (int c = 0; c < 4; ++c) {
            s.at[c] = base + o.offset[c];
        }
        s.step = o.uniform ? 0 : Count;
        s.sign = o.negate ? L::Set(-0.0f) : L::Zero();
        return s;
    }
    static F Get(const Source& s, int c, uint32_t k) {
        return L::Xor(L::Load(s.at[c] + k * s.step), s.sign);
    }
    // Writes the components of the instruction's mask, saturated where it asks. Forced inline,
    // so that d stays in registers.
    [[gnu::always_inline]] void Put(const BlockInstruction& in, uint32_t k, const F* d) {
        if (in.target == BlockTarget::Address) {
            PutAddress(in, k, d);
            return;
        }
        const uint32_t mask = in.mask;
        const bool saturate = in.saturate;
        for (int c = 0; c < 4; ++c) {
            if ((mask >> c & 1) != 0) {
                L::Store(file_ + in.dest[c] + k * Count, saturate ? Clamp01Lanes<L>(d[c]) : d[c]);
            }
        }
    }
    void PutAddress(const BlockInstruction& in, uint32_t k, const F* d) {
        for (int c = 0; c < 4; ++c) {
            if ((in.mask >> c & 1) == 0) {
                continue;
            }
            alignas(32) float lanes[Count];
            L::Store(lanes, d[c]);
            for (float& lane : lanes) {
                lane = static_cast<float>(ShaderAddress(lane, in.op == GpuShaderOp::Mova));
            }
            L::Store(file_ + in.dest[c] + k * Count, L::Load(lanes));
        }
    }

    // c[index + a0.?] of every lane, whole, into the gather's scratch register.
    void Gather(const BlockGather& g) {
        const float* address = file_ + g.address;
        for (uint32_t lane = 0; lane < run_.lanes; ++lane) {
            const float* value = run_.constants->Constant(static_cast<int64_t>(g.index) +
                                                          static_cast<int32_t>(address[lane]));
            for (uint32_t c = 0; c < 4; ++c) {
                file_[g.target + c * BlockLanes + lane] = value != nullptr ? value[c] : 0.0f;
            }
        }
    }

    // d[c] = op(s0[c], s1[c], s2[c]) for the written components: a component at a time over
    // every vector, unless the instruction's components cross.
    template <int Sources, typename Op>
    void Componentwise(const BlockInstruction& in, Op op) {
        if (in.crossed || in.target != BlockTarget::Lanes) {
            Source s[3];
            for (int i = 0; i < Sources; ++i) {
                s[i] = Resolve(in.sources[i]);
            }
            for (uint32_t k = 0; k < vectors_; ++k) {
                F d[4] = {L::Zero(), L::Zero(), L::Zero(), L::Zero()};
                for (int c = 0; c < 4; ++c) {
                    if ((in.mask >> c & 1) != 0) {
                        d[c] = Apply<Sources>(op, s, c, k);
                    }
                }
                Put(in, k, d);
            }
            return;
        }
        uint32_t uniform = 0;
        bool negated = false;
        for (int i = 0; i < Sources; ++i) {
            uniform |= in.sources[i].uniform ? 1u << i : 0u;
            negated = negated || (in.sources[i].negate && !in.sources[i].uniform);
        }
        if (in.saturate) {
            negated ? ColumnOf<Sources, true, true>(uniform, op, in)
                    : ColumnOf<Sources, true, false>(uniform, op, in);
        } else {
            negated ? ColumnOf<Sources, false, true>(uniform, op, in)
                    : ColumnOf<Sources, false, false>(uniform, op, in);
        }
    }

    // Columns for the sources that are constants (bit per source), from Uniform on.
    template <int Sources, bool Saturate, bool Negated, uint32_t Uniform = 0, typename Op>
    void ColumnOf(uint32_t uniform, Op op, const BlockInstruction& in) const {
        if constexpr (Uniform < (1u << Sources)) {
            if (uniform == Uniform) {
                // A whole block, the common case, in loops of a known length.
                if (vectors_ == BlockLanes / Count) {
                    Columns<Sources, Saturate, Negated, Uniform, BlockLanes / Count>(op, in);
                } else {
                    Columns<Sources, Saturate, Negated, Uniform, 0>(op, in);
                }
            } else {
                ColumnOf<Sources, Saturate, Negated, Uniform + 1>(uniform, op, in);
            }
        }
    }

    // Every written component's column, each source's pointer found for that component alone.
    template <int Sources, bool Saturate, bool Negated, uint32_t Uniform, uint32_t Vectors,
              typename Op>
    void Columns(Op op, const BlockInstruction& in) const {
        for (int c = 0; c < 4; ++c) {
            if ((in.mask >> c & 1) == 0) {
                continue;
            }
            const float* at[3] = {};
            bool negate[3] = {};
            for (int i = 0; i < Sources; ++i) {
                const BlockOperand& o = in.sources[i];
                at[i] = ((Uniform >> i & 1) != 0 ? uniforms_ : file_) + o.offset[c];
                negate[i] = o.negate;
            }
            Column<Sources, Saturate, Negated, Uniform, Vectors>(op, at, negate,
                                                                 file_ + in.dest[c]);
        }
    }

    template <int Sources, typename Op>
    [[gnu::always_inline]] static F Apply(Op op, const Source* s, int c, uint32_t k) {
        if constexpr (Sources == 1) {
            return op(Get(s[0], c, k));
        } else if constexpr (Sources == 2) {
            return op(Get(s[0], c, k), Get(s[1], c, k));
        } else {
            return op(Get(s[0], c, k), Get(s[1], c, k), Get(s[2], c, k));
        }
    }

    // One component over every vector, everything it reads in locals (the vector stores may
    // alias anything, so members would be read again after each): a constant source once, a
    // lane source a vector at a time, negated only where Negated; Vectors: the block's vectors,
    // or 0 for vectors_.
    template <int Sources, bool Saturate, bool Negated, uint32_t Uniform, uint32_t Vectors,
              typename Op>
    [[gnu::always_inline]] void Column(Op op, const float* const* at, const bool* negate,
                                       float* out) const {
        F fixed[3] = {L::Zero(), L::Zero(), L::Zero()};
        F sign[3] = {L::Zero(), L::Zero(), L::Zero()};
        for (int i = 0; i < Sources; ++i) {
            sign[i] = negate[i] ? L::Set(-0.0f) : L::Zero();
            if ((Uniform >> i & 1) != 0) {
                fixed[i] = L::Xor(L::Load(at[i]), sign[i]);
            }
        }
        auto get = [&](int i, uint32_t k) {
            if ((Uniform >> i & 1) != 0) {
                return fixed[i];
            }
            const F v = L::Load(at[i] + k * Count);
            return Negated ? L::Xor(v, sign[i]) : v;
        };
        const uint32_t vectors = Vectors != 0 ? Vectors : vectors_;
        for (uint32_t k = 0; k < vectors; ++k) {
            F d;
            if constexpr (Sources == 1) {
                d = op(get(0, k));
            } else if constexpr (Sources == 2) {
                d = op(get(0, k), get(1, k));
            } else {
                d = op(get(0, k), get(1, k), get(2, k));
            }
            L::Store(out + k * Count, Saturate ? Clamp01Lanes<L>(d) : d);
        }
    }

    // One value for every written component, from the sources' vectors.
    template <int Sources, typename Op>
    void Replicated(const BlockInstruction& in, Op op) {
        Source s[3];
        for (int i = 0; i < Sources; ++i) {
            s[i] = Resolve(in.sources[i]);
        }
        for (uint32_t k = 0; k < vectors_; ++k) {
            const F v = op(s, k);
            const F d[4] = {v, v, v, v};
            Put(in, k, d);
        }
    }

    static F Dot3(const F* a, const F* b) {
        return L::Add(L::Add(L::Mul(a[0], b[0]), L::Mul(a[1], b[1])), L::Mul(a[2], b[2]));
    }
    static F Dot4(const F* a, const F* b) { return L::Add(Dot3(a, b), L::Mul(a[3], b[3])); }
    static void GetAll(const Source& s, uint32_t k, F* out) {
        for (int c = 0; c < 4; ++c) {
            out[c] = Get(s, c, k);
        }
    }

    void Matrix(const BlockInstruction& in) {
        Source v = Resolve(in.sources[0]);
        Source rows[4];
        for (uint32_t i = 0; i < in.rows; ++i) {
            rows[i] = Resolve(in.sources[1 + i]);
        }
        const bool four = in.op != GpuShaderOp::M3x3;
        for (uint32_t k = 0; k < vectors_; ++k) {
            F a[4];
            GetAll(v, k, a);
            F d[4] = {L::Zero(), L::Zero(), L::Zero(), L::Zero()};
            for (uint32_t i = 0; i < in.rows; ++i) {
                if ((in.mask >> i & 1) != 0) {
                    F m[4];
                    GetAll(rows[i], k, m);
                    d[i] = four ? Dot4(a, m) : Dot3(a, m);
                }
            }
            Put(in, k, d);
        }
    }

    void Normalize(const BlockInstruction& in) {
        const Source s = Resolve(in.sources[0]);
        for (uint32_t k = 0; k < vectors_; ++k) {
            F a[4];
            GetAll(s, k, a);
            const F length = L::Sqrt(Dot3(a, a));
            const F scale = L::And(L::Less(L::Zero(), length), L::Div(L::Set(1.0f), length));
            F d[4];
            for (int c = 0; c < 4; ++c) {
                d[c] = L::Mul(a[c], scale);
            }
            Put(in, k, d);
        }
    }

    void Cross(const BlockInstruction& in) {
        const Source s0 = Resolve(in.sources[0]);
        const Source s1 = Resolve(in.sources[1]);
        for (uint32_t k = 0; k < vectors_; ++k) {
            F a[4], b[4];
            GetAll(s0, k, a);
            GetAll(s1, k, b);
            const F d[4] = {L::Sub(L::Mul(a[1], b[2]), L::Mul(a[2], b[1])),
                            L::Sub(L::Mul(a[2], b[0]), L::Mul(a[0], b[2])),
                            L::Sub(L::Mul(a[0], b[1]), L::Mul(a[1], b[0])), L::Zero()};
            Put(in, k, d);
        }
    }

    void Distance(const BlockInstruction& in) {
        const Source s0 = Resolve(in.sources[0]);
        const Source s1 = Resolve(in.sources[1]);
        for (uint32_t k = 0; k < vectors_; ++k) {
            const F d[4] = {L::Set(1.0f), L::Mul(Get(s0, 1, k), Get(s1, 1, k)), Get(s0, 2, k),
                            Get(s1, 3, k)};
            Put(in, k, d);
        }
    }

    // The reference's arithmetic, lane by lane.
    void PerLane(const BlockInstruction& in, int sources) {
        Source s[2];
        for (int i = 0; i < sources; ++i) {
            s[i] = Resolve(in.sources[i]);
        }
        const bool vs11 = run_.program->Vs11();
        for (uint32_t k = 0; k < vectors_; ++k) {
            alignas(32) float values[2][4][Count] = {};
            for (int i = 0; i < sources; ++i) {
                for (int c = 0; c < 4; ++c) {
                    L::Store(values[i][c], Get(s[i], c, k));
                }
            }
            alignas(32) float results[4][Count];
            for (uint32_t lane = 0; lane < Count; ++lane) {
                float a[4], b[4], d[4] = {};
                for (int c = 0; c < 4; ++c) {
                    a[c] = values[0][c][lane];
                    b[c] = values[1][c][lane];
                }
                const float none[4] = {};
                ShaderArithmetic(in.op, vs11, a, b, none, d);
                for (int c = 0; c < 4; ++c) {
                    results[c][lane] = d[c];
                }
            }
            const F d[4] = {L::Load(results[0]), L::Load(results[1]), L::Load(results[2]),
                            L::Load(results[3])};
            Put(in, k, d);
        }
    }

    void Kill(const BlockInstruction& in) {
        const Source s = Resolve(in.sources[0]);
        for (uint32_t k = 0; k < vectors_; ++k) {
            F killed = L::Zero();
            for (int c = 0; c < 4; ++c) {
                if ((in.mask >> c & 1) != 0) {
                    killed = L::Or(killed, L::Less(Get(s, c, k), L::Zero()));
                }
            }
            const auto bits = static_cast<uint64_t>(L::Mask(killed));
            run_.kept &= ~(bits << (k * Count));
        }
    }

    // The sampler reads a lane register's components in place and writes the destination's;
    // only negated or constant coordinates are copied first.
    void Texture(const BlockInstruction& in) {
        const BlockOperand& o = in.sources[0];
        const float* coords[4];
        if (!o.uniform && !o.negate) {
            for (int c = 0; c < 4; ++c) {
                coords[c] = file_ + o.offset[c];
            }
        } else {
            const Source s = Resolve(o);
            float* copy = file_ + run_.program->CoordOffset();
            for (int c = 0; c < 4; ++c) {
                for (uint32_t k = 0; k < vectors_; ++k) {
                    L::Store(copy + c * BlockLanes + k * Count, Get(s, c, k));
                }
                coords[c] = copy + c * BlockLanes;
            }
        }
        float* texels[4] = {};
        for (int c = 0; c < 4; ++c) {
            if ((in.mask >> c & 1) != 0) {
                texels[c] = file_ + in.dest[c];
            }
        }
        if (run_.sampler != nullptr) {
            run_.sampler->SampleBlock(in.sampler, in.control, coords, texels, run_.lanes,
                                      run_.rowStride);
        } else {
            for (float* t : texels) {
                if (t != nullptr) {
                    std::fill_n(t, run_.lanes, 0.0f);
                }
            }
        }
        for (float* t : texels) {
            for (uint32_t k = 0; in.saturate && t != nullptr && k < vectors_; ++k) {
                L::Store(t + k * Count, Clamp01Lanes<L>(L::Load(t + k * Count)));
            }
        }
    }

    void Step(const BlockInstruction& in) {
        const F one = L::Set(1.0f);
        switch (in.op) {
        case GpuShaderOp::Mov:
        case GpuShaderOp::Mova:
            Componentwise<1>(in, [](F a) { return a; });
            break;
        case GpuShaderOp::Add:
            Componentwise<2>(in, [](F a, F b) { return L::Add(a, b); });
            break;
        case GpuShaderOp::Sub:
            Componentwise<2>(in, [](F a, F b) { return L::Sub(a, b); });
            break;
        case GpuShaderOp::Mul:
            Componentwise<2>(in, [](F a, F b) { return L::Mul(a, b); });
            break;
        case GpuShaderOp::Mad:
            Componentwise<3>(in, [](F a, F b, F c) { return L::Add(L::Mul(a, b), c); });
            break;
        case GpuShaderOp::Min:
            // a < b ? a : b, as minps answers.
            Componentwise<2>(in, [](F a, F b) { return L::Min(a, b); });
            break;
        case GpuShaderOp::Max:
            Componentwise<2>(in, [](F a, F b) { return L::Select(L::GreaterEqual(a, b), a, b); });
            break;
        case GpuShaderOp::Slt:
            Componentwise<2>(in, [one](F a, F b) { return L::And(L::Less(a, b), one); });
            break;
        case GpuShaderOp::Sge:
            Componentwise<2>(in, [one](F a, F b) { return L::And(L::GreaterEqual(a, b), one); });
            break;
        case GpuShaderOp::Frc:
            Componentwise<1>(in, [](F a) { return L::Sub(a, L::Floor(a)); });
            break;
        case GpuShaderOp::Abs:
            Componentwise<1>(in, [](F a) { return L::AndNot(L::Set(-0.0f), a); });
            break;
        case GpuShaderOp::Lrp:
            Componentwise<3>(in, [](F a, F b, F c) { return L::Add(L::Mul(a, L::Sub(b, c)), c); });
            break;
        case GpuShaderOp::Cmp:
            Componentwise<3>(
                in, [](F a, F b, F c) { return L::Select(L::GreaterEqual(a, L::Zero()), b, c); });
            break;
        case GpuShaderOp::Rcp:
            // 1 / 1 is 1: the reference's special case needs none here.
            Replicated<1>(
                in, [one](const Source* s, uint32_t k) { return L::Div(one, Get(s[0], 3, k)); });
            break;
        case GpuShaderOp::Rsq:
            Replicated<1>(in, [one](const Source* s, uint32_t k) {
                return L::Div(one, L::Sqrt(L::AndNot(L::Set(-0.0f), Get(s[0], 3, k))));
            });
            break;
        case GpuShaderOp::Dp3:
            Replicated<2>(in, [](const Source* s, uint32_t k) {
                F a[4], b[4];
                GetAll(s[0], k, a);
                GetAll(s[1], k, b);
                return Dot3(a, b);
            });
            break;
        case GpuShaderOp::Dp4:
            Replicated<2>(in, [](const Source* s, uint32_t k) {
                F a[4], b[4];
                GetAll(s[0], k, a);
                GetAll(s[1], k, b);
                return Dot4(a, b);
            });
            break;
        case GpuShaderOp::Dp2Add:
            Replicated<3>(in, [](const Source* s, uint32_t k) {
                return L::Add(L::Add(L::Mul(Get(s[0], 0, k), Get(s[1], 0, k)),
                                     L::Mul(Get(s[0], 1, k), Get(s[1], 1, k))),
                              Get(s[2], 3, k));
            });
            break;
        case GpuShaderOp::M4x4:
        case GpuShaderOp::M4x3:
        case GpuShaderOp::M3x3:
            Matrix(in);
            break;
        case GpuShaderOp::Nrm:
            Normalize(in);
            break;
        case GpuShaderOp::Crs:
            Cross(in);
            break;
        case GpuShaderOp::Dst:
            Distance(in);
            break;
        case GpuShaderOp::Pow:
            PerLane(in, 2);
            break;
        case GpuShaderOp::Exp:
        case GpuShaderOp::Log:
        case GpuShaderOp::Expp:
        case GpuShaderOp::Logp:
        case GpuShaderOp::Lit:
        case GpuShaderOp::SinCos:
            PerLane(in, 1);
            break;
        case GpuShaderOp::TexKill:
            Kill(in);
            break;
        case GpuShaderOp::Tex:
            Texture(in);
            break;
        case GpuShaderOp::Dcl:
        case GpuShaderOp::Def:
            break;
        }
    }

    ShaderBlockRun& run_;
    float* file_;
    const float* uniforms_;
    uint32_t vectors_;
};

} // namespace
} // namespace quarn
