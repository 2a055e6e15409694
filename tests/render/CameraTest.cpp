#include "render/Camera.h"

#include "tests/render/RenderTestSupport.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

// The scene's camera stands at the origin and looks along +z.
class CameraTest : public test::RenderScene {};

TEST_F(CameraTest, TheProjectionFollowsTheLensAndTheViewportsAspect) {
    // 64 x 48 has the aspect of 1024 x 768.
    Matrix4 m = camera_->GetProjectionMatrix();
    EXPECT_NEAR(m.At(0, 0), 1.0f, 1e-6f);
    EXPECT_NEAR(m.At(1, 1), 4.0f / 3.0f, 1e-6f);
    EXPECT_NEAR(m.At(2, 2), 1.0001f, 1e-6f);
    EXPECT_NEAR(m.At(3, 2), -0.10001f, 1e-6f);
    EXPECT_EQ(m.At(2, 3), 1.0f);
    EXPECT_EQ(m.At(3, 3), 0.0f);

    camera_->SetRatioXY(2.0f);
    camera_->SetShear(Float2(0.5f, 0.25f));
    m = camera_->GetProjectionMatrix();
    EXPECT_NEAR(m.At(1, 1), 8.0f / 3.0f, 1e-5f);
    EXPECT_NEAR(m.At(2, 0), 0.5f, 1e-6f);
    EXPECT_NEAR(m.At(2, 1), 2.0f / 3.0f, 1e-5f);
}

TEST_F(CameraTest, PointsProjectToPixelsAndPixelsBackToTheViewAxis) {
    const Float2 ahead = camera_->ProjectToScreen(Float3(0.0f, 0.0f, 10.0f));
    EXPECT_NEAR(ahead.x, 32.0f, 1e-4f);
    EXPECT_NEAR(ahead.y, 24.0f, 1e-4f);
    // At depth 10 the view is 20 wide (fov 90): x = 5 lies a quarter of the way right.
    const Float2 right = camera_->ProjectToScreen(Float3(5.0f, 0.0f, 10.0f));
    EXPECT_NEAR(right.x, 48.0f, 1e-4f);
    const Float2 behind = camera_->ProjectToScreen(Float3(1.0f, 1.0f, 0.0f));
    EXPECT_EQ(behind.x, -10000.0f);
    EXPECT_EQ(behind.y, -10000.0f);
    // The depth form takes the near clip distance instead of answering "behind".
    const Float2 near = camera_->ProjectDepthToScreen(Float3(0.01f, 0.0f, 0.0f));
    EXPECT_NEAR(near.x, 32.0f + 0.01f / 0.1f * 32.0f, 1e-3f);

    const Float3 centre = camera_->ScreenToCamera(Float2(32.0f, 24.0f));
    EXPECT_NEAR(centre.x, 0.0f, 1e-4f);
    EXPECT_NEAR(centre.y, 0.0f, 1e-4f);

    // A viewport away from the corner: rows still run downwards, both ways.
    device_->SetViewport(8, 6, 48, 36);
    const Float3 point(2.0f, -1.5f, 10.0f);
    const Float2 screen = camera_->ProjectToScreen(point);
    EXPECT_GT(screen.y, 6.0f + 18.0f);
    const Float3 back = camera_->ScreenToCamera(screen);
    EXPECT_NEAR(back.x / back.z, point.x / point.z, 1e-5f);
    EXPECT_NEAR(back.y / back.z, point.y / point.z, 1e-5f);
}

TEST_F(CameraTest, BoxesAreInsidePartlyInsideOrOutside) {
    struct Case {
        Float3 min;
        Float3 max;
        int32_t expected;
    };
    const Case cases[] = {
        {{-1, -1, 9}, {1, 1, 11}, BoxInside},
        {{-1000, -1000, -1000}, {1000, 1000, 1000}, BoxPartlyInside}, // encloses the eye
        {{-1, -1, -11}, {1, 1, -9}, BoxOutside},                      // behind
        {{9, -1, 9}, {11, 1, 11}, BoxPartlyInside},                   // on the right edge
        {{11.5f, -1, 9}, {12.5f, 1, 11}, BoxOutside}, // its sphere straddles the right plane
    };
    camera_->UpdateFrustum();
    for (const Case& c : cases) {
        EXPECT_EQ(camera_->TestBox(c.min, c.max), c.expected) << c.min.x << " " << c.min.z;
    }
}

TEST_F(CameraTest, NothingInViewIsOutsideTheCullingPlanesWhateverTheLens) {
    struct Lens {
        float fov;
        float ratio;
        Float2 shear;
    };
    const Lens lenses[] = {{90.0f, 1.0f, {}},
                           {60.0f, 0.5f, {}},
                           {90.0f, 1.0f, {0.6f, -0.4f}},
                           {120.0f, 3.0f, {-0.3f, 0.2f}}};
    for (const Lens& lens : lenses) {
        camera_->SetFov(lens.fov);
        camera_->SetRatioXY(lens.ratio);
        camera_->SetShear(lens.shear);
        camera_->UpdateFrustum();
        // Pixels just inside each corner of the viewport, and one just outside.
        for (Float2 pixel : {Float2(1, 1), Float2(63, 1), Float2(1, 47), Float2(63, 47)}) {
            const Float3 direction = camera_->ScreenToCamera(pixel);
            const Float3 point = direction * (10.0f / direction.z);
            EXPECT_EQ(PlaneSideMask(camera_->GetFrustum(), point), 0u)
                << lens.fov << " " << pixel.x << "," << pixel.y;
        }
        const Float3 outside = camera_->ScreenToCamera(Float2(70.0f, 24.0f));
        EXPECT_NE(PlaneSideMask(camera_->GetFrustum(), outside), 0u) << lens.fov;
    }
}

TEST_F(CameraTest, ADeletedCurrentCameraLeavesNone) {
    CurrentCamera = camera_;
    camera_->Delete();
    EXPECT_EQ(CurrentCamera, nullptr);
}

} // namespace
} // namespace quarn
