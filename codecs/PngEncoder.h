#pragma once

#include "codecs/Deflate.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quarn {

// Writes 8-bit RGBA pixels as a PNG file: colour type 6, or 2 when every pixel is opaque and
// the alpha channel may be dropped; never interlaced; one filter per row.
class PngEncoder {
public:
    // Error words (0 = success).
    enum Error : uint32_t {
        ErrorWindowTooLarge = DeflateWindowTooLarge,
        ErrorBadBlockType = DeflateBadBlockType,
        ErrorKeywordTooLong = 66,
        ErrorEmptyKeyword = 67,
    };

    // Replaces `out` with the file; `rgba` holds width x height x 4 bytes, rows top to bottom.
    // Returns the error word; on an error `out` holds what was written before it. The rows are
    // filtered and compressed one at a time.
    uint32_t Encode(std::vector<uint8_t>& out, const uint8_t* rgba, uint32_t width,
                    uint32_t height);

    // One "tEXt" chunk per pair, in order.
    void AddText(std::string keyword, std::string text) {
        texts_.emplace_back(std::move(keyword), std::move(text));
    }

    // Bytes the last Encode held besides its input and output: a few rows and the compressor's
    // state, which does not grow with the image.
    size_t GetWorkingBytes() const { return workingBytes_; }

    bool dropOpaqueAlpha = true;
    DeflateSettings deflate;

private:
    std::vector<std::pair<std::string, std::string>> texts_;
    size_t workingBytes_ = 0;
};

} // namespace quarn
