#pragma once

#include "app/ClassRegistration.h"
#include "core/debug/Validity.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "device/GpuRenderDevice.h"
#include "gpu/software/SoftwareDevice.h"
#include "resources/Mesh.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace quarn::fuzz {

inline bool Indices(const Mesh& a, const Mesh& b) {
    if (a.GetTriangleCount() != b.GetTriangleCount()) {
        return false;
    }
    for (uint32_t t = 0; t < a.GetTriangleCount(); ++t) {
        const Int3 x = a.GetTriangle(t);
        const Int3 y = b.GetTriangle(t);
        if (!x.Equals(y) || a.GetTriangleFlags(t) != b.GetTriangleFlags(t)) {
            return false;
        }
    }
    return true;
}

// Loads the bytes as the mesh file `path` names, builds its topology and casts a ray: every
// index must lie within the vertices, which a 16-bit index can address. A mesh that has
// vertices and triangles is saved and read back to the same triangles and flags.
inline void LoadMesh(const char* path, const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) {
        return;
    }
    static GpuRenderDevice device(&SoftwareDevice::Create);
    static const bool created = device.Create(0, nullptr, 16, 16);
    if (!created) {
        std::abort();
    }
    RegisterAllClasses();
    SetValidityHook([](const char*) { return true; });
    MemoryFileSystem files;
    FileSystem* previous = GetFileSystem();
    SetFileSystem(&files);
    files.Add(path, std::string(reinterpret_cast<const char*>(data), size));
    {
        Mesh mesh("", nullptr);
        mesh.LoadFromFile(path);
        if (mesh.GetVertexCount() > Mesh::MaxVertices || !mesh.ValidateTriangles()) {
            std::abort();
        }
        mesh.BuildFaces(0.9999f);
        mesh.IntersectRay({0, 0, -10}, {0, 0, 1}, nullptr, nullptr);
        if (mesh.GetVertexCount() > 0 && mesh.GetTriangleCount() > 0) {
            mesh.SaveToFile("saved.mesh");
            files.Add("saved.mesh", *files.Written("saved.mesh"));
            Mesh back("", nullptr);
            if (!back.LoadFromFile("saved.mesh") || !Indices(mesh, back)) {
                std::abort();
            }
        }
    }
    SetFileSystem(previous);
}

} // namespace quarn::fuzz
