#include "core/os/Dialogs.h"

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

} // namespace
} // namespace quarn
