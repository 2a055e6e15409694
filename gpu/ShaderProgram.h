#pragma once

// Shader token streams: the word arrays that pre-compiled vertex and pixel programs are stored
// as, decoded once into a form the interpreter walks without re-reading tokens. The stream has
// no length of its own; it ends at its end token, so every word is read against the data's end.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

enum class GpuShaderKind : uint8_t { Vertex, Pixel };

// Version words as the stream's first token carries them.
inline constexpr uint32_t GpuVertexShaderVersionBase = 0xFFFE0000;
inline constexpr uint32_t GpuPixelShaderVersionBase = 0xFFFF0000;
inline constexpr uint32_t GpuShaderEndToken = 0x0000FFFF;
inline constexpr uint32_t GpuShaderCommentOpcode = 0xFFFE;

// Opcodes as the streams number them; only those the engine interprets are named.
enum class GpuShaderOp : uint16_t {
    Mov = 1,
    Add = 2,
    Sub = 3,
    Mad = 4,
    Mul = 5,
    Rcp = 6,
    Rsq = 7,
    Dp3 = 8,
    Dp4 = 9,
    Min = 10,
    Max = 11,
    Slt = 12,
    Sge = 13,
    Exp = 14,
    Log = 15,
    Lit = 16,
    Dst = 17,
    Lrp = 18,
    Frc = 19,
    M4x4 = 20,
    M4x3 = 21,
    M3x3 = 23,
    Dcl = 31,
    Pow = 32,
    Crs = 33,
    Abs = 35,
    Nrm = 36,
    SinCos = 37,
    Mova = 46,
    TexKill = 65,
    Tex = 66, // texld; its control bits make it texldp or texldb
    Expp = 78,
    Logp = 79,
    Def = 81,
    Cmp = 88,
    Dp2Add = 90,
};

// Control bits of Tex (bits 16..23 of the instruction token).
inline constexpr uint32_t GpuShaderTexProject = 1;
inline constexpr uint32_t GpuShaderTexBias = 2;

// Register types as the streams number them; the same number means different files for vertex
// and pixel programs (3 is a0 or t#).
enum class GpuShaderRegister : uint8_t {
    Temp = 0,
    Input = 1,
    Const = 2,
    AddressOrTexture = 3,
    RasterOut = 4, // oPos (0), oFog (1)
    AttrOut = 5,   // oD0..oD1
    TexCoordOut = 6,
    ColorOut = 8,
    Sampler = 10,
};

// A register token's type, split over bits 28..30 and 11..12, and the token naming a register
// (bit 31 set, its number in bits 0..10) with no mask, swizzle or modifier.
inline GpuShaderRegister GpuShaderTokenRegister(uint32_t token) {
    return static_cast<GpuShaderRegister>(((token >> 28) & 0x7) | ((token >> 8) & 0x18));
}
inline uint32_t GpuShaderRegisterToken(GpuShaderRegister type, uint32_t index) {
    const uint32_t t = static_cast<uint32_t>(type);
    return 0x80000000u | (t & 7) << 28 | (t & 0x18) << 8 | index;
}

inline constexpr uint32_t GpuRasterOutPosition = 0;
inline constexpr uint32_t GpuRasterOutFog = 1;

enum class GpuShaderSourceModifier : uint8_t { None = 0, Negate = 1 };

struct GpuShaderSource {
    GpuShaderRegister type = GpuShaderRegister::Temp;
    uint16_t index = 0;
    uint8_t swizzle[4] = {0, 1, 2, 3};
    GpuShaderSourceModifier modifier = GpuShaderSourceModifier::None;
    // Constant index offset by the address register's component `relativeComponent`.
    bool relative = false;
    uint8_t relativeComponent = 0;
};

struct GpuShaderDest {
    GpuShaderRegister type = GpuShaderRegister::Temp;
    uint16_t index = 0;
    uint8_t writeMask = 0xF; // bit 0 = x
    bool saturate = false;
};

struct GpuShaderInstruction {
    GpuShaderOp op = GpuShaderOp::Mov;
    uint8_t control = 0;
    uint8_t sourceCount = 0;
    GpuShaderDest dest;
    GpuShaderSource sources[3];
};

// Usages of vertex inputs as dcl names them.
enum class GpuShaderUsage : uint8_t {
    Position = 0,
    BlendWeight = 1,
    Normal = 3,
    TexCoord = 5,
    Color = 10,
};

enum class GpuSamplerType : uint8_t { Unknown = 0, Texture2D = 2, Cube = 3 };

struct GpuShaderDeclaration {
    GpuShaderRegister type = GpuShaderRegister::Input;
    uint16_t index = 0;
    GpuShaderUsage usage = GpuShaderUsage::Position; // vertex inputs only
    uint8_t usageIndex = 0;
    GpuSamplerType samplerType = GpuSamplerType::Unknown; // samplers only
};

struct GpuShaderConstant {
    uint16_t index = 0;
    float value[4] = {};
};

struct GpuShaderProgram {
    GpuShaderKind kind = GpuShaderKind::Vertex;
    uint32_t version = 0; // (major << 8) | minor
    std::vector<GpuShaderDeclaration> declarations;
    std::vector<GpuShaderConstant> constants; // def: they override the device's constants
    std::vector<GpuShaderInstruction> instructions;
    // The stream's words, version through end token.
    std::vector<uint32_t> tokens;
};

// Register counts the decoder accepts; the reported capabilities promise the same.
inline constexpr uint32_t GpuVertexTempCount = 12;
inline constexpr uint32_t GpuVertexInputCount = 16;
inline constexpr uint32_t GpuVertexConstCount = 256;
inline constexpr uint32_t GpuVertexColorOutCount = 2;
inline constexpr uint32_t GpuVertexTexCoordOutCount = 8;
inline constexpr uint32_t GpuPixelTempCount = 32;
inline constexpr uint32_t GpuPixelInputCount = 2;
inline constexpr uint32_t GpuPixelTexCoordCount = 8;
inline constexpr uint32_t GpuPixelSamplerCount = 16;
inline constexpr uint32_t GpuPixelConstCount = 32;

// Instructions a program may hold, as the shader model allows them (each instruction counted
// once, dcl and def aside): a program runs for every vertex or pixel drawn, so its length is
// the cost of each. A pixel program's texture instructions (texld, texkill) count apart.
inline constexpr uint32_t GpuVertex11InstructionLimit = 128;
inline constexpr uint32_t GpuVertex20InstructionLimit = 256;
inline constexpr uint32_t GpuPixelArithmeticLimit = 64;
inline constexpr uint32_t GpuPixelTextureLimit = 32;

// An instruction of the subset: its opcode, its mnemonic (texld stands for texldp and texldb too,
// which its control bits select) and how many source operands follow its destination.
struct GpuShaderOpcodeInfo {
    GpuShaderOp op;
    const char* name;
    uint8_t sourceCount;
    uint8_t programs; // which versions may use it
};

// The instruction a program of `kind` and `version` ((major << 8) | minor) may use under this
// opcode or mnemonic; null for one it may not (dcl and def are not in the table: they carry
// other operands).
const GpuShaderOpcodeInfo* FindShaderOpcode(uint32_t opcode, GpuShaderKind kind, uint32_t version);
const GpuShaderOpcodeInfo* FindShaderOpcode(std::string_view name, GpuShaderKind kind,
                                            uint32_t version);

// How many registers of `type` a program of `kind` may name as a destination or as a source;
// 0 where it may not name the type there.
uint32_t GpuShaderRegisterCount(GpuShaderKind kind, GpuShaderRegister type, bool destination);

// Decodes the stream at the start of `bytes` (little-endian words) as a program of `kind`.
// The stream may be followed by other data. On failure returns false and sets `error` to a
// one-line reason naming the word ("unsupported opcode 0x… at word N"); a program longer than
// its limits above fails at the first instruction past them.
bool DecodeShaderProgram(std::span<const uint8_t> bytes, GpuShaderKind kind, GpuShaderProgram& out,
                         std::string& error);

} // namespace quarn
