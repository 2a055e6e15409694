#pragma once

// The block runner against the reference interpreter: the same program over the same 64 lanes
// (16 quads for a pixel program), inputs and constants through both, every output bit compared.
// Also a generator of valid random programs. Shared by the tests and the fuzz target.

#include "gpu/software/ShaderBlock.h"
#include "gpu/software/ShaderMachine.h"
#include "gpu/software/VertexProcessing.h"
#include "gpu/software/WideLanes.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace quarn::test {

// A small generator of 32-bit values, the same on every run.
class LaneNoise {
public:
    explicit LaneNoise(uint32_t seed) : state_(seed * 2654435761u + 1) {}
    uint32_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
    // Ordinary values, and now and then one of the arithmetic's corners.
    float Value() {
        static constexpr float Corners[] = {0.0f,      -0.0f,      1.0f,      -1.0f,    0.5f,
                                            2.0f,      1.0e30f,    -1.0e-30f, 1.0e-40f, -1.0e-40f,
                                            HUGE_VALF, -HUGE_VALF, NAN,       -3.0f,    1024.5f};
        const uint32_t r = Next();
        if ((r & 7) == 0) {
            return Corners[(r >> 3) % std::size(Corners)];
        }
        return static_cast<float>(r & 0xFFFF) / 4096.0f - 8.0f;
    }

private:
    uint32_t state_;
};

inline bool SameBits(float a, float b) {
    // NaN payloads follow whichever operand the compiler put first; nothing reads them.
    return (std::isnan(a) && std::isnan(b)) ||
           std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}

// texld's stand-in: texels from the coordinates, the quad's derivatives, the sampler and the
// control, so that a runner that hands texld other values shows.
inline void TestTexel(uint32_t sampler, uint32_t control, const float coord[4],
                      const float derivatives[4], float out[4]) {
    for (int c = 0; c < 4; ++c) {
        out[c] = coord[c] * (1.0f + static_cast<float>(sampler)) + derivatives[c] -
                 static_cast<float>(control);
    }
}

class TestSampler final : public ShaderSampler {
public:
    void Sample(uint32_t sampler, const float coord[4], const float derivatives[4],
                uint32_t control, float out[4]) const override {
        TestTexel(sampler, control, coord, derivatives, out);
    }
    void SampleQuad(uint32_t sampler, const float (*coords)[4], const float derivatives[4],
                    uint32_t control, float (*out)[4]) const override {
        for (int lane = 0; lane < 4; ++lane) {
            TestTexel(sampler, control, coords[lane], derivatives, out[lane]);
        }
    }
};

class TestBlockSampler final : public BlockSampler {
public:
    void SampleBlock(uint32_t sampler, uint32_t control, const float* const* coords,
                     float* const* texels, uint32_t, uint32_t rowStride) const override {
        for (uint32_t q = 0; 2 * q < rowStride; ++q) {
            const uint32_t at[4] = {2 * q, 2 * q + 1, rowStride + 2 * q, rowStride + 2 * q + 1};
            float quad[4][4];
            for (int lane = 0; lane < 4; ++lane) {
                for (uint32_t c = 0; c < 4; ++c) {
                    quad[lane][c] = coords[c][at[lane]];
                }
            }
            float derivatives[4];
            ShaderQuadDerivatives(quad, control, derivatives);
            for (int lane = 0; lane < 4; ++lane) {
                float out[4];
                TestTexel(sampler, control, quad[lane], derivatives, out);
                for (uint32_t c = 0; c < 4; ++c) {
                    if (texels[c] != nullptr) {
                        texels[c][at[lane]] = out[c];
                    }
                }
            }
        }
    }
};

// Runs `program` through the reference and the block runner (eight lanes a step if `wide` and
// the processor has AVX2) on inputs and constants made from `seed`; answers "" when every
// output bit and every lane texkill keeps agree, else what differs first.
inline std::string CompareWithReference(const GpuShaderProgram& program, uint32_t seed, bool wide) {
    LaneNoise noise(seed);
    const bool vertex = program.kind == GpuShaderKind::Vertex;
    const uint32_t count = vertex ? GpuVertexConstCount : GpuPixelConstCount;
    std::vector<float> values(4 * count);
    for (float& v : values) {
        v = noise.Value();
    }
    const auto* constants = reinterpret_cast<const float(*)[4]>(values.data());
    ShaderMachine machine;
    machine.Setup(program, constants, count);
    const BlockProgram block(program);
    BlockConstants blockConstants;
    blockConstants.Setup(block, program, constants, count);
    BlockFile files;
    float* file = files.Reserve(block.Registers());
    for (uint32_t i = 0; i < block.Registers() * BlockRegisterFloats; ++i) {
        file[i] = noise.Value(); // nor the file's
    }
    constexpr uint32_t Quads = BlockLanes / 4;
    constexpr uint32_t Stride = BlockLanes / 2;
    // Reference lane i is block lane BlockLane(i): quad q's (x, y), (x + 1, y) in the upper
    // row, (x, y + 1), (x + 1, y + 1) in the lower.
    auto blockLane = [&](uint32_t i) {
        return vertex ? i : (i % 4 >= 2 ? Stride : 0) + 2 * (i / 4) + i % 2;
    };
    std::vector<ShaderRegisters> r(BlockLanes, ShaderRegisters{});
    for (uint32_t i = 0; i < BlockLanes; ++i) {
        // The registers' earlier contents must not matter.
        const float stale = noise.Value();
        for (float(&t)[4] : r[i].temps) {
            std::fill(t, t + 4, stale);
        }
        std::fill(r[i].address, r[i].address + 4, 3);
        const uint32_t lane = blockLane(i);
        if (vertex) {
            for (const GpuShaderDeclaration& d : program.declarations) {
                if (d.type != GpuShaderRegister::Input) {
                    continue;
                }
                const uint32_t offset = block.Input(d.index);
                for (uint32_t c = 0; c < 4; ++c) {
                    r[i].inputs[d.index][c] = noise.Value();
                    if (offset != NoBlockOffset) {
                        file[offset + c * BlockLanes + lane] = r[i].inputs[d.index][c];
                    }
                }
            }
            continue;
        }
        float attr[RasterMaxAttributes];
        for (float& a : attr) {
            a = noise.Value();
        }
        std::copy(attr + AttrDiffuse, attr + AttrDiffuse + 4, r[i].inputs[0]);
        std::copy(attr + AttrSpecular, attr + AttrSpecular + 3, r[i].inputs[1]);
        r[i].inputs[1][3] = 0.0f;
        for (uint32_t t = 0; t < GpuPixelTexCoordCount; ++t) {
            std::copy(attr + AttrTexture + 4 * t, attr + AttrTexture + 4 * t + 4, r[i].textures[t]);
        }
        for (const BlockAttribute& a : block.Attributes(false)) {
            file[a.offset + lane] = attr[a.attribute];
        }
    }
    const TestSampler sampler;
    const TestBlockSampler blockSampler;
    uint32_t kept[Quads];
    if (vertex) {
        for (ShaderRegisters& lane : r) {
            machine.Run(lane, nullptr);
        }
    } else {
        machine.RunQuads(r.data(), Quads, sampler, kept);
    }
    ShaderBlockRun run;
    run.program = &block;
    run.constants = &blockConstants;
    run.file = file;
    run.lanes = BlockLanes;
    run.rowStride = Stride;
    run.sampler = &blockSampler;
    run.kept = ~uint64_t{0};
    AllowWideLanes(wide);
    RunShaderBlock(run);
    AllowWideLanes(true);

    char text[160];
    for (uint32_t i = 0; i < BlockLanes; ++i) {
        const uint32_t lane = blockLane(i);
        if (!vertex && ((kept[i / 4] >> (i % 4) & 1) != 0) != ((run.kept >> lane & 1) != 0)) {
            std::snprintf(text, sizeof text, "lane %u: texkill differs", i);
            return text;
        }
        for (uint32_t slot = 0; slot < (vertex ? ShaderOutCount : 1); ++slot) {
            const uint32_t offset = block.Output(slot);
            if (vertex && ((r[i].written ^ block.Written()) >> slot & 1) != 0) {
                std::snprintf(text, sizeof text, "lane %u: output %u is written by one only", i,
                              slot);
                return text;
            }
            for (uint32_t c = 0; c < 4; ++c) {
                const float expected = r[i].outputs[slot][c];
                const float got =
                    offset != NoBlockOffset ? file[offset + c * BlockLanes + lane] : 0.0f;
                if (!SameBits(expected, got)) {
                    std::snprintf(text, sizeof text,
                                  "lane %u, output %u.%u: reference %a (0x%08X), block %a (0x%08X)",
                                  i, slot, c, expected, std::bit_cast<uint32_t>(expected), got,
                                  std::bit_cast<uint32_t>(got));
                    return text;
                }
            }
        }
    }
    return "";
}

// A valid token stream of `kind` and `version` ((major << 8) | minor): declarations, a few def
// constants, and random instructions of the subset over random registers, swizzles, masks and
// modifiers, relative addressing included, ending with writes of the outputs.
inline std::vector<uint32_t> RandomProgram(GpuShaderKind kind, uint32_t version, uint32_t seed) {
    LaneNoise noise(seed);
    const bool vertex = kind == GpuShaderKind::Vertex;
    const bool two = version >= 0x0200;
    auto reg = [](uint32_t type, uint32_t index) {
        return 0x80000000u | (type & 7) << 28 | (type & 0x18) << 8 | index;
    };
    auto op = [&](uint32_t opcode, uint32_t length) { return opcode | (two ? length << 24 : 0); };
    std::vector<uint32_t> words = {(vertex ? 0xFFFE0000u : 0xFFFF0000u) | version};
    if (vertex) {
        static constexpr uint32_t Usages[] = {0, 1, 3, 5, 10};
        for (uint32_t i = 0; i < 4; ++i) {
            words.insert(words.end(),
                         {op(31, 2), 0x80000000u | Usages[noise.Below(5)] | noise.Below(2) << 16,
                          reg(1, noise.Below(GpuVertexInputCount)) | 0xF0000});
        }
    } else {
        for (uint32_t t = 0; t < 3; ++t) {
            words.insert(words.end(), {op(31, 2), 0x80000000u, reg(3, t) | 0xF0000});
        }
        words.insert(words.end(), {op(31, 2), 0x80000000u | 2u << 27, reg(10, 0) | 0xF0000});
    }
    for (uint32_t d = 0; d < 2; ++d) {
        words.insert(words.end(), {op(81, 5), reg(2, noise.Below(vertex ? 256 : 32)) | 0xF0000});
        for (int c = 0; c < 4; ++c) {
            words.push_back(std::bit_cast<uint32_t>(noise.Value()));
        }
    }
    std::vector<const GpuShaderOpcodeInfo*> ops;
    for (uint32_t code = 1; code < 100; ++code) {
        if (const GpuShaderOpcodeInfo* info = FindShaderOpcode(code, kind, version)) {
            ops.push_back(info);
        }
    }
    const uint32_t temps = vertex ? GpuVertexTempCount : 8;
    auto source = [&](bool sampler) -> std::vector<uint32_t> {
        if (sampler) {
            return {reg(10, 0) | 0xE40000};
        }
        const uint32_t swizzle = noise.Below(4) == 0 ? noise.Below(256) : 0xE4;
        const uint32_t negate = noise.Below(4) == 0 ? 1u << 24 : 0;
        uint32_t token = 0;
        switch (noise.Below(vertex ? 5 : 4)) {
        case 0:
        case 1:
            token = reg(0, noise.Below(temps));
            break;
        case 2:
            token = vertex ? reg(1, noise.Below(GpuVertexInputCount)) : reg(3, noise.Below(3));
            break;
        case 3:
            if (vertex && noise.Below(3) == 0) {
                const uint32_t base = reg(2, noise.Below(256)) | swizzle << 16 | negate | 0x2000;
                if (!two) {
                    return {base};
                }
                return {base, reg(3, 0) | noise.Below(4) << 16};
            }
            token = reg(2, noise.Below(vertex ? 256 : 32));
            break;
        default:
            token = vertex ? reg(3, 0) : reg(1, noise.Below(2));
            break;
        }
        return {token | swizzle << 16 | negate};
    };
    const uint32_t count = 4 + noise.Below(20);
    for (uint32_t n = 0; n < count; ++n) {
        const GpuShaderOpcodeInfo& info = *ops[noise.Below(static_cast<uint32_t>(ops.size()))];
        const auto code = static_cast<uint32_t>(info.op);
        std::vector<uint32_t> operands;
        const uint32_t mask = 1 + noise.Below(15);
        uint32_t control = 0;
        if (info.op == GpuShaderOp::TexKill) {
            operands.push_back(
                (noise.Below(2) == 0 ? reg(0, noise.Below(temps)) : reg(3, noise.Below(3))) |
                mask << 16);
        } else {
            uint32_t dest = reg(0, noise.Below(temps));
            const uint32_t pick = noise.Below(6);
            if (vertex && pick == 0) {
                dest = reg(4, noise.Below(2));
            } else if (vertex && pick == 1) {
                dest = reg(noise.Below(2) == 0 ? 5 : 6, noise.Below(2));
            } else if (vertex && pick == 2 && (info.op == GpuShaderOp::Mova || !two)) {
                dest = reg(3, 0);
            } else if (!vertex && pick == 0) {
                dest = reg(8, 0);
            }
            const uint32_t saturate = noise.Below(5) == 0 ? 1u << 20 : 0;
            operands.push_back(dest | mask << 16 | saturate);
            for (uint32_t i = 0; i < info.sourceCount; ++i) {
                const std::vector<uint32_t> s = source(info.op == GpuShaderOp::Tex && i == 1);
                operands.insert(operands.end(), s.begin(), s.end());
            }
            if (info.op == GpuShaderOp::Tex) {
                control = noise.Below(3);
            }
        }
        words.push_back(op(code, static_cast<uint32_t>(operands.size())) | control << 16);
        words.insert(words.end(), operands.begin(), operands.end());
    }
    // Every output written at the end, from the temporaries.
    if (vertex) {
        for (uint32_t out : {reg(4, 0), reg(4, 1), reg(5, 0), reg(5, 1), reg(6, 0), reg(6, 1)}) {
            words.insert(words.end(),
                         {op(1, 2), out | 0xF0000, reg(0, noise.Below(temps)) | 0xE40000});
        }
    } else {
        words.insert(words.end(),
                     {op(1, 2), reg(8, 0) | 0xF0000, reg(0, noise.Below(temps)) | 0xE40000});
    }
    words.push_back(0x0000FFFF);
    return words;
}

} // namespace quarn::test
