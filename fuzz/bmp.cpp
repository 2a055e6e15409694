// Windows bitmaps through the codec interface: header, then every pixel.
#include "codecs/BmpCodec.h"
#include "codecs/ImageCodec.h"

#include <cstdint>
#include <cstdlib>

namespace {

// Pixels may land outside the reported size (the sink ignores those); only count them.
void Sink(int32_t, int32_t, quarn::ImagePixel, void* context) {
    ++*static_cast<uint64_t*>(context);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) {
        return 0;
    }
    quarn::InitImageCodecs();
    quarn::ImageCodec* codec = quarn::FindImageCodec("bmp");
    quarn::ImageInfo info;
    codec->GetTextureFormat(info, data, uint32_t(size));
    if (info.width > quarn::MaxBmpDimension || info.height > quarn::MaxBmpDimension) {
        std::abort(); // the header check promises this
    }
    uint64_t delivered = 0;
    codec->Load(data, uint32_t(size), &delivered, Sink);
    codec->ReleaseData();
    return 0;
}
