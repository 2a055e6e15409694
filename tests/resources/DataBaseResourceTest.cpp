#include "resources/DataBaseResource.h"

#include "TestPaths.h"
#include "core/object/ValueBinding.h"
#include "tests/resources/ResourceTestSupport.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace quarn {
namespace {

using Records = std::vector<std::vector<std::string>>;

// Fields a, b (the keys, ranges 10 and 10, symmetric), label (6-byte slots), span (int2), w,
// on; records at keys (3, 4) and (0, 0).
const std::string TypedTable =
    "# keyed\nfields = 6\nmax_string_length = 6\nfield1_name = \"a\"\nfield1_type = int\n"
    "field2_name = \"b\"\nfield2_type = int\nfield3_name = \"label\"\nfield3_type = string\n"
    "field4_name = \"span\"\nfield4_type = int2\nfield5_name = \"w\"\nfield5_type = float\n"
    "field6_name = \"on\"\nfield6_type = bool\nkeys = 2\nkey1 = 1\nkey2 = 2\nkey1_max = 10\n"
    "key2_max = 10\nkey_symmetry = true\nrecords = 2\n"
    "record\na = 3\nb = 4\nlabel = \"longer than six\"\nspan = 5,6\nw = 2.5\non = true\nend\n"
    "# second\nrecord\na = 0\nb = 0\nlabel = \"x\"\nspan = 0,0\nw = 0\non = false\nend\n";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

class DataBaseTest : public test::ResourceMemoryTest {
protected:
    std::unique_ptr<DataBaseResource> Load(const char* path, const std::string& text) {
        files_.Add(path, text);
        return std::make_unique<DataBaseResource>(path, nullptr);
    }
    static Records TextsOf(const DataBaseResource& table) {
        Records records(table.GetRecordCount());
        for (int32_t record = 0; record < int32_t(records.size()); ++record) {
            for (int32_t field = 0; field < int32_t(table.GetRecordFieldCount(record)); ++field) {
                records[size_t(record)].emplace_back(table.GetStringValue(record, field));
            }
        }
        return records;
    }
    std::string Saved(DataBaseResource& table, const char* path) {
        table.SaveToFile(path);
        return Written(path);
    }
};

TEST_F(DataBaseTest, CsvFromPythonReadsEveryCellAndSavesQuotedTextsWithLineFeeds) {
    const Records expected = {{"name", "note", "count"},
                              {"Ann", "likes; semicolons", "3"},
                              {"Bob", "says \"hi\"\"\"", ""},
                              {"Cid", "two\nlines", "7"},
                              {"Zo\xC3\xAB", "plain", "12"}};
    for (const std::string name : {"people.csv", "people_bom.csv"}) {
        std::ifstream file(QUARN_TEST_DATA "/tables/" + name, std::ios::binary);
        auto table = Load("t.csv", std::string(std::istreambuf_iterator<char>(file), {}));
        EXPECT_EQ(TextsOf(*table), expected) << name;
        EXPECT_EQ(table->GetFieldCount(), 3u);
        EXPECT_EQ(table->HasUtf8Signature(), name == "people_bom.csv");
        EXPECT_EQ(Saved(*table, "out.csv"),
                  "\"name\";\"note\";\"count\"\n\"Ann\";\"likes; semicolons\";\"3\"\n"
                  "\"Bob\";\"says \"\"hi\"\"\";\n\"Cid\";\"two\nlines\";\"7\"\n"
                  "\"Zo\xC3\xAB\";\"plain\";\"12\"");
    }
    const std::pair<const char*, Records> cases[] = {
        {"a;b\tc;\n\"x;y\"z;a\"b;c\"d;", {{"a", "b", "c", ""}, {"x;yz", "a\"b;c\"d", ""}}},
        {"\"open;\n", {{"open;\n"}}},
        {"a\r\nb\n\rc\r\rd\n\ne", {{"a"}, {"b"}, {"c"}, {}, {"d"}, {}, {"e"}}},
    };
    for (const auto& [text, records] : cases) {
        EXPECT_EQ(TextsOf(*Load("t.csv", text)), records) << text;
    }
}

TEST_F(DataBaseTest, CsvSavesReadBackTheSameTextsOrAreRefused) {
    const Records kept[] = {
        {{"x\"y\"z", "\"lead\"", "a;\"b;c\nd\"e"}, {""}, {"one\ntwo", ""}},
        {{"plain", "5\" and a \"quote"}, {"open \" ; at the end"}},
    };
    for (const Records& records : kept) {
        DataBaseResource table("", nullptr);
        for (const auto& record : records) {
            table.AddRecord();
            for (const std::string& text : record) {
                table.AppendString(text.c_str());
            }
        }
        const std::string first = Saved(table, "a.csv");
        auto reread = Load("b.csv", first);
        EXPECT_EQ(TextsOf(*reread), records) << first;
        EXPECT_EQ(Saved(*reread, "c.csv"), first);
    }
    // Unpaired quotes before the last text, or a separator between two quoted parts, cannot be
    // written so that they read back.
    for (const char* text : {"5\"", "\"a\";\"b\""}) {
        DataBaseResource table("", nullptr);
        table.AddRecord();
        table.AppendString(text);
        table.AppendString("after");
        log_.Clear();
        EXPECT_EQ(Saved(table, "d.csv"), "(nothing)") << text;
        EXPECT_TRUE(log_.Contains("record 0, field 0")) << text;
    }
    // A quote that is never closed takes the rest of the file, once, and says where.
    log_.Clear();
    EXPECT_EQ(TextsOf(*Load("e.csv", "a;b\nc;d\"e;f\ng")),
              (Records{{"a", "b"}, {"c", "d\"e;f\ng"}}));
    EXPECT_EQ(log_.Lines().size(), 1u);
    EXPECT_TRUE(log_.Contains("line 2"));
}

TEST_F(DataBaseTest, TypedTablePlacesRecordsByKeysAndKeepsEveryFieldInItsOwnSlot) {
    auto table = Load("t.dat", TypedTable);
    auto word = [&](int32_t r, int32_t f) { return *table->GetValuePointer(r, f); };
    ASSERT_EQ(table->GetRecordCount(), 100u);
    EXPECT_EQ(table->CombineKeys(3, 4), 43);
    EXPECT_EQ(table->GetValuePointer(43, 0), table->GetValuePointer(34, 0));
    // A 6-byte slot takes two words and its text is cut to fit with its zero; the int2 and the
    // float after it keep their own words.
    EXPECT_EQ(table->GetStringValue(43, 2), "longer ");
    EXPECT_EQ((std::vector<uint32_t>{word(43, 1), table->GetValuePointer(43, 3)[1], word(43, 5)}),
              (std::vector<uint32_t>{4, 6, 1}));
    EXPECT_EQ(WordToFloat(word(43, 4)), 2.5f);
    // Entries no record fills point at the first record; typed fields read as text only within
    // their own bytes.
    EXPECT_EQ(table->GetStringValue(0, 2), "x");
    EXPECT_EQ(table->GetStringValue(7, 2), "longer ");
    EXPECT_EQ(table->GetStringValue(43, 0), "\x03");
    const std::pair<int32_t, int32_t> outside[] = {{43, 6}, {100, 0}, {-1, 0}, {43, -1}};
    for (auto [record, field] : outside) {
        EXPECT_EQ(table->GetStringValue(record, field), "");
        EXPECT_EQ(table->GetValuePointer(record, field), nullptr);
    }
    const std::tuple<int32_t, const char*, uint32_t> sets[] = {
        {5, "FALSE", 0}, {5, "TRUE", 1}, {4, "-1.25", FloatToWord(-1.25f)}, {0, "-7", ~6u}};
    for (const auto& [field, text, value] : sets) {
        table->SetValueText(43, field, text);
        EXPECT_EQ(word(43, field), value) << text;
    }
    table->SetValueText(43, 2, "abcdefghij");
    EXPECT_EQ(table->GetStringValue(43, 2), "abcdefg");
    EXPECT_EQ(WordToFloat(word(43, 4)), -1.25f);
    // The default slot of 32 bytes keeps 31; records and texts are not appended to a typed table.
    auto wide = Load("wide.dat", Replaced(TypedTable, "max_string_length = 6\n", ""));
    wide->SetValueText(43, 2, std::string(40, 'z').c_str());
    EXPECT_EQ(wide->GetStringValue(43, 2), std::string(31, 'z'));
    EXPECT_EQ(wide->AddRecord(), -1);
    EXPECT_EQ(wide->AppendString("more"), 0);
    EXPECT_EQ(wide->GetRecordCount(), 100u);
}

TEST_F(DataBaseTest, UnsoundHeadersAreIntegrityFailuresThatLoadNoRecords) {
    // A line replaced (an empty replacement ends the file there), and the reason.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"keys = 2", "keys = 3", "Max 2 keys"},
        {"key1 = 1", "key1 = 0", "Invalid key"},
        {"key2 = 2", "key2 = 7", "Invalid key"},
        {"key2 = 2", "key2 = 3", "Key must be integer"},
        {"max_string_length = 6", "max_string_length = 65537", "Invalid header"},
        {"records = 2", "records = -2", "Invalid header"},
        {"records = 2", "records = 20000000", "Invalid header"},
        {"key1_max = 10", "key1_max = 7000000", "Key range too large"},
        {"key_symmetry", "", "Invalid header"},
    };
    for (const auto& [from, to, reason] : cases) {
        log_.Clear();
        auto table = Load("t.dat", *to ? Replaced(TypedTable, from, to)
                                       : TypedTable.substr(0, TypedTable.find(from)));
        EXPECT_EQ(table->GetRecordCount(), 0u) << to;
        EXPECT_EQ(table->GetState(), uint32_t{ResourceFailed});
        ASSERT_EQ(log_.Lines().size(), 1u) << to;
        EXPECT_EQ(log_.Lines()[0].text,
                  std::string("Database \"t.dat\" integrity failure: ") + reason);
    }
    // Records whose keys lie outside their ranges are skipped, reported once.
    log_.Clear();
    auto table = Load("t.dat", Replaced(Replaced(TypedTable, "a = 0", "a = 10"), "key2_max = 10",
                                        "key2_max = 4"));
    EXPECT_EQ(table->GetRecordCount(), 40u);
    EXPECT_EQ(table->GetStringValue(0, 2), "longer ");
    ASSERT_EQ(log_.Lines().size(), 1u);
    EXPECT_EQ(log_.Lines()[0].text, "Database \"t.dat\" integrity failure: Key out of range");
}

TEST_F(DataBaseTest, TextTablesGrowByRecordsAppendedTextsAndLongerValuesAndSaveOnlyAsCsv) {
    auto table = Load("t.csv", "a;b\nc");
    EXPECT_EQ(table->GetDataSize(), 5u + 1024u);
    EXPECT_EQ(table->AddRecord(), 2);
    EXPECT_EQ(table->AppendString("x"), 0);
    const std::string longText(3000, 'L');
    EXPECT_EQ(table->AppendString(longText.c_str()), 1);
    EXPECT_EQ(table->GetDataSize(), 1029u + 3001u + 1024u);
    table->SetValueText(0, 0, std::string(2000, 'M').c_str());
    EXPECT_EQ(table->GetDataSize(), 5054u + 1999u + 1024u);
    table->SetValueText(0, 1, "");
    table->SetValueText(2, 0, "y");
    EXPECT_EQ(TextsOf(*table), (Records{{std::string(2000, 'M'), ""}, {"c"}, {"y", longText}}));
    // A table with nothing in it becomes a text table.
    DataBaseResource empty("", nullptr);
    EXPECT_EQ(empty.AppendString("none"), 0);
    EXPECT_EQ(empty.AddRecord(), 0);
    EXPECT_EQ(empty.AppendString("first"), 0);
    EXPECT_EQ(TextsOf(empty), (Records{{"first"}}));
    EXPECT_EQ(Saved(empty, "e.csv"), "\"first\"");
    // Refused saves write nothing.
    auto typed = Load("t.dat", TypedTable);
    files_.MarkReadOnly("locked.csv");
    for (auto [refused, path] : {std::pair{table.get(), "t.txt"}, std::pair{typed.get(), "t.csv"},
                                 std::pair{table.get(), "locked.csv"}}) {
        log_.Clear();
        EXPECT_EQ(Saved(*refused, path), "(nothing)");
        EXPECT_EQ(log_.Lines().size(), 1u) << path;
    }
}

// A table written with commas reads as one field a line: the load says why, and a table whose
// single field merely holds a comma on some lines is read without a word.
TEST_F(DataBaseTest, ACsvOfCommaSeparatedLinesIsWarnedOf) {
    const std::pair<const char*, bool> cases[] = {
        {"Level,Par\nPlus,145536\n\nCross,3\n", true},
        {"\"Plus,145536\"\n", true},
        {"Hello, world\nPlain\n", false},
        {"Plus;145,536\nCross;3\n", false},
        {"\n\n", false},
    };
    for (const auto& [text, warned] : cases) {
        log_.Clear();
        auto table = Load("levels.csv", text);
        EXPECT_EQ(log_.Contains("every line is one field holding commas; a text table's fields are "
                                "separated by ';' or tabs, not commas"),
                  warned)
            << text;
    }
}

} // namespace
} // namespace quarn
