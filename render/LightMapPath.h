#pragma once

#include "core/string/FixedString.h"

#include <string>
#include <vector>

namespace quarn {

class Entity;
class Node;

// Where a node keeps its lightmap: "pelgrath/maps/" + owner + "/" + local id + "." + extension,
// cut at 259 characters. The owner is the branch that holds the node when exactly one `Branch`
// lies above it (its name, else its description); otherwise "scene" for the top scene, else the
// id path of the node's id system. A branch name is scene text: it may keep subfolders, but
// never climbs out of the maps folder nor makes the path absolute.
PathString BuildLightMapPath(const Node& node, const char* extension);

// That path of a node (none of another entity), as a lightmap save declares what it writes
// (MethodInfo::SetWrittenFiles): a folder of the path may be a link leading out of the game.
std::vector<std::string> LightMapFileOf(const Entity& entity, const char* extension);

} // namespace quarn
