#pragma once

// The software device's shaders: a decoded program and the interpreter that runs it per vertex
// or per pixel over plain register arrays.

#include "gpu/GpuLayer.h"

#include <memory>

namespace quarn {

struct SoftwareDeviceLink;

class SoftwareShader final : public GpuShader {
public:
    SoftwareShader(std::shared_ptr<SoftwareDeviceLink> link, GpuShaderProgram program);
    ~SoftwareShader() override;

    GpuShaderKind GetKind() const override { return program_.kind; }
    std::span<const uint32_t> GetTokens() const override { return program_.tokens; }
    const GpuShaderProgram& Program() const { return program_; }

private:
    std::shared_ptr<SoftwareDeviceLink> link_;
    GpuShaderProgram program_;
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

// Answers the texel a pixel program's texld reads: sampler s at coord (already divided or biased
// as the instruction's control asks is up to the callee), r, g, b, a in 0..1.
class ShaderSampler {
public:
    virtual void Sample(uint32_t sampler, const float coord[4], uint32_t control,
                        float out[4]) const = 0;

protected:
    ~ShaderSampler() = default;
};

class ShaderMachine {
public:
    // Takes the program and the device's constants for one draw; def constants override them.
    void Setup(const GpuShaderProgram& program, const float (*constants)[4], uint32_t count);
    bool Active() const { return program_ != nullptr; }
    const GpuShaderProgram& Program() const { return *program_; }

    // Runs the program once. Answers false when texkill discarded the pixel.
    bool Run(ShaderRegisters& r, const ShaderSampler* sampler) const;

private:
    const float* Read(const ShaderRegisters& r, const GpuShaderSource& s, float out[4]) const;

    const GpuShaderProgram* program_ = nullptr;
    float constants_[GpuVertexConstCount][4] = {};
    uint32_t constantCount_ = 0;
};

} // namespace quarn
