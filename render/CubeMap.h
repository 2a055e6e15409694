#pragma once

#include "render/RenderObject.h"

namespace quarn {

class Texture;

// Binds its texture to texture stage 2 when drawn, for the pixel programs of objects drawn
// after it. Device meshes disable the stage after their last layer, so the fixed function never
// samples it.
class CubeMap : public RenderObject {
public:
    CubeMap() = default;
    ~CubeMap() override;

    int32_t Render() override;
    // It has no extent: its box stays where it was.
    void UpdateWorldBoundingBox() override {}
    ClassInfo* GetClass() const override { return classInfo; }

    const char* GetTextureName() const;
    void SetTextureName(const char* name);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    Texture* texture_ = nullptr; // one counted reference
};

} // namespace quarn
