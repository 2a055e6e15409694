// JPEG files through the codec interface, at the default texture limit and at a small one that
// forces the halving path.
#include "codecs/ImageCodec.h"

#include <cstdint>
#include <cstdlib>

namespace {

void Sink(int32_t, int32_t, quarn::ImagePixel, void* context) {
    ++*static_cast<uint64_t*>(context);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) {
        return 0;
    }
    quarn::InitImageCodecs();
    quarn::ImageCodec* codec = quarn::FindImageCodec("jpg");
    // Every declared row is decoded, also after the data has run out; the codec refuses sides
    // beyond 16384, but even that many rows make each run slow, so large headers are left out
    // here and the runs look for other faults. Limit 0 reports the declared size.
    constexpr uint64_t MaxDeclaredPixels = uint64_t(1) << 24;
    quarn::SetImageMaxTextureSize(0);
    quarn::ImageInfo declared;
    codec->GetTextureFormat(declared, data, uint32_t(size));
    if (uint64_t(declared.width) * declared.height > MaxDeclaredPixels) {
        quarn::SetImageMaxTextureSize(quarn::DefaultMaxTextureSize);
        return 0;
    }
    for (uint32_t limit : {quarn::DefaultMaxTextureSize, 16u}) {
        quarn::SetImageMaxTextureSize(limit);
        quarn::ImageInfo info;
        codec->GetTextureFormat(info, data, uint32_t(size));
        if (info.width > limit || info.height > limit) {
            std::abort(); // larger images are decoded at a fraction of their size
        }
        if (info.width == 0) {
            continue;
        }
        uint64_t delivered = 0;
        if (codec->Load(data, uint32_t(size), &delivered, Sink) &&
            delivered != uint64_t(info.width) * info.height) {
            std::abort();
        }
        codec->ReleaseData();
    }
    quarn::SetImageMaxTextureSize(quarn::DefaultMaxTextureSize);
    return 0;
}
