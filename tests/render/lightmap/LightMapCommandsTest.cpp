#include "render/lightmap/LightMapCommands.h"

#include "core/scene/SelectionSet.h"
#include "editor/EditorSelectionSet.h"
#include "render/Model.h"
#include "resources/Branch.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/CapturingLogSink.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::MockupBoxStandIn;

int flashes = 0;

class LightMapCommandsTest : public test::RenderScene {
protected:
    void SetUp() override {
        RenderScene::SetUp();
        MockupBoxStandIn::RegisterClass();
        Branch::RegisterClass();
        Model::RegisterClass();
        MockupBoxStandIn::calls.clear();
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
    tree_.Make<MockupBoxStandIn>("a", group);
    auto* branch = tree_.Make<Branch>("branch", group);
    tree_.Make<MockupBoxStandIn>("inBranch", branch);
    tree_.Make<MockupBoxStandIn>("b", model);
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
        MockupBoxStandIn::calls.clear();
        log_.Clear();
        EXPECT_EQ(c.command(), static_cast<int>(c.selected.size())) << c.logLine;
        Names selected = Selected();
        std::sort(selected.begin(), selected.end());
        Names expected = c.selected;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(selected, expected) << c.logLine;
        Names calls = MockupBoxStandIn::calls;
        std::sort(calls.begin(), calls.end());
        expected = c.calls;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(calls, expected) << c.logLine;
        EXPECT_TRUE(log_.Contains(c.logLine)) << c.logLine;
    }
    EXPECT_EQ(flashes, 1);
}

TEST_F(LightMapCommandsTest, SeveralSelectedNodesAreUsedAsTheyAreAndNoSetMeansNothing) {
    auto* box = tree_.Make<MockupBoxStandIn>("box", root_);
    auto* plain = tree_.Make<Pivot>("plain", root_);
    tree_.Make<MockupBoxStandIn>("below", plain);
    selection_.Add(plain);
    selection_.Add(box);
    selection_.Add(box);
    EXPECT_EQ(UpdateLightMaps(), 2);
    EXPECT_EQ(MockupBoxStandIn::calls, Names{"box:update"});
    EXPECT_TRUE(log_.Contains("2 lightmaps were updated"));

    SetSelectionSet(nullptr);
    MockupBoxStandIn::calls.clear();
    log_.Clear();
    for (int (*command)() : {&CreateLightMaps, &InitLightMaps, &UpdateLightMaps, &SaveLightMaps}) {
        EXPECT_EQ(command(), -1);
    }
    EXPECT_TRUE(MockupBoxStandIn::calls.empty());
    EXPECT_EQ(flashes, 1);
}

TEST_F(LightMapCommandsTest, ADeepChainIsWalkedWithoutRecursion) {
    std::vector<Node*> chain{root_};
    for (int i = 0; i < 100000; ++i) {
        chain.push_back(tree_.Make<Pivot>("link", chain.back()));
    }
    chain.push_back(tree_.Make<MockupBoxStandIn>("deep", chain.back()));
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
