// The tokenizer over memory (bytes as they are) and over a text (bytes sign-extended), with a
// table of keywords and operators, then the line and skipping reads.
#include "core/io/Tokenizer.h"

#include "core/io/BufferFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

const quarn::TokenTable& Table() {
    static const quarn::TokenTable table = [] {
        quarn::TokenTable built;
        int32_t id = 256;
        for (const char* text : {"obj", "class", "==", "<<=", "<<", "<", "=", "{", "}", "->"}) {
            built.Add(id++, text);
        }
        return built;
    }();
    return table;
}

// Every token but the end takes at least one byte, so the end must come within size + 1 tokens.
void ReadAll(quarn::File& file, quarn::Tokenizer& tokenizer, size_t size) {
    size_t count = 0;
    while (tokenizer.Next(file) != quarn::TokenEnd) {
        if (++count > size + 1) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX - 1) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    {
        quarn::BufferFile file(data, uint32_t(size));
        quarn::Tokenizer tokenizer(&Table());
        ReadAll(file, tokenizer, size);
    }
    {
        quarn::TextFile file(text.c_str());
        quarn::Tokenizer tokenizer;
        ReadAll(file, tokenizer, size);
    }
    {
        quarn::BufferFile file(data, uint32_t(size));
        quarn::Tokenizer tokenizer(&Table());
        std::string line;
        size_t count = 0;
        while (tokenizer.ReadLineSkippingComments(line, file)) {
            if (++count > size + 1) {
                std::abort();
            }
        }
    }
    {
        quarn::BufferFile file(data, uint32_t(size));
        quarn::Tokenizer tokenizer;
        size_t count = 0;
        while (tokenizer.SkipTo(file, "}\n") != quarn::TokenEnd) {
            if (++count > size + 1) {
                std::abort();
            }
        }
    }
    return 0;
}
