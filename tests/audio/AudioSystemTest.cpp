#include "audio/OpenAlAudioSystem.h"
#include "audio/SoundBuffer.h"
#include "audio/SoundCaptureBuffer.h"
#include "audio/SoundVoice.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/LoopbackAudio.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace quarn
