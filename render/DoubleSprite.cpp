#include "render/DoubleSprite.h"

#include "core/object/ClassInfo.h"
#include "core/object/PropertyText.h"
#include "core/object/PropertyVector.h"
#include "core/object/Signals.h"
#include "device/ImageTexture.h"
#include "device/VertexBuffer.h"
#include "resources/Texture.h"

namespace quarn {

ClassInfo* DoubleSprite::classInfo = nullptr;

namespace {

constexpr uint32_t DoubleFormat =
    VertexPosition | VertexDiffuse | VertexTexCoord0 | VertexTexCoord0 << 1;
constexpr uint32_t UVBits = RenderColorStateValid | RenderStateValid;
// The clamp bits of the second coordinate set.
constexpr uint32_t VertexClampU1 = VertexClampU0 << 2;
constexpr uint32_t VertexClampV1 = VertexClampV0 << 2;

bool IsScreenMode(int32_t mode) {
    return mode == MatrixScreen || mode == MatrixViewSpace;
}

} // namespace

DoubleSprite::~DoubleSprite() {
    if (texture2_) {
        texture2_->Release();
    }
}

const char* DoubleSprite::GetTexture2Name() const {
    return RelativePathOf(texture2_);
}

void DoubleSprite::SetTexture2Name(const char* name) {
    Texture* texture = name && *name ? quarn::GetTexture(name, "") : nullptr;
    if (texture && texture != texture2_ && texture->GetDeviceTexture()) {
        minUV2_ = texture->GetDeviceTexture()->GetMinUV();
        maxUV2_ = texture->GetDeviceTexture()->GetMaxUV();
        if (texture->GetTextureFlags() & TextureTranslucent) {
            SetRenderFlag(RenderZWrite, false);
        }
    }
    if (!ReplaceHeldResource(texture2_, texture)) {
        return;
    }
    SendSignal("propertychange", static_cast<Entity*>(this), true);
    SetRenderFlag(UVBits, false);
}

void DoubleSprite::SetMinUV2(Float2 uv) {
    minUV2_ = uv;
    SetRenderFlag(UVBits, false);
}

void DoubleSprite::SetMaxUV2(Float2 uv) {
    maxUV2_ = uv;
    SetRenderFlag(UVBits, false);
}

bool DoubleSprite::HasDeviceTexture2() const {
    return texture2_ && texture2_->GetDeviceTexture();
}

bool DoubleSprite::IsOpaque() {
    return Sprite::IsOpaque() && HasDeviceTexture2() &&
           !(texture2_->GetTextureFlags() & TextureTranslucent);
}

uint32_t DoubleSprite::GetVertexFormat() const {
    uint32_t format = DoubleFormat | (TestRenderFlags(RenderLighting) ? VertexNormal : 0);
    if (IsScreenMode(GetMatrixMode())) {
        format = (format & ~VertexPosition) | VertexScreenPosition;
    }
    return format;
}

void DoubleSprite::UpdateRenderState() {
    UpdateSpriteState(FlatRebuildOnViewSpaceMove, true);
}

void DoubleSprite::SetMeshLayers(DeviceMesh& mesh) {
    mesh.SetLayerCount(2);
    Texture* texture = GetTexture();
    mesh.SetLayer(0, HasDeviceTexture() ? texture->GetDeviceTexture() : nullptr,
                  static_cast<BlendMode>(GetBlendMode()));
    mesh.SetLayer(1, HasDeviceTexture2() ? texture2_->GetDeviceTexture() : nullptr,
                  BlendMode::Multiply);
}

void DoubleSprite::BuildGeometry() {
    const Float2 uv1[4] = {{minUV2_.x, maxUV2_.y},
                           {maxUV2_.x, maxUV2_.y},
                           {maxUV2_.x, minUV2_.y},
                           {minUV2_.x, minUV2_.y}};
    BuildQuad(IsScreenMode(GetMatrixMode()), &uv1);
    if (vertices_) {
        vertices_->SetFlags(VertexClampU1, maxUV2_.x <= 1.0f ? VertexClampU1 : 0);
        vertices_->SetFlags(VertexClampV1, maxUV2_.y <= 1.0f ? VertexClampV1 : 0);
    }
}

ClassInfo* DoubleSprite::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "DoubleSprite", []() -> Entity* { return new DoubleSprite(); }, &classInfo);
    classInfo->SetParent(Sprite::RegisterClass());
    classInfo->SetCategory("Gfx");
    classInfo->AddResourceProperty<&DoubleSprite::GetTexture2Name, &DoubleSprite::SetTexture2Name>(
        "texture2:bmp", &GetImageTextureExtensions);
    classInfo->AddProperty<PropertyFloat2, &DoubleSprite::GetMinUV2, &DoubleSprite::SetMinUV2>(
        "minuv2");
    classInfo->AddProperty<PropertyFloat2, &DoubleSprite::GetMaxUV2, &DoubleSprite::SetMaxUV2>(
        "maxuv2");
    return classInfo;
}

} // namespace quarn
