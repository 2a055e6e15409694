#include "render/LightBakeSettings.h"

namespace quarn {

namespace {
const LightBakeSettings* installed = nullptr;
} // namespace

const LightBakeSettings* GetLightBakeSettings() {
    return installed;
}

void SetLightBakeSettings(const LightBakeSettings* settings) {
    installed = settings;
}

} // namespace quarn
