#include "core/scene/Picking.h"
#include "render/Camera.h"
#include "resources/DynamicMesh.h"
#include "script/nodes/PathController.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/MathExpectations.h"

#include <cmath>
#include <gtest/gtest.h>

namespace quarn {
namespace {

// A path of three waypoints across the view of a camera at the origin looking along +Z.
class PathGizmoTest : public test::RenderScene {
protected:
    void SetUp() override {
        RenderScene::SetUp();
        ASSERT_TRUE(CreateDebugMeshes());
        path_ = tree_.Make<PathController>("path", root_);
        for (Float3 at : {Float3(-2, 0, 10), Float3(0, 2, 10), Float3(2, 0, 10)}) {
            tree_.Make<PathPivot>("waypoint", path_)->SetPosition(at);
        }
        path_->SetPathFlags(0);
    }
    void TearDown() override {
        DestroyDebugMeshes();
        RenderScene::TearDown();
    }
    // A gizmo pick at the screen point of a world point.
    bool Pick(Float3 at, PickQuery& query) {
        query.Init(PickQuery::DefaultMaxDistance, PickGizmos | PickNormal, 0, 0);
        query.screenPoint = CurrentCameraWorldToScreen(at);
        return path_->IntersectRay(Float3(), Float3(0, 0, 1), query);
    }

    PathController* path_ = nullptr;
};

TEST_F(PathGizmoTest, DrawsTheWaypointsAndTheirLinesOnlyWithTheGizmoFlag) {
    Frame();
    const Float2 middle = CurrentCameraWorldToScreen(Float3(-1, 1, 10));
    const auto x = uint32_t(middle.x);
    const auto y = uint32_t(middle.y);
    EXPECT_NE(Pixel(x, y), PathController::PathColor);

    path_->SetRenderFlag(RenderGizmo, true);
    Frame();
    uint32_t found = 0;
    for (uint32_t dy = 0; dy < 3; ++dy) {
        for (uint32_t dx = 0; dx < 3; ++dx) {
            found |= Pixel(x + dx - 1, y + dy - 1) == PathController::PathColor ? 1u : 0u;
        }
    }
    EXPECT_EQ(found, 1u) << "the line from the first waypoint to the second";
    // No line closes the path without connect_ends.
    const Float2 bottom = CurrentCameraWorldToScreen(Float3(0, 0, 10));
    EXPECT_NE(Pixel(uint32_t(bottom.x), uint32_t(bottom.y)), PathController::PathColor);
}

TEST_F(PathGizmoTest, APickFindsTheWaypointNearestTheScreenPoint) {
    Frame();
    PickQuery query;
    ASSERT_TRUE(Pick(Float3(0, 2.05f, 10), query));
    EXPECT_EQ(query.current.part, 1);
    EXPECT_NEAR(query.current.distance, std::sqrt(104.0f), 1e-4f);
    test::ExpectNear(query.current.data, Float3(0, 0, 1));
    EXPECT_FALSE(Pick(Float3(0, -3, 10), query));
    query.flags = PickSolids;
    EXPECT_FALSE(path_->IntersectRay(Float3(), Float3(0, 0, 1), query));
}

} // namespace
} // namespace quarn
