#include "script/nodes/SoundNodes.h"

#include "audio/AudioSystem.h"
#include "audio/SoundBuffer.h"
#include "audio/SoundVoice.h"
#include "core/object/IdMap.h"
#include "resources/SoundResource.h"
#include "tests/resources/ResourceTestSupport.h"
#include "tests/support/EventLog.h"
#include "tests/support/LoopbackAudio.h"
#include "tests/support/SoundFixtures.h"
#include "tests/support/TestTree.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace quarn {
namespace {

using Calls = std::vector<std::string>;

void Note(Calls& calls, const char* format, ...) {
    char text[128];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    calls.push_back(text);
}

// A voice that writes down every call and plays until the test says it ended.
class RecordingVoice final : public SoundVoice {
public:
    RecordingVoice(SoundBuffer& buffer, Calls& calls) : buffer_(buffer), calls_(calls) {}
    ~RecordingVoice() override { buffer_.RemoveVoice(this); }

    bool Play(bool loop) override {
        Note(calls_, "Play(%d)", loop);
        state = VoicePlaying;
        return true;
    }
    void Pause() override {
        Note(calls_, "Pause");
        state = VoicePaused;
    }
    void Stop() override {
        Note(calls_, "Stop");
        state = VoiceStopped;
    }
    int32_t UpdateState() override { return state; }
    void Set3DEnabled(bool enabled) override { Note(calls_, "Set3DEnabled(%d)", enabled); }
    bool Is3DEnabled() const override { return false; }
    void SetVolume(float factor) override { Note(calls_, "SetVolume(%g)", factor); }
    float GetVolume() const override { return 1.0f; }
    void SetPitch(float factor) override { Note(calls_, "SetPitch(%g)", factor); }
    float GetPitch() const override { return 1.0f; }
    void SetPan(float pan) override { Note(calls_, "SetPan(%g)", pan); }
    float GetPan() const override { return 0.0f; }
    void SetPosition(const Float3& p) override {
        Note(calls_, "SetPosition(%g,%g,%g)", p.x, p.y, p.z);
    }
    Float3 GetPosition() const override { return {}; }
    void SetConeOrientation(const Float3&) override {}
    Float3 GetConeOrientation() const override { return {}; }
    void SetVelocity(const Float3& v) override {
        Note(calls_, "SetVelocity(%g,%g,%g)", v.x, v.y, v.z);
    }
    Float3 GetVelocity() const override { return {}; }
    void SetMaxDistance(float distance) override { Note(calls_, "SetMaxDistance(%g)", distance); }
    float GetMaxDistance() const override { return 0.0f; }
    void SetMinDistance(float distance) override { Note(calls_, "SetMinDistance(%g)", distance); }
    float GetMinDistance() const override { return 0.0f; }
    void SetPlayPosition(uint32_t frame) override {
        Note(calls_, "SetPlayPosition(%u)", frame);
        cursor = frame;
    }
    uint32_t GetPlayPosition() const override { return cursor; }

    int32_t state = VoiceIdle;
    uint32_t cursor = 0;

private:
    SoundBuffer& buffer_;
    Calls& calls_;
};

class RecordingBuffer final : public SoundBuffer {
public:
    explicit RecordingBuffer(Calls& calls) : calls_(calls) {}

protected:
    bool CreateDeviceBuffer() override { return true; }
    bool UploadSamples() override { return true; }
    SoundVoice* DuplicateVoice() override {
        voices_.push_back(new RecordingVoice(*this, calls_));
        return voices_.back();
    }

private:
    Calls& calls_;
};

// An audio system that writes down what the nodes ask of it and of their voices.
class RecordingAudio final : public AudioSystem {
public:
    ~RecordingAudio() override { DestroyAllBuffers(); }
    bool Init(uint32_t, uint32_t, uint32_t, uint32_t) override { return true; }
    const char* GetName() const override { return "recording"; }
    const char* GetLastError() const override { return ""; }
    uint32_t GetStateFlags() const override { return AudioDeviceCreated; }
    void SetListenerPosition(const Float3& p) override {
        Note(calls, "Listener(%g,%g,%g)", p.x, p.y, p.z);
    }
    Float3 GetListenerPosition() const override { return {}; }
    void SetListenerOrientation(const Quaternion&) override {}
    Quaternion GetListenerOrientation() const override { return {}; }
    void SetMasterVolume(float factor) override { Note(calls, "MasterVolume(%g)", factor); }
    bool Update() override {
        Note(calls, "Update");
        return true;
    }
    uint32_t GetBitsPerSample() const override { return 16; }
    uint32_t GetSampleRate() const override { return 22050; }
    uint32_t GetChannels() const override { return 2; }
    SoundBuffer* CreateSoundBuffer() override {
        buffers_.push_back(new RecordingBuffer(calls));
        return buffers_.back();
    }
    SoundCaptureBuffer* CreateCaptureBuffer() override { return nullptr; }

    // The calls that start with `prefix`, in order.
    Calls Only(const std::string& prefix) const {
        Calls found;
        for (const std::string& call : calls) {
            if (call.rfind(prefix, 0) == 0) {
                found.push_back(call);
            }
        }
        return found;
    }

    Calls calls;
};

// Sound nodes under one root, reading their sounds from a temporary base folder: a 100-frame
// mono WAV and a 50-frame stereo one. Every node goes before the resources are counted.
template <class Audio>
class SoundNodeTest : public test::ResourceDiskTest {
protected:
    void SetUp() override {
        ResourceDiskTest::SetUp();
        temp_.WriteFile("mono.wav", test::ReadSoundFixture("pcm8_mono.wav"));
        temp_.WriteFile("stereo.wav", test::ReadSoundFixture("pcm16_stereo.wav"));
        root_ = tree_.Make<Node>("root");
        root_->ChangeId(TheIdMap().GetFreeLocalId(0));
    }
    void TearDown() override {
        root_->Delete();
        ResourceDiskTest::TearDown();
    }

    SoundEmitter* Emitter(const char* sound, uint32_t flags) {
        auto* emitter = tree_.Make<SoundEmitter>("emitter", root_);
        emitter->ChangeId(TheIdMap().GetFreeLocalId(0));
        emitter->SetSoundFlags(flags);
        emitter->SetSoundFile(sound);
        return emitter;
    }
    // A probe on the emitter's "done" output.
    test::EventProbe* Witness(SoundEmitter* emitter) {
        auto* probe = tree_.Make<test::EventProbe>("witness", root_);
        probe->ChangeId(TheIdMap().GetFreeLocalId(0));
        emitter->SetPortValue(0, test::RefTo(probe));
        test::Deliveries().clear();
        return probe;
    }

    Audio audio_;
    test::TestTree tree_;
    Node* root_ = nullptr;
};

using SoundNodes = SoundNodeTest<RecordingAudio>;

TEST_F(SoundNodes, FirstPlaySetsTheVoiceUpInOrder) {
    SoundEmitter* emitter = Emitter("mono.wav", Sound3D);
    emitter->SetPosition(Float3(1.0f, 2.0f, 3.0f));
    emitter->SetVolume(0.5f);
    emitter->SetPitch(2.0f);
    audio_.calls.clear();
    emitter->Play();
    EXPECT_EQ(audio_.calls,
              (Calls{"Play(0)", "Set3DEnabled(1)", "SetPosition(1,2,3)", "SetVelocity(0,0,0)",
                     "SetMinDistance(10)", "SetMaxDistance(200)", "SetPan(0)", "SetPitch(2)",
                     "SetVolume(0.5)"}));
    EXPECT_TRUE(emitter->GetSoundFlags() & SoundPlaying);
    // Later setters go straight to the voice; a new play restarts the same voice.
    audio_.calls.clear();
    emitter->SetMaxRange(50.0f);
    emitter->Play();
    EXPECT_EQ(audio_.calls, (Calls{"SetMinDistance(10)", "SetMaxDistance(50)", "Play(0)"}));
}

// A scene may name the sound file before the flags: the sound starts as it does in the order the
// engine saves them, flags first.
TEST_F(SoundNodes, APlayingLoopStartsWhicheverOfItsFlagsAndFileComesFirst) {
    for (const bool fileFirst : {false, true}) {
        SCOPED_TRACE(fileFirst ? "file, then flags" : "flags, then file");
        auto* emitter = tree_.Make<SoundEmitter>("emitter", root_);
        audio_.calls.clear();
        if (fileFirst) {
            emitter->SetSoundFile("mono.wav");
            emitter->SetSoundFlags(SoundLoop | SoundPlaying);
        } else {
            emitter->SetSoundFlags(SoundLoop | SoundPlaying);
            emitter->SetSoundFile("mono.wav");
        }
        ASSERT_FALSE(audio_.calls.empty());
        EXPECT_EQ(audio_.calls.front(), "Play(1)");
        EXPECT_TRUE(emitter->IsPlaying());
        emitter->Delete();
    }
}

TEST_F(SoundNodes, DisablingPausesALoopAndStopsAOneShot) {
    struct Case {
        uint32_t flags;
        Calls disabled;
        Calls enabled;
        bool playingWhileDisabled;
    };
    const Case cases[] = {
        {SoundLoop, {"Pause"}, {"Play(1)"}, true},
        {0, {"Stop", "SetVelocity(0,0,0)"}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        Node* parent = tree_.Make<Node>("parent", root_);
        SoundEmitter* emitter = Emitter("mono.wav", c.flags);
        emitter->AttachAsLast(parent);
        emitter->Play();
        audio_.calls.clear();
        parent->SetFlag(NodeEnabled, false);
        EXPECT_EQ(audio_.calls, c.disabled);
        EXPECT_EQ((emitter->GetSoundFlags() & SoundPlaying) != 0, c.playingWhileDisabled);
        audio_.calls.clear();
        parent->SetFlag(NodeEnabled, true);
        EXPECT_EQ(audio_.calls, c.enabled);
        parent->Delete();
    }
}

TEST_F(SoundNodes, ADopplerEmitterMovesItsVoiceAtItsVelocity) {
    SoundEmitter* emitter = Emitter("mono.wav", Sound3D | SoundDoppler);
    emitter->SetPosition(Float3(1.0f, 0.0f, 0.0f));
    emitter->Play();
    emitter->Update(0.5f, UpdateRunning);
    emitter->SetPosition(Float3(2.0f, 0.0f, 1.0f));
    audio_.calls.clear();
    emitter->Update(0.5f, UpdateRunning);
    EXPECT_EQ(audio_.calls, (Calls{"SetPosition(2,0,1)", "SetVelocity(2,0,2)"}));
    // Without the doppler bit the voice only follows the node.
    emitter->SetSoundFlags(emitter->GetSoundFlags() & ~SoundDoppler);
    audio_.calls.clear();
    emitter->Update(0.5f, UpdateRunning);
    EXPECT_EQ(audio_.calls, (Calls{"SetPosition(2,0,1)"}));
}

TEST_F(SoundNodes, TheProgressCursorStaysInsideTheSound) {
    SoundEmitter* emitter = Emitter("mono.wav", 0); // 100 frames
    emitter->Play();
    const struct {
        float progress;
        const char* call;
    } cases[] = {
        {0.5f, "SetPlayPosition(50)"},
        {1.0f, "SetPlayPosition(99)"},
        {7.0f, "SetPlayPosition(99)"},
        {-1.0f, "SetPlayPosition(0)"},
        {std::numeric_limits<float>::quiet_NaN(), "SetPlayPosition(0)"},
    };
    for (const auto& c : cases) {
        audio_.calls.clear();
        emitter->SetProgress(c.progress);
        EXPECT_EQ(audio_.calls, Calls{c.call}) << c.progress;
    }
}

TEST_F(SoundNodes, StereoSoundsHaveNo3dMode) {
    SoundEmitter* emitter = Emitter("stereo.wav", Sound3D | SoundLoop);
    EXPECT_EQ(emitter->GetSoundFlags(), SoundLoop);
    EXPECT_TRUE(log_.Lines().empty());
    emitter->SetSoundFlags(Sound3D);
    ASSERT_EQ(log_.Lines().size(), 1u);
    EXPECT_EQ(log_.Lines()[0].channel, "sfx");
    EXPECT_EQ(log_.Lines()[0].text, "3d mode is not available on stereo sounds.");
    EXPECT_EQ(emitter->GetSoundFlags(), 0u);
    EXPECT_STREQ(emitter->GetDescription().Text(), "stereo.wav");
}

TEST_F(SoundNodes, AnEndedOneShotTellsItsWitnessOnceEvenWhenThatDeletesIt) {
    SoundEmitter* emitter = Emitter("mono.wav", 0);
    test::EventProbe* witness = Witness(emitter);
    emitter->Play();
    emitter->Update(0.1f, UpdateRunning);
    EXPECT_TRUE(test::Deliveries().empty());
    static_cast<RecordingVoice*>(emitter->GetVoice())->state = VoiceIdle;
    emitter->Update(0.1f, UpdateRunning);
    emitter->Update(0.1f, UpdateRunning);
    ASSERT_EQ(test::Deliveries().size(), 1u);
    EXPECT_EQ(test::Deliveries()[0].sender, emitter->GetId());
    EXPECT_EQ(test::Deliveries()[0].value, 1.0f);
    EXPECT_FALSE(emitter->GetSoundFlags() & SoundPlaying);

    const uint64_t serial = emitter->GetSerial();
    witness->action = [emitter] { emitter->Delete(); };
    emitter->Play();
    static_cast<RecordingVoice*>(emitter->GetVoice())->state = VoiceIdle;
    emitter->Update(0.1f, UpdateRunning);
    EXPECT_EQ(Entity::FindBySerial(serial), nullptr);
}

TEST_F(SoundNodes, AReloadedSoundTakesItsVoicesAndTheNextPlayMakesOne) {
    SoundEmitter* emitter = Emitter("mono.wav", SoundLoop);
    emitter->Play();
    ASSERT_NE(emitter->GetVoice(), nullptr);
    emitter->GetSound()->Load();
    EXPECT_EQ(emitter->GetVoice(), nullptr);
    emitter->SetVolume(0.5f);
    audio_.calls.clear();
    emitter->Play();
    ASSERT_NE(emitter->GetVoice(), nullptr);
    EXPECT_EQ(audio_.calls.front(), "Play(1)");
    EXPECT_EQ(audio_.calls.back(), "SetVolume(0.5)");
}

TEST_F(SoundNodes, TheNewestReceiverIsTheOnlyActiveOne) {
    auto* first = tree_.Make<SoundReceiver>("first", root_);
    auto* second = tree_.Make<SoundReceiver>("second", root_);
    EXPECT_FALSE(first->IsFullyEnabled());
    EXPECT_TRUE(second->IsFullyEnabled());
    first->SetFlag(NodeEnabled, true);
    EXPECT_FALSE(second->IsFullyEnabled());
    // An event wakes a sleeping receiver, which takes over.
    second->ReceiveEvent(EventRecord());
    EXPECT_TRUE(second->IsFullyEnabled());
    EXPECT_FALSE(first->IsFullyEnabled());
}

TEST_F(SoundNodes, SoundIsMutedUntilTheThirdReceiverUpdate) {
    audio_.calls.clear();
    auto* receiver = tree_.Make<SoundReceiver>("receiver", root_);
    receiver->SetVolume(0.5f); // before any update: kept for later
    for (int i = 0; i < 3; ++i) {
        receiver->Update(0.1f, UpdateRunning);
    }
    EXPECT_EQ(audio_.Only("MasterVolume"), (Calls{"MasterVolume(0)", "MasterVolume(0.5)"}));
    EXPECT_EQ(audio_.calls.back(), "MasterVolume(0.5)");
    receiver->SetVolume(0.25f);
    EXPECT_EQ(audio_.calls.back(), "MasterVolume(0.25)");
    EXPECT_EQ(audio_.Only("Update").size(), 3u);
}

TEST(SoundReceiverWithoutAudio, UpdatesDoNothingAndDoNotCount) {
    test::TestTree tree;
    auto* receiver = tree.Make<SoundReceiver>("receiver");
    receiver->Update(0.1f, UpdateRunning);
    receiver->Update(0.1f, UpdateRunning);
    RecordingAudio audio;
    receiver->Update(0.1f, UpdateRunning);
    EXPECT_TRUE(audio.Only("MasterVolume").empty()) << "the updates without audio counted";
    EXPECT_EQ(audio.Only("Update").size(), 1u);
    receiver->Delete();
}

// Through OpenAL's loopback device, where the test mixes every frame.
class SoundNodesMix : public SoundNodeTest<test::LoopbackAudio> {
protected:
    std::vector<float> Mix(uint32_t frames) { return audio_.Render(frames); }
};

TEST_F(SoundNodesMix, AnEmitterIsHeardAndItsOneShotEndsOnceWhileALoopGoesOn) {
    SoundEmitter* once = Emitter("mono.wav", 0);
    Witness(once);
    once->Play();
    const test::StereoLevel level = test::LoopbackAudio::Level(Mix(100));
    EXPECT_GT(level.left, 0.01);
    EXPECT_GT(level.right, 0.01);
    SoundEmitter* loop = Emitter("mono.wav", SoundLoop);
    loop->Play();
    for (int i = 0; i < 5; ++i) {
        Mix(test::LoopbackAudio::Rate / 10);
        once->Update(0.1f, UpdateRunning);
        loop->Update(0.1f, UpdateRunning);
    }
    ASSERT_EQ(test::Deliveries().size(), 1u);
    EXPECT_EQ(test::Deliveries()[0].sender, once->GetId());
    EXPECT_TRUE(loop->IsPlaying());
    EXPECT_GT(test::LoopbackAudio::Level(Mix(1000)).left, 0.01);
}

TEST_F(SoundNodesMix, ADisabledLoopResumesWhereItPaused) {
    std::string tone;
    for (uint32_t i = 0; i < test::LoopbackAudio::Rate; ++i) {
        tone += test::LittleEndian(uint32_t(int16_t(8000.0 * std::sin(i * 0.125))), 2);
    }
    temp_.WriteFile("tone.wav",
                    test::WavFile(test::WavFormat(1, 1, test::LoopbackAudio::Rate, 2, 16) +
                                  test::WavChunk("data", tone)));
    SoundEmitter* emitter = Emitter("tone.wav", SoundLoop);
    emitter->Play();
    Mix(4000);
    emitter->SetFlag(NodeEnabled, false);
    const uint32_t cursor = emitter->GetVoice()->GetPlayPosition();
    EXPECT_NEAR(cursor, 4000, 64);
    Mix(1024); // past OpenAL's short fade
    EXPECT_EQ(test::LoopbackAudio::Level(Mix(3000)).left, 0.0);
    emitter->SetFlag(NodeEnabled, true);
    Mix(1000);
    EXPECT_NEAR(emitter->GetVoice()->GetPlayPosition(), cursor + 1000, 64);
}

} // namespace
} // namespace quarn
