#pragma once

#include "core/string/FixedString.h"

namespace quarn {

class Node;

// Where a node keeps its lightmap: "pelgrath/maps/" + owner + "/" + local id + "." + extension,
// cut at 259 characters. The owner is the branch that holds the node when exactly one `Branch`
// lies above it (its name, else its description); otherwise "scene" for the top scene, else the
// id path of the node's id system. A branch name is scene text: it may keep subfolders, but
// never climbs out of the maps folder nor makes the path absolute.
PathString BuildLightMapPath(const Node& node, const char* extension);

} // namespace quarn
