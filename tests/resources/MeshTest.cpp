#include "resources/Mesh.h"

#include "core/math/Intersection.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/Signals.h"
#include "core/object/ValueBinding.h"
#include "core/string/TextArena.h"
#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"
#include "tests/resources/MeshTestSupport.h"
#include "tests/support/MathExpectations.h"
#include "tests/support/TestClass.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::Flags;
using test::Indices;
using test::MeshTest;

// Counts the "resourcechanged" signals it hears.
class MeshWatcher : public test::TestClass<MeshWatcher> {
public:
    static constexpr const char* Name = "MeshWatcher";
    static void Declare(ClassInfo& classInfo) {
        classInfo.AddMethod("resourcechanged", "()",
                            BindSignalHandler<&MeshWatcher::OnResourceChanged>(), 0);
    }
    void OnResourceChanged(void*) { ++changes; }
    int changes = 0;
};

const char* const TriangleText = "vertexcount=3\n"
                                 "indexcount=3\n"
                                 "vertexformat=(point,normal,uv)\n"
                                 "indexformat=trianglelist\n"
                                 "points=3\n"
                                 "\t0.123457 1.000000 -2.000000\n"
                                 "\t1.000000 1.000000 -2.000000\n"
                                 "\t0.000000 3.500000 -2.000000\n"
                                 "normals=3\n"
                                 "\t0.000000 0.000000 -1.000000\n"
                                 "\t0.000000 0.000000 -1.000000\n"
                                 "\t0.000000 0.000000 -1.000000\n"
                                 "uvs=3\n"
                                 "\t0.000000 1.000000\n"
                                 "\t1.000000 1.000000\n"
                                 "\t0.000000 0.250000\n"
                                 "triangles=1\n"
                                 "\t0 2 1\n";

TEST_F(MeshTest, TheWriterWritesTheExactTextAndTheReaderReadsTheSameMeshBack) {
    Mesh mesh("", nullptr);
    mesh.Create(3, 1, VertexPosition | VertexNormal | VertexTexCoord0);
    const Float3 points[] = {{0.1234567f, 1, -2}, {1, 1, -2}, {0, 3.5f, -2}};
    const Float2 uvs[] = {{0, 1}, {1, 1}, {0, 0.25f}};
    for (uint32_t i = 0; i < 3; ++i) {
        mesh.SetPoint(i, points[i]);
        mesh.SetNormal(i, {0, 0, -1});
        mesh.SetUv(i, uvs[i]);
    }
    mesh.SetTriangle(0, 0, 2, 1);
    mesh.SaveToFile("t.mesh");
    ASSERT_EQ(Written("t.mesh"), TriangleText);

    Mesh* back = Load("t.mesh", Written("t.mesh"));
    EXPECT_EQ(back->GetVertexFormat(), 37u);
    EXPECT_EQ(Indices(*back), (std::vector<int>{0, 2, 1}));
    for (uint32_t i = 0; i < 3; ++i) {
        test::ExpectNear(back->GetPoint(i), points[i], 1e-6f);
        test::ExpectNear(back->GetNormal(i), {0, 0, -1}, 1e-6f);
        EXPECT_NEAR(back->GetUv(i).x, uvs[i].x, 1e-6f);
        EXPECT_NEAR(back->GetUv(i).y, uvs[i].y, 1e-6f);
    }
    back->Release();
    EXPECT_TRUE(reports_.Messages().empty());
}

TEST_F(MeshTest, SavesRefusedByTheFileSystemLeaveNothingAndAreLogged) {
    Mesh mesh("", nullptr);
    mesh.Create(3, 1, 1);
    files_.MarkReadOnly("locked.mesh");
    mesh.SaveToFile("locked.mesh");
    EXPECT_EQ(Written("locked.mesh"), "");
    files_.FailCloses();
    mesh.SaveToFile("broken.mesh");
    EXPECT_EQ(Written("broken.mesh"), "");
    EXPECT_TRUE(log_.Contains("Could not save mesh to 'locked.mesh'"));
    EXPECT_TRUE(log_.Contains("Could not save mesh to 'broken.mesh'"));
}

TEST_F(MeshTest, TheReaderTakesStripsChannelsAndShortOrOddLines) {
    // Strip order alternates the winding; only the named channels have sections.
    Mesh* strip = Load("strip.mesh", "vertexcount=4\nindexcount=4\nvertexformat=point\n"
                                     "indexformat=trianglestrip\npoints=4\n\t0 0 0\n\t1  2 3\n"
                                     "\t0 1 0\n\t1 1 0\nstrip=4\n0\n1\n2\n3\n");
    EXPECT_EQ(strip->GetVertexFormat(), 1u);
    EXPECT_EQ(Indices(*strip), (std::vector<int>{0, 1, 2, 1, 3, 2}));
    // Two blanks make an empty field, which reads 0 and moves the numbers on.
    test::ExpectNear(strip->GetPoint(1), {1, 0, 2});
    strip->SaveToFile("strip-out.mesh");
    EXPECT_NE(Written("strip-out.mesh").find("normals=4\n\t0.000000 0.000000 0.000000\n"),
              std::string::npos);
    strip->Release();

    // Colours are signed decimals, clamped as a 32-bit conversion does; weights are skipped.
    Mesh* colored = Load("c.mesh", "vertexcount=2\nindexcount=3\nvertexformat=point,color,weights\n"
                                   "indexformat=trianglelist\npoints=2\n\t1 1 1\n\t2 2 2\n"
                                   "colors=2\n-65536\n4294901760\nweights=2\n0.5 1 0.5 2\n1 0\n"
                                   "triangles=1\n\t0 1 1\n");
    EXPECT_EQ(colored->GetVertexData()->GetColor(0, 0), 0xFFFF0000u);
    EXPECT_EQ(colored->GetVertexData()->GetColor(1, 0), 0x7FFFFFFFu);
    EXPECT_EQ(colored->GetBlendWeightCount(), 1u);
    EXPECT_EQ(Indices(*colored), (std::vector<int>{0, 1, 1}));
    colored->Release();

    // A file that ends early reads zeros, however large its section counts.
    Mesh* cut = Load("cut.mesh", "vertexcount=3\nindexcount=6\nvertexformat=point\n"
                                 "indexformat=trianglelist,triangleflags\npoints=2000000000\n"
                                 "\t1 2 3\n");
    EXPECT_EQ(cut->GetVertexCount(), 3u);
    test::ExpectNear(cut->GetPoint(0), {1, 2, 3});
    test::ExpectNear(cut->GetPoint(2), {0, 0, 0});
    EXPECT_EQ(Indices(*cut), (std::vector<int>(6, 0)));
    EXPECT_LE(reports_.Messages().size(), 2u);
    cut->Release();
}

TEST_F(MeshTest, DamagedHeadersAreRefusedWithTheLogLineAndLeaveTheMeshEmpty) {
    const std::string padding(70000, '\n');
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"few-indices.mesh", "vertexcount=3\nindexcount=2\nvertexformat=point\nindexformat=x\n"},
        {"no-vertices.mesh", "vertexcount=0\nindexcount=3\nvertexformat=point\nindexformat=x\n"},
        {"wide.mesh",
         "vertexcount=65537\nindexcount=3\nvertexformat=point\nindexformat=x\n" + padding},
        {"huge-v.mesh", "vertexcount=99999999\nindexcount=3\nvertexformat=point\nindexformat=x\n"},
        {"huge-i.mesh",
         "vertexcount=3\nindexcount=2147483647\nvertexformat=point\nindexformat=x\n"},
        {"empty.mesh", ""},
    };
    for (const auto& c : cases) {
        files_.Add(c.name, c.text);
        Mesh mesh("", nullptr);
        log_.Clear();
        EXPECT_FALSE(mesh.LoadFromFile(c.name)) << c.name;
        EXPECT_TRUE(log_.Contains(std::string("Error: Invalid mesh file '") + c.name + "'"))
            << c.name;
        EXPECT_EQ(mesh.GetVertexCount(), 0u) << c.name;
        EXPECT_EQ(mesh.GetTriangleCount(), 0u) << c.name;
    }
}

// Triangle t is (t, t + 1, t + 2) modulo 5, so every one can be told apart.
std::string FlaggedMeshText(const std::vector<uint32_t>& flags) {
    std::string text = "vertexcount=5\nindexcount=" + std::to_string(3 * flags.size()) +
                       "\nvertexformat=point\nindexformat=trianglelist,triangleflags\npoints=0\n"
                       "triangles=" +
                       std::to_string(flags.size()) + "\n";
    for (size_t t = 0; t < flags.size(); ++t) {
        text += "\t" + std::to_string(t % 5) + " " + std::to_string((t + 1) % 5) + " " +
                std::to_string((t + 2) % 5) + "\n";
    }
    text += "flags=" + std::to_string(flags.size()) + "\n";
    for (uint32_t value : flags) {
        text += "\t" + std::to_string(value) + "\n";
    }
    return text + std::string(64, '\n');
}

TEST_F(MeshTest, FlagsGroupTheTrianglesStablyAndEveryGroupHasAStart) {
    const struct {
        std::vector<uint32_t> flags;
        std::vector<uint32_t> order;  // old triangle numbers in their new order
        std::vector<uint32_t> starts; // group starts, the closing entry last
    } cases[] = {
        {{0, 2, 0, 1}, {0, 2, 3, 1}, {0, 6, 9, 12}},
        // A value that does not occur is an empty group where the next one starts.
        {{3, 0}, {1, 0}, {0, 3, 3, 3, 6}},
        // Flags of 32 and more follow the 32 groups, in order, instead of being dropped.
        {{40, 0, 33}, {1, 2, 0}, {0, 3}},
    };
    for (const auto& c : cases) {
        Mesh* mesh = Load("flags.mesh", FlaggedMeshText(c.flags));
        std::vector<int> expected;
        std::vector<uint32_t> expectedFlags;
        for (uint32_t old : c.order) {
            expected.insert(expected.end(), {int(old % 5), int((old + 1) % 5), int((old + 2) % 5)});
            expectedFlags.push_back(c.flags[old]);
        }
        EXPECT_EQ(Indices(*mesh), expected);
        EXPECT_EQ(Flags(*mesh), expectedFlags);
        const IndexBuffer& groups = *mesh->GetIndexData();
        const uint32_t count = static_cast<uint32_t>(c.starts.size()) - 1;
        EXPECT_EQ(groups.GetGroupCount(), c.starts.size() == 2 ? 32u : count);
        for (uint32_t g = 0; g <= groups.GetGroupCount(); ++g) {
            const uint32_t want = g < count ? c.starts[g] : c.starts.back();
            EXPECT_EQ(groups.GetGroupStart(g), g == 0 ? 0u : want) << "group " << g;
        }
        mesh->Release();
    }
}

TEST_F(MeshTest, TextureCoordinatesOutsideTheUnitSquareClearTheirRangeFlag) {
    const struct {
        const char* uvs;
        bool uInside;
        bool vInside;
    } cases[] = {
        {"\t0 0\n\t1 1\n", true, true},
        {"\t1.5 0\n\t0 1\n", false, true},
        {"\tnan -0.5\n\t0 0\n", true, false}, // a NaN is outside neither way
    };
    for (const auto& c : cases) {
        Mesh* mesh = Load("uv.mesh", std::string("vertexcount=2\nindexcount=3\nvertexformat=uv\n"
                                                 "indexformat=x\nuvs=2\n") +
                                         c.uvs + "triangles=0\n");
        const VertexBuffer& vertices = *mesh->GetVertexData();
        EXPECT_EQ(vertices.TestFlags(VertexClampU0) != 0, c.uInside) << c.uvs;
        EXPECT_EQ(vertices.TestFlags(VertexClampV0) != 0, c.vInside) << c.uvs;
        EXPECT_EQ((mesh->GetStateFlags() & Mesh::UvOutsideUnitRange) != 0,
                  !(c.uInside && c.vInside))
            << c.uvs;
        mesh->Release();
    }
}

TEST_F(MeshTest, CreateKeepsOrTakesTheFormatAndRefusesCountsNoBufferCanHold) {
    Mesh mesh("", nullptr);
    EXPECT_EQ(mesh.GetVertexCount() + mesh.GetTriangleCount() + mesh.GetVertexFormat(), 0u);
    const struct {
        int32_t vertices;
        int32_t triangles;
        uint32_t format;
        uint32_t keptFormat;
    } steps[] = {{10, 0, 0, 0}, {5, 2, 0, 0}, {5, 2, 37, 37}, {6, 2, 0, 37}, {6, 2, 0x601, 0x601}};
    for (const auto& step : steps) {
        EXPECT_TRUE(mesh.Create(step.vertices, step.triangles, step.format));
        EXPECT_EQ(mesh.GetVertexCount(), uint32_t(step.vertices));
        EXPECT_EQ(mesh.GetTriangleCount(), uint32_t(step.triangles));
        EXPECT_EQ(mesh.GetVertexFormat(), step.keptFormat);
    }
    EXPECT_EQ(mesh.GetBlendWeightCount(), 3u);
    // A script's -1 or a count past the buffer limit changes nothing.
    for (const auto& [vertices, triangles] :
         {std::pair{-1, 1}, {1, -1}, {9000000, 1}, {1, 50000000}}) {
        log_.Clear();
        EXPECT_FALSE(mesh.Create(vertices, triangles, 37));
        EXPECT_EQ(log_.Lines().size(), 1u);
        EXPECT_EQ(mesh.GetVertexCount(), 6u);
        EXPECT_EQ(mesh.GetVertexFormat(), 0x601u);
    }
}

TEST_F(MeshTest, OutOfRangeAccessIsReportedAndChangesNothing) {
    Mesh mesh("", nullptr);
    test::Build(mesh, std::vector<Float3>(5), {0, 1, 2});
    reports_.Clear();
    mesh.SetTriangle(0, 0, 1, 5);
    mesh.SetTriangle(0, -1, 1, 2);
    mesh.SetPoint(5, {1, 1, 1});
    test::ExpectNear(mesh.GetNormal(7), {});
    EXPECT_EQ(mesh.GetTriangleFlags(4), 0u);
    EXPECT_EQ(mesh.GetTriangleFlags(4), 0u); // once for this call site
    mesh.SetTriangleFlags(4, 1);
    EXPECT_EQ(reports_.Messages(),
              (std::vector<std::string>{"Invalid triangle index 0=(0,1,5)",
                                        "Invalid triangle index 0=(-1,1,2)",
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
}

TEST_F(MeshTest, CommitAnnouncesAChangeOnlyWhenTheTrianglesAreValid) {
    MeshWatcher::RegisterClass();
    MeshWatcher watcher;
    AddSignalListener("resourcechanged", &watcher);
    Mesh mesh("", nullptr);
    test::Build(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    EXPECT_EQ(watcher.changes, 1);
    test::ExpectNear(mesh.GetTriangleNormal(0), {0, 0, -1});
    mesh.Commit(); // nothing changed since
    mesh.GetIndexData()->SetTriangle(0, 0, 1, 7);
    mesh.SetNormal(0, {0, 0, 1});
    mesh.Commit();
    EXPECT_EQ(watcher.changes, 1);
    EXPECT_EQ(reports_.Messages().back(), "Invalid triangle index: 0=7");
    EXPECT_NE(mesh.GetStateFlags() & Mesh::Changed, 0u);
    RemoveSignalListener("resourcechanged", &watcher);
}

TEST_F(MeshTest, AMissingFileLeavesAnEmptyMeshAndTheRegistryGivesThePlaceholder) {
    Mesh mesh("", nullptr);
    EXPECT_FALSE(mesh.LoadFromFile("gone.mesh"));
    EXPECT_EQ(mesh.GetVertexCount(), 0u);
    EXPECT_EQ(mesh.GetState(), uint32_t(ResourcePlaceholder));
    mesh.Unload();
    EXPECT_EQ(mesh.GetVertexCount(), 4u);
    EXPECT_EQ(Indices(mesh), (std::vector<int>{3, 2, 1, 0, 1, 2, 0, 2, 3, 0, 3, 1}));
    EXPECT_EQ(mesh.GetVertexData()->GetColor(1, 0), 0xFFFF00FFu);
    EXPECT_TRUE(mesh.GetVertexData()->TestFlags(VertexClampU0 | VertexClampV0));

    Mesh* missing = GetMesh("gone.obj", nullptr);
    EXPECT_EQ(missing->GetTriangleCount(), 4u);
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
    // Two parallel triangles at z = 2 and z = 5, both facing -z.
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

TEST_F(MeshTest, ACubeIsConvexUntilOneCornerMovesOut) {
    Mesh cube("", nullptr);
    test::BuildCube(cube);
    EXPECT_TRUE(cube.IsConvex());
    // Corner 7 moved along the normal of the face x = 1 swings that face's other triangle.
    cube.SetPoint(7, {1.01f, 1, 1});
    cube.Commit();
    EXPECT_FALSE(cube.IsConvex());
    for (uint32_t t = 0; t < cube.GetTriangleCount(); ++t) {
        cube.SetTriangleFlags(t, 1);
    }
    EXPECT_TRUE(cube.IsConvex()); // flagged triangles are no planes
}

TEST_F(MeshTest, TheScriptClassOffersItsMethodsAndConstants) {
    ClassInfo* classInfo = Mesh::RegisterClass();
    EXPECT_EQ(classInfo->GetOwnMethods().size(), 17u);
    EXPECT_STREQ(classInfo->GetParent()->GetName(), "ResourceRef");
    Mesh* mesh = static_cast<Mesh*>(classInfo->CreateInstance());
    mesh->AddGroupName("wheel");
    uint32_t block[4] = {0, 1, 0, 0};
    classInfo->GetOwnMethods().back()->Call(mesh, block);
    EXPECT_STREQ(LookupText(block[0]), "");
    block[1] = 0;
    classInfo->GetOwnMethods().back()->Call(mesh, block);
    EXPECT_STREQ(LookupText(block[0]), "wheel");
    mesh->Delete();
}

TEST_F(MeshTest, MutatedAndTruncatedFilesLoadOrFailCleanly) {
    std::vector<std::pair<std::string, std::string>> seeds = {
        {"seed.mesh", FlaggedMeshText({3, 0, 40, 1})}};
    for (const auto& entry : std::filesystem::directory_iterator(QUARN_TEST_DATA "/meshes")) {
        std::ifstream file(entry.path(), std::ios::binary);
        seeds.emplace_back("seed" + entry.path().extension().string(),
                           std::string(std::istreambuf_iterator<char>(file), {}));
    }
    const std::string bytes = "0123456789-+.eE /\n\t\r#fgvtnx=";
    uint32_t state = 2024;
    const auto random = [&state](uint32_t range) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % range;
    };
    for (const auto& [name, seed] : seeds) {
        std::vector<std::string> variants;
        for (size_t cut = 0; cut < seed.size(); cut += 1 + seed.size() / 500) {
            variants.push_back(seed.substr(0, cut));
        }
        for (int i = 0; i < 400; ++i) {
            std::string mutated = seed;
            for (uint32_t n = 1 + random(4); n > 0; --n) {
                const char byte = random(2) ? bytes[random(static_cast<uint32_t>(bytes.size()))]
                                            : static_cast<char>(random(256));
                mutated[random(static_cast<uint32_t>(mutated.size()))] = byte;
            }
            variants.push_back(mutated);
        }
        for (const std::string& variant : variants) {
            files_.Add(name, variant);
            Mesh mesh("", nullptr);
            mesh.LoadFromFile(name.c_str());
            ASSERT_LE(mesh.GetVertexCount(), Mesh::MaxVertices) << variant;
            ASSERT_TRUE(mesh.ValidateTriangles()) << variant;
            mesh.BuildFaces(0.9999f);
            reports_.Clear();
        }
    }
}

} // namespace
} // namespace quarn
