#include "gpu/software/ShaderMachine.h"

#include "gpu/software/ShaderBlock.h"
#include "gpu/software/SoftwareDevice.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace quarn {

SoftwareShader::SoftwareShader(std::shared_ptr<SoftwareDeviceLink> link, GpuShaderProgram program)
    : link_(std::move(link)), program_(std::move(program)),
      block_(std::make_unique<BlockProgram>(program_)) {}

SoftwareShader::~SoftwareShader() {
    if (link_->device != nullptr) {
        link_->device->Forget(this);
    }
}

void ShaderMachine::Setup(const GpuShaderProgram& program, const float (*constants)[4],
                          uint32_t count) {
    program_ = &program;
    constantCount_ = std::min<uint32_t>(count, GpuVertexConstCount);
    // Row by row: a pointer runs past one row's four floats only into the next row.
    for (uint32_t i = 0; i < constantCount_; ++i) {
        std::copy(constants[i], constants[i] + 4, constants_[i]);
    }
    for (const GpuShaderConstant& c : program.constants) {
        std::copy(c.value, c.value + 4, constants_[c.index]);
    }
    texCoordSets_ = 0;
    if (program.kind == GpuShaderKind::Pixel) {
        auto note = [&](GpuShaderRegister type, uint32_t index) {
            if (type == GpuShaderRegister::AddressOrTexture) {
                texCoordSets_ = std::max(texCoordSets_, index + 1);
            }
        };
        for (const GpuShaderInstruction& in : program.instructions) {
            note(in.dest.type, in.dest.index); // texkill reads its operand
            for (uint32_t i = 0; i < in.sourceCount; ++i) {
                note(in.sources[i].type, in.sources[i].index);
            }
            // A matrix reads its rows from the registers after the one it names.
            const uint32_t rows = ShaderMatrixRows(in.op);
            if (rows > 0) {
                note(in.sources[1].type,
                     std::min(in.sources[1].index + rows, GpuPixelTexCoordCount) - 1);
            }
        }
    }
}

namespace {

float Dot3(const float* a, const float* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
float Dot4(const float* a, const float* b) {
    return Dot3(a, b) + a[3] * b[3];
}

float Log2(float x) {
    const float a = std::fabs(x);
    return a == 0.0f ? -FLT_MAX : std::log2(a);
}

const float Zero[4] = {};

// NaN saturates to 0, as it does on hardware.
float Saturate(float v, bool saturate) {
    return saturate ? (v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f) : v;
}

} // namespace

uint32_t ShaderMatrixRows(GpuShaderOp op) {
    return op == GpuShaderOp::M4x4 ? 4 : op == GpuShaderOp::M4x3 || op == GpuShaderOp::M3x3 ? 3 : 0;
}

int32_t ShaderAddress(float value, bool round) {
    const float v = round ? std::floor(value + 0.5f) : std::floor(value);
    // NaN has no integer; it takes the value x86's conversion gives it, which indexes nothing.
    if (v != v) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(std::clamp(v, -1024.0f, 1024.0f));
}

void ShaderArithmetic(GpuShaderOp op, bool vs11, const float* s0, const float* s1, const float* s2,
                      float d[4]) {
    auto scalar = [&](float v) { std::fill(d, d + 4, v); };
    switch (op) {
    case GpuShaderOp::Mov:
    case GpuShaderOp::Mova:
        std::copy(s0, s0 + 4, d);
        break;
    case GpuShaderOp::Add:
        for (int i = 0; i < 4; ++i)
            d[i] = s0[i] + s1[i];
        break;
    case GpuShaderOp::Sub:
        for (int i = 0; i < 4; ++i)
            d[i] = s0[i] - s1[i];
        break;
    case GpuShaderOp::Mul:
        for (int i = 0; i < 4; ++i)
            d[i] = s0[i] * s1[i];
        break;
    case GpuShaderOp::Mad:
        for (int i = 0; i < 4; ++i)
            d[i] = s0[i] * s1[i] + s2[i];
        break;
    case GpuShaderOp::Min:
        for (int i = 0; i < 4; ++i)
            d[i] = s0[i] < s1[i] ? s0[i] : s1[i];
        break;
    case GpuShaderOp::Max:
        for (int i = 0; i < 4; ++i)
            d[i] = s0[i] >= s1[i] ? s0[i] : s1[i];
        break;
    case GpuShaderOp::Slt:
        for (int i = 0; i < 4; ++i)
            d[i] = s0[i] < s1[i] ? 1.0f : 0.0f;
        break;
    case GpuShaderOp::Sge:
        for (int i = 0; i < 4; ++i)
            d[i] = s0[i] >= s1[i] ? 1.0f : 0.0f;
        break;
    case GpuShaderOp::Frc:
        for (int i = 0; i < 4; ++i)
            d[i] = s0[i] - std::floor(s0[i]);
        break;
    case GpuShaderOp::Abs:
        for (int i = 0; i < 4; ++i)
            d[i] = std::fabs(s0[i]);
        break;
    case GpuShaderOp::Lrp:
        for (int i = 0; i < 4; ++i)
            d[i] = s0[i] * (s1[i] - s2[i]) + s2[i];
        break;
    case GpuShaderOp::Cmp:
        for (int i = 0; i < 4; ++i)
            d[i] = s0[i] >= 0.0f ? s1[i] : s2[i];
        break;
    case GpuShaderOp::Rcp:
        scalar(s0[3] == 1.0f ? 1.0f : 1.0f / s0[3]);
        break;
    case GpuShaderOp::Rsq:
        scalar(1.0f / std::sqrt(std::fabs(s0[3])));
        break;
    case GpuShaderOp::Dp3:
        scalar(Dot3(s0, s1));
        break;
    case GpuShaderOp::Dp4:
        scalar(Dot4(s0, s1));
        break;
    case GpuShaderOp::Dp2Add:
        scalar(s0[0] * s1[0] + s0[1] * s1[1] + s2[3]);
        break;
    case GpuShaderOp::Exp:
        scalar(std::exp2(s0[3]));
        break;
    case GpuShaderOp::Log:
        scalar(Log2(s0[3]));
        break;
    case GpuShaderOp::Pow:
        scalar(std::pow(std::fabs(s0[3]), s1[3]));
        break;
    case GpuShaderOp::Expp:
        if (vs11) {
            const float w = s0[3];
            d[0] = std::exp2(std::floor(w));
            d[1] = w - std::floor(w);
            d[2] = std::exp2(w);
            d[3] = 1.0f;
        } else {
            scalar(std::exp2(s0[3]));
        }
        break;
    case GpuShaderOp::Logp:
        if (vs11) {
            const float w = std::fabs(s0[3]);
            if (w == 0.0f) {
                d[0] = d[2] = -FLT_MAX;
                d[1] = 1.0f;
            } else {
                int exponent = 0;
                const float mantissa = std::frexp(w, &exponent);
                d[0] = static_cast<float>(exponent - 1);
                d[1] = mantissa * 2.0f;
                d[2] = std::log2(w);
            }
            d[3] = 1.0f;
        } else {
            scalar(Log2(s0[3]));
        }
        break;
    case GpuShaderOp::Lit: {
        const float power = std::clamp(s0[3], -128.0f, 128.0f);
        d[0] = d[3] = 1.0f;
        d[1] = std::max(s0[0], 0.0f);
        d[2] = s0[0] > 0.0f && s0[1] > 0.0f ? std::pow(s0[1], power) : 0.0f;
        break;
    }
    case GpuShaderOp::Dst:
        d[0] = 1.0f;
        d[1] = s0[1] * s1[1];
        d[2] = s0[2];
        d[3] = s1[3];
        break;
    case GpuShaderOp::Crs:
        d[0] = s0[1] * s1[2] - s0[2] * s1[1];
        d[1] = s0[2] * s1[0] - s0[0] * s1[2];
        d[2] = s0[0] * s1[1] - s0[1] * s1[0];
        break;
    case GpuShaderOp::Nrm: {
        const float length = std::sqrt(Dot3(s0, s0));
        const float k = length > 0.0f ? 1.0f / length : 0.0f;
        for (int i = 0; i < 4; ++i)
            d[i] = s0[i] * k;
        break;
    }
    case GpuShaderOp::SinCos:
        d[0] = std::cos(s0[3]);
        d[1] = std::sin(s0[3]);
        break;
    default: // matrices, texkill and texld are the caller's; dcl and def run nothing
        break;
    }
}

void ShaderQuadDerivatives(const float (*coords)[4], uint32_t control, float derivatives[4]) {
    float at[4][2]; // where the level of detail sees each lane: divided by w for texldp
    for (int lane = 0; lane < 4; ++lane) {
        const float w = coords[lane][3];
        const bool divide = control == GpuShaderTexProject && w != 0.0f;
        at[lane][0] = divide ? coords[lane][0] / w : coords[lane][0];
        at[lane][1] = divide ? coords[lane][1] / w : coords[lane][1];
    }
    // One level for the quad, from its upper row and left column, as hardware does.
    derivatives[0] = at[1][0] - at[0][0];
    derivatives[1] = at[1][1] - at[0][1];
    derivatives[2] = at[2][0] - at[0][0];
    derivatives[3] = at[2][1] - at[0][1];
    for (int i = 0; i < 4; ++i) {
        derivatives[i] = std::isfinite(derivatives[i]) ? derivatives[i] : 0.0f;
    }
}

const float* ShaderMachine::Read(const ShaderRegisters& r, const GpuShaderSource& s,
                                 float out[4]) const {
    const float* base = Zero;
    // A matrix's later rows may name registers past the file's end: those read zero.
    const bool past =
        s.index >= GpuShaderRegisterCount(program_->kind, s.type, false) && !s.relative &&
        !(program_->kind == GpuShaderKind::Vertex && s.type == GpuShaderRegister::AddressOrTexture);
    switch (past ? GpuShaderRegister::Sampler : s.type) {
    case GpuShaderRegister::Temp:
        base = r.temps[s.index];
        break;
    case GpuShaderRegister::Input:
        base = r.inputs[s.index];
        break;
    case GpuShaderRegister::Const: {
        int64_t index = s.index;
        if (s.relative) {
            index += r.address[s.relativeComponent];
        }
        // Out of range reads zero, as relative addressing past the file does on hardware.
        base = index >= 0 && index < constantCount_ ? constants_[index] : Zero;
        break;
    }
    case GpuShaderRegister::AddressOrTexture:
        if (program_->kind == GpuShaderKind::Pixel) {
            base = r.textures[s.index];
        } else {
            for (int i = 0; i < 4; ++i) {
                out[i] = static_cast<float>(r.address[s.swizzle[i]]);
            }
            base = nullptr;
        }
        break;
    default:
        break;
    }
    if (base != nullptr) {
        for (int i = 0; i < 4; ++i) {
            out[i] = base[s.swizzle[i]];
        }
    }
    if (s.modifier == GpuShaderSourceModifier::Negate) {
        for (int i = 0; i < 4; ++i) {
            out[i] = -out[i];
        }
    }
    return out;
}

void ShaderMachine::Clear(ShaderRegisters& r) {
    // Every run starts afresh: a register read before the program writes it reads zero, not what
    // an earlier vertex or pixel left in it.
    for (float(&t)[4] : r.temps) {
        std::fill(t, t + 4, 0.0f);
    }
    std::fill(r.address, r.address + 4, 0);
}

bool ShaderMachine::Run(ShaderRegisters& r, const ShaderSampler* sampler) const {
    Clear(r);
    const float still[4] = {};
    for (const GpuShaderInstruction& in : program_->instructions) {
        float texel[4] = {};
        if (in.op == GpuShaderOp::Tex && sampler != nullptr) {
            float coord[4];
            Read(r, in.sources[0], coord);
            sampler->Sample(in.sources[1].index, coord, still, in.control, texel);
        }
        if (!Step(in, r, texel)) {
            return false;
        }
    }
    return true;
}

void ShaderMachine::RunQuads(ShaderRegisters* r, uint32_t count, const ShaderSampler& sampler,
                             uint32_t* kept) const {
    std::fill(kept, kept + count, 0xFu);
    for (uint32_t i = 0; i < 4 * count; ++i) {
        Clear(r[i]);
    }
    const float none[4] = {};
    // Instruction by instruction over every lane: each instruction's work repeats back to back.
    for (const GpuShaderInstruction& in : program_->instructions) {
        if (in.op != GpuShaderOp::Tex) {
            for (uint32_t i = 0; i < 4 * count; ++i) {
                // A discarded lane runs on, so its neighbours still see its coordinates.
                if (!Step(in, r[i], none)) {
                    kept[i / 4] &= ~(1u << (i % 4));
                }
            }
            continue;
        }
        for (uint32_t q = 0; q < count; ++q) {
            ShaderRegisters* quad = r + 4 * q;
            float coords[4][4];
            for (int lane = 0; lane < 4; ++lane) {
                Read(quad[lane], in.sources[0], coords[lane]);
            }
            float derivatives[4];
            ShaderQuadDerivatives(coords, in.control, derivatives);
            float texels[4][4];
            sampler.SampleQuad(in.sources[1].index, coords, derivatives, in.control, texels);
            for (int lane = 0; lane < 4; ++lane) {
                Step(in, quad[lane], texels[lane]);
            }
        }
    }
}

bool ShaderMachine::Step(const GpuShaderInstruction& in, ShaderRegisters& r,
                         const float texel[4]) const {
    const bool vs11 = program_->kind == GpuShaderKind::Vertex && program_->version == 0x0101;
    float a[4], b[4], c[4], d[4] = {};
    const float* s0 = in.sourceCount > 0 ? Read(r, in.sources[0], a) : Zero;
    const float* s1 = in.sourceCount > 1 ? Read(r, in.sources[1], b) : Zero;
    const float* s2 = in.sourceCount > 2 ? Read(r, in.sources[2], c) : Zero;
    switch (in.op) {
    case GpuShaderOp::M4x4:
    case GpuShaderOp::M4x3:
    case GpuShaderOp::M3x3: {
        GpuShaderSource row = in.sources[1];
        for (uint32_t i = 0; i < ShaderMatrixRows(in.op); ++i, ++row.index) {
            float m[4];
            Read(r, row, m);
            d[i] = in.op == GpuShaderOp::M3x3 ? Dot3(s0, m) : Dot4(s0, m);
        }
        break;
    }
    case GpuShaderOp::TexKill: {
        // The register it names, whatever its file, unswizzled.
        GpuShaderSource operand;
        operand.type = in.dest.type;
        operand.index = in.dest.index;
        float v[4];
        Read(r, operand, v);
        for (int i = 0; i < 4; ++i) {
            if ((in.dest.writeMask >> i & 1) != 0 && v[i] < 0.0f) {
                return false;
            }
        }
        return true;
    }
    case GpuShaderOp::Tex:
        std::copy(texel, texel + 4, d);
        break;
    case GpuShaderOp::Dcl:
    case GpuShaderOp::Def:
        return true;
    default:
        ShaderArithmetic(in.op, vs11, s0, s1, s2, d);
        break;
    }
    const GpuShaderDest& dest = in.dest;
    float* target = nullptr;
    switch (dest.type) {
    case GpuShaderRegister::Temp:
        target = r.temps[dest.index];
        break;
    case GpuShaderRegister::AddressOrTexture:
        // vs_1_1's mov to a0 floors; mova rounds to nearest.
        for (int i = 0; i < 4; ++i) {
            if ((dest.writeMask >> i & 1) != 0) {
                r.address[i] = ShaderAddress(d[i], in.op == GpuShaderOp::Mova);
            }
        }
        return true;
    case GpuShaderRegister::RasterOut:
        target = r.outputs[ShaderOutPosition + dest.index];
        r.written |= 1u << (ShaderOutPosition + dest.index);
        break;
    case GpuShaderRegister::AttrOut:
        target = r.outputs[ShaderOutColor + dest.index];
        r.written |= 1u << (ShaderOutColor + dest.index);
        break;
    case GpuShaderRegister::TexCoordOut:
        target = r.outputs[ShaderOutTexCoord + dest.index];
        r.written |= 1u << (ShaderOutTexCoord + dest.index);
        break;
    case GpuShaderRegister::ColorOut:
        target = r.outputs[0];
        r.written |= 1u;
        break;
    default:
        return true;
    }
    for (int i = 0; i < 4; ++i) {
        if ((dest.writeMask >> i & 1) != 0) {
            target[i] = Saturate(d[i], dest.saturate);
        }
    }
    return true;
}

} // namespace quarn
