#include "core/debug/Log.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/io/Tokenizer.h"
#include "core/object/ValueType.h"
#include "core/string/Text.h"
#include "render/Camera.h"
#include "script/machine/ScriptClass.h"
#include "script/machine/ScriptNoise.h"
#include "script/machine/ScriptSearchPath.h"
#include "script/machine/ScriptSystem.h"
#include "script/machine/ScriptValueType.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/OpenWays.h"
#include "tests/support/TempFolder.h"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

TEST(ScriptClassList, ClassTypesAreBoundedByTheListAndTheGlobalsStandOutsideIt) {
    DeleteAllScriptClasses();
    EXPECT_FALSE(IsScriptClassType(0x10000));
    ScriptClass::Create("Entity", 0);
    ScriptClass::Create("Node", 2); // slot 1 stays a gap
    EXPECT_TRUE(IsScriptClassType(0x10000));
    EXPECT_TRUE(IsScriptClassType(0x10002));
    EXPECT_FALSE(IsScriptClassType(0x10003));
    EXPECT_FALSE(IsScriptClassType(-1));
    EXPECT_EQ(GetScriptClass(1), nullptr);
    EXPECT_EQ(GetNodeClassIndex(), 2);
    EXPECT_EQ(GetScriptNodeClassIndex(), -1);
    EXPECT_EQ(GetGlobalsScriptClass().GetIndex(), 1);
    EXPECT_STREQ(GetGlobalsScriptClass().GetName(), "globals");
    DeleteAllScriptClasses();
    EXPECT_EQ(GetNodeClassIndex(), -1);
    EXPECT_EQ(GetScriptClassCount(), 0);
}

TEST(ScriptClassList, TheNameHashFollowsRenamesAndRecordChanges) {
    ScriptClass* scriptClass = ScriptClass::Create("player", 0);
    EXPECT_EQ(scriptClass->GetNameHash(), StringWordSum("player"));
    scriptClass->SetName("enemy");
    EXPECT_EQ(scriptClass->GetNameHash(), StringWordSum("enemy"));
    EXPECT_NE(StringWordSum("player"), StringWordSum("enemy"));
    ScriptMethodRecord* method = scriptClass->AddMethod("f", 2, TypeInt);
    ASSERT_NE(method, nullptr);
    EXPECT_EQ(scriptClass->Methods().size(), 3u);
    for (int i = 0; i < ScriptMethodRecord::MaxParameters; ++i) {
        EXPECT_TRUE(method->AddParameter(TypeFloat3));
    }
    EXPECT_FALSE(method->AddParameter(TypeInt));
    EXPECT_EQ(method->parameterCount, 16);
    EXPECT_EQ(method->argumentWords, 48);
    DeleteAllScriptClasses();
}

class OperatorSignatures : public ::testing::Test {
protected:
    void SetUp() override {
        CreateValueType("void", 0, TypeVoid);
        CreateValueType("int", 1, TypeInt);
        CreateValueType("float3", 3, TypeFloat3);
        CreateValueType("bool", 1, TypeBool);
        AddValueTypeKeywords();
    }
    void TearDown() override {
        DeleteAllValueTypes();
        ResetScriptKeywordTable();
    }
};

TEST_F(OperatorSignatures, NamesParametersAndResultsAreRead) {
    struct Case {
        const char* text;
        bool parses;
        const char* name;
        int parameters;
        int words;
        int32_t result;
    };
    const Case cases[] = {
        {"!():bool", true, "!", 0, 0, TypeBool},
        {"+(int):int", true, "+", 1, 1, TypeInt},
        {"==(float3, int):bool", true, "==", 2, 4, TypeBool},
        {"<<(int)", true, "<<", 1, 1, TypeVoid},
        {"ToFloat3(int, int, int):float3", true, "ToFloat3", 3, 3, TypeFloat3},
        {"+(unknown):int", false, "", 0, 0, 0},
        {"+(int,):int", false, "", 0, 0, 0},
        {"+(int):int extra", false, "", 0, 0, 0},
        {"+int):int", false, "", 0, 0, 0},
        {"?(int):int", false, "", 0, 0, 0},
        {"", false, "", 0, 0, 0},
    };
    for (const Case& c : cases) {
        ScriptOperatorRecord record;
        ASSERT_EQ(ParseOperatorSignature(c.text, record), c.parses) << c.text;
        if (c.parses) {
            EXPECT_EQ(record.name, c.name) << c.text;
            EXPECT_EQ(record.parameterCount, c.parameters) << c.text;
            EXPECT_EQ(record.argumentWords, c.words) << c.text;
            EXPECT_EQ(record.resultType, c.result) << c.text;
        }
    }
}

TEST_F(OperatorSignatures, ValueTypesKeepEightComponentsAndOperatorsByIndex) {
    ScriptValueType* type = GetScriptValueType(TypeFloat3);
    ASSERT_NE(type, nullptr);
    for (int i = 0; i < ScriptValueType::MaxComponents; ++i) {
        EXPECT_TRUE(type->AddComponent("c", TypeInt, i));
    }
    EXPECT_FALSE(type->AddComponent("ninth", TypeInt, 8));
    EXPECT_TRUE(type->AddOperator("-(float3):float3", 3, nullptr, 1));
    EXPECT_FALSE(type->AddOperator("-(float3", 4, nullptr, 1));
    EXPECT_EQ(type->GetOperatorCount(), 4);
    EXPECT_EQ(type->GetOperator(3)->kind, 1);
    EXPECT_EQ(type->GetOperator(3)->argumentWords, 3);
    EXPECT_EQ(type->GetOperator(4), nullptr);
    EXPECT_EQ(FindValueType("float3"), TypeFloat3);
    EXPECT_EQ(FindValueType("Float3"), -1);
}

TEST(ScriptKeywordTable, HoldsTheFixedRowsThenClassAndTypeNames) {
    // Class and type indices count from an empty registry, whatever an earlier test registered.
    DeleteAllScriptClasses();
    DeleteAllValueTypes();
    ResetScriptKeywordTable();
    TokenTable& table = GetScriptKeywordTable();
    EXPECT_EQ(table.GetCount(), 47);
    EXPECT_EQ(table.GetDelimiters(), " \t\r");
    EXPECT_EQ(table.GetId(table.Find("&&")), 256);
    EXPECT_EQ(table.GetId(table.Find("/=")), 272);
    EXPECT_EQ(table.GetId(table.Find("breakpoint")), 284);
    EXPECT_EQ(table.GetId(table.Find("include")), 294);
    EXPECT_EQ(table.GetId(table.Find("stacksize")), 302);
    ScriptClass::Create("Node", 3);
    CreateValueType("float", 1, TypeFloat);
    AddScriptClassKeywords();
    AddValueTypeKeywords();
    EXPECT_EQ(table.GetId(table.Find("Node")), 0x10003);
    EXPECT_EQ(table.GetId(table.Find("float")), 0x20002);
    DeleteAllScriptClasses();
    DeleteAllValueTypes();
    ResetScriptKeywordTable();
}

// The lattice value the noise blends, computed here the long way in 64 bits.
float Lattice(int64_t k) {
    const uint64_t m = ((static_cast<uint64_t>(k) << 13) ^ static_cast<uint64_t>(k)) & 0xFFFFFFFF;
    const uint64_t h = ((m * m * 15731 + 789221) * m - 771171059) & 0x7FFFFFFF;
    return 1.0f - static_cast<float>(h) * 9.313225746154785e-10f;
}

TEST(ScriptNoise, IntegersGiveTheLatticeAndTheBlendIsContinuous) {
    for (int k : {-3, -1, 0, 1, 7, 100000}) {
        EXPECT_FLOAT_EQ(Noise1D(static_cast<float>(k)), Lattice(k)) << k;
        EXPECT_NEAR(Noise1D(static_cast<float>(k) - 1e-4f), Lattice(k), 1e-3f) << k;
        EXPECT_GE(Noise1D(k + 0.5f), -1.0f);
        EXPECT_LE(Noise1D(k + 0.5f), 1.0f);
    }
    EXPECT_FLOAT_EQ(Noise1D(2.25f), Lattice(2) * 0.75f + Lattice(3) * 0.25f);
    EXPECT_FALSE(std::isnan(Noise1D(3.0e38f)));
    EXPECT_EQ(FractalNoise1D(1.3f, 0, 0.5f), 0.0f);
    EXPECT_EQ(FractalNoise1D(1.3f, -2, 0.5f), 0.0f);
    EXPECT_EQ(FractalNoise1D(1.3f, 1, 0.5f), Noise1D(1.3f));
    EXPECT_FLOAT_EQ(FractalNoise1D(1.3f, 2, 0.5f), Noise1D(1.3f) + 0.5f * Noise1D(2.6f));
}

// Fuzz targets and tools register everything once per input or command: a repeat that adds no
// class keeps what the first built, without another scan of the script folders.
TEST(ScriptRegistration, ARepeatThatAddsNothingKeepsTheInterface) {
    // As at start-up: the classes the engine functions' signatures name exist first, or the
    // functions, registered once for the program, would be bound without them.
    Camera::RegisterClass();
    RegisterScriptClasses(1);
    const ScriptClass* script = GetScriptClass(GetScriptNodeClassIndex());
    ASSERT_NE(script, nullptr);
    test::CapturingLogSink log;
    RegisterScriptClasses(1);
    EXPECT_EQ(GetScriptClass(GetScriptNodeClassIndex()), script);
    EXPECT_FALSE(log.Contains("Script search-path set"));
}

class ScriptSearchPath : public test::WithOpenWays<> {};
QUARN_BOTH_OPEN_WAYS(ScriptSearchPath);

TEST_P(ScriptSearchPath, EntersVisibleFoldersOnceAndLogsTheNativePath) {
    test::TempFolder temp;
    namespace fs = std::filesystem;
    fs::create_directories(temp.Join("scripts/a/deep"));
    fs::create_directories(temp.Join("scripts/b"));
    fs::create_directories(temp.Join("scripts/.hidden/inner"));
    // A link back up the tree would recurse forever.
    fs::create_directory_symlink("..", temp.Join("scripts/b/loop"));
    // Links out of the game, relative or absolute, are not followed; one inside is, an absolute
    // one never.
    fs::create_directories(temp.Join("outside/x/y"));
    fs::create_directories(temp.Join("game/lib"));
    fs::rename(temp.Join("scripts"), temp.Join("game/scripts"));
    fs::create_directory_symlink("../../outside", temp.Join("game/scripts/a/out"));
    fs::create_directory_symlink(temp.Join("outside"), temp.Join("game/scripts/b/away"));
    fs::create_directory_symlink(temp.Join("game/lib"), temp.Join("game/scripts/b/own"));
    fs::create_directory_symlink("../../lib", temp.Join("game/scripts/b/near"));
    DiskFileSystem files;
    files.SetBaseFolder(temp.Join("game").c_str());
    FileSystem* previous = GetFileSystem();
    SetFileSystem(&files);
    test::CapturingLogSink log;
    SetScriptSearchPath("scripts", true);
    const std::vector<std::string> expected = {"scripts/", "scripts/a/", "scripts/a/deep/",
                                               "scripts/b/", "scripts/b/near/"};
    EXPECT_EQ(GetScriptSearchPath(), expected);
    EXPECT_TRUE(log.Contains("Script search-path set to '" + temp.Join("game/scripts") + "'"));
    SetScriptSearchPath("scripts", false);
    EXPECT_EQ(GetScriptSearchPath(), std::vector<std::string>{"scripts"});
    SetScriptSearchPath("", true);
    EXPECT_EQ(GetScriptSearchPath(), std::vector<std::string>{""});
    SetFileSystem(previous);
}

} // namespace
} // namespace quarn
