#pragma once

#include <cstddef>
#include <cstdint>

namespace quarn {

// Error codes of the decompressor; they share one numbering with the image decoder's.
enum InflateError : uint32_t {
    kInflateOk = 0,
    kInflateSymbolTruncated = 10, // input ended inside a Huffman symbol
    kInflateBadSymbol = 11,       // a bit path that is no code of the table
    kInflateBackReferenceBeforeStart = 12,
    kInflateRepeat16PastEnd = 13, // code-length repeats running past the length list
    kInflateRepeat17PastEnd = 14,
    kInflateRepeat18PastEnd = 15,
    kInflateBadCodeLengthSymbol = 16,
    kInflateLiteralPastOutput = 17,
    kInflateBadDistanceCode = 18,
    kInflateCopyPastOutput = 19,
    kInflateBlockType3 = 20,
    kInflateStoredLengthMismatch = 21,
    kInflateStoredPastOutput = 22,
    kInflateStoredPastInput = 23,
    kInflateZlibHeaderCheck = 24,
    kInflateZlibMethod = 25, // method not 8 or window above 32 KB
    kInflateZlibDictionary = 26,
    kInflateDynamicHeaderTruncated = 49,
    kInflateRepeatBitsTruncated = 50,
    kInflateBlockTruncated = 51,  // input ended inside a compressed block
    kInflateHeaderTruncated = 52, // input ended before a block or stored header
    kInflateZlibTooShort = 53,
    kInflateRepeatWithoutPrevious = 54, // code-length repeat 16 as the first length
    kInflateBadCodeLengths = 55,        // lengths that over-subscribe the code space
    kInflateZlibChecksum = 58,
    kInflateNoEndCode = 64, // a dynamic block whose end code has length 0
};

// Decompresses a raw deflate stream into out[0, capacity). Never reads outside the input nor
// writes outside the output; data that does not fit is an error, not a truncation. `written`
// is the count produced, also on failure.
uint32_t Inflate(const uint8_t* input, size_t inputSize, uint8_t* out, size_t capacity,
                 size_t& written);

// The same for a zlib stream (header, deflate data, checksum of the output).
uint32_t ZlibDecompress(const uint8_t* input, size_t inputSize, uint8_t* out, size_t capacity,
                        size_t& written, bool ignoreChecksum = false);

} // namespace quarn
