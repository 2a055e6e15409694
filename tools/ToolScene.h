#pragma once

#include <string>

namespace quarn {

class Node;

// Loads SCENE as the "scene" command does, with every class registered. What the engine notes
// while loading, and afterwards, goes to stderr as "quarn-tool: warning: ...". Null, with
// `reason` set, when the scene cannot be opened or holds no node.
Node* LoadToolScene(const std::string& scene, std::string& reason);

} // namespace quarn
