#pragma once

#include "audio/OpenAlAudioSystem.h"
#include "audio/SoundBuffer.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace quarn::test {

// OpenAL then finds no output back end: no test opens a sound card, and the default device
// fails to open. Must run before the process's first OpenAL call.
inline void UseNoAudioBackEnd() {
    setenv("ALSOFT_DRIVERS", "none", 1);
}

struct StereoLevel {
    double left = 0.0; // root mean square
    double right = 0.0;
};

// The audio system as start-up makes it (3D listener, 16 bits, stereo) on OpenAL's loopback
// device: nothing plays until the test mixes frames, so every result is exact and repeatable.
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
        double sums[2] = {0.0, 0.0};
        for (size_t i = 0; i < mix.size(); ++i) {
            sums[i % 2] += double(mix[i]) * mix[i];
        }
        return {std::sqrt(sums[0] * 2 / mix.size()), std::sqrt(sums[1] * 2 / mix.size())};
    }

    // A buffer of a sine at half of full scale, the same in every channel.
    SoundBuffer* MakeTone(float hertz, uint32_t frames, uint32_t channels = 1,
                          uint32_t flags = SoundBuffer3D) {
        std::vector<int16_t> samples(size_t(frames) * channels);
        for (size_t i = 0; i < samples.size(); ++i) {
            samples[i] = int16_t(
                16384.0 * std::sin(2.0 * std::numbers::pi * hertz * double(i / channels) / Rate));
        }
        SoundBuffer* buffer = system.CreateSoundBuffer();
        if (buffer->Create(flags, frames, 16, Rate, channels)) {
            buffer->SetData(samples.data());
        }
        return buffer;
    }

    OpenAlAudioSystem system{AudioOutput::Loopback};
};

} // namespace quarn::test
