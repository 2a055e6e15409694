#include "core/scenefile/SceneLoader.h"

#include "core/debug/Log.h"
#include "core/debug/Profiler.h"
#include "core/debug/Validity.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "core/object/IdMap.h"
#include "core/object/Property.h"
#include "core/object/Signals.h"
#include "core/os/Dialogs.h"
#include "core/os/EngineWork.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "core/scenefile/ClassReplacement.h"
#include "core/scenefile/PropertyLoadNotes.h"
#include "core/scenefile/SceneCompactFormat.h"
#include "core/scenefile/SceneFormat.h"
#include "core/scenefile/SceneReferences.h"
#include "core/scenefile/SceneTextFormat.h"
#include "core/scenefile/SceneVersionUpgrade.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quarn {

namespace {

// What went wrong below a property's value (a file it names is missing), as mistakes of its
// object.
void TakeNotes(const PropertyLoadNotes& notes, const std::string& key, const std::string& className,
               std::vector<std::string>& mistakes) {
    for (const std::string& note : notes.Notes()) {
        mistakes.push_back("property '" + key + "' of class " + className + ": " + note);
    }
}

bool IsParentProperty(const Property& property) {
    return IsNodePlacement(property) && std::strcmp(property.GetName(), "parent") == 0;
}

bool IsBlankText(const char* text) {
    while (IsBlank(*text)) {
        ++text;
    }
    return *text == '\0';
}

bool IsNullPath(const IdPath& path) {
    return path.ids[0] == 0 && (path.count < 2 || path.ids[1] == 0);
}

// The nearest class on the base chain, the class itself first, that makes objects natively.
ClassInfo* NearestNativeClass(ClassInfo* classInfo) {
    for (ClassInfo* each = classInfo; each; each = each->GetParent()) {
        if ((each->GetFlags() & ClassNative) && !each->IsAbstract()) {
            return each;
        }
    }
    return nullptr;
}

// Timing labels of the loader's phases, one section per name and level.
void EnterSection(int level, const char* name) {
    static std::map<std::string, int32_t> sections[SectionProfiler::LevelCount];
    auto found = sections[level].find(name);
    if (found == sections[level].end()) {
        int32_t index = Profiler().AddSection(level, name, 0);
        found = sections[level].emplace(name, index).first;
    }
    Profiler().EnterSection(level, found->second);
}

// A path that goes on from a node of the file into the id system that node holds (a branch
// instance's content).
bool IsPathThroughNode(const IdPath& path) {
    return path.count >= 2 && path.ids[0] != 0 && path.guid.IsZero();
}

// Passes each entity reference the node holds (its first word) to `rewrite` and writes back a
// value it changed.
template <class Rewrite>
void RewriteReferences(Node& node, Rewrite rewrite) {
    const uint64_t serial = node.GetSerial();
    // By index, and the custom class asked again each time: a setter may change either list.
    for (int index = 0;; ++index) {
        const Property* property = nullptr;
        const int count = node.GetPropertyCount();
        if (index < count) {
            property = node.GetProperty(index);
        } else if (const ClassInfo* custom = node.GetCustomClass();
                   custom &&
                   static_cast<size_t>(index - count) < custom->GetOwnProperties().size()) {
            property = custom->GetOwnProperties()[static_cast<size_t>(index - count)].get();
        } else {
            return;
        }
        if (!property || !property->IsEntityReference()) {
            continue;
        }
        uint32_t words[MaxValueWords] = {};
        property->ReadValue(node, words);
        const uint32_t value = words[0];
        words[0] = rewrite(*property, value);
        if (words[0] == value) {
            continue;
        }
        property->WriteValue(node, words);
        if (!IsAlive(serial)) {
            return;
        }
    }
}

// Writes 0 into each reference of the node that names one of the ids, keeping it pending under
// that id so that it is reported as missing, as a load of a file naming it would.
void DropReferences(Node& node, const std::unordered_set<uint32_t>& ids) {
    RewriteReferences(node, [&](const Property& property, uint32_t value) {
        if (value == 0 || ids.count(value & ~PortMask) == 0) {
            return value;
        }
        AddPendingReference(node, property, value, IdPath());
        return 0u;
    });
}

std::vector<LoadedSceneFile>& LoadedSceneFiles() {
    static std::vector<LoadedSceneFile> files;
    return files;
}

// Whether the loads of `path` that found no id have not been told in this frame yet.
bool FirstLeftOutForIdsThisFrame(const std::string& path) {
    static auto* told = new std::pair<std::string, uint64_t>();
    if (told->first == path && told->second == GetSceneFrame()) {
        return false;
    }
    *told = {path, GetSceneFrame()};
    return true;
}

} // namespace

SceneLoader::SceneLoader(const char* path, int32_t idSystem, uint32_t flags, Node* parent,
                         std::vector<Node*>* roots)
    : path_(path ? path : ""), idSystem_(idSystem), flags_(flags),
      parent_(parent ? parent->GetSerial() : 0), roots_(roots) {}

Node* SceneLoader::Load(File& stream) {
    // A file may set off thousands of reports (a setter's check per object): one box for all.
    const ValidityGathering gathering;
    SceneLoadState& state = TheSceneLoadState();
    ++state.depth;
    if (state.depth == 0) {
        state.remap.clear();
        state.pending.clear();
        state.shortLoads.clear();
        state.nodes = 0;
        state.unread = 0;
        state.tooDeep = 0;
        state.outOfIdSystems = false;
        state.leftForIdSystems = 0;
    }
    failure_.clear();
    topLevel_.clear();
    topLevelIndex_.clear();
    created_.clear();
    reused_.clear();
    givenIds_.clear();
    classAsWritten_.clear();
    objectCount_ = 0;
    leftOutForIds_ = 0;
    leftOutForLimit_ = 0;
    nestedTooDeep_ = false;
    leftOutOrphans_ = 0;
    endedEarly_ = false;
    duplicateIds_ = 0;
    firstDuplicate_.clear();
    misplaced_.clear();
    firstMisplaced_.clear();
    {
        // Loading is a state of the program only while it lasts.
        EngineStateScope loading(EngineLoading);
        ReadFile(stream);
        FollowMovedNodes();
        DeleteOrphans();
        // One line for all of them: a file far past the limit would otherwise log thousands. A
        // scene loaded again and again into a full id system (by each of its copies) is told
        // once a frame.
        if (leftOutForIds_ > 0 && FirstLeftOutForIdsThisFrame(path_)) {
            LogMessage("Scene %s: %d of its objects are left out: no id was left for them (an id "
                       "system holds at most %u objects)",
                       path_.c_str(), leftOutForIds_, LocalIdMask);
        }
        if (leftOutForLimit_ > 0) {
            LogMessage("Scene %s: %d of its objects are left out: a scene and its branches make at "
                       "most %lld nodes",
                       path_.c_str(), leftOutForLimit_, static_cast<long long>(SceneNodeLimit));
        }
        // Past the nesting depth the first file is told; a fan of branches meets it thousands
        // of times over, and the outermost load counts them.
        if (std::string shortfall = DescribeShortfall();
            !shortfall.empty() && !(nestedTooDeep_ && state.tooDeep > 1)) {
            state.shortLoads.emplace_back(path_, std::move(shortfall));
        }
        --state.depth;
        if (state.depth < 0) {
            TellBranchLoadsLeftOut(state);
        }
        ResolvePendingReferences(idSystem_);
    }

    // Setters, upgrades and scripts run during the load may have destroyed any node.
    Node* first = nullptr;
    for (uint64_t serial : topLevel_) {
        Node* node = FindLiveNode(serial);
        if (!node) {
            continue;
        }
        if (!first) {
            first = node;
        }
        if (roots_) {
            roots_->push_back(node);
        }
    }
    if (!first && failure_.empty()) {
        failure_ = "it holds no node";
    }
    return first;
}

void SceneLoader::TellBranchLoadsLeftOut(const SceneLoadState& state) const {
    if (state.unread > 1) {
        LogMessage("Scene %s: %lld branch loads in it were left unloaded at its node limit",
                   path_.c_str(), static_cast<long long>(state.unread));
    }
    if (state.tooDeep > 1) {
        LogMessage("Scene %s: %lld branch loads in it were left unloaded nested deeper than %d",
                   path_.c_str(), static_cast<long long>(state.tooDeep), MaxSceneLoadNesting);
    }
    if (state.leftForIdSystems > 0) {
        LogMessage("Scene %s: %lld branch loads in it were left out: all %d id systems are in use",
                   path_.c_str(), static_cast<long long>(state.leftForIdSystems),
                   IdMap::MaxIdSystems);
    }
}

int SceneLoader::ReadFile(File& stream) {
    EnterSection(0, "Creating nodes");
    Node::RegisterClass();
    // A branch met once the limit is reached would be read only to be left out, and each of its
    // instances read again. The first is named; the outermost load counts them all.
    if (SceneLoadState& state = TheSceneLoadState(); state.nodes >= SceneNodeLimit) {
        failure_ = "the scene it is part of has made the most nodes a scene makes";
        if (state.unread++ == 0) {
            LogMessage("Scene %s is left unloaded: the scene it is part of has made %lld nodes, "
                       "the most a scene and its branches make",
                       path_.c_str(), static_cast<long long>(SceneNodeLimit));
        }
        return 0;
    }
    if (SceneLoadState& state = TheSceneLoadState(); state.depth > MaxSceneLoadNesting) {
        nestedTooDeep_ = true;
        if (state.tooDeep++ == 0) {
            LogMessage("Scene %s is left unloaded: branch files nest at most %d deep, and it is "
                       "nested %d deep",
                       path_.c_str(), MaxSceneLoadNesting, state.depth);
        }
        return 0;
    }
    std::unique_ptr<SceneReader> reader = BeginReading(stream);
    if (!reader) {
        return 0;
    }
    CreateNodes(*reader);
    const int read = objectCount_ + leftOutForLimit_;
    endedEarly_ = reader->EndedEarly() || (read > 0 && read < headerNodeCount_);
    if (endedEarly_) {
        LogMessage("Scene %s ends early: the file is cut short; what it holds up to there is "
                   "loaded",
                   path_.c_str());
    }

    EnterSection(0, "Load properties");
    reader->Rewind();
    std::string text = "loading " + path_;
    if (text.size() > 512) {
        text.resize(512);
    }
    for (int index = 0; index < objectCount_; ++index) {
        if (progress_) {
            progress_(TheSceneLoadState().depth,
                      static_cast<float>(index) / static_cast<float>(objectCount_), text.c_str());
        }
        LoadObjectProperties(*reader, static_cast<size_t>(index));
    }
    // The end is reported too: a callback that shows only some reports still shows the last.
    if (progress_ && objectCount_ > 0) {
        progress_(TheSceneLoadState().depth, 1.0f, text.c_str());
    }
    EnterSection(0, "Done");
    return objectCount_;
}

std::unique_ptr<SceneReader> SceneLoader::BeginReading(File& stream) {
    std::unique_ptr<SceneReader> reader;
    if (flags_ & SceneCompact) {
        reader = std::make_unique<SceneCompactReader>();
    } else {
        reader = std::make_unique<SceneTextReader>();
    }
    if (!reader->Begin(stream, "", nullptr)) {
        failure_ = "it cannot be read";
        return nullptr;
    }
    SceneHeader header;
    header.includeBranches = (flags_ & SceneIncludeBranches) != 0;
    if (!reader->ReadHeader(header)) {
        LogMessage("Cannot read the header of scene %s", path_.c_str());
        failure_ = "its header cannot be read";
        return nullptr;
    }
    fileVersion_ = header.version;
    headerNodeCount_ = header.nodeCount;
    if (fileVersion_ > SceneFormatVersion) {
        ShowMessageBox("Scene is made with a newer version of this editor, errors may occur.",
                       "Warning", MessageBoxOk);
    }
    if (fileVersion_ < OldestSceneFormatVersion) {
        LogMessage("Scene %s has version %d; versions below %d are not read", path_.c_str(),
                   fileVersion_, OldestSceneFormatVersion);
        failure_ = StringFormat("it has version %d; versions below %d are not read", fileVersion_,
                                OldestSceneFormatVersion);
        return nullptr;
    }
    if (idSystem_ < 0) {
        idSystem_ = header.idSystem;
    }
    if (idSystem_ < 0 || static_cast<uint32_t>(idSystem_) > MaxIdSystem) {
        LogMessage("Scene %s names id system %d, which no id can hold", path_.c_str(), idSystem_);
        failure_ = StringFormat("it names id system %d, which no id can hold", idSystem_);
        return nullptr;
    }
    SceneLoadIncludesBranches = header.includeBranches;
    return reader;
}

void SceneLoader::CreateNodes(SceneReader& reader) {
    std::vector<size_t> standIns; // indices into created_
    // The ids written so far, a bit each per id system: a second object of one id is lost.
    std::unordered_map<uint32_t, std::vector<bool>> wantedIds;
    std::string idText;
    std::string className; // not cleared between objects: a block may lack its class line
    int64_t& nodesMade = TheSceneLoadState().nodes;
    while (reader.NextObject()) {
        EnterSection(1, "Parse id and class");
        if (!reader.ReadObject(idText, &className)) {
            break; // the second pass could not find the object again either
        }
        // The objects after the limit are only counted: the second pass reads as many objects
        // as this one made nodes for, so it never meets them.
        if (leftOutForLimit_ > 0 || nodesMade >= SceneNodeLimit) {
            ++leftOutForLimit_;
            continue;
        }
        IdPath path;
        path.Parse(idText.c_str());
        className = MapLegacyClassName(className.c_str(), fileVersion_);

        EnterSection(1, "Determine id");
        uint32_t wanted = 0;
        if (flags_ & SceneRawIds) {
            wanted = path.count > 0 ? path.ids[0] & ~PortMask : 0;
        } else {
            wanted = ResolveIdPath(path, SceneKeepUnmappedIds);
        }
        // A node no id is left for would be made only to be deleted again, which every script
        // and listener hears of: a scene loading itself into a full id system took a tenth of a
        // second a copy. The object is left out unmade, and counted as one.
        if (NoIdLeftFor(wanted)) {
            ChargeNodesVisited(1);
            reader.MapId(wanted, 0);
            classAsWritten_.push_back(true);
            created_.push_back(0);
            ++objectCount_;
            ++leftOutForIds_;
            continue;
        }

        EnterSection(1, "Create node");
        bool reused = false;
        Node* node = CreateNode(path, className, reused);
        nodesMade += reused ? 0 : 1;
        const ClassInfo& made = *node->GetClass();
        classAsWritten_.push_back(className == made.GetName() || className == made.GetShortName());
        ++objectCount_;
        // As the file writes it: the remap table already sends a second object of an id to the
        // node the first one took.
        const uint32_t written = (flags_ & SceneRawIds)
                                     ? wanted
                                     : ResolveIdPath(path, SceneKeepUnmappedIds | SceneNoRemap);
        if (written != 0) {
            std::vector<bool>& taken = wantedIds[written & IdSystemMask];
            taken.resize(LocalIdMask + 1);
            if (taken[written & LocalIdMask] && duplicateIds_++ == 0) {
                firstDuplicate_ = idText;
            }
            taken[written & LocalIdMask] = true;
        }
        // A node inside an instance this file makes cannot be named yet: the instance has its
        // id system only once its properties are read. It takes a stand-in id once the file's
        // other nodes have theirs, so that it takes none of them.
        if (wanted == 0 && !reused && IsPathThroughNode(path)) {
            standIns.push_back(created_.size());
            created_.push_back(node->GetSerial());
            continue;
        }
        AssignLoadedNodeId(*node, wanted, idSystem_, flags_);
        // The id actually given, so the compact form's references reach the node even when the
        // wanted id was taken.
        reader.MapId(wanted, node->GetId());
        created_.push_back(KeepCreatedNode(*node, reused));
        if (reused) {
            reused_.push_back(node->GetSerial());
        }
    }
    for (size_t index : standIns) {
        if (Node* node = FindLiveNode(created_[index])) {
            AssignLoadedNodeId(*node, 0, idSystem_, flags_);
            created_[index] = KeepCreatedNode(*node, false);
        }
    }
    for (uint64_t serial : LoadedNodes()) {
        if (Node* node = FindLiveNode(serial); node && node->GetId() != 0) {
            givenIds_.emplace_back(node->GetId(), serial);
        }
    }
}

bool SceneLoader::NoIdLeftFor(uint32_t wanted) const {
    // A reused node has its id; one the load deletes for its class may free the one wanted.
    if (flags_ & SceneReuseNodes) {
        return false;
    }
    IdMap& map = TheIdMap();
    if ((wanted & LocalIdMask) != 0 && ((flags_ & SceneForceFileIds) || map.IsIdFree(wanted, 0))) {
        return false;
    }
    // As AssignLoadedNodeId looks: in the wanted id's system, else in the load's own.
    const uint32_t system = (wanted & LocalIdMask) != 0 ? (wanted & IdSystemMask) >> IdSystemShift
                                                        : static_cast<uint32_t>(idSystem_);
    return map.GetFreeLocalId(system) == 0;
}

uint64_t SceneLoader::KeepCreatedNode(Node& node, bool reused) {
    if (node.GetId() == 0 && !reused) {
        // The id system is full: the second pass could never find the node again.
        ++leftOutForIds_;
        node.Delete();
        return 0;
    }
    // Reused nodes were there before the load; only new ones can be left without owner.
    return reused ? 0 : node.GetSerial();
}

Node* SceneLoader::CreateNode(const IdPath& path, const std::string& className, bool& reused) {
    reused = false;
    if (flags_ & SceneReuseNodes) {
        Node* existing = dynamic_cast<Node*>(LookupEntity(ResolveIdPath(path, flags_)));
        // The node under which this load hangs its nodes, and what holds it, must outlive the
        // load where they are: neither deleted nor moved by the file. A new node is made for the
        // object instead.
        Node* parent = FindLiveNode(parent_);
        if (existing && !(parent && parent->IsInSubtreeOf(existing))) {
            if (std::strcmp(existing->GetClass()->GetShortName(), className.c_str()) == 0) {
                reused = true;
                return existing;
            }
            existing->Delete();
        }
    }
    ClassInfo* classInfo = FindClass(className.c_str());
    if (!classInfo && className == "EditorCamera") {
        classInfo = FindClass("Camera");
    }
    if (classInfo && (flags_ & SceneNativeClasses)) {
        classInfo = NearestNativeClass(classInfo);
    }
    Entity* entity = classInfo ? classInfo->CreateInstance() : nullptr;
    auto* node = dynamic_cast<Node*>(entity);
    if (!node) {
        if (entity) {
            entity->Delete(); // a registered class that is no scene node
        }
        LogMessage("Unknown classtype: %s", className.c_str());
        node = static_cast<Node*>(Node::classInfo->CreateInstance());
    }
    return node;
}

Node* SceneLoader::TakeInstanceContent(size_t index, const IdPath& path, uint32_t id) {
    if (!IsPathThroughNode(path) || index >= created_.size()) {
        return nullptr;
    }
    Node* node = FindLiveNode(created_[index]);
    if (node && id != 0) {
        if (TheIdMap().IsIdFree(id, 0)) {
            node->ChangeId(id);
        }
        // The file's paths to the node, placement included, find it under the id it has.
        TheSceneLoadState().remap[id] = node->GetId();
    }
    return node;
}

bool SceneLoader::LoadObjectProperties(SceneReader& reader, size_t index) {
    EnterSection(1, "Read id");
    std::string idText;
    IdPath path;
    bool read = reader.ReadObject(idText, nullptr);
    if (read) {
        path.Parse(idText.c_str());
    }
    uint32_t id = 0;
    if (read && (flags_ & SceneRawIds)) {
        // Through the remap table as any id: the node may not have got the id it wanted.
        const uint32_t raw = path.count > 0 ? path.ids[0] & ~PortMask : 0;
        const std::map<uint32_t, uint32_t>& remap = TheSceneLoadState().remap;
        auto hit = remap.find(raw);
        id = hit != remap.end() ? hit->second : (flags_ & SceneKeepUnmappedIds) ? raw : 0;
    } else if (read) {
        id = ResolveIdPath(path, flags_);
    }
    EnterSection(1, "Look up node");
    auto* node = dynamic_cast<Node*>(LookupEntity(id));
    if (!node && read) {
        node = TakeInstanceContent(index, path, id);
    }
    // The node this load hangs its nodes under, and what holds it, take nothing from the file.
    Node* parent = FindLiveNode(parent_);
    if (node && parent && parent->IsInSubtreeOf(node)) {
        node = nullptr;
    }
    if (!node) {
        // Its properties are passed over so the next object starts at its own block.
        reader.NextObject();
        return false;
    }
    const uint64_t serial = node->GetSerial();

    EnterSection(1, "Apply props");
    EnterSection(2, node->GetClass()->GetName());
    std::string key;
    std::string value;
    const std::string className = node->GetClass()->GetShortName();
    std::vector<std::string> mistakes;
    parentFault_ = ParentFault::None;
    firstObject_ = index == 0;
    // A reused node takes its block anew, kept lines included.
    if (HeldSceneLines* held = node->GetHeldLines()) {
        held->Clear();
    }
    if (reader.IsCompact()) {
        bool more = true;
        while (more && IsAlive(serial)) {
            PropertyLoadNotes notes;
            more = reader.ReadProperty(*node, key, value);
            TakeNotes(notes, key, className, mistakes);
            if (more && key == "parent" && reader.LastReferenceMissing() && !firstObject_) {
                parentFault_ = ParentFault::Missing;
                parentText_.clear();
                mistakes.push_back("property 'parent' of class " + className +
                                   " names no object of the file");
            }
        }
        if (!IsAlive(serial)) {
            reader.NextObject(); // a setter took the node: the rest of its block is passed over
        } else if (HeldSceneLines* held = node->GetHeldLines()) {
            if (!held->compactTail.empty()) {
                mistakes.push_back("values numbered beyond the properties of class " +
                                   className + " are not known; they are kept for the save");
            }
            // Lines kept by an earlier save, which the class may name now.
            std::vector<HeldSceneLine> lines = std::move(held->lines);
            held->lines.clear();
            for (HeldSceneLine& line : lines) {
                if (!IsAlive(serial)) {
                    break;
                }
                if (!ApplyLoadedLine(*node, line.name, line.value, className, mistakes)) {
                    held->lines.push_back(std::move(line));
                }
            }
        }
    } else {
        const bool classAsWritten = index < classAsWritten_.size() && classAsWritten_[index];
        while (reader.ReadProperty(*node, key, value)) {
            if (!IsAlive(serial)) {
                continue; // the rest of the block is still read
            }
            if (ApplyLoadedLine(*node, key, value, className, mistakes)) {
                continue;
            }
            if (HeldSceneLines* held = node->GetHeldLines()) {
                held->lines.push_back({key, value, reader.LastValueQuoted()});
            } else if (classAsWritten) {
                mistakes.push_back("unknown property '" + key + "' of class " + className);
            }
        }
    }
    LogMistakes(idText, FindLiveNode(serial), mistakes);
    if (!IsAlive(serial)) {
        return true;
    }
    node->OnValuesLoaded();
    if (!IsAlive(serial)) {
        return true;
    }
    // Also when its parent line could not place it (a parent the file lacks, or an attach
    // refused because it would have closed a cycle): it stays in the load rather than being lost.
    if (parentFault_ != ParentFault::None) {
        NoteMisplaced(*node, idText);
    }
    if (!node->GetParent()) {
        MakeTopLevel(*node);
    }

    EnterSection(1, "Update version");
    if (fileVersion_ < SceneFormatVersion && IsAlive(serial)) {
        UpgradeNodeVersion(fileVersion_, *node);
    }
    EnterSection(1, "Init self");
    if (IsAlive(serial)) {
        CallEntityMethod(node, "init_self", nullptr);
    }
    if ((flags_ & SceneDissolveBranches) && IsAlive(serial)) {
        ClassInfo* branch = FindClass("Branch");
        ClassInfo* container = FindClass("ContainerBox");
        if (branch && container && node->CastTo(branch) && !node->GetCustomClass()) {
            Node* replacement = ReplaceNodeClass(*node, *container, false);
            auto place = topLevelIndex_.find(serial);
            if (replacement && place != topLevelIndex_.end()) {
                topLevel_[place->second] = replacement->GetSerial();
                topLevelIndex_.emplace(replacement->GetSerial(), place->second);
                topLevelIndex_.erase(place);
            }
        }
    }
    return true;
}

bool SceneLoader::ApplyLoadedLine(Node& node, const std::string& key, const std::string& value,
                                  const std::string& className,
                                  std::vector<std::string>& mistakes) {
    const Property* property = node.FindAnyProperty(key.c_str());
    if (!property) {
        if (node.GetHeldLines()) {
            mistakes.push_back("unknown property '" + key + "' of class " + className +
                               ": its value is kept for the save");
        }
        return false;
    }
    PropertyLoadNotes notes;
    const std::string mistake = ApplyProperty(node, *property, value.c_str());
    if (!mistake.empty()) {
        mistakes.push_back("property '" + key + "' of class " + className + ": '" + value + "' " +
                           mistake);
    }
    TakeNotes(notes, key, className, mistakes);
    return true;
}

std::string SceneLoader::ApplyProperty(Node& node, const Property& property, const char* text) {
    if ((property.GetStateFlags() & PropertyTransient) && !(flags_ & SceneTransientProperties)) {
        return "";
    }
    if (!property.IsEntityReference()) {
        std::string mistake = property.FindTextMistake(text);
        property.SetFromText(node, text);
        return mistake;
    }
    IdPath path;
    std::string mistake;
    if (!path.Parse(text) && !IsBlankText(text)) {
        mistake = "is not an id path";
    }
    uint32_t id = 0;
    if (flags_ & SceneRawIds) {
        id = path.count > 0 ? path.ids[0] : 0;
    } else if (IsNodePlacement(property)) {
        // Placement only ever follows the file's own nodes.
        id = ResolveIdPath(path, flags_ & ~(SceneKeepUnmappedIds | SceneSystemZeroPaths));
    } else {
        id = ResolveIdPath(path, flags_);
        if (id == 0 && !IsNullPath(path)) {
            AddPendingReference(node, property, 0, path);
        }
    }
    if (id != 0) {
        id |= (path.port & 0xF) << PortShift;
        if (!LookupEntity(id)) {
            AddPendingReference(node, property, id, path);
            id = 0;
        }
    }
    if (id == 0 && IsParentProperty(property)) {
        if (!IsNullPath(path) && !firstObject_) {
            parentFault_ = ParentFault::Missing;
            parentText_ = text;
            mistake = "names no object of the file";
        }
        MakeTopLevel(node);
        return mistake;
    }
    uint32_t words[MaxValueWords] = {id};
    property.WriteValue(node, words);
    // The only attach a node refuses is one below itself.
    if (IsParentProperty(property) && !node.GetParent()) {
        parentFault_ = ParentFault::Cycle;
        parentText_ = text;
    }
    return mistake;
}

void SceneLoader::NoteMisplaced(const Node& node, const std::string& idText) {
    misplaced_.push_back(node.GetSerial());
    if (misplaced_.size() > 1) {
        return;
    }
    firstMisplaced_ = "obj" + idText;
    if (!node.GetName().empty()) {
        firstMisplaced_ += " (" + node.GetName() + ")";
    }
    const std::string parent = parentText_.empty() ? "its parent" : "parent " + parentText_;
    firstMisplaced_ += parentFault_ == ParentFault::Missing
                           ? " names " + parent + ", which the file does not hold"
                           : " names " + parent + ", which would close a cycle";
}

std::string SceneLoader::DescribeShortfall() const {
    std::string text;
    auto clause = [&text](const std::string& next) { text += (text.empty() ? "" : "; ") + next; };
    if (nestedTooDeep_) {
        clause(StringFormat("it is not read: branch files nest at most %d deep",
                            MaxSceneLoadNesting));
    }
    if (const int leftOut = GetLeftOutCount(); leftOut > 0) {
        // Each cause with its own count only when there are more than one.
        const bool counted =
            (leftOutForIds_ > 0) + (leftOutForLimit_ > 0) + (leftOutOrphans_ > 0) > 1;
        const char* them = leftOut == 1 ? "it" : "them";
        std::string lost = StringFormat("%d of its objects could not be loaded: ", leftOut);
        auto cause = [&](int count, const std::string& alone, const std::string& each) {
            if (count > 0) {
                lost += (lost.back() == ' ' ? "" : ", ") +
                        (counted ? std::to_string(count) + " " + each : alone);
            }
        };
        cause(leftOutForIds_, std::string("no id was left for ") + them, "had no id left");
        if (leftOutForIds_ > 0) {
            lost += StringFormat(" (an id system holds at most %u objects)", LocalIdMask);
        }
        cause(leftOutForLimit_,
              std::string(leftOut == 1 ? "it" : "they") +
                  " came after the scene had made as many nodes as it may",
              "came after the scene had made as many nodes as it may");
        if (leftOutForLimit_ > 0) {
            lost += StringFormat(" (a scene and its branches make at most %lld)",
                                 static_cast<long long>(SceneNodeLimit));
        }
        cause(leftOutOrphans_,
              leftOut == 1 ? "it could not be found again by its id"
                           : "they could not be found again by their ids",
              "could not be found again by their ids");
        if (leftOutOrphans_ > 0 && duplicateIds_ > 0) {
            lost += " (obj" + firstDuplicate_ + " is in the file more than once)";
        }
        clause(lost);
    }
    if (const int read = objectCount_ + leftOutForLimit_; endedEarly_) {
        clause(read < headerNodeCount_
                   ? StringFormat("the file is cut short after %d of the %d objects its header "
                                  "counts",
                                  read, headerNodeCount_)
                   : std::string("the file is cut short inside an object"));
    }
    if (!misplaced_.empty()) {
        std::string placed =
            StringFormat("%zu of its objects %s", misplaced_.size(),
                         misplaced_.size() == 1 ? "is not where the file puts it: "
                                                : "are not where the file puts them: ") +
            firstMisplaced_;
        if (misplaced_.size() > 1) {
            placed += StringFormat(" (and %zu more)", misplaced_.size() - 1);
        }
        clause(placed);
    }
    return text;
}

void SceneLoader::LogMistakes(const std::string& idText, Node* node,
                              const std::vector<std::string>& mistakes) const {
    if (mistakes.empty()) {
        return;
    }
    // Named once its block is read: the name line may come after the mistake.
    std::string object = "obj" + idText;
    if (node && !node->GetName().empty()) {
        object += " (" + node->GetName() + ")";
    }
    for (const std::string& mistake : mistakes) {
        LogMessage("%s: %s: %s", path_.c_str(), object.c_str(), mistake.c_str());
    }
}

void SceneLoader::MakeTopLevel(Node& node) {
    const uint64_t serial = node.GetSerial();
    if (Node* parent = FindLiveNode(parent_)) {
        node.SetParent(parent);
    }
    if (IsAlive(serial) && topLevelIndex_.emplace(serial, topLevel_.size()).second) {
        topLevel_.push_back(serial);
    }
}

uint32_t SceneLoader::ResolveIdPath(const IdPath& path, uint32_t flags) const {
    return ResolveSceneIdPath(path, idSystem_, flags);
}

void SceneLoader::DeleteOrphans() {
    std::vector<uint64_t> orphans;
    std::vector<size_t> indices;
    for (size_t index = 0; index < created_.size(); ++index) {
        Node* node = FindLiveNode(created_[index]);
        if (node && !node->GetParent() && topLevelIndex_.count(created_[index]) == 0) {
            orphans.push_back(created_[index]);
            indices.push_back(index);
        }
    }
    if (orphans.empty()) {
        return;
    }
    DropReferencesInto(orphans);
    int first = -1;
    for (size_t n = 0; n < orphans.size(); ++n) {
        // Deleting one may have taken another.
        if (Node* node = FindLiveNode(orphans[n])) {
            first = first < 0 ? static_cast<int>(indices[n]) : first;
            ++leftOutOrphans_;
            node->Delete();
        }
    }
    if (leftOutOrphans_ > 0) {
        LogMessage("Scene %s: %d of its objects could not be found again by their ids and are "
                   "left out (the first is object %d)",
                   path_.c_str(), leftOutOrphans_, first);
    }
}

void SceneLoader::DropReferencesInto(const std::vector<uint64_t>& orphans) {
    std::unordered_set<uint32_t> leaving;
    for (uint64_t serial : orphans) {
        Node* root = FindLiveNode(serial);
        for (Node* node = root; node; node = NextInSubtree(node, root, true)) {
            leaving.insert(node->GetId() & ~PortMask);
        }
    }
    for (uint64_t serial : LoadedNodes()) {
        Node* node = FindLiveNode(serial);
        if (node && leaving.count(node->GetId() & ~PortMask) == 0) {
            DropReferences(*node, leaving);
        }
    }
}

std::vector<uint64_t> SceneLoader::LoadedNodes() const {
    std::vector<uint64_t> serials = created_;
    serials.insert(serials.end(), reused_.begin(), reused_.end());
    return serials;
}

void SceneLoader::FollowMovedNodes() {
    std::unordered_map<uint32_t, uint32_t> moved; // id the first pass gave -> id now
    for (const auto& [id, serial] : givenIds_) {
        Node* node = FindLiveNode(serial);
        if (node && node->GetId() != 0 && node->GetId() != id) {
            moved.emplace(id, node->GetId());
        }
    }
    if (moved.empty()) {
        return;
    }
    // Only an id that names nothing any more: one that names a node is where it points. The
    // pending references' own holders moved too.
    auto follow = [&moved](uint32_t value) {
        const uint32_t id = value & ~PortMask;
        auto hit = moved.find(id);
        if (hit == moved.end() || LookupEntity(id)) {
            return value;
        }
        return hit->second | (value & PortMask);
    };
    SceneLoadState& state = TheSceneLoadState();
    for (auto& entry : state.remap) {
        entry.second = follow(entry.second);
    }
    for (PendingReference& record : state.pending) {
        record.entityId = follow(record.entityId);
        record.id = follow(record.id);
    }
    for (uint64_t serial : LoadedNodes()) {
        if (Node* node = FindLiveNode(serial)) {
            RewriteReferences(*node,
                              [&](const Property&, uint32_t value) { return follow(value); });
        }
    }
}

Node* LoadSceneFile(const char* path, int32_t idSystem, uint32_t flags, Node* parent,
                    std::vector<Node*>* roots, SceneProgressCallback progress,
                    std::string* failure) {
    FileReader reader;
    ClearFileFailure();
    reader.Open(path, (flags & SceneCompact) != 0, (flags & SceneScrambled) != 0);
    return LoadSceneFile(reader, path, idSystem, flags, parent, roots, progress, failure);
}

Node* LoadSceneFile(FileReader& reader, const char* path, int32_t idSystem, uint32_t flags,
                    Node* parent, std::vector<Node*>* roots, SceneProgressCallback progress,
                    std::string* failure) {
    if (!reader.IsOpen()) {
        if (failure) {
            *failure = "it cannot be opened" + FileFailureSuffix();
        }
        return nullptr;
    }
    SceneLoader loader(path, idSystem, flags, parent, roots);
    loader.SetProgressCallback(progress);
    ChargeBytesDecoded(reader.GetSize());
    Node* root = loader.Load(reader);
    reader.Close();
    if (failure) {
        *failure = loader.GetFailure();
    }
    return root;
}

void RecordLoadedSceneFile(const SceneLoader& loader) {
    LoadedSceneFiles().push_back({loader.GetPath(), loader.GetFileVersion(), loader.GetIdSystem(),
                                  loader.GetObjectCount()});
}

const std::vector<LoadedSceneFile>& GetLoadedSceneFiles() {
    return LoadedSceneFiles();
}

} // namespace quarn
