#pragma once

// For what holds only in a process where nothing ran before: what the engine makes once and
// keeps for the run (the default font, the order of the class registry, the text arena's
// given-back blocks). A test program runs its tests one after another in one process, so such a
// check runs in a new run of the program that runs the current test alone, its fixture set up
// anew: a death test in the "threadsafe" style, which starts the program again where the "fast"
// style would fork this process and inherit everything it made.

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

namespace quarn::test {

// Ends the new run: the failures it saw go to stderr, where the test that started it shows
// them, and its status is 0 only without any. Nothing is torn down: leaks and static objects of
// a run that ends here are no concern.
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
    std::_Exit(failed ? 1 : 0);
}

// Runs `body` (its assertions included) in a new run of this test program; the test fails when
// any of its assertions failed there. What the test did before the call is done there again.
template <class Body>
void ExpectInFreshProcess(Body body) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT((body(), EndFreshProcess()), testing::ExitedWithCode(0), "");
}

} // namespace quarn::test
