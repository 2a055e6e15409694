#include "gpu/software/RenderThreads.h"

#include "tests/support/CapturingLogSink.h"
#include "tests/support/FreshProcess.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

// A count is read whole; anything else is named once, however many devices ask, and the
// default is drawn with.
TEST(RenderThreads, ACountThatIsNoCountIsReportedOnceAndTheDefaultTaken) {
    // Named once in a process, and the variable is left set.
    test::ExpectInFreshProcess([] {
        test::CapturingLogSink log;
        unsetenv("QUARN_RENDER_THREADS");
        const uint32_t fallback = RenderThreadCount();
        setenv("QUARN_RENDER_THREADS", "3", 1);
        EXPECT_EQ(RenderThreadCount(), 3u);
        EXPECT_TRUE(log.Lines().empty());
        for (const char* text : {"abc", "4x", "0", "257"}) {
            setenv("QUARN_RENDER_THREADS", text, 1);
            EXPECT_EQ(RenderThreadCount(), fallback) << text;
        }
        ASSERT_EQ(log.Lines().size(), 1u);
        EXPECT_EQ(log.Lines()[0].text,
                  "QUARN_RENDER_THREADS is \"abc\", not a count from 1 to 256: "
                  "drawing with " +
                      std::to_string(fallback) + " threads");
    });
}

} // namespace
} // namespace quarn
