#pragma once

// One draw call with everything it needs: up to two vertex streams, index data, up to four
// texture layers with their blend modes, a render-state word, a stencil mode, a world matrix, a
// colour, an optional shader, a submesh selection and option bits. A mesh drawn unchanged five
// times records its device state in a state block and replays it afterwards. Its state block and
// hash tell the batch store which meshes may share a draw.

#include "core/math/Matrix4.h"
#include "gpu/GpuLayer.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace quarn {

class Batch;
class DeviceTexture;
class IndexBuffer;
class RenderDevice;
class Shader;
class VertexBuffer;

// Render flags: the device state word.
inline constexpr uint32_t MeshAlphaBlend = 0x1;
inline constexpr uint32_t MeshWireframe = 0x2;
inline constexpr uint32_t MeshAlphaRef128 = 0x4; // else 1 (254 for the inverted-alpha modes)
inline constexpr uint32_t MeshZWrite = 0x8;
inline constexpr uint32_t MeshNoCulling = 0x10; // else front faces are counter-clockwise
inline constexpr uint32_t MeshLighting = 0x20;  // with a shader, lights 0 and 1 go to it
inline constexpr uint32_t MeshSpecular = 0x40;
inline constexpr uint32_t MeshFog = 0x80;
inline constexpr uint32_t MeshNeverRecord = 0x100;
inline constexpr uint32_t MeshDepthBias = 0x400; // drawn a little nearer: decals on surfaces
inline constexpr uint32_t MeshZEnable = 0x800;
inline constexpr uint32_t MeshDefaultRenderFlags = 0xA09;

// Options. 0x1 and the bits the owner sets through SetOptions mean nothing to the mesh; 0x2 is
// the owner's way to make its mesh count as changed in its batch.
inline constexpr uint32_t MeshOwnerBit = 0x1;
inline constexpr uint32_t MeshOwnerChanged = 0x2;
inline constexpr uint32_t MeshVerticesInWorld = 0x10; // batches take the vertices as they are
// x and y from -0.5 to 0.5 span the viewport: identity view, projection scale (2, 2, 1).
inline constexpr uint32_t MeshScreenSpace = 0x20;
inline constexpr uint32_t MeshKeepDeviceWorld = 0x40; // the device's world matrix stays
inline constexpr uint32_t MeshKeepNormals = 0x100;    // batches leave the normals untransformed
// Change bits.
inline constexpr uint32_t MeshRebuildSubmeshes = 0x10000;
inline constexpr uint32_t MeshRerecord = 0x20000;
inline constexpr uint32_t MeshWorldChanged = 0x40000;
inline constexpr uint32_t MeshStateStale = 0x80000;
// The batch store's per-frame classification of members; on a merged mesh 0x100000 asks for a
// rebuild and 0x200000 hides it.
inline constexpr uint32_t MeshUnchangedThisFrame = 0x100000;
inline constexpr uint32_t MeshChangedThisFrame = 0x200000;
inline constexpr uint32_t MeshNewThisFrame = 0x400000;
inline constexpr uint32_t MeshFrameBits = 0x700000;
inline constexpr uint32_t MeshMergedRebuild = MeshUnchangedThisFrame;
inline constexpr uint32_t MeshHidden = MeshChangedThisFrame;

// Layer operations, as drawables name them. Layer 0's sets the frame-buffer blend, the others
// their texture stage's operation.
enum class BlendMode : uint32_t {
    Normal,
    Add,
    Filter,
    Multiply,
    Lighten,
    Darken,
    Invert,
    Opaque,
    Invisible,
    Negative,
    ColorAsAlpha,
    AddSigned,
    Power2,
    Subtract,
    NormalInvAlpha, // the InvAlpha modes on layer 0 also invert the alpha test
    AddInvAlpha,
    SubInvAlpha,
    FilterInvAlpha,
};
inline constexpr uint32_t BlendModeCount = 18;

// Stencil shadow passes.
enum class StencilMode : uint32_t {
    None,
    VolumeZPass, // front faces count up, back faces down, where the depth test passes
    VolumeZFail, // the same where it fails
    Read,        // draws only where the stencil is not 0
    Write,       // front faces count up where the depth test passes
};

enum class LayerKind : uint32_t { Plain, Reflection, Empty };

struct MeshLayer {
    BlendMode op = BlendMode::Normal;
    LayerKind kind = LayerKind::Empty;
    DeviceTexture* texture = nullptr;
    // Kept beside the pointer: a reloaded texture is re-pointed after its old object is gone.
    uint64_t textureId = 0;
};
inline constexpr uint32_t MeshLayerCount = 4;

// What decides whether two meshes may share a draw: stream formats and flags, primitive kind,
// shader, render flags, colour, layers, stencil mode and screen space. Shaders and textures enter
// by their ids, so the block never depends on where an object happens to live.
using MeshStateBlock = std::array<uint64_t, 19>;

// Indices [begin, end) of the index data.
struct IndexSpan {
    uint32_t begin = 0;
    uint32_t end = 0;
};

class DeviceMesh {
public:
    DeviceMesh(RenderDevice& device, GpuDevice& gpu);
    virtual ~DeviceMesh();
    DeviceMesh(const DeviceMesh&) = delete;
    DeviceMesh& operator=(const DeviceMesh&) = delete;

    // flags := (flags AND NOT mask) OR (mask AND value).
    void SetRenderFlags(uint32_t mask, uint32_t value);
    void SetRenderFlagsWord(uint32_t value);
    uint32_t TestRenderFlags(uint32_t mask) const { return renderFlags_ & mask; }
    uint32_t GetRenderFlags() const { return renderFlags_; }
    void SetStencilMode(StencilMode mode);
    StencilMode GetStencilMode() const { return stencilMode_; }
    // Streams and index data belong to the caller. Stream 0 or 1.
    void SetVertexStream(VertexBuffer* vertices, uint32_t stream);
    VertexBuffer* GetVertexStream(uint32_t stream) const;
    void SetIndexData(IndexBuffer* indices);
    IndexBuffer* GetIndexData() const { return indices_; }
    // The larger of stream 0's vertex count and the index count; of their capacities.
    uint32_t GetVertexRange() const;
    uint32_t GetCapacityRange() const;
    // Null draws with the device's default shader, or with none.
    void SetShader(Shader* shader);
    Shader* GetShader() const { return shader_; }
    void SetShaderParameter(const Float4& parameter) { shaderParameter_ = parameter; }
    Float4 GetShaderParameter() const { return shaderParameter_; }
    // Up to four layers.
    void SetLayerCount(uint32_t count);
    uint32_t GetLayerCount() const { return layerCount_; }
    void SetLayer(uint32_t layer, DeviceTexture* texture, BlendMode op);
    DeviceTexture* GetLayerTexture(uint32_t layer) const;
    BlendMode GetLayerOp(uint32_t layer) const;
    LayerKind GetLayerKind(uint32_t layer) const;
    const std::array<MeshLayer, MeshLayerCount>& GetLayers() const { return layers_; }
    void SetWorldMatrix(const Matrix4& world);
    const Matrix4& GetWorldMatrix() const { return world_; }
    // The texture factor.
    void SetColor(uint32_t argb);
    uint32_t GetColor() const { return color_; }
    void SetOptions(uint32_t mask, uint32_t value);
    uint32_t TestOptions(uint32_t mask) const { return options_ & mask; }
    bool HasSameState(DeviceMesh& other);
    // Render state only; the options become other's with 0xA0000 raised.
    void CopyRenderState(const DeviceMesh& other);
    // Render state, geometry, world, submesh mask and hash; the options become other's with
    // 0x70000 raised.
    void CopyFrom(DeviceMesh& other);
    const MeshStateBlock& GetStateBlock();
    uint32_t ComputeStateHash();
    uint32_t GetStateHash();
    void SetUserValueA(uint32_t value) { userA_ = value; }
    uint32_t GetUserValueA() const { return userA_; }
    // Wide enough for an entity serial.
    void SetUserValueB(uint64_t value) { userB_ = value; }
    uint64_t GetUserValueB() const { return userB_; }
    // Bit i selects the index data's group i; 0 and all bits set draw everything.
    void SetSubmeshMask(uint32_t mask);
    uint32_t GetSubmeshMask() const { return submeshMask_; }
    // The index ranges the submesh mask selects, in group order; everything without groups.
    std::vector<IndexSpan> GetSelectedRanges() const;
    // False without stream 0 or index data, or when a draw fails.
    bool Draw();

    // The batch of the store that holds this mesh, per half of the batch pass ids.
    void SetOwner(Batch* batch, uint32_t half) { owners_[half & 1] = batch; }
    Batch* GetOwner(uint32_t half) const { return owners_[half & 1]; }
    uint32_t GetDrawVertexCount() const { return drawVertexCount_; }

    static void ClearAllOwners();
    // Every mesh forgets its recorded state and its submesh copy: a device reset or a new
    // default shader.
    static void DropAllRecordedState();
    // Every layer that holds the texture with oldId takes the replacement, its op kept.
    static void ReplaceTexture(uint64_t oldId, DeviceTexture* replacement);

private:
    void ApplyGeometry();
    void ApplyWorldMatrix();
    void ApplyStates();
    void ApplyTransformMode();
    void RebuildSubmeshes();
    void RefreshStateBlock();
    bool DrawPrimitives();
    void SetShaderConstants(Shader& shader);
    // Sets the stencil pass's states; false when the pass draws nothing (the states restored).
    bool StencilPass(uint32_t pass);
    void SetRender(GpuRenderState state, uint32_t value);
    bool CanRecord();

    RenderDevice& device_;
    GpuDevice& gpu_;
    uint32_t renderFlags_ = MeshDefaultRenderFlags;
    uint32_t submeshMask_ = 0xFFFFFFFF;
    uint32_t userA_ = 0;
    std::array<VertexBuffer*, 2> streams_{};
    IndexBuffer* indices_ = nullptr;
    std::array<MeshLayer, MeshLayerCount> layers_{};
    uint32_t layerCount_ = 0;
    Matrix4 world_;
    uint32_t options_ = 0;
    StencilMode stencilMode_ = StencilMode::None;
    std::unique_ptr<IndexBuffer> submeshes_;
    Float4 shaderParameter_;
    Shader* shader_ = nullptr;
    uint32_t color_ = 0xFFFFFFFF;
    MeshStateBlock stateBlock_{};
    uint32_t stateHash_ = 0;
    uint32_t unchangedDraws_ = 0;
    uint32_t drawVertexCount_ = 0;
    uint32_t primitiveCount_ = 0;
    GpuPrimitiveType primitiveType_ = GpuPrimitiveType::TriangleList;
    std::array<Batch*, 2> owners_{};
    uint64_t userB_ = 0;
    std::unique_ptr<GpuVertexDeclaration> declaration_;
    uint32_t declarationKey_ = 0;
    std::unique_ptr<GpuStateBlock> recorded_;
    size_t listIndex_ = 0;
};

} // namespace quarn
