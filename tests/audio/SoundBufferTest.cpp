#include "audio/SoundBuffer.h"

#include "audio/SoundVoice.h"
#include "core/os/HeldMemory.h"
#include "tests/support/FreshProcess.h"
#include "tests/support/LoopbackAudio.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <tuple>

namespace quarn {
namespace {

TEST(SoundBufferCreate, RefusesWhatTheDeviceCannotPlay) {
    test::LoopbackAudio loopback;
    const uint32_t refused[][4] = {
        // length, bits, rate, channels
        {100, 24, 22050, 1}, {100, 32, 22050, 2},  {100, 0, 22050, 1},
        {100, 16, 22050, 0}, {100, 16, 22050, 3},  {0, 16, 22050, 1},
        {100, 16, 50, 1},    {100, 16, 300000, 1}, {0x4000000, 16, 22050, 2}, // over 256 MiB
    };
    for (const auto& [length, bits, rate, channels] : refused) {
        SoundBuffer* buffer = loopback.system.CreateSoundBuffer();
        EXPECT_FALSE(buffer->Create(0, length, bits, rate, channels)) << bits << " bits " << rate;
        EXPECT_STREQ(buffer->GetLastError(), "Failed to create audio buffer");
        EXPECT_FALSE(buffer->SetLockState(SoundLockedForReading));
    }
    SoundBuffer* stereo = loopback.system.CreateSoundBuffer();
    ASSERT_TRUE(stereo->Create(SoundBuffer3D, 100, 8, 8000, 2));
    EXPECT_EQ(stereo->GetByteSize(), 200u);
    EXPECT_FALSE(stereo->Is3D()); // stereo is never 3D
}

// What a sound's load says of a buffer it cannot have, the file's name before it.
TEST(SoundBufferCreate, SaysWhyItRefusesAFormat) {
    const struct {
        uint32_t length, bits, rate, channels;
        const char* why;
    } cases[] = {
        {100, 24, 22050, 1,
         "its 24-bit samples in 1 channel are none a sound buffer takes (8 "
         "or 16 bits in 1 or 2 channels)"},
        {100, 16, 99, 1,
         "its sample rate of 99 Hz is outside the 100 to 200000 Hz a sound "
         "buffer plays"},
        {0, 16, 22050, 1, "it holds no sample"},
        {0x4000000, 16, 22050, 2,
         "it decodes to more than the 268435455 bytes a sound buffer "
         "holds"},
        {0x3FFFFFF, 16, 22050, 2, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SoundBuffer::WhyRefused(c.length, c.bits, c.rate, c.channels), c.why)
            << c.length << " " << c.bits << " " << c.rate << " " << c.channels;
    }
}

TEST(SoundBufferSamples, ComeAndGoAtFullScaleWhileLocked) {
    test::LoopbackAudio loopback;
    SoundBuffer* narrow = loopback.system.CreateSoundBuffer();
    SoundBuffer* wide = loopback.system.CreateSoundBuffer();
    ASSERT_TRUE(narrow->Create(0, 4, 8, 8000, 1));
    ASSERT_TRUE(wide->Create(0, 2, 16, 8000, 2));
    narrow->SetSample(0, 0x7F000000);
    EXPECT_EQ(narrow->GetSample(0), 0) << "unlocked";
    EXPECT_EQ(narrow->GetData(), nullptr);

    ASSERT_TRUE(narrow->SetLockState(SoundLockedForWriting));
    ASSERT_TRUE(wide->SetLockState(SoundLockedForWriting));
    const std::tuple<SoundBuffer*, int32_t, int32_t> cases[] = {
        {narrow, 0x7F123456, 0x7F000000}, {narrow, INT32_MIN, INT32_MIN}, {narrow, 0, 0},
        {wide, 0x12345678, 0x12340000},   {wide, -0x10000, -0x10000},
    };
    for (const auto& [buffer, written, read] : cases) {
        buffer->SetSample(1, written);
        EXPECT_EQ(buffer->GetSample(1), read) << std::hex << written;
    }
    EXPECT_EQ(wide->GetData()[3], 0xFF); // 16-bit samples are stored little-endian
    // Indexes count samples, not frames, and stop at the last one.
    wide->SetSample(3, 0x7FFF0000);
    wide->SetSample(4, 0x7FFF0000);
    EXPECT_EQ(wide->GetSample(3), 0x7FFF0000);
    EXPECT_EQ(wide->GetSample(4), 0);
    EXPECT_EQ(narrow->GetSample(0xFFFFFFFF), 0);
}

TEST(SoundBufferVoices, BlockFlagChangesAndIgnore3DWhenTheBufferIsNot3D) {
    test::LoopbackAudio loopback;
    SoundBuffer* buffer = loopback.MakeTone(441, 1000, 2);
    SoundVoice* voice = buffer->Play(false);
    EXPECT_NE(buffer->SetFlags(SoundBuffer3D, SoundBuffer3D), 0);
    EXPECT_EQ(buffer->GetFlags(SoundBuffer3D), 0u);

    voice->SetPosition({1.0f, 2.0f, 3.0f});
    voice->SetMinDistance(5.0f);
    EXPECT_EQ(voice->GetPosition().x, 0.0f);
    EXPECT_EQ(voice->GetMinDistance(), 0.0f);
    EXPECT_FALSE(loopback.system.HasDeferredSettings());

    delete voice;
    EXPECT_EQ(buffer->GetVoiceCount(), 0);
    EXPECT_EQ(buffer->SetFlags(SoundBuffer3D, SoundBuffer3D), 0);
    EXPECT_EQ(buffer->GetFlags(~0u), SoundBuffer3D);
}

// What a 4 MiB sound adds to the held memory while the system holds it, and what stays once it
// is gone; rewriting its samples adds nothing.
std::pair<size_t, size_t> HeldForASound(AudioSystem& audio) {
    constexpr uint32_t Frames = 2 << 20; // 16-bit mono: 4 MiB
    const size_t before = GetHeldMemory();
    SoundBuffer* buffer = audio.CreateSoundBuffer();
    const bool made = buffer->Create(SoundBuffer3D, Frames, 16, 22050, 1);
    const size_t held = GetHeldMemory() - before;
    if (made) {
        EXPECT_TRUE(buffer->SetLockState(SoundLockedForWriting));
        buffer->SetSample(0, 0x40000000);
        EXPECT_TRUE(buffer->SetLockState(SoundUnlocked));
        EXPECT_EQ(GetHeldMemory() - before, held) << "an upload replaces the library's copy";
    }
    audio.DestroySoundBuffer(buffer);
    const size_t after = GetHeldMemory() - std::min(GetHeldMemory(), before);
    return {held, after};
}

constexpr size_t SoundBytes = size_t(4) << 20;

// A sound lies in memory twice, the engine's samples and the audio library's copy: both are
// counted, on every output, and given back with the sound.
TEST(SoundBufferMemory, EveryCopyOfTheSamplesIsCounted) {
    test::ExpectInFreshProcess([] {
        setenv("ALSOFT_DRIVERS", "null", 1);
        OpenAlAudioSystem device;
        ASSERT_TRUE(device.Init(AudioInit3D | 4, 16, 22050, 2)) << device.GetLastError();
        const auto [held, after] = HeldForASound(device);
        EXPECT_GE(held, 2 * SoundBytes) << "null device";
        EXPECT_LT(after, SoundBytes / 4) << "null device";
    });
    {
        test::LoopbackAudio loopback;
        const auto [held, after] = HeldForASound(loopback.system);
        EXPECT_GE(held, 2 * SoundBytes) << "loopback";
        EXPECT_LT(after, SoundBytes / 4) << "loopback";
    }
    test::UseNoAudioBackEnd();
    OpenAlAudioSystem none;
    EXPECT_FALSE(none.Init(AudioInit3D | 4, 16, 22050, 2));
    const auto [held, after] = HeldForASound(none);
    EXPECT_LT(held, SoundBytes / 4) << "no device: no sound is made";
    EXPECT_LT(after, SoundBytes / 4);
}

} // namespace
} // namespace quarn
