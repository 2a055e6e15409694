#include "collision/CollisionMesh.h"
#include "tests/collision/CollisionMeshTestSupport.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

namespace quarn {
namespace {

constexpr float Far = 1e30f;

enum class Shape { Point, Plane, Sphere, Ray, Capsule, Cylinder, Box, Mesh, Terrain };

// One pair of the sweep and the bounds its contacts keep.
struct PairCase {
    const char* name;
    Shape first;
    Shape second;
    // For overlaps up to `checkedTo`: how far the deepest contact's depth may lie from the least
    // overlap, and how much longer the way out along its normal may be. Deeper overlaps are held
    // only to the contacts' placement.
    float depthSlack = 2e-3f;
    float normalSlack = 1e-3f;
    float checkedTo = Far;
    // Overlaps at least this deep the pair may miss.
    float missedFrom = Far;
    // What the pair leaves out by design: overlaps it need not find.
    bool (*excused)(CollisionVolume& first, CollisionVolume& second) = nullptr;
};

std::string Name(const ::testing::TestParamInfo<PairCase>& info) {
    std::string name;
    for (const char* c = info.param.name; *c; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c))) {
            name += *c;
        }
    }
    return name;
}

class PairSweep : public test::CollisionMeshTest, public ::testing::WithParamInterface<PairCase> {
protected:
    void SetUp() override {
        CollisionMeshTest::SetUp();
        std::vector<Float3> slab = CubePoints(1);
        for (Float3& p : slab) {
            p = Float3(p.x * 0.9f, p.y * 0.15f, p.z * 0.6f);
        }
        meshes_ = {
            Built("slab.obj", slab, CubeIndices()), Prism("prism.obj", 8, 0.8f, -0.5f, 0.7f),
            Prism("wedge.obj", 3, 0.9f, -0.8f, 0.8f),
            Built("tetra.obj",
                  {{-0.6f, -0.4f, -0.5f}, {0.8f, -0.4f, -0.3f}, {0, -0.4f, 0.9f}, {0.1f, 0.9f, 0}},
                  {0, 1, 2, 0, 3, 1, 1, 3, 2, 2, 3, 0})};
        for (CollisionMesh* mesh : meshes_) {
            ASSERT_TRUE(mesh->IsClosedSurface()) << mesh->GetMeshName();
            mesh->SetPosition(Float3(50, 50, 50));
        }
    }

    CollisionVolume* MakeShape(Shape shape) {
        const Float3 at = Point(1.2f);
        switch (shape) {
        case Shape::Point:
            return Make<CollisionPoint>(at);
        case Shape::Plane:
            if (Uniform(0, 1) < 0.5f) {
                return Plane(at, static_cast<int32_t>(Uniform(0, 5.99f)));
            }
            return Plane(at, -1, Turn());
        case Shape::Sphere:
            return Sphere(at, Uniform(0.1f, 1.0f));
        case Shape::Ray:
            return Ray(at, Turn(), Uniform(0.2f, 3.0f));
        case Shape::Capsule:
            return Capsule(at, Uniform(0.1f, 0.8f), Uniform(0.0f, 2.0f), Turn());
        case Shape::Cylinder:
            return Cylinder(at, Uniform(0.2f, 1.0f), Uniform(0.2f, 2.0f), Turn());
        case Shape::Box:
            return Box(at, Float3(Uniform(0.2f, 2.0f), Uniform(0.2f, 2.0f), Uniform(0.2f, 2.0f)),
                       Turn());
        case Shape::Mesh:
            return Holding(*meshes_[static_cast<size_t>(Uniform(0, 3.99f))], at, Turn());
        case Shape::Terrain: {
            auto* terrain = Make<CollisionTerrain>(at, Turn(0.8f));
            terrain->SetGridSize(Int2(4, 4)); // flat: a half-space below the node
            terrain->SetSize(Float3(8, 1, 8));
            return terrain;
        }
        }
        return nullptr;
    }

    // The shapes as the checks see them, apart from the colliders: a plane and a flat terrain
    // are half-spaces, a point has no inside.
    static bool HalfSpace(CollisionVolume& v, Float3& normal) {
        if (auto* plane = dynamic_cast<CollisionPlane*>(&v)) {
            normal = plane->GetNormal();
            return true;
        }
        if (v.GetShapeType() == COLLISION_TERRAIN) {
            normal = v.GetWorldAxis(1);
            return true;
        }
        return false;
    }
    static float Depth(CollisionVolume& v, const Float3& p) {
        Float3 n;
        if (HalfSpace(v, n)) {
            return n.Dot(v.GetWorldPosition() - p);
        }
        return v.GetPointDepth(p, nullptr);
    }
    static float Support(CollisionVolume& v, const Float3& u) {
        Float3 n;
        if (HalfSpace(v, n)) {
            return (u - n * n.Dot(u)).LengthSquared() < 1e-10f && n.Dot(u) > 0.0f
                       ? v.GetWorldPosition().Dot(u)
                       : Far;
        }
        return v.GetSupportDistance(u);
    }
    // How far b must move along u to clear a.
    static float Overlap(CollisionVolume& a, CollisionVolume& b, const Float3& u) {
        return std::min(Support(a, u) + Support(b, u * -1.0f), Far);
    }
    // The directions worth trying beside random ones: both shapes' axes and faces, and across.
    std::vector<Float3> Axes(CollisionVolume& a, CollisionVolume& b) {
        std::vector<Float3> axes = RandomDirections(2000);
        std::vector<Float3> own;
        for (CollisionVolume* v : {&a, &b}) {
            Float3 n;
            if (HalfSpace(*v, n)) {
                own.push_back(n);
            }
            for (int i = 0; i < 3; ++i) {
                own.push_back(v->GetWorldAxis(i));
            }
            for (int i = 0; i < v->GetFaceCount(); ++i) {
                own.push_back(v->GetFaceNormal(i));
            }
        }
        for (size_t i = 0; i < own.size(); ++i) {
            axes.push_back(own[i]);
            for (size_t j = 0; j < i; ++j) {
                axes.push_back(own[i].Cross(own[j]));
            }
        }
        for (Float3& u : axes) {
            u = u.NormalizedOrSelf();
        }
        axes.erase(std::remove_if(axes.begin(), axes.end(),
                                  [](const Float3& u) { return u.LengthSquared() < 0.5f; }),
                   axes.end());
        return axes;
    }
    // The least overlap over every direction, and that direction: the best of the candidates
    // and their reverses, walked downhill in ever smaller steps.
    float LeastOverlap(CollisionVolume& a, CollisionVolume& b, std::vector<Float3> candidates,
                       Float3& best) {
        std::vector<std::pair<float, Float3>> ranked;
        for (const Float3& c : candidates) {
            for (const Float3& u : {c, c * -1.0f}) {
                ranked.emplace_back(Overlap(a, b, u), u);
            }
        }
        std::partial_sort(ranked.begin(), ranked.begin() + std::min<size_t>(6, ranked.size()),
                          ranked.end(),
                          [](const auto& l, const auto& r) { return l.first < r.first; });
        float least = Far;
        for (size_t k = 0; k < std::min<size_t>(6, ranked.size()); ++k) {
            auto [value, u] = ranked[k];
            for (float step = 0.2f; step > 1e-6f; step *= 0.6f) {
                for (int i = 0; i < 16; ++i) {
                    const Float3 v = (u + Point(step)).NormalizedOrSelf();
                    const float o = Overlap(a, b, v);
                    if (o < value) {
                        value = o;
                        u = v;
                    }
                }
            }
            if (value < least) {
                least = value;
                best = u;
            }
        }
        return least;
    }
    // Whether some point lies deeper than `margin` inside both shapes; a point's own position
    // is the only one it has.
    bool ClearOverlap(CollisionVolume& a, CollisionVolume& b, float margin) {
        for (CollisionVolume* v : {&a, &b}) {
            if (v->GetShapeType() == COLLISION_POINT) {
                CollisionVolume& other = v == &a ? b : a;
                return Depth(other, v->GetWorldPosition()) > margin;
            }
        }
        Float3 n;
        CollisionVolume& finite = HalfSpace(a, n) ? b : a;
        const Aabb box = finite.GetWorldBoundingBox();
        for (int i = 0; i < 4000; ++i) {
            const Float3 p(Uniform(box.min.x, box.max.x), Uniform(box.min.y, box.max.y),
                           Uniform(box.min.z, box.max.z));
            if (Depth(a, p) > margin && Depth(b, p) > margin) {
                return true;
            }
        }
        return false;
    }

    void Sweep(const PairCase& pair, int rounds);
    void RaySweep(const PairCase& pair, int rounds);

    std::vector<CollisionMesh*> meshes_;
};

void PairSweep::Sweep(const PairCase& pair, int rounds) {
    int failures = 0;
    for (int round = 0; round < rounds && failures < 10; ++round) {
        CollisionVolume* a = MakeShape(pair.first);
        CollisionVolume* b = MakeShape(pair.second);
        const std::vector<CollisionContact> contacts = Collide(*a, *b);
        const std::vector<Float3> axes = Axes(*a, *b);
        float gap = -Far;
        for (const Float3& u : axes) {
            gap = std::max({gap, -Overlap(*a, *b, u), -Overlap(*a, *b, u * -1.0f)});
        }
        const std::string where = std::string(pair.name) + " round " + std::to_string(round);
        bool failed = false;
        const auto check = [&](bool ok, const std::string& what) {
            EXPECT_TRUE(ok) << where << ": " << what;
            failed = failed || !ok;
        };
        Float3 way;
        if (gap > 1e-3f) {
            check(contacts.empty(), "apart by " + std::to_string(gap) + " yet touching");
        } else if (contacts.empty() && ClearOverlap(*a, *b, 1e-2f) &&
                   !(pair.excused && pair.excused(*a, *b))) {
            const float truth = LeastOverlap(*a, *b, axes, way);
            check(truth >= pair.missedFrom,
                  "an overlap of " + std::to_string(truth) + " without contacts");
        }
        if (!contacts.empty()) {
            std::vector<Float3> candidates = axes;
            const CollisionContact* deepest = &contacts[0];
            for (const CollisionContact& c : contacts) {
                const Float3 p = test::WorldPosition(c);
                if (!std::isfinite(p.x + p.y + p.z + c.depth + c.normal.x + c.normal.y +
                                   c.normal.z)) {
                    check(false, "not finite");
                    continue;
                }
                check(std::fabs(c.normal.Length() - 1.0f) < 1e-3f, "normal not of unit length");
                const float da = Depth(*a, p);
                const float db = Depth(*b, p);
                check(std::min(da, db) >= -(c.depth + 2e-3f),
                      "contact outside: depths " + std::to_string(da) + ", " + std::to_string(db) +
                          " contact depth " + std::to_string(c.depth));
                candidates.push_back(c.normal);
                if (c.depth > deepest->depth) {
                    deepest = &c;
                }
            }
            const float truth = LeastOverlap(*a, *b, candidates, way);
            if (truth <= pair.checkedTo) {
                for (const CollisionContact& c : contacts) {
                    check(c.depth <= Overlap(*a, *b, c.normal) + pair.depthSlack,
                          "deeper than the overlap along its normal: " + std::to_string(c.depth) +
                              " > " + std::to_string(Overlap(*a, *b, c.normal)));
                }
                check(std::fabs(deepest->depth - truth) <= pair.depthSlack,
                      "deepest " + std::to_string(deepest->depth) + " against " +
                          std::to_string(truth));
                check(Overlap(*a, *b, deepest->normal) <= truth + pair.normalSlack,
                      "normal leads out the long way: " +
                          std::to_string(Overlap(*a, *b, deepest->normal)) + " against " +
                          std::to_string(truth));
            }
        }
        failures += failed ? 1 : 0;
        a->Delete();
        b->Delete();
    }
}

// A ray's contact is where it first crosses the other's surface, its depth the distance
// along the ray; found here by marching.
void PairSweep::RaySweep(const PairCase& pair, int rounds) {
    for (int round = 0; round < rounds; ++round) {
        CollisionVolume* a = MakeShape(pair.first);
        CollisionVolume* b = MakeShape(pair.second);
        auto& ray = dynamic_cast<CollisionRay&>(a->GetShapeType() == COLLISION_RAY ? *a : *b);
        CollisionVolume& other = &ray == a ? *b : *a;
        const std::vector<CollisionContact> contacts = Collide(*a, *b);
        const std::string where = std::string(pair.name) + " round " + std::to_string(round);
        const Float3 o = ray.GetWorldPosition();
        const Float3 axis = GetShapeAxis(ray);
        const float length = ray.GetLength();
        const bool inside = Depth(other, o) > 0.0f;
        float crossing = -1.0f;
        for (int i = 1; i <= 6000; ++i) {
            const float t = length * static_cast<float>(i) / 6000.0f;
            if ((Depth(other, o + axis * t) > 0.0f) != inside) {
                crossing = t;
                break;
            }
        }
        const float slack = 2e-3f * std::max(1.0f, length);
        if (std::fabs(Depth(other, o)) > slack &&
            (crossing < 0.0f || (crossing > slack && crossing < length - slack))) {
            ASSERT_EQ(contacts.size(), crossing < 0.0f ? 0u : 1u) << where;
        }
        for (const CollisionContact& c : contacts) {
            const Float3 p = test::WorldPosition(c);
            EXPECT_NEAR(c.normal.Length(), 1.0f, 1e-3f) << where;
            test::ExpectNear(p, o + axis * c.depth, 1e-3f);
            EXPECT_LT(std::fabs(Depth(other, p)), 1e-3f) << where;
            if (crossing > 0.0f) {
                EXPECT_NEAR(c.depth, crossing, slack) << where;
            }
            Float3 outward;
            if (!HalfSpace(other, outward)) {
                other.GetPointDepth(p, &outward);
            }
            // From the ray into the other where it enters, out of it where it leaves.
            const float sign = &ray == a ? 1.0f : -1.0f;
            EXPECT_NEAR(c.normal.Dot(outward) * sign, inside ? 1.0f : -1.0f, 1e-3f) << where;
        }
        a->Delete();
        b->Delete();
    }
}

TEST_P(PairSweep, SeededPlacementsGiveContactsInsideBothShapesAtTheTrueDepth) {
    const PairCase& pair = GetParam();
    if (pair.first == Shape::Ray || pair.second == Shape::Ray) {
        RaySweep(pair, 300);
    } else {
        Sweep(pair, 300);
    }
}

bool PointInCap(CollisionVolume& first, CollisionVolume& second) {
    auto& capsule =
        dynamic_cast<CollisionCapsule&>(first.GetShapeType() == COLLISION_CAPSULE ? first : second);
    CollisionVolume& point = &capsule == &first ? second : first;
    const float along =
        GetShapeAxis(capsule).Dot(point.GetWorldPosition() - capsule.GetWorldPosition());
    return std::fabs(along) >= capsule.GetLength() * 0.5f;
}

// Every ordered pair with a collider of its own, and the pairs of a mesh, which take the general
// convex route. Where a row loosens a bound it states how far the pair is known to stray.
const PairCase pairs[] = {
    {"sphere-plane", Shape::Sphere, Shape::Plane},
    {"sphere-sphere", Shape::Sphere, Shape::Sphere},
    {"sphere-box", Shape::Sphere, Shape::Box},
    {"box-plane", Shape::Box, Shape::Plane},
    // Beyond 0.2 the depth strays up to 0.04 from the least overlap.
    {"box-box", Shape::Box, Shape::Box, 2e-3f, 3e-3f, 0.2f},
    {"box-point", Shape::Box, Shape::Point},
    {"cylinder-plane", Shape::Cylinder, Shape::Plane},
    // Beyond 0.2 the way out may be 0.45 longer than the least.
    {"cylinder-sphere", Shape::Cylinder, Shape::Sphere, 2e-3f, 1e-3f, 0.2f},
    // Beyond 0.05 depth and way out stray up to 0.35.
    {"cylinder-box", Shape::Cylinder, Shape::Box, 2e-3f, 1e-3f, 0.05f},
    // Ends and sides meet by sampled features: up to 0.04 of the way out even when shallow,
    // 0.1 beyond 0.05.
    {"cylinder-cylinder", Shape::Cylinder, Shape::Cylinder, 4e-3f, 0.04f, 0.05f},
    {"capsule-sphere", Shape::Capsule, Shape::Sphere},
    {"capsule-capsule", Shape::Capsule, Shape::Capsule},
    {"capsule-plane", Shape::Capsule, Shape::Plane},
    // Deep overlaps take the general route's way out: beyond 0.2, up to 0.3 longer.
    {"capsule-cylinder", Shape::Capsule, Shape::Cylinder, 2e-3f, 1e-3f, 0.2f},
    {"capsule-box", Shape::Capsule, Shape::Box},
    {"capsule-mesh", Shape::Capsule, Shape::Mesh},
    {"terrain-point", Shape::Terrain, Shape::Point},
    {"ray-sphere", Shape::Ray, Shape::Sphere},
    {"ray-plane", Shape::Ray, Shape::Plane},
    {"ray-capsule", Shape::Ray, Shape::Capsule},
    // A point meets a capsule only along its straight side.
    {"point-capsule", Shape::Point, Shape::Capsule, 2e-3f, 1e-3f, Far, Far, PointInCap},
    {"capsule-point", Shape::Capsule, Shape::Point, 2e-3f, 1e-3f, Far, Far, PointInCap},
    {"point-cylinder", Shape::Point, Shape::Cylinder},
    // Beyond 0.05 the depth strays up to 0.07.
    {"cylinder-point", Shape::Cylinder, Shape::Point, 2e-3f, 1e-3f, 0.05f},
    {"point-mesh", Shape::Point, Shape::Mesh},
    {"mesh-point", Shape::Mesh, Shape::Point},
    {"sphere-mesh", Shape::Sphere, Shape::Mesh},
    {"mesh-sphere", Shape::Mesh, Shape::Sphere},
    {"box-mesh", Shape::Box, Shape::Mesh},
    {"mesh-box", Shape::Mesh, Shape::Box},
    {"cylinder-mesh", Shape::Cylinder, Shape::Mesh},
    {"mesh-cylinder", Shape::Mesh, Shape::Cylinder},
    {"mesh-mesh", Shape::Mesh, Shape::Mesh},
};

INSTANTIATE_TEST_SUITE_P(Pairs, PairSweep, ::testing::ValuesIn(pairs), Name);

// Shapes resting on floors from 10 m to 1 km across, at the centre and on both diagonals, where
// the floor's support points tie, and between them (turned there): the general route's answer
// must not depend on where on the floor, or on how large a floor, the shape sinks in.
class LargeFloorSweep : public test::CollisionMeshTest {
protected:
    enum class Floor { Box, Slab, Quad };
    enum class Mover {
        Box,
        Sphere,
        CapsuleStanding,
        CapsuleLying,
        CylinderStanding,
        CylinderLying
    };

    // Its top at y = 0, centred on the origin.
    CollisionVolume* MakeFloor(Floor kind, float size) {
        const float h = size * 0.5f;
        const std::string tag = std::to_string(static_cast<int>(size));
        switch (kind) {
        case Floor::Box:
            return Box(Float3(0, -0.5f, 0), Float3(size, 1, size));
        case Floor::Slab: {
            std::vector<Float3> corners = CubePoints(1);
            for (Float3& c : corners) {
                c = Float3(c.x * h, c.y * 0.5f - 0.5f, c.z * h);
            }
            return Built("slab" + tag + ".obj", corners, CubeIndices());
        }
        case Floor::Quad:
            return Built("quad" + tag + ".obj", {{-h, 0, -h}, {-h, 0, h}, {h, 0, h}, {h, 0, -h}},
                         {0, 1, 2, 0, 2, 3});
        }
        return nullptr;
    }
    // Its lowest point `sink` below y = 0 at the place; `height` is how tall it stands.
    CollisionVolume* MakeMover(Mover kind, Float3 at, float yaw, float sink, float& height) {
        const Quaternion turn = Quaternion::FromAxisAngle(yaw, Float3(0, 1, 0));
        const Quaternion stand = Quaternion::FromAxisAngle(1.5707963f, Float3(1, 0, 0)) * turn;
        CollisionVolume* shape = nullptr;
        switch (kind) {
        case Mover::Box:
            shape = Box(at, Float3(1, 1, 1), turn);
            break;
        case Mover::Sphere:
            shape = Sphere(at, 0.5f);
            break;
        case Mover::CapsuleStanding:
            shape = Capsule(at, 0.25f, 1.0f, stand);
            break;
        case Mover::CapsuleLying:
            shape = Capsule(at, 0.25f, 1.0f, turn);
            break;
        case Mover::CylinderStanding:
            shape = Cylinder(at, 0.5f, 1.0f, stand);
            break;
        case Mover::CylinderLying:
            shape = Cylinder(at, 0.5f, 1.0f, turn);
            break;
        }
        const float bottom = shape->GetSupportPoint(Float3(0, -1, 0)).y;
        height = shape->GetSupportPoint(Float3(0, 1, 0)).y - bottom;
        shape->SetPosition(at - Float3(0, bottom + sink, 0));
        return shape;
    }
};

TEST_F(LargeFloorSweep, EveryPlaceOfEveryFloorGivesTheContactOfAShallowFloor) {
    const struct {
        const char* name;
        Floor kind;
    } floors[] = {{"box", Floor::Box}, {"slab", Floor::Slab}, {"quad", Floor::Quad}};
    const struct {
        const char* name;
        Mover kind;
    } movers[] = {{"box", Mover::Box},
                  {"sphere", Mover::Sphere},
                  {"standing capsule", Mover::CapsuleStanding},
                  {"lying capsule", Mover::CapsuleLying},
                  {"standing cylinder", Mover::CylinderStanding},
                  {"lying cylinder", Mover::CylinderLying}};
    // Degrees the deepest contact's normal may turn from the floor's, and the share of the
    // depth it may miss by beyond 2e-3.
    const float cosine = std::cos(3.0f * 3.1415927f / 180.0f);
    const float missed = 0.01f;
    for (const auto& floor : floors) {
        for (float size : {10.0f, 40.0f, 200.0f, 1000.0f}) {
            CollisionVolume* ground = MakeFloor(floor.kind, size);
            for (const auto& mover : movers) {
                for (int gx = -2; gx <= 2; ++gx) {
                    for (int gz = -2; gz <= 2; ++gz) {
                        const Float3 at(static_cast<float>(gx) * size * 0.2f, 0.0f,
                                        static_cast<float>(gz) * size * 0.2f);
                        const float yaw = (gx + gz) % 2 != 0 ? 0.4f : 0.0f;
                        // Up to half the shape's height.
                        for (float share : {0.0f, 0.05f, 0.13f, 0.3f, 0.45f}) {
                            float height = 0.0f;
                            CollisionVolume* shape = MakeMover(mover.kind, at, yaw, 0.0f, height);
                            const float sink = std::max(0.005f, share * height);
                            shape->Delete();
                            shape = MakeMover(mover.kind, at, yaw, sink, height);
                            const std::string where =
                                std::string(mover.name) + " on the " + floor.name + " of " +
                                std::to_string(size) + " at " + std::to_string(at.x) + ", " +
                                std::to_string(at.z) + " sunk " + std::to_string(sink);
                            for (bool floorFirst : {false, true}) {
                                const std::vector<CollisionContact> contacts =
                                    floorFirst ? Collide(*ground, *shape)
                                               : Collide(*shape, *ground);
                                ASSERT_FALSE(contacts.empty()) << where;
                                const CollisionContact* deepest = &contacts[0];
                                for (const CollisionContact& c : contacts) {
                                    deepest = c.depth > deepest->depth ? &c : deepest;
                                }
                                const float up = deepest->normal.y * (floorFirst ? 1.0f : -1.0f);
                                EXPECT_GE(up, cosine) << where;
                                EXPECT_NEAR(deepest->depth, sink, 2e-3f + missed * sink) << where;
                            }
                            shape->Delete();
                        }
                    }
                }
            }
            ground->Delete();
        }
    }
}

} // namespace
} // namespace quarn
