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

// Transforms vertices [first, first + count) of the draw (indices relative to the base vertex)
// into out, spreading large draws of the fixed-function path over `threads`. Answers false when
// the declaration has no position. pretransformed tells whether the positions are already in
// screen space.
bool ProcessVertices(const GpuState& state, const GpuDrawCall& call, uint32_t first, uint32_t count,
                     std::vector<RasterVertex>& out, bool& pretransformed, RenderThreads& threads);

// The vertex fog factor for a camera-space distance, 1 meaning no fog.
float VertexFogFactor(GpuFogMode mode, float distance, float start, float end, float density);

} // namespace quarn
