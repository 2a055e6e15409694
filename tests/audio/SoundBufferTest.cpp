#include "audio/SoundBuffer.h"

#include "audio/SoundVoice.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/LoopbackAudio.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::LoopbackAudio;

TEST(SoundBufferCreate, RefusesWhatTheDeviceCannotPlay) {
    LoopbackAudio loopback;
    test::CapturingLogSink log;
    const struct {
        const char* name;
        uint32_t length, bits, rate, channels;
    } refused[] = {
        {"24 bits", 100, 24, 22050, 1},
        {"32 bits", 100, 32, 22050, 2},
        {"0 bits", 100, 0, 22050, 1},
        {"0 channels", 100, 16, 22050, 0},
        {"3 channels", 100, 16, 22050, 3},
        {"no frames", 0, 16, 22050, 1},
        {"50 Hz", 100, 16, 50, 1},
        {"300 kHz", 100, 16, 300000, 1},
        {"over 256 MiB", 0x4000000, 16, 22050, 2},
    };
    for (const auto& c : refused) {
        SoundBuffer* buffer = loopback.system.CreateSoundBuffer();
        EXPECT_FALSE(buffer->Create(0, c.length, c.bits, c.rate, c.channels)) << c.name;
        EXPECT_STREQ(buffer->GetLastError(), "Failed to create audio buffer") << c.name;
        EXPECT_EQ(buffer->GetByteSize(), 0u) << c.name;
        EXPECT_FALSE(buffer->SetLockState(SoundLockedForReading)) << c.name;
    }
    EXPECT_EQ(log.Lines().size(), std::size(refused));

    SoundBuffer* stereo = loopback.system.CreateSoundBuffer();
    ASSERT_TRUE(stereo->Create(SoundBuffer3D, 100, 8, 8000, 2));
    EXPECT_EQ(stereo->GetByteSize(), 200u);
    EXPECT_FALSE(stereo->Is3D()); // stereo is never 3D
}

TEST(SoundBufferSamples, ComeAndGoAtFullScaleWhileLocked) {
    LoopbackAudio loopback;
    SoundBuffer* narrow = loopback.system.CreateSoundBuffer();
    SoundBuffer* wide = loopback.system.CreateSoundBuffer();
    ASSERT_TRUE(narrow->Create(0, 4, 8, 8000, 1));
    ASSERT_TRUE(wide->Create(0, 2, 16, 8000, 2));
    // Unlocked: nothing is written or read.
    narrow->SetSample(0, 0x7F000000);
    EXPECT_EQ(narrow->GetSample(0), 0);
    EXPECT_EQ(narrow->GetData(), nullptr);

    ASSERT_TRUE(narrow->SetLockState(SoundLockedForWriting));
    ASSERT_TRUE(wide->SetLockState(SoundLockedForWriting));
    const struct {
        SoundBuffer* buffer;
        int32_t written, read;
        uint8_t low, high; // the stored bytes
    } cases[] = {
        {narrow, 0x7F123456, 0x7F000000, 0xFF, 0},
        {narrow, INT32_MIN, INT32_MIN, 0x00, 0},
        {narrow, 0, 0, 0x80, 0},
        {wide, 0x12345678, 0x12340000, 0x34, 0x12},
        {wide, -0x10000, -0x10000, 0xFF, 0xFF},
    };
    for (const auto& c : cases) {
        c.buffer->SetSample(1, c.written);
        EXPECT_EQ(c.buffer->GetSample(1), c.read) << std::hex << c.written;
        const uint32_t width = c.buffer->GetBitsPerSample() / 8;
        EXPECT_EQ(c.buffer->GetData()[width], c.low);
        if (width == 2) {
            EXPECT_EQ(c.buffer->GetData()[3], c.high);
        }
    }
    // Indexes count samples: four of each buffer, and none past them.
    wide->SetSample(3, 0x7FFF0000);
    EXPECT_EQ(wide->GetSample(3), 0x7FFF0000);
    wide->SetSample(4, 0x7FFF0000);
    EXPECT_EQ(wide->GetSample(4), 0);
    EXPECT_EQ(narrow->GetSample(0xFFFFFFFF), 0);
    EXPECT_TRUE(narrow->SetLockState(SoundUnlocked));
    EXPECT_EQ(narrow->GetLockState(), SoundUnlocked);
}

TEST(SoundBufferFlags, AreRefusedWhileTheBufferHasVoices) {
    LoopbackAudio loopback;
    SoundBuffer* buffer = loopback.MakeTone(441, 1000);
    EXPECT_EQ(buffer->SetFlags(SoundBuffer3D, 0), 0);
    EXPECT_EQ(buffer->GetFlags(0xFFFFFFFF), 0u);
    SoundVoice* voice = buffer->Play(false);
    EXPECT_EQ(buffer->GetVoiceCount(), 1);
    EXPECT_NE(buffer->SetFlags(SoundBuffer3D, SoundBuffer3D), 0);
    EXPECT_EQ(buffer->GetFlags(SoundBuffer3D), 0u);
    delete voice;
    EXPECT_EQ(buffer->GetVoiceCount(), 0);
    EXPECT_EQ(buffer->SetFlags(SoundBuffer3D, SoundBuffer3D), 0);
    EXPECT_EQ(buffer->GetFlags(0xFFFFFFFF), SoundBuffer3D);
}

TEST(SoundBufferVoices, OfA2DBufferIgnore3DSettings) {
    LoopbackAudio loopback;
    SoundVoice* voice = loopback.MakeTone(441, 1000, 2)->Play(false);
    voice->Set3DEnabled(true);
    voice->SetPosition({1.0f, 2.0f, 3.0f});
    voice->SetVelocity({1.0f, 2.0f, 3.0f});
    voice->SetMinDistance(5.0f);
    EXPECT_FALSE(voice->Is3DEnabled());
    EXPECT_EQ(voice->GetPosition().x, 0.0f);
    EXPECT_EQ(voice->GetVelocity().z, 0.0f);
    EXPECT_EQ(voice->GetConeOrientation().z, 1.0f);
    EXPECT_EQ(voice->GetMinDistance(), 0.0f);
    EXPECT_FALSE(loopback.system.HasDeferredSettings());
    voice->SetPan(-0.25f);
    EXPECT_FLOAT_EQ(voice->GetPan(), -0.25f);
    delete voice;
}

} // namespace
} // namespace quarn
