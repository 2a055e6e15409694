#include "core/scenefile/SceneTextFormat.h"

#include "tests/core/scenefile/SceneTestSupport.h"
#include "tests/support/CapturingLogSink.h"

#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quarn {
namespace {

using test::SlItem;
using Lines = std::vector<std::pair<std::string, std::string>>;

std::vector<std::string> reportedErrors;

void RecordError(const char* error) {
    reportedErrors.push_back(error);
}

class SceneText : public test::SceneTestBase {
protected:
    std::string Write(const std::vector<Entity*>& objects, int32_t idSystem = 0, uint32_t flags = 0,
                      const Guid& guid = Guid()) {
        SceneHeader header = test::BlockHeader(idSystem);
        header.globalId = guid;
        test::Written written = test::WriteBlocks<SceneTextWriter>(objects, flags, header);
        EXPECT_TRUE(written.finished);
        return written.bytes;
    }

    // A reader over `text` (kept here while it reads), its header read unless a test reads blocks
    // on their own.
    void Open(const std::string& text, bool readHeader = true) {
        text_ = text;
        file_ = std::make_unique<BufferFile>(text_.data(), static_cast<uint32_t>(text_.size()));
        reader_.Begin(*file_, "a.scene", &RecordError);
        header_ = SceneHeader();
        headerRead_ = readHeader && reader_.ReadHeader(header_);
    }

    // The key/value pairs of the next block, in file order, read by the loader's second pass.
    Lines ReadBlock(std::string* id = nullptr, std::string* className = nullptr) {
        std::string idText;
        std::string classText;
        EXPECT_TRUE(reader_.ReadObject(idText, className ? className : &classText));
        if (id) {
            *id = idText;
        }
        Lines lines;
        std::string key;
        std::string value;
        while (reader_.ReadProperty(*scratch_, key, value)) {
            lines.emplace_back(key, value);
        }
        return lines;
    }

    // The value of `key` in the only block of `text`; "<absent>" when the block lacks it.
    std::string ReadValueOf(const std::string& text, const char* key) {
        Open(text);
        for (const auto& [name, value] : ReadBlock()) {
            if (name == key) {
                return value;
            }
        }
        return "<absent>";
    }

    // The loader's first pass: the id texts of every block found.
    std::vector<std::string> FirstPass() {
        std::vector<std::string> ids;
        std::string id;
        std::string className;
        while (reader_.NextObject() && reader_.ReadObject(id, &className)) {
            ids.push_back(id);
        }
        return ids;
    }

    void SetUp() override {
        SceneTestBase::SetUp();
        reportedErrors.clear();
        scratch_ = Make<SlItem>();
    }

    std::string text_;
    std::unique_ptr<BufferFile> file_;
    SceneTextReader reader_;
    SceneHeader header_;
    bool headerRead_ = false;
    SlItem* scratch_ = nullptr;
};

// Header and blocks -----------------------------------------------------------------------------

TEST_F(SceneText, HeaderLinesComeInTheirFixedOrderAndReadBack) {
    Guid guid = Guid::FromHex("0123456789ABCDEF00112233AABBCCDD");
    const std::string text = Write({}, 3, 0, guid);
    EXPECT_EQ(text, "version = 44\nglobalid = 0123456789ABCDEF00112233AABBCCDD\nidsystem = 3\n"
                    "num_nodes = 0\n");
    Open(text + "include_branches\n");
    ASSERT_TRUE(headerRead_);
    EXPECT_EQ(header_.globalId, guid);
    EXPECT_EQ(header_.idSystem, 3);
    EXPECT_FALSE(header_.includeBranches) << "out of its place the keyword is not recognised";
    EXPECT_EQ(Write({}).find("globalid"), std::string::npos);
}

TEST_F(SceneText, BrokenHeadersAndBlocksFailWithTheirErrorAndReadNothingPastTheInput) {
    Open("num_nodes = 2\n"); // without version and blocks
    ASSERT_TRUE(headerRead_);
    EXPECT_EQ(header_.version, 1);
    EXPECT_FALSE(reader_.NextObject());
    EXPECT_EQ(reader_.GetError(), "Error loading scene: unexpected end of file");
    EXPECT_EQ(reportedErrors.size(), 1u);

    Open("version 44\n");
    EXPECT_FALSE(headerRead_);
    EXPECT_EQ(reader_.GetError(), "Unexpected token '44' in scene file a.scene (pos 10)");
    EXPECT_EQ(reportedErrors.size(), 2u);

    std::string id;
    Open("obj12.7", false);
    EXPECT_FALSE(reader_.ReadObject(id, nullptr));
    EXPECT_EQ(id, "12.7");
    Open("obj1." + std::string(5000, '7') + " {\n}\n", false);
    EXPECT_FALSE(reader_.ReadObject(id, nullptr));
    EXPECT_LE(id.size(), SceneTextReader::MaxIdTextLength);

    reportedErrors.clear();
    Open("obj1 {\n\tlabel = \"open\nstill open", false);
    EXPECT_EQ(ReadBlock(), (Lines{{"label", "open\nstill open"}}));
    ASSERT_FALSE(reportedErrors.empty());
    EXPECT_EQ(reportedErrors[0], "Error loading scene: unexpected end of file");
}

TEST_F(SceneText, BothPassesReadEveryBlockWholeWhateverItsValuesHold) {
    // An id path with GUID, dots and port; a block without class line keeps the caller's.
    Open("obj0x0123456789ABCDEF00112233AABBCCDD.4-3 {\n\tclass = \"Node\"\n}\n"
         "obj1 {\n\tcount = 5\n}\n");
    std::string id;
    std::string className;
    EXPECT_TRUE(ReadBlock(&id, &className).empty());
    EXPECT_EQ(id, "0x0123456789ABCDEF00112233AABBCCDD.4-3");
    EXPECT_EQ(className, "Node");
    className = "Previous";
    EXPECT_EQ(ReadBlock(&id, &className), (Lines{{"count", "5"}}));
    EXPECT_EQ(className, "Previous");

    // The first pass skips values by their quotes, so braces inside keep every block.
    SlItem* first = Make<SlItem>();
    SlItem* second = Make<SlItem>();
    first->count = 3;
    first->label = "a }\n} obj9 {\n}";
    second->label = "two";
    Open(Write({first, second}));
    EXPECT_EQ(FirstPass(), (std::vector<std::string>{"2", "3"}));
    reader_.Rewind();
    const Lines lines = ReadBlock(&id);
    EXPECT_EQ(id, "2");
    std::map<std::string, std::string> values(lines.begin(), lines.end());
    EXPECT_EQ(values["count"], "3");
    EXPECT_EQ(values["label"], first->label);
    const Lines next = ReadBlock(&id);
    EXPECT_EQ(id, "3");
    EXPECT_EQ(next.size(), lines.size() - 1); // the count is at its default
    // A block's closing brace is its end, not an error.
    EXPECT_TRUE(reportedErrors.empty());
    EXPECT_EQ(reader_.GetError(), "");
}

// Values ----------------------------------------------------------------------------------------

TEST_F(SceneText, OneByteAfterTheEqualsSignIsDroppedAndQuotedValuesSpanLines) {
    EXPECT_EQ(ReadValueOf("obj1 {\n\tcount =12\n}\n", "count"), "2");
    EXPECT_EQ(ReadValueOf("obj1 {\n\tcount = 12\n}\n", "count"), "12");
    EXPECT_EQ(ReadValueOf("obj1 {\n\tcount =  12\r\n}\n", "count"), " 12");
    // Every carriage return before a line feed goes, also inside a quoted value.
    EXPECT_EQ(ReadValueOf("obj1 {\n\tcount = 12\r\r\n}\n", "count"), "12");
    EXPECT_EQ(ReadValueOf("obj1 {\n\tlabel = \"a\r\r\nb\r\"\r\r\n}\n", "label"), "a\nb\r");

    // Until a line ends with a quote.
    SlItem* object = Make<SlItem>();
    for (const std::string& label : {
             std::string("\nstarts with a line feed"),
             std::string("ends with a \"quote\""),
             std::string("an inner line ends with a \"quote\" \nand goes on"),
             std::string("\""),
             "longer than any fixed buffer: " + std::string(20000, 'x') + "\n" +
                 std::string(9000, 'y'),
         }) {
        object->label = label;
        EXPECT_EQ(ReadValueOf(Write({object}), "label"), label);
    }
    object->label = "\nx";
    EXPECT_NE(Write({object}).find("\tlabel = \"\nx\"\n"), std::string::npos);
}

TEST_F(SceneText, OnlyStringsAreQuotedDefaultsAreLeftOutAndValuesThatCannotReadBackAreLogged) {
    SlItem* object = Make<SlItem>();
    object->tag = String64("\"quoted\" tag");
    std::string text = Write({object});
    EXPECT_EQ(text.find("count"), std::string::npos);
    EXPECT_NE(text.find("\ttag = \"quoted\" tag\n"), std::string::npos);
    // A bare value that starts with a quote is read by the quoted rules.
    EXPECT_EQ(ReadValueOf(text, "tag"), "quoted\" tag\n\ttarget = 0\n}");

    test::CapturingLogSink log;
    object->tag = String64();
    object->label = "ends \"early\"\nrest";
    Write({object});
    EXPECT_TRUE(log.Contains("label"));
    log.Clear();
    object->label = "a \"fine\" \nvalue";
    Write({object});
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(SceneText, ReferencesArePathsFromTheFilesIdSystemOrUnsignedRawIds) {
    SlItem* branch = Make<SlItem>();
    branch->ChangeId(7);
    const uint32_t system = static_cast<uint32_t>(TheIdMap().AllocateScene(branch));
    Make<SlItem>()->ChangeId(5);
    SlItem* inner = Make<SlItem>();
    inner->ChangeId(system << 16 | 3);
    const std::pair<uint32_t, uint32_t> targets[] = {
        {5, 0}, {5, SceneSystemZeroPaths}, {0, SceneSystemZeroPaths},
        {0, 0}, {system << 16 | 3, 0},     {9u << 28 | 5, SceneRawIds}};
    // A node of the opened scene is "0" unless full paths are asked.
    const char* const written[] = {"0", "0.5", "0", "0", "3", "2415919109"};
    for (size_t i = 0; i < std::size(targets); ++i) {
        inner->target.value = targets[i].first;
        const std::string text = Write({inner}, static_cast<int32_t>(system), targets[i].second);
        EXPECT_EQ(ReadValueOf(text, "target"), written[i]) << i;
    }
}

} // namespace
} // namespace quarn
