#pragma once

#include "core/math/Vector.h"

#include <cstdint>

namespace quarn {

// What UpdateState answers. A voice is idle when created and again once it has played to its
// end; Play from paused resumes, from any other state starts at the beginning.
inline constexpr int32_t VoiceIdle = 1;
inline constexpr int32_t VoicePlaying = 2;
inline constexpr int32_t VoicePaused = 3;
inline constexpr int32_t VoiceStopped = 4;

class SoundVoice;
// Called by UpdateState when it sees the voice has ended, with the argument given beside it.
using SoundFinishedCallback = void (*)(SoundVoice* voice, uint32_t argument);

// One playback of a sound buffer, with its own volume, pitch, pan, 3D placement and play cursor.
// The buffer owns it; whoever started it deletes it when done. 3D settings are deferred: they take
// effect when the audio system's Update commits them. A voice of a buffer that is not 3D ignores
// them and answers the zero vector, (0, 0, 1) for the cone and 0 for the distances.
class SoundVoice {
public:
    // Stops the voice and takes it out of its buffer's list.
    virtual ~SoundVoice() = default;

    // False when the device refused.
    virtual bool Play(bool loop) = 0;
    // Keeps the cursor for the next Play.
    virtual void Pause() = 0;
    virtual void Stop() = 0;
    // Sees whether a playing voice has ended: it then becomes idle and its finished callback is
    // called, once.
    virtual int32_t UpdateState() = 0;

    void SetFinishedCallback(SoundFinishedCallback callback, uint32_t argument) {
        finishedCallback_ = callback;
        finishedArgument_ = argument;
    }
    SoundFinishedCallback GetFinishedCallback() const { return finishedCallback_; }

    // With 3D off the sound seems to come from the listener's own position.
    virtual void Set3DEnabled(bool enabled) = 0;
    virtual bool Is3DEnabled() const = 0;
    // The hundredths-of-a-decibel scale of AudioSystem.h.
    virtual void SetVolume(float factor) = 0;
    virtual float GetVolume() const = 0;
    // Playback frequency as a factor of the buffer's rate, truncated to whole hertz. 0 restores
    // the buffer's own rate; a frequency outside the buffer rate limits is refused.
    virtual void SetPitch(float factor) = 0;
    virtual float GetPitch() const = 0;
    // -1 (left) to 1 (right), kept in ten-thousandths; values outside are refused. Voices of 3D
    // buffers have no pan and answer 0.
    virtual void SetPan(float pan) = 0;
    virtual float GetPan() const = 0;

    virtual void SetPosition(const Float3& position) = 0;
    virtual Float3 GetPosition() const = 0;
    virtual void SetConeOrientation(const Float3& direction) = 0;
    virtual Float3 GetConeOrientation() const = 0;
    virtual void SetVelocity(const Float3& velocity) = 0;
    virtual Float3 GetVelocity() const = 0;
    // Beyond the maximum distance the voice is muted; inside the minimum it is at full volume.
    virtual void SetMaxDistance(float distance) = 0;
    virtual float GetMaxDistance() const = 0;
    virtual void SetMinDistance(float distance) = 0;
    virtual float GetMinDistance() const = 0;

    // The play cursor in frames; a frame past the end is refused.
    virtual void SetPlayPosition(uint32_t frame) = 0;
    virtual uint32_t GetPlayPosition() const = 0;

protected:
    void CallFinishedCallback() {
        if (finishedCallback_) {
            finishedCallback_(this, finishedArgument_);
        }
    }

private:
    SoundFinishedCallback finishedCallback_ = nullptr;
    uint32_t finishedArgument_ = 0;
};

} // namespace quarn
