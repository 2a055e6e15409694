#include "audio/SoundCaptureBuffer.h"

namespace quarn {

void PackCapturedFrames(const uint8_t* bytes, uint32_t count, uint32_t frameBytes,
                        std::vector<uint32_t>& out) {
    if (frameBytes == 0 || frameBytes > 4) {
        return;
    }
    for (uint32_t at = 0; count - at >= frameBytes; at += frameBytes) {
        uint32_t word = 0;
        for (uint32_t i = 0; i < frameBytes; ++i) {
            word |= uint32_t(bytes[at + i]) << (8 * i);
        }
        out.push_back(word);
    }
}

} // namespace quarn
