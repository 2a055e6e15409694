#include "collision/CollisionMesh.h"

#include "collision/CollisionCapsule.h"
#include "collision/CollisionSpaceHash.h"
#include "collision/ConvexRoute.h"
#include "core/os/EngineWork.h"
#include "tests/collision/CollisionMeshTestSupport.h"

#include <array>
#include <cmath>
#include <functional>

namespace quarn {
namespace {

using CollisionMeshes = test::CollisionMeshTest;

TEST_F(CollisionMeshes, MassPropertiesOfClosedAndOpenSurfaces) {
    CollisionMesh* cube = Cube("cube.obj", 1);
    ASSERT_NE(cube->GetMesh(), nullptr);
    const float rho = cube->GetDensity();
    EXPECT_TRUE(cube->IsClosedSurface());
    EXPECT_NEAR(cube->GetMass(), 8 * rho, 1e-4f);
    test::ExpectNear(cube->GetWorldCenter(), Float3(), 1e-6f);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(cube->GetInertia()[i][i], 8 * rho * 8 / 12, 1e-3f);
        EXPECT_NEAR(cube->GetInertia()[i][(i + 1) % 3], 0, 1e-5f);
    }

    // The right tetrahedron of side a: centre a/4 on each axis, second moments a^5/160 and
    // -a^5/480 about it.
    const float a = 2;
    CollisionMesh* tetra = Built("tetra.obj", {{0, 0, 0}, {a, 0, 0}, {0, a, 0}, {0, 0, a}},
                                   {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3});
    EXPECT_TRUE(tetra->IsClosedSurface());
    const float a5 = std::pow(a, 5.0f);
    EXPECT_NEAR(tetra->GetMass(), rho * a * a * a / 6, 1e-4f);
    test::ExpectNear(tetra->GetWorldCenter(), Float3(a / 4, a / 4, a / 4), 1e-5f);
    EXPECT_NEAR(tetra->GetInertia()[0][0], rho * a5 / 80, 1e-4f);
    EXPECT_NEAR(tetra->GetInertia()[1][2], rho * a5 / 480, 1e-4f);

    // One face missing: the box's figures.
    std::vector<int> open = CubeIndices();
    open.resize(open.size() - 6);
    CollisionMesh* shell = Built("open.obj", CubePoints(1), open);
    EXPECT_FALSE(shell->IsClosedSurface());
    EXPECT_NEAR(shell->GetMass(), 8 * rho, 1e-4f);
    EXPECT_NEAR(shell->GetInertia()[1][1], 8 * rho * 8 / 12, 1e-3f);

    // Duplicates weld onto the corners: closed up to 96 vertices, never at 97.
    for (int extra : {88, 89}) {
        std::vector<Float3> points = CubePoints(1);
        for (int i = 0; i < extra; ++i) {
            points.push_back(points[static_cast<size_t>(i % 8)]);
        }
        CollisionMesh* many =
            Built("many" + std::to_string(extra) + ".obj", points, CubeIndices());
        EXPECT_EQ(many->IsClosedSurface(), points.size() <= 96) << points.size();
    }
}

TEST_F(CollisionMeshes, SupportQueriesMatchTheVerticesAndFacesHonourTheirLimits) {
    std::mt19937 random(53);
    std::uniform_real_distribution<float> unit(-1, 1);
    const Quaternion turn = Quaternion::FromAxisAngle(0.7f, Float3(1, 2, 3).NormalizedOrSelf());
    CollisionMesh* cube = Cube("cube.obj", 0.5f, Float3(1, 2, 3), turn);
    std::vector<Float3> world;
    for (const Float3& p : CubePoints(0.5f)) {
        world.push_back(cube->LocalToWorld(p));
    }
    for (int round = 0; round < 200; ++round) {
        const Float3 d = Float3(unit(random), unit(random), unit(random)).NormalizedOrSelf();
        float best = -1e30f;
        for (const Float3& p : world) {
            best = std::max(best, p.Dot(d));
        }
        EXPECT_NEAR(cube->GetSupportPoint(d).Dot(d), best, 1e-4f);
        EXPECT_NEAR(cube->GetSupportDistance(d), best, 1e-4f);
        const SupportFace* face = cube->GetSupportFace(d);
        ASSERT_NE(face, nullptr);
        EXPECT_GT(face->normal.Dot(d), 0.5f);
        EXPECT_EQ(face->Vertices().size(), 4u);
    }
    EXPECT_EQ(cube->GetFaceCount(), 6);
    cube->SetSubmeshFlags(0);
    EXPECT_EQ(cube->GetSupportFace(Float3(0, 1, 0)), nullptr);

    // Nothing within 60 degrees of a direction past the tetrahedron's corner.
    CollisionMesh* tetra = Built("tetra.obj", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
                                   {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3});
    EXPECT_EQ(tetra->GetSupportFace(Float3(1, -0.3f, -0.3f).NormalizedOrSelf()), nullptr);
    EXPECT_NE(tetra->GetSupportFace(Float3(1, 1, 1).NormalizedOrSelf()), nullptr);
}

TEST_F(CollisionMeshes, PicksFollowTheMeshAndItsBackFaceRule) {
    CollisionMesh* cube = Cube("cube.obj", 1, Float3(0, 0, 5));
    PickQuery query;
    query.Init(PickQuery::DefaultMaxDistance, PickCollisionVolumes | PickNormal, 0, 0);
    ASSERT_TRUE(cube->IntersectRay(Float3(0.2f, 0.3f, 0), Float3(0, 0, 2), query));
    EXPECT_NEAR(query.current.distance, 4.0f, 1e-5f);
    test::ExpectNear(query.current.data, Float3(0, 0, -1));
    // Missing the bounding sphere: no hit.
    EXPECT_FALSE(cube->IntersectRay(Float3(5, 0, 0), Float3(0, 0, 1), query));
    // From inside: a one-sided mesh gives 0, a double-sided one the back face's distance.
    ASSERT_TRUE(cube->IntersectRay(Float3(0, 0, 5), Float3(0, 0, 1), query));
    EXPECT_EQ(query.current.distance, 0.0f);
    cube->SetRenderFlag(RenderDoubleSided, true);
    ASSERT_TRUE(cube->IntersectRay(Float3(0, 0, 5), Float3(0, 0, 1), query));
    EXPECT_NEAR(query.current.distance, 1.0f, 1e-5f);

    // A dented cube is kept, with a warning.
    std::vector<Float3> dented = CubePoints(1);
    dented[7] = Float3(0.2f, 0.2f, 0.2f);
    CollisionMesh* bad = Built("dent.obj", dented, CubeIndices());
    EXPECT_NE(bad->GetMesh(), nullptr);
    EXPECT_TRUE(log_.Contains("Mesh \"dent.obj\" used for collision is not convex!"));
}

TEST_F(CollisionMeshes, MeshPairsTakeTheGeneralRoute) {
    auto* space = tree_.Make<CollisionSpaceHash>("space");
    CollisionMesh* lower = Cube("lower.obj", 1);
    CollisionMesh* upper = Cube("upper.obj", 0.5f, Float3(0.3f, 1.45f, -0.2f),
                                Quaternion::FromAxisAngle(0.3f, Float3(0, 1, 0)));
    auto* box = tree_.Make<CollisionBox>("box");
    box->SetPosition(Float3(-0.2f, -1.4f, 0.1f));
    box->SetSize(Float3(1, 1, 1));
    space->AddVolume(*lower);
    space->AddVolume(*upper);
    std::array<CollisionContact, 64> cold;
    for (CollisionVolume* other : {static_cast<CollisionVolume*>(upper),
                                   static_cast<CollisionVolume*>(box)}) {
        const int count = CollidePair(*lower, *other, 64, cold);
        ASSERT_GE(count, 4);
        for (int i = 0; i < count; ++i) {
            const Float3 p = test::WorldPosition(cold[i]);
            EXPECT_GE(lower->GetPointDepth(p, nullptr), -cold[i].depth - 1e-3f);
            EXPECT_GE(other->GetPointDepth(p, nullptr), -cold[i].depth - 1e-3f);
            EXPECT_GT(cold[i].normal.Dot(other->GetWorldCenter() - lower->GetWorldCenter()), 0);
        }
    }
    const int count = CollidePair(*lower, *upper, 64, cold);
    ASSERT_NE(space->FindPair(*lower, *upper), nullptr);
    std::array<CollisionContact, 64> warm;
    ASSERT_EQ(CollidePair(*lower, *upper, 64, warm), count);
    for (int i = 0; i < count; ++i) {
        EXPECT_LT((warm[i].position - cold[i].position).Length(), 1e-3f);
    }
}

// Edge across edge, each shape's faces lead out along their own normals, the longer way: the
// pair meets once, where the edges cross, along the least way out, however deep.
TEST_F(CollisionMeshes, AnEdgeAcrossAMeshEdgeMeetsAlongTheLeastWayOut) {
    const float edge = std::sqrt(2.0f) * 0.5f; // of a unit cube turned 45 degrees, above its centre
    CollisionMesh* ridge =
        Cube("ridge.obj", 0.5f, Float3(), Quaternion::FromAxisAngle(0.7853982f, Float3(1, 0, 0)));
    for (float depth : {0.01f, 0.1f, 0.4f}) {
        CollisionBox* box = Box(Float3(0.1f, 2.0f * edge - depth, -0.05f), Float3(1, 1, 1),
                                Quaternion::FromAxisAngle(0.7853982f, Float3(0, 0, 1)));
        for (bool boxFirst : {true, false}) {
            const std::vector<CollisionContact> contacts =
                boxFirst ? Collide(*box, *ridge) : Collide(*ridge, *box);
            ASSERT_EQ(contacts.size(), 1u) << depth;
            test::ExpectNear(contacts[0].normal, Float3(0, boxFirst ? -1.0f : 1.0f, 0), 1e-3f);
            EXPECT_NEAR(contacts[0].depth, depth, 1e-3f);
            test::ExpectNear(test::WorldPosition(contacts[0]),
                             Float3(0.1f, edge - depth * 0.5f, 0.0f), 2e-3f);
        }
        box->Delete();
    }
}

TEST_F(CollisionMeshes, SeededCapsulePlacementsGiveContactsInsideBothShapes) {
    // The meshes stay held by these volumes; each round places a volume of its own.
    std::vector<Float3> slab = CubePoints(1);
    for (Float3& p : slab) {
        p = Float3(p.x * 0.9f, p.y * 0.15f, p.z * 0.6f);
    }
    const std::vector<CollisionMesh*> shapes = {Built("slab.obj", slab, CubeIndices()),
                                                Prism("prism.obj", 8, 0.8f, -0.5f, 0.7f),
                                                Prism("wedge.obj", 3, 0.9f, -0.8f, 0.8f)};
    for (CollisionMesh* shape : shapes) {
        ASSERT_TRUE(shape->IsClosedSurface()) << shape->GetMeshName();
    }
    size_t next = 0;
    SeededPairs(
        "capsule-mesh",
        [this] { return Capsule(Float3(), Uniform(0.1f, 0.8f), Uniform(0.0f, 2.0f), Turn()); },
        [&] {
            const Float3 at = Point(1.5f);
            return Holding(*shapes[next++ % shapes.size()], at, Turn());
        },
        [this](CollisionVolume& a, CollisionVolume& b) {
            std::vector<Float3> axes = RandomDirections(3000);
            for (int i = 0; i < b.GetFaceCount(); ++i) {
                axes.push_back(b.GetFaceNormal(i));
                axes.push_back(b.GetFaceNormal(i).Cross(GetShapeAxis(a)));
            }
            return axes;
        },
        1e-3f);
    // Lying on the slab's top, touching it only while the top's face is enabled.
    CollisionCapsule* capsule =
        Capsule(shapes[0]->GetWorldPosition() + Float3(0, 0.3f, 0), 0.2f, 1.0f,
                Quaternion::FromAxisAngle(1.5707964f, Float3(0, 1, 0)));
    std::array<CollisionContact, 2> contacts;
    EXPECT_EQ(CollidePair(*shapes[0], *capsule, 2, contacts), 2);
    shapes[0]->SetSubmeshFlags(0);
    EXPECT_EQ(CollidePair(*shapes[0], *capsule, 2, contacts), 0);
}

TEST_F(CollisionMeshes, ASphereMeetsAMeshAtItsNearestPoint) {
    // Over a face, beyond an edge and beyond a corner of a cube: one contact on the cube where
    // it comes nearest the centre, leading from the centre to it, the radius less the distance
    // deep. The corner's ball is as deep along an axis as the truth, so only the way tells.
    struct Case {
        Float3 centre;
        Float3 nearest;
    };
    const Case cases[] = {
        {{0.3f, 1.25f, -0.2f}, {0.3f, 1, -0.2f}},
        {{1.3f, 1.1f, 0.2f}, {1, 1, 0.2f}},
        {{1.15f, 1.1f, 1.2f}, {1, 1, 1}},
    };
    CollisionMesh* cube = Cube("cube.obj", 1);
    for (const Case& c : cases) {
        CollisionSphere* ball = Sphere(c.centre, 0.4f);
        const float distance = (c.nearest - c.centre).Length();
        for (const bool swapped : {false, true}) {
            std::array<CollisionContact, 4> contacts;
            ASSERT_EQ(swapped ? CollidePair(*cube, *ball, 4, contacts)
                              : CollidePair(*ball, *cube, 4, contacts),
                      1);
            const float sign = swapped ? -1.0f : 1.0f;
            test::ExpectNear(test::WorldPosition(contacts[0]), c.nearest, 1e-4f);
            test::ExpectNear(contacts[0].normal * sign, (c.nearest - c.centre) / distance, 1e-4f);
            EXPECT_NEAR(contacts[0].depth, 0.4f - distance, 1e-4f);
        }
        ball->Delete();
    }
}

TEST_F(CollisionMeshes, LargeFacesFaceToFaceStayWithinTheArray) {
    // Two 40-sided prisms, one turned a little, their caps pressed together.
    const auto prism = [](float low, float high, float phase) {
        std::vector<Float3> points;
        for (int i = 0; i < 40; ++i) {
            const float angle = 6.2831853f * static_cast<float>(i) / 40.0f + phase;
            points.emplace_back(std::cos(angle), low, std::sin(angle));
            points.emplace_back(std::cos(angle), high, std::sin(angle));
        }
        std::vector<int> indices;
        for (int i = 0; i < 40; ++i) {
            const int j = (i + 1) % 40;
            indices.insert(indices.end(), {2 * i, 2 * i + 1, 2 * j, 2 * j, 2 * i + 1, 2 * j + 1});
            if (i > 0 && i < 39) {
                indices.insert(indices.end(), {0, 2 * i, 2 * j, 1, 2 * j + 1, 2 * i + 1});
            }
        }
        return std::make_pair(points, indices);
    };
    const auto [lowPoints, lowIndices] = prism(-1, 0, 0);
    const auto [highPoints, highIndices] = prism(-0.05f, 1, 0.04f);
    CollisionMesh* lower = Built("low.obj", lowPoints, lowIndices);
    CollisionMesh* upper = Built("high.obj", highPoints, highIndices);
    EXPECT_TRUE(lower->TestVolume(upper));
    EXPECT_GT(CollisionVolume::GetLastTestDepth(), 0.0f);
    std::array<CollisionContact, 200> contacts;
    const int all = CollidePair(*lower, *upper, 200, contacts);
    EXPECT_GT(all, 32);
    EXPECT_LE(all, 200);

    // Logical: one contact of depth 0 at the midpoint.
    upper->SetCollFlags(upper->GetCollFlags() | CollLogical);
    EXPECT_TRUE(lower->TestVolume(upper));
    EXPECT_EQ(CollisionVolume::GetLastTestDepth(), 0.0f);
    test::ExpectNear(CollisionVolume::GetLastTestPosition(),
                     (lower->GetWorldCenter() + upper->GetWorldCenter()) * 0.5f, 1e-5f);
}

uint64_t chargedSteps = 0;
void CountCharge(uint64_t steps) {
    chargedSteps += steps;
}

// A script's query of a mesh volume passes the mesh's elements at each look the collision takes:
// each is charged as a ray's triangle is, so a loop of them over a large mesh ends with the loop
// error. Uncharged, a test against a mesh of any size cost one command.
TEST_F(CollisionMeshes, QueriesOfAMeshVolumeAreChargedByTheElementsTheyPass) {
    constexpr int Sides = 500;
    CollisionMesh* prism = Prism("many.obj", Sides, 1, 0, 1);
    const uint64_t triangles = prism->GetMesh()->GetTriangleCount();
    const uint64_t vertices = prism->GetMesh()->GetVertexCount();
    ASSERT_GE(triangles, uint64_t(4 * Sides - 4));
    CollisionSphere* touching = Sphere(Float3(1, 0.5f, 0), 0.5f);
    CollisionSphere* apart = Sphere(Float3(5, 0.5f, 0), 0.5f);
    const struct {
        const char* name;
        std::function<void()> call;
        uint64_t least;
    } cases[] = {
        {"TestVolume touching", [&] { prism->TestVolume(touching); }, vertices},
        {"TestVolume apart", [&] { prism->TestVolume(apart); }, vertices},
        {"GetPointDepth", [&] { prism->GetPointDepth(Float3(0, 0.5f, 0), nullptr); }, triangles},
        {"GetSupportPoint", [&] { prism->GetSupportPoint(Float3(1, 0, 0)); }, vertices},
    };
    for (const auto& [name, call, least] : cases) {
        chargedSteps = 0;
        SetEngineWorkHook(&CountCharge);
        call();
        SetEngineWorkHook(nullptr);
        EXPECT_GE(chargedSteps, least) << name;
    }
}

} // namespace
} // namespace quarn
