#include "script/ScriptDebugHooks.h"

#include <algorithm>
#include <cerrno>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace quarn {

namespace {

// An argument vector, never a shell: the path reaches the opener as one argument whatever it
// holds.
bool OpenWithDesktop(const char* nativePath) {
    char program[] = "xdg-open";
    std::string path = nativePath;
    char* argv[] = {program, path.data(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, program, nullptr, nullptr, argv, environ) != 0) {
        return false;
    }
    // The opener may stay until the editor it started closes; its exit is collected aside so
    // the frame does not wait and no zombie stays.
    std::thread([child] {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

ScriptSourceOpener sourceOpener = nullptr;
std::vector<ScriptDebugPanel*> debugPanels;

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

} // namespace quarn
