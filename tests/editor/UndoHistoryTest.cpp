#include "editor/UndoHistory.h"

#include "core/object/EntityRef.h"
#include "tests/core/scenefile/SceneTestSupport.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::SlItem;

// A node whose setter records a step, as an editing operation run by a replay would.
class SlRecording : public test::TestClass<SlRecording, Node> {
public:
    static constexpr const char* Name = "SlRecording";
    static void Declare(ClassInfo& info) {
        info.AddProperty<PropertyInt, &SlRecording::GetValue, &SlRecording::SetValue>("value");
    }
    int32_t GetValue() const { return value; }
    void SetValue(int32_t v) {
        value = v;
        if (UndoHistory* history = GetUndoHistory()) {
            history->RecordStep("inner");
        }
    }
    int32_t value = 0;
};

// A node with a property of the name a scene block's class line has, as a script's public
// variable may be named.
class SlClassy : public test::TestClass<SlClassy, Node> {
public:
    static constexpr const char* Name = "SlClassy";
    static void Declare(ClassInfo& info) {
        info.AddProperty<PropertyInt, &SlClassy::GetKind, &SlClassy::SetKind>("class");
    }
    int32_t GetKind() const { return kind; }
    void SetKind(int32_t v) { kind = v; }
    int32_t kind = 0;
};

// A node that keeps the lines its class does not name, as a script without its program does.
class SlHolding : public test::TestClass<SlHolding, Node> {
public:
    static constexpr const char* Name = "SlHolding";
    static void Declare(ClassInfo&) {}
    HeldSceneLines* GetHeldLines() override { return &held; }
    HeldSceneLines held;
};

int menuRefreshes = 0;

class UndoHistoryTest : public test::SceneTestBase {
protected:
    void SetUp() override {
        SceneTestBase::SetUp();
        menuRefreshes = 0;
        history_.SetMenuRefresh([] { ++menuRefreshes; });
        SetUndoHistory(&history_);
        root_ = Make();
        TheIdMap().SetSceneRoot(0, root_);
        item_ = Make<SlItem>(root_);
        item_->count = 1;
        history_.Restart();
    }
    void TearDown() override {
        SetUndoHistory(nullptr);
        GameRunning = false;
        SceneTestBase::TearDown();
    }

    // The current state with one property line's value replaced.
    std::string Edited(const std::string& from, const std::string& to) const {
        std::string state = history_.GetCurrentState();
        const size_t at = state.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? state : state.replace(at, from.size(), to);
    }

    UndoHistory history_;
    Node* root_ = nullptr;
    SlItem* item_ = nullptr;
};

TEST_F(UndoHistoryTest, UndoAndRedoStepOverTheRecordedStatesAndRefreshOnlyWhenTheyMove) {
    history_.Undo();
    history_.Redo();
    EXPECT_EQ(menuRefreshes, 0);
    EXPECT_EQ(history_.GetUndoLabel(), "");

    item_->count = 5;
    history_.RecordStep("Center");
    EXPECT_TRUE(history_.HasUnsavedChanges());
    EXPECT_EQ(history_.GetUndoLabel(), "Center");
    EXPECT_EQ(menuRefreshes, 1);
    history_.Redo();
    EXPECT_EQ(menuRefreshes, 1);

    history_.Undo();
    EXPECT_EQ(item_->count, 1);
    EXPECT_EQ(history_.GetPosition(), 0);
    EXPECT_EQ(history_.GetUndoLabel(), "");
    EXPECT_EQ(history_.GetRedoLabel(), "Center");
    history_.Redo();
    EXPECT_EQ(item_->count, 5);
    EXPECT_EQ(history_.GetPosition(), 1);
    EXPECT_EQ(menuRefreshes, 3);

    // A new step after an undo drops the one beyond the position.
    history_.Undo();
    item_->count = 7;
    history_.RecordStep("Other");
    EXPECT_EQ(history_.GetStepCount(), 1);
    EXPECT_EQ(history_.GetUndoLabel(), "Other");
    EXPECT_EQ(history_.GetRedoLabel(), "");
}

// The scene a save wrote is not the one an undo or a redo leaves.
TEST_F(UndoHistoryTest, AnUndoOrARedoAfterASaveIsUnsaved) {
    item_->count = 5;
    history_.RecordStep("Center");
    for (void (UndoHistory::*step)() : {&UndoHistory::Undo, &UndoHistory::Redo}) {
        history_.SetUnsavedChanges(false);
        (history_.*step)();
        EXPECT_TRUE(history_.HasUnsavedChanges());
    }
}

// A replay leaves unmentioned nodes alone, so a step names the nodes it made or removed.
TEST_F(UndoHistoryTest, UndoRemovesWhatAStepMadeAndRedoRemovesWhatItRemoved) {
    auto* made = Make<SlItem>(item_);
    const uint32_t madeId = made->GetId();
    history_.RecordStep("SlItem creation");
    history_.Undo();
    EXPECT_EQ(LookupEntity(madeId), nullptr);
    history_.Redo();
    ASSERT_NE(LookupEntity(madeId), nullptr);
    EXPECT_EQ(static_cast<Node*>(LookupEntity(madeId))->GetParent(), item_);
    Keep(static_cast<Node*>(LookupEntity(madeId)));

    const uint32_t itemId = item_->GetId();
    item_->Delete();
    history_.RecordStep("Unload");
    history_.Undo();
    ASSERT_NE(LookupEntity(itemId), nullptr);
    EXPECT_NE(LookupEntity(madeId), nullptr);
    history_.Redo();
    EXPECT_EQ(LookupEntity(itemId), nullptr);
    EXPECT_EQ(LookupEntity(madeId), nullptr);
}

TEST_F(UndoHistoryTest, ANodesHeldLinesComeBackWithItAndAreNotRepeated) {
    auto* holding = Make<SlHolding>(root_);
    holding->held.lines = {{"status", "68", false}, {"label", "two\nlines", true}};
    const uint32_t id = holding->GetId();
    history_.RecordStep("SlHolding creation");
    item_->count = 5;
    history_.RecordStep("edit");
    history_.Undo();
    ASSERT_EQ(LookupEntity(id), holding);
    EXPECT_EQ(holding->held.lines.size(), 2u);

    holding->Delete();
    history_.RecordStep("delete");
    history_.Undo();
    auto* back = dynamic_cast<SlHolding*>(LookupEntity(id));
    ASSERT_NE(back, nullptr);
    Keep(back);
    ASSERT_EQ(back->held.lines.size(), 2u);
    EXPECT_EQ(back->held.lines[0].name, "status");
    EXPECT_EQ(back->held.lines[0].value, "68");
    EXPECT_FALSE(back->held.lines[0].quoted);
    EXPECT_EQ(back->held.lines[1].value, "two\nlines");
    EXPECT_TRUE(back->held.lines[1].quoted);
}

TEST_F(UndoHistoryTest, TheFirstPassSettlesWhichNodesExist) {
    const uint32_t itemId = item_->GetId();
    Node* grandchild = Make(item_);
    const uint64_t grandchildSerial = grandchild->GetSerial();
    Node* bystander = Make(root_);
    const uint64_t bystanderSerial = bystander->GetSerial();

    // A block whose class is unknown takes the live node and its subtree.
    history_.ApplyState("obj" + std::to_string(itemId) + " {\n\tclass = \"NoSuchClass\"\n}\n");
    EXPECT_EQ(LookupEntity(itemId), nullptr);
    EXPECT_FALSE(IsAlive(grandchildSerial));
    EXPECT_TRUE(IsAlive(bystanderSerial)); // never mentioned

    // A known class for a missing id makes the node with that very id; its parent comes in the
    // second pass.
    history_.ApplyState("obj" + std::to_string(itemId) + " {\n\tclass = \"SlItem\"\n\tparent = " +
                        std::to_string(root_->GetId()) + "\n\tcount = 9\n}\n");
    auto* made = dynamic_cast<SlItem*>(LookupEntity(itemId));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->GetParent(), root_);
    EXPECT_EQ(made->count, 9);

    // Without a class line nothing is made, but a live node still takes the values.
    history_.ApplyState("obj999 {\n\tparent = 1\n}\nobj" + std::to_string(itemId) +
                        " {\n\tcount = 4\n}\n");
    EXPECT_EQ(LookupEntity(999), nullptr);
    EXPECT_EQ(made->count, 4);

    // A class that makes nothing creates nothing.
    ClassInfo* abstract = new ClassInfo("SlNoFactory", nullptr, nullptr);
    abstract->SetParent(Node::RegisterClass());
    history_.ApplyState("obj998 {\n\tclass = \"SlNoFactory\"\n}\n");
    EXPECT_EQ(LookupEntity(998), nullptr);
}

TEST_F(UndoHistoryTest, TheSecondPassWritesOnlyWhatDiffersAndKeepsTheNodesOwnFlagBits) {
    const std::string state = history_.GetCurrentState();
    item_->stateWhileLoading = -1;
    history_.ApplyState(state);
    EXPECT_EQ(item_->stateWhileLoading, -1); // equal text: the setter is never called

    // The selected bit is never saved: the live node's flags read 16.
    item_->SetFlags(80, 0xFFFFFFFFu);
    history_.CaptureScene();
    history_.ApplyState(Edited("\tflags = 16\n", "\tflags = 1\n"));
    EXPECT_EQ(item_->GetFlags(), 81u);

    // A reference is written as the raw id; an applied state is a load to the branches.
    item_->count = 2;
    history_.ApplyState(Edited("\ttarget = 0\n", "\ttarget = " + std::to_string(root_->GetId()) +
                                                     "\n"));
    EXPECT_EQ(item_->target.value, root_->GetId());
    EXPECT_EQ(item_->count, 1);
    EXPECT_EQ(item_->stateWhileLoading, EngineLoadingScene);
    EXPECT_EQ(EngineState, EngineRunning);
    EXPECT_FALSE(history_.IsApplying());
}

TEST_F(UndoHistoryTest, APropertyNamedClassIsRestoredLikeAnyOther) {
    SlClassy* classy = Make<SlClassy>(root_);
    classy->kind = 3;
    history_.CaptureScene();
    const std::string state = history_.GetCurrentState();
    classy->kind = 7;
    history_.ApplyState(state);
    EXPECT_EQ(classy->kind, 3);
}

TEST_F(UndoHistoryTest, TheSceneRootOutlivesEveryState) {
    const std::string rootBlock = "obj" + std::to_string(root_->GetId()) + " {\n\tclass = \"";
    history_.ApplyState(rootBlock + "NoSuchClass\"\n}\n");
    EXPECT_EQ(GetSceneRoot(), root_);

    history_.ApplyState(rootBlock + "SlItem\"\n}\n");
    Node* root = GetSceneRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->GetClass()->GetName(), "SlItem");
    EXPECT_EQ(item_->GetParent(), root); // the children went with it
    Keep(root);
}

TEST_F(UndoHistoryTest, LongValuesAndLargeScenesRoundTrip) {
    // Sixty values of 100,000 bytes: more text than the node count's estimate sets aside.
    const std::string longLabel(100000, 'q');
    std::vector<SlItem*> items;
    for (int n = 0; n < 60; ++n) {
        items.push_back(Make<SlItem>(root_));
        items.back()->label = longLabel;
    }
    history_.CaptureScene();
    EXPECT_GT(history_.GetCurrentState().size(), EstimateSceneTextSize());
    items.back()->label = "short";
    history_.ApplyState(history_.GetCurrentState());
    EXPECT_TRUE(items.back()->label == longLabel);

    // One id system holds at most 65,535 nodes.
    for (int n = 0; n < 60000; ++n) {
        Make(root_);
    }
    auto* last = Make<SlItem>(root_);
    history_.CaptureScene();
    const std::string captured = history_.GetCurrentState();
    EXPECT_NE(captured.find("obj" + std::to_string(last->GetId()) + " {"), std::string::npos);
    last->count = 3;
    history_.ApplyState(captured);
    EXPECT_EQ(last->count, 0);
    history_.CaptureScene();
    // Not EXPECT_EQ: its difference of two large texts takes memory by their product.
    EXPECT_TRUE(history_.GetCurrentState() == captured);
}

TEST_F(UndoHistoryTest, NothingIsRecordedWhileTheGameRunsOrAStateIsApplied) {
    GameRunning = true;
    history_.RecordStep("Center");
    EXPECT_EQ(history_.GetStepCount(), 0);
    GameRunning = false;

    auto* recording = Make<SlRecording>(root_);
    history_.CaptureScene();
    history_.ApplyState(Edited("\tvalue = 0\n", "\tvalue = 3\n"));
    EXPECT_EQ(recording->value, 3);
    EXPECT_EQ(history_.GetStepCount(), 0);
    EXPECT_FALSE(history_.HasUnsavedChanges());

    TheIdMap().SetSceneRoot(0, nullptr);
    history_.RecordStep("Center");
    EXPECT_EQ(history_.GetStepCount(), 0);
}

} // namespace
} // namespace quarn
