#include "render/lightmap/LightEvaluation.h"

#include "core/math/Color.h"
#include "core/math/Quaternion.h"
#include "core/scene/Picking.h"
#include "tests/render/RenderTestSupport.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace quarn {
namespace {

// A shadow caster with a world box of its own. Rays hit the box, or with `fixedDistance` set
// every ray within about 25 degrees of `facing` hits at that distance.
class Blocker : public test::TestClass<Blocker, RenderObject> {
public:
    static constexpr const char* Name = "LightEvaluationBlocker";

    Blocker() { SetRenderFlag(RenderCastShadows, true); }
    void UpdateWorldBoundingBox() override { worldBox_ = box; }
    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override {
        ++rayTests;
        float t = -1.0f;
        if (fixedDistance >= 0.0f) {
            t = direction.Dot(facing) > 0.9f ? fixedDistance : -1.0f;
        } else {
            t = box.RayIntersect(origin, direction);
        }
        if (t < 0.0f || t > query.maxDistance) {
            return false;
        }
        query.current.distance = t;
        query.current.part = part;
        return true;
    }
    Float4 GetColorRgba(Float3, uint32_t) override { return surface; }
    int32_t Render() override { return 0; }

    Aabb box;
    float fixedDistance = -1.0f;
    Float3 facing;
    int32_t part = 0;
    Float4 surface;
    int rayTests = 0;
};

constexpr Float3 Up(0.0f, 0.0f, 1.0f);
constexpr Float3 AlongX(1.0f, 0.0f, 0.0f);
constexpr Float3 AlongY(0.0f, 1.0f, 0.0f);

class LightEvaluationTest : public test::RenderScene {
protected:
    void SetUp() override {
        RenderScene::SetUp();
        Blocker::RegisterClass();
        SetLightBakeSettings(&settings_);
    }
    void TearDown() override {
        SetLightBakeSettings(nullptr);
        RenderScene::TearDown();
    }
    Blocker* AddBlocker(const char* name, Float3 min, Float3 max) {
        auto* blocker = tree_.Make<Blocker>(name, root_);
        blocker->box = {min, max};
        return blocker;
    }
    OmniLight* AddOmni(Float3 position) {
        auto* light = tree_.Make<OmniLight>("omni", root_);
        light->SetPosition(position);
        light->SetBrightness(1.0f);
        light->SetRange(100.0f);
        return light;
    }
    Float4 Sample(Float3 point, RenderObject* own = nullptr) {
        return EvaluateLightSample(point, Up, AlongX, AlongY, own);
    }

    LightBakeSettings settings_;
};

void ExpectColour(const Float4& got, const Float4& want, const std::string& label) {
    EXPECT_NEAR(got.x, want.x, 1e-5f) << label;
    EXPECT_NEAR(got.y, want.y, 1e-5f) << label;
    EXPECT_NEAR(got.z, want.z, 1e-5f) << label;
    EXPECT_NEAR(got.w, want.w, 1e-5f) << label;
}

TEST_F(LightEvaluationTest, StaticOmniLightOverAFloorIsShadowedByWhatLiesBetween) {
    settings_.flags = LightBakeDirect | LightBakeShadows;
    AddOmni(Float3(0.0f, 0.0f, 2.0f));
    auto* floor = AddBlocker("floor", Float3(-10, -10, -1), Float3(10, 10, 0));
    const float straight = 1.0f / 4.1f;                            // distance 2, facing 1
    const float aside = 1.0f / 5.1f * (2.0f / std::sqrt(5.0f));    // one unit aside
    ExpectColour(Sample(Float3(), floor), {0, 0, 0, 1}, "the floor's own top shadows it");
    settings_.flags |= LightBakeNoSelfShadow;
    ExpectColour(Sample(Float3(), floor), {straight, straight, straight, 1}, "straight below");
    ExpectColour(Sample(Float3(1, 0, 0), floor), {aside, aside, aside, 1}, "aside");
    AddBlocker("occluder", Float3(-0.2f, -0.2f, 0.9f), Float3(0.2f, 0.2f, 1.1f));
    ExpectColour(Sample(Float3(), floor), {0, 0, 0, 1}, "behind the occluder");
    ExpectColour(Sample(Float3(1, 0, 0), floor), {aside, aside, aside, 1}, "beside its shadow");
    settings_.flags = LightBakeDirect | LightBakeNoSelfShadow;
    ExpectColour(Sample(Float3(), floor), {straight, straight, straight, 1}, "no shadow rays");
}

TEST_F(LightEvaluationTest, LightsThatGiveNothingCastNoRayAndDirectionalRaysStopAtTheirPlane) {
    settings_.flags = LightBakeDirect | LightBakeShadows;
    auto* below = AddOmni(Float3(0.0f, 0.0f, -2.0f)); // behind the surface: influence 0
    auto* counter = AddBlocker("counter", Float3(-1, -1, -3), Float3(1, 1, -1));
    ExpectColour(Sample(Float3()), {0, 0, 0, 1}, "behind the surface");
    EXPECT_EQ(counter->rayTests, 0);
    below->Delete();
    counter->Delete();

    auto* sun = tree_.Make<DirectionalLight>("sun", root_);
    sun->SetOrientation(Quaternion::RotationFromZ(Float3(0.0f, 0.0f, -1.0f))); // shines down
    sun->SetPosition(Float3(0.0f, 0.0f, 5.0f));
    sun->SetBrightness(0.5f);
    ExpectColour(Sample(Float3(3, 0, 0)), {0.5f, 0.5f, 0.5f, 1}, "open sun");
    auto* above = AddBlocker("above", Float3(2, -1, 6), Float3(4, 1, 7));
    ExpectColour(Sample(Float3(3, 0, 0)), {0.5f, 0.5f, 0.5f, 1}, "beyond the light's plane");
    above->box = {Float3(2, -1, 3), Float3(4, 1, 4)};
    above->InvalidateTransform();
    ExpectColour(Sample(Float3(3, 0, 0)), {0, 0, 0, 1}, "below the light's plane");
}

TEST_F(LightEvaluationTest, HemisphereGatheringCountsOnlyRaysItCanUse) {
    settings_.flags = LightBakeHemisphere;
    target_->SetBackgroundColor(0xFF336699);
    const Float4 sky = UnpackColor(0xFF336699);
    const std::vector<Float3> fan = {{0, 0, 1}, {1, 0, 1}, {-1, 0, 1}, {0, 1, 1}};
    struct Case {
        const char* label;
        std::vector<Float3> directions;
        std::vector<Float3> zeroHits; // a blocker hit at distance 0 along each
        Float4 expected;
    };
    const Case cases[] = {
        {"open sky", fan, {}, {sky.x, sky.y, sky.z, 1}},
        {"no directions", {}, {}, {0, 0, 0, 0}},
        {"a quarter at distance 0", fan, {{1, 0, 1}}, {sky.x, sky.y, sky.z, 1}},
        {"half at distance 0", fan, {{1, 0, 1}, {-1, 0, 1}}, {0, 0, 0, 0}},
        {"negative weights", {{0, 0, -1}}, {}, {0, 0, 0, 1}},
    };
    for (const Case& c : cases) {
        settings_.hemisphereDirections = c.directions;
        std::vector<Blocker*> blockers;
        for (const Float3& d : c.zeroHits) {
            Blocker* b = AddBlocker("zero", Float3(-1, -1, -1), Float3(1, 1, 1));
            b->fixedDistance = 0.0f;
            b->facing = d.NormalizedOrSelf();
            blockers.push_back(b);
        }
        ExpectColour(Sample(Float3()), c.expected, c.label);
        for (Blocker* b : blockers) {
            b->Delete();
        }
    }

    settings_.hemisphereDirections = {{0, 0, 1}};
    Blocker* roof = AddBlocker("roof", Float3(-1, -1, 1), Float3(1, 1, 2));
    roof->surface = Float4(-0.5f, 0.25f, 2.0f, 0.0f);
    ExpectColour(Sample(Float3()), {0, 0.25f, 2.0f, 1}, "a surface's colour, never negative");
    roof->part = 1 << 29;
    ExpectColour(Sample(Float3()), {0, 0, 0, 0}, "a face that asks to be skipped");
}

TEST_F(LightEvaluationTest, EscapingRaysSeeBlackWithoutARenderTarget) {
    settings_.flags = LightBakeHemisphere;
    settings_.hemisphereDirections = {{0, 0, 1}};
    ASSERT_EQ(RenderTarget::GetMain(), target_);
    target_->Delete();
    target_ = nullptr;
    EXPECT_EQ(RenderTarget::GetMain(), nullptr);
    ExpectColour(Sample(Float3()), {0, 0, 0, 1}, "no target");
}

// One ray straight up; a box above x >= 0.2 holds the samples there, which therefore hit at
// distance 0 and count for nothing. The pattern's ranges step further and further to -x.
TEST_F(LightEvaluationTest, TexelsWidenTheirSamplesOnlyWhereNoneWasValid) {
    target_->SetBackgroundColor(0xFFFFFFFF);
    settings_.hemisphereDirections = {{0, 0, 1}};
    settings_.samplePattern = {{0, 0, 0, 0}, {-1, 0, 0, 0}, {-2, 0, 0, 0}, {-3, 0, 0, 0},
                               {0, 0, 0, LightEdgePlusU}};
    settings_.sampleEnds[0] = 1;
    settings_.sampleEnds[1] = 2;
    settings_.sampleEnds[2] = 3;
    settings_.sampleEnds[3] = 4;
    AddBlocker("wall", Float3(0.2f, -10, -10), Float3(10, 10, 10));
    struct Case {
        uint32_t flags;
        float x;
        float validity;
    };
    const uint32_t adaptive = LightBakeHemisphere | LightBakeAdaptive;
    const Case cases[] = {
        {LightBakeHemisphere, 0.0f, 1}, // the first sample finds the sky
        {LightBakeHemisphere, 0.5f, 0}, // no widening without the flag
        {adaptive, 0.5f, 1},            // the next range at half spread
        {adaptive, 1.0f, 1},            // the same range at full spread
        {adaptive, 1.5f, 1},            // the third range
        {adaptive, 2.5f, 1},            // the fourth
        {adaptive, 5.0f, 0},            // nothing anywhere
        {LightBakeHemisphere | (1u << LightBakeLevelShift), 0.0f, 2}, // validities add up
    };
    for (const Case& c : cases) {
        settings_.flags = c.flags;
        const Float4 got = GatherLightSum(Float3(c.x, 0, 0), Up, AlongX, AlongY, 1.0f, 1.0f, 0,
                                          nullptr);
        const float lit = c.validity > 0 ? 1.0f : 0.0f;
        ExpectColour(got, {lit, lit, lit, c.validity}, "x " + std::to_string(c.x));
    }

    // A record needing an edge the texel lacks is left out; ends beyond the pattern are cut.
    settings_.flags = LightBakeHemisphere;
    settings_.samplePattern = {{0, 0, 0, LightEdgePlusU}};
    settings_.sampleEnds[0] = 7;
    ExpectColour(GatherLightSum(Float3(), Up, AlongX, AlongY, 1, 1, LightEdgeMinusU, nullptr),
                 {0, 0, 0, 0}, "no record fits");
    ExpectColour(GatherLightSum(Float3(), Up, AlongX, AlongY, 1, 1, LightEdgePlusU, nullptr),
                 {1, 1, 1, 1}, "the record fits");
}

TEST_F(LightEvaluationTest, OccludersAreTheCandidatesNearestFirstAndLightsTheStaticOnesInRange) {
    settings_.flags = LightBakeDirect | LightBakeNoSelfShadow;
    AddBlocker("far", Float3(-1, -1, 5), Float3(1, 1, 6));
    AddBlocker("near", Float3(-1, -1, 2), Float3(1, 1, 3));
    auto* own = AddBlocker("own", Float3(-1, -1, -1), Float3(1, 1, 0));
    AddBlocker("below", Float3(-1, -1, -9), Float3(1, 1, -8));
    auto* quiet = AddBlocker("quiet", Float3(-1, -1, 1), Float3(1, 1, 2));
    quiet->SetRenderFlag(RenderCastShadows, false);
    AddBlocker("broken", Float3(-1, -1, 1),
                              Float3(1, 1, std::numeric_limits<float>::quiet_NaN()));
    auto* hidden = AddBlocker("hidden", Float3(-1, -1, 1), Float3(1, 1, 2));
    hidden->SetFlag(NodeEnabled, false);
    auto* inRange = AddOmni(Float3(0, 0, 50));
    AddOmni(Float3(0, 0, 150));
    auto* dynamicOnly = AddOmni(Float3(0, 0, 1));
    dynamicOnly->SetLightFlags(LightDynamic);
    auto* sun = tree_.Make<DirectionalLight>("sun", root_);

    CollectOccluders(Float3(), Up, own);
    std::vector<std::string> names;
    for (const Occluder& o : CollectedOccluders()) {
        names.push_back(o.object->GetName());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"near", "far"}));
    std::vector<Light*> lights = CollectedLights();
    std::sort(lights.begin(), lights.end());
    std::vector<Light*> expected = {inRange, sun};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lights, expected);
}

} // namespace
} // namespace quarn
