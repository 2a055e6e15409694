#include "resources/Mesh.h"

#include "core/math/Intersection.h"
#include "core/object/ClassInfo.h"
#include "core/object/Signals.h"
#include "core/object/ValueBinding.h"
#include "core/os/EngineWork.h"
#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"
#include "tests/resources/MeshTestSupport.h"
#include "tests/support/FreshProcess.h"
#include "tests/support/MathExpectations.h"
#include "tests/support/TestClass.h"

#include <string>
#include <tuple>
#include <vector>

namespace quarn {
namespace {

using test::Flags;
using test::Indices;
using test::MeshTest;

class MeshWatcher : public test::TestClass<MeshWatcher> {
public:
    static constexpr const char* Name = "MeshWatcher";
    static void Declare(ClassInfo& classInfo) {
        classInfo.AddMethod("resourcechanged", "()", BindSignalHandler<&MeshWatcher::Heard>(), 0);
    }
    void Heard(void*) { ++changes; }
    int changes = 0;
};

TEST_F(MeshTest, SavesWriteTheExactTextWholeOrNotAtAllAndReadBackTheSameMesh) {
    Mesh mesh("", nullptr);
    mesh.Create(3, 1, VertexPosition | VertexNormal | VertexTexCoord0);
    const Float3 points[] = {{0.1234567f, 1, -2}, {1, 1, -2}, {0, 3.5f, -2}};
    for (uint32_t i = 0; i < 3; ++i) {
        mesh.SetPoint(i, points[i]);
        mesh.SetNormal(i, {0, 0, -1});
        mesh.SetUv(i, {0.5f * float(i), 0.25f});
    }
    mesh.SetTriangle(0, 0, 2, 1);
    mesh.SaveToFile("t.mesh");
    ASSERT_EQ(Written("t.mesh"),
              "vertexcount=3\nindexcount=3\nvertexformat=(point,normal,uv)\n"
              "indexformat=trianglelist\npoints=3\n\t0.123457 1.000000 -2.000000\n"
              "\t1.000000 1.000000 -2.000000\n\t0.000000 3.500000 -2.000000\nnormals=3\n"
              "\t0.000000 0.000000 -1.000000\n\t0.000000 0.000000 -1.000000\n"
              "\t0.000000 0.000000 -1.000000\nuvs=3\n\t0.000000 0.250000\n\t0.500000 0.250000\n"
              "\t1.000000 0.250000\ntriangles=1\n\t0 2 1\n");
    Mesh* back = Load("t.mesh", Written("t.mesh"));
    EXPECT_EQ(Indices(*back), (std::vector<int>{0, 2, 1}));
    for (uint32_t i = 0; i < 3; ++i) {
        test::ExpectNear(back->GetPoint(i), points[i], 1e-6f);
        EXPECT_FLOAT_EQ(back->GetUv(i).x, 0.5f * float(i));
    }
    back->Release();
    // A refused or broken save leaves nothing behind.
    files_.MarkReadOnly("locked.mesh");
    mesh.SaveToFile("locked.mesh");
    files_.FailCloses();
    mesh.SaveToFile("broken.mesh");
    EXPECT_EQ(Written("locked.mesh") + Written("broken.mesh"), "");
    EXPECT_TRUE(log_.Contains("Could not save mesh to 'locked.mesh'"));
    EXPECT_TRUE(log_.Contains("Could not save mesh to 'broken.mesh'"));
}

TEST_F(MeshTest, TheReaderTakesEveryChannelStripsFlagsAndShortLines) {
    Mesh* channels = Load("channels.mesh", test::MeshFixture("channels.mesh"));
    const VertexBuffer& vertices = *channels->GetVertexData();
    // Colours are signed decimals, clamped as a 32-bit conversion clamps them.
    EXPECT_EQ(vertices.GetColor(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(vertices.GetColor(2, 0), 0x7FFFFFFFu);
    EXPECT_EQ(channels->GetBlendWeightCount(), 1u);
    EXPECT_TRUE(vertices.TestFlags(VertexClampU0 | VertexClampV0));
    // Flags 2 and 0 reorder the triangles; group 1, which no triangle has, is empty.
    EXPECT_EQ(Indices(*channels), (std::vector<int>{0, 2, 3, 0, 1, 2}));
    const IndexBuffer& groups = *channels->GetIndexData();
    EXPECT_EQ(groups.GetGroupCount(), 3u);
    EXPECT_EQ(std::vector<uint32_t>(
                  {groups.GetGroupStart(1), groups.GetGroupStart(2), groups.GetGroupStart(3)}),
              std::vector<uint32_t>({3, 3, 6}));
    EXPECT_FALSE(channels->FileEndedEarly());
    channels->Release();

    Mesh* strip = Load("strip.mesh", test::MeshFixture("strip.mesh"));
    EXPECT_EQ(strip->GetVertexFormat(), 1u);
    EXPECT_EQ(Indices(*strip), (std::vector<int>{0, 1, 3, 1, 2, 3}));
    EXPECT_FALSE(strip->FileEndedEarly());
    strip->SaveToFile("strip-out.mesh"); // all three channels, whatever the mesh has
    EXPECT_NE(Written("strip-out.mesh").find("uvs=4\n\t0.000000 0.000000\n"), std::string::npos);
    strip->Release();

    // Two blanks make an empty field; a file that ends early reads zeros, however large its
    // section counts, and says so.
    Mesh* cut = Load("cut.mesh", "vertexcount=3\nindexcount=6\nvertexformat=point\n"
                                 "indexformat=x\npoints=2000000000\n\t1  2 3\n");
    test::ExpectNear(cut->GetPoint(0), {1, 0, 2});
    test::ExpectNear(cut->GetPoint(2), {0, 0, 0});
    EXPECT_EQ(Indices(*cut), (std::vector<int>(6, 0)));
    EXPECT_LE(reports_.Messages().size(), 2u);
    EXPECT_TRUE(cut->FileEndedEarly());
    EXPECT_TRUE(log_.Contains("cut.mesh' ends early: what it lacks reads as zeros"));
    cut->Release();
}

TEST_F(MeshTest, DamagedHeadersAreRefusedWithTheLogLineAndLeaveTheMeshEmpty) {
    const std::string tail = "\nvertexformat=point\nindexformat=x\n";
    const std::pair<const char*, std::string> cases[] = {
        {"few-indices.mesh", "vertexcount=3\nindexcount=2" + tail},
        {"no-vertices.mesh", "vertexcount=0\nindexcount=3" + tail},
        // More than 16-bit indices address, or than the file has bytes for.
        {"wide.mesh", "vertexcount=65537\nindexcount=3" + tail + std::string(70000, '\n')},
        {"many-vertices.mesh", "vertexcount=99999999\nindexcount=3" + tail},
        {"many-indices.mesh", "vertexcount=3\nindexcount=2147483647" + tail},
        {"empty.mesh", ""},
    };
    for (const auto& [name, text] : cases) {
        files_.Add(name, text);
        Mesh mesh("", nullptr);
        EXPECT_FALSE(mesh.LoadFromFile(name)) << name;
        EXPECT_TRUE(log_.Contains(std::string("Error: Invalid mesh file '") + name + "'")) << name;
        EXPECT_EQ(mesh.GetVertexCount() + mesh.GetTriangleCount(), 0u) << name;
    }
}

TEST_F(MeshTest, GroupingByFlagsIsStableAndKeepsTrianglesPastTheLastGroup) {
    const struct {
        std::vector<uint32_t> flags;
        std::vector<int> order; // old triangle numbers in their new order
        uint32_t groups;
        std::vector<uint32_t> starts; // of groups 1 and groups - 1, then of the end
    } cases[] = {
        {{0, 2, 0, 1}, {0, 2, 3, 1}, 3, {6, 9, 12}},
        {{40, 0, 33, 31}, {1, 3, 2, 0}, 32, {3, 3, 6}},
    };
    for (const auto& c : cases) {
        Mesh mesh("", nullptr);
        std::vector<int> indices;
        for (int t = 0; t < int(c.flags.size()); ++t) {
            indices.insert(indices.end(), {t, t + 1, t + 2});
        }
        test::Build(mesh, std::vector<Float3>(6), indices);
        for (uint32_t t = 0; t < c.flags.size(); ++t) {
            mesh.SetTriangleFlags(t, c.flags[t]);
        }
        mesh.GroupTrianglesByFlags();
        std::vector<int> expected;
        for (int old : c.order) {
            expected.insert(expected.end(), {old, old + 1, old + 2});
        }
        EXPECT_EQ(Indices(mesh), expected);
        const IndexBuffer& groups = *mesh.GetIndexData();
        ASSERT_EQ(groups.GetGroupCount(), c.groups);
        EXPECT_EQ(
            std::vector<uint32_t>({groups.GetGroupStart(1), groups.GetGroupStart(c.groups - 1),
                                   groups.GetGroupStart(c.groups)}),
            c.starts);
    }
}

TEST_F(MeshTest, TextureCoordinatesOutsideTheUnitSquareClearTheirRangeFlag) {
    const std::tuple<const char*, bool, bool> cases[] = {
        {"\t0 0\n\t1 1\n", true, true},
        {"\t1.5 0\n\t0 1\n", false, true},
        {"\tnan -0.5\n\t0 0\n", true, false}, // a NaN is outside neither way
    };
    for (const auto& [uvs, uInside, vInside] : cases) {
        Mesh* mesh = Load("uv.mesh", std::string("vertexcount=2\nindexcount=3\nvertexformat=uv\n"
                                                 "indexformat=x\nuvs=2\n") +
                                         uvs);
        EXPECT_EQ(mesh->GetVertexData()->TestFlags(VertexClampU0) != 0, uInside) << uvs;
        EXPECT_EQ(mesh->GetVertexData()->TestFlags(VertexClampV0) != 0, vInside) << uvs;
        EXPECT_EQ((mesh->GetStateFlags() & Mesh::UvOutsideUnitRange) != 0, !(uInside && vInside));
        mesh->Release();
    }
}

TEST_F(MeshTest, CreateKeepsOrTakesTheFormatAndRefusesCountsNoBufferCanHold) {
    Mesh mesh("", nullptr);
    EXPECT_EQ(mesh.GetVertexCount() + mesh.GetTriangleCount() + mesh.GetVertexFormat(), 0u);
    const std::tuple<int32_t, int32_t, uint32_t, uint32_t> steps[] = {
        {10, 0, 0, 0}, {5, 2, 0, 0}, {5, 2, 37, 37}, {6, 2, 0, 37}, {6, 2, 0x601, 0x601}};
    for (const auto& [vertices, triangles, format, kept] : steps) {
        EXPECT_TRUE(mesh.Create(vertices, triangles, format));
        EXPECT_EQ(mesh.GetVertexCount() + mesh.GetTriangleCount(), uint32_t(vertices + triangles));
        EXPECT_EQ(mesh.GetVertexFormat(), kept);
    }
    EXPECT_EQ(mesh.GetBlendWeightCount(), 3u);
    // A script's -1, or a count past the buffer limit, changes nothing.
    for (const auto& [vertices, triangles] :
         {std::pair{-1, 1}, {1, -1}, {9000000, 1}, {1, 50000000}}) {
        log_.Clear();
        EXPECT_FALSE(mesh.Create(vertices, triangles, 37));
        EXPECT_EQ(log_.Lines().size(), 1u);
        EXPECT_EQ(mesh.GetVertexCount() + mesh.GetVertexFormat(), 6u + 0x601u);
    }
}

TEST_F(MeshTest, OutOfRangeAccessIsReportedAndChangesNothing) {
    // Each site reports once in a process.
    test::ExpectInFreshProcess([this] {
        Mesh mesh("", nullptr);
        test::Build(mesh, std::vector<Float3>(5), {0, 1, 2});
        reports_.Clear();
        mesh.SetTriangle(0, 0, 1, 5);
        mesh.SetTriangle(0, -1, 1, 2);
        mesh.SetPoint(5, {1, 1, 1});
        test::ExpectNear(mesh.GetNormal(7), {});
        EXPECT_EQ(mesh.GetTriangleFlags(4) + mesh.GetTriangleFlags(4), 0u); // one report per site
        mesh.SetTriangleFlags(4, 1);
        EXPECT_EQ(reports_.Messages(),
                  (std::vector<std::string>{
                      "Invalid triangle index 0=(0,1,5)", "Invalid triangle index 0=(-1,1,2)",
                      "Invalid vertex entry 5", "Invalid vertex entry 7",
                      "Invalid triangle entry 4", "Invalid triangle entry 4"}));
        EXPECT_EQ(Indices(mesh), (std::vector<int>{0, 1, 2}));
        EXPECT_STREQ(mesh.GetGroupName(0), "");
        // Indices are 16 bits wide: the 65537th vertex cannot be addressed.
        mesh.Create(65537, 1, 1);
        reports_.Clear();
        mesh.SetTriangle(0, 0, 1, 65536);
        EXPECT_EQ(reports_.Messages(),
                  std::vector<std::string>{"Invalid triangle index 0=(0,1,65536)"});
        EXPECT_EQ(Indices(mesh), (std::vector<int>{0, 0, 0}));
    });
}

TEST_F(MeshTest, CommitAnnouncesAChangeOnlyWhenTheTrianglesAreValid) {
    MeshWatcher::RegisterClass();
    MeshWatcher watcher;
    AddSignalListener("resourcechanged", &watcher);
    Mesh mesh("", nullptr);
    test::Build(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    test::ExpectNear(mesh.GetTriangleNormal(0), {0, 0, -1});
    mesh.Commit(); // nothing changed since
    mesh.GetIndexData()->SetTriangle(0, 0, 1, 7);
    mesh.SetNormal(0, {0, 0, 1});
    mesh.Commit();
    EXPECT_EQ(watcher.changes, 1);
    EXPECT_EQ(reports_.Messages().back(), "Invalid triangle index: 0=7");
    RemoveSignalListener("resourcechanged", &watcher);
}

TEST_F(MeshTest, AMissingFileLeavesAnEmptyMeshAndTheRegistryGivesThePlaceholder) {
    Mesh mesh("", nullptr);
    EXPECT_FALSE(mesh.LoadFromFile("gone.mesh"));
    EXPECT_EQ(mesh.GetVertexCount(), 0u);
    EXPECT_EQ(mesh.GetState(), uint32_t(ResourcePlaceholder));
    mesh.Unload();
    EXPECT_EQ(Indices(mesh), (std::vector<int>{3, 2, 1, 0, 1, 2, 0, 2, 3, 0, 3, 1}));
    EXPECT_EQ(mesh.GetVertexData()->GetColor(1, 0), 0xFFFF00FFu);
    EXPECT_TRUE(mesh.GetVertexData()->TestFlags(VertexClampU0 | VertexClampV0));
    Mesh* missing = GetMesh("gone.obj", nullptr);
    EXPECT_EQ(missing->GetVertexCount() + missing->GetTriangleCount(), 8u);
    EXPECT_EQ(missing->GetState(), uint32_t(ResourcePlaceholder));
    missing->Release();
    files_.Add("model.ply", "ply");
    EXPECT_FALSE(mesh.LoadFromFile("model.ply"));
    EXPECT_TRUE(log_.Contains("Unknown mesh format: 'model.ply'"));
    EXPECT_EQ(mesh.GetVertexCount(), 0u);
    EXPECT_TRUE(reports_.Messages().empty());
}

TEST_F(MeshTest, RaysFindTheNearestTriangleAndTellItsBackSide) {
    Mesh mesh("", nullptr);
    EXPECT_EQ(mesh.IntersectRay({0, 0, 0}, {0, 0, 1}, nullptr, nullptr), NoHit);
    // Triangles at z = 5 and z = 2, both facing -z.
    test::Build(mesh, {{0, 0, 2}, {1, 0, 2}, {0, 1, 2}, {0, 0, 5}, {1, 0, 5}, {0, 1, 5}},
                {3, 4, 5, 0, 1, 2});
    Float3 normal;
    uint32_t triangle = 0;
    EXPECT_FLOAT_EQ(mesh.IntersectRay({0.2f, 0.2f, 0}, {0, 0, 1}, &normal, &triangle), 2.0f);
    EXPECT_EQ(triangle, 1u);
    test::ExpectNear(normal, {0, 0, -1});
    EXPECT_FLOAT_EQ(mesh.IntersectRay({0.2f, 0.2f, 9}, {0, 0, -1}, nullptr, &triangle), 4.0f);
    EXPECT_EQ(triangle, 0u | Mesh::BackSideHit);
    EXPECT_EQ(mesh.IntersectRay({0.2f, 0.2f, 9}, {0, 0, 1}, nullptr, nullptr), NoHit);
}

TEST_F(MeshTest, ACubeIsConvexUntilACornerMovesOutOfAFlagFreeFace) {
    Mesh cube("", nullptr);
    test::BuildCube(cube);
    EXPECT_TRUE(cube.IsConvex());
    cube.SetPoint(7, {1.01f, 1, 1});
    cube.Commit();
    EXPECT_FALSE(cube.IsConvex());
    for (uint32_t t = 0; t < cube.GetTriangleCount(); ++t) {
        cube.SetTriangleFlags(t, 1);
    }
    EXPECT_TRUE(cube.IsConvex());
}

// A commit checks every triangle, changed or not: a script committing a large mesh in a loop is
// charged for each, where it cost a command a call.
TEST_F(MeshTest, ACommitIsChargedForEachTriangleItChecks) {
    constexpr uint32_t Triangles = 1000;
    Mesh mesh("", nullptr);
    mesh.Create(3, Triangles, VertexPosition);
    for (uint32_t t = 0; t < Triangles; ++t) {
        mesh.SetTriangle(t, 0, 1, 2);
    }
    static uint64_t charged = 0;
    SetEngineWorkHook([](uint64_t steps) { charged += steps; });
    mesh.Commit();
    mesh.Commit();
    SetEngineWorkHook(nullptr);
    EXPECT_GE(charged, 2 * Triangles);
}

} // namespace
} // namespace quarn
