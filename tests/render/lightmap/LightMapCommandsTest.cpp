#include "render/lightmap/LightMapCommands.h"

#include "core/scene/SelectionSet.h"
#include "editor/EditorSelectionSet.h"
#include "render/Model.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/CapturingLogSink.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace quarn {
namespace {

// Stands in for the lightmapped box, under its class name, and notes every lightmap call.
class LightMappedBox : public test::TestClass<LightMappedBox, Pivot> {
public:
    static constexpr const char* Name = "MockupBox";
    static void Declare(ClassInfo& classInfo) {
        classInfo.AddMethod("CreateLightMap", "()", BindSignalHandler<&LightMappedBox::Create>(), 0);
        classInfo.AddMethod("InitLightMap", "()", BindSignalHandler<&LightMappedBox::Init>(), 0);
        classInfo.AddMethod("UpdateLightMap", "()", BindSignalHandler<&LightMappedBox::Update>(),
                            0);
        classInfo.AddMethod("SaveLightMap", "()", BindSignalHandler<&LightMappedBox::Save>(), 0);
    }
    void Create(void*) { Note("create"); }
    void Init(void*) { Note("init"); }
    void Update(void*) { Note("update"); }
    void Save(void*) { Note("save"); }
    void Note(const char* what) { calls.push_back(GetName() + ":" + what); }

    static inline std::vector<std::string> calls;
};

class BranchStandIn : public test::TestClass<BranchStandIn, Node> {
public:
    static constexpr const char* Name = "Branch";
};

int flashes = 0;

class LightMapCommandsTest : public test::RenderScene {
protected:
    void SetUp() override {
        RenderScene::SetUp();
        LightMappedBox::RegisterClass();
        BranchStandIn::RegisterClass();
        Model::RegisterClass();
        LightMappedBox::calls.clear();
        flashes = 0;
        PlatformFlashWindow = []() { ++flashes; };
        SetSelectionSet(&selection_);
    }
    void TearDown() override {
        SetSelectionSet(nullptr);
        PlatformFlashWindow = nullptr;
        RenderScene::TearDown();
    }
    std::vector<std::string> Selected() const {
        std::vector<std::string> names;
        for (int i = 0; i < selection_.GetCount(); ++i) {
            names.push_back(selection_.GetAt(i)->GetName());
        }
        return names;
    }

    EditorSelectionSet selection_;
    test::CapturingLogSink log_;
};

using Names = std::vector<std::string>;

TEST_F(LightMapCommandsTest, OneSelectedNodeGivesWayToTheLightmappedNodesOfItsSubtree) {
    auto* group = tree_.Make<Pivot>("group", root_);
    auto* model = tree_.Make<Model>("model", group);
    tree_.Make<LightMappedBox>("a", group);
    auto* branch = tree_.Make<BranchStandIn>("branch", group);
    tree_.Make<LightMappedBox>("inBranch", branch);
    tree_.Make<LightMappedBox>("b", model);
    struct Case {
        int (*command)();
        Names selected;
        Names calls;
        const char* logLine;
    };
    const Case cases[] = {
        {&CreateLightMaps, {"a", "b", "model"}, {"a:create", "b:create"},
         "3 lightmaps were created"},
        {&InitLightMaps, {"a", "inBranch", "b", "model"},
         {"a:init", "inBranch:init", "b:init"}, "4 lightmaps were initialized"},
        {&UpdateLightMaps, {"a", "inBranch", "b", "model"},
         {"a:update", "inBranch:update", "b:update"}, "4 lightmaps were updated"},
        {&SaveLightMaps, {"a", "inBranch", "b", "model"},
         {"a:save", "inBranch:save", "b:save"}, "4 lightmaps were saved"},
    };
    for (const Case& c : cases) {
        selection_.Clear();
        selection_.Add(group);
        LightMappedBox::calls.clear();
        log_.Clear();
        EXPECT_EQ(c.command(), static_cast<int>(c.selected.size())) << c.logLine;
        Names selected = Selected();
        std::sort(selected.begin(), selected.end());
        Names expected = c.selected;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(selected, expected) << c.logLine;
        Names calls = LightMappedBox::calls;
        std::sort(calls.begin(), calls.end());
        expected = c.calls;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(calls, expected) << c.logLine;
        EXPECT_TRUE(log_.Contains(c.logLine)) << c.logLine;
    }
    EXPECT_EQ(flashes, 1);
}

TEST_F(LightMapCommandsTest, SeveralSelectedNodesAreUsedAsTheyAreAndNoSetMeansNothing) {
    auto* box = tree_.Make<LightMappedBox>("box", root_);
    auto* plain = tree_.Make<Pivot>("plain", root_);
    tree_.Make<LightMappedBox>("below", plain);
    selection_.Add(plain);
    selection_.Add(box);
    selection_.Add(box);
    EXPECT_EQ(UpdateLightMaps(), 2);
    EXPECT_EQ(LightMappedBox::calls, Names{"box:update"});
    EXPECT_TRUE(log_.Contains("2 lightmaps were updated"));

    SetSelectionSet(nullptr);
    LightMappedBox::calls.clear();
    log_.Clear();
    for (int (*command)() : {&CreateLightMaps, &InitLightMaps, &UpdateLightMaps, &SaveLightMaps}) {
        EXPECT_EQ(command(), -1);
    }
    EXPECT_TRUE(LightMappedBox::calls.empty());
    EXPECT_EQ(flashes, 1);
}

TEST_F(LightMapCommandsTest, ADeepChainIsWalkedWithoutRecursion) {
    std::vector<Node*> chain{root_};
    for (int i = 0; i < 100000; ++i) {
        chain.push_back(tree_.Make<Pivot>("link", chain.back()));
    }
    chain.push_back(tree_.Make<LightMappedBox>("deep", chain.back()));
    selection_.Add(root_);
    EXPECT_EQ(SelectLightMappedNodes(false), 1);
    EXPECT_EQ(Selected(), Names{"deep"});
    // Deletion recurses, so the chain goes link by link from its end.
    for (size_t i = chain.size() - 1; i > 0; --i) {
        chain[i]->Delete();
    }
}

} // namespace
} // namespace quarn
