#pragma once

#include "codecs/ImageCodec.h"

#include <string>

namespace quarn {

// Windows bitmaps: reads 1, 2, 4, 8, 16, 24 and 32 bits per pixel, uncompressed, run-length
// coded (8 and 4 bits) or by channel masks (16 and 32 bits); writes 24-bit bitmaps.
class BmpCodec final : public ImageCodec {
public:
    const char* GetExtension() const override { return "bmp"; }
    // Reports 24 bits whatever the file holds; an unreadable or implausible header (dimensions
    // above MaxBmpDimension, data too short for the headers) reports zeros.
    void GetTextureFormat(ImageInfo& info, const uint8_t* data, uint32_t size) override;
    // False for a layout it cannot decode or pixel data cut short; a run-length stream cut
    // short ends the image where the data ends.
    bool Load(const uint8_t* data, uint32_t size, void* context, ImagePixelSink sink) override;
    uint32_t Save(ImageOutputStream& stream, uint32_t width, uint32_t height, uint32_t bitsPerPixel,
                  bool alpha, void* context, ImagePixelSource source) override;
    bool CanSave() const override { return true; }
    void ReleaseData() override {}
    // "Bad palette" after a palette cut short by the end of the file, else "".
    const char* GetLastError() const override { return error_.c_str(); }

private:
    std::string error_;
};

constexpr uint32_t MaxBmpDimension = 16384;

} // namespace quarn
