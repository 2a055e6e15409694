#pragma once

// The software device's complete pipeline state as plain data, and the call through which the
// device hands a draw to the rasteriser. Every object pointer here belongs to the software
// device's own classes (SoftwareTexture, SoftwareSurface, SoftwareVertexBuffer, ...), so the
// rasteriser may downcast without checking.

#include "gpu/GpuLayer.h"

#include <array>

namespace quarn {

class GpuTexture;
class GpuSurface;
class GpuVertexBuffer;
class GpuIndexBuffer;
class GpuVertexDeclaration;
class GpuShader;

struct GpuStreamBinding {
    GpuVertexBuffer* buffer = nullptr;
    uint32_t offset = 0;
    uint32_t stride = 0;
};

struct GpuState {
    std::array<uint32_t, GpuRenderStateCount> renderStates{};
    std::array<std::array<uint32_t, GpuStageStateCount>, GpuStageCount> stageStates{};
    std::array<std::array<uint32_t, GpuSamplerStateCount>, GpuSamplerCount> samplerStates{};
    std::array<Matrix4, GpuTransformCount> transforms{};
    std::array<GpuLight, GpuMaxLights> lights{};
    std::array<bool, GpuMaxLights> lightEnabled{};
    GpuMaterial material;
    GpuViewport viewport;
    GpuRect scissor;
    std::array<GpuTexture*, GpuSamplerCount> textures{};
    std::array<GpuStreamBinding, GpuStreamCount> streams{};
    GpuIndexBuffer* indices = nullptr;
    GpuVertexDeclaration* declaration = nullptr;
    GpuSurface* renderTarget = nullptr; // never null while the device is usable
    GpuSurface* depthStencil = nullptr;
    GpuShader* vertexShader = nullptr;
    GpuShader* pixelShader = nullptr;
    float vertexConstants[GpuVertexConstCount][4] = {};
    float pixelConstants[GpuPixelConstCount][4] = {};

    uint32_t Get(GpuRenderState s) const { return renderStates[static_cast<uint32_t>(s)]; }
    uint32_t Get(uint32_t stage, GpuStageState s) const {
        return stageStates[stage][static_cast<uint32_t>(s)];
    }
    uint32_t Get(uint32_t sampler, GpuSamplerState s) const {
        return samplerStates[sampler][static_cast<uint32_t>(s)];
    }
    const Matrix4& Get(GpuTransform t) const { return transforms[static_cast<uint32_t>(t)]; }

    // The state a freshly created device starts with.
    static GpuState Defaults();
};

// One draw, already validated by the device: every index and vertex it names lies inside the
// bound buffers (or the caller's memory), so the rasteriser reads without bounds checks.
struct GpuDrawCall {
    GpuPrimitiveType type = GpuPrimitiveType::TriangleList;
    uint32_t primitiveCount = 0;
    // Non-indexed draws: vertices startVertex.. in order. Indexed: indices[startIndex..] plus
    // baseVertex.
    bool indexed = false;
    uint32_t startVertex = 0;
    int32_t baseVertex = 0;
    uint32_t startIndex = 0;
    uint32_t vertexCount = 0; // vertices addressable from stream 0 after the base
    // Resolved memory: stream data (already offset by the binding's offset), index data.
    std::array<const uint8_t*, GpuStreamCount> streamData{};
    std::array<uint32_t, GpuStreamCount> streamStride{};
    const void* indexData = nullptr;
    bool index32 = false;
};

// Draws for the software device. One virtual call per draw, never per pixel.
class GpuRasterizer {
public:
    virtual ~GpuRasterizer() = default;
    virtual void Draw(const GpuState& state, const GpuDrawCall& call) = 0;
};

} // namespace quarn
