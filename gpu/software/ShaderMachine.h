#pragma once

// The software device's shaders: a decoded program and the interpreter that runs it per vertex
// or per pixel over plain register arrays.

#include "gpu/GpuLayer.h"

#include <memory>

namespace quarn {

struct SoftwareDeviceLink;
class BlockProgram;

class SoftwareShader final : public GpuShader {
public:
    SoftwareShader(std::shared_ptr<SoftwareDeviceLink> link, GpuShaderProgram program);
    ~SoftwareShader() override;

    GpuShaderKind GetKind() const override { return program_.kind; }
    std::span<const uint32_t> GetTokens() const override { return program_.tokens; }
    const GpuShaderProgram& Program() const { return program_; }
    // The program decoded for the block runner, once.
    const BlockProgram& Block() const { return *block_; }

private:
    std::shared_ptr<SoftwareDeviceLink> link_;
    GpuShaderProgram program_;
    std::unique_ptr<BlockProgram> block_;
};

// Output slots of one run: vertex oPos, oFog, oD0..oD1, oT0..oT7; pixel oC0 in slot 0.
inline constexpr uint32_t ShaderOutPosition = 0;
inline constexpr uint32_t ShaderOutFog = 1;
inline constexpr uint32_t ShaderOutColor = 2;
inline constexpr uint32_t ShaderOutTexCoord = 4;
inline constexpr uint32_t ShaderOutCount = ShaderOutTexCoord + GpuVertexTexCoordOutCount;

struct ShaderRegisters {
    float temps[GpuPixelTempCount][4];
    float inputs[GpuVertexInputCount][4];     // v#
    float textures[GpuPixelTexCoordCount][4]; // t#
    float outputs[ShaderOutCount][4];
    int32_t address[4];
    // Which outputs the run wrote (bit per slot).
    uint32_t written;
};

// Answers the texel a pixel program's texld reads: sampler s at coord (dividing or biasing as
// the instruction's control asks is up to the callee), r, g, b, a in 0..1. derivatives are the
// coordinates' change per pixel (du/dx, dv/dx, du/dy, dv/dy), for the level of detail.
class ShaderSampler {
public:
    virtual void Sample(uint32_t sampler, const float coord[4], const float derivatives[4],
                        uint32_t control, float out[4]) const = 0;
    // The four lanes of a quad, which share their derivatives.
    virtual void SampleQuad(uint32_t sampler, const float (*coords)[4], const float derivatives[4],
                            uint32_t control, float (*out)[4]) const = 0;

protected:
    ~ShaderSampler() = default;
};

// The rows a matrix instruction reads (0 for the others).
uint32_t ShaderMatrixRows(GpuShaderOp op);
// The arithmetic of one instruction on one lane: d from the sources' values, swizzled and
// negated, for every opcode but the matrices, texkill and texld; d keeps what it held in the
// components the opcode does not compute. vs11 selects vs_1_1's expp and logp.
void ShaderArithmetic(GpuShaderOp op, bool vs11, const float* s0, const float* s1, const float* s2,
                      float d[4]);
// The address register's component from a mov (floored) or a mova (rounded) result.
int32_t ShaderAddress(float value, bool round);
// texld's level of detail for a quad: the change of its coordinates (divided by w for texldp)
// along the upper row and the left column, (du/dx, dv/dx, du/dy, dv/dy), non-finite ones 0.
void ShaderQuadDerivatives(const float (*coords)[4], uint32_t control, float derivatives[4]);

// The reference interpreter: one instruction at a time on plain register arrays. Lines run on
// it; triangles and vertex batches run on the block runner (ShaderBlock.h), which gives the
// same bits.
class ShaderMachine {
public:
    // Takes the program and the device's constants for one draw; def constants override them.
    void Setup(const GpuShaderProgram& program, const float (*constants)[4], uint32_t count);
    bool Active() const { return program_ != nullptr; }
    // How many texture coordinate sets (t0 on) a pixel program reads; the rest need not be
    // interpolated.
    uint32_t TexCoordSetsRead() const { return texCoordSets_; }
    const GpuShaderProgram& Program() const { return *program_; }

    // Runs the program once, temporaries and a0 starting at zero. Answers false when texkill
    // discarded the pixel. texld sees no change across pixels, so it reads level 0.
    bool Run(ShaderRegisters& r, const ShaderSampler* sampler) const;
    // Runs a pixel program over `count` 2 x 2 quads in lock-step, quad q's lanes at r[4q] on:
    // (x, y), (x + 1, y), (x, y + 1), (x + 1, y + 1), so that texld takes its level of detail
    // from the differences of its coordinates across the quad. kept[q] gets the lanes texkill
    // left (bit per lane).
    void RunQuads(ShaderRegisters* r, uint32_t count, const ShaderSampler& sampler,
                  uint32_t* kept) const;

private:
    static void Clear(ShaderRegisters& r);
    // One instruction; texel is what texld read. Answers false when texkill discarded.
    bool Step(const GpuShaderInstruction& in, ShaderRegisters& r, const float texel[4]) const;
    const float* Read(const ShaderRegisters& r, const GpuShaderSource& s, float out[4]) const;

    const GpuShaderProgram* program_ = nullptr;
    float constants_[GpuVertexConstCount][4] = {};
    uint32_t constantCount_ = 0;
    uint32_t texCoordSets_ = 0;
};

} // namespace quarn
