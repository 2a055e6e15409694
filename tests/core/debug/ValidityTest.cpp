#include "core/debug/Validity.h"

#include "core/os/Dialogs.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/RecordingDialogHook.h"
#include "tests/support/RecordingValidityHook.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

TEST(ValidityCheck, AFailureGoesToTheHookAndShowsTheBoxUnlessTheHookHandlesIt) {
    test::RecordingDialogHook dialogs;
    EXPECT_TRUE(ValidityCheck(true, "never %d", 1));
    EXPECT_TRUE(dialogs.Dialogs().empty());
    // Without a hook a failure shows the validity box.
    EXPECT_FALSE(ValidityCheck(false, "node %d has no parent", 7));
    ASSERT_EQ(dialogs.Dialogs().size(), 1u);
    EXPECT_EQ(dialogs.Dialogs()[0].title, "Validity check");
    EXPECT_EQ(dialogs.Dialogs()[0].text, "node 7 has no parent");
    {
        test::RecordingValidityHook handling(true);
        EXPECT_FALSE(ValidityCheck(false, "bad %s", "value"));
        EXPECT_EQ(handling.Messages(), std::vector<std::string>{"bad value"});
        EXPECT_EQ(dialogs.Dialogs().size(), 1u);
    }
    {
        test::RecordingValidityHook declining(false);
        EXPECT_FALSE(ValidityCheck(false, "declined"));
        EXPECT_EQ(declining.Messages().size(), 1u);
        EXPECT_EQ(dialogs.Dialogs().size(), 2u);
    }
}

TEST(ValidityReport, ReportsUnconditionallyCutAt4095CharactersAndAnswersTrue) {
    test::RecordingDialogHook dialogs;
    EXPECT_TRUE(ValidityReport("%s", std::string(6000, 'v').c_str()));
    ASSERT_EQ(dialogs.Dialogs().size(), 1u);
    EXPECT_EQ(dialogs.Dialogs()[0].text.size(), 4095u);
}

// A load's reports wait for one box at the end of the outermost gathering; a hook still takes
// them first, and a caller may take the box's text to show it with its own.
TEST(ValidityGathering, ReportsMakeOneBoxWithTheFirstAndLogTheRest) {
    test::RecordingDialogHook dialogs;
    test::CapturingLogSink log;
    {
        const ValidityGathering outer;
        ValidityReport("first %d", 1);
        {
            const ValidityGathering inner;
            ValidityReport("second");
        }
        ValidityReport("third");
        {
            test::RecordingValidityHook handling(true);
            ValidityReport("taken by the hook");
        }
        EXPECT_TRUE(dialogs.Dialogs().empty());
    }
    ASSERT_EQ(dialogs.Dialogs().size(), 1u);
    EXPECT_EQ(dialogs.Dialogs()[0].title, "Validity check");
    EXPECT_EQ(dialogs.Dialogs()[0].text, "first 1\n\n(2 more validity reports are in the log)");
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_EQ(log.Lines()[1].text, "Validity check: third");

    {
        const ValidityGathering gathering;
        ValidityReport("alone");
        EXPECT_EQ(ValidityGathering::Take(), "alone");
    }
    EXPECT_EQ(dialogs.Dialogs().size(), 1u);
    ValidityReport("after");
    EXPECT_EQ(dialogs.Dialogs().size(), 2u);
}

} // namespace
} // namespace quarn
