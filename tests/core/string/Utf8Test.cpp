#include "core/string/Utf8.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

// The HTTP reply as it was made through the decoded characters: UTF-8 unless some U+FFFD
// stands for a broken sequence rather than a written one, then one byte per character.
std::string DecodedLatin1(std::string_view text) {
    DecodedText decoded = DecodeUtf8(text);
    for (size_t i = 0; i < decoded.Size(); ++i) {
        if (decoded.codes[i] == 0xFFFD && decoded.offsets[i + 1] - decoded.offsets[i] != 3) {
            decoded = DecodeBytes(text);
            break;
        }
    }
    std::string bytes;
    for (uint32_t code : decoded.codes) {
        bytes.push_back(code <= 0xFF ? static_cast<char>(code) : '?');
    }
    return bytes;
}

TEST(Utf8ToLatin1InPlace, GivesTheBytesTheDecodedCharactersGave) {
    const std::string cases[] = {
        "",
        "plain",
        "caf\xC3\xA9 \xC3\xBF",             // Latin-1 written in UTF-8
        "\xE2\x82\xAC 5 \xF0\x9F\x98\x80!", // past Latin-1
        "a\xEF\xBF\xBD",                    // a written U+FFFD
        "caf\xE9 \xFF\x80",                 // not UTF-8: stays
        "\xC3\xA9\xC3",                     // cut at the end
        "\xC0\xAF",                         // overlong
        "\xED\xA0\x80",                     // a surrogate
        "\xF4\x90\x80\x80",                 // past U+10FFFF
        std::string("a\0\xC3\xA9", 4),      // zero bytes
    };
    for (const std::string& text : cases) {
        std::string converted = text;
        Utf8ToLatin1InPlace(converted, '?');
        EXPECT_EQ(converted, DecodedLatin1(text)) << testing::PrintToString(text);
    }
    // Short texts drawn from the bytes that start, continue and break sequences.
    const unsigned char alphabet[] = {'a',  0x80, 0x9F, 0xA9, 0xBF, 0xBD, 0xC0, 0xC2, 0xC3,
                                      0xDF, 0xE0, 0xE2, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    uint32_t seed = 12345;
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        seed = seed * 1103515245u + 12345u;
        for (uint32_t length = seed >> 28; length > 0; --length) {
            seed = seed * 1103515245u + 12345u;
            text.push_back(static_cast<char>(alphabet[(seed >> 16) % sizeof alphabet]));
        }
        std::string converted = text;
        Utf8ToLatin1InPlace(converted, '?');
        ASSERT_EQ(converted, DecodedLatin1(text)) << testing::PrintToString(text);
    }
}

} // namespace
} // namespace quarn
