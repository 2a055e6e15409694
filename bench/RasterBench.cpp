// Fill rate and sprite throughput of the software rasteriser.

#include "gpu/software/SoftwareDevice.h"
#include "gpu/software/SoftwareRasterizer.h"

#include <benchmark/benchmark.h>
#include <vector>

namespace quarn {
namespace {

struct Scene {
    std::unique_ptr<SoftwareDevice> device;
    std::unique_ptr<GpuVertexDeclaration> declaration;
    std::unique_ptr<GpuTexture> texture;

    Scene(uint32_t width, uint32_t height) {
        GpuPresentParameters p;
        p.backBufferWidth = width;
        p.backBufferHeight = height;
        device = SoftwareDevice::Create(p);
        declaration = device->CreateVertexDeclaration(ScreenVertexElements);
        device->SetVertexDeclaration(declaration.get());
        texture = device->CreateTexture(64, 64, 1, 0, GpuFormat::A8R8G8B8, GpuPool::Managed);
        GpuLockedRect locked;
        texture->LockRect(0, GpuCubeFace::PositiveX, locked, nullptr, 0);
        for (uint32_t y = 0; y < 64; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.bits) +
                                                    y * static_cast<uint32_t>(locked.pitch));
            for (uint32_t x = 0; x < 64; ++x) {
                row[x] = ((x ^ y) & 8) != 0 ? 0xC0FFFFFFu : 0x80404040u;
            }
        }
        texture->UnlockRect(0, GpuCubeFace::PositiveX);
        device->SetTexture(0, texture.get());
        device->SetRenderState(GpuRenderState::CullMode, static_cast<uint32_t>(GpuCull::None));
        device->SetRenderState(GpuRenderState::AlphaBlendEnable, 1);
        device->SetRenderState(GpuRenderState::SrcBlend, static_cast<uint32_t>(GpuBlend::SrcAlpha));
        device->SetRenderState(GpuRenderState::DestBlend,
                               static_cast<uint32_t>(GpuBlend::InvSrcAlpha));
        device->SetSamplerState(0, GpuSamplerState::MagFilter,
                                static_cast<uint32_t>(GpuFilter::Linear));
        device->SetSamplerState(0, GpuSamplerState::MinFilter,
                                static_cast<uint32_t>(GpuFilter::Linear));
    }
};

void AppendQuad(std::vector<ScreenVertex>& out, float x0, float y0, float x1, float y1, float u1,
                float v1) {
    const ScreenVertex a{x0, y0, 0.5f, 1, 0xFFFFFFFF, 0, 0};
    const ScreenVertex b{x1, y0, 0.5f, 1, 0xFFFFFFFF, u1, 0};
    const ScreenVertex c{x1, y1, 0.5f, 1, 0xFFFFFFFF, u1, v1};
    const ScreenVertex d{x0, y1, 0.5f, 1, 0xFFFFFFFF, 0, v1};
    out.insert(out.end(), {a, b, c, a, c, d});
}

void FullScreenTexturedBlendedQuad(benchmark::State& state) {
    Scene scene(1024, 768);
    std::vector<ScreenVertex> quad;
    AppendQuad(quad, 0, 0, 1024, 768, 16, 12);
    for (auto _ : state) {
        scene.device->DrawPrimitiveUP(GpuPrimitiveType::TriangleList, 2, quad.data(),
                                      sizeof(ScreenVertex));
    }
    state.counters["Mpixels/s"] =
        benchmark::Counter(1024.0 * 768.0 * static_cast<double>(state.iterations()) / 1.0e6,
                           benchmark::Counter::kIsRate);
}
BENCHMARK(FullScreenTexturedBlendedQuad)->Unit(benchmark::kMillisecond);

void TenThousandSmallSprites(benchmark::State& state) {
    Scene scene(1024, 768);
    std::vector<ScreenVertex> sprites;
    for (uint32_t i = 0; i < 10000; ++i) {
        const float x = static_cast<float>((i * 37) % 1000);
        const float y = static_cast<float>((i * 53) % 740);
        AppendQuad(sprites, x, y, x + 16, y + 16, 1, 1);
    }
    for (auto _ : state) {
        scene.device->DrawPrimitiveUP(GpuPrimitiveType::TriangleList, 20000, sprites.data(),
                                      sizeof(ScreenVertex));
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(TenThousandSmallSprites)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quarn

BENCHMARK_MAIN();
