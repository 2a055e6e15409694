#include "audio/SoundVoice.h"

#include "audio/SoundBuffer.h"
#include "tests/support/LoopbackAudio.h"
#include "tests/support/SoundFixtures.h"

#include <cmath>
#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::LoopbackAudio;

constexpr uint32_t Rate = LoopbackAudio::Rate;

double Decibels(double level, double reference) {
    return 20.0 * std::log10(level / reference);
}

class VoiceMix : public ::testing::Test {
protected:
    // The level of the next `frames` frames, after OpenAL's short ramp toward a new gain.
    test::StereoLevel SteadyLevel(uint32_t frames = 4410) {
        loopback_.Render(1024);
        return LoopbackAudio::Level(loopback_.Render(frames));
    }

    LoopbackAudio loopback_;
};

TEST_F(VoiceMix, SilenceUntilAVoicePlaysThenSignal) {
    SoundBuffer* buffer = loopback_.MakeTone(441, Rate);
    EXPECT_EQ(LoopbackAudio::Level(loopback_.Render(2048)).left, 0.0);
    SoundVoice* voice = buffer->Play(true);
    ASSERT_NE(voice, nullptr);
    const test::StereoLevel level = SteadyLevel();
    EXPECT_GT(level.left, 0.05);
    EXPECT_GT(level.right, 0.05);
    delete voice;
}

TEST_F(VoiceMix, HalfVolumeIsSixDecibelsDown) {
    SoundVoice* voice = loopback_.MakeTone(441, Rate, 1, 0)->Play(true);
    const double full = SteadyLevel().left;
    voice->SetVolume(0.5f);
    EXPECT_NEAR(Decibels(SteadyLevel().left, full), -6.0, 0.1);
    EXPECT_NEAR(voice->GetVolume(), 0.49997f, 0.00001f);
    // Louder than full is refused and the volume stays.
    voice->SetVolume(2.0f);
    EXPECT_NEAR(voice->GetVolume(), 0.49997f, 0.00001f);
    voice->SetVolume(0.0f);
    EXPECT_LT(SteadyLevel().left, full * 0.0001);
    delete voice;
}

TEST_F(VoiceMix, PanMovesTheSoundToOneSide) {
    for (uint32_t channels : {1u, 2u}) {
        SoundVoice* voice = loopback_.MakeTone(441, Rate, channels, 0)->Play(true);
        voice->SetPan(-1.0f);
        test::StereoLevel level = SteadyLevel();
        EXPECT_GT(Decibels(level.left, level.right), 20.0) << channels << " channels";
        voice->SetPan(0.75f);
        level = SteadyLevel();
        EXPECT_GT(level.right, level.left * 2.0) << channels << " channels";
        EXPECT_FLOAT_EQ(voice->GetPan(), 0.75f);
        voice->SetPan(1.5f);
        EXPECT_FLOAT_EQ(voice->GetPan(), 0.75f);
        delete voice;
    }
}

// The engine's coordinates are left-handed: facing +Z, +X is on the right; turned to face +X,
// -Z is. The second case catches a lost z negation.
TEST_F(VoiceMix, A3DSourceOnTheRightIsHeardOnTheRight) {
    const struct {
        const char* name;
        Quaternion listener;
        Float3 source;
    } cases[] = {
        {"facing +z", Quaternion(), {5.0f, 0.0f, 0.0f}},
        {"facing +x", Quaternion::RotationFromZ({1.0f, 0.0f, 0.0f}), {0.0f, 0.0f, -5.0f}},
    };
    for (const auto& c : cases) {
        SoundBuffer* buffer = loopback_.MakeTone(441, Rate);
        SoundVoice* voice = buffer->Play(true);
        ASSERT_TRUE(voice->Is3DEnabled());
        loopback_.system.SetListenerOrientation(c.listener);
        voice->SetPosition(c.source);
        ASSERT_TRUE(loopback_.system.Update());
        const test::StereoLevel level = SteadyLevel();
        EXPECT_GT(Decibels(level.right, level.left), 10.0) << c.name;
        EXPECT_EQ(voice->GetPan(), 0.0f);
        delete voice;
        loopback_.system.DestroySoundBuffer(buffer);
    }
}

TEST_F(VoiceMix, A3DSourceBeyondItsMaximumDistanceIsSilent) {
    SoundVoice* voice = loopback_.MakeTone(441, Rate)->Play(true);
    voice->SetPosition({0.0f, 0.0f, 5.0f});
    voice->SetMaxDistance(4.0f);
    loopback_.system.Update();
    EXPECT_EQ(SteadyLevel().left, 0.0);
    voice->SetMaxDistance(6.0f);
    loopback_.system.Update();
    EXPECT_GT(SteadyLevel().left, 0.01);
    EXPECT_EQ(voice->GetMaxDistance(), 6.0f);
    delete voice;
}

TEST_F(VoiceMix, PitchTwoDoublesTheFrequency) {
    SoundVoice* voice = loopback_.MakeTone(441, Rate, 1, 0)->Play(true);
    voice->SetPitch(2.0f);
    EXPECT_EQ(voice->GetPitch(), 2.0f);
    loopback_.Render(1024);
    const std::vector<float> mix = loopback_.Render(Rate);
    EXPECT_NEAR(test::CountRisingCrossings(mix.data(), Rate, 2, 0), 882, 3);
    // Outside 100 Hz to 200 kHz the frequency is refused; 0 restores the buffer's rate.
    voice->SetPitch(100.0f);
    EXPECT_EQ(voice->GetPitch(), 2.0f);
    voice->SetPitch(0.0f);
    EXPECT_EQ(voice->GetPitch(), 1.0f);
    delete voice;
}

TEST_F(VoiceMix, AOneShotVoiceEndsAndCallsBackOnce) {
    static int calls;
    static uint32_t argument;
    calls = 0;
    SoundVoice* voice = loopback_.MakeTone(441, Rate / 10)->Play(false);
    voice->SetFinishedCallback(
        [](SoundVoice*, uint32_t value) {
            ++calls;
            argument = value;
        },
        77);
    loopback_.Render(Rate / 20);
    EXPECT_EQ(voice->UpdateState(), VoicePlaying);
    loopback_.Render(Rate / 5);
    EXPECT_EQ(voice->UpdateState(), VoiceIdle);
    EXPECT_EQ(voice->UpdateState(), VoiceIdle);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(argument, 77u);
    EXPECT_EQ(LoopbackAudio::Level(loopback_.Render(1024)).left, 0.0);
    delete voice;
}

TEST_F(VoiceMix, ALoopingVoiceNeverEnds) {
    SoundVoice* voice = loopback_.MakeTone(441, Rate / 10)->Play(true);
    for (int i = 0; i < 10; ++i) {
        loopback_.Render(Rate / 5);
        EXPECT_EQ(voice->UpdateState(), VoicePlaying);
    }
    EXPECT_GT(SteadyLevel().left, 0.05);
    delete voice;
}

TEST_F(VoiceMix, PauseKeepsTheCursorAndStopStartsOver) {
    SoundVoice* voice = loopback_.MakeTone(441, Rate)->Play(false);
    loopback_.Render(4000);
    voice->Pause();
    const uint32_t cursor = voice->GetPlayPosition();
    EXPECT_NEAR(cursor, 4000, 64);
    loopback_.Render(4000);
    EXPECT_EQ(voice->GetPlayPosition(), cursor);
    voice->Play(false);
    loopback_.Render(1000);
    EXPECT_NEAR(voice->GetPlayPosition(), cursor + 1000, 64);

    voice->Stop();
    EXPECT_EQ(voice->UpdateState(), VoiceStopped);
    EXPECT_NEAR(voice->GetPlayPosition(), cursor + 1000, 64);
    voice->SetPlayPosition(Rate); // one past the end: refused
    EXPECT_NEAR(voice->GetPlayPosition(), cursor + 1000, 64);
    voice->Play(false);
    EXPECT_EQ(voice->GetPlayPosition(), 0u);
    voice->SetPlayPosition(Rate - 1);
    EXPECT_EQ(voice->GetPlayPosition(), Rate - 1);
    delete voice;
}

TEST_F(VoiceMix, WritingTheBufferReachesTheVoicesThatPlayIt) {
    SoundBuffer* buffer = loopback_.system.CreateSoundBuffer();
    ASSERT_TRUE(buffer->Create(0, Rate, 16, Rate, 1));
    SoundVoice* voice = buffer->Play(true);
    EXPECT_EQ(SteadyLevel().left, 0.0);
    ASSERT_TRUE(buffer->SetLockState(SoundLockedForWriting));
    for (uint32_t i = 0; i < Rate; ++i) {
        buffer->SetSample(i, i % 50 < 25 ? 0x40000000 : -0x40000000);
    }
    ASSERT_TRUE(buffer->SetLockState(SoundUnlocked));
    EXPECT_EQ(voice->UpdateState(), VoicePlaying);
    EXPECT_GT(SteadyLevel().left, 0.1);
    delete voice;
}

} // namespace
} // namespace quarn
