#pragma once

#include <cstdint>
#include <vector>

namespace quarn {

// A whole Ogg Vorbis file decoded to interleaved 16-bit samples.
struct OggSound {
    uint32_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t frameCount = 0;
    std::vector<int16_t> samples;
};

// What DecodeOggVorbis answers, besides 0 and the decoder's own (positive) error codes: the
// stream gave no samples, or its comment header holds lengths that run past it.
inline constexpr int OggNoSamples = -1;
inline constexpr int OggBadComments = -2;

// 0 on success; otherwise the decoder's error code, or OggNoSamples. The decoder's memory is
// bounded by the file's size, so a header cannot make it allocate more than the file justifies.
int DecodeOggVorbis(const uint8_t* data, uint32_t size, OggSound& out);

} // namespace quarn
