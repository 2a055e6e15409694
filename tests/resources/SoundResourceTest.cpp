#include "resources/SoundResource.h"

#include "audio/SoundBuffer.h"
#include "tests/resources/ResourceTestSupport.h"
#include "tests/support/LoopbackAudio.h"
#include "tests/support/ScopedValue.h"
#include "tests/support/SoundFixtures.h"

#include <memory>
#include <string>
#include <sys/stat.h>

namespace quarn {
namespace {

using test::ResourceDiskTest;
using test::WavChunk;
using test::WavFile;
using test::WavFormat;

// The buffer's bytes, read through a lock.
std::string Samples(SoundBuffer& buffer) {
    EXPECT_TRUE(buffer.SetLockState(SoundLockedForReading));
    const std::string bytes(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetByteSize());
    buffer.SetLockState(SoundUnlocked);
    return bytes;
}

// The placeholder: 1024 frames of 8-bit mono at 8192 Hz.
void ExpectPlaceholder(const SoundResource& sound, const char* name) {
    ASSERT_NE(sound.GetSoundBuffer(), nullptr) << name;
    EXPECT_EQ(sound.GetSoundBuffer()->GetSampleRate(), 8192u) << name;
    EXPECT_EQ(sound.GetDataSize(), 1024u) << name;
}

class SoundResources : public ResourceDiskTest {
protected:
    void TearDown() override {
        ResourceDiskTest::TearDown();
        EXPECT_EQ(audio_.system.GetSoundBufferCount(), 0) << "a sound buffer outlived its sound";
    }

    test::LoopbackAudio audio_;
};

TEST_F(SoundResources, WavAndOggFilesLoadIntoBuffersThatPlay) {
    const std::string wav = test::ReadSoundFixture("pcm16_stereo.wav");
    temp_.WriteFile("Sounds/Stereo.WAV", wav);
    temp_.WriteFile("sine.ogg", test::ReadSoundFixture("sine441.ogg"));
    SoundResource* stereo = GetSoundResource("sounds/stereo.wav", nullptr);
    SoundResource* sine = GetSoundResource("sine.ogg", nullptr);
    EXPECT_EQ(stereo->GetState(), ResourceShared);
    EXPECT_EQ(sine->GetState(), ResourceShared);
    SoundBuffer& pcm = *stereo->GetSoundBuffer();
    EXPECT_EQ(pcm.GetSampleRate(), 11025u);
    EXPECT_EQ(pcm.GetChannels(), 2u);
    EXPECT_EQ(Samples(pcm), wav.substr(wav.size() - 200));
    SoundBuffer& tone = *sine->GetSoundBuffer();
    EXPECT_EQ(sine->GetDataSize(), 22050u);
    EXPECT_TRUE(tone.Is3D()); // mono files play in 3D
    // A reload replaces the buffer rather than adding one.
    EXPECT_TRUE(stereo->Load());
    EXPECT_EQ(audio_.system.GetSoundBufferCount(), 2);
    stereo->Release();
    sine->Release();
}

TEST_F(SoundResources, BrokenSoundsGetThePlaceholderAndSayWhy) {
    const std::string data = WavChunk("data", std::string(64, '\x10'));
    const struct {
        const char* name;
        std::string bytes;
        const char* log;
    } cases[] = {
        {"12bit.wav", WavFile(WavFormat(1, 1, 8000, 2, 12) + data),
         "Invalid wav file: '12bit.wav'"},
        {"24bit.wav", WavFile(WavFormat(1, 1, 8000, 3, 24) + data),
         "Invalid wav file: '24bit.wav'"},
        {"slow.wav", WavFile(WavFormat(1, 1, 50, 1, 8) + data),
         "Sound 'slow.wav' is not loaded: its sample rate of 50 Hz is outside the 100 to 200000 "
         "Hz a sound buffer plays"},
        {"fast.wav", WavFile(WavFormat(1, 2, 300000, 4, 16) + data),
         "Sound 'fast.wav' is not loaded: its sample rate of 300000 Hz is outside"},
        {"noise.ogg", std::string(500, 'x'),
         "Error while loading ogg file 'noise.ogg': error code"},
        {"song.mp3", "ID3", "Mp3 files are not supported in this version: 'song.mp3'"},
        {"song.flac", "fLaC", "Unknown sound format: 'song.flac'"},
        {"pipe.wav", "", "Sound 'pipe.wav' is not loaded: it cannot be opened: it is no regular"},
        {"pipe.ogg", "", "Sound 'pipe.ogg' is not loaded: it cannot be opened: it is no regular"},
    };
    for (const auto& c : cases) {
        if (std::string(c.name).starts_with("pipe")) {
            ASSERT_EQ(mkfifo(temp_.Join(c.name).c_str(), 0600), 0);
        } else {
            temp_.WriteFile(c.name, c.bytes);
        }
        log_.Clear();
        SoundResource* sound = GetSoundResource(c.name, nullptr);
        EXPECT_EQ(sound->GetState(), ResourceFailed) << c.name;
        EXPECT_TRUE(log_.Contains(c.log)) << c.name << "\n" << log_.Lines().back().text;
        ExpectPlaceholder(*sound, c.name);
        sound->Release();
    }
}

// Sounds multiply what one may hold: all of them together hold at most SceneByteLimit bytes
// decoded. The one that would pass it gets the placeholder and a line; a released sound makes
// room for the next load.
TEST_F(SoundResources, SoundsTogetherHoldAtMostTheirTotal) {
    test::ScopedValue<int64_t> total(SoundResource::SceneByteLimit, 30000);
    const std::string ogg = test::ReadSoundFixture("sine441.ogg"); // 22,050 bytes decoded
    for (const char* name : {"a.ogg", "b.ogg"}) {
        temp_.WriteFile(name, ogg);
    }
    temp_.WriteFile("stereo.wav", test::ReadSoundFixture("pcm16_stereo.wav")); // 200 bytes
    temp_.WriteFile("big.wav", WavFile(WavFormat(1, 1, 8000, 1, 8) +
                                       WavChunk("data", std::string(8000, '\x10'))));
    SoundResource* a = GetSoundResource("a.ogg", nullptr);
    SoundResource* b = GetSoundResource("b.ogg", nullptr);
    SoundResource* stereo = GetSoundResource("stereo.wav", nullptr);
    SoundResource* big = GetSoundResource("big.wav", nullptr);
    EXPECT_EQ(a->GetDataSize(), 22050u);
    EXPECT_EQ(b->GetState(), ResourceFailed);
    ExpectPlaceholder(*b, "b.ogg");
    EXPECT_TRUE(log_.Contains("Sound 'b.ogg' is not loaded: it decodes to more than the 7950 "
                              "bytes left of the 30000 all sounds hold together"));
    EXPECT_EQ(stereo->GetState(), ResourceShared);
    EXPECT_EQ(big->GetState(), ResourceFailed);
    EXPECT_TRUE(log_.Contains("Sound 'big.wav' is not loaded: it decodes to more than the 7750 "
                              "bytes left"));
    EXPECT_TRUE(a->Load()) << "a reload counts the sound once";
    a->Release();
    EXPECT_TRUE(b->Load());
    EXPECT_EQ(b->GetDataSize(), 22050u);
    for (SoundResource* sound : {b, stereo, big}) {
        sound->Release();
    }
}

// Reported once; every load, the first and the reloads, puts the placeholder back.
TEST_F(SoundResources, AMissingFileGetsAShortBuzzAndIsReportedOnce) {
    SoundResource* sound = GetSoundResource("gone.ogg", nullptr);
    EXPECT_FALSE(sound->Load());
    EXPECT_EQ(sound->GetState(), ResourcePlaceholder);
    EXPECT_EQ(log_.Lines().size(), 1u);
    EXPECT_TRUE(log_.Contains("gone.ogg"));
    EXPECT_EQ(audio_.system.GetSoundBufferCount(), 1);
    ExpectPlaceholder(*sound, "gone.ogg");
    const std::string bytes = Samples(*sound->GetSoundBuffer());
    for (uint32_t i = 0; i < 1024; ++i) {
        const uint32_t expected = i >= 33 && i <= 255 ? (i + 8) % 16 * 8 + 64 : 128;
        ASSERT_EQ(uint8_t(bytes[i]), expected) << i;
    }
    sound->Release();
}

// Without an audio system no buffer is made. With one that found no device (ALSOFT_DRIVERS names
// no back end, as on a machine without sound) sounds fail quietly, and the game runs on.
TEST_F(ResourceDiskTest, SoundsLoadWithoutEffectWhenThereIsNoSound) {
    temp_.WriteFile("a.wav", test::ReadSoundFixture("pcm8_mono.wav"));
    temp_.WriteFile("b.ogg", test::ReadSoundFixture("sine441.ogg"));
    const uint32_t withoutSystem[] = {ResourceLoaded, ResourceLoaded, ResourcePlaceholder};
    const uint32_t withoutDevice[] = {ResourceFailed, ResourceFailed, ResourcePlaceholder};
    test::UseNoAudioBackEnd();
    for (const uint32_t* states : {withoutSystem, withoutDevice}) {
        std::unique_ptr<OpenAlAudioSystem> audio;
        if (states == withoutDevice) {
            audio = std::make_unique<OpenAlAudioSystem>();
            ASSERT_FALSE(audio->Init(AudioInit3D | 4, 16, 22050, 2));
        }
        int i = 0;
        for (const char* name : {"a.wav", "b.ogg", "c.wav"}) {
            SoundResource* sound = GetSoundResource(name, nullptr);
            EXPECT_EQ(sound->GetState(), states[i++]) << name;
            EXPECT_EQ(sound->GetSoundBuffer(), nullptr) << name;
            sound->Release();
        }
    }
    // The run said once that sound is off: no buffer's failure is logged after it.
    EXPECT_FALSE(log_.Contains("Failed to create audio buffer"));
}

} // namespace
} // namespace quarn
