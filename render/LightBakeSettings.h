#pragma once

#include "core/math/Vector.h"

#include <cstdint>

namespace quarn {

class RenderObject;

// Bits of LightBakeSettings::flags that the bakers read.
enum LightBakeFlags : uint32_t {
    LightBakeCornerSamples = 0x8, // vertex bakes: three more samples at every corner
    LightBakeAdaptive = 0x400,    // more samples where the first found no light
};

// Answers the light reaching one point of a surface: red, green, blue and a validity (0: the
// sample found nothing to go by and counts for nothing). `own` is the drawable being baked, or
// null.
class LightSampler {
public:
    virtual ~LightSampler() = default;
    virtual Float4 EvaluateLightSample(const Float3& point, const Float3& normal, const Float3& u,
                                       const Float3& v, RenderObject* own) = 0;
};

// The settings of a light bake. Nothing installs any yet, so bakes take no samples and leave
// each baker's fixed colour; a bake tool installs them for the length of its run.
struct LightBakeSettings {
    uint32_t flags = 0;
    float offsetDistance = 0.0f; // samples are lifted this far off the surface
    float texelSpacing = 1.0f;   // world units per lightmap texel
    LightSampler* sampler = nullptr;
};

// The installed settings (not owned), or null.
const LightBakeSettings* GetLightBakeSettings();
void SetLightBakeSettings(const LightBakeSettings* settings);

} // namespace quarn
