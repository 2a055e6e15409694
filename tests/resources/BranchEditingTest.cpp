#include "core/filesystem/ScriptFileAccess.h"
#include "core/filesystem/SettingsFile.h"
#include "core/object/Signals.h"
#include "core/scene/NodeMenu.h"
#include "core/string/Text.h"
#include "tests/resources/BranchTestSupport.h"

#include <filesystem>
#include <fstream>

namespace quarn {
namespace {

using test::BranchTest;
using test::FakeVersionControl;

// The steps the editor's undo list is told of.
class UndoProbe : public test::TestClass<UndoProbe> {
public:
    static constexpr const char* Name = "BranchUndoProbe";
    static void Declare(ClassInfo& info) {
        info.AddMethod("addundolabel", "()", BindSignalHandler<&UndoProbe::OnLabel>(), 0);
    }
    void OnLabel(void* argument) {
        auto* label = static_cast<const char*>(static_cast<SignalArgs*>(argument)->Get(1));
        labels = labels + label + " ";
    }
    std::string labels;
};

class BranchEditingTest : public BranchTest {
protected:
    void SetUp() override {
        BranchTest::SetUp();
        undo_ = static_cast<UndoProbe*>(UndoProbe::RegisterClass()->CreateInstance());
        AddSignalListener("addundolabel", undo_);
    }
    void TearDown() override {
        undo_->Delete();
        BranchTest::TearDown();
    }
    UndoProbe* undo_ = nullptr;
};

TEST_F(BranchEditingTest, ClosingAsksAsVersionControlStandsAndDoesWhatWasAnswered) {
    const char* const changed = "The branch may have changed. Do you want to save?";
    const char* const notOut = "The branch may have changed but is not checked out. Do you want "
                               "to check out, then save and commit?";
    const char* const out = "The branch may have changed. Do you want to save and commit?";
    const char* const other =
        "The branch may have changed but is checked out from SVN by someone else. Revert now?";
    // Seen: closed or open, saved or reverted, the service's calls, the state kept, undo labels.
    const struct {
        int state; // -1: no service
        int answer;
        const char* text; // null: nothing is asked
        const char* seen;
    } cases[] = {
        {-1, 0, changed, "closed saved state 0 Close "},
        {0, 1, changed, "closed reverted state 0 Close "},
        {0, 2, changed, "open state 0 "},
        {1, 0, notOut, "closed saved checkout commit state 1 Close "},
        {1, 1, notOut, "closed reverted state 1 Close "},
        {3, 0, out, "closed saved commit state 1 Close "},
        {4, 1, out, "closed reverted revert state 1 Close "},
        {2, 0, other, "closed reverted state 2 Close "},
        {2, 1, other, "open state 0 "},
        {5, 0, nullptr, "open state 0 "},
    };
    for (const auto& c : cases) {
        FakeVersionControl service;
        service.state = c.state;
        SetVersionControl(c.state < 0 ? nullptr : &service);
        Write("door.branch", test::DoorBranch);
        Branch* branch = Instance();
        Inner(branch, 7)->speed = 99.0f;
        undo_->labels.clear();
        if (c.text) {
            dialogs_.Answer(c.answer);
        }
        std::string seen = branch->Close() ? "closed " : "open ";
        const bool saved = folder_.ReadFile("door.branch").find("99.00") != std::string::npos;
        seen += Inner(branch, 7)->speed != 99.0f ? "reverted " : saved ? "saved " : "";
        seen += service.done + "state " + std::to_string(branch->GetVersionControlState()) + " ";
        EXPECT_EQ(seen + undo_->labels, c.seen) << c.state << "/" << c.answer;
        if (c.text) {
            const auto& box = dialogs_.Dialogs().back();
            EXPECT_EQ(box.title + ": " + box.text + " " + box.buttons,
                      std::string("Close alert: ") + c.text +
                          (c.state == 2 ? " OK#Cancel" : " Yes#No (revert)#Cancel"));
        }
        branch->Delete();
        SetVersionControl(nullptr);
    }

    // It stays open when its file cannot be written (a link into a folder that is not there),
    // or while it holds open instances.
    Branch* branch = Instance();
    std::filesystem::remove(folder_.Join("door.branch"));
    std::filesystem::create_symlink("missing/door.branch", folder_.Join("door.branch"));
    EXPECT_FALSE(branch->Close());
    EXPECT_TRUE(log_.Contains("Branch 'door.branch' could not be saved and stays open"));
    Instance()->AttachTo(branch);
    EXPECT_FALSE(branch->Close());
    EXPECT_EQ(dialogs_.Dialogs().back().text,
              "The branch can't be closed because there are still open subbranches.");
}

bool refuseEdits = false;

TEST_F(BranchEditingTest, OpeningAsksVersionControlAndSharesTheStateWithTheOtherInstances) {
    FakeVersionControl service;
    service.state = VersionControl::NotCheckedOut;
    SetVersionControl(&service);
    SetVersionControlHooks(nullptr, [](const char*, int) { return !refuseEdits; });
    Branch* first = Instance("door.branch", BranchLoaded | BranchClosed);
    Branch* second = Instance("door.branch", BranchLoaded | BranchClosed);
    first->RefreshVersionControl();
    second->RefreshVersionControl();
    for (bool refused : {true, false}) {
        refuseEdits = refused;
        first->SetBranchFlags(BranchLoaded);
        EXPECT_EQ(first->IsClosed(), refused);
    }
    EXPECT_FALSE(Inner(first, 7)->HasFlag(NodeLockedAll));
    EXPECT_EQ(second->GetVersionControlState(), VersionControl::CheckedOut);
    EXPECT_TRUE(second->Open()) << "a second editor opens all the same";
    EXPECT_EQ(first->GetBranchFile()->GetOwner(), first);
    EXPECT_EQ(undo_->labels, "Open Open ");

    // Version control closes what this user may no longer edit; a running game asks nothing.
    service.state = VersionControl::CheckedOutByOther;
    first->RefreshVersionControl();
    EXPECT_TRUE(first->IsClosed());
    EXPECT_FALSE(first->AcceptsUndoLabel("Center")) << "a closed instance is not moved or saved";
    EXPECT_TRUE(log_.Contains("Branch 'door.branch' (id " + std::to_string(first->GetId()) +
                              ") was closed to comply with version control"));
    SetVersionControlHooks(nullptr, nullptr);
}

TEST_F(BranchEditingTest, SavingUnderANewNameAsksForItInTheBranchFolder) {
    SetFolderSetting("branch", "rooms");
    std::filesystem::create_directories(folder_.Join("rooms"));
    const struct {
        const char* answer;
        const char* path; // null: nothing saved
    } cases[] = {
        {"", nullptr}, {"rooms/hall", "rooms/hall.branch"}, {"rooms/hall.txt", "rooms/hall.txt"}};
    for (const auto& c : cases) {
        Branch* branch = Instance("");
        Make<test::BrItem>(branch);
        dialogs_.AnswerPath(*c.answer ? folder_.Join(c.answer) : "");
        EXPECT_EQ(branch->SaveAs(), c.path != nullptr) << c.answer;
        EXPECT_EQ(dialogs_.Dialogs().back().title, "Quarn Branch");
        EXPECT_EQ(dialogs_.Dialogs().back().text.rfind(folder_.Join("rooms"), 0), 0u);
        if (c.path) {
            EXPECT_STREQ(branch->GetBranchPath(), c.path);
            EXPECT_TRUE(std::filesystem::exists(folder_.Join(c.path))) << c.path;
            EXPECT_STREQ(GetUserSettings().GetString("folder_branch"), "rooms/");
        }
        branch->Delete();
    }
}

// Every load takes a file's form from its name: a branch under a compact name (its own compact
// copy, a ".scn") is read in the compact form and saved in it alone, with no text twin.
TEST_F(BranchEditingTest, ABranchUnderACompactNameIsReadAndSavedInTheCompactForm) {
    Branch* door = Instance("door.branch");
    door->GetClass()->GetOwnMethods()[2]->Call(door, nullptr);
    door->Delete();
    for (const char* name : {"door.bscn", "hall.scn", "rooms/hall.bscn"}) {
        if (std::string(name) != "door.bscn") {
            std::filesystem::create_directories(folder_.Join("rooms"));
            Branch* made = Instance("");
            Make<test::BrItem>(made)->label = "made";
            dialogs_.AnswerPath(folder_.Join(name));
            ASSERT_TRUE(made->SaveAs()) << name;
            made->Delete();
            for (const char* twin : {"branch", "bscn"}) {
                const std::string path = ReplaceExtension(name, twin);
                EXPECT_TRUE(path == name || !std::filesystem::exists(folder_.Join(path))) << path;
            }
        }
        ASSERT_TRUE(std::filesystem::exists(folder_.Join(name))) << name;
        EXPECT_NE(folder_.ReadFile(name).rfind("version", 0), 0u) << name << " holds text";
        Branch* branch = Instance(name);
        const bool door = std::string(name) == "door.bscn";
        auto* item = door ? Inner(branch, 5) : dynamic_cast<test::BrItem*>(branch->GetFirstChild());
        ASSERT_NE(item, nullptr) << name;
        EXPECT_EQ(item->label, door ? "five" : "made") << name;
        branch->Delete();
    }
}

// Called by a script, a save writes the branch file only inside the game or user://, wherever
// the scene put it; the editor's save reaches every file.
TEST_F(BranchEditingTest, AScriptSavesABranchOnlyInsideTheGame) {
    test::TempFolder user;
    test::TempFolder outside;
    files_.SetUserFolder((user.Path() + "/").c_str());
    const std::string away = std::filesystem::path(outside.Path()).filename().string();
    const struct {
        std::string path;
        std::string file;
        bool allowed;
    } places[] = {
        {"door.branch", folder_.Join("door.branch"), true},
        {"../" + away + "/door.branch", outside.Join("door.branch"), false},
        {outside.Join("door.branch"), outside.Join("door.branch"), false},
        {"user://door.branch", user.Join("door.branch"), true},
    };
    const auto save = [](Branch& branch) {
        branch.GetClass()->GetOwnMethods()[2]->Call(&branch, nullptr);
    };
    const auto signal = [](Branch& branch) { CallEntityMethod(&branch, "quarn_save", nullptr); };
    for (const auto& place : places) {
        for (void (*call)(Branch&) : {+save, +signal}) {
            std::ofstream(place.file) << test::DoorBranch;
            Branch* branch = Instance(place.path.c_str());
            std::filesystem::remove(place.file);
            log_.Clear();
            SetScriptRunning(true);
            call(*branch);
            SetScriptRunning(false);
            EXPECT_EQ(std::filesystem::exists(place.file), place.allowed) << place.path;
            // Named as the resource keeps it, in lower case.
            EXPECT_EQ(log_.Contains("Branch.Save refused \""), !place.allowed) << place.path;
            call(*branch);
            EXPECT_TRUE(std::filesystem::exists(place.file)) << place.path;
            branch->Delete();
        }
    }
}

TEST_F(BranchEditingTest, TheTreePaneOffersRelaysAndOverridesOfInnerNodes) {
    Branch* branch = Instance();
    test::BrItem* twelve = Inner(branch, 12);
    const NodeMenuEntry& relays = GetNodeMenuEntries().at(0);
    const NodeMenuEntry& overrides = GetNodeMenuEntries().at(1);
    NodeMenuItem item;
    EXPECT_FALSE(relays.build(*branch, item)) << "the instance itself is no inner node";
    ASSERT_TRUE(relays.build(*twelve, item));
    EXPECT_EQ(item.label + " " + item.items[2].label + (item.items[2].checked ? " checked" : ""),
              "Create signal proxy input2 checked");
    relays.execute(*twelve, 2, item);
    EXPECT_FALSE(branch->HasRelay(twelve, 2));

    const int label = twelve->FindProperty("label")->GetIndex();
    overrides.execute(*twelve, label, item);
    EXPECT_NE(branch->FindAnyProperty("label_id12"), nullptr);
    branch->SetBranchFlags(BranchLoaded | BranchClosed);
    overrides.execute(*twelve, label, item);
    EXPECT_NE(branch->FindAnyProperty("label_id12"), nullptr) << "closed: nothing changes";
}

} // namespace
} // namespace quarn
