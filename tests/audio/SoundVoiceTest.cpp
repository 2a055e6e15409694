#include "audio/SoundVoice.h"

#include "audio/SoundBuffer.h"
#include "tests/support/LoopbackAudio.h"
#include "tests/support/SoundFixtures.h"

#include <cmath>
#include <gtest/gtest.h>

namespace quarn {
namespace {

constexpr uint32_t Rate = test::LoopbackAudio::Rate;

double Decibels(double level, double reference) {
    return 20.0 * std::log10(level / reference);
}

class VoiceMix : public ::testing::Test {
protected:
    // The level of the next 0.2 s, after OpenAL's short ramp toward a new gain.
    test::StereoLevel SteadyLevel() {
        loopback_.Render(1024);
        return test::LoopbackAudio::Level(loopback_.Render(4410));
    }

    test::LoopbackAudio loopback_;
};

TEST_F(VoiceMix, SilenceUntilPlayedAndHalfVolumeSixDecibelsDown) {
    SoundVoice* voice = loopback_.MakeTone(441, Rate, 1, 0)->Play(false);
    voice->Stop();
    EXPECT_EQ(SteadyLevel().left, 0.0);
    voice->Play(true);
    const double full = SteadyLevel().left;
    EXPECT_GT(full, 0.05);
    voice->SetVolume(0.5f);
    EXPECT_NEAR(Decibels(SteadyLevel().left, full), -6.0, 0.1);
    voice->SetVolume(2.0f); // louder than full is refused
    EXPECT_NEAR(voice->GetVolume(), 0.49997f, 0.00001f);
    delete voice;
}

TEST_F(VoiceMix, PanMovesMonoAndStereoSoundsToOneSide) {
    for (uint32_t channels : {1u, 2u}) {
        SoundVoice* voice = loopback_.MakeTone(441, Rate, channels, 0)->Play(true);
        voice->SetPan(-1.0f);
        test::StereoLevel level = SteadyLevel();
        EXPECT_GT(Decibels(level.left, level.right), 20.0) << channels << " channels";
        voice->SetPan(0.75f);
        level = SteadyLevel();
        EXPECT_GT(level.right, level.left * 2.0) << channels << " channels";
        voice->SetPan(1.5f); // refused
        EXPECT_FLOAT_EQ(voice->GetPan(), 0.75f);
        delete voice;
    }
}

// The engine's space is left-handed: facing +Z, +X is on the right; turned to face +X, -Z is.
// Each of the first two cases catches a lost z negation, of the listener or of the source.
TEST_F(VoiceMix, A3DSourceOnTheRightIsHeardOnTheRightAndNothingBeyondItsMaximum) {
    const struct {
        const char* name;
        Quaternion listener;
        Float3 source;
        float maxDistance;
    } cases[] = {
        {"facing +z", Quaternion(), {5.0f, 0.0f, 0.0f}, 1.0e9f},
        {"facing +x", Quaternion::RotationFromZ({1.0f, 0.0f, 0.0f}), {0.0f, 0.0f, -5.0f}, 6.0f},
        {"too far", Quaternion(), {5.0f, 0.0f, 0.0f}, 4.0f},
    };
    for (const auto& c : cases) {
        SoundBuffer* buffer = loopback_.MakeTone(441, Rate);
        SoundVoice* voice = buffer->Play(true);
        loopback_.system.SetListenerOrientation(c.listener);
        voice->SetPosition(c.source);
        voice->SetMaxDistance(c.maxDistance);
        ASSERT_TRUE(loopback_.system.Update());
        const test::StereoLevel level = SteadyLevel();
        if (c.maxDistance < 5.0f) {
            EXPECT_EQ(level.right, 0.0) << c.name;
        } else {
            EXPECT_GT(Decibels(level.right, level.left), 10.0) << c.name;
        }
        delete voice;
        loopback_.system.DestroySoundBuffer(buffer);
    }
}

TEST_F(VoiceMix, AOneShotVoiceEndsAndCallsBackOnceWhileALoopNeverEnds) {
    static int calls;
    calls = 0;
    SoundBuffer* tenth = loopback_.MakeTone(441, Rate / 10);
    SoundVoice* once = tenth->Play(false);
    SoundVoice* loop = tenth->Play(true);
    once->SetFinishedCallback([](SoundVoice*, uint32_t argument) { calls += int(argument); }, 1);
    loopback_.Render(Rate / 20);
    EXPECT_EQ(once->UpdateState(), VoicePlaying);
    for (int i = 0; i < 10; ++i) {
        loopback_.Render(Rate / 5);
        EXPECT_EQ(once->UpdateState(), VoiceIdle);
        EXPECT_EQ(loop->UpdateState(), VoicePlaying);
    }
    EXPECT_EQ(calls, 1);
    delete loop;
    EXPECT_EQ(SteadyLevel().left, 0.0);
    delete once;
}

TEST_F(VoiceMix, PauseKeepsTheCursorAndStopStartsOver) {
    SoundVoice* voice = loopback_.MakeTone(441, Rate)->Play(false);
    loopback_.Render(4000);
    voice->Pause();
    const uint32_t cursor = voice->GetPlayPosition();
    EXPECT_NEAR(cursor, 4000, 64);
    loopback_.Render(4000);
    voice->Play(false);
    loopback_.Render(1000);
    voice->Stop();
    EXPECT_NEAR(voice->GetPlayPosition(), cursor + 1000, 64);
    voice->SetPlayPosition(Rate); // past the end: refused
    EXPECT_NEAR(voice->GetPlayPosition(), cursor + 1000, 64);
    voice->Play(false);
    EXPECT_EQ(voice->GetPlayPosition(), 0u);
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
