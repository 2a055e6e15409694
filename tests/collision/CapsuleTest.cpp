#include "collision/CollisionCapsule.h"
#include "tests/collision/CollisionTestSupport.h"
#include "tests/support/RecordingValidityHook.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace quarn {
namespace {

class Capsules : public test::SeededCollisionTest {
protected:
    static Quaternion Lying() { return Quaternion::FromAxisAngle(1.5707964f, Float3(0, 1, 0)); }
};

// Distance between two segments by dense sampling of the first.
float SampledSegmentDistance(const Float3& a1, const Float3& a2, const Float3& b1,
                             const Float3& b2) {
    float best = 1e30f;
    constexpr int Steps = 400;
    for (int i = 0; i <= Steps; ++i) {
        const Float3 p = a1 + (a2 - a1) * (static_cast<float>(i) / Steps);
        const Float3 v = b2 - b1;
        const float length2 = v.LengthSquared();
        const float t = length2 > 0 ? std::clamp((p - b1).Dot(v) / length2, 0.0f, 1.0f) : 0.0f;
        best = std::min(best, (p - (b1 + v * t)).Length());
    }
    return best;
}

TEST_F(Capsules, MassAndInertiaMatchMonteCarlo) {
    CollisionCapsule* capsule = Capsule(Float3(), 0.6f, 1.5f);
    const float r = 0.6f;
    const float h = 0.75f;
    double inside = 0;
    double across = 0;
    double along = 0;
    constexpr int Samples = 400000;
    for (int i = 0; i < Samples; ++i) {
        const Float3 p(Uniform(-r, r), Uniform(-r, r), Uniform(-h - r, h + r));
        if (capsule->GetPointDepth(p, nullptr) < 0.0f) {
            continue;
        }
        ++inside;
        across += p.y * p.y + p.z * p.z;
        along += p.x * p.x + p.y * p.y;
    }
    const double box = 2.0 * r * 2.0 * r * 2.0 * (h + r);
    const double mass = inside / Samples * box * capsule->GetDensity();
    EXPECT_NEAR(capsule->GetMass(), mass, 0.01 * mass);
    const double perUnit = mass / inside;
    EXPECT_NEAR(capsule->GetInertia()[0][0], across * perUnit, 0.02 * across * perUnit);
    EXPECT_NEAR(capsule->GetInertia()[2][2], along * perUnit, 0.02 * along * perUnit);
}

TEST_F(Capsules, CapsulePairsFollowTheirCoresDistance) {
    std::array<CollisionContact, 4> contacts;
    // Side by side, parallel, cores overlapping over x in [0, 1]: both ends or the middle.
    CollisionCapsule* a = Capsule(Float3(), 0.5f, 2, Lying());
    CollisionCapsule* b = Capsule(Float3(1.5f, 0.9f, 0), 0.5f, 3, Lying());
    ASSERT_EQ(CollidePair(*a, *b, 2, contacts), 2);
    const float x0 = test::WorldPosition(contacts[0]).x;
    const float x1 = test::WorldPosition(contacts[1]).x;
    EXPECT_NEAR(std::min(x0, x1), 0.0f, 1e-5f);
    EXPECT_NEAR(std::max(x0, x1), 1.0f, 1e-5f);
    EXPECT_NEAR(contacts[0].depth, 0.1f, 1e-5f);
    ASSERT_EQ(CollidePair(*a, *b, 1, contacts), 1);
    EXPECT_NEAR(test::WorldPosition(contacts[0]).x, 0.5f, 1e-5f);
    // Room for one only: the middle as well.
    EXPECT_EQ(CollidePair(*a, *b, 2, std::span(contacts).first(1)), 1);

    for (int round = 0; round < 300; ++round) {
        CollisionCapsule* c = Capsule(Point(1), Uniform(0.1f, 0.8f), Uniform(0, 2), Turn());
        CollisionCapsule* d = Capsule(Point(1), Uniform(0.1f, 0.8f), Uniform(0, 2), Turn());
        const auto ends = [](CollisionCapsule& s, float sign) {
            return s.GetWorldPosition() + GetShapeAxis(s) * (sign * s.GetLength() * 0.5f);
        };
        const float distance =
            SampledSegmentDistance(ends(*c, -1), ends(*c, 1), ends(*d, -1), ends(*d, 1));
        const float depth = c->GetCapsuleRadius() + d->GetCapsuleRadius() - distance;
        const int count = CollidePair(*c, *d, 1, contacts);
        if (depth < -1e-3f) {
            EXPECT_EQ(count, 0) << round;
        } else if (depth > 1e-3f) {
            ASSERT_EQ(count, 1) << round;
            EXPECT_NEAR(contacts[0].depth, depth, 2e-3f) << round;
        }
    }
}

TEST_F(Capsules, PlaneAndSphereContacts) {
    std::array<CollisionContact, 4> contacts;
    CollisionPlane* ground = Plane(Float3(), 1);
    CollisionCapsule* capsule = Capsule(Float3(0, 0.4f, 0), 0.5f, 2, Lying());
    ASSERT_EQ(CollidePair(*capsule, *ground, 2, contacts), 2);
    EXPECT_NEAR(contacts[0].depth, 0.1f, 1e-5f);
    EXPECT_NEAR(contacts[1].depth, 0.1f, 1e-5f);
    EXPECT_EQ(CollidePair(*capsule, *ground, 1, contacts), 1);
    capsule->SetOrientation(Quaternion::FromAxisAngle(1.5707964f, Float3(1, 0, 0)));
    capsule->SetPosition(Float3(0, 1.4f, 0));
    ASSERT_EQ(CollidePair(*capsule, *ground, 2, contacts), 1);
    EXPECT_NEAR(contacts[0].depth, 0.1f, 1e-5f);

    // A sphere beside the core and beyond an end.
    capsule->SetPosition(Float3(0, 5, 0));
    CollisionSphere* sphere = Sphere(Float3(0.9f, 5.5f, 0), 0.5f);
    ASSERT_EQ(CollidePair(*capsule, *sphere, 1, contacts), 1);
    EXPECT_NEAR(contacts[0].depth, 0.1f, 1e-5f);
    sphere->SetPosition(Float3(0, 6.9f, 0));
    ASSERT_EQ(CollidePair(*sphere, *capsule, 1, contacts), 1);
    EXPECT_NEAR(contacts[0].depth, 0.1f, 1e-5f);
}

TEST_F(Capsules, RayContactsMatchBruteForceInsideAndOutside) {
    std::array<CollisionContact, 2> contacts;
    for (int round = 0; round < 400; ++round) {
        CollisionCapsule* capsule = Capsule(Float3(), Uniform(0.3f, 1), Uniform(0, 2), Turn());
        CollisionRay* ray = Ray(Point(2.5f), Turn(), 6.0f);
        // March along the ray for the first change of side.
        const Float3 origin = ray->GetWorldPosition();
        const Float3 axis = GetShapeAxis(*ray);
        const bool startsInside = capsule->GetPointDepth(origin, nullptr) > 0.0f;
        float expected = -1.0f;
        for (int i = 1; i <= 6000; ++i) {
            const float t = 0.001f * static_cast<float>(i);
            if ((capsule->GetPointDepth(origin + axis * t, nullptr) > 0.0f) != startsInside) {
                expected = t;
                break;
            }
        }
        const int count = CollidePair(*ray, *capsule, 1, contacts);
        if (std::fabs(capsule->GetPointDepth(origin, nullptr)) < 2e-3f) {
            continue;
        }
        if (expected < 0.0f) {
            EXPECT_EQ(count, 0) << round;
            continue;
        }
        if (expected > 0.01f && expected < 5.99f) {
            ASSERT_EQ(count, 1) << round << (startsInside ? " inside" : " outside");
            EXPECT_NEAR(contacts[0].depth, expected, 2e-3f) << round;
        }
    }
}

TEST_F(Capsules, PointDepthAndPicks) {
    CollisionCapsule* capsule = Capsule(Float3(1, 0, 0), 0.5f, 2);
    Float3 normal;
    // In the caps.
    EXPECT_NEAR(capsule->GetPointDepth(Float3(1, 0, 1.3f), &normal), 0.2f, 1e-5f);
    test::ExpectNear(normal, Float3(0, 0, 1));
    EXPECT_NEAR(capsule->GetPointDepth(Float3(1, 0.1f, -1.2f), nullptr), 0.5f - std::sqrt(0.05f),
                1e-5f);
    // On the core segment and at a cap's centre: finite unit normals.
    struct Case {
        Float3 point;
        float depth;
    };
    for (const Case& c : {Case{Float3(1, 0, 0.3f), 0.5f}, Case{Float3(1, 0, 1), 0.5f},
                          Case{Float3(1, 0, -1), 0.5f}}) {
        EXPECT_NEAR(capsule->GetPointDepth(c.point, &normal), c.depth, 1e-6f);
        EXPECT_NEAR(normal.Length(), 1.0f, 1e-5f);
    }
    capsule->GetPointDepth(Float3(1, 0, -1), &normal);
    test::ExpectNear(normal, Float3(0, 0, -1));

    PickQuery query;
    query.Init(PickQuery::DefaultMaxDistance, PickCollisionVolumes | PickNormal, 0, 0);
    // Along the axis from outside: the flat end at h, not the hemisphere.
    ASSERT_TRUE(capsule->IntersectRay(Float3(1, 0, 5), Float3(0, 0, -1), query));
    EXPECT_NEAR(query.current.distance, 4.0f, 1e-5f);
    test::ExpectNear(query.current.data, Float3(0, 0, 1));
    ASSERT_TRUE(capsule->IntersectRay(Float3(1, 5, 0), Float3(0, -1, 0), query));
    EXPECT_NEAR(query.current.distance, 4.5f, 1e-5f);
    test::ExpectNear(query.current.data, Float3(0, 1, 0));
    EXPECT_FALSE(capsule->IntersectRay(Float3(1, 5, 0), Float3(0, 1, 0), query));
    EXPECT_NEAR(capsule->GetRadius(), std::sqrt(1.25f), 1e-6f);
}

TEST_F(Capsules, BoxContactsLieOnTheBoxWhereverTheCoreRuns) {
    // Its top at y = 1, its edge along Z at x = 1.
    CollisionBox* box = Box(Float3(0, 0.5f, 0), Float3(2, 1, 2));
    const float tilt = 0.05f; // lowers the +x end
    const Quaternion lowered = Lying() * Quaternion::FromAxisAngle(-tilt, Float3(0, 0, 1));
    const Float3 across(-std::sin(tilt), -std::cos(tilt), 0); // below the axis, across it
    struct Case {
        const char* name;
        Float3 centre; // of a capsule of radius 0.2 and core 1.6
        Quaternion turn;
        std::vector<Float3> points; // by x
        Float3 normal;              // from the capsule toward the box
        std::vector<float> depths;
    };
    const Case cases[] = {
        // Over the edge, its outer end lowered: where its side crosses the edge, not at the
        // far cap.
        {"across the edge",
         Float3(1.3f, 1.18f, 0),
         lowered,
         {Float3(1, 1, 0)},
         across,
         {0.2f - (0.18f + 0.3f * std::tan(tilt)) * std::cos(tilt)}},
        // Lying level past the edge: its inner end and the edge.
        {"level past the edge",
         Float3(0.5f, 1.15f, 0.3f),
         Lying(),
         {Float3(-0.3f, 1, 0.3f), Float3(1, 1, 0.3f)},
         Float3(0, -1, 0),
         {0.05f, 0.05f}},
        {"standing",
         Float3(0.2f, 1.95f, -0.4f),
         Quaternion::FromAxisAngle(1.5707964f, Float3(1, 0, 0)),
         {Float3(0.2f, 1, -0.4f)},
         Float3(0, -1, 0),
         {0.05f}},
        // Leaning at 30 degrees: below the lower cap's lowest point, wherever the route's way
        // leads.
        {"leaning",
         Float3(-0.2f, 1.55f, 0),
         Lying() * Quaternion::FromAxisAngle(-0.5235988f, Float3(0, 0, 1)),
         {Float3(-0.2f + 0.8f * 0.8660254f, 1, 0)},
         Float3(0, -1, 0),
         {0.05f}},
    };
    std::array<CollisionContact, 4> found;
    for (const Case& k : cases) {
        CollisionCapsule* capsule = Capsule(k.centre, 0.2f, 1.6f, k.turn);
        const int count = CollidePair(*capsule, *box, 4, found);
        ASSERT_EQ(count, static_cast<int>(k.points.size())) << k.name;
        std::vector<CollisionContact> contacts(found.begin(), found.begin() + count);
        std::sort(contacts.begin(), contacts.end(), [](const auto& l, const auto& r) {
            return test::WorldPosition(l).x < test::WorldPosition(r).x;
        });
        for (size_t i = 0; i < contacts.size(); ++i) {
            test::ExpectNear(test::WorldPosition(contacts[i]), k.points[i], 1e-4f);
            test::ExpectNear(contacts[i].normal, k.normal, 1e-4f);
            EXPECT_NEAR(contacts[i].depth, k.depths[i], 1e-4f) << k.name;
        }
        CheckContacts(*capsule, *box, contacts, k.name, 0, 1e-5f);
        // The box first: the same contacts, the normals turned; one asked, the deepest.
        std::array<CollisionContact, 4> swapped;
        ASSERT_EQ(CollidePair(*box, *capsule, 4, swapped), count) << k.name;
        for (int i = 0; i < count; ++i) {
            test::ExpectNear(swapped[i].position, found[i].position);
            test::ExpectNear(swapped[i].normal, found[i].normal * -1.0f);
        }
        ASSERT_EQ(CollidePair(*capsule, *box, 1, found), 1) << k.name;
        EXPECT_NEAR(found[0].depth, *std::max_element(k.depths.begin(), k.depths.end()), 1e-4f)
            << k.name;
        capsule->Delete();
    }
}

TEST_F(Capsules, SeededBoxPlacementsGiveContactsInsideBothShapes) {
    SeededPairs(
        "capsule-box",
        [this] { return Capsule(Float3(), Uniform(0.1f, 0.8f), Uniform(0.0f, 2.0f), Turn()); },
        [this] {
            return Box(Point(1.5f),
                       Float3(Uniform(0.2f, 2.0f), Uniform(0.2f, 2.0f), Uniform(0.2f, 2.0f)),
                       Turn());
        },
        [this](CollisionVolume& a, CollisionVolume& b) {
            std::vector<Float3> axes = RandomDirections(3000);
            for (int i = 0; i < 3; ++i) {
                axes.push_back(b.GetWorldAxis(i));
                axes.push_back(b.GetWorldAxis(i).Cross(GetShapeAxis(a)));
            }
            return axes;
        },
        1e-3f);
    // With the core outside the box, the deepest contact is the radius less the core's
    // distance, found by sampling the core.
    std::array<CollisionContact, 2> contacts;
    for (int round = 0; round < 300; ++round) {
        CollisionCapsule* capsule = Capsule(Float3(), Uniform(0.1f, 0.8f), Uniform(0, 2), Turn());
        CollisionBox* box = Box(Point(1.5f), Float3(Uniform(0.2f, 2), 1, Uniform(0.2f, 2)), Turn());
        const Float3 half = box->GetSize() * 0.5f;
        float distance = 1e30f;
        for (int i = 0; i <= 2000; ++i) {
            const Float3 p = box->WorldToLocal(capsule->LocalToWorld(
                Float3(0, 0, capsule->GetLength() * (static_cast<float>(i) / 2000 - 0.5f))));
            distance = std::min(distance, (p - Float3(std::clamp(p.x, -half.x, half.x),
                                                      std::clamp(p.y, -half.y, half.y),
                                                      std::clamp(p.z, -half.z, half.z)))
                                              .Length());
        }
        const float depth = capsule->GetCapsuleRadius() - distance;
        if (distance > 1e-2f && depth > 1e-3f) {
            const int count = CollidePair(*capsule, *box, 2, contacts);
            ASSERT_GE(count, 1) << round;
            EXPECT_NEAR(std::max(contacts[0].depth, contacts[count - 1].depth), depth, 1e-3f)
                << round;
        }
        capsule->Delete();
        box->Delete();
    }
}

TEST_F(Capsules, NegativeDimensionsAreRefusedAndZeroIsKept) {
    CollisionCapsule* capsule = Capsule(Float3(), 0.5f, 2);
    const float mass = capsule->GetMass();
    test::RecordingValidityHook hook;
    capsule->SetLength(-1.0f);
    capsule->SetCapsuleRadius(-1.0f);
    ASSERT_EQ(hook.Messages().size(), 2u);
    EXPECT_EQ(hook.Messages()[0], "invalid length");
    EXPECT_EQ(hook.Messages()[1], "invalid length");
    EXPECT_EQ(capsule->GetLength(), 2.0f);
    EXPECT_EQ(capsule->GetCapsuleRadius(), 0.5f);
    EXPECT_EQ(capsule->GetMass(), mass);
    capsule->SetLength(0.0f);
    EXPECT_EQ(capsule->GetLength(), 0.0f);
    EXPECT_TRUE(hook.Messages().size() == 2u);
}

} // namespace
} // namespace quarn
