#include "gpu/software/ShaderBlock.h"

#include "gpu/software/ShaderBlockLoop.h"
#include "gpu/software/Sse2Lanes.h"
#include "gpu/software/VertexProcessing.h"
#include "gpu/software/WideLanes.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace quarn {

// Every lane register a program can name, by a number of our own.
namespace {

constexpr uint32_t TempRegisters = 0;
constexpr uint32_t InputRegisters = TempRegisters + GpuPixelTempCount;
constexpr uint32_t TextureRegisters = InputRegisters + GpuVertexInputCount;
constexpr uint32_t OutputRegisters = TextureRegisters + GpuPixelTexCoordCount;
constexpr uint32_t AddressRegister = OutputRegisters + ShaderOutCount;
constexpr uint32_t CoordRegister = AddressRegister + 1;
constexpr uint32_t GatherRegisters = CoordRegister + 1;
constexpr uint32_t LaneRegisterCount = GatherRegisters + 5;

// The components of a source an opcode reads, by their place after the swizzle; `mask` is the
// destination's write mask.
// narrow: texld reads only the coordinates a 2D texture without mip levels needs.
uint8_t ComponentsRead(GpuShaderOp op, uint32_t control, uint8_t mask, uint32_t source,
                       bool narrow) {
    switch (op) {
    case GpuShaderOp::Rcp:
    case GpuShaderOp::Rsq:
    case GpuShaderOp::Exp:
    case GpuShaderOp::Log:
    case GpuShaderOp::Pow:
    case GpuShaderOp::Expp:
    case GpuShaderOp::Logp:
        return 0x8;
    case GpuShaderOp::SinCos:
        return source == 0 ? 0x8 : 0;
    case GpuShaderOp::Dp3:
    case GpuShaderOp::Crs:
        return 0x7;
    case GpuShaderOp::Dp4:
        return 0xF;
    case GpuShaderOp::Dp2Add:
        return source < 2 ? 0x3 : 0x8;
    case GpuShaderOp::Lit:
        return 0xB;
    case GpuShaderOp::Dst:
        return source == 0 ? 0x6 : 0xA;
    case GpuShaderOp::Nrm:
        return static_cast<uint8_t>(0x7 | (mask & 0x8));
    case GpuShaderOp::M3x3:
        return 0x7;
    case GpuShaderOp::M4x4:
    case GpuShaderOp::M4x3:
        return 0xF;
    case GpuShaderOp::Tex:
        if (source != 0) {
            return 0;
        }
        return !narrow ? 0xF : control == GpuShaderTexProject ? 0xB : 0x3;
    default:
        break;
    }
    return mask;
}

} // namespace

class BlockProgram::Decoder {
public:
    Decoder(BlockProgram& out, const GpuShaderProgram& program, bool narrow)
        : out_(out), program_(program), narrow_(narrow) {}

    void Run() {
        if (out_.kind_ == GpuShaderKind::Vertex) {
            // The caller fills every declared input whole.
            for (const GpuShaderDeclaration& d : program_.declarations) {
                if (d.type == GpuShaderRegister::Input) {
                    registers_[InputRegisters + d.index].written = 0xF;
                }
            }
        }
        for (const GpuShaderInstruction& in : program_.instructions) {
            Instruction(in);
        }
        Finish();
        ForwardOutputs();
        DropDeadComponents();
    }

    // Which registers of the file hold temporaries.
    std::vector<bool> Temporaries() const {
        std::vector<bool> temporary(out_.registers_, false);
        for (uint32_t id = TempRegisters; id < InputRegisters; ++id) {
            if (registers_[id].offset != NoBlockOffset) {
                temporary[registers_[id].offset / BlockRegisterFloats] = true;
            }
        }
        return temporary;
    }

private:
    struct LaneRegister {
        uint32_t offset = NoBlockOffset;
        uint8_t written = 0; // components written so far, in program order
        uint8_t cleared = 0; // components read before any write
        uint8_t read = 0;
    };

    uint32_t Offset(uint32_t id) {
        LaneRegister& r = registers_[id];
        if (r.offset == NoBlockOffset) {
            r.offset = out_.registers_++ * BlockRegisterFloats;
        }
        return r.offset;
    }
    void Read(uint32_t id, uint32_t component) {
        LaneRegister& r = registers_[id];
        r.read |= static_cast<uint8_t>(1u << component);
        if ((r.written >> component & 1) == 0) {
            r.cleared |= static_cast<uint8_t>(1u << component);
        }
    }

    uint32_t Uniform(uint32_t index) {
        auto at = std::find(out_.uniformConstants_.begin(), out_.uniformConstants_.end(), index);
        if (at == out_.uniformConstants_.end()) {
            out_.uniformConstants_.push_back(static_cast<uint16_t>(index));
            at = out_.uniformConstants_.end() - 1;
        }
        return static_cast<uint32_t>(at - out_.uniformConstants_.begin());
    }

    // The lane register a source names at `row` past its register, or NoBlockOffset when it
    // reads a constant or zero (then `uniform` is set).
    uint32_t SourceRegister(const GpuShaderSource& s, uint32_t row, BlockInstruction& in,
                            uint32_t& uniform) {
        const GpuShaderKind kind = out_.kind_;
        const uint32_t index = s.index + row;
        const bool inFile = index < GpuShaderRegisterCount(kind, s.type, false);
        uniform = 0;
        switch (s.type) {
        case GpuShaderRegister::Temp:
            return inFile ? TempRegisters + index : NoBlockOffset;
        case GpuShaderRegister::Input:
            return inFile ? InputRegisters + index : NoBlockOffset;
        case GpuShaderRegister::Const:
            if (s.relative) {
                const uint32_t gather = GatherRegisters + in.gatherCount;
                Read(AddressRegister, s.relativeComponent);
                in.gathers[in.gatherCount++] = {Offset(gather), index,
                                                Offset(AddressRegister) +
                                                    s.relativeComponent * BlockLanes};
                registers_[gather].written = 0xF;
                return gather;
            }
            uniform = inFile ? Uniform(index) : 0;
            return NoBlockOffset;
        case GpuShaderRegister::AddressOrTexture:
            if (kind == GpuShaderKind::Vertex) {
                return AddressRegister; // every row reads a0 itself
            }
            return inFile ? TextureRegisters + index : NoBlockOffset;
        default:
            return NoBlockOffset; // samplers read zero
        }
    }

    BlockOperand Operand(const GpuShaderSource& s, uint32_t row, uint8_t components,
                         BlockInstruction& in) {
        BlockOperand o;
        o.negate = s.modifier == GpuShaderSourceModifier::Negate;
        uint32_t uniform = 0;
        const uint32_t id = SourceRegister(s, row, in, uniform);
        if (id == NoBlockOffset) {
            o.uniform = true;
            for (int c = 0; c < 4; ++c) {
                o.offset[c] = (4 * uniform + s.swizzle[c]) * UniformLanes;
            }
            return o;
        }
        const uint32_t base = Offset(id);
        for (int c = 0; c < 4; ++c) {
            o.offset[c] = base + s.swizzle[c] * BlockLanes;
            if ((components >> c & 1) != 0) {
                Read(id, s.swizzle[c]);
            }
        }
        return o;
    }

    // The lane register a destination names, or NoBlockOffset when it writes nothing.
    uint32_t DestRegister(const GpuShaderDest& d) {
        switch (d.type) {
        case GpuShaderRegister::Temp:
            return TempRegisters + d.index;
        case GpuShaderRegister::AddressOrTexture:
            return AddressRegister;
        case GpuShaderRegister::RasterOut:
            return OutputRegisters + ShaderOutPosition + d.index;
        case GpuShaderRegister::AttrOut:
            return OutputRegisters + ShaderOutColor + d.index;
        case GpuShaderRegister::TexCoordOut:
            return OutputRegisters + ShaderOutTexCoord + d.index;
        case GpuShaderRegister::ColorOut:
            return OutputRegisters;
        default:
            return NoBlockOffset;
        }
    }

    void Instruction(const GpuShaderInstruction& source) {
        if (source.op == GpuShaderOp::Dcl || source.op == GpuShaderOp::Def) {
            return;
        }
        BlockInstruction in;
        in.op = source.op;
        in.control = source.control;
        in.mask = source.dest.writeMask;
        in.saturate = source.dest.saturate;
        if (source.op == GpuShaderOp::TexKill) {
            // Tests its register's own components, unswizzled.
            GpuShaderSource raw;
            raw.type = source.dest.type;
            raw.index = source.dest.index;
            in.target = BlockTarget::None;
            in.sources[0] = Operand(raw, 0, in.mask, in);
            in.operands = 1;
            out_.kills_ = true;
            out_.instructions_.push_back(in);
            return;
        }
        // A matrix's rows follow its vector, each read only where its component is written.
        in.rows = static_cast<uint8_t>(ShaderMatrixRows(source.op));
        for (uint32_t i = 0; i < source.sourceCount; ++i) {
            const uint32_t rows = i == 1 && in.rows > 0 ? in.rows : 1;
            for (uint32_t row = 0; row < rows; ++row) {
                uint8_t components =
                    ComponentsRead(source.op, source.control, source.dest.writeMask, i, narrow_);
                if (in.rows > 0 && i == 1 && (in.mask >> row & 1) == 0) {
                    components = 0;
                }
                in.sources[i + row] = Operand(source.sources[i], row, components, in);
                in.operands = static_cast<uint8_t>(i + row + 1);
            }
        }
        if (source.op == GpuShaderOp::Tex) {
            in.sampler = static_cast<uint8_t>(source.sources[1].index);
            out_.samplersRead_ |= 1u << in.sampler;
            out_.coords_ = Offset(CoordRegister);
        }
        const uint32_t id = DestRegister(source.dest);
        if (id == NoBlockOffset) {
            in.target = BlockTarget::None;
            in.mask = 0;
        } else {
            in.target = id == AddressRegister && out_.kind_ == GpuShaderKind::Vertex
                            ? BlockTarget::Address
                            : BlockTarget::Lanes;
            const uint32_t base = Offset(id);
            for (int c = 0; c < 4; ++c) {
                in.dest[c] = base + c * BlockLanes;
            }
            registers_[id].written |= in.mask;
            // Only the sources the instruction reads: an unused one's offsets are zero, which
            // would match a destination at the file's start.
            for (uint32_t c = 0; c < 4; ++c) {
                for (uint32_t later = c + 1; later < 4; ++later) {
                    for (uint32_t i = 0; i < in.operands; ++i) {
                        const BlockOperand& o = in.sources[i];
                        in.crossed =
                            in.crossed || ((in.mask >> c & 1) != 0 && (in.mask >> later & 1) != 0 &&
                                           !o.uniform && o.offset[later] == in.dest[c]);
                    }
                }
            }
            if (id >= OutputRegisters && id < AddressRegister) {
                out_.written_ |= 1u << (id - OutputRegisters);
            }
        }
        out_.instructions_.push_back(in);
    }

    void Finish() {
        for (uint32_t id = 0; id < LaneRegisterCount; ++id) {
            const LaneRegister& r = registers_[id];
            if (r.offset == NoBlockOffset) {
                continue;
            }
            uint8_t cleared = r.cleared;
            if (id >= OutputRegisters && id < AddressRegister) {
                cleared = static_cast<uint8_t>(~r.written & 0xF); // the copy out reads them all
            } else if (out_.kind_ == GpuShaderKind::Pixel && id >= InputRegisters &&
                       id < OutputRegisters) {
                cleared = 0;
                for (uint32_t c = 0; c < 4; ++c) {
                    if ((r.read >> c & 1) == 0) {
                        continue;
                    }
                    const uint32_t attribute = PixelAttribute(id, c);
                    if (attribute == NoBlockOffset) {
                        cleared |= static_cast<uint8_t>(1u << c);
                    } else {
                        out_.attributes_[narrow_].push_back({attribute, r.offset + c * BlockLanes});
                    }
                }
            }
            for (uint32_t c = 0; c < 4; ++c) {
                if ((cleared >> c & 1) != 0) {
                    out_.cleared_[narrow_].push_back(r.offset + c * BlockLanes);
                }
            }
        }
        for (uint32_t i = 0; i < GpuVertexInputCount; ++i) {
            out_.inputs_[i] = registers_[InputRegisters + i].offset;
        }
        for (uint32_t s = 0; s < ShaderOutCount; ++s) {
            out_.outputs_[s] = registers_[OutputRegisters + s].offset;
        }
    }

    // A program's last write of an output is often a plain copy of a temporary (mov oC0, r0):
    // the output then reads the temporary itself, and the copy is left out.
    void ForwardOutputs() {
        std::vector<BlockInstruction>& list = out_.instructions_;
        for (uint32_t slot = 0; slot < ShaderOutCount; ++slot) {
            const uint32_t output = out_.outputs_[slot];
            auto last = list.end();
            for (auto in = list.begin(); in != list.end(); ++in) {
                if (in->target == BlockTarget::Lanes && in->mask != 0 && in->dest[0] == output) {
                    last = in;
                }
            }
            if (last == list.end() || last->op != GpuShaderOp::Mov || last->mask != 0xF ||
                last->saturate || last->gatherCount != 0 || last->sources[0].uniform ||
                last->sources[0].negate) {
                continue;
            }
            const uint32_t from = last->sources[0].offset[0];
            bool plain = from % BlockRegisterFloats == 0;
            for (uint32_t c = 0; c < 4; ++c) {
                plain = plain && last->sources[0].offset[c] == from + c * BlockLanes;
            }
            // Only a temporary or an input, which no later instruction writes.
            bool kept = false;
            for (uint32_t id = TempRegisters; id < OutputRegisters; ++id) {
                kept = kept || registers_[id].offset == from;
            }
            for (auto in = last + 1; in != list.end(); ++in) {
                for (uint32_t c = 0; c < 4; ++c) {
                    kept =
                        kept && !(in->target == BlockTarget::Lanes && (in->mask >> c & 1) != 0 &&
                                  in->dest[c] >= from && in->dest[c] < from + BlockRegisterFloats);
                }
            }
            if (plain && kept) {
                list.erase(last);
                out_.outputs_[slot] = from;
            }
        }
    }

    // An instruction writes only the components that a later one reads or the program outputs
    // (texld does not even fetch the others); one that writes none is left out.
    void DropDeadComponents() {
        std::vector<BlockInstruction>& list = out_.instructions_;
        std::vector<uint8_t> live(out_.registers_, 0);
        auto bit = [&](uint32_t offset) -> uint8_t& { return live[offset / BlockRegisterFloats]; };
        auto component = [](uint32_t offset) {
            return 1u << (offset % BlockRegisterFloats) / BlockLanes;
        };
        for (uint32_t output : out_.outputs_) {
            if (output != NoBlockOffset) {
                bit(output) = 0xF;
            }
        }
        for (size_t i = list.size(); i-- > 0;) {
            BlockInstruction& in = list[i];
            if (in.target != BlockTarget::None) {
                uint8_t needed = 0;
                for (uint32_t c = 0; c < 4; ++c) {
                    if ((in.mask >> c & 1) != 0) {
                        needed |= (bit(in.dest[c]) & component(in.dest[c])) != 0 ? 1u << c : 0u;
                        bit(in.dest[c]) &= static_cast<uint8_t>(~component(in.dest[c]));
                    }
                }
                // a0 feeds relative reads: it stays.
                if (in.target == BlockTarget::Lanes) {
                    in.mask = needed;
                    if (needed == 0) {
                        list.erase(list.begin() + static_cast<ptrdiff_t>(i));
                        continue;
                    }
                }
            }
            for (uint32_t s = 0; s < in.operands; ++s) {
                const BlockOperand& o = in.sources[s];
                const uint32_t row = in.rows > 0 && s >= 1 ? s - 1 : 0;
                uint8_t read = in.op == GpuShaderOp::TexKill
                                   ? in.mask
                                   : ComponentsRead(in.op, in.control, in.mask,
                                                    s >= 1 && in.rows > 0 ? 1 : s, false);
                if (in.rows > 0 && s >= 1 && (in.mask >> row & 1) == 0) {
                    read = 0;
                }
                for (uint32_t c = 0; c < 4 && !o.uniform; ++c) {
                    if ((read >> c & 1) != 0) {
                        bit(o.offset[c]) |= static_cast<uint8_t>(component(o.offset[c]));
                    }
                }
            }
            for (uint32_t g = 0; g < in.gatherCount; ++g) {
                bit(in.gathers[g].address) |=
                    static_cast<uint8_t>(component(in.gathers[g].address));
            }
        }
    }

    // v0 is the diffuse colour, v1 the specular one with w = 0, t# the texture coordinates.
    static uint32_t PixelAttribute(uint32_t id, uint32_t component) {
        if (id >= TextureRegisters) {
            return AttrTexture + 4 * (id - TextureRegisters) + component;
        }
        if (id == InputRegisters) {
            return AttrDiffuse + component;
        }
        return component < 3 ? AttrSpecular + component : NoBlockOffset;
    }

    BlockProgram& out_;
    const GpuShaderProgram& program_;
    bool narrow_;
    LaneRegister registers_[LaneRegisterCount];
};

// Temporaries whose lives do not overlap share a register of the file, so that the part of
// a block's file that a program touches stays small for the first-level cache.
void BlockProgram::ShareTemporaries(const std::vector<bool>& temporary) {
    std::vector<BlockInstruction>& list = instructions_;
    const uint32_t count = registers_;
    const int end = static_cast<int>(list.size());
    std::vector<int> first(count, end + 1);
    std::vector<int> last(count, -2);
    auto touch = [&](uint32_t offset, int at) {
        const uint32_t r = offset / BlockRegisterFloats;
        first[r] = std::min(first[r], at);
        last[r] = std::max(last[r], at);
    };
    for (int i = 0; i < end; ++i) {
        const BlockInstruction& in = list[static_cast<size_t>(i)];
        for (uint32_t c = 0; c < 4; ++c) {
            if (in.target != BlockTarget::None && (in.mask >> c & 1) != 0) {
                touch(in.dest[c], i);
            }
        }
        for (uint32_t src = 0; src < in.operands; ++src) {
            for (uint32_t c = 0; c < 4 && !in.sources[src].uniform; ++c) {
                touch(in.sources[src].offset[c], i);
            }
        }
    }
    // Cleared registers live from the block's start, outputs to its end.
    for (const std::vector<uint32_t>& cleared : cleared_) {
        for (uint32_t offset : cleared) {
            touch(offset, -1);
        }
    }
    for (uint32_t output : outputs_) {
        if (output != NoBlockOffset) {
            touch(output, end);
        }
    }
    // In program order: a temporary takes a register freed by an earlier instruction.
    std::vector<uint32_t> map(count);
    std::vector<uint32_t> free;
    for (uint32_t r = 0; r < count; ++r) {
        map[r] = r;
    }
    for (int at = -1; at <= end; ++at) {
        for (uint32_t r = 0; r < count; ++r) {
            if (temporary[r] && first[r] == at && !free.empty()) {
                map[r] = free.back();
                free.pop_back();
            }
        }
        for (uint32_t r = 0; r < count; ++r) {
            if (temporary[r] && last[r] == at) {
                free.push_back(map[r]);
            }
        }
    }
    auto moved = [&](uint32_t& offset) {
        const uint32_t r = offset / BlockRegisterFloats;
        offset = map[r] * BlockRegisterFloats + offset % BlockRegisterFloats;
    };
    for (BlockInstruction& in : list) {
        for (uint32_t c = 0; c < 4 && in.target != BlockTarget::None; ++c) {
            moved(in.dest[c]);
        }
        for (uint32_t src = 0; src < in.operands; ++src) {
            for (uint32_t c = 0; c < 4 && !in.sources[src].uniform; ++c) {
                moved(in.sources[src].offset[c]);
            }
        }
    }
    for (std::vector<uint32_t>& cleared : cleared_) {
        for (uint32_t& offset : cleared) {
            moved(offset);
        }
    }
    for (uint32_t& output : outputs_) {
        if (output != NoBlockOffset) {
            moved(output);
        }
    }
}

BlockProgram::BlockProgram(const GpuShaderProgram& program)
    : kind_(program.kind),
      vs11_(program.kind == GpuShaderKind::Vertex && program.version == 0x0101) {
    // Both passes make the same registers and instructions; the second keeps only what it
    // reads differently.
    std::vector<bool> temporaries;
    for (bool narrow : {true, false}) {
        instructions_.clear();
        registers_ = 0;
        uniformConstants_.assign(1, UINT16_MAX); // register 0 reads zero
        written_ = 0;
        samplersRead_ = 0;
        Decoder decoder(*this, program, narrow);
        decoder.Run();
        temporaries = decoder.Temporaries();
    }
    ShareTemporaries(temporaries);
}

void BlockConstants::Setup(const BlockProgram& program, const GpuShaderProgram& source,
                           const float (*constants)[4], uint32_t count) {
    count_ = std::min<uint32_t>(count, GpuVertexConstCount);
    for (int64_t i = 0; i < count_; ++i) {
        std::copy(constants[i], constants[i] + 4, constants_[i]);
    }
    for (const GpuShaderConstant& c : source.constants) {
        std::copy(c.value, c.value + 4, constants_[c.index]);
    }
    const std::vector<uint16_t>& indices = program.UniformConstants();
    uniforms_.assign(4 * indices.size(), BlockVector{});
    for (size_t u = 0; u < indices.size(); ++u) {
        const float* value = Constant(indices[u]);
        for (uint32_t c = 0; c < 4; ++c) {
            std::fill_n(uniforms_[4 * u + c].v, UniformLanes, value != nullptr ? value[c] : 0.0f);
        }
    }
}

float* BlockFile::Reserve(uint32_t registers) {
    const size_t vectors = static_cast<size_t>(registers) * BlockRegisterFloats / 8;
    if (vectors_.size() < vectors) {
        vectors_.resize(vectors, BlockVector{});
    }
    return vectors_.empty() ? nullptr : vectors_.front().v;
}

namespace {

std::atomic<bool> blocksAllowed{true};

} // namespace

bool ShaderBlocks() {
    return blocksAllowed.load(std::memory_order_relaxed);
}

void AllowShaderBlocks(bool allow) {
    blocksAllowed.store(allow, std::memory_order_relaxed);
}

void RunShaderBlockFour(ShaderBlockRun& run) {
    BlockRunner<Sse2Lanes>(run).Run();
}

void RunShaderBlock(ShaderBlockRun& run) {
    for (uint32_t offset : run.program->Cleared(false)) {
        std::memset(run.file + offset, 0, run.lanes * sizeof(float));
    }
    if (WideLanes()) {
        RunShaderBlockEight(run);
    } else {
        RunShaderBlockFour(run);
    }
}

} // namespace quarn
