// Work on texts counts against the step limit, and no text grows past the limit of a script's
// text, on both of the machine's paths.
#include "core/string/TextArena.h"
#include "render/Camera.h"
#include "resources/DataBaseResource.h"
#include "script/machine/ScriptContext.h"
#include "script/machine/ScriptLibrary.h"
#include "script/machine/ScriptOperators.h"
#include "script/nodes/DataBase.h"
#include "tests/script/machine/ScriptRunSupport.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

// The end of the error for a text one byte over the limit.
const std::string OverTheLimit =
    ": a text of 67108865 bytes is longer than the 64 MiB a script's text may have";

// A node that keeps the text a script hands it and gives it back.
class TextHolder : public test::TestClass<TextHolder, Node> {
public:
    static constexpr const char* Name = "ScriptTestTextHolder";
    static void Declare(ClassInfo& info) {
        info.AddMethod("keep", "(string)", BindMethod<&TextHolder::Keep>(), MethodScript);
        info.AddMethod("give", "():string", BindMethod<&TextHolder::Give>(), MethodScript);
    }
    void Keep(const char* text) { kept = text; }
    const char* Give() const { return kept.c_str(); }

    std::string kept;
};

class ScriptTextWork : public test::ScriptLibraryRunTest {
protected:
    void SetUp() override {
        ScriptLibraryRunTest::SetUp();
        TextHolder::RegisterClass();
        DataBase::RegisterClass();
    }
    void TearDown() override {
        // The holders the scripts made themselves.
        DeleteInstances(TextHolder::classInfo);
        ScriptLibraryRunTest::TearDown();
    }
    // The command that calls DataBase's GetString.
    static std::string GetStringMethod() {
        return std::string("method method:DataBase.") +
               DataBase::RegisterClass()->GetOwnMethods()[7]->GetName() + " 2";
    }
    // A program that runs `body`, which leaves one word, 100 rounds, counting them in its
    // variable.
    static std::string CountedLoop(const std::string& body) {
        return "var \"rounds\" int\nstack 16\nloop:\n" + body +
               "drop 1\npush 0\npush 0\nload 1\npush 1\nop int \"+(int):int\"\nstore 1\npush 0\n"
               "load 1\npush 100\nop int \"<(int):bool\"\njumpif loop\nend\n";
    }
    // A DataBase node on a text table whose first cell is `cell`.
    DataBase* MakeTable(const std::string& cell) {
        temp_.WriteFile("cells.csv", cell + "\n");
        auto* table = Make<DataBase>();
        table->SetDataPath("cells.csv");
        EXPECT_EQ(table->GetTable()->GetStringValue(0, 0).size(), cell.size());
        return table;
    }
};

// Each Find reads a 1 MiB text, 65536 commands' worth: the limit of a million ends the loop
// after 15 rounds, where its commands alone would run 80000.
TEST_F(ScriptTextWork, ALongFindLoopIsStoppedByTheStepLimit) {
    const std::string haystack(size_t(1) << 20, 'a');
    for (const bool translated : {false, true}) {
        ScriptTranslatedRuns = translated;
        ScriptStepLimit = 1000000;
        Script* script = MakeScript("var \"rounds\" int\nstack 16\nloop:\n"
                                    "push -1\nloadlocal 1\ntext \"needle\"\n" +
                                        Func(44) +
                                        "\ndrop 1\npush 0\npush 0\nload 1\npush 1\n"
                                        "op int \"+(int):int\"\nstore 1\njump loop\n",
                                    translated ? "fastfind" : "plainfind");
        EXPECT_FALSE(Call(script, {TextWordOf(PutTempString(haystack))}));
        EXPECT_EQ(script->GetRunState(), ScriptErrorPending);
        EXPECT_EQ(LastError(), "Infinite loop detected (100million'th instruction reached)");
        EXPECT_EQ(script->GetVariables()[0], 15u) << translated;
    }
}

// Every way a script hands a text on or is handed one counts the text against the step limit:
// each case does its work on a 64 KiB text a round, the rounds counted, and stops with the loop
// error once the limit of 200,000 is spent. Uncharged, every case would end after its 100 rounds.
TEST_F(ScriptTextWork, EveryTextWorkLoopIsStoppedByTheStepLimitOnBothPaths) {
    constexpr uint32_t Limit = 200000;
    constexpr uint32_t Bytes = 65536;
    const std::string text(Bytes, 'a');
    auto* holder = Make<TextHolder>();
    holder->SetName(text.c_str());
    holder->kept = text;
    const DataBase* table = MakeTable(text);
    const std::string holderId = std::to_string(holder->GetId());
    const struct {
        const char* name;
        std::string body;
        // Commands a round is charged beyond its own: read or made texts a command per 16 bytes,
        // texts handed to the engine a command per byte.
        uint32_t charged;
    } cases[] = {
        {"compare", "push -1\nloadlocal 1\npush -1\nloadlocal 1\nop string \"==(string):bool\"\n",
         2 * Bytes / 16},
        {"join", "push -1\nloadlocal 1\ntext \"\"\nop string \"+(string):string\"\n",
         2 * Bytes / 16},
        {"lower", "push -1\nloadlocal 1\nop string \"ToLower():string\"\n", 2 * Bytes / 16},
        {"function", "push -1\nloadlocal 1\n" + Func(150) + "\n", Bytes / 16},
        {"name of a new node",
         "text \"ScriptTestTextHolder\"\n" + Func(68) +
             "\npush prop:ScriptTestTextHolder.name\npush -1\nloadlocal 1\nsetprop 1\npush 0\n",
         Bytes},
        {"copy of a named node", "push " + holderId + "\n" + Func(69) + "\n", Bytes},
        {"name read", "push " + holderId + "\npush prop:ScriptTestTextHolder.name\ngetprop\n",
         Bytes / 16},
        {"method argument",
         "push " + holderId +
             "\npush -1\nloadlocal 1\nmethod method:ScriptTestTextHolder.keep 1\npush 0\n",
         Bytes},
        {"method result", "push " + holderId + "\nmethod method:ScriptTestTextHolder.give 0\n",
         Bytes / 16},
        {"database cell",
         "push " + std::to_string(table->GetId()) + "\npush 0\npush 0\n" + GetStringMethod() + "\n",
         Bytes / 16},
    };
    constexpr uint32_t MostCommandsARound = 32;
    for (const auto& [name, body, charged] : cases) {
        uint32_t rounds[2] = {};
        for (const bool translated : {false, true}) {
            ScriptTranslatedRuns = translated;
            ScriptStepLimit = Limit;
            Script* script = MakeScript(CountedLoop(body), translated ? "fast" : "plain");
            const int holders = TextHolder::classInfo->GetInstanceCount();
            EXPECT_FALSE(Call(script, {TextWordOf(PutTempString(text))})) << name;
            EXPECT_EQ(LastError(), "Infinite loop detected (100million'th instruction reached)")
                << name << " " << translated;
            rounds[translated] = script->GetVariables()[0];
            // The named nodes one run leaves keep no more bytes than the limit's count, the
            // text of the command that reached it aside.
            const int made = TextHolder::classInfo->GetInstanceCount() - holders;
            EXPECT_LE(uint64_t(made) * Bytes, Limit + Bytes) << name;
            script->Delete();
        }
        EXPECT_EQ(rounds[0], rounds[1]) << name;
        EXPECT_LE(uint64_t(rounds[1]) * charged, Limit) << name;
        EXPECT_GT(uint64_t(rounds[1] + 1) * (charged + MostCommandsARound), Limit) << name;
    }
}

// A script's method hands the words of its texts on to the script that runs it, unread: a loop
// of such calls costs its commands alone.
TEST_F(ScriptTextWork, TextsPassedToAScriptsMethodAreNotCharged) {
    Script* callee = MakeScript("function \"pass\" (string):string at=@pass export\nstack 16\n"
                                "pass:\npush -1\nloadlocal 1\nreturn 1 1\n",
                                "callee");
    const std::string loop =
        CountedLoop("push " + std::to_string(callee->GetId()) +
                    "\npush -1\nloadlocal 1\nmethod method:Script_callee.pass 1\n");
    const std::string text(65536, 'a');
    for (const bool translated : {false, true}) {
        ScriptTranslatedRuns = translated;
        ScriptStepLimit = 200000;
        Script* script = MakeScript(loop, translated ? "fast" : "plain");
        EXPECT_TRUE(Call(script, {TextWordOf(PutTempString(text))})) << LastError();
        EXPECT_EQ(script->GetVariables()[0], 100u) << translated;
        script->Delete();
    }
}

// An assertion's text is charged, and the assertion answered "terminate" ends the run: the charge
// goes with that run, and the next one, a loop of calls, counts only its own work.
TEST_F(ScriptTextWork, WorkChargedByTheCommandThatEndsARunIsNotCarriedIntoTheNext) {
    const std::string text(65536, 'a');
    for (const bool translated : {false, true}) {
        ScriptTranslatedRuns = translated;
        ScriptStepLimit = 5000;
        Script* script =
            MakeScript("function \"fail\" (string) at=@fail\n"
                       "function \"count\" (string) at=@loop\n" +
                           CountedLoop(Func(39) + "\npush 0\n") +
                           "fail:\npush 0\npush -1\nloadlocal 1\n" + Func(38) + "\nend\n",
                       translated ? "fast" : "plain");
        EXPECT_FALSE(Call(script, {TextWordOf(PutTempString(text))}, "fail"));
        script->ResetExecution();
        EXPECT_TRUE(Call(script, {TextWordOf(PutTempString(text))}, "count")) << LastError();
        EXPECT_EQ(script->GetVariables()[0], 100u) << translated;
        script->Delete();
    }
}

TEST_F(ScriptTextWork, ATextOverTheLimitIsARuntimeErrorNamingTheFunction) {
    const std::string tooLong(MaxScriptTextBytes + 1, 'x');
    auto* holder = Make<TextHolder>();
    const std::string holderId = std::to_string(holder->GetId());
    const struct {
        const char* name;
        std::string source;
        std::string message;
    } cases[] = {
        // Doubled until the next would be 128 MiB.
        {"doubling",
         "stack 16\ntext \"a\"\nloop:\ndup 1\nop string \"+(string):string\"\n"
         "jump loop\n",
         "+(string):string: a text of 134217728 bytes is longer than the 64 MiB a script's text "
         "may have"},
        {"length", "stack 16\npush -1\nloadlocal 1\n" + Func(40) + "\nend\n",
         "Length" + OverTheLimit},
        {"find", "stack 16\ntext \"x\"\npush -1\nloadlocal 1\n" + Func(44) + "\nend\n",
         "Find" + OverTheLimit},
        {"script by name", "stack 16\npush -1\nloadlocal 1\n" + Func(150) + "\nend\n",
         "ScriptByName" + OverTheLimit},
        // Refused before the node sees it.
        {"property",
         "stack 16\npush " + holderId +
             "\npush prop:ScriptTestTextHolder.name\npush -1\nloadlocal 1\nsetprop 1\nend\n",
         "ScriptTestTextHolder.name" + OverTheLimit},
        {"method",
         "stack 16\npush " + holderId +
             "\npush -1\nloadlocal 1\nmethod method:ScriptTestTextHolder.keep 1\nend\n",
         "ScriptTestTextHolder.keep" + OverTheLimit},
    };
    for (const bool translated : {false, true}) {
        ScriptTranslatedRuns = translated;
        for (const auto& [name, source, message] : cases) {
            Script* script = MakeScript(source, name);
            EXPECT_FALSE(Call(script, {TextWordOf(PutTempString(tooLong))})) << name;
            EXPECT_EQ(script->GetRunState(), ScriptErrorPending) << name;
            EXPECT_EQ(LastError(), message) << name << " " << translated;
            script->Delete();
        }
    }
    EXPECT_EQ(holder->GetName(), "");
    EXPECT_EQ(holder->kept, "");
}

// A text over the limit that a node holds (set by the engine, a scene or a table file) is not
// handed to a script, which stops with the error naming what gave it.
TEST_F(ScriptTextWork, ATextOverTheLimitFromANodeIsARuntimeErrorNamingTheSource) {
    const std::string tooLong(MaxScriptTextBytes + 1, 'x');
    auto* holder = Make<TextHolder>();
    DataBase* table = MakeTable("short");
    const std::string holderId = std::to_string(holder->GetId());
    const struct {
        const char* name;
        std::string source;
        std::string message;
        // Puts a text where the source reads.
        std::function<void(const char*)> place;
    } cases[] = {
        {"property",
         "stack 16\npush " + holderId + "\npush prop:ScriptTestTextHolder.name\ngetprop\nend\n",
         "ScriptTestTextHolder.name" + OverTheLimit,
         [&](const char* text) { holder->SetName(text); }},
        {"method",
         "stack 16\npush " + holderId + "\nmethod method:ScriptTestTextHolder.give 0\nend\n",
         "ScriptTestTextHolder.give" + OverTheLimit,
         [&](const char* text) { std::string(text).swap(holder->kept); }},
        {"database cell",
         "stack 16\npush " + std::to_string(table->GetId()) + "\npush 0\npush 0\n" +
             GetStringMethod() + "\nend\n",
         "DataBase." + std::string(DataBase::RegisterClass()->GetOwnMethods()[7]->GetName()) +
             OverTheLimit,
         [&](const char* text) { table->SetValueText(0, 0, text); }},
    };
    for (const auto& [name, source, message, place] : cases) {
        // One such text at a time.
        place(tooLong.c_str());
        for (const bool translated : {false, true}) {
            ScriptTranslatedRuns = translated;
            Script* script = MakeScript(source, name);
            EXPECT_FALSE(Call(script)) << name;
            EXPECT_EQ(script->GetRunState(), ScriptErrorPending) << name;
            EXPECT_EQ(LastError(), message) << name << " " << translated;
            script->Delete();
        }
        place("");
    }
}

} // namespace
} // namespace quarn
