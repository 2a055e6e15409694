#pragma once

#include "core/math/Vector.h"
#include "device/DrawBufferShare.h"
#include "render/RenderObject.h"

#include <cstdint>
#include <memory>

namespace quarn {

class EffectShader;
class Mesh;

// Casts a stencil shadow of a mesh along a fixed light direction. Every mesh vertex comes twice,
// the second copy carrying the world-space offset lightdir x extrusion, which the shadow shader
// adds after the world matrix; the index list (silhouette quads and both caps) is rebuilt on the
// processor whenever the light, seen from the mesh, turns. Drawn in the SHADOWVOLUME pass,
// counting depth failures into the stencil buffer for the STENCIL pass to read.
class ShadowVolume : public RenderObject {
public:
    static constexpr const char* ShaderPath = "res://shadow_volume_dir.fx_raw";
    // The matrix register the view-projection goes to, for a node's own shader.
    static constexpr uint32_t ViewProjectionRegister = 24;

    ShadowVolume();
    ~ShadowVolume() override;

    PathString GetDescription() const override;
    ClassInfo* GetClass() const override { return classInfo; }
    Entity* GetResource() const override;
    void UpdateBoundingBox() override;
    void UpdateWorldBoundingBox() override;
    int32_t Render() override;
    void UpdateRenderState() override;
    DeviceMesh* GetRenderMesh() override { return deviceMesh_.get(); }

    const char* GetMeshName() const;
    // Loads the mesh with the "_shadow" option, builds its edges when missing and, where shadows
    // are supported, the volume's vertices.
    void SetMesh(const char* name);
    Mesh* GetMesh() const { return mesh_; }
    float GetExtrusion() const { return extrusion_; }
    void SetExtrusion(float extrusion);
    Float3 GetLightDir() const { return lightDir_; }
    void SetLightDir(Float3 direction);

    // The volume triangles of the last index build, and how many builds ran.
    uint32_t GetVolumeTriangleCount() const { return triangleCount_; }
    uint32_t GetIndexBuildCount() const { return indexBuilds_; }
    IndexBuffer* GetIndexData() const { return indices_.get(); }

    // Vertex shader 1.0 and 4 stencil bits on the present device, asked again for each new
    // device; while true the class holds the shadow shader.
    static bool ShadowsSupported();
    static EffectShader* GetShadowShader();
    // The class clean-up: lets the shader go; the next question asks the device again.
    static void ReleaseShadowShader();

    // Hands the device's view-projection to the shader's matrix registers 24-27 (for a node's
    // own shader) and the volume's mesh to the pass being drawn.
    static void SubmitVolume(RenderObject& node, EffectShader& shader, DeviceMesh& mesh);
    // Grows a world box by a volume's offset, on the side the offset points to.
    static void GrowByOffset(Aabb& box, const Float3& offset);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    void RebuildVolume();
    void WriteOffsets();
    // The volume triangles for the light as the mesh sees it now.
    uint32_t BuildIndices();
    Float3 Offset() const { return lightDir_ * extrusion_; }
    EffectShader* ChosenShader() const;
    void OnMeshResourceChanged(void* resource);

    Mesh* mesh_ = nullptr;
    float extrusion_ = 1.0f;
    Float3 lightDir_{0.0f, -1.0f, 0.0f};
    uint32_t vertexCount_ = 0;
    uint32_t triangleCount_ = 0;
    uint32_t indexBuilds_ = 0;
    // The light in the mesh's frame at the last index build; meaningless while stale.
    Float3 lightKey_;
    bool indicesStale_ = true;
    bool volumeBuilt_ = false;
    std::unique_ptr<VertexBuffer> vertices_;
    std::unique_ptr<IndexBuffer> indices_;
    std::unique_ptr<DeviceMesh> deviceMesh_;
    DrawBufferShare share_; // the volume's buffers, counted in the scene's
};

} // namespace quarn
