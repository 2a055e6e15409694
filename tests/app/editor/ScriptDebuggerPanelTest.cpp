#include "editor/ScriptDebuggerPanel.h"

#include "TestPaths.h"
#include "app/ClassRegistration.h"
#include "app/editor/EditorCommands.h"
#include "core/io/GrowingOutputStream.h"
#include "core/scene/EngineState.h"
#include "editor/MainFrame.h"
#include "script/machine/ScriptDebugHooks.h"
#include "script/machine/ScriptNode.h"
#include "script/machine/ScriptSymbols.h"
#include "tests/app/player/PlayerTestSupport.h"
#include "tools/ScriptAssembler.h"
#include "tools/ScriptProgramBuilder.h"

#include <fstream>
#include <iterator>

namespace quarn {
namespace {

// Source line N of the test programs reads "// line N"; the program marks the same lines.
std::string SourceText(int lines) {
    std::string text;
    for (int line = 1; line <= lines; ++line) {
        text += "// line " + std::to_string(line) + "\n";
    }
    return text;
}

// An update function of lines 2 .. last - 1 that each push and drop a value; with `failing`,
// line `last` holds a command the machine does not know, else it returns.
std::string UpdateProgram(int last, bool failing) {
    std::string source = "header 0 0\nstack 32\nfunction \"update\" (float) at=@update "
                         "decl=\"void update(float dt)\"\nupdate:\n";
    for (int line = 2; line < last; ++line) {
        source += "line\npush 1\ndrop 1\n";
    }
    source += failing ? "line\nword 999\nreturn 1 0\n" : "line\nreturn 1 0\n";
    return source;
}

// The editor (or the player) on a scene of two scripts: "stepper" runs lines 2 to 5 every frame;
// "broken" fails at line 60 in its first update, or "idle" has no program.
class ScriptDebuggerRun : public test::PlayerTest {
protected:
    static constexpr int FailingLine = 60;

    void StartOn(bool editor, bool withBroken) {
        WriteProgram("broken", UpdateProgram(FailingLine, true), FailingLine + 1);
        WriteProgram("stepper", UpdateProgram(5, false), 6);
        folder.WriteFile(
            "level.scene",
            "version = 44\nnum_nodes = 3\nobj1 {\n\tclass = \"Node\"\n\tname = \"root\"\n"
            "\tflags = 1\n}\nobj2 {\n\tclass = \"Script\"\n\tname = \"stepper\"\n\tparent = 1\n"
            "\tflags = 1\n\tscriptfile = \"stepper.script\"\n}\nobj3 {\n\tclass = \"Script\"\n" +
                std::string(withBroken ? "\tname = \"broken\"\n\tscriptfile = \"broken.script\"\n"
                                       : "\tname = \"idle\"\n") +
                "\tparent = 1\n\tflags = 1\n}\n");
        folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
        folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"640,480\"\n");
        ASSERT_TRUE(editor ? StartEditor() : Start());
        if (withBroken) {
            dialogs->AnswerButton(2); // Escape: to the debugger
        }
    }
    void WriteProgram(const std::string& name, const std::string& program, int lines) {
        // The source first: a program older than its source would not load.
        folder.WriteFile(name + ".script", SourceText(lines));
        ScriptProgramBuilder builder;
        std::string error;
        ASSERT_TRUE(AssembleScript(program, builder, error)) << error;
        ScriptCode code;
        ScriptSymbols symbols;
        ASSERT_TRUE(builder.Finish(code, symbols, error)) << error;
        const auto bytes = [](const std::vector<uint8_t>& data) {
            return std::string(data.begin(), data.end());
        };
        folder.WriteFile(name + ".bin", bytes(WriteScriptCode(code)));
        folder.WriteFile(name + ".sym", bytes(WriteScriptSymbols(symbols)));
    }

    // "breaks" reaches a breakpoint at line 4 in its first update; "counter" keeps the frame
    // count of its last update.
    void StartOnBreakpoint(bool editor) {
        WriteProgram("breaks",
                     "header 0 0\nstack 32\nvar \"reached\" int\nfunction \"update\" (float) "
                     "at=@update\nupdate:\nline\npush 0\nload 1\njumpif done\nline\npush 0\n"
                     "push 1\nstore 1\nline\nbreakpoint\ndone:\nreturn 1 0\n",
                     4);
        WriteProgram("counter",
                     "header 0 0\nstack 32\nvar \"count\" int\nfunction \"update\" (float) "
                     "at=@update\nupdate:\nline\npush 0\nfunc 155\nstore 1\nreturn 1 0\n",
                     2);
        folder.WriteFile("level.scene",
                         "version = 44\nnum_nodes = 3\nobj1 {\n\tclass = \"Node\"\n"
                         "\tname = \"root\"\n\tflags = 1\n}\nobj2 {\n\tclass = \"Script\"\n"
                         "\tname = \"breaks\"\n\tparent = 1\n\tflags = 1\n"
                         "\tscriptfile = \"breaks.script\"\n}\nobj3 {\n\tclass = \"Script\"\n"
                         "\tname = \"counter\"\n\tparent = 1\n\tprev = 2\n\tflags = 1\n"
                         "\tscriptfile = \"counter.script\"\n}\n");
        folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
        folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"640,480\"\n");
        ASSERT_TRUE(editor ? StartEditor() : Start());
    }
    static uint32_t Counted() {
        Script* counter = Named("counter");
        return counter && counter->GetVariableCount() > 0 ? counter->GetVariables()[0] : 0;
    }

    static ScriptDebuggerPanel& Panel() { return *GetScriptDebuggerPanel(); }
    static Script* Named(const char* name) {
        for (Node* node = GetSceneRoot()->GetFirstChild(); node; node = node->GetNext()) {
            if (node->GetName() == name) {
                return dynamic_cast<Script*>(node);
            }
        }
        return nullptr;
    }
    static bool Shown(const std::string& item) { return GetEditorUi()->FindItem(item).has_value(); }
    // A click whose release is taken before the pointer moves on.
    bool ClickAndRelease(const std::string& item) { return ClickItem(item) && Step(); }
    // Clicks a line of the source view, then Toggle while the view holds the keyboard (Toggle
    // acts on the press).
    bool ToggleAt(int line) {
        return ClickAndRelease("debug:1078:" + std::to_string(line)) &&
               ClickAndRelease("debug:1051");
    }
};

FRESH_PROCESS_TEST_F(ScriptDebuggerRun,
                     EscapeShowsTheFailingScriptScrolledToItsLineAndTheViewMakesRoom) {
    StartOn(true, true);
    ASSERT_NE(GetScriptDebuggerPanel(), nullptr);
    EXPECT_EQ(GetScriptDebugPanel(), GetScriptDebuggerPanel());
    EditorPanel* dock = Panel().GetDock();
    ASSERT_NE(dock, nullptr);
    EXPECT_EQ(dock->GetSide(), PanelBottom);
    EXPECT_FALSE(Panel().IsShown());
    const Int2 view = GetPlatform()->GetViewSize();

    // The first update fails; the dialog is answered with Escape.
    ASSERT_TRUE(StepFrames(3)); // the failure, then the view scrolls and is drawn
    Script* broken = Named("broken");
    EXPECT_EQ(broken->GetRunState(), ScriptErrorPending);
    EXPECT_TRUE(Panel().IsShown());
    EXPECT_EQ(Panel().GetShownScript(), broken);
    EXPECT_EQ(Panel().GetScrollLine(), FailingLine);
    EXPECT_EQ(Panel().GetLineCount(), uint32_t(FailingLine + 1));
    for (const char* item : {"debug:1019", "debug:1080"}) {
        EXPECT_TRUE(Shown(item)) << item;
    }
    EXPECT_TRUE(Shown("debug:1078:" + std::to_string(FailingLine)));
    EXPECT_FALSE(Shown("debug:1078:1")) << "the view scrolled";
    EXPECT_FALSE(Panel().IsStepEnabled() || Panel().IsResumeEnabled()) << "not a debugger stop";
    EXPECT_TRUE(Panel().IsCallStackEnabled());
    EXPECT_EQ(dock->GetExtent(), ScriptDebuggerPanel::DockExtent);
    // The view, its viewport and the composed image's view region lose the panel and its bar;
    // the panel's window lies below them.
    const int32_t lost = ScriptDebuggerPanel::DockExtent + MainFrame::Get()->Gap();
    EXPECT_EQ(GetPlatform()->GetViewSize(), Int2(view.x, view.y - lost));
    EXPECT_EQ(TheRenderDevice()->GetViewportSize(), Int2(view.x, view.y - lost));
    const auto window = GetEditorUi()->FindItem("debug");
    ASSERT_TRUE(window);
    EXPECT_GT(int32_t(window->top), GetEditorViewPlace(*GetPlatform()).y + view.y - lost);

    // "Editor view" hides it (and the view's edge) and shows it again.
    ToggleEditorView();
    ASSERT_TRUE(Step());
    EXPECT_FALSE(Panel().IsShown());
    EXPECT_FALSE(Shown("debug"));
    EXPECT_EQ(GetPlatform()->GetViewSize(), Int2(view.x + 4, view.y + 4));
    ToggleEditorView();
    ASSERT_TRUE(Step());
    EXPECT_TRUE(Panel().IsShown());
    EXPECT_EQ(GetPlatform()->GetViewSize(), Int2(view.x, view.y - lost));
}

FRESH_PROCESS_TEST_F(ScriptDebuggerRun, ToggleStepAndResumeDriveTheStoppedScriptAsTheButtonsAllow) {
    StartOn(true, false);
    ASSERT_TRUE(StepFrames(2));
    Script* stepper = Named("stepper");
    ASSERT_NE(stepper, nullptr);
    // Shown from the script list, the panel opened by "Editor view".
    ToggleEditorView();
    ASSERT_TRUE(StepFrames(2));
    ASSERT_TRUE(ClickAndRelease("debug:1056"));
    ASSERT_TRUE(StepFrames(2));
    ASSERT_TRUE(Shown("debug:1056:1")); // "idle", then "stepper"
    ASSERT_TRUE(ClickAndRelease("debug:1056:1"));
    ASSERT_EQ(Panel().GetShownScript(), stepper);

    // Run state 0: nothing to step; Toggle only while the source view has the keyboard.
    EXPECT_EQ(stepper->GetRunState(), ScriptReady);
    EXPECT_FALSE(Panel().IsStepEnabled() || Panel().IsResumeEnabled());
    EXPECT_FALSE(Panel().IsToggleEnabled());
    ASSERT_TRUE(ClickAndRelease("debug:1051"));
    EXPECT_EQ(Panel().GetCaretLine(), 0);
    ASSERT_TRUE(ClickAndRelease("debug:1078:3"));
    EXPECT_EQ(Panel().GetCaretLine(), 3);
    EXPECT_TRUE(Panel().IsToggleEnabled());
    ASSERT_TRUE(ClickAndRelease("debug:1051"));
    EXPECT_TRUE(Panel().HasBreakpoint(3));

    // The next update stops there: run state 4, the game paused, every button but Toggle on.
    ASSERT_TRUE(StepFrames(2));
    ASSERT_EQ(stepper->GetRunState(), ScriptDebug);
    EXPECT_TRUE(GamePaused);
    EXPECT_EQ(stepper->GetCurrentLine(), 3);
    ASSERT_TRUE(Step());
    EXPECT_TRUE(Panel().IsStepEnabled() && Panel().IsResumeEnabled() &&
                Panel().IsCallStackEnabled());
    EXPECT_FALSE(Panel().IsToggleEnabled()) << "the keyboard went to the button";

    // Step runs one line and stays stopped; the paused frames run nothing.
    ASSERT_TRUE(ClickAndRelease("debug:1053"));
    ASSERT_TRUE(StepFrames(2));
    EXPECT_EQ(stepper->GetCurrentLine(), 4);
    EXPECT_EQ(stepper->GetRunState(), ScriptDebug);

    // Resume goes on, and the next update stops at the breakpoint again.
    ASSERT_TRUE(ClickAndRelease("debug:1055"));
    ASSERT_TRUE(StepFrames(2));
    EXPECT_EQ(stepper->GetRunState(), ScriptDebug);
    EXPECT_EQ(stepper->GetCurrentLine(), 3);

    // Cleared, the script runs on after Resume.
    ASSERT_TRUE(ToggleAt(3));
    EXPECT_FALSE(Panel().HasBreakpoint(3));
    ASSERT_TRUE(ClickAndRelease("debug:1055"));
    ASSERT_TRUE(StepFrames(5));
    EXPECT_NE(stepper->GetRunState(), ScriptDebug);
    EXPECT_FALSE(GamePaused);
}

FRESH_PROCESS_TEST_F(ScriptDebuggerRun, ThePlayerHasNoPanel) {
    StartOn(false, true);
    ASSERT_TRUE(StepFrames(2));
    EXPECT_EQ(GetScriptDebuggerPanel(), nullptr);
    EXPECT_EQ(GetScriptDebugPanel(), nullptr);
    EXPECT_EQ(Named("broken")->GetRunState(), ScriptErrorPending);
    EXPECT_EQ(GetEditorUi(), nullptr) << "nothing to draw over the player's frames";
}

// A breakpoint stops its script only where the editor's debugger can resume it. The player has
// none: the breakpoint is passed over with one line, and the frames run on (the game stayed
// paused after the first, so the script beside it ran no more).
FRESH_PROCESS_TEST_F(ScriptDebuggerRun, ABreakpointInThePlayerIsPassedOverAndTheGameRunsOn) {
    StartOnBreakpoint(false);
    ASSERT_TRUE(StepFrames(10));
    EXPECT_EQ(Named("breaks")->GetRunState(), ScriptReady);
    EXPECT_FALSE(GamePaused);
    EXPECT_GE(Counted(), 9u) << LogText();
    const std::string line = "Script \"breaks\" line 4: breakpoint passed over: no script "
                             "debugger here can resume it\n";
    const std::string logged = LogText();
    const size_t at = logged.find(line);
    EXPECT_NE(at, std::string::npos) << logged;
    EXPECT_EQ(logged.find(line, at + 1), std::string::npos) << logged;
}

FRESH_PROCESS_TEST_F(ScriptDebuggerRun, ABreakpointInTheEditorStopsTheGameForItsDebugger) {
    StartOnBreakpoint(true);
    ASSERT_TRUE(StepFrames(10));
    EXPECT_EQ(Named("breaks")->GetRunState(), ScriptDebug);
    EXPECT_TRUE(GamePaused);
    EXPECT_LT(Counted(), 3u);
    EXPECT_EQ(LogText().find("breakpoint passed over"), std::string::npos);
}

FRESH_PROCESS_TEST_F(ScriptDebuggerRun, TheEditorsClassesStayAsGolden) {
    folder.WriteFile("config.txt", "");
    ASSERT_TRUE(StartEditor());
    ASSERT_NE(GetScriptDebuggerPanel(), nullptr);
    std::ifstream file(QUARN_TEST_DATA "/classes.txt", std::ios::binary);
    const std::string golden{std::istreambuf_iterator<char>(file), {}};
    GrowingOutputStream table;
    WriteClassTable(table);
    EXPECT_EQ(table.GetText(), golden);
}

} // namespace
} // namespace quarn
