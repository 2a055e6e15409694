#include "resources/Branch.h"

#include "core/debug/Log.h"
#include "core/debug/Validity.h"
#include "core/filesystem/FileReader.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "core/os/Dialogs.h"
#include "core/scene/EngineState.h"
#include "core/scene/NodeMenu.h"
#include "core/scene/NodeSignals.h"
#include "core/scenefile/SceneFormat.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneReferences.h"
#include "core/scenefile/VersionControl.h"
#include "core/string/Text.h"
#include "core/string/TextArena.h"
#include "resources/BranchFile.h"
#include "resources/ResourceRegistry.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

namespace quarn {

ClassInfo* Branch::classInfo = nullptr;

namespace {

const Property* idSystemProperty = nullptr;
const Property* flagsProperty = nullptr;

// Branch files whose content an instance is loading right now. An instance of one of them
// inside that content would load it again, and so on without end.
std::vector<const BranchFile*>& FilesBeingLoaded() {
    static std::vector<const BranchFile*> files;
    return files;
}

// A fresh id system for `root`, or 0. Inside a scene load, once none was left none is asked for
// again: each branch instance of a large fan would ask, and each ask fail.
uint32_t AllocateIdSystem(Branch* root) {
    SceneLoadState& state = TheSceneLoadState();
    if (state.depth >= 0 && state.outOfIdSystems) {
        return 0;
    }
    const int32_t fresh = TheIdMap().AllocateScene(root);
    if (fresh > 0) {
        return static_cast<uint32_t>(fresh);
    }
    if (state.depth >= 0) {
        state.outOfIdSystems = true;
    }
    return 0;
}

// While a scene that holds its branches' content is read, that content comes from the scene.
bool LoadingSceneWithBranches() {
    return (EngineState == EngineLoading || EngineState == EngineLoadingScene) &&
           SceneLoadIncludesBranches;
}

// Every node below `top`, parents before children; iterative, so any depth is fine.
std::vector<const Node*> NodesBelow(const Node& top) {
    std::vector<const Node*> nodes;
    std::vector<const Node*> pending{&top};
    while (!pending.empty()) {
        const Node* node = pending.back();
        pending.pop_back();
        for (const Node* child = node->GetFirstChild(); child; child = child->GetNext()) {
            nodes.push_back(child);
            pending.push_back(child);
        }
    }
    return nodes;
}

// A reference that a node outside a branch holds into it.
struct OutsideReference {
    uint64_t referrer;
    std::string property;
    uint32_t id;
};

template <class Visit>
void ForEachInstance(const ClassInfo* classInfo, Visit& visit) {
    for (int index = 0; index < classInfo->GetInstanceCount(); ++index) {
        visit(classInfo->GetInstance(index));
    }
    for (const ClassInfo* derived : classInfo->GetDerivedClasses()) {
        ForEachInstance(derived, visit);
    }
}

// Serials of every live node of the class and the classes derived from it, so that a walk
// that runs code can skip what that code destroyed.
std::vector<uint64_t> InstanceSerials(const ClassInfo* classInfo) {
    std::vector<uint64_t> serials;
    auto collect = [&serials](Entity* entity) { serials.push_back(entity->GetSerial()); };
    if (classInfo) {
        ForEachInstance(classInfo, collect);
    }
    return serials;
}

// The reference properties of a class (or only its own ones) other than tree placement.
void AddReferenceProperties(const ClassInfo* classInfo, bool ownOnly,
                            std::vector<const Property*>& out) {
    if (!classInfo) {
        return;
    }
    const int count = ownOnly ? static_cast<int>(classInfo->GetOwnProperties().size())
                              : classInfo->GetPropertyCount();
    for (int index = 0; index < count; ++index) {
        const Property* property =
            ownOnly ? classInfo->GetOwnProperties()[index].get() : classInfo->GetProperty(index);
        if (property && property->IsEntityReference() && !IsNodePlacement(*property)) {
            out.push_back(property);
        }
    }
}

std::vector<OutsideReference> CollectOutsideReferences(const Node& branch) {
    // The content by address, so each test is one look-up however deep the tree.
    const std::vector<const Node*> content = NodesBelow(branch);
    const std::unordered_set<const Node*> inside(content.begin(), content.end());
    std::vector<OutsideReference> found;
    std::vector<const Property*> properties;
    auto visit = [&](Entity* entity) {
        auto* node = dynamic_cast<Node*>(entity);
        if (!node || node == &branch || inside.count(node)) {
            return;
        }
        properties.clear();
        AddReferenceProperties(node->GetClass(), false, properties);
        AddReferenceProperties(node->GetCustomClass(), true, properties);
        for (const Property* property : properties) {
            uint32_t words[MaxValueWords] = {};
            property->ReadValue(*node, words);
            if (inside.count(dynamic_cast<Node*>(LookupEntity(words[0])))) {
                found.push_back({node->GetSerial(), property->GetName(), words[0]});
            }
        }
    };
    if (Node::classInfo && !inside.empty()) {
        ForEachInstance(Node::classInfo, visit);
    }
    return found;
}

} // namespace

Branch::Branch() = default;

Branch::~Branch() {
    // The content's ids are in the id system about to be freed.
    DeleteChildren();
    FreeIdSystem();
    ReleaseFile();
}

uint32_t Branch::GetIdSystem() const {
    return (flags_ & BranchNoIdSystem) ? Referable::GetIdSystem() : idSystem_;
}

ClassInfo* Branch::GetCustomClass() const {
    return file_ ? file_->GetDeclaredClass() : nullptr;
}

int Branch::GetPropertyState(const Property& property) const {
    if (&property == idSystemProperty) {
        return 0;
    }
    if (&property == flagsProperty) {
        return static_cast<int>(BranchGlobal | BranchProtected | BranchNoIdSystem);
    }
    return ContainerBox::GetPropertyState(property);
}

bool Branch::AcceptsUndoLabel(const char* label) const {
    // A closed instance follows its file: it is neither moved as a whole nor saved.
    return !IsClosed() || (std::strcmp(label, "Center") != 0 && std::strcmp(label, "Save") != 0);
}

void Branch::OnDescendantChanged(Node* node, bool attached) {
    // An arriving node may be the target of a relay or an override.
    if (attached && linksMade_) {
        linksStale_ = true;
    }
    ContainerBox::OnDescendantChanged(node, attached);
}

void Branch::OnValuesLoaded() {
    // Every save writes "branchflags", whose setter gives the instance its id system. A block
    // without it would leave the instance with none, saved as "idsystem = 0", and the next load
    // of that save would give it one: the number would change on each load and save.
    EnsureIdSystem();
}

int Branch::GetIconIndex() const {
    switch (versionControlState_) {
    case VersionControl::CheckedOutByOther:
        return 11;
    case VersionControl::NotControlled:
        return 8;
    case VersionControl::CheckedOut:
    case VersionControl::CheckedOutToo:
        return 9;
    default:
        return 10;
    }
}

// Id system --------------------------------------------------------------------------------

void Branch::SetIdSystemNumber(int32_t number) {
    if (number == static_cast<int32_t>(idSystem_)) {
        return;
    }
    // The content's ids are in the current system: freeing it would let another instance take
    // the number while they still claim it.
    if (!ValidityCheck(GetFirstChild() == nullptr,
                       "Branch %s: the id system %u cannot change while the branch holds nodes",
                       GetDisplayName().c_str(), idSystem_)) {
        return;
    }
    IdMap& map = TheIdMap();
    FreeIdSystem();
    // System 0 is the opened scene's, always in use.
    const bool free = number > 0 && number < IdMap::MaxIdSystems &&
                      !map.IsSceneInUse(static_cast<uint32_t>(number));
    if (free) {
        map.SetSceneRoot(static_cast<uint32_t>(number), this);
        idSystem_ = static_cast<uint32_t>(number);
    } else {
        idSystem_ = AllocateIdSystem(this);
    }
    UpdateSceneGuid();
}

void Branch::FreeIdSystem() {
    // Only while it is still this instance's: a cleared id map may have given it to another.
    const IdSystem* record = idSystem_ != 0 ? TheIdMap().GetIdSystem(idSystem_) : nullptr;
    if (record && record->GetRoot() == this) {
        TheIdMap().FreeScene(idSystem_);
    }
    idSystem_ = 0;
}

uint32_t Branch::EnsureIdSystem() {
    if (idSystem_ == 0) {
        idSystem_ = AllocateIdSystem(this);
        UpdateSceneGuid();
    }
    return idSystem_;
}

void Branch::UpdateSceneGuid() {
    if (idSystem_ == 0) {
        return;
    }
    Guid guid;
    if ((flags_ & BranchGlobal) && file_) {
        guid = file_->EnsureGuid();
    }
    TheIdMap().SetSceneGuid(idSystem_, guid);
}

// Flags and file ------------------------------------------------------------------------------

void Branch::SetBranchFlags(uint32_t value) {
    value &= 0xFFFF;
    EnsureIdSystem();
    const uint32_t old = flags_;
    if (value == old) {
        return;
    }
    if ((old & BranchGlobal) && !(value & BranchGlobal) &&
        !CollectOutsideReferences(*this).empty()) {
        const int answer = ShowChoiceBox(
            "Warning",
            "At least one node in this branch is referenced from outside.\nClearing the global "
            "flag will make these references volatile.",
            "Clear#Don't clear");
        if (answer == 1) {
            value |= BranchGlobal;
        }
    }
    flags_ = value;
    UpdateSceneGuid();
    const uint32_t changed = old ^ value;
    const uint64_t self = GetSerial();
    if (changed & BranchNoIdSystem) {
        Reload();
        if (!IsAlive(self)) {
            return;
        }
    }
    if (changed & BranchLoaded) {
        if (value & BranchLoaded) {
            LoadContent(Push);
        } else {
            UnloadContent();
        }
        if (!IsAlive(self)) {
            return;
        }
    }
    if (changed & BranchClosed) {
        if (value & BranchClosed) {
            Close();
        } else {
            Open();
        }
        if (!IsAlive(self)) {
            return;
        }
    }
    SetFlag(NodeLocked, IsClosed());
}

const char* Branch::GetBranchPath() const {
    return file_ ? file_->GetFullPath() : "";
}

void Branch::SetBranchFile(const char* path) {
    BranchFile* file = path && *path ? AcquireResource<BranchFile>(path, "") : nullptr;
    if (file == file_) {
        if (file) {
            file->Release();
        }
        return;
    }
    if (LoadingSceneWithBranches()) {
        ReleaseFile();
        file_ = file;
        UpdateSceneGuid();
        EnsureCurrent();
        return;
    }
    const uint64_t self = GetSerial();
    EnsureIdSystem();
    const bool loadNow = EngineState == EngineLoadBranchesNow;
    const bool wasLoaded = (flags_ & BranchLoaded) != 0;
    if (wasLoaded || GetFirstChild()) {
        UnloadContent();
        if (!IsAlive(self)) {
            if (file) {
                file->Release();
            }
            return;
        }
    }
    ReleaseFile();
    file_ = file;
    if (file_) {
        if (file_->GetReferenceCount() > 1 && (flags_ & BranchGlobal)) {
            flags_ &= ~BranchGlobal;
            LogMessage("Branch '%s' already has an instance in the scene. The global-flag on this "
                       "instance has therefore been cleared.",
                       file_->GetFullPath());
        }
        Node* owner = file_->GetOwner();
        if (owner && owner != this) {
            SetClosed(true);
            LogMessage("Branch '%s' is already opened by another branch instance. The closed-flag "
                       "on this instance has therefore been set.",
                       file_->GetFullPath());
        }
    }
    UpdateSceneGuid();
    if (loadNow) {
        flags_ |= BranchLoaded;
        SetClosed(true);
    }
    if (wasLoaded || loadNow) {
        LoadContent(Push);
        if (!IsAlive(self)) {
            return;
        }
    }
    SendSignal("propertychange", static_cast<Entity*>(this), true);
    if (IsAlive(self)) {
        PullValues();
    }
}

void Branch::ReleaseFile() {
    if (!file_) {
        return;
    }
    BranchFile* file = file_;
    file_ = nullptr;
    file->ClearOwner(this);
    file->Release();
}

void Branch::SetClosed(bool closed) {
    flags_ = closed ? flags_ | BranchClosed : flags_ & ~BranchClosed;
    SetFlag(NodeLocked, closed);
}

std::vector<uint64_t> Branch::LiveInstances() {
    return InstanceSerials(classInfo);
}

void Branch::ShareVersionControlState() {
    if (!file_) {
        return;
    }
    for (uint64_t serial : InstanceSerials(classInfo)) {
        auto* other = dynamic_cast<Branch*>(FindLiveNode(serial));
        if (other && other != this && other->file_ == file_) {
            other->versionControlState_ = versionControlState_;
            SendSignal("propertychange", static_cast<Entity*>(other), true);
        }
    }
}

bool Branch::HasOpenSubBranch() const {
    for (const Node* node : NodesBelow(*this)) {
        auto* branch = dynamic_cast<const Branch*>(node);
        if (branch && !branch->IsClosed()) {
            return true;
        }
    }
    return false;
}

// Content -------------------------------------------------------------------------------------

bool Branch::LoadContent(int direction) {
    if (GetFirstChild()) {
        flags_ |= BranchLoaded;
        return false;
    }
    const uint64_t self = GetSerial();
    if (file_ && !MayLoadContent()) {
        flags_ |= BranchLoaded;
        return false;
    }
    if (BranchFile* file = file_) {
        std::vector<const BranchFile*>& loading = FilesBeingLoaded();
        if (std::find(loading.begin(), loading.end(), file) != loading.end()) {
            LogMessage("Branch '%s' holds an instance of itself, which is left unloaded",
                       file->GetFullPath());
            return false;
        }
        // Held for the load: a setter run by it may take the file from this instance.
        file->AddReference();
        loading.push_back(file);
        // The nested load reads its own header into the global; the outer load still needs it.
        const bool includesBranches = SceneLoadIncludesBranches;
        const bool compact = file->IsBinary();
        const std::string path = compact ? file->GetReadPath() : file->GetFullPath();
        uint32_t flags = SceneKeepUnmappedIds | SceneSystemZeroPaths;
        if (compact) {
            flags |= SceneCompact;
        }
        Node* first = nullptr;
        FileReader reader;
        // Before the read: a change made while it reads is asked about, not lost.
        StampFiles();
        if (reader.Open(path.c_str(), compact, false)) {
            SceneLoader loader(path.c_str(), static_cast<int32_t>(GetIdSystem()), flags, this,
                               nullptr);
            first = loader.Load(reader);
            reader.Close();
            // A setter the load ran may have deleted the instance.
            if (IsAlive(self)) {
                shortfall_ = loader.DescribeShortfall();
            }
        }
        SceneLoadIncludesBranches = includesBranches;
        loading.erase(std::find(loading.begin(), loading.end(), file));
        file->Release();
        if (!IsAlive(self)) {
            return false;
        }
        if (first && file == file_) {
            linksStale_ = true;
            EnsureCurrent();
            if (direction == Push) {
                PushValues();
            } else {
                PullValues();
            }
            if (!IsAlive(self)) {
                return false;
            }
        }
        if (HasFlag(NodeLockedAll) && !IsClosed()) {
            SetChildrenLockedAll(false);
        }
        // Inside another load the outermost one announces everything when it ends.
        if (TheSceneLoadState().depth == -1) {
            std::vector<uint64_t> children;
            for (Node* child = GetFirstChild(); child; child = child->GetNext()) {
                children.push_back(child->GetSerial());
            }
            std::vector<const char*> calls{"loaded"};
            if (GameRunning) {
                calls.push_back("quarn_start");
                calls.push_back("start");
            }
            for (const char* call : calls) {
                for (uint64_t child : children) {
                    CallMethodInSubtree(FindLiveNode(child), call, nullptr, false);
                }
            }
            if (!IsAlive(self)) {
                return false;
            }
        }
    }
    fileTime_ = file_ ? file_->GetFileTime() : 0;
    flags_ |= BranchLoaded;
    // Inside another load the content is as the file has it only once references into the rest
    // of the scene are resolved, when the outermost load's "loaded" comes.
    if (TheSceneLoadState().depth == -1) {
        RememberFileContent();
    } else {
        fileContent_ = FileContent::Pending;
    }
    return true;
}

bool Branch::MayLoadContent() {
    // Without an id system of its own the content would take the ids of the scene around it.
    SceneLoadState& state = TheSceneLoadState();
    const bool ownIds = (flags_ & BranchNoIdSystem) != 0 || idSystem_ != 0;
    if (ownIds && !(state.depth >= 0 && state.outOfIdSystems)) {
        return true;
    }
    shortfall_ = StringFormat("it is not read: all %d id systems are in use", IdMap::MaxIdSystems);
    // Inside a scene load, no branch load is tried once the id systems ran out; the outermost
    // load counts them in one line.
    if (state.depth >= 0) {
        state.outOfIdSystems = true;
        ++state.leftForIdSystems;
    } else {
        LogMessage("Branch '%s' is left unloaded: all %d id systems are in use",
                   file_->GetFullPath(), IdMap::MaxIdSystems);
    }
    return false;
}

int Branch::UnloadContent() {
    const int count = GetChildCount();
    const uint64_t self = GetSerial();
    DeleteChildren();
    if (!IsAlive(self)) {
        return count;
    }
    flags_ &= ~BranchLoaded;
    fileContent_ = FileContent::Unknown;
    stamped_ = false;
    shortfall_.clear();
    const IdSystem* record = idSystem_ != 0 ? TheIdMap().GetIdSystem(idSystem_) : nullptr;
    if (record && record->GetRoot() == this) {
        // Released ids come back, so the next load gives the content the same ones; the reset
        // drops the GUID with the rest.
        TheIdMap().ResetScene(idSystem_, this);
        UpdateSceneGuid();
    }
    linksStale_ = true;
    EnsureCurrent();
    return count;
}

void Branch::Reload() {
    const std::vector<OutsideReference> kept = CollectOutsideReferences(*this);
    const uint64_t self = GetSerial();
    UnloadContent();
    if (!IsAlive(self)) {
        return;
    }
    LoadContent(Push);
    if (!IsAlive(self)) {
        return;
    }
    int lost = 0;
    for (const OutsideReference& reference : kept) {
        Entity* referrer = Entity::FindBySerial(reference.referrer);
        const Property* property =
            referrer ? referrer->FindAnyProperty(reference.property.c_str()) : nullptr;
        if (!property) {
            continue; // the referrer itself went
        }
        if (!LookupEntity(reference.id)) {
            ++lost;
            continue;
        }
        uint32_t words[MaxValueWords] = {reference.id};
        property->WriteValue(*referrer, words);
    }
    if (lost > 0) {
        ShowMessageBox("Some references were lost during branch reload.", "Warning", MessageBoxOk);
    }
}

void Branch::OnLoaded(void*) {
    if (fileContent_ == FileContent::Pending) {
        RememberFileContent();
    }
    RefreshVersionControl();
}

bool Branch::ReloadIfChanged() {
    if (!(flags_ & BranchLoaded) || !IsClosed() || !file_) {
        return false;
    }
    const uint64_t time = file_->GetFileTime();
    if (time == fileTime_) {
        return false;
    }
    const std::string path = file_->GetFullPath();
    const uint64_t self = GetSerial();
    Reload();
    if (!IsAlive(self)) {
        return true;
    }
    fileTime_ = time;
    LogChannelMessage("resource", "Branch '%s' reloaded", path.c_str());
    return true;
}

// Events and ports ----------------------------------------------------------------------------

void Branch::ReceiveEvent(const EventRecord& event) {
    EnsureCurrent();
    const int port = static_cast<int>(event.target.GetPort());
    uint32_t target = 0;
    if (port < GetInputCount()) {
        target = GetInputRedirect(port);
    } else {
        // Ports past the relays pass the event on through the output of that number; past
        // the outputs there is nothing to pass it to.
        const size_t output = static_cast<size_t>(port - GetInputCount());
        if (output < outputs_.size()) {
            target = values_[custom_[outputs_[output]].offset];
        }
    }
    if (target == 0) {
        return;
    }
    EntityRef next;
    next.InitFromId(target);
    Entity::SendEvent(event.sender, next, event.argument.GetTarget(), event.value);
}

int Branch::GetInputCount() const {
    EnsureCurrent();
    return static_cast<int>(relays_.size());
}

int Branch::GetOutputCount() const {
    EnsureCurrent();
    return static_cast<int>(outputs_.size());
}

uint32_t Branch::GetInputRedirect(int port) const {
    EnsureCurrent();
    if (port < 0 || static_cast<size_t>(port) >= relays_.size() || relays_[port] < 0) {
        return 0;
    }
    return values_[custom_[static_cast<size_t>(relays_[port])].offset];
}

const char* Branch::GetInputName(int port) const {
    const uint32_t target = GetInputRedirect(port);
    Entity* entity = LookupEntity(target);
    if (!entity) {
        return "null";
    }
    const int targetPort = static_cast<int>(target >> PortShift);
    return PutTempString(
        StringFormat("%s%u", entity->GetInputName(targetPort), entity->GetId() & LocalIdMask));
}

const char* Branch::GetOutputName(int port) const {
    EnsureCurrent();
    if (port < 0 || static_cast<size_t>(port) >= outputs_.size()) {
        return "";
    }
    return custom_[outputs_[static_cast<size_t>(port)]].name.c_str();
}

void Branch::SetPortValue(int port, const EntityRef& reference) {
    EnsureCurrent();
    if (port < 0 || static_cast<size_t>(port) >= outputs_.size()) {
        return;
    }
    const Property* property = custom_[outputs_[static_cast<size_t>(port)]].property;
    uint32_t words[MaxValueWords] = {reference.GetId()};
    SetPropertyValue(*property, words);
}

EntityRef Branch::GetPortValue(int port) const {
    EnsureCurrent();
    EntityRef reference;
    if (port >= 0 && static_cast<size_t>(port) < outputs_.size()) {
        reference.InitFromId(values_[custom_[outputs_[static_cast<size_t>(port)]].offset]);
    }
    return reference;
}

std::vector<std::string> Branch::SavedFiles(const Entity& entity) {
    const auto* branch = dynamic_cast<const Branch*>(&entity);
    if (!branch || !branch->file_) {
        return {};
    }
    return {branch->file_->GetFullPath(), branch->file_->GetCompactPath()};
}

// Registration --------------------------------------------------------------------------------

ClassInfo* Branch::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "Branch", []() -> Entity* { return new Branch(); }, &classInfo);
    classInfo->SetParent(ContainerBox::RegisterClass());
    classInfo->SetCategory("SceneTree");
    // Saved scenes hold an instance alone; its content comes from its own file.
    classInfo->SetFlags(classInfo->GetFlags() | ClassClosed);

    idSystemProperty =
        classInfo->AddProperty<PropertyInt, &Branch::GetIdSystemNumber, &Branch::SetIdSystemNumber>(
            "idsystem");
    flagsProperty =
        classInfo->AddProperty<PropertyBitfield, &Branch::GetBranchFlags, &Branch::SetBranchFlags>(
            "branchflags:loaded,closed,global,protected,noidsystem");
    classInfo->AddProperty<PropertyResource, &Branch::GetBranchPath, &Branch::SetBranchFile>(
        "branch:branch");

    // Open, close, save, save as, reload, load, unload, is loaded: generated names, this order.
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&Branch::ScriptOpen>(),
                         MethodEditorOnly);
    // Closing saves the content when the user says so.
    classInfo
        ->AddMethod(NextShortName(), "()", BindMethod<&Branch::ScriptClose>(), MethodEditorOnly)
        ->SetWrittenFiles("Close", &Branch::SavedFiles);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&Branch::ScriptSave>(), MethodEditorOnly)
        ->SetWrittenFiles("Save", &Branch::SavedFiles);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&Branch::ScriptSaveAs>(),
                         MethodEditorOnly);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&Branch::ScriptReload>(),
                         MethodEditorOnly);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&Branch::ScriptLoad>(),
                         MethodEditorOnly);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&Branch::ScriptUnload>(),
                         MethodEditorOnly);
    classInfo->AddMethod(NextShortName(), "():bool", BindMethod<&Branch::ScriptIsLoaded>(),
                         MethodScript);

    const struct {
        const char* name;
        MethodBinding binding;
    } listeners[] = {
        {"loaded", BindSignalHandler<&Branch::OnLoaded>()},
        {"refresh_vc_bindings", BindSignalHandler<&Branch::OnRefreshVersionControl>()},
        {"reload_resources", BindSignalHandler<&Branch::OnReloadResources>()},
        {"quarn_save", BindSignalHandler<&Branch::OnSave>()},
        {"classtypehaschanged", BindSignalHandler<&Branch::OnClassTypeChanged>()},
    };
    for (const auto& listener : listeners) {
        MethodInfo* method =
            classInfo->AddMethod(listener.name, "(entity)", listener.binding, MethodClassSignal);
        RegisterClassSignal(listener.name, classInfo);
        // The editor's save command; a script can send it by name too.
        if (std::strcmp(listener.name, "quarn_save") == 0) {
            method->SetWrittenFiles("Save", &Branch::SavedFiles);
        }
    }
    RegisterNodeMenuEntry({&Branch::BuildRelayMenu, &Branch::ChooseRelay});
    RegisterNodeMenuEntry({&Branch::BuildOverrideMenu, &Branch::ChooseOverride});
    return classInfo;
}

} // namespace quarn
