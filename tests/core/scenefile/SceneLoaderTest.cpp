#include "core/scenefile/SceneLoader.h"

#include "core/scene/ContainerBox.h"
#include "core/scenefile/ClassReplacement.h"
#include "core/scenefile/SceneReferences.h"
#include "core/scenefile/SceneVersionUpgrade.h"
#include "tests/core/scenefile/SceneTestSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/RecordingDialogHook.h"
#include "tests/support/RecordingValidityHook.h"
#include "tests/support/ScopedValue.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::SlItem;
using test::SlNamed;

// Replaces an SlItem in the class-replacement tests: it shares SlItem's properties.
class SlItemMore : public test::TestClass<SlItemMore, SlItem> {
public:
    static constexpr const char* Name = "SlItemMore";
    static void Declare(ClassInfo&) {} // SlItem's properties are inherited, not declared again
};

class SceneLoading : public test::SceneTestBase {
protected:
    static std::string Scene(int version, const std::string& objects) {
        return "version = " + std::to_string(version) + "\nidsystem = 0\nnum_nodes = 1\n" + objects;
    }
    static std::string Object(const std::string& id, const std::string& className,
                              const std::string& lines = "") {
        return "obj" + id + " {\n\tclass = \"" + className + "\"\n" + lines + "}\n";
    }
    static SlItem* Item(uint32_t id) { return static_cast<SlItem*>(LookupEntity(id)); }
    static int LiveNodes() { return Node::classInfo->GetInstanceCountRecursive(); }
};

TEST_F(SceneLoading, AHandWrittenSceneBecomesItsTreeWithTypedValues) {
    test::CapturingLogSink log;
    Node* root =
        Load(Scene(44, Object("1", "Node", "\tparent = 0\n") +
                           Object("2", "SlItem",
                                  "\tparent = 1\n\tcount = 7\n\tspeed = 2.50\n"
                                  "\ton = 1\n\tlabel = \"two\nlines\"\n"
                                  "\toffset = 1.000000,-2.500000,3.000000\n"
                                  "\ttarget = 3\n\tunknown = 5\n") +
                           Object("3", "SlItem",
                                  "\tparent = 1\n\tprev = 2\n"
                                  "\ttarget = 1-2\n") +
                           Object("4", "NoSuchClass", "\tparent = 3\n\tcount = 3\n") +
                           Object("5", "SlItem", "\tparent = 1\n\tprev = 3\n\ttarget = 0\n")));
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->GetChildCount(), 3);
    SlItem* two = Item(2);
    SlItem* three = Item(3);
    ASSERT_TRUE(two && three);
    EXPECT_EQ(root->GetChild(0), two);
    EXPECT_EQ(root->GetChild(1), three);
    EXPECT_FLOAT_EQ(two->speed, 2.5f);
    EXPECT_TRUE(two->on);
    EXPECT_EQ(two->label, "two\nlines");
    EXPECT_FLOAT_EQ(two->offset.y, -2.5f);
    // A forward reference, one with a port, and none.
    EXPECT_EQ(two->target.value, 3u);
    EXPECT_EQ(three->target.value, 1u | 2u << PortShift);
    EXPECT_EQ(GetPendingReferenceCount(), 0);
    // An unknown class makes a plain node and is logged.
    ASSERT_EQ(LookupEntity(4), three->GetFirstChild());
    EXPECT_EQ(three->GetFirstChild()->GetClass(), Node::classInfo);
    EXPECT_TRUE(log.Contains("Unknown classtype: NoSuchClass"));
}

// Each mistake is logged once its block is read, so the object's name is known; what loads
// is what always loaded. A node standing in for an unknown class lacks its keys by design.
TEST_F(SceneLoading, HandWrittenMistakesAreLoggedWithFileObjectAndPropertyAndLoadAsBefore) {
    test::CapturingLogSink log;
    Node* root = Load(Scene(44, Object("1", "SlItem",
                                       "\tcountt = 3\n\tcount = 7x\n\toffset = 1,2\n"
                                       "\tspeed = fast\n\ton = 1\n\ttarget = two\n"
                                       "\tname = \"Hero\"\n") +
                                    Object("2", "NoSuchClass", "\tparent = 1\n\tcountt = 1\n") +
                                    Object("3", "SlItem",
                                           "\tparent = 1\n\tprev = 2\n\tlabel = \"1,x\"\n"
                                           "\toffset = 1,2,3\n\ttarget = 0\n")));
    ASSERT_NE(root, nullptr);
    std::vector<std::string> mistakes;
    for (const auto& line : log.Lines()) {
        if (line.text.starts_with("test.scene: ")) {
            mistakes.push_back(line.text);
        }
    }
    const std::string prefix = "test.scene: obj1 (Hero): ";
    EXPECT_EQ(mistakes, (std::vector<std::string>{
                            prefix + "unknown property 'countt' of class SlItem",
                            prefix + "property 'count' of class SlItem: '7x' is not a whole number",
                            prefix + "property 'offset' of class SlItem: '1,2' has 2 numbers "
                                     "where 3 are needed",
                            prefix + "property 'speed' of class SlItem: 'fast' is not a number",
                            prefix + "property 'target' of class SlItem: 'two' is not an id path",
                        }));
    SlItem* item = Item(1);
    ASSERT_EQ(item, root);
    EXPECT_EQ(item->count, 7);
    EXPECT_EQ(item->offset.x, 0.0f); // a vector short of a number is not set
    EXPECT_EQ(item->speed, 0.0f);
    EXPECT_TRUE(item->on);
    EXPECT_EQ(item->target.value, 0u);
    EXPECT_EQ(Item(3)->offset.z, 3.0f);
}

TEST_F(SceneLoading, OldVersionsAreRefusedNewerOnesWarnedAndClassNamesMappedByVersion) {
    test::RecordingDialogHook dialogs;
    const int before = LiveNodes();
    EXPECT_EQ(Load(Scene(14, Object("1", "SlItem"))), nullptr);
    EXPECT_EQ(LiveNodes(), before);
    EXPECT_NE(Load(Scene(15, Object("1", "SlItem"))), nullptr);
    EXPECT_NE(Load(Scene(45, Object("1", "SlItem"))), nullptr);
    ASSERT_EQ(dialogs.Dialogs().size(), 1u);
    EXPECT_EQ(dialogs.Dialogs()[0].title, "Warning");
    EXPECT_EQ(dialogs.Dialogs()[0].text,
              "Scene is made with a newer version of this editor, errors may occur.");

    // Class names are mapped by the file version, exactly.
    EXPECT_STREQ(MapLegacyClassName("SoundSource", 43), "SoundEmitter");
    EXPECT_STREQ(MapLegacyClassName("layer", 24), "layer");
    // Before version 25 a layer was a container box; its flags pass the steps at 25 and 33.
    auto* old = dynamic_cast<ContainerBox*>(Load(Scene(24, Object("1", "Layer"))));
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(old->GetClass(), ContainerBox::classInfo);
    EXPECT_EQ(old->GetExtentFlags(), ExtentsVisualCull | ExtentsAutoExpand | ExtentsAutoShrink);
    EXPECT_EQ(Load(Scene(30, Object("1", "Layer")))->GetClass(), Layer::classInfo);
    if (!FindClass("EditorCamera")) {
        ClassInfo* camera = SlNamed<3>::Ensure("Camera");
        EXPECT_EQ(Load(Scene(44, Object("1", "EditorCamera")))->GetClass(), camera);
    }
}

TEST_F(SceneLoading, ATakenIdGivesTheNextFreeOneUnlessFileIdsAreForcedAndReferencesFollow) {
    SlItem* holder = Make<SlItem>();
    ASSERT_EQ(holder->GetId(), 1u);
    const std::string scene = Scene(44, Object("1", "SlItem", "\ttarget = 2\n") +
                                            Object("2", "SlItem", "\tparent = 1\n\ttarget = 1\n"));
    auto* root = static_cast<SlItem*>(Load(scene));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(LookupEntity(1), holder);
    EXPECT_EQ(root->GetId(), 2u);
    auto* second = static_cast<SlItem*>(root->GetFirstChild());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->GetId(), 3u);
    EXPECT_EQ(root->target.value, 3u);
    EXPECT_EQ(second->target.value, 2u);

    // Forced: the ids are taken from their holders.
    root = static_cast<SlItem*>(Load(scene, SceneKeepUnmappedIds | SceneForceFileIds));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(LookupEntity(1), root);
    EXPECT_EQ(holder->GetId(), 0u);
    EXPECT_EQ(LookupEntity(2), root->GetFirstChild());
    EXPECT_EQ(root->target.value, 2u);
}

TEST_F(SceneLoading, ReusingNodesKeepsOnesOfTheSameClassButNeverTouchesTheLoadParent) {
    const uint32_t flags = SceneKeepUnmappedIds | SceneReuseNodes;
    Node* holder = Make();
    SlItem* parent = Make<SlItem>(holder);
    SlItem* same = Make<SlItem>();
    Node* other = Make();
    ASSERT_EQ(parent->GetId(), 2u);
    ASSERT_EQ(same->GetId(), 3u);
    const uint64_t otherSerial = other->GetSerial();
    std::vector<Node*> roots;
    // The parent and its holder are neither reused (and moved) nor deleted.
    Load(Scene(44, Object("2", "SlItem", "\tparent = 4\n") +
                       Object("3", "SlItem", "\tcount = 5\n") + Object("1", "SlItem") +
                       Object("4", "SlItem")),
         flags, 0, parent, &roots);
    ASSERT_EQ(roots.size(), 3u);
    EXPECT_EQ(LookupEntity(2), parent);
    EXPECT_EQ(parent->GetParent(), holder);
    EXPECT_EQ(LookupEntity(1), holder);
    EXPECT_EQ(roots[0], same);
    EXPECT_EQ(same->count, 5);
    // Object 2 got a node of its own, placed as the file says.
    Node* second = roots[2]->GetFirstChild();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, parent);
    EXPECT_EQ(second->GetClass(), SlItem::classInfo);
    EXPECT_EQ(Entity::FindBySerial(otherSerial), nullptr);
    for (Node* root : roots) {
        EXPECT_EQ(root->GetParent(), parent);
    }
}

TEST_F(SceneLoading, AnObjectThatCannotBeFoundAgainIsDeletedAndTheNextOneStillLoads) {
    test::CapturingLogSink log;
    const int before = LiveNodes();
    std::vector<Node*> roots;
    Load(Scene(44, Object("0x0123456789ABCDEF0123456789ABCDEF.5", "SlItem", "\tcount = 1\n") +
                       Object("6", "SlItem", "\tcount = 6\n")),
         SceneKeepUnmappedIds, 0, nullptr, &roots);
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(static_cast<SlItem*>(roots[0])->count, 6);
    EXPECT_EQ(LiveNodes(), before + 1);
    EXPECT_TRUE(log.Contains("could not be found again"));
}

// The parent line that would close the cycle is refused; its node keeps the other two below it.
TEST_F(SceneLoading, AParentCycleIsRefusedOnceNamingItsNodesAndNoNodeIsLost) {
    test::RecordingValidityHook hook;
    std::vector<Node*> roots;
    Load(Scene(44, Object("1", "SlItem", "\tname = \"a\"\n\tparent = 3\n") +
                       Object("2", "SlItem", "\tname = \"b\"\n\tparent = 1\n") +
                       Object("3", "SlItem", "\tname = \"c\"\n\tparent = 2\n")),
         SceneKeepUnmappedIds, 0, nullptr, &roots);
    ASSERT_EQ(hook.Messages().size(), 1u);
    EXPECT_NE(hook.Messages()[0].find("\"c\" > \"a\" > \"b\" > \"c\""), std::string::npos)
        << hook.Messages()[0];
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(roots[0], LookupEntity(3));
    EXPECT_EQ(Item(2)->GetParent(), Item(1));
    EXPECT_EQ(Item(1)->GetParent(), Item(3));
}

// What a load cannot keep as its file has it is left for the caller to tell, file by file; a
// parent the file lacks is also logged as a mistake of its object, unless the object is the
// file's first.
TEST_F(SceneLoading, WhatALoadCannotKeepAsItsFileHasItIsTold) {
    const struct {
        std::string objects;
        std::string told;
    } cases[] = {
        {Object("1", "SlItem") + Object("2", "SlItem", "\tname = \"b\"\n\tparent = 9\n"),
         "1 of its objects is not where the file puts it: obj2 (b) names parent 9, which the file "
         "does not hold"},
        {Object("1", "SlItem") + Object("2", "SlItem", "\tparent = 1\n") +
             Object("2", "SlItem", "\tparent = 1\n"),
         "1 of its objects could not be loaded: it could not be found again by its id (obj2 is in "
         "the file more than once)"},
        {Object("1", "SlItem", "\tparent = 2\n") +
             Object("2", "SlItem", "\tname = \"b\"\n\tparent = 1\n"),
         "1 of its objects is not where the file puts it: obj2 (b) names parent 1, which would "
         "close a cycle"},
        {Object("1", "SlItem") + Object("2", "SlItem", "\tparent = 1\n") +
             Object("3", "SlItem", "\tparent = 0\n"),
         ""},
        // A saved subtree's root names the parent it hung under.
        {Object("1", "SlItem", "\tparent = 7\n") + Object("2", "SlItem", "\tparent = 1\n"), ""},
    };
    for (const auto& c : cases) {
        test::CapturingLogSink log;
        test::RecordingValidityHook hook;
        Load(Scene(44, c.objects));
        const auto& told = TheSceneLoadState().shortLoads;
        EXPECT_EQ(told.empty() ? "" : told[0].first + ": " + told[0].second,
                  c.told.empty() ? "" : "test.scene: " + c.told);
        EXPECT_EQ(log.Contains("test.scene: obj2 (b): property 'parent' of class SlItem: '9' "
                               "names no object of the file"),
                  &c == &cases[0]);
    }
    // Two causes of loss, each counted.
    const test::ScopedValue<int64_t> limit(SceneNodeLimit, 3);
    Load(Scene(44, Object("1", "SlItem") + Object("2", "SlItem", "\tparent = 1\n") +
                       Object("2", "SlItem", "\tparent = 1\n") +
                       Object("3", "SlItem", "\tparent = 1\n")));
    ASSERT_EQ(TheSceneLoadState().shortLoads.size(), 1u);
    EXPECT_EQ(TheSceneLoadState().shortLoads[0].second,
              "2 of its objects could not be loaded: 1 came after the scene had made as many "
              "nodes as it may (a scene and its branches make at most 3), 1 could not be found "
              "again by their ids (obj2 is in the file more than once)");
}

TEST_F(SceneLoading, ObjectsPastAFullIdSystemAreLeftOutWithOneLine) {
    test::CapturingLogSink log;
    test::RecordingValidityHook hook;
    std::string text = Scene(44, "");
    for (uint32_t n = 1; n <= LocalIdMask + 5; ++n) {
        text += Object(std::to_string(n), "Node");
    }
    std::vector<Node*> roots;
    BufferFile file(text.data(), static_cast<uint32_t>(text.size()));
    SceneLoader loader("big.scene", 0, SceneKeepUnmappedIds, nullptr, &roots);
    loader.Load(file);
    for (Node* root : roots) {
        Keep(root);
    }
    EXPECT_EQ(roots.size(), size_t{LocalIdMask});
    EXPECT_EQ(loader.GetLeftOutCount(), 5);
    EXPECT_EQ(loader.DescribeShortfall(), "5 of its objects could not be loaded: no id was left "
                                          "for them (an id system holds at most 65535 objects)");
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].text, "Scene big.scene: 5 of its objects are left out: no id was "
                                   "left for them (an id system holds at most 65535 objects)");
}

// Cut inside a block, inside a quoted value or between blocks (fewer than the header counts):
// what the file held up to the cut is loaded, and one line says that it ended early.
TEST_F(SceneLoading, AFileCutShortKeepsWhatItHeldAndSaysSoInOneLine) {
    const std::string whole = "version = 44\nnum_nodes = 2\n" +
                              Object("1", "SlItem", "\tname = \"a\"\n") +
                              Object("2", "SlItem", "\tparent = 1\n\tname = \"b c\"\n");
    const struct {
        size_t length;
        bool cut;
        size_t nodes; // top-level nodes
    } cases[] = {
        {whole.size(), false, 1},
        {whole.find("\tparent = 1"), true, 2},
        {whole.find(" c\""), true, 1},
        {whole.find("obj2"), true, 1},
    };
    for (const auto& c : cases) {
        test::CapturingLogSink log;
        const std::string text = whole.substr(0, c.length);
        BufferFile file(text.data(), static_cast<uint32_t>(text.size()));
        std::vector<Node*> roots;
        SceneLoader loader("cut.scene", 0, SceneKeepUnmappedIds, nullptr, &roots);
        loader.Load(file);
        for (Node* root : roots) {
            Keep(root);
        }
        EXPECT_EQ(loader.EndedEarly(), c.cut) << c.length;
        EXPECT_EQ(loader.DescribeShortfall().starts_with("the file is cut short"), c.cut);
        EXPECT_EQ(roots.size(), c.nodes) << c.length;
        ASSERT_EQ(log.Lines().size(), c.cut ? 1u : 0u) << c.length;
        if (c.cut) {
            EXPECT_EQ(log.Lines()[0].text, "Scene cut.scene ends early: the file is cut short; "
                                           "what it holds up to there is loaded");
        }
    }
}

TEST_F(SceneLoading, ALoadedFileIsRecordedWithItsVersionIdSystemAndObjects) {
    const std::string text = "version = 43\nidsystem = 2\n" + Object("1", "Node") +
                             Object("2", "Node", "\tparent = 1\n");
    BufferFile file(text.data(), static_cast<uint32_t>(text.size()));
    SceneLoader loader("level.scene", -1, SceneKeepUnmappedIds, nullptr, nullptr);
    Keep(loader.Load(file));
    const size_t before = GetLoadedSceneFiles().size();
    RecordLoadedSceneFile(loader);
    ASSERT_EQ(GetLoadedSceneFiles().size(), before + 1);
    const LoadedSceneFile& record = GetLoadedSceneFiles().back();
    EXPECT_EQ(record.path, "level.scene");
    EXPECT_EQ(record.version, 43);
    EXPECT_EQ(record.idSystem, 2);
    EXPECT_EQ(record.objectCount, 2);
}

// Each object's report comes before its properties are read, and the end is reported once
// more: a callback that shows only some of them still shows the last.
TEST_F(SceneLoading, ProgressIsReportedBeforeEachObjectAndOnceMoreAtTheEnd) {
    static std::vector<std::pair<float, std::string>> reports;
    const struct {
        int objects;
        std::vector<float> fractions;
    } cases[] = {{0, {}}, {1, {0.0f, 1.0f}}, {4, {0.0f, 0.25f, 0.5f, 0.75f, 1.0f}}};
    for (const auto& c : cases) {
        std::string text = Scene(44, "");
        for (int n = 1; n <= c.objects; ++n) {
            text += Object(std::to_string(n), "Node", n > 1 ? "\tparent = 1\n" : "");
        }
        reports.clear();
        BufferFile file(text.data(), static_cast<uint32_t>(text.size()));
        SceneLoader loader("level.scene", 0, SceneKeepUnmappedIds, nullptr, nullptr);
        loader.SetProgressCallback([](int32_t depth, float fraction, const char* said) {
            EXPECT_EQ(depth, 0);
            reports.emplace_back(fraction, said);
        });
        if (Node* root = loader.Load(file)) {
            Keep(root);
        }
        std::vector<float> fractions;
        for (const auto& [fraction, said] : reports) {
            fractions.push_back(fraction);
            EXPECT_EQ(said, "loading level.scene");
        }
        EXPECT_EQ(fractions, c.fractions) << c.objects;
    }
}

TEST_F(SceneLoading, APendingReferenceOfANodeDeletedDuringTheLoadIsDropped) {
    // Node 1's reference stays pending; node 2 deletes node 1 before the pending pass.
    SlItem::onInitSelf = [](SlItem& item) {
        if (item.count == 2) {
            LookupEntity(1)->Delete();
        }
    };
    std::vector<Node*> roots;
    Load(Scene(44,
               Object("1", "SlItem", "\ttarget = 40\n") + Object("2", "SlItem", "\tcount = 2\n")),
         SceneKeepUnmappedIds, 0, nullptr, &roots);
    EXPECT_EQ(roots.size(), 1u);
    EXPECT_EQ(GetPendingReferenceCount(), 0);
}

// The node named is made by the first pass and then left out: the reference goes with it, as
// the next load of a save that kept it would drop it.
TEST_F(SceneLoading, AReferenceToANodeTheLoadLeavesOutIsDroppedAndReportedMissing) {
    const struct {
        const char* what;
        std::string text;
        uint32_t flags;
    } cases[] = {
        {"a block whose properties the second pass reads as another's",
         "version = 44\nobj1 {\nobj3 {\nobj2 {\n\tclass = \"SlItem\"\n\ttarget = 3\n}\n",
         SceneKeepUnmappedIds},
        {"a raw id given twice",
         Scene(44, Object("2", "SlItem", "\ttarget = 3\n") + Object("3", "SlItem") +
                       Object("3", "SlItem")),
         SceneKeepUnmappedIds | SceneRawIds},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TheSceneLoadState().pending.clear();
        std::vector<Node*> roots;
        Load(c.text, c.flags, 0, nullptr, &roots);
        ASSERT_NE(Item(2), nullptr);
        EXPECT_EQ(Item(2)->target.value, 0u);
        EXPECT_EQ(GetPendingReferenceCount(), 1);
        for (Node* root : roots) {
            if (IsAlive(root->GetSerial())) {
                root->Delete();
            }
        }
        TheIdMap().Clear();
    }
}

// Hung under a parent of another id system, the file's nodes take new ids there; a reference
// held as a bare id must follow its node, whether it was read before or after the node moved.
TEST_F(SceneLoading, AReferenceFollowsItsNodeIntoTheIdSystemOfTheLoadParent) {
    const struct {
        const char* what;
        std::string objects;
        uint32_t port;
    } cases[] = {
        {"read before its node moved",
         Object("7", "SlItem", "\ttarget = 9\n") + Object("9", "SlItem", "\tcount = 9\n"), 0},
        {"read after its node moved",
         Object("9", "SlItem", "\tcount = 9\n") + Object("7", "SlItem", "\ttarget = 9\n"), 0},
        {"with a port",
         Object("7", "SlItem", "\ttarget = 9-3\n") + Object("9", "SlItem", "\tcount = 9\n"), 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TheSceneLoadState().pending.clear();
        Node* holder = Make();
        std::vector<Node*> roots;
        Load("version = 44\nidsystem = 5\nnum_nodes = 2\n" + c.objects, SceneKeepUnmappedIds, -1,
             holder, &roots);
        ASSERT_EQ(holder->GetChildCount(), 2);
        SlItem* seven = nullptr;
        SlItem* nine = nullptr;
        for (Node* child = holder->GetFirstChild(); child; child = child->GetNext()) {
            auto* item = static_cast<SlItem*>(child);
            (item->count == 9 ? nine : seven) = item;
        }
        ASSERT_TRUE(seven && nine);
        EXPECT_EQ(nine->GetIdSystem(), 0u);
        EXPECT_EQ(seven->target.value, nine->GetId() | c.port << PortShift);
        EXPECT_EQ(GetPendingReferenceCount(), 0);
        holder->Delete();
        TheIdMap().Clear();
    }
}

TEST_F(SceneLoading, OlderNodesAreUpgradedStepByStepWhileTheStateSaysLoading) {
    const std::string scene = Scene(40, Object("1", "SlItem", "\tcount = 1\n\tcache = 9\n"));
    auto* item = static_cast<SlItem*>(Load(scene));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->upgrades, (std::vector<int>{40, 41, 42, 43}));
    EXPECT_EQ(item->initCalls, 1);
    EXPECT_EQ(item->stateWhileLoading, EngineLoading);
    EXPECT_EQ(EngineState, EngineRunning);
    // Transient properties are read only when asked.
    EXPECT_EQ(item->cache, 0);
    EXPECT_EQ(
        static_cast<SlItem*>(Load(scene, SceneKeepUnmappedIds | SceneTransientProperties))->cache,
        9);
}

TEST_F(SceneLoading, MissingReferencesAreReportedOnceWithEachId) {
    test::RecordingDialogHook dialogs;
    test::CapturingLogSink log;
    Load(Scene(44, Object("1", "SlItem", "\ttarget = 9\n") +
                       Object("2", "SlItem", "\tparent = 1\n\ttarget = 12.5\n")));
    EXPECT_EQ(ReportMissingReferences(), 2);
    ASSERT_EQ(dialogs.Dialogs().size(), 1u);
    EXPECT_EQ(dialogs.Dialogs()[0].title, "Warning");
    EXPECT_EQ(dialogs.Dialogs()[0].text,
              "Some references were not found. This usually happens when a branch is used in "
              "different scenes.\nIf you save the scene without rectifying this, the references "
              "may be lost.\nCheck the log panel for details.");
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_EQ(log.Lines()[0].channel, "system");
    EXPECT_EQ(log.Lines()[0].text, "0.1: Id 9 not found, referenced by 1 (branch: none)");
    EXPECT_EQ(log.Lines()[1].text, "0.2: Id 12.5 not found, referenced by 2 (branch: none)");
}

class ReplacingClass : public test::SceneTestBase {};

TEST_F(ReplacingClass, TheNewNodeTakesIdPlaceChildrenAndValuesAndTheOldOneGoes) {
    Node* parent = Make();
    Node* before = Make(parent);
    auto* old = Make<SlItem>(parent);
    Node* after = Make(parent);
    Node* first = Make(old);
    Node* second = Make(old);
    old->count = 4;
    old->label = "kept";
    auto* referrer = Make<SlItem>(parent);
    referrer->target.value = old->GetId();
    const uint64_t oldSerial = old->GetSerial();

    Node* made = ReplaceNodeClass(*old, *SlItemMore::RegisterClass(), false);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(Entity::FindBySerial(oldSerial), nullptr);
    EXPECT_EQ(SlItem::deletedInState, EngineReplacingClass);
    EXPECT_EQ(EngineState, EngineRunning);
    EXPECT_EQ(made->GetClass(), SlItemMore::classInfo);
    EXPECT_EQ(LookupEntity(referrer->target.value), made);
    EXPECT_EQ(before->GetNext(), made);
    EXPECT_EQ(made->GetNext(), after);
    EXPECT_EQ(made->GetFirstChild(), first);
    EXPECT_EQ(made->GetLastChild(), second);
    EXPECT_EQ(static_cast<SlItem*>(made)->label, "kept");
}

} // namespace
} // namespace quarn
