#include "tests/collision/CollisionTestSupport.h"

#include <cmath>
#include <random>
#include <vector>

namespace quarn {
namespace {

struct Solid {
    double volume = 0.0;
    double centre[3] = {};
};

using Point = std::vector<double>;

// The part of the box below the plane by clipping each face and summing the tetrahedra from a
// point on the plane: the cut face then lies in the apex's plane and adds nothing.
Solid ClipBox(CollisionBox& box, const Float3& n, float d) {
    const Float3 h = box.GetSize() * 0.5f;
    const double hs[3] = {h.x, h.y, h.z};
    const auto world = [&](double x, double y, double z) {
        const Float3 p = box.LocalToWorld(
            Float3(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)));
        return Point{p.x, p.y, p.z};
    };
    const double nn[3] = {n.x, n.y, n.z};
    const auto height = [&](const Point& p) {
        return nn[0] * p[0] + nn[1] * p[1] + nn[2] * p[2] - d;
    };
    const Point apex = {nn[0] * d, nn[1] * d, nn[2] * d};
    Solid solid;
    double moment[3] = {};
    for (int axis = 0; axis < 3; ++axis) {
        for (double side : {-1.0, 1.0}) {
            const int u = (axis + 1) % 3;
            const int w = (axis + 2) % 3;
            std::vector<Point> face;
            // Counter-clockwise seen from outside.
            const double su[4] = {-1, 1, 1, -1};
            const double sw[4] = {-1, -1, 1, 1};
            for (int i = 0; i < 4; ++i) {
                double local[3];
                local[axis] = side * hs[axis];
                local[u] = su[i] * hs[u] * side;
                local[w] = sw[i] * hs[w];
                face.push_back(world(local[0], local[1], local[2]));
            }
            std::vector<Point> kept;
            for (size_t i = 0; i < face.size(); ++i) {
                const Point& a = face[i];
                const Point& b = face[(i + 1) % face.size()];
                const double ha = height(a);
                const double hb = height(b);
                if (ha < 0.0) {
                    kept.push_back(a);
                }
                if ((ha < 0.0) != (hb < 0.0)) {
                    const double t = ha / (ha - hb);
                    kept.push_back({a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1]),
                                    a[2] + t * (b[2] - a[2])});
                }
            }
            for (size_t i = 1; i + 1 < kept.size(); ++i) {
                const Point& a = kept[0];
                const Point& b = kept[i];
                const Point& c = kept[i + 1];
                double e[3][3];
                for (int k = 0; k < 3; ++k) {
                    e[0][k] = a[k] - apex[k];
                    e[1][k] = b[k] - apex[k];
                    e[2][k] = c[k] - apex[k];
                }
                const double v = (e[0][0] * (e[1][1] * e[2][2] - e[1][2] * e[2][1]) -
                                  e[0][1] * (e[1][0] * e[2][2] - e[1][2] * e[2][0]) +
                                  e[0][2] * (e[1][0] * e[2][1] - e[1][1] * e[2][0])) /
                                 6.0;
                solid.volume += v;
                for (int k = 0; k < 3; ++k) {
                    moment[k] += v * (apex[k] + a[k] + b[k] + c[k]) / 4.0;
                }
            }
        }
    }
    for (int k = 0; k < 3; ++k) {
        solid.centre[k] = solid.volume > 0.0 ? moment[k] / solid.volume : 0.0;
    }
    return solid;
}

int CornersBelow(CollisionBox& box, const Float3& n, float d) {
    const Float3 h = box.GetSize() * 0.5f;
    int count = 0;
    for (int i = 0; i < 8; ++i) {
        const Float3 local((i & 1) ? h.x : -h.x, (i & 2) ? h.y : -h.y, (i & 4) ? h.z : -h.z);
        count += n.Dot(box.LocalToWorld(local)) - d < 0.0f ? 1 : 0;
    }
    return count;
}

class BoxSubmerged : public test::SeededCollisionTest {
protected:
    BoxSubmerged() { random_.seed(49); }
};

TEST_F(BoxSubmerged, EveryCornerCountMatchesExactClipping) {
    int seen[9] = {};
    for (int round = 0; round < 6000; ++round) {
        CollisionBox* box =
            Box(Float3(Uniform(-3, 3), Uniform(-3, 3), Uniform(-3, 3)),
                Float3(Uniform(0.3f, 3), Uniform(0.3f, 3), Uniform(0.3f, 3)), Turn());
        const Float3 n = Float3(Uniform(-1, 1), Uniform(-1, 1), Uniform(-1, 1)).NormalizedOrSelf();
        const float radius = box->GetRadius();
        const float d = n.Dot(box->GetWorldPosition()) + Uniform(-radius, radius);
        const int below = CornersBelow(*box, n, d);
        ++seen[below];
        Float3 centre(99, 99, 99);
        const float volume = box->GetSubmergedVolume(n, d, &centre);
        const Solid exact = ClipBox(*box, n, d);
        const double whole = box->GetVolume();
        SCOPED_TRACE(testing::Message() << "round " << round << ", corners below " << below);
        ASSERT_NEAR(volume, exact.volume, 2e-4 * whole);
        if (exact.volume > 1e-3 * whole) {
            // The centroid of a thin sliver is ill-conditioned in float.
            const double scale = box->GetSize().Length();
            EXPECT_NEAR(centre.x, exact.centre[0], 2e-3 * scale);
            EXPECT_NEAR(centre.y, exact.centre[1], 2e-3 * scale);
            EXPECT_NEAR(centre.z, exact.centre[2], 2e-3 * scale);
            test::ExpectNear(CollisionBox::GetLastSubmergedVolumeCentre(), centre, 0.0f);
        }
        box->Delete();
    }
    for (int count = 1; count < 8; ++count) {
        EXPECT_GT(seen[count], 20) << count << " corners below";
    }
}

TEST_F(BoxSubmerged, UnitSlabAndTheCornersAboveAndBelow) {
    CollisionBox* box = Box(Float3(), Float3(1, 1, 1));
    Float3 centre;
    EXPECT_FLOAT_EQ(box->GetSubmergedVolume(Float3(0, 1, 0), 0.0f, &centre), 0.5f);
    test::ExpectNear(centre, Float3(0.0f, -0.25f, 0.0f));
    // Far below: the whole box about its centre; far above: nothing, the centre untouched.
    CollisionBox* deep = Box(Float3(1, -10, 2), Float3(1, 2, 3));
    EXPECT_FLOAT_EQ(deep->GetSubmergedVolume(Float3(0, 1, 0), 0.0f, &centre), 6.0f);
    test::ExpectNear(centre, Float3(1, -10, 2));
    centre = Float3(7, 7, 7);
    EXPECT_EQ(deep->GetSubmergedVolume(Float3(0, 1, 0), -20.0f, &centre), 0.0f);
    test::ExpectNear(centre, Float3(7, 7, 7));
    // Seven corners below: the box less the corner tetrahedron, the centre pushed away from it.
    const Float3 n = Float3(1, 1, 1).NormalizedOrSelf();
    const float d = n.Dot(Float3(0.5f, 0.5f, 0.5f)) - 0.2f;
    const float volume = box->GetSubmergedVolume(n, d, &centre);
    const float leg = 0.2f * std::sqrt(3.0f);
    EXPECT_NEAR(volume, 1.0f - leg * leg * leg / 6.0f, 1e-5f);
    EXPECT_LT(centre.Dot(n), 0.0f);
}

TEST_F(BoxSubmerged, CornersExactlyOnThePlaneGiveTheWholeBoxNotNaN) {
    // A plane tilted about z through the top edge: six corners below, two on it. The wedge of
    // nothing above would be 0 / 0.
    CollisionBox* box = Box(Float3(), Float3(2, 2, 2));
    const struct {
        const char* name;
        Float3 normal;
        float distance;
    } cases[] = {
        {"edge", Float3(0.6f, 0.8f, 0.0f), 0.6f + 0.8f},
        {"face", Float3(0.0f, 1.0f, 0.0f), 1.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Float3 centre(9, 9, 9);
        EXPECT_FLOAT_EQ(box->GetSubmergedVolume(c.normal, c.distance, &centre), 8.0f);
        test::ExpectNear(centre, Float3());
    }
}

TEST_F(BoxSubmerged, VolumeIsContinuousAsThePlaneSweepsThroughTheBox) {
    for (int round = 0; round < 20; ++round) {
        CollisionBox* box =
            Box(Float3(), Float3(Uniform(0.5f, 2), Uniform(0.5f, 2), Uniform(0.5f, 2)), Turn());
        const Float3 n = Float3(Uniform(-1, 1), Uniform(-1, 1), Uniform(-1, 1)).NormalizedOrSelf();
        const float reach = box->GetSupportDistance(n);
        float previous = 0.0f;
        const int steps = 2000;
        for (int i = 0; i <= steps; ++i) {
            const float d = -reach + 2.0f * reach * static_cast<float>(i) / steps;
            const float volume = box->GetSubmergedVolume(n, d, nullptr);
            ASSERT_TRUE(std::isfinite(volume));
            EXPECT_GE(volume, previous - 1e-4f * box->GetVolume());
            EXPECT_LE(volume - previous, 0.01f * box->GetVolume()) << "step " << i;
            previous = volume;
        }
        EXPECT_NEAR(previous, box->GetVolume(), 1e-4f * box->GetVolume());
        box->Delete();
    }
}

} // namespace
} // namespace quarn
