#pragma once

#include <string>

namespace quarn {

class FileSystem;
class SettingsFile;

// Which game a scene runs as, however it is opened (the player's start, the editor's File
// menu, its command line, a tool): the nearest folder at or above the scene that holds a
// "config.txt", else the scene's own folder; never a folder above that, whatever folder the
// program started in. A folder holding a packed game ("data.zoo") is that game's, its root the
// archive, as the player runs it; a scene in an archive is its archive's game, a built-in one
// the built-in game ("res://").
//
// The game's reach follows (ScriptFileAccess.h): its folder and its own "user://". A folder
// without a "config.txt" is a game for reading: what it names is read as any game's, but its
// scripts write, copy over and remove only in "user://" (FileSystem::SetGameReadOnly).
struct SceneGame {
    // A native folder, an archive ("/games/x/data.zoo/") or "res://"; always ending in '/'.
    std::string root;
    // The root holds a "config.txt": the game's own settings, and its scripts write there.
    bool configured = false;

    bool operator==(const SceneGame&) const = default;
};

// The game of the scene at the native path `scene`. The folders above it are looked at as they
// lie on the disk, links resolved, whatever reach the file system holds.
SceneGame FindSceneGame(FileSystem& files, const std::string& scene);
// The game whose root is `folder` (where the program starts, or a folder a tool names as the
// game's): configured when it holds a "config.txt".
SceneGame FolderGame(FileSystem& files, const std::string& folder);

// Makes `game` the run's game: the file system's reach and base folder, the main settings
// `config` read from its "config.txt" (empty without one; "standalone" keeps its value, the
// run's mode being no game's to choose), its "resource_path" taken from its root, and its own
// "user://" in `dataHome` (none when that is empty).
void EnterGame(FileSystem& files, const SceneGame& game, SettingsFile& config,
               const std::string& dataHome);

} // namespace quarn
