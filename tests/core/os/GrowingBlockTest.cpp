#include "core/os/GrowingBlock.h"

#include "core/os/HeldMemory.h"

#include <cstdint>
#include <gtest/gtest.h>

namespace quarn {
namespace {

constexpr size_t MiB = size_t(1) << 20;

class GrowingBlockTest : public testing::Test {
protected:
    void TearDown() override { SetMemoryBudget(0); }
};

// A large block holds only what is in use, at an address that stays, each step allowed by the
// budget and counted; its words read zero wherever they are first taken.
TEST_F(GrowingBlockTest, ALargeBlockIsTakenAsItIsUsedAndStaysInPlace) {
    if (AddressSpaceIsLimited()) {
        GTEST_SKIP() << "with an address-space limit every block is taken whole";
    }
    const size_t held = GetHeldMemory();
    SetMemoryBudget(held + 5 * MiB);
    {
        GrowingBlock block;
        ASSERT_TRUE(block.Reserve(64 * MiB, 100));
        EXPECT_EQ(block.InUse(), GrowingBlock::WholeBytes);
        EXPECT_LT(GetHeldMemory(), held + MiB);
        void* const data = block.Data();
        EXPECT_TRUE(block.Use(3 * MiB));
        EXPECT_GE(block.InUse(), 3 * MiB);
        EXPECT_EQ(block.Data(), data);
        EXPECT_GE(GetHeldMemory(), held + 3 * MiB);
        const auto* words = static_cast<const uint32_t*>(data);
        EXPECT_EQ(words[3 * MiB / 4 - 1], 0u);
        // Doubling would pass the budget: refused, nothing taken.
        const size_t inUse = block.InUse();
        EXPECT_FALSE(block.Use(inUse + 1));
        EXPECT_EQ(block.InUse(), inUse);
        EXPECT_FALSE(block.Use(65 * MiB)) << "past its size";
    }
    EXPECT_LT(GetHeldMemory(), held + MiB);
}

// Small blocks, and blocks the budget cannot hold at first, are taken whole or not at all.
TEST_F(GrowingBlockTest, ASmallBlockIsTakenWholeAndAnyBlockMayBeRefused) {
    const size_t held = GetHeldMemory();
    SetMemoryBudget(held + MiB);
    GrowingBlock small;
    ASSERT_TRUE(small.Reserve(100, 4));
    EXPECT_EQ(small.InUse(), 100u);
    EXPECT_EQ(static_cast<const uint8_t*>(small.Data())[99], 0);
    SetMemoryBudget(GetHeldMemory() + GrowingBlock::WholeBytes / 2);
    GrowingBlock refused;
    EXPECT_FALSE(refused.Reserve(GrowingBlock::WholeBytes, 4)) << "whole, past the budget";
    EXPECT_FALSE(refused.Reserve(64 * MiB, 4)) << "its first step past the budget";
    EXPECT_EQ(refused.Data(), nullptr);
}

} // namespace
} // namespace quarn
