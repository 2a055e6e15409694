#pragma once

// Pixel programs a block of quads at a time: the attributes interpolated straight into the
// block's register file, the program run by the block runner, texld fetching a vector of texels
// at a time where the texture allows, and the pixels tested and written a vector at a time in
// the common case, all with the scalar path's operations lane by lane.

#include "gpu/software/ShaderBlock.h"
#include "gpu/software/TexturedSpan.h"
#include "gpu/software/VertexProcessing.h"

namespace quarn {

class PixelPipeline;

// Two rows of a triangle: pixels [left[r], right[r]] of row y + r (none where left > right).
// Attribute i at x is (rows[r][i] + dx[i] x) / q[r](x); depth is z[r](x).
struct QuadRows {
    int32_t y = 0;
    int32_t left[2] = {1, 1};
    int32_t right[2] = {0, 0};
    SpanValue z[2];
    SpanValue q[2];
    float rows[2][RasterMaxAttributes] = {};
    float dx[RasterMaxAttributes] = {};
};

// How texld reads a sampler: opaque black with no texture, a vector at a time from one 32-bit
// level with one filter, or else quad by quad through the pipeline's sampler.
enum class BlockTextureKind : uint8_t { Unbound, Vector, Quads };

struct BlockTexture {
    BlockTextureKind kind = BlockTextureKind::Unbound;
    LaneTexture level; // Vector only
};

struct PixelBlockSetup {
    const PixelPipeline* pipeline = nullptr;
    const BlockProgram* program = nullptr;
    const BlockConstants* constants = nullptr;
    BlockTexture textures[GpuSamplerCount];
    // Every sampler texld reads is Unbound or Vector: its coordinates' z (and w but for texldp)
    // go unread.
    bool narrow = false;
    bool depth = false; // a depth test: z is interpolated
    bool fog = false;
    float fogColor[3] = {};

    // The tests and the write, done here a vector at a time into a 32-bit target without
    // stencil (vectorWrite), else pixel by pixel by the pipeline.
    bool vectorWrite = false;
    LaneWrite write;
    bool blend = false;
    GpuBlend srcBlend = GpuBlend::One;
    GpuBlend destBlend = GpuBlend::Zero;
    GpuBlendOp blendOp = GpuBlendOp::Add;
    uint32_t writeMask = 0xF;
};

// Registers of a block's file: the program's, then one for depth (x) and the fog factor (y).
inline uint32_t PixelBlockRegisters(const BlockProgram& program) {
    return program.Registers() + 1;
}
inline uint32_t PixelBlockDepth(const BlockProgram& program) {
    return program.Registers() * BlockRegisterFloats;
}
inline uint32_t PixelBlockFog(const BlockProgram& program) {
    return PixelBlockDepth(program) + BlockLanes;
}
// Lanes from a block's upper row to its lower one, for a block `width` pixels wide.
inline uint32_t PixelBlockRowStride(uint32_t width) {
    return (width + 7) & ~7u;
}
inline constexpr uint32_t PixelBlockWidth = BlockLanes / 2;

// Shades the quads of `rows` in columns [x0, x0 + width) (x0 and width even, width at most
// PixelBlockWidth) and, where setup.vectorWrite, tests and writes their pixels; answers the lanes
// texkill kept (upper row from bit 0, lower row from bit PixelBlockRowStride(width)).
uint64_t ShadePixelBlock(const PixelBlockSetup& setup, const QuadRows& rows, int32_t x0,
                         uint32_t width, float* file);
uint64_t ShadePixelBlockFour(const PixelBlockSetup& setup, const QuadRows& rows, int32_t x0,
                             uint32_t width, float* file);
uint64_t ShadePixelBlockEight(const PixelBlockSetup& setup, const QuadRows& rows, int32_t x0,
                              uint32_t width, float* file);

} // namespace quarn
