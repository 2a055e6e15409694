#include "codecs/ImageCodec.h"

#include "core/string/Text.h"

#include <vector>

namespace quarn {
namespace {

std::vector<std::unique_ptr<ImageCodec>>& Codecs() {
    static std::vector<std::unique_ptr<ImageCodec>> codecs;
    return codecs;
}

uint32_t maxTextureSize = DefaultMaxTextureSize;

} // namespace

void InitImageCodecs() {
    auto& codecs = Codecs();
    if (!codecs.empty()) {
        return;
    }
    codecs.push_back(CreateBmpCodec());
    codecs.push_back(CreatePngCodec());
    codecs.push_back(CreateJpegCodec());
}

std::vector<std::string> GetImageCodecExtensions() {
    InitImageCodecs();
    std::vector<std::string> extensions;
    for (const auto& codec : Codecs()) {
        extensions.emplace_back(codec->GetExtension());
    }
    return extensions;
}

void ReleaseImageCodecs() {
    Codecs().clear();
}

ImageCodec* FindImageCodec(const char* extension, bool forSaving) {
    if (extension == nullptr) {
        return nullptr;
    }
    for (const auto& codec : Codecs()) {
        if (CompareNoCase(codec->GetExtension(), extension) == 0 &&
            (!forSaving || codec->CanSave())) {
            return codec.get();
        }
    }
    return nullptr;
}

uint32_t GetImageMaxTextureSize() {
    return maxTextureSize;
}

void SetImageMaxTextureSize(uint32_t size) {
    maxTextureSize = size;
}

} // namespace quarn
