#pragma once

#include "audio/SoundCaptureBuffer.h"

#include <cstdint>

typedef struct ALCdevice_struct ALCdevice;

namespace quarn {

// Capture through an OpenAL capture device opened in Create with the buffer's format; OpenAL's
// own ring of `length` frames is the ring. OpenAL hands frames out in order, so the ring position
// is counted here.
class OpenAlCaptureBuffer final : public SoundCaptureBuffer {
public:
    ~OpenAlCaptureBuffer() override { Destroy(); }

    bool Create(uint32_t flags, uint32_t length, uint32_t bits, uint32_t rate,
                uint32_t channels) override;
    bool Destroy() override;
    void Start(bool loop) override;
    void Stop() override;
    uint32_t GetPosition() override;
    uint32_t Update() override;

private:
    uint32_t AvailableFrames();

    ALCdevice* device_ = nullptr;
    bool loop_ = false;
    uint32_t readPosition_ = 0; // bytes into the ring
    uint64_t framesTaken_ = 0;  // since Start: a recording without loop ends when the ring is full
};

} // namespace quarn
