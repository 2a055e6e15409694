#pragma once

#include "core/math/Vector.h"
#include "render/RenderObject.h"

#include <cstdint>
#include <memory>

namespace quarn {

class Texture;

// One textured rectangle centred on the node: placed in 3D by the world transform (facing -z,
// y up), or in the matrix mode SCREEN laid out in pixels around the node's position. Its
// geometry, device state and world matrix are rebuilt lazily from the render-state bits; in
// the sprite family RenderColorStateValid means "geometry valid" (the vertex colour is part of
// the geometry). minuv beyond maxuv mirrors the image.
class Sprite : public RenderObject {
public:
    Sprite();
    ~Sprite() override;

    PathString GetDescription() const override;
    int GetPropertyState(const Property& property) const override;
    void UpgradeVersion(int fileVersion) override;
    ClassInfo* GetClass() const override { return classInfo; }
    Entity* GetResource() const override;

    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override;
    bool IsOpaque() override;
    int32_t GetAnchorCount() override { return 9; }
    // The centre, then the edge midpoints and corners from the bottom edge's midpoint on.
    Float3 GetAnchorPoint(int32_t index) override;
    void UpdateBoundingBox() override;
    void UpdateWorldBoundingBox() override;
    int32_t Render() override;
    void UpdateRenderState() override;
    DeviceMesh* GetRenderMesh() override { return mesh_.get(); }
    bool IsRenderable() override;
    // Writes the vertex and index data, made before the first call; sprite kinds with other
    // shapes replace it.
    virtual void BuildGeometry();

    const char* GetTextureName() const;
    // Acquires the texture by name; an empty name means none.
    void SetTextureName(const char* name);
    Texture* GetTexture() const { return texture_; }
    // Holds one more reference to the texture given (none when null).
    void SetTexture(Texture* texture);
    Float2 GetSize() const { return size_; }
    void SetSize(Float2 size);
    Float2 GetMinUV() const { return minUV_; }
    void SetMinUV(Float2 uv);
    Float2 GetMaxUV() const { return maxUV_; }
    void SetMaxUV(Float2 uv);
    // Keeps the width and takes the height from the texture's aspect.
    void FitHeightToTexture();

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

protected:
    // The minuv-maxuv rectangle mapped into the device texture, through the texture's place in
    // its atlas.
    void GetPlacedUV(Float2& uvMin, Float2& uvMax) const;
    // Places offsets from the node (pixels, y down) on the screen: turned by the world
    // orientation's turn about z, then moved to the world position.
    struct ScreenPlacement {
        bool turned = false;
        Float2 turn;
        Float2 origin;
        Float2 Place(Float2 offset) const;
    };
    ScreenPlacement GetScreenPlacement();
    // The four corners of the SCREEN layout in pixels (y down), turned by the world
    // orientation's turn about z; `grow` widens them by half a pixel, as the outline is drawn.
    void GetScreenCorners(bool grow, Float2 (&corners)[4]);
    // The vertex format the geometry needs for the matrix mode and the lighting flag.
    virtual uint32_t GetVertexFormat() const;

    // The quad in Sprite's corner order, laid out in screen pixels or in the node's plane;
    // `secondSet` gives the corners' second texture coordinates where the format has them.
    void BuildQuad(bool screen, const Float2 (*secondSet)[4]);

    // The render-state update the sprite kinds share, with the flat-mesh options; `useShader`
    // sets the effect shader with the brightness as its parameter.
    void UpdateSpriteState(uint32_t options, bool useShader);
    // The layer count and layers of the device mesh.
    virtual void SetMeshLayers(DeviceMesh& mesh);
    bool HasDeviceTexture() const;
    // The ray and screen pick over a rectangle of these half extents; `testTexture` also asks
    // the texture's opacity mask at the point hit.
    bool IntersectQuad(const Float3& origin, const Float3& direction, PickQuery& query, Float2 half,
                       bool testTexture);

    std::unique_ptr<VertexBuffer> vertices_;
    std::unique_ptr<IndexBuffer> indices_;
    std::unique_ptr<DeviceMesh> mesh_;

private:
    // Takes over the reference; a change clears the geometry and the render state and sends
    // "propertychange".
    void TakeTexture(Texture* texture);
    Float2 GetHalfSize() const { return {size_.x * 0.5f, size_.y * 0.5f}; }
    bool IntersectWorldRay(const Float3& origin, const Float3& direction, PickQuery& query,
                           Float2 half, bool testTexture);
    bool IntersectScreenPoint(PickQuery& query, Float2 half, bool testTexture);

    // Script methods.
    Entity* ScriptGetTexture();
    void ScriptSetTexture(Entity* texture);

    static void OnBlendModeChanged(Entity* target, Entity& object, const uint32_t* oldValue,
                                   const uint32_t* newValue);

    Texture* texture_ = nullptr;
    Float2 size_{1.0f, 1.0f};
    Float2 minUV_{0.0f, 0.0f};
    Float2 maxUV_{1.0f, 1.0f};
};

} // namespace quarn
