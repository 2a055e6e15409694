#include "app/platform/StopSignal.h"

#include "app/dialogs/DialogBackend.h"
#include "core/filesystem/FileOutputStream.h"
#include "tests/support/TempFolder.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
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

// A write under way when a stop signal comes never replaces its file: its close fails and takes
// the temporary with it, and no later write opens, whichever signal it was.
TEST(StopSignal, AWriteUnderWayLeavesItsFileAsItWasAndNoneOpensAfter) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        test::TempFolder folder;
        folder.WriteFile("out.scene", "old");
        EXPECT_EXIT(
            {
                SetStopEnding(1, nullptr);
                WatchStopSignals();
                FileOutputStream stream;
                if (!stream.Open(folder.Join("out.scene").c_str(), 0) ||
                    stream.Write("new", 3) != 3) {
                    _exit(2);
                }
                raise(signal);
                FileOutputStream later;
                if (stream.Close() || later.Open(folder.Join("later").c_str(), 0)) {
                    _exit(3);
                }
                for (;;) {
                    pause();
                }
            },
            testing::ExitedWithCode(1), "")
            << signal;
        EXPECT_EQ(folder.ReadFile("out.scene"), "old") << signal;
        for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
            EXPECT_EQ(entry.path().filename(), "out.scene") << signal;
        }
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

// Whether the process is gone (or left only to be reaped) within five seconds.
bool Ends(pid_t process) {
    for (int wait = 0; wait < 500; ++wait) {
        std::ifstream stat(std::string("/proc/") + std::to_string(process) + "/stat");
        std::string pid;
        std::string name;
        char state = '?';
        if (!(stat >> pid >> name >> state) || state == 'Z' || state == 'X') {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(process, SIGKILL); // leave no stray process behind a failure
    return false;
}

pid_t ProcessIn(const test::TempFolder& folder, const char* file) {
    const std::string text = folder.ReadFile(file);
    return text.empty() ? 0 : static_cast<pid_t>(std::stol(text));
}

// A window-system message box runs in a forked process that shares the program's display
// connection: it takes a stop signal of its own as any process does, and it is killed when the
// program ends, so that neither it nor the program's window stays on screen.
TEST(StopSignal, AForkedBoxEndsOnItsOwnSignalAndWithTheProgram) {
    test::TempFolder folder;
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            WatchStopSignals();
            const ForkedBoxScope shown;
            // Signalled at once after the fork too, before the box could have made ready.
            for (int signalled = 0; signalled < 20; ++signalled) {
                const pid_t box = fork();
                if (box == 0) {
                    for (;;) {
                        pause();
                    }
                }
                kill(box, SIGTERM);
                if (!Ends(box)) {
                    _exit(4);
                }
            }
            const pid_t box = fork();
            if (box == 0) {
                for (;;) {
                    pause();
                }
            }
            folder.WriteFile("box", std::to_string(box));
            raise(SIGTERM);
            for (;;) {
                pause();
            }
        },
        testing::ExitedWithCode(0), "");
    const pid_t box = ProcessIn(folder, "box");
    ASSERT_GT(box, 0);
    EXPECT_TRUE(Ends(box));
}

// A stop signal while an outside chooser is open ends the chooser at once: the dialog answers
// "cancelled" and the program ends as after any stop. The chooser lets go of what it inherited
// besides its output (the test's own pipes), so that the test waits for the program alone.
TEST(StopSignal, AnOpenChoosersProcessEndsWithTheProgram) {
    test::TempFolder folder;
    const std::string chooser = folder.WriteFile(
        "chooser", "#!/bin/bash\nfor fd in /proc/$$/fd/*; do n=${fd##*/}; [ $n -gt 2 ] && eval "
                   "\"exec $n>&-\"; done\necho $$ >'" +
                       folder.Join("chooser.pid") +
                       "'\nkill -TERM $PPID\nexec sleep 30 2>/dev/null\n");
    chmod(chooser.c_str(), 0755);
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            WatchStopSignals();
            if (!ZenityDialogs(chooser).FileDialog("", true, "").empty()) {
                _exit(3);
            }
            for (;;) {
                pause();
            }
        },
        testing::ExitedWithCode(0), "");
    const pid_t chooserProcess = ProcessIn(folder, "chooser.pid");
    ASSERT_GT(chooserProcess, 0);
    EXPECT_TRUE(Ends(chooserProcess));
}

} // namespace
} // namespace quarn
