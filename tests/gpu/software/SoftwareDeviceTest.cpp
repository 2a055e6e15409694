#include "gpu/software/SoftwareDevice.h"

#include <cstring>
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

namespace quarn {
namespace {

constexpr GpuPresentParameters Screen{.backBufferWidth = 8,
                                      .backBufferHeight = 6,
                                      .lockableBackBuffer = true,
                                      .enableAutoDepthStencil = true};

uint32_t BackPixel(SoftwareDevice& device, uint32_t x, uint32_t y) {
    return static_cast<SoftwareSurface*>(device.GetBackBuffer())->ReadArgb(x, y);
}

class CountingRasterizer : public GpuRasterizer {
public:
    explicit CountingRasterizer(std::vector<GpuDrawCall>* calls) : calls_(calls) {}
    void Draw(const GpuState&, const GpuDrawCall& call) override { calls_->push_back(call); }

private:
    std::vector<GpuDrawCall>* calls_;
};

TEST(SoftwareDevice, ClearFillsOnlyTheViewportAndTheRectsWithinIt) {
    auto device = SoftwareDevice::Create(Screen);
    const uint32_t all = GpuClearTarget | GpuClearZBuffer | GpuClearStencil;
    ASSERT_EQ(device->Clear({}, all, 0xFF102030, 1.0f, 0), GpuResult::Ok);
    ASSERT_EQ(device->SetViewport({2, 1, 3, 2, 0.0f, 1.0f}), GpuResult::Ok);
    ASSERT_EQ(device->Clear({}, all, 0xFFFF0000, 0.25f, 0x1FF), GpuResult::Ok);
    EXPECT_EQ(BackPixel(*device, 4, 2), 0xFFFF0000u);
    EXPECT_EQ(BackPixel(*device, 5, 2), 0xFF102030u);
    auto* depth = static_cast<SoftwareSurface*>(device->GetDepthStencilSurface());
    EXPECT_EQ(depth->DepthPlane()[1 * 8 + 2], 0.25f);
    EXPECT_EQ(depth->StencilPlane()[1 * 8 + 2], 0xFF); // masked to the format's eight bits
    EXPECT_EQ(depth->StencilPlane()[0], 0);
    device->SetViewport({0, 0, 8, 6, 0.0f, 1.0f});
    device->Clear({}, GpuClearTarget, 0, 1.0f, 0);
    device->SetViewport({0, 0, 4, 4, 0.0f, 1.0f});
    GpuRect rects[] = {{3, 3, 100, 100}, {-5, -5, 1, 1}};
    ASSERT_EQ(device->Clear(rects, GpuClearTarget, 0xFFFFFFFF, 1.0f, 0), GpuResult::Ok);
    EXPECT_EQ(BackPixel(*device, 3, 3), 0xFFFFFFFFu);
    EXPECT_EQ(BackPixel(*device, 4, 4), 0xFF000000u);
    EXPECT_EQ(BackPixel(*device, 1, 1), 0xFF000000u);
    // Planes the surface lacks are refused.
    auto noStencil = device->CreateDepthStencilSurface(8, 6, GpuFormat::D24X8);
    ASSERT_NE(noStencil, nullptr);
    device->SetDepthStencilSurface(noStencil.get());
    EXPECT_EQ(device->Clear({}, GpuClearStencil, 0, 1.0f, 0), GpuResult::InvalidCall);
    device->SetDepthStencilSurface(nullptr);
    EXPECT_EQ(device->Clear({}, GpuClearZBuffer, 0, 1.0f, 0), GpuResult::InvalidCall);
}

TEST(SoftwareDevice, ResetIsRefusedWhileDefaultPoolObjectsOrStateBlocksLive) {
    auto device = SoftwareDevice::Create(Screen);
    device->LoseDevice();
    EXPECT_EQ(device->Present(nullptr, nullptr), GpuResult::DeviceLost);
    EXPECT_EQ(device->TestCooperativeLevel(), GpuResult::DeviceNotReset);
    auto target =
        device->CreateTexture(4, 4, 1, GpuUsageRenderTarget, GpuFormat::A8R8G8B8, GpuPool::Default);
    auto managed = device->CreateTexture(4, 4, 1, 0, GpuFormat::A8R8G8B8, GpuPool::Managed);
    auto vertices = device->CreateVertexBuffer(64, GpuUsageDynamic, 0, GpuPool::Default);
    device->BeginStateBlock();
    auto block = device->EndStateBlock();
    const GpuPresentParameters larger{.backBufferWidth = 16, .backBufferHeight = 12};
    EXPECT_EQ(device->Reset(larger), GpuResult::InvalidCall);
    target.reset();
    vertices.reset();
    EXPECT_EQ(device->Reset(larger), GpuResult::InvalidCall); // the state block still lives
    block.reset();
    ASSERT_EQ(device->Reset(larger), GpuResult::Ok); // managed objects survive a reset
    EXPECT_EQ(device->Present(nullptr, nullptr), GpuResult::Ok);
    EXPECT_EQ(device->GetViewport().height, 12u);
}

TEST(SoftwareDevice, StateBlockRecordsWithoutExecutingAndReplaysOnApply) {
    auto device = SoftwareDevice::Create(Screen);
    auto texture = device->CreateTexture(4, 4, 1, 0, GpuFormat::A8R8G8B8, GpuPool::Managed);
    ASSERT_EQ(device->BeginStateBlock(), GpuResult::Ok);
    device->SetRenderState(GpuRenderState::SrcBlend, static_cast<uint32_t>(GpuBlend::SrcAlpha));
    device->SetRenderState(GpuRenderState::SrcBlend, static_cast<uint32_t>(GpuBlend::DestColor));
    device->SetTexture(1, texture.get());
    EXPECT_EQ(device->GetTexture(1), nullptr);
    auto block = device->EndStateBlock();
    ASSERT_NE(block, nullptr);
    device->SetRenderState(GpuRenderState::CullMode, static_cast<uint32_t>(GpuCull::None));
    ASSERT_EQ(block->Apply(), GpuResult::Ok);
    EXPECT_EQ(device->GetRenderState(GpuRenderState::SrcBlend),
              static_cast<uint32_t>(GpuBlend::DestColor));
    EXPECT_EQ(device->GetTexture(1), texture.get());
    // States the block never set stay as they were.
    EXPECT_EQ(device->GetRenderState(GpuRenderState::CullMode),
              static_cast<uint32_t>(GpuCull::None));
    // A destroyed object leaves no binding behind, in the device or the block.
    auto target =
        device->CreateTexture(4, 4, 1, GpuUsageRenderTarget, GpuFormat::A8R8G8B8, GpuPool::Default);
    device->BeginStateBlock();
    device->SetTexture(0, target.get());
    auto binding = device->EndStateBlock();
    device->SetTexture(0, target.get());
    ASSERT_EQ(device->SetRenderTarget(0, target->GetSurface(0, GpuCubeFace::PositiveX)),
              GpuResult::Ok);
    target.reset();
    EXPECT_EQ(device->GetTexture(0), nullptr);
    EXPECT_EQ(device->GetRenderTarget(0), device->GetBackBuffer());
    binding->Apply();
    EXPECT_EQ(device->GetTexture(0), nullptr);
}

TEST(SoftwareDevice, DrawsReachTheRasterizerOnlyWithinTheBuffers) {
    auto device = SoftwareDevice::Create(Screen);
    std::vector<GpuDrawCall> calls;
    device->SetRasterizer(std::make_unique<CountingRasterizer>(&calls));
    GpuVertexElement elements[] = {{0, 0, GpuDeclType::Float3, GpuDeclUsage::Position, 0},
                                   {1, 0, GpuDeclType::Color, GpuDeclUsage::Color, 0}};
    auto declaration = device->CreateVertexDeclaration(elements);
    ASSERT_NE(declaration, nullptr);
    auto positions = device->CreateVertexBuffer(4 * 12, 0, 0, GpuPool::Managed);
    auto colours = device->CreateVertexBuffer(3 * 4, 0, 0, GpuPool::Managed);
    auto indices = device->CreateIndexBuffer(6 * 2, 0, GpuFormat::Index16, GpuPool::Managed);
    void* data = nullptr;
    ASSERT_EQ(indices->Lock(0, 0, data, 0), GpuResult::Ok);
    const uint16_t values[] = {0, 1, 2, 0, 2, 3};
    std::memcpy(data, values, sizeof(values));
    indices->Unlock();
    device->SetVertexDeclaration(declaration.get());
    device->SetStreamSource(0, positions.get(), 0, 12);
    device->SetStreamSource(1, colours.get(), 0, 4);
    device->SetIndices(indices.get());
    EXPECT_EQ(device->DrawIndexedPrimitive(GpuPrimitiveType::TriangleList, 0, 0, 3, 0, 1),
              GpuResult::Ok);
    // Index 3 lies past the colour stream's three vertices.
    EXPECT_EQ(device->DrawIndexedPrimitive(GpuPrimitiveType::TriangleList, 0, 0, 4, 0, 2),
              GpuResult::InvalidCall);
    EXPECT_EQ(device->DrawIndexedPrimitive(GpuPrimitiveType::TriangleList, -1, 0, 3, 0, 1),
              GpuResult::InvalidCall);
    EXPECT_EQ(device->DrawPrimitive(GpuPrimitiveType::TriangleStrip, 1, 1), GpuResult::InvalidCall);
    EXPECT_EQ(device->DrawPrimitive(GpuPrimitiveType::LineStrip, 0, 2), GpuResult::Ok);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].streamData[1], static_cast<SoftwareVertexBuffer*>(colours.get())->Data());
    // User-memory draws unbind stream 0 and need a whole vertex per stride.
    float vertices[3 * 4] = {};
    GpuVertexElement screen[] = {{0, 0, GpuDeclType::Float4, GpuDeclUsage::PositionT, 0}};
    auto screenDeclaration = device->CreateVertexDeclaration(screen);
    device->SetVertexDeclaration(screenDeclaration.get());
    EXPECT_EQ(device->DrawPrimitiveUP(GpuPrimitiveType::TriangleList, 1, vertices, 8),
              GpuResult::InvalidCall);
    ASSERT_EQ(device->DrawPrimitiveUP(GpuPrimitiveType::TriangleList, 1, vertices, 16),
              GpuResult::Ok);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].streamData[0], reinterpret_cast<const uint8_t*>(vertices));
    EXPECT_EQ(device->State().streams[0].buffer, nullptr);
}

TEST(SoftwareDevice, BufferLocksHonourDynamicUsageAndBounds) {
    auto device = SoftwareDevice::Create(Screen);
    auto fixed = device->CreateVertexBuffer(32, GpuUsageWriteOnly, 0, GpuPool::Managed);
    auto dynamic =
        device->CreateVertexBuffer(32, GpuUsageDynamic | GpuUsageWriteOnly, 0, GpuPool::Default);
    void* data = nullptr;
    EXPECT_EQ(fixed->Lock(0, 0, data, GpuLockDiscard), GpuResult::InvalidCall);
    EXPECT_EQ(fixed->Lock(16, 17, data, 0), GpuResult::InvalidCall);
    EXPECT_EQ(dynamic->Lock(0, 0, data, GpuLockDiscard), GpuResult::Ok);
    EXPECT_EQ(dynamic->Lock(0, 0, data, GpuLockNoOverwrite), GpuResult::InvalidCall);
    EXPECT_EQ(dynamic->Unlock(), GpuResult::Ok);
    EXPECT_EQ(dynamic->Lock(8, 8, data, GpuLockNoOverwrite), GpuResult::Ok);
}

// A copy at the same size moves each texel as reading and writing it one by one would, X8R8G8B8
// reading as opaque, whole rows or part of them.
TEST(SoftwareDevice, StretchRectAtTheSameSizeCopiesTexelsAsTheyRead) {
    auto device = SoftwareDevice::Create(Screen);
    const GpuRect part{1, 2, 6, 5};
    for (const auto& [from, to, rect] :
         {std::tuple{GpuFormat::A8R8G8B8, GpuFormat::A8R8G8B8, &part},
          std::tuple{GpuFormat::X8R8G8B8, GpuFormat::A8R8G8B8, &part},
          std::tuple{GpuFormat::A8R8G8B8, GpuFormat::X8R8G8B8,
                     static_cast<const GpuRect*>(nullptr)},
          std::tuple{GpuFormat::X8R8G8B8, GpuFormat::X8R8G8B8,
                     static_cast<const GpuRect*>(nullptr)}}) {
        SCOPED_TRACE(testing::Message()
                     << static_cast<int>(from) << " to " << static_cast<int>(to));
        auto source = device->CreateOffscreenPlainSurface(7, 6, from, GpuPool::Default);
        auto dest = device->CreateOffscreenPlainSurface(7, 6, to, GpuPool::Default);
        ASSERT_NE(source, nullptr);
        ASSERT_NE(dest, nullptr);
        auto* src = static_cast<SoftwareSurface*>(source.get());
        auto* dst = static_cast<SoftwareSurface*>(dest.get());
        for (uint32_t i = 0; i < src->Pitch() * src->Height(); ++i) {
            src->Bits()[i] = static_cast<uint8_t>(i * 37 + 11);
            dst->Bits()[i] = static_cast<uint8_t>(i * 13 + 5);
        }
        std::vector<uint32_t> expected(7 * 6);
        for (uint32_t y = 0; y < 6; ++y) {
            for (uint32_t x = 0; x < 7; ++x) {
                const bool inside = rect == nullptr || (static_cast<int32_t>(x) >= rect->left &&
                                                        static_cast<int32_t>(x) < rect->right &&
                                                        static_cast<int32_t>(y) >= rect->top &&
                                                        static_cast<int32_t>(y) < rect->bottom);
                uint32_t raw = 0;
                std::memcpy(&raw, (inside ? src : dst)->Bits() + y * src->Pitch() + x * 4, 4);
                expected[y * 7 + x] = inside ? src->ReadArgb(x, y) : raw;
            }
        }
        ASSERT_EQ(device->StretchRect(source.get(), rect, dest.get(), rect), GpuResult::Ok);
        for (uint32_t y = 0; y < 6; ++y) {
            for (uint32_t x = 0; x < 7; ++x) {
                uint32_t got = 0;
                std::memcpy(&got, dst->Bits() + y * dst->Pitch() + x * 4, 4);
                EXPECT_EQ(got, expected[y * 7 + x]) << x << ", " << y;
            }
        }
    }
}

} // namespace
} // namespace quarn
