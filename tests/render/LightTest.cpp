#include "render/Light.h"

#include "device/RenderDevice.h"
#include "render/LightManager.h"
#include "tests/render/RenderTestSupport.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace quarn {
namespace {

class LightTest : public test::RenderScene {
protected:
    void SetUp() override {
        RenderScene::SetUp();
        manager_ = tree_.Make<LightManager>("manager", root_);
    }

    template <class T>
    T* Place(Float3 position) {
        T* light = tree_.Make<T>("light", root_);
        light->SetPosition(position);
        return light;
    }
    bool Enabled(uint32_t slot) { return device_->Gpu()->GetLightEnable(slot); }
    LightRecord Record(uint32_t slot) {
        LightRecord record;
        device_->GetLight(slot, record);
        return record;
    }

    LightManager* manager_ = nullptr;
};

TEST_F(LightTest, EachKindWeighsTheLightThatReachesAPoint) {
    auto* ambient = Place<AmbientLight>(Float3());
    ambient->SetBrightness(0.5f);
    auto* omni = Place<OmniLight>(Float3(0.0f, 0.0f, 2.0f));
    auto* spot = Place<SpotLight>(Float3(0.0f, 0.0f, -1.0f)); // looks along +z
    const Float3 up(0.0f, 0.0f, 1.0f);                        // a surface facing the omni light
    struct Case {
        Light* light;
        Float3 point;
        Float3 normal;
        float expected;
    };
    const Case cases[] = {
        {ambient, {5, 5, 5}, up, 0.5f}, {omni, {}, {}, 1.0f / 4.1f},
        {omni, {}, up, 1.0f / 4.1f},    {omni, {}, {1, 0, 0}, 0.0f}, // edge-on
        {omni, {0, 0, 200}, {}, 0.0f},                               // out of range
        {spot, {}, {}, 1.0f / 1.1f},                                 // on the axis
        {spot, {0, 2, 0}, {}, 0.0f},                                 // outside the cone
        {spot, {0, 0, -1}, {}, 0.0f},                                // at the light itself
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(c.light->GetInfluence(c.point, c.normal), c.expected, 1e-5f)
            << c.light->GetClass()->GetName() << " " << c.point.z;
    }
    // Between the inner (45) and the outer (60) cone: a part of the light.
    const float angle = 26.0f * 0.017453292f;
    const float partial =
        spot->GetInfluence(Float3(std::sin(angle), 0.0f, std::cos(angle) - 1.0f), Float3());
    EXPECT_GT(partial, 0.0f);
    EXPECT_LT(partial, 1.0f / 1.1f);
}

TEST_F(LightTest, TheManagerHandsTheSixBestToTheDeviceAndKeepsTheFourBestInOrder) {
    std::vector<Light*> lights;
    for (int i = 8; i >= 1; --i) {
        lights.push_back(Place<OmniLight>(Float3(static_cast<float>(i), 0.0f, 0.0f)));
    }
    auto* disabled = Place<OmniLight>(Float3(0.1f, 0.0f, 0.0f));
    disabled->SetFlag(NodeEnabled, false);
    auto* bakedOnly = Place<OmniLight>(Float3(0.2f, 0.0f, 0.0f));
    bakedOnly->SetLightFlags(LightStatic);
    auto* far = Place<OmniLight>(Float3(50.0f, 0.0f, 0.0f));
    far->SetRange(10.0f);

    manager_->Update(0.0f, UpdateStopped);
    for (uint32_t slot = 0; slot < 6; ++slot) {
        EXPECT_TRUE(Enabled(slot)) << slot;
        EXPECT_EQ(Record(slot).position.x, static_cast<float>(slot + 1)) << slot;
    }
    for (int i = 0; i < LightManager::KeptLights; ++i) {
        EXPECT_EQ(manager_->GetChosenLight(i).value, lights[7 - i]->GetId()) << i;
    }
}

TEST_F(LightTest, AmbientColoursAddPerChannelWithoutCarrying) {
    Place<AmbientLight>(Float3());
    Place<AmbientLight>(Float3()); // both 0xFF808080
    manager_->Update(0.0f, UpdateStopped);
    EXPECT_EQ(Record(LightManager::AmbientSlot).color, 0xFFFFFFFFu);
    EXPECT_EQ(device_->Gpu()->GetRenderState(GpuRenderState::Ambient), 0xFFFFFFFFu);

    for (Light* light : Light::GetAllLights()) {
        light->SetColor(0);
    }
    manager_->Update(0.0f, UpdateStopped);
    EXPECT_EQ(device_->Gpu()->GetRenderState(GpuRenderState::Ambient), 0u);
}

TEST_F(LightTest, ASpotAtTheManagerAndALightWithoutAFiniteScoreRankLast) {
    auto* spot = Place<SpotLight>(Float3()); // where the manager stands
    auto* broken = Place<OmniLight>(Float3(0.5f, 0.0f, 0.0f));
    broken->SetBrightness(std::numeric_limits<float>::quiet_NaN());
    auto* plain = Place<OmniLight>(Float3(3.0f, 0.0f, 0.0f));
    EXPECT_EQ(spot->GetInfluence(Float3(), Float3()), 0.0f);

    manager_->Update(0.0f, UpdateStopped);
    EXPECT_EQ(manager_->GetChosenLight(0).value, plain->GetId());
    EXPECT_TRUE(Enabled(2)); // the other two still reach the device, last
    EXPECT_FALSE(Enabled(3));
}

TEST_F(LightTest, ChosenLightsAreReferencesThatADeletedLightLeavesEmpty) {
    auto* light = Place<OmniLight>(Float3(1.0f, 0.0f, 0.0f));
    manager_->Update(0.0f, UpdateStopped);
    Property* property = manager_->FindProperty("light1");
    uint32_t word = 0;
    property->ReadValue(*manager_, &word);
    EXPECT_EQ(word, light->GetId());

    light->Delete();
    property->ReadValue(*manager_, &word);
    EXPECT_EQ(word, 0u);
    // Only lights are taken.
    word = root_->GetId();
    property->WriteValue(*manager_, &word);
    EXPECT_EQ(manager_->GetChosenLight(0).value, 0u);
}

} // namespace
} // namespace quarn
