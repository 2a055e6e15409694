#pragma once

// Fixed-function vertex processing of the software rasteriser: fetch through the declaration,
// transform, lighting, vertex fog and texture-coordinate generation, producing the vertices the
// clipper and the triangle setup work on.

#include "gpu/GpuState.h"
#include "gpu/software/RenderThreads.h"

#include <vector>

namespace quarn {

// Attribute slots every processed vertex carries, interpolated alike.
inline constexpr uint32_t AttrDiffuse = 0;  // r, g, b, a
inline constexpr uint32_t AttrSpecular = 4; // r, g, b
inline constexpr uint32_t AttrFog = 7;      // 1 = no fog, 0 = fog colour
inline constexpr uint32_t AttrTexture = 8;  // 4 per stage
inline constexpr uint32_t RasterMaxAttributes = AttrTexture + 4 * GpuStageCount;

struct RasterVertex {
    // Homogeneous clip position; for pre-transformed vertices screen x, y, z and 1/w.
    float pos[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float attr[RasterMaxAttributes] = {};
};

// Stages the pixel pipeline evaluates: up to the first whose colour operation is Disable.
uint32_t ActiveStageCount(const GpuState& state);

// The vertices of a draw to process (numbers from the start of the streams, the base vertex
// added): `count` of them from `first` on, or, with a list, the ones it holds in its order.
struct VertexSelection {
    const uint32_t* list = nullptr;
    uint32_t first = 0;
    uint32_t count = 0;

    uint64_t operator[](uint32_t i) const { return list ? list[i] : uint64_t{first} + i; }
};

// Transforms the selected vertices of the draw into out, one each in the selection's order,
// spreading large draws over `threads`. Answers false when the declaration has no position.
// pretransformed tells whether the positions are already in screen space.
bool ProcessVertices(const GpuState& state, const GpuDrawCall& call, const VertexSelection& which,
                     std::vector<RasterVertex>& out, bool& pretransformed, RenderThreads& threads);

// The vertex fog factor for a camera-space distance, 1 meaning no fog.
float VertexFogFactor(GpuFogMode mode, float distance, float start, float end, float density);

} // namespace quarn
