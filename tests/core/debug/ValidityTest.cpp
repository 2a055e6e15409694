#include "core/debug/Validity.h"

#include "core/os/Dialogs.h"
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

} // namespace
} // namespace quarn
