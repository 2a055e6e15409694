#include "codecs/OggVorbis.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <stb_vorbis.h>

namespace quarn {

namespace {

// A real file's codebooks and work areas take about 50 times the size of its setup header,
// which is part of the file; the cap holds for any stream the encoders write.
size_t ArenaSize(uint32_t fileSize) {
    constexpr size_t Base = 1u << 20;
    constexpr size_t Cap = 16u << 20;
    return std::min(Base + size_t(fileSize) * 64, Cap);
}

// A Vorbis frame holds at most half the largest block, 8192 samples, per channel.
constexpr size_t MaxFrameSamples = 4096;

} // namespace

int DecodeOggVorbis(const uint8_t* data, uint32_t size, OggSound& out) {
    out = OggSound();
    if (size == 0 || size > INT_MAX) {
        return OggNoSamples;
    }
    const size_t arenaSize = ArenaSize(size);
    std::unique_ptr<char[]> arena(new char[arenaSize]);
    stb_vorbis_alloc alloc{arena.get(), static_cast<int>(arenaSize)};
    int error = 0;
    stb_vorbis* vorbis = stb_vorbis_open_memory(data, static_cast<int>(size), &error, &alloc);
    if (!vorbis) {
        return error != 0 ? error : OggNoSamples;
    }
    const stb_vorbis_info info = stb_vorbis_get_info(vorbis);
    const auto channels = static_cast<uint32_t>(info.channels);
    std::vector<int16_t>& samples = out.samples;
    for (;;) {
        const size_t at = samples.size();
        samples.resize(at + channels * MaxFrameSamples);
        const int frames =
            stb_vorbis_get_frame_short_interleaved(vorbis, info.channels, samples.data() + at,
                                                   static_cast<int>(channels * MaxFrameSamples));
        if (frames <= 0) {
            samples.resize(at);
            break;
        }
        samples.resize(at + size_t(frames) * channels);
    }
    stb_vorbis_close(vorbis);
    if (samples.empty() || samples.size() / channels > UINT32_MAX) {
        out = OggSound();
        return OggNoSamples;
    }
    out.channels = channels;
    out.sampleRate = info.sample_rate;
    out.frameCount = static_cast<uint32_t>(samples.size() / channels);
    return 0;
}

} // namespace quarn
