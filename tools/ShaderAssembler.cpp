#include "tools/ShaderAssembler.h"

#include "core/io/ByteOrder.h"
#include "core/string/NumberText.h"
#include "core/string/PrintfFormat.h"
#include "core/string/Text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace quarn {

const char* const ShaderSourceSyntax =
    "A shader source holds one or two programs, each starting at its version line\n"
    "(\"vs_1_1\", \"vs_2_0\" or \"ps_2_0\") and ending where the next one starts or the\n"
    "file ends; at most one vertex and one pixel program. The end token is added.\n"
    "Text after ';' or \"//\" is a remark. Every other line is one instruction:\n"
    "  MNEMONIC[_sat] DEST, SOURCE, ...\n"
    "with the mnemonics mov add sub mul mad dp3 dp4 rcp rsq min max slt sge frc abs\n"
    "nrm lrp cmp m4x4 m4x3 m3x3 exp expp log logp pow lit dst sincos crs dp2add\n"
    "texld texldp texldb texkill mova, where each version allows them. Registers:\n"
    "  vertex  r0-r11 v0-v15 c0-c255 a0 oPos oFog oD0-oD1 oT0-oT7\n"
    "  pixel   r0-r31 v0-v1 t0-t7 s0-s15 c0-c31 oC0\n"
    "A destination may take a write mask (.x .xy .xz ... in xyzw order); a source a\n"
    "leading '-' and a swizzle of one to four of x y z w (the last one repeats:\n"
    ".xy is .xyyy). A vertex program reads constants relative to the address\n"
    "register as c[a0.x + N] (vs_1_1 only through a0.x). Declarations and\n"
    "constants:\n"
    "  dcl_position[N] v#   also dcl_normal, dcl_color, dcl_texcoord, dcl_blendweight\n"
    "  dcl t#  dcl v#       pixel inputs (with an optional write mask)\n"
    "  dcl_2d s#  dcl_cube s#\n"
    "  def c#, X, Y, Z, W   decimal numbers, or a word's bits as 0x7FC00000\n"
    "  comment 0xWORD, ...  a comment token carrying the words\n"
    "\"shader asm IN OUT\" writes OUT by its extension: \".vsh_raw\" or \".psh_raw\"\n"
    "the one program, \".fx_raw\" both as n, n words, m, m words (a missing one\n"
    "as 0 words). \"shader dis FILE\" prints the program(s) of such a file in this\n"
    "form, the vertex one first, so that assembling it gives the same bytes.\n";

namespace {

constexpr uint32_t Version11 = 0x0101;
constexpr uint32_t Version20 = 0x0200;
constexpr uint32_t RegisterBit = 0x80000000u;
constexpr uint32_t RelativeBit = 0x2000;
constexpr uint32_t IdentitySwizzle = 0xE4;
constexpr uint32_t DclOpcode = static_cast<uint32_t>(GpuShaderOp::Dcl);
constexpr uint32_t DefOpcode = static_cast<uint32_t>(GpuShaderOp::Def);
constexpr uint32_t MaxCommentWords = 0x7FFF;

constexpr uint8_t InVertex = 1;
constexpr uint8_t InPixel = 2;

// Register files by their names in the source; longer names first, as names are matched by
// prefix.
struct RegisterName {
    const char* name;
    GpuShaderRegister type;
    uint8_t kinds;
    int32_t fixedIndex; // a name without a number (oPos, oFog) stands for this index; else -1
};

constexpr RegisterName RegisterNames[] = {
    {"oPos", GpuShaderRegister::RasterOut, InVertex, static_cast<int32_t>(GpuRasterOutPosition)},
    {"oFog", GpuShaderRegister::RasterOut, InVertex, static_cast<int32_t>(GpuRasterOutFog)},
    {"oD", GpuShaderRegister::AttrOut, InVertex, -1},
    {"oT", GpuShaderRegister::TexCoordOut, InVertex, -1},
    {"oC", GpuShaderRegister::ColorOut, InPixel, -1},
    {"r", GpuShaderRegister::Temp, InVertex | InPixel, -1},
    {"v", GpuShaderRegister::Input, InVertex | InPixel, -1},
    {"c", GpuShaderRegister::Const, InVertex | InPixel, -1},
    {"a", GpuShaderRegister::AddressOrTexture, InVertex, -1},
    {"t", GpuShaderRegister::AddressOrTexture, InPixel, -1},
    {"s", GpuShaderRegister::Sampler, InPixel, -1},
};

struct UsageName {
    const char* name;
    uint32_t code;
};

constexpr UsageName UsageNames[] = {
    {"position", static_cast<uint32_t>(GpuShaderUsage::Position)},
    {"blendweight", static_cast<uint32_t>(GpuShaderUsage::BlendWeight)},
    {"normal", static_cast<uint32_t>(GpuShaderUsage::Normal)},
    {"texcoord", static_cast<uint32_t>(GpuShaderUsage::TexCoord)},
    {"color", static_cast<uint32_t>(GpuShaderUsage::Color)},
};

constexpr char Components[] = "xyzw";

uint8_t KindBit(GpuShaderKind kind) {
    return kind == GpuShaderKind::Vertex ? InVertex : InPixel;
}

// 'text', for error lines. (Built by appending: GCC 12 warns wrongly on "'" + std::string.)
std::string Quoted(std::string_view text) {
    std::string quoted(1, '\'');
    quoted += text;
    quoted += '\'';
    return quoted;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (ToLowerAscii(text[i]) != ToLowerAscii(prefix[i])) {
            return false;
        }
    }
    return true;
}

// A whole run of decimal digits; false for none or for anything after them.
bool ParseIndex(std::string_view text, uint32_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty() &&
           IsDigit(text.front());
}

bool ParseHexWord(std::string_view text, uint32_t& value) {
    if (!StartsWithNoCase(text, "0x") || text.size() == 2) {
        return false;
    }
    text.remove_prefix(2);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return error == std::errc() && end == text.data() + text.size();
}

int ComponentOf(char letter) {
    switch (ToLowerAscii(letter)) {
    case 'x':
    case 'r':
        return 0;
    case 'y':
    case 'g':
        return 1;
    case 'z':
    case 'b':
        return 2;
    case 'w':
    case 'a':
        return 3;
    default:
        return -1;
    }
}

struct Operand {
    bool negate = false;
    GpuShaderRegister type = GpuShaderRegister::Temp;
    uint32_t index = 0;
    bool relative = false;
    uint32_t relativeComponent = 0;
    std::string_view suffix; // the letters after '.'
    bool dotted = false;
};

class Assembler {
public:
    Assembler(AssembledShaders& out, std::string& error) : out_(out), error_(error) {}

    bool Run(std::string_view source);

private:
    bool Fail(const std::string& what) {
        error_ = "line " + std::to_string(line_) + ": " + what;
        return false;
    }

    bool Line(std::string_view text);
    bool StartProgram(std::string_view word);
    bool FinishProgram();
    bool Instruction(std::string_view mnemonic, const std::vector<std::string_view>& operands);
    bool Declaration(std::string_view mnemonic, const std::vector<std::string_view>& operands);
    bool Definition(const std::vector<std::string_view>& operands);
    bool Comment(const std::vector<std::string_view>& operands);

    bool ParseOperand(std::string_view text, Operand& operand);
    bool ParseRelative(std::string_view inside, Operand& operand);
    bool CheckRange(const Operand& operand, std::string_view text, bool destination);
    bool WriteMask(const Operand& operand, std::string_view text, uint32_t& mask);
    bool Dest(std::string_view text, bool readOnly, bool saturate);
    bool Source(std::string_view text);

    AssembledShaders& out_;
    std::string& error_;
    uint32_t line_ = 0;
    std::vector<uint32_t>* program_ = nullptr;
    GpuShaderKind kind_ = GpuShaderKind::Vertex;
    uint32_t version_ = 0;
    uint32_t programLine_ = 0;
};

bool Assembler::Run(std::string_view source) {
    out_ = AssembledShaders{};
    while (!source.empty() || line_ == 0) {
        ++line_;
        const size_t end = source.find('\n');
        std::string_view text = source.substr(0, end);
        source.remove_prefix(end == std::string_view::npos ? source.size() : end + 1);
        text = text.substr(0, std::min(text.find(';'), text.find("//")));
        if (!Line(Trim(text))) {
            return false;
        }
    }
    return FinishProgram();
}

bool Assembler::Line(std::string_view text) {
    if (text.empty()) {
        return true;
    }
    size_t blank = 0;
    while (blank < text.size() && !IsBlank(text[blank])) {
        ++blank;
    }
    const std::string_view mnemonic = text.substr(0, blank);
    std::vector<std::string_view> operands;
    std::string_view rest = Trim(text.substr(blank));
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        operands.push_back(Trim(rest.substr(0, comma)));
        if (operands.back().empty()) {
            return Fail("empty operand");
        }
        if (comma == std::string_view::npos) {
            break;
        }
        rest = rest.substr(comma + 1);
        if (Trim(rest).empty()) {
            return Fail("empty operand");
        }
    }
    if (mnemonic == "vs_1_1" || mnemonic == "vs_2_0" || mnemonic == "ps_2_0") {
        if (!operands.empty()) {
            return Fail("a version line takes no operands");
        }
        return StartProgram(mnemonic);
    }
    if (program_ == nullptr) {
        return Fail(Quoted(mnemonic) + " before the version line");
    }
    return Instruction(mnemonic, operands);
}

bool Assembler::StartProgram(std::string_view word) {
    if (!FinishProgram()) {
        return false;
    }
    const bool vertex = word[0] == 'v';
    kind_ = vertex ? GpuShaderKind::Vertex : GpuShaderKind::Pixel;
    version_ = word == "vs_1_1" ? Version11 : Version20;
    program_ = vertex ? &out_.vertex : &out_.pixel;
    if (!program_->empty()) {
        return Fail(vertex ? "a second vertex program" : "a second pixel program");
    }
    programLine_ = line_;
    program_->push_back((vertex ? GpuVertexShaderVersionBase : GpuPixelShaderVersionBase) |
                        version_);
    return true;
}

// Ends the open program and has the decoder read it, so whatever the assembler writes loads.
bool Assembler::FinishProgram() {
    if (program_ == nullptr) {
        return true;
    }
    program_->push_back(GpuShaderEndToken);
    std::vector<uint8_t> bytes(program_->size() * 4);
    for (size_t i = 0; i < program_->size(); ++i) {
        WriteLittleEndian32(bytes.data() + i * 4, (*program_)[i]);
    }
    GpuShaderProgram decoded;
    std::string reason;
    if (!DecodeShaderProgram(bytes, kind_, decoded, reason)) {
        error_ = "line " + std::to_string(programLine_) + ": the program does not load: " + reason;
        return false;
    }
    program_ = nullptr;
    return true;
}

bool Assembler::Instruction(std::string_view mnemonic,
                            const std::vector<std::string_view>& operands) {
    if (mnemonic == "dcl" || mnemonic.starts_with("dcl_")) {
        return Declaration(mnemonic, operands);
    }
    if (mnemonic == "def") {
        return Definition(operands);
    }
    if (mnemonic == "comment") {
        return Comment(operands);
    }
    std::string_view name = mnemonic;
    const bool saturate = name.ends_with("_sat");
    if (saturate) {
        name.remove_suffix(4);
    }
    uint32_t control = 0;
    if (name == "texldp" || name == "texldb") {
        control = name == "texldp" ? GpuShaderTexProject : GpuShaderTexBias;
        name = "texld";
    }
    const GpuShaderOpcodeInfo* info = FindShaderOpcode(name, kind_, version_);
    if (info == nullptr) {
        return Fail("unknown instruction " + Quoted(mnemonic) + " in this version");
    }
    if (operands.size() != 1u + info->sourceCount) {
        return Fail(Quoted(mnemonic) + " takes " + std::to_string(1 + info->sourceCount) +
                    " operands");
    }
    const size_t start = program_->size();
    program_->push_back(static_cast<uint32_t>(info->op) | control << 16);
    if (!Dest(operands[0], info->op == GpuShaderOp::TexKill, saturate)) {
        return false;
    }
    for (size_t i = 1; i < operands.size(); ++i) {
        if (!Source(operands[i])) {
            return false;
        }
    }
    if (version_ >= Version20) {
        (*program_)[start] |= static_cast<uint32_t>(program_->size() - start - 1) << 24;
    }
    return true;
}

bool Assembler::Declaration(std::string_view mnemonic,
                            const std::vector<std::string_view>& operands) {
    if (operands.size() != 1) {
        return Fail(Quoted(mnemonic) + " takes 1 operand");
    }
    Operand operand;
    if (!ParseOperand(operands[0], operand) || !CheckRange(operand, operands[0], false)) {
        return false;
    }
    if (operand.negate || operand.relative) {
        return Fail("bad operand " + Quoted(operands[0]));
    }
    uint32_t mask = 0;
    if (!WriteMask(operand, operands[0], mask)) {
        return false;
    }
    const std::string_view kind = mnemonic.substr(std::min<size_t>(4, mnemonic.size()));
    uint32_t usage = RegisterBit;
    bool fits = false;
    if (kind == "2d" || kind == "cube") {
        usage |= (kind == "2d" ? static_cast<uint32_t>(GpuSamplerType::Texture2D)
                               : static_cast<uint32_t>(GpuSamplerType::Cube))
                 << 27;
        fits = operand.type == GpuShaderRegister::Sampler;
    } else if (mnemonic == "dcl") {
        fits =
            kind_ == GpuShaderKind::Pixel && (operand.type == GpuShaderRegister::Input ||
                                              operand.type == GpuShaderRegister::AddressOrTexture);
    } else {
        const UsageName* found = nullptr;
        for (const UsageName& usageName : UsageNames) {
            if (kind.starts_with(usageName.name)) {
                found = &usageName;
            }
        }
        uint32_t usageIndex = 0;
        const std::string_view number =
            found != nullptr ? kind.substr(std::string_view(found->name).size()) : kind;
        if (found == nullptr || (!number.empty() && !ParseIndex(number, usageIndex)) ||
            usageIndex > 15) {
            return Fail("unknown declaration " + Quoted(mnemonic));
        }
        usage |= found->code | usageIndex << 16;
        fits = kind_ == GpuShaderKind::Vertex && operand.type == GpuShaderRegister::Input;
    }
    if (!fits) {
        return Fail(Quoted(mnemonic) + " cannot declare " + Quoted(operands[0]));
    }
    program_->push_back(DclOpcode | (version_ >= Version20 ? 2u << 24 : 0u));
    program_->push_back(usage);
    program_->push_back(GpuShaderRegisterToken(operand.type, operand.index) | mask << 16);
    return true;
}

bool Assembler::Definition(const std::vector<std::string_view>& operands) {
    if (operands.size() != 5) {
        return Fail("'def' takes 5 operands");
    }
    Operand operand;
    if (!ParseOperand(operands[0], operand) || !CheckRange(operand, operands[0], false)) {
        return false;
    }
    if (operand.type != GpuShaderRegister::Const || operand.negate || operand.relative ||
        operand.dotted) {
        return Fail("'def' defines a constant register, not " + Quoted(operands[0]));
    }
    program_->push_back(DefOpcode | (version_ >= Version20 ? 5u << 24 : 0u));
    program_->push_back(GpuShaderRegisterToken(operand.type, operand.index) | 0xFu << 16);
    for (size_t i = 1; i < operands.size(); ++i) {
        const std::string_view text = operands[i];
        uint32_t bits = 0;
        float value = 0.0f;
        if (!ParseHexWord(text, bits)) {
            const auto [end, error] =
                std::from_chars(text.data(), text.data() + text.size(), value);
            if (error != std::errc() || end != text.data() + text.size()) {
                return Fail("bad number " + Quoted(text));
            }
            bits = std::bit_cast<uint32_t>(value);
        }
        program_->push_back(bits);
    }
    return true;
}

bool Assembler::Comment(const std::vector<std::string_view>& operands) {
    if (operands.size() > MaxCommentWords) {
        return Fail("a comment holds at most 32767 words");
    }
    program_->push_back(GpuShaderCommentOpcode | static_cast<uint32_t>(operands.size()) << 16);
    for (const std::string_view text : operands) {
        uint32_t word = 0;
        if (!ParseHexWord(text, word)) {
            return Fail("bad comment word " + Quoted(text));
        }
        program_->push_back(word);
    }
    return true;
}

bool Assembler::ParseOperand(std::string_view text, Operand& operand) {
    const std::string quoted = Quoted(text);
    std::string_view rest = text;
    if (!rest.empty() && rest.front() == '-') {
        operand.negate = true;
        rest = Trim(rest.substr(1));
    }
    const RegisterName* name = nullptr;
    for (const RegisterName& candidate : RegisterNames) {
        if ((candidate.kinds & KindBit(kind_)) != 0 && StartsWithNoCase(rest, candidate.name)) {
            name = &candidate;
            break;
        }
    }
    if (name == nullptr) {
        return Fail("unknown register " + quoted);
    }
    rest.remove_prefix(std::string_view(name->name).size());
    operand.type = name->type;
    const size_t dot = rest.find('.');
    std::string_view reference = rest.substr(0, dot);
    if (dot != std::string_view::npos && !reference.empty() && reference.front() == '[') {
        // The dot inside "[a0.x + 4]" belongs to the address register.
        const size_t close = rest.find(']');
        reference = rest.substr(0, close == std::string_view::npos ? rest.size() : close + 1);
    }
    if (reference.size() < rest.size()) {
        if (rest[reference.size()] != '.') {
            return Fail("bad operand " + quoted);
        }
        operand.dotted = true;
        operand.suffix = rest.substr(reference.size() + 1);
    }
    if (name->fixedIndex >= 0) {
        operand.index = static_cast<uint32_t>(name->fixedIndex);
        if (!reference.empty()) {
            return Fail("bad operand " + quoted);
        }
    } else if (!reference.empty() && reference.front() == '[') {
        if (reference.back() != ']' ||
            !ParseRelative(reference.substr(1, reference.size() - 2), operand)) {
            return Fail("bad relative address " + quoted);
        }
        if (kind_ != GpuShaderKind::Vertex || operand.type != GpuShaderRegister::Const) {
            return Fail("only a vertex program's constants take a relative address: " + quoted);
        }
        if (version_ == Version11 && operand.relativeComponent != 0) {
            return Fail("vs_1_1 addresses constants through a0.x only: " + quoted);
        }
    } else if (!ParseIndex(reference, operand.index)) {
        return Fail("bad operand " + quoted);
    }
    return true;
}

// "a0.x", "a0.x + 4" or "a0.x+4".
bool Assembler::ParseRelative(std::string_view inside, Operand& operand) {
    inside = Trim(inside);
    if (inside.size() < 4 || !StartsWithNoCase(inside, "a0.")) {
        return false;
    }
    const int component = ComponentOf(inside[3]);
    if (component < 0) {
        return false;
    }
    operand.relative = true;
    operand.relativeComponent = static_cast<uint32_t>(component);
    std::string_view rest = Trim(inside.substr(4));
    if (rest.empty()) {
        operand.index = 0;
        return true;
    }
    return rest.front() == '+' && ParseIndex(Trim(rest.substr(1)), operand.index);
}

bool Assembler::CheckRange(const Operand& operand, std::string_view text, bool destination) {
    if (operand.index >= GpuShaderRegisterCount(kind_, operand.type, destination)) {
        return Fail((destination ? "cannot write " : "register out of range ") + Quoted(text));
    }
    return true;
}

bool Assembler::WriteMask(const Operand& operand, std::string_view text, uint32_t& mask) {
    if (!operand.dotted) {
        mask = 0xF;
        return true;
    }
    mask = 0;
    int last = -1;
    for (const char letter : operand.suffix) {
        const int component = ComponentOf(letter);
        if (component <= last) {
            return Fail("bad write mask " + Quoted(text));
        }
        mask |= 1u << component;
        last = component;
    }
    return mask != 0 || Fail("bad write mask " + Quoted(text));
}

bool Assembler::Dest(std::string_view text, bool readOnly, bool saturate) {
    Operand operand;
    uint32_t mask = 0;
    if (!ParseOperand(text, operand) || !CheckRange(operand, text, !readOnly) ||
        !WriteMask(operand, text, mask)) {
        return false;
    }
    if (operand.negate || operand.relative) {
        return Fail("bad destination " + Quoted(text));
    }
    program_->push_back(GpuShaderRegisterToken(operand.type, operand.index) | mask << 16 |
                        (saturate ? 1u << 20 : 0u));
    return true;
}

bool Assembler::Source(std::string_view text) {
    Operand operand;
    if (!ParseOperand(text, operand) || !CheckRange(operand, text, false)) {
        return false;
    }
    uint32_t swizzle = IdentitySwizzle;
    if (operand.dotted) {
        if (operand.suffix.empty() || operand.suffix.size() > 4) {
            return Fail("bad swizzle " + Quoted(text));
        }
        swizzle = 0;
        for (size_t i = 0; i < 4; ++i) {
            const int component =
                ComponentOf(operand.suffix[std::min(i, operand.suffix.size() - 1)]);
            if (component < 0) {
                return Fail("bad swizzle " + Quoted(text));
            }
            swizzle |= static_cast<uint32_t>(component) << (2 * i);
        }
    }
    program_->push_back(GpuShaderRegisterToken(operand.type, operand.index) | swizzle << 16 |
                        (operand.negate ? 1u << 24 : 0u) | (operand.relative ? RelativeBit : 0u));
    if (operand.relative && version_ >= Version20) {
        program_->push_back(GpuShaderRegisterToken(GpuShaderRegister::AddressOrTexture, 0) |
                            operand.relativeComponent * 0x55u << 16);
    }
    return true;
}

// Prints a decoded stream's words in order; the decoder has checked every one of them.
class Disassembler {
public:
    Disassembler(const GpuShaderProgram& program, std::string& text)
        : program_(program), words_(program.tokens), text_(text) {}

    void Run();

private:
    void Print(const char* format, ...) QUARN_PRINTF(2, 3);
    void Register(uint32_t token);
    void Dest(uint32_t token);
    void Source();
    void Number(uint32_t bits);

    const GpuShaderProgram& program_;
    const std::vector<uint32_t>& words_;
    std::string& text_;
    size_t at_ = 0;
};

void Disassembler::Print(const char* format, ...) {
    char line[64];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    text_ += line;
}

void Disassembler::Register(uint32_t token) {
    const GpuShaderRegister type = GpuShaderTokenRegister(token);
    const uint32_t index = token & 0x7FF;
    for (const RegisterName& name : RegisterNames) {
        if ((name.kinds & KindBit(program_.kind)) == 0 || name.type != type) {
            continue;
        }
        if (name.fixedIndex < 0) {
            Print("%s%u", name.name, index);
            return;
        }
        if (static_cast<uint32_t>(name.fixedIndex) == index) {
            text_ += name.name;
            return;
        }
    }
}

void Disassembler::Dest(uint32_t token) {
    Register(token);
    const uint32_t mask = (token >> 16) & 0xF;
    if (mask != 0xF) {
        text_ += '.';
        for (int c = 0; c < 4; ++c) {
            if ((mask & 1u << c) != 0) {
                text_ += Components[c];
            }
        }
    }
}

void Disassembler::Source() {
    const uint32_t token = words_[at_++];
    text_ += ", ";
    if (((token >> 24) & 0xF) == static_cast<uint32_t>(GpuShaderSourceModifier::Negate)) {
        text_ += '-';
    }
    if ((token & RelativeBit) != 0) {
        uint32_t component = 0;
        if (program_.version >= Version20) {
            component = (words_[at_++] >> 16) & 0x3;
        }
        const uint32_t index = token & 0x7FF;
        Print(index != 0 ? "c[a0.%c + %u]" : "c[a0.%c]", Components[component], index);
    } else {
        Register(token);
    }
    uint8_t swizzle[4];
    for (int i = 0; i < 4; ++i) {
        swizzle[i] = static_cast<uint8_t>((token >> (16 + 2 * i)) & 0x3);
    }
    if (((token >> 16) & 0xFF) == IdentitySwizzle) {
        return;
    }
    // The source form repeats the last letter, so repeats at the end need not be written.
    int length = 4;
    while (length > 1 && swizzle[length - 1] == swizzle[length - 2]) {
        --length;
    }
    text_ += '.';
    for (int i = 0; i < length; ++i) {
        text_ += Components[swizzle[i]];
    }
}

void Disassembler::Number(uint32_t bits) {
    const float value = std::bit_cast<float>(bits);
    if (!std::isfinite(value)) {
        Print(", 0x%08X", bits);
        return;
    }
    char number[32];
    const auto result = std::to_chars(number, number + sizeof number, value);
    text_ += ", ";
    text_.append(number, result.ptr);
}

void Disassembler::Run() {
    const bool vertex = program_.kind == GpuShaderKind::Vertex;
    Print("%s_%u_%u\n", vertex ? "vs" : "ps", program_.version >> 8, program_.version & 0xFF);
    at_ = 1;
    while (words_[at_] != GpuShaderEndToken) {
        const uint32_t token = words_[at_++];
        const uint32_t opcode = token & 0xFFFF;
        if (opcode == GpuShaderCommentOpcode) {
            text_ += "comment";
            const uint32_t length = (token >> 16) & 0x7FFF;
            for (uint32_t i = 0; i < length; ++i) {
                Print(i == 0 ? " 0x%08X" : ", 0x%08X", words_[at_++]);
            }
        } else if (opcode == DclOpcode) {
            const uint32_t usage = words_[at_++];
            const uint32_t reg = words_[at_++];
            const GpuShaderRegister type = GpuShaderTokenRegister(reg);
            text_ += "dcl";
            if (type == GpuShaderRegister::Sampler) {
                const uint32_t samplerType = (usage >> 27) & 0xF;
                text_ +=
                    samplerType == static_cast<uint32_t>(GpuSamplerType::Cube) ? "_cube" : "_2d";
            } else if (vertex) {
                for (const UsageName& name : UsageNames) {
                    if (name.code == (usage & 0x1F)) {
                        Print("_%s", name.name);
                    }
                }
                if (const uint32_t usageIndex = (usage >> 16) & 0xF; usageIndex != 0) {
                    Print("%u", usageIndex);
                }
            }
            text_ += ' ';
            Dest(reg);
        } else if (opcode == DefOpcode) {
            text_ += "def ";
            Register(words_[at_++]);
            for (int i = 0; i < 4; ++i) {
                Number(words_[at_++]);
            }
        } else {
            const GpuShaderOpcodeInfo* info =
                FindShaderOpcode(opcode, program_.kind, program_.version);
            const uint32_t control = (token >> 16) & 0xFF;
            text_ += info->name;
            if (info->op == GpuShaderOp::Tex && control != 0) {
                text_ += control == GpuShaderTexProject ? "p" : "b";
            }
            const uint32_t dest = words_[at_++];
            if ((dest & 1u << 20) != 0) {
                text_ += "_sat";
            }
            text_ += ' ';
            Dest(dest);
            for (uint32_t i = 0; i < info->sourceCount; ++i) {
                Source();
            }
        }
        text_ += '\n';
    }
}

// Disassembles one stream and proves the text by assembling it again: a word the source form
// cannot state (a reserved bit, a modifier the subset ignores) names the first that differs.
bool DisassembleProgram(std::span<const uint8_t> stream, GpuShaderKind kind, std::string& text,
                        std::string& error, uint32_t& wordCount) {
    GpuShaderProgram program;
    if (!DecodeShaderProgram(stream, kind, program, error)) {
        return false;
    }
    std::string printed;
    Disassembler(program, printed).Run();
    AssembledShaders again;
    std::string reason;
    const bool assembled = AssembleShaders(printed, again, reason);
    const std::vector<uint32_t>& words = kind == GpuShaderKind::Vertex ? again.vertex : again.pixel;
    for (size_t i = 0; i < program.tokens.size(); ++i) {
        if (!assembled || words.size() != program.tokens.size() || words[i] != program.tokens[i]) {
            char line[96];
            std::snprintf(line, sizeof line, "unsupported encoding 0x%08X at word %zu",
                          program.tokens[i], i);
            error = line;
            return false;
        }
    }
    text += printed;
    wordCount = static_cast<uint32_t>(program.tokens.size());
    return true;
}

std::string WordError(const char* what, uint64_t word) {
    return std::string(what) + " at word " + std::to_string(word);
}

} // namespace

bool AssembleShaders(std::string_view source, AssembledShaders& out, std::string& error) {
    return Assembler(out, error).Run(source);
}

bool DisassembleShader(std::span<const uint8_t> stream, GpuShaderKind kind, std::string& text,
                       std::string& error) {
    uint32_t wordCount = 0;
    return DisassembleProgram(stream, kind, text, error, wordCount);
}

bool ShaderFileBytes(const AssembledShaders& shaders, std::string_view extension,
                     std::vector<uint8_t>& bytes, std::string& error) {
    const std::string ext(extension);
    std::vector<uint32_t> words;
    if (CompareNoCase(ext.c_str(), "fx_raw") == 0) {
        words.push_back(static_cast<uint32_t>(shaders.vertex.size()));
        words.insert(words.end(), shaders.vertex.begin(), shaders.vertex.end());
        words.push_back(static_cast<uint32_t>(shaders.pixel.size()));
        words.insert(words.end(), shaders.pixel.begin(), shaders.pixel.end());
    } else if (CompareNoCase(ext.c_str(), "vsh_raw") == 0) {
        if (shaders.vertex.empty() || !shaders.pixel.empty()) {
            error = "a \".vsh_raw\" file holds one vertex program and nothing else";
            return false;
        }
        words = shaders.vertex;
    } else if (CompareNoCase(ext.c_str(), "psh_raw") == 0) {
        if (shaders.pixel.empty() || !shaders.vertex.empty()) {
            error = "a \".psh_raw\" file holds one pixel program and nothing else";
            return false;
        }
        words = shaders.pixel;
    } else {
        error = "unknown shader file extension \"" + ext + "\"";
        return false;
    }
    bytes.assign(words.size() * 4, 0);
    for (size_t i = 0; i < words.size(); ++i) {
        WriteLittleEndian32(bytes.data() + i * 4, words[i]);
    }
    return true;
}

bool DisassembleShaderFile(std::span<const uint8_t> bytes, std::string_view extension,
                           std::string& text, std::string& error) {
    const std::string ext(extension);
    uint32_t wordCount = 0;
    const bool vertexFile = CompareNoCase(ext.c_str(), "vsh_raw") == 0;
    if (vertexFile || CompareNoCase(ext.c_str(), "psh_raw") == 0) {
        if (!DisassembleProgram(bytes, vertexFile ? GpuShaderKind::Vertex : GpuShaderKind::Pixel,
                                text, error, wordCount)) {
            return false;
        }
        if (bytes.size() != static_cast<size_t>(wordCount) * 4) {
            error = WordError("data after the end token", wordCount);
            return false;
        }
        return true;
    }
    if (CompareNoCase(ext.c_str(), "fx_raw") != 0) {
        error = "unknown shader file extension \"" + ext + "\"";
        return false;
    }
    // Word numbers count from the file's start; a program's own errors count from its start.
    uint64_t at = 0;
    const uint64_t size = bytes.size();
    const struct {
        GpuShaderKind kind;
        const char* name;
    } programs[] = {{GpuShaderKind::Vertex, "vertex program"},
                    {GpuShaderKind::Pixel, "pixel program"}};
    for (const auto& program : programs) {
        if (at * 4 + 4 > size) {
            error =
                WordError(program.kind == GpuShaderKind::Vertex ? "missing vertex program length"
                                                                : "missing pixel program length",
                          at);
            return false;
        }
        const uint64_t length = ReadLittleEndian32(bytes.data() + at * 4);
        if ((at + 1 + length) * 4 > size) {
            error = WordError("program length past the end of the file", at);
            return false;
        }
        if (length > 0) {
            if (!text.empty()) {
                text += '\n';
            }
            if (!DisassembleProgram(bytes.subspan((at + 1) * 4, length * 4), program.kind, text,
                                    error, wordCount)) {
                error = std::string(program.name) + ": " + error;
                return false;
            }
            if (wordCount != length) {
                error = std::string(program.name) + ": " +
                        WordError("data after the end token", wordCount);
                return false;
            }
        }
        at += 1 + length;
    }
    if (at * 4 != size) {
        error = WordError("data after the container", at);
        return false;
    }
    return true;
}

} // namespace quarn
