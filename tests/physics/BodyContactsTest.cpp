#include "collision/CollisionBox.h"
#include "collision/CollisionSpaceHash.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/math/Random.h"
#include "core/object/Property.h"
#include "tests/physics/PhysicsTestSupport.h"

#include <functional>
#include <string>
#include <vector>

namespace quarn::test {
namespace {

// A world with a space for its volumes and a fixed draw of friction directions.
class WorldContacts : public PhysicsTest {
protected:
    void SetUp() override {
        PhysicsTest::SetUp();
        SeedRandom(7);
        space_ = tree_.MakeWithId<CollisionSpaceHash>("space");
        world_->SetCollisionSpaceId({space_->GetId()});
        world_->SetIdleThreshold(0.0f);
    }


    CollisionSpaceHash* space_ = nullptr;
};

// A ball over a plane floor in a world that runs its own clock, as the player drives it.
class BodyContacts : public WorldContacts {
protected:
    void SetUp() override {
        WorldContacts::SetUp();
        JoinSpace(*space_, Ground(), CollSolid | CollStatic);
        ball_ = Body(start_);
        JoinSpace(*space_, Sphere(ball_, Float3(), 0.5f), CollSolid);
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

// A unit box on a slope with mu 0.5, from the surface table. The advanced models bound each of
// a contact's two friction rows by mu times its normal force: on a static slope the pyramid they
// span lies along the pull down it, so it holds a box to 26.6 degrees as a cone does, whatever
// the box weighs (turned at random, it held one to about 31). The simple models bound each row
// by mu itself, a force: four contacts hold about 2 N.
TEST_F(WorldContacts, FrictionHoldsABoxOnASlopeAsTheModelSays) {
    FileSystem* previous = GetFileSystem();
    MemoryFileSystem files;
    SetFileSystem(&files);
    files.Add("contact.csv", "0;0;0.5;0;0;0;0;0.01\n");
    world_->SetContactDbName("contact.csv");
    struct Case {
        int32_t model;
        float density; // its mass in kg
        float degrees;
        bool holds;
    };
    for (const Case& c :
         {Case{3, 1.0f, 25.0f, true}, Case{3, 4.0f, 25.0f, true}, Case{3, 1.0f, 28.0f, false},
          Case{3, 4.0f, 28.0f, false},
          Case{0, 1.0f, 8.0f, true}, Case{0, 1.0f, 15.0f, false}, Case{0, 4.0f, 8.0f, false},
          Case{1, 4.0f, 8.0f, false}}) {
        world_->SetFrictionModel(c.model);
        const Quaternion tilt =
            Quaternion::FromAxisAngle(c.degrees * 3.14159265f / 180.0f, Float3(0.0f, 0.0f, 1.0f));
        auto* slope = tree_.Make<CollisionBox>("slope");
        slope->SetSize(Float3(20.0f, 1.0f, 20.0f));
        slope->SetOrientation(tilt);
        JoinSpace(*space_, slope, CollSolid | CollStatic);
        // Resting on it, 5 mm deep.
        const Float3 start = slope->GetWorldAxis(1) * 0.995f;
        RigidBody* box = Body(start);
        box->SetOrientation(tilt);
        auto* shape = tree_.Make<CollisionBox>("box");
        shape->SetSize(Float3(1.0f, 1.0f, 1.0f));
        shape->SetDensity(c.density);
        shape->AttachAsLast(box);
        JoinSpace(*space_, shape, CollSolid);
        for (int i = 0; i < 300; ++i) {
            world_->Step(world_->GetTimestep());
        }
        const float moved = (box->GetPosition() - start).Length();
        if (c.holds) {
            EXPECT_LT(moved, 0.01f) << c.model << " " << c.density << " " << c.degrees;
        } else {
            EXPECT_GT(moved, 0.1f) << c.model << " " << c.density << " " << c.degrees;
        }
        box->SetWorld(nullptr);
        box->Delete();
        slope->Delete();
    }
    world_->SetContactDbName("");
    SetFileSystem(previous);
}

} // namespace
} // namespace quarn::test
