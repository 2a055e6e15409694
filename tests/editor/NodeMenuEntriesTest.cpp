#include "editor/NodeMenuEntries.h"

#include "TestPaths.h"
#include "collision/CollisionMesh.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/object/IdMap.h"
#include "core/object/Signals.h"
#include "core/scene/EngineState.h"
#include "core/scene/NodeMenu.h"
#include "core/scene/Pivot.h"
#include "core/scene/SceneClasses.h"
#include "core/scenefile/SceneLoader.h"
#include "render/Camera.h"
#include "render/Model.h"
#include "render/ShaderSettings.h"
#include "render/Sprite.h"
#include "render/TextPlate.h"
#include "resources/Branch.h"
#include "resources/Texture.h"
#include "script/nodes/DataBase.h"
#include "script/nodes/SoundNodes.h"
#include "script/nodes/VarData.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/RecordingDialogHook.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/SoftwareRenderDevice.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestClass.h"
#include "tests/support/TestTree.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace quarn {
namespace {

enum Entry {
    AddChild,
    ConvertTo,
    OpenResource,
    InsertSubtree,
    MergeSubtree,
    SaveSubtree,
    MirrorSubtree,
    Referents,
    CallFunction
};

std::vector<std::string> heard;

// Hears the editing signals as a class and answers the calls a new node gets.
class MenuProbe : public test::TestClass<MenuProbe, Node> {
public:
    static constexpr const char* Name = "MenuProbe";
    static void Declare(ClassInfo& classInfo) {
        classInfo.AddMethod("nodecreation", "()", BindSignalHandler<&MenuProbe::OnNode<0>>(), 0);
        classInfo.AddMethod("selectnode", "()", BindSignalHandler<&MenuProbe::OnNode<1>>(), 0);
        classInfo.AddMethod("addundolabel", "()", BindSignalHandler<&MenuProbe::OnLabel>(), 0);
        classInfo.AddMethod("loaded", "()", BindSignalHandler<&MenuProbe::OnCall<0>>(), 0);
        classInfo.AddMethod("quarn_start", "()", BindSignalHandler<&MenuProbe::OnCall<1>>(), 0);
        classInfo.AddMethod("start", "()", BindSignalHandler<&MenuProbe::OnCall<2>>(), 0);
        classInfo.SetCategory("Test");
    }
    template <int I>
    void OnNode(void* argument) {
        static constexpr const char* Names[] = {"nodecreation", "selectnode"};
        if (GetName() == "listener") {
            auto* node = static_cast<Entity*>(argument);
            heard.push_back(std::string(Names[I]) + " " +
                            (node ? node->GetClass()->GetName() : "-"));
        }
    }
    void OnLabel(void* argument) {
        if (GetName() == "listener") {
            heard.push_back(std::string("addundolabel ") +
                            static_cast<const char*>(static_cast<SignalArgs*>(argument)->Get(1)));
        }
    }
    template <int I>
    void OnCall(void*) {
        static constexpr const char* Names[] = {"loaded", "quarn_start", "start"};
        if (GetName() != "listener") {
            heard.push_back(Names[I]);
        }
    }
};

// Holds a linked reference to another node.
class MenuReferrer : public test::TestClass<MenuReferrer, Node> {
public:
    static constexpr const char* Name = "MenuReferrer";
    EntityRef target{this};
};

class NodeMenuEntriesTest : public ::testing::Test, protected test::SoftwareFrames {
protected:
    void SetUp() override {
        TheIdMap().Clear();
        files_.SetBaseFolder((folder_.Path() + "/").c_str());
        SetFileSystem(&files_);
        RegisterEditorNodeMenuEntries();
        RegisterSceneClasses();
        Texture::RegisterClass();
        Sprite::RegisterClass();
        MenuReferrer::RegisterClass();
        MenuProbe::ListenOnce({"nodecreation", "selectnode", "addundolabel"});
        heard.clear();
        tree_.Make<MenuProbe>("listener");
        folder_.WriteFile("level.scene",
                          "version = 44\nnum_nodes = 3\n"
                          "obj1 {\n\tclass = \"Node\"\n\tname = \"root\"\n}\n"
                          "obj2 {\n\tclass = \"Pivot\"\n\tname = \"pivot\"\n\tparent = 1\n}\n"
                          "obj3 {\n\tclass = \"Pivot\"\n\tname = \"inner\"\n\tparent = 2\n"
                          "\tpos = 2.0,0.0,0.0\n}\n");
        root_ = LoadSceneFile(folder_.Join("level.scene").c_str(), 0, SceneKeepUnmappedIds, nullptr,
                              nullptr, nullptr);
        ASSERT_NE(root_, nullptr);
        TheIdMap().SetSceneRoot(0, root_);
        pivot_ = root_->FindChildByName("pivot");
        ASSERT_NE(pivot_, nullptr);
    }
    void TearDown() override {
        GameRunning = false;
        PlatformViewSize = nullptr; // a test sets it, and an assertion may leave it set
        if (Node* root = GetSceneRoot()) {
            root->Delete();
        }
        TheIdMap().Clear(); // some tests fill it
        SetFileSystem(nullptr);
    }

    static NodeMenuItem Build(Entry entry, Node& node) {
        NodeMenuItem item;
        EXPECT_TRUE(GetNodeMenuEntries().at(entry).build(node, item));
        return item;
    }
    static void Run(Entry entry, Node& node, const NodeMenuItem& item, int choice) {
        GetNodeMenuEntries().at(entry).execute(node, choice, item);
    }
    // The leaf these labels lead to, opening listed submenus on the way as the menu does.
    static int Leaf(NodeMenuItem& item, const std::vector<std::string>& labels) {
        NodeMenuItem* menu = &item;
        for (const std::string& label : labels) {
            NodeMenuItem* found = nullptr;
            for (NodeMenuItem& each : menu->items) {
                found = each.label == label && !found ? &each : found;
            }
            if (!found) {
                return -1;
            }
            menu = found;
            if (menu->open) {
                menu->open(*menu);
            }
        }
        return NodeMenuLeafIndex(item, menu);
    }
    void CopyImage(const std::string& name) {
        std::filesystem::create_directories(
            std::filesystem::path(folder_.Join(name)).parent_path());
        std::filesystem::copy_file(QUARN_TEST_DATA "/images/bits24.bmp", folder_.Join(name));
    }

    test::TempFolder folder_;
    DiskFileSystem files_;
    test::TestTree tree_;
    test::CapturingLogSink log_;
    test::RecordingDialogHook dialogs_;
    Node* root_ = nullptr;
    Node* pivot_ = nullptr;
};

TEST_F(NodeMenuEntriesTest, TheNineEntriesComeFirstAndTheBranchsTwoAfterThem) {
    Branch::RegisterClass();
    std::vector<std::string> labels;
    for (int entry = AddChild; entry <= CallFunction; ++entry) {
        labels.push_back(Build(static_cast<Entry>(entry), *pivot_).label);
    }
    EXPECT_EQ(labels,
              (std::vector<std::string>{"Add new child", "Convert to", "Open resource",
                                        "Insert subtree...", "Merge subtree...", "Save subtree...",
                                        "Mirror subtree", "Referents", "Call function"}));
    EXPECT_EQ(GetNodeMenuEntries().size(), 11u);
}

TEST_F(NodeMenuEntriesTest, AddNewChildMakesASpriteFromAFileOfItsSubmenu) {
    CopyImage("art/tiles/grass.bmp");
    CopyImage("art/notes.txt");
    NodeMenuItem item = Build(AddChild, *pivot_);
    EXPECT_EQ(Leaf(item, {"Gfx", "Sprite", "art", "<art/notes.txt>"}), -1);
    const int leaf = Leaf(item, {"Gfx", "Sprite", "art", "tiles", "<art/tiles/grass.bmp>"});
    ASSERT_GE(leaf, 0);
    Run(AddChild, *pivot_, item, leaf);
    Node* sprite = pivot_->GetLastChild();
    ASSERT_NE(sprite, nullptr);
    EXPECT_STREQ(sprite->GetClass()->GetName(), "Sprite");
    EXPECT_EQ(sprite->FindProperty("texture")->GetAsText(*sprite), "art/tiles/grass.bmp");
    EXPECT_EQ(sprite->GetId() & IdSystemMask, 0u);
    EXPECT_NE(sprite->GetId() & LocalIdMask, 0u);
    EXPECT_EQ(heard,
              (std::vector<std::string>{"nodecreation Sprite", "addundolabel Sprite creation",
                                        "selectnode Sprite"}));
}

// Every file the class's resource loads is offered, whatever its case; other files are not.
TEST_F(NodeMenuEntriesTest, AFileSubmenuListsEveryFormatTheResourceLoads) {
    Model::RegisterClass();
    TextPlate::RegisterClass();
    ShaderSettings::RegisterClass();
    CollisionMesh::RegisterClass();
    DataBase::RegisterClass();
    VarData::RegisterClass();
    SoundEmitter::RegisterClass();
    for (const char* name : {"a.bmp", "b.PNG", "c.jpg", "d.dds", "e.txt", "f.png.txt", "g.mesh",
                             "h.OBJ", "i.ply", "levels.csv", "monsters.data", "j.ttf", "k.OTF",
                             "l.ttc", "glow.fx_raw", "m.psh", "n.wav", "o.ogg", "p.mp3"}) {
        folder_.WriteFile(std::string("art/") + name, "x");
    }
    const struct {
        const char* category;
        const char* className;
        std::vector<std::string> listed;
        std::vector<std::string> left;
    } cases[] = {
        {"Gfx",
         "Sprite",
         {"<art/a.bmp>", "<art/b.PNG>", "<art/c.jpg>", "<art/d.dds>"},
         {"<art/e.txt>", "<art/f.png.txt>", "<art/g.mesh>"}},
        {"Gfx", "Model", {"<art/g.mesh>", "<art/h.OBJ>"}, {"<art/i.ply>", "<art/a.bmp>"}},
        {"Collision", "CollisionMesh", {"<art/g.mesh>", "<art/h.OBJ>"}, {"<art/a.bmp>"}},
        {"Gfx", "TextPlate", {"<art/j.ttf>", "<art/k.OTF>", "<art/l.ttc>"}, {"<art/e.txt>"}},
        {"Gfx", "ShaderSettings", {"<art/glow.fx_raw>", "<art/m.psh>"}, {"<art/a.bmp>"}},
        {"Data", "DataBase", {"<art/levels.csv>", "<art/monsters.data>"}, {"<art/e.txt>"}},
        {"Data", "VarData", {"<art/monsters.data>", "<art/e.txt>"}, {"<art/levels.csv>"}},
        {"Sfx", "SoundEmitter", {"<art/n.wav>", "<art/o.ogg>"}, {"<art/p.mp3>"}},
    };
    for (const auto& each : cases) {
        NodeMenuItem item = Build(AddChild, *pivot_);
        for (const std::string& file : each.listed) {
            EXPECT_GE(Leaf(item, {each.category, each.className, "art", file}), 0) << file;
        }
        for (const std::string& file : each.left) {
            EXPECT_EQ(Leaf(item, {each.category, each.className, "art", file}), -1) << file;
        }
    }
}

// A sprite takes the matrix mode of the pivot above it and, placed in pixels, its picture's
// 5 x 3 pixels a step in front of its parent; under the bare root it goes in pixels to the
// view's centre.
TEST_F(NodeMenuEntriesTest, AnAddedSpriteTakesItsParentsModeAndASizeThatShows) {
    CopyImage("pic.bmp");
    auto* inner = dynamic_cast<Pivot*>(pivot_->FindChildByName("inner"));
    ASSERT_NE(inner, nullptr);
    inner->SetMatrixMode(MatrixScreen);
    PlatformViewSize = [] { return Int2(200, 101); };
    const struct {
        Node* parent;
        int32_t mode;
        std::vector<float> size;
        std::vector<float> position;
    } cases[] = {
        {pivot_, MatrixNormal, {1.0f, 1.0f}, {0.0f, 0.0f, 0.0f}},
        {inner, MatrixScreen, {5.0f, 3.0f}, {0.0f, 0.0f, -1.0f}},
        {root_, MatrixScreen, {5.0f, 3.0f}, {100.0f, 50.0f, 0.0f}},
    };
    for (const auto& each : cases) {
        NodeMenuItem item = Build(AddChild, *each.parent);
        Run(AddChild, *each.parent, item, Leaf(item, {"Gfx", "Sprite", "<pic.bmp>"}));
        auto* sprite = dynamic_cast<Sprite*>(each.parent->GetLastChild());
        ASSERT_NE(sprite, nullptr) << each.parent->GetName();
        EXPECT_EQ(sprite->GetMatrixMode(), each.mode) << each.parent->GetName();
        const Float2 size = sprite->GetSize();
        const Float3 position = sprite->GetPosition();
        EXPECT_EQ(std::vector<float>({size.x, size.y}), each.size) << each.parent->GetName();
        EXPECT_EQ(std::vector<float>({position.x, position.y, position.z}), each.position)
            << each.parent->GetName();
    }
}

TEST_F(NodeMenuEntriesTest, ANewChildIsLoadedAndStartedOnlyWhileTheGameRuns) {
    for (bool running : {false, true}) {
        GameRunning = running;
        heard.clear();
        NodeMenuItem item = Build(AddChild, *pivot_);
        Run(AddChild, *pivot_, item, Leaf(item, {"Test", "MenuProbe"}));
        std::vector<std::string> expected{"nodecreation MenuProbe",
                                          "addundolabel MenuProbe creation", "loaded"};
        if (running) {
            expected.insert(expected.end(), {"quarn_start", "start"});
        }
        expected.push_back("selectnode MenuProbe");
        EXPECT_EQ(heard, expected) << running;
    }
}

TEST_F(NodeMenuEntriesTest, ALockedNodeGreysTheEntriesThatWouldChangeIt) {
    pivot_->SetFlag(NodeLocked, true);
    const struct {
        Entry entry;
        bool enabled;
    } cases[] = {{AddChild, false},      {ConvertTo, false},    {OpenResource, false},
                 {InsertSubtree, false}, {MergeSubtree, false}, {SaveSubtree, true},
                 {MirrorSubtree, false}, {Referents, false},    {CallFunction, true}};
    for (const auto& c : cases) {
        EXPECT_EQ(Build(c.entry, *pivot_).enabled, c.enabled) << c.entry;
    }
    NodeMenuItem item = Build(AddChild, *pivot_);
    Run(AddChild, *pivot_, item, Leaf(item, {"Test", "MenuProbe"}));
    EXPECT_EQ(pivot_->GetChildCount(), 1) << "a locked node gets no child";
}

TEST_F(NodeMenuEntriesTest, ConvertToKeepsTheChildrenAndTheSceneRootFollows) {
    for (Node* node : {pivot_, root_}) {
        const std::string target = node == root_ ? "ContainerBox" : "Folder";
        const uint32_t id = node->GetId();
        heard.clear();
        NodeMenuItem item = Build(ConvertTo, *node);
        Run(ConvertTo, *node, item, Leaf(item, {"SceneTree", target}));
        auto* converted = static_cast<Node*>(LookupEntity(id));
        ASSERT_NE(converted, nullptr);
        EXPECT_EQ(converted->GetClass()->GetName(), target);
        EXPECT_EQ(converted->GetChildCount(), 1);
        EXPECT_EQ(heard.back(), "addundolabel ClassType conversion");
        if (node == root_) {
            EXPECT_EQ(GetSceneRoot(), converted);
        }
    }
}

TEST_F(NodeMenuEntriesTest, OpenResourceHandsThePathToTheDesktopProgramAsOneArgument) {
    // A program in place of the desktop's, noting its arguments.
    const std::string record = folder_.Join("opened.txt");
    folder_.WriteFile("bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > '" + record +
                                          ".part' && mv '" + record + ".part' '" + record + "'\n");
    std::filesystem::permissions(folder_.Join("bin/xdg-open"), std::filesystem::perms::owner_all);
    test::ScopedEnvironment path("PATH", folder_.Join("bin") + ":" + std::getenv("PATH"));
    const std::string name = "tile; rm -rf x.bmp";
    CopyImage(name);
    Node* sprite = tree_.Make<Sprite>("sprite", root_);
    EXPECT_FALSE(Build(OpenResource, *sprite).enabled) << "no texture yet";
    sprite->FindProperty("texture")->SetFromText(*sprite, name.c_str());
    NodeMenuItem item = Build(OpenResource, *sprite);
    ASSERT_TRUE(item.enabled);
    Run(OpenResource, *sprite, item, 0);
    EXPECT_TRUE(log_.Contains("Opening resource file: '" + folder_.Join(name) + "'"));
    for (int wait = 0; wait < 500 && !std::filesystem::exists(record); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ifstream opened(record);
    std::string count, argument;
    std::getline(opened, count);
    std::getline(opened, argument);
    EXPECT_EQ(count, "1");
    EXPECT_EQ(argument, folder_.Join(name));
}

// Under a compact name too: the save writes the form the name says, as the insert reads it.
TEST_F(NodeMenuEntriesTest, ASavedSubtreeInsertsUnderAnotherNodeWhole) {
    std::filesystem::create_directory(folder_.Join("parts"));
    for (const char* name : {"pivot", "pivot.bscn"}) {
        const std::string file = std::string("parts/") + name;
        const std::string saved = folder_.Join(file == "parts/pivot" ? "parts/pivot.branch" : file);
        dialogs_.AnswerPath(folder_.Join(file));
        Run(SaveSubtree, *pivot_, Build(SaveSubtree, *pivot_), 0);
        ASSERT_TRUE(std::filesystem::exists(saved)) << name;
        EXPECT_EQ(dialogs_.Dialogs().back().title, "Branch");

        Node* target = tree_.Make<Node>("target", root_);
        dialogs_.AnswerPath(saved);
        heard.clear();
        Run(InsertSubtree, *target, Build(InsertSubtree, *target), 0);
        EXPECT_EQ(dialogs_.Dialogs().back().text, folder_.Join("parts/"));
        Node* copy = target->GetFirstChild();
        ASSERT_NE(copy, nullptr) << name;
        EXPECT_EQ(copy->GetName(), "pivot");
        ASSERT_NE(copy->GetFirstChild(), nullptr);
        EXPECT_EQ(copy->GetFirstChild()->GetName(), "inner");
        EXPECT_NE(copy->GetId(), pivot_->GetId()) << "a taken id is not shared";
        EXPECT_EQ(heard.back(), "addundolabel insert subtree");
    }
}

TEST_F(NodeMenuEntriesTest, ReferentsListsTheHoldersAndSelectsTheChosenOne) {
    EXPECT_FALSE(Build(Referents, *pivot_).enabled);
    auto* holder = tree_.Make<MenuReferrer>("holder", root_);
    auto* again = tree_.Make<MenuReferrer>("again", root_);
    holder->target.SetId(pivot_->GetId());
    again->target.SetId(pivot_->GetId());
    EntityRef second(holder);
    second.SetId(pivot_->GetId());
    NodeMenuItem item = Build(Referents, *pivot_);
    ASSERT_TRUE(item.enabled);
    std::vector<std::string> labels;
    for (const NodeMenuItem& each : item.items) {
        labels.push_back(each.label);
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"\"holder\"", "\"again\""}));
    heard.clear();
    Run(Referents, *pivot_, item, 1);
    EXPECT_EQ(heard, (std::vector<std::string>{"selectnode MenuReferrer"}));
}

TEST_F(NodeMenuEntriesTest, CallFunctionOffersPivotsCentringAndRunsIt) {
    const MethodInfo* centre = nullptr;
    for (const auto& method : Pivot::classInfo->GetOwnMethods()) {
        centre = !centre && method->GetCallFlags() == MethodEditorCommand ? method.get() : centre;
    }
    ASSERT_NE(centre, nullptr);
    NodeMenuItem item = Build(CallFunction, *pivot_);
    const int leaf = Leaf(item, {std::string(centre->GetName()) + "()"});
    ASSERT_GE(leaf, 0);
    for (const NodeMenuItem& each : item.items) {
        EXPECT_EQ(each.enabled, each.label.find("()") == each.label.size() - 2 ||
                                    each.label.find("():") != std::string::npos)
            << each.label;
    }
    heard.clear();
    Run(CallFunction, *pivot_, item, leaf);
    EXPECT_EQ(heard, (std::vector<std::string>{"addundolabel Center"}));
}

TEST_F(NodeMenuEntriesTest, WithTheIdSystemFullNothingIsCreated) {
    // The ids go to a node that outlives the test's teardown.
    static Node* holder = static_cast<Node*>(Node::classInfo->CreateInstance());
    for (uint32_t local = TheIdMap().GetFreeLocalId(0); local != 0;
         local = TheIdMap().GetFreeLocalId(0)) {
        ASSERT_TRUE(TheIdMap().SetEntry(local, holder, 0));
    }
    NodeMenuItem item = Build(AddChild, *pivot_);
    Run(AddChild, *pivot_, item, Leaf(item, {"Test", "MenuProbe"}));
    EXPECT_EQ(pivot_->GetChildCount(), 1);
    EXPECT_TRUE(heard.empty());
    EXPECT_TRUE(log_.Contains("No free id left in id system 0"));
}

} // namespace
} // namespace quarn
