#pragma once

namespace quarn {

class FileSystem;

// Games are downloaded and run, so the files they name stay inside the game: its resource root
// (a folder, or an archive), its own data folder ("user://") and the files built into the
// program ("res://"). A path leads outside when it climbs out with "..", names another absolute
// place or scheme, or passes through a link whose target lies outside (an absolute link always
// does). Links inside a root that stay inside it are followed as usual.
//
// The player holds every file its game names to this (HoldGameReachAlways); the editor holds
// what its scripts reach and what they set in motion (IsScriptRunning, GameReachHold). While
// the reach is held the file system itself opens every file beneath a root in one step, so that
// no link swapped between a check and the open leads out. The editor's dialogs and the tools
// keep the user's reach.

// Whether the virtual path stays inside the game of `files` (FileSystem::IsInsideGame).
bool IsInsideGame(const FileSystem& files, const char* path);
// The same for a native path: no scheme or base folder applies.
bool IsNativeInsideGame(const FileSystem& files, const char* nativePath);

// For the engine's functions and methods that scripts call with a path: IsInsideGame on the
// program's file system. A refusal logs one line naming the function and the path.
bool ScriptMayReach(const char* function, const char* path);
bool ScriptMayReachNative(const char* function, const char* nativePath);

// Whether a script's code runs now; the script machine says so for each run. The engine's
// methods that write files on their own object (MethodInfo::SetWrittenFiles) hold their targets
// to the game only then: the editor and the tools that call them keep their reach.
bool IsScriptRunning();
void SetScriptRunning(bool running);

// Whether the file system holds every file to the game now: always in the player, while a
// script runs, and within a GameReachHold; within an EngineFilesScope only while a script that
// started in it runs.
bool IsGameReachHeld();
void HoldGameReachAlways(bool always);

// Holds the game's reach for its lifetime when asked to: for work a script set in motion that
// runs after the script has returned (a controller it made, receiving an event later).
class GameReachHold {
public:
    explicit GameReachHold(bool hold);
    ~GameReachHold();
    GameReachHold(const GameReachHold&) = delete;
    GameReachHold& operator=(const GameReachHold&) = delete;

private:
    bool hold_;
};

// The engine's own files (its settings, autosaves) lie outside every game, by paths no game
// chooses: the engine reaches them within this scope, also while a game's reach is held.
class EngineFilesScope {
public:
    EngineFilesScope();
    ~EngineFilesScope();
    EngineFilesScope(const EngineFilesScope&) = delete;
    EngineFilesScope& operator=(const EngineFilesScope&) = delete;

private:
    bool savedScriptRunning_;
    bool savedAlways_;
    int savedHolds_;
};

} // namespace quarn
