#pragma once

#include <cstdint>
#include <string>
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

// Rewrites a text as Latin-1 bytes in place: read as UTF-8 when every byte belongs to a
// well-formed sequence (a written U+FFFD included), each character becomes its code's byte, or
// `substitute` past U+00FF; any other text already is its own Latin-1 and stays as it is. The
// text only shrinks, so a large body needs no second buffer.
void Utf8ToLatin1InPlace(std::string& text, char substitute);

} // namespace quarn
