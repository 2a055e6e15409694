#include "editor/ScriptDebuggerPanel.h"

#include "core/scene/EngineState.h"
#include "editor/MainFrame.h"
#include "script/machine/ScriptDebugHooks.h"
#include "script/machine/ScriptFastCode.h"
#include "tests/editor/FakeFrameHost.h"
#include "tests/script/machine/ScriptRunSupport.h"

#include <gtest/gtest.h>
#include <memory>

namespace quarn {
namespace {

// A sunken 800 x 600 frame with the panel docked in it, and scripts assembled from text.
class ScriptDebuggerPanelTest : public test::ScriptRunTest {
protected:
    void SetUp() override {
        ScriptRunTest::SetUp();
        frame_.Layout(0);
        panel_ = std::make_unique<ScriptDebuggerPanel>(frame_);
    }
    void TearDown() override {
        panel_.reset();
        ScriptRunTest::TearDown();
    }

    // Lines 2, 3 and 4 push 1, 2 and 3.
    Script* ThreeLines() {
        return MakeScript("line\npush 1\nline\npush 2\nline\npush 3\nend\n", "three");
    }

    test::FakeFrameHost host_;
    MainFrame frame_{host_, true};
    std::unique_ptr<ScriptDebuggerPanel> panel_;
};

TEST_F(ScriptDebuggerPanelTest, ShowingBringsTheEditorViewBackAndThePanelLeavesWithItsDock) {
    EXPECT_FALSE(panel_->IsShown());
    frame_.SetEditorView(false);
    EXPECT_EQ(host_.resized.back(), (LayoutRect{0, 0, 800, 600}));
    panel_->ShowScript(*ThreeLines());
    EXPECT_TRUE(panel_->IsShown());
    EXPECT_EQ(host_.resized.back(), (LayoutRect{2, 2, 798, 598 - 202})) << "the edge is back";

    panel_.reset();
    EXPECT_EQ(frame_.Root().GetFirstChild(), nullptr);
    EXPECT_EQ(GetScriptDebugPanel(), nullptr);
    EXPECT_EQ(host_.resized.back(), (LayoutRect{2, 2, 798, 598}));
}

TEST_F(ScriptDebuggerPanelTest, BreakpointsGoOnlyWhereALineHasCodeAndClearingRestoresIt) {
    // Line 3 is empty: line 4 starts where it does.
    Script* script = MakeScript("line\npush 1\nline\nline\npush 2\nend\n", "gaps");
    panel_->ShowScript(*script);
    const std::vector<uint32_t> code(script->GetProgram()->GetCode(),
                                     script->GetProgram()->GetCode() +
                                         script->GetProgram()->GetCodeSize());
    const struct {
        int line;
        bool set;
    } cases[] = {{0, false}, {1, false}, {2, true}, {3, false}, {4, true}, {99, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(panel_->ToggleBreakpoint(c.line), c.set) << c.line;
        EXPECT_EQ(panel_->HasBreakpoint(c.line), c.set) << c.line;
    }
    EXPECT_EQ(script->GetProgram()->Breakpoints().size(), 2u);
    for (int line : {2, 4}) {
        EXPECT_TRUE(panel_->ToggleBreakpoint(line));
        EXPECT_FALSE(panel_->HasBreakpoint(line));
    }
    EXPECT_TRUE(script->GetProgram()->Breakpoints().empty());
    EXPECT_EQ(std::vector<uint32_t>(script->GetProgram()->GetCode(),
                                    script->GetProgram()->GetCode() + code.size()),
              code);

    // Without its symbol file a program has no lines to break at.
    Script* bare = MakeScript("line\npush 1\nend\n", "bare", false);
    panel_->ShowScript(*bare);
    EXPECT_FALSE(panel_->ToggleBreakpoint(1));
}

TEST_F(ScriptDebuggerPanelTest, ResumeStopsAgainAtABreakpointInItsLineAndStepEndsWithTheRun) {
    Script* script = ThreeLines();
    panel_->ShowScript(*script);
    ASSERT_TRUE(panel_->ToggleBreakpoint(2));
    ASSERT_TRUE(panel_->ToggleBreakpoint(3));
    Call(script);
    ASSERT_EQ(script->GetRunState(), ScriptDebug);
    EXPECT_EQ(script->GetCurrentLine(), 2);

    // The breakpoint of line 3 holds the script; the one left behind is armed again.
    panel_->Resume();
    EXPECT_EQ(script->GetRunState(), ScriptDebug);
    EXPECT_EQ(script->GetCurrentLine(), 3);
    EXPECT_TRUE(GamePaused);
    EXPECT_EQ(script->GetProgram()->GetCode()[0], ScriptResource::BreakpointCommand);

    // Stepping through the end leaves the stop instead of stepping an idle context.
    panel_->StepLine();
    EXPECT_EQ(script->GetCurrentLine(), 4);
    panel_->StepLine();
    EXPECT_EQ(script->GetRunState(), ScriptReady);
    EXPECT_FALSE(panel_->IsStepEnabled());
    panel_->StepLine();
    EXPECT_TRUE(dialogs_.Dialogs().empty()) << LastError();
    EXPECT_EQ(StackOf(script), (std::vector<uint32_t>{1, 2, 3}));

    // Resumed, the run goes on to its end and the game with it.
    Call(script);
    ASSERT_EQ(script->GetRunState(), ScriptDebug);
    panel_->Resume();
    panel_->Resume();
    EXPECT_NE(script->GetRunState(), ScriptDebug);
    EXPECT_FALSE(GamePaused);
}

TEST_F(ScriptDebuggerPanelTest, SteppingWithoutBreakpointsLeavesTheTranslatedFormAlone) {
    Script* script = ThreeLines();
    panel_->ShowScript(*script);
    ASSERT_TRUE(panel_->ToggleBreakpoint(2));
    Call(script);
    ASSERT_EQ(script->GetRunState(), ScriptDebug);
    ASSERT_TRUE(panel_->ToggleBreakpoint(2));
    ScriptResource& program = *script->GetProgram();
    const ScriptFastCode* form = program.GetFastCode();
    const uint64_t made = ScriptFastCode::MadeCount();

    // Reading the code to re-arm nothing must not count as changing it.
    panel_->StepLine();
    EXPECT_EQ(program.GetFastCode(), form);
    EXPECT_EQ(ScriptFastCode::MadeCount(), made);
}

} // namespace
} // namespace quarn
