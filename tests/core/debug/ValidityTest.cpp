#include "core/debug/Validity.h"

#include "core/os/Dialogs.h"
#include "tests/support/RecordingDialogHook.h"
#include "tests/support/RecordingValidityHook.h"

#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

TEST(ValidityCheck, AHoldingConditionReportsNothing) {
    test::RecordingDialogHook dialogs;
    test::RecordingValidityHook hook;
    EXPECT_TRUE(ValidityCheck(true, "never %d", 1));
    EXPECT_TRUE(hook.Messages().empty());
    EXPECT_TRUE(dialogs.Dialogs().empty());
}

TEST(ValidityCheck, WithoutAHookAFailureShowsTheValidityBox) {
    test::RecordingDialogHook dialogs;
    EXPECT_FALSE(ValidityCheck(false, "node %d has no parent", 7));
    ASSERT_EQ(dialogs.Dialogs().size(), 1u);
    const auto& box = dialogs.Dialogs()[0];
    EXPECT_TRUE(box.isMessageBox);
    EXPECT_EQ(box.title, "Validity check");
    EXPECT_EQ(box.text, "node 7 has no parent");
    EXPECT_EQ(box.type, MessageBoxOk | MessageBoxIconError);
}

TEST(ValidityCheck, AHookThatHandlesTheMessageSuppressesTheBox) {
    test::RecordingDialogHook dialogs;
    test::RecordingValidityHook hook(true);
    EXPECT_FALSE(ValidityCheck(false, "bad %s", "value"));
    ASSERT_EQ(hook.Messages().size(), 1u);
    EXPECT_EQ(hook.Messages()[0], "bad value");
    EXPECT_TRUE(dialogs.Dialogs().empty());
}

TEST(ValidityCheck, AHookThatDeclinesStillLetsTheBoxShow) {
    test::RecordingDialogHook dialogs;
    test::RecordingValidityHook hook(false);
    EXPECT_FALSE(ValidityCheck(false, "declined"));
    EXPECT_EQ(hook.Messages().size(), 1u);
    EXPECT_EQ(dialogs.Dialogs().size(), 1u);
}

TEST(ValidityReport, ReportsUnconditionallyAndAnswersTrue) {
    test::RecordingDialogHook dialogs;
    EXPECT_TRUE(ValidityReport("%s", std::string(6000, 'v').c_str()));
    ASSERT_EQ(dialogs.Dialogs().size(), 1u);
    EXPECT_EQ(dialogs.Dialogs()[0].text.size(), 4095u);
}

TEST(ValidityHook, RemovingTheHookBringsTheBoxBack) {
    test::RecordingDialogHook dialogs;
    {
        test::RecordingValidityHook hook;
        ValidityReport("to the hook");
    }
    EXPECT_EQ(GetValidityHook(), nullptr);
    ValidityReport("to the box");
    ASSERT_EQ(dialogs.Dialogs().size(), 1u);
    EXPECT_EQ(dialogs.Dialogs()[0].text, "to the box");
}

} // namespace
} // namespace quarn
