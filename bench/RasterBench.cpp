// The software rasteriser against a software OpenGL (OSMesa, llvmpipe) on the same two frames,
// each on one thread and on all of them: eight full-screen bilinear blended quads, and ten
// thousand blended 16 x 16 sprites. The peer runs in child processes, since its thread count is
// read once per process. Both frames are read back and compared.

#include "bench/BenchTiming.h"
#include "bench/FrameCompare.h"
#include "bench/PeerProcess.h"
#include "gpu/software/SoftwareDevice.h"
#include "gpu/software/SoftwareRasterizer.h"

#include <GL/gl.h>
#include <GL/osmesa.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace quarn {
namespace {

constexpr uint32_t Width = 1024;
constexpr uint32_t Height = 768;
constexpr uint32_t TextureSize = 256;
constexpr uint32_t ClearColor = 0xFF203040;
// The engine's pixel centres are at integers; offsetting by half a pixel puts texel centres on
// pixel centres, as a game does, and keeps every edge between two pixel centres.
constexpr float Half = 0.5f;

enum class Frame { Fill, Sprites };

std::vector<uint32_t> TextureTexels() {
    std::vector<uint32_t> texels(TextureSize * TextureSize);
    for (uint32_t y = 0; y < TextureSize; ++y) {
        for (uint32_t x = 0; x < TextureSize; ++x) {
            const uint32_t alpha = ((x * 3 + y * 5) & 0xFF) | 0x20;
            texels[y * TextureSize + x] = alpha << 24 | x << 16 | y << 8 | ((x ^ y) & 0xFF);
        }
    }
    return texels;
}

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
    double fillMs = 0.0;
    double spriteMs = 0.0;
    std::vector<uint32_t> fill;
    std::vector<uint32_t> sprites;
};

class EngineRenderer {
public:
    explicit EngineRenderer(uint32_t threads) {
        GpuPresentParameters p;
        p.backBufferWidth = Width;
        p.backBufferHeight = Height;
        p.backBufferFormat = GpuFormat::A8R8G8B8;
        p.lockableBackBuffer = true;
        device_ = SoftwareDevice::Create(p);
        device_->SetRasterizer(std::make_unique<SoftwareRasterizer>(threads));
        declaration_ = device_->CreateVertexDeclaration(ScreenVertexElements);
        device_->SetVertexDeclaration(declaration_.get());
        texture_ = device_->CreateTexture(TextureSize, TextureSize, 1, 0, GpuFormat::A8R8G8B8,
                                          GpuPool::Managed);
        GpuLockedRect locked;
        texture_->LockRect(0, GpuCubeFace::PositiveX, locked, nullptr, 0);
        const std::vector<uint32_t> texels = TextureTexels();
        for (uint32_t y = 0; y < TextureSize; ++y) {
            std::memcpy(static_cast<uint8_t*>(locked.bits) + y * static_cast<size_t>(locked.pitch),
                        &texels[y * TextureSize], TextureSize * 4);
        }
        texture_->UnlockRect(0, GpuCubeFace::PositiveX);
        device_->SetTexture(0, texture_.get());
        device_->SetRenderState(GpuRenderState::CullMode, static_cast<uint32_t>(GpuCull::None));
        device_->SetRenderState(GpuRenderState::AlphaBlendEnable, 1);
        device_->SetRenderState(GpuRenderState::SrcBlend,
                                static_cast<uint32_t>(GpuBlend::SrcAlpha));
        device_->SetRenderState(GpuRenderState::DestBlend,
                                static_cast<uint32_t>(GpuBlend::InvSrcAlpha));
        // Texture times vertex colour, alpha included, as the fixed-function modulate does.
        for (GpuStageState op : {GpuStageState::ColorOp, GpuStageState::AlphaOp}) {
            device_->SetTextureStageState(0, op, static_cast<uint32_t>(GpuTextureOp::Modulate));
        }
        for (GpuStageState arg : {GpuStageState::ColorArg2, GpuStageState::AlphaArg2}) {
            device_->SetTextureStageState(0, arg, static_cast<uint32_t>(GpuTextureArg::Diffuse));
        }
        for (GpuSamplerState filter : {GpuSamplerState::MagFilter, GpuSamplerState::MinFilter}) {
            device_->SetSamplerState(0, filter, static_cast<uint32_t>(GpuFilter::Linear));
        }
    }

    void Draw(const std::vector<ScreenVertex>& vertices) {
        device_->Clear({}, GpuClearTarget, ClearColor, 1.0f, 0);
        device_->DrawPrimitiveUP(GpuPrimitiveType::TriangleList,
                                 static_cast<uint32_t>(vertices.size() / 3), vertices.data(),
                                 sizeof(ScreenVertex));
    }

    // Reading the back buffer also finishes whatever the device still has queued.
    std::vector<uint32_t> ReadBack() {
        std::vector<uint32_t> pixels(Width * Height);
        GpuSurface* back = device_->GetBackBuffer();
        GpuLockedRect locked;
        back->LockRect(locked, nullptr, 0);
        for (uint32_t y = 0; y < Height; ++y) {
            std::memcpy(&pixels[y * Width],
                        static_cast<uint8_t*>(locked.bits) + y * static_cast<size_t>(locked.pitch),
                        Width * 4);
        }
        back->UnlockRect();
        return pixels;
    }

    // A frame ends when its pixels are done: one read-back timed with the draws.
    double Time(const std::vector<ScreenVertex>& vertices) {
        return bench::MedianMilliseconds([&] {
            Draw(vertices);
            GpuLockedRect locked;
            device_->GetBackBuffer()->LockRect(locked, nullptr, 0);
            device_->GetBackBuffer()->UnlockRect();
        });
    }

private:
    std::unique_ptr<SoftwareDevice> device_;
    std::unique_ptr<GpuVertexDeclaration> declaration_;
    std::unique_ptr<GpuTexture> texture_;
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

// The same frames through fixed-function OpenGL: ortho projection with y downwards, shifted by
// half a pixel since its pixel centres lie between integers.
class PeerRenderer {
public:
    PeerRenderer() : pixels_(Width * Height) {
        context_ = OSMesaCreateContextExt(OSMESA_BGRA, 0, 0, 0, nullptr);
        if (context_ == nullptr ||
            !OSMesaMakeCurrent(context_, pixels_.data(), GL_UNSIGNED_BYTE, Width, Height)) {
            std::fprintf(stderr, "OSMesa context failed\n");
            std::exit(1);
        }
        OSMesaPixelStore(OSMESA_Y_UP, 0);
        glViewport(0, 0, Width, Height);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, Width, Height, 0, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glTranslatef(Half, Half, 0);
        const std::vector<uint32_t> texels = TextureTexels();
        GLuint texture = 0;
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, TextureSize, TextureSize, 0, GL_BGRA,
                     GL_UNSIGNED_BYTE, texels.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        glEnable(GL_TEXTURE_2D);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    }
    ~PeerRenderer() { OSMesaDestroyContext(context_); }

    void Draw(const std::vector<ScreenVertex>& vertices) {
        glClearColor(((ClearColor >> 16) & 0xFF) / 255.0f, ((ClearColor >> 8) & 0xFF) / 255.0f,
                     (ClearColor & 0xFF) / 255.0f, (ClearColor >> 24) / 255.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        const ScreenVertex* v = vertices.data();
        glVertexPointer(2, GL_FLOAT, sizeof(ScreenVertex), &v->x);
        glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, sizeof(ScreenVertex), &v->color);
        glTexCoordPointer(2, GL_FLOAT, sizeof(ScreenVertex), &v->u);
        glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(vertices.size()));
        glFinish();
    }

    double Time(const std::vector<ScreenVertex>& vertices) {
        return bench::MedianMilliseconds([&] { Draw(vertices); });
    }
    const std::vector<uint32_t>& Pixels() const { return pixels_; }

private:
    std::vector<uint32_t> pixels_;
    OSMesaContext context_ = nullptr;
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

} // namespace
} // namespace quarn

int main() {
    using namespace quarn;
    const uint32_t all = std::max(1u, std::thread::hardware_concurrency());
    const Result peer1 = RunPeer(1);
    const Result peerAll = RunPeer(all);
    const Result engine1 = RunEngine(1);
    const Result engineAll = RunEngine(all);

    bench::PrintTableHeader("Frame (1024 x 768)", "llvmpipe ms");
    const std::string allText = std::to_string(all) + " threads";
    bench::PrintTableRow("8 full-screen quads, 1 thread", engine1.fillMs, peer1.fillMs);
    bench::PrintTableRow(("8 full-screen quads, " + allText).c_str(), engineAll.fillMs,
                         peerAll.fillMs);
    bench::PrintTableRow("10000 sprites, 1 thread", engine1.spriteMs, peer1.spriteMs);
    bench::PrintTableRow(("10000 sprites, " + allText).c_str(), engineAll.spriteMs,
                         peerAll.spriteMs);

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
                    bench::Tolerance, share * 100.0, all,
                    identical ? "byte-identical" : "DIFFERENT");
        agree = agree && d.IsRounding(engine->size()) && identical;
    }
    if (!agree) {
        std::printf("FRAMES DISAGREE\n");
        return 1;
    }
    return 0;
}
