// The software rasteriser against a software OpenGL (OSMesa, llvmpipe) on the same two frames,
// each on one thread and on all of them: eight full-screen bilinear blended quads, and ten
// thousand blended 16 x 16 sprites. The peer runs in child processes, since its thread count is
// read once per process, and the engine and the peer take turns round by round. Both frames are
// read back and compared before any time is taken. The all-threads rows take the engine's count
// from QUARN_RENDER_THREADS and llvmpipe's from LP_NUM_THREADS, each by default one per hardware
// thread, and say the counts they used.

#include "bench/BenchTiming.h"
#include "bench/FrameCompare.h"
#include "bench/PeerProcess.h"
#include "bench/TexturedFrames.h"
#include "gpu/software/RenderThreads.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
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

enum Job : uint32_t { FillJob, SpritesJob };

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

    void Draw(const std::vector<ScreenVertex>& vertices) {
        frame_.Draw(vertices, ClearColor);
        frame_.Finish();
    }
    std::vector<uint32_t> Pixels(const std::vector<ScreenVertex>& vertices) {
        Draw(vertices);
        return frame_.ReadBack();
    }

private:
    bench::EngineFrame frame_;
};

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

    void Draw(const std::vector<ScreenVertex>& vertices) {
        bench::PeerFrame::UseVertices(vertices);
        frame_.Draw(static_cast<GLsizei>(vertices.size()), ClearColor);
    }
    const std::vector<uint32_t>& Pixels() const { return frame_.Pixels(); }

private:
    bench::PeerFrame frame_;
};

// llvmpipe on `threads` threads in a child process: both frames first, then rounds of either.
bench::PeerRounds StartPeer(uint32_t threads) {
    return bench::PeerRounds(threads, [](bench::PeerLink& link) {
        PeerRenderer peer;
        const std::vector<ScreenVertex> frames[] = {FillVertices(), SpriteVertices()};
        for (const std::vector<ScreenVertex>& vertices : frames) {
            peer.Draw(vertices);
            link.Out().Put(peer.Pixels().data(), peer.Pixels().size() * 4);
        }
        link.Serve([&](uint32_t job) {
            auto draw = [&] { peer.Draw(frames[job]); };
            draw();
            return bench::RoundOf(draw, 0.25);
        });
    });
}

std::vector<uint32_t> TakeFrame(bench::Bytes& bytes) {
    std::vector<uint32_t> pixels(Width * Height);
    bytes.Take(pixels.data(), pixels.size() * 4);
    return pixels;
}

} // namespace
} // namespace quarn

int main() {
    using namespace quarn;
    const uint32_t engineThreads = RenderThreadCount();
    const uint32_t peerThreads = bench::PeerThreadCount();
    // The peers first, before this process starts threads of its own.
    bench::PeerRounds peer1 = StartPeer(1);
    bench::PeerRounds peerAll = StartPeer(peerThreads);
    const std::vector<uint32_t> peerFill = TakeFrame(peer1.Setup());
    const std::vector<uint32_t> peerSprites = TakeFrame(peer1.Setup());
    EngineRenderer engine1(1);
    EngineRenderer engineAll(engineThreads);
    const std::vector<ScreenVertex> fill = FillVertices();
    const std::vector<ScreenVertex> sprites = SpriteVertices();

    bool agree = true;
    for (const auto& [name, vertices, peer] :
         {std::tuple{"quads", &fill, &peerFill}, std::tuple{"sprites", &sprites, &peerSprites}}) {
        const std::vector<uint32_t> engine = engine1.Pixels(*vertices);
        const bench::Difference d = bench::Compare(engine, *peer);
        const bool identical = engine == engineAll.Pixels(*vertices);
        const double share = d.BeyondShare(engine.size());
        std::printf("%s: engine and llvmpipe differ by at most %u per channel", name, d.largest);
        if (d.largest > 0) {
            std::printf(" (at %zu, %zu: %08X against %08X)", d.pixel % Width, d.pixel / Width,
                        engine[d.pixel], (*peer)[d.pixel]);
        }
        std::printf(", by more than %u in %.4f%% of channels; the engine's frames on 1 and %u "
                    "threads are %s\n",
                    bench::Tolerance, share * 100.0, engineThreads,
                    identical ? "byte-identical" : "DIFFERENT");
        agree = agree && d.IsRounding(engine.size()) && identical;
    }
    if (!agree) {
        std::printf("FRAMES DISAGREE\n");
        return 1;
    }

    bench::RatioTable table("Frame (1024 x 768)", "llvmpipe");
    const std::string allText =
        ", " + std::to_string(engineThreads) + " / " + std::to_string(peerThreads) + " threads";
    for (const auto& [name, job, vertices] :
         {std::tuple{std::string("8 full-screen quads"), FillJob, &fill},
          std::tuple{std::string("10000 sprites"), SpritesJob, &sprites}}) {
        for (const auto& [suffix, engine, peer] :
             {std::tuple{std::string(", 1 thread"), &engine1, &peer1},
              std::tuple{allText, &engineAll, &peerAll}}) {
            const bench::SideBySide t = bench::TimeTurns([&] { engine->Draw(*vertices); },
                                                         [&] { return peer->Round(job); });
            table.Row(name + suffix, t.engine, t.peer);
        }
    }
    table.PrintSummary();
    std::printf("(all-threads rows: engine / llvmpipe threads, from QUARN_RENDER_THREADS and "
                "LP_NUM_THREADS; engine and llvmpipe take turns round by round)\n");
    return 0;
}
