#include "core/scenefile/SceneCompactFormat.h"

#include "core/io/MemoryOutputStream.h"
#include "core/object/IdMap.h"
#include "core/string/NumberText.h"
#include "tests/core/scenefile/SceneFormatTestSupport.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::OwnedBufferFile;
using test::SfThing;
using test::TestClass;

// More properties than a record number can name.
class ScWide : public TestClass<ScWide> {
public:
    static constexpr const char* Name = "ScWide";
    static void Declare(ClassInfo& info) {
        for (int i = 0; i < 300; ++i) {
            std::string name = "p";
            name += std::to_string(i);
            info.AddProperty(name.c_str(), std::make_unique<PropertyInt>());
        }
    }
};

struct Written {
    std::string bytes;
    bool finished = false;
    std::string error;
};

class SceneCompact : public ::testing::Test {
protected:
    void SetUp() override {
        SfThing::RegisterClass();
        TheIdMap().Clear();
    }
    void TearDown() override { TheIdMap().Clear(); }

    // Writes a header and one block per object, the id text being the object's local id.
    static Written Write(const std::vector<Entity*>& objects, int32_t idSystem = 0,
                         uint32_t flags = 0, int32_t nodeCount = -1, bool includeBranches = false) {
        MemoryOutputStream stream(1 << 20);
        SceneCompactWriter writer;
        writer.Begin(stream, "test.scn", 0);
        SceneHeader header;
        header.version = SceneFormatVersion;
        header.idSystem = idSystem;
        header.includeBranches = includeBranches;
        header.nodeCount = nodeCount >= 0 ? nodeCount : static_cast<int32_t>(objects.size());
        writer.WriteHeader(header);
        for (Entity* object : objects) {
            writer.BeginObject(*object, std::to_string(object->GetId() & 0xFFFF).c_str(),
                               object->GetClass()->GetName());
            for (int p = 0; p < object->GetPropertyCount(); ++p) {
                writer.WriteProperty(*object, *object->GetProperty(p), flags);
            }
            if (ClassInfo* custom = object->GetCustomClass()) {
                for (const auto& property : custom->GetOwnProperties()) {
                    writer.WriteProperty(*object, *property, flags);
                }
            }
            writer.EndObject();
        }
        Written written;
        written.finished = writer.Finish();
        written.error = writer.GetError();
        written.bytes.assign(stream.GetData(), stream.GetPosition());
        return written;
    }

    // The loader's protocol over `bytes`: the first pass maps every stored id to itself plus
    // 100, the second reads each block into `into` (fresh objects when it runs short). False
    // when the header is refused.
    static bool Read(const std::string& bytes, std::vector<SfThing*> into = {},
                     SceneHeader* headerOut = nullptr,
                     std::vector<std::string>* classes = nullptr) {
        OwnedBufferFile file(bytes);
        SceneCompactReader reader;
        reader.Begin(file, "test.scn", nullptr);
        SceneHeader header;
        if (headerOut) {
            header = *headerOut;
        }
        if (!reader.ReadHeader(header)) {
            return false;
        }
        if (headerOut) {
            *headerOut = header;
        }
        int blocks = 0;
        std::string id;
        std::string className;
        while (reader.NextObject()) {
            if (reader.ReadObject(id, &className)) {
                uint32_t stored = ParseUInt32(id.c_str());
                reader.MapId(stored, stored + 100);
                if (classes) {
                    classes->push_back(className);
                }
            }
            ++blocks;
        }
        std::vector<std::unique_ptr<SfThing>> spare;
        reader.Rewind();
        std::string key;
        std::string value;
        for (int i = 0; i < blocks; ++i) {
            if (static_cast<size_t>(i) >= into.size()) {
                spare.push_back(std::make_unique<SfThing>());
                into.push_back(spare.back().get());
            }
            if (!reader.ReadObject(id, nullptr)) {
                continue;
            }
            while (reader.ReadProperty(*into[static_cast<size_t>(i)], key, value)) {
            }
        }
        return true;
    }
};

// Round trips ------------------------------------------------------------------------------------

TEST_F(SceneCompact, HeaderAndEveryKindOfValueRoundTrip) {
    SfThing first;
    first.ChangeId(1);
    first.label = "two\nlines }";
    first.tag = String64("in place");
    first.target.value = 3u << 28 | 2;
    SfThing second;
    second.ChangeId(2);
    second.label = std::string(9000, 'z');
    Written written = Write({&first, &second}, 0, 0, -1, true);
    ASSERT_TRUE(written.finished) << written.error;

    SfThing firstRead;
    firstRead.count = 9; // the default is stored too, and overwrites this
    SfThing secondRead;
    SceneHeader header;
    header.globalId.words[2] = 5;
    std::vector<std::string> classes;
    ASSERT_TRUE(Read(written.bytes, {&firstRead, &secondRead}, &header, &classes));
    EXPECT_EQ(header.version, 44);
    EXPECT_EQ(header.idSystem, 0);
    EXPECT_TRUE(header.includeBranches);
    EXPECT_EQ(header.nodeCount, 2);
    EXPECT_EQ(header.globalId.words[2], 5u);
    EXPECT_EQ(classes, (std::vector<std::string>{"SfThing", "SfThing"}));
    EXPECT_EQ(firstRead.count, 0);
    EXPECT_EQ(firstRead.label, first.label);
    EXPECT_STREQ(firstRead.tag.text, "in place");
    // Stored ids reach whatever the first pass mapped them to; the port stays.
    EXPECT_EQ(firstRead.target.value, 3u << 28 | 102);
    EXPECT_EQ(secondRead.label, second.label);
    EXPECT_EQ(secondRead.target.value, 0u);
}

TEST_F(SceneCompact, ShortBlocksUseOneByteLengthsAndOneLongBlockMakesThemAllTwo) {
    SfThing object;
    object.ChangeId(1);
    Written shortFile = Write({&object, &object});
    ASSERT_TRUE(shortFile.finished);
    EXPECT_EQ(shortFile.bytes.back(), 1);
    uint8_t length = static_cast<uint8_t>(shortFile.bytes[shortFile.bytes.size() - 2]);
    EXPECT_EQ(shortFile.bytes.size(), 7u + 2u * length + 2u + 1u);

    object.label = std::string(300, 'x');
    Written longFile = Write({&object, &object});
    ASSERT_TRUE(longFile.finished);
    EXPECT_EQ(longFile.bytes.back(), 2);
    SfThing first;
    SfThing second;
    ASSERT_TRUE(Read(longFile.bytes, {&first, &second}));
    EXPECT_EQ(second.label, object.label);
}

TEST_F(SceneCompact, CustomPropertiesFollowTheClassesAndAnUnknownNumberEndsOnlyItsBlock) {
    ClassInfo* custom = new ClassInfo("custom", nullptr, &custom);
    custom->SetCustomBase(SfThing::RegisterClass());
    Property* speed = custom->AddProperty("speed", std::make_unique<PropertyInt>());
    SfThing extended;
    extended.ChangeId(1);
    extended.custom = custom;
    const uint32_t seven = 7;
    extended.SetPropertyValue(*speed, &seven);
    SfThing plain;
    plain.ChangeId(2);
    plain.label = "kept";
    Written written = Write({&extended, &plain});
    ASSERT_TRUE(written.finished) << written.error;
    const char number = static_cast<char>(SfThing::classInfo->GetPropertyCount());
    EXPECT_NE(written.bytes.find(number + std::string("\x07\0\0\0\xFF", 5)), std::string::npos);

    SfThing withCustom;
    withCustom.custom = custom;
    SfThing second;
    ASSERT_TRUE(Read(written.bytes, {&withCustom, &second}));
    EXPECT_EQ(withCustom.customValues[speed][0], 7u);
    // Without the custom class the number selects nothing; the next block still reads.
    SfThing withoutCustom;
    ASSERT_TRUE(Read(written.bytes, {&withoutCustom, &second}));
    EXPECT_EQ(second.label, "kept");
    delete custom;
}

// Losses the writer reports -----------------------------------------------------------------------

TEST_F(SceneCompact, APropertyNumberAbove254FailsTheFile) {
    ScWide::RegisterClass();
    auto* wide = static_cast<ScWide*>(ScWide::classInfo->CreateInstance());
    Written written = Write({wide});
    wide->Delete();
    EXPECT_FALSE(written.finished);
    // Number 255 is "p254": the entity's own "name" comes first.
    EXPECT_NE(written.error.find("p254"), std::string::npos);
}

TEST_F(SceneCompact, ABlockLongerThanATableEntryFailsTheFileWithoutATable) {
    SfThing object;
    object.label = std::string(70000, 'x');
    Written written = Write({&object});
    EXPECT_FALSE(written.finished);
    EXPECT_FALSE(written.error.empty());
    EXPECT_EQ(written.bytes.back(), '\xFF'); // the block's end; nothing after it
}

TEST_F(SceneCompact, ABlockCountOtherThanTheHeadersFailsTheFile) {
    SfThing object;
    EXPECT_FALSE(Write({&object}, 0, 0, 2).finished);
}

TEST_F(SceneCompact, OnlyReferencesTheTextFormWouldKeepAreReportedLost) {
    SfThing branch;
    branch.ChangeId(7);
    uint32_t system = static_cast<uint32_t>(TheIdMap().AllocateScene(&branch));
    SfThing sceneNode;
    sceneNode.ChangeId(5);
    SfThing inner;
    inner.ChangeId(system << 16 | 3);

    // Inside the branch, a node of the opened scene is "0" in text without SceneSystemZeroPaths.
    inner.target.value = 5;
    int32_t branchSystem = static_cast<int32_t>(system);
    EXPECT_TRUE(Write({&inner}, branchSystem, 0).finished);
    EXPECT_FALSE(Write({&inner}, branchSystem, SceneSystemZeroPaths).finished);
    // From the opened scene, a node inside the branch is "7.3" in text.
    sceneNode.target.value = system << 16 | 3;
    Written written = Write({&sceneNode}, 0, 0);
    EXPECT_FALSE(written.finished);
    EXPECT_NE(written.error.find("target"), std::string::npos);
}

// Broken input --------------------------------------------------------------------------------

TEST_F(SceneCompact, ATableThatDoesNotDescribeTheBlocksIsRefused) {
    SfThing object;
    object.ChangeId(1);
    std::string bytes = Write({&object, &object}).bytes;

    std::string badWidth = bytes;
    badWidth.back() = 3;
    EXPECT_FALSE(Read(badWidth));

    std::string moreNodes = bytes;
    moreNodes[5] = 40; // node count: the table would be read from inside the blocks
    EXPECT_FALSE(Read(moreNodes));

    std::string badLength = bytes;
    badLength[badLength.size() - 2] = static_cast<char>(badLength[badLength.size() - 2] + 1);
    EXPECT_FALSE(Read(badLength));

    EXPECT_FALSE(Read(std::string("\x2C\x00\x00", 3)));
}

TEST_F(SceneCompact, AnIdTextWithoutItsEndingZeroStaysInsideTheBlock) {
    // Header (version 44, one node), a block "1234" without zero, its length, the width.
    const std::string bytes("\x2C\x00\x00\x00\x00\x01\x00"
                            "1234\x04\x01",
                            13);
    OwnedBufferFile file(bytes);
    SceneCompactReader reader;
    reader.Begin(file, "", nullptr);
    SceneHeader header;
    ASSERT_TRUE(reader.ReadHeader(header));
    ASSERT_TRUE(reader.NextObject());
    std::string id;
    EXPECT_FALSE(reader.ReadObject(id, nullptr));
    EXPECT_FALSE(reader.NextObject());
}

TEST_F(SceneCompact, TruncatedOrAlteredFilesAreReadWithoutFault) {
    SfThing first;
    first.ChangeId(1);
    first.label = "text";
    first.target.value = 2;
    SfThing second;
    second.ChangeId(2);
    std::string bytes = Write({&first, &second}).bytes;
    for (size_t length = 0; length < bytes.size(); ++length) {
        Read(bytes.substr(0, length));
    }
    for (size_t at = 0; at < bytes.size(); ++at) {
        for (char replacement : {'\0', '\x01', '\x7F', '\xFF'}) {
            std::string altered = bytes;
            altered[at] = replacement;
            Read(altered);
        }
    }
}

} // namespace
} // namespace quarn
