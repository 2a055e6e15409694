#pragma once

#include "collision/CollisionCylinder.h"
#include "collision/mockup/MockupLightMap.h"

#include <cstdint>
#include <memory>

namespace quarn {

class DeviceMesh;
class IndexBuffer;
class Texture;

// Bits of MockupCylinder::mockupflags. The bias bits only matter to old scenes; the last
// three are kept for the editor.
enum MockupCylinderBits : uint32_t {
    MockupStretchHull = 0x1,
    MockupStretchCap = 0x2,
    MockupLightBias02 = 0x4,
    MockupLightBias04 = 0x8,
    MockupFacemapCap = 0x10,
    MockupSegmentsX2 = 0x20,
    MockupSquareTexUv = 0x40,
    MockupMirrorTexUv = 0x80,
};

// Lightmap parts: the hull unrolled, then a square per cap.
enum MockupCylinderPart : int {
    MockupHull = 0,
    MockupTopCap = 1, // z = +length/2
    MockupBottomCap = 2,
};

// Placeholder level geometry: a collision cylinder drawn as a 32-sided hull and two caps, the
// hull and the caps each with a texture of their own (a part without one is neither drawn nor
// hit under face filtering), with an optional lightmap of three rectangles.
class MockupCylinder : public CollisionCylinder {
public:
    MockupCylinder();
    ~MockupCylinder() override;

    PathString GetDescription() const override;
    void UpgradeVersion(int fileVersion) override;
    ClassInfo* GetClass() const override { return classInfo; }
    bool IsVisible() override;
    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override;
    // A part word of 0 or below is the hull; any other a cap, the one on the point's side.
    uint32_t GetColorArgb(Float3 point, uint32_t part) override;
    Float4 GetColorRgba(Float3 point, uint32_t part) override;
    int32_t Render() override;
    void UpdateRenderState() override;
    DeviceMesh* GetRenderMesh() override { return hull_.mesh.get(); }
    bool IsRenderable() override;

    const char* GetHullTextureName() const;
    void SetHullTextureName(const char* name);
    const char* GetCapTextureName() const;
    void SetCapTextureName(const char* name);
    Texture* GetHullTexture() const { return hullTexture_; }
    Texture* GetCapTexture() const { return capTexture_; }
    uint32_t GetMockupFlags() const { return mockupFlags_; }
    void SetMockupFlags(uint32_t flags);
    uint32_t GetMapFlags() const { return mapFlags_; }
    void SetMapFlags(uint32_t flags);
    float GetTileSize() const { return tileSize_; }
    void SetTileSize(float size);
    Texture* GetLightMap() const { return lightMap_; }

    // The size the layout asks for; (0, 0) when a count is not finite or past 32 bits.
    Int2 GetLightMapSize() const;
    uint64_t GetLightMapBytes() const override;
    void CreateLightMap();
    void InitLightMap();
    void UpdateLightMap();
    void SaveLightMap();

    struct PartRect {
        int32_t x = 0;
        int32_t y = 0;
        int32_t w = 0;
        int32_t h = 0;
    };
    PartRect GetPartRect(int part) const { return partRects_[part]; }
    // Lightmap coordinates of a local point on a part, as the mesh maps it.
    Float2 LightMapCoord(Float3 local, int part) const;
    // The hull's and the caps' texture repeats: (Us, Vs) and (Cu, Cv).
    Float2 HullTextureScale() const;
    Float2 CapTextureScale() const;

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    struct Spacings {
        double around = 0.0;
        double along = 0.0;
        double cap = 0.0;
    };
    // Texel counts in double precision; `valid` false when one is not finite or past 32 bits.
    struct Layout {
        bool valid = false;
        int64_t width = 0;
        int64_t height = 0;
        PartRect rects[3];
    };
    struct MeshSet {
        std::unique_ptr<VertexBuffer> vertices;
        std::unique_ptr<IndexBuffer> indices;
        std::unique_ptr<DeviceMesh> mesh;
    };
    Spacings GetSpacings() const;
    Layout ComputeLayout() const;
    void EnsureDeviceObjects();
    void BuildMesh();
    void BuildHull(const Float2& allocated, const Float2& origin);
    void BuildCaps(const Float2& allocated, const Float2& origin);
    bool RecreateLightMap();
    void TakeLightMap(Texture* lightMap);
    void MarkMeshChanged();
    // The texture of a part word and the lightmap with the point's coordinates on it (null
    // without a lightmap).
    Texture* PartTexture(uint32_t part) const;
    DeviceTexture* LightMapAt(Float3 point, uint32_t part, Float2& uv);

    Entity* ScriptGetLightMap() { return LightMapForScript(lightMap_); }
    Int2 ScriptGetLightMapSize() { return GetLightMapSize(); }
    void OnCreateLightMap(void*) { CreateLightMap(); }
    void OnInitLightMap(void*) { InitLightMap(); }
    void OnUpdateLightMap(void*) { UpdateLightMap(); }
    void OnSaveLightMap(void*) { SaveLightMap(); }
    void OnReleaseVideoMemory(void*) {}
    void OnRestoreVideoMemory(void*) { BuildMesh(); }
    void OnTextureResourceChanged(void* resource);

    static void OnDimensionChanged(Entity* target, Entity& object, const uint32_t* oldValue,
                                   const uint32_t* newValue);

    Texture* hullTexture_ = nullptr;
    Texture* capTexture_ = nullptr;
    float tileSize_ = 1.0f;
    uint32_t mockupFlags_ = 0;
    uint32_t mapFlags_ = 0;
    Texture* lightMap_ = nullptr;
    DrawBufferShare lightMapShare_; // a lightmap made here, counted in the scene's buffers
    MeshSet hull_;
    MeshSet caps_;
    PartRect partRects_[3];
    uint32_t changeBits_ = ChangeMesh;

    static constexpr uint32_t ChangeMesh = 2;
};

} // namespace quarn
