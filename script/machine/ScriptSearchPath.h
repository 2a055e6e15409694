#pragma once

#include <string>
#include <vector>

namespace quarn {

// Sets the folders searched for scripts: `folder` alone, or with `withSubfolders` the folder
// and every folder below it whose name does not start with '.'. Logs the folder's native path.
// A folder reached twice (through a symbolic link back up the tree) is entered once; a link is
// followed only while it stays inside the game, wherever the game's reach is held.
void SetScriptSearchPath(const char* folder, bool withSubfolders);
const std::vector<std::string>& GetScriptSearchPath();

} // namespace quarn
