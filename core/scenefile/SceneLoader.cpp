#include "core/scenefile/SceneLoader.h"

#include "core/debug/Log.h"
#include "core/debug/Profiler.h"
#include "core/filesystem/FileReader.h"
#include "core/io/BufferFile.h"
#include "core/io/Tokenizer.h"
#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "core/object/IdMap.h"
#include "core/object/Property.h"
#include "core/object/Signals.h"
#include "core/os/Dialogs.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "core/scene/NodeSignals.h"
#include "core/scenefile/SceneCompactFormat.h"
#include "core/scenefile/SceneFormat.h"
#include "core/scenefile/SceneSaver.h"
#include "core/scenefile/SceneTextFormat.h"
#include "core/string/Text.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace quarn {

namespace {

// A reference that did not resolve while its file was read. The referencing entity is kept by
// id and the property by name: either may be replaced or destroyed before the record is
// resolved (a class replacement, a reused node deleted, a branch unloaded), and an id then
// resolves to the replacement or to nothing, never to freed memory.
struct PendingReference {
    uint32_t entityId;
    std::string property;
    uint32_t id; // 0 when only the path is known
    IdPath path;
};

// Shared by nested loads; only the outermost load empties it.
struct LoaderState {
    int32_t depth = -1;
    std::map<uint32_t, uint32_t> remap; // id in the file (as resolved) -> id its node got
    std::vector<PendingReference> pending;
};

LoaderState& State() {
    static LoaderState state;
    return state;
}

constexpr uint32_t MaxIdSystem = IdSystemMask >> IdSystemShift;

bool IsAlive(uint64_t serial) {
    return serial != 0 && Entity::FindBySerial(serial) != nullptr;
}

Node* LiveNode(uint64_t serial) {
    return serial != 0 ? dynamic_cast<Node*>(Entity::FindBySerial(serial)) : nullptr;
}

// "parent" and "prev": they place the node rather than point at another one.
bool IsNodePlacement(const Property& property) {
    return property.GetOwner() != nullptr && property.GetOwner() == Node::classInfo;
}

bool IsParentProperty(const Property& property) {
    return IsNodePlacement(property) && std::strcmp(property.GetName(), "parent") == 0;
}

bool IsNullPath(const IdPath& path) {
    return path.ids[0] == 0 && (path.count < 2 || path.ids[1] == 0);
}

// A property the entity still has under that name: its class's first, then its custom class's.
Property* FindAnyProperty(const Entity& entity, const char* name) {
    Property* property = entity.FindProperty(name);
    return property ? property : entity.FindCustomProperty(name);
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

// Restores the engine state word when a load or a replacement ends, however it ends.
class EngineStateScope {
public:
    explicit EngineStateScope(int32_t state) : saved_(EngineState) { EngineState = state; }
    ~EngineStateScope() { EngineState = saved_; }
    EngineStateScope(const EngineStateScope&) = delete;
    EngineStateScope& operator=(const EngineStateScope&) = delete;

private:
    int32_t saved_;
};

} // namespace

// Legacy names --------------------------------------------------------------------------------

const char* MapLegacyClassName(const char* className, int32_t fileVersion) {
    if (!className) {
        return "";
    }
    if (fileVersion < 44) {
        static const char* const renamed[][2] = {
            {"SoundSource", "SoundEmitter"},
            {"Joint2D", "JointPin2D"},
            {"Profiler", "OnlineProfiler"},
        };
        for (const auto& pair : renamed) {
            if (std::strcmp(className, pair[0]) == 0) {
                return pair[1];
            }
        }
    }
    if (fileVersion < 25 && std::strcmp(className, "Layer") == 0) {
        return "ContainerBox";
    }
    return className;
}

// Loading -------------------------------------------------------------------------------------

SceneLoader::SceneLoader(const char* path, int32_t idSystem, uint32_t flags, Node* parent,
                         std::vector<Node*>* roots)
    : path_(path ? path : ""), idSystem_(idSystem), flags_(flags),
      parent_(parent ? parent->GetSerial() : 0), roots_(roots) {}

Node* SceneLoader::Load(File& stream) {
    LoaderState& state = State();
    ++state.depth;
    if (state.depth == 0) {
        state.remap.clear();
        state.pending.clear();
    }
    topLevel_.clear();
    created_.clear();
    objectCount_ = 0;
    {
        // Loading is a state of the program only while it lasts.
        EngineStateScope loading(EngineLoading);
        CreateNodes(stream);
        DeleteOrphans();
        --state.depth;
        ResolvePendingReferences();
    }

    // Setters, upgrades and scripts run during the load may have destroyed any node.
    Node* first = nullptr;
    for (uint64_t serial : topLevel_) {
        Node* node = LiveNode(serial);
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
    return first;
}

int SceneLoader::CreateNodes(File& stream) {
    EnterSection(0, "Creating nodes");
    Node::RegisterClass();
    std::unique_ptr<SceneReader> reader;
    if (flags_ & SceneCompact) {
        reader = std::make_unique<SceneCompactReader>();
    } else {
        reader = std::make_unique<SceneTextReader>();
    }
    if (!reader->Begin(stream, "", nullptr)) {
        return 0;
    }
    SceneHeader header;
    header.includeBranches = (flags_ & SceneIncludeBranches) != 0;
    if (!reader->ReadHeader(header)) {
        LogMessage("Cannot read the header of scene %s", path_.c_str());
        return 0;
    }
    fileVersion_ = header.version;
    if (fileVersion_ > SceneFormatVersion) {
        ShowMessageBox("Scene is made with a newer version of this editor, errors may occur.",
                       "Warning", MessageBoxOk);
    }
    if (fileVersion_ < OldestSceneFormatVersion) {
        LogMessage("Scene %s has version %d; versions below %d are not read", path_.c_str(),
                   fileVersion_, OldestSceneFormatVersion);
        return 0;
    }
    if (idSystem_ < 0) {
        idSystem_ = header.idSystem;
    }
    if (idSystem_ < 0 || static_cast<uint32_t>(idSystem_) > MaxIdSystem) {
        LogMessage("Scene %s names id system %d, which no id can hold", path_.c_str(), idSystem_);
        return 0;
    }
    SceneLoadIncludesBranches = header.includeBranches;

    std::string idText;
    std::string className; // not cleared between objects: a block may lack its class line
    while (reader->NextObject()) {
        EnterSection(1, "Parse id and class");
        if (!reader->ReadObject(idText, &className)) {
            break; // the second pass could not find the object again either
        }
        IdPath path;
        path.Parse(idText.c_str());
        className = MapLegacyClassName(className.c_str(), fileVersion_);

        EnterSection(1, "Create node");
        bool reused = false;
        Node* node = CreateNode(path, className, reused);

        EnterSection(1, "Determine id");
        uint32_t wanted = 0;
        if (flags_ & SceneRawIds) {
            wanted = path.count > 0 ? path.ids[0] & ~PortMask : 0;
        } else {
            wanted = ResolveIdPath(path, SceneKeepUnmappedIds);
        }
        AssignId(*node, wanted);
        // The id actually given, so the compact form's references reach the node even when the
        // wanted id was taken.
        reader->MapId(wanted, node->GetId());
        // Reused nodes were there before the load; only new ones can be left without owner.
        created_.push_back(reused ? 0 : node->GetSerial());
        ++objectCount_;
    }

    EnterSection(0, "Load properties");
    reader->Rewind();
    for (int index = 0; index < objectCount_; ++index) {
        if (progress_) {
            std::string text = "loading " + path_;
            if (text.size() > 512) {
                text.resize(512);
            }
            progress_(State().depth, static_cast<float>(index) / static_cast<float>(objectCount_),
                      text.c_str());
        }
        LoadObjectProperties(*reader);
    }
    EnterSection(0, "Done");
    return objectCount_;
}

Node* SceneLoader::CreateNode(const IdPath& path, const std::string& className, bool& reused) {
    reused = false;
    if (flags_ & SceneReuseNodes) {
        Node* existing = dynamic_cast<Node*>(LookupEntity(ResolveIdPath(path, flags_)));
        // The node under which this load hangs its nodes, and what holds it, must outlive the
        // load where they are: neither deleted nor moved by the file. A new node is made for the
        // object instead.
        Node* parent = LiveNode(parent_);
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

void SceneLoader::AssignId(Node& node, uint32_t wanted) {
    IdMap& map = TheIdMap();
    std::map<uint32_t, uint32_t>& remap = State().remap;
    const uint32_t current = node.GetId();
    if ((wanted & LocalIdMask) == 0) {
        // No usable id in the file: a fresh one, which nothing in the file can name.
        if (current == 0) {
            uint32_t system = static_cast<uint32_t>(idSystem_);
            uint32_t localId = map.GetFreeLocalId(system);
            if (localId != 0) {
                node.ChangeId(system << IdSystemShift | localId);
            }
        }
        return;
    }
    if (current == wanted) {
        remap[wanted] = wanted;
    } else if (current != 0 && (flags_ & SceneKeepNodeIds)) {
        remap[wanted] = current;
    } else if (flags_ & SceneForceFileIds) {
        // Taken from whoever holds it, with the references to it.
        node.TakeOverId(wanted);
        remap[wanted] = wanted;
    } else if (map.IsIdFree(wanted, 0)) {
        node.ChangeId(wanted);
        remap[wanted] = node.GetId();
    } else {
        const uint32_t system = wanted & IdSystemMask;
        const uint32_t localId = map.GetFreeLocalId(system >> IdSystemShift);
        if (localId != 0) {
            node.ChangeId(system | localId);
        }
        if (node.GetId() != 0) {
            remap[wanted] = node.GetId();
        }
    }
}

bool SceneLoader::LoadObjectProperties(SceneReader& reader) {
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
        const std::map<uint32_t, uint32_t>& remap = State().remap;
        auto hit = remap.find(raw);
        id = hit != remap.end() ? hit->second : (flags_ & SceneKeepUnmappedIds) ? raw : 0;
    } else if (read) {
        id = ResolveIdPath(path, flags_);
    }
    EnterSection(1, "Look up node");
    auto* node = dynamic_cast<Node*>(LookupEntity(id));
    // The node this load hangs its nodes under, and what holds it, take nothing from the file.
    Node* parent = LiveNode(parent_);
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
    bool parentApplied = false;
    std::string key;
    std::string value;
    if (reader.IsCompact()) {
        while (IsAlive(serial) && reader.ReadProperty(*node, key, value)) {
        }
        if (!IsAlive(serial)) {
            reader.NextObject(); // a setter took the node: the rest of its block is passed over
        }
    } else {
        while (reader.ReadProperty(*node, key, value)) {
            if (!IsAlive(serial)) {
                continue; // the rest of the block is still read
            }
            const Property* property = FindAnyProperty(*node, key.c_str());
            if (!property) {
                continue;
            }
            if (IsParentProperty(*property)) {
                parentApplied = true;
            }
            ApplyProperty(*node, *property, value.c_str());
        }
    }
    if (!IsAlive(serial)) {
        return true;
    }
    if (!node->GetParent() && (!parentApplied || reader.IsCompact())) {
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
            if (replacement) {
                std::replace(topLevel_.begin(), topLevel_.end(), serial, replacement->GetSerial());
            }
        }
    }
    return true;
}

void SceneLoader::ApplyProperty(Node& node, const Property& property, const char* text) {
    if ((property.GetStateFlags() & PropertyTransient) && !(flags_ & SceneTransientProperties)) {
        return;
    }
    if (!property.IsEntityReference()) {
        property.SetFromText(node, text);
        return;
    }
    IdPath path;
    path.Parse(text);
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
        MakeTopLevel(node);
        return;
    }
    uint32_t words[MaxValueWords] = {id};
    property.WriteValue(node, words);
}

void SceneLoader::MakeTopLevel(Node& node) {
    const uint64_t serial = node.GetSerial();
    if (Node* parent = LiveNode(parent_)) {
        node.SetParent(parent);
    }
    if (IsAlive(serial) &&
        std::find(topLevel_.begin(), topLevel_.end(), serial) == topLevel_.end()) {
        topLevel_.push_back(serial);
    }
}

uint32_t SceneLoader::ResolveIdPath(const IdPath& path, uint32_t flags) const {
    const IdMap& map = TheIdMap();
    const std::map<uint32_t, uint32_t>& remap = State().remap;
    uint32_t system = static_cast<uint32_t>(idSystem_ < 0 ? 0 : idSystem_);
    if (!path.guid.IsZero()) {
        int32_t found = map.FindSceneByGuid(path.guid);
        if (found < 0) {
            return 0;
        }
        system = static_cast<uint32_t>(found);
    }
    if (path.count <= 0) {
        return 0;
    }
    int first = 0;
    if (path.ids[0] == 0) {
        if (path.count < 2 || path.ids[1] == 0) {
            return 0;
        }
        if (idSystem_ != 0 && !(flags & SceneSystemZeroPaths)) {
            return 0;
        }
        system = 0;
        first = 1;
    }
    for (int i = first; i < path.count && i < IdPath::MaxIds; ++i) {
        const uint32_t localId = path.ids[i];
        // A local id is 16 bits; anything else names no entity of this file.
        if (localId == 0 || localId > LocalIdMask || system > MaxIdSystem) {
            return 0;
        }
        uint32_t id = system << IdSystemShift | localId;
        if (!(flags & SceneNoRemap)) {
            auto hit = remap.find(id);
            if (hit != remap.end()) {
                id = hit->second;
            } else if (!(flags & SceneKeepUnmappedIds)) {
                return 0;
            }
        }
        if (i + 1 == path.count) {
            return id;
        }
        const Entity* entity = LookupEntity(id);
        if (!entity) {
            return 0;
        }
        system = entity->GetIdSystem();
        if (system == 0) {
            return 0;
        }
    }
    return 0;
}

void SceneLoader::AddPendingReference(const Entity& entity, const Property& property, uint32_t id,
                                      const IdPath& path) {
    if (entity.GetId() == 0) {
        return; // an entity without id cannot be found again
    }
    State().pending.push_back({entity.GetId(), property.GetName(), id, path});
}

void SceneLoader::ResolvePendingReferences() {
    // Setters may start loads of their own, which add records or, as outermost loads, empty
    // the list: the records walked here are taken out of it first.
    std::vector<PendingReference> records = std::move(State().pending);
    State().pending.clear();
    std::vector<PendingReference> unresolved;
    for (PendingReference& record : records) {
        Entity* entity = LookupEntity(record.entityId);
        const Property* property =
            entity ? FindAnyProperty(*entity, record.property.c_str()) : nullptr;
        if (!property || !property->IsEntityReference()) {
            continue; // the referencing entity or its property went away
        }
        uint32_t words[MaxValueWords] = {};
        property->ReadValue(*entity, words);
        if (words[0] != 0 && LookupEntity(words[0])) {
            continue;
        }
        uint32_t id = record.id != 0 ? record.id : ResolveIdPath(record.path, 0);
        if (id != 0 && LookupEntity(id)) {
            words[0] = id | (record.path.port & 0xF) << PortShift;
            property->WriteValue(*entity, words);
        } else {
            unresolved.push_back(std::move(record));
        }
    }
    std::vector<PendingReference>& pending = State().pending;
    pending.insert(pending.begin(), std::make_move_iterator(unresolved.begin()),
                   std::make_move_iterator(unresolved.end()));
}

void SceneLoader::DeleteOrphans() {
    for (size_t index = 0; index < created_.size(); ++index) {
        Node* node = LiveNode(created_[index]);
        if (!node || node->GetParent() ||
            std::find(topLevel_.begin(), topLevel_.end(), created_[index]) != topLevel_.end()) {
            continue;
        }
        LogMessage("Scene %s: object %d could not be found again by its id and is left out",
                   path_.c_str(), static_cast<int>(index));
        node->Delete();
    }
}

Node* LoadSceneFile(const char* path, int32_t idSystem, uint32_t flags, Node* parent,
                    std::vector<Node*>* roots, SceneProgressCallback progress) {
    FileReader reader;
    if (!reader.Open(path, (flags & SceneCompact) != 0, (flags & SceneScrambled) != 0)) {
        return nullptr;
    }
    SceneLoader loader(path, idSystem, flags, parent, roots);
    loader.SetProgressCallback(progress);
    Node* root = loader.Load(reader);
    reader.Close();
    return root;
}

// Missing references ----------------------------------------------------------------------------

int GetPendingReferenceCount() {
    return static_cast<int>(State().pending.size());
}

int ReportMissingReferences() {
    const std::vector<PendingReference>& pending = State().pending;
    if (pending.empty()) {
        return 0;
    }
    ShowMessageBox("Some references were not found. This usually happens when a branch is used "
                   "in different scenes.\nIf you save the scene without rectifying this, the "
                   "references may be lost.\nCheck the log panel for details.",
                   "Warning", MessageBoxOk);
    const IdMap& map = TheIdMap();
    for (const PendingReference& record : pending) {
        std::string missing;
        if (record.id != 0) {
            missing = IdPath::FromId(record.id, 0).Format();
        } else {
            missing = std::to_string(record.path.ids[0]);
            for (int i = 1; i < record.path.count && i < IdPath::MaxIds; ++i) {
                if (record.path.ids[i] == 0) {
                    break;
                }
                missing += '.' + std::to_string(record.path.ids[i]);
            }
        }
        std::string referrer = IdPath::FromId(record.entityId, 0).Format();
        const uint32_t system = (record.entityId & IdSystemMask) >> IdSystemShift;
        const IdSystem* owner = system != 0 ? map.GetIdSystem(system) : nullptr;
        Entity* root = owner ? owner->GetRoot() : nullptr;
        if (root && root->CastToClassName("Branch")) {
            referrer += std::string(" (branch: ") + root->GetDescription().Text() + ")";
        } else {
            referrer += " (branch: none)";
        }
        LogAtPosition("system", record.entityId, "Id %s not found, referenced by %s",
                      missing.c_str(), referrer.c_str());
    }
    return static_cast<int>(pending.size());
}

// Version upgrades ------------------------------------------------------------------------------

void UpgradeNodeVersion(int32_t fileVersion, Node& node) {
    EngineStateScope loading(EngineLoading);
    const uint64_t serial = node.GetSerial();
    for (int32_t version = std::max(fileVersion, 0);
         version < SceneFormatVersion && IsAlive(serial); ++version) {
        node.UpgradeVersion(version);
    }
}

// Cloning ---------------------------------------------------------------------------------------

Node* CloneNode(Node& node, bool keepOutsideReferences, bool alone, bool dissolveBranches) {
    uint32_t flags = SceneWriteRoot;
    if (keepOutsideReferences) {
        flags |= SceneKeepUnmappedIds | SceneSystemZeroPaths;
    }
    if (dissolveBranches) {
        flags |= SceneDissolveBranches;
    }
    // The system the node's id lives in: its copies get their ids there too. (A branch node
    // answers GetIdSystem with the system of its contents.)
    const uint32_t idSystem = (node.GetId() & IdSystemMask) >> IdSystemShift;
    GrowingOutputStream buffer;
    SceneTextWriter writer;
    writer.Begin(buffer, "", 0);
    SceneHeader header;
    header.version = SceneFormatVersion;
    header.idSystem = static_cast<int32_t>(idSystem);
    header.nodeCount = alone ? 1 : CountSavedNodes(node);
    writer.WriteHeader(header);
    if (alone) {
        WriteNodeObject(writer, node, idSystem, flags);
    } else {
        WriteNodeTree(writer, node, idSystem, flags);
    }
    writer.Finish();
    const std::string& text = buffer.GetText();
    BufferFile file(text.data(), static_cast<uint32_t>(text.size()));
    SceneLoader loader("", -1, flags, nullptr, nullptr);
    return loader.Load(file);
}

// Class replacement -----------------------------------------------------------------------------

Node* ReplaceNodeClass(Node& node, ClassInfo& classInfo, bool announce) {
    auto* replacement = dynamic_cast<Node*>(classInfo.CreateInstance());
    if (!replacement) {
        LogMessage("Class %s makes no node; %s keeps its class", classInfo.GetName(),
                   node.GetDisplayName().c_str());
        return nullptr;
    }
    EngineStateScope replacing(EngineReplacingClass);
    const uint64_t oldSerial = node.GetSerial();
    const uint64_t newSerial = replacement->GetSerial();

    std::vector<uint64_t> children;
    for (Node* child = node.GetFirstChild(); child; child = child->GetNext()) {
        children.push_back(child->GetSerial());
    }
    for (uint64_t serial : children) {
        if (Node* child = LiveNode(serial)) {
            child->Detach();
        }
    }
    if (!IsAlive(oldSerial)) {
        return LiveNode(newSerial);
    }

    ClassInfo* oldClass = node.GetClass();
    const int count = oldClass ? oldClass->GetPropertyCount() : 0;
    for (int index = 0; index < count; ++index) {
        const Property* from = oldClass->GetProperty(index);
        if (!from || IsNodePlacement(*from)) {
            continue;
        }
        const Property* to = classInfo.FindProperty(from->GetName());
        if (!to || IsNodePlacement(*to)) {
            continue;
        }
        if (to->GetValueType() == from->GetValueType()) {
            uint32_t words[MaxValueWords] = {};
            from->ReadValue(node, words);
            to->WriteValue(*replacement, words);
        } else {
            to->SetFromText(*replacement, from->GetAsText(node).c_str());
        }
    }

    Node* parent = node.GetParent();
    Node* previous = node.GetPrevious();
    const uint64_t parentSerial = parent ? parent->GetSerial() : 0;
    const uint64_t previousSerial = previous ? previous->GetSerial() : 0;
    node.Detach();
    if (IsAlive(oldSerial) && IsAlive(newSerial)) {
        replacement->TakeOverId(node.GetId());
    }
    if (Node* liveParent = LiveNode(parentSerial); liveParent && IsAlive(newSerial)) {
        Node* livePrevious = LiveNode(previousSerial);
        replacement->AttachAfter(liveParent, livePrevious && livePrevious->GetParent() == liveParent
                                                 ? livePrevious
                                                 : nullptr);
    }
    // The old node has given up its id, place and children; left alive it would still stand in
    // its class's instance list and hear class signals.
    if (Node* old = LiveNode(oldSerial)) {
        old->Delete();
    }
    if (!IsAlive(newSerial)) {
        return nullptr;
    }
    if (announce) {
        SendSignal("nodecreation", static_cast<Entity*>(replacement), true);
    }
    for (uint64_t serial : children) {
        Node* child = LiveNode(serial);
        if (child && IsAlive(newSerial) && !child->GetParent()) {
            child->AttachAsLast(replacement);
        }
    }
    if (announce && IsAlive(newSerial)) {
        CallMethodInSubtree(replacement, "loaded", nullptr, true);
    }
    return LiveNode(newSerial);
}

// Custom declarations ---------------------------------------------------------------------------

bool ReadCustomDeclarations(Tokenizer* tokenizer, File& stream, ClassInfo** slot) {
    if (!slot) {
        return true;
    }
    if (!*slot) {
        // "custom" records stay out of the class list; the slot is their holder.
        *slot = new ClassInfo("custom", nullptr, slot);
    }
    ClassInfo& custom = **slot;
    for (const auto& property : custom.GetOwnProperties()) {
        property->SetStateFlags(property->GetStateFlags() | PropertyStale);
    }
    Tokenizer temporary;
    Tokenizer& tokens = tokenizer ? *tokenizer : temporary;

    int32_t kind = tokens.Next(stream);
    while (kind == TokenIdentifier) {
        const int32_t propertyKind = GetPropertyKindByName(tokens.GetText().c_str());
        kind = tokens.Next(stream);
        if (propertyKind < 0) {
            continue; // an unknown type name; the new token may be the next one
        }
        if (kind != TokenIdentifier) {
            break;
        }
        const std::string name = tokens.GetText();
        Property* declared = nullptr;
        for (const auto& own : custom.GetOwnProperties()) {
            if (CompareNoCase(own->GetName(), name.c_str()) == 0) {
                declared = own.get();
                break;
            }
        }
        // A class reference's descriptor answers the reference kind; its value type names
        // the class.
        const bool sameKind =
            declared &&
            (declared->GetKind() == propertyKind ||
             (propertyKind >= ClassTypeBase && declared->GetValueType() == propertyKind));
        if (sameKind) {
            declared->SetStateFlags(declared->GetStateFlags() & ~PropertyStale);
        } else {
            if (declared) {
                custom.RemoveProperty(name.c_str());
            }
            // Kinds without a descriptor class (int3, vref) declare nothing.
            std::unique_ptr<Property> made = propertyKind >= ClassTypeBase
                                                 ? CreateProperty(propertyKind)
                                                 : CreatePropertyByKind(propertyKind);
            declared = nullptr;
            if (made) {
                made->Setup(name.c_str(), "", nullptr, nullptr);
                declared = custom.AddPropertyObject(std::move(made));
            }
        }
        kind = tokens.Next(stream);
        if (kind == '<') {
            kind = tokens.Next(stream);
            if (kind == TokenString) {
                if (declared) {
                    const std::string range = tokens.GetText();
                    const std::string ownName = declared->GetName();
                    declared->Setup(ownName.c_str(), range.c_str(), nullptr, nullptr);
                }
                kind = tokens.Next(stream);
            }
            if (kind == '>') {
                kind = tokens.Next(stream);
            }
        }
    }

    std::vector<std::string> stale;
    for (const auto& property : custom.GetOwnProperties()) {
        if (property->GetStateFlags() & PropertyStale) {
            stale.push_back(property->GetName());
        }
    }
    for (const std::string& name : stale) {
        custom.RemoveProperty(name.c_str());
    }
    return true;
}

} // namespace quarn
