// The script assembler with its type check, over every engine class: any text assembles or
// fails with a reason, whatever code its words make; what it takes, the loader's symbol reader
// takes too, source lines and all, unless the records themselves are out of place.
#include "app/ClassRegistration.h"
#include "script/machine/ScriptSymbols.h"
#include "tools/ScriptAssembler.h"
#include "tools/ScriptProgramBuilder.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) {
        return 0;
    }
    quarn::RegisterAllClasses();
    quarn::ScriptProgramBuilder builder;
    std::string error;
    quarn::ScriptAssemblyOptions options;
    options.sourceName = "fuzz.asm";
    options.checkTypes = true;
    if (!quarn::AssembleScript(std::string_view(reinterpret_cast<const char*>(data), size),
                               builder, error, options)) {
        if (error.empty()) {
            std::abort();
        }
        return 0;
    }
    quarn::ScriptCode code;
    quarn::ScriptSymbols symbols;
    if (!builder.Finish(code, symbols, error)) {
        std::abort();
    }
    quarn::ScriptSymbols read;
    if (!quarn::ReadScriptSymbols(quarn::WriteScriptSymbols(symbols),
                                  static_cast<uint32_t>(code.words.size()), read, error) &&
        error == "the source lines do not start at 0 and rise through the code") {
        std::abort();
    }
    return 0;
}
