// Ogg Vorbis files through the decoder.
#include "codecs/OggVorbis.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) {
        return 0;
    }
    quarn::OggSound sound;
    // Smaller than a sound buffer's limit, so that a stream of tiny packets meets it quickly.
    const int result = quarn::DecodeOggVorbis(data, uint32_t(size), 16u << 20, sound);
    const bool whole = sound.samples.size() == uint64_t(sound.frameCount) * sound.channels;
    if (!whole || (result == 0) != (sound.frameCount > 0)) {
        std::abort();
    }
    return 0;
}
