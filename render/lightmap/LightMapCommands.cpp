#include "render/lightmap/LightMapCommands.h"

#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/Signals.h"
#include "core/scene/Node.h"
#include "core/scene/SelectionSet.h"

#include <cstring>

namespace quarn {

namespace {

bool IsBranch(const Node& node) {
    return std::strcmp(node.GetClass()->GetName(), "Branch") == 0;
}

// Selects the lightmapped nodes as the command asks, runs the method on them and logs the
// count; -1 without a selection set.
int RunLightMapCommand(bool includeBranches, const char* method, const char* done) {
    if (!GetSelectionSet()) {
        return -1;
    }
    const int count = SelectLightMappedNodes(includeBranches);
    CallMethodOnSelection(method);
    LogMessage("%d lightmaps were %s", count, done);
    return count;
}

} // namespace

void SelectClassInSubtree(Node* node, const ClassInfo* classInfo, bool includeBranches) {
    SelectionSet* selection = GetSelectionSet();
    if (!selection || !node || !classInfo) {
        return;
    }
    // Iterative: scenes may nest far deeper than the stack would allow.
    for (Node* walk = node; walk;) {
        if (walk != node && !includeBranches && IsBranch(*walk)) {
            walk = NextInSubtree(walk, node, false);
            continue;
        }
        if (walk->CastTo(classInfo)) {
            selection->Add(walk);
        }
        walk = NextInSubtree(walk, node, true);
    }
}

int SelectLightMappedNodes(bool includeBranches) {
    SelectionSet* selection = GetSelectionSet();
    if (!selection) {
        return 0;
    }
    if (selection->GetCount() == 1) {
        Node* root = selection->GetAt(0);
        selection->Clear();
        for (const char* name : {"MockupBox", "MockupCylinder", "Model"}) {
            if (ClassInfo* classInfo = FindClass(name)) {
                SelectClassInSubtree(root, classInfo, includeBranches);
            }
        }
    }
    return selection->GetCount();
}

void CallMethodOnSelection(const char* method) {
    SelectionSet* selection = GetSelectionSet();
    if (!selection) {
        return;
    }
    for (int i = 0; i < selection->GetCount(); ++i) {
        if (Node* node = selection->GetAt(i)) {
            CallEntityMethod(node, method, nullptr);
        }
    }
}

int CreateLightMaps() {
    return RunLightMapCommand(false, "CreateLightMap", "created");
}

int InitLightMaps() {
    return RunLightMapCommand(true, "InitLightMap", "initialized");
}

int UpdateLightMaps() {
    const int count = RunLightMapCommand(true, "UpdateLightMap", "updated");
    if (count >= 0 && PlatformFlashWindow) {
        PlatformFlashWindow();
    }
    return count;
}

int SaveLightMaps() {
    return RunLightMapCommand(true, "SaveLightMap", "saved");
}

} // namespace quarn
