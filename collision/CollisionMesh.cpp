#include "collision/CollisionMesh.h"

#include "collision/FaceRoutines.h"
#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "core/os/EngineWork.h"
#include "resources/DynamicMesh.h"
#include "resources/Mesh.h"

#include <algorithm>
#include <cmath>

namespace quarn {

ClassInfo* CollisionMesh::classInfo = nullptr;

namespace {

constexpr float FaceThreshold = 0.9999f;
constexpr float SupportFaceLimit = 0.5f;
constexpr float FarOutside = -3.4028235e38f;

// Two face records used in turn, each with vertex room grown to the largest face met.
struct MeshFaceRecord {
    SupportFace face;
    std::vector<Float3> vertices;
};
MeshFaceRecord meshFaceRecords[2];
int nextMeshFaceRecord = 0;

} // namespace

CollisionMesh::CollisionMesh() : CollisionVolume(COLLISION_MESH) {
    SetRenderFlag(RenderZBias, true);
    SetRenderType(RenderNonSolid);
    const float identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    SetMassProperties(GetMass(), identity);
    RefreshDerivedFlags();
}

CollisionMesh::~CollisionMesh() {
    if (mesh_) {
        mesh_->Release();
    }
}

const char* CollisionMesh::GetMeshName() const {
    return RelativePathOf(mesh_);
}

PathString CollisionMesh::GetDescription() const {
    return PathString(RelativePathOf(mesh_));
}

void CollisionMesh::PrepareFaces() {
    if (!(mesh_->GetStateFlags() & Mesh::FacesValid)) {
        mesh_->BuildFaces(FaceThreshold);
    }
}

bool CollisionMesh::HasVertices() const {
    return mesh_ && mesh_->GetVertexCount() > 0;
}

void CollisionMesh::SetMesh(const char* name) {
    Mesh* acquired = name && *name ? quarn::GetMesh(name, "_collision") : nullptr;
    if (!ReplaceHeldResource(mesh_, acquired)) {
        return;
    }
    vertexCentroid_ = Float3();
    boundingRadius_ = 0.0f;
    if (mesh_) {
        PrepareFaces();
        if (!mesh_->IsConvex()) {
            LogChannelMessage("resource", "Mesh \"%s\" used for collision is not convex!",
                              RelativePathOf(mesh_));
        }
        const uint32_t count = mesh_->GetVertexCount();
        Float3 sum;
        for (uint32_t i = 0; i < count; ++i) {
            sum = sum + mesh_->GetPoint(i);
        }
        if (count > 0) {
            vertexCentroid_ = sum / static_cast<float>(count);
        }
        float largest = 0.0f;
        for (uint32_t i = 0; i < count; ++i) {
            largest = std::max(largest, (mesh_->GetPoint(i) - vertexCentroid_).LengthSquared());
        }
        boundingRadius_ = std::sqrt(largest);
    }
    SetRenderFlag(RenderLocalBoxValid, false);
    SetRenderFlag(RenderWorldBoxValid, false);
    UpdateMassProperties();
    SendSignal("propertychange", static_cast<Entity*>(this), true);
}

void CollisionMesh::SetSubmeshFlags(uint32_t flags) {
    SetRenderFlag(RenderStateValid, false);
    submeshFlags_ = flags;
}

void CollisionMesh::OnMeshResourceChanged(void* resource) {
    if (mesh_ && resource == static_cast<Resource*>(mesh_)) {
        PrepareFaces();
    }
}

bool CollisionMesh::IntersectRay(const Float3& origin, const Float3& direction,
                                 PickQuery& query) {
    if (!mesh_ || !AnswersPick(query)) {
        return false;
    }
    const Float3 d = direction.NormalizedOrSelf();
    const Float3 w = LocalToWorld(vertexCentroid_) - origin;
    const float s = d.Dot(w);
    const float r2 = boundingRadius_ * boundingRadius_;
    if (s < -boundingRadius_ || (w - d * s).LengthSquared() > r2) {
        return false;
    }
    Float3 normal;
    uint32_t triangle = 0;
    float distance = mesh_->IntersectRay(WorldToLocal(origin), WorldToLocalDirection(d),
                                         &normal, &triangle);
    if ((triangle & Mesh::BackSideHit) && !TestRenderFlags(RenderDoubleSided) &&
        w.LengthSquared() < r2) {
        distance = 0.0f;
    }
    if (query.flags & PickNormal) {
        query.current.data = LocalToWorldDirection(normal);
    }
    query.current.distance = distance;
    return true;
}

void CollisionMesh::UpdateBoundingBox() {
    if (!HasVertices()) {
        return;
    }
    Aabb box{mesh_->GetPoint(0), mesh_->GetPoint(0)};
    for (uint32_t i = 1, count = mesh_->GetVertexCount(); i < count; ++i) {
        box.AddPoint(mesh_->GetPoint(i));
    }
    localBox_ = box;
}

void CollisionMesh::UpdateWorldBoundingBox() {
    if (!HasVertices()) {
        return;
    }
    const Float3 first = LocalToWorld(mesh_->GetPoint(0));
    Aabb box{first, first};
    for (uint32_t i = 1, count = mesh_->GetVertexCount(); i < count; ++i) {
        box.AddPoint(LocalToWorld(mesh_->GetPoint(i)));
    }
    worldBox_ = box;
}

Float3 CollisionMesh::GetWorldCenter() {
    return LocalToWorld(localCentre_);
}

// A script's test against a mesh volume passes its vertices, triangles or faces at every query
// the collision makes: each charged as a ray's triangle is.
uint32_t CollisionMesh::LocalSupportVertex(const Float3& local) const {
    ChargeElementsPassed(mesh_->GetVertexCount());
    uint32_t best = 0;
    float bestValue = mesh_->GetPoint(0).Dot(local);
    for (uint32_t i = 1, count = mesh_->GetVertexCount(); i < count; ++i) {
        const float value = mesh_->GetPoint(i).Dot(local);
        if (value > bestValue) {
            bestValue = value;
            best = i;
        }
    }
    return best;
}

Float3 CollisionMesh::GetSupportPoint(Float3 direction) {
    if (!HasVertices()) {
        return Float3();
    }
    return LocalToWorld(mesh_->GetPoint(LocalSupportVertex(WorldToLocalDirection(direction))));
}

float CollisionMesh::GetSupportDistance(Float3 direction) {
    if (!HasVertices()) {
        return 0.0f;
    }
    const Float3 local = WorldToLocalDirection(direction);
    return mesh_->GetPoint(LocalSupportVertex(local)).Dot(local) +
           GetWorldPosition().Dot(direction);
}

float CollisionMesh::GetPointDepth(Float3 point, Float3* normal) {
    if (!mesh_ || mesh_->GetTriangleCount() == 0) {
        return FarOutside;
    }
    const Float3 p = WorldToLocal(point);
    float largest = FarOutside;
    Float3 largestNormal;
    ChargeElementsPassed(mesh_->GetTriangleCount());
    for (uint32_t t = 0, count = mesh_->GetTriangleCount(); t < count; ++t) {
        const Float3 n = mesh_->GetTriangleNormal(t);
        const float s = n.Dot(p - mesh_->GetPoint(static_cast<uint32_t>(mesh_->GetTriangle(t).x)));
        if (s > largest) {
            largest = s;
            largestNormal = n;
        }
    }
    if (normal) {
        *normal = LocalToWorldDirection(largestNormal);
    }
    return -largest;
}

const SupportFace* CollisionMesh::GetSupportFace(Float3 direction) {
    if (!mesh_) {
        return nullptr;
    }
    const Float3 local = WorldToLocalDirection(direction);
    const std::vector<MeshFace>& faces = mesh_->GetFaces();
    ChargeElementsPassed(faces.size());
    const MeshFace* best = nullptr;
    float bestValue = -1.0f;
    for (const MeshFace& face : faces) {
        const float value = face.normal.Dot(local);
        if ((submeshFlags_ >> (face.flags & 31) & 1) && value > bestValue) {
            bestValue = value;
            best = &face;
        }
    }
    if (!best || bestValue <= SupportFaceLimit) {
        return nullptr;
    }
    MeshFaceRecord& record = meshFaceRecords[nextMeshFaceRecord];
    nextMeshFaceRecord ^= 1;
    record.vertices.clear();
    for (uint32_t index : best->outline) {
        record.vertices.push_back(LocalToWorld(mesh_->GetPoint(index)));
    }
    record.face = SupportFace();
    record.face.kind = SupportFace::Polygon;
    record.face.normal = LocalToWorldDirection(best->normal);
    record.face.count = static_cast<int32_t>(record.vertices.size());
    record.face.external = record.vertices.data();
    record.face.winding = 0;
    return &record.face;
}

int CollisionMesh::GetFaceCount() {
    return mesh_ ? static_cast<int>(mesh_->GetFaces().size()) : 0;
}

Float3 CollisionMesh::GetFaceNormal(int index) {
    if (index < 0 || index >= GetFaceCount()) {
        return Float3();
    }
    return LocalToWorldDirection(mesh_->GetFaces()[static_cast<size_t>(index)].normal);
}

void CollisionMesh::DrawShape() {
    if (!mesh_) {
        return;
    }
    const uint32_t color = GetColorArgb(Float3(), 0);
    SetRenderWorldMatrix(GetWorldMatrix());
    if (TestRenderFlags(RenderWireframe)) {
        DynamicMesh& lines = GetDebugLineMesh();
        for (const MeshFace& face : mesh_->GetFaces()) {
            const size_t count = face.outline.size();
            for (size_t i = 0; i < count; ++i) {
                lines.AddLine(mesh_->GetPoint(face.outline[i == 0 ? count - 1 : i - 1]),
                              mesh_->GetPoint(face.outline[i]), color | 0xFF000000u);
            }
        }
        DrawDebugLines();
    }
    if (TestRenderFlags(RenderGeometry)) {
        DynamicMesh& triangles = GetDebugTriangleMesh();
        const uint32_t faded = (color & 0x00FFFFFFu) | (((color >> 24) / 2) << 24);
        for (uint32_t t = 0, count = mesh_->GetTriangleCount(); t < count; ++t) {
            const Int3 corners = mesh_->GetTriangle(t);
            const bool enabled = submeshFlags_ >> (mesh_->GetTriangleFlags(t) & 31) & 1;
            triangles.AddTriangle(mesh_->GetPoint(static_cast<uint32_t>(corners.x)),
                                  mesh_->GetPoint(static_cast<uint32_t>(corners.y)),
                                  mesh_->GetPoint(static_cast<uint32_t>(corners.z)),
                                  enabled ? color : faded);
        }
        DrawDebugTriangles();
    }
}

bool CollisionMesh::IsSurfaceClosed() const {
    const uint32_t count = mesh_->GetVertexCount();
    if (count > MaxClosedVertices) {
        return false;
    }
    if (!(mesh_->GetStateFlags() & Mesh::WeldMapValid)) {
        mesh_->BuildWeldMap();
    }
    const std::vector<uint32_t>& weld = mesh_->GetWeldMap();
    if (weld.size() < count) {
        return false;
    }
    uint32_t number[MaxClosedVertices];
    uint32_t representatives = 0;
    for (uint32_t v = 0; v < count; ++v) {
        if (weld[v] == v) {
            if (representatives == MaxClosedRepresentatives) {
                return false;
            }
            number[v] = representatives++;
        }
    }
    // Every edge used an even number of times toggles each end's bit back to 0.
    uint32_t masks[MaxClosedRepresentatives] = {};
    for (uint32_t t = 0, triangles = mesh_->GetTriangleCount(); t < triangles; ++t) {
        const Int3 corners = mesh_->GetTriangle(t);
        uint32_t n[3];
        for (int i = 0; i < 3; ++i) {
            const uint32_t v = static_cast<uint32_t>((&corners.x)[i]);
            if (v >= count || weld[v] >= count || weld[weld[v]] != weld[v]) {
                return false;
            }
            n[i] = number[weld[v]];
        }
        for (int i = 0; i < 3; ++i) {
            const uint32_t a = n[i];
            const uint32_t b = n[(i + 1) % 3];
            masks[a] ^= 1u << b;
            masks[b] ^= 1u << a;
        }
    }
    return std::all_of(std::begin(masks), std::end(masks), [](uint32_t m) { return m == 0; });
}

void CollisionMesh::UpdateMassProperties() {
    const float rho = GetDensity();
    double c[3][3] = {};
    double volume = 0.0;
    localCentre_ = Float3();
    closed_ = HasVertices() && IsSurfaceClosed();
    if (closed_) {
        double centre[3] = {};
        double second[3][3] = {};
        for (uint32_t t = 0, count = mesh_->GetTriangleCount(); t < count; ++t) {
            const Int3 corners = mesh_->GetTriangle(t);
            const Float3 p[3] = {mesh_->GetPoint(static_cast<uint32_t>(corners.x)),
                                 mesh_->GetPoint(static_cast<uint32_t>(corners.y)),
                                 mesh_->GetPoint(static_cast<uint32_t>(corners.z))};
            const double triple = p[0].Dot(p[1].Cross(p[2]));
            volume += triple / 6.0;
            const Float3 sum = p[0] + p[1] + p[2];
            const float s[3] = {sum.x, sum.y, sum.z};
            for (int i = 0; i < 3; ++i) {
                centre[i] += triple / 6.0 * s[i] / 4.0;
            }
            // The tetrahedron with the origin: integral of x x^T is triple / 120 times the sum
            // of its corners' outer products plus the outer product of their sum.
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) {
                    double outer = s[i] * s[j];
                    for (const Float3& q : p) {
                        const float qv[3] = {q.x, q.y, q.z};
                        outer += static_cast<double>(qv[i]) * qv[j];
                    }
                    second[i][j] += triple / 120.0 * outer;
                }
            }
        }
        // Outward faces wind clockwise, which makes every triple product negative; either
        // winding gives the same positive figures.
        const double orientation = volume < 0.0 ? -1.0 : 1.0;
        volume *= orientation;
        double m[3] = {};
        for (int i = 0; i < 3; ++i) {
            if (volume != 0.0) {
                m[i] = centre[i] * orientation / volume;
            }
            for (double& value : second[i]) {
                value *= orientation;
            }
        }
        localCentre_ = Float3(static_cast<float>(m[0]), static_cast<float>(m[1]),
                              static_cast<float>(m[2]));
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                c[i][j] = (second[i][j] - volume * m[i] * m[j]) * rho;
            }
        }
    } else if (HasVertices()) {
        Float3 low = mesh_->GetPoint(0);
        Float3 high = low;
        for (uint32_t i = 1, count = mesh_->GetVertexCount(); i < count; ++i) {
            const Float3 p = mesh_->GetPoint(i);
            low = Float3(std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z));
            high = Float3(std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z));
        }
        const Float3 extent = high - low;
        volume = static_cast<double>(extent.x) * extent.y * extent.z;
        localCentre_ = (low + high) * 0.5f;
        const double mass = rho * volume;
        c[0][0] = extent.x * extent.x * mass / 12.0;
        c[1][1] = extent.y * extent.y * mass / 12.0;
        c[2][2] = extent.z * extent.z * mass / 12.0;
    }
    const float tensor[3][3] = {
        {static_cast<float>(c[1][1] + c[2][2]), static_cast<float>(-c[0][1]),
         static_cast<float>(-c[0][2])},
        {static_cast<float>(-c[1][0]), static_cast<float>(c[0][0] + c[2][2]),
         static_cast<float>(-c[1][2])},
        {static_cast<float>(-c[2][0]), static_cast<float>(-c[2][1]),
         static_cast<float>(c[0][0] + c[1][1])},
    };
    SetMassProperties(static_cast<float>(rho * volume), tensor);
    TouchBodyInertia();
}

ClassInfo* CollisionMesh::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = CollisionVolume::RegisterClass();
    classInfo = new ClassInfo(
        "CollisionMesh", []() -> Entity* { return new CollisionMesh(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Collision");
    classInfo->AddResourceProperty<&CollisionMesh::GetMeshName, &CollisionMesh::SetMesh>(
        "mesh:mesh", &Mesh::GetLoadableExtensions);
    classInfo->AddProperty<PropertyInt, &CollisionMesh::GetSubmeshFlags,
                           &CollisionMesh::SetSubmeshFlags>("submeshflags:binary");
    MethodInfo* resourceChanged = classInfo->AddMethod(
        NextShortName(), "", BindSignalHandler<&CollisionMesh::OnMeshResourceChanged>(),
        MethodClassSignal);
    RegisterClassSignal("resourcechanged", resourceChanged);
    return classInfo;
}

} // namespace quarn
