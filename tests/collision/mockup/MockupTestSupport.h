#pragma once

#include "render/LightBakeSettings.h"

#include <map>

namespace quarn::test {

// Answers a light that varies linearly over space, so a lightmap read back anywhere on a
// mockup shows whether the texels sit where the fill put them; counts the samples per node.
class LinearLight : public LightSampler {
public:
    Float4 EvaluateLightSample(const Float3& p, const Float3&, const Float3&, const Float3&,
                               RenderObject* own) override {
        ++samples[own];
        return At(p);
    }
    static Float4 At(const Float3& p) {
        return {0.5f + 0.1f * p.x, 0.5f + 0.1f * p.y, 0.5f + 0.1f * p.z, 1.0f};
    }
    std::map<RenderObject*, int> samples;
};

} // namespace quarn::test
