#pragma once

#include "core/math/Vector.h"
#include "resources/Resource.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

class ClassInfo;
class IndexBuffer;
class VertexBuffer;

// Bit 0 of an edge's flags: the edge is convex, or lies between two flagged triangles.
inline constexpr uint32_t EdgeConvex = 0x1;

// One edge between welded vertices, with the triangle that created it and the one that walked
// it the other way. Corners are 0..2 within their triangle.
struct MeshEdge {
    static constexpr uint32_t NoTriangle = 0xFFFFFFFF;

    uint32_t start = 0;
    uint32_t end = 0;
    uint32_t firstTriangle = 0;
    uint32_t secondTriangle = NoTriangle;
    uint8_t firstStartCorner = 0;
    uint8_t firstEndCorner = 0;
    uint8_t secondStartCorner = 0;
    uint8_t secondEndCorner = 0;
    // Cosine of the angle between the two face normals; -1 while the edge is one-sided.
    float crease = -1.0f;
    uint32_t flags = 0;
};

// Connected, nearly coplanar triangles as one polygon: the outline holds vertex indices in
// order, the first not repeated at the end.
struct MeshFace {
    std::vector<uint32_t> outline;
    Float3 normal;    // the face normal of its first triangle
    uint32_t flags{}; // the flags word of its first triangle
};

// The readers' test of channel-0 texture coordinates against [0, 1]; a NaN is outside neither
// way.
struct UvRangeTest {
    bool uOutside = false;
    bool vOutside = false;

    void Add(const Float2& uv) {
        uOutside = uOutside || uv.x < 0.0f || uv.x > 1.0f;
        vOutside = vOutside || uv.y < 0.0f || uv.y > 1.0f;
    }
};

// "Invalid triangle entry" is reported once per calling site and run: each site passes a flag
// of its own.
void ReportInvalidTriangleEntry(bool& reported, uint32_t triangle);

// Drops the back-and-forth steps v, x, v of a closed outline, leaving v, while at least three
// entries remain.
void RemoveOutlineSpikes(std::vector<uint32_t>& outline);

struct MeshTriangle {
    Float3 normal;
    uint32_t flags = 0;
};

// One triangle mesh: vertex and index data of the render device (indices are 16 bits wide, so
// a mesh addresses at most 65536 vertices), a face normal and flags word per triangle, group
// names, bounding volumes, and the weld map, edges and faces its users build on demand. It
// loads ".mesh" and ".obj" files, saves ".mesh", and scripts may build or edit it vertex by
// vertex. Every finished change is announced with the signal "resourcechanged".
class Mesh : public Resource {
public:
    // State flags.
    static constexpr uint32_t FaceNormalsValid = 0x1;
    static constexpr uint32_t WeldMapValid = 0x2;
    static constexpr uint32_t Changed = 0x4;
    static constexpr uint32_t Closed = 0x8;
    static constexpr uint32_t SphereValid = 0x10;
    static constexpr uint32_t BoxValid = 0x20;
    static constexpr uint32_t EdgesValid = 0x40;
    static constexpr uint32_t FacesValid = 0x80;
    static constexpr uint32_t UvOutsideUnitRange = 0x100;

    // Set in IntersectRay's triangle number when the ray met the triangle's back.
    static constexpr uint32_t BackSideHit = 0x10000000;
    static constexpr uint32_t MaxVertices = 65536;
    // The largest vertex or index buffer Create makes, so a script's or file's count cannot
    // take the memory.
    static constexpr uint64_t MaxBufferBytes = 256ull << 20;

    // Loads at once when the path is not empty.
    Mesh(const char* path, const char* options);
    ~Mesh() override;

    // The class registry's factory: an unnamed, empty mesh.
    static Entity* Create();
    ClassInfo* GetClass() const override { return classInfo ? classInfo : Resource::GetClass(); }

    // Empties the mesh and runs the reader the extension picks. False when the file is
    // missing, its format unknown, or the reader refused it.
    bool LoadFromFile(const char* path) override;
    bool Load() override { return LoadFromFile(GetFullPath()); }
    // The placeholder: a tetrahedron with coloured corners.
    void Unload() override;
    // Writes the ".mesh" text form.
    void SaveToFile(const char* path) override;
    uint32_t GetDataSize() const override;

    // Sizes the vertex and index data anew (format 0 keeps the present format). A negative
    // count or a buffer over MaxBufferBytes is logged and changes nothing (false).
    bool Create(int32_t vertexCount, int32_t triangleCount, uint32_t format);

    uint32_t GetVertexCount() const;
    uint32_t GetTriangleCount() const;
    uint32_t GetVertexFormat() const;

    // Checked accessors: an index out of range is reported and the default value returned.
    void SetPoint(uint32_t vertex, const Float3& point);
    Float3 GetPoint(uint32_t vertex) const;
    void SetNormal(uint32_t vertex, const Float3& normal);
    Float3 GetNormal(uint32_t vertex) const;
    void SetUv(uint32_t vertex, const Float2& uv);
    Float2 GetUv(uint32_t vertex) const;
    void SetColor(uint32_t vertex, uint32_t argb);
    void SetTriangle(uint32_t triangle, int32_t a, int32_t b, int32_t c);
    Int3 GetTriangle(uint32_t triangle) const;
    Float3 GetTriangleNormal(uint32_t triangle) const;
    uint32_t GetTriangleFlags(uint32_t triangle) const;
    // Records no change: flags do not alter the geometry.
    void SetTriangleFlags(uint32_t triangle, uint32_t flags);
    uint32_t GetGroupCount() const { return static_cast<uint32_t>(groupNames_.size()); }
    // "" beyond the count.
    const char* GetGroupName(uint32_t group) const;
    void ClearGroupNames() { groupNames_.clear(); }
    void AddGroupName(std::string name) { groupNames_.push_back(std::move(name)); }

    // Distance to the nearest triangle the ray meets at t >= 0 (in units of direction), or
    // NoHit. normal and triangle (either may be null) receive the hit triangle's face normal
    // and number, BackSideHit set when the ray met its back.
    float IntersectRay(const Float3& origin, const Float3& direction, Float3* normal,
                       uint32_t* triangle) const;
    // No vertex lies more than 0.0001 in front of the plane of a triangle whose flags are 0.
    bool IsConvex() const;
    void UpdateBoundingSphere();
    void UpdateBoundingBox();
    void ComputeFaceNormals();
    // False, with a report, at the first index outside the vertices.
    bool ValidateTriangles() const;
    // Finishes a change when the triangles are valid.
    void Commit();
    // Reorders the triangles by ascending flags (stable) and gives the index data one group
    // per flags value below 32; a value that does not occur is an empty group.
    void GroupTrianglesByFlags();
    // The vertex data's texture range flags (set where no coordinate was outside) and
    // UvOutsideUnitRange, from what a reader saw.
    void SetUvRange(const UvRangeTest& range);

    // Every setter calls this: derived topology is stale.
    void RecordChange() { stateFlags_ = (stateFlags_ | Changed) & ~(EdgesValid | FacesValid); }
    // Face normals, sphere and box, then "resourcechanged".
    void FinishChange();

    // Topology, built by its users on demand.
    void BuildWeldMap();
    void BuildEdges();
    void BuildFaces(float threshold);
    const std::vector<uint32_t>& GetWeldMap() const { return weldMap_; }
    uint32_t GetUniquePositionCount() const { return uniquePositionCount_; }
    const std::vector<MeshEdge>& GetEdges() const { return edges_; }
    bool AreEdgesClosed() const { return edgesClosed_; }
    const std::vector<MeshFace>& GetFaces() const { return faces_; }

    uint32_t GetStateFlags() const { return stateFlags_; }
    // The file of the last load ended before its counts were read: the rest read as zeros.
    bool FileEndedEarly() const { return fileEndedEarly_; }
    void SetFileEndedEarly(bool ended) { fileEndedEarly_ = ended; }
    uint32_t GetBlendWeightCount() const { return blendWeightCount_; }
    const Float3& GetSphereCentre() const { return sphereCentre_; }
    float GetSphereRadius() const { return sphereRadius_; }
    const Float3& GetBoxMin() const { return boxMin_; }
    const Float3& GetBoxMax() const { return boxMax_; }
    const MeshTriangle* GetTriangleRecords() const { return triangles_.data(); }
    VertexBuffer* GetVertexData() const { return vertices_.get(); }
    IndexBuffer* GetIndexData() const { return indices_.get(); }

    // The extensions of the files Load reads.
    static std::vector<std::string> GetLoadableExtensions();

    // Registers "Mesh" (base "ResourceRef") with its script methods and the vertex-format
    // constants.
    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    bool IsVertex(uint32_t vertex) const;
    // The triangle's indices straight from the index data.
    void ReadIndices(uint32_t triangle, uint32_t corners[3]) const;
    void BuildEdgeList();

    // Script methods.
    void ScriptCreate(int32_t vertices, int32_t triangles, int32_t format) {
        Create(vertices, triangles, static_cast<uint32_t>(format));
    }
    int32_t ScriptGetVertexCount() const { return static_cast<int32_t>(GetVertexCount()); }
    int32_t ScriptGetTriangleCount() const { return static_cast<int32_t>(GetTriangleCount()); }
    int32_t ScriptGetVertexFormat() const { return static_cast<int32_t>(GetVertexFormat()); }
    int32_t ScriptGetGroupCount() const { return static_cast<int32_t>(GetGroupCount()); }

    std::unique_ptr<VertexBuffer> vertices_;
    std::unique_ptr<IndexBuffer> indices_;
    uint32_t blendWeightCount_ = 0;
    uint32_t uniquePositionCount_ = 0;
    uint32_t stateFlags_ = 0;
    Float3 sphereCentre_;
    float sphereRadius_ = 0.0f;
    Float3 boxMin_;
    Float3 boxMax_;
    std::vector<uint32_t> weldMap_;
    std::vector<MeshTriangle> triangles_;
    std::vector<std::string> groupNames_;
    std::vector<MeshEdge> edges_;
    bool edgesClosed_ = true;
    std::vector<MeshFace> faces_;
    bool fileEndedEarly_ = false;
};

// Acquires a mesh by path and options (see AcquireResource).
Mesh* GetMesh(const char* path, const char* options);

} // namespace quarn
