#include "script/machine/ScriptDebugger.h"

#include "core/filesystem/SettingsFile.h"
#include "core/object/Property.h"
#include "script/machine/ScriptSearchPath.h"
#include "script/machine/ScriptSystem.h"
#include "tests/script/machine/ScriptRunSupport.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::ScriptRunTest;

class ScriptDebuggerTest : public ScriptRunTest {
protected:
    void SetUp() override {
        ScriptRunTest::SetUp();
        ScriptDebugger::ResetLineBudget();
    }
    void TearDown() override {
        ScriptDebugger::ResetLineBudget();
        ScriptRunTest::TearDown();
    }

    static std::string Lines(int count, const char* end) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            text += 'x';
            text += char('0' + i % 10);
            text += end;
        }
        return text;
    }
};

TEST_F(ScriptDebuggerTest, SourcesLoadWholeWithCrLfLineEnds) {
    struct Case {
        const char* name;
        std::string text;
        uint32_t lines;
        uint32_t budget;
    };
    const Case cases[] = {
        {"5000 lines, the budget doubling once", Lines(5000, "\n"), 5000, 8192},
        {"CR LF lines kept single", Lines(3, "\r\n"), 3, 4096},
        {"exactly the budget, the last line unended",
         Lines(4096, "\n").substr(0, Lines(4096, "\n").size() - 1), 4096, 4096},
        {"empty", "", 0, 4096},
    };
    for (const Case& c : cases) {
        ScriptDebugger::ResetLineBudget();
        temp_.WriteFile("source.script", c.text);
        ScriptDebugger debugger;
        EXPECT_TRUE(debugger.LoadSource("source.script")) << c.name;
        EXPECT_EQ(debugger.GetLineCount(), c.lines) << c.name;
        EXPECT_EQ(ScriptDebugger::GetLineBudget(), c.budget) << c.name;
        EXPECT_EQ(debugger.GetSource(), Lines(int(c.lines), "\r\n")) << c.name;
    }
    ScriptDebugger debugger;
    EXPECT_FALSE(debugger.LoadSource("absent.script"));
    EXPECT_EQ(debugger.GetSource(), "");
    EXPECT_EQ(debugger.GetLineCount(), 0u);
}

TEST_F(ScriptDebuggerTest, ShowingANodeTakesItsSourceOnceAndTheButtonsFollowItsState) {
    Script* script = MakeScript("line\nsleepframe\nend\n", "shown");
    ScriptDebugger debugger;
    EXPECT_EQ(GetScriptDebugPanel(), &debugger);
    debugger.ShowScript(*script);
    EXPECT_EQ(debugger.GetShownScript(), script);
    EXPECT_EQ(debugger.GetProgram(), script->GetProgram());
    EXPECT_EQ(debugger.GetSource(), "// source\r\n");
    EXPECT_EQ(debugger.GetScrollLine(), -1);
    // A second show of the same node leaves what the panel holds.
    debugger.LoadSource("absent.script");
    debugger.ShowScript(*script);
    EXPECT_EQ(debugger.GetSource(), "");

    struct Case {
        bool context;
        int state;
        bool focused;
        bool step, toggle, callStack;
    };
    const Case cases[] = {
        {false, ScriptDebug, false, false, false, false},
        {true, ScriptDebug, false, true, false, true},
        {true, ScriptRunning, true, false, true, true},
        {true, ScriptSleeping, false, false, false, true},
    };
    for (const Case& c : cases) {
        if (c.context) {
            script->AcquireContext();
        }
        script->SetRunState(c.state);
        debugger.SetSourceFocused(c.focused);
        EXPECT_EQ(debugger.IsStepEnabled(), c.step) << c.state;
        EXPECT_EQ(debugger.IsResumeEnabled(), c.step) << c.state;
        EXPECT_EQ(debugger.IsToggleEnabled(), c.toggle) << c.state;
        EXPECT_EQ(debugger.IsCallStackEnabled(), c.callStack) << c.state;
    }

    // Another node in the middle of a run: the view goes to its line.
    Script* running = MakeScript("line\nsleepframe\nend\n", "running");
    ASSERT_TRUE(running->StartFunction(0, 0, nullptr, true));
    running->Update(0.0f, UpdateRunning);
    debugger.ShowScript(*running);
    EXPECT_EQ(debugger.GetScrollLine(), 2);
    running->Delete();
    EXPECT_EQ(debugger.GetShownScript(), nullptr);
}

// A program that names the file it was assembled from is shown in that file, at the line of
// the command it goes on with; without the file beside it, the script file is shown.
TEST_F(ScriptDebuggerTest, AProgramIsShownInTheFileItWasAssembledFrom) {
    const std::string text = "; waits a frame\nline\nsleepframe\nend\n";
    temp_.WriteFile("waiter.asm", text);
    Script* running = MakeScript(text, "waiter", true, "waiter.asm");
    ASSERT_TRUE(running->StartFunction(0, 0, nullptr, true));
    running->Update(0.0f, UpdateRunning);
    ScriptDebugger debugger;
    debugger.ShowScript(*running);
    EXPECT_EQ(debugger.GetSource(), "; waits a frame\r\nline\r\nsleepframe\r\nend\r\n");
    EXPECT_EQ(debugger.GetScrollLine(), 4);

    Script* moved = MakeScript(text, "moved", true, "elsewhere.asm");
    debugger.ShowScript(*moved);
    EXPECT_EQ(debugger.GetSource(), "// source\r\n");
}

TEST_F(ScriptDebuggerTest, TheScriptSystemShowsItsFolderAndSetsTheSearchPath) {
    temp_.WriteFile("scripts/enemies/a.script", "");
    GetMainSettings().SetString("script_base_folder", "scripts");
    auto* system = static_cast<ScriptSystem*>(ScriptSystem::RegisterClass()->CreateInstance());
    made_.push_back(system->GetSerial());
    GetMainSettings().Remove("script_base_folder");
    EXPECT_EQ(GetScriptSearchPath(), (std::vector<std::string>{"scripts/", "scripts/enemies/"}));
    const Property* folder = system->FindProperty("basefolder");
    ASSERT_NE(folder, nullptr);
    folder->SetFromText(*system, "elsewhere");
    EXPECT_EQ(folder->GetAsText(*system), "scripts");
    EXPECT_EQ(system->GetClass(), ScriptSystem::RegisterClass());
}

} // namespace
} // namespace quarn
