#pragma once

// Collision meshes built point by point on the software render device, beside the hand-placed
// shapes and the seeded placements.

#include "collision/CollisionMesh.h"
#include "tests/collision/CollisionTestSupport.h"
#include "tests/resources/MeshTestSupport.h"

#include <string>
#include <utility>
#include <vector>

namespace quarn::test {

class CollisionMeshTest : public MeshTest, protected CollisionShapes, protected SeededPlacements {
protected:
    void SetUp() override {
        MeshTest::SetUp();
        RegisterCollisionTestClasses();
    }
    // Triangles given counter-clockwise seen from outside; the mesh gets them clockwise, as
    // its outward faces wind.
    CollisionMesh* Built(const std::string& name, const std::vector<Float3>& points,
                         std::vector<int> indices, Float3 at = Float3(),
                         Quaternion turn = Quaternion()) {
        for (size_t i = 0; i + 2 < indices.size(); i += 3) {
            std::swap(indices[i + 1], indices[i + 2]);
        }
        Mesh* mesh = GetMesh(name.c_str(), "_collision");
        Build(*mesh, points, indices);
        auto* volume = tree_.Make<CollisionMesh>("mesh");
        volume->SetPosition(at);
        volume->SetOrientation(turn);
        volume->SetMesh(name.c_str());
        mesh->Release();
        return volume;
    }
    static std::vector<Float3> CubePoints(float half) {
        std::vector<Float3> points;
        for (int i = 0; i < 8; ++i) {
            points.emplace_back(i & 1 ? half : -half, i & 2 ? half : -half, i & 4 ? half : -half);
        }
        return points;
    }
    static std::vector<int> CubeIndices() {
        return {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4,
                2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7, 5};
    }
    CollisionMesh* Cube(const std::string& name, float half, Float3 at = Float3(),
                        Quaternion turn = Quaternion()) {
        return Built(name, CubePoints(half), CubeIndices(), at, turn);
    }
    // A closed prism about Y of `sides` sides, its corners at `radius`.
    CollisionMesh* Prism(const std::string& name, int sides, float radius, float low, float high) {
        std::vector<Float3> points;
        for (int i = 0; i < sides; ++i) {
            const float angle = 6.2831853f * static_cast<float>(i) / static_cast<float>(sides);
            points.emplace_back(radius * std::cos(angle), low, radius * std::sin(angle));
            points.emplace_back(radius * std::cos(angle), high, radius * std::sin(angle));
        }
        std::vector<int> indices;
        for (int i = 0; i < sides; ++i) {
            const int j = (i + 1) % sides;
            indices.insert(indices.end(), {2 * i, 2 * i + 1, 2 * j, 2 * j, 2 * i + 1, 2 * j + 1});
            if (i > 0 && i < sides - 1) {
                indices.insert(indices.end(), {0, 2 * i, 2 * j, 1, 2 * j + 1, 2 * i + 1});
            }
        }
        return Built(name, points, indices);
    }
    // A volume of its own holding a mesh another volume loaded.
    CollisionMesh* Holding(const CollisionMesh& shape, Float3 at, Quaternion turn) {
        auto* mesh = tree_.Make<CollisionMesh>("mesh");
        mesh->SetPosition(at);
        mesh->SetOrientation(turn);
        mesh->SetMesh(shape.GetMeshName());
        return mesh;
    }
};

} // namespace quarn::test
