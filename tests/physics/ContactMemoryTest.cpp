#include "physics/ContactMemory.h"

#include "tests/physics/PhysicsTestSupport.h"

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

namespace quarn::test {
namespace {

// A contact of the next step, against one kept at the origin facing +Y with a normal force of
// 5 and a friction force of (1, 0, 2).
struct NextContact {
    const char* name;
    Float3 position;
    Float3 normal;
    bool samePair;
    bool recalled;
};

class KeptContacts : public PhysicsTest {
protected:
    std::unique_ptr<ContactJoint> Contact(CollisionVolume* other, Float3 position, Float3 normal,
                                          Float3 frictionDirection) {
        auto contact = std::make_unique<ContactJoint>();
        contact->Prepare(world_);
        contact->position = position;
        contact->normal = normal;
        contact->surface.mode = ContactFrictionDirection;
        contact->surface.mu = 1.0f;
        contact->surface.frictionDirection = frictionDirection;
        contact->SetVolumes(own_, other);
        contact->Attach(body_, nullptr);
        return contact;
    }
    void SetUp() override {
        PhysicsTest::SetUp();
        body_ = Body(Float3(0.0f, 1.0f, 0.0f));
        own_ = Sphere(body_, Float3(), 1.0f);
        floor_ = Sphere(nullptr, Float3(0.0f, -1.0f, 0.0f), 1.0f);
        wall_ = Sphere(nullptr, Float3(3.0f, -1.0f, 0.0f), 1.0f);
    }

    RigidBody* body_ = nullptr;
    CollisionVolume* own_ = nullptr;
    CollisionVolume* floor_ = nullptr;
    CollisionVolume* wall_ = nullptr;
};

class ContactMemoryRecall : public KeptContacts,
                            public ::testing::WithParamInterface<NextContact> {};

INSTANTIATE_TEST_SUITE_P(
    Cases, ContactMemoryRecall,
    ::testing::Values(NextContact{"NearlyInPlace", Float3(0.005f, 0.0f, 0.0f),
                                  Float3(0.0f, 1.0f, 0.0f), true, true},
                      NextContact{"AnotherPair", Float3(), Float3(0.0f, 1.0f, 0.0f), false, false},
                      NextContact{"MovedAway", Float3(0.05f, 0.0f, 0.0f), Float3(0.0f, 1.0f, 0.0f),
                                  true, false},
                      NextContact{"Turned", Float3(), Float3(0.0f, 0.5f, 0.866f), true, false}),
    [](const ::testing::TestParamInfo<NextContact>& info) { return std::string(info.param.name); });

// The friction force keeps its direction in the world although the new contact's rows turn.
TEST_P(ContactMemoryRecall, AContactFoundAgainStartsFromTheForcesItEndedWith) {
    std::vector<std::unique_ptr<ContactJoint>> last;
    last.push_back(Contact(floor_, Float3(), Float3(0.0f, 1.0f, 0.0f), Float3(1.0f, 0.0f, 0.0f)));
    JointRows().Fill(*last[0]); // lays the friction directions
    float* kept = last[0]->GetSavedLambda();
    kept[0] = 5.0f;
    kept[1] = 1.0f;
    // The second direction is the first crossed with the normal: +Z here.
    kept[2] = 2.0f;
    const Float3 friction = last[0]->GetFrictionForce();
    ASSERT_NEAR(friction.x, 1.0f, 1e-6f);
    ASSERT_NEAR(friction.z, 2.0f, 1e-6f);
    ContactMemory memory;
    memory.Keep(last.data(), 1);
    last.clear();

    const NextContact& next = GetParam();
    const float turn = 0.6f;
    auto contact = Contact(next.samePair ? floor_ : wall_, next.position, next.normal,
                           Float3(std::cos(turn), 0.0f, std::sin(turn)));
    memory.Recall(memory.Find(own_->GetSerial(), contact->GetVolumeSerial(1)), *contact);
    JointRows().Fill(*contact);
    if (!next.recalled) {
        for (int r = 0; r < 3; ++r) {
            EXPECT_EQ(contact->GetSavedLambda()[r], 0.0f);
        }
        return;
    }
    EXPECT_FLOAT_EQ(contact->GetNormalForce(), 5.0f);
    const Float3 recalled = contact->GetFrictionForce();
    EXPECT_NEAR(recalled.x, 1.0f, 1e-5f);
    EXPECT_NEAR(recalled.y, 0.0f, 1e-5f);
    EXPECT_NEAR(recalled.z, 2.0f, 1e-5f);
}

// Enough pairs that the table outgrows its first size and probes past taken slots.
TEST_F(KeptContacts, EachPairFindsOnlyItsOwnFirstRun) {
    constexpr int pairs = 40;
    const Float3 up(0.0f, 1.0f, 0.0f);
    const Float3 along(1.0f, 0.0f, 0.0f);
    std::vector<CollisionVolume*> others;
    std::vector<std::unique_ptr<ContactJoint>> last;
    for (int i = 0; i < pairs; ++i) {
        others.push_back(Sphere(nullptr, Float3(3.0f * static_cast<float>(i), -1.0f, 0.0f), 1.0f));
        for (int k = 0; k < 2; ++k) {
            last.push_back(
                Contact(others[i], Float3(0.1f * static_cast<float>(k), 0.0f, 0.0f), up, along));
            last.back()->GetSavedLambda()[0] = static_cast<float>(2 * i + k + 1);
        }
    }
    // The first pair met again after the others: a step makes a pair's contacts together, so
    // this run is not kept.
    last.push_back(Contact(others[0], Float3(), up, along));
    last.back()->GetSavedLambda()[0] = 999.0f;
    ContactMemory memory;
    memory.Keep(last.data(), static_cast<int32_t>(last.size()));
    last.clear();

    for (int i = 0; i < pairs; ++i) {
        const ContactMemory::Run run = memory.Find(own_->GetSerial(), others[i]->GetSerial());
        ASSERT_EQ(run.count, 2) << "pair " << i;
        for (int k = 0; k < 2; ++k) {
            auto next =
                Contact(others[i], Float3(0.1f * static_cast<float>(k), 0.0f, 0.0f), up, along);
            memory.Recall(run, *next);
            EXPECT_EQ(next->GetNormalForce(), static_cast<float>(2 * i + k + 1))
                << "pair " << i << ", contact " << k;
        }
    }
    EXPECT_EQ(memory.Find(own_->GetSerial(), floor_->GetSerial()).count, 0);
}

// The nearest kept contact within 2 cm that faces alike, the later of two as near, by looking
// at every one: what the memory answered before it looked only near along x.
int NearestKept(const std::vector<Float3>& positions, const std::vector<Float3>& normals,
                const Float3& position, const Float3& normal) {
    int nearest = -1;
    float nearestDistance = 0.02f * 0.02f;
    for (size_t i = 0; i < positions.size(); ++i) {
        const float distance = (positions[i] - position).LengthSquared();
        if (distance <= nearestDistance && normals[i].Dot(normal) >= 0.9f) {
            nearest = static_cast<int>(i);
            nearestDistance = distance;
        }
    }
    return nearest;
}

// Crowded runs (a mesh pair holds up to 100 contacts), ties, repeats, far and non-finite points:
// the same contact recalled as a look at every kept one finds.
TEST_F(KeptContacts, RecallFindsTheContactALookAtEveryKeptOneFinds) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> spread(-0.05f, 0.05f);
    std::uniform_real_distribution<float> tilt(-0.6f, 0.6f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Float3 along(1.0f, 0.0f, 0.0f);
    for (int round = 0; round < 20; ++round) {
        const int count = round < 10 ? 100 : 1 + round % 9;
        // Away from the origin too, where a centimetre is a few hundred steps of rounding.
        const Float3 centre = round % 2 ? Float3(8000.0f, 1.0f, -300.0f) : Float3();
        const auto point = [&] {
            // On a coarse grid now and then, so that points repeat and distances tie.
            const Float3 p(spread(random), spread(random) * 0.2f, spread(random));
            return centre + (round % 3 == 0 ? Float3(std::round(p.x * 100.0f) / 100.0f, 0.0f,
                                                     std::round(p.z * 100.0f) / 100.0f)
                                            : p);
        };
        std::vector<Float3> positions;
        std::vector<Float3> normals;
        std::vector<std::unique_ptr<ContactJoint>> last;
        for (int k = 0; k < count; ++k) {
            positions.push_back(k == 3 ? Float3(nan, 0.0f, 0.0f) : point());
            normals.push_back(Float3(tilt(random), 1.0f, tilt(random)).NormalizedOrSelf());
            last.push_back(Contact(floor_, positions.back(), normals.back(), along));
            last.back()->GetSavedLambda()[0] = static_cast<float>(k + 1);
        }
        ContactMemory memory;
        memory.Keep(last.data(), static_cast<int32_t>(last.size()));
        last.clear();
        const ContactMemory::Run run = memory.Find(own_->GetSerial(), floor_->GetSerial());
        ASSERT_EQ(run.count, count);
        for (int k = 0; k < 200; ++k) {
            const Float3 position =
                k % 50 == 7  ? Float3(std::numeric_limits<float>::infinity(), 0.0f, 0.0f)
                : k % 5 == 0 ? positions[static_cast<size_t>(k) % positions.size()]
                             : point();
            const Float3 normal = Float3(tilt(random), 1.0f, tilt(random)).NormalizedOrSelf();
            auto next = Contact(floor_, position, normal, along);
            memory.Recall(run, *next);
            const int expected = NearestKept(positions, normals, position, normal);
            EXPECT_EQ(next->GetNormalForce(), static_cast<float>(expected + 1))
                << "round " << round << ", contact " << k;
        }
    }
}

} // namespace
} // namespace quarn::test
