#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

class SoundVoice;

// Create and SetFlags bit 0: 3D processing. Only mono buffers are ever 3D.
inline constexpr uint32_t SoundBuffer3D = 0x1;

// Lock states; other values are stored and lock nothing.
inline constexpr int32_t SoundUnlocked = 0;
inline constexpr int32_t SoundLockedForReading = 1;
inline constexpr int32_t SoundLockedForWriting = 2;

// A whole sound as PCM (8-bit unsigned or 16-bit signed, mono or stereo) in the audio system's
// memory, with a copy on the CPU for locking and per-sample access. Each playback is a voice
// owned by the buffer. Byte size = bits / 8 x channels x length. A buffer whose Create failed
// holds nothing: locking fails, and the data and sample operations do nothing.
class SoundBuffer {
public:
    // Deletes the voices too.
    virtual ~SoundBuffer();

    // The format limits of a buffer: Create refuses what lies outside them.
    static constexpr uint32_t MinSampleRate = 100;
    static constexpr uint32_t MaxSampleRate = 200000;
    static constexpr uint32_t MaxByteSize = 0x0FFFFFFF;
    static bool IsFormatSupported(uint32_t bits, uint32_t channels);
    // Why a buffer of that format cannot be made, as a sound's load tells it ("its sample rate
    // of 50 Hz is outside the 100 to 200000 Hz a sound buffer plays"); "" when it can.
    static std::string WhyRefused(uint32_t length, uint32_t bits, uint32_t rate, uint32_t channels);

    // Makes a buffer of `length` frames of silence. False, with GetLastError() "Failed to create
    // audio buffer" (also logged), when the format is not supported, the audio system has no
    // device, or the buffer still has voices.
    bool Create(uint32_t flags, uint32_t length, uint32_t bits, uint32_t rate, uint32_t channels);

    // 1 and 2 lock the whole buffer, 0 unlocks (sending what was written to the device); other
    // values are only stored. True when unchanged; false when the buffer cannot be locked or the
    // upload failed, the state then stays.
    bool SetLockState(int32_t state);
    int32_t GetLockState() const { return lockState_; }
    // Copies GetByteSize() bytes from `source` through a write lock.
    void SetData(const void* source);
    // The samples while locked; null otherwise.
    uint8_t* GetData() { return locked_ ? samples_.data() : nullptr; }

    // Samples as signed 32-bit full-scale values, indexed by sample (not frame), while locked:
    // 8-bit data keeps value >> 24 offset by 128, 16-bit data value >> 16. Outside the buffer
    // or unlocked, SetSample writes nothing and GetSample reads 0.
    void SetSample(uint32_t index, int32_t value);
    int32_t GetSample(uint32_t index) const;

    // Refused (nonzero, nothing changed) while the buffer has voices.
    int SetFlags(uint32_t mask, uint32_t value);
    uint32_t GetFlags(uint32_t mask) const { return flags_ & mask; }
    bool Is3D() const { return is3D_; }

    // A new voice, started; null with "Failed to duplicate sound buffer" when none can be made.
    // The voice stays in the buffer's list until its player deletes it.
    SoundVoice* Play(bool loop);
    int GetVoiceCount() const { return static_cast<int>(voices_.size()); }
    // Null outside 0..count-1.
    SoundVoice* GetVoice(int index) const;
    // Voices call this from their destructors.
    void RemoveVoice(SoundVoice* voice);

    uint32_t GetChannels() const { return channels_; }
    uint32_t GetLength() const { return length_; }
    uint32_t GetSampleRate() const { return rate_; }
    uint32_t GetBitsPerSample() const { return bits_; }
    uint32_t GetByteSize() const { return static_cast<uint32_t>(samples_.size()); }
    uint32_t GetFrameBytes() const { return bits_ / 8 * channels_; }
    const char* GetLastError() const { return lastError_; }

protected:
    SoundBuffer() = default;

    // The device side: a buffer holding samples_, then samples_ again after a write.
    virtual bool CreateDeviceBuffer() = 0;
    virtual bool UploadSamples() = 0;
    // A voice playing this buffer, appended to voices_; null with the error set.
    virtual SoundVoice* DuplicateVoice() = 0;
    // Device buffers cannot go while voices play them, so implementations call this first.
    void DeleteVoices();

    void SetLastError(const char* text) { lastError_ = text; }

    std::vector<uint8_t> samples_;
    std::vector<SoundVoice*> voices_;

private:
    uint32_t channels_ = 0;
    uint32_t length_ = 0;
    uint32_t rate_ = 0;
    uint32_t bits_ = 0;
    uint32_t flags_ = 0;
    bool is3D_ = false;
    bool created_ = false;
    int32_t lockState_ = SoundUnlocked;
    bool locked_ = false;
    bool written_ = false;
    const char* lastError_ = "";
};

} // namespace quarn
