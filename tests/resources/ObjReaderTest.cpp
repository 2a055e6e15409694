#include "resources/ObjReader.h"

#include "device/VertexBuffer.h"
#include "resources/Mesh.h"
#include "tests/resources/MeshTestSupport.h"
#include "tests/support/MathExpectations.h"

#include <string>
#include <vector>

namespace quarn {
namespace {

using test::Flags;
using test::Indices;
using test::MeshTest;

const std::string Square = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";

TEST_F(MeshTest, ObjFacesAreFansOverOneVertexPerDistinctCorner) {
    const std::tuple<std::string, uint32_t, std::vector<int>> cases[] = {
        {Square + "f 1 2 3 4\n", 4, {0, 1, 2, 0, 2, 3}},
        {Square + "vt 0 0\nvn 0 0 1\nf 1/1/1 2/2/2 3/3/3\nf 1/1/1 3/3/3 4/4/4\n",
         4,
         {0, 1, 2, 0, 2, 3}},
        // "p" is (p, p, p) and "p/t" is (p, t, p), so "1/1" is the first corner again.
        {Square + "F 1 2 3\nf 1/1 2/1 3/1\n", 5, {0, 1, 2, 0, 3, 4}},
        // Negative references count back from the last entry read so far.
        {Square + "f -4 -3 -2 -1\nv 2 2 0\nf 1 2 -1\n", 5, {0, 1, 2, 0, 2, 3, 0, 1, 4}},
        {Square + "vt 0 0\nvn 0 0 1\nf -1/-1/-1 -2/-1/-1 -3/-1/-1\n", 3, {0, 1, 2}},
    };
    for (const auto& [obj, vertices, indices] : cases) {
        Mesh* mesh = Load("f.obj", obj);
        EXPECT_EQ(mesh->GetVertexCount(), vertices) << obj;
        EXPECT_EQ(mesh->GetVertexFormat(), 37u);
        EXPECT_EQ(Indices(*mesh), indices) << obj;
        mesh->Release();
    }
}

TEST_F(MeshTest, ObjValuesAreFlippedAndReferencesWithoutAnEntryReadZero) {
    Mesh* mesh = Load("values.obj", "V 1 2 3\nv 1.5e-3 -2E+2 1e2\nvt 0.25 0.75 0.5\nvn 0 -1 1\n"
                                    "f 1/1/1 2//1 3/0/0\nf 0/5/9 1 2\n");
    test::ExpectNear(mesh->GetPoint(0), {1, 2, -3});
    test::ExpectNear(mesh->GetPoint(1), {0.0015f, -200, -100});
    test::ExpectNear(mesh->GetNormal(0), {0, -1, -1});
    EXPECT_FLOAT_EQ(mesh->GetUv(0).y, 0.25f);
    // "p//n", a reference of 0 and one past the list have no texture coordinate: (0, 1).
    for (uint32_t vertex : {1u, 2u, 3u}) {
        EXPECT_FLOAT_EQ(mesh->GetUv(vertex).x + mesh->GetUv(vertex).y, 1.0f) << vertex;
    }
    test::ExpectNear(mesh->GetPoint(2), {});
    test::ExpectNear(mesh->GetPoint(3), {});
    test::ExpectNear(mesh->GetNormal(3), {});
    EXPECT_TRUE(mesh->GetVertexData()->TestFlags(VertexClampU0 | VertexClampV0));
    mesh->Release();
}

TEST_F(MeshTest, ObjNumbersTakeEveryFormStrtodReads) {
    Mesh* mesh = Load("forms.obj", "v .5 0 0\nv 5. -.5 +2\nv 1e-3 1E+2 -0.25e1# tail\n"
                                   "vt .25\nvt 1 .5 .75\nf 1/1 2/2 3/2\n");
    test::ExpectNear(mesh->GetPoint(0), {0.5f, 0, 0});
    test::ExpectNear(mesh->GetPoint(1), {5, -0.5f, -2});
    test::ExpectNear(mesh->GetPoint(2), {0.001f, 100, 2.5f});
    // A texture coordinate without v reads v = 0, which the flip makes 1.
    EXPECT_FLOAT_EQ(mesh->GetUv(0).x, 0.25f);
    EXPECT_FLOAT_EQ(mesh->GetUv(0).y, 1.0f);
    EXPECT_FLOAT_EQ(mesh->GetUv(1).y, 0.5f);
    EXPECT_TRUE(log_.Lines().empty());
    mesh->Release();
}

TEST_F(MeshTest, AnObjWithAMalformedNumberIsRefusedNamingItsLine) {
    const std::string notNumber = "is not a number";
    const std::pair<std::string, std::string> cases[] = {
        {"v 1 2 3\nv 1.2.3 0 0\n", "line 2: '1.2.3' " + notNumber},
        {"v 0 0 0\r\n\n# x\nvn 0 0 1x\n", "line 4: '1x' " + notNumber},
        {"v 1e 0 0\n", "line 1: '1e' " + notNumber},
        {"v - 1 2 3\n", "line 1: '-' " + notNumber},
        {"vt 0.5 abc\n", "line 1: 'abc' " + notNumber},
        {"v 1e39 0 0\n", "line 1: '1e39' is beyond the range of a 32-bit float"},
        {"v 0,5 0 0\n", "line 1: '0,5' " + notNumber},
        // A missing coordinate no longer takes the next line's keyword in its place.
        {"v 1 2\nv 3 4 5\n", "line 1: a number is missing"},
        {"vn 1 2 # z\n", "line 1: a number is missing"},
        {"v 1 2 3\nvt\n", "line 2: a number is missing"},
        {"v 1 2 " + std::string(100, '7') + "x\n",
         "line 1: '" + std::string(40, '7') + "...' " + notNumber},
    };
    for (const auto& [obj, error] : cases) {
        log_.Clear();
        files_.Add("bad.obj", obj + "v 0 0 0\nf 1 2 3\n");
        Mesh mesh("", nullptr);
        EXPECT_FALSE(mesh.LoadFromFile("bad.obj")) << obj;
        EXPECT_EQ(mesh.GetVertexCount(), 0u) << obj;
        EXPECT_TRUE(log_.Contains("Error: Mesh file 'bad.obj', " + error)) << obj;
    }
}

TEST_F(MeshTest, ObjFacesOfFewerThanThreeCornersAreSkippedWithOneWarning) {
    log_.Clear();
    Mesh* mesh = Load("short.obj", Square + "f 1 2\nf 3\nf\nv 5 5 5\nf 1 2 5\n");
    EXPECT_EQ(Indices(*mesh), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(mesh->GetVertexCount(), 3u);
    test::ExpectNear(mesh->GetPoint(2), {5, 5, -5});
    EXPECT_EQ(log_.Lines().size(), 1u);
    EXPECT_TRUE(log_.Contains("3 faces of fewer than three corners"));
    mesh->Release();
}

TEST_F(MeshTest, ObjGroupsNumberTheTrianglesAndKeepTheirTrimmedNames) {
    Mesh* mesh = Load("groups.obj", Square + "f 1 2 3\ng  left wing \r\nf 1 2 3\nmtllib x.mtl\n"
                                             "usemtl y\ns 1\no body\nf 1 3 4\n");
    EXPECT_EQ(Flags(*mesh), (std::vector<uint32_t>{0, 1, 2}));
    ASSERT_EQ(mesh->GetGroupCount(), 2u);
    EXPECT_STREQ(mesh->GetGroupName(0), "left wing");
    EXPECT_STREQ(mesh->GetGroupName(1), "body");
    mesh->Release();
}

TEST_F(MeshTest, AnExporterStyleObjLoadsWhole) {
    Mesh* mesh = Load("exporter.obj", test::MeshFixture("exporter.obj"));
    EXPECT_EQ(mesh->GetVertexCount(), 29u);
    std::vector<uint32_t> flags(12, 1);
    flags.insert(flags.end(), {2, 2, 2});
    EXPECT_EQ(Flags(*mesh), flags);
    EXPECT_STREQ(mesh->GetGroupName(1), "Plane");
    // The second face's first corner is position 2, written in exponent notation.
    test::ExpectNear(mesh->GetPoint(4), {1, -1, 1});
    test::ExpectNear(mesh->GetNormal(24), {0, 0, -1});
    test::ExpectNear(mesh->GetBoxMin(), {-1, -1, -1});
    mesh->BuildFaces(0.9999f);
    EXPECT_EQ(mesh->GetFaces().size(), 7u);
    EXPECT_TRUE(reports_.Messages().empty());
    mesh->Release();
}

TEST_F(MeshTest, AnObjWithMoreCornersThanSixteenBitIndicesAddressIsRefused) {
    // One face over position 1 with texture references 1, 2, ...
    const auto corners = [](uint32_t count) {
        std::string obj = "v 0 0 0\nf";
        for (uint32_t i = 1; i <= count; ++i) {
            obj += " 1/" + std::to_string(i);
        }
        return obj;
    };
    Mesh mesh("", nullptr);
    files_.Add("fits.obj", corners(Mesh::MaxVertices));
    EXPECT_TRUE(mesh.LoadFromFile("fits.obj"));
    EXPECT_EQ(mesh.GetVertexCount(), Mesh::MaxVertices);
    files_.Add("wide.obj", corners(Mesh::MaxVertices + 1));
    EXPECT_FALSE(mesh.LoadFromFile("wide.obj"));
    EXPECT_TRUE(log_.Contains("Error: Invalid mesh file 'wide.obj'"));
    EXPECT_EQ(mesh.GetVertexCount(), 0u);
}

TEST_F(MeshTest, AnObjOfFortyGroupsSavedAndReadBackKeepsEveryTriangle) {
    std::string obj = Square;
    for (int group = 0; group < 40; ++group) {
        obj += "g part\nf 1/" + std::to_string(group + 1) + " 2 3\n";
    }
    Mesh* mesh = Load("parts.obj", obj);
    mesh->SaveToFile("parts.mesh");
    Mesh* back = Load("parts.mesh", Written("parts.mesh"));
    EXPECT_EQ(Indices(*back), Indices(*mesh));
    EXPECT_EQ(Flags(*back), Flags(*mesh));
    back->Release();
    mesh->Release();
}

} // namespace
} // namespace quarn
