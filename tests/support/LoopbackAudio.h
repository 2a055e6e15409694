#pragma once

#include "audio/OpenAlAudioSystem.h"
#include "audio/SoundBuffer.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace quarn::test {

// Makes OpenAL find no output back end, so no test ever opens a sound card and the default
// device fails to open. Must run before the first OpenAL call of the process.
inline void UseNoAudioBackEnd() {
    setenv("ALSOFT_DRIVERS", "none", 1);
}

// Root mean square of each channel of a stereo mix.
struct StereoLevel {
    double left = 0.0;
    double right = 0.0;
};

// The audio system on OpenAL's loopback device, initialised as start-up does (3D listener,
// 16 bits, stereo): nothing plays until the test mixes frames, so every result is exact and
// repeatable.
class LoopbackAudio {
public:
    static constexpr uint32_t Rate = 22050;

    LoopbackAudio() {
        UseNoAudioBackEnd();
        system.Init(AudioInit3D | 4, 16, Rate, 2);
    }

    // The next frames of the mix, interleaved left and right.
    std::vector<float> Render(uint32_t frames) {
        std::vector<float> mix(size_t(frames) * 2);
        system.RenderLoopback(mix.data(), frames);
        return mix;
    }

    static StereoLevel Level(const std::vector<float>& mix) {
        StereoLevel level;
        const size_t frames = mix.size() / 2;
        for (size_t i = 0; i < frames; ++i) {
            level.left += double(mix[2 * i]) * mix[2 * i];
            level.right += double(mix[2 * i + 1]) * mix[2 * i + 1];
        }
        level.left = std::sqrt(level.left / double(frames));
        level.right = std::sqrt(level.right / double(frames));
        return level;
    }

    // A buffer of `frames` frames of a sine at half of full scale, the same in every channel.
    SoundBuffer* MakeTone(float hertz, uint32_t frames, uint32_t channels = 1,
                          uint32_t flags = SoundBuffer3D) {
        SoundBuffer* buffer = system.CreateSoundBuffer();
        std::vector<int16_t> samples(size_t(frames) * channels);
        for (size_t i = 0; i < samples.size(); ++i) {
            const double t = double(i / channels) / Rate;
            samples[i] =
                int16_t(std::lround(16384.0 * std::sin(2.0 * 3.14159265358979 * hertz * t)));
        }
        if (buffer->Create(flags, frames, 16, Rate, channels)) {
            buffer->SetData(samples.data());
        }
        return buffer;
    }

    OpenAlAudioSystem system{AudioOutput::Loopback};
};

} // namespace quarn::test
