#pragma once

#include "core/math/Geometry.h"
#include "core/scene/Picking.h"
#include "core/scene/Pivot.h"
#include "core/scene/RenderObjectBounds.h"
#include "device/DeviceMesh.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quarn {

class EffectShader;

class DeviceTexture;
class IndexBuffer;
class VertexBuffer;

// Render types: the render pass (1-17) a drawable is drawn in. Stored in scene files by number.
enum RenderType : int32_t {
    RenderInvisible = 0,
    RenderBackdrop = RenderTypeBackdrop,
    RenderBackdrop2,
    RenderSolid,
    RenderDecal,
    RenderDecal2,
    RenderNonSolid,
    RenderNonSolid2,
    RenderShadowVolume,
    RenderStencil,
    RenderJB2D,
    RenderPostProcess,
    Render2D,
    Render3DOn2DSolid,
    Render3DOn2DDecal,
    Render3DOn2DDecal2,
    Render3DOn2DNonSolid,
    RenderOsd,
};
inline constexpr int32_t RenderTypeCount = 18;

// The public render flags, bits 0-19 of the render-flags word (RenderZBias and RenderClickable
// are picking's), and the private state bits above them, which the property never shows.
enum RenderFlagBits : uint32_t {
    RenderGeometry = 0x1,
    RenderWireframe = 0x2,
    RenderGizmo = 0x4,
    RenderZWrite = 0x8,
    RenderDoubleSided = 0x10,
    RenderLighting = 0x20,
    RenderSpecular = 0x40,
    RenderFog = 0x80,
    RenderCubeMap = 0x100,
    RenderBilinear = 0x200,
    RenderZTest = 0x800,
    RenderCastShadows = 0x1000,
    RenderHardAlpha = 0x2000,
    RenderStencilWrite = 0x4000,
    RenderStencilRead = 0x8000,
    RenderSortingGroup = 0x20000,
    RenderSortingPlane = 0x40000, // defines the plane the sorted passes group around
    RenderSortingBias = 0x80000,  // drawn after others at the same depth
    RenderPublicFlags = 0xFFFFF,
    RenderDefaultFlags = RenderGeometry | RenderZWrite | RenderLighting | RenderFog |
                         RenderBilinear | RenderZTest | RenderClickable,
    RenderLocalBoxValid = 0x200000,
    RenderWorldBoxValid = 0x400000,
    // Cleared by changes of colour, brightness, opacity, blend mode, render type and flags.
    RenderStateValid = 0x1000000,
    // Cleared by changes of colour and opacity, and by blend-mode changes to or from FILTER.
    RenderColorStateValid = 0x2000000,
    // Cleared with the box bits whenever the transform changes.
    RenderTransformStateValid = 0x4000000,
    RenderStateBits = RenderStateValid | RenderColorStateValid | RenderTransformStateValid,
};

// The base of every drawable node: colour, brightness, opacity, render type (its pass), blend
// mode, render flags and effect shader, with cached bounding boxes. Render targets collect the
// visible ones by type, call UpdateRenderState whenever a state bit is clear, then Render. The
// class is abstract: scene files and scripts only create its subclasses.
class RenderObject : public Pivot, public Pickable, public RenderObjectBounds {
public:
    RenderObject();
    ~RenderObject() override;

    // Visible while opacity > 0 (NaN is not) and the type is not INVISIBLE.
    bool IsVisible() override;
    // The base is hit by nothing.
    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override;
    // The colour of the surface at a world point; the face word names the part hit, as the
    // subclass defines it.
    virtual uint32_t GetColorArgb(Float3 point, uint32_t face);
    virtual Float4 GetColorRgba(Float3 point, uint32_t face);
    // Normal or opaque blending at an opacity of exactly 1.
    virtual bool IsOpaque();
    virtual int32_t GetAnchorCount() { return 1; }
    virtual Float3 GetAnchorPoint(int32_t index);
    // The base has no local box; its world box is its position.
    virtual void UpdateBoundingBox() {}
    virtual void UpdateWorldBoundingBox();
    virtual int32_t RenderDirect() { return Render(); }
    // Draws in the current pass; answers a later pass (up to 17) to be drawn again in, or any
    // number not above the current pass when done.
    virtual int32_t Render() = 0;
    // Rebuilds cached device state; called whenever a state bit is clear.
    virtual void UpdateRenderState() {}
    // The mesh whose state this object draws with, for batching diagnostics.
    virtual DeviceMesh* GetRenderMesh() { return nullptr; }
    virtual bool IsRenderable() { return true; }
    // Around a lost device.
    virtual void ReleaseVideoMemory() {}
    virtual void RestoreVideoMemory() {}
    // The bytes of the lightmap the lightmap commands would make for the node under the
    // installed bake settings; 0 for a node that makes none.
    virtual uint64_t GetLightMapBytes() const { return 0; }

    void InvalidateTransform() override;
    void UpgradeVersion(int fileVersion) override;
    ClassInfo* GetClass() const override { return classInfo; }

    Aabb GetWorldBoundingBox() override;
    Aabb GetLocalBoundingBox();

    uint32_t GetColor() const { return color_; }
    void SetColor(uint32_t color);
    float GetBrightness() const { return brightness_; }
    void SetBrightness(float brightness);
    float GetOpacity() const { return opacity_; }
    void SetOpacity(float opacity);
    int32_t GetRenderType() const override { return renderType_; }
    // Drawn types set the flags that go with them (zwrite, ztest, zbias).
    void SetRenderType(int32_t type);
    // A number of the BlendMode list, kept as stored: unknown ones draw as NORMAL.
    uint32_t GetBlendMode() const { return blendMode_; }
    void SetBlendMode(uint32_t mode);
    // The public flags; the setter replaces bits 0-19 only.
    uint32_t GetRenderFlags() const override { return renderFlags_ & RenderPublicFlags; }
    void SetRenderFlags(uint32_t flags);
    // The whole word, state bits included.
    uint32_t GetRenderFlagsWord() const { return renderFlags_; }
    // Sets or clears the bits; they count as set when any of them is.
    void SetRenderFlag(uint32_t mask, bool on);
    bool TestRenderFlags(uint32_t mask) const { return (renderFlags_ & mask) != 0; }
    void SetStateBits() { renderFlags_ |= RenderStateBits; }
    const char* GetShaderName() const { return shaderName_.c_str(); }
    // Finds or creates the effect shader by name; a missing file gives the placeholder.
    void SetShaderName(const char* name);
    EffectShader* GetEffectShader() const { return shader_; }

    // The texture factor: alpha from the opacity, the colour inverted for the FILTER modes.
    uint32_t GetTextureFactor() const;
    // Alpha from the opacity over the colour, uninverted.
    uint32_t GetColorWithOpacity() const;
    // The distance flat drawables report for a hit, by type, so that picking prefers what is
    // drawn in front.
    float GetPickDistance() const;
    // The device mesh's render-state word for these flags; only objects placed in 3D (neither
    // SCREEN nor VIEWSPACE) are lit and fogged.
    uint32_t GetDeviceRenderFlags() const;
    StencilMode GetStencilMode() const;
    // Hands the mesh to the pass being drawn: drawn at once in immediate passes or without
    // batching, else merged through the batch store.
    void SubmitMesh(DeviceMesh& mesh);
    // Writes this object's state, geometry, world matrix and layers (the texture on layer 0
    // when the vertices have texture coordinates) into the mesh.
    bool ApplyMeshState(DeviceMesh& mesh, VertexBuffer* vertices, IndexBuffer* indices,
                        DeviceTexture* texture, uint32_t submeshMask);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

protected:
    // The lazy update of the flat drawables (sprites, grass), which own one vertex stream, its
    // index data and a mesh, all made on the first call. `build` rewrites the vertices and
    // indices when stale; `setState` adds layers and shader to the render state the update writes
    // (device render flags, stencil reading for the STENCIL type or flag, VIEWSPACE's
    // screen-space option).
    enum FlatMeshOptions : uint32_t {
        // VIEWSPACE geometry holds the position too (SCREEN geometry always does).
        FlatRebuildOnViewSpaceMove = 0x1,
        // The mesh carries the node's serial, for batching diagnostics.
        FlatTagMeshWithNode = 0x2,
    };
    struct FlatMeshParts {
        std::unique_ptr<VertexBuffer>& vertices;
        std::unique_ptr<IndexBuffer>& indices;
        std::unique_ptr<DeviceMesh>& mesh;
    };
    void UpdateFlatMesh(FlatMeshParts parts, uint32_t format, uint32_t options,
                        const std::function<void()>& build,
                        const std::function<void(DeviceMesh&)>& setState);

    // The world box around a local box: its centre moved, its half extents through the absolute
    // world matrix.
    void SetWorldBoxOfLocal(const Float3& lo, const Float3& hi);

    // Kept by UpdateBoundingBox and UpdateWorldBoundingBox.
    Aabb worldBox_;
    Aabb localBox_;

private:
    // Script methods.
    float ScriptIntersectRay(Float3 origin, Float3 direction);
    Float3 ScriptWorldBoxMin() { return GetWorldBoundingBox().min; }
    Float3 ScriptWorldBoxMax() { return GetWorldBoundingBox().max; }
    Float3 ScriptLocalBoxMin() { return GetLocalBoundingBox().min; }
    Float3 ScriptLocalBoxMax() { return GetLocalBoundingBox().max; }
    void OnReleaseVideoMemory(void*) { ReleaseVideoMemory(); }
    void OnRestoreVideoMemory(void*) { RestoreVideoMemory(); }

    static Property* colorProperty_;
    static Property* blendModeProperty_;
    static Property* renderFlagsProperty_;

    int32_t renderType_ = RenderSolid;
    uint32_t blendMode_ = static_cast<uint32_t>(BlendMode::Normal);
    uint32_t color_ = 0xFFFFFFFF;
    float opacity_ = 1.0f;
    float brightness_ = 1.0f;
    uint32_t renderFlags_ = RenderDefaultFlags;
    std::string shaderName_;
    EffectShader* shader_ = nullptr; // one counted reference
};

// The node as a render object, or null when it is none.
inline RenderObject* AsRenderObject(Node* node) {
    return node && node->HasFlag(NodeKindRenderObject) ? dynamic_cast<RenderObject*>(node)
                                                       : nullptr;
}

} // namespace quarn
