#include "core/scenefile/SceneSaver.h"

#include "core/scenefile/VersionControl.h"
#include "tests/core/scenefile/SceneTestSupport.h"
#include "tests/support/CapturingLogSink.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::EditorSave;
using test::SlItem;
using test::SlNamed;

class SceneSaving : public test::SceneTestBase {
protected:
    // root(1) { item(2) { node(3) }, item(4) -> item 2, port 1 }
    Node* MakeTree() {
        Node* root = Make();
        auto* item = Make<SlItem>(root);
        Make(item);
        auto* last = Make<SlItem>(root);
        item->count = 3;
        item->label = "a b";
        last->target.value = item->GetId() | 1u << PortShift;
        return root;
    }

    static size_t Count(const std::string& text, const std::string& part) {
        size_t count = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++count;
        }
        return count;
    }
};

TEST_F(SceneSaving, TheRootIsWrittenOnlyWhenAskedAndChildrenFollowTheirParent) {
    Node* root = MakeTree();
    EXPECT_EQ(WriteScene(*root, EditorSave & ~SceneWriteRoot),
              "version = 44\nidsystem = 0\nnum_nodes = 3\n"
              "obj2 {\n\tclass = \"SlItem\"\n\tname = \"\"\n\tparent = 1\n\tflags = 1\n"
              "\tcount = 3\n\tlabel = \"a b\"\n\toffset = 0.000000,0.000000,0.000000\n"
              "\ttag = \n\ttarget = 0\n}\n"
              "obj3 {\n\tclass = \"Node\"\n\tname = \"\"\n\tparent = 2\n\tflags = 1\n}\n"
              "obj4 {\n\tclass = \"SlItem\"\n\tname = \"\"\n\tparent = 1\n\tprev = 2\n"
              "\tflags = 1\n\tlabel = \"\"\n\toffset = 0.000000,0.000000,0.000000\n"
              "\ttag = \n\ttarget = 2-1\n}\n");
    const std::string withRoot = WriteScene(*root, EditorSave);
    EXPECT_EQ(withRoot.rfind("version = 44\nidsystem = 0\nnum_nodes = 4\nobj1 {\n", 0), 0u);
    EXPECT_EQ(Count(withRoot, "\nobj"), 4u);
    // Transient properties only when asked.
    static_cast<SlItem*>(root->GetFirstChild())->cache = 5;
    EXPECT_EQ(WriteScene(*root, EditorSave).find("cache"), std::string::npos);
    EXPECT_NE(WriteScene(*root, EditorSave | SceneTransientProperties).find("\tcache = 5\n"),
              std::string::npos);
}

TEST_F(SceneSaving, AClassIsWrittenUnderItsShortNameOrItsNativeBase) {
    ClassInfo* versioned = SlNamed<10>::Ensure("SlPlain_v2");
    Node* node = Keep(static_cast<Node*>(versioned->CreateInstance()));
    node->SetIdSystem(0);
    EXPECT_NE(WriteScene(*node, EditorSave).find("class = \"SlPlain\""), std::string::npos);

    ClassInfo* scripted = SlNamed<11>::Ensure("SlScripted");
    scripted->SetFlags(scripted->GetFlags() & ~ClassNative);
    Node* other = Keep(static_cast<Node*>(scripted->CreateInstance()));
    other->SetIdSystem(0);
    EXPECT_NE(WriteScene(*other, EditorSave).find("class = \"SlScripted\""), std::string::npos);
    EXPECT_NE(WriteScene(*other, EditorSave | SceneNativeClasses).find("class = \"Node\""),
              std::string::npos);
}

TEST_F(SceneSaving, AClosedNodeCountsOneAndKeepsItsChildrenUnlessBranchesAreIncluded) {
    ClassInfo* closed = SlNamed<12>::Ensure("SlClosed");
    closed->SetFlags(closed->GetFlags() | ClassClosed);
    Node* root = Make();
    auto* branch = static_cast<Node*>(closed->CreateInstance());
    branch->AttachAsLast(root);
    for (int index = 0; index < 3; ++index) {
        Make(branch);
    }
    EXPECT_EQ(CountSavedNodes(*root), 2);
    const std::string alone = WriteScene(*root, EditorSave);
    EXPECT_EQ(Count(alone, "\nobj"), 2u);
    const std::string whole = WriteScene(*root, EditorSave | SceneIncludeBranches);
    EXPECT_NE(whole.find("\ninclude_branches\nnum_nodes = 2\n"), std::string::npos);
    EXPECT_EQ(Count(whole, "\nobj"), 5u);

    // The compact form counts every block it writes, or its table could not be found.
    const std::string compact = WriteScene(*root, EditorSave | SceneIncludeBranches | SceneCompact);
    ASSERT_FALSE(compact.empty());
    TheIdMap().Clear();
    BufferFile file(compact.data(), static_cast<uint32_t>(compact.size()));
    SceneLoader loader("", 0, SceneKeepUnmappedIds | SceneCompact, nullptr, nullptr);
    Node* copy = Keep(loader.Load(file));
    EXPECT_EQ(loader.GetObjectCount(), 5);
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy->GetFirstChild(), nullptr);
    EXPECT_EQ(copy->GetFirstChild()->GetChildCount(), 3);
}

bool refuseSaves(const char*, int mode) {
    return mode != VersionControlSaveMode;
}

bool refuseAll(const char*, int) {
    return false;
}

TEST_F(SceneSaving, AFailedSaveLeavesTheOldFileAsItWas) {
    Node* root = MakeTree();
    MemoryFileSystem files;
    SetFileSystem(&files);
    NoteWriteSucceeded(); // a failure the tests before this one told is not told again
    files.MarkReadOnly("locked.scene");
    {
        test::CapturingLogSink log;
        EXPECT_FALSE(SaveSceneFile("locked.scene", *root, 0, EditorSave));
        ASSERT_EQ(log.Lines().size(), 1u);
        EXPECT_EQ(log.Lines()[0].text, "Scene locked.scene cannot be written: Permission denied");
    }

    // Every file may be saved and edited unless the version-control hooks refuse.
    EXPECT_TRUE(VersionControlOpenForEdit("a.branch", 1));
    EXPECT_EQ(GetVersionControl(), nullptr);
    SetVersionControlHooks(refuseSaves, refuseAll);
    EXPECT_FALSE(SaveSceneFile("refused.scene", *root, 0, EditorSave));
    EXPECT_FALSE(VersionControlOpenForEdit("a.branch", 1));
    SetVersionControlHooks(nullptr, nullptr);
    EXPECT_TRUE(VersionControlCheckSave(nullptr, VersionControlSaveMode));

    // Numbers past what one byte of the compact form holds would be lost.
    Make<test::SlMany>(root);
    EXPECT_FALSE(SaveSceneFile("lossy.scn", *root, 0, EditorSave | SceneCompact));
    EXPECT_TRUE(SaveSceneFile("fine.scene", *root, 0, EditorSave));

    files.FailCloses();
    EXPECT_FALSE(SaveSceneFile("full.scene", *root, 0, EditorSave));
    SetFileSystem(nullptr);
    for (const char* path : {"locked.scene", "refused.scene", "lossy.scn", "full.scene"}) {
        EXPECT_EQ(files.Written(path), nullptr) << path;
    }
    EXPECT_NE(files.Written("fine.scene"), nullptr);
}

// Every reader takes a file's form from its name: a compact name holds the compact form whether
// or not the caller asked for it, in any letter case; other names keep the form asked.
TEST_F(SceneSaving, ACompactNameHoldsTheCompactFormAsked) {
    Node* root = MakeTree();
    MemoryFileSystem files;
    SetFileSystem(&files);
    ASSERT_TRUE(SaveSceneFile("asked.scn", *root, 0, EditorSave | SceneCompact));
    for (const char* path : {"a.scn", "b.bscn", "c.SCN", "d.Bscn"}) {
        ASSERT_TRUE(SaveSceneFile(path, *root, 0, EditorSave)) << path;
    }
    ASSERT_TRUE(SaveSceneFile("text.scene", *root, 0, EditorSave));
    ASSERT_TRUE(SaveSceneFile("text.scn.scene", *root, 0, EditorSave));
    SetFileSystem(nullptr);
    const std::string* asked = files.Written("asked.scn");
    ASSERT_NE(asked, nullptr);
    for (const char* path : {"a.scn", "b.bscn", "c.SCN", "d.Bscn"}) {
        ASSERT_NE(files.Written(path), nullptr) << path;
        EXPECT_EQ(*files.Written(path), *asked) << path;
    }
    ASSERT_NE(files.Written("text.scene"), nullptr);
    EXPECT_NE(*files.Written("text.scene"), *asked);
    EXPECT_EQ(*files.Written("text.scn.scene"), *files.Written("text.scene"));
}

} // namespace
} // namespace quarn
