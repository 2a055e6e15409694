#include "core/io/BufferFile.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/Property.h"
#include "core/scene/Node.h"
#include "core/scenefile/CustomDeclarations.h"
#include "core/scenefile/NodeCloning.h"
#include "core/scenefile/SceneFormat.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneSaver.h"
#include "core/scenefile/SceneTextFormat.h"
#include "tests/core/scenefile/SceneLoadingTestSupport.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::SlItem;

constexpr uint32_t EditorSave = SceneKeepUnmappedIds | SceneSystemZeroPaths | SceneWriteRoot;

// Scenes as the writer writes them: loading and saving one gives its bytes back.
const char* const TreeScene = "version = 44\nidsystem = 0\nnum_nodes = 5\n"
                              "obj1 {\n\tclass = \"Node\"\n\tname = \"root\"\n\tparent = 0\n"
                              "\tflags = 17\n}\n"
                              "obj2 {\n\tclass = \"SlItem\"\n\tname = \"first\"\n\tparent = 1\n"
                              "\tflags = 1\n\tcount = -3\n\tspeed = 2.50\n\ton = 1\n"
                              "\tlabel = \"two\nlines with } and obj9 {\"\n"
                              "\toffset = 1.000000,-2.500000,3.000000\n\ttarget = 4-3\n}\n"
                              "obj7 {\n\tclass = \"Node\"\n\tname = \"\"\n\tparent = 2\n"
                              "\tflags = 0\n}\n"
                              "obj4 {\n\tclass = \"SlItem\"\n\tname = \"last\"\n\tparent = 1\n"
                              "\tprev = 2\n\tflags = 1\n\tlabel = \"\"\n"
                              "\toffset = 0.000000,0.000000,0.000000\n\ttarget = 7\n}\n"
                              "obj5 {\n\tclass = \"Node\"\n\tname = \"\"\n\tparent = 4\n"
                              "\tflags = 1\n}\n";

const char* const ChainScene = "version = 44\nidsystem = 0\nnum_nodes = 4\n"
                               "obj3 {\n\tclass = \"SlItem\"\n\tname = \"a\"\n\tparent = 0\n"
                               "\tflags = 1\n\tlabel = \"\nstarts with a line feed\"\n"
                               "\toffset = 0.000000,0.000000,0.000000\n\ttarget = 3\n}\n"
                               "obj9 {\n\tclass = \"SlItem\"\n\tname = \"b\"\n\tparent = 3\n"
                               "\tflags = 1\n\tlabel = \"\"\n"
                               "\toffset = 0.000000,0.000000,0.000000\n\ttarget = 3-15\n}\n"
                               "obj10 {\n\tclass = \"SlItem\"\n\tname = \"c\"\n\tparent = 9\n"
                               "\tflags = 1\n\tcount = 2147483647\n\tlabel = \"\"\n"
                               "\toffset = 0.000000,0.000000,0.000000\n\ttarget = 9\n}\n"
                               "obj2 {\n\tclass = \"Node\"\n\tname = \"d\"\n\tparent = 10\n"
                               "\tflags = 1\n}\n";

class SceneRoundTrip : public test::SceneTestBase {
protected:
    // Loaded into a fresh id map, as a scene is opened, and saved as the editor saves.
    std::string LoadAndSave(const std::string& text, uint32_t loadFlags = SceneKeepUnmappedIds,
                            uint32_t saveFlags = EditorSave) {
        TheIdMap().Clear();
        Node* root = Load(text, loadFlags);
        return root ? WriteScene(*root, saveFlags) : std::string();
    }
};

TEST_F(SceneRoundTrip, HandWrittenScenesSaveAsTheyWereWrittenAndAgainUnchanged) {
    for (const char* scene : {TreeScene, ChainScene}) {
        const std::string saved = LoadAndSave(scene);
        EXPECT_EQ(saved, scene);
        EXPECT_EQ(LoadAndSave(saved), saved);
    }
}

TEST_F(SceneRoundTrip, TheCompactFormCarriesTheSameTree) {
    for (const char* scene : {TreeScene, ChainScene}) {
        const std::string compact =
            LoadAndSave(scene, SceneKeepUnmappedIds, EditorSave | SceneCompact);
        ASSERT_FALSE(compact.empty());
        EXPECT_EQ(LoadAndSave(compact, SceneKeepUnmappedIds | SceneCompact), scene);
    }
}

TEST_F(SceneRoundTrip, CompactReferencesReachNodesWhoseIdsWereTaken) {
    const std::string compact =
        LoadAndSave(TreeScene, SceneKeepUnmappedIds, EditorSave | SceneCompact);
    TheIdMap().Clear();
    for (int index = 0; index < 4; ++index) {
        Make(); // ids 1 to 4 taken
    }
    auto* first =
        static_cast<SlItem*>(Load(compact, SceneKeepUnmappedIds | SceneCompact)->GetFirstChild());
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(first->GetName(), "first");
    EXPECT_EQ(first->target.value >> PortShift, 3u);
    Entity* target = LookupEntity(first->target.value);
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->GetName(), "last");
}

TEST_F(SceneRoundTrip, RawIdsKeepPortsOfEightAndUp) {
    const std::string raw = LoadAndSave(ChainScene, SceneKeepUnmappedIds, EditorSave | SceneRawIds);
    EXPECT_NE(raw.find("\ttarget = 4026531843\n"), std::string::npos); // 3-15
    EXPECT_EQ(LoadAndSave(raw, SceneKeepUnmappedIds | SceneRawIds), ChainScene);
}

TEST_F(SceneRoundTrip, AClonePointsAtItsOwnCopiesAndOutsideOnlyWhenAsked) {
    Node* root = Make();
    Node* outside = Make(root);
    auto* top = Make<SlItem>(root);
    auto* inner = Make<SlItem>(top);
    top->target.value = inner->GetId() | 2u << PortShift;
    inner->target.value = outside->GetId();

    auto* copy = static_cast<SlItem*>(Keep(CloneNode(*top, false, false, false)));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->GetParent(), nullptr);
    auto* copiedInner = static_cast<SlItem*>(copy->GetFirstChild());
    ASSERT_NE(copiedInner, nullptr);
    EXPECT_NE(copiedInner, inner);
    EXPECT_EQ(copy->target.value, copiedInner->GetId() | 2u << PortShift);
    EXPECT_EQ(copiedInner->target.value, 0u);

    auto* kept = static_cast<SlItem*>(Keep(CloneNode(*top, true, false, false)));
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(static_cast<SlItem*>(kept->GetFirstChild())->target.value, outside->GetId());

    auto* alone = Keep(CloneNode(*top, true, true, false));
    ASSERT_NE(alone, nullptr);
    EXPECT_EQ(alone->GetChildCount(), 0);
    EXPECT_EQ(static_cast<SlItem*>(alone)->target.value, inner->GetId() | 2u << PortShift);
}

TEST_F(SceneRoundTrip, ACloneKeepsTextsLongerThanAKilobytePerNode) {
    auto* item = Make<SlItem>();
    item->label = std::string(12000, 'x');
    for (int index = 0; index < 20; ++index) {
        Make<SlItem>(item)->label = std::string(3000, 'y');
    }
    auto* copy = static_cast<SlItem*>(Keep(CloneNode(*item, false, false, false)));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->label.size(), item->label.size());
    EXPECT_TRUE(copy->label == item->label);
    EXPECT_EQ(copy->GetChildCount(), 20);
    EXPECT_TRUE(static_cast<SlItem*>(copy->GetLastChild())->label == std::string(3000, 'y'));
}

TEST_F(SceneRoundTrip, CustomDeclarationsReadBackAsTheyWereWritten) {
    ClassInfo* custom = nullptr;
    const std::string declared = "int count <\"0,10\">\nfloat speed\nint3 corner\nNode target\n"
                                 "bogus skipped\nstring label\n}";
    BufferFile file(declared.data(), static_cast<uint32_t>(declared.size()));
    ASSERT_TRUE(ReadCustomDeclarations(nullptr, file, &custom));
    ASSERT_NE(custom, nullptr);
    EXPECT_STREQ(custom->GetName(), "custom");
    ASSERT_EQ(custom->GetOwnProperties().size(), 4u); // int3 has no descriptor
    EXPECT_STREQ(custom->GetOwnProperties()[0]->GetRange(), "0,10");
    EXPECT_TRUE(custom->GetOwnProperties()[2]->IsEntityReference());

    GrowingOutputStream out;
    WriteCustomDeclarations(out, *custom);
    EXPECT_EQ(out.GetText(), "int count <\"0,10\">\nfloat speed\nNode target\nstring label\n");

    // Read again over the same record: kept where the kind stays, replaced where it changed,
    // removed where no longer declared.
    Property* count = custom->GetOwnProperties()[0].get();
    Property* target = custom->GetOwnProperties()[2].get();
    const std::string changed = "int count\nint speed\nNode target\n}";
    BufferFile again(changed.data(), static_cast<uint32_t>(changed.size()));
    ASSERT_TRUE(ReadCustomDeclarations(nullptr, again, &custom));
    ASSERT_EQ(custom->GetOwnProperties().size(), 3u);
    EXPECT_EQ(custom->GetOwnProperties()[0].get(), count);
    EXPECT_EQ(custom->GetOwnProperties()[1].get(), target);
    EXPECT_STREQ(custom->GetOwnProperties()[2]->GetName(), "speed");
    EXPECT_EQ(custom->GetOwnProperties()[2]->GetKind(), KindInt);
    delete custom; // clears the slot
}

// Thousands of damaged copies of the scenes above, made the same way every run: each loads or
// fails without fault, leaves no node behind once its tree is deleted, and saves again.
TEST_F(SceneRoundTrip, DamagedScenesLoadOrFailCleanly) {
    std::vector<std::string> bases = {TreeScene, ChainScene};
    bases.push_back(LoadAndSave(TreeScene, SceneKeepUnmappedIds, EditorSave | SceneCompact));
    const char* const pieces[] = {"{", "}", "obj",   "\"",         "=",     "0x",        "\n",  ".",
                                  "-", "0", "99999", "4294967295", "class", "parent = ", "\xff"};
    const uint32_t flagChoices[] = {SceneKeepUnmappedIds,
                                    SceneKeepUnmappedIds | SceneReuseNodes,
                                    SceneKeepUnmappedIds | SceneForceFileIds,
                                    SceneKeepNodeIds | SceneSystemZeroPaths,
                                    SceneKeepUnmappedIds | SceneRawIds,
                                    SceneKeepUnmappedIds | SceneTransientProperties};
    std::minstd_rand random(20240611u);
    auto below = [&random](size_t limit) { return limit == 0 ? 0 : random() % limit; };
    const int baseline = Node::classInfo->GetInstanceCountRecursive();

    for (int round = 0; round < 3000; ++round) {
        const size_t which = below(bases.size());
        const bool compact = which == 2;
        std::string bytes = bases[which];
        for (int edits = 1 + static_cast<int>(below(3)); edits > 0 && !bytes.empty(); --edits) {
            const size_t at = below(bytes.size());
            switch (below(5)) {
            case 0:
                bytes[at] = static_cast<char>(random() & 0xFF);
                break;
            case 1:
                bytes.erase(at, 1 + below(12));
                break;
            case 2:
                bytes.insert(at, pieces[below(std::size(pieces))]);
                break;
            case 3:
                bytes.insert(at, bytes.substr(below(bytes.size()), below(40)));
                break;
            default:
                bytes.resize(at);
                break;
            }
        }
        if (round % 64 == 0) {
            TheIdMap().Clear(); // released ids are never handed out again until then
        }
        Node* holder = Make();
        uint32_t flags = flagChoices[below(std::size(flagChoices))];
        if (compact) {
            flags |= SceneCompact;
        }
        BufferFile file(bytes.data(), static_cast<uint32_t>(bytes.size()));
        SceneLoader loader("damaged.scene", 0, flags, holder, nullptr);
        loader.Load(file);
        ASSERT_NE(Entity::FindBySerial(holder->GetSerial()), nullptr) << round;
        GrowingOutputStream out;
        SceneTextWriter writer;
        writer.Begin(out, "", 0);
        WriteNodeTree(writer, *holder, 0, SceneWriteRoot);
        holder->Delete();
        ASSERT_EQ(Node::classInfo->GetInstanceCountRecursive(), baseline) << round;
    }
}

} // namespace
} // namespace quarn
