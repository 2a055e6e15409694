#include "core/filesystem/ScriptFileAccess.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"

namespace quarn {

namespace {

bool scriptRunning = false;
bool heldAlways = false;
int holds = 0;

// Asks the file system about the path; a refusal is logged.
bool MayReach(const char* function, const char* path, uint32_t flags) {
    const FileSystem* files = GetFileSystem();
    if (files && files->IsInsideGame(path, flags)) {
        return true;
    }
    LogChannelMessage("script", "%s refused \"%s\": %s", function, LoggedPath(path).c_str(),
                      OutsideGameReason);
    return false;
}

} // namespace

bool IsInsideGame(const FileSystem& files, const char* path) {
    return files.IsInsideGame(path, 0);
}

bool IsNativeInsideGame(const FileSystem& files, const char* nativePath) {
    return files.IsInsideGame(nativePath, OpenNative);
}

bool ScriptMayReach(const char* function, const char* path) {
    return MayReach(function, path, 0);
}

bool ScriptMayReachNative(const char* function, const char* nativePath) {
    return MayReach(function, nativePath, OpenNative);
}

bool IsScriptRunning() {
    return scriptRunning;
}

void SetScriptRunning(bool running) {
    scriptRunning = running;
}

bool IsGameAtWork() {
    return scriptRunning || holds > 0;
}

bool IsGameReachHeld() {
    return heldAlways || scriptRunning || holds > 0;
}

void HoldGameReachAlways(bool always) {
    heldAlways = always;
}

GameReachHold::GameReachHold(bool hold) : hold_(hold) {
    if (hold_) {
        ++holds;
    }
}

GameReachHold::~GameReachHold() {
    if (hold_) {
        --holds;
    }
}

// A script run inside the scope holds the reach again, as a run anywhere does.
EngineFilesScope::EngineFilesScope()
    : savedScriptRunning_(scriptRunning), savedAlways_(heldAlways), savedHolds_(holds) {
    scriptRunning = false;
    heldAlways = false;
    holds = 0;
}

EngineFilesScope::~EngineFilesScope() {
    scriptRunning = savedScriptRunning_;
    heldAlways = savedAlways_;
    holds = savedHolds_;
}

UserChoiceScope::UserChoiceScope(bool chosen)
    : lifted_(chosen && !scriptRunning && holds == 0), savedAlways_(heldAlways) {
    if (lifted_) {
        heldAlways = false;
    }
}

UserChoiceScope::~UserChoiceScope() {
    if (lifted_) {
        heldAlways = savedAlways_;
    }
}

} // namespace quarn
