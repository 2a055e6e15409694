#include "app/dialogs/DialogBackend.h"
#include "app/dialogs/VersionControlPrompts.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/filesystem/SettingsFile.h"
#include "core/object/ClassInfo.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneSaver.h"
#include "core/scenefile/VersionControl.h"
#include "tests/app/player/PlayerTestSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempFolder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace quarn {
namespace {

// A binding that answers one state for every file and records its check-outs.
class FakeVersionControl : public VersionControl {
public:
    int GetFileState(const char* path) override {
        asked.push_back(path);
        return state;
    }
    bool CheckOut(const char* path) override {
        checkedOut.push_back(path);
        return checkOutWorks;
    }
    bool Revert(const char*) override { return false; }
    bool Commit(const char*) override { return false; }

    int state = NotControlled;
    bool checkOutWorks = true;
    std::vector<std::string> asked;
    std::vector<std::string> checkedOut;
};

// The boxes the checks show, by what they say of "level.scene".
const std::string Other = "File \"level.scene\" is under version control and checked out by "
                          "somebody else. ";
const std::string SaveAnyway = Other + "Save anyway?";
const std::string CannotEdit = Other + "Can't open for edit.";
const std::string OpenForEdit = "File \"level.scene\" is under version control. Open for edit?";
const std::string FailedAnyway = "Failed to open \"level.scene\" for edit. Save anyway?";
const std::string FailedAdmin =
    "Failed to open \"level.scene\" for edit. Contact your admin if problem persists.";

struct PromptCase {
    int state;
    int flags;
    bool checkOutWorks;
    const char* answers; // button indices: Yes 0, No 1, Cancel 2
    bool result;
    std::vector<std::string> boxes;
    size_t checkOuts;
};

class VersionControlPrompts : public ::testing::TestWithParam<PromptCase> {
protected:
    void SetUp() override {
        files.SetBaseFolder(folder.Path().c_str());
        SetFileSystem(&files);
        SetDialogHook(&dialogs);
        SetVersionControl(&binding);
        folder.WriteFile("level.scene", "old");
    }
    void TearDown() override {
        SetVersionControl(nullptr);
        SetDialogHook(nullptr);
        SetFileSystem(nullptr);
    }
    std::vector<std::string> Boxes() const {
        std::vector<std::string> texts;
        for (const auto& request : dialogs.Requests()) {
            EXPECT_EQ(request.title, "Version control message");
            texts.push_back(request.text);
        }
        return texts;
    }

    test::TempFolder folder;
    DiskFileSystem files;
    ScriptedDialogs dialogs;
    FakeVersionControl binding;
};

TEST_P(VersionControlPrompts, FollowTheStateTheFlagsAndTheAnswers) {
    const PromptCase& c = GetParam();
    binding.state = c.state;
    binding.checkOutWorks = c.checkOutWorks;
    dialogs.AnswerButtons(c.answers);
    EXPECT_EQ(CheckSaveWithPrompts("level.scene", c.flags), c.result);
    EXPECT_EQ(Boxes(), c.boxes);
    EXPECT_EQ(binding.checkedOut.size(), c.checkOuts);
    EXPECT_EQ(binding.asked.size(), (c.flags & PromptSkipVersionControl) ? 0u : 1u);
}

using B = std::vector<std::string>;
INSTANTIATE_TEST_SUITE_P(
    Table, VersionControlPrompts,
    ::testing::Values(
        // Not under version control, or checked out by this user: nothing to ask.
        PromptCase{0, 0, true, "", true, {}, 0}, PromptCase{0, 1, true, "", true, {}, 0},
        PromptCase{0, 2, true, "", true, {}, 0}, PromptCase{0, 4, true, "", true, {}, 0},
        PromptCase{0, 5, true, "", true, {}, 0}, PromptCase{3, 0, true, "", true, {}, 0},
        // Checked out by somebody else.
        PromptCase{2, 0, true, "", false, B{CannotEdit}, 0},
        PromptCase{2, 1, true, "0", true, B{SaveAnyway}, 0},
        PromptCase{2, 1, true, "1", false, B{SaveAnyway}, 0},
        PromptCase{2, 2, true, "", true, {}, 0}, PromptCase{2, 4, true, "", false, {}, 0},
        PromptCase{2, 5, true, "", true, {}, 0},
        // Not opened for edit.
        PromptCase{1, 0, true, "0", true, B{OpenForEdit}, 1},
        PromptCase{1, 0, false, "0", false, B{OpenForEdit, FailedAdmin}, 1},
        PromptCase{1, 0, true, "1", false, B{OpenForEdit}, 0},
        PromptCase{1, 0, true, "2", false, B{OpenForEdit}, 0},
        PromptCase{1, 1, true, "1", true, B{OpenForEdit}, 0},
        PromptCase{1, 1, true, "2", false, B{OpenForEdit}, 0},
        PromptCase{1, 1, false, "0,0", true, B{OpenForEdit, FailedAnyway}, 1},
        PromptCase{1, 1, false, "0,1", false, B{OpenForEdit, FailedAnyway}, 1},
        PromptCase{1, 2, true, "", true, {}, 0}, PromptCase{1, 4, true, "", true, {}, 1},
        PromptCase{1, 4, false, "", false, {}, 1}, PromptCase{1, 5, false, "", true, {}, 1}),
    [](const ::testing::TestParamInfo<PromptCase>& info) {
        return "State" + std::to_string(info.param.state) + "Flags" +
               std::to_string(info.param.flags) + "Row" + std::to_string(info.index);
    });

TEST_F(VersionControlPrompts, OpeningForEditAsksToContinueAndNeverAboutWriteProtection) {
    binding.state = VersionControl::NotCheckedOut;
    binding.checkOutWorks = false;
    chmod(folder.Join("level.scene").c_str(), 0444);
    dialogs.AnswerButtons("0,0");
    EXPECT_TRUE(OpenForEditWithPrompts("level.scene", PromptMayGoOnAnyway));
    EXPECT_EQ(Boxes(), (B{OpenForEdit, "Failed to open \"level.scene\" for edit. Continue anyway?"}));
    // Without a binding nothing is asked, not even for a missing file.
    SetVersionControl(nullptr);
    EXPECT_TRUE(OpenForEditWithPrompts("missing.scene", 0));
    EXPECT_TRUE(CheckSaveWithPrompts("missing.scene", 0));
    EXPECT_EQ(dialogs.Requests().size(), 2u);
}

using WriteAlert = test::PlayerTest;

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

FRESH_PROCESS_TEST_F(WriteAlert, GuardsASceneSavedOverAWriteProtectedFileAndANewPathAsksNothing) {
    folder.WriteFile("config.txt", "");
    ASSERT_TRUE(Start());
    const std::string path = folder.WriteFile("level.scene", "old bytes");
    // The owner's write bit decides, so this holds when the tests run as root too.
    chmod(path.c_str(), 0444);
    Node* root = static_cast<Node*>(FindClass("Node")->CreateInstance());
    dialogs->AnswerButtons("1");
    EXPECT_FALSE(SaveSceneFile("level.scene", *root, 0, 0));
    ASSERT_EQ(dialogs->Requests().size(), 1u);
    EXPECT_EQ(dialogs->Requests()[0].title, "Write alert");
    EXPECT_EQ(dialogs->Requests()[0].text, "\"level.scene\" is write-protected. Overwrite?");
    EXPECT_EQ(ReadWhole(path), "old bytes");

    dialogs->AnswerButtons("0");
    EXPECT_TRUE(SaveSceneFile("level.scene", *root, 0, 0));
    EXPECT_NE(ReadWhole(path), "old bytes");
    EXPECT_NE(std::filesystem::status(path).permissions() & std::filesystem::perms::owner_write,
              std::filesystem::perms::none);

    EXPECT_TRUE(SaveSceneFile("new.scene", *root, 0, 0));
    EXPECT_EQ(dialogs->Requests().size(), 2u);
}

FRESH_PROCESS_TEST_F(WriteAlert, DialogStartFolderIsTheGamesBaseFolderKeyElseTheRememberedOne) {
    folder.WriteFile("config.txt", "branch_base_folder = \"game/branches\"\n");
    folder.WriteFile("data/Quarn/init.txt", "folder_scene = \"levels\"\nfolder_branch = \"x\"\n");
    ASSERT_TRUE(Start());
    EXPECT_EQ(GetDialogStartFolder("branch"), folder.Join("game/branches"));
    EXPECT_EQ(GetDialogStartFolder("scene"), folder.Join("levels"));
    EXPECT_EQ(GetDialogStartFolder("mesh"), "");
}

} // namespace
} // namespace quarn
