#pragma once

#include "core/math/Geometry.h"
#include "render/RenderObject.h"

#include <cstdint>
#include <memory>
#include <string>

namespace quarn {

class DeviceTexture;
class EffectShader;
class Property;
class Shader;
class Texture;

// The size in pixels of the screen the platform runs on. The shell installs it with its
// platform; without one the shared render textures take the viewport's size.
using ScreenSizeQuery = Int2 (*)();
inline ScreenSizeQuery PlatformScreenSize = nullptr;

// Operations of a post-process quad; each has a built-in pixel program, which the node's own
// pixel shader replaces.
enum class PostProcessOp : uint32_t {
    Copy,
    BlurVertical,
    BlurHorizontal,
    Unused3,
    Unused4,
    HighPass,
    Brightness,
    Invert,
    Darken,
    Glow,
    Custom,
};
inline constexpr uint32_t PostProcessOpCount = 11;

// What a post-process quad reads and where it draws.
enum class PostProcessImage : uint32_t { BackBuffer, Result, Temp };

// Bits of the postprocessflags property.
inline constexpr uint32_t PostProcessCustomScale = 0x1;
inline constexpr uint32_t PostProcessCustomUV = 0x2;

// A full-screen quad that reads the back buffer, the last result or the temporary image through
// a pixel program and draws into the back buffer or one of three shared screen-sized render
// textures, "RenderTarget0" to "RenderTarget2": results alternate between the first two, the
// temporary image is the third. Chains of them make screen effects. Made in render type
// POSTPROCESS, whose pass draws nothing: a chain draws in the type it is given.
class PostProcess : public RenderObject {
public:
    PostProcess();
    ~PostProcess() override;

    // Enabled and enabled_all; opacity and render type do not count.
    bool IsVisible() override;
    int GetPropertyState(const Property& property) const override;
    void UpdateRenderState() override;
    int32_t Render() override;
    DeviceMesh* GetRenderMesh() override { return mesh_.get(); }
    ClassInfo* GetClass() const override { return classInfo; }

    const char* GetTextureName() const;
    void SetTextureName(const char* name);
    const char* GetPixelShaderName() const { return pixelShaderName_.c_str(); }
    void SetPixelShaderName(const char* name);
    // Stored and shown; the quad's coordinates come from the source image alone.
    Float2 GetMinUV() const { return minUV_; }
    void SetMinUV(Float2 uv) { minUV_ = uv; }
    Float2 GetMaxUV() const { return maxUV_; }
    void SetMaxUV(Float2 uv) { maxUV_ = uv; }
    Float2 GetTexScale() const { return texScale_; }
    void SetTexScale(Float2 scale) { texScale_ = scale; }
    uint32_t GetSource() const { return source_; }
    void SetSource(uint32_t source);
    uint32_t GetTexOp() const { return texOp_; }
    void SetTexOp(uint32_t op);
    uint32_t GetTarget() const { return target_; }
    void SetTarget(uint32_t target);
    uint32_t GetPostProcessFlags() const { return postProcessFlags_; }
    void SetPostProcessFlags(uint32_t flags) { postProcessFlags_ = flags; }
    float GetShaderProperty() const { return shaderProperty_; }
    void SetShaderProperty(float value);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    void BuildGeometry(Int2 view, Int2 sourceSize);
    // The node's own shader, else the built-in program of its operation; null without either.
    Shader* ChosenShader();

    Texture* texture_ = nullptr;            // one counted reference
    EffectShader* pixelShader_ = nullptr;   // one counted reference
    EffectShader* builtInShader_ = nullptr; // the operation's program, one counted reference
    std::string pixelShaderName_;
    std::string builtInName_;
    Float2 minUV_{0.0f, 0.0f};
    Float2 maxUV_{1.0f, 1.0f};
    Float2 texScale_{1.0f, 1.0f};
    uint32_t texOp_ = static_cast<uint32_t>(PostProcessOp::Glow);
    uint32_t source_ = static_cast<uint32_t>(PostProcessImage::Result);
    uint32_t target_ = static_cast<uint32_t>(PostProcessImage::Result);
    uint32_t postProcessFlags_ = 0;
    float shaderProperty_ = 1.0f;
    std::unique_ptr<VertexBuffer> vertices_;
    std::unique_ptr<IndexBuffer> indices_;
    std::unique_ptr<DeviceMesh> mesh_;
    Int2 builtViewport_;
    Int2 builtSourceSize_;
};

// The shared render texture 0-2, or null when it does not exist.
Texture* GetPostProcessTexture(uint32_t index);
// Makes the three shared render textures for the device in use, when it runs 2.0 pixel
// programs and they are not there yet (those of an earlier device are dropped first); false when
// they do not exist afterwards.
bool CreatePostProcessTextures();
void ReleasePostProcessTextures();

} // namespace quarn
