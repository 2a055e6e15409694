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

} // namespace quarn
