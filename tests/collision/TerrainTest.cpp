#include "core/math/Intersection.h"
#include "core/scene/Picking.h"
#include "resources/GridDataResource.h"
#include "tests/collision/HeightFieldTestSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/RecordingValidityHook.h"
#include "tests/support/ScopedValue.h"

#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace quarn {
namespace {

using test::RayTriangleFromAbove;
using test::WorldPosition;

float GridHeight(int32_t c, int32_t r) {
    return std::sin(static_cast<float>(c) * 0.7f) + 0.5f * std::cos(static_cast<float>(r) * 1.3f) +
           0.1f * static_cast<float>(c);
}

// A terrain over "hills.raw" (7 columns, 6 rows of GridHeight), with a window of 4 x 3 cells
// from column 2, row 1, spread over 8 x 6 and heights doubled.
class TerrainTest : public test::HeightFieldTest {
protected:
    void SetUp() override {
        HeightFieldTest::SetUp();
        WriteGrid("hills.raw", 7, 6, GridHeight);
    }
    CollisionTerrain* Hills() {
        auto* terrain = Make<CollisionTerrain>(Float3());
        terrain->SetGridSize(Int2(4, 3));
        terrain->SetHeightMapName("hills.raw");
        terrain->SetOffset(Int2(2, 1));
        terrain->SetSize(Float3(8.0f, 2.0f, 6.0f));
        return terrain;
    }
    // Vertex (i, j) of the Hills window in the node's frame, from the grid's own numbers.
    static Float3 Vertex(int32_t i, int32_t j) {
        return Float3(static_cast<float>(i) * 2.0f - 4.0f, GridHeight(2 + i, 1 + j) * 2.0f,
                      static_cast<float>(j) * 2.0f - 3.0f);
    }
    // The nearest hit over every triangle of every cell, in world space; -1 for none.
    static float BruteForcePick(Pivot& node, const Float3& origin, const Float3& direction) {
        float best = -1.0f;
        for (int32_t j = 0; j < 3; ++j) {
            for (int32_t i = 0; i < 4; ++i) {
                const Float3 p00 = node.LocalToWorld(Vertex(i, j));
                const Float3 p10 = node.LocalToWorld(Vertex(i + 1, j));
                const Float3 p11 = node.LocalToWorld(Vertex(i + 1, j + 1));
                const Float3 p01 = node.LocalToWorld(Vertex(i, j + 1));
                for (float t : {RayTriangleFromAbove(origin, direction, p00, p10, p11),
                                RayTriangleFromAbove(origin, direction, p00, p11, p01)}) {
                    if (t >= 0.0f && (best < 0.0f || t < best)) {
                        best = t;
                    }
                }
            }
        }
        return best;
    }
    std::mt19937 random_{47};
};

TEST_F(TerrainTest, HeightsMatchAVerticalRayOverEveryCellAndTheBorderHoldsOutside) {
    CollisionTerrain* terrain = Hills();
    std::uniform_real_distribution<float> x(-3.99f, 3.99f);
    std::uniform_real_distribution<float> z(-2.99f, 2.99f);
    for (int round = 0; round < 500; ++round) {
        const Float3 at(x(random_), 100.0f, z(random_));
        float height = 0.0f;
        ASSERT_TRUE(terrain->GetLocalHeight(at.x, at.z, true, height));
        const float t = BruteForcePick(*terrain, at, Float3(0.0f, -1.0f, 0.0f));
        ASSERT_GE(t, 0.0f);
        EXPECT_NEAR(height, 100.0f - t, 1e-4f);
    }
    // Outside the extent the border's height applies, when clamping.
    for (float z0 : {-2.5f, 0.3f, 2.9f}) {
        float border = 0.0f;
        float outside = 0.0f;
        ASSERT_TRUE(terrain->GetLocalHeight(4.0f, z0, true, border));
        ASSERT_TRUE(terrain->GetLocalHeight(40.0f, z0, true, outside));
        EXPECT_EQ(outside, border);
        ASSERT_TRUE(terrain->GetLocalHeight(40.0f, z0, false, outside));
        EXPECT_EQ(outside, 0.0f);
    }
    // The extremes of the window's unscaled values.
    float low = 1e9f, high = -1e9f;
    for (int32_t j = 0; j <= 3; ++j) {
        for (int32_t i = 0; i <= 4; ++i) {
            low = std::fmin(low, GridHeight(2 + i, 1 + j));
            high = std::fmax(high, GridHeight(2 + i, 1 + j));
        }
    }
    EXPECT_EQ(terrain->GetMinHeight(), low);
    EXPECT_EQ(terrain->GetMaxHeight(), high);
}

TEST_F(TerrainTest, PicksMatchABruteForceRayTriangleTestOverAllCells) {
    CollisionTerrain* terrain = Hills();
    terrain->SetPosition(Float3(10.0f, -2.0f, 5.0f));
    terrain->SetOrientation(Quaternion::FromAxisAngle(0.6f, Float3(0.0f, 1.0f, 0.0f)));
    std::uniform_real_distribution<float> spread(-6.0f, 6.0f);
    int hits = 0;
    for (int round = 0; round < 400; ++round) {
        const Float3 origin(10.0f + spread(random_), 8.0f, 5.0f + spread(random_));
        const Float3 direction =
            Float3(spread(random_) * 0.1f, -1.0f, spread(random_) * 0.1f).NormalizedOrSelf();
        PickQuery query;
        query.Init(PickQuery::DefaultMaxDistance, PickCollisionVolumes, 0, 0);
        const bool hit = terrain->IntersectRay(origin, direction, query);
        const float expected = BruteForcePick(*terrain, origin, direction);
        ASSERT_EQ(hit, expected >= 0.0f) << round;
        if (hit) {
            ++hits;
            EXPECT_NEAR(query.current.distance, expected, 1e-3f);
        }
    }
    EXPECT_GT(hits, 100);
    // A ray that passes the box but no cell sets the distance to the largest float; one that
    // misses the box leaves it.
    PickQuery query;
    query.Init(PickQuery::DefaultMaxDistance, PickCollisionVolumes, 0, 0);
    query.current.distance = 5.0f;
    EXPECT_FALSE(terrain->IntersectRay(Float3(10.0f, 8.0f, 5.0f), Float3(1.0f, 0.0f, 0.0f), query));
    EXPECT_EQ(query.current.distance, 5.0f);
    EXPECT_FALSE(terrain->IntersectRay(Float3(10.0f, 0.0f, 5.0f), Float3(0.0f, 1.0f, 0.0f), query));
    EXPECT_EQ(query.current.distance, NoHit);
}

TEST_F(TerrainTest, APointBelowTheGroundTouchesItAlongTheTerrainsUpAxis) {
    CollisionTerrain* terrain = Hills();
    terrain->SetPosition(Float3(0.0f, 1.0f, 0.0f));
    auto* point = Make<CollisionPoint>(Float3(0.5f, -5.0f, 0.5f));
    float ground = 0.0f;
    ASSERT_TRUE(terrain->GetLocalHeight(0.5f, 0.5f, true, ground));
    CollisionContact contacts[1];
    ASSERT_EQ(CollidePair(*point, *terrain, 100, contacts), 1);
    EXPECT_NEAR(contacts[0].depth, ground + 6.0f, 1e-5f);
    test::ExpectNear(WorldPosition(contacts[0]), Float3(0.5f, -5.0f, 0.5f));
    test::ExpectNear(contacts[0].normal, Float3(0.0f, -1.0f, 0.0f)); // swapped: negated
    // Exactly on the ground: depth 0; above it: nothing.
    point->SetPosition(Float3(0.5f, 1.0f + ground, 0.5f));
    ASSERT_EQ(CollidePair(*terrain, *point, 100, contacts), 1);
    EXPECT_NEAR(contacts[0].depth, 0.0f, 1e-5f);
    point->SetPosition(Float3(0.5f, 9.0f, 0.5f));
    EXPECT_EQ(CollidePair(*terrain, *point, 100, contacts), 0);
}

TEST_F(TerrainTest, GridSizeChangesKeepOrReplaceTheHeightMap) {
    auto* terrain = Make<CollisionTerrain>(Float3());
    terrain->SetHeightMapName("hills.raw");
    EXPECT_EQ(terrain->GetGridSize(), Int2(6, 5)); // (0, 0) takes the whole grid
    GridDataResource* map = terrain->GetHeightMap();
    terrain->SetGridSize(Int2(3, 2)); // within the map: kept
    EXPECT_EQ(terrain->GetHeightMap(), map);
    terrain->SetGridSize(Int2(12, 2)); // past the map with another cell count: replaced
    // The old map is freed, so its address may come back: the new one shows by its size.
    ASSERT_NE(terrain->GetHeightMap(), nullptr);
    EXPECT_EQ(terrain->GetHeightMap()->GetColumns(), 13u);
    EXPECT_STREQ(terrain->GetHeightMapName(), "");
    EXPECT_EQ(terrain->GetMaxHeight(), 0.0f);
    // Equal cell count past the map's sides keeps the map; rows past it read 0.
    terrain->SetHeightMapName("hills.raw");
    terrain->SetGridSize(Int2(3, 2));
    map = terrain->GetHeightMap();
    terrain->SetGridSize(Int2(1, 6));
    EXPECT_EQ(terrain->GetHeightMap(), map);
    EXPECT_EQ(terrain->GetWindowHeight(0, 6), 0.0f);
}

TEST_F(TerrainTest, AutomaticPlacementFollowsTheGridsGeographicCorner) {
    WriteGrid("wide.raw", 21, 21, [](int32_t, int32_t) { return 1.0f; });
    auto* terrain = Make<CollisionTerrain>(Float3(3.0f, 4.0f, 5.0f));
    terrain->SetHeightMapName("wide.raw");
    terrain->SetGridSize(Int2(10, 10));
    terrain->SetOffset(Int2(2, 3));
    terrain->SetTerrainFlags(TerrainMirrorY | TerrainAutoPos);
    test::ExpectNear(terrain->GetSize(), Float3(10.0f, 1.0f, 13.0f));
    // A raw grid spans (-1, -1) to (1, 1): cells of 0.1.
    const float x = ((-1.0f + 74.0f) / 0.1f + 2.0f) * 1.0f;
    const float z = ((-1.0f - 41.0f) / 0.1f + 3.0f) * 1.3f;
    test::ExpectNear(terrain->GetWorldPosition(), Float3(x + 5.0f, 0.0f, z + 6.5f), 1e-2f);
    // A grid of one column has no cell width to place by: the node stays.
    WriteGrid("column.raw", 1, 21, [](int32_t, int32_t) { return 1.0f; });
    auto* narrow = Make<CollisionTerrain>(Float3(3.0f, 4.0f, 5.0f));
    narrow->SetHeightMapName("column.raw");
    narrow->SetTerrainFlags(TerrainAutoPos);
    test::ExpectNear(narrow->GetWorldPosition(), Float3(3.0f, 4.0f, 5.0f));
    // A gridsize change within the map runs no placement.
    terrain->SetSize(Float3(1.0f, 1.0f, 1.0f));
    terrain->SetGridSize(Int2(8, 8));
    test::ExpectNear(terrain->GetSize(), Float3(1.0f, 1.0f, 1.0f));
}

// What the text leaves open or gets wrong, each made safe.
TEST_F(TerrainTest, BrokenInputsGiveNoContactAndNeverLeaveTheGrid) {
    CollisionContact contacts[1];
    // A surface shares the terrain's shape type but has no window.
    auto* surface = Make<CollisionSurface>(Float3());
    surface->SetGridSize(Int2(3, 3));
    auto* point = Make<CollisionPoint>(Float3(0.0f, -1.0f, 0.0f));
    EXPECT_EQ(CollidePair(*surface, *point, 100, contacts), 0);
    EXPECT_EQ(CollidePair(*point, *surface, 100, contacts), 0);
    // A non-finite point is no contact; neither is a terrain of size 0.
    CollisionTerrain* terrain = Hills();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    point->SetPosition(Float3(nan, -1.0f, 0.0f));
    EXPECT_EQ(CollidePair(*terrain, *point, 100, contacts), 0);
    point->SetPosition(Float3(0.0f, -std::numeric_limits<float>::infinity(), 0.0f));
    EXPECT_EQ(CollidePair(*terrain, *point, 100, contacts), 0);
    point->SetPosition(Float3(0.0f, -1.0f, 0.0f));
    terrain->SetSize(Float3(0.0f, 1.0f, 6.0f));
    EXPECT_EQ(CollidePair(*terrain, *point, 100, contacts), 0);
    float height = 0.0f;
    // A negative offset reads 0 before the grid instead of memory before it.
    terrain->SetOffset(Int2(-3, -1));
    EXPECT_EQ(terrain->GetWindowHeight(0, 0), 0.0f);
    EXPECT_EQ(terrain->GetWindowHeight(3, 1), GridHeight(0, 0));
    // A window of width 0 looks up its one column.
    terrain->SetOffset(Int2(0, 0));
    terrain->SetSize(Float3(8.0f, 1.0f, 6.0f));
    terrain->SetGridSize(Int2(0, 3));
    ASSERT_TRUE(terrain->GetLocalHeight(0.0f, -3.0f, true, height));
    EXPECT_EQ(height, GridHeight(0, 0));
    // Grid sizes that would size a negative or huge grid are refused.
    test::RecordingValidityHook hook;
    for (Int2 refused : {Int2(-1, 4), Int2(4, -2), Int2(1 << 13, (1 << 11) + 1)}) {
        terrain->SetGridSize(refused);
        EXPECT_EQ(terrain->GetGridSize(), Int2(0, 3));
        surface->SetGridSize(refused);
        EXPECT_EQ(surface->GetGridSize(), Int2(3, 3));
    }
    EXPECT_EQ(hook.Messages().size(), 6u);
}

// Forty terrains at the limit of one held 8 GB: the grids terrains and surfaces make for
// themselves share one bound, a size that would pass it is refused before anything is let go,
// and cells come back when a node reads a file instead or goes.
TEST_F(TerrainTest, OwnGridsOfAllTerrainsAndSurfacesStayWithinTheSceneBound) {
    const test::ScopedValue<int64_t> limit(SceneHeightFieldCellLimit, 100);
    test::CapturingLogSink log;
    auto* first = Make<CollisionTerrain>(Float3());
    first->SetName("first");
    first->SetGridSize(Int2(8, 8));
    auto* second = Make<CollisionTerrain>(Float3());
    second->SetGridSize(Int2(6, 6));
    auto* surface = Make<CollisionSurface>(Float3());
    surface->SetGridSize(Int2(2, 2)); // 104 cells: refused
    EXPECT_EQ(surface->GetGridSize(), Int2());
    EXPECT_EQ(surface->GetRawData(), nullptr);
    GridDataResource* grid = first->GetHeightMap();
    first->SetGridSize(Int2(9, 9)); // its own 64 given back for 81: 117, refused
    EXPECT_EQ(first->GetGridSize(), Int2(8, 8));
    EXPECT_EQ(first->GetHeightMap(), grid);
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_EQ(log.Lines()[1].text,
              "CollisionTerrain 'first' (id " + std::to_string(first->GetId()) +
                  "): gridsize 9,9 refused: the grids of the scene's terrains and surfaces would "
                  "hold more than 100 cells");
    first->SetGridSize(Int2(4, 16)); // as many cells: the grid is kept
    EXPECT_EQ(first->GetHeightMap(), grid);

    first->SetHeightMapName("hills.raw"); // a file's cells are not the scene's
    surface->SetGridSize(Int2(2, 2));
    EXPECT_EQ(surface->GetGridSize(), Int2(2, 2));
    second->Destroy();
    first->SetGridSize(Int2(10, 9));
    EXPECT_EQ(first->GetGridSize(), Int2(10, 9));
    EXPECT_EQ(log.Lines().size(), 2u);
}

} // namespace
} // namespace quarn
