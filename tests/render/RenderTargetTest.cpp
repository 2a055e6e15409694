#include "render/RenderTarget.h"

#include "core/scene/ContainerBox.h"
#include "core/scene/SignalReceiver.h"
#include "render/Light.h"
#include "render/LightManager.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/MathExpectations.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::RtSquare;
using Log = std::vector<std::string>;

constexpr uint32_t RedOf(uint32_t argb) {
    return (argb >> 16) & 0xFF;
}
constexpr uint32_t GreenOf(uint32_t argb) {
    return (argb >> 8) & 0xFF;
}

class RenderTargetTest : public test::RenderScene {};

TEST_F(RenderTargetTest, PassesDrawInOrderAndALaterAnswerDrawsTheObjectAgain) {
    Square("osd", Float3(0, 0, 10), White, nullptr, RenderOsd);
    Square("solid", Float3(0, 0, 10), White, nullptr, RenderSolid);
    Square("back", Float3(0, 0, 10), White, nullptr, RenderBackdrop);
    Square("twice", Float3(0, 0, 20), White, nullptr, RenderNonSolid)->again = 16;
    Square("once", Float3(0, 0, 10), White, nullptr, RenderNonSolid)->again = 6;
    Square("hidden", Float3(0, 0, 10), White, nullptr, RenderInvisible);
    Frame();
    EXPECT_EQ(RtSquare::log, (Log{"back@1", "solid@3", "twice@6", "once@6", "twice@16", "osd@17"}));
}

TEST_F(RenderTargetTest, TranslucentSquaresBlendBackToFront) {
    // Collected near first; sorted, the far one is drawn first and the near one over it.
    RtSquare* near = Square("near", Float3(0, 0, 10), Red, nullptr, RenderNonSolid);
    RtSquare* far = Square("far", Float3(0, 0, 20), Green, nullptr, RenderNonSolid);
    far->half = 3.0f;
    near->SetOpacity(0.5f);
    far->SetOpacity(0.5f);
    Frame();
    EXPECT_EQ(RtSquare::log, (Log{"far@6", "near@6"}));
    const uint32_t both = Pixel(32, 24);
    EXPECT_GT(RedOf(both), GreenOf(both));
    EXPECT_GT(GreenOf(both), 0u);
    EXPECT_EQ((both & 0xFF), 0u);
}

TEST_F(RenderTargetTest, SortingTiesGoByDescendingIdBiasLastAndPlaneGroupsBeforeDepth) {
    Node* group = tree_.Make<Node>("group", root_);
    RtSquare* first = Square("first", Float3(0, 0, 10), White, group, RenderNonSolid);
    RtSquare* second = Square("second", Float3(0, 0, 10), White, group, RenderNonSolid);
    RtSquare* biased = Square("biased", Float3(0, 0, 10), White, group, RenderNonSolid);
    biased->SetRenderFlag(RenderSortingBias, true);
    ASSERT_LT(first->GetId(), second->GetId());
    target_->SetRenderRoot({group->GetId()});
    Frame();
    EXPECT_EQ(RtSquare::log, (Log{"second@6", "first@6", "biased@6"}));

    // A level plane below the eye: what lies under it is far side, whatever its depth.
    Node* planes = tree_.Make<Node>("planes", root_);
    Square("camera side", Float3(0, 3, 30), White, planes, RenderNonSolid);
    Square("plane", Float3(0, -1, 20), White, planes, RenderNonSolid)
        ->SetRenderFlag(RenderSortingPlane, true);
    Square("on it", Float3(0, -1, 2), White, planes, RenderNonSolid);
    Square("under", Float3(0, -5, 5), White, planes, RenderNonSolid);
    target_->SetRenderRoot({planes->GetId()});
    RtSquare::log.clear();
    Frame();
    EXPECT_EQ(RtSquare::log, (Log{"under@6", "on it@6", "plane@6", "camera side@6"}));
}

TEST_F(RenderTargetTest, ContainerBoxesOutOfViewHideTheirSubtrees) {
    struct Case {
        const char* name;
        uint32_t extentFlags;
        int32_t mode;
        Float3 min;
        Float3 max;
        bool culling;
        bool drawn;
    };
    const Float3 outMin(100, 0, 10);
    const Float3 outMax(102, 1, 11);
    const Float3 inMin(-1, -1, 9);
    const Float3 inMax(1, 1, 11);
    const Case cases[] = {
        {"outside", ExtentsVisualCull, MatrixNormal, outMin, outMax, true, false},
        {"inside", ExtentsVisualCull, MatrixNormal, inMin, inMax, true, true},
        {"straddling", ExtentsVisualCull, MatrixNormal, Float3(5, -1, 4), outMax, true, true},
        {"forced", ExtentsVisualCull | ExtentsForceCull, MatrixNormal, inMin, inMax, true, false},
        {"not culled", 0, MatrixNormal, outMin, outMax, true, true},
        {"screen", ExtentsVisualCull, MatrixScreen, outMin, outMax, true, true},
        {"culling off", ExtentsVisualCull | ExtentsForceCull, MatrixNormal, outMin, outMax, false,
         true},
    };
    for (const Case& c : cases) {
        auto* box = tree_.Make<ContainerBox>("box", root_);
        box->SetMatrixMode(c.mode);
        box->SetExtentFlags(c.extentFlags);
        box->SetExtentsMin(c.min);
        box->SetExtentsMax(c.max);
        Square(c.name, Float3(0, 0, 10), Red, box);
        target_->SetTargetFlags(c.culling ? target_->GetTargetFlags() | TargetCulling
                                          : target_->GetTargetFlags() & ~TargetCulling);
        RtSquare::log.clear();
        Frame();
        EXPECT_EQ(!RtSquare::log.empty(), c.drawn) << c.name;
        EXPECT_EQ(Pixel(32, 24), c.drawn ? Red : Black) << c.name;
        box->Delete();
    }
}

TEST_F(RenderTargetTest, ClearsFollowTheFlagsAndNothingIsClearedWithNothingToDraw) {
    Square("square", Float3(0, 0, 10), Red);
    target_->SetBackgroundColor(Blue);
    Frame();
    EXPECT_EQ(Pixel(32, 24), Red);
    EXPECT_EQ(Pixel(1, 1), Blue);

    target_->SetTargetFlags(TargetDefaultFlags); // clears nothing
    Frame(Green);
    EXPECT_EQ(Pixel(1, 1), Green);
    EXPECT_EQ(Pixel(32, 24), Red);

    target_->SetTargetFlags(TargetDefaultFlags | TargetClearFrame);
    Node* disabled = tree_.Make<Node>("disabled", root_);
    disabled->SetFlag(NodeEnabled, false);
    target_->SetRenderRoot({disabled->GetId()});
    Frame(Green);
    EXPECT_EQ(Pixel(32, 24), Green);

    target_->SetRenderRoot({});
    target_->SetCameraId({});
    CurrentCamera = nullptr;
    Frame(Green);
    EXPECT_EQ(Pixel(1, 1), Green) << "no camera: nothing is cleared";
}

TEST_F(RenderTargetTest, TheOverrideCameraWinsAndASecondaryTargetLeavesTheCurrentCamera) {
    Square("square", Float3(0, 0, 10), Red);
    auto* away = tree_.Make<Camera>("away", root_);
    away->SetPosition(Float3(0, 0, 30)); // the square is behind it
    target_->SetOverrideCameraId({away->GetId()});
    Frame();
    EXPECT_EQ(CurrentCamera, static_cast<CameraView*>(away));
    EXPECT_EQ(Pixel(32, 24), Black);

    target_->SetOverrideCameraId({});
    auto* secondary = tree_.Make<RenderTarget>("secondary", root_);
    secondary->SetCameraId({away->GetId()});
    secondary->SetTargetFlags(TargetDefaultFlags | TargetSecondary);
    Frame();
    EXPECT_EQ(CurrentCamera, static_cast<CameraView*>(camera_));
    EXPECT_EQ(Pixel(32, 24), Red);
}

// Counts the events sent to it.
class RtWitness : public test::TestClass<RtWitness, Node> {
public:
    static constexpr const char* Name = "RenderTestWitness";
    void ReceiveEvent(const EventRecord& event) override {
        ++events;
        lastValue = event.value;
    }
    int events = 0;
    float lastValue = 0.0f;
};

TEST_F(RenderTargetTest, AViewportChangeIsAnnouncedOnce) {
    auto* receiver = tree_.Make<SignalReceiver>("receiver", root_);
    auto* witness = tree_.Make<RtWitness>("witness", root_);
    receiver->SetSignalName("viewport_changed");
    EntityRef reference;
    reference.InitFromId(witness->GetId());
    receiver->SetPortValue(0, reference);
    Frame();
    Frame();
    EXPECT_EQ(witness->events, 1);
    EXPECT_EQ(witness->lastValue, 1.0f);

    device_->SetViewport(0, 0, 32, 24);
    Frame();
    EXPECT_EQ(witness->events, 2);
}

TEST_F(RenderTargetTest, AWorldPointLandsOnThePixelItProjectsToThroughATurnedCamera) {
    camera_->SetPosition(Float3(10, 0, -10));
    camera_->SetOrientation(Quaternion::FromAxisAngle(1.0f, Float3(0, 1, 0)));
    // 10 ahead, 5 right and 3 down: (48, 33.6) on the 64 x 48 viewport.
    const Float3 point = camera_->GetWorldPosition() + camera_->GetWorldAxis(2) * 10.0f +
                         camera_->GetWorldAxis(0) * 5.0f - camera_->GetWorldAxis(1) * 3.0f;
    RtSquare* dot = Square("dot", point, Green);
    dot->SetOrientation(camera_->GetOrientation());
    dot->half = 0.25f;
    Frame();
    const Float2 p = CurrentCameraWorldToScreen(point);
    EXPECT_NEAR(p.x, 48.0f, 1e-3f);
    EXPECT_NEAR(p.y, 33.6f, 1e-3f);
    EXPECT_EQ(Pixel(48, 33), Green);
    EXPECT_EQ(Pixel(44, 33), Black);
    // And back along the ray through that pixel.
    test::ExpectNear(ScreenToWorldAtDistance(p, std::sqrt(134.0f)), point, 1e-3f);
}

TEST_F(RenderTargetTest, LightsColourALitSquareAndOnlyTheSixBestReachIt) {
    Square("lit", Float3(0, 0, 10), White)->SetRenderFlag(RenderLighting, true);
    auto* manager = tree_.Make<LightManager>("manager");
    manager->AttachTo(root_); // updated before the target draws
    // Six dim red lights along +z outrank a dimmer blue one; autorange keeps them all within
    // about 2 of the lights' and the manager's common place.
    for (int i = 0; i < 6; ++i) {
        auto* red = tree_.Make<DirectionalLight>("red", root_);
        red->SetColor(Red);
        red->SetBrightness(0.2f);
    }
    auto* blue = tree_.Make<DirectionalLight>("blue", root_);
    blue->SetColor(Blue);
    blue->SetBrightness(0.1f);
    Frame();
    const uint32_t lit = Pixel(32, 24);
    EXPECT_EQ(RedOf(lit), 0xFFu);
    EXPECT_EQ((lit & 0xFF), 0u);
}

} // namespace
} // namespace quarn
