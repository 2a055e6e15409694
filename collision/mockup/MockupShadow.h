#pragma once

#include "core/math/Quaternion.h"
#include "core/math/Vector.h"
#include "render/RenderObject.h"

#include <cstdint>
#include <memory>

namespace quarn {

class EffectShader;
class MockupBox;

// The stencil shadow volume of the mockup box it is a child of: up to three of the box's faces,
// those looking along the extrusion, swept along the node's -Y axis by `extrusion`. The box's
// corners come twice, the second copy carrying the world-space offset -Y x extrusion, which the
// shadow shader adds after the world matrix. Without a box parent it draws nothing.
class MockupShadow : public RenderObject {
public:
    MockupShadow();
    ~MockupShadow() override;

    ClassInfo* GetClass() const override { return classInfo; }
    // The parent box's, grown by the offset; the base's without a box parent.
    void UpdateWorldBoundingBox() override;
    int32_t Render() override;
    void UpdateRenderState() override;
    DeviceMesh* GetRenderMesh() override { return deviceMesh_.get(); }

    int32_t GetNumFaces() const { return numFaces_; }
    // Above 3 builds as 3; the value stays as given.
    void SetNumFaces(int32_t count);
    float GetExtrusion() const { return extrusion_; }
    void SetExtrusion(float extrusion);

    // The triangles of the last index build, and the index data.
    uint32_t GetVolumeTriangleCount() const { return 2 * pairCount_; }
    IndexBuffer* GetIndexData() const { return indices_.get(); }

    // The shadow shader while the device supports shadows, asked again for each new device.
    static EffectShader* GetShadowShader();
    // The class clean-up.
    static void ReleaseShadowShader();

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    MockupBox* ParentBox() const;
    void BuildBuffers();
    void WriteVertices();
    // The triangle pairs for the node's direction as the parent box sees it.
    uint32_t BuildIndices();
    Float3 Offset();
    EffectShader* ChosenShader() const;
    void OnVideoMemory(void*) {}

    int32_t numFaces_ = 1;
    float extrusion_ = 0.0f;
    int32_t caps_ = 1;
    uint32_t pairCount_ = 0;
    bool indicesStale_ = true;
    Float3 cachedSize_;
    Quaternion cachedOrientation_{0.0f, 0.0f, 0.0f, 0.0f};
    std::unique_ptr<VertexBuffer> vertices_;
    std::unique_ptr<IndexBuffer> indices_;
    std::unique_ptr<DeviceMesh> deviceMesh_;
};

} // namespace quarn
