#include "core/string/Utf8.h"

namespace quarn {
namespace {

constexpr uint32_t Replacement = 0xFFFD;

// The code of the well-formed sequence at `at` and its length; length 0 when there is none.
uint32_t DecodeOne(std::string_view text, size_t at, uint32_t& length) {
    const auto lead = static_cast<uint8_t>(text[at]);
    length = 0;
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    uint32_t count = 0;
    uint32_t code = 0;
    uint32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        count = 2, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        count = 3, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        count = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + count > text.size()) {
        return 0;
    }
    for (uint32_t i = 1; i < count; ++i) {
        const auto next = static_cast<uint8_t>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = code << 6 | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    length = count;
    return code;
}

} // namespace

DecodedText DecodeUtf8(std::string_view text) {
    DecodedText decoded;
    decoded.codes.reserve(text.size());
    decoded.offsets.reserve(text.size() + 1);
    for (size_t at = 0; at < text.size();) {
        uint32_t length = 0;
        const uint32_t code = DecodeOne(text, at, length);
        decoded.codes.push_back(length == 0 ? Replacement : code);
        decoded.offsets.push_back(static_cast<uint32_t>(at));
        at += length == 0 ? 1 : length;
    }
    decoded.offsets.push_back(static_cast<uint32_t>(text.size()));
    return decoded;
}

DecodedText DecodeBytes(std::string_view text) {
    DecodedText decoded;
    decoded.codes.reserve(text.size());
    decoded.offsets.reserve(text.size() + 1);
    for (size_t at = 0; at < text.size(); ++at) {
        decoded.codes.push_back(static_cast<uint8_t>(text[at]));
        decoded.offsets.push_back(static_cast<uint32_t>(at));
    }
    decoded.offsets.push_back(static_cast<uint32_t>(text.size()));
    return decoded;
}

void Utf8ToLatin1InPlace(std::string& text, char substitute) {
    uint32_t length = 0;
    for (size_t at = 0; at < text.size(); at += length) {
        DecodeOne(text, at, length);
        if (length == 0) {
            return;
        }
    }
    size_t written = 0;
    for (size_t at = 0; at < text.size(); at += length) {
        const uint32_t code = DecodeOne(text, at, length);
        text[written++] = code <= 0xFF ? static_cast<char>(code) : substitute;
    }
    text.resize(written);
}

} // namespace quarn
