#include "core/filesystem/FileReader.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/io/GrowingOutputStream.h"
#include "core/object/IdMap.h"
#include "core/object/Signals.h"
#include "core/scenefile/ClassReplacement.h"
#include "core/scenefile/SceneCompactFormat.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneReferences.h"
#include "core/scenefile/SceneSaver.h"
#include "tests/resources/BranchTestSupport.h"
#include "tests/support/RecordingValidityHook.h"
#include "tests/support/ScopedValue.h"

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

namespace quarn {
namespace {

using test::BranchTest;
using test::BrItem;
using test::DoorBranch;
using test::Object;
using test::Scene;

// Two instances of door.branch asking for one id system, and a node that refers into the second.
std::string TwoDoors() {
    const std::string door = "parent = 1\nidsystem = 1\nbranchflags = 3\nbranch = \"door.branch\"";
    return Scene(Object(1, "Node") + Object(2, "Branch", door) +
                 Object(3, "Branch", door + "\nprev = 2") +
                 Object(4, "BrItem", "parent = 1\nprev = 3\ntarget = 3.5"));
}

BrItem* Referrer() {
    return static_cast<BrItem*>(LookupEntity(4));
}

TEST_F(BranchTest, InstancesKeepTheFilesLocalIdsInIdSystemsOfTheirOwn) {
    Node* root = Load(TwoDoors());
    Branch* second = BranchAt(3);
    EXPECT_EQ(BranchAt(2)->GetIdSystemNumber(), 1);
    EXPECT_NE(second->GetIdSystemNumber(), 1) << "a number in use gives a fresh one";
    ASSERT_TRUE(Inner(second, 5) && Inner(second, 5)->HasFlag(NodeLockedAll)) << "closed: locked";
    EXPECT_EQ(LookupEntity(Referrer()->target.value), Inner(second, 5));
    EXPECT_TRUE(BrItem::heard.empty()) << "inside a load nothing is announced";

    ASSERT_TRUE(SaveSceneFile("out.scene", *root, 0, SceneKeepUnmappedIds | SceneWriteRoot));
    const std::string saved = folder_.ReadFile("out.scene");
    EXPECT_NE(saved.find("\ttarget = 3.5\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("five"), std::string::npos) << "an instance is saved without content";

    const uint32_t inner = Inner(second, 12)->GetId();
    EXPECT_EQ(second->UnloadContent(), 3);
    EXPECT_TRUE(second->LoadContent(Branch::Push));
    EXPECT_EQ(Inner(second, 12)->GetId(), inner);
    EXPECT_FALSE(second->LoadContent(Branch::Push)) << "it holds its content already";

    // Reloads set outside references again, and report those that found nothing once.
    const uint32_t target = Referrer()->target.value;
    second->Reload();
    EXPECT_EQ(Referrer()->target.value, target);
    Write("door.branch", DoorBranch.substr(0, DoorBranch.find("obj5")));
    second->Reload();
    ASSERT_EQ(dialogs_.Dialogs().size(), 1u);
    EXPECT_EQ(dialogs_.Dialogs()[0].text, "Some references were lost during branch reload.");

    // Closed instances reload when their file changes on disk.
    Write("door.branch", DoorBranch);
    const timespec times[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, folder_.Join("door.branch").c_str(), times, 0), 0);
    ReloadAllChangedResources();
    EXPECT_EQ(Referrer()->target.value, target);
    EXPECT_EQ(log_.Lines().back().channel + ": " + log_.Lines().back().text,
              "resource: Branch 'door.branch' reloaded");
}

TEST_F(BranchTest, ContentComesFromTheSceneWhenItHoldsItAndLoadsAtOnceWhenInserted) {
    Node* root = Load(TwoDoors());
    const uint32_t raw = SceneKeepUnmappedIds | SceneRawIds;
    ASSERT_TRUE(SaveSceneFile("all.scene", *root, 0, raw | SceneWriteRoot | SceneIncludeBranches));
    root->Delete();
    TheIdMap().Clear();
    Write("door.branch", "");
    // Raw ids: a path into an instance would name it before the instance has its id system.
    Load(folder_.ReadFile("all.scene"), raw);
    ASSERT_NE(BranchAt(3), nullptr);
    EXPECT_EQ(BranchAt(3)->GetChildCount(), 3);
    EXPECT_EQ(Inner(BranchAt(3), 5)->label, "five");

    Write("door.branch", DoorBranch);
    EngineStateScope inserting(EngineLoadBranchesNow);
    Branch* inserted = Instance("door.branch", 0);
    EXPECT_EQ(inserted->GetBranchFlags(), BranchLoaded | BranchClosed);
    // Without an id system of its own the content moves into the one around the instance.
    inserted->SetBranchFlags(BranchLoaded | BranchNoIdSystem);
    EXPECT_EQ(inserted->GetFirstChild()->GetId() >> IdSystemShift, 0u);
}

// Every reference under the root as "referrer.property>referred", nodes named by their place in
// the tree's walk ("-" for no node).
std::vector<std::string> References(Node* root) {
    std::vector<Node*> order;
    for (Node* node = root; node && (node == root || node->IsInSubtreeOf(root));
         node = node->GetNextInTree(true)) {
        order.push_back(node);
    }
    auto place = [&](uint32_t id) {
        auto found = std::find(order.begin(), order.end(), LookupEntity(id & ~PortMask));
        return found == order.end() ? std::string("-") : std::to_string(found - order.begin());
    };
    std::vector<std::string> references;
    for (size_t at = 0; at < order.size(); ++at) {
        for (int index = 0; index < order[at]->GetPropertyCount(); ++index) {
            const Property& property = *order[at]->GetProperty(index);
            if (!property.IsEntityReference()) {
                continue;
            }
            uint32_t value[4] = {};
            property.ReadValue(*order[at], value);
            references.push_back(std::to_string(at) + "." + property.GetName() + ">" +
                                 (value[0] ? place(value[0]) : "0"));
        }
    }
    return references;
}

// Saved with its branches, in either form, a scene reloads with every reference where it was:
// from outside into an instance, and from one inner node to another.
TEST_F(BranchTest, ASceneSavedWithItsBranchesReloadsWithEveryReferenceInPlace) {
    Write("door.branch", std::string(DoorBranch).insert(DoorBranch.find("\tlabel"),
                                                         "\ttarget = 12\n"));
    for (const uint32_t form : {0u, uint32_t{SceneCompact}}) {
        Node* root = Load(TwoDoors());
        const std::vector<std::string> before = References(root);
        const std::string name = form ? "all.scn" : "all.scene";
        ASSERT_TRUE(SaveSceneFile(name.c_str(), *root, 0,
                                  SceneKeepUnmappedIds | SceneWriteRoot | SceneIncludeBranches |
                                      form));
        root->Delete();
        TheIdMap().Clear();
        Node* again = nullptr;
        {
            std::vector<Node*> roots;
            again = LoadSceneFile(name.c_str(), 0, SceneKeepUnmappedIds | form, nullptr, &roots,
                                  nullptr);
            for (Node* each : roots) {
                made_.push_back(each->GetSerial());
            }
        }
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(References(again), before) << name;
        EXPECT_EQ(LookupEntity(Referrer()->target.value), Inner(BranchAt(3), 5)) << name;
        again->Delete();
        TheIdMap().Clear();
    }
}

TEST_F(BranchTest, IdSystemNumbersAreFreshWhenTakenAndStayWhileTheBranchHoldsNodes) {
    Branch* loaded = Instance();
    Branch* empty = Instance("");
    test::RecordingValidityHook validity;
    const int32_t taken = loaded->GetIdSystemNumber();
    loaded->SetIdSystemNumber(taken + 40);
    EXPECT_EQ(loaded->GetIdSystemNumber(), taken);
    EXPECT_EQ(validity.Messages().size(), 1u);
    for (int32_t asked : {taken, 0, -3, IdMap::MaxIdSystems, 99}) {
        empty->SetIdSystemNumber(asked);
        const int32_t got = empty->GetIdSystemNumber();
        EXPECT_EQ(got == asked, asked == 99) << asked;
        EXPECT_EQ(TheIdMap().GetIdSystem(static_cast<uint32_t>(got))->GetRoot(), empty);
    }

    // A node turned into a branch takes an id system of its own, and its children move in.
    Node* group = Make();
    Node* child = Make<BrItem>(group);
    auto* converted = dynamic_cast<Branch*>(ReplaceNodeClass(*group, *Branch::classInfo, false));
    made_.push_back(converted->GetSerial());
    EXPECT_GT(converted->GetIdSystemNumber(), 0);
    EXPECT_EQ(child->GetId() >> IdSystemShift, converted->GetIdSystem());
}

// The compact form of a scene whose one object, a branch, holds its name and nothing else.
std::string CompactNamedBranch() {
    auto* branch = static_cast<Branch*>(Branch::classInfo->CreateInstance());
    GrowingOutputStream out;
    SceneCompactWriter writer;
    writer.Begin(out, "named.scn", 0);
    SceneHeader header;
    header.version = SceneFormatVersion;
    writer.WriteHeader(header);
    writer.BeginObject(*branch, "1", "Branch");
    writer.WriteProperty(*branch, *branch->FindAnyProperty("name"), 0);
    writer.EndObject();
    EXPECT_TRUE(writer.Finish()) << writer.GetError();
    branch->Delete();
    return out.GetText();
}

// A file may hold fewer of an instance's values than a save writes. Without "branchflags",
// whose setter gives it one, the instance still takes an id system, so that its save, which
// names the number, loads as it was saved.
TEST_F(BranchTest, AnInstanceReadWithoutItsFlagsTakesAnIdSystemThatItsSavesKeep) {
    for (const uint32_t form : {0u, uint32_t{SceneCompact}}) {
        std::string file = form ? CompactNamedBranch() : Scene(Object(1, "Branch"));
        std::string saves[2];
        for (std::string& save : saves) {
            auto* branch = dynamic_cast<Branch*>(Load(file, SceneKeepUnmappedIds | form));
            ASSERT_NE(branch, nullptr) << form;
            EXPECT_GT(branch->GetIdSystemNumber(), 0) << form;
            ASSERT_TRUE(SaveSceneFile("out.scene", *branch, 0,
                                      SceneKeepUnmappedIds | SceneWriteRoot | form));
            save = file = folder_.ReadFile("out.scene");
            branch->Delete();
            TheIdMap().Clear();
        }
        EXPECT_EQ(saves[0], saves[1]) << form;
    }
}

TEST_F(BranchTest, GlobalInstancesShareTheFilesGuidWithTheReferencesThroughIt) {
    const std::string guid = "0123456789ABCDEF0123456789ABCDEF";
    Write("door.branch",
          std::string(DoorBranch).insert(DoorBranch.find("idsystem"), "globalid = " + guid + "\n"));
    Load(Scene(
        Object(1, "Node") + Object(4, "BrItem", "parent = 1\ntarget = 0x" + guid + ".5") +
        Object(2, "Branch", "parent = 1\nprev = 4\nbranchflags = 5\nbranch = \"door.branch\"")));
    Branch* global = BranchAt(2);
    EXPECT_EQ(LookupEntity(Referrer()->target.value), Inner(global, 5));
    global->UnloadContent();
    EXPECT_EQ(TheIdMap().FindSceneByGuid(Guid::FromHex(guid.c_str())), global->GetIdSystemNumber());

    // Clearing the flag while a node outside refers in asks first.
    global->LoadContent(Branch::Push);
    dialogs_.Answer(1);
    global->SetBranchFlags(BranchLoaded);
    EXPECT_TRUE(global->GetBranchFlags() & BranchGlobal) << "Don't clear";
    EXPECT_EQ(dialogs_.Dialogs().back().buttons, "Clear#Don't clear");

    Branch* second = Instance("door.branch", BranchLoaded | BranchGlobal);
    EXPECT_FALSE(second->GetBranchFlags() & BranchGlobal);
    EXPECT_TRUE(log_.Contains("Branch 'door.branch' already has an instance in the scene. The "
                              "global-flag on this instance has therefore been cleared."));
}

TEST_F(BranchTest, RelaysForwardEventsToTheirInnerPortAndOutputsPassThemOn) {
    Branch* branch = Instance();
    BrItem* five = Inner(branch, 5);
    BrItem* twelve = Inner(branch, 12);
    EXPECT_STREQ(branch->GetInputName(0), "input212");
    // Exposing node 5's signal reference makes output 0, reached through input port 1.
    branch->GetBranchFile()->ExposeProperty(five, five->FindProperty("target"), true);
    ASSERT_STREQ(branch->GetOutputName(0), "target_id5");
    branch->SetPortValue(0, test::RefTo(twelve, 1));

    const uint32_t id = twelve->GetId();
    const std::pair<uint32_t, uint32_t> reached[] = {
        {0, id | 2u << PortShift}, {1, id | 1u << PortShift}, {2, 0}, {15, 0}};
    for (const auto& [port, target] : reached) {
        test::Deliveries().clear();
        Entity::SendEvent(test::RefTo(nullptr), test::RefTo(branch, port), nullptr, 1.5f);
        EXPECT_EQ(test::Deliveries().empty() ? 0u : test::Deliveries()[0].target, target) << port;
    }
    // The value follows its target to another id, port and all.
    twelve->ChangeId(twelve->GetId() + 30);
    EXPECT_EQ(branch->GetPortValue(0).GetId(), twelve->GetId() | 1u << PortShift);
}

TEST_F(BranchTest, RelayNumbersOutsideThePortsAreIgnoredAndReported) {
    std::string declarations;
    for (const char* name : {"4000000000", "", "16", "007", "1x", "3"}) {
        declarations += std::string("Entity relay_") + name + " <\"signal,default=12-15\">\n";
    }
    Write("bad.branch", "version = 44\nidsystem = 0\nnum_nodes = 1\ncustomdeclarations {\n" +
                            declarations + "}\n" + Object(12, "BrItem") + Object(13, "BrItem"));
    Branch* branch = Instance("bad.branch");
    BrItem* twelve = Inner(branch, 12);
    EXPECT_EQ(branch->GetInputCount(), 4);
    EXPECT_STREQ(branch->GetInputName(0), "null");
    for (const char* name :
         {"relay_4000000000 ", "relay_ ", "relay_16 ", "relay_007 ", "relay_1x "}) {
        EXPECT_TRUE(log_.Contains(std::string("'bad.branch': ") + name)) << name;
    }
    // Sixteen ports in use leave no room for another relay.
    for (int port = 0; port < Branch::MaxRelays - 1; ++port) {
        branch->AddRelay(twelve, port);
    }
    EXPECT_EQ(branch->GetInputRedirect(3), twelve->GetId() | 15u << PortShift);
    branch->AddRelay(Inner(branch, 13), 0);
    EXPECT_EQ(branch->GetInputCount(), Branch::MaxRelays);
    EXPECT_TRUE(log_.Contains("relays to all of its 16 input ports"));
    branch->RemoveRelay(twelve, 0);
    EXPECT_EQ(branch->GetInputRedirect(0), 0u);
}

TEST_F(BranchTest, ExposedValuesOverrideTheInnerNodeAndFollowTheClassAsItChanges) {
    GameRunning = true; // no other load runs: the content is announced, started as the game runs
    Branch* branch = Instance();
    GameRunning = false;
    EXPECT_EQ(BrItem::heard, "loaded 12 loaded 5 loaded 7 start 12 start 5 start 7 ");
    BranchFile* file = branch->GetBranchFile();
    const Property* speedId7 = branch->FindAnyProperty("speed_id7");
    EXPECT_EQ(speedId7->GetAsText(*branch), "5.00") << "a value never set reads the node's";
    speedId7->SetFromText(*branch, "12.5");
    EXPECT_EQ(Inner(branch, 7)->speed, 12.5f);

    // A disabled instance misses the change signal and catches up before its next access.
    branch->SetFlag(NodeEnabled, false);
    file->ExposeProperty(Inner(branch, 5), Inner(branch, 5)->FindProperty("label"), true);
    file->RemoveClassProperty("relay_0");
    EXPECT_EQ(branch->FindAnyProperty("speed_id7")->GetAsText(*branch), "12.50");
    branch->FindAnyProperty("label_id5")->SetFromText(*branch, "renamed");
    uint32_t word = 0;
    branch->GetPropertyValue(*branch->FindAnyProperty("label_id5"), &word);
    EXPECT_STREQ(LookupText(word), "renamed");
    branch->Reload();
    EXPECT_EQ(Inner(branch, 7)->speed, 12.5f);
    EXPECT_EQ(Inner(branch, 5)->label, "renamed");

    const Property* speed = Inner(branch, 7)->FindProperty("speed");
    EXPECT_EQ(file->ExposeProperty(Inner(branch, 7), speed, true),
              branch->FindAnyProperty("speed_id7"));
    file->ExposeProperty(Inner(branch, 7), speed, false);
    file->ExposeProperty(Inner(branch, 5), Inner(branch, 5)->FindProperty("label"), false);
    EXPECT_EQ(branch->GetCustomClass(), nullptr) << "withdrawing the last removes the class";
}

TEST_F(BranchTest, FilesHoldingThemselvesLoadOnce) {
    for (const auto& [name, holds] : {std::pair{"a", "a"}, {"b", "c"}, {"c", "b"}}) {
        Write(std::string(name) + ".branch",
              Scene(Object(1, "BrItem") + Object(2, "Branch",
                                                 std::string("branchflags = 1\n") + "branch = \"" +
                                                     holds + ".branch\"")));
    }
    for (const char* path : {"a.branch", "b.branch"}) {
        Node* last = Instance(path);
        while (auto* inner = dynamic_cast<Branch*>(last->GetFirstChild())) {
            last = inner;
        }
        EXPECT_EQ(static_cast<Branch*>(last)->GetBranchFlags(), 0u) << path;
        EXPECT_EQ(last->GetChildCount(), 0) << path;
    }
    EXPECT_TRUE(log_.Contains("Branch 'b.branch' holds an instance of itself"));
}

// Each file of a chain of branch files loads inside the load of the one before, a few kilobytes
// of stack apiece: thousands would reach the stack's end. The chain loads as deep as loads nest,
// and the file past that is told, in the log and among the short loads, and not read.
TEST_F(BranchTest, AChainOfBranchFilesLoadsAsDeepAsLoadsNestAndNoDeeper) {
    constexpr int Files = 5000;
    auto naming = [](int file) {
        return "parent = 1\nbranchflags = 3\nbranch = \"b" + std::to_string(file) + ".branch\"";
    };
    // Thousands of files are made in memory: on a disk their making would take seconds.
    MemoryFileSystem chain;
    for (int file = 1; file <= Files; ++file) {
        // Appended: g++ 12 takes the optimised concatenation for an overflow (-Werror).
        std::string name = "b";
        name.append(std::to_string(file)).append(".branch");
        chain.Add(name, Scene(Object(1, "BrItem") + Object(2, "Branch", naming(file + 1))));
    }
    chain.Add("scene.scene", Scene(Object(1, "Node") + Object(2, "Branch", naming(1))));
    SetFileSystem(&chain);
    std::vector<Node*> roots;
    Node* root = LoadSceneFile("scene.scene", 0, SceneKeepUnmappedIds, nullptr, &roots, nullptr);
    ASSERT_NE(root, nullptr);
    made_.push_back(root->GetSerial());
    int loaded = 0;
    auto* branch = dynamic_cast<Branch*>(root->GetFirstChild());
    while (branch && branch->GetFirstChild()) {
        ++loaded;
        branch = dynamic_cast<Branch*>(branch->GetFirstChild()->GetFirstChild());
    }
    EXPECT_EQ(loaded, MaxSceneLoadNesting);
    ASSERT_NE(branch, nullptr);
    EXPECT_STREQ(branch->GetBranchPath(), "b257.branch");
    EXPECT_EQ(chain.OpenCount("b258.branch"), 0);
    EXPECT_TRUE(log_.Contains("Scene b257.branch is left unloaded: branch files nest at most 256 "
                              "deep, and it is nested 257 deep"));
    const auto& told = TheSceneLoadState().shortLoads;
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].first, "b257.branch");
    EXPECT_EQ(told[0].second, "it is not read: branch files nest at most 256 deep");
    root->Delete();
    SetFileSystem(&files_);
}

// Loads a scene naming f0.branch, where each file fN holds a node and `wide` branches naming
// f(N+1), down to f`deep`, and checks that the loads tried stay within the id systems, that no
// branch's content took the scene's own ids, and that the log holds the lines `told` (in part).
void LoadFan(int wide, int deep, const std::vector<std::string>& told,
             std::vector<uint64_t>& made) {
    MemoryFileSystem fan;
    const auto naming = [](int file, int previous) {
        return "parent = 1\nbranchflags = 1\nbranch = \"f" + std::to_string(file) + ".branch\"" +
               (previous ? "\nprev = " + std::to_string(previous) : "");
    };
    for (int file = 0; file <= deep; ++file) {
        std::string objects = Object(1, "Node");
        for (int branch = 0; file < deep && branch < wide; ++branch) {
            objects += Object(branch + 2, "Branch", naming(file + 1, branch ? branch + 1 : 0));
        }
        std::string name = "f";
        name.append(std::to_string(file)).append(".branch");
        fan.Add(name, Scene(objects));
    }
    fan.Add("scene.scene", Scene(Object(1, "Node") + Object(2, "Branch", naming(0, 0))));
    FileSystem* before = GetFileSystem();
    SetFileSystem(&fan);
    test::CapturingLogSink log;
    Node* root = LoadSceneFile("scene.scene", 0, SceneKeepUnmappedIds, nullptr, nullptr, nullptr);
    SetFileSystem(before);
    ASSERT_NE(root, nullptr);
    made.push_back(root->GetSerial());
    int opened = 0;
    for (int file = 0; file <= deep; ++file) {
        opened += fan.OpenCount("f" + std::to_string(file) + ".branch");
    }
    // A load an instance, each holding an id system, and a read of each file as it is named.
    EXPECT_LE(opened, IdMap::MaxIdSystems + deep + 1);
    // The scene's own id system holds its two nodes and nothing of any branch.
    EXPECT_EQ(TheIdMap().GetIdSystem(0)->GetEntryCount(), 3u);
    ASSERT_EQ(log.Lines().size(), told.size());
    for (size_t line = 0; line < told.size(); ++line) {
        EXPECT_NE(log.Lines()[line].text.find(told[line]), std::string::npos)
            << log.Lines()[line].text;
    }
}

// Files of a node and W branches each naming the next file ask for W^D instances, each with an
// id system of its own. Once none is left, no further branch load of the scene is tried, and one
// line counts those left out. Before, the instances without an id system loaded their content
// into the scene's own one, where its ids met the scene's: a 20 x 20 fan took 45 s to render
// with up to two million warnings.
TEST_F(BranchTest, AFanOfBranchFilesStopsLoadingWhenTheIdSystemsRunOut) {
    LoadFan(20, 20, {"branch loads in it were left out: all 4096 id systems are in use"}, made_);
}

// In a 2-wide fan 258 deep the file past the nesting depth is named once and the rest counted,
// and no file is said to hold itself (one was, 497 times, though none did).
TEST_F(BranchTest, ADeepFanNamesTheFilePastTheDepthOnceAndNoFalseCycle) {
    LoadFan(2, 258,
            {"Scene f256.branch is left unloaded: branch files nest at most 256 deep, and it is "
             "nested 257 deep",
             "branch loads in it were left unloaded nested deeper than 256",
             "branch loads in it were left out: all 4096 id systems are in use"},
            made_);
}

// A few kilobytes of branches naming branches can ask for millions of nodes: one load makes at
// most SceneNodeLimit of them, the objects past it are left out (counted as such, so a save is
// known to lose them), and branch files met after it are not read.
TEST_F(BranchTest, OneLoadMakesAtMostItsNodeLimitThroughItsBranches) {
    test::ScopedValue<int64_t> limit(SceneNodeLimit, 12);
    std::string five;
    for (int id = 1; id <= 5; ++id) {
        five += Object(id, "BrItem");
    }
    Write("five.branch", Scene(five));
    std::string objects = Object(1, "Node");
    for (int id = 2; id <= 5; ++id) {
        objects += Object(id, "Branch",
                          "parent = 1\nbranchflags = 3\nbranch = \"five.branch\"" +
                              (id > 2 ? "\nprev = " + std::to_string(id - 1) : std::string()));
    }
    Node* root = Load(Scene(objects));
    ASSERT_NE(root, nullptr);
    int nodes = 0;
    for (Node* node = root; node; node = NextInSubtree(node, root, true)) {
        ++nodes;
    }
    // The scene's five, the first instance's five and two of the second's.
    EXPECT_EQ(nodes, 12);
    EXPECT_EQ(BranchAt(3)->GetChildCount(), 2);
    EXPECT_EQ(BranchAt(4)->GetChildCount(), 0);
    const std::string lines[] = {
        "Scene five.branch: 3 of its objects are left out: a scene and its branches make at "
        "most 12 nodes",
        "Scene five.branch is left unloaded: the scene it is part of has made 12 nodes, the most "
        "a scene and its branches make",
        "Scene scene.scene: 2 branch loads in it were left unloaded at its node limit",
    };
    for (const std::string& line : lines) {
        EXPECT_TRUE(log_.Contains(line)) << line;
    }

    // A load on its own counts afresh; a file past the limit loses what follows.
    FileReader reader;
    ASSERT_TRUE(reader.Open("five.branch", false, false));
    SceneLoader loader("five.branch", 0, SceneKeepUnmappedIds, nullptr, nullptr);
    SceneNodeLimit = 3;
    Node* first = loader.Load(reader);
    ASSERT_NE(first, nullptr);
    made_.push_back(first->GetSerial());
    EXPECT_EQ(loader.GetObjectCount(), 3);
    EXPECT_EQ(loader.GetLeftOutCount(), 2);
    EXPECT_FALSE(loader.EndedEarly());
}

TEST_F(BranchTest, DamagedFilesLoadWhatTheyCanAndLeaveTheInstanceLoaded) {
    const std::string& door = DoorBranch;
    const std::pair<std::string, int> texts[] = {
        {door.substr(0, door.find("float")), 0}, // cut in the declarations
        // Without the declarations' '}', the objects start after node 7's.
        {door.substr(0, door.find("}\nobj7")) + door.substr(door.find("obj7")), 2},
    };
    for (const auto& [text, children] : texts) {
        Write("bad.branch", text);
        Branch* branch = Instance("bad.branch");
        EXPECT_EQ(branch->GetChildCount(), children) << text;
        EXPECT_TRUE(branch->GetBranchFlags() & BranchLoaded);
        branch->Delete();
    }
}

TEST_F(BranchTest, SavedFilesCarryTheirGuidInBothFormsAndTheCompactCopyStandsIn) {
    Branch* branch = Instance();
    BranchFile* file = branch->GetBranchFile();
    Inner(branch, 7)->speed = 42.0f;
    SendSignal("quarn_save", nullptr, false);
    const Guid guid = file->GetGuid();
    EXPECT_NE(folder_.ReadFile("door.branch").find("globalid = " + guid.ToHex() + "\n"),
              std::string::npos);

    std::filesystem::remove(folder_.Join("door.branch"));
    ASSERT_TRUE(file->Load());
    EXPECT_TRUE(file->IsBinary() && file->GetGuid() == guid && !guid.IsZero());
    EXPECT_EQ(file->GetDeclaredClass()->GetOwnProperties().size(), 2u);
    EXPECT_EQ(file->FindCustomProperty("speed"), nullptr)
        << "the class is its instances', not the file's";
    branch->Reload();
    EXPECT_EQ(Inner(branch, 7)->speed, 42.0f);
    // So does a copy under the name earlier versions gave it, that of a scene's compact twin.
    std::filesystem::rename(folder_.Join("door.bscn"), folder_.Join("door.scn"));
    ASSERT_TRUE(file->Load());
    EXPECT_TRUE(file->IsBinary() && file->GetGuid() == guid);
    branch->Reload();
    EXPECT_EQ(Inner(branch, 7)->speed, 42.0f);

    // Declarations the file no longer has go; with neither form there, the file is empty but
    // still the one registered under its name.
    Write("door.branch", DoorBranch.substr(DoorBranch.find("obj7")));
    EXPECT_TRUE(file->Load() && !file->GetDeclaredClass());
    std::filesystem::remove(folder_.Join("door.branch"));
    std::filesystem::remove(folder_.Join("door.scn"));
    EXPECT_FALSE(file->Load());
    EXPECT_EQ(file->GetState(), 0u);
    EXPECT_TRUE(file->GetReferenceCount() == 1 && FindResourceByKey("door.branch") == file);
}

TEST_F(BranchTest, ASaveSucceedsWhenItsTextIsWrittenAndNeverLeavesAStaleOrSharedCompactCopy) {
    // The relays of an instance inside lead into its own id system: saved with it, they would
    // keep the compact copy from being written.
    Write("outer.branch", test::Scene(test::Object(2, "Branch",
                                                   "branchflags = 1\n"
                                                   "branch = \"door.branch\"")));
    Branch* outer = Instance("outer.branch");
    EXPECT_TRUE(outer->GetBranchFile()->Save(*outer, outer->GetIdSystem()));
    std::filesystem::remove(folder_.Join("outer.branch"));
    std::filesystem::create_directory(folder_.Join("outer.branch"));
    EXPECT_FALSE(outer->GetBranchFile()->Save(*outer, outer->GetIdSystem()));
    std::filesystem::remove(folder_.Join("outer.branch"));

    // A text longer than a compact object holds: the text form keeps it, the older compact
    // copy goes.
    // A scene of the branch's name keeps its own compact twin.
    Write("door.scn", "a scene's");
    Branch* door = Instance();
    ASSERT_TRUE(door->GetBranchFile()->Save(*door, door->GetIdSystem()));
    ASSERT_TRUE(std::filesystem::exists(folder_.Join("door.bscn")));
    EXPECT_EQ(folder_.ReadFile("door.scn"), "a scene's");
    Inner(door, 5)->label = std::string(70000, 'x');
    log_.Clear();
    EXPECT_TRUE(door->GetBranchFile()->Save(*door, door->GetIdSystem()));
    EXPECT_FALSE(std::filesystem::exists(folder_.Join("door.bscn")));
    EXPECT_NE(folder_.ReadFile("door.branch").find(std::string(70000, 'x')), std::string::npos);
    EXPECT_TRUE(log_.Contains("without its compact copy"));
}

TEST_F(BranchTest, OneInstanceAtATimeEditsTheFileAndARenameMakesANewBranch) {
    Branch* first = Instance();
    BranchFile* file = first->GetBranchFile();
    EXPECT_TRUE(file->SetOwner(first));
    EXPECT_FALSE(file->SetOwner(first)) << "already the editor";
    Branch* second = Instance();
    EXPECT_TRUE(second->IsClosed()) << "another instance edits the file";
    EXPECT_TRUE(log_.Contains("Branch 'door.branch' is already opened by another branch instance. "
                              "The closed-flag on this instance has therefore been set."));
    file->ClearOwner(second);
    EXPECT_EQ(file->GetOwner(), first);
    first->Delete();
    EXPECT_EQ(file->GetOwner(), nullptr);

    for (const char* name : {"door.branch", "hall.branch"}) {
        const Guid before = file->EnsureGuid();
        file->SetFileName(name, "", true);
        EXPECT_FALSE(file->GetGuid() == before) << name;
    }
    EXPECT_STREQ(second->GetBranchPath(), "hall.branch");
    EXPECT_FALSE(std::filesystem::exists(folder_.Join("hall.branch")));
}

TEST_F(BranchTest, CustomClassesComeAndGoWithoutMixingUpTheirAncestry) {
    auto* item = Make<BrItem>();
    BranchFile* previous = nullptr;
    for (int index = 0; index < 300; ++index) {
        auto* file = AcquireResource<BranchFile>((std::to_string(index) + ".branch").c_str(), "");
        file->ExposeProperty(item, item->FindProperty("speed"), true);
        EXPECT_TRUE(file->GetDeclaredClass()->IsDerivedFrom(Branch::classInfo));
        if (previous) {
            EXPECT_FALSE(file->GetDeclaredClass()->IsDerivedFrom(previous->GetDeclaredClass()))
                << index;
            previous->Release();
        }
        previous = file;
    }
    previous->Release();
}

} // namespace
} // namespace quarn
