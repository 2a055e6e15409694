// PNG files through the decoder (several output settings) and through the codec interface.
#include "codecs/ImageCodec.h"
#include "codecs/PngDecoder.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void Sink(int32_t, int32_t, quarn::ImagePixel, void* context) {
    ++*static_cast<uint64_t*>(context);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using quarn::PngDecoder;
    if (size > UINT32_MAX) {
        return 0;
    }
    // The last byte picks a second output format, so every conversion path is reached while the
    // file itself stays a valid seed.
    static constexpr uint8_t Types[] = {0, 2, 3, 4, 6};
    const uint8_t pick = size > 0 ? data[size - 1] : 0;
    PngDecoder::Settings settings[3];
    settings[1].convert = false;
    settings[2].colourType = Types[pick % 5];
    settings[2].bitDepth = (pick & 0x10) != 0 ? 16 : 8;
    settings[2].ignoreCrc = (pick & 0x20) != 0;
    settings[2].ignoreChecksum = (pick & 0x40) != 0;
    for (const PngDecoder::Settings& chosen : settings) {
        PngDecoder decoder;
        decoder.settings = chosen;
        std::vector<uint8_t> pixels;
        decoder.Decode(pixels, data, size);
        if (decoder.GetLastErrorCode() != 0 && !pixels.empty()) {
            std::abort(); // an error leaves no image
        }
        if (decoder.GetLastErrorCode() == 0 && chosen.convert && chosen.colourType == 6 &&
            chosen.bitDepth == 8) {
            const PngDecoder::Info& info = decoder.GetInfo();
            if (pixels.size() != size_t(info.width) * info.height * 4) {
                std::abort();
            }
        }
    }

    quarn::InitImageCodecs();
    quarn::ImageCodec* codec = quarn::FindImageCodec("png");
    quarn::ImageInfo info;
    codec->GetTextureFormat(info, data, uint32_t(size));
    uint64_t delivered = 0;
    const bool loaded = codec->Load(data, uint32_t(size), &delivered, Sink);
    if (loaded && delivered != uint64_t(info.width) * info.height) {
        std::abort();
    }
    codec->ReleaseData();
    return 0;
}
