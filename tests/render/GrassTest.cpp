#include "render/Grass.h"

#include "core/math/Random.h"
#include "device/DrawBufferShare.h"
#include "tests/render/SpriteScene.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/MathExpectations.h"
#include "tests/support/ScopedValue.h"

#include <cmath>
#include <gtest/gtest.h>
#include <span>
#include <string>
#include <vector>

namespace quarn {
namespace {

// Unlit and double-sided, so that the blades show their own colour from the camera.
const std::string Visible = "\trenderflags = 2073\n";

class GrassTest : public test::SpriteScene {
protected:
    Grass* Load(const std::vector<std::string>& nodes) {
        return dynamic_cast<Grass*>(LoadNodes(nodes, "Grass"));
    }
    const VertexBuffer* Vertices(Grass* grass) {
        return grass->GetRenderMesh()->GetVertexStream(0);
    }
    std::vector<Float3> Positions(Grass* grass) {
        std::vector<Float3> positions;
        for (uint32_t i = 0; i < Vertices(grass)->GetCount(); ++i) {
            positions.push_back(Vertices(grass)->GetPosition(i));
        }
        return positions;
    }
    // A device that addresses 16-bit indices only, in place of the fixture's.
    void UseSixteenBitIndices() {
        GpuCaps caps;
        caps.maxVertexIndex = 0xFFFF;
        GpuDisplayMode display;
        display.width = 96;
        display.height = 80;
        device_.reset();
        device_ = std::make_unique<GpuRenderDevice>(&SoftwareDevice::Create, caps, display);
        ASSERT_TRUE(
            device_->Create(DeviceDepthStencil | DeviceDepthSearchAll, nullptr, Width, Height));
    }
};

TEST_F(GrassTest, BladesStandWhereTheSeededSequencePutsThemAlikeOnEveryBuild) {
    const std::string lines = Visible +
                              "\tcount = 3\n\tseed = 5\n\trootbox = 4.0,2.0,1.0\n"
                              "\tsize = 0.5,2.0\n\tsizevariance = 0.5\n\tangularvariance = 0.3\n";
    Grass* grass = Load({lines, lines});
    Frame();
    SeedRandom(5);
    std::vector<Float3> expected;
    for (int i = 0; i < 3; ++i) {
        // The draws in their order: the root's x, y and z, the size factor, the turn.
        const float x = RandomUnit() * 4.0f - 2.0f;
        const float y = RandomUnit() * 2.0f - 1.0f;
        const float z = RandomUnit() * 1.0f - 0.5f;
        const float scale = RandomRange(0.5f, 1.5f);
        const float angle = RandomRange(-0.3f, 0.3f);
        const float c = std::cos(angle);
        const float s = std::sin(angle);
        for (Float2 corner :
             {Float2(-0.5f, 0.0f), Float2(-0.5f, 1.0f), Float2(0.5f, 1.0f), Float2(0.5f, 0.0f)}) {
            const float tx = corner.x * 0.5f * scale;
            const float ty = corner.y * 2.0f * scale;
            expected.push_back(Float3(x + c * tx - s * ty, y + s * tx + c * ty, z));
        }
    }
    const std::vector<Float3> built = Positions(grass);
    ASSERT_EQ(built.size(), expected.size());
    for (size_t i = 0; i < built.size(); ++i) {
        test::ExpectNear(built[i], expected[i]);
    }
    auto* twin = dynamic_cast<Grass*>(LookupEntity(5));
    ASSERT_NE(twin, nullptr);
    const auto words = [&](Grass* g) {
        std::span<const uint32_t> all = Vertices(g)->ReadVertices();
        return std::vector<uint32_t>(all.begin(), all.end());
    };
    EXPECT_EQ(words(twin), words(grass)) << "equal properties, equal blades";

    // Each build reseeds the generator all share: its next number follows the blades' draws.
    const int32_t next = RandomNumber();
    SeedRandom(5);
    for (int draw = 0; draw < 15; ++draw) {
        RandomNumber();
    }
    EXPECT_EQ(RandomNumber(), next);

    // Another user of the generator in between changes nothing.
    const std::vector<uint32_t> first = words(grass);
    const std::vector<uint32_t> image = Image();
    RandomNumber();
    grass->SetSeed(5);
    Frame();
    EXPECT_EQ(words(grass), first);
    EXPECT_EQ(Image(), image);
}

TEST_F(GrassTest, ABladeDrawsItsColourWhereItsRootFellAndTheBoxesStayPut) {
    // No variance: each blade takes five draws and spans x +- 0.25 and y -1 to 1 at depth 10,
    // 3.2 pixels a unit.
    Grass* grass =
        Load({Visible + "\tpos = 0.0,-1.0,10.0\n\tcount = 2\n\tseed = 11\n"
                        "\trootbox = 8.0,0.0,0.0\n\tsize = 0.5,2.0\n\tcolor = 00FF00\n"});
    Frame();
    SeedRandom(11);
    for (int i = 0; i < 2; ++i) {
        const float x = RandomUnit() * 8.0f - 4.0f;
        for (int draw = 0; draw < 4; ++draw) {
            RandomNumber();
        }
        const int at = static_cast<int>(std::lround(32.0f + 3.2f * x));
        EXPECT_EQ(Pixel(at, 24), Green) << "blade " << i << " at " << x;
        EXPECT_EQ(Pixel(at, 18), Grey) << "above blade " << i;
    }
    EXPECT_EQ(grass->GetRenderMesh()->GetUserValueB(), grass->GetSerial());

    // The bounding boxes keep their first values wherever the grass goes.
    const Aabb box = grass->GetWorldBoundingBox();
    grass->SetPosition(Float3(5.0f, 5.0f, 20.0f));
    Frame();
    const Aabb moved = grass->GetWorldBoundingBox();
    EXPECT_EQ(std::vector<float>({moved.min.x, moved.min.z, moved.max.x, moved.max.z}),
              std::vector<float>({box.min.x, box.min.z, box.max.x, box.max.z}));
}

TEST_F(GrassTest, ColourVarianceDrawsThreeMoreNumbersForEveryBlade) {
    const std::string lines = "\tcount = 3\n\tseed = 2\n\trootbox = 4.0,4.0,4.0\n";
    Grass* grass = Load({lines, lines + "\tcolorvariance = 0.5\n"});
    Frame();
    const std::vector<Float3> plain = Positions(grass);
    const std::vector<Float3> varied = Positions(dynamic_cast<Grass*>(LookupEntity(5)));
    ASSERT_EQ(plain.size(), 12u);
    ASSERT_EQ(varied.size(), 12u);
    for (size_t i = 0; i < plain.size(); ++i) {
        const bool same =
            plain[i].x == varied[i].x && plain[i].y == varied[i].y && plain[i].z == varied[i].z;
        EXPECT_EQ(same, i < 4) << "vertex " << i;
    }
}

TEST_F(GrassTest, AZeroRootBoxRootsEveryBladeAtTheOrigin) {
    Grass* grass = Load({"\tcount = 5\n\tseed = 3\n\tsizevariance = 0.5\n"
                         "\tangularvariance = 1.0\n"});
    Frame();
    const std::vector<Float3> positions = Positions(grass);
    ASSERT_EQ(positions.size(), 20u);
    for (size_t i = 0; i < positions.size(); i += 4) {
        // The root is the middle of the blade's bottom edge.
        test::ExpectNear((positions[i] + positions[i + 3]) * 0.5f, Float3(0.0f, 0.0f, 0.0f));
    }
}

TEST_F(GrassTest, ChannelsDrawnBelowTheLowEndOrNotANumberReadZeroAndAlphaStaysAByte) {
    // An opacity past 1 still gives alpha 0xFF, not a byte spilling into the colour.
    // A spread past the float range draws no number (NaN): those channels read zero too.
    Grass* grass = Load({"\tcount = 20\n\tseed = 9\n\tcolor = 000000\n\tcolorvariance = 1.0\n"
                         "\topacity = 2.0\n",
                         "\tcount = 2\n\tcolor = 808080\n\tcolorvariance = 1e38\n"});
    Frame();
    SeedRandom(9);
    int zeros = 0;
    for (uint32_t i = 0; i < 20; ++i) {
        for (int draw = 0; draw < 5; ++draw) {
            RandomNumber();
        }
        uint32_t expected = 0xFF000000;
        for (int shift : {16, 8, 0}) {
            const float drawn = RandomRange(-255.0f, 255.0f);
            const uint32_t channel = drawn < 0.01f ? 0u : static_cast<uint32_t>(drawn);
            zeros += channel == 0;
            expected |= channel << shift;
        }
        for (uint32_t j = 0; j < 4; ++j) {
            EXPECT_EQ(Vertices(grass)->GetColor(4 * i + j, 0), expected) << "blade " << i;
        }
    }
    EXPECT_GT(zeros, 0);
    auto* unbounded = dynamic_cast<Grass*>(LookupEntity(5));
    for (uint32_t i = 0; i < 8; ++i) {
        EXPECT_EQ(Vertices(unbounded)->GetColor(i, 0), 0xFF000000u) << i;
    }
}

TEST_F(GrassTest, CountsThatCannotBeBuiltDrawNothingAndStayAsGiven) {
    const struct {
        int32_t count;
        bool sixteenBitIndices;
        uint32_t blades;
        bool logged;
    } cases[] = {
        {0, false, 0, false},
        {-5, false, 0, false},
        {Grass::MaxBlades + 1, false, 0, true},
        {Grass::MaxBlades16BitIndices + 1, true, 0, true},
        {Grass::MaxBlades16BitIndices, true, Grass::MaxBlades16BitIndices, false},
    };
    for (const auto& c : cases) {
        const std::string what = std::to_string(c.count);
        if (c.sixteenBitIndices) {
            UseSixteenBitIndices();
        }
        test::CapturingLogSink log;
        Grass* grass = Load(
            {Visible + "\tpos = 0.0,0.0,10.0\n\trootbox = 4.0,4.0,0.0\n\tcount = " + what + "\n"});
        Frame();
        EXPECT_EQ(grass->GetCount(), c.count);
        EXPECT_EQ(Vertices(grass)->GetCount(), c.blades * 4) << what;
        EXPECT_EQ(grass->GetRenderMesh()->GetIndexData()->GetIndexCount(), c.blades * 6) << what;
        EXPECT_EQ(log.Contains(what + " blades"), c.logged) << what;
        if (c.blades == 0) {
            EXPECT_EQ(Covered(), (std::vector<int>{Width, Height, 0, 0})) << what;
        }
        Unload();
    }
}

// A field's buffers are counted in the scene's draw buffers: with no room left it draws no
// blade, and one line names it.
TEST_F(GrassTest, AFieldPastTheScenesDrawBuffersDrawsNone) {
    test::CapturingLogSink log;
    const test::ScopedValue<uint64_t> full(DrawBufferShare::SceneByteLimit,
                                           DrawBufferShare::SceneBytes());
    Grass* grass =
        Load({Visible + "\tpos = 0.0,0.0,10.0\n\trootbox = 4.0,4.0,0.0\n\tcount = 40\n"});
    Frame();
    EXPECT_EQ(Vertices(grass)->GetCount(), 0u);
    EXPECT_TRUE(log.Contains("Grass '' (id " + std::to_string(grass->GetId()) + ") is not drawn"));
}

// Ten nodes each at the limit of one would hold gigabytes: the blades of all of them together are
// bounded too, a node whose build would pass the bound (whichever comes last) draws none and
// says so once, and blades freed by another node let its next build in.
TEST_F(GrassTest, TheGrassOfAllNodesTogetherStaysWithinTheSceneBound) {
    const test::ScopedValue<int64_t> limit(Grass::SceneBladeLimit, 100);
    test::CapturingLogSink log;
    const std::string lines = Visible + "\tpos = 0.0,0.0,10.0\n\trootbox = 4.0,4.0,0.0\n";
    Load({lines + "\tcount = 40\n", lines + "\tcount = 60\n", lines + "\tcount = 30\n"});
    Frame();
    Frame();
    Grass* refused = nullptr;
    Grass* other = nullptr;
    uint32_t blades = 0;
    for (uint32_t id : {4u, 5u, 6u}) {
        auto* grass = dynamic_cast<Grass*>(LookupEntity(id));
        const uint32_t built = Vertices(grass)->GetCount() / 4;
        EXPECT_TRUE(built == 0 || built == static_cast<uint32_t>(grass->GetCount())) << id;
        (built == 0 ? refused : other) = grass;
        blades += built;
    }
    ASSERT_NE(refused, nullptr);
    EXPECT_LE(blades, 100u);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].text, "Grass '' (id " + std::to_string(refused->GetId()) + "): " +
                                       std::to_string(refused->GetCount()) +
                                       " blades would make the grass of the scene more than 100; "
                                       "none is drawn");

    other->Destroy();
    refused->SetSeed(2); // rebuilds
    Frame();
    EXPECT_EQ(Vertices(refused)->GetCount(), 4u * static_cast<uint32_t>(refused->GetCount()));
    Unload();
}

} // namespace
} // namespace quarn
