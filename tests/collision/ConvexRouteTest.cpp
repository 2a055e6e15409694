#include "collision/CollisionCapsule.h"
#include "collision/CollisionSpaceHash.h"
#include "collision/ConvexRoute.h"
#include "collision/FeatureColliders.h"
#include "tests/collision/CollisionTestSupport.h"

#include <array>
#include <cmath>
#include <vector>

namespace quarn {
namespace {

class ConvexRoute : public test::SeededCollisionTest {
protected:
    CollisionVolume* RandomShape(int kind) {
        const Float3 at = Point(1.5f);
        switch (kind) {
        case 0:
            return Box(at, Float3(Uniform(0.3f, 2), Uniform(0.3f, 2), Uniform(0.3f, 2)), Turn());
        case 1:
            return Sphere(at, Uniform(0.2f, 1.2f));
        default:
            return Capsule(at, Uniform(0.2f, 1), Uniform(0, 2), Turn());
        }
    }
};

// Overlap along a unit direction: positive while the extents along it overlap.
float OverlapAlong(CollisionVolume& a, CollisionVolume& b, const Float3& u) {
    return a.GetSupportDistance(u) + b.GetSupportDistance(u * -1.0f);
}

// The least overlap over the face axes and edge crosses of two boxes (exact) and, for curved
// shapes, over a dense spiral of directions (an upper bound close to the true value).
float ReferenceOverlap(CollisionVolume& a, CollisionVolume& b) {
    std::vector<Float3> directions;
    auto* boxA = dynamic_cast<CollisionBox*>(&a);
    auto* boxB = dynamic_cast<CollisionBox*>(&b);
    if (boxA && boxB) {
        for (int i = 0; i < 3; ++i) {
            directions.push_back(boxA->GetWorldAxis(i));
            directions.push_back(boxB->GetWorldAxis(i));
            for (int j = 0; j < 3; ++j) {
                const Float3 l = boxA->GetWorldAxis(i).Cross(boxB->GetWorldAxis(j));
                if (l.Length() > 1e-4f) {
                    directions.push_back(l.NormalizedOrSelf());
                }
            }
        }
    } else {
        constexpr int Samples = 5000;
        for (int i = 0; i < Samples; ++i) {
            const float z = 1.0f - (2.0f * static_cast<float>(i) + 1.0f) / Samples;
            const float ring = std::sqrt(1.0f - z * z);
            const float angle = 2.3999632f * static_cast<float>(i);
            directions.emplace_back(ring * std::cos(angle), ring * std::sin(angle), z);
        }
    }
    float least = 1e30f;
    for (const Float3& u : directions) {
        least = std::min({least, OverlapAlong(a, b, u), OverlapAlong(a, b, u * -1.0f)});
    }
    return least;
}

TEST_F(ConvexRoute, TheOverlapTestAgreesWithBruteForceOnSeededPairs) {
    int separated = 0;
    int overlapping = 0;
    for (int round = 0; round < 600; ++round) {
        const int kindA = round % 3;
        const int kindB = (round / 3) % 3;
        CollisionVolume* a = RandomShape(kindA);
        CollisionVolume* b = RandomShape(kindB);
        const float reference = ReferenceOverlap(*a, *b);
        const bool polytopes = kindA == 0 && kindB == 0;
        // Sampling overestimates a curved pair's overlap slightly.
        const float sure = polytopes ? 1e-3f : 0.02f;
        Float3 v = (b->GetWorldCenter() - a->GetWorldCenter()).NormalizedOrSelf();
        const int result = GjkOverlap(*a, *b, v);
        if (result == 0) {
            const Float3 u = v.NormalizedOrSelf();
            EXPECT_LT(a->GetSupportDistance(u), -b->GetSupportDistance(u * -1.0f) + 1e-5f)
                << round;
        }
        if (reference < -1e-3f) {
            ++separated;
            EXPECT_EQ(result, 0) << round << " " << reference;
        } else if (reference > sure) {
            ++overlapping;
            EXPECT_GT(result, 0) << round << " " << reference;
        }
    }
    EXPECT_GT(separated, 100);
    EXPECT_GT(overlapping, 100);
}

TEST_F(ConvexRoute, TheContactDirectionOfRestingBoxesFindsTheLeastOverlap) {
    for (int round = 0; round < 300; ++round) {
        CollisionBox* lower = Box(Float3(), Float3(Uniform(2, 4), 1, Uniform(2, 4)), Turn(0.3f));
        CollisionBox* upper = Box(Float3(Uniform(-0.5f, 0.5f), Uniform(0.7f, 1.0f), 0),
                                  Float3(Uniform(0.5f, 1.5f), 1, Uniform(0.5f, 1.5f)), Turn(0.3f));
        const float exact = ReferenceOverlap(*upper, *lower);
        if (exact < 1e-3f) {
            continue;
        }
        Float3 d = (lower->GetWorldCenter() - upper->GetWorldCenter()).NormalizedOrSelf();
        ASSERT_TRUE(FindContactDirection(*upper, *lower, d, false)) << round;
        EXPECT_NEAR(d.Length(), 1.0f, 1e-4f);
        EXPECT_LE(OverlapAlong(*upper, *lower, d), 1.05f * exact + 1e-4f) << round;
    }
}

// Every contact of the general route lies on or within both surfaces, to its depth.
void ExpectContactsOnBothSurfaces(CollisionVolume& a, CollisionVolume& b,
                                  std::span<const CollisionContact> contacts) {
    for (const CollisionContact& contact : contacts) {
        const Float3 p = test::WorldPosition(contact);
        ASSERT_TRUE(std::isfinite(contact.depth));
        EXPECT_GE(a.GetPointDepth(p, nullptr), -contact.depth - 2e-3f);
        EXPECT_GE(b.GetPointDepth(p, nullptr), -contact.depth - 2e-3f);
        // The normal runs from the first volume toward the second.
        EXPECT_GT(contact.normal.Dot(b.GetWorldCenter() - a.GetWorldCenter()), 0.0f);
    }
}

TEST_F(ConvexRoute, ACapsuleOnABoxTakesTheGeneralRouteAndCachesItsDirection) {
    auto* space = tree_.Make<CollisionSpaceHash>("space");
    CollisionBox* box = Box(Float3(), Float3(4, 1, 4));
    // Lying flat, sunk 0.05: both ends touch.
    CollisionCapsule* capsule =
        Capsule(Float3(0, 0.95f, 0), 0.5f, 2, Quaternion::FromAxisAngle(1.5707964f, Float3(0, 1, 0)));
    space->AddVolume(*box);
    space->AddVolume(*capsule);
    std::array<CollisionContact, 16> contacts;
    const int cold = CollidePair(*capsule, *box, 16, contacts);
    ASSERT_EQ(cold, 2);
    ExpectContactsOnBothSurfaces(*capsule, *box, std::span(contacts).first(2));
    for (int i = 0; i < cold; ++i) {
        EXPECT_NEAR(contacts[i].depth, 0.05f, 1e-3f);
        EXPECT_NEAR(std::fabs(test::WorldPosition(contacts[i]).x), 1.0f, 1e-3f);
    }
    const CollisionPair* record = space->FindPair(*capsule, *box);
    ASSERT_NE(record, nullptr);
    const float sign = record->first == capsule->GetSerial() ? 1.0f : -1.0f;
    EXPECT_NEAR(record->direction.y * sign, -1.0f, 1e-3f);

    // Warm, the same contacts; the box first, the normals turned.
    const std::array<CollisionContact, 16> first = contacts;
    ASSERT_EQ(CollidePair(*capsule, *box, 16, contacts), cold);
    for (int i = 0; i < cold; ++i) {
        EXPECT_LT((contacts[i].position - first[i].position).Length(), 1e-3f);
        EXPECT_NEAR(contacts[i].depth, first[i].depth, 1e-3f);
    }
    ASSERT_EQ(CollidePair(*box, *capsule, 16, contacts), cold);
    ExpectContactsOnBothSurfaces(*box, *capsule, std::span(contacts).first(2));

    // Standing on its end: one vertex contact.
    capsule->SetOrientation(Quaternion::FromAxisAngle(1.5707964f, Float3(1, 0, 0)));
    capsule->SetPosition(Float3(0, 1.95f, 0));
    ASSERT_EQ(CollidePair(*capsule, *box, 16, contacts), 1);
    EXPECT_NEAR(contacts[0].depth, 0.05f, 1e-3f);
    // Lifted clear: none.
    capsule->SetPosition(Float3(0, 2.5f, 0));
    EXPECT_EQ(CollidePair(*capsule, *box, 16, contacts), 0);
}

TEST_F(ConvexRoute, AFullPairCacheCountsTheRefusalAndTheRouteGoesOnCold) {
    auto* space = tree_.Make<CollisionSpaceHash>("full");
    CollisionBox* box = Box(Float3(), Float3(4, 1, 4));
    CollisionCapsule* capsule = Capsule(Float3(0, 0.95f, 0), 0.5f, 2);
    space->AddVolume(*box);
    space->AddVolume(*capsule);
    std::vector<CollisionSphere*> fillers;
    for (int i = 0; i < 130; ++i) {
        fillers.push_back(Sphere(Float3(100, 0, 0), 1));
    }
    for (size_t i = 0; i < fillers.size(); ++i) {
        for (size_t j = i + 1; j < fillers.size(); ++j) {
            space->FindOrCreatePair(*fillers[i], *fillers[j]);
        }
    }
    const uint64_t dropped = space->GetDroppedPairCount();
    ASSERT_GT(dropped, 0u);
    std::array<CollisionContact, 8> contacts;
    for (int call = 1; call <= 2; ++call) {
        EXPECT_EQ(CollidePair(*capsule, *box, 8, contacts), 2);
        EXPECT_EQ(space->FindPair(*capsule, *box), nullptr);
        EXPECT_EQ(space->GetDroppedPairCount(), dropped + static_cast<uint64_t>(call));
    }
}

TEST_F(ConvexRoute, OverlappingLogicalVolumesGiveOneContactAtTheMidpoint) {
    CollisionBox* box = Box(Float3(), Float3(2, 2, 2));
    CollisionCapsule* capsule = Capsule(Float3(0.4f, 1.2f, 0), 0.5f, 1);
    capsule->SetCollFlags(capsule->GetCollFlags() | CollLogical);
    EXPECT_TRUE(capsule->TestVolume(box));
    EXPECT_EQ(CollisionVolume::GetLastTestDepth(), 0.0f);
    test::ExpectNear(CollisionVolume::GetLastTestPosition(), Float3(0.2f, 0.6f, 0), 1e-5f);
    // Coincident centres: the normal falls back to +X.
    capsule->SetPosition(Float3());
    std::array<CollisionContact, 2> contacts;
    ASSERT_EQ(CollidePair(*capsule, *box, 2, contacts), 1);
    test::ExpectNear(contacts[0].normal, Float3(1, 0, 0), 0.0f);
    capsule->SetPosition(Float3(0, 3, 0));
    EXPECT_FALSE(capsule->TestVolume(box));
}

SupportFace Square(float y, float half, const Float3& normal) {
    SupportFace face;
    face.normal = normal;
    const float s = normal.y > 0 ? 1.0f : -1.0f;
    // Clockwise about the normal, as shapes hand faces out.
    face.corners[0] = Float3(-half, y, -half);
    face.corners[1] = Float3(-half, y, half);
    face.corners[2] = Float3(half, y, half);
    face.corners[3] = Float3(half, y, -half);
    if (s < 0) {
        std::swap(face.corners[1], face.corners[3]);
    }
    face.UpdateWinding();
    return face;
}

SupportFace Vertex(const Float3& p) {
    SupportFace f;
    f.kind = SupportFace::Vertex;
    f.count = 1;
    f.corners[0] = p;
    return f;
}

SupportFace Edge(const Float3& n, const Float3& a, const Float3& b) {
    SupportFace f;
    f.kind = SupportFace::Edge;
    f.normal = n;
    f.count = 2;
    f.corners[0] = a;
    f.corners[1] = b;
    return f;
}

SupportFace Disc(const Float3& centre, const Float3& axis, float radius, float extent) {
    SupportFace f;
    f.kind = SupportFace::Disc;
    f.normal = axis;
    f.corners[0] = centre;
    f.radius = radius;
    f.extent = extent;
    return f;
}

TEST_F(ConvexRoute, FeatureCollidersGiveTheirContactsAndSwappedEntriesTurnTheNormals) {
    const Float3 up(0, 1, 0);
    const Float3 down(0, -1, 0);
    const SupportFace top = Square(0, 1, up);
    struct Case {
        const char* name;
        SupportFace first;
        SupportFace second;
        Float3 d;
        int count;
        float depth; // of the first contact
        Float3 normal;
    };
    const Case cases[] = {
        // A vertex far beside a face still gives its one contact, even above it.
        {"face-vertex", top, Vertex(Float3(5, 0.2f, 0)), down, 1, -0.2f, up},
        {"vertex-face", Vertex(Float3(0, -0.1f, 0)), top, up, 1, 0.1f, down},
        {"edge-vertex", Edge(up, Float3(-1, 0, 0), Float3(1, 0, 0)), Vertex(Float3(0, -0.3f, 0)),
         down, 1, 0.3f, up},
        {"disc-vertex", Disc(Float3(), up, 1, 1), Vertex(Float3(0, -0.25f, 0)), down, 1, 0.25f,
         up},
        // Crossing exactly at the second edge's end point.
        {"edge-edge end", Edge(up, Float3(-1, 0, 0), Float3(1, 0, 0)),
         Edge(down, Float3(0, 0, 0), Float3(0, 1, 0)), up, 1, 0.0f, up},
        {"edge-edge apart", Edge(up, Float3(-1, 0, 0), Float3(1, 0, 0)),
         Edge(down, Float3(0, 1, 0.5f), Float3(0, 1, 1)), up, 0, 0, up},
        // A segment wholly inside and below: its two ends, no crossings.
        {"face-edge inside", top, Edge(up, Float3(-0.5f, -0.1f, 0), Float3(0.5f, -0.1f, 0)), down,
         2, 0.1f, up},
        {"face-edge across", top, Edge(up, Float3(-2, -0.1f, 0), Float3(2, -0.1f, 0)), down, 2,
         0.1f, up},
        // A smaller square sunk into a larger one: its four corners.
        {"face-face", Square(0.1f, 0.5f, up), Square(0, 1, down), up, 4, 0.1f, up},
        {"disc-edge flat", Disc(Float3(), up, 1, 1), Edge(up, Float3(-0.5f, -0.2f, 0),
                                                        Float3(0.5f, -0.2f, 0)),
         down, 2, 0.2f, down},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::array<CollisionContact, 32> contacts;
        contacts.fill({Float3(99, 99, 99), Float3(), 99});
        const int count = DispatchFeatureCollide(c.first, c.second, c.d, contacts);
        ASSERT_EQ(count, c.count) << c.name;
        if (count > 0) {
            EXPECT_NEAR(contacts[0].depth, c.depth, 1e-5f) << c.name;
            test::ExpectNear(contacts[0].normal, c.normal, 1e-5f);
        }
        EXPECT_EQ(contacts[static_cast<size_t>(count)].depth, 99.0f) << c.name;
    }
    // Nothing for pairs without an entry.
    std::array<CollisionContact, 4> contacts;
    EXPECT_EQ(DispatchFeatureCollide(Vertex(Float3()), Vertex(Float3()), up, contacts), 0);
}

TEST_F(ConvexRoute, OpenCasesOfTheDiscCollidersGiveNoContactAndNoNaN) {
    const Float3 up(0, 1, 0);
    const SupportFace disc = Disc(Float3(), up, 1, 1);
    std::array<CollisionContact, 32> contacts;
    // Flat side: an end point outside the cylinder whose segment never reaches it.
    EXPECT_EQ(CollideDiscEdge(disc, Edge(up, Float3(3, -0.2f, 0), Float3(2, -0.2f, 0)),
                              Float3(0, -1, 0), contacts),
              0);
    // Rim side: d along the edge, and the edge's plane parallel to the disc's.
    EXPECT_EQ(CollideDiscEdge(disc, Edge(up, Float3(0.9f, 0, -1), Float3(0.9f, 0, 1)),
                              Float3(0, 0, 1), contacts),
              0);
    EXPECT_EQ(CollideDiscEdge(disc, Edge(up, Float3(1.2f, 0.5f, -1), Float3(1.2f, 0.5f, 1)),
                              Float3(-1, 0, 0), contacts),
              0);
    // A face along d: the rim points are left out; whatever else is written is finite.
    const SupportFace wall = Square(0, 1, up);
    const SupportFace sunk = Disc(Float3(0, -0.2f, 0), Float3(1, 0, 0), 0.5f, 1);
    const int count = CollideFaceDisc(wall, sunk, Float3(1, 0, 0), contacts);
    for (int i = 0; i < count; ++i) {
        EXPECT_TRUE(std::isfinite(contacts[i].depth)) << i;
        EXPECT_TRUE(std::isfinite(contacts[i].position.x)) << i;
    }
}

TEST_F(ConvexRoute, LargeFacesStayWithinTheCallersRoom) {
    // Two 40-gons face to face, one turned: many vertex contacts and crossings.
    std::vector<Float3> lower;
    std::vector<Float3> upper;
    for (int i = 0; i < 40; ++i) {
        const float angle = -6.2831853f * static_cast<float>(i) / 40.0f;
        lower.emplace_back(std::cos(angle), 0.0f, std::sin(angle));
        upper.emplace_back(std::cos(angle + 0.05f), -0.1f, std::sin(angle + 0.05f));
    }
    SupportFace a;
    a.normal = Float3(0, 1, 0);
    a.count = 40;
    a.external = lower.data();
    a.UpdateWinding();
    SupportFace b;
    b.normal = Float3(0, -1, 0);
    b.count = 40;
    b.external = upper.data();
    b.UpdateWinding();
    for (size_t room : {size_t{0}, size_t{5}, size_t{32}, size_t{200}}) {
        std::vector<CollisionContact> contacts(room + 1, {Float3(), Float3(), 99});
        const int count =
            CollideFacePair(a, b, Float3(0, -1, 0), std::span(contacts).first(room));
        EXPECT_LE(static_cast<size_t>(count), room);
        EXPECT_EQ(contacts[room].depth, 99.0f);
        if (room == 200) {
            EXPECT_GE(count, 40);
        }
    }
}

} // namespace
} // namespace quarn
