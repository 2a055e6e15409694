#include "codecs/OggVorbis.h"

#include "core/io/ByteOrder.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <math.h>
#include <memory>
#include <new>

// The decoder casts floor's result to int when it sizes a codebook's lookup table; from a hostile
// header that value lies beyond int (or is NaN), where the cast is undefined. Inside the decoder
// floor saturates instead, and such a codebook then fails the decoder's own checks.
static double SaturatingFloor(double value) {
    if (std::isnan(value)) {
        return 0.0;
    }
    return std::clamp(std::floor(value), double(INT_MIN), double(INT_MAX));
}
#define floor(x) SaturatingFloor(x)
#include <stb_vorbis.h>
#undef floor

namespace quarn {

namespace {

// A real file's codebooks and work areas take about 50 times the size of its setup header,
// which is part of the file; the cap holds for any stream the encoders write.
size_t ArenaSize(uint32_t fileSize) {
    constexpr size_t Base = 1u << 20;
    constexpr size_t Cap = 16u << 20;
    return std::min(Base + size_t(fileSize) * 64, Cap);
}

// The decoder trusts the lengths inside the comment header and writes past its buffers when they
// run beyond the packet. So the comment packet is read here first, page by page as the decoder
// reads it, and checked; a stream whose comment packet the decoder could read differently is
// refused too.
bool CommentPacketFits(const uint8_t* data, size_t size) {
    std::vector<uint8_t> packet;
    size_t at = 0;
    bool complete = false;
    for (int page = 0; !complete; ++page) {
        if (size - at < 27 || std::memcmp(data + at, "OggS", 4) != 0 || data[at + 4] != 0) {
            return false;
        }
        const bool continued = (data[at + 5] & 1) != 0;
        const uint32_t segments = data[at + 26];
        at += 27;
        if (size - at < segments || segments == 0 || continued != (page > 1)) {
            return false;
        }
        const uint8_t* lacing = data + at;
        at += segments;
        for (uint32_t i = 0; i < segments && !complete; ++i) {
            if (size - at < lacing[i]) {
                return false;
            }
            // The first page holds the identification header alone.
            if (page > 0) {
                packet.insert(packet.end(), data + at, data + at + lacing[i]);
                complete = lacing[i] < 255;
            }
            at += lacing[i];
        }
    }
    // Type and "vorbis", the vendor text, the comment count, the comments, the framing byte.
    size_t read = 7;
    const auto fits = [&](size_t count) {
        return read <= packet.size() && packet.size() - read >= count;
    };
    const auto takeText = [&] {
        if (!fits(4)) {
            return false;
        }
        const uint32_t length = ReadLittleEndian32(&packet[read]);
        read += 4;
        if (!fits(length)) {
            return false;
        }
        read += length;
        return true;
    };
    if (!takeText() || !fits(4)) {
        return false;
    }
    const uint32_t comments = ReadLittleEndian32(&packet[read]);
    read += 4;
    if (comments > (packet.size() - read) / 4) {
        return false;
    }
    for (uint32_t i = 0; i < comments; ++i) {
        if (!takeText()) {
            return false;
        }
    }
    return fits(1);
}

// Full scale is 1.0; the decoder's own 16-bit conversion overflows on wild values.
int16_t ToSample(float value) {
    if (!(value > -1.0f)) {
        return value <= -1.0f ? INT16_MIN : 0;
    }
    return static_cast<int16_t>(std::lrint(std::min(value * 32768.0f, 32767.0f)));
}

} // namespace

int DecodeOggVorbis(const uint8_t* data, uint32_t size, uint32_t maxSampleBytes, OggSound& out) {
    out = OggSound();
    if (size == 0 || size > INT_MAX) {
        return OggNoSamples;
    }
    if (!CommentPacketFits(data, size)) {
        return OggBadComments;
    }
    const size_t arenaSize = ArenaSize(size);
    std::unique_ptr<char[]> arena(new (std::nothrow) char[arenaSize]);
    if (!arena) {
        return OggOutOfMemory;
    }
    stb_vorbis_alloc alloc{arena.get(), static_cast<int>(arenaSize)};
    int error = 0;
    stb_vorbis* vorbis = stb_vorbis_open_memory(data, static_cast<int>(size), &error, &alloc);
    if (!vorbis) {
        return error != 0 ? error : OggNoSamples;
    }
    const stb_vorbis_info info = stb_vorbis_get_info(vorbis);
    const auto channels = static_cast<uint32_t>(info.channels);
    const size_t maxSamples = maxSampleBytes / sizeof(int16_t);
    std::vector<int16_t>& samples = out.samples;
    int result = 0;
    try {
        for (;;) {
            int frameChannels = 0;
            float** frame = nullptr;
            const int frames = stb_vorbis_get_frame_float(vorbis, &frameChannels, &frame);
            if (frames <= 0 || uint32_t(frameChannels) != channels) {
                break;
            }
            if (size_t(frames) * channels > maxSamples - std::min(maxSamples, samples.size())) {
                result = OggTooLong;
                break;
            }
            for (int i = 0; i < frames; ++i) {
                for (uint32_t channel = 0; channel < channels; ++channel) {
                    samples.push_back(ToSample(frame[channel][i]));
                }
            }
        }
    } catch (const std::bad_alloc&) {
        result = OggOutOfMemory;
    }
    stb_vorbis_close(vorbis);
    if (result == 0 && (samples.empty() || samples.size() / channels > UINT32_MAX)) {
        result = OggNoSamples;
    }
    if (result != 0) {
        out = OggSound();
        return result;
    }
    out.channels = channels;
    out.sampleRate = info.sample_rate;
    out.frameCount = static_cast<uint32_t>(samples.size() / channels);
    return 0;
}

} // namespace quarn
