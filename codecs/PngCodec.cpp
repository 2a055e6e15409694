#include "codecs/PngCodec.h"

#include "codecs/PngDecoder.h"
#include "codecs/PngEncoder.h"

namespace quarn {

std::unique_ptr<ImageCodec> CreatePngCodec() {
    return std::make_unique<PngCodec>();
}

void PngCodec::DecodeFile(const uint8_t* data, uint32_t size) {
    data_ = data;
    size_ = size;
    info_ = ImageInfo{};
    pixels_.clear();
    PngDecoder decoder;
    decoder.Decode(pixels_, data, size);
    decodeError_ = decoder.GetLastErrorCode();
    if (decodeError_ != 0) {
        return;
    }
    const PngDecoder::Info& file = decoder.GetInfo();
    info_.width = file.width;
    info_.height = file.height;
    info_.bitsPerPixel = (file.colourType & 4) != 0 ? 32 : 24;
}

void PngCodec::GetTextureFormat(ImageInfo& info, const uint8_t* data, uint32_t size) {
    DecodeFile(data, size);
    info = info_;
}

bool PngCodec::Load(const uint8_t* data, uint32_t size, void* context, ImagePixelSink sink) {
    // A different buffer, or the same address holding another file, is decoded afresh.
    if (data != data_ || size != size_) {
        DecodeFile(data, size);
    }
    // A file that does not decode delivers no pixels and says so.
    if (decodeError_ != 0) {
        return false;
    }
    const uint8_t* p = pixels_.data();
    for (uint32_t y = 0; y < info_.height; ++y) {
        for (uint32_t x = 0; x < info_.width; ++x, p += 4) {
            const ImagePixel pixel =
                uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
            sink(int32_t(x), int32_t(y), pixel, context);
        }
    }
    return true;
}

uint32_t PngCodec::Save(ImageOutputStream& stream, uint32_t width, uint32_t height,
                        uint32_t bitsPerPixel, bool alpha, void* context, ImagePixelSource source) {
    // The encoder decides the stored colour type itself (alpha is dropped when opaque).
    (void)bitsPerPixel, (void)alpha;
    std::vector<uint8_t> rgba(size_t(width) * height * 4);
    uint8_t* p = rgba.data();
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x, p += 4) {
            const ImagePixel pixel = source(x, y, context);
            p[0] = uint8_t(pixel >> 16);
            p[1] = uint8_t(pixel >> 8);
            p[2] = uint8_t(pixel);
            p[3] = uint8_t(pixel >> 24);
        }
    }
    std::vector<uint8_t> file;
    PngEncoder encoder;
    // A failed encode writes nothing rather than a broken file.
    if (encoder.Encode(file, rgba.data(), width, height) != 0 || file.size() > UINT32_MAX) {
        return 0;
    }
    return stream.Write(file.data(), uint32_t(file.size()));
}

void PngCodec::ReleaseData() {
    pixels_ = {};
    data_ = nullptr;
    size_ = 0;
}

} // namespace quarn
