#pragma once

#include "render/Sprite.h"

namespace quarn {

// A sprite drawn as a nine-patch: its size is the inner rectangle and strips of `bordersize`
// lie outside it. The texture splits at its centre: each corner patch shows one quarter, the
// edges stretch the middle row or column and the centre its middle texel. The image is mirrored
// left to right against Sprite (u = 0 lies on the +x side), which stored scenes rely on.
// Bounding boxes and anchors stay the inner rectangle's; no shader is applied.
class BorderSprite : public Sprite {
public:
    BorderSprite() = default;

    ClassInfo* GetClass() const override { return classInfo; }
    // Sprite's test over half the border on each side, whatever the texture shows there.
    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override;
    void UpdateRenderState() override;
    void BuildGeometry() override;

    Float2 GetBorderSize() const { return borderSize_; }
    void SetBorderSize(Float2 size);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    Float2 borderSize_{0.5f, 0.5f};
};

} // namespace quarn
