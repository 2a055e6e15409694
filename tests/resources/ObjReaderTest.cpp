#include "resources/ObjReader.h"

#include "device/VertexBuffer.h"
#include "resources/Mesh.h"
#include "tests/resources/MeshTestSupport.h"
#include "tests/support/MathExpectations.h"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::Flags;
using test::Indices;
using test::MeshTest;

const char* const Square = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";

TEST_F(MeshTest, ObjFacesAreFansOverOneVertexPerDistinctCorner) {
    const struct {
        std::string obj;
        uint32_t vertices;
        std::vector<int> indices;
    } cases[] = {
        {std::string(Square) + "f 1 2 3 4\n", 4, {0, 1, 2, 0, 2, 3}},
        {std::string(Square) + "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\n"
                               "vn 0 0 1\nf 1/1/1 2/2/2 3/3/3\nf 1/1/1 3/3/3 4/4/4\n",
         4,
         {0, 1, 2, 0, 2, 3}},
        // "p" is (p, p, p) and "p/t" is (p, t, p): "1/1" meets the first corner again.
        {std::string(Square) + "F 1 2 3\nf 1/1 2/1 3/1\n", 5, {0, 1, 2, 0, 3, 4}},
    };
    for (const auto& c : cases) {
        Mesh* mesh = Load("f.obj", c.obj);
        EXPECT_EQ(mesh->GetVertexCount(), c.vertices) << c.obj;
        EXPECT_EQ(mesh->GetVertexFormat(), 37u);
        EXPECT_EQ(Indices(*mesh), c.indices) << c.obj;
        mesh->Release();
    }
    EXPECT_TRUE(reports_.Messages().empty());
}

TEST_F(MeshTest, ObjValuesAreFlippedAndReferencesWithoutAnEntryReadZero) {
    Mesh* mesh = Load("values.obj", "V 1 2 3\nv 1.5e-3 -2E+2 1e2\nvt 0.25 0.75 0.5\nvn 0 -1 1\n"
                                    "f 1/1/1 2//1 3/0/0\nf 0/5/-1 1/1/9 2\n");
    test::ExpectNear(mesh->GetPoint(0), {1, 2, -3});
    test::ExpectNear(mesh->GetPoint(1), {0.0015f, -200, -100});
    test::ExpectNear(mesh->GetNormal(0), {0, -1, -1});
    const struct {
        uint32_t vertex;
        Float2 uv;
    } uvs[] = {{0, {0.25f, 0.25f}}, {1, {0, 1}}, {2, {0, 1}}, {3, {0, 1}}};
    for (const auto& c : uvs) {
        EXPECT_FLOAT_EQ(mesh->GetUv(c.vertex).x, c.uv.x) << c.vertex;
        EXPECT_FLOAT_EQ(mesh->GetUv(c.vertex).y, c.uv.y) << c.vertex;
    }
    // References of 0, below it or past the list have no entry.
    test::ExpectNear(mesh->GetPoint(2), {});
    test::ExpectNear(mesh->GetNormal(2), {});
    test::ExpectNear(mesh->GetPoint(3), {});
    test::ExpectNear(mesh->GetNormal(4), {});
    // A missing texture coordinate is (0, 1), inside the unit square.
    EXPECT_TRUE(mesh->GetVertexData()->TestFlags(VertexClampU0 | VertexClampV0));
    mesh->Release();
}

TEST_F(MeshTest, ObjGroupsNumberTheTrianglesAndKeepTheirTrimmedNames) {
    Mesh* mesh = Load("groups.obj", std::string(Square) + "f 1 2 3\ng  left wing \r\nf 1 2 3\n"
                                                          "mtllib x.mtl\nusemtl y\ns 1\no body\n"
                                                          "f 1 3 4\n");
    EXPECT_EQ(Flags(*mesh), (std::vector<uint32_t>{0, 1, 2}));
    ASSERT_EQ(mesh->GetGroupCount(), 2u);
    EXPECT_STREQ(mesh->GetGroupName(0), "left wing");
    EXPECT_STREQ(mesh->GetGroupName(1), "body");
    mesh->Release();
}

TEST_F(MeshTest, AnExporterStyleObjLoadsWhole) {
    std::ifstream file(QUARN_TEST_DATA "/meshes/exporter.obj", std::ios::binary);
    Mesh* mesh = Load("exporter.obj", std::string(std::istreambuf_iterator<char>(file), {}));
    EXPECT_EQ(mesh->GetVertexCount(), 29u);
    EXPECT_EQ(mesh->GetTriangleCount(), 15u);
    EXPECT_EQ(mesh->GetGroupCount(), 2u);
    EXPECT_STREQ(mesh->GetGroupName(0), "Cube");
    EXPECT_STREQ(mesh->GetGroupName(1), "Plane");
    std::vector<uint32_t> flags(12, 1);
    flags.insert(flags.end(), {2, 2, 2});
    EXPECT_EQ(Flags(*mesh), flags);
    // The second face's first corner, position 2, is written in exponent notation.
    test::ExpectNear(mesh->GetPoint(4), {1, -1, 1});
    test::ExpectNear(mesh->GetPoint(24), {0, 1, 0});
    test::ExpectNear(mesh->GetNormal(24), {0, 0, -1});
    test::ExpectNear(mesh->GetBoxMin(), {-1, -1, -1});
    test::ExpectNear(mesh->GetBoxMax(), {1, 1, 1});
    mesh->BuildFaces(0.9999f);
    EXPECT_EQ(mesh->GetFaces().size(), 7u);
    EXPECT_TRUE(reports_.Messages().empty());
    mesh->Release();
}

// One face over `corners` distinct corners: position 1 with texture references 1, 2, ...
std::string ManyCorners(uint32_t corners) {
    std::string obj = "v 0 0 0\nf";
    for (uint32_t i = 1; i <= corners; ++i) {
        obj += " 1/" + std::to_string(i);
    }
    return obj + "\n";
}

TEST_F(MeshTest, AnObjWithMoreCornersThanSixteenBitIndicesAddressIsRefused) {
    Mesh mesh("", nullptr);
    files_.Add("fits.obj", ManyCorners(Mesh::MaxVertices));
    EXPECT_TRUE(mesh.LoadFromFile("fits.obj"));
    EXPECT_EQ(mesh.GetVertexCount(), Mesh::MaxVertices);
    files_.Add("wide.obj", ManyCorners(Mesh::MaxVertices + 1));
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
