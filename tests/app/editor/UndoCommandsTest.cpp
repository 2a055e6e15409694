#include "app/editor/EditorMenus.h"
#include "app/platform/WindowMessage.h"
#include "app/player/SceneCommands.h"
#include "editor/EditorMenu.h"
#include "editor/UndoHistory.h"
#include "resources/Branch.h"
#include "tests/app/player/PlayerTestSupport.h"

#include <SDL.h>
#include <string>

namespace quarn {
namespace {

// The scene commands with the editor's undo history, and without it in the player.
class UndoCommands : public test::PlayerTest {
protected:
    // The player runs its start scene; the editor opens it stopped, as File/Load... does.
    bool StartOn(bool editor) {
        folder.WriteFile("level.scene", test::SceneText());
        if (!editor) {
            folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
            return Start();
        }
        folder.WriteFile("config.txt", "");
        return StartEditor() && OpenScene("level.scene", OpenStartScene) && GetSceneRoot();
    }
    static std::string Title() {
        return SDL_GetWindowTitle(static_cast<SDL_Window*>(GetPlatform()->GetWindowHandle()));
    }
    static bool TitleMarked() { return !Title().empty() && Title().back() == '*'; }
    static int SpriteCount() {
        int count = 0;
        for (Node* node = GetSceneRoot(); node; node = node->GetNextInTree(true)) {
            count += std::string(node->GetClass()->GetName()) == "Sprite";
        }
        return count;
    }
    // A dropped image, as the window hands it on.
    static void Drop() { ASSERT_TRUE(OnFileDropped("pic.png", 0, 0)); }
    intptr_t CloseWindow() { return Sdl().SendWindowMessage(MessageClose, 0, 0); }
};

FRESH_PROCESS_TEST_F(UndoCommands, ThePlayerHasNoHistoryMarksNothingAndKeepsUndoGreyed) {
    ASSERT_TRUE(StartOn(false));
    EXPECT_EQ(GetUndoHistory(), nullptr);
    Drop();
    SendUndoLabel(GetSceneRoot(), "Center");
    EXPECT_FALSE(TitleMarked());
    const UndoMenuState menu = GetUndoMenuState();
    EXPECT_FALSE(menu.undoEnabled || menu.redoEnabled);
    EXPECT_EQ(menu.undoText, "Undo ");
}

FRESH_PROCESS_TEST_F(UndoCommands, ADroppedImageIsAStepThatMarksTheTitleAndUndoRemoves) {
    ASSERT_TRUE(StartOn(true));
    UndoHistory& history = *GetUndoHistory();
    EXPECT_FALSE(GetUndoMenuState().undoEnabled);
    Drop();
    EXPECT_EQ(SpriteCount(), 1);
    EXPECT_TRUE(TitleMarked());
    EXPECT_EQ(GetUndoMenuState().undoText, "Undo Sprite creation");
    EXPECT_TRUE(GetUndoMenuState().undoEnabled);

    history.Undo();
    EXPECT_EQ(SpriteCount(), 0);
    EXPECT_EQ(GetUndoMenuState().redoText, "Redo Sprite creation");
    history.Redo();
    EXPECT_EQ(SpriteCount(), 1);

    // A save that clears the mark; a save copy leaves it.
    history.SetUnsavedChanges(true);
    ASSERT_TRUE(SaveScene("copy.scene", SavePlayCopy));
    EXPECT_TRUE(history.HasUnsavedChanges());
    ASSERT_TRUE(SaveScene(GetCurrentScenePath().c_str(), SaveCurrent));
    EXPECT_FALSE(history.HasUnsavedChanges());
    EXPECT_FALSE(TitleMarked());
}

// Edit/Undo and Edit/Redo through the message hook, their items named and greyed by the history.
FRESH_PROCESS_TEST_F(UndoCommands, TheEditMenuRunsTheHistoryAndNamesItsSteps) {
    ASSERT_TRUE(StartOn(true));
    const Menu& menu = *GetEditorMenuBar();
    const auto item = [&menu](uint32_t id) { return *menu.Find(id); };
    EXPECT_FALSE(item(40010).enabled);
    EXPECT_FALSE(item(40011).enabled);
    Drop();
    EXPECT_EQ(item(40010).text, "Undo Sprite creation");
    EXPECT_TRUE(item(40010).enabled);
    EXPECT_FALSE(item(40011).enabled);

    Sdl().SendWindowMessage(MessageCommand, 40010, 0);
    EXPECT_EQ(SpriteCount(), 0);
    EXPECT_FALSE(item(40010).enabled);
    EXPECT_EQ(item(40011).text, "Redo Sprite creation");
    EXPECT_TRUE(item(40011).enabled);
    Sdl().SendWindowMessage(MessageCommand, 40011, 0);
    EXPECT_EQ(SpriteCount(), 1);
    EXPECT_TRUE(item(40010).enabled);
}

FRESH_PROCESS_TEST_F(UndoCommands, AClosedBranchRecordsNoCenterOrSaveStep) {
    ASSERT_TRUE(StartOn(true));
    auto* branch = static_cast<Branch*>(Branch::RegisterClass()->CreateInstance());
    branch->AttachTo(GetSceneRoot());
    branch->SetBranchFlags(BranchClosed);
    for (const char* label : {"Center", "Save"}) {
        SendUndoLabel(branch, label);
    }
    EXPECT_FALSE(GetUndoMenuState().undoEnabled);
    EXPECT_FALSE(TitleMarked());
    SendUndoLabel(branch, "Unload");
    EXPECT_EQ(GetUndoMenuState().undoText, "Undo Unload");
    branch->SetBranchFlags(0); // open again
    SendUndoLabel(branch, "Center");
    EXPECT_EQ(GetUndoMenuState().undoText, "Undo Center");
}

// Closing the window with an unsaved step asks "Save?" with this answer; true when the process
// ended.
class CloseAnswered : public UndoCommands, public ::testing::WithParamInterface<int> {};

TEST_P(CloseAnswered, CancelKeepsTheWindowNoEndsWithoutWritingYesSavesAndEnds) {
    test::ExpectInFreshProcess([this] {
        const int answer = GetParam();
        ASSERT_TRUE(StartOn(true));
        const std::string original = folder.ReadFile("level.scene");
        Drop();
        dialogs->AnswerButton(answer);
        CatchExit();
        bool ended = false;
        try {
            EXPECT_EQ(CloseWindow(), 1); // reached only when the window stays
        } catch (const test::ProgramExit&) {
            ended = true;
        }
        ASSERT_FALSE(dialogs->Requests().empty());
        EXPECT_EQ(dialogs->Requests().back().title, "Save?");
        EXPECT_EQ(ended, answer != 2);
        EXPECT_EQ(folder.ReadFile("level.scene") != original, answer == 0);
        if (!ended) {
            EXPECT_NE(GetSceneRoot(), nullptr);
            EXPECT_TRUE(TitleMarked());
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Answers, CloseAnswered, ::testing::Values(0, 1, 2));

} // namespace
} // namespace quarn
