#include "device/VertexBuffer.h"

#include "device/IndexBuffer.h"
#include "gpu/software/SoftwareDevice.h"

#include <bit>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

constexpr GpuPresentParameters Screen{
    .backBufferWidth = 8, .backBufferHeight = 8, .lockableBackBuffer = true};

float AsFloat(uint32_t word) {
    return std::bit_cast<float>(word);
}

TEST(VertexLayout, FormatBitsGiveTheStrideOrderAndDeclarationOfComponents) {
    using Words = std::vector<uint32_t>;
    EXPECT_EQ(VertexLayout::FromFormat(0x2A).stride, 7u);
    // Only the highest coordinate bit counts: three sets, stored from set 0.
    const VertexLayout sets = VertexLayout::FromFormat(0x81);
    EXPECT_EQ((Words{sets.texCoordSets, sets.stride}), (Words{3, 9}));
    const VertexLayout all = VertexLayout::FromFormat(0xE3D);
    EXPECT_EQ((Words{all.normal, all.color, all.texCoord, all.extra, all.weight, all.stride}),
              (Words{3, 6, 8, 10, 11, 13}));

    // The weights follow the extra float in memory although they come first by bit.
    const VertexLayout layout = VertexLayout::FromFormat(0xE1D);
    ASSERT_EQ(layout.elements.size(), 7u);
    EXPECT_EQ(layout.elements[4].usage, GpuDeclUsage::BlendWeight);
    EXPECT_EQ((Words{layout.elements[4].offset, layout.elements[6].offset}), (Words{36, 32}));
    EXPECT_NE(SoftwareDevice::Create(Screen)->CreateVertexDeclaration(layout.elements), nullptr);
}

class VertexBufferTest : public ::testing::Test {
protected:
    void SetUp() override {
        device_ = SoftwareDevice::Create(Screen);
        ASSERT_NE(device_, nullptr);
    }
    std::unique_ptr<SoftwareDevice> device_;
};

TEST_F(VertexBufferTest, ComponentsRoundTripAndMissingOnesReadAsZero) {
    VertexBuffer buffer(*device_);
    ASSERT_TRUE(buffer.Create(2, 0x7F, 0)); // screen position, normal, two colours, two sets
    buffer.SetPosition(1, {1, 2, 3});
    buffer.SetTexCoord(1, 1, 0.25f, 0.75f);
    buffer.SetColor(1, 1, 0x80405060);
    EXPECT_EQ(AsFloat(buffer.GetVertices()[buffer.GetStride() + 3]), 1.0f); // rhw
    EXPECT_EQ(buffer.GetTexCoord(1, 1).y, 0.75f);
    EXPECT_EQ(buffer.GetColor(1, 1), 0x80405060u);
    VertexBuffer plain(*device_);
    ASSERT_TRUE(plain.Create(1, 0x21, 0));
    plain.SetTexCoord(0, 0, 5, 6);
    plain.SetTexCoord(0, 1, 7, 8); // no second set: must not spill into the next vertex
    plain.SetColor(0, 0, 0xFFFFFFFF);
    plain.SetPosition(9, {1, 1, 1}); // beyond the storage
    EXPECT_EQ(plain.GetTexCoord(0, 1).x, 0.0f);
    EXPECT_EQ(plain.GetColor(0, 0), 0u);
    EXPECT_EQ(plain.GetNormal(0).x, 0.0f);
    EXPECT_EQ(plain.GetTexCoord(0, 0).x, 5.0f);
    EXPECT_EQ(plain.GetPosition(9).x, 0.0f);
}

TEST_F(VertexBufferTest, RecreationKeepsContentsOnlyForTheSameFormatAndEnoughRoom) {
    VertexBuffer buffer(*device_);
    // An empty creation holds one unwritten vertex but no capacity.
    ASSERT_TRUE(buffer.Create(0, 0x9, 0));
    EXPECT_EQ(buffer.GetCapacity(), 0u);
    EXPECT_EQ(buffer.GetStride(), 4u);
    EXPECT_EQ(buffer.GetPosition(0).y, 1234.0f);
    EXPECT_EQ(buffer.AddVertices(1), VertexBuffer::NoVertex);
    ASSERT_TRUE(buffer.Create(4, 0x9, 0));
    buffer.SetColor(3, 0, 0xFF00FF00);
    ASSERT_TRUE(buffer.Create(2, 0x9, 0));
    EXPECT_EQ(buffer.GetCapacity(), 4u);
    EXPECT_EQ(buffer.GetColor(3, 0), 0xFF00FF00u);
    ASSERT_TRUE(buffer.Create(2, 0x29, 0));
    EXPECT_EQ(buffer.GetCapacity(), 2u);
    EXPECT_EQ(buffer.GetColor(1, 0), std::bit_cast<uint32_t>(1234.0f));
}

TEST_F(VertexBufferTest, CapacityRefusesAdditionsAndCutsAppends) {
    VertexBuffer buffer(*device_);
    ASSERT_TRUE(buffer.Create(6, 0x9, 0));
    buffer.Clear();
    EXPECT_EQ(buffer.AddVertices(4), 0u);
    EXPECT_EQ(buffer.GetWriteState(), 2u);
    EXPECT_EQ(buffer.AddVertices(3), VertexBuffer::NoVertex);
    EXPECT_EQ(buffer.GetCount(), 4u);
    const uint32_t source[12] = {0, 0, 0, 0xAA, 0, 0, 0, 0xBB, 0, 0, 0, 0xCC};
    EXPECT_EQ(buffer.Append(3, source), 4u);
    EXPECT_EQ(buffer.GetCount(), 6u);
    EXPECT_EQ(buffer.GetColor(5, 0), 0xBBu);
    EXPECT_EQ(buffer.Append(1, source), VertexBuffer::NoVertex);
}

TEST_F(VertexBufferTest, OpenVertexReportsAnIndexBeyondTheCapacity) {
    std::vector<std::string> reports;
    VertexBuffer buffer(*device_, [&](const char* m) { reports.emplace_back(m); });
    ASSERT_TRUE(buffer.Create(4, 0x9, 0));
    EXPECT_EQ(buffer.OpenVertex(1).size(), 12u);
    EXPECT_TRUE(buffer.OpenVertex(4).empty());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "open vertex error: invalid index");
}

// Two quads side by side in screen space, drawn through the buffers' own GPU copies.
class BufferDrawTest : public VertexBufferTest {
protected:
    void Quad(VertexBuffer& vertices, float left, float right, uint32_t color) {
        const uint32_t first = vertices.AddVertices(4);
        ASSERT_NE(first, VertexBuffer::NoVertex);
        const float xs[4] = {left, right, right, left};
        const float ys[4] = {0, 0, 8, 8};
        for (uint32_t k = 0; k < 4; ++k) {
            vertices.SetPosition(first + k, {xs[k], ys[k], 0.5f});
            vertices.SetColor(first + k, 0, color);
        }
    }

    void Draw(VertexBuffer& vertices, IndexBuffer& indices) {
        device_->SetRenderState(GpuRenderState::CullMode, static_cast<uint32_t>(GpuCull::None));
        device_->SetRenderState(GpuRenderState::ZEnable, 0);
        device_->Clear({}, GpuClearTarget, 0, 1.0f, 0);
        GpuVertexBuffer* stream = vertices.Upload();
        ASSERT_NE(stream, nullptr);
        device_->SetVertexDeclaration(vertices.GetDeclaration());
        device_->SetStreamSource(0, stream, 0, vertices.GetStride() * 4);
        indices.Bind();
        device_->BeginScene();
        ASSERT_EQ(device_->DrawIndexedPrimitive(indices.GetPrimitiveType(), 0, 0,
                                                vertices.GetCount(), 0,
                                                indices.GetPrimitiveCount()),
                  GpuResult::Ok);
        device_->EndScene();
    }

    uint32_t Pixel(uint32_t x, uint32_t y) {
        return static_cast<SoftwareSurface*>(device_->GetBackBuffer())->ReadArgb(x, y) & 0xFFFFFF;
    }
};

TEST_F(BufferDrawTest, UploadedChangesAppearInTheNextDraw) {
    VertexBuffer vertices(*device_);
    ASSERT_TRUE(vertices.Create(8, 0xA, 0));
    vertices.Clear();
    Quad(vertices, 0, 4, 0xFF0000FF);
    Quad(vertices, 4, 8, 0xFF00FF00);
    IndexBuffer indices(*device_);
    ASSERT_TRUE(indices.Create(12, IndexSystemMemory));
    indices.FillQuadIndices(0, 2, 0, true);
    Draw(vertices, indices);
    EXPECT_EQ(Pixel(1, 4), 0x0000FFu);
    EXPECT_EQ(Pixel(6, 4), 0x00FF00u);
    for (uint32_t k = 4; k < 8; ++k) {
        vertices.SetColor(k, 0, 0xFFFF0000);
    }
    indices.SetCount(6); // first quad only
    Draw(vertices, indices);
    EXPECT_EQ(Pixel(1, 4), 0x0000FFu);
    EXPECT_EQ(Pixel(6, 4), 0u);
    indices.SetCount(12);
    Draw(vertices, indices);
    EXPECT_EQ(Pixel(6, 4), 0xFF0000u);
}

TEST_F(BufferDrawTest, DynamicBuffersComeBackAfterAnInjectedLossWithTheirContentsKept) {
    VertexBuffer dynamic(*device_);
    ASSERT_TRUE(dynamic.Create(8, 0xC000A, 0));
    EXPECT_TRUE(dynamic.HasGpuBuffer());
    Quad(dynamic, 0, 4, 0xFF0000FF);
    VertexBuffer fixed(*device_);
    ASSERT_TRUE(fixed.Create(4, 0xA, 0));
    fixed.Clear();
    Quad(fixed, 4, 8, 0xFF00FF00);
    ASSERT_NE(fixed.Upload(), nullptr);
    IndexBuffer indices(*device_);
    ASSERT_TRUE(indices.Create(6, IndexStartEmpty));
    int restored = 0;
    indices.SetRestoreCallback([&](IndexBuffer& b) {
        ++restored;
        b.FillQuadIndices(b.AddIndices(6), 1, 0, true);
        return b.Lock(0);
    });
    indices.FillQuadIndices(indices.AddIndices(6), 1, 0, true);
    ASSERT_TRUE(indices.Lock(0));
    device_->LoseDevice();
    VertexBuffer::ReleaseDynamic(*device_);
    IndexBuffer::ReleaseDynamic(*device_);
    ASSERT_EQ(device_->Reset(Screen), GpuResult::Ok); // nothing of the default pool was left alive
    ASSERT_TRUE(VertexBuffer::RestoreDynamic(*device_));
    ASSERT_TRUE(IndexBuffer::RestoreDynamic(*device_));
    EXPECT_EQ(restored, 1);
    EXPECT_EQ(dynamic.GetCount(), 0u);
    EXPECT_EQ(dynamic.GetColor(0, 0), 0xFF0000FFu);
    EXPECT_TRUE(fixed.HasGpuBuffer());
    EXPECT_EQ(fixed.GetCount(), 4u);
    Draw(fixed, indices);
    EXPECT_EQ(Pixel(6, 4), 0x00FF00u);
    dynamic.AddVertices(4);
    Draw(dynamic, indices);
    EXPECT_EQ(Pixel(1, 4), 0x0000FFu);
}

} // namespace
} // namespace quarn
