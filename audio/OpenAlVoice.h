#pragma once

#include "audio/SoundVoice.h"

#include <cstdint>

namespace quarn {

class OpenAlSoundBuffer;

// A voice as one OpenAL source playing its buffer's OpenAL buffer. Voices of 3D buffers keep
// their 3D settings here until the audio system commits them. Voices of other buffers play
// relative to the listener without distance attenuation: a mono voice is panned by its direction,
// a stereo one by the angles of its two channels.
class OpenAlVoice final : public SoundVoice {
public:
    // Takes over `sourceId`, already playing `owner`'s buffer.
    OpenAlVoice(OpenAlSoundBuffer& owner, uint32_t sourceId);
    ~OpenAlVoice() override;

    uint32_t GetSourceId() const { return sourceId_; }

    bool Play(bool loop) override;
    void Pause() override;
    void Stop() override;
    int32_t UpdateState() override;

    void Set3DEnabled(bool enabled) override;
    bool Is3DEnabled() const override { return is3D_ && mode3D_; }
    void SetVolume(float factor) override;
    float GetVolume() const override;
    void SetPitch(float factor) override;
    float GetPitch() const override;
    void SetPan(float pan) override;
    float GetPan() const override;

    void SetPosition(const Float3& position) override;
    Float3 GetPosition() const override { return is3D_ ? position_ : Float3(); }
    void SetConeOrientation(const Float3& direction) override;
    Float3 GetConeOrientation() const override;
    void SetVelocity(const Float3& velocity) override;
    Float3 GetVelocity() const override { return is3D_ ? velocity_ : Float3(); }
    void SetMaxDistance(float distance) override;
    float GetMaxDistance() const override { return is3D_ ? maxDistance_ : 0.0f; }
    void SetMinDistance(float distance) override;
    float GetMinDistance() const override { return is3D_ ? minDistance_ : 0.0f; }

    void SetPlayPosition(uint32_t frame) override;
    uint32_t GetPlayPosition() const override;

    // Sends the waiting 3D settings; the listener position decides the mute beyond the maximum
    // distance.
    void CommitDeferred(const Float3& listenerPosition);

private:
    // Marks a 3D setting as waiting for the commit.
    void Defer();
    void ApplyGain();
    void ApplyPan();

    OpenAlSoundBuffer& owner_;
    uint32_t sourceId_;
    int32_t state_ = VoiceIdle;
    int32_t volume_ = 0; // hundredths of a decibel
    uint32_t frequency_;
    int32_t pan_ = 0; // ten-thousandths
    // Where the cursor is while OpenAL does not say: OpenAL reads 0 for a source that is not
    // playing or paused.
    uint32_t restingCursor_ = 0;
    const bool is3D_;
    bool mode3D_ = true;
    bool mutedByDistance_ = false;
    bool waiting_ = false;
    Float3 position_;
    Float3 velocity_;
    Float3 coneOrientation_{0.0f, 0.0f, 1.0f};
    // The platform's defaults: full volume within 1 unit, no mute before 1e9.
    float minDistance_ = 1.0f;
    float maxDistance_ = 1.0e9f;
};

} // namespace quarn
