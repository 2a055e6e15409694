#pragma once

#include "core/scenefile/SceneLoader.h"

#include <cstdint>
#include <string>

namespace quarn {

// The one scene of the run and the commands that open, close, save, autosave, recover, play
// and stop it. At most one scene is loaded per process: wherever a loaded scene would be torn
// down (another open, a close, a stop while the game runs) the process ends at once
// (ExitProgram) when a scene root exists.
//
// The undo history is the editor's (the player installs none, and its steps are skipped); the
// version-control binding is an optional service that nothing installs, so its steps are left
// out.

// Bits of OpenScene's flags.
enum OpenSceneFlags : uint32_t {
    OpenSetsCurrentPath = 0x1, // on success: the current scene path and the recent files
    OpenLogsLoaded = 0x4,      // on success: "Scene '%s' loaded"
    OpenRawIds = 0x80,         // the reader takes ids as plain numbers
    OpenNativeClasses = 0x200, // the reader takes classes as their nearest native base
    // The file is the user's pick (a dialog's, a recent file, a tool's argument, an autosave
    // the user recovers): opened with the user's reach, and run as its own game (SceneGame)
    // wherever it lies. What it names is the game's either way.
    OpenUsersFile = 0x10000,
    // The words the callers pass.
    OpenStartScene = 0x105, // start-up, Load..., a recent file, Play...
    OpenNewScene = 0x104,
    OpenRecovered = 0x1C4,
};

// Bits of SaveScene's flags.
enum SaveSceneFlags : uint32_t {
    SaveSetsCurrentPath = 0x1,
    SaveNativeClasses = 0x2,
    SaveLogsSaved = 0x4, // on success: "Scene saved as '%s'"
    // The engine's own copy (an autosave, a play copy), written within an EngineFilesScope;
    // any other save writes the user's file (UserChoiceScope).
    SaveEngineCopy = 0x10,
    SaveQuietly = 0x40, // no "quarn_save" signal; closed classes are written with children
    SaveRawIds = 0x80,
    SaveClearsUnsaved = 0x100, // on success: the undo history's unsaved-changes flag
    SaveCompact = 0x200,       // the compact form, in a file whose extension becomes "scn"
    // The words the callers pass.
    SaveCurrent = 0x10D,
    SaveAutosave = 0xD0,
    // Play's copies hold the branches' content as the editor shows it, so the edited game is
    // the one played, and they send no "quarn_save": a copy writes no game file. Play
    // Standalone's is Play's: written as the native classes alone, it lost every script's node
    // variables, and the game it played was not the scene.
    SavePlayCopy = 0x50,
    SaveStandaloneCopy = 0x50,
};

// Seconds of stopped editing between two autosaves.
inline constexpr float AutosaveInterval = 300.0f;

// The path the editor saves to; empty at start.
const std::string& GetCurrentScenePath();
// Set when the game was started by a standalone or a dialog play command.
bool IsStandalonePlay();

// Opens a scene; an empty path asks with the open dialog. False when that dialog or the
// "Save?" prompt is cancelled, and in the editor while a scene is open (the editor edits one
// scene per run: the load is refused, saying why); true also when the file could not be read
// (the scene root is then null). A scene that loads short is told: the player logs it, the
// editor also shows it in one box, hangs the scene's other top-level nodes under its root and
// asks before a save writes over the file.
bool OpenScene(const char* path, uint32_t flags);
// The start-up runs the game of the folder it starts in: the recent file it would start in
// place of a start scene must be a scene of that game (SceneGame). "" when it is, else why not.
std::string WhyNotThisGamesScene(const char* path);
// A recent file of the File menu, opened as the user's pick: as its own game.
void OpenRecentScene(const char* path);
// Closes the scene: with a scene loaded that ends the process. With an undo history holding
// unsaved changes, and unless skipped, "Save?" comes first: false when the user cancels it or
// the save fails, and the scene stays.
bool CloseScene(bool skipPrompt);
// Writes the tree under the scene root; an empty path asks with the save dialog. A ".scn"
// file always holds the compact form. False when cancelled, vetoed by a "quarn_save" receiver,
// without a scene, when the user keeps a file that loaded short or that another program changed
// since the editor read or wrote it, or when the file could not be written whole; with
// SaveLogsSaved the last is also shown in the "Save failed" dialog with the reason.
bool SaveScene(const char* path, uint32_t flags);

// "autosave0.scene" .. 2 in the engine's own folder (EngineFile), in turn.
void AutosaveScene();
// Opens the newest autosave (the lower slot on a tie); nothing when there is none.
void RecoverFromAutosave();
// File > Save, Ctrl+S and File > Save As (an empty path asks): the text form to the ".scene"
// name and the compact form to the ".scn" name, each written whole beside its file and renamed
// over it, whichever the user named (it stays the current path). Nothing while the game runs.
void SaveCurrentScene();
void SaveSceneAs();
void OpenSceneDialog();
void NewScene();
// Play keeps the scene and its edited branches as they are when it has unsaved changes, and
// writes no game file; Stop, and a close while the game runs, ask "Save?" for them before the
// process ends (Cancel keeps the game running). Play Standalone (`standalone`) runs the scene as
// the player would: written to the engine's "standalone.scene" and read back from it in place of
// the edited tree.
void PlayScene(bool standalone);
void PlayWithDialog(uint32_t openFlags);
void StopScene();
// Reloads the resources whose files changed; false when a "reload_resources" receiver stopped
// the signal.
bool ReloadResources();

void SetLoadProgressCallback(SceneProgressCallback callback);
// "Pelgrath", followed by " (path)" while a scene path is current.
void UpdateWindowTitle();
// The path with the extension (".scene") appended when its file name has no '.': a dot in a
// folder name is no extension.
std::string WithDefaultExtension(std::string path, const char* extension);

// Edit/Undo and Edit/Redo as the undo history has them: greyed, with the bare words, without
// one.
struct UndoMenuState {
    std::string undoText = "Undo ";
    std::string redoText = "Redo ";
    bool undoEnabled = false;
    bool redoEnabled = false;
};
UndoMenuState GetUndoMenuState();

} // namespace quarn
