#include "core/scene/Pivot.h"

#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/scene/CameraView.h"
#include "tests/support/MathExpectations.h"
#include "tests/support/RecordingValidityHook.h"
#include "tests/support/TestTree.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

using test::ExpectNear;
using test::ExpectSameRotation;

constexpr float Pi = 3.14159265f;
const Float3 AxisX(1.0f, 0.0f, 0.0f);
const Float3 AxisY(0.0f, 1.0f, 0.0f);
const Float3 AxisZ(0.0f, 0.0f, 1.0f);

// A camera standing wherever a test puts it.
class FakeCamera final : public CameraView {
public:
    void SetPose(Float3 position, Quaternion orientation) {
        orientation_ = orientation;
        world_ = Matrix4();
        orientation.ToMatrix(world_);
        world_.At(3, 0) = position.x;
        world_.At(3, 1) = position.y;
        world_.At(3, 2) = position.z;
    }

    Matrix4 GetCameraWorldMatrix() override { return world_; }
    Quaternion GetCameraWorldOrientation() override { return orientation_; }
    float GetFarDistance() override { return 1000.0f; }
    Matrix4 GetProjectionMatrix() override { return projection_; }
    void GetScreenRay(float x, float y, Float3& eye, Float3& farPoint) override {
        eye = Float3(world_.At(3, 0), world_.At(3, 1), world_.At(3, 2));
        farPoint = eye + Float3(x, y, 1.0f);
    }

    Matrix4 projection_;

private:
    Matrix4 world_;
    Quaternion orientation_;
};

class PivotTest : public ::testing::Test {
protected:
    void SetUp() override {
        TheIdMap().Clear();
        Pivot::RegisterClass();
    }
    void TearDown() override {
        CurrentCamera = nullptr;
        TheIdMap().Clear();
    }

    Pivot* Make(const char* name, Node* parent = nullptr) {
        return tree_.Make<Pivot>(name, parent);
    }
    void UseCamera(Float3 position, Quaternion orientation) {
        camera_.SetPose(position, orientation);
        CurrentCamera = &camera_;
    }

    test::TestTree tree_;
    FakeCamera camera_;
};

TEST_F(PivotTest, RegistersTwentyOneMethodsThenElevenConstantsUnderTheNamesThatFollow) {
    const auto& methods = Pivot::classInfo->GetOwnMethods();
    ASSERT_EQ(methods.size(), 21u);
    // The generated names count in base 26 from "aaa".
    std::string name = methods.back()->GetName();
    for (int32_t expected : {1, 2, 0, 1, 2, 3, 4, 5, 6, 7, 8}) {
        for (int i = 2; i >= 0 && ++name[i] > 'z'; --i) {
            name[i] = 'a';
        }
        int32_t value = -1;
        EXPECT_TRUE(FindNamedConstant(name.c_str(), &value)) << name;
        EXPECT_EQ(value, expected) << name;
    }
}

// Matrix modes -------------------------------------------------------------------------------

TEST_F(PivotTest, NormalWorldIsScaleTurnAndMoveTimesTheParentWorld) {
    Pivot* parent = Make("parent");
    parent->SetPosition({10.0f, 0.0f, 0.0f});
    parent->SetOrientation(Quaternion::FromAxisAngle(Pi / 2, AxisZ));
    Pivot* child = Make("child", parent);
    child->SetPosition({1.0f, 0.0f, 0.0f});
    child->SetScale(2.0f);
    ExpectNear(child->GetWorldPosition(), {10.0f, 1.0f, 0.0f});
    ExpectNear(child->GetWorldAxis(0), {0.0f, 2.0f, 0.0f});
    // The cache follows a parent that moves later.
    parent->SetPosition({0.0f, 5.0f, 0.0f});
    ExpectNear(child->GetWorldPosition(), {0.0f, 6.0f, 0.0f});
}

TEST_F(PivotTest, AbsolutePivotIgnoresItsParentAndStaysWhenTheParentMoves) {
    Pivot* parent = Make("parent");
    parent->SetPosition({5.0f, 0.0f, 0.0f});
    Pivot* child = Make("child", parent);
    child->SetPivotFlags(PivotAbsolute);
    child->SetPosition({1.0f, 2.0f, 3.0f});
    EXPECT_EQ(child->GetTransformParent(), nullptr);
    parent->SetPosition({50.0f, 0.0f, 0.0f});
    ExpectNear(child->GetWorldPosition(), {1.0f, 2.0f, 3.0f});
}

TEST_F(PivotTest, ScreenAndViewSpacePivotsFollowOnlyAParentOfTheirOwnMode) {
    for (int32_t mode : {MatrixScreen, MatrixViewSpace}) {
        Pivot* parent = Make("parent");
        parent->SetPosition({5.0f, 5.0f, 0.0f});
        Pivot* child = Make("child", parent);
        child->SetMatrixMode(mode);
        child->SetPosition({1.0f, 1.0f, 0.0f});
        ExpectNear(child->GetWorldPosition(), {1.0f, 1.0f, 0.0f});
        parent->SetMatrixMode(mode);
        ExpectNear(child->GetWorldPosition(), {6.0f, 6.0f, 0.0f});
    }
}

TEST_F(PivotTest, SkyboxTurnsInPlaceWithoutCameraAndRidesWithTheCamera) {
    Pivot* sky = Make("sky");
    sky->SetMatrixMode(MatrixSkybox);
    sky->SetPosition({3.0f, 3.0f, 3.0f});
    sky->SetOrientation(Quaternion::FromAxisAngle(Pi / 2, AxisZ));
    sky->SetScale(4.0f);
    ExpectNear(sky->GetWorldPosition(), {0.0f, 0.0f, 0.0f});
    ExpectNear(sky->GetWorldAxis(0), {0.0f, 1.0f, 0.0f});
    UseCamera({10.0f, 0.0f, 0.0f}, Quaternion());
    ExpectNear(sky->GetWorldPosition(), {13.0f, 3.0f, 3.0f});
}

TEST_F(PivotTest, BillboardTakesTheCameraTurnAndItsPlaceFromTheParent) {
    const Quaternion turn = Quaternion::FromAxisAngle(0.5f, AxisY);
    UseCamera({0.0f, 0.0f, -10.0f}, turn);
    Pivot* parent = Make("parent");
    parent->SetPosition({5.0f, 0.0f, 0.0f});
    parent->SetOrientation(Quaternion::FromAxisAngle(Pi / 2, AxisZ));
    Pivot* board = Make("board", parent);
    board->SetMatrixMode(MatrixBillboard);
    board->SetPosition({1.0f, 0.0f, 0.0f});
    board->SetOrientation(Quaternion::FromAxisAngle(1.0f, AxisX)); // not used
    ExpectNear(board->GetWorldPosition(), {5.0f, 1.0f, 0.0f});
    ExpectNear(board->GetWorldAxis(0), turn.RotateVector(AxisX));
    ExpectNear(board->GetWorldAxis(2), turn.RotateVector(AxisZ));
}

TEST_F(PivotTest, CameraSpacePivotIsPlacedByTheCameraOnEveryRead) {
    UseCamera({0.0f, 0.0f, -10.0f}, Quaternion());
    Pivot* pivot = Make("pivot");
    pivot->SetMatrixMode(MatrixCameraSpace);
    pivot->SetPosition({0.0f, 0.0f, 2.0f});
    ExpectNear(pivot->GetWorldPosition(), {0.0f, 0.0f, -8.0f});
    camera_.SetPose({0.0f, 0.0f, 0.0f}, Quaternion::FromAxisAngle(Pi / 2, AxisY));
    ExpectNear(pivot->GetWorldPosition(), {2.0f, 0.0f, 0.0f});
}

TEST_F(PivotTest, CameraLookAtPivotTurnsItsZAxisToTheCamera) {
    Pivot* parent = Make("parent");
    parent->SetPosition({0.0f, 0.0f, 5.0f});
    Pivot* pivot = Make("pivot", parent);
    pivot->SetMatrixMode(MatrixCameraLookAt);
    UseCamera({10.0f, 0.0f, 5.0f}, Quaternion());
    ExpectNear(pivot->GetWorldAxisZ(), {1.0f, 0.0f, 0.0f});
    ExpectNear(pivot->GetWorldPosition(), {0.0f, 0.0f, 5.0f});
    camera_.SetPose({0.0f, 10.0f, 5.0f}, Quaternion());
    ExpectNear(pivot->GetWorldAxisZ(), {0.0f, 1.0f, 0.0f});
}

TEST_F(PivotTest, QuarnPivotIsTheIdentityWhateverItsFields) {
    Pivot* parent = Make("parent");
    parent->SetPosition({5.0f, 0.0f, 0.0f});
    Pivot* pivot = Make("pivot", parent);
    pivot->SetMatrixMode(MatrixQuarn);
    pivot->SetPosition({1.0f, 2.0f, 3.0f});
    pivot->SetScale(3.0f);
    pivot->SetOrientation(Quaternion::FromAxisAngle(1.0f, AxisX));
    const Matrix4 identity;
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(pivot->GetWorldMatrix().m[i], identity.m[i]) << i;
    }
}

TEST_F(PivotTest, CameraShearPivotSitsAtItsDepthShiftedInProjectedSpace) {
    UseCamera({1.0f, 2.0f, 3.0f}, Quaternion());
    Matrix4& projection = camera_.projection_;
    projection.At(0, 0) = 2.0f;
    projection.At(1, 1) = 3.0f;
    projection.At(2, 2) = 1.5f;
    projection.At(2, 3) = 1.0f;
    projection.At(3, 2) = -0.5f;
    projection.At(3, 3) = 0.0f;
    Pivot* pivot = Make("pivot");
    pivot->SetMatrixMode(MatrixCameraShear);
    pivot->SetPosition({0.0f, 0.0f, 7.0f});
    ExpectNear(pivot->GetWorldPosition(), {1.0f, 2.0f, 10.0f}, 1e-4f);
    pivot->SetPosition({0.5f, -0.25f, 4.0f});
    ExpectNear(pivot->GetWorldPosition(), {3.0f, 1.0f, 7.0f}, 1e-4f);
}

TEST_F(PivotTest, PivotBelowABillboardFollowsTheCameraWithoutTheBillboardBeingRead) {
    UseCamera({0.0f, 0.0f, 0.0f}, Quaternion());
    Pivot* board = Make("board");
    board->SetMatrixMode(MatrixBillboard);
    Pivot* sprite = Make("sprite", board);
    sprite->SetPosition({0.0f, 0.0f, 1.0f});
    ExpectNear(sprite->GetWorldPosition(), {0.0f, 0.0f, 1.0f});
    camera_.SetPose({0.0f, 0.0f, 0.0f}, Quaternion::FromAxisAngle(Pi / 2, AxisY));
    ExpectNear(sprite->GetWorldPosition(), {1.0f, 0.0f, 0.0f});
}

TEST_F(PivotTest, CameraThatFollowsTheCameraDoesNotAskItselfForEver) {
    // The camera's own pivot in a camera-dependent mode: its matrix asks the camera, which asks
    // the pivot again.
    struct SelfCamera final : CameraView {
        Pivot* pivot = nullptr;
        Matrix4 GetCameraWorldMatrix() override { return pivot->GetWorldMatrix(); }
        Quaternion GetCameraWorldOrientation() override { return pivot->GetWorldOrientation(); }
        float GetFarDistance() override { return 100.0f; }
        Matrix4 GetProjectionMatrix() override { return {}; }
        void GetScreenRay(float, float, Float3&, Float3&) override {}
    } camera;
    camera.pivot = Make("camera");
    camera.pivot->SetMatrixMode(MatrixCameraSpace);
    camera.pivot->SetPosition({1.0f, 2.0f, 3.0f});
    CurrentCamera = &camera;
    const Float3 position = camera.pivot->GetWorldPosition();
    EXPECT_TRUE(std::isfinite(position.x) && std::isfinite(position.y) &&
                std::isfinite(position.z));
}

// World and local space ------------------------------------------------------------------------

class PivotUnderScaledParentTest : public PivotTest {
protected:
    void SetUp() override {
        PivotTest::SetUp();
        parent_ = Make("parent");
        parent_->SetPosition({3.0f, -2.0f, 1.0f});
        parent_->SetOrientation(Quaternion::FromEuler({0.3f, 0.7f, -1.1f}));
        parent_->SetScale(2.5f);
        child_ = Make("child", parent_);
    }

    Pivot* parent_ = nullptr;
    Pivot* child_ = nullptr;
};

TEST_F(PivotUnderScaledParentTest, WorldPositionAndPointsRoundTrip) {
    child_->SetWorldPosition({7.0f, 8.0f, -9.0f});
    ExpectNear(child_->GetWorldPosition(), {7.0f, 8.0f, -9.0f}, 1e-4f);
    const Float3 point(0.5f, -1.5f, 2.0f);
    ExpectNear(child_->WorldToLocal(child_->LocalToWorld(point)), point, 1e-4f);
}

TEST_F(PivotUnderScaledParentTest, WorldOrientationRoundTrips) {
    const Quaternion wanted = Quaternion::FromEuler({-0.4f, 1.2f, 0.25f});
    child_->SetWorldOrientation(wanted);
    ExpectSameRotation(child_->GetWorldOrientation(), wanted, 1e-4f);
}

TEST_F(PivotTest, WorldOrientationOfAScaledPivotIsItsTurnAlone) {
    // One turn per branch of the matrix-to-quaternion conversion.
    const Quaternion turns[] = {
        Quaternion::FromAxisAngle(Pi / 2, AxisX),
        Quaternion::FromAxisAngle(Pi, AxisX),
        Quaternion::FromAxisAngle(Pi, AxisY),
        Quaternion::FromAxisAngle(Pi, AxisZ),
    };
    for (const Quaternion& turn : turns) {
        Pivot* parent = Make("parent");
        parent->SetScale(2.0f);
        parent->SetOrientation(turn);
        Pivot* child = Make("child", parent);
        ExpectSameRotation(child->GetWorldOrientation(), turn, 1e-5f);
    }
}

TEST_F(PivotTest, SetWorldMatrixTakesScaleAndTurnApart) {
    Matrix4 scale;
    scale.At(0, 0) = scale.At(1, 1) = scale.At(2, 2) = 2.0f;
    Matrix4 turn;
    Quaternion::FromAxisAngle(Pi / 2, AxisX).ToMatrix(turn);
    Matrix4 world;
    scale.Multiply(turn, world);
    world.At(3, 0) = 1.0f;
    world.At(3, 1) = 2.0f;
    world.At(3, 2) = 3.0f;
    Pivot* pivot = Make("pivot");
    pivot->SetWorldMatrix(world);
    EXPECT_NEAR(pivot->GetScale(), 2.0f, 1e-6f);
    ExpectSameRotation(pivot->GetOrientation(), Quaternion::FromAxisAngle(Pi / 2, AxisX));
    ExpectNear(pivot->GetPosition(), {1.0f, 2.0f, 3.0f});
}

TEST_F(PivotTest, TurningAbsoluteOnAndModeBackToNormalKeepTheWorldPlace) {
    UseCamera({0.0f, 0.0f, -10.0f}, Quaternion::FromAxisAngle(0.3f, AxisY));
    Pivot* parent = Make("parent");
    parent->SetPosition({5.0f, 0.0f, 0.0f});
    parent->SetOrientation(Quaternion::FromAxisAngle(Pi / 2, AxisZ));
    Pivot* child = Make("child", parent);
    child->SetPosition({1.0f, 0.0f, 0.0f});
    child->SetOrientation(Quaternion::FromAxisAngle(0.5f, AxisX));
    const Float3 position = child->GetWorldPosition();
    const Quaternion orientation = child->GetWorldOrientation();
    child->SetPivotFlags(PivotAbsolute);
    ExpectNear(child->GetWorldPosition(), position);
    ExpectSameRotation(child->GetWorldOrientation(), orientation);

    Pivot* other = Make("other", parent);
    other->SetMatrixMode(MatrixCameraSpace);
    other->SetPosition({0.0f, 1.0f, 4.0f});
    const Float3 seen = other->GetWorldPosition();
    other->SetMatrixMode(MatrixNormal);
    ExpectNear(other->GetWorldPosition(), seen, 1e-5f);
}

// Setters and turns ----------------------------------------------------------------------------

TEST_F(PivotTest, ScaleOfZeroOrBelowIsIgnored) {
    Pivot* pivot = Make("pivot");
    pivot->SetScale(3.0f);
    pivot->SetScale(0.0f);
    pivot->SetScale(-1.0f);
    EXPECT_EQ(pivot->GetScale(), 3.0f);
}

TEST_F(PivotTest, TwoAndAHalfDKeepsOnlyTheTurnAboutZ) {
    Pivot* pivot = Make("pivot");
    pivot->SetPivotFlags(Pivot2D);
    pivot->SetOrientation(Quaternion::FromEuler({0.4f, 0.5f, 0.6f}));
    const Quaternion q = pivot->GetOrientation();
    EXPECT_EQ(q.x, 0.0f);
    EXPECT_EQ(q.y, 0.0f);
    EXPECT_NEAR(q.z * q.z + q.w * q.w, 1.0f, 1e-5f);
    // A half turn about X has nothing about Z: the identity, not a zero quaternion.
    pivot->SetOrientation(Quaternion::FromAxisAngle(Pi, AxisX));
    ExpectSameRotation(pivot->GetOrientation(), Quaternion());
}

TEST_F(PivotTest, SetWorldAxisPointsTheAxisAlongTheDirection) {
    Pivot* parent = Make("parent");
    parent->SetOrientation(Quaternion::FromEuler({0.2f, -0.9f, 0.4f}));
    Pivot* pivot = Make("pivot", parent);
    pivot->SetWorldAxis(2, {0.0f, 0.0f, 3.0f});
    ExpectNear(pivot->GetWorldAxis(2), {0.0f, 0.0f, 1.0f}, 1e-5f);
    pivot->SetWorldAxis(0, {0.0f, -1.0f, 0.0f});
    ExpectNear(pivot->GetWorldAxis(0), {0.0f, -1.0f, 0.0f}, 1e-5f);

    test::RecordingValidityHook hook;
    const Quaternion before = pivot->GetOrientation();
    pivot->SetWorldAxis(3, {1.0f, 0.0f, 0.0f});
    ExpectNear(pivot->GetWorldAxis(-1), {0.0f, 0.0f, 0.0f});
    EXPECT_EQ(hook.Messages().size(), 2u);
    ExpectSameRotation(pivot->GetOrientation(), before, 0.0f);
}

TEST_F(PivotTest, TransformByDeltaAppliesTheTurnAndMoveFromAToB) {
    Pivot* a = Make("a");
    a->SetPosition({1.0f, 0.0f, 0.0f});
    Pivot* b = Make("b");
    b->SetPosition({1.0f, 2.0f, 0.0f});
    b->SetOrientation(Quaternion::FromAxisAngle(Pi / 2, AxisZ));
    Pivot* pivot = Make("pivot");
    pivot->SetPosition({5.0f, 5.0f, 5.0f});
    pivot->TransformByDelta(a, b);
    ExpectNear(pivot->GetWorldPosition(), {5.0f, 7.0f, 5.0f});
    ExpectSameRotation(pivot->GetWorldOrientation(), Quaternion::FromAxisAngle(Pi / 2, AxisZ));
    pivot->TransformByDelta(a, nullptr); // a missing node changes nothing
    ExpectNear(pivot->GetWorldPosition(), {5.0f, 7.0f, 5.0f});
}

TEST_F(PivotTest, LookAlongTurnsZOntoTheDirectionWithoutRoll) {
    ExpectSameRotation(LookAlong({0.0f, 0.0f, 0.0f}), Quaternion(), 0.0f);
    ExpectNear(LookAlong({3.0f, 0.0f, 0.0f}).RotateVector(AxisZ), {1.0f, 0.0f, 0.0f});
    ExpectNear(LookAlong({-3.0f, 0.0f, 0.0f}).RotateVector(AxisZ), {-1.0f, 0.0f, 0.0f});
    ExpectNear(LookAlong({0.0f, 2.0f, 0.0f}).RotateVector(AxisZ), {0.0f, 1.0f, 0.0f});
    const Float3 slanted = Float3(1.0f, 1.0f, -1.0f).NormalizedOrSelf();
    const Quaternion look = LookAlong(slanted);
    ExpectNear(look.RotateVector(AxisZ), slanted);
    // No roll: the X axis stays level.
    EXPECT_NEAR(look.RotateVector(AxisX).y, 0.0f, 1e-6f);
}

// Editor operations ----------------------------------------------------------------------------

TEST_F(PivotTest, CenterOnChildrenMovesThePivotAndEveryChildKeepsItsWorldPlace) {
    Pivot* group = Make("group");
    Pivot* a = Make("a", group);
    a->SetPosition({2.0f, 0.0f, 0.0f});
    Node* folder = tree_.Make<Node>("folder", group);
    Pivot* b = Make("b", folder);
    b->SetPosition({4.0f, 2.0f, 0.0f});
    Pivot* absolute = Make("absolute", group);
    absolute->SetPivotFlags(PivotAbsolute);
    absolute->SetPosition({0.0f, 4.0f, 0.0f});
    Pivot* screen = Make("screen", group);
    screen->SetMatrixMode(MatrixScreen);
    screen->SetPosition({6.0f, 6.0f, 0.0f});

    group->CenterOnChildren();
    ExpectNear(group->GetWorldPosition(), {3.0f, 3.0f, 0.0f});
    ExpectNear(a->GetWorldPosition(), {2.0f, 0.0f, 0.0f});
    ExpectNear(b->GetWorldPosition(), {4.0f, 2.0f, 0.0f});
    ExpectNear(absolute->GetWorldPosition(), {0.0f, 4.0f, 0.0f});
    ExpectNear(screen->GetWorldPosition(), {6.0f, 6.0f, 0.0f});
}

TEST_F(PivotTest, DeleteFlaggedNodesTakesMarkedSubtreesAndKeepsTheRest) {
    Pivot* root = Make("root");
    Pivot* marked = Make("marked", root);
    Pivot* below = Make("below", marked);
    Pivot* kept = Make("kept", root);
    Node* deep = tree_.Make<Node>("deep", kept);
    marked->SetFlag(NodeMarkedForDeletion, true);
    deep->SetFlag(NodeMarkedForDeletion, true);
    const uint64_t gone[] = {marked->GetSerial(), below->GetSerial(), deep->GetSerial()};
    DeleteFlaggedNodes(root);
    for (uint64_t serial : gone) {
        EXPECT_EQ(Entity::FindBySerial(serial), nullptr);
    }
    EXPECT_EQ(root->GetFirstChild(), kept);
    EXPECT_EQ(kept->GetNext(), nullptr);
    EXPECT_EQ(kept->GetFirstChild(), nullptr);
}

} // namespace
} // namespace quarn
