// The main of every test program: GoogleTest's, guarded against a test that ends the process.
// Engine code written to end the program (ExitProgram, a failed start-up) would otherwise end a
// whole run with the status it chose, often 0, every later test skipped without a word.

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

// Between the run's first and last event: outside it (listing the tests, say) exit is normal.
bool runUnderWay = false;
std::string currentTest; // empty between tests
pid_t runner = 0;

class ProcessEndGuard : public testing::EmptyTestEventListener {
    void OnTestProgramStart(const testing::UnitTest&) override { runUnderWay = true; }
    void OnTestStart(const testing::TestInfo& test) override {
        currentTest = std::string(test.test_suite_name()) + "." + test.name();
    }
    void OnTestEnd(const testing::TestInfo&) override { currentTest.clear(); }
    void OnTestProgramEnd(const testing::UnitTest&) override { runUnderWay = false; }
};

void FailWhenTheRunIsCutShort() {
    // A child a test forked, or a death test's, ends as it was made to.
    if (!runUnderWay || getpid() != runner || testing::internal::InDeathTestChild()) {
        return;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "\n[  FAILED  ] %s ended the test process before the run's end\n",
                 currentTest.empty() ? "code between the tests" : currentTest.c_str());
    std::fflush(stderr);
    _exit(1);
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    runner = getpid();
    testing::UnitTest::GetInstance()->listeners().Append(new ProcessEndGuard);
    // Registered after every static object is made, so it runs before any is destroyed.
    std::atexit(FailWhenTheRunIsCutShort);
    return RUN_ALL_TESTS();
}
