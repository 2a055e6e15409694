#pragma once

// Shader programs decoded for the block runner, which runs each instruction over a block of up
// to 64 lanes (pixels of 2 x 2 quads, or vertices) at once. Every register the program names
// gets a lane array per component in a block's register file, every constant it names a
// replicated vector; swizzles, negation, write masks, matrix rows and the components a program
// reads before it writes them are resolved once, when the device object is made. The runner
// does each lane's IEEE operations in the reference interpreter's order (ShaderMachine), so it
// gives the same bits on any width.

#include "gpu/ShaderProgram.h"
#include "gpu/software/ShaderMachine.h"

#include <cstdint>
#include <vector>

namespace quarn {

inline constexpr uint32_t BlockLanes = 64;
// Constants are replicated for the widest vector the runner loads.
inline constexpr uint32_t UniformLanes = 8;
// Floats of one register in the file: four components of BlockLanes lanes.
inline constexpr uint32_t BlockRegisterFloats = 4 * BlockLanes;
inline constexpr uint32_t NoBlockOffset = UINT32_MAX;

// A source: per component (after the swizzle) its offset in floats into the file (a lane
// array) or into the constants (uniform: the same value in every lane).
struct BlockOperand {
    uint32_t offset[4] = {};
    bool uniform = false;
    bool negate = false;
};

// Relative addressing: c[index + a0.?] per lane, copied into a scratch register (all four
// components, unswizzled) before the instruction reads it there.
struct BlockGather {
    uint32_t target = 0;  // file offset of the scratch register
    uint32_t index = 0;   // the constant the instruction names
    uint32_t address = 0; // file offset of the a0 component
};

enum class BlockTarget : uint8_t {
    Lanes,   // a register of the file
    Address, // a0, floored or rounded per lane
    None,    // texkill
};

struct BlockInstruction {
    GpuShaderOp op = GpuShaderOp::Mov;
    uint8_t control = 0; // texld's
    uint8_t sampler = 0; // texld's
    uint8_t rows = 0;    // a matrix's, its rows in sources[1..rows]
    uint8_t gatherCount = 0;
    uint8_t operands = 0; // sources used, a matrix's rows included
    BlockTarget target = BlockTarget::Lanes;
    uint8_t mask = 0xF; // texkill: the components it tests
    bool saturate = false;
    // A component's write feeds a later component's read (mov r0.xy, r0.yx): the instruction
    // must read all of a vector's components before it writes any.
    bool crossed = false;
    uint32_t dest[4] = {}; // file offsets of the components written
    BlockOperand sources[5];
    BlockGather gathers[5];
};

// A component of a pixel program's input filled from an interpolated attribute.
struct BlockAttribute {
    uint32_t attribute = 0; // AttrDiffuse...
    uint32_t offset = 0;    // in the file
};

class BlockProgram {
public:
    explicit BlockProgram(const GpuShaderProgram& program);

    bool Vs11() const { return vs11_; }
    const std::vector<BlockInstruction>& Instructions() const { return instructions_; }
    // Registers of the file a block needs.
    uint32_t Registers() const { return registers_; }
    // The constant each uniform register holds; register 0 is zero (index UINT16_MAX).
    const std::vector<uint16_t>& UniformConstants() const { return uniformConstants_; }
    // Lane arrays to clear before a block runs: components read before anything writes them.
    // narrow: where every sampler texld reads is 2D without mip levels, so that it reads only
    // u, v and (texldp) w of its coordinates.
    const std::vector<uint32_t>& Cleared(bool narrow) const { return cleared_[narrow]; }
    // Pixel programs: the attributes to interpolate into the file.
    const std::vector<BlockAttribute>& Attributes(bool narrow) const { return attributes_[narrow]; }
    // The samplers texld reads (bit per sampler).
    uint32_t SamplersRead() const { return samplersRead_; }
    // Whether texkill may discard lanes.
    bool Kills() const { return kills_; }
    // Vertex programs: the file offset of input register v# (NoBlockOffset when never read).
    uint32_t Input(uint32_t index) const { return inputs_[index]; }
    // The file offset of output slot s (ShaderOutPosition...; oC0 is slot 0), NoBlockOffset when
    // the program never writes it, and which slots it writes (bit per slot).
    uint32_t Output(uint32_t slot) const { return outputs_[slot]; }
    uint32_t Written() const { return written_; }
    // texld's scratch register, for coordinates negated or read from constants.
    uint32_t CoordOffset() const { return coords_; }

private:
    class Decoder;
    // Temporaries whose lives do not overlap share a register of the file.
    void ShareTemporaries(const std::vector<bool>& temporary);

    GpuShaderKind kind_;
    bool vs11_ = false;
    std::vector<BlockInstruction> instructions_;
    uint32_t registers_ = 0;
    std::vector<uint16_t> uniformConstants_;
    std::vector<uint32_t> cleared_[2];
    std::vector<BlockAttribute> attributes_[2];
    uint32_t samplersRead_ = 0;
    bool kills_ = false;
    uint32_t inputs_[GpuVertexInputCount];
    uint32_t outputs_[ShaderOutCount];
    uint32_t written_ = 0;
    uint32_t coords_ = NoBlockOffset;
};

// Eight floats on a 32-byte boundary: the unit the file and the constants are kept in, so that
// every lane array and replicated constant is aligned for the widest load.
struct alignas(32) BlockVector {
    float v[8];
};

// A draw's constants for a program: the uniform registers, each component replicated, and the
// whole file for relative reads. Read by every thread of the draw.
class BlockConstants {
public:
    // The device's `count` constants; the program's def constants override them.
    void Setup(const BlockProgram& program, const GpuShaderProgram& source,
               const float (*constants)[4], uint32_t count);
    const float* Uniforms() const { return uniforms_.front().v; }
    // Constant register `index`, or null past the file.
    const float* Constant(int64_t index) const {
        return index >= 0 && index < count_ ? constants_[index] : nullptr;
    }

private:
    std::vector<BlockVector> uniforms_;
    float constants_[GpuVertexConstCount][4] = {};
    int64_t count_ = 0;
};

// A block's register file, one per thread.
class BlockFile {
public:
    // At least `registers` registers, zeroed when they are new.
    float* Reserve(uint32_t registers);

private:
    std::vector<BlockVector> vectors_;
};

// texld for the block runner: the texels of lanes [0, lanes), quads laid out as ShaderBlockRun
// says, from their coordinates: a lane array per component, coords[c][lane]. Components whose
// texels[c] is null are not written. A texel array may be a coordinate array: each lane's
// coordinates are read before its texels are written.
class BlockSampler {
public:
    virtual void SampleBlock(uint32_t sampler, uint32_t control, const float* const* coords,
                             float* const* texels, uint32_t lanes, uint32_t rowStride) const = 0;

protected:
    ~BlockSampler() = default;
};

// One block: the program run over lanes [0, lanes) of the file (lanes a multiple of 8). Pixel
// lanes are two rows of quads: lane i of the upper row and lane i + rowStride below it, quad q
// being lanes 2q and 2q + 1 of each row. kept gets the lanes texkill left (bit per lane).
struct ShaderBlockRun {
    const BlockProgram* program = nullptr;
    const BlockConstants* constants = nullptr;
    float* file = nullptr;
    uint32_t lanes = 0;
    uint32_t rowStride = 0;
    const BlockSampler* sampler = nullptr;
    uint64_t kept = 0;
};

// Whether triangles' pixel programs and vertex programs run on the block runner: unless a test
// has turned it off, to compare with the reference interpreter.
bool ShaderBlocks();
void AllowShaderBlocks(bool allow);

// Clears the program's cleared lanes and runs it, eight lanes a step where WideLanes() holds.
void RunShaderBlock(ShaderBlockRun& run);
// The runner on four lanes, and on eight (only where the processor has AVX2).
void RunShaderBlockFour(ShaderBlockRun& run);
void RunShaderBlockEight(ShaderBlockRun& run);

} // namespace quarn
