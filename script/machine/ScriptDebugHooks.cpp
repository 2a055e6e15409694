#include "script/machine/ScriptDebugHooks.h"

#include "core/os/DesktopOpen.h"

#include <algorithm>
#include <vector>

namespace quarn {

namespace {

ScriptSourceOpener sourceOpener = nullptr;
std::vector<ScriptDebugPanel*> debugPanels;
bool (*debuggerShown)() = nullptr;

} // namespace

void SetScriptSourceOpener(ScriptSourceOpener opener) {
    sourceOpener = opener;
}

bool OpenScriptSource(const char* nativePath) {
    return (sourceOpener ? sourceOpener : OpenWithDesktop)(nativePath);
}

void AddScriptDebugPanel(ScriptDebugPanel* panel) {
    if (panel && std::find(debugPanels.begin(), debugPanels.end(), panel) == debugPanels.end()) {
        debugPanels.push_back(panel);
    }
}

void RemoveScriptDebugPanel(ScriptDebugPanel* panel) {
    debugPanels.erase(std::remove(debugPanels.begin(), debugPanels.end(), panel),
                      debugPanels.end());
}

ScriptDebugPanel* GetScriptDebugPanel() {
    return debugPanels.empty() ? nullptr : debugPanels.front();
}

bool ScriptDebuggerCanResume() {
    return !debugPanels.empty() && (!debuggerShown || debuggerShown());
}

void SetScriptDebuggerShownHook(bool (*shown)()) {
    debuggerShown = shown;
}

} // namespace quarn
