#include "TestPaths.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/filesystem/SettingsFile.h"
#include "core/object/MethodInfo.h"
#include "core/object/Signals.h"
#include "core/object/ValueBinding.h"
#include "core/scene/PropertyController.h"
#include "resources/DataBaseResource.h"
#include "resources/RawData.h"
#include "script/nodes/DataBase.h"
#include "script/nodes/VarData.h"
#include "tests/resources/ResourceTestSupport.h"
#include "tests/support/OpenWays.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestTree.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace quarn {
namespace {

// Fields name (string), level (int), speed (float), boss (bool); two records.
const char* const TypedTable =
    "fields = 4\nfield1_name = \"name\"\nfield1_type = string\nfield2_name = \"level\"\n"
    "field2_type = int\nfield3_name = \"speed\"\nfield3_type = float\nfield4_name = \"boss\"\n"
    "field4_type = bool\nkeys = 0\nkey_symmetry = false\nrecords = 2\n"
    "record\nname = \"Orc\"\nlevel = 3\nspeed = 1.5\nboss = false\nend\n"
    "record\nname = \"Dragon\"\nlevel = 40\nspeed = 0.25\nboss = true\nend\n";

class DataNodesTest : public test::ResourceDiskTest {
protected:
    // Calls a value method (5: int, 6: bool, 7: float, 8: string) on (record, field) with the
    // result word preset to `preset`.
    uint32_t Value(DataBase* node, int method, int32_t record, int32_t field,
                   uint32_t preset = 0xDEAD) {
        uint32_t block[3] = {preset, uint32_t(record), uint32_t(field)};
        DataBase::RegisterClass()->GetOwnMethods()[size_t(method - 1)]->Call(node, block);
        return block[0];
    }
    DataBase* OpenTable(const char* path) {
        DataBase* node = tree_->MakeWithId<DataBase>("table");
        node->SetDataPath(path);
        return node;
    }

    // The nodes go before the base checks that every resource was given back.
    void TearDown() override {
        tree_.reset();
        test::ResourceDiskTest::TearDown();
    }

    std::unique_ptr<test::TestTree> tree_ = std::make_unique<test::TestTree>();
};

TEST_F(DataNodesTest, ACsvTableAnswersCountsSearchesTextsAndNumbers) {
    std::filesystem::copy_file(QUARN_TEST_DATA "/tables/people.csv", temp_.Join("people.csv"));
    DataBase* node = OpenTable("people.csv");
    EXPECT_STREQ(node->GetDataPath(), "people.csv");
    EXPECT_EQ(node->GetRecordCount(), 5);
    EXPECT_EQ(node->FindRecord(0, "cid"), 3);
    EXPECT_EQ(node->FindRecord(0, "BOB"), 2);
    EXPECT_EQ(node->FindRecord(0, "Bo"), -1);
    EXPECT_EQ(node->FindRecord(7, "Ann"), -1);
    EXPECT_STREQ(LookupText(Value(node, 8, 3, 1)), "two\nlines");
    EXPECT_STREQ(LookupText(Value(node, 8, 9, 0)), "");
    EXPECT_EQ(Value(node, 5, 1, 2), 3u);
    EXPECT_EQ(Value(node, 6, 1, 2), 3u);
    EXPECT_EQ(WordToFloat(Value(node, 7, 1, 2)), 3.0f);
    for (int method : {5, 6, 7}) {
        EXPECT_EQ(Value(node, method, 99, 0), 0u) << "out of range, method " << method;
        EXPECT_EQ(Value(node, method, 2, 2), 0u) << "no such cell, method " << method;
        EXPECT_EQ(Value(node, method, -1, 0), 0xDEADu) << "negative, method " << method;
    }
    EXPECT_EQ(Value(node, 8, -1, 0), 0xDEADu);

    const int32_t record = node->AddRecord();
    EXPECT_EQ(record, 5);
    EXPECT_EQ(node->AppendString("Dee"), 0);
    EXPECT_EQ(node->AppendString("new"), 1);
    node->SetValueText(record, 1, "set; from text");
    node->SetValueText(-1, 0, "ignored");
    node->Save();
    const std::string saved = temp_.ReadFile("people.csv");
    EXPECT_NE(saved.find("\"Dee\";\"set; from text\""), std::string::npos) << saved;
    EXPECT_EQ(saved.find("ignored"), std::string::npos);
}

TEST_F(DataNodesTest, ATypedTableAnswersValuesOfEachTypeAndRefusesAdditions) {
    temp_.WriteFile("monsters.dat", TypedTable);
    DataBase* node = OpenTable("monsters.dat");
    ASSERT_EQ(node->GetRecordCount(), 2);
    EXPECT_EQ(node->GetFieldCount(), 4);
    EXPECT_EQ(node->FindRecord(0, "dragon"), 1);
    EXPECT_STREQ(LookupText(Value(node, 8, 1, 0)), "Dragon");
    EXPECT_EQ(Value(node, 5, 1, 1), 40u);
    EXPECT_EQ(WordToFloat(Value(node, 7, 0, 2)), 1.5f);
    EXPECT_EQ(Value(node, 6, 1, 3), 1u);
    EXPECT_EQ(Value(node, 6, 0, 3), 0u);
    EXPECT_EQ(Value(node, 5, 2, 1), 0u);
    EXPECT_EQ(Value(node, 5, 0, 4), 0u);

    EXPECT_EQ(node->AddRecord(), -1);
    EXPECT_EQ(node->AppendString("x"), 0);
    EXPECT_EQ(node->GetRecordCount(), 2);
    node->Save();
    EXPECT_EQ(temp_.ReadFile("monsters.dat"), TypedTable) << "a typed table is not saved";
}

// A text cell, of a ".csv" table or a typed table's string field, answers GetInt and GetFloat
// with the number it holds; one that holds none answers 0 and is logged once.
TEST_F(DataNodesTest, TextCellsAnswerTheNumbersTheyHold) {
    temp_.WriteFile("levels.csv", "Plus;145536;1\n -7 ;2.5;;abc;99999999999\n");
    temp_.WriteFile("monsters.dat", TypedTable);
    DataBase* csv = OpenTable("levels.csv");
    DataBase* typed = OpenTable("monsters.dat");
    struct Case {
        DataBase* node;
        int32_t record;
        int32_t field;
        uint32_t asInt;
        float asFloat;
        const char* logged; // "" when the text is a whole number
    };
    const Case cases[] = {
        {csv, 0, 1, 145536, 145536.0f, ""},
        {csv, 0, 2, 1, 1.0f, ""},
        {csv, 1, 0, uint32_t(-7), -7.0f, ""},
        {csv, 1, 1, 0, 2.5f, "record 1, field 1: \"2.5\" is not a whole number; read as 0"},
        {csv, 1, 2, 0, 0.0f, "record 1, field 2: \"\" is not a whole number; read as 0"},
        {csv, 1, 3, 0, 0.0f, "record 1, field 3: \"abc\" is not a whole number; read as 0"},
        {csv, 1, 4, 0, 99999999999.0f, "record 1, field 4: \"99999999999\""},
        {typed, 1, 0, 0, 0.0f, "DataBase \"monsters.dat\": record 1, field 0: \"Dragon\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.record) + "," + std::to_string(c.field));
        log_.Clear();
        EXPECT_EQ(Value(c.node, 5, c.record, c.field), c.asInt);
        EXPECT_EQ(Value(c.node, 6, c.record, c.field), c.asInt & 0xFF);
        EXPECT_EQ(WordToFloat(Value(c.node, 7, c.record, c.field)), c.asFloat);
        EXPECT_EQ(Value(c.node, 5, c.record, c.field), c.asInt);
        if (*c.logged) {
            ASSERT_EQ(log_.Lines().size(), 1u) << "once a cell";
            EXPECT_NE(log_.Lines()[0].text.find(c.logged), std::string::npos)
                << log_.Lines()[0].text;
        } else {
            EXPECT_TRUE(log_.Lines().empty());
        }
    }
}

TEST_F(DataNodesTest, ATableWithoutRecordsOrWithoutFileAnswersNothing) {
    temp_.WriteFile("empty.csv", "");
    DataBase* node = OpenTable("empty.csv");
    EXPECT_EQ(node->FindRecord(0, ""), -1);
    EXPECT_EQ(node->GetRecordCount(), 0);
    node->SetDataPath("");
    EXPECT_EQ(node->GetTable(), nullptr);
    EXPECT_EQ(node->FindRecord(0, ""), -1);
    EXPECT_EQ(Value(node, 5, 0, 0), 0u);
    EXPECT_STREQ(LookupText(Value(node, 8, 0, 0)), "");
}

TEST_F(DataNodesTest, VarDataReadsSetsRemovesAndSavesItsKeys) {
    temp_.WriteFile("vars.txt", "b = \"2\"\nA = \"one\"\n");
    VarData* node = tree_->MakeWithId<VarData>("vars");
    node->SetDataPath("vars.txt");
    ASSERT_NE(node->GetStore(), nullptr);
    EXPECT_EQ(node->GetKeyCount(), 2);
    EXPECT_STREQ(node->GetKeyAt(0), "A");
    EXPECT_STREQ(node->GetKeyAt(5), "");
    EXPECT_TRUE(node->HasKey("a"));
    EXPECT_STREQ(node->GetValue("B"), "2");
    node->SetValue("c", "three");
    node->RemoveKey("b");
    EXPECT_STREQ(node->GetValue("b"), "");
    ASSERT_TRUE(node->Save());
    EXPECT_EQ(temp_.ReadFile("vars.txt"), "A = \"one\"\nc = \"three\"\n");

    node->SetObfuscate(true);
    ASSERT_TRUE(node->Save());
    EXPECT_EQ(temp_.ReadFile("vars.txt").find("three"), std::string::npos);
    SettingsFile scrambled;
    ASSERT_TRUE(scrambled.Load("vars.txt", true));
    EXPECT_STREQ(scrambled.GetString("c"), "three");

    Entity* data = node->GetData();
    ASSERT_NE(data, nullptr);
    EXPECT_NE(data->GetId(), 0u);
    EXPECT_EQ(node->GetData(), data);
}

class DataNodesFilesTest : public test::WithOpenWays<DataNodesTest> {};
QUARN_BOTH_OPEN_WAYS(DataNodesFilesTest);

// A node may be pointed at a file outside the game and read it, as any resource is read; a
// script's save writes only inside the game.
TEST_P(DataNodesFilesTest, SavesOfFilesOutsideTheGameAreRefused) {
    test::TempFolder outside;
    outside.WriteFile("vars.txt", "a = \"1\"\n");
    outside.WriteFile("table.csv", "\"name\"\n\"Ann\"\n");
    VarData* vars = tree_->MakeWithId<VarData>("vars");
    vars->SetDataPath(outside.Join("vars.txt").c_str());
    EXPECT_STREQ(vars->GetValue("a"), "1");
    vars->SetValue("a", "2");
    EXPECT_FALSE(vars->Save());
    DataBase* table = OpenTable(outside.Join("table.csv").c_str());
    EXPECT_NE(table->FindRecord(0, "Ann"), -1);
    table->AddRecord();
    table->Save();
    EXPECT_EQ(outside.ReadFile("vars.txt"), "a = \"1\"\n");
    EXPECT_EQ(outside.ReadFile("table.csv"), "\"name\"\n\"Ann\"\n");
    EXPECT_TRUE(log_.Contains("VarData.Save refused"));
    EXPECT_TRUE(log_.Contains("DataBase.Save refused"));
}

// Held to its game (the player holds every game, the editor what a script sets in motion), a
// table outside it is not read: not when named anew, not what the editor loaded from there
// already, not by a controller made meanwhile and told to set it later. The log names the file
// as missing and says why.
TEST_P(DataNodesFilesTest, HeldToItsGameNoTableOutsideItIsRead) {
    test::TempFolder outside;
    outside.WriteFile("table.csv", "\"name\"\n\"Ann\"\n");
    const std::string away =
        "../" + std::filesystem::path(outside.Path()).filename().string() + "/table.csv";
    DataBase* editors = OpenTable(away.c_str());
    ASSERT_NE(editors->FindRecord(0, "Ann"), -1);
    DataBase* target = tree_->MakeWithId<DataBase>("target");
    PropertyController* controller = nullptr;
    {
        const GameReachHold hold(true);
        EXPECT_EQ(OpenTable(away.c_str())->GetRecordCount(), 0);
        EXPECT_TRUE(log_.Contains("Missing resource: \"../"));
        EXPECT_TRUE(log_.Contains(std::string("/table.csv\" (") + OutsideGameReason + ")"));
        controller = tree_->Make<PropertyController>("assign", target);
        controller->SetPropertyName("database");
        controller->SetAssignedText(away.c_str());
    }
    controller->ReceiveEvent(EventRecord{});
    EXPECT_EQ(target->GetRecordCount(), 0);
    EXPECT_NE(editors->FindRecord(0, "Ann"), -1);
}

TEST_F(DataNodesTest, VarDataRebuildsItsStoreWhenTheFileChangesOrIsReloaded) {
    temp_.WriteFile("vars.txt", "a = \"1\"\n");
    SetFileTime("vars.txt", 1000);
    VarData* node = tree_->MakeWithId<VarData>("vars");
    node->SetDataPath("vars.txt");
    node->SetValue("a", "unsaved");

    temp_.WriteFile("vars.txt", "a = \"2\"\nb = \"3\"\n");
    SetFileTime("vars.txt", 2000);
    ASSERT_TRUE(static_cast<RawData*>(node->GetResource())->ReloadIfChanged());
    EXPECT_STREQ(node->GetValue("a"), "2");
    EXPECT_EQ(node->GetKeyCount(), 2);

    node->SetValue("a", "unsaved");
    temp_.WriteFile("vars.txt", "z = \"9\"\n");
    node->Reload();
    EXPECT_STREQ(node->GetValue("z"), "9");
    EXPECT_FALSE(node->HasKey("a"));
}

TEST_F(DataNodesTest, ScrambledVarDataReadsTheFileItSaved) {
    temp_.WriteFile("plain.txt", "k = \"v\"\n");
    VarData* writer = tree_->MakeWithId<VarData>("writer");
    writer->SetObfuscate(true);
    writer->SetDataPath("plain.txt");
    EXPECT_EQ(writer->GetKeyCount(), 0) << "the plain file does not read through the scrambler";
    writer->SetValue("k", "secret");
    ASSERT_TRUE(writer->Save());
    writer->Reload();
    EXPECT_STREQ(writer->GetValue("k"), "secret");
}

TEST_F(DataNodesTest, VarDataWithoutAPathHasNoStore) {
    VarData* node = tree_->MakeWithId<VarData>("vars");
    node->SetDataPath("");
    EXPECT_EQ(node->GetStore(), nullptr);
    EXPECT_EQ(node->GetKeyCount(), 0);
    EXPECT_STREQ(node->GetValue("a"), "");
    EXPECT_FALSE(node->HasKey("a"));
    node->SetValue("a", "b");
    EXPECT_FALSE(node->Save());
    EXPECT_EQ(node->GetData(), nullptr);
    node->Reload();
    EXPECT_EQ(node->GetStore(), nullptr);
}

} // namespace
} // namespace quarn
