#include "core/object/ClassInfo.h"
#include "tests/collision/CollisionTestSupport.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace quarn {
namespace {

class BoxQueries : public test::SeededCollisionTest {
protected:
    BoxQueries() { random_.seed(149); }
    CollisionBox* RandomBox() {
        return Box(Point(3.0f), Float3(Uniform(0.2f, 3), Uniform(0.2f, 3), Uniform(0.2f, 3)),
                   Turn());
    }
    std::vector<Float3> Corners(CollisionBox& box) {
        const Float3 h = box.GetSize() * 0.5f;
        std::vector<Float3> corners;
        for (int i = 0; i < 8; ++i) {
            corners.push_back(box.LocalToWorld(
                Float3((i & 1) ? h.x : -h.x, (i & 2) ? h.y : -h.y, (i & 4) ? h.z : -h.z)));
        }
        return corners;
    }
    // The six faces in the world frame: centre, outward normal, the two half edges.
    struct Face {
        Float3 centre, normal, u, v;
        int axis;
        bool positive;
    };
    std::vector<Face> Faces(CollisionBox& box) {
        const Float3 h = box.GetSize() * 0.5f;
        const float hs[3] = {h.x, h.y, h.z};
        std::vector<Face> faces;
        for (int k = 0; k < 3; ++k) {
            const Float3 axis = box.GetWorldAxis(k);
            const Float3 u = box.GetWorldAxis((k + 1) % 3) * hs[(k + 1) % 3];
            const Float3 v = box.GetWorldAxis((k + 2) % 3) * hs[(k + 2) % 3];
            for (float side : {-1.0f, 1.0f}) {
                faces.push_back({box.GetWorldPosition() + axis * (side * hs[k]), axis * side, u, v,
                                 k, side > 0});
            }
        }
        return faces;
    }
    // Distance from p to the face rectangle.
    static float FaceDistance(const Face& f, const Float3& p) {
        const Float3 r = p - f.centre;
        const float lu = f.u.Dot(f.u);
        const float lv = f.v.Dot(f.v);
        const float a = std::clamp(r.Dot(f.u) / lu, -1.0f, 1.0f);
        const float b = std::clamp(r.Dot(f.v) / lv, -1.0f, 1.0f);
        return (r - f.u * a - f.v * b).Length();
    }
};

TEST_F(BoxQueries, SizeFaceAndUpgradesKeepTheirRules) {
    CollisionBox* box = Box(Float3(), Float3(1, 2, 3));
    box->SetDensity(2.0f);
    EXPECT_FLOAT_EQ(box->GetMass(), 12.0f);
    const auto& inertia = box->GetInertia();
    EXPECT_FLOAT_EQ(inertia[0][0], 1.0f * (4 + 9));
    EXPECT_FLOAT_EQ(inertia[1][1], 1.0f * (1 + 9));
    EXPECT_FLOAT_EQ(inertia[2][2], 1.0f * (1 + 4));
    EXPECT_EQ(inertia[0][1], 0.0f);
    EXPECT_FLOAT_EQ(box->GetRadius(), 0.5f * std::sqrt(14.0f));
    EXPECT_FLOAT_EQ(box->GetVolume(), 6.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const Float3& refused : {Float3(0, 1, 1), Float3(-1, 1, 1), Float3(1, nan, 1)}) {
        box->SetSize(refused);
        test::ExpectNear(box->GetSize(), Float3(1, 2, 3), 0.0f);
        EXPECT_FLOAT_EQ(box->GetMass(), 12.0f);
    }
    box->SetFace(BoxFacesEvery);
    EXPECT_EQ(box->GetFace(), 0);
    box->SetFace(2);
    box->UpgradeVersion(41);
    EXPECT_EQ(box->GetFace(), 2 | 16);
    test::ExpectNear(box->GetWorldBoundingBox().max, Float3(0.5f, 1, 1.5f), 0.0f);
    box->UpgradeVersion(7);
    test::ExpectNear(box->GetSize(), Float3(2, 4, 6), 0.0f);
    EXPECT_FLOAT_EQ(box->GetMass(), 96.0f);
    // The cached bounds follow the new size.
    test::ExpectNear(box->GetWorldBoundingBox().max, Float3(1, 2, 3), 0.0f);
    test::ExpectNear(box->GetLocalBoundingBox().min, Float3(-1, -2, -3), 0.0f);
    // The size is stored and read through its property as well.
    Property* size = CollisionBox::classInfo->FindProperty("size");
    ASSERT_NE(size, nullptr);
    size->SetFromText(*box, "1.0,1.0,1.0");
    test::ExpectNear(box->GetSize(), Float3(1, 1, 1), 0.0f);
    // A derived class's registration may call it again.
    EXPECT_EQ(CollisionBox::RegisterClass(), CollisionBox::classInfo);
}

TEST_F(BoxQueries, SupportBoundsAndDepthMatchBruteForce) {
    for (int round = 0; round < 500; ++round) {
        CollisionBox* box = RandomBox();
        const std::vector<Float3> corners = Corners(*box);
        const Float3 d = Point(1.0f).NormalizedOrSelf();
        float best = -1e30f;
        for (const Float3& c : corners) {
            best = std::max(best, c.Dot(d));
        }
        EXPECT_NEAR(box->GetSupportPoint(d).Dot(d), best, 1e-4f);
        EXPECT_NEAR(box->GetSupportDistance(d), best, 1e-4f);
        // The world box is the corners' own: its faces are the extreme corners.
        const Aabb bounds = box->GetWorldBoundingBox();
        Float3 low = corners[0];
        Float3 high = corners[0];
        for (const Float3& c : corners) {
            low = Float3(std::min(low.x, c.x), std::min(low.y, c.y), std::min(low.z, c.z));
            high = Float3(std::max(high.x, c.x), std::max(high.y, c.y), std::max(high.z, c.z));
        }
        test::ExpectNear(bounds.min, low, 1e-4f);
        test::ExpectNear(bounds.max, high, 1e-4f);

        const std::vector<Face> faces = Faces(*box);
        const Float3 p = box->GetWorldPosition() + Point(2.5f);
        float nearest = 1e30f;
        for (const Face& f : faces) {
            nearest = std::min(nearest, FaceDistance(f, p));
        }
        const Float3 local = box->WorldToLocal(p);
        const Float3 h = box->GetSize() * 0.5f;
        const bool inside =
            std::fabs(local.x) <= h.x && std::fabs(local.y) <= h.y && std::fabs(local.z) <= h.z;
        Float3 normal;
        const float depth = box->GetPointDepth(p, &normal);
        EXPECT_NEAR(depth, inside ? nearest : -nearest, 1e-4f);
        EXPECT_NEAR(normal.Length(), 1.0f, 1e-4f);
        // Stepping out along the normal by the depth reaches the surface.
        const Float3 surface = p + normal * depth;
        float onSurface = 1e30f;
        for (const Face& f : faces) {
            onSurface = std::min(onSurface, FaceDistance(f, surface));
        }
        EXPECT_LT(onSurface, 1e-3f);
        box->Delete();
    }
    // Equal margins take the earlier axis; a point on the surface has depth 0.
    CollisionBox* cube = Box(Float3(), Float3(2, 2, 2));
    Float3 normal;
    EXPECT_FLOAT_EQ(cube->GetPointDepth(Float3(0.5f, 0.5f, -0.5f), &normal), 0.5f);
    test::ExpectNear(normal, Float3(1, 0, 0));
    EXPECT_FLOAT_EQ(cube->GetPointDepth(Float3(0.0f, -0.5f, -0.5f), &normal), 0.5f);
    test::ExpectNear(normal, Float3(0, -1, 0));
    EXPECT_EQ(cube->GetPointDepth(Float3(0.2f, 1.0f, 0.3f), &normal), 0.0f);
    test::ExpectNear(normal, Float3(0, 1, 0));
}

TEST_F(BoxQueries, SupportFaceIsTheMostFacingFaceClockwiseAboutItsNormal) {
    for (int round = 0; round < 300; ++round) {
        CollisionBox* box = RandomBox();
        const Float3 d = Point(1.0f).NormalizedOrSelf();
        const SupportFace* face = box->GetSupportFace(d);
        ASSERT_NE(face, nullptr);
        float best = -2.0f;
        for (int i = 0; i < box->GetFaceCount(); ++i) {
            best = std::max(best, box->GetFaceNormal(i).Dot(d));
        }
        EXPECT_NEAR(face->normal.Dot(d), best, 1e-5f);
        ASSERT_EQ(face->count, 4);
        EXPECT_EQ(face->winding, 0);
        const std::span<const Float3> v = face->Vertices();
        const float plane = box->GetSupportDistance(face->normal);
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(v[i].Dot(face->normal), plane, 1e-4f);
            // Each turn is clockwise seen from outside.
            const Float3 a = v[(i + 1) % 4] - v[i];
            const Float3 b = v[(i + 2) % 4] - v[(i + 1) % 4];
            EXPECT_LT(a.Cross(b).Dot(face->normal), 0.0f);
        }
        // The face's own centre is in it; a point beyond an edge is not.
        const Float3 mid = (v[0] + v[2]) * 0.5f;
        EXPECT_TRUE(PointInFace(*face, mid));
        EXPECT_FALSE(PointInFace(*face, mid + (v[1] - v[0]) * 1.01f));
        box->Delete();
    }
    // Ties: x over y; z only when strictly larger.
    CollisionBox* cube = Box(Float3(), Float3(2, 2, 2));
    const struct {
        Float3 direction, normal;
    } ties[] = {{{1, 1, 0}, {1, 0, 0}},
                {{0, -1, 1}, {0, -1, 0}},
                {{-1, 0, 1}, {-1, 0, 0}},
                {{1, 1, 1}, {1, 0, 0}},
                {{0, 0, -1}, {0, 0, -1}}};
    for (const auto& tie : ties) {
        test::ExpectNear(cube->GetSupportFace(tie.direction)->normal, tie.normal, 0.0f);
    }
}

// The area of the convex hull of the corners projected along the direction.
float SilhouetteArea(const std::vector<Float3>& corners, const Float3& d) {
    Float3 u;
    Float3 v;
    PlaneSpace(d, u, v);
    std::vector<std::pair<float, float>> p;
    for (const Float3& c : corners) {
        p.emplace_back(c.Dot(u), c.Dot(v));
    }
    std::sort(p.begin(), p.end());
    std::vector<std::pair<float, float>> hull(2 * p.size());
    const auto cross = [](auto o, auto a, auto b) {
        return (a.first - o.first) * (b.second - o.second) -
               (a.second - o.second) * (b.first - o.first);
    };
    size_t k = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], p[i]) <= 0) {
            --k;
        }
        hull[k++] = p[i];
    }
    for (size_t i = p.size() - 1, t = k + 1; i > 0; --i) {
        while (k >= t && cross(hull[k - 2], hull[k - 1], p[i - 1]) <= 0) {
            --k;
        }
        hull[k++] = p[i - 1];
    }
    float area = 0.0f;
    for (size_t i = 0; i + 1 < k; ++i) {
        area += hull[i].first * hull[i + 1].second - hull[i + 1].first * hull[i].second;
    }
    return std::fabs(area) * 0.5f;
}

TEST_F(BoxQueries, ProjectedAreaIsTheSilhouette) {
    for (int round = 0; round < 300; ++round) {
        CollisionBox* box = RandomBox();
        const Float3 d = Point(1.0f).NormalizedOrSelf();
        const float exact = SilhouetteArea(Corners(*box), d);
        EXPECT_NEAR(box->GetProjectedArea(d), exact, 1e-3f * (1.0f + exact));
        box->Delete();
    }
}

TEST_F(BoxQueries, SlabPicksMatchTheNearestFaceHit) {
    int hits = 0;
    for (int round = 0; round < 1000; ++round) {
        CollisionBox* box = RandomBox();
        const Float3 origin = box->GetWorldPosition() + Point(4.0f);
        // Aimed near the box, so that about half the rays hit it.
        const Float3 direction =
            (box->GetWorldPosition() + Point(1.5f) - origin).NormalizedOrSelf();
        // Brute force: the nearest face plane crossing ahead within the face rectangle.
        float nearest = 1e30f;
        int code = -1;
        for (const Face& f : Faces(*box)) {
            const float along = f.normal.Dot(direction);
            if (along >= 0.0f) {
                continue; // only faces the ray enters
            }
            const float t = f.normal.Dot(f.centre - origin) / along;
            if (t >= 0.0f && t < nearest && FaceDistance(f, origin + direction * t) < 1e-4f) {
                nearest = t;
                code = 2 * f.axis + (f.positive ? 1 : 0);
            }
        }
        const Float3 local = box->WorldToLocal(origin);
        const Float3 h = box->GetSize() * 0.5f;
        const bool inside =
            std::fabs(local.x) < h.x && std::fabs(local.y) < h.y && std::fabs(local.z) < h.z;
        PickQuery query;
        query.Init(PickQuery::DefaultMaxDistance, PickCollisionVolumes | PickNormal, 0, 0);
        const bool hit = box->IntersectRay(origin, direction, query);
        if (inside) {
            ASSERT_TRUE(hit);
            EXPECT_EQ(query.current.distance, 0.0f);
            EXPECT_NE(query.current.part & BoxPickFromInside, 0);
        } else if (code >= 0) {
            ++hits;
            ASSERT_TRUE(hit) << round;
            EXPECT_NEAR(query.current.distance, nearest, 1e-3f);
            EXPECT_EQ(query.current.part, code);
            EXPECT_LT(query.current.data.Dot(direction), 0.0f);
        } else {
            EXPECT_FALSE(hit) << round;
        }
        box->Delete();
    }
    EXPECT_GT(hits, 300);
    // A box wholly behind the ray is no hit; flags outside the query's test are not asked.
    CollisionBox* cube = Box(Float3(0, 0, -5), Float3(1, 1, 1));
    PickQuery query;
    query.Init(PickQuery::DefaultMaxDistance, PickCollisionVolumes, 0, 0);
    EXPECT_FALSE(cube->IntersectRay(Float3(), Float3(0, 0, 1), query));
    EXPECT_TRUE(cube->IntersectRay(Float3(), Float3(0, 0, -1), query));
    EXPECT_FLOAT_EQ(query.current.distance, 4.5f);
    EXPECT_EQ(query.current.part, 5);
    query.Init(PickQuery::DefaultMaxDistance, PickCollisionVolumes, 0, CollSolid);
    EXPECT_FALSE(cube->IntersectRay(Float3(), Float3(0, 0, -1), query));
}

TEST(FaceRoutines, PlanesRaysAndSegmentsAgainstAFace) {
    const FacePlane ground{Float3(0, 1, 0), 2.0f};
    EXPECT_FLOAT_EQ(PlaneRayParameter(ground, Float3(0, 5, 0), Float3(0, -1, 0)), 3.0f);
    EXPECT_EQ(PlaneRayParameter(ground, Float3(), Float3(1, 0, 0)),
              std::numeric_limits<float>::max());
    // The square |x|, |z| <= 1 below y = 0, as side planes.
    const FacePlane top{Float3(0, 1, 0), 0.0f};
    const FacePlane sides[] = {{Float3(1, 0, 0), 1.0f},
                               {Float3(0, 0, 1), 1.0f},
                               {Float3(-1, 0, 0), 1.0f},
                               {Float3(0, 0, -1), 1.0f}};
    EXPECT_FLOAT_EQ(PointInsidePlanes(Float3(0.5f, -0.25f, 0), top, sides), 0.25f);
    EXPECT_EQ(PointInsidePlanes(Float3(0.5f, 0.25f, 0), top, sides), -1.0f);
    EXPECT_EQ(PointInsidePlanes(Float3(1.5f, -0.25f, 0), top, sides), -1.0f);
    CollisionContact contacts[4];
    // A segment crossing the whole square below the face enters and leaves it.
    EXPECT_EQ(ClipSegmentToFace(Float3(-2, -0.5f, 0), Float3(2, -0.5f, 0), sides, top, contacts),
              2);
    EXPECT_FLOAT_EQ(contacts[0].depth, 0.5f);
    test::ExpectNear(contacts[0].position, Float3(1, -0.5f, 0));
    // No room: nothing written.
    EXPECT_EQ(ClipSegmentToFace(Float3(-2, -0.5f, 0), Float3(2, -0.5f, 0), sides, top,
                                std::span<CollisionContact>()),
              0);
    // Above the face: no contact.
    EXPECT_EQ(ClipSegmentToFace(Float3(-2, 0.5f, 0), Float3(2, 0.5f, 0), sides, top, contacts), 0);
}

} // namespace
} // namespace quarn
