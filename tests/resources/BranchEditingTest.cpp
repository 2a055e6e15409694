#include "core/filesystem/SettingsFile.h"
#include "core/scene/NodeMenu.h"
#include "core/string/Text.h"
#include "tests/resources/BranchTestSupport.h"

#include <filesystem>

namespace quarn {
namespace {

using test::BranchTest;
using test::BrItem;
using test::FakeVersionControl;

// Records the steps the editor's undo list is told of.
class UndoProbe : public test::TestClass<UndoProbe> {
public:
    static constexpr const char* Name = "BranchUndoProbe";
    static void Declare(ClassInfo& info) {
        info.AddMethod("addundolabel", "()", BindSignalHandler<&UndoProbe::OnLabel>(), 0);
    }
    void OnLabel(void* argument) {
        labels.push_back(static_cast<const char*>(static_cast<SignalArgs*>(argument)->Get(1)));
    }
    std::vector<std::string> labels;
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

const char* const MayHaveChanged = "The branch may have changed. Do you want to save?";
const char* const NotCheckedOut = "The branch may have changed but is not checked out. Do you want "
                                  "to check out, then save and commit?";
const char* const CheckedOut = "The branch may have changed. Do you want to save and commit?";
const char* const ByOther =
    "The branch may have changed but is checked out from SVN by someone else. Revert now?";

TEST_F(BranchEditingTest, ClosingAsksAsVersionControlStandsAndDoesWhatWasAnswered) {
    enum Outcome { Saved, Reverted, Open };
    const struct {
        int state; // -1: no service
        int answer;
        const char* text; // null: no prompt
        Outcome outcome;
        const char* done;
        int stateAfter;
    } cases[] = {
        {-1, 0, MayHaveChanged, Saved, "", 0},
        {0, 1, MayHaveChanged, Reverted, "", 0},
        {0, 2, MayHaveChanged, Open, "", 0},
        {1, 0, NotCheckedOut, Saved, "checkout commit ", 1},
        {1, 1, NotCheckedOut, Reverted, "", 1},
        {3, 0, CheckedOut, Saved, "commit ", 1},
        {4, 1, CheckedOut, Reverted, "revert ", 1},
        {3, 2, CheckedOut, Open, "", 0},
        {2, 0, ByOther, Reverted, "", 2},
        {2, 1, ByOther, Open, "", 0},
        {5, 0, nullptr, Open, "", 0},
    };
    for (const auto& c : cases) {
        const std::string name = std::to_string(c.state) + "/" + std::to_string(c.answer);
        FakeVersionControl service;
        service.state = c.state;
        SetVersionControl(c.state < 0 ? nullptr : &service);
        Write("door.branch", test::DoorBranch);
        Branch* branch = Instance();
        Inner(branch, 7)->speed = 99.0f;
        undo_->labels.clear();
        const size_t asked = dialogs_.Dialogs().size();
        if (c.text) {
            dialogs_.Answer(c.answer);
        }

        EXPECT_EQ(branch->Close(), c.outcome != Open) << name;
        if (c.text) {
            ASSERT_EQ(dialogs_.Dialogs().size(), asked + 1) << name;
            EXPECT_EQ(dialogs_.Dialogs().back().title, "Close alert");
            EXPECT_EQ(dialogs_.Dialogs().back().text, c.text) << name;
            EXPECT_EQ(dialogs_.Dialogs().back().buttons,
                      c.state == 2 ? "OK#Cancel" : "Yes#No (revert)#Cancel")
                << name;
        } else {
            EXPECT_EQ(dialogs_.Dialogs().size(), asked) << name;
        }
        EXPECT_EQ(branch->IsClosed(), c.outcome != Open) << name;
        EXPECT_EQ(Inner(branch, 7)->speed, c.outcome == Reverted ? 5.0f : 99.0f) << name;
        EXPECT_EQ(folder_.ReadFile("door.branch").find("speed = 99.00") != std::string::npos,
                  c.outcome == Saved)
            << name;
        EXPECT_EQ(service.done, c.done) << name;
        EXPECT_EQ(branch->GetVersionControlState(), c.stateAfter) << name;
        EXPECT_EQ(undo_->labels, c.outcome == Open ? std::vector<std::string>{}
                                                   : std::vector<std::string>{"Close"})
            << name;
        if (c.outcome != Open) {
            EXPECT_TRUE(Inner(branch, 7)->HasFlag(NodeLockedAll)) << name;
            EXPECT_EQ(branch->GetBranchFile()->GetOwner(), nullptr) << name;
        }
        branch->Delete();
        SetVersionControl(nullptr);
    }
}

TEST_F(BranchEditingTest, AnInstanceThatCannotBeSavedStaysOpen) {
    Branch* branch = Instance();
    std::filesystem::create_directory(folder_.Join("door.scn"));
    EXPECT_FALSE(branch->Close());
    EXPECT_FALSE(branch->IsClosed());
    EXPECT_TRUE(log_.Contains("Branch 'door.branch' could not be saved and stays open"));

    std::filesystem::remove(folder_.Join("door.scn"));
    Branch* outer = Instance();
    Branch* nested = Instance();
    nested->AttachTo(outer);
    EXPECT_FALSE(outer->Close());
    EXPECT_EQ(dialogs_.Dialogs().back().text,
              "The branch can't be closed because there are still open subbranches.");
}

bool refuseEdits = false;
int editRequests = 0;

TEST_F(BranchEditingTest, OpeningAsksVersionControlAndSharesTheStateWithTheOtherInstances) {
    FakeVersionControl service;
    service.state = VersionControl::NotCheckedOut;
    SetVersionControl(&service);
    SetVersionControlHooks(nullptr, [](const char*, int) {
        ++editRequests;
        return !refuseEdits;
    });
    Branch* first = Instance("door.branch", BranchLoaded | BranchClosed);
    Branch* second = Instance("door.branch", BranchLoaded | BranchClosed);
    first->RefreshVersionControl();
    second->RefreshVersionControl();

    refuseEdits = true;
    first->SetBranchFlags(BranchLoaded);
    EXPECT_TRUE(first->IsClosed());
    refuseEdits = false;
    first->SetBranchFlags(BranchLoaded);
    EXPECT_FALSE(first->IsClosed());
    EXPECT_FALSE(first->HasFlag(NodeLocked));
    EXPECT_FALSE(Inner(first, 7)->HasFlag(NodeLockedAll));
    EXPECT_EQ(editRequests, 2);
    EXPECT_EQ(first->GetVersionControlState(), VersionControl::CheckedOut);
    EXPECT_EQ(second->GetVersionControlState(), VersionControl::CheckedOut);
    EXPECT_EQ(first->GetBranchFile()->GetOwner(), first);
    EXPECT_TRUE(second->Open()) << "a second editor opens all the same";
    EXPECT_EQ(first->GetBranchFile()->GetOwner(), first);
    EXPECT_EQ(undo_->labels, (std::vector<std::string>{"Open", "Open"}));

    // Version control closes what it no longer lets this user edit; a running game asks nothing.
    service.state = VersionControl::CheckedOutByOther;
    first->RefreshVersionControl();
    EXPECT_TRUE(first->IsClosed());
    EXPECT_TRUE(log_.Contains("Branch 'door.branch' (id " + std::to_string(first->GetId()) +
                              ") was closed to comply with version control"));
    GameRunning = true;
    second->RefreshVersionControl();
    EXPECT_FALSE(second->IsClosed());
    EXPECT_EQ(second->GetVersionControlState(), VersionControl::NotControlled);
    SetVersionControlHooks(nullptr, nullptr);
}

TEST_F(BranchEditingTest, SavingUnderANewNameAsksForItInTheBranchFolder) {
    SetFolderSetting("branch", "rooms");
    std::filesystem::create_directories(folder_.Join("rooms"));
    std::filesystem::create_directories(folder_.Join("v1.2"));
    const struct {
        const char* answer;
        const char* path; // null: nothing saved
    } cases[] = {
        {"", nullptr},
        {"rooms/hall", "rooms/hall.branch"},
        {"v1.2/hall", "v1.2/hall.branch"},
        {"rooms/hall.txt", "rooms/hall.txt"},
    };
    for (const auto& c : cases) {
        Branch* branch = Instance("");
        static_cast<Node*>(BrItem::RegisterClass()->CreateInstance())->AttachTo(branch);
        dialogs_.AnswerPath(*c.answer ? folder_.Join(c.answer) : "");
        EXPECT_EQ(branch->SaveAs(), c.path != nullptr) << c.answer;
        const auto& asked = dialogs_.FileDialogs().back();
        EXPECT_EQ(asked.filter, "Quarn Branch|*.branch");
        EXPECT_FALSE(asked.open);
        EXPECT_EQ(asked.initialFolder, folder_.Join("rooms"));
        if (c.path) {
            EXPECT_STREQ(branch->GetBranchPath(), c.path);
            EXPECT_TRUE(std::filesystem::exists(folder_.Join(c.path))) << c.path;
            EXPECT_STREQ(GetUserSettings().GetString("folder_branch"),
                         GetPathFolder(c.path).c_str());
            SetFolderSetting("branch", "rooms");
        }
        branch->Delete();
    }
}

TEST_F(BranchEditingTest, TheTreePaneOffersRelaysAndOverridesOfInnerNodes) {
    Branch* branch = Instance();
    BrItem* twelve = Inner(branch, 12);
    const NodeMenuEntry* relays = nullptr;
    const NodeMenuEntry* overrides = nullptr;
    for (const NodeMenuEntry& entry : GetNodeMenuEntries()) {
        NodeMenuItem item;
        if (entry.build(*twelve, item)) {
            (item.label == "Create signal proxy" ? relays : overrides) = &entry;
        }
        EXPECT_FALSE(entry.build(*branch, item)) << "the instance itself is no inner node";
    }
    ASSERT_TRUE(relays && overrides);

    NodeMenuItem item;
    relays->build(*twelve, item);
    ASSERT_EQ(item.items.size(), 3u);
    EXPECT_EQ(item.items[2].label, "input2");
    EXPECT_TRUE(item.items[2].checked);
    EXPECT_FALSE(item.items[1].checked);
    relays->execute(*twelve, 1);
    EXPECT_TRUE(branch->HasRelay(twelve, 1));
    relays->execute(*twelve, 2);
    EXPECT_FALSE(branch->HasRelay(twelve, 2));

    const int label = twelve->FindProperty("label")->GetIndex();
    overrides->execute(*twelve, label);
    ASSERT_NE(branch->FindAnyProperty("label_id12"), nullptr);
    item = NodeMenuItem();
    overrides->build(*twelve, item);
    EXPECT_TRUE(item.items[static_cast<size_t>(label)].checked);
    overrides->execute(*twelve, label);
    EXPECT_EQ(branch->FindAnyProperty("label_id12"), nullptr);

    // A closed instance offers nothing to change.
    branch->SetBranchFlags(BranchLoaded | BranchClosed);
    item = NodeMenuItem();
    overrides->build(*twelve, item);
    EXPECT_FALSE(item.enabled);
    overrides->execute(*twelve, label);
    EXPECT_EQ(branch->FindAnyProperty("label_id12"), nullptr);
}

TEST_F(BranchEditingTest, ClosedInstancesRefuseMovesAndSavesAndShowTheirStateInIcons) {
    Branch* branch = Instance();
    const struct {
        bool closed;
        const char* label;
        bool accepted;
    } labels[] = {{false, "Center", true},
                  {false, "Save", true},
                  {true, "Center", false},
                  {true, "Save", false},
                  {true, "Open", true}};
    for (const auto& c : labels) {
        branch->SetBranchFlags(BranchLoaded | (c.closed ? BranchClosed : 0u));
        EXPECT_EQ(branch->AcceptsUndoLabel(c.label), c.accepted) << c.label;
    }
    EXPECT_EQ(branch->GetPropertyState(*branch->FindProperty("idsystem")), 0);
    EXPECT_EQ(branch->GetPropertyState(*branch->FindProperty("branchflags")), 28);

    FakeVersionControl service;
    SetVersionControl(&service);
    const int icons[] = {8, 10, 11, 9, 9};
    for (int state = 0; state < 5; ++state) {
        service.state = state;
        branch->RefreshVersionControl();
        EXPECT_EQ(branch->GetIconIndex(), icons[state]) << state;
    }
}

} // namespace
} // namespace quarn
