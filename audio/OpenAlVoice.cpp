#include "audio/OpenAlVoice.h"

#include "audio/AudioSystem.h"
#include "audio/OpenAlAudioSystem.h"
#include "audio/OpenAlSoundBuffer.h"

#define AL_ALEXT_PROTOTYPES
#include <AL/al.h>
#include <AL/alext.h>
#include <cmath>
#include <numbers>

namespace quarn {

namespace {

constexpr float Pi = std::numbers::pi_v<float>;

ALint SourceState(ALuint source) {
    ALint state = AL_INITIAL;
    alGetSourcei(source, AL_SOURCE_STATE, &state);
    return state;
}

// The engine's left-handed vectors in OpenAL's right-handed space.
void SetSourceVector(ALuint source, ALenum parameter, const Float3& v) {
    alSource3f(source, parameter, v.x, v.y, -v.z);
}

} // namespace

OpenAlVoice::OpenAlVoice(OpenAlSoundBuffer& owner, uint32_t sourceId)
    : owner_(owner), sourceId_(sourceId), frequency_(owner.GetSampleRate()), is3D_(owner.Is3D()) {
    if (is3D_) {
        alSourcef(sourceId_, AL_MAX_DISTANCE, maxDistance_);
        // A new 3D voice is switched to normal 3D processing by a deferred setting.
        Defer();
    } else {
        alSourcei(sourceId_, AL_SOURCE_RELATIVE, AL_TRUE);
        alSourcef(sourceId_, AL_ROLLOFF_FACTOR, 0.0f);
        ApplyPan();
    }
}

OpenAlVoice::~OpenAlVoice() {
    alSourceStop(sourceId_);
    alDeleteSources(1, &sourceId_);
    owner_.RemoveVoice(this);
}

bool OpenAlVoice::Play(bool loop) {
    alGetError();
    if (state_ != VoicePaused) {
        alSourceRewind(sourceId_);
        restingCursor_ = 0;
    } else if (SourceState(sourceId_) != AL_PAUSED) {
        // Paused before it ever sounded: OpenAL takes the cursor as the place to start from.
        alSourcei(sourceId_, AL_SAMPLE_OFFSET, static_cast<ALint>(restingCursor_));
    }
    alSourcei(sourceId_, AL_LOOPING, loop ? AL_TRUE : AL_FALSE);
    alSourcePlay(sourceId_);
    state_ = VoicePlaying;
    return alGetError() == AL_NO_ERROR;
}

void OpenAlVoice::Pause() {
    alSourcePause(sourceId_);
    state_ = VoicePaused;
}

void OpenAlVoice::Stop() {
    // OpenAL forgets the cursor of a stopped source; the engine may still ask for it.
    restingCursor_ = GetPlayPosition();
    alSourceStop(sourceId_);
    state_ = VoiceStopped;
}

int32_t OpenAlVoice::UpdateState() {
    if (state_ != VoicePlaying || SourceState(sourceId_) == AL_PLAYING) {
        return state_;
    }
    state_ = VoiceIdle;
    restingCursor_ = 0;
    // The callback may delete this voice.
    CallFinishedCallback();
    return VoiceIdle;
}

void OpenAlVoice::Set3DEnabled(bool enabled) {
    if (is3D_) {
        mode3D_ = enabled;
        Defer();
    }
}

void OpenAlVoice::SetVolume(float factor) {
    const int32_t hundredths = VolumeToHundredths(factor);
    if (hundredths <= 0) {
        volume_ = hundredths;
        ApplyGain();
    }
}

float OpenAlVoice::GetVolume() const {
    return HundredthsToVolume(volume_);
}

void OpenAlVoice::SetPitch(float factor) {
    const double product = double(owner_.GetSampleRate()) * factor;
    if (!(product >= 0.0 && product < 4294967296.0)) {
        return;
    }
    auto frequency = static_cast<uint32_t>(product);
    // 0 asks for the buffer's own rate.
    if (frequency == 0) {
        frequency = owner_.GetSampleRate();
    }
    if (frequency < SoundBuffer::MinSampleRate || frequency > SoundBuffer::MaxSampleRate) {
        return;
    }
    frequency_ = frequency;
    alSourcef(sourceId_, AL_PITCH, float(frequency_) / float(owner_.GetSampleRate()));
}

float OpenAlVoice::GetPitch() const {
    return float(frequency_) / float(owner_.GetSampleRate());
}

void OpenAlVoice::SetPan(float pan) {
    const float scaled = pan * 10000.0f;
    if (is3D_ || !(scaled >= -10000.0f && scaled <= 10000.0f)) {
        return;
    }
    pan_ = static_cast<int32_t>(scaled);
    ApplyPan();
}

float OpenAlVoice::GetPan() const {
    return is3D_ ? 0.0f : float(pan_) / 10000.0f;
}

void OpenAlVoice::ApplyPan() {
    const float pan = float(pan_) / 10000.0f;
    if (owner_.GetChannels() == 1) {
        // A direction on the front half circle: straight ahead at 0, fully to one side at +-1.
        alSource3f(sourceId_, AL_POSITION, pan, 0.0f, -std::sqrt(1.0f - pan * pan));
        return;
    }
    // Both channels swing toward the panned side, from +-30 degrees to 90 degrees on that side.
    // Angles turn counter-clockwise, so left is positive.
    const float leftSwing = pan > 0.0f ? 2.0f * Pi / 3.0f : Pi / 3.0f;
    const float rightSwing = pan > 0.0f ? Pi / 3.0f : 2.0f * Pi / 3.0f;
    const ALfloat angles[2] = {Pi / 6.0f - pan * leftSwing, -Pi / 6.0f - pan * rightSwing};
    alSourcefv(sourceId_, AL_STEREO_ANGLES, angles);
}

void OpenAlVoice::ApplyGain() {
    alSourcef(sourceId_, AL_GAIN, mutedByDistance_ ? 0.0f : HundredthsToGain(volume_));
}

void OpenAlVoice::Defer() {
    waiting_ = true;
    owner_.GetSystem().MarkDeferred();
}

void OpenAlVoice::SetPosition(const Float3& position) {
    if (is3D_) {
        position_ = position;
        Defer();
    }
}

void OpenAlVoice::SetConeOrientation(const Float3& direction) {
    if (is3D_) {
        coneOrientation_ = direction;
        Defer();
    }
}

Float3 OpenAlVoice::GetConeOrientation() const {
    return is3D_ ? coneOrientation_ : Float3(0.0f, 0.0f, 1.0f);
}

void OpenAlVoice::SetVelocity(const Float3& velocity) {
    if (is3D_) {
        velocity_ = velocity;
        Defer();
    }
}

void OpenAlVoice::SetMaxDistance(float distance) {
    if (is3D_ && distance >= 0.0f) {
        maxDistance_ = distance;
        Defer();
    }
}

void OpenAlVoice::SetMinDistance(float distance) {
    if (is3D_ && distance >= 0.0f) {
        minDistance_ = distance;
        Defer();
    }
}

void OpenAlVoice::CommitDeferred(const Float3& listenerPosition) {
    if (!is3D_) {
        return;
    }
    bool muted = false;
    if (waiting_) {
        waiting_ = false;
        alSourcei(sourceId_, AL_SOURCE_RELATIVE, mode3D_ ? AL_FALSE : AL_TRUE);
        alSourcef(sourceId_, AL_ROLLOFF_FACTOR, mode3D_ ? 1.0f : 0.0f);
        SetSourceVector(sourceId_, AL_POSITION, mode3D_ ? position_ : Float3());
        SetSourceVector(sourceId_, AL_VELOCITY, mode3D_ ? velocity_ : Float3());
        SetSourceVector(sourceId_, AL_DIRECTION, coneOrientation_);
        alSourcef(sourceId_, AL_REFERENCE_DISTANCE, minDistance_);
        alSourcef(sourceId_, AL_MAX_DISTANCE, maxDistance_);
    }
    // Silent beyond the maximum distance, where OpenAL would hold the level of the maximum.
    if (mode3D_) {
        const Float3 offset = position_ - listenerPosition;
        muted = offset.Dot(offset) > maxDistance_ * maxDistance_;
    }
    if (muted != mutedByDistance_) {
        mutedByDistance_ = muted;
        ApplyGain();
    }
}

void OpenAlVoice::SetPlayPosition(uint32_t frame) {
    if (frame >= owner_.GetLength()) {
        return;
    }
    const ALint state = SourceState(sourceId_);
    if (state == AL_PLAYING || state == AL_PAUSED) {
        alSourcei(sourceId_, AL_SAMPLE_OFFSET, static_cast<ALint>(frame));
    } else {
        restingCursor_ = frame;
    }
}

uint32_t OpenAlVoice::GetPlayPosition() const {
    const ALint state = SourceState(sourceId_);
    if (state != AL_PLAYING && state != AL_PAUSED) {
        return restingCursor_;
    }
    ALint offset = 0;
    alGetSourcei(sourceId_, AL_SAMPLE_OFFSET, &offset);
    return static_cast<uint32_t>(offset);
}

} // namespace quarn
