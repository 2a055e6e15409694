#pragma once

#include "gpu/GpuLayer.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quarn {

class Platform;

inline constexpr const char* EngineVersion = "1.0";
inline constexpr const char* MainWindowTitle = "Pelgrath";

// What start-up builds on. The defaults are the player's: the SDL platform and the software
// rasteriser.
struct EngineSetup {
    std::string commandLine;
    std::function<Platform*()> makePlatform;
    GpuDeviceFactory makeGpu;
    // Set over what "config.txt" says, once it is read: (key, value) pairs.
    std::vector<std::pair<std::string, std::string>> settings;
    // A folder taken as the resource root as a game folder is, whether or not it holds a
    // "config.txt"; empty: the start folder's, chosen as the player chooses it.
    std::string resourceRoot;
    // The editor instead of the player: "standalone" is "false" for the whole run.
    bool editor = false;
    // The start scene is the one a tool's user named ("autorun" is set to it): its file is
    // opened with the user's reach, wherever it lies. What it names stays the game's.
    bool startSceneChosen = false;
    // The editor's scene to edit: opened stopped at start-up, in place of the game's start
    // scene. Relative to the resource root.
    std::string editScene;
    // A tool's run: the engine's own settings ("init.txt": recent files, folders, the
    // editor's window) are read but never written, whatever the run opens or a game saves.
    bool leaveEngineSettings = false;
    // Above 0: every frame steps the game by this many seconds instead of the measured frame
    // time, and particles take their seeds from a fixed sequence, so a run repeats exactly.
    float fixedStep = 0.0f;
};

// Start-up in its fixed order: platform, file system and resource root, settings, window and
// input, render device, load screen, class registration, the start scene and its signals.
// Everything it makes lives until the process ends. False when the program cannot run: the
// main window or the render device could not be made (StartUpError() says why).
bool InitEngine(const EngineSetup& setup);
const std::string& StartUpError();

// One frame: input, the disabled-root exit, device-loss recovery, the scene update, present.
// False ends the main loop.
bool FrameUpdate();

// Ends the process with status 0; nothing is saved.
[[noreturn]] void ExitProgram();
// Runs in ExitProgram's place, for tests and tools that must see the end: it throws or ends the
// process itself (should it return, the process ends as before). Empty: the plain exit.
void SetExitHandler(std::function<void()> handler);

// A file dropped on the window: a bmp, dds or png image becomes a Sprite node placed where the
// scene was hit under the point (screen pixels). False when nothing was made of it.
bool OnFileDropped(const char* path, int32_t screenX, int32_t screenY);

// The player from start to end: log sink, start-up, main loop, exit. Returns only when
// start-up failed, with the exit status 1.
int RunPlayer(const EngineSetup& setup);

// With QUARN_LOG set, every log line goes to stderr from now on. True when it does.
bool LogToStandardErrorWhenAsked();

// The player (true) or the editor: the main settings' "standalone".
bool IsStandalone();
// The engine's own file `name` in its folder of the platform's data home (EngineDataFolder):
// its settings, the editor's autosaves and play copies. Reached within an EngineFilesScope.
std::string EngineFile(const char* name);
// The main settings' "lang_code" goes to the game's own settings when they have none, where
// its scripts read it.
void CopyLanguageCode();

} // namespace quarn
