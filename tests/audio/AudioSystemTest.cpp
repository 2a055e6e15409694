#include "audio/OpenAlAudioSystem.h"
#include "audio/SoundBuffer.h"
#include "audio/SoundCaptureBuffer.h"
#include "audio/SoundVoice.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/LoopbackAudio.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::LoopbackAudio;

TEST(VolumeScale, FactorsMapToHundredthsOfADecibelAndBackAsStored) {
    const struct {
        float factor;
        int32_t hundredths;
    } cases[] = {
        {0.0f, -10000}, {-1.0f, -10000}, {0.000009f, -10000}, {1.0f, 0},
        {0.5f, -600},   {0.1f, -1993},   {0.00001f, -9965},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VolumeToHundredths(c.factor), c.hundredths) << c.factor;
    }
    EXPECT_GT(VolumeToHundredths(2.0f), 0);
    EXPECT_NEAR(HundredthsToVolume(-600), 0.49997f, 0.000005f);
    EXPECT_FLOAT_EQ(HundredthsToVolume(0), 1.0f);
}

// Every creation fails with its text and nothing that follows may crash.
TEST(AudioWithoutDevice, EveryCreationFailsWithItsTextAndTheProgramRunsOn) {
    test::UseNoAudioBackEnd();
    test::CapturingLogSink log;
    OpenAlAudioSystem audio;
    EXPECT_EQ(GetAudioSystem(), &audio);
    EXPECT_FALSE(audio.Init(AudioInit3D | 4, 16, 22050, 2));
    EXPECT_STREQ(audio.GetLastError(),
                 "Couldn't create OpenAL device. This application requires an OpenAL compatible "
                 "sound card to run.");
    EXPECT_EQ(audio.GetStateFlags(), 0u);

    SoundBuffer* buffer = audio.CreateSoundBuffer();
    EXPECT_FALSE(buffer->Create(SoundBuffer3D, 100, 16, 22050, 1));
    EXPECT_STREQ(buffer->GetLastError(), "Failed to create audio buffer");
    EXPECT_TRUE(log.Contains("Failed to create audio buffer"));
    EXPECT_FALSE(buffer->SetLockState(SoundLockedForWriting));
    const int16_t samples[100] = {1};
    buffer->SetData(samples);
    buffer->SetSample(0, 0x40000000);
    EXPECT_EQ(buffer->GetSample(0), 0);
    EXPECT_EQ(buffer->GetByteSize(), 0u);
    EXPECT_EQ(buffer->Play(false), nullptr);
    EXPECT_STREQ(buffer->GetLastError(), "Failed to duplicate sound buffer");

    audio.SetListenerPosition({1, 2, 3});
    audio.SetMasterVolume(0.5f);
    EXPECT_TRUE(audio.Update());
    EXPECT_FALSE(audio.CreateCaptureBuffer()->Create(0, 1000, 16, 22050, 1));
    audio.DestroySoundBuffer(buffer);
    EXPECT_EQ(audio.GetSoundBufferCount(), 0);
}

TEST(AudioSystemLists, IndexesOutsideTheListsAnswerNothing) {
    LoopbackAudio loopback;
    OpenAlAudioSystem& audio = loopback.system;
    SoundBuffer* buffer = loopback.MakeTone(441, 100);
    SoundCaptureBuffer* capture = audio.CreateCaptureBuffer();
    EXPECT_EQ(audio.GetSoundBuffer(0), buffer);
    EXPECT_EQ(audio.GetCaptureBuffer(0), capture);
    for (int index : {-1, 1, 1000}) {
        EXPECT_EQ(audio.GetSoundBuffer(index), nullptr);
        EXPECT_EQ(audio.GetCaptureBuffer(index), nullptr);
        EXPECT_EQ(buffer->GetVoice(index), nullptr);
    }
    // A buffer the system does not hold is not its to delete.
    audio.DestroySoundBuffer(reinterpret_cast<SoundBuffer*>(&audio));
    audio.DestroyCaptureBuffer(capture);
    EXPECT_EQ(audio.GetSoundBufferCount(), 1);
    EXPECT_EQ(audio.GetCaptureBufferCount(), 0);
}

TEST(AudioSystemUpdate, CommitsWaitingSettingsOnlyWhileAVoicePlays) {
    LoopbackAudio loopback;
    OpenAlAudioSystem& audio = loopback.system;
    audio.SetListenerPosition({1.0f, 0.0f, 0.0f});
    EXPECT_TRUE(audio.HasDeferredSettings());
    EXPECT_TRUE(audio.Update());
    EXPECT_TRUE(audio.HasDeferredSettings());

    SoundVoice* voice = loopback.MakeTone(441, 22050)->Play(true);
    ASSERT_NE(voice, nullptr);
    EXPECT_TRUE(audio.Update());
    EXPECT_FALSE(audio.HasDeferredSettings());
    EXPECT_EQ(audio.GetListenerPosition().x, 1.0f);
    delete voice;
}

TEST(AudioSystemListener, OrientationReadsBackAndNeedsThe3DListener) {
    LoopbackAudio loopback;
    const Quaternion turned = Quaternion::FromAxisAngle(1.0f, {0.0f, 1.0f, 0.0f});
    loopback.system.SetListenerOrientation(turned);
    Quaternion read = loopback.system.GetListenerOrientation();
    const float sign = read.w * turned.w < 0.0f ? -1.0f : 1.0f;
    EXPECT_NEAR(read.x * sign, turned.x, 1e-5f);
    EXPECT_NEAR(read.y * sign, turned.y, 1e-5f);
    EXPECT_NEAR(read.z * sign, turned.z, 1e-5f);
    EXPECT_NEAR(read.w * sign, turned.w, 1e-5f);

    OpenAlAudioSystem flat(AudioOutput::Loopback);
    ASSERT_TRUE(flat.Init(0, 16, 22050, 2));
    flat.SetListenerOrientation(turned);
    flat.SetListenerPosition({5.0f, 0.0f, 0.0f});
    read = flat.GetListenerOrientation();
    EXPECT_EQ(read.w, 1.0f);
    EXPECT_EQ(flat.GetListenerPosition().x, 0.0f);
    EXPECT_FALSE(flat.HasDeferredSettings());
}

TEST(AudioSystemEnabled, DisablingStopsEveryVoice) {
    LoopbackAudio loopback;
    SoundBuffer* buffer = loopback.MakeTone(441, 22050);
    SoundVoice* first = buffer->Play(true);
    SoundVoice* second = buffer->Play(false);
    loopback.system.SetEnabled(false);
    EXPECT_FALSE(loopback.system.IsEnabled());
    EXPECT_EQ(first->UpdateState(), VoiceStopped);
    EXPECT_EQ(second->UpdateState(), VoiceStopped);
    EXPECT_EQ(LoopbackAudio::Level(loopback.Render(512)).left, 0.0);
    delete first;
    delete second;
}

} // namespace
} // namespace quarn
