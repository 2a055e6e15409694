#include "collision/CollisionCylinder.h"
#include "core/object/ClassInfo.h"
#include "core/scene/Picking.h"
#include "tests/collision/CollisionTestSupport.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace quarn {
namespace {

constexpr float Pi = 3.1415927f;

class Cylinders : public test::SeededCollisionTest {
protected:
    // A point uniformly inside the cylinder's bounding box in its own frame, in world space.
    Float3 InBounds(CollisionCylinder& c) {
        const float r = c.GetCylinderRadius();
        const float h = c.GetLength() * 0.5f;
        return c.LocalToWorld(Float3(Uniform(-r, r), Uniform(-r, r), Uniform(-h, h)));
    }
    // Points over the whole surface: both discs filled and the side, about `step` apart.
    static std::vector<Float3> Surface(CollisionCylinder& c, float step) {
        std::vector<Float3> points;
        const float r = c.GetCylinderRadius();
        const float h = c.GetLength() * 0.5f;
        const int around = std::max(8, static_cast<int>(2.0f * Pi * r / step));
        const int along = std::max(2, static_cast<int>(2.0f * h / step));
        const int rings = std::max(2, static_cast<int>(r / step));
        for (int i = 0; i < around; ++i) {
            const float angle = 2.0f * Pi * static_cast<float>(i) / static_cast<float>(around);
            const Float3 rim(std::cos(angle), std::sin(angle), 0.0f);
            for (int j = 0; j <= along; ++j) {
                const float z = -h + 2.0f * h * static_cast<float>(j) / static_cast<float>(along);
                points.push_back(c.LocalToWorld(rim * r + Float3(0, 0, z)));
            }
            for (int j = 0; j < rings; ++j) {
                const float rho = r * static_cast<float>(j) / static_cast<float>(rings);
                points.push_back(c.LocalToWorld(rim * rho + Float3(0, 0, h)));
                points.push_back(c.LocalToWorld(rim * rho + Float3(0, 0, -h)));
            }
        }
        return points;
    }
    // The volume below the plane n . x = distance and its centroid, by sampling.
    double SampledSubmerged(CollisionCylinder& c, Float3 n, float distance, Float3& centroid,
                            int samples = 200000) {
        const float r = c.GetCylinderRadius();
        const double box = 4.0 * r * r * c.GetLength();
        double inside = 0;
        Float3 sum;
        for (int i = 0; i < samples; ++i) {
            const Float3 p = InBounds(c);
            if (c.GetPointDepth(p, nullptr) >= 0.0f && n.Dot(p) < distance) {
                ++inside;
                sum = sum + p;
            }
        }
        centroid = inside > 0 ? sum / static_cast<float>(inside) : Float3();
        return inside / samples * box;
    }
};

TEST_F(Cylinders, VolumeMassAndInertiaMatchMonteCarlo) {
    CollisionCylinder* c = Cylinder(Float3(), 0.6f, 1.5f);
    c->SetDensity(2.0f);
    double inside = 0;
    double across = 0;
    double along = 0;
    constexpr int Samples = 400000;
    for (int i = 0; i < Samples; ++i) {
        const Float3 p = InBounds(*c);
        if (c->GetPointDepth(p, nullptr) < 0.0f) {
            continue;
        }
        ++inside;
        across += p.y * p.y + p.z * p.z;
        along += p.x * p.x + p.y * p.y;
    }
    const double volume = inside / Samples * (1.2 * 1.2 * 1.5);
    EXPECT_NEAR(c->GetVolume(), volume, 0.01 * volume);
    EXPECT_NEAR(c->GetMass(), 2.0 * volume, 0.02 * volume);
    const double perUnit = c->GetMass() / inside;
    EXPECT_NEAR(c->GetInertia()[0][0], across * perUnit, 0.02 * across * perUnit);
    EXPECT_NEAR(c->GetInertia()[1][1], across * perUnit, 0.02 * across * perUnit);
    EXPECT_NEAR(c->GetInertia()[2][2], along * perUnit, 0.02 * along * perUnit);
    EXPECT_EQ(c->GetInertia()[0][1], 0.0f);
}

TEST_F(Cylinders, SupportAndBoundsMatchDenseSurfaceSampling) {
    for (int round = 0; round < 40; ++round) {
        CollisionCylinder* c = Cylinder(Point(2), Uniform(0.1f, 1.0f), Uniform(0.1f, 2.5f), Turn());
        const std::vector<Float3> surface = Surface(*c, 0.01f);
        Float3 low(1e30f, 1e30f, 1e30f);
        Float3 high(-1e30f, -1e30f, -1e30f);
        for (const Float3& p : surface) {
            low = Float3(std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z));
            high = Float3(std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z));
        }
        const Aabb& box = c->GetWorldBoundingBox();
        test::ExpectNear(box.min, low, 2e-3f);
        test::ExpectNear(box.max, high, 2e-3f);
        // The axis itself and random directions, some nearly along the axis.
        const Float3 a = GetShapeAxis(*c);
        std::vector<Float3> directions = {a, a * -1.0f, (a + a.AnyPerpendicular() * 1e-4f)};
        for (int i = 0; i < 20; ++i) {
            directions.push_back(Point(1).NormalizedOrSelf());
        }
        for (const Float3& d : directions) {
            float best = -1e30f;
            for (const Float3& p : surface) {
                best = std::max(best, p.Dot(d));
            }
            const Float3 support = c->GetSupportPoint(d);
            EXPECT_NEAR(support.Dot(d), best, 2e-3f) << round;
            EXPECT_NEAR(c->GetSupportDistance(d), best, 2e-3f) << round;
            // Search vectors come in any length.
            EXPECT_NEAR(c->GetSupportDistance(d * 3.0f), 3.0f * best, 6e-3f) << round;
            // The support point lies on the surface.
            EXPECT_NEAR(c->GetPointDepth(support, nullptr), 0.0f, 1e-4f) << round;
        }
    }
}

TEST_F(Cylinders, SupportAlongTheAxisOfATurnAsScenesWriteItIsOnTheSurface) {
    // Quarter turns rounded to the digits a scene keeps put the axis exactly along a world axis,
    // its length a unit but for rounding: along it the part across the axis is all rounding.
    const Quaternion turns[] = {{0.7071068f, 0.0f, 0.0f, 0.7071068f},
                                {0.0f, 0.7071068f, 0.0f, 0.7071068f},
                                {0.0f, 0.0f, 0.7071068f, 0.7071068f},
                                {0.5f, 0.5f, 0.5f, 0.5f},
                                {}};
    for (const Quaternion& turn : turns) {
        CollisionCylinder* c = Cylinder(Float3(3, 0.49f, -2), 0.5f, 1.0f, turn);
        const Float3 a = GetShapeAxis(*c);
        for (const Float3& d : {Float3(1, 0, 0), Float3(0, 1, 0), Float3(0, 0, 1), a}) {
            for (float sign : {1.0f, -1.0f}) {
                const Float3 support = c->GetSupportPoint(d * sign);
                EXPECT_NEAR(c->GetPointDepth(support, nullptr), 0.0f, 1e-5f)
                    << turn.x << " " << turn.y << " " << turn.z << " along " << d.x * sign << " "
                    << d.y * sign << " " << d.z * sign;
                EXPECT_NEAR(support.Dot(d * sign), c->GetSupportDistance(d * sign), 1e-5f);
            }
        }
        c->Delete();
    }
}

TEST_F(Cylinders, PointDepthInsideOutsideAndOnTheAxis) {
    // Long and thin: at the centre the side is nearer than either end.
    CollisionCylinder* c = Cylinder(Float3(1, 2, 3), 0.5f, 4.0f);
    struct Case {
        Float3 local;
        float depth;
        Float3 normal; // zero: any unit vector across the axis
    };
    const Case cases[] = {
        {Float3(0, 0, 1.9f), 0.1f, Float3(0, 0, 1)},
        {Float3(0.1f, 0, -1.8f), 0.2f, Float3(0, 0, -1)},
        {Float3(0, 0.4f, 0.5f), 0.1f, Float3(0, 1, 0)},
        {Float3(0.9f, 0, 0), -0.4f, Float3(1, 0, 0)},
        {Float3(0, 0, 2.5f), -0.5f, Float3(0, 0, 1)},
        {Float3(0, 0, 0), 0.5f, Float3()},
        {Float3(0, 0, 1.0f), 0.5f, Float3()},
    };
    for (const Case& k : cases) {
        Float3 normal;
        EXPECT_NEAR(c->GetPointDepth(Float3(1, 2, 3) + k.local, &normal), k.depth, 1e-5f);
        EXPECT_NEAR(normal.Length(), 1.0f, 1e-5f);
        if (k.normal.LengthSquared() > 0.0f) {
            test::ExpectNear(normal, k.normal);
        } else {
            EXPECT_NEAR(normal.z, 0.0f, 1e-6f);
        }
    }
}

TEST_F(Cylinders, ProjectedAreaMatchesAMonteCarloSilhouette) {
    CollisionCylinder* c = Cylinder(Float3(), 0.7f, 1.6f, Turn());
    for (int round = 0; round < 6; ++round) {
        const Float3 d = Point(1).NormalizedOrSelf();
        const Float3 u = d.AnyPerpendicular();
        const Float3 v = d.Cross(u);
        const float half = c->GetRadius();
        PickQuery query;
        query.Init(PickQuery::DefaultMaxDistance, PickCollisionVolumes, 0, 0);
        constexpr int Samples = 40000;
        int hits = 0;
        for (int i = 0; i < Samples; ++i) {
            const Float3 origin = d * -10.0f + u * Uniform(-half, half) + v * Uniform(-half, half);
            hits += c->IntersectRay(origin, d, query) ? 1 : 0;
        }
        const float area = static_cast<float>(hits) / Samples * 4.0f * half * half;
        EXPECT_NEAR(c->GetProjectedArea(d), area, 0.02f * area) << round;
    }
}

TEST_F(Cylinders, PicksNameTheSurfaceEntered) {
    CollisionCylinder* c = Cylinder(Float3(0, 0, 0), 0.5f, 2.0f);
    PickQuery query;
    query.Init(PickQuery::DefaultMaxDistance, PickCollisionVolumes | PickNormal, 0, 0);
    struct Case {
        Float3 origin;
        Float3 direction;
        int32_t part;
        float distance;
        Float3 normal;
    };
    const float tilt = 0.01f; // within 0.9999 of the axis counts as along it
    const Case cases[] = {
        {Float3(0, 5, 0), Float3(0, -1, 0), CylinderPickSide, 4.5f, Float3(0, 1, 0)},
        {Float3(0, 0, 5), Float3(0, 0, -1), CylinderPickUpperEnd, 4.0f, Float3(0, 0, 1)},
        {Float3(0, 0, -5), Float3(0, 0, 1), CylinderPickLowerEnd, 4.0f, Float3(0, 0, -1)},
        {Float3(0.2f, 0, -5), Float3(tilt, 0, 1).NormalizedOrSelf(), CylinderPickLowerEnd, 4.0f,
         Float3(0, 0, -1)},
        {Float3(0.4f, 0, 3), Float3(0, 0, -1), CylinderPickUpperEnd, 2.0f, Float3(0, 0, 1)},
    };
    for (const Case& k : cases) {
        ASSERT_TRUE(c->IntersectRay(k.origin, k.direction, query));
        EXPECT_EQ(query.current.part, k.part);
        EXPECT_NEAR(query.current.distance, k.distance, 1e-3f);
        test::ExpectNear(query.current.data, k.normal, 1e-4f);
    }
    EXPECT_FALSE(c->IntersectRay(Float3(0.6f, 0, 5), Float3(0, 0, -1), query));
    EXPECT_FALSE(c->IntersectRay(Float3(0, 5, 0), Float3(0, 1, 0), query));
    EXPECT_EQ(c->GetFaceCount(), 2);
    test::ExpectNear(c->GetFaceNormal(0), Float3(0, 0, 1));
    for (int index : {1, 2, -1, 7}) {
        test::ExpectNear(c->GetFaceNormal(index), Float3(0, 0, -1));
    }
}

TEST_F(Cylinders, SettersIgnoreZeroNegativeAndNaNAndTellTheListeners) {
    CollisionCylinder* c = Cylinder(Float3(), 0.5f, 2.0f);
    static std::vector<float> heard;
    heard.clear();
    const auto listen = [](Entity*, Entity&, const uint32_t* oldValue, const uint32_t* newValue) {
        float o = 0;
        float n = 0;
        std::memcpy(&o, oldValue, 4);
        std::memcpy(&n, newValue, 4);
        heard.push_back(o);
        heard.push_back(n);
    };
    Property* length = CollisionCylinder::classInfo->FindProperty("length");
    Property* radius = CollisionCylinder::classInfo->FindProperty("radius");
    ASSERT_TRUE(length && radius);
    length->AddListener(Property::ListenerOfGiven, c, nullptr, listen, 0);
    radius->AddListener(Property::ListenerOfGiven, c, nullptr, listen, 0);
    const float mass = c->GetMass();
    for (float bad : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(), 2.0f}) {
        c->SetLength(bad);
    }
    c->SetCylinderRadius(-0.5f);
    EXPECT_EQ(c->GetLength(), 2.0f);
    EXPECT_EQ(c->GetCylinderRadius(), 0.5f);
    EXPECT_EQ(c->GetMass(), mass);
    EXPECT_TRUE(heard.empty());
    c->SetLength(3.0f);
    c->SetCylinderRadius(0.25f);
    EXPECT_EQ(heard, (std::vector<float>{2.0f, 3.0f, 0.5f, 0.25f}));
    EXPECT_NEAR(c->GetMass(), Pi * 0.0625f * 3.0f, 1e-5f);
    test::ExpectNear(c->GetWorldBoundingBox().max, Float3(0.25f, 0.25f, 1.5f));
    length->RemoveListenersOf(c);
    radius->RemoveListenersOf(c);
    // A second registration (a derived class's) returns the same record.
    EXPECT_EQ(CollisionCylinder::RegisterClass(), CollisionCylinder::classInfo);
}

// Submerged volume ------------------------------------------------------------------------------

TEST_F(Cylinders, SubmergedVolumesCalledExactMatchMonteCarlo) {
    CollisionCylinder* c = Cylinder(Float3(0.5f, 1, -0.5f), 0.6f, 2.0f);
    struct Case {
        const char* name;
        Quaternion turn;
        float s; // height of the centre above the plane
    };
    const Float3 up(0, 1, 0);
    // 30 degrees above the horizontal, and 0.3 radians off the vertical.
    const Quaternion shallow = Quaternion::FromAxisAngle(0.5235988f, Float3(1, 0, 0));
    const Quaternion steep = Quaternion::FromAxisAngle(1.5707964f - 0.3f, Float3(1, 0, 0));
    const Case cases[] = {
        {"above", shallow, 1.1f}, // dry although the bounding sphere dips under
        {"below", shallow, -1.1f},
        {"side", steep, 0.1f}, // the water line crosses the side twice and neither disc
        {"side low", steep, -0.2f},
    };
    for (const Case& k : cases) {
        c->SetOrientation(k.turn);
        const float distance = up.Dot(c->GetWorldPosition()) - k.s;
        Float3 sampledCentre;
        const double expected = SampledSubmerged(*c, up, distance, sampledCentre);
        Float3 centre(7, 7, 7);
        const float volume = c->GetSubmergedVolume(up, distance, &centre);
        EXPECT_NEAR(volume, expected, 0.01 * c->GetVolume()) << k.name;
        if (expected == 0.0) {
            test::ExpectNear(centre, Float3(7, 7, 7));
        } else if (std::string(k.name) == "below") {
            test::ExpectNear(centre, c->GetWorldPosition());
        }
    }
}

TEST_F(Cylinders, SubmergedVolumeIsContinuousAndHalfAtTheCentre) {
    CollisionCylinder* c = Cylinder(Float3(0, 2, 0), 0.5f, 2.0f);
    const Float3 up(0, 1, 0);
    struct Case {
        const char* name;
        float angle; // of the axis from the vertical
    };
    // The node's Z axis lies horizontal until turned about X.
    // Upright, lying, water line across both discs (c) and across the side only (d1).
    for (const Case& k :
         {Case{"upright", 0.0f}, Case{"lying", 1.5707964f}, Case{"both discs", 1.3f},
          Case{"side", 0.3f}, Case{"steep", 0.05f}, Case{"flat", 1.56f}}) {
        c->SetOrientation(Quaternion::FromAxisAngle(1.5707964f - k.angle, Float3(1, 0, 0)));
        const float V = c->GetVolume();
        Float3 centre;
        EXPECT_NEAR(c->GetSubmergedVolume(up, 2.0f, &centre), V * 0.5f, 1e-4f * V) << k.name;
        float previous = 0.0f;
        float largestStep = 0.0f;
        for (int i = 0; i <= 4000; ++i) {
            const float distance = 0.5f + 3.0f * static_cast<float>(i) / 4000.0f;
            const float volume = c->GetSubmergedVolume(up, distance, nullptr);
            ASSERT_TRUE(volume >= 0.0f && volume <= V * 1.0001f) << k.name << " " << distance;
            if (i > 0) {
                largestStep = std::max(largestStep, std::fabs(volume - previous));
            }
            previous = volume;
        }
        // A step of 3/4000 in height moves at most about the largest cross-section's worth.
        EXPECT_LT(largestStep, 3.0f / 4000.0f * 2.0f * 1.0f * 2.0f) << k.name;
    }
    // Upright and half under: the centre lies h/2 below the middle.
    c->SetOrientation(Quaternion::FromAxisAngle(1.5707964f, Float3(1, 0, 0)));
    Float3 centre;
    c->GetSubmergedVolume(up, 2.0f, &centre);
    test::ExpectNear(centre, Float3(0, 1.5f, 0));
    test::ExpectNear(CollisionCylinder::GetLastSubmergedVolumeCentre(), centre, 0.0f);
}

} // namespace
} // namespace quarn
