#include "render/lightmap/LightEvaluation.h"

#include "core/math/Color.h"
#include "core/math/Geometry.h"
#include "core/scene/Node.h"
#include "core/scene/Picking.h"
#include "render/Light.h"
#include "render/RenderObject.h"
#include "render/RenderTarget.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarn {

namespace {

constexpr uint32_t LightQueryFlags = PickCollisionVolumes | PickSolids | PickVisibleOnly |
                                     PickFaceMasks;
constexpr uint32_t SkipHemisphereFaceBit = 1u << 29;

// Kept between points so that a bake allocates only while the lists grow.
std::vector<Occluder>& Occluders() {
    static std::vector<Occluder> list;
    return list;
}
std::vector<Light*>& PointLights() {
    static std::vector<Light*> list;
    return list;
}

bool CastsShadowHere(RenderObject& object, const Float3& point, const Float3& normal) {
    if (!object.IsFullyEnabled() || !object.IsVisible()) {
        return false;
    }
    const int32_t mode = object.GetMatrixMode();
    if (mode == MatrixScreen || mode == MatrixViewSpace || Pivot::IsCameraDependent(mode)) {
        return false;
    }
    if (!object.TestRenderFlags(RenderCastShadows)) {
        return false;
    }
    const Aabb box = object.GetWorldBoundingBox();
    if (!box.min.IsFinite() || !box.max.IsFinite()) {
        return false;
    }
    const Float3 centre = (box.min + box.max) * 0.5f;
    const float radius = (box.max - box.min).Length() * 0.5f;
    return radius > (point - centre).Dot(normal);
}

// The background of escaping rays; without a target, black.
Float4 SkyColour() {
    RenderTarget* target = RenderTarget::GetMain();
    if (!target) {
        return Float4(0.0f, 0.0f, 0.0f, 1.0f);
    }
    const Float4 c = UnpackColor(target->GetBackgroundColor());
    return Float4(c.x, c.y, c.z, 1.0f);
}

// Colour over the hemisphere, or validity 0 when too few rays found anything to go by.
bool GatherHemisphere(const LightBakeSettings& settings, const Float3& point,
                      const Float3& normal, const Float3& u, const Float3& v, PickQuery& query,
                      Float4& colour) {
    const std::vector<Float3>& directions = settings.hemisphereDirections;
    if (directions.empty()) {
        return false;
    }
    const Float4 sky = SkyColour();
    Float3 rgb;
    float alpha = 0.0f;
    float weights = 0.0f;
    size_t valid = 0;
    for (const Float3& raw : directions) {
        const Float3 d = raw.NormalizedOrSelf();
        const float w = d.z;
        Float4 k = sky;
        const Float3 world = u * d.x + v * d.y + normal * d.z;
        query.Reset(PickQuery::DefaultMaxDistance);
        if (CastOccluderRay(point, world, query)) {
            const PickHit& hit = query.best;
            if (hit.distance == 0.0f || (static_cast<uint32_t>(hit.part) & SkipHemisphereFaceBit)) {
                continue;
            }
            if (RenderObject* object = AsRenderObject(hit.node)) {
                const Float4 c = object->GetColorRgba(point + world * hit.distance,
                                                      static_cast<uint32_t>(hit.part));
                k = Float4(std::max(c.x, 0.0f), std::max(c.y, 0.0f), std::max(c.z, 0.0f), 1.0f);
            }
        }
        ++valid;
        rgb = rgb + Float3(k.x, k.y, k.z) * w;
        alpha += k.w;
        weights += w;
    }
    if (weights == 0.0f || valid * 4 < directions.size() * 3) {
        return false;
    }
    if (weights > 0.0f) {
        colour = Float4(rgb.x / weights, rgb.y / weights, rgb.z / weights, alpha / weights);
    }
    return true;
}

bool Blocked(Light& light, const Float3& point, PickQuery& query) {
    Float3 target = light.GetWorldPosition();
    if (!light.HasPosition()) {
        // Directional light: up to the plane through its position across its -z axis.
        const Float3 a = light.LocalToWorldDirection(Float3(0.0f, 0.0f, -1.0f));
        target = point + a * a.Dot(target - point);
    }
    const Float3 toward = target - point;
    const float distance = toward.Length();
    if (!(distance > 0.0f)) {
        return false;
    }
    query.Reset(distance);
    return CastOccluderRay(point, toward * (1.0f / distance), query);
}

} // namespace

const std::vector<Occluder>& CollectedOccluders() {
    return Occluders();
}

const std::vector<Light*>& CollectedLights() {
    return PointLights();
}

void CollectOccluders(const Float3& point, const Float3& normal, RenderObject* own) {
    const LightBakeSettings& settings = *GetLightBakeSettings();
    std::vector<Occluder>& occluders = Occluders();
    occluders.clear();
    if (settings.flags != 0) {
        const bool skipOwn = settings.flags & LightBakeNoSelfShadow;
        Node* root = GetSceneRoot();
        for (Node* node = root; node; node = node->GetNextInTree(true)) {
            RenderObject* object = AsRenderObject(node);
            if (!object || (skipOwn && object == own) ||
                !CastsShadowHere(*object, point, normal)) {
                continue;
            }
            const float key = object->GetWorldBoundingBox().DistanceToPoint(point);
            if (std::isfinite(key)) {
                occluders.push_back({object, key});
            }
        }
        std::stable_sort(occluders.begin(), occluders.end(),
                         [](const Occluder& a, const Occluder& b) { return a.key < b.key; });
    }
    std::vector<Light*>& lights = PointLights();
    lights.clear();
    if (!(settings.flags & (LightBakeDirect | LightBakeShadows))) {
        return;
    }
    for (Light* light : Light::GetAllLights()) {
        if (!(light->GetLightFlags() & LightStatic) || !light->IsFullyEnabled()) {
            continue;
        }
        if (!light->HasPosition() ||
            !((light->GetWorldPosition() - point).Length() > light->GetRange())) {
            lights.push_back(light);
        }
    }
}

bool CastOccluderRay(const Float3& origin, const Float3& direction, PickQuery& query) {
    float best = std::numeric_limits<float>::max();
    bool hit = false;
    for (const Occluder& occluder : Occluders()) {
        if (best < occluder.key) {
            break;
        }
        query.current = PickHit();
        query.current.node = occluder.object;
        query.current.object = occluder.object;
        if (occluder.object->IntersectRay(origin, direction, query)) {
            query.KeepNearestHit();
            hit = true;
            best = query.maxDistance;
        }
    }
    return hit;
}

Float4 EvaluateLightSample(const Float3& point, const Float3& normal, const Float3& u,
                           const Float3& v, RenderObject* own) {
    const LightBakeSettings& settings = *GetLightBakeSettings();
    CollectOccluders(point, normal, own);
    PickQuery query;
    query.Init(PickQuery::DefaultMaxDistance, LightQueryFlags, 0, 0);
    Float4 colour;
    if ((settings.flags & LightBakeHemisphere) &&
        !GatherHemisphere(settings, point, normal, u, v, query, colour)) {
        return Float4();
    }
    if (settings.flags & LightBakeDirect) {
        for (Light* light : PointLights()) {
            const float f = light->GetInfluence(point, normal);
            if (f == 0.0f || std::isnan(f)) {
                continue;
            }
            if ((settings.flags & LightBakeShadows) && Blocked(*light, point, query)) {
                continue;
            }
            const Float4 c = UnpackColor(light->GetColor() | 0xFF000000u);
            colour = Float4(colour.x + c.x * f, colour.y + c.y * f, colour.z + c.z * f,
                            colour.w + c.w);
        }
    }
    return Float4(colour.x, colour.y, colour.z, 1.0f);
}

Float4 GatherLightSum(const Float3& point, const Float3& normal, const Float3& u, const Float3& v,
                      float s1, float s2, uint32_t edgeMask, RenderObject* own) {
    const LightBakeSettings& settings = *GetLightBakeSettings();
    const Float3 lifted = point + normal * settings.offsetDistance;
    const auto patternSize = static_cast<uint32_t>(settings.samplePattern.size());
    uint32_t ends[4];
    for (int i = 0; i < 4; ++i) {
        ends[i] = std::min(settings.sampleEnds[i], patternSize);
    }
    const uint32_t level = (settings.flags >> LightBakeLevelShift) & 3u;
    uint32_t first = 0;
    uint32_t last = ends[level];
    float h1 = s1 * 0.5f;
    float h2 = s2 * 0.5f;
    for (;;) {
        Float4 sum;
        int count = 0;
        for (uint32_t i = first; i < last; ++i) {
            const LightSampleOffset& r = settings.samplePattern[i];
            if ((r.mask & edgeMask) != r.mask) {
                continue;
            }
            const Float3 at = lifted + u * (r.a * h1) + v * (r.b * h2);
            const Float4 e = EvaluateLightSample(at, normal, u, v, own);
            if (e.w > 0.0f) {
                ++count;
                sum = Float4(sum.x + e.x, sum.y + e.y, sum.z + e.z, sum.w + e.w);
            }
        }
        if (count > 0) {
            const float n = static_cast<float>(count);
            return Float4(sum.x / n, sum.y / n, sum.z / n, sum.w);
        }
        if (!(settings.flags & LightBakeAdaptive)) {
            return Float4();
        }
        if (last == ends[0]) {
            first = ends[0];
            last = ends[1];
        } else if (h1 < s1) {
            h1 = s1;
            h2 = s2;
        } else if (last == ends[1] && ends[2] > ends[1]) {
            first = ends[1];
            last = ends[2];
        } else if (last == ends[2] && ends[3] > ends[2]) {
            first = ends[2];
            last = ends[3];
        } else {
            return Float4();
        }
    }
}

Float4 SceneLightSampler::EvaluateLightSample(const Float3& point, const Float3& normal,
                                              const Float3& u, const Float3& v,
                                              RenderObject* own) {
    return quarn::EvaluateLightSample(point, normal, u, v, own);
}

Float4 SceneLightSampler::GatherLightSum(const Float3& point, const Float3& normal,
                                         const Float3& u, const Float3& v, float s1, float s2,
                                         uint32_t edgeMask, RenderObject* own) {
    return quarn::GatherLightSum(point, normal, u, v, s1, s2, edgeMask, own);
}

} // namespace quarn
