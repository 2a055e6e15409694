#pragma once

#include "core/math/Vector.h"
#include "device/DrawBufferShare.h"
#include "render/RenderObject.h"

#include <cstdint>
#include <memory>

namespace quarn {

// Untextured, vertex-coloured blades (upright quads) scattered in a box around the node, each
// with a random size factor, turn about z and colour offset. The layout follows `seed` alone:
// the engine's one generator is reseeded at every rebuild, which restarts its sequence for
// every other user too. The cached bounding boxes keep their first values and grass is never
// picked.
class Grass : public RenderObject {
public:
    // Blades above these counts are not built: the vertex data would run to gigabytes, or
    // (16-bit indices) the indices would wrap onto other blades.
    static constexpr int32_t MaxBlades = 1 << 20;
    static constexpr int32_t MaxBlades16BitIndices = 1 << 14;
    // The blades all Grass nodes hold built at once: ten nodes at the limit of one would hold
    // gigabytes. A build that would pass it draws nothing. Tests lower it.
    static inline int64_t SceneBladeLimit = int64_t{1} << 20;

    Grass() = default;
    ~Grass() override;

    ClassInfo* GetClass() const override { return classInfo; }
    void UpdateBoundingBox() override {}
    void UpdateWorldBoundingBox() override {}
    int32_t Render() override;
    void UpdateRenderState() override;
    DeviceMesh* GetRenderMesh() override { return mesh_.get(); }
    bool IsRenderable() override { return true; }

    Float3 GetRootBox() const { return rootBox_; }
    void SetRootBox(Float3 box);
    // Kept as given, also when negative or too large to build: files and scripts read it back.
    int32_t GetCount() const { return count_; }
    void SetCount(int32_t count);
    int32_t GetSeed() const { return seed_; }
    void SetSeed(int32_t seed);
    // Radians either way.
    float GetAngularVariance() const { return angularVariance_; }
    void SetAngularVariance(float variance);
    Float2 GetSize() const { return size_; }
    void SetSize(Float2 size);
    float GetSizeVariance() const { return sizeVariance_; }
    void SetSizeVariance(float variance);
    // Of 255 per channel, either way.
    float GetColorVariance() const { return colorVariance_; }
    void SetColorVariance(float variance);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    uint32_t GetVertexFormat() const;
    // The number of blades to build: none for a negative count or one past the limits.
    uint32_t GetBuildCount();
    void BuildGeometry();
    template <typename T>
    void Store(T& field, T value) {
        field = value;
        SetRenderFlag(RenderColorStateValid, false);
    }

    float angularVariance_ = 0.0f;
    float sizeVariance_ = 0.0f;
    float colorVariance_ = 0.0f;
    int32_t count_ = 10;
    int32_t seed_ = 0;
    Float2 size_{0.1f, 1.0f};
    Float3 rootBox_{0.0f, 0.0f, 0.0f};
    // The refused count last logged, so that rebuilds do not repeat the line.
    int32_t loggedCount_ = 0;
    // What this node holds built, within the sum of every node's against SceneBladeLimit.
    uint32_t builtBlades_ = 0;
    DrawBufferShare share_; // the blades' buffers, counted in the scene's
    std::unique_ptr<VertexBuffer> vertices_;
    std::unique_ptr<IndexBuffer> indices_;
    std::unique_ptr<DeviceMesh> mesh_;
};

} // namespace quarn
