#pragma once

#include "core/object/IdPath.h"
#include "core/scenefile/SceneFormat.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

class ClassInfo;
class Entity;
class File;
class Node;
class Property;
class SceneReader;

// The current load's depth (0 for the outermost), the fraction of its objects done, and
// "loading <path>".
using SceneProgressCallback = void (*)(int32_t depth, float fraction, const char* text);

// Set by every load from its header (or the flag's default): branch nodes read it while their
// properties are applied.
inline bool SceneLoadIncludesBranches = false;

// Reads a scene or branch file into new nodes. The outermost load (no other load running)
// starts with an empty remap table and pending list; loads nested in it (a branch loading its
// file while its properties are set) share them, so references between an outer scene and
// its branch instances resolve at the latest when the outermost load ends.
class SceneLoader {
public:
    // idSystem -1 takes the header's "idsystem". Top-level nodes are hung under `parent`
    // (none when null) and appended to `roots` when given.
    SceneLoader(const char* path, int32_t idSystem, uint32_t flags, Node* parent,
                std::vector<Node*>* roots);
    SceneLoader(const SceneLoader&) = delete;
    SceneLoader& operator=(const SceneLoader&) = delete;

    void SetProgressCallback(SceneProgressCallback callback) { progress_ = callback; }

    // Both passes and the pending references; the first top-level node, or null when the
    // file could not be read or held no object.
    Node* Load(File& stream);

    // The id a path in the file names: through the remap table, the loader's id system and
    // the branch instances along the path; 0 when it names nothing.
    uint32_t ResolveIdPath(const IdPath& path, uint32_t flags) const;

    int32_t GetFileVersion() const { return fileVersion_; }
    int GetObjectCount() const { return objectCount_; }
    int32_t GetIdSystem() const { return idSystem_; }

private:
    // First pass: the header, then one node per object with its id. Returns the object count.
    int CreateNodes(File& stream);
    // Second pass, one object: its properties, its place in the tree, version upgrades.
    bool LoadObjectProperties(SceneReader& reader);
    void ApplyProperty(Node& node, const Property& property, const char* text);
    Node* CreateNode(const IdPath& path, const std::string& className, bool& reused);
    void AssignId(Node& node, uint32_t wanted);
    void MakeTopLevel(Node& node);
    void AddPendingReference(const Entity& entity, const Property& property, uint32_t id,
                             const IdPath& path);
    void ResolvePendingReferences();
    // Nodes of the first pass that the second pass never reached: deleted, since nothing owns
    // them.
    void DeleteOrphans();

    std::string path_;
    int32_t idSystem_;
    uint32_t flags_;
    uint64_t parent_; // serial of the parent for top-level nodes; 0 for none
    std::vector<Node*>* roots_;
    SceneProgressCallback progress_ = nullptr;
    int32_t fileVersion_ = 0;
    int objectCount_ = 0;
    // Serials, in file order: nodes may be deleted by anything a property setter runs.
    std::vector<uint64_t> created_; // 0 for a reused node
    std::vector<uint64_t> topLevel_;
};

// Opens the file through the program's file system and loads it (SceneLoader). `flags`:
// SceneCompact reads the compact form, SceneScrambled unscrambles. Null when the file cannot be
// opened or read, or holds no object.
Node* LoadSceneFile(const char* path, int32_t idSystem, uint32_t flags, Node* parent,
                    std::vector<Node*>* roots, SceneProgressCallback progress);

// After the outermost load: when references stayed unresolved, shows one warning and logs a
// line per reference on the channel "system". Returns how many were reported.
int ReportMissingReferences();
// References still unresolved since the last outermost load began.
int GetPendingReferenceCount();

// Adapts a node written by an older file version, one version step at a time up to the
// current one.
void UpgradeNodeVersion(int32_t fileVersion, Node& node);

// A copy of the node (alone, or with its subtree) through the scene text form, with new ids.
// References inside the copy reach the copies; references to nodes outside it keep their
// targets only with `keepOutsideReferences`. The copy has no parent; null on failure.
Node* CloneNode(Node& node, bool keepOutsideReferences, bool alone, bool dissolveBranches);

// Replaces a node by a new one of another class: shared properties are copied, the new node
// takes the old one's id (so references follow), its place and its children; the old node is
// deleted. With `announce` the editor hears of it ("nodecreation", "loaded"). Null when the
// class makes no node.
Node* ReplaceNodeClass(Node& node, ClassInfo& classInfo, bool announce);

// The class a file's class name means in a file of that version (renamed classes).
const char* MapLegacyClassName(const char* className, int32_t fileVersion);

} // namespace quarn
