#pragma once

#include "TestPaths.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "device/GpuRenderDevice.h"
#include "gpu/software/SoftwareDevice.h"
#include "resources/Mesh.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/RecordingValidityHook.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace quarn::test {

// Every triangle's indices in order, flattened.
inline std::vector<int> Indices(const Mesh& mesh) {
    std::vector<int> indices;
    for (uint32_t t = 0; t < mesh.GetTriangleCount(); ++t) {
        const Int3 corners = mesh.GetTriangle(t);
        indices.insert(indices.end(), {corners.x, corners.y, corners.z});
    }
    return indices;
}

inline std::vector<uint32_t> Flags(const Mesh& mesh) {
    std::vector<uint32_t> flags;
    for (uint32_t t = 0; t < mesh.GetTriangleCount(); ++t) {
        flags.push_back(mesh.GetTriangleFlags(t));
    }
    return flags;
}

// Positions only, committed.
inline void Build(Mesh& mesh, const std::vector<Float3>& points, const std::vector<int>& indices) {
    mesh.Create(int32_t(points.size()), int32_t(indices.size() / 3), 1);
    for (uint32_t i = 0; i < points.size(); ++i) {
        mesh.SetPoint(i, points[i]);
    }
    for (uint32_t t = 0; t < indices.size() / 3; ++t) {
        mesh.SetTriangle(t, indices[3 * t], indices[3 * t + 1], indices[3 * t + 2]);
    }
    mesh.Commit();
}

// A unit cube whose faces are wound to face outwards, two triangles each.
inline void BuildCube(Mesh& mesh) {
    std::vector<Float3> corners;
    for (int i = 0; i < 8; ++i) {
        corners.push_back({float(i & 1), float((i >> 1) & 1), float((i >> 2) & 1)});
    }
    Build(mesh, corners, {0, 1, 2, 1, 3, 2, 4, 6, 5, 5, 6, 7, 0, 4, 1, 1, 4, 5,
                          2, 3, 6, 3, 7, 6, 0, 2, 4, 2, 6, 4, 1, 5, 3, 3, 5, 7});
}

// A file of tests/data/meshes.
inline std::string MeshFixture(const std::string& name) {
    std::ifstream file(std::string(QUARN_TEST_DATA "/meshes/") + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Meshes on the software device, their files in memory; reports and log lines are collected.
class MeshTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.Create(0, nullptr, 16, 16)) << device_.GetErrorText();
        Mesh::RegisterClass();
        previous_ = GetFileSystem();
        SetFileSystem(&files_);
    }
    void TearDown() override { SetFileSystem(previous_); }

    // The mesh read from `text` stored as `path`; the caller releases it.
    Mesh* Load(const std::string& path, const std::string& text) {
        files_.Add(path, text);
        return GetMesh(path.c_str(), nullptr);
    }

    // What the last save to `path` wrote; "" when nothing arrived.
    std::string Written(const std::string& path) const {
        const std::string* text = files_.Written(path);
        return text ? *text : std::string();
    }

    GpuRenderDevice device_{&SoftwareDevice::Create};
    MemoryFileSystem files_;
    CapturingLogSink log_;
    RecordingValidityHook reports_;
    FileSystem* previous_ = nullptr;
};

} // namespace quarn::test
