#include "core/scene/Node.h"

#include "core/scene/SceneClasses.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/Property.h"
#include "core/object/Signals.h"
#include "core/scene/EngineState.h"
#include "tests/support/RecordingValidityHook.h"
#include "tests/support/TestClass.h"
#include "tests/support/TestTree.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::TestClass;
using Events = std::vector<std::string>;

// What happened, in order: signals as "deletion:a", tree notices as "descendant:root:a:0".
Events events;

void Log(const std::string& text, bool attached) {
    events.push_back(text + (attached ? ":1" : ":0"));
}

// Logs its tree notices; its description is a derived member, gone from a half-destroyed node.
class NtProbe : public TestClass<NtProbe, Node> {
public:
    static constexpr const char* Name = "NtProbe";
    void OnDescendantChanged(Node* node, bool attached) override {
        Log("descendant:" + GetName() + ":" + node->GetName(), attached);
        Node::OnDescendantChanged(node, attached);
    }
    void ParentFlagsChanged(Node* parent, bool attached) override {
        Log("parentflags:" + GetName() + ":" + parent->GetName(), attached);
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

// Hears the tree signals from outside the tree and may act on each.
class NtWatcher : public TestClass<NtWatcher, Node> {
public:
    static constexpr const char* Name = "NtWatcher";
    static void Declare(ClassInfo& classInfo) {
        classInfo.AddMethod("nodedeletion", "()", BindSignalHandler<&NtWatcher::OnDeletion>(), 0);
        classInfo.AddMethod("nodereparent", "()", BindSignalHandler<&NtWatcher::OnReparent>(), 0);
        classInfo.AddMethod("nodereorder", "()", BindSignalHandler<&NtWatcher::OnReorder>(), 0);
    }
    void OnDeletion(void* argument) { Record("deletion:", argument); }
    void OnReparent(void* argument) { Record("reparent:", argument); }
    void OnReorder(void* argument) { Record("reorder:", argument); }
    std::function<void(Node*)> action;

private:
    void Record(const char* what, void* argument) {
        auto* node = dynamic_cast<Node*>(static_cast<Entity*>(argument));
        events.push_back(what + node->GetName());
        std::function<void(Node*)> run = action; // may delete this watcher
        if (run) {
            run(node);
        }
    }
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

    NtWatcher* Watch() {
        NtWatcher* watcher = Make<NtWatcher>("watcher");
        for (const char* name : {"nodedeletion", "nodereparent", "nodereorder"}) {
            AddSignalListener(name, watcher);
        }
        events.clear();
        return watcher;
    }

    // The events that start with `prefix`.
    static Events Only(const char* prefix) {
        Events kept;
        std::copy_if(events.begin(), events.end(), std::back_inserter(kept),
                     [prefix](const std::string& event) { return event.rfind(prefix, 0) == 0; });
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

private:
    test::TestTree tree_;
};

// Flags ----------------------------------------------------------------------------------------

TEST_F(NodeTest, EnabledAndLockedStatesReachEveryDescendant) {
    NtProbe* root = Make("root");
    NtProbe* a = Make("a", root);
    NtProbe* b = Make("b", a);
    a->SetFlag(NodeEnabled, false);
    EXPECT_FALSE(b->HasFlag(NodeEnabledAll));
    EXPECT_TRUE(a->HasFlag(NodeEnabledAll));
    // Enabled again, but below a disabled root: still not fully enabled.
    root->SetFlag(NodeEnabled, false);
    a->SetFlag(NodeEnabled, true);
    EXPECT_FALSE(b->HasFlag(NodeEnabledAll));
    root->SetFlag(NodeEnabled, true);
    EXPECT_TRUE(b->IsFullyEnabled());

    root->SetFlag(NodeLocked, true);
    EXPECT_TRUE(b->HasFlag(NodeLockedAll));
    root->SetFlag(NodeEnabled, false);
    a->Detach();
    EXPECT_EQ(b->GetFlags(), NodeEnabled | NodeEnabledAll);
}

TEST_F(NodeTest, AttachingUnderADisabledLockedParentReachesTheWholeAttachedSubtree) {
    const std::function<void(Node*, Node*)> attaches[] = {
        [](Node* node, Node* parent) { node->AttachTo(parent); },
        [](Node* node, Node* parent) { node->AttachAsLast(parent); },
        [](Node* node, Node* parent) { node->AttachAfter(parent, parent->GetFirstChild()); },
    };
    NtProbe* parent = Make("parent");
    Make("first", parent);
    parent->SetFlags(NodeLocked | NodeEnabledAll, 0xFFFFFFFFu);
    for (const auto& attach : attaches) {
        NtProbe* x = Make("x");
        NtProbe* y = Make("y", x);
        attach(x, parent);
        EXPECT_EQ(x->GetFlags(), NodeEnabled | NodeLockedAll);
        EXPECT_EQ(y->GetFlags(), NodeEnabled | NodeLockedAll);
        x->Delete();
    }
}

TEST_F(NodeTest, TheFlagsPropertyHidesInheritedSelectionAndKindBitsAndLeavesThemAlone) {
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
}

TEST_F(NodeTest, FlagListenersHearChildrenFirstAndValuesThatDifferOnlyOutsideTheMask) {
    NtWatcher* owner = Make<NtWatcher>("owner");
    Property* flags = Node::classInfo->FindProperty("flags");
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

TEST_F(NodeTest, AttachPlacesFirstLastOrAfterASiblingAndMovesAnAttachedNodeWhole) {
    NtProbe* root = Make("root");
    NtProbe* other = Make("other");
    NtProbe* b = Make("b", other);
    Make("a")->AttachTo(root);
    Make("d")->AttachAsLast(root);
    b->AttachAfter(root, root->GetFirstChild());
    Make("c")->AttachAfter(root, b);
    EXPECT_EQ(ChildNames(root), "abcd|dcba");
    EXPECT_EQ(ChildNames(other), "|");
    EXPECT_EQ(root->GetChild(3)->GetName(), "d");
    EXPECT_EQ(root->GetChild(4), nullptr);
}

TEST_F(NodeTest, AttachingBelowItselfIsRefusedAndReportedByEveryPath) {
    NtProbe* root = Make("root");
    NtProbe* node = Make("node", root);
    NtProbe* grandchild = Make("grandchild", Make("child", node));
    const uint32_t grandchildId = grandchild->GetId();
    test::RecordingValidityHook hook;
    for (Node* under : {static_cast<Node*>(grandchild), static_cast<Node*>(node)}) {
        node->AttachTo(under);
        node->AttachAsLast(under);
        node->AttachAfter(under, nullptr);
        node->SetParent(under);
    }
    node->FindProperty("parent")->WriteValue(*node, &grandchildId);
    EXPECT_EQ(hook.Messages().size(), 9u);
    EXPECT_EQ(ChildNames(root), "node|node");
    EXPECT_EQ(grandchild->GetFirstChild(), nullptr);
}

TEST_F(NodeTest, DetachTellsAncestorsThenTheSubtreeWhileStillLinked) {
    NtProbe* mid = Make("mid", Make("root"));
    NtProbe* node = Make("node", mid);
    Make("leaf", node);
    Watch();
    node->Detach();
    EXPECT_EQ(events, (Events{"descendant:mid:node:0", "descendant:root:node:0",
                              "parentflags:node:mid:0", "parentflags:leaf:mid:0"}));
    EXPECT_EQ(ChildNames(mid), "|");
}

TEST_F(NodeTest, WhileShuttingDownDetachAndDeleteStaySilent) {
    NtProbe* root = Make("root");
    NtProbe* node = Make("node", root);
    Make("leaf", node);
    root->SetFlag(NodeEnabled, false);
    Watch();
    EngineState = EngineShuttingDown;
    node->Detach();
    EXPECT_EQ(node->GetFlags(), NodeEnabled);
    node->Delete();
    root->Delete();
    EXPECT_TRUE(events.empty());
}

TEST_F(NodeTest, MoveAfterReordersOnceAndIgnoresMovesThatChangeNothingOrBreakTheTree) {
    NtProbe* root = Make("root");
    NtProbe* a = Make("a", root);
    NtProbe* b = Make("b", root);
    NtProbe* c = Make("c", root);
    NtProbe* inner = Make("inner", a);
    NtProbe* loose = Make("loose");
    Watch();
    b->MoveAfter(a);     // already there
    b->MoveAfter(b);     // after itself
    a->MoveAfter(inner); // into its own subtree
    a->MoveAfter(loose); // after a node outside any tree
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(loose->GetNext(), nullptr);
    a->MoveAfter(c);
    EXPECT_EQ(ChildNames(root), "bca|acb");
    a->MoveAfter(nullptr);
    EXPECT_EQ(ChildNames(root), "abc|cba");
    EXPECT_EQ(events, (Events{"reorder:a", "reorder:a"}));
}

TEST_F(NodeTest, MoveAfterASiblingElsewhereReparentsAndTheIdPropertiesMoveLikeIt) {
    NtProbe* root = Make("root");
    root->SetIdSystem(0);
    NtProbe* locked = Make("locked", root);
    NtProbe* target = Make("target", locked);
    NtProbe* node = Make("node", root);
    locked->SetFlag(NodeLocked, true);
    Watch();
    const uint32_t targetId = target->GetId();
    node->FindProperty("prev")->WriteValue(*node, &targetId);
    EXPECT_EQ(ChildNames(locked), "targetnode|nodetarget");
    EXPECT_TRUE(node->HasFlag(NodeLockedAll));
    EXPECT_EQ(Only("reparent:"), Events{"reparent:node"});

    const uint32_t rootId = root->GetId();
    Property* parent = node->FindProperty("parent");
    parent->WriteValue(*node, &rootId);
    uint32_t value = 0;
    parent->ReadValue(*node, &value);
    EXPECT_EQ(value, rootId);
    EXPECT_EQ(root->GetFirstChild(), node);
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

TEST_F(NodeTest, GetNextInTreeLeavesASubtreeForTheNextOne) {
    NtProbe* root = Make("root");
    NtProbe* a = Make("a", root);
    NtProbe* leaf = Make("leaf", Make("a1", a));
    NtProbe* b = Make("b", root);
    EXPECT_EQ(leaf->GetNextInTree(true), b);
    EXPECT_EQ(a->GetNextInTree(false), b);
    EXPECT_EQ(b->GetNextInTree(true), nullptr);
}

TEST_F(NodeTest, FindNodeTestsTheLevelsAndTextsItsOptionsName) {
    NtProbe* top = Make("Top");
    NtProbe* self = Make("Self", top);
    NtProbe* child = Make("Child", self);
    NtProbe* grandchild = Make("Grandchild", child);
    grandchild->description = "deep one";
    NtProbe* later = Make("Later", self);

    EXPECT_EQ(self->FindNode("grandchild", FindAllLevels), grandchild);
    EXPECT_EQ(self->FindNode("grandchild", 0), nullptr);
    EXPECT_EQ(self->FindNode("self", 0), nullptr);
    EXPECT_EQ(self->FindNode("self", FindSelfFirst), self);
    EXPECT_EQ(self->FindNode("later", FindSelfFirst), later);
    EXPECT_EQ(self->FindNode("top", FindUpward), top);
    EXPECT_EQ(child->FindNode("top", FindUpward), nullptr);
    EXPECT_EQ(child->FindNode("top", FindUpward | FindAllLevels), top);
    EXPECT_EQ(self->FindNode("GRANDCHILD", FindAllLevels | FindCaseSensitive), nullptr);
    // Each child before its subtree, and that before the next child.
    EXPECT_EQ(self->FindNode("CHILD", FindAllLevels | FindContains), child);
    EXPECT_EQ(self->FindNode("ntprobe", FindByClassNameText), child);
    EXPECT_EQ(self->FindNode("DEEP", FindAllLevels | FindByDescriptionText | FindContains),
              grandchild);

    EXPECT_EQ(self->FindByName("grandchild"), nullptr);
    EXPECT_EQ(self->FindByName("Grandchild"), grandchild);
    EXPECT_EQ(self->FindChildByName("LATER"), later);
    EXPECT_EQ(self->FindChildByName("Grandchild"), nullptr);
}

// Deletion -------------------------------------------------------------------------------------

TEST_F(NodeTest, DeletionSignalsTheParentFirstWhichSeesItsChildrenGoWhileItIsWhole) {
    NtWatcher* watcher = Watch();
    NtProbe* root = Make("root");
    root->description = "whole";
    root->SetIdSystem(0);
    Make("a1", Make("a", root));
    Make("b", root);
    const uint32_t rootId = root->GetId();
    std::string seen;
    watcher->action = [&seen](Node* node) {
        if (node->GetName() == "a") {
            seen = node->GetParent()->GetDescription().Text();
        }
    };
    root->Delete();
    EXPECT_EQ(Only("deletion:"),
              (Events{"deletion:root", "deletion:a", "deletion:a1", "deletion:b"}));
    EXPECT_EQ(seen, "whole");
    EXPECT_EQ(LookupEntity(rootId), nullptr);
}

TEST_F(NodeTest, ADeletionHandlerMayDeleteTheNodeItsParentOrItsNextSibling) {
    const struct {
        const char* victim;
        const char* first; // where the deletion starts
        Events expected;
    } cases[] = {
        {"a", "root", {"deletion:root", "deletion:a", "deletion:a1", "deletion:b"}},
        {"root", "root", {"deletion:root", "deletion:a", "deletion:a1", "deletion:b"}},
        {"root", "a", {"deletion:a", "deletion:root", "deletion:a1", "deletion:b"}},
        {"b", "root", {"deletion:root", "deletion:a", "deletion:b", "deletion:a1"}},
    };
    for (const auto& test : cases) {
        NtWatcher* watcher = Watch();
        NtProbe* root = Make("root");
        NtProbe* a = Make("a", root);
        Make("a1", a);
        NtProbe* b = Make("b", root);
        const uint64_t rootSerial = root->GetSerial();
        auto pick = [&](const std::string& name) -> Node* {
            return name == "a" ? a : name == "b" ? b : root;
        };
        const uint64_t victim = pick(test.victim)->GetSerial();
        watcher->action = [victim](Node* node) {
            Entity* entity = Entity::FindBySerial(victim);
            if (node->GetName() == "a" && entity) {
                entity->Delete();
            }
        };
        pick(test.first)->Delete();
        EXPECT_EQ(Only("deletion:"), test.expected) << test.victim << " from " << test.first;
        EXPECT_EQ(Entity::FindBySerial(rootSerial), nullptr);
        watcher->Delete();
    }
}

// Registration ---------------------------------------------------------------------------------

std::string Successor(std::string name) {
    for (int i = 2; i >= 0 && ++name[i] > 'z'; --i) {
        name[i] = 'a';
    }
    return name;
}

TEST(NodeRegistration, MethodsAndThenConstantsTakeTheNamesAfterEntitys) {
    RegisterSceneClasses();
    ASSERT_EQ(Node::classInfo->GetOwnMethods().size(), 21u);
    std::string name = Entity::classInfo->GetOwnMethods().back()->GetName();
    for (const auto& method : Node::classInfo->GetOwnMethods()) {
        name = Successor(name);
        EXPECT_EQ(method->GetName(), name);
    }
    for (int32_t expected :
         {1, 32, 64, 16, 4, 8, 2, 0, 1, 2, 256, 512, 1024, 2048, 4096, 8192, 0, 1, 2, 3}) {
        name = Successor(name);
        int32_t value = -1;
        EXPECT_TRUE(FindNamedConstant(name.c_str(), &value)) << name;
        EXPECT_EQ(value, expected) << name;
    }
    EXPECT_EQ(RegisterSceneClasses(), 0);
}

TEST(NodeRegistration, ScriptMethodsAnswerWithIdsAndFlagWords) {
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
