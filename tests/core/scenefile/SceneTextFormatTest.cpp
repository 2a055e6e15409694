#include "core/scenefile/SceneTextFormat.h"

#include "core/io/BufferFile.h"
#include "core/io/MemoryOutputStream.h"
#include "core/object/IdMap.h"
#include "tests/core/scenefile/SceneFormatTestSupport.h"
#include "tests/support/CapturingLogSink.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::OwnedBufferFile;
using test::SfThing;

std::vector<std::string> reportedErrors;

void RecordError(const char* error) {
    reportedErrors.push_back(error);
}

class SceneText : public ::testing::Test {
protected:
    void SetUp() override {
        SfThing::RegisterClass();
        TheIdMap().Clear();
        reportedErrors.clear();
    }
    void TearDown() override { TheIdMap().Clear(); }

    // Writes a header and one block per object, each property with `flags`.
    std::string Write(const std::vector<SfThing*>& objects, int32_t idSystem = 0,
                      uint32_t flags = 0, Guid guid = Guid()) {
        MemoryOutputStream stream(1 << 20);
        SceneTextWriter writer;
        writer.Begin(stream, "test.scene", 0);
        SceneHeader header;
        header.version = SceneFormatVersion;
        header.globalId = guid;
        header.idSystem = idSystem;
        header.nodeCount = static_cast<int32_t>(objects.size());
        writer.WriteHeader(header);
        for (size_t i = 0; i < objects.size(); ++i) {
            SfThing& object = *objects[i];
            writer.BeginObject(object, std::to_string(i + 1).c_str(), "SfThing");
            for (int p = 0; p < object.GetPropertyCount(); ++p) {
                writer.WriteProperty(object, *object.GetProperty(p), flags);
            }
            writer.EndObject();
        }
        EXPECT_TRUE(writer.Finish());
        return std::string(stream.GetData(), stream.GetPosition());
    }

    // The key/value pairs of the next block, in file order, read by the loader's second pass.
    std::vector<std::pair<std::string, std::string>> ReadBlock(SceneTextReader& reader,
                                                               std::string* id = nullptr) {
        std::string idText;
        std::string className;
        EXPECT_TRUE(reader.ReadObject(idText, &className));
        if (id) {
            *id = idText;
        }
        std::vector<std::pair<std::string, std::string>> lines;
        std::string key;
        std::string value;
        SfThing scratch;
        while (reader.ReadProperty(scratch, key, value)) {
            lines.emplace_back(key, value);
        }
        return lines;
    }

    // The value of `key` in the only block of `text`; "<absent>" when the block lacks it.
    std::string ReadValueOf(const std::string& text, const char* key) {
        TextFile file(text.c_str());
        SceneTextReader reader;
        reader.Begin(file, "test.scene", nullptr);
        SceneHeader header;
        EXPECT_TRUE(reader.ReadHeader(header));
        for (const auto& [name, value] : ReadBlock(reader)) {
            if (name == key) {
                return value;
            }
        }
        return "<absent>";
    }

    // Runs the loader's first pass: the id texts of every block found.
    static std::vector<std::string> CountBlocks(SceneTextReader& reader) {
        std::vector<std::string> ids;
        std::string id;
        std::string className;
        while (reader.NextObject()) {
            if (!reader.ReadObject(id, &className)) {
                break;
            }
            ids.push_back(id);
        }
        return ids;
    }
};

// Header --------------------------------------------------------------------------------------

TEST_F(SceneText, HeaderLinesComeInTheirFixedOrderAndReadBack) {
    Guid guid = Guid::FromHex("0123456789ABCDEF00112233AABBCCDD");
    std::string text = Write({}, 3, 0, guid);
    EXPECT_EQ(text, "version = 44\nglobalid = 0123456789ABCDEF00112233AABBCCDD\nidsystem = 3\n"
                    "num_nodes = 0\n");

    OwnedBufferFile file(text + "include_branches\n");
    SceneTextReader reader;
    reader.Begin(file, "", nullptr);
    SceneHeader header;
    ASSERT_TRUE(reader.ReadHeader(header));
    EXPECT_EQ(header.version, 44);
    EXPECT_EQ(header.globalId, guid);
    EXPECT_EQ(header.idSystem, 3);
    EXPECT_EQ(header.nodeCount, 0);
    // Out of its place the keyword is not recognised.
    EXPECT_FALSE(header.includeBranches);

    EXPECT_EQ(Write({}).find("globalid"), std::string::npos);
    TextFile withoutGuid("version = 44\n");
    reader.Begin(withoutGuid, "", nullptr);
    ASSERT_TRUE(reader.ReadHeader(header));
    EXPECT_TRUE(header.globalId.IsZero());
}

TEST_F(SceneText, AHeaderWithoutVersionAndNoBlocksYieldsVersionOneAndNoObjects) {
    TextFile file("num_nodes = 2\n");
    SceneTextReader reader;
    reader.Begin(file, "a.scene", &RecordError);
    SceneHeader header;
    header.version = 44;
    ASSERT_TRUE(reader.ReadHeader(header));
    EXPECT_EQ(header.version, 1);
    EXPECT_EQ(header.nodeCount, 2);
    EXPECT_FALSE(reader.NextObject());
    EXPECT_EQ(reader.GetError(), "Error loading scene: unexpected end of file");
    EXPECT_EQ(reportedErrors.size(), 1u);
}

TEST_F(SceneText, AMissingEqualsSignFailsTheHeaderWithTheTokenAndPosition) {
    TextFile file("version 44\n");
    SceneTextReader reader;
    reader.Begin(file, "a.scene", &RecordError);
    SceneHeader header;
    EXPECT_FALSE(reader.ReadHeader(header));
    EXPECT_EQ(reader.GetError(), "Unexpected token '44' in scene file a.scene (pos 10)");
    ASSERT_EQ(reportedErrors.size(), 1u);
}

// Blocks ------------------------------------------------------------------------------------

TEST_F(SceneText, AnIdPathWithGuidDotsAndPortIsReadWhole) {
    TextFile file("obj0x0123456789ABCDEF00112233AABBCCDD.4-3 {\n\tclass = \"Node\"\n}\n");
    SceneTextReader reader;
    reader.Begin(file, "", nullptr);
    SceneHeader header;
    ASSERT_TRUE(reader.ReadHeader(header));
    std::string id;
    std::string className;
    ASSERT_TRUE(reader.ReadObject(id, &className));
    EXPECT_EQ(id, "0x0123456789ABCDEF00112233AABBCCDD.4-3");
    EXPECT_EQ(className, "Node");
}

TEST_F(SceneText, AnIdTextRunningToTheEndOrPastItsLimitFailsCleanly) {
    TextFile atEnd("obj12.7");
    SceneTextReader reader;
    reader.Begin(atEnd, "", nullptr);
    std::string id;
    EXPECT_FALSE(reader.ReadObject(id, nullptr));
    EXPECT_EQ(id, "12.7");

    std::string longId = "obj1." + std::string(5000, '7') + " {\n}\n";
    TextFile overlong(longId.c_str());
    reader.Begin(overlong, "", nullptr);
    EXPECT_FALSE(reader.ReadObject(id, nullptr));
    EXPECT_LE(id.size(), SceneTextReader::MaxIdTextLength);
}

TEST_F(SceneText, ABlockWithoutClassLineKeepsTheCallersClassNameAndReadsItsProperties) {
    TextFile file("obj1 {\n\tcount = 5\n}\n");
    SceneTextReader reader;
    reader.Begin(file, "", nullptr);
    std::string id;
    std::string className = "Previous";
    ASSERT_TRUE(reader.ReadObject(id, &className));
    EXPECT_EQ(className, "Previous");
    std::string key;
    std::string value;
    SfThing scratch;
    ASSERT_TRUE(reader.ReadProperty(scratch, key, value));
    EXPECT_EQ(key, "count");
    EXPECT_EQ(value, "5");
    EXPECT_FALSE(reader.ReadProperty(scratch, key, value));
}

TEST_F(SceneText, BothPassesVisitEveryBlockAndThePropertyLoopEndsAtTheNextBlock) {
    SfThing first;
    first.count = 3;
    first.label = "one";
    SfThing second;
    second.label = "two";
    OwnedBufferFile file(Write({&first, &second}));
    SceneTextReader reader;
    reader.Begin(file, "", nullptr);
    SceneHeader header;
    ASSERT_TRUE(reader.ReadHeader(header));
    EXPECT_EQ(CountBlocks(reader), (std::vector<std::string>{"1", "2"}));

    reader.Rewind();
    std::string id;
    auto lines = ReadBlock(reader, &id);
    EXPECT_EQ(id, "1");
    EXPECT_EQ(lines.size(), 5u); // name, count, label, tag, target
    lines = ReadBlock(reader, &id);
    EXPECT_EQ(id, "2");
    ASSERT_EQ(lines.size(), 4u); // the count is at its default
    EXPECT_EQ(lines[1], (std::pair<std::string, std::string>{"label", "two"}));
}

TEST_F(SceneText, TheFirstPassSkipsValuesByTheirQuotesSoBracesInsideKeepEveryBlock) {
    SfThing braced;
    braced.label = "a }\n} obj9 {\n}";
    SfThing after;
    OwnedBufferFile file(Write({&braced, &after}));
    SceneTextReader reader;
    reader.Begin(file, "", nullptr);
    SceneHeader header;
    ASSERT_TRUE(reader.ReadHeader(header));
    EXPECT_EQ(CountBlocks(reader), (std::vector<std::string>{"1", "2"}));
}

// Values ------------------------------------------------------------------------------------

TEST_F(SceneText, OneByteAfterTheEqualsSignIsDropped) {
    EXPECT_EQ(ReadValueOf("obj1 {\n\tcount =12\n}\n", "count"), "2");
    EXPECT_EQ(ReadValueOf("obj1 {\n\tcount = 12\n}\n", "count"), "12");
    EXPECT_EQ(ReadValueOf("obj1 {\n\tcount =  12\r\n}\n", "count"), " 12");
}

TEST_F(SceneText, QuotedValuesSpanLinesUntilALineEndsWithAQuote) {
    const std::string cases[] = {
        "first\nsecond",
        "\nstarts with a line feed",
        "ends with a \"quote\"",
        "an inner line ends with a \"quote\" \nand goes on",
        "",
        "\"",
        "longer than any fixed buffer: " + std::string(20000, 'x') + "\n" + std::string(9000, 'y'),
    };
    for (const std::string& label : cases) {
        SfThing object;
        object.label = label;
        EXPECT_EQ(ReadValueOf(Write({&object}), "label"), label);
    }
    SfThing lineFeedFirst;
    lineFeedFirst.label = "\nx";
    EXPECT_NE(Write({&lineFeedFirst}).find("\tlabel = \"\nx\"\n"), std::string::npos);
}

TEST_F(SceneText, AQuotedValueThatNeverEndsStopsAtTheEndOfInput) {
    TextFile file("obj1 {\n\tlabel = \"open\nstill open");
    SceneTextReader reader;
    reader.Begin(file, "", &RecordError);
    std::string id;
    ASSERT_TRUE(reader.ReadObject(id, nullptr));
    std::string key;
    std::string value;
    SfThing scratch;
    ASSERT_TRUE(reader.ReadProperty(scratch, key, value));
    EXPECT_EQ(value, "open\nstill open");
    EXPECT_EQ(reader.GetError(), "Error loading scene: unexpected end of file");
    EXPECT_FALSE(reader.ReadProperty(scratch, key, value));
}

TEST_F(SceneText, OnlyTheStringTypeIsQuotedAndDefaultsAreLeftOut) {
    SfThing object;
    object.tag = String64("\"quoted\" tag");
    std::string text = Write({&object});
    EXPECT_EQ(text.find("count"), std::string::npos);
    EXPECT_NE(text.find("\ttag = \"quoted\" tag\n"), std::string::npos);
    // A bare value that starts with a quote is read by the quoted rules.
    EXPECT_EQ(ReadValueOf(text, "tag"), "quoted\" tag\n\ttarget = 0\n}");
}

TEST_F(SceneText, ValuesThatCannotReadBackAsWrittenAreLogged) {
    test::CapturingLogSink log;
    SfThing object;
    object.label = "ends \"early\"\nrest";
    Write({&object});
    EXPECT_TRUE(log.Contains("label"));
    log.Clear();
    object.label = "a \"fine\" \nvalue";
    Write({&object});
    EXPECT_TRUE(log.Lines().empty());
}

// References ----------------------------------------------------------------------------------

class SceneTextReferences : public SceneText {
protected:
    void SetUp() override {
        SceneText::SetUp();
        branch_.ChangeId(7);
        system_ = static_cast<uint32_t>(TheIdMap().AllocateScene(&branch_));
        sceneNode_.ChangeId(5);
        inner_.ChangeId(system_ << 16 | 3);
    }

    std::string WrittenTarget(uint32_t target, uint32_t flags) {
        inner_.target.value = target;
        return ReadValueOf(Write({&inner_}, static_cast<int32_t>(system_), flags), "target");
    }

    SfThing branch_;
    SfThing sceneNode_;
    SfThing inner_;
    uint32_t system_ = 0;
};

TEST_F(SceneTextReferences, ANodeOfTheOpenedSceneIsZeroUnlessFullPathsAreAsked) {
    EXPECT_EQ(WrittenTarget(5, 0), "0");
    EXPECT_EQ(WrittenTarget(5, SceneSystemZeroPaths), "0.5");
    EXPECT_EQ(WrittenTarget(0, SceneSystemZeroPaths), "0");
    EXPECT_EQ(WrittenTarget(system_ << 16 | 3, 0), "3");
}

TEST_F(SceneTextReferences, RawIdsAreUnsignedDecimalWithTheirPort) {
    EXPECT_EQ(WrittenTarget(9u << 28 | 5, SceneRawIds), "2415919109");
}

} // namespace
} // namespace quarn
