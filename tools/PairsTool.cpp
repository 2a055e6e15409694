#include "tools/PairsTool.h"

#include "collision/CollisionSpace.h"
#include "collision/CollisionVolume.h"
#include "core/scene/Node.h"
#include "device/GpuRenderDevice.h"
#include "tools/ToolScene.h"
#include "tools/ToolStatus.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace quarn {

namespace {

std::vector<std::string> found;

void RecordPair(void*, CollisionVolume& a, CollisionVolume& b) {
    const auto names = std::minmax(a.GetName(), b.GetName());
    found.push_back(names.first + " " + names.second);
}

} // namespace

int RunPairsTool(char** arguments, std::string& reason) {
    const std::string scene = arguments[0];
    const std::unique_ptr<GpuRenderDevice> device = MakeToolDevice(reason);
    if (!device) {
        return ExitFailed;
    }
    Node* root = LoadToolScene(scene, reason);
    if (!root) {
        return ExitFailed;
    }
    std::vector<CollisionSpace*> spaces;
    std::vector<CollisionVolume*> volumes;
    for (Node* node = root; node; node = NextInSubtree(node, root, true)) {
        if (auto* space = dynamic_cast<CollisionSpace*>(node)) {
            spaces.push_back(space);
        } else if (auto* volume = dynamic_cast<CollisionVolume*>(node)) {
            volumes.push_back(volume);
        }
    }
    // Each volume joins the first space of its number, as a physics world files them.
    for (CollisionVolume* volume : volumes) {
        if (volume->HasCollFlags(CollOutsideSpaces)) {
            continue;
        }
        const auto space = std::find_if(spaces.begin(), spaces.end(), [&](CollisionSpace* s) {
            return s->GetSpaceNum() == volume->GetSpaceNum();
        });
        if (space != spaces.end()) {
            (*space)->AddVolume(*volume);
        }
    }
    for (CollisionSpace* space : spaces) {
        found.clear();
        space->Prepare();
        space->Collide(nullptr, RecordPair);
        std::sort(found.begin(), found.end());
        std::printf("space %s\n", space->GetName().c_str());
        for (const std::string& line : found) {
            std::printf("%s\n", line.c_str());
        }
        std::printf("dropped %llu\n", static_cast<unsigned long long>(space->GetDroppedPairCount()));
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        reason = "cannot write to stdout";
        return ExitFailed;
    }
    return ExitDone;
}

} // namespace quarn
