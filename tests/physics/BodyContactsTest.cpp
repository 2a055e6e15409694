#include "collision/CollisionSpaceHash.h"
#include "core/object/Property.h"
#include "tests/physics/PhysicsTestSupport.h"

#include <functional>
#include <string>
#include <vector>

namespace quarn::test {
namespace {

// A ball over a plane floor in a world that runs its own clock, as the player drives it.
class BodyContacts : public PhysicsTest {
protected:
    void SetUp() override {
        PhysicsTest::SetUp();
        space_ = tree_.MakeWithId<CollisionSpaceHash>("space");
        world_->SetCollisionSpaceId({space_->GetId()});
        world_->SetIdleThreshold(0.0f);
        Joined(Ground(), CollSolid | CollStatic);
        ball_ = Body(start_);
        Joined(Sphere(ball_, Float3(), 0.5f), CollSolid);
    }

    template <class V>
    V* Joined(V* volume, uint32_t flags) {
        volume->SetCollFlags(flags);
        volume->SetCollMask(CollSolid);
        volume->SetCollTest(CollSolid);
        space_->AddVolume(*volume);
        return volume;
    }
    // One frame of the player's loop at 200 frames a second: every other frame holds no step.
    void Frame() { world_->Update(0.005f, UpdateRunning); }
    // Frames until the ball lies on the floor.
    void Land() {
        for (int frame = 0; frame < 400 && ball_->CollectContacts() == 0; ++frame) {
            Frame();
        }
        ASSERT_GT(ball_->CollectContacts(), 0);
    }

    const Float3 start_{0.0f, 1.5f, 0.0f};
    CollisionSpaceHash* space_ = nullptr;
    RigidBody* ball_ = nullptr;
};

TEST_F(BodyContacts, AGameThatPutsTheBallBackAfterACatchCountsEachCatchOnce) {
    struct Case {
        const char* name;
        std::function<void(RigidBody&, Float3)> putBack;
    };
    const Case cases[] = {
        {"pos, then ResetMotion",
         [](RigidBody& ball, Float3 start) {
             ball.SetPosition(start);
             ball.ResetMotion();
         }},
        {"ResetMotion, then pos as a script writes it",
         [](RigidBody& ball, Float3) {
             ball.ResetMotion();
             ball.FindProperty("pos")->SetFromText(ball, "0.0,1.5,0.0");
         }},
    };
    for (const Case& c : cases) {
        ball_->SetPosition(start_);
        ball_->ResetMotion();
        std::vector<float> heights; // of the ball at each catch
        for (int frame = 0; frame < 600; ++frame) {
            Frame();
            if (ball_->CollectContacts() > 0) {
                heights.push_back(ball_->GetPosition().y);
                c.putBack(*ball_, start_);
            }
        }
        // A fall of 1 m takes 0.45 s: six in three seconds, each seen on the floor.
        EXPECT_EQ(heights.size(), 6u) << c.name;
        for (float y : heights) {
            EXPECT_LT(y, 0.6f) << c.name;
        }
    }
}

TEST_F(BodyContacts, AMoveDropsTheContactsOfTheLastStepUntilTheNextFindsThem) {
    struct Case {
        const char* name;
        std::function<void(RigidBody&)> act;
        bool kept;
    };
    const Case cases[] = {
        {"ResetMotion", [](RigidBody& ball) { ball.ResetMotion(); }, false},
        {"a turn in place", [](RigidBody& ball) { ball.SetOrientation(Quaternion(0, 1, 0, 1)); },
         false},
        {"a small move",
         [](RigidBody& ball) { ball.SetPosition(ball.GetPosition() + Float3(0.01f, 0, 0)); },
         false},
        {"pos written with the place it has",
         [](RigidBody& ball) { ball.SetPosition(ball.GetPosition()); }, true},
        {"a push", [](RigidBody& ball) { ball.SetLinearVelocity(Float3(1.0f, 0.0f, 0.0f)); }, true},
    };
    for (const Case& c : cases) {
        ball_->SetPosition(start_);
        ball_->ResetMotion();
        Land();
        c.act(*ball_);
        EXPECT_EQ(ball_->CollectContacts() > 0, c.kept) << c.name;
        // The ball still lies on the floor: the next step finds it there.
        world_->Step(world_->GetTimestep());
        EXPECT_GT(ball_->CollectContacts(), 0) << c.name;
    }
}

} // namespace
} // namespace quarn::test
