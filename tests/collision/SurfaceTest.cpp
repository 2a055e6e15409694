#include "core/io/ByteOrder.h"
#include "core/math/Intersection.h"
#include "core/scene/Picking.h"
#include "resources/RawData.h"
#include "tests/collision/HeightFieldTestSupport.h"
#include "tests/support/CapturingLogSink.h"

#include <vector>

namespace quarn {
namespace {

using test::RayTriangleFromAbove;

class SurfaceTest : public test::HeightFieldTest {
protected:
    static bool Pick(CollisionSurface& surface, const Float3& origin, const Float3& direction,
                     float& distance) {
        PickQuery query;
        query.Init(PickQuery::DefaultMaxDistance, PickCollisionVolumes, 0, 0);
        const bool hit = surface.IntersectRay(origin, direction, query);
        distance = query.current.distance;
        return hit;
    }
};

TEST_F(SurfaceTest, HeightsComeFromTheRawDataAndPicksMeetTheirTriangles) {
    // 3 x 2 vertices, size 6 x 4: x at -2, 0, 2 and z at -1, 1; two spare floats after them.
    const std::vector<float> heights = {0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 99.0f, 99.0f};
    WriteSurfaceData("field.raw", 3, 2, heights);
    auto* surface = Make<CollisionSurface>(Float3(0.0f, 10.0f, 0.0f));
    surface->SetRawDataName("field.raw");
    surface->SetSize(Float3(6.0f, 1.0f, 4.0f));
    EXPECT_EQ(surface->GetGridSize(), Int2(3, 2));
    EXPECT_EQ(surface->GetMinHeight(), 0.0f);
    EXPECT_EQ(surface->GetMaxHeight(), 5.0f);
    const Aabb box = surface->GetWorldBoundingBox();
    test::ExpectNear(box.min, Float3(-3.0f, 10.0f, -2.0f));
    test::ExpectNear(box.max, Float3(3.0f, 15.0f, 2.0f));
    auto vertex = [&](int i, int j) {
        return Float3(static_cast<float>(i) * 2.0f - 2.0f, 10.0f + heights[j * 3 + i],
                      static_cast<float>(j) * 2.0f - 1.0f);
    };
    for (float x : {-1.5f, -0.2f, 0.7f, 1.9f}) {
        for (float z : {-0.9f, 0.1f, 0.8f}) {
            const Float3 origin(x, 30.0f, z);
            const Float3 down(0.0f, -1.0f, 0.0f);
            float expected = -1.0f;
            for (int i = 0; i < 2; ++i) {
                for (float t : {RayTriangleFromAbove(origin, down, vertex(i, 0), vertex(i + 1, 0),
                                                     vertex(i + 1, 1)),
                                RayTriangleFromAbove(origin, down, vertex(i, 0), vertex(i + 1, 1),
                                                     vertex(i, 1))}) {
                    if (t >= 0.0f && (expected < 0.0f || t < expected)) {
                        expected = t;
                    }
                }
            }
            float distance = 0.0f;
            ASSERT_TRUE(Pick(*surface, origin, down, distance));
            EXPECT_NEAR(distance, expected, 1e-4f);
        }
    }
}

TEST_F(SurfaceTest, AGridSizeMakesFlatDataWithTheSizesInItsHeader) {
    auto* surface = Make<CollisionSurface>(Float3());
    surface->SetGridSize(Int2(4, 3));
    RawData* data = surface->GetRawData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->GetDataSize(), 8u + 8u * 12u);
    EXPECT_EQ(ReadLittleEndian32(data->GetData()), 4u);
    EXPECT_EQ(ReadLittleEndian32(data->GetData() + 4), 3u);
    EXPECT_TRUE(surface->HasHeights());
    // The same count in another shape keeps the data and rewrites its header.
    surface->SetGridSize(Int2(6, 2));
    EXPECT_EQ(surface->GetRawData(), data);
    EXPECT_EQ(ReadLittleEndian32(data->GetData()), 6u);
    // One row or column has no cells to pick.
    surface->SetGridSize(Int2(12, 1));
    float distance = 0.0f;
    EXPECT_FALSE(Pick(*surface, Float3(0.0f, 5.0f, 0.0f), Float3(0.0f, -1.0f, 0.0f), distance));
    EXPECT_EQ(distance, NoHit);
}

TEST_F(SurfaceTest, RawDataThatCannotHoldItsHeaderOrHeightsGivesNoHeightsAndOneLogLine) {
    WriteSurfaceData("claims.raw", 4, 4, std::vector<float>(15, 1.0f));
    WriteSurfaceData("negative.raw", -2, 3, std::vector<float>(8, 1.0f));
    WriteSurfaceData("overflow.raw", 0x10000, 0x10001, std::vector<float>(8, 1.0f));
    temp_.WriteFile("short.raw", std::string("\x02\x00\x00\x00\x02", 5));
    for (const char* name : {"claims.raw", "negative.raw", "overflow.raw", "short.raw"}) {
        SCOPED_TRACE(name);
        test::CapturingLogSink log;
        auto* surface = Make<CollisionSurface>(Float3());
        surface->SetRawDataName(name);
        EXPECT_FALSE(surface->HasHeights());
        EXPECT_EQ(surface->GetGridSize(), Int2());
        EXPECT_EQ(log.Lines().size(), 1u);
        float distance = 0.0f;
        EXPECT_FALSE(Pick(*surface, Float3(0.0f, 5.0f, 0.0f), Float3(0.0f, -1.0f, 0.0f), distance));
        surface->DrawShape();
    }
}

} // namespace
} // namespace quarn
