#include "app/dialogs/DialogBackend.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace quarn {
namespace {

using Labels = std::vector<std::string>;

TEST(ChoiceButtons, ListIsCutAtEveryHashIntoAtMostEightLabelsAndFilterPairsEndAtAnEmptyText) {
    EXPECT_EQ(SplitChoiceButtons("Yes#No#Cancel"), (Labels{"Yes", "No", "Cancel"}));
    EXPECT_EQ(SplitChoiceButtons("1#2#3#4#5#6#7#8#9#10").size(), 8u);
    EXPECT_EQ(SplitChoiceButtons("A##B"), (Labels{"A", "", "B"}));
    const char filter[] = "Scene\0*.scene;*.scn\0All\0*.*\0";
    EXPECT_EQ(ParseFileFilter(filter).size(), 2u);
}

// A window-system box never wraps its text: lines past the columns a screen holds break at
// their last blank, a path within itself, never inside a character; line feeds stay.
TEST(BoxText, LongLinesBreakAtBlanksOrWithinAWordAndNeverInsideACharacter) {
    const std::string e = "\xC3\xA9";
    std::string tenWide;
    for (int count = 0; count < 10; ++count) {
        tenWide += e;
    }
    const std::pair<std::string, std::string> cases[] = {
        {"short\n\nlines", "short\n\nlines"},
        {"one two three four", "one two\nthree\nfour"},
        {"/a/very/long/path", "/a/very/l\nong/path"},
        {"nine char tail", "nine char\ntail"},
        {tenWide, tenWide.substr(0, 18) + "\n" + e},
    };
    for (const auto& [text, fitted] : cases) {
        EXPECT_EQ(FitBoxText(text, 9), fitted) << text;
    }
}

TEST(ZenityDialogs, ArgumentsAskBeforeOverwritingStartInTheFolderAndAreNeverRun) {
    const char filter[] = "Scene|file\0*.scene;*.scn\0";
    auto arguments = ZenityDialogs::FileDialogArguments(filter, false, "/home/u/games");
    EXPECT_EQ(arguments,
              (Labels{"--file-selection", "--save", "--confirm-overwrite",
                      "--filename=/home/u/games/", "--file-filter=Scene file | *.scene *.scn"}));
    // Without an initial folder the browser opens at its default place.
    EXPECT_EQ(ZenityDialogs::FolderArguments("Pick; rm -rf /", ""),
              (Labels{"--file-selection", "--directory", "--title=Pick; rm -rf /"}));
    // A missing chooser counts as cancelled.
    EXPECT_EQ(ZenityDialogs("quarn-no-such-chooser").FileDialog("", true, ""), "");
}

class FakeChooser : public ::testing::Test {
protected:
    // A stand-in chooser that answers with its last argument, or fails when told to.
    std::string Make(const char* body) {
        std::string path = folder.WriteFile("chooser", std::string("#!/bin/sh\n") + body);
        chmod(path.c_str(), 0755);
        return path;
    }
    test::TempFolder folder;
};

TEST_F(FakeChooser, ChosenPathIsTheFirstOutputLineAndAFolderLosesItsTrailingSlash) {
    ZenityDialogs dialogs(Make("for a; do last=\"$a\"; done; echo \"${last#--filename=}\"x\n"));
    EXPECT_EQ(dialogs.FileDialog("", true, "/it's $(here)"), "/it's $(here)/x");
    ZenityDialogs chosen(Make("echo /tmp/chosen/\n"));
    EXPECT_EQ(chosen.BrowseForFolder("Folder", ""), "/tmp/chosen");
    ZenityDialogs cancelled(Make("echo /tmp/x; exit 1\n"));
    EXPECT_EQ(cancelled.BrowseForFolder("Folder", ""), "");
}

TEST_F(FakeChooser, AnEnteredEmptyLineIsAcceptedAndAFailureCancels) {
    EXPECT_EQ(ZenityDialogs::EntryArguments("Name?", "Ann"),
              (Labels{"--entry", "--title=Enter string", "--text=Name?", "--entry-text=Ann"}));
    std::string entered = "unchanged";
    EXPECT_TRUE(ZenityDialogs(Make("echo\n")).EnterString("", "", entered));
    EXPECT_EQ(entered, "");
    EXPECT_FALSE(ZenityDialogs(Make("echo typed; exit 1\n")).EnterString("", "", entered));
    EXPECT_FALSE(ZenityDialogs("quarn-no-such-chooser").EnterString("", "", entered));
}

TEST(ScriptedDialogs, EntriesTakeQueuedTextsAndKeepTheirWindows) {
    ScriptedDialogs dialogs;
    dialogs.AnswerPath("");
    std::string entered = "x";
    EXPECT_TRUE(dialogs.EnterString(0, 0, "Name", "start", entered));
    EXPECT_EQ(entered, "");
    EXPECT_FALSE(dialogs.EnterString(0, 0, "Name", "start", entered));
    EXPECT_EQ(dialogs.Requests().back().kind, ScriptedDialogs::EntryKind);
    EXPECT_EQ(dialogs.Requests().back().text, "start");
    const uint32_t window = dialogs.OpenTextWindow(0, 0, "Notes", "kept");
    EXPECT_EQ(dialogs.GetTextWindowText(window), "kept");
    dialogs.DestroyTextWindow(window);
    EXPECT_EQ(dialogs.GetTextWindowText(window), "");
}

TEST(ScriptedDialogs, AnswerListSkipsWhatIsNoIndex) {
    ScriptedDialogs dialogs;
    dialogs.AnswerButtons("2, x,1x,,-1,9,1");
    EXPECT_EQ(dialogs.ShowChoiceBox("Save?", "", "Yes#No#Cancel"), 2);
    EXPECT_EQ(dialogs.ShowMessageBox("Gone", "Error", MessageBoxYesNo), DialogNo);
    EXPECT_EQ(dialogs.ShowChoiceBox("Again?", "", "Yes#No"), 0);
}

} // namespace
} // namespace quarn
