#include "editor/EditorSelectionSet.h"

#include "core/filesystem/SettingsFile.h"
#include "core/object/IdPath.h"
#include "core/object/Signals.h"
#include "core/scene/Node.h"

#include <algorithm>
#include <cstring>

namespace quarn {

namespace {

EditorSelectionSet* following = nullptr;

void FollowSelectionSignals(const char* name, void* argument, bool) {
    if (following) {
        following->FollowSignal(name, argument);
    }
}

Node* NodeOf(void* argument) {
    return dynamic_cast<Node*>(static_cast<Entity*>(argument));
}

} // namespace

void EditorSelectionSet::Prune() const {
    if (destroyedSeen_ != Entity::GetDestroyedCount()) {
        destroyedSeen_ = Entity::GetDestroyedCount();
        std::erase_if(entries_, [this](const Entry& entry) {
            if (IsAlive(entry.serial)) {
                return false;
            }
            serials_.erase(entry.serial);
            return true;
        });
    }
}

void EditorSelectionSet::Tidy() const {
    Prune();
    if (!ordered_) {
        // Serials break ties: a released id is never handed out again, yet two entries may
        // still meet on one id while a node takes over another's.
        std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
            return a.id != b.id ? a.id < b.id : a.serial < b.serial;
        });
        ordered_ = true;
    }
}

int EditorSelectionSet::GetCount() const {
    Tidy();
    return static_cast<int>(entries_.size());
}

Node* EditorSelectionSet::GetAt(int index) const {
    Tidy();
    if (index < 0 || index >= static_cast<int>(entries_.size())) {
        return nullptr;
    }
    return FindLiveNode(entries_[static_cast<size_t>(index)].serial);
}

void EditorSelectionSet::Add(Node* node) {
    if (!node) {
        return;
    }
    const uint64_t serial = node->GetSerial();
    const uint32_t id = node->GetId();
    if (serials_.insert(serial).second) {
        entries_.push_back({id, serial});
        ordered_ = false;
    }
    // A listener of the flags may delete the node: it is looked up again after.
    node->SetFlag(NodeSelected, true);
    Prune();
    if (entries_.size() == 1 && entries_.front().serial == serial) {
        lastSelected_.SetId(id);
    }
    ++changes_;
    SendSignal("selectionhaschanged", static_cast<Entity*>(FindLiveNode(serial)), true);
    SaveSelectionSettings();
}

void EditorSelectionSet::Clear() {
    Tidy();
    std::vector<Entry> cleared;
    cleared.swap(entries_);
    serials_.clear();
    ordered_ = true;
    lastSelected_.SetId(0);
    ++changes_;
    // Flag listeners may run anything; the set is already empty by then.
    for (const Entry& entry : cleared) {
        if (Node* node = FindLiveNode(entry.serial)) {
            node->SetFlag(NodeSelected, false);
        }
    }
    SendSignal("selectionhaschanged", nullptr, true);
}

Node* EditorSelectionSet::GetLastSelected() const {
    return dynamic_cast<Node*>(lastSelected_.GetTarget());
}

void EditorSelectionSet::SaveSelectionSettings() {
    SettingsFile* settings = host_ ? host_->GetUserSettings() : nullptr;
    if (!settings) {
        return;
    }
    settings->SetString("lastscene", host_->GetScenePath().c_str());
    const Node* last = GetLastSelected();
    const std::string path = last ? IdPath::FromId(last->GetId(), 0).Format() : std::string();
    settings->SetString("lastselected", path.c_str());
}

void EditorSelectionSet::FollowSignal(const char* name, void* argument) {
    if (std::strcmp(name, "selectnode") == 0) {
        // The clear's receivers may delete the node.
        const Node* node = NodeOf(argument);
        const uint64_t serial = node ? node->GetSerial() : 0;
        Clear();
        Add(FindLiveNode(serial));
    } else if (std::strcmp(name, "selectnodealso") == 0) {
        Add(NodeOf(argument));
    }
}

void InstallEditorSelection(EditorSelectionSet* selection) {
    following = selection;
    SetSelectionSet(selection);
    SetSignalObserver(selection ? FollowSelectionSignals : nullptr);
}

} // namespace quarn
