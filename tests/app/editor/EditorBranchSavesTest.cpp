#include "app/platform/WindowMessage.h"
#include "app/player/SceneCommands.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/scene/EngineState.h"
#include "core/scene/NodeMenu.h"
#include "editor/UndoHistory.h"
#include "tests/app/player/PlayerTestSupport.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace quarn {
namespace {

constexpr uint32_t SaveCommand = 40007;
constexpr uint32_t ExitCommand = 40004;

// A hand-made branch: no global id yet, its first node "bs" with a child "inner".
const std::string BranchText = "version = 44\nidsystem = 0\nnum_nodes = 2\n"
                               "obj1 {\n\tclass = \"Pivot\"\n\tname = \"bs\"\n}\n"
                               "obj2 {\n\tclass = \"Pivot\"\n\tname = \"inner\"\n\tparent = 1\n}\n";

// The objects a scene or branch text holds.
int ObjectsIn(const std::string& text) {
    int count = text.rfind("obj", 0) == 0 ? 1 : 0;
    for (size_t at = text.find("\nobj"); at != std::string::npos; at = text.find("\nobj", at + 1)) {
        ++count;
    }
    return count;
}

// The root and `uses` instances of "b0.branch" under it, named A, B, ..., then `more` objects.
std::string SceneWithBranch(int uses, const std::string& more) {
    std::string text = "version = 44\nnum_nodes = " + std::to_string(uses + 1 + ObjectsIn(more)) +
                       "\nobj1 {\n\tclass = \"Node\"\n\tname = \"root\"\n\tflags = 1\n}\n";
    for (int use = 0; use < uses; ++use) {
        const std::string id = std::to_string(use + 2);
        const std::string prev = use > 0 ? "\tprev = " + std::to_string(use + 1) + "\n" : "";
        text += "obj" + id + " {\n\tclass = \"Branch\"\n\tname = \"" + char('A' + use) +
                "\"\n\tparent = 1\n" + prev + "\tbranchflags = 1\n\tbranch = \"b0.branch\"\n}\n";
    }
    return text + more;
}

// The first leaf of the menu item with that label, depth first.
const NodeMenuItem* FindLeaf(const NodeMenuItem& item, const std::string& label) {
    for (const NodeMenuItem& each : item.items) {
        if (each.items.empty() && each.label == label) {
            return &each;
        }
        if (const NodeMenuItem* found = FindLeaf(each, label)) {
            return found;
        }
    }
    return nullptr;
}

// A disk that counts the writes of each file by its name.
class CountingWrites : public DiskFileSystem {
public:
    std::unique_ptr<OutputStream> OpenForWrite(const char* path, uint32_t flags) override {
        ++writes[std::filesystem::path(path).filename().string()];
        return DiskFileSystem::OpenForWrite(path, flags);
    }
    std::map<std::string, int> writes;
};

// The editor started in a game folder whose "level.scene" holds instances of "b0.branch".
class EditorBranchSaves : public test::PlayerTest {
protected:
    void StartOn(int uses, const std::string& more = "") {
        folder.WriteFile("config.txt", "");
        folder.WriteFile("b0.branch", BranchText);
        folder.WriteFile("level.scene", SceneWithBranch(uses, more));
        EngineSetup setup;
        setup.editScene = "level.scene";
        ASSERT_TRUE(StartEditor(setup));
        ASSERT_NE(GetSceneRoot(), nullptr);
        for (int use = 0; use < uses; ++use) {
            ASSERT_NE(Inner(use), nullptr);
        }
    }
    // The branch's "bs" node in the instance of that use.
    static Node* Inner(int use) {
        Node* branch = GetSceneRoot()->GetChild(use);
        return branch ? branch->GetFirstChild() : nullptr;
    }
    // A Pivot added under the node as the node menu's "Add new child" adds one.
    static void AddPivotUnder(Node& parent) {
        for (const NodeMenuEntry& entry : GetNodeMenuEntries()) {
            NodeMenuItem item;
            if (!entry.build(parent, item) || item.label != "Add new child") {
                continue;
            }
            const NodeMenuItem* leaf = FindLeaf(item, "Pivot");
            ASSERT_NE(leaf, nullptr);
            entry.execute(parent, NodeMenuLeafIndex(item, leaf), item);
            return;
        }
        FAIL() << "no \"Add new child\" entry";
    }
    // Every file of the game's folder and its bytes; the user's folder below it is not the
    // game's.
    std::map<std::string, std::string> GameFiles() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.Path())) {
            const std::string name =
                std::filesystem::relative(entry.path(), folder.Path()).generic_string();
            if (entry.is_regular_file() && !name.starts_with("data/")) {
                files[name] = folder.ReadFile(name);
            }
        }
        return files;
    }
    // The last dialog asked; an empty request when none was.
    ScriptedDialogs::Request LastAsked() const {
        return dialogs->Requests().empty() ? ScriptedDialogs::Request{}
                                           : dialogs->Requests().back();
    }
    size_t Asked(const std::string& title) const {
        size_t count = 0;
        for (const auto& request : dialogs->Requests()) {
            count += request.title == title;
        }
        return count;
    }
    std::string UserFile(const std::string& name) const {
        return folder.ReadFile("data/Quarn/" + name);
    }
};

// Another program's change to the branch file or its compact copy since the load is not written
// over without a question: No keeps it (and the save stops there), Yes writes the edit.
FRESH_PROCESS_TEST_F(EditorBranchSaves, AFileChangedOnDiskSinceTheLoadIsSavedOverOnlyOnYes) {
    ASSERT_NO_FATAL_FAILURE(StartOn(1));
    const std::string theirs =
        BranchText + "obj3 {\n\tclass = \"Pivot\"\n\tname = \"handmade\"\n}\n";
    int edits = 0;
    for (const char* changed : {"b0.branch", "b0.bscn"}) {
        ASSERT_NO_FATAL_FAILURE(AddPivotUnder(*Inner(0)));
        ++edits;
        const std::string before =
            folder.ReadFile(changed == std::string("b0.branch") ? "b0.bscn" : "b0.branch");
        const std::string scene = folder.ReadFile("level.scene");
        folder.WriteFile(changed, theirs);
        dialogs->AnswerButton(1);
        Command(SaveCommand);
        const ScriptedDialogs::Request asked = LastAsked();
        EXPECT_EQ(asked.title, "Save over a changed file");
        EXPECT_NE(asked.text.find(std::string(changed) + "' has changed on disk"),
                  std::string::npos)
            << asked.text;
        EXPECT_EQ(folder.ReadFile(changed), theirs);
        EXPECT_EQ(folder.ReadFile(changed == std::string("b0.branch") ? "b0.bscn" : "b0.branch"),
                  before);
        EXPECT_EQ(folder.ReadFile("level.scene"), scene);
        EXPECT_TRUE(GetUndoHistory()->HasUnsavedChanges());

        dialogs->AnswerButton(0);
        Command(SaveCommand);
        const std::string written = folder.ReadFile("b0.branch");
        EXPECT_EQ(ObjectsIn(written), 2 + edits) << written;
        EXPECT_EQ(written.find("handmade"), std::string::npos);
        EXPECT_FALSE(GetUndoHistory()->HasUnsavedChanges());
        // Now as the editor wrote them: no question.
        const size_t asked_before = dialogs->Requests().size();
        Command(SaveCommand);
        EXPECT_EQ(dialogs->Requests().size(), asked_before);
    }
}

// A branch file that cannot be written is shown, and the save stops there: the scene stays
// marked as changed, so that Exit asks.
FRESH_PROCESS_TEST_F(EditorBranchSaves, AFailedBranchWriteIsShownAndStopsTheSave) {
    ASSERT_NO_FATAL_FAILURE(StartOn(1));
    ASSERT_NO_FATAL_FAILURE(AddPivotUnder(*Inner(0)));
    std::filesystem::remove(folder.Join("b0.branch"));
    std::filesystem::create_directory(folder.Join("b0.branch"));
    const std::string scene = folder.ReadFile("level.scene");
    Command(SaveCommand);
    EXPECT_EQ(LastAsked().title, "Save failed");
    EXPECT_EQ(LastAsked().text.rfind("Branch 'b0.branch' was not saved: ", 0), 0u)
        << LastAsked().text;
    EXPECT_EQ(folder.ReadFile("level.scene"), scene);
    EXPECT_FALSE(std::filesystem::exists(folder.Join("b0.bscn")));
    EXPECT_TRUE(GetUndoHistory()->HasUnsavedChanges());
}

// Whichever use of a branch holds the edit (or both, alike), the file is written once with it,
// and a use left unedited shows what the file now holds, so that an edit there next keeps the
// first.
struct TwiceEdited {
    const char* name;
    std::vector<int> uses;
};

class BranchUsedTwice : public EditorBranchSaves,
                        public ::testing::WithParamInterface<TwiceEdited> {};

TEST_P(BranchUsedTwice, IsWrittenOnceWithTheEditOfTheUseThatHoldsIt) {
    test::ExpectInFreshProcess([this] {
        ASSERT_NO_FATAL_FAILURE(StartOn(2));
        FileSystem& disk = *GetFileSystem();
        auto* counting = new CountingWrites;
        counting->SetBaseFolder(disk.GetBaseFolder());
        counting->SetGameRoot(disk.GetGameRoot());
        counting->SetUserFolder(disk.GetUserFolder());
        SetFileSystem(counting);

        const std::vector<int>& uses = GetParam().uses;
        for (int use : uses) {
            ASSERT_NO_FATAL_FAILURE(AddPivotUnder(*Inner(use)));
        }
        Command(SaveCommand);
        EXPECT_EQ(counting->writes["b0.branch"], 1);
        EXPECT_EQ(counting->writes["b0.bscn"], 1);
        EXPECT_EQ(ObjectsIn(folder.ReadFile("b0.branch")), 3);
        EXPECT_EQ(Inner(0)->GetChildCount(), 2);
        EXPECT_EQ(Inner(1)->GetChildCount(), 2);
        if (uses.size() == 2) {
            return;
        }
        ASSERT_NO_FATAL_FAILURE(AddPivotUnder(*Inner(1 - uses[0])));
        Command(SaveCommand);
        EXPECT_EQ(ObjectsIn(folder.ReadFile("b0.branch")), 4);
        EXPECT_EQ(Asked("Save over a changed file"), 0u);
    });
}

INSTANTIATE_TEST_SUITE_P(Uses, BranchUsedTwice,
                         ::testing::Values(TwiceEdited{"First", {0}}, TwiceEdited{"Second", {1}},
                                           TwiceEdited{"BothAlike", {0, 1}}),
                         [](const auto& info) { return std::string(info.param.name); });

// Two uses edited apart cannot both be written: the user is told and nothing is saved, and the
// scene stays marked as changed, so that Exit asks.
FRESH_PROCESS_TEST_F(EditorBranchSaves, TwoUsesEditedApartAreToldAndNeitherIsLost) {
    ASSERT_NO_FATAL_FAILURE(StartOn(2));
    const std::map<std::string, std::string> before = GameFiles();
    ASSERT_NO_FATAL_FAILURE(AddPivotUnder(*Inner(0)));
    ASSERT_NO_FATAL_FAILURE(AddPivotUnder(*Inner(1)->GetFirstChild()));
    Command(SaveCommand);
    EXPECT_EQ(LastAsked().title, "Branch edited in two places");
    EXPECT_NE(LastAsked().text.find("Branch obj2 (A) and in Branch obj3 (B)"), std::string::npos)
        << LastAsked().text;
    EXPECT_EQ(GameFiles(), before);
    EXPECT_TRUE(GetUndoHistory()->HasUnsavedChanges());

    // With one of the two undone the other is written.
    GetUndoHistory()->Undo();
    const size_t told = dialogs->Requests().size();
    Command(SaveCommand);
    EXPECT_EQ(dialogs->Requests().size(), told);
    EXPECT_EQ(ObjectsIn(folder.ReadFile("b0.branch")), 3);
    EXPECT_EQ(Inner(1)->GetChildCount(), 2);
    EXPECT_FALSE(GetUndoHistory()->HasUnsavedChanges());
}

// How the editor may end while an edited branch plays.
enum class Ending { Stop, CloseWindow, Exit };

class PlayedBranch : public EditorBranchSaves, public ::testing::WithParamInterface<Ending> {
protected:
    void End() {
        switch (GetParam()) {
        case Ending::Stop:
            StopScene();
            break;
        case Ending::CloseWindow:
            Sdl().SendWindowMessage(MessageClose, 0, 0);
            break;
        case Ending::Exit:
            Command(ExitCommand);
            break;
        }
    }
};

// Play runs the edited branch but writes only the user's own folder; No as the game ends leaves
// every game file as it was, Yes writes the branch as Play found it.
TEST_P(PlayedBranch, WritesNoGameFileUnlessTheUserSavesAsItEnds) {
    for (const int answer : {1, 0}) {
        test::ExpectInFreshProcess([this, answer] {
            ASSERT_NO_FATAL_FAILURE(StartOn(1));
            ASSERT_NO_FATAL_FAILURE(AddPivotUnder(*Inner(0)));
            const std::map<std::string, std::string> before = GameFiles();
            PlayScene(false);
            ASSERT_TRUE(GameRunning);
            EXPECT_EQ(GameFiles(), before);
            EXPECT_EQ(ObjectsIn(UserFile("play.scene")), 5);
            ASSERT_TRUE(StepFrames(3));
            // The game's own changes are no edit.
            Inner(0)->SetName("played");
            CatchExit();
            dialogs->AnswerButton(answer);
            EXPECT_THROW(End(), test::ProgramExit);
            EXPECT_EQ(LastAsked().title, "Save?");
            if (answer == 1) {
                EXPECT_EQ(GameFiles(), before);
                return;
            }
            const std::string written = folder.ReadFile("b0.branch");
            EXPECT_EQ(ObjectsIn(written), 3) << written;
            EXPECT_EQ(written.find("played"), std::string::npos);
            EXPECT_EQ(ObjectsIn(folder.ReadFile("level.scene")), 2);
        });
    }
}

INSTANTIATE_TEST_SUITE_P(Endings, PlayedBranch,
                         ::testing::Values(Ending::Stop, Ending::CloseWindow, Ending::Exit),
                         [](const auto& info) {
                             return info.param == Ending::Stop          ? "Stop"
                                    : info.param == Ending::CloseWindow ? "CloseWindow"
                                                                        : "Exit";
                         });

// A branch made in the editor has no file yet: Play asks where its content goes, as a save
// does, so that Stop's Yes saves a scene that names the file.
FRESH_PROCESS_TEST_F(EditorBranchSaves, PlayAsksANameForABranchThatHasNone) {
    ASSERT_NO_FATAL_FAILURE(StartOn(0, "obj2 {\n\tclass = \"Branch\"\n\tparent = 1\n}\n"));
    ASSERT_NE(GetSceneRoot()->GetFirstChild(), nullptr);
    ASSERT_NO_FATAL_FAILURE(AddPivotUnder(*GetSceneRoot()->GetFirstChild()));
    dialogs->AnswerPath(folder.Join("made.branch"));
    PlayScene(false);
    ASSERT_TRUE(GameRunning);
    EXPECT_EQ(ObjectsIn(folder.ReadFile("made.branch")), 1);
    CatchExit();
    dialogs->AnswerButton(0);
    EXPECT_THROW(StopScene(), test::ProgramExit);
    EXPECT_NE(folder.ReadFile("level.scene").find("\tbranch = \"made.branch\"\n"),
              std::string::npos)
        << folder.ReadFile("level.scene");
}

// Autosave and Play Standalone's copy hold the edited branch and write only the user's folder;
// Exit with No leaves every game file as it was.
FRESH_PROCESS_TEST_F(EditorBranchSaves, CopiesHoldTheEditAndOnlyTheUsersSaveWritesAGameFile) {
    ASSERT_NO_FATAL_FAILURE(StartOn(1));
    ASSERT_NO_FATAL_FAILURE(AddPivotUnder(*Inner(0)));
    const std::map<std::string, std::string> before = GameFiles();
    AutosaveScene();
    EXPECT_EQ(GameFiles(), before);
    EXPECT_EQ(ObjectsIn(UserFile("autosave0.scene")), 5);

    // Play Standalone plays on in the editor, from its copy.
    PlayScene(true);
    EXPECT_TRUE(GameRunning);
    EXPECT_EQ(GameFiles(), before);
    EXPECT_EQ(ObjectsIn(UserFile("standalone.scene")), 5);
}

FRESH_PROCESS_TEST_F(EditorBranchSaves, ExitWithNoLeavesEveryGameFileAsItWas) {
    ASSERT_NO_FATAL_FAILURE(StartOn(2));
    ASSERT_NO_FATAL_FAILURE(AddPivotUnder(*Inner(1)));
    const std::map<std::string, std::string> before = GameFiles();
    CatchExit();
    dialogs->AnswerButton(1);
    EXPECT_THROW(Command(ExitCommand), test::ProgramExit);
    EXPECT_EQ(LastAsked().title, "Save?");
    EXPECT_EQ(GameFiles(), before);
}

// File > Load... lists a branch's compact copy with the scenes.
FRESH_PROCESS_TEST_F(EditorBranchSaves, TheOpenDialogListsCompactBranchCopies) {
    folder.WriteFile("config.txt", "");
    ASSERT_TRUE(StartEditor());
    Command(40002);
    ASSERT_FALSE(dialogs->Requests().empty());
    EXPECT_NE(LastAsked().filter.find("*.bscn"), std::string::npos) << LastAsked().filter;
}

} // namespace
} // namespace quarn
