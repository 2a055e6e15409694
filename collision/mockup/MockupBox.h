#pragma once

#include "collision/CollisionBox.h"
#include "collision/mockup/MockupLightMap.h"
#include "core/math/Matrix4.h"

#include <array>
#include <cstdint>
#include <memory>

namespace quarn {

class Texture;

// Bits of MockupBox::faceflags below the face count.
enum MockupFaceBits : uint32_t {
    MockupFaceX1 = 0x1, // -X
    MockupFaceX2 = 0x2, // +X
    MockupFaceY1 = 0x4,
    MockupFaceY2 = 0x8,
    MockupFaceZ1 = 0x10,
    MockupFaceZ2 = 0x20,
    MockupFacesAll = 0x3F,
};

enum MockupTextureMode : int32_t {
    MockupStretch = 0,
    MockupTile = 1,
    MockupTileDiagonal = 2,
    MockupCentre = 3,
};

// Placeholder level geometry: a collision box drawn as up to six textured faces, each of which
// can be switched off, with an optional lightmap laid out face by face. The mesh stands 0.0002
// outside the collision box so that decals on the box do not fight it.
class MockupBox : public CollisionBox {
public:
    MockupBox();
    ~MockupBox() override;

    PathString GetDescription() const override;
    void UpgradeVersion(int fileVersion) override;
    ClassInfo* GetClass() const override { return classInfo; }
    // A NaN opacity counts as visible.
    bool IsVisible() override;
    // Under face filtering, a hit on a switched-off face does not count.
    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override;
    // Face -1 (as a word) picks the face nearest the point.
    uint32_t GetColorArgb(Float3 point, uint32_t face) override;
    Float4 GetColorRgba(Float3 point, uint32_t face) override;
    int32_t Render() override;
    void UpdateRenderState() override;
    DeviceMesh* GetRenderMesh() override { return mesh_.get(); }
    bool IsRenderable() override;

    const char* GetTextureName() const;
    void SetTextureName(const char* name);
    Texture* GetTexture() const { return texture_; }
    int32_t GetTextureMode() const { return textureMode_; }
    void SetTextureMode(int32_t mode);
    float GetTileSize() const { return tileSize_; }
    void SetTileSize(float size);
    // Bits 0-15; the face count lives above them.
    uint32_t GetFaceFlags() const { return faceFlags_ & 0xFFFF; }
    uint32_t GetFaceFlagsWord() const { return faceFlags_; }
    void SetFaceFlags(uint32_t flags);
    uint32_t GetMapFlags() const { return mapFlags_; }
    void SetMapFlags(uint32_t flags);
    Texture* GetLightMap() const { return lightMap_; }

    // World units per lightmap texel.
    float GetTexelSpacing() const;
    // The size the layout asks for; (0, 0) with no face, or when it does not fit 32 bits.
    Int2 GetLightMapSize() const;
    uint64_t GetLightMapBytes() const override;
    void CreateLightMap();
    void InitLightMap();
    void UpdateLightMap();
    void SaveLightMap();

    struct FaceRect {
        int32_t x = 0;
        int32_t y = 0;
        int32_t w = 0;
        int32_t h = 0;
    };
    // Rectangle of face f as the last layout placed it.
    FaceRect GetFaceRect(int f) const { return faceRects_[f]; }
    // Face of a local point: the axis whose face lies nearest, the side by its sign.
    int FindFace(Float3 local) const;
    // Lightmap coordinates of a local point on enabled face f; rebuilds stale face matrices.
    Float2 LightMapCoord(Float3 local, int f);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    // Texel counts in double precision; `valid` false when one is not finite or past 32 bits.
    struct Layout {
        bool valid = false;
        int64_t width = 0;
        int64_t height = 0;
        FaceRect rects[6];
    };
    Layout ComputeLayout() const;
    bool FaceEnabled(int f) const { return (faceFlags_ >> f) & 1; }
    bool FaceRotated(int f, const FaceRect& r) const;
    // The start corner and the edges along the rectangle's width and height, from the half
    // extent given.
    void FaceFrame(int f, const FaceRect& r, Float3 half, Float3& p0, Float3& e1,
                   Float3& e2) const;
    void EnsureDeviceObjects();
    void BuildMesh();
    void UpdateFaceMatrices();
    // The lightmap and the coordinates of a world point on it; null without a lightmap or
    // on a switched-off face.
    DeviceTexture* LightMapAt(Float3 point, uint32_t faceWord, Float2& uv);
    // Re-creates the lightmap when the layout asks for another size or it is shared; false
    // when no lightmap can be made.
    bool RecreateLightMap(bool fill);
    void TakeLightMap(Texture* lightMap);
    void MarkMappingChanged();

    Entity* ScriptGetLightMap() { return LightMapForScript(lightMap_); }
    Int2 ScriptGetLightMapSize() { return GetLightMapSize(); }
    void OnCreateLightMap(void*) { CreateLightMap(); }
    void OnInitLightMap(void*) { InitLightMap(); }
    void OnUpdateLightMap(void*) { UpdateLightMap(); }
    void OnSaveLightMap(void*) { SaveLightMap(); }
    void OnReleaseVideoMemory(void*) {}
    void OnRestoreVideoMemory(void*) { BuildMesh(); }
    void OnTextureResourceChanged(void* resource);

    static void OnSizeChanged(Entity* target, Entity& object, const uint32_t* oldValue,
                              const uint32_t* newValue);

    Texture* texture_ = nullptr;
    int32_t textureMode_ = MockupStretch;
    float tileSize_ = 1.0f;
    Texture* lightMap_ = nullptr;
    DrawBufferShare lightMapShare_; // a lightmap made here, counted in the scene's buffers
    uint32_t faceFlags_ = 0x6003F;
    uint32_t mapFlags_ = 0;
    std::unique_ptr<VertexBuffer> vertices_;
    std::unique_ptr<IndexBuffer> indices_;
    std::unique_ptr<DeviceMesh> mesh_;
    FaceRect faceRects_[6];
    std::unique_ptr<std::array<Matrix4, 6>> faceMatrices_;
    uint32_t changeBits_ = ChangeMesh;

    static constexpr uint32_t ChangeMesh = 2;
    static constexpr uint32_t ChangeFaceMatrices = 4;
};

} // namespace quarn
