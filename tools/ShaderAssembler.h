#pragma once

// The assembler and disassembler of shader token streams, in the usual assembly mnemonics of
// the subset the GPU layer runs. The engine's embedded shaders are written by it; the
// disassembler prints a stream so that assembling the text gives the same words.

#include "gpu/ShaderProgram.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

// The programs of one source, each the stream's words through its end token; a program the
// source does not have is empty.
struct AssembledShaders {
    std::vector<uint32_t> vertex;
    std::vector<uint32_t> pixel;
};

// The source form, as `quarn-tool shader syntax` prints it.
extern const char* const ShaderSourceSyntax;

// On failure `error` is one line naming the source line ("line 4: unknown instruction 'mvo'").
bool AssembleShaders(std::string_view source, AssembledShaders& out, std::string& error);

// Prints the stream at the start of `stream` as a program of `kind`; a stream the decoder
// refuses, or one whose words the source form cannot state, fails with one line naming the
// word ("unsupported opcode 0x28 at word 1").
bool DisassembleShader(std::span<const uint8_t> stream, GpuShaderKind kind, std::string& text,
                       std::string& error);

// The bytes of a shader file by its extension ("vsh_raw", "psh_raw", "fx_raw"): the one program
// the extension holds, or an "fx_raw" container (n, n words, m, m words) of both, either empty.
bool ShaderFileBytes(const AssembledShaders& shaders, std::string_view extension,
                     std::vector<uint8_t>& bytes, std::string& error);

// The source of a shader file by its extension; it assembles to the file's bytes exactly, so
// words after a stream's end token or after the container fail, naming the word.
bool DisassembleShaderFile(std::span<const uint8_t> bytes, std::string_view extension,
                           std::string& text, std::string& error);

} // namespace quarn
