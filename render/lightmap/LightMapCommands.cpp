#include "render/lightmap/LightMapCommands.h"

#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/Signals.h"
#include "core/os/HeldMemory.h"
#include "core/scene/Node.h"
#include "core/scene/SelectionSet.h"
#include "device/DrawBufferShare.h"
#include "render/LightBakeSettings.h"
#include "render/RenderObject.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace quarn {

namespace {

bool IsBranch(const Node& node) {
    return std::strcmp(node.GetClass()->GetName(), "Branch") == 0;
}

// The bytes of the lightmaps the selection's nodes would make under the installed settings.
uint64_t SelectionLightMapBytes() {
    const SelectionSet& selection = *GetSelectionSet();
    uint64_t bytes = 0;
    for (int i = 0; i < selection.GetCount(); ++i) {
        if (const RenderObject* object = AsRenderObject(selection.GetAt(i))) {
            bytes += object->GetLightMapBytes();
        }
    }
    return bytes;
}

// The same at texel spacing d.
uint64_t SelectionLightMapBytesAt(float d) {
    const LightBakeSettings* installed = GetLightBakeSettings();
    LightBakeSettings trial = installed ? *installed : LightBakeSettings{};
    trial.texelSpacing = d;
    SetLightBakeSettings(&trial);
    const uint64_t bytes = SelectionLightMapBytes();
    SetLightBakeSettings(installed);
    return bytes;
}

// The smallest spacing, to three figures, at which the selection's lightmaps take at most
// `bound` bytes; 0 when none does.
float SpacingThatFits(float asked, uint64_t bound) {
    // Wider spacing never asks for more texels: double until it fits, then halve the gap.
    float low = asked;
    float high = asked;
    do {
        low = high;
        high *= 2.0f;
        if (!std::isfinite(high)) {
            return 0.0f;
        }
    } while (SelectionLightMapBytesAt(high) > bound);
    for (int i = 0; i < 32; ++i) {
        const float middle = low + (high - low) * 0.5f;
        (SelectionLightMapBytesAt(middle) > bound ? low : high) = middle;
    }
    const double figure = std::pow(10.0, std::floor(std::log10(double(high))) - 2.0);
    float rounded = static_cast<float>(std::ceil(double(high) / figure) * figure);
    while (SelectionLightMapBytesAt(rounded) > bound) {
        rounded = static_cast<float>(double(rounded) + figure);
    }
    return rounded;
}

// Whether the selection's lightmaps fit LightMapByteBound(); a line names the spacing that
// fits when they do not.
bool SelectionLightMapsFit() {
    const uint64_t bound = LightMapByteBound();
    const uint64_t bytes = SelectionLightMapBytes();
    if (bytes <= bound) {
        return true;
    }
    const LightBakeSettings* installed = GetLightBakeSettings();
    const float asked = installed ? installed->texelSpacing : 1.0f;
    const float fits = asked > 0.0f ? SpacingThatFits(asked, bound) : 0.0f;
    char spacing[64] = "no spacing fits";
    if (fits > 0.0f) {
        std::snprintf(spacing, sizeof spacing, "spacing %g fits", double(fits));
    }
    LogMessage("No lightmap was made: at spacing %g those of the %d nodes would take %llu "
               "bytes, past the %llu a bake may ask for; %s",
               double(asked), GetSelectionSet()->GetCount(), static_cast<unsigned long long>(bytes),
               static_cast<unsigned long long>(bound), spacing);
    return false;
}

// Selects the lightmapped nodes as the command asks, runs the method on them and logs the
// count; -1 without a selection set. A command that makes lightmaps first checks that they
// fit: LightMapsRefused when they do not.
int RunLightMapCommand(bool includeBranches, const char* method, const char* done,
                       bool makesLightMaps) {
    if (!GetSelectionSet()) {
        return -1;
    }
    const int count = SelectLightMappedNodes(includeBranches);
    if (makesLightMaps && !SelectionLightMapsFit()) {
        return LightMapsRefused;
    }
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

uint64_t LightMapByteBound() {
    return std::min<uint64_t>(GetMemoryBudget(), DrawBufferShare::SceneByteLimit);
}

int CreateLightMaps() {
    return RunLightMapCommand(false, "CreateLightMap", "created", true);
}

int InitLightMaps() {
    return RunLightMapCommand(true, "InitLightMap", "initialized", true);
}

int UpdateLightMaps() {
    const int count = RunLightMapCommand(true, "UpdateLightMap", "updated", true);
    if (count >= 0 && PlatformFlashWindow) {
        PlatformFlashWindow();
    }
    return count;
}

int SaveLightMaps() {
    return RunLightMapCommand(true, "SaveLightMap", "saved", false);
}

} // namespace quarn
