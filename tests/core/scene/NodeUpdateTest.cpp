#include "core/object/ClassInfo.h"
#include "core/scene/EngineState.h"
#include "core/scene/SceneClasses.h"
#include "tests/support/TestClass.h"
#include "tests/support/TestTree.h"

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::TestClass;

// Who was updated, as "name:mode", in order.
std::vector<std::string> updates;
float lastFrameTime = 0.0f;

// Logs its updates and may run an action in one; each instantiation is a class of its own
// with the given class flags.
template <uint32_t Flags>
class NuTicker : public TestClass<NuTicker<Flags>, Node> {
public:
    static constexpr const char* Name = Flags == ClassUpdateWhileRunning   ? "NuRunning"
                                        : Flags == ClassUpdateWhileStopped ? "NuStopped"
                                        : Flags == ClassNative             ? "NuNeither"
                                                                           : "NuBoth";
    static void Declare(ClassInfo& classInfo) { classInfo.SetFlags(Flags); }

    void Update(float frameTime, int mode) override {
        updates.push_back(this->GetName() + ":" + std::to_string(mode));
        lastFrameTime = frameTime;
        std::function<void()> run = action; // the action may delete this node
        if (run) {
            run();
        }
    }
    std::function<void()> action;
};

using Running = NuTicker<ClassUpdateWhileRunning>;
using Stopped = NuTicker<ClassUpdateWhileStopped>;
using Both = NuTicker<ClassUpdateWhileRunning | ClassUpdateWhileStopped>;
using Neither = NuTicker<ClassNative>;
using Updates = std::vector<std::string>;

class NodeUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSceneClasses();
        updates.clear();
        GameRunning = true;
        GamePaused = false;
        FrameTime = 0.25f;
    }
    void TearDown() override {
        GameRunning = false;
        GamePaused = false;
        FrameTime = 0.0f;
    }

    template <class T = Both>
    T* Make(const char* name, Node* parent = nullptr) {
        return tree_.Make<T>(name, parent);
    }
    std::map<std::string, Both*> Build(const char* shape) { return tree_.Build<Both>(shape); }

    Updates Walk(Node* root) {
        updates.clear();
        UpdateNodeTree(root);
        return updates;
    }

private:
    test::TestTree tree_;
};

TEST_F(NodeUpdate, TheGameStateClassFlagsAndOwnEnabledBitsChooseWhatIsUpdated) {
    auto n = Build("root(a(a1))");
    Make<Running>("running", n["root"]);
    Make<Stopped>("stopped", n["root"]);
    Make<Neither>("neither", n["root"]);
    n["a"]->SetFlag(NodeEnabled, false); // skips its subtree
    EXPECT_EQ(Walk(n["root"]), (Updates{"root:1", "running:1"}));
    EXPECT_EQ(lastFrameTime, 0.25f);
    GamePaused = true;
    EXPECT_EQ(Walk(n["root"]), (Updates{"root:2", "stopped:2"}));
    GameRunning = false;
    GamePaused = false;
    EXPECT_EQ(Walk(n["root"]), (Updates{"root:2", "stopped:2"}));
    n["root"]->SetFlag(NodeEnabled, false);
    EXPECT_TRUE(Walk(n["root"]).empty());
    // Below a disabled root, yet enabled itself: a walk that starts there runs.
    n["a"]->SetFlag(NodeEnabled, true);
    EXPECT_EQ(Walk(n["a"]), (Updates{"a:2", "a1:2"}));
}

TEST_F(NodeUpdate, NodesAttachedOrMovedDuringAnUpdateAreVisitedWhereTheyNowAre) {
    auto n = Build("root(p(a(a1) b) q)");
    Both* a = n["a"];
    a->action = [this, a, &n]() {
        a->action = nullptr;
        Make("child", a);
        Make("last", n["root"]);
        a->AttachTo(n["q"]);
    };
    // The walk goes on from the sibling that followed a, and meets a again under q.
    EXPECT_EQ(Walk(n["root"]), (Updates{"root:1", "p:1", "a:1", "a1:1", "child:1", "b:1", "q:1",
                                        "a:1", "a1:1", "child:1", "last:1"}));
}

TEST_F(NodeUpdate, AnUpdateMayDeleteItselfItsParentItsNextSiblingOrTheRoot) {
    const std::map<std::string, Updates> cases = {
        {"a", {"root:1", "p:1", "a:1", "b:1", "c:1", "q:1"}},
        {"p", {"root:1", "p:1", "a:1", "q:1"}},
        {"b", {"root:1", "p:1", "a:1", "a1:1", "c:1", "q:1"}},
        {"root", {"root:1", "p:1", "a:1"}},
    };
    for (const auto& [victimName, expected] : cases) {
        auto n = Build("root(p(a(a1) b c) q)");
        const uint64_t victim = n[victimName]->GetSerial();
        n["a"]->action = [victim]() { Entity::FindBySerial(victim)->Delete(); };
        EXPECT_EQ(Walk(n["root"]), expected) << victimName;
    }
}

} // namespace
} // namespace quarn
