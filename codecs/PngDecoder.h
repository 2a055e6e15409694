#pragma once

#include "codecs/Inflate.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quarn {

// Decodes a PNG file held in memory, by default to 8-bit RGBA rows top to bottom. The error
// word shares its numbering with the decompressor's (see Inflate.h).
class PngDecoder {
public:
    enum Error : uint32_t {
        ErrorNone = 0,
        ErrorNotDecoded = 1,
        ErrorTooShort = 27,
        ErrorSignature = 28,
        ErrorFirstChunkNotHeader = 29,
        ErrorChunkHeaderPastEnd = 30,
        ErrorColourType = 31,
        ErrorCompressionMethod = 32,
        ErrorFilterMethod = 33,
        ErrorInterlaceMethod = 34,
        ErrorChunkPastEnd = 35,
        ErrorFilterType = 36,
        ErrorBitDepth = 37,
        ErrorPaletteTooLarge = 38,
        ErrorTransparencyPastPalette = 39,
        ErrorGreyTransparencySize = 40,
        ErrorColourTransparencySize = 41,
        ErrorTransparencyWithAlpha = 42,
        ErrorPaletteBackgroundSize = 43,
        ErrorGreyBackgroundSize = 44,
        ErrorColourBackgroundSize = 45,
        ErrorPaletteIndex = 46,
        ErrorLowBitPaletteIndex = 47,
        ErrorEmpty = 48,
        ErrorOutputNotConvertible = 56,
        ErrorChunkCrc = 57,
        ErrorConversionUnsupported = 59,
        ErrorGreyFromColour = 62,
        ErrorChunkLength = 63,
        // Zero width or height, or more pixels than any texture can hold: refused before
        // anything is allocated for them.
        ErrorImageSize = 70,
        // The image data ends before the rows the header implies.
        ErrorImageDataShort = 71,
    };

    // Largest width x height accepted (one 16384 x 16384 texture).
    static constexpr uint64_t MaxPixels = uint64_t(16384) * 16384;

    struct Settings {
        uint8_t colourType = 6;
        uint8_t bitDepth = 8;
        bool convert = true;
        bool readText = true;
        bool ignoreCrc = false;
        bool ignoreChecksum = false;
    };

    struct Info {
        uint32_t width = 0;
        uint32_t height = 0;
        uint8_t bitDepth = 0;
        uint8_t colourType = 0;
        uint8_t compressionMethod = 0;
        uint8_t filterMethod = 0;
        uint8_t interlaceMethod = 0;
        // RGBA per entry; alpha 255 unless a transparency chunk gives another.
        std::array<uint8_t, 256 * 4> palette{};
        uint32_t paletteSize = 0;
        // Grey images use keyRed for their key.
        bool keyDefined = false;
        uint16_t keyRed = 0, keyGreen = 0, keyBlue = 0;
        bool backgroundDefined = false;
        uint16_t backgroundRed = 0, backgroundGreen = 0, backgroundBlue = 0;
        std::vector<std::pair<std::string, std::string>> texts;
    };

    // Replaces `pixels` with the image (empty on an error); the result is in `GetLastErrorCode`.
    void Decode(std::vector<uint8_t>& pixels, const uint8_t* data, size_t size);

    uint32_t GetLastErrorCode() const { return error_; }
    const Info& GetInfo() const { return info_; }

    Settings settings;

private:
    uint32_t ReadHeader(const uint8_t* data, size_t size);
    // The palette, transparency, background and text chunks, into the info.
    uint32_t ReadInfoChunk(const uint8_t* type, const uint8_t* body, uint32_t length);
    // Collects the image-data chunks, which inflate reads in turn without joining them.
    uint32_t ReadChunks(const uint8_t* data, size_t size);
    uint32_t DecodeImage(std::vector<uint8_t>& pixels);

    Info info_;
    uint32_t error_ = ErrorNotDecoded;
    // Kept from one decode to the next, so a decoder used again allocates nothing new.
    std::vector<InflateInput> imageData_;
    std::unique_ptr<uint8_t[]> filtered_;
    size_t filteredCapacity_ = 0;
};

// Channels of a colour type (0 for an invalid one).
uint32_t PngChannelCount(uint32_t colourType);

} // namespace quarn
