#include "resources/Mesh.h"
#include "tests/resources/MeshTestSupport.h"
#include "tests/support/MathExpectations.h"

#include <array>
#include <limits>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::MeshTest;

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
using Points = std::vector<Float3>;
const Points Square = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};

// Unique positions, edges, edges with two triangles, and whether the mesh is closed.
std::string Topology(const Mesh& mesh) {
    size_t paired = 0;
    for (const MeshEdge& edge : mesh.GetEdges()) {
        paired += edge.secondTriangle != MeshEdge::NoTriangle ? 1 : 0;
    }
    return std::to_string(mesh.GetUniquePositionCount()) + " " +
           std::to_string(mesh.GetEdges().size()) + " " + std::to_string(paired) +
           ((mesh.GetStateFlags() & Mesh::Closed) ? " closed" : " open");
}

TEST_F(MeshTest, EdgesPairTrianglesThatWalkAWeldedEdgeBothWays) {
    const Points tetrahedron = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}};
    const std::tuple<Points, std::vector<int>, std::string> cases[] = {
        {Square, {0, 1, 2, 2, 1, 3}, "4 5 1 open"},
        {tetrahedron, {3, 2, 1, 0, 1, 2, 0, 2, 3, 0, 3, 1}, "4 6 6 closed"},
        // Vertex 4 repeats vertex 0 as a texture seam does.
        {tetrahedron, {3, 2, 1, 0, 1, 2, 4, 2, 3, 0, 3, 1}, "4 6 6 closed"},
        // A third triangle on edge 1-2 takes its record over and opens the mesh.
        {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 1, 1}},
         {0, 1, 2, 2, 1, 3, 2, 1, 4},
         "5 7 1 open"},
        // -0.0 is 0.0; a NaN equals nothing, not even itself.
        {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {-0.0f, 1, 0}, {1, 1, 0}},
         {0, 1, 2, 3, 1, 4},
         "4 5 1 open"},
        {{{NaN, 0, 0}, {1, 0, 0}, {0, 1, 0}, {NaN, 0, 0}, {1, 1, 0}},
         {0, 1, 2, 1, 3, 4},
         "5 6 0 open"},
    };
    for (const auto& [points, indices, topology] : cases) {
        Mesh mesh("", nullptr);
        test::Build(mesh, points, indices);
        mesh.BuildEdges();
        EXPECT_EQ(Topology(mesh), topology);
    }
}

TEST_F(MeshTest, AnEdgeRecordsItsCornersCreaseAndConvexity) {
    // The far corner of the second triangle lifted to z = 0, 1 and -1.
    const std::tuple<float, float, bool> cases[] = {
        {0, 1, true}, {1, 0.57735026f, true}, {-1, 0.57735026f, false}};
    for (const auto& [lift, crease, convex] : cases) {
        Mesh mesh("", nullptr);
        test::Build(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, lift}}, {0, 1, 2, 2, 1, 3});
        mesh.BuildEdges();
        const MeshEdge& e = mesh.GetEdges()[1];
        EXPECT_EQ(std::vector<uint32_t>({e.start, e.end, e.firstTriangle, e.secondTriangle,
                                         e.firstStartCorner, e.firstEndCorner, e.secondStartCorner,
                                         e.secondEndCorner}),
                  std::vector<uint32_t>({1, 2, 0, 1, 1, 2, 1, 0}));
        EXPECT_FLOAT_EQ(e.crease, crease);
        EXPECT_EQ((e.flags & EdgeConvex) != 0, convex) << lift;
        EXPECT_FLOAT_EQ(mesh.GetEdges()[0].crease, -1.0f);
    }
}

TEST_F(MeshTest, MovingAVertexUnweldsIt) {
    Mesh mesh("", nullptr);
    test::Build(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0}},
                {0, 1, 2, 3, 4, 5});
    mesh.BuildEdges();
    EXPECT_EQ(Topology(mesh), "4 5 1 open");
    mesh.SetPoint(4, {2, 0, 0});
    EXPECT_EQ(mesh.GetStateFlags() & (Mesh::EdgesValid | Mesh::WeldMapValid), 0u);
    mesh.BuildEdges();
    EXPECT_EQ(Topology(mesh), "5 6 0 open");
}

TEST_F(MeshTest, CoplanarNeighboursMergeIntoOneOutlinedFace) {
    Mesh quad("", nullptr);
    test::Build(quad, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {0, 1, 2, 0, 2, 3});
    quad.SetTriangleFlags(0, 5);
    quad.BuildFaces(0.9999f);
    ASSERT_EQ(quad.GetFaces().size(), 1u);
    EXPECT_EQ(quad.GetFaces()[0].outline, (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(quad.GetFaces()[0].flags, 5u);
    quad.SetNormal(0, {0, 0, 1});
    EXPECT_EQ(quad.GetStateFlags() & (Mesh::EdgesValid | Mesh::FacesValid), 0u);
}

// The face pass with a plain in-order search of the outline, as it reads: what the indexed
// outline must give.
std::vector<std::vector<uint32_t>> SearchedOutlines(const Mesh& mesh) {
    const uint32_t count = mesh.GetTriangleCount();
    std::vector<std::array<uint32_t, 3>> neighbours(count);
    for (uint32_t t = 0; t < count; ++t) {
        neighbours[t] = {t, t, t};
    }
    for (const MeshEdge& e : mesh.GetEdges()) {
        if (e.secondTriangle != MeshEdge::NoTriangle && e.crease > 0.9999f) {
            neighbours[e.firstTriangle][e.firstStartCorner] = e.secondTriangle;
            neighbours[e.secondTriangle][e.secondEndCorner] = e.firstTriangle;
        }
    }
    std::vector<bool> visited(count);
    std::vector<std::vector<uint32_t>> outlines;
    for (uint32_t s = 0; s < count; ++s) {
        if (visited[s]) {
            continue;
        }
        visited[s] = true;
        std::vector<uint32_t> stack{s};
        const Int3 first = mesh.GetTriangle(s);
        std::vector<uint32_t> outline{uint32_t(first.x), uint32_t(first.y), uint32_t(first.z),
                                      uint32_t(first.x)};
        while (!stack.empty()) {
            const uint32_t u = stack.back();
            stack.pop_back();
            for (uint32_t n : neighbours[u]) {
                if (visited[n]) {
                    continue;
                }
                const Int3 c = mesh.GetTriangle(n);
                const int x[3] = {c.x, c.y, c.z};
                for (size_t p = 0; p + 1 < outline.size(); ++p) {
                    int k = -1;
                    for (int j = 0; j < 3; ++j) {
                        k = int(outline[p]) == x[j] ? j : k;
                    }
                    if (k >= 0 && int(outline[p + 1]) == x[(k + 2) % 3]) {
                        outline.insert(outline.begin() + long(p) + 1, uint32_t(x[(k + 1) % 3]));
                        break;
                    }
                }
                visited[n] = true;
                stack.push_back(n);
            }
        }
        outline.pop_back();
        RemoveOutlineSpikes(outline);
        outlines.push_back(outline);
    }
    return outlines;
}

TEST_F(MeshTest, FacesAreTheOnesAnInOrderSearchFinds) {
    uint32_t state = 99;
    const auto random = [&state](uint32_t range) {
        state = state * 1103515245u + 12345u;
        return int((state >> 8) % range);
    };
    // A flat grid grows one long, spiky outline; random triangles over a few points of a plane,
    // repeated and degenerate ones among them, pinch outlines.
    for (int shape = 0; shape < 2; ++shape) {
        Points points;
        std::vector<int> indices;
        for (int y = 0; y < 14; ++y) {
            for (int x = 0; x < 14; ++x) {
                points.push_back({float(x), float(y), 0});
                const int a = y * 14 + x;
                if (shape == 1) {
                    indices.insert(indices.end(), {random(16), random(16), random(16)});
                } else if (x < 13 && y < 13) {
                    indices.insert(indices.end(), {a, a + 1, a + 14, a + 1, a + 15, a + 14});
                }
            }
        }
        Mesh mesh("", nullptr);
        test::Build(mesh, points, indices);
        mesh.BuildFaces(0.9999f);
        std::vector<std::vector<uint32_t>> outlines;
        for (const MeshFace& face : mesh.GetFaces()) {
            outlines.push_back(face.outline);
        }
        EXPECT_EQ(outlines, SearchedOutlines(mesh)) << "shape " << shape;
    }
}

TEST_F(MeshTest, SpikesLeaveTheirOutlineWhileThreeEntriesRemain) {
    const std::pair<std::vector<uint32_t>, std::vector<uint32_t>> cases[] = {
        {{5, 7, 5, 9}, {5, 9}},
        {{1, 5, 7, 5}, {1, 5}}, // two entries are never compared with themselves
        {{4, 1, 5, 1, 6}, {4, 1, 6}},
        {{1, 2, 3, 4, 2}, {2, 3, 4}}, // the last entry's spike wraps to the first
        {{9, 2, 3}, {9, 2, 3}},
    };
    for (auto [outline, cleaned] : cases) {
        RemoveOutlineSpikes(outline);
        EXPECT_EQ(outline, cleaned);
    }
}

} // namespace
} // namespace quarn
