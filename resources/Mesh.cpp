#include "resources/Mesh.h"

#include "core/debug/Log.h"
#include "core/debug/Validity.h"
#include "core/filesystem/FileSystem.h"
#include "core/math/Intersection.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/Signals.h"
#include "core/object/ValueBinding.h"
#include "core/os/EngineWork.h"
#include "core/string/Text.h"
#include "device/IndexBuffer.h"
#include "device/RenderDevice.h"
#include "device/VertexBuffer.h"
#include "resources/MeshText.h"
#include "resources/ObjReader.h"
#include "resources/ResourceRegistry.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace quarn {

ClassInfo* Mesh::classInfo = nullptr;

namespace {

constexpr float FloatMax = 3.4028235e38f;

} // namespace

void ReportInvalidTriangleEntry(bool& reported, uint32_t triangle) {
    if (!reported) {
        reported = true;
        ValidityReport("Invalid triangle entry %d", static_cast<int>(triangle));
    }
}

Mesh::Mesh(const char* path, const char* options) : Resource(path, options) {
    if (path && *path) {
        LoadFromFile(GetFullPath());
    }
}

Mesh::~Mesh() = default;

Entity* Mesh::Create() {
    return new Mesh("", nullptr);
}

std::vector<std::string> Mesh::GetLoadableExtensions() {
    return {"mesh", "obj"}; // as LoadFromFile tells them apart
}

bool Mesh::LoadFromFile(const char* path) {
    path = path ? path : "";
    fileEndedEarly_ = false;
    FileSystem* files = GetFileSystem();
    const bool found = files && files->Exists(path);
    // A tool that reads and writes scenes has no device to hold mesh data: the mesh keeps its
    // name for the save, and only a missing file is worth a word.
    if (!TheRenderDevice()) {
        if (!found) {
            ReportMissingResource(path);
        }
        SetState(ResourcePlaceholder);
        return false;
    }
    Create(0, 0, 0);
    SetState(ResourceLoaded);
    if (!found) {
        ReportMissingResource(path);
        RecordChange();
        SetState(ResourcePlaceholder);
        FinishChange();
        return false;
    }
    const std::string extension = GetPathExtension(path);
    try {
        if (CompareNoCase(extension.c_str(), "mesh") == 0) {
            return ReadMeshText(*this, path);
        }
        if (CompareNoCase(extension.c_str(), "obj") == 0) {
            return ReadObj(*this, path);
        }
    } catch (const std::bad_alloc&) {
        Create(0, 0, 0);
        LogMessage("Mesh '%s' is not loaded: there is not enough memory for it", path);
        return false;
    }
    LogMessage("Unknown mesh format: '%s'", path);
    return false;
}

void Mesh::Unload() {
    Create(4, 4, VertexPosition | VertexDiffuse);
    const Float3 corners[4] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const uint32_t colors[4] = {0xFFFFFF00, 0xFFFF00FF, 0xFFFFFF00, 0xFFFF00FF};
    for (uint32_t i = 0; i < 4; ++i) {
        SetPoint(i, corners[i]);
        SetColor(i, colors[i]);
    }
    SetTriangle(0, 3, 2, 1);
    SetTriangle(1, 0, 1, 2);
    SetTriangle(2, 0, 2, 3);
    SetTriangle(3, 0, 3, 1);
    SetUvRange(UvRangeTest{});
    FinishChange();
}

void Mesh::SaveToFile(const char* path) {
    if (path && !WriteMeshText(*this, path)) {
        LogMessage("Could not save mesh to '%s'", path);
    }
}

uint32_t Mesh::GetDataSize() const {
    return (vertices_ ? vertices_->GetMemorySize() : 0) +
           (indices_ ? indices_->GetMemorySize() : 0);
}

bool Mesh::Create(int32_t vertexCount, int32_t triangleCount, uint32_t format) {
    format &= 0xFFFF; // the high bits are buffer flags, which a resource's data never takes
    if (format == 0 && vertices_) {
        format = vertices_->GetFormat();
    }
    const uint64_t vertexBytes = static_cast<uint64_t>(VertexLayout::FromFormat(format).stride) *
                                 4 * static_cast<uint64_t>(std::max(vertexCount, 0));
    const uint64_t indexBytes = 6 * static_cast<uint64_t>(std::max(triangleCount, 0));
    if (vertexCount < 0 || triangleCount < 0 || vertexBytes > MaxBufferBytes ||
        indexBytes > MaxBufferBytes) {
        LogMessage("Mesh '%s' cannot hold %d vertices of format %u and %d triangles", GetFullPath(),
                   vertexCount, format, triangleCount);
        return false;
    }
    RenderDevice* device = TheRenderDevice();
    if (!vertices_ && device) {
        vertices_ = device->CreateVertexData();
    }
    if (!indices_ && device) {
        indices_ = device->CreateIndexData();
    }
    if (!vertices_ || !indices_) {
        LogMessage("Mesh '%s' cannot be created without the render device", GetFullPath());
        return false;
    }
    blendWeightCount_ = ((format & VertexWeight0) ? 1 : 0) + ((format & VertexWeight1) ? 2 : 0);
    stateFlags_ = 0;
    // The data lives in system memory either way: a device that refuses the declaration of a
    // format without components (0) cannot draw the mesh but may still hold it. Re-created data
    // starts as zeros, whatever the buffers held before.
    vertices_->Create(static_cast<uint32_t>(vertexCount), format, 0);
    vertices_->Lock(2);
    std::span<uint32_t> words = vertices_->GetVertices();
    std::fill(words.begin(), words.end(), 0u);
    vertices_->Lock(0);
    const uint32_t indexCount = 3 * static_cast<uint32_t>(triangleCount);
    indices_->Create(indexCount, IndexSystemMemory);
    indices_->Lock(2);
    for (uint32_t i = 0; i < indexCount; ++i) {
        indices_->SetIndex(i, 0);
    }
    indices_->Lock(0);
    triangles_.resize(static_cast<size_t>(triangleCount));
    RecordChange();
    return true;
}

uint32_t Mesh::GetVertexCount() const {
    return vertices_ ? vertices_->GetCount() : 0;
}

uint32_t Mesh::GetTriangleCount() const {
    return indices_ ? indices_->GetIndexCount() / 3 : 0;
}

uint32_t Mesh::GetVertexFormat() const {
    return vertices_ ? vertices_->GetFormat() : 0;
}

bool Mesh::IsVertex(uint32_t vertex) const {
    return ValidityCheck(vertex < GetVertexCount(), "Invalid vertex entry %d",
                         static_cast<int>(vertex));
}

void Mesh::SetPoint(uint32_t vertex, const Float3& point) {
    if (IsVertex(vertex)) {
        vertices_->SetPosition(vertex, point);
        RecordChange();
        // Vertices that shared a position may no longer.
        stateFlags_ &= ~WeldMapValid;
    }
}

Float3 Mesh::GetPoint(uint32_t vertex) const {
    return IsVertex(vertex) ? vertices_->GetPosition(vertex) : Float3{};
}

void Mesh::SetNormal(uint32_t vertex, const Float3& normal) {
    if (IsVertex(vertex)) {
        vertices_->SetNormal(vertex, normal);
        RecordChange();
    }
}

Float3 Mesh::GetNormal(uint32_t vertex) const {
    return IsVertex(vertex) ? vertices_->GetNormal(vertex) : Float3{};
}

void Mesh::SetUv(uint32_t vertex, const Float2& uv) {
    if (IsVertex(vertex)) {
        vertices_->SetTexCoord(vertex, 0, uv.x, uv.y);
        RecordChange();
    }
}

Float2 Mesh::GetUv(uint32_t vertex) const {
    return IsVertex(vertex) ? vertices_->GetTexCoord(vertex, 0) : Float2{};
}

void Mesh::SetColor(uint32_t vertex, uint32_t argb) {
    if (IsVertex(vertex)) {
        vertices_->SetColor(vertex, 0, argb);
        RecordChange();
    }
}

void Mesh::SetTriangle(uint32_t triangle, int32_t a, int32_t b, int32_t c) {
    if (triangle >= GetTriangleCount()) {
        static bool reported = false;
        ReportInvalidTriangleEntry(reported, triangle);
        return;
    }
    // Indices are stored in 16 bits: a larger one would name another vertex.
    const auto valid = [this](int32_t index) {
        return index >= 0 && static_cast<uint32_t>(index) < std::min(GetVertexCount(), MaxVertices);
    };
    if (!ValidityCheck(valid(a) && valid(b) && valid(c), "Invalid triangle index %d=(%d,%d,%d)",
                       static_cast<int>(triangle), a, b, c)) {
        return;
    }
    indices_->SetTriangle(triangle, static_cast<uint32_t>(a), static_cast<uint32_t>(b),
                          static_cast<uint32_t>(c));
    RecordChange();
}

void Mesh::ReadIndices(uint32_t triangle, uint32_t corners[3]) const {
    corners[0] = corners[1] = corners[2] = 0;
    if (indices_) {
        indices_->GetTriangle(triangle, corners[0], corners[1], corners[2]);
    }
}

Int3 Mesh::GetTriangle(uint32_t triangle) const {
    if (triangle >= triangles_.size()) {
        static bool reported = false;
        ReportInvalidTriangleEntry(reported, triangle);
        return {};
    }
    uint32_t corners[3];
    ReadIndices(triangle, corners);
    return {static_cast<int32_t>(corners[0]), static_cast<int32_t>(corners[1]),
            static_cast<int32_t>(corners[2])};
}

Float3 Mesh::GetTriangleNormal(uint32_t triangle) const {
    if (triangle >= triangles_.size()) {
        static bool reported = false;
        ReportInvalidTriangleEntry(reported, triangle);
        return {};
    }
    return triangles_[triangle].normal;
}

uint32_t Mesh::GetTriangleFlags(uint32_t triangle) const {
    if (triangle >= triangles_.size()) {
        static bool reported = false;
        ReportInvalidTriangleEntry(reported, triangle);
        return 0;
    }
    return triangles_[triangle].flags;
}

void Mesh::SetTriangleFlags(uint32_t triangle, uint32_t flags) {
    if (triangle >= triangles_.size()) {
        static bool reported = false;
        ReportInvalidTriangleEntry(reported, triangle);
        return;
    }
    triangles_[triangle].flags = flags;
}

const char* Mesh::GetGroupName(uint32_t group) const {
    return group < groupNames_.size() ? groupNames_[group].c_str() : "";
}

void Mesh::SetUvRange(const UvRangeTest& range) {
    if (vertices_) {
        vertices_->SetFlags(VertexClampU0 | VertexClampV0,
                            (range.uOutside ? 0 : VertexClampU0) |
                                (range.vOutside ? 0 : VertexClampV0));
    }
    if (range.uOutside || range.vOutside) {
        stateFlags_ |= UvOutsideUnitRange;
    }
}

void Mesh::FinishChange() {
    ComputeFaceNormals();
    UpdateBoundingSphere();
    UpdateBoundingBox();
    SendSignal("resourcechanged", this, true);
    stateFlags_ &= ~Changed;
}

void Mesh::ComputeFaceNormals() {
    for (uint32_t t = 0; t < triangles_.size(); ++t) {
        uint32_t corners[3];
        ReadIndices(t, corners);
        const Float3 a = GetPoint(corners[0]);
        Float3 normal = (GetPoint(corners[2]) - a).Cross(GetPoint(corners[1]) - a);
        normal.Normalize();
        triangles_[t].normal = normal;
    }
    stateFlags_ |= FaceNormalsValid;
}

void Mesh::UpdateBoundingSphere() {
    const uint32_t count = GetVertexCount();
    sphereCentre_ = {};
    sphereRadius_ = 0.0f;
    if (count > 0) {
        Float3 sum;
        for (uint32_t i = 0; i < count; ++i) {
            sum = sum + vertices_->GetPosition(i);
        }
        sphereCentre_ = sum / static_cast<float>(count);
        float largest = 0.0f;
        for (uint32_t i = 0; i < count; ++i) {
            largest =
                std::max(largest, (vertices_->GetPosition(i) - sphereCentre_).LengthSquared());
        }
        sphereRadius_ = std::sqrt(largest);
    }
    stateFlags_ |= SphereValid;
}

void Mesh::UpdateBoundingBox() {
    boxMin_ = {FloatMax, FloatMax, FloatMax};
    boxMax_ = {-FloatMax, -FloatMax, -FloatMax};
    for (uint32_t i = 0; i < GetVertexCount(); ++i) {
        const Float3 p = vertices_->GetPosition(i);
        boxMin_ = {std::min(boxMin_.x, p.x), std::min(boxMin_.y, p.y), std::min(boxMin_.z, p.z)};
        boxMax_ = {std::max(boxMax_.x, p.x), std::max(boxMax_.y, p.y), std::max(boxMax_.z, p.z)};
    }
    stateFlags_ |= BoxValid;
}

bool Mesh::ValidateTriangles() const {
    const uint32_t count = GetVertexCount();
    for (uint32_t t = 0; t < triangles_.size(); ++t) {
        uint32_t corners[3];
        ReadIndices(t, corners);
        for (uint32_t index : corners) {
            if (index >= count) {
                ValidityReport("Invalid triangle index: %d=%d", static_cast<int>(t),
                               static_cast<int>(index));
                return false;
            }
        }
    }
    return true;
}

void Mesh::Commit() {
    // Every triangle is checked, changed or not.
    ChargeElementsPassed(triangles_.size());
    if (ValidateTriangles() && (stateFlags_ & Changed)) {
        FinishChange();
    }
}

float Mesh::IntersectRay(const Float3& origin, const Float3& direction, Float3* normal,
                         uint32_t* triangle) const {
    // A pick or a script's ray meets a mesh of a million triangles as a million tests.
    ChargeElementsPassed(triangles_.size());
    float best = FloatMax;
    for (uint32_t t = 0; t < triangles_.size(); ++t) {
        uint32_t corners[3];
        ReadIndices(t, corners);
        bool back = false;
        const float hit = RayTriangleHit(origin, direction, GetPoint(corners[0]),
                                         GetPoint(corners[1]), GetPoint(corners[2]), &back);
        if (hit >= 0.0f && hit < best) {
            best = hit;
            if (normal) {
                *normal = triangles_[t].normal;
            }
            if (triangle) {
                *triangle = t | (back ? BackSideHit : 0);
            }
        }
    }
    return best;
}

bool Mesh::IsConvex() const {
    const uint32_t count = GetVertexCount();
    for (uint32_t t = 0; t < triangles_.size(); ++t) {
        // Flagged triangles (caps, markers) are not planes of the hull.
        if (triangles_[t].flags != 0) {
            continue;
        }
        uint32_t corners[3];
        ReadIndices(t, corners);
        const Float3 a = GetPoint(corners[0]);
        for (uint32_t v = 0; v < count; ++v) {
            if (triangles_[t].normal.Dot(vertices_->GetPosition(v) - a) > 0.0001f) {
                return false;
            }
        }
    }
    return true;
}

ClassInfo* Mesh::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo("Mesh", &Mesh::Create, &classInfo);
    classInfo->SetParent(Resource::RegisterClass());

    classInfo->AddMethod(NextShortName(), "(int,int,int)", BindMethod<&Mesh::ScriptCreate>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&Mesh::Commit>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&Mesh::ScriptGetVertexCount>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&Mesh::ScriptGetTriangleCount>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&Mesh::ScriptGetVertexFormat>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,float3)", BindMethod<&Mesh::SetPoint>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):float3", BindMethod<&Mesh::GetPoint>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,float3)", BindMethod<&Mesh::SetNormal>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):float3", BindMethod<&Mesh::GetNormal>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,float2)", BindMethod<&Mesh::SetUv>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):float2", BindMethod<&Mesh::GetUv>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,int,int,int)", BindMethod<&Mesh::SetTriangle>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):int3", BindMethod<&Mesh::GetTriangle>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,int)", BindMethod<&Mesh::SetTriangleFlags>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):int", BindMethod<&Mesh::GetTriangleFlags>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&Mesh::ScriptGetGroupCount>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):string", BindMethod<&Mesh::GetGroupName>(),
                         MethodScript);
    // The vertex-format bits.
    for (int32_t bit = 0; bit < 12; ++bit) {
        RegisterNamedConstant(NextShortName(), 1 << bit);
    }
    return classInfo;
}

Mesh* GetMesh(const char* path, const char* options) {
    return AcquireResource<Mesh>(path, options);
}

} // namespace quarn
