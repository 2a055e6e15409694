#include "app/editor/UndoRecording.h"

#include "app/editor/EditorMenus.h"
#include "app/player/SceneCommands.h"
#include "core/object/Entity.h"
#include "core/object/Signals.h"
#include "editor/UndoHistory.h"

#include <cstring>
#include <memory>

namespace quarn {

namespace {

std::unique_ptr<UndoHistory> editorHistory;
// The observer that was there before ours (the selection's), still told of every signal.
SignalObserver chainedObserver = nullptr;

void ObserveSignal(const char* name, void* argument, bool force) {
    if (chainedObserver) {
        chainedObserver(name, argument, force);
    }
    UndoHistory* history = GetUndoHistory();
    if (!history || !argument || std::strcmp(name, "addundolabel") != 0) {
        return;
    }
    const auto& args = *static_cast<const SignalArgs*>(argument);
    if (args.GetCount() < 2) {
        return;
    }
    // The entity may refuse the step: a closed branch follows its file, so it is neither
    // centred nor saved as an editing step.
    const auto* entity = static_cast<const Entity*>(args.Get(0));
    const auto* label = static_cast<const char*>(args.Get(1));
    if (!entity || entity->AcceptsUndoLabel(label)) {
        history->RecordStep(label);
    }
}

} // namespace

void InstallUndoHistory() {
    editorHistory = std::make_unique<UndoHistory>();
    editorHistory->SetMenuRefresh(RefreshMainMenu);
    SetUndoHistory(editorHistory.get());
}

void FollowUndoLabels() {
    if (GetSignalObserver() != ObserveSignal) {
        chainedObserver = GetSignalObserver();
        SetSignalObserver(ObserveSignal);
    }
}

void RemoveUndoHistory() {
    if (GetSignalObserver() == ObserveSignal) {
        SetSignalObserver(chainedObserver);
        chainedObserver = nullptr;
    }
    SetUndoHistory(nullptr);
    editorHistory.reset();
}

} // namespace quarn
