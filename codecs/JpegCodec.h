#pragma once

#include "codecs/ImageCodec.h"

namespace quarn {

// JPEG through libjpeg. Images larger than the maximum texture size are decoded at a half,
// a quarter, ... of their size by dropping rows and columns. Greyscale and CMYK files arrive as
// RGB; every pixel is opaque. Keeps the header's size and scale until Load, so one codec
// serves one image at a time.
class JpegCodec final : public ImageCodec {
public:
    const char* GetExtension() const override { return "jpg"; }
    // Zeros when libjpeg cannot read the header.
    void GetTextureFormat(ImageInfo& info, const uint8_t* data, uint32_t size) override;
    // False after a libjpeg error, or when the file does not have the size GetTextureFormat
    // reported (GetLastError then says so).
    bool Load(const uint8_t* data, uint32_t size, void* context, ImagePixelSink sink) override;
    void ReleaseData() override {}
    const char* GetLastError() const override { return error_; }

private:
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t scale_ = 1;
    const char* error_ = "";
};

} // namespace quarn
