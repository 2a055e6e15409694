#include "device/IndexBuffer.h"

#include "gpu/software/SoftwareDevice.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

class IndexBufferTest : public ::testing::Test {
protected:
    void SetUp() override { device_ = MakeDevice(GpuCaps{}); }

    static std::unique_ptr<SoftwareDevice> MakeDevice(const GpuCaps& caps) {
        return SoftwareDevice::Create({.backBufferWidth = 4, .backBufferHeight = 4}, caps);
    }

    std::vector<uint32_t> Read(IndexBuffer& b) {
        std::vector<uint32_t> values;
        for (uint32_t i = 0; i < b.GetIndexCount(); ++i) {
            values.push_back(b.GetIndex(i));
        }
        return values;
    }

    std::unique_ptr<SoftwareDevice> device_;
};

TEST_F(IndexBufferTest, IndexSizeFollowsTheDevicesLargestVertexIndex) {
    IndexBuffer wide(*device_);
    EXPECT_EQ(wide.GetIndexSize(), 4u);
    GpuCaps caps;
    caps.maxVertexIndex = 0xFFFF;
    auto small = MakeDevice(caps);
    IndexBuffer narrow(*small);
    ASSERT_TRUE(narrow.Create(6, 0));
    EXPECT_EQ(narrow.GetIndexSize(), 2u);
    EXPECT_EQ(narrow.GetMemorySize(), 12u); // two bytes per index, not four
    narrow.SetIndex(0, 0x12345);
    EXPECT_EQ(narrow.GetIndex(0), 0x2345u);
}

TEST_F(IndexBufferTest, PrimitiveCountsFollowTheKindAndNeverWrap) {
    IndexBuffer b(*device_);
    ASSERT_TRUE(b.Create(7, 1));
    EXPECT_EQ(b.GetPrimitiveCount(), 3u);
    ASSERT_TRUE(b.Create(2, 2));
    EXPECT_EQ(b.GetPrimitiveCount(), 0u);
    b.SetCount(1);
    EXPECT_EQ(b.GetPrimitiveCount(), 0u);
    ASSERT_TRUE(b.Create(5, 3));
    EXPECT_EQ(b.GetPrimitiveCount(), 4u);
}

TEST_F(IndexBufferTest, DynamicFillingSpansSeveralAdditionsUntilUnlocked) {
    IndexBuffer b(*device_);
    // Additions beyond the capacity change nothing.
    ASSERT_TRUE(b.Create(6, IndexStartEmpty));
    EXPECT_EQ(b.GetIndexCount(), 0u);
    EXPECT_EQ(b.AddIndices(3), 0u);
    EXPECT_EQ(b.AddIndices(3), 3u);
    EXPECT_EQ(b.AddIndices(1), IndexBuffer::NoIndex);
    EXPECT_EQ(b.GetIndexCount(), 6u);
    EXPECT_EQ(b.GetPrimitiveCount(), 2u);
    ASSERT_TRUE(b.Create(12, IndexStartEmpty));
    b.FillQuadIndices(b.AddIndices(6), 1, 0, true);
    b.FillQuadIndices(b.AddIndices(6), 1, 4, true);
    EXPECT_EQ(b.GetLockMode(), 2u);
    ASSERT_TRUE(b.Lock(0));
    EXPECT_EQ(Read(b)[7], 5u);
    // Later in the frame, after an unlock: the write pointer must come from a fresh lock.
    b.Clear();
    ASSERT_EQ(b.AddIndices(6), 0u);
    b.FillQuadIndices(0, 1, 20, true);
    ASSERT_TRUE(b.Lock(0));
    EXPECT_EQ(Read(b)[5], 23u);
    // Clearing a locked buffer releases the lock.
    ASSERT_TRUE(b.Create(6, 0));
    ASSERT_TRUE(b.Lock(2));
    b.Clear();
    EXPECT_TRUE(b.Lock(1));
}

TEST_F(IndexBufferTest, AppendedRangesAreOffsetAndConvertedBetweenSizes) {
    GpuCaps caps;
    caps.maxVertexIndex = 0xFFFF;
    auto small = MakeDevice(caps);
    IndexBuffer source(*small);
    ASSERT_TRUE(source.Create(3, IndexSystemMemory));
    source.FillTriangles(0, 1, 1);
    ASSERT_TRUE(source.Lock(1));
    IndexBuffer target(*device_);
    ASSERT_TRUE(target.Create(6, IndexStartEmpty));
    EXPECT_EQ(target.AppendRange(3, source.GetRange(0), 100), 0u);
    EXPECT_EQ(target.AppendRange(2, source.GetRange(1), 0), 3u);
    EXPECT_EQ(target.AppendRange(2, source.GetRange(0), 0), 0u); // no room left
    IndexRange lying = source.GetRange(3);                       // holds no index at all
    EXPECT_EQ(target.AppendRange(1, lying, 0), 0u);
    EXPECT_EQ(Read(target), (std::vector<uint32_t>{101, 102, 103, 2, 3}));
}

} // namespace
} // namespace quarn
