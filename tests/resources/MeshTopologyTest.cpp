#include "resources/Mesh.h"
#include "tests/resources/MeshTestSupport.h"
#include "tests/support/MathExpectations.h"

#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace quarn {
namespace {

using test::MeshTest;

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

const std::vector<Float3> Tetrahedron = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
const std::vector<int> TetrahedronFaces = {3, 2, 1, 0, 1, 2, 0, 2, 3, 0, 3, 1};

size_t PairedEdges(const Mesh& mesh) {
    size_t paired = 0;
    for (const MeshEdge& edge : mesh.GetEdges()) {
        paired += edge.secondTriangle != MeshEdge::NoTriangle ? 1 : 0;
    }
    return paired;
}

TEST_F(MeshTest, EdgesPairTrianglesThatWalkAWeldedEdgeBothWays) {
    // Vertex 4 repeats vertex 0 as a texture seam would.
    std::vector<Float3> seam = Tetrahedron;
    seam.push_back(seam[0]);
    const struct {
        const char* name;
        std::vector<Float3> points;
        std::vector<int> indices;
        uint32_t unique;
        size_t edges;
        size_t paired;
        bool closed;
    } cases[] = {
        {"shared edge",
         {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}},
         {0, 1, 2, 2, 1, 3},
         4,
         5,
         1,
         false},
        {"tetrahedron", Tetrahedron, TetrahedronFaces, 4, 6, 6, true},
        {"seam", seam, {3, 2, 1, 0, 1, 2, 4, 2, 3, 0, 3, 1}, 4, 6, 6, true},
        // A third triangle on edge 1-2 takes the record over and opens the mesh.
        {"three on one edge",
         {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 1, 1}},
         {0, 1, 2, 2, 1, 3, 2, 1, 4},
         5,
         7,
         1,
         false},
        // Vertex 3 repeats 2 as -0.0, which is 0.0; a NaN equals nothing, not even itself.
        {"signed zero",
         {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {-0.0f, 1, 0}, {1, 1, 0}},
         {0, 1, 2, 3, 1, 4},
         4,
         5,
         1,
         false},
        {"NaN",
         {{NaN, 0, 0}, {1, 0, 0}, {0, 1, 0}, {NaN, 0, 0}, {1, 1, 0}},
         {0, 1, 2, 1, 3, 4},
         5,
         6,
         0,
         false},
    };
    for (const auto& c : cases) {
        Mesh mesh("", nullptr);
        test::Build(mesh, c.points, c.indices);
        mesh.BuildEdges();
        EXPECT_EQ(mesh.GetUniquePositionCount(), c.unique) << c.name;
        EXPECT_EQ(mesh.GetEdges().size(), c.edges) << c.name;
        EXPECT_EQ(PairedEdges(mesh), c.paired) << c.name;
        EXPECT_EQ((mesh.GetStateFlags() & Mesh::Closed) != 0, c.closed) << c.name;
        EXPECT_NE(mesh.GetStateFlags() & Mesh::EdgesValid, 0u) << c.name;
    }
}

TEST_F(MeshTest, AnEdgeRecordsItsCornersCreaseAndConvexity) {
    const struct {
        float lift; // z of vertex 3, the second triangle's far corner
        float crease;
        bool convex;
    } cases[] = {{0, 1, true}, {1, 0.57735026f, true}, {-1, 0.57735026f, false}};
    for (const auto& c : cases) {
        Mesh mesh("", nullptr);
        test::Build(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, c.lift}}, {0, 1, 2, 2, 1, 3});
        mesh.BuildEdges();
        const MeshEdge& edge = mesh.GetEdges()[1];
        EXPECT_EQ(
            std::vector<uint32_t>({edge.start, edge.end, edge.firstTriangle, edge.secondTriangle,
                                   edge.firstStartCorner, edge.firstEndCorner,
                                   edge.secondStartCorner, edge.secondEndCorner}),
            std::vector<uint32_t>({1, 2, 0, 1, 1, 2, 1, 0}));
        EXPECT_FLOAT_EQ(edge.crease, c.crease) << c.lift;
        EXPECT_EQ((edge.flags & EdgeConvex) != 0, c.convex) << c.lift;
        EXPECT_FLOAT_EQ(mesh.GetEdges()[0].crease, -1.0f);
    }
}

TEST_F(MeshTest, MovingAVertexUnweldsIt) {
    Mesh mesh("", nullptr);
    // Two triangles on separate vertices meet where 3 and 4 repeat 2 and 1.
    test::Build(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0}},
                {0, 1, 2, 3, 4, 5});
    mesh.BuildEdges();
    EXPECT_EQ(PairedEdges(mesh), 1u);
    mesh.SetPoint(4, {2, 0, 0});
    EXPECT_EQ(mesh.GetStateFlags() & (Mesh::EdgesValid | Mesh::WeldMapValid), 0u);
    mesh.Commit();
    mesh.BuildEdges();
    EXPECT_EQ(PairedEdges(mesh), 0u);
}

TEST_F(MeshTest, CoplanarNeighboursMergeIntoOneOutlinedFace) {
    Mesh quad("", nullptr);
    test::Build(quad, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {0, 1, 2, 0, 2, 3});
    quad.SetTriangleFlags(0, 5);
    quad.BuildFaces(0.9999f);
    ASSERT_EQ(quad.GetFaces().size(), 1u);
    EXPECT_EQ(quad.GetFaces()[0].outline, (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(quad.GetFaces()[0].flags, 5u);
    EXPECT_NE(quad.GetStateFlags() & Mesh::FacesValid, 0u);
    quad.SetNormal(0, {0, 0, 1});
    EXPECT_EQ(quad.GetStateFlags() & (Mesh::EdgesValid | Mesh::FacesValid), 0u);

    Mesh cube("", nullptr);
    test::BuildCube(cube);
    cube.BuildFaces(0.9999f);
    ASSERT_EQ(cube.GetFaces().size(), 6u);
    for (const MeshFace& face : cube.GetFaces()) {
        EXPECT_EQ(face.outline.size(), 4u);
    }
    test::ExpectNear(cube.GetFaces()[0].normal, {0, 0, -1});
}

// The face pass with plain in-order searches and erasures, as it reads: what the indexed
// outline and the linked spike removal must give.
std::vector<std::vector<uint32_t>> SearchedOutlines(const Mesh& mesh, float threshold) {
    const uint32_t count = mesh.GetTriangleCount();
    std::vector<std::array<uint32_t, 3>> neighbours(count);
    for (uint32_t t = 0; t < count; ++t) {
        neighbours[t] = {t, t, t};
    }
    for (const MeshEdge& e : mesh.GetEdges()) {
        if (e.secondTriangle != MeshEdge::NoTriangle && e.crease > threshold) {
            neighbours[e.firstTriangle][e.firstStartCorner] = e.secondTriangle;
            neighbours[e.secondTriangle][e.secondEndCorner] = e.firstTriangle;
        }
    }
    const auto corners = [&mesh](uint32_t t) {
        const Int3 c = mesh.GetTriangle(t);
        return std::array<uint32_t, 3>{uint32_t(c.x), uint32_t(c.y), uint32_t(c.z)};
    };
    std::vector<bool> visited(count);
    std::vector<std::vector<uint32_t>> outlines;
    for (uint32_t s = 0; s < count; ++s) {
        if (visited[s]) {
            continue;
        }
        visited[s] = true;
        std::vector<uint32_t> stack{s};
        const std::array<uint32_t, 3> first = corners(s);
        std::vector<uint32_t> outline{first[0], first[1], first[2], first[0]};
        while (!stack.empty()) {
            const uint32_t u = stack.back();
            stack.pop_back();
            for (uint32_t n : neighbours[u]) {
                if (visited[n]) {
                    continue;
                }
                const std::array<uint32_t, 3> x = corners(n);
                for (size_t p = 0; p + 1 < outline.size(); ++p) {
                    int k = -1;
                    for (int j = 0; j < 3; ++j) {
                        k = outline[p] == x[j] ? j : k;
                    }
                    if (k >= 0 && outline[p + 1] == x[(k + 2) % 3]) {
                        outline.insert(outline.begin() + long(p) + 1, x[(k + 1) % 3]);
                        break;
                    }
                }
                visited[n] = true;
                stack.push_back(n);
            }
        }
        outline.pop_back();
        for (size_t i = 0, n = outline.size(); i < n && n >= 3;) {
            if (outline[i] == outline[(i + 2) % n]) {
                outline.erase(outline.begin() + long(i));
                outline.erase(outline.begin() + long(i % (n - 1)));
                n -= 2;
                i = ((i + n - 1) % n) + 1;
            } else {
                ++i;
            }
        }
        outlines.push_back(outline);
    }
    return outlines;
}

TEST_F(MeshTest, FacesAreTheOnesInOrderSearchesFind) {
    uint32_t state = 99;
    const auto random = [&state](uint32_t range) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % range;
    };
    // A flat grid grows one spiky outline; stepped heights make many faces; a soup of random
    // triangles over few points of a plane (repeated and degenerate ones too) pinches outlines.
    for (int shape = 0; shape < 3; ++shape) {
        std::vector<Float3> points;
        std::vector<int> indices;
        const int side = shape == 2 ? 4 : 14;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                points.push_back({float(x), float(y), shape == 1 ? float(random(3)) : 0.0f});
            }
        }
        for (int t = 0; shape == 2 && t < 300; ++t) {
            indices.insert(indices.end(), {int(random(16)), int(random(16)), int(random(16))});
        }
        for (int y = 0; shape < 2 && y + 1 < side; ++y) {
            for (int x = 0; x + 1 < side; ++x) {
                const int a = y * side + x;
                indices.insert(indices.end(), {a, a + 1, a + side, a + 1, a + side + 1, a + side});
            }
        }
        Mesh mesh("", nullptr);
        test::Build(mesh, points, indices);
        mesh.BuildFaces(0.9999f);
        std::vector<std::vector<uint32_t>> outlines;
        for (const MeshFace& face : mesh.GetFaces()) {
            outlines.push_back(face.outline);
        }
        EXPECT_EQ(outlines, SearchedOutlines(mesh, 0.9999f)) << "shape " << shape;
    }
}

TEST_F(MeshTest, SpikesLeaveTheirOutlineWhileThreeEntriesRemain) {
    const struct {
        std::vector<uint32_t> outline;
        std::vector<uint32_t> cleaned;
    } cases[] = {
        {{5, 7, 5, 9}, {5, 9}},
        {{1, 5, 7, 5}, {1, 5}}, // two entries are never compared with
                                // themselves
        {{4, 1, 5, 1, 6}, {4, 1, 6}},
        {{1, 2, 3, 4, 2}, {2, 3, 4}}, // the last entry's spike wraps to the first {{9, 2, 3}, {9,
                                      // 2, 3}}, {{9, 3}, {9, 3}},
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> outline = c.outline;
        RemoveOutlineSpikes(outline);
        EXPECT_EQ(outline, c.cleaned);
    }
}

} // namespace
} // namespace quarn
