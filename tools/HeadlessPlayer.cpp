#include "tools/HeadlessPlayer.h"

#include "app/platform/SdlPlatform.h"
#include "app/platform/StopSignal.h"
#include "app/player/Engine.h"
#include "app/player/InputScript.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/SceneGame.h"
#include "core/scene/Node.h"
#include "core/string/Text.h"
#include "tools/ToolStatus.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <utility>

namespace quarn {

namespace {

std::atomic<int32_t> stepsRun{0};
int32_t stepsPlanned = 0;
std::string stepUnit;
std::string stopCost;

std::atomic<bool> stopTold{false};

// On the stop watch's thread, for a command that holds on past the grace.
void SayStepCutShort() {
    SayToolStopped(true);
}

// No screen bounds the window: a picture has exactly the size asked.
class HeadlessPlatform final : public SdlPlatform {
public:
    HeadlessPlatform() : SdlPlatform("") {}
    Int2 GetScreenSize() override { return {}; }
    Int2 GetWorkAreaSize() override { return {}; }
};

} // namespace

std::string FromCurrentFolder(const std::string& path) {
    const bool absolute = path[0] == '/' || path.find(':') != std::string::npos;
    return absolute ? path : std::filesystem::current_path().string() + "/" + path;
}

bool IsStartUpNews(const std::string& line) {
    for (const char* news : {"Quarn v", "Scene '", "Game settings read from '",
                             "Base folder is now '", "Script search-path set to '"}) {
        if (line.starts_with(news)) {
            return true;
        }
    }
    return false;
}

std::string SceneLoadFailure(const std::vector<std::string>& lines) {
    // The player's version line comes right before it opens the start scene.
    size_t opened = lines.size();
    while (opened > 0 && !lines[opened - 1].starts_with("Quarn v")) {
        --opened;
    }
    for (size_t at = lines.size() - std::min<size_t>(lines.size(), 1); at > opened; --at) {
        if (!IsStartUpNews(lines[at - 1])) {
            return lines[at - 1];
        }
    }
    return lines.empty() ? "" : lines.back();
}

HeadlessStart StartHeadlessPlayer(const std::string& scene, float step, Int2 size) {
    EngineSetup setup;
    FileSystem& here = *GetFileSystem();
    // A packed game is the resource root, so its "autorun" and the scene given here are paths
    // in the archive, as the player opens them; a scene only on disk is still found there.
    const bool packed = here.Exists("data.zoo");
    const bool inArchive =
        packed && (here.Exists(("data.zoo/" + scene).c_str()) || !here.Exists(scene.c_str()));
    const std::string scenePath = inArchive ? scene : FromCurrentFolder(scene);
    // The scene runs as its own game, whatever folder the tool runs in; a packed game's scene
    // as that game, as the player opens it.
    if (StartsWithNoCase(scene.c_str(), "res://")) {
        setup.resourceRoot = "res://";
    } else if (!inArchive && scene.find(':') == std::string::npos) {
        setup.resourceRoot = FindSceneGame(here, scenePath).root;
    }
    // Nothing may wait for a display, a sound card or an answer.
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    setenv("ALSOFT_DRIVERS", "null", 1);
    setenv("QUARN_DIALOGS", "script", 1);
    setup.makePlatform = [] { return new HeadlessPlatform(); };
    setup.startSceneChosen = true;
    setup.leaveEngineSettings = true;
    setup.fixedStep = step;
    // The picture is the window's: a game's full-monitor setting has no monitor here.
    setup.settings = {{"autorun", scenePath}, {"screenshot", "true"}, {"fullscreen", "false"}};
    if (size.x > 0) {
        // The view lies inside a two-pixel edge on each side of the window's client area.
        setup.settings.emplace_back("editor_windowsize",
                                    StringFormat("%d,%d", size.x + 4, size.y + 4));
    }
    if (!InitEngine(setup)) {
        return HeadlessStart::NoPlayer;
    }
    return GetSceneRoot() ? HeadlessStart::Started : HeadlessStart::NoScene;
}

void RunHeadlessFrames(int32_t frames) {
    int32_t count = 0;
    GetPlatform()->SetFrameCallback([&] {
        if (!FrameUpdate()) {
            return false;
        }
        CountToolStep();
        return ++count < frames;
    });
    GetPlatform()->RunMainLoop();
    FinishInputScript();
}

void WatchToolStop(std::string lost) {
    WatchToolStopSignals("", 0, std::move(lost));
}

void WatchToolStopSignals(const char* unit, int32_t planned, std::string lost) {
    stepUnit = unit;
    stepsPlanned = planned;
    stopCost = std::move(lost);
    SetStopEnding(ExitFailed, SayStepCutShort);
    WatchStopSignals();
}

void SayToolStopped(bool cut) {
    if (stopTold.exchange(true)) {
        return;
    }
    // Written whole with no lock: on the watch's thread the main thread may hold stdio's.
    const std::string line = "quarn-tool: " + ToolStopReason(cut) + "\n";
    for (size_t written = 0; written < line.size();) {
        const ssize_t put = write(STDERR_FILENO, line.data() + written, line.size() - written);
        if (put <= 0) {
            return;
        }
        written += static_cast<size_t>(put);
    }
}

void CountToolStep() {
    ++stepsRun;
}

std::string ToolStopReason(bool cut) {
    if (stepUnit.empty()) {
        return stopCost.empty() ? "stopped by a signal" : "stopped by a signal; " + stopCost;
    }
    const int32_t run = stepsRun.load();
    // "frames" -> "frame"
    const std::string one = stepUnit.substr(0, stepUnit.size() - 1);
    std::string reason = cut && run < stepsPlanned
                             ? StringFormat("stopped by a signal during %s %d of %d (%d ran whole)",
                                            one.c_str(), run + 1, stepsPlanned, run)
                             : StringFormat("stopped by a signal after %d of %d %s", run,
                                            stepsPlanned, stepUnit.c_str());
    return stopCost.empty() ? reason : reason + "; " + stopCost;
}

} // namespace quarn
