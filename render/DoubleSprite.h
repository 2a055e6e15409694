#pragma once

#include "render/Sprite.h"

namespace quarn {

// A sprite with a second texture multiplied over the first, through a second coordinate set
// taken from minuv2 and maxuv2 as they stand (not mapped into an atlas). It draws also without
// textures, with empty layers.
class DoubleSprite : public Sprite {
public:
    DoubleSprite() = default;
    ~DoubleSprite() override;

    ClassInfo* GetClass() const override { return classInfo; }
    // Sprite's rule, and the second texture must be opaque too.
    bool IsOpaque() override;
    void UpdateRenderState() override;
    bool IsRenderable() override { return true; }
    void BuildGeometry() override;

    const char* GetTexture2Name() const;
    // Acquires the texture by name (an empty name means none); a new one brings its own uv
    // rectangle and, when translucent, turns depth writes off.
    void SetTexture2Name(const char* name);
    Texture* GetTexture2() const { return texture2_; }
    Float2 GetMinUV2() const { return minUV2_; }
    void SetMinUV2(Float2 uv);
    Float2 GetMaxUV2() const { return maxUV2_; }
    void SetMaxUV2(Float2 uv);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

protected:
    // Both positioned modes lay the quad out in screen pixels.
    uint32_t GetVertexFormat() const override;
    void SetMeshLayers(DeviceMesh& mesh) override;

private:
    bool HasDeviceTexture2() const;

    Texture* texture2_ = nullptr;
    Float2 minUV2_{0.0f, 0.0f};
    Float2 maxUV2_{1.0f, 1.0f};
};

} // namespace quarn
