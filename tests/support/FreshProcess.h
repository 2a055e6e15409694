#pragma once

// For what holds only in a process where nothing ran before: what the engine makes once and
// keeps for the run (the default font, the order of the class registry, the text arena's
// given-back blocks, the started engine itself). A test program runs its tests one after another
// in one process, so such a check runs in a new run of the program that runs the current test
// alone: a death test in the "threadsafe" style, which starts the program again where the "fast"
// style would fork this process and inherit everything it made.

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

namespace quarn::test {

// The new run's status when its test passed. Not 0, which code ending the process early (an
// exit() of the engine's) would give: such an end fails the test that started the run.
inline constexpr int FreshRunPassed = 91;

// Ends the new run: the failures it saw go to stderr, where the test that started it shows
// them. Nothing is torn down: leaks and static objects of a run that ends here are no concern.
[[noreturn]] inline void EndFreshProcess() {
    const testing::TestResult& result =
        *testing::UnitTest::GetInstance()->current_test_info()->result();
    bool failed = false;
    for (int index = 0; index < result.total_part_count(); ++index) {
        const testing::TestPartResult& part = result.GetTestPartResult(index);
        if (part.failed()) {
            failed = true;
            std::fprintf(stderr, "%s:%d: %s\n", part.file_name() ? part.file_name() : "?",
                         part.line_number(), part.message());
        }
    }
    std::fflush(stderr);
    std::_Exit(failed ? 1 : FreshRunPassed);
}

// Runs `body` (its assertions included) in a new run of this test program; the test fails when
// any of its assertions failed there. What the test did before the call is done there again.
// No death test may run inside: a new run finds only the one it was started for.
template <class Body>
void ExpectInFreshProcess(Body body) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT((body(), EndFreshProcess()), testing::ExitedWithCode(FreshRunPassed), "");
}

// The fixture class of every test FRESH_PROCESS_TEST_F makes: the test itself runs elsewhere.
class FreshProcessTest : public testing::Test {};

template <class Fixture>
class FreshProcessTestOf : public FreshProcessTest {
    void TestBody() override {
        ExpectInFreshProcess([] {
            Fixture test;
            test.RunWhole();
        });
    }
};

template <class Fixture>
bool RegisterFreshProcessTest(const char* suite, const char* name, const char* file, int line) {
    testing::RegisterTest(suite, name, nullptr, nullptr, file, line,
                          []() -> FreshProcessTest* { return new FreshProcessTestOf<Fixture>; });
    return true;
}

} // namespace quarn::test

// FRESH_PROCESS_TEST_F(Fixture, Name) { ... } in place of TEST_F: the fixture is made, set up,
// run and torn down in a new run of the test program. Every test of a fixture uses it or none.
#define FRESH_PROCESS_TEST_F(Fixture, Name)                                                        \
    class Fixture##_##Name##_Test : public Fixture {                                               \
    public:                                                                                        \
        void RunWhole() {                                                                          \
            SetUp();                                                                               \
            if (!HasFatalFailure() && !IsSkipped()) {                                              \
                try {                                                                              \
                    TestBody();                                                                    \
                } catch (...) {                                                                    \
                    ADD_FAILURE() << "an exception left the test";                                 \
                }                                                                                  \
            }                                                                                      \
            TearDown();                                                                            \
        }                                                                                          \
                                                                                                   \
    private:                                                                                       \
        void TestBody() override;                                                                  \
    };                                                                                             \
    [[maybe_unused]] const bool Fixture##_##Name##_registered =                                    \
        ::quarn::test::RegisterFreshProcessTest<Fixture##_##Name##_Test>(#Fixture, #Name,          \
                                                                         __FILE__, __LINE__);      \
    void Fixture##_##Name##_Test::TestBody()
