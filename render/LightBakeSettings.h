#pragma once

#include "core/math/Vector.h"

#include <cstdint>
#include <vector>

namespace quarn {

class RenderObject;

// Bits of LightBakeSettings::flags that the bakers read.
enum LightBakeFlags : uint32_t {
    LightBakeHemisphere = 0x1,    // gather the colour seen along the hemisphere directions
    LightBakeDirect = 0x2,        // direct light of the static lights
    LightBakeShadows = 0x4,       // shadow rays towards those lights
    LightBakeCornerSamples = 0x8, // vertex bakes: three more samples at every corner
    LightBakeLevelShift = 3,      // bits 3-4: the sample level 0-3 of a lightmap texel
    LightBakeNoSelfShadow = 0x200, // the surface's own node casts no shadow on itself
    LightBakeAdaptive = 0x400,    // more samples where the first found no light
};

// Bits of a texel's edge mask: the surface continues on that side of the texel.
enum LightEdgeBits : uint32_t {
    LightEdgePlusU = 0x1,
    LightEdgeMinusU = 0x2,
    LightEdgePlusV = 0x4,
    LightEdgeMinusV = 0x8,
};

// One supersample of a texel: offsets along U and V in half spreads, and the edge bits it needs.
struct LightSampleOffset {
    float a = 0.0f;
    float b = 0.0f;
    uint32_t unused = 0;
    uint32_t mask = 0;
};

// Answers the light reaching one point of a surface: red, green, blue and a validity (0: the
// sample found nothing to go by and counts for nothing). `own` is the drawable being baked, or
// null.
class LightSampler {
public:
    virtual ~LightSampler() = default;
    virtual Float4 EvaluateLightSample(const Float3& point, const Float3& normal, const Float3& u,
                                       const Float3& v, RenderObject* own) = 0;
    // The light of one lightmap texel, `s1` and `s2` its spreads along U and V and `edgeMask`
    // the sides where the surface goes on (LightEdgeBits). A sampler without supersampling
    // answers the sample at the point.
    virtual Float4 GatherLightSum(const Float3& point, const Float3& normal, const Float3& u,
                                  const Float3& v, float /*s1*/, float /*s2*/,
                                  uint32_t /*edgeMask*/, RenderObject* own) {
        return EvaluateLightSample(point, normal, u, v, own);
    }
};

// The settings of a light bake. Nothing installs any yet, so bakes take no samples and leave
// each baker's fixed colour; a bake tool installs them for the length of its run.
struct LightBakeSettings {
    uint32_t flags = 0;
    float offsetDistance = 0.0f; // samples are lifted this far off the surface
    float texelSpacing = 1.0f;   // world units per lightmap texel
    LightSampler* sampler = nullptr;
    // Surface space: x along U, y along V, z along the normal.
    std::vector<Float3> hemisphereDirections;
    std::vector<LightSampleOffset> samplePattern;
    // End indices into the pattern for the levels 0-3, not decreasing.
    uint32_t sampleEnds[4] = {0, 0, 0, 0};
};

// The installed settings (not owned), or null.
const LightBakeSettings* GetLightBakeSettings();
void SetLightBakeSettings(const LightBakeSettings* settings);

} // namespace quarn
