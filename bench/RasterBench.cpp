// The software rasteriser against a software OpenGL (OSMesa, llvmpipe) on the same three frames,
// each on one thread and on all of them: eight full-screen bilinear blended quads, ten thousand
// blended 16 x 16 sprites, and an indexed draw joining every vertex to its far copy, as a shadow
// volume's quads do, whose vertices the engine gathers slice by slice. The peer runs in child
// processes, since its thread count is read once per process, and the engine and the peer take
// turns round by round. Both frames are read back and compared before any time is taken. The
// all-threads rows take the engine's count from QUARN_RENDER_THREADS and llvmpipe's from
// LP_NUM_THREADS, each by default one per hardware thread, and say the counts they used.

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

// A 256 x 256 grid of vertices over the screen and, 65,536 vertices on, a copy of each a little
// below it; every edge to a right neighbour joins its two ends to their copies in a tile of two
// triangles, so each triangle names vertices 65,536 apart, as a shadow volume's quads join a
// mesh vertex to its far copy: more than a slice holds.
constexpr uint32_t GridSide = 256;
constexpr uint32_t GridVertices = GridSide * GridSide;

std::vector<ScreenVertex> FarJoinedVertices() {
    std::vector<ScreenVertex> vertices(2 * GridVertices);
    for (uint32_t i = 0; i < GridVertices; ++i) {
        // Edges a twentieth of a pixel or more off the pixel centres, where the snapping of the
        // two rasterisers could part.
        const float x = static_cast<float>(i % GridSide) * 3.75f + 4.3f - Half;
        const float y = static_cast<float>(i / GridSide) * 2.75f + 4.3f - Half;
        const float u = static_cast<float>(i % GridSide) / GridSide;
        const float v = static_cast<float>(i / GridSide) / GridSide;
        const uint32_t tint = 0xC0000000 | (i * 2654435761u >> 8 | 0x404040);
        vertices[i] = {x, y, 0.5f, 1, tint, u, v};
        vertices[i + GridVertices] = {x, y + 1.5f, 0.5f, 1, tint, u, v};
    }
    return vertices;
}

std::vector<uint32_t> FarJoinedIndices() {
    std::vector<uint32_t> indices;
    for (uint32_t i = 0; i < GridVertices; ++i) {
        if (i % GridSide + 1 < GridSide) {
            const uint32_t b = i + 1;
            indices.insert(indices.end(),
                           {i, b + GridVertices, b, i, i + GridVertices, b + GridVertices});
        }
    }
    return indices;
}

enum Job : uint32_t { FillJob, SpritesJob, FarJoinedJob };

// Blended by source alpha, sampled bilinearly.
class EngineRenderer {
public:
    explicit EngineRenderer(uint32_t threads,
                            uint32_t sliceVertices = SoftwareRasterizer::MaxSliceVertices)
        : frame_(threads, sliceVertices) {
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
    // The far-joined frame, from buffers made at the first draw.
    void DrawFarJoined() {
        SoftwareDevice& device = frame_.Device();
        if (!farVertices_) {
            const std::vector<ScreenVertex> vertices = FarJoinedVertices();
            const std::vector<uint32_t> indices = FarJoinedIndices();
            const auto bytes = static_cast<uint32_t>(vertices.size() * sizeof(ScreenVertex));
            farVertices_ = device.CreateVertexBuffer(bytes, 0, 0, GpuPool::Managed);
            farIndices_ = device.CreateIndexBuffer(static_cast<uint32_t>(indices.size() * 4), 0,
                                                   GpuFormat::Index32, GpuPool::Managed);
            void* data = nullptr;
            farVertices_->Lock(0, 0, data, 0);
            std::memcpy(data, vertices.data(), bytes);
            farVertices_->Unlock();
            farIndices_->Lock(0, 0, data, 0);
            std::memcpy(data, indices.data(), indices.size() * 4);
            farIndices_->Unlock();
            farTriangles_ = static_cast<uint32_t>(indices.size() / 3);
        }
        device.Clear({}, GpuClearTarget, ClearColor, 1.0f, 0);
        device.SetStreamSource(0, farVertices_.get(), 0, sizeof(ScreenVertex));
        device.SetIndices(farIndices_.get());
        device.DrawIndexedPrimitive(GpuPrimitiveType::TriangleList, 0, 0, 2 * GridVertices, 0,
                                    farTriangles_);
        frame_.Finish();
    }
    std::vector<uint32_t> FarJoinedPixels() {
        DrawFarJoined();
        return frame_.ReadBack();
    }

private:
    bench::EngineFrame frame_;
    std::unique_ptr<GpuVertexBuffer> farVertices_;
    std::unique_ptr<GpuIndexBuffer> farIndices_;
    uint32_t farTriangles_ = 0;
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
    void DrawIndexed(const std::vector<ScreenVertex>& vertices,
                     const std::vector<uint32_t>& indices) {
        bench::PeerFrame::UseVertices(vertices);
        frame_.DrawIndexed(indices, ClearColor);
    }
    const std::vector<uint32_t>& Pixels() const { return frame_.Pixels(); }

private:
    bench::PeerFrame frame_;
};

// llvmpipe on `threads` threads in a child process: every frame first, then rounds of any.
bench::PeerRounds StartPeer(uint32_t threads) {
    return bench::PeerRounds(threads, [](bench::PeerLink& link) {
        PeerRenderer peer;
        const std::vector<ScreenVertex> frames[] = {FillVertices(), SpriteVertices(),
                                                    FarJoinedVertices()};
        const std::vector<uint32_t> farIndices = FarJoinedIndices();
        auto draw = [&](uint32_t job) {
            if (job == FarJoinedJob) {
                peer.DrawIndexed(frames[job], farIndices);
            } else {
                peer.Draw(frames[job]);
            }
        };
        for (uint32_t job : {FillJob, SpritesJob, FarJoinedJob}) {
            draw(job);
            link.Out().Put(peer.Pixels().data(), peer.Pixels().size() * 4);
        }
        link.Serve([&](uint32_t job) {
            auto round = [&] { draw(job); };
            round();
            return bench::RoundOf(round, 0.25);
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
    const std::vector<uint32_t> peerFar = TakeFrame(peer1.Setup());
    EngineRenderer engine1(1);
    EngineRenderer engineAll(engineThreads);
    const std::vector<ScreenVertex> fill = FillVertices();
    const std::vector<ScreenVertex> sprites = SpriteVertices();
    // The far-joined frame drawn whole is the one its slices must give.
    EngineRenderer whole(1, UINT32_MAX);

    bool agree = true;
    for (const auto& [name, job, peer] :
         {std::tuple{"quads", FillJob, &peerFill}, std::tuple{"sprites", SpritesJob, &peerSprites},
          std::tuple{"far-joined", FarJoinedJob, &peerFar}}) {
        auto pixels = [&](EngineRenderer& engine) {
            return job == FarJoinedJob ? engine.FarJoinedPixels()
                                       : engine.Pixels(job == FillJob ? fill : sprites);
        };
        const std::vector<uint32_t> engine = pixels(engine1);
        const bench::Difference d = bench::Compare(engine, *peer);
        const bool identical =
            engine == pixels(engineAll) && (job != FarJoinedJob || engine == pixels(whole));
        const double share = d.BeyondShare(engine.size());
        std::printf("%s: engine and llvmpipe differ by at most %u per channel", name, d.largest);
        if (d.largest > 0) {
            std::printf(" (at %zu, %zu: %08X against %08X)", d.pixel % Width, d.pixel / Width,
                        engine[d.pixel], (*peer)[d.pixel]);
        }
        std::printf(", by more than %u in %.4f%% of channels; the engine's frames on 1 and %u "
                    "threads%s are %s\n",
                    bench::Tolerance, share * 100.0, engineThreads,
                    job == FarJoinedJob ? " and drawn unsliced" : "",
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
          std::tuple{std::string("10000 sprites"), SpritesJob, &sprites},
          std::tuple{std::string("far-joined tiles"), FarJoinedJob, &fill}}) {
        for (const auto& [suffix, engine, peer] :
             {std::tuple{std::string(", 1 thread"), &engine1, &peer1},
              std::tuple{allText, &engineAll, &peerAll}}) {
            const bench::SideBySide t = bench::TimeTurns(
                [&] {
                    if (job == FarJoinedJob) {
                        engine->DrawFarJoined();
                    } else {
                        engine->Draw(*vertices);
                    }
                },
                [&] { return peer->Round(job); });
            table.Row(name + suffix, t.engine, t.peer);
        }
    }
    table.PrintSummary();
    std::printf("(all-threads rows: engine / llvmpipe threads, from QUARN_RENDER_THREADS and "
                "LP_NUM_THREADS; engine and llvmpipe take turns round by round)\n");
    return 0;
}
