#include "core/scenefile/SceneCompactFormat.h"

#include "core/scenefile/SceneReferences.h"
#include "core/string/NumberText.h"
#include "tests/core/scenefile/SceneTestSupport.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::SlItem;
using test::Written;

class SceneCompact : public test::SceneTestBase {
protected:
    static Written Write(const std::vector<Entity*>& objects, int32_t idSystem = 0,
                         uint32_t flags = 0, int32_t nodeCount = -1) {
        SceneHeader header = test::BlockHeader(idSystem);
        header.nodeCount = nodeCount;
        return test::WriteBlocks<SceneCompactWriter>(objects, flags, header);
    }

    // The loader's protocol over `bytes`: the first pass maps every stored id to itself plus
    // 100, the second reads each block into `into` (fresh items when it runs short). False
    // when the header is refused.
    bool Read(const std::string& bytes, std::vector<SlItem*> into = {},
              SceneHeader* header = nullptr, std::vector<std::string>* classes = nullptr) {
        BufferFile file(bytes.data(), static_cast<uint32_t>(bytes.size()));
        SceneCompactReader reader;
        reader.Begin(file, "test.scn", nullptr);
        SceneHeader scratch;
        if (!reader.ReadHeader(header ? *header : scratch)) {
            return false;
        }
        int blocks = 0;
        std::string id;
        std::string className;
        for (; reader.NextObject(); ++blocks) {
            if (reader.ReadObject(id, &className)) {
                const uint32_t stored = ParseUInt32(id.c_str());
                reader.MapId(stored, stored + 100);
                if (classes) {
                    classes->push_back(className);
                }
            }
        }
        reader.Rewind();
        std::string key;
        std::string value;
        for (size_t i = 0; i < static_cast<size_t>(blocks); ++i) {
            if (i >= into.size()) {
                into.push_back(Make<SlItem>());
            }
            if (reader.ReadObject(id, nullptr)) {
                while (reader.ReadProperty(*into[i], key, value)) {
                }
            }
        }
        return true;
    }
};

// Round trips ------------------------------------------------------------------------------------

TEST_F(SceneCompact, HeaderAndEveryKindOfValueRoundTrip) {
    SlItem* first = Make<SlItem>();
    first->label = "two\nlines }";
    first->tag = String64("in place");
    first->target.value = 3u << 28 | 2;
    SlItem* second = Make<SlItem>();
    second->label = std::string(9000, 'z');
    SceneHeader withBranches = test::BlockHeader();
    withBranches.includeBranches = true;
    Written written = test::WriteBlocks<SceneCompactWriter>({first, second}, 0, withBranches);
    ASSERT_TRUE(written.finished) << written.error;

    SlItem* firstRead = Make<SlItem>();
    firstRead->count = 9; // the default is stored too, and overwrites this
    SlItem* secondRead = Make<SlItem>();
    SceneHeader header;
    std::vector<std::string> classes;
    ASSERT_TRUE(Read(written.bytes, {firstRead, secondRead}, &header, &classes));
    EXPECT_TRUE(header.includeBranches);
    EXPECT_EQ(header.nodeCount, 2);
    EXPECT_EQ(classes, (std::vector<std::string>{"SlItem", "SlItem"}));
    EXPECT_EQ(firstRead->count, 0);
    EXPECT_EQ(firstRead->label, first->label);
    EXPECT_STREQ(firstRead->tag.text, "in place");
    // Stored ids reach whatever the first pass mapped them to; the port stays.
    EXPECT_EQ(firstRead->target.value, 3u << 28 | 102);
    EXPECT_EQ(secondRead->label, second->label);
}

TEST_F(SceneCompact, ShortBlocksUseOneByteLengthsAndOneLongBlockMakesThemAllTwo) {
    SlItem* object = Make<SlItem>();
    Written shortFile = Write({object, object});
    ASSERT_TRUE(shortFile.finished);
    EXPECT_EQ(shortFile.bytes.back(), 1);
    const uint8_t length = static_cast<uint8_t>(shortFile.bytes[shortFile.bytes.size() - 2]);
    EXPECT_EQ(shortFile.bytes.size(), 7u + 2u * length + 2u + 1u);

    object->label = std::string(300, 'x');
    Written longFile = Write({object, object});
    ASSERT_TRUE(longFile.finished);
    EXPECT_EQ(longFile.bytes.back(), 2);
    SlItem* second = Make<SlItem>();
    ASSERT_TRUE(Read(longFile.bytes, {Make<SlItem>(), second}));
    EXPECT_EQ(second->label, object->label);
}

TEST_F(SceneCompact, CustomPropertiesFollowTheClassesAndAnUnknownNumberEndsOnlyItsBlock) {
    ClassInfo* custom = new ClassInfo("custom", nullptr, &custom);
    custom->SetCustomBase(SlItem::RegisterClass());
    Property* speed = custom->AddProperty("speed", std::make_unique<PropertyInt>());
    SlItem* extended = Make<SlItem>();
    extended->custom = custom;
    const uint32_t seven = 7;
    extended->SetPropertyValue(*speed, &seven);
    SlItem* plain = Make<SlItem>();
    plain->label = "kept";
    Written written = Write({extended, plain});
    ASSERT_TRUE(written.finished) << written.error;
    const char number = static_cast<char>(SlItem::classInfo->GetPropertyCount());
    EXPECT_NE(written.bytes.find(number + std::string("\x07\0\0\0\xFF", 5)), std::string::npos);

    SlItem* withCustom = Make<SlItem>();
    withCustom->custom = custom;
    SlItem* second = Make<SlItem>();
    ASSERT_TRUE(Read(written.bytes, {withCustom, second}));
    EXPECT_EQ(withCustom->customValues[speed][0], 7u);
    // Without the custom class the number selects nothing; the next block still reads.
    SlItem* withoutCustom = Make<SlItem>();
    SlItem* third = Make<SlItem>();
    ASSERT_TRUE(Read(written.bytes, {withoutCustom, third}));
    EXPECT_EQ(third->label, "kept");
    extended->custom = withCustom->custom = nullptr;
    delete custom;
}

// What the writer cannot keep fails the file ------------------------------------------------------

TEST_F(SceneCompact, NumbersAbove254LongBlocksAndAWrongBlockCountFailTheFile) {
    Written wide = Write({Make<test::SlMany>()});
    EXPECT_FALSE(wide.finished);
    // Number 255 is "p251": the node's own four properties come first.
    EXPECT_NE(wide.error.find("p251"), std::string::npos) << wide.error;

    SlItem* object = Make<SlItem>();
    object->label = std::string(70000, 'x');
    Written longBlock = Write({object});
    EXPECT_FALSE(longBlock.finished);
    EXPECT_EQ(longBlock.bytes.back(), '\xFF'); // the block's end; no table after it

    object->label.clear();
    EXPECT_FALSE(Write({object}, 0, 0, 2).finished);
}

TEST_F(SceneCompact, OnlyReferencesTheTextFormWouldKeepAreReportedLost) {
    SlItem* branch = Make<SlItem>();
    branch->ChangeId(7);
    const uint32_t system = static_cast<uint32_t>(TheIdMap().AllocateScene(branch));
    SlItem* sceneNode = Make<SlItem>();
    sceneNode->ChangeId(5);
    SlItem* inner = Make<SlItem>();
    inner->ChangeId(system << 16 | 3);

    // Inside the branch, a node of the opened scene is "0" in text without SceneSystemZeroPaths.
    inner->target.value = 5;
    EXPECT_TRUE(Write({inner}, static_cast<int32_t>(system), 0).finished);
    EXPECT_FALSE(Write({inner}, static_cast<int32_t>(system), SceneSystemZeroPaths).finished);
    // From the opened scene, a node inside the branch is "7.3" in text.
    sceneNode->target.value = system << 16 | 3;
    Written written = Write({sceneNode});
    EXPECT_FALSE(written.finished);
    EXPECT_NE(written.error.find("target"), std::string::npos);
}

// A stored reference without a local id names no node, whatever port it carries: not one of a
// branch the file includes, nor an object the first pass found without a usable id.
TEST_F(SceneCompact, AReferenceWithoutALocalIdReadsAsNone) {
    SlItem* object = Make<SlItem>();
    object->target.value = 2u << 28;
    for (bool branches : {false, true}) {
        SceneHeader header = test::BlockHeader();
        header.includeBranches = branches;
        const Written written = test::WriteBlocks<SceneCompactWriter>({object}, 0, header);
        ASSERT_TRUE(written.finished) << written.error;
        BufferFile file(written.bytes.data(), static_cast<uint32_t>(written.bytes.size()));
        SceneCompactReader reader;
        reader.Begin(file, "test.scn", nullptr);
        ASSERT_TRUE(reader.ReadHeader(header));
        reader.MapId(0, 7); // as the loader does for an object whose id it could not use
        ASSERT_TRUE(reader.NextObject());
        std::string id;
        std::string key;
        ASSERT_TRUE(reader.ReadObject(id, nullptr));
        SlItem* read = Make<SlItem>();
        while (reader.ReadProperty(*read, key, id)) {
        }
        EXPECT_EQ(read->target.value, 0u) << branches;
    }
}

// A reference into a branch the file includes keeps its id when that node is there; one naming
// no node waits for the end of the load, as the text form's do, and is dropped when none comes.
TEST_F(SceneCompact, AReferenceIntoAnIncludedBranchWaitsForItsNode) {
    SlItem* branch = Make<SlItem>();
    const uint32_t system = static_cast<uint32_t>(TheIdMap().AllocateScene(branch));
    SlItem* inner = Make<SlItem>();
    inner->ChangeId(system << 16 | 3);
    SlItem* object = Make<SlItem>();
    object->target.value = 2u << 28 | system << 16 | 3;
    SceneHeader header = test::BlockHeader();
    header.includeBranches = true;
    const Written written =
        test::WriteBlocks<SceneCompactWriter>({object}, SceneIncludeBranches, header);
    ASSERT_TRUE(written.finished) << written.error;
    for (bool there : {true, false}) {
        if (!there) {
            inner->Delete();
        }
        TheSceneLoadState().pending.clear();
        SlItem* read = Make<SlItem>();
        ASSERT_TRUE(Read(written.bytes, {read}));
        EXPECT_EQ(read->target.value, there ? object->target.value : 0u);
        EXPECT_EQ(GetPendingReferenceCount(), there ? 0 : 1);
    }
}

// Broken input ------------------------------------------------------------------------------------

TEST_F(SceneCompact, ATableThatDoesNotDescribeTheBlocksOrAnUnendedIdIsRefused) {
    SlItem* object = Make<SlItem>();
    const std::string bytes = Write({object, object}).bytes;
    ASSERT_TRUE(Read(bytes));
    std::string badWidth = bytes;
    badWidth.back() = 3;
    std::string moreNodes = bytes;
    moreNodes[5] = 40; // node count: the table would be read from inside the blocks
    std::string badLength = bytes;
    badLength[badLength.size() - 2] = static_cast<char>(badLength[badLength.size() - 2] + 1);
    for (const std::string& broken :
         {badWidth, moreNodes, badLength, std::string("\x2C\x00\x00", 3)}) {
        EXPECT_FALSE(Read(broken)) << broken.size();
    }

    // Header (version 44, one node), a block "1234" without zero, its length, the width.
    const std::string unended("\x2C\x00\x00\x00\x00\x01\x00"
                              "1234\x04\x01",
                              13);
    BufferFile file(unended.data(), static_cast<uint32_t>(unended.size()));
    SceneCompactReader reader;
    reader.Begin(file, "", nullptr);
    SceneHeader header;
    ASSERT_TRUE(reader.ReadHeader(header));
    ASSERT_TRUE(reader.NextObject());
    std::string id;
    EXPECT_FALSE(reader.ReadObject(id, nullptr));
    EXPECT_FALSE(reader.NextObject());
}

} // namespace
} // namespace quarn
