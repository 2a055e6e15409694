#pragma once

#include "core/math/Vector.h"
#include "render/LightBakeSettings.h"

#include <vector>

namespace quarn {

class Light;
class PickQuery;
class RenderObject;

// The light of one lightmap texel: the valid supersamples of the installed pattern averaged,
// with the summed validity as the fourth value. `s1`, `s2` are the texel's spreads along U and
// V, `edgeMask` its LightEdgeBits. Requires installed settings.
Float4 GatherLightSum(const Float3& point, const Float3& normal, const Float3& u, const Float3& v,
                      float s1, float s2, uint32_t edgeMask, RenderObject* own);
// The light at one point (red, green, blue, validity). Requires installed settings.
Float4 EvaluateLightSample(const Float3& point, const Float3& normal, const Float3& u,
                           const Float3& v, RenderObject* own);

struct Occluder {
    RenderObject* object;
    float key; // distance from the point to the object's world box
};
// Rebuilds the point's occluders (nearest first) and static lights.
void CollectOccluders(const Float3& point, const Float3& normal, RenderObject* own);
// Casts through the collected occluders, stopping once the next box lies beyond the nearest hit.
bool CastOccluderRay(const Float3& origin, const Float3& direction, PickQuery& query);
const std::vector<Occluder>& CollectedOccluders();
const std::vector<Light*>& CollectedLights();

// The scene's light for the bakers' sampler seam.
class SceneLightSampler : public LightSampler {
public:
    Float4 EvaluateLightSample(const Float3& point, const Float3& normal, const Float3& u,
                               const Float3& v, RenderObject* own) override;
    Float4 GatherLightSum(const Float3& point, const Float3& normal, const Float3& u,
                          const Float3& v, float s1, float s2, uint32_t edgeMask,
                          RenderObject* own) override;
};

} // namespace quarn
