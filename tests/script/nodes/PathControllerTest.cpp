#include "script/nodes/PathController.h"

#include "core/object/IdMap.h"
#include "core/object/Signals.h"
#include "tests/script/machine/ScriptRunSupport.h"
#include "tests/support/EventLog.h"
#include "tests/support/MathExpectations.h"
#include "tests/support/TestClass.h"
#include "tests/support/TestTree.h"

#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace quarn {
namespace {

// Records each "pathdone" call's argument record and may run an action on it.
class PathWitness : public test::TestClass<PathWitness, Node> {
public:
    static constexpr const char* Name = "PathTestWitness";
    static void Declare(ClassInfo& info) {
        info.AddMethod("pathdone", "()", BindSignalHandler<&PathWitness::OnPathDone>(), 0);
    }
    void OnPathDone(void* argument) {
        const auto* record = static_cast<const uint32_t*>(argument);
        calls.push_back({record[0], record[1]});
        if (std::function<void()> run = action) {
            run();
        }
    }
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    std::function<void()> action;
};

class PathControllerTest : public ::testing::Test {
protected:
    template <class T>
    T* Make(const char* name, Node* parent) {
        T* node = tree_.Make<T>(name, parent);
        node->ChangeId(TheIdMap().GetFreeLocalId(0));
        return node;
    }
    // A controller under the root with straight waypoints at the given x positions.
    PathController* MakePath(std::vector<float> xs, uint32_t flags) {
        root_ = Make<Node>("root", nullptr);
        target_ = Make<Pivot>("target", root_);
        witness_ = Make<PathWitness>("witness", root_);
        PathController* path = Make<PathController>("path", root_);
        for (float x : xs) {
            waypoints_.push_back(Make<PathPivot>("waypoint", path));
            waypoints_.back()->SetPosition(Float3(x, 0, 0));
        }
        path->SetPathFlags(flags | PathActive);
        path->SetSpeed(5.0f);
        path->SetTargetId({target_->GetId()});
        path->SetWitnessId({witness_->GetId()});
        return path;
    }
    static void Run(PathController* path, float seconds, float step = 0.25f) {
        for (float t = 0; t < seconds; t += step) {
            path->Update(step, 1);
        }
    }

    test::TestTree tree_;
    Node* root_ = nullptr;
    Pivot* target_ = nullptr;
    PathWitness* witness_ = nullptr;
    std::vector<PathPivot*> waypoints_;
};

TEST_F(PathControllerTest, AStraightPathEndsOnItsLastWaypointAndCallsPathDoneOnce) {
    PathController* path = MakePath({0, 10}, 0);
    Run(path, 1.0f);
    test::ExpectNear(target_->GetWorldPosition(), Float3(5, 0, 0));
    Run(path, 1.0f);
    test::ExpectNear(target_->GetWorldPosition(), Float3(10, 0, 0));
    ASSERT_EQ(witness_->calls.size(), 1u);
    EXPECT_EQ(witness_->calls[0], std::make_pair(0u, path->GetId()));
    EXPECT_FALSE(path->IsActive());
    EXPECT_EQ(path->GetCurrentWaypoint(), waypoints_[0]);
    Run(path, 1.0f);
    EXPECT_EQ(witness_->calls.size(), 1u);
    test::ExpectNear(target_->GetWorldPosition(), Float3(10, 0, 0));
}

TEST_F(PathControllerTest, ALoopingPathStartsOverWithoutPathDone) {
    PathController* path = MakePath({0, 10}, PathLoop);
    Run(path, 2.5f);
    test::ExpectNear(target_->GetWorldPosition(), Float3(2.5f, 0, 0));
    EXPECT_TRUE(path->IsActive());
    EXPECT_TRUE(witness_->calls.empty());
}

TEST_F(PathControllerTest, PingPongWithLoopFlipsDirectionAtEachEnd) {
    PathController* path = MakePath({0, 10}, PathLoop | PathPingPong);
    Run(path, 2.5f);
    EXPECT_EQ(path->GetDirection(), -1);
    test::ExpectNear(target_->GetWorldPosition(), Float3(7.5f, 0, 0));
    Run(path, 2.0f);
    EXPECT_EQ(path->GetDirection(), 1);
    test::ExpectNear(target_->GetWorldPosition(), Float3(2.5f, 0, 0));
    EXPECT_TRUE(witness_->calls.empty());
}

TEST_F(PathControllerTest, ASingleWaypointHoldsTheTarget) {
    PathController* path = MakePath({3}, 0);
    Run(path, 2.0f);
    test::ExpectNear(target_->GetWorldPosition(), Float3(3, 0, 0));
    EXPECT_TRUE(path->IsActive());
    EXPECT_TRUE(witness_->calls.empty());
}

TEST_F(PathControllerTest, PathSpeedScalesTheRateAlongTheSegment) {
    struct Case {
        float speedA;
        float speedB;
        float expectedX; // after 0.25 s
    };
    // 5 units/s over 10 units: progress 0.125 per 0.25 s at a factor of 1.
    for (const Case& c :
         {Case{1, 1, 1.25f}, Case{2, 1, 2.5f}, Case{2, 5, 2.5f}, Case{1, 2, 1.25f}}) {
        waypoints_.clear();
        PathController* path = MakePath({0, 10}, 0);
        waypoints_[0]->SetPathSpeed(c.speedA);
        waypoints_[1]->SetPathSpeed(c.speedB);
        path->Update(0.25f, 1);
        EXPECT_NEAR(target_->GetWorldPosition().x, c.expectedX, 1e-5f)
            << c.speedA << " " << c.speedB;
    }
}

TEST_F(PathControllerTest, ASplinePathPassesThroughItsWaypoints) {
    PathController* path = MakePath({0, 4, 8}, PathSpline | PathSectionSpeed);
    waypoints_[1]->SetPosition(Float3(4, 3, 0));
    path->SetSpeed(1.0f);
    path->Update(0.5f, 1);
    EXPECT_GT(target_->GetWorldPosition().y, 1.5f) << "curves towards the middle waypoint";
    path->Update(0.5f, 1);
    test::ExpectNear(target_->GetWorldPosition(), Float3(4, 3, 0));
    path->Update(1.0f, 1);
    test::ExpectNear(target_->GetWorldPosition(), Float3(8, 0, 0));
    EXPECT_FALSE(path->IsActive());
}

TEST_F(PathControllerTest, ConnectEndsClosesTheLoopAmongThePathPivotsSiblings) {
    // The waypoints live under a folder, named through "pathpivot"; the controller has an
    // unrelated child of its own.
    PathController* path = MakePath({}, PathConnectEnds | PathLoop);
    Node* folder = Make<Node>("folder", root_);
    Make<Pivot>("other", path);
    for (float x : {0.0f, 10.0f, 30.0f}) {
        waypoints_.push_back(Make<PathPivot>("waypoint", folder));
        waypoints_.back()->SetPosition(Float3(x, 0, 0));
    }
    Make<Node>("not a waypoint", folder);
    path->SetCurrentId({waypoints_[0]->GetId()});
    EXPECT_EQ(path->Previous(waypoints_[0], true), waypoints_[2]);
    EXPECT_EQ(path->Next(waypoints_[2], true), waypoints_[0]);
    EXPECT_EQ(path->Next(waypoints_[2], false), nullptr);
    path->SetSpeed(10.0f);
    Run(path, 4.5f);
    test::ExpectNear(target_->GetWorldPosition(), Float3(15, 0, 0)); // on the closing segment
    Run(path, 2.0f);
    test::ExpectNear(target_->GetWorldPosition(), Float3(5, 0, 0));
}

TEST_F(PathControllerTest, ReachedEventsGoOutInOrderAndAPathDoneMayDeleteTheController) {
    test::Deliveries().clear();
    PathController* path = MakePath({0, 1, 2, 3}, 0);
    std::vector<test::EventProbe*> probes;
    for (PathPivot* waypoint : waypoints_) {
        probes.push_back(Make<test::EventProbe>("probe", root_));
        waypoint->SetPortValue(0, test::RefTo(probes.back()));
    }
    const uint32_t pathId = path->GetId();
    witness_->action = [path] { path->Delete(); };
    path->Update(10.0f, 1);
    EXPECT_EQ(LookupEntity(pathId), nullptr);
    ASSERT_EQ(witness_->calls.size(), 1u);
    std::vector<uint32_t> reached;
    for (const test::Delivery& delivery : test::Deliveries()) {
        reached.push_back(delivery.receiver);
        EXPECT_EQ(delivery.sender, pathId);
        EXPECT_EQ(delivery.value, 1.0f);
    }
    EXPECT_EQ(reached,
              (std::vector<uint32_t>{probes[1]->GetId(), probes[2]->GetId(), probes[3]->GetId()}));
}

TEST_F(PathControllerTest, AReachedEventThatDeletesTheWaypointsStopsTheStep) {
    PathController* path = MakePath({0, 1, 2}, PathLoop);
    test::EventProbe* probe = Make<test::EventProbe>("probe", root_);
    waypoints_[1]->SetPortValue(0, test::RefTo(probe));
    probe->action = [path] { path->DeleteChildren(); };
    path->Update(10.0f, 1);
    path->Update(1.0f, 1);
    EXPECT_EQ(path->GetCurrentWaypoint(), nullptr);
}

TEST_F(PathControllerTest, AHugeSpeedOnATinyLoopEndsTheFrame) {
    PathController* path = MakePath({0, 1e-6f}, PathLoop);
    path->SetSpeed(3e38f);
    path->SetPathFlags(path->GetPathFlags() | PathSectionSpeed);
    path->Update(0.1f, 1);
    path->Update(0.1f, 1);
    EXPECT_TRUE(path->IsActive());
}

TEST_F(PathControllerTest, StopAndStartKeepProgressAndResetRestartsTheSegment) {
    PathController* path = MakePath({0, 10}, 0);
    path->Update(0.25f, 1);
    Entity::SendEvent(test::RefTo(root_), test::RefTo(path, 1), nullptr, 1.0f);
    path->Update(0.25f, 1);
    EXPECT_FLOAT_EQ(path->GetProgress(), 0.125f);
    Entity::SendEvent(test::RefTo(root_), test::RefTo(path, 0), nullptr, 1.0f);
    path->Update(0.25f, 1);
    EXPECT_FLOAT_EQ(path->GetProgress(), 0.25f);
    Entity::SendEvent(test::RefTo(root_), test::RefTo(path, 2), nullptr, 1.0f);
    EXPECT_EQ(path->GetProgress(), 0.0f);
    EXPECT_EQ(path->GetDirection(), 1);
    // A scene's reverse flag starts the path backwards.
    path->SetPathFlags(path->GetPathFlags() | PathReverse);
    path->OnValuesLoaded();
    EXPECT_EQ(path->GetDirection(), -1);
}

TEST_F(PathControllerTest, LookAtOnlyTurnsTheTargetWithoutMovingIt) {
    PathController* path = MakePath({0, 10}, PathLookAtOnly);
    target_->SetPosition(Float3(5, 0, 5));
    path->Update(1.0f, 1);
    test::ExpectNear(target_->GetWorldPosition(), Float3(5, 0, 5));
    test::ExpectNear(target_->GetWorldAxisZ(), Float3(0, 0, -1));
}

TEST_F(PathControllerTest, BoundingBoxesHoldTheWaypoints) {
    PathController* path = MakePath({-2, 4}, 0);
    path->SetPosition(Float3(0, 1, 0));
    waypoints_[1]->SetPosition(Float3(4, 3, -1));
    const Aabb world = path->GetWorldBoundingBox();
    test::ExpectNear(world.min, Float3(-2, 1, -1));
    test::ExpectNear(world.max, Float3(4, 4, 0));
    const Aabb local = path->GetLocalBoundingBox();
    test::ExpectNear(local.min, Float3(-2, 0, -1));
    test::ExpectNear(local.max, Float3(4, 3, 0));
}

// A script's "pathdone" function takes the controller, the word after the record's first.
using PathControllerScriptTest = test::ScriptRunTest;

TEST_F(PathControllerScriptTest, AScriptsPathDoneFunctionReadsTheController) {
    PathController::RegisterClass(); // the program's signature names it
    Script* script = MakeScript("var \"controller\" int kind=2\n"
                                "function \"pathdone\" (PathController) at=@done export\n"
                                "done:\npush 0\npush -1\nloadlocal 1\nstore 1\nreturn 1 0\n",
                                "witness");
    auto* target = Make<Pivot>();
    auto* path = Make<PathController>();
    for (float x : {0.0f, 1.0f}) {
        auto* waypoint = Make<PathPivot>();
        waypoint->AttachTo(path);
        waypoint->SetPosition(Float3(x, 0, 0));
    }
    path->SetPathFlags(PathActive);
    path->SetSpeed(5.0f);
    path->SetTargetId({target->GetId()});
    path->SetWitnessId({script->GetId()});
    for (int step = 0; step < 4; ++step) {
        path->Update(0.25f, UpdateRunning);
    }
    EXPECT_EQ(script->ReadVariable<int32_t>("controller"), static_cast<int32_t>(path->GetId()));
}

} // namespace
} // namespace quarn
