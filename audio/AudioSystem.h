#pragma once

// The one object through which the engine plays and records sound: the listener, the sound
// buffers (one per loaded sound, each holding its whole PCM data) with their voices, and the
// capture buffers. One instance lives for the run and is reached through GetAudioSystem(); the
// program runs on without sound when it could not be initialised.

#include "core/math/Quaternion.h"
#include "core/math/Vector.h"

#include <cstdint>
#include <vector>

namespace quarn {

class SoundBuffer;
class SoundCaptureBuffer;

// Init flags: bit 0 asks for the 3D listener (and lets mono buffers be 3D); the others are
// accepted and ignored.
inline constexpr uint32_t AudioInit3D = 0x1;

// State flags after Init: the device exists, mixing is done in software (there are never
// hardware-mixing buffers here, so bit 8, "free hardware buffers", stays clear).
inline constexpr uint32_t AudioDeviceCreated = 0x1;
inline constexpr uint32_t AudioSoftwareMixing = 0x2;

// Volumes are kept in hundredths of a decibel, from -10000 (silence) to 0 (full volume); scripts
// and nodes pass linear factors. Factors below 0.00001 give -10000; a factor above 1 gives a
// positive value, which every volume setter refuses, keeping the previous volume.
inline constexpr int32_t SilentHundredths = -10000;
int32_t VolumeToHundredths(float factor);
// Not the exact inverse: the divisor differs in the fifth digit, so -600 (set from 0.5) reads
// back as 0.49997. Stored volumes read back this way.
float HundredthsToVolume(int32_t hundredths);
// The amplitude gain a volume in hundredths of a decibel gives the samples.
float HundredthsToGain(int32_t hundredths);

class AudioSystem {
public:
    // The new object becomes the current audio system.
    AudioSystem();
    // Clears the current audio system when it is this one.
    virtual ~AudioSystem();

    AudioSystem(const AudioSystem&) = delete;
    AudioSystem& operator=(const AudioSystem&) = delete;

    // Opens the output device with the given primary format. False with GetLastError() set when
    // there is no usable device; creating buffers then fails too.
    virtual bool Init(uint32_t flags, uint32_t bits, uint32_t rate, uint32_t channels) = 0;
    virtual const char* GetName() const = 0;
    virtual const char* GetLastError() const = 0;
    virtual uint32_t GetStateFlags() const = 0;

    // The listener, in the engine's left-handed coordinates. Settings are deferred: they take
    // effect when Update commits them. Without the 3D listener they do nothing.
    virtual void SetListenerPosition(const Float3& position) = 0;
    virtual Float3 GetListenerPosition() const = 0;
    // Front is +Z and top +Y, turned by the rotation.
    virtual void SetListenerOrientation(const Quaternion& rotation) = 0;
    // The identity without the 3D listener.
    virtual Quaternion GetListenerOrientation() const = 0;
    // The listener never moves for the Doppler effect: only sources' velocities count.
    void SetListenerVelocity(const Float3&) {}
    Float3 GetListenerVelocity() const { return {}; }

    // Stops every voice of every sound buffer, in list order.
    void StopAll();
    // The primary volume as a linear factor, on the hundredths-of-a-decibel scale.
    virtual void SetMasterVolume(float factor) = 0;
    // Disabling stops every voice first. Nothing else looks at the flag.
    void SetEnabled(bool enabled);
    bool IsEnabled() const { return enabled_; }

    // Called once per frame. While 3D settings wait, polls the voices (calling the finished
    // callbacks of those that ended) and, when one still plays, commits every waiting setting;
    // false when the commit failed. True at once when nothing waits.
    virtual bool Update() = 0;

    // The primary format that Init set.
    virtual uint32_t GetBitsPerSample() const = 0;
    virtual uint32_t GetSampleRate() const = 0;
    virtual uint32_t GetChannels() const = 0;

    // A new, empty buffer kept in the list; the caller calls its Create.
    virtual SoundBuffer* CreateSoundBuffer() = 0;
    // Removes the buffer from the list and deletes it with its voices. A buffer this system does
    // not hold is left alone.
    void DestroySoundBuffer(SoundBuffer* buffer);
    int GetSoundBufferCount() const { return static_cast<int>(buffers_.size()); }
    // Null outside 0..count-1.
    SoundBuffer* GetSoundBuffer(int index) const;

    virtual SoundCaptureBuffer* CreateCaptureBuffer() = 0;
    void DestroyCaptureBuffer(SoundCaptureBuffer* buffer);
    int GetCaptureBufferCount() const { return static_cast<int>(captureBuffers_.size()); }
    SoundCaptureBuffer* GetCaptureBuffer(int index) const;

protected:
    // Deletes every buffer; implementations call it in their destructors while their device is
    // still open.
    void DestroyAllBuffers();

    std::vector<SoundBuffer*> buffers_;
    std::vector<SoundCaptureBuffer*> captureBuffers_;

private:
    bool enabled_ = true;
};

// The current audio system; null when there is none.
AudioSystem* GetAudioSystem();

} // namespace quarn
