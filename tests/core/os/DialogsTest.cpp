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

} // namespace
} // namespace quarn
