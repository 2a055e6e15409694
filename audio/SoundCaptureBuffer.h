#pragma once

#include <cstdint>
#include <vector>

namespace quarn {

// Records from the default input into a ring of `length` frames. Nothing is taken from the ring
// until its owner calls Update, which turns the frames that arrived since the last Update into
// one 32-bit word each.
class SoundCaptureBuffer {
public:
    virtual ~SoundCaptureBuffer() = default;

    // 8 or 16 bits, 1 or 2 channels, at least one frame; flags are ignored. A buffer made before
    // is closed first. False when the format is refused or no input device opens.
    virtual bool Create(uint32_t flags, uint32_t length, uint32_t bits, uint32_t rate,
                        uint32_t channels) = 0;
    virtual bool Destroy() = 0;
    // Without `loop` recording stops once the ring is full. The read position returns to 0.
    virtual void Start(bool loop) = 0;
    virtual void Stop() = 0;
    // Where the device writes next, in bytes from the start of the ring.
    virtual uint32_t GetPosition() = 0;
    // Takes the frames that arrived since the last Update; answers their count.
    virtual uint32_t Update() = 0;

    uint32_t GetSampleCount() const { return static_cast<uint32_t>(samples_.size()); }
    // The frame's bytes, little-endian in a word; 0 outside 0..count-1.
    uint32_t GetCapturedSample(uint32_t index) const {
        return index < samples_.size() ? samples_[index] : 0;
    }

    uint32_t GetChannels() const { return channels_; }
    uint32_t GetLength() const { return length_; }
    uint32_t GetSampleRate() const { return rate_; }
    uint32_t GetBitsPerSample() const { return bits_; }
    uint32_t GetByteSize() const { return length_ * GetFrameBytes(); }
    uint32_t GetFrameBytes() const { return bits_ / 8 * channels_; }

protected:
    uint32_t channels_ = 0;
    uint32_t length_ = 0;
    uint32_t rate_ = 0;
    uint32_t bits_ = 0;
    std::vector<uint32_t> samples_;
};

// Appends one word per whole frame of `frameBytes` (1 to 4) bytes: the frame's bytes,
// little-endian, zero-extended.
void PackCapturedFrames(const uint8_t* bytes, uint32_t count, uint32_t frameBytes,
                        std::vector<uint32_t>& out);

} // namespace quarn
