#include "render/ShaderSettings.h"

#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "device/DeviceTexture.h"
#include "device/RenderDevice.h"
#include "device/Shader.h"
#include "resources/EffectShader.h"
#include "resources/Texture.h"

#include <algorithm>

namespace quarn {

ClassInfo* ShaderSettings::classInfo = nullptr;

namespace {

constexpr int32_t SampleSize = 32;

Shader* DeviceShaderOf(EffectShader* shader) {
    return shader ? shader->GetShader() : nullptr;
}

} // namespace

ShaderSettings::~ShaderSettings() {
    if (pixelShader_) {
        pixelShader_->Release();
    }
    if (shaderTexture_) {
        shaderTexture_->Release();
    }
}

void ShaderSettings::HandToShader() {
    if (Shader* shader = DeviceShaderOf(pixelShader_)) {
        shader->SetParameter(shaderProperty_);
        shader->SetVectorConstant(ShaderOwnParameter, shaderProperty_);
    }
}

void ShaderSettings::SetPixelShaderName(const char* name) {
    if (ReplaceEffectShader(pixelShader_, pixelShaderName_, name)) {
        HandToShader();
    }
}

void ShaderSettings::SetComponent(int index, float value) {
    if (!pixelShader_) {
        return;
    }
    if (Shader* shader = DeviceShaderOf(pixelShader_)) {
        shaderProperty_ = shader->GetParameter();
    }
    float* components[4] = {&shaderProperty_.x, &shaderProperty_.y, &shaderProperty_.z,
                            &shaderProperty_.w};
    *components[index] = value;
    HandToShader();
}

const char* ShaderSettings::GetShaderTextureName() const {
    return RelativePathOf(shaderTexture_);
}

void ShaderSettings::SetShaderTextureName(const char* name) {
    if (!pixelShader_ ||
        !ReplaceHeldResource(shaderTexture_, name && *name ? GetTexture(name, "") : nullptr)) {
        return;
    }
    if (Shader* shader = DeviceShaderOf(pixelShader_)) {
        shader->SetTexture(2, shaderTexture_ ? shaderTexture_->GetDeviceTexture() : nullptr);
    }
}

Float3 ShaderSettings::GetAverageScreenColor() {
    RenderDevice* device = TheRenderDevice();
    if (!device || device->GetBackBufferFormat() == PixelFormat::Unknown) {
        return {};
    }
    if (!sampleTexture_ || sampleDeviceSerial_ != device->GetSerial()) {
        sampleTexture_ = device->CreateTexture();
        sampleDeviceSerial_ = device->GetSerial();
        if (sampleTexture_ &&
            !sampleTexture_->Create(SampleSize, SampleSize, device->GetBackBufferFormat(),
                                    TextureKind::Texture2D, TextureFlagRenderTarget, 1)) {
            sampleTexture_.reset();
        }
    }
    if (!sampleTexture_) {
        return {};
    }
    // The whole viewport scaled into the sample texture, point filtered; a viewport smaller
    // than it fills only its own corner, and only that is read.
    device->CopyBackBufferToTexture(sampleTexture_.get());
    const Int2 view = device->GetViewportSize();
    const int32_t width = std::min(view.x, SampleSize);
    const int32_t height = std::min(view.y, SampleSize);
    if (width <= 0 || height <= 0 || !sampleTexture_->Lock(TextureLockRead, 0)) {
        return {};
    }
    // Summed in double, so a uniform screen answers its own colour.
    double sum[3] = {};
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const Float4 texel = sampleTexture_->GetPixelFloat4(x, y);
            sum[0] += texel.x;
            sum[1] += texel.y;
            sum[2] += texel.z;
        }
    }
    sampleTexture_->Lock(TextureUnlocked, 0);
    const double count = static_cast<double>(width) * static_cast<double>(height);
    return {static_cast<float>(sum[0] / count), static_cast<float>(sum[1] / count),
            static_cast<float>(sum[2] / count)};
}

ClassInfo* ShaderSettings::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "ShaderSettings", []() -> Entity* { return new ShaderSettings(); }, &classInfo);
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetCategory("Gfx");
    classInfo->AddResourceProperty<&ShaderSettings::GetPixelShaderName,
                                   &ShaderSettings::SetPixelShaderName>(
        "pixelshader:fx", &EffectShader::GetLoadableExtensions);
    classInfo->AddProperty<PropertyFloat, &ShaderSettings::GetShaderPropertyX,
                           &ShaderSettings::SetShaderPropertyX>("shaderpropertyx");
    classInfo->AddProperty<PropertyFloat, &ShaderSettings::GetShaderPropertyY,
                           &ShaderSettings::SetShaderPropertyY>("shaderpropertyy");
    classInfo->AddProperty<PropertyFloat, &ShaderSettings::GetShaderPropertyZ,
                           &ShaderSettings::SetShaderPropertyZ>("shaderpropertyz");
    classInfo->AddProperty<PropertyFloat, &ShaderSettings::GetShaderPropertyW,
                           &ShaderSettings::SetShaderPropertyW>("shaderpropertyw");
    classInfo->AddProperty<PropertyResource, &ShaderSettings::GetShaderTextureName,
                           &ShaderSettings::SetShaderTextureName>("shadertexture");
    // Named as scripts call it, with no generated name.
    classInfo->AddMethod("GetAverageScreenColor", "():float3",
                         BindMethod<&ShaderSettings::GetAverageScreenColor>(), MethodClassSignal);
    return classInfo;
}

} // namespace quarn
