#pragma once

#include "core/math/Vector.h"
#include "device/DrawBufferShare.h"
#include "render/RenderObject.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace quarn {

class Mesh;
class Texture;

// Draws a mesh resource with one texture. Baked light may come as one colour per mesh vertex
// (the vertex-colour file at the node's lightmap path), drawn as a second vertex stream;
// submeshflags hides submeshes (bit n for submesh n, taken mod 32) from drawing and picking. In
// the editor it adds a wireframe pass and normal lines. Picks and surface-colour queries go to
// the mesh's triangles. Vertex colours count only while they have exactly the mesh's vertex
// count: after a mesh change the model draws and answers as without them.
class Model : public RenderObject {
public:
    // Set in a pick's triangle word when the ray met a single-sided model's back from inside
    // its bounding sphere; the distance is then 0.
    static constexpr uint32_t InsideBackHit = 0x20000000;

    Model() = default;
    ~Model() override;

    PathString GetDescription() const override;
    void UpgradeVersion(int fileVersion) override;
    ClassInfo* GetClass() const override { return classInfo; }
    Entity* GetResource() const override;

    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override;
    uint32_t GetColorArgb(Float3 point, uint32_t face) override;
    // The colour of the surface at a world point of the triangle the face word names: colour
    // property x light x the texture's average colour; the light is the brightness, or the
    // vertex colours weighted by the point's place in the triangle.
    Float4 GetColorRgba(Float3 point, uint32_t face) override;
    void UpdateBoundingBox() override;
    void UpdateWorldBoundingBox() override;
    int32_t Render() override;
    void UpdateRenderState() override;
    DeviceMesh* GetRenderMesh() override { return deviceMesh_.get(); }
    bool IsRenderable() override;

    const char* GetMeshName() const;
    // By name: the held mesh goes first; a new one clears the cached state and boxes and sends
    // "propertychange". An empty name only lets go.
    virtual void SetMesh(const char* name);
    Mesh* GetMesh() const { return mesh_; }
    const char* GetTextureName() const;
    void SetTextureName(const char* name);
    Texture* GetTexture() const { return texture_; }
    int32_t GetVertexColorMode() const { return vcc_; }
    // Non-zero loads the vertex-colour file, 0 drops the colours; the same value does nothing.
    void SetVertexColorMode(int32_t mode);
    float GetLightBias() const { return lightBias_; }
    void SetLightBias(float bias) { lightBias_ = bias; }
    uint32_t GetSubmeshFlags() const { return submeshFlags_; }
    void SetSubmeshFlags(uint32_t flags);

    // Script methods of the lightmap tools.
    void CreateVertexColors();
    // All vertices (b - 1, b - 1, b - 1, 1) for the brightness b, not below 0.
    void ResetVertexColors();
    void BakeVertexLighting();
    // Saves to the lightmap path and marks vcc 1 without loading.
    void SaveVertexColors();
    // The mesh as scripts hold it: by id, given one of the scene's free ids when it has none.
    Entity* ScriptGetMesh();
    void ScriptSetMesh(Entity* mesh);

    // The vertex-colour data and its float copy, when their count is the mesh's; else null.
    VertexBuffer* GetVertexColorData() const;
    const std::vector<Float4>* GetVertexColorArray() const;

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    // Holds the reference given (none when null) in place of the mesh held.
    void TakeMesh(Mesh* acquired);
    // Lets go of the held mesh's buffers until the next state update applies them again.
    void DetachGeometry();
    // The same for the vertex colours, before they are replaced.
    void DetachColors();
    uint32_t GetMeshVertexCount() const;
    // Drops colour data whose count is not the mesh's, then makes what is missing.
    void PrepareColorsForMesh();
    void DropVertexColors();
    void LoadVertexColors();
    void DrawNormals();

    void OnResourceChangedSignal(void* resource);

    Texture* texture_ = nullptr;
    Mesh* mesh_ = nullptr;
    int32_t vcc_ = 0;
    float lightBias_ = 0.0f;
    uint32_t submeshFlags_ = 0xFFFFFFFF;
    std::unique_ptr<DeviceMesh> deviceMesh_;
    std::unique_ptr<DeviceMesh> wireframeMesh_;
    std::unique_ptr<VertexBuffer> vertexColors_;
    std::vector<Float4> colorArray_; // empty: none
    DrawBufferShare colorShare_;     // both, counted in the scene's draw buffers
};

} // namespace quarn
