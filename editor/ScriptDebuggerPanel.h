#pragma once

// The script debugger's window: a panel docked at the bottom of the main frame, drawn with the
// UI layer over the debugger's model. Its items are named "debug:ID" after the controls of the
// dialog it stands for: 1056 the script list, 1019 the call stack, 1051 Toggle, 1053 Step,
// 1055 Resume, 1080 the line-number column, 1078 the source view ("debug:1078:LINE" one of its
// visible lines).

#include "editor/EditorPanel.h"
#include "script/machine/ScriptDebugger.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

class MainFrame;
class UiLayer;

class ScriptDebuggerPanel final : public ScriptDebugger {
public:
    static constexpr int32_t DockExtent = 200;

    // Docks the panel hidden at the bottom of the frame's view; it shows with the first script.
    explicit ScriptDebuggerPanel(MainFrame& frame);
    // The docked panel goes with the frame of the run when that still exists.
    ~ScriptDebuggerPanel() override;

    // The model's show, then the panel itself appears.
    void ShowScript(Script& script) override;

    // The docked panel in the frame of the run; null once the frame is gone.
    EditorPanel* GetDock() const;
    bool IsShown() const;

    // Runs one source line of the stopped script.
    void StepLine();
    // Leaves the debugger stop: the line stopped at runs, then the script and the game go on.
    void Resume();
    // Sets or clears a breakpoint at the start of a source line (from 1) of the shown program;
    // false when the line has no code.
    bool ToggleBreakpoint(int line);
    bool HasBreakpoint(int line) const;
    // The line the source view's caret is on, from 1; 0 for none.
    int GetCaretLine() const { return caretLine_; }
    void SetCaretLine(int line) { caretLine_ = line; }

    // The panel's window inside a UI frame; `top` is the menu bar's height, which the UI's
    // pixels include and the frame's do not.
    void Draw(UiLayer& layer, int32_t top);

private:
    struct StackEntry {
        std::string label;
        int line = -1;
    };
    // The frames of the shown script's context, innermost first.
    std::vector<StackEntry> CallStack() const;
    // The code offset at which a source line starts; -1 when it has none.
    int64_t LineOffset(int line) const;
    // Writes the breakpoint command over each breakpoint except one at the position stopped at,
    // which would otherwise stop the script again before it moves.
    void ArmBreakpoints();
    void RebuildLines();
    void DrawScriptList(UiLayer& layer);
    void DrawCallStack(UiLayer& layer);
    void DrawButtons(UiLayer& layer);
    void DrawSource(UiLayer& layer, float columnWidth);

    PanelWindow window_ = 0;
    // Where each line of the model's text starts and ends (without its CR LF).
    std::vector<std::string_view> lines_;
    const char* indexedData_ = nullptr;
    size_t indexedSize_ = 0;
    int caretLine_ = 0;
    // The line the view last scrolled to, so it scrolls again only when the line moves.
    int scrolledTo_ = -1;
    int requestedLine_ = -1;
};

} // namespace quarn
