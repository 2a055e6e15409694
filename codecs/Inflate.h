#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quarn {

// Error codes of the decompressor; they share one numbering with the image decoder's.
enum InflateError : uint32_t {
    InflateOk = 0,
    InflateSymbolTruncated = 10, // input ended inside a Huffman symbol
    InflateBadSymbol = 11,       // a bit path that is no code of the table
    InflateBackReferenceBeforeStart = 12,
    InflateRepeat16PastEnd = 13, // code-length repeats running past the length list
    InflateRepeat17PastEnd = 14,
    InflateRepeat18PastEnd = 15,
    InflateBadCodeLengthSymbol = 16,
    InflateLiteralPastOutput = 17,
    InflateBadDistanceCode = 18,
    InflateCopyPastOutput = 19,
    InflateBlockType3 = 20,
    InflateStoredLengthMismatch = 21,
    InflateStoredPastOutput = 22,
    InflateStoredPastInput = 23,
    InflateZlibHeaderCheck = 24,
    InflateZlibMethod = 25, // method not 8 or window above 32 KB
    InflateZlibDictionary = 26,
    InflateDynamicHeaderTruncated = 49,
    InflateRepeatBitsTruncated = 50,
    InflateBlockTruncated = 51,  // input ended inside a compressed block
    InflateHeaderTruncated = 52, // input ended before a block or stored header
    InflateZlibTooShort = 53,
    InflateRepeatWithoutPrevious = 54, // code-length repeat 16 as the first length
    InflateBadCodeLengths = 55,        // lengths that over-subscribe the code space
    InflateZlibChecksum = 58,
    InflateNoEndCode = 64, // a dynamic block whose end code has length 0
};

// Decompresses a raw deflate stream into out[0, capacity). Never reads outside the input nor
// writes outside the output; data that does not fit is an error, not a truncation. `written`
// is the count produced, also on failure.
uint32_t Inflate(const uint8_t* input, size_t inputSize, uint8_t* out, size_t capacity,
                 size_t& written);

// The same for a zlib stream (header, deflate data, checksum of the output).
uint32_t ZlibDecompress(const uint8_t* input, size_t inputSize, uint8_t* out, size_t capacity,
                        size_t& written, bool ignoreChecksum = false);

// A piece of a compressed stream that lies in several, as a PNG's image data does in chunks.
struct InflateInput {
    const uint8_t* data;
    size_t size;
};

// A zlib stream read from its pieces in turn, without joining them.
uint32_t ZlibDecompress(std::span<const InflateInput> pieces, uint8_t* out, size_t capacity,
                        size_t& written, bool ignoreChecksum = false);

} // namespace quarn
