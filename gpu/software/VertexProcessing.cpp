#include "gpu/software/VertexProcessing.h"

#include "gpu/software/ShaderBlock.h"
#include "gpu/software/ShaderMachine.h"
#include "gpu/software/SoftwareBuffers.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace quarn {

namespace {

// Reads an element as up to four floats; answers the component count. Packed colours come out
// as r, g, b, a in 0..1.
uint32_t ReadElement(const GpuVertexElement& e, const uint8_t* vertex, float out[4]) {
    const uint8_t* p = vertex + e.offset;
    switch (e.type) {
    case GpuDeclType::Float1:
    case GpuDeclType::Float2:
    case GpuDeclType::Float3:
    case GpuDeclType::Float4: {
        const uint32_t n = static_cast<uint32_t>(e.type) + 1;
        std::memcpy(out, p, n * sizeof(float));
        return n;
    }
    case GpuDeclType::Color: {
        uint32_t argb = 0;
        std::memcpy(&argb, p, 4);
        constexpr float k = 1.0f / 255.0f;
        out[0] = static_cast<float>((argb >> 16) & 0xFF) * k;
        out[1] = static_cast<float>((argb >> 8) & 0xFF) * k;
        out[2] = static_cast<float>(argb & 0xFF) * k;
        out[3] = static_cast<float>(argb >> 24) * k;
        return 4;
    }
    case GpuDeclType::Unused:
        break;
    }
    return 0;
}

float StateFloat(const GpuState& state, GpuRenderState s) {
    return std::bit_cast<float>(state.Get(s));
}

void ArgbTo(uint32_t argb, float out[4]) {
    constexpr float k = 1.0f / 255.0f;
    out[0] = static_cast<float>((argb >> 16) & 0xFF) * k;
    out[1] = static_cast<float>((argb >> 8) & 0xFF) * k;
    out[2] = static_cast<float>(argb & 0xFF) * k;
    out[3] = static_cast<float>(argb >> 24) * k;
}

float Clamp01(float v) {
    // NaN becomes 0 so a broken vertex cannot poison the colour arithmetic downstream.
    return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
}

Float3 Point(const Float3& v, const Matrix4& m) {
    return {v.x * m.m[0] + v.y * m.m[4] + v.z * m.m[8] + m.m[12],
            v.x * m.m[1] + v.y * m.m[5] + v.z * m.m[9] + m.m[13],
            v.x * m.m[2] + v.y * m.m[6] + v.z * m.m[10] + m.m[14]};
}

struct LightInCamera {
    const GpuLight* light = nullptr;
    Float3 position;
    Float3 toLight; // directional lights: unit vector towards the light
    Float3 spotAxis;
    float cosHalfTheta = 1.0f;
    float cosHalfPhi = 1.0f;
};

struct LightingSetup {
    std::vector<LightInCamera> lights;
    float ambient[3] = {};
    bool specular = false;
    bool localViewer = true;
    bool colorVertex = true;
    GpuMaterialSource diffuseSource = GpuMaterialSource::Color1;
    GpuMaterialSource specularSource = GpuMaterialSource::Color2;
    GpuMaterialSource ambientSource = GpuMaterialSource::Material;
    GpuMaterialSource emissiveSource = GpuMaterialSource::Material;
};

// A material colour from its source: a vertex colour the vertex lacks falls back to the
// material, as it does on the hardware this layer imitates.
void Source(GpuMaterialSource source, const GpuColor& material, const float* color1,
            const float* color2, bool colorVertex, float out[4]) {
    const float* vertex = nullptr;
    if (colorVertex) {
        vertex = source == GpuMaterialSource::Color1   ? color1
                 : source == GpuMaterialSource::Color2 ? color2
                                                       : nullptr;
    }
    if (vertex != nullptr) {
        std::copy(vertex, vertex + 4, out);
    } else {
        out[0] = material.r;
        out[1] = material.g;
        out[2] = material.b;
        out[3] = material.a;
    }
}

void Light(const GpuState& state, const LightingSetup& setup, const Float3& position,
           const Float3& normal, const float* color1, const float* color2, float diffuseOut[4],
           float specularOut[3]) {
    const GpuMaterial& m = state.material;
    float cd[4], ca[4], cs[4], ce[4];
    Source(setup.diffuseSource, m.diffuse, color1, color2, setup.colorVertex, cd);
    Source(setup.ambientSource, m.ambient, color1, color2, setup.colorVertex, ca);
    Source(setup.specularSource, m.specular, color1, color2, setup.colorVertex, cs);
    Source(setup.emissiveSource, m.emissive, color1, color2, setup.colorVertex, ce);

    float amb[3] = {setup.ambient[0], setup.ambient[1], setup.ambient[2]};
    float dif[3] = {};
    float spe[3] = {};
    const Float3 toEye =
        setup.localViewer ? (position * -1.0f).NormalizedOrSelf() : Float3{0.0f, 0.0f, -1.0f};
    for (const LightInCamera& lc : setup.lights) {
        const GpuLight& l = *lc.light;
        Float3 toLight = lc.toLight;
        float attenuation = 1.0f;
        if (l.type != GpuLightType::Directional) {
            const Float3 d = lc.position - position;
            const float distance = d.Length();
            if (distance > l.range) {
                continue;
            }
            toLight = distance > 0.0f ? d / distance : Float3{};
            const float denominator =
                l.attenuation0 + l.attenuation1 * distance + l.attenuation2 * distance * distance;
            attenuation = denominator > 0.0f ? 1.0f / denominator : 1.0f;
            if (l.type == GpuLightType::Spot) {
                const float rho = (toLight * -1.0f).Dot(lc.spotAxis);
                if (rho <= lc.cosHalfPhi) {
                    attenuation = 0.0f;
                } else if (rho <= lc.cosHalfTheta) {
                    const float t = (rho - lc.cosHalfPhi) / (lc.cosHalfTheta - lc.cosHalfPhi);
                    attenuation *= l.falloff == 1.0f ? t : std::pow(t, l.falloff);
                }
            }
        }
        if (attenuation <= 0.0f) {
            continue;
        }
        amb[0] += l.ambient.r * attenuation;
        amb[1] += l.ambient.g * attenuation;
        amb[2] += l.ambient.b * attenuation;
        const float nDotL = normal.Dot(toLight);
        if (nDotL > 0.0f) {
            const float f = nDotL * attenuation;
            dif[0] += l.diffuse.r * f;
            dif[1] += l.diffuse.g * f;
            dif[2] += l.diffuse.b * f;
            if (setup.specular) {
                const Float3 half = (toEye + toLight).NormalizedOrSelf();
                const float nDotH = normal.Dot(half);
                if (nDotH > 0.0f && m.power > 0.0f) {
                    const float s = std::pow(nDotH, m.power) * attenuation;
                    spe[0] += l.specular.r * s;
                    spe[1] += l.specular.g * s;
                    spe[2] += l.specular.b * s;
                }
            }
        }
    }
    for (int c = 0; c < 3; ++c) {
        diffuseOut[c] = Clamp01(ce[c] + ca[c] * amb[c] + cd[c] * dif[c]);
        specularOut[c] = setup.specular ? Clamp01(cs[c] * spe[c]) : 0.0f;
    }
    diffuseOut[3] = Clamp01(cd[3]);
}

} // namespace

uint32_t ActiveStageCount(const GpuState& state) {
    uint32_t n = 0;
    while (n < GpuStageCount &&
           state.Get(n, GpuStageState::ColorOp) != static_cast<uint32_t>(GpuTextureOp::Disable)) {
        ++n;
    }
    return n;
}

float VertexFogFactor(GpuFogMode mode, float distance, float start, float end, float density) {
    float f = 1.0f;
    switch (mode) {
    case GpuFogMode::Linear:
        // A zero-length fog range would divide by zero: everything past it is fogged.
        f = end != start ? (end - distance) / (end - start) : (distance < end ? 1.0f : 0.0f);
        break;
    case GpuFogMode::Exp:
        f = std::exp(-(distance * density));
        break;
    case GpuFogMode::Exp2: {
        const float d = distance * density;
        f = std::exp(-(d * d));
        break;
    }
    case GpuFogMode::None:
        break;
    }
    return Clamp01(f);
}

namespace {

// What every vertex of a draw shares: the declaration's elements, the transforms, the lights and
// the fog.
struct VertexSetup {
    const GpuVertexElement* position = nullptr;
    const GpuVertexElement* positionT = nullptr;
    const GpuVertexElement* normal = nullptr;
    const GpuVertexElement* color1 = nullptr;
    const GpuVertexElement* color2 = nullptr;
    const GpuVertexElement* texCoords[GpuStageCount] = {};
    uint32_t texGen[GpuStageCount] = {};
    uint32_t stages = 0;
    bool pretransformed = false;

    Matrix4 worldView;
    Matrix4 worldViewProjection;
    Matrix4 normalMatrix;
    bool normalize = false;

    bool lighting = false;
    LightingSetup lights;

    bool fog = false;
    GpuFogMode fogMode = GpuFogMode::None;
    float fogStart = 0.0f;
    float fogEnd = 0.0f;
    float fogDensity = 0.0f;
    bool rangeFog = false;
};

void SetUpLighting(const GpuState& state, LightingSetup& setup) {
    float ambient[4];
    ArgbTo(state.Get(GpuRenderState::Ambient), ambient);
    std::copy(ambient, ambient + 3, setup.ambient);
    setup.specular = state.Get(GpuRenderState::SpecularEnable) != 0;
    setup.localViewer = state.Get(GpuRenderState::LocalViewer) != 0;
    setup.colorVertex = state.Get(GpuRenderState::ColorVertex) != 0;
    setup.diffuseSource =
        static_cast<GpuMaterialSource>(state.Get(GpuRenderState::DiffuseMaterialSource));
    setup.specularSource =
        static_cast<GpuMaterialSource>(state.Get(GpuRenderState::SpecularMaterialSource));
    setup.ambientSource =
        static_cast<GpuMaterialSource>(state.Get(GpuRenderState::AmbientMaterialSource));
    setup.emissiveSource =
        static_cast<GpuMaterialSource>(state.Get(GpuRenderState::EmissiveMaterialSource));
    const Matrix4& view = state.Get(GpuTransform::View);
    for (uint32_t i = 0; i < GpuMaxLights; ++i) {
        if (!state.lightEnabled[i]) {
            continue;
        }
        const GpuLight& l = state.lights[i];
        LightInCamera lc;
        lc.light = &l;
        lc.position = Point({l.position.x, l.position.y, l.position.z}, view);
        const Float3 direction =
            view.TransformNormal({l.direction.x, l.direction.y, l.direction.z}).NormalizedOrSelf();
        lc.spotAxis = direction;
        lc.toLight = direction * -1.0f;
        lc.cosHalfTheta = std::cos(l.theta * 0.5f);
        lc.cosHalfPhi = std::cos(l.phi * 0.5f);
        setup.lights.push_back(lc);
    }
}

// False when the declaration is missing or has no position.
bool SetUpVertices(const GpuState& state, VertexSetup& setup) {
    const auto* declaration = static_cast<const SoftwareVertexDeclaration*>(state.declaration);
    if (declaration == nullptr) {
        return false;
    }
    setup.position = declaration->Find(GpuDeclUsage::Position, 0);
    setup.positionT = declaration->Find(GpuDeclUsage::PositionT, 0);
    if (setup.position == nullptr && setup.positionT == nullptr) {
        return false;
    }
    setup.pretransformed = setup.positionT != nullptr;
    setup.normal = declaration->Find(GpuDeclUsage::Normal, 0);
    setup.color1 = declaration->Find(GpuDeclUsage::Color, 0);
    setup.color2 = declaration->Find(GpuDeclUsage::Color, 1);
    // A pixel program may read any coordinate set, not only those of enabled stages.
    setup.stages = state.pixelShader != nullptr ? GpuStageCount : ActiveStageCount(state);
    for (uint32_t s = 0; s < setup.stages; ++s) {
        const uint32_t word = state.Get(s, GpuStageState::TexCoordIndex);
        setup.texCoords[s] = declaration->Find(GpuDeclUsage::TexCoord, word & 0xFFFF);
        setup.texGen[s] = word & 0xFFFF0000u;
    }

    state.Get(GpuTransform::World).Multiply(state.Get(GpuTransform::View), setup.worldView);
    setup.worldView.Multiply(state.Get(GpuTransform::Projection), setup.worldViewProjection);
    // Normals go through the inverse transpose, so non-uniform scales keep them perpendicular.
    setup.normalMatrix = setup.worldView.Inverted();
    setup.normalMatrix.TransposeInPlace();
    setup.normalize = state.Get(GpuRenderState::NormalizeNormals) != 0;

    setup.lighting = !setup.pretransformed && state.Get(GpuRenderState::Lighting) != 0;
    if (setup.lighting) {
        SetUpLighting(state, setup.lights);
    }

    setup.fog = !setup.pretransformed && state.Get(GpuRenderState::FogEnable) != 0 &&
                state.Get(GpuRenderState::FogTableMode) == static_cast<uint32_t>(GpuFogMode::None);
    setup.fogMode = static_cast<GpuFogMode>(state.Get(GpuRenderState::FogVertexMode));
    setup.fogStart = StateFloat(state, GpuRenderState::FogStart);
    setup.fogEnd = StateFloat(state, GpuRenderState::FogEnd);
    setup.fogDensity = StateFloat(state, GpuRenderState::FogDensity);
    setup.rangeFog = state.Get(GpuRenderState::RangeFogEnable) != 0;
    return true;
}

// One vertex, read from its place in each stream (null for a stream without data).
void ProcessVertex(const GpuState& state, const VertexSetup& setup,
                   const uint8_t* const streams[GpuStreamCount], RasterVertex& rv) {
    auto read = [&](const GpuVertexElement* e, float values[4]) -> uint32_t {
        if (e == nullptr || e->stream >= GpuStreamCount || streams[e->stream] == nullptr) {
            return 0;
        }
        return ReadElement(*e, streams[e->stream], values);
    };
    float* a = rv.attr;
    float c1[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    float c2[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    const bool hasC1 = read(setup.color1, c1) != 0;
    const bool hasC2 = read(setup.color2, c2) != 0;

    float p[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    Float3 cameraPosition;
    Float3 cameraNormal;
    if (setup.pretransformed) {
        read(setup.positionT, p);
        std::copy(p, p + 4, rv.pos);
    } else {
        read(setup.position, p);
        const Float4 clip = Float4Transform({p[0], p[1], p[2], 1.0f}, setup.worldViewProjection);
        rv.pos[0] = clip.x;
        rv.pos[1] = clip.y;
        rv.pos[2] = clip.z;
        rv.pos[3] = clip.w;
        cameraPosition = Point({p[0], p[1], p[2]}, setup.worldView);
        float n[4] = {};
        if (read(setup.normal, n) != 0) {
            cameraNormal = setup.normalMatrix.TransformNormal({n[0], n[1], n[2]});
            if (setup.normalize) {
                cameraNormal.Normalize();
            }
        }
    }

    if (setup.lighting) {
        Light(state, setup.lights, cameraPosition, cameraNormal, hasC1 ? c1 : nullptr,
              hasC2 ? c2 : nullptr, a + AttrDiffuse, a + AttrSpecular);
    } else {
        std::copy(c1, c1 + 4, a + AttrDiffuse);
        std::copy(c2, c2 + 3, a + AttrSpecular);
    }
    a[AttrFog] = 1.0f;
    if (setup.fog) {
        const float distance =
            setup.rangeFog ? cameraPosition.Length() : std::fabs(cameraPosition.z);
        a[AttrFog] = VertexFogFactor(setup.fogMode, distance, setup.fogStart, setup.fogEnd,
                                     setup.fogDensity);
    }

    for (uint32_t s = 0; s < setup.stages; ++s) {
        float t[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        uint32_t n = 0;
        if (setup.texGen[s] == GpuTexGenCameraSpaceReflection && !setup.pretransformed) {
            const Float3 e = setup.lights.localViewer || !setup.lighting
                                 ? (cameraPosition * -1.0f).NormalizedOrSelf()
                                 : Float3{0.0f, 0.0f, -1.0f};
            const Float3 r = cameraNormal * (2.0f * e.Dot(cameraNormal)) - e;
            t[0] = r.x;
            t[1] = r.y;
            t[2] = r.z;
            n = 3;
        } else {
            n = read(setup.texCoords[s], t);
        }
        const auto flags = static_cast<GpuTextureTransformFlags>(
            state.Get(s, GpuStageState::TextureTransformFlags));
        if (flags != GpuTextureTransformFlags::Disable) {
            // The component after the last present one reads 1, so a 2D coordinate picks up
            // the matrix's third row as its translation.
            if (n < 4) {
                t[n] = 1.0f;
            }
            const Float4 r = Float4Transform(
                {t[0], t[1], t[2], t[3]}, state.Get(static_cast<GpuTransform>(
                                              static_cast<uint32_t>(GpuTransform::Texture0) + s)));
            t[0] = r.x;
            t[1] = r.y;
            t[2] = r.z;
            t[3] = r.w;
        }
        std::copy(t, t + 4, a + AttrTexture + 4 * s);
    }
}

// The vertex program's outputs in the attribute slots the fixed function would fill.
void CopyVertexOutputs(const float (*outputs)[4], uint32_t written, RasterVertex& rv) {
    std::copy(outputs[ShaderOutPosition], outputs[ShaderOutPosition] + 4, rv.pos);
    std::copy(outputs[ShaderOutColor], outputs[ShaderOutColor] + 4, rv.attr + AttrDiffuse);
    std::copy(outputs[ShaderOutColor + 1], outputs[ShaderOutColor + 1] + 3, rv.attr + AttrSpecular);
    // Without an oFog write the vertex is not fogged.
    rv.attr[AttrFog] =
        (written >> ShaderOutFog & 1) != 0 ? Clamp01(outputs[ShaderOutFog][0]) : 1.0f;
    for (uint32_t t = 0; t < GpuVertexTexCoordOutCount; ++t) {
        std::copy(outputs[ShaderOutTexCoord + t], outputs[ShaderOutTexCoord + t] + 4,
                  rv.attr + AttrTexture + 4 * t);
    }
}

// The inputs of a vertex program: the declaration's elements feed the inputs its dcl names by
// usage.
struct VertexInput {
    const GpuVertexElement* element;
    uint32_t index;
};

std::vector<VertexInput> VertexInputs(const SoftwareVertexDeclaration& declaration,
                                      const GpuShaderProgram& program) {
    std::vector<VertexInput> inputs;
    for (const GpuShaderDeclaration& d : program.declarations) {
        GpuDeclUsage usage = GpuDeclUsage::Position;
        switch (d.usage) {
        case GpuShaderUsage::Position:
            usage = GpuDeclUsage::Position;
            break;
        case GpuShaderUsage::BlendWeight:
            usage = GpuDeclUsage::BlendWeight;
            break;
        case GpuShaderUsage::Normal:
            usage = GpuDeclUsage::Normal;
            break;
        case GpuShaderUsage::TexCoord:
            usage = GpuDeclUsage::TexCoord;
            break;
        case GpuShaderUsage::Color:
            usage = GpuDeclUsage::Color;
            break;
        }
        const GpuVertexElement* e = declaration.Find(usage, d.usageIndex);
        if (e == nullptr && usage == GpuDeclUsage::Position) {
            e = declaration.Find(GpuDeclUsage::PositionT, d.usageIndex);
        }
        inputs.push_back({e, d.index});
    }
    return inputs;
}

// Input `input` of draw vertex `v`: (0, 0, 0, 1) where the stream or element is missing.
void ReadVertexInput(const GpuDrawCall& call, const VertexInput& input, uint64_t v,
                     float value[4]) {
    value[0] = value[1] = value[2] = 0.0f;
    value[3] = 1.0f;
    const uint32_t stream = input.element != nullptr ? input.element->stream : 0;
    if (input.element != nullptr && call.streamData[stream] != nullptr) {
        ReadElement(*input.element, call.streamData[stream] + v * call.streamStride[stream], value);
    }
}

// The reference interpreter, vertex by vertex.
void ShadeVerticesOneByOne(const GpuState& state, const GpuDrawCall& call,
                           const VertexSelection& which, const std::vector<VertexInput>& inputs,
                           std::vector<RasterVertex>& out) {
    const auto& program = static_cast<const SoftwareShader*>(state.vertexShader)->Program();
    ShaderMachine machine;
    machine.Setup(program, state.vertexConstants, GpuVertexConstCount);
    ShaderRegisters r{};
    for (uint32_t i = 0; i < out.size(); ++i) {
        for (const VertexInput& input : inputs) {
            ReadVertexInput(call, input, which[i], r.inputs[input.index]);
        }
        r.written = 0;
        for (auto& o : r.outputs) {
            o[0] = o[1] = o[2] = o[3] = 0.0f;
        }
        machine.Run(r, nullptr);
        CopyVertexOutputs(r.outputs, r.written, out[i]);
    }
}

// Runs the vertex program over blocks of vertices, a large draw's blocks spread over `threads`.
bool ShadeVertices(const GpuState& state, const GpuDrawCall& call, const VertexSelection& which,
                   std::vector<RasterVertex>& out, RenderThreads& threads) {
    const auto* declaration = static_cast<const SoftwareVertexDeclaration*>(state.declaration);
    if (declaration == nullptr) {
        return false;
    }
    const auto* shader = static_cast<const SoftwareShader*>(state.vertexShader);
    const std::vector<VertexInput> inputs = VertexInputs(*declaration, shader->Program());
    const uint32_t count = which.count;
    out.resize(count);
    if (!ShaderBlocks()) {
        ShadeVerticesOneByOne(state, call, which, inputs, out);
        return true;
    }
    const BlockProgram& block = shader->Block();
    BlockConstants constants;
    constants.Setup(block, shader->Program(), state.vertexConstants, GpuVertexConstCount);
    auto shade = [&](uint32_t from, uint32_t to) {
        thread_local BlockFile files;
        float* file = files.Reserve(block.Registers());
        ShaderBlockRun run;
        run.program = &block;
        run.constants = &constants;
        run.file = file;
        for (uint32_t start = from; start < to; start += BlockLanes) {
            const uint32_t n = std::min(BlockLanes, to - start);
            run.lanes = (n + 7) & ~7u;
            for (const VertexInput& input : inputs) {
                const uint32_t offset = block.Input(input.index);
                if (offset == NoBlockOffset) {
                    continue;
                }
                for (uint32_t lane = 0; lane < run.lanes; ++lane) {
                    float value[4] = {0.0f, 0.0f, 0.0f, 1.0f};
                    if (lane < n) {
                        ReadVertexInput(call, input, which[start + lane], value);
                    }
                    for (uint32_t c = 0; c < 4; ++c) {
                        file[offset + c * BlockLanes + lane] = value[c];
                    }
                }
            }
            RunShaderBlock(run);
            for (uint32_t lane = 0; lane < n; ++lane) {
                float outputs[ShaderOutCount][4] = {};
                for (uint32_t slot = 0; slot < ShaderOutCount; ++slot) {
                    const uint32_t offset = block.Output(slot);
                    for (uint32_t c = 0; c < 4 && offset != NoBlockOffset; ++c) {
                        outputs[slot][c] = file[offset + c * BlockLanes + lane];
                    }
                }
                CopyVertexOutputs(outputs, block.Written(), out[start + lane]);
            }
        }
    };
    // Vertices are independent: a large draw's blocks run in parallel, as the fixed function's.
    constexpr uint32_t Batch = 2048;
    if (count <= Batch) {
        shade(0, count);
        return true;
    }
    threads.Run((count + Batch - 1) / Batch, [&](uint32_t batch) {
        shade(batch * Batch, std::min(count, (batch + 1) * Batch));
    });
    return true;
}

} // namespace

bool ProcessVertices(const GpuState& state, const GpuDrawCall& call, const VertexSelection& which,
                     std::vector<RasterVertex>& out, bool& pretransformed, RenderThreads& threads) {
    if (state.vertexShader != nullptr) {
        pretransformed = false;
        return ShadeVertices(state, call, which, out, threads);
    }
    const uint32_t count = which.count;
    VertexSetup setup;
    if (!SetUpVertices(state, setup)) {
        return false;
    }
    pretransformed = setup.pretransformed;
    out.resize(count);
    // Vertices are independent: a large draw's are processed in parallel blocks, which left
    // serial were a fair share of a frame of many sprites on all threads.
    constexpr uint64_t Block = 2048;
    threads.Run(static_cast<uint32_t>((count + Block - 1) / Block), [&](uint32_t block) {
        const uint64_t end = std::min<uint64_t>(count, (block + 1) * Block);
        for (uint64_t i = block * Block; i < end; ++i) {
            const uint64_t v = which[static_cast<uint32_t>(i)];
            const uint8_t* streams[GpuStreamCount];
            for (uint32_t s = 0; s < GpuStreamCount; ++s) {
                streams[s] = call.streamData[s] != nullptr
                                 ? call.streamData[s] + v * call.streamStride[s]
                                 : nullptr;
            }
            ProcessVertex(state, setup, streams, out[i]);
        }
    });
    return true;
}

} // namespace quarn
