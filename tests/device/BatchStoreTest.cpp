#include "device/BatchStore.h"

#include "device/DeviceTexture.h"
#include "device/DrawBufferShare.h"
#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/ScopedValue.h"
#include "tests/support/SoftwareRenderDevice.h"

#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace quarn {
namespace {

constexpr uint32_t Pass = 3;
constexpr uint32_t Background = 0xFF000000;

// A small quad in screen space (x and y from -0.5 to 0.5 span the viewport), placed by its
// world matrix.
struct Tile {
    std::unique_ptr<VertexBuffer> vertices;
    std::unique_ptr<IndexBuffer> indices;
    std::unique_ptr<DeviceMesh> mesh;
};

class BatchStoreTest : public ::testing::Test, protected test::SoftwareFrames {
protected:
    std::unique_ptr<Tile> MakeTile(uint32_t color, float x, float y) {
        auto tile = std::make_unique<Tile>();
        tile->vertices = device_->CreateVertexData();
        EXPECT_TRUE(tile->vertices->Create(4, VertexPosition | VertexDiffuse, 0));
        const float xs[4] = {0.0f, 0.1f, 0.1f, 0.0f};
        const float ys[4] = {0.0f, 0.0f, 0.2f, 0.2f};
        for (uint32_t k = 0; k < 4; ++k) {
            tile->vertices->SetPosition(k, {xs[k], ys[k], 0.5f});
            tile->vertices->SetColor(k, 0, color);
        }
        tile->indices = device_->CreateIndexData();
        EXPECT_TRUE(tile->indices->Create(6, 0));
        tile->indices->FillQuadIndices(0, 1, 0, true);
        tile->mesh = device_->CreateDeviceMesh();
        tile->mesh->SetVertexStream(tile->vertices.get(), 0);
        tile->mesh->SetIndexData(tile->indices.get());
        tile->mesh->SetLayerCount(1);
        tile->mesh->SetRenderFlagsWord(MeshNoCulling);
        tile->mesh->SetOptions(MeshScreenSpace, MeshScreenSpace);
        Move(*tile, x, y);
        return tile;
    }

    static void Move(Tile& tile, float x, float y) {
        Matrix4 world;
        world.m[12] = x;
        world.m[13] = y;
        tile.mesh->SetWorldMatrix(world);
    }

    // Tiles in rows of six, each its own colour.
    std::vector<std::unique_ptr<Tile>> Grid(uint32_t count) {
        std::vector<std::unique_ptr<Tile>> tiles;
        for (uint32_t i = 0; i < count; ++i) {
            tiles.push_back(MakeTile(0xFF102030 + 0x0A0000 * i, -0.48f + 0.16f * (i % 6),
                                     -0.45f + 0.3f * static_cast<float>(i / 6)));
        }
        return tiles;
    }

    // One frame: every tile given drawn at once, or through the store.
    RenderStatistics Draw(const std::vector<std::unique_ptr<Tile>>& tiles, bool batched) {
        BeginFrame(Background);
        for (const auto& tile : tiles) {
            if (!tile) {
                continue;
            }
            if (batched) {
                Batch* batch = store_.SelectBatch(*tile->mesh, Pass);
                store_.AddMesh(*batch, *tile->mesh);
            } else {
                tile->mesh->Draw();
            }
        }
        store_.FlushPassBatches(Pass);
        store_.DrawPassBatches(Pass);
        store_.CountHighlightedModels(Pass);
        const RenderStatistics statistics = device_->GetRenderStatistics();
        EndFrame();
        return statistics;
    }

    // What the tiles look like drawn one by one, from a second set made the same way.
    std::vector<uint32_t> Reference(const std::vector<std::unique_ptr<Tile>>& tiles) {
        Draw(tiles, false);
        return Image();
    }

    BatchStore& store_ = TheBatchStore();
};

TEST_F(BatchStoreTest, MeshesDrawAsOneBatchAndJoinTheStaticGroupInBunchesAfterAHundredFrames) {
    // Due members wait until more than ten of them are due. A new member's second frame still
    // sees what was done to it before it joined, so frame 103 is its 101st unchanged one.
    struct Case {
        uint32_t count;
        bool staticAfter101;
    };
    for (const Case c : {Case{11, true}, Case{10, false}}) {
        store_.ClearStore();
        const auto expected = Reference(Grid(c.count));
        auto tiles = Grid(c.count);
        for (uint32_t frame = 1; frame <= 102; ++frame) {
            const RenderStatistics s = Draw(tiles, true);
            ASSERT_EQ(s.numStaticBatchesRendered, 0u) << frame;
            if (frame == 1) {
                // One draw for them all, giving what drawing them one by one gives.
                EXPECT_EQ(s.numModelsRendered, 1u);
                EXPECT_EQ(Image(), expected);
                EXPECT_NE(expected, std::vector<uint32_t>(expected.size(), Background));
            }
        }
        const RenderStatistics s = Draw(tiles, true);
        EXPECT_EQ(s.numStaticBatchesRendered, c.staticAfter101 ? 1u : 0u) << c.count;
        EXPECT_EQ(s.numDynamicBatchesRendered, c.staticAfter101 ? 0u : 1u) << c.count;
        EXPECT_EQ(Image(), expected) << c.count;
    }
    // A static member that changes goes back to the dynamic group; the rest stay.
    auto reference = Grid(11);
    Move(*reference[4], 0.3f, 0.3f);
    const auto expected = Reference(reference);
    auto tiles = Grid(11);
    for (uint32_t frame = 1; frame <= 103; ++frame) {
        Draw(tiles, true);
    }
    Move(*tiles[4], 0.3f, 0.3f);
    const RenderStatistics s = Draw(tiles, true);
    EXPECT_EQ(s.numStaticBatchesRendered, 1u);
    EXPECT_EQ(s.numDynamicBatchesRendered, 1u);
    EXPECT_EQ(Image(), expected);
}

// Every merged mesh together holds at most MergedVertexLimit vertices: members past it are drawn
// one by one after their batch's merged mesh, in the dynamic group and in the static one, and
// the picture is the one all of them merged give. A second batch finds no room left.
TEST_F(BatchStoreTest, MembersPastTheMergedTotalAreDrawnOneByOne) {
    test::CapturingLogSink log;
    // A tile's range is its six indices: three tiles fit.
    test::ScopedValue<uint64_t> limit(BatchStore::MergedVertexLimit, 18);
    const auto expected = Reference(Grid(12));
    auto tiles = Grid(12);
    RenderStatistics s = Draw(tiles, true);
    EXPECT_EQ(s.numModelsRendered, 10u); // one merged draw of three, nine alone
    EXPECT_EQ(s.numDynamicBatchesRendered, 1u);
    EXPECT_EQ(Image(), expected);
    EXPECT_TRUE(log.Contains("Batches merge at most 18 vertices together: 9 meshes of a batch "
                             "are drawn one by one"));
    for (uint32_t frame = 2; frame <= 103; ++frame) {
        Draw(tiles, true);
    }
    s = Draw(tiles, true);
    EXPECT_EQ(s.numStaticBatchesRendered, 1u);
    EXPECT_EQ(s.numModelsRendered, 10u);
    EXPECT_EQ(Image(), expected);
    store_.SetHideMask(BatchHideStatic, BatchHideStatic);
    Draw(tiles, true);
    EXPECT_EQ(Image(), std::vector<uint32_t>(expected.size(), Background))
        << "members drawn alone are hidden with their group";
    store_.SetHideMask(BatchHideStatic, 0);

    for (auto& other : Grid(2)) {
        other->mesh->SetColor(0xFF00FF00); // another state, another batch
        tiles.push_back(std::move(other));
    }
    s = Draw(tiles, true);
    EXPECT_EQ(s.numModelsRendered, 10u + 2u);
}

// A merged mesh is counted in the scene's draw buffers: where they have no room for it, its
// members are drawn one by one, the picture the same, and one line says so.
TEST_F(BatchStoreTest, AGroupPastTheScenesDrawBuffersIsDrawnOneByOne) {
    test::CapturingLogSink log;
    const auto expected = Reference(Grid(12));
    auto tiles = Grid(12);
    Draw(tiles, true);
    const uint64_t merged = DrawBufferShare::SceneBytes();
    EXPECT_GT(merged, 0u);
    store_.ClearStore();
    EXPECT_EQ(DrawBufferShare::SceneBytes(), 0u);
    test::ScopedValue<uint64_t> limit(DrawBufferShare::SceneByteLimit, merged - 1);
    const RenderStatistics s = Draw(tiles, true);
    EXPECT_EQ(s.numModelsRendered, 12u);
    EXPECT_EQ(s.numDynamicBatchesRendered, 0u);
    EXPECT_EQ(Image(), expected);
    EXPECT_EQ(DrawBufferShare::SceneBytes(), 0u);
    EXPECT_TRUE(log.Contains("A merged batch of " + std::to_string(merged) + " bytes"));
}

TEST_F(BatchStoreTest, MembersLeaveWhenNotSubmittedOrDeleted) {
    auto reference = Grid(5);
    reference[1].reset();
    const auto withoutOne = Reference(reference);
    reference = Grid(5);
    reference[2].reset();
    reference[3].reset();
    const auto withoutTwo = Reference(reference);

    auto tiles = Grid(5);
    Draw(tiles, true);
    std::unique_ptr<Tile> absent = std::move(tiles[1]);
    Draw(tiles, true);
    EXPECT_EQ(Image(), withoutOne);
    tiles[1] = std::move(absent);
    Draw(tiles, true);
    // Deleted while a member, and deleted after being submitted within the pass.
    tiles[2].reset();
    Batch* batch = store_.SelectBatch(*tiles[3]->mesh, Pass);
    store_.AddMesh(*batch, *tiles[3]->mesh);
    tiles[3].reset();
    Draw(tiles, true);
    EXPECT_EQ(Image(), withoutTwo);
    EXPECT_EQ(batch->GetMemberCount(), 3u);
}

TEST_F(BatchStoreTest, HiddenGroupsDrawNothingAndTheHighlightedBatchDrawsRed) {
    auto tiles = Grid(12);
    for (uint32_t frame = 1; frame <= 103; ++frame) {
        Draw(tiles, true);
    }
    Move(*tiles[0], 0.3f, 0.3f);               // the one dynamic member
    const uint32_t staticPixel = 64 * 26 + 4;  // inside tile 6
    const uint32_t dynamicPixel = 64 * 5 + 54; // inside the moved tile
    struct Case {
        uint32_t hide;
        bool staticShown, dynamicShown;
    };
    const Case cases[] = {{0, true, true},
                          {BatchHideStatic, false, true},
                          {BatchHideDynamic, true, false},
                          {BatchHideStatic | BatchHideDynamic, false, false}};
    for (const Case& c : cases) {
        store_.SetHideMask(BatchHideStatic | BatchHideDynamic, c.hide);
        Draw(tiles, true);
        const std::vector<uint32_t> image = Image();
        EXPECT_EQ(image[staticPixel] != Background, c.staticShown) << c.hide;
        EXPECT_EQ(image[dynamicPixel] != Background, c.dynamicShown) << c.hide;
    }
    store_.SetHideMask(BatchHideStatic | BatchHideDynamic, 0);
    store_.HighlightMeshBatch(tiles[5]->mesh.get(), 0);
    RenderStatistics s = Draw(tiles, true);
    // Red as the texture factor: the tiles' own green and blue are gone.
    EXPECT_EQ(Image()[staticPixel] & 0xFFFF, 0u);
    EXPECT_EQ(s.numModelsInHighlightedBatch, 12u);
    store_.HighlightBatch(nullptr);
    Draw(tiles, true);
    EXPECT_NE(Image()[staticPixel] & 0xFFFF, 0u);
}

TEST_F(BatchStoreTest, MeshesThatDrawDifferentlyNeverShareABatch) {
    auto texture = device_->CreateTexture();
    ASSERT_TRUE(texture->Create(2, 2, PixelFormat::A8R8G8B8, TextureKind::Texture2D, 0, 1));
    auto base = MakeTile(0xFFFFFFFF, 0, 0);
    struct Case {
        const char* change;
        std::function<void(DeviceMesh&)> apply;
        bool shares;
    };
    const Case cases[] = {
        {"nothing", [](DeviceMesh&) {}, true},
        {"world matrix", [](DeviceMesh& m) { m.SetWorldMatrix(Matrix4{}); }, true},
        {"shader parameter",
         [](DeviceMesh& m) {
             m.SetShaderParameter({1, 2, 3, 4});
         },
         true},
        {"layer beyond the count",
         [&](DeviceMesh& m) { m.SetLayer(2, texture.get(), BlendMode::Add); }, true},
        {"owner bits", [](DeviceMesh& m) { m.SetOptions(0x41, 0x41); }, true},
        {"stencil mode", [](DeviceMesh& m) { m.SetStencilMode(StencilMode::Read); }, false},
        {"screen space", [](DeviceMesh& m) { m.SetOptions(MeshScreenSpace, 0); }, false},
        {"colour", [](DeviceMesh& m) { m.SetColor(0xFF00FF00); }, false},
        {"texture", [&](DeviceMesh& m) { m.SetLayer(0, texture.get(), BlendMode::Normal); }, false},
        {"blend mode", [](DeviceMesh& m) { m.SetLayer(0, nullptr, BlendMode::Add); }, false},
        {"render flags", [](DeviceMesh& m) { m.SetRenderFlags(MeshFog, MeshFog); }, false},
    };
    Batch* baseBatch = store_.SelectBatch(*base->mesh, Pass);
    for (const Case& c : cases) {
        auto other = MakeTile(0xFFFFFFFF, 0.2f, 0);
        c.apply(*other->mesh);
        EXPECT_EQ(other->mesh->HasSameState(*base->mesh), c.shares) << c.change;
        EXPECT_EQ(other->mesh->GetStateHash() == base->mesh->GetStateHash(), c.shares) << c.change;
        EXPECT_EQ(store_.SelectBatch(*other->mesh, Pass) == baseBatch, c.shares) << c.change;
    }
    // A member whose state changes leaves the batch that owns it.
    store_.AddMesh(*baseBatch, *base->mesh);
    store_.FlushBatch(*baseBatch);
    ASSERT_EQ(base->mesh->GetOwner(0), baseBatch);
    base->mesh->SetStencilMode(StencilMode::Write);
    EXPECT_NE(store_.SelectBatch(*base->mesh, Pass), baseBatch);
    EXPECT_EQ(store_.SelectBatch(*base->mesh, BatchPassIdCount), nullptr);
}

TEST_F(BatchStoreTest, ADeviceResetDropsRecordedStateAndBatchesAndDrawingGoesOn) {
    const auto expected = Reference(Grid(3));
    auto tiles = Grid(3);
    for (uint32_t frame = 1; frame <= 6; ++frame) {
        Draw(tiles, true);
    }
    ASSERT_GT(device_->GetRenderStatistics().numStateBlocksApplied, 0u);
    // Emptied in mid-pass, with a mesh submitted.
    store_.AddMesh(*store_.SelectBatch(*tiles[0]->mesh, Pass), *tiles[0]->mesh);
    // The layer refuses a reset while a state block or default-pool buffer is alive.
    static_cast<SoftwareDevice*>(device_->Gpu())->LoseDevice();
    device_->Present();
    ASSERT_EQ(device_->GetDeviceState(), DeviceState::Lost);
    ASSERT_TRUE(device_->ResetDevice());
    EXPECT_EQ(tiles[0]->mesh->GetOwner(0), nullptr);
    const RenderStatistics s = Draw(tiles, true);
    EXPECT_EQ(Image(), expected);
    EXPECT_EQ(s.numDynamicBatchesRendered, 1u);
}

} // namespace
} // namespace quarn
