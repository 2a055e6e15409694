#include "core/scene/Node.h"

#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/Property.h"
#include "core/object/Signals.h"
#include "core/scene/EngineState.h"
#include "core/scene/Pivot.h"
#include "core/scene/SceneClasses.h"
#include "tests/support/RecordingValidityHook.h"
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
using Events = std::vector<std::string>;

// What happened, in order: signals as "deletion:a", tree notices as "descendant:root:a:0".
Events events;

// Logs its tree notices; its description is a derived member, gone from a half-destroyed node.
class NtProbe : public TestClass<NtProbe, Node> {
public:
    static constexpr const char* Name = "NtProbe";
    void OnDescendantChanged(Node* node, bool attached) override {
        events.push_back("descendant:" + GetName() + ":" + node->GetName() +
                         (attached ? ":1" : ":0"));
        Node::OnDescendantChanged(node, attached);
    }
    bool HearsDescendantChanges() const override { return true; }
    void ParentFlagsChanged(Node* parent, bool attached) override {
        events.push_back("parentflags:" + GetName() + ":" + parent->GetName() +
                         (attached ? ":1" : ":0"));
        Node::ParentFlagsChanged(parent, attached);
    }
    PathString GetDescription() const override { return PathString(description.c_str()); }
    std::string description;
};

// Keeps an id system of its own, as a branch does.
class NtOwnIds : public TestClass<NtOwnIds, Node> {
public:
    static constexpr const char* Name = "NtOwnIds";
    uint32_t GetIdSystem() const override { return 77; }
};

const char* const TreeSignals[] = {"nodedeletion", "nodereparent", "nodereorder"};

// Hears the tree signals from outside the tree and may act on each.
class NtWatcher : public TestClass<NtWatcher, Node> {
public:
    static constexpr const char* Name = "NtWatcher";
    static void Declare(ClassInfo& classInfo) {
        classInfo.AddMethod(TreeSignals[0], "()", BindSignalHandler<&NtWatcher::On<0>>(), 0);
        classInfo.AddMethod(TreeSignals[1], "()", BindSignalHandler<&NtWatcher::On<1>>(), 0);
        classInfo.AddMethod(TreeSignals[2], "()", BindSignalHandler<&NtWatcher::On<2>>(), 0);
    }
    template <int Signal>
    void On(void* argument) {
        auto* node = dynamic_cast<Node*>(static_cast<Entity*>(argument));
        events.push_back(std::string(TreeSignals[Signal] + 4) + ":" + node->GetName());
        if (std::function<void(Node*)> run = action) { // may delete this watcher
            run(node);
        }
    }
    std::function<void(Node*)> action;
};

class NodeTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterSceneClasses(); }
    void TearDown() override { EngineState = EngineRunning; }

    // The last child of `parent` when one is given.
    template <class T = NtProbe>
    T* Make(const char* name, Node* parent = nullptr) {
        return tree_.Make<T>(name, parent);
    }
    std::map<std::string, NtProbe*> Build(const char* shape) { return tree_.Build<NtProbe>(shape); }

    NtWatcher* Watch() {
        NtWatcher* watcher = Make<NtWatcher>("watcher");
        for (const char* name : TreeSignals) {
            AddSignalListener(name, watcher);
        }
        events.clear();
        return watcher;
    }

    // The events that start with `prefix`.
    static Events Only(const std::string& prefix) {
        Events kept;
        for (const std::string& event : events) {
            if (event.rfind(prefix, 0) == 0) {
                kept.push_back(event);
            }
        }
        return kept;
    }

    // Forwards and backwards, so a broken link shows.
    static std::string ChildNames(const Node* parent) {
        std::string names;
        for (const Node* child = parent->GetFirstChild(); child; child = child->GetNext()) {
            names += child->GetName();
        }
        names += "|";
        for (const Node* child = parent->GetLastChild(); child; child = child->GetPrevious()) {
            names += child->GetName();
        }
        return names;
    }

    test::TestTree tree_;
};

// Flags ----------------------------------------------------------------------------------------

TEST_F(NodeTest, EnabledAndLockedStatesReachEveryDescendantHoweverItIsAttached) {
    auto n = Build("root(a(b))");
    // Enabled again, but below a disabled root: still not fully enabled.
    n["root"]->SetFlag(NodeEnabled, false);
    n["a"]->SetFlag(NodeEnabled, false);
    n["a"]->SetFlag(NodeEnabled, true);
    EXPECT_FALSE(n["b"]->HasFlag(NodeEnabledAll));
    n["root"]->SetFlag(NodeEnabled, true);
    EXPECT_TRUE(n["b"]->IsFullyEnabled());
    n["root"]->SetFlag(NodeLocked, true);
    EXPECT_TRUE(n["b"]->HasFlag(NodeLockedAll));
    n["root"]->SetFlag(NodeEnabled, false);
    n["a"]->Detach();
    EXPECT_EQ(n["b"]->GetFlags(), NodeEnabled | NodeEnabledAll);

    const std::function<void(Node*, Node*)> attaches[] = {
        [](Node* node, Node* parent) { node->AttachTo(parent); },
        [](Node* node, Node* parent) { node->AttachAsLast(parent); },
        [](Node* node, Node* parent) { node->AttachAfter(parent, parent->GetFirstChild()); },
    };
    n["root"]->SetFlags(NodeLocked | NodeEnabledAll, 0xFFFFFFFFu); // disabled and locked
    for (const auto& attach : attaches) {
        NtProbe* x = Make("x");
        NtProbe* y = Make("y", x);
        attach(x, n["root"]);
        EXPECT_EQ(x->GetFlags(), NodeEnabled | NodeLockedAll);
        EXPECT_EQ(y->GetFlags(), NodeEnabled | NodeLockedAll);
        x->Delete();
    }
}

TEST_F(NodeTest, TheFlagsPropertyHidesDerivedBitsAndItsListenersHearEveryValueChildrenFirst) {
    NtProbe* node = Make("node");
    Property* flags = node->FindProperty("flags");
    node->SetFlags(NodeKindPivot | NodeSelected | NodeLockedAll | NodeEnabledAll | NodeEnabled,
                   0xFFFFFFFFu);
    uint32_t value = 0;
    flags->ReadValue(*node, &value);
    EXPECT_EQ(value, NodeEnabled);
    const uint32_t written = NodeLocked | NodeExpanded;
    flags->WriteValue(*node, &written);
    EXPECT_EQ(node->GetFlags(), NodeKindPivot | NodeSelected | NodeExpanded | NodeLockedAll |
                                    NodeLocked | NodeEnabledAll);

    NtWatcher* owner = Make<NtWatcher>("owner");
    flags->AddListener(
        Property::ListenerOfGiven, owner, nullptr,
        [](Entity*, Entity& object, const uint32_t* oldValue, const uint32_t* newValue) {
            events.push_back(static_cast<Node&>(object).GetName() + ":" +
                             std::to_string(oldValue[0]) + ">" + std::to_string(newValue[0]));
        },
        0);
    NtProbe* root = Make("root");
    Make("child", root);
    events.clear();
    root->SetFlag(NodeEnabled, false);
    // NodeLocked lies outside the mask: nothing changes, yet the whole value is told.
    root->SetFlags(NodeLocked | NodeEnabledAll, NodeEnabled);
    root->SetFlags(NodeEnabledAll, NodeEnabled);
    EXPECT_EQ(root->GetFlags(), NodeEnabledAll);
    EXPECT_EQ(events, (Events{"child:3>1", "root:3>2", "root:2>6"}));
    flags->RemoveListenersOf(owner);
}

// Tree operations ------------------------------------------------------------------------------

TEST_F(NodeTest, AttachPlacesFirstLastOrAfterASiblingButNeverBelowItself) {
    NtProbe* root = Make("root");
    NtProbe* other = Make("other");
    NtProbe* b = Make("b", other);
    Make("a")->AttachTo(root);
    Make("d")->AttachAsLast(root);
    b->AttachAfter(root, root->GetFirstChild()); // an attached node moves whole
    NtProbe* c = Make("c");
    c->AttachAfter(root, b);
    EXPECT_EQ(ChildNames(root), "abcd|dcba");
    EXPECT_EQ(ChildNames(other), "|");

    NtProbe* grandchild = Make("grandchild", Make("child", c));
    const uint32_t grandchildId = grandchild->GetId();
    test::RecordingValidityHook hook;
    for (Node* under : {static_cast<Node*>(grandchild), static_cast<Node*>(c)}) {
        c->AttachTo(under);
        c->AttachAsLast(under);
        c->AttachAfter(under, nullptr);
        c->SetParent(under);
    }
    c->FindProperty("parent")->WriteValue(*c, &grandchildId);
    ASSERT_EQ(hook.Messages().size(), 9u);
    EXPECT_NE(hook.Messages()[0].find("\"c\" > \"child\" > \"grandchild\" > \"c\""),
              std::string::npos)
        << hook.Messages()[0];
    EXPECT_EQ(ChildNames(root), "abcd|dcba");
    EXPECT_EQ(grandchild->GetFirstChild(), nullptr);
}

// Plain nodes and pivots only pass the notice on, so it goes straight to the ancestors that hear
// it, also after the nodes in between moved.
TEST_F(NodeTest, DescendantNoticesReachEveryHearingAncestorPastPlainOnes) {
    NtProbe* root = Make("root");
    Node* plain = Make<Node>("plain", Make<Pivot>("pivot", root));
    NtProbe* mid = Make("mid", Make<Node>("between", plain));
    Pivot* inner = Make<Pivot>("inner", mid);
    NtProbe* other = Make("other");
    events.clear();
    Make("leaf", inner);
    EXPECT_EQ(Only("descendant"), (Events{"descendant:mid:leaf:1", "descendant:root:leaf:1"}));
    plain->AttachTo(other);
    events.clear();
    Make("late", mid);
    EXPECT_EQ(Only("descendant"), (Events{"descendant:mid:late:1", "descendant:other:late:1"}));
    plain->Detach();
    events.clear();
    Make("last", mid);
    EXPECT_EQ(Only("descendant"), (Events{"descendant:mid:last:1"}));
}

TEST_F(NodeTest, DetachTellsAncestorsThenTheSubtreeWhileStillLinkedExceptWhenShuttingDown) {
    auto n = Build("root(mid(node(leaf)))");
    Watch();
    n["node"]->Detach();
    EXPECT_EQ(events, (Events{"descendant:mid:node:0", "descendant:root:node:0",
                              "parentflags:node:mid:0", "parentflags:leaf:mid:0"}));
    EXPECT_EQ(ChildNames(n["mid"]), "|");

    n["node"]->AttachTo(n["mid"]);
    n["root"]->SetFlag(NodeEnabled, false);
    events.clear();
    EngineState = EngineShuttingDown;
    n["node"]->Detach();
    EXPECT_EQ(n["node"]->GetFlags(), NodeEnabled);
    n["node"]->Delete();
    n["root"]->Delete();
    EXPECT_TRUE(events.empty());
}

TEST_F(NodeTest, MoveAfterReordersOrReparentsOnceAndIgnoresMovesThatChangeNothingOrBreakTheTree) {
    auto n = Build("root(a(inner) b c) loose");
    n["root"]->SetIdSystem(0);
    Watch();
    n["b"]->MoveAfter(n["a"]);     // already there
    n["b"]->MoveAfter(n["b"]);     // after itself
    n["a"]->MoveAfter(n["inner"]); // into its own subtree
    n["a"]->MoveAfter(n["loose"]); // after a node outside any tree
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(n["loose"]->GetNext(), nullptr);
    n["a"]->MoveAfter(n["c"]);
    EXPECT_EQ(ChildNames(n["root"]), "bca|acb");
    n["a"]->MoveAfter(nullptr);
    EXPECT_EQ(ChildNames(n["root"]), "abc|cba");
    EXPECT_EQ(events, (Events{"reorder:a", "reorder:a"}));

    // After a sibling elsewhere, through the "prev" property: a move under its parent.
    n["c"]->SetFlag(NodeLocked, true);
    const uint32_t innerId = n["inner"]->GetId();
    n["inner"]->AttachTo(n["c"]);
    events.clear();
    n["b"]->FindProperty("prev")->WriteValue(*n["b"], &innerId);
    EXPECT_EQ(ChildNames(n["c"]), "innerb|binner");
    EXPECT_TRUE(n["b"]->HasFlag(NodeLockedAll));
    EXPECT_EQ(Only("reparent:"), Events{"reparent:b"});
    const uint32_t rootId = n["root"]->GetId();
    n["b"]->FindProperty("parent")->WriteValue(*n["b"], &rootId);
    EXPECT_EQ(n["root"]->GetFirstChild(), n["b"]);
}

TEST_F(NodeTest, AttachingMovesIdsIntoTheParentsSystemExceptBelowANodeWithItsOwn) {
    NtProbe* root = Make("root");
    root->SetIdSystem(5);
    NtProbe* node = Make("node");
    node->SetIdSystem(0);
    NtProbe* child = Make("child", node);
    NtOwnIds* own = Make<NtOwnIds>("own", node);
    NtProbe* inner = Make("inner", own);
    const uint32_t innerId = inner->GetId();
    EntityRef reference(node);
    reference.SetId(child->GetId());
    node->AttachTo(root);
    for (Node* moved : std::initializer_list<Node*>{node, child, own}) {
        EXPECT_EQ(moved->GetId() >> IdSystemShift, 5u) << moved->GetName();
        EXPECT_EQ(LookupEntity(moved->GetId()), moved);
    }
    EXPECT_EQ(inner->GetId(), innerId);
    EXPECT_EQ(reference.GetTarget(), child);
}

TEST_F(NodeTest, FindsTestTheLevelsAndTextsTheirOptionsName) {
    auto n = Build("Top(Self(Child(Grandchild) Later))");
    n["Grandchild"]->description = "deep one";

    EXPECT_EQ(n["Self"]->FindNode("grandchild", FindAllLevels), n["Grandchild"]);
    EXPECT_EQ(n["Self"]->FindNode("grandchild", 0), nullptr);
    EXPECT_EQ(n["Self"]->FindNode("self", FindSelfFirst), n["Self"]);
    EXPECT_EQ(n["Child"]->FindNode("top", FindUpward), nullptr);
    EXPECT_EQ(n["Child"]->FindNode("top", FindUpward | FindAllLevels), n["Top"]);
    EXPECT_EQ(n["Self"]->FindNode("GRANDCHILD", FindAllLevels | FindCaseSensitive), nullptr);
    // Each child before its subtree, and that before the next child.
    EXPECT_EQ(n["Self"]->FindNode("CHILD", FindAllLevels | FindContains), n["Child"]);
    EXPECT_EQ(n["Self"]->FindNode("ntprobe", FindByClassNameText), n["Child"]);
    EXPECT_EQ(n["Self"]->FindNode("DEEP", FindAllLevels | FindByDescriptionText | FindContains),
              n["Grandchild"]);

    EXPECT_EQ(n["Self"]->FindByName("grandchild"), nullptr);
    EXPECT_EQ(n["Self"]->FindChildByName("LATER"), n["Later"]);
    EXPECT_EQ(n["Grandchild"]->GetNextInTree(true), n["Later"]);
    EXPECT_EQ(n["Child"]->GetNextInTree(false), n["Later"]);
}

// Deletion -------------------------------------------------------------------------------------

TEST_F(NodeTest, DeletionSignalsParentsFirstWhileWholeAndHandlersMayDeleteAnyOfTheNodes) {
    const Events order = {"deletion:root", "deletion:a", "deletion:a1", "deletion:b"};
    const struct {
        const char* victim; // deleted by the handler of "a"
        const char* first;  // where the deletion starts
        Events expected;
    } cases[] = {
        {"", "root", order},
        {"a", "root", order},
        {"root", "root", order},
        {"root", "a", {"deletion:a", "deletion:root", "deletion:a1", "deletion:b"}},
        {"b", "root", {"deletion:root", "deletion:a", "deletion:b", "deletion:a1"}},
    };
    for (const auto& test : cases) {
        NtWatcher* watcher = Watch();
        auto n = Build("root(a(a1) b)");
        n["root"]->description = "whole";
        n["root"]->SetIdSystem(0);
        const uint32_t rootId = n["root"]->GetId();
        const uint64_t rootSerial = n["root"]->GetSerial();
        const uint64_t victim = *test.victim ? n[test.victim]->GetSerial() : 0;
        std::string seen;
        watcher->action = [victim, &seen](Node* node) {
            if (node->GetName() == "a") {
                seen = node->GetParent()->GetDescription().Text();
                if (Entity* entity = Entity::FindBySerial(victim)) {
                    entity->Delete();
                }
            }
        };
        n[test.first]->Delete();
        EXPECT_EQ(Only("deletion:"), test.expected) << test.victim << " from " << test.first;
        EXPECT_EQ(seen, "whole") << test.victim << " from " << test.first;
        EXPECT_EQ(Entity::FindBySerial(rootSerial), nullptr);
        EXPECT_EQ(LookupEntity(rootId), nullptr);
        watcher->Delete();
    }
}

// The update walk -------------------------------------------------------------------------------

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
        GameStep = 0.25f;
    }
    void TearDown() override {
        GameRunning = false;
        GamePaused = false;
        GameStep = 0.0f;
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
    n["root"]->SetFlag(NodeEnabled, false);
    EXPECT_TRUE(Walk(n["root"]).empty());
    // Below a disabled root, yet enabled itself: a walk that starts there runs.
    n["a"]->SetFlag(NodeEnabled, true);
    EXPECT_EQ(Walk(n["a"]), (Updates{"a:2", "a1:2"}));
}

// Nodes made during the walk are first updated in the next frame: a scene that loads itself
// from an update would otherwise grow without end within one frame.
TEST_F(NodeUpdate, NodesMovedDuringAnUpdateAreVisitedWhereTheyNowAreAndNewOnesFromTheNextFrame) {
    auto n = Build("root(p(a(a1) b) q)");
    Both* a = n["a"];
    a->action = [this, a, &n]() {
        a->action = nullptr;
        Make("child", a);
        Make("last", n["root"]);
        a->AttachTo(n["q"]);
    };
    // The walk goes on from the sibling that followed a, and meets a again under q.
    EXPECT_EQ(Walk(n["root"]),
              (Updates{"root:1", "p:1", "a:1", "a1:1", "b:1", "q:1", "a:1", "a1:1"}));
    EXPECT_EQ(Walk(n["root"]),
              (Updates{"root:1", "p:1", "b:1", "q:1", "a:1", "a1:1", "child:1", "last:1"}));
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

// Registration ---------------------------------------------------------------------------------

std::string Successor(std::string name) {
    for (int i = 2; i >= 0 && ++name[i] > 'z'; --i) {
        name[i] = 'a';
    }
    return name;
}

// Scripts name the constants by the short names after their class's methods (the methods are
// in the golden class dump).
TEST(SceneRegistration, ConstantsTakeTheNamesAfterTheirClasssMethodsAndTheFirstNameWins) {
    RegisterSceneClasses();
    EXPECT_EQ(RegisterSceneClasses(), 0);
    const std::pair<ClassInfo*, std::vector<int32_t>> classes[] = {
        {Node::classInfo,
         {1, 32, 64, 16, 4, 8, 2, 0, 1, 2, 256, 512, 1024, 2048, 4096, 8192, 0, 1, 2, 3}},
        {Pivot::classInfo, {1, 2, 0, 1, 2, 3, 4, 5, 6, 7, 8}},
    };
    // The first registration of a name wins; names compare exactly.
    RegisterNamedConstant("TEST_NORMAL", 0);
    RegisterNamedConstant("TEST_NORMAL", 5);
    int32_t value = -1;
    EXPECT_TRUE(FindNamedConstant("TEST_NORMAL", &value));
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(FindNamedConstant("test_normal", &value));
    for (const auto& [info, values] : classes) {
        std::string name = info->GetOwnMethods().back()->GetName();
        for (int32_t expected : values) {
            name = Successor(name);
            value = -1;
            EXPECT_TRUE(FindNamedConstant(name.c_str(), &value)) << name;
            EXPECT_EQ(value, expected) << name;
        }
    }
}

TEST(SceneRegistration, NodeScriptMethodsAnswerWithIdsAndFlagWords) {
    RegisterSceneClasses();
    auto* root = static_cast<Node*>(Node::classInfo->CreateInstance());
    auto* child = static_cast<Node*>(Node::classInfo->CreateInstance());
    root->SetIdSystem(0);
    child->SetName("kid");
    child->AttachTo(root);
    auto call = [](int index, Node* object, uint32_t first = 0, uint32_t second = 0) {
        uint32_t block[3] = {0xDEAD, first, second};
        Node::classInfo->GetOwnMethods()[static_cast<size_t>(index)]->Call(object, block);
        return block[0];
    };
    uint32_t text = 0;
    ValueTraits<const char*>::Write("KID", &text);
    EXPECT_EQ(call(2, root, text, 0), child->GetId());
    EXPECT_EQ(call(2, root, text, FindCaseSensitive), 0u);
    EXPECT_EQ(call(19, root, 1), 0u);
    EXPECT_EQ(call(20, root, NodeLocked), 0u);
    EXPECT_EQ(call(20, root, NodeLocked | NodeEnabled), 1u);
    call(0, root, 0);
    EXPECT_EQ(call(1, child), 0u);
    root->Delete();
}

} // namespace
} // namespace quarn
