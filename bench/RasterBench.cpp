// The software rasteriser against a software OpenGL (OSMesa, llvmpipe) on the same two frames,
// each on one thread and on all of them: eight full-screen bilinear blended quads, and ten
// thousand blended 16 x 16 sprites. The peer runs in child processes, since its thread count is
// read once per process. Both frames are read back and compared. The all-threads rows take the
// engine's count from QUARN_RENDER_THREADS and llvmpipe's from LP_NUM_THREADS, each by default
// one per hardware thread, and say the counts they used.

#include "bench/BenchTiming.h"
#include "bench/FrameCompare.h"
#include "bench/PeerProcess.h"
#include "bench/TexturedFrames.h"
#include "gpu/software/RenderThreads.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace quarn {
namespace {

using bench::Half;
using bench::Height;
using bench::Width;

constexpr uint32_t ClearColor = 0xFF203040;

enum class Frame { Fill, Sprites };

void AppendQuad(std::vector<ScreenVertex>& out, float x0, float y0, float x1, float y1,
                const float uv[4], const uint32_t colors[4]) {
    const ScreenVertex a{x0, y0, 0.5f, 1, colors[0], uv[0], uv[1]};
    const ScreenVertex b{x1, y0, 0.5f, 1, colors[1], uv[2], uv[1]};
    const ScreenVertex c{x1, y1, 0.5f, 1, colors[2], uv[2], uv[3]};
    const ScreenVertex d{x0, y1, 0.5f, 1, colors[3], uv[0], uv[3]};
    out.insert(out.end(), {a, b, c, a, c, d});
}

// Eight scrolling layers, each tinted by a gradient, magnified about 1.6 times.
std::vector<ScreenVertex> FillVertices() {
    std::vector<ScreenVertex> vertices;
    for (uint32_t i = 0; i < 8; ++i) {
        const float u0 = 0.13f * static_cast<float>(i);
        const float v0 = 0.07f * static_cast<float>(i);
        const float uv[4] = {u0, v0, u0 + 2.5f, v0 + 1.875f};
        const uint32_t colors[4] = {0xFFFFFFFF, 0xC0FF8040 + i, 0x8040FF80 + (i << 8), 0xE08080FF};
        AppendQuad(vertices, -Half, -Half, Width - Half, Height - Half, uv, colors);
    }
    return vertices;
}

// Sprites cut 1:1 from a 16 x 16 grid of cells in the texture, each with its own tint.
std::vector<ScreenVertex> SpriteVertices() {
    std::vector<ScreenVertex> vertices;
    for (uint32_t i = 0; i < 10000; ++i) {
        const float x = static_cast<float>((i * 37) % 1000) - Half;
        const float y = static_cast<float>((i * 53) % 740) - Half;
        const float cu = static_cast<float>(i % 16) / 16.0f;
        const float cv = static_cast<float>(i / 16 % 16) / 16.0f;
        const float uv[4] = {cu, cv, cu + 1.0f / 16.0f, cv + 1.0f / 16.0f};
        const uint32_t tint = 0xFF000000 | (i * 2654435761u >> 8 | 0x808080);
        const uint32_t colors[4] = {tint, tint, tint, tint};
        AppendQuad(vertices, x, y, x + 16, y + 16, uv, colors);
    }
    return vertices;
}

struct Result {
    bench::Timing fillMs;
    bench::Timing spriteMs;
    std::vector<uint32_t> fill;
    std::vector<uint32_t> sprites;
};

// Blended by source alpha, sampled bilinearly.
class EngineRenderer {
public:
    explicit EngineRenderer(uint32_t threads) : frame_(threads) {
        SoftwareDevice& device = frame_.Device();
        device.SetRenderState(GpuRenderState::AlphaBlendEnable, 1);
        device.SetRenderState(GpuRenderState::SrcBlend, static_cast<uint32_t>(GpuBlend::SrcAlpha));
        device.SetRenderState(GpuRenderState::DestBlend,
                              static_cast<uint32_t>(GpuBlend::InvSrcAlpha));
        for (GpuSamplerState filter : {GpuSamplerState::MagFilter, GpuSamplerState::MinFilter}) {
            device.SetSamplerState(0, filter, static_cast<uint32_t>(GpuFilter::Linear));
        }
    }

    std::vector<uint32_t> ReadBack() { return frame_.ReadBack(); }

    bench::Timing Time(const std::vector<ScreenVertex>& vertices) {
        return bench::TimeRounds([&] {
            frame_.Draw(vertices, ClearColor);
            frame_.Finish();
        });
    }

private:
    bench::EngineFrame frame_;
};

Result RunEngine(uint32_t threads) {
    EngineRenderer engine(threads);
    const std::vector<ScreenVertex> fill = FillVertices();
    const std::vector<ScreenVertex> sprites = SpriteVertices();
    Result result;
    result.fillMs = engine.Time(fill);
    result.fill = engine.ReadBack();
    result.spriteMs = engine.Time(sprites);
    result.sprites = engine.ReadBack();
    return result;
}

// The same frames through fixed-function OpenGL.
class PeerRenderer {
public:
    PeerRenderer() {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        glEnable(GL_TEXTURE_2D);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }

    bench::Timing Time(const std::vector<ScreenVertex>& vertices) {
        bench::PeerFrame::UseVertices(vertices);
        return bench::TimeRounds(
            [&] { frame_.Draw(static_cast<GLsizei>(vertices.size()), ClearColor); });
    }
    const std::vector<uint32_t>& Pixels() const { return frame_.Pixels(); }

private:
    bench::PeerFrame frame_;
};

// Runs the peer in a child process with its thread count set in the environment, before the
// parent has started any thread of its own.
Result RunPeer(uint32_t threads) {
    bench::Bytes bytes = bench::RunInChild(threads, [](bench::Bytes& out) {
        PeerRenderer peer;
        const std::vector<ScreenVertex> fill = FillVertices();
        const std::vector<ScreenVertex> sprites = SpriteVertices();
        out.Put(peer.Time(fill));
        out.Put(peer.Pixels().data(), peer.Pixels().size() * 4);
        out.Put(peer.Time(sprites));
        out.Put(peer.Pixels().data(), peer.Pixels().size() * 4);
    });
    Result r;
    r.fill.resize(Width * Height);
    r.sprites.resize(Width * Height);
    bytes.Take(r.fillMs);
    bytes.Take(r.fill.data(), r.fill.size() * 4);
    bytes.Take(r.spriteMs);
    bytes.Take(r.sprites.data(), r.sprites.size() * 4);
    return r;
}

// llvmpipe's count for the all-threads rows: LP_NUM_THREADS when it holds a positive count, else
// one per hardware thread.
uint32_t PeerThreadCount() {
    const char* text = std::getenv("LP_NUM_THREADS");
    const long count = text ? std::strtol(text, nullptr, 10) : 0;
    return count > 0 ? static_cast<uint32_t>(count)
                     : std::max(1u, std::thread::hardware_concurrency());
}

} // namespace
} // namespace quarn

int main() {
    using namespace quarn;
    const uint32_t engineThreads = RenderThreadCount();
    const uint32_t peerThreads = PeerThreadCount();
    const Result peer1 = RunPeer(1);
    const Result peerAll = RunPeer(peerThreads);
    const Result engine1 = RunEngine(1);
    const Result engineAll = RunEngine(engineThreads);

    bench::RatioTable table("Frame (1024 x 768)", "llvmpipe");
    const std::string allText =
        ", " + std::to_string(engineThreads) + " / " + std::to_string(peerThreads) + " threads";
    table.Row("8 full-screen quads, 1 thread", engine1.fillMs, peer1.fillMs);
    table.Row("8 full-screen quads" + allText, engineAll.fillMs, peerAll.fillMs);
    table.Row("10000 sprites, 1 thread", engine1.spriteMs, peer1.spriteMs);
    table.Row("10000 sprites" + allText, engineAll.spriteMs, peerAll.spriteMs);
    table.PrintSummary();
    std::printf("(all-threads rows: engine / llvmpipe threads, from QUARN_RENDER_THREADS and "
                "LP_NUM_THREADS)\n");

    bool agree = true;
    for (const auto& [name, engine, peer, threaded] :
         {std::tuple{"quads", &engine1.fill, &peer1.fill, &engineAll.fill},
          std::tuple{"sprites", &engine1.sprites, &peer1.sprites, &engineAll.sprites}}) {
        const bench::Difference d = bench::Compare(*engine, *peer);
        const bool identical = *engine == *threaded;
        const double share = d.BeyondShare(engine->size());
        std::printf("%s: engine and llvmpipe differ by at most %u per channel", name, d.largest);
        if (d.largest > 0) {
            std::printf(" (at %zu, %zu: %08X against %08X)", d.pixel % Width, d.pixel / Width,
                        (*engine)[d.pixel], (*peer)[d.pixel]);
        }
        std::printf(", by more than %u in %.4f%% of channels; the engine's frames on 1 and %u "
                    "threads are %s\n",
                    bench::Tolerance, share * 100.0, engineThreads,
                    identical ? "byte-identical" : "DIFFERENT");
        agree = agree && d.IsRounding(engine->size()) && identical;
    }
    if (!agree) {
        std::printf("FRAMES DISAGREE\n");
        return 1;
    }
    return 0;
}
