#pragma once

#include "core/math/Vector.h"
#include "core/scene/Node.h"

#include <cstdint>
#include <memory>
#include <string>

namespace quarn {

class DeviceTexture;
class EffectShader;
class Texture;

// Feeds one pixel shader its own four values (constant register c6, its parameter) and its
// texture 2, and tells scripts the average colour of the screen.
class ShaderSettings : public Node {
public:
    ShaderSettings() = default;
    ~ShaderSettings() override;

    ClassInfo* GetClass() const override { return classInfo; }

    const char* GetPixelShaderName() const { return pixelShaderName_.c_str(); }
    // A new shader takes the node's four values.
    void SetPixelShaderName(const char* name);
    // Without a pixel shader a component is dropped; with one, the shader's current values
    // change in that component only.
    float GetShaderPropertyX() const { return shaderProperty_.x; }
    void SetShaderPropertyX(float value) { SetComponent(0, value); }
    float GetShaderPropertyY() const { return shaderProperty_.y; }
    void SetShaderPropertyY(float value) { SetComponent(1, value); }
    float GetShaderPropertyZ() const { return shaderProperty_.z; }
    void SetShaderPropertyZ(float value) { SetComponent(2, value); }
    float GetShaderPropertyW() const { return shaderProperty_.w; }
    void SetShaderPropertyW(float value) { SetComponent(3, value); }
    const Float4& GetShaderProperty() const { return shaderProperty_; }
    const char* GetShaderTextureName() const;
    // Only with a pixel shader.
    void SetShaderTextureName(const char* name);

    // The viewport's mean red, green and blue, sampled at 32 x 32 points; (0, 0, 0) without a
    // back buffer.
    Float3 GetAverageScreenColor();

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    void SetComponent(int index, float value);
    // Into the shader's parameter, which device meshes write to c6 at every draw, and into c6.
    void HandToShader();

    EffectShader* pixelShader_ = nullptr; // one counted reference
    std::string pixelShaderName_;
    Float4 shaderProperty_{1.0f, 1.0f, 1.0f, 1.0f};
    Texture* shaderTexture_ = nullptr; // one counted reference
    std::unique_ptr<DeviceTexture> sampleTexture_;
    uint64_t sampleDeviceSerial_ = 0;
};

} // namespace quarn
