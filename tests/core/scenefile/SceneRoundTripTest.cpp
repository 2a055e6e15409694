#include "core/io/BufferFile.h"
#include "core/object/Property.h"
#include "core/scenefile/CustomDeclarations.h"
#include "core/scenefile/NodeCloning.h"
#include "core/scenefile/SceneTextFormat.h"
#include "core/string/TextArena.h"
#include "tests/core/scenefile/SceneTestSupport.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::EditorSave;
using test::SlItem;

// Scenes as the writer writes them: loading and saving one gives its bytes back.
const char* const TreeScene =
    "version = 44\nidsystem = 0\nnum_nodes = 5\n"
    "obj1 {\n\tclass = \"Node\"\n\tname = \"root\"\n\tparent = 0\n"
    "\tflags = 17\n}\n"
    "obj2 {\n\tclass = \"SlItem\"\n\tname = \"first\"\n\tparent = 1\n"
    "\tflags = 1\n\tcount = -3\n\tspeed = 2.50\n\ton = 1\n"
    "\tlabel = \"two\nlines with } and obj9 {\"\n"
    "\toffset = 1.000000,-2.500000,3.000000\n\ttag = \n\ttarget = 4-3\n}\n"
    "obj7 {\n\tclass = \"Node\"\n\tname = \"\"\n\tparent = 2\n"
    "\tflags = 0\n}\n"
    "obj4 {\n\tclass = \"SlItem\"\n\tname = \"last\"\n\tparent = 1\n"
    "\tprev = 2\n\tflags = 1\n\tlabel = \"\"\n"
    "\toffset = 0.000000,0.000000,0.000000\n\ttag = \n\ttarget = 7\n}\n"
    "obj5 {\n\tclass = \"Node\"\n\tname = \"\"\n\tparent = 4\n"
    "\tflags = 1\n}\n";

const char* const ChainScene =
    "version = 44\nidsystem = 0\nnum_nodes = 4\n"
    "obj3 {\n\tclass = \"SlItem\"\n\tname = \"a\"\n\tparent = 0\n"
    "\tflags = 1\n\tlabel = \"\nstarts with a line feed\"\n"
    "\toffset = 0.000000,0.000000,0.000000\n\ttag = \n\ttarget = 3\n}\n"
    "obj9 {\n\tclass = \"SlItem\"\n\tname = \"b\"\n\tparent = 3\n"
    "\tflags = 1\n\tlabel = \"\"\n"
    "\toffset = 0.000000,0.000000,0.000000\n\ttag = x\n\ttarget = 3-15\n}\n"
    "obj10 {\n\tclass = \"SlItem\"\n\tname = \"c\"\n\tparent = 9\n"
    "\tflags = 1\n\tcount = 2147483647\n\tlabel = \"\"\n"
    "\toffset = 0.000000,0.000000,0.000000\n\ttag = \n\ttarget = 9\n}\n"
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

TEST_F(SceneRoundTrip, HandWrittenScenesSaveAsTheyWereWrittenInEitherFormAndAgainUnchanged) {
    for (const char* scene : {TreeScene, ChainScene}) {
        const std::string saved = LoadAndSave(scene);
        EXPECT_EQ(saved, scene);
        EXPECT_EQ(LoadAndSave(saved), saved);
        const std::string compact =
            LoadAndSave(scene, SceneKeepUnmappedIds, EditorSave | SceneCompact);
        ASSERT_FALSE(compact.empty());
        EXPECT_EQ(LoadAndSave(compact, SceneKeepUnmappedIds | SceneCompact), scene);
    }
}

TEST_F(SceneRoundTrip, AValueWhoseTextReadsBackAsItsDefaultIsLeftOutAsTheDefaultIs) {
    auto scene = [](const char* className, const std::string& line) {
        return std::string("version = 44\nidsystem = 0\nnum_nodes = 1\nobj1 {\n\tclass = \"") +
               className + "\"\n\tname = \"a\"\n\tparent = 0\n\tflags = 1\n" + line + "}\n";
    };
    // Each differs from its default only past the decimals its text keeps (or the whole degrees
    // a turn snaps to): written, the next save of its load left it out.
    const std::pair<const char*, const char*> cases[] = {
        {"Pivot", "\tpos = 0.0000005,0,0\n"}, {"Pivot", "\torient = 0.0000001,0,0,1\n"},
        {"Pivot", "\tscale = 1.0000001\n"},   {"SlItem", "\tspeed = 0.004\n"},
        {"SlItem", "\tspeed = -0.004\n"},
    };
    for (const auto& [className, line] : cases) {
        const std::string saved = LoadAndSave(scene(className, line));
        EXPECT_EQ(saved, LoadAndSave(scene(className, ""))) << line;
        EXPECT_EQ(LoadAndSave(saved), saved) << line;
    }
    // One that reads back as another value is kept.
    EXPECT_NE(LoadAndSave(scene("SlItem", "\tspeed = 0.006\n")).find("\tspeed = 0.01\n"),
              std::string::npos);
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

    // Texts longer than a kilobyte per node are kept whole.
    top->label = std::string(12000, 'x');
    for (int index = 0; index < 20; ++index) {
        Make<SlItem>(top)->label = std::string(3000, 'y');
    }
    copy = static_cast<SlItem*>(Keep(CloneNode(*top, false, false, false)));
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->label == top->label);
    EXPECT_EQ(copy->GetChildCount(), 21);
    EXPECT_TRUE(static_cast<SlItem*>(copy->GetLastChild())->label == std::string(3000, 'y'));
}

// Names pass the temporary-text ring on their way in and out; the ring is used in between. A
// compact object holds at most 65,535 bytes, so the longer names fail that save whole.
TEST_F(SceneRoundTrip, LongNamesComeBackWholeInBothForms) {
    for (size_t length : {size_t{10000}, size_t{100000}}) {
        std::string scene = "version = 44\nidsystem = 0\nnum_nodes = 20\n";
        for (int n = 1; n <= 20; ++n) {
            scene += "obj" + std::to_string(n) + " {\n\tclass = \"Node\"\n\tname = \"" +
                     std::string(length, static_cast<char>('a' + n)) +
                     "\"\n\tparent = " + std::to_string(n - 1) + "\n\tflags = 1\n}\n";
        }
        TheIdMap().Clear();
        Node* root = Load(scene);
        ASSERT_NE(root, nullptr);
        PutTempString(std::string(40000, 'r'));
        EXPECT_TRUE(WriteScene(*root) == scene) << length;
        PutTempString(std::string(40000, 'r'));
        const std::string compact = WriteScene(*root, EditorSave | SceneCompact);
        if (length > 65535) {
            EXPECT_TRUE(compact.empty());
            continue;
        }
        EXPECT_TRUE(LoadAndSave(compact, SceneKeepUnmappedIds | SceneCompact) == scene);
    }
}

TEST_F(SceneRoundTrip, CustomDeclarationsReadBackAsTheyWereWritten) {
    ClassInfo* custom = nullptr;
    // Kind names are read without case, class names exactly.
    const std::string declared = "int count <\"0,10\">\nFLOAT speed\nint3 corner\nNode target\n"
                                 "node skipped\nstring label\n}";
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

} // namespace
} // namespace quarn
