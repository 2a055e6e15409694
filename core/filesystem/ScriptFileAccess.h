#pragma once

namespace quarn {

class FileSystem;

// Games are downloaded and run, so the files they name stay inside the game: its resource root
// (a folder, or an archive), its own data folder ("user://") and the files built into the
// program ("res://"). A path leads outside when it climbs out with "..", names another absolute
// place or scheme, or passes through a link whose target lies outside (an absolute link always
// does). Links inside a root that stay inside it are followed as usual.
//
// Every run that plays a game's frames (the player, the editor, the tools that render or step a
// game) holds every file the game names to this once start-up has read the engine's own files
// (HoldGameReachAlways): what a scene names, what its scripts open and what they set in motion.
// While the reach is held the file system itself opens every file beneath a root in one step,
// so that no link swapped between a check and the open leads out. Only the files the user picks
// (UserChoiceScope) and the engine's own (EngineFilesScope) are reached beyond it. Programs that
// never hold it (the tools that only read or write files) keep the user's reach, except while a
// script runs.

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

// Whether the game itself is at work: a script runs, or work a script set in motion
// (GameReachHold). What a game for reading may write is judged by this, not by the reach, which
// the editor and the tools hold for their own work too.
bool IsGameAtWork();

// Whether the file system holds every file to the game now: always once a game's run holds it,
// while a script runs, and within a GameReachHold; within an EngineFilesScope or a
// UserChoiceScope only while a script that started in it runs.
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

// A file the user picked (in one of the editor's dialogs, dropped on its window, or named to a
// tool) is the user's to reach: within this scope the reach is the user's, unless a script runs
// or set the work in motion, whose dialog the game may have opened. Only the picked file is
// reached within it; what that file names is the game's, reached after the scope.
class UserChoiceScope {
public:
    explicit UserChoiceScope(bool chosen = true);
    ~UserChoiceScope();
    UserChoiceScope(const UserChoiceScope&) = delete;
    UserChoiceScope& operator=(const UserChoiceScope&) = delete;

private:
    bool lifted_;
    bool savedAlways_;
};

} // namespace quarn
