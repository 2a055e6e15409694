#include "core/os/HeldMemory.h"

#include "tests/support/FreshProcess.h"

#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace quarn {
namespace {

constexpr size_t MiB = size_t(1) << 20;

// Touches the memory, so that no allocation is left out as unused.
template <class Buffer>
void Fill(Buffer& buffer, size_t bytes) {
    volatile char* bytesOf = reinterpret_cast<volatile char*>(&buffer[0]);
    for (size_t i = 0; i < bytes; i += 4096) {
        bytesOf[i] = 1;
    }
}

// Whatever makes it (new, new[], a container, a text), memory is counted while it is held.
TEST(HeldMemory, CountsWhatIsHeldUntilItIsFreed) {
    const size_t before = GetHeldMemory();
    auto block = std::make_unique<char[]>(8 * MiB);
    Fill(block, 8 * MiB);
    auto words = std::make_unique<std::vector<uint32_t>>(2 * MiB);
    Fill(*words, 8 * MiB);
    auto text = std::make_unique<std::string>(8 * MiB, 'x');
    Fill(*text, 8 * MiB);
    EXPECT_GE(GetHeldMemory(), before + 24 * MiB);
    block.reset();
    words.reset();
    text.reset();
    EXPECT_LT(GetHeldMemory(), before + MiB);
}

TEST(HeldMemory, TheBudgetAllowsWhatFitsBesideWhatIsHeld) {
    EXPECT_GE(GetMemoryBudget(), 64 * MiB);
    SetMemoryBudget(GetHeldMemory() + 10 * MiB);
    EXPECT_TRUE(MemoryBudgetAllows(9 * MiB));
    EXPECT_FALSE(MemoryBudgetAllows(11 * MiB));
    SetMemoryBudget(GetHeldMemory() / 2);
    EXPECT_FALSE(MemoryBudgetAllows(0));
    SetMemoryBudget(0);
    EXPECT_TRUE(MemoryBudgetAllows(10 * MiB));
}

// A limit on the data leaves the game half of what it allows beside the data the process holds,
// whatever else it maps (libraries, reserved regions; the sanitizers' shadow is terabytes): the
// budget was 0 under any such limit once the process mapped more than it allowed.
TEST(HeldMemory, ADataLimitLeavesHalfOfWhatItAllowsBesideTheData) {
    test::ExpectInFreshProcess([] {
        std::ifstream statm("/proc/self/statm");
        size_t pages[6] = {};
        for (size_t& count : pages) {
            statm >> count;
        }
        const size_t data = pages[5] * size_t(sysconf(_SC_PAGESIZE));
        rlimit limit{};
        ASSERT_EQ(getrlimit(RLIMIT_DATA, &limit), 0);
        limit.rlim_cur = data + 2048 * MiB;
        ASSERT_EQ(setrlimit(RLIMIT_DATA, &limit), 0);
        SetMemoryBudget(0);
        EXPECT_GT(GetMemoryBudget(), 512 * MiB);
        EXPECT_LE(GetMemoryBudget(), 1024 * MiB);
        EXPECT_TRUE(AddressSpaceIsLimited());
    });
}

} // namespace
} // namespace quarn
