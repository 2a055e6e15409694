#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

// One recorded editing step: its name and the whole scene as Undo and as Redo restore it.
struct UndoStep {
    std::string label;
    std::string undoState;
    std::string redoState;
};

// The editor's list of undoable steps. Each state is the scene in its text form; replaying one
// creates, deletes or converts the nodes it names and writes only the properties whose text
// differs, so unchanged nodes hear nothing.
class UndoHistory {
public:
    // Steps back over steps[position - 1]; nothing at position 0. Either step leaves the
    // scene changed since it was last saved.
    void Undo();
    // Steps forward over steps[position]; nothing at the count.
    void Redo();
    // Empty when there is no such step.
    std::string GetUndoLabel() const;
    std::string GetRedoLabel() const;

    // Current state := the tree under the scene root, root included, branches with their
    // content and ids as raw numbers.
    void CaptureScene();
    // Replays a scene text onto the live tree in two passes: which nodes exist and of which
    // class, then the property values. The scene root is never deleted, and a converted root
    // stays the scene root.
    void ApplyState(const std::string& state);

    // Records a step done just now: its undo state is the current state, its redo state a
    // fresh capture; the steps beyond the position go. Ignored without a scene, while the game
    // runs or while a state is applied, as nothing the user did is being changed then.
    void RecordStep(const char* label);
    // A scene was opened: no steps, the current state captured.
    void Restart();

    bool HasUnsavedChanges() const { return unsaved_; }
    void SetUnsavedChanges(bool unsaved) { unsaved_ = unsaved; }
    bool IsApplying() const { return applying_; }
    int GetPosition() const { return position_; }
    int GetStepCount() const { return static_cast<int>(steps_.size()); }
    const std::string& GetCurrentState() const { return currentState_; }

    // Called after every step, undo and redo: the shell's menu texts, title and toolbar.
    using MenuRefresh = void (*)();
    void SetMenuRefresh(MenuRefresh refresh) { menuRefresh_ = refresh; }

private:
    void RefreshMenu() const;

    bool applying_ = false;
    std::vector<UndoStep> steps_;
    int position_ = 0;
    std::string currentState_;
    bool unsaved_ = false;
    MenuRefresh menuRefresh_ = nullptr;
};

// The editor's one history, or null: the player installs none, and every caller skips its
// step then.
UndoHistory* GetUndoHistory();
void SetUndoHistory(UndoHistory* history);

} // namespace quarn
