#pragma once

#include <string>

namespace quarn {

// The user's data home: $XDG_DATA_HOME when it is absolute, else $HOME/.local/share; always
// ending in '/'; "" when there is no home at all.
std::string DataHomeFolder();

// The engine's own folder in a data home: its settings ("init.txt"), the editor's autosaves and
// play copies. No game reaches it: each game has a folder of its own below it.
std::string EngineDataFolder(const std::string& dataHome);

// A game's own folder, "user://": "games/<name>/" in the engine's folder, <name> being
// GameFolderName of the game's "name" and root; "" without a data home. The player, the editor
// and the tools all name it here, so they agree.
std::string GameDataFolder(const std::string& dataHome, const std::string& configName,
                           const std::string& gameRoot);

// The name of a game's own folder: `configName` (the "name" its "config.txt" gives) when not
// empty, else the name of the game's root: its folder, or its archive without the extension (a
// packed game's "data.zoo" stands for the folder holding it; the built-in files for "res").
// Names that differ get folders that differ: letters, digits, ' ', '-', '_', '.' and whole
// UTF-8 characters past U+009F stay as they are, so a name made of them alone names its folder
// unchanged; every other byte ('/', NUL, a control byte, '%', a stray UTF-8 byte), and a leading
// '.' (so neither "." nor ".." climbs), becomes '%' and its two upper-case hexadecimal digits.
// An empty name is "%". A folder name past 200 bytes keeps its first characters and ends in '~'
// and the 64 hexadecimal digits of the whole name's SHA-256, within what every file system takes.
std::string GameFolderName(const std::string& configName, const std::string& gameRoot);

} // namespace quarn
