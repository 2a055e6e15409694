#include "gpu/software/StateBlock.h"

#include "gpu/software/SoftwareDevice.h"

namespace quarn {

void StateBlockRecord::Forget(const void* object) {
    for (GpuTexture*& texture : values.textures) {
        if (texture == object) {
            texture = nullptr;
        }
    }
    for (GpuStreamBinding& stream : values.streams) {
        if (stream.buffer == object) {
            stream.buffer = nullptr;
        }
    }
    if (values.indices == object) {
        values.indices = nullptr;
    }
    if (values.declaration == object) {
        values.declaration = nullptr;
    }
    if (values.vertexShader == object) {
        values.vertexShader = nullptr;
    }
    if (values.pixelShader == object) {
        values.pixelShader = nullptr;
    }
}

StateBlock::StateBlock(std::shared_ptr<SoftwareDeviceLink> link, const StateBlockRecord& record)
    : link_(std::move(link)), record_(record) {}

StateBlock::~StateBlock() {
    if (link_->device != nullptr) {
        link_->device->Forget(this);
    }
}

GpuResult StateBlock::Apply() {
    SoftwareDevice* device = link_->device;
    if (device == nullptr || device->IsRecording()) {
        return GpuResult::InvalidCall;
    }
    const GpuState& v = record_.values;
    for (uint32_t i = 0; i < GpuRenderStateCount; ++i) {
        if (record_.renderStates[i]) {
            device->SetRenderState(static_cast<GpuRenderState>(i), v.renderStates[i]);
        }
    }
    for (uint32_t stage = 0; stage < GpuStageCount; ++stage) {
        for (uint32_t i = 0; i < GpuStageStateCount; ++i) {
            if (record_.stageStates[stage][i]) {
                device->SetTextureStageState(stage, static_cast<GpuStageState>(i),
                                             v.stageStates[stage][i]);
            }
        }
    }
    for (uint32_t sampler = 0; sampler < GpuSamplerCount; ++sampler) {
        for (uint32_t i = 0; i < GpuSamplerStateCount; ++i) {
            if (record_.samplerStates[sampler][i]) {
                device->SetSamplerState(sampler, static_cast<GpuSamplerState>(i),
                                        v.samplerStates[sampler][i]);
            }
        }
        if (record_.textures[sampler]) {
            device->SetTexture(sampler, v.textures[sampler]);
        }
    }
    for (uint32_t i = 0; i < GpuTransformCount; ++i) {
        if (record_.transforms[i]) {
            device->SetTransform(static_cast<GpuTransform>(i), v.transforms[i]);
        }
    }
    for (uint32_t i = 0; i < GpuMaxLights; ++i) {
        if (record_.lights[i]) {
            device->SetLight(i, v.lights[i]);
        }
        if (record_.lightEnables[i]) {
            device->LightEnable(i, v.lightEnabled[i]);
        }
    }
    if (record_.material) {
        device->SetMaterial(v.material);
    }
    if (record_.viewport) {
        device->SetViewport(v.viewport);
    }
    if (record_.scissor) {
        device->SetScissorRect(v.scissor);
    }
    if (record_.declaration) {
        device->SetVertexDeclaration(v.declaration);
    }
    for (uint32_t i = 0; i < GpuStreamCount; ++i) {
        if (record_.streams[i]) {
            device->SetStreamSource(i, v.streams[i].buffer, v.streams[i].offset,
                                    v.streams[i].stride);
        }
    }
    if (record_.indices) {
        device->SetIndices(v.indices);
    }
    if (record_.vertexShader) {
        device->SetVertexShader(v.vertexShader);
    }
    if (record_.pixelShader) {
        device->SetPixelShader(v.pixelShader);
    }
    for (uint32_t i = 0; i < GpuVertexConstCount; ++i) {
        if (record_.vertexConstants[i]) {
            device->SetShaderConstants(GpuShaderKind::Vertex, i, v.vertexConstants[i], 1);
        }
    }
    for (uint32_t i = 0; i < GpuPixelConstCount; ++i) {
        if (record_.pixelConstants[i]) {
            device->SetShaderConstants(GpuShaderKind::Pixel, i, v.pixelConstants[i], 1);
        }
    }
    return GpuResult::Ok;
}

} // namespace quarn
