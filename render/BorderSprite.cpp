#include "render/BorderSprite.h"

#include "core/object/ClassInfo.h"
#include "core/object/PropertyVector.h"
#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"

namespace quarn {

ClassInfo* BorderSprite::classInfo = nullptr;

namespace {

// Grid lines from the image's edge to its centre and out again: the middle two coincide, so
// the edge and centre patches stretch the middle texel line.
constexpr float GridUV[4] = {0.0f, 0.5f, 0.5f, 1.0f};

} // namespace

void BorderSprite::SetBorderSize(Float2 size) {
    if (size.x != borderSize_.x || size.y != borderSize_.y) {
        borderSize_ = size;
        SetRenderFlag(RenderColorStateValid, false);
    }
}

bool BorderSprite::IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) {
    const Float2 size = GetSize();
    const Float2 half((size.x + borderSize_.x) * 0.5f, (size.y + borderSize_.y) * 0.5f);
    return IntersectQuad(origin, direction, query, half, false);
}

void BorderSprite::UpdateRenderState() {
    UpdateSpriteState(FlatRebuildOnViewSpaceMove, false);
}

void BorderSprite::BuildGeometry() {
    // The grid's triangles never change.
    if (indices_->GetIndexCount() != 54) {
        indices_->Create(54, IndexSystemMemory);
        for (uint32_t r = 0; r < 3; ++r) {
            for (uint32_t c = 0; c < 3; ++c) {
                const uint32_t a = 4 * r + c;
                const uint32_t k = 3 * r + c;
                indices_->SetTriangle(2 * k, a, a + 1, a + 4);
                indices_->SetTriangle(2 * k + 1, a + 1, a + 5, a + 4);
            }
        }
    }
    const uint32_t format = GetVertexFormat();
    vertices_->Create(16, format, 0);
    const uint32_t color = GetTextureFactor();
    Float2 uvMin;
    Float2 uvMax;
    GetPlacedUV(uvMin, uvMax);
    const Float2 half(GetSize().x * 0.5f, GetSize().y * 0.5f);
    const float columns[4] = {half.x + borderSize_.x, half.x, -half.x, -half.x - borderSize_.x};
    const float rows[4] = {half.y + borderSize_.y, half.y, -half.y, -half.y - borderSize_.y};
    const bool screen = GetMatrixMode() == MatrixScreen;
    const ScreenPlacement placement = screen ? GetScreenPlacement() : ScreenPlacement{};
    for (uint32_t r = 0; r < 4; ++r) {
        for (uint32_t c = 0; c < 4; ++c) {
            const uint32_t i = r * 4 + c;
            if (screen) {
                // Screen y grows downwards; rhw is 1.
                const Float2 p = placement.Place(Float2(columns[c], -rows[r]));
                vertices_->SetPosition(i, Float3(p.x, p.y, 0.0f));
            } else {
                vertices_->SetPosition(i, Float3(columns[c], rows[r], 0.0f));
            }
            vertices_->SetNormal(i, Float3(0.0f, 0.0f, 1.0f));
            vertices_->SetColor(i, 0, color);
            vertices_->SetTexCoord(i, 0, GridUV[c] * uvMax.x, GridUV[r] * uvMax.y);
        }
    }
    // From the property, not the placed rectangle: an atlas member clamps as its own image.
    vertices_->SetFlags(VertexClampU0, GetMaxUV().x <= 1.0f ? VertexClampU0 : 0);
    vertices_->SetFlags(VertexClampV0, GetMaxUV().y <= 1.0f ? VertexClampV0 : 0);
}

ClassInfo* BorderSprite::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "BorderSprite", []() -> Entity* { return new BorderSprite(); }, &classInfo);
    classInfo->SetParent(Sprite::RegisterClass());
    classInfo->SetCategory("Gfx");
    classInfo
        ->AddProperty<PropertyFloat2, &BorderSprite::GetBorderSize, &BorderSprite::SetBorderSize>(
            "bordersize");
    return classInfo;
}

} // namespace quarn
