#include "collision/CollisionCylinder.h"
#include "collision/FaceRoutines.h"
#include "tests/collision/CollisionTestSupport.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>
#include <vector>

namespace quarn {
namespace {

using test::WorldPosition;

constexpr float QuarterTurn = 1.5707964f;

// Turns the node's Z axis onto world Y or X.
Quaternion Upright() {
    return Quaternion::FromAxisAngle(QuarterTurn, Float3(1, 0, 0));
}
Quaternion AlongX() {
    return Quaternion::FromAxisAngle(QuarterTurn, Float3(0, 1, 0));
}
// Turns the node's Z axis onto the line of a unit direction.
Quaternion TurnedOnto(const Float3& d) {
    const Float3 z(0, 0, 1);
    const Float3 across = z.Cross(d);
    if (across.LengthSquared() < 1e-12f) {
        return Quaternion();
    }
    return Quaternion::FromAxisAngle(std::acos(std::clamp(z.Dot(d), -1.0f, 1.0f)),
                                     across.NormalizedOrSelf());
}

class CylinderContacts : public test::SeededCollisionTest {
protected:
    CylinderContacts() { random_.seed(541); }

    // Seeded placements of b around a cylinder.
    template <class MakeB, class TestedAxes>
    int RandomPairs(const char* what, MakeB makeB, TestedAxes testedAxes, float outside = 1e30f) {
        const auto makeA = [this] {
            return Cylinder(Float3(), Uniform(0.2f, 1.0f), Uniform(0.2f, 2.0f), Turn());
        };
        return SeededPairs(what, makeA, makeB, testedAxes, outside);
    }
};

TEST_F(CylinderContacts, PlaneContactsFromBothDiscs) {
    CollisionPlane* ground = Plane(Float3(), 1);
    struct Case {
        const char* name;
        Quaternion turn;
        float height;
        int count;
        float depth; // of every contact
    };
    for (const Case& k : {Case{"upright", Upright(), 0.95f, 4, 0.05f},
                          Case{"lying above", AlongX(), 0.45f, 2, 0.05f},
                          Case{"lying below", AlongX(), -0.6f, 8, -1.0f}}) {
        CollisionCylinder* c = Cylinder(Float3(0, k.height, 0), 0.5f, 2.0f, k.turn);
        const std::vector<CollisionContact> contacts = Collide(*c, *ground);
        ASSERT_EQ(contacts.size(), static_cast<size_t>(k.count)) << k.name;
        for (const CollisionContact& contact : contacts) {
            test::ExpectNear(contact.normal, Float3(0, -1, 0));
            if (k.depth >= 0.0f) {
                EXPECT_NEAR(contact.depth, k.depth, 1e-5f) << k.name;
            }
            EXPECT_NEAR(contact.depth, -WorldPosition(contact).y, 1e-5f) << k.name;
        }
        if (k.count == 4) {
            // Four rim points about the axis, not its centre four times: a standing cylinder
            // must not balance on a point.
            Float3 sum;
            for (const CollisionContact& contact : contacts) {
                const Float3 at = WorldPosition(contact);
                EXPECT_NEAR(at.y, -0.05f, 1e-5f);
                EXPECT_NEAR(Float3(at.x, 0.0f, at.z).Length(), 0.5f, 1e-5f);
                sum = sum + at;
            }
            test::ExpectNear(sum, Float3(0, -0.2f, 0));
            EXPECT_NEAR((WorldPosition(contacts[0]) - WorldPosition(contacts[2])).Length(),
                        std::sqrt(0.5f), 1e-5f);
        }
        // The plane first: the swapped entry turns the normals.
        EXPECT_EQ(Collide(*ground, *c)[0].normal.y, 1.0f);
        // Only as many as the array holds.
        std::array<CollisionContact, 3> few;
        EXPECT_EQ(CollidePair(*c, *ground, 100, few), std::min(k.count, 3)) << k.name;
        c->Delete();
    }
}

// A standing cylinder rocked or shifted by a hair, as a step leaves it, keeps its contacts
// where they were: turned about the rim from step to step they are never recalled, and the
// iterative sweeps cannot then hold a heavy cylinder on a light one.
TEST_F(CylinderContacts, AStandingCylinderOffTrueByAHairKeepsItsContactsInPlace) {
    CollisionPlane* ground = Plane(Float3(), 1);
    CollisionCylinder* below = Cylinder(Float3(5, 0.5f, 0), 0.5f, 1.0f, Upright());
    const float hair = 1e-4f;
    struct Case {
        const char* name;
        CollisionVolume* other;
        Float3 shift;
        Float3 tiltAxis;
    };
    for (const Case& k :
         {Case{"on a plane, tilted about x", ground, Float3(), Float3(1, 0, 0)},
          Case{"on a plane, tilted about z", ground, Float3(), Float3(0, 0, 1)},
          Case{"on a cylinder, shifted along x", below, Float3(hair, 0, 0), {}},
          Case{"on a cylinder, shifted along z", below, Float3(0, 0, hair), {}},
          Case{"on a cylinder, shifted along -x", below, Float3(-hair, 0, 0), {}}}) {
        const Float3 base = k.other == ground ? Float3(0, 0.49f, 0) : Float3(5, 1.49f, 0);
        const Quaternion turn = k.tiltAxis.LengthSquared() > 0.0f
                                    ? Quaternion::FromAxisAngle(hair, k.tiltAxis) * Upright()
                                    : Upright();
        CollisionCylinder* upright = Cylinder(base, 0.5f, 1.0f, Upright());
        CollisionCylinder* off = Cylinder(base + k.shift, 0.5f, 1.0f, turn);
        const std::vector<CollisionContact> straight = Collide(*upright, *k.other);
        const std::vector<CollisionContact> rocked = Collide(*off, *k.other);
        ASSERT_EQ(straight.size(), 4u) << k.name;
        ASSERT_EQ(rocked.size(), 4u) << k.name;
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_LT((WorldPosition(rocked[i]) - WorldPosition(straight[i])).Length(), 1e-3f)
                << k.name << ", contact " << i;
            EXPECT_NEAR(rocked[i].depth, straight[i].depth, 1e-3f) << k.name;
        }
    }
}

TEST_F(CylinderContacts, SphereOnTheSideTheCapAndTheRim) {
    CollisionCylinder* c = Cylinder(Float3(), 0.5f, 2.0f, Upright());
    struct Case {
        const char* name;
        Float3 centre;
        Float3 normal;
        float depth;
    };
    const float d = 0.3f / std::sqrt(2.0f);
    for (const Case& k : {Case{"side", Float3(0.8f, 0.2f, 0), Float3(1, 0, 0), 0.1f},
                          Case{"cap", Float3(0.2f, 1.3f, 0), Float3(0, 1, 0), 0.1f},
                          Case{"lower cap", Float3(0, -1.35f, 0.1f), Float3(0, -1, 0), 0.05f},
                          Case{"rim", Float3(0.5f + d, 1 + d, 0),
                               Float3(1, 1, 0).NormalizedOrSelf(), 0.1f}}) {
        CollisionSphere* s = Sphere(k.centre, 0.4f);
        const std::vector<CollisionContact> contacts = Collide(*c, *s);
        ASSERT_EQ(contacts.size(), 1u) << k.name;
        test::ExpectNear(contacts[0].normal, k.normal, 1e-5f);
        EXPECT_NEAR(contacts[0].depth, k.depth, 1e-5f) << k.name;
        CheckContacts(*c, *s, contacts, k.name, 0);
        s->Delete();
    }
    // A sphere centre on the axis inside: a finite normal across the axis.
    CollisionSphere* inside = Sphere(Float3(0, 0.2f, 0), 0.1f);
    const std::vector<CollisionContact> contacts = Collide(*c, *inside);
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_NEAR(contacts[0].normal.Length(), 1.0f, 1e-5f);
    EXPECT_FALSE(Collide(*c, *Sphere(Float3(1.2f, 1.2f, 0), 0.4f)).size());
}

TEST_F(CylinderContacts, CylinderPairsOfThePartsExamples) {
    // Crossed, lying on each other: one contact at c1 - u r1.
    CollisionCylinder* a = Cylinder(Float3(), 0.5f, 4.0f);
    CollisionCylinder* b = Cylinder(Float3(0, 0.9f, 0), 0.5f, 4.0f, AlongX());
    std::vector<CollisionContact> contacts = Collide(*a, *b);
    ASSERT_EQ(contacts.size(), 1u);
    test::ExpectNear(WorldPosition(contacts[0]), Float3(0, 0.5f, 0));
    test::ExpectNear(contacts[0].normal, Float3(0, 1, 0));
    EXPECT_NEAR(contacts[0].depth, 0.1f, 1e-5f);

    // Parallel side by side, the second shorter and within the first's length.
    b->SetOrientation(Quaternion());
    b->SetPosition(Float3(0.9f, 0, 0.3f));
    b->SetLength(2.0f);
    contacts = Collide(*a, *b);
    ASSERT_EQ(contacts.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        test::ExpectNear(WorldPosition(contacts[i]), Float3(0.4f, 0, 0.3f + (i ? -1.0f : 1.0f)));
        test::ExpectNear(contacts[i].normal, Float3(1, 0, 0));
        EXPECT_NEAR(contacts[i].depth, 0.1f, 1e-5f);
    }

    // A thin cylinder standing on a wide one: four rim contacts in either order, even when one
    // is asked for.
    CollisionCylinder* wide = Cylinder(Float3(5, 0, 0), 1.0f, 2.0f, Upright());
    CollisionCylinder* thin = Cylinder(Float3(5, 1.95f, 0), 0.3f, 2.0f, Upright());
    for (auto [first, second] : {std::pair{thin, wide}, std::pair{wide, thin}}) {
        contacts = Collide(*first, *second, 1);
        ASSERT_EQ(contacts.size(), 4u);
        const float sign = first == thin ? -1.0f : 1.0f;
        for (const CollisionContact& c : contacts) {
            EXPECT_NEAR(c.depth, 0.05f, 1e-5f);
            test::ExpectNear(c.normal, Float3(0, sign, 0));
            const Float3 p = WorldPosition(c) - Float3(5, 0, 0);
            EXPECT_NEAR(std::hypot(p.x, p.z), 0.3f, 1e-5f);
        }
        CheckContacts(*first, *second, contacts, "thin on wide", 0);
    }
    // Coaxial discs of equal radius: four finite contacts on the rim.
    thin->SetCylinderRadius(1.0f);
    contacts = Collide(*thin, *wide);
    ASSERT_EQ(contacts.size(), 4u);
    CheckContacts(*thin, *wide, contacts, "coaxial", 0);
    // Separated along an axis whatever the other overlaps.
    thin->SetPosition(Float3(5, 2.05f, 0));
    EXPECT_TRUE(Collide(*thin, *wide).empty());
}

TEST_F(CylinderContacts, CrossedSidesTouchWhereTheAxesPassClosest) {
    // The axes cross 1.5 along the first from its centre, where the second lies.
    CollisionCylinder* a = Cylinder(Float3(), 0.5f, 4.0f);
    CollisionCylinder* b = Cylinder(Float3(0, 0.9f, 1.5f), 0.5f, 4.0f, AlongX());
    const std::vector<CollisionContact> contacts = Collide(*a, *b);
    ASSERT_EQ(contacts.size(), 1u);
    test::ExpectNear(WorldPosition(contacts[0]), Float3(0, 0.5f, 1.5f));
    EXPECT_NEAR(contacts[0].depth, 0.1f, 1e-5f);
    CheckContacts(*a, *b, contacts, "crossed", 0);
}

TEST_F(CylinderContacts, OverlapsNoRouteResolvesStillGiveAContact) {
    // Seeded pairs where every route of the collider came back empty: a short wide cylinder
    // whose side the other's end has pushed past the axis, and rims crossing near both ends.
    struct Shape {
        Float3 centre;
        Float3 axis;
        float radius;
        float length;
    };
    const Shape pairs[][2] = {
        {{Float3(), Float3(0.691167712f, -0.0161374509f, 0.722514331f), 0.44414416f, 0.595141768f},
         {Float3(0.154597521f, 0.52864933f, 0.140018225f),
          Float3(0.175314814f, -0.96767664f, -0.181291312f), 0.383457363f, 1.17355919f}},
        {{Float3(), Float3(0.0596057512f, 0.987413943f, -0.146495819f), 0.418074787f, 1.26309967f},
         {Float3(0.206328034f, -1.20857286f, -1.32315338f),
          Float3(0.828191042f, -0.0108572245f, -0.560340762f), 0.948099911f, 1.62803805f}},
    };
    for (const auto& pair : pairs) {
        CollisionCylinder* a = Cylinder(pair[0].centre, pair[0].radius, pair[0].length,
                                        TurnedOnto(pair[0].axis.NormalizedOrSelf()));
        CollisionCylinder* b = Cylinder(pair[1].centre, pair[1].radius, pair[1].length,
                                        TurnedOnto(pair[1].axis.NormalizedOrSelf()));
        ASSERT_TRUE(SampledOverlap(*a, *b, 1e-2f));
        const std::vector<CollisionContact> contacts = Collide(*a, *b);
        ASSERT_EQ(contacts.size(), 1u);
        CheckContacts(*a, *b, contacts, "unresolved", 0);
    }
}

TEST_F(CylinderContacts, ADiscWhoseChordLiesInsideTheOtherGivesOneContactInsideBoth) {
    // The incident disc hangs over the reference disc's rim, tilted 30 degrees: its deepest rim
    // point lies outside the reference cylinder, the chord where it crosses the top inside.
    auto disc = [](Float3 normal, Float3 centre, float radius) {
        FeatureRecords records;
        SupportFace face = *records.Disc(normal, centre, radius, 1.0f);
        return face;
    };
    const SupportFace reference = disc(Float3(0, 1, 0), Float3(), 2.0f);
    const SupportFace incident = disc(Float3(0.5f, -0.8660254f, 0), Float3(-1.75f, 0.1f, 0), 0.4f);
    std::array<CollisionContact, 2> contacts;
    ASSERT_EQ(CollideDiscDisc(incident, reference, contacts), 1);
    // Where the way from the chord's middle to the deepest rim point leaves the cylinder.
    EXPECT_NEAR(contacts[0].position.x, -2.0f, 1e-4f);
    EXPECT_NEAR(contacts[0].depth, -contacts[0].position.y, 1e-5f);
    EXPECT_GT(contacts[0].depth, 0.04f);
    test::ExpectNear(contacts[0].normal, Float3(0, 1, 0));
    // Raised clear of the reference plane: nothing.
    const SupportFace raised = disc(incident.normal, Float3(-1.75f, 0.3f, 0), 0.4f);
    EXPECT_EQ(CollideDiscDisc(raised, reference, contacts), 0);

    // The same discs as cylinders (either way along an axis is the same shape).
    CollisionCylinder* big = Cylinder(Float3(0, -1, 0), 2.0f, 2.0f, TurnedOnto(Float3(0, 1, 0)));
    const Float3 axis(-0.5f, 0.8660254f, 0);
    CollisionCylinder* small =
        Cylinder(Float3(-1.75f, 0.1f, 0) + axis * 0.5f, 0.4f, 1.0f, TurnedOnto(axis));
    test::ExpectNear(GetShapeAxis(*small).Cross(axis), Float3());
    const std::vector<CollisionContact> found = Collide(*small, *big);
    EXPECT_FALSE(found.empty());
    CheckContacts(*small, *big, found, "overhanging disc", 0);
}

TEST_F(CylinderContacts, EveryCylinderBoxRouteByConstruction) {
    struct Case {
        const char* name;
        Float3 boxCentre;
        Float3 boxSize;
        Quaternion boxTurn;
        int32_t face;
        Float3 centre;
        float radius;
        float length;
        Quaternion turn;
        int count;
        float depth;   // of the deepest contact
        Float3 normal; // of every contact
    };
    const Quaternion edgeDown = Quaternion::FromAxisAngle(0.7853982f, Float3(1, 0, 0));
    const Quaternion oblique = edgeDown * Quaternion::FromAxisAngle(0.5235988f, Float3(0, 1, 0));
    const float edgeDepth = 0.5f - std::sqrt(0.18f);
    const Case cases[] = {
        // Standing on the middle of a wide top: the top as a plane, four contacts at the disc's
        // centre.
        {"plane", Float3(0, -0.5f, 0), Float3(4, 1, 4), Quaternion(), 0, Float3(0, 0.45f, 0),
         0.5f, 1.0f, Upright(), 4, 0.05f, Float3(0, -1, 0)},
        // Lying on the top and longer than it: the lowest side line cut to the face.
        {"side face", Float3(0, -0.5f, 0), Float3(2, 1, 2), Quaternion(), 0, Float3(0, 0.45f, 0),
         0.5f, 3.0f, AlongX(), 2, 0.05f, Float3(0, -1, 0)},
        // Lying along an edge, beyond both faces: the edge cut to the end planes.
        {"side edge", Float3(), Float3(2, 2, 2), Quaternion(), 0, Float3(1.3f, 1.3f, 0), 0.5f,
         1.5f, Quaternion(), 2, edgeDepth, Float3()},
        // Standing over the top's edge: the end disc against the top face (the axial overlap
        // ties with the face's and wins).
        {"face disc", Float3(0, -0.5f, 0), Float3(2, 1, 2), Quaternion(), 0,
         Float3(0.9f, 0.45f, 0), 0.5f, 1.0f, Upright(), -1, 0.05f, Float3(0, -1, 0)},
        // The same with the top left out of the face word: pushed out through +X instead.
        {"masked top", Float3(0, -0.5f, 0), Float3(2, 1, 2), Quaternion(), 0x3D,
         Float3(0.9f, 0.45f, 0), 0.5f, 1.0f, Upright(), -1, 0.6f, Float3(-1, 0, 0)},
        // A box edge across a lying cylinder's side, at a slant.
        {"edge", Float3(0, 0.5f + 0.7071068f - 0.05f, 0), Float3(1, 1, 1), oblique, 0,
         Float3(), 0.5f, 4.0f, Quaternion(), 1, 0.05f, Float3()},
        // The same edge square across the axis.
        {"edge across the axis", Float3(0, 0.5f + 0.7071068f - 0.05f, 0), Float3(1, 1, 1),
         edgeDown, 0, Float3(), 0.5f, 4.0f, Quaternion(), 1, 0.05f, Float3(0, 1, 0)},
    };
    for (const Case& k : cases) {
        CollisionBox* box = Box(k.boxCentre, k.boxSize, k.boxTurn);
        box->SetFace(k.face);
        CollisionCylinder* c = Cylinder(k.centre, k.radius, k.length, k.turn);
        const std::vector<CollisionContact> contacts = Collide(*c, *box);
        if (k.count >= 0) {
            EXPECT_EQ(contacts.size(), static_cast<size_t>(k.count)) << k.name;
        } else {
            EXPECT_FALSE(contacts.empty()) << k.name;
        }
        float deepest = 0.0f;
        for (const CollisionContact& contact : contacts) {
            deepest = std::max(deepest, contact.depth);
            if (k.normal.LengthSquared() > 0.0f) {
                test::ExpectNear(contact.normal, k.normal, 1e-4f);
            }
        }
        EXPECT_NEAR(deepest, k.depth, 2e-3f) << k.name;
        if (k.face == 0) {
            CheckContacts(*c, *box, contacts, k.name, 0);
        }
        // The box first: the same points, the normals turned.
        const std::vector<CollisionContact> swapped = Collide(*box, *c);
        ASSERT_EQ(swapped.size(), contacts.size()) << k.name;
        if (!swapped.empty()) {
            test::ExpectNear(swapped[0].normal, contacts[0].normal * -1.0f);
        }
        box->Delete();
        c->Delete();
    }
}

TEST_F(CylinderContacts, CapsulesAcrossAlongAndOnAnEnd) {
    // Lying along Z; its top line at y = 0.5, its end discs at z = +-1.
    CollisionCylinder* c = Cylinder(Float3(), 0.5f, 2.0f);
    struct Case {
        const char* name;
        Float3 centre;
        Quaternion turn;
        std::vector<Float3> points; // on the cylinder, by x, y, then z
        Float3 normal;              // from the cylinder toward the capsule
        float depth;
    };
    const Case cases[] = {
        {"across the side",
         Float3(0, 0.6f, 0.3f),
         AlongX(),
         {Float3(0, 0.5f, 0.3f)},
         Float3(0, 1, 0),
         0.1f},
        // Along the top line: both ends of the shared stretch, even past the cylinder's end.
        {"along the side",
         Float3(0, 0.6f, 0.25f),
         Quaternion(),
         {Float3(0, 0.5f, -0.25f), Float3(0, 0.5f, 0.75f)},
         Float3(0, 1, 0),
         0.1f},
        {"along past the end",
         Float3(0, 0.6f, 1.25f),
         Quaternion(),
         {Float3(0, 0.5f, 0.75f), Float3(0, 0.5f, 1.0f)},
         Float3(0, 1, 0),
         0.1f},
        // Lying on an end disc: where the core leaves the disc's outline.
        {"on an end",
         Float3(0.1f, 0, 1.15f),
         AlongX(),
         {Float3(-0.4f, 0, 1.0f), Float3(0.5f, 0, 1.0f)},
         Float3(0, 0, 1),
         0.05f},
        // Standing with its lower end inside: the core's end, pushed out through the side.
        {"end inside", Float3(0, 0.8f, 0), Upright(), {Float3(0, 0.3f, 0)}, Float3(0, 1, 0), 0.4f},
    };
    for (const Case& k : cases) {
        CollisionCapsule* capsule = Capsule(k.centre, 0.2f, 1.0f, k.turn);
        std::vector<CollisionContact> contacts = Collide(*c, *capsule);
        ASSERT_EQ(contacts.size(), k.points.size()) << k.name;
        const auto byPlace = [](const CollisionContact& l, const CollisionContact& r) {
            const Float3 p = WorldPosition(l);
            const Float3 q = WorldPosition(r);
            return std::tie(p.x, p.y, p.z) < std::tie(q.x, q.y, q.z);
        };
        std::sort(contacts.begin(), contacts.end(), byPlace);
        for (size_t i = 0; i < contacts.size(); ++i) {
            test::ExpectNear(WorldPosition(contacts[i]), k.points[i], 1e-5f);
            test::ExpectNear(contacts[i].normal, k.normal, 1e-5f);
            EXPECT_NEAR(contacts[i].depth, k.depth, 1e-5f) << k.name;
        }
        CheckContacts(*c, *capsule, contacts, k.name, 0, 1e-5f);
        // The capsule first: the same points, the normals turned; one contact when one is
        // asked, in the middle of the stretch.
        std::vector<CollisionContact> swapped = Collide(*capsule, *c);
        ASSERT_EQ(swapped.size(), contacts.size()) << k.name;
        std::sort(swapped.begin(), swapped.end(), byPlace);
        for (size_t i = 0; i < swapped.size(); ++i) {
            test::ExpectNear(swapped[i].position, contacts[i].position);
            test::ExpectNear(swapped[i].normal, contacts[i].normal * -1.0f);
        }
        const std::vector<CollisionContact> one = Collide(*capsule, *c, 1);
        ASSERT_EQ(one.size(), 1u) << k.name;
        test::ExpectNear(WorldPosition(one[0]), (k.points.front() + k.points.back()) * 0.5f, 1e-5f);
        capsule->Delete();
    }
    // Clear of the side, of an end, of the rim.
    for (Float3 centre : {Float3(0, 1.25f, 0), Float3(0, 0, 1.25f), Float3(0.7f, 0, 1.1f)}) {
        CollisionCapsule* capsule = Capsule(centre, 0.2f, 1.0f, Upright());
        EXPECT_TRUE(Collide(*c, *capsule).empty()) << centre.x << "," << centre.y;
        capsule->Delete();
    }
}

TEST_F(CylinderContacts, SeededPlacementsAgainstBruteForce) {
    const auto cylinderAxes = [](CollisionVolume& a, CollisionVolume& b) {
        const Float3 a1 = GetShapeAxis(a);
        const Float3 a2 = GetShapeAxis(b);
        return std::vector<Float3>{a1, a2, a1.Cross(a2)};
    };
    const auto boxAxes = [](CollisionVolume& a, CollisionVolume& b) {
        const Float3 axis = GetShapeAxis(a);
        std::vector<Float3> axes = {axis};
        for (int i = 0; i < 3; ++i) {
            axes.push_back(b.GetWorldAxis(i));
            axes.push_back(b.GetWorldAxis(i).Cross(axis));
        }
        return axes;
    };
    RandomPairs(
        "cylinder-cylinder",
        [this] { return Cylinder(Point(1.5f), Uniform(0.2f, 1.0f), Uniform(0.2f, 2.0f), Turn()); },
        cylinderAxes);
    RandomPairs(
        "cylinder-box",
        [this] {
            return Box(Point(1.5f),
                       Float3(Uniform(0.2f, 2.0f), Uniform(0.2f, 2.0f), Uniform(0.2f, 2.0f)),
                       Turn());
        },
        boxAxes);
    // A sphere's or a capsule's only test is its distance, which sampling finds as well.
    RandomPairs(
        "cylinder-capsule",
        [this] { return Capsule(Point(1.5f), Uniform(0.1f, 0.8f), Uniform(0.0f, 2.0f), Turn()); },
        [this](CollisionVolume& a, CollisionVolume& b) {
            std::vector<Float3> axes = RandomDirections(3000);
            axes.push_back(GetShapeAxis(a));
            axes.push_back(GetShapeAxis(a).Cross(GetShapeAxis(b)));
            return axes;
        },
        1e-3f);
    RandomPairs(
        "cylinder-sphere", [this] { return Sphere(Point(1.5f), Uniform(0.1f, 1.0f)); },
        [this](CollisionVolume&, CollisionVolume&) { return RandomDirections(3000); });
}

} // namespace
} // namespace quarn
