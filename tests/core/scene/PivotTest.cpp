#include "core/scene/Pivot.h"

#include "core/scene/EngineState.h"
#include "tests/support/FakeCamera.h"
#include "tests/support/MathExpectations.h"
#include "tests/support/RecordingValidityHook.h"
#include "tests/support/TestTree.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace quarn {
namespace {

using test::ExpectNear;
using test::ExpectSameRotation;

constexpr float Pi = 3.14159265f;
const Float3 AxisX(1.0f, 0.0f, 0.0f);
const Float3 AxisY(0.0f, 1.0f, 0.0f);
const Float3 AxisZ(0.0f, 0.0f, 1.0f);

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

    Pivot* Make(const char* name, Node* parent = nullptr, Float3 position = {},
                int32_t mode = MatrixNormal) {
        Pivot* pivot = tree_.Make<Pivot>(name, parent);
        pivot->SetMatrixMode(mode);
        pivot->SetPosition(position);
        return pivot;
    }
    void UseCamera(Float3 position, Quaternion orientation) {
        camera_.SetPose(position, orientation);
        CurrentCamera = &camera_;
    }

    test::TestTree tree_;
    test::FakeCamera camera_;
};

Quaternion Turn(float angle, const Float3& axis) {
    return Quaternion::FromAxisAngle(angle, axis);
}

// Matrix modes -------------------------------------------------------------------------------

TEST_F(PivotTest, NormalWorldFollowsTheParentAndAbsoluteIgnoresIt) {
    Pivot* parent = Make("parent", nullptr, {10.0f, 0.0f, 0.0f});
    parent->SetOrientation(Turn(Pi / 2, AxisZ));
    Pivot* child = Make("child", parent, {1.0f, 0.0f, 0.0f});
    child->SetScale(2.0f);
    Pivot* absolute = Make("absolute", parent);
    absolute->SetPivotFlags(PivotAbsolute);
    absolute->SetPosition({1.0f, 2.0f, 3.0f});
    ExpectNear(child->GetWorldPosition(), {10.0f, 1.0f, 0.0f});
    ExpectNear(child->GetWorldAxis(0), {0.0f, 2.0f, 0.0f});
    // The cache follows a parent that moves later.
    parent->SetPosition({0.0f, 5.0f, 0.0f});
    ExpectNear(child->GetWorldPosition(), {0.0f, 6.0f, 0.0f});
    ExpectNear(absolute->GetWorldPosition(), {1.0f, 2.0f, 3.0f});
}

// Made absolute by an edit, a pivot stays where it is in the world; by a load, it takes the
// position the file gives, whether the file lists the flags or the position first.
TEST_F(PivotTest, TurningAbsoluteKeepsTheWorldPlaceInAnEditAndTheFilesPositionInALoad) {
    const struct {
        int32_t state;
        bool positionFirst;
        Float3 world;
    } cases[] = {
        {EngineRunning, true, {1.0f, 2.5f, 0.0f}},
        {EngineLoading, true, {1.0f, 2.0f, 0.0f}},
        {EngineLoading, false, {1.0f, 2.0f, 0.0f}},
    };
    for (const auto& c : cases) {
        Pivot* parent = Make("parent", nullptr, {0.0f, 0.5f, 0.0f});
        Pivot* child = Make("child", parent);
        EngineStateScope state(c.state);
        if (c.positionFirst) {
            child->SetPosition({1.0f, 2.0f, 0.0f});
        }
        child->SetPivotFlags(PivotAbsolute);
        if (!c.positionFirst) {
            child->SetPosition({1.0f, 2.0f, 0.0f});
        }
        ExpectNear(child->GetWorldPosition(), c.world);
    }
}

TEST_F(PivotTest, ANodeThatOnlyCarriesThePivotBitIsNoPivotAndPassesNoTransform) {
    Pivot* top = Make("top", nullptr, {5.0f, 0.0f, 0.0f});
    // The kind bits can be written like any other flag; only a real pivot answers as one.
    Node* forged = tree_.Make<Node>("forged", top);
    forged->SetFlags(NodeKindPivot, NodeKindPivot);
    Pivot* below = Make("below", forged, {1.0f, 0.0f, 0.0f});
    EXPECT_EQ(AsPivot(forged), nullptr);
    EXPECT_EQ(AsPivot(top), top);
    EXPECT_EQ(below->GetTransformParent(), top);
    ExpectNear(below->GetWorldPosition(), {6.0f, 0.0f, 0.0f});
    // Moving the top reaches the pivot below through the forged node.
    top->SetPosition({0.0f, 2.0f, 0.0f});
    ExpectNear(below->GetWorldPosition(), {1.0f, 2.0f, 0.0f});
}

TEST_F(PivotTest, ScreenAndViewSpacePivotsFollowOnlyAParentOfTheirOwnMode) {
    for (int32_t mode : {MatrixScreen, MatrixViewSpace}) {
        Pivot* parent = Make("parent", nullptr, {5.0f, 5.0f, 0.0f});
        Pivot* child = Make("child", parent, {1.0f, 1.0f, 0.0f}, mode);
        ExpectNear(child->GetWorldPosition(), {1.0f, 1.0f, 0.0f});
        parent->SetMatrixMode(mode); // clears the child's cached matrix too
        ExpectNear(child->GetWorldPosition(), {6.0f, 6.0f, 0.0f});
    }
}

TEST_F(PivotTest, CameraDependentPivotsAndTheirChildrenFollowTheCameraOnEveryRead) {
    Pivot* sky = Make("sky", nullptr, {3.0f, 3.0f, 3.0f}, MatrixSkybox);
    sky->SetOrientation(Turn(Pi / 2, AxisZ));
    sky->SetScale(4.0f);
    ExpectNear(sky->GetWorldPosition(), {0.0f, 0.0f, 0.0f}); // no camera: turned in place
    ExpectNear(sky->GetWorldAxis(0), {0.0f, 1.0f, 0.0f});

    UseCamera({10.0f, 0.0f, 5.0f}, Quaternion());
    ExpectNear(sky->GetWorldPosition(), {13.0f, 3.0f, 8.0f});
    const Quaternion turn = Turn(0.5f, AxisY);
    camera_.SetPose({10.0f, 0.0f, 5.0f}, turn);
    Pivot* parent = Make("parent", nullptr, {5.0f, 0.0f, 5.0f});
    parent->SetOrientation(Turn(Pi / 2, AxisZ));
    Pivot* board = Make("board", parent, {1.0f, 0.0f, 0.0f}, MatrixBillboard);
    board->SetOrientation(Turn(1.0f, AxisX)); // not used
    ExpectNear(board->GetWorldPosition(), {5.0f, 1.0f, 5.0f});
    ExpectNear(board->GetWorldAxis(2), turn.RotateVector(AxisZ));
    Pivot* lookAt =
        Make("lookat", Make("holder", nullptr, {5.0f, 0.0f, 5.0f}), {}, MatrixCameraLookAt);
    ExpectNear(lookAt->GetWorldPosition(), {5.0f, 0.0f, 5.0f});
    ExpectNear(lookAt->GetWorldAxisZ(), {1.0f, 0.0f, 0.0f});
    Pivot* inCamera = Make("camera space", nullptr, {0.0f, 0.0f, 2.0f}, MatrixCameraSpace);
    // Below a billboard, without the billboard being read again.
    Pivot* sprite =
        Make("sprite", Make("plain board", nullptr, {}, MatrixBillboard), {0.0f, 0.0f, 1.0f});
    ExpectNear(sprite->GetWorldPosition(), turn.RotateVector(AxisZ));

    camera_.SetPose({5.0f, 10.0f, 5.0f}, Turn(Pi / 2, AxisY));
    ExpectNear(lookAt->GetWorldAxisZ(), {0.0f, 1.0f, 0.0f});
    ExpectNear(inCamera->GetWorldPosition(), {7.0f, 10.0f, 5.0f});
    ExpectNear(sprite->GetWorldPosition(), {1.0f, 0.0f, 0.0f});
}

TEST_F(PivotTest, APivotBelowABillboardFollowsTheCameraWhateverOtherPivotsCameAndWent) {
    // Reads skip the camera check while no pivot follows the camera, so the count of those
    // that do must survive deletions and mode changes in either direction.
    UseCamera({}, Quaternion());
    Pivot* gone = Make("gone", nullptr, {}, MatrixBillboard);
    Pivot* board = Make("board", nullptr, {}, MatrixSkybox);
    board->SetMatrixMode(MatrixNormal);
    board->SetMatrixMode(MatrixBillboard);
    Pivot* turned = Make("turned", nullptr, {}, MatrixCameraSpace);
    turned->SetMatrixMode(MatrixBillboard);
    turned->SetMatrixMode(MatrixNormal);
    Pivot* sprite = Make("sprite", board, {0.0f, 0.0f, 1.0f});
    gone->Delete();
    ExpectNear(sprite->GetWorldPosition(), AxisZ);
    camera_.SetPose({}, Turn(Pi / 2, AxisY));
    ExpectNear(sprite->GetWorldPosition(), AxisX);
    board->SetMatrixMode(MatrixNormal);
    ExpectNear(sprite->GetWorldPosition(), AxisZ);
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
    camera.pivot = Make("camera", nullptr, {1.0f, 2.0f, 3.0f}, MatrixCameraSpace);
    CurrentCamera = &camera;
    const Float3 position = camera.pivot->GetWorldPosition();
    EXPECT_TRUE(std::isfinite(position.x) && std::isfinite(position.y) &&
                std::isfinite(position.z));
}

// World and local space ------------------------------------------------------------------------

TEST_F(PivotTest, WorldPlacesRoundTripBelowATurnedScaledParent) {
    Pivot* parent = Make("parent", nullptr, {3.0f, -2.0f, 1.0f});
    parent->SetOrientation(Quaternion::FromEuler({0.3f, 0.7f, -1.1f}));
    parent->SetScale(2.5f);
    Pivot* child = Make("child", parent);
    child->SetWorldPosition({7.0f, 8.0f, -9.0f});
    ExpectNear(child->GetWorldPosition(), {7.0f, 8.0f, -9.0f}, 1e-4f);
    const Float3 point(0.5f, -1.5f, 2.0f);
    ExpectNear(child->WorldToLocal(child->LocalToWorld(point)), point, 1e-4f);
    const Quaternion wanted = Quaternion::FromEuler({-0.4f, 1.2f, 0.25f});
    child->SetWorldOrientation(wanted);
    ExpectSameRotation(child->GetWorldOrientation(), wanted, 1e-4f);

    // One turn per branch of the matrix-to-quaternion conversion: the turn alone, not the scale.
    for (const Quaternion& turn :
         {Turn(Pi / 2, AxisX), Turn(Pi, AxisX), Turn(Pi, AxisY), Turn(Pi, AxisZ)}) {
        parent->SetScale(2.0f);
        parent->SetOrientation(turn);
        ExpectSameRotation(Make("scaled child", parent)->GetWorldOrientation(), turn, 1e-5f);
    }
}

TEST_F(PivotTest, SetWorldMatrixTakesScaleAndTurnApart) {
    Matrix4 scale;
    scale.At(0, 0) = scale.At(1, 1) = scale.At(2, 2) = 2.0f;
    Matrix4 turn;
    Turn(Pi / 2, AxisX).ToMatrix(turn);
    Matrix4 world;
    scale.Multiply(turn, world);
    world.At(3, 0) = 1.0f;
    world.At(3, 1) = 2.0f;
    world.At(3, 2) = 3.0f;
    Pivot* pivot = Make("pivot");
    pivot->SetWorldMatrix(world);
    EXPECT_NEAR(pivot->GetScale(), 2.0f, 1e-6f);
    ExpectSameRotation(pivot->GetOrientation(), Turn(Pi / 2, AxisX));
    ExpectNear(pivot->GetPosition(), {1.0f, 2.0f, 3.0f});
}

// Setters and turns ----------------------------------------------------------------------------

TEST_F(PivotTest, ScaleBelowZeroIsIgnoredAndTwoAndAHalfDKeepsOnlyTheTurnAboutZ) {
    Pivot* pivot = Make("pivot");
    pivot->SetScale(3.0f);
    pivot->SetScale(0.0f);
    pivot->SetScale(-1.0f);
    EXPECT_EQ(pivot->GetScale(), 3.0f);
    pivot->SetPivotFlags(Pivot2D);
    pivot->SetOrientation(Quaternion::FromEuler({0.4f, 0.5f, 0.6f}));
    const Quaternion q = pivot->GetOrientation();
    EXPECT_EQ(q.x, 0.0f);
    EXPECT_EQ(q.y, 0.0f);
    EXPECT_NEAR(q.z * q.z + q.w * q.w, 1.0f, 1e-5f);
    // A half turn about X has nothing about Z: the identity, not a zero quaternion.
    pivot->SetOrientation(Turn(Pi, AxisX));
    ExpectSameRotation(pivot->GetOrientation(), Quaternion());
    // A NaN, an infinity or parts too large or too small to normalise are no rotation: the
    // pivot keeps its own, so that a load and a save of the value agree.
    pivot->SetOrientation(Turn(0.5f, AxisZ));
    const Quaternion kept = pivot->GetOrientation();
    for (const Quaternion& bad :
         {Quaternion(0.0f, 0.0f, 0.0f, std::nanf("")), Quaternion(0.0f, 0.0f, 0.0f, INFINITY),
          Quaternion(0.0f, 0.0f, 1e27f, 0.9f), Quaternion(0.0f, 0.0f, 3e-42f, 1e-39f),
          Quaternion(0.0f, 0.0f, 0.0f, 4.4e-22f)}) {
        pivot->SetOrientation(bad);
        ExpectSameRotation(pivot->GetOrientation(), kept);
    }
    // Made 2½d after a turn in 3D, it keeps the turn about Z, as a load sets flags first.
    Pivot* turned = Make("turned");
    turned->SetOrientation(Quaternion::FromEuler({0.4f, 0.5f, 0.6f}));
    turned->SetPivotFlags(Pivot2D);
    ExpectSameRotation(turned->GetOrientation(), q);
    // A half turn about Y, but for parts about Z too small to normalise, has none left.
    Pivot* halfTurned = Make("half turned");
    halfTurned->SetOrientation(Quaternion(0.0f, 1.0f, 3e-42f, 1e-39f));
    halfTurned->SetPivotFlags(Pivot2D);
    ExpectSameRotation(halfTurned->GetOrientation(), Quaternion());
}

TEST_F(PivotTest, SetWorldAxisPointsTheAxisAlongTheDirection) {
    Pivot* parent = Make("parent");
    parent->SetOrientation(Quaternion::FromEuler({0.2f, -0.9f, 0.4f}));
    Pivot* pivot = Make("pivot", parent);
    pivot->SetWorldAxis(2, {0.0f, 0.0f, 3.0f});
    ExpectNear(pivot->GetWorldAxis(2), {0.0f, 0.0f, 1.0f}, 1e-5f);

    test::RecordingValidityHook hook;
    const Quaternion before = pivot->GetOrientation();
    pivot->SetWorldAxis(3, {1.0f, 0.0f, 0.0f});
    ExpectNear(pivot->GetWorldAxis(-1), {0.0f, 0.0f, 0.0f});
    EXPECT_EQ(hook.Messages().size(), 2u);
    ExpectSameRotation(pivot->GetOrientation(), before, 0.0f);
}

TEST_F(PivotTest, LookAlongTurnsZOntoTheDirectionWithoutRoll) {
    ExpectSameRotation(LookAlong({0.0f, 0.0f, 0.0f}), Quaternion(), 0.0f);
    for (const Float3& direction : {Float3(3.0f, 0.0f, 0.0f), Float3(-3.0f, 0.0f, 0.0f),
                                    Float3(0.0f, 2.0f, 0.0f), Float3(1.0f, 1.0f, -1.0f)}) {
        const Quaternion look = LookAlong(direction);
        ExpectNear(look.RotateVector(AxisZ), direction.NormalizedOrSelf());
        if (direction.x != 0.0f) {
            EXPECT_NEAR(look.RotateVector(AxisX).y, 0.0f, 1e-6f); // the X axis stays level
        }
    }
}

// Editor operations ----------------------------------------------------------------------------

TEST_F(PivotTest, CenterOnChildrenMovesThePivotAndEveryChildKeepsItsWorldPlace) {
    Pivot* group = Make("group");
    Pivot* a = Make("a", group, {2.0f, 0.0f, 0.0f});
    Pivot* b = Make("b", tree_.Make<Node>("folder", group), {4.0f, 2.0f, 0.0f});
    Pivot* absolute = Make("absolute", group);
    absolute->SetPivotFlags(PivotAbsolute);
    absolute->SetPosition({0.0f, 4.0f, 0.0f});
    Pivot* screen = Make("screen", group, {6.0f, 6.0f, 0.0f}, MatrixScreen);
    group->CenterOnChildren();
    ExpectNear(group->GetWorldPosition(), {3.0f, 3.0f, 0.0f});
    ExpectNear(a->GetWorldPosition(), {2.0f, 0.0f, 0.0f});
    ExpectNear(b->GetWorldPosition(), {4.0f, 2.0f, 0.0f});
    ExpectNear(absolute->GetWorldPosition(), {0.0f, 4.0f, 0.0f});
    ExpectNear(screen->GetWorldPosition(), {6.0f, 6.0f, 0.0f});
}

// Setting the pose at once --------------------------------------------------------------------

std::vector<std::string> poseEvents;
bool deleteOnMove = false;

// A negative zero is a value of its own, whichever setter gives it: a save writes it and the
// next load of that save must give it again.
TEST_F(PivotTest, ANegativeZeroReplacesAZero) {
    const Float3 position(0.0f, 0.0f, -0.0f);
    const Quaternion orientation(-0.0f, 0.0f, 0.0f, 1.0f);
    for (const bool pose : {false, true}) {
        Pivot* pivot = Make("pivot");
        if (pose) {
            pivot->SetPose(position, orientation);
        } else {
            pivot->SetPosition(position);
            pivot->SetOrientation(orientation);
        }
        EXPECT_TRUE(std::signbit(pivot->GetPosition().z)) << pose;
        EXPECT_TRUE(std::signbit(pivot->GetOrientation().x)) << pose;
    }
}

TEST_F(PivotTest, SetPoseLeavesWhatBothSettersLeaveAndTellsTheSameListeners) {
    // Each property's listener is given a pivot named after it.
    std::vector<std::pair<Property*, Pivot*>> heard;
    for (const char* name : {"pos", "orient"}) {
        Pivot* owner = Make(name);
        heard.emplace_back(owner->FindProperty(name), owner);
        heard.back().first->AddListener(
            Property::ListenerOfGiven, owner, nullptr,
            [](Entity* given, Entity& object, const uint32_t*, const uint32_t*) {
                poseEvents.push_back(object.GetName() + ":" + given->GetName());
                if (deleteOnMove && given->GetName() == "pos") {
                    object.Delete();
                }
            },
            0);
    }
    const Float3 start(1.0f, 2.0f, 3.0f);
    const Quaternion turn = Turn(0.5f, AxisY);
    // Moved and turned, only moved, only turned, neither, and a turn no pivot takes.
    const std::pair<Float3, Quaternion> cases[] = {
        {{4.0f, 5.0f, 6.0f}, Turn(1.0f, AxisX)}, {{4.0f, 5.0f, 6.0f}, turn},
        {start, Quaternion(0.0f, 0.0f, 2.0f, 2.0f)}, {start, turn},
        {{0.0f, 1.0f, 0.0f}, Quaternion(0.0f, 0.0f, 0.0f, std::nanf(""))}};
    for (const auto& [position, orientation] : cases) {
        Pivot* parent = Make("parent", nullptr, {0.0f, 0.0f, -2.0f});
        Pivot* twice = Make("p", parent, start);
        Pivot* once = Make("p", parent, start);
        twice->SetOrientation(turn);
        once->SetOrientation(turn);
        ExpectNear(once->GetWorldPosition(), twice->GetWorldPosition());
        poseEvents.clear();
        twice->SetPosition(position);
        twice->SetOrientation(orientation);
        const std::vector<std::string> expected = poseEvents;
        poseEvents.clear();
        once->SetPose(position, orientation);
        EXPECT_EQ(poseEvents, expected);
        ExpectSameRotation(once->GetOrientation(), twice->GetOrientation());
        ExpectNear(once->GetWorldPosition(), twice->GetWorldPosition());
        ExpectNear(once->GetWorldAxis(2), twice->GetWorldAxis(2));
    }
    // A listener deletes the pivot on hearing of the move: nothing touches it afterwards.
    deleteOnMove = true;
    poseEvents.clear();
    Make("doomed")->SetPose({1.0f, 0.0f, 0.0f}, turn);
    deleteOnMove = false;
    EXPECT_EQ(poseEvents, std::vector<std::string>{"doomed:pos"});
    for (const auto& [property, owner] : heard) {
        property->RemoveListenersOf(owner);
    }
}

} // namespace
} // namespace quarn
