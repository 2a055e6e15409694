#pragma once

#include "audio/SoundBuffer.h"

#include <cstddef>
#include <cstdint>

namespace quarn {

class OpenAlAudioSystem;

// A sound buffer as one OpenAL buffer. OpenAL keeps no writable copy, so samples_ is the one the
// engine locks; unlocking after a write uploads it again. OpenAL's own copy is counted in the
// held memory beside samples_.
class OpenAlSoundBuffer final : public SoundBuffer {
public:
    explicit OpenAlSoundBuffer(OpenAlAudioSystem& system) : system_(system) {}
    ~OpenAlSoundBuffer() override;

    // OpenAL's name for a supported PCM format (8 or 16 bits, mono or stereo).
    static int FormatOf(uint32_t bits, uint32_t channels);

    OpenAlAudioSystem& GetSystem() const { return system_; }
    uint32_t GetBufferId() const { return bufferId_; }

protected:
    bool CreateDeviceBuffer() override;
    bool UploadSamples() override;
    SoundVoice* DuplicateVoice() override;

private:
    OpenAlAudioSystem& system_;
    uint32_t bufferId_ = 0;
    size_t libraryBytes_ = 0; // the samples OpenAL holds for the buffer
};

} // namespace quarn
