#include "editor/UndoHistory.h"

#include "core/io/BufferFile.h"
#include "core/io/GrowingOutputStream.h"
#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "core/object/EntityRef.h"
#include "core/object/IdMap.h"
#include "core/object/IdPath.h"
#include "core/object/Property.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "core/scenefile/ClassReplacement.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneSaver.h"
#include "core/scenefile/SceneTextFormat.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_set>

namespace quarn {

namespace {

UndoHistory* installedHistory = nullptr;

// Defaults too: a value changed away from its default must come back on Undo.
constexpr uint32_t CaptureFlags =
    SceneWriteRoot | SceneIncludeBranches | SceneRawIds | SceneWriteDefaults;
// A node keeps its own expanded (0x10) and selected (0x40) bits whatever the state says.
constexpr uint32_t OwnFlagBits = 0x50;

Entity* LookupStoredEntity(const std::string& idText) {
    IdPath path;
    if (!path.Parse(idText.c_str())) {
        return nullptr;
    }
    return LookupEntity(path.ToId());
}

uint32_t StoredId(const std::string& idText) {
    IdPath path;
    return path.Parse(idText.c_str()) ? path.ToId() : 0u;
}

// First pass for one block: the node with the stored id exists, and is of the stored class
// where a class by that name can make one.
void SettleNode(const std::string& idText, const std::string& className) {
    if (!className.empty() && className[0] == '.') {
        return; // no class line: the block only writes properties
    }
    Entity* entity = LookupStoredEntity(idText);
    ClassInfo* classInfo = FindClass(className.c_str());
    if (entity) {
        if (className == entity->GetClass()->GetName()) {
            return;
        }
        const bool isRoot = entity == GetSceneRoot();
        if (!classInfo) {
            // The view draws from the scene root each frame: it must never dangle.
            if (!isRoot) {
                entity->Delete();
            }
            return;
        }
        auto* node = dynamic_cast<Node*>(entity);
        if (node && (classInfo->GetFlags() & ClassNative)) {
            Node* replaced = ReplaceNodeClass(*node, *classInfo, true);
            if (isRoot && replaced) {
                TheIdMap().SetSceneRoot(0, replaced);
            }
        }
        return;
    }
    const uint32_t id = StoredId(idText);
    if (!classInfo || id == 0) {
        return;
    }
    if (Entity* created = classInfo->CreateInstance()) {
        created->TakeOverId(id);
    }
}

// The live value as the state text holds it: references as the raw id.
std::string LiveText(const Entity& entity, const Property& property) {
    if (property.GetKind() != KindRef) {
        return property.GetAsText(entity);
    }
    uint32_t words[4] = {};
    property.ReadValue(entity, words);
    return std::to_string(words[0]);
}

void WriteStoredValue(Entity& entity, const Property& property, const std::string& key,
                      const std::string& stored) {
    const std::string live = LiveText(entity, property);
    if (live == stored) {
        return; // unchanged: its listeners hear nothing
    }
    if (key == "flags") {
        uint32_t words[4] = {};
        property.ReadValue(entity, words);
        const auto storedFlags = static_cast<uint32_t>(std::strtoll(stored.c_str(), nullptr, 10));
        const uint32_t merged = (storedFlags & ~OwnFlagBits) | (words[0] & OwnFlagBits);
        const std::string text = std::to_string(static_cast<int32_t>(merged));
        if (text != live) {
            property.SetFromText(entity, text.c_str());
        }
        return;
    }
    if (property.GetKind() == KindRef) {
        uint32_t words[4] = {static_cast<uint32_t>(std::strtoull(stored.c_str(), nullptr, 10))};
        property.WriteValue(entity, words);
        return;
    }
    property.SetFromText(entity, stored.c_str());
}

// The id texts of a state's blocks, in order.
std::vector<std::string> StoredIds(const std::string& state) {
    TextFile file(state.c_str());
    SceneTextReader reader;
    reader.Begin(file, "", nullptr);
    std::vector<std::string> ids;
    std::string idText;
    while (reader.NextObject() && reader.ReadObject(idText, nullptr)) {
        ids.push_back(idText);
    }
    return ids;
}

// A replay leaves the nodes a state does not mention alone, so a state must name those its
// other side has and it has not: a block of a class that no class can have deletes them.
void NameMissingNodes(std::string& state, const std::vector<std::string>& present,
                      const std::vector<std::string>& other) {
    const std::unordered_set<std::string> known(present.begin(), present.end());
    for (const std::string& id : other) {
        if (!known.count(id)) {
            state += "obj" + id + " {\n\tclass = \"\"\n}\n";
        }
    }
}

} // namespace

UndoHistory* GetUndoHistory() {
    return installedHistory;
}

void SetUndoHistory(UndoHistory* history) {
    installedHistory = history;
}

void UndoHistory::Undo() {
    if (position_ <= 0) {
        return;
    }
    --position_;
    ApplyState(steps_[static_cast<size_t>(position_)].undoState);
    CaptureScene();
    // The scene may no longer be what was saved: a close must ask rather than drop it.
    unsaved_ = true;
    RefreshMenu();
}

void UndoHistory::Redo() {
    if (position_ >= GetStepCount()) {
        return;
    }
    ApplyState(steps_[static_cast<size_t>(position_)].redoState);
    CaptureScene();
    ++position_;
    unsaved_ = true;
    RefreshMenu();
}

std::string UndoHistory::GetUndoLabel() const {
    return position_ >= 1 ? steps_[static_cast<size_t>(position_ - 1)].label : std::string();
}

std::string UndoHistory::GetRedoLabel() const {
    return position_ < GetStepCount() ? steps_[static_cast<size_t>(position_)].label
                                      : std::string();
}

void UndoHistory::CaptureScene() {
    Node* root = GetSceneRoot();
    if (!root) {
        currentState_.clear();
        return;
    }
    GrowingOutputStream stream;
    // The scene rarely changes much between two captures; the estimate only caps the guess.
    stream.Reserve(std::min<size_t>(currentState_.size(), EstimateSceneTextSize()));
    SceneTextWriter writer;
    writer.Begin(stream, "", 0);
    WriteNodeTree(writer, *root, 0, CaptureFlags);
    writer.Finish();
    currentState_ = stream.TakeText();
}

void UndoHistory::ApplyState(const std::string& state) {
    applying_ = true;
    TextFile file(state.c_str());
    SceneTextReader reader;
    reader.Begin(file, "", nullptr);
    // A branch takes its content from the state, as from a scene that holds it.
    EngineStateScope scope(EngineLoadingScene);
    SceneLoadIncludesBranches = true;

    std::string idText;
    std::string className;
    while (reader.NextObject()) {
        // Assigned as one character: GCC's release build misreads a literal's copy as overlapping.
        className.assign(1, '.');
        if (!reader.ReadObject(idText, &className)) {
            break;
        }
        SettleNode(idText, className);
    }
    reader.Rewind();

    std::string key;
    std::string value;
    while (reader.NextObject()) {
        if (!reader.ReadObject(idText, nullptr)) {
            break;
        }
        Entity* entity = LookupStoredEntity(idText);
        const uint64_t serial = entity ? entity->GetSerial() : 0;
        // The lines a node keeps for the save are the state's, as its properties are.
        auto* node = dynamic_cast<Node*>(entity);
        if (HeldSceneLines* held = node ? node->GetHeldLines() : nullptr) {
            held->Clear();
        }
        // A setter may delete the node; the next block's search passes over the rest of its own.
        // The block's class line was read with its header: a "class" here is a property (a
        // script's public variable may have the name).
        while (entity && IsAlive(serial) && reader.ReadProperty(*entity, key, value)) {
            const Property* property = entity->FindProperty(key.c_str());
            if (!property) {
                property = entity->FindCustomProperty(key.c_str());
            }
            if (property) {
                WriteStoredValue(*entity, *property, key, value);
            } else if (HeldSceneLines* held = node ? node->GetHeldLines() : nullptr) {
                held->lines.push_back({key, value, reader.LastValueQuoted()});
            }
        }
    }
    applying_ = false;
}

void UndoHistory::RecordStep(const char* label) {
    if (!GetSceneRoot() || GameRunning || applying_) {
        return;
    }
    UndoStep step;
    step.label = label ? label : "";
    step.undoState = std::move(currentState_);
    CaptureScene();
    step.redoState = currentState_;
    const std::vector<std::string> before = StoredIds(step.undoState);
    const std::vector<std::string> after = StoredIds(step.redoState);
    NameMissingNodes(step.undoState, before, after);
    NameMissingNodes(step.redoState, after, before);
    steps_.resize(static_cast<size_t>(position_));
    steps_.push_back(std::move(step));
    position_ = GetStepCount();
    unsaved_ = true;
    RefreshMenu();
}

void UndoHistory::Restart() {
    steps_.clear();
    position_ = 0;
    currentState_.clear();
    CaptureScene();
}

void UndoHistory::RefreshMenu() const {
    if (menuRefresh_) {
        menuRefresh_();
    }
}

} // namespace quarn
