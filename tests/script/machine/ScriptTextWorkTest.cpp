// Work on texts counts against the step limit, and no text grows past the limit of a script's
// text, on both of the machine's paths.
#include "core/string/TextArena.h"
#include "render/Camera.h"
#include "script/machine/ScriptContext.h"
#include "script/machine/ScriptLibrary.h"
#include "script/machine/ScriptOperators.h"
#include "tests/script/machine/ScriptRunSupport.h"

#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

class ScriptTextWork : public test::ScriptRunTest {
protected:
    void SetUp() override {
        ScriptRunTest::SetUp();
        DeleteAllValueTypes(); // the fixture's own "int"
        RegisterScriptOperators();
        Camera::RegisterClass();
        RegisterScriptLibrary();
    }
    void TearDown() override {
        RemoveScriptLibrary();
        ScriptTranslatedRuns = true;
        ScriptRunTest::TearDown();
        ResetScriptKeywordTable();
    }
    static std::string Func(int index) {
        return "func " + std::to_string(GetScriptLibraryFirstIndex() + index);
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

TEST_F(ScriptTextWork, ATextOverTheLimitIsARuntimeErrorNamingTheFunction) {
    const std::string tooLong(MaxScriptTextBytes + 1, 'x');
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
         "Length: a text of 67108865 bytes is longer than the 64 MiB a script's text may have"},
        {"find", "stack 16\ntext \"x\"\npush -1\nloadlocal 1\n" + Func(44) + "\nend\n",
         "Find: a text of 67108865 bytes is longer than the 64 MiB a script's text may have"},
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
}

} // namespace
} // namespace quarn
