#include "editor/NodeMenuEntries.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/filesystem/SettingsFile.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "core/os/DesktopOpen.h"
#include "core/os/Dialogs.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "core/scene/NodeMenu.h"
#include "core/scene/NodeSignals.h"
#include "core/scene/Pivot.h"
#include "core/scenefile/ClassReplacement.h"
#include "core/scenefile/SceneCompactFormat.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneSaver.h"
#include "core/scenefile/VersionControl.h"
#include "core/string/Text.h"
#include "editor/FolderMenu.h"
#include "render/Camera.h"
#include "render/Sprite.h"
#include "resources/Resource.h"
#include "resources/Texture.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quarn {

namespace {

constexpr char BranchFilter[] = "Branch\0*.branch\0";
constexpr const char* BranchFolderKind = "branch";

bool IsLocked(const Node& node) {
    return node.HasFlag(NodeLockedMask);
}

uint32_t IdSystemOf(const Node& node) {
    return (node.GetId() & IdSystemMask) >> IdSystemShift;
}

// Classes ---------------------------------------------------------------------------------------

// The resource property whose files a new node of the class may start with: its own resource
// properties before inherited ones, the first with a file type; scripts are left out.
const Property* FileProperty(const ClassInfo& classInfo) {
    for (const ClassInfo* each = &classInfo; each; each = each->GetParent()) {
        for (const auto& property : each->GetOwnProperties()) {
            if (property->GetKind() == KindResource && *property->GetRange() &&
                CompareNoCase(property->GetName(), "script") != 0) {
                return property.get();
            }
        }
    }
    return nullptr;
}

// Every format the property's resource loads, as file patterns.
std::vector<std::string> LoadablePatterns(const Property& property) {
    const auto* resource = dynamic_cast<const PropertyResource*>(&property);
    std::vector<std::string> extensions = resource ? resource->GetLoadableExtensions()
                                                   : std::vector<std::string>{property.GetRange()};
    for (std::string& extension : extensions) {
        extension.insert(0, "*.");
    }
    return extensions;
}

std::string FileFolder(const char* fileType) {
    std::string folder = GetDialogStartFolder(fileType);
    if (folder.empty()) {
        if (FileSystem* files = GetFileSystem()) {
            PathString base;
            folder = files->GetNativePath(base, files->GetBaseFolder()) ? base.Text() : "";
        }
    }
    return folder;
}

// Every class a node can be made of, grouped by category in registration order; with `files`
// a class that starts from a file lists the matching files instead of being a leaf.
void BuildClassMenu(NodeMenuItem& item, bool files) {
    // Each category's submenu, by its place in the item.
    std::vector<std::pair<std::string, size_t>> categories;
    for (int index = 0; index < GetClassCount(); ++index) {
        ClassInfo* classInfo = GetClassByIndex(index);
        if (!classInfo || classInfo->IsAbstract() || !classInfo->IsDerivedFrom(Node::classInfo)) {
            continue;
        }
        NodeMenuItem entry;
        entry.label = classInfo->GetName();
        if (const Property* property = files ? FileProperty(*classInfo) : nullptr) {
            entry.open = [type = std::string(property->GetRange()),
                          patterns = LoadablePatterns(*property)](NodeMenuItem& menu) {
                BuildFolderMenu(menu, FileFolder(type.c_str()), patterns);
            };
        }
        const std::string category = classInfo->GetCategory();
        if (category.empty()) {
            item.items.push_back(std::move(entry));
            continue;
        }
        auto known = std::find_if(categories.begin(), categories.end(),
                                  [&](const auto& each) { return each.first == category; });
        if (known == categories.end()) {
            categories.emplace_back(category, item.items.size());
            item.items.push_back({category, false, true, {}, {}});
            known = categories.end() - 1;
        }
        item.items[known->second].items.push_back(std::move(entry));
    }
}

// What a choice in a class menu names: the class, and the file leaf below it when the class
// lists files.
struct ChosenClass {
    ClassInfo* classInfo = nullptr;
    const NodeMenuItem* file = nullptr;
};

// The class item is the first on the way to the leaf that is a leaf itself or lists files:
// categories hold classes, built once.
ChosenClass FindChosenClass(const NodeMenuItem& item, int choice) {
    std::vector<const NodeMenuItem*> path;
    if (!FindNodeMenuLeaf(item, choice, path)) {
        return {};
    }
    for (size_t at = 0; at < path.size(); ++at) {
        if (path[at]->open || at + 1 == path.size()) {
            ClassInfo* classInfo = FindClass(path[at]->label.c_str());
            if (!classInfo || !classInfo->IsDerivedFrom(Node::classInfo)) {
                return {};
            }
            return {classInfo, at + 1 < path.size() ? path.back() : nullptr};
        }
    }
    return {};
}

// 0: Add new child -------------------------------------------------------------------------------

// A new node shows where it was asked for: it takes the matrix mode of the pivot it goes under,
// and a sprite placed in pixels takes its picture's size in pixels. Under a node placed in
// pixels it lies a step nearer than that node, as pixel-placed things are drawn from the far
// z to the near, so the node does not cover it. Under no pivot at all nothing tells where the
// view looks, so a sprite is placed in pixels at the view's centre.
void PlaceNewChild(Node& parent, Node& child) {
    auto* pivot = dynamic_cast<Pivot*>(&child);
    if (!pivot) {
        return;
    }
    Pivot* above = nullptr;
    for (Node* node = &parent; node && !above; node = node->GetParent()) {
        above = node->ToPivot();
    }
    auto* sprite = dynamic_cast<Sprite*>(&child);
    if (above) {
        pivot->SetMatrixMode(above->GetMatrixMode());
        if (above->GetMatrixMode() == MatrixScreen) {
            pivot->SetPosition({0.0f, 0.0f, -1.0f});
        }
    } else if (sprite) {
        pivot->SetMatrixMode(MatrixScreen);
        const Int2 view = PlatformViewSize ? PlatformViewSize() : Int2();
        pivot->SetPosition({static_cast<float>(view.x / 2), static_cast<float>(view.y / 2), 0.0f});
    }
    const Texture* picture = sprite ? sprite->GetTexture() : nullptr;
    if (picture && sprite->GetMatrixMode() == MatrixScreen) {
        sprite->SetSize(
            {static_cast<float>(picture->GetWidth()), static_cast<float>(picture->GetHeight())});
    }
}

bool BuildAddChild(Node& node, NodeMenuItem& item) {
    item.label = "Add new child";
    item.enabled = !IsLocked(node);
    BuildClassMenu(item, true);
    return true;
}

void AddChild(Node& parent, int choice, const NodeMenuItem& item) {
    const ChosenClass chosen = FindChosenClass(item, choice);
    ClassInfo* classInfo = chosen.classInfo;
    if (!classInfo || IsLocked(parent)) {
        return;
    }
    // A node at id 0 could never be referred to, so without a free id nothing is made.
    const uint32_t system = parent.GetIdSystem();
    const uint32_t localId = TheIdMap().GetFreeLocalId(system);
    if (localId == 0) {
        LogMessage("No free id left in id system %u: no %s created under %s", system,
                   classInfo->GetName(), parent.GetDisplayName().c_str());
        return;
    }
    const uint64_t parentSerial = parent.GetSerial();
    EngineStateScope creating(EngineReplacingClass);
    Entity* made = classInfo->CreateInstance();
    auto* child = dynamic_cast<Node*>(made);
    if (!child) {
        if (made) {
            made->Delete();
        }
        return;
    }
    const uint64_t serial = child->GetSerial();
    child->ChangeId((system << IdSystemShift) | localId);
    if (chosen.file) {
        // The leaf is "<path below the start folder>"; the property takes the path from the
        // base folder, as a scene file keeps it.
        const std::string& label = chosen.file->label;
        const Property* property = FileProperty(*classInfo);
        FileSystem* files = GetFileSystem();
        if (property && files && label.size() > 2) {
            std::string folder = FileFolder(property->GetRange());
            if (!folder.empty() && folder.back() != '/') {
                folder += '/';
            }
            const std::string native = folder + label.substr(1, label.size() - 2);
            const UserChoiceScope picked;
            property->SetFromText(*child, files->GetRelativePath(native.c_str()));
        }
    }
    if (Node* placedUnder = FindLiveNode(parentSerial); placedUnder && IsAlive(serial)) {
        PlaceNewChild(*placedUnder, *child);
    }
    Node* liveParent = FindLiveNode(parentSerial);
    if (!liveParent || !IsAlive(serial)) {
        if (Node* orphan = FindLiveNode(serial)) {
            orphan->Delete();
        }
        return;
    }
    child->AttachAsLast(liveParent);
    if (IsAlive(serial)) {
        SendSignal("nodecreation", static_cast<Entity*>(child), true);
    }
    if (IsAlive(serial)) {
        SendUndoLabel(child, StringFormat("%s creation", classInfo->GetName()).c_str());
    }
    if (IsAlive(serial)) {
        CallMethodInSubtree(child, "loaded", nullptr, true);
    }
    if (GameRunning && IsAlive(serial)) {
        CallMethodInSubtree(child, "quarn_start", nullptr, false);
        if (IsAlive(serial)) {
            CallMethodInSubtree(child, "start", nullptr, false);
        }
    }
    if (Node* live = FindLiveNode(serial)) {
        SendSignal("selectnode", static_cast<Entity*>(live), true);
    }
}

// 1: Convert to ----------------------------------------------------------------------------------

bool BuildConvert(Node& node, NodeMenuItem& item) {
    item.label = "Convert to";
    item.enabled = !IsLocked(node);
    BuildClassMenu(item, false);
    return true;
}

void Convert(Node& node, int choice, const NodeMenuItem& item) {
    ClassInfo* classInfo = FindChosenClass(item, choice).classInfo;
    if (!classInfo || IsLocked(node)) {
        return;
    }
    // The scene root is read from id system 0's root slot, which would still name the node
    // the conversion deletes.
    const bool sceneRoot = &node == GetSceneRoot();
    Node* replacement = ReplaceNodeClass(node, *classInfo, true);
    if (!replacement) {
        return;
    }
    if (sceneRoot) {
        TheIdMap().SetSceneRoot(0, replacement);
    }
    SendUndoLabel(replacement, "ClassType conversion");
}

// 2: Open resource -------------------------------------------------------------------------------

const Resource* ResourceOf(const Node& node) {
    const auto* resource = dynamic_cast<const Resource*>(node.GetResource());
    return resource && *resource->GetFullPath() ? resource : nullptr;
}

bool BuildOpenResource(Node& node, NodeMenuItem& item) {
    item.label = "Open resource";
    item.enabled = ResourceOf(node) != nullptr;
    return true;
}

void OpenResource(Node& node, int, const NodeMenuItem&) {
    const Resource* resource = ResourceOf(node);
    FileSystem* files = GetFileSystem();
    PathString native;
    if (!resource || !files || !files->GetNativePath(native, resource->GetFullPath())) {
        return;
    }
    if (!VersionControlOpenForEdit(native.Text(), 0)) {
        return;
    }
    LogMessage("Opening resource file: '%s'", native.Text());
    if (!OpenWithDesktop(native.Text())) {
        LogMessage("No program could be started to open '%s'", native.Text());
    }
}

// 3 to 6: subtrees -------------------------------------------------------------------------------

bool BuildInsertSubtree(Node& node, NodeMenuItem& item) {
    item.label = "Insert subtree...";
    item.enabled = !IsLocked(node);
    return true;
}

// The branch file the user picks, remembering its folder; "" when cancelled.
std::string AskBranchFile(bool open) {
    std::string chosen =
        ShowFileDialog(BranchFilter, open, GetDialogStartFolder(BranchFolderKind).c_str());
    if (chosen.empty()) {
        return chosen;
    }
    if (!open && !std::strchr(FindFileName(chosen.c_str()), '.')) {
        chosen += ".branch";
    }
    if (FileSystem* files = GetFileSystem()) {
        SetFolderSetting(BranchFolderKind,
                         GetPathFolder(files->GetRelativePath(chosen.c_str())).c_str());
    }
    return chosen;
}

void InsertSubtree(Node& node, int, const NodeMenuItem&) {
    if (IsLocked(node)) {
        return;
    }
    const uint64_t serial = node.GetSerial();
    const std::string path = AskBranchFile(true);
    Node* parent = FindLiveNode(serial);
    if (path.empty() || !parent) {
        return;
    }
    std::vector<Node*> roots;
    FileReader reader;
    const bool compact = IsCompactSceneName(path.c_str());
    {
        const UserChoiceScope picked;
        reader.Open(path.c_str(), compact, false);
    }
    const uint32_t flags =
        SceneKeepUnmappedIds | SceneSystemZeroPaths | (compact ? SceneCompact : 0u);
    if (!LoadSceneFile(reader, path.c_str(), static_cast<int32_t>(parent->GetIdSystem()), flags,
                       parent, &roots, nullptr)) {
        LogMessage("Subtree '%s' could not be loaded", path.c_str());
        return;
    }
    std::vector<uint64_t> inserted;
    for (Node* root : roots) {
        inserted.push_back(root->GetSerial());
    }
    for (uint64_t each : inserted) {
        if (Node* root = FindLiveNode(each)) {
            CallMethodInSubtree(root, "loaded", nullptr, true);
        }
    }
    if (Node* live = FindLiveNode(serial)) {
        SendUndoLabel(live, "insert subtree");
    }
}

// No command says what merging or mirroring a subtree would do: shown, never chosen.
bool BuildMergeSubtree(Node&, NodeMenuItem& item) {
    item.label = "Merge subtree...";
    item.enabled = false;
    return true;
}

bool BuildMirrorSubtree(Node&, NodeMenuItem& item) {
    item.label = "Mirror subtree";
    item.enabled = false;
    return true;
}

void DoNothing(Node&, int, const NodeMenuItem&) {}

bool BuildSaveSubtree(Node&, NodeMenuItem& item) {
    item.label = "Save subtree...";
    return true;
}

void SaveSubtree(Node& node, int, const NodeMenuItem&) {
    const uint64_t serial = node.GetSerial();
    const std::string path = AskBranchFile(false);
    Node* live = FindLiveNode(serial);
    if (path.empty() || !live) {
        return;
    }
    const UserChoiceScope picked;
    if (!SaveSceneFile(path.c_str(), *live, IdSystemOf(*live), SceneWriteRoot)) {
        LogMessage("Subtree could not be saved as '%s'", path.c_str());
    }
}

// 7: Referents -----------------------------------------------------------------------------------

std::vector<Entity*> Referents(const Node& node) {
    std::vector<Entity*> holders;
    for (Referable* holder : node.GetReferenceHolders()) {
        if (auto* entity = dynamic_cast<Entity*>(holder); entity && entity != &node) {
            holders.push_back(entity);
        }
    }
    return holders;
}

bool BuildReferents(Node& node, NodeMenuItem& item) {
    item.label = "Referents";
    for (const Entity* holder : Referents(node)) {
        item.items.push_back({holder->GetDisplayName(), false, true, {}, {}});
    }
    item.enabled = !item.items.empty();
    return true;
}

void SelectReferent(Node& node, int choice, const NodeMenuItem& item) {
    const std::vector<Entity*> holders = Referents(node);
    // The references may have changed while the menu was open; then the choice names nothing.
    if (choice < 0 || static_cast<size_t>(choice) >= holders.size() ||
        holders.size() != item.items.size() ||
        holders[static_cast<size_t>(choice)]->GetDisplayName() !=
            item.items[static_cast<size_t>(choice)].label) {
        return;
    }
    SendSignal("selectnode", holders[static_cast<size_t>(choice)], true);
}

// 8: Call function -------------------------------------------------------------------------------

// The class's methods, inherited first, without the handlers that only answer a signal.
std::vector<const MethodInfo*> CallableMethods(const Node& node) {
    std::vector<const MethodInfo*> methods;
    if (const ClassInfo* classInfo = node.GetClass()) {
        for (int index = 0; index < classInfo->GetMethodCount(); ++index) {
            const MethodInfo* method = classInfo->GetMethod(index);
            if (method && method->GetCallFlags() != MethodClassSignal) {
                methods.push_back(method);
            }
        }
    }
    return methods;
}

bool BuildCallFunction(Node& node, NodeMenuItem& item) {
    item.label = "Call function";
    for (const MethodInfo* method : CallableMethods(node)) {
        item.items.push_back({std::string(method->GetName()) + method->GetSignatureText(),
                              false,
                              method->GetArgumentCount() == 0,
                              {},
                              {}});
    }
    item.enabled = !item.items.empty();
    return true;
}

void CallFunction(Node& node, int choice, const NodeMenuItem&) {
    const std::vector<const MethodInfo*> methods = CallableMethods(node);
    if (choice < 0 || static_cast<size_t>(choice) >= methods.size()) {
        return;
    }
    const MethodInfo* method = methods[static_cast<size_t>(choice)];
    if (method->GetArgumentCount() != 0) {
        return;
    }
    std::vector<uint32_t> block(
        static_cast<size_t>(std::max(method->GetReturnWords(), 1)) + MaxValueWords, 0u);
    method->Call(&node, block.data());
}

} // namespace

void RegisterEditorNodeMenuEntries() {
    static constexpr NodeMenuEntry Entries[] = {
        {BuildAddChild, AddChild},         {BuildConvert, Convert},
        {BuildOpenResource, OpenResource}, {BuildInsertSubtree, InsertSubtree},
        {BuildMergeSubtree, DoNothing},    {BuildSaveSubtree, SaveSubtree},
        {BuildMirrorSubtree, DoNothing},   {BuildReferents, SelectReferent},
        {BuildCallFunction, CallFunction},
    };
    for (const NodeMenuEntry& entry : Entries) {
        RegisterNodeMenuEntry(entry);
    }
}

} // namespace quarn
