#pragma once

#include "codecs/ImageCodec.h"

#include <vector>

namespace quarn {

// PNG through the engine's own decoder and encoder. The whole image is decoded when the header
// is asked for and kept until ReleaseData, so Load only streams it.
class PngCodec final : public ImageCodec {
public:
    const char* GetExtension() const override { return "png"; }
    void GetTextureFormat(ImageInfo& info, const uint8_t* data, uint32_t size) override;
    bool Load(const uint8_t* data, uint32_t size, void* context, ImagePixelSink sink) override;
    uint32_t Save(ImageOutputStream& stream, uint32_t width, uint32_t height, uint32_t bitsPerPixel,
                  bool alpha, void* context, ImagePixelSource source) override;
    bool CanSave() const override { return true; }
    void ReleaseData() override;

    // The decoder's error word of the last decode (0 after a success), for tools and logs.
    uint32_t GetLastErrorCode() const { return decodeError_; }

private:
    void DecodeFile(const uint8_t* data, uint32_t size);

    const uint8_t* data_ = nullptr;
    uint32_t size_ = 0;
    std::vector<uint8_t> pixels_;
    ImageInfo info_;
    uint32_t decodeError_ = 1;
};

} // namespace quarn
