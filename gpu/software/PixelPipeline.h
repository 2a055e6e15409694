#pragma once

// Per-pixel work of the software rasteriser: texture sampling, the texture-stage combiner, fog,
// alpha test, stencil and depth, blending and the colour write. A PixelPipeline is set up once
// per draw from the state, so the per-pixel path only reads resolved plain data.

#include "gpu/GpuState.h"
#include "gpu/software/PixelBlock.h"
#include "gpu/software/ShaderBlock.h"
#include "gpu/software/ShaderMachine.h"
#include "gpu/software/TexturedSpan.h"
#include "gpu/software/VertexProcessing.h"

namespace quarn {

class SoftwareSurface;
class SoftwareTexture;

struct SamplerSetup {
    const SoftwareTexture* texture = nullptr;
    bool cube = false;
    bool wrapU = true;
    bool wrapV = true;
    GpuFilter mag = GpuFilter::Point;
    GpuFilter min = GpuFilter::Point;
    GpuFilter mip = GpuFilter::None;
    uint32_t levels = 1;
};

struct StageSetup {
    GpuTextureOp colorOp = GpuTextureOp::Disable;
    GpuTextureArg colorArg1 = GpuTextureArg::Texture;
    GpuTextureArg colorArg2 = GpuTextureArg::Current;
    GpuTextureOp alphaOp = GpuTextureOp::Disable;
    GpuTextureArg alphaArg1 = GpuTextureArg::Texture;
    GpuTextureArg alphaArg2 = GpuTextureArg::Current;
    bool samples = false; // some argument reads the texture
};

// Texture coordinate derivatives per pixel, for mip selection.
struct TexelFootprint {
    float dudx = 0.0f;
    float dvdx = 0.0f;
    float dudy = 0.0f;
    float dvdy = 0.0f;
};

class PixelPipeline {
public:
    // Answers false when nothing can be drawn (no colour target).
    bool Setup(const GpuState& state);

    uint32_t StageCount() const { return stageCount_; }
    // Attributes the rasteriser must interpolate (a prefix of the vertex's).
    uint32_t AttributeCount() const { return attributeCount_; }
    const SamplerSetup& Sampler(uint32_t stage) const { return samplers_[stage]; }
    bool NeedsFootprint(uint32_t stage) const;
    uint32_t TargetWidth() const { return targetWidth_; }
    uint32_t TargetHeight() const { return targetHeight_; }

    // Shades and writes pixel (x, y) of the target. attr holds the interpolated attributes, z the
    // depth (0..1), footprints one per stage.
    void ShadePixel(int32_t x, int32_t y, float z, const float* attr,
                    const TexelFootprint* footprints) const;

    // Whether a pixel program shades the draw: its triangles then go to ShadeQuads.
    bool HasPixelProgram() const { return shader_.Active(); }
    // Runs the pixel program on the 2 x 2 quads (x and y even) that cover the pixels of `rows`,
    // a block at a time, and writes the pixels it keeps. Lanes outside the primitive still run,
    // as texld's level of detail needs their coordinates.
    void ShadeQuads(const QuadRows& rows) const;
    // texld of a pixel program on one quad's lanes, (x, y), (x + 1, y), (x, y + 1),
    // (x + 1, y + 1): the scalar path, which the block sampler takes where it has no vector one.
    void SampleProgramQuad(uint32_t sampler, const float (*coords)[4], uint32_t control,
                           float (*out)[4]) const;

    // Whether the draw is the common textured case (one 32-bit texture without mip selection,
    // combined only with the diffuse colour, no specular or stencil, fogged or not, written
    // straight or blended by source alpha into a 32-bit target). Its spans then go to
    // ShadeTexturedSpan, which writes exactly the pixels ShadePixel would.
    bool HasTexturedSpan() const { return fastPath_; }
    // Whether those spans read the fog factor too.
    bool TexturedSpanFogs() const { return fast_.fog; }
    void ShadeTexturedSpan(const TexturedSpan& span) const {
        quarn::ShadeTexturedSpan(fast_, span);
    }

    // Samples a sampler's texture at (u, v[, w]) with the given footprint in level-0 texels;
    // answers r, g, b, a in 0..1.
    static void Sample(const SamplerSetup& sampler, const float* coord,
                       const TexelFootprint& footprint, float out[4]);
    // The two halves of Sample: the level of detail of a footprint (not for cube maps), and the
    // sample at that level.
    static float LevelOfDetail(const SamplerSetup& sampler, const TexelFootprint& footprint);
    static void SampleAtLevel(const SamplerSetup& sampler, const float* coord, float lod,
                              float out[4]);

private:
    // The fragment's colour: texture stages, specular and fog, clamped.
    void ShadeColor(const float* attr, const TexelFootprint* footprints, float current[4]) const;
    // The pixel program's colour, fogged and clamped; false when it discarded the pixel.
    bool ShadeProgram(const float* attr, float current[4]) const;
    void LoadProgramInputs(const float* attr, ShaderRegisters& r) const;
    // The program's oC0 fogged by `fog` (the interpolated factor) and clamped.
    void FinishProgramColor(const float* color, float fog, float current[4]) const;
    void SetupPixelBlock();
    // ShadeQuads through the reference interpreter, 16 quads at a time.
    void ShadeQuadsOneByOne(const QuadRows& rows) const;
    // Alpha test, depth and stencil, then the write.
    void FinishPixel(int32_t x, int32_t y, float z, const float current[4]) const;
    void SetupSampler(const GpuState& state, uint32_t s, const SoftwareTexture* texture);
    // Blends the colour into the target through the write mask.
    void WritePixel(uint32_t x, uint32_t y, const float current[4]) const;
    bool DepthStencil(uint32_t index, float z) const;
    void SetupFastPath();
    void SetupLaneWrite(LaneWrite& w) const;

    bool fastPath_ = false;
    TexturedSpanSetup fast_;
    ShaderMachine shader_;
    BlockConstants blockConstants_;
    PixelBlockSetup block_;

    StageSetup stages_[GpuStageCount];
    SamplerSetup samplers_[GpuStageCount];
    uint32_t stageCount_ = 0;
    uint32_t attributeCount_ = 0;
    float textureFactor_[4] = {};
    float fogColor_[3] = {};
    bool fog_ = false;
    bool specular_ = false;

    bool alphaTest_ = false;
    GpuCompare alphaFunc_ = GpuCompare::Always;
    uint32_t alphaRef_ = 0;

    SoftwareSurface* target_ = nullptr;
    bool targetArgb32_ = false;
    uint32_t targetWidth_ = 0;
    uint32_t targetHeight_ = 0;

    float* depth_ = nullptr;
    uint8_t* stencil_ = nullptr;
    uint32_t depthWidth_ = 0;
    bool depthTest_ = false;
    bool depthWrite_ = false;
    GpuCompare depthFunc_ = GpuCompare::LessEqual;
    bool stencilTest_ = false;
    GpuCompare stencilFunc_ = GpuCompare::Always;
    uint32_t stencilRef_ = 0;
    uint32_t stencilMask_ = 0xFF;
    uint32_t stencilWriteMask_ = 0xFF;
    uint32_t stencilBits_ = 0;
    GpuStencilOp stencilFail_ = GpuStencilOp::Keep;
    GpuStencilOp stencilZFail_ = GpuStencilOp::Keep;
    GpuStencilOp stencilPass_ = GpuStencilOp::Keep;

    bool blend_ = false;
    GpuBlend srcBlend_ = GpuBlend::One;
    GpuBlend destBlend_ = GpuBlend::Zero;
    GpuBlendOp blendOp_ = GpuBlendOp::Add;
    uint32_t writeMask_ = 0xF;
};

// Compare functions of the alpha, depth and stencil tests: "value func reference".
inline bool PassesCompare(GpuCompare func, float value, float reference) {
    switch (func) {
    case GpuCompare::Never:
        return false;
    case GpuCompare::Less:
        return value < reference;
    case GpuCompare::Equal:
        return value == reference;
    case GpuCompare::LessEqual:
        return value <= reference;
    case GpuCompare::Greater:
        return value > reference;
    case GpuCompare::NotEqual:
        return value != reference;
    case GpuCompare::GreaterEqual:
        return value >= reference;
    case GpuCompare::Always:
        return true;
    }
    return true;
}

} // namespace quarn
