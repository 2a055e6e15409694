#pragma once

namespace quarn {

class Script;

// Where a runtime error's dialog leads: the source file opened with the desktop's program, or
// the script debugger panel.

// Opens a native path with the desktop's program; false when it could not be started.
using ScriptSourceOpener = bool (*)(const char* nativePath);
// Tests replace the opener; null restores the one that starts xdg-open.
void SetScriptSourceOpener(ScriptSourceOpener opener);
bool OpenScriptSource(const char* nativePath);

// A live debugger panel that can show a failing script.
class ScriptDebugPanel {
public:
    virtual ~ScriptDebugPanel() = default;
    virtual void ShowScript(Script& script) = 0;
};

// Panels register while they live; the first registered one is asked.
void AddScriptDebugPanel(ScriptDebugPanel* panel);
void RemoveScriptDebugPanel(ScriptDebugPanel* panel);
ScriptDebugPanel* GetScriptDebugPanel();

// Whether a script stopped now (at a breakpoint, or for "Debug script") can be resumed: a panel
// lives and the application shows it. The player and the tools have none; the editor's
// standalone play shows none.
bool ScriptDebuggerCanResume();
// The application's say on whether its panel is shown; null: a live panel always is.
void SetScriptDebuggerShownHook(bool (*shown)());

} // namespace quarn
