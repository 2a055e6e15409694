#pragma once

#include "audio/SoundBuffer.h"

#include <cstdint>

namespace quarn {

class OpenAlAudioSystem;

// A sound buffer as one OpenAL buffer. OpenAL keeps no writable copy, so samples_ is the one the
// engine locks; unlocking after a write uploads it again.
class OpenAlSoundBuffer final : public SoundBuffer {
public:
    explicit OpenAlSoundBuffer(OpenAlAudioSystem& system) : system_(system) {}
    ~OpenAlSoundBuffer() override;

    OpenAlAudioSystem& GetSystem() const { return system_; }
    uint32_t GetBufferId() const { return bufferId_; }

protected:
    bool CreateDeviceBuffer() override;
    bool UploadSamples() override;
    SoundVoice* DuplicateVoice() override;

private:
    OpenAlAudioSystem& system_;
    uint32_t bufferId_ = 0;
};

} // namespace quarn
