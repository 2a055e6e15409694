#include "core/scenefile/SceneVersionUpgrade.h"

#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneFormat.h"

#include <algorithm>
#include <cstring>

namespace quarn {

const char* MapLegacyClassName(const char* className, int32_t fileVersion) {
    if (!className) {
        return "";
    }
    if (fileVersion < 44) {
        static const char* const renamed[][2] = {
            {"SoundSource", "SoundEmitter"},
            {"Joint2D", "JointPin2D"},
            {"Profiler", "OnlineProfiler"},
        };
        for (const auto& pair : renamed) {
            if (std::strcmp(className, pair[0]) == 0) {
                return pair[1];
            }
        }
    }
    if (fileVersion < 25 && std::strcmp(className, "Layer") == 0) {
        return "ContainerBox";
    }
    return className;
}

void UpgradeNodeVersion(int32_t fileVersion, Node& node) {
    EngineStateScope loading(EngineLoading);
    const uint64_t serial = node.GetSerial();
    for (int32_t version = std::max(fileVersion, 0);
         version < SceneFormatVersion && IsAlive(serial); ++version) {
        node.UpgradeVersion(version);
    }
}

} // namespace quarn
