#include "gpu/ShaderProgram.h"

#include "core/io/ByteOrder.h"

#include <bit>
#include <cstdio>

namespace quarn {
namespace {

constexpr uint32_t VertexShader11 = 0x0101;
constexpr uint32_t VertexShader20 = 0x0200;
constexpr uint32_t PixelShader20 = 0x0200;

// Which programs may use an opcode.
constexpr uint8_t InVs11 = 1;
constexpr uint8_t InVs20 = 2;
constexpr uint8_t InPs20 = 4;
constexpr uint8_t InVs = InVs11 | InVs20;
constexpr uint8_t InAll = InVs | InPs20;

constexpr GpuShaderOpcodeInfo Opcodes[] = {
    {GpuShaderOp::Mov, "mov", 1, InAll},
    {GpuShaderOp::Add, "add", 2, InAll},
    {GpuShaderOp::Sub, "sub", 2, InAll},
    {GpuShaderOp::Mad, "mad", 3, InAll},
    {GpuShaderOp::Mul, "mul", 2, InAll},
    {GpuShaderOp::Rcp, "rcp", 1, InAll},
    {GpuShaderOp::Rsq, "rsq", 1, InAll},
    {GpuShaderOp::Dp3, "dp3", 2, InAll},
    {GpuShaderOp::Dp4, "dp4", 2, InAll},
    {GpuShaderOp::Min, "min", 2, InAll},
    {GpuShaderOp::Max, "max", 2, InAll},
    {GpuShaderOp::Slt, "slt", 2, InVs},
    {GpuShaderOp::Sge, "sge", 2, InVs},
    {GpuShaderOp::Exp, "exp", 1, InAll},
    {GpuShaderOp::Log, "log", 1, InAll},
    {GpuShaderOp::Lit, "lit", 1, InVs},
    {GpuShaderOp::Dst, "dst", 2, InVs},
    {GpuShaderOp::Lrp, "lrp", 3, InVs20 | InPs20},
    {GpuShaderOp::Frc, "frc", 1, InAll},
    {GpuShaderOp::M4x4, "m4x4", 2, InAll},
    {GpuShaderOp::M4x3, "m4x3", 2, InAll},
    {GpuShaderOp::M3x3, "m3x3", 2, InAll},
    {GpuShaderOp::Pow, "pow", 2, InVs20 | InPs20},
    {GpuShaderOp::Crs, "crs", 2, InVs20 | InPs20},
    {GpuShaderOp::Abs, "abs", 1, InVs20 | InPs20},
    {GpuShaderOp::Nrm, "nrm", 1, InVs20 | InPs20},
    {GpuShaderOp::SinCos, "sincos", 3, InVs20 | InPs20},
    {GpuShaderOp::Mova, "mova", 1, InVs20},
    {GpuShaderOp::TexKill, "texkill", 0, InPs20},
    {GpuShaderOp::Tex, "texld", 2, InPs20},
    {GpuShaderOp::Expp, "expp", 1, InVs},
    {GpuShaderOp::Logp, "logp", 1, InVs},
    {GpuShaderOp::Cmp, "cmp", 3, InPs20},
    {GpuShaderOp::Dp2Add, "dp2add", 3, InPs20},
};

// The program bit of a stream's version; 0 for a version the decoder refuses.
uint8_t ProgramOf(GpuShaderKind kind, uint32_t version) {
    if (kind == GpuShaderKind::Vertex) {
        return version == VertexShader11 ? InVs11 : version == VertexShader20 ? InVs20 : 0;
    }
    return version == PixelShader20 ? InPs20 : 0;
}

class TokenReader {
public:
    TokenReader(std::span<const uint8_t> bytes, GpuShaderKind kind, GpuShaderProgram& out,
                std::string& error)
        : bytes_(bytes), kind_(kind), out_(out), error_(error) {}

    bool Decode();

private:
    bool Fail(const char* what, uint32_t word) {
        char text[96];
        std::snprintf(text, sizeof text, "%s at word %u", what, word);
        error_ = text;
        return false;
    }
    bool FailValue(const char* what, uint32_t value, uint32_t word) {
        char text[96];
        std::snprintf(text, sizeof text, "%s 0x%X at word %u", what, value, word);
        error_ = text;
        return false;
    }

    bool Next(uint32_t& word) {
        if (bytes_.size() / 4 <= position_) {
            return Fail("shader ends without its end token", position_);
        }
        word = ReadLittleEndian32(bytes_.data() + position_ * 4);
        out_.tokens.push_back(word);
        ++position_;
        return true;
    }

    bool ReadRegister(uint32_t token, uint32_t word, bool destination, GpuShaderRegister& type,
                      uint16_t& index);
    bool ReadDest(GpuShaderDest& dest, bool readOnly);
    bool ReadSource(GpuShaderSource& source);
    bool ReadDeclaration(uint32_t word);
    bool ReadDefinition();
    bool ReadInstruction(uint32_t token, uint32_t word);
    // Counts the instruction against the program's limits; false past them.
    bool CountInstruction(GpuShaderOp op, uint32_t word);

    std::span<const uint8_t> bytes_;
    GpuShaderKind kind_;
    GpuShaderProgram& out_;
    std::string& error_;
    uint32_t position_ = 0;
    uint32_t arithmetic_ = 0; // every instruction of a vertex program
    uint32_t texture_ = 0;
};

bool TokenReader::CountInstruction(GpuShaderOp op, uint32_t word) {
    char what[64];
    if (kind_ == GpuShaderKind::Vertex) {
        const uint32_t limit = out_.version == VertexShader11 ? GpuVertex11InstructionLimit
                                                              : GpuVertex20InstructionLimit;
        if (++arithmetic_ <= limit) {
            return true;
        }
        std::snprintf(what, sizeof what, "vertex program of more than %u instructions", limit);
        return Fail(what, word);
    }
    const bool texture = op == GpuShaderOp::Tex || op == GpuShaderOp::TexKill;
    if (texture ? ++texture_ <= GpuPixelTextureLimit : ++arithmetic_ <= GpuPixelArithmeticLimit) {
        return true;
    }
    std::snprintf(what, sizeof what, "pixel program of more than %u %s instructions",
                  texture ? GpuPixelTextureLimit : GpuPixelArithmeticLimit,
                  texture ? "texture" : "arithmetic");
    return Fail(what, word);
}

bool TokenReader::ReadRegister(uint32_t token, uint32_t word, bool destination,
                               GpuShaderRegister& type, uint16_t& index) {
    if ((token & 0x80000000u) == 0) {
        return Fail("missing register token", word);
    }
    type = GpuShaderTokenRegister(token);
    uint32_t number = token & 0x7FF;
    if (number >= GpuShaderRegisterCount(kind_, type, destination)) {
        return Fail("register out of range", word);
    }
    index = static_cast<uint16_t>(number);
    return true;
}

// texkill's operand is written as a destination but only read, so it may name t#.
bool TokenReader::ReadDest(GpuShaderDest& dest, bool readOnly) {
    uint32_t word = position_;
    uint32_t token = 0;
    if (!Next(token) || !ReadRegister(token, word, !readOnly, dest.type, dest.index)) {
        return false;
    }
    uint32_t modifiers = (token >> 20) & 0xF;
    // Partial precision and centroid only permit less exactness; the interpreter is exact.
    if ((token & 0x2000) != 0 || (token >> 24 & 0xF) != 0 || (modifiers & ~0x7u) != 0) {
        return Fail("unsupported destination modifier", word);
    }
    dest.writeMask = static_cast<uint8_t>((token >> 16) & 0xF);
    dest.saturate = (modifiers & 1) != 0;
    return true;
}

bool TokenReader::ReadSource(GpuShaderSource& source) {
    uint32_t word = position_;
    uint32_t token = 0;
    if (!Next(token) || !ReadRegister(token, word, false, source.type, source.index)) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        source.swizzle[i] = static_cast<uint8_t>((token >> (16 + 2 * i)) & 0x3);
    }
    uint32_t modifier = (token >> 24) & 0xF;
    if (modifier > 1) {
        return FailValue("unsupported source modifier", modifier, word);
    }
    source.modifier = static_cast<GpuShaderSourceModifier>(modifier);
    if ((token & 0x2000) == 0) {
        return true;
    }
    if (kind_ != GpuShaderKind::Vertex || source.type != GpuShaderRegister::Const) {
        return Fail("relative addressing of a register that cannot be indexed", word);
    }
    source.relative = true;
    if (out_.version == VertexShader11) {
        return true; // a0.x is implied
    }
    uint32_t addressWord = position_;
    uint32_t address = 0;
    if (!Next(address)) {
        return false;
    }
    if ((address & 0x80000000u) == 0 ||
        GpuShaderTokenRegister(address) != GpuShaderRegister::AddressOrTexture ||
        (address & 0x7FF) != 0) {
        return Fail("relative address is not a0", addressWord);
    }
    source.relativeComponent = static_cast<uint8_t>((address >> 16) & 0x3);
    return true;
}

bool TokenReader::ReadDeclaration(uint32_t word) {
    uint32_t usageWord = position_;
    uint32_t usage = 0;
    if (!Next(usage)) {
        return false;
    }
    GpuShaderDeclaration declaration;
    GpuShaderDest dest;
    uint32_t registerWord = position_;
    uint32_t token = 0;
    if (!Next(token) || !ReadRegister(token, registerWord, false, dest.type, dest.index)) {
        return false;
    }
    declaration.type = dest.type;
    declaration.index = dest.index;
    if (declaration.type == GpuShaderRegister::Sampler) {
        uint32_t samplerType = (usage >> 27) & 0xF;
        if (samplerType != 2 && samplerType != 3) {
            return FailValue("unsupported sampler type", samplerType, usageWord);
        }
        declaration.samplerType = static_cast<GpuSamplerType>(samplerType);
    } else if (declaration.type == GpuShaderRegister::Input && kind_ == GpuShaderKind::Vertex) {
        uint32_t usageCode = usage & 0x1F;
        if (usageCode != 0 && usageCode != 1 && usageCode != 3 && usageCode != 5 &&
            usageCode != 10) {
            return FailValue("unsupported input usage", usageCode, usageWord);
        }
        declaration.usage = static_cast<GpuShaderUsage>(usageCode);
        declaration.usageIndex = static_cast<uint8_t>((usage >> 16) & 0xF);
    } else if (!(kind_ == GpuShaderKind::Pixel &&
                 (declaration.type == GpuShaderRegister::Input ||
                  declaration.type == GpuShaderRegister::AddressOrTexture))) {
        return Fail("declaration of a register that takes none", word);
    }
    out_.declarations.push_back(declaration);
    return true;
}

bool TokenReader::ReadDefinition() {
    uint32_t word = position_;
    uint32_t token = 0;
    GpuShaderConstant constant;
    GpuShaderRegister type;
    if (!Next(token) || !ReadRegister(token, word, false, type, constant.index)) {
        return false;
    }
    if (type != GpuShaderRegister::Const) {
        return Fail("definition of a register that is not a constant", word);
    }
    for (float& value : constant.value) {
        uint32_t bits = 0;
        if (!Next(bits)) {
            return false;
        }
        value = std::bit_cast<float>(bits);
    }
    out_.constants.push_back(constant);
    return true;
}

bool TokenReader::ReadInstruction(uint32_t token, uint32_t word) {
    uint32_t opcode = token & 0xFFFF;
    if ((token & 0x50000000u) != 0) { // predicated or co-issued
        return FailValue("unsupported opcode", opcode, word);
    }
    uint32_t start = position_;
    if (opcode == static_cast<uint32_t>(GpuShaderOp::Dcl)) {
        if (!ReadDeclaration(word)) {
            return false;
        }
    } else if (opcode == static_cast<uint32_t>(GpuShaderOp::Def)) {
        if (!ReadDefinition()) {
            return false;
        }
    } else {
        const GpuShaderOpcodeInfo* info = FindShaderOpcode(opcode, kind_, out_.version);
        if (info == nullptr) {
            return FailValue("unsupported opcode", opcode, word);
        }
        if (!CountInstruction(info->op, word)) {
            return false;
        }
        GpuShaderInstruction instruction;
        instruction.op = info->op;
        instruction.control = static_cast<uint8_t>((token >> 16) & 0xFF);
        instruction.sourceCount = info->sourceCount;
        if (instruction.control > (info->op == GpuShaderOp::Tex ? GpuShaderTexBias : 0)) {
            return FailValue("unsupported opcode", token & 0xFFFFFF, word);
        }
        if (!ReadDest(instruction.dest, info->op == GpuShaderOp::TexKill)) {
            return false;
        }
        for (uint32_t i = 0; i < info->sourceCount; ++i) {
            if (!ReadSource(instruction.sources[i])) {
                return false;
            }
        }
        out_.instructions.push_back(instruction);
    }
    // Version 2 streams state each instruction's length; a disagreement means we misread it.
    uint32_t length = (token >> 24) & 0xF;
    if (out_.version >= 0x0200 && length != position_ - start) {
        return Fail("instruction length does not match its operands", word);
    }
    return true;
}

bool TokenReader::Decode() {
    out_ = GpuShaderProgram{};
    out_.kind = kind_;
    uint32_t version = 0;
    if (!Next(version)) {
        return false;
    }
    uint32_t base =
        kind_ == GpuShaderKind::Vertex ? GpuVertexShaderVersionBase : GpuPixelShaderVersionBase;
    out_.version = version & 0xFFFF;
    if ((version & 0xFFFF0000u) != base || ProgramOf(kind_, out_.version) == 0) {
        return FailValue("unsupported shader version", version, 0);
    }
    for (;;) {
        uint32_t word = position_;
        uint32_t token = 0;
        if (!Next(token)) {
            return false;
        }
        if (token == GpuShaderEndToken) {
            return true;
        }
        if ((token & 0xFFFF) == GpuShaderCommentOpcode) {
            uint32_t length = (token >> 16) & 0x7FFF;
            for (uint32_t i = 0; i < length; ++i) {
                uint32_t skipped = 0;
                if (!Next(skipped)) {
                    return false;
                }
            }
            continue;
        }
        if (!ReadInstruction(token, word)) {
            return false;
        }
    }
}

} // namespace

const GpuShaderOpcodeInfo* FindShaderOpcode(uint32_t opcode, GpuShaderKind kind, uint32_t version) {
    const uint8_t program = ProgramOf(kind, version);
    for (const GpuShaderOpcodeInfo& info : Opcodes) {
        if (static_cast<uint32_t>(info.op) == opcode && (info.programs & program) != 0) {
            return &info;
        }
    }
    return nullptr;
}

const GpuShaderOpcodeInfo* FindShaderOpcode(std::string_view name, GpuShaderKind kind,
                                            uint32_t version) {
    for (const GpuShaderOpcodeInfo& info : Opcodes) {
        if (name == info.name) {
            return FindShaderOpcode(static_cast<uint32_t>(info.op), kind, version);
        }
    }
    return nullptr;
}

uint32_t GpuShaderRegisterCount(GpuShaderKind kind, GpuShaderRegister type, bool destination) {
    if (kind == GpuShaderKind::Vertex) {
        switch (type) {
        case GpuShaderRegister::Temp:
            return GpuVertexTempCount;
        case GpuShaderRegister::Input:
            return destination ? 0 : GpuVertexInputCount;
        case GpuShaderRegister::Const:
            return destination ? 0 : GpuVertexConstCount;
        case GpuShaderRegister::AddressOrTexture:
            return 1;
        case GpuShaderRegister::RasterOut:
            return destination ? 2 : 0;
        case GpuShaderRegister::AttrOut:
            return destination ? GpuVertexColorOutCount : 0;
        case GpuShaderRegister::TexCoordOut:
            return destination ? GpuVertexTexCoordOutCount : 0;
        default:
            return 0;
        }
    }
    switch (type) {
    case GpuShaderRegister::Temp:
        return GpuPixelTempCount;
    case GpuShaderRegister::Input:
        return destination ? 0 : GpuPixelInputCount;
    case GpuShaderRegister::Const:
        return destination ? 0 : GpuPixelConstCount;
    case GpuShaderRegister::AddressOrTexture:
        return destination ? 0 : GpuPixelTexCoordCount;
    case GpuShaderRegister::Sampler:
        return destination ? 0 : GpuPixelSamplerCount;
    case GpuShaderRegister::ColorOut:
        return destination ? 1 : 0;
    default:
        return 0;
    }
}

bool DecodeShaderProgram(std::span<const uint8_t> bytes, GpuShaderKind kind, GpuShaderProgram& out,
                         std::string& error) {
    return TokenReader(bytes, kind, out, error).Decode();
}

} // namespace quarn
