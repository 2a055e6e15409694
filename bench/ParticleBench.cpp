// A hundred particle emitters at the camera's place, each spawning every 0.01 s for 0.02 s, drawn
// by the engine's render target at 1024 x 768, against as many full-screen sprites of the same
// image as the screens the particles' pixels fill: a particle's pixel should cost what a
// sprite's does, and a frame's particle pixels stop at their bound. On one rasteriser thread and
// on all of them, the two scenes taking turns round by round; the particles are held still
// while timed.

#include "bench/BenchTiming.h"
#include "bench/EngineScene.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/scene/EngineState.h"
#include "core/scene/SceneClasses.h"
#include "device/GpuRenderDevice.h"
#include "gpu/software/RenderThreads.h"
#include "gpu/software/SoftwareDevice.h"
#include "gpu/software/SoftwareRasterizer.h"
#include "render/Camera.h"
#include "render/ParticleEmitter.h"
#include "render/RenderTarget.h"
#include "render/Sprite.h"
#include "resources/Texture.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace quarn {
namespace {

using bench::MakeNode;

constexpr uint32_t Width = 1024;
constexpr uint32_t Height = 768;
constexpr const char* Image = "res://particle.png";

// A scene of its own under a camera at the origin looking along +z, drawn on the device given.
class Scene {
public:
    Scene() {
        root_ = MakeNode<Node>(nullptr);
        root_->SetIdSystem(0);
        auto* camera = MakeNode<Camera>(root_);
        auto* target = MakeNode<RenderTarget>(root_);
        target->SetCameraId({camera->GetId()});
    }
    ~Scene() { root_->Delete(); }
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    Node* Root() const { return root_; }

    // One frame, finished.
    void Run(GpuRenderDevice& device) {
        TheIdMap().SetSceneRoot(0, root_);
        device.BeginScene();
        UpdateNodeTree(root_);
        device.EndScene();
        device.Present();
        GpuLockedRect locked;
        device.Gpu()->GetBackBuffer()->LockRect(locked, nullptr, 0);
        device.Gpu()->GetBackBuffer()->UnlockRect();
    }

private:
    Node* root_ = nullptr;
};

class Bench {
public:
    Bench() : device_(bench::MakeSceneDevice(Width, Height)) {
        SetFileSystem(&files_);
        RegisterSceneClasses();
        Texture::RegisterClass();
        UseThreads(1);
    }
    ~Bench() { SetFileSystem(nullptr); }

    GpuRenderDevice& Device() { return *device_; }
    const SoftwareRasterizer& Rasterizer() const { return *rasterizer_; }
    void UseThreads(uint32_t threads) {
        auto owned = std::make_unique<SoftwareRasterizer>(threads);
        rasterizer_ = owned.get();
        static_cast<SoftwareDevice*>(device_->Gpu())->SetRasterizer(std::move(owned));
    }

private:
    DiskFileSystem files_;
    std::unique_ptr<GpuRenderDevice> device_;
    const SoftwareRasterizer* rasterizer_ = nullptr;
};

} // namespace
} // namespace quarn

int main() {
    using namespace quarn;
    Bench bench;
    Scene particles;
    for (int i = 0; i < 100; ++i) {
        auto* emitter = MakeNode<ParticleEmitter>(particles.Root());
        emitter->SetTextureName(Image);
        emitter->SetSpawnInterval(0.01f);
        emitter->SetEmittingTime(0.02f);
    }
    // A sixth of a second on, the particles are past the near plane, each filling the view.
    GameStep = 1.0f / 60.0f;
    for (int frame = 0; frame < 10; ++frame) {
        particles.Run(bench.Device());
    }
    GameStep = 0.0f;
    const uint64_t before = bench.Rasterizer().ShadedPixelCount();
    particles.Run(bench.Device());
    const uint64_t pixels = bench.Rasterizer().ShadedPixelCount() - before;
    const auto screens = static_cast<int>(std::lround(double(pixels) / (Width * Height)));

    Scene sprites;
    for (int i = 0; i < screens; ++i) {
        auto* sprite = MakeNode<Sprite>(sprites.Root());
        sprite->SetPosition(Float3(0.0f, 0.0f, 1.0f));
        sprite->SetSize(Float2(4.0f, 4.0f));
        sprite->SetTextureName(Image);
    }
    const uint64_t spritesBefore = bench.Rasterizer().ShadedPixelCount();
    sprites.Run(bench.Device());
    const uint64_t spritePixels = bench.Rasterizer().ShadedPixelCount() - spritesBefore;
    std::printf("100 emitters at the camera: %llu particle pixels a frame (the bound is %lld), "
                "%d screens; %d full-screen sprites: %llu pixels\n",
                static_cast<unsigned long long>(pixels),
                static_cast<long long>(ParticleEmitter::FramePixelLimit), screens, screens,
                static_cast<unsigned long long>(spritePixels));

    bench::RatioTable table("Frame (1024 x 768)", "sprites");
    const uint32_t all = RenderThreadCount();
    for (uint32_t threads : {1u, all}) {
        bench.UseThreads(threads);
        const bench::SideBySide t = bench::TimeSideBySide([&] { particles.Run(bench.Device()); },
                                                          [&] { sprites.Run(bench.Device()); });
        table.Row("100 emitters, " + std::to_string(threads) +
                      (threads == 1 ? " thread" : " threads"),
                  t.engine, t.peer);
    }
    table.PrintSummary();
    std::printf("(sprites: as many full-screen sprites of the same image as the particles fill "
                "screens; threads from QUARN_RENDER_THREADS)\n");
    return 0;
}
