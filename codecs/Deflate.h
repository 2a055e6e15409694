#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarn {

// How the compressor codes its data. The image encoder uses the defaults; the others exist for
// tests and for callers that trade size for speed.
struct DeflateSettings {
    uint32_t blockType = 2;     // 0 stored, 1 fixed codes, 2 dynamic codes
    bool useLz77 = true;        // false: every byte is a literal
    uint32_t windowSize = 2048; // bytes a back-reference may reach; the search is bounded by it
};

// Error words shared with the image encoder.
enum DeflateError : uint32_t {
    DeflateWindowTooLarge = 60, // window above 32768
    DeflateBadBlockType = 61,   // block type above 2
};

// Appends a zlib stream (header, deflate data, checksum) of `data` to `out`. Returns 0 or a
// DeflateError; on an error nothing is appended.
uint32_t ZlibCompress(std::vector<uint8_t>& out, const uint8_t* data, size_t size,
                      const DeflateSettings& settings);

// Appends the raw deflate data of `data` to `out`, with the same errors.
uint32_t DeflateCompress(std::vector<uint8_t>& out, const uint8_t* data, size_t size,
                         const DeflateSettings& settings);

// Code lengths for the given symbol frequencies, each at most `maxBits` long, minimising the
// coded size. Unused symbols get 0; a lone used symbol gets 1 so that it still has a code.
std::vector<uint8_t> LimitedCodeLengths(const std::vector<uint32_t>& frequencies, uint32_t maxBits);

} // namespace quarn
