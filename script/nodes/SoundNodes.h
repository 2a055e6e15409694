#pragma once

#include "core/math/Vector.h"
#include "core/object/EntityRef.h"
#include "core/scene/Pivot.h"

#include <cstdint>

namespace quarn {

class SoundResource;
class SoundVoice;

// Bits of "soundflags". Stream, fadeout, selfdestruct and reverse are stored only.
enum SoundFlags : uint32_t {
    SoundLoop = 0x1,
    SoundStream = 0x2,
    Sound3D = 0x4, // mono sounds only
    SoundFadeOut = 0x8,
    SoundSelfDestruct = 0x10,
    SoundPlaying = 0x20,
    SoundReverse = 0x40,
    SoundDoppler = 0x80, // the voice moves with the node's velocity
};

// Plays one sound file as one voice of the audio system, in 3D at the node's world position
// when asked, and tells its "done" output when a sound that does not loop has ended. The voice
// is made on the first play and kept across stops and pauses.
class SoundEmitter : public Pivot {
public:
    SoundEmitter();
    ~SoundEmitter() override;

    // The playing bit and the progress move as the sound plays and ends; a scene is written with
    // the values it was given (loaded, or set since), so a save with no edit keeps its bytes.
    uint32_t GetSoundFlags() const;
    void SetSoundFlags(uint32_t flags);
    float GetMinRange() const { return minRange_; }
    void SetMinRange(float range);
    float GetMaxRange() const { return maxRange_; }
    void SetMaxRange(float range);
    float GetPitch() const { return pitch_; }
    void SetPitch(float pitch);
    float GetVolume() const { return volume_; }
    void SetVolume(float volume);
    float GetPan() const { return pan_; }
    void SetPan(float pan);
    float GetProgress() const;
    // Puts the play cursor at that fraction of the sound, kept inside it: 1.0 or more is the
    // last frame, a negative or NaN fraction the first.
    void SetProgress(float progress);
    const char* GetSoundFile() const;
    void SetSoundFile(const char* path);
    SoundResource* GetSound() const { return sound_; }

    void Play();
    void Pause();
    void Stop();
    bool IsPlaying();
    // The voice, or null when there is none or a reload of the sound took it away.
    SoundVoice* GetVoice();

    int GetInputCount() const override { return 2; }
    const char* GetInputName(int port) const override;
    int GetOutputCount() const override { return 1; }
    const char* GetOutputName(int port) const override;
    void SetPortValue(int port, const EntityRef& reference) override;
    EntityRef GetPortValue(int port) const override;
    void ReceiveEvent(const EventRecord& event) override;
    void Update(float frameTime, int mode) override;
    int GetPropertyState(const Property& property) const override;
    PathString GetDescription() const override;
    Entity* GetResource() const override;
    int GetIconIndex() const override { return 18; }
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    static void OnNodeFlagsChanged(Entity* target, Entity& object, const uint32_t* oldValue,
                                   const uint32_t* newValue);
    void ApplySoundFlags(uint32_t flags);
    uint32_t GetChannels() const;
    void DeleteVoice();
    // Both, in this order, whichever changed.
    void ForwardRanges();

    uint32_t soundFlags_ = Sound3D;
    float minRange_ = 10.0f;
    float maxRange_ = 200.0f;
    float pitch_ = 1.0f;
    float volume_ = 1.0f;
    float pan_ = 0.0f;
    float progress_ = 0.0f;
    // What the scene gave "soundflags" and "progress", for writing it (IsWritingScene).
    uint32_t givenFlags_ = Sound3D;
    float givenProgress_ = 0.0f;
    SoundResource* sound_ = nullptr; // one counted reference
    EntityRef witness_;
    SoundVoice* voice_ = nullptr;
    uint32_t voiceGeneration_ = 0; // the sound's buffer generation the voice was made from
    Float3 previous_;              // world position at the last update, for the doppler velocity
};

// Carries the listener: each update hands the node's world pose and velocity to the audio
// system and commits its waiting 3D settings. At most one receiver is fully enabled; the newest
// takes over, and sound stays muted for its first two updates.
class SoundReceiver : public Pivot {
public:
    SoundReceiver();

    uint32_t GetReceiverFlags() const { return receiverFlags_; }
    void SetReceiverFlags(uint32_t flags) { receiverFlags_ = flags; }
    float GetVolume() const { return volume_; }
    // The master volume follows at once when the receiver is active and has updated once.
    void SetVolume(float volume);

    void ReceiveEvent(const EventRecord& event) override;
    void Update(float frameTime, int mode) override;
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    static void OnNodeFlagsChanged(Entity* target, Entity& object, const uint32_t* oldValue,
                                   const uint32_t* newValue);
    // Clears the enabled flag of every other fully enabled receiver.
    void DisableOthers();

    // Receiver updates since the last receiver was made, shared by all of them.
    static inline uint32_t updateCount_ = 0;

    uint32_t receiverFlags_ = 1;
    float volume_ = 1.0f;
    Float3 previous_;
};

} // namespace quarn
