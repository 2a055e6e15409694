#include "render/ParticleEmitter.h"

#include "core/filesystem/DiskFileSystem.h"
#include "core/math/Random.h"
#include "core/scene/EngineState.h"
#include "device/DrawBufferShare.h"
#include "gpu/software/SoftwareRasterizer.h"
#include "resources/Texture.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/EventLog.h"
#include "tests/support/PngFixture.h"
#include "tests/support/ScopedValue.h"
#include "tests/support/TempFolder.h"

#include <cmath>
#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::RefTo;

constexpr uint32_t FixedSeed = 7;

class ParticleEmitterTest : public test::RenderScene {
protected:
    void SetUp() override {
        RenderScene::SetUp();
        Texture::RegisterClass();
        ParticleEmitter::RegisterClass();
        test::EventProbe::RegisterClass();
        ParticleSeed = [] { return FixedSeed; };
        emitter_ = tree_.Make<ParticleEmitter>("emitter", root_);
    }
    void TearDown() override {
        ParticleSeed = &ClockParticleSeed;
        RenderScene::TearDown();
    }
    // Manual spawns only, no gravity: particles fly straight.
    ParticleEmitter* Manual() {
        emitter_->SetSpawnInterval(0.0f);
        emitter_->SetGravity(0.0f);
        return emitter_;
    }
    void Run(int frames, float dt) {
        for (int i = 0; i < frames; ++i) {
            emitter_->Update(dt, UpdateRunning);
        }
    }
    ParticleEmitter* emitter_ = nullptr;
};

TEST_F(ParticleEmitterTest, ASeededSpawnLandsWhereTheGeneratorPutsIt) {
    emitter_->SetEmitterSize(Float3(2, 2, 2));
    emitter_->SetSpawnInterval(0.0f);
    emitter_->Emit();
    SeedRandom(FixedSeed);
    const float x = RandomRange(-1, 1), y = RandomRange(-1, 1), z = RandomRange(-1, 1);
    Run(3, 0.1f);
    const Particle& p = emitter_->GetActiveParticle(0);
    EXPECT_EQ(p.seed, FixedSeed);
    EXPECT_FLOAT_EQ(p.position.x, x);
    EXPECT_FLOAT_EQ(p.position.y, y + 0.1f * (0.01f + 0.02f + 0.03f)); // gravity 0.1
    EXPECT_FLOAT_EQ(p.position.z, z + 0.3f);                           // speed 1 along z
}

TEST_F(ParticleEmitterTest, SpawnCountsFollowTheIntervalAndThePool) {
    struct Case {
        float interval;
        int32_t pool;
        float frame;
        int32_t expected;
    };
    const Case cases[] = {
        {0.0f, 32, 0.5f, 0},    // manual only
        {0.1f, 32, 0.35f, 3},   // one long frame spawns each interval it holds
        {0.1f, 2, 0.5f, 2},     // a full pool ignores the rest
        {1e-30f, 32, 0.1f, 32}, // fills the pool and returns
    };
    for (const Case& c : cases) {
        emitter_->SetMaxParticles(c.pool);
        emitter_->Clear();
        emitter_->SetSpawnInterval(c.interval);
        Run(1, c.frame);
        EXPECT_EQ(emitter_->GetActiveCount(), c.expected) << c.interval;
    }
    EXPECT_FLOAT_EQ(emitter_->GetActiveParticle(0).remaining, 1.0f - 0.1f);
}

TEST_F(ParticleEmitterTest, ManualSpawnsWorkWithoutAnIntervalAndTheTimerStands) {
    Manual()->SetEmittingTime(1.0f);
    emitter_->Emit();
    emitter_->EmitParticle(Float3(), Float3(), 1.0f, 0.0f, 5.0f);
    Run(4, 0.5f);
    EXPECT_EQ(emitter_->GetActiveCount(), 1); // the 1-second one died
    EXPECT_TRUE(emitter_->IsActive());

    emitter_->SetMaxParticles(2);
    EXPECT_EQ(emitter_->GetActiveCount(), 1); // lowering keeps live particles
    emitter_->SetMaxParticles(0);
    EXPECT_EQ(emitter_->GetMaxParticles(), 1);
    emitter_->SetMaxParticles(99999);
    EXPECT_EQ(emitter_->GetMaxParticles(), ParticleEmitter::MaxPool);
}

TEST_F(ParticleEmitterTest,
       AParticleAtExactlyNoLifeLeftSurvivesOneStepAndFrictionTakesFivePercent) {
    Manual()->SetFriction(1.0f);
    emitter_->EmitParticle(Float3(), Float3(10, 0, 0), 1.0f, 0.0f, 0.5f);
    Run(1, 0.5f);
    ASSERT_EQ(emitter_->GetActiveCount(), 1);
    EXPECT_FLOAT_EQ(emitter_->GetActiveParticle(0).velocity.x, 9.5f);
    Run(1, 0.001f);
    EXPECT_EQ(emitter_->GetActiveCount(), 0);
}

TEST_F(ParticleEmitterTest, EmittingTimeSendsOneEventToTheWitnessAndStops) {
    auto* probe = tree_.Make<test::EventProbe>("probe", root_);
    test::Deliveries().clear();
    emitter_->SetPortValue(0, RefTo(probe));
    emitter_->SetEmittingTime(2.0f);
    Run(25, 0.1f);
    ASSERT_EQ(test::Deliveries().size(), 1u);
    EXPECT_EQ(test::Deliveries()[0].value, 1.0f);
    EXPECT_FALSE(emitter_->IsActive());

    // The ports: start, stop, clear.
    Entity::SendEvent(RefTo(probe), RefTo(emitter_, 0), nullptr, 1.0f);
    EXPECT_TRUE(emitter_->IsActive());
    Entity::SendEvent(RefTo(probe), RefTo(emitter_, 1), nullptr, 1.0f);
    EXPECT_FALSE(emitter_->IsActive());
    ASSERT_GT(emitter_->GetActiveCount(), 0);
    Entity::SendEvent(RefTo(probe), RefTo(emitter_, 2), nullptr, 1.0f);
    EXPECT_EQ(emitter_->GetActiveCount(), 0);
    EXPECT_STREQ(emitter_->GetOutputName(0), "done");
}

// Emitters at their pool's bound multiply: all of them together hold at most SceneParticleLimit
// alive. An emitter at the total spawns nothing, its script particles neither, and says so once;
// once others' particles go, it spawns again.
TEST_F(ParticleEmitterTest, EmittersTogetherHoldAtMostTheirTotal) {
    test::CapturingLogSink log;
    test::ScopedValue<int64_t> total(ParticleEmitter::SceneParticleLimit, 50);
    auto* second = tree_.Make<ParticleEmitter>("second", root_);
    for (ParticleEmitter* emitter : {emitter_, second}) {
        emitter->SetSpawnInterval(1e-30f); // fills its pool of 32 in one frame
    }
    auto frame = [&] {
        for (ParticleEmitter* emitter : {emitter_, second}) {
            emitter->Update(0.1f, UpdateRunning);
        }
    };
    frame();
    EXPECT_EQ(emitter_->GetActiveCount(), 32);
    EXPECT_EQ(second->GetActiveCount(), 18);
    second->EmitParticle(Float3(), Float3(), 1.0f, 0.0f, 5.0f);
    frame();
    EXPECT_EQ(second->GetActiveCount(), 18);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].text, "ParticleEmitter 'second' (id " +
                                       std::to_string(second->GetId()) +
                                       ") spawns no more while the emitters of the scene hold 50 "
                                       "particles, the most they hold together");
    emitter_->SetActive(false);
    emitter_->Clear();
    frame();
    EXPECT_EQ(second->GetActiveCount(), 32);
    second->Delete();
    emitter_->SetActive(true);
    Run(1, 0.1f);
    EXPECT_EQ(emitter_->GetActiveCount(), 32) << "a deleted emitter's particles are not counted";
}

TEST_F(ParticleEmitterTest, NanAndZeroCasesStayFinite) {
    Manual()->SetEmitterFlags(EmitterActive | EmitterColorBlendTime | EmitterColorBlendPos |
                              EmitterRotFromSpeed | EmitterBillboard | EmitterRelativeSpeed);
    emitter_->SetEmitterSize(Float3(0, 0, 0));
    emitter_->SetTextureName("res://particle.png");
    emitter_->SetPosition(Float3(0, 0, 5));
    emitter_->EmitParticle(Float3(0, 0, 5), Float3(), 1.0f, 0.0f, 0.0f); // life 0, no speed
    Run(1, 0.0f); // a move in no time measures no velocity for the next spawn to inherit
    emitter_->Emit();
    Frame();
    ASSERT_EQ(emitter_->GetActiveCount(), 2);
    EXPECT_FALSE(std::isnan(emitter_->GetActiveParticle(0).position.x));
    EXPECT_TRUE(std::isfinite(emitter_->GetActiveParticle(1).velocity.x));
}

// A hundred emitters at the camera's place each fill the view with a few particles a frame: the
// particles of a frame draw at most FramePixelLimit pixels together, counted by the rasteriser,
// one line tells of the rest, and every particle pixel is shaded as a textured span, as a
// sprite's is. The emitters' quad buffers are counted in the scene's draw buffers.
TEST_F(ParticleEmitterTest, EmittersAtTheCameraShareTheFramesParticlePixels) {
    auto owned = std::make_unique<SoftwareRasterizer>(2);
    const SoftwareRasterizer& rasterizer = *owned;
    static_cast<SoftwareDevice*>(device_->Gpu())->SetRasterizer(std::move(owned));
    const int64_t limit = int64_t{10} * Width * Height;
    const test::ScopedValue<int64_t> bound(ParticleEmitter::FramePixelLimit, limit);
    const test::ScopedValue<float> step(GameStep, 1.0f / 60.0f);
    test::TempFolder folder;
    folder.WriteFile("dot.png", test::EncodePng(8, 8, [](uint32_t x, uint32_t y) {
                         return (x + y) * 0x10000000u | 0xFFC040u;
                     }));
    DiskFileSystem files;
    files.SetBaseFolder(folder.Path().c_str());
    SetFileSystem(&files);
    test::CapturingLogSink log;
    const uint64_t heldBefore = DrawBufferShare::SceneBytes();
    std::vector<ParticleEmitter*> emitters{emitter_};
    while (emitters.size() < 100) {
        emitters.push_back(tree_.Make<ParticleEmitter>("emitter", root_));
    }
    for (ParticleEmitter* emitter : emitters) {
        emitter->SetTextureName("dot.png");
        emitter->SetSpawnInterval(0.01f);
        emitter->SetEmittingTime(0.02f);
    }
    EXPECT_GT(DrawBufferShare::SceneBytes(), heldBefore);
    uint64_t particlePixels = 0;
    for (int frame = 0; frame < 12; ++frame) {
        const uint64_t pixels = rasterizer.ShadedPixelCount();
        const uint64_t spans = rasterizer.SpanPixelCount();
        Frame(0xFF000000);
        const uint64_t drawn = rasterizer.ShadedPixelCount() - pixels;
        EXPECT_LE(drawn, uint64_t(limit)) << frame;
        EXPECT_EQ(rasterizer.SpanPixelCount() - spans, drawn) << frame;
        particlePixels += drawn;
    }
    EXPECT_GT(particlePixels, 0u);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_NE(log.Lines()[0].text.find("the particles of a frame cover at most " +
                                       std::to_string(limit) + " pixels together"),
              std::string::npos)
        << log.Lines()[0].text;
    for (size_t i = 1; i < emitters.size(); ++i) {
        emitters[i]->Delete();
    }
    EXPECT_EQ(DrawBufferShare::SceneBytes(), heldBefore);
    SetFileSystem(nullptr);
}

// An emitter refused room to grow its buffers remakes them empty and gives back what it held,
// so the scene's total counts only buffers that are there and other nodes keep that room.
TEST_F(ParticleEmitterTest, AnEmitterRefusedRoomToGrowGivesBackWhatItHeld) {
    const uint64_t before = DrawBufferShare::SceneBytes();
    ASSERT_GT(before, 0u);
    const test::ScopedValue<uint64_t> limit(DrawBufferShare::SceneByteLimit, before);
    test::TempFolder folder;
    folder.WriteFile("dot.png",
                     test::EncodePng(8, 8, [](uint32_t, uint32_t) { return 0xFFC040u; }));
    DiskFileSystem files;
    files.SetBaseFolder(folder.Path().c_str());
    SetFileSystem(&files);
    test::CapturingLogSink log;
    emitter_->SetTextureName("dot.png");
    emitter_->SetPosition(Float3(0, 0, 5));
    emitter_->SetMaxParticles(500);
    for (int i = 0; i < 300; ++i) {
        emitter_->EmitParticle(Float3(0, 0, 5), Float3(), 10.0f, 0.0f, 0.0f);
    }
    Frame();
    EXPECT_LT(DrawBufferShare::SceneBytes(), before) << "the refused buffers stay counted";
    EXPECT_FALSE(log.Lines().empty());
    SetFileSystem(nullptr);
}

// Draws two translucent particles on the view axis: the far one green, the near one red, the
// near one spawned first.
class ParticleFrameTest : public ParticleEmitterTest {
protected:
    void Draw(uint32_t flags, float spread = 0.0f) {
        Manual()->SetEmitterFlags(flags);
        emitter_->SetTextureName("res://particle.png");
        emitter_->SetColor(0xFF00FF00);
        emitter_->SetBlendColor(0xFFFF0000);
        emitter_->SetOpacity(0.6f);
        emitter_->SetPosition(Float3(0, 0, 7.5f));
        emitter_->SetEmitterSize(Float3(1, 1, 2)); // each particle takes one colour whole
        emitter_->EmitParticle(Float3(0, -spread, 5), Float3(0, 1, 0), 6.0f, 0.0f, 10.0f);
        emitter_->EmitParticle(Float3(0, spread, 10), Float3(0, 1, 0), 6.0f, 0.0f, 10.0f);
        Frame(0xFF000000);
    }
    uint32_t Centre() { return Pixel(Width / 2, Height / 2); }
    bool AnyLit() {
        for (uint32_t pixel : Image()) {
            if (pixel & 0xFFFFFF) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(ParticleFrameTest, EachDrawingModeLightsTheCentre) {
    for (uint32_t mode : {0u, uint32_t{EmitterBillboard}, uint32_t{EmitterTrail},
                          uint32_t{EmitterRibbon | EmitterBillboard}}) {
        emitter_->Clear();
        Draw(EmitterActive | mode, 2.0f); // the ribbon needs a height between its ends
        EXPECT_TRUE(AnyLit()) << mode;
    }
    emitter_->Clear();
    Manual()->SetEmitterFlags(EmitterRibbon);
    emitter_->EmitParticle(Float3(0, 0, 5), Float3(), 6.0f, 0.0f, 10.0f);
    Frame(0xFF000000);
    EXPECT_FALSE(AnyLit()); // a ribbon of one
}

TEST_F(ParticleFrameTest, DepthSortDrawsBackToFront) {
    Draw(EmitterActive | EmitterBillboard | EmitterColorBlendPos | EmitterDepthSort);
    const uint32_t sorted = Centre();
    EXPECT_GT((sorted >> 16) & 0xFF, (sorted >> 8) & 0xFF); // the near red one on top
    emitter_->Clear();
    Draw(EmitterActive | EmitterBillboard | EmitterColorBlendPos);
    const uint32_t unsorted = Centre();
    EXPECT_LT((unsorted >> 16) & 0xFF, (unsorted >> 8) & 0xFF);
}

} // namespace
} // namespace quarn
