#pragma once

#include "audio/AudioSystem.h"

#include <cstdint>
#include <vector>

typedef struct ALCdevice_struct ALCdevice;
typedef struct ALCcontext_struct ALCcontext;

namespace quarn {

// Where the mix goes: the default output device (the sound card, or OpenAL's "null" back end
// where ALSOFT_DRIVERS names it), or a loopback device that mixes only when asked: by
// RenderLoopback, so that tests can hear exactly what would have played, or by MixUnheard, so
// that where nothing is heard the game's clock plays the voices.
enum class AudioOutput { Device, Loopback };

// The audio system on OpenAL Soft. The engine's coordinates are left-handed and OpenAL's
// right-handed, so every position, velocity and direction crosses with z negated. Settings that
// wait for Update's commit are kept here and sent to OpenAL then.
class OpenAlAudioSystem final : public AudioSystem {
public:
    explicit OpenAlAudioSystem(AudioOutput output = AudioOutput::Device);
    ~OpenAlAudioSystem() override;

    bool Init(uint32_t flags, uint32_t bits, uint32_t rate, uint32_t channels) override;
    const char* GetName() const override { return "OpenAL"; }
    const char* GetLastError() const override { return lastError_; }
    uint32_t GetStateFlags() const override { return stateFlags_; }

    void SetListenerPosition(const Float3& position) override;
    Float3 GetListenerPosition() const override { return listenerPosition_; }
    void SetListenerOrientation(const Quaternion& rotation) override;
    Quaternion GetListenerOrientation() const override;

    void SetMasterVolume(float factor) override;
    bool Update() override;

    uint32_t GetBitsPerSample() const override { return bits_; }
    uint32_t GetSampleRate() const override { return rate_; }
    uint32_t GetChannels() const override { return channels_; }

    SoundBuffer* CreateSoundBuffer() override;
    SoundCaptureBuffer* CreateCaptureBuffer() override;

    // True once Init made a context: buffers and voices can then be made.
    bool HasContext() const { return context_ != nullptr; }
    // True while 3D settings wait for Update to commit them.
    bool HasDeferredSettings() const { return deferred_; }
    void MarkDeferred() { deferred_ = true; }

    // Mixes the next `frames` frames of a loopback system into `out` (interleaved floats, the
    // channel count of Init). False for any other system or before Init.
    bool RenderLoopback(float* out, uint32_t frames);

    // False for a loopback system and for OpenAL's null output ("No Output"), which drops its
    // mix at the wall clock's pace: voices there would end after their length in real time,
    // however far the game moved meanwhile.
    bool IsHeard() const;
    // Moves a loopback system's voices on by `seconds` of mixing, dropping the sound, so that a
    // sound plays for its length in game time. The fraction of a frame left waits for the next
    // call. A step mixes at most MostUnheardSeconds, and none while no voice plays.
    void MixUnheard(float seconds);
    static constexpr float MostUnheardSeconds = 60.0f;

private:
    // Sends every waiting listener and voice setting to OpenAL; false when OpenAL reported an
    // error.
    bool CommitDeferred();
    bool AnyVoicePlays() const;

    AudioOutput output_;
    ALCdevice* device_ = nullptr;
    ALCcontext* context_ = nullptr;
    const char* lastError_ = "";
    uint32_t stateFlags_ = 0;
    uint32_t bits_ = 0;
    uint32_t rate_ = 0;
    uint32_t channels_ = 0;
    bool has3DListener_ = false;
    bool deferred_ = false;
    Float3 listenerPosition_;
    Float3 listenerFront_{0.0f, 0.0f, 1.0f};
    Float3 listenerTop_{0.0f, 1.0f, 0.0f};
    double unmixedFrames_ = 0.0;    // MixUnheard's fraction of a frame
    std::vector<float> mixScratch_; // MixUnheard's dropped sound
};

} // namespace quarn
