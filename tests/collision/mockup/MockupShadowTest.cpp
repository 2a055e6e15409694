#include "collision/mockup/MockupShadow.h"

#include "collision/mockup/MockupBox.h"
#include "collision/mockup/MockupClasses.h"
#include "core/filesystem/DiskFileSystem.h"
#include "device/IndexBuffer.h"
#include "render/ShadowVolume.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/MathExpectations.h"
#include "tests/support/PngFixture.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <set>

namespace quarn {
namespace {

constexpr float QuarterTurn = 1.5707964f;

// A white box at depth 10 before a grey wall at depth 20, a shadow node under the box, and a
// STENCIL-type black square before the camera that shows the stencil.
class MockupShadowTest : public test::RenderScene {
protected:
    void SetUp() override {
        RenderScene::SetUp();
        ShadowVolume::RegisterClass();
        RegisterMockupClasses();
        files_.SetBaseFolder(temp_.Path().c_str());
        SetFileSystem(&files_);
        temp_.WriteFile("white.png", test::EncodePng(4, 4, [](uint32_t, uint32_t) {
                            return White;
                        }));
        target_->SetTargetFlags(TargetClearFrame | TargetClearZ | TargetClearStencil);
        Square("wall", Float3(0, 0, 20), Grey)->half = 20.0f;
        Square("dark", Float3(0, 0, 2), Black, nullptr, RenderStencil)->half = 4.0f;
        box_ = tree_.Make<MockupBox>("box", root_);
        box_->SetPosition(Float3(0, 0, 10));
        box_->SetSize(Float3(2, 2, 2));
        box_->SetTextureName("white.png");
        shadow_ = tree_.Make<MockupShadow>("shadow", box_);
    }
    void TearDown() override {
        MockupShadow::ReleaseShadowShader();
        ShadowVolume::ReleaseShadowShader();
        RenderScene::TearDown();
        SetFileSystem(nullptr);
    }
    // The corners the volume's index list names (vertex / 2).
    std::set<uint32_t> Corners() {
        std::set<uint32_t> corners;
        IndexBuffer* indices = shadow_->GetIndexData();
        for (uint32_t i = 0; indices && i < indices->GetIndexCount(); ++i) {
            corners.insert(indices->GetIndex(i) / 2);
        }
        return corners;
    }
    uint32_t IndexCount() {
        IndexBuffer* indices = shadow_->GetIndexData();
        return indices ? indices->GetIndexCount() : 0;
    }

    test::TempFolder temp_;
    DiskFileSystem files_;
    MockupBox* box_ = nullptr;
    MockupShadow* shadow_ = nullptr;
};

TEST_F(MockupShadowTest, TheFacesLookingAlongTheExtrusionCastAndTheCountFollowsNumfaces) {
    shadow_->SetExtrusion(5.0f);
    Frame();
    // Y up: the -y face (corners 0, 1, 4, 5), four side quads and two caps.
    EXPECT_EQ(IndexCount(), 36u);
    EXPECT_EQ(Corners(), (std::set<uint32_t>{0, 1, 4, 5}));
    struct Case {
        int32_t faces;
        uint32_t indices;
    };
    for (const Case& k : {Case{3, 108}, Case{7, 108}, Case{2, 72}, Case{0, 0}}) {
        shadow_->SetNumFaces(k.faces);
        Frame();
        EXPECT_EQ(IndexCount(), k.indices) << k.faces;
        EXPECT_EQ(shadow_->GetNumFaces(), k.faces);
    }
    // The volume reaches down by the offset.
    shadow_->SetNumFaces(1);
    EXPECT_NEAR(shadow_->GetWorldBoundingBox().min.y, -6.0f, 1e-5f);
    EXPECT_NEAR(shadow_->GetWorldBoundingBox().max.y, 1.0f, 1e-5f);
    // No extrusion, nothing drawn; back again without turning, the volume comes back.
    shadow_->SetExtrusion(0.0f);
    Frame();
    EXPECT_EQ(shadow_->GetVolumeTriangleCount(), 0u);
    shadow_->SetExtrusion(5.0f);
    Frame();
    EXPECT_EQ(IndexCount(), 36u);
}

TEST_F(MockupShadowTest, ATurnedBoxShadowsFromItsRealFaces) {
    // The box's +x axis points up; the shadow node keeps its Y up in the world.
    const Quaternion turn = Quaternion::FromAxisAngle(QuarterTurn, Float3(0, 0, 1));
    box_->SetOrientation(turn);
    shadow_->SetOrientation(Quaternion::FromAxisAngle(-QuarterTurn, Float3(0, 0, 1)));
    ASSERT_NEAR(shadow_->GetWorldAxis(1).y, 1.0f, 1e-5f);
    shadow_->SetExtrusion(5.0f);
    Frame();
    // The box's -x face is the one at the bottom.
    EXPECT_EQ(Corners(), (std::set<uint32_t>{0, 2, 4, 6}));
}

TEST_F(MockupShadowTest, TheShadowFallsOnTheWallWhereTheExtrusionSays) {
    // Extruded along (1, 0, 1): the box's shadow lands on the wall about 8 to 12 to the right.
    // Turn the node so that its Y runs along -(1, 0, 1).
    const Float3 down = Float3(-1, 0, -1).NormalizedOrSelf();
    const Float3 y(0, 1, 0);
    const Float3 axis = y.Cross(down).NormalizedOrSelf();
    shadow_->SetOrientation(Quaternion::FromAxisAngle(QuarterTurn, axis));
    if ((shadow_->GetWorldAxis(1) - down).Length() > 1e-3f) {
        shadow_->SetOrientation(Quaternion::FromAxisAngle(-QuarterTurn, axis));
    }
    ASSERT_LT((shadow_->GetWorldAxis(1) - down).Length(), 1e-3f);
    shadow_->SetNumFaces(3);
    shadow_->SetExtrusion(20.0f);
    for (bool batching : {true, false}) {
        target_->SetTargetFlags(batching ? target_->GetTargetFlags() | TargetBatching
                                         : target_->GetTargetFlags() & ~TargetBatching);
        Frame();
        // A unit on the wall is 1.6 pixels; on the box's front 3.6.
        EXPECT_EQ(Pixel(48, 24), Black) << batching;
        EXPECT_EQ(Pixel(16, 24), Grey) << batching;
        EXPECT_EQ(Pixel(32, 24), White) << batching;
    }
}

TEST_F(MockupShadowTest, WithoutABoxParentNothingIsDrawn) {
    auto* loose = tree_.Make<MockupShadow>("loose", root_);
    loose->SetPosition(Float3(0, 0, 10));
    loose->SetExtrusion(5.0f);
    Frame();
    EXPECT_EQ(loose->GetVolumeTriangleCount(), 0u);
    IndexBuffer* indices = loose->GetIndexData();
    EXPECT_TRUE(!indices || indices->GetIndexCount() == 0);
    const Aabb box = loose->GetWorldBoundingBox();
    test::ExpectNear(box.min, Float3(0, 0, 10));
    test::ExpectNear(box.max, Float3(0, 0, 10));
}

} // namespace
} // namespace quarn
