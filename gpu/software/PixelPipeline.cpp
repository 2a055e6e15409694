#include "gpu/software/PixelPipeline.h"

#include "gpu/software/SoftwareTexture.h"
#include "gpu/software/WideLanes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace quarn {

namespace {

void Unpack(uint32_t argb, float out[4]) {
    out[0] = static_cast<float>((argb >> 16) & 0xFF) * ByteScale;
    out[1] = static_cast<float>((argb >> 8) & 0xFF) * ByteScale;
    out[2] = static_cast<float>(argb & 0xFF) * ByteScale;
    out[3] = static_cast<float>(argb >> 24) * ByteScale;
}

// Forced inline: called once or twice per pixel, where a call costs more than the body.
[[gnu::always_inline]] inline uint32_t Pack(const float c[4]) {
    return (ToByte(c[3]) << 24) | (ToByte(c[0]) << 16) | (ToByte(c[1]) << 8) | ToByte(c[2]);
}

// Float-to-int for texel indices that cannot overflow on huge or broken coordinates.
int32_t FloorToInt(float v) {
    const float f = std::floor(v);
    if (!(f > -1.0e9f)) {
        return -1000000000;
    }
    return f < 1.0e9f ? static_cast<int32_t>(f) : 1000000000;
}

uint32_t FetchArgb(const SoftwareTexture& texture, uint32_t level, uint32_t face, int32_t x,
                   int32_t y, uint32_t z) {
    const SoftwareSurface& surface = texture.Level(level, face);
    const GpuFormat format = surface.Format();
    if (z == 0 && (format == GpuFormat::A8R8G8B8 || format == GpuFormat::X8R8G8B8)) {
        uint32_t argb = 0;
        std::memcpy(&argb, surface.Bits() + static_cast<size_t>(y) * surface.Pitch() + x * 4u, 4);
        return format == GpuFormat::X8R8G8B8 ? argb | 0xFF000000u : argb;
    }
    return texture.SampleTexelArgb(level, face, static_cast<uint32_t>(x), static_cast<uint32_t>(y),
                                   z);
}

void SampleLevel(const SamplerSetup& s, uint32_t level, uint32_t face, float u, float v,
                 uint32_t slice, GpuFilter filter, bool wrapU, bool wrapV, float out[4]) {
    const SoftwareTexture& t = *s.texture;
    const auto w = static_cast<int32_t>(t.LevelWidth(level));
    const auto h = static_cast<int32_t>(t.LevelHeight(level));
    if (filter != GpuFilter::Linear) {
        const int32_t x =
            AddressTexel(ToFixedTexel(u * static_cast<float>(w)) >> TexelFractionBits, w, wrapU);
        const int32_t y =
            AddressTexel(ToFixedTexel(v * static_cast<float>(h)) >> TexelFractionBits, h, wrapV);
        Unpack(FetchArgb(t, level, face, x, y, slice), out);
        return;
    }
    const int32_t fu = ToFixedTexel(u * static_cast<float>(w) - 0.5f);
    const int32_t fv = ToFixedTexel(v * static_cast<float>(h) - 0.5f);
    const int32_t x0 = fu >> TexelFractionBits;
    const int32_t y0 = fv >> TexelFractionBits;
    const int32_t xa = AddressTexel(x0, w, wrapU);
    const int32_t xb = AddressTexel(x0 + 1, w, wrapU);
    const int32_t ya = AddressTexel(y0, h, wrapV);
    const int32_t yb = AddressTexel(y0 + 1, h, wrapV);
    const auto fraction = static_cast<uint32_t>(TexelOne - 1);
    Unpack(BilinearArgb(
               FetchArgb(t, level, face, xa, ya, slice), FetchArgb(t, level, face, xb, ya, slice),
               FetchArgb(t, level, face, xa, yb, slice), FetchArgb(t, level, face, xb, yb, slice),
               static_cast<uint32_t>(fu) & fraction, static_cast<uint32_t>(fv) & fraction),
           out);
}

// Picks the cube face by the major axis and maps the direction onto it.
uint32_t CubeFace(const float* d, float& u, float& v) {
    const float ax = std::fabs(d[0]);
    const float ay = std::fabs(d[1]);
    const float az = std::fabs(d[2]);
    float sc, tc, ma;
    uint32_t face;
    if (ax >= ay && ax >= az) {
        face = d[0] >= 0.0f ? 0u : 1u;
        sc = d[0] >= 0.0f ? -d[2] : d[2];
        tc = -d[1];
        ma = ax;
    } else if (ay >= az) {
        face = d[1] >= 0.0f ? 2u : 3u;
        sc = d[0];
        tc = d[1] >= 0.0f ? d[2] : -d[2];
        ma = ay;
    } else {
        face = d[2] >= 0.0f ? 4u : 5u;
        sc = d[2] >= 0.0f ? d[0] : -d[0];
        tc = -d[1];
        ma = az;
    }
    if (!(ma > 0.0f)) {
        u = v = 0.5f;
        return face;
    }
    u = (sc / ma + 1.0f) * 0.5f;
    v = (tc / ma + 1.0f) * 0.5f;
    return face;
}

// Whether a stage after the first gives back the colour it is given: it modulates it by a
// texture factor of one, as a mesh's colour layer does for a white, opaque node.
bool ModulatesByOne(const StageSetup& st, const float factor[4]) {
    auto byOne = [&](GpuTextureOp op, GpuTextureArg a, GpuTextureArg b, int first, int last) {
        const bool arguments = (a == GpuTextureArg::Current && b == GpuTextureArg::TFactor) ||
                               (a == GpuTextureArg::TFactor && b == GpuTextureArg::Current);
        return op == GpuTextureOp::Modulate && arguments &&
               std::all_of(factor + first, factor + last, [](float f) { return f == 1.0f; });
    };
    return byOne(st.colorOp, st.colorArg1, st.colorArg2, 0, 3) &&
           byOne(st.alphaOp, st.alphaArg1, st.alphaArg2, 3, 4);
}

void Operate(GpuTextureOp op, const float* a, const float* b, float* out, int first, int last) {
    for (int c = first; c < last; ++c) {
        switch (op) {
        case GpuTextureOp::SelectArg1:
            out[c] = a[c];
            break;
        case GpuTextureOp::SelectArg2:
            out[c] = b[c];
            break;
        case GpuTextureOp::Modulate:
            out[c] = a[c] * b[c];
            break;
        case GpuTextureOp::Add:
            out[c] = Clamp01(a[c] + b[c]);
            break;
        case GpuTextureOp::AddSigned:
            out[c] = Clamp01(a[c] + b[c] - 0.5f);
            break;
        case GpuTextureOp::Subtract:
            out[c] = Clamp01(a[c] - b[c]);
            break;
        case GpuTextureOp::Disable:
            break;
        }
    }
}

void BlendFactor(GpuBlend f, const float* src, const float* dst, float out[4]) {
    for (int c = 0; c < 4; ++c) {
        switch (f) {
        case GpuBlend::Zero:
            out[c] = 0.0f;
            break;
        case GpuBlend::One:
            out[c] = 1.0f;
            break;
        case GpuBlend::SrcColor:
            out[c] = src[c];
            break;
        case GpuBlend::InvSrcColor:
            out[c] = 1.0f - src[c];
            break;
        case GpuBlend::SrcAlpha:
            out[c] = src[3];
            break;
        case GpuBlend::InvSrcAlpha:
            out[c] = 1.0f - src[3];
            break;
        case GpuBlend::DestAlpha:
            out[c] = dst[3];
            break;
        case GpuBlend::InvDestAlpha:
            out[c] = 1.0f - dst[3];
            break;
        case GpuBlend::DestColor:
            out[c] = dst[c];
            break;
        case GpuBlend::InvDestColor:
            out[c] = 1.0f - dst[c];
            break;
        }
    }
}

uint32_t StencilOp(GpuStencilOp op, uint32_t value, uint32_t reference, uint32_t bits) {
    switch (op) {
    case GpuStencilOp::Keep:
        return value;
    case GpuStencilOp::Zero:
        return 0;
    case GpuStencilOp::Replace:
        return reference & bits;
    case GpuStencilOp::IncrSat:
        return value < bits ? value + 1 : value;
    case GpuStencilOp::DecrSat:
        return value > 0 ? value - 1 : 0;
    case GpuStencilOp::Invert:
        return ~value & bits;
    case GpuStencilOp::Incr:
        return (value + 1) & bits;
    case GpuStencilOp::Decr:
        return (value - 1) & bits;
    }
    return value;
}

bool ReadsTexture(GpuTextureOp op, GpuTextureArg arg1, GpuTextureArg arg2) {
    if (op == GpuTextureOp::Disable) {
        return false;
    }
    if (op == GpuTextureOp::SelectArg1) {
        return arg1 == GpuTextureArg::Texture;
    }
    if (op == GpuTextureOp::SelectArg2) {
        return arg2 == GpuTextureArg::Texture;
    }
    return arg1 == GpuTextureArg::Texture || arg2 == GpuTextureArg::Texture;
}

} // namespace

void PixelPipeline::SetupSampler(const GpuState& state, uint32_t s,
                                 const SoftwareTexture* texture) {
    SamplerSetup& sm = samplers_[s];
    sm.texture = texture;
    if (sm.texture != nullptr) {
        sm.cube = texture->GetType() == GpuResourceType::CubeTexture;
        sm.wrapU =
            state.Get(s, GpuSamplerState::AddressU) != static_cast<uint32_t>(GpuAddress::Clamp);
        sm.wrapV =
            state.Get(s, GpuSamplerState::AddressV) != static_cast<uint32_t>(GpuAddress::Clamp);
        sm.mag = static_cast<GpuFilter>(state.Get(s, GpuSamplerState::MagFilter));
        sm.min = static_cast<GpuFilter>(state.Get(s, GpuSamplerState::MinFilter));
        sm.mip = static_cast<GpuFilter>(state.Get(s, GpuSamplerState::MipFilter));
        sm.levels = texture->GetLevelCount();
    }
}

bool PixelPipeline::Setup(const GpuState& state) {
    target_ = static_cast<SoftwareSurface*>(state.renderTarget);
    if (target_ == nullptr || GpuIsBlockFormat(target_->Format()) ||
        GpuIsDepthFormat(target_->Format())) {
        return false;
    }
    targetWidth_ = target_->Width();
    targetHeight_ = target_->Height();
    targetArgb32_ =
        target_->Format() == GpuFormat::A8R8G8B8 || target_->Format() == GpuFormat::X8R8G8B8;

    stageCount_ = ActiveStageCount(state);
    attributeCount_ = AttrTexture + 4 * stageCount_;
    for (uint32_t s = 0; s < stageCount_; ++s) {
        StageSetup& st = stages_[s];
        st.colorOp = static_cast<GpuTextureOp>(state.Get(s, GpuStageState::ColorOp));
        st.colorArg1 = static_cast<GpuTextureArg>(state.Get(s, GpuStageState::ColorArg1));
        st.colorArg2 = static_cast<GpuTextureArg>(state.Get(s, GpuStageState::ColorArg2));
        st.alphaOp = static_cast<GpuTextureOp>(state.Get(s, GpuStageState::AlphaOp));
        st.alphaArg1 = static_cast<GpuTextureArg>(state.Get(s, GpuStageState::AlphaArg1));
        st.alphaArg2 = static_cast<GpuTextureArg>(state.Get(s, GpuStageState::AlphaArg2));
        const auto* texture = static_cast<const SoftwareTexture*>(state.textures[s]);
        st.samples = texture != nullptr && (ReadsTexture(st.colorOp, st.colorArg1, st.colorArg2) ||
                                            ReadsTexture(st.alphaOp, st.alphaArg1, st.alphaArg2));
        SetupSampler(state, s, st.samples ? texture : nullptr);
    }
    Unpack(state.Get(GpuRenderState::TextureFactor), textureFactor_);
    // x * 1 is x to the bit, so such a last stage is left out and the draw keeps the textured
    // spans a single stage has.
    while (stageCount_ > 1 && ModulatesByOne(stages_[stageCount_ - 1], textureFactor_)) {
        --stageCount_;
        attributeCount_ -= 4;
    }
    shader_ = {};
    block_.program = nullptr;
    if (state.pixelShader != nullptr) {
        // The program replaces the combiner; every sampler with a texture may be read.
        const auto* shader = static_cast<const SoftwareShader*>(state.pixelShader);
        shader_.Setup(shader->Program(), state.pixelConstants, GpuPixelConstCount);
        blockConstants_.Setup(shader->Block(), shader->Program(), state.pixelConstants,
                              GpuPixelConstCount);
        block_.program = &shader->Block();
        stageCount_ = GpuSamplerCount;
        attributeCount_ = AttrTexture + 4 * shader_.TexCoordSetsRead();
        for (uint32_t s = 0; s < GpuSamplerCount; ++s) {
            SetupSampler(state, s, static_cast<const SoftwareTexture*>(state.textures[s]));
        }
    }
    float fog[4];
    Unpack(state.Get(GpuRenderState::FogColor), fog);
    std::copy(fog, fog + 3, fogColor_);
    fog_ = state.Get(GpuRenderState::FogEnable) != 0;
    specular_ = state.Get(GpuRenderState::SpecularEnable) != 0;

    alphaTest_ = state.Get(GpuRenderState::AlphaTestEnable) != 0;
    alphaFunc_ = static_cast<GpuCompare>(state.Get(GpuRenderState::AlphaFunc));
    alphaRef_ = state.Get(GpuRenderState::AlphaRef) & 0xFF;

    auto* ds = static_cast<SoftwareSurface*>(state.depthStencil);
    // A depth surface smaller than the target covers only its own area; pixels outside it are
    // drawn without depth or stencil rather than read out of bounds.
    depth_ = nullptr;
    stencil_ = nullptr;
    depthTest_ = depthWrite_ = stencilTest_ = false;
    if (ds != nullptr && ds->Width() >= targetWidth_ && ds->Height() >= targetHeight_) {
        depth_ = ds->DepthPlane();
        stencil_ = ds->StencilPlane();
        depthWidth_ = ds->Width();
        depthTest_ = state.Get(GpuRenderState::ZEnable) != 0;
        depthWrite_ = depthTest_ && state.Get(GpuRenderState::ZWriteEnable) != 0;
        depthFunc_ = static_cast<GpuCompare>(state.Get(GpuRenderState::ZFunc));
        stencilBits_ = ds->StencilMask();
        stencilTest_ = stencilBits_ != 0 && state.Get(GpuRenderState::StencilEnable) != 0;
        stencilFunc_ = static_cast<GpuCompare>(state.Get(GpuRenderState::StencilFunc));
        stencilRef_ = state.Get(GpuRenderState::StencilRef) & stencilBits_;
        stencilMask_ = state.Get(GpuRenderState::StencilMask) & stencilBits_;
        stencilWriteMask_ = state.Get(GpuRenderState::StencilWriteMask) & stencilBits_;
        stencilFail_ = static_cast<GpuStencilOp>(state.Get(GpuRenderState::StencilFail));
        stencilZFail_ = static_cast<GpuStencilOp>(state.Get(GpuRenderState::StencilZFail));
        stencilPass_ = static_cast<GpuStencilOp>(state.Get(GpuRenderState::StencilPass));
    }

    blend_ = state.Get(GpuRenderState::AlphaBlendEnable) != 0;
    srcBlend_ = static_cast<GpuBlend>(state.Get(GpuRenderState::SrcBlend));
    destBlend_ = static_cast<GpuBlend>(state.Get(GpuRenderState::DestBlend));
    blendOp_ = static_cast<GpuBlendOp>(state.Get(GpuRenderState::BlendOp));
    writeMask_ = state.Get(GpuRenderState::ColorWriteEnable) & 0xF;
    SetupFastPath();
    if (block_.program != nullptr) {
        SetupPixelBlock();
    }
    return true;
}

namespace {

// Maps one combiner operation of stage 0 onto a source of the textured case (at stage 0 the
// current colour is the diffuse one); false when the operation needs the general path.
bool FastSourceOf(GpuTextureOp op, GpuTextureArg arg1, GpuTextureArg arg2, SpanSource& out) {
    auto kind = [](GpuTextureArg arg) {
        return arg == GpuTextureArg::Texture                                    ? 1
               : arg == GpuTextureArg::Diffuse || arg == GpuTextureArg::Current ? 2
                                                                                : 0;
    };
    const int a = kind(arg1);
    const int b = kind(arg2);
    if (op == GpuTextureOp::SelectArg1 || op == GpuTextureOp::SelectArg2) {
        const int k = op == GpuTextureOp::SelectArg1 ? a : b;
        if (k == 0) {
            return false;
        }
        out = k == 1 ? SpanSource::Texture : SpanSource::Diffuse;
        return true;
    }
    // The product is the same whichever argument comes first.
    if (op == GpuTextureOp::Modulate && a + b == 3 && a != 0 && b != 0) {
        out = SpanSource::Product;
        return true;
    }
    return false;
}

} // namespace

namespace {

// The sampler's texture as the loops over lanes read it, where they can: one 32-bit 2D level,
// one filter whatever the footprint (no mip selection, min and mag alike).
bool LaneTextureOf(const SamplerSetup& sm, LaneTexture& out) {
    if (sm.texture == nullptr || sm.cube || sm.texture->GetType() != GpuResourceType::Texture) {
        return false;
    }
    const GpuFormat format = sm.texture->Format();
    if ((format != GpuFormat::A8R8G8B8 && format != GpuFormat::X8R8G8B8) || sm.mag != sm.min ||
        (sm.mip != GpuFilter::None && sm.levels != 1)) {
        return false;
    }
    const SoftwareSurface& level = sm.texture->Level(0);
    // The loops multiply texel rows by the pitch in 16-bit lanes.
    if (level.Pitch() / 4 > INT16_MAX || level.Height() > INT16_MAX) {
        return false;
    }
    out.texels = level.Bits();
    out.pitch = level.Pitch();
    out.width = static_cast<int32_t>(level.Width());
    out.height = static_cast<int32_t>(level.Height());
    out.alphaFill = format == GpuFormat::X8R8G8B8 ? 0xFF000000u : 0u;
    out.linear = sm.mag == GpuFilter::Linear;
    out.wrapU = sm.wrapU;
    out.wrapV = sm.wrapV;
    return true;
}

} // namespace

void PixelPipeline::SetupLaneWrite(LaneWrite& w) const {
    w.alphaTest = alphaTest_;
    w.alphaFunc = alphaFunc_;
    w.alphaRef = alphaRef_;
    w.target = target_->Bits();
    w.targetPitch = target_->Pitch();
    w.targetAlphaFill = target_->Format() == GpuFormat::X8R8G8B8 ? 0xFF000000u : 0u;
    // Without the test the stored depths are neither read nor written.
    w.depth = depthTest_ ? depth_ : nullptr;
    w.depthWidth = depthWidth_;
    w.depthTest = depthTest_;
    w.depthWrite = depthWrite_;
    w.depthFunc = depthFunc_;
}

void PixelPipeline::SetupFastPath() {
    fastPath_ = false;
    if (stageCount_ != 1 || specular_ || stencilTest_ || !targetArgb32_ || writeMask_ != 0xF) {
        return;
    }
    if (blend_ && (srcBlend_ != GpuBlend::SrcAlpha || destBlend_ != GpuBlend::InvSrcAlpha ||
                   blendOp_ != GpuBlendOp::Add)) {
        return;
    }
    TexturedSpanSetup& f = fast_;
    const StageSetup& st = stages_[0];
    if (!FastSourceOf(st.colorOp, st.colorArg1, st.colorArg2, f.color) ||
        !FastSourceOf(st.alphaOp, st.alphaArg1, st.alphaArg2, f.alpha) ||
        !LaneTextureOf(samplers_[0], f.texture)) {
        return;
    }
    f.blend = blend_;
    f.fog = fog_;
    std::copy(fogColor_, fogColor_ + 3, f.fogColor);
    f.wide = WideLanes();
    SetupLaneWrite(f.write);
    fastPath_ = true;
}

bool PixelPipeline::NeedsFootprint(uint32_t stage) const {
    const SamplerSetup& s = samplers_[stage];
    return s.texture != nullptr && !s.cube && (s.mip != GpuFilter::None || s.mag != s.min);
}

float PixelPipeline::LevelOfDetail(const SamplerSetup& s, const TexelFootprint& footprint) {
    const SoftwareTexture& t = *s.texture;
    const float w = static_cast<float>(t.LevelWidth(0));
    const float h = static_cast<float>(t.LevelHeight(0));
    const float x2 =
        footprint.dudx * w * footprint.dudx * w + footprint.dvdx * h * footprint.dvdx * h;
    const float y2 =
        footprint.dudy * w * footprint.dudy * w + footprint.dvdy * h * footprint.dvdy * h;
    // log2 of the larger footprint edge, computed on the squares: 0.5 * log2(x^2).
    const float rho2 = std::max(x2, y2);
    return rho2 > 0.0f ? 0.5f * std::log2(rho2) : -1.0f;
}

void PixelPipeline::Sample(const SamplerSetup& s, const float* coord,
                           const TexelFootprint& footprint, float out[4]) {
    SampleAtLevel(s, coord, s.cube ? 0.0f : LevelOfDetail(s, footprint), out);
}

void PixelPipeline::SampleAtLevel(const SamplerSetup& s, const float* coord, float lod,
                                  float out[4]) {
    const SoftwareTexture& t = *s.texture;
    if (s.cube) {
        float u, v;
        const uint32_t face = CubeFace(coord, u, v);
        SampleLevel(s, 0, face, u, v, 0, s.mag, false, false, out);
        return;
    }
    uint32_t slice = 0;
    if (t.GetType() == GpuResourceType::VolumeTexture) {
        const auto depth = static_cast<int32_t>(t.GetLevelDepth(0));
        slice = static_cast<uint32_t>(
            AddressTexel(FloorToInt(coord[2] * static_cast<float>(depth)), depth, s.wrapU));
    }
    if (!(lod > 0.0f) || s.levels == 1 || s.mip == GpuFilter::None ||
        t.GetType() == GpuResourceType::VolumeTexture) {
        SampleLevel(s, 0, 0, coord[0], coord[1], slice, lod > 0.0f ? s.min : s.mag, s.wrapU,
                    s.wrapV, out);
        return;
    }
    const float maxLevel = static_cast<float>(s.levels - 1);
    if (s.mip == GpuFilter::Point) {
        const auto level = static_cast<uint32_t>(std::min(std::floor(lod + 0.5f), maxLevel));
        SampleLevel(s, level, 0, coord[0], coord[1], 0, s.min, s.wrapU, s.wrapV, out);
        return;
    }
    const float clamped = std::min(lod, maxLevel);
    const auto level = static_cast<uint32_t>(clamped);
    const float fraction = clamped - static_cast<float>(level);
    SampleLevel(s, level, 0, coord[0], coord[1], 0, s.min, s.wrapU, s.wrapV, out);
    if (fraction > 0.0f && level + 1 < s.levels) {
        float next[4];
        SampleLevel(s, level + 1, 0, coord[0], coord[1], 0, s.min, s.wrapU, s.wrapV, next);
        for (int c = 0; c < 4; ++c) {
            out[c] += (next[c] - out[c]) * fraction;
        }
    }
}

void PixelPipeline::ShadePixel(int32_t x, int32_t y, float z, const float* attr,
                               const TexelFootprint* footprints) const {
    float current[4];
    if (!shader_.Active()) {
        ShadeColor(attr, footprints, current);
    } else if (!ShadeProgram(attr, current)) {
        return;
    }
    FinishPixel(x, y, z, current);
}

void PixelPipeline::FinishPixel(int32_t x, int32_t y, float z, const float current[4]) const {
    if (alphaTest_ && !PassesCompare(alphaFunc_, static_cast<float>(ToByte(current[3])),
                                     static_cast<float>(alphaRef_))) {
        return;
    }
    if (depth_ != nullptr &&
        !DepthStencil(static_cast<uint32_t>(y) * depthWidth_ + static_cast<uint32_t>(x), z)) {
        return;
    }
    if (writeMask_ == 0) {
        return;
    }
    WritePixel(static_cast<uint32_t>(x), static_cast<uint32_t>(y), current);
}

void PixelPipeline::ShadeColor(const float* attr, const TexelFootprint* footprints,
                               float current[4]) const {
    const float* diffuse = attr + AttrDiffuse;
    std::copy(diffuse, diffuse + 4, current);
    float specular[4] = {attr[AttrSpecular], attr[AttrSpecular + 1], attr[AttrSpecular + 2], 0.0f};
    for (uint32_t s = 0; s < stageCount_; ++s) {
        const StageSetup& st = stages_[s];
        // An unbound texture reads as opaque white, so an untextured draw keeps its colours.
        float texel[4] = {1.0f, 1.0f, 1.0f, 1.0f};
        if (st.samples) {
            Sample(samplers_[s], attr + AttrTexture + 4 * s, footprints[s], texel);
        }
        auto pick = [&](GpuTextureArg arg) -> const float* {
            switch (arg) {
            case GpuTextureArg::Diffuse:
                return diffuse;
            case GpuTextureArg::Current:
                return current;
            case GpuTextureArg::Texture:
                return texel;
            case GpuTextureArg::TFactor:
                return textureFactor_;
            case GpuTextureArg::Specular:
                return specular;
            }
            return current;
        };
        float result[4];
        std::copy(current, current + 4, result);
        Operate(st.colorOp, pick(st.colorArg1), pick(st.colorArg2), result, 0, 3);
        Operate(st.alphaOp, pick(st.alphaArg1), pick(st.alphaArg2), result, 3, 4);
        std::copy(result, result + 4, current);
    }
    if (specular_) {
        for (int c = 0; c < 3; ++c) {
            current[c] = Clamp01(current[c] + specular[c]);
        }
    }
    if (fog_) {
        const float f = Clamp01(attr[AttrFog]);
        for (int c = 0; c < 3; ++c) {
            current[c] = current[c] * f + fogColor_[c] * (1.0f - f);
        }
    }
    for (int c = 0; c < 4; ++c) {
        current[c] = Clamp01(current[c]);
    }
}

namespace {

// texld for a pixel program: the draw's samplers.
class PixelSampler final : public ShaderSampler {
public:
    explicit PixelSampler(const PixelPipeline& pipeline) : pipeline_(pipeline) {}

    void Sample(uint32_t sampler, const float coord[4], const float derivatives[4],
                uint32_t control, float out[4]) const override {
        if (Unbound(sampler, out)) {
            return;
        }
        float c[4];
        TexelFootprint f{derivatives[0], derivatives[1], derivatives[2], derivatives[3]};
        Adjust(coord, control, c, f);
        PixelPipeline::Sample(pipeline_.Sampler(sampler), c, f, out);
    }

    // One level for the quad, unless texldb biases each lane by its own amount.
    void SampleQuad(uint32_t sampler, const float (*coords)[4], const float derivatives[4],
                    uint32_t control, float (*out)[4]) const override {
        if (control == GpuShaderTexBias || Unbound(sampler, out[0])) {
            for (int lane = 0; lane < 4; ++lane) {
                Sample(sampler, coords[lane], derivatives, control, out[lane]);
            }
            return;
        }
        const SamplerSetup& setup = pipeline_.Sampler(sampler);
        TexelFootprint f{derivatives[0], derivatives[1], derivatives[2], derivatives[3]};
        const float lod = setup.cube ? 0.0f : PixelPipeline::LevelOfDetail(setup, f);
        for (int lane = 0; lane < 4; ++lane) {
            float c[4];
            Adjust(coords[lane], control, c, f);
            PixelPipeline::SampleAtLevel(setup, c, lod, out[lane]);
        }
    }

private:
    bool Unbound(uint32_t sampler, float out[4]) const {
        if (sampler < GpuSamplerCount && pipeline_.Sampler(sampler).texture != nullptr) {
            return false;
        }
        out[0] = out[1] = out[2] = 0.0f; // an unbound sampler reads opaque black
        out[3] = 1.0f;
        return true;
    }

    // texldp divides by w; texldb scales the footprint by 2 to the power of w.
    static void Adjust(const float coord[4], uint32_t control, float c[4], TexelFootprint& f) {
        std::copy(coord, coord + 4, c);
        if (control == GpuShaderTexProject && coord[3] != 0.0f) {
            for (int i = 0; i < 3; ++i) {
                c[i] /= coord[3];
            }
        } else if (control == GpuShaderTexBias) {
            const float k = std::exp2(std::clamp(coord[3], -16.0f, 16.0f));
            f = {f.dudx * k, f.dvdx * k, f.dudy * k, f.dvdy * k};
        }
    }

    const PixelPipeline& pipeline_;
};

} // namespace

void PixelPipeline::LoadProgramInputs(const float* attr, ShaderRegisters& r) const {
    std::copy(attr + AttrDiffuse, attr + AttrDiffuse + 4, r.inputs[0]);
    std::copy(attr + AttrSpecular, attr + AttrSpecular + 3, r.inputs[1]);
    r.inputs[1][3] = 0.0f;
    // Sets the program does not read keep whatever they held: it never sees them.
    const uint32_t sets = shader_.TexCoordSetsRead();
    for (uint32_t t = 0; t < sets; ++t) {
        for (uint32_t c = 0; c < 4; ++c) {
            r.textures[t][c] = attr[AttrTexture + 4 * t + c];
        }
    }
    r.outputs[0][0] = r.outputs[0][1] = r.outputs[0][2] = r.outputs[0][3] = 0.0f;
}

void PixelPipeline::FinishProgramColor(const float* color, float fog, float current[4]) const {
    std::copy(color, color + 4, current);
    if (fog_) {
        const float f = Clamp01(fog);
        for (int c = 0; c < 3; ++c) {
            current[c] = current[c] * f + fogColor_[c] * (1.0f - f);
        }
    }
    for (int c = 0; c < 4; ++c) {
        current[c] = Clamp01(current[c]);
    }
}

bool PixelPipeline::ShadeProgram(const float* attr, float current[4]) const {
    // Per thread, as bands of rows shade in parallel.
    thread_local ShaderRegisters r{};
    LoadProgramInputs(attr, r);
    const PixelSampler sampler(*this);
    if (!shader_.Run(r, &sampler)) {
        return false;
    }
    FinishProgramColor(r.outputs[0], attr[AttrFog], current);
    return true;
}

void PixelPipeline::SampleProgramQuad(uint32_t sampler, const float (*coords)[4], uint32_t control,
                                      float (*out)[4]) const {
    float derivatives[4];
    ShaderQuadDerivatives(coords, control, derivatives);
    PixelSampler(*this).SampleQuad(sampler, coords, derivatives, control, out);
}

void PixelPipeline::SetupPixelBlock() {
    PixelBlockSetup& b = block_;
    b.pipeline = this;
    b.constants = &blockConstants_;
    for (uint32_t s = 0; s < GpuSamplerCount; ++s) {
        const SamplerSetup& sm = samplers_[s];
        BlockTexture& t = b.textures[s];
        t = {};
        if (sm.texture == nullptr) {
            continue;
        }
        t.kind = LaneTextureOf(sm, t.level) ? BlockTextureKind::Vector : BlockTextureKind::Quads;
    }
    b.narrow = true;
    for (uint32_t s = 0; s < GpuSamplerCount; ++s) {
        if ((b.program->SamplersRead() >> s & 1) != 0 &&
            b.textures[s].kind == BlockTextureKind::Quads) {
            b.narrow = false;
        }
    }
    b.depth = depthTest_;
    b.fog = fog_;
    std::copy(fogColor_, fogColor_ + 3, b.fogColor);
    b.vectorWrite = targetArgb32_ && !stencilTest_;
    SetupLaneWrite(b.write);
    b.blend = blend_;
    b.srcBlend = srcBlend_;
    b.destBlend = destBlend_;
    b.blendOp = blendOp_;
    b.writeMask = writeMask_;
}

void PixelPipeline::ShadeQuads(const QuadRows& rows) const {
    if (!ShaderBlocks()) {
        ShadeQuadsOneByOne(rows);
        return;
    }
    const bool upper = rows.left[0] <= rows.right[0];
    const bool lower = rows.left[1] <= rows.right[1];
    if (!upper && !lower) {
        return;
    }
    const int32_t left = !upper   ? rows.left[1]
                         : !lower ? rows.left[0]
                                  : std::min(rows.left[0], rows.left[1]);
    const int32_t right = !upper   ? rows.right[1]
                          : !lower ? rows.right[0]
                                   : std::max(rows.right[0], rows.right[1]);
    const BlockProgram& program = *block_.program;
    // Per thread, as bands of rows shade in parallel.
    thread_local BlockFile files;
    float* file = files.Reserve(PixelBlockRegisters(program));
    const uint32_t color = program.Output(0);
    for (int32_t x0 = left & ~1; x0 <= right; x0 += static_cast<int32_t>(PixelBlockWidth)) {
        const auto width =
            std::min<uint32_t>(PixelBlockWidth, static_cast<uint32_t>(right - x0 + 2) & ~1u);
        const uint64_t kept = ShadePixelBlock(block_, rows, x0, width, file);
        if (block_.vectorWrite) {
            continue;
        }
        const uint32_t stride = PixelBlockRowStride(width);
        for (uint32_t r = 0; r < 2; ++r) {
            for (uint32_t i = 0; i < width; ++i) {
                const int32_t x = x0 + static_cast<int32_t>(i);
                const uint32_t lane = r * stride + i;
                if (x < rows.left[r] || x > rows.right[r] || (kept >> lane & 1) == 0) {
                    continue;
                }
                float oC0[4] = {};
                for (uint32_t c = 0; c < 4 && color != NoBlockOffset; ++c) {
                    oC0[c] = file[color + c * BlockLanes + lane];
                }
                float current[4];
                FinishProgramColor(oC0, file[PixelBlockFog(program) + lane], current);
                FinishPixel(x, rows.y + static_cast<int32_t>(r),
                            file[PixelBlockDepth(program) + lane], current);
            }
        }
    }
}

namespace {

// Up to 16 quads of one pair of rows, lanes as ShaderMachine::RunQuads orders them.
struct PixelQuads {
    static constexpr uint32_t Capacity = 16;
    uint32_t count = 0;
    int32_t x[Capacity];
    uint32_t covered[Capacity]; // bit per lane inside the primitive
    float z[Capacity * 4];
    float attr[Capacity * 4][RasterMaxAttributes];
};

} // namespace

void PixelPipeline::ShadeQuadsOneByOne(const QuadRows& rows) const {
    const bool upper = rows.left[0] <= rows.right[0];
    const bool lower = rows.left[1] <= rows.right[1];
    const int32_t left = !upper   ? rows.left[1]
                         : !lower ? rows.left[0]
                                  : std::min(rows.left[0], rows.left[1]);
    const int32_t right =
        std::max(upper ? rows.right[0] : rows.right[1], lower ? rows.right[1] : rows.right[0]);
    // Per thread, as bands of rows shade in parallel.
    thread_local PixelQuads quads;
    thread_local ShaderRegisters r[4 * PixelQuads::Capacity]{};
    auto shade = [&] {
        const uint32_t lanes = 4 * quads.count;
        for (uint32_t i = 0; i < lanes; ++i) {
            LoadProgramInputs(quads.attr[i], r[i]);
        }
        const PixelSampler sampler(*this);
        uint32_t kept[PixelQuads::Capacity];
        shader_.RunQuads(r, quads.count, sampler, kept);
        for (uint32_t i = 0; i < lanes; ++i) {
            const uint32_t q = i / 4;
            const uint32_t lane = i % 4;
            if ((kept[q] & quads.covered[q] & 1u << lane) != 0) {
                float current[4];
                FinishProgramColor(r[i].outputs[0], quads.attr[i][AttrFog], current);
                FinishPixel(quads.x[q] + static_cast<int32_t>(lane & 1),
                            rows.y + static_cast<int32_t>(lane >> 1), quads.z[i], current);
            }
        }
        quads.count = 0;
    };
    quads.count = 0;
    for (int32_t qx = left & ~1; qx <= right; qx += 2) {
        uint32_t covered = 0;
        for (int32_t lane = 0; lane < 4; ++lane) {
            const int32_t px = qx + (lane & 1);
            const int32_t row = lane >> 1;
            if (px >= rows.left[row] && px <= rows.right[row]) {
                covered |= 1u << lane;
            }
        }
        if (covered == 0) {
            continue;
        }
        const uint32_t q = quads.count++;
        quads.x[q] = qx;
        quads.covered[q] = covered;
        for (int32_t lane = 0; lane < 4; ++lane) {
            const auto fx = static_cast<float>(qx + (lane & 1));
            const int32_t row = lane >> 1;
            const float w = 1.0f / rows.q[row].At(fx);
            float* attr = quads.attr[4 * q + static_cast<uint32_t>(lane)];
            for (uint32_t i = 0; i < attributeCount_; ++i) {
                attr[i] = SpanValue{rows.rows[row][i], rows.dx[i]}.At(fx) * w;
            }
            quads.z[4 * q + static_cast<uint32_t>(lane)] =
                std::clamp(rows.z[row].At(fx), 0.0f, 1.0f);
        }
        if (quads.count == PixelQuads::Capacity) {
            shade();
        }
    }
    if (quads.count > 0) {
        shade();
    }
}

void PixelPipeline::WritePixel(uint32_t ux, uint32_t uy, const float current[4]) const {
    if (!blend_ && writeMask_ == 0xF && targetArgb32_) {
        const uint32_t argb = Pack(current);
        std::memcpy(target_->Bits() + static_cast<size_t>(uy) * target_->Pitch() + ux * 4u, &argb,
                    4);
        return;
    }
    float dst[4];
    if (targetArgb32_) {
        Unpack(target_->ReadArgb(ux, uy), dst);
    } else {
        const GpuColor c = target_->ReadTexel(ux, uy);
        dst[0] = c.r;
        dst[1] = c.g;
        dst[2] = c.b;
        dst[3] = c.a;
    }
    float out[4];
    std::copy(current, current + 4, out);
    if (blend_) {
        if (blendOp_ == GpuBlendOp::Min || blendOp_ == GpuBlendOp::Max) {
            for (int c = 0; c < 4; ++c) {
                out[c] = blendOp_ == GpuBlendOp::Min ? std::min(current[c], dst[c])
                                                     : std::max(current[c], dst[c]);
            }
        } else {
            float sf[4], df[4];
            BlendFactor(srcBlend_, current, dst, sf);
            BlendFactor(destBlend_, current, dst, df);
            for (int c = 0; c < 4; ++c) {
                const float s = current[c] * sf[c];
                const float d = dst[c] * df[c];
                out[c] = Clamp01(blendOp_ == GpuBlendOp::Subtract      ? s - d
                                 : blendOp_ == GpuBlendOp::RevSubtract ? d - s
                                                                       : s + d);
            }
        }
    }
    static constexpr uint32_t ChannelBit[4] = {GpuColorWriteRed, GpuColorWriteGreen,
                                               GpuColorWriteBlue, GpuColorWriteAlpha};
    for (int c = 0; c < 4; ++c) {
        if ((writeMask_ & ChannelBit[c]) == 0) {
            out[c] = dst[c];
        }
    }
    if (targetArgb32_) {
        target_->WriteArgb(ux, uy, Pack(out));
    } else {
        target_->WriteTexel(ux, uy, GpuColor{out[0], out[1], out[2], out[3]});
    }
}

bool PixelPipeline::DepthStencil(uint32_t index, float z) const {
    bool stencilPassed = true;
    uint32_t stored = 0;
    if (stencilTest_) {
        stored = stencil_[index] & stencilBits_;
        stencilPassed = PassesCompare(stencilFunc_, static_cast<float>(stencilRef_ & stencilMask_),
                                      static_cast<float>(stored & stencilMask_));
    }
    const bool depthPassed =
        !stencilPassed || !depthTest_ || PassesCompare(depthFunc_, z, depth_[index]);
    if (stencilTest_) {
        const GpuStencilOp op = !stencilPassed ? stencilFail_
                                : !depthPassed ? stencilZFail_
                                               : stencilPass_;
        const uint32_t next = StencilOp(op, stored, stencilRef_, stencilBits_);
        stencil_[index] =
            static_cast<uint8_t>((stored & ~stencilWriteMask_) | (next & stencilWriteMask_));
    }
    if (!stencilPassed || !depthPassed) {
        return false;
    }
    if (depthWrite_) {
        depth_[index] = z;
    }
    return true;
}

} // namespace quarn
