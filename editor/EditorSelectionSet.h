#pragma once

#include "core/object/EntityRef.h"
#include "core/scene/SelectionSet.h"

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace quarn {

class SettingsFile;

// What the selection reads of the editor's shell to remember itself across runs.
class SelectionSettingsHost {
public:
    virtual ~SelectionSettingsHost() = default;
    // Null when the run keeps no user settings.
    virtual SettingsFile* GetUserSettings() = 0;
    virtual std::string GetScenePath() = 0;
};

// The editor's selected nodes, in entity-id order: an order that is the same in every run,
// where addresses would differ. Nodes are held by serial, so a node deleted while selected
// (by a script, a load) leaves the set before anything counts or walks it.
class EditorSelectionSet : public SelectionSet {
public:
    // The host is not owned; null remembers nothing.
    explicit EditorSelectionSet(SelectionSettingsHost* host = nullptr) : host_(host) {}

    int GetCount() const override;
    Node* GetAt(int index) const override;
    // Selects the node (flag NodeSelected) and sends "selectionhaschanged" with it, forced,
    // even when it was selected already; the node becomes the last selected one when it is
    // alone in the set.
    void Add(Node* node) override;
    // Deselects every node and sends "selectionhaschanged" without argument, forced.
    void Clear() override;

    // Grows by one on every Add and Clear.
    uint32_t GetChangeCount() const { return changes_; }
    Node* GetLastSelected() const;
    // "lastscene" and "lastselected" (the id path of the last selected node) in the user
    // settings, in memory only.
    void SaveSelectionSettings();

    // "selectnode" replaces the selection with its node (none: empties it), "selectnodealso"
    // adds its node; other signals are not the selection's.
    void FollowSignal(const char* name, void* argument);

private:
    struct Entry {
        uint32_t id;
        uint64_t serial;
    };
    // Drops the entries of deleted nodes; cheap when no entity was destroyed since.
    void Prune() const;
    // Prunes, and sorts after additions.
    void Tidy() const;

    mutable std::vector<Entry> entries_;
    mutable std::unordered_set<uint64_t> serials_;
    mutable bool ordered_ = true;
    mutable uint64_t destroyedSeen_ = 0;
    EntityRef lastSelected_;
    uint32_t changes_ = 0;
    SelectionSettingsHost* host_;
};

// Installs the set as the process's selection and lets it follow the selection signals; null
// removes both. Not owned.
void InstallEditorSelection(EditorSelectionSet* selection);

} // namespace quarn
