#include "audio/OpenAlAudioSystem.h"
#include "audio/SoundBuffer.h"
#include "audio/SoundCaptureBuffer.h"
#include "audio/SoundVoice.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/LoopbackAudio.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <utility>

namespace quarn {
namespace {

TEST(VolumeScale, FactorsMapToHundredthsOfADecibelAndBackAsStored) {
    const std::pair<float, int32_t> cases[] = {
        {0.0f, -10000}, {-1.0f, -10000}, {0.000009f, -10000}, {0.00001f, -9965}, {0.1f, -1993},
        {0.5f, -600},   {1.0f, 0}};
    for (const auto& [factor, hundredths] : cases) {
        EXPECT_EQ(VolumeToHundredths(factor), hundredths) << factor;
    }
    EXPECT_GT(VolumeToHundredths(2.0f), 0);
    EXPECT_NEAR(HundredthsToVolume(-600), 0.49997f, 0.000005f);
}

// A machine without sound: every creation fails with its text and nothing that follows crashes.
TEST(AudioWithoutDevice, EveryCreationFailsWithItsTextAndTheProgramRunsOn) {
    test::UseNoAudioBackEnd();
    test::CapturingLogSink log;
    OpenAlAudioSystem audio;
    EXPECT_EQ(GetAudioSystem(), &audio);
    EXPECT_FALSE(audio.Init(AudioInit3D | 4, 16, 22050, 2));
    EXPECT_STREQ(audio.GetLastError(), "Couldn't create OpenAL device. This application requires "
                                       "an OpenAL compatible sound card to run.");
    EXPECT_EQ(audio.GetStateFlags(), 0u);

    SoundBuffer* buffer = audio.CreateSoundBuffer();
    EXPECT_FALSE(buffer->Create(SoundBuffer3D, 100, 16, 22050, 1));
    EXPECT_STREQ(buffer->GetLastError(), "Failed to create audio buffer");
    // The player said once that sound is off; a line per buffer would only repeat it.
    EXPECT_FALSE(log.Contains("Failed to create audio buffer"));
    EXPECT_FALSE(buffer->SetLockState(SoundLockedForWriting));
    const int16_t samples[100] = {1};
    buffer->SetData(samples);
    buffer->SetSample(0, 0x40000000);
    EXPECT_EQ(buffer->GetSample(0), 0);
    EXPECT_EQ(buffer->Play(false), nullptr);
    EXPECT_STREQ(buffer->GetLastError(), "Failed to duplicate sound buffer");
    EXPECT_TRUE(audio.Update());

    // Capture takes 8 or 16 bits, mono or stereo, and then fails only for want of an input.
    SoundCaptureBuffer* capture = audio.CreateCaptureBuffer();
    const uint32_t refused[][3] = {
        {12, 1, 100}, {24, 2, 100}, {16, 0, 100}, {8, 3, 100}, {8, 1, 0}};
    for (const auto& [bits, channels, length] : refused) {
        EXPECT_FALSE(capture->Create(0, length, bits, 22050, channels));
        EXPECT_EQ(capture->GetByteSize(), 0u) << bits << " bits, " << channels << " channels";
    }
    EXPECT_FALSE(capture->Create(0, 1000, 16, 22050, 1));
    EXPECT_EQ(capture->GetByteSize(), 2000u);
    capture->Start(false);
    EXPECT_EQ(capture->Update(), 0u);
    EXPECT_EQ(capture->GetCapturedSample(0), 0u);

    for (int index : {-1, 1}) {
        EXPECT_EQ(audio.GetSoundBuffer(index), nullptr);
        EXPECT_EQ(audio.GetCaptureBuffer(index), nullptr);
        EXPECT_EQ(buffer->GetVoice(index - 1), nullptr);
    }
    // A buffer the system does not hold is not its to delete.
    audio.DestroySoundBuffer(reinterpret_cast<SoundBuffer*>(&audio));
    audio.DestroySoundBuffer(buffer);
    EXPECT_EQ(audio.GetSoundBufferCount(), 0);
}

TEST(AudioSystemUpdate, CommitsWaitingSettingsOnlyWhileAVoicePlays) {
    test::LoopbackAudio loopback;
    OpenAlAudioSystem& audio = loopback.system;
    audio.SetListenerPosition({1.0f, 0.0f, 0.0f});
    EXPECT_TRUE(audio.Update());
    EXPECT_TRUE(audio.HasDeferredSettings());

    SoundVoice* voice = loopback.MakeTone(441, 22050)->Play(true);
    EXPECT_TRUE(audio.Update());
    EXPECT_FALSE(audio.HasDeferredSettings());
    delete voice;
}

// Where nothing is heard the game's steps do the mixing: a voice plays for its length however
// the time is cut into steps, each step's fraction of a frame carried into the next; a step of
// no time, or none at all, moves nothing, and an endless one moves a looping voice on by the
// bound.
TEST(AudioSystemUnheard, AVoicePlaysForItsLengthInTheStepsMixed) {
    test::LoopbackAudio loopback;
    OpenAlAudioSystem& audio = loopback.system;
    EXPECT_FALSE(audio.IsHeard());
    SoundBuffer* tone = loopback.MakeTone(441, 4410); // 0.2 s
    const std::pair<float, int> steps[] = {{1.0f / 60.0f, 12}, {0.001f, 200}, {0.25f, 1}};
    for (const auto& [step, frames] : steps) {
        SoundVoice* voice = tone->Play(false);
        int playing = 0;
        for (; playing < 1000 && voice->UpdateState() == VoicePlaying; ++playing) {
            for (float none : {0.0f, -1.0f, std::nanf("")}) {
                audio.MixUnheard(none);
            }
            audio.MixUnheard(step);
        }
        EXPECT_EQ(playing, frames) << step;
        delete voice;
    }
    SoundVoice* loop = loopback.MakeTone(441, 4000)->Play(true);
    audio.MixUnheard(std::numeric_limits<float>::infinity());
    EXPECT_EQ(loop->UpdateState(), VoicePlaying);
    EXPECT_NEAR(loop->GetPlayPosition(), 60 * 22050 % 4000, 64);
    delete loop;
}

} // namespace
} // namespace quarn
