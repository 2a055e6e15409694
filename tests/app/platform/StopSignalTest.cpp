#include "app/platform/StopSignal.h"

#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quarn {
namespace {

// Runs in a process of its own, which goes on as if nothing had happened.
[[noreturn]] void SignalAndCarryOn(int signal) {
    WatchStopSignals();
    raise(signal);
    if (!StopRequested()) {
        _exit(2);
    }
    for (;;) {
        pause();
    }
}

TEST(StopSignal, TermAndIntAreSeenAtOnceAndEndAProcessThatCarriesOnWithStatusZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (int signal : {SIGTERM, SIGINT}) {
        EXPECT_EXIT(SignalAndCarryOn(signal), testing::ExitedWithCode(0), "") << signal;
    }
}

// A shell's background job is started with SIGINT ignored, so that Ctrl+C leaves it running.
TEST(StopSignal, ASignalIgnoredFromTheStartStaysIgnored) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            signal(SIGINT, SIG_IGN);
            WatchStopSignals();
            raise(SIGINT);
            _exit(StopRequested() ? 2 : 3);
        },
        testing::ExitedWithCode(3), "");
}

} // namespace
} // namespace quarn
