#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace quarn {

// The characters of a text and the byte offset at which each starts; `offsets` holds one more
// entry, the text's length, so character i spans offsets[i] .. offsets[i + 1].
struct DecodedText {
    std::vector<uint32_t> codes;
    std::vector<uint32_t> offsets;

    size_t Size() const { return codes.size(); }
};

// UTF-8 to code points. A byte that does not start a well-formed sequence (a stray
// continuation, an overlong form, a surrogate, a value past U+10FFFF, a cut-off sequence)
// becomes one U+FFFD, and decoding goes on with the next byte.
DecodedText DecodeUtf8(std::string_view text);
// Each byte as the code 0-255 (Latin-1).
DecodedText DecodeBytes(std::string_view text);

} // namespace quarn
