#include "core/os/Dialogs.h"

#include "tests/support/RecordingDialogHook.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

TEST(Dialogs, TheDefaultHookAnswersTheFirstButtonWithoutShowingAnything) {
    SetDialogHook(nullptr);
    EXPECT_EQ(ShowChoiceBox("Title", "Text", "Yes#No#Cancel"), 0);
    EXPECT_EQ(ShowMessageBox("Text", "Title", MessageBoxOk), DialogOk);
    EXPECT_EQ(ShowMessageBox("Text", "Title", MessageBoxYesNo | MessageBoxIconWarning), DialogYes);
    EXPECT_EQ(ShowMessageBox("Text", "Title", MessageBoxRetryCancel), DialogRetry);
}

TEST(Dialogs, MessageBoxTypesNameTheirButtons) {
    EXPECT_STREQ(MessageBoxButtonLabels(MessageBoxOk), "OK");
    EXPECT_STREQ(MessageBoxButtonLabels(MessageBoxYesNoCancel | MessageBoxIconQuestion),
                 "Yes#No#Cancel");
    // The style a script passes: Yes/No with an icon and the second button as default.
    EXPECT_STREQ(MessageBoxButtonLabels(0x134), "Yes#No");
    EXPECT_EQ(MessageBoxButtonId(0x134, 1), DialogNo);
    EXPECT_EQ(MessageBoxButtonId(MessageBoxYesNoCancel, 2), DialogCancel);
    // An unknown button set or index falls back to the first button of a known set.
    EXPECT_STREQ(MessageBoxButtonLabels(0xE), "OK");
    EXPECT_EQ(MessageBoxButtonId(MessageBoxYesNo, 5), DialogYes);
}

TEST(Dialogs, ARecordingHookAnswersFromItsScriptAndRecordsNullTextsAsEmpty) {
    test::RecordingDialogHook dialogs;
    dialogs.Answer(2);
    dialogs.Answer(1);
    EXPECT_EQ(ShowChoiceBox("Branch", "Save changes?", "Yes#No#Cancel"), 2);
    EXPECT_EQ(ShowMessageBox("Overwrite?", "Write alert", MessageBoxYesNo), DialogNo);
    EXPECT_EQ(ShowMessageBox("Done", "Info", MessageBoxOk), DialogOk);
    ShowChoiceBox(nullptr, nullptr, nullptr);
    ASSERT_EQ(dialogs.Dialogs().size(), 4u);
    EXPECT_FALSE(dialogs.Dialogs()[0].isMessageBox);
    EXPECT_EQ(dialogs.Dialogs()[0].buttons, "Yes#No#Cancel");
    EXPECT_EQ(dialogs.Dialogs()[1].title, "Write alert");
    EXPECT_EQ(dialogs.Dialogs()[1].buttons, "Yes#No");
    EXPECT_EQ(dialogs.Dialogs()[3].title, "");
}

} // namespace
} // namespace quarn
