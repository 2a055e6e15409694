#pragma once

#include "core/object/IdPath.h"
#include "core/scenefile/SceneFormat.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quarn {

class File;
class FileReader;
class Node;
class Property;
class SceneReader;
struct SceneLoadState;

// The current load's depth (0 for the outermost), the fraction of its objects done, and
// "loading <path>": once before each object's properties, and once with 1 after the last.
using SceneProgressCallback = void (*)(int32_t depth, float fraction, const char* text);

// Set by every load from its header (or the flag's default): branch nodes read it while their
// properties are applied.
inline bool SceneLoadIncludesBranches = false;

// The most nodes one load makes, the loads of the branches inside it included: a few kilobytes of
// branch files that name each other many times over would otherwise ask for millions. Objects
// past it are left out, and a branch file met once it is reached is not read. Tests lower it.
inline int64_t SceneNodeLimit = int64_t{1} << 20;

// How deep loads nest inside the outermost one: a branch file naming a branch whose file names
// another nests a load for each, some kilobytes of native stack apiece, so a long enough chain
// would reach the stack's end. A file met deeper is not read.
inline constexpr int32_t MaxSceneLoadNesting = 256;

// Reads a scene or branch file into new nodes in two passes over its blocks: the first reads the
// header and creates one node per object with its id, the second applies each object's
// properties. References that do not resolve yet stay pending (SceneReferences.h).
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

    // The id a path in the file names (ResolveSceneIdPath in the loader's id system).
    uint32_t ResolveIdPath(const IdPath& path, uint32_t flags) const;

    const std::string& GetPath() const { return path_; }
    int32_t GetFileVersion() const { return fileVersion_; }
    int GetObjectCount() const { return objectCount_; }
    // Objects of the file that the load could not keep (no id left for them, past the node
    // limit, or not found again by their ids); saving the result would lose them.
    int GetLeftOutCount() const { return leftOutForIds_ + leftOutForLimit_ + leftOutOrphans_; }
    // The file was cut short: inside an object, or before the objects its header counts. What
    // it held up to there is loaded.
    bool EndedEarly() const { return endedEarly_; }
    // Nodes the load made top-level though their parent line names a parent: one the file does
    // not hold, or one that would close a cycle. Serials, in file order.
    const std::vector<uint64_t>& GetMisplacedNodes() const { return misplaced_; }
    // What a save of the load would not give back as the file has it, clause by clause ("" when
    // the load kept the file whole): the objects left out and why, a cut, the nodes the load
    // placed elsewhere than their parent line says.
    std::string DescribeShortfall() const;
    // Why Load gave no node, as a clause ("its header cannot be read"); "" when it gave one.
    const std::string& GetFailure() const { return failure_; }
    int32_t GetIdSystem() const { return idSystem_; }

private:
    // Both passes over the file's blocks. Returns the object count.
    int ReadFile(File& stream);
    // A reader standing after a header this loader can use (the id system taken); null when
    // the file has none.
    std::unique_ptr<SceneReader> BeginReading(File& stream);
    // First pass: one node per object, with its id.
    void CreateNodes(SceneReader& reader);
    // The serial the second pass finds a first-pass node by: 0 for a node the load did not
    // make, and for one left out (deleted) because no id was left for it.
    uint64_t KeepCreatedNode(Node& node, bool reused);
    // Whether a new node for an object that wants `wanted` would get no id at all.
    bool NoIdLeftFor(uint32_t wanted) const;
    // At the end of the outermost load: the branch loads it left out, one line for each cause.
    void TellBranchLoadsLeftOut(const SceneLoadState& state) const;
    // Second pass, one object (the index-th of the first pass): its properties, its place in
    // the tree, version upgrades.
    bool LoadObjectProperties(SceneReader& reader, size_t index);
    // The first pass's node of an object inside a branch instance whose content the file
    // holds, moved to the id its path names now that the instance has its id system (or
    // remapped to its own when that id is taken); null for any other object.
    Node* TakeInstanceContent(size_t index, const IdPath& path, uint32_t id);
    // Applies a property line by name, its mistakes noted; false when the node's class names no
    // such property (noted as kept for a node that keeps such lines).
    bool ApplyLoadedLine(Node& node, const std::string& key, const std::string& value,
                         const std::string& className, std::vector<std::string>& mistakes);
    // What the text's reading passed over (Property::FindTextMistake), or "".
    std::string ApplyProperty(Node& node, const Property& property, const char* text);
    // A node whose parent line could not place it, noted for DescribeShortfall.
    void NoteMisplaced(const Node& node, const std::string& idText);
    // Logs what a hand-edited object holds that its loading passed over, naming the file, the
    // object and the property: the load itself goes on as it always has.
    void LogMistakes(const std::string& idText, Node* node,
                     const std::vector<std::string>& mistakes) const;
    Node* CreateNode(const IdPath& path, const std::string& className, bool& reused);
    void MakeTopLevel(Node& node);
    // Nodes of the first pass that the second pass never reached: deleted, since nothing owns
    // them.
    void DeleteOrphans();
    // A reference this load resolved to a node it then leaves out would stay behind as a bare
    // id, saved as such and dropped by the next load of that save: it is dropped now instead.
    void DropReferencesInto(const std::vector<uint64_t>& orphans);
    // Hung under a parent of another id system, nodes of the load take new ids there. Linked
    // references follow them; those kept as bare ids (and the remap table and the pending
    // references) would name nothing and be saved as ids of nodes that are not in the file.
    void FollowMovedNodes();
    // Serials of the nodes the load made and reused (0 for some).
    std::vector<uint64_t> LoadedNodes() const;

    std::string path_;
    std::string failure_;
    int32_t idSystem_;
    uint32_t flags_;
    uint64_t parent_; // serial of the parent for top-level nodes; 0 for none
    std::vector<Node*>* roots_;
    SceneProgressCallback progress_ = nullptr;
    int32_t fileVersion_ = 0;
    int objectCount_ = 0;
    // Serials, in file order: nodes may be deleted by anything a property setter runs.
    std::vector<uint64_t> created_; // 0 for a reused node
    std::vector<uint64_t> reused_;
    // The id the first pass gave each node, with its serial.
    std::vector<std::pair<uint32_t, uint64_t>> givenIds_;
    // Per object of the first pass: its node has the class the file names, so a key that class
    // lacks is a mistake (a stand-in for an unknown or replaced class lacks them by design).
    std::vector<bool> classAsWritten_;
    std::vector<uint64_t> topLevel_;
    // Where each top-level serial stands in topLevel_.
    std::unordered_map<uint64_t, size_t> topLevelIndex_;
    int leftOutForIds_ = 0;
    int leftOutForLimit_ = 0; // objects after the first that SceneNodeLimit left out
    bool nestedTooDeep_ = false; // not read: MaxSceneLoadNesting loads hold it
    int leftOutOrphans_ = 0;
    int32_t headerNodeCount_ = 0;
    bool endedEarly_ = false;
    // Objects whose id an earlier object of the file has; the first one's id text.
    int duplicateIds_ = 0;
    std::string firstDuplicate_;
    // The file's first object is its first top-level node: a saved subtree's root names the
    // parent it hung under, which the file never holds, so only the others can lose theirs.
    bool firstObject_ = false;
    // The parent line of the object being read: what it names, and why it placed nothing.
    enum class ParentFault { None, Missing, Cycle };
    ParentFault parentFault_ = ParentFault::None;
    std::string parentText_;
    std::vector<uint64_t> misplaced_;
    std::string firstMisplaced_; // the first one, as DescribeShortfall names it
};

// What the run keeps of a scene file it loaded as its scene.
struct LoadedSceneFile {
    std::string path;
    int32_t version = 0;
    int32_t idSystem = 0;
    int objectCount = 0;
};

// Appends the loader's file to the run's list of loaded scene files.
void RecordLoadedSceneFile(const SceneLoader& loader);
const std::vector<LoadedSceneFile>& GetLoadedSceneFiles();

// Opens the file through the program's file system and loads it (SceneLoader). `flags`:
// SceneCompact reads the compact form, SceneScrambled unscrambles. Null when the file cannot be
// opened or read, or holds no object; `failure`, when given, then says why.
Node* LoadSceneFile(const char* path, int32_t idSystem, uint32_t flags, Node* parent,
                    std::vector<Node*>* roots, SceneProgressCallback progress,
                    std::string* failure = nullptr);
// The same for the file `path` opened already, so that the file and what it names may be
// reached differently (UserChoiceScope). Null when the reader is not open; the reason why is
// taken from the file system's last failure, so the caller clears it before opening.
Node* LoadSceneFile(FileReader& reader, const char* path, int32_t idSystem, uint32_t flags,
                    Node* parent, std::vector<Node*>* roots, SceneProgressCallback progress,
                    std::string* failure = nullptr);

} // namespace quarn
