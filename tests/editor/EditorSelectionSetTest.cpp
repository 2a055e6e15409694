#include "editor/EditorSelectionSet.h"

#include "core/filesystem/SettingsFile.h"
#include "core/object/IdMap.h"
#include "core/object/Signals.h"
#include "core/scene/SceneClasses.h"
#include "tests/support/TestClass.h"
#include "tests/support/TestTree.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

// Notes each "selectionhaschanged" as the name of its node, "-" for none.
class SelectionProbe : public test::TestClass<SelectionProbe, Node> {
public:
    static constexpr const char* Name = "SelectionProbe";
    static inline std::vector<std::string> heard;
    static void Declare(ClassInfo& classInfo) {
        classInfo.AddMethod("selectionhaschanged", "()",
                            BindSignalHandler<&SelectionProbe::OnChange>(), 0);
    }
    void OnChange(void* argument) {
        auto* node = static_cast<Entity*>(argument);
        heard.push_back(node ? node->GetName() : "-");
    }
};

class Settings : public SelectionSettingsHost {
public:
    SettingsFile* GetUserSettings() override { return &file; }
    std::string GetScenePath() override { return "/games/level.scene"; }
    SettingsFile file;
};

class EditorSelectionSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        TheIdMap().Clear();
        RegisterSceneClasses();
        SelectionProbe::ListenOnce({"selectionhaschanged"});
        SelectionProbe::heard.clear();
        tree_.Make<SelectionProbe>("probe");
        InstallEditorSelection(&set_);
    }
    void TearDown() override { InstallEditorSelection(nullptr); }

    std::vector<std::string> Selected() const {
        std::vector<std::string> names;
        for (int i = 0; i < set_.GetCount(); ++i) {
            names.push_back(set_.GetAt(i)->GetName());
        }
        return names;
    }

    Settings settings_;
    EditorSelectionSet set_{&settings_};
    test::TestTree tree_;
};

TEST_F(EditorSelectionSetTest, AddAndClearKeepFlagsCounterLastSelectedAndSignals) {
    auto nodes = tree_.Build<Node>("root(a b)");
    Node* a = nodes["a"];
    Node* b = nodes["b"];
    set_.Add(a);
    set_.Add(a); // selected already: counted and announced all the same
    set_.Add(b);
    EXPECT_EQ(set_.GetCount(), 2);
    EXPECT_EQ(set_.GetChangeCount(), 3u);
    EXPECT_TRUE(a->HasFlag(NodeSelected) && b->HasFlag(NodeSelected));
    EXPECT_EQ(set_.GetLastSelected(), a) << "only a lone node becomes the last selected";
    set_.Clear();
    EXPECT_EQ(set_.GetCount(), 0);
    EXPECT_EQ(set_.GetChangeCount(), 4u);
    EXPECT_FALSE(a->HasFlag(NodeSelected) || b->HasFlag(NodeSelected));
    EXPECT_EQ(set_.GetLastSelected(), nullptr);
    EXPECT_EQ(SelectionProbe::heard, (std::vector<std::string>{"a", "a", "b", "-"}));
}

TEST_F(EditorSelectionSetTest, TheSelectionSignalsReplaceClearAndExtendIt) {
    auto nodes = tree_.Build<Node>("a b c");
    struct Step {
        const char* signal;
        const char* node; // null: no argument
        std::vector<std::string> selected;
    } steps[] = {
        {"selectnode", "a", {"a"}},     {"selectnodealso", "c", {"a", "c"}},
        {"selectnode", "b", {"b"}},     {"selectnode", nullptr, {}},
        {"selectnodealso", "b", {"b"}}, {"nodecreation", "c", {"b"}}, // not the selection's
    };
    for (const Step& step : steps) {
        SendSignal(step.signal, step.node ? static_cast<Entity*>(nodes[step.node]) : nullptr, true);
        EXPECT_EQ(Selected(), step.selected) << step.signal << " " << (step.node ? step.node : "");
    }
    EXPECT_EQ(GetSelectionSet(), &set_);
}

TEST_F(EditorSelectionSetTest, TheOrderFollowsIdsWhateverTheOrderOfCreationOrSelection) {
    for (uint32_t id : {9u, 3u, 7u}) {
        Node* node = tree_.Make<Node>(std::to_string(id).c_str());
        node->ChangeId(id);
        set_.Add(node);
    }
    EXPECT_EQ(Selected(), (std::vector<std::string>{"3", "7", "9"}));
}

TEST_F(EditorSelectionSetTest, ADeletedNodeLeavesTheSetBeforeAnyCountOrWalk) {
    auto nodes = tree_.Build<Node>("a b c");
    for (const char* name : {"a", "b", "c"}) {
        set_.Add(nodes[name]);
    }
    nodes["b"]->Delete();
    EXPECT_EQ(set_.GetCount(), 2);
    EXPECT_EQ(Selected(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(set_.GetAt(2), nullptr);
}

TEST_F(EditorSelectionSetTest, TheSettingsKeepTheSceneAndTheIdPathOfANodeInsideABranch) {
    Node* room = tree_.Make<Node>("room");
    room->ChangeId(5);
    const int32_t system = TheIdMap().AllocateScene(room);
    ASSERT_GT(system, 0);
    Node* lamp = tree_.Make<Node>("lamp");
    lamp->ChangeId((static_cast<uint32_t>(system) << IdSystemShift) | 3);
    SendSignal("selectnode", static_cast<Entity*>(lamp), true);
    EXPECT_STREQ(settings_.file.GetString("lastscene"), "/games/level.scene");
    EXPECT_STREQ(settings_.file.GetString("lastselected"), "5.3");
}

} // namespace
} // namespace quarn
