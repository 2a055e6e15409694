#pragma once

#include "core/io/GrowingOutputStream.h"
#include "core/object/IdPath.h"
#include "core/scenefile/SceneLoader.h"

#include <cstdint>
#include <string>

namespace quarn {

class ClassInfo;
class Node;
class SceneWriter;

// Writes a node tree as a scene file: the header with the id system's values, then the nodes in
// pre-order (parent before children), the root itself only with SceneWriteRoot. `flags` are
// SceneFlags; a compact name (IsCompactSceneName) gets the compact form, as every reader takes
// it. The file is written whole or not at all: false, with the old file untouched, when
// version control refuses, the file cannot be written, or the compact form cannot hold the
// tree; the reason is logged and noted as the file failure (LastFileFailure).
bool SaveSceneFile(const char* path, Node& root, uint32_t idSystem, uint32_t flags);
// The global id SaveSceneFile writes for an id system: its record's, else zero.
Guid GetSceneGuid(uint32_t idSystem);
// The same with the header's global id, id system and custom class given (branch files).
bool SaveSceneFileWithIds(const char* path, Node& root, const Guid& guid, uint32_t idSystem,
                          const ClassInfo* customClass, uint32_t flags);

// Writes scene bytes made earlier (WriteSceneBytes) as SaveSceneFile writes a file: whole or not
// at all, after version control agreed; SceneScrambled of `flags` scrambles them.
bool SaveSceneBytes(const char* path, const std::string& bytes, uint32_t flags);

// The bytes SaveSceneFileWithIds writes to `path`, made in memory; false, with the writer's
// reason in `error`, when the form cannot hold the tree.
bool WriteSceneBytes(std::string& bytes, std::string& error, const char* path, Node& root,
                     const Guid& guid, uint32_t idSystem, const ClassInfo* customClass,
                     uint32_t flags);

// The header's node count: the node, plus each child's count, a closed child (a branch)
// counting 1 whatever it holds.
int CountSavedNodes(const Node& node);
// The node (with SceneWriteRoot) and its descendants, a closed node's children only with
// SceneIncludeBranches; descendants are always written as with SceneWriteRoot.
void WriteNodeTree(SceneWriter& writer, Node& node, uint32_t idSystem, uint32_t flags);
// One object: its class (as its native base with SceneNativeClasses), its id relative to
// `idSystem`, its saved properties and those of its custom class.
void WriteNodeObject(SceneWriter& writer, Node& node, uint32_t idSystem, uint32_t flags);

// True while WriteNodeObject writes a node (a save, a copy, an undo record). A node whose value
// moves on its own while the scene runs (a sound's play position), or that refused what its
// scene gave it (a script variable given a node of another class), gives the value its scene
// gave meanwhile: a save with no edit writes what the load read.
bool IsWritingScene();

// The size of memory the editor sets aside to write a whole scene, from the live node count.
uint32_t EstimateSceneTextSize();

} // namespace quarn
