#include "core/scenefile/ClassReplacement.h"
#include "core/scenefile/SceneReferences.h"
#include "core/scenefile/SceneSaver.h"
#include "tests/resources/BranchTestSupport.h"
#include "tests/support/RecordingValidityHook.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace quarn {
namespace {

using test::BranchTest;
using test::BrItem;
using test::Deliveries;
using test::DoorBranch;
using test::Object;
using test::Scene;

// Two instances of door.branch side by side and a node that refers into the second one.
const std::string TwoDoors = Scene(
    Object(1, "Node") +
    Object(2, "Branch", "parent = 1\nidsystem = 1\nbranchflags = 3\nbranch = \"door.branch\"") +
    Object(3, "Branch",
           "parent = 1\nprev = 2\nidsystem = 1\nbranchflags = 3\nbranch = \"door.branch\"") +
    Object(4, "BrItem", "parent = 1\nprev = 3\ntarget = 3.5"));

TEST_F(BranchTest, InstancesKeepTheFilesLocalIdsInIdSystemsOfTheirOwn) {
    Node* root = LoadText(TwoDoors);
    ASSERT_NE(root, nullptr);
    Branch* first = BranchAt(2);
    Branch* second = BranchAt(3);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->GetIdSystemNumber(), 1);
    EXPECT_NE(second->GetIdSystemNumber(), 1) << "a number in use gives a fresh one";
    for (Branch* branch : {first, second}) {
        EXPECT_EQ(branch->GetChildCount(), 3);
        EXPECT_TRUE(branch->HasFlag(NodeLocked));
        ASSERT_NE(Inner(branch, 5), nullptr);
        EXPECT_EQ(Inner(branch, 5)->label, "five");
        EXPECT_TRUE(Inner(branch, 5)->HasFlag(NodeLockedAll));
    }
    EXPECT_EQ(BrItem::calls, std::vector<std::string>{}) << "inside a load nothing is announced";
    EXPECT_EQ(LookupEntity(static_cast<BrItem*>(LookupEntity(4))->target.value), Inner(second, 5));

    // Saved, an instance is written alone and a reference into it as a path through it.
    ASSERT_TRUE(SaveSceneFile("out.scene", *root, 0, SceneKeepUnmappedIds | SceneWriteRoot));
    const std::string saved = folder_.ReadFile("out.scene");
    EXPECT_NE(saved.find("\ttarget = 3.5\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("five"), std::string::npos) << saved;
    EXPECT_NE(saved.find("num_nodes = 4\n"), std::string::npos);

    // Unloaded and loaded again, the content has the same ids.
    const uint32_t inner = Inner(second, 12)->GetId();
    EXPECT_EQ(second->UnloadContent(), 3);
    EXPECT_EQ(second->GetChildCount(), 0);
    EXPECT_TRUE(second->LoadContent(Branch::Push));
    ASSERT_NE(Inner(second, 12), nullptr);
    EXPECT_EQ(Inner(second, 12)->GetId(), inner);
}

TEST_F(BranchTest, ContentComesFromTheSceneWhenItHoldsItAndLoadsAtOnceWhenInserted) {
    Node* root = LoadText(TwoDoors);
    const uint32_t raw = SceneKeepUnmappedIds | SceneRawIds;
    ASSERT_TRUE(SaveSceneFile("all.scene", *root, 0, raw | SceneWriteRoot | SceneIncludeBranches));
    root->Delete();
    TheIdMap().Clear();
    Write("door.branch", "");
    // Raw ids: a path into an instance would name it before the instance has its id system.
    Load("all.scene", raw);
    for (uint32_t id : {2u, 3u}) {
        ASSERT_NE(BranchAt(id), nullptr);
        EXPECT_EQ(BranchAt(id)->GetChildCount(), 3) << id;
        ASSERT_NE(Inner(BranchAt(id), 5), nullptr) << id;
        EXPECT_EQ(Inner(BranchAt(id), 5)->label, "five");
    }

    Write("door.branch", DoorBranch);
    EngineStateScope inserting(EngineLoadBranchesNow);
    Branch* inserted = Instance("door.branch", 0);
    EXPECT_EQ(inserted->GetBranchFlags(), BranchLoaded | BranchClosed);
    EXPECT_EQ(inserted->GetChildCount(), 3);

    // Without an id system of its own the content moves into the one around the instance.
    inserted->SetBranchFlags(BranchLoaded | BranchNoIdSystem);
    EXPECT_EQ(inserted->GetIdSystem(), 0u);
    EXPECT_EQ(inserted->GetChildCount(), 3);
    EXPECT_EQ(inserted->GetFirstChild()->GetId() >> IdSystemShift, 0u);
}

TEST_F(BranchTest, IdSystemNumbersAreFreshWhenTakenAndStayWhileTheBranchHoldsNodes) {
    Branch* loaded = Instance();
    Branch* empty = Instance("");
    test::RecordingValidityHook validity;
    const int32_t before = loaded->GetIdSystemNumber();
    loaded->SetIdSystemNumber(before + 40);
    EXPECT_EQ(loaded->GetIdSystemNumber(), before);
    EXPECT_EQ(validity.Messages().size(), 1u);

    const struct {
        int32_t asked;
        bool fresh;
    } cases[] = {{before, true}, {0, true}, {-3, true}, {IdMap::MaxIdSystems, true}, {99, false}};
    for (const auto& c : cases) {
        empty->SetIdSystemNumber(c.asked);
        const int32_t got = empty->GetIdSystemNumber();
        EXPECT_EQ(got == c.asked, !c.fresh) << c.asked;
        EXPECT_GT(got, 0) << c.asked;
        EXPECT_NE(got, before) << c.asked;
        EXPECT_EQ(TheIdMap().GetIdSystem(static_cast<uint32_t>(got))->GetRoot(), empty);
    }
    EXPECT_EQ(validity.Messages().size(), 1u);

    // A node turned into a branch takes an id system of its own, and its children move in.
    Node* group = static_cast<Node*>(Node::classInfo->CreateInstance());
    group->SetIdSystem(0);
    Node* child = static_cast<Node*>(BrItem::RegisterClass()->CreateInstance());
    child->AttachTo(group);
    auto* converted = dynamic_cast<Branch*>(ReplaceNodeClass(*group, *Branch::classInfo, false));
    ASSERT_NE(converted, nullptr);
    made_.push_back(converted->GetSerial());
    EXPECT_GT(converted->GetIdSystemNumber(), 0);
    EXPECT_EQ(child->GetId() >> IdSystemShift, converted->GetIdSystem());
}

TEST_F(BranchTest, GlobalInstancesShareTheFilesGuidWithTheReferencesThroughIt) {
    const std::string guid = "0123456789ABCDEF0123456789ABCDEF";
    const std::string door = DoorBranch;
    Write("door.branch",
          std::string(door).insert(door.find("idsystem"), "globalid = " + guid + "\n"));
    Node* root = LoadText(Scene(
        Object(1, "Node") + Object(4, "BrItem", "parent = 1\ntarget = 0x" + guid + ".5") +
        Object(2, "Branch", "parent = 1\nprev = 4\nbranchflags = 5\nbranch = \"door.branch\"")));
    ASSERT_NE(root, nullptr);
    Branch* global = BranchAt(2);
    EXPECT_EQ(TheIdMap().FindSceneByGuid(Guid::FromHex(guid.c_str())),
              static_cast<int32_t>(global->GetIdSystemNumber()));
    EXPECT_EQ(LookupEntity(static_cast<BrItem*>(LookupEntity(4))->target.value), Inner(global, 5));
    EXPECT_EQ(GetPendingReferenceCount(), 0);
    // Unloading resets the id system; the GUID comes back with it.
    global->UnloadContent();
    EXPECT_EQ(TheIdMap().FindSceneByGuid(Guid::FromHex(guid.c_str())),
              static_cast<int32_t>(global->GetIdSystemNumber()));

    Branch* second = Instance("door.branch", BranchLoaded | BranchGlobal);
    EXPECT_FALSE(second->GetBranchFlags() & BranchGlobal);
    EXPECT_TRUE(log_.Contains("Branch 'door.branch' already has an instance in the scene. The "
                              "global-flag on this instance has therefore been cleared."));
}

TEST_F(BranchTest, ClearingGlobalAsksWhileOutsideNodesReferToTheContent) {
    Branch* branch = Instance("door.branch", BranchLoaded | BranchGlobal);
    BrItem* outside = static_cast<BrItem*>(BrItem::RegisterClass()->CreateInstance());
    made_.push_back(outside->GetSerial());
    outside->SetIdSystem(0);
    outside->target.value = Inner(branch, 5)->GetId();
    for (int answer : {1, 0}) {
        dialogs_.Answer(answer);
        branch->SetBranchFlags(BranchLoaded);
        EXPECT_EQ((branch->GetBranchFlags() & BranchGlobal) != 0, answer == 1);
    }
    ASSERT_EQ(dialogs_.Dialogs().size(), 2u);
    EXPECT_EQ(dialogs_.Dialogs()[0].title, "Warning");
    EXPECT_EQ(dialogs_.Dialogs()[0].buttons, "Clear#Don't clear");
}

TEST_F(BranchTest, RelaysForwardEventsToTheirInnerPortAndOutputsPassThemOn) {
    Branch* branch = Instance();
    BrItem* twelve = Inner(branch, 12);
    ASSERT_NE(twelve, nullptr);
    EXPECT_EQ(branch->GetInputCount(), 1);
    EXPECT_STREQ(branch->GetInputName(0), "input212");
    EXPECT_EQ(branch->GetInputRedirect(0), twelve->GetId() | 2u << PortShift);

    // Exposing node 5's signal reference makes output 0, reached through input port 1.
    branch->GetBranchFile()->ExposeProperty(Inner(branch, 5),
                                            Inner(branch, 5)->FindProperty("target"), true);
    ASSERT_EQ(branch->GetOutputCount(), 1);
    EXPECT_STREQ(branch->GetOutputName(0), "target_id5");
    branch->SetPortValue(0, test::RefTo(twelve, 1));
    EXPECT_EQ(Inner(branch, 5)->target.value, twelve->GetId() | 1u << PortShift);
    EXPECT_EQ(branch->GetPortValue(0).GetTarget(), twelve);
    // The value follows its target to another id, port and all.
    twelve->ChangeId(twelve->GetId() + 30);
    EXPECT_EQ(branch->GetPortValue(0).GetId(), twelve->GetId() | 1u << PortShift);

    const struct {
        uint32_t port;
        uint32_t reached; // the target id with its port; 0 for nothing
    } cases[] = {{0, twelve->GetId() | 2u << PortShift},
                 {1, twelve->GetId() | 1u << PortShift},
                 {2, 0},
                 {15, 0}};
    for (const auto& c : cases) {
        Deliveries().clear();
        Entity::SendEvent(test::RefTo(nullptr), test::RefTo(branch, c.port), nullptr, 1.5f);
        if (c.reached == 0) {
            EXPECT_TRUE(Deliveries().empty()) << c.port;
        } else {
            ASSERT_EQ(Deliveries().size(), 1u) << c.port;
            EXPECT_EQ(Deliveries()[0].target, c.reached) << c.port;
            EXPECT_EQ(Deliveries()[0].value, 1.5f);
        }
    }
}

TEST_F(BranchTest, RelayNumbersOutsideThePortsAreIgnoredAndReported) {
    Write("bad.branch", "version = 44\nidsystem = 0\nnum_nodes = 1\ncustomdeclarations {\n"
                        "Entity relay_4000000000 <\"signal,default=12\">\n"
                        "Entity relay_ <\"signal,default=12\">\n"
                        "Entity relay_16 <\"signal,default=12\">\n"
                        "Entity relay_007 <\"signal,default=12\">\n"
                        "Entity relay_1x <\"signal,default=12\">\n"
                        "Entity relay_3 <\"signal,default=12-15\">\n"
                        "int relay_4 <\"signal,default=12\">\n}\n" +
                            Object(12, "BrItem") + Object(13, "BrItem"));
    Branch* branch = Instance("bad.branch");
    BrItem* twelve = Inner(branch, 12);
    EXPECT_EQ(branch->GetInputCount(), 4);
    EXPECT_EQ(branch->GetInputRedirect(3), twelve->GetId() | 15u << PortShift);
    for (int port = 0; port < 3; ++port) {
        EXPECT_STREQ(branch->GetInputName(port), "null");
    }
    for (const char* name :
         {"relay_4000000000 ", "relay_ ", "relay_16 ", "relay_007 ", "relay_1x "}) {
        EXPECT_TRUE(log_.Contains(std::string("'bad.branch': ") + name)) << name;
    }

    // Sixteen ports in use leave no room for another relay.
    for (int port = 0; port < Branch::MaxRelays - 1; ++port) {
        branch->AddRelay(twelve, port);
    }
    EXPECT_TRUE(branch->HasRelay(twelve, 0));
    EXPECT_EQ(branch->GetInputCount(), Branch::MaxRelays);
    EXPECT_EQ(branch->GetInputRedirect(3), twelve->GetId() | 15u << PortShift);
    branch->AddRelay(Inner(branch, 13), 0);
    EXPECT_FALSE(branch->HasRelay(Inner(branch, 13), 0));
    EXPECT_TRUE(log_.Contains("relays to all of its 16 input ports"));
    branch->RemoveRelay(Inner(branch, 12), 0);
    EXPECT_FALSE(branch->HasRelay(Inner(branch, 12), 0));
    EXPECT_EQ(branch->GetInputRedirect(0), 0u);
}

TEST_F(BranchTest, ExposedValuesOverrideTheInnerNodeAndFollowTheClassAsItChanges) {
    Branch* branch = Instance();
    BrItem* seven = Inner(branch, 7);
    EXPECT_EQ(Text(*branch, "speed_id7"), "5.00") << "a value never set reads the node's";
    Set(*branch, "speed_id7", "12.5");
    EXPECT_EQ(seven->speed, 12.5f);

    // A disabled instance misses the change signal and catches up before its next access.
    branch->SetFlag(NodeEnabled, false);
    BranchFile* file = branch->GetBranchFile();
    file->ExposeProperty(Inner(branch, 5), Inner(branch, 5)->FindProperty("label"), true);
    file->RemoveClassProperty("relay_0");
    EXPECT_EQ(Text(*branch, "speed_id7"), "12.50");
    EXPECT_EQ(Text(*branch, "label_id5"), "five");
    Set(*branch, "label_id5", "renamed");
    EXPECT_EQ(Inner(branch, 5)->label, "renamed");
    uint32_t word = 0;
    branch->GetPropertyValue(*branch->FindAnyProperty("label_id5"), &word);
    EXPECT_STREQ(LookupText(word), "renamed");

    // Reloaded, the instance's values go into the fresh nodes again.
    branch->Reload();
    EXPECT_EQ(Inner(branch, 7)->speed, 12.5f);
    EXPECT_EQ(Inner(branch, 5)->label, "renamed");

    // Exposing twice gives one property; withdrawing the last removes the class.
    const Property* twice =
        file->ExposeProperty(Inner(branch, 7), Inner(branch, 7)->FindProperty("speed"), true);
    EXPECT_EQ(twice, branch->FindAnyProperty("speed_id7"));
    EXPECT_EQ(branch->GetCustomClass()->GetOwnProperties().size(), 2u);
    EXPECT_TRUE(branch->GetCustomClass()->IsDerivedFrom(Branch::classInfo));
    file->ExposeProperty(Inner(branch, 7), Inner(branch, 7)->FindProperty("speed"), false);
    file->ExposeProperty(Inner(branch, 5), Inner(branch, 5)->FindProperty("label"), false);
    EXPECT_EQ(file->GetCustomClass(), nullptr);
    EXPECT_EQ(branch->GetCustomClass(), nullptr);
    EXPECT_EQ(branch->FindAnyProperty("speed_id7"), nullptr);
}

TEST_F(BranchTest, ReloadSetsOutsideReferencesAgainAndReportsTheLostOnesOnce) {
    LoadText(TwoDoors);
    Branch* second = BranchAt(3);
    auto* outside = static_cast<BrItem*>(LookupEntity(4));
    const uint32_t target = outside->target.value;
    second->Reload();
    EXPECT_EQ(outside->target.value, target);
    EXPECT_TRUE(dialogs_.Dialogs().empty());

    Write("door.branch", std::string(DoorBranch).substr(0, std::string(DoorBranch).find("obj5")));
    second->Reload();
    EXPECT_EQ(Inner(second, 5), nullptr);
    ASSERT_EQ(dialogs_.Dialogs().size(), 1u);
    EXPECT_EQ(dialogs_.Dialogs()[0].title, "Warning");
    EXPECT_EQ(dialogs_.Dialogs()[0].text, "Some references were lost during branch reload.");
}

TEST_F(BranchTest, ClosedInstancesReloadWhenTheirFileChanges) {
    Branch* branch = Instance("door.branch", BranchLoaded | BranchClosed);
    EXPECT_FALSE(branch->ReloadIfChanged());
    Write("door.branch",
          std::string(DoorBranch).replace(std::string(DoorBranch).find("five"), 4, "new"));
    const timespec times[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, folder_.Join("door.branch").c_str(), times, 0), 0);
    ReloadAllChangedResources();
    EXPECT_EQ(Inner(branch, 5)->label, "new");
    ASSERT_FALSE(log_.Lines().empty());
    EXPECT_EQ(log_.Lines().back().channel, "resource");
    EXPECT_EQ(log_.Lines().back().text, "Branch 'door.branch' reloaded");
}

TEST_F(BranchTest, ContentIsAnnouncedOnlyWhenNoOtherLoadRuns) {
    GameRunning = true;
    Branch* branch = Instance();
    EXPECT_EQ(BrItem::calls,
              (std::vector<std::string>{"loaded 12", "loaded 5", "loaded 7", "quarn_start 12",
                                        "quarn_start 5", "quarn_start 7", "start 12", "start 5",
                                        "start 7"}));
    BrItem::calls.clear();
    branch->UnloadContent();
    GameRunning = false;
    EXPECT_TRUE(branch->LoadContent(Branch::Pull));
    EXPECT_EQ(BrItem::calls.size(), 3u);
    EXPECT_FALSE(branch->LoadContent(Branch::Push)) << "it has children already";
}

TEST_F(BranchTest, FilesHoldingThemselvesLoadOnce) {
    const std::string self = Object(2, "Branch", "branchflags = 1\nbranch = \"a.branch\"");
    Write("a.branch", Scene(Object(1, "BrItem") + self));
    Write("b.branch", Scene(Object(1, "BrItem") +
                            Object(2, "Branch", "branchflags = 1\nbranch = \"c.branch\"")));
    Write("c.branch", Scene(Object(1, "BrItem") +
                            Object(2, "Branch", "branchflags = 1\nbranch = \"b.branch\"")));
    auto inside = [](Node* node) { return dynamic_cast<Branch*>(node->GetFirstChild()); };
    for (const char* path : {"a.branch", "b.branch"}) {
        log_.Clear();
        Branch* outer = Instance(path);
        Branch* middle = inside(outer);
        ASSERT_NE(middle, nullptr) << path;
        Branch* inner = inside(middle);
        Branch* last = inner ? inner : middle;
        EXPECT_EQ(last->GetChildCount(), 0) << path;
        EXPECT_FALSE(last->GetBranchFlags() & BranchLoaded) << path;
        EXPECT_TRUE(log_.Contains("holds an instance of itself")) << path;
    }
}

TEST_F(BranchTest, DamagedBranchFilesLoadWhatTheyCanOrNothing) {
    const std::string door = DoorBranch;
    const struct {
        const char* name;
        std::string text;
        int children;
    } cases[] = {
        {"cut header", door.substr(0, 60), 0},
        {"cut declarations", door.substr(0, door.find("float")), 0},
        // The last block has no class line: its object takes the class before it.
        {"cut block", door.substr(0, door.find("obj12") + 8), 3},
        // The objects start after the first '}', which ends node 7's block.
        {"no closing brace", door.substr(0, door.find("}\nobj7")) + door.substr(door.find("obj7")),
         2},
        {"garbage", std::string("\x00\xff{{obj", 8), 0},
        {"compact, too short for its id", std::string("\x2c\x00\x00\x00\x04\x01\x00\x01", 8), 0},
        {"compact, broken table", std::string("\x2c\x00\x00\x00\x00\x05\x00\xff\x07", 9), 0},
        {"declaration of no kind", std::string(DoorBranch).replace(door.find("float"), 5, "int3"),
         3},
    };
    for (const auto& c : cases) {
        const bool compact = std::string(c.name).rfind("compact", 0) == 0;
        std::remove(folder_.Join("bad.branch").c_str());
        Write(compact ? "bad.scn" : "bad.branch", c.text);
        Branch* branch = Instance("bad.branch");
        EXPECT_EQ(branch->GetChildCount(), c.children) << c.name;
        EXPECT_TRUE(branch->GetBranchFlags() & BranchLoaded) << c.name;
        branch->Delete();
    }
}

} // namespace
} // namespace quarn
