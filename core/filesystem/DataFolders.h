#pragma once

#include <string>

namespace quarn {

// The user's data home: $XDG_DATA_HOME when it is absolute, else $HOME/.local/share; always
// ending in '/'; "" when there is no home at all.
std::string DataHomeFolder();

// The engine's own folder in a data home: its settings ("init.txt"), the editor's autosaves and
// play copies. No game reaches it: each game has a folder of its own below it.
std::string EngineDataFolder(const std::string& dataHome);

// A game's own folder, "user://": "games/<name>/" in the engine's folder, the name made safe for
// a file name (see GameFolderName); "" without a data home.
std::string GameDataFolder(const std::string& dataHome, const std::string& gameName);

// The name of a game's own folder: `configName` (the "name" its "config.txt" gives) when not
// empty, else the name of the game's root: its folder, or its archive without the extension (a
// packed game's "data.zoo" stands for the folder holding it; the built-in files for "res").
// Every byte but letters, digits, ' ', '-', '_' and '.' becomes '_', a leading '.' too, and
// the name is cut at 200 bytes, which every file system takes.
std::string GameFolderName(const std::string& configName, const std::string& gameRoot);

} // namespace quarn
