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
// stream gave no samples, its comment header holds lengths that run past it, its samples take
// more than the bytes allowed, or memory ran out.
inline constexpr int OggNoSamples = -1;
inline constexpr int OggBadComments = -2;
inline constexpr int OggTooLong = -3;
inline constexpr int OggOutOfMemory = -4;

// 0 on success; otherwise the decoder's error code or one of the above. The decoder's memory is
// bounded by the file's size, so a header cannot make it allocate more than the file justifies;
// the samples by `maxSampleBytes` (16-bit samples, 2 bytes each), since a file of tiny silent
// packets grows hundreds of times when decoded. Decoding stops as soon as they would pass it.
int DecodeOggVorbis(const uint8_t* data, uint32_t size, uint32_t maxSampleBytes, OggSound& out);

} // namespace quarn
