#pragma once

#include "collision/CollisionVolume.h"

#include <vector>

namespace quarn {

class Mesh;

// A convex polyhedron from a mesh resource, loaded with the option "_collision". Every pair it
// is in takes the general convex route: the mesh's face list gives the support faces and the
// candidate directions.
class CollisionMesh : public CollisionVolume {
public:
    // A closed surface of at most this many vertices and weld representatives gets its exact
    // mass properties; anything else its bounding box's.
    static constexpr uint32_t MaxClosedVertices = 96;
    static constexpr uint32_t MaxClosedRepresentatives = 32;

    CollisionMesh();
    ~CollisionMesh() override;

    const char* GetMeshName() const;
    // Logs a warning for a mesh that is not convex, and keeps it.
    void SetMesh(const char* name);
    Mesh* GetMesh() const { return mesh_; }
    uint32_t GetSubmeshFlags() const { return submeshFlags_; }
    void SetSubmeshFlags(uint32_t flags);
    // Mass, centre and inertia came from the closed surface rather than the box.
    bool IsClosedSurface() const { return closed_; }

    PathString GetDescription() const override;
    // Passes the bounding sphere, then the mesh's own pick; a back face from inside the sphere
    // of a one-sided mesh is distance 0.
    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override;
    void UpdateBoundingBox() override;
    void UpdateWorldBoundingBox() override;
    ClassInfo* GetClass() const override { return classInfo; }
    Float3 GetWorldCenter() override;
    float GetRadius() override { return boundingRadius_; }
    Float3 GetSupportPoint(Float3 direction) override;
    float GetSupportDistance(Float3 direction) override;
    float GetPointDepth(Float3 point, Float3* normal) override;
    // The enabled face nearest the direction, none beyond 60 degrees.
    const SupportFace* GetSupportFace(Float3 direction) override;
    int GetFaceCount() override;
    Float3 GetFaceNormal(int index) override;
    void DrawShape() override;
    void UpdateMassProperties() override;

    void OnMeshResourceChanged(void* resource);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    void PrepareFaces();
    bool HasVertices() const;
    bool IsSurfaceClosed() const;
    uint32_t LocalSupportVertex(const Float3& localDirection) const;

    Mesh* mesh_ = nullptr;
    uint32_t submeshFlags_ = 1;
    Float3 localCentre_;
    Float3 vertexCentroid_;
    float boundingRadius_ = 0.0f;
    bool closed_ = false;
};

} // namespace quarn
