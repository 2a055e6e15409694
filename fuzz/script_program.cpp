// Compiled script programs: the first two bytes (little-endian) give the length of the code
// file, the rest after it is the symbol file; both lie beside a source that is missing, as a
// program shipped compiled only. A program that loads with code saves back as both files, and
// loading those again saves the same bytes.
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "script/machine/ScriptResource.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// The program's files as the loader left its content, or empty strings without code.
std::pair<std::string, std::string> Saved(const quarn::ScriptResource& program) {
    if (!program.GetCode()) {
        return {};
    }
    quarn::ScriptCode code;
    code.header[0] = program.GetCodeHeader()[0];
    code.header[1] = program.GetCodeHeader()[1];
    code.stackSize = program.GetStackSize();
    code.words.assign(program.GetCode(), program.GetCode() + program.GetCodeSize());
    const std::vector<uint8_t> bin = quarn::WriteScriptCode(code);
    const std::vector<uint8_t> sym = quarn::WriteScriptSymbols(program.GetSymbols());
    return {std::string(bin.begin(), bin.end()), std::string(sym.begin(), sym.end())};
}

std::pair<std::string, std::string> LoadAndSave(const std::string& bin, const std::string& sym) {
    quarn::MemoryFileSystem files;
    quarn::FileSystem* previous = quarn::GetFileSystem();
    quarn::SetFileSystem(&files);
    files.Add("p.bin", bin);
    files.Add("p.sym", sym);
    quarn::ScriptResource* program = quarn::GetScriptResource("p.script");
    std::pair<std::string, std::string> saved = Saved(*program);
    program->Release();
    quarn::SetFileSystem(previous);
    return saved;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const size_t codeLength = std::min<size_t>(data[0] | data[1] << 8, size - 2);
    const std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    const auto first = LoadAndSave(bytes.substr(0, codeLength), bytes.substr(codeLength));
    if (first.first.empty()) {
        return 0;
    }
    if (LoadAndSave(first.first, first.second) != first) {
        std::abort();
    }
    return 0;
}
